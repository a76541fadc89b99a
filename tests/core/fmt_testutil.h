// Shared helpers of the format tests: files as bytes, patterns.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "tests/core/tempdir.h"

// Kept apart from testutil.h: these helpers work on byte vectors.
namespace fmtt {

inline std::string dataFile(const std::string& rel) {
    return std::string(TARVIK_TEST_DATA) + "/" + rel;
}

inline std::vector<unsigned char> slurp(const std::string& f) {
    std::ifstream in(f, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void spit(const std::string& f, const std::vector<unsigned char>& b) {
    std::ofstream out(f, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), (std::streamsize)b.size());
}
inline void spit(const std::string& f, const std::string& s) {
    spit(f, std::vector<unsigned char>(s.begin(), s.end()));
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

// Runs f with standard output captured; returns what it printed.
template <class F>
std::string captured(F f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

}  // namespace fmtt
