// Pure renderers: a data set into a client-side pixel buffer, no X calls.
// The MRCData members renderAmp8, renderPha8, renderAmpTC and renderLUT are
// declared in core/MRCData.h; this header holds what they share with callers.
#pragma once

#include <cstdint>

// Screen range one render call fills, after clipping the data against the
// screen (exposed so that tests and the views can ask what will be drawn).
struct RenderGeometry {
    float step;             // data pixels per screen pixel
    int whole;              // step is a whole number (integer-only stepping)
    int wholePart, frac;    // W and F (1/100000 units) of the fractional stepping
    int xOff, yOff;         // data column/row shown at firstCol/bottomRow
    int firstCol, lastCol;  // screen columns [firstCol, lastCol)
    int bottomRow, topRow;  // screen rows bottomRow down to topRow (inclusive)
};

// Clips (xOff, yOff, width, height, zoom) against an xSize x ySize data set.
RenderGeometry renderGeometry(int xSize, int ySize, int xOff, int yOff, int width, int height, float zoom);

// Stores one pixel value of bytesPerPixel (1..4) bytes, most significant byte
// first when msbFirst, else least significant first.
inline void storePixel(unsigned char* p, uint32_t v, int bytesPerPixel, int msbFirst) {
    if (msbFirst) {
        for (int i = bytesPerPixel - 1; i >= 0; i--) {
            p[i] = (unsigned char)v;
            v >>= 8;
        }
    } else {
        for (int i = 0; i < bytesPerPixel; i++) {
            p[i] = (unsigned char)v;
            v >>= 8;
        }
    }
}
