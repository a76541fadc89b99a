#include "wav/wavelet.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

Wavelet::Wavelet(const FilterSet* set)
    : analysisLow(&set->analysisLow),
      analysisHigh(&set->analysisHigh),
      synthesisLow(&set->synthesisLow),
      synthesisHigh(&set->synthesisHigh),
      symmetric(set->symmetric),
      npad(std::max(set->analysisLow.size, set->analysisHigh.size)) {}

void Wavelet::periodic_extension(float* x, int n) {
    if (n <= 0) return;
    // Wrapped modulo n so that signals shorter than the pad (deep levels of the
    // longer banks) still see their own period instead of unfilled pad samples.
    for (int j = 0; j < npad; j++) {
        int k = (j - npad) % n;
        if (k < 0) k += n;
        x[j] = x[npad + k];
    }
    for (int j = npad + n; j < 2 * npad + n; j++) x[j] = x[npad + (j - npad) % n];
}

void Wavelet::symmetric_extension(float* x, int n, int lp, int rp, int s) {
    int total = 2 * npad + n;
    int first = npad, last = npad + n - 1;
    if (s == -1) {
        if (lp == 1) x[--first] = 0;
        if (rp == 1) x[++last] = 0;
    }
    int F = first, L = last, m = L - F;
    if (lp == 2) {
        first--;
        x[first] = s * x[F];
    }
    if (rp == 2) {
        last++;
        x[last] = s * x[L];
    }
    int nl = std::min(m - 1, first);
    for (int i = 0; i < nl; i++) {
        first--;
        x[first] = s * x[F + 1 + i];
    }
    int T = 2 * (m + 1) - (lp == 1 ? 1 : 0) - (rp == 1 ? 1 : 0);
    // A period of 0 (a one-sample signal mirrored about itself) is constant.
    while (first > 0) {
        first--;
        x[first] = T > 0 ? x[first + T] : x[first + 1];
    }
    int nr = std::min(total - (last + 1), m - 1);
    for (int i = 0; i < nr; i++) {
        last++;
        x[last] = s * x[L - 1 - i];
    }
    while (last < total - 1) {
        last++;
        x[last] = T > 0 ? x[last - T] : x[last - 1];
    }
}

void Wavelet::transform_step(float* in, float* out, int n, int sym) {
    int p = (analysisLow->size % 2) ? 1 : 2;
    if (sym)
        symmetric_extension(in, n, p, p, 1);
    else
        periodic_extension(in, n);
    int h = (n + 1) / 2;
    const Filter& lo = *analysisLow;
    const Filter& hi = *analysisHigh;
    for (int i = 0; i < h; i++) {
        const float* src = in + npad + 2 * i + lo.firstIndex;
        float sum = 0;
        for (int j = 0; j < lo.size; j++) sum += src[j] * lo.coeff[j];
        out[npad + i] = sum;
    }
    for (int k = 0; k < n - h; k++) {
        const float* src = in + npad + 2 * k + hi.firstIndex;
        float sum = 0;
        for (int j = 0; j < hi.size; j++) sum += src[j] * hi.coeff[j];
        out[npad + h + k] = sum;
    }
}

namespace {
// out[npad + 2i + first + j] += work[npad + i] * coeff[j] over the i range that touches the signal.
void accumulate(const Filter& f, const float* work, float* out, int npad, int n) {
    int lo = (1 - f.size - f.firstIndex) / 2;
    int hi = (n - f.firstIndex - 1) / 2;
    for (int i = lo; i <= hi; i++) {
        float v = work[npad + i];
        float* dst = out + npad + 2 * i + f.firstIndex;
        for (int j = 0; j < f.size; j++) dst[j] += v * f.coeff[j];
    }
}
}  // namespace

void Wavelet::invert_step(float* in, float* out, int n, int sym) {
    int h = (n + 1) / 2;
    int p = (analysisLow->size % 2) ? 1 : 2;
    std::vector<float> work(2 * npad + n);
    std::memcpy(work.data() + npad, in + npad, sizeof(float) * h);
    if (sym)
        symmetric_extension(work.data(), h, p, (n % 2) ? 1 : 2, 1);
    else
        periodic_extension(work.data(), h);
    std::fill(out, out + 2 * npad + n, 0.0f);
    accumulate(*synthesisLow, work.data(), out, npad, n);

    int nh = n / 2;
    std::memcpy(work.data() + npad, in + npad + h, sizeof(float) * nh);
    if (sym) {
        if (analysisLow->size % 2)
            symmetric_extension(work.data(), nh, 2, (n % 2) ? 2 : 1, 1);
        else
            symmetric_extension(work.data(), nh, 2, (n % 2) ? 1 : 2, -1);
    } else {
        periodic_extension(work.data(), nh);
    }
    accumulate(*synthesisHigh, work.data(), out, npad, n);
}

