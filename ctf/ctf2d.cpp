#include "ctf/ctf2d.h"

#include <algorithm>
#include <cmath>

#include "ctf/model.h"
#include "fft/ifftsubs.h"
#include "numeric/fcrop.h"

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
