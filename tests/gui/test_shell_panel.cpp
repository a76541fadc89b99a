// Control panel: image selection rules, groups, views, zoom and pan, pixel
// size entries, busy nesting, the menus, the Preferences dialog; help mode,
// where presses and keys driven through the real toolkit (synthetic X events)
// leave every kind of control as it was and show its text; start-up: panels,
// first group and view, stored preferences, the visual and the colour-map
// guard.
#include "tests/gui/gui_testutil.h"
// (first: GoogleTest before Xlib)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "gui/display/print.h"
#include "gui/shell/help.h"
#include "gui/shell/startup.h"
#include "gui/shell/viewlink.h"
#include "tests/gui/shell_env.h"
#include "tests/gui/xevents.h"

namespace {
std::vector<int> range(int a, int b) {
    std::vector<int> v;
    for (int i = a; i <= b; i++) v.push_back(i);
    return v;
}
void addImages(std::vector<const char*> names, int n = 16) {
    std::vector<MRCData*> ds;
    for (const char* s : names) ds.push_back(make_data(n, n, s));
    add_to_group(ds);
}
std::vector<MRCData*> g_gone;
}  // namespace

// Every test starts from the start-up state.
class ShellPanel : public testing::Test {
protected:
    void SetUp() override { shell_reset(); }
};
using ShellHelp = ShellPanel;

TEST_F(ShellPanel, ImagesOfAnotherSizeAreDeselected) {
    add_to_group({make_data(64, 64, "a"), make_data(128, 128, "b"), make_data(64, 64, "c")});
    // A release in the image list selects; a press does not.
    fl_select_browser_line(control->images, 2);
    imsel(control->images, FL_PUSH, 0, 0, 0, nullptr);
    EXPECT_EQ(current_view()->data(), nullptr);
    imsel(control->images, FL_RELEASE, 0, 0, 0, nullptr);
    EXPECT_EQ(current_view()->firstdata(), current_group()->objectAt(1));
    select_images({2, 1, 3});  // line 3 (64 x 64) clicked last
    EXPECT_EQ(selected_lines(control->images), (std::vector<int>{1, 3}));
    DataWin* v = current_view();
    ASSERT_EQ(count(v->data()), 2);
    EXPECT_STREQ(((MRCData*)v->data()->objectAt(1))->Name(), "c");
    select_images({1, 3, 2});  // now the 128 x 128 one decides
    EXPECT_EQ(selected_lines(control->images), (std::vector<int>{2}));
    EXPECT_EQ(count(v->data()), 1);
}

TEST_F(ShellPanel, SelectionSetsHistogramGreyLimitsAndScale) {
    MRCData* d = make_data(64, 64, "a");
    add_to_group({d});
    select_images({1});
    double lo, hi;
    fl_get_slider_bounds(control->minGray, &lo, &hi);
    EXPECT_FLOAT_EQ((float)lo, d->Histmin());
    EXPECT_FLOAT_EQ((float)hi, d->Histmax());
    EXPECT_FLOAT_EQ((float)fl_get_slider_value(control->minGray), d->RenMin());
    EXPECT_FLOAT_EQ(current_view()->minGray(), d->RenMin());
    EXPECT_FLOAT_EQ(current_view()->maxGray(), d->RenMax());
    // A range outside the histogram is pulled back to it.
    d->setRenMinMax(d->Histmin() - 100, d->Histmax() + 100);
    select_images({1});
    EXPECT_FLOAT_EQ(d->RenMin(), d->Histmin());
    EXPECT_FLOAT_EQ(d->RenMax(), d->Histmax());
    // The histogram scale: exp((s - 1) 5) of the distances from the mean.
    float mean = d->Mean(), mx = d->Max(), mn = d->Min(), f = std::exp((0.5f - 1) * 5);
    fl_set_slider_value(control->scaleHist, 0.5);
    v_Scalehist(nullptr, 0);
    lo = mean - ((mx - mean) * 0.5f + 0.5f * (mean - mn)) * f, hi = mean + (mx - mean) * f;
    EXPECT_NEAR(d->Histmin(), lo, 1e-3 * (hi - lo));
    EXPECT_NEAR(d->Histmax(), hi, 1e-3 * (hi - lo));
    fl_get_slider_bounds(control->minGray, &lo, &hi);
    EXPECT_NEAR(lo, d->Histmin(), 1e-4);
    EXPECT_NEAR(hi, d->Histmax(), 1e-4);
    float hx[256], hy[256];
    int n = 256;
    fl_get_xyplot_data(control->histPlot, hx, hy, &n);  // point i at lo + i (hi - lo) / 256
    EXPECT_TRUE(n == 256 && std::fabs(hx[0] - lo) < 1e-4 && std::fabs(hx[128] - (lo + hi) / 2) < 1e-3) << hx[0];
}

