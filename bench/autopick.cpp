// Automatic picking: blob mode on a 4096 x 4096 micrograph of 1 A pixels with
// 150 A particles, next to one todfft of that size in the same run (target: at
// most 4 of them), and the panel's re-filter of 5,000 cached candidates
// (target: under 20 ms). Single thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include "bench/transform_bench.h"
#include "pick/autopick.h"
#include "tests/core/pick_synth.h"

namespace {

const PickSynthImage& micrograph() {
    static const PickSynthImage m = [] {
        PickSynth s;
        s.nx = s.ny = 4096, s.pixel = 1, s.diameter = 150, s.snr = 0.03f, s.particles = 300, s.contamination = 3;
        return pick_synth(s);
    }();
    return m;
}

void BM_todfft4096(benchmark::State& st) {
    time_todfft(st, 4096, 4096);
}
BENCHMARK(BM_todfft4096)->Unit(benchmark::kMillisecond);

// The best of three todffts of 4096 x 4096, seconds.
double todfftSeconds() {
    std::vector<float> src((size_t)4098 * 4096), a;
    fill(src.data(), src.size());
    double best = 1e30;
    for (int i = 0; i < 3; i++) {
        a = src;
        int nx = 4096, ny = 4096, dir = 0;
        const auto t0 = std::chrono::steady_clock::now();
        todfft(a.data(), &nx, &ny, &dir);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
}

void BM_AutopickBlob4096(benchmark::State& st) {
    const PickSynthImage& m = micrograph();
    AutopickParams p;
    p.pixel = 1, p.diameter = 150;
    std::vector<AutoPick> picks;
    double total = 0;
    for (auto _ : st) {
        const auto t0 = std::chrono::steady_clock::now();
        autopick(m.pixels.data(), 4096, 4096, p, &picks);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    st.counters["picks"] = (double)picks.size();
    st.counters["todffts"] = total / st.iterations() / todfftSeconds();
}
BENCHMARK(BM_AutopickBlob4096)->Unit(benchmark::kMillisecond);

void BM_Refilter5000(benchmark::State& st) {
    AutopickCandidates c;
    c.nx = c.ny = 4096;
    c.params.pixel = 1, c.params.diameter = 40;
    std::mt19937 g(1);
    std::uniform_real_distribution<float> pos(0, 4096), score(1.5f, 20);
    for (int i = 0; i < 5000; i++) c.list.push_back({pos(g), pos(g), score(g), i % 50 == 0});
    std::sort(c.list.begin(), c.list.end(),
              [](const AutopickCandidate& a, const AutopickCandidate& b) { return a.score > b.score; });
    AutopickParams p = c.params;
    p.threshold = 2;
    std::vector<AutoPick> picks;
    for (auto _ : st) {
        autopick_filter(c, p, &picks);
        benchmark::DoNotOptimize(picks.data());
    }
    st.counters["picks"] = (double)picks.size();
}
BENCHMARK(BM_Refilter5000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
