#include "core/boxcut.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/MRCData.h"

int fitBox(int* x0, int* y0, int w, int h, int nx, int ny) {
    if (w < 1 || h < 1 || w > nx || h > ny) return 0;
    if (*x0 > nx - w) *x0 = nx - w;
    if (*y0 > ny - h) *y0 = ny - h;
    if (*x0 < 0) *x0 = 0;
    if (*y0 < 0) *y0 = 0;
    return 1;
}

int cutRect(MRCData* src, float* dest, int x0, int y0, int width, int height) {
    if (src->isComplex() || !fitBox(&x0, &y0, width, height, src->xSize(), src->ySize())) return 0;
    return src->extractReal(dest, x0, y0, width, height);
}

// Samples only where all four neighbours lie inside the image, so nothing is
// read outside it whatever the end points are.
int MRCData::extractRealFila(float* dest, int x0, int y0, int x1, int y1, int width, int length) {
    const float* d = getRealData();
    const double a = std::atan2((double)y1 - y0, (double)x1 - x0), s = std::sin(a), c = std::cos(a);
    const float m = Mean();
    for (int j = 0; j < length; j++)
        for (int i = 0; i < width; i++) {
            const int u = i - width / 2;
            const double px = x0 + u * s + j * c, py = y0 - u * c + j * s;
            const double fx = std::floor(px), fy = std::floor(py);
            float v = m;
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

int cutFilament(MRCData* src, float* dest, int x0, int y0, int x1, int y1, int width, int length) {
    if (src->isComplex() || width < 1 || length < 1) return 0;
    return src->extractRealFila(dest, x0, y0, x1, y1, width, length);
}

int filamentLength(int x0, int y0, int x1, int y1) {
    double dx = std::abs((double)x1 - x0) + 1.0, dy = std::abs((double)y1 - y0) + 1.0;
    return (int)std::floor(std::sqrt(dx * dx + dy * dy));
}

void filamentEnd(int x0, int y0, int* x1, int* y1, int length) {
    const double dx = (double)*x1 - x0, dy = (double)*y1 - y0;
    const double D = std::sqrt((std::fabs(dx) + 1) * (std::fabs(dx) + 1) + (std::fabs(dy) + 1) * (std::fabs(dy) + 1));
    *x1 = (int)(x0 + length * dx / D);
    *y1 = (int)(y0 + length * dy / D);
}

std::string clipFileName(const char* file, int n) {
    std::string base = file;
    if (base.size() >= 4 && base[base.size() - 4] == '.') base.erase(base.size() - 4);
    char num[16];
    std::snprintf(num, sizeof num, "_%03d.img", n);
    return base + num;
}
