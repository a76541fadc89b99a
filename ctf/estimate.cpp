// Batch CTF estimation, each step scored against the same spectrum:
//  1. the average power spectrum of overlapping tapered tiles;
//  2. its power in 36 angular sectors by radius (calcDist's binning), a smooth
//     background fitted locally and divided out, and the ring signal of each
//     radius weighed against the noise that neighbouring sectors disagree by;
//  3. an exhaustive search over underfocus D, astigmatism dD and its direction
//     theta_u, scoring each sector's ring pattern at D(theta) = D + dD/2
//     cos 2(theta - theta_u) on a grid fine enough that no ring is skipped, so
//     that a wrong ring never wins;
//  4. Levenberg-Marquardt (mrqmin) refinement of D, dD, theta_u and the ring
//     amplitude on the 2-D spectrum with the workbench's CTF term, over a band
//     widened as the estimate firms up, and again after the background is
//     fitted once more with the fitted rings divided out.
#include "ctf/estimate.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/MRCData.h"
#include "ctf/fit.h"
#include "ctf/model.h"
#include "fft/ifftsubs.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Setup {
    CtfContext ctx;
    double alpha;  // phase of the amplitude contrast: c = sin(gamma + alpha)
    double ac;
    double pixel;
    int T;
    double sOf(double radiusPx) const { return radiusPx / (T * pixel); }
    // Phase for an underfocus D (micrometres, positive) at s.
    double gamma(double s, double D) const { return ctf_gamma(s, -D, ctx.lambda, ctx.Cs); }
    // |d gamma / ds|: the ring period in s is pi over it.
    double slope(double s, double D) const {
        return std::fabs(2 * kPi * (ctx.Cs * std::pow((double)ctx.lambda, 3) * s * s * s - 1e4 * D * ctx.lambda * s));
    }
    // The oscillating part of c^2, -cos(2 gamma + 2 alpha) = 2 c^2 - 1, from the workbench's term.
    double ring(double s, double D) const {
        double c = ctf_term(s, -D, ac, ctx.lambda, ctx.Cs);
        return 2 * c * c - 1;
    }
};

// ---- spectrum

// Cosine taper over the outer eighth of a tile on each side.
std::vector<float> taper(int T) {
    std::vector<float> w(T, 1.0f);
    const int m = T / 8;
    for (int i = 0; i < m; i++) {
        float v = (float)(0.5 - 0.5 * std::cos(kPi * (i + 0.5) / m));
        w[i] = w[T - 1 - i] = v;
    }
    return w;
}

// Tile origins along an axis of n pixels: steps of about 3T/4 spread over the
// whole length, so that the tapered margins of neighbours overlap.
std::vector<int> origins(int n, int T) {
    int count = std::max(1, (int)std::ceil((n - T) / (0.75 * T)) + 1);
    std::vector<int> o(count);
    for (int i = 0; i < count; i++)
        o[i] = count == 1 ? (n - T) / 2 : (int)std::lround((double)(n - T) * i / (count - 1));
    return o;
}

}  // namespace

int ctf_tile_size(int nx, int ny) {
    const int m = std::min(nx, ny);
    if (m >= 2000) return 1024;
    if (m >= 1000) return 512;
    if (m >= 384) return 256;
    return 0;
}

std::vector<float> ctf_tile_spectrum(const float* img, int nx, int ny, int T) {
    const int half = T / 2;
    std::vector<float> ps((size_t)T * (half + 1), 0.0f);
    if (T < 2 || nx < T || ny < T) return ps;
    const std::vector<float> w = taper(T);
    std::vector<float> tile((size_t)T * T), out((size_t)(T + 2) * T);
    const std::vector<int> ox = origins(nx, T), oy = origins(ny, T);
    for (int y0 : oy)
        for (int x0 : ox) {
            double sum = 0;
            for (int y = 0; y < T; y++) {
                const float* row = img + (size_t)(y0 + y) * nx + x0;
                for (int x = 0; x < T; x++) sum += row[x];
            }
            const float mean = (float)(sum / ((double)T * T));
            for (int y = 0; y < T; y++) {
                const float* row = img + (size_t)(y0 + y) * nx + x0;
                float* t = &tile[(size_t)y * T];
                for (int x = 0; x < T; x++) t[x] = (row[x] - mean) * w[x] * w[y];
            }
            todfft_centred(tile.data(), out.data(), T, T, nullptr);
            for (int r = 0; r < T; r++) {
                const float* o = &out[(size_t)r * (T + 2)];
                float* p = &ps[(size_t)r * (half + 1)];
                for (int h = 0; h <= half; h++) p[h] += o[2 * h] * o[2 * h] + o[2 * h + 1] * o[2 * h + 1];
            }
        }
    const float n = (float)(ox.size() * oy.size());
    for (float& v : ps) v /= n;
    return ps;
}

