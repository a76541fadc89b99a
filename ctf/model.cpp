#include "ctf/model.h"

#include <math.h>

#include <cmath>
#include <cstdio>

#include "core/prefs.h"

static const char* const kDefaultSlot = " -1.568 1 0 0 1.084 1.57 0.8157 0.03466";
static const double kPi = 3.14159265358979323846;

float ctf_wavelength(float V) {
    return (float)(12.2639 / std::sqrt(V + 9.7845e-7 * (double)V * V));
}

void ctf_constants(float* lambda, float* Cs, float* Cc, float* V) {
    float volts = 1000.0f * getenvfd("voltage", 100.0f);
    if (lambda) *lambda = ctf_wavelength(volts);
    if (Cs) *Cs = 1e7f * getenvfd("spherab", 5.6f);
    if (Cc) *Cc = 1e7f * getenvfd("chromab", 1.8f);
    if (V) *V = volts;
}

CtfContext ctf_context(float kv, float csMM, float g, float ccMM) {
    CtfContext c;
    c.V = 1000.0f * kv;
    c.lambda = ctf_wavelength(c.V);
    c.Cs = 1e7f * csMM;
    c.Cc = 1e7f * ccMM;
    c.g = g;
    return c;
}

CtfContext ctf_context_prefs(float g) {
    CtfContext c;
    ctf_constants(&c.lambda, &c.Cs, &c.Cc, &c.V);
    c.g = g;
    return c;
}

double ctf_gamma(double s, double defocus, double lambda, double Cs) {
    double delta = 1e4 * defocus;
    double s2 = s * s;
    return -2 * kPi * (Cs * lambda * lambda * lambda * s2 * s2 / 4 + delta * lambda * s2 / 2);
}

double ctf_term(double s, double defocus, double A, double lambda, double Cs) {
    double g = ctf_gamma(s, defocus, lambda, Cs);
    // An amplitude contrast beyond 1 gives NaN: the fit rejects such a trial step.
    return std::sqrt(1 - A * A) * std::sin(g) + A * std::cos(g);
}

namespace {

double envelopeOf(double s, double width) {
    double t = kPi * s * width / 2;
    return std::exp(-t * t);
}

double background(double s, const float* p, double g) {
    return g * (p[4] * envelopeOf(s, p[5]) + p[6] * std::exp(-s / p[7]));
}

}  // namespace

float ctffn(float s, float* p, float lambda, float Cs, float g) {
    p[1] = std::fabs(p[1]);
    p[5] = std::fabs(p[5]);
    p[7] = std::fabs(p[7]);
    if (p[7] == 0) p[7] = 0.0001f;
    double c = ctf_term(s, p[0], p[3], lambda, Cs);
    double t = g * p[2] * envelopeOf(s, p[1]) * std::fabs(c);
    double b = background(s, p, g);
    return (float)(t * t + b * b);
}

void ctfbasis(float s, float* a, float* y, float* dyda, int /*na*/, const CtfContext& c) {
    static const float step[8] = {0.001f, 0.01f, 0.005f, 0.0005f, 0.001f, 0.1f, 0.002f, 0.001f};
    *y = ctffn(s, a + 1, c.lambda, c.Cs, c.g);
    for (int i = 1; i <= 8; i++) {
        float keep = a[i];
        a[i] += step[i - 1];
        float yi = ctffn(s, a + 1, c.lambda, c.Cs, c.g);
        dyda[i] = (yi - *y) / step[i - 1];
        a[i] = keep;
    }
}

float ctf_first_zero(float defocus, float lambda, float Cs) {
    double delta = 1e4 * (double)defocus;
    double inner = std::sqrt(2.0 * lambda * Cs + delta * delta) + delta;
    return (float)(std::sqrt(inner) / (std::sqrt((double)Cs) * lambda));
}

float ctf_defocus_for_zero(float s, float lambda, float Cs) {
    double s2 = (double)s * s;
    return (float)((0.5 * Cs * (double)lambda * lambda * s2 - 1.0 / (lambda * s2)) / 10000.0);
}

