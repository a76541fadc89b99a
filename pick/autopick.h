// Automatic particle picking on a micrograph. Two responses: a blob detector
// (scale-normalised Laplacian of Gaussian over a few scales around the
// particle size) and a template matcher (locally normalised cross-correlation
// with a rotationally averaged template). Both work on a Fourier-binned copy
// sized for the particle, score local maxima in units of the response's own
// robust noise, and keep the best of those closer than a minimum distance.
//
// Picking is two steps so that a panel can move the threshold without
// recomputing: autopick_candidates (the costly part, once per micrograph and
// response parameters) and autopick_filter (threshold, distance, box size,
// edge and outlier rejection; milliseconds). Re-entrant: no shared state.
#pragma once

#include <vector>

#include "core/picks.h"

class MRCData;
struct BoxRecord;

enum AutopickMode { AUTOPICK_BLOB = 0, AUTOPICK_TEMPLATE = 1 };

struct AutopickParams {
    int mode = AUTOPICK_BLOB;
    float diameter = 0;          // particle diameter, Angstrom
    float pixel = 0;             // Angstrom per pixel of the micrograph
    float threshold = 5;         // lowest score kept, in units of the response's robust noise
    float minDistance = 0;       // least distance between picked centres, Angstrom; 0: 0.9 diameter
    int boxSize = 0;             // box side in pixels; 0: about 1.5 diameters
    bool invert = false;         // blob mode: particles brighter than the background (a template has its own contrast)
    bool rejectOutliers = true;  // make contamination and carbon plain ice and drop candidates on them
    // Template mode: templNx by templNy pixels (rows of templNx floats) at the
    // micrograph's pixel size, particle at the centre. Rotationally averaged
    // before use, so its in-plane angle does not matter.
    std::vector<float> templ;
    int templNx = 0, templNy = 0;
};

// One pick: its centre (column, row; sub-pixel), its box of the asked size
// about that centre, and its score (noise units).
struct AutoPick {
    float x, y;
    Pick box;
    float score;
};

// A local maximum of the response.
struct AutopickCandidate {
    float x, y;    // centre in micrograph pixels
    float score;   // response in noise units
    bool outlier;  // on or next to contamination or carbon (only when rejecting them): a region
                   // larger than a few particles whose local mean or variance lies far outside
                   // the micrograph's
};

// Everything the filter step needs; made once per micrograph and response.
struct AutopickCandidates {
    int nx = 0, ny = 0;     // micrograph size
    AutopickParams params;  // the parameters the response was computed with
    std::vector<AutopickCandidate> list;  // best score first
};

// The minimum distance (pixels) and box size (pixels) that params stand for,
// defaults filled in.
float autopick_min_distance_px(const AutopickParams& p);
int autopick_box_size(const AutopickParams& p);

// 1 when params can be used on an nx by ny image (a diameter and pixel size,
// a particle that fits, a template no larger than the image); else 0 after
// printing why.
int autopick_check(int nx, int ny, const AutopickParams& p);

// Candidates of a real nx by ny image (rows of nx floats); 0 after a message.
int autopick_candidates(const float* image, int nx, int ny, const AutopickParams& p, AutopickCandidates* out);
// True when candidates computed with `made` serve `p` unchanged (same mode,
// diameter, pixel size, contrast, template and outlier switch): only the
// filter must run.
bool autopick_same_response(const AutopickParams& made, const AutopickParams& p);
// The picks of cached candidates under p's threshold, minimum distance and box
// size: no outliers, boxes inside the image, best score first.
void autopick_filter(const AutopickCandidates& c, const AutopickParams& p, std::vector<AutoPick>* out);
// Both steps; 0 after a message.
int autopick(const float* image, int nx, int ny, const AutopickParams& p, std::vector<AutoPick>* out);

// A template from boxes already on a micrograph: the mean of the size by size
// regions about their centres (those inside the image), rotationally averaged.
// Returns how many boxes went in (0: none, out untouched).
int autopick_template_from_boxes(const float* image, int nx, int ny, const std::vector<Pick>& boxes, int size,
                                 std::vector<float>* out);
// Replaces an nx by ny image by its rotational average about its centre.
void autopick_rotational_average(float* img, int nx, int ny);

// Automatic boxes in a data set's box list: they carry the name "autopick"
// (hand-cut boxes are named after their clip files, which end in ".img").
extern const char* const kAutopickBoxName;
bool autopick_is_auto_box(const BoxRecord& b);
// Removes the earlier automatic boxes of d that were not moved by hand and
// appends the picks as new automatic boxes; returns how many boxes d now
// holds that are automatic.
int autopick_replace_boxes(MRCData* d, const std::vector<AutoPick>& picks);
