// The CTF model: fitting form, numeric derivatives, display form, first-zero
// relation and the three parameter memory slots of the preference store.
#pragma once

#include "core/pstate.h"

// Electron wavelength in Angstrom for an accelerating voltage in volts.
float ctf_wavelength(float volts);
// Microscope constants from the preference store ("voltage" kV, "spherab" and
// "chromab" mm): wavelength and Cs, Cc in Angstrom, V in volts.
void ctf_constants(float* lambda, float* Cs, float* Cc = nullptr, float* V = nullptr);

// What one evaluation of the model needs besides its eight parameters.
struct CtfContext {
    float lambda = 0;   // electron wavelength (Angstrom)
    float Cs = 0;       // spherical aberration (Angstrom)
    float g = 1;        // overall scale (the live window's bgScale: twice the mean profile level over samples 60..199)
    float Cc = 1.8e7f;  // chromatic aberration (Angstrom), instrument envelope only
    float V = 1e5f;     // accelerating voltage (volts), instrument envelope only
};
// Context for a voltage in kV and aberrations in mm.
CtfContext ctf_context(float kv, float csMM, float g, float ccMM = 1.8f);
// Context with the microscope constants of the preference store.
CtfContext ctf_context_prefs(float g);

// Phase shift gamma(s) for a defocus in micrometres, and the CTF term
// sqrt(1 - A^2) sin(gamma) + A cos(gamma) for amplitude contrast A.
double ctf_gamma(double s, double defocus, double lambda, double Cs);
double ctf_term(double s, double defocus, double A, double lambda, double Cs);

// Fitting form at s for p[0..7] with overall scale g; makes p[1], p[5], p[7]
// non-negative and an expDecay of exactly 0 into 0.0001.
float ctffn(float s, float* p, float lambda, float Cs, float g);
// The fit's model function: a[1..8] are fields 0..7; y and forward-difference dyda[1..8].
void ctfbasis(float s, float* a, float* y, float* dyda, int na, const CtfContext& c);

// First zero s1 (1/Angstrom) of a defocus in micrometres, and the defocus putting it at s.
float ctf_first_zero(float defocus, float lambda, float Cs);
float ctf_defocus_for_zero(float s, float lambda, float Cs);

// Instrument envelope panel values; used when `open` and the envelope is exactly 0.
struct CtfInstrument {
    bool open = false;
    float spatialMrad = 0;  // "Spatial Coher. (mrad)"
    float temporalEv = 0;   // "Temporal Coher. (eV)"
    float lensPpm = 0;      // "Obj Lens Stab. (ppm)"
    float vertA = 0;        // "Vert Displacement (A)"
    float horA = 0;         // "Hor Displacement (A)"
};
// Product Es*Et*El*Ev*Eh of the instrument envelope at s (Eh is 1 at s = 0).
float ctf_instrument_envelope(float s, float defocus, const CtfInstrument& inst, float lambda, float Cs, float Cc,
                              float V);

// Display form for n abscissae s[]: fixes p (envelope <= 0 -> 0.01, expDecay <= 0 ->
// 0.0001), sets *markFreq to the first zero, writes fit[] and widens [*plotMin, *plotMax].
// ctfOn is the window's "CTF" toggle; inst may be null (panel closed).
void ctf_display_form(const float* s, int n, float* p, const CtfContext& c, bool ctfOn, const CtfInstrument* inst,
                      float* fit, float* markFreq, float* plotMin, float* plotMax);

// The window's "Chi:" figure: sqrt(sum over i = 15..199 of (fit[i] - y[i])^2), unweighted.
float ctf_chi(const float* fit, const float* y);

// Memory slots 1..3 (preference keys "livec1".."livec3"): fields 0..7 as text.
// Both save the preference file. 0 for a slot outside 1..3.
int ctf_memory_store(int slot, const LC_pstate* p);
int ctf_memory_recall(int slot, LC_pstate* p);
// Text of a slot, the default text when it was never stored.
const char* ctf_memory_text(int slot);
