#include "core/anyformat.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/formats.h"

namespace {

bool endsWith(const std::string& s, const char* suffix) {
    size_t m = std::strlen(suffix);
    return s.size() >= m && s.compare(s.size() - m, m, suffix) == 0;
}

bool readable(const std::string& f) {
    return access(f.c_str(), R_OK) == 0;
}

// Stem of a name whose extension (after the last '/') is cut off.
std::string stemOf(const std::string& path) {
    size_t dot = path.rfind('.'), slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
    return path.substr(0, dot);
}

// A SPIDER header: NSLICE 1.0 in either byte order, with whole positive sizes
// and a header length of at least 1024 bytes.
bool looksSpider(const unsigned char* h) {
    unsigned char w[96];
    std::memcpy(w, h, sizeof w);
    for (int pass = 0; pass < 2; pass++) {
        if (pass) brev(w, 24);
        float ns = fmt::getF(w, 0), nrow = fmt::getF(w, 4), nsam = fmt::getF(w, 44), lab = fmt::getF(w, 84);
        if (ns == 1.0f && nrow >= 1 && nsam >= 1 && lab >= 1024 && nrow == std::floor(nrow) &&
            nsam == std::floor(nsam) && std::isfinite(lab))
            return true;
    }
    return false;
}

List* single(MRCData* d, int ok) {
    if (!ok) {
        delete d;
        return nullptr;
    }
    List* l = new List();
    l->addObject(d);
    return l;
}

}  // namespace

List* readAnyFile(const char* path) {
    const std::string p = path;
    const std::string stem = stemOf(p);
    if ((endsWith(p, ".hed") || endsWith(p, ".img")) && readable(stem + ".hed") && readable(stem + ".img"))
        return readIMAGIC(path);
    if (endsWith(p, ".pif") || endsWith(p, ".PIF")) return readPIF(path);
    if (endsWith(p, ".HDR") || endsWith(p, ".hdr")) {
        MRCData* d = new MRCData();
        return single(d, d->readSAL(path));
    }
    unsigned char head[1024];
    size_t got = 0;
    bool compressed = is_compressed_name(path);
    if (!compressed) {
        FILE* fp = std::fopen(path, "rb");
        if (!fp) {
            std::printf("Cannot open file\n");
            return nullptr;
        }
        got = read_fully(fp, head, sizeof head);
        std::fclose(fp);
    }
    const char* pictures[] = {".pgm", ".PGM",  ".gif", ".GIF", ".tif", ".TIF", ".tiff", ".jpg",
                              ".JPG", ".jpeg", ".pcx", ".PCX", ".ppm", ".pnm", ".png"};
    bool picture = got >= 2 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6';
    for (const char* e : pictures) picture = picture || endsWith(p, e);
    if (picture) {
        MRCData* d = new MRCData();
        return single(d, d->readPGM(path));
    }
    const std::string inner = compressed ? stemOf(p) : p;
    if ((got == sizeof head && looksSpider(head)) || endsWith(inner, ".spi") || endsWith(inner, ".DAT") ||
        endsWith(inner, ".dat")) {
        MRCData* d = new MRCData();
        return single(d, d->readSPIDER(path));
    }
    return readMRCFile(path);
}

std::string formatForName(const char* path) {
    const std::string p = path;
    if (endsWith(p, ".spi") || endsWith(p, ".DAT") || endsWith(p, ".dat")) return "spider";
    if (endsWith(p, ".hed")) return "imagic";
    if (endsWith(p, ".pif") || endsWith(p, ".PIF")) return "pif";
    if (endsWith(p, ".pgm") || endsWith(p, ".PGM")) return "pgm";
    if (endsWith(p, ".mrcs")) return "mrcs";
    return "mrc";
}

int writeAnyFile(MRCData* d, const char* path, const std::string& format, int shortMode) {
    std::string f = format.empty() ? formatForName(path) : format;
    if (f == "mrc") return d->writeMRCData(path, shortMode);
    if (f == "mrcs") {
        List one;
        one.addObject(d);
        return writeMRCStack(&one, path, shortMode);
    }
    if (f == "spider") return d->writeSPIDER(path);
    if (f == "imagic") return d->appendImagic(path);
    if (f == "pif") return d->appendPIF(path);
    if (f == "pgm") return d->writePGM(path);
    std::printf("Unknown output format %s\n", f.c_str());
    return 0;
}

int writeAnyList(List* l, const char* path, const std::string& format, int shortMode) {
    const std::string f = format.empty() ? formatForName(path) : format;
    if (f == "mrcs") return writeMRCStack(l, path, shortMode);
    int ok = 1;
    for (int i = 0; i < l->count() && ok; i++)
        ok = writeAnyFile(static_cast<MRCData*>(l->objectAt(i)), path, f, shortMode);
    return ok;
}

void freeDataList(List* l) {
    if (!l) return;
    for (int i = 0; i < l->count(); i++) delete static_cast<MRCData*>(l->objectAt(i));
    delete l;
}

bool isStackFormat(const std::string& format) {
    return format == "imagic" || format == "pif" || format == "mrcs";
}
