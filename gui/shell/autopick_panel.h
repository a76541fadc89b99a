// The Auto Pick panel of the Box menu: mode, diameter, threshold, minimum
// distance, contrast and "Pick" for the selected micrograph. Moving the
// threshold re-filters the candidates already found and redraws the boxes.
#pragma once

#include <forms.h>

#include "pick/autopick.h"

struct FD_autopick {
    FL_FORM* form;
    FL_OBJECT* mode;         // "Mode:" Blob | Template
    FL_OBJECT* diameter;     // "Diameter (A):"
    FL_OBJECT* threshold;    // "Threshold:" slider, noise units
    FL_OBJECT* minDistance;  // "Min. distance (A):", 0 = 0.9 diameters
    FL_OBJECT* invert;       // "Bright particles"
    FL_OBJECT* reject;       // "Skip contamination"
    FL_OBJECT* templButton;  // "Template File..."
    FL_OBJECT* templ;        // where the template comes from
    FL_OBJECT* status;       // "Auto Pick: N picks"
    FL_OBJECT *pick, *close;
};
// The panel while it is open, else null.
extern FD_autopick* autopick_panel;

// Box > "Auto Pick...": opens (or raises) the panel.
void m_Box_autopick();
void ap_pick(FL_OBJECT*, long);      // "Pick"
void ap_filter(FL_OBJECT*, long);    // threshold, minimum distance: re-filter
void ap_reject(FL_OBJECT*, long);    // "Skip contamination": picks again
void ap_template(FL_OBJECT*, long);  // "Template File..."
void ap_close(FL_OBJECT*, long);     // "Close"

// The panel's current settings for picking other micrographs the same way:
// mode, diameter, threshold, minimum distance, contrast, contamination switch
// and the template (template mode) from the panel, the box size from the mouse
// panel, pixel 0 (each micrograph has its own). Defaults (kept in the
// preferences) when the panel was never opened. False when they cannot pick
// yet: template mode without a template.
bool autopick_panel_params(AutopickParams* p);

// How many times the panel computed candidates (a re-filter computes none).
int autopick_panel_computations();
