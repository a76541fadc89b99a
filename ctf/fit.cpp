#include "ctf/fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "ctf/model.h"

const char* fit_status_text(FitStatus s) {
    switch (s) {
        case FIT_OK:
            return "";
        case FIT_SINGULAR1:
            return "gaussj: Singular Matrix-1";
        case FIT_SINGULAR2:
            return "gaussj: Singular Matrix-2";
        case FIT_NOT_STARTED:
            return "mrqmin: no fit in progress";
    }
    return "";
}

// Row i starts at block_[(i-1)*m], so that [i][1] is its first element and no pointer
// points before the block.
FitMatrix::FitMatrix(int n, int m) : block_((size_t)n * m + 1), rows_((size_t)n + 1, nullptr) {
    for (int i = 1; i <= n; i++) rows_[(size_t)i] = block_.data() + (size_t)(i - 1) * m;
}

// ---- Gauss-Jordan elimination

FitStatus gaussj(float** a, int n, float** b, int m) {
    // Index arrays as vectors: released on the early returns too.
    std::vector<int> indxc(n + 1), indxr(n + 1), ipiv(n + 1, 0);
    for (int i = 1; i <= n; i++) {
        float big = 0.0f;
        int irow = 0, icol = 0;
        for (int j = 1; j <= n; j++) {
            if (ipiv[j] != 1) {
                for (int k = 1; k <= n; k++) {
                    if (ipiv[k] == 0) {
                        if (std::fabs(a[j][k]) >= big) {
                            big = std::fabs(a[j][k]);
                            irow = j;
                            icol = k;
                        }
                    } else if (ipiv[k] > 1) {
                        return FIT_SINGULAR1;
                    }
                }
            }
        }
        if (icol == 0) {
            // Nothing compared (NaN everywhere left): no pivot to take.
            return FIT_SINGULAR1;
        }
        ++ipiv[icol];
        if (irow != icol) {
            for (int l = 1; l <= n; l++) std::swap(a[irow][l], a[icol][l]);
            for (int l = 1; l <= m; l++) std::swap(b[irow][l], b[icol][l]);
        }
        indxr[i] = irow;
        indxc[i] = icol;
        if (a[icol][icol] == 0.0f) return FIT_SINGULAR2;
        float pivinv = 1.0f / a[icol][icol];
        a[icol][icol] = 1.0f;
        for (int l = 1; l <= n; l++) a[icol][l] *= pivinv;
        for (int l = 1; l <= m; l++) b[icol][l] *= pivinv;
        for (int ll = 1; ll <= n; ll++) {
            if (ll != icol) {
                float dum = a[ll][icol];
                a[ll][icol] = 0.0f;
                for (int l = 1; l <= n; l++) a[ll][l] -= a[icol][l] * dum;
                for (int l = 1; l <= m; l++) b[ll][l] -= b[icol][l] * dum;
            }
        }
    }
    for (int l = n; l >= 1; l--) {
        if (indxr[l] != indxc[l])
            for (int k = 1; k <= n; k++) std::swap(a[k][indxr[l]], a[k][indxc[l]]);
    }
    return FIT_OK;
}

void covsrt(float** covar, int ma, int ia[], int mfit) {
    for (int i = mfit + 1; i <= ma; i++)
        for (int j = 1; j <= i; j++) covar[i][j] = covar[j][i] = 0.0f;
    int k = mfit;
    for (int j = ma; j >= 1; j--) {
        if (ia[j]) {
            for (int i = 1; i <= ma; i++) std::swap(covar[i][k], covar[i][j]);
            for (int i = 1; i <= ma; i++) std::swap(covar[k][i], covar[j][i]);
            k--;
        }
    }
}

// ---- Levenberg-Marquardt

