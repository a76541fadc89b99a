// Raw-stream readers used by the IMAGIC format: rows come bottom row first.
#include <cstdio>
#include <cstring>

#include "core/MRCData.h"
#include "core/hooks.h"


static int streamRows(MRCData* d, FILE* fp, int nx, int ny, int nz, size_t vbytes, const char* label) {
    unsigned char* base = reinterpret_cast<unsigned char*>(d->getRealData());
    const size_t rowBytes = (size_t)nx * vbytes;
    const long long total = (long long)ny * nx * (long long)vbytes;
    for (int done = 0; done < ny; done++) {
        int r = ny - 1 - done;
        size_t got = std::fread(base + (size_t)r * rowBytes * nz, rowBytes, nz, fp);
        if ((int)got != nz) {
            std::printf("Incomplete data read %d/%d blocks\n", (int)got, nz * ny);
            // Rows that never arrived read as zeros, never as stale memory.
            std::memset(base + ((size_t)r * nz + got) * rowBytes, 0, (nz - got) * rowBytes);
            std::memset(base, 0, (size_t)r * rowBytes * nz);
            if (nx > 511) do_progress(-1, 0, nullptr);
            return 0;
        }
        if (nx > 511) do_progress_bytes((long long)nx * (done + 1) * vbytes, total, label);
    }
    return 1;
}

int MRCData::setFloatRealFromStream(FILE* fp, int x, int y, int z, int swap) {
    if (!saneSize(x, y, z)) {
        std::printf("Incomplete data read 0/0 blocks\n");
        return 0;
    }
    resizeData((size_t)x * y * z);
    setSizes(x, y, z);
    if (!streamRows(this, fp, x, y, z, 4, "Reading float data...")) return 0;
    if (swap) {
        if (x > 511) do_progress_bytes(4LL * x * y * z, 4LL * x * y * z, "Swapping byte order");
        brev(reinterpret_cast<unsigned char*>(getRealData()), x * y * z);
    }
    update();
    if (x >= 512) do_progress(-1, 0, nullptr);
    return 1;
}

int MRCData::setShortRealFromStream(FILE* fp, int x, int y, int z, int swap) {
    if (!saneSize(x, y, z)) {
        std::printf("Incomplete data read 0/0 blocks\n");
        return 0;
    }
    // Sized for x*y floats; the 16-bit rows fill its front half.
    resizeData((size_t)x * y * z);
    setSizes(x, y, z);
    if (!streamRows(this, fp, x, y, z, 2, "Reading 16 bit data...")) return 0;
    if (x > 511) do_progress_bytes(2LL * x * y * z, 2LL * x * y * z, "Converting to float");
    float* f = getRealData();
    const unsigned char* b = reinterpret_cast<const unsigned char*>(f);
    // Back to front, so the expansion can share the buffer.
    for (long long i = (long long)x * y * z - 1; i >= 0; i--) {
        unsigned hi = swap ? b[2 * i] : b[2 * i + 1];
        unsigned lo = swap ? b[2 * i + 1] : b[2 * i];
        f[i] = (float)((hi << 8) | lo);
    }
    update();
    if (x >= 512) do_progress(-1, 0, nullptr);
    return 1;
}
