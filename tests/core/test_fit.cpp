// Least squares: Gauss-Jordan, Levenberg-Marquardt, the CTF fit logic and its guards.
#include <gtest/gtest.h>
#include <stdio.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "ctf/fit.h"
#include "ctf/model.h"

namespace {

const float kTruth[8] = {-1.568f, 6.0f, 2.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
const int kDefaultVary[8] = {1, 1, 1, 0, 1, 1, 1, 1}, kNone[8] = {};
const CtfContext kCtx = ctf_context(100, 5.6f, 1.0f);

// A profile made by the model itself on 200 radii of a 512-row transform at 1.37 A/pixel.
struct Profile {
    float x[200], y[200];
    Profile(float noise, unsigned seed) {
        std::mt19937 gen(seed);
        std::normal_distribution<float> g(0.0f, 1.0f);
        for (int i = 0; i < 200; i++) {
            float p[8];
            std::copy(kTruth, kTruth + 8, p);
            x[i] = i / 700.0f;
            y[i] = ctffn(x[i], p, kCtx.lambda, kCtx.Cs, kCtx.g) * (1 + noise * g(gen));
        }
    }
};

// The fit with its printed lines in *log.
CtfFitResult fit(const float* x, const float* y, const float* start, const int* vary, std::string* log = nullptr,
                 const FitModel& model = nullptr, const CtfContext& ctx = kCtx) {
    char* buf = nullptr;
    size_t n = 0;
    FILE* f = open_memstream(&buf, &n);
    CtfFitResult r = ctf_fit_profile(x, y, start, vary, ctx, model, f);
    fclose(f);
    if (log) *log = std::string(buf, n);
    free(buf);
    return r;
}

}  // namespace

TEST(Fit, RecoversTheDefocusFromTenPercentOff) {
    for (unsigned seed = 1; seed <= 20; seed++) {
        Profile P(0.05f, seed);
        float start[8] = {kTruth[0] * 1.1f, 6.0f, 2.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
        CtfFitResult r = fit(P.x, P.y, start, kDefaultVary);
        EXPECT_NEAR(r.a[0], kTruth[0], 0.005 * std::fabs(kTruth[0])) << "seed " << seed;
        EXPECT_EQ(r.a[3], kTruth[3]);  // not varied
    }
}

TEST(Fit, PrintsTheStartReleasesItsWorkAndChiCountsFrom15) {
    Profile P(0.0f, 1);
    float start[8] = {-1.5f, 6, 2, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
    // The model is evaluated with the context's scale: the profile's own g fits exactly, another does not.
    CtfContext other = kCtx;
    other.g = 1.5f;
    EXPECT_LT(fit(P.x, P.y, kTruth, kNone).chisq, 1e-6f);
    EXPECT_GT(fit(P.x, P.y, kTruth, kNone, nullptr, nullptr, other).chisq, 1.0f);
    // With no fit in progress a further step has nothing to work with and changes nothing.
    float a[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    int ia[9] = {0, 1, 1, 1, 1, 1, 1, 1, 1};
    float chisq = -5, lam = 0.5f;
    MrqWork fresh;
    EXPECT_EQ(mrqmin(fresh, P.x, P.y, P.y, 100, a, ia, 8, nullptr, nullptr, &chisq, nullptr, &lam), FIT_NOT_STARTED);
    EXPECT_EQ(chisq, -5.0f);
    EXPECT_EQ(lam, 0.5f);
    for (int i = 1; i <= 8; i++) EXPECT_EQ(a[i], (float)i);
    float f[200];
    std::copy(P.y, P.y + 200, f);
    f[14] += 100;
    EXPECT_EQ(ctf_chi(f, P.y), 0.0f);
    f[15] += 3;
    f[199] -= 4;
    EXPECT_NEAR(ctf_chi(f, P.y), 5.0f, 1e-3);
    // Samples 1..9 all below the largest of 10..24: fitted from sample 2. Two samples of 0 are
    // left out instead of weighted 1/0.
    for (int i = 1; i <= 9; i++) P.y[i] = 0.01f;
    P.y[50] = P.y[120] = 0;
    std::string log;
    CtfFitResult r = fit(P.x, P.y, start, kNone, &log);
    EXPECT_EQ(log,
              "fit -1.500000 6.000000 2.000000 0.070000 1.084000 1.570000 0.815700 0.034660\n"
              "1st used is 1\n");
    EXPECT_EQ(r.ndata, 196);
    EXPECT_TRUE(std::isfinite(r.chisq));
    // A low-frequency sample above that maximum moves the window past it.
    P.y[5] = 1e6f;
    P.y[3] = 2e6f;
    r = fit(P.x, P.y, start, kNone, &log);
    EXPECT_NE(log.find("1st used is 6\n"), std::string::npos);
    EXPECT_EQ(r.first, 6);
    EXPECT_EQ(r.ndata, 191);
}

TEST(Fit, NothingVariedRaisesLambdaTenfoldUntil1e10AndClampsEachStep) {
    Profile P(0.05f, 6);
    float start[8] = {-1.4f, 60, -0.5f, -0.2f, -1, -1.57f, -0.3f, -0.03f};
    CtfFitResult r = fit(P.x, P.y, start, kNone);
    EXPECT_GE(r.alamda, 1e10f);
    EXPECT_EQ(r.a[0], -1.4f);
    EXPECT_EQ(r.a[1], 10.0f);  // an envelope above 50 restarts at 10
    for (int i : {2, 3, 4, 6}) EXPECT_EQ(r.a[i], 0.0f) << i;
    // gaussWidth and expDecay are made positive by the model, not clamped.
    EXPECT_EQ(r.a[5], 1.57f);
    EXPECT_EQ(r.a[7], 0.03f);
}

namespace {
// y = a1 exp(-a2 x): a nonlinear model whose first Gauss-Newton steps all succeed.
void expModel(float x, float a[], float* y, float dyda[], int ma) {
    float e = std::exp(-a[2] * x);
    *y = a[1] * e;
    for (int i = 1; i <= ma; i++) dyda[i] = 0;
    dyda[1] = e;
    dyda[2] = -a[1] * x * e;
}

// Chi-square that alternates between better and worse from step to step.
int evalCount = 0;
void seesawModel(float, float a[], float* y, float dyda[], int ma) {
    int eval = evalCount++ / 198;
    float resid = eval == 0 ? 3.0f : (eval % 2) ? 1.0f / (float)(eval + 1) : 10.0f;
    *y = 10.0f - resid;
    for (int i = 1; i <= ma; i++) dyda[i] = 0;
    dyda[1] = 1;
}
}  // namespace

TEST(Fit, SuccessesEndAtLambda1e6AndAnEndlessFitAfter100Steps) {
    float x[200], y[200];
    for (int i = 0; i < 200; i++) {
        x[i] = i / 50.0f;
        y[i] = 5.0f * std::exp(-0.3f * x[i]);
    }
    const int vary[8] = {1, 1, 0, 0, 0, 0, 0, 0};
    float start[8] = {4, 0.25f, 0, 0, 0, 0, 0, 0};
    CtfFitResult r = fit(x, y, start, vary, nullptr, expModel);
    EXPECT_LE(r.alamda, 1e-6f);
    EXPECT_NEAR(r.a[0], 5.0f, 0.05f);
    EXPECT_NEAR(r.a[1], 0.3f, 0.01f);
    for (int i = 0; i < 200; i++) y[i] = 10.0f;
    evalCount = 0;
    std::string log;
    const int one[8] = {1};
    r = fit(x, y, start, one, &log, seesawModel);
    EXPECT_EQ(r.ndata, 198);
    EXPECT_NE(log.find("Infinite fit loop\n"), std::string::npos);
}

namespace {
void constantModel(float, float a[], float* y, float dyda[], int ma) {
    *y = a[1];
    dyda[1] = 1;
}
}  // namespace

// Each point weighs 1 / sigma^2: a constant fitted to points of different sigma is their weighted
// mean, and the fit button's chi-square is that of a relative error of 10 %.
TEST(LeastSquares, WeightsAreOneOverSigmaSquared) {
    float x[8] = {}, y[8] = {0, 1, 2, 4, 8, 3, 5, 7}, sig[8] = {0, 0.5f, 1, 2, 4, 1.5f, 0.25f, 3};
    double sw = 0, swy = 0;
    for (int i = 1; i <= 7; i++) sw += 1.0 / (sig[i] * sig[i]), swy += y[i] / (sig[i] * sig[i]);
    float a[2] = {0, 10}, chisq = 0, lam = -1;
    int ia[2] = {0, 1};
    FitMatrix covar(1, 1), alpha(1, 1);
    MrqWork w;
    for (int i = 0; i < 8; i++)
        ASSERT_EQ(mrqmin(w, x, y, sig, 7, a, ia, 1, covar.rows(), alpha.rows(), &chisq, constantModel, &lam), FIT_OK);
    EXPECT_NEAR(a[1], swy / sw, 1e-5);
    double chi = 0;
    for (int i = 1; i <= 7; i++) chi += std::pow((y[i] - swy / sw) / sig[i], 2);
    EXPECT_NEAR(chisq, chi, 1e-4 * chi);
    // The fit button with nothing varied: chi-square at the start over samples first+1..199, sigma y / 10.
    float px[200], py[200];
    for (int i = 0; i < 200; i++) px[i] = i / 50.0f, py[i] = 5.0f * std::exp(-0.3f * px[i]) + 0.1f * (i % 3);
    const float start[8] = {4.5f, 0.28f};
    CtfFitResult r = fit(px, py, start, kNone, nullptr, expModel);
    chi = 0;
    for (int i = r.first + 1; i <= 199; i++) chi += std::pow((py[i] - 4.5 * std::exp(-0.28 * px[i])) / (py[i] / 10), 2);
    EXPECT_NEAR(r.chisq, chi, 1e-4 * chi);
}

TEST(LeastSquares, GaussJordanSolvesAndReportsSingularity) {
    FitMatrix a(2, 2), b(2, 1);
    // Rank one (the second pivot is 0); NaN curvature (no usable pivot at all); x + 3y = 10, 2x + y = 5
    // (x = 1, y = 3, the first pivot off the diagonal).
    const float m[3][4] = {{1, 2, 2, 4}, {NAN, NAN, NAN, NAN}, {1, 3, 2, 1}};
    const FitStatus want[3] = {FIT_SINGULAR2, FIT_SINGULAR1, FIT_OK};
    for (int c = 0; c < 3; c++) {
        a[1][1] = m[c][0], a[1][2] = m[c][1], a[2][1] = m[c][2], a[2][2] = m[c][3];
        b[1][1] = 10, b[2][1] = 5;
        testing::internal::CaptureStdout();
        EXPECT_EQ(gaussj(a.rows(), 2, b.rows(), 1), want[c]) << c;
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    EXPECT_NEAR(b[1][1], 1, 1e-5);
    EXPECT_NEAR(b[2][1], 3, 1e-5);
    EXPECT_STREQ(fit_status_text(FIT_SINGULAR1), "gaussj: Singular Matrix-1");
    EXPECT_STREQ(fit_status_text(FIT_SINGULAR2), "gaussj: Singular Matrix-2");
}

namespace {
// y = a1 + 0 a2: the second parameter has no effect, so varying it makes the curvature singular.
void deafModel(float, float a[], float* y, float dyda[], int ma) {
    *y = a[1];
    for (int i = 1; i <= ma; i++) dyda[i] = 0;
    dyda[1] = 1;
}
}  // namespace

TEST(LeastSquares, ASingularStepIsReportedAndNotTaken) {
    float x[201], y[201], sig[201];
    for (int i = 0; i <= 200; i++) x[i] = (float)i, y[i] = 3, sig[i] = 1;
    float a[3] = {0, 1, 7};
    int ia[3] = {0, 1, 1};
    FitMatrix covar(2, 2), alpha(2, 2);
    MrqWork w;
    float chisq = 0, lam = -1;
    testing::internal::CaptureStdout();
    EXPECT_EQ(mrqmin(w, x, y, sig, 200, a, ia, 2, covar.rows(), alpha.rows(), &chisq, deafModel, &lam), FIT_SINGULAR2);
    EXPECT_EQ(mrqmin(w, x, y, sig, 200, a, ia, 2, covar.rows(), alpha.rows(), &chisq, deafModel, &lam), FIT_SINGULAR2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(a[1], 1.0f);
    EXPECT_EQ(a[2], 7.0f);
    EXPECT_FLOAT_EQ(chisq, 200 * 4.0f);
    EXPECT_FLOAT_EQ(lam, 0.1f);  // 0.001 x 10 x 10
    // With a model of its own the fit driver goes on past a singular step, says so on its log and in the result.
    float px[200], py[200];
    for (int i = 0; i < 200; i++) px[i] = (float)i, py[i] = 3;
    const float start[8] = {1, 7};
    const int vary[8] = {1, 1};
    std::string log;
    CtfFitResult r = fit(px, py, start, vary, &log, deafModel);
    EXPECT_EQ(r.status, FIT_SINGULAR2);
    EXPECT_GT(r.singular, 0);
    EXPECT_NE(log.find("gaussj: Singular Matrix-2\n"), std::string::npos);
    EXPECT_EQ(r.a[0], 1.0f);
    EXPECT_EQ(r.a[1], 7.0f);
}

// ---- the fit button's guards: no fit without a CTF term, none that goes on past
// a singular curvature, none that leaves the profile; each leaves the start.

namespace {

const CtfContext k300 = ctf_context(300, 2.7f, 1.0f);

// The live window's abscissae for a 512-row transform at 1.8 A per pixel.
struct Abscissae {
    float x[200];
    Abscissae() {
        for (int i = 0; i < 200; i++) x[i] = i * (512 * 0.6f / 200) / (512 * 1.8f);
    }
};

// The model's profile for parameters p on the abscissae x.
void modelProfile(const float* p, const float* x, float* y) {
    for (int i = 0; i < 200; i++) {
        float q[8];
        std::copy(p, p + 8, q);  // ctffn adjusts its parameters
        y[i] = ctffn(x[i], q, k300.lambda, k300.Cs, k300.g);
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
    const double step = a.x[1], lambda = k300.lambda;
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
        EXPECT_EQ(ctf_defocus_on_profile((float)-um, a.x, k300), want) << um << " um";
        (want ? shown : hidden)++;
    }
    EXPECT_GT(shown, 20);
    EXPECT_GT(hidden, 10);
    // The runaway: 69.7 um on this profile; and nothing that is not a number.
    EXPECT_FALSE(ctf_defocus_on_profile(-69.7f, a.x, k300));
    EXPECT_TRUE(ctf_defocus_on_profile(-3.0f, a.x, k300));
    EXPECT_FALSE(ctf_defocus_on_profile(NAN, a.x, k300));
}

TEST(FitMend, NoCtfTermSingularOrOffTheProfileLeavesTheStartAndSaysWhy) {
    Abscissae a;
    // A profile made by the model at 3 um, its CTF term at scale 2.
    const float truth[8] = {-3.0f, 6.0f, 2.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
    float y[200];
    modelProfile(truth, a.x, y);
    // Scale 0 with the defocus varied: refused before any step.
    float start[8] = {-3.1f, 6.0f, 0.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
    std::string log;
    CtfFitResult r = fit(a.x, y, start, kDefaultVary, &log, nullptr, k300);
    EXPECT_STREQ(r.refused, kFitNoCtfTerm);
    EXPECT_STREQ(kFitNoCtfTerm, "The CTF term is zero: set Scale above 0 before fitting");
    EXPECT_EQ(r.iterations, 0);
    EXPECT_TRUE(std::equal(start, start + 8, r.a));
    EXPECT_NE(log.find("The CTF term is zero: set Scale above 0 before fitting\n"), std::string::npos) << log;
    // With the defocus fixed a background fit at scale 0 is fine.
    const int backgroundOnly[8] = {0, 0, 0, 0, 1, 1, 1, 1};
    EXPECT_EQ(fit(a.x, y, start, backgroundOnly, nullptr, nullptr, k300).refused, nullptr);
    // A gaussian of amplitude 0 whose width is varied: a zero column, singular at
    // the first step; the gaussj line once, the start kept.
    start[2] = 2.0f;
    start[4] = 0;
    const int deaf[8] = {1, 1, 1, 0, 0, 1, 1, 1};
    r = fit(a.x, y, start, deaf, &log, nullptr, k300);
    EXPECT_STREQ(r.refused, kFitSingular);
    EXPECT_STREQ(kFitSingular, "The fit found no unique solution; parameters left as they were");
    EXPECT_EQ(count(log, "gaussj: Singular Matrix"), 1) << log;
    EXPECT_TRUE(std::equal(start, start + 8, r.a));
    // The truth 3 % past the largest defocus the profile shows, the start 3 % short
    // of it: the fit heads for the truth, leaves the profile, and is undone.
    float lo = -3, hi = -100;
    for (int i = 0; i < 60; i++) {
        const float mid = (lo + hi) / 2;
        (ctf_defocus_on_profile(mid, a.x, k300) ? lo : hi) = mid;
    }
    float far[8] = {lo * 1.03f, 6.0f, 2.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
    modelProfile(far, a.x, y);
    std::copy(far, far + 8, start);
    start[0] = lo * 0.97f;
    r = fit(a.x, y, start, kDefaultVary, &log, nullptr, k300);
    EXPECT_STREQ(r.refused, kFitOutOfRange) << log;
    EXPECT_TRUE(std::equal(start, start + 8, r.a));
    // The same fit from a start on a profile that shows it lands on the truth.
    modelProfile(truth, a.x, y);
    start[0] = -3.1f;
    r = fit(a.x, y, start, kDefaultVary, &log, nullptr, k300);
    EXPECT_EQ(r.refused, nullptr);
    EXPECT_NEAR(r.a[0], -3.0f, 0.003f);
}
