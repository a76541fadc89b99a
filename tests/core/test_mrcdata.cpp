#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "core/MRCData.h"
#include "numeric/random.h"
#include "tests/core/testutil.h"

namespace {

std::vector<float> noise(int n, float mean, float sigma) {
    std::vector<float> v(n);
    for (auto& x : v) x = grand(mean, sigma);
    return v;
}

}  // namespace

TEST(MRCData, NewDataSetDefaults) {
    TempDir t;
    MRCData d;
    EXPECT_STREQ(d.Name(), "na");
    EXPECT_STREQ(d.File(), "unknown");
    EXPECT_EQ(d.nBoxes(), 0);
    EXPECT_EQ(d.RenMin(), -999);
    EXPECT_EQ(d.RenMax(), -999);
    EXPECT_EQ(d.xSize(), 0);
    EXPECT_GE(d.dataCapacity(), 1024u);
    EXPECT_FLOAT_EQ(d.Mag(), 30);
    EXPECT_FLOAT_EQ(d.Pixres(), 25.0f / 30 * 10);
    EXPECT_EQ(getenvf("mag"), 30);  // the defaults were stored
    d.setName("na");
    EXPECT_STREQ(d.Name(), "na");
    d.setName("x");
    EXPECT_STREQ(d.Name(), "x");
    EXPECT_EQ(d.setFile("unknown"), 0);
    EXPECT_EQ(d.setFile("a.mrc"), 1);
}

TEST(MRCData, CopyConstructorTakesIdentityOnly) {
    TempDir t;
    MRCData a;
    float v[4] = {1, 2, 3, 4};
    a.setRealData(v, 2, 2, 1);
    a.setName("alpha");
    a.setFile("/x/alpha.mrc");
    a.setPixres(3.5f);
    a.addBox(1, 2, 3, 4, "b", 0);
    MRCData b(&a);
    EXPECT_STREQ(b.Name(), "alpha");
    EXPECT_STREQ(b.File(), "/x/alpha.mrc");
    EXPECT_FLOAT_EQ(b.Pixres(), 3.5f);
    EXPECT_EQ(b.xSize(), 0);
    EXPECT_EQ(b.nBoxes(), 0);
    EXPECT_EQ(b.RenMin(), -999);
}

TEST(MRCData, StatisticsOfAKnownImage) {
    TempDir t;
    // 4 x 3 image: 0..11
    std::vector<float> v(12);
    for (int i = 0; i < 12; i++) v[i] = (float)i;
    MRCData d;
    d.setRealData(v.data(), 4, 3, 1);
    EXPECT_FLOAT_EQ(d.Min(), 0);
    EXPECT_FLOAT_EQ(d.Max(), 11);
    EXPECT_NEAR(d.Mean(), 5.5, 1e-6);
    EXPECT_NEAR(d.Sigma(), std::sqrt(143.0 / 12), 1e-5);
    // Border: rows 0 and 2 (0+1+2+3 + 8+9+10+11) + columns 0 and 3 (0+4+8 + 3+7+11) over 2*(4+3)
    double E = (6 + 38) + (12 + 21);
    EXPECT_NEAR(d.EdgeMean(), E / 14, 1e-5);
    double q = 0;
    for (float x : v) q += x * x;
    q /= 12;
    EXPECT_NEAR(d.EdgeSigma(), std::sqrt(q - 2 * 5.5 * (E / 14) + (E / 14) * (E / 14)), 1e-5);
    EXPECT_FLOAT_EQ(d.valueAt(3, 2), 11);
    EXPECT_EQ(d.valueAt(4, 0), 0);
    EXPECT_EQ(d.valueAt(0, -1), 0);
}

