#include "pick/autopick.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/MRCData.h"
#include "fft/ifftsubs.h"
#include "numeric/fcrop.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// Scores below this are not kept as candidates: no threshold that low picks
// anything but noise.
constexpr float kCandidateFloor = 1.5f;

double diameterPx(const AutopickParams& p) {
    return p.diameter / p.pixel;
}

}  // namespace

float autopick_min_distance_px(const AutopickParams& p) {
    const double d = p.minDistance > 0 ? p.minDistance : 0.9 * p.diameter;
    return p.pixel > 0 ? (float)(d / p.pixel) : 0.0f;
}

int autopick_box_size(const AutopickParams& p) {
    if (p.boxSize > 0) return p.boxSize;
    if (!(p.pixel > 0) || !(p.diameter > 0)) return 0;
    const int b = (int)std::ceil(1.5 * diameterPx(p));
    return b + (b & 1);
}

int autopick_check(int nx, int ny, const AutopickParams& p) {
    if (!(p.pixel > 0) || !std::isfinite(p.pixel)) {
        std::printf("Auto pick: the micrograph has no pixel size\n");
        return 0;
    }
    if (!(p.diameter > 0) || !std::isfinite(p.diameter)) {
        std::printf("Auto pick: the particle diameter must be a positive number of Angstrom\n");
        return 0;
    }
    const double d = diameterPx(p);
    if (d < 4) {
        std::printf("Auto pick: a %g A particle is only %.1f pixels of %g A across; at least 4 are needed\n",
                    (double)p.diameter, d, (double)p.pixel);
        return 0;
    }
    const int box = autopick_box_size(p);
    if (d > std::min(nx, ny) / 2.0 || box > std::min(nx, ny)) {
        std::printf("Auto pick: a %g A particle (%.0f pixels, box %d) does not fit a %d x %d micrograph\n",
                    (double)p.diameter, d, box, nx, ny);
        return 0;
    }
    if (!(p.threshold >= 0) || !std::isfinite(p.threshold) || !(p.minDistance >= 0) || !std::isfinite(p.minDistance)) {
        std::printf("Auto pick: threshold and minimum distance must not be negative\n");
        return 0;
    }
    if (p.mode == AUTOPICK_TEMPLATE) {
        if (p.templNx < 1 || p.templNy < 1 || p.templ.size() != (size_t)p.templNx * p.templNy) {
            std::printf("Auto pick: template mode needs a template\n");
            return 0;
        }
        if (std::min(p.templNx, p.templNy) < d / 2) {
            std::printf("Auto pick: the template (%d x %d) is smaller than half the particle (%.0f pixels)\n", p.templNx,
                        p.templNy, d);
            return 0;
        }
        if (p.templNx > nx || p.templNy > ny) {
            std::printf("Auto pick: the template (%d x %d) is larger than the micrograph (%d x %d)\n", p.templNx,
                        p.templNy, nx, ny);
            return 0;
        }
    } else if (p.mode != AUTOPICK_BLOB) {
        std::printf("Auto pick: unknown mode %d\n", p.mode);
        return 0;
    }
    return 1;
}

bool autopick_same_response(const AutopickParams& a, const AutopickParams& b) {
    if (a.mode != b.mode || a.diameter != b.diameter || a.pixel != b.pixel || a.rejectOutliers != b.rejectOutliers)
        return false;
    if (a.mode == AUTOPICK_BLOB) return a.invert == b.invert;
    return a.templNx == b.templNx && a.templNy == b.templNy && a.templ == b.templ;
}

