// Micrograph sets in the workbench: opening, moving through the set with the
// view's settings kept, picks on disk within a second (also after a kill),
// CTF lines arriving while the GUI keeps answering, reject and export, bad
// lines, the Page keys, and the memory a set holds.
#include "tests/gui/gui_testutil.h"
// (first: GoogleTest before Xlib)
#include <X11/keysym.h>
#include <malloc.h>
#ifdef __SANITIZE_ADDRESS__
extern "C" size_t __sanitizer_get_current_allocated_bytes();  // the sanitizer's allocator
#endif
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

#include "core/micset.h"
#include "core/workq.h"
#include "core/picks.h"
#include "ctf/report.h"
#include "gui/display/colormap.h"
#include "gui/sets/sets.h"
#include "gui/shell/autopick_panel.h"
#include "pick/autopick.h"
#include "tests/core/ctf_synth.h"
#include "tests/core/pick_synth.h"

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double threadCpu() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + 1e-9 * t.tv_nsec;
}

// Runs the event loop until done() or the time is up; whether done() held.
bool pump(const std::function<bool()>& done, double seconds) {
    const double end = now() + seconds;
    while (!done()) {
        if (now() > end) return false;
        fl_check_forms();
        usleep(2000);
    }
    return true;
}

// n synthetic micrographs of size x size in DIR/mics (underfocus 1.0, 1.4,
// 1.8 ... micrometres at 300 kV, Cs 2.7, 1.5 A), named mic000.mrc ...
std::string micrographs(int n, int size, const std::string& dir) {
    const std::string m = dir + "/mics";
    mkdir(m.c_str(), 0777);
    for (int i = 0; i < n; i++) {
        SynthCtf c;
        c.nx = c.ny = size;
        c.defocus = 1.0f + 0.4f * i;
        c.astig = 0.1f;
        c.angle = 30;
        c.seed = i + 1;
        char name[64];
        std::snprintf(name, sizeof name, "/mic%03d.mrc", i);
        EXPECT_TRUE(synth_write_mrc(m + name, synth_micrograph(c), size, size, size, 1.5f));
    }
    return m;
}

// A workbench with no set open and the microscope of the micrographs.
struct Bench {
    SharedStateGuard keep;
    std::string dir;
    Bench() {
        set_close();
        shell_reset();
        dir = shell_tmpdir();
        setenvf("voltage", 300);
        setenvf("spherab", 2.7f);
        MMode.mode = MOVE;
    }
    ~Bench() {
        set_close();
        shell_reset();
    }
};

// What the user sees of the Micrographs window: its list lines.
FL_FORM* setWindow() {
    static FL_FORM* found;
    found = nullptr;
    for_each_shown_form([](FL_FORM* f) {
        if (f->label && std::string(f->label) == "Micrographs") found = f;
    });
    return found;
}
std::vector<std::string> listLines() {
    std::vector<std::string> out;
    FL_FORM* f = setWindow();
    if (!f) return out;
    for (FL_OBJECT* o = f->first; o; o = o->next)
        if (o->objclass == FL_BROWSER)
            for (int k = 1; k <= fl_get_browser_maxline(o); k++) out.push_back(fl_get_browser_line(o, k));
    return out;
}
// The status column of a line, and whether its defocus column is filled.
std::string statusOf(const std::string& line) {
    return line.size() > 60 ? line.substr(60) : "";
}
bool hasDefocus(const std::string& line) {
    return line.size() > 44 && line.substr(36, 8).find_first_of("0123456789") != std::string::npos;
}

// The centres of a coordinate file, "x,y" each, or "unreadable".
std::vector<std::string> centres(const std::string& file) {
    std::vector<PickCentre> c;
    std::vector<std::string> out;
    if (!readStarCentres(file.c_str(), &c)) return {"unreadable"};
    for (auto& p : c) out.push_back(std::to_string((int)p.x) + "," + std::to_string((int)p.y));
    return out;
}
std::vector<std::string> boxCentres(MRCData* d) {
    std::vector<std::string> out;
    for (int k = 0; d && k < d->nBoxes(); k++) {
        const BoxRecord& b = d->Boxes()[k];
        out.push_back(std::to_string(b.x + b.xsize / 2) + "," + std::to_string(b.y + b.ysize / 2));
    }
    return out;
}

