// Box > "Extract Particles...": the small panel that asks for the extraction
// parameters (the defaults of `tarvik-proc extract`), and the command that
// extracts the boxes of the selected micrograph into a chosen folder.
#pragma once

#include "pick/extract.h"

// Shows the panel filled from *p (a size of 0 takes the mouse panel's box
// size) and lets the user edit box size, binning, background radius,
// normalisation with or without the plane, inversion, phase flip and the edge
// rule. true with *p holding the user's values on "Extract"; false on
// "Cancel", or after a message box for values that cannot be used.
bool extract_panel(ExtractParams* p);

// Box > "Extract Particles...": the panel, then the folder (file selector),
// then the boxes of the one selected micrograph go to FOLDER/NAME.mrcs and
// FOLDER/particles.star, and the new stack opens as a mosaic in a group of
// its own. With the phase flip the micrograph's CTF is estimated on the fly
// (microscope values from the preferences).
void m_Box_extract();
