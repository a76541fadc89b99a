// Presses and keys sent to the workbench's windows as X events, handled by
// the real toolkit (fl_check_forms), as a user's would be.
#pragma once

// GoogleTest before Xlib: Xlib defines None.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xutil.h>
#include <forms.h>
// clang-format on

#include <string>

inline void deliver(Window w, XEvent& e) {
    XSendEvent(fl_display, w, False, 0, &e);
    XSync(fl_display, False);
    // The toolkit hands on one queued event per check.
    for (int i = 0; i < 8; i++) fl_check_forms();
}

// A press and release of a button at (fx, fy) of the object's box, the pointer
// there too (sliders follow the pointer).
inline void click(FL_OBJECT* o, double fx, double fy, unsigned button = Button1) {
    Window w = o->form->window;
    int x = o->x + (int)(fx * o->w), y = o->y + (int)(fy * o->h);
    XWarpPointer(fl_display, None, w, 0, 0, 0, 0, x, y);
    for (int type : {ButtonPress, ButtonRelease}) {
        XEvent e{};
        e.xbutton = {type, 0, True, fl_display, w, fl_root, 0, 0, x, y, 0, 0, 0, button, True};
        e.xbutton.state = type == ButtonRelease ? Button1Mask << (button - 1) : 0;
        deliver(w, e);
    }
}

// Keys typed into a form's window ('\n' is Return).
inline void type(FL_FORM* f, const std::string& keys) {
    for (char c : keys)
        for (int t : {KeyPress, KeyRelease}) {
            XEvent e{};
            unsigned code = XKeysymToKeycode(fl_display, c == '\n' ? XK_Return : (KeySym)c);
            e.xkey = {t, 0, True, fl_display, f->window, fl_root, 0, 0, 0, 0, 0, 0, 0, code, True};
            deliver(f->window, e);
        }
}
