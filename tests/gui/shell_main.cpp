// Test main for the workbench tests: brings the workbench up once (without
// the event loop), with HOME in a fresh folder, before any test runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "gui/shell/control.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/help.h"
#include "gui/shell/menus.h"
#include "gui/shell/startup.h"
#include "gui/shell/state.h"
#include "gui/shell/viewlink.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/hooks.h"
#include "tests/gui/shell_env.h"

namespace {
int g_tmpN = 0;
std::string g_root;
}  // namespace

std::string shell_tmpdir() {
    std::string d = g_root + "/t" + std::to_string(++g_tmpN);
    mkdir(d.c_str(), 0700);
    return d;
}

MRCData* make_data(int nx, int ny, const char* name, const char* file, float base) {
    std::vector<float> v((size_t)nx * ny);
    for (size_t i = 0; i < v.size(); i++) v[i] = base + (float)(i % 97);
    MRCData* d = new MRCData();
    d->setRealData(v.data(), nx, ny, 1);
    d->setName(name);
    d->setFile(file ? file : name);
    return d;
}

MRCData* make_complex(int nx, int ny, const char* name) {
    std::vector<float> v((size_t)(nx + 2) * ny, 1.0f);
    MRCData* d = make_data(1, 1, name);
    d->setComplData(v.data(), nx + 2, ny, 1);
    return d;
}

void add_to_group(const std::vector<MRCData*>& ds) {
    for (MRCData* d : ds) current_group()->addObject(d);
    update_data_list();
}

void select_images(const std::vector<int>& lines) {
    fl_deselect_browser(control->images);
    for (int l : lines) fl_select_browser_line(control->images, l);
    sel_Image(nullptr, 0);
}

std::vector<int> selected_lines(FL_OBJECT* browser) {
    std::vector<int> out;
    for (int i = 1; i <= fl_get_browser_maxline(browser); i++)
        if (fl_isselected_browser_line(browser, i)) out.push_back(i);
    return out;
}

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

void write_mrc(const std::string& path, int nx, int ny, float base) {
    std::unique_ptr<MRCData> d(make_data(nx, ny, "w", nullptr, base));
    EXPECT_EQ(d->writeMRCData(path.c_str(), 0), 1) << path;
}

std::vector<std::string> group_names(List* g) {
    std::vector<std::string> out;
    for (int i = 0; i < count(g); i++) out.push_back(((MRCData*)g->objectAt(i))->Name());
    return out;
}

void file_cmd(const char* item, const std::vector<std::string>& files, const std::vector<int>& buttons) {
    dlg_push_files(files);
    for (int b : buttons) dlg_push_button(b);
    menu_run("File", item);
}

std::vector<std::string> dlg_logged(const std::string& kind) {
    std::vector<std::string> out;
    for (auto& s : dlg_log())
        if (s.rfind(kind, 0) == 0) out.push_back(s);
    return out;
}

void shell_reset() {
    dlg_clear();
    dlg_set_scripted(true);
    help_dismiss(nullptr, 0);
    while (busy_depth() > 0) busy(0);
    while (count(viewList) > 1) {
        fl_select_browser_line(control->views, count(viewList));
        sel_Delview(nullptr, 0);
    }
    fl_select_browser_line(control->views, 1);
    for (int i = 0; i < count(viewList); i++) ((DataWin*)viewList->objectAt(i))->setData(nullptr);
    while (count(dataList) > 1) {
        List* g = (List*)dataList->removeObjectAt(count(dataList) - 1);
        for (int i = 0; i < count(g); i++) delete (MRCData*)g->objectAt(i);
        delete g;
        fl_delete_browser_line(control->groups, fl_get_browser_maxline(control->groups));
    }
    List* g = (List*)dataList->objectAt(0);
    for (int i = 0; i < count(g); i++) delete (MRCData*)g->objectAt(i);
    g->empty();
    fl_replace_browser_line(control->groups, 1, "Default");
    fl_select_browser_line(control->groups, 1);
    fl_set_input(control->groupName, "");
    current_view()->setGroup(1);
    update_data_list();
    fl_set_positioner_xvalue(control->pan, 0);
    fl_set_positioner_yvalue(control->pan, 0);
    v_Zoom(nullptr, 3);
    fl_set_input(control->numCount, "10");
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    char tmpl[] = "/tmp/tarvik_gui_XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    g_root = tmpl;
    std::error_code gone;
    std::string home = g_root + "/home";
    mkdir(home.c_str(), 0700);
    if (const char* h = std::getenv("TARVIK_CHILD_HOME")) home = h;
    setenv("HOME", home.c_str(), 1);
    if (argc > 1 && std::strcmp(argv[1], "--startup-child") == 0) {
        // Start-up in a process of its own (the colour-map tests run it next
        // to a client that holds every free cell, or with preferences set).
        if (!startup_toolkit(argc, argv) || !startup_workbench()) return 3;
        XSync(dpy, False);
        std::ofstream f(home + "/args.txt");
        for (auto& a : toolkit_args()) f << a << "\n";
        f << "depth " << fl_state[fl_vmode].depth << "\n";
        std::filesystem::remove_all(g_root, gone);
        return count(viewList) == 1 ? 0 : 4;
    }
    // Listing the tests (ctest's discovery) needs no display.
    if (!::testing::GTEST_FLAG(list_tests)) {
        static char* fake[] = {argv[0], nullptr};
        if (!std::getenv("DISPLAY")) {
            std::fprintf(stderr,
                         "tarvik_gui_tests: DISPLAY is not set; run on an X server (scripts/xvfb-run 24 ...)\n");
            return 1;
        }
        if (!startup_toolkit(1, fake) || !startup_workbench()) {
            std::fprintf(stderr, "tarvik_gui_tests: the workbench did not start on DISPLAY=%s\n",
                         std::getenv("DISPLAY"));
            std::filesystem::remove_all(g_root, gone);
            return 1;
        }
        dlg_set_scripted(true);
    }
    int r = RUN_ALL_TESTS();
    std::filesystem::remove_all(g_root, gone);
    if (gone) std::printf("could not remove %s\n", g_root.c_str());
    return r;
}