TEST_F(ShellPanel, NumberButtonPagesThroughTheGroup) {
    addImages(std::vector<const char*>(25, "p"), 8);
    fl_deselect_browser(control->images);
    for (auto want : {range(1, 10), range(11, 20), range(21, 25), range(1, 10)}) {
        sel_Numdo(nullptr, 0);
        EXPECT_EQ(selected_lines(control->images), want);
        EXPECT_EQ(count(current_view()->data()), (int)want.size());
    }
}

// All, None, a second view; DEL forgets the images in every view and tells
// every holder, and so does deleting a group.
TEST_F(ShellPanel, SelectionViewsAndDeletion) {
    add_data_gone_hook([](MRCData* d) { g_gone.push_back(d); });
    addImages({"a", "b", "c"});
    MRCData *a = (MRCData*)current_group()->objectAt(0), *b = (MRCData*)current_group()->objectAt(1),
            *c = (MRCData*)current_group()->objectAt(2);
    sel_All(nullptr, 0);
    EXPECT_EQ(selected_lines(control->images), range(1, 3));
    EXPECT_EQ(count(current_view()->data()), 3);
    sel_None(nullptr, 0);
    EXPECT_TRUE(selected_lines(control->images).empty());
    EXPECT_EQ(current_view()->data(), nullptr);
    select_images({1, 3});
    DataWin* v1 = current_view();
    sel_Addview(nullptr, 0);
    ASSERT_EQ(count(viewList), 2);
    EXPECT_STREQ(fl_get_browser_line(control->views, 2), "2");
    EXPECT_EQ(fl_get_browser(control->views), 2);
    DataWin* v2 = current_view();
    EXPECT_EQ(v2, viewList->objectAt(1));
    select_images({1});  // view 2 shows a, view 1 a and c
    // Back to view 1: the panel shows what it shows; a view that resized
    // becomes the current one.
    fl_select_browser_line(control->views, 1);
    sel_View(nullptr, 0);
    EXPECT_EQ(selected_lines(control->images), (std::vector<int>{1, 3}));
    resize_callback(v2);
    EXPECT_EQ(fl_get_browser(control->views), 2);
    EXPECT_EQ(selected_lines(control->images), std::vector<int>{1});
    fl_select_browser_line(control->views, 1);
    sel_View(nullptr, 0);
    sel_Imdel(nullptr, 0);
    EXPECT_EQ(group_names(current_group()), (std::vector<std::string>{"b"}));
    EXPECT_STREQ(fl_get_browser_line(control->images, 1), "1. b 16x16");
    EXPECT_EQ(b->Seqno(), 1);
    EXPECT_EQ(count(v1->data()) + count(v2->data()), 0);
    EXPECT_EQ(g_gone, (std::vector<MRCData*>{a, c}));
    sel_Addview(nullptr, 0);  // a third view, selected; deleting it selects line 2
    sel_Delview(nullptr, 0);
    EXPECT_EQ(selected_lines(control->views), std::vector<int>{2});
    fl_select_browser_line(control->views, 1);
    sel_Delview(nullptr, 0);  // view 1 goes; the lines stay "1", "2", ...
    EXPECT_EQ((Ints{count(viewList), fl_get_browser_maxline(control->views), fl_get_browser(control->views)}),
              (Ints{1, 1, 1}));
    sel_Delview(nullptr, 0);
    EXPECT_EQ(count(viewList), 1);
    fl_set_input(control->groupName, "");
    sel_Addgr(nullptr, 0);
    sel_Delgr(nullptr, 0);  // deletes "Default" with b in it
    EXPECT_EQ(g_gone, (std::vector<MRCData*>{a, c, b}));
}

