// CTF model: fitting and display forms, derivatives, first zero, memory slots.
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/prefs.h"
#include "core/pstate.h"
#include "ctf/model.h"

namespace {

const double kPi = 3.14159265358979323846;

// Fresh preference store and a private HOME for each test.
class Ctf : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarvik_ctf_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        const char* h = std::getenv("HOME");
        oldHome = h ? h : "";
        setenv("HOME", dir.c_str(), 1);
        clearenv2();
    }
    void TearDown() override {
        clearenv2();
        setenv("HOME", oldHome.c_str(), 1);
        std::string rc = "rm -rf '" + dir + "'";
        (void)!system(rc.c_str());
    }
    std::string dir, oldHome;
};

// The model written out again in double from the formulas, for comparison.
struct Ref {
    double lambda = 12.2639 / std::sqrt(100000.0 + 9.7845e-7 * 1e10);
    double Cs = 5.6e7;
    double gamma(double s, double df) const {
        return -2 * kPi * (Cs * std::pow(lambda, 3) * std::pow(s, 4) / 4 + 1e4 * df * lambda * s * s / 2);
    }
    double bg(double s, const float* p, double g) const {
        return g * (p[4] * std::exp(-std::pow(kPi * s * p[5] / 2, 2)) + p[6] * std::exp(-s / p[7]));
    }
};

}  // namespace

TEST_F(Ctf, WavelengthAndFirstZeroAt100kV) {
    float lambda, Cs;
    ctf_constants(&lambda, &Cs);
    EXPECT_NEAR(lambda, 0.03701, 1e-5);
    EXPECT_FLOAT_EQ(Cs, 5.6e7f);
    float s1 = ctf_first_zero(-1.568f, lambda, Cs);
    EXPECT_NEAR(s1, 0.0414, 1e-4);
    EXPECT_NEAR(1 / s1, 24.2, 0.1);
    EXPECT_NEAR(ctf_defocus_for_zero(0.0414f, lambda, Cs), -1.568, 2e-3);
    // The first zero is where |gamma| reaches pi for a large underfocus.
    Ref r;
    double g = r.gamma(s1, -1.568);
    EXPECT_NEAR(std::fabs(g), kPi, 0.02 * kPi);
    // Deeper underfocus moves the zero in; the inverse relation follows it.
    EXPECT_LT(ctf_first_zero(-3.0f, lambda, Cs), s1);
    EXPECT_NEAR(ctf_defocus_for_zero(ctf_first_zero(-3.0f, lambda, Cs), lambda, Cs), -3.0, 0.01);
    // Constants come from the preference store at each use.
    setenvf("voltage", 300);
    ctf_constants(&lambda, &Cs);
    EXPECT_NEAR(lambda, 0.01969, 1e-5);
    EXPECT_EQ(ctf_context_prefs(2.5f).lambda, lambda);
    // An explicit context leaves the store alone.
    CtfContext c = ctf_context(200, 2.7f, 3, 2.2f);
    EXPECT_NEAR(c.lambda, 0.02508, 1e-5);
    EXPECT_FLOAT_EQ(c.Cs, 2.7e7f);
    EXPECT_FLOAT_EQ(c.Cc, 2.2e7f);
    EXPECT_FLOAT_EQ(c.V, 2e5f);
    EXPECT_EQ(c.g, 3.0f);
    EXPECT_EQ(getenvf("voltage"), 300.0f);
}

TEST_F(Ctf, FittingFormTermsAndSideEffects) {
    Ref r;
    float lambda = (float)r.lambda, Cs = (float)r.Cs;
    // ctfScale 0: the squared background alone.
    float p[8] = {-1.568f, 1, 0, 0, 1.084f, 1.57f, 0.8157f, 0.03466f};
    for (double s : {0.0, 0.01, 0.05, 0.12}) {
        double b = r.bg(s, p, 2.0);
        EXPECT_NEAR(ctffn((float)s, p, lambda, Cs, 2.0f), b * b, 1e-5 * b * b);
    }
    // ampContrast 1 gives cos(gamma), 0 gives sin(gamma); no background.
    for (float ac : {0.0f, 1.0f}) {
        float q[8] = {-1.2f, 8, 1.5f, ac, 0, 1, 0, 0.05f};
        for (double s : {0.013, 0.031, 0.077}) {
            double c = ac == 1 ? std::cos(r.gamma(s, -1.2)) : std::sin(r.gamma(s, -1.2));
            double e = std::exp(-std::pow(kPi * s * 8 / 2, 2));
            double t = 2.0 * 1.5 * e * c;
            EXPECT_NEAR(ctffn((float)s, q, lambda, Cs, 2.0f), t * t, 1e-4 * (t * t) + 1e-9);
        }
    }
    // Absolute values and the exact-zero decay.
    float z[8] = {-1, -5, 1, 0.1f, 1, -2, 1, 0};
    ctffn(0.05f, z, lambda, Cs, 1.0f);
    EXPECT_EQ(z[1], 5.0f);
    EXPECT_EQ(z[5], 2.0f);
    EXPECT_EQ(z[7], 0.0001f);
    EXPECT_EQ(z[0], -1.0f);
    float w[8] = {-1, 5, 1, 0.1f, 1, 2, 1, -0.02f};
    ctffn(0.05f, w, lambda, Cs, 1.0f);
    EXPECT_EQ(w[7], 0.02f);
}