namespace {

// Running means of v over [i - w[i], i + w[i]] clipped to [lo, hi].
std::vector<double> runningMean(const std::vector<double>& v, int lo, int hi, const std::vector<int>& w) {
    std::vector<double> c(v.size() + 1, 0.0), out(v.size(), 0.0);
    for (size_t i = 0; i < v.size(); i++) c[i + 1] = c[i] + v[i];
    for (int i = lo; i <= hi; i++) {
        int a = std::max(lo, i - w[i]), b = std::min(hi, i + w[i]);
        out[i] = (c[b + 1] - c[a]) / (b - a + 1);
    }
    return out;
}

// Local quadratic fits to log v over [i - w[i], i + w[i]] clipped to [lo, hi]:
// a background that follows a steep, curved fall without lagging behind it at
// the ends of the band. Windows of two ring periods or more cannot follow the rings.
std::vector<double> localFit(const std::vector<double>& v, int lo, int hi, const std::vector<int>& w) {
    const size_t n = v.size();
    std::vector<double> c[8];
    for (auto& ci : c) ci.assign(n + 1, 0.0);
    for (size_t i = 0; i < n; i++) {
        const double x = (double)i / n, y = std::log(std::max(v[i], 1e-30));
        const double xs[5] = {1, x, x * x, x * x * x, x * x * x * x};
        for (int k = 0; k < 5; k++) c[k][i + 1] = c[k][i] + xs[k];
        for (int k = 0; k < 3; k++) c[5 + k][i + 1] = c[5 + k][i] + xs[k] * y;
    }
    std::vector<double> out(n, 0.0);
    for (int i = lo; i <= hi; i++) {
        const int a = std::max(lo, i - w[i]), b = std::min(hi, i + w[i]);
        double M[3][4];
        for (int r = 0; r < 3; r++) {
            for (int k = 0; k < 3; k++) M[r][k] = c[r + k][b + 1] - c[r + k][a];
            M[r][3] = c[5 + r][b + 1] - c[5 + r][a];
        }
        // Gauss-Jordan with partial pivoting; a degenerate window falls back to its mean.
        bool ok = b - a >= 4;
        for (int col = 0; col < 3 && ok; col++) {
            int piv = col;
            for (int r = col + 1; r < 3; r++)
                if (std::fabs(M[r][col]) > std::fabs(M[piv][col])) piv = r;
            for (int k = 0; k < 4; k++) std::swap(M[col][k], M[piv][k]);
            if (std::fabs(M[col][col]) < 1e-300) ok = false;
            for (int r = 0; r < 3 && ok; r++) {
                if (r == col) continue;
                const double f = M[r][col] / M[col][col];
                for (int k = 0; k < 4; k++) M[r][k] -= f * M[col][k];
            }
        }
        const double x = (double)i / n;
        out[i] = ok ? std::exp(M[0][3] / M[0][0] + M[1][3] / M[1][1] * x + M[2][3] / M[2][2] * x * x)
                    : std::exp((c[5][b + 1] - c[5][a]) / (b - a + 1));
    }
    return out;
}

// ---- the spectrum in sectors

// Power in 36 sectors of 5 degrees and radial bins of one Fourier pixel, its
// background, and the rings' deviation from it weighted for the search.
struct Polar {
    static const int nA = 36;
    int nR = 0, lo = 0, hi = 0;
    double ds = 0;               // one bin in 1/Angstrom
    std::vector<double> s;       // bin positions (1/Angstrom)
    std::vector<double> p, bg;   // power over all directions and its background
    std::vector<double> sector;  // [j * nR + r]: power of sector j
    std::vector<double> w;       // [r * nA + j]: deviation in noise units times the ring amplitude
    std::vector<double> rho2;    // squared ring amplitude in noise units
};

Polar polarSpectrum(const MRCData& transform, const Setup& st, double sLo) {
    Polar pl;
    const int nA = Polar::nA, nR = st.T / 2;
    pl.nR = nR;
    pl.ds = st.sOf(1);
    std::vector<float> W((size_t)nA * nR, 0.0f), P((size_t)nA * nR, 0.0f);
    transform.radialPower(1.0f, nR, nA, W.data(), P.data());
    pl.s.resize(nR);
    pl.p.assign(nR, 0.0);
    pl.sector.assign((size_t)nA * nR, 0.0);
    for (int r = 0; r < nR; r++) {
        double ws = 0, ps = 0;
        for (int j = 0; j < nA; j++) {
            ws += W[(size_t)j * nR + r];
            ps += P[(size_t)j * nR + r];
        }
        pl.s[r] = r * pl.ds;
        pl.p[r] = ws > 0 ? ps / ws : 0;
        for (int j = 0; j < nA; j++) {
            const double wj = W[(size_t)j * nR + r];
            pl.sector[(size_t)j * nR + r] = wj > 0 ? P[(size_t)j * nR + r] / wj : pl.p[r];
        }
    }
    pl.lo = std::max(4, (int)std::ceil(sLo / pl.ds));
    pl.hi = std::min(nR - 2, (int)(0.95 * nR));
    return pl;
}

// Background as a local fit over a twelfth of the band, which knows no
// defocus yet. The noise of each radius is half the mean square difference of
// neighbouring sectors, which share their rings but not their noise; what the
// sectors vary by beyond it is the ring signal.
void levelPolar(Polar& pl) {
    const int nA = Polar::nA, nR = pl.nR, span = pl.hi - pl.lo;
    std::vector<int> win(nR, std::max(4, span / 12));
    pl.bg = localFit(pl.p, pl.lo, pl.hi, win);
    std::vector<double> noise(nR, 0.0), total(nR, 0.0);
    std::vector<double> q((size_t)nA);
    for (int r = pl.lo; r <= pl.hi; r++) {
        for (int j = 0; j < nA; j++) q[j] = pl.bg[r] > 0 ? pl.sector[(size_t)j * nR + r] / pl.bg[r] - 1 : 0;
        for (int j = 0; j < nA; j++) {
            const double d = q[j] - q[(j + 1) % nA];
            noise[r] += d * d / (2 * nA);
            total[r] += q[j] * q[j] / nA;
        }
    }
    std::vector<int> win2(nR);
    for (int r = 0; r < nR; r++) win2[r] = std::max(4, win[r]);
    noise = runningMean(noise, pl.lo, pl.hi, win2);
    total = runningMean(total, pl.lo, pl.hi, win2);
    pl.w.assign((size_t)nA * nR, 0.0);
    pl.rho2.assign(nR, 0.0);
    for (int r = pl.lo; r <= pl.hi; r++) {
        if (!(noise[r] > 0) || !(pl.bg[r] > 0)) continue;
        pl.rho2[r] = std::max(0.0, total[r] / noise[r] - 1);
        const double k = std::sqrt(pl.rho2[r] / noise[r]);
        for (int j = 0; j < nA; j++) pl.w[(size_t)r * nA + j] = k * (pl.sector[(size_t)j * nR + r] / pl.bg[r] - 1);
    }
}

// ---- exhaustive search

struct Found {
    double D = 0, half = 0, th = 0;  // underfocus, half its spread, direction of the largest (radians)
    double z = 0;                    // matched-filter score in noise units
};

// Every underfocus D (on a grid that moves the outermost ring by at most an
// eighth of a period per step), astigmatism and direction, scored by how the
// ring pattern of each sector's underfocus matches that sector: no candidate
// is skipped, so a wrong ring cannot win over the right one.
Found searchPolar(const Polar& pl, const Setup& st, double dmin, double dmax, double halfMax) {
    const int nA = Polar::nA;
    const double lambda = st.ctx.lambda, cs3 = st.ctx.Cs * std::pow((double)lambda, 3);
    const double sHi = pl.s[pl.hi];
    double step = 1.0 / (8e4 * lambda * sHi * sHi);
    step = std::max(step, (dmax - dmin) / 4000);
    const int G = (int)((dmax - dmin) / step) + 1;
    std::vector<double> S((size_t)G * nA, 0.0), N(G, 0.0);
    for (int r = pl.lo; r <= pl.hi; r++) {
        if (pl.rho2[r] <= 0) continue;
        const double s = pl.s[r], b = kPi * 1e4 * lambda * s * s;
        // Rings finer than four bins are left to the refinement.
        const double lim = 1 / (8 * pl.ds);
        const double dA = (cs3 * s * s * s - lim) / (1e4 * lambda * s),
                     dB = (cs3 * s * s * s + lim) / (1e4 * lambda * s);
        const int g0 = std::max(0, (int)std::ceil((dA - dmin) / step)),
                  g1 = std::min(G - 1, (int)std::floor((dB - dmin) / step));
        if (g0 > g1) continue;
        const double ph = 2 * st.gamma(s, dmin + g0 * step) + 2 * st.alpha, rot = 2 * b * step;
        double zr = std::cos(ph), zi = std::sin(ph);
        const double cr = std::cos(rot), ci = std::sin(rot);
        const double* wr = &pl.w[(size_t)r * nA];
        for (int g = g0; g <= g1; g++) {
            const double m = -zr;
            N[g] += pl.rho2[r] * m * m;
            double* sg = &S[(size_t)g * nA];
            for (int j = 0; j < nA; j++) sg[j] += wr[j] * m;
            const double t = zr * cr - zi * ci;
            zi = zr * ci + zi * cr;
            zr = t;
            if ((g & 31) == 31) {
                const double n = 1 / std::sqrt(zr * zr + zi * zi);
                zr *= n;
                zi *= n;
            }
        }
    }
    Found best;
    double bestNum = 0;
    std::vector<int> off(nA);
    for (double half = 0; half <= halfMax + 1e-9; half += 0.02) {
        const int nTh = half == 0 ? 1 : nA;
        for (int t = 0; t < nTh; t++) {
            const double th = t * kPi / nA;
            int omin = 0, omax = 0;
            for (int j = 0; j < nA; j++) {
                off[j] = (int)std::lround(half * std::cos(2 * (j * kPi / nA - th)) / step);
                omin = std::min(omin, off[j]);
                omax = std::max(omax, off[j]);
            }
            for (int g = -omin; g < G - omax; g++) {
                double num = 0, den = 0;
                for (int j = 0; j < nA; j++) {
                    num += S[(size_t)(g + off[j]) * nA + j];
                    den += N[g + off[j]];
                }
                // Ranked by the sum itself: a candidate whose rings are too
                // fine for most of the band explains less of it, not more.
                if (den <= 0 || num <= bestNum) continue;
                bestNum = num;
                best = Found{dmin + g * step, half, th, num / std::sqrt(den)};
            }
        }
    }
    return best;
}

}  // namespace

