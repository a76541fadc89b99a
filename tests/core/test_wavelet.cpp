// Wavelet banks, transforms, data-set operations and thresholding.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "tests/core/testutil.h"
#include "wav/filter.h"
#include "wav/wavelet.h"

namespace {

std::vector<float> randomImage(int nx, int ny, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> v((size_t)nx * ny);
    for (auto& x : v) x = u(gen);
    return v;
}

double relRms(const std::vector<float>& a, const float* b) {
    double num = 0, den = 0;
    for (size_t i = 0; i < a.size(); i++) {
        num += ((double)a[i] - b[i]) * ((double)a[i] - b[i]);
        den += (double)a[i] * a[i];
    }
    return std::sqrt(num / den);
}

MRCData* makeData(const std::vector<float>& v, int nx, int ny) {
    MRCData* d = new MRCData;
    d->setRealData(v.data(), nx, ny, 1);
    d->update();
    return d;
}

// One level of the textbook periodic orthogonal filter bank, in double:
// a_k = sum_m h[m - 2k] x[m], d_k = sum_m g[m - 2k] x[m], g[m] = (-1)^m h[1 - m].
std::vector<double> periodicLevel1D(const std::vector<double>& x, const std::vector<double>& h) {
    int n = (int)x.size(), L = (int)h.size();
    std::vector<double> out(n, 0.0);
    for (int k = 0; k < n / 2; k++) {
        double a = 0, d = 0;
        for (int t = 0; t < L; t++) {  // h index t: m = 2k + t
            int m = ((2 * k + t) % n + n) % n;
            a += h[t] * x[m];
        }
        for (int t = 2 - L; t <= 1; t++) {  // g index t = m - 2k; g[t] = (-1)^t h[1 - t]
            int m = ((2 * k + t) % n + n) % n;
            double g = ((t % 2) ? -1.0 : 1.0) * h[1 - t];
            d += g * x[m];
        }
        out[k] = a;
        out[n / 2 + k] = d;
    }
    return out;
}

std::vector<double> periodicLevel2D(const std::vector<float>& img, int n, const std::vector<double>& h) {
    std::vector<double> a(img.begin(), img.end());
    for (int r = 0; r < n; r++) {
        std::vector<double> row(a.begin() + r * n, a.begin() + (r + 1) * n);
        row = periodicLevel1D(row, h);
        std::copy(row.begin(), row.end(), a.begin() + r * n);
    }
    for (int c = 0; c < n; c++) {
        std::vector<double> col(n);
        for (int r = 0; r < n; r++) col[r] = a[r * n + c];
        col = periodicLevel1D(col, h);
        for (int r = 0; r < n; r++) a[r * n + c] = col[r];
    }
    return a;
}

}  // namespace

TEST(WaveletBanks, LowPassTablesSumToSqrt2AndSymmetricOnesArePalindromes) {
    FilterSet* all[16];
    for (int b = 0; b < 15; b++) all[b] = wavelet_bank(b);
    all[15] = &Villa1810;
    for (FilterSet* fs : all) {
        for (Filter* f : {fs->analysisLow, fs->synthesisLow}) {
            double sum = 0;
            for (float c : f->coeff) sum += c;
            EXPECT_NEAR(sum, std::sqrt(2.0), 2e-6);
            if (fs->symmetric) {
                for (int i = 0; i < f->size; i++) EXPECT_FLOAT_EQ(f->coeff[i], f->coeff[f->size - 1 - i]);
            }
        }
    }
    EXPECT_EQ(wavelet_bank(15), &Daub4);
    EXPECT_EQ(wavelet_bank(-1), &Daub4);
    EXPECT_STREQ(wavelet_bank_name(7), "Brislawn2");
    EXPECT_NEAR(Antonini.analysisLow->coeff[4], 0.8526987f, 1e-7);
    EXPECT_NEAR(Antonini.synthesisLow->coeff[3], 0.7884856f, 1e-7);
    EXPECT_NEAR(Adelson.analysisLow->coeff[4], 0.7984298f, 1e-7);
    EXPECT_NEAR(Brislawn2.analysisLow->coeff[4], 0.8995061f, 1e-7);
    EXPECT_NEAR(Brislawn2.synthesisLow->coeff[4], 0.5411327f, 1e-7);
    EXPECT_NEAR(Villa2.analysisLow->coeff[6], 0.7672452f, 1e-7);
    EXPECT_NEAR(Villa2.synthesisLow->coeff[5], 0.8328476f, 1e-7);
    EXPECT_NEAR(Odegard.analysisLow->coeff[4], 0.7875138f, 1e-7);
    EXPECT_NEAR(Odegard.synthesisLow->coeff[3], 0.8167806f, 1e-7);
}

