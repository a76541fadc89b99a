// Correlation and alignment of real images.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "core/MRCData.h"
#include "core/prefs.h"
#include "fft/ifftsubs.h"

namespace {

constexpr int kWin = 61;

struct Peak {
    int ip, jp;    // window indices of the largest value
    float ci, cj;  // centroid in window indices
};

// Cuts the 61 by 61 window starting at (x0, x0) with wrap-around, finds the
// largest value over indices 3..56 and the centroid of the 7 by 7 block
// around it, weighted by the value less the smallest one.
Peak locatePeak(MRCData* C, int x0, bool negate) {
    float W[kWin][kWin];  // the caller's own: alignments may run in several threads
    const int nx = C->xSize(), ny = C->ySize();
    const float* d = C->getRealData();
    for (int i = 0; i < kWin; i++) {
        const long x = (((long)x0 + i) % nx + nx) % nx;
        for (int j = 0; j < kWin; j++) {
            const long y = (((long)x0 + j) % ny + ny) % ny;
            float v = d[y * nx + x];
            W[i][j] = negate ? -v : v;
        }
    }
    int ip = 3, jp = 3;
    float mx = W[3][3], mn = W[3][3];
    for (int i = 3; i <= 56; i++)
        for (int j = 3; j <= 56; j++) {
            if (W[i][j] > mx) {
                mx = W[i][j];
                ip = i;
                jp = j;
            }
            if (W[i][j] < mn) mn = W[i][j];
        }
    double sw = 0, si = 0, sj = 0;
    for (int i = ip - 3; i <= ip + 3; i++)
        for (int j = jp - 3; j <= jp + 3; j++) {
            const double w = W[i][j] - mn;
            sw += w;
            si += i * w;
            sj += j * w;
        }
    // A flat window has no centroid: the peak index stands for it.
    if (sw > 0) return {ip, jp, (float)(si / sw), (float)(sj / sw)};
    return {ip, jp, (float)ip, (float)jp};
}

}  // namespace

// A data set whose mean and deviation are both 0 has only zero pairs; its
// normalisation constant is then taken as 1 so that the CCF comes out 0
// instead of 0/0.
MRCData* MRCData::calcCCF(MRCData* other) {
    if (other && (other->nx != nx || other->ny != ny)) {
        std::printf("CCF: Images must be the same size.\n");
        return nullptr;
    }
    MRCData* F = doFFT(1);
    if (!F) return nullptr;
    MRCData* G = F;
    if (other) {
        G = other->doFFT(1);
        if (!G) {
            delete F;
            return nullptr;
        }
    }
    const float P = (float)(nx + 2) * ny;
    float K = other ? (std::fabs(Mean()) + Sigma()) * (std::fabs(other->Mean()) + other->Sigma()) * P * P
                    : (Mean() + Sigma()) * (Mean() + Sigma()) * P * P;
    if (K == 0 || !std::isfinite(K)) K = 1;
    float* f = F->getRealData();
    const float* g = G->getRealData();
    const long N = (long)F->xSize() * F->ySize();
    for (long i = 0; i < N; i += 2) {
        const float fr = f[i], fi = f[i + 1], gr = g[i], gi = other ? -g[i + 1] : g[i + 1];
        f[i] = (fr * gr - fi * gi) / K;
        f[i + 1] = (fr * gi + fi * gr) / K;
    }
    if (G != F) delete G;
    MRCData* C = F->doIFT(1);
    delete F;
    if (!C) return nullptr;
    C->setName("CCF");
    C->setFile("/tmp/tarvik.ccf");
    return C;
}

MRCData::Shift MRCData::ACFcenter(int mode) {
    MRCData* C = calcCCF(nullptr);
    if (!C) return {0, 0};
    std::printf("Center: ");
    const bool neg = C->Max() - C->Mean() < C->Mean() - C->Min();
    if (neg) std::printf("negative peak, ");
    Peak p = locatePeak(C, -31, neg);
    delete C;
    std::printf("%d,%d  ", p.ip - 30, p.jp - 30);
    Shift s = {-0.5f * (p.ci - 30), -0.5f * (p.cj - 30)};
    if (mode == 1) {
        s.dx -= nx / 2 - 0.5f;
        s.dy -= ny / 2 - 0.5f;
    }
    return s;
}

MRCData::Shift MRCData::align(MRCData* other, int sign) {
    sign = std::max(-1, std::min(1, sign));
    if (!other) return {0, 0};
    if (other->nx != nx || other->ny != ny) {
        std::printf("Align: Images must be the same size.\n");
        return {0, 0};
    }
    MRCData* C = calcCCF(other);
    if (!C) return {0, 0};
    std::printf("Align: ");
    if (sign == 0) {
        std::printf("%5.3f,%5.3f,%5.3f\t", C->Max(), C->Mean(), C->Min());
        if (C->Max() - C->Mean() < C->Mean() - C->Min()) {
            std::printf("negative CCF, ");
            sign = -1;
        } else {
            std::printf("positive CCF, ");
            sign = 1;
        }
    }
    Peak p = locatePeak(C, -30, sign != 1);
    delete C;
    return {p.ci - 30, p.cj - 30};
}

int MRCData::rcfRings(float cx, float cy) const {
    const int rmax = nx / 2 - 10;
    const float s = std::max(std::fabs(cx), std::fabs(cy));
    int n = 0;
    for (int r = 12; r < rmax - s; r += 6) n++;
    return n;
}

