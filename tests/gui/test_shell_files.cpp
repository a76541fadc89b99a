// File menu: opening through the queued file selection, the naming rules and
// overwrite answers of the save commands, list reading with interleave.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/control.h"
#include "app/dialogs.h"
#include "app/file_cmds.h"
#include "app/menus.h"
#include "app/state.h"
#include "app/viewlink.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/hooks.h"
#include "tests/gui/shell_env.h"

namespace {
struct Cwd {
    std::string old;
    explicit Cwd(const std::string& d) {
        char b[4096];
        old = getcwd(b, sizeof b) ? b : "/";
        EXPECT_EQ(chdir(d.c_str()), 0);
    }
    ~Cwd() { (void)!chdir(old.c_str()); }
};

// Count of choice dialogs asked so far.
int choices() {
    int n = 0;
    for (auto& s : dlg_log())
        if (s.rfind("choice:", 0) == 0) n++;
    return n;
}

void selectAll() {
    sel_All(nullptr, 0);
}
}  // namespace

TEST(ShellFiles, OpenMrcThroughTheMenuNamesWithBlanksAndShellCharacters) {
    shell_reset();
    std::string dir = shell_tmpdir();
    std::string a = dir + "/a b.mrc", b = dir + "/x'$(touch boom).mrc", bad = dir + "/bad.mrc";
    write_mrc(a, 64, 48);
    write_mrc(b, 32, 32);
    std::ofstream(bad) << "not an image";
    dlg_push_files({a, bad, b});
    menu_run("File", "Open MRC");
    EXPECT_EQ(dlg_unexpected(), 0);
    List* g = current_group();
    ASSERT_EQ(count(g), 2);  // the unreadable file leaves nothing behind
    EXPECT_STREQ(fl_get_browser_line(control->images, 1), "1. a b.mrc 64x48");
    EXPECT_STREQ(fl_get_browser_line(control->images, 2), "2. x'$(touch boom).mrc 32x32");
    EXPECT_FALSE(exists(dir + "/boom"));
    EXPECT_EQ(((MRCData*)g->objectAt(1))->Seqno(), 2);
    EXPECT_EQ(busy_depth(), 0);
    EXPECT_EQ(control->control->deactivated, 0);  // the panel is usable again
}

TEST(ShellFiles, CancelledSelectionOpensNothing) {
    shell_reset();
    dlg_push_files({});
    menu_run("File", "Open MRC");
    EXPECT_EQ(count(current_group()), 0);
    EXPECT_EQ(dlg_pending(), 0);
}

TEST(ShellFiles, OtherFormatsReadOrSayTheyAreMissing) {
    shell_reset();
    std::string dir = shell_tmpdir();
    std::string f = dir + "/img.mrc";
    write_mrc(f, 16, 16);
    for (const char* item : {"Open IMAGIC", "Open SPIDER", "Open PIF", "Open ScansALot", "Open Picture"}) {
        dlg_clear();
        dlg_push_files({f});
        int before = count(current_group());
        menu_run("File", item);
        EXPECT_EQ(dlg_pending(), 0) << item;
        // An MRC file is not a valid file of these formats, so nothing is added
        // either way; a missing format says so in a message.
        EXPECT_EQ(count(current_group()), before) << item;
        EXPECT_EQ(busy_depth(), 0);
    }
}

TEST(ShellFiles, SaveMrcSingleNamesByType) {
    shell_reset();
    std::string dir = shell_tmpdir();
    add_to_group({make_data(32, 32, "r"), make_complex(32, 32, "c")});
    select_images({1});
    dlg_push_files({dir + "/particle.mrc"});
    menu_run("File", "Save MRC");
    EXPECT_TRUE(exists(dir + "/particle.img"));
    EXPECT_FALSE(exists(dir + "/particle.mrc"));
    select_images({2});
    dlg_push_files({dir + "/particle.mrc"});
    menu_run("File", "Save MRC");
    EXPECT_TRUE(exists(dir + "/particle.tnf"));
    // Only 3-letter extensions are cut.
    select_images({1});
    dlg_push_files({dir + "/data.tiff"});
    menu_run("File", "Save MRC");
    EXPECT_TRUE(exists(dir + "/data.tiff.img"));
    EXPECT_EQ(dlg_unexpected(), 0);
    EXPECT_EQ(busy_depth(), 0);
}

