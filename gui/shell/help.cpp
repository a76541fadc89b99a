#include "gui/shell/help.h"

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "gui/shell/menus.h"
#include "gui/shell/state.h"
#include "core/fileutil.h"
#include "core/prefs.h"

int helpmode = 0;

namespace {
const char* kHomePage = "https://tarvik.sourceforge.io/";

struct FD_INFO {
    FL_FORM* INFO;
    FL_OBJECT* ok;
}* g_info = nullptr;

std::string g_shown;

// Help mode changes nothing. The toolkit moves a slider, flips a button or
// takes a typed key before the control's callback could answer with its
// text, so in help mode a press on a control, or a key for one, never
// reaches the toolkit: the control only has its callback called, whose
// help_for shows the text. Menus and canvases keep their presses (menu
// entries answer help themselves; views are no controls), and so do objects
// without a callback (a dialog's buttons and inputs work as ever). The guard
// sits on every form on the screen while help mode is on; outside help mode
// it hands each event to the form's own raw callbacks, if any.
struct Chained {
    FL_RAW_CALLBACK push = nullptr, key = nullptr;
};
std::map<FL_FORM*, Chained> g_chained;

bool keepsItsPresses(const FL_OBJECT* o) {
    switch (o->objclass) {
        case FL_MENU:
        case FL_NMENU:
        case FL_MENUBAR:
        case FL_CANVAS:
        case FL_GLCANVAS:
        case FL_IMAGECANVAS:
        case FL_TABFOLDER:
        case FL_FORMBROWSER:
            return true;
    }
    return !o->object_callback && !o->posthandle;
}

// The top-level object under (x, y) that takes events (the last one drawn).
FL_OBJECT* controlAt(FL_FORM* f, int x, int y) {
    FL_OBJECT* hit = nullptr;
    for (FL_OBJECT* o = f->first; o; o = o->next)
        if (!o->parent && o->visible && o->active > 0 && x >= o->x && x < o->x + o->w && y >= o->y && y < o->y + o->h)
            hit = o;
    return hit;
}

// What the control does in help mode: its callback, or for a list that acts
// through its post-handler (the image list), that handler as on a release.
void answerFor(FL_OBJECT* o, XEvent* xe) {
    if (o->object_callback)
        fl_call_object_callback(o);
    else
        o->posthandle(o, FL_RELEASE, xe->xbutton.x, xe->xbutton.y, 0, xe);
}

bool isHelpWindow(FL_FORM* f) {
    return (helpPanel && f == helpPanel->HELP) || (g_info && f == g_info->INFO);
}

int helpGuard(FL_FORM* f, void* ev) {
    XEvent* xe = static_cast<XEvent*>(ev);
    const bool key = xe->type == KeyPress || xe->type == KeyRelease;
    if (helpmode && xe->type == KeyPress) {
        // Keys typed into a window without a focused input (the help window,
        // a view) would land in the input that last had the focus anywhere.
        FL_OBJECT* o = isHelpWindow(f) ? nullptr : f->focusobj;
        if (!o || !keepsItsPresses(o)) {
            if (o) answerFor(o, xe);
            return FL_PREEMPT;
        }
    }
    if (helpmode && xe->type == ButtonPress && !isHelpWindow(f)) {
        FL_OBJECT* o = controlAt(f, xe->xbutton.x, xe->xbutton.y);
        if (o && !keepsItsPresses(o)) {
            answerFor(o, xe);
            return FL_PREEMPT;
        }
    }
    auto c = g_chained.find(f);
    FL_RAW_CALLBACK next = c == g_chained.end() ? nullptr : key ? c->second.key : c->second.push;
    return next ? next(f, ev) : 0;
}

void guardForm(FL_FORM* f) {
    if (!f || (f->push_callback == helpGuard && f->key_callback == helpGuard)) return;
    Chained c;
    if (f->push_callback != helpGuard) c.push = f->push_callback;
    if (f->key_callback != helpGuard) c.key = f->key_callback;
    g_chained[f] = c;
    fl_register_raw_callback(f, ButtonPressMask | KeyPressMask, helpGuard);
}

void guardShownForms() {
    for_each_shown_form(guardForm);
}

// While help mode is on, windows that open later (a view's mouse mode may
// open one) are guarded within a quarter of a second.
int g_tick = 0;
void guardTick(int, void*) {
    g_tick = 0;
    if (!helpmode) return;
    guardShownForms();
    g_tick = fl_add_timeout(250, guardTick, nullptr);
}
}  // namespace

int dohelp() {
    return helpmode;
}

int help_for(const char* text) {
    if (!dohelp()) return 0;
    help(text);
    return 1;
}

std::string help_wrap(const std::string& text) {
    std::string s = text;
    int col = 0;
    for (char& c : s) {
        if (c == ' ' && col > 35) c = '\n';
        if (c == '\n')
            col = 0;
        else
            col++;
    }
    return s;
}

std::string help_text() {
    return helpPanel ? g_shown : std::string();
}

