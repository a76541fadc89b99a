#include "ctf/merge.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/MRCData.h"
#include "numeric/fradius.h"

namespace {
void copy8(const float* p, float* q) {
    std::copy(p, p + 8, q);
}
}  // namespace

void ctf_signed_table(const float* s, const float* p, float g, const CtfInstrument* inst, float* ctf) {
    float q[8];
    copy8(p, q);
    q[2] = -p[2];
    q[4] = q[6] = 0;
    ctf_display_form(s, kCtfSamples, q, ctf_context_prefs(g), true, inst, ctf, nullptr, nullptr, nullptr);
}

void ctf_noise_table(const float* s, const float* p, float g, float* noise) {
    float q[8];
    copy8(p, q);
    q[2] = 0;
    ctf_display_form(s, kCtfSamples, q, ctf_context_prefs(g), true, nullptr, noise, nullptr, nullptr, nullptr);
}

void ctf_target_table(const float* s, const float* p, float lowpass, float g, float* filt) {
    float q[8];
    copy8(p, q);
    q[1] = lowpass;
    q[4] = q[6] = 0;
    ctf_display_form(s, kCtfSamples, q, ctf_context_prefs(g), false, nullptr, filt, nullptr, nullptr, nullptr);
    for (int i = 0; i < kCtfSamples; i++) filt[i] = std::sqrt(std::max(0.0f, filt[i]));
}

int ctf_radial_index(float rho, const float* r) {
    float step = r[1] - r[0];
    if (!(step != 0)) return 0;
    float t = (rho - r[0]) / step;
    if (!(t > 0)) return 0;
    return t >= kCtfSamples - 1 ? kCtfSamples - 1 : (int)t;
}

long ctf_fix_phases(MRCData* d, const float* ctf, const float* r) {
    if (!d || !d->isComplex()) return -1;
    const int nx = d->xSize(), ny = d->ySize();
    const float xs = fourier_xscale(nx - 2, ny);
    const float pi = 3.1415927f;
    float* a = d->getRealData();
    long flipped = 0;
    for (int j = 0; j < ny; j++)
        for (int k = 0; k < nx / 2; k++) {
            if (!(ctf[ctf_radial_index(fourier_radius(k, j - ny / 2, xs), r)] < 0)) continue;
            float& ph = a[(long)j * nx + 2 * k + 1];
            ph = ph < 0 ? ph + pi : ph - pi;
            flipped++;
        }
    d->update();
    return flipped;
}

const char* merge_refusal(MRCData* const* d, int n) {
    for (int k = 0; k < n; k++)
        if (!d[k] || !d[k]->isComplex()) return "The data sets must be Fourier transforms.";
    for (int k = 1; k < n; k++)
        if (d[k]->xSize() != d[0]->xSize() || d[k]->ySize() != d[0]->ySize())
            return "The data sets must be of the same size.";
    return nullptr;
}

float merge_snr(int n, const MergeImage* im, float* const* w, int i) {
    double sig = 0, noi = 0;
    for (int k = 0; k < n; k++) {
        sig += (double)w[k][i] * im[k].ctf[i];
        noi += (double)w[k][i] * w[k][i] * im[k].noise[i];
    }
    return noi > 0 ? (float)(sig * sig / noi) : 0.0f;
}