TEST(MRCData, ConstantImageNeverHasAnEmptyRange) {
    TempDir t;
    std::vector<float> v(100, 0.1f);
    MRCData d;
    testing::internal::CaptureStdout();
    d.setRealData(v.data(), 10, 10, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // not "bad statistics"
    EXPECT_FLOAT_EQ(d.Sigma(), 0);
    EXPECT_FLOAT_EQ(d.Max(), 0.1f + 0.0001f);
    EXPECT_FLOAT_EQ(d.Histmax(), d.Histmin() + 0.0001f);
}

TEST(MRCData, OutlierLimitsTheHistogramNotMinMax) {
    TempDir t;
    std::vector<float> v = noise(10000, 0, 1);
    v[77] = 1000;
    MRCData d;
    d.setRealData(v.data(), 100, 100, 1);
    EXPECT_FLOAT_EQ(d.Max(), 1000);
    EXPECT_NEAR(d.Histmax(), d.Mean() + 3 * d.Sigma(), 1e-3);
}

TEST(MRCData, TwoLevelImageGivesTheRangeTheHistogramRulesPredict) {
    TempDir t;
    std::vector<float> v(64 * 64);
    for (size_t i = 0; i < v.size(); i++) v[i] = i % 2 ? 1.0f : 0.0f;
    MRCData d;
    d.setRealData(v.data(), 64, 64, 1);
    const float* h = d.Histogram();
    EXPECT_FLOAT_EQ(h[0], 50);
    // Value 1 sits exactly at Histmax: x = 255.999, bin 255 gets 0.001 of it.
    EXPECT_NEAR(h[255], 50 * 0.001, 5e-4);
    // Peak at bin 0, clamped to 2; level 2.5; empty bins around it.
    EXPECT_FLOAT_EQ(d.RenMin(), 2.0f / 256);
    EXPECT_FLOAT_EQ(d.RenMax(), 3.0f / 256);
}

TEST(MRCData, GaussianNoiseRangeBracketsTheMean) {
    TempDir t;
    for (int n : {100, 800, 2000}) {  // whole, and sampled by strides
        std::vector<float> v = noise(n * n, 100, 10);
        MRCData d;
        d.setRealData(v.data(), n, n, 1);
        EXPECT_LT(d.RenMin(), 85) << n;
        EXPECT_GT(d.RenMin(), 65) << n;
        EXPECT_GT(d.RenMax(), 115) << n;
        EXPECT_LT(d.RenMax(), 135) << n;
        double total = 0;
        for (int b = 0; b < 256; b++) total += d.Histogram()[b];
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
}

TEST(MRCData, NormalizeWithZeroDeviationChangesNothing) {
    TempDir t;
    std::vector<float> v(16, 3);
    MRCData d;
    d.setRealData(v.data(), 4, 4, 1);
    testing::internal::CaptureStdout();
    d.normalize();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(d.getRealData()[5], 3);
}

TEST(MRCData, ClipToHistZeroesLowValuesWhenRangeReachesMax) {
    TempDir t;
    std::vector<float> v(100);
    for (int i = 0; i < 100; i++) v[i] = (float)i;
    MRCData d;
    d.setRealData(v.data(), 10, 10, 1);
    d.setRenMinMax(10, 98.5f);  // within 1 % of Max
    double frac = d.clipToHist();
    EXPECT_NEAR(frac, 11.0 / 100, 1e-9);  // 0..9 and 99
    EXPECT_EQ(d.getRealData()[3], 0);
    EXPECT_EQ(d.getRealData()[99], 98.5f);
    MRCData e;
    e.setRealData(v.data(), 10, 10, 1);
    e.setRenMinMax(10, 50);
    e.clipToHist();
    EXPECT_EQ(e.getRealData()[3], 10);
    EXPECT_EQ(e.getRealData()[80], 50);
}

TEST(MRCData, ComplexStatisticsUseFirstOfPair) {
    TempDir t;
    float v[8] = {1, -100, 3, 100, 5, -7, 7, 9};
    MRCData d;
    d.setComplData(v, 4, 2, 1);
    EXPECT_EQ(d.isComplex(), 1);
    EXPECT_FLOAT_EQ(d.Min(), 1);
    EXPECT_FLOAT_EQ(d.Max(), 7);
    EXPECT_NEAR(d.Mean(), 4, 1e-6);
}

TEST(MRCData, EmptyDataSetIsSafeToUpdate) {
    TempDir t;
    MRCData d;
    testing::internal::CaptureStdout();
    EXPECT_EQ(d.update(), 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("ERROR - Bad statistics on this data set!\n", 0), 0u);
    EXPECT_NE(out.find("empty data set 0x0x0\n"), std::string::npos);
    EXPECT_EQ(d.Mean(), 0);
    EXPECT_EQ(d.Sigma(), 1);
    EXPECT_TRUE(std::isfinite(d.RenMin()) && std::isfinite(d.RenMax()));
}

TEST(MRCData, BadValuesGiveNeutralStatistics) {
    TempDir t;
    std::vector<float> v(64, 1.0f);
    v[10] = NAN;
    v[20] = INFINITY;
    MRCData d;
    testing::internal::CaptureStdout();
    d.setRealData(v.data(), 8, 8, 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("ERROR - Bad statistics on this data set!\nmean=", 0), 0u);
    EXPECT_NE(out.find("\n1.000000 1.000000 1.000000 1.000000\n"), std::string::npos);
    EXPECT_EQ(d.Mean(), 0);
    EXPECT_EQ(d.Sigma(), 1);
    EXPECT_TRUE(std::isfinite(d.RenMin()) && std::isfinite(d.RenMax()));
}

TEST(MRCData, RehistNeverIndexesWithNanOrInfinity) {
    TempDir t;
    std::vector<float> v = noise(400, 0, 1);
    MRCData d;
    d.setRealData(v.data(), 20, 20, 1);
    const float bad[][2] = {{1, 1}, {2, -2}, {NAN, 1}, {0, INFINITY}, {-INFINITY, INFINITY}, {NAN, NAN}};
    for (auto& r : bad) {
        d.rehist(r[0], r[1]);
        for (int b = 0; b < 256; b++) EXPECT_TRUE(std::isfinite(d.Histogram()[b])) << r[0] << " " << r[1];
    }
    d.rehist(5, 5);  // empty range: nothing counted
    for (int b = 0; b < 256; b++) EXPECT_EQ(d.Histogram()[b], 0);
}

TEST(MRCData, BoxesGrowAndCutNames) {
    TempDir t;
    MRCData d;
    for (int i = 0; i < 4; i++) d.addBox(i, i, 10, 10, "b", 0);
    std::string longName(50, 'n');
    d.addBox(4, 4, 10, 10, longName.c_str(), 7);
    EXPECT_EQ(std::string(d.Boxes()[4].name), std::string(39, 'n'));
    EXPECT_EQ(d.Boxes()[4].type, 7);
    EXPECT_EQ(d.Boxes()[4].newx, -1);
    d.delBox(1);
    EXPECT_EQ(d.nBoxes(), 4);
    EXPECT_EQ(d.Boxes()[1].x, 2);
    d.delBox(99);
    EXPECT_EQ(d.nBoxes(), 4);
    d.clearBoxes();
    EXPECT_EQ(d.nBoxes(), 0);
}

TEST(ByteOrder, ReversesWordsAndHalfWords) {
    unsigned char b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    brev(b, 2);
    EXPECT_EQ(std::memcmp(b, "\4\3\2\1\10\7\6\5", 8), 0);
    brevs(b, 4);
    EXPECT_EQ(std::memcmp(b, "\3\4\1\2\7\10\5\6", 8), 0);
    brev(b, 0);
    brevs(b, -3);
    EXPECT_EQ(std::memcmp(b, "\3\4\1\2\7\10\5\6", 8), 0);
}

TEST(Streams, RowsComeBottomFirstAndSwap) {
    TempDir t;
    // 3 x 2 floats, file rows r0 r1; memory row 1 gets the first file row.
    float rows[6] = {1, 2, 3, 4, 5, 6};
    unsigned char raw[24];
    std::memcpy(raw, rows, 24);
    brev(raw, 6);
    FILE* fp = fmemopen(raw, 24, "rb");
    MRCData d;
    ASSERT_EQ(d.setFloatRealFromStream(fp, 3, 2, 1, 1), 1);
    fclose(fp);
    EXPECT_EQ(d.valueAt(0, 1), 1);
    EXPECT_EQ(d.valueAt(2, 0), 6);

    unsigned char s[8] = {0x01, 0x02, 0xff, 0xff, 0x00, 0x10, 0x80, 0x00};
    fp = fmemopen(s, 8, "rb");
    MRCData e;
    ASSERT_EQ(e.setShortRealFromStream(fp, 2, 2, 1, 0), 1);  // first byte low
    fclose(fp);
    EXPECT_EQ(e.valueAt(0, 1), 0x0201);
    EXPECT_EQ(e.valueAt(1, 1), 65535);
    EXPECT_EQ(e.valueAt(0, 0), 0x1000);
    EXPECT_EQ(e.valueAt(1, 0), 0x0080);
    fp = fmemopen(s, 8, "rb");
    MRCData f;
    ASSERT_EQ(f.setShortRealFromStream(fp, 2, 2, 1, 1), 1);  // first byte high
    fclose(fp);
    EXPECT_EQ(f.valueAt(0, 1), 0x0102);
}

TEST(Streams, ShortStreamReportsAndZeroFills) {
    TempDir t;
    float rows[4] = {7, 7, 7, 7};
    FILE* fp = fmemopen(rows, 16, "rb");
    MRCData d;
    testing::internal::CaptureStdout();
    EXPECT_EQ(d.setFloatRealFromStream(fp, 4, 3, 1, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Incomplete data read 0/3 blocks\n");
    fclose(fp);
    EXPECT_EQ(d.xSize(), 4);
    EXPECT_EQ(d.valueAt(0, 2), 7);
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 4; x++) EXPECT_EQ(d.valueAt(x, y), 0);
}

TEST(Random, UniformAndGaussian) {
    for (int i = 0; i < 100; i++) EXPECT_EQ(frand(2, 2), 2);
    double s = 0, q = 0, lo = 1, hi = 0;
    const int n = 200000;
    for (int i = 0; i < n; i++) {
        double g = grand(0, 1);
        s += g;
        q += g * g;
        double u = frand(0, 1);
        lo = std::min(lo, u);
        hi = std::max(hi, u);
    }
    EXPECT_NEAR(s / n, 0, 0.01);
    EXPECT_NEAR(std::sqrt(q / n), 1, 0.01);
    EXPECT_GE(lo, 0);
    EXPECT_LE(hi, 1);
}
