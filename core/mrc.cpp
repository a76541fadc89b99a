// MRC image files: five modes, both byte orders, optionally compressed;
// particle stacks (".mrcs", or space group 0 with several sections).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/formats.h"
#include "core/hooks.h"

using fmt::getI;
using fmt::putF;
using fmt::putI;

namespace {

const char* const kModeName[5] = {"char", "short", "float", "short complex", "float complex"};
const char* const kModeLabel[5] = {"Reading 8 bit data...", "Reading 16 bit data...", "Reading float data...",
                                   "Reading complex 16 bit data...", "Reading complex float data..."};
const int kModeBytes[5] = {1, 2, 4, 2, 4};
// Header words past the named fields, as byte offsets.
const int kIspg = 88, kNsymbt = 92, kNversion = 108, kMapOffset = 208, kStampOffset = 212, kRmsOffset = 216;
// What one data set of a stack costs besides its values (object, header, histogram), in floats.
const long long kSectionOverhead = 1024;
// Pixel sizes outside this range (Angstrom) are taken for a header that records none.
const float kMinPixel = 0.01f, kMaxPixel = 10000.0f;

unsigned char* bytesOf(MRCheader& h) {
    return reinterpret_cast<unsigned char*>(&h);
}

// ".mrcs" declares a particle stack, also under a compression suffix.
bool stackName(const char* fname) {
    std::string s = fname;
    if (is_compressed_name(fname)) s.erase(s.rfind('.'));
    return s.size() >= 5 && s.compare(s.size() - 5, 5, ".mrcs") == 0;
}

// The pixel size the header records (cell length / sampling along x) as read, nx not yet doubled;
// 0 when it records none: a zero or odd cell or sampling, exactly 1.0, or cell lengths equal to the
// sizes, which earlier versions of this program wrote whatever the sampling said.
float recordedPixel(const MRCheader& h, bool cplx) {
    if (h.mx <= 0 || !(h.xlen > 0)) return 0;
    if (h.ylen == (float)h.ny && (h.xlen == (float)h.nx || (cplx && h.xlen == 2.0f * h.nx))) return 0;
    const float p = h.xlen / (float)h.mx;
    if (!std::isfinite(p) || p == 1.0f || p < kMinPixel || p > kMaxPixel) return 0;
    return p;
}

// Pixres and Mag of a data set read from MRC: the recorded pixel size with the magnification that
// the scanner resolution gives it, else both from the preferences as for a new data set.
void applyScale(MRCData& d, float pixel, const ScanScale* given) {
    const ScanScale s = given ? *given : scan_scale_prefs();
    if (pixel > 0) {
        const float m = 10 * s.scanres / pixel;
        d.setPixres(pixel);
        d.setMag(std::isfinite(m) && m > 0 ? m : s.mag);
    } else {
        d.setMag(s.mag);
        d.setPixres(s.pixres());
    }
}

// Reads y rows of z items of rowBytes each, in file order, into the front of d's buffer, which holds
// nvals floats or grows to them as the data arrive (grow, for pipes). Every missing row is reported;
// strict reads fail on the first (-1), others fill missing rows with zeros and count them.
int readRows(MRCData& d, FILE* fp, size_t rowBytes, int y, int z, size_t nvals, bool grow, bool strict,
             const char* label) {
    d.resizeData(grow ? std::min<size_t>(nvals, 1 << 20) : nvals);
    const size_t itemRow = rowBytes * z;
    const long long total = (long long)itemRow * y;
    // Rows are read in blocks of about 8 MB; a short block is finished row by
    // row so that every missing row is reported as its own read would be.
    const int blockRows = (int)std::max<size_t>(1, ((size_t)8 << 20) / itemRow);
    int missing = 0;
    bool eof = false;
    for (int r = 0; r < y;) {
        const int want = std::min(blockRows, y - r);
        const size_t need = ((size_t)(r + want) * itemRow + sizeof(float) - 1) / sizeof(float);
        if (grow && need > d.dataCapacity()) d.resizeData(std::min(nvals, std::max(need, d.dataCapacity() * 2)));
        unsigned char* dst = reinterpret_cast<unsigned char*>(d.getRealData()) + (size_t)r * itemRow;
        const size_t got = eof ? 0 : std::fread(dst, itemRow, want, fp);
        if ((int)got < want) {
            eof = true;
            for (int k = (int)got; k < want; k++) {
                std::printf("Incomplete data read %d/%d blocks\n", 0, z * y);
                if (strict) return -1;
                std::memset(dst + (size_t)k * itemRow, 0, itemRow);
                missing++;
            }
        }
        r += want;
        if (label) do_progress_bytes((long long)r * itemRow, total, label);
    }
    if (grow) d.resizeData(nvals);
    return missing;
}

// Turns the raw values at the front of d's buffer into floats (integer modes expanded from the last
// value back, so the buffer is shared), fixes byte order and makes complex pairs (amplitude, phase)
// over x floats per row, y rows and z sections. 0 on a stream error.
int convertValues(MRCData& d, FILE* fp, int mode, bool swap, int x, int y, int z, bool report) {
    const size_t nvals = (size_t)x * y * z;
    const long long total = (long long)nvals * kModeBytes[mode];
    float* f = d.getRealData();
    unsigned char* raw = reinterpret_cast<unsigned char*>(f);
    if (mode == 0 || mode == 1 || mode == 3) {
        if (report) do_progress_bytes(total, total, "Converting to float");
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
        if (mode == 4) std::clearerr(fp);
        if (swap) {
            if (report) do_progress_bytes(total, total, "Swapping byte order");
            brev(raw, (int)nvals);
        }
        if (mode == 4 && std::ferror(fp)) return 0;
    }
    const bool cplx = mode == 3 || mode == 4;
    d.setFlags(cplx ? d.Flags() | 1 : d.Flags() & ~1);
    if (cplx) {
        for (size_t i = 0; i + 1 < nvals; i += 2) {
            float re = f[i], im = f[i + 1];
            f[i] = std::sqrt(re * re + im * im) / x * y * z;
            f[i + 1] = std::atan2(im, re);
        }
    }
    return 1;
}

// Reads an MRC file into d; or, when `stack` is given and the file is a particle stack, every
// section into a new data set "NAME:k" (k from 1, as image numbers count) appended to `stack`.
int readMRC(MRCData& d, const char* fname, List* stack, const ScanScale* scale = nullptr) {
    if (!d.MRCHed()) {
        MRCheader* nh = new MRCheader;
        std::memset(nh, 0, sizeof *nh);
        d.setMRCHed(nh);
    }
    OwnedFile in;
    in.fp = open_input(fname, &in.piped);
    if (!in.fp) {
        std::printf("Cannot open file\n");
        return 0;
    }
    d.setName(fmt::baseName(fname));
    d.setFile(fname);

    MRCheader h;
    if (read_fully(in.fp, &h, sizeof h) != sizeof h) return 0;
    unsigned char* hb = bytesOf(h);
    const bool fileBig = hb[0] == 0 && hb[1] == 0;
    const bool swap = fileBig == (isLittleEndian() != 0);
    if (swap) {
        brev(hb, 56);
        // The map text and machine stamp are bytes; keep them as stored.
        brev(hb + kMapOffset, 2);
    }
    MRCheader& H = *d.MRCHed();
    H = h;

    if (H.ny == 1) {
        std::printf("This appears to be a 1d file. I only read 2d files.\n");
        return 0;
    }
    const bool isStack = stack && H.nz >= 1 && (stackName(fname) || (getI(hb, kIspg) == 0 && H.nz > 1));
    if (H.nz != 1 && !isStack) {
        std::printf("This appears to be a 3d file. I only read 2d files.\n");
        return 0;
    }
    const int mode = H.mode;
    const bool cplx = mode == 3 || mode == 4;
    // Sizes are checked before anything is allocated or read; a stack as a whole, each
    // section counting for its values and the data set that holds them.
    const long long fx = (long long)H.nx * (cplx ? 2 : 1);
    const bool sane = isStack ? saneSize(fx, H.ny, 1) && H.nz * (fx * H.ny + kSectionOverhead) <= kMaxValues
                              : saneSize(fx, H.ny, H.nz);
    if (!sane) {
        std::printf("Bad MRC file\n");
        return 0;
    }
    const float pixel = recordedPixel(H, cplx);
    if (cplx) H.nx *= 2;
    const int x = H.nx, y = H.ny, z = H.nz;
    const char* modeName = mode >= 0 && mode <= 4 ? kModeName[mode] : "unknown";
    if (isStack) {
        std::printf("%s is a %s %s %dx%d 2D %s MRC stack of %d images\n", fname, swap ? "byte reversed" : "",
                    in.piped ? "compressed" : "", x, y, modeName, z);
    } else {
        d.setSizes(x, y, z);
        std::printf("%s is a %s %s %dx%d 2D %s MRC File\n", fname, swap ? "byte reversed" : "",
                    in.piped ? "compressed" : "", x, y, modeName);
    }
    if (H.nxstart || H.nystart || H.nzstart) std::printf("WARNING: nx/y/z start not zero\n");
    if (H.xlen == 0) H.xlen = 1.0f;
    if (H.ylen == 0) H.ylen = 1.0f;
    if (H.zlen == 0) H.zlen = 1.0f;
    if (mode < 0 || mode > 4) {
        std::printf("Bad MRC file\n");
        return 0;
    }

    // An extended header (nsymbt) precedes the values.
    const int32_t nsymbt = getI(bytesOf(H), kNsymbt);
    const size_t rowBytes = (size_t)x * kModeBytes[mode];
    const long long total = (long long)rowBytes * y * z;
    const long long fsize = file_size(in.fp);
    if (nsymbt < 0 || (fsize >= 0 && nsymbt > fsize - 1024) || (nsymbt > 0 && !skip_bytes(in.fp, nsymbt))) {
        std::printf("Bad MRC file\n");
        return 0;
    }
    const long long avail = fsize >= 0 ? fsize - 1024 - nsymbt : -1;
    const bool grow = fsize < 0;  // a pipe's buffer grows with what arrives

    if (isStack) {
        // Every section must be there: the count is checked against the length before any is made.
        if (avail >= 0 && avail < total) {
            std::printf("Incomplete data read %d/%d blocks\n", (int)(avail / (long long)rowBytes), z * y);
            return 0;
        }
        const std::string base = d.Name();
        for (int k = 0; k < z; k++) {
            if (z > 1) fmt::stackProgress(k, z);
            std::unique_ptr<MRCData> s(scale ? new MRCData(scale->mag, scale->pixres()) : new MRCData());
            MRCheader* sh = new MRCheader(H);
            sh->nz = 1;
            s->setMRCHed(sh);
            s->setName((base + ":" + std::to_string(k + 1)).c_str());
            s->setFile(fname);
            s->setSizes(x, y, 1);
            if (readRows(*s, in.fp, rowBytes, y, 1, (size_t)x * y, grow, true, nullptr) < 0 ||
                !convertValues(*s, in.fp, mode, swap, x, y, 1, false)) {
                if (z > 1) do_progress(-1, 0, nullptr);
                return 0;
            }
            applyScale(*s, pixel, scale);
            s->update();
            stack->addObject(s.release());
        }
        if (z > 1) do_progress(-1, 0, nullptr);
        return 1;
    }

    // A truncated mode-0 file is read on with zeros; only a file that holds at
    // least half of its rows counts as truncated rather than corrupt.
    if (avail >= 0 && avail < total) {
        const long long rowsThere = avail / (long long)rowBytes;
        if (mode != 0) {
            std::printf("Incomplete data read %d/%d blocks\n", 0, z * y);
            return 0;
        }
        if (rowsThere * 2 < y) {
            std::printf("Bad MRC file\n");
            return 0;
        }
    }
    const int missing = readRows(d, in.fp, rowBytes, y, z, (size_t)x * y * z, grow, mode != 0, kModeLabel[mode]);
    if (missing < 0) return 0;
    if (grow && missing * 2 > y) {
        std::printf("Bad MRC file\n");
        return 0;
    }
    if (!convertValues(d, in.fp, mode, swap, x, y, z, true)) return 0;
    applyScale(d, pixel, scale);
    do_progress_bytes(total, total, "Updating statistics");
    d.update();
    do_progress(-1, 0, nullptr);
    return 1;
}

}  // namespace

