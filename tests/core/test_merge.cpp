// The CTF menu's arithmetic: phase flipping, merge weights, and the live
// window's profile figures, smoothing, ratio and Save table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "core/MRCData.h"
#include "ctf/livecalc.h"
#include "ctf/merge.h"

namespace {
const double kPi = 3.14159265358979323846;

// A transform of nx x ny pixels with distinct amplitudes and phases.
MRCData* transform(int nx, int ny, float seed) {
    std::vector<float> v((size_t)(nx + 2) * ny);
    for (size_t i = 0; i < v.size(); i += 2) {
        v[i] = 1 + std::fmod(seed * (i + 3) * 0.37f, 5.0f);
        v[i + 1] = (float)std::fmod(seed * i * 0.013, 2 * kPi) - (float)kPi + 0.001f;
    }
    MRCData* d = new MRCData();
    d->setComplData(v.data(), nx + 2, ny, 1);
    return d;
}

// Pair index of row j, column pair h in a transform of nx x ny, and its radial table index for bands of width dr.
int bandOf(int j, int h, int nx, int ny, double dr) {
    double k = j - ny / 2, rho = std::sqrt(k * k + std::pow(h * (double)ny / nx, 2));
    return std::min(199, (int)(rho / dr));
}

// Tables of three images that are nowhere zero and unlike each other.
struct Tables {
    float data[3][200], ctf[3][200], noise[3][200], filt[200];
    float w[3][200], norm[200], snr[200];
    float* wp[3] = {w[0], w[1], w[2]};
    Tables() {
        for (int i = 0; i < 200; i++) {
            for (int k = 0; k < 3; k++) {
                ctf[k][i] = (float)std::sin(0.05 * (k + 2) * i + 0.3 * k + 0.2) * (1.5f - 0.3f * k);
                noise[k][i] = 0.5f + 0.01f * i + 0.2f * k;
                data[k][i] = noise[k][i] + ctf[k][i] * ctf[k][i] * (2.0f + 0.01f * i);
            }
            filt[i] = (float)std::exp(-i / 80.0) * 3;
        }
    }
    float merge(int n, float t) {
        std::vector<MergeImage> im;
        for (int k = 0; k < n; k++) im.push_back({data[k], ctf[k], noise[k]});
        return merge_weights(n, im.data(), filt, t, wp, norm, snr);
    }
};
}  // namespace

TEST(Merge, WeightsGiveTheTargetWhereNoThresholdActs) {
    Tables T;
    for (int n : {2, 3}) {
        T.merge(n, -1e-12f);  // a negative threshold smaller than any snr never acts
        for (int i = 0; i < 200; i += 7) {
            double transfer = 0, best = 0;
            for (int k = 0; k < n; k++) {
                transfer += (double)T.w[k][i] * T.ctf[k][i];
                best += (double)T.ctf[k][i] * T.ctf[k][i] / T.noise[k][i];
            }
            EXPECT_NEAR(transfer * T.norm[i], T.filt[i], 1e-4 * T.filt[i]) << n << " " << i;
            // w_k proportional to ctf_k / noise_k: the largest snr, sum ctf^2/noise.
            for (int k = 1; k < n; k++)
                EXPECT_NEAR(T.w[k][i] * T.noise[k][i] * T.ctf[0][i], T.w[0][i] * T.noise[0][i] * T.ctf[k][i],
                            1e-4 * std::fabs(T.w[0][i] * T.noise[0][i] * T.ctf[k][i]) + 1e-9);
            EXPECT_NEAR(T.snr[i], best, 1e-3 * best) << n << " " << i;
        }
    }
}