namespace {

// Sampling: the particle is this many working pixels across. Blob mode needs
// only its outline; the template keeps some of its inner detail.
constexpr double kBlobWorkD = 20, kTemplateWorkD = 36;
// Margin of mirrored image about the working image, in diameters: no filter
// reaches farther, so nothing wraps around.
constexpr double kMarginD = 1.5;
// Contamination lies this many spreads from the micrograph's level, over
// at least this many particle areas.
constexpr float kOutlierSpreads = 4;
constexpr double kOutlierAreas = 5;
// Peaks from this score on are kept out of the noise measure.
constexpr float kReferenceScore = 3;

// The smallest even size from n on with no prime factor above 5: the
// transforms run fastest there.
int fastSize(int n) {
    for (int m = std::max(2, n + (n & 1));; m += 2) {
        int r = m;
        for (int p : {2, 3, 5})
            while (r % p == 0) r /= p;
        if (r == 1) return m;
    }
}

// No NaN or infinity among n floats: no exponent of all ones (a pass that
// vectorises).
bool allFinite(const float* v, size_t n) {
    uint32_t bad = 0;
    for (size_t i = 0; i < n; i++) {
        uint32_t b;
        std::memcpy(&b, v + i, 4);
        bad |= (b & 0x7f800000u) == 0x7f800000u;
    }
    return !bad;
}

// Reflects an index into 0..n-1 (period 2n).
inline int mirror(long i, long n) {
    i %= 2 * n;
    if (i < 0) i += 2 * n;
    return (int)(i < n ? i : 2 * n - 1 - i);
}

// The micrograph at working sampling and its transform.
struct Work {
    int wx = 0, wy = 0;        // working image: the micrograph's area
    double sx = 1, sy = 1;     // micrograph pixels per working pixel
    int fx = 0, fy = 0;        // transform size, margin included
    int ox = 0, oy = 0;        // the working image's corner in it
    std::vector<float> img;    // wx * wy
    std::vector<float> ft;   // transform of the mirrored, padded image (rows of fx + 2)
    std::vector<unsigned char> filled;  // contamination made plain, and its surround: no noise to measure
};

// Bins the micrograph by Fourier cropping so that the particle is about
// `target` pixels across (never enlarged). Sizes that are no valid transform
// size are mirrored out to the next valid one first.
bool binMicrograph(const float* image, int nx, int ny, double dpx, double target, Work* w) {
    const double b = dpx / target;
    const int px = isvalidfft(nx) ? nx : fastSize(nx), py = isvalidfft(ny) ? ny : fastSize(ny);
    int mx = fastSize((int)std::ceil(px / std::max(b, 1.0))), my = fastSize((int)std::ceil(py / std::max(b, 1.0)));
    if (b < 1.25 || mx >= px || my >= py) {
        w->wx = nx, w->wy = ny, w->sx = w->sy = 1;
        w->img.assign(image, image + (size_t)nx * ny);
        return true;
    }
    std::vector<float> padded, binned;
    const float* src = image;
    if (px != nx || py != ny) {
        padded.resize((size_t)px * py);
        for (int y = 0; y < py; y++) {
            const float* row = image + (size_t)mirror(y, ny) * nx;
            float* out = &padded[(size_t)y * px];
            std::copy(row, row + nx, out);
            for (int x = nx; x < px; x++) out[x] = row[mirror(x, nx)];
        }
        src = padded.data();
    }
    if (!fourier_resize(src, px, py, mx, my, &binned, true)) return false;
    w->sx = (double)px / mx, w->sy = (double)py / my;
    w->wx = std::min(mx, (int)std::floor(nx / w->sx)), w->wy = std::min(my, (int)std::floor(ny / w->sy));
    w->img.resize((size_t)w->wx * w->wy);
    for (int y = 0; y < w->wy; y++)
        std::copy_n(&binned[(size_t)y * mx], w->wx, &w->img[(size_t)y * w->wx]);
    return true;
}

// Median and robust spread (1.4826 median absolute deviation) of values; of
// an even sample of at most 2^16 of them, as precise as the statistics need.
void robust(const std::vector<float>& all, float* med, float* spread) {
    *med = 0, *spread = 0;
    if (all.empty()) return;
    const size_t step = (all.size() >> 16) + 1;
    std::vector<float> v;
    v.reserve(all.size() / step + 1);
    for (size_t i = 0; i < all.size(); i += step) v.push_back(all[i]);
    const size_t h = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + h, v.end());
    const float m = v[h];
    for (float& x : v) x = std::fabs(x - m);
    std::nth_element(v.begin(), v.begin() + h, v.end());
    *med = m, *spread = 1.4826f * v[h];
}

