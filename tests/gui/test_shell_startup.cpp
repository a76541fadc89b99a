// Start-up: panels, first group and view, stored preferences, the visual and
// the colour-map guard.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xutil.h>
// clang-format on
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/control.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/viewlink.h"
#include "core/List.h"
#include "core/prefs.h"
#include "tests/gui/shell_env.h"

namespace {
std::string windowName(Window w) {
    char* n = nullptr;
    std::string s;
    if (XFetchName(dpy, w, &n) && n) s = n;
    if (n) XFree(n);
    return s;
}

bool hasArg(const std::vector<std::string>& a, const char* s) {
    return std::find(a.begin(), a.end(), s) != a.end();
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
    EXPECT_TRUE(control->control->visible);
    EXPECT_EQ(windowName(control->control->window), "Control");
    EXPECT_TRUE(mpanel->mouse->visible);
    EXPECT_EQ(windowName(mpanel->mouse->window), "Mouse");
    ASSERT_EQ(count(viewList), 1);
    DataWin* v = (DataWin*)viewList->objectAt(0);
    EXPECT_EQ(windowName(v->formWindow()), "Image");
    EXPECT_EQ(fl_get_browser_maxline(control->groups), 1);
    EXPECT_STREQ(fl_get_browser_line(control->groups, 1), "Default");
    EXPECT_EQ(fl_get_browser_maxline(control->views), 1);
    EXPECT_STREQ(fl_get_browser_line(control->views, 1), "1");
    EXPECT_EQ(current_view(), v);
    EXPECT_EQ(count(dataList), 1);
    EXPECT_NE(cursors[MOVE], 0u);
    EXPECT_NE(cursors[BOX], 0u);
    EXPECT_EQ(cursors[BOX], cursors[CTF]);
    EXPECT_EQ(cursors[ZAP], 0u);
    EXPECT_NE(gfont, 0u);
    // HOME started empty: the defaults were stored, "UC" counted this start.
    EXPECT_STREQ(getenv2d("privcmap", "absent"), "      0");
    EXPECT_STREQ(getenv2d("UC", "absent"), "      1");
    // The toolkit's arguments follow the server.
    const auto& a = toolkit_args();
    ASSERT_FALSE(a.empty());
    EXPECT_FALSE(hasArg(a, "-private"));  // fresh server, "privcmap" 0
    if (serverHasPseudoColor()) {
        EXPECT_EQ(std::vector<std::string>(a.begin() + 1, a.end()),
                  (std::vector<std::string>{"-visual", "PseudoColor", "-depth", "8"}));
        EXPECT_EQ(fl_state[fl_vmode].depth, 8);
    } else {
        EXPECT_FALSE(hasArg(a, "PseudoColor"));
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
    XVisualInfo vi;
    ASSERT_TRUE(XMatchVisualInfo(hog, DefaultScreen(hog), 8, PseudoColor, &vi));
    Colormap fresh = XCreateColormap(hog, RootWindow(hog, DefaultScreen(hog)), vi.visual, AllocNone);
    EXPECT_EQ(count_free_cells(hog, fresh), 256);
    EXPECT_EQ(count_free_cells(hog, fresh), 256);
    XFreeColormap(hog, fresh);
    Colormap cm = DefaultColormap(hog, DefaultScreen(hog));
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
