#include "core/picks.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/MRCData.h"
#include "core/boxcut.h"
#include "core/fileutil.h"

namespace {

// Limits on what a pick file may hold: no micrograph is a million pixels
// wide, no particle box 100000, no picking run a hundred thousand particles
// in one image.
constexpr size_t kMaxLine = 8192;
constexpr int kMaxColumns = 1000;
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

struct Token {
    std::string text;
    bool quoted;
};

// Splits a STAR line into its values: blanks separate, '#' starts a comment,
// a value may be quoted with ' or ". False for an unterminated quote.
bool tokenize(const std::string& line, std::vector<Token>* out) {
    out->clear();
    size_t i = 0, n = line.size();
    while (i < n) {
        while (i < n && std::isspace((unsigned char)line[i])) i++;
        if (i >= n || line[i] == '#') break;
        if (line[i] == '\'' || line[i] == '"') {
            const char q = line[i++];
            size_t e = line.find(q, i);
            if (e == std::string::npos) return false;
            out->push_back({line.substr(i, e - i), true});
            i = e + 1;
        } else {
            size_t s = i;
            while (i < n && !std::isspace((unsigned char)line[i])) i++;
            out->push_back({line.substr(s, i - s), false});
        }
    }
    return true;
}

// A number of the whole token, finite and within [lo, hi].
bool number(const std::string& t, double lo, double hi, double* v) {
    if (t.empty()) return false;
    char* end = nullptr;
    *v = std::strtod(t.c_str(), &end);
    return end && *end == 0 && std::isfinite(*v) && *v >= lo && *v <= hi;
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

bool keyword(const Token& t) {
    if (t.quoted) return false;
    const std::string& s = t.text;
    return s.compare(0, 5, "data_") == 0 || s == "loop_" || s == "global_" || s == "stop_" ||
           s.compare(0, 5, "save_") == 0;
}

}  // namespace

PickFormat pickFormat(const char* file) {
    if (endsWith(file, ".star")) return PICKS_STAR;
    if (endsWith(file, ".box")) return PICKS_BOX;
    return PICKS_BOXDB;
}

// The first loop that has both _rlnCoordinateX and _rlnCoordinateY is read;
// other blocks, loops, columns and items are passed over.
int readStarPicks(const char* file, int w, int h, std::vector<Pick>* out) {
    out->clear();
    if (w < 1 || h < 1 || w > kMaxSize || h > kMaxSize) return fail(file, 0, "no usable box size for its centres");
    FILE* fp = std::fopen(file, "r");
    if (!fp) {
        std::printf("Unable to open file %s\n", file);
        return 0;
    }
    enum { OUTSIDE, HEADER, ROWS } st = OUTSIDE;
    int ncol = 0, cx = -1, cy = -1, lineNo = 0, r;
    bool found = false;
    std::string line;
    std::vector<Token> tok;
    char msg[128];
    while ((r = readLine(fp, &line)) != 0) {
        lineNo++;
        if (r < 0) {
            std::fclose(fp);
            return fail(file, lineNo, "not a line of text (too long, or binary)");
        }
        if (!tokenize(line, &tok)) {
            std::fclose(fp);
            return fail(file, lineNo, "unterminated quote");
        }
        if (tok.empty()) continue;
        const Token& t0 = tok[0];
        const bool item = !t0.quoted && t0.text[0] == '_';
        if (keyword(t0) || (item && st == ROWS)) {
            if (st != OUTSIDE && cx >= 0 && cy >= 0) break;  // the coordinate loop is over
            st = t0.text == "loop_" ? HEADER : OUTSIDE;
            ncol = 0;
            cx = cy = -1;
            continue;
        }
        if (st == HEADER && item) {
            if (++ncol > kMaxColumns) {
                std::fclose(fp);
                return fail(file, lineNo, "too many columns");
            }
            if (t0.text == "_rlnCoordinateX" && cx < 0) cx = ncol - 1;
            if (t0.text == "_rlnCoordinateY" && cy < 0) cy = ncol - 1;
            if (cx >= 0 && cy >= 0) found = true;
            continue;
        }
        if (st == HEADER) st = ROWS;
        if (st != ROWS || cx < 0 || cy < 0) continue;  // items, or rows of another loop
        if ((int)tok.size() != ncol) {
            std::snprintf(msg, sizeof msg, "%d values for %d columns", (int)tok.size(), ncol);
            std::fclose(fp);
            return fail(file, lineNo, msg);
        }
        double x, y;
        if (!number(tok[cx].text, 0, kMaxCoord, &x) || !number(tok[cy].text, 0, kMaxCoord, &y)) {
            std::fclose(fp);
            return fail(file, lineNo, "coordinates are not pixel positions");
        }
        if (out->size() >= kMaxPicks) {
            std::fclose(fp);
            return fail(file, lineNo, "too many picks");
        }
        out->push_back({nearest(x) - w / 2, nearest(y) - h / 2, w, h});
    }
    std::fclose(fp);
    if (!found) {
        out->clear();
        return fail(file, 0, "no loop with _rlnCoordinateX and _rlnCoordinateY");
    }
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
    std::vector<Token> tok;
    while ((r = readLine(fp, &line)) != 0) {
        lineNo++;
        const char* why = nullptr;
        double v[4];
        if (r < 0)
            why = "not a line of text (too long, or binary)";
        else if (!tokenize(line, &tok))
            why = "unterminated quote";
        else if (tok.empty())
            continue;
        else if (tok.size() < 4)
            why = "expected x, y, width and height";
        else if (!number(tok[0].text, -kMaxCoord, kMaxCoord, &v[0]) ||
                 !number(tok[1].text, -kMaxCoord, kMaxCoord, &v[1]) || !number(tok[2].text, 1, kMaxSize, &v[2]) ||
                 !number(tok[3].text, 1, kMaxSize, &v[3]))
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

int writeStarPicks(const char* file, const std::vector<Pick>& picks) {
    // An unnamed block, as RELION's own coordinate files have.
    std::string s = "\ndata_\n\nloop_\n_rlnCoordinateX #1\n_rlnCoordinateY #2\n";
    char row[80];
    for (const Pick& p : picks) {
        std::snprintf(row, sizeof row, "%12.6f %12.6f\n", (double)(p.x + p.w / 2), (double)(p.y + p.h / 2));
        s += row;
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
