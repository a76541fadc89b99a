// Shared helpers of the numeric tests: data sets from noise or a function,
// a relative error, captured messages, MRC files and tarvik-proc runs.
#pragma once

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "core/MRCData.h"
#include "core/fileutil.h"
#include "tests/core/testutil.h"

using Data = std::unique_ptr<MRCData>;

// n uniform values in -1..1, the same ones for the same seed.
inline std::vector<float> noiseValues(size_t n, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<float> u(-1, 1);
    std::vector<float> v(n);
    for (auto& x : v) x = u(g);
    return v;
}

inline Data realData(const std::vector<float>& v, int nx, int ny, int nz = 1, const char* name = nullptr) {
    Data d(new MRCData());
    d->setRealData(v.data(), nx, ny, nz);
    if (name) d->setName(name);
    return d;
}

inline Data noiseData(int nx, int ny, unsigned seed, const char* name = "img", int nz = 1) {
    return realData(noiseValues((size_t)nx * ny * nz, seed), nx, ny, nz, name);
}

// Values f(x, y) at row y.
template <class F>
Data fnData(int nx, int ny, F f) {
    std::vector<float> v((size_t)nx * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) v[(size_t)y * nx + x] = f(x, y);
    return realData(v, nx, ny);
}

// Gaussian blobs (count, width sigma, random signs or all positive) evaluated
// analytically, so that moved and rotated copies are exact: content point p
// appears at c + R(angle)(p - c) + (dx, dy), c the image centre.
struct Blobs {
    int count = 250;
    float sigma = 1.2f;
    bool signedAmp = true;
};
inline Data blobImage(int n, float dx, float dy, float angleDeg, Blobs bl = Blobs(), unsigned seed = 17) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<float> pos(14, n - 15), amp(0.5f, 1.5f);
    const double c = (n - 1) / 2.0, t = angleDeg * M_PI / 180, ct = std::cos(t), st = std::sin(t);
    std::vector<float> v((size_t)n * n, 0.0f);
    for (int i = 0; i < bl.count; i++) {
        const float px = pos(g), py = pos(g), a = (bl.signedAmp && g() % 2 ? -1 : 1) * amp(g);
        const double bx = c + ct * (px - c) - st * (py - c) + dx, by = c + st * (px - c) + ct * (py - c) + dy;
        for (int y = std::max(0, (int)by - 6); y < std::min(n, (int)by + 7); y++)
            for (int x = std::max(0, (int)bx - 6); x < std::min(n, (int)bx + 7); x++)
                v[(size_t)y * n + x] +=
                    (float)(a * std::exp(-((x - bx) * (x - bx) + (y - by) * (y - by)) / (2 * bl.sigma * bl.sigma)));
    }
    return realData(v, n, n, 1, "tex");
}

// Relative RMS difference of b from a over n values.
inline double relRms(const float* a, const float* b, size_t n) {
    double e = 0, t = 0;
    for (size_t i = 0; i < n; i++) {
        e += ((double)a[i] - b[i]) * ((double)a[i] - b[i]);
        t += (double)a[i] * a[i];
    }
    return std::sqrt(e / t);
}
inline double relRms(MRCData* a, MRCData* b) {
    if (a->xSize() != b->xSize() || a->ySize() != b->ySize()) return INFINITY;
    return relRms(a->getRealData(), b->getRealData(), (size_t)a->xSize() * a->ySize());
}

// The floats of d at the given indices.
inline std::vector<float> valuesAt(MRCData* d, std::initializer_list<long> idx) {
    std::vector<float> v;
    for (long i : idx) v.push_back(d->getRealData()[i]);
    return v;
}

inline void writeMrc(MRCData* d, const std::string& path) {
    captured([&] { EXPECT_EQ(d->writeMRCData(path.c_str(), 0), 1) << path; });
}
inline Data readMrc(const std::string& path) {
    Data d(new MRCData());
    captured([&] { EXPECT_EQ(d->readMRCData(path.c_str()), 1) << path; });
    return d;
}

// Runs tarvik-proc in folder dir with HOME there; standard error goes to
// dir/stderr.txt. Returns the exit status.
inline int runProc(const std::string& dir, const std::string& args, std::string* out = nullptr) {
    return runCommand("cd '" + dir + "' && HOME='" + dir + "' '" TARVIK_PROC "' " + args + " 2>stderr.txt", out);
}
