// Synthetic cryo micrographs with known particle centres, for the picker's
// tests and benchmark. Particles: one compact, asymmetric shape (four lobes of
// projected density inside the diameter) at random positions and in-plane
// angles, seen through an underfocused CTF with amplitude contrast and an
// envelope, so that they are darker than the ice at low resolution. Large
// dark contamination blobs and a gentle ice gradient; white noise at a per-pixel
// signal-to-noise ratio: the variance of the particles' image inside their
// diameter over the noise variance.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "ctf/ctf2d.h"
#include "fft/ifftsubs.h"
#include "numeric/fcrop.h"

struct PickSynth {
    int nx = 2048, ny = 2048;  // any sizes; the image is made at valid transform sizes and cut
    float pixel = 1.5f;        // Angstrom per pixel
    float diameter = 150;      // Angstrom
    float snr = 0.03f;
    int particles = 80;
    int contamination = 2;  // dark blobs 3-6 diameters across
    float defocus = 1.5f;   // underfocus, micrometres
    bool bright = false;    // particles brighter than the ice instead
    int decoys = 0;         // a second kind: solid spheres 2.4 diameters across
    float edgeGap = -1;     // >= 0: place particles this many pixels beyond half a box from the edges, no farther
    int box = 0;            // box the truth must fit in (0: 1.5 diameters)
    float minSep = 1.15f;   // least distance between particle centres, in diameters
    std::vector<std::array<float, 2>> at;  // particles here instead of at random places
    unsigned seed = 1;
};

struct PickCircle {
    float x, y, r;
};

struct PickSynthImage {
    std::vector<float> pixels;       // nx * ny, row-major
    std::vector<PickCircle> truth;   // particle centres (r: radius in pixels)
    std::vector<PickCircle> contam;  // contamination
    std::vector<PickCircle> decoys;  // the second kind of blob
    double noiseSigma = 0;
};

// Projected density of the particle at (u, v) in units of its radius, in its
// own frame: four solid spheres (a body and three smaller domains) inside the
// unit circle, and a fine texture of small dense knots within them, so that
// much of its detail is finer than its outline.
inline double pick_synth_particle(double u, double v) {
    static const double spheres[4][4] = {
        {-0.12, -0.08, 0.62, 1.0}, {0.50, 0.10, 0.40, 1.0}, {-0.22, 0.58, 0.36, 1.0}, {0.12, -0.66, 0.30, 1.0}};
    static const std::vector<std::array<double, 2>> knots = [] {
        std::vector<std::array<double, 2>> k;
        std::mt19937 g(7);
        std::uniform_real_distribution<double> uni(-1, 1);
        while (k.size() < 120) {
            const double x = uni(g), y = uni(g);
            for (const auto& s : spheres)
                if (std::hypot(x - s[0], y - s[1]) < s[2]) {
                    k.push_back({x, y});
                    break;
                }
        }
        return k;
    }();
    double t = 0;
    for (const auto& s : spheres) {
        const double r2 = s[2] * s[2] - (u - s[0]) * (u - s[0]) - (v - s[1]) * (v - s[1]);
        if (r2 > 0) t += s[3] * std::sqrt(r2);
    }
    if (t <= 0) return 0;
    double f = 0;
    for (const auto& k : knots) {
        const double d2 = (u - k[0]) * (u - k[0]) + (v - k[1]) * (v - k[1]);
        if (d2 < 0.02) f += std::exp(-d2 / (2 * 0.045 * 0.045));
    }
    return t + 0.2 * f;
}

// The particle's density tabulated once (256 steps across [-1, 1]), read with
// bilinear interpolation: the generator then costs a few operations a pixel.
inline double pick_synth_particle_fast(double u, double v) {
    constexpr int N = 256;
    static const std::vector<float> table = [] {
        std::vector<float> t((size_t)(N + 1) * (N + 1));
        for (int j = 0; j <= N; j++)
            for (int i = 0; i <= N; i++)
                t[(size_t)j * (N + 1) + i] = (float)pick_synth_particle(2.0 * i / N - 1, 2.0 * j / N - 1);
        return t;
    }();
    const double fx = (u + 1) * N / 2, fy = (v + 1) * N / 2;
    if (!(fx >= 0 && fy >= 0 && fx < N && fy < N)) return 0;
    const int i = (int)fx, j = (int)fy;
    const double a = fx - i, b = fy - j;
    const float* t = &table[(size_t)j * (N + 1) + i];
    return (1 - b) * ((1 - a) * t[0] + a * t[1]) + b * ((1 - a) * t[N + 1] + a * t[N + 2]);
}

