// Radial profiles and functions, masks, flood, flip, clips and averages.

#include <functional>

#include "core/List.h"
#include "numeric/filter.h"
#include "tests/core/numeric_testutil.h"

namespace {

constexpr float kPi = 3.14159265358979f;

// A complex set of nx-2 by ny in amplitude/phase form with the given amplitude
// everywhere and phases alternating in sign.
Data spectrum(int nx, int ny, float amp, float phase = 0.5f) {
    std::vector<float> v((size_t)nx * ny);
    for (size_t i = 0; i < v.size(); i += 2) {
        v[i] = amp;
        v[i + 1] = (i / 2) % 2 ? -phase : phase;
    }
    Data d(new MRCData());
    d->setComplData(v.data(), nx, ny, 1);
    d->setFlags(3);
    return d;
}

// Number of pairs (a, b) at float i of d for which off(a, b, i) holds.
template <class F>
int countPairs(MRCData* d, F off) {
    int n = 0;
    for (long i = 0; i < (long)d->xSize() * d->ySize(); i += 2)
        n += off(d->getRealData()[i], d->getRealData()[i + 1], i);
    return n;
}

bool allFinite(MRCData* d) {
    return countPairs(d, [](float a, float b, long) { return !std::isfinite(a) || !std::isfinite(b); }) == 0;
}

std::unique_ptr<List> listOf(std::initializer_list<MRCData*> sets) {
    std::unique_ptr<List> l(new List);
    for (MRCData* s : sets) l->addObject(s);
    return l;
}

}  // namespace

TEST(CalcDist, UnitAmplitudesGiveUnitProfilesTheCacheAndABrightPair) {
    Data d = spectrum(66, 64, 1.0f);
    // {mode, px, py, abscissa step}: angular; wedge, power along the direction
    // of (px, py); arc, amplitude along the ring; radial power.
    const float modes[][4] = {
        {1, 0, 0, kPi / 100}, {2, 10, 32, 66 * 0.5f / 200}, {3, 10, 40, kPi / 100}, {0, 0, 0, 66 * 0.6f / 200}};
    float* p = nullptr;
    for (auto& m : modes) {
        p = d->calcDist((int)m[0], (int)m[1], (int)m[2]);
        ASSERT_NE(p, nullptr);
        for (int i = 0; i < 200; i++) EXPECT_NEAR(p[200 + i], 1.0f, 1e-5) << m[0] << " " << i;
        EXPECT_LT(std::fabs(p[0]) + std::fabs(p[10] - 10 * m[3]), 1e-5) << m[0];
    }
    // Changing the values without a radial operation: the cached profile is served.
    for (long i = 0; i < 66 * 64; i += 2) d->getRealData()[i] = 2;
    float* q = d->calcDist(0, 0, 0);
    EXPECT_EQ(q, p);
    EXPECT_NEAR(q[200 + 5], 1.0f, 1e-5);
    EXPECT_NEAR(q[10], 10 * 66 * 0.6f / 200, 1e-6);
    // A radial operation invalidates it.
    float A[2] = {0, 1}, V[3] = {1, 1, 1};
    d->applyRadFn(3, A, V);
    q = d->calcDist(0, 0, 0);
    EXPECT_NEAR(q[200 + 5], 4.0f, 1e-4);
    EXPECT_EQ(d->calcDist(0, 0, 0), p);
    EXPECT_EQ(noiseData(8, 8, 1)->calcDist(0, 0, 0), nullptr);
    // A single bright pair at (h, k) = (5, 0) shows in the wedge along k = 0.
    Data s = spectrum(66, 64, 0.0f);
    s->getRealData()[32 * 66 + 10] = 3;
    p = s->calcDist(2, 20, 32);
    EXPECT_EQ((int)((std::max_element(p + 200, p + 400) - (p + 200)) * (66 * 0.5f / 200)), 5);
}