namespace {

struct Astig {
    double D = 0, ac = 0, as = 0;  // underfocus(theta) = D + ac cos 2 theta + as sin 2 theta
    double at(double th) const { return D + ac * std::cos(2 * th) + as * std::sin(2 * th); }
    double half() const { return std::hypot(ac, as); }
};

// ---- the 2-D spectrum

// Points of the half plane inside a band: s, cos 2 theta, sin 2 theta and
// the relative deviation of the power from the background.
struct Points {
    std::vector<float> s, c2, s2, y;
    size_t size() const { return y.size(); }
};

struct Spectrum {
    const std::vector<float>* ps;
    int T;
    std::vector<double> bg;  // background at radii of whole Fourier pixels
    double bgAt(double r) const {
        const int i = std::min((int)r, (int)bg.size() - 2);
        const double f = std::min(1.0, r - i);
        return (1 - f) * bg[i] + f * bg[i + 1];
    }
};

Points collect(const Spectrum& sp, const Setup& st, double sLo, double sHi, size_t maxPoints) {
    Points pt;
    const int T = sp.T, half = T / 2;
    const double rLo = sLo * T * st.pixel, rHi = sHi * T * st.pixel;
    const size_t ring = (size_t)(kPi * (rHi * rHi - rLo * rLo) / 2) + 1;
    const int stride = ring > maxPoints ? (int)std::ceil(std::sqrt((double)ring / maxPoints)) : 1;
    for (int k = -half; k < half; k += stride)
        for (int h = 0; h <= half; h += stride) {
            if (h == 0 && k <= 0) continue;
            const double r = std::sqrt((double)h * h + (double)k * k);
            if (r < rLo || r > rHi) continue;
            const double b = sp.bgAt(r);
            if (!(b > 0)) continue;
            const double th = std::atan2((double)k, (double)h);
            pt.s.push_back((float)st.sOf(r));
            pt.c2.push_back((float)std::cos(2 * th));
            pt.s2.push_back((float)std::sin(2 * th));
            pt.y.push_back((float)((*sp.ps)[(size_t)(k + half) * (half + 1) + h] / b - 1));
        }
    return pt;
}

// Parameters of the 2-D model, 1-based for mrqmin: a[1..3] the underfocus
// a1 + a2 cos 2 theta + a3 sin 2 theta, a[4..7] the logarithm of the ring
// amplitude as a cubic in x = (s - sc) / sw over the band.
struct Fit2d {
    float a[8] = {};
    double sc = 0, sw = 1;
    double amp(double s) const {
        const double x = (s - sc) / sw;
        return std::exp(a[4] + x * (a[5] + x * (a[6] + x * a[7])));
    }
    Astig astig() const { return Astig{a[1], a[2], a[3]}; }
};

// The model amp(s) (2 c^2 - 1) and its derivatives.
FitModel model2d(const Points& pt, const Setup& st, double sc, double sw) {
    const double k1 = kPi * 1e4 * st.ctx.lambda;  // d gamma / d underfocus, over s^2
    return [&pt, &st, k1, sc, sw](float x, float a[], float* y, float dyda[], int) {
        const size_t i = (size_t)x;
        const double s = pt.s[i], s2 = s * s, c2 = pt.c2[i], sn2 = pt.s2[i];
        const double D = a[1] + a[2] * c2 + a[3] * sn2;
        const double ph = 2 * st.gamma(s, D) + 2 * st.alpha;
        const double u = (s - sc) / sw;
        const double amp = std::exp(a[4] + u * (a[5] + u * (a[6] + u * a[7])));
        const double ring = -std::cos(ph);
        *y = (float)(amp * ring);
        const double dD = amp * 2 * std::sin(ph) * k1 * s2;
        dyda[1] = (float)dD;
        dyda[2] = (float)(dD * c2);
        dyda[3] = (float)(dD * sn2);
        dyda[4] = (float)(amp * ring);
        dyda[5] = (float)(amp * ring * u);
        dyda[6] = (float)(amp * ring * u * u);
        dyda[7] = (float)(amp * ring * u * u * u);
    };
}

// Levenberg-Marquardt on the points over the band [sLo, sHi]; the amplitude
// starts flat at its least-squares level. Stops when a step gains less than a
// part in 10^6 or the damping runs away.
void refine2d(const Points& pt, const Setup& st, double sLo, double sHi, Fit2d& fit) {
    const int n = (int)pt.size();
    if (n < 50) return;
    fit.sc = (sLo + sHi) / 2;
    fit.sw = std::max(1e-6, (sHi - sLo) / 2);
    std::vector<float> x(n + 1), y(n + 1), sig(n + 1, 1.0f);
    double qm = 0, mm = 0;
    for (int i = 0; i < n; i++) {
        x[i + 1] = (float)i;
        y[i + 1] = pt.y[i];
        const double D = fit.a[1] + fit.a[2] * pt.c2[i] + fit.a[3] * pt.s2[i];
        const double m = st.ring(pt.s[i], D);
        qm += m * pt.y[i];
        mm += m * m;
    }
    float* a = fit.a;
    a[4] = (float)std::log(std::max(mm > 0 ? qm / mm : 0.0, 1e-3));
    a[5] = a[6] = a[7] = 0;
    int ia[8] = {0, 1, 1, 1, 1, 1, 1, 1};
    FitMatrix covar(7, 7), alpha(7, 7);
    MrqWork work;
    FitModel f = model2d(pt, st, fit.sc, fit.sw);
    float chisq = 0, alamda = -1, last = 0;
    // A singular step ends the refinement with the last accepted parameters.
    if (mrqmin(work, x.data(), y.data(), sig.data(), n, a, ia, 7, covar.rows(), alpha.rows(), &chisq, f, &alamda) !=
        FIT_OK)
        return;
    last = chisq;
    for (int it = 0; it < 60 && alamda < 1e7f; it++) {
        float before = last;
        if (mrqmin(work, x.data(), y.data(), sig.data(), n, a, ia, 7, covar.rows(), alpha.rows(), &chisq, f, &alamda) !=
            FIT_OK)
            break;
        last = chisq;
        if (chisq < before && before - chisq < 1e-6f * before) break;
    }
}

double correlation2d(const Points& pt, const Setup& st, Fit2d& fit) {
    FitModel f = model2d(pt, st, fit.sc, fit.sw);
    double sxy = 0, sxx = 0, syy = 0;
    float y, dyda[8];
    for (size_t i = 0; i < pt.size(); i++) {
        f((float)i, fit.a, &y, dyda, 7);
        sxy += (double)y * pt.y[i];
        sxx += (double)y * y;
        syy += (double)pt.y[i] * pt.y[i];
    }
    return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
}

}  // namespace

