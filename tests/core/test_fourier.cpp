// Fourier transforms of data sets: layout, names, refusals, padding and copies.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "numeric/fastmath.h"

namespace {

using Data = std::unique_ptr<MRCData>;

Data image(int nx, int ny, unsigned seed, const char* name = "img", int nz = 1) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<float> u(-1, 1);
    std::vector<float> v((size_t)nx * ny * nz);
    for (auto& x : v) x = u(g);
    Data d(new MRCData());
    d->setRealData(v.data(), nx, ny, nz);
    d->setName(name);
    return d;
}

std::string captured(std::function<void()> f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(DoFFT, ConstantImageGivesOnlyTheCentreValue) {
    std::vector<float> v(64 * 64, 1.5f);
    MRCData d;
    d.setRealData(v.data(), 64, 64, 1);
    Data f(d.doFFT(0));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->xSize(), 66);
    EXPECT_EQ(f->ySize(), 64);
    EXPECT_EQ(f->Flags(), 3);
    EXPECT_EQ(f->isComplex(), 1);
    const float* a = f->getRealData();
    EXPECT_NEAR(a[32 * 66], 64 * 1.5, 1e-3);
    for (int r = 0; r < 64; r++)
        for (int x = 0; x < 66; x += 2)
            if (!(r == 32 && x == 0)) {
                EXPECT_NEAR(a[r * 66 + x], 0, 1e-4) << r << "," << x;
            }
}

TEST(DoFFT, CentredLayoutMatchesDirectSum) {
    const int nx = 12, ny = 10;
    Data d = image(nx, ny, 1);
    Data f(d->doFFT(1));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->Flags(), 7);
    const float* a = f->getRealData();
    const float* s = d->getRealData();
    for (int r = 0; r < ny; r++) {
        const int k = r - ny / 2;
        for (int h = 0; h <= nx / 2; h++) {
            std::complex<double> F = 0;
            for (int y = 0; y < ny; y++)
                for (int x = 0; x < nx; x++)
                    F += (double)s[y * nx + x] * std::polar(1.0, 2 * M_PI * ((double)h * x / nx + (double)k * y / ny));
            F /= std::sqrt((double)nx * ny);
            EXPECT_NEAR(a[r * (nx + 2) + 2 * h], F.real(), 1e-5);
            EXPECT_NEAR(a[r * (nx + 2) + 2 * h + 1], F.imag(), 1e-5);
        }
    }
    // The amplitude/phase form holds the same values.
    Data p(d->doFFT(0));
    const float* b = p->getRealData();
    for (int i = 0; i < (nx + 2) * ny; i += 2) {
        EXPECT_NEAR(b[i], std::hypot(a[i], a[i + 1]), 1e-5);
        if (b[i] > 1e-3) {
            EXPECT_NEAR(b[i + 1], std::atan2(a[i + 1], a[i]), 1e-5);
        }
    }
}

TEST(DoFFT, RoundTripNamesAndFlags) {
    for (auto sz : {std::pair<int, int>{64, 64}, {100, 98}, {1000, 8}, {6, 1008}}) {
        Data d = image(sz.first, sz.second, 3, "orig");
        Data f(d->doFFT(0));
        ASSERT_TRUE(f);
        EXPECT_STREQ(f->Name(), "FFT orig");
        Data r(f->doIFT(0));
        ASSERT_TRUE(r);
        EXPECT_STREQ(r->Name(), "IFT FFT orig");
        EXPECT_EQ(r->Flags(), 0);
        EXPECT_EQ(r->xSize(), sz.first);
        EXPECT_EQ(r->ySize(), sz.second);
        double e = 0, t = 0;
        for (long i = 0; i < (long)sz.first * sz.second; i++) {
            double dd = r->getRealData()[i] - d->getRealData()[i];
            e += dd * dd;
            t += (double)d->getRealData()[i] * d->getRealData()[i];
        }
        EXPECT_LT(std::sqrt(e / t), 1e-5);
    }
    // An unnamed source gives the name "FFT na".
    MRCData u;
    std::vector<float> v(16, 1.0f);
    u.setRealData(v.data(), 4, 4, 1);
    Data f(u.doFFT(0));
    EXPECT_STREQ(f->Name(), "FFT na");
}

TEST(DoFFT, RefusalsAndMessages) {
    Data d = image(100, 94, 1);
    MRCData* f = nullptr;
    EXPECT_EQ(captured([&] { f = d->doFFT(0); }), "Invalid FFT size!\n");
    EXPECT_EQ(f, nullptr);
    Data ok = image(100, 98, 1);
    Data t(ok->doFFT(0));
    ASSERT_TRUE(t);
    EXPECT_EQ(captured([&] { f = t->doFFT(0); }), "Cannot do FFT of FFT\n");
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(captured([&] { f = ok->doIFT(0); }), "Cannot do IFT of real\n");
    EXPECT_EQ(f, nullptr);
    // 48 floats per row = real width 46 = 2*23: refused without a message.
    std::vector<float> c(48 * 8, 1.0f);
    MRCData cx;
    cx.setComplData(c.data(), 48, 8, 1);
    EXPECT_EQ(captured([&] { f = cx.doIFT(0); }), "");
    EXPECT_EQ(f, nullptr);
    // 66 by 64 complex inverts.
    std::vector<float> c2(66 * 64, 0.0f);
    MRCData cy;
    cy.setComplData(c2.data(), 66, 64, 1);
    Data r(cy.doIFT(0));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->xSize(), 64);
    // Empty data sets are not transformable.
    MRCData e;
    EXPECT_EQ(captured([&] { f = e.doFFT(0); }), "Invalid FFT size!\n");
}

