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
