#include "ctf/ctf2d.h"

#include <algorithm>
#include <cmath>

#include "core/MRCData.h"
#include "ctf/model.h"
#include "fft/ifftsubs.h"
#include "numeric/fcrop.h"
#include "numeric/fradius.h"

namespace {
constexpr double kPi = 3.14159265358979323846;

// Mean of the outermost rows and columns.
double edgeMean(const float* img, int nx, int ny) {
    double s = 0;
    long n = 0;
    for (int x = 0; x < nx; x++) {
        s += img[x] + img[(size_t)(ny - 1) * nx + x];
        n += 2;
    }
    for (int y = 1; y + 1 < ny; y++) {
        s += img[(size_t)y * nx] + img[(size_t)y * nx + nx - 1];
        n += 2;
    }
    return n ? s / n : 0;
}
}  // namespace

Ctf2d ctf2d_from(const CtfEstimate& e, const CtfEstimateParams& p) {
    Ctf2d c;
    c.defocusU = e.defocusU;
    c.defocusV = e.defocusV;
    c.angle = e.astigAngle;
    c.kv = p.kv;
    c.csMM = p.csMM;
    c.ac = p.ac;
    return c;
}

double ctf2d_defocus(const Ctf2d& c, double theta) {
    const double a = c.angle * kPi / 180;
    return 0.5 * (c.defocusU + c.defocusV) + 0.5 * (c.defocusU - c.defocusV) * std::cos(2 * (theta - a));
}

double ctf2d_value(const Ctf2d& c, double sx, double sy) {
    const CtfContext ctx = ctf_context((float)c.kv, (float)c.csMM, 1);
    const double s = std::hypot(sx, sy);
    const double th = s > 0 ? std::atan2(sy, sx) : 0;
    return ctf_term(s, ctf2d_defocus(c, th), c.ac, ctx.lambda, ctx.Cs);
}

std::vector<signed char> ctf2d_signs(int nx, int ny, double pixel, const Ctf2d& c) {
    std::vector<signed char> sg;
    if (nx < 2 || ny < 1 || !(pixel > 0)) return sg;
    const int nh = nx / 2 + 1;
    sg.resize((size_t)nh * ny);
    const CtfContext ctx = ctf_context((float)c.kv, (float)c.csMM, 1);
    for (int r = 0; r < ny; r++) {
        const double sy = fft_freq_of(r, ny) / (ny * pixel);
        for (int h = 0; h < nh; h++) {
            // The Nyquist column holds (h, k) and its alias (-h, k) as one value:
            // one sign for k and -k keeps the image real.
            const double sx = h / (nx * pixel), s = std::hypot(sx, sy);
            const double th = s > 0 ? std::atan2(2 * h == nx ? std::fabs(sy) : sy, sx) : 0;
            sg[(size_t)r * nh + h] = ctf_term(s, ctf2d_defocus(c, th), c.ac, ctx.lambda, ctx.Cs) < 0 ? -1 : 1;
        }
    }
    return sg;
}

namespace {
// Transforms a (rows of nx + 2 floats), multiplies by the signs, transforms back.
void applySigns(float* a, int nx, int ny, const std::vector<signed char>& sg) {
    int dir = 0;
    todfft(a, &nx, &ny, &dir);
    const int nh = nx / 2 + 1;
    for (int r = 0; r < ny; r++) {
        float* row = a + (size_t)r * (nx + 2);
        const signed char* sr = &sg[(size_t)r * nh];
        for (int h = 0; h < nh; h++) {
            row[2 * h] *= sr[h];
            row[2 * h + 1] *= sr[h];
        }
    }
    dir = 1;
    todfft(a, &nx, &ny, &dir);
}
}  // namespace

int ctf2d_flip_rows(float* a, int nx, int ny, const std::vector<signed char>& signs) {
    if (nx < 2 || ny < 2 || !isvalidfft(nx) || !isvalidfft(ny) || signs.size() != (size_t)(nx / 2 + 1) * ny)
        return 0;
    applySigns(a, nx, ny, signs);
    return 1;
}

double ctf2d_zero(const Ctf2d& c, double theta, int z) {
    if (z < 1 || !(c.ac >= 0 && c.ac < 1)) return 0;
    // gamma = -a u^2 - b u in u = s^2; the CTF is sin(gamma + alpha).
    const CtfContext ctx = ctf_context((float)c.kv, (float)c.csMM, 1);
    const double lambda = ctx.lambda, a = kPi / 2 * ctx.Cs * lambda * lambda * lambda;
    const double b = kPi * 1e4 * ctf2d_defocus(c, theta) * lambda, alpha = std::asin(c.ac);
    double u = 0;
    if (b < 0) {
        // Underfocus: gamma rises from 0 to -b^2 / 4a; zeros at gamma = z pi - alpha.
        const double t = z * kPi - alpha, disc = b * b - 4 * a * t;
        if (disc < 0) return 0;
        u = 2 * t / (-b + std::sqrt(disc));
    } else {
        // Overfocus or none: gamma falls from 0; zeros at gamma = -alpha - (z - 1) pi.
        const double t = alpha + (z - 1) * kPi, disc = b * b + 4 * a * t;
        if (!(b + std::sqrt(disc) > 0)) return 0;
        u = 2 * t / (b + std::sqrt(disc));
    }
    return u > 0 ? std::sqrt(u) : 0;
}

