// Radial profiles, radial amplitude functions, masks, flips, clips and averages.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/List.h"
#include "core/MRCData.h"
#include "fft/ifftsubs.h"
#include "numeric/fastmath.h"
#include "numeric/fradius.h"
#include "numeric/random.h"

namespace {

constexpr float kPi = 3.14159265358979f;

// Position of a radius in a radial table whose samples lie at A0 + i*(A1 - A0).
// i is clamped to -1..n so that degenerate tables give an end value, not UB.
struct TabPos {
    int i;
    float f;
};

TabPos tabPos(float rho, const float* A, int n) {
    float t = (rho - A[0]) / (A[1] - A[0]);
    if (!(t >= -1.0f)) return {-1, 0};  // also NaN
    if (t > (float)n + 1) return {n + 1, 0};
    int i = (int)std::floor(t);
    return {i, t - i};
}

inline float interp(const float* V, int i, float f) {
    return (1 - f) * V[i] + f * V[i + 1];
}

// A negative amplitude becomes positive with its phase moved by pi away from zero.
inline void flipNegative(float& amp, float& ph) {
    if (amp < 0) {
        amp = -amp;
        ph = ph < 0 ? ph - kPi : ph + kPi;
    }
}

}  // namespace

// ---- profiles

float* MRCData::calcDist(int mode, int px, int py) {
    if (!isComplex()) return nullptr;
    if (radCache.size() < 400) radCache.assign(400, 0.0f);
    float* W = radCache.data();
    float* P = W + 200;
    if (radCacheKey == mode && (mode == 0 || mode == 1)) {
        for (int i = 0; i < 200; i++) W[i] = radCacheStep * i;
        return W;
    }
    radCacheKey = mode;
    std::fill(radCache.begin(), radCache.begin() + 400, 0.0f);
    const int NX = nx - 2, NY = ny;
    const float* d = data.data();
    auto amp = [&](int h, int k) { return d[(long)(k + NY / 2) * nx + 2 * h]; };
    // A pair (h, k) inside the stored half plane, after the Friedel mirror.
    auto stored = [&](int& x, int& y) {
        if (x < 0) {
            x = -x;
            y = -y;
        }
        return x <= NX / 2 && y >= -NY / 2 && y < NY / 2;
    };
    // Radii and the radial steps are in y-frequency steps (numeric/fradius.h),
    // so a profile bin is the same spatial frequency along x and y.
    const float xs = fourier_xscale(NX, NY);
    float step = 0;
    if (mode == 0) {
        step = nx * xs * 0.6f / 200;
        radialPower(step, 200, 1, W, P);
    } else if (mode == 1) {
        step = kPi / 100;
        const float rmax = (nx / 2 - 2) * xs;
        for (int r = 0; r < ny; r++) {
            const int k = r - ny / 2;
            for (int x = 0; x + 1 < nx; x += 2) {
                const int h = x / 2;
                const float rad = fourier_radius(h, k, xs);
                if (rad < 3 || rad > rmax) continue;
                float ang = std::atan2((float)k, (float)h * xs);
                if (ang < 0) ang += kPi;
                const float t = ang / step;
                const int i = std::min((int)std::floor(t), 198);
                const float f = t - i;
                const float a = d[(long)r * nx + x];
                W[i] += 1 - f;
                W[i + 1] += f;
                P[i] += a * (1 - f);
                P[i + 1] += a * f;
            }
        }
        for (int i = 100; i < 200; i++) {
            W[i] = W[i - 100];
            P[i] = P[i - 100];
        }
    } else if (mode == 2 && NX >= 2 && NY >= 1) {
        step = nx * xs * 0.5f / 200;
        const double th0 = std::atan2((double)(py - ny / 2), (double)px * xs);
        const float lo = (float)(th0 - 0.17453292519943295), hi = (float)(th0 + 0.17453292519943295);
        for (int b = 0; b < 200; b++) {
            const double rho = b * (double)step;
            for (float a = lo; a <= hi; a = (float)(a + 0.008726646259971648)) {
                int x = (int)std::trunc(std::cos((double)a) * rho / xs), y = (int)std::trunc(std::sin((double)a) * rho);
                if (!stored(x, y)) continue;
                const float v = amp(x, y);
                W[b] += 1;
                P[b] += v * v;
            }
        }
    } else if (mode == 3 && NX >= 2 && NY >= 1) {
        step = kPi / 100;
        const double k0 = py - ny / 2;
        const double rho0 = std::sqrt(k0 * k0 + (double)px * xs * px * xs);
        for (int b = 0; b < 100; b++) {
            const double phi = b * (double)step;
            for (double rho = rho0 - 5; rho < rho0 + 5; rho += 1) {
                int x = (int)std::trunc(std::cos(phi) * rho / xs), y = (int)std::trunc(std::sin(phi) * rho);
                if (!stored(x, y)) continue;
                W[b] += 1;
                P[b] += amp(x, y);
            }
        }
        for (int i = 100; i < 200; i++) {
            W[i] = W[i - 100];
            P[i] = P[i - 100];
        }
    }
    radial_profile_finish(W, P, 200);
    for (int i = 1; i < 200; i++) W[i] = step * i;
    W[0] = 0;
    radCacheStep = step;
    return W;
}