// Rings that do not fit (radius 12 already reaches the border) leave nothing
// to correlate: that is reported and the angle is 0.
float MRCData::calcRCF(MRCData* other, float cx, float cy) {
    if (!other) {
        std::printf("Need a data set to align with!\n");
        return 0;
    }
    if (!rcfRings(cx, cy)) {
        std::printf("RCF: No ring fits inside the image\n");
        return 0;
    }
    constexpr int N = 1440;
    const int rmax = nx / 2 - 10;
    const float s = std::max(std::fabs(cx), std::fabs(cy));
    std::vector<float> acc(N, 0.0f), ra(2 * N), rb(2 * N), fa(N + 2), fb(N + 2);
    float K = 2073600.0f * (std::fabs(Mean()) + Sigma()) * (std::fabs(other->Mean()) + other->Sigma());
    if (K == 0 || !std::isfinite(K)) K = 1;
    for (int r = 12; r < rmax - s; r += 6) {
        calcRDist(ra.data(), N, r, 0, 0);
        other->calcRDist(rb.data(), N, r, cx, cy);
        std::copy(ra.begin() + N, ra.end(), fa.begin());
        std::copy(rb.begin() + N, rb.end(), fb.begin());
        int n = N, one = 1, fwd = 0, back = 1;
        odfft(fa.data(), &n, &one, &fwd);
        odfft(fb.data(), &n, &one, &fwd);
        for (int k = 0; k < N + 2; k += 2) {
            const float ar = fa[k], ai = fa[k + 1], br = fb[k], bi = fb[k + 1];
            fa[k] = ar * br + ai * bi;
            fa[k + 1] = ai * br - ar * bi;
        }
        odfft(fa.data(), &n, &one, &back);
        for (int j = 0; j < N; j++) acc[j] += fa[j] * r / K;
    }
    std::vector<float> ang(N);
    std::rotate(acc.begin(), acc.begin() + N / 2, acc.end());
    const float amin = *std::min_element(acc.begin(), acc.end());
    for (int i = 0; i < N; i++) {
        acc[i] -= amin;
        ang[i] = (float)(-M_PI + i * 2 * M_PI / N);
    }
    save_data(ang.data(), acc.data(), N, "test.rcf.dat");
    int pk = 4;
    for (int i = 5; i <= N - 5; i++)
        if (acc[i] > acc[pk]) pk = i;
    std::printf("Max at %d, %g, %g\n", pk, ang[pk] * 180 / M_PI, acc[pk]);
    double sa = 0, sw = 0;
    for (int i = pk - 2; i <= pk + 2; i++) {
        sa += (double)acc[i] * ang[i];
        sw += acc[i];
    }
    const float t = sw > 0 ? (float)(sa / sw) : ang[pk];
    std::printf("Max at %g\n", -t * 180 / M_PI);
    return -t;
}

MRCData* MRCData::rotateAndTranslate(float angle, float dx, float dy, int inPlace) {
    std::printf("Rot/Trans %f,%f %f\n", dx, dy, angle);
    MRCData* o = new MRCData(this);
    o->resizeData((size_t)nx * ny);
    o->setSizes(nx, ny, 1);
    const float th = (float)(M_PI * angle / 180), c = std::cos(th), s = std::sin(th);
    const float cx = (nx - 1) / 2.0f, cy = (ny - 1) / 2.0f, m = Mean();
    const float* src = data.data();
    float* d = o->getRealData();
    for (long y = 0; y < ny; y++)
        for (long x = 0; x < nx; x++) {
            const float u = x - cx, v = y - cy;
            const float sx = cx + u * c + v * s - dx, sy = cy + v * c - u * s - dy;
            float val = m;
            if (sx >= 0 && sx <= nx - 1 && sy >= 0 && sy <= ny - 1) {
                const long ix = (long)std::floor(sx), iy = (long)std::floor(sy);
                const float fx = sx - ix, fy = sy - iy;
                const long ix1 = ix + 1 < nx ? ix + 1 : 0, iy1 = iy + 1 < ny ? iy + 1 : 0;
                val = (1 - fx) * (1 - fy) * src[iy * nx + ix] + fx * (1 - fy) * src[iy * nx + ix1] +
                      (1 - fx) * fy * src[iy1 * nx + ix] + fx * fy * src[iy1 * nx + ix1];
            }
            d[y * nx + x] = val;
        }
    if (!inPlace) {
        o->update();
        return o;
    }
    std::copy(d, d + (size_t)nx * ny, data.data());
    delete o;
    return nullptr;
}

void MRCData::subData(MRCData* other) {
    if (!other) return;
    if (other->nx != nx || other->ny != ny) {
        std::printf("Images must be the same size\n");
        return;
    }
    float* a = data.data();
    const float* b = other->getRealData();
    const long N = (long)nx * ny * std::min(nz, other->nz);
    if (isComplex()) {
        for (long i = 0; i + 1 < N; i += 2) {
            const float re = a[i] * std::cos(a[i + 1]) - b[i] * std::cos(b[i + 1]);
            const float im = a[i] * std::sin(a[i + 1]) - b[i] * std::sin(b[i + 1]);
            a[i] = std::sqrt(re * re + im * im);
            a[i + 1] = std::atan2(im, re);
        }
    } else {
        for (long i = 0; i < N; i++) a[i] -= b[i];
    }
    update();
}