double ctf2d_equiphase(const Ctf2d& c, double s, double theta) {
    // gamma / -2 pi = a s^4 + B s^2 at defocus D, B = 1e4 D lambda / 2: solve a u^2 + Bm u = phi for u = s'^2
    // on the branch that starts at u = 0.
    const CtfContext ctx = ctf_context((float)c.kv, (float)c.csMM, 1);
    const double lambda = ctx.lambda, a = ctx.Cs * lambda * lambda * lambda / 4;
    const double B = 1e4 * ctf2d_defocus(c, theta) * lambda / 2, Bm = 1e4 * 0.5 * (c.defocusU + c.defocusV) * lambda / 2;
    const double s2 = s * s, phi = a * s2 * s2 + B * s2, disc = Bm * Bm + 4 * a * phi;
    const double den = Bm + (Bm < 0 ? -1 : 1) * std::sqrt(std::max(0.0, disc));
    if (disc < 0 || den == 0) return s;
    const double u = 2 * phi / den;
    return u > 0 ? std::sqrt(u) : s;
}

int ctf2d_profile(const MRCData& F, const Ctf2d& c, float* out) {
    if (!F.isComplex() || !(F.Pixres() > 0)) return 0;
    const int nx = F.xSize(), NX = nx - 2, NY = F.ySize();
    const float xs = fourier_xscale(NX, NY);
    const double step = nx * xs * 0.6 / 200, px = F.Pixres();
    float *W = out, *P = out + 200;
    std::fill(out, out + 400, 0.0f);
    const float* d = F.getRealData();
    for (int r = 0; r < NY; r++) {
        const int k = r - NY / 2;
        for (int h = 0; h <= NX / 2; h++) {
            const double rad = fourier_radius(h, k, xs), th = std::atan2((double)k, h * (double)xs);
            const double t = ctf2d_equiphase(c, rad / (NY * px), th) * NY * px / step;
            const int i = (int)t;
            if (!(t >= 0) || i >= 199) continue;
            const double f = t - i, a = d[(size_t)r * nx + 2 * h], a2 = a * a;
            W[i] += (float)(1 - f);
            W[i + 1] += (float)f;
            P[i] += (float)(a2 * (1 - f));
            P[i + 1] += (float)(a2 * f);
        }
    }
    radial_profile_finish(W, P, 200);
    for (int i = 0; i < 200; i++) W[i] = (float)(step * i);
    return 1;
}

int ctf2d_spectrum_profile(const CtfSpectrum& sp, const Ctf2d& c, double step, float* out) {
    const int T = sp.T, half = T / 2;
    if (T < 2 || sp.ps.size() != (size_t)T * (half + 1) || !(sp.pixel > 0) || !(step > 0)) return 0;
    float W[200] = {}, *P = out;
    std::fill(out, out + 200, 0.0f);
    const double f = 1.0 / (T * (double)sp.pixel);
    for (int k = -half; k < half; k++)
        for (int h = 0; h <= half; h++) {
            const double s = std::hypot((double)h, (double)k) * f, th = std::atan2((double)k, (double)h);
            const double t = ctf2d_equiphase(c, s, th) / step;
            const int i = (int)t;
            if (!(t >= 0) || i >= 199) continue;
            const double w = t - i, v = sp.ps[(size_t)(k + half) * (half + 1) + h];
            W[i] += (float)(1 - w);
            W[i + 1] += (float)w;
            P[i] += (float)(v * (1 - w));
            P[i + 1] += (float)(v * w);
        }
    radial_profile_finish(W, P, 200);
    return 1;
}

int ctf2d_flip(float* img, int nx, int ny, double pixel, const Ctf2d& c) {
    if (nx < 1 || ny < 1 || !(pixel > 0)) return 0;
    int px = std::max(2, npfa(nx)), py = std::max(2, npfa(ny));
    const float fill = (float)edgeMean(img, nx, ny);
    std::vector<float> a((size_t)(px + 2) * py, fill);
    for (int y = 0; y < ny; y++) std::copy(img + (size_t)y * nx, img + (size_t)(y + 1) * nx, &a[(size_t)y * (px + 2)]);
    applySigns(a.data(), px, py, ctf2d_signs(px, py, pixel, c));
    for (int y = 0; y < ny; y++) std::copy(&a[(size_t)y * (px + 2)], &a[(size_t)y * (px + 2)] + nx, img + (size_t)y * nx);
    return 1;
}