TEST(ShellFiles, SaveMrcSeriesNumbersFiles) {
    shell_reset();
    std::string dir = shell_tmpdir();
    add_to_group({make_data(16, 16, "a"), make_data(16, 16, "b"), make_data(16, 16, "c")});
    selectAll();
    dlg_push_files({dir + "/set"});
    menu_run("File", "Save MRC");
    for (const char* n : {"/set.000.img", "/set.001.img", "/set.002.img"}) EXPECT_TRUE(exists(dir + n)) << n;
    MRCData back;
    ASSERT_EQ(back.readMRCData((dir + "/set.001.img").c_str()), 1);
    EXPECT_EQ(back.xSize(), 16);
}

TEST(ShellFiles, OverwriteSingleOnlyYesWrites) {
    shell_reset();
    std::string dir = shell_tmpdir();
    add_to_group({make_data(16, 16, "a")});
    select_images({1});
    std::string f = dir + "/p.img";
    for (int answer : {2, 3}) {  // "No", "Abort"
        std::ofstream(f) << "old";
        dlg_clear();
        dlg_push_files({dir + "/p.mrc"});
        dlg_push_button(answer);
        menu_run("File", "Save MRC");
        EXPECT_EQ(read_file(f), "old") << answer;
        EXPECT_EQ(choices(), 1);
        ASSERT_FALSE(dlg_log().empty());
        EXPECT_NE(dlg_log().back().find("The file|" + f + "|exists. Overwrite? [Yes|No|Abort]"), std::string::npos)
            << dlg_log().back();
    }
    dlg_push_files({dir + "/p.mrc"});
    dlg_push_button(1);
    menu_run("File", "Save MRC");
    EXPECT_GT(read_file(f).size(), 1024u);
    EXPECT_EQ(busy_depth(), 0);
}

TEST(ShellFiles, OverwriteSeriesAllAndAbort) {
    shell_reset();
    std::string dir = shell_tmpdir();
    add_to_group({make_data(16, 16, "a"), make_data(16, 16, "b"), make_data(16, 16, "c")});
    selectAll();
    std::vector<std::string> f = {dir + "/s.000.img", dir + "/s.001.img", dir + "/s.002.img"};
    for (auto& n : f) std::ofstream(n) << "old";
    // "Yes" for the first, "All" for the second: the third is written unasked.
    dlg_push_files({dir + "/s"});
    dlg_push_button(1);
    dlg_push_button(2);
    menu_run("File", "Save MRC");
    EXPECT_EQ(choices(), 2);
    for (auto& n : f) EXPECT_GT(read_file(n).size(), 1024u) << n;
    // "Yes" then "Abort": the first stays written, the rest keep their old bytes.
    for (auto& n : f) std::ofstream(n) << "old";
    dlg_clear();
    dlg_push_files({dir + "/s"});
    dlg_push_button(1);
    dlg_push_button(3);
    menu_run("File", "Save MRC");
    EXPECT_EQ(choices(), 2);
    EXPECT_GT(read_file(f[0]).size(), 1024u);
    EXPECT_EQ(read_file(f[1]), "old");
    EXPECT_EQ(read_file(f[2]), "old");
    EXPECT_EQ(dlg_unexpected(), 0);
    EXPECT_EQ(busy_depth(), 0);
}

