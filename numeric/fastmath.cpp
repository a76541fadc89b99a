#include "numeric/fastmath.h"

#include <cmath>

namespace {

inline float atan2Core(float y, float x) {
    const float ax = std::fabs(x), ay = std::fabs(y);
    const float mx = ax > ay ? ax : ay, mn = ax > ay ? ay : ax;
    const float t = mx > 0 ? mn / mx : 0.0f;
    // Reduce to |u| <= tan(pi/8) and use the odd polynomial of single-precision atan.
    const bool big = t > 0.41421356f;
    const float u = big ? (t - 1.0f) / (t + 1.0f) : t;
    const float z = u * u;
    float r = ((((8.05374449538e-2f * z - 1.38776856032e-1f) * z + 1.99777106478e-1f) * z - 3.33329491539e-1f) * z) * u + u;
    r += big ? 0.78539816339744831f : 0.0f;
    r = ay > ax ? 1.57079632679489662f - r : r;
    r = x < 0 ? 3.14159265358979324f - r : r;
    return std::copysign(r, y);
}

}  // namespace

float fast_atan2(float y, float x) { return atan2Core(y, x); }

void toAmpPhase(float* a, long n) {
    for (long i = 0; i < n; i++) {
        const float re = a[2 * i], im = a[2 * i + 1];
        a[2 * i] = std::sqrt(re * re + im * im);
        a[2 * i + 1] = atan2Core(im, re);
    }
}

void toReIm(float* a, long n) {
    for (long i = 0; i < n; i++) {
        const float amp = a[2 * i], ph = a[2 * i + 1];
        a[2 * i] = amp * std::cos(ph);
        a[2 * i + 1] = amp * std::sin(ph);
    }
}
