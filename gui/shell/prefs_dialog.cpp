#include "gui/shell/prefs_dialog.h"

#include <cstdio>
#include <cstdlib>

#include "gui/shell/control.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/help.h"
#include "gui/shell/menus.h"
#include "gui/shell/state.h"
#include "core/prefs.h"

namespace {
FD_prefs* create_form_prefs() {
    FD_prefs* p = (FD_prefs*)std::calloc(1, sizeof(FD_prefs));
    p->prefs = fl_bgn_form(FL_UP_BOX, 300, 250);
    struct F {
        FL_OBJECT** slot;
        const char* label;
    } f[] = {{&p->chromab, "Chrom Aber (mm)"},
             {&p->spherab, "Sph Aber (mm)"},
             {&p->voltage, "Accel V (KV)"},
             {&p->mag, "Mag (k)"},
             {&p->scanres, "Scan Res (um)"}};
    int y = 10;
    for (auto& e : f) {
        *e.slot = fl_add_input(FL_NORMAL_INPUT, 140, y, 140, 25, e.label);
        y += 32;
    }
    p->fftboxonly = fl_add_checkbutton(FL_PUSH_BUTTON, 20, y, 140, 25, "FFT Valid Only");
    p->privcmap = fl_add_checkbutton(FL_PUSH_BUTTON, 160, y, 140, 25, "Private Cmap");
    p->ok = fl_add_button(FL_RETURN_BUTTON, 30, y + 40, 100, 30, "OK");
    p->cancel = fl_add_button(FL_NORMAL_BUTTON, 170, y + 40, 100, 30, "Cancel");
    fl_end_form();
    fl_set_form_atclose(
        p->prefs,
        [](FL_FORM*, void* c) {
            fl_trigger_object((FL_OBJECT*)c);
            return (int)FL_IGNORE;
        },
        p->cancel);
    return p;
}
}  // namespace

void m_Tools_Prefs() {
    FD_prefs* p = create_form_prefs();
    fl_set_input_float(p->chromab, getenvfd("chromab", 5.6f));
    fl_set_input_float(p->spherab, getenvfd("spherab", 5.6f));
    fl_set_input_float(p->voltage, getenvfd("voltage", 100));
    fl_set_input_float(p->mag, getenvfd("mag", 30));
    fl_set_input_float(p->scanres, getenvfd("scanres", 25));
    fl_set_button(p->fftboxonly, getenvfd("fftboxonly", 0) != 0);
    fl_set_button(p->privcmap, getenvfd("privcmap", 0) != 0);
    gui_deactivate_all();
    fl_activate_form(p->prefs);
    fl_show_form(p->prefs, FL_PLACE_CENTER, FL_FULLBORDER, "Preferences");
    FL_OBJECT* r = dlg_run_form(p->prefs, {p->ok, p->cancel});
    if (r == p->ok) {
        setenv2("chromab", fl_get_input(p->chromab));
        setenv2("spherab", fl_get_input(p->spherab));
        setenv2("voltage", fl_get_input(p->voltage));
        setenv2("mag", fl_get_input(p->mag));
        setenv2("scanres", fl_get_input(p->scanres));
        setenvi("fftboxonly", fl_get_button(p->fftboxonly) ? 1 : 0);
        setenvi("privcmap", fl_get_button(p->privcmap) ? 1 : 0);
    }
    saveenv2();
    fl_hide_form(p->prefs);
    fl_free_form(p->prefs);
    std::free(p);
    gui_activate_all();
}
