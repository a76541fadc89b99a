// Rendering of data sets into pixel buffers: one geometry for every pixel
// format, nearest-neighbour sampling with fixed-point stepping for fractional zooms.
#include "numeric/render.h"

#include <cmath>
#include <cstdio>

#include "core/MRCData.h"

namespace {

const float kPi = 3.1415927f;
const int kUnit = 100000;  // fixed-point unit of the fractional step

// Walks the screen rows bottom-up and the columns left to right, calling
// put(line, col, r, c) for screen column col of the line of screen row row
// with data column c and data row r. colLimit stops a row at that data column.
template <bool Whole, class Put>
void walk(const RenderGeometry& g, unsigned char* buffer, int bytesPerLine, int colLimit, int ySize, Put put) {
    const int W = g.wholePart, F = g.frac;
    int r = g.yOff, racc = 10;
    for (int row = g.bottomRow; row >= g.topRow; row--) {
        if (r >= ySize) break;
        unsigned char* line = buffer + (size_t)row * bytesPerLine;
        int c = g.xOff, cacc = 10;
        for (int col = g.firstCol; col < g.lastCol; col++) {
            if (c >= colLimit) break;
            put(line, col, r, c);
            c += W;
            if (!Whole) {
                cacc += F;
                if (cacc > kUnit) {
                    cacc -= kUnit;
                    c++;
                }
            }
        }
        r += W;
        if (!Whole) {
            racc += F;
            if (racc > kUnit) {
                racc -= kUnit;
                r++;
            }
        }
    }
}

// Samples the data set at (c, r) as the picture shows it: real data directly,
// complex data as the full centred spectrum built from the Hermitian half.
struct Sampler {
    const float* d;
    int X, Y;
    bool cplx;
    // Amplitude (first of pair) and phase (second, negated for Friedel mates).
    inline void at(int r, int c, float& amp, float& pha) const {
        if (!cplx) {
            amp = pha = d[(size_t)r * X + c];
            return;
        }
        if (c < X / 2) {
            const float* p = d + (size_t)(Y - 1 - r) * X + 2 * (X / 2 - 1 - c);
            amp = p[0];
            pha = -p[1];
        } else {
            int rr = r == Y - 1 ? 0 : r + 1;
            const float* p = d + (size_t)rr * X + 2 * (c - X / 2 + 1);
            amp = p[0];
            pha = p[1];
        }
    }
};

struct Grey {
    float rmin, rmax, scale;
    int lo, hi;
    inline int operator()(float v) const {
        if (v <= rmin) return lo;
        if (v >= rmax) return hi;
        return lo + (int)((v - rmin) * scale);
    }
};

struct Phase {
    float k;
    int lo, hi;
    inline int operator()(float p) const {
        if (p <= -kPi) return lo;
        if (p >= kPi) return hi;
        return lo + (int)((p + kPi) * k);
    }
};

// Drives walk() with the whole-number or fractional loop.
template <class Put>
void render(const RenderGeometry& g, unsigned char* buffer, int bytesPerLine, int colLimit, int ySize, Put put) {
    if (g.whole)
        walk<true>(g, buffer, bytesPerLine, colLimit, ySize, put);
    else
        walk<false>(g, buffer, bytesPerLine, colLimit, ySize, put);
}

}  // namespace

RenderGeometry renderGeometry(int xSize, int ySize, int xOff, int yOff, int width, int height, float zoom) {
    RenderGeometry g;
    // A zoom that is not a positive number, or so small that the stepping
    // would overflow, draws nothing.
    if (!(zoom >= 1e-6f) || !(zoom <= 1e6f)) {
        g = RenderGeometry{1, 1, 1, 0, 0, 0, 0, 0, -1, 0};
        return g;
    }
    float step = 1.0f / zoom;
    g.step = step;
    g.wholePart = (int)std::floor(step);
    g.whole = step == (float)g.wholePart;
    g.frac = g.whole ? 0 : (int)((step - g.wholePart) * kUnit);
    g.bottomRow = height - 1;
    g.topRow = ySize < height * step ? height - (int)(ySize / step) : 0;
    g.firstCol = 0;
    g.lastCol = width;
    if (xOff < 0) {
        g.firstCol = (int)(-xOff / step);
        g.lastCol = width - (int)std::floor(xOff / step);
        xOff = 0;
    }
    if (xSize - xOff < step * (g.lastCol - g.firstCol)) g.lastCol = (int)((xSize - xOff) / step) + g.firstCol;
    if (yOff < 0) {
        g.bottomRow = (int)(yOff / step + height - 1);
        g.topRow += (int)std::floor(yOff / step);
        yOff = 0;
    }
    if (g.firstCol < 0) g.firstCol = 0;
    if (g.topRow < 0) g.topRow = 0;
    if (g.lastCol > width) g.lastCol = width;
    // The buffer has height rows: the bottom row can be no lower than height - 1.
    if (g.bottomRow > height - 1) g.bottomRow = height - 1;
    g.xOff = xOff;
    g.yOff = yOff;
    return g;
}

