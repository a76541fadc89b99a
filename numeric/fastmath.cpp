#include "numeric/fastmath.h"

#include <cmath>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

typedef float v8 __attribute__((vector_size(16)));
typedef int v8i __attribute__((vector_size(16)));

inline v8 bc(float f) {
    return (v8){f, f, f, f};
}

inline v8 vsqrt(v8 x) {
#ifdef __SSE2__
    return (v8)_mm_sqrt_ps((__m128)x);
#else
    for (int i = 0; i < 4; i++) x[i] = std::sqrt(x[i]);
    return x;
#endif
}

inline v8 sel(v8i m, v8 a, v8 b) {
    return (v8)(((v8i)a & m) | ((v8i)b & ~m));
}

// Four atan2 at once, the same steps as atan2Core below, with bitwise selects.
inline v8 atan2v(v8 y, v8 x) {
    const v8 zero = bc(0);
    const v8i sign = (v8i){} + (int)0x80000000;
    const v8 ax = (v8)((v8i)x & ~sign), ay = (v8)((v8i)y & ~sign);
    const v8i yx = ay > ax;
    const v8 mx = sel(yx, ay, ax), mn = sel(yx, ax, ay);
    // One division: u = mn/mx, or (mn - mx)/(mn + mx) above tan(pi/8).
    const v8i big = mn > bc(0.41421356f) * mx;
    const v8 num = sel(big, mn - mx, mn), den = sel(big, mn + mx, mx);
    const v8 u = num / sel(den > zero, den, bc(1));
    const v8 z = u * u;
    v8 r = ((((bc(8.05374449538e-2f) * z - bc(1.38776856032e-1f)) * z + bc(1.99777106478e-1f)) * z -
             bc(3.33329491539e-1f)) *
            z) *
               u +
           u;
    r += (v8)(big & (v8i)bc(0.78539816339744831f));
    r = sel(yx, bc(1.57079632679489662f) - r, r);
    r = sel(x < zero, bc(3.14159265358979324f) - r, r);
    return (v8)(((v8i)r & ~sign) | ((v8i)y & sign));
}

inline float atan2Core(float y, float x) {
    const float ax = std::fabs(x), ay = std::fabs(y);
    const float mx = ax > ay ? ax : ay, mn = ax > ay ? ay : ax;
    const float t = mx > 0 ? mn / mx : 0.0f;
    // Reduce to |u| <= tan(pi/8) and use the odd polynomial of single-precision atan.
    const bool big = t > 0.41421356f;
    const float u = big ? (t - 1.0f) / (t + 1.0f) : t;
    const float z = u * u;
    float r =
        ((((8.05374449538e-2f * z - 1.38776856032e-1f) * z + 1.99777106478e-1f) * z - 3.33329491539e-1f) * z) * u + u;
    r += big ? 0.78539816339744831f : 0.0f;
    r = ay > ax ? 1.57079632679489662f - r : r;
    r = x < 0 ? 3.14159265358979324f - r : r;
    return std::copysign(r, y);
}

}  // namespace

float fast_atan2(float y, float x) {
    return atan2Core(y, x);
}

void toAmpPhase(float* a, long n) {
    long i = 0;
    for (; i + 4 <= n; i += 4) {
        float* p = a + 2 * i;
        v8 re, im;
        for (int k = 0; k < 4; k++) {
            re[k] = p[2 * k];
            im[k] = p[2 * k + 1];
        }
        const v8 amp = vsqrt(re * re + im * im), ph = atan2v(im, re);
        for (int k = 0; k < 4; k++) {
            p[2 * k] = amp[k];
            p[2 * k + 1] = ph[k];
        }
    }
    for (; i < n; i++) {
        const float re = a[2 * i], im = a[2 * i + 1];
        a[2 * i] = std::sqrt(re * re + im * im);
        a[2 * i + 1] = atan2Core(im, re);
    }
}

void ampPhaseBlocks(float* blk, long n) {
    for (long j = 0; j < n; j++, blk += 16) {
        for (int h = 0; h < 8; h += 4) {
            v8 re, im;
            std::memcpy(&re, blk + h, 16);
            std::memcpy(&im, blk + 8 + h, 16);
            const v8 amp = vsqrt(re * re + im * im), ph = atan2v(im, re);
            std::memcpy(blk + h, &amp, 16);
            std::memcpy(blk + 8 + h, &ph, 16);
        }
    }
}

void toReIm(float* a, long n) {
    for (long i = 0; i < n; i++) {
        const float amp = a[2 * i], ph = a[2 * i + 1];
        a[2 * i] = amp * std::cos(ph);
        a[2 * i + 1] = amp * std::sin(ph);
    }
}
