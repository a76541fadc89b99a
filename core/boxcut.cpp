#include "core/boxcut.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/MRCData.h"

int cutRect(MRCData* src, float* dest, int x0, int y0, int width, int height) {
    const int nx = src->xSize(), ny = src->ySize();
    if (src->isComplex() || width < 1 || height < 1 || width > nx || height > ny) return 0;
    // Same rectangle rules as the workbench's cuts.
    return src->extractReal(dest, x0, y0, width, height);
}

int cutFilament(MRCData* src, float* dest, int x0, int y0, int x1, int y1, int width, int length) {
    if (src->isComplex() || width < 1 || length < 1) return 0;
    const int nx = src->xSize(), ny = src->ySize();
    const float* d = src->getRealData();
    const double a = std::atan2((double)(y1 - y0), (double)(x1 - x0)), s = std::sin(a), c = std::cos(a);
    const float mean = src->Mean();
    for (int j = 0; j < length; j++)
        for (int i = 0; i < width; i++) {
            const int u = i - width / 2;
            const double px = x0 + u * s + j * c, py = y0 - u * c + j * s;
            const double fx = std::floor(px), fy = std::floor(py);
            float v = mean;
            if (fx >= 0 && fx < nx - 1 && fy >= 0 && fy < ny - 1) {
                const int ix = (int)fx, iy = (int)fy;
                const double tx = px - fx, ty = py - fy;
                const float* p = d + (size_t)iy * nx + ix;
                v = (float)((1 - ty) * ((1 - tx) * p[0] + tx * p[1]) + ty * ((1 - tx) * p[nx] + tx * p[nx + 1]));
            }
            dest[(size_t)j * width + i] = v;
        }
    return 1;
}

int filamentLength(int x0, int y0, int x1, int y1) {
    double dx = std::abs(x1 - x0) + 1.0, dy = std::abs(y1 - y0) + 1.0;
    return (int)std::floor(std::sqrt(dx * dx + dy * dy));
}

std::string clipFileName(const char* file, int n) {
    std::string base = file;
    if (base.size() >= 4 && base[base.size() - 4] == '.') base.erase(base.size() - 4);
    char num[16];
    std::snprintf(num, sizeof num, "_%03d.img", n);
    return base + num;
}