TEST(RadialFunctions, ApplySetSubtractAndNoise) {
    float A[2] = {0, 1};
    std::vector<float> ones(100, 1.0f), minus(100, -1.0f), twos(100, 2.0f), big(100, 1.5f), zero(100, 0.0f);
    Data d = spectrum(34, 32, 1.0f);
    std::vector<float> before(d->getRealData(), d->getRealData() + 34 * 32);
    d->applyRadFn(100, A, ones.data());
    auto kept = [&](float a, float p, long i) {
        return std::fabs(a - before[i]) + std::fabs(p - before[i + 1]) > 1e-6;
    };
    EXPECT_EQ(countPairs(d.get(), kept), 0);
    // V = -1 keeps amplitudes and moves every phase by pi away from zero.
    d->applyRadFn(100, A, minus.data());
    auto moved = [&](float a, float p, long i) {
        return std::fabs(a - 1) + std::fabs(p - (before[i + 1] < 0 ? before[i + 1] - kPi : before[i + 1] + kPi)) > 1e-6;
    };
    EXPECT_EQ(countPairs(d.get(), moved), 0);
    // A band whose current mean amplitude is 0 stays 0 instead of 0/0.
    Data z = spectrum(34, 32, 0.0f);
    z->getRealData()[16 * 34 + 20] = 1;  // one pair at radius 10
    z->setRadAmp(100, A, twos.data());
    EXPECT_TRUE(allFinite(z.get()));
    EXPECT_EQ(z->getRealData()[16 * 34 + 2], 0);
    EXPECT_GT(z->getRealData()[16 * 34 + 20], 0);
    // subRadFn: below zero becomes 0 with the phase moved.
    Data s = spectrum(34, 32, 1.0f);
    s->subRadFn(100, A, big.data());
    auto zeroed = [](float a, float p, long) { return a != 0 || std::fabs(std::fabs(p) - 0.5f - kPi) > 1e-6; };
    EXPECT_EQ(countPairs(s.get(), zeroed), 0);
    // Noise of length 0 changes nothing.
    Data n = spectrum(34, 32, 1.0f, 0.25f);
    n->addRadNoise(100, A, zero.data(), 0);
    auto same = [](float a, float p, long) { return std::fabs(a - 1) + std::fabs(std::fabs(p) - 0.25f) > 1e-6; };
    EXPECT_EQ(countPairs(n.get(), same), 0);
    n->addRadNoise(100, A, ones.data(), 0.5f);
    EXPECT_TRUE(allFinite(n.get()));
    // A degenerate table (A[1] == A[0]) uses an end value, without undefined conversions.
    float Aflat[2] = {1, 1};
    Data f = spectrum(34, 32, 1.0f);
    f->applyRadFn(100, Aflat, twos.data());
    EXPECT_TRUE(allFinite(f.get()));
}

TEST(Filter, TableAndAnswerSyntax) {
    float L, H;
    int M;
    EXPECT_EQ(parseFilterAnswer("20", &L, &H, &M), 1);
    EXPECT_EQ(std::vector<float>({L, H, (float)M}), std::vector<float>({20, -1, 0}));
    EXPECT_EQ(parseFilterAnswer(" 20 , 100 , -1", &L, &H, &M), 3);
    EXPECT_EQ(std::vector<float>({L, H, (float)M}), std::vector<float>({20, 100, -1}));
    EXPECT_EQ(parseFilterAnswer("abc", &L, &H, &M), 0);
    Data d = noiseData(64, 64, 5);
    d->setPixres(2);
    float A[400], V[400];
    makeFilterTable(d.get(), 20, -1, 0, A, V);
    // s = A/(2*64) = 1/20 at A = 6.4: value exp(-pi^2/4).
    int i = (int)std::round(6.4 * 400 / (64 * std::sqrt(2.0)));
    const float s = A[i] / (2 * 64);
    EXPECT_NEAR(V[i], std::exp(-std::pow(0.5 * M_PI * s * 20, 2)), 1e-6);
    makeFilterTable(d.get(), 20, 100, 0, A, V);
    for (int j = 0; j < 400; j++)
        if (A[j] / 128 < 0.01f) {
            EXPECT_EQ(V[j], 0) << j;
        }
    makeFilterTable(d.get(), -20, -1, 0, A, V);
    EXPECT_EQ(V[399], 1000);
    EXPECT_NEAR(V[0], 1, 1e-6);
    makeFilterTable(d.get(), 20, -1, 1, A, V);
    EXPECT_EQ(V[0], 1);
    EXPECT_EQ(V[399], 0);
    // A real image comes back filtered as a new image; 0 does nothing.
    EXPECT_EQ(applyFilter(d.get(), 0, -1, 0), nullptr);
    Data r(applyFilter(d.get(), 20, -1, 0));
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->isComplex());
    EXPECT_LT(r->Sigma(), d->Sigma());
    Data c(d->doFFT(0));
    EXPECT_EQ(applyFilter(c.get(), 20, -1, 0), c.get());
}

