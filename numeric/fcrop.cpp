#include "numeric/fcrop.h"

#include <algorithm>
#include <cmath>

#include "fft/ifftsubs.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// The jumps across the edges of an image: along x, d(x) = u(x, ny-1) - u(x, 0);
// along y, e(y) = u(nx-1, y) - u(0, y).
struct EdgeJumps {
    std::vector<double> dx, dy;
};

// The transform (todfft's sign and scale, pairs h = 0..hmax of rows k = -kh..kh-1)
// of the smooth component of an nx by ny image with those jumps (Moisan 2011):
// S = V / (2 cos 2pi q/nx + 2 cos 2pi r/ny - 4), V the transform of the jumps,
// which reduces to 1-D sums over them. Calls f(row, q, re, im) for each value.
template <class F>
void smoothSpectrum(const EdgeJumps& j, int nx, int ny, int hmax, int kh, F f) {
    const double sc = 1 / std::sqrt((double)nx * ny);
    std::vector<double> ar(hmax + 1), ai(hmax + 1), br(2 * kh), bi(2 * kh);
    // Sums of d e^{i t j}: the twiddle advances by a rotation, in double.
    auto sum = [](const std::vector<double>& d, double t, double* re, double* im) {
        const double c = std::cos(t), s = std::sin(t);
        double wr = 1, wi = 0, sr = 0, si = 0;
        for (double v : d) {
            sr += v * wr, si += v * wi;
            const double w = wr * c - wi * s;
            wi = wr * s + wi * c, wr = w;
        }
        *re = sr, *im = si;
    };
    for (int q = 0; q <= hmax; q++) sum(j.dx, 2 * kPi * q / nx, &ar[q], &ai[q]);
    for (int k = -kh; k < kh; k++) sum(j.dy, 2 * kPi * k / ny, &br[k + kh], &bi[k + kh]);
    std::vector<double> cosq(hmax + 1), sinq(hmax + 1);
    for (int q = 0; q <= hmax; q++) cosq[q] = std::cos(2 * kPi * q / nx), sinq[q] = std::sin(2 * kPi * q / nx);
    for (int k = -kh; k < kh; k++) {
        const double tr = 2 * kPi * k / ny, cr = 1 - std::cos(tr), sr = std::sin(tr);
        for (int q = 0; q <= hmax; q++) {
            if (q == 0 && k == 0) continue;
            const double cq = 1 - cosq[q], sq = sinq[q];
            // V = A (1 - e^{-i tr}) + B (1 - e^{-i tq})
            const double vr = ar[q] * cr - ai[q] * sr + br[k + kh] * cq - bi[k + kh] * sq;
            const double vi = ar[q] * sr + ai[q] * cr + br[k + kh] * sq + bi[k + kh] * cq;
            const double den = sc / (2 * cosq[q] + 2 * std::cos(tr) - 4);
            f(fft_row_of(k, ny), q, vr * den, vi * den);
        }
    }
}

}  // namespace

int fourier_resize(const float* src, int nx, int ny, int mx, int my, std::vector<float>* out, bool periodic) {
    if (nx < 2 || ny < 2 || mx < 2 || my < 2 || !isvalidfft(nx) || !isvalidfft(ny) || !isvalidfft(mx) ||
        !isvalidfft(my))
        return 0;
    std::vector<float> a((size_t)(nx + 2) * ny);
    for (int y = 0; y < ny; y++) std::copy(src + (size_t)y * nx, src + (size_t)(y + 1) * nx, &a[(size_t)y * (nx + 2)]);
    int dir = 0;
    todfft(a.data(), &nx, &ny, &dir);
    std::vector<float> b((size_t)(mx + 2) * my, 0.0f);
    const int hmax = std::min(nx, mx) / 2, kh = std::min(ny, my) / 2;
    // Shrinking, the new Nyquist row takes frequency +my/2, not -my/2, as RELION's
    // resizing does: the same choice gives the same particles.
    const int kLo = my < ny ? 1 - my / 2 : -ny / 2, kHi = my < ny ? my / 2 : ny / 2 - 1;
    // Periodic: the smooth component goes before cropping, and comes back
    // computed on the new grid from the same jumps (averaged over its pixels),
    // where it has no ringing to bring.
    EdgeJumps fine, coarse;
    if (periodic) {
        fine.dx.resize(nx), fine.dy.resize(ny);
        for (int x = 0; x < nx; x++) fine.dx[x] = (double)src[(size_t)(ny - 1) * nx + x] - src[x];
        for (int y = 0; y < ny; y++) fine.dy[y] = (double)src[(size_t)y * nx + nx - 1] - src[(size_t)y * nx];
        smoothSpectrum(fine, nx, ny, hmax, kh, [&](int r, int q, double re, double im) {
            a[(size_t)r * (nx + 2) + 2 * q] -= (float)re;
            a[(size_t)r * (nx + 2) + 2 * q + 1] -= (float)im;
        });
        auto average = [](const std::vector<double>& v, int m) {
            std::vector<double> out(m, 0.0);
            const double step = (double)v.size() / m;
            for (int i = 0; i < m; i++) {
                const int a0 = (int)std::floor(i * step), a1 = std::max(a0 + 1, (int)std::floor((i + 1) * step));
                for (int t = a0; t < a1 && t < (int)v.size(); t++) out[i] += v[t] / (a1 - a0);
            }
            return out;
        };
        coarse.dx = average(fine.dx, mx), coarse.dy = average(fine.dy, my);
    }
    // Both scale by 1/sqrt(size): the factor keeps a constant image constant.
    const float f = (float)std::sqrt((double)mx * my / ((double)nx * ny));
    for (int k = kLo; k <= kHi; k++) {
        const float* ra = &a[(size_t)fft_row_of(k, ny) * (nx + 2)];
        float* rb = &b[(size_t)fft_row_of(k, my) * (mx + 2)];
        for (int i = 0; i < 2 * (hmax + 1); i++) rb[i] = f * ra[i];
    }
    if (periodic)
        smoothSpectrum(coarse, mx, my, mx / 2, my / 2, [&](int r, int q, double re, double im) {
            b[(size_t)r * (mx + 2) + 2 * q] += (float)re;
            b[(size_t)r * (mx + 2) + 2 * q + 1] += (float)im;
        });
    dir = 1;
    todfft(b.data(), &mx, &my, &dir);
    out->resize((size_t)mx * my);
    for (int y = 0; y < my; y++)
        std::copy(&b[(size_t)y * (mx + 2)], &b[(size_t)y * (mx + 2)] + mx, out->data() + (size_t)y * mx);
    return 1;
}
