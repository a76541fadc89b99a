// A micrograph set: the micrographs of a folder, a file pattern or a
// micrographs STAR file, worked through one after the other. The set keeps its
// state in a folder beside the micrographs ("tarvik_set/"): the picks of each
// micrograph as NAME_manualpick.star (RELION's naming), the CTF table
// micrographs_ctf.star and set.star (order, status, pick counts). Every file is
// read with the STAR reader, line by line: what cannot be read is reported and
// the file is kept aside before it is ever written again, so nothing is lost
// to a file from another version or edited by hand.
//
// Plain data and functions of it, for one thread at a time (the workbench's);
// they print only where they say so.
#pragma once

#include <string>
#include <vector>

#include "core/picks.h"
#include "ctf/estimate.h"

enum MicStatus { MIC_KEPT = 0, MIC_REJECTED = 1 };

struct MicEntry {
    std::string name;        // as the set's tables name it: relative to MicSet::base, or absolute
    std::string path;        // where to open it
    std::string stem;        // file name without folder and extension: stem_manualpick.star
    int status = MIC_KEPT;
    std::string unreadable;  // why it cannot be used ("" when it can)
    int picks = 0;           // picks in its picks file; -1 when that file cannot be read
    bool hasCtf = false;
    CtfEstimate ctf;         // defocusU/V, astigAngle, resolution, score (no plot data)
    float ctfKv = 0, ctfCs = 0, ctfAc = 0;  // the microscope values the CTF row was made with (0: not known)
    // From a micrographs STAR file's optics group (0: not given).
    float kv = 0, csMM = 0, ac = 0, pixel = 0;
    int nx = 0, ny = 0;      // from the header
};

struct MicSet {
    std::string dir;     // the state folder ("…/tarvik_set")
    std::string base;    // the folder names are relative to (dir's parent)
    std::string source;  // what the micrographs came from (a folder, pattern or STAR file)
    std::vector<MicEntry> entries;
    // Rows of set.star that a pattern or STAR file opened now did not choose:
    // written back as they were read.
    std::vector<MicEntry> unlisted;
    int boxSize = 0;                  // box side of the picks (their files hold centres); 0: not known
    std::string shown;                // the entry last shown (its name), where a session resumes
    std::vector<std::string> notes;   // what was refused or kept aside while reading, for the user
    std::vector<std::string> aside;   // state files to keep aside before they are written again
};

// The state files.
std::string micset_state_file(const MicSet& s);  // dir/set.star
std::string micset_ctf_file(const MicSet& s);    // dir/micrographs_ctf.star
std::string micset_picks_file(const MicSet& s, const MicEntry& e);  // dir/STEM_manualpick.star

// Opens a set: a folder (its .mrc files; a folder holding a set folder, or the
// set folder itself, resumes it), a pattern with * ? [ in its file name, a
// RELION micrographs STAR file (data_micrographs with _rlnMicrographName,
// optics and CTF columns taken along) or a set.star. The set folder's state is
// read back: order and status from set.star (micrographs new to the source
// are appended in name order; a pattern, file or micrographs STAR file lists
// only what it names, the other rows staying in set.star), CTF rows, pick
// counts. Every micrograph's header
// is checked; a micrograph that cannot be used (missing, unreadable, of another
// size than most, a name twice) keeps its line with the reason. A source that
// gives no micrograph at all gives one line saying so. Returns the number of
// usable micrographs.
int micset_open(const std::string& what, MicSet* s);

// Picks of a micrograph from its picks file: box corners for w x h boxes and
// each pick's figure of merit (kManualPickFom for hand picks). A missing file
// is an empty list. 0 with the reason when the file cannot be read.
int micset_read_picks(const MicSet& s, const MicEntry& e, int w, int h, std::vector<Pick>* picks,
                      std::vector<float>* fom, std::string* why);
// Writes the picks file (atomically) and the entry's count; a picks file that
// could not be read is kept aside first. 1 or 0 after a message.
int micset_write_picks(MicSet& s, int i, const std::vector<Pick>& picks, const std::vector<float>& fom);

// Rewrites set.star / micrographs_ctf.star (atomically; a file that was not
// read whole is kept aside first). `p` gives the microscope values of rows
// that have none of their own. 1 or 0 after a message.
int micset_write_state(MicSet& s);
int micset_write_ctf(MicSet& s, const CtfEstimateParams& p);

// Renames a file to FILE.unread (FILE.unread.N when taken); the new name, or
// "" when it could not be moved.
std::string micset_keep_aside(const std::string& file);

// What Export wrote.
struct MicExport {
    int micrographs = 0;   // rows of the micrographs table
    int coordinates = 0;   // coordinate files
    int withoutCtf = 0;    // kept micrographs left out for want of a CTF estimate
};
// Writes the kept, usable micrographs that have a CTF estimate into outDir:
// micrographs_ctf.star (a RELION micrographs table with the CTF columns of
// `tarvik-proc ctf --star`, names as opened), their coordinate files
// STEM_manualpick.star, and coordinates.star pairing each micrograph with its
// coordinate file (_rlnMicrographName, _rlnMicrographCoordinates). 1 or 0
// after a message.
int micset_export(const MicSet& s, const std::string& outDir, const CtfEstimateParams& p, MicExport* out);

// The line of the Micrographs list: number, name, picks, defocus (mean,
// micrometres), astigmatism (micrometres), resolution (Angstrom), status.
std::string micset_line(const MicSet& s, int i);
std::string micset_status(const MicEntry& e);  // "kept", "rejected" or "unreadable: REASON"
bool micset_usable(const MicEntry& e);