TEST_F(ShellPanel, GroupsAddRenameDelete) {
    fl_set_input(control->groupName, "");
    sel_Addgr(nullptr, 0);
    EXPECT_STREQ(fl_get_browser_line(control->groups, 2), "New group");
    EXPECT_EQ(fl_get_browser(control->groups), 1);  // the selection stays
    fl_set_input(control->groupName, "Particles");
    sel_Addgr(nullptr, 0);
    EXPECT_STREQ(fl_get_browser_line(control->groups, 3), "Particles");
    EXPECT_EQ(count(dataList), 3);
    fl_select_browser_line(control->groups, 2);
    sel_Group(nullptr, 0);
    EXPECT_STREQ(fl_get_input(control->groupName), "New group");
    EXPECT_EQ(current_view()->Group(), 2);
    fl_set_input(control->groupName, "Renamed");
    sel_Gtext(nullptr, 0);
    EXPECT_STREQ(fl_get_browser_line(control->groups, 2), "Renamed");
    addImages({"g2"});
    select_images({1});
    // A second view on group 3 (behind the one deleted).
    fl_select_browser_line(control->groups, 3);
    sel_Group(nullptr, 0);
    addImages({"g3"});
    sel_Addview(nullptr, 0);
    select_images({1});
    DataWin* v3 = current_view();
    EXPECT_EQ(v3->Group(), 3);
    fl_select_browser_line(control->groups, 2);
    sel_Delgr(nullptr, 0);
    EXPECT_EQ(count(dataList), 2);
    EXPECT_STREQ(fl_get_browser_line(control->groups, 2), "Particles");
    EXPECT_EQ(fl_get_browser(control->groups), 1);
    // Every view is emptied, and the one on "Particles" still names it.
    for (int i = 0; i < count(viewList); i++) EXPECT_EQ(((DataWin*)viewList->objectAt(i))->data(), nullptr);
    EXPECT_EQ(v3->Group(), 2);
    // The last group cannot be deleted.
    fl_select_browser_line(control->groups, 2);
    sel_Delgr(nullptr, 0);
    fl_select_browser_line(control->groups, 1);
    sel_Delgr(nullptr, 0);
    EXPECT_EQ(count(dataList), 1);
}

TEST_F(ShellPanel, PixelSizeEntriesAndHistogramFiles) {
    addImages({"a", "b"});
    sel_All(nullptr, 0);
    fl_set_input(control->mag, "50");
    fl_set_input(control->scanpix, "25");
    v_Scanpix(nullptr, 0);
    EXPECT_STREQ(fl_get_input(control->scanres), "5.00");
    for (MRCData* d : {(MRCData*)current_group()->objectAt(0), (MRCData*)current_group()->objectAt(1)})
        EXPECT_EQ(std::make_pair(d->Pixres(), d->Mag()), std::make_pair(5.0f, 50.0f));
    fl_set_input(control->mag, "100");
    v_Mag(nullptr, 0);
    EXPECT_STREQ(fl_get_input(control->scanres), "2.50");
    // "Pixel (A)" gives the magnification: 10 x 25 um / 8 A.
    fl_set_input(control->scanres, "8");
    v_Scanres(nullptr, 0);
    EXPECT_EQ(((MRCData*)current_group()->objectAt(0))->Pixres(), 8.0f);
    EXPECT_STREQ(fl_get_input(control->mag), "31.25");
    // One histogram file per selected image, unless the answer does not parse.
    std::string dir = shell_tmpdir();
    dlg_push_text("0, 96, " + dir + "/h");
    v_histfile(nullptr, 0);
    for (const char* n : {"/h.01.dat", "/h.02.dat"}) {
        std::string s = read_file(dir + n);
        EXPECT_EQ(std::count(s.begin(), s.end(), '\n'), 256) << n;
        EXPECT_EQ(s.substr(0, 2), "  ") << n;  // "%4.3g" of 0
    }
    dlg_push_text("not numbers");
    v_histfile(nullptr, 0);
    EXPECT_FALSE(exists(dir + "/not.01.dat"));
}

