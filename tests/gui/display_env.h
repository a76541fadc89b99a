// Shared state of the display tests. The toolkit is started once per test
// process by the test main (tests/gui/shell_main.cpp), as the workbench starts it.
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
