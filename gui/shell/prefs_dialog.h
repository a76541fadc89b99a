// The Preferences dialog (Tools > "Preferences").
#pragma once

#include <forms.h>

struct FD_prefs {
    FL_FORM *prefs;
    FL_OBJECT *chromab, *spherab, *voltage, *mag, *scanres;
    FL_OBJECT *fftboxonly, *privcmap;
    FL_OBJECT *ok, *cancel;
};

// Tools > "Preferences": the modal dialog; writes ~/.tvenv on OK and Cancel.
void m_Tools_Prefs();
