#include "core/prefs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/fileutil.h"

namespace {

struct Entry {
    std::string name, val;
};

// The original table held 50 entries; it grows here, so no setting is ever dropped.
std::vector<Entry>& table() {
    static std::vector<Entry> t;
    return t;
}

// Lines longer than this are not preference lines; they are skipped whole
// instead of being split into bogus entries.
const size_t kMaxLine = 4095;

Entry* find(const char* name) {
    for (auto& e : table())
        if (e.name == name) return &e;
    return nullptr;
}

// A value that does not parse reads as 0, like an absent one.
int parse_int(const char* s) {
    int v = 0;
    if (std::sscanf(s, " %d", &v) != 1) return 0;
    return v;
}

float parse_float(const char* s) {
    float v = 0;
    if (std::sscanf(s, " %f", &v) != 1) return 0;
    return v;
}

}  // namespace

const char* envfile_path() {
    static std::string path;
    const char* home = std::getenv("HOME");
    path = std::string(home && *home ? home : ".") + "/.tvenv";
    return path.c_str();
}

void clearenv2() { table().clear(); }
int envcount() { return (int)table().size(); }
const char* envname(int i) { return i >= 0 && i < envcount() ? table()[i].name.c_str() : nullptr; }
const char* envval(int i) { return i >= 0 && i < envcount() ? table()[i].val.c_str() : nullptr; }

void openenv2() {
    table().clear();
    FILE* fp = std::fopen(envfile_path(), "r");
    if (!fp) {
        std::printf("No environment file\n");
        return;
    }
    std::string line;
    int c;
    bool eof = false;
    while (!eof) {
        line.clear();
        bool toolong = false;
        while (true) {
            c = std::fgetc(fp);
            if (c == EOF) {
                eof = true;
                break;
            }
            if (c == '\n') break;
            if (line.size() < kMaxLine)
                line.push_back((char)c);
            else
                toolong = true;
        }
        if (toolong) continue;
        size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        table().push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    std::fclose(fp);
}

int saveenv2() {
    std::string out;
    for (auto& e : table()) {
        out += e.name;
        out += '\t';
        out += e.val;
        out += '\n';
    }
    if (!write_file_atomic(envfile_path(), out.data(), out.size())) {
        std::printf("Cannot write environment file %s\n", envfile_path());
        return 0;
    }
    return 1;
}

void setenv2(const char* name, const char* text) {
    if (!name) return;
    // The stored name ends at the first tab, as the file cannot hold more.
    std::string n(name);
    size_t tab = n.find('\t');
    if (tab != std::string::npos) n.resize(tab);
    std::string v(text ? text : "");
    // A line feed inside a value would split the line in the file.
    for (auto& ch : v)
        if (ch == '\n') ch = ' ';
    if (Entry* e = find(n.c_str()))
        e->val = v;
    else
        table().push_back({n, v});
}

void setenvi(const char* name, int v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d", v);
    setenv2(name, buf);
}

void setenvf(const char* name, float v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%7.5g", v);
    setenv2(name, buf);
}

const char* getenv2(const char* name) {
    Entry* e = name ? find(name) : nullptr;
    return e ? e->val.c_str() : nullptr;
}

const char* getenv2d(const char* name, const char* def) {
    const char* v = getenv2(name);
    return v ? v : def;
}

int getenvi(const char* name) {
    const char* v = getenv2(name);
    return v ? parse_int(v) : 0;
}

int getenvid(const char* name, int def) {
    const char* v = getenv2(name);
    if (!v) {
        setenvi(name, def);
        return def;
    }
    return parse_int(v);
}

float getenvf(const char* name) {
    const char* v = getenv2(name);
    return v ? parse_float(v) : 0.0f;
}

float getenvfd(const char* name, float def) {
    const char* v = getenv2(name);
    if (!v) {
        setenvf(name, def);
        return def;
    }
    return parse_float(v);
}

int save_data(const float* x, const float* y, int n, const char* file) {
    std::string out;
    char buf[64];
    for (int i = 0; i < n; i++) {
        std::snprintf(buf, sizeof buf, "%g\t%g\n", x[i], y[i]);
        out += buf;
    }
    return write_file_atomic(file, out.data(), out.size());
}
