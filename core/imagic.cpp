// IMAGIC stacks: stem.hed (one 1024-byte header per image) and stem.img.
#include <sys/stat.h>
#include <unistd.h>

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

// Numeric parts of a header: words at 0..55, 60..115 and 196..1023.
void swapHeader(unsigned char* h) {
    brev(h, 14);
    brev(h + 60, 14);
    brev(h + 196, (1024 - 196) / 4);
}

// file without its last '.' and what follows (a '.' in a directory name does not count).
std::string stemOf(const char* file) {
    std::string s = file;
    size_t dot = s.rfind('.');
    size_t slash = s.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) s.erase(dot);
    return s;
}

}  // namespace

List* readIMAGIC(const char* file) {
    const std::string stem = stemOf(file);
    const std::string hedName = stem + ".hed", imgName = stem + ".img";
    OwnedFile hed, img;
    hed.fp = std::fopen(hedName.c_str(), "rb");
    if (!hed.fp) {
        std::printf("ERROR: cannot open %s\n", hedName.c_str());
        return nullptr;
    }
    img.fp = std::fopen(imgName.c_str(), "rb");
    if (!img.fp) {
        std::printf("ERROR: cannot open %s\n", imgName.c_str());
        return nullptr;
    }
    unsigned char first[1024];
    if (read_fully(hed.fp, first, 1024) != 1024) {
        std::printf("ERROR: %s holds no image header\n", hedName.c_str());
        return nullptr;
    }
    std::rewind(hed.fp);
    const bool fileBig = first[12] == 0 && first[13] == 0;
    const int swap = fileBig == (isLittleEndian() != 0);
    char type[5];
    std::memcpy(type, first + 56, 4);
    type[4] = 0;
    const bool real = std::strcmp(type, "REAL") == 0, intg = std::strcmp(type, "INTG") == 0;
    if (!real && !intg) {
        std::printf("Unknown type %4s.\n", type);
        return nullptr;
    }
    if (swap) swapHeader(first);
    float cell;
    std::memcpy(&cell, first + 96, 4);
    const int ifol = getI(first, 4);
    std::printf("imagic file with %lld %dx%d %4s images (cell=%f)\n", (long long)ifol + 1, getI(first, 52),
                getI(first, 48), type, cell);
    // The count comes from the file: never more images than headers present.
    long long count = (long long)ifol + 1;
    const long long hedSize = file_size(hed.fp);
    if (count < 1 || (hedSize >= 0 && count > hedSize / 1024)) {
        std::printf("Incomplete data read %d/%lld blocks\n", (int)(hedSize >= 0 ? hedSize / 1024 : 0), count);
        return nullptr;
    }
    const long long imgSize = file_size(img.fp);
    long long imgUsed = 0;
    const int vbytes = real ? 4 : 2;

    List* list = new List();
    for (int k = 0; k < (int)count; k++) {
        if (count > 1) fmt::stackProgress(k, (int)count);
        std::unique_ptr<IMAGICH> h(new IMAGICH);
        unsigned char* hb = reinterpret_cast<unsigned char*>(h->w);
        if (read_fully(hed.fp, hb, 1024) != 1024) break;
        if (swap) swapHeader(hb);
        const int nx = getI(hb, 52), ny = getI(hb, 48);
        // Sizes are checked against what the data file still holds before reading.
        if (!saneSize(nx, ny, 1) || (imgSize >= 0 && (long long)nx * ny * vbytes > imgSize - imgUsed)) {
            long long rows =
                saneSize(nx, ny, 1) && imgSize >= imgUsed ? (imgSize - imgUsed) / ((long long)nx * vbytes) : 0;
            std::printf("Incomplete data read %d/%d blocks\n", (int)rows, saneSize(nx, ny, 1) ? ny : 0);
            break;
        }
        std::unique_ptr<MRCData> d(new MRCData());
        int ok = real ? d->setFloatRealFromStream(img.fp, nx, ny, 1, swap)
                      : d->setShortRealFromStream(img.fp, nx, ny, 1, swap);
        imgUsed += (long long)nx * ny * vbytes;
        if (!ok) continue;
        if (std::strchr(imgName.c_str(), '/')) d->setName(fmt::baseName(imgName.c_str()));
        d->setRenMinMax(d->Min(), d->Max());
        d->setIMHed(h.release());
        list->addObject(d.release());
    }
    if (count > 1) do_progress(-1, 0, nullptr);
    if (list->count() == 0) {
        delete list;
        return nullptr;
    }
    return list;
}