TEST(WaveletBanks, BiorthogonalPairsAndMirrorFilters) {
    // Perfect reconstruction needs sum_p H(p) G(p - 2k) = delta_k over absolute tap positions.
    for (int b = 0; b < 15; b++) {
        if (b == 5) continue;  // the Adelson QMF reconstructs only approximately
        FilterSet* fs = wavelet_bank(b);
        const Filter& h = *fs->analysisLow;
        const Filter& g = *fs->synthesisLow;
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
    const Filter& hi = *Daub4.analysisHigh;
    EXPECT_EQ(hi.size, 4);
    EXPECT_EQ(hi.firstIndex, -2);
    EXPECT_EQ(hi.origin, 2);
    EXPECT_FLOAT_EQ(hi.coeff[3], -Daub4.analysisLow->coeff[0]);
    EXPECT_FLOAT_EQ(hi.coeff[2], Daub4.analysisLow->coeff[1]);
    EXPECT_FLOAT_EQ(hi.coeff[0], Daub4.analysisLow->coeff[3]);
    // Antonini: analysis high is the mirror of the 7-tap synthesis low.
    EXPECT_EQ(Antonini.analysisHigh->size, 7);
    EXPECT_EQ(Antonini.analysisHigh->firstIndex, -2);
    EXPECT_EQ(Antonini.synthesisHigh->size, 9);
    EXPECT_EQ(Antonini.synthesisHigh->firstIndex, -3);
}

TEST(WaveletExtension, SymmetricAndPeriodicPadsFollowTheMirrorRules) {
    Wavelet w(&Antonini);  // npad 9
    const int np = w.npad;
    for (int n : {1, 2, 3, 5, 8, 12, 20}) {
        for (int lp : {1, 2})
            for (int rp : {1, 2}) {
                std::vector<float> x(2 * np + n, -999.0f);
                for (int i = 0; i < n; i++) x[np + i] = (float)(i + 1);
                w.symmetric_extension(x.data(), n, lp, rp, 1);
                // Oracle: fold an index back into 0..n-1 by reflecting at either end.
                for (int p = -np; p < n + np; p++) {
                    int q = p;
                    for (int guard = 0; guard < 100 && (q < 0 || q >= n); guard++) {
                        if (q < 0) q = lp == 1 ? -q : -q - 1;
                        if (q >= n) q = rp == 1 ? 2 * (n - 1) - q : 2 * n - 1 - q;
                    }
                    if (n == 1) {
                        q = 0;
                    }
                    EXPECT_EQ(x[np + p], (float)(q + 1)) << "n " << n << " lp " << lp << " rp " << rp << " p " << p;
                }
            }
        std::vector<float> x(2 * np + n, -999.0f);
        for (int i = 0; i < n; i++) x[np + i] = (float)(i + 1);
        w.periodic_extension(x.data(), n);
        for (int p = -np; p < n + np; p++) EXPECT_EQ(x[np + p], (float)(((p % n) + n) % n + 1));
    }
    // Antisymmetric half-sample extension: x[-1-k] = -x[k], x[n+k] = -x[n-1-k].
    std::vector<float> x(2 * np + 4, 0.0f);
    for (int i = 0; i < 4; i++) x[np + i] = (float)(i + 1);
    w.symmetric_extension(x.data(), 4, 2, 2, -1);
    EXPECT_EQ(x[np - 1], -1.0f);
    EXPECT_EQ(x[np - 4], -4.0f);
    EXPECT_EQ(x[np + 4], -4.0f);
    EXPECT_EQ(x[np + 7], -1.0f);
}

TEST(WaveletTransform, EveryBasisReconstructsA256Image) {
    std::vector<float> img = randomImage(256, 256, 7);
    for (int b = 0; b < 15; b++) {
        MRCData* d = makeData(img, 256, 256);
        ASSERT_EQ(d->doDWT(b, 0), 1) << wavelet_bank_name(b);
        EXPECT_GT(relRms(img, d->getRealData()), 0.1) << "the transform changed nothing";
        ASSERT_EQ(d->doIWT(b, 0), 1);
        double err = relRms(img, d->getRealData());
        // The Adelson QMF is not a perfect-reconstruction bank: its round trip is near, not exact.
        EXPECT_LT(err, b == 5 ? 1e-2 : 1e-4) << wavelet_bank_name(b);
        delete d;
    }
}

TEST(WaveletTransform, OneLevelHaarAndDaub4MatchADirectFilterBank) {
    const int n = 32;
    std::vector<float> img = randomImage(n, n, 11);
    double s3 = std::sqrt(3.0), k = 4 * std::sqrt(2.0);
    std::vector<std::pair<int, std::vector<double>>> cases = {
        {0, {1 / std::sqrt(2.0), 1 / std::sqrt(2.0)}}, {1, {(1 + s3) / k, (3 + s3) / k, (3 - s3) / k, (1 - s3) / k}}};
    for (auto& c : cases) {
        std::vector<double> expect = periodicLevel2D(img, n, c.second);
        std::vector<float> got(img.size());
        Wavelet w(wavelet_bank(c.first));
        ASSERT_EQ(w.transform2d(img.data(), got.data(), n, n, 1), 1);
        double num = 0, den = 0;
        for (size_t i = 0; i < got.size(); i++) {
            num += (got[i] - expect[i]) * (got[i] - expect[i]);
            den += expect[i] * expect[i];
        }
        EXPECT_LT(std::sqrt(num / den), 1e-6) << wavelet_bank_name(c.first);
    }
}

TEST(WaveletTransform, HaarOneLevelPutsHalfTheBlockSumAtTheOrigin) {
    std::vector<float> img = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    MRCData* d = makeData(img, 4, 4);
    ASSERT_EQ(d->doDWT(0, 1), 1);
    EXPECT_NEAR(d->getRealData()[0], (1 + 2 + 5 + 6) / 2.0, 1e-5);
    EXPECT_NEAR(d->getRealData()[1], (3 + 4 + 7 + 8) / 2.0, 1e-5);
    delete d;
}

TEST(WaveletTransform, LevelCountRules) {
    EXPECT_EQ(dwt_levels(256, 256, 0), 7);
    EXPECT_EQ(dwt_levels(256, 128, 0), 7);
    EXPECT_EQ(dwt_levels(128, 256, 0), 6);
    EXPECT_EQ(dwt_levels(256, 256, 3), 3);
    EXPECT_EQ(dwt_levels(256, 256, 7), 7);  // not below the maximum: the maximum
    EXPECT_EQ(dwt_levels(256, 256, 50), 7);
    EXPECT_EQ(dwt_levels(256, 256, -2), 7);
    // A levels argument at or above the maximum transforms as the default does.
    std::vector<float> img = randomImage(64, 64, 3);
    MRCData* a = makeData(img, 64, 64);
    MRCData* b = makeData(img, 64, 64);
    MRCData* c = makeData(img, 64, 64);
    ASSERT_EQ(a->doDWT(1, 0), 1);
    ASSERT_EQ(b->doDWT(1, 99), 1);
    ASSERT_EQ(c->doDWT(15, 0), 1);  // out-of-range basis: Daub4
    for (int i = 0; i < 64 * 64; i++) {
        EXPECT_EQ(a->getRealData()[i], b->getRealData()[i]);
        EXPECT_EQ(a->getRealData()[i], c->getRealData()[i]);
    }
    delete a;
    delete b;
    delete c;
}

TEST(WaveletTransform, TooSmallSubbandStopsAndLeavesTheDataUntouched) {
    std::vector<float> img = randomImage(256, 128, 5);
    MRCData* d = makeData(img, 256, 128);
    testing::internal::CaptureStdout();
    EXPECT_EQ(d->doDWT(4, 0), 0);  // Antonini: the 7th level starts at height 2
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "Warning: Reduce # of transform steps or increase signal size\n"
              "Warning:   or switch to periodic extension\n"
              "Error: Low pass subband is too small\n");
    for (int i = 0; i < 256 * 128; i++) ASSERT_EQ(d->getRealData()[i], img[i]);
    testing::internal::CaptureStdout();
    EXPECT_EQ(d->doIWT(4, 0), 0);  // the inverse meets the same small band
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Error: Low pass subband is too small\n"), std::string::npos);
    for (int i = 0; i < 256 * 128; i++) ASSERT_EQ(d->getRealData()[i], img[i]);
    // Six levels fit; the periodic Daub4 takes all seven.
    EXPECT_EQ(d->doDWT(4, 6), 1);
    EXPECT_EQ(d->doIWT(4, 6), 1);
    EXPECT_LT(relRms(img, d->getRealData()), 1e-4);
    EXPECT_EQ(d->doDWT(1, 0), 1);
    EXPECT_EQ(d->doIWT(1, 0), 1);
    EXPECT_LT(relRms(img, d->getRealData()), 1e-4);
    delete d;

    // An image two rows high with a symmetric bank: even its one default level is too many.
    std::vector<float> tiny = randomImage(8, 2, 1);
    MRCData* t = makeData(tiny, 8, 2);
    testing::internal::CaptureStdout();
    int ok = t->doDWT(11, 1);
    std::string msg = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ok, 0);
    EXPECT_NE(msg.find("Low pass subband is too small"), std::string::npos) << msg;
    delete t;
}

