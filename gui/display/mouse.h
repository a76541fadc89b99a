// The mouse panel (window "Mouse"): mode buttons, box size, outline and mark
// styles, live plot type and the wavelet view controls.
#pragma once

#include <forms.h>

struct FD_mouse {
    FL_FORM* mouse;
    void* vdata;
    char* cdata;
    long ldata;
    FL_OBJECT* modeButton[7];  // MOVE DRAG BOX CTF ZAP DB FILA (radio)
    FL_OBJECT* wvlt;           // "WVLT" toggle
    FL_OBJECT* sizeX;          // "Size:"
    FL_OBJECT* sizeY;          // "x"
    FL_OBJECT* boxChoice;      // "Box:"
    FL_OBJECT* markChoice;     // "Mark:"
    FL_OBJECT* liveChoice;     // "Live:"
    FL_OBJECT* level;          // "Level:" input
    FL_OBJECT* basis;          // wavelet basis choice
    FL_OBJECT* slider[10];     // level gain sliders, left to right
    FL_OBJECT* master;         // master gain slider
};

// Defined with the other shared globals; create_mouse_panel sets it.
extern FD_mouse* mpanel;

// Builds the panel, fills it from MMode and the preferences ("DWTbasis",
// "DWTlevel"), records the gain sliders in MMode.levelSlider (entry 0 the
// right-most), and when show is set places it at (570, 40) titled "Mouse".
FD_mouse* create_mouse_panel(int show = 1);

// Panel callbacks.
void mm_Set(FL_OBJECT* ob, long n);
void m_Size(FL_OBJECT* ob, long arg);
void m_Newsize(FL_OBJECT* ob, long arg);
void m_Boxtype(FL_OBJECT* ob, long arg);
void m_Marktype(FL_OBJECT* ob, long arg);
void m_Livetype(FL_OBJECT* ob, long arg);
void new_wavelet(FL_OBJECT* ob, long arg);
void new_wavelet2(FL_OBJECT* ob, long arg);
void new_wavelet3(FL_OBJECT* ob, long arg);
void new_wavelet4(FL_OBJECT* ob, long arg);

// Mode handlers: buttonPress does the moves common to all modes (centre,
// pan, titles of entering and leaving) and hands every other event to the
// handler of the effective mode, one for real data sets and one for
// transforms (complex). (dx, dy) is the pointer in data coordinates.
class DataWin;
using ModeHandler = int (*)(DataWin* v, int x, int y, int dx, int dy, int code, unsigned long time);
void setModeHandler(int mode, ModeHandler h, bool complexData = false);
ModeHandler modeHandler(int mode, bool complexData = false);

// Box sizes typed into the panel are rounded up to a valid FFT size (npfa,
// the default) when "fftboxonly" is 1; null turns the rounding off.
void setBoxSizeRounding(int (*npfa)(int));
