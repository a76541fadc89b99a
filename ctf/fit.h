// Levenberg-Marquardt least squares in the textbook 1-based form, and the logic
// of the CTF window's fit button without the window.
#pragma once

#include <cstdio>
#include <functional>
#include <vector>

struct CtfContext;

// What a step of the fit met. The routines print nothing; fit_status_text gives the words.
enum FitStatus {
    FIT_OK = 0,
    FIT_SINGULAR1,    // a column was chosen as pivot twice ("gaussj: Singular Matrix-1")
    FIT_SINGULAR2,    // a zero pivot ("gaussj: Singular Matrix-2")
    FIT_NOT_STARTED,  // mrqmin with *alamda >= 0 and no initialising call before on this work area
};
const char* fit_status_text(FitStatus s);

// An n x m matrix indexed [1..n][1..m], the form the routines below take.
class FitMatrix {
public:
    FitMatrix(int n, int m);
    float** rows() { return rows_.data(); }
    float* operator[](int i) { return rows_[(size_t)i]; }

private:
    std::vector<float> block_;
    std::vector<float*> rows_;
};

// The model at x for parameters a[1..ma]: *y and the derivatives dyda[1..ma].
// A closure, so that a model carries its own constants.
typedef std::function<void(float x, float a[], float* y, float dyda[], int ma)> FitModel;

// Gauss-Jordan with full pivoting: a[1..n][1..n] becomes its inverse, b[1..n][1..m]
// the solutions. A singular matrix returns FIT_SINGULAR1 or FIT_SINGULAR2 with a and
// b partly reduced.
FitStatus gaussj(float** a, int n, float** b, int m);
// Spreads the mfit x mfit covariance to ma x ma, zero rows/columns for fixed parameters.
void covsrt(float** covar, int ma, int ia[], int mfit);
void mrqcof(float x[], float y[], float sig[], int ndata, float a[], int ia[], int ma, float** alpha, float beta[],
            float* chisq, const FitModel& funcs);

// What mrqmin keeps from one call to the next: one per fit, owned by the caller, so
// that fits in different threads share nothing. An initialising call (*alamda < 0)
// sets it up again; it needs no closing call.
struct MrqWork {
    int ma = 0, mfit = 0;
    std::vector<float> atry, beta, da;
    std::vector<float> oneda;  // the one-column right-hand side, oneda[j] = row j
    float ochisq = 0;
};

// One Levenberg-Marquardt iteration on the work area w; *alamda < 0 initialises (and
// makes the first step), 0 finishes (covariance into covar and alpha).
// Returns FIT_OK for a step tried, whether it lowered chi-square (a, alpha and *chisq
// take the step, *alamda x 0.1) or not (a unchanged, *chisq the last accepted value,
// *alamda x 10). On a singular curvature matrix no step is tried: a stays, *chisq is
// the last accepted value, *alamda x 10 (a larger lambda strengthens the diagonal), and
// the gaussj case is returned, so that the caller decides whether to go on.
// FIT_NOT_STARTED: w was never initialised; nothing changes.
FitStatus mrqmin(MrqWork& w, float x[], float y[], float sig[], int ndata, float a[], int ia[], int ma, float** covar,
                 float** alpha, float* chisq, const FitModel& funcs, float* alamda);

struct CtfFitResult {
    float a[8];        // fitted fields 0..7 of LC_pstate
    int first;         // the "1st used" sample
    int ndata;         // samples fitted
    int iterations;    // mrqmin calls after the initialising one
    float alamda;      // final damping factor
    float chisq;       // last accepted chi-square
    int singular;      // steps refused for a singular curvature matrix
    FitStatus status;  // FIT_OK, or the singular case of the last refused step
    // Null, or why the CTF fit stopped and left a[] at the start values: one of the
    // kFit* texts below.
    const char* refused;
};

// Why the fit button's fit leaves the parameters as they were.
extern const char* const kFitNoCtfTerm;     // "Scale:" 0 while the defocus is varied
extern const char* const kFitSingular;      // a singular curvature matrix
extern const char* const kFitOutOfRange;    // a defocus the profile cannot show (ctf_defocus_on_profile)

// Whether a defocus (micrometres) shows on a profile at x[0..199] (1/Angstrom,
// evenly spaced): its first zero lies within x[1]..x[199], where a drag on the
// plot can put it, and each of its first three rings (zero to zero) that ends
// within x[199] spans at least two samples, so that the profile resolves them.
bool ctf_defocus_on_profile(float defocus, const float* x, const CtfContext& ctx);

// The fit button's logic: x[0..199] abscissae (1/Angstrom), y[0..199] the profile,
// start[8] fields 0..7, vary[8] flags, ctx the constants and scale of the model.
// Prints "fit ..." and "1st used is %d\n" (and "Infinite fit loop\n") on log (null:
// nowhere); the caller writes the result into its controls. Re-entrant: the work
// area is the call's own. Samples of value 0 are left out (their weight would be
// 1/0). An empty `model` means ctfbasis; then a fit that varies the defocus with no
// CTF term does not start, and one whose curvature turns singular (its gaussj words
// printed once) or whose defocus leaves the profile stops at once; either way a[]
// is the start and `refused` says why, also on log.
CtfFitResult ctf_fit_profile(const float* x, const float* y, const float start[8], const int vary[8],
                             const CtfContext& ctx, const FitModel& model = nullptr, FILE* log = stdout);