TEST(WaveletTransform, OddSizesAndLongFiltersOnShortSignals) {
    // Odd sides with symmetric banks reconstruct; Daub8 deep levels see signals shorter than its pad.
    for (int b : {4, 7, 9, 10, 11, 12, 13, 14}) {
        std::vector<float> img = randomImage(45, 37, 9);
        std::vector<float> t(img.size()), r(img.size());
        Wavelet w(wavelet_bank(b));
        ASSERT_EQ(w.transform2d(img.data(), t.data(), 45, 37, 3), 1);
        ASSERT_EQ(w.invert2d(t.data(), r.data(), 45, 37, 3), 1);
        EXPECT_LT(relRms(img, r.data()), 1e-4) << wavelet_bank_name(b);
    }
    // The 10/18 bank is built though no basis number selects it.
    {
        std::vector<float> img = randomImage(128, 96, 12);
        std::vector<float> t(img.size()), r(img.size());
        Wavelet w(&Villa1810);
        EXPECT_EQ(w.npad, 18);
        ASSERT_EQ(w.transform2d(img.data(), t.data(), 128, 96, 4), 1);
        ASSERT_EQ(w.invert2d(t.data(), r.data(), 128, 96, 4), 1);
        EXPECT_LT(relRms(img, r.data()), 1e-4);
    }
    std::vector<float> img = randomImage(64, 64, 4);
    MRCData* d = makeData(img, 64, 64);
    ASSERT_EQ(d->doDWT(3, 0), 1);  // five levels: the last on 4 samples, Daub8 pads 8
    ASSERT_EQ(d->doIWT(3, 0), 1);
    EXPECT_LT(relRms(img, d->getRealData()), 1e-4);
    delete d;
}