// The first n characters of what relion_star_printtable prints, when RELION is installed.
void expectRelion(const std::string& file, const std::string& args, const std::string& dir, const std::string& want,
                  size_t n = std::string::npos) {
    if (std::system("command -v relion_star_printtable >/dev/null 2>&1") != 0) return;
    ASSERT_EQ(std::system(("relion_star_printtable '" + file + "' " + args + " > '" + dir + "/rel.txt' 2>&1").c_str()),
              0);
    EXPECT_EQ(read_file(dir + "/rel.txt").substr(0, n), want);
}

std::string imageLine() {
    const char* l = fl_get_browser_line(control->images, 1);
    return l ? l : "";
}

void drained() {
    pump([] { return set_drain() == 0 && set_drain() == 0; }, 5);
}

}  // namespace

TEST(Sets, OpensByFolderPatternAndStarFileAndShowsTheFirst) {
    Bench b;
    const std::string m = micrographs(3, 256, b.dir);
    std::ofstream(b.dir + "/list.star") << "data_micrographs\nloop_\n_rlnMicrographName\n"
                                        << m << "/mic002.mrc\n"
                                        << m << "/mic000.mrc\n";
    struct Case {
        std::string what;
        int lines;
        const char* first;
    } cases[] = {{m, 3, "1. mic000.mrc 256x256"},
                 {m + "/mic00[12].mrc", 2, "1. mic001.mrc 256x256"},
                 {b.dir + "/list.star", 2, "1. mic002.mrc 256x256"}};
    for (const Case& c : cases) {
        ASSERT_EQ(set_open(c.what), 1) << c.what;
        const std::vector<std::string> lines = listLines();
        ASSERT_EQ((int)lines.size(), c.lines) << c.what;
        for (const std::string& l : lines) EXPECT_EQ(statusOf(l), "kept") << l;
        // The first micrograph is shown in the current view, alone in "Micrographs".
        EXPECT_EQ(imageLine(), c.first) << c.what;
        EXPECT_STREQ(fl_get_browser_line(control->groups, current_group_number()), "Micrographs");
        EXPECT_EQ(current_view()->firstdata(), set_shown_data());
        EXPECT_EQ(count(current_group()), 1);
    }
    // Through the menu: a micrograph chosen stands for its folder.
    set_close();
    dlg_push_files({m + "/mic001.mrc"});
    menu_run("File", "Open Micrograph Set...");
    EXPECT_EQ(listLines().size(), 3u);
}

TEST(Sets, NextAndPreviousAndThePageKeysKeepTheViewsSettingsAndBoxes) {
    Bench b;
    const std::string m = micrographs(3, 256, b.dir);
    set_open(m);
    DataWin* v = current_view();
    v_Zoom(nullptr, 2);     // 1/2x
    v_Invert(nullptr, 0);   // white = low
    MMode.waveletView = 1;  // the filtered display
    MRCData* d0 = set_shown_data();
    // Limits at mean - 1 sigma and mean + 2 sigma of this micrograph.
    fl_set_slider_value(control->minGray, d0->Mean() - d0->Sigma());
    fl_set_slider_value(control->maxGray, d0->Mean() + 2 * d0->Sigma());
    v_Mingray(nullptr, 0);
    mode(BOX);
    MMode.boxX = MMode.boxY = 32;
    ev(100, 60, EV_LEFT_PRESS);
    ev(30, 200, EV_LEFT_PRESS);
    const int cmap = MMode.cmapMode;
    v->display();
    ServerImage first(v->pixmapId(), v->canvasWidth(), v->canvasHeight());

    ASSERT_EQ(set_next(), 1);
    MRCData* d1 = set_shown_data();
    EXPECT_EQ(imageLine(), "1. mic001.mrc 256x256");
    EXPECT_EQ(v->getZoom(), 0.5f);
    EXPECT_EQ(MMode.cmapMode, cmap);
    EXPECT_EQ(MMode.waveletView, 1);
    EXPECT_NEAR(v->minGray(), d1->Mean() - d1->Sigma(), 1e-3 * d1->Sigma());
    EXPECT_NEAR(v->maxGray(), d1->Mean() + 2 * d1->Sigma(), 1e-3 * d1->Sigma());
    EXPECT_NEAR(fl_get_slider_value(control->minGray), d1->Mean() - d1->Sigma(), 1e-3 * d1->Sigma());
    EXPECT_TRUE(boxCentres(d1).empty());
    auto changed = [&](const ServerImage& a) {
        ServerImage b(v->pixmapId(), v->canvasWidth(), v->canvasHeight());
        int n = 0;
        for (int y = 0; y < v->canvasHeight(); y++)
            for (int x = 0; x < v->canvasWidth(); x++) n += a.at(x, y) != b.at(x, y);
        return n;
    };
    EXPECT_GT(changed(first), 1000);

    // Back: the same picture, boxes and all.
    ASSERT_EQ(set_prev(), 1);
    EXPECT_EQ(imageLine(), "1. mic000.mrc 256x256");
    EXPECT_EQ(boxCentres(set_shown_data()), (std::vector<std::string>{"100,60", "30,200"}));
    v->display();
    // (The limits come back through their place in the spread: a pixel on the
    // edge of a grey level may round the other way.)
    EXPECT_LE(changed(first), 20);
    EXPECT_EQ(set_prev(), 0);  // nothing before the first
    // Page Down and Page Up from any window.
    const std::pair<Window, KeySym> keys[] = {{control->control->window, XK_Page_Down},
                                              {current_view()->formWindow(), XK_Page_Down},
                                              {setWindow()->window, XK_Page_Up},
                                              {mpanel->mouse->window, XK_Page_Up}};
    int want = 0;
    for (auto [w, k] : keys) {
        XEvent e = {};
        e.xkey = {KeyPress, 0, True, fl_display, w, fl_root, 0, 0, 0, 0, 0, 0, 0, XKeysymToKeycode(fl_display, k),
                  True};
        XSendEvent(fl_display, w, True, KeyPressMask, &e);
        XSync(fl_display, False);
        pump([] { return false; }, 0.1);
        EXPECT_EQ(set_shown(), want += k == XK_Page_Down ? 1 : -1);
    }
    MMode.waveletView = 0;
}

