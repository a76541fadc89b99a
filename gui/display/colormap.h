// Colour cells for 8-bit views and the ramps of the three colour-map modes
// (0 grey, 1 inverted grey, 2 cyclic colour for phases).
#pragma once

#include <X11/Xlib.h>
#include <forms.h>

#include <cstdint>

// One contiguous run of read/write cells, allocated on the first call and
// kept: 1 and the first/last cell, or 0 with both 0 when fewer than 32 could
// be had (even in a private colour map, see colormapOfViews).
int getMapColors(int* first, int* last);
// Reloads the run for mode 0, 1 or 2; returns 1. No change on deep visuals.
int setCmap(int mode);
// The colour map the ramp lives in: the toolkit's, or a private one made
// when the toolkit's had too few free cells (views then install it).
Colormap colormapOfViews();
int colormapIsPrivate();

// Ramp colour of cell i of n for a mode, 16-bit components.
void rampColor(int mode, int i, int n, unsigned short* r, unsigned short* g, unsigned short* b);

// Pixel layout of a true-colour image.
struct PixelLayout {
    int bytesPerPixel;  // 2, 3 or 4
    int msbFirst;       // image byte order
    unsigned long redMask, greenMask, blueMask;
};
// 256 packed pixels for the levels 0..255 of a mode: mode 0 maps level L to
// full-range grey L/255, mode 1 to 1 - L/255, mode 2 to the cyclic ramp.
void buildTrueColorTable(const PixelLayout& lay, int mode, uint32_t table[256]);
// Packs 16-bit components into a pixel of that layout.
uint32_t packPixel(const PixelLayout& lay, unsigned r16, unsigned g16, unsigned b16);

// The control panel's "B=0" button: advances cmapMode 0 -> 1 -> 2 -> 0,
// relabels the button and reloads the cells; redraws true-colour views.
void v_Invert(FL_OBJECT* button, long arg);

// Tests only: frees the run so the next getMapColors allocates afresh.
void resetMapColors();
