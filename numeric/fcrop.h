// Resampling by cropping or padding the Fourier transform: binning without
// aliasing, as refinement programs shrink their particles.
#pragma once

#include <vector>

// Resamples a real nx by ny image (rows of nx floats) to mx by my by keeping the
// frequencies both sizes share (zeros beyond, when growing); the mean value is
// kept. Every size must be a valid transform size (isvalidfft); 0 otherwise.
// Re-entrant.
int fourier_resize(const float* src, int nx, int ny, int mx, int my, std::vector<float>* out);

// The row of an uncentred transform (todfft direction 0) that holds the
// frequency k of a transform with ny rows, and the frequency of a row.
inline int fft_row_of(int k, int ny) { return k < 0 ? k + ny : k; }
inline int fft_freq_of(int row, int ny) { return row <= ny / 2 ? row : row - ny; }
