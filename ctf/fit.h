// Levenberg-Marquardt least squares in the textbook 1-based form, and the logic
// of the CTF window's fit button without the window.
#pragma once

#include <cstdio>
#include <functional>

struct CtfContext;

// Fatal report: "Numerical Recipes run-time error...", the text, "...now exiting to system...", exit(1).
[[noreturn]] void nrerror(const char* text);

// Index-range allocations (a[nl..nh], m[nrl..nrh][ncl..nch]); failure is fatal.
float* vector(long nl, long nh);
int* ivector(long nl, long nh);
unsigned char* cvector(long nl, long nh);
unsigned long* lvector(long nl, long nh);
double* dvector(long nl, long nh);
float** matrix(long nrl, long nrh, long ncl, long nch);
double** dmatrix(long nrl, long nrh, long ncl, long nch);
int** imatrix(long nrl, long nrh, long ncl, long nch);
// View of a[oldrl..oldrh][oldcl..oldch] indexed from newrl, newcl (no copy).
float** submatrix(float** a, long oldrl, long oldrh, long oldcl, long oldch, long newrl, long newcl);
// Row pointers over a contiguous block a[0 .. (nrh-nrl+1)*(nch-ncl+1)-1].
float** convert_matrix(float* a, long nrl, long nrh, long ncl, long nch);
float*** f3tensor(long nrl, long nrh, long ncl, long nch, long ndl, long ndh);
void free_vector(float* v, long nl, long nh);
void free_ivector(int* v, long nl, long nh);
void free_cvector(unsigned char* v, long nl, long nh);
void free_lvector(unsigned long* v, long nl, long nh);
void free_dvector(double* v, long nl, long nh);
void free_matrix(float** m, long nrl, long nrh, long ncl, long nch);
void free_dmatrix(double** m, long nrl, long nrh, long ncl, long nch);
void free_imatrix(int** m, long nrl, long nrh, long ncl, long nch);
void free_submatrix(float** b, long nrl, long nrh, long ncl, long nch);
void free_convert_matrix(float** b, long nrl, long nrh, long ncl, long nch);
void free_f3tensor(float*** t, long nrl, long nrh, long ncl, long nch, long ndl, long ndh);

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