TEST(ShellFiles, ClipsUseDefaultFilespecs) {
    shell_reset();
    std::string dir = shell_tmpdir();
    Cwd here(dir);
    add_to_group({make_data(16, 16, "Clip img (1,2)", "img_001.img"),
                  make_data(16, 16, "Clip img (5,6)", "img_002.img"), make_complex(14, 16, "Clip fft")});
    selectAll();
    dlg_push_button(1);  // default filespecs: no file selector
    menu_run("File", "Save MRC");
    EXPECT_EQ(dlg_unexpected(), 0);
    EXPECT_TRUE(exists(dir + "/img_001.img"));
    EXPECT_TRUE(exists(dir + "/img_002.img"));
    EXPECT_TRUE(exists(dir + "/Clip fft.tnf"));
    ASSERT_GE(dlg_log().size(), 1u);
    EXPECT_NE(
        dlg_log()[0].find("Should I use the default filespecs|in the current directory, starting with|img_001.img"),
        std::string::npos);
    // "Abort" ends the command; "No" goes to the file selector.
    dlg_clear();
    dlg_push_button(3);
    menu_run("File", "Save MRC");
    EXPECT_EQ(dlg_log().size(), 1u);
    dlg_clear();
    dlg_push_button(2);
    dlg_push_files({dir + "/n"});
    menu_run("File", "Save MRC");
    EXPECT_TRUE(exists(dir + "/n.000.img"));
    EXPECT_TRUE(exists(dir + "/n.002.tnf"));
}

TEST(ShellFiles, NonClipFirstNameAsksNoFilespecQuestion) {
    shell_reset();
    std::string dir = shell_tmpdir();
    add_to_group({make_data(16, 16, "plain"), make_data(16, 16, "Clip x")});
    selectAll();
    dlg_push_files({dir + "/q"});
    menu_run("File", "Save MRC");
    EXPECT_EQ(choices(), 0);
    EXPECT_TRUE(exists(dir + "/q.001.img"));
}

TEST(ShellFiles, SaveShortMrcMaybeCancelsYesRescales) {
    shell_reset();
    std::string dir = shell_tmpdir();
    add_to_group({make_data(16, 16, "a")});
    select_images({1});
    dlg_push_button(3);  // "Maybe"
    menu_run("File", "Save Short MRC");
    EXPECT_EQ(dlg_pending(), 0);
    EXPECT_EQ(dlg_log().size(), 1u);
    EXPECT_NE(dlg_log()[0].find("|Should I rescale the image to minimize information loss ?| [Yes|No|Maybe]"),
              std::string::npos)
        << dlg_log()[0];
    dlg_push_button(1);
    dlg_push_files({dir + "/s.mrc"});
    menu_run("File", "Save Short MRC");
    std::string bytes = read_file(dir + "/s.img");
    EXPECT_EQ(bytes.size(), 1024u + 2 * 16 * 16);  // 16-bit values
}

TEST(ShellFiles, SaveNewExtension) {
    shell_reset();
    std::string dir = shell_tmpdir();
    std::string src = dir + "/v1.0/one.img";
    add_to_group({make_data(16, 16, "one", src.c_str()), make_data(16, 16, "two", (dir + "/two").c_str())});
    ASSERT_EQ(system(("mkdir -p '" + dir + "/v1.0'").c_str()), 0);
    selectAll();
    dlg_push_text("mrc");
    menu_run("File", "Save MRC new ext");
    EXPECT_TRUE(exists(dir + "/v1.0/one.mrc"));
    EXPECT_TRUE(exists(dir + "/two.mrc"));  // the folder's '.' is no extension
    dlg_push_cancel();
    menu_run("File", "Save MRC new ext");
    dlg_push_text("");
    menu_run("File", "Save MRC new ext");
    EXPECT_EQ(dlg_unexpected(), 0);
}

TEST(ShellFiles, EmptySelectionSavesNothingAndAsksNothing) {
    shell_reset();
    add_to_group({make_data(16, 16, "a")});
    select_images({});
    for (const char* item :
         {"Save MRC", "Save Short MRC", "Save MRC new ext", "Save IMAGIC", "Save SPIDER", "Save PIF", "Save PGM"})
        menu_run("File", item);
    EXPECT_TRUE(dlg_log().empty());
}

