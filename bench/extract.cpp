// Extracting 500 particles of 256 x 256 from a 4096 x 4096 micrograph
// (normalised; and phase-flipped too), against reading that micrograph, in
// the same run: each iteration reads the file (untimed reference) and runs
// the extraction job on the micrograph in memory, stack written to /tmp.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/hooks.h"
#include "pick/extract.h"

namespace {

const int N = 4096, kParticles = 500, kBox = 256;

const std::string& dir() {
    static std::string d;
    if (d.empty()) {
        d = "/tmp/tarvik-bench-extract-" + std::to_string(getpid());
        if (system(("mkdir -p '" + d + "'").c_str()) != 0) std::abort();
        std::vector<float> v((size_t)N * N);
        std::mt19937 g(3);
        std::normal_distribution<float> n(100, 10);
        for (float& x : v) x = n(g);
        MRCData m;
        m.setRealData(v.data(), N, N, 1);
        m.setPixres(1.0f);
        m.writeMRCData((d + "/mic.mrc").c_str(), 0);
        std::atexit([] { (void)!system(("rm -rf '" + d + "'").c_str()); });
    }
    return d;
}

// Wall time and this thread's processor time, seconds.
struct Clock {
    std::chrono::steady_clock::time_point w = std::chrono::steady_clock::now();
    double c = cpu();
    static double cpu() {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return t.tv_sec + 1e-9 * t.tv_nsec;
    }
    double wall() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - w).count(); }
    double proc() const { return cpu() - c; }
};

void run(benchmark::State& st, bool flip) {
    keep_freed_memory();  // as the programs do
    const std::string& d = dir();
    std::mt19937 g(7);
    std::uniform_int_distribution<int> pos(kBox, N - kBox);
    ExtractSource src;
    src.micrograph = d + "/mic.mrc";
    src.havePicks = true;
    for (int i = 0; i < kParticles; i++) src.picks.push_back({(double)pos(g), (double)pos(g)});
    std::vector<CtfStarRow> ctf(1);
    ctf[0].micrograph = src.micrograph;
    ctf[0].estimate.defocusU = -1.6f;
    ctf[0].estimate.defocusV = -1.4f;
    ctf[0].estimate.astigAngle = 30;
    double read = 0, extract = 0, readCpu = 0, extractCpu = 0;
    int saved = dup(1), null = open("/dev/null", O_WRONLY);
    for (auto _ : st) {
        dup2(null, 1);  // the reader's information line
        Clock rc;
        MRCData m;
        m.readMRCData(src.micrograph.c_str());
        const double r = rc.wall();
        readCpu += rc.proc();
        fflush(stdout);
        dup2(saved, 1);
        ExtractJob job;
        job.params.size = kBox;
        job.params.flip = flip;
        job.outDir = d + "/out";
        job.ctf = &ctf;
        src.pixels = m.getRealData();
        src.nx = m.xSize();
        src.ny = m.ySize();
        src.pixel = 1.0;
        job.sources = {src};
        std::vector<ExtractReport> reports;
        std::string why;
        Clock ec;
        if (!extract_job(job, &reports, nullptr, &why) || reports[0].written != kParticles) st.SkipWithError("failed");
        const double e = ec.wall();
        extractCpu += ec.proc();
        st.SetIterationTime(e);
        read += r;
        extract += e;
    }
    close(null);
    close(saved);
    st.counters["read_ms"] = 1e3 * read / st.iterations();
    st.counters["extract_ms"] = 1e3 * extract / st.iterations();
    st.counters["ratio"] = extract / read;  // targets: 2 normalised, 4 with the flip
    // The same in processor time of the calling thread, which a busy machine disturbs less.
    st.counters["cpu_ratio"] = extractCpu / readCpu;
}

void BM_extract500Normalised(benchmark::State& st) {
    run(st, false);
}
void BM_extract500NormalisedFlipped(benchmark::State& st) {
    run(st, true);
}

}  // namespace

BENCHMARK(BM_extract500Normalised)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_extract500NormalisedFlipped)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
