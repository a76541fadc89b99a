// CTF model: fitting and display forms, derivatives, first zero, memory slots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "ctf/merge.h"
#include "ctf/model.h"
#include "tests/core/tempdir.h"

namespace {

const double kPi = 3.14159265358979323846;

// Fresh preference store and a private HOME for each test.
struct Ctf : testing::Test {
    TempDir tmp;
};

// The model written out again in double from the formulas, at 100 kV and Cs 5.6 mm.
const double kLambda = 12.2639 / std::sqrt(100000.0 + 9.7845e-7 * 1e10), kCs = 5.6e7;
double gammaOf(double s, double df) {
    return -2 * kPi * (kCs * std::pow(kLambda, 3) * std::pow(s, 4) / 4 + 1e4 * df * kLambda * s * s / 2);
}
double envOf(double s, double w) {
    return std::exp(-std::pow(kPi * s * w / 2, 2));
}

}  // namespace

TEST_F(Ctf, WavelengthAndFirstZeroAt100kV) {
    float lambda, Cs;
    ctf_constants(&lambda, &Cs);
    EXPECT_NEAR(lambda, 0.03701, 1e-5);
    EXPECT_FLOAT_EQ(Cs, 5.6e7f);
    float s1 = ctf_first_zero(-1.568f, lambda, Cs);
    EXPECT_NEAR(s1, 0.0414, 1e-4);
    EXPECT_NEAR(ctf_defocus_for_zero(0.0414f, lambda, Cs), -1.568, 2e-3);
    // The first zero is where |gamma| reaches pi for a large underfocus.
    EXPECT_NEAR(std::fabs(gammaOf(s1, -1.568)), kPi, 0.02 * kPi);
    EXPECT_NEAR(ctf_defocus_for_zero(ctf_first_zero(-3.0f, lambda, Cs), lambda, Cs), -3.0, 0.01);
    // Constants come from the preference store at each use.
    setenvf("voltage", 300);
    ctf_constants(&lambda, &Cs);
    EXPECT_NEAR(lambda, 0.01969, 1e-5);
    EXPECT_EQ(ctf_context_prefs(2.5f).lambda, lambda);
    // An explicit context: kV and mm.
    CtfContext c = ctf_context(200, 2.7f, 3, 2.2f);
    EXPECT_NEAR(c.lambda, 0.02508, 1e-5);
    EXPECT_FLOAT_EQ(c.Cs, 2.7e7f);
    EXPECT_FLOAT_EQ(c.Cc, 2.2e7f);
    EXPECT_FLOAT_EQ(c.V, 2e5f);
}