static Grey greyFor(MRCData* d, int lo, int hi) {
    if (d->RenMin() == d->RenMax()) d->setRenMinMax(d->RenMin(), d->RenMax() - 0.01f);
    Grey g;
    g.rmin = d->RenMin();
    g.rmax = d->RenMax();
    g.lo = lo;
    g.hi = hi;
    // A reversed range has no values between its ends; they would give lo.
    g.scale = g.rmax < g.rmin ? 0.0f : (float)(hi - lo) / (g.rmax - g.rmin);
    return g;
}

static Phase phaseFor(MRCData* d, int lo, int hi) {
    if (d->RenMin() == d->RenMax()) d->setRenMinMax(d->RenMin(), d->RenMax() + 0.001f);
    Phase p;
    p.lo = lo;
    p.hi = hi;
    p.k = (float)(hi - lo) / (2 * kPi);
    return p;
}

int MRCData::renderAmp8(unsigned char* buffer, int xOff, int yOff, int width, int height, int bytesPerLine, float zoom,
                        int lo, int hi) {
    const Grey grey = greyFor(this, lo, hi);
    const Sampler s{getRealData(), xSize(), ySize(), isComplex() != 0};
    const int colLimit = s.cplx ? s.X - 2 : s.X;
    RenderGeometry g = renderGeometry(xSize(), ySize(), xOff, yOff, width, height, zoom);
    if (!s.cplx) {
        const float* d = s.d;
        const int X = s.X;
        render(g, buffer, bytesPerLine, colLimit, s.Y, [&](unsigned char* line, int col, int r, int c) {
            line[col] = (unsigned char)grey(d[(size_t)r * X + c]);
        });
    } else {
        render(g, buffer, bytesPerLine, colLimit, s.Y, [&](unsigned char* line, int col, int r, int c) {
            float a, p;
            s.at(r, c, a, p);
            line[col] = (unsigned char)grey(a);
        });
    }
    return 1;
}

int MRCData::renderPha8(unsigned char* buffer, int xOff, int yOff, int width, int height, int bytesPerLine, float zoom,
                        int lo, int hi) {
    if (!isComplex()) return renderAmp8(buffer, xOff, yOff, width, height, bytesPerLine, zoom, lo, hi);
    const Phase ph = phaseFor(this, lo, hi);
    const Sampler s{getRealData(), xSize(), ySize(), true};
    RenderGeometry g = renderGeometry(xSize(), ySize(), xOff, yOff, width, height, zoom);
    render(g, buffer, bytesPerLine, s.X - 2, s.Y, [&](unsigned char* line, int col, int r, int c) {
        float a, p;
        s.at(r, c, a, p);
        line[col] = (unsigned char)ph(p);
    });
    return 1;
}

int MRCData::renderAmpTC(unsigned char* buffer, int xOff, int yOff, int width, int height, int bytesPerLine, float zoom,
                         int redBits, int greenBits) {
    if (redBits == 6) std::printf("Strange visual with 6 bits!\n");
    const int bpp = redBits <= 6 ? 2 : 3;
    const int top = (1 << redBits) - 1;
    // Level 0..top through the same grey mapping; the three fields get the same level.
    const Grey grey = greyFor(this, 0, top);
    const Sampler s{getRealData(), xSize(), ySize(), isComplex() != 0};
    RenderGeometry g = renderGeometry(xSize(), ySize(), xOff, yOff, width, height, zoom);
    const int gb = greenBits, rg = redBits + greenBits;
    render(g, buffer, bytesPerLine, s.cplx ? s.X - 2 : s.X, s.Y, [&](unsigned char* line, int col, int r, int c) {
        float a, p;
        s.at(r, c, a, p);
        uint32_t L = (uint32_t)grey(a);
        uint32_t P = L + (L << gb) + (L << rg);
        unsigned char* q = line + (size_t)col * bpp;
        if (bpp == 2) {
            q[0] = (unsigned char)P;
            q[1] = (unsigned char)(P >> 8);
        } else {
            q[0] = (unsigned char)(P >> 16);
            q[1] = (unsigned char)(P >> 8);
            q[2] = (unsigned char)P;
        }
    });
    return 1;
}

int MRCData::renderLUT(unsigned char* buffer, int xOff, int yOff, int width, int height, int bytesPerLine, float zoom,
                       const uint32_t* lut, int bytesPerPixel, int msbFirst, int phase) {
    if (bytesPerPixel < 1) bytesPerPixel = 1;
    if (bytesPerPixel > 4) bytesPerPixel = 4;
    const bool cplx = isComplex() != 0;
    const bool usePhase = cplx && phase;
    Grey grey{};
    Phase ph{};
    if (usePhase)
        ph = phaseFor(this, 0, 255);
    else
        grey = greyFor(this, 0, 255);
    const Sampler s{getRealData(), xSize(), ySize(), cplx};
    RenderGeometry g = renderGeometry(xSize(), ySize(), xOff, yOff, width, height, zoom);
    const int bpp = bytesPerPixel;
    render(g, buffer, bytesPerLine, cplx ? s.X - 2 : s.X, s.Y, [&](unsigned char* line, int col, int r, int c) {
        float a, p;
        s.at(r, c, a, p);
        int level = usePhase ? ph(p) : grey(a);
        storePixel(line + (size_t)col * bpp, lut[level], bpp, msbFirst);
    });
    return 1;
}
