// The 1024-byte MRC file header.
#pragma once

#include <cstdint>
#include <string>

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

// What an MRC file's header says, without reading its values.
struct MrcInfo {
    int nx = 0, ny = 0, nz = 0, mode = 0;
    float pixel = 0;  // as mrc_pixel_size: 0 when the header records none
};
// Reads the header of a 2-D MRC image (compressed too) and checks it as the
// reader would: sizes, mode, and for a plain file that the values are all
// there. 1, or 0 with the reason in *why ("cannot open", "Bad MRC file", ...).
// Thread-safe; prints nothing.
int mrc_peek(const char* file, MrcInfo* out, std::string* why);