TEST(Mask, RealDefaultRadiusSoftEdgeAndNoise) {
    Data d = noiseData(100, 100, 2), s = noiseData(100, 100, 2), n = noiseData(100, 100, 2);
    std::vector<float> orig(d->getRealData(), d->getRealData() + 10000);
    const float m = d->Mean();
    d->applyMask(0, 0);
    for (int y = 0; y < 100; y++)
        for (int x = 0; x < 100; x++) {
            float r = std::sqrt((x - 49.5f) * (x - 49.5f) + (y - 49.5f) * (y - 49.5f));
            EXPECT_FLOAT_EQ(d->getRealData()[y * 100 + x], r + 0.5f > 50 ? m : orig[y * 100 + x]) << x << "," << y;
        }
    s->applyMask(1, 0);  // R = 46
    EXPECT_FLOAT_EQ(s->getRealData()[50 * 100 + 50 + 45], orig[50 * 100 + 95]);
    EXPECT_NEAR(s->getRealData()[0], m, 1e-3);
    n->applyMask(2, 30);
    EXPECT_FLOAT_EQ(n->getRealData()[50 * 100 + 50], orig[50 * 100 + 50]);
    EXPECT_NE(n->getRealData()[0], orig[0]);
    EXPECT_NE(n->getRealData()[0], n->getRealData()[1]);
}

TEST(Mask, ComplexStepKeepsPhases) {
    Data d = spectrum(66, 64, 1.0f);
    EXPECT_EQ(d->applyMask(0, 10), 1);
    auto off = [](float a, float p, long i) {
        const long k = i / 66 - 32, h = i % 66 / 2;
        return a != (std::sqrt((float)(k * k + h * h)) >= 10 ? 0.0f : 1.0f) || p == 0;
    };
    EXPECT_EQ(countPairs(d.get(), off), 0);
    // Real/imaginary form (bit 2): both floats of a pair are masked.
    Data e = spectrum(66, 64, 1.0f);
    e->setFlags(7);
    e->applyMask(0, 10);
    EXPECT_EQ(e->getRealData()[0 * 66 + 41], 0);
}

TEST(EdgeFlood, FlatBorderIsFloodedAndOthersLeftAlone) {
    std::vector<float> v(20 * 20, 0.0f), w(20 * 20);
    std::mt19937 g(3);
    for (int y = 3; y < 17; y++)
        for (int x = 3; x < 17; x++) v[y * 20 + x] = (g() % 2) ? 1.0f : -1.0f;
    Data d = realData(v, 20, 20);
    std::string out = captured([&] { d->edgeFlood(7); });
    EXPECT_EQ(out.rfind("edgesig=", 0), 0u);
    EXPECT_NE(out.find(" edgemean=0.000000\n"), std::string::npos);
    EXPECT_EQ(valuesAt(d.get(), {0, 2 * 20 + 10, 10 * 20 + 19, 10 * 20 + 10}),
              std::vector<float>({7, 7, 7, v[10 * 20 + 10]}));
    // Border values all outside the band: nothing changes.
    for (int i = 0; i < 400; i++) w[i] = (i % 2) ? 1.0f : -1.0f;
    Data e = realData(w, 20, 20);
    captured([&] { e->edgeFlood(7); });
    EXPECT_EQ(std::vector<float>(e->getRealData(), e->getRealData() + 400), w);
}

