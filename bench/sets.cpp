// Working through a micrograph set:
//  - Next without the read ahead: a 4096 x 4096 float micrograph read, its
//    statistics, and the view rendered at the zoom that shows it whole on a
//    1024 x 1024 canvas (no X round trip); next to a plain read() of the same
//    file in the same run. The target is 150 ms.
//  - Next with the read ahead: only the render is left on the GUI thread.
//  - What the GUI thread does with one CTF result of a 1,000-micrograph set
//    (its line, and micrographs_ctf.star rewritten).
//  - The memory of a 1,000-micrograph set: the set's table (counted by the
//    allocator) and the three micrographs held, printed as counters.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/micset.h"

namespace {

const int N = 4096, kCanvas = 1024;
const float kZoom = (float)kCanvas / N;

std::string& folder() {
    static std::string d;
    if (d.empty()) {
        d = "/tmp/tarvik-bench-sets-" + std::to_string(getpid());
        mkdir(d.c_str(), 0777);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder(), ec);
        });
    }
    return d;
}

const std::string& micrograph() {
    static std::string path;
    if (path.empty()) {
        path = folder() + "/big.mrc";
        std::vector<float> v((size_t)N * N);
        for (size_t i = 0; i < v.size(); i++) v[i] = (float)((i * 2654435761u) % 1000) * 0.01f;
        MRCData d;
        d.setRealData(v.data(), N, N, 1);
        d.writeMRCData(path.c_str(), 0);
    }
    return path;
}

const uint32_t* lut() {
    static uint32_t t[256];
    for (int i = 0; i < 256; i++) t[i] = (uint32_t)(i * 0x010101);
    return t;
}

void render(MRCData* d, std::vector<unsigned char>& canvas) {
    d->renderLUT(canvas.data(), 0, 0, kCanvas, kCanvas, kCanvas * 4, kZoom, lut(), 4, 0, 0);
}

// The reader's information line goes nowhere.
struct Quiet {
    int saved = dup(1), null = open("/dev/null", O_WRONLY);
    Quiet() {
        fflush(stdout);
        dup2(null, 1);
    }
    ~Quiet() {
        fflush(stdout);
        dup2(saved, 1);
        close(null);
        close(saved);
    }
};

void PlainReadOfTheFile(benchmark::State& st) {
    const std::string& f = micrograph();
    std::vector<char> buf(1024 + (size_t)N * N * 4);
    for (auto _ : st) {
        int fd = open(f.c_str(), O_RDONLY);
        size_t done = 0;
        ssize_t r;
        while (done < buf.size() && (r = read(fd, buf.data() + done, buf.size() - done)) > 0) done += (size_t)r;
        close(fd);
        benchmark::DoNotOptimize(buf[done / 2]);
    }
}

void NextWithoutReadAhead(benchmark::State& st) {
    const std::string& f = micrograph();
    std::vector<unsigned char> canvas((size_t)kCanvas * kCanvas * 4);
    const ScanScale sc{30, 25};
    Quiet q;
    for (auto _ : st) {
        MRCData d(sc.mag, sc.pixres());
        d.readMRCData(f.c_str(), sc);  // statistics included
        render(&d, canvas);
        benchmark::DoNotOptimize(canvas[canvas.size() / 2]);
    }
}

void NextWithReadAhead(benchmark::State& st) {
    const ScanScale sc{30, 25};
    MRCData d(sc.mag, sc.pixres());
    {
        Quiet q;
        d.readMRCData(micrograph().c_str(), sc);
    }
    std::vector<unsigned char> canvas((size_t)kCanvas * kCanvas * 4);
    for (auto _ : st) {
        render(&d, canvas);
        benchmark::DoNotOptimize(canvas[canvas.size() / 2]);
    }
}

// A set folder of n micrographs of 4096 x 4096 floats, as sparse files: the
// headers are real, the values take no disk.
std::string setOf(int n) {
    const std::string dir = folder() + "/set" + std::to_string(n);
    if (mkdir(dir.c_str(), 0777) != 0) return dir;
    std::string header(1024, '\0');
    {
        std::FILE* fp = std::fopen(micrograph().c_str(), "rb");
        if (!fp || std::fread(&header[0], 1, 1024, fp) != 1024) std::abort();
        std::fclose(fp);
    }
    for (int i = 0; i < n; i++) {
        char name[64];
        std::snprintf(name, sizeof name, "/mic%05d.mrc", i);
        const std::string p = dir + name;
        int fd = open(p.c_str(), O_CREAT | O_WRONLY, 0644);
        if (write(fd, header.data(), 1024) != 1024 || ftruncate(fd, 1024 + (off_t)N * N * 4) != 0) std::abort();
        close(fd);
    }
    return dir;
}

void SetOfAThousand(benchmark::State& st) {
    const std::string dir = setOf(1000);
    double tableBytes = 0;
    for (auto _ : st) {
        const size_t before = mallinfo2().uordblks;
        auto s = std::make_unique<MicSet>();
        micset_open(dir, s.get());
        tableBytes = (double)(mallinfo2().uordblks - before);
        benchmark::DoNotOptimize(s->entries.size());
    }
    const double image = (double)N * N * sizeof(float);
    st.counters["table_KiB"] = tableBytes / 1024;
    st.counters["bytes_per_micrograph"] = tableBytes / 1000;
    st.counters["three_images_MiB"] = 3 * image / (1 << 20);
    st.counters["whole_set_MiB"] = (3 * image + tableBytes) / (1 << 20);
}

void CtfResultOnTheGuiThread(benchmark::State& st) {
    static MicSet s;
    if (s.entries.empty()) {
        micset_open(setOf(1000), &s);
        s.dir = folder() + "/state";
        for (MicEntry& e : s.entries) {
            e.hasCtf = true;
            e.ctf.defocusU = -1.5f;
            e.ctf.defocusV = -1.4f;
            e.ctf.resolution = 4;
        }
    }
    CtfEstimateParams p;
    int i = 0;
    for (auto _ : st) {
        s.entries[i].ctf.defocusU -= 0.001f;
        micset_write_ctf(s, p);
        benchmark::DoNotOptimize(micset_line(s, i));
        i = (i + 1) % 1000;
    }
}

}  // namespace

BENCHMARK(PlainReadOfTheFile)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(NextWithoutReadAhead)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(NextWithReadAhead)->Unit(benchmark::kMillisecond);
BENCHMARK(CtfResultOnTheGuiThread)->Unit(benchmark::kMillisecond);
BENCHMARK(SetOfAThousand)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