TEST(ShellFiles, ComplexSpiderRefused) {
    shell_reset();
    std::string dir = shell_tmpdir();
    add_to_group({make_complex(16, 16, "c")});
    select_images({1});
    dlg_push_files({dir + "/c"});
    testing::internal::CaptureStdout();
    menu_run("File", "Save SPIDER");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("Cannot write complex SPIDER files.\n"), std::string::npos);
    EXPECT_FALSE(exists(dir + "/c.DAT"));
    EXPECT_EQ(busy_depth(), 0);
}

TEST(ShellFiles, PgmNeedsExactlyOneImage) {
    shell_reset();
    std::string dir = shell_tmpdir();
    add_to_group({make_data(16, 16, "a"), make_data(16, 16, "b")});
    selectAll();
    dlg_push_files({dir + "/p.pgm"});
    menu_run("File", "Save PGM");
    ASSERT_FALSE(dlg_log().empty());
    EXPECT_EQ(dlg_log().back(), "message: Please select 1 image to save.||");
    EXPECT_FALSE(exists(dir + "/p.pgm"));
}

TEST(ShellFiles, ReadListWithInterleave) {
    shell_reset();
    std::string dir = shell_tmpdir();
    for (char L : {'A', 'B', 'C'}) {
        std::ofstream lst(dir + "/" + L + ".lst");
        for (int i = 0; i < 3; i++) {
            std::string n = dir + "/" + L + std::to_string(i) + ".mrc";
            write_mrc(n, 8, 8, (float)i);
            lst << n << (i == 1 ? "   trailing comment\n" : "\n");
        }
        lst << dir << "/missing.mrc\n";
    }
    for (char L : {'A', 'B', 'C'}) {
        dlg_push_files({dir + "/" + L + ".lst"});
        menu_run("File", "Read List w Interleave");
    }
    std::vector<std::string> want = {"C0.mrc", "B0.mrc", "A0.mrc", "C1.mrc", "B1.mrc",
                                     "A1.mrc", "C2.mrc", "B2.mrc", "A2.mrc"};
    EXPECT_EQ(group_names(current_group()), want);
    EXPECT_EQ(interleave_counter(), 3);
    // Reading into an empty group starts the counter again.
    fl_set_input(control->groupName, "");
    sel_Addgr(nullptr, 0);
    fl_select_browser_line(control->groups, 2);
    sel_Group(nullptr, 0);
    dlg_push_files({dir + "/B.lst"});
    menu_run("File", "Read List w Interleave");
    EXPECT_EQ(interleave_counter(), 1);
    EXPECT_EQ(group_names(current_group()), (std::vector<std::string>{"B0.mrc", "B1.mrc", "B2.mrc"}));
}

TEST(ShellFiles, QuitSavesPreferencesAndExitsZero) {
    std::string home = getenv("HOME");
    unlink((home + "/.tvenv").c_str());
    EXPECT_EXIT(menu_run("File", "Quit"), testing::ExitedWithCode(0), "");
    std::string env = read_file(home + "/.tvenv");
    EXPECT_NE(env.find("UC\t      1\n"), std::string::npos) << env;
    EXPECT_NE(env.find("privcmap\t      0\n"), std::string::npos);
}

TEST(ShellFiles, CommandLineFilesOpenIntoDefaultAndTheFirstIsShown) {
    shell_reset();
    std::string dir = shell_tmpdir();
    std::string a = dir + "/first image.mrc", b = dir + "/second.mrc", bad = dir + "/nothing.mrc";
    write_mrc(a, 40, 30);
    write_mrc(b, 20, 20);
    std::vector<std::string> names = {a, bad, b};
    std::vector<char*> av;
    for (auto& n : names) av.push_back(&n[0]);
    EXPECT_EQ(open_startup_files((int)av.size(), av.data()), 2);
    EXPECT_EQ(group_names(current_group()), (std::vector<std::string>{"first image.mrc", "second.mrc"}));
    EXPECT_TRUE(fl_isselected_browser_line(control->images, 1));
    EXPECT_FALSE(fl_isselected_browser_line(control->images, 2));
    DataWin* v = current_view();
    ASSERT_EQ(count(v->data()), 1);
    EXPECT_EQ(v->firstdata(), current_group()->objectAt(0));
}
