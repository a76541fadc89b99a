// Start-up: panels, first group and view, stored preferences, the visual and
// the colour-map guard.
#include <gtest/gtest.h>
// clang-format off
#include <X11/Xutil.h>
// clang-format on
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "app/control.h"
#include "app/startup.h"
#include "app/state.h"
#include "app/viewlink.h"
#include "core/List.h"
#include "core/prefs.h"
#include "tests/gui/shell_env.h"

extern char** environ;

namespace {
std::string windowName(Window w) {
    char* n = nullptr;
    std::string s;
    if (XFetchName(dpy, w, &n) && n) {
        s = n;
        XFree(n);
    }
    return s;
}

bool hasArg(const std::vector<std::string>& a, const char* s) {
    return std::find(a.begin(), a.end(), s) != a.end();
}

// Runs the workbench's start-up in a child process with that HOME; the exit
// status, or -1 when it did not finish within a minute.
int startInChild(const std::string& home) {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return -2;
    self[n] = 0;
    char arg1[] = "--startup-child";
    char* av[] = {self, arg1, nullptr};
    std::vector<std::string> envs;
    for (char** e = environ; *e; e++)
        if (std::strncmp(*e, "TARVIK_CHILD_HOME=", 18) != 0) envs.push_back(*e);
    envs.push_back("TARVIK_CHILD_HOME=" + home);
    std::vector<char*> ev;
    for (auto& e : envs) ev.push_back(&e[0]);
    ev.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, self, nullptr, nullptr, av, ev.data()) != 0) return -2;
    int status = 0;
    for (int i = 0; i < 600; i++) {
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -3;
        usleep(100000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

bool serverHasPseudoColor() {
    XVisualInfo vi;
    return XMatchVisualInfo(dpy, DefaultScreen(dpy), 8, PseudoColor, &vi);
}
}  // namespace

TEST(ShellStartup, PanelsGroupAndFirstView) {
    shell_reset();
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(control->control->visible);
    EXPECT_EQ(windowName(control->control->window), "Control");
    ASSERT_NE(mpanel, nullptr);
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
}

TEST(ShellStartup, PrivcmapAndUseCounterStored) {
    // HOME started empty: the defaults were stored, "UC" counted this start.
    ASSERT_NE(getenv2("privcmap"), nullptr);
    EXPECT_STREQ(getenv2("privcmap"), "      0");
    ASSERT_NE(getenv2("UC"), nullptr);
    EXPECT_STREQ(getenv2("UC"), "      1");
}

TEST(ShellStartup, ToolkitArgumentsFollowTheServer) {
    const auto& a = toolkit_args();
    ASSERT_FALSE(a.empty());
    if (serverHasPseudoColor()) {
        ASSERT_GE(a.size(), 5u);
        EXPECT_EQ(a[1], "-visual");
        EXPECT_EQ(a[2], "PseudoColor");
        EXPECT_EQ(a[3], "-depth");
        EXPECT_EQ(a[4], "8");
        EXPECT_FALSE(hasArg(a, "-private"));  // fresh server, "privcmap" 0
        EXPECT_EQ(fl_state[fl_vmode].depth, 8);
    } else {
        EXPECT_FALSE(hasArg(a, "PseudoColor"));
        EXPECT_FALSE(hasArg(a, "-private"));
        // The ordinary visual of the server, not a 32-bit ARGB one.
        EXPECT_EQ(fl_state[fl_vmode].depth, DefaultDepth(dpy, DefaultScreen(dpy)));
        EXPECT_EQ(fl_state[fl_vmode].xvinfo->visualid, XVisualIDFromVisual(DefaultVisual(dpy, DefaultScreen(dpy))));
    }
}

TEST(ShellStartup, PrivatePreferenceAddsPrivate) {
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    VisualPlan on = plan_visual(d, true), off = plan_visual(d, false);
    if (on.pseudoColor) {
        EXPECT_EQ(on.args.back(), "-private");
        EXPECT_EQ(on.args.size(), 5u);
        // The workbench itself has taken the cells by now, so without the
        // preference the plan goes private only because the map is full.
        EXPECT_EQ(off.args.size() == 5u, off.forcedPrivate);
    } else {
        EXPECT_FALSE(hasArg(on.args, "-private"));
        EXPECT_EQ(on.args, off.args);
    }
    XCloseDisplay(d);
}

// A second client holds every free cell of the default colour map: the plan
// switches to a private map, and a real start-up in its own process finishes.
TEST(ShellStartup, FullColormapDoesNotHang) {
    if (!serverHasPseudoColor() || DefaultDepth(dpy, DefaultScreen(dpy)) != 8)
        GTEST_SKIP() << "needs an 8-bit PseudoColor default visual";
    Display* hog = XOpenDisplay(nullptr);
    ASSERT_NE(hog, nullptr);
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
    EXPECT_NE(r, -1) << "start-up hung with a full colour map";
    EXPECT_EQ(r, 0);
    std::string args = read_file(home + "/args.txt");
    EXPECT_NE(args.find("-private\n"), std::string::npos) << args;
    EXPECT_NE(args.find("depth 8\n"), std::string::npos) << args;
    if (held) XFreeColors(hog, cm, px, held, 0);
    XCloseDisplay(hog);
}

TEST(ShellStartup, FreeCellCountGivesCellsBack) {
    Display* d = XOpenDisplay(nullptr);
    ASSERT_NE(d, nullptr);
    if (DefaultDepth(d, DefaultScreen(d)) != 8) {
        XCloseDisplay(d);
        GTEST_SKIP() << "true-colour server: no cells to count";
    }
    XVisualInfo vi;
    ASSERT_TRUE(XMatchVisualInfo(d, DefaultScreen(d), 8, PseudoColor, &vi));
    Colormap cm = XCreateColormap(d, RootWindow(d, DefaultScreen(d)), vi.visual, AllocNone);
    int a = count_free_cells(d, cm), b = count_free_cells(d, cm);
    EXPECT_EQ(a, 256);
    EXPECT_EQ(b, 256);  // the count gave every cell back
    XFreeColormap(d, cm);
    XCloseDisplay(d);
}

// "privcmap" 1 in the file: 8-bit servers get "-private", others start on
// their own visual all the same.
TEST(ShellStartup, PrivcmapFromTheFileIsObeyed) {
    std::string home = shell_tmpdir();
    {
        FILE* f = std::fopen((home + "/.tvenv").c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "privcmap\t1\nUC\t      7\n");
        std::fclose(f);
    }
    EXPECT_EQ(startInChild(home), 0);
    std::string args = read_file(home + "/args.txt");
    if (serverHasPseudoColor())
        EXPECT_NE(args.find("-private\n"), std::string::npos) << args;
    else
        EXPECT_EQ(args.find("-private"), std::string::npos) << args;
    char depth[32];
    std::snprintf(depth, sizeof depth, "depth %d\n",
                  serverHasPseudoColor() ? 8 : DefaultDepth(dpy, DefaultScreen(dpy)));
    EXPECT_NE(args.find(depth), std::string::npos) << args;
}
