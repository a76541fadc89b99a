// Cross-correlation, shift and rotation finding, rotation/translation, subtraction.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "tests/core/tempdir.h"

namespace {

using Data = std::unique_ptr<MRCData>;

// A texture of signed gaussian blobs evaluated analytically, so that shifted
// and rotated copies are exact: content point p appears at c + R(angle)(p - c) + d.
struct Tex {
    int count = 250;
    float sigma = 1.2f;
    bool signedAmp = true;
};

Data texture(int n, float dx, float dy, float angleDeg, Tex tx = Tex(), unsigned seed = 17) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<float> pos(14, n - 15), amp(0.5f, 1.5f);
    struct Blob {
        float x, y, a;
    };
    std::vector<Blob> blobs(tx.count);
    for (auto& b : blobs) b = {pos(g), pos(g), (tx.signedAmp && g() % 2 ? -1 : 1) * amp(g)};
    const double c = (n - 1) / 2.0, t = angleDeg * M_PI / 180, ct = std::cos(t), st = std::sin(t);
    std::vector<float> v((size_t)n * n, 0.0f);
    for (auto& b : blobs) {
        const double bx = c + ct * (b.x - c) - st * (b.y - c) + dx, by = c + st * (b.x - c) + ct * (b.y - c) + dy;
        for (int y = std::max(0, (int)by - 6); y < std::min(n, (int)by + 7); y++)
            for (int x = std::max(0, (int)bx - 6); x < std::min(n, (int)bx + 7); x++) {
                const double r2 = (x - bx) * (x - bx) + (y - by) * (y - by);
                v[(size_t)y * n + x] += (float)(b.a * std::exp(-r2 / (2 * tx.sigma * tx.sigma)));
            }
    }
    Data d(new MRCData());
    d->setRealData(v.data(), n, n, 1);
    d->setName("tex");
    return d;
}