int MRCData::appendImagic(const char* file) {
    if (!IMHed()) {
        IMAGICH* nh = new IMAGICH;
        std::memset(nh, 0, sizeof *nh);
        setIMHed(nh);
    }
    std::string stem = file;
    if (stem.size() >= 4 && stem[stem.size() - 4] == '.') stem.erase(stem.size() - 4);
    const std::string hedName = stem + ".hed", imgName = stem + ".img";
    unsigned char* kh = reinterpret_cast<unsigned char*>(IMHed()->w);
    putI(kh, 4, 0);
    putI(kh, 0, 1);

    // What to restore when a later step fails, so a failed append leaves the pair as it was.
    struct stat st;
    const off_t hedOld = stat(hedName.c_str(), &st) == 0 ? st.st_size : 0;
    const off_t imgOld = stat(imgName.c_str(), &st) == 0 ? st.st_size : 0;
    unsigned char firstOld[1024];
    bool haveFirst = false;
    {
        OwnedFile f;
        f.fp = std::fopen(hedName.c_str(), "r+b");
        if (f.fp && read_fully(f.fp, firstOld, 1024) == 1024) {
            int imn = getI(firstOld, 0);
            if ((imn & 0xfff) == 0) {
                std::printf("File exists and has wrong byte order!\n");
                return 0;
            }
            unsigned char first[1024];
            std::memcpy(first, firstOld, 1024);
            if (getI(first, 4) < 0 || getI(first, 4) >= 0x7ffffffe) {
                std::printf("Cannot write to %s!\n", hedName.c_str());
                return 0;
            }
            int ifol = getI(first, 4) + 1;
            putI(first, 4, ifol);
            std::rewind(f.fp);
            if (std::fwrite(first, 1, 1024, f.fp) != 1024 || std::fflush(f.fp) != 0) {
                std::printf("Cannot write to %s!\n", hedName.c_str());
                return 0;
            }
            haveFirst = true;
            putI(kh, 0, ifol + 1);
        }
    }
    auto rollback = [&]() {
        // Each file on its own: one that cannot be restored does not stop the other.
        bool hedOk = truncate(hedName.c_str(), hedOld) == 0;
        struct stat s2;
        if (stat(imgName.c_str(), &s2) == 0 && S_ISREG(s2.st_mode) && truncate(imgName.c_str(), imgOld) != 0) return;
        if (hedOk && haveFirst) {
            OwnedFile f;
            f.fp = std::fopen(hedName.c_str(), "r+b");
            if (f.fp) std::fwrite(firstOld, 1, 1024, f.fp);
        }
    };

    const int nx = xSize(), ny = ySize() * zSize();
    time_t t = std::time(nullptr);
    struct tm lt;
    localtime_r(&t, &lt);
    putI(kh, 8, 0);
    putI(kh, 12, 1);
    putI(kh, 16, lt.tm_mday);
    putI(kh, 20, lt.tm_mon + 1);
    putI(kh, 24, lt.tm_year + 1900);
    putI(kh, 28, lt.tm_hour);
    putI(kh, 32, lt.tm_min);
    putI(kh, 36, lt.tm_sec);
    putI(kh, 40, xSize() * ySize());
    putI(kh, 44, xSize() * ySize());
    putI(kh, 48, ySize());
    putI(kh, 52, xSize());
    std::memcpy(kh + 56, "REAL", 4);
    putI(kh, 60, 0);
    putI(kh, 64, 0);
    putF(kh, 68, Mean());
    putI(kh, 72, 0);
    putI(kh, 80, 0);
    putF(kh, 84, Max());
    putF(kh, 88, Min());
    if (std::strcmp(Name(), "na") != 0) {
        std::memset(kh + 116, 0, 80);
        std::memcpy(kh + 116, Name(), std::min<size_t>(std::strlen(Name()), 79));
    }
    const int words[][2] = {{276, xSize()},     {280, 1},  {284, ySize()},    {288, 0},       {292, -1},
                            {296, 0},           {300, -1}, {304, 1},          {312, 8},       {316, xSize() / 2},
                            {320, 2 * xSize()}, {324, 7},  {328, -1},         {332, 1},       {336, -1},
                            {340, -1},          {344, 1},  {348, xSize()},    {352, xSize()}, {356, 2 * xSize()},
                            {360, -1},          {384, 1},  {388, xSize() / 2}};
    for (auto& w : words) putI(kh, w[0], w[1]);
    std::memset(kh + 396, 0, 400);

    {
        OwnedFile f;
        f.fp = std::fopen(hedName.c_str(), "ab");
        if (!f.fp) {
            std::printf("Cannot write to %s!\n", hedName.c_str());
            rollback();
            return 0;
        }
        bool ok = std::fwrite(kh, 1, 1024, f.fp) == 1024;
        ok = std::fclose(f.fp) == 0 && ok;
        f.fp = nullptr;
        if (!ok) {
            std::printf("Cannot write to %s!\n", hedName.c_str());
            rollback();
            return 0;
        }
    }
    OwnedFile f;
    f.fp = std::fopen(imgName.c_str(), "ab");
    if (!f.fp) {
        std::printf("Cannot write to %s!\n", imgName.c_str());
        rollback();
        return 0;
    }
    bool ok = true;
    const float* d = getRealData();
    for (int r = ny - 1; r >= 0 && ok; r--) ok = std::fwrite(d + (size_t)r * nx, sizeof(float), nx, f.fp) == (size_t)nx;
    ok = std::fclose(f.fp) == 0 && ok;
    f.fp = nullptr;
    if (!ok) {
        std::printf("Cannot write to %s!\n", imgName.c_str());
        rollback();
        return 0;
    }
    return 1;
}