int Wavelet::levelsFit(int width, int height, int levels, int sym) {
    if (!sym) return 1;
    int w = width, h = height;
    for (int l = 0; l < levels; l++) {
        if (w <= 2 || h <= 2) {
            // The caller's data is untouched: the command abandons, the program goes on.
            std::printf("Warning: Reduce # of transform steps or increase signal size\n");
            std::printf("Warning:   or switch to periodic extension\n");
            std::printf("Error: Low pass subband is too small\n");
            return 0;
        }
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    return 1;
}

int Wavelet::transform2d(const float* in, float* out, int width, int height, int levels, int sym) {
    if (sym < 0) sym = symmetric;
    if (width <= 0 || height <= 0) return 0;
    if (!levelsFit(width, height, levels, sym)) return 0;
    if (in != out) std::memcpy(out, in, sizeof(float) * (size_t)width * height);
    int maxn = std::max(width, height);
    std::vector<float> a(2 * npad + maxn), b(2 * npad + maxn);
    int w = width, h = height;
    for (int l = 0; l < levels; l++) {
        for (int r = 0; r < h; r++) {
            float* row = out + (size_t)r * width;
            std::memcpy(a.data() + npad, row, sizeof(float) * w);
            transform_step(a.data(), b.data(), w, sym);
            std::memcpy(row, b.data() + npad, sizeof(float) * w);
        }
        for (int c = 0; c < w; c++) {
            for (int r = 0; r < h; r++) a[npad + r] = out[(size_t)r * width + c];
            transform_step(a.data(), b.data(), h, sym);
            for (int r = 0; r < h; r++) out[(size_t)r * width + c] = b[npad + r];
        }
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
    return 1;
}

int Wavelet::invert2d(const float* in, float* out, int width, int height, int levels, int sym) {
    if (sym < 0) sym = symmetric;
    if (width <= 0 || height <= 0) return 0;
    if (levels < 0) levels = 0;
    // The inverse meets the same subband sizes as the forward transform it undoes.
    if (!levelsFit(width, height, levels, sym)) return 0;
    if (in != out) std::memcpy(out, in, sizeof(float) * (size_t)width * height);
    std::vector<int> wl(levels), wh(levels), hl(levels), hh(levels);
    int w = width, h = height;
    for (int l = 0; l < levels; l++) {
        wl[l] = (w + 1) / 2;
        wh[l] = w / 2;
        hl[l] = (h + 1) / 2;
        hh[l] = h / 2;
        w = wl[l];
        h = hl[l];
    }
    int maxn = std::max(width, height);
    std::vector<float> a(2 * npad + maxn), b(2 * npad + maxn);
    for (int l = levels - 1; l >= 0; l--) {
        int cw = wl[l] + wh[l], ch = hl[l] + hh[l];
        for (int c = 0; c < cw; c++) {
            for (int r = 0; r < ch; r++) a[npad + r] = out[(size_t)r * width + c];
            invert_step(a.data(), b.data(), ch, sym);
            for (int r = 0; r < ch; r++) out[(size_t)r * width + c] = b[npad + r];
        }
        for (int r = 0; r < ch; r++) {
            float* row = out + (size_t)r * width;
            std::memcpy(a.data() + npad, row, sizeof(float) * cw);
            invert_step(a.data(), b.data(), cw, sym);
            std::memcpy(row, b.data() + npad, sizeof(float) * cw);
        }
    }
    return 1;
}

int dwt_levels(int nx, int ny, int levels) {
    int maxl;
    if (ny < nx)
        maxl = (int)std::floor(std::log2((double)ny) + 0.5);
    else
        maxl = (int)std::floor(std::log2((double)nx) + 0.5) - 1;
    if (levels > 0 && levels < maxl) return levels;
    return maxl > 0 ? maxl : 0;
}

void wav_filt(int width, int height, float* data, int level, int levels, const float* gains) {
    for (; level < levels; level++) {
        int w = width >> level, hh = height >> level;
        if (level >= 31 || w == 0 || hh == 0) {
            std::printf("Too many wavelet filter levels\n");
            return;
        }
        // Ten gain sliders: deeper levels share the last one.
        float g = gains[std::min(level, 9)];
        if (g == 1.2f) g = 100000.0f;
        int qw = w / 2, qh = hh / 2;
        int org[4][2] = {{qh, 0}, {0, qw}, {qh, qw}, {0, 0}};
        int nq = (level == levels - 1) ? 4 : 3;
        for (int q = 0; q < nq; q++) {
            double sum = 0, sumsq = 0;
            for (int r = 0; r < qh; r++) {
                const float* row = data + (size_t)(org[q][0] + r) * width + org[q][1];
                for (int c = 0; c < qw; c++) {
                    sum += row[c];
                    sumsq += (double)row[c] * row[c];
                }
            }
            double scale = 4.0 / ((double)w * hh);
            double mean = sum * scale, msq = sumsq * scale;
            // Rounding can make the variance a hair negative; that must not turn into NaN.
            float sigma = (float)std::sqrt(std::max(0.0, msq - mean * mean));
            float T = g * sigma * std::sqrt(2.0f * std::log((float)w) / std::log(2.0f));
            float T2 = T * T;
            for (int r = 0; r < qh; r++) {
                float* row = data + (size_t)(org[q][0] + r) * width + org[q][1];
                for (int c = 0; c < qw; c++) {
                    float v = row[c];
                    if (std::fabs(v) >= T) {
                        float m = std::sqrt(std::max(0.0f, v * v - T2));
                        row[c] = v < 0 ? -m : m;
                    } else {
                        row[c] = 0;
                    }
                }
            }
        }
    }
}
