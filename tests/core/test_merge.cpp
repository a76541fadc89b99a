// The CTF menu's arithmetic: model tables, phase flipping, merge weights, and
// the live window's profile figures, smoothing, ratio and Save table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "core/MRCData.h"
#include "core/prefs.h"
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

// Tables of three images that are nowhere zero and unlike each other.
struct Tables {
    float data[3][200], ctf[3][200], noise[3][200], filt[200];
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
    std::vector<MergeImage> images(int n) {
        std::vector<MergeImage> im;
        for (int k = 0; k < n; k++) im.push_back({data[k], ctf[k], noise[k]});
        return im;
    }
};

struct Weights {
    float w[3][200], norm[200], snr[200];
    float* wp[3] = {w[0], w[1], w[2]};
};
}  // namespace

TEST(Merge, WeightsGiveTheTargetWhereNoThresholdActs) {
    Tables T;
    for (int n : {2, 3}) {
        auto im = T.images(n);
        Weights W;
        // A negative threshold smaller than any snr never acts.
        merge_weights(n, im.data(), T.filt, -1e-12f, W.wp, W.norm, W.snr);
        for (int i = 0; i < 200; i += 7) {
            double transfer = 0, best = 0;
            for (int k = 0; k < n; k++) {
                transfer += (double)W.w[k][i] * T.ctf[k][i];
                best += (double)T.ctf[k][i] * T.ctf[k][i] / T.noise[k][i];
            }
            EXPECT_NEAR(transfer * W.norm[i], T.filt[i], 1e-4 * T.filt[i]) << n << " " << i;
            // w_k proportional to ctf_k / noise_k: the largest snr, sum ctf^2/noise.
            for (int k = 1; k < n; k++)
                EXPECT_NEAR(W.w[k][i] * T.noise[k][i] * T.ctf[0][i], W.w[0][i] * T.noise[0][i] * T.ctf[k][i],
                            1e-4 * std::fabs(W.w[0][i] * T.noise[0][i] * T.ctf[k][i]) + 1e-9);
            EXPECT_NEAR(W.snr[i], best, 1e-3 * best) << n << " " << i;
        }
    }
}

TEST(Merge, ThresholdsRepeatOrZeroWeakSamples) {
    Tables T;
    // Samples 0 and 40 carry no signal in any image (0 exactly at the origin).
    for (int k = 0; k < 3; k++) {
        T.ctf[k][0] = 0;
        T.ctf[k][40] = 1e-6f;
    }
    struct Case {
        int n;
        float t;
    } cases[] = {{2, -0.01f}, {3, -0.01f}, {3, 0.004f}};
    for (const Case& c : cases) {
        auto im = T.images(c.n);
        Weights W;
        merge_weights(c.n, im.data(), T.filt, c.t, W.wp, W.norm, W.snr);
        if (c.t > 0) {
            EXPECT_EQ(W.norm[40], 0.0f);
            EXPECT_EQ(W.norm[0], 0.0f);
        } else {
            EXPECT_EQ(W.norm[40], W.norm[39]) << c.n;
            // The pair repeats the weights too, the triple keeps its own.
            EXPECT_EQ(W.w[0][40] == W.w[0][39], c.n == 2);
            // Sample 0 has no previous one: its own values (the floored denominator).
            EXPECT_EQ(W.norm[0], (float)(T.filt[0] / 0.01)) << c.n;
            EXPECT_EQ(W.snr[0], 0.0f);
        }
    }
}

TEST(Merge, SignalEstimateMode) {
    Tables T;
    for (int n : {2, 3}) {
        auto im = T.images(n);
        Weights W;
        // data = noise + ctf^2 S: the estimate is sqrt(S) whatever the CTFs.
        float a = merge_weights(n, im.data(), T.filt, 0, W.wp, W.norm, W.snr);
        int i = 199;
        double S = 2.0 + 0.01 * i, sumc = 0;
        for (int k = 0; k < n; k++) sumc += std::fabs(T.ctf[k][i]);
        EXPECT_NEAR(a, std::sqrt(S), 1e-3);
        EXPECT_NEAR(W.norm[i], T.filt[i] * std::sqrt(S) / sumc, 1e-3 * W.norm[i]);
        for (int k = 0; k < n; k++) EXPECT_NEAR(W.w[k][i], T.ctf[k][i] / std::sqrt(T.data[k][i]), 1e-5);
    }
    // No image with a signal: the running mean of the earlier estimates.
    for (int k = 0; k < 3; k++) T.data[k][120] = T.noise[k][120] * 0.5f;
    auto im = T.images(2);
    Weights W;
    merge_weights(2, im.data(), T.filt, 0, W.wp, W.norm, W.snr);
    double m = 0;
    int c = 0;
    for (int i = 0; i < 120; i++)
        if (W.snr[i] >= 0.05f) {
            m += std::sqrt(2.0 + 0.01 * i);
            c++;
        }
    double a = (m + 1e-6) / (c + 1e-6);
    EXPECT_NEAR(W.norm[120], T.filt[120] * a / (std::fabs(T.ctf[0][120]) + std::fabs(T.ctf[1][120])),
                1e-3 * W.norm[120]);
    // The triple drops such a sample (estimate 1e-6).
    auto im3 = T.images(3);
    merge_weights(3, im3.data(), T.filt, 0, W.wp, W.norm, W.snr);
    double sumc = std::fabs(T.ctf[0][120]) + std::fabs(T.ctf[1][120]) + std::fabs(T.ctf[2][120]);
    EXPECT_NEAR(W.norm[120], T.filt[120] * 1e-6 / sumc, 1e-9);
}