TEST_F(Ctf, BasisDerivativesUseTheStatedSteps) {
    float a[9] = {0, -1.4f, 9, 1.2f, 0.1f, 0.9f, 1.6f, 0.7f, 0.04f};
    float y, dyda[9];
    const float s = 0.036f;
    ctfbasis(s, a, &y, dyda, 8, ctf_context(100, 5.6f, 1.5f));
    // a is restored.
    EXPECT_EQ(a[1], -1.4f);
    EXPECT_EQ(a[3], 1.2f);
    // The model is quadratic in ctfScale: the forward difference is exact, g^2 E^2 c^2 (2a + h).
    Ref r;
    double c = std::sqrt(1 - 0.01) * std::sin(r.gamma(s, -1.4)) + 0.1 * std::cos(r.gamma(s, -1.4));
    double e = std::exp(-std::pow(kPi * s * 9 / 2, 2));
    double k = 1.5 * 1.5 * e * e * c * c;
    EXPECT_NEAR(dyda[3], k * (2 * 1.2 + 0.005), 2e-3 * std::fabs(k * 2.4) + 1e-4);
    // And in gaussAmp, with step 0.001: d/dA (gG A + gX)^2.
    double G = std::exp(-std::pow(kPi * s * 1.6 / 2, 2)), X = 0.7 * std::exp(-s / 0.04);
    double dA = 1.5 * 1.5 * (G * G * (2 * 0.9 + 0.001) + 2 * G * X);
    EXPECT_NEAR(dyda[5], dA, 2e-3 * dA);
    EXPECT_NEAR(y, k * 1.2 * 1.2 + std::pow(1.5 * (0.9 * G + X), 2), 1e-4);
    // Every derivative is finite, the defocus one is not zero at this frequency.
    for (int i = 1; i <= 8; i++) EXPECT_TRUE(std::isfinite(dyda[i])) << i;
    EXPECT_NE(dyda[1], 0.0f);
}

TEST_F(Ctf, DisplayFormFixesParametersMarksTheZeroAndWidensTheRange) {
    float s[200], fit[200];
    for (int i = 0; i < 200; i++) s[i] = i / 1024.0f;
    float p[8] = {-1.568f, -3, 1, 0, 1.084f, 1.57f, 0.8157f, 0};
    float mark = 0, lo = 1e30f, hi = -1e30f;
    ctf_display_form(s, 200, p, ctf_context(100, 5.6f, 1.0f), true, nullptr, fit, &mark, &lo, &hi);
    EXPECT_EQ(p[1], 0.01f);
    EXPECT_EQ(p[7], 0.0001f);
    EXPECT_NEAR(mark, 0.0414, 1e-4);
    float mn = fit[0], mx = fit[0];
    for (float f : fit) {
        mn = std::min(mn, f);
        mx = std::max(mx, f);
    }
    EXPECT_EQ(lo, mn);
    EXPECT_EQ(hi, mx);
    // Signed mode: t x g x |scale|, no background, the sign of sin(gamma) kept.
    Ref r;
    float q[8] = {-1.568f, 5, -2, 0, 1.084f, 1.57f, 0.8157f, 0.03466f};
    lo = 0;
    hi = 0;
    ctf_display_form(s, 200, q, ctf_context(100, 5.6f, 3.0f), true, nullptr, fit, &mark, &lo, &hi);
    for (int i : {10, 30, 60, 100}) {
        double e = std::exp(-std::pow(kPi * s[i] * 5 / 2, 2));
        EXPECT_NEAR(fit[i], e * std::sin(r.gamma(s[i], -1.568)) * 3 * 2, 1e-4);
    }
    EXPECT_LT(lo, 0.0f);
    // "CTF" off: c = 1, so the envelope alone.
    ctf_display_form(s, 200, q, ctf_context(100, 5.6f, 1.0f), false, nullptr, fit, &mark, nullptr, nullptr);
    EXPECT_NEAR(fit[50], 2 * std::exp(-std::pow(kPi * s[50] * 5 / 2, 2)), 1e-5);
}

