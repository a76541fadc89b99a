// SPIDER image files: one real 2-D image after a header of LABBYT bytes.
#include <cmath>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/formats.h"
#include "core/hooks.h"

using fmt::getF;
using fmt::putF;

namespace {

enum {
    NSLICE = 0,
    NROW = 4,
    IFORM = 16,
    IMAMI = 20,
    FMAX = 24,
    FMIN = 28,
    AV = 32,
    SIG = 36,
    NSAM = 44,
    LABREC = 48,
    IANGLE = 52,
    SCALE = 80,
    LABBYT = 84,
    LENBYT = 88,
    CDAT = 844,
    CTIM = 856,
    CTIT = 864
};

// A header float that must be a whole number in [lo, hi].
bool wholeIn(float v, double lo, double hi) {
    return std::isfinite(v) && v >= lo && v <= hi && v == std::floor(v);
}


}  // namespace

int MRCData::readSPIDER(const char* fname) {
    if (!SPIDERHed()) {
        SPIDERH* h = new SPIDERH;
        std::memset(h, 0, sizeof *h);
        setSPIDERHed(h);
    }
    OwnedFile in;
    in.fp = open_input(fname, &in.piped);
    if (!in.fp) {
        std::printf("Cannot open file\n");
        return 0;
    }
    setName(fmt::baseName(fname));
    setFile(fname);
    unsigned char* h = SPIDERHed()->b;
    if (read_fully(in.fp, h, 1024) != 1024) return 0;
    int swapped = 0;
    if (getF(h, NSLICE) != 1.0f) {
        brev(h, 50);
        swapped = 1;
    }
    if (getF(h, NSLICE) != 1.0f) {
        std::printf("Spider: Not a 2d image\n");
        return 0;
    }
    const float fsam = getF(h, NSAM), frow = getF(h, NROW), flab = getF(h, LABBYT);
    // Sizes come from a file: whole, positive and bounded before anything is allocated.
    if (!wholeIn(fsam, 1, kMaxValues) || !wholeIn(frow, 1, kMaxValues) || !wholeIn(flab, 1024, 1e9) ||
        !saneSize((long long)fsam, (long long)frow, 1)) {
        std::printf("Spider: Not a 2d image\n");
        return 0;
    }
    const int nsam = (int)fsam, nrow = (int)frow;
    const long long labbyt = (long long)flab;
    const long long fsize = file_size(in.fp);
    const size_t rowBytes = (size_t)nsam * 4;
    const long long expected = labbyt + (long long)rowBytes * nrow;
    // A file holding less than half of its rows is not a truncated image but a
    // broken header; refuse it rather than allocate for rows that are not there.
    if (fsize >= 0 && (fsize < labbyt || (fsize - labbyt) / (long long)rowBytes * 2 < nrow)) {
        std::printf("Spider: Incomplete data read\n");
        return 0;
    }
    char ctim[9], cdat[11];
    fmt::fieldText(ctim, h + CTIM, 8);
    fmt::fieldText(cdat, h + CDAT, 10);
    if (!skip_bytes(in.fp, labbyt - 1024)) {
        std::printf("Spider: Incomplete data read\n");
        return 0;
    }
    std::printf("2d %dx%d Spider image '%.8s','%.10s' %d\n", nsam, nrow, ctim, cdat, swapped);
    std::printf("%f %lld\n", (double)flab, expected);

    // A pipe (compressed file) has no length to check: its rows are gathered as
    // they come, so a lying header costs no more memory than the data sent.
    std::vector<unsigned char> piped;
    int done = 0;
    const int rowsPerRead = std::max(1, (int)((4u << 20) / rowBytes));
    if (fsize < 0) {
        while (done < nrow) {
            int n = std::min(rowsPerRead, nrow - done);
            size_t old = piped.size();
            piped.resize(old + (size_t)n * rowBytes);
            size_t got = read_fully(in.fp, piped.data() + old, (size_t)n * rowBytes);
            int rows = (int)(got / rowBytes);
            done += rows;
            piped.resize(old + (size_t)rows * rowBytes);
            if (rows < n) break;
        }
        if (done * 2 < nrow) {
            std::printf("Spider: Incomplete data read\n");
            return 0;
        }
    }
    setSize(nsam, nrow, 1);
    setFlags(Flags() & ~1);
    unsigned char* raw = reinterpret_cast<unsigned char*>(getRealData());
    if (fsize < 0) {
        if (!piped.empty()) std::memcpy(raw, piped.data(), piped.size());
    } else {
        // Large blocks of rows per read; progress after each block.
        while (done < nrow) {
            int n = std::min(rowsPerRead, nrow - done);
            size_t got = read_fully(in.fp, raw + (size_t)done * rowBytes, (size_t)n * rowBytes);
            int rows = (int)(got / rowBytes);
            done += rows;
            if (rows < n) break;
            if (nsam > 511) do_progress(done, nrow, "Reading float data...");
        }
    }
    if (done < nrow) {
        std::printf("Spider: Incomplete data read\n");
        // The rows that never arrived read as zeros.
        std::memset(raw + (size_t)done * rowBytes, 0, (size_t)(nrow - done) * rowBytes);
    }
    if (swapped) brev(raw, nsam * nrow);
    update();
    setDefaultScale();
    do_progress(-1, 0, nullptr);
    return 1;
}

