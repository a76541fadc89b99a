// Cutting boxes out of their image: the rectangle and filament rules shared by
// the workbench's cuts and batch boxing (tarvik-proc boxes).
#pragma once

#include <string>

class MRCData;

// Moves the w x h rectangle at (*x0, *y0) inside an nx x ny image (a corner
// past the far edge is pushed back, a negative one becomes 0); 0 when the
// rectangle is larger than the image, or empty.
int fitBox(int* x0, int* y0, int w, int h, int nx, int ny);
// Copies the width x height rectangle at (x0, y0) of a real image into dest,
// the corner moved inside the image; 0 for complex data or a rectangle larger
// than the image.
int cutRect(MRCData* src, float* dest, int x0, int y0, int width, int height);
// Straightened filament from (x0, y0) towards (x1, y1) (extractRealFila);
// 0 for complex data or an empty size.
int cutFilament(MRCData* src, float* dest, int x0, int y0, int x1, int y1, int width, int length);
// Length of a filament box: floor(sqrt((|x1-x0|+1)^2 + (|y1-y0|+1)^2)).
int filamentLength(int x0, int y0, int x1, int y1);
// The end point recorded for a filament cut length long, drawn from (x0, y0)
// towards (*x1, *y1): moved to lie that far along the drawn direction.
void filamentEnd(int x0, int y0, int* x1, int* y1, int length);
// File name of clip n cut from a data set with file name file: the file name
// with a 3-letter extension removed, then "_%03d.img".
std::string clipFileName(const char* file, int n);