TEST(Merge, ThresholdsAndTheSignalEstimateMode) {
    Tables T;
    // Samples 0 and 40 carry no signal in any image (0 exactly at the origin).
    for (int k = 0; k < 3; k++) {
        T.ctf[k][0] = 0;
        T.ctf[k][40] = 1e-6f;
    }
    for (int n : {2, 3}) {
        T.merge(n, -0.01f);
        EXPECT_EQ(T.norm[40], T.norm[39]) << n;
        // The pair repeats the weights too, the triple keeps its own.
        EXPECT_EQ(T.w[0][40] == T.w[0][39], n == 2);
        // Sample 0 has no previous one: its own values (the floored denominator).
        EXPECT_EQ(T.norm[0], (float)(T.filt[0] / 0.01)) << n;
        EXPECT_EQ(T.snr[0], 0.0f);
    }
    T.merge(3, 0.004f);
    EXPECT_EQ(T.norm[40], 0.0f);
    EXPECT_EQ(T.norm[0], 0.0f);
    // Signal-estimate mode (t = 0); samples 0 and 40 are too weak to count.
    for (int n : {2, 3}) {
        // data = noise + ctf^2 S: the estimate is sqrt(S) whatever the CTFs.
        float a = T.merge(n, 0);
        const int i = 199;
        double S = 2.0 + 0.01 * i, sumc = 0;
        for (int k = 0; k < n; k++) sumc += std::fabs(T.ctf[k][i]);
        EXPECT_NEAR(a, std::sqrt(S), 1e-3);
        EXPECT_NEAR(T.norm[i], T.filt[i] * std::sqrt(S) / sumc, 1e-3 * T.norm[i]);
        for (int k = 0; k < n; k++) EXPECT_NEAR(T.w[k][i], T.ctf[k][i] / std::sqrt(T.data[k][i]), 1e-5);
    }
    // No image with a signal: the running mean of the earlier estimates.
    for (int k = 0; k < 3; k++) T.data[k][120] = T.noise[k][120] * 0.5f;
    T.merge(2, 0);
    double m = 1e-6, c = 1e-6;
    for (int i = 0; i < 120; i++)
        if (T.snr[i] >= 0.05f) m += std::sqrt(2.0 + 0.01 * i), c++;
    double sumc = std::fabs(T.ctf[0][120]) + std::fabs(T.ctf[1][120]);
    EXPECT_NEAR(T.norm[120], T.filt[120] * m / c / sumc, 1e-3 * T.norm[120]);
    // The triple drops such a sample (estimate 1e-6).
    T.merge(3, 0);
    sumc += std::fabs(T.ctf[2][120]);
    EXPECT_NEAR(T.norm[120], T.filt[120] * 1e-6 / sumc, 1e-9);
}

TEST(Merge, TransformsAreWeightedByRadius) {
    std::unique_ptr<MRCData> a(transform(24, 18, 1.3f)), b(transform(24, 18, 2.9f)), c(transform(20, 18, 1));
    MRCData real;
    real.setRealData(std::vector<float>(24 * 18, 1.0f).data(), 24, 18, 1);
    MRCData *pair[2] = {a.get(), b.get()}, *odd[2] = {a.get(), c.get()}, *mixed[2] = {a.get(), &real};
    EXPECT_EQ(merge_refusal(pair, 2), nullptr);
    EXPECT_STREQ(merge_refusal(odd, 2), "The data sets must be of the same size.");
    EXPECT_STREQ(merge_refusal(mixed, 2), "The data sets must be Fourier transforms.");
    float r[200], norm[200], w[2][200];
    float* wp[2] = {w[0], w[1]};
    for (int i = 0; i < 200; i++) {
        r[i] = 0.5f * i;
        norm[i] = 1 + 0.1f * i;
        w[0][i] = 0.3f + 0.01f * i;
        w[1][i] = -0.7f + 0.02f * i;
    }
    std::unique_ptr<MRCData> M(merge_transforms(2, pair, wp, norm, r, 0));
    ASSERT_TRUE(M->isComplex());
    ASSERT_EQ(M->xSize(), 26);
    for (int row : {0, 5, 9, 17})
        for (int h : {0, 3, 12}) {
            int idx = bandOf(row, h, 24, 18, 0.5);
            size_t o = (size_t)row * 26 + 2 * h;
            std::complex<double> s = 0;
            for (int q = 0; q < 2; q++) {
                const float* p = pair[q]->getRealData() + o;
                s += (double)w[q][idx] * std::polar((double)p[0], (double)p[1]);
            }
            EXPECT_NEAR(M->getRealData()[o], std::abs(s) * norm[idx], 1e-4 * std::abs(s) * norm[idx] + 1e-5);
            EXPECT_NEAR(M->getRealData()[o + 1], std::arg(s), 1e-4);
        }
    // Fix Phases flips exactly the pairs in negative bands (zeros stay) and refuses a real image.
    const int nx = 40, ny = 30;
    std::unique_ptr<MRCData> d(transform(nx, ny, 1.7f));
    std::vector<float> before(d->getRealData(), d->getRealData() + (nx + 2) * ny);
    float ctf[200];
    for (int i = 0; i < 200; i++) {
        r[i] = 0.25f * i;
        ctf[i] = (i / 9) % 2 ? -1.0f : (i % 5 == 0 ? 0.0f : 1.0f);
    }
    long flipped = ctf_fix_phases(d.get(), ctf, r), expect = 0;
    const float* f = d->getRealData();
    for (int row = 0; row < ny; row++)
        for (int h = 0; h <= nx / 2; h++) {
            size_t o = (size_t)row * (nx + 2) + 2 * h;
            bool flip = ctf[bandOf(row, h, nx, ny, 0.25)] < 0;
            expect += flip;
            float was = before[o + 1], want = !flip ? was : was < 0 ? was + 3.1415927f : was - 3.1415927f;
            EXPECT_EQ(f[o], before[o]);
            EXPECT_EQ(f[o + 1], want) << row << " " << h;
        }
    EXPECT_EQ(flipped, expect);
    EXPECT_GT(expect, 100);
    EXPECT_EQ(ctf_fix_phases(&real, ctf, r), -1);
}