int MRCData::writeSPIDER(const char* fname) {
    if (isComplex()) {
        std::printf("Cannot write complex SPIDER files.\n");
        return 0;
    }
    AtomicFile out;
    FILE* fp = out.open(fname);
    if (!fp) return 0;
    if (!SPIDERHed()) {
        SPIDERH* nh = new SPIDERH;
        std::memset(nh, 0, sizeof *nh);
        unsigned char* b = nh->b;
        putF(b, NSLICE, 1.0f);
        putF(b, SIG, -1.0f);
        putF(b, SCALE, 1.0f);
        time_t t = std::time(nullptr);
        struct tm lt;
        localtime_r(&t, &lt);
        char txt[32];
        std::snprintf(txt, sizeof txt, "%02d/%02d/%02d", lt.tm_mon + 1, lt.tm_mday, lt.tm_year % 100);
        std::memcpy(b + CDAT, txt, std::min<size_t>(std::strlen(txt), 12));
        std::snprintf(txt, sizeof txt, "%02d:%02d:%02d", lt.tm_hour, lt.tm_min, lt.tm_sec);
        std::memcpy(b + CTIM, txt, 8);
        const char* title = Name();
        std::memcpy(b + CTIT, title, std::min<size_t>(std::strlen(title), 150));
        setSPIDERHed(nh);
    }
    unsigned char* b = SPIDERHed()->b;
    const int nx = xSize(), ny = ySize();
    const int labrec = 1023 / (4 * nx) + 1;
    int labbyt = labrec * 4 * nx;
    if (labbyt < 1024) {
        std::printf("Strange spider error\n");
        labbyt = 1024;
    }
    putF(b, LABREC, (float)labrec);
    putF(b, LABBYT, (float)labbyt);
    putF(b, LENBYT, (float)(4 * nx));
    putF(b, NSAM, (float)nx);
    putF(b, NROW, (float)ny);
    putF(b, IFORM, 1.0f);
    putF(b, FMAX, Max());
    putF(b, FMIN, Min());
    putF(b, AV, Mean());
    putF(b, IMAMI, 0.0f);
    std::vector<unsigned char> pad((size_t)labbyt - 1024, 0);
    if (std::fwrite(b, 1, 1024, fp) != 1024) return 0;
    if (!pad.empty() && std::fwrite(pad.data(), 1, pad.size(), fp) != pad.size()) return 0;
    const size_t n = (size_t)nx * ny;
    if (n && std::fwrite(getRealData(), sizeof(float), n, fp) != n) return 0;
    return out.commit();
}