// The least-squares plane a + gx (x - mx) + gy (y - my) through the pixels
// not masked out.
struct Plane {
    double a = 0, gx = 0, gy = 0, mx = 0, my = 0;
    double at(int x, int y) const { return a + gx * (x - mx) + gy * (y - my); }
};
Plane fitPlane(const std::vector<float>& img, int X, int Y, const std::vector<unsigned char>* masked) {
    double n = 0, sx = 0, sy = 0, sv = 0, sxx = 0, sxy = 0, syy = 0, sxv = 0, syv = 0;
    for (int y = 0; y < Y; y++)
        for (int x = 0; x < X; x++) {
            const size_t i = (size_t)y * X + x;
            if (masked && (*masked)[i]) continue;
            const double v = img[i];
            n++, sx += x, sy += y, sv += v, sxx += (double)x * x, sxy += (double)x * y, syy += (double)y * y;
            sxv += x * v, syv += y * v;
        }
    Plane p;
    if (n < 3) return p;
    p.mx = sx / n, p.my = sy / n, p.a = sv / n;
    const double cxx = sxx / n - p.mx * p.mx, cxy = sxy / n - p.mx * p.my, cyy = syy / n - p.my * p.my;
    const double cxv = sxv / n - p.mx * p.a, cyv = syv / n - p.my * p.a, det = cxx * cyy - cxy * cxy;
    if (det > 0) p.gx = (cxv * cyy - cyv * cxy) / det, p.gy = (cyv * cxx - cxv * cxy) / det;
    return p;
}

// Subtracts the plane of the ice: the mean, and a gradient that the mirrored
// margins would otherwise fold into a ridge. Fitted again without the pixels
// far from it (contamination would tilt it), or without the masked ones.
void removePlane(Work* w, const std::vector<unsigned char>* masked = nullptr) {
    const int X = w->wx, Y = w->wy;
    Plane p = fitPlane(w->img, X, Y, masked);
    if (!masked) {
        std::vector<unsigned char> far((size_t)X * Y);
        std::vector<float> res((size_t)X * Y);
        for (int pass = 0; pass < 2; pass++) {
            for (int y = 0; y < Y; y++)
                for (int x = 0; x < X; x++) res[(size_t)y * X + x] = w->img[(size_t)y * X + x] - (float)p.at(x, y);
            float med, spread;
            robust(res, &med, &spread);
            for (size_t i = 0; i < res.size(); i++) far[i] = std::fabs(res[i] - med) > 3 * spread;
            p = fitPlane(w->img, X, Y, &far);
        }
    }
    for (int y = 0; y < Y; y++)
        for (int x = 0; x < X; x++) w->img[(size_t)y * X + x] -= (float)p.at(x, y);
}

// Transform of a wx by wy map mirrored out by `margin` to valid sizes.
void transformMirrored(const std::vector<float>& img, const Work& w, std::vector<float>* ft) {
    ft->assign((size_t)(w.fx + 2) * w.fy, 0.0f);
    for (int y = 0; y < w.fy; y++) {
        const float* row = &img[(size_t)mirror(y - w.oy, w.wy) * w.wx];
        float* out = &(*ft)[(size_t)y * (w.fx + 2)];
        for (int x = 0; x < w.fx; x++) out[x] = row[mirror(x - w.ox, w.wx)];
    }
    int fx = w.fx, fy = w.fy, dir = 0;
    todfft(ft->data(), &fx, &fy, &dir);
}

void setupTransform(Work* w, double dWork) {
    const int margin = (int)std::ceil(kMarginD * dWork);
    w->fx = fastSize(w->wx + 2 * margin), w->fy = fastSize(w->wy + 2 * margin);
    w->ox = (w->fx - w->wx) / 2, w->oy = (w->fy - w->wy) / 2;
    transformMirrored(w->img, *w, &w->ft);
}

// The working image's area of the inverse transform of ft with every value
// pair (frequency (u, v) in cycles per working pixel) changed by f.
template <class F>
void inverseWith(const Work& w, const std::vector<float>& ft, F f, std::vector<float>* out) {
    std::vector<float> a(ft);
    const int row = w.fx + 2;
    for (int r = 0; r < w.fy; r++) {
        const double v = (double)fft_freq_of(r, w.fy) / w.fy;
        float* p = &a[(size_t)r * row];
        for (int h = 0; h <= w.fx / 2; h++) f((double)h / w.fx, v, p + 2 * h);
    }
    int fx = w.fx, fy = w.fy, dir = 1;
    todfft(a.data(), &fx, &fy, &dir);
    out->resize((size_t)w.wx * w.wy);
    for (int y = 0; y < w.wy; y++) std::copy_n(&a[(size_t)(y + w.oy) * row + w.ox], w.wx, &(*out)[(size_t)y * w.wx]);
}

