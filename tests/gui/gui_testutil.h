// Helpers of the view, Box, Tools, CTF-align and User menu tests: images made
// from a formula, what the X server holds, captured output, group lookups.
#pragma once

// GoogleTest before Xlib: Xlib defines None.
#include <gtest/gtest.h>
// (keep this order)
#include <X11/Xutil.h>
#include <forms.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/shell/control.h"
#include "gui/shell/registry.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/menus.h"
#include "gui/shell/state.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/hooks.h"
#include "gui/display/mmode.h"
#include "core/prefs.h"
#include "gui/display/datawin.h"
#include "gui/display/mouse.h"
#include "gui/display/xglobals.h"
#include "tests/gui/shell_env.h"

// Keeps the shared state a display test touches (the mouse-mode record, the
// shell hooks, the mouse panel record, the preferences) and puts it back, so
// that the display tests can share a process with a started workbench.
struct SharedStateGuard {
    MouseMode mm = MMode;
    ShellHooks hooks = shellHooks;
    FD_mouse* panel = mpanel;
    std::vector<std::pair<std::string, std::string>> env;
    SharedStateGuard() {
        for (int i = 0; i < envcount(); i++) env.emplace_back(envname(i), envval(i));
    }
    ~SharedStateGuard() {
        MMode = mm;
        shellHooks = hooks;
        mpanel = panel;
        clearenv2();
        for (auto& e : env) setenv2(e.first.c_str(), e.second.c_str());
    }
};

using Ints = std::vector<long>;

// A real nx x ny data set with values f(x, y).
inline MRCData* image(int nx, int ny, const std::function<float(int, int)>& f, const char* name = "img") {
    std::vector<float> v((size_t)nx * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) v[(size_t)y * nx + x] = f(x, y);
    MRCData* d = new MRCData();
    d->setRealData(v.data(), nx, ny, 1);
    d->setName(name);
    return d;
}

// What the server holds in a drawable (a w x h corner, or one pixel).
struct ServerImage {
    XImage* im;
    ServerImage(Drawable d, int w, int h) : im(XGetImage(fl_display, d, 0, 0, w, h, AllPlanes, ZPixmap)) {}
    ~ServerImage() { XDestroyImage(im); }
    unsigned long at(int x, int y) const { return XGetPixel(im, x, y); }
};
inline unsigned long serverPixel(Drawable d, int x, int y) {
    return ServerImage(d, x + 1, y + 1).at(x, y);
}

// What f printed on standard output.
inline std::string said(const std::function<void()>& f) {
    StdoutCapture cap;
    f();
    return cap.take();
}

// A fresh workbench whose current group holds ds, these lines selected.
inline void fresh(const std::vector<MRCData*>& ds, const std::vector<int>& lines = {1}) {
    shell_reset();
    add_to_group(ds);
    select_images(lines);
}

// Data set i of a group (the current one by default), a group by name.
inline MRCData* at(int i, List* g = nullptr) {
    return (MRCData*)objectAt(g ? g : current_group(), i);
}
inline List* group(const char* name) {
    int i = find_group(name);
    return i < 0 ? nullptr : (List*)dataList->objectAt(i);
}

// An event at data point (dx, dy) of a view (the current one by default), at
// its zoom and scroll position; the view's title after it.
inline std::string ev(int dx, int dy, int code, DataWin* v = nullptr) {
    if (!v) v = current_view();
    v->buttonPress((int)(v->zoom * dx) - v->xOrigin, v->yOrigin + v->canvasH - 1 - (int)(v->zoom * dy), code, 0);
    return v->form->datawin->label;
}
// The mouse panel's button of mode m pressed.
inline void mode(int m) {
    mm_Set(mpanel->modeButton[m], m);
}
