// Picking on a big micrograph: a BOX cut made with the core calls the view's
// cut makes (a clip data set, extractReal, update, addBox), next to the
// render of the view's canvas at zoom 1 (the reference, same run), and cut
// plus a full re-render; and copying 200 boxes with alignment between two
// 4096 x 4096 micrographs. The X side of a redraw (drawing the box outlines
// over the pixmap) is not measured: it needs a display.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/MRCData.h"
#include "core/boxcut.h"
#include "core/boxops.h"
#include "core/fileutil.h"
#include "core/hooks.h"

namespace {

float noise(long x, long y) {
    uint32_t h = (uint32_t)x * 73856093u ^ (uint32_t)y * 19349663u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return (float)((h >> 8) & 1023);
}

std::unique_ptr<MRCData> field(int n, int sx, int sy) {
    auto d = std::make_unique<MRCData>();
    d->setSize(n, n, 1);
    float* p = d->getRealData();
    for (long y = 0; y < n; y++)
        for (long x = 0; x < n; x++) p[y * n + x] = noise(x - sx, y - sy);
    d->setSizes(n, n, 1);
    d->update();
    d->setName("micrograph");
    d->setFile("micrograph.mrc");
    return d;
}

MRCData* micrograph() {
    static std::unique_ptr<MRCData> d = field(8192, 0, 0);
    return d.get();
}

const uint32_t* lut() {
    static uint32_t t[256];
    for (int i = 0; i < 256; i++) t[i] = (uint32_t)(i * 0x010101);
    return t;
}

// The view's render of a W x H canvas at zoom 1 on a 32-bit true-colour visual.
void render(MRCData* d, std::vector<unsigned char>& buf, int W, int H) {
    d->setRenMinMax(100, 900);
    d->renderLUT(buf.data(), 3000, 3000, W, H, W * 4, 1, lut(), 4, 0, 0);
}

// What view_Clipped does for a box: the clip, its pixels and statistics, and
// the box in the source.
void cut(MRCData* src, int x0, int y0, int b) {
    if (src->nBoxes() > 1000) src->clearBoxes();
    std::unique_ptr<MRCData> c(new MRCData(src));
    c->setName("Clip micrograph (0,0)");
    c->setFile(clipFileName(src->File(), 1).c_str());
    c->setSize(b, b, 1);
    src->extractReal(c->getRealData(), x0, y0, b, b);
    c->update();
    src->addBox(x0, y0, b, b, c->File(), 0);
    benchmark::DoNotOptimize(c->getRealData());
}

// Mode 0 render alone, 1 cut alone, 2 cut and render.
void BoxCut(benchmark::State& st, int W, int H, int box, int mode) {
    MRCData* d = micrograph();
    std::vector<unsigned char> buf((size_t)W * H * 4);
    int k = 0;
    for (auto _ : st) {
        if (mode) cut(d, 3000 + (k * 37) % 400, 3000 + (k * 53) % 300, box);
        if (mode != 1) render(d, buf, W, H);
        benchmark::DoNotOptimize(buf.data());
        k++;
    }
}

// 200 boxes of 256 x 256 copied from F to G, G holding F's field moved by (13, -7).
void CopyWithAlign(benchmark::State& st) {
    static std::unique_ptr<MRCData> F = field(4096, 0, 0), G = field(4096, 13, -7);
    F->clearBoxes();
    for (int i = 0; i < 200; i++) F->addBox(100 + (i % 20) * 190, 100 + (i / 20) * 380, 256, 256, "b", 0);
    double ms = 0;
    for (auto _ : st) {
        G->clearBoxes();
        StdoutCapture quiet;
        auto t0 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(copyBoxesWithAlign(F.get(), {G.get()}));
        ms += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    }
    st.counters["ms_per_box"] = ms / (double)st.iterations() / 200;
}

}  // namespace

// The view's own canvas (420 x 380) and a large one (1024 x 1024); the
// default box size (512) and a common particle box (256).
BENCHMARK_CAPTURE(BoxCut, render_420x380, 420, 380, 512, 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BoxCut, cut512_420x380, 420, 380, 512, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BoxCut, cut512_render_420x380, 420, 380, 512, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BoxCut, cut256_420x380, 420, 380, 256, 1)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BoxCut, render_1024, 1024, 1024, 512, 0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BoxCut, cut512_render_1024, 1024, 1024, 512, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BoxCut, cut256_render_1024, 1024, 1024, 256, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(CopyWithAlign)->Unit(benchmark::kMillisecond)->Iterations(3);

// Measured as the workbench runs: freed image buffers stay in the process.
int main(int argc, char** argv) {
    keep_freed_memory();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
