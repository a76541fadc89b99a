// The Tools and Test Image menus on the selected data sets of the current group.
#include "tests/gui/gui_testutil.h"

TEST(Tools, FftNoticeOnFirstUseThenTransformsAndIftRestores) {
    fresh({make_data(100, 60, "a"), make_data(100, 61, "odd")});
    setenvf("extfft", 1);
    menu_run("Tools", "FFT");
    EXPECT_EQ(dlg_log(), (std::vector<std::string>{"message: Sorry, external FFTs are no longer supported.|However, "
                                                   "the internal routine is now based on ifftsubs.|"}));
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
    for (int i = 0; i < 100 * 60; i += 97) EXPECT_NEAR(at(3)->getRealData()[i], at(0)->getRealData()[i], 1e-3) << i;
    // 61 rows (odd): the message names the next valid size (62 = 2 x 31 is
    // not one), nothing is added.
    dlg_clear();
    select_images({2});
    menu_run("Tools", "FFT");
    EXPECT_EQ(dlg_log(), (std::vector<std::string>{"message: Sorry, the internal FFT routine cannot process this "
                                                   "image size|the next larger valid size is 64.|"}));
    EXPECT_EQ(count(current_group()), 4);
    EXPECT_EQ(busy_depth(), 0);
}

// Filter at L = 20 A on a 120 x 80 image of 2 A pixels: 1/L is 12 periods
// across x and 8 along y, and the gaussian's value there, exp(-pi^2/4), is the
// same along both. The result takes the old image's place in every view.
TEST(Tools, FilterActsAtOneResolutionAlongXAndYAndReplacesTheImage) {
    const int NX = 120, NY = 80;
    auto cx = [](int x) { return std::cos(2 * M_PI * 12 * x / NX); };
    auto cy = [](int y) { return std::cos(2 * M_PI * 8 * y / NY); };
    MRCData* d = image(
        NX, NY, [&](int x, int y) { return (float)(5 + cx(x) + 2 * cy(y)); }, "waves");
    d->setPixres(2);
    fresh({d, make_data(NX, NY, "other")});
    sel_Addview(nullptr, 0);  // a second view, now the current one, shows it too
    select_images({1});
    ASSERT_EQ(count(viewList), 2);
    dlg_push_text("20");
    menu_run("Tools", "Filter");
    MRCData* r = at(0);
    ASSERT_NE(r, d);
    ASSERT_EQ(r->xSize(), NX);
    double sx = 0, sy = 0;
    for (int y = 0; y < NY; y++)
        for (int x = 0; x < NX; x++) sx += r->valueAt(x, y) * cx(x), sy += r->valueAt(x, y) * cy(y);
    const double g = std::exp(-M_PI * M_PI / 4);
    EXPECT_NEAR(sx / (NX * NY / 2.0), g, 0.02 * g);
    EXPECT_NEAR(sy / (NX * NY / 2.0) / 2, g, 0.02 * g);
    EXPECT_NEAR(r->Mean(), 5, 1e-3);
    for (int i = 0; i < 2; i++) {  // both views show the result alone
        List* shown = ((DataWin*)viewList->objectAt(i))->data();
        EXPECT_EQ(count(shown) == 1 ? objectAt(shown, 0) : nullptr, (void*)r) << i;
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

namespace {
// A measure of data set `set` after a command: a pixel (x, y) or a statistic.
enum What { VAL, MAX, MIN, MEAN, SIGMA, EMEAN, ESIGMA };
// clang-format off
struct Probe { int set; What what; double v; int x = 0, y = 0; };
// clang-format on
double measure(const Probe& p) {
    MRCData* d = at(p.set);
    const double stats[] = {0, d->Max(), d->Min(), d->Mean(), d->Sigma(), d->EdgeMean(), d->EdgeSigma()};
    return p.what == VAL ? d->valueAt(p.x, p.y) : stats[p.what];
}
double ramp(int x, int y) {  // make_data's values on 40 x 30
    return (y * 40 + x) % 97;
}
}  // namespace

// The other entries, each on fresh 40 x 30 ramps (i % 97 plus a base), all
// selected: what is asked, said, listed and changed.
TEST(Tools, EntriesChangeOrAddWhatTheySay) {
    double mean = 0;
    int clipped = 0;  // ramp values outside [10, 80]
    for (int i = 0; i < 1200; i++) mean += i % 97 / 1200.0, clipped += i % 97 < 10 || i % 97 > 80;
    char clipMsg[96];
    std::snprintf(clipMsg, sizeof clipMsg, "message: %5.3f%% of the pixels were clipped.||", 100.0 * clipped / 1200);
    // answer to the prompt, standard output, the first dialog, data sets after, the last browser line
    // clang-format off
    struct { const char* label; std::vector<float> bases; std::string answer, out, dialog; int n; std::string line;
             std::vector<Probe> probes; } cases[] = {
        {"Clip colors", {0}, "", "", clipMsg, 1, "", {{0, MAX, 80}}},
        {"Average", {0, 4}, "", "", "", 3, "3. Avg of 2, a 40x30", {{2, VAL, 45 + 2, 5, 1}}},  // i = 45
        {"FFT Average", {0}, "", "Averaging error\n", "", 1, "", {}},
        {"Normalize", {5, 9}, "", "", "", 2, "", {{0, MEAN, 0}, {0, SIGMA, 1}, {1, MEAN, 0}, {1, SIGMA, 1}}},
        {"Edge Normalize", {5}, "", "", "", 1, "", {{0, EMEAN, 0}, {0, ESIGMA, 1}}},
        {"Subtract", {7, 0}, "", "", "", 2, "", {{0, MIN, 7}, {0, VAL, 7, 39, 29}}},
        {"Subtract", {7, 0, 0}, "", "Need 2 data sets to subtract\n", "", 3, "", {{0, VAL, ramp(39, 29) + 7, 39, 29}}},
        {"V. Flip", {0}, "", "", "", 1, "", {{0, VAL, ramp(3, 29), 3, 0}}},
        // "x" is no number: the default radius, 15; the corner takes the old mean, the centre stays.
        {"Mask Step", {0}, "x", "", "input: Mask radius", 1, "", {{0, VAL, mean}, {0, VAL, ramp(20, 15), 20, 15}}},
        // (5, 5) of the padded image is the old (0, 0).
        {"Pad for FFT", {0}, "50,40", "", "input: Pad to: x size,y size", 1, "1. a 50x40", {{0, VAL, 0, 5, 5}}},
        // clang-format on
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<MRCData*> ds;
        std::vector<int> lines;
        for (float b : c.bases)
            ds.push_back(make_data(40, 30, ds.empty() ? "a" : "b", nullptr, b)), lines.push_back((int)ds.size());
        fresh(ds, lines);
        at(0)->setRenMinMax(10, 80);
        if (!c.answer.empty()) dlg_push_text(c.answer);
        EXPECT_EQ(said([&] { menu_run("Tools", c.label); }), c.out);
        EXPECT_EQ(dlg_log().empty() ? "" : dlg_log()[0], c.dialog);
        EXPECT_EQ(count(current_group()), c.n);
        if (!c.line.empty()) {
            EXPECT_STREQ(fl_get_browser_line(control->images, c.n), c.line.c_str());
        }
        for (auto& p : c.probes) EXPECT_NEAR(measure(p), p.v, 1e-3) << p.set << " " << p.what;
        EXPECT_EQ(dlg_unexpected(), 0);
        EXPECT_EQ(busy_depth(), 0);
    }
    // Flood Edge floods with the largest value of all selected images (b's, 99).
    fresh({image(30, 20, [](int x, int y) { return x == 15 && y == 10 ? 5.f : 2.f; }),
           make_data(30, 20, "b", nullptr, 3)},
          {1, 2});
    menu_run("Tools", "Flood Edge");
    EXPECT_EQ(at(0)->valueAt(0, 0), 99);
    EXPECT_EQ(at(0)->valueAt(15, 10), 5);
}

// DWT, IWT and Wavlt Filt act on the first selected image with the mouse
// panel's basis and levels: one Haar level puts (a + b + c + d) / 2 of each
// 2 x 2 block into the low quarter, IWT brings the image back, and Wavlt Filt
// over two levels with the first level's gain at the top of its range (the
// second's 0) leaves every 2 x 2 block its mean.
TEST(Tools, WaveletEntriesTransformRestoreAndFilter) {
    auto f = [](int x, int y) { return (float)((x * 7 + y * 13) % 23); };
    fresh({image(64, 32, f), image(64, 32, f, "b")}, {1, 2});
    setenvi("DWTbasis", 0);
    setenv2("DWTlevel", "1");
    menu_run("Tools", "DWT");
    long bad = 0;
    for (int j = 0; j < 16; j++)
        for (int i = 0; i < 32; i++)
            bad += std::fabs(at(0)->valueAt(i, j) -
                             (f(2 * i, 2 * j) + f(2 * i + 1, 2 * j) + f(2 * i, 2 * j + 1) + f(2 * i + 1, 2 * j + 1)) /
                                 2) > 1e-4;
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(at(1)->valueAt(5, 5), f(5, 5));  // the first selected image only
    menu_run("Tools", "IWT");
    for (int i = 0; i < 64 * 32; i += 5) bad += std::fabs(at(0)->valueAt(i % 64, i / 64) - f(i % 64, i / 64)) > 1e-4;
    EXPECT_EQ(bad, 0);
    setenv2("DWTlevel", "2");
    for (int i = 0; i < 10; i++) fl_set_slider_value((FL_OBJECT*)MMode.levelSlider[i], i == 0 ? 1.2 : 0);
    fl_call_object_callback((FL_OBJECT*)MMode.levelSlider[0]);
    menu_run("Tools", "Wavlt Filt");
    for (int y = 0; y < 32; y++)
        for (int x = 0; x < 64; x++) {
            const int a = x & ~1, b = y & ~1;
            bad += std::fabs(at(0)->valueAt(x, y) - (f(a, b) + f(a + 1, b) + f(a, b + 1) + f(a + 1, b + 1)) / 4) > 1e-4;
        }
    EXPECT_EQ(bad, 0);
}

// Each label of the Test Image menu, by pixel values worked out by hand.
TEST(TestImage, EachLabelMakesItsImageAndSmoothTakesTransformsOnly) {
    shell_reset();
    const double e = std::exp(1.0);
    // clang-format off
    struct { const char* label; int x, y; double v; } cases[] = {
        {"1.0", 7, 9, 1}, {"Sin(x)", 16, 3, 1}, {"Sin(y)", 5, 48, -1}, {"Sin(x+y)", 10, 6, 1},
        {"Sin(x+y)+1.0", 10, 6, 2}, {"Gauss y", 100, 32, 1 / e}, {"Gauss xy", 230, 238, std::exp(-56.5 / 64)},
        {"Steps", 511, 511, 271}, {"Steps", 511, 256, 31},
        {"Pixels", 0, 0, 510}, {"Pixels", 0, 1, 256}, {"Pixels", 1, 1, 2},
        // clang-format on
    };
    for (auto& c : cases) {
        const int n = count(current_group());
        ASSERT_EQ(menu_run("Test Image", c.label), 1) << c.label;
        ASSERT_EQ(count(current_group()), n + 1);
        MRCData* d = at(n);
        EXPECT_STREQ(d->Name(), "Test image");
        EXPECT_EQ(d->xSize() * 1000 + d->ySize(), 512512);
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
    EXPECT_EQ(said([] { menu_run("Test Image", "Smooth"); }), "SmoothAmp() is only for complex data\nVoid return\n");
    select_images({n});
    menu_run("Test Image", "Smooth");
    ASSERT_EQ(count(current_group()), n + 1);
    const float* a = at(n)->getRealData();
    EXPECT_FLOAT_EQ(a[3 * 10 + 4], 0.5f * 9 + 0.125f * 4);
    EXPECT_FLOAT_EQ(a[3 * 10 + 6], 0.5f + 0.125f * (9 + 3));
    EXPECT_EQ(busy_depth(), 0);
}
