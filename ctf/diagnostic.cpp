#include "ctf/diagnostic.h"

#include <algorithm>
#include <cmath>

#include "ctf/ctf2d.h"

int ctf_diagnostic(const CtfSpectrum& sp, const CtfEstimate& e, const CtfEstimateParams& p, std::vector<float>* out) {
    const int T = sp.T, half = T / 2;
    if (T < 2 || T % 2 || sp.ps.size() != (size_t)T * (half + 1) || sp.bg.size() < 2 || !(sp.pixel > 0)) return 0;
    out->assign((size_t)T * T, 0.5f);
    // The data: power over background less 1, and its mean square on each ring.
    const int nr = (int)sp.bg.size();
    std::vector<float> dev(sp.ps.size(), 0.0f);
    std::vector<double> ms(nr, 0.0), cnt(nr, 0.0);
    for (int k = -half; k < half; k++)
        for (int h = 0; h <= half; h++) {
            const int r = (int)std::lround(std::hypot((double)h, (double)k));
            if (r >= nr || !(sp.bg[r] > 0)) continue;
            const size_t i = (size_t)(k + half) * (half + 1) + h;
            dev[i] = (float)(sp.ps[i] / sp.bg[r] - 1);
            ms[r] += (double)dev[i] * dev[i];
            cnt[r] += 1;
        }
    // Rings of amplitude A around the background have a mean square of A^2 / 2:
    // dev / sqrt(2 ms) is then 2 CTF^2 - 1.
    std::vector<double> scale(nr, 0.0);
    for (int r = 0; r < nr; r++)
        if (cnt[r] > 0 && ms[r] > 0) scale[r] = 1 / std::sqrt(2 * ms[r] / cnt[r]);
    const Ctf2d c = ctf2d_from(e, p);
    const double f = 1.0 / (T * (double)sp.pixel);
    for (int y = 0; y < T; y++) {
        const int k = y - half;
        float* row = &(*out)[(size_t)y * T];
        for (int x = 0; x < half; x++) {
            // Left of the centre: the Friedel mate (-h, -k) of the stored half plane.
            const int h = half - x, km = k == -half ? -half : -k;
            const int r = (int)std::lround(std::hypot((double)h, (double)km));
            if (r >= nr || !(scale[r] > 0) || !(sp.bg[r] > 0)) continue;
            const double v = 0.5 * (1 + dev[(size_t)(km + half) * (half + 1) + h] * scale[r]);
            row[x] = (float)std::clamp(v, 0.0, 1.0);
        }
        for (int x = half; x < T; x++) {
            const double t = ctf2d_value(c, (x - half) * f, k * f);
            row[x] = (float)(t * t);
        }
    }
    return 1;
}
