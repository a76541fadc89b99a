// tarvik-proc ctf on a synthetic 4096 x 4096 micrograph next to tarvik-proc fft
// of the same file, measured in the same run and interleaved, so that the
// ratio holds whatever else the machine is doing; and the two in memory
// (ctf_estimate against doFFT), without reading and writing files; and the
// 2-D diagnostic against the estimate it shows (target: ratio at most 1).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "ctf/diagnostic.h"
#include "ctf/estimate.h"
#include "tests/core/ctf_synth.h"

namespace {

const int kSize = 4096;
std::string g_dir;
std::vector<float> g_img;

SynthCtf micrograph() {
    SynthCtf s;
    s.nx = s.ny = kSize;
    s.pixel = 1.1f, s.kv = 300, s.cs = 2.7f, s.defocus = 1.8f, s.astig = 0.15f, s.angle = 35, s.seed = 7;
    return s;
}

void prepare() {
    if (!g_dir.empty()) return;
    char tmpl[] = "/tmp/tarvik-benchctf-XXXXXX";
    g_dir = mkdtemp(tmpl);
    g_img = synth_micrograph(micrograph());
    synth_write_mrc(g_dir + "/m.mrc", g_img, kSize, kSize, kSize, micrograph().pixel);
}

double seconds(const std::string& cmd) {
    auto t0 = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

const std::string proc = TARVIK_PROC;

// The timed part is the ctf command; each iteration also runs the fft command
// (untimed) and the counters give its mean time and the ratio.
void BM_procCtfAgainstFft(benchmark::State& st) {
    prepare();
    const std::string ctf = "'" + proc + "' ctf '" + g_dir + "/m.mrc' --kv 300 --cs 2.7 >/dev/null 2>&1";
    const std::string fft = "'" + proc + "' fft '" + g_dir + "/m.mrc' '" + g_dir + "/f.mrc' >/dev/null 2>&1";
    double tc = 0, tf = 0;
    int n = 0;
    for (auto _ : st) {
        double c = seconds(ctf);
        st.SetIterationTime(c);
        st.PauseTiming();
        tf += seconds(fft);
        tc += c;
        n++;
        st.ResumeTiming();
    }
    st.counters["fft_ms"] = 1000 * tf / n;
    st.counters["ctf_ms"] = 1000 * tc / n;
    st.counters["ratio"] = tc / tf;
}
BENCHMARK(BM_procCtfAgainstFft)->UseManualTime()->Iterations(6)->Unit(benchmark::kMillisecond);

void BM_ctfEstimate(benchmark::State& st) {
    prepare();
    const SynthCtf s = micrograph();
    CtfEstimateParams p;
    p.pixel = s.pixel, p.kv = s.kv, p.csMM = s.cs;
    CtfEstimate e;
    for (auto _ : st) benchmark::DoNotOptimize(ctf_estimate(g_img.data(), kSize, kSize, p, &e));
    st.counters["defocus"] = e.defocus;
}
BENCHMARK(BM_ctfEstimate)->Iterations(4)->Unit(benchmark::kMillisecond);

// The timed part is the diagnostic from the spectrum the estimate kept; each
// iteration also makes the estimate (untimed) for the ratio.
void BM_ctfDiagnosticAgainstEstimate(benchmark::State& st) {
    prepare();
    const SynthCtf s = micrograph();
    CtfEstimateParams p;
    p.pixel = s.pixel, p.kv = s.kv, p.csMM = s.cs;
    double te = 0, td = 0;
    int n = 0;
    for (auto _ : st) {
        CtfEstimate e;
        CtfSpectrum sp;
        std::vector<float> out;
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(ctf_estimate(g_img.data(), kSize, kSize, p, &e, &sp));
        auto t1 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(ctf_diagnostic(sp, e, p, &out));
        auto t2 = std::chrono::steady_clock::now();
        const double d = std::chrono::duration<double>(t2 - t1).count();
        st.SetIterationTime(d);
        te += std::chrono::duration<double>(t1 - t0).count();
        td += d;
        n++;
    }
    st.counters["estimate_ms"] = 1000 * te / n;
    st.counters["diagnostic_ms"] = 1000 * td / n;
    st.counters["ratio"] = td / te;
}
BENCHMARK(BM_ctfDiagnosticAgainstEstimate)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);

void BM_doFFT(benchmark::State& st) {
    prepare();
    MRCData d;
    d.setRealData(g_img.data(), kSize, kSize, 1);
    for (auto _ : st) {
        MRCData* f = d.doFFT(0);
        benchmark::DoNotOptimize(f);
        delete f;
    }
}
BENCHMARK(BM_doFFT)->Iterations(4)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!g_dir.empty()) (void)!std::system(("rm -rf '" + g_dir + "'").c_str());
    return 0;
}
