// Shared helpers for the core tests: data paths, files as bytes, captures, readers, commands.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/prefs.h"
#include "tests/core/tempdir.h"

inline std::string dataFile(const std::string& rel) {
    return std::string(TARVIK_TEST_DATA) + "/" + rel;
}

inline std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void spit(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

// Header words of a file held as bytes, native order.
template <class T = int>
T word(const std::string& b, size_t off) {
    T v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
template <class T = int>
std::vector<T> words(const std::string& b, std::initializer_list<size_t> offsets) {
    std::vector<T> v;
    for (size_t off : offsets) v.push_back(word<T>(b, off));
    return v;
}
template <class T>
void setWord(std::string& b, size_t off, T v) {
    std::memcpy(&b[off], &v, 4);
}
inline void setWords(std::string& b, std::initializer_list<std::pair<size_t, int>> words) {
    for (auto& w : words) setWord(b, w.first, w.second);
}
inline unsigned char* bytesAt(std::string& b, size_t off = 0) {
    return reinterpret_cast<unsigned char*>(&b[off]);
}

// The last line of a text, with its line end.
inline std::string lastLine(const std::string& s) {
    size_t p = s.size() < 2 ? std::string::npos : s.rfind('\n', s.size() - 2);
    return p == std::string::npos ? s : s.substr(p + 1);
}

// Runs f with standard output captured; returns what it printed. An ASSERT in f
// leaves f only, so the capture is always closed.
template <class F>
std::string captured(F f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

// The float pattern of the third-party fixtures, in file order.
inline float patternF32(int x, int y) {
    return (float)(((x - 20.3) * (y + 0.7)) / 3.0);
}

// A real data set with values f(x, y) at memory row y.
template <class F>
void makeReal(MRCData& d, int nx, int ny, F f) {
    std::vector<float> v((size_t)nx * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) v[(size_t)y * nx + x] = f(x, y);
    d.setRealData(v.data(), nx, ny, 1);
}

// Pixels of the first plane that differ from f(x, y) (data row y) by more than tol;
// -1 when d is not nx by ny, -2 when there is no d.
template <class F>
int mismatches(const MRCData& d, int nx, int ny, F f, double tol = 0) {
    if (d.xSize() != nx || d.ySize() != ny) return -1;
    int bad = 0;
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) bad += !(std::abs((double)d.valueAt(x, y) - (double)f(x, y)) <= tol);
    return bad;
}

template <class F>
int mismatches(const MRCData* d, int nx, int ny, F f, double tol = 0) {
    return d ? mismatches(*d, nx, ny, f, tol) : -2;
}

// f with y counted from the top: picture files and IMAGIC stacks hold the last data row first.
template <class F>
auto fromTop(int ny, F f) {
    return [=](int x, int y) { return f(x, ny - 1 - y); };
}

// One data set read by a member reader: its result and what it printed.
struct Read1 {
    MRCData d;
    int rc = 0;
    std::string out;
    Read1(int (MRCData::*reader)(const char*), const std::string& path) {
        out = captured([&] { rc = (d.*reader)(path.c_str()); });
    }
    // The same after writing the file with the given bytes.
    Read1(int (MRCData::*reader)(const char*), const std::string& path, const std::string& bytes)
        : Read1((spit(path, bytes), reader), path) {}
};

// The data sets a list reader gave (null list: -1 of them), with what it printed; freed at the end.
struct ReadSets {
    List* l = nullptr;
    std::string out;
    ReadSets(List* (*reader)(const char*), const std::string& path) {
        out = captured([&] { l = reader(path.c_str()); });
    }
    ~ReadSets() { freeDataList(l); }
    int n() const { return l ? l->count() : -1; }
    MRCData* operator[](int i) const { return static_cast<MRCData*>(objectAt(l, i)); }
};

// Runs a shell command; returns its exit status and fills out with stdout.
inline int runCommand(const std::string& cmd, std::string* out = nullptr) {
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) s.append(buf, n);
    int st = pclose(p);
    if (out) *out = s;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Runs f with its output captured while every write past `bytes` in a file fails (EFBIG), as on
// a full disk (root too); returns what f printed.
template <class F>
std::string capturedOnFullDisk(rlim_t bytes, F f) {
    struct rlimit old, r;
    getrlimit(RLIMIT_FSIZE, &old);
    r = {bytes, old.rlim_max};
    void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &r);
    std::string out = captured(f);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    return out;
}

// Names in a folder, without "." and "..".
inline std::vector<std::string> dirEntries(const std::string& path) {
    std::vector<std::string> out;
    DIR* d = opendir(path.c_str());
    while (struct dirent* e = d ? readdir(d) : nullptr)
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) out.push_back(e->d_name);
    if (d) closedir(d);
    return out;
}
