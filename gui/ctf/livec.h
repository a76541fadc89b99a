// The live CTF window "Live": the radial profile of a transform with the CTF
// model over it, the sliders that move the model, the fit, and the record of
// the parameters kept with the data set.
#pragma once

#include <forms.h>

#include "ctf/model.h"

class MRCData;
class DataWin;

// The window's one working state.
struct LiveCtfState {
    MRCData* data;   // data set whose profile is shown
    float defocus;   // micrometres, shown in "Defocus:"
    float freqStep;  // 1/Angstrom per pixel of radius
    float markFreq;  // marker: clicked radius or angle, or the first zero
    float* ratio;    // [200] ratio plot
    float* fit;      // [200] model values
    float* x;        // [400] abscissae then values of the profile
    float* y;        // x + 200
    float yMin;
    float bgScale;  // the model scale g
    float yMax;
    float yMaxHigh;
    float plotMin, plotMax;
    int smoothWidth;
    int overlays;  // next free comparison overlay, from 3
};
extern LiveCtfState lcs;

// The form "LIVEC", objects in the order of the window.
struct FD_LIVEC {
    FL_FORM* LIVEC;
    void* vdata;
    char* cdata;
    long ldata;
    FL_OBJECT *plot, *fitOn, *defocus, *res, *scale, *envel, *expSca, *expDk, *ctfScale, *ctfOn, *smooth, *ac;
    FL_OBJECT *down, *up, *fitBtn, *chi, *gaussA, *gaussW, *save, *plotBtn, *ovFit, *ovData, *clear;
    FL_OBJECT *store[3], *recall[3], *vary[8], *ratioOn, *envelBtn, *close;
    FL_OBJECT *astig, *twoD;  // the estimate's line under the defocus, the "2-D" button
};
// The instrument envelope panel "IPARM" (window title "Progress Panel").
struct FD_IPARM {
    FL_FORM* IPARM;
    void* vdata;
    char* cdata;
    long ldata;
    FL_OBJECT *spatial, *temporal, *lens, *vert, *hor;
};
extern FD_LIVEC* livec;  // null while the window is closed
extern FD_IPARM* iparm;  // null while the panel is closed

// Plot overlays: the marker, the live model, the comparison overlays from 3
// up to (not including) the rubber band.
enum { kMarkerOverlay = 1, kModelOverlay = 2, kFirstCompareOverlay = 3, kBandOverlay = 30 };

void livec_open();
void livec_close();
int livec_is_open();
// A new profile of d at (x, y) pixels of the transform; nothing while the
// window is closed or for real data.
void view_livecalc(MRCData* d, int x, int y, float freqStep, float defocus);
// Shows d with the parameters of its record.
void livec_redisp(MRCData* d);
// The redisplay after every parameter change.
void livec_set();
// The model for p[0..7] at the window's abscissae into lcs.fit.
void livec_calc_ctf(float* p);
float livec_chi();
void livec_smooth(int n);
// The window's "CTF" toggle (the correction commands switch it).
void livec_ctf_button(int on);
int livec_ctf_is_on();
// The instrument envelope panel's values (open = false when it is closed).
CtfInstrument livec_instrument();
// Parameters 0..7 as the controls show them (defocus from the state).
void livec_params(float* p);
// The sliders from a record (the envelope, the background, the scale and AC).
void livec_set_sliders(const LC_pstate& r);

// Control callbacks.
void livec_fit(FL_OBJECT*, long);
void livec_param(FL_OBJECT*, long);
void livec_Scale(FL_OBJECT*, long);
void livec_defocus(FL_OBJECT*, long);
void livec_arrow(FL_OBJECT*, long dir);
void livec_ctf(FL_OBJECT*, long);
void livec_counter(FL_OBJECT*, long);
void livec_dffit(FL_OBJECT*, long);
void livec_save(FL_OBJECT*, long);
void livec_plot(FL_OBJECT*, long);
void livec_overlay(FL_OBJECT*, long fit);
void livec_clear(FL_OBJECT*, long);
void livec_store(FL_OBJECT*, long slot);
void livec_recall(FL_OBJECT*, long slot);
void livec_vary(FL_OBJECT*, long);
void livec_ratio(FL_OBJECT*, long);
void livec_edtl(FL_OBJECT*, long);
void livec_closecb(FL_OBJECT*, long);
void livec_iparm(FL_OBJECT*, long);
// The plot's mouse handling (a post-handler): left drag puts the first zero
// under the pointer, middle drag zooms into a rectangle, right release unzooms.
int plotsel(FL_OBJECT* ob, int event, FL_Coord mx, FL_Coord my, int key, void* xev);

// The transform (complex data) handlers of the DRAG and CTF mouse modes, the
// CTF-mode hook that opens the window, the sel_Image redisplay and the
// forgetting of destroyed data sets: installed once at start-up.
void install_live_ctf();
int fourier_drag_mode(DataWin* v, int x, int y, int dx, int dy, int code, unsigned long time);
int fourier_ctf_mode(DataWin* v, int x, int y, int dx, int dy, int code, unsigned long time);
