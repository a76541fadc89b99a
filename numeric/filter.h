// The Tools > Filter computation: gaussian or sharp low-pass, optional
// high-pass cut, band of flat amplitude, and the inverse filter.
#pragma once

class MRCData;

// Reads the answer " %f , %f , %d" into the low-pass resolution L, the
// high-pass resolution H (-1 when absent) and the mode M (0 when absent).
// Returns 0 when not even L could be read.
int parseFilterAnswer(const char* text, float* L, float* H, int* M);
// Fills the 400-entry radial table (abscissae A in Fourier pixels, values V)
// for a data set of ySize rows and pixel size Pixres. A negative L asks for
// the inverse filter of resolution |L|.
void makeFilterTable(MRCData* d, float L, float H, int M, float* A, float* V);
// Filters one data set. Complex data is changed in place and returned; a real
// image is transformed, filtered and transformed back into a new data set
// that the caller puts in its place. Null when L is 0 or the image cannot be
// transformed (the data set is then left as it was).
MRCData* applyFilter(MRCData* d, float L, float H, int M);
