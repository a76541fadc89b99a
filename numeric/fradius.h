// The Fourier radius every radial operation measures: pair (h, k) of the
// transform of an nx x ny image lies at sqrt(k^2 + (h ny/nx)^2), in steps of
// the y frequency 1/ny (cycles per pixel). So a radius r always means the
// spatial frequency r / (ny x pixel size), along x as along y; on square
// images it is sqrt(k^2 + h^2).
#pragma once

#include <cmath>

// Scale of h for an image of nx x ny real pixels (1 exactly when square).
inline float fourier_xscale(int nx, int ny) {
    return nx == ny || nx <= 0 ? 1.0f : (float)ny / (float)nx;
}
inline float fourier_radius(int h, int k, float xscale) {
    float hs = (float)h * xscale;
    return std::sqrt((float)(k * k) + hs * hs);
}

// Ends a profile of n bins summed with weights W: P becomes the weighted mean;
// empty bins linear between the last filled bin and the next non-empty one,
// the last value held past the last non-empty bin.
inline void radial_profile_finish(const float* W, float* P, int n) {
    for (int i = 0; i < n; i++)
        if (W[i] > 0) P[i] /= W[i];
    for (int i = 1; i < n; i++) {
        if (W[i] != 0) continue;
        int j = i + 1;
        while (j < n && W[j] == 0) j++;
        P[i] = j < n ? (P[i - 1] * (j - i) + P[j]) / (j - i + 1) : P[i - 1];
    }
}