TEST(FlipClip, RowsSwapAndClipsStayInside) {
    // Odd and even row counts (the two middle rows of an even one swap too), and planes flipped each on its own:
    // row y of plane z takes row ny - 1 - y of the same plane.
    for (auto [nx, ny, nz] : {std::tuple{2, 3, 1}, {3, 4, 1}, {2, 6, 1}, {3, 2, 2}}) {
        const std::vector<float> v = noiseValues((size_t)nx * ny * nz, 9);
        Data d = realData(v, nx, ny, nz);
        d->flipData();
        std::vector<float> want(v.size());
        for (int z = 0; z < nz; z++)
            for (int y = 0; y < ny; y++)
                for (int x = 0; x < nx; x++)
                    want[((size_t)z * ny + y) * nx + x] = v[((size_t)z * ny + (ny - 1 - y)) * nx + x];
        EXPECT_EQ(std::vector<float>(d->getRealData(), d->getRealData() + v.size()), want)
            << nx << "x" << ny << "x" << nz;
    }
    Data r = noiseData(10, 8, 4);
    Data c(r->makeClip(2, 3, 4, 2));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->xSize(), 4);
    EXPECT_EQ(valuesAt(c.get(), {0, 7}), valuesAt(r.get(), {3 * 10 + 2, 4 * 10 + 5}));
    // A rectangle reaching outside: those pixels take the source mean.
    Data o(r->makeClip(-2, 6, 4, 5));
    EXPECT_EQ(valuesAt(o.get(), {0, 2, 4 * 4 + 3}),
              std::vector<float>({r->Mean(), r->getRealData()[6 * 10 + 0], r->Mean()}));
    EXPECT_EQ(r->makeClip(0, 0, 0, 5), nullptr);
}

TEST(Averages, RealComplexAndFFTAverage) {
    Data a = noiseData(8, 6, 1, "first"), b = noiseData(8, 6, 2, "second"), odd = noiseData(7, 6, 3);
    Data c = spectrum(10, 6, 1.0f), c2 = spectrum(10, 6, 2.0f);
    auto l = listOf({a.get(), b.get()}), k = listOf({c.get(), c2.get()});
    MRCData avg, one, bad, rms, coh, nc, fa, fo;
    EXPECT_EQ(one.makeAverage(listOf({a.get()}).get(), 0), 0);
    EXPECT_EQ(one.makeAverage(nullptr, 0), 0);
    EXPECT_EQ(avg.makeAverage(l.get(), 0), 1);
    EXPECT_STREQ(avg.Name(), "Avg of 2, first");
    for (int i = 0; i < 48; i++) EXPECT_FLOAT_EQ(avg.getRealData()[i], (a->getRealData()[i] + b->getRealData()[i]) / 2);
    EXPECT_EQ(bad.makeAverage(listOf({a.get(), c.get()}).get(), 0), 0);
    // Two complex sets: RMS amplitude, phase 0; coherent mode 1 keeps phases.
    EXPECT_EQ(rms.makeAverage(k.get(), 0), 1);
    EXPECT_EQ(std::vector<float>({(float)rms.isComplex(), rms.getRealData()[1]}), std::vector<float>({1, 0}));
    EXPECT_NEAR(rms.getRealData()[0], std::sqrt(2.5f), 1e-6);
    EXPECT_EQ(coh.makeAverage(k.get(), 1), 1);
    EXPECT_NEAR(coh.getRealData()[0], 1.5f, 1e-5);
    EXPECT_NEAR(coh.getRealData()[1], 0.5f, 1e-5);
    EXPECT_EQ(nc.makeAverage(l.get(), 1), 0);
    // FFT average: RMS of the amplitudes of the normalized images' transforms.
    EXPECT_EQ(fa.makeFFTAvg(l.get()), 1);
    EXPECT_STREQ(fa.Name(), "Avg of 2, first");
    EXPECT_EQ(std::vector<int>({fa.xSize(), fa.isComplex()}), std::vector<int>({10, 1}));
    EXPECT_NEAR(a->Mean(), 0, 1e-5);  // the sources are normalized in place
    Data fa1(a->doFFT(0)), fb1(b->doFFT(0));
    for (int i = 0; i < 60; i += 2) {
        const float pa = fa1->getRealData()[i], pb = fb1->getRealData()[i];
        EXPECT_NEAR(fa.getRealData()[i], std::sqrt((pa * pa + pb * pb) / 2), 1e-5);
    }
    EXPECT_EQ(fo.makeFFTAvg(listOf({odd.get(), odd.get()}).get()), 0);
}

