// Resampling by cropping or padding the Fourier transform: binning without
// aliasing, as refinement programs shrink their particles.
#pragma once

#include <vector>

// Resamples a real nx by ny image (rows of nx floats) to mx by my by keeping the
// frequencies both sizes share (zeros beyond, when growing); the mean value is
// kept. Every size must be a valid transform size (isvalidfft); 0 otherwise.
// periodic: resamples only the periodic component of the image (its periodic
// plus smooth decomposition), so that a jump between opposite edges (a dark
// blob on one edge, ice on the other) does not ring across the result; the
// smooth rest, a slow field set by the edges, is left out. Re-entrant.
int fourier_resize(const float* src, int nx, int ny, int mx, int my, std::vector<float>* out, bool periodic = false);

// The row of an uncentred transform (todfft direction 0) that holds the
// frequency k of a transform with ny rows, and the frequency of a row.
inline int fft_row_of(int k, int ny) { return k < 0 ? k + ny : k; }
inline int fft_freq_of(int row, int ny) { return row <= ny / 2 ? row : row - ny; }
