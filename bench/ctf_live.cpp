// Tools > Analyze on an 8192 x 8192 micrograph and one fit of the live CTF
// window, each next to a plain 512 x 512 todfft measured in the same run.
// The window itself needs a display: Analyze is timed through its core steps
// (centre clip, normalize, transform, radial profile, and the arithmetic of
// the first redisplay: figures, model, chi).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/transform_bench.h"
#include "core/MRCData.h"
#include "core/hooks.h"
#include "core/prefs.h"
#include "ctf/fit.h"
#include "ctf/livecalc.h"
#include "ctf/model.h"
#include "fft/ifftsubs.h"

namespace {
void BM_todfft512(benchmark::State& st) {
    time_todfft(st, 512, 512);
}
BENCHMARK(BM_todfft512)->Unit(benchmark::kMillisecond);

void BM_AnalyzeCore8192(benchmark::State& st) {
    const int n = 8192;
    MRCData mic;
    {
        std::vector<float> v((size_t)n * n);
        fill(v.data(), v.size());
        mic.setRealData(v.data(), n, n, 1);
    }
    float lastScale = 0, fit[200], mark, lo, hi;
    for (auto _ : st) {
        std::unique_ptr<MRCData> clip(mic.makeClip(n / 2 - 256, n / 2 - 256, 512, 512));
        clip->normalize();
        std::unique_ptr<MRCData> F(clip->doFFT(0));
        const float* P = F->calcDist(0, 1, 1);
        float x[200], main[200];
        ProfileFigures f = live_profile_figures(P + 200, &lastScale);
        const float step = 1.0f / (F->Pixres() * 512);
        for (int i = 0; i < 200; i++) x[i] = P[i] * step;
        for (int i = 0; i < 200; i++) main[i] = P[200 + i];
        float p[8] = {1.5f, 1, 0, 0, 1.084f, 1.57f, 0.8157f, 0.03466f};
        lo = f.yMin;
        hi = f.yMax;
        ctf_display_form(x, 200, p, ctf_context_prefs(f.bgScale), true, nullptr, fit, &mark, &lo, &hi);
        benchmark::DoNotOptimize(ctf_chi(fit, main));
    }
}
BENCHMARK(BM_AnalyzeCore8192)->Unit(benchmark::kMillisecond);

// One fit from a defocus 6 % short of the truth on a noisy model profile.
void BM_Fit(benchmark::State& st) {
    clearenv2();
    float x[200], y[200];
    for (int i = 0; i < 200; i++) x[i] = i * 0.24f / 200;
    float truth[8] = {-1.5f, 10, 1.5f, 0.07f, 0.8f, 1.5f, 0.9f, 0.04f}, mark;
    ctf_display_form(x, 200, truth, ctf_context_prefs(0.6f), true, nullptr, y, &mark, nullptr, nullptr);
    unsigned s = 7;
    for (float& v : y) {
        s = s * 1103515245u + 12345u;
        v *= 1 + 0.05f * ((float)((s >> 8) & 0xffff) / 65536.0f - 0.5f);
    }
    const float start[8] = {-1.41f, 10, 1.5f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
    const int vary[8] = {1, 1, 1, 0, 1, 1, 1, 1};
    std::FILE* keep = stdout;
    stdout = std::fopen("/dev/null", "w");  // the fit's printed lines
    float found = 0;
    for (auto _ : st) found = ctf_fit_profile(x, y, start, vary, ctf_context_prefs(0.6f), nullptr, nullptr).a[0];
    std::fclose(stdout);
    stdout = keep;
    st.counters["defocus"] = found;
}
BENCHMARK(BM_Fit)->Unit(benchmark::kMillisecond);
}  // namespace

// Measured as the workbench runs: freed image buffers stay in the process.
int main(int argc, char** argv) {
    keep_freed_memory();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