std::string captured(std::function<void()> f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(CalcCCF, PeakAtTheShiftAndRefusals) {
    Data a = texture(64, 0, 0, 0), b = texture(64, 3, -2, 0);
    Data c(b->calcCCF(a.get()));
    ASSERT_TRUE(c);
    EXPECT_STREQ(c->Name(), "CCF");
    EXPECT_STREQ(c->File(), "/tmp/tarvik.ccf");
    EXPECT_FALSE(c->isComplex());
    // value(d) = SUM this(m) other(m - d): the peak sits at the shift (3, -2).
    int best = 0;
    for (int i = 1; i < 64 * 64; i++)
        if (c->getRealData()[i] > c->getRealData()[best]) best = i;
    EXPECT_EQ(best % 64, 3);
    EXPECT_EQ(best / 64, 64 - 2);
    Data small = texture(32, 0, 0, 0);
    MRCData* r = nullptr;
    EXPECT_EQ(captured([&] { r = a->calcCCF(small.get()); }), "CCF: Images must be the same size.\n");
    EXPECT_EQ(r, nullptr);
    // Constant zero images: normalisation 0, the CCF is 0 rather than NaN.
    std::vector<float> z(64 * 64, 0.0f);
    MRCData zero, zero2;
    zero.setRealData(z.data(), 64, 64, 1);
    zero2.setRealData(z.data(), 64, 64, 1);
    for (MRCData* other : {(MRCData*)nullptr, &zero2, a.get()}) {
        Data zc(zero.calcCCF(other));
        ASSERT_TRUE(zc);
        for (int i = 0; i < 64 * 64; i++) ASSERT_EQ(zc->getRealData()[i], 0) << i;
    }
}

// The peak centroid is taken over a 7 by 7 block weighted by the value less
// the smallest value of the whole search window, so the block's own baseline
// pulls it towards the integer peak. On isolated small spots (beads) that
// baseline is flat and sub-pixel shifts come out within 0.1 pixel; on a dense
// texture half-pixel shifts come out up to about 0.3 pixel short.
TEST(Align, IntegerAndHalfPixelShifts) {
    const Tex beads{12, 0.7f, false};
    Data a = texture(128, 0, 0, 0, beads);
    MRCData::Shift s0 = a->align(a.get(), 0);
    EXPECT_NEAR(s0.dx, 0, 0.01);
    EXPECT_NEAR(s0.dy, 0, 0.01);
    const float shifts[][2] = {{5, -3}, {0.5f, 0}, {-0.5f, 0.5f}, {2.5f, -1.5f}, {-12, 7}, {0.25f, -0.75f}};
    for (auto& sh : shifts) {
        Data b = texture(128, sh[0], sh[1], 0, beads);
        std::string out;
        MRCData::Shift s;
        out = captured([&] { s = b->align(a.get(), 0); });
        EXPECT_NEAR(s.dx, sh[0], 0.1) << sh[0] << "," << sh[1];
        EXPECT_NEAR(s.dy, sh[1], 0.1) << sh[0] << "," << sh[1];
        EXPECT_EQ(out.rfind("Align: ", 0), 0u);
        EXPECT_NE(out.find("positive CCF, "), std::string::npos);
        // The other way round gives the opposite shift.
        MRCData::Shift r = a->align(b.get(), 1);
        EXPECT_NEAR(r.dx, -sh[0], 0.1);
        EXPECT_NEAR(r.dy, -sh[1], 0.1);
    }
    // Dense texture: integer shifts exact, half pixels biased towards the integer.
    Data d = texture(128, 0, 0, 0);
    for (auto& sh : {std::pair<float, float>{5, -3}, {-12, 7}, {0, 20}}) {
        Data b = texture(128, sh.first, sh.second, 0);
        MRCData::Shift s = b->align(d.get(), 0);
        EXPECT_NEAR(s.dx, sh.first, 0.1);
        EXPECT_NEAR(s.dy, sh.second, 0.1);
    }
    Data h = texture(128, 0.5f, 0, 0);
    MRCData::Shift s = h->align(d.get(), 0);
    EXPECT_GT(s.dx, 0.15);
    EXPECT_LE(s.dx, 0.5);
    // A copy moved by rotateAndTranslate(0, 5, -3): about (5, -3) too.
    Data m(d->rotateAndTranslate(0, 5, -3, 0));
    s = m->align(d.get(), 0);
    EXPECT_NEAR(s.dx, 5, 0.1);
    EXPECT_NEAR(s.dy, -3, 0.1);
    // A negated copy is found through the negative peak.
    Data neg = texture(128, 4, 2, 0, beads);
    float* p = neg->getRealData();
    for (int i = 0; i < 128 * 128; i++) p[i] = -p[i];
    neg->update();
    std::string out = captured([&] { s = neg->align(a.get(), 0); });
    EXPECT_NE(out.find("negative CCF, "), std::string::npos);
    EXPECT_NEAR(s.dx, 4, 0.1);
    EXPECT_NEAR(s.dy, 2, 0.1);
    Data small = texture(64, 0, 0, 0);
    EXPECT_EQ(captured([&] { s = a->align(small.get(), 0); }), "Align: Images must be the same size.\n");
    EXPECT_EQ(s.dx, 0);
    s = a->align(nullptr, 0);
    EXPECT_EQ(s.dy, 0);
}

TEST(ACFcenter, CentresASymmetricImage) {
    // A symmetric blob pair centred at (70, 60): moving by the result puts its
    // centre at ((n-1)/2, (n-1)/2) = (63.5, 63.5), or at the corner in mode 1.
    std::vector<float> v(128 * 128, 0.0f);
    for (int y = 0; y < 128; y++)
        for (int x = 0; x < 128; x++) {
            auto g = [&](double cx, double cy) { return std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 8.0); };
            v[y * 128 + x] = (float)(g(70 - 6, 60 - 4) + g(70 + 6, 60 + 4) + 0.5 * g(70, 60));
        }
    MRCData d;
    d.setRealData(v.data(), 128, 128, 1);
    MRCData::Shift s;
    std::string out = captured([&] { s = d.ACFcenter(0); });
    EXPECT_EQ(out.rfind("Center: ", 0), 0u);
    EXPECT_NEAR(70 + s.dx, 63.5, 0.15);
    EXPECT_NEAR(60 + s.dy, 63.5, 0.15);
    s = d.ACFcenter(1);
    EXPECT_NEAR(70 + s.dx, 0, 0.15);
    EXPECT_NEAR(60 + s.dy, 0, 0.15);
}