inline PickSynthImage pick_synth(const PickSynth& c) {
    PickSynthImage out;
    const int gx = npfa(c.nx), gy = npfa(c.ny);
    const double R = c.diameter / c.pixel / 2;  // radius, pixels
    const int box = c.box > 0 ? c.box : (int)std::ceil(3 * R);
    std::mt19937 gen(c.seed);
    std::uniform_real_distribution<double> uni(0, 1);
    std::normal_distribution<float> gauss(0, 1);

    // Contamination first, then particles and decoys clear of it and of one another.
    for (int i = 0; i < c.contamination; i++)
        out.contam.push_back({(float)(uni(gen) * c.nx), (float)(uni(gen) * c.ny), (float)(R * (3 + 3 * uni(gen)))});
    auto clear = [&](double x, double y, double r) {
        for (const PickCircle& k : out.contam)
            if (std::hypot(x - k.x, y - k.y) < k.r + r + R) return false;
        for (const auto* l : {&out.truth, &out.decoys})
            for (const PickCircle& k : *l)
                if (std::hypot(x - k.x, y - k.y) < std::max((double)c.minSep * 2 * R, k.r + r + 0.3 * R)) return false;
        return true;
    };
    const double half = box / 2 + 1;
    auto place = [&](std::vector<PickCircle>* list, int n, double r) {
        for (int tries = 0; (int)list->size() < n && tries < 200 * n; tries++) {
            double x = half + uni(gen) * (c.nx - 2 * half), y = half + uni(gen) * (c.ny - 2 * half);
            if (c.edgeGap >= 0) {  // on a random edge, just inside
                const double d = half + c.edgeGap * uni(gen);
                const int side = tries % 4;
                if (side < 2)
                    x = side ? c.nx - d : d;
                else
                    y = side == 2 ? d : c.ny - d;
            }
            if (clear(x, y, r)) list->push_back({(float)x, (float)y, (float)r});
        }
    };
    for (const auto& p : c.at) out.truth.push_back({p[0], p[1], (float)R});
    if (c.at.empty()) place(&out.truth, c.particles, R);
    place(&out.decoys, c.decoys, 2.4 * R);

    // Projected density of the particles at random in-plane angles.
    const int row = gx + 2;
    std::vector<float> a((size_t)row * gy, 0.0f);
    for (const PickCircle& p : out.truth) {
        const double ang = 2 * M_PI * uni(gen), ca = std::cos(ang), sa = std::sin(ang);
        const int x0 = std::max(0, (int)(p.x - R - 2)), x1 = std::min(gx - 1, (int)(p.x + R + 2));
        const int y0 = std::max(0, (int)(p.y - R - 2)), y1 = std::min(gy - 1, (int)(p.y + R + 2));
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) {
                const double dx = (x - p.x) / R, dy = (y - p.y) / R;
                a[(size_t)y * row + x] += (float)pick_synth_particle_fast(ca * dx + sa * dy, -sa * dx + ca * dy);
            }
    }
    // Decoys: solid spheres, two thirds as thick in the middle as the particles.
    for (const PickCircle& p : out.decoys) {
        const int x0 = std::max(0, (int)(p.x - p.r)), x1 = std::min(gx - 1, (int)(p.x + p.r));
        const int y0 = std::max(0, (int)(p.y - p.r)), y1 = std::min(gy - 1, (int)(p.y + p.r));
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) {
                const double d2 = ((x - p.x) * (x - p.x) + (y - p.y) * (y - p.y)) / (p.r * p.r);
                if (d2 < 1) a[(size_t)y * row + x] += (float)(0.8 * std::sqrt(1 - d2));
            }
    }
    // Through the CTF and envelope; dark particles: the image is minus the density.
    // Astigmatism is left out, so the CTF and envelope are tabulated by radius.
    const Ctf2d ctf{-c.defocus, -c.defocus};  // 300 kV, Cs 2.7 mm, 10% amplitude contrast
    const double smax = 0.75 / c.pixel;       // beyond the corner of the transform
    std::vector<double> radial(8193);
    for (size_t i = 0; i < radial.size(); i++) {
        const double sr = smax * i / (radial.size() - 1);
        radial[i] = (c.bright ? 1 : -1) * ctf2d_value(ctf, sr, 0) * std::exp(-100 * sr * sr / 4);
    }
    int ix = gx, iy = gy, dir = 0;
    todfft(a.data(), &ix, &iy, &dir);
    for (int r = 0; r < gy; r++) {
        const double sy = fft_freq_of(r, gy) / (gy * (double)c.pixel);
        for (int h = 0; h <= gx / 2; h++) {
            const double sx = h / (gx * (double)c.pixel);
            const double t = std::sqrt(sx * sx + sy * sy) / smax * (radial.size() - 1);
            const size_t i = std::min((size_t)t, radial.size() - 2);
            const float f = (float)(radial[i] + (t - i) * (radial[i + 1] - radial[i]));
            a[(size_t)r * row + 2 * h] *= f;
            a[(size_t)r * row + 2 * h + 1] *= f;
        }
    }
    dir = 1;
    todfft(a.data(), &ix, &iy, &dir);

    // Noise level from the particles' image inside their diameters.
    double s1 = 0, s2 = 0, n = 0;
    for (const PickCircle& p : out.truth)
        for (int y = (int)(p.y - R); y <= (int)(p.y + R); y++)
            for (int x = (int)(p.x - R); x <= (int)(p.x + R); x++)
                if (x >= 0 && y >= 0 && x < gx && y < gy && (x - p.x) * (x - p.x) + (y - p.y) * (y - p.y) <= R * R) {
                    const double v = a[(size_t)y * row + x];
                    s1 += v;
                    s2 += v * v;
                    n++;
                }
    const double var = n > 0 ? s2 / n - (s1 / n) * (s1 / n) : 1e-4;
    const double sigma = std::sqrt(var / c.snr);
    out.noiseSigma = sigma;

    // Contamination: thick and dark (15 times the particles' standard
    // deviation), a soft edge; an ice gradient of 6 times it over the image;
    // the noise.
    const double ps = std::sqrt(var);
    out.pixels.resize((size_t)c.nx * c.ny);
    for (int y = 0; y < c.ny; y++)
        for (int x = 0; x < c.nx; x++) {
            double v = a[(size_t)y * row + x] + 6 * ps * (x + 0.5 * y) / (1.5 * c.nx);
            for (const PickCircle& k : out.contam) {
                const double d = std::hypot(x - k.x, y - k.y) - k.r;
                if (d < 3 * R) v -= 15 * ps / (1 + std::exp(d / (0.1 * R)));
            }
            out.pixels[(size_t)y * c.nx + x] = (float)(v + sigma * gauss(gen));
        }
    return out;
}

