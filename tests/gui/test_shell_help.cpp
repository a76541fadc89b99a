// Help mode changes nothing: presses and keys driven through the real toolkit
// (synthetic X events) leave every kind of control as it was and show its text;
// the same events outside help mode do change the control.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/control.h"
#include "app/help.h"
#include "app/menus.h"
#include "app/state.h"
#include "core/MRCData.h"
#include "display/datawin.h"
#include "display/mouse.h"
#include "tests/gui/shell_env.h"

namespace {

void deliver(Window w, XEvent& e) {
    XSendEvent(fl_display, w, False, 0, &e);
    XSync(fl_display, False);
    // The toolkit hands on one queued event per check.
    for (int i = 0; i < 8; i++) fl_check_forms();
}

// A press and release of a button at (fx, fy) of the object's box, the pointer
// there too (sliders follow the pointer).
void click(FL_OBJECT* o, double fx, double fy, unsigned button = Button1) {
    Window w = o->form->window;
    int x = o->x + (int)(fx * o->w), y = o->y + (int)(fy * o->h);
    XWarpPointer(fl_display, None, w, 0, 0, 0, 0, x, y);
    for (int type : {ButtonPress, ButtonRelease}) {
        XEvent e{};
        e.type = type;
        e.xbutton.display = fl_display;
        e.xbutton.window = w;
        e.xbutton.root = fl_root;
        e.xbutton.x = x;
        e.xbutton.y = y;
        e.xbutton.button = button;
        e.xbutton.state = type == ButtonRelease ? Button1Mask << (button - 1) : 0;
        e.xbutton.same_screen = True;
        deliver(w, e);
    }
}

// Keys typed into a form's window ('\n' is Return).
void type(FL_FORM* f, const std::string& keys) {
    for (char c : keys) {
        KeySym ks = c == '\n' ? XK_Return : (KeySym)c;
        for (int t : {KeyPress, KeyRelease}) {
            XEvent e{};
            e.type = t;
            e.xkey.display = fl_display;
            e.xkey.window = f->window;
            e.xkey.root = fl_root;
            e.xkey.keycode = XKeysymToKeycode(fl_display, ks);
            e.xkey.same_screen = True;
            deliver(f->window, e);
        }
    }
}

std::string num(double v) {
    char b[64];
    std::snprintf(b, sizeof b, "%.6g", v);
    return b;
}

std::string selectedLines(FL_OBJECT* br) {
    std::string s;
    for (int i = 1; i <= fl_get_browser_maxline(br); i++)
        if (fl_isselected_browser_line(br, i)) s += std::to_string(i) + " ";
    return s + "current " + std::to_string(fl_get_browser(br));
}

// The help text begins so (within the first line: the window breaks lines after column 36).
bool shows(const std::string& start) {
    return help_text().compare(0, start.size(), start) == 0;
}

FL_OBJECT *g_counter = nullptr, *g_plain = nullptr;

// A window opened by some other part of the program, with a counter, and a
// button without a callback as dialogs have.
FL_FORM* counterWindow() {
    FL_FORM* f = fl_bgn_form(FL_UP_BOX, 300, 60);
    g_counter = fl_add_counter(FL_NORMAL_COUNTER, 10, 15, 180, 30, "");
    g_plain = fl_add_button(FL_PUSH_BUTTON, 200, 15, 90, 30, "OK");
    fl_set_counter_value(g_counter, 5);
    fl_set_object_callback(
        g_counter, [](FL_OBJECT*, long) { help_for("Counts things."); }, 0);
    fl_end_form();
    fl_set_form_position(f, 700, 700);
    fl_show_form(f, FL_PLACE_POSITION, FL_FULLBORDER, "Later");
    XSync(fl_display, False);
    for (int i = 0; i < 10; i++) fl_check_forms();
    return f;
}
}  // namespace

