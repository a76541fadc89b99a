// The Auto Pick panel of the Box menu: mode, diameter, threshold, minimum
// distance, contrast and "Pick" for the selected micrograph. Moving the
// threshold re-filters the candidates already found and redraws the boxes.
#pragma once

#include "pick/autopick.h"

// Box > "Auto Pick...": opens (or raises) the panel.
void m_Box_autopick();

// The panel's current settings for picking other micrographs the same way:
// mode, diameter, threshold, minimum distance, contrast and the template
// (template mode) from the panel, the box size from the mouse panel, pixel 0
// (each micrograph has its own). Defaults (kept in the preferences) when the
// panel was never opened. False when they cannot pick yet: template mode
// without a template.
bool autopick_panel_params(AutopickParams* p);
