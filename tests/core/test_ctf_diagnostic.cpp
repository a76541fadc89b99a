// The 2-D diagnostic of an estimate: its model half against a textbook CTF,
// its data half against the CTF a synthetic micrograph was made with.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ctf/ctf2d.h"
#include "ctf/diagnostic.h"
#include "tests/core/ctf_synth.h"
#include "tests/core/ctf_textbook.h"

namespace {
double correlation(const std::vector<double>& a, const std::vector<double>& b) {
    double ma = 0, mb = 0, ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size(); i++) ma += a[i] / a.size(), mb += b[i] / b.size();
    for (size_t i = 0; i < a.size(); i++)
        ab += (a[i] - ma) * (b[i] - mb), aa += (a[i] - ma) * (a[i] - ma), bb += (b[i] - mb) * (b[i] - mb);
    return ab / std::sqrt(aa * bb);
}
}  // namespace

TEST(CtfDiagnostic, ModelHalfIsTheAstigmaticCtfSquaredAndDataHalfShowsTheRings) {
    SynthCtf c;
    c.nx = c.ny = 2048, c.pixel = 1.5f, c.kv = 300, c.cs = 2.7f, c.defocus = 1.6f, c.astig = 0.3f, c.angle = 30;
    c.bfactor = 100, c.noise = 0.5f, c.seed = 4;
    const std::vector<float> img = synth_micrograph(c);
    CtfEstimateParams p;
    p.pixel = c.pixel, p.kv = c.kv, p.csMM = c.cs, p.ac = 0.07f;
    CtfEstimate e;
    CtfSpectrum sp;
    ASSERT_EQ(ctf_estimate(img.data(), c.nx, c.ny, p, &e, &sp), 1) << e.why;
    std::vector<float> d;
    ASSERT_EQ(ctf_diagnostic(sp, e, p, &d), 1);
    const int T = sp.T, half = T / 2;
    ASSERT_EQ(d.size(), (size_t)T * T);
    const double f = 1.0 / (T * c.pixel);
    double worst = 0;
    std::vector<double> data, truth, mirrored;
    for (int y = 0; y < T; y++)
        for (int x = 0; x < T; x++) {
            const double sx = (x - half) * f, sy = (y - half) * f, v = d[(size_t)y * T + x];
            if (x >= half) {
                const double t = textbookCtf(p.kv, p.csMM, p.ac, e.defocusU, e.defocusV, e.astigAngle, sx, sy);
                worst = std::max(worst, std::fabs(v - t * t));
                continue;
            }
            ASSERT_TRUE(v >= 0 && v <= 1) << x << "," << y;
            const double s = std::hypot(sx, sy);
            if (s < 1 / 25.0 || s > 1 / 5.0) continue;
            const double t = synth_ctf(c, sx, sy), m = synth_ctf(c, -sx, sy);
            data.push_back(v);
            truth.push_back(t * t);
            mirrored.push_back(m * m);
        }
    // The wavelength constants differ in the fifth digit: a few thousandths at Nyquist.
    EXPECT_LT(worst, 1e-2);
    const double right = correlation(data, truth), wrong = correlation(data, mirrored);
    EXPECT_GT(right, 0.2) << wrong;
    EXPECT_GT(right, wrong + 0.15);
    // Nothing to show without a spectrum.
    EXPECT_EQ(ctf_diagnostic(CtfSpectrum(), e, p, &d), 0);
}

TEST(CtfDiagnostic, ZerosAlongADirectionAreWhereTheTextbookCtfChangesSign) {
    // Under- and overfocus, astigmatic, amplitude contrast 0 and 0.1: along each
    // direction the z-th zero is the z-th sign change of the textbook CTF from s = 0.
    const Ctf2d cases[] = {{-1.6, -1.2, 30, 300, 2.7, 0.1}, {-0.9, -1.4, 120, 200, 2.0, 0.0}, {1.5, 1.5, 0, 300, 2.7, 0.1}};
    for (const Ctf2d& c : cases)
        for (double th : {0.0, 0.7, 2.0, 4.0}) {
            std::vector<double> changes;
            const double step = 1e-5;
            for (double s = step; s < 0.35 && changes.size() < 6; s += step) {
                const double a = textbookCtf(c.kv, c.csMM, c.ac, c.defocusU, c.defocusV, c.angle, (s - step) * std::cos(th),
                                             (s - step) * std::sin(th)),
                             b = textbookCtf(c.kv, c.csMM, c.ac, c.defocusU, c.defocusV, c.angle, s * std::cos(th),
                                             s * std::sin(th));
                if ((a < 0) != (b < 0)) changes.push_back(s - step / 2);
            }
            ASSERT_GE(changes.size(), 3u);
            for (size_t z = 0; z < changes.size(); z++)
                EXPECT_NEAR(ctf2d_zero(c, th, (int)z + 1), changes[z], 2e-4 * changes[z] + step) << z << " " << th;
        }
    EXPECT_EQ(ctf2d_zero(cases[0], 0, 0), 0);
}

TEST(CtfDiagnostic, ProfilesAlongRingsOfEqualPhaseShowAstigmaticRingsSharp) {
    // A transform and a spectrum whose power is the textbook CTF^2 with 0.4 um of
    // astigmatism: along rings of equal phase their profile is the round CTF^2 of
    // the mean defocus; the plain radial average washes the outer rings out.
    const Ctf2d c{-1.6, -1.2, 30, 300, 2.7, 0.07};
    const int T = 512;
    const double px = 1.5, f = 1.0 / (T * px);
    CtfSpectrum sp;
    sp.T = T, sp.pixel = (float)px;
    sp.ps.resize((size_t)T * (T / 2 + 1));
    std::vector<float> pairs((size_t)(T + 2) * T, 0.0f);
    for (int k = -T / 2; k < T / 2; k++)
        for (int h = 0; h <= T / 2; h++) {
            const double t = textbookCtf(c.kv, c.csMM, c.ac, c.defocusU, c.defocusV, c.angle, h * f, k * f);
            sp.ps[(size_t)(k + T / 2) * (T / 2 + 1) + h] = (float)(t * t);
            pairs[(size_t)(k + T / 2) * (T + 2) + 2 * h] = (float)std::fabs(t);
        }
    MRCData F;
    F.setComplData(pairs.data(), T + 2, T, 1);
    F.setPixres((float)px);
    float a[400], b[200];
    ASSERT_EQ(ctf2d_profile(F, c, a), 1);
    const double step = a[1] / (T * px);
    ASSERT_EQ(ctf2d_spectrum_profile(sp, c, step, b), 1);
    const float* plain = F.calcDist(0, 1, 1) + 200;
    std::vector<double> eq, round, radial;
    for (int i = 5; i < 150; i++) {
        const double t = textbookCtf(c.kv, c.csMM, c.ac, -1.4, -1.4, 0, i * step, 0);
        eq.push_back(a[200 + i]);
        round.push_back(t * t);
        radial.push_back(plain[i]);
        EXPECT_NEAR(b[i], a[200 + i], 1e-4) << i;
    }
    EXPECT_GT(correlation(eq, round), 0.9);
    EXPECT_LT(correlation(radial, round), correlation(eq, round) - 0.2);
    // Without astigmatism nothing moves: the plain radial average.
    const Ctf2d r{-1.4, -1.4, 0, 300, 2.7, 0.07};
    ASSERT_EQ(ctf2d_profile(F, r, a), 1);
    for (int i = 0; i < 200; i++) EXPECT_NEAR(a[200 + i], plain[i], 1e-5) << i;
    EXPECT_EQ(ctf2d_spectrum_profile(CtfSpectrum(), c, step, b), 0);
}
