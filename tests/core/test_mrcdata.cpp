// The data set itself: identity, statistics, histogram and display range, boxes, byte order,
// raw streams; the object list, the busy and progress hooks, random numbers.
#include <tuple>

#include "core/hooks.h"
#include "numeric/random.h"
#include "tests/core/testutil.h"

namespace {

std::vector<float> noise(int n, float mean, float sigma) {
    std::vector<float> v(n);
    for (auto& x : v) x = grand(mean, sigma);
    return v;
}

}  // namespace

// A file that records no pixel size, in every format, and a new data set take the same scale
// from "mag" and "scanres".
TEST(MRCData, WithoutARecordedPixelSizeTheScaleComesFromMagAndScanres) {
    TempDir t;
    setenvf("mag", 40);
    setenvf("scanres", 14);
    const float pixres = 14.0f / 40 * 10;
    {
        MRCData d;
        EXPECT_EQ(std::vector<float>({d.Mag(), d.Pixres()}), std::vector<float>({40, pixres}));
    }
    // A recorded pixel size stands; the magnification follows from it and "scanres".
    const std::tuple<const char*, float, float> files[] = {{"mrc/f32_30x20_le.mrc", 40, pixres},
                                                           {"spider/img_64x48.spi", 40, pixres},
                                                           {"netpbm/pattern_u8_64x48.pgm", 40, pixres},
                                                           {"selfmade/img_64x48_le.hed", 40, pixres},
                                                           {"mrc/mode2_le.mrc", 10 * 14.0f / 1.5f, 1.5f}};
    for (auto& [f, mag, px] : files) {
        ReadSets r(readAnyFile, dataFile(f));
        ASSERT_EQ(r.n(), 1) << f;
        EXPECT_EQ(std::vector<float>({r[0]->Mag(), r[0]->Pixres()}), std::vector<float>({mag, px})) << f;
    }
}

TEST(MRCData, NewDataSetDefaultsCopiedIdentityAndBoxes) {
    TempDir t;
    MRCData d;
    EXPECT_STREQ(d.Name(), "na");
    EXPECT_STREQ(d.File(), "unknown");
    EXPECT_EQ(std::vector<float>({(float)d.nBoxes(), d.RenMin(), d.RenMax(), (float)d.xSize()}),
              std::vector<float>({0, -999, -999, 0}));
    EXPECT_GE(d.dataCapacity(), 1024u);
    EXPECT_FLOAT_EQ(d.Mag(), 30);
    EXPECT_FLOAT_EQ(d.Pixres(), 25.0f / 30 * 10);
    EXPECT_EQ(getenvf("mag"), 30);  // the defaults were stored
    EXPECT_EQ(d.setFile("unknown"), 0);
    EXPECT_EQ(d.setFile("a.mrc"), 1);
    // A copy takes the identity only.
    float v[4] = {1, 2, 3, 4};
    d.setRealData(v, 2, 2, 1);
    d.setName("alpha");
    d.setFile("/x/alpha.mrc");
    d.setPixres(3.5f);
    d.addBox(1, 2, 3, 4, "b", 0);
    MRCData b(&d);
    EXPECT_STREQ(b.Name(), "alpha");
    EXPECT_STREQ(b.File(), "/x/alpha.mrc");
    EXPECT_EQ(std::vector<float>({b.Pixres(), (float)b.xSize(), (float)b.nBoxes(), b.RenMin()}),
              std::vector<float>({3.5f, 0, 0, -999}));
    // Boxes: the name is cut to 39 characters, deleting moves the later ones down.
    MRCData x;
    for (int i = 0; i < 4; i++) x.addBox(i, i, 10, 10, "b", 0);
    x.addBox(4, 4, 10, 10, std::string(50, 'n').c_str(), 7);
    EXPECT_EQ(std::string(x.Boxes()[4].name), std::string(39, 'n'));
    EXPECT_EQ(x.Boxes()[4].type, 7);
    EXPECT_EQ(x.Boxes()[4].newx, -1);
    x.delBox(1);
    EXPECT_EQ(x.nBoxes(), 4);
    EXPECT_EQ(x.Boxes()[1].x, 2);
    x.delBox(99);
    EXPECT_EQ(x.nBoxes(), 4);
    x.clearBoxes();
    EXPECT_EQ(x.nBoxes(), 0);
}

