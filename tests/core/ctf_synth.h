// Synthetic micrographs with a known CTF, for the estimator's tests and benchmark:
// particle-like blobs and a fine amorphous texture, seen through the CTF with
// amplitude contrast 0.07 and a gaussian envelope, plus noise with a smooth
// falling spectrum. Astigmatism: the underfocus in the direction theta of the
// transform (from the column axis toward +row) is
// mean + astig/2 cos 2(theta - angle).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

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
    // The CTF, written out here from its formulas in double precision.
    const double V = 1000.0 * c.kv, lambda = 12.2639 / std::sqrt(V + 9.7845e-7 * V * V), Cs = 1e7 * c.cs;
    const double A = 0.07, pi = 3.14159265358979323846, th0 = c.angle * pi / 180;
    for (int r = 0; r < ny; r++) {
        const int k = r < ny / 2 ? r : r - ny;
        for (int h = 0; h <= nx / 2; h++) {
            const double fx = h / (nx * (double)c.pixel), fy = k / (ny * (double)c.pixel);
            const double s2 = fx * fx + fy * fy, th = std::atan2(fy, fx);
            const double under = 1e4 * (c.defocus + c.astig / 2 * std::cos(2 * (th - th0)));
            const double gamma = -2 * pi * (Cs * lambda * lambda * lambda * s2 * s2 / 4 - under * lambda * s2 / 2);
            const double ctf = std::sqrt(1 - A * A) * std::sin(gamma) + A * std::cos(gamma);
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
    std::vector<float> out((size_t)nx * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) out[(size_t)y * nx + x] = 100 + 10 * a[(size_t)y * rowf + x];
    return out;
}

// A float MRC file (mode 2) recording the pixel size in its cell (0: none), with
// the top-left w by h pixels of an nx-wide image; written here byte by byte.
inline bool synth_write_mrc(const std::string& path, const std::vector<float>& v, int nx, int w, int h, float pixel) {
    unsigned char hd[1024] = {};
    auto i32 = [&](int off, int32_t x) { std::memcpy(hd + off, &x, 4); };
    auto f32 = [&](int off, float x) { std::memcpy(hd + off, &x, 4); };
    i32(0, w), i32(4, h), i32(8, 1), i32(12, 2);
    i32(28, pixel > 0 ? w : 0), i32(32, pixel > 0 ? h : 0), i32(36, pixel > 0 ? 1 : 0);
    f32(40, pixel * w), f32(44, pixel * h), f32(48, pixel);
    f32(52, 90), f32(56, 90), f32(60, 90);
    i32(64, 1), i32(68, 2), i32(72, 3);
    std::memcpy(hd + 208, "MAP ", 4);
    hd[212] = 0x44, hd[213] = 0x44;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(hd, 1, 1024, f) == 1024;
    for (int y = 0; y < h && ok; y++) ok = std::fwrite(&v[(size_t)y * nx], sizeof(float), w, f) == (size_t)w;
    return std::fclose(f) == 0 && ok;
}