namespace {

// The background once more: the profile with the fitted rings divided out
// holds no rings, so a narrower local fit follows it without taking them in.
void cleanBackground(Polar& pl, const Setup& st, const Fit2d& fit) {
    const float* a = fit.a;
    const int nA = Polar::nA;
    std::vector<double> clean = pl.p;
    for (int r = pl.lo; r <= pl.hi; r++) {
        const double s = pl.s[r];
        double m = 0;
        for (int j = 0; j < nA; j++) {
            const double th = j * kPi / nA;
            m += st.ring(s, a[1] + a[2] * std::cos(2 * th) + a[3] * std::sin(2 * th)) / nA;
        }
        const double f = 1 + fit.amp(s) * m;
        clean[r] = pl.p[r] / std::max(f, 0.1);
    }
    std::vector<int> win(pl.nR, std::max(4, (pl.hi - pl.lo) / 16));
    pl.bg = localFit(clean, pl.lo, pl.hi, win);
}

// ---- equiphase profile, resolution, zeros

// Underfocus-D frequency with the phase that s has at underfocus Dt.
double equiphase(double s, double Dt, double D, const Setup& st) {
    const double a = st.ctx.Cs * std::pow((double)st.ctx.lambda, 3) / 4, b = 1e4 * D * st.ctx.lambda / 2;
    const double s2 = s * s, phi = a * s2 * s2 - 1e4 * Dt * st.ctx.lambda / 2 * s2;
    const double disc = b * b + 4 * a * phi;
    if (disc < 0) return s;
    return std::sqrt(std::max(0.0, -2 * phi / (b + std::sqrt(disc))));
}

// Fills the plot profile, the model and the zeros, and returns the end of the
// run of ring-wide windows, from the first zero outwards, in which profile and
// model still correlate: how far the rings are seen at all.
double equiphaseProfile(const Spectrum& sp, const Setup& st, const Astig& as, const Fit2d& fit, double sLo, double sHi,
                        CtfEstimate* out) {
    const int T = sp.T, half = T / 2;
    const int n = (int)(sHi * T * st.pixel) + 2;
    std::vector<double> W(n, 0.0), P(n, 0.0);
    const double ds = 1.0 / (T * st.pixel);
    for (int k = -half; k < half; k++)
        for (int h = 0; h <= half; h++) {
            if (h == 0 && k <= 0) continue;
            const double r = std::sqrt((double)h * h + (double)k * k);
            const double s = st.sOf(r);
            if (s < sLo * 0.5 || s > sHi) continue;
            const double b = sp.bgAt(r);
            if (!(b > 0)) continue;
            const double th = std::atan2((double)k, (double)h);
            const double t = equiphase(s, as.at(th), as.D, st) / ds;
            const int i = (int)t;
            if (i + 1 >= n) continue;
            const double f = t - i, v = (*sp.ps)[(size_t)(k + half) * (half + 1) + h] / b - 1;
            W[i] += 1 - f;
            W[i + 1] += f;
            P[i] += (1 - f) * v;
            P[i + 1] += f * v;
        }
    out->s.clear();
    out->profile.clear();
    out->model.clear();
    for (int i = 0; i < n; i++) {
        const double s = i * ds;
        if (W[i] <= 0 || s < sLo || s > sHi) continue;
        out->s.push_back((float)s);
        out->profile.push_back((float)(P[i] / W[i]));
        out->model.push_back((float)(fit.amp(s) * st.ring(s, as.D)));
    }
    out->zeros.clear();
    for (int z = 1; z < 400; z++) {
        // Zeros of sin(gamma + alpha): gamma = -z pi - alpha, solved for s^2.
        const double A = st.ctx.Cs * std::pow((double)st.ctx.lambda, 3) / 4, B = 1e4 * as.D * st.ctx.lambda / 2;
        const double c = (z * kPi - st.alpha) / (2 * kPi);
        const double disc = B * B - 4 * A * c;
        if (disc < 0) break;
        const double u = 2 * c / (B + std::sqrt(disc));
        const double s = std::sqrt(u);
        if (s > sHi) break;
        out->zeros.push_back((float)s);
    }
    // Windows from one zero to the next; the run ends at the first two windows in a row that fail.
    double res = out->zeros.empty() ? sLo : out->zeros[0];
    int fails = 0;
    for (size_t z = 0; z + 1 < out->zeros.size(); z++) {
        double sxy = 0, sxx = 0, syy = 0;
        for (size_t i = 0; i < out->s.size(); i++) {
            if (out->s[i] < out->zeros[z] || out->s[i] > out->zeros[z + 1]) continue;
            double m = out->model[i] - 0, p = out->profile[i];
            sxy += m * p;
            sxx += m * m;
            syy += p * p;
        }
        const double cc = sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0;
        if (cc >= 0.3) {
            res = out->zeros[z + 1];
            fails = 0;
        } else if (++fails >= 2) {
            break;
        }
    }
    return res;
}

// Frequency in 1/Angstrom where the rings of underfocus D become finer than three
// samples of spacing ds; sMax when they never do.
double aliasLimit(const Setup& st, double D, double ds, double sLo, double sMax) {
    for (double s = sLo; s < sMax; s += ds)
        if (st.slope(s, D) * ds > kPi / 3) return s;
    return sMax;
}

bool badParams(const CtfEstimateParams& p) {
    return !(p.pixel > 0) || !(p.kv > 0) || !(p.csMM >= 0) || !(p.ac >= 0 && p.ac < 1);
}

// Why an image cannot be estimated with these parameters, or null.
const char* unusable(const float* img, int nx, int ny, const CtfEstimateParams& p) {
    if (!ctf_tile_size(nx, ny)) return "micrograph too small";
    if (badParams(p)) return "bad microscope parameters";
    double sum = 0, sum2 = 0;
    const size_t n = (size_t)nx * ny;
    for (size_t i = 0; i < n; i++) {
        sum += img[i];
        sum2 += (double)img[i] * img[i];
    }
    if (!std::isfinite(sum2)) return "micrograph holds invalid values";
    const double var = sum2 / n - (sum / n) * (sum / n);
    if (!(var > 1e-12 * (sum2 / n))) return "blank micrograph";
    return nullptr;
}

// The spectrum as a transform data set (amplitudes), binned as the live window's profiles are.
void toDataSet(const std::vector<float>& ps, int T, MRCData* transform) {
    std::vector<float> amp((size_t)(T + 2) * T, 0.0f);
    for (int r = 0; r < T; r++)
        for (int h = 0; h <= T / 2; h++) amp[(size_t)r * (T + 2) + 2 * h] = std::sqrt(ps[(size_t)r * (T / 2 + 1) + h]);
    transform->setComplData(amp.data(), T + 2, T, 1);
}

// The match of a search below which a spectrum of noise alone is as likely:
// pure noise reaches about 6.
const double kMinScore = 7;
// The same for the correlation of the final fit times the square root of its
// number of points: weak but real rings give 8 and more.
const double kMinFit = 5;

}  // namespace

