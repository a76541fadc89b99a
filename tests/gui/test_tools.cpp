// The Tools menu on the selected data sets of the current group.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "app/control.h"
#include "app/dialogs.h"
#include "app/menus.h"
#include "app/state.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/hooks.h"
#include "core/prefs.h"
#include "display/datawin.h"
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

// Filter at L = 20 A on a 120 x 80 image of 2 A pixels: 1/L is 12 periods
// across x and 8 along y, and the gaussian's value there, exp(-pi^2/4), is the
// same along both. The result takes the old image's place in every view.
TEST(Tools, FilterActsAtOneResolutionAlongXAndYAndReplacesTheImage) {
    shell_reset();
    const int NX = 120, NY = 80;
    std::vector<float> v(NX * NY);
    for (int y = 0; y < NY; y++)
        for (int x = 0; x < NX; x++)
            v[y * NX + x] = (float)(5 + std::cos(2 * M_PI * 12 * x / NX) + 2 * std::cos(2 * M_PI * 8 * y / NY));
    MRCData* d = new MRCData();
    d->setRealData(v.data(), NX, NY, 1);
    d->setPixres(2);
    d->setName("waves");
    add_to_group({d, make_data(NX, NY, "other")});
    select_images({1});
    sel_Addview(nullptr, 0);  // a second view, now the current one, shows it too
    select_images({1});
    ASSERT_EQ(count(viewList), 2);
    dlg_push_text("20");
    menu_run("Tools", "Filter");
    MRCData* r = at(0);
    ASSERT_NE(r, d);
    ASSERT_EQ(r->xSize(), NX);
    double cx = 0, cy = 0;
    for (int y = 0; y < NY; y++)
        for (int x = 0; x < NX; x++) {
            cx += r->valueAt(x, y) * std::cos(2 * M_PI * 12 * x / NX);
            cy += r->valueAt(x, y) * std::cos(2 * M_PI * 8 * y / NY);
        }
    const double g = std::exp(-M_PI * M_PI / 4);
    EXPECT_NEAR(cx / (NX * NY / 2.0), g, 0.02 * g);
    EXPECT_NEAR(cy / (NX * NY / 2.0) / 2, g, 0.02 * g);
    EXPECT_NEAR(r->Mean(), 5, 1e-3);
    for (int i = 0; i < 2; i++) {
        DataWin* w = (DataWin*)viewList->objectAt(i);
        ASSERT_EQ(count(w->data()), 1) << i;
        EXPECT_EQ(w->data()->objectAt(0), r) << i;
    }
    EXPECT_EQ(std::string(fl_get_browser_line(control->images, 1)), std::string("1. ") + r->Name() + " 120x80");
    // Cancelled or 0: nothing happens.
    dlg_push_cancel();
    menu_run("Tools", "Filter");
    dlg_push_text("0");
    menu_run("Tools", "Filter");
    EXPECT_EQ(at(0), r);
    EXPECT_EQ(dlg_unexpected(), 0);
    EXPECT_EQ(busy_depth(), 0);
}

// The other entries, each on fresh 40 x 30 ramps (i % 97 plus a base), all
// selected: what is asked, said and changed.
TEST(Tools, EntriesChangeOrAddWhatTheySay) {
    using Check = std::function<void(const std::string& out)>;
    double mean = 0;
    int clipped = 0;  // ramp values outside [10, 80]
    for (int i = 0; i < 1200; i++) mean += i % 97 / 1200.0, clipped += i % 97 < 10 || i % 97 > 80;
    char clipMsg[96];
    std::snprintf(clipMsg, sizeof clipMsg, "message: %5.3f%% of the pixels were clipped.||", 100.0 * clipped / 1200);
    struct {
        const char* label;
        std::vector<float> bases;
        const char* answer;
        Check check;
    } cases[] = {
        {"Clip colors",
         {0},
         nullptr,
         [&](const std::string&) {
             EXPECT_EQ(dlg_log().at(0), clipMsg);
             EXPECT_EQ(at(0)->Max(), 80);
         }},
        {"Average",
         {0, 4},
         nullptr,
         [](const std::string&) {
             ASSERT_EQ(count(current_group()), 3);
             EXPECT_STREQ(at(2)->Name(), "Avg of 2, a");
             EXPECT_EQ(at(2)->valueAt(5, 1), 45 + 2.0f);  // (i % 97 + i % 97 + 4) / 2 at i = 45
         }},
        {"FFT Average",
         {0},
         nullptr,
         [](const std::string& out) {
             EXPECT_EQ(out, "Averaging error\n");
             EXPECT_EQ(count(current_group()), 1);
         }},
        {"Subtract",
         {7, 0},
         nullptr,
         [](const std::string&) {
             EXPECT_EQ(at(0)->Min(), 7);
             EXPECT_EQ(at(0)->valueAt(39, 29), 7);
         }},
        {"Subtract",
         {7, 0, 0},
         nullptr,
         [](const std::string& out) {
             EXPECT_EQ(out, "Need 2 data sets to subtract\n");
             EXPECT_EQ(at(0)->valueAt(39, 29), (29 * 40 + 39) % 97 + 7);
         }},
        {"V. Flip", {0}, nullptr, [](const std::string&) { EXPECT_EQ(at(0)->valueAt(3, 0), (29 * 40 + 3) % 97); }},
        {"Mask Step",
         {0},
         "not a number",
         [&](const std::string&) {
             // The default radius, 15: the corner takes the old mean, the centre stays.
             EXPECT_NEAR(at(0)->valueAt(0, 0), mean, 1e-3);
             EXPECT_EQ(at(0)->valueAt(20, 15), (15 * 40 + 20) % 97);
             EXPECT_EQ(dlg_log().at(0), "input: Mask radius");
         }},
        {"Pad for FFT",
         {0},
         "50,40",
         [](const std::string&) {
             EXPECT_EQ(at(0)->valueAt(5, 5), 0);  // old (0, 0)
             EXPECT_STREQ(fl_get_browser_line(control->images, 1), "1. a 50x40");
         }},
    };
    for (auto& c : cases) {
        shell_reset();
        std::vector<int> lines;
        for (float b : c.bases) {
            add_to_group({make_data(40, 30, lines.empty() ? "a" : "b", nullptr, b)});
            lines.push_back((int)lines.size() + 1);
        }
        select_images(lines);
        at(0)->setRenMinMax(10, 80);
        if (c.answer) dlg_push_text(c.answer);
        std::string out;
        {
            StdoutCapture cap;
            menu_run("Tools", c.label);
            out = cap.take();
        }
        SCOPED_TRACE(c.label);
        c.check(out);
        EXPECT_EQ(dlg_unexpected(), 0);
        EXPECT_EQ(busy_depth(), 0);
    }
    // Flood Edge floods with the largest value of all selected images.
    shell_reset();
    std::vector<float> v(30 * 20, 2.0f);
    v[10 * 30 + 15] = 5;
    MRCData* f = new MRCData();
    f->setRealData(v.data(), 30, 20, 1);
    add_to_group({f, make_data(30, 20, "b", nullptr, 3)});  // b's largest value is 99
    select_images({1, 2});
    menu_run("Tools", "Flood Edge");
    EXPECT_EQ(at(0)->valueAt(0, 0), 99);
    EXPECT_EQ(at(0)->valueAt(15, 10), 5);
}