TEST(Merge, TransformsAreWeightedByRadius) {
    std::unique_ptr<MRCData> a(transform(24, 18, 1.3f)), b(transform(24, 18, 2.9f)), c(transform(20, 18, 1));
    MRCData* pair[2] = {a.get(), b.get()};
    EXPECT_EQ(merge_refusal(pair, 2), nullptr);
    MRCData* odd[2] = {a.get(), c.get()};
    EXPECT_STREQ(merge_refusal(odd, 2), "The data sets must be of the same size.");
    std::unique_ptr<MRCData> real(new MRCData());
    std::vector<float> px(24 * 18, 1.0f);
    real->setRealData(px.data(), 24, 18, 1);
    MRCData* mixed[2] = {a.get(), real.get()};
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
            // Radius with h scaled by ny/nx: 18/24.
            double k = row - 9, rho = std::sqrt(k * k + std::pow(h * 18.0 / 24, 2));
            int idx = std::min(199, (int)(rho / 0.5));
            size_t o = (size_t)row * 26 + 2 * h;
            std::complex<double> s = 0;
            for (int q = 0; q < 2; q++) {
                const float* p = pair[q]->getRealData() + o;
                s += (double)w[q][idx] * std::polar((double)p[0], (double)p[1]);
            }
            EXPECT_NEAR(M->getRealData()[o], std::abs(s) * norm[idx], 1e-4 * std::abs(s) * norm[idx] + 1e-5);
            EXPECT_NEAR(M->getRealData()[o + 1], std::arg(s), 1e-4);
        }
}

TEST(Merge, FixPhasesFlipsExactlyTheNegativeBands) {
    const int nx = 40, ny = 30;
    std::unique_ptr<MRCData> d(transform(nx, ny, 1.7f));
    std::vector<float> before(d->getRealData(), d->getRealData() + (nx + 2) * ny);
    float r[200], ctf[200];
    for (int i = 0; i < 200; i++) {
        r[i] = 0.25f * i;
        ctf[i] = (i / 9) % 2 ? -1.0f : (i % 5 == 0 ? 0.0f : 1.0f);  // bands of 9, zeros stay
    }
    long flipped = ctf_fix_phases(d.get(), ctf, r);
    long expect = 0;
    const float* a = d->getRealData();
    for (int row = 0; row < ny; row++)
        for (int h = 0; h <= nx / 2; h++) {
            double k = row - ny / 2, rho = std::sqrt(k * k + std::pow(h * (double)ny / nx, 2));
            int idx = std::min(199, (int)(rho / 0.25));
            size_t o = (size_t)row * (nx + 2) + 2 * h;
            EXPECT_EQ(a[o], before[o]);
            if (ctf[idx] < 0) {
                expect++;
                float want = before[o + 1] < 0 ? before[o + 1] + 3.1415927f : before[o + 1] - 3.1415927f;
                EXPECT_EQ(a[o + 1], want) << row << " " << h;
                EXPECT_LE(std::fabs(a[o + 1]), 3.1415927f);
            } else {
                EXPECT_EQ(a[o + 1], before[o + 1]) << row << " " << h;
            }
        }
    EXPECT_EQ(flipped, expect);
    EXPECT_GT(expect, 100);
    MRCData real;
    std::vector<float> px(16, 1.0f);
    real.setRealData(px.data(), 4, 4, 1);
    EXPECT_EQ(ctf_fix_phases(&real, ctf, r), -1);
}

