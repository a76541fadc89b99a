// One toolkit start per test process, shared by every GUI test file: the
// visual is chosen as the workbench chooses it (8-bit PseudoColor where the
// server has one, else the ordinary depth-24 visual, never a 32-bit ARGB one).
#pragma once

// GoogleTest before Xlib: Xlib defines None.
#include <gtest/gtest.h>
// (keep this order)
#include <X11/Xutil.h>
#include <forms.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "core/mmode.h"
#include "core/prefs.h"
#include "display/mouse.h"
#include "display/xglobals.h"

inline Display* display_for_tests() {
    static bool tried = false;
    if (fl_display || tried) return fl_display;
    tried = true;
    if (!std::getenv("DISPLAY")) return nullptr;
    Display* probe = XOpenDisplay(nullptr);
    if (!probe) return nullptr;
    XVisualInfo vi;
    bool pseudo = XMatchVisualInfo(probe, DefaultScreen(probe), 8, PseudoColor, &vi);
    XCloseDisplay(probe);
    static char a0[] = "tarvik_gui_tests", a1[] = "-visual", a2[] = "PseudoColor", a3[] = "-depth", a4[] = "8",
                a5[] = "24";
    static char* argv8[] = {a0, a1, a2, a3, a4, nullptr};
    static char* argv24[] = {a0, a3, a5, nullptr};
    int argc = pseudo ? 5 : 3;
    setenv("XLIB_SKIP_ARGB_VISUALS", "1", 1);
    return fl_initialize(&argc, pseudo ? argv8 : argv24, "tarvik", nullptr, 0);
}

#define REQUIRE_DISPLAY()                                         \
    do {                                                          \
        if (!display_for_tests()) GTEST_SKIP() << "no X display"; \
    } while (0)

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
