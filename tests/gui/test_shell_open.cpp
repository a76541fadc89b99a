// Opening in the workbench: a message box for every file that cannot be opened
// (the readers' own lines still on standard output), MRC particle stacks as
// groups, the pixel size a file records, and files named on the command line.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/control.h"
#include "app/dialogs.h"
#include "app/file_cmds.h"
#include "app/menus.h"
#include "app/state.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/hooks.h"
#include "display/datawin.h"
#include "display/print.h"
#include "tests/gui/shell_env.h"

namespace {
const std::string kData = TARVIK_TEST_DATA;

std::string box(const std::string& file, const std::string& reason) {
    return "message: Could not open|" + file + "|" + reason;
}

std::vector<std::string> messages() {
    std::vector<std::string> m;
    for (auto& s : dlg_log())
        if (s.rfind("message:", 0) == 0) m.push_back(s);
    return m;
}

// An MRC2014 file as RELION writes particle stacks: space group 0, mz 1, the
// pixel size in the cell; section k holds k * 1000 + y * nx + x.
void writeStack(const std::string& path, int nx, int ny, int nz, float pixel) {
    int32_t h[256] = {nx, ny, nz, 2, 0, 0, 0, nx, ny, 1};
    float cell[] = {nx * pixel, ny * pixel, pixel, 90, 90, 90};
    std::memcpy(&h[10], cell, sizeof cell);
    h[16] = 1, h[17] = 2, h[18] = 3;
    std::memcpy(&h[52], "MAP DD\0\0", 8);
    std::vector<float> v((size_t)nx * ny * nz);
    for (size_t i = 0; i < v.size(); i++) v[i] = (float)(i / ((size_t)nx * ny) * 1000 + i % ((size_t)nx * ny));
    std::ofstream o(path, std::ios::binary);
    o.write((const char*)h, sizeof h);
    o.write((const char*)v.data(), (std::streamsize)(v.size() * 4));
}
}  // namespace

TEST(ShellOpen, EveryFileThatCannotBeOpenedGetsAMessageBoxWithTheReadersReason) {
    shell_reset();
    std::string dir = shell_tmpdir();
    std::string good1 = dir + "/good1.mrc", good2 = dir + "/good2.mrc";
    write_mrc(good1, 16, 12);
    write_mrc(good2, 8, 8);
    std::string whole = read_file(good1);
    struct Bad {
        std::string name, bytes, reason;
    };
    // A header that claims 2000 x 1000 floats in front of 100 bytes.
    std::string lying = whole.substr(0, 1024) + std::string(100, '\0');
    int32_t big[] = {2000, 1000};
    std::memcpy(&lying[0], big, 8);
    std::string text;
    for (int i = 0; i < 100; i++) text += "hello world\n";
    const std::vector<Bad> bad = {
        {"missing.mrc", "", "Cannot open file"},
        {"folder.mrc", "", "Is a directory"},
        {"empty.mrc", "", "The file is empty"},
        {"short.mrc", whole.substr(0, 500), "No complete header could be read"},
        {"text.mrc", text, "This appears to be a 3d file. I only read 2d files."},
        {"lying.mrc", lying, "Incomplete data read 0/1000 blocks"},
        {"truncated.mrc", whole.substr(0, 1024 + 16 * 4 * 5), "Incomplete data read 0/12 blocks"},
    };
    std::vector<std::string> files = {good1};
    for (const Bad& b : bad) {
        std::string p = dir + "/" + b.name;
        if (b.name == "folder.mrc")
            mkdir(p.c_str(), 0700);
        else if (b.name != "missing.mrc")
            std::ofstream(p, std::ios::binary) << b.bytes;
        files.push_back(p);
    }
    files.push_back(good2);
    dlg_push_files(files);
    testing::internal::CaptureStdout();
    menu_run("File", "Open MRC");
    std::string out = testing::internal::GetCapturedStdout();
    // The readers' lines reach standard output as they were printed.
    EXPECT_NE(out.find("Cannot open file\n"), std::string::npos);
    EXPECT_NE(out.find(dir + "/lying.mrc is a   2000x1000 2D float MRC File\nIncomplete data read 0/1000 blocks\n"),
              std::string::npos)
        << out;
    std::vector<std::string> want;
    for (const Bad& b : bad) want.push_back(box(dir + "/" + b.name, b.reason));
    EXPECT_EQ(messages(), want);
    // The open went on past every failure.
    EXPECT_EQ(group_names(current_group()), (std::vector<std::string>{"good1.mrc", "good2.mrc"}));
    EXPECT_EQ(busy_depth(), 0);
}