void MRCData::radialPower(float step, int n, int nAngles, float* W, float* P) const {
    const float* d = data.data();
    const double sector = M_PI / std::max(1, nAngles);
    const float xs = fourier_xscale(nx - 2, ny);
    // Each row's bin positions first, in a loop the compiler vectorises.
    std::vector<float> pos(nx / 2 + 1);
    for (int r = 0; r < ny; r++) {
        const int k = r - ny / 2;
        const float k2 = (float)(k * k);
        for (int h = 0; h < (int)pos.size(); h++) {
            const float hs = (float)h * xs;
            pos[h] = std::sqrt(k2 + hs * hs) / step;
        }
        for (int x = 0; x + 1 < nx; x += 2) {
            const int h = x / 2;
            const float t = pos[h];
            const int i = (int)t;  // t >= 0: truncation is the floor, without a call
            const float f = t - i;
            if (i >= n - 1) continue;
            long row = 0;
            if (nAngles > 1) {
                double th = std::atan2((double)k, (double)h * xs);
                if (th < 0) th += M_PI;
                row = (long)std::floor(th / sector + 0.5) % nAngles * n;
            }
            const float a = d[(long)r * nx + x], a2 = a * a;
            W[row + i] += 1 - f;
            W[row + i + 1] += f;
            P[row + i] += a2 * (1 - f);
            P[row + i + 1] += a2 * f;
        }
    }
}

// Ring profile around (cx, cy) relative to the image centre. Points are
// checked against the image before they are converted, so no offset or
// radius can make it read outside the data.
void MRCData::calcRDist(float* out, int count, int radius, float cx, float cy) {
    if (radius <= 0 || count <= 0) return;
    std::fill(out, out + 2L * count, 0.0f);
    const float w = 6.2831855f / count;
    double sd = 2 * std::ceil(radius * 2 * M_PI / count);
    const int s = sd < 1 ? 2 : (int)std::min(sd, 1e6);
    const double hx = nx / 2, hy = ny / 2;
    const float* d = data.data();
    for (int i = 0; i < count; i++) {
        float a = w * i - w * 0.5f;
        for (int j = 0; j <= s; j++, a += w / s) {
            for (int rho = radius - 2; rho <= radius + 2; rho++) {
                const double xf = std::trunc(std::cos(a) * rho + cx), yf = std::trunc(std::sin(a) * rho + cy);
                if (!(xf >= -hx && xf < hx && yf >= -hy && yf < hy)) continue;
                const long x = (long)(xf + hx), y = (long)(yf + hy);
                out[i] += 1;
                out[count + i] += d[y * nx + x];
            }
        }
    }
    for (int i = 0; i < count; i++) {
        out[count + i] = out[i] > 0 ? out[count + i] / out[i] : 0;
        out[i] = w * i;
    }
}

// ---- radial amplitude functions (amplitude/phase pairs of plane 0)

namespace {

// Calls fn(amp, phase, radius) for every pair of the first plane.
template <class F>
void eachPair(MRCData* m, F fn) {
    const int nx = m->xSize(), ny = m->ySize();
    const float xs = fourier_xscale(nx - 2, ny);
    float* d = m->getRealData();
    for (int r = 0; r < ny; r++) {
        const int k = r - ny / 2;
        float* row = d + (long)r * nx;
        for (int x = 0; x + 1 < nx; x += 2) {
            const int h = x / 2;
            fn(row[x], row[x + 1], fourier_radius(h, k, xs));
        }
    }
}

}  // namespace