TEST(Sets, ABoxClickIsOnDiskWithinASecondAndComesBack) {
    Bench b;
    const std::string m = micrographs(2, 256, b.dir);
    set_open(m);
    mode(BOX);
    MMode.boxX = MMode.boxY = 40;
    const std::string picks = m + "/tarvik_set/mic000_manualpick.star";
    EXPECT_FALSE(exists(picks));
    const double t0 = now();
    ev(120, 90, EV_LEFT_PRESS);
    EXPECT_TRUE(pump([&] { return centres(picks) == std::vector<std::string>{"120,90"}; }, 1.0)) << read_file(picks);
    EXPECT_LT(now() - t0, 1.0);
    // A DB move and a delete are saved too.
    mode(DB);
    ev(125, 95, EV_LEFT_PRESS);
    ev(150, 40, EV_LEFT_DRAG);
    ev(150, 40, EV_LEFT_RELEASE);
    EXPECT_TRUE(pump([&] { return centres(picks) == std::vector<std::string>{"150,40"}; }, 1.0));
    mode(BOX);
    ev(60, 200, EV_LEFT_PRESS);
    mode(DB);
    ev(150, 40, EV_RIGHT_PRESS);
    EXPECT_TRUE(pump([&] { return centres(picks) == std::vector<std::string>{"60,200"}; }, 1.0));
    EXPECT_NE(listLines()[0].find("mic000.mrc" + std::string(20, ' ') + "1 "), std::string::npos) << listLines()[0];
    // The Box menu's changes as well (import of a pick file).
    std::ofstream(b.dir + "/more.star") << "data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n77 88\n";
    MMode.boxX = MMode.boxY = 40;
    dlg_push_files({b.dir + "/more.star"});
    menu_run("Box", "Import Picks");
    EXPECT_TRUE(pump([&] { return centres(picks).size() == 2; }, 1.0));
    EXPECT_EQ(centres(picks), (std::vector<std::string>{"60,200", "77,88"}));
    // Read back when the set is opened again.
    set_close();
    set_open(m);
    EXPECT_EQ(boxCentres(set_shown_data()), (std::vector<std::string>{"60,200", "77,88"}));
    EXPECT_FALSE(set_unsaved());
    // Deleting the shown micrograph saves its picks at once, before the timer.
    mode(BOX);
    ev(40, 50, EV_LEFT_PRESS);
    sel_All(nullptr, 0);
    sel_Imdel(nullptr, 0);
    EXPECT_EQ(set_shown_data(), nullptr);
    const std::vector<std::string> three{"60,200", "77,88", "40,50"};
    EXPECT_EQ(centres(picks), three);
    EXPECT_EQ(set_next(), 1);
    EXPECT_EQ(imageLine(), "1. mic001.mrc 256x256");
    EXPECT_EQ(set_show(0), 1);
    EXPECT_EQ(boxCentres(set_shown_data()), three);
}

