// File menu: every format opened through the queued file selection, a message
// box for every file that cannot be opened (the readers' own lines still on
// standard output), MRC particle stacks as groups, the pixel size a file
// records, files named on the command line, the naming rules and overwrite
// answers of the save commands, list reading with interleave.
#include "tests/gui/gui_testutil.h"
// (first: GoogleTest before Xlib)
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "gui/shell/file_cmds.h"
#include "gui/shell/fsel.h"

namespace {
const std::string kData = TARVIK_TEST_DATA;

std::string box(const std::string& file, const std::string& reason) {
    return "message: Could not open|" + file + "|" + reason;
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

// Every test starts from the start-up state with a fresh folder, in the
// working folder it found.
class ShellFiles : public testing::Test {
protected:
    std::string dir;
    std::filesystem::path cwd = std::filesystem::current_path();
    void SetUp() override {
        shell_reset();
        dir = shell_tmpdir();
    }
    void TearDown() override { std::filesystem::current_path(cwd); }
};

TEST_F(ShellFiles, EveryOpenEntryReadsIntoTheCurrentGroupOrSaysWhy) {
    const struct {
        const char* item;
        std::string missing, reason;     // dir + "/none" + missing; '@' stands for dir + "/none"
        std::vector<std::string> files;  // under tests/data
        int atLeast;                     // the GIF needs the netpbm converters
        const char* last;
    } rows[] = {
        // (Open MRC: the next test)
        {"Open SPIDER", ".spi", "Cannot open file", {"spider/img_64x48.spi"}, 1, "img_64x48.spi"},
        {"Open Picture",
         ".pgm",
         "Cannot open file @.pgm",
         {"netpbm/pattern_u8_64x48.pgm", "netpbm/pattern_u8_64x48.gif"},
         1,
         nullptr},
        {"Open IMAGIC", ".hed", "ERROR: cannot open @.hed", {"selfmade/img_64x48_le.hed"}, 1, "img_64x48_le.img"},
        {"Open PIF", ".pif", "ERROR: cannot open @.pif", {}, 0, nullptr},
        {"Open ScansALot", ".HDR", "Cannot open @.hdr", {}, 0, nullptr},
    };
    for (auto& r : rows) {
        shell_reset();
        std::string none = dir + "/none", missing = none + r.missing, reason = r.reason;
        if (size_t pos = reason.find('@'); pos != std::string::npos) reason.replace(pos, 1, none);
        file_cmd(r.item, {missing});
        EXPECT_EQ(dlg_logged("message:"), std::vector<std::string>{box(missing, reason)}) << r.item;
        EXPECT_EQ(count(current_group()), 0) << r.item;
        EXPECT_EQ(busy_depth(), 0);
        std::vector<std::string> files;
        for (auto& f : r.files) files.push_back(kData + "/" + f);
        file_cmd(r.item, files);
        EXPECT_EQ(count(dataList), 1) << r.item;  // single images join the group
        for (int i = 0; i < count(current_group()); i++) EXPECT_EQ(at(i)->xSize() * 1000 + at(i)->ySize(), 64048);
        ASSERT_GE(count(current_group()), r.atLeast) << r.item;
        if (r.files.empty()) continue;
        const char* last = at(count(current_group()) - 1)->Name();
        EXPECT_STREQ(last, r.last ? r.last : last);
    }
}

TEST_F(ShellFiles, EveryFileThatCannotBeOpenedGetsAMessageBoxWithTheReadersReason) {
    std::string good1 = dir + "/a b.mrc", good2 = dir + "/x'$(touch boom).mrc";
    write_mrc(good1, 16, 12);
    write_mrc(good2, 8, 8);
    std::string whole = read_file(good1);
    // A header that claims 2000 x 1000 floats in front of 100 bytes.
    std::string lying = whole.substr(0, 1024) + std::string(100, '\0');
    int32_t big[] = {2000, 1000};
    std::memcpy(&lying[0], big, 8);
    std::string text;
    for (int i = 0; i < 100; i++) text += "hello world\n";
    const struct {
        std::string name, bytes, reason;
    } bad[] = {
        {"missing.mrc", "", "Cannot open file"},
        {"folder.mrc", "", "Is a directory"},
        {"empty.mrc", "", "The file is empty"},
        {"short.mrc", whole.substr(0, 500), "No complete header could be read"},
        {"text.mrc", text, "This appears to be a 3d file. I only read 2d files."},
        {"lying.mrc", lying, "Incomplete data read 0/1000 blocks"},
        {"truncated.mrc", whole.substr(0, 1024 + 16 * 4 * 5), "Incomplete data read 0/12 blocks"},
    };
    std::vector<std::string> files = {good1}, want;
    mkdir((dir + "/folder.mrc").c_str(), 0700);
    for (auto& b : bad) {
        std::string p = dir + "/" + b.name;
        if (b.name != "missing.mrc" && b.name != "folder.mrc") std::ofstream(p, std::ios::binary) << b.bytes;
        files.push_back(p);
        want.push_back(box(p, b.reason));
    }
    files.push_back(good2);
    file_cmd("Open MRC", {});  // a cancelled selection opens nothing
    testing::internal::CaptureStdout();
    file_cmd("Open MRC", files);
    std::string out = testing::internal::GetCapturedStdout();
    // The readers' lines reach standard output as they were printed.
    EXPECT_NE(out.find("Cannot open file\n"), std::string::npos);
    EXPECT_NE(out.find(dir + "/lying.mrc is a   2000x1000 2D float MRC File\nIncomplete data read 0/1000 blocks\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(dlg_logged("message:"), want);
    EXPECT_EQ(dlg_unexpected(), 0);
    // The open went on past every failure; names with blanks and quotes are no
    // shell words.
    EXPECT_STREQ(fl_get_browser_line(control->images, 1), "1. a b.mrc 16x12");
    EXPECT_STREQ(fl_get_browser_line(control->images, 2), "2. x'$(touch boom).mrc 8x8");
    EXPECT_EQ(count(current_group()), 2);
    EXPECT_FALSE(exists(dir + "/boom"));
    EXPECT_EQ(at(1)->Seqno(), 2);
    EXPECT_EQ(busy_depth(), 0);
    EXPECT_EQ(control->control->deactivated, 0);  // the panel is usable again
}

TEST_F(ShellFiles, CommandLineFilesOpenAsTheFileMenuWould) {
    std::string a = dir + "/first image.mrc", b = dir + "/second.mrc", bad = dir + "/nothing.mrc";
    write_mrc(a, 40, 30);
    write_mrc(b, 20, 20);
    char* av[] = {&a[0], &bad[0], &b[0]};
    EXPECT_EQ(open_startup_files(3, av), 2);
    EXPECT_EQ(dlg_logged("message:"), std::vector<std::string>{box(bad, "Cannot open file")});
    EXPECT_EQ(group_names(current_group()), (std::vector<std::string>{"first image.mrc", "second.mrc"}));
    EXPECT_EQ(selected_lines(control->images), std::vector<int>{1});  // the first is shown
    EXPECT_EQ(count(current_view()->data()), 1);
    EXPECT_EQ(current_view()->firstdata(), at(0));
    // Stacks named by paths without a '/' are named as the File menu names them.
    MRCData* d = make_data(20, 10, "d");
    ASSERT_EQ(d->appendImagic((dir + "/one.hed").c_str()), 1);
    ASSERT_EQ(d->appendPIF((dir + "/two.pif").c_str()), 1);
    ASSERT_EQ(d->appendPIF((dir + "/two.pif").c_str()), 1);
    delete d;
    writeStack(dir + "/three.mrcs", 10, 8, 3, 2.0f);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    std::string names[] = {"one.hed", "two.pif", "three.mrcs"};
    char* rel[] = {&names[0][0], &names[1][0], &names[2][0]};
    EXPECT_EQ(open_startup_files(3, rel), 6);
    ASSERT_EQ(count(dataList), 3);
    EXPECT_EQ(group_names((List*)dataList->objectAt(0)),
              (std::vector<std::string>{"first image.mrc", "second.mrc", "one.img"}));
    EXPECT_EQ(group_names((List*)dataList->objectAt(1)), (std::vector<std::string>{"two.pif", "two.pif"}));
    EXPECT_EQ(group_names((List*)dataList->objectAt(2)),
              (std::vector<std::string>{"three.mrcs:1", "three.mrcs:2", "three.mrcs:3"}));
    EXPECT_EQ(fl_get_browser(control->groups), 3);  // the last stack is shown
    EXPECT_EQ(count(current_view()->data()), 3);
}

TEST_F(ShellFiles, RelionParticleStackOpensAsANewGroupShownAsAMosaic) {
    const int nx = 26, ny = 18, nz = 50;
    std::string stack = dir + "/particles.mrcs", volume = kData + "/mrc/vol_16x12x5_f32_le.mrc";
    writeStack(stack, nx, ny, nz, 1.25f);
    add_to_group({make_data(16, 16, "already here")});
    file_cmd("Open MRC", {stack});
    ASSERT_EQ(count(dataList), 2);
    EXPECT_STREQ(fl_get_browser_line(control->groups, 2), "new group");
    EXPECT_EQ(fl_get_browser(control->groups), 2);
    ASSERT_EQ(count(current_group()), nz);
    EXPECT_EQ(count(current_view()->data()), nz);  // every particle shown: the mosaic
    EXPECT_EQ(current_view()->Group(), 2);
    for (int k = 0; k < nz; k++) {
        MRCData* d = at(k);
        EXPECT_EQ(d->Name(), "particles.mrcs:" + std::to_string(k + 1));
        ASSERT_EQ(d->xSize() * 1000 + d->ySize(), nx * 1000 + ny);
        for (int i = 0; i < nx * ny; i += 37) ASSERT_EQ(d->getRealData()[i], (float)(k * 1000 + i)) << k << " " << i;
        EXPECT_FLOAT_EQ(d->Pixres(), 1.25f);
    }
    // The recorded pixel size is shown, with the magnification 10 x "scanpix" 25 / 1.25.
    EXPECT_EQ(std::string(fl_get_input(control->scanres)) + " " + fl_get_input(control->mag), "1.25 200.00");
    EXPECT_EQ(count((List*)dataList->objectAt(0)), 1);
    // A volume (space group 1) is still refused, and says so.
    file_cmd("Open MRC", {volume});
    EXPECT_EQ(dlg_logged("message:"),
              std::vector<std::string>{box(volume, "This appears to be a 3d file. I only read 2d files.")});
    EXPECT_EQ(count(dataList), 2);
    EXPECT_EQ(count(current_group()), nz);
}

TEST_F(ShellFiles, WrittenFilesComeBackThroughTheirOwnOpenEntries) {
    std::vector<MRCData*> ds;
    for (int i = 0; i < 5; i++) ds.push_back(make_data(16, 16, ("s" + std::to_string(i)).c_str(), nullptr, (float)i));
    add_to_group(ds);
    sel_All(nullptr, 0);
    file_cmd("Save IMAGIC", {dir + "/stack.hed"});
    file_cmd("Save SPIDER", {dir + "/set.spi"});
    file_cmd("Save PIF", {dir + "/five.pif"});  // the extension stays
    file_cmd("Save PGM", {dir + "/p.pgm"});
    EXPECT_EQ(dlg_log().back(), "message: Please select 1 image to save.||");
    EXPECT_FALSE(exists(dir + "/p.pgm"));
    for (const char* n : {"/stack.hed", "/stack.img", "/set001.DAT", "/set005.DAT", "/five.pif"})
        EXPECT_TRUE(exists(dir + n)) << n;
    select_images({1});
    file_cmd("Save PGM", {dir + "/one.xyz"});
    EXPECT_EQ(read_file(dir + "/one.pgm").substr(0, 3), "P5\n");
    file_cmd("Open SPIDER", {dir + "/set002.DAT"});
    ASSERT_EQ(count(current_group()), 6);
    EXPECT_EQ(at(5)->xSize(), 16);
    // Stacks become new groups, the last one shown.
    file_cmd("Open IMAGIC", {dir + "/stack.hed"});
    file_cmd("Open PIF", {dir + "/five.pif"});
    ASSERT_EQ(count(dataList), 3);
    EXPECT_STREQ(fl_get_browser_line(control->groups, 2), "new group");
    EXPECT_EQ(count((List*)dataList->objectAt(1)), 5);
    EXPECT_EQ(fl_get_browser(control->groups), 3);
    EXPECT_EQ(count(current_group()), 5);
    EXPECT_EQ(fl_get_browser_maxline(control->images), 5);
    EXPECT_EQ(dlg_unexpected(), 0);
}

TEST_F(ShellFiles, SaveMrcNamesFilesByTypeAndNumber) {
    std::string one = dir + "/v1.0/one.img", two = dir + "/two";
    add_to_group(
        {make_data(32, 32, "r", one.c_str()), make_complex(30, 32, "c"), make_data(32, 32, "Clip x", two.c_str())});
    const struct {
        std::vector<int> lines;
        const char* chosen;
        std::vector<const char*> written;
    } rows[] = {
        {{1}, "/particle.mrc", {"/particle.img"}},
        {{2}, "/particle.mrc", {"/particle.tnf"}},
        {{1}, "/data.tiff", {"/data.tiff.img"}},  // only 3-letter extensions are cut
        // The first name decides: no default-filespec question.
        {{1, 2, 3}, "/set", {"/set.000.img", "/set.001.tnf", "/set.002.img"}},
    };
    for (auto& r : rows) {
        select_images(r.lines);
        file_cmd("Save MRC", {dir + r.chosen});
        for (const char* w : r.written) EXPECT_TRUE(exists(dir + w)) << w;
    }
    EXPECT_FALSE(exists(dir + "/particle.mrc"));
    MRCData back;
    ASSERT_EQ(back.readMRCData((dir + "/set.002.img").c_str()), 1);
    EXPECT_EQ(back.xSize(), 32);
    EXPECT_EQ(dlg_logged("choice:").size(), 0u);
    // "Save Short MRC": "Maybe" cancels, "Yes" rescales to 16-bit values.
    select_images({1});
    dlg_push_button(3);
    menu_run("File", "Save Short MRC");
    EXPECT_EQ(dlg_pending(), 0);
    EXPECT_EQ(
        dlg_logged("choice:"),
        std::vector<std::string>{"choice: |Should I rescale the image to minimize information loss ?| [Yes|No|Maybe]"});
    dlg_push_button(1);
    file_cmd("Save Short MRC", {dir + "/s.mrc"});
    EXPECT_EQ(read_file(dir + "/s.img").size(), 1024u + 2 * 32 * 32);
    // No complex SPIDER files.
    select_images({2});
    testing::internal::CaptureStdout();
    file_cmd("Save SPIDER", {dir + "/c"});
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Cannot write complex SPIDER files.\n"), std::string::npos);
    EXPECT_FALSE(exists(dir + "/c.DAT"));
    // "Save MRC new ext": the file names with a new extension; the folder's '.' is none.
    ASSERT_EQ(mkdir((dir + "/v1.0").c_str(), 0700), 0);
    select_images({1, 3});
    dlg_push_text("mrc");
    menu_run("File", "Save MRC new ext");
    EXPECT_TRUE(exists(dir + "/v1.0/one.mrc"));
    EXPECT_TRUE(exists(dir + "/two.mrc"));
    dlg_push_cancel();
    menu_run("File", "Save MRC new ext");
    dlg_push_text("");
    menu_run("File", "Save MRC new ext");
    // Nothing selected: no entry saves or asks anything.
    size_t asked = dlg_log().size();
    select_images({});
    for (const char* item :
         {"Save MRC", "Save Short MRC", "Save MRC new ext", "Save IMAGIC", "Save SPIDER", "Save PIF", "Save PGM"})
        menu_run("File", item);
    EXPECT_EQ(dlg_log().size(), asked);
    EXPECT_EQ(dlg_unexpected(), 0);
    EXPECT_EQ(busy_depth(), 0);
}

TEST_F(ShellFiles, OverwriteQuestionsOnlyYesAndAllWrite) {
    add_to_group({make_data(16, 16, "a"), make_data(16, 16, "b"), make_data(16, 16, "c")});
    const std::vector<std::string> one = {dir + "/p.img"},
                                   three = {dir + "/s.000.img", dir + "/s.001.img", dir + "/s.002.img"};
    const struct {
        std::vector<int> lines, answers;
        const char* kept;  // per file: 'o' old bytes, 'n' written
        const char* asked;
    } rows[] = {
        {{1}, {2}, "o", "/p.img|exists. Overwrite? [Yes|No|Abort]"},  // "No"
        {{1}, {3}, "o", "/p.img|exists. Overwrite? [Yes|No|Abort]"},  // "Abort"
        {{1}, {1}, "n", "/p.img|exists. Overwrite? [Yes|No|Abort]"},
        // "Yes" for the first, "All" for the second: the third is written unasked.
        {{1, 2, 3}, {1, 2}, "nnn", "/s.001.img|exists. Overwrite? [Yes|All|Abort]"},
        // "Yes" then "Abort": the first stays written, the rest keep their old bytes.
        {{1, 2, 3}, {1, 3}, "noo", "/s.001.img|exists. Overwrite? [Yes|All|Abort]"},
    };
    for (auto& r : rows) {
        const auto& files = r.lines.size() == 1 ? one : three;
        for (auto& f : files) std::ofstream(f) << "old";
        dlg_clear();
        select_images(r.lines);
        file_cmd("Save MRC", {dir + (r.lines.size() == 1 ? "/p.mrc" : "/s")}, r.answers);
        auto asked = dlg_logged("choice:");
        EXPECT_EQ(asked.size(), r.answers.size()) << r.asked;
        EXPECT_EQ(asked.empty() ? "" : asked.back(), "choice: The file|" + dir + r.asked);
        for (size_t i = 0; i < files.size(); i++)
            EXPECT_EQ(read_file(files[i]) == "old", r.kept[i] == 'o') << r.asked << " " << i;
    }
    EXPECT_EQ(dlg_unexpected(), 0);
    EXPECT_EQ(busy_depth(), 0);
}

TEST_F(ShellFiles, ClipsUseDefaultFilespecs) {
    ASSERT_EQ(chdir(dir.c_str()), 0);
    add_to_group({make_data(16, 16, "Clip img (1,2)", "img_001.img"),
                  make_data(16, 16, "Clip img (5,6)", "img_002.img"), make_complex(14, 16, "Clip fft")});
    sel_All(nullptr, 0);
    dlg_push_button(1);  // default filespecs: no file selector
    menu_run("File", "Save MRC");
    EXPECT_EQ(dlg_unexpected(), 0);
    for (const char* n : {"/img_001.img", "/img_002.img", "/Clip fft.tnf"}) EXPECT_TRUE(exists(dir + n)) << n;
    EXPECT_EQ(dlg_log(), std::vector<std::string>{"choice: Should I use the default filespecs|in the current "
                                                  "directory, starting with|img_001.img [Yes|No|Abort]"});
    // "Abort" ends the command; "No" goes to the file selector.
    dlg_clear();
    dlg_push_button(3);
    menu_run("File", "Save MRC");
    EXPECT_EQ(dlg_log().size(), 1u);
    dlg_push_button(2);
    dlg_push_files({dir + "/n"});
    menu_run("File", "Save MRC");
    EXPECT_TRUE(exists(dir + "/n.000.img"));
    EXPECT_TRUE(exists(dir + "/n.002.tnf"));
}

TEST_F(ShellFiles, ReadListWithInterleave) {
    std::string empty = dir + "/empty.mrc", missing = dir + "/missing.mrc";
    std::ofstream(empty).close();
    for (char L : {'A', 'B', 'C'}) {
        std::ofstream lst(dir + "/" + L + ".lst");
        for (int i = 0; i < 3; i++) {
            std::string n = dir + "/" + L + std::to_string(i) + ".mrc";
            write_mrc(n, 8, 8, (float)i);
            // List C names its files relative to its own folder.
            lst << (L == 'C' ? n.substr(dir.size() + 1) : n) << (i == 1 ? "   trailing comment\n" : "\n");
        }
        lst << (L == 'B' ? empty : missing) << "\n";
    }
    for (char L : {'A', 'B', 'C'}) file_cmd("Read List w Interleave", {dir + "/" + L + ".lst"});
    std::vector<std::string> want = {"C0.mrc", "B0.mrc", "A0.mrc", "C1.mrc", "B1.mrc",
                                     "A1.mrc", "C2.mrc", "B2.mrc", "A2.mrc"};
    EXPECT_EQ(group_names(current_group()), want);
    EXPECT_EQ(interleave_counter(), 3);
    std::string gone = box(missing, "No such file or directory");
    EXPECT_EQ(dlg_logged("message:"), (std::vector<std::string>{gone, box(empty, "The file is empty"), gone}));
    // Reading into an empty group starts the counter again; a list that is
    // not there says so.
    add_group("Second");
    fl_select_browser_line(control->groups, 2);
    sel_Group(nullptr, 0);
    file_cmd("Read List w Interleave", {dir + "/B.lst"});
    EXPECT_EQ(interleave_counter(), 1);
    EXPECT_EQ(group_names(current_group()), (std::vector<std::string>{"B0.mrc", "B1.mrc", "B2.mrc"}));
    dlg_clear();
    file_cmd("Read List w Interleave", {dir + "/nolist.lst"});
    EXPECT_EQ(dlg_logged("message:"), std::vector<std::string>{box(dir + "/nolist.lst", "No such file or directory")});
    EXPECT_EQ(count(current_group()), 3);
}

TEST_F(ShellFiles, QuitSavesPreferencesAndExitsZero) {
    std::string home = getenv("HOME");
    unlink((home + "/.tvenv").c_str());
    EXPECT_EXIT(menu_run("File", "Quit"), testing::ExitedWithCode(0), "");
    std::string env = read_file(home + "/.tvenv");
    EXPECT_NE(env.find("UC\t      1\n"), std::string::npos) << env;
    EXPECT_NE(env.find("privcmap\t      0\n"), std::string::npos);
}

// ---- the file selector: listing without a shell, path rules, clicks and typing

namespace {
int lineOf(const std::string& name) {
    for (int i = 1; i <= fsel_lines(); i++)
        if (fsel_line(i) == name) return i;
    return -1;
}

std::string pathField() {
    return fl_get_input(filesel->path);
}

// Answers the next modal run from a timer inside its loop: the "File:" text
// as typed, then OK, or Cancel when there is none.
std::string g_typed;
void typeThenEnd(int, void*) {
    fl_set_input(filesel->file, g_typed.c_str());
    fsel_file(nullptr, 0);
    fl_trigger_object(g_typed.empty() ? filesel->cancel : filesel->ok);
}
void answerWith(const std::string& typed) {
    g_typed = typed;
    fl_add_timeout(30, typeThenEnd, nullptr);
}

// A folder with awkward names.
std::string makeTree() {
    std::string d = shell_tmpdir();
    mkdir((d + "/sub dir").c_str(), 0700);
    for (const char* n : {"image1.mrc", "image2.mrc", "a1.mrc", "with blank.mrc", "$(touch pwned);'q\".mrc", "@bold",
                          ".hidden", "sub dir/inner.mrc"})
        std::ofstream(d + "/" + n) << "x";
    return d;
}
}  // namespace

TEST(ShellFsel, ListingPathRulesShortcutsClicksAndTyping) {
    fsel_init();
    std::string d = makeTree();
    EXPECT_EQ(fsel_list_dir(d), (std::vector<std::string>{"$(touch pwned);'q\".mrc", "@bold", "a1.mrc", "image1.mrc",
                                                          "image2.mrc", "sub dir/", "with blank.mrc"}));
    EXPECT_FALSE(exists(d + "/pwned"));
    EXPECT_TRUE(fsel_list_dir(d + "/nonexistent").empty());
    fsel_set_path((d + "/").c_str());
    EXPECT_EQ(pathField(), d);  // shown and listed without the "/"
    EXPECT_EQ(fsel_line(1), "..");
    EXPECT_EQ(fsel_lines(), 8);
    // The browser shows names as they are, '@' included.
    EXPECT_STREQ(fl_get_browser_line(filesel->browser, lineOf("@bold")), "@bold");
    // An inaccessible path is cut back to its longest accessible prefix; long paths are fine.
    std::string longPath = d;
    for (int i = 0; i < 300; i++) longPath += "/abcdefghijklmnopqrstuvwxyz";
    for (const std::string& p : {d + "/no/such/dir", longPath, std::string("nowhere-at-all")}) {
        fsel_set_path(p.c_str());
        EXPECT_EQ(pathField(), p[0] == '/' ? d : "/");
    }
    fsel_button(filesel->home, 0);
    EXPECT_EQ(pathField(), getenv("HOME"));
    fsel_set_path(d.c_str());
    fsel_button(filesel->usrSet[1], 8);  // ">" beside U2
    EXPECT_STREQ(getenv2d("usr_dir_2", ""), d.c_str());
    fsel_button(filesel->tmp, 2);
    EXPECT_EQ(pathField(), "/tmp");
    fsel_button(filesel->usr[1], 5);
    EXPECT_EQ(pathField(), d);
    // Double clicks: a folder is entered, ".." goes up, a file is accepted like OK.
    fsel_single = 1;
    fl_select_browser_line(filesel->browser, lineOf("sub dir/"));
    fsel_dbl(nullptr, 0);
    EXPECT_EQ(pathField(), d + "/sub dir");
    EXPECT_EQ(fsel_line(2), "inner.mrc");
    fl_select_browser_line(filesel->browser, 1);
    fsel_dbl(nullptr, 0);
    EXPECT_EQ(pathField(), d);
    fl_select_browser_line(filesel->browser, lineOf("with blank.mrc"));
    fsel_dbl(nullptr, 0);
    EXPECT_EQ(fsel_accepted(), 1);
    EXPECT_EQ(std::string(fsel_get_path()) + "/" + fsel_get_name(), d + "/with blank.mrc");
    while (fl_check_forms()) {  // drain the OK the double click queued
    }
    // Typing in multiple mode selects by prefix; "All" never takes "..".
    fsel_single = 0;
    fl_set_input(filesel->file, "im");
    fsel_file(nullptr, 0);
    EXPECT_EQ(selected_lines(filesel->browser), (std::vector<int>{lineOf("image1.mrc"), lineOf("image2.mrc")}));
    EXPECT_EQ(fsel_names(), (std::vector<std::string>{"image1.mrc", "image2.mrc"}));
    List* l = fsel_get_names();
    EXPECT_EQ(l->count(), 2);
    for (int i = 0; i < l->count(); i++) free(l->objectAt(i));
    delete l;
    fsel_button(filesel->all, 10);
    std::vector<int> all = selected_lines(filesel->browser);
    EXPECT_EQ(all.size() + 1, (size_t)fsel_lines());
    EXPECT_EQ(all.empty() ? 0 : all.front(), 2);
    fsel_button(filesel->none, 11);
    EXPECT_TRUE(selected_lines(filesel->browser).empty());
    // Single mode: exact match, and "All" picks line 1.
    fsel_single = 1;
    fl_set_input(filesel->file, "a1.mrc");
    fsel_file(nullptr, 0);
    EXPECT_EQ(selected_lines(filesel->browser), std::vector<int>{lineOf("a1.mrc")});
    fsel_button(filesel->all, 10);
    EXPECT_EQ(selected_lines(filesel->browser), std::vector<int>{1});
}

// The real modal loop, answered from a timer inside it.
TEST(ShellFsel, ModalRunsReturnTheChoice) {
    fsel_init();
    std::string d = makeTree();
    fsel_set_path(d.c_str());
    dlg_set_scripted(false);
    std::string p;
    answerWith("with blank.mrc");
    EXPECT_TRUE(dlg_file_single(&p));
    EXPECT_EQ(p, d + "/with blank.mrc");
    EXPECT_STREQ(getenv2d("last_dir", ""), d.c_str());
    EXPECT_FALSE(filesel->fsel->visible);
    std::vector<std::string> many;
    answerWith("im");
    EXPECT_TRUE(dlg_file_multiple(&many));
    EXPECT_EQ(many, (std::vector<std::string>{d + "/image1.mrc", d + "/image2.mrc"}));
    setenv2("last_dir", "/");
    answerWith("");
    EXPECT_FALSE(dlg_file_single(&p));
    EXPECT_STREQ(getenv2d("last_dir", ""), "/");  // Cancel changes no preference
    dlg_set_scripted(true);
    EXPECT_EQ(control->control->deactivated, 0);
}
