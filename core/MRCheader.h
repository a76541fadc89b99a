// The 1024-byte MRC file header.
#pragma once

#include <cstdint>

struct MRCheader {
    int32_t nx, ny, nz, mode;
    int32_t nxstart, nystart, nzstart;
    int32_t mx, my, mz;
    float xlen, ylen, zlen;
    float alpha, beta, gamma;
    int32_t mapc, mapr, maps;
    float amin, amax, amean;
    unsigned char other[132];  // bytes 88..219: carried over
    int32_t nlabl;
    char labels[10][80];
};
static_assert(sizeof(MRCheader) == 1024, "MRC header is 1024 bytes");

// Angstrom per pixel along x recorded in the header (cell length over
// sampling), or 0 when it records none (the rule the MRC reader applies).
float mrc_pixel_size(const MRCheader& h);