namespace {
// Signal intensity of one image with its CTF divided out; 0 where the CTF is.
double signalOf(const MergeImage& m, int i) {
    double c2 = (double)m.ctf[i] * m.ctf[i];
    return c2 > 0 ? (m.data[i] - m.noise[i]) / c2 : 0;
}

// The signal-estimate mode (t == 0) at sample i; m and c are the pair's
// running sum and count of the estimates. The triple takes the mean of
// sqrt(S_k) over the images with a signal (1e-6 when none has one) and enters
// it into norm and the weights as the pair does.
float signalEstimate(int n, const MergeImage* im, const float* filt, int i, float snr, double& m, double& c,
                     float* const* w, float* norm) {
    double S[3], a;
    int pos = 0;
    for (int k = 0; k < n; k++) pos += (S[k] = signalOf(im[k], i)) > 0;
    if (n == 3 && pos == 0) {
        a = 1e-6;  // no image has a signal here: the sample is all but dropped
    } else if (n == 2 && (snr < 0.05f || pos == 0)) {
        a = m / c;
    } else if (n == 2 && pos == 2) {
        double c1 = (double)im[0].ctf[i] * im[0].ctf[i], c2 = (double)im[1].ctf[i] * im[1].ctf[i];
        a = std::sqrt((S[0] * c1 + S[1] * c2) / (c1 + c2));
        m += a;
        c += 1;
    } else {
        // One image alone (pair), or the mean over the images that have a signal (triple).
        double sum = 0;
        for (int k = 0; k < n; k++)
            if (S[k] > 0) sum += std::sqrt(S[k]);
        a = sum / pos;
    }
    double sumc = 0;
    for (int k = 0; k < n; k++) sumc += std::fabs(im[k].ctf[i]);
    double nm = sumc / a;
    if (!(nm > 0)) nm = 0.01;
    norm[i] = (float)(filt[i] / nm);
    for (int k = 0; k < n; k++) w[k][i] = im[k].data[i] > 0 ? (float)(im[k].ctf[i] / std::sqrt(im[k].data[i])) : 0;
    return (float)a;
}
}  // namespace

float merge_weights(int n, const MergeImage* im, const float* filt, float t, float* const* w, float* norm, float* snr) {
    double m = 1e-6, c = 1e-6;
    float a = 1;
    for (int i = 0; i < kCtfSamples; i++) {
        // w_k = ctf_k x the product of the other images' noise; norm makes
        // (sum w_k ctf_k) x norm equal to the target.
        double den = 0;
        for (int k = 0; k < n; k++) {
            double others = 1;
            for (int j = 0; j < n; j++)
                if (j != k) others *= im[j].noise[i];
            w[k][i] = (float)(im[k].ctf[i] * others);
            den += (double)im[k].ctf[i] * im[k].ctf[i] * others;
        }
        if (!(den > 0)) den = 0.01;
        norm[i] = (float)(filt[i] / den);
        snr[i] = merge_snr(n, im, w, i);
        if (t == 0) {
            a = signalEstimate(n, im, filt, i, snr[i], m, c, w, norm);
        } else if (t < 0 && snr[i] < -t && i > 0) {
            norm[i] = norm[i - 1];
            if (n == 2)
                for (int k = 0; k < n; k++) w[k][i] = w[k][i - 1];
        } else if (t > 0 && snr[i] < t) {
            norm[i] = 0;
        }
    }
    return a;
}

MRCData* merge_transforms(int n, MRCData* const* d, float* const* w, const float* norm, const float* r, int shape) {
    const int nx = d[shape]->xSize(), ny = d[shape]->ySize();
    const float xs = fourier_xscale(nx - 2, ny);
    std::vector<float> out((size_t)nx * ny);
    for (int j = 0; j < ny; j++)
        for (int k = 0; k < nx / 2; k++) {
            int idx = ctf_radial_index(fourier_radius(k, j - ny / 2, xs), r);
            size_t o = (size_t)j * nx + 2 * k;
            double re = 0, im = 0;
            for (int q = 0; q < n; q++) {
                const float* p = d[q]->getRealData() + o;
                re += w[q][idx] * p[0] * std::cos(p[1]);
                im += w[q][idx] * p[0] * std::sin(p[1]);
            }
            out[o] = (float)(std::sqrt(re * re + im * im) * norm[idx]);
            out[o + 1] = (float)std::atan2(im, re);
        }
    MRCData* M = new MRCData(d[shape]);
    M->setComplData(out.data(), nx, ny, 1);
    return M;
}