// Run in a process of its own by the next test, which kills it.
TEST(SetsChild, DISABLED_BoxesUntilKilled) {
    const char* dir = std::getenv("TARVIK_SET_CHILD");
    ASSERT_NE(dir, nullptr);
    std::string root = shell_tmpdir();
    root.resize(root.rfind('/'));
    std::ofstream(std::string(dir) + "/child_root") << root;  // the parent removes it
    Bench b;
    set_open(dir);
    mode(BOX);
    MMode.boxX = MMode.boxY = 32;
    for (int k = 0;; k++) {
        ev(20 + 25 * (k % 9), 20 + 25 * ((k / 9) % 9), EV_LEFT_PRESS);
        pump([] { return false; }, 0.05);
        std::ofstream(std::string(dir) + "/child_count") << k + 1;
    }
}

TEST(Sets, PicksWrittenByAKilledProcessReload) {
    Bench b;
    const std::string m = micrographs(1, 256, b.dir);
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("TARVIK_SET_CHILD", m.c_str(), 1);
        execl("/proc/self/exe", "tarvik_gui_tests", "--gtest_also_run_disabled_tests",
              "--gtest_filter=SetsChild.DISABLED_BoxesUntilKilled", (char*)nullptr);
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    auto clicks = [&] { return std::atoi(read_file(m + "/child_count").c_str()); };
    const bool started = pump([&] { return clicks() >= 20; }, 60);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    const std::string root = read_file(m + "/child_root");
    if (root.rfind("/tmp/tarvik_gui_", 0) == 0) std::system(("rm -rf '" + root + "'").c_str());
    ASSERT_TRUE(started) << "the child never clicked 20 times";
    EXPECT_TRUE(WIFSIGNALED(status));
    const int k = clicks();
    const std::vector<std::string> saved = centres(m + "/tarvik_set/mic000_manualpick.star");
    // Whole and in order; at most the last second (20 clicks) missing.
    ASSERT_NE(saved, std::vector<std::string>{"unreadable"});
    EXPECT_GE((int)saved.size(), k - 20);
    EXPECT_LE((int)saved.size(), k + 1);
    for (int i = 0; i < (int)saved.size(); i++)
        EXPECT_EQ(saved[i], std::to_string(20 + 25 * (i % 9)) + "," + std::to_string(20 + 25 * ((i / 9) % 9)));
    // The set opens with them.
    set_open(m);
    EXPECT_EQ(boxCentres(set_shown_data()), saved);
}