TEST_F(ShellPanel, HelpModeShowsTextsInsteadOfActing) {
    addImages({"a"});
    select_images({1});
    menu_run("Help", "Help");
    EXPECT_EQ(helpmode, 1);
    ASSERT_NE(helpPanel, nullptr);
    EXPECT_NE(help_text().find("TARVIK V1.47"), std::string::npos);
    sel_Imdel(nullptr, 0);
    EXPECT_EQ(count(current_group()), 1);
    EXPECT_EQ(help_text(), help_wrap("Deletes currently selected images. There is no undo, so be careful."));
    menu_run("File", "Save MRC");  // shows its text, asks nothing
    EXPECT_TRUE(dlg_log().empty());
    EXPECT_NE(help_text().find("Saves all selected data sets as MRC files."), std::string::npos);
    menu_run("File", "Quit");  // Quit in help mode does not quit
    menu_run("Tools", "Preferences");
    EXPECT_NE(help_text().find("Allows you to set a variety"), std::string::npos);
    menu_run("File", "Print");
    EXPECT_EQ(help_text(), help_wrap("Prints whatever is visible in the current view."));
    EXPECT_TRUE(!ppanel || !ppanel->print->visible);
    sel_Addgr(nullptr, 0);
    EXPECT_EQ(count(dataList), 1);
    FD_HELP* first = helpPanel;
    menu_run("Help", "Help");  // twice: one window, text replaced
    EXPECT_EQ(helpPanel, first);
    EXPECT_NE(help_text().find("TARVIK V1.47"), std::string::npos);
    // The window manager's close ends help mode like "Dismiss", and never the program.
    FL_FORM* f = helpPanel->HELP;
    ASSERT_NE(f->close_callback, nullptr);
    EXPECT_EQ(f->close_callback(f, f->close_data), FL_IGNORE);
    for (int i = 0; i < 5 && helpPanel; i++) fl_check_forms();
    EXPECT_EQ(helpPanel, nullptr);
    EXPECT_EQ(helpmode, 0);
    for (FL_FORM* w : {current_view()->form->datawin, mpanel->mouse}) {
        ASSERT_NE(w->close_callback, nullptr);
        EXPECT_EQ(w->close_callback(w, w->close_data), FL_IGNORE);
    }
    EXPECT_EQ(count(viewList), 1);
    sel_Imdel(nullptr, 0);
    EXPECT_EQ(count(current_group()), 0);
    // Nothing selected: the print panel still opens, and closes cleanly.
    menu_run("File", "Print");
    ASSERT_NE(ppanel, nullptr);
    EXPECT_TRUE(ppanel->print->visible);
    print_close(ppanel->cancel, 1);
    EXPECT_EQ(control->control->deactivated, 0);
}

TEST_F(ShellPanel, HelpWrappingAndTheHomePageCommand) {
    EXPECT_EQ(help_wrap("Adds a new (empty) image group."), "Adds a new (empty) image group.");
    // The blank after column 36 turns into a line break.
    EXPECT_EQ(help_wrap("0123456789 0123456789 0123456789 0123456789 x"),
              "0123456789 0123456789 0123456789 0123456789\nx");
    std::string longWord(80, 'w');
    EXPECT_EQ(help_wrap(longWord + " tail"), longWord + "\ntail");
    EXPECT_EQ(help_wrap("short\n" + std::string(30, 'a') + " b"), "short\n" + std::string(30, 'a') + " b");
    std::string url = "http://x/a'b;rm -rf ~";
    std::string c0 = help_browser_commands(url, 0), c2 = help_browser_commands(url, 2);
    EXPECT_NE(c0.find("netscape -remote 'openURL(http://x/a'\\''b;rm -rf ~,new-window)'"), std::string::npos) << c0;
    EXPECT_NE(c2.find("xdg-open 'http://x/a'\\''b;rm -rf ~'"), std::string::npos) << c2;
}

// The nesting itself is a core matter; here the forms follow it.
TEST_F(ShellPanel, BusyNests) {
    busy(1);
    busy(1);
    busy(0);
    EXPECT_GT(control->control->deactivated, 0);
    busy(0);
    EXPECT_EQ(control->control->deactivated, 0);
}