TEST(LiveCalc, ProfileFiguresAndTheKeptScale) {
    float y[200];
    for (int i = 0; i < 200; i++) y[i] = 10.0f + (i % 7) - i * 0.01f;
    y[0] = 1000, y[3] = 50, y[5] = 0.5f;  // the origin never counts
    float last = 0;
    ProfileFigures f = live_profile_figures(y, &last);
    EXPECT_EQ(f.yMax, 50.0f);
    EXPECT_EQ(f.yMin, 0.5f);
    EXPECT_EQ(f.yMaxHigh, *std::max_element(y + 8, y + 200));
    double sum = 0;
    for (int i = 60; i < 200; i++) sum += y[i];
    EXPECT_NEAR(f.bgScale, 2 * sum / 140, 1e-4);
    EXPECT_EQ(last, f.bgScale);
    // Within 50 % of the new scale the first one stays (x1.9: 0.9/1.9); beyond it (x2.2) the new one.
    for (float& v : y) v *= 1.9f;
    EXPECT_EQ(live_profile_figures(y, &last).bgScale, f.bgScale);
    for (float& v : y) v *= 2.2f / 1.9f;
    float g = live_profile_figures(y, &last).bgScale;
    EXPECT_NEAR(g, 2.2 * f.bgScale, 1e-3 * g);
    EXPECT_EQ(last, g);
    // An empty profile divides nothing by zero.
    float z[200] = {};
    EXPECT_EQ(live_profile_figures(z, &last).bgScale, 0.0f);
}

TEST(LiveCalc, SmoothingMirrorsAtBothEndsRatioAndSaveTableNeverDivideByZero) {
    float in[199], out[199];
    for (int i = 0; i < 199; i++) in[i] = (float)((i * 37) % 11) + i * 0.1f;
    for (int n : {1, 4, 12}) {
        smooth_data(n, 199, in, out);
        double h = n / 2.0, norm = 0;
        for (int k = -n; k <= n; k++) norm += std::exp(-k * k / (h * h));
        for (int i : {0, 1, n, 100, 197, 198}) {
            double v = 0;
            for (int k = -n; k <= n; k++)
                v += std::exp(-k * k / (h * h)) / norm * in[i + k < 0 || i + k > 198 ? i - k : i + k];
            EXPECT_NEAR(out[i], v, 1e-4) << n << " " << i;
        }
    }
    float y[200], bg[200], ctf[200], r[200];
    for (int i = 0; i < 200; i++) {
        y[i] = 5 + i;
        bg[i] = i % 3 ? 2.0f : 0.0f;  // some backgrounds of 0
        ctf[i] = i % 4 ? 0.5f : 0.0f;
    }
    // {scale, sample, ratio}: an ordinary sample; a CTF term of 0 (s = 0 and every zero); weak against the
    // scale (0.5/30 < 0.02); no scale.
    const float cases[][3] = {{2, 1, (6 - 2) / 0.5f}, {2, 4, 1}, {30, 1, 1}, {0, 1, 1}};
    for (auto& c : cases) {
        live_ratio(y, bg, ctf, c[0], r);
        EXPECT_EQ(r[(int)c[1]], c[2]) << c[0] << " " << c[1];
        for (float v : r) EXPECT_TRUE(std::isfinite(v));
    }
    y[7] = 1;  // below the background
    live_snr_table(y, bg, r);
    EXPECT_EQ(r[1], (6 - 2) / 2.0f);
    EXPECT_EQ(r[3], 8 / 0.0001f);
    EXPECT_EQ(r[7], 0.0f);
}
