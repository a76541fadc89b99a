// Separable 2-D discrete wavelet transform over one filter bank.
#pragma once

#include "wav/filter.h"

class Wavelet {
public:
    const Filter* analysisLow;
    const Filter* analysisHigh;
    const Filter* synthesisLow;
    const Filter* synthesisHigh;
    int symmetric;
    int npad;  // extension samples kept on each side of a signal

    explicit Wavelet(const FilterSet* set);

    // Forward / inverse transform of a width x height image (row stride = width) over
    // `levels` levels; in place when in == out. symmetric -1 takes the bank's extension.
    // 0 (after printing why) when a symmetric bank would shrink a side to 2 or less;
    // the condition is checked before anything is written.
    int transform2d(const float* in, float* out, int width, int height, int levels, int symmetric = -1);
    int invert2d(const float* in, float* out, int width, int height, int levels, int symmetric = -1);

    // One level of one signal: in and out hold npad + n + npad samples, the signal at npad.
    void transform_step(float* in, float* out, int n, int symmetric);
    void invert_step(float* in, float* out, int n, int symmetric);

    // Fill both pads of x (npad + n + npad samples).
    void symmetric_extension(float* x, int n, int leftParity, int rightParity, int sign);
    void periodic_extension(float* x, int n);

private:
    int levelsFit(int width, int height, int levels, int sym);
};

// Thresholds the detail bands of `level` and every deeper level; gains[0..9] are the
// per-level gains (deeper levels share gains[9]; 1.2 keeps nothing).
void wav_filt(int width, int height, float* data, int level, int levels, const float* gains);

// Level count that doDWT/doIWT use for a requested count on an nx x ny image.
int dwt_levels(int nx, int ny, int levels);
