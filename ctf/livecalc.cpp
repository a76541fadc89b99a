#include "ctf/livecalc.h"

#include <cmath>

#include "ctf/model.h"

ProfileFigures live_profile_figures(const float* y, float* lastScale) {
    ProfileFigures f;
    f.yMin = f.yMax = y[1];
    for (int i = 1; i < 200; i++) {
        if (y[i] < f.yMin) f.yMin = y[i];
        if (y[i] > f.yMax) f.yMax = y[i];
    }
    f.yMaxHigh = y[8];
    for (int i = 8; i < 200; i++)
        if (y[i] > f.yMaxHigh) f.yMaxHigh = y[i];
    double sum = 0;
    for (int i = 60; i < 200; i++) sum += y[i];
    f.bgScale = (float)(2 * sum / 140);
    // Profiles of one micrograph's pieces stay on the scale of the first.
    if (*lastScale != 0 && f.bgScale != 0 && std::fabs((*lastScale - f.bgScale) / f.bgScale) <= 0.5f)
        f.bgScale = *lastScale;
    else
        *lastScale = f.bgScale;
    return f;
}

float smooth_parm(int n, int k) {
    double h = n / 2.0, sum = 0;
    for (int j = -n; j <= n; j++) sum += std::exp(-(j * j) / (h * h));
    return (float)(std::exp(-(k * k) / (h * h)) / sum);
}

void smooth_data(int n, int count, const float* in, float* out) {
    float w[2 * 64 + 1];
    if (n > 64) n = 64;
    for (int k = -n; k <= n; k++) w[k + n] = smooth_parm(n, k);
    for (int i = 0; i < count; i++) {
        double v = 0;
        for (int k = -n; k <= n; k++) {
            int j = i + k;
            if (j < 0 || j >= count) j = i - k;
            if (j < 0 || j >= count) j = i;  // wider than the data: stay put
            v += w[k + n] * in[j];
        }
        out[i] = (float)v;
    }
}

void live_ratio(const float* y, const float* background, const float* ctfTerm, float ctfScale, float* ratio) {
    for (int i = 0; i < 200; i++) {
        bool weak = !(ctfScale > 0) || !(ctfTerm[i] / ctfScale >= 0.02f) || ctfTerm[i] == 0;
        ratio[i] = weak ? 1.0f : (y[i] - background[i]) / ctfTerm[i];
    }
}

void live_snr_table(const float* plotted, const float* background, float* out) {
    for (int i = 0; i < 200; i++) {
        float d = plotted[i] - background[i];
        if (d < 0) d = 0;
        float b = background[i] <= 0 ? 0.0001f : background[i];
        out[i] = d / b;
    }
}

bool live_seed_background(const float* x, const float* y, float* p, const CtfContext& ctx) {
    const double pi = 3.14159265358979323846, decay = p[7] > 0 ? p[7] : 0.0001;
    // Columns g G(s) and g X(s) against sqrt(y): the 2 x 2 normal equations.
    double gg = 0, gx = 0, xx = 0, gy = 0, xy = 0;
    for (int i = 10; i < 200; i++) {
        if (!(y[i] > 0)) continue;
        const double G = ctx.g * std::exp(-std::pow(pi * x[i] * p[5] / 2, 2)), X = ctx.g * std::exp(-x[i] / decay);
        const double r = std::sqrt((double)y[i]);
        gg += G * G, gx += G * X, xx += X * X, gy += G * r, xy += X * r;
    }
    const double det = gg * xx - gx * gx;
    double a = det > 0 ? (gy * xx - xy * gx) / det : -1, e = det > 0 ? (xy * gg - gy * gx) / det : -1;
    // One term alone when the pair wants a negative amplitude.
    if (!(a >= 0 && e >= 0)) {
        const bool gaussOnly = gg > 0 && (xx <= 0 || gy * gy / gg >= xy * xy / xx);
        a = gaussOnly ? gy / gg : 0;
        e = gaussOnly ? 0 : (xx > 0 ? xy / xx : 0);
    }
    if (!(a >= 0 && e >= 0 && a + e > 0) || !std::isfinite(a + e)) return false;
    // Neither term quite gone: the width or decay of one of amplitude 0 would have
    // no effect at all, and a fit that varies it no unique solution.
    p[4] = (float)std::max(a, 0.05 * e);
    p[6] = (float)std::max(e, 0.05 * a);
    return true;
}

float live_seed_scale(const float* x, const float* y, const float* p, const CtfContext& ctx) {
    const double pi = 3.14159265358979323846, env = p[1] > 0 ? p[1] : 0.01;
    double c[200];
    for (int i = 0; i < 200; i++) c[i] = ctf_term(x[i], p[0], p[3], ctx.lambda, ctx.Cs);
    int zeros = 0;
    double yHi = 0, yLo = 0, mHi = 0, mLo = 0, nHi = 0, nLo = 0;
    for (int i = 2; i < 200 && zeros < 4; i++) {
        if ((c[i - 1] < 0) != (c[i] < 0)) zeros++;
        if (zeros == 0 || zeros == 4) continue;
        const double m = std::pow(ctx.g * std::exp(-std::pow(pi * x[i] * env / 2, 2)) * c[i], 2);
        if (c[i] * c[i] > 0.5)
            yHi += y[i], mHi += m, nHi++;
        else
            yLo += y[i], mLo += m, nLo++;
    }
    if (!(nHi > 0 && nLo > 0)) return 0.0f;
    const double dy = yHi / nHi - yLo / nLo, dm = mHi / nHi - mLo / nLo;
    return dm > 0 && dy > 0 ? (float)std::sqrt(dy / dm) : 0.0f;
}