TEST_F(Ctf, FittingFormTermsAndSideEffects) {
    const float lambda = (float)kLambda, Cs = (float)kCs;
    // The squared CTF term and the squared background add (g = 2); ctfScale 0 leaves the background alone.
    for (double s : {0.0, 0.013, 0.031, 0.077, 0.12})
        for (float scale : {0.0f, 1.5f}) {
            float p[8] = {-1.2f, 8, scale, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
            double c = std::sqrt(1 - 0.07 * 0.07) * std::sin(gammaOf(s, -1.2)) + 0.07 * std::cos(gammaOf(s, -1.2));
            double t = 2 * scale * envOf(s, 8) * c, b = 2 * (1.084 * envOf(s, 1.57) + 0.8157 * std::exp(-s / 0.03466));
            EXPECT_NEAR(ctffn((float)s, p, lambda, Cs, 2.0f), t * t + b * b, 1e-4 * (t * t + b * b)) << s;
        }
    // Absolute values and the exact-zero decay.
    float z[8] = {-1, -5, 1, 0.1f, 1, -2, 1, 0}, w[8] = {-1, 5, 1, 0.1f, 1, 2, 1, -0.02f};
    ctffn(0.05f, z, lambda, Cs, 1.0f);
    ctffn(0.05f, w, lambda, Cs, 1.0f);
    EXPECT_EQ(z[0], -1.0f);
    EXPECT_EQ(z[1], 5.0f);
    EXPECT_EQ(z[5], 2.0f);
    EXPECT_EQ(z[7], 0.0001f);
    EXPECT_EQ(w[7], 0.02f);
}

TEST_F(Ctf, BasisDerivativesUseTheStatedSteps) {
    float a[9] = {0, -1.4f, 9, 1.2f, 0.1f, 0.9f, 1.6f, 0.7f, 0.04f};
    float y, dyda[9];
    const float s = 0.036f;
    ctfbasis(s, a, &y, dyda, 8, ctf_context(100, 5.6f, 1.5f));
    EXPECT_EQ(a[1], -1.4f);  // a is restored
    EXPECT_EQ(a[3], 1.2f);
    // The model is quadratic in ctfScale: the forward difference is exact, g^2 E^2 c^2 (2a + h).
    double c = std::sqrt(1 - 0.01) * std::sin(gammaOf(s, -1.4)) + 0.1 * std::cos(gammaOf(s, -1.4));
    double e = envOf(s, 9), k = 1.5 * 1.5 * e * e * c * c;
    EXPECT_NEAR(dyda[3], k * (2 * 1.2 + 0.005), 2e-3 * std::fabs(k * 2.4) + 1e-4);
    // And in gaussAmp, with step 0.001: d/dA (gG A + gX)^2.
    double G = envOf(s, 1.6), X = 0.7 * std::exp(-s / 0.04);
    double dA = 1.5 * 1.5 * (G * G * (2 * 0.9 + 0.001) + 2 * G * X);
    EXPECT_NEAR(dyda[5], dA, 2e-3 * dA);
    EXPECT_NEAR(y, k * 1.2 * 1.2 + std::pow(1.5 * (0.9 * G + X), 2), 1e-4);
    for (int i = 1; i <= 8; i++) EXPECT_TRUE(std::isfinite(dyda[i])) << i;
    EXPECT_NE(dyda[1], 0.0f);
}

TEST_F(Ctf, DisplayFormAndTheMergeTablesAtTheWindowsAbscissae) {
    float s[200], ctf[200], noise[200], filt[200];
    for (int i = 0; i < 200; i++) s[i] = i / 1000.0f;  // s = 0 included
    // The display form fixes an envelope or decay <= 0, marks the first zero and widens the plot range.
    float q[8] = {-1.568f, -3, 1, 0, 1.084f, 1.57f, 0.8157f, 0}, mark = 0, lo = 1e30f, hi = -1e30f;
    ctf_display_form(s, 200, q, ctf_context(100, 5.6f, 1.0f), true, nullptr, ctf, &mark, &lo, &hi);
    EXPECT_EQ(q[1], 0.01f);
    EXPECT_EQ(q[7], 0.0001f);
    EXPECT_NEAR(mark, 0.0414, 1e-4);
    EXPECT_EQ(lo, *std::min_element(ctf, ctf + 200));
    EXPECT_EQ(hi, *std::max_element(ctf, ctf + 200));
    const float p[8] = {-1.5f, 12, 2, 0.07f, 1.1f, 1.6f, 0.8f, 0.035f},
                keep[8] = {-1.5f, 12, 2, 0.07f, 1.1f, 1.6f, 0.8f, 0.035f};
    ctf_signed_table(s, p, 3, nullptr, ctf);
    ctf_noise_table(s, p, 3, noise);
    ctf_target_table(s, p, 20, 3, filt);
    for (int i = 0; i < 200; i += 9) {
        const double g = gammaOf(s[i], -1.5), c = std::sqrt(1 - 0.07 * 0.07) * std::sin(g) + 0.07 * std::cos(g);
        EXPECT_NEAR(ctf[i], 3 * 2 * envOf(s[i], 12) * c, 1e-4) << i;
        double B = 3 * (1.1 * envOf(s[i], 1.6) + 0.8 * std::exp(-s[i] / 0.035));
        EXPECT_NEAR(noise[i], B * B, 1e-4 * B * B) << i;
        EXPECT_NEAR(filt[i], 3 * 2 * envOf(s[i], 20), 1e-5) << i;
    }
    EXPECT_TRUE(std::equal(p, p + 8, keep));
    const float r[2] = {0.25f, 1.75f};
    const float idx[][2] = {{-1, 0},    {0.25f, 0},    {1.7f, 0},      {1.75f, 1},
                            {4.85f, 3}, {298.6f, 198}, {298.75f, 199}, {1e6f, 199}};
    for (auto& c : idx) EXPECT_EQ(ctf_radial_index(c[0], r), (int)c[1]) << c[0];
}

TEST_F(Ctf, InstrumentEnvelopeTerms) {
    float lambda, Cs, Cc, V;
    ctf_constants(&lambda, &Cs, &Cc, &V);
    auto E = [&](float s, const CtfInstrument& in) { return ctf_instrument_envelope(s, -1.5f, in, lambda, Cs, Cc, V); };
    CtfInstrument in{true};
    // All panel values 0: every factor 1, also at s = 0 where Eh is 0/0.
    EXPECT_FLOAT_EQ(E(0.0f, in), 1.0f);
    // Each term alone: horizontal drift a sinc, vertical drift J0 (by its power series), energy spread.
    CtfInstrument hor = in, vert = in, temp = in, spat = in;
    hor.horA = 3, vert.vertA = 400, temp.temporalEv = 2, spat.spatialMrad = 1;
    double x = kPi * 0.05 * 3;
    EXPECT_NEAR(E(0.05f, hor), std::sin(x) / x, 1e-6);
    double z = kPi * 400 * lambda * 0.1 * 0.1, j = 0, term = 1;
    for (int k = 0; k < 30; k++, term *= -(z / 2) * (z / 2) / (k * k)) j += term;
    EXPECT_NEAR(E(0.1f, vert), j, 1e-5);
    double et = Cc * lambda * 2 / V * 0.01;
    EXPECT_NEAR(E(0.1f, temp), std::exp(-kPi * kPi * et * et / (16 * std::log(2.0))), 1e-6);
    // Spatial coherence follows the slope of the phase: 1 where Cs lambda^2 s^2 = -Delta.
    double s0 = std::sqrt(15000.0 / (Cs * (double)lambda * lambda));
    EXPECT_NEAR(E((float)s0, spat), 1.0, 1e-3);
    EXPECT_LT(E((float)(s0 / 2), spat), 0.99f);

    // The display form uses it only with the panel open and an envelope of exactly 0.
    float s[2] = {0.05f, 0.08f}, fit[2];
    float p[8] = {-1.5f, 0, -1, 0, 0, 1, 0, 0.03f}, p2[8] = {-1.5f, 0, -1, 0, 0, 1, 0, 0.03f};
    ctf_display_form(s, 2, p, ctf_context_prefs(1.0f), false, &temp, fit, nullptr, nullptr, nullptr);
    EXPECT_NEAR(fit[1], E(0.08f, temp), 1e-6);
    temp.open = false;
    ctf_display_form(s, 2, p2, ctf_context_prefs(1.0f), false, &temp, fit, nullptr, nullptr, nullptr);
    EXPECT_NEAR(fit[1], envOf(0.08, 0.01), 1e-6);  // envelope set to 0.01
}

TEST_F(Ctf, MemorySlotsTextDefaultsShortTextsAndRange) {
    LC_pstate a = {-1.2345678f, 12.5f, 2.25f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f, 0.05f}, b = a, c = a;
    ASSERT_EQ(ctf_memory_store(2, &a), 1);
    EXPECT_STREQ(getenv2("livec2"), " -1.235   12.5   2.25   0.07  1.084   1.57 0.8157 0.03466");
    // A slot never stored gives the defaults; a short text leaves the unread fields as they were; the
    // marker is no part of the text.
    setenv2("livec1", " -2 3");
    ASSERT_EQ(ctf_memory_recall(3, &b), 1);
    ASSERT_EQ(ctf_memory_recall(1, &c), 1);
    const float defaults[9] = {-1.568f, 1, 0, 0, 1.084f, 1.57f, 0.8157f, 0.03466f, 0.05f};
    const float shortText[9] = {-2, 3, 2.25f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f, 0.05f};
    for (int i = 0; i < 9; i++) {
        EXPECT_FLOAT_EQ((&b.defocus)[i], defaults[i]) << i;
        EXPECT_FLOAT_EQ((&c.defocus)[i], shortText[i]) << i;
    }
    // Only slots 1..3.
    EXPECT_EQ(ctf_memory_store(0, &a), 0);
    EXPECT_EQ(ctf_memory_recall(4, &b), 0);
}