void help(const char* text) {
    std::string copy = text ? text : "";
    if (!helpPanel) {
        FD_HELP* h = (FD_HELP*)std::calloc(1, sizeof(FD_HELP));
        h->HELP = fl_bgn_form(FL_UP_BOX, 320, 260);
        h->text = fl_add_browser(FL_NORMAL_BROWSER, 10, 10, 300, 200, "");
        fl_set_object_gravity(h->text, FL_NorthWest, FL_SouthEast);
        h->dismiss = fl_add_button(FL_NORMAL_BUTTON, 10, 220, 100, 30, "Dismiss");
        fl_set_object_callback(h->dismiss, help_dismiss, 0);
        fl_set_object_gravity(h->dismiss, FL_SouthWest, FL_SouthWest);
        h->info = fl_add_button(FL_NORMAL_BUTTON, 210, 220, 100, 30, "Info");
        fl_set_object_callback(h->info, help_Info, 0);
        fl_set_object_gravity(h->info, FL_SouthEast, FL_SouthEast);
        fl_end_form();
        fl_set_browser_specialkey(h->text, '\x1f');
        // Closed by the window manager: end help mode like "Dismiss" (the
        // toolkit would otherwise end the whole program).
        fl_set_form_atclose(
            h->HELP,
            [](FL_FORM*, void* b) {
                fl_trigger_object((FL_OBJECT*)b);
                return (int)FL_IGNORE;
            },
            h->dismiss);
        fl_set_form_position(h->HELP, 50, 600);
        fl_show_form(h->HELP, FL_PLACE_POSITION | FL_FREE_SIZE, FL_FULLBORDER, "Help - Click on something");
        helpPanel = h;
    }
    g_shown = help_wrap(copy);
    fl_clear_browser(helpPanel->text);
    fl_add_browser_line(helpPanel->text, g_shown.c_str());
    if (helpmode) guardShownForms();  // windows opened since help mode began
}

void help_mode_begin() {
    helpmode = 1;
    guardShownForms();
    if (!g_tick) g_tick = fl_add_timeout(250, guardTick, nullptr);
}

void help_dismiss(FL_OBJECT*, long) {
    if (!helpPanel) return;
    fl_hide_form(helpPanel->HELP);
    fl_free_form(helpPanel->HELP);
    std::free(helpPanel);
    helpPanel = nullptr;
    helpmode = 0;
    g_shown.clear();
    if (g_tick) fl_remove_timeout(g_tick);
    g_tick = 0;
}

void help_Info(FL_OBJECT*, long) {
    if (g_info) return;
    g_info = (FD_INFO*)std::calloc(1, sizeof(FD_INFO));
    g_info->INFO = fl_bgn_form(FL_UP_BOX, 260, 150);
    FL_OBJECT* t = fl_add_text(FL_NORMAL_TEXT, 10, 10, 240, 50, "TARVIK");
    fl_set_object_lsize(t, FL_HUGE_SIZE);
    fl_set_object_lalign(t, FL_ALIGN_CENTER);
    FL_OBJECT* v = fl_add_text(FL_NORMAL_TEXT, 10, 65, 240, 25, "Version 1.47, X11 image workbench");
    fl_set_object_lalign(v, FL_ALIGN_CENTER);
    g_info->ok = fl_add_button(FL_NORMAL_BUTTON, 80, 105, 100, 30, "OK");
    fl_set_object_callback(g_info->ok, info_Bye, 0);
    fl_end_form();
    fl_show_form(g_info->INFO, FL_PLACE_CENTER, FL_FULLBORDER, "Info");
}

void info_Bye(FL_OBJECT*, long) {
    if (!g_info) return;
    fl_hide_form(g_info->INFO);
    fl_free_form(g_info->INFO);
    std::free(g_info);
    g_info = nullptr;
}

std::string help_browser_commands(const std::string& url, int which) {
    switch (which) {
        case 0:
            return "netscape -remote " + shell_quote("openURL(" + url + ",new-window)") + " >/dev/null 2>&1";
        case 1:
            return "command -v netscape >/dev/null 2>&1 && { netscape " + shell_quote(url) + " >/dev/null 2>&1 & }";
        case 2:
            return "xdg-open " + shell_quote(url) + " >/dev/null 2>&1 &";
    }
    return "";
}

// Every entry acts in help mode too: "Help" again replaces the text.
const MenuTable& help_menu() {
    static const MenuTable t = {
        {"Home Page",
         [] {
             std::string url = getenv2d("homepage", kHomePage);
             // The remote-control form first, then a new netscape, then whatever
             // browser the desktop has.
             for (int k = 0; k < 3; k++)
                 if (std::system(help_browser_commands(url, k).c_str()) == 0) break;
         }},
        {"Help",
         [] {
             help_mode_begin();
             help(
                 "TARVIK V1.47\nImage workbench for electron microscopy\nfree software, built with XForms\n\n"
                 "The program is now in help mode. Until you close this window, clicking on just about any object "
                 "will cause help on that object to appear here INSTEAD of doing what it normally does.");
         }},
    };
    return t;
}