TEST_F(ShellPanel, PreferencesOkAndCancelWriteTheFile) {
    std::string env = std::string(getenv("HOME")) + "/.tvenv";
    unlink(env.c_str());
    dlg_push_form("Cancel", [](FL_FORM*) {});
    menu_run("Tools", "Preferences");
    std::string s = read_file(env);
    for (const char* line : {"chromab\t    5.6\n", "voltage\t    100\n", "fftboxonly\t      0\n"})
        EXPECT_NE(s.find(line), std::string::npos) << s;
    dlg_push_form("OK", [](FL_FORM* f) {
        // The dialog's fields in creation order: five inputs, two check buttons.
        std::vector<FL_OBJECT*> inputs, checks;
        for (FL_OBJECT* o = f->first; o; o = o->next) {
            if (o->objclass == FL_INPUT) inputs.push_back(o);
            if (o->objclass == FL_CHECKBUTTON) checks.push_back(o);
        }
        ASSERT_EQ(inputs.size() * 10 + checks.size(), 52u);
        for (size_t i = 1; i < inputs.size(); i++) EXPECT_GE(inputs[i]->y, inputs[i - 1]->y + inputs[i - 1]->h);
        fl_set_input(inputs[3], " 45");
        fl_set_button(checks[1], 1);
    });
    menu_run("Tools", "Preferences");
    s = read_file(env);
    EXPECT_NE(s.find("mag\t 45\n"), std::string::npos) << s;  // stored as typed
    EXPECT_NE(s.find("privcmap\t1\n"), std::string::npos) << s;
    EXPECT_EQ(dlg_unexpected(), 0);
    EXPECT_EQ(control->control->deactivated, 0);
    setenvf("mag", 30);
    setenvf("privcmap", 0);
}

// Unknown labels and numbers outside a menu do nothing.
TEST_F(ShellPanel, MenusIgnoreWhatTheyDoNotHold) {
    EXPECT_EQ(menu_run("File", "Open Everything"), 0);
    menu_dispatch(file_menu(), (int)file_menu().size() + 1);
    menu_dispatch(file_menu(), 0);
    EXPECT_TRUE(dlg_log().empty());
}

// ---- help mode through the real toolkit

