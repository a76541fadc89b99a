// Wavelet banks, transforms, data-set operations and thresholding.

#include "tests/core/numeric_testutil.h"
#include "wav/filter.h"
#include "wav/wavelet.h"

namespace {

double relRms(const std::vector<float>& a, const float* b) {
    return ::relRms(a.data(), b, a.size());
}

// Error of doDWT then doIWT on d against img (infinite when either refuses).
double roundTrip(MRCData* d, const std::vector<float>& img, int basis, int levels) {
    if (d->doDWT(basis, levels) != 1 || d->doIWT(basis, levels) != 1) return INFINITY;
    return relRms(img, d->getRealData());
}

// One level of the textbook periodic orthogonal filter bank, in double, on
// the n samples x[i*s]: a_k = sum_m h[m - 2k] x[m], d_k = sum_m g[m - 2k] x[m],
// g[m] = (-1)^m h[1 - m].
void periodicLevel(double* x, int n, int s, const std::vector<double>& h) {
    const int L = (int)h.size();
    std::vector<double> in(n), out(n, 0.0);
    for (int i = 0; i < n; i++) in[i] = x[i * s];
    for (int k = 0; k < n / 2; k++) {
        for (int t = 0; t < L; t++) out[k] += h[t] * in[((2 * k + t) % n + n) % n];  // h index t: m = 2k + t
        for (int t = 2 - L; t <= 1; t++)  // g index t = m - 2k; g[t] = (-1)^t h[1 - t]
            out[n / 2 + k] += ((t % 2) ? -1.0 : 1.0) * h[1 - t] * in[((2 * k + t) % n + n) % n];
    }
    for (int i = 0; i < n; i++) x[i * s] = out[i];
}

// Rows, then columns, of an n x n image.
std::vector<float> periodicLevel2D(const std::vector<float>& img, int n, const std::vector<double>& h) {
    std::vector<double> a(img.begin(), img.end());
    for (int r = 0; r < n; r++) periodicLevel(&a[r * n], n, 1, h);
    for (int c = 0; c < n; c++) periodicLevel(&a[c], n, n, h);
    return std::vector<float>(a.begin(), a.end());
}

}  // namespace

TEST(WaveletBanks, LowPassSumsPalindromesPublishedTapsBiorthogonalityAndMirrors) {
    const FilterSet* all[16];
    for (int b = 0; b < 15; b++) all[b] = wavelet_bank(b);
    all[15] = &Villa1810;
    for (const FilterSet* fs : all)
        for (const Filter* f : {&fs->analysisLow, &fs->synthesisLow}) {
            double sum = 0;
            for (float c : f->coeff) sum += c;
            EXPECT_NEAR(sum, std::sqrt(2.0), 2e-6);
            for (int i = 0; fs->symmetric && i < f->size; i++) EXPECT_FLOAT_EQ(f->coeff[i], f->coeff[f->size - 1 - i]);
        }
    for (int b : {15, -1}) EXPECT_EQ(wavelet_bank(b), &Daub4) << b;
    EXPECT_STREQ(wavelet_bank_name(7), "Brislawn2");
    const std::pair<float, float> published[] = {
        {Antonini.analysisLow.coeff[4], 0.8526987f},   {Antonini.synthesisLow.coeff[3], 0.7884856f},
        {Adelson.analysisLow.coeff[4], 0.7984298f},    {Brislawn2.analysisLow.coeff[4], 0.8995061f},
        {Brislawn2.synthesisLow.coeff[4], 0.5411327f}, {Villa2.analysisLow.coeff[6], 0.7672452f},
        {Villa2.synthesisLow.coeff[5], 0.8328476f},    {Odegard.analysisLow.coeff[4], 0.7875138f},
        {Odegard.synthesisLow.coeff[3], 0.8167806f}};
    for (auto& p : published) EXPECT_NEAR(p.first, p.second, 1e-7);
    // Perfect reconstruction needs sum_p H(p) G(p - 2k) = delta_k over absolute tap positions.
    for (int b = 0; b < 15; b++) {
        if (b == 5) continue;  // the Adelson QMF reconstructs only approximately
        const Filter& h = wavelet_bank(b)->analysisLow;
        const Filter& g = wavelet_bank(b)->synthesisLow;
        for (int k = -10; k <= 10; k++) {
            double s = 0;
            for (int i = 0; i < h.size; i++) {
                int gi = h.firstIndex + i - 2 * k - g.firstIndex;
                if (gi >= 0 && gi < g.size) s += (double)h.coeff[i] * g.coeff[gi];
            }
            EXPECT_NEAR(s, k == 0 ? 1.0 : 0.0, 2e-6) << "basis " << b << " shift " << k;
        }
    }
    // Daub4's high-pass: first index -2, the low-pass reversed with signs -, +, -, +.
    const Filter &hi = Daub4.analysisHigh, &lo = Daub4.analysisLow;
    EXPECT_EQ(std::vector<int>({hi.size, hi.firstIndex, hi.origin}), std::vector<int>({4, -2, 2}));
    EXPECT_EQ(std::vector<float>({hi.coeff[3], hi.coeff[2], hi.coeff[0]}),
              std::vector<float>({-lo.coeff[0], lo.coeff[1], lo.coeff[3]}));
    // Antonini: analysis high is the mirror of the 7-tap synthesis low.
    EXPECT_EQ(std::vector<int>({Antonini.analysisHigh.size, Antonini.analysisHigh.firstIndex,
                                Antonini.synthesisHigh.size, Antonini.synthesisHigh.firstIndex}),
              std::vector<int>({7, -2, 9, -3}));
}