TEST(DoFFT, OnlyTheFirstPlaneIsTransformed) {
    Data d = image(16, 8, 4, "stack", 3);
    Data f(d->doFFT(0));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->zSize(), 1);
    Data first = image(16, 8, 4, "one", 1);  // same seed: plane 0 equals it
    Data g(first->doFFT(0));
    for (int i = 0; i < 18 * 8; i++) EXPECT_FLOAT_EQ(f->getRealData()[i], g->getRealData()[i]);
    Data r(f->doIFT(0));
    EXPECT_EQ(r->zSize(), 1);
}

TEST(PadTo, MarginsMeanAndRefusals) {
    std::vector<float> v = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    MRCData d;
    d.setRealData(v.data(), 5, 3, 1);
    const float m = d.Mean();
    EXPECT_EQ(d.padTo(0, 8, 6), 1);
    EXPECT_EQ(d.xSize(), 8);
    EXPECT_EQ(d.ySize(), 6);
    EXPECT_GE(d.dataCapacity(), (size_t)10 * 6);
    const float* a = d.getRealData();
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 8; x++) {
            const bool inside = x >= 1 && x < 6 && y >= 1 && y < 4;
            EXPECT_FLOAT_EQ(a[y * 8 + x], inside ? v[(y - 1) * 5 + x - 1] : m) << x << "," << y;
        }
    // Noise padding keeps the image and fills around it with varying values.
    MRCData n;
    std::vector<float> w(100);
    for (int i = 0; i < 100; i++) w[i] = (float)i;
    n.setRealData(w.data(), 10, 10, 1);
    EXPECT_EQ(n.padTo(1, 40, 40), 1);
    EXPECT_FLOAT_EQ(n.getRealData()[15 * 40 + 15], 0);
    EXPECT_NE(n.getRealData()[0], n.getRealData()[1]);
    int rc = -1;
    EXPECT_EQ(captured([&] { rc = d.padTo(0, 4, 6); }), "Cannot pad to a smaller size (4x6 is below 8x6)\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(d.xSize(), 8);
    Data c(d.doFFT(0));
    EXPECT_EQ(captured([&] { rc = c->padTo(0, 100, 100); }), "Cannot pad a Fourier transform\n");
    EXPECT_EQ(rc, 0);
}

TEST(ToCorner, SwapsQuadrants) {
    std::vector<float> v(16);
    for (int i = 0; i < 16; i++) v[i] = (float)i;
    MRCData d;
    d.setRealData(v.data(), 4, 4, 1);
    d.toCorner();
    const float* a = d.getRealData();
    EXPECT_EQ(a[0], v[2 * 4 + 2]);
    EXPECT_EQ(a[2 * 4 + 2], v[0]);
    EXPECT_EQ(a[2], v[2 * 4]);  // (2,0) <- (0,2)
    d.toCorner();
    for (int i = 0; i < 16; i++) EXPECT_EQ(a[i], v[i]);
}

TEST(Extract, ClampsAndNeverReadsOutside) {
    std::vector<float> v(20);
    for (int i = 0; i < 20; i++) v[i] = (float)i;
    MRCData d;
    d.setRealData(v.data(), 5, 4, 1);
    float out[64];
    EXPECT_EQ(d.extractReal(out, -5, 1, 2, 2), 1);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[3], 11);
    EXPECT_EQ(d.extractReal(out, 4, 3, 3, 2), 1);  // shifted left and down to end at the edges
    EXPECT_EQ(out[0], 12);
    EXPECT_EQ(out[5], 19);
    // Larger than the image: the image, padded with 0.
    EXPECT_EQ(d.extractReal(out, 0, 0, 7, 6), 1);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[4], 4);
    EXPECT_EQ(out[5], 0);
    EXPECT_EQ(out[7], 5);
    EXPECT_EQ(out[5 * 7], 0);
    EXPECT_EQ(d.extractCompl(out, 0, 0, 2, 2), 0);
    Data f(d.doFFT(0));
    EXPECT_EQ(f, nullptr);  // 5 is odd
    Data g = image(8, 6, 2);
    Data t(g->doFFT(0));
    EXPECT_EQ(t->extractReal(out, 0, 0, 2, 2), 0);
    EXPECT_EQ(t->extractCompl(out, 99, 5, 10, 2), 1);  // x0 ignored, y0 clamped to 4
    EXPECT_EQ(out[0], t->getRealData()[4 * 10]);
    EXPECT_EQ(out[10], t->getRealData()[5 * 10]);
}

TEST(FastMath, AmplitudePhaseAgreesWithLibrary) {
    std::mt19937 g(8);
    std::uniform_real_distribution<float> u(-100, 100);
    std::vector<float> a(2002);
    for (auto& x : a) x = u(g);
    // Axes, zeros and signed zeros too.
    float special[] = {0, 0, 1, 0, -1, 0, 0, 1, 0, -1, -0.0f, 1, 1, -0.0f, -1, -0.0f, 3, 3, -3, 3};
    std::copy(std::begin(special), std::end(special), a.begin());
    auto b = a;
    toAmpPhase(b.data(), 1001);
    for (int i = 0; i < 2002; i += 2) {
        EXPECT_NEAR(b[i], std::hypot(a[i], a[i + 1]), 1e-4);
        EXPECT_NEAR(b[i + 1], std::atan2(a[i + 1], a[i]), 3e-7) << a[i] << "," << a[i + 1];
    }
    toReIm(b.data(), 1001);
    for (int i = 0; i < 2002; i++) EXPECT_NEAR(b[i], a[i], 1e-4);
}
