// The box set of a data set: moved ("blue") boxes, picking a box at a point,
// the rigid re-alignment of the whole set to the moved ones, and copying the
// boxes to other images of the same field by correlation.
#pragma once

#include <vector>

class MRCData;
struct BoxRecord;

// A box is moved when newx or newy is not negative.
bool boxMoved(const BoxRecord& b);
// The lower-left corner the box stands at now: an axis whose moved centre is
// set takes that centre less half the size (halves toward zero).
void boxCorner(const BoxRecord& b, int* x, int* y);
// Whether the data point (dx, dy) lies strictly inside box b where it stands
// now; a filament box counts by the rectangle around its ends, widened by
// half its width.
bool boxContains(const BoxRecord& b, int dx, int dy);
// The box picked at (dx, dy) for moving: the narrowest rectangle containing
// the point (the first on ties), or -1. Filament boxes are not moved.
int pickBox(MRCData* d, int dx, int dy);
// The first box of the list containing (dx, dy), filaments too, or -1.
int firstBoxAt(MRCData* d, int dx, int dy);
// Moves every box by the mean shift and rotation of the moved boxes (printing
// "Mean shift", "Rotate" and "Mean shift" again) and marks none as moved;
// returns the number of moved boxes (0 after "None of the boxes moved...").
int alignAllToNew(MRCData* d);
// Every moved box takes its moved place for good.
void makeMovedPermanent(MRCData* d);
// Signed shift of a correlation peak in column c of W (wrap-around): c up to
// W/2, c - W beyond.
int foldShift(int c, int W);
// Copies F's rectangular boxes to each of the others, each placed by the
// correlation of the central 560 x 560 regions and then of the box itself;
// regions that do not lie wholly inside the other image are skipped. Returns
// the number of boxes added, or -1 when F is smaller than 560 x 560.
int copyBoxesWithAlign(MRCData* F, const std::vector<MRCData*>& others);
