// Conversions between (re, im) and (amplitude, phase) pairs, done for every
// pair of a transform, so they are kept branch-free and vectorisable.
#pragma once

// (re, im) -> (sqrt(re^2 + im^2), atan2(im, re)) for n pairs in place; the
// phase is within 2e-7 radians of the library atan2.
void toAmpPhase(float* a, long n);
// (amp, phase) -> (amp cos(phase), amp sin(phase)) for n pairs in place.
void toReIm(float* a, long n);
// atan2 in single precision to about 1e-7 relative, without branches.
float fast_atan2(float y, float x);
// The same for blocks of 8 real parts followed by 8 imaginary parts (n blocks),
// the layout in which the FFT engine hands over its finished values.
void ampPhaseBlocks(float* blocks, long n);
