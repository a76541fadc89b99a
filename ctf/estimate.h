// Batch CTF estimation of a micrograph: defocus, astigmatism and how far out
// the fit holds, from the average power spectrum of overlapping tiles.
#pragma once

#include <vector>

struct CtfEstimateParams {
    float pixel = 0;    // Angstrom per pixel
    float kv = 100;     // accelerating voltage, kV
    float csMM = 5.6f;  // spherical aberration, mm
    float ac = 0.07f;   // amplitude contrast, fraction
};

struct CtfEstimate {
    float defocus = 0;                 // mean, micrometres, negative = underfocus
    float defocusU = 0, defocusV = 0;  // the more and the less underfocused direction
    float astigAngle = 0;              // direction of defocusU in degrees 0..180, from +x toward +y
    float resolution = 0;              // Angstrom: how far out the fit agrees with the spectrum
    float score = 0;                   // correlation of model and spectrum over the fitted band
    int tile = 0;                      // tile size used
    const char* why = nullptr;         // the reason when no estimate could be made
    // For the plot: the background-subtracted spectrum averaged along rings of
    // equal phase, the fitted model, at s (1/Angstrom); the model's zeros.
    std::vector<float> s, profile, model, zeros;
};

// Tile size for an nx by ny micrograph; 0 when it is too small.
int ctf_tile_size(int nx, int ny);

// Average power spectrum of tiles of T by T pixels overlapping by a quarter, each
// with its mean removed and its edges tapered: T rows of T/2+1 values, row
// k + T/2 and column h holding frequency (h, k) in units of 1/(T pixels).
std::vector<float> ctf_tile_spectrum(const float* img, int nx, int ny, int T);

// Estimates the CTF of an nx by ny image; 1 with *out filled, or 0 with out->why set.
int ctf_estimate(const float* img, int nx, int ny, const CtfEstimateParams& p, CtfEstimate* out);