TEST(Merge, ModelTablesAtTheWindowsAbscissae) {
    clearenv2();
    float s[200], ctf[200], noise[200], filt[200];
    for (int i = 0; i < 200; i++) s[i] = i / 1000.0f;  // s = 0 included
    const float p[8] = {-1.5f, 12, 2, 0.07f, 1.1f, 1.6f, 0.8f, 0.035f};
    const float keep[8] = {-1.5f, 12, 2, 0.07f, 1.1f, 1.6f, 0.8f, 0.035f};
    ctf_signed_table(s, p, 3, nullptr, ctf);
    ctf_noise_table(s, p, 3, noise);
    ctf_target_table(s, p, 20, 3, filt);
    const double lambda = 12.2639 / std::sqrt(1e5 + 9.7845e-7 * 1e10), Cs = 5.6e7;
    for (int i = 0; i < 200; i += 9) {
        double si = s[i],
               g = -2 * kPi * (Cs * std::pow(lambda, 3) * std::pow(si, 4) / 4 - 1.5e4 * lambda * si * si / 2);
        double c = std::sqrt(1 - 0.07 * 0.07) * std::sin(g) + 0.07 * std::cos(g);
        double E = std::exp(-std::pow(kPi * si * 12 / 2, 2));
        EXPECT_NEAR(ctf[i], 3 * 2 * E * c, 1e-4) << i;
        double B = 3 * (1.1 * std::exp(-std::pow(kPi * si * 1.6 / 2, 2)) + 0.8 * std::exp(-si / 0.035));
        EXPECT_NEAR(noise[i], B * B, 1e-4 * B * B) << i;
        EXPECT_NEAR(filt[i], 3 * 2 * std::exp(-std::pow(kPi * si * 20 / 2, 2)), 1e-5) << i;
        EXPECT_TRUE(std::isfinite(ctf[i]) && std::isfinite(noise[i]));
    }
    for (int i = 0; i < 8; i++) EXPECT_EQ(p[i], keep[i]);
    const float r[2] = {0, 1.5f};
    struct {
        float rho;
        int idx;
    } idx[] = {{-1, 0}, {0, 0}, {1.49f, 0}, {1.5f, 1}, {4.6f, 3}, {298.4f, 198}, {299, 199}, {1e6f, 199}};
    for (auto& c : idx) EXPECT_EQ(ctf_radial_index(c.rho, r), c.idx) << c.rho;
}

TEST(LiveCalc, ProfileFiguresAndTheKeptScale) {
    float y[200];
    for (int i = 0; i < 200; i++) y[i] = 10.0f + (i % 7) - i * 0.01f;
    y[0] = 1000;  // the origin never counts
    y[3] = 50;
    y[5] = 0.5f;
    float last = 0;
    ProfileFigures f = live_profile_figures(y, &last);
    EXPECT_EQ(f.yMax, 50.0f);
    EXPECT_EQ(f.yMin, 0.5f);
    double sum = 0;
    float high = 0;
    for (int i = 60; i < 200; i++) sum += y[i];
    for (int i = 8; i < 200; i++) high = std::max(high, y[i]);
    EXPECT_EQ(f.yMaxHigh, high);
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

TEST(LiveCalc, SmoothingMirrorsAtBothEnds) {
    float in[199], out[199];
    for (int i = 0; i < 199; i++) in[i] = (float)((i * 37) % 11) + i * 0.1f;
    for (int n : {1, 4, 12}) {
        smooth_data(n, 199, in, out);
        double h = n / 2.0, norm = 0;
        for (int k = -n; k <= n; k++) norm += std::exp(-k * k / (h * h));
        for (int i : {0, 1, n, 100, 197, 198}) {
            double v = 0;
            for (int k = -n; k <= n; k++) {
                int j = i + k < 0 || i + k > 198 ? i - k : i + k;
                v += std::exp(-k * k / (h * h)) / norm * in[j];
            }
            EXPECT_NEAR(out[i], v, 1e-4) << n << " " << i;
        }
    }
}

TEST(LiveCalc, RatioAndSaveTableNeverDivideByZero) {
    float y[200], bg[200], ctf[200], out[200];
    for (int i = 0; i < 200; i++) {
        y[i] = 5 + i;
        bg[i] = i % 3 ? 2.0f : 0.0f;  // some backgrounds of 0
        ctf[i] = i % 4 ? 0.5f : 0.0f;
    }
    struct Case {
        float scale;
        int i;
        float want;
    } cases[] = {
        {2, 1, (6 - 2) / 0.5f},  // ordinary sample
        {2, 4, 1},               // CTF term 0 (s = 0 and every zero)
        {30, 1, 1},              // weak against the scale (0.5/30 < 0.02)
        {0, 1, 1},               // no scale
    };
    for (const Case& c : cases) {
        live_ratio(y, bg, ctf, c.scale, out);
        EXPECT_EQ(out[c.i], c.want) << c.scale << " " << c.i;
        for (float v : out) EXPECT_TRUE(std::isfinite(v));
    }
    y[7] = 1;  // below the background
    live_snr_table(y, bg, out);
    EXPECT_EQ(out[1], (6 - 2) / 2.0f);
    EXPECT_EQ(out[3], 8 / 0.0001f);
    EXPECT_EQ(out[7], 0.0f);
}