// Precision and recall of picks against the truth: a pick counts when its
// centre lies within tol pixels of a true centre not yet matched (nearest
// first).
struct PickScore {
    int picks = 0, truth = 0, hits = 0;
    double precision() const { return picks ? (double)hits / picks : 1.0; }
    double recall() const { return truth ? (double)hits / truth : 1.0; }
};

template <class P>
PickScore pick_score(const std::vector<P>& picks, const std::vector<PickCircle>& truth, double tol) {
    PickScore s;
    s.picks = (int)picks.size();
    s.truth = (int)truth.size();
    std::vector<bool> used(truth.size(), false);
    for (const P& p : picks) {
        int best = -1;
        double bd = tol;
        for (size_t i = 0; i < truth.size(); i++) {
            const double d = std::hypot(p.x - truth[i].x, p.y - truth[i].y);
            if (!used[i] && d <= bd) bd = d, best = (int)i;
        }
        if (best >= 0) used[best] = true, s.hits++;
    }
    return s;
}

// Picks whose centre lies on contamination or within a particle radius of it.
template <class P>
int pick_on_contamination(const std::vector<P>& picks, const PickSynthImage& m, double radius) {
    int n = 0;
    for (const P& p : picks)
        for (const PickCircle& k : m.contam)
            if (std::hypot(p.x - k.x, p.y - k.y) < k.r + radius) {
                n++;
                break;
            }
    return n;
}