// Each label of the Test Image menu, by pixel values worked out by hand.
TEST(TestImage, EachLabelMakesItsImageAndSmoothTakesTransformsOnly) {
    shell_reset();
    const double e = std::exp(1.0);
    struct {
        const char* label;
        int x, y;
        double v;
    } cases[] = {
        {"1.0", 7, 9, 1},
        {"Sin(x)", 16, 3, 1},
        {"Sin(y)", 5, 48, -1},
        {"Sin(x+y)", 10, 6, 1},
        {"Sin(x+y)+1.0", 10, 6, 2},
        {"Gauss y", 100, 32, 1 / e},
        {"Gauss xy", 230, 238, std::exp(-56.5 / 64)},
        {"Steps", 511, 511, 271},
        {"Steps", 511, 256, 31},
        {"Pixels", 0, 0, 510},
        {"Pixels", 0, 1, 256},
        {"Pixels", 1, 1, 2},
    };
    for (auto& c : cases) {
        const int n = count(current_group());
        ASSERT_EQ(menu_run("Test Image", c.label), 1) << c.label;
        ASSERT_EQ(count(current_group()), n + 1);
        MRCData* d = at(n);
        EXPECT_STREQ(d->Name(), "Test image");
        EXPECT_EQ(d->xSize(), 512);
        EXPECT_EQ(d->ySize(), 512);
        EXPECT_NEAR(d->valueAt(c.x, c.y), c.v, 1e-5) << c.label;
    }
    EXPECT_EQ(at(0)->Mean(), 1);
    EXPECT_EQ(at(0)->Sigma(), 0);
    // Gauss x Slip: less the spot and the diagonal wave, each row is 0.25 sin(pi (x + q) / 8)
    // with a random q of its own.
    menu_run("Test Image", "Gauss x Slip");
    MRCData* s = at(count(current_group()) - 1);
    auto rest = [&](int x, int y) {
        const double r2 = (x - 64.0) * (x - 64.0) + (y - 256.0) * (y - 256.0);
        return s->valueAt(x, y) - std::exp(-r2 / 64) - 0.25 * std::sin(M_PI * ((y - 256) + x) / 4);
    };
    for (int y : {0, 100, 256, 511}) {
        const double q8 = std::atan2(rest(0, y), rest(4, y)) * 8 / M_PI;  // sin and cos of pi q / 8
        EXPECT_NEAR(rest(0, y), 0.25 * std::sin(M_PI * q8 / 8), 1e-5) << y;
        EXPECT_NEAR(rest(301, y), 0.25 * std::sin(M_PI * (301 + q8) / 8), 1e-5) << y;
    }
    EXPECT_NE(rest(0, 0), rest(0, 1));
    // Smooth: a real image is refused, a transform smoothed.
    add_to_group({make_complex(8, 6, "c")});
    const int n = count(current_group());
    at(n - 1)->getRealData()[3 * 10 + 4] = 9;  // pair 2 of row 3
    select_images({1});
    std::string said;
    {
        StdoutCapture out;
        menu_run("Test Image", "Smooth");
        said = out.take();
    }
    EXPECT_EQ(said, "SmoothAmp() is only for complex data\nVoid return\n");
    select_images({n});
    menu_run("Test Image", "Smooth");
    ASSERT_EQ(count(current_group()), n + 1);
    const float* a = at(n)->getRealData();
    EXPECT_FLOAT_EQ(a[3 * 10 + 4], 0.5f * 9 + 0.125f * 4);
    EXPECT_FLOAT_EQ(a[3 * 10 + 6], 0.5f + 0.125f * (9 + 3));
    EXPECT_EQ(busy_depth(), 0);
}