namespace {
// The least-squares non-increasing fit to v with weights w (pool adjacent violators).
std::vector<double> fallingFit(const std::vector<double>& v, const std::vector<double>& w) {
    struct Block {
        double mean, weight;
        size_t count;
    };
    std::vector<Block> b;
    for (size_t i = 0; i < v.size(); i++) {
        b.push_back({v[i], w[i], 1});
        while (b.size() > 1 && b[b.size() - 2].mean < b.back().mean) {
            Block& a = b[b.size() - 2];
            const Block c = b.back();
            a.mean = (a.mean * a.weight + c.mean * c.weight) / (a.weight + c.weight);
            a.weight += c.weight;
            a.count += c.count;
            b.pop_back();
        }
    }
    std::vector<double> out;
    for (const Block& x : b) out.insert(out.end(), x.count, x.mean);
    return out;
}
}  // namespace

double ctf_rings_end(const std::vector<float>& s, const std::vector<float>& prof, const std::vector<float>& model,
                     const std::vector<float>& zeros) {
    const size_t n = std::min({s.size(), prof.size(), model.size()});
    if (zeros.empty()) return 0;
    const int kRings = 3, kMinSamples = 12;
    // Window z: zeros[z] .. zeros[z + w], w the rings it needs for enough samples.
    std::vector<double> centre, rho, top, weight;
    for (size_t z = 0; z + kRings < zeros.size(); z++) {
        size_t e = z + kRings;
        auto samples = [&](size_t hi) {
            int k = 0;
            for (size_t i = 0; i < n; i++) k += s[i] >= zeros[z] && s[i] <= zeros[hi];
            return k;
        };
        while (e + 1 < zeros.size() && samples(e) < kMinSamples) e++;
        if (samples(e) < kMinSamples) break;
        double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
        int k = 0;
        for (size_t i = 0; i < n; i++) {
            if (s[i] < zeros[z] || s[i] > zeros[e]) continue;
            const double x = model[i], y = prof[i];
            sx += x, sy += y, sxx += x * x, syy += y * y, sxy += x * y;
            k++;
        }
        const double vx = sxx - sx * sx / k, vy = syy - sy * sy / k, cxy = sxy - sx * sy / k;
        centre.push_back(0.5 * (zeros[z] + zeros[e]));
        top.push_back(zeros[e]);
        weight.push_back(k);
        rho.push_back(vx > 0 && vy > 0 ? cxy / std::sqrt(vx * vy) : 0);
    }
    const double t = kCtfRingsEndCorrelation;
    const std::vector<double> f = fallingFit(rho, weight);
    for (size_t w = 0; w < f.size(); w++) {
        if (f[w] >= t) continue;
        if (w == 0) return zeros[0];
        return centre[w - 1] + (f[w - 1] - t) / (f[w - 1] - f[w]) * (centre[w] - centre[w - 1]);
    }
    return top.empty() ? zeros[0] : top.back();
}