// Gaussian blur of standard deviation s working pixels.
void gaussian(const Work& w, const std::vector<float>& ft, double s, std::vector<float>* out) {
    const double k = -2 * kPi * kPi * s * s;
    inverseWith(w, ft, [k](double u, double v, float* p) {
        const float g = (float)std::exp(k * (u * u + v * v));
        p[0] *= g, p[1] *= g;
    }, out);
}

// A response map in units of its own robust noise. Particles widen the
// spread of the whole map, so the noise is measured a second time away from
// the clear peaks of the first measure (discs a particle across).
void toNoiseUnits(const Work& w, double dWork, std::vector<float>* r) {
    float med, spread;
    if (w.filled.empty()) {
        robust(*r, &med, &spread);
    } else {
        std::vector<float> open;
        for (size_t i = 0; i < r->size(); i++)
            if (!w.filled[i]) open.push_back((*r)[i]);
        robust(open.empty() ? *r : open, &med, &spread);
    }
    if (spread > 0) {
        const int X = w.wx, Y = w.wy, R = (int)std::ceil(0.6 * dWork);
        const float high = med + kReferenceScore * spread;
        std::vector<unsigned char> near((size_t)X * Y, 0);
        for (int y = 1; y + 1 < Y; y++)
            for (int x = 1; x + 1 < X; x++) {
                const float v = (*r)[(size_t)y * X + x];
                if (v < high || v < (*r)[(size_t)y * X + x - 1] || v < (*r)[(size_t)y * X + x + 1] ||
                    v < (*r)[(size_t)(y - 1) * X + x] || v < (*r)[(size_t)(y + 1) * X + x])
                    continue;
                for (int j = std::max(0, y - R); j <= std::min(Y - 1, y + R); j++)
                    for (int i = std::max(0, x - R); i <= std::min(X - 1, x + R); i++)
                        if ((i - x) * (i - x) + (j - y) * (j - y) <= R * R) near[(size_t)j * X + i] = 1;
            }
        std::vector<float> rest;
        rest.reserve(r->size());
        for (size_t i = 0; i < r->size(); i++)
            if (!near[i] && (w.filled.empty() || !w.filled[i])) rest.push_back((*r)[i]);
        // Mostly particles: the first measure stands.
        if (rest.size() * 4 >= r->size()) robust(rest, &med, &spread);
    }
    const float k = spread > 0 ? 1 / spread : 0;
    for (float& x : *r) x = (x - med) * k;
}

// Blob response: the scale-normalised Laplacian of Gaussian at a few scales
// about the particle's, each in its noise units, the best at every pixel.
// Positive on dark blobs (bright ones when inverted).
void blobResponse(const Work& w, double dWork, bool invert, std::vector<float>* best) {
    const double sigma0 = dWork / 2 / std::sqrt(2.0);  // a disc of radius r answers most at r / sqrt 2
    const double sign = invert ? 1 : -1;
    std::vector<float> r;
    best->assign((size_t)w.wx * w.wy, -1e30f);
    for (double c : {0.7, 0.85, 1.0, 1.2, 1.45}) {
        const double s = sigma0 * c, k = -2 * kPi * kPi * s * s, n = sign * 4 * kPi * kPi * s * s;
        inverseWith(w, w.ft, [k, n](double u, double v, float* p) {
            const double f2 = u * u + v * v;
            const float g = (float)(n * f2 * std::exp(k * f2));
            p[0] *= g, p[1] *= g;
        }, &r);
        toNoiseUnits(w, dWork, &r);
        for (size_t i = 0; i < r.size(); i++) (*best)[i] = std::max((*best)[i], r[i]);
    }
}

// Transform of a kernel given as a function of the distance from its centre
// (working pixels), wrapped about the origin; scaled so that multiplying a
// transform by it convolves.
template <class F>
void kernelSpectrum(const Work& w, double radius, F k, std::vector<float>* ft) {
    const int row = w.fx + 2, R = (int)std::ceil(radius);
    ft->assign((size_t)row * w.fy, 0.0f);
    const float scale = (float)std::sqrt((double)w.fx * w.fy);
    for (int y = -R; y <= R; y++)
        for (int x = -R; x <= R; x++) {
            const double d = std::hypot((double)x, (double)y);
            if (d <= radius) (*ft)[(size_t)fft_row_of(y, w.fy) * row + fft_row_of(x, w.fx)] = scale * (float)k(d);
        }
    int fx = w.fx, fy = w.fy, dir = 0;
    todfft(ft->data(), &fx, &fy, &dir);
}

