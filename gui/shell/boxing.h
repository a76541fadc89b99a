// Cutting particles out of a micrograph with the mouse: the cuts into the
// group "Clips", zapping into "Zapped", and the handlers of the mouse modes
// DRAG, BOX, ZAP, DB and FILA on real data sets.
#pragma once

class MRCData;

// Cuts the rectangle (x0, y0)-(x1, y1) of src into a new data set appended to
// "Clips" (made on first use) and records the box in src; the rectangle is
// moved inside src, and one larger than src is refused (null).
MRCData* view_Clipped(MRCData* src, int x0, int y0, int x1, int y1);
// Cuts a straightened filament of the given width from (x0, y0) towards
// (x1, y1), length long (or as long as drawn when length is below 1), and
// records it in src as a filament box; null when it cannot be cut.
MRCData* view_FilaClip(MRCData* src, int x0, int y0, int x1, int y1, int width, int length);
// Moves a data set of the current group to the group "Zapped"; 1 when moved.
int view_Zapped(MRCData* d);

// Installs the handlers of the mouse modes on real data sets, and keeps the
// box picked in DB mode from outliving its data set.
void install_boxing();
// The box picked in DB mode (null when none); box commands that change a box
// list forget it.
MRCData* picked_box(int* index);
void forget_picked_box();
