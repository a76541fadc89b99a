// The live CTF window from a good start: the automatic estimate seeds it, the
// "2-D" button shows the estimate's 2-D diagnostic and its zeros over the
// transform, and the CTF menu flips phases with the astigmatic CTF.
#pragma once

#include <forms.h>

#include "ctf/ctf2d.h"

class MRCData;

// A new profile of transform F (as Analyze's view_livecalc) started from the
// automatic estimate of micrograph (of F's own spectrum when null): the
// defocus, "AC (%):", "Scale:" and the astigmatism line under the defocus.
// When the estimate finds no rings, the line says why and the profile starts
// at `fallback` (with a micrograph; without one the window stays as it was).
void livec_seed(MRCData* F, MRCData* micrograph, float fallback);
// The 2-D CTF of d: its estimate (made now when it has none) with the mean
// defocus of its record when it has one. False with *why when there is none.
bool livec_ctf2d(MRCData* d, Ctf2d* c, const char** why);
// While a command holds it, selecting a transform does not seed the window
// (Analyze selects its transform on the way and seeds it from the micrograph).
struct LiveSeedHold {
    LiveSeedHold();
    ~LiveSeedHold();
    LiveSeedHold(const LiveSeedHold&) = delete;
    LiveSeedHold& operator=(const LiveSeedHold&) = delete;
};
// The radial profile of a transform with an estimate into out[400]: the
// estimate's averaged spectrum (the micrograph's, for Analyze) along rings of
// equal phase at the transform's abscissae and at the level of its own
// profile; false when it has none.
bool livec_seed_profile(MRCData* d, float* out);
// The window's "2-D" button.
void livec_2d(FL_OBJECT*, long);
// CTF > "Flip Phases 2-D".
void m_Ctf_flip2d();
// Forgets destroyed data sets; draws the zeros over the transforms' views.
void install_live_seed();