void multiplyBy(const std::vector<float>& k, int row, int r, int h, float* p) {
    const float* q = &k[(size_t)r * row + 2 * h];
    const float re = p[0] * q[0] - p[1] * q[1], im = p[0] * q[1] + p[1] * q[0];
    p[0] = re, p[1] = im;
}

void convolve(const Work& w, const std::vector<float>& ft, const std::vector<float>& k, std::vector<float>* out) {
    const int row = w.fx + 2;
    std::vector<float> a(ft);
    for (int r = 0; r < w.fy; r++)
        for (int h = 0; h <= w.fx / 2; h++) multiplyBy(k, row, r, h, &a[(size_t)r * row + 2 * h]);
    int fx = w.fx, fy = w.fy, dir = 1;
    todfft(a.data(), &fx, &fy, &dir);
    out->resize((size_t)w.wx * w.wy);
    for (int y = 0; y < w.wy; y++) std::copy_n(&a[(size_t)(y + w.oy) * row + w.ox], w.wx, &(*out)[(size_t)y * w.wx]);
}

}  // namespace

namespace {

// Radial profile of an image about its centre pixel (nx/2, ny/2), in steps
// of one pixel out to the largest circle inside it; each pixel shares its
// weight between the two nearest steps.
std::vector<double> radialProfile(const float* img, int nx, int ny) {
    const int cx = nx / 2, cy = ny / 2, n = std::min(nx, ny) / 2 + 2;
    std::vector<double> sum(n + 1, 0.0), wt(n + 1, 0.0);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) {
            const double d = std::hypot((double)(x - cx), (double)(y - cy));
            const int i = (int)d;
            if (i >= n) continue;
            const double f = d - i, v = img[(size_t)y * nx + x];
            sum[i] += (1 - f) * v, wt[i] += 1 - f;
            sum[i + 1] += f * v, wt[i + 1] += f;
        }
    std::vector<double> p(n + 1, 0.0);
    for (int i = 0; i <= n; i++) p[i] = wt[i] > 0 ? sum[i] / wt[i] : (i > 0 ? p[i - 1] : 0);
    return p;
}

double profileAt(const std::vector<double>& p, double d) {
    const int i = (int)d;
    if (i + 1 >= (int)p.size()) return p.back();
    const double f = d - i;
    return (1 - f) * p[i] + f * p[i + 1];
}

// Locally normalised cross-correlation with the rotationally averaged
// template, on a disc a little wider than the particle: brightness and
// contrast of the neighbourhood divide out.
void templateResponse(const Work& w, const AutopickParams& p, double dWork, std::vector<float>* out) {
    const std::vector<double> prof = radialProfile(p.templ.data(), p.templNx, p.templNy);
    const double s = std::sqrt(w.sx * w.sy);
    const double radius = std::min((std::min(p.templNx, p.templNy) / 2 - 1) / s, 0.8 * dWork);
    // The profile at working sampling: averaged over one working pixel.
    auto t = [&](double rho) {
        double a = 0;
        for (int i = 0; i < 8; i++) a += profileAt(prof, std::max(0.0, (rho + (i + 0.5) / 8 - 0.5) * s));
        return a / 8;
    };
    // Zero mean and unit norm over the disc.
    double m = 0, n = 0, q = 0;
    const int R = (int)std::ceil(radius);
    for (int y = -R; y <= R; y++)
        for (int x = -R; x <= R; x++) {
            const double d = std::hypot((double)x, (double)y);
            if (d <= radius) m += t(d), n++;
        }
    m /= n;
    for (int y = -R; y <= R; y++)
        for (int x = -R; x <= R; x++) {
            const double d = std::hypot((double)x, (double)y);
            if (d <= radius) q += (t(d) - m) * (t(d) - m);
        }
    const double norm = q > 0 ? 1 / std::sqrt(q) : 0;
    std::vector<float> kt, km, spec2, num, s1, s2;
    kernelSpectrum(w, radius, [&](double d) { return (t(d) - m) * norm; }, &kt);
    kernelSpectrum(w, radius, [](double) { return 1.0; }, &km);
    std::vector<float> sq(w.img.size());
    for (size_t i = 0; i < sq.size(); i++) sq[i] = w.img[i] * w.img[i];
    transformMirrored(sq, w, &spec2);
    convolve(w, w.ft, kt, &num);
    convolve(w, w.ft, km, &s1);
    convolve(w, spec2, km, &s2);
    out->resize(num.size());
    for (size_t i = 0; i < num.size(); i++) {
        const double var = std::max(0.0, (double)s2[i] - (double)s1[i] * s1[i] / n);
        (*out)[i] = var > 0 ? (float)(num[i] / std::sqrt(var)) : 0.0f;
    }
    toNoiseUnits(w, dWork, out);
}

