#include "core/star.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What a table of the field may hold: RELION's widest tables have about a
// hundred columns; fifty million values is far beyond any particle set that
// fits this program's memory.
constexpr size_t kMaxLine = 8192;
constexpr size_t kMaxColumns = 1000;
constexpr size_t kMaxValues = 50000000;
// A file with more unreadable lines than this is not a table at all.
constexpr size_t kMaxSkipped = 10000;

struct Token {
    std::string text;
    bool quoted;
};

// Splits a line into values: blanks separate, '#' starts a comment, a value
// may be quoted with ' or ". False for an unterminated quote.
bool tokenize(const char* p, const char* e, std::vector<Token>* out) {
    out->clear();
    while (p < e) {
        while (p < e && std::isspace((unsigned char)*p)) p++;
        if (p >= e || *p == '#') break;
        if (*p == '\'' || *p == '"') {
            const char q = *p++;
            const char* end = (const char*)std::memchr(p, q, e - p);
            if (!end) return false;
            out->push_back({std::string(p, end), true});
            p = end + 1;
        } else {
            const char* s = p;
            while (p < e && !std::isspace((unsigned char)*p)) p++;
            out->push_back({std::string(s, p), false});
        }
    }
    return true;
}

bool startsWith(const std::string& s, const char* head) {
    return s.compare(0, std::strlen(head), head) == 0;
}

std::string lineMsg(int line, const char* what) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "line %d: %s", line, what);
    return buf;
}

}  // namespace

int StarTable::column(const char* name) const {
    for (size_t i = 0; i < columns.size(); i++)
        if (columns[i] == name) return (int)i;
    return -1;
}

const StarTable* StarFile::find(std::initializer_list<const char*> names) const {
    for (const StarTable& t : tables) {
        bool all = true;
        for (const char* n : names) all = all && t.column(n) >= 0;
        if (all) return &t;
    }
    return nullptr;
}

const StarTable* StarFile::block(const char* name) const {
    for (const StarTable& t : tables)
        if (t.block == name) return &t;
    return nullptr;
}

// One row per line in a loop, as RELION reads and writes them; items outside
// loops become a one-row table of their block.
int parseStar(const char* text, size_t n, StarFile* out, std::string* why, std::vector<StarSkip>* skipped) {
    out->tables.clear();
    enum { OUTSIDE, BLOCK, HEADER, ROWS } st = OUTSIDE;
    std::string block;
    StarTable* items = nullptr;  // the single items of the current block
    size_t values = 0;
    std::vector<Token> tok;
    const char* p = text;
    const char* end = text + n;
    auto fail = [&](int line, const char* what) {
        *why = lineMsg(line, what);
        out->tables.clear();
        return 0;
    };
    // A line that cannot be read: the file fails, or only that line when skipping.
    auto refuse = [&](int line, const char* what) {
        if (!skipped) return fail(line, what);
        if (skipped->size() >= kMaxSkipped) return fail(line, "too many unreadable lines");
        skipped->push_back({line, what});
        return 1;
    };
    for (int lineNo = 1; p < end; lineNo++) {
        const char* nl = (const char*)std::memchr(p, '\n', end - p);
        const char* e = nl ? nl : end;
        const char* line = p;
        p = nl ? nl + 1 : end;
        if ((size_t)(e - line) > kMaxLine || std::memchr(line, 0, e - line)) {
            if (!refuse(lineNo, "not a line of text (too long, or binary)")) return 0;
            continue;
        }
        const char* le = (e > line && e[-1] == '\r') ? e - 1 : e;
        if (!tokenize(line, le, &tok)) {
            if (!refuse(lineNo, "unterminated quote")) return 0;
            continue;
        }
        if (tok.empty()) continue;
        const Token& t0 = tok[0];
        const bool item = !t0.quoted && t0.text[0] == '_';
        if (!t0.quoted && startsWith(t0.text, "data_")) {
            block = t0.text.substr(5);
            st = BLOCK;
            items = nullptr;
            continue;
        }
        if (!t0.quoted && t0.text == "loop_") {
            out->tables.push_back(StarTable());
            out->tables.back().block = block;
            out->tables.back().loop = true;
            items = nullptr;
            st = HEADER;
            continue;
        }
        if (item && (st == HEADER)) {
            StarTable& t = out->tables.back();
            if (t.columns.size() >= kMaxColumns) return fail(lineNo, "too many columns");
            t.columns.push_back(t0.text);  // "#N" after the name is a comment
            continue;
        }
        if (item) {  // a single item of the block: _name value
            if (tok.size() < 2) return fail(lineNo, "an item without a value");
            if (!items) {
                out->tables.push_back(StarTable());
                items = &out->tables.back();
                items->block = block;
                items->rows.emplace_back();
                items->lines.push_back(lineNo);
            }
            if (items->columns.size() >= kMaxColumns) return fail(lineNo, "too many columns");
            if (++values > kMaxValues) return fail(lineNo, "too many values");
            items->columns.push_back(t0.text);
            items->rows[0].push_back(tok[1].text);
            st = BLOCK;
            continue;
        }
        if (st == HEADER) st = ROWS;
        if (st != ROWS) continue;  // text outside any table: passed over, as RELION does
        StarTable& t = out->tables.back();
        if (tok.size() != t.columns.size()) {
            char msg[64];
            std::snprintf(msg, sizeof msg, "%d values for %d columns", (int)tok.size(), (int)t.columns.size());
            if (!refuse(lineNo, msg)) return 0;
            continue;
        }
        values += tok.size();
        if (values > kMaxValues) return fail(lineNo, "too many values");
        std::vector<std::string> row;
        row.reserve(tok.size());
        for (Token& v : tok) row.push_back(std::move(v.text));
        t.rows.push_back(std::move(row));
        t.lines.push_back(lineNo);
    }
    return 1;
}

int readStar(const char* file, StarFile* out, std::vector<StarSkip>* skipped, std::string* whyOut) {
    out->tables.clear();
    // Quiet with whyOut: the reason goes there instead of standard output.
    auto fail = [&](const std::string& msg) {
        if (whyOut)
            *whyOut = msg;
        else
            std::printf("%s\n", msg.c_str());
        return 0;
    };
    FILE* fp = std::fopen(file, "rb");
    if (!fp) return fail(std::string("Unable to open file ") + file);
    std::string text;
    char buf[65536];
    size_t got;
    while ((got = std::fread(buf, 1, sizeof buf, fp)) > 0) text.append(buf, got);
    const bool bad = std::ferror(fp);
    std::fclose(fp);
    if (bad) return fail(std::string("Unable to read file ") + file);
    std::string why;
    if (!parseStar(text.data(), text.size(), out, &why, skipped)) return fail(std::string(file) + " " + why);
    return 1;
}

bool starValueOk(const std::string& s) {
    if (s.empty() || s[0] == '_' || s[0] == '#' || s[0] == '\'' || s[0] == '"' || startsWith(s, "data_") ||
        startsWith(s, "loop_"))
        return false;
    for (unsigned char c : s)
        if (c <= ' ' || c == 0x7f) return false;
    return true;
}

bool starNumber(const std::string& t, double lo, double hi, double* v) {
    if (t.empty()) return false;
    char* e = nullptr;
    *v = std::strtod(t.c_str(), &e);
    return e && *e == 0 && std::isfinite(*v) && *v >= lo && *v <= hi;
}