TEST(WaveletExtension, SymmetricAndPeriodicPadsFollowTheMirrorRules) {
    Wavelet w(&Antonini);  // npad 9
    const int np = w.npad;
    auto signal = [&](int n) {
        std::vector<float> x(2 * np + n, -999.0f);
        for (int i = 0; i < n; i++) x[np + i] = (float)(i + 1);
        return x;
    };
    for (int n : {1, 2, 3, 5, 8, 12, 20}) {
        for (int lp : {1, 2})
            for (int rp : {1, 2}) {
                auto x = signal(n);
                w.symmetric_extension(x.data(), n, lp, rp, 1);
                // Oracle: fold an index back into 0..n-1 by reflecting at either end.
                for (int p = -np; p < n + np; p++) {
                    int q = p;
                    for (int guard = 0; guard < 100 && (q < 0 || q >= n); guard++) {
                        if (q < 0) q = lp == 1 ? -q : -q - 1;
                        if (q >= n) q = rp == 1 ? 2 * (n - 1) - q : 2 * n - 1 - q;
                    }
                    EXPECT_EQ(x[np + p], n == 1 ? 1.0f : (float)(q + 1)) << n << " " << lp << rp << " p " << p;
                }
            }
        auto x = signal(n);
        w.periodic_extension(x.data(), n);
        for (int p = -np; p < n + np; p++) EXPECT_EQ(x[np + p], (float)(((p % n) + n) % n + 1));
    }
    // Antisymmetric half-sample extension: x[-1-k] = -x[k], x[n+k] = -x[n-1-k].
    auto x = signal(4);
    w.symmetric_extension(x.data(), 4, 2, 2, -1);
    EXPECT_EQ(std::vector<float>({x[np - 1], x[np - 4], x[np + 4], x[np + 7]}), std::vector<float>({-1, -4, -4, -1}));
}

TEST(WaveletTransform, EveryBasisReconstructsA256Image) {
    std::vector<float> img = noiseValues(256 * 256, 7);
    for (int b = 0; b < 15; b++) {
        Data d = realData(img, 256, 256);
        ASSERT_EQ(d->doDWT(b, 0), 1) << wavelet_bank_name(b);
        EXPECT_GT(relRms(img, d->getRealData()), 0.1) << "the transform changed nothing";
        ASSERT_EQ(d->doIWT(b, 0), 1);
        // The Adelson QMF is not a perfect-reconstruction bank: its round trip is near, not exact.
        EXPECT_LT(relRms(img, d->getRealData()), b == 5 ? 1e-2 : 1e-4) << wavelet_bank_name(b);
    }
}