// The largest of n values a[0], a[st], ... within r places of each, in
// three comparisons a value (van Herk): maxima of blocks of 2r + 1 from their
// start and from their end.
void runningMax(const float* a, long st, int n, int r, float* out, std::vector<float>& fw, std::vector<float>& bw) {
    const int w = 2 * r + 1;
    fw.resize(n), bw.resize(n);
    for (int i = 0; i < n; i++) fw[i] = (i % w == 0) ? a[i * st] : std::max(fw[i - 1], a[i * st]);
    for (int i = n - 1; i >= 0; i--) bw[i] = (i == n - 1 || (i + 1) % w == 0) ? a[i * st] : std::max(bw[i + 1], a[i * st]);
    for (int i = 0; i < n; i++) {
        const int lo = std::max(0, i - r), hi = std::min(n - 1, i + r);
        // [lo, hi] is the end of one block and the start of the next; or lies in
        // one block, from its start or (clipped at n) to its end.
        out[i * st] = lo / w != hi / w ? std::max(bw[lo], fw[hi]) : lo % w == 0 ? fw[hi] : bw[lo];
    }
}

// The largest value within r pixels along x and along y (a square).
std::vector<float> maxFilter(const std::vector<float>& v, int X, int Y, int r) {
    std::vector<float> a(v.size()), b(v.size()), fw, bw;
    for (int y = 0; y < Y; y++) runningMax(&v[(size_t)y * X], 1, X, r, &a[(size_t)y * X], fw, bw);
    for (int x = 0; x < X; x++) runningMax(&a[x], X, Y, r, &b[x], fw, bw);
    return b;
}

// Working pixels on contamination or carbon: connected regions, larger than
// a few particles, where the local mean (about a diameter across) or the local
// variance of finer detail lies far outside the micrograph's own spread. Only
// the core of such a deviation counts, where it is at least half as large as
// anywhere within two blur widths: the blur would spread a deep region far
// beyond its edge, and a strong particle over several of its own areas. A
// particle, however strong, then makes a region of about its own size; thick
// ice and carbon make large ones.
std::vector<unsigned char> outlierRegions(const Work& w, double dWork) {
    const double s = 0.35 * dWork;
    std::vector<float> mean, var, hp2(w.img.size()), spec2;
    gaussian(w, w.ft, s, &mean);
    for (size_t i = 0; i < hp2.size(); i++) hp2[i] = (w.img[i] - mean[i]) * (w.img[i] - mean[i]);
    transformMirrored(hp2, w, &spec2);
    gaussian(w, spec2, s, &var);
    float ml, ms, vl, vs;
    robust(mean, &ml, &ms);
    robust(var, &vl, &vs);
    // Deviations in spreads; a region is where either is large.
    std::vector<float>& zm = mean;
    std::vector<float>& zv = var;
    for (size_t i = 0; i < zm.size(); i++) {
        zm[i] = ms > 0 ? std::fabs(mean[i] - ml) / ms : 0.0f;
        zv[i] = vs > 0 ? (var[i] - vl) / vs : 0.0f;
    }
    const int X = w.wx, Y = w.wy, r = (int)std::ceil(2 * s);
    const std::vector<float> nm = maxFilter(zm, X, Y, r), nv = maxFilter(zv, X, Y, r);
    std::vector<unsigned char> core((size_t)X * Y), out((size_t)X * Y, 0);
    for (size_t i = 0; i < core.size(); i++)
        core[i] = (zm[i] > kOutlierSpreads && zm[i] >= nm[i] / 2) || (zv[i] > kOutlierSpreads && zv[i] >= nv[i] / 2);
    // The large regions of core pixels (8-connected).
    const double large = kOutlierAreas * kPi * dWork * dWork / 4;
    std::vector<int> stack, region;
    for (int start = 0; start < X * Y; start++) {
        if (core[start] != 1) continue;
        region.clear();
        stack.assign(1, start);
        core[start] = 2;
        while (!stack.empty()) {
            const int i = stack.back();
            stack.pop_back();
            region.push_back(i);
            const int x = i % X, y = i / X;
            for (int j = std::max(0, y - 1); j <= std::min(Y - 1, y + 1); j++)
                for (int k = std::max(0, x - 1); k <= std::min(X - 1, x + 1); k++)
                    if (core[(size_t)j * X + k] == 1) {
                        core[(size_t)j * X + k] = 2;
                        stack.push_back(j * X + k);
                    }
        }
        if (region.size() >= large)
            for (int i : region) out[i] = 1;
    }
    return out;
}

