// What the batch CTF estimate is written as: a text line, a JSON line, a
// RELION micrograph table and an SVG plot.
#pragma once

#include <string>
#include <vector>

#include "ctf/estimate.h"

// "defocus defocus_u defocus_v astig_angle resolution score file\n".
std::string ctf_text_line(const std::string& file, const CtfEstimate& e);
// One JSON object with "file" and the six keys of the text line, and a newline.
std::string ctf_json_line(const std::string& file, const CtfEstimate& e);

struct CtfStarRow {
    std::string micrograph;
    CtfEstimate estimate;
};
// Whether a micrograph name can stand in a STAR table as it is: RELION reads
// values up to the next blank and takes none for quoting.
bool ctf_star_name_ok(const std::string& name);
// A RELION STAR file with the table data_micrographs: defocus U/V in
// Angstrom, positive for underfocus; the microscope values of p in every row.
// Names must pass ctf_star_name_ok.
std::string ctf_star_file(const std::vector<CtfStarRow>& rows, const CtfEstimateParams& p);

// A plain SVG picture of the fit: background-subtracted spectrum, model, zeros,
// frequency axis in 1/Angstrom with resolution labels.
std::string ctf_plot_svg(const std::string& title, const CtfEstimate& e);
