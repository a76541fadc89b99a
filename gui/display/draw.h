// Outline drawing for selections and recorded boxes, with the caller's GC on
// any drawable; the shapes follow boxType / boxX of MMode.
#pragma once

#include <X11/Xlib.h>

// A shape on exactly the w x h pixels from (x, y) (a negative w or h counts
// from the other corner): 0 the two diagonals, 1 the outline, 2 an 11 x 11
// spot at the centre, 3 the inscribed ellipse, 4 filled; others nothing.
// Selection outlines take boxType, box marks markType.
void drawShape(Display* display, Drawable d, GC gc, int shape, int x, int y, int w, int h);
void doBox(Display* display, Drawable d, GC gc, int x, int y, int w, int h);
void doLine(Display* display, Drawable d, GC gc, int x, int y, int dx, int dy, float zoom);