TEST(Sets, CtfLinesArriveWhileTheGuiKeepsAnswering) {
    Bench b;
    // More micrographs than workers, so that some lines come after others.
    const int n = std::min(WorkQueue::defaultThreads(), 4) + 2;
    const std::string m = micrographs(n, 1024, b.dir);
    // One estimate on this thread, for scale: the GUI must never take as long.
    double reference;
    {
        std::unique_ptr<MRCData> d(new MRCData());
        ASSERT_EQ(d->readMRCData((m + "/mic000.mrc").c_str()), 1);
        CtfEstimateParams p;
        p.pixel = 1.5f;
        p.kv = 300;
        p.csMM = 2.7f;
        CtfEstimate e;
        const double t = now();
        ctf_estimate(d->getRealData(), d->xSize(), d->ySize(), p, &e);
        reference = now() - t;
    }
    set_open(m);
    auto filled = [] {
        int n = 0;
        for (const std::string& l : listLines()) n += hasDefocus(l);
        return n;
    };
    double longest = 0, longestCpu = 0;
    std::vector<int> seen;
    const double end = now() + 120;
    while (set_ctf_pending() > 0 && now() < end) {
        const double w = now(), c = threadCpu();
        fl_check_forms();
        ev(100 + (int)(now() * 1000) % 50, 100, EV_MOVE);  // the pointer moves over the view
        longest = std::max(longest, now() - w);
        longestCpu = std::max(longestCpu, threadCpu() - c);
        if (seen.empty() || seen.back() != filled()) seen.push_back(filled());
        usleep(5000);
    }
    drained();
    EXPECT_EQ(set_ctf_pending(), 0);
    EXPECT_LT(longestCpu, 0.1);
    EXPECT_LT(longest, reference);
    // The list filled in line by line.
    ASSERT_GE(seen.size(), 3u) << "no line arrived on its own";
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), n);
    std::vector<CtfStarRow> rows;
    ASSERT_EQ(ctf_star_read((m + "/tarvik_set/micrographs_ctf.star").c_str(), &rows), 1);
    ASSERT_EQ(rows.size(), (size_t)n);
    for (int i = 0; i < n; i++) {
        const CtfStarRow* r = ctf_star_find(rows, "mic00" + std::to_string(i) + ".mrc");
        ASSERT_NE(r, nullptr);
        EXPECT_NEAR(r->estimate.defocus, -(1.0f + 0.4f * i), 0.05f) << i;
        EXPECT_FLOAT_EQ(r->kv, 300);
        char def[16];
        std::snprintf(def, sizeof def, " %.3f ", (r->estimate.defocusU + r->estimate.defocusV) / 2);
        EXPECT_NE(listLines()[i].find(def), std::string::npos) << listLines()[i];
    }
    // Opened again, nothing is estimated again.
    const std::string before = read_file(m + "/tarvik_set/micrographs_ctf.star");
    set_close();
    set_open(m);
    EXPECT_EQ(set_ctf_pending(), 0);
    EXPECT_EQ(filled(), n);
    pump([] { return false; }, 0.3);
    EXPECT_EQ(read_file(m + "/tarvik_set/micrographs_ctf.star"), before);
}

TEST(Sets, RejectAndExportWriteTheRightStar) {
    Bench b;
    const std::string m = micrographs(3, 256, b.dir);
    // A CTF table from an earlier session.
    mkdir((m + "/tarvik_set").c_str(), 0777);
    std::ofstream(m + "/tarvik_set/micrographs_ctf.star")
        << "data_micrographs\nloop_\n_rlnMicrographName\n_rlnDefocusU\n_rlnDefocusV\n_rlnDefocusAngle\n"
           "_rlnCtfMaxResolution\n_rlnVoltage\n_rlnSphericalAberration\n_rlnAmplitudeContrast\n"
           "mic000.mrc 10000 9000 10 4 300 2.7 0.1\nmic001.mrc 14000 13000 20 5 300 2.7 0.1\n"
           "mic002.mrc 18000 17000 30 6 300 2.7 0.1\n";
    set_open(m);
    EXPECT_EQ(set_ctf_pending(), 0);
    set_next();
    set_toggle_reject();
    EXPECT_EQ(statusOf(listLines()[1]), "rejected");
    mode(BOX);
    MMode.boxX = MMode.boxY = 32;
    set_next();
    ev(50, 60, EV_LEFT_PRESS);
    ev(150, 160, EV_LEFT_PRESS);
    StarFile st;
    ASSERT_EQ(readStar((m + "/tarvik_set/set.star").c_str(), &st), 1);
    const StarTable* t = st.find({"_rlnMicrographName", "_tarvikStatus"});
    ASSERT_NE(t, nullptr);
    std::vector<std::string> status;
    for (auto& r : t->rows) status.push_back(r[0] + " " + r[t->column("_tarvikStatus")]);
    EXPECT_EQ(status, (std::vector<std::string>{"mic000.mrc kept", "mic001.mrc rejected", "mic002.mrc kept"}));

    const std::string out = b.dir + "/export";
    dlg_push_files({out});
    set_export();  // saves the two new picks first
    std::vector<CtfStarRow> rows;
    ASSERT_EQ(ctf_star_read((out + "/micrographs_ctf.star").c_str(), &rows), 1);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].micrograph, m + "/mic000.mrc");
    EXPECT_EQ(rows[1].micrograph, m + "/mic002.mrc");
    EXPECT_NEAR(rows[1].estimate.defocusU, -1.8f, 1e-4);
    EXPECT_EQ(centres(out + "/mic002_manualpick.star"), (std::vector<std::string>{"50,60", "150,160"}));
    EXPECT_EQ(centres(out + "/mic000_manualpick.star"), std::vector<std::string>{});
    EXPECT_FALSE(exists(out + "/mic001_manualpick.star"));
    expectRelion(out + "/coordinates.star", "data_coordinate_files rlnMicrographCoordinates", b.dir,
                 out + "/mic000_manualpick.star\n" + out + "/mic002_manualpick.star\n");
    // Extract: the kept micrographs with picks, the panel's size taken from the boxes.
    std::string size;
    dlg_push_form("Extract", [&](FL_FORM* f) {
        for (FL_OBJECT* o = f->first; o; o = o->next)
            if (o->label && std::string(o->label) == "Box size (pixels)") size = fl_get_input(o);
    });
    dlg_push_files({b.dir + "/particles"});
    set_extract();
    EXPECT_EQ(size, "32");
    StarFile parts;
    ASSERT_EQ(readStar((b.dir + "/particles/particles.star").c_str(), &parts), 1);
    const StarTable* pt = parts.find({"_rlnImageName", "_rlnDefocusU"});
    ASSERT_NE(pt, nullptr);
    ASSERT_EQ(pt->rows.size(), 2u);
    EXPECT_EQ(pt->rows[0][pt->column("_rlnDefocusU")].substr(0, 5), "18000");
    expectRelion(b.dir + "/particles/particles.star", "data_particles rlnCoordinateX rlnCoordinateY", b.dir, "50.00",
                 5);
    // Kept again: exported again.
    set_prev();
    set_toggle_reject();
    dlg_push_files({out});
    set_export();
    ASSERT_EQ(ctf_star_read((out + "/micrographs_ctf.star").c_str(), &rows), 1);
    EXPECT_EQ(rows.size(), 3u);
}

