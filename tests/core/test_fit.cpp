// Least squares: allocation routines, Gauss-Jordan, Levenberg-Marquardt and the CTF fit logic.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/prefs.h"
#include "ctf/fit.h"
#include "ctf/model.h"

namespace {

class Fit : public testing::Test {
protected:
    void SetUp() override { clearenv2(); }
    void TearDown() override { clearenv2(); }
};

const float kTruth[8] = {-1.568f, 6.0f, 2.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
const int kDefaultVary[8] = {1, 1, 1, 0, 1, 1, 1, 1};

// A profile made by the model itself on 200 radii of a 512-row transform at 1.37 A/pixel.
const CtfContext kCtx = ctf_context(100, 5.6f, 1.0f);

void syntheticProfile(float* x, float* y, float noise, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (int i = 0; i < 200; i++) {
        x[i] = i / 700.0f;
        float p[8];
        std::copy(kTruth, kTruth + 8, p);
        y[i] = ctffn(x[i], p, kCtx.lambda, kCtx.Cs, kCtx.g) * (1 + noise * g(gen));
    }
}

}  // namespace

TEST_F(Fit, RecoversTheDefocusFromTenPercentOff) {
    float x[200], y[200];
    for (unsigned seed = 1; seed <= 20; seed++) {
        syntheticProfile(x, y, 0.05f, seed);
        float start[8];
        std::copy(kTruth, kTruth + 8, start);
        start[0] = kTruth[0] * 1.1f;
        testing::internal::CaptureStdout();
        CtfFitResult r = ctf_fit_profile(x, y, start, kDefaultVary, kCtx);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NEAR(r.a[0], kTruth[0], 0.005 * std::fabs(kTruth[0])) << "seed " << seed << " got " << r.a[0];
        EXPECT_EQ(out.substr(0, 4), "fit ");
        // Fitted parameters obey the clamps and the model's absolute values.
        EXPECT_GE(r.a[1], 0.0f);
        EXPECT_LE(r.a[1], 50.0f);
        for (int i : {2, 4, 5, 6, 7}) EXPECT_GE(r.a[i], 0.0f) << i;
        EXPECT_EQ(r.a[3], kTruth[3]);  // not varied
    }
}

TEST_F(Fit, WorkArraysAreReleasedAfterEachFit) {
    float x[200], y[200];
    syntheticProfile(x, y, 0.05f, 9);
    testing::internal::CaptureStdout();
    ctf_fit_profile(x, y, kTruth, kDefaultVary, kCtx);
    testing::internal::GetCapturedStdout();
    // With no fit in progress a further step has nothing to work with and changes nothing.
    float a[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    int ia[9] = {0, 1, 1, 1, 1, 1, 1, 1, 1};
    float** covar = matrix(1, 8, 1, 8);
    float** alpha = matrix(1, 8, 1, 8);
    float chisq = -5, lam = 0.5f;
    FitModel basis = [](float s, float aa[], float* yy, float dyda[], int na) { ctfbasis(s, aa, yy, dyda, na, kCtx); };
    mrqmin(x, y, y, 100, a, ia, 8, covar, alpha, &chisq, basis, &lam);
    EXPECT_EQ(chisq, -5.0f);
    EXPECT_EQ(lam, 0.5f);
    for (int i = 1; i <= 8; i++) EXPECT_EQ(a[i], (float)i);
    free_matrix(covar, 1, 8, 1, 8);
    free_matrix(alpha, 1, 8, 1, 8);
    // The chi figure of a perfect model over samples 15..199 is 0, and counts nothing below 15.
    float fit[200];
    std::copy(y, y + 200, fit);
    fit[3] += 100;
    EXPECT_EQ(ctf_chi(fit, y), 0.0f);
    fit[20] += 3;
    fit[21] -= 4;
    EXPECT_NEAR(ctf_chi(fit, y), 5.0f, 1e-3);
}

TEST_F(Fit, PrintsTheStartAndTheFirstSampleUsed) {
    float x[200], y[200];
    syntheticProfile(x, y, 0.0f, 1);
    const int none[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    float start[8] = {-1.5f, 6, 2, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
    // The model is evaluated with the context's scale: the profile's own g fits exactly, another does not.
    CtfContext other = kCtx;
    other.g = 1.5f;
    testing::internal::CaptureStdout();
    EXPECT_LT(ctf_fit_profile(x, y, kTruth, none, kCtx, nullptr, nullptr).chisq, 1e-6f);
    EXPECT_GT(ctf_fit_profile(x, y, kTruth, none, other, nullptr, nullptr).chisq, 1.0f);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // no log
    // Samples 1..9 all below the largest of 10..24: fitted from sample 2.
    for (int i = 1; i <= 9; i++) y[i] = 0.01f;
    testing::internal::CaptureStdout();
    CtfFitResult r = ctf_fit_profile(x, y, start, none, kCtx);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "fit -1.500000 6.000000 2.000000 0.070000 1.084000 1.570000 0.815700 0.034660\n"
              "1st used is 1\n");
    EXPECT_EQ(r.first, 1);
    EXPECT_EQ(r.ndata, 198);
    // A low-frequency sample above that maximum moves the window past it.
    y[5] = 1e6f;
    y[3] = 2e6f;
    testing::internal::CaptureStdout();
    r = ctf_fit_profile(x, y, start, none, kCtx);
    out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("1st used is 6\n"), std::string::npos);
    EXPECT_EQ(r.ndata, 193);
}

TEST_F(Fit, ZeroSamplesAreLeftOutInsteadOfWeightedOneOverZero) {
    float x[200], y[200];
    syntheticProfile(x, y, 0.02f, 4);
    y[50] = 0;
    y[120] = 0;
    float start[8];
    std::copy(kTruth, kTruth + 8, start);
    start[0] *= 1.05f;
    testing::internal::CaptureStdout();
    CtfFitResult r = ctf_fit_profile(x, y, start, kDefaultVary, kCtx);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.ndata, 199 - r.first - 2);
    EXPECT_TRUE(std::isfinite(r.chisq));
    for (float v : r.a) EXPECT_TRUE(std::isfinite(v));
    EXPECT_NEAR(r.a[0], kTruth[0], 0.01 * std::fabs(kTruth[0]));
}

TEST_F(Fit, NothingVariedRaisesLambdaTenfoldUntil1e10) {
    float x[200], y[200];
    syntheticProfile(x, y, 0.05f, 5);
    const int none[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    float start[8] = {-1.4f, 7, 1.5f, 0.1f, 1, 1.5f, 0.8f, 0.03f};
    testing::internal::CaptureStdout();
    CtfFitResult r = ctf_fit_profile(x, y, start, none, kCtx);
    testing::internal::GetCapturedStdout();
    for (int i = 0; i < 8; i++) EXPECT_EQ(r.a[i], start[i]);
    // 0.001 x 10 on the first call, then x 10 per loop step until lambda reaches 1e10.
    float lam = 0.001f * 10.0f;
    int steps = 0;
    while (1e-6f < lam && lam < 1e10f) {
        lam *= 10.0f;
        steps++;
    }
    EXPECT_EQ(r.iterations, steps);
    EXPECT_GE(steps, 12);
    EXPECT_EQ(r.alamda, lam);
    EXPECT_GE(r.alamda, 1e10f);
}

TEST_F(Fit, ClampsApplyAfterEachStep) {
    float x[200], y[200];
    syntheticProfile(x, y, 0.05f, 6);
    const int none[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    float start[8] = {-1.568f, 60, -0.5f, -0.2f, -1, -1.57f, -0.3f, -0.03f};
    testing::internal::CaptureStdout();
    CtfFitResult r = ctf_fit_profile(x, y, start, none, kCtx);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r.a[1], 10.0f);  // an envelope above 50 restarts at 10
    EXPECT_EQ(r.a[2], 0.0f);   // ctfScale
    EXPECT_EQ(r.a[3], 0.0f);   // ampContrast
    EXPECT_EQ(r.a[4], 0.0f);   // gaussAmp
    EXPECT_EQ(r.a[6], 0.0f);   // expScale
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
void seesawModel(float x, float a[], float* y, float dyda[], int ma) {
    int eval = evalCount++ / 198;
    // Trial steps (odd evaluations after the first) improve, the next one worsens.
    float resid = eval == 0 ? 3.0f : (eval % 2) ? 1.0f / (float)(eval + 1) : 10.0f;
    *y = 10.0f - resid;
    for (int i = 1; i <= ma; i++) dyda[i] = 0;
    dyda[1] = 1;
}
}  // namespace

TEST_F(Fit, ConsecutiveSuccessesEndTheFitAtLambda1e6) {
    float x[200], y[200];
    for (int i = 0; i < 200; i++) {
        x[i] = i / 50.0f;
        y[i] = 5.0f * std::exp(-0.3f * x[i]);
    }
    const int vary[8] = {1, 1, 0, 0, 0, 0, 0, 0};
    float start[8] = {4, 0.25f, 0, 0, 0, 0, 0, 0};
    testing::internal::CaptureStdout();
    CtfFitResult r = ctf_fit_profile(x, y, start, vary, kCtx, expModel);
    testing::internal::GetCapturedStdout();
    // Initial call: 1e-3 -> 1e-4; two loop steps: -> 1e-6, which ends the loop.
    EXPECT_EQ(r.iterations, 2 + (0.001f * 0.1f * 0.1f * 0.1f > 1e-6f ? 1 : 0));
    EXPECT_LE(r.alamda, 1e-6f);
    EXPECT_NEAR(r.a[0], 5.0f, 0.05f);
    EXPECT_NEAR(r.a[1], 0.3f, 0.01f);
}

TEST_F(Fit, HundredIterationsEndAnEndlessFit) {
    float x[200], y[200];
    for (int i = 0; i < 200; i++) {
        x[i] = (float)i;
        y[i] = 10.0f;
    }
    const int vary[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    float start[8] = {1, 1, 1, 0, 1, 1, 1, 1};
    evalCount = 0;
    testing::internal::CaptureStdout();
    CtfFitResult r = ctf_fit_profile(x, y, start, vary, kCtx, seesawModel);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(r.ndata, 198);
    EXPECT_EQ(r.iterations, 101);
    EXPECT_NE(out.find("Infinite fit loop\n"), std::string::npos);
}

TEST(LeastSquares, AllocationRoutinesIndexFromTheirLowerBounds) {
    float* v = vector(1, 5);
    for (int i = 1; i <= 5; i++) v[i] = (float)i;
    EXPECT_EQ(v[5], 5.0f);
    free_vector(v, 1, 5);
    double* dv = dvector(-2, 2);
    dv[-2] = 1;
    dv[2] = 2;
    EXPECT_EQ(dv[-2] + dv[2], 3.0);
    free_dvector(dv, -2, 2);
    float** m = matrix(1, 3, 1, 4);
    for (int i = 1; i <= 3; i++)
        for (int j = 1; j <= 4; j++) m[i][j] = (float)(10 * i + j);
    EXPECT_EQ(&m[2][1], &m[1][4] + 1);  // one contiguous block
    float** sub = submatrix(m, 2, 3, 2, 4, 1, 1);
    EXPECT_EQ(sub[1][1], 22.0f);
    EXPECT_EQ(sub[2][3], 34.0f);
    free_submatrix(sub, 1, 2, 1, 3);
    free_matrix(m, 1, 3, 1, 4);
    float block[6] = {1, 2, 3, 4, 5, 6};
    float** cm = convert_matrix(block, 1, 2, 1, 3);
    EXPECT_EQ(cm[2][1], 4.0f);
    free_convert_matrix(cm, 1, 2, 1, 3);
    float*** t = f3tensor(1, 2, 1, 3, 1, 4);
    for (int i = 1; i <= 2; i++)
        for (int j = 1; j <= 3; j++)
            for (int k = 1; k <= 4; k++) t[i][j][k] = (float)(100 * i + 10 * j + k);
    EXPECT_EQ(t[2][3][4], 234.0f);
    EXPECT_EQ(t[1][1][1], 111.0f);
    EXPECT_EQ(&t[2][1][1], &t[1][3][4] + 1);
    free_f3tensor(t, 1, 2, 1, 3, 1, 4);
    int** im = imatrix(1, 0, 1, 1);  // empty, as for a fit with nothing varied
    free_imatrix(im, 1, 0, 1, 1);
}

TEST(LeastSquaresDeathTest, FailuresEndTheProgramWithTheRoutineText) {
    EXPECT_EXIT(nrerror("allocation failure in vector()"), testing::ExitedWithCode(1),
                "Numerical Recipes run-time error...\nallocation failure in vector\\(\\)\n...now exiting to system...");
    EXPECT_EXIT(vector(1, -5), testing::ExitedWithCode(1), "allocation failure in vector");
}

TEST(LeastSquares, GaussJordanInvertsAndSolves) {
    float** a = matrix(1, 3, 1, 3);
    float** b = matrix(1, 3, 1, 1);
    const float A[3][3] = {{2, 1, -1}, {-3, -1, 2}, {-2, 1, 2}};
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) a[i + 1][j + 1] = A[i][j];
    b[1][1] = 8;
    b[2][1] = -11;
    b[3][1] = -3;
    EXPECT_EQ(gaussj(a, 3, b, 1), 1);
    EXPECT_NEAR(b[1][1], 2, 1e-5);
    EXPECT_NEAR(b[2][1], 3, 1e-5);
    EXPECT_NEAR(b[3][1], -1, 1e-5);
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) {
            double s = 0;
            for (int k = 0; k < 3; k++) s += A[i][k] * a[k + 1][j + 1];
            EXPECT_NEAR(s, i == j ? 1.0 : 0.0, 1e-5);
        }
    // Rank one: the second pivot is 0.
    a[1][1] = 1, a[1][2] = 2, a[2][1] = 2, a[2][2] = 4;
    testing::internal::CaptureStdout();
    EXPECT_EQ(gaussj(a, 2, b, 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "gaussj: Singular Matrix-2\n");
    // No usable pivot at all (NaN curvature) is refused without touching row 0.
    a[1][1] = a[1][2] = a[2][1] = a[2][2] = NAN;
    testing::internal::CaptureStdout();
    EXPECT_EQ(gaussj(a, 2, b, 1), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "gaussj: Singular Matrix-1\n");
    free_matrix(a, 1, 3, 1, 3);
    free_matrix(b, 1, 3, 1, 1);
}

TEST(LeastSquares, CovsrtSpreadsToTheFullParameterSet) {
    float** c = matrix(1, 3, 1, 3);
    c[1][1] = 1, c[1][2] = 2, c[2][1] = 2, c[2][2] = 3;
    c[1][3] = c[3][1] = c[2][3] = c[3][2] = c[3][3] = 99;
    int ia[4] = {0, 1, 0, 1};
    covsrt(c, 3, ia, 2);
    EXPECT_EQ(c[1][1], 1.0f);
    EXPECT_EQ(c[1][3], 2.0f);
    EXPECT_EQ(c[3][1], 2.0f);
    EXPECT_EQ(c[3][3], 3.0f);
    for (int i = 1; i <= 3; i++) {
        EXPECT_EQ(c[2][i], 0.0f);
        EXPECT_EQ(c[i][2], 0.0f);
    }
    free_matrix(c, 1, 3, 1, 3);
}

TEST(LeastSquares, MrqminFitsALineAndFinishesWithLambdaZero) {
    float x[11], y[11], sig[11];
    for (int i = 1; i <= 10; i++) {
        x[i] = (float)i;
        y[i] = 3.0f + 0.5f * i;
        sig[i] = 1;
    }
    auto line = [](float xx, float a[], float* yy, float dyda[], int) {
        *yy = a[1] + a[2] * xx;
        dyda[1] = 1;
        dyda[2] = xx;
    };
    float a[3] = {0, 1, 1};
    int ia[3] = {0, 1, 1};
    float** covar = matrix(1, 2, 1, 2);
    float** alpha = matrix(1, 2, 1, 2);
    float chisq, lam = -1;
    for (int k = 0; k < 5; k++) mrqmin(x, y, sig, 10, a, ia, 2, covar, alpha, &chisq, line, &lam);
    EXPECT_NEAR(a[1], 3.0f, 1e-3);
    EXPECT_NEAR(a[2], 0.5f, 1e-4);
    lam = 0;
    mrqmin(x, y, sig, 10, a, ia, 2, covar, alpha, &chisq, line, &lam);
    // The covariance of a straight-line fit with unit errors: Var(b) = 1 / sum (x - mean)^2 = 1/82.5.
    EXPECT_NEAR(covar[2][2], 1 / 82.5, 1e-4);
    free_matrix(covar, 1, 2, 1, 2);
    free_matrix(alpha, 1, 2, 1, 2);
}
