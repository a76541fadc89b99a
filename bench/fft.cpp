// todfft against FFTW3 single precision (measured in the same run), and the
// layout work of doFFT against todfft alone.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "bench/transform_bench.h"
#include "core/MRCData.h"
#include "fft/ifftsubs.h"
#ifdef HAVE_FFTW3F
#include <fftw3.h>
#endif

namespace {

const int kSizes[][2] = {{512, 512}, {1024, 1024}, {4096, 4096}, {3000, 2000}};

// Forward real 2-D transform in place through todfft.
void BM_todfft(benchmark::State& st) {
    const int nx = kSizes[st.range(0)][0], ny = kSizes[st.range(0)][1];
    time_todfft(st, nx, ny);
    st.SetLabel(std::to_string(nx) + "x" + std::to_string(ny));
}

#ifdef HAVE_FFTW3F
// FFTW's r2c of the same image (rows of nx reals in, nx/2+1 complex per row out).
void BM_fftw(benchmark::State& st) {
    int nx = kSizes[st.range(0)][0], ny = kSizes[st.range(0)][1];
    float* in = fftwf_alloc_real((size_t)nx * ny);
    fftwf_complex* out = fftwf_alloc_complex((size_t)(nx / 2 + 1) * ny);
    fftwf_plan p = fftwf_plan_dft_r2c_2d(ny, nx, in, out, FFTW_MEASURE);
    std::vector<float> src((size_t)nx * ny);
    fill(src.data(), src.size());
    for (auto _ : st) {
        st.PauseTiming();
        std::copy(src.begin(), src.end(), in);
        st.ResumeTiming();
        fftwf_execute(p);
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(p);
    fftwf_free(in);
    fftwf_free(out);
    st.SetLabel(std::to_string(nx) + "x" + std::to_string(ny));
}
BENCHMARK(BM_fftw)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_todfft)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// doFFT: copy into rows of nx+2, todfft, amplitude/phase, row centring, statistics.
void BM_doFFT(benchmark::State& st) {
    int nx = kSizes[st.range(0)][0], ny = kSizes[st.range(0)][1];
    std::vector<float> src((size_t)nx * ny);
    fill(src.data(), src.size());
    MRCData d;
    d.setRealData(src.data(), nx, ny, 1);
    for (auto _ : st) {
        MRCData* f = d.doFFT(0);
        benchmark::DoNotOptimize(f);
        st.PauseTiming();
        delete f;
        st.ResumeTiming();
    }
    st.SetLabel(std::to_string(nx) + "x" + std::to_string(ny));
}
BENCHMARK(BM_doFFT)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

// The statistics and histogram pass (update) that doFFT must end with, on
// its result: the part of doFFT's time that is not transform or layout work.
void BM_updateOfTransform(benchmark::State& st) {
    int nx = kSizes[st.range(0)][0], ny = kSizes[st.range(0)][1];
    std::vector<float> src((size_t)nx * ny);
    fill(src.data(), src.size());
    MRCData d;
    d.setRealData(src.data(), nx, ny, 1);
    MRCData* f = d.doFFT(0);
    for (auto _ : st) f->update();
    delete f;
    st.SetLabel(std::to_string(nx) + "x" + std::to_string(ny));
}
BENCHMARK(BM_updateOfTransform)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
