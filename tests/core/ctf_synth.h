// Synthetic micrographs with a known CTF, for the estimator's tests and benchmark:
// particle-like blobs and a fine amorphous texture, seen through the CTF with
// amplitude contrast 0.07 and a gaussian envelope, plus noise with a smooth
// falling spectrum. Astigmatism: the underfocus in the direction theta of the
// transform (from the column axis toward +row) is
// mean + astig/2 cos 2(theta - angle).
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "fft/ifftsubs.h"

struct SynthCtf {
    int nx = 1024, ny = 1024;
    float pixel = 1.5f;  // Angstrom
    float kv = 300, cs = 2.7f;
    float defocus = 1.5f;  // mean underfocus, micrometres
    float astig = 0;       // underfocus of u minus that of v, micrometres
    float angle = 0;       // direction of u, degrees
    float bfactor = 120;   // envelope exp(-B s^2 / 4), Angstrom^2
    float noise = 0.5f;    // noise amplitude against the specimen's
    float texture = 0.5f;  // amplitude of the specimen's fine texture against its particles
    unsigned seed = 1;
};

// The estimator's test micrographs (also Analyze's in the workbench tests):
// spread over pixel size, voltage, Cs, defocus, astigmatism and its direction,
// square and oblong, transform sizes and others; the estimate sees the top-left
// cropX by cropY pixels.
struct SynthCase {
    SynthCtf s;  // nx, ny, pixel, kv, cs, defocus, astig, angle, bfactor, noise
    int cropX, cropY;
};
inline const std::vector<SynthCase>& synth_estimator_cases() {
    static const std::vector<SynthCase> cases = {
        {{1024, 1024, 1.2f, 300, 2.7f, 0.8f, 0.0f, 0, 100, 0.5f}, 1024, 1024},
        {{1024, 1024, 1.5f, 300, 2.7f, 1.5f, 0.2f, 30, 100, 0.5f}, 1024, 1024},
        {{1024, 1536, 3.0f, 100, 5.6f, 3.5f, 0.3f, 160, 300, 0.5f}, 1024, 1536},
        {{1536, 1024, 2.0f, 200, 2.0f, 1.2f, 0.1f, 75, 150, 0.5f}, 1536, 1024},
        {{1024, 1024, 2.5f, 300, 2.7f, 0.8f, 0.4f, 45, 200, 0.5f}, 1024, 1024},
        {{2048, 2048, 1.2f, 100, 5.6f, 3.5f, 0.2f, 10, 150, 0.5f}, 2048, 2048},
        {{2048, 2048, 1.3f, 200, 4.0f, 0.9f, 0.4f, 120, 150, 0.6f}, 2048, 2048},
        {{2048, 1152, 1.6f, 200, 4.0f, 2.0f, 0.05f, 140, 120, 0.8f}, 2000, 1100},
    };
    return cases;
}

// The top-left w by h pixels of an nx-wide image.
inline std::vector<float> synth_crop(const std::vector<float>& v, int nx, int w, int h) {
    std::vector<float> out((size_t)w * h);
    for (int y = 0; y < h; y++) std::copy_n(&v[(size_t)y * nx], w, &out[(size_t)y * w]);
    return out;
}

// The CTF of the micrograph at frequency (fx, fy) in 1/Angstrom, written out
// here from its formulas in double precision; positive at zero frequency.
inline double synth_ctf(const SynthCtf& c, double fx, double fy) {
    const double V = 1000.0 * c.kv, lambda = 12.2639 / std::sqrt(V + 9.7845e-7 * V * V), Cs = 1e7 * c.cs;
    const double A = 0.07, pi = 3.14159265358979323846, th0 = c.angle * pi / 180;
    const double s2 = fx * fx + fy * fy, th = std::atan2(fy, fx);
    const double under = 1e4 * (c.defocus + c.astig / 2 * std::cos(2 * (th - th0)));
    const double gamma = -2 * pi * (Cs * lambda * lambda * lambda * s2 * s2 / 4 - under * lambda * s2 / 2);
    return std::sqrt(1 - A * A) * std::sin(gamma) + A * std::cos(gamma);
}

// Returns nx*ny pixels, row-major. Sizes must be valid transform sizes.
inline std::vector<float> synth_micrograph(const SynthCtf& c) {
    const int nx = c.nx, ny = c.ny;
    const long rowf = nx + 2;
    std::vector<float> a((size_t)rowf * ny, 0.0f);
    std::mt19937 gen(c.seed);
    std::normal_distribution<float> gauss(0.0f, 1.0f);
    std::uniform_real_distribution<float> uni(0.0f, 1.0f);
    // Specimen: a weak amorphous texture and dense particles 100-250 Angstrom across.
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) a[(size_t)y * rowf + x] = c.texture * gauss(gen);
    const int blobs = (int)((double)nx * ny * c.pixel * c.pixel / 4e5);
    for (int b = 0; b < blobs; b++) {
        const double cx = uni(gen) * nx, cy = uni(gen) * ny;
        const double r = (50 + 75 * uni(gen)) / c.pixel, amp = 1 + uni(gen);
        const int x0 = (int)std::max(0.0, cx - 2 * r), x1 = (int)std::min(nx - 1.0, cx + 2 * r);
        const int y0 = (int)std::max(0.0, cy - 2 * r), y1 = (int)std::min(ny - 1.0, cy + 2 * r);
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) {
                const double d2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (r * r);
                a[(size_t)y * rowf + x] +=
                    (float)(amp *
                            (std::exp(-2 * d2) + 0.5 * std::exp(-40 * (std::sqrt(d2) - 0.8) * (std::sqrt(d2) - 0.8))));
            }
    }
    int ix = nx, iy = ny, dir = 0;
    todfft(a.data(), &ix, &iy, &dir);
    for (int r = 0; r < ny; r++) {
        const int k = r < ny / 2 ? r : r - ny;
        for (int h = 0; h <= nx / 2; h++) {
            const double fx = h / (nx * (double)c.pixel), fy = k / (ny * (double)c.pixel);
            const double s2 = fx * fx + fy * fy;
            const double ctf = synth_ctf(c, fx, fy);
            const double env = std::exp(-c.bfactor * s2 / 4);
            // Noise falls smoothly from the low frequencies to a floor.
            const double sn = c.noise * (0.6 + 1.0 / (1 + s2 / (0.03 * 0.03)));
            float* p = &a[(size_t)r * rowf + 2 * h];
            const bool realOnly = h == 0 || h == nx / 2;
            p[0] = (float)(p[0] * ctf * env + sn * gauss(gen));
            p[1] = realOnly ? 0.0f : (float)(p[1] * ctf * env + sn * gauss(gen));
        }
    }
    dir = 1;
    todfft(a.data(), &ix, &iy, &dir);
    for (float& v : a) v = 100 + 10 * v;
    return synth_crop(a, rowf, nx, ny);
}

// A float MRC file (mode 2) of the top-left w by h pixels of an nx-wide image,
// recording the pixel size (0: none; the header then says 1.0, which counts as none).
inline bool synth_write_mrc(const std::string& path, const std::vector<float>& v, int nx, int w, int h, float pixel) {
    MRCData d;
    d.setRealData(synth_crop(v, nx, w, h).data(), w, h, 1);
    d.setPixres(pixel > 0 ? pixel : 1.0f);
    return d.writeMRCData(path.c_str(), 0) == 1;
}
