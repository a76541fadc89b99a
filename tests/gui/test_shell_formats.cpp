// Every format through the File menu with a queued file selection: third-party
// files in, and each writer's files back in through its own Open entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/control.h"
#include "app/dialogs.h"
#include "app/file_cmds.h"
#include "app/menus.h"
#include "app/state.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "tests/gui/shell_env.h"

namespace {
const std::string kData = TARVIK_TEST_DATA;

MRCData* at(int i) {
    return (MRCData*)current_group()->objectAt(i);
}

}  // namespace

TEST(ShellFormats, OpenMrcFixturesPlainAndCompressed) {
    shell_reset();
    dlg_push_files({kData + "/mrc/mode0_le.mrc", kData + "/mrc/mode1_be.mrc", kData + "/mrc/mode2_le.mrc.gz"});
    menu_run("File", "Open MRC");
    ASSERT_EQ(count(current_group()), 3);
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(at(i)->xSize(), 64);
        EXPECT_EQ(at(i)->ySize(), 48);
    }
    EXPECT_STREQ(at(2)->Name(), "mode2_le.mrc.gz");
}

TEST(ShellFormats, OpenSpiderFixture) {
    shell_reset();
    dlg_push_files({kData + "/spider/img_64x48.spi"});
    menu_run("File", "Open SPIDER");
    ASSERT_EQ(count(current_group()), 1);
    EXPECT_EQ(at(0)->xSize(), 64);
    EXPECT_EQ(at(0)->ySize(), 48);
}

TEST(ShellFormats, OpenPictures) {
    shell_reset();
    dlg_push_files({kData + "/netpbm/pattern_u8_64x48.pgm", kData + "/netpbm/pattern_u8_64x48.gif"});
    menu_run("File", "Open Picture");
    ASSERT_GE(count(current_group()), 1);  // the GIF needs the netpbm converters
    EXPECT_EQ(at(0)->xSize(), 64);
    EXPECT_EQ(at(0)->ySize(), 48);
}

TEST(ShellFormats, OpenImagicSingleImageJoinsTheCurrentGroup) {
    shell_reset();
    dlg_push_files({kData + "/selfmade/img_64x48_le.hed"});
    menu_run("File", "Open IMAGIC");
    EXPECT_EQ(count(dataList), 1);
    ASSERT_EQ(count(current_group()), 1);
    EXPECT_EQ(at(0)->xSize(), 64);
}

TEST(ShellFormats, ImagicStackOfFiveBecomesANewGroup) {
    shell_reset();
    std::string dir = shell_tmpdir();
    std::vector<MRCData*> ds;
    for (int i = 0; i < 5; i++) ds.push_back(make_data(16, 16, ("s" + std::to_string(i)).c_str(), nullptr, (float)i));
    add_to_group(ds);
    sel_All(nullptr, 0);
    dlg_push_files({dir + "/stack.hed"});
    menu_run("File", "Save IMAGIC");
    EXPECT_TRUE(exists(dir + "/stack.hed"));
    EXPECT_TRUE(exists(dir + "/stack.img"));
    dlg_push_files({dir + "/stack.hed"});
    menu_run("File", "Open IMAGIC");
    ASSERT_EQ(count(dataList), 2);
    EXPECT_STREQ(fl_get_browser_line(control->groups, 2), "new group");
    EXPECT_EQ(fl_get_browser(control->groups), 2);
    EXPECT_EQ(count(current_group()), 5);
    EXPECT_EQ(fl_get_browser_maxline(control->images), 5);
}

TEST(ShellFormats, SpiderSeriesNamesAndReadsBack) {
    shell_reset();
    std::string dir = shell_tmpdir();
    add_to_group({make_data(16, 16, "a"), make_data(16, 16, "b"), make_data(16, 16, "c")});
    sel_All(nullptr, 0);
    dlg_push_files({dir + "/set.spi"});
    menu_run("File", "Save SPIDER");
    for (const char* n : {"/set001.DAT", "/set002.DAT", "/set003.DAT"}) EXPECT_TRUE(exists(dir + n)) << n;
    shell_reset();
    dlg_push_files({dir + "/set002.DAT"});
    menu_run("File", "Open SPIDER");
    ASSERT_EQ(count(current_group()), 1);
    EXPECT_EQ(at(0)->xSize(), 16);
}

TEST(ShellFormats, PifAndPgmRoundTrips) {
    shell_reset();
    std::string dir = shell_tmpdir();
    add_to_group({make_data(16, 16, "a"), make_data(16, 16, "b")});
    sel_All(nullptr, 0);
    dlg_push_files({dir + "/two.pif"});
    menu_run("File", "Save PIF");
    EXPECT_TRUE(exists(dir + "/two.pif"));  // the extension stays
    dlg_clear();
    dlg_push_files({dir + "/two.pif"});
    menu_run("File", "Open PIF");
    EXPECT_EQ(count(dataList), 2);  // two images: a new group
    shell_reset();
    add_to_group({make_data(16, 16, "a")});
    select_images({1});
    dlg_push_files({dir + "/one.xyz"});
    menu_run("File", "Save PGM");
    EXPECT_TRUE(exists(dir + "/one.pgm"));
    EXPECT_EQ(read_file(dir + "/one.pgm").substr(0, 3), "P5\n");
}
