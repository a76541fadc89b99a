// Cross-correlation, shift and rotation finding, rotation/translation, subtraction.

#include "tests/core/numeric_testutil.h"

namespace {
const Blobs kBeads{12, 0.7f, false};

// How far shift s lies from (dx, dy), in the worse axis.
double off(MRCData::Shift s, double dx, double dy) {
    return std::max(std::fabs(s.dx - dx), std::fabs(s.dy - dy));
}
}  // namespace

TEST(CalcCCF, PeakAtTheShiftAndRefusals) {
    Data a = blobImage(64, 0, 0, 0), b = blobImage(64, 3, -2, 0), small = blobImage(32, 0, 0, 0);
    Data c(b->calcCCF(a.get()));
    ASSERT_TRUE(c);
    EXPECT_EQ(std::string(c->Name()) + " " + c->File(), "CCF /tmp/tarvik.ccf");
    EXPECT_FALSE(c->isComplex());
    // value(d) = SUM this(m) other(m - d): the peak sits at the shift (3, -2).
    const long best = std::max_element(c->getRealData(), c->getRealData() + 64 * 64) - c->getRealData();
    EXPECT_EQ(std::vector<long>({best % 64, best / 64}), std::vector<long>({3, 64 - 2}));
    MRCData* r = nullptr;
    EXPECT_EQ(captured([&] { r = a->calcCCF(small.get()); }), "CCF: Images must be the same size.\n");
    EXPECT_EQ(r, nullptr);
    // Constant zero images: normalisation 0, the CCF is 0 rather than NaN.
    const std::vector<float> z(64 * 64, 0.0f);
    Data zero = realData(z, 64, 64), zero2 = realData(z, 64, 64);
    for (MRCData* other : {(MRCData*)nullptr, zero2.get(), a.get()}) {
        Data zc(zero->calcCCF(other));
        ASSERT_TRUE(zc);
        EXPECT_EQ(std::count(zc->getRealData(), zc->getRealData() + 64 * 64, 0.0f), 64 * 64);
    }
}

// The peak centroid is taken over a 7 by 7 block weighted by the value less
// the smallest value of the whole search window, so the block's own baseline
// pulls it towards the integer peak. On isolated small spots (beads) that
// baseline is flat and sub-pixel shifts come out within 0.1 pixel; on a dense
// texture half-pixel shifts come out up to about 0.3 pixel short.
TEST(Align, IntegerAndHalfPixelShifts) {
    Data a = blobImage(128, 0, 0, 0, kBeads), d = blobImage(128, 0, 0, 0);
    MRCData::Shift s = a->align(a.get(), 0);
    EXPECT_LT(off(s, 0, 0), 0.01);
    // {dx, dy, dense texture}
    const float shifts[][3] = {{5, -3, 0},         {0.5f, 0, 0}, {-0.5f, 0.5f, 0}, {2.5f, -1.5f, 0}, {-12, 7, 0},
                               {0.25f, -0.75f, 0}, {5, -3, 1},   {-12, 7, 1},      {0, 20, 1}};
    for (auto& sh : shifts) {
        Data b = sh[2] ? blobImage(128, sh[0], sh[1], 0) : blobImage(128, sh[0], sh[1], 0, kBeads);
        std::string out = captured([&] { s = b->align(sh[2] ? d.get() : a.get(), 0); });
        EXPECT_LT(off(s, sh[0], sh[1]), 0.1) << sh[0] << "," << sh[1];
        EXPECT_EQ(out.rfind("Align: ", 0), 0u);
        EXPECT_NE(out.find("positive CCF, "), std::string::npos);
        if (sh[2]) continue;
        // The other way round gives the opposite shift.
        MRCData::Shift r = a->align(b.get(), 1);
        EXPECT_LT(off(r, -sh[0], -sh[1]), 0.1) << "back";
    }
    // Dense texture: half pixels biased towards the integer.
    s = blobImage(128, 0.5f, 0, 0)->align(d.get(), 0);
    EXPECT_GT(s.dx, 0.15);
    EXPECT_LE(s.dx, 0.5);
    // A negated copy is found through the negative peak.
    Data neg = blobImage(128, 4, 2, 0, kBeads);
    for (int i = 0; i < 128 * 128; i++) neg->getRealData()[i] *= -1;
    neg->update();
    EXPECT_NE(captured([&] { s = neg->align(a.get(), 0); }).find("negative CCF, "), std::string::npos);
    EXPECT_LT(off(s, 4, 2), 0.1);
    Data small = blobImage(64, 0, 0, 0);
    EXPECT_EQ(captured([&] { s = a->align(small.get(), 0); }), "Align: Images must be the same size.\n");
    EXPECT_EQ(s.dx, 0);
    s = a->align(nullptr, 0);
    EXPECT_EQ(s.dy, 0);
}

TEST(ACFcenter, CentresASymmetricImage) {
    // A symmetric blob pair centred at (70, 60): moving by the result puts its
    // centre at ((n-1)/2, (n-1)/2) = (63.5, 63.5), or at the corner in mode 1.
    Data d = fnData(128, 128, [](int x, int y) {
        auto g = [&](double cx, double cy) { return std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 8.0); };
        return (float)(g(70 - 6, 60 - 4) + g(70 + 6, 60 + 4) + 0.5 * g(70, 60));
    });
    MRCData::Shift s;
    EXPECT_EQ(captured([&] { s = d->ACFcenter(0); }).rfind("Center: ", 0), 0u);
    EXPECT_LT(off(s, 63.5 - 70, 63.5 - 60), 0.15);
    EXPECT_LT(off(d->ACFcenter(1), -70, -60), 0.15);
}