TEST(CalcRCF, RecoversTenDegrees) {
    TempDir tmp(true);  // calcRCF writes test.rcf.dat here
    Data a = texture(128, 0, 0, 0);
    float same = a->calcRCF(a.get(), 0, 0);
    EXPECT_NEAR(same, 0, 0.5 * M_PI / 180);
    Data b = texture(128, 0, 0, 10);
    std::string out;
    float ang = 0;
    out = captured([&] { ang = a->calcRCF(b.get(), 0, 0); });
    // Rotating A by -ang/2 and B by +ang/2 brings them together: ang = -10.
    EXPECT_NEAR(ang * 180 / M_PI, -10, 0.5);
    EXPECT_NE(out.find("Max at "), std::string::npos);
    float back = b->calcRCF(a.get(), 0, 0);
    EXPECT_NEAR(back * 180 / M_PI, 10, 0.5);
    // The bilinear rotation of the workbench gives the same answer.
    Data r(a->rotateAndTranslate(10, 0, 0, 0));
    EXPECT_NEAR(a->calcRCF(r.get(), 0, 0) * 180 / M_PI, -10, 0.5);
    // The correlation curve is written: 1440 lines of angle and value.
    std::ifstream f("test.rcf.dat");
    int lines = 0;
    std::string line;
    while (std::getline(f, line)) lines++;
    EXPECT_EQ(lines, 1440);
}

TEST(CalcRCF, NoRingFitsOrNoPartner) {
    TempDir tmp(true);  // calcRCF writes test.rcf.dat here
    Data a = texture(44, 0, 0, 0), b = texture(44, 0, 0, 0);
    float ang = 1;
    EXPECT_EQ(captured([&] { ang = a->calcRCF(b.get(), 0, 0); }), "RCF: No ring fits inside the image\n");
    EXPECT_EQ(ang, 0);
    // A large offset leaves no ring either.
    Data c = texture(128, 0, 0, 0);
    EXPECT_EQ(captured([&] { ang = c->calcRCF(c.get(), 60, 0); }), "RCF: No ring fits inside the image\n");
    EXPECT_EQ(captured([&] { ang = c->calcRCF(nullptr, 0, 0); }), "Need a data set to align with!\n");
    EXPECT_EQ(ang, 0);
}

TEST(RotateAndTranslate, IdentityShiftMeanAndInPlace) {
    Data a = texture(40, 0, 0, 0);
    Data same(a->rotateAndTranslate(0, 0, 0, 0));
    for (int i = 0; i < 1600; i++) ASSERT_EQ(same->getRealData()[i], a->getRealData()[i]);
    std::string out = captured([&] { Data t(a->rotateAndTranslate(30, 1.5f, -2, 0)); });
    EXPECT_EQ(out, "Rot/Trans 1.500000,-2.000000 30.000000\n");
    Data m(a->rotateAndTranslate(0, 3, 2, 0));
    const float* s = a->getRealData();
    const float* d = m->getRealData();
    EXPECT_EQ(d[10 * 40 + 10], s[8 * 40 + 7]);
    EXPECT_EQ(d[0], a->Mean());  // source (-3, -2) is outside
    EXPECT_EQ(d[39 * 40 + 39], s[37 * 40 + 36]);
    // A half-pixel move interpolates between neighbours.
    Data h(a->rotateAndTranslate(0, 0.5f, 0, 0));
    EXPECT_NEAR(h->getRealData()[5 * 40 + 5], 0.5f * (s[5 * 40 + 4] + s[5 * 40 + 5]), 1e-6);
    // 90 degrees about the centre: (x, y) takes the source at (y, 39 - x) here.
    Data q(a->rotateAndTranslate(90, 0, 0, 0));
    EXPECT_NEAR(q->getRealData()[7 * 40 + 3], s[(39 - 3) * 40 + 7], 1e-4);
    // In place: the pixels change, the statistics are left as they were.
    const float mean = a->Mean();
    EXPECT_EQ(a->rotateAndTranslate(0, 3, 2, 1), nullptr);
    EXPECT_EQ(a->getRealData()[10 * 40 + 10], d[10 * 40 + 10]);
    EXPECT_EQ(a->Mean(), mean);
    // Non-finite shifts give the mean, never an undefined read.
    Data n(a->rotateAndTranslate(0, NAN, 0, 0));
    EXPECT_EQ(n->getRealData()[0], n->getRealData()[1]);
}

TEST(SubData, RealAndCoherentComplex) {
    Data a = texture(32, 0, 0, 0), b = texture(32, 1, 0, 0);
    std::vector<float> av(a->getRealData(), a->getRealData() + 1024);
    a->subData(b.get());
    for (int i = 0; i < 1024; i++) EXPECT_FLOAT_EQ(a->getRealData()[i], av[i] - b->getRealData()[i]);
    Data small = texture(16, 0, 0, 0);
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
