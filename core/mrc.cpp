// MRC image files: five modes, both byte orders, optionally compressed.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>

#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/hooks.h"
#include "core/prefs.h"

namespace {

const char* const kModeName[5] = {"char", "short", "float", "short complex", "float complex"};
const char* const kModeLabel[5] = {"Reading 8 bit data...", "Reading 16 bit data...", "Reading float data...",
                                   "Reading complex 16 bit data...", "Reading complex float data..."};
const int kModeBytes[5] = {1, 2, 4, 2, 4};
const int kMapOffset = 208;  // "MAP " and the machine stamp: byte strings, not words

}  // namespace

int MRCData::readMRCData(const char* fname) {
    if (!mrcHed) {
        mrcHed = new MRCheader;
        std::memset(mrcHed, 0, sizeof *mrcHed);
    }
    OwnedFile in;
    in.fp = open_input(fname, &in.piped);
    if (!in.fp) {
        std::printf("Cannot open file\n");
        return 0;
    }
    const char* slash = std::strrchr(fname, '/');
    setName(slash ? slash + 1 : fname);
    setFile(fname);

    MRCheader h;
    if (read_fully(in.fp, &h, sizeof h) != sizeof h) return 0;
    unsigned char* hb = reinterpret_cast<unsigned char*>(&h);
    const bool fileBig = hb[0] == 0 && hb[1] == 0;
    const bool swap = fileBig == (isLittleEndian() != 0);
    if (swap) {
        brev(hb, 56);
        // The map text and machine stamp are bytes; keep them as stored.
        brev(hb + kMapOffset, 2);
    }
    *mrcHed = h;
    MRCheader& H = *mrcHed;

    if (H.ny == 1) {
        std::printf("This appears to be a 1d file. I only read 2d files.\n");
        return 0;
    }
    if (H.nz != 1) {
        std::printf("This appears to be a 3d file. I only read 2d files.\n");
        return 0;
    }
    const int mode = H.mode;
    const bool cplx = mode == 3 || mode == 4;
    // Sizes are checked before anything is allocated or read.
    if (!saneSize((long long)H.nx * (cplx ? 2 : 1), H.ny, H.nz)) {
        std::printf("Bad MRC file\n");
        return 0;
    }
    if (cplx) H.nx *= 2;
    const int x = H.nx, y = H.ny, z = H.nz;
    setSizes(x, y, z);
    std::printf("%s is a %s %s %dx%d 2D %s MRC File\n", fname, swap ? "byte reversed" : "",
                in.piped ? "compressed" : "", x, y, mode >= 0 && mode <= 4 ? kModeName[mode] : "unknown");
    if (H.nxstart || H.nystart || H.nzstart) std::printf("WARNING: nx/y/z start not zero\n");
    if (H.xlen == 0) H.xlen = 1.0f;
    if (H.ylen == 0) H.ylen = 1.0f;
    if (H.zlen == 0) H.zlen = 1.0f;
    if (mode < 0 || mode > 4) {
        std::printf("Bad MRC file\n");
        return 0;
    }

    // An extended header (nsymbt, bytes 92..95) precedes the values.
    int32_t nsymbt;
    std::memcpy(&nsymbt, H.other + 4, 4);
    const size_t vbytes = kModeBytes[mode];
    const size_t rowBytes = (size_t)x * vbytes;
    const long long total = (long long)rowBytes * y * z;
    const long long fsize = file_size(in.fp);
    if (nsymbt < 0 || (fsize >= 0 && nsymbt > fsize - 1024)) {
        std::printf("Bad MRC file\n");
        return 0;
    }
    if (nsymbt > 0 && !skip_bytes(in.fp, nsymbt)) {
        std::printf("Bad MRC file\n");
        return 0;
    }
    // A truncated mode-0 file is read on with zeros; only a file that holds at
    // least half of its rows counts as truncated rather than corrupt.
    const long long avail = fsize >= 0 ? fsize - 1024 - nsymbt : -1;
    if (avail >= 0 && avail < total) {
        long long rowsThere = avail / (long long)rowBytes;
        if (mode != 0) {
            std::printf("Incomplete data read %d/%d blocks\n", 0, z * y);
            return 0;
        }
        if (rowsThere * 2 < y) {
            std::printf("Bad MRC file\n");
            return 0;
        }
    }

    // Known sizes get their buffer at once; a pipe's buffer grows with what arrives.
    const size_t nvals = (size_t)x * y * z;
    const bool grow = fsize < 0;
    resizeData(grow ? std::min<size_t>(nvals, 1 << 20) : nvals);
    // Rows are read in blocks of about 8 MB; a short block is finished row by
    // row so that every missing row is reported as its own read would be.
    const int blockRows = (int)std::max<size_t>(1, ((size_t)8 << 20) / (rowBytes * z));
    int missing = 0;
    bool eof = false;
    for (int r = 0; r < y;) {
        int want = std::min(blockRows, y - r);
        size_t need = ((size_t)(r + want) * rowBytes * z + sizeof(float) - 1) / sizeof(float);
        if (grow && need > data.size()) data.resize(std::min(nvals, std::max(need, data.size() * 2)));
        unsigned char* dst = reinterpret_cast<unsigned char*>(data.data()) + (size_t)r * rowBytes * z;
        size_t got = eof ? 0 : std::fread(dst, rowBytes * z, want, in.fp);
        if ((int)got < want) {
            eof = true;
            for (int k = (int)got; k < want; k++) {
                std::printf("Incomplete data read %d/%d blocks\n", 0, z * y);
                if (mode != 0) return 0;
                std::memset(dst + (size_t)k * rowBytes * z, 0, rowBytes * z);
                missing++;
            }
        }
        r += want;
        do_progress_bytes((long long)r * rowBytes * z, total, kModeLabel[mode]);
    }
    if (grow && missing * 2 > y) {
        std::printf("Bad MRC file\n");
        return 0;
    }
    if (grow) resizeData(nvals);
    float* f = data.data();
    unsigned char* raw = reinterpret_cast<unsigned char*>(f);
    if (mode == 0 || mode == 1 || mode == 3) {
        do_progress_bytes(total, total, "Converting to float");
        if (mode == 0) {
            for (long long i = (long long)nvals - 1; i >= 0; i--) f[i] = raw[i] / 100.0f;
        } else {
            if (swap) brevs(raw, (int)nvals);
            const int16_t* s = reinterpret_cast<const int16_t*>(raw);
            for (long long i = (long long)nvals - 1; i >= 0; i--) {
                int16_t v;
                std::memcpy(&v, s + i, 2);
                f[i] = v;
            }
        }
    } else {
        if (mode == 4) std::clearerr(in.fp);
        if (swap) {
            do_progress_bytes(total, total, "Swapping byte order");
            brev(raw, (int)nvals);
        }
        if (mode == 4 && std::ferror(in.fp)) return 0;
    }
    if (cplx) {
        flags |= 1;
        for (size_t i = 0; i + 1 < nvals; i += 2) {
            float re = f[i], im = f[i + 1];
            f[i] = std::sqrt(re * re + im * im) / x * y * z;
            f[i + 1] = std::atan2(im, re);
        }
    } else {
        flags &= ~1;
    }
    mag = getenvfd("mag", 30);
    pixres = getenvfd("scanres", 25) / mag * 10;
    do_progress_bytes(total, total, "Updating statistics");
    update();
    do_progress(-1, 0, nullptr);
    return 1;
}

