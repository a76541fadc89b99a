// What the batch CTF estimate is written as: a text line, a JSON line, a
// RELION micrograph table and an SVG plot.
#pragma once

#include <string>
#include <vector>

#include "core/star.h"
#include "ctf/estimate.h"

// "defocus defocus_u defocus_v astig_angle resolution score file\n".
std::string ctf_text_line(const std::string& file, const CtfEstimate& e);
// One JSON object with "file" and the six keys of the text line, and a newline.
std::string ctf_json_line(const std::string& file, const CtfEstimate& e);

struct CtfStarRow {
    std::string micrograph;
    CtfEstimate estimate;
    // Microscope values of the row (its own columns, else its optics group), 0 when the table gives none.
    float kv = 0, csMM = 0, ac = 0;
};
// A RELION STAR file with the table data_micrographs: defocus U/V in
// Angstrom, positive for underfocus; the microscope values of each row that
// has them (kv above 0), else those of p.
// Names must pass starValueOk (core/star.h).
std::string ctf_star_file(const std::vector<CtfStarRow>& rows, const CtfEstimateParams& p);

// Reads a CTF table: the first table with _rlnMicrographName, _rlnDefocusU and
// _rlnDefocusV in any block (as this program and RELION write them); defocus
// back in micrometres, negative for underfocus; angle, resolution and figure of
// merit when present; voltage, Cs and amplitude contrast from the row or from a
// data_optics block. 0 after a message naming the file (and line). With
// `refused`, rows that cannot be read are left out and listed there instead.
int ctf_star_read(const char* file, std::vector<CtfStarRow>* rows, std::vector<StarSkip>* refused = nullptr);
// The same on a table already read; 0 with the reason in *why, nothing printed.
int ctf_star_table(const StarFile& star, std::vector<CtfStarRow>* rows, std::vector<StarSkip>* refused,
                   std::string* why);
// The row of a micrograph: the same name, else the only row with the same file
// name in another folder; null when there is none.
const CtfStarRow* ctf_star_find(const std::vector<CtfStarRow>& rows, const std::string& micrograph);

// A plain SVG picture of the fit: background-subtracted spectrum, model, zeros,
// frequency axis in 1/Angstrom with resolution labels.
std::string ctf_plot_svg(const std::string& title, const CtfEstimate& e);