TEST(ShellOpen, EveryOpenEntryAndTheCommandLineSayWhy) {
    shell_reset();
    std::string dir = shell_tmpdir();
    const std::string none = dir + "/none";
    struct Entry {
        const char* item;
        std::string file, reason;
    };
    const std::vector<Entry> entries = {
        {"Open SPIDER", none + ".spi", "Cannot open file"},
        {"Open IMAGIC", none + ".hed", "ERROR: cannot open " + none + ".hed"},
        {"Open PIF", none + ".pif", "ERROR: cannot open " + none + ".pif"},
        {"Open ScansALot", none + ".HDR", "Cannot open " + none + ".hdr"},
        {"Open Picture", none + ".pgm", "Cannot open file " + none + ".pgm"},
    };
    for (const Entry& e : entries) {
        dlg_clear();
        dlg_push_files({e.file});
        menu_run("File", e.item);
        EXPECT_EQ(messages(), std::vector<std::string>{box(e.file, e.reason)}) << e.item;
    }
    // A list names an empty file and a missing one; a missing list says so too.
    std::string empty = dir + "/empty.mrc", good = dir + "/good.mrc";
    std::ofstream(empty).close();
    write_mrc(good, 8, 8);
    std::ofstream(dir + "/a.lst") << empty << "\n" << none << ".mrc\n" << good << "\n";
    dlg_clear();
    dlg_push_files({dir + "/a.lst"});
    menu_run("File", "Read List w Interleave");
    dlg_push_files({dir + "/missing.lst"});
    menu_run("File", "Read List w Interleave");
    EXPECT_EQ(messages(), (std::vector<std::string>{box(empty, "The file is empty"),
                                                    box(none + ".mrc", "No such file or directory"),
                                                    box(dir + "/missing.lst", "No such file or directory")}));
    EXPECT_EQ(group_names(current_group()), std::vector<std::string>{"good.mrc"});
    dlg_clear();
    std::string names[] = {none + ".mrc", good};
    char* av[] = {&names[0][0], &names[1][0]};
    EXPECT_EQ(open_startup_files(2, av), 1);
    EXPECT_EQ(messages(), std::vector<std::string>{box(none + ".mrc", "Cannot open file")});
}

TEST(ShellOpen, RelionParticleStackOpensAsANewGroupShownAsAMosaic) {
    shell_reset();
    std::string dir = shell_tmpdir();
    const int nx = 26, ny = 18, nz = 50;
    std::string stack = dir + "/particles.mrcs";
    writeStack(stack, nx, ny, nz, 1.25f);
    add_to_group({make_data(16, 16, "already here")});
    dlg_push_files({stack});
    menu_run("File", "Open MRC");
    ASSERT_EQ(count(dataList), 2);
    EXPECT_STREQ(fl_get_browser_line(control->groups, 2), "new group");
    EXPECT_EQ(fl_get_browser(control->groups), 2);
    List* g = current_group();
    ASSERT_EQ(count(g), nz);
    EXPECT_EQ(count(current_view()->data()), nz);  // every particle shown: the mosaic
    EXPECT_EQ(current_view()->Group(), 2);
    for (int k = 0; k < nz; k++) {
        MRCData* d = (MRCData*)g->objectAt(k);
        EXPECT_EQ(d->Name(), "particles.mrcs:" + std::to_string(k + 1));
        ASSERT_EQ(d->xSize() * 1000 + d->ySize(), nx * 1000 + ny);
        for (int i = 0; i < nx * ny; i += 37) ASSERT_EQ(d->getRealData()[i], (float)(k * 1000 + i)) << k << " " << i;
        EXPECT_FLOAT_EQ(d->Pixres(), 1.25f);
    }
    EXPECT_STREQ(fl_get_input(control->scanres), "1.25");
    EXPECT_EQ(count((List*)dataList->objectAt(0)), 1);
    // A volume (space group 1) is still refused, and says so.
    dlg_clear();
    dlg_push_files({kData + "/mrc/vol_16x12x5_f32_le.mrc"});
    menu_run("File", "Open MRC");
    EXPECT_EQ(messages(), std::vector<std::string>{box(kData + "/mrc/vol_16x12x5_f32_le.mrc",
                                                       "This appears to be a 3d file. I only read 2d files.")});
    EXPECT_EQ(count(dataList), 2);
    EXPECT_EQ(count(current_group()), nz);
}

