// The astigmatic CTF in two dimensions, in the conventions of the batch
// estimate: defocus U and V in micrometres, negative for underfocus, U the
// more underfocused direction at `angle` degrees from the x (column) axis
// toward +y (row index). Its sign is that of the workbench's CTF term,
// positive at zero frequency for a positive amplitude contrast.
#pragma once

#include <string>
#include <vector>

#include "ctf/estimate.h"

class MRCData;

struct Ctf2d {
    double defocusU = 0, defocusV = 0;  // micrometres, negative = underfocus
    double angle = 0;                   // degrees
    double kv = 300, csMM = 2.7, ac = 0.1;
};

// From a batch estimate and the microscope values it was made with.
Ctf2d ctf2d_from(const CtfEstimate& e, const CtfEstimateParams& p);
// Defocus (micrometres) along direction theta (radians, from +x toward +y).
double ctf2d_defocus(const Ctf2d& c, double theta);
// The CTF at spatial frequency (sx, sy), 1/Angstrom.
double ctf2d_value(const Ctf2d& c, double sx, double sy);

// The spatial frequency (1/Angstrom) of the z-th zero (z = 1, 2, ...) of the CTF
// along direction theta (radians, from +x toward +y); 0 when it has none.
double ctf2d_zero(const Ctf2d& c, double theta, int z);

// The frequency at which the CTF of the mean defocus (U + V) / 2 has the phase
// that frequency s has along direction theta: where a ring at (s, theta) lies
// once the astigmatism is taken out. s itself when there is none.
double ctf2d_equiphase(const Ctf2d& c, double s, double theta);
// The live window's radial profile of the transform F (calcDist(0, ...)'s 200
// radii in pixels, then 200 mean powers) with every pair moved to its radius of
// equal phase at the mean defocus, so that the rings of an astigmatic CTF show
// as sharp as a round one's. 0 for a real F or a pixel size that is not positive.
int ctf2d_profile(const MRCData& F, const Ctf2d& c, float* out);

// The same from an estimate's averaged spectrum, at abscissae s_i = i step
// (1/Angstrom), i = 0..199: out[i] the mean power of the pairs whose radius of
// equal phase falls there (shared linearly, as ctf2d_profile). 0 when sp holds none.
int ctf2d_spectrum_profile(const CtfSpectrum& sp, const Ctf2d& c, double step, float* out);

// Multiplies the transform of a real nx by ny image (rows of nx floats, pixel
// in Angstrom) by the sign of the CTF. Sizes that are no valid transform size
// are padded with the image's edge mean to the next valid one and cut back.
// 0 for an empty image or a pixel size that is not positive. Re-entrant.
int ctf2d_flip(float* img, int nx, int ny, double pixel, const Ctf2d& c);

// The sign (+1 or -1) of the CTF at every value of the transform of an nx by
// ny image as todfft lays it out (ny rows of nx/2 + 1 values, row r holding
// frequency r or r - ny), for flipping many images of one size with one CTF.
// Empty for unusable sizes or pixel. Re-entrant.
std::vector<signed char> ctf2d_signs(int nx, int ny, double pixel, const Ctf2d& c);
// Flips an nx by ny image held in rows of nx + 2 floats, as todfft takes it
// (valid transform sizes only), with signs made by ctf2d_signs for that size;
// 0 when sizes and signs do not fit. Re-entrant.
int ctf2d_flip_rows(float* a, int nx, int ny, const std::vector<signed char>& signs);
