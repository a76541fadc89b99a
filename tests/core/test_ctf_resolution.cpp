// Where the estimator says the Thon rings end, against where they end in
// micrographs of one CTF at rising noise, measured here on their own terms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ctf/estimate.h"
#include "fft/ifftsubs.h"
#include "tests/core/ctf_synth.h"

namespace {

// Pearson correlation of the residuals of y and m after a quadratic in s:
// the background under the rings taken out locally.
double detrendedCorrelation(const std::vector<double>& s, const std::vector<double>& y, const std::vector<double>& m) {
    const size_t n = s.size();
    auto residual = [&](const std::vector<double>& v) {
        // Normal equations of v ~ a + b s + c s^2, s centred and scaled for conditioning.
        double s0 = 0, sw = 0;
        for (double x : s) s0 += x / n;
        for (double x : s) sw = std::max(sw, std::fabs(x - s0));
        double M[3][4] = {};
        for (size_t i = 0; i < n; i++) {
            const double x = (s[i] - s0) / sw, b[3] = {1, x, x * x};
            for (int r = 0; r < 3; r++) {
                for (int k = 0; k < 3; k++) M[r][k] += b[r] * b[k];
                M[r][3] += b[r] * v[i];
            }
        }
        for (int c = 0; c < 3; c++)
            for (int r = 0; r < 3; r++)
                if (r != c) {
                    const double f = M[r][c] / M[c][c];
                    for (int k = 0; k < 4; k++) M[r][k] -= f * M[c][k];
                }
        std::vector<double> out(n);
        for (size_t i = 0; i < n; i++) {
            const double x = (s[i] - s0) / sw;
            out[i] = v[i] - (M[0][3] / M[0][0] + M[1][3] / M[1][1] * x + M[2][3] / M[2][2] * x * x);
        }
        return out;
    };
    const std::vector<double> a = residual(y), b = residual(m);
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; i++) ab += a[i] * b[i], aa += a[i] * a[i], bb += b[i] * b[i];
    return ab / std::sqrt(aa * bb);
}

// Where the rings of a micrograph without astigmatism really end: its whole
// periodogram averaged in rings as wide as the estimator's spectrum samples,
// its logarithm against the true CTF^2 averaged over the same pixels, windows
// of three ring periods (at least 12 samples) one ring apart; the end is where
// their correlation falls below the threshold for two windows in a row,
// interpolated between window centres.
double truthEnd(const std::vector<float>& img, const SynthCtf& c, int T) {
    const std::vector<float> ps = ctf_tile_spectrum(img.data(), c.nx, c.ny, T);
    const double ds = 1.0 / (T * c.pixel);
    const int nb = T / 2;
    std::vector<double> P(nb, 0.0), C(nb, 0.0), W(nb, 0.0);
    for (int k = -T / 2; k < T / 2; k++)
        for (int h = 0; h <= T / 2; h++) {
            const double fx = h * ds, fy = k * ds;
            const int b = (int)(std::hypot(fx, fy) / ds);
            if (b >= nb) continue;
            const double t = synth_ctf(c, fx, fy);
            P[b] += ps[(size_t)(k + T / 2) * (T / 2 + 1) + h];
            C[b] += t * t;
            W[b] += 1;
        }
    std::vector<double> zeros;
    for (double s = ds, step = ds / 50; s < 0.5 / c.pixel; s += step)
        if ((synth_ctf(c, s - step, 0) > 0) != (synth_ctf(c, s, 0) > 0)) zeros.push_back(s - step / 2);
    std::vector<double> centre, rho, weight, top;
    for (size_t z = 0; z + 3 < zeros.size(); z++) {
        std::vector<double> s, y, m;
        for (size_t e = z + 3; e < zeros.size() && s.size() < 12; e++) {
            s.clear(), y.clear(), m.clear();
            for (int b = 0; b < nb; b++) {
                const double sb = (b + 0.5) * ds;
                if (W[b] == 0 || sb < zeros[z] || sb > zeros[e]) continue;
                s.push_back(sb);
                y.push_back(P[b] / W[b]);
                m.push_back(C[b] / W[b]);
            }
            if (s.size() >= 12) centre.push_back((zeros[z] + zeros[e]) / 2), top.push_back(zeros[e]);
        }
        if (s.size() < 12) break;
        rho.push_back(detrendedCorrelation(s, y, m));
        weight.push_back(s.size());
    }
    // The end: the split of the windows into those before it and those after
    // it that least violates "above the threshold before, below after".
    const double t = kCtfRingsEndCorrelation;
    size_t best = rho.size();
    double bestCost = INFINITY;
    for (size_t cut = 0; cut <= rho.size(); cut++) {
        double cost = 0;
        for (size_t w = 0; w < rho.size(); w++) {
            const double excess = w < cut ? std::min(0.0, rho[w] - t) : std::max(0.0, rho[w] - t);
            cost += weight[w] * excess * excess;
        }
        if (cost < bestCost) bestCost = cost, best = cut;
    }
    if (best == 0) return zeros[0];
    if (best == rho.size()) return top.back();
    return 0.5 * (centre[best - 1] + centre[best]);
}

}  // namespace

