// Particles for refinement: square boxes cut around pick centres, binned by
// Fourier cropping, normalised as RELION's extraction normalises them,
// optionally contrast-inverted and phase-flipped with the micrograph's own
// astigmatic CTF; and the job that turns micrographs with their picks into
// MRC particle stacks and one RELION 3.1 particles.star.
//
// Coordinates are the micrograph's pixel indices (x the column, y the row in
// file order), as pick files hold them; a fractional coordinate is cut to
// the whole pixel below it, as RELION's extraction does. A box of edge N
// centred on (cx, cy) covers columns cx - N/2 .. cx + N/2 - 1 and rows
// likewise, so the centre lands on pixel (N/2, N/2) of the particle, where
// RELION puts it too.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/picks.h"
#include "ctf/ctf2d.h"
#include "ctf/report.h"

struct ExtractParams {
    int size = 0;           // box edge N in micrograph pixels (even)
    double bin = 1;         // particles are N / bin pixels on a side, an even whole number
    double radius = 0;      // background: pixels farther than this from the centre, in
                            // particle pixels (after binning); 0 means 0.75 * (N / bin) / 2
    bool normalise = true;  // false leaves the values as cut (and binned)
    bool ramp = true;       // a least-squares plane through the background is subtracted first
    bool invert = false;    // contrast inverted last: particles white on black
    bool flip = false;      // phase flip with the CTF, on the box padded to 2N by its surroundings
    bool fillEdge = false;  // a box crossing the micrograph edge is kept, its missing part
                            // filled with the mean of the part inside; else it is skipped
};

// The particle edge N / bin, or 0 with the reason in *why (odd or tiny box,
// a bin that leaves no even whole size, sizes the transform cannot take when
// binning or flipping asks for one, a radius that leaves no background).
int extract_out_size(const ExtractParams& p, std::string* why);
// The background radius in particle pixels: p.radius, or its default.
double extract_radius(const ExtractParams& p);

// RELION's normalisation of an n by n particle in place: the values at a
// distance above `radius` from pixel (n/2, n/2) are the background; with
// `ramp` the least-squares plane a + b x + c y through them is subtracted
// from every pixel, then every pixel becomes (v - m) / s with m and s the
// mean and standard deviation (divided by the count) of the background.
// A flat background (s = 0) only has m subtracted. 0 when fewer than three
// background pixels exist. Re-entrant.
int extract_normalise(float* img, int n, double radius, bool ramp);

// One particle centred on (cx, cy) of an nx by ny micrograph (rows of nx
// floats): cut, phase-flipped (c and pixel, Angstrom, needed then), binned,
// normalised, inverted, in that order, into out (extract_out_size squared
// floats). 1 when written; 0 when the box crosses the edge and p.fillEdge is
// off, or the centre lies outside the micrograph. The parameters must have
// passed extract_out_size. Re-entrant.
int extract_particle(const float* mic, int nx, int ny, int cx, int cy, const ExtractParams& p, double pixel,
                     const Ctf2d* c, float* out);

// ---- the job: micrographs with their picks into stacks and particles.star

// One micrograph of a job.
struct ExtractSource {
    std::string micrograph;          // its file: read unless pixels are given; named in particles.star
    const float* pixels = nullptr;   // the micrograph already in memory (nx by ny), e.g. a data set
    int nx = 0, ny = 0;
    double pixel = 0;                // Angstrom per pixel; 0: the job's, else the file's header
    bool havePicks = false;          // centres given: no picks file is read
    std::vector<PickCentre> picks;   // box centres, as written to particles.star
};
// The centres (x + w/2, y + h/2) of boxes, as the picks of a source.
std::vector<PickCentre> extract_centres(const std::vector<Pick>& boxes);

struct ExtractJob {
    std::vector<ExtractSource> sources;
    ExtractParams params;
    std::string outDir = "Particles";     // stacks DIR/NAME.mrcs, NAME the micrograph's without extension
    std::string starFile;                 // "" means outDir/particles.star
    std::string picksDir;                 // picks DIR/NAME + suffix; "" means the micrograph's folder
    std::string picksSuffix = "_autopick.star";  // .star (centres) or .box (EMAN2) by its extension
    const std::vector<CtfStarRow>* ctf = nullptr;  // a CTF table (ctf_star_read); every micrograph
                                                   // must be in it. Null: estimated when flipping
    std::string ctfName;                  // the table's file, for messages
    double pixel = 0;                     // overrides every micrograph's pixel size when set
    float kv = 300, csMM = 2.7f, ac = 0.1f;  // microscope values where the CTF table gives none
};

// What became of one micrograph.
struct ExtractReport {
    std::string micrograph;
    bool ok = false;
    int written = 0, skipped = 0;  // particles in the stack; boxes skipped at the edge
    std::string stack;             // the stack written, "" when none (failure or no particle)
    std::string why;               // the failure, one line naming the micrograph or file
};

// DIR/NAME + suffix: the picks file of a micrograph.
std::string extract_picks_path(const std::string& micrograph, const std::string& dir, const std::string& suffix);
// DIR/NAME.mrcs: the stack of a micrograph.
std::string extract_stack_path(const std::string& micrograph, const std::string& dir);

// Extracts every source in order, each stack written atomically (a failing
// micrograph leaves none behind and the others go on), then the STAR file
// with the particles of every stack written, also atomically. `each`, when
// given, hears every report as its micrograph finishes. 1 when every
// micrograph and the STAR file succeeded; 0 otherwise, with *starWhy set
// when the STAR file itself could not be written (or had no particle).
// Reads files and preferences: call it from one thread at a time.
int extract_job(const ExtractJob& job, std::vector<ExtractReport>* reports,
                const std::function<void(const ExtractReport&)>& each, std::string* starWhy);
