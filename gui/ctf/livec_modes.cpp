// The DRAG and CTF mouse modes on transforms: a ring that reads out the
// resolution and the defocus of a first zero there, and the live profile.
#include <X11/Xlib.h>
#include <forms.h>

#include <cmath>
#include <cstdio>

#include "gui/shell/control.h"
#include "gui/shell/registry.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "gui/display/mmode.h"
#include "gui/ctf/livec.h"
#include "gui/ctf/livec_seed.h"
#include "gui/display/datawin.h"
#include "gui/display/draw.h"
#include "gui/display/mouse.h"
#include "gui/display/xglobals.h"
#include "numeric/fradius.h"

namespace {
// The pointer relative to the transform's centre and what it means.
struct Ring {
    int u, v;       // data pixels from the centre
    float r;        // Fourier radius in y-frequency steps
    float f;        // 1/Angstrom per step
    float defocus;  // puts the first zero at r (0 at the centre)
    int cx, cy;     // the centre on the screen
};

Ring ringAt(DataWin* w, int dx, int dy) {
    Ring g;
    MRCData* d = w->firstdata();
    g.u = dx - w->cellX / 2;
    g.v = dy - w->cellY / 2;
    g.r = fourier_radius(g.u, g.v, fourier_xscale(d->xSize() - 2, d->ySize()));
    g.f = 1.0f / (d->Pixres() * w->cellY);
    float lambda, Cs;
    ctf_constants(&lambda, &Cs);
    float s = g.f * g.r;
    g.defocus = s > 0 ? ctf_defocus_for_zero(s, lambda, Cs) : 0;
    g.cx = (int)(w->zoom * (w->cellX / 2) - w->xOrigin);
    g.cy = (int)(w->yOrigin + w->canvasH - 1 - w->zoom * (w->cellY / 2));
    return g;
}

GC redGC(DataWin* w) {
    XSetForeground(w->xDisplay, w->winGC, fl_get_pixel(FL_RED));
    return w->winGC;
}

float inv(float x) {
    return x != 0 ? 1 / x : 0;
}

void ctfModeOn() {
    DataWin* v = shellHooks.currentView ? shellHooks.currentView() : nullptr;
    MRCData* d = v ? v->firstdata() : nullptr;
    if (d && d->isComplex() && !livec_is_open()) livec_open();
}

void forgetShown(MRCData* d) {
    if (lcs.data == d) lcs.data = nullptr;
}
}  // namespace

int fourier_drag_mode(DataWin* w, int, int, int dx, int dy, int code, unsigned long) {
    if (code != EV_MOVE || !w->canvasWin) return 0;
    Ring g = ringAt(w, dx, dy);
    int R = (int)(w->zoom * g.r);
    w->bandX = (int16_t)(g.cx - R);
    w->bandY = (int16_t)(g.cy - R);
    w->bandW = w->bandH = (int16_t)(2 * R + 1);  // the pixels from cx - R to cx + R
    doBox(w->xDisplay, w->canvasWin, redGC(w), w->bandX, w->bandY, w->bandW, w->bandH);
    float xs = fourier_xscale(w->firstdata()->xSize() - 2, w->firstdata()->ySize());
    char t[160];
    std::snprintf(t, sizeof t, "Image (%d,%d) %4.2fA,%4.2fA %4.2fA %4.3fum", g.u, g.v, inv(g.f * g.u * xs),
                  inv(g.f * g.v), inv(g.f * g.r), g.defocus);
    w->setTitle(t);
    return 1;
}

int fourier_ctf_mode(DataWin* w, int, int, int dx, int dy, int code, unsigned long) {
    if (code != EV_LEFT_DRAG) return 0;
    Ring g = ringAt(w, dx, dy);
    if (w->canvasWin) {
        const float R = w->zoom * g.r;
        const double a = -std::atan2((double)g.v, (double)g.u);
        w->bandX = (int16_t)(g.cx - R);
        w->bandY = (int16_t)(g.cy - R);
        w->bandW = w->bandH = (int16_t)std::max(1.0f, 2 * R);
        Display* x = w->xDisplay;
        Window win = w->canvasWin;
        GC gc = redGC(w);
        auto ray = [&](double ang, float len) {
            XDrawLine(x, win, gc, g.cx, g.cy, g.cx + (int)(len * std::cos(ang)), g.cy + (int)(len * std::sin(ang)));
        };
        auto circle = [&](float rr) {
            int ir = (int)rr;
            XDrawArc(x, win, gc, g.cx - ir, g.cy - ir, 2 * ir, 2 * ir, 0, 360 * 64);
        };
        switch (MMode.liveType) {
            case 0:
                circle(R);
                break;
            case 1:
                ray(a, R);
                break;
            case 2: {
                const double h = 0.1745;
                ray(a - h, R);
                ray(a + h, R);
                // X counts arc angles anticlockwise with y up: the screen angle negated.
                int ir = (int)R;
                XDrawArc(x, win, gc, g.cx - ir, g.cy - ir, 2 * ir, 2 * ir, (int)(-(a + h) * 180 / M_PI * 64),
                         (int)(2 * h * 180 / M_PI * 64));
                break;
            }
            default:
                circle(R + 5 * w->zoom);
                circle(std::max(0.0f, R - 5 * w->zoom));
        }
    }
    // view_livecalc takes the pair column and the row of the transform.
    view_livecalc(w->firstdata(), g.u, dy, g.f, g.r > 0 ? g.defocus : lcs.defocus);
    return 1;
}

void install_live_ctf() {
    setModeHandler(DRAG, fourier_drag_mode, true);
    setModeHandler(CTF, fourier_ctf_mode, true);
    shellHooks.ctfModeOn = ctfModeOn;
    add_data_gone_hook(forgetShown);
    install_live_seed();
}