TEST(CtfResolution, FollowsWhereTheRingsEndAsNoiseRises) {
    // 2048 x 2048, 1.8 A, 300 kV, Cs 2.7 mm, 3 micrometres: rings to Nyquist when
    // nearly clean, fading sooner the more noise covers them.
    std::printf(" noise | rings end (A) | reported (A) | off\n");
    double last = 0;
    for (float noise : {0.3f, 1.0f, 1.4f}) {
        SynthCtf c;
        c.nx = c.ny = 2048, c.pixel = 1.8f, c.kv = 300, c.cs = 2.7f, c.defocus = 3.0f, c.bfactor = 150;
        c.noise = noise, c.seed = 3;
        const std::vector<float> img = synth_micrograph(c);
        CtfEstimateParams p;
        p.pixel = c.pixel, p.kv = c.kv, p.csMM = c.cs, p.ac = 0.07f;
        CtfEstimate e;
        ASSERT_EQ(ctf_estimate(img.data(), c.nx, c.ny, p, &e), 1) << e.why;
        const double truth = truthEnd(img, c, e.tile), got = 1 / e.resolution;
        std::printf(" %5.2f | %13.2f | %12.2f | %+5.1f %%\n", noise, 1 / truth, e.resolution, 100 * (got / truth - 1));
        EXPECT_NEAR(got, truth, 0.15 * truth) << "noise " << noise;
        EXPECT_GT(e.resolution, last) << "noise " << noise;
        last = e.resolution;
    }
}

TEST(CtfResolution, RingsEndWhereTheProfileStopsFollowingTheModel) {
    // Rings of constant period 0.01 in s, sampled every 0.001: the model is
    // cos(2 pi s / 0.01), the CTF's zeros at its minima 0.005 + 0.01 k. The profile follows
    // the model up to `end`, then a wave of another period that no window of
    // three rings correlates with it; `dip` replaces two and a half rings
    // early on with that wave too.
    struct Case {
        double end, dip;  // 1/Angstrom; dip 0 for none
        double want;      // where the rings end
        double tol;
    } cases[] = {
        {0.30, 0, 0.30, 0.015},     // follows to 0.3, then not
        {0.60, 0, 0.495, 1e-6},     // follows everywhere: the end of the last window
        {0.0, 0, 0.005, 1e-6},      // never follows: the first zero
        {0.30, 0.15, 0.30, 0.015},  // a noisy stretch does not end them
    };
    for (const Case& c : cases) {
        std::vector<float> s, prof, model, zeros;
        for (int i = 20; i <= 500; i++) {
            const double x = i * 0.001, m = std::cos(2 * M_PI * x / 0.01), other = std::cos(2 * M_PI * x / 0.0037 + 1);
            const bool follows = x < c.end && !(c.dip > 0 && std::fabs(x - c.dip) < 0.0125);
            s.push_back((float)x);
            model.push_back((float)m);
            prof.push_back((float)(follows ? m : other));
        }
        for (int k = 0; k < 50; k++) zeros.push_back((float)(0.005 + 0.01 * k));
        EXPECT_NEAR(ctf_rings_end(s, prof, model, zeros), c.want, c.tol) << c.end << " " << c.dip;
    }
}