namespace {

// Low 16 bits of (v - o) * k truncated toward zero; out-of-range values wrap as
// the integer conversion would, NaN gives 0.
inline int16_t to16(float v, float o, float k) {
    double t = std::trunc((double)((v - o) * k));
    if (!(t == t)) return 0;
    if (t > 2147483647.0) t = 2147483647.0;
    if (t < -2147483648.0) t = -2147483648.0;
    return (int16_t)(uint16_t)((uint32_t)(int32_t)t & 0xffff);
}

}  // namespace

int MRCData::writeMRCData(const char* fname, int shortMode) {
    AtomicFile out;
    FILE* fp = out.open(fname);
    if (!fp) {
        std::printf("Cannot open file for writing\n");
        return 0;
    }
    if (!mrcHed) {
        mrcHed = new MRCheader;
        std::memset(mrcHed, 0, sizeof *mrcHed);
    }
    MRCheader& H = *mrcHed;
    const bool cplx = isComplex();
    H.nx = cplx ? nx / 2 : nx;
    H.ny = ny;
    H.nz = nz;
    H.xlen = (float)nx;
    H.ylen = (float)ny;
    H.zlen = (float)nz;
    if (H.alpha == 0) H.alpha = H.beta = H.gamma = 90.0f;
    H.mode = cplx ? (shortMode ? 3 : 4) : (shortMode ? 1 : 2);
    float o = 0, k = 1;
    if (shortMode == 1) {
        o = min;
        k = 4095 / (max - min);
    }
    H.nxstart = H.nystart = H.nzstart = 0;
    H.mapc = 1;
    H.mapr = 2;
    H.maps = 3;
    if (shortMode) {
        H.amin = (min - o) * k;
        H.amax = (max - o) * k;
        H.amean = ((float)mean - o) * k;
    } else {
        H.amin = min;
        H.amax = max;
        H.amean = (float)mean;
    }
    // No extended header is written; the stamp says the values are native.
    std::memset(H.other + 4, 0, 4);
    unsigned char* stamp = reinterpret_cast<unsigned char*>(&H) + 212;
    if (isLittleEndian()) {
        stamp[0] = stamp[1] = 0x44;
    } else {
        stamp[0] = stamp[1] = 0x11;
    }
    stamp[2] = stamp[3] = 0;
    // A foreign header may carry any label count; keep slots inside the header.
    if (H.nlabl < 0) H.nlabl = 0;
    if (H.nlabl > 10) H.nlabl = 10;
    if (H.nlabl < 10) {
        time_t now = std::time(nullptr);
        struct tm tmv;
        localtime_r(&now, &tmv);
        char label[200];
        std::snprintf(label, sizeof label, "tarvik: %d/%d/%02d %d:%02d %s", tmv.tm_mon + 1, tmv.tm_mday,
                      tmv.tm_year % 100, tmv.tm_hour, tmv.tm_min, name ? name : "no name");
        char* slot = H.labels[H.nlabl];
        std::memset(slot, 0, 80);
        std::memcpy(slot, label, std::min<size_t>(std::strlen(label), 79));
        H.nlabl++;
    }
    if (std::fwrite(&H, sizeof H, 1, fp) != 1) {
        std::printf("Cannot open file for writing\n");
        return 0;
    }
    // Values go out through a bounded buffer; the data set is never touched.
    const size_t N = (size_t)nx * ny * nz;
    const float* d = data.data();
    const size_t chunk = 1 << 16;  // even, so complex pairs never split
    std::unique_ptr<float[]> fb;
    std::unique_ptr<int16_t[]> sb;
    if (shortMode)
        sb.reset(new int16_t[chunk]);
    else if (cplx)
        fb.reset(new float[chunk]);
    for (size_t i = 0; i < N; i += chunk) {
        size_t n = std::min(chunk, N - i);
        const void* src;
        size_t bytes;
        if (cplx) {
            float tmp[2];
            for (size_t j = 0; j + 1 < n; j += 2) {
                float a = d[i + j], p = d[i + j + 1];
                tmp[0] = a * std::cos(p);
                tmp[1] = a * std::sin(p);
                if (shortMode) {
                    sb[j] = to16(tmp[0], o, k);
                    sb[j + 1] = to16(tmp[1], o, k);
                } else {
                    fb[j] = tmp[0];
                    fb[j + 1] = tmp[1];
                }
            }
        } else if (shortMode) {
            for (size_t j = 0; j < n; j++) sb[j] = to16(d[i + j], o, k);
        }
        if (shortMode) {
            src = sb.get();
            bytes = n * 2;
        } else if (cplx) {
            src = fb.get();
            bytes = n * 4;
        } else {
            src = d + i;
            bytes = n * 4;
        }
        if (std::fwrite(src, 1, bytes, fp) != bytes) {
            std::printf("Cannot write file\n");
            return 0;
        }
    }
    if (!out.commit()) {
        std::printf("Cannot write file\n");
        return 0;
    }
    return 1;
}

float mrc_pixel_size(const MRCheader& h) {
    if (h.mx <= 0 || !(h.xlen > 0)) return 0;
    const double px = (double)h.xlen / h.mx;
    return px >= 0.1 && px <= 100 && px != 1.0 ? (float)px : 0.0f;
}
