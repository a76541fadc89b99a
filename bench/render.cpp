// Rendering a view's canvas: renderAmp8 and the lookup-table true-colour
// renderer, each next to one plain pass that reads the same sampled floats
// and writes the same number of output bytes (the reference, same run).
#include "numeric/render.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/MRCData.h"

namespace {

constexpr int kCanvas = 1024;

MRCData* bigImage() {
    static std::unique_ptr<MRCData> d = [] {
        auto m = std::make_unique<MRCData>();
        const int n = 8192;
        m->setSize(n, n, 1);
        float* p = m->getRealData();
        for (size_t i = 0; i < (size_t)n * n; i++) p[i] = (float)((i * 2654435761u) >> 20 & 1023);
        m->setSizes(n, n, 1);
        m->setRenMinMax(100, 900);
        return m;
    }();
    return d.get();
}

std::vector<std::unique_ptr<MRCData>>& tiles() {
    static std::vector<std::unique_ptr<MRCData>> t = [] {
        std::vector<std::unique_ptr<MRCData>> v;
        for (int k = 0; k < 400; k++) {
            std::vector<float> f(64 * 64);
            for (int i = 0; i < 64 * 64; i++) f[i] = (float)((i * 31 + k * 17) % 1000);
            auto m = std::make_unique<MRCData>();
            m->setRealData(f.data(), 64, 64, 1);
            m->setRenMinMax(100, 900);
            v.push_back(std::move(m));
        }
        return v;
    }();
    return t;
}

const uint32_t* lut() {
    static uint32_t t[256];
    for (int i = 0; i < 256; i++) t[i] = (uint32_t)(i * 0x010101);
    return t;
}

// The reference: nearest-neighbour sample indices as the renderers step them,
// one read of the float and one write of bpp bytes per screen pixel.
void plainPass(const float* data, int xSize, int ySize, int xOff, int yOff, float zoom, unsigned char* out, int width,
               int height, int bpl, int bpp) {
    float step = 1 / zoom;
    const float lo = 100, scale = 255.f / 800;
    for (int row = 0; row < height; row++) {
        int r = yOff + (int)(row * step);
        if (r >= ySize) break;
        const float* src = data + (size_t)r * xSize;
        unsigned char* line = out + (size_t)(height - 1 - row) * bpl;
        for (int col = 0; col < width; col++) {
            int c = xOff + (int)(col * step);
            if (c >= xSize) break;
            float v = (src[c] - lo) * scale;
            uint32_t L = v <= 0 ? 0 : v >= 255 ? 255 : (uint32_t)v;
            if (bpp == 1)
                line[col] = (unsigned char)L;
            else
                std::memcpy(line + (size_t)col * 4, &L, 4);
        }
    }
}

// Mode: 0 renderAmp8, 1 renderLUT (32-bit pixels), 2 plain 1-byte, 3 plain 4-byte.
void Single(benchmark::State& st, float zoom, int mode) {
    MRCData* d = bigImage();
    int bpp = (mode == 1 || mode == 3) ? 4 : 1;
    std::vector<unsigned char> buf((size_t)kCanvas * kCanvas * bpp);
    for (auto _ : st) {
        if (mode == 0)
            d->renderAmp8(buf.data(), 0, 0, kCanvas, kCanvas, kCanvas, zoom, 0, 255);
        else if (mode == 1)
            d->renderLUT(buf.data(), 0, 0, kCanvas, kCanvas, kCanvas * 4, zoom, lut(), 4, 0, 0);
        else
            plainPass(d->getRealData(), d->xSize(), d->ySize(), 0, 0, zoom, buf.data(), kCanvas, kCanvas, kCanvas * bpp,
                      bpp);
        benchmark::DoNotOptimize(buf.data());
    }
    st.SetItemsProcessed(st.iterations() * (int64_t)kCanvas * kCanvas);
}

// A 20 x 20 mosaic of 64 x 64 tiles on a 1280 x 1280 canvas, rendered tile
// by tile over the whole canvas as the view does.
void Mosaic(benchmark::State& st, int mode) {
    auto& t = tiles();
    const int W = 1280;
    int bpp = (mode == 1 || mode == 3) ? 4 : 1;
    std::vector<unsigned char> buf((size_t)W * W * bpp);
    for (auto _ : st) {
        for (int i = 0; i < 400; i++) {
            int c = i % 20, r = i / 20;
            MRCData* d = t[i].get();
            int xOff = -c * 64, yOff = -r * 64;
            if (mode == 0)
                d->renderAmp8(buf.data(), xOff, yOff, W, W, W, 1, 0, 255);
            else if (mode == 1)
                d->renderLUT(buf.data(), xOff, yOff, W, W, W * 4, 1, lut(), 4, 0, 0);
            else
                plainPass(d->getRealData(), 64, 64, 0, 0, 1,
                          buf.data() + (size_t)(W - 1 - r * 64 - 63) * W * bpp + (size_t)c * 64 * bpp, 64, 64, W * bpp,
                          bpp);
        }
        benchmark::DoNotOptimize(buf.data());
    }
    st.SetItemsProcessed(st.iterations() * 400 * 64 * 64);
}

}  // namespace

BENCHMARK_CAPTURE(Single, amp8_zoom1, 1.0f, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, plain8_zoom1, 1.0f, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, lut32_zoom1, 1.0f, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, plain32_zoom1, 1.0f, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, amp8_zoom0125, 0.125f, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, plain8_zoom0125, 0.125f, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, lut32_zoom0125, 0.125f, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, plain32_zoom0125, 0.125f, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, amp8_zoom04, 0.4f, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, plain8_zoom04, 0.4f, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, lut32_zoom04, 0.4f, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Single, plain32_zoom04, 0.4f, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Mosaic, amp8, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Mosaic, plain8, 2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Mosaic, lut32, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Mosaic, plain32, 3)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
