// The arithmetic behind the CTF menu: radial tables of the model at the live
// window's abscissae, phase flipping, and the weights of the defocus merges.
// No display here: the commands pass the window's state in.
#pragma once

#include "ctf/model.h"

class MRCData;

constexpr int kCtfSamples = 200;

// Tables at the abscissae s[0..199] (1/Angstrom) with the overall scale g, for
// the eight parameters p[0..7]; p itself is not changed.
// Signed CTF: g x ctfScale x E(s) x c(s) with its sign, no background.
void ctf_signed_table(const float* s, const float* p, float g, const CtfInstrument* inst, float* ctf);
// Background power B(s)^2 (the model with ctfScale 0).
void ctf_noise_table(const float* s, const float* p, float g, float* noise);
// Target transfer function of a merge: g x ctfScale x exp(-(pi s lowpass / 2)^2).
void ctf_target_table(const float* s, const float* p, float lowpass, float g, float* filt);

// Pixel radius -> table index: trunc((rho - r[0]) / (r[1] - r[0])), within 0..199.
int ctf_radial_index(float rho, const float* r);

// Flips the phase of every pair whose Fourier radius falls in a band where
// ctf < 0; r[] are the pixel radii of the bands. Returns the pairs flipped,
// -1 for data that is not a transform.
long ctf_fix_phases(MRCData* d, const float* ctf, const float* r);

// Why a set of data sets cannot be merged (not transforms, unequal sizes), or null.
const char* merge_refusal(MRCData* const* d, int n);

// One image of a merge: its radial profile, signed CTF and noise power.
struct MergeImage {
    const float* data;
    const float* ctf;
    const float* noise;
};
// snr = (sum w_k ctf_k)^2 / (sum w_k^2 noise_k) at sample i.
float merge_snr(int n, const MergeImage* im, float* const* w, int i);
// Weights w[k][i], normalisation norm[i] and expected snr[i] of a merge of
// n = 2 or 3 images towards the target filt, with threshold t: t < 0 repeats
// the previous sample where snr < -t (the pair merge its weights too; sample 0
// keeps its own), t > 0 zeroes norm where snr < t, t == 0 is the
// signal-estimate mode. Returns the last amplitude estimate of that mode (1
// otherwise).
float merge_weights(int n, const MergeImage* im, const float* filt, float t, float* const* w, float* norm, float* snr);
// The merged transform: sum_k w_k F_k scaled by norm, each pair looked up by
// its Fourier radius in r[]; sizes and identity from d[shape]. The inputs
// must pass merge_refusal.
MRCData* merge_transforms(int n, MRCData* const* d, float* const* w, const float* norm, const float* r, int shape);
