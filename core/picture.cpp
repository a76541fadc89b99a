// Pictures (binary PGM, others through netpbm/djpeg) and Scans-A-Lot scans.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/formats.h"
#include "core/hooks.h"

namespace {

bool endsWith(const std::string& s, const char* e) {
    size_t m = std::strlen(e);
    return s.size() >= m && s.compare(s.size() - m, m, e) == 0;
}

// The picture stream: a plain file or a converter's pipe.
struct Stream {
    FILE* fp = nullptr;
    bool piped = false;
    ~Stream() { close(); }
    void close() {
        if (fp) piped ? pclose(fp) : std::fclose(fp);
        fp = nullptr;
    }
};

// Next header number of a PNM stream: white space and '#' comments skipped.
// -1 when there is none or it is absurdly long.
long pnmNumber(FILE* fp) {
    int c = std::getc(fp);
    for (;;) {
        while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') c = std::getc(fp);
        if (c != '#') break;
        while (c != '\n' && c != EOF) c = std::getc(fp);
    }
    if (c < '0' || c > '9') return -1;
    long v = 0;
    while (c >= '0' && c <= '9') {
        v = v * 10 + (c - '0');
        if (v > 1000000000L) return -1;
        c = std::getc(fp);
    }
    // The single white-space character after the number is consumed here.
    return v;
}

}  // namespace

std::string pictureCommand(const char* file) {
    const std::string f = file, q = shell_quote(file);
    if (endsWith(f, ".gif") || endsWith(f, ".GIF")) return "giftopnm " + q + "|ppmtopgm";
    if (endsWith(f, ".tif") || endsWith(f, ".TIF") || endsWith(f, ".tiff")) return "tifftopnm " + q + " | ppmtopgm";
    if (endsWith(f, ".jpg") || endsWith(f, ".JPG")) return "djpeg -grayscale -pnm " + q;
    if (endsWith(f, ".pcx") || endsWith(f, ".PCX")) return "pcxtoppm " + q + "| ppmtopgm";
    return "ppmtopgm " + q;
}

int MRCData::readPGM(const char* fname) {
    Stream in;
    in.fp = std::fopen(fname, "rb");
    if (!in.fp) {
        std::printf("Cannot open file %s\n", fname);
        return 0;
    }
    char magic[2] = {0, 0};
    if (read_fully(in.fp, magic, 2) != 2 || magic[0] != 'P' || magic[1] != '5') {
        in.close();
        std::fflush(stdout);
        in.fp = popen(pictureCommand(fname).c_str(), "r");
        in.piped = true;
        if (!in.fp || read_fully(in.fp, magic, 2) != 2 || magic[0] != 'P' || magic[1] != '5') {
            in.close();
            std::printf("Sorry, I do not recognize this file type.\n");
            return 0;
        }
    }
    setName(fmt::baseName(fname));
    setFile(fname);
    setFlags(0);
    const long w = pnmNumber(in.fp), h = pnmNumber(in.fp), maxval = pnmNumber(in.fp);
    if (maxval != 255) std::printf("Warning, this looks like an invalid pgm. %f\n", (double)maxval);
    if (w < 1 || h < 1 || !saneSize(w, h, 1)) {
        std::printf("Invalid file\n");
        return 0;
    }
    // Samples above 255 take two bytes, most significant first (netpbm's rule).
    const int sb = maxval > 255 && maxval < 65536 ? 2 : 1;
    const size_t rowBytes = (size_t)w * sb;
    if (!in.piped) {
        long long fsize = file_size(in.fp), pos = std::ftell(in.fp);
        if (fsize >= 0 && fsize - pos < (long long)rowBytes * h) {
            std::printf("Incomplete data read %d/%d blocks\n", (int)((fsize - pos) / (long long)rowBytes), (int)h);
            return 0;
        }
    }
    // A pipe's bytes are collected as they come, so a lying header costs nothing.
    std::vector<unsigned char> raw;
    raw.reserve(in.piped ? std::min<size_t>(rowBytes * h, 1 << 20) : rowBytes * h);
    std::vector<unsigned char> row(rowBytes);
    for (long r = 0; r < h; r++) {
        if (read_fully(in.fp, row.data(), rowBytes) != rowBytes) {
            std::printf("Incomplete data read %d/%d blocks\n", (int)r, (int)h);
            do_progress(-1, 0, nullptr);
            return 0;
        }
        raw.insert(raw.end(), row.begin(), row.end());
        if (w > 511) do_progress((int)r + 1, (int)h, "Reading 8 bit data...");
    }
    do_progress(1, 1, "Converting to float");
    std::printf("div=%f\n", (double)maxval);
    const float div = maxval >= 1 && maxval < 65536 ? (float)maxval : 255.0f;
    setSize((int)w, (int)h, 1);
    float* f = getRealData();
    // The first row of the picture is the top of the screen: the last data row.
    for (long r = 0; r < h; r++) {
        const unsigned char* src = raw.data() + (size_t)r * rowBytes;
        float* dst = f + (size_t)(h - 1 - r) * w;
        if (sb == 1)
            for (long x = 0; x < w; x++) dst[x] = src[x] / div;
        else
            for (long x = 0; x < w; x++) dst[x] = (src[2 * x] * 256 + src[2 * x + 1]) / div;
    }
    for (long long i = (long long)w * h - 1; i >= 0; i--)
        if (f[i] < 0 || f[i] > 1) std::printf("%d,%g\n", (int)i, f[i]);
    setDefaultScale();
    do_progress(1, 1, "Updating statistics");
    update();
    do_progress(-1, 0, nullptr);
    return 1;
}