float ctf_instrument_envelope(float s, float defocus, const CtfInstrument& inst, float lambda, float Cs, float Cc,
                              float V) {
    double alpha = inst.spatialMrad / 1000.0;
    double dE = inst.temporalEv;
    double sigma = inst.lensPpm / 1e6;
    double dz = inst.vertA;
    double dxy = inst.horA > 0 ? inst.horA : 1e-30;
    double s2 = (double)s * s;
    // Spatial coherence: the defocus enters in Angstrom and with the sign it has in
    // gamma, so that Es follows the slope of the phase (Cs*lambda^2*s^3 + Delta*s).
    double es = kPi * alpha * (Cs * (double)lambda * lambda * s2 * s + 1e4 * (double)defocus * s);
    double Es = std::exp(-es * es);
    double et = Cc * lambda * dE / V * s2;
    double Et = std::exp(-kPi * kPi * et * et / (16 * std::log(2.0)));
    double el = Cc * lambda * sigma * s2;
    double El = std::exp(-kPi * kPi * el * el / (4 * std::log(2.0)));
    double Ev = ::j0(kPi * dz * lambda * s2);
    double x = kPi * s * dxy;
    double Eh = x == 0 ? 1.0 : std::sin(x) / x;
    return (float)(Es * Et * El * Ev * Eh);
}

void ctf_display_form(const float* s, int n, float* p, const CtfContext& ctx, bool ctfOn, const CtfInstrument* inst,
                      float* fit, float* markFreq, float* plotMin, float* plotMax) {
    if (!s || !fit) return;
    const float lambda = ctx.lambda, Cs = ctx.Cs, Cc = ctx.Cc, V = ctx.V;
    const double g = ctx.g;
    bool instrument = inst && inst->open && p[1] == 0;
    if (p[1] <= 0) p[1] = 0.01f;
    if (p[7] <= 0) p[7] = 0.0001f;
    float s1 = ctf_first_zero(p[0], lambda, Cs);
    if (markFreq) *markFreq = s1;
    for (int i = 0; i < n; i++) {
        double si = s[i];
        double c = ctfOn ? ctf_term(si, p[0], p[3], lambda, Cs) : 1.0;
        double t =
            instrument ? c * ctf_instrument_envelope(s[i], p[0], *inst, lambda, Cs, Cc, V) : envelopeOf(si, p[1]) * c;
        double v;
        if (p[2] >= 0) {
            double a = g * p[2] * std::fabs(t);
            double b = background(si, p, g);
            v = a * a + b * b;
        } else {
            v = t * g * -p[2];
        }
        fit[i] = (float)v;
        if (plotMax && fit[i] > *plotMax) *plotMax = fit[i];
        if (plotMin && fit[i] < *plotMin) *plotMin = fit[i];
    }
}

float ctf_chi(const float* fit, const float* y) {
    if (!fit || !y) return 0;
    double sum = 0;
    for (int i = 15; i < 200; i++) sum += ((double)fit[i] - y[i]) * ((double)fit[i] - y[i]);
    return (float)std::sqrt(sum);
}

const char* ctf_memory_text(int slot) {
    char key[16];
    std::snprintf(key, sizeof key, "livec%1d", slot);
    return getenv2d(key, kDefaultSlot);
}

int ctf_memory_store(int slot, const LC_pstate* p) {
    if (slot < 1 || slot > 3 || !p) return 0;
    char key[16], text[160];
    std::snprintf(key, sizeof key, "livec%1d", slot);
    std::snprintf(text, sizeof text, " %6.4g %6.4g %6.4g %6.4g %6.4g %6.4g %6.4g %6.4g", p->defocus, p->envelope,
                  p->ctfScale, p->ampContrast, p->gaussAmp, p->gaussWidth, p->expScale, p->expDecay);
    setenv2(key, text);
    saveenv2();
    return 1;
}

int ctf_memory_recall(int slot, LC_pstate* p) {
    if (slot < 1 || slot > 3 || !p) return 0;
    const char* text = ctf_memory_text(slot);
    // Fields a short text does not reach keep their values.
    std::sscanf(text ? text : kDefaultSlot, " %f %f %f %f %f %f %f %f", &p->defocus, &p->envelope, &p->ctfScale,
                &p->ampContrast, &p->gaussAmp, &p->gaussWidth, &p->expScale, &p->expDecay);
    saveenv2();
    return 1;
}