void MRCData::applyRadFn(int n, float* A, float* V) {
    if (n < 1) return;
    eachPair(this, [&](float& amp, float& ph, float rho) {
        TabPos p = tabPos(rho, A, n);
        float fac = p.i >= n - 2 ? V[n - 1] : p.i < 0 ? V[0] : interp(V, p.i, p.f);
        amp *= fac;
        flipNegative(amp, ph);
    });
    radCacheKey = -1;
    update();
}

// Where the current mean amplitude of a band is 0 the band cannot be scaled to
// its target: its factor is then the target itself, as for a band no pair reaches.
void MRCData::setRadAmp(int n, float* A, float* V) {
    if (n < 1) return;
    std::vector<double> S(n + 1, 0.0), C(n + 1, 0.0);
    eachPair(this, [&](float& amp, float&, float rho) {
        TabPos p = tabPos(rho, A, n);
        if (p.i < 0 || p.i > n - 2) return;
        S[p.i] += (1 - p.f) * amp;
        S[p.i + 1] += p.f * amp;
        C[p.i] += 1 - p.f;
        C[p.i + 1] += p.f;
    });
    std::vector<float> G(n);
    for (int j = 0; j < n; j++) G[j] = (C[j] == 0 || S[j] == 0) ? V[j] : (float)(C[j] * V[j] / S[j]);
    eachPair(this, [&](float& amp, float& ph, float rho) {
        TabPos p = tabPos(rho, A, n);
        float fac = p.i >= n - 2 ? G[n - 1] : p.i < 0 ? G[0] : interp(G.data(), p.i, p.f);
        amp *= fac;
        flipNegative(amp, ph);
    });
    radCacheKey = -1;
    update();
}

void MRCData::subRadFn(int n, float* A, float* V) {
    if (n < 1) return;
    eachPair(this, [&](float& amp, float& ph, float rho) {
        TabPos p = tabPos(rho, A, n);
        float v = p.i < 0 ? V[0] : p.i >= n - 1 ? V[n - 1] : interp(V, p.i, p.f);
        amp -= v;
        if (amp < 0) {
            amp = 0;
            ph = ph < 0 ? ph - kPi : ph + kPi;
        }
    });
    radCacheKey = -1;
    update();
}

void MRCData::addRadNoise(int n, float* A, float* V, float spread) {
    if (n < 1) return;
    eachPair(this, [&](float& amp, float& ph, float rho) {
        TabPos p = tabPos(rho, A, n);
        float v = p.i < 0 ? V[0] : p.i >= n - 1 ? V[n - 1] : interp(V, p.i, p.f);
        if (spread != 0) v = frand(v - spread, v + spread);
        const float phi = frand(0, 2 * kPi);
        const float re = amp * std::cos(ph) + v * std::cos(phi), im = amp * std::sin(ph) + v * std::sin(phi);
        amp = std::sqrt(re * re + im * im);
        ph = std::atan2(im, re);
    });
    radCacheKey = -1;
    update();
}

MRCData* MRCData::smoothAmp() {
    if (!isComplex()) {
        std::printf("SmoothAmp() is only for complex data\n");
        return nullptr;
    }
    MRCData* o = new MRCData(this);
    o->resizeData((size_t)nx * ny);
    o->setSizes(nx, ny, 1);
    o->setFlags(1);
    const float* s = data.data();
    float* d = o->getRealData();
    const int np = nx / 2;  // pairs per row
    std::copy(s, s + (size_t)nx * ny, d);
    for (int y = 1; y + 1 < ny; y++)
        for (int h = 1; h + 1 < np; h++) {
            const long i = (long)y * nx + 2 * h;
            d[i] = 0.5f * s[i] + 0.125f * (s[i - 2] + s[i + 2] + s[i - nx] + s[i + nx]);
        }
    o->update();
    return o;
}

