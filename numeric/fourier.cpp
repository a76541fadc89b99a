// Fourier transforms of data sets and the reshaping done for them.
#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/MRCData.h"
#include "fft/ifftsubs.h"
#include "numeric/fastmath.h"
#include "numeric/random.h"

namespace {

// A transform buffer is written once from end to end right after it is made;
// huge pages spare the thousands of page faults of a large one.
void preferHugePages(float* p, size_t n) {
#ifdef MADV_HUGEPAGE
    const uintptr_t huge = 2u << 20;
    uintptr_t b = ((uintptr_t)p + huge - 1) & ~(huge - 1), e = ((uintptr_t)(p + n)) & ~(huge - 1);
    if (e > b) madvise((void*)b, e - b, MADV_HUGEPAGE);
#endif
}

}  // namespace

MRCData* MRCData::doFFT(int keepReIm) {
    if (isComplex()) {
        std::printf("Cannot do FFT of FFT\n");
        return nullptr;
    }
    if (npfa(nx) != nx || npfa(ny) != ny || nx < 2 || ny < 2) {
        std::printf("Invalid FFT size!\n");
        return nullptr;
    }
    const int NX = nx, NY = ny;
    MRCData* f = new MRCData(this);
    f->resizeData((size_t)(NX + 4) * NY);
    f->setSizes(NX + 2, NY, 1);
    preferHugePages(f->getRealData(), (size_t)(NX + 4) * NY);
    f->setName(("FFT " + std::string(Name())).c_str());
    todfft_centred(data.data(), f->getRealData(), NX, NY, keepReIm ? nullptr : ampPhaseBlocks);
    f->setFlags(keepReIm ? 7 : 3);
    f->update();
    return f;
}

MRCData* MRCData::doIFT(int isReIm) {
    if (!isComplex()) {
        std::printf("Cannot do IFT of real\n");
        return nullptr;
    }
    const int NX = nx - 2, NY = ny;
    if (NX < 2 || NY < 2 || !isvalidfft(NX) || !isvalidfft(NY)) return nullptr;
    MRCData* r = new MRCData(this);
    r->resizeData((size_t)(nx + 2) * NY);
    r->setName(("IFT " + std::string(Name())).c_str());
    float* a = r->getRealData();
    std::memcpy(a, data.data(), (size_t)nx * NY * sizeof(float));
    if (!isReIm) toReIm(a, (long)nx * NY / 2);
    int ix = NX, iy = NY, dir = 1;
    todfft(a, &ix, &iy, &dir);
    // Rows were taken as they are stored (centred); that leaves every odd
    // output row negated, undone while the rows are packed to stride NX.
    for (long y = 0; y < NY; y++) {
        const float* s = a + y * (long)nx;
        float* d = a + y * (long)NX;
        if (y & 1)
            for (long x = 0; x < NX; x++) d[x] = -s[x];
        else if (y)
            std::memmove(d, s, NX * sizeof(float));
    }
    r->setSizes(NX, NY, 1);
    r->setFlags(0);
    r->update();
    return r;
}

int MRCData::padTo(int noise, int newX, int newY) {
    if (isComplex()) {
        std::printf("Cannot pad a Fourier transform\n");
        return 0;
    }
    if (newX < nx || newY < ny) {
        std::printf("Cannot pad to a smaller size (%dx%d is below %dx%d)\n", newX, newY, nx, ny);
        return 0;
    }
    if (!saneSize((long long)newX + 2, newY, 1)) {
        std::printf("Pad size %dx%d is too large\n", newX, newY);
        return 0;
    }
    const long NX = nx, NY = ny;
    const long L = (newX - NX) / 2, B = (newY - NY) / 2;
    const float m = Mean(), sg = Sigma();
    if ((size_t)(newX + 2) * newY > data.size()) data.resize((size_t)(newX + 2) * newY);
    float* d = data.data();
    // Last row and column first, so nothing unread is overwritten.
    for (long y = NY - 1; y >= 0; y--)
        for (long x = NX - 1; x >= 0; x--) d[(y + B) * newX + x + L] = d[y * NX + x];
    for (long y = 0; y < newY; y++)
        for (long x = 0; x < newX; x++) {
            if (y >= B && y < B + NY && x >= L && x < L + NX) continue;
            d[y * newX + x] = noise ? grand(m, sg) : m;
        }
    nx = newX;
    ny = newY;
    nz = 1;
    return update();
}

void MRCData::toCorner() {
    if (isComplex()) return;
    const long hx = nx / 2, hy = ny / 2;
    float* d = data.data();
    for (long y = 0; y < hy; y++)
        for (long x = 0; x < hx; x++) {
            std::swap(d[y * nx + x], d[(y + hy) * nx + x + hx]);
            std::swap(d[y * nx + x + hx], d[(y + hy) * nx + x]);
        }
}

// The rectangle is clamped into the image; a rectangle larger than the image
// is cut to it and the part of dest beyond it is set to 0, so nothing is read
// outside the source.
int MRCData::extractReal(float* dest, int x0, int y0, int width, int height) {
    if (isComplex()) return 0;
    if (width <= 0 || height <= 0) return 1;
    if (x0 + (long)width > nx) x0 = nx - width;
    if (y0 + (long)height > ny) y0 = ny - height;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    const int w = std::min(width, nx), h = std::min(height, ny);
    for (long r = 0; r < height; r++) {
        float* o = dest + r * width;
        if (r < h) {
            std::memcpy(o, data.data() + (y0 + r) * (long)nx + x0, (size_t)w * sizeof(float));
            std::fill(o + w, o + width, 0.0f);
        } else {
            std::fill(o, o + width, 0.0f);
        }
    }
    return 1;
}

int MRCData::extractCompl(float* dest, int x0, int y0, int width, int height) {
    if (!isComplex()) return 0;
    if (width <= 0 || height <= 0) return 1;
    if (y0 + (long)height > ny) y0 = ny - height;
    if (y0 < 0) y0 = 0;
    const int w = std::min(width, nx), h = std::min(height, ny);
    for (long r = 0; r < height; r++) {
        float* o = dest + r * width;
        if (r < h) {
            std::memcpy(o, data.data() + (y0 + r) * (long)nx, (size_t)w * sizeof(float));
            std::fill(o + w, o + width, 0.0f);
        } else {
            std::fill(o, o + width, 0.0f);
        }
    }
    return 1;
}
