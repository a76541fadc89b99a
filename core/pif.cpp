// PIF files: a 512-byte file header, then per image a 512-byte header and its values.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/formats.h"
#include "core/hooks.h"

using fmt::getI;
using fmt::putI;

namespace {

void swapFileHeader(unsigned char* h) {
    brev(h + 24, 2);
    brev(h + 64, 5);
}

// The scale factor is decimal text in bytes 8..22.
double headerScale(const unsigned char* h) {
    char txt[16];
    fmt::fieldText(txt, h + 8, 15);
    return std::atof(txt);
}

int bytesOfMode(int mode) {
    return mode == 0 ? 1 : (mode == 1 || mode == 7) ? 2 : 4;
}

}  // namespace

List* readPIF(const char* file) {
    OwnedFile in;
    in.fp = std::fopen(file, "rb");
    if (!in.fp) {
        std::printf("ERROR: cannot open %s\n", file);
        return nullptr;
    }
    unsigned char fh[512];
    if (read_fully(in.fp, fh, 512) != 512) {
        std::printf("Short PIF File\n");
        return nullptr;
    }
    const int swap = (unsigned)getI(fh, 24) > 65535u;
    if (swap) swapFileHeader(fh);
    const int count = getI(fh, 24), mode = getI(fh, 80);
    std::printf("PIF with %d image(s), mode %d, %dx%d\n", count, mode, getI(fh, 68), getI(fh, 72));
    if (mode < 0 || (mode >= 3 && mode != 6 && mode != 7)) {
        std::printf("Unsupported PIF mode %d\n", mode);
        return nullptr;
    }
    if (getI(fh, 76) >= 2) {
        std::printf("Cannot read 3d images\n");
        return nullptr;
    }
    const double scale = headerScale(fh);
    const long long fsize = file_size(in.fp);
    long long left = fsize >= 0 ? fsize - 512 : -1;

    List* list = new List();
    for (int k = 0; k < count; k++) {
        if (count > 1) fmt::stackProgress(k, count);
        unsigned char* ih = static_cast<unsigned char*>(std::calloc(512, 1));
        std::unique_ptr<MRCData> d(new MRCData());
        d->setPifHeader(ih);
        if (read_fully(in.fp, ih, 512) != 512) {
            std::printf("Short PIF File\n");
            break;
        }
        if (swap) brev(ih, 29);
        const int nx = getI(ih, 0), ny = getI(ih, 4), im = getI(ih, 12);
        if (im < 0 || (im >= 3 && im != 6 && im != 7)) {
            std::printf("Unsupported PIF mode %d\n", im);
            break;
        }
        const int vb = bytesOfMode(im);
        // Sizes from the file are checked against what it still holds before allocating.
        if (!saneSize(nx, ny, 1) || (left >= 0 && 512 + (long long)nx * ny * vb > left)) {
            std::printf("Short PIF File\n");
            break;
        }
        if (left >= 0) left -= 512 + (long long)nx * ny * vb;
        d->setSize(nx, ny, 1);
        const size_t n = (size_t)nx * ny;
        float* f = d->getRealData();
        unsigned char* raw = reinterpret_cast<unsigned char*>(f);
        if (read_fully(in.fp, raw, n * vb) != n * vb) {
            std::printf("Short PIF File\n");
            break;
        }
        if (swap && vb == 2) brevs(raw, (int)n);
        if (swap && vb == 4) brev(raw, (int)n);
        // From the last value to the first, so the expansion can share the buffer.
        for (long long i = (long long)n - 1; i >= 0; i--) {
            if (im == 0) {
                f[i] = raw[i] / 128.0f;
            } else if (vb == 2) {
                int16_t v;
                std::memcpy(&v, raw + 2 * i, 2);
                f[i] = im == 1 ? v / 32768.0f : (float)(v * scale);
            } else {
                int32_t v;
                std::memcpy(&v, raw + 4 * i, 4);
                f[i] = (float)(v * scale);
            }
        }
        d->setName(fmt::baseName(file));
        d->update();
        d->setRenMinMax(d->Min(), d->Max());
        list->addObject(d.release());
    }
    if (count > 1) do_progress(-1, 0, nullptr);
    if (list->count() == 0) {
        delete list;
        return nullptr;
    }
    return list;
}