namespace {
FL_OBJECT *g_counter = nullptr, *g_plain = nullptr;

// Every control the help-mode test touches, and what the program took from them.
std::string everything() {
    FD_control* c = control;
    MRCData* d = current_view()->firstdata();
    std::ostringstream s;
    s << fl_get_slider_value(c->maxGray) << " " << fl_get_slider_value(c->zoom) << " "
      << fl_get_slider_value(c->maxHist) << " " << fl_get_positioner_xvalue(c->pan) << ","
      << fl_get_positioner_yvalue(c->pan) << " " << fl_get_input(c->scanres) << " " << (d ? d->Pixres() : 0) << " "
      << testing::PrintToString(selected_lines(c->images)) << fl_get_browser(c->images) << " "
      << testing::PrintToString(selected_lines(c->groups)) << fl_get_browser(c->groups) << " "
      << fl_get_choice(mpanel->liveChoice) << MMode.liveType << " " << MMode.mode << fl_get_button(mpanel->wvlt)
      << MMode.waveletView << " " << fl_get_counter_value(g_counter) << " ";
    for (FL_OBJECT* b : mpanel->modeButton) s << fl_get_button(b);
    return s.str();
}

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

TEST_F(ShellHelp, HelpModeLeavesEveryKindOfControlAsItWas) {
    add_to_group({make_data(600, 500, "a"), make_data(600, 500, "b")});
    add_group("Second");
    select_images({2});
    FL_FORM* later = counterWindow();
    FD_control* c = control;
    FD_mouse* m = mpanel;
    const struct {
        FL_OBJECT* ob;
        double fx, fy;  // where the button goes down, within the object
        unsigned button;
        std::string keys, help;
    } cases[] = {
        {c->maxGray, 0.55, 0.5, Button1, "", "This sets the image density which"},
        {c->zoom, 0.8, 0.5, Button1, "", "Changes the zoom factor for the"},
        {c->maxHist, 0.5, 0.85, Button1, "", "Rescales the y axis of the histogram."},
        {c->pan, 0.6, 0.4, Button1, "", "This allows you to pan the"},
        {c->scanres, 0.5, 0.5, Button1, "7\n", "This is the pixel size of the"},
        // The image list acts through its post-handler: a click on line 1 selects nothing.
        {c->images, 0.3, 0.05, Button1, "", "This is a list of images in the"},
        // Line 2 of the group list (lines are 16 pixels high).
        {c->groups, 0.3, 24.0 / c->groups->h, Button1, "", "This contains a list of groups of"},
        {m->liveChoice, 0.5, 0.5, Button3, "", "Selects what type of plot to do in"},
        {m->modeButton[DRAG], 0.5, 0.5, Button1, "", "Selects 'DRAG' mouse mode for"},
        {m->wvlt, 0.5, 0.5, Button1, "", "This enables wavelet filtering on"},
        {g_counter, 0.05, 0.5, Button1, "", "Counts things."},
    };
    for (auto& k : cases) {
        const std::string before = everything();
        menu_run("Help", "Help");
        click(k.ob, k.fx, k.fy, k.button);
        if (!k.keys.empty()) type(k.ob->form, k.keys);
        EXPECT_EQ(everything(), before) << k.help;
        EXPECT_EQ(help_text().rfind(k.help, 0), 0u) << help_text();
        help_dismiss(nullptr, 0);
        click(k.ob, k.fx, k.fy, k.button);
        if (!k.keys.empty()) type(k.ob->form, k.keys);
        EXPECT_NE(everything(), before) << k.help << ": the same events act outside help mode";
    }
    fl_hide_form(later);
    fl_free_form(later);
    // A window that opens while help mode is on is guarded as well.
    menu_run("Help", "Help");
    later = counterWindow();
    for (int i = 0; i < 40; i++, usleep(10000)) fl_check_forms();
    click(g_counter, 0.05, 0.5);
    EXPECT_EQ(fl_get_counter_value(g_counter), 5);
    EXPECT_EQ(help_text().rfind("Counts things.", 0), 0u);
    click(g_plain, 0.5, 0.5);  // nothing to answer with: it works as ever
    EXPECT_EQ(fl_get_button(g_plain), 1);
    // An input that had the focus before help mode began takes no keys.
    help_dismiss(nullptr, 0);
    const std::string pixel = fl_get_input(control->scanres);
    click(control->scanres, 0.5, 0.5);
    menu_run("Help", "Help");
    type(control->control, "3\n");
    EXPECT_EQ(fl_get_input(control->scanres), pixel);
    EXPECT_EQ(help_text().rfind("This is the pixel size of the", 0), 0u);
    click(helpPanel->dismiss, 0.5, 0.5);  // the help window takes its presses
    EXPECT_EQ(helpmode, 0);
}

// ---- start-up

namespace {
std::string windowName(Window w) {
    char* n = nullptr;
    XFetchName(dpy, w, &n);
    std::string s = n ? n : "";
    if (n) XFree(n);
    return s;
}

// Runs the workbench's start-up in a process of its own with that HOME (the
// test main's --startup-child writes HOME/args.txt); its exit status, 124
// when it did not finish within a minute.
int startInChild(const std::string& home) {
    std::string self = "/proc/" + std::to_string(getpid()) + "/exe";
    int r = std::system(("TARVIK_CHILD_HOME='" + home + "' timeout 60 " + self + " --startup-child").c_str());
    return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

bool serverHasPseudoColor() {
    XVisualInfo vi;
    return XMatchVisualInfo(dpy, DefaultScreen(dpy), 8, PseudoColor, &vi);
}
}  // namespace

TEST(ShellStartup, PanelsGroupFirstViewPreferencesAndVisual) {
    shell_reset();
    ASSERT_EQ(count(viewList), 1);
    DataWin* v = (DataWin*)viewList->objectAt(0);
    EXPECT_TRUE(control->control->visible && mpanel->mouse->visible);
    EXPECT_EQ(windowName(control->control->window) + " " + windowName(mpanel->mouse->window) + " " +
                  windowName(v->formWindow()),
              "Control Mouse Image");
    EXPECT_EQ(std::string(fl_get_browser_line(control->groups, 1)) + " " + fl_get_browser_line(control->views, 1),
              "Default 1");
    EXPECT_EQ((Ints{fl_get_browser_maxline(control->groups), fl_get_browser_maxline(control->views), count(dataList)}),
              (Ints{1, 1, 1}));
    EXPECT_EQ(current_view(), v);
    EXPECT_TRUE(cursors[MOVE] && cursors[BOX] && cursors[BOX] == cursors[CTF] && !cursors[ZAP] && gfont);
    // HOME started empty: the defaults were stored, "UC" counted this start.
    EXPECT_STREQ(getenv2d("privcmap", "absent"), "      0");
    EXPECT_STREQ(getenv2d("UC", "absent"), "      1");
    // The toolkit's arguments follow the server.
    const auto& a = toolkit_args();
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(std::count(a.begin(), a.end(), "-private"), 0);  // fresh server, "privcmap" 0
    if (serverHasPseudoColor()) {
        EXPECT_EQ(std::vector<std::string>(a.begin() + 1, a.end()),
                  (std::vector<std::string>{"-visual", "PseudoColor", "-depth", "8"}));
        EXPECT_EQ(fl_state[fl_vmode].depth, 8);
    } else {
        EXPECT_EQ(std::count(a.begin(), a.end(), "PseudoColor"), 0);
        // The ordinary visual of the server, not a 32-bit ARGB one.
        EXPECT_EQ(fl_state[fl_vmode].depth, DefaultDepth(dpy, DefaultScreen(dpy)));
        EXPECT_EQ(fl_state[fl_vmode].xvinfo->visualid, XVisualIDFromVisual(DefaultVisual(dpy, DefaultScreen(dpy))));
    }
}

// The free-cell count gives every cell back. A second client holds every free
// cell of the default colour map: the plan switches to a private map, and a
// real start-up in its own process finishes.
TEST(ShellStartup, FullColormapDoesNotHang) {
    if (!serverHasPseudoColor() || DefaultDepth(dpy, DefaultScreen(dpy)) != 8)
        GTEST_SKIP() << "needs an 8-bit PseudoColor default visual";
    Display* hog = XOpenDisplay(nullptr);
    ASSERT_NE(hog, nullptr);
    int scr = DefaultScreen(hog);
    Colormap fresh = XCreateColormap(hog, RootWindow(hog, scr), DefaultVisual(hog, scr), AllocNone);
    EXPECT_EQ(count_free_cells(hog, fresh), 256);
    EXPECT_EQ(count_free_cells(hog, fresh), 256);
    XFreeColormap(hog, fresh);
    Colormap cm = DefaultColormap(hog, scr);
    unsigned long px[256];
    int held = 0;
    while (held < 256 && XAllocColorCells(hog, cm, False, nullptr, 0, &px[held], 1)) held++;
    XSync(hog, False);
    Display* probe = XOpenDisplay(nullptr);
    ASSERT_NE(probe, nullptr);
    VisualPlan p = plan_visual(probe, false);
    XCloseDisplay(probe);
    EXPECT_TRUE(p.forcedPrivate);
    EXPECT_EQ(p.freeCells, 0);
    EXPECT_EQ(p.args.back(), "-private");
    std::string home = shell_tmpdir();
    int r = startInChild(home);
    EXPECT_NE(r, 124) << "start-up hung with a full colour map";
    EXPECT_EQ(r, 0);
    std::string args = read_file(home + "/args.txt");
    EXPECT_NE(args.find("-private\n"), std::string::npos) << args;
    EXPECT_NE(args.find("depth 8\n"), std::string::npos) << args;
    if (held) XFreeColors(hog, cm, px, held, 0);
    XCloseDisplay(hog);
}

// "privcmap" 1 in the file: 8-bit servers get "-private", others start on
// their own visual all the same.
TEST(ShellStartup, PrivcmapFromTheFileIsObeyed) {
    std::string home = shell_tmpdir();
    std::ofstream(home + "/.tvenv") << "privcmap\t1\nUC\t      7\n";
    EXPECT_EQ(startInChild(home), 0);
    std::string args = read_file(home + "/args.txt");
    EXPECT_EQ(args.find("-private\n") != std::string::npos, serverHasPseudoColor()) << args;
    int depth = serverHasPseudoColor() ? 8 : DefaultDepth(dpy, DefaultScreen(dpy));
    EXPECT_NE(args.find("depth " + std::to_string(depth) + "\n"), std::string::npos) << args;
}