TEST(Sets, UnreadableLinesSayWhyAndAreSkipped) {
    Bench b;
    const std::string m = micrographs(3, 256, b.dir);
    write_mrc(m + "/mic001b.mrc", 128, 128);  // another size
    const std::string bytes = read_file(m + "/mic002.mrc");
    std::ofstream(m + "/mic001c.mrc", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    const std::string whole = std::to_string(bytes.size());
    set_open(m);
    ASSERT_EQ(listLines().size(), 5u);
    EXPECT_EQ(statusOf(listLines()[2]), "unreadable: 128x128, not the set's 256x256");
    // Clicking one says why and shows nothing new.
    EXPECT_EQ(set_show(3), 0);
    EXPECT_EQ(set_message(),
              "Line 4 cannot be shown: truncated (" + std::to_string(bytes.size() / 2) + " of " + whole + " bytes)");
    EXPECT_EQ(imageLine(), "1. mic000.mrc 256x256");
    // A file that breaks after the set was opened is found out when it is read
    // (here ahead, while mic001 is shown); Next goes past the bad lines.
    std::ofstream(m + "/mic002.mrc", std::ios::binary) << bytes.substr(0, 1024);
    EXPECT_EQ(set_next(), 1);
    EXPECT_EQ(imageLine(), "1. mic001.mrc 256x256");
    pump([] { return set_images_held() <= 2; }, 10);
    drained();
    EXPECT_EQ(statusOf(listLines()[4]), "unreadable: truncated (1024 of " + whole + " bytes)");
    EXPECT_EQ(set_next(), 0);
    // A pattern that matches nothing: one line that says so.
    set_open(m + "/*.tif");
    EXPECT_EQ(listLines().size(), 1u);
    EXPECT_EQ(statusOf(listLines()[0]), "unreadable: no file matches");
    EXPECT_EQ(set_next(), 0);
}

// What the allocator holds for the whole process, all threads: the sanitizer's
// count, else the mappings of large blocks (each image buffer is one, with the
// threshold set below; the small allocations of the toolkit are not).
size_t heapHeld() {
#ifdef __SANITIZE_ADDRESS__
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().hblkhd;
#endif
}

TEST(Sets, AtMostThreeMicrographsAreHeldWhateverTheLength) {
    Bench b;
    // 320 x 320 is too small to estimate: no worker keeps one.
    mallopt(M_MMAP_THRESHOLD, 256 << 10);
    const std::string m = micrographs(10, 320, b.dir);
    const size_t image = 320 * 320 * sizeof(float);
#ifdef __SANITIZE_ADDRESS__
    const size_t slack = image;  // the view's own buffers count there too
#else
    const size_t slack = image / 2;
#endif
    drained();
    const size_t base = heapHeld();
    set_open(m);
    auto settled = [] {
        drained();
        pump([] { return set_ctf_pending() == 0; }, 20);
        drained();
    };
    settled();
    size_t most = 0;
    auto step = [&](int i) {
        ASSERT_EQ(set_show(i), 1);
        settled();
        most = std::max(most, heapHeld() - base);
    };
    for (int i = 1; i < 10; i++) step(i);
    for (int i = 8; i >= 0; i--) step(i);
    for (int i : {5, 0, 9, 3, 4}) step(i);
    EXPECT_LE(most, 3 * image + slack);
    EXPECT_GE(most, 2 * image);  // the count sees them at all
    set_close();
    pump([] { return set_images_held() == 0; }, 10);
    drained();
    EXPECT_LE(heapHeld() - base, slack);
}

TEST(Sets, AutoPickAllReplacesAutomaticPicksAndKeepsHandPicks) {
    Bench b;
    const std::string m = b.dir + "/mics";
    mkdir(m.c_str(), 0777);
    for (int i = 0; i < 3; i++) {
        PickSynth c;
        c.nx = c.ny = 512;
        c.pixel = 3;
        c.particles = 12;
        c.contamination = 0;
        c.snr = 0.3f;
        c.seed = i + 1;
        ASSERT_TRUE(synth_write_mrc(m + "/mic00" + std::to_string(i) + ".mrc", pick_synth(c).pixels, 512, 512, 512, 3));
    }
    mkdir((m + "/tarvik_set").c_str(), 0777);
    std::ofstream(m + "/tarvik_set/mic001_manualpick.star")
        << "data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n_rlnAutopickFigureOfMerit\n400 60 -999\n";
    set_open(m);
    set_show(2);
    set_toggle_reject();
    set_show(0);
    mode(BOX);
    MMode.boxX = MMode.boxY = 74;
    ev(100, 100, EV_LEFT_PRESS);
    // Without the panel's settings the button says so.
    set_pick_settings(nullptr);
    set_autopick_all();
    EXPECT_EQ(dlg_logged("message:").size(), 1u);
    set_pick_settings([](AutopickParams* p) {
        p->mode = AUTOPICK_BLOB;
        p->diameter = 150;
        p->boxSize = 74;
        return true;
    });
    // Each file: "hand" picks, and automatic ones with their scores.
    auto kinds = [&](int i) {
        std::vector<PickCentre> c;
        std::vector<float> fom;
        std::pair<int, int> n{0, 0};
        if (!readStarCentres((m + "/tarvik_set/mic00" + std::to_string(i) + "_manualpick.star").c_str(), &c, &fom))
            return std::pair<int, int>{-1, -1};
        for (float f : fom) (f == kManualPickFom ? n.first : n.second)++;
        return n;
    };
    std::vector<std::pair<int, int>> first;
    for (int round = 0; round < 2; round++) {
        set_autopick_all();
        EXPECT_EQ(set_autopick_pending(), 2);
        ASSERT_TRUE(pump([] { return set_autopick_pending() == 0; }, 60));
        pump([] { return !set_unsaved(); }, 2);
        std::vector<std::pair<int, int>> now = {kinds(0), kinds(1), kinds(2)};
        EXPECT_EQ(now[0].first, 1);   // the box cut by hand
        EXPECT_EQ(now[1].first, 1);   // the hand pick already in the file
        EXPECT_EQ(now[2].first, -1);  // rejected: no file
        EXPECT_GE(now[0].second, 6);
        EXPECT_LE(now[0].second, 24);
        EXPECT_GE(now[1].second, 6);
        if (round == 0)
            first = now;
        else
            EXPECT_EQ(now, first);  // replaced, not added to
    }
    // The shown micrograph's boxes are the file's.
    int autos = 0;
    for (int k = 0; k < set_shown_data()->nBoxes(); k++) autos += autopick_is_auto_box(set_shown_data()->Boxes()[k]);
    EXPECT_EQ(autos, first[0].second);
    EXPECT_EQ(set_shown_data()->nBoxes(), first[0].first + first[0].second);
    // The Auto Pick panel's own picks on the shown micrograph are saved too.
    set_show(1);
    m_Box_autopick();
    fl_set_input(autopick_panel->diameter, "150");
    ap_pick(nullptr, 0);
    EXPECT_TRUE(pump([&] { return kinds(1).second > 0 && kinds(1).second == set_shown_data()->nBoxes() - 1; }, 1.0));
    ap_close(nullptr, 0);
}