TEST(MRCData, StatisticsOfAKnownImageOrNeutralOnes) {
    TempDir t;
    MRCData d;
    makeReal(d, 4, 3, [](int x, int y) { return (float)(4 * y + x); });  // 0..11
    EXPECT_FLOAT_EQ(d.Min(), 0);
    EXPECT_FLOAT_EQ(d.Max(), 11);
    EXPECT_NEAR(d.Mean(), 5.5, 1e-6);
    EXPECT_NEAR(d.Sigma(), std::sqrt(143.0 / 12), 1e-5);
    // Border: rows 0 and 2 (0+1+2+3 + 8+9+10+11) + columns 0 and 3 (0+4+8 + 3+7+11) over 2*(4+3)
    const double E = ((6 + 38) + (12 + 21)) / 14.0;
    double q = 0;
    for (int i = 0; i < 12; i++) q += (i - E) * (i - E);
    EXPECT_NEAR(d.EdgeMean(), E, 1e-5);
    EXPECT_NEAR(d.EdgeSigma(), std::sqrt(q / 12), 1e-5);  // RMS deviation of all values from the edge mean
    EXPECT_FLOAT_EQ(d.valueAt(3, 2), 11);
    EXPECT_EQ(d.valueAt(4, 0), 0);
    EXPECT_EQ(d.valueAt(0, -1), 0);
    // Complex data: only the first of every pair.
    float c[8] = {1, -100, 3, 100, 5, -7, 7, 9};
    d.setComplData(c, 4, 2, 1);
    EXPECT_EQ(d.isComplex(), 1);
    EXPECT_EQ(std::vector<float>({d.Min(), d.Max(), d.Mean()}), std::vector<float>({1, 7, 4}));
    // An empty data set or bad values give neutral statistics.
    MRCData z, e;
    std::string out = captured([&] { EXPECT_EQ(z.update(), 1); });
    EXPECT_EQ(out.rfind("ERROR - Bad statistics on this data set!\n", 0), 0u);
    EXPECT_NE(out.find("empty data set 0x0x0\n"), std::string::npos);
    out = captured([&] {
        makeReal(e, 8, 8, [](int x, int y) { return x == 2 && y == 1 ? NAN : y == 2 && x == 4 ? INFINITY : 1.0f; });
    });
    EXPECT_EQ(out.rfind("ERROR - Bad statistics on this data set!\nmean=", 0), 0u);
    EXPECT_NE(out.find("\n1.000000 1.000000 1.000000 1.000000\n"), std::string::npos);
    for (MRCData* s : {&z, &e}) {
        EXPECT_EQ(s->Mean(), 0);
        EXPECT_EQ(s->Sigma(), 1);
        EXPECT_TRUE(std::isfinite(s->RenMin()) && std::isfinite(s->RenMax()));
    }
    // A histogram range of NaN or infinity never indexes out of the bins.
    std::vector<float> v = noise(400, 0, 1);
    MRCData h;
    h.setRealData(v.data(), 20, 20, 1);
    const float bad[][2] = {{1, 1}, {2, -2}, {NAN, 1}, {0, INFINITY}, {-INFINITY, INFINITY}, {NAN, NAN}};
    for (auto& r : bad) {
        h.rehist(r[0], r[1]);
        for (int b = 0; b < 256; b++) EXPECT_TRUE(std::isfinite(h.Histogram()[b])) << r[0] << " " << r[1];
    }
    h.rehist(5, 5);  // empty range: nothing counted
    for (int b = 0; b < 256; b++) EXPECT_EQ(h.Histogram()[b], 0);
}

TEST(MRCData, HistogramRangeEdgeCases) {
    TempDir t;
    // A constant image never has an empty range, and is no "bad statistics".
    MRCData c;
    EXPECT_EQ(captured([&] { makeReal(c, 10, 10, [](int, int) { return 0.1f; }); }), "");
    EXPECT_FLOAT_EQ(c.Sigma(), 0);
    EXPECT_FLOAT_EQ(c.Max(), 0.1f + 0.0001f);
    EXPECT_FLOAT_EQ(c.Histmax(), c.Histmin() + 0.0001f);
    // One far outlier limits the histogram, not Min/Max.
    std::vector<float> v = noise(10000, 0, 1);
    v[77] = 1000;
    MRCData o;
    o.setRealData(v.data(), 100, 100, 1);
    EXPECT_FLOAT_EQ(o.Max(), 1000);
    EXPECT_NEAR(o.Histmax(), o.Mean() + 3 * o.Sigma(), 1e-3);
    // Two levels: value 1 sits exactly at Histmax, x = 255.999, bin 255 gets 0.001 of it.
    MRCData d;
    makeReal(d, 64, 64, [](int x, int) { return x % 2 ? 1.0f : 0.0f; });
    EXPECT_FLOAT_EQ(d.Histogram()[0], 50);
    EXPECT_NEAR(d.Histogram()[255], 50 * 0.001, 5e-4);
    // Peak at bin 0, clamped to 2; level 2.5; empty bins around it.
    EXPECT_FLOAT_EQ(d.RenMin(), 2.0f / 256);
    EXPECT_FLOAT_EQ(d.RenMax(), 3.0f / 256);
    // Noise: the range brackets the mean, whole and sampled by strides.
    for (int n : {100, 800, 2000}) {
        std::vector<float> w = noise(n * n, 100, 10);
        MRCData g;
        g.setRealData(w.data(), n, n, 1);
        EXPECT_TRUE(g.RenMin() > 65 && g.RenMin() < 85 && g.RenMax() > 115 && g.RenMax() < 135)
            << n << ": " << g.RenMin() << " " << g.RenMax();
        double total = 0;
        for (int b = 0; b < 256; b++) total += g.Histogram()[b];
        EXPECT_NEAR(total, 99.5, 1.0) << n;  // percentages of sampled values
    }
}

