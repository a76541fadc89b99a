// The Tools menu on the selected data sets of the current group.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/control.h"
#include "app/dialogs.h"
#include "app/menus.h"
#include "app/state.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/hooks.h"
#include "core/prefs.h"
#include "tests/gui/shell_env.h"

namespace {
MRCData* at(int i) {
    return (MRCData*)current_group()->objectAt(i);
}
}  // namespace

TEST(Tools, FftNoticeOnFirstUseThenTransformsAndIftRestores) {
    shell_reset();
    setenvf("extfft", 1);
    add_to_group({make_data(100, 60, "a"), make_data(100, 61, "odd")});
    select_images({1});
    menu_run("Tools", "FFT");
    ASSERT_EQ(dlg_log().size(), 1u);
    EXPECT_EQ(dlg_log()[0],
              "message: Sorry, external FFTs are no longer supported.|However, the internal routine is now based on "
              "ifftsubs.|");
    EXPECT_EQ(count(current_group()), 2);
    EXPECT_EQ(getenvf("extfft"), 0.0f);
    menu_run("Tools", "FFT");
    ASSERT_EQ(count(current_group()), 3);
    EXPECT_TRUE(at(2)->isComplex());
    EXPECT_EQ(at(2)->xSize(), 102);
    EXPECT_EQ(fl_get_browser_maxline(control->images), 3);
    select_images({3});
    menu_run("Tools", "IFT");
    ASSERT_EQ(count(current_group()), 4);
    const float* a = at(0)->getRealData();
    const float* r = at(3)->getRealData();
    for (int i = 0; i < 100 * 60; i += 97) EXPECT_NEAR(r[i], a[i], 1e-3) << i;
    // 61 rows (odd): the message names the next valid size, nothing is added.
    dlg_clear();
    select_images({2});
    menu_run("Tools", "FFT");
    ASSERT_EQ(dlg_log().size(), 1u);
    EXPECT_EQ(dlg_log()[0],
              "message: Sorry, the internal FFT routine cannot process this image size|the next larger valid size is "
              "64.|");  // 62 = 2 x 31
    EXPECT_EQ(count(current_group()), 4);
    EXPECT_EQ(busy_depth(), 0);
}

TEST(Tools, NormalizeAndEdgeNormalizeInPlace) {
    shell_reset();
    add_to_group({make_data(40, 30, "a", nullptr, 5), make_data(40, 30, "b", nullptr, 9)});
    select_images({1, 2});
    menu_run("Tools", "Normalize");
    for (int i = 0; i < 2; i++) {
        EXPECT_NEAR(at(i)->Mean(), 0, 1e-4);
        EXPECT_NEAR(at(i)->Sigma(), 1, 1e-4);
    }
    menu_run("Tools", "Edge Normalize");
    EXPECT_NEAR(at(0)->EdgeMean(), 0, 1e-4);
    EXPECT_NEAR(at(0)->EdgeSigma(), 1, 1e-4);
    EXPECT_EQ(busy_depth(), 0);
}
