#include "core/picks.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/MRCData.h"
#include "core/boxcut.h"
#include "core/fileutil.h"
#include "core/star.h"

namespace {

// Limits on what a pick file may hold: no micrograph is a million pixels
// wide, no particle box 100000, no picking run a hundred thousand particles
// in one image.
constexpr size_t kMaxLine = 8192;
constexpr size_t kMaxPicks = 100000;
constexpr double kMaxCoord = 1000000;
constexpr int kMaxSize = 100000;

bool endsWith(const char* s, const char* tail) {
    size_t n = std::strlen(s), m = std::strlen(tail);
    return n >= m && std::strcmp(s + n - m, tail) == 0;
}

// Reads one line (without its end) of at most kMaxLine bytes. 1 for a line,
// 0 at the end of the file, -1 for a line too long or holding a NUL byte.
int readLine(FILE* fp, std::string* line) {
    line->clear();
    int c;
    bool any = false;
    while ((c = std::getc(fp)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (c == 0 || line->size() >= kMaxLine) return -1;
        line->push_back((char)c);
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return any ? 1 : 0;
}

// Splits a line of an EMAN2 box file at blanks.
void words(const std::string& line, std::vector<std::string>* out) {
    out->clear();
    size_t i = 0, n = line.size();
    while (i < n) {
        while (i < n && std::isspace((unsigned char)line[i])) i++;
        size_t s = i;
        while (i < n && !std::isspace((unsigned char)line[i])) i++;
        if (i > s) out->push_back(line.substr(s, i - s));
    }
}

int nearest(double v) {
    return (int)std::floor(v + 0.5);
}

int fail(const char* file, int line, const char* what) {
    if (line > 0)
        std::printf("%s line %d: %s\n", file, line, what);
    else
        std::printf("%s: %s\n", file, what);
    return 0;
}

}  // namespace

PickFormat pickFormat(const char* file) {
    if (endsWith(file, ".star")) return PICKS_STAR;
    if (endsWith(file, ".box")) return PICKS_BOX;
    return PICKS_BOXDB;
}

int readStarCentres(const char* file, std::vector<PickCentre>* out, std::vector<float>* fom, std::string* why) {
    out->clear();
    if (fom) fom->clear();
    // Quiet with why: the reason goes there.
    auto fail = [&](const char* f, int line, const char* what) {
        if (!why) return ::fail(f, line, what);
        *why = std::string(f) + (line > 0 ? " line " + std::to_string(line) + ": " : std::string(": ")) + what;
        return 0;
    };
    StarFile star;
    if (!readStar(file, &star, nullptr, why)) return 0;
    const StarTable* t = star.find({"_rlnCoordinateX", "_rlnCoordinateY"});
    if (!t || !t->loop) return fail(file, 0, "no loop with _rlnCoordinateX and _rlnCoordinateY");
    const int cx = t->column("_rlnCoordinateX"), cy = t->column("_rlnCoordinateY");
    const int cf = t->column("_rlnAutopickFigureOfMerit");
    for (size_t r = 0; r < t->rows.size(); r++) {
        double x, y, f;
        if (!starNumber(t->rows[r][cx], 0, kMaxCoord, &x) || !starNumber(t->rows[r][cy], 0, kMaxCoord, &y)) {
            out->clear();
            if (fom) fom->clear();
            return fail(file, t->lines[r], "coordinates are not pixel positions");
        }
        // A merit that is no number counts as none: the pick is kept as one by hand.
        if (cf < 0 || !starNumber(t->rows[r][cf], -1e30, 1e30, &f)) f = kManualPickFom;
        if (out->size() >= kMaxPicks) {
            out->clear();
            if (fom) fom->clear();
            return fail(file, t->lines[r], "too many picks");
        }
        out->push_back({x, y});
        if (fom) fom->push_back((float)f);
    }
    return 1;
}

int readStarPicks(const char* file, int w, int h, std::vector<Pick>* out, std::vector<float>* fom, std::string* why) {
    out->clear();
    if (fom) fom->clear();
    if (w < 1 || h < 1 || w > kMaxSize || h > kMaxSize) {
        if (!why) return fail(file, 0, "no usable box size for its centres");
        *why = std::string(file) + ": no usable box size for its centres";
        return 0;
    }
    std::vector<PickCentre> c;
    if (!readStarCentres(file, &c, fom, why)) return 0;
    for (const PickCentre& p : c) out->push_back({nearest(p.x) - w / 2, nearest(p.y) - h / 2, w, h});
    return 1;
}

int readBoxPicks(const char* file, std::vector<Pick>* out) {
    out->clear();
    FILE* fp = std::fopen(file, "r");
    if (!fp) {
        std::printf("Unable to open file %s\n", file);
        return 0;
    }
    int lineNo = 0, r;
    std::string line;
    std::vector<std::string> tok;
    while ((r = readLine(fp, &line)) != 0) {
        lineNo++;
        const char* why = nullptr;
        double v[4];
        if (r < 0)
            why = "not a line of text (too long, or binary)";
        else if (words(line, &tok), tok.empty())
            continue;
        else if (tok.size() < 4)
            why = "expected x, y, width and height";
        else if (!starNumber(tok[0], -kMaxCoord, kMaxCoord, &v[0]) ||
                 !starNumber(tok[1], -kMaxCoord, kMaxCoord, &v[1]) || !starNumber(tok[2], 1, kMaxSize, &v[2]) ||
                 !starNumber(tok[3], 1, kMaxSize, &v[3]))
            why = "x, y, width and height are not pixel numbers";
        else if (out->size() >= kMaxPicks)
            why = "too many picks";
        if (why) {
            std::fclose(fp);
            out->clear();
            return fail(file, lineNo, why);
        }
        out->push_back({nearest(v[0]), nearest(v[1]), nearest(v[2]), nearest(v[3])});
    }
    std::fclose(fp);
    return 1;
}

namespace {
int writeAll(const char* file, const std::string& text) {
    AtomicFile f;
    FILE* fp = f.open(file);
    if (!fp || std::fwrite(text.data(), 1, text.size(), fp) != text.size() || !f.commit()) {
        std::printf("Unable to open file %s\n", file);
        return 0;
    }
    return 1;
}
}  // namespace

int writeStarPicks(const char* file, const std::vector<Pick>& picks, const std::vector<float>* fom) {
    // An unnamed block, as RELION's own coordinate files have.
    std::string s = "\ndata_\n\nloop_\n_rlnCoordinateX #1\n_rlnCoordinateY #2\n";
    if (fom) s += "_rlnAutopickFigureOfMerit #3\n";
    char row[120];
    for (size_t i = 0; i < picks.size(); i++) {
        const Pick& p = picks[i];
        int n = std::snprintf(row, sizeof row, "%12.6f %12.6f", (double)(p.x + p.w / 2), (double)(p.y + p.h / 2));
        if (fom) std::snprintf(row + n, sizeof row - n, " %12.6g", i < fom->size() ? (double)(*fom)[i] : kManualPickFom);
        s += row;
        s += "\n";
    }
    s += "\n";
    return writeAll(file, s);
}

int writeBoxPicks(const char* file, const std::vector<Pick>& picks) {
    std::string s;
    char row[80];
    for (const Pick& p : picks) {
        std::snprintf(row, sizeof row, "%d\t%d\t%d\t%d\n", p.x, p.y, p.w, p.h);
        s += row;
    }
    return writeAll(file, s);
}

int boxesToPicks(MRCData* d, std::vector<Pick>* out) {
    out->clear();
    int left = 0;
    for (int i = 0; i < d->nBoxes(); i++) {
        const BoxRecord& b = d->Boxes()[i];
        if (b.type != 0)
            left++;
        else
            out->push_back({b.x, b.y, b.xsize, b.ysize});
    }
    return left;
}

void picksToBoxes(MRCData* d, const std::vector<Pick>& picks) {
    for (const Pick& p : picks) d->addBox(p.x, p.y, p.w, p.h, clipFileName(d->File(), d->nBoxes() + 1).c_str(), 0);
}

namespace {
bool pickFile(const char* file) {
    if (pickFormat(file) != PICKS_BOXDB) return true;
    std::printf("%s: pick files end in .star (RELION) or .box (EMAN2)\n", file);
    return false;
}
}  // namespace

int exportPicks(MRCData* d, const char* file, int* leftOut) {
    *leftOut = 0;
    if (!pickFile(file)) return -1;
    std::vector<Pick> picks;
    *leftOut = boxesToPicks(d, &picks);
    int ok = pickFormat(file) == PICKS_STAR ? writeStarPicks(file, picks) : writeBoxPicks(file, picks);
    return ok ? (int)picks.size() : -1;
}

int importPicks(MRCData* d, const char* file, int w, int h) {
    if (!pickFile(file)) return -1;
    std::vector<Pick> picks;
    int ok = pickFormat(file) == PICKS_STAR ? readStarPicks(file, w, h, &picks) : readBoxPicks(file, &picks);
    if (!ok) return -1;
    picksToBoxes(d, picks);
    return (int)picks.size();
}
