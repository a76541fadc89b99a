// What the transform benchmarks share: the same pseudo-random image, and a
// plain todfft timed on it (the reference other benchmarks are measured against).
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <vector>

#include "fft/ifftsubs.h"

inline void fill(float* a, size_t n) {
    unsigned s = 12345;
    for (size_t i = 0; i < n; i++) {
        s = s * 1103515245u + 12345u;
        a[i] = (float)((s >> 8) & 0xffff) / 65536.0f - 0.5f;
    }
}

// Forward real 2-D transform in place; the image is refilled outside the timed
// region so every run transforms the same data.
inline void time_todfft(benchmark::State& st, int nx, int ny) {
    int dir = 0;
    std::vector<float> src((size_t)(nx + 2) * ny), a(src.size());
    fill(src.data(), src.size());
    for (auto _ : st) {
        st.PauseTiming();
        a = src;
        st.ResumeTiming();
        todfft(a.data(), &nx, &ny, &dir);
        benchmark::ClobberMemory();
    }
}