void mrqcof(float x[], float y[], float sig[], int ndata, float a[], int ia[], int ma, float** alpha, float beta[],
            float* chisq, const FitModel& funcs) {
    std::vector<float> dyda(ma + 1);
    int mfit = 0;
    for (int j = 1; j <= ma; j++)
        if (ia[j]) mfit++;
    for (int j = 1; j <= mfit; j++) {
        for (int k = 1; k <= j; k++) alpha[j][k] = 0.0f;
        beta[j] = 0.0f;
    }
    *chisq = 0.0f;
    for (int i = 1; i <= ndata; i++) {
        float ymod;
        funcs(x[i], a, &ymod, dyda.data(), ma);
        float sig2i = 1.0f / (sig[i] * sig[i]);
        float dy = y[i] - ymod;
        for (int j = 0, l = 1; l <= ma; l++) {
            if (ia[l]) {
                float wt = dyda[l] * sig2i;
                j++;
                for (int k = 0, m = 1; m <= l; m++)
                    if (ia[m]) alpha[j][++k] += wt * dyda[m];
                beta[j] += dy * wt;
            }
        }
        *chisq += dy * dy * sig2i;
    }
    for (int j = 2; j <= mfit; j++)
        for (int k = 1; k < j; k++) alpha[k][j] = alpha[j][k];
}

FitStatus mrqmin(MrqWork& w, float x[], float y[], float sig[], int ndata, float a[], int ia[], int ma, float** covar,
                 float** alpha, float* chisq, const FitModel& funcs, float* alamda) {
    if (*alamda < 0.0f) {
        w.ma = ma;
        w.mfit = 0;
        for (int j = 1; j <= ma; j++)
            if (ia[j]) w.mfit++;
        w.atry.assign(ma + 1, 0.0f);
        w.beta.assign(ma + 1, 0.0f);
        w.da.assign(ma + 1, 0.0f);
        w.oneda.assign(2 * (w.mfit + 1), 0.0f);
        *alamda = 0.001f;
        mrqcof(x, y, sig, ndata, a, ia, ma, alpha, w.beta.data(), chisq, funcs);
        w.ochisq = *chisq;
        for (int j = 1; j <= ma; j++) w.atry[j] = a[j];
    } else if (w.ma != ma || w.atry.empty()) {
        return FIT_NOT_STARTED;
    }
    const int mfit = w.mfit;
    // oneda as an mfit x 1 matrix for gaussj: row j's only element is oneda[2j + 1].
    std::vector<float*> onerows(mfit + 1);
    for (int j = 0; j <= mfit; j++) onerows[j] = &w.oneda[2 * j];
    for (int j = 1; j <= mfit; j++) {
        for (int k = 1; k <= mfit; k++) covar[j][k] = alpha[j][k];
        covar[j][j] = alpha[j][j] * (1.0f + *alamda);
        onerows[j][1] = w.beta[j];
    }
    const FitStatus solved = gaussj(covar, mfit, onerows.data(), 1);
    for (int j = 1; j <= mfit; j++) w.da[j] = onerows[j][1];
    if (*alamda == 0.0f) {
        covsrt(covar, ma, ia, mfit);
        covsrt(alpha, ma, ia, mfit);
        return solved;
    }
    if (solved != FIT_OK) {
        // A partly reduced system gives no step worth trying.
        *alamda *= 10.0f;
        *chisq = w.ochisq;
        return solved;
    }
    for (int j = 0, l = 1; l <= ma; l++)
        if (ia[l]) w.atry[l] = a[l] + w.da[++j];
    mrqcof(x, y, sig, ndata, w.atry.data(), ia, ma, covar, w.da.data(), chisq, funcs);
    if (*chisq < w.ochisq) {
        *alamda *= 0.1f;
        w.ochisq = *chisq;
        for (int j = 1; j <= mfit; j++) {
            for (int k = 1; k <= mfit; k++) alpha[j][k] = covar[j][k];
            w.beta[j] = w.da[j];
        }
        for (int l = 1; l <= ma; l++) a[l] = w.atry[l];
    } else {
        *alamda *= 10.0f;
        *chisq = w.ochisq;
    }
    return FIT_OK;
}

// ---- the fit button's logic

const char* const kFitNoCtfTerm = "The CTF term is zero: set Scale above 0 before fitting";
const char* const kFitSingular = "The fit found no unique solution; parameters left as they were";
const char* const kFitOutOfRange = "The fit ran the defocus off the profile; parameters left as they were";