int MRCData::writePGM(const char* fname) {
    AtomicFile out;
    FILE* fp = out.open(fname);
    if (!fp) {
        std::printf("Cannot open file for writing\n");
        return 0;
    }
    const int w = xSize(), h = ySize();
    std::vector<unsigned char> pix((size_t)w * h, 0);
    renderAmp8(pix.data(), 0, 0, w, h, w, 1.0f, 0, 255);
    std::fprintf(fp, "P5\n%d %d\n255\n", w, h);
    if (!pix.empty() && std::fwrite(pix.data(), 1, pix.size(), fp) != pix.size()) return 0;
    return out.commit();
}

int MRCData::readSAL(const char* fname) {
    std::string stem = fname;
    size_t dot = stem.rfind('.');
    if (dot != std::string::npos) stem.erase(dot);
    std::string hdr = stem + ".HDR";
    if (access(hdr.c_str(), R_OK) != 0) hdr = stem + ".hdr";
    if (std::strchr(fname, '/')) {
        setName(fmt::baseName(fname));
        setFile(fname);
    } else {
        setName("SAL File");
        setFile(nullptr);
    }
    setDefaultScale();
    int cols = -1, rows = -1, rec = 512;
    bool exchange = false, raster = false;
    FILE* hf = std::fopen(hdr.c_str(), "r");
    if (!hf) {
        std::printf("Cannot open %s\n", hdr.c_str());
        return 0;
    }
    char line[80];
    while (std::fgets(line, sizeof line, hf)) {
        if (!line[0]) continue;
        const char* key = line + 1;
        const char* eq = std::strchr(line, '=');
        if (!std::strncmp(key, "NXP", 3)) {
            if (eq) std::sscanf(eq + 1, " %d", &cols);
        } else if (!std::strncmp(key, "NYP", 3)) {
            if (eq) std::sscanf(eq + 1, " %d", &rows);
        } else if (!std::strncmp(key, "AXSCAN", 6)) {
            const char* q = std::strrchr(line, '\'');
            if (q && q > line && q[-1] == 'Y') exchange = true;
        } else if (!std::strncmp(key, "FILE REC", 8)) {
            if (eq) std::sscanf(eq + 1, " %d", &rec);
        } else if (!std::strncmp(key, "SCAN TYPE", 9)) {
            const char* q = std::strchr(line, '\'');
            if (q) raster = q[1] == 'R';
        } else if (!std::strncmp(key, "DELTAX", 6)) {
            float dx;
            if (eq && std::sscanf(eq + 1, " %f", &dx) == 1) setPixres(dx / 3);
        }
    }
    std::fclose(hf);
    if (exchange) std::swap(cols, rows);
    std::printf("%s is %dx%d\n", hdr.c_str(), cols, rows);
    // Sizes and record length from the header bound everything that follows.
    if (cols == -1 || rows == -1 || cols < 1 || rows < 1 || !saneSize(cols, rows, 1) || rec < 1 || rec > (1 << 24)) {
        std::printf("Problem reading header.");
        return 0;
    }
    std::string img = stem + ".IMG";
    if (access(img.c_str(), R_OK) != 0) img = stem + ".img";
    FILE* df = std::fopen(img.c_str(), "rb");
    if (!df) {
        std::printf("Cannot open %s\n", img.c_str());
        return 0;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> dclose(df, std::fclose);
    const long long block = ((2LL * cols - 1) / rec + 1) * rec;
    std::printf("Block length=%lld x %d\n", block, rows);
    const long long fsize = file_size(df);
    if (fsize >= 0 && fsize < block * rows) {
        std::printf("Incomplete data read %d/%d blocks\n", (int)(fsize / block), rows);
        return 0;
    }
    setSize(cols, rows, 1);
    setFlags(0);
    std::vector<unsigned char> raw((size_t)cols * rows * 2), blk((size_t)block);
    for (int r = 0; r < rows; r++) {
        if (read_fully(df, blk.data(), (size_t)block) != (size_t)block) {
            std::printf("Incomplete data read %d/%d blocks\n", r, rows);
            do_progress(-1, 0, nullptr);
            return 0;
        }
        std::memcpy(raw.data() + (size_t)r * cols * 2, blk.data(), (size_t)cols * 2);
        if (cols > 511) do_progress(r + 1, rows, "Reading 16 bit data...");
    }
    if ((long long)cols * rows > 10000) do_progress(1, 1, "Converting to float");
    float* f = getRealData();
    for (size_t i = 0; i < (size_t)cols * rows; i++) f[i] = raw[2 * i + 1] * 256.0f + raw[2 * i];
    if (raster)
        for (int r = 1; r < rows; r += 2) std::reverse(f + (size_t)r * cols, f + (size_t)(r + 1) * cols);
    update();
    do_progress(-1, 0, nullptr);
    return 1;
}
