// Reading an 8192 x 8192 float MRC file and its statistics, next to a plain
// read() of the same file and a plain summing pass, in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/buffer.h"

namespace {

const int N = 8192;

const std::string& bigFile() {
    static std::string path;
    if (path.empty()) {
        path = "/tmp/tarvik-bench-" + std::to_string(getpid()) + ".mrc";
        std::vector<float> v((size_t)N * N);
        for (size_t i = 0; i < v.size(); i++) v[i] = (float)((i * 2654435761u) % 1000) * 0.01f;
        MRCData d;
        d.setRealData(v.data(), N, N, 1);
        d.writeMRCData(path.c_str(), 0);
        std::atexit([] { unlink(path.c_str()); });
    }
    return path;
}

void PlainRead(benchmark::State& st) {
    const std::string& f = bigFile();
    for (auto _ : st) {
        int fd = open(f.c_str(), O_RDONLY);
        size_t n = 1024 + (size_t)N * N * 4;
        char* buf = static_cast<char*>(std::malloc(n));
        size_t done = 0;
        ssize_t r;
        while (done < n && (r = read(fd, buf + done, n - done)) > 0) done += (size_t)r;
        benchmark::DoNotOptimize(buf[done / 2]);
        std::free(buf);
        close(fd);
    }
    st.SetBytesProcessed(st.iterations() * (int64_t)N * N * 4);
}

// The same read into a buffer on huge pages, as the reader allocates it.
void PlainReadHugePages(benchmark::State& st) {
    const std::string& f = bigFile();
    for (auto _ : st) {
        int fd = open(f.c_str(), O_RDONLY);
        size_t n = 1024 + (size_t)N * N * 4;
        FloatBuffer buf(n / 4 + 1);
        char* p = reinterpret_cast<char*>(buf.data());
        size_t done = 0;
        ssize_t r;
        while (done < n && (r = read(fd, p + done, n - done)) > 0) done += (size_t)r;
        benchmark::DoNotOptimize(p[done / 2]);
        close(fd);
    }
    st.SetBytesProcessed(st.iterations() * (int64_t)N * N * 4);
}

void ReadMRCAndUpdate(benchmark::State& st) {
    const std::string& f = bigFile();
    int saved = dup(1);
    int null = open("/dev/null", O_WRONLY);
    for (auto _ : st) {
        dup2(null, 1);  // the reader's information line
        MRCData d;
        d.readMRCData(f.c_str());
        fflush(stdout);
        dup2(saved, 1);
        benchmark::DoNotOptimize(d.Mean());
    }
    close(null);
    close(saved);
    st.SetBytesProcessed(st.iterations() * (int64_t)N * N * 4);
}

MRCData* loaded() {
    static MRCData* d = nullptr;
    if (!d) {
        std::vector<float> v((size_t)N * N);
        for (size_t i = 0; i < v.size(); i++) v[i] = (float)((i * 2654435761u) % 1000) * 0.01f;
        d = new MRCData();
        d->setRealData(v.data(), N, N, 1);
    }
    return d;
}

void PlainSum(benchmark::State& st) {
    MRCData* d = loaded();
    const float* p = d->getRealData();
    for (auto _ : st) {
        double s = 0;
        for (size_t i = 0; i < (size_t)N * N; i++) s += p[i];
        benchmark::DoNotOptimize(s);
    }
}

void Update(benchmark::State& st) {
    MRCData* d = loaded();
    for (auto _ : st) {
        d->setRenMinMax(-999, -999);
        d->update();
        benchmark::DoNotOptimize(d->Mean());
    }
}

// Peak resident memory of a fresh process that opens the file, next to the data size.
void PeakMemory(benchmark::State& st) {
    const std::string& f = bigFile();
    double peakMiB = 0;
    for (auto _ : st) {
        int fds[2];
        if (pipe(fds) != 0) break;
        pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            struct rusage before;
            getrusage(RUSAGE_SELF, &before);
            MRCData d;
            d.readMRCData(f.c_str());
            struct rusage ru;
            getrusage(RUSAGE_SELF, &ru);
            long kb[2] = {before.ru_maxrss, ru.ru_maxrss};
            if (write(fds[1], kb, sizeof kb)) {
            }
            _exit(0);
        }
        close(fds[1]);
        long kb[2] = {0, 0};
        if (read(fds[0], kb, sizeof kb) != sizeof kb) kb[0] = kb[1] = 0;
        close(fds[0]);
        waitpid(pid, nullptr, 0);
        peakMiB = (kb[1] - kb[0]) / 1024.0;
    }
    double dataMiB = (double)N * N * 4 / (1 << 20);
    st.counters["peak_MiB_over_start"] = peakMiB;
    st.counters["data_MiB"] = dataMiB;
    st.counters["ratio"] = peakMiB / dataMiB;
}

}  // namespace

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(PlainReadHugePages)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(ReadMRCAndUpdate)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(PlainSum)->Unit(benchmark::kMillisecond);
BENCHMARK(Update)->Unit(benchmark::kMillisecond);
BENCHMARK(PeakMemory)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