TEST(SmoothSimfilt, ValuesAndRefusals) {
    Data r = noiseData(30, 30, 6);
    MRCData* p = nullptr;
    EXPECT_EQ(captured([&] { p = r->smoothAmp(); }), "SmoothAmp() is only for complex data\n");
    EXPECT_EQ(p, nullptr);
    Data c(r->doFFT(0));
    Data s(c->smoothAmp());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Flags(), 1);
    const float* a = c->getRealData();
    const float* b = s->getRealData();
    const int nx = 32;
    long i = 5 * nx + 2 * 3;
    EXPECT_FLOAT_EQ(b[i], 0.5f * a[i] + 0.125f * (a[i - 2] + a[i + 2] + a[i - nx] + a[i + nx]));
    for (long j : {i + 1, 0L, 5L * nx + 30}) EXPECT_EQ(b[j], a[j]) << j;
    Data other = noiseData(30, 30, 7), small = noiseData(20, 30, 7);
    EXPECT_EQ(r->simfilt(small.get()), nullptr);
    Data f(r->simfilt(other.get()));
    ASSERT_TRUE(f);
    double want = 0;
    for (int y = 5; y < 25; y++)
        for (int x = 7; x < 27; x++) want += (double)r->getRealData()[y * 30 + x] * r->getRealData()[y * 30 + x];
    EXPECT_NEAR(f->getRealData()[15 * 30 + 17], want, 1e-3);
    EXPECT_EQ(valuesAt(f.get(), {0, 15 * 30 + 20}), std::vector<float>({0, 0}));
}

TEST(CalcRDist, RingOfConstantAndOffsetsOutside) {
    Data d = realData(std::vector<float>(64 * 64, 3.0f), 64, 64);
    std::vector<float> out(2 * 360);
    d->calcRDist(out.data(), 360, 20, 0, 0);
    for (int i = 0; i < 360; i++) {
        EXPECT_FLOAT_EQ(out[i], 6.2831855f / 360 * i);
        EXPECT_FLOAT_EQ(out[360 + i], 3.0f);
    }
    // Rings beyond the image, or centres far away, read nothing.
    d->calcRDist(out.data(), 360, 40, 0, 0);
    d->calcRDist(out.data(), 360, 20, 1e9f, -1e9f);
    EXPECT_EQ(std::count(out.begin() + 360, out.end(), 0.0f), 360);
    d->calcRDist(out.data(), 360, 20, NAN, 0);
    EXPECT_EQ(std::count(out.begin() + 360, out.end(), 0.0f), 360);
}