TEST(WaveletTransform, OneLevelHaarAndDaubechiesMatchADirectFilterBank) {
    const int n = 32;
    std::vector<float> img = noiseValues(n * n, 11), got(img.size());
    double s3 = std::sqrt(3.0), k = 4 * std::sqrt(2.0);
    // Bases 0..3: Haar, and Daubechies' filters of 2, 3 and 4 vanishing moments (the published taps).
    std::vector<std::pair<int, std::vector<double>>> cases = {
        {0, {1 / std::sqrt(2.0), 1 / std::sqrt(2.0)}},
        {1, {(1 + s3) / k, (3 + s3) / k, (3 - s3) / k, (1 - s3) / k}},
        {2,
         {0.332670552950083, 0.806891509311093, 0.459877502118491, -0.135011020010255, -0.085441273882027,
          0.035226291885710}},
        {3,
         {0.230377813308896, 0.714846570552915, 0.630880767929859, -0.027983769416859, -0.187034811719093,
          0.030841381835561, 0.032883011666885, -0.010597401785069}}};
    for (auto& c : cases) {
        std::vector<float> e = periodicLevel2D(img, n, c.second);
        Wavelet w(wavelet_bank(c.first));
        ASSERT_EQ(w.transform2d(img.data(), got.data(), n, n, 1), 1);
        EXPECT_LT(relRms(e, got.data()), 1e-6) << c.first;
    }
    // Haar on 4 x 4: half of each 2 x 2 block's sum at the low-low corner.
    Data d = realData({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 4, 4);
    ASSERT_EQ(d->doDWT(0, 1), 1);
    EXPECT_NEAR(d->getRealData()[0], (1 + 2 + 5 + 6) / 2.0, 1e-5);
    EXPECT_NEAR(d->getRealData()[1], (3 + 4 + 7 + 8) / 2.0, 1e-5);
}

TEST(WaveletTransform, LevelCountRules) {
    const int cases[][4] = {{256, 256, 0, 7}, {256, 128, 0, 7},  {128, 256, 0, 6}, {256, 256, 3, 3},
                            {256, 256, 7, 7}, {256, 256, 50, 7}, {256, 256, -2, 7}};
    for (auto& c : cases) EXPECT_EQ(dwt_levels(c[0], c[1], c[2]), c[3]) << c[0] << "x" << c[1] << " " << c[2];
    // A levels argument at or above the maximum transforms as the default does;
    // an out-of-range basis is Daub4.
    std::vector<float> img = noiseValues(64 * 64, 3);
    Data a = realData(img, 64, 64), b = realData(img, 64, 64), c = realData(img, 64, 64);
    EXPECT_EQ(std::vector<int>({a->doDWT(1, 0), b->doDWT(1, 99), c->doDWT(15, 0)}), std::vector<int>({1, 1, 1}));
    for (MRCData* o : {b.get(), c.get()}) EXPECT_EQ(relRms(a.get(), o), 0);
}

TEST(WaveletTransform, TooSmallSubbandStopsAndLeavesTheDataUntouched) {
    std::vector<float> img = noiseValues(256 * 128, 5);
    Data d = realData(img, 256, 128);
    int rc = -1;
    EXPECT_EQ(captured([&] { rc = d->doDWT(4, 0); }),  // Antonini: the 7th level starts at height 2
              "Warning: Reduce # of transform steps or increase signal size\n"
              "Warning:   or switch to periodic extension\n"
              "Error: Low pass subband is too small\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(relRms(img, d->getRealData()), 0);
    std::string out = captured([&] { rc = d->doIWT(4, 0); });  // the inverse meets the same small band
    EXPECT_EQ(rc, 0);
    EXPECT_NE(out.find("Error: Low pass subband is too small\n"), std::string::npos);
    EXPECT_EQ(relRms(img, d->getRealData()), 0);
    // Six levels fit; the periodic Daub4 takes all seven.
    for (auto bl : {std::pair<int, int>{4, 6}, {1, 0}}) EXPECT_LT(roundTrip(d.get(), img, bl.first, bl.second), 1e-4);
    // An image two rows high with a symmetric bank: even its one default level is too many.
    Data t = noiseData(8, 2, 1);
    EXPECT_NE(captured([&] { rc = t->doDWT(11, 1); }).find("Low pass subband is too small"), std::string::npos);
    EXPECT_EQ(rc, 0);
}

TEST(WaveletTransform, OddSizesAndLongFiltersOnShortSignals) {
    // Odd sides with symmetric banks reconstruct; the 10/18 bank is built though
    // no basis number selects it.
    for (const FilterSet* bank : {wavelet_bank(4), wavelet_bank(7), wavelet_bank(9), wavelet_bank(10), wavelet_bank(11),
                                  wavelet_bank(12), wavelet_bank(13), wavelet_bank(14), &Villa1810}) {
        const bool big = bank == &Villa1810;
        const int nx = big ? 128 : 45, ny = big ? 96 : 37, levels = big ? 4 : 3;
        std::vector<float> img = noiseValues(nx * ny, big ? 12 : 9), t(img.size()), r(img.size());
        Wavelet w(bank);
        ASSERT_EQ(w.transform2d(img.data(), t.data(), nx, ny, levels), 1);
        ASSERT_EQ(w.invert2d(t.data(), r.data(), nx, ny, levels), 1);
        EXPECT_LT(relRms(img, r.data()), 1e-4) << bank->analysisLow.size;
    }
    EXPECT_EQ(Wavelet(&Villa1810).npad, 18);
    // Daub8 deep levels see signals shorter than its pad: five levels, the last on 4 samples.
    std::vector<float> img = noiseValues(64 * 64, 4);
    EXPECT_LT(roundTrip(realData(img, 64, 64).get(), img, 3, 0), 1e-4);
    // Complex data is refused.
    MRCData c;
    c.setComplData(std::vector<float>(18 * 16, 1.0f).data(), 18, 16, 1);
    EXPECT_EQ(captured([&] { EXPECT_EQ(c.doDWT(1, 0), 0); }), "Cannot do DWT of FFT\n");
}

TEST(WavFilt, ZeroGainsChangeNothingAndTopGainRemovesBands) {
    float zero[10] = {0}, top[10];
    std::fill(top, top + 10, 1.2f);
    std::vector<float> img = noiseValues(64 * 64, 21), v = img;
    wav_filt(64, 64, v.data(), 0, 4, zero);
    EXPECT_EQ(v, img);
    v = noiseValues(16 * 16, 2);
    wav_filt(16, 16, v.data(), 0, 1, top);  // the last level includes the low-low quadrant
    EXPECT_EQ(v, std::vector<float>(16 * 16, 0.0f));
    v = noiseValues(8 * 8, 2);
    EXPECT_EQ(captured([&] { wav_filt(8, 8, v.data(), 0, 6, zero); }), "Too many wavelet filter levels\n");
}

TEST(WavFilt, SoftThresholdOfOneQuadrant) {
    float gain[10] = {0.5f};
    // One level on 8 x 8: the lower-left detail quadrant (rows 4..7, columns
    // 0..3) holds a +-1 checkerboard with -3 and +3 in two cells: mean 0,
    // sigma sqrt(2), T = 0.5 sqrt(2) sqrt(2 log2 8) = sqrt(3); |v| >= T
    // becomes sqrt(v^2 - T^2): +-3 -> +-sqrt(6), +-1 -> 0.
    std::vector<float> v(64, 0.0f);
    for (int r = 4; r < 8; r++)
        for (int c = 0; c < 4; c++) v[r * 8 + c] = (r + c) % 2 ? 1.0f : -1.0f;
    v[4 * 8 + 0] = -3;
    v[7 * 8 + 2] = 3;
    wav_filt(8, 8, v.data(), 0, 1, gain);
    for (int r = 4; r < 8; r++)
        for (int c = 0; c < 4; c++) {
            float e = (r == 4 && c == 0) ? -std::sqrt(6.0f) : (r == 7 && c == 2) ? std::sqrt(6.0f) : 0.0f;
            EXPECT_NEAR(v[r * 8 + c], e, 1e-4) << r << "," << c;
        }
}

TEST(WavFilt, DwtFiltWithZeroGainsIsARoundTripAndShrinksNoiseOtherwise) {
    std::vector<float> noise = noiseValues(128 * 128, 8);
    float zero[10] = {0}, gain[10];
    std::fill(gain, gain + 10, 0.4f);
    Data d = realData(noise, 128, 128), e = realData(noise, 128, 128);
    ASSERT_EQ(d->DWTFilt(4, 0, 0.001f, zero), 1);  // levels 0: all six
    EXPECT_LT(relRms(noise, d->getRealData()), 1e-4);
    // Every band of white noise is shrunk, the last level's low-low band too.
    const float before = e->Sigma();
    ASSERT_EQ(e->DWTFilt(1, 3, 0.001f, gain), 1);
    EXPECT_LT(e->Sigma(), 0.5f * before);
}