TEST(WaveletTransform, ComplexDataIsRefused) {
    std::vector<float> v(18 * 16, 1.0f);
    MRCData d;
    d.setComplData(v.data(), 18, 16, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(d.doDWT(1, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot do DWT of FFT\n");
}

class WavFilt : public testing::Test {
protected:
    void gains(float g) { std::fill(gain, gain + 10, g); }
    float gain[10];
};

TEST_F(WavFilt, ZeroGainsChangeNothing) {
    gains(0);
    std::vector<float> img = randomImage(64, 64, 21);
    std::vector<float> v = img;
    wav_filt(64, 64, v.data(), 0, 4, gain);
    for (size_t i = 0; i < v.size(); i++) ASSERT_EQ(v[i], img[i]);
}

TEST_F(WavFilt, SoftThresholdOfOneQuadrant) {
    gains(0);
    gain[0] = 0.5f;
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

TEST_F(WavFilt, TopGainRemovesBandsAndTooManyLevelsIsReported) {
    gains(1.2f);
    std::vector<float> v = randomImage(16, 16, 2);
    wav_filt(16, 16, v.data(), 0, 1, gain);  // the last level includes the low-low quadrant
    for (float x : v) ASSERT_EQ(x, 0.0f);

    gains(0.0f);
    std::vector<float> w = randomImage(8, 8, 2);
    testing::internal::CaptureStdout();
    wav_filt(8, 8, w.data(), 0, 6, gain);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Too many wavelet filter levels\n");
}

TEST_F(WavFilt, DwtFiltWithZeroGainsIsARoundTripAndShrinksNoiseOtherwise) {
    const int n = 128;
    std::vector<float> noise = randomImage(n, n, 8);
    gains(0.0f);
    MRCData* d = makeData(noise, n, n);
    ASSERT_EQ(d->DWTFilt(4, 0, 0.001f, gain), 1);  // levels 0: all six
    EXPECT_LT(relRms(noise, d->getRealData()), 1e-4);
    delete d;
    // Every band of white noise is shrunk, the last level's low-low band too.
    gains(0.4f);
    d = makeData(noise, n, n);
    float before = d->Sigma();
    ASSERT_EQ(d->DWTFilt(1, 3, 0.001f, gain), 1);
    EXPECT_LT(d->Sigma(), 0.5f * before);
    delete d;
}

// ---- tarvik-proc dwt / iwt / wavelet-filter, run as a separate program

namespace {

struct ProcRun {
    int status;
    std::string out;
};

ProcRun runProc(const std::string& args) {
    ProcRun r;
    r.status = runCommand("'" TARVIK_PROC "' " + args + " 2>&1", &r.out);
    return r;
}

class ProcWavelet : public testing::Test {
protected:
    std::string write(const std::vector<float>& v, int nx, int ny, const char* name) {
        MRCData* d = makeData(v, nx, ny);
        std::string path = dir + "/" + name;
        EXPECT_EQ(d->writeMRCData(path.c_str(), 0), 1);
        delete d;
        return path;
    }
    MRCData* read(const std::string& path) {
        MRCData* d = new MRCData;
        EXPECT_EQ(d->readMRCData(path.c_str()), 1);
        return d;
    }
    TempDir tmp;
    std::string dir = tmp.path;
};

}  // namespace

TEST_F(ProcWavelet, DwtThenIwtRestoresTheImageAndMatchesTheLibrary) {
    std::vector<float> img = randomImage(64, 64, 31);
    std::string in = write(img, 64, 64, "in.mrc");
    ProcRun r = runProc("dwt '" + in + "' '" + dir + "/t.mrc' --basis 4 --levels 3");
    ASSERT_EQ(r.status, 0) << r.out;
    MRCData* t = read(dir + "/t.mrc");
    MRCData* ref = makeData(img, 64, 64);
    ASSERT_EQ(ref->doDWT(4, 3), 1);
    ASSERT_EQ(t->xSize(), 64);
    for (int i = 0; i < 64 * 64; i++) ASSERT_EQ(t->getRealData()[i], ref->getRealData()[i]);
    delete t;
    delete ref;
    r = runProc("iwt '" + dir + "/t.mrc' '" + dir + "/back.mrc' --basis 4 --levels 3");
    ASSERT_EQ(r.status, 0) << r.out;
    MRCData* back = read(dir + "/back.mrc");
    EXPECT_LT(relRms(img, back->getRealData()), 1e-4);
    delete back;
}

TEST_F(ProcWavelet, FilterWithZeroGainIsIdentityAndDefaultsShrinkNoise) {
    std::vector<float> img = randomImage(64, 64, 32);
    std::string in = write(img, 64, 64, "in.mrc");
    ProcRun r = runProc("wavelet-filter '" + in + "' '" + dir + "/f0.mrc' --gain 0");
    ASSERT_EQ(r.status, 0) << r.out;
    MRCData* f = read(dir + "/f0.mrc");
    EXPECT_LT(relRms(img, f->getRealData()), 1e-4);
    delete f;
    r = runProc("wavelet-filter '" + in + "' '" + dir + "/f.mrc' --basis 0 --levels 2");
    ASSERT_EQ(r.status, 0) << r.out;
    f = read(dir + "/f.mrc");
    MRCData* orig = read(in);
    EXPECT_LT(f->Sigma(), orig->Sigma());
    delete f;
    delete orig;
}

TEST_F(ProcWavelet, RefusalsAndHelp) {
    std::vector<float> img = randomImage(256, 128, 33);
    std::string in = write(img, 256, 128, "wide.mrc");
    ProcRun r = runProc("dwt '" + in + "' '" + dir + "/o.mrc' --basis 4");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Error: Low pass subband is too small"), std::string::npos) << r.out;
    EXPECT_NE(access((dir + "/o.mrc").c_str(), F_OK), 0);
    r = runProc("dwt '" + in + "' '" + dir + "/o.mrc' --basis 1");
    EXPECT_EQ(r.status, 0) << r.out;
    r = runProc("dwt '" + in + "' '" + dir + "/o.mrc' --basis 15");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("bad --basis value 15"), std::string::npos) << r.out;
    r = runProc("wavelet-filter '" + in + "' '" + dir + "/o.mrc' --gain x");
    EXPECT_EQ(r.status, 1);
    r = runProc("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* c : {"dwt", "iwt", "wavelet-filter"})
        EXPECT_NE(r.out.find(std::string("  ") + c + " "), std::string::npos) << c;
}
