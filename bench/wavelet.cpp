// Wavelet transform speed; the reference is one pass of memcpy plus a 4-tap
// convolution over the same image, measured in the same run.
#include "wav/wavelet.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "wav/filter.h"

namespace {

std::vector<float> image(int n) {
    std::mt19937 gen(1);
    std::uniform_real_distribution<float> u(-1, 1);
    std::vector<float> v((size_t)n * n);
    for (auto& x : v) x = u(gen);
    return v;
}

void BM_transform2d(benchmark::State& st) {
    int n = (int)st.range(0), basis = (int)st.range(1);
    std::vector<float> in = image(n), out(in.size());
    Wavelet w(wavelet_bank(basis));
    for (auto _ : st) {
        w.transform2d(in.data(), out.data(), n, n, 6);
        benchmark::DoNotOptimize(out.data());
    }
    st.SetLabel(wavelet_bank_name(basis));
}

void BM_invert2d(benchmark::State& st) {
    int n = (int)st.range(0), basis = (int)st.range(1);
    std::vector<float> in = image(n), out(in.size());
    Wavelet w(wavelet_bank(basis));
    for (auto _ : st) {
        w.invert2d(in.data(), out.data(), n, n, 6);
        benchmark::DoNotOptimize(out.data());
    }
    st.SetLabel(wavelet_bank_name(basis));
}

// Reference: a plain separable 4-tap filter pass over rows and columns (no decimation).
void BM_reference_separable4(benchmark::State& st) {
    int n = (int)st.range(0);
    std::vector<float> in = image(n), out(in.size()), col(n + 4);
    const float c[4] = {0.48f, 0.83f, 0.22f, -0.13f};
    for (auto _ : st) {
        for (int r = 0; r < n; r++) {
            const float* s = in.data() + (size_t)r * n;
            float* d = out.data() + (size_t)r * n;
            for (int x = 0; x + 3 < n; x++) d[x] = c[0] * s[x] + c[1] * s[x + 1] + c[2] * s[x + 2] + c[3] * s[x + 3];
        }
        for (int x = 0; x < n; x++) {
            for (int r = 0; r < n; r++) col[r] = out[(size_t)r * n + x];
            for (int r = 0; r + 3 < n; r++)
                out[(size_t)r * n + x] = c[0] * col[r] + c[1] * col[r + 1] + c[2] * col[r + 2] + c[3] * col[r + 3];
        }
        benchmark::DoNotOptimize(out.data());
    }
}

}  // namespace

BENCHMARK(BM_transform2d)
    ->Args({512, 1})
    ->Args({512, 4})
    ->Args({1024, 1})
    ->Args({1024, 4})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_invert2d)->Args({512, 1})->Args({512, 4})->Args({1024, 1})->Args({1024, 4})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_reference_separable4)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