// On a 96 x 64 transform every radial operation measures the radius in steps
// of the y frequency, r = sqrt(k^2 + (h 64/96)^2), so that one radius is one
// spatial frequency along x and along y. Amplitudes are set as functions of r
// (computed here in double precision) and the results compared with r again.
TEST(Radial, NonSquareTransformsMeasureOneFrequencyInEveryDirection) {
    const int NX = 96, NY = 64, W = NX + 2;
    auto r = [&](int h, int k) { return std::hypot((double)k, h * (double)NY / NX); };
    // A transform with amplitude amp(h, k); pair (h, row) at float row*W + 2h.
    auto make = [&](std::function<double(int, int)> amp) {
        Data d = spectrum(W, NY, 0);
        for (int row = 0; row < NY; row++)
            for (int h = 0; h <= NX / 2; h++) d->getRealData()[row * W + 2 * h] = (float)amp(h, row - NY / 2);
        d->update();
        return d;
    };
    // Expected amplitude of pair (h, k) after each operation; NAN: not checked.
    float A[64], V[64];
    for (int i = 0; i < 64; i++) A[i] = (float)i, V[i] = 0.5f * i;  // V(r) = r/2
    struct Case {
        const char* what;
        double before;
        std::function<void(MRCData*)> op;
        std::function<double(double)> after;
    } cases[] = {
        {"applyRadFn", 1, [&](MRCData* d) { d->applyRadFn(64, A, V); }, [](double x) { return x / 2; }},
        {"setRadAmp", 2, [&](MRCData* d) { d->setRadAmp(64, A, V); }, [](double x) { return x / 2; }},
        {"subRadFn", 40, [&](MRCData* d) { d->subRadFn(64, A, V); }, [](double x) { return 40 - x / 2; }},
        {"addRadNoise", 0, [&](MRCData* d) { d->addRadNoise(64, A, V, 0); }, [](double x) { return x / 2; }},
        {"applyMask", 1, [&](MRCData* d) { d->applyMask(0, 20); },
         [](double x) { return std::fabs(x - 20) < 1e-3 ? NAN
                               : x >= 20                ? 0
                                                        : 1; }},
    };
    for (const Case& c : cases) {
        Data d = make([&](int, int) { return c.before; });
        c.op(d.get());
        auto off = [&](float a, float, long i) {
            const double want = c.after(r(i % W / 2, i / W - NY / 2));
            return !std::isnan(want) && std::fabs(a - want) > 1e-3 * (1 + want);
        };
        EXPECT_EQ(countPairs(d.get(), off), 0) << c.what;
    }
    // Profiles of amp^2 = r (modes 0 and 2) and amp = r (mode 3) follow r,
    // along x as along y.
    Data p = make([&](int h, int k) { return std::sqrt(r(h, k)); }), q = make(r);
    const float* P = p->calcDist(0, 0, 0);
    int bad = 0;
    for (int i = 10; i < 150; i++) bad += std::fabs(P[200 + i] - P[i]) > 0.05 * P[i] + 0.1;
    EXPECT_EQ(bad, 0) << "radial profile";
    for (int dir = 0; dir < 2; dir++) {
        P = p->calcDist(2, dir ? 0 : 30, dir ? NY / 2 + 20 : NY / 2);  // towards +x, towards +y
        bad = 0;
        for (int b = 40; b < 120; b++) bad += std::fabs(P[200 + b] - P[b]) > 1.5;
        EXPECT_EQ(bad, 0) << "wedge " << dir;
    }
    P = q->calcDist(3, 15, NY / 2);  // the arc through r = 10 on the x axis
    const auto mm = std::minmax_element(P + 200, P + 300);
    EXPECT_LT(*mm.second - *mm.first, 1.2);
    EXPECT_NEAR(P[200], 9.0, 1.5);
    // The angular profile of a 10-degree wedge about 45 degrees peaks at 45.
    Data w = make([&](int h, int k) { return std::fabs(std::atan2(k, h * (double)NY / NX) - M_PI / 4) < 0.087; });
    P = w->calcDist(1, 0, 0);
    EXPECT_NEAR(std::max_element(P + 200, P + 300) - (P + 200), 25, 1);
}