// Outside the band where the 20 by 20 window fits, the result is 0.
MRCData* MRCData::simfilt(MRCData* other) {
    if (!other || other->nx != nx || other->ny != ny) return nullptr;
    MRCData* o = new MRCData(this);
    o->resizeData((size_t)nx * ny);
    o->setSizes(nx, ny, 1);
    float* d = o->getRealData();
    std::fill(d, d + (size_t)nx * ny, 0.0f);
    if (nx > 20 && ny > 20) {
        // Summed squares over rectangles from an integral image.
        const long W = nx + 1;
        std::vector<double> I((size_t)W * (ny + 1), 0.0);
        const float* s = data.data();
        for (long y = 0; y < ny; y++) {
            double run = 0;
            for (long x = 0; x < nx; x++) {
                run += (double)s[y * nx + x] * s[y * nx + x];
                I[(y + 1) * W + x + 1] = I[y * W + x + 1] + run;
            }
        }
        for (long y = 10; y < ny - 10; y++)
            for (long x = 10; x < nx - 10; x++) {
                const long x0 = x - 10, x1 = x + 10, y0 = y - 10, y1 = y + 10;
                d[y * nx + x] = (float)(I[y1 * W + x1] - I[y0 * W + x1] - I[y1 * W + x0] + I[y0 * W + x0]);
            }
    }
    o->update();
    return o;
}

// ---- masks and simple reshaping

// On a transform the radius is in y-frequency steps, in which the Nyquist
// radius is ySize/2 along both axes: that is the default there.
int MRCData::applyMask(int type, int radius) {
    const int half = isComplex() ? ny / 2 : std::min(nx, ny) / 2;
    float R = radius >= 1 ? (float)radius : (float)(half - (type ? 4 : 0));
    const int q = (int)std::trunc(R / std::sqrt(2.0f) - 1);
    auto g = [R](float r) { return (1 + std::tanh(r - R - 2)) / 2; };
    const float m = Mean(), sg = Sigma();
    float* d = data.data();
    if (isComplex()) {
        if (type != 0 && type != 1) return update();
        const int step = (flags & 4) ? 1 : 2;
        const float xs = fourier_xscale(nx - 2, ny);
        for (int r = 0; r < ny; r++) {
            const int k = r - ny / 2;
            for (int x = 0; x < nx; x += step) {
                const int h = x / 2;
                if (std::abs(k) < q && q > h * xs) continue;
                const float rr = fourier_radius(h, k, xs);
                float& v = d[(long)r * nx + x];
                if (type == 0) {
                    if (rr >= R) v = 0;
                } else if (rr > R) {
                    v *= 1 - g(rr);
                }
            }
        }
        return update();
    }
    if (type < 0 || type > 2) return update();
    const float cx = (nx - 1) / 2.0f, cy = (ny - 1) / 2.0f;
    // The mask is geometric: every plane gets it.
    for (int z = 0; z < nz; z++)
        for (int y = 0; y < ny; y++)
            for (int x = 0; x < nx; x++) {
                if (std::abs(y - ny / 2 + 1) < q && std::abs(x - nx / 2 + 1) < q) continue;
                const float r = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
                float& v = d[((long)z * ny + y) * nx + x];
                if (type == 0) {
                    if (r + 0.5f > R) v = m;
                } else if (type == 1) {
                    if (r > R) v = m * g(r) + (1 - g(r)) * v;
                } else if (r + 0.5f > R) {
                    v = grand(m, sg);
                }
            }
    return update();
}

void MRCData::edgeFlood(float value) {
    std::printf("edgesig=%f edgemean=%f\n", edgeSigma, edgeMean);
    const float lo = (float)(edgeMean - edgeSigma / 20), hi = (float)(edgeMean + edgeSigma / 20);
    auto in = [lo, hi](float v) { return v >= lo && v <= hi; };
    float* d = data.data();
    for (long y = 0; y < ny; y++) {
        float* row = d + y * nx;
        for (long x = 0; x < nx && in(row[x]); x++) row[x] = value;
        for (long x = nx - 1; x >= 0 && in(row[x]); x--) row[x] = value;
    }
    for (long x = 0; x < nx; x++) {
        for (long y = 0; y < ny && (in(d[y * nx + x]) || d[y * nx + x] == value); y++) d[y * nx + x] = value;
        for (long y = ny - 1; y >= 0 && (in(d[y * nx + x]) || d[y * nx + x] == value); y--) d[y * nx + x] = value;
    }
    update();
}

// Every plane is flipped on its own.
void MRCData::flipData() {
    float* d = data.data();
    for (long z = 0; z < nz; z++) {
        float* p = d + z * (long)nx * ny;
        for (long y = 0; y < (ny + 1) / 2; y++) std::swap_ranges(p + y * nx, p + (y + 1) * nx, p + (ny - 1 - y) * nx);
    }
    update();
}

