#include "gui/ctf/livec.h"

#include <forms.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gui/shell/cmd_util.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/help.h"
#include "gui/shell/inputs.h"
#include "core/MRCData.h"
#include "gui/display/mmode.h"
#include "core/prefs.h"
#include "ctf/fit.h"
#include "ctf/livecalc.h"
#include "gui/ctf/livec_seed.h"
#include "numeric/fradius.h"

LiveCtfState lcs;
FD_LIVEC* livec = nullptr;
FD_IPARM* iparm = nullptr;

namespace {
const char* kParamHelp =
    "Adjusts the parameters for the CTF. \n\nThe CTF curve consists of the standard sin(gamma) function multiplied by "
    "a generic gaussian envelope. This is mixed with a background curve using sqrt(a^2+b^2). AC is the% amplitude "
    "contrast which mixes sin(gamma) with cos(gamma).";
const char* kFitHelp =
    "This will do a fit to the current data set.\n\nThis will use the current parameters as a starting point, so "
    "they should be at least vaguely correct. Note that, while this will generate a curve that closely matches the "
    "data, that isn't always desirable. The small switch next to each parameter controls whether it is varied in "
    "the fit.";
const char* kMemoryHelp =
    "These buttons act as a memory for the fit parameters.\n\n use the '>>' button to store the current values and "
    "one of the numbers to recall them later.";
const char* kRatioHelp =
    "Shows the data less the background, divided by the CTF term, instead of the data.\n\nWhere the CTF term is "
    "weak the ratio is shown as 1.";
const double kPi = 3.14159265358979323846;

// Storage of the state's arrays: allocated once, kept when the window closes.
std::vector<float> g_ratio, g_fit, g_x;
float g_main[200];                   // the profile as plotted (smoothed or not)
const float* g_plotted = g_main;     // the main curve now in the plot
int g_type = 0;                      // the live plot type of the profile shown
float g_lastScale = 0;               // scale kept between profiles
float g_envelBefore = 1;             // envelope slider before "Envel:" set it to 0
int g_button = 0, g_lastX = -1;      // plot mouse: button held, last pointer x
float g_cornerX = 0, g_cornerY = 0;  // plot mouse: rubber band corner

void showf(FL_OBJECT* ob, const char* fmt, double v) {
    char t[64];
    std::snprintf(t, sizeof t, fmt, v);
    fl_set_input(ob, t);
}

FL_OBJECT* valslider(int x, int y, int w, const char* label, double lo, double hi, double v, int prec) {
    FL_OBJECT* s = fl_add_valslider(FL_HOR_NICE_SLIDER, x, y, w, 20, label);
    fl_set_object_lalign(s, FL_ALIGN_LEFT);
    fl_set_slider_bounds(s, lo, hi);
    fl_set_slider_value(s, v);
    fl_set_slider_precision(s, prec);
    fl_set_object_return(s, FL_RETURN_CHANGED);
    fl_set_object_callback(s, livec_param, 0);
    return s;
}

FL_OBJECT* button(int type, int x, int y, int w, int h, const char* label, FL_CALLBACKPTR cb, long arg) {
    FL_OBJECT* b = fl_add_button(type, x, y, w, h, label);
    fl_set_object_callback(b, cb, arg);
    return b;
}

FL_OBJECT* varySwitch(int x, int y) {
    FL_OBJECT* b = fl_add_checkbutton(FL_PUSH_BUTTON, x, y, 20, 20, "");
    fl_set_object_callback(b, livec_vary, 0);
    return b;
}

FD_LIVEC* create_form_LIVEC() {
    FD_LIVEC* fd = (FD_LIVEC*)fl_calloc(1, sizeof(FD_LIVEC));
    fd->LIVEC = fl_bgn_form(FL_NO_BOX, 630, 420);
    fl_add_box(FL_UP_BOX, 0, 0, 630, 420, "");
    fd->plot = fl_add_xyplot(FL_NORMAL_XYPLOT, 40, 10, 420, 280, "");
    fd->fitOn = fl_add_lightbutton(FL_PUSH_BUTTON, 470, 10, 70, 24, " FIT");
    fl_set_object_callback(fd->fitOn, livec_fit, 0);
    fd->defocus = fl_add_input(FL_NORMAL_INPUT, 530, 40, 62, 22, "Defocus:");
    fl_set_object_callback(fd->defocus, livec_defocus, 0);
    fl_add_text(FL_NORMAL_TEXT, 594, 40, 30, 22, "um");
    // The automatic estimate's astigmatism and resolution, one line under the defocus.
    fd->astig = fl_add_text(FL_NORMAL_TEXT, 462, 63, 166, 17, "");
    fl_set_object_lsize(fd->astig, FL_TINY_SIZE);
    fl_set_object_lalign(fd->astig, FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
    fd->res = fl_add_input(FL_NORMAL_INPUT, 530, 108, 62, 22, "Res:");
    fl_add_text(FL_NORMAL_TEXT, 594, 108, 30, 22, "A");
    fd->scale = fl_add_slider(FL_VERT_NICE_SLIDER, 10, 10, 20, 280, "");
    fl_set_slider_bounds(fd->scale, 1.0, 0.0);
    fl_set_slider_value(fd->scale, 1.0);
    fl_set_object_return(fd->scale, FL_RETURN_CHANGED);
    fl_set_object_callback(fd->scale, livec_Scale, 0);
    // The envelope's range starts at 0: 0 selects the instrument envelope.
    fd->envel = valslider(60, 300, 180, "", 0, 80, 1, 1);
    fd->expSca = valslider(400, 300, 180, "Exp sca:", 0, 3, 0.8157, 2);
    fd->expDk = valslider(400, 325, 180, "Exp dk:", 0, 0.15, 0.03466, 3);
    fd->ctfScale = valslider(60, 325, 180, "Scale:", 0, 6, 0, 2);
    fd->ctfOn = fl_add_lightbutton(FL_PUSH_BUTTON, 545, 10, 55, 24, "CTF");
    fl_set_object_callback(fd->ctfOn, livec_ctf, 0);
    // The label on the left: below, the "Save" row covered it.
    fd->smooth = fl_add_counter(FL_NORMAL_COUNTER, 522, 162, 100, 22, "Smooth");
    fl_set_object_lalign(fd->smooth, FL_ALIGN_LEFT);
    fl_set_object_callback(fd->smooth, livec_counter, 0);
    fd->ac = valslider(60, 350, 180, "AC (%):", 0, 100, 0, 1);
    fd->down = button(FL_NORMAL_BUTTON, 470, 82, 25, 22, "<", livec_arrow, -1);
    fd->up = button(FL_NORMAL_BUTTON, 497, 82, 25, 22, ">", livec_arrow, 1);
    fd->fitBtn = button(FL_NORMAL_BUTTON, 524, 82, 40, 22, "fit", livec_dffit, 0);
    fd->chi = fl_add_input(FL_NORMAL_INPUT, 530, 134, 90, 22, "Chi:");
    fd->gaussA = valslider(60, 375, 180, "Gauss A:", 0, 2, 1.084, 2);
    fd->gaussW = valslider(400, 350, 180, "Gauss W:", 0, 10, 1.57, 2);
    fd->save = button(FL_NORMAL_BUTTON, 470, 190, 48, 22, "Save", livec_save, 0);
    fd->plotBtn = button(FL_NORMAL_BUTTON, 521, 190, 48, 22, "Plot", livec_plot, 0);
    fd->twoD = button(FL_NORMAL_BUTTON, 572, 190, 48, 22, "2-D", livec_2d, 0);
    fl_add_text(FL_NORMAL_TEXT, 470, 214, 100, 16, "Overlay");
    fd->ovFit = button(FL_NORMAL_BUTTON, 470, 232, 45, 22, "Fit", livec_overlay, 1);
    fd->ovData = button(FL_NORMAL_BUTTON, 517, 232, 45, 22, "Data", livec_overlay, 0);
    fd->clear = button(FL_NORMAL_BUTTON, 564, 232, 55, 22, "Clear", livec_clear, 0);
    for (int i = 0; i < 3; i++) {
        char n[2] = {(char)('1' + i), 0};
        fd->store[i] = button(FL_NORMAL_BUTTON, 470 + 52 * i, 260, 26, 22, ">>", livec_store, i + 1);
        fd->recall[i] = button(FL_NORMAL_BUTTON, 496 + 52 * i, 260, 24, 22, n, livec_recall, i + 1);
    }
    // One switch beside each parameter control, in parameter order.
    const int vx[8] = {566, 242, 242, 242, 242, 582, 582, 582};
    const int vy[8] = {83, 300, 325, 350, 375, 350, 300, 325};
    for (int i = 0; i < 8; i++) fd->vary[i] = varySwitch(vx[i], vy[i]);
    fd->ratioOn = fl_add_checkbutton(FL_PUSH_BUTTON, 600, 12, 20, 20, "");
    fl_set_object_callback(fd->ratioOn, livec_ratio, 0);
    fd->envelBtn = button(FL_PUSH_BUTTON, 5, 300, 50, 20, "Envel:", livec_edtl, 0);
    fd->close = button(FL_NORMAL_BUTTON, 545, 388, 75, 24, "Close", livec_closecb, 0);
    fl_end_form();
    fd->LIVEC->fdui = fd;
    return fd;
}

FD_IPARM* create_form_IPARM() {
    FD_IPARM* fd = (FD_IPARM*)fl_calloc(1, sizeof(FD_IPARM));
    fd->IPARM = fl_bgn_form(FL_NO_BOX, 330, 160);
    fl_add_box(FL_UP_BOX, 0, 0, 330, 160, "");
    struct S {
        FL_OBJECT** ob;
        const char* label;
        double hi;
    } s[5] = {{&fd->spatial, "Spatial Coher. (mrad)", 20},
              {&fd->temporal, "Temporal Coher. (eV)", 20},
              {&fd->lens, "Obj Lens Stab. (ppm)", 100},
              {&fd->vert, "Vert Displacement (A)", 500},
              {&fd->hor, "Hor Displacement (A)", 100}};
    for (int i = 0; i < 5; i++) {
        FL_OBJECT* o = fl_add_valslider(FL_HOR_NICE_SLIDER, 150, 8 + 30 * i, 170, 22, s[i].label);
        fl_set_object_lalign(o, FL_ALIGN_LEFT);
        fl_set_slider_bounds(o, 0, s[i].hi);
        fl_set_slider_value(o, 0);
        fl_set_object_return(o, FL_RETURN_CHANGED);
        fl_set_object_callback(o, livec_iparm, 0);
        *s[i].ob = o;
    }
    fl_end_form();
    fd->IPARM->fdui = fd;
    return fd;
}

float sliderv(FL_OBJECT* ob) {
    return (float)fl_get_slider_value(ob);
}

void setYRange() {
    if (!livec) return;
    float v = sliderv(livec->scale);
    fl_set_xyplot_ybounds(livec->plot, lcs.plotMin, lcs.plotMin + (lcs.plotMax - lcs.plotMin) * std::pow(v, 4.0f));
}

void closeIparm() {
    if (!iparm) return;
    fl_hide_form(iparm->IPARM);
    fl_free_form(iparm->IPARM);
    fl_free(iparm);
    iparm = nullptr;
}

// Sliders from a record (the envelope, the background, the scale and AC).
void setSliders(const LC_pstate& r) {
    fl_set_slider_value(livec->envel, r.envelope);
    fl_set_slider_value(livec->expDk, r.expDecay);
    fl_set_slider_value(livec->expSca, r.expScale);
    fl_set_slider_value(livec->gaussW, r.gaussWidth);
    fl_set_slider_value(livec->gaussA, r.gaussAmp);
    fl_set_slider_value(livec->ctfScale, r.ctfScale);
    fl_set_slider_value(livec->ac, 100 * r.ampContrast);
}

void message(const char* text) {
    dlg_message("", text, "");
}
}  // namespace

// ---------------------------------------------------------------- open / close

int livec_is_open() {
    return livec != nullptr;
}

void livec_open() {
    if (!livec) {
        livec = create_form_LIVEC();
        fl_set_counter_bounds(livec->smooth, 0, 12);
        fl_set_counter_precision(livec->smooth, 0);
        fl_set_counter_step(livec->smooth, 1, 1);
        fl_set_counter_value(livec->smooth, 0);
        fl_set_form_position(livec->LIVEC, 50, 500);
        fl_set_button(livec->fitOn, 1);
        fl_set_button(livec->ctfOn, 1);
        for (int i = 0; i < 8; i++) fl_set_button(livec->vary[i], i != 3);
        fl_set_xyplot_maxoverlays(livec->plot, kBandOverlay);
        fl_set_object_posthandler(livec->plot, plotsel);
        fl_set_form_atclose(
            livec->LIVEC,
            [](FL_FORM*, void*) {
                livec_close();
                return (int)FL_IGNORE;
            },
            nullptr);
        fl_show_form(livec->LIVEC, FL_PLACE_POSITION, FL_FULLBORDER, "Live");
    }
    if (g_ratio.empty()) {
        g_ratio.assign(200, 0.0f);
        g_fit.assign(200, 0.0f);
        lcs.ratio = g_ratio.data();
        lcs.fit = g_fit.data();
    }
    lcs.smoothWidth = 0;
    lcs.overlays = kFirstCompareOverlay;
}

void livec_close() {
    if (!livec) return;
    closeIparm();
    fl_hide_form(livec->LIVEC);
    fl_free_form(livec->LIVEC);
    fl_free(livec);
    livec = nullptr;
}

void livec_closecb(FL_OBJECT*, long) {
    if (help_for("Closes the CTF window.")) return;
    livec_close();
}

// ---------------------------------------------------------------- profiles

void view_livecalc(MRCData* d, int x, int y, float freqStep, float defocus) {
    if (!livec || !d || !d->isComplex()) return;
    lcs.defocus = defocus;
    lcs.freqStep = freqStep;
    lcs.data = d;
    if (g_x.empty()) {
        g_x.assign(400, 0.0f);
        lcs.x = g_x.data();
        lcs.y = lcs.x + 200;
    }
    const int t = g_type = MMode.liveType;
    const int N = d->ySize();
    // x counts pairs: on a non-square transform a pair is not a row's step.
    const float xs = fourier_xscale(d->xSize() - 2, N);
    if (t == 0) {
        lcs.markFreq = fourier_radius(x, y - N / 2, xs) * freqStep;
    } else if (t == 1) {
        float a = std::atan2((float)(y - N / 2), x * xs);
        lcs.markFreq = a < 0 ? a + (float)(2 * kPi) : a;
    }
    // A transform with an estimate: its radial average along rings of equal phase.
    float equal[400];
    const float* P = t == 0 && livec_seed_profile(d, equal) ? equal : d->calcDist(t, x, y);
    if (!P) return;
    ProfileFigures f = live_profile_figures(P + 200, &g_lastScale);
    lcs.yMin = f.yMin;
    lcs.yMax = f.yMax;
    lcs.yMaxHigh = f.yMaxHigh;
    lcs.bgScale = f.bgScale;
    lcs.plotMin = lcs.yMin;
    lcs.plotMax = lcs.yMax;
    const float k = (t == 0 || t == 2) ? freqStep : 1.0f;
    for (int i = 0; i < 200; i++) {
        lcs.x[i] = P[i] * k;
        lcs.y[i] = P[200 + i];
    }
    livec_smooth(lcs.smoothWidth);
    livec_set();
    setYRange();
}

void livec_smooth(int n) {
    lcs.smoothWidth = n;
    if (!lcs.x) return;
    if (n < 1) {
        for (int i = 0; i < 200; i++) g_main[i] = lcs.y[i];
        return;
    }
    g_main[0] = lcs.y[0];
    smooth_data(n, 199, lcs.y + 1, g_main + 1);
}

void livec_redisp(MRCData* d) {
    if (!livec || !d || !d->isComplex() || !d->hasPstate()) return;
    const LC_pstate rec = *d->Pstate();
    lcs.data = d;
    setSliders(rec);
    const int N = d->ySize();
    const float step = 1.0f / (d->Pixres() * N);
    view_livecalc(d, (int)(d->Pixres() * rec.markFreq * N), N / 2, step, rec.defocus);
    lcs.defocus = rec.defocus;
    lcs.markFreq = rec.markFreq;
    livec_set();
}

// ---------------------------------------------------------------- the model

void livec_params(float* p) {
    p[0] = lcs.defocus;
    if (!livec) return;
    p[1] = sliderv(livec->envel);
    p[2] = sliderv(livec->ctfScale);
    p[3] = sliderv(livec->ac) / 100;
    p[4] = sliderv(livec->gaussA);
    p[5] = sliderv(livec->gaussW);
    p[6] = sliderv(livec->expSca);
    p[7] = sliderv(livec->expDk);
}

void livec_set_sliders(const LC_pstate& r) {
    if (livec) setSliders(r);
}

CtfInstrument livec_instrument() {
    CtfInstrument in;
    if (!iparm) return in;
    in.open = true;
    in.spatialMrad = sliderv(iparm->spatial);
    in.temporalEv = sliderv(iparm->temporal);
    in.lensPpm = sliderv(iparm->lens);
    in.vertA = sliderv(iparm->vert);
    in.horA = sliderv(iparm->hor);
    return in;
}

int livec_ctf_is_on() {
    return livec && fl_get_button(livec->ctfOn);
}

void livec_ctf_button(int on) {
    if (livec) fl_set_button(livec->ctfOn, on);
}

void livec_calc_ctf(float* p) {
    if (!lcs.x || !lcs.fit) return;
    CtfInstrument in = livec_instrument();
    ctf_display_form(lcs.x, 200, p, ctf_context_prefs(lcs.bgScale), livec_ctf_is_on(), &in, lcs.fit, &lcs.markFreq, &lcs.plotMin,
                     &lcs.plotMax);
}

float livec_chi() {
    return lcs.x ? ctf_chi(lcs.fit, lcs.y) : 0;
}

void livec_set() {
    if (dohelp() || !livec || !lcs.x) return;
    fl_freeze_form(livec->LIVEC);
    float shown[8], p[8];
    livec_params(shown);
    std::copy(shown, shown + 8, p);
    const char* xl = "A";
    const char* yl = lcs.smoothWidth < 1 ? "FFT Inten." : "Fourier Amp";
    g_plotted = g_main;
    if (fl_get_button(livec->ratioOn)) {
        float q[8], bg[200];
        std::copy(shown, shown + 8, q);
        q[2] = 0;
        livec_calc_ctf(q);
        std::copy(lcs.fit, lcs.fit + 200, bg);
        std::copy(shown, shown + 8, q);
        q[4] = q[6] = 0;
        livec_calc_ctf(q);
        live_ratio(lcs.y, bg, lcs.fit, shown[2], lcs.ratio);
        g_plotted = lcs.ratio;
        yl = "Fourier Int.";
    }
    fl_set_xyplot_data(livec->plot, lcs.x, (float*)g_plotted, 200, "", xl, yl);
    if ((g_type == 0 || g_type == 2) && fl_get_button(livec->fitOn)) {
        livec_calc_ctf(p);
        fl_add_xyplot_overlay(livec->plot, kModelOverlay, lcs.x, lcs.fit, 200, FL_YELLOW);
        fl_set_xyplot_overlay_type(livec->plot, kModelOverlay, FL_NORMAL_XYPLOT);
    } else {
        fl_delete_xyplot_overlay(livec->plot, kModelOverlay);
    }
    // The marker after the model: it shows the first zero that "Res:" names.
    float mx = lcs.markFreq, my = 5 * lcs.yMaxHigh;
    fl_add_xyplot_overlay(livec->plot, kMarkerOverlay, &mx, &my, 1, FL_RED);
    fl_set_xyplot_overlay_type(livec->plot, kMarkerOverlay, FL_IMPULSE_XYPLOT);
    showf(livec->defocus, "%4.3f", lcs.defocus);
    showf(livec->res, "%4.2f", lcs.markFreq != 0 ? 1 / lcs.markFreq : 0);
    showf(livec->chi, "%6.6f", livec_chi());
    if (lcs.data) {
        // The controls' values: an envelope of 0 (instrument) stays 0.
        LC_pstate* r = lcs.data->Pstate();
        float* f = &r->defocus;
        std::copy(shown, shown + 8, f);
        r->markFreq = lcs.markFreq;
    }
    fl_redraw_object(livec->plot);
    fl_unfreeze_form(livec->LIVEC);
}

// ---------------------------------------------------------------- callbacks

void livec_fit(FL_OBJECT*, long) {
    if (help_for(kParamHelp)) return;
    livec_set();
}

void livec_param(FL_OBJECT*, long) {
    if (help_for(kParamHelp)) return;
    livec_set();
}

void livec_iparm(FL_OBJECT*, long) {
    if (help_for(kParamHelp)) return;
    livec_set();
}

void livec_Scale(FL_OBJECT*, long) {
    if (help_for("Rescales the CTF plot.")) return;
    setYRange();
}

void livec_defocus(FL_OBJECT* ob, long) {
    if (help_for("Enter a new defocus value here.")) return;
    double v;
    if (!ob || !input_number(ob, "Defocus (um)", between(-100, 100), input_text(lcs.defocus, 3), &v)) return;
    lcs.defocus = (float)v;
    livec_set();
}

void livec_arrow(FL_OBJECT*, long dir) {
    if (help_for(dir > 0 ? "Increases the defocus by 0.5%." : "Decreases the defocus by 0.5%.")) return;
    if (dir > 0)
        lcs.defocus *= 1.005f;
    else
        lcs.defocus /= 1.005f;
    livec_set();
}

void livec_ctf(FL_OBJECT*, long) {
    if (help_for("This toggles the sin(gamma) portion of the fit on and off.")) return;
    livec_set();
}

void livec_counter(FL_OBJECT* ob, long) {
    if (help_for("This smooths the data plot using a truncated gaussian filter of varying width. The smoothing "
                 "algorithm may change in the future."))
        return;
    livec_smooth((int)fl_get_counter_value(ob));
    livec_set();
}

void livec_vary(FL_OBJECT*, long) {
    if (help_for(kFitHelp)) return;
}

void livec_ratio(FL_OBJECT*, long) {
    if (help_for(kRatioHelp)) return;
    livec_set();
}

void livec_dffit(FL_OBJECT*, long) {
    if (help_for(kFitHelp)) return;
    if (!livec || !lcs.x) return;
    BusyScope b;
    float start[8];
    int vary[8];
    livec_params(start);
    for (int i = 0; i < 8; i++) vary[i] = fl_get_button(livec->vary[i]);
    CtfFitResult r = ctf_fit_profile(lcs.x, lcs.y, start, vary, ctf_context_prefs(lcs.bgScale));
    std::fflush(stdout);
    if (r.refused) {
        // The controls still hold the start: nothing to put back.
        livec_set();
        message(r.refused);
        return;
    }
    LC_pstate rec;
    std::copy(r.a, r.a + 8, &rec.defocus);
    setSliders(rec);
    lcs.defocus = r.a[0];
    livec_set();
}

void livec_plot(FL_OBJECT*, long) {
    // Acts in help mode too.
    message("Sorry, not implimented yet");
}

void livec_overlay(FL_OBJECT*, long fit) {
    if (help_for(fit ? "Overlays a copy of the current fit.\n\nUseful for comparison between different fits or data "
                       "sets. The overlay remains until cleared."
                     : "Overlays a copy of the current data plot.\n\nUseful for comparison between different fits or "
                       "data sets. The overlay remains until cleared."))
        return;
    if (!livec || !lcs.x) return;
    // The plot holds a fixed number of overlays; the last one is the zoom band.
    if (lcs.overlays >= kBandOverlay) {
        dlg_message("The plot holds no more overlays.", "Use 'Clear' to remove them.", "");
        return;
    }
    fl_add_xyplot_overlay(livec->plot, lcs.overlays, lcs.x, fit ? lcs.fit : (float*)g_plotted, 200,
                          (FL_COLOR)(lcs.overlays + 1));
    fl_set_xyplot_overlay_type(livec->plot, lcs.overlays, FL_NORMAL_XYPLOT);
    lcs.overlays++;
}

void livec_clear(FL_OBJECT*, long) {
    if (help_for("Clears overlays.\n\nAll previous data or fit overlays are removed.")) return;
    if (!livec) return;
    for (int i = kModelOverlay; i < lcs.overlays; i++) fl_delete_xyplot_overlay(livec->plot, i);
    lcs.overlays = kFirstCompareOverlay;
}

void livec_store(FL_OBJECT*, long slot) {
    if (help_for(kMemoryHelp)) return;
    LC_pstate rec;
    livec_params(&rec.defocus);
    rec.markFreq = lcs.markFreq;
    ctf_memory_store((int)slot, lcs.data && lcs.data->hasPstate() ? lcs.data->Pstate() : &rec);
}

void livec_recall(FL_OBJECT*, long slot) {
    if (help_for(kMemoryHelp)) return;
    if (!livec) return;
    if (lcs.data) {
        ctf_memory_recall((int)slot, lcs.data->Pstate());
        livec_redisp(lcs.data);
        return;
    }
    LC_pstate rec;
    livec_params(&rec.defocus);
    ctf_memory_recall((int)slot, &rec);
    setSliders(rec);
    lcs.defocus = rec.defocus;
    livec_set();
}

void livec_save(FL_OBJECT*, long) {
    if (help_for("Saves a copy of the current data plot and fit plot in your home directory in 'tarvik.dat' and "
                 "'tarvik.fit'."))
        return;
    if (!livec || !lcs.x) return;
    const char* home = std::getenv("HOME");
    std::string dir = home ? home : ".";
    bool fitOn = fl_get_button(livec->fitOn);
    int ok = save_data(lcs.x, g_plotted, 200, (dir + "/tarvik.dat").c_str());
    if (fitOn) ok &= save_data(lcs.x, lcs.fit, 200, (dir + "/tarvik.fit").c_str());
    float p[8], bg[200], snr[200];
    livec_params(p);
    p[2] = 0;
    livec_calc_ctf(p);
    std::copy(lcs.fit, lcs.fit + 200, bg);
    live_snr_table(g_plotted, bg, snr);
    ok &= save_data(lcs.x, snr, 200, (dir + "/tarvik.snr").c_str());
    livec_params(p);
    livec_calc_ctf(p);
    if (!ok) {
        dlg_message("Could not write every file", "in your home directory", "");
        return;
    }
    dlg_message("Data has been saved to tarvik.dat", fitOn ? "and fit data has been saved to tarvik.fit" : "",
                "Both are in your home directory");
}

void livec_edtl(FL_OBJECT* ob, long) {
    // Acts in help mode too.
    if (!livec) return;
    if (ob ? fl_get_button(ob) : !iparm) {
        if (!iparm) {
            iparm = create_form_IPARM();
            fl_set_form_position(iparm->IPARM, 600, 800);
            fl_show_form(iparm->IPARM, FL_PLACE_POSITION, FL_FULLBORDER, "Progress Panel");
        }
        g_envelBefore = sliderv(livec->envel);
        fl_set_slider_value(livec->envel, 0);
    } else {
        closeIparm();
        // Back to the gaussian envelope the user had, unless they moved it.
        if (sliderv(livec->envel) == 0) fl_set_slider_value(livec->envel, g_envelBefore);
    }
    livec_set();
}

// ---------------------------------------------------------------- plot mouse

int plotsel(FL_OBJECT* ob, int event, FL_Coord mx, FL_Coord my, int key, void*) {
    if (!livec) return 0;
    float wx, wy;
    fl_xyplot_s2w(ob, mx, my, &wx, &wy);
    if (event == FL_PUSH) {
        g_button = key;
        g_lastX = -1;
        if (key == FL_MIDDLE_MOUSE) {
            g_cornerX = wx;
            g_cornerY = wy;
        }
    } else if (event == FL_MOUSE) {
        if (g_button == FL_LEFT_MOUSE && mx != g_lastX) {
            g_lastX = mx;
            // No first zero at or below s = 0.
            if (wx > 0) {
                float lambda, Cs;
                ctf_constants(&lambda, &Cs);
                lcs.defocus = ctf_defocus_for_zero(wx, lambda, Cs);
                livec_set();
            }
        } else if (g_button == FL_MIDDLE_MOUSE) {
            float bx[5] = {g_cornerX, wx, wx, g_cornerX, g_cornerX};
            float by[5] = {g_cornerY, g_cornerY, wy, wy, g_cornerY};
            fl_add_xyplot_overlay(ob, kBandOverlay, bx, by, 5, FL_RED);
        }
    } else if (event == FL_RELEASE) {
        if (key == FL_MIDDLE_MOUSE) {
            fl_delete_xyplot_overlay(ob, kBandOverlay);
            if (wx != g_cornerX && wy != g_cornerY) {
                fl_set_xyplot_xbounds(ob, std::min(wx, g_cornerX), std::max(wx, g_cornerX));
                fl_set_xyplot_ybounds(ob, std::min(wy, g_cornerY), std::max(wy, g_cornerY));
            }
        } else if (key == FL_RIGHT_MOUSE) {
            // Equal bounds give the axis back to automatic scaling.
            fl_set_xyplot_xbounds(ob, 0, 0);
            fl_set_xyplot_ybounds(ob, 0, 0);
        }
        g_button = 0;
    }
    return 0;
}
