// The live CTF window's arithmetic, apart from the window: profile figures,
// the scale kept between profiles, smoothing, the ratio plot and the
// signal-to-background table of Save.
#pragma once

struct ProfileFigures {
    float yMin;      // smallest of y[1..199]
    float yMax;      // largest of y[1..199]
    float yMaxHigh;  // largest of y[8..199]
    float bgScale;   // the model scale g
};
// Figures of a 200-sample profile. The scale is twice the mean of y[60..199];
// *lastScale keeps the first one while later profiles stay within 50 % of it.
ProfileFigures live_profile_figures(const float* y, float* lastScale);

// Gaussian smoothing weight of offset k for half-width n: exp(-k^2/(n/2)^2), normalised.
float smooth_parm(int n, int k);
// out[i] = sum_{k=-n..n} w(k) in[j], j = i + k, mirrored to i - k at both ends.
void smooth_data(int n, int count, const float* in, float* out);

// Ratio plot: (y - background) / CTF term, and 1 where the CTF term is weak
// (below 0.02 x ctfScale) or the scale is not positive.
void live_ratio(const float* y, const float* background, const float* ctfTerm, float ctfScale, float* ratio);

// Save's table: max(plotted - background, 0) / background, a background of
// 0 or less counting as 0.0001.
void live_snr_table(const float* plotted, const float* background, float* out);