bool ctf_defocus_on_profile(float defocus, const float* x, const CtfContext& ctx) {
    const double step = (x[199] - x[1]) / 198.0;
    if (!(step > 0) || !std::isfinite(defocus)) return false;
    // The zeros of sin(gamma) up to x[199], where |gamma| first passes pi, 2 pi, ... from s = 0.
    double zero[4];
    int n = 0;
    double before = 0;
    for (double s = step / 10; s <= x[199] && n < 4; s += step / 10) {
        const double g = std::fabs(ctf_gamma(s, defocus, ctx.lambda, ctx.Cs)) / 3.14159265358979323846;
        if (std::floor(g) > std::floor(before)) zero[n++] = s;
        before = std::max(before, g);
    }
    if (n == 0 || zero[0] < x[1]) return false;
    for (int k = 1; k < n; k++)
        if (zero[k] - zero[k - 1] < 2 * step) return false;
    return true;
}

CtfFitResult ctf_fit_profile(const float* x, const float* y, const float start[8], const int vary[8],
                             const CtfContext& ctx, const FitModel& given, FILE* log) {
    FitModel model = given;
    if (!model)
        model = [&ctx](float s, float a[], float* yy, float dyda[], int na) { ctfbasis(s, a, yy, dyda, na, ctx); };
    CtfFitResult r{};
    float a[9];
    int ia[9];
    for (int i = 0; i < 8; i++) {
        a[i + 1] = start[i];
        ia[i + 1] = vary[i] != 0;
    }
    if (log) std::fprintf(log, "fit %f %f %f %f %f %f %f %f\n", a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]);

    // Data window: skip the low-frequency samples that rise above the first ring maximum.
    float m = 0;
    for (int i = 10; i <= 24; i++)
        if (y[i] > m) m = y[i];
    int first = 1;
    for (int i = 9; i >= 1; i--)
        if (y[i] > m) {
            first = i + 1;
            break;
        }
    if (log) std::fprintf(log, "1st used is %d\n", first);

    // Samples first+1..199, 1-based; a sample of 0 would have weight 1/0 and is left out.
    std::vector<float> fx(1), fy(1), fs(1);
    for (int i = first + 1; i <= 199; i++) {
        float sig = y[i] / 10;
        if (sig == 0 || !std::isfinite(sig)) continue;
        fx.push_back(x[i]);
        fy.push_back(y[i]);
        fs.push_back(sig);
    }
    int ndata = (int)fx.size() - 1;

    MrqWork work;
    FitMatrix covar(8, 8), alpha(8, 8);
    float chisq = 0, alamda = -1;
    int iter = 0;
    // The CTF model's guards: with no CTF term the defocus has no effect on the
    // model, the curvature is singular and the steps wander; a defocus off the
    // profile fits noise. Custom models (tests) go on past singular steps.
    const bool guarded = !given;
    if (guarded && ia[1] && !(a[3] > 0)) r.refused = kFitNoCtfTerm;
    auto step = [&] {
        FitStatus s = mrqmin(work, fx.data(), fy.data(), fs.data(), ndata, a, ia, 8, covar.rows(), alpha.rows(), &chisq,
                             model, &alamda);
        if (s != FIT_OK) {
            r.singular++;
            r.status = s;
            if (log) std::fprintf(log, "%s\n", fit_status_text(s));
            if (guarded) r.refused = kFitSingular;
        } else if (guarded && !ctf_defocus_on_profile(a[1], x, ctx)) {
            r.refused = kFitOutOfRange;
        }
    };
    if (!r.refused) step();
    while (!r.refused && 1e-6f < alamda && alamda < 1e10f) {
        step();
        if (a[2] > 50) a[2] = 10;
        if (a[4] < 0) a[4] = 0;
        if (a[3] < 0) a[3] = 0;
        if (a[7] < 0) a[7] = 0;
        if (a[5] < 0) a[5] = 0;
        if (++iter > 100) {
            if (log) std::fprintf(log, "Infinite fit loop\n");
            break;
        }
    }
    if (r.refused) {
        if (log) std::fprintf(log, "%s\n", r.refused);
        for (int i = 0; i < 8; i++) a[i + 1] = start[i];
    }
    for (int i = 0; i < 8; i++) r.a[i] = a[i + 1];
    r.first = first;
    r.ndata = ndata;
    r.iterations = iter;
    r.alamda = alamda;
    r.chisq = chisq;
    return r;
}
