#include "gui/shell/state.h"

#include <X11/cursorfont.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "gui/shell/control.h"
#include "core/hooks.h"

Display* dpy = nullptr;
FD_control* control = nullptr;
FD_mouse* mpanel = nullptr;
FD_HELP* helpPanel = nullptr;
List* dataList = nullptr;
List* viewList = nullptr;
Cursor cursors[10] = {};
Font gfont = 0;

namespace {
// Our forms among the windows below w: top-level, or inside a window
// manager's frames.
void formsBelow(Display* d, Window w, int depth, void (*f)(FL_FORM*)) {
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, w, &root, &parent, &kids, &n)) return;
    for (unsigned i = 0; i < n; i++) {
        if (FL_FORM* form = fl_win_to_form(kids[i]))
            f(form);
        else if (depth < 2)
            formsBelow(d, kids[i], depth + 1, f);
    }
    if (kids) XFree(kids);
}
}  // namespace

void for_each_shown_form(void (*f)(FL_FORM*)) {
    if (fl_display) formsBelow(fl_display, fl_root, 0, f);
}

void gui_deactivate_all() {
    fl_deactivate_all_forms();
}
void gui_activate_all() {
    fl_activate_all_forms();
}

namespace {

Cursor g_watch = 0;

void busy_on() {
    if (!dpy) return;
    gui_deactivate_all();
    if (control && control->control->window) {
        if (!g_watch) g_watch = XCreateFontCursor(dpy, XC_watch);
        XDefineCursor(dpy, control->control->window, g_watch);
    }
    XFlush(dpy);
}

void busy_off() {
    if (!dpy) return;
    gui_activate_all();
    if (control && control->control->window) XUndefineCursor(dpy, control->control->window);
    XFlush(dpy);
}

// Progress panel: appears once an operation has run for 2 seconds, then is
// refreshed at most once a second (always at the end).
struct Progress {
    FL_FORM* form = nullptr;
    FL_OBJECT* slider = nullptr;
    FL_OBJECT* text = nullptr;
} g_prog;
time_t g_progT = 0;
const char* g_progL = nullptr;
std::string g_progShown;  // text in the field; a refresh skipped by the 1 s rule must not lose a change

void progress(int cur, int max, const char* text) {
    if (!dpy) return;
    time_t now = std::time(nullptr);
    if (cur == -1) {
        if (g_prog.form) {
            if (g_prog.form->visible) fl_hide_form(g_prog.form);
            fl_free_form(g_prog.form);
            g_prog = Progress();
        }
        g_progT = 0;
        g_progL = nullptr;
        g_progShown.clear();
        return;
    }
    if (!g_prog.form) {
        if (g_progT == 0) g_progT = now;
        if (now - g_progT < 2) return;
        g_prog.form = fl_bgn_form(FL_UP_BOX, 320, 90);
        g_prog.slider = fl_add_slider(FL_HOR_FILL_SLIDER, 20, 15, 280, 25, "megs");
        g_prog.text = fl_add_text(FL_NORMAL_TEXT, 20, 55, 280, 25, "");
        fl_end_form();
        fl_set_slider_bounds(g_prog.slider, 0, max / 1000000.0);
        g_progShown = text ? text : "";
        fl_set_object_label(g_prog.text, g_progShown.c_str());
        fl_show_form(g_prog.form, FL_PLACE_CENTER, FL_FULLBORDER, "Progress Panel");
        XFlush(dpy);
        g_progT = now;
        g_progL = text;
        return;
    }
    if (now - g_progT < 1 && cur != max) {
        g_progL = text;
        return;
    }
    if (g_progShown != (text ? text : "")) {
        g_progShown = text ? text : "";
        fl_set_object_label(g_prog.text, g_progShown.c_str());
    }
    fl_set_slider_value(g_prog.slider, cur / 1000000.0);
    XFlush(dpy);
    g_progT = now;
    g_progL = text;
}

}  // namespace

void install_ui_hooks() {
    UiHooks h;
    h.busy_on = busy_on;
    h.busy_off = busy_off;
    h.progress = progress;
    set_ui_hooks(h);
}