int ctf_estimate(const float* img, int nx, int ny, const CtfEstimateParams& p, CtfEstimate* out,
                 CtfSpectrum* keep) {
    *out = CtfEstimate();
    if ((out->why = unusable(img, nx, ny, p))) return 0;
    const int T = ctf_tile_size(nx, ny);
    return ctf_estimate_spectrum(ctf_tile_spectrum(img, nx, ny, T), T, p, out, keep);
}

int ctf_estimate_transform(const float* pairs, int nx, int ny, const CtfEstimateParams& p, CtfEstimate* out,
                           CtfSpectrum* keep) {
    *out = CtfEstimate();
    if (nx != ny || nx < 256 || nx % 2) {
        out->why = nx != ny ? "the transform is not square" : "transform too small";
        return 0;
    }
    const int T = nx, half = T / 2;
    std::vector<float> ps((size_t)T * (half + 1));
    for (int r = 0; r < T; r++)
        for (int h = 0; h <= half; h++) {
            const float a = pairs[(size_t)r * (T + 2) + 2 * h];
            ps[(size_t)r * (half + 1) + h] = a * a;
        }
    return ctf_estimate_spectrum(std::move(ps), T, p, out, keep);
}

int ctf_estimate_spectrum(std::vector<float> ps, int T, const CtfEstimateParams& p, CtfEstimate* out,
                          CtfSpectrum* keep) {
    *out = CtfEstimate();
    if (T < 256 || T % 2 || ps.size() != (size_t)T * (T / 2 + 1)) {
        out->why = "spectrum too small";
        return 0;
    }
    if (badParams(p)) {
        out->why = "bad microscope parameters";
        return 0;
    }
    double total = 0;
    for (float v : ps) total += v;
    if (!std::isfinite(total) || !(total > 0)) {
        out->why = std::isfinite(total) ? "blank micrograph" : "spectrum holds invalid values";
        return 0;
    }
    out->tile = T;
    Setup st;
    st.ctx = ctf_context(p.kv, p.csMM, 1.0f);
    st.ac = p.ac;
    st.alpha = std::asin(p.ac);
    st.pixel = p.pixel;
    st.T = T;
    MRCData transform(30, p.pixel);  // not MRCData(): no preference is read in a worker thread
    toDataSet(ps, T, &transform);
    const double sLo = std::max(1.0 / 50, st.sOf(4));
    Polar pl = polarSpectrum(transform, st, sLo);
    if (pl.hi - pl.lo < 40) {
        out->why = "too few frequencies for a fit";
        return 0;
    }
    // Search over everything with a background that knows no defocus.
    levelPolar(pl);
    Found f = searchPolar(pl, st, 0.2, 8.0, 0.5);
    if (!(f.z >= kMinScore)) {
        out->why = "no Thon rings found";
        return 0;
    }
    // Refinement in stages: first a band that the search's uncertainty cannot
    // put a ring off by half a period in, then all of it; then the background
    // again, from the profile with the fitted rings taken out, and once more.
    Spectrum sp{&ps, T, pl.bg};
    Fit2d fit;
    fit.a[1] = (float)f.D;
    fit.a[2] = (float)(f.half * std::cos(2 * f.th));
    fit.a[3] = (float)(f.half * std::sin(2 * f.th));
    const double sMax = pl.s[pl.hi];
    double sHi = sMax;
    for (double unc : {0.04, 0.0, -1.0}) {
        if (unc < 0) {
            cleanBackground(pl, st, fit);
            sp.bg = pl.bg;
        }
        const Astig as = fit.astig();
        const double sAl = aliasLimit(st, as.D + as.half(), pl.ds, sLo, sMax);
        sHi = unc > 0 ? std::min(sAl, std::sqrt(1 / (2e4 * st.ctx.lambda * unc))) : sAl;
        refine2d(collect(sp, st, sLo, sHi, 120000), st, sLo, sHi, fit);
    }
    const Astig as = fit.astig();
    const double half = as.half();
    double thU = 0.5 * std::atan2(as.as, as.ac) * 180 / kPi;
    if (thU < 0) thU += 180;
    out->defocus = (float)-as.D;
    out->defocusU = (float)-(as.D + half);
    out->defocusV = (float)-(as.D - half);
    out->astigAngle = (float)thU;
    const Points band = collect(sp, st, sLo, sHi, 120000);
    out->score = (float)correlation2d(band, st, fit);
    const double seen = equiphaseProfile(sp, st, as, fit, sLo, sHi, out);
    out->resolution = (float)(1 / ctf_rings_end(out->s, out->profile, out->model, out->zeros));
    // Rings that agree with the model from one zero to the next three times at
    // least, and a fit that stands out of the noise of that many points; else
    // what was matched was something else (such as the particles' own shape).
    if (out->zeros.size() < 4 || seen < out->zeros[3] || out->score * std::sqrt((double)band.size()) < kMinFit) {
        out->why = "no Thon rings found";
        return 0;
    }
    if (!(as.D > 0.05 && as.D < 50 && half < as.D) || !std::isfinite(out->score) || !std::isfinite(out->resolution)) {
        out->why = "the fit did not converge";
        return 0;
    }
    if (keep) {
        keep->T = T;
        keep->pixel = p.pixel;
        keep->bg = sp.bg;
        keep->ps = std::move(ps);
    }
    return 1;
}