// Pixels of the rectangle that fall outside the source take the source's mean.
MRCData* MRCData::makeClip(int x0, int y0, int width, int height) {
    if (!saneSize(width, height, 1)) return nullptr;
    MRCData* o = new MRCData(this);
    o->resizeData((size_t)width * height);
    o->setSizes(width, height, 1);
    float* d = o->getRealData();
    const float m = Mean();
    for (long y = 0; y < height; y++)
        for (long x = 0; x < width; x++) {
            const long sx = x0 + x, sy = y0 + y;
            d[y * width + x] = (sx >= 0 && sx < nx && sy >= 0 && sy < ny) ? data[sy * nx + sx] : m;
        }
    o->update();
    return o;
}

// ---- averages (first plane of each set)

int MRCData::makeAverage(List* sets, int mode) {
    const int n = count(sets);
    if (n < 2) return 0;
    MRCData* f = static_cast<MRCData*>(sets->objectAt(0));
    const bool cplx = f->isComplex();
    if (cplx && mode == 0) mode = 2;
    if (mode == 1 && !cplx) return 0;
    const long N = (long)f->xSize() * f->ySize();
    for (int i = 1; i < n; i++) {
        MRCData* s = static_cast<MRCData*>(sets->objectAt(i));
        // Pixels and Fourier pairs do not mix.
        if (s->xSize() != f->xSize() || s->ySize() != f->ySize() || s->isComplex() != f->isComplex()) return 0;
    }
    resizeData(N > 0 ? N : 1);
    setSizes(f->xSize(), f->ySize(), 1);
    flags = cplx ? 1 : 0;
    mag = f->Mag();
    pixres = f->Pixres();
    float* acc = data.data();
    std::copy(f->getRealData(), f->getRealData() + N, acc);
    const long np = N / 2;
    if (mode == 0) {
        for (int i = 1; i < n; i++) {
            const float* s = static_cast<MRCData*>(sets->objectAt(i))->getRealData();
            for (long j = 0; j < N; j++) acc[j] += s[j];
        }
        for (long j = 0; j < N; j++) acc[j] /= n;
    } else if (mode == 1) {
        toReIm(acc, np);
        for (int i = 1; i < n; i++) {
            const float* s = static_cast<MRCData*>(sets->objectAt(i))->getRealData();
            for (long j = 0; j < np; j++) {
                acc[2 * j] += s[2 * j] * std::cos(s[2 * j + 1]);
                acc[2 * j + 1] += s[2 * j] * std::sin(s[2 * j + 1]);
            }
        }
        for (long j = 0; j < 2 * np; j++) acc[j] /= n;
        toAmpPhase(acc, np);
    } else {
        for (long j = 0; j < np; j++) acc[2 * j] *= acc[2 * j];
        for (int i = 1; i < n; i++) {
            const float* s = static_cast<MRCData*>(sets->objectAt(i))->getRealData();
            for (long j = 0; j < np; j++) acc[2 * j] += s[2 * j] * s[2 * j];
        }
        for (long j = 0; j < np; j++) {
            acc[2 * j] = std::sqrt(acc[2 * j] / n);
            acc[2 * j + 1] = 0;
        }
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "Avg of %d, ", n);
    setName((buf + std::string(f->Name())).c_str());
    return update();
}

int MRCData::makeFFTAvg(List* sets) {
    const int n = count(sets);
    if (n < 2) return 0;
    MRCData* f = static_cast<MRCData*>(sets->objectAt(0));
    if (f->isComplex() || !isvalidfft(f->xSize()) || !isvalidfft(f->ySize())) return 0;
    long N = 0;
    for (int i = 0; i < n; i++) {
        MRCData* s = static_cast<MRCData*>(sets->objectAt(i));
        s->normalize();
        MRCData* t = s->doFFT(0);
        if (!t) return 0;
        if (i == 0) {
            N = (long)t->xSize() * t->ySize();
            resizeData(N);
            setSizes(t->xSize(), t->ySize(), 1);
            flags = 1;
            mag = f->Mag();
            pixres = f->Pixres();
            std::fill(data.begin(), data.begin() + N, 0.0f);
        } else if (t->xSize() != nx || t->ySize() != ny) {
            delete t;
            return 0;
        }
        const float* a = t->getRealData();
        for (long j = 0; j < N; j += 2) data[j] += a[j] * a[j];
        delete t;
    }
    for (long j = 0; j < N; j += 2) {
        data[j] = std::sqrt(data[j] / n);
        data[j + 1] = 0;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "Avg of %d, ", n);
    setName((buf + std::string(f->Name())).c_str());
    return update();
}