TEST(ShellHelp, HelpModeLeavesEveryKindOfControlAsItWas) {
    shell_reset();
    add_to_group({make_data(600, 500, "a"), make_data(600, 500, "b")});
    add_group("Second");
    select_images({2});
    FL_FORM* later = counterWindow();
    FD_control* c = control;
    FD_mouse* m = mpanel;
    struct Case {
        FL_OBJECT* ob;
        double fx, fy;  // where the button goes down, within the object
        unsigned button;
        std::string keys;
        std::function<std::string()> value;
        std::string help;
    };
    auto slider = [](FL_OBJECT* o) { return [o] { return num(fl_get_slider_value(o)); }; };
    const std::vector<Case> cases = {
        {c->maxGray, 0.55, 0.5, Button1, "", slider(c->maxGray), "This sets the image density which"},
        {c->zoom, 0.8, 0.5, Button1, "", slider(c->zoom), "Changes the zoom factor for the"},
        {c->maxHist, 0.5, 0.85, Button1, "", slider(c->maxHist), "Rescales the y axis of the histogram."},
        {c->pan, 0.6, 0.4, Button1, "",
         [c] { return num(fl_get_positioner_xvalue(c->pan)) + "," + num(fl_get_positioner_yvalue(c->pan)); },
         "This allows you to pan the"},
        {c->scanres, 0.5, 0.5, Button1, "7\n",
         [c] { return std::string(fl_get_input(c->scanres)) + " " + num(current_view()->firstdata()->Pixres()); },
         "This is the pixel size of the"},
        // Line 2 of the group list (lines are 16 pixels high).
        {c->groups, 0.3, 24.0 / c->groups->h, Button1, "", [c] { return selectedLines(c->groups); },
         "This contains a list of groups of"},
        {m->liveChoice, 0.5, 0.5, Button3, "",
         [m] { return std::to_string(fl_get_choice(m->liveChoice)) + " " + std::to_string(MMode.liveType); },
         "Selects what type of plot to do in"},
        {m->modeButton[DRAG], 0.5, 0.5, Button1, "",
         [m] {
             std::string s = std::to_string(MMode.mode) + ":";
             for (FL_OBJECT* b : m->modeButton) s += std::to_string(fl_get_button(b));
             return s;
         },
         "Selects 'DRAG' mouse mode for"},
        {m->wvlt, 0.5, 0.5, Button1, "",
         [m] { return std::to_string(fl_get_button(m->wvlt)) + std::to_string(MMode.waveletView); },
         "This enables wavelet filtering on"},
        {g_counter, 0.05, 0.5, Button1, "", [] { return num(fl_get_counter_value(g_counter)); }, "Counts things."},
    };
    for (const Case& k : cases) {
        const std::string before = k.value();
        menu_run("Help", "Help");
        click(k.ob, k.fx, k.fy, k.button);
        if (!k.keys.empty()) type(k.ob->form, k.keys);
        EXPECT_EQ(k.value(), before) << k.help;
        EXPECT_TRUE(shows(k.help)) << help_text();
        help_dismiss(nullptr, 0);
        click(k.ob, k.fx, k.fy, k.button);
        if (!k.keys.empty()) type(k.ob->form, k.keys);
        EXPECT_NE(k.value(), before) << k.help << ": the same events act outside help mode";
    }
    fl_hide_form(later);
    fl_free_form(later);
    // A window that opens while help mode is on is guarded as well.
    menu_run("Help", "Help");
    later = counterWindow();
    for (int i = 0; i < 40; i++, usleep(10000)) fl_check_forms();
    click(g_counter, 0.05, 0.5);
    EXPECT_EQ(fl_get_counter_value(g_counter), 5);
    EXPECT_TRUE(shows("Counts things."));
    click(g_plain, 0.5, 0.5);  // nothing to answer with: it works as ever
    EXPECT_EQ(fl_get_button(g_plain), 1);
}

TEST(ShellHelp, TheImageListAndAnInputThatHadTheFocusStayAsTheyWere) {
    shell_reset();
    add_to_group({make_data(64, 64, "a"), make_data(64, 64, "b")});
    select_images({2});
    const std::string lines = selectedLines(control->images), pixel = fl_get_input(control->scanres);
    click(control->scanres, 0.5, 0.5);  // the focus is in "Pixel (A)" before help mode begins
    menu_run("Help", "Help");
    type(control->control, "3\n");
    EXPECT_EQ(fl_get_input(control->scanres), pixel);
    EXPECT_TRUE(shows("This is the pixel size of the"));
    // The image list acts through its post-handler: a click on line 1 selects nothing.
    click(control->images, 0.3, 0.05);
    EXPECT_EQ(selectedLines(control->images), lines);
    EXPECT_TRUE(shows("This is a list of images in the"));
    click(helpPanel->dismiss, 0.5, 0.5);  // the help window takes its presses
    EXPECT_EQ(helpmode, 0);
    click(control->images, 0.3, 0.05);
    EXPECT_NE(selectedLines(control->images), lines);
}