TEST(MRCData, DisplayRangeSurvivesUpdateAndFollowsNormalize) {
    TempDir t;
    std::vector<float> v = noise(4096, 5, 2);
    MRCData d;
    d.setRealData(v.data(), 64, 64, 1);
    d.setRenMinMax(1, 9);
    d.update();
    EXPECT_EQ(d.RenMin(), 1);
    EXPECT_EQ(d.RenMax(), 9);
    double m = d.Mean(), s = d.Sigma();
    d.normalize();
    EXPECT_NEAR(d.RenMin(), (1 - m) / s, 1e-4);
    EXPECT_NEAR(d.RenMax(), (9 - m) / s, 1e-4);
    EXPECT_NEAR(d.Mean(), 0, 1e-5);
    EXPECT_NEAR(d.Sigma(), 1, 1e-5);
    d.edgeNormalize();
    EXPECT_NEAR(d.EdgeMean(), 0, 1e-5);
    EXPECT_NEAR(d.EdgeSigma(), 1, 1e-5);
    // With a zero deviation nothing changes, silently.
    MRCData z;
    makeReal(z, 4, 4, [](int, int) { return 3.0f; });
    EXPECT_EQ(captured([&] { z.normalize(); }), "");
    EXPECT_EQ(z.getRealData()[5], 3);
    // Clipping to the display range zeroes low values when the range reaches Max.
    MRCData c, e;
    auto ramp = [](int x, int y) { return (float)(10 * y + x); };  // 0..99
    makeReal(c, 10, 10, ramp);
    makeReal(e, 10, 10, ramp);
    c.setRenMinMax(10, 98.5f);                      // within 1 % of Max
    EXPECT_NEAR(c.clipToHist(), 11.0 / 100, 1e-9);  // 0..9 and 99
    EXPECT_EQ(c.getRealData()[3], 0);
    EXPECT_EQ(c.getRealData()[99], 98.5f);
    e.setRenMinMax(10, 50);
    e.clipToHist();
    EXPECT_EQ(e.getRealData()[3], 10);
    EXPECT_EQ(e.getRealData()[80], 50);
}

TEST(ByteOrder, ReversesWordsAndHalfWordsAlsoInStreams) {
    TempDir t;
    unsigned char b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    brev(b, 2);
    EXPECT_EQ(std::memcmp(b, "\4\3\2\1\10\7\6\5", 8), 0);
    brevs(b, 4);
    EXPECT_EQ(std::memcmp(b, "\3\4\1\2\7\10\5\6", 8), 0);
    brev(b, 0);
    brevs(b, -3);
    EXPECT_EQ(std::memcmp(b, "\3\4\1\2\7\10\5\6", 8), 0);
    // Raw streams: rows come bottom first, swapped on request.
    // 3 x 2 floats, file rows r0 r1; memory row 1 gets the first file row.
    float rows[6] = {1, 2, 3, 4, 5, 6};
    brev(reinterpret_cast<unsigned char*>(rows), 6);
    unsigned char s[8] = {0x01, 0x02, 0xff, 0xff, 0x00, 0x10, 0x80, 0x00};
    MRCData d, e, f, g;
    auto load = [](MRCData& m, void* buf, size_t size, bool isFloat, int nx, int ny, int swap) {
        FILE* fp = fmemopen(buf, size, "rb");
        int rc =
            isFloat ? m.setFloatRealFromStream(fp, nx, ny, 1, swap) : m.setShortRealFromStream(fp, nx, ny, 1, swap);
        fclose(fp);
        return rc;
    };
    ASSERT_EQ(load(d, rows, 24, true, 3, 2, 1), 1);
    EXPECT_EQ(mismatches(d, 3, 2, [](int x, int y) { return 1 + x + 3 * (1 - y); }), 0);
    ASSERT_EQ(load(e, s, 8, false, 2, 2, 0), 1);  // first byte low
    EXPECT_EQ(std::vector<float>(e.getRealData(), e.getRealData() + 4),
              std::vector<float>({0x1000, 0x0080, 0x0201, 65535}));
    ASSERT_EQ(load(f, s, 8, false, 2, 2, 1), 1);  // first byte high
    EXPECT_EQ(f.valueAt(0, 1), 0x0102);
    // A short stream reports and leaves zeros.
    float sevens[4] = {7, 7, 7, 7};
    EXPECT_EQ(captured([&] { EXPECT_EQ(load(g, sevens, 16, true, 4, 3, 0), 0); }), "Incomplete data read 0/3 blocks\n");
    EXPECT_EQ(mismatches(g, 4, 3, [](int, int y) { return y == 2 ? 7 : 0; }), 0);
}

