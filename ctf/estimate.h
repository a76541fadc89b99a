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
    float resolution = 0;              // Angstrom: where the rings end (ctf_rings_end)
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

// What an estimate was made from: the averaged power spectrum (laid out as
// ctf_tile_spectrum's, T by T) and its smooth background at radii of whole
// Fourier pixels, for the 2-D diagnostic.
struct CtfSpectrum {
    int T = 0;
    float pixel = 0;  // Angstrom per pixel of the image
    std::vector<float> ps;
    std::vector<double> bg;
};

// Estimates the CTF of an nx by ny image; 1 with *out filled, or 0 with out->why
// set. With keep, on success, the spectrum and background it used. Re-entrant.
int ctf_estimate(const float* img, int nx, int ny, const CtfEstimateParams& p, CtfEstimate* out,
                 CtfSpectrum* keep = nullptr);
// The same from an averaged power spectrum of T by T pixels (T even, at least 256).
int ctf_estimate_spectrum(std::vector<float> ps, int T, const CtfEstimateParams& p, CtfEstimate* out,
                          CtfSpectrum* keep = nullptr);
// The same from a square Fourier transform (amplitude and phase pairs, rows
// centred): its own power spectrum, unaveraged.
int ctf_estimate_transform(const float* pairs, int nx, int ny, const CtfEstimateParams& p, CtfEstimate* out,
                           CtfSpectrum* keep = nullptr);

// The correlation of spectrum and model below which the rings count as ended.
// 0.5: a correlation r = sqrt(q / (1 + q)) for rings whose variance in a profile
// sample is q times the noise's, so here the rings hold a quarter of what the
// profile varies by; well above what noise alone reaches over a window of a few
// rings, and the level at which the eye gives the rings up.
constexpr double kCtfRingsEndCorrelation = 0.5;
// Where the Thon rings end (1/Angstrom): along a background-subtracted profile
// prof at s[] and its fitted model, the Pearson correlation over windows of
// three ring periods (zeros[z] to zeros[z+3], widened to at least 12 samples),
// one ring apart, from the first zero outwards; then the falling curve nearest
// to these correlations (least squares, weighted by samples), so that a noisy
// window neither ends the rings early nor carries them on; the rings end where
// that curve falls below kCtfRingsEndCorrelation, interpolated between window
// centres. zeros[0] when even the first window is below; the end of the last
// window when none is.
double ctf_rings_end(const std::vector<float>& s, const std::vector<float>& prof, const std::vector<float>& model,
                     const std::vector<float>& zeros);
