// Reading an 8192 x 8192 SPIDER file and an IMAGIC stack of 1000 images of
// 128 x 128, each next to a plain read() of the same bytes, in the same run.
#include "core/formats.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/buffer.h"

namespace {

const int N = 8192, STACK = 1000, S = 128;

std::string base() {
    return "/tmp/tarvik-bench-fmt-" + std::to_string(getpid());
}

const std::string& spiderFile() {
    static std::string path;
    if (path.empty()) {
        path = base() + ".spi";
        std::vector<float> v((size_t)N * N);
        for (size_t i = 0; i < v.size(); i++) v[i] = (float)((i * 2654435761u) % 1000) * 0.01f;
        MRCData d;
        d.setRealData(v.data(), N, N, 1);
        d.writeSPIDER(path.c_str());
        std::atexit([] { unlink(path.c_str()); });
    }
    return path;
}

const std::string& imagicStem() {
    static std::string stem;
    if (stem.empty()) {
        stem = base() + "-stack";
        std::vector<float> v((size_t)S * S);
        for (int k = 0; k < STACK; k++) {
            for (size_t i = 0; i < v.size(); i++) v[i] = (float)((i * 7 + k) % 255);
            MRCData d;
            d.setRealData(v.data(), S, S, 1);
            d.appendImagic((stem + ".hed").c_str());
        }
        std::atexit([] {
            unlink((stem + ".hed").c_str());
            unlink((stem + ".img").c_str());
        });
    }
    return stem;
}

// read() of a whole file into a fresh buffer, as a reader at its best would;
// with huge set, into the huge-page buffer the data sets use.
size_t plainRead(const std::string& f, bool huge = false) {
    int fd = open(f.c_str(), O_RDONLY);
    off_t n = lseek(fd, 0, SEEK_END);
    lseek(fd, 0, SEEK_SET);
    if (huge) {
        FloatBuffer fb((size_t)n / 4 + 1);
        char* p = reinterpret_cast<char*>(fb.data());
        size_t done = 0;
        ssize_t r;
        while (done < (size_t)n && (r = read(fd, p + done, (size_t)n - done)) > 0) done += (size_t)r;
        benchmark::DoNotOptimize(p[done / 2]);
        close(fd);
        return done;
    }
    char* buf = static_cast<char*>(std::malloc((size_t)n));
    size_t done = 0;
    ssize_t r;
    while (done < (size_t)n && (r = read(fd, buf + done, (size_t)n - done)) > 0) done += (size_t)r;
    benchmark::DoNotOptimize(buf[done / 2]);
    std::free(buf);
    close(fd);
    return done;
}

// Runs f with the readers' information lines sent to /dev/null.
template <class F>
void quiet(F f) {
    std::fflush(stdout);
    int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    f();
    std::fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
}

void SpiderPlainRead(benchmark::State& st) {
    const std::string& f = spiderFile();
    for (auto _ : st) plainRead(f);
    st.SetBytesProcessed(st.iterations() * (int64_t)N * N * 4);
}

void SpiderPlainReadHugePages(benchmark::State& st) {
    const std::string& f = spiderFile();
    for (auto _ : st) plainRead(f, true);
    st.SetBytesProcessed(st.iterations() * (int64_t)N * N * 4);
}

void SpiderRead(benchmark::State& st) {
    const std::string& f = spiderFile();
    for (auto _ : st) {
        MRCData d;
        quiet([&] { d.readSPIDER(f.c_str()); });
        benchmark::DoNotOptimize(d.Mean());
    }
    st.SetBytesProcessed(st.iterations() * (int64_t)N * N * 4);
}

// The statistics every reader ends with (update), alone, on the SPIDER image.
void SpiderStatisticsOnly(benchmark::State& st) {
    MRCData d;
    quiet([&] { d.readSPIDER(spiderFile().c_str()); });
    for (auto _ : st) {
        d.setRenMinMax(-999, -999);
        d.update();
        benchmark::DoNotOptimize(d.Mean());
    }
}

void ImagicPlainRead(benchmark::State& st) {
    const std::string& s = imagicStem();
    for (auto _ : st) {
        plainRead(s + ".hed");
        plainRead(s + ".img");
    }
    st.SetBytesProcessed(st.iterations() * (int64_t)STACK * (S * S * 4 + 1024));
}

void ImagicPlainReadHugePages(benchmark::State& st) {
    const std::string& s = imagicStem();
    for (auto _ : st) {
        plainRead(s + ".hed", true);
        plainRead(s + ".img", true);
    }
    st.SetBytesProcessed(st.iterations() * (int64_t)STACK * (S * S * 4 + 1024));
}

void ImagicRead(benchmark::State& st) {
    const std::string& s = imagicStem();
    for (auto _ : st) {
        List* l = nullptr;
        quiet([&] { l = readIMAGIC((s + ".hed").c_str()); });
        benchmark::DoNotOptimize(l);
        freeDataList(l);
    }
    st.SetBytesProcessed(st.iterations() * (int64_t)STACK * (S * S * 4 + 1024));
}

}  // namespace

BENCHMARK(SpiderPlainRead)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(SpiderPlainReadHugePages)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(SpiderRead)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(SpiderStatisticsOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(ImagicPlainRead)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(ImagicPlainReadHugePages)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK(ImagicRead)->Unit(benchmark::kMillisecond)->MinTime(1);
BENCHMARK_MAIN();