TEST(Random, UniformAndGaussian) {
    for (int i = 0; i < 100; i++) EXPECT_EQ(frand(2, 2), 2);
    double s = 0, q = 0, lo = 1, hi = 0;
    const int n = 200000;
    for (int i = 0; i < n; i++) {
        double g = grand(0, 1), u = frand(0, 1);
        s += g;
        q += g * g;
        lo = std::min(lo, u);
        hi = std::max(hi, u);
    }
    EXPECT_NEAR(s / n, 0, 0.01);
    EXPECT_NEAR(std::sqrt(q / n), 1, 0.01);
    EXPECT_TRUE(lo >= 0 && hi <= 1) << lo << " " << hi;
}

std::vector<void*> items(const List& l) {
    std::vector<void*> v;
    for (int i = 0; i < l.count(); i++) v.push_back(l.objectAt(i));
    return v;
}

TEST(List, AddInsertRemoveReplace) {
    List l;
    int v[20], a, b, c, d, e;
    std::vector<void*> want;
    for (int i = 0; i < 20; i++) l.addObject(&v[i]), want.push_back(&v[i]);  // past two growths
    EXPECT_EQ(items(l), want);
    EXPECT_EQ(l.objectAt(20), nullptr);
    EXPECT_EQ(l.objectAt(-1), nullptr);
    l.empty();  // storage kept
    for (int* p : {&a, &b, &a}) l.addObject(p);
    l.insertObjectAt(&d, 100);  // clamped to the end
    l.insertObjectAt(&e, -5);   // clamped to the front
    l.insertObjectAt(&c, 2);
    EXPECT_EQ(items(l), (std::vector<void*>{&e, &a, &c, &b, &a, &d}));
    EXPECT_EQ(l.indexOf(&a), 1);
    EXPECT_EQ(l.removeObjectAt(0), &e);
    EXPECT_EQ(l.removeObjectAt(4), &d);
    EXPECT_EQ(l.removeObjectAt(1), &c);
    EXPECT_EQ(l.removeObjectAt(5), nullptr);
    l.removeObject(&a);  // first occurrence only
    EXPECT_EQ(items(l), (std::vector<void*>{&b, &a}));
    EXPECT_EQ(l.replaceObjectAt(0, &c), &b);
    EXPECT_EQ(l.replaceObjectAt(2, &c), nullptr);
    EXPECT_EQ(l.replaceObject(&a, &b), &a);
    EXPECT_EQ(l.replaceObject(&a, &b), nullptr);
    EXPECT_EQ(l.indexOf(&a), -1);
    EXPECT_EQ(items(l), (std::vector<void*>{&c, &b}));
    const List* none = nullptr;
    EXPECT_EQ(std::make_tuple(count(none), objectAt(none, 0), indexOf(none, &a)),
              std::make_tuple(0, (void*)nullptr, -1));
}

namespace {
int ons = 0, offs = 0;
std::vector<std::string> texts;
}  // namespace

TEST(Hooks, BusyNestsAndReachesTheInstalledHooks) {
    UiHooks old = set_ui_hooks({[] { ons++; }, [] { offs++; },
                                [](int cur, int max, const char* t) {
                                    texts.push_back(std::to_string(cur) + "/" + std::to_string(max) + (t ? t : ""));
                                }});
    for (int on : {1, 1, 0}) busy(on);
    EXPECT_EQ(std::vector<int>({busy_depth(), ons, offs}), std::vector<int>({1, 1, 0}));  // still busy after one of two
    busy(0);
    EXPECT_EQ(offs, 1);
    busy(0);  // unbalanced: stays at 0
    EXPECT_EQ(std::vector<int>({busy_depth(), offs}), std::vector<int>({0, 1}));
    do_progress(5, 10, "Reading");
    do_progress(-1, 0, nullptr);
    EXPECT_EQ(texts, (std::vector<std::string>{"5/10Reading", "-1/0"}));
    set_ui_hooks(old);
}
