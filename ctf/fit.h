// Levenberg-Marquardt least squares in the textbook 1-based form, and the logic
// of the CTF window's fit button without the window.
#pragma once

#include <cstdio>
#include <functional>

struct CtfContext;

// Fatal report: "Numerical Recipes run-time error...", the text, "...now exiting to system...", exit(1).
[[noreturn]] void nrerror(const char* text);

// Index-range allocation m[nrl..nrh][ncl..nch]; failure is fatal.
float** matrix(long nrl, long nrh, long ncl, long nch);
void free_matrix(float** m, long nrl, long nrh, long ncl, long nch);

// The model at x for parameters a[1..ma]: *y and the derivatives dyda[1..ma].
// A closure, so that a model carries its own constants.
typedef std::function<void(float x, float a[], float* y, float dyda[], int ma)> FitModel;

// Gauss-Jordan with full pivoting: a[1..n][1..n] becomes its inverse, b[1..n][1..m]
// the solutions. A singular matrix prints "gaussj: Singular Matrix-1\n" or "-2\n"
// and returns 0 with a and b partly reduced; 1 otherwise.
int gaussj(float** a, int n, float** b, int m);
// Spreads the mfit x mfit covariance to ma x ma, zero rows/columns for fixed parameters.
void covsrt(float** covar, int ma, int ia[], int mfit);
void mrqcof(float x[], float y[], float sig[], int ndata, float a[], int ia[], int ma, float** alpha, float beta[],
            float* chisq, const FitModel& funcs);
// One Levenberg-Marquardt iteration; *alamda < 0 initialises, 0 finishes (covariance, release).
void mrqmin(float x[], float y[], float sig[], int ndata, float a[], int ia[], int ma, float** covar, float** alpha,
            float* chisq, const FitModel& funcs, float* alamda);
// Releases the minimiser's work arrays (the fit driver never makes the lambda-0 call).
void mrqmin_release();

struct CtfFitResult {
    float a[8];      // fitted fields 0..7 of LC_pstate
    int first;       // the "1st used" sample
    int ndata;       // samples fitted
    int iterations;  // mrqmin calls after the initialising one
    float alamda;    // final damping factor
    float chisq;     // last accepted chi-square
};

// The fit button's logic: x[0..199] abscissae (1/Angstrom), y[0..199] the profile,
// start[8] fields 0..7, vary[8] flags, ctx the constants and scale of the model.
// Prints "fit ..." and "1st used is %d\n" (and "Infinite fit loop\n") on log
// (null: nowhere); the caller writes the result into its controls. Samples of value
// 0 are left out (their weight would be 1/0). An empty `model` means ctfbasis.
CtfFitResult ctf_fit_profile(const float* x, const float* y, const float start[8], const int vary[8],
                             const CtfContext& ctx, const FitModel& model = nullptr, FILE* log = stdout);