TEST_F(Ctf, InstrumentEnvelopeTerms) {
    float lambda, Cs, Cc, V;
    ctf_constants(&lambda, &Cs, &Cc, &V);
    CtfInstrument in;
    in.open = true;
    // All panel values 0: every factor 1, also at s = 0 where Eh is 0/0.
    EXPECT_FLOAT_EQ(ctf_instrument_envelope(0.0f, -1.5f, in, lambda, Cs, Cc, V), 1.0f);
    EXPECT_NEAR(ctf_instrument_envelope(0.1f, -1.5f, in, lambda, Cs, Cc, V), 1.0, 1e-6);
    // Horizontal drift alone: sinc.
    in.horA = 3;
    double x = kPi * 0.05 * 3;
    EXPECT_NEAR(ctf_instrument_envelope(0.05f, -1.5f, in, lambda, Cs, Cc, V), std::sin(x) / x, 1e-6);
    in.horA = 0;
    // Vertical drift alone: J0 by its power series.
    in.vertA = 400;
    double z = kPi * 400 * lambda * 0.1 * 0.1, j = 0, term = 1;
    for (int k = 0; k < 30; k++) {
        j += term;
        term *= -(z / 2) * (z / 2) / ((k + 1.0) * (k + 1.0));
    }
    EXPECT_NEAR(ctf_instrument_envelope(0.1f, -1.5f, in, lambda, Cs, Cc, V), j, 1e-5);
    in.vertA = 0;
    // Energy spread alone.
    in.temporalEv = 2;
    double et = Cc * lambda * 2 / V * 0.01;
    EXPECT_NEAR(ctf_instrument_envelope(0.1f, -1.5f, in, lambda, Cs, Cc, V),
                std::exp(-kPi * kPi * et * et / (16 * std::log(2.0))), 1e-6);
    in.temporalEv = 0;
    // Spatial coherence follows the slope of the phase: 1 where Cs lambda^2 s^2 = -Delta.
    in.spatialMrad = 1;
    double s0 = std::sqrt(15000.0 / (Cs * (double)lambda * lambda));
    EXPECT_NEAR(ctf_instrument_envelope((float)s0, -1.5f, in, lambda, Cs, Cc, V), 1.0, 1e-3);
    EXPECT_LT(ctf_instrument_envelope((float)(s0 / 2), -1.5f, in, lambda, Cs, Cc, V), 0.99f);

    // The display form uses it only with the panel open and an envelope of exactly 0.
    float s[2] = {0.05f, 0.08f}, fit[2];
    float p[8] = {-1.5f, 0, -1, 0, 0, 1, 0, 0.03f};
    ctf_display_form(s, 2, p, ctf_context_prefs(1.0f), false, &in, fit, nullptr, nullptr, nullptr);
    EXPECT_NEAR(fit[1], ctf_instrument_envelope(0.08f, -1.5f, in, lambda, Cs, Cc, V), 1e-6);
    float p2[8] = {-1.5f, 0, -1, 0, 0, 1, 0, 0.03f};
    in.open = false;
    ctf_display_form(s, 2, p2, ctf_context_prefs(1.0f), false, &in, fit, nullptr, nullptr, nullptr);
    EXPECT_NEAR(fit[1], std::exp(-std::pow(kPi * 0.08 * 0.01 / 2, 2)), 1e-6);  // envelope set to 0.01
}

TEST_F(Ctf, MemorySlotsRoundTripThroughThePreferenceFile) {
    LC_pstate a = {-1.2345678f, 12.5f, 2.25f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f, 0.05f};
    ASSERT_EQ(ctf_memory_store(2, &a), 1);
    EXPECT_STREQ(getenv2("livec2"), " -1.235   12.5   2.25   0.07  1.084   1.57 0.8157 0.03466");
    // Saved at once.
    FILE* f = std::fopen((dir + "/.tvenv").c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buf[512] = {};
    size_t n = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    EXPECT_NE(std::string(buf, n).find("livec2\t -1.235   12.5"), std::string::npos);
    // Reloaded from the file and recalled into another record.
    clearenv2();
    openenv2();
    LC_pstate b = {};
    b.markFreq = 7;
    ASSERT_EQ(ctf_memory_recall(2, &b), 1);
    EXPECT_FLOAT_EQ(b.defocus, -1.235f);
    EXPECT_FLOAT_EQ(b.envelope, 12.5f);
    EXPECT_FLOAT_EQ(b.ampContrast, 0.07f);
    EXPECT_FLOAT_EQ(b.expDecay, 0.03466f);
    EXPECT_EQ(b.markFreq, 7.0f);  // not part of the text
    // A slot never stored gives the defaults.
    LC_pstate c = {};
    ASSERT_EQ(ctf_memory_recall(3, &c), 1);
    EXPECT_FLOAT_EQ(c.defocus, -1.568f);
    EXPECT_FLOAT_EQ(c.envelope, 1.0f);
    EXPECT_FLOAT_EQ(c.gaussAmp, 1.084f);
    EXPECT_FLOAT_EQ(c.expDecay, 0.03466f);
    // A short text leaves the unread fields as they were.
    setenv2("livec1", " -2 3");
    LC_pstate d = a;
    ASSERT_EQ(ctf_memory_recall(1, &d), 1);
    EXPECT_EQ(d.defocus, -2.0f);
    EXPECT_EQ(d.envelope, 3.0f);
    EXPECT_EQ(d.ctfScale, a.ctfScale);
    EXPECT_EQ(d.expDecay, a.expDecay);
    // Only slots 1..3.
    EXPECT_EQ(ctf_memory_store(0, &a), 0);
    EXPECT_EQ(ctf_memory_recall(4, &d), 0);
}