// Grows a mask by r pixels (a square).
std::vector<unsigned char> dilate(const std::vector<unsigned char>& m, int X, int Y, int r) {
    std::vector<float> f(m.begin(), m.end());
    const std::vector<float> g = maxFilter(f, X, Y, r);
    std::vector<unsigned char> out(m.size());
    for (size_t i = 0; i < out.size(); i++) out[i] = g[i] > 0;
    return out;
}

// Makes contamination and carbon plain ice for the responses: their edges
// would otherwise answer more strongly than any particle beside them and
// swallow its peak. The plane is fitted again without them.
void fillRegions(Work* w, const std::vector<unsigned char>& reg, double dWork) {
    if (std::find(reg.begin(), reg.end(), 1) == reg.end()) return;
    const std::vector<unsigned char> grown = dilate(reg, w->wx, w->wy, (int)std::ceil(0.15 * dWork));
    removePlane(w, &grown);
    for (size_t i = 0; i < grown.size(); i++)
        if (grown[i]) w->img[i] = 0;
    transformMirrored(w->img, *w, &w->ft);
    w->filled = dilate(grown, w->wx, w->wy, (int)std::ceil(0.5 * dWork));
}

// Whether a region pixel lies within r working pixels of (x, y).
bool nearRegion(const std::vector<unsigned char>& reg, int X, int Y, int x, int y, int r) {
    for (int j = std::max(0, y - r); j <= std::min(Y - 1, y + r); j++)
        for (int i = std::max(0, x - r); i <= std::min(X - 1, x + r); i++)
            if (reg[(size_t)j * X + i] && (i - x) * (i - x) + (j - y) * (j - y) <= r * r) return true;
    return false;
}

// Local maxima of the score map (3 x 3, ties to the first) at or above the
// floor, centred to a fraction of a working pixel.
void localMaxima(const Work& w, const std::vector<float>& sc, const std::vector<unsigned char>& reg, double dWork,
                 std::vector<AutopickCandidate>* out) {
    const int X = w.wx, Y = w.wy;
    auto at = [&](int x, int y) { return sc[(size_t)y * X + x]; };
    for (int y = 1; y + 1 < Y; y++)
        for (int x = 1; x + 1 < X; x++) {
            const float v = at(x, y);
            if (!(v >= kCandidateFloor)) continue;
            bool peak = true;
            for (int j = -1; j <= 1 && peak; j++)
                for (int i = -1; i <= 1; i++) {
                    if (!i && !j) continue;
                    const float u = at(x + i, y + j);
                    if (u > v || (u == v && (j < 0 || (j == 0 && i < 0)))) {
                        peak = false;
                        break;
                    }
                }
            if (!peak) continue;
            auto offset = [](float a, float b, float c) {
                const float den = a - 2 * b + c;
                return den < 0 ? std::max(-0.5f, std::min(0.5f, 0.5f * (a - c) / den)) : 0.0f;
            };
            const float dx = offset(at(x - 1, y), v, at(x + 1, y)), dy = offset(at(x, y - 1), v, at(x, y + 1));
            const bool outlier = nearRegion(reg, X, Y, x, y, (int)std::ceil(0.25 * dWork));
            out->push_back({(float)((x + dx) * w.sx), (float)((y + dy) * w.sy), v, outlier});
        }
}

}  // namespace

