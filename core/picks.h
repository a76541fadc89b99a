// Particle pick files for other programs: RELION coordinate files (.star, one
// box centre per row) and EMAN2 box files (.box, tab-separated lower-left
// corner and size). Coordinates are the data set's own pixel indices (x the
// column, y the row in file order), as the box database holds them.
#pragma once

#include <string>
#include <vector>

class MRCData;

struct Pick {
    int x, y;  // lower-left corner
    int w, h;  // size
};

// The figure of merit RELION gives a pick made by hand.
constexpr float kManualPickFom = -999;

enum PickFormat { PICKS_BOXDB, PICKS_STAR, PICKS_BOX };
// By the file name's extension: ".star", ".box", anything else a box database.
PickFormat pickFormat(const char* file);

// A box centre as a RELION coordinate file writes it (fractions kept).
struct PickCentre {
    double x, y;
};
// The centres of a RELION coordinate file: the first loop that has both
// _rlnCoordinateX and _rlnCoordinateY (other blocks, loops and columns are
// passed over); 0 after a message, as the readers below. With fom, the figure
// of merit of each pick too (_rlnAutopickFigureOfMerit; kManualPickFom when
// the file has none); with why, the reason goes there instead of standard output.
int readStarCentres(const char* file, std::vector<PickCentre>* out, std::vector<float>* fom = nullptr,
                    std::string* why = nullptr);

// Readers: the picks of a file, or 0 with the reason on standard output
// ("FILE line N: ..." for a malformed line). A .star file holds centres only:
// its boxes are w x h (fom and why as for readStarCentres). Hostile input is
// refused, never guessed at.
int readStarPicks(const char* file, int w, int h, std::vector<Pick>* out, std::vector<float>* fom = nullptr,
                  std::string* why = nullptr);
int readBoxPicks(const char* file, std::vector<Pick>* out);
// Writers (atomic: the old file stays when writing fails); 0 after a message.
// With fom (one per pick), a _rlnAutopickFigureOfMerit column as well.
int writeStarPicks(const char* file, const std::vector<Pick>& picks, const std::vector<float>* fom = nullptr);
int writeBoxPicks(const char* file, const std::vector<Pick>& picks);

// The rectangular boxes of a data set as picks; returns how many filament
// boxes it left out.
int boxesToPicks(MRCData* d, std::vector<Pick>* out);
// Appends picks to a data set's boxes, named as its clips would be
// (FILE_NNN.img, numbered on from the boxes it has).
void picksToBoxes(MRCData* d, const std::vector<Pick>& picks);

// Export and import by extension (.star or .box). Export returns the number
// of boxes written (-1 on failure) and sets *leftOut to the filament boxes
// left out; import returns the number of boxes added (-1 on failure), taking
// w x h as the box size of a .star file.
int exportPicks(MRCData* d, const char* file, int* leftOut);
int importPicks(MRCData* d, const char* file, int w, int h);
