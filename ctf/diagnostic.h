// The 2-D diagnostic of a CTF estimate: the averaged power spectrum with its
// background taken out beside the fitted 2-D CTF^2, one half each, so the eye
// checks ring positions and astigmatism across the seam.
#pragma once

#include <vector>

#include "ctf/estimate.h"

// A T by T image (T = sp.T) with zero frequency at pixel (T/2, T/2): pixel (x, y)
// holds frequency (x - T/2, y - T/2) / (T pixel), y the row. Columns x < T/2 hold
// the data: the spectrum over its background less 1, scaled on each ring of
// whole Fourier pixels so that rings read like CTF^2 (0.5 where there is no
// background), clipped to 0..1; columns x >= T/2 the CTF^2 of e (ctf2d_value).
// 0 when sp holds no spectrum. Re-entrant.
int ctf_diagnostic(const CtfSpectrum& sp, const CtfEstimate& e, const CtfEstimateParams& p, std::vector<float>* out);
