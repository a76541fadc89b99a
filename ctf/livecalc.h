// The live CTF window's arithmetic, apart from the window: profile figures,
// the scale kept between profiles, smoothing, the ratio plot and the
// signal-to-background table of Save.
#pragma once

struct CtfContext;

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

// A background of the profile's own size for a fit to start from: "Gauss A:"
// and "Exp sca:" (p[4], p[6]) by linear least squares of the background's
// amplitude B on the root of y over samples 10..199, widths and decay as p has
// them; each at least a twentieth of the other, so that neither term's width
// loses all effect. False (p unchanged) when nothing fits.
bool live_seed_background(const float* x, const float* y, float* p, const CtfContext& ctx);
// The "Scale:" that puts the model's first rings at the height of the profile's:
// over the samples from the first to the fourth zero of the CTF term of p (fewer
// when the profile ends before), the profile's mean where the term's square
// exceeds 1/2 less its mean elsewhere, against the same contrast of (g E c)^2,
// E the envelope of p; under the root. A background that is off by a level
// cancels. 0 when the profile holds no zero or no such contrast.
float live_seed_scale(const float* x, const float* y, const float* p, const CtfContext& ctx);