TEST(ShellOpen, RecordedPixelSizeIsShownAndScalesThePrintedBar) {
    shell_reset();
    std::string dir = shell_tmpdir();
    // Written by mrcfile with a voxel size of 1.5 A.
    dlg_push_files({kData + "/mrc/mode2_le.mrc"});
    menu_run("File", "Open MRC");
    select_images({1});
    EXPECT_STREQ(fl_get_input(control->scanres), "1.50");
    EXPECT_STREQ(fl_get_input(control->mag), "166.67");  // 10 x "scanres" 25 / 1.5
    menu_run("File", "Print");
    ASSERT_NE(ppanel, nullptr);
    fl_set_button(ppanel->scaleBar, 1);
    fl_set_button(ppanel->toFile, 1);
    fl_set_input(ppanel->nm, "10");
    std::string ps = dir + "/page.ps";
    fl_set_input(ppanel->file, ps.c_str());
    print_close(ppanel->ok, 0);
    std::string page = read_file(ps);
    size_t at = page.find("0 setgray 3 setlinewidth ");
    ASSERT_NE(at, std::string::npos);
    double from = 0, to = 0;
    ASSERT_EQ(std::sscanf(page.c_str() + at, "0 setgray 3 setlinewidth %lf 20 moveto %lf", &from, &to), 2);
    EXPECT_NEAR(to - from, 10 * 10 / 1.5, 0.011);  // 10 nm at zoom 1 and 1.5 A per pixel, in points
}

TEST(ShellOpen, CommandLineNamesStacksAsTheFileMenuDoes) {
    shell_reset();
    std::string dir = shell_tmpdir();
    MRCData* a = make_data(20, 10, "a");
    ASSERT_EQ(a->appendImagic((dir + "/one.hed").c_str()), 1);
    ASSERT_EQ(a->appendPIF((dir + "/two.pif").c_str()), 1);
    ASSERT_EQ(a->appendPIF((dir + "/two.pif").c_str()), 1);
    delete a;
    writeStack(dir + "/three.mrcs", 10, 8, 3, 2.0f);
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::string names[] = {"one.hed", "two.pif", "three.mrcs"};
    char* av[] = {&names[0][0], &names[1][0], &names[2][0]};
    int n = open_startup_files(3, av);
    EXPECT_EQ(chdir(old), 0);
    EXPECT_EQ(n, 6);
    ASSERT_EQ(count(dataList), 3);
    EXPECT_EQ(group_names((List*)dataList->objectAt(0)), std::vector<std::string>{"one.img"});
    EXPECT_EQ(group_names((List*)dataList->objectAt(1)), (std::vector<std::string>{"two.pif", "two.pif"}));
    EXPECT_EQ(group_names((List*)dataList->objectAt(2)),
              (std::vector<std::string>{"three.mrcs:1", "three.mrcs:2", "three.mrcs:3"}));
    EXPECT_EQ(fl_get_browser(control->groups), 3);  // the last stack is shown
    EXPECT_EQ(count(current_view()->data()), 3);
}