TEST(CalcRCF, RecoversTenDegreesAndRefusals) {
    TempDir tmp(true);  // calcRCF writes test.rcf.dat here
    Data a = blobImage(128, 0, 0, 0), b = blobImage(128, 0, 0, 10);
    EXPECT_NEAR(a->calcRCF(a.get(), 0, 0), 0, 0.5 * M_PI / 180);
    float ang = 0;
    // Rotating A by -ang/2 and B by +ang/2 brings them together: ang = -10.
    EXPECT_NE(captured([&] { ang = a->calcRCF(b.get(), 0, 0); }).find("Max at "), std::string::npos);
    EXPECT_NEAR(ang * 180 / M_PI, -10, 0.5);
    EXPECT_NEAR(b->calcRCF(a.get(), 0, 0) * 180 / M_PI, 10, 0.5);
    // The bilinear rotation of the workbench gives the same answer.
    Data r(a->rotateAndTranslate(10, 0, 0, 0));
    EXPECT_NEAR(a->calcRCF(r.get(), 0, 0) * 180 / M_PI, -10, 0.5);
    // The correlation curve is written: 1440 lines of angle and value.
    std::string text = slurp("test.rcf.dat");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1440);
    // No ring fits a small image, nor a large offset; no partner.
    Data s1 = blobImage(44, 0, 0, 0), s2 = blobImage(44, 0, 0, 0);
    EXPECT_EQ(captured([&] { ang = s1->calcRCF(s2.get(), 0, 0); }), "RCF: No ring fits inside the image\n");
    EXPECT_EQ(ang, 0);
    EXPECT_EQ(captured([&] { ang = a->calcRCF(a.get(), 60, 0); }), "RCF: No ring fits inside the image\n");
    EXPECT_EQ(captured([&] { ang = a->calcRCF(nullptr, 0, 0); }), "Need a data set to align with!\n");
    EXPECT_EQ(ang, 0);
}

TEST(RotateAndTranslate, IdentityShiftMeanAndInPlace) {
    Data a = blobImage(40, 0, 0, 0);
    const float* s = a->getRealData();
    EXPECT_EQ(relRms(a.get(), Data(a->rotateAndTranslate(0, 0, 0, 0)).get()), 0);
    EXPECT_EQ(captured([&] { Data(a->rotateAndTranslate(30, 1.5f, -2, 0)); }),
              "Rot/Trans 1.500000,-2.000000 30.000000\n");
    Data m(a->rotateAndTranslate(0, 3, 2, 0));
    const float* d = m->getRealData();
    // Pixel (0, 0): source (-3, -2) is outside. Pixels inside the blobs' area.
    EXPECT_EQ(valuesAt(m.get(), {20 * 40 + 20, 0, 39 * 40 + 39}),
              std::vector<float>({s[18 * 40 + 17], a->Mean(), s[37 * 40 + 36]}));
    // Half-pixel moves interpolate between neighbours.
    Data h(a->rotateAndTranslate(0, 0.5f, 0, 0)), h2(a->rotateAndTranslate(0, 0.5f, 0.5f, 0));
    EXPECT_NEAR(h->getRealData()[20 * 40 + 20], 0.5f * (s[20 * 40 + 19] + s[20 * 40 + 20]), 1e-6);
    const float four = s[19 * 40 + 19] + s[19 * 40 + 20] + s[20 * 40 + 19] + s[20 * 40 + 20];
    EXPECT_NEAR(h2->getRealData()[20 * 40 + 20], 0.25f * four, 1e-6);
    // 90 degrees about the centre: (x, y) takes the source at (y, 39 - x) here.
    Data q(a->rotateAndTranslate(90, 0, 0, 0));
    EXPECT_NEAR(q->getRealData()[20 * 40 + 15], s[(39 - 15) * 40 + 20], 1e-4);
    // In place: the pixels change, the statistics are left as they were.
    const float mean = a->Mean();
    EXPECT_EQ(a->rotateAndTranslate(0, 3, 2, 1), nullptr);
    EXPECT_EQ(a->getRealData()[20 * 40 + 20], d[20 * 40 + 20]);
    EXPECT_EQ(a->Mean(), mean);
    // Non-finite shifts give the mean, never an undefined read.
    Data n(a->rotateAndTranslate(0, NAN, 0, 0));
    EXPECT_EQ(n->getRealData()[0], n->getRealData()[1]);
}

TEST(SubData, RealAndCoherentComplex) {
    Data a = blobImage(32, 0, 0, 0), b = blobImage(32, 1, 0, 0), small = blobImage(16, 0, 0, 0);
    std::vector<float> av(a->getRealData(), a->getRealData() + 1024);
    a->subData(b.get());
    for (int i = 0; i < 1024; i++) EXPECT_FLOAT_EQ(a->getRealData()[i], av[i] - b->getRealData()[i]);
    EXPECT_EQ(captured([&] { a->subData(small.get()); }), "Images must be the same size\n");
    // Complex: (2, 0) - (1, pi/2) = 2 - i.
    float p1[] = {2, 0, 1, 1}, p2[] = {1, (float)M_PI / 2, 1, 1};
    MRCData c1, c2;
    c1.setComplData(p1, 4, 1, 1);
    c2.setComplData(p2, 4, 1, 1);
    c1.subData(&c2);
    EXPECT_NEAR(c1.getRealData()[0], std::sqrt(5.0f), 1e-6);
    EXPECT_NEAR(c1.getRealData()[1], std::atan2(-1.0f, 2.0f), 1e-6);
    EXPECT_NEAR(c1.getRealData()[2], 0, 1e-6);
}
