// The fit button's guards: no fit without a CTF term, none that goes on past
// a singular curvature, none that leaves the profile; each leaves the start.
#include <gtest/gtest.h>
#include <stdio.h>

#include <cmath>
#include <cstdlib>
#include <string>

#include "ctf/fit.h"
#include "ctf/model.h"

namespace {

const CtfContext kCtx = ctf_context(300, 2.7f, 1.0f);
const int kVary[8] = {1, 1, 1, 0, 1, 1, 1, 1};

// The live window's abscissae for a 512-row transform at 1.8 A per pixel.
struct Abscissae {
    float x[200];
    Abscissae() {
        for (int i = 0; i < 200; i++) x[i] = i * (512 * 0.6f / 200) / (512 * 1.8f);
    }
};

struct FitRun {
    CtfFitResult r;
    std::string log;
};

FitRun fit(const float* x, const float* y, const float* start, const int* vary = kVary) {
    char* buf = nullptr;
    size_t n = 0;
    FILE* f = open_memstream(&buf, &n);
    FitRun run{ctf_fit_profile(x, y, start, vary, kCtx, nullptr, f), ""};
    fclose(f);
    run.log.assign(buf, n);
    free(buf);
    return run;
}

// The model's profile for parameters p on the abscissae x.
void modelProfile(const float* p, const float* x, float* y) {
    for (int i = 0; i < 200; i++) {
        float q[8];
        std::copy(p, p + 8, q);  // ctffn adjusts its parameters
        y[i] = ctffn(x[i], q, kCtx.lambda, kCtx.Cs, kCtx.g);
    }
}

int count(const std::string& s, const std::string& what) {
    int n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) n++;
    return n;
}

}  // namespace

TEST(FitMend, DefocusOnTheProfileAgainstTheZerosOfATextbookCtf) {
    // Without Cs the n-th zero of a defocus D (Angstrom) lies at sqrt(n / (lambda |D|)):
    // the profile shows D when the first lies in x[1]..x[199] and each of the first
    // three rings that end there spans two samples. Cs moves the low zeros by far
    // less than the 5 % margin kept from each boundary.
    Abscissae a;
    const double step = a.x[1], lambda = kCtx.lambda;
    int shown = 0, hidden = 0;
    for (double um = 0.5; um < 120; um *= 1.03) {
        const double z1 = 1 / std::sqrt(lambda * 1e4 * um);
        double margin = std::fabs(z1 / a.x[199] - 1);
        bool want = z1 >= a.x[1] && z1 <= a.x[199];
        for (int k = 1; k < 4 && std::sqrt(k + 1.0) * z1 <= a.x[199]; k++) {
            const double ring = (std::sqrt(k + 1.0) - std::sqrt((double)k)) * z1;
            want = want && ring >= 2 * step;
            margin = std::min(margin, std::fabs(ring / (2 * step) - 1));
            margin = std::min(margin, std::fabs(std::sqrt(k + 1.0) * z1 / a.x[199] - 1));
        }
        if (margin < 0.05) continue;
        EXPECT_EQ(ctf_defocus_on_profile((float)-um, a.x, kCtx), want) << um << " um";
        (want ? shown : hidden)++;
    }
    EXPECT_GT(shown, 20);
    EXPECT_GT(hidden, 10);
    // The runaway: 69.7 um on this profile; and nothing that is not a number.
    EXPECT_FALSE(ctf_defocus_on_profile(-69.7f, a.x, kCtx));
    EXPECT_TRUE(ctf_defocus_on_profile(-3.0f, a.x, kCtx));
    EXPECT_FALSE(ctf_defocus_on_profile(NAN, a.x, kCtx));
}

TEST(FitMend, NoCtfTermSingularOrOffTheProfileLeavesTheStartAndSaysWhy) {
    Abscissae a;
    // A profile made by the model at 3 um, its CTF term at scale 2.
    const float truth[8] = {-3.0f, 6.0f, 2.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
    float y[200];
    modelProfile(truth, a.x, y);
    // Scale 0 with the defocus varied: refused before any step.
    float start[8] = {-3.1f, 6.0f, 0.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
    FitRun r = fit(a.x, y, start, kVary);
    EXPECT_STREQ(r.r.refused, kFitNoCtfTerm);
    EXPECT_STREQ(kFitNoCtfTerm, "The CTF term is zero: set Scale above 0 before fitting");
    EXPECT_EQ(r.r.iterations, 0);
    EXPECT_TRUE(std::equal(start, start + 8, r.r.a));
    EXPECT_NE(r.log.find("The CTF term is zero: set Scale above 0 before fitting\n"), std::string::npos) << r.log;
    // With the defocus fixed a background fit at scale 0 is fine.
    const int backgroundOnly[8] = {0, 0, 0, 0, 1, 1, 1, 1};
    EXPECT_EQ(fit(a.x, y, start, backgroundOnly).r.refused, nullptr);
    // A gaussian of amplitude 0 whose width is varied: a zero column, singular at
    // the first step; the gaussj line once, the start kept.
    start[2] = 2.0f;
    start[4] = 0;
    const int deaf[8] = {1, 1, 1, 0, 0, 1, 1, 1};
    r = fit(a.x, y, start, deaf);
    EXPECT_STREQ(r.r.refused, kFitSingular);
    EXPECT_STREQ(kFitSingular, "The fit found no unique solution; parameters left as they were");
    EXPECT_EQ(count(r.log, "gaussj: Singular Matrix"), 1) << r.log;
    EXPECT_TRUE(std::equal(start, start + 8, r.r.a));
    // The truth 3 % past the largest defocus the profile shows, the start 3 % short
    // of it: the fit heads for the truth, leaves the profile, and is undone.
    float lo = -3, hi = -100;
    for (int i = 0; i < 60; i++) {
        const float mid = (lo + hi) / 2;
        (ctf_defocus_on_profile(mid, a.x, kCtx) ? lo : hi) = mid;
    }
    float far[8] = {lo * 1.03f, 6.0f, 2.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
    modelProfile(far, a.x, y);
    std::copy(far, far + 8, start);
    start[0] = lo * 0.97f;
    r = fit(a.x, y, start, kVary);
    EXPECT_STREQ(r.r.refused, kFitOutOfRange) << r.log;
    EXPECT_TRUE(std::equal(start, start + 8, r.r.a));
    // The same fit from a start on a profile that shows it lands on the truth.
    modelProfile(truth, a.x, y);
    start[0] = -3.1f;
    r = fit(a.x, y, start, kVary);
    EXPECT_EQ(r.r.refused, nullptr);
    EXPECT_NEAR(r.r.a[0], -3.0f, 0.003f);
}
