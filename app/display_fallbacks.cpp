// Weak stand-ins for display-module entry points whose code is not in the
// tree yet; the real definitions replace them at link time.
#include <forms.h>

#include <cstdlib>

#include "app/dialogs.h"
#include "app/help.h"
#include "app/state.h"
#include "display/mouse.h"
#include "display/print.h"

__attribute__((weak)) FD_mouse* create_mouse_panel(int show) {
    FD_mouse* m = (FD_mouse*)std::calloc(1, sizeof(FD_mouse));
    m->mouse = fl_bgn_form(FL_UP_BOX, 300, 60);
    const char* names[] = {"MOVE", "DRAG", "BOX", "CTF", "ZAP", "DB", "FILA"};
    for (int i = 0; i < 7; i++) {
        m->modeButton[i] = fl_add_button(FL_RADIO_BUTTON, 5 + 41 * i, 5, 40, 25, names[i]);
        fl_set_object_callback(m->modeButton[i], mm_Set, i);
    }
    fl_end_form();
    fl_set_button(m->modeButton[0], 1);
    if (show) {
        fl_set_form_position(m->mouse, 570, 40);
        fl_show_form(m->mouse, FL_PLACE_POSITION, FL_FULLBORDER, "Mouse");
    }
    mpanel = m;
    return m;
}

__attribute__((weak)) void mm_Set(FL_OBJECT*, long n) {
    if (n >= 0 && n < 7) MMode.mode = (int)n;
}

__attribute__((weak)) void m_Newsize(FL_OBJECT*, long) {}

__attribute__((weak)) void print_panel() {
    if (dohelp()) {
        help("Prints whatever is visible in the current view.");
        return;
    }
    dlg_message("Print", "PostScript printing is not available", "in this build.");
}

__attribute__((weak)) ModeHandler modeHandler(int) { return nullptr; }
__attribute__((weak)) void setModeHandler(int, ModeHandler) {}
