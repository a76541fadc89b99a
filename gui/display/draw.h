// Outline drawing for selections and recorded boxes, with the caller's GC on
// any drawable; the shapes follow boxType / boxX of MMode.
#pragma once

#include <X11/Xlib.h>

void doBox(Display* display, Drawable d, GC gc, int x, int y, int w, int h);
void doLine(Display* display, Drawable d, GC gc, int x, int y, int dx, int dy, float zoom);