int autopick_candidates(const float* image, int nx, int ny, const AutopickParams& p, AutopickCandidates* out) {
    out->list.clear();
    out->nx = nx, out->ny = ny;
    out->params = p;
    if (!image || nx < 2 || ny < 2) {
        std::printf("Auto pick: no micrograph\n");
        return 0;
    }
    if (!autopick_check(nx, ny, p)) return 0;
    for (float v : p.templ)
        if (!std::isfinite(v)) {
            std::printf("Auto pick: the template holds values that are not numbers\n");
            return 0;
        }
    const double dpx = diameterPx(p);
    Work w;
    if (!binMicrograph(image, nx, ny, dpx, p.mode == AUTOPICK_BLOB ? kBlobWorkD : kTemplateWorkD, &w)) {
        std::printf("Auto pick: cannot resample the micrograph\n");
        return 0;
    }
    // A value that is not a number spreads over the whole binned image: the
    // small image tells as well as the large one.
    if (!allFinite(w.img.data(), w.img.size())) {
        std::printf("Auto pick: the micrograph holds values that are not numbers\n");
        return 0;
    }
    removePlane(&w);
    const double dWork = dpx / std::sqrt(w.sx * w.sy);
    setupTransform(&w, dWork);

    // Without rejection contamination stays as it is, and nothing is an outlier.
    std::vector<unsigned char> reg((size_t)w.wx * w.wy, 0);
    if (p.rejectOutliers) reg = outlierRegions(w, dWork);
    fillRegions(&w, reg, dWork);
    std::vector<float> score;
    if (p.mode == AUTOPICK_BLOB)
        blobResponse(w, dWork, p.invert, &score);
    else
        templateResponse(w, p, dWork, &score);
    localMaxima(w, score, reg, dWork, &out->list);
    std::stable_sort(out->list.begin(), out->list.end(),
                     [](const AutopickCandidate& a, const AutopickCandidate& b) { return a.score > b.score; });
    return 1;
}

void autopick_filter(const AutopickCandidates& c, const AutopickParams& p, std::vector<AutoPick>* out) {
    out->clear();
    AutopickParams q = c.params;  // the response's; the filter's own settings from p
    q.threshold = p.threshold, q.minDistance = p.minDistance, q.boxSize = p.boxSize;
    const int box = autopick_box_size(q);
    const double dmin = autopick_min_distance_px(q);
    if (box < 1) return;
    // Above the threshold, with the box inside the micrograph.
    std::vector<const AutopickCandidate*> ok;
    for (const AutopickCandidate& k : c.list) {
        if (k.score < p.threshold) break;
        if (k.outlier) continue;
        const int x0 = (int)std::floor(k.x + 0.5) - box / 2, y0 = (int)std::floor(k.y + 0.5) - box / 2;
        if (x0 >= 0 && y0 >= 0 && x0 + box <= c.nx && y0 + box <= c.ny) ok.push_back(&k);
    }
    // Best first; a candidate closer than the minimum distance to one kept is dropped.
    const double cell = std::max({dmin, std::max(c.nx, c.ny) / 256.0, 1.0});
    const int gx = (int)(c.nx / cell) + 1, gy = (int)(c.ny / cell) + 1;
    std::vector<std::vector<int>> grid((size_t)gx * gy);
    for (const AutopickCandidate* k : ok) {
        const int cx = std::min(gx - 1, (int)(k->x / cell)), cy = std::min(gy - 1, (int)(k->y / cell));
        bool near = false;
        for (int j = std::max(0, cy - 1); j <= std::min(gy - 1, cy + 1) && !near; j++)
            for (int i = std::max(0, cx - 1); i <= std::min(gx - 1, cx + 1) && !near; i++)
                for (int e : grid[(size_t)j * gx + i]) {
                    const AutoPick& o = (*out)[e];
                    if (std::hypot(o.x - k->x, o.y - k->y) < dmin) {
                        near = true;
                        break;
                    }
                }
        if (near) continue;
        grid[(size_t)cy * gx + cx].push_back((int)out->size());
        const int x0 = (int)std::floor(k->x + 0.5) - box / 2, y0 = (int)std::floor(k->y + 0.5) - box / 2;
        out->push_back({k->x, k->y, {x0, y0, box, box}, k->score});
    }
}

int autopick(const float* image, int nx, int ny, const AutopickParams& p, std::vector<AutoPick>* out) {
    out->clear();
    AutopickCandidates c;
    if (!autopick_candidates(image, nx, ny, p, &c)) return 0;
    autopick_filter(c, p, out);
    return 1;
}
