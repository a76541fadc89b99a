// Cutting the boxes of a box list out of their image, for batch boxing.
// cutRect is extractReal with the checks a file's box needs; cutFilament samples
// as the workbench's filament cut (extractRealFila) does.
#pragma once

#include <string>

class MRCData;

// Copies the width x height rectangle at (x0, y0) of a real image into dest,
// the corner moved inside the image; 0 for complex data or a rectangle larger
// than the image.
int cutRect(MRCData* src, float* dest, int x0, int y0, int width, int height);
// Straightened filament from (x0, y0) towards (x1, y1): width columns across,
// length rows along, bilinear samples, the image's mean outside it.
int cutFilament(MRCData* src, float* dest, int x0, int y0, int x1, int y1, int width, int length);
// Length of a filament box: floor(sqrt((|x1-x0|+1)^2 + (|y1-y0|+1)^2)).
int filamentLength(int x0, int y0, int x1, int y1);
// File name of clip n cut from a data set with file name file: the file name
// with a 3-letter extension removed, then "_%03d.img".
std::string clipFileName(const char* file, int n);