int MRCData::appendPIF(const char* file) {
    if (!pifHeader()) setPifHeader(static_cast<unsigned char*>(std::calloc(512, 1)));
    OwnedFile f;
    // Opened for update and created when missing, never truncated.
    int fd = ::open(file, O_RDWR | O_CREAT, 0666);
    if (fd >= 0) {
        f.fp = fdopen(fd, "r+b");
        if (!f.fp) ::close(fd);
    }
    if (!f.fp) {
        std::printf("appendPIF: cannot open file\n");
        return 0;
    }
    struct stat st;
    const off_t oldSize = fstat(fileno(f.fp), &st) == 0 ? st.st_size : 0;
    unsigned char fh[512], fhOld[512];
    double scale;
    bool fresh = read_fully(f.fp, fh, 512) != 512;
    if (fresh) {
        std::memset(fh, 0, 512);
        putI(fh, 0, 0x08000000);
        putI(fh, 4, 0x08000000);
        char txt[32];
        std::snprintf(txt, sizeof txt, "%1.8g", ((double)Max() - Min()) / 536870912.0);
        std::memcpy(fh + 8, txt, std::min<size_t>(std::strlen(txt), 15));
        std::memcpy(fh + 32, "TARVIK v1.4", 11);
        putI(fh, 64, 1);
        putI(fh, 68, xSize());
        putI(fh, 72, ySize());
        putI(fh, 76, 1);
        putI(fh, 80, 2);
    }
    std::memcpy(fhOld, fh, 512);
    // The scale the file states is the one its readers use.
    scale = headerScale(fh);
    if (scale == 0) scale = 1e-7;
    const int count = getI(fh, 24);
    if ((unsigned)count > 65535u || getI(fh, 68) != xSize() || getI(fh, 72) != ySize() || getI(fh, 80) != 2) {
        std::printf("Cannot append to %s. Incorrect byte order, image size or mode.\n", file);
        return 0;
    }
    unsigned char* ih = pifHeader();
    putI(ih, 0, xSize());
    putI(ih, 4, ySize());
    putI(ih, 8, 0);
    putI(ih, 12, 2);
    putI(ih, 20, xSize() / 2);
    std::memset(ih + 116, 0, 80);
    std::memcpy(ih + 116, Name(), std::min<size_t>(std::strlen(Name()), 79));
    time_t t = std::time(nullptr);
    struct tm lt;
    localtime_r(&t, &lt);
    char date[64];
    std::snprintf(date, sizeof date, "%02d/%02d/%02d %d:%02d:%02d", lt.tm_mon + 1, lt.tm_mday, lt.tm_year % 100,
                  lt.tm_hour, lt.tm_min, lt.tm_sec);
    std::memset(ih + 196, 0, 40);
    std::memcpy(ih + 196, date, std::min<size_t>(std::strlen(date), 39));

    const size_t n = (size_t)xSize() * ySize();
    std::vector<int32_t> vals(n);
    const float* d = getRealData();
    for (size_t i = 0; i < n; i++) {
        double q = std::floor(d[i] / scale + 0.5);
        // Values beyond the integer range of the file's scale are clamped, not wrapped.
        if (!(q > -2147483648.0)) q = std::isnan(q) ? 0 : -2147483648.0;
        if (q > 2147483647.0) q = 2147483647.0;
        vals[i] = (int32_t)q;
    }
    putI(fh, 24, count + 1);
    bool ok = std::fseek(f.fp, 0, SEEK_SET) == 0 && std::fwrite(fh, 1, 512, f.fp) == 512;
    ok = ok && std::fseek(f.fp, 0, SEEK_END) == 0 && std::fwrite(ih, 1, 512, f.fp) == 512;
    ok = ok && (n == 0 || std::fwrite(vals.data(), 4, n, f.fp) == n);
    ok = std::fflush(f.fp) == 0 && ok;
    if (!ok) {
        // Leave the file as it was: old length, old header.
        if (ftruncate(fileno(f.fp), oldSize) == 0 && std::fseek(f.fp, 0, SEEK_SET) == 0 && !fresh)
            std::fwrite(fhOld, 1, 512, f.fp);
        std::printf("appendPIF: cannot write %s\n", file);
        return 0;
    }
    return 1;
}