int MRCData::readMRCData(const char* fname) {
    return readMRC(*this, fname, nullptr);
}

int MRCData::readMRCData(const char* fname, const ScanScale& scale) {
    return readMRC(*this, fname, nullptr, &scale);
}

List* readMRCFile(const char* path) {
    std::unique_ptr<MRCData> d(new MRCData());
    List* l = new List();
    if (!readMRC(*d, path, l)) {
        for (int i = 0; i < l->count(); i++) delete static_cast<MRCData*>(l->objectAt(i));
        delete l;
        return nullptr;
    }
    if (l->count() == 0) l->addObject(d.release());
    return l;
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

// Deviation from the mean of the values written, as the header's rms states it. Each member of a
// complex pair is summed on its own (a complex value's deviation is that of both); every sum is
// shifted by its first value so that a large mean does not swallow a small spread.
struct WrittenStats {
    double first[2] = {0, 0}, s[2] = {0, 0}, q[2] = {0, 0};
    long long n[2] = {0, 0};
    void add(double v, int c) {
        if (n[c]++ == 0) first[c] = v;
        const double d = v - first[c];
        s[c] += d;
        q[c] += d * d;
    }
    float rms() const {
        double var = 0;
        for (int c = 0; c < 2; c++)
            if (n[c]) var += std::max(0.0, q[c] / n[c] - (s[c] / n[c]) * (s[c] / n[c]));
        return (float)std::sqrt(var);
    }
};

// 16-bit scaling of a write: offset o and factor k over the data range lo..hi.
struct Scale {
    float o = 0, k = 1;
    Scale(int shortMode, float lo, float hi) {
        if (shortMode == 1) {
            o = lo;
            k = 4095 / (hi - lo);
        }
    }
};

// Every header field a write owns, for nz sections of d's size whose statistics are lo, hi and mean.
void fillHeader(MRCheader& H, int xSize, int ySize, bool cplx, float pixres, int nz, bool stack, int shortMode,
                const Scale& sc, float lo, float hi, double mean) {
    H.nx = cplx ? xSize / 2 : xSize;
    H.ny = ySize;
    H.nz = nz;
    H.mode = cplx ? (shortMode ? 3 : 4) : (shortMode ? 1 : 2);
    H.nxstart = H.nystart = H.nzstart = 0;
    // Sampling counts what nx counts (complex values for a transform), so cell / sampling is Pixres either way.
    H.mx = H.nx;
    H.my = H.ny;
    H.mz = stack ? 1 : nz;  // the sections of a stack are images, not a volume
    const float p = std::isfinite(pixres) && pixres > 0 ? pixres : 1.0f;
    H.xlen = H.mx * p;
    H.ylen = H.my * p;
    H.zlen = H.mz * p;
    if (H.alpha == 0) H.alpha = H.beta = H.gamma = 90.0f;
    H.mapc = 1;
    H.mapr = 2;
    H.maps = 3;
    H.amin = shortMode ? (lo - sc.o) * sc.k : lo;
    H.amax = shortMode ? (hi - sc.o) * sc.k : hi;
    H.amean = shortMode ? ((float)mean - sc.o) * sc.k : (float)mean;
    unsigned char* b = bytesOf(H);
    if (stack) putI(b, kIspg, 0);
    // No extended header is written; the stamp says the values are native.
    putI(b, kNsymbt, 0);
    putI(b, kNversion, 20140);
    std::memcpy(b + kMapOffset, "MAP ", 4);
    unsigned char* stamp = b + kStampOffset;
    stamp[0] = stamp[1] = isLittleEndian() ? 0x44 : 0x11;
    stamp[2] = stamp[3] = 0;
}

void fillHeader(MRCheader& H, const MRCData& d, int nz, bool stack, int shortMode, const Scale& sc, float lo, float hi,
                double mean) {
    fillHeader(H, d.xSize(), d.ySize(), d.isComplex(), d.Pixres(), nz, stack, shortMode, sc, lo, hi, mean);
}

// One label "tarvik: date name" while a slot is free.
void addLabel(MRCheader& H, const char* name) {
    // A foreign header may carry any label count; keep slots inside the header.
    if (H.nlabl < 0) H.nlabl = 0;
    if (H.nlabl > 10) H.nlabl = 10;
    if (H.nlabl >= 10) return;
    time_t now = std::time(nullptr);
    struct tm tmv;
    localtime_r(&now, &tmv);
    char label[200];
    std::snprintf(label, sizeof label, "tarvik: %d/%d/%02d %d:%02d %s", tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_year % 100,
                  tmv.tm_hour, tmv.tm_min, name);
    char* slot = H.labels[H.nlabl];
    std::memset(slot, 0, 80);
    std::memcpy(slot, label, std::min<size_t>(std::strlen(label), 79));
    H.nlabl++;
}

// Writes d's values (complex pairs as re, im) through a bounded buffer, never touching the data set.
bool writeValues(FILE* fp, const MRCData& d, int shortMode, const Scale& sc, WrittenStats& st) {
    const bool cplx = d.isComplex();
    const size_t N = (size_t)d.xSize() * d.ySize() * d.zSize();
    const float* src = d.getRealData();
    const size_t chunk = 1 << 16;  // even, so complex pairs never split
    std::unique_ptr<float[]> fb(new float[chunk]);
    std::unique_ptr<int16_t[]> sb(shortMode ? new int16_t[chunk] : nullptr);
    for (size_t i = 0; i < N; i += chunk) {
        const size_t n = std::min(chunk, N - i);
        const float* v = src + i;
        if (cplx) {
            for (size_t j = 0; j + 1 < n; j += 2) {
                fb[j] = v[j] * std::cos(v[j + 1]);
                fb[j + 1] = v[j] * std::sin(v[j + 1]);
            }
            v = fb.get();
        }
        const void* out = v;
        size_t bytes = n * 4;
        if (shortMode) {
            for (size_t j = 0; j < n; j++) {
                sb[j] = to16(v[j], sc.o, sc.k);
                st.add(sb[j], cplx ? (int)(j & 1) : 0);
            }
            out = sb.get();
            bytes = n * 2;
        } else {
            for (size_t j = 0; j < n; j++) st.add(v[j], cplx ? (int)(j & 1) : 0);
        }
        if (std::fwrite(out, 1, bytes, fp) != bytes) return false;
    }
    return true;
}

// The header once more at the front, now that the rms of what was written is known.
bool finishHeader(FILE* fp, MRCheader& H, const WrittenStats& st) {
    putF(bytesOf(H), kRmsOffset, st.rms());
    return std::fseek(fp, 0, SEEK_SET) == 0 && std::fwrite(&H, sizeof H, 1, fp) == 1;
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
    const Scale sc(shortMode, min, max);
    fillHeader(H, *this, nz, false, shortMode, sc, min, max, mean);
    addLabel(H, name ? name : "no name");
    if (std::fwrite(&H, sizeof H, 1, fp) != 1) {
        std::printf("Cannot open file for writing\n");
        return 0;
    }
    WrittenStats st;
    if (!writeValues(fp, *this, shortMode, sc, st) || !finishHeader(fp, H, st) || !out.commit()) {
        std::printf("Cannot write file\n");
        return 0;
    }
    return 1;
}

int writeMRCStack(List* sets, const char* fname, int shortMode) {
    MRCData* first = sets && sets->count() ? static_cast<MRCData*>(sets->objectAt(0)) : nullptr;
    if (!first) {
        std::printf("Nothing to write\n");
        return 0;
    }
    float lo = first->Min(), hi = first->Max();
    double mean = 0;
    for (int i = 0; i < sets->count(); i++) {
        const MRCData* d = static_cast<const MRCData*>(sets->objectAt(i));
        if (d->xSize() != first->xSize() || d->ySize() != first->ySize() || d->zSize() != first->zSize() ||
            d->isComplex() != first->isComplex()) {
            std::printf("Cannot write images of different sizes into one MRC stack\n");
            return 0;
        }
        lo = std::min(lo, d->Min());
        hi = std::max(hi, d->Max());
        mean += d->Mean();
    }
    mean /= sets->count();
    AtomicFile out;
    FILE* fp = out.open(fname);
    if (!fp) {
        std::printf("Cannot open file for writing\n");
        return 0;
    }
    // One header for all, from the first image's; the data sets themselves stay as they are.
    MRCheader H;
    std::memset(&H, 0, sizeof H);
    if (first->MRCHed()) H = *first->MRCHed();
    const Scale sc(shortMode, lo, hi);
    fillHeader(H, *first, sets->count() * std::max(1, first->zSize()), true, shortMode, sc, lo, hi, mean);
    addLabel(H, std::strcmp(first->Name(), "na") ? first->Name() : "no name");
    bool ok = std::fwrite(&H, sizeof H, 1, fp) == 1;
    WrittenStats st;
    for (int i = 0; i < sets->count() && ok; i++)
        ok = writeValues(fp, *static_cast<const MRCData*>(sets->objectAt(i)), shortMode, sc, st);
    if (!ok || !finishHeader(fp, H, st) || !out.commit()) {
        std::printf("Cannot write file\n");
        return 0;
    }
    return 1;
}

struct MRCStackWriter::Impl {
    AtomicFile out;
    MRCheader H;
    WrittenStats st;
    int nx = 0, ny = 0, n = 0;
    float pixel = 0, lo = 0, hi = 0;
    bool ok = false;
};

MRCStackWriter::MRCStackWriter() : impl(new Impl) {}
MRCStackWriter::~MRCStackWriter() = default;

int MRCStackWriter::open(const char* file, int nx, int ny, float pixel, const char* name) {
    Impl& m = *impl;
    m.ok = false;
    if (nx < 1 || ny < 1 || !m.out.open(file)) {
        std::printf("Cannot open file for writing\n");
        return 0;
    }
    m.nx = nx;
    m.ny = ny;
    m.pixel = pixel;
    std::memset(&m.H, 0, sizeof m.H);
    addLabel(m.H, name && *name ? name : "no name");
    // Room for the header; it is written again with the count at commit.
    m.ok = std::fwrite(&m.H, sizeof m.H, 1, m.out.fp()) == 1;
    if (!m.ok) std::printf("Cannot write file\n");
    return m.ok;
}

int MRCStackWriter::add(const float* img) {
    Impl& m = *impl;
    if (!m.ok) return 0;
    const size_t N = (size_t)m.nx * m.ny;
    WrittenStats& st = m.st;
    if (st.n[0] == 0) {
        st.first[0] = img[0];
        m.lo = m.hi = img[0];
    }
    // One pass per image; the sums shifted by the stack's first value as WrittenStats keeps them.
    // Float lanes over runs of 256 values, each run added up in double.
    const float f = (float)st.first[0];
    float lo = m.lo, hi = m.hi;
    for (size_t i0 = 0; i0 < N; i0 += 256) {
        float a[8] = {0, 0, 0, 0, 0, 0, 0, 0}, q[8] = {0, 0, 0, 0, 0, 0, 0, 0}, l8[8], h8[8];
        for (int l = 0; l < 8; l++) l8[l] = h8[l] = img[i0];
        const size_t i1 = std::min(N, i0 + 256);
        size_t i = i0;
        for (; i + 8 <= i1; i += 8)
            for (int l = 0; l < 8; l++) {
                const float v = img[i + l], d = v - f;
                a[l] += d;
                q[l] += d * d;
                l8[l] = v < l8[l] ? v : l8[l];
                h8[l] = v > h8[l] ? v : h8[l];
            }
        for (; i < i1; i++) {
            const float d = img[i] - f;
            a[0] += d;
            q[0] += d * d;
            l8[0] = std::min(l8[0], img[i]);
            h8[0] = std::max(h8[0], img[i]);
        }
        for (int l = 0; l < 8; l++) {
            st.s[0] += a[l];
            st.q[0] += q[l];
            lo = std::min(lo, l8[l]);
            hi = std::max(hi, h8[l]);
        }
    }
    st.n[0] += (long long)N;
    m.lo = lo;
    m.hi = hi;
    m.ok = std::fwrite(img, sizeof(float), N, m.out.fp()) == N;
    if (!m.ok) std::printf("Cannot write file\n");
    m.n++;
    return m.ok;
}

int MRCStackWriter::commit() {
    Impl& m = *impl;
    if (m.ok && m.n == 0) std::printf("Nothing to write\n");
    if (!m.ok || m.n == 0) {
        m.out.abandon();
        return 0;
    }
    const Scale sc(0, m.lo, m.hi);
    fillHeader(m.H, m.nx, m.ny, false, m.pixel, m.n, true, 0, sc, m.lo, m.hi, m.st.first[0] + m.st.s[0] / m.st.n[0]);
    m.ok = false;
    if (!finishHeader(m.out.fp(), m.H, m.st) || !m.out.commit()) {
        std::printf("Cannot write file\n");
        return 0;
    }
    return 1;
}

int MRCStackWriter::count() const {
    return impl->n;
}

float mrc_pixel_size(const MRCheader& h) {
    return recordedPixel(h, h.mode == 3 || h.mode == 4);
}

int mrc_peek(const char* file, MrcInfo* out, std::string* why) {
    OwnedFile in;
    in.fp = open_input(file, &in.piped);
    if (!in.fp) return *why = "cannot open", 0;
    MRCheader h;
    if (read_fully(in.fp, &h, sizeof h) != sizeof h) return *why = "not an MRC file (shorter than its header)", 0;
    unsigned char* hb = bytesOf(h);
    if ((hb[0] == 0 && hb[1] == 0) == (isLittleEndian() != 0)) brev(hb, 56);
    if (h.mode < 0 || h.mode > 4 || h.nx < 1 || !saneSize(h.nx, h.ny, std::max(1, h.nz))) return *why = "Bad MRC file", 0;
    if (h.mode == 3 || h.mode == 4) return *why = "a Fourier transform, not a micrograph", 0;
    if (h.ny == 1 || h.nz != 1) return *why = "not a 2-D image", 0;
    const long long fsize = file_size(in.fp), nsymbt = getI(hb, kNsymbt);
    const long long need = 1024 + std::max(0LL, nsymbt) + (long long)h.nx * h.ny * kModeBytes[h.mode];
    if (fsize >= 0 && fsize < need)
        return *why = "truncated (" + std::to_string(fsize) + " of " + std::to_string(need) + " bytes)", 0;
    *out = {h.nx, h.ny, h.nz, h.mode, recordedPixel(h, false)};
    return 1;
}
