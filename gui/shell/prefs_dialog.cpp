#include "gui/shell/prefs_dialog.h"

#include <cstdio>
#include <cstdlib>

#include "gui/shell/control.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/help.h"
#include "gui/shell/inputs.h"
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
    // OK takes the fields only when every number fits; a refused one shows
    // its stored value again and the dialog stays.
    struct Field {
        FL_OBJECT* ob;
        const char* key;
        InputRange range;
    } fields[] = {{p->chromab, "chromab", between(0, 100)},
                  {p->spherab, "spherab", between(0, 100)},
                  {p->voltage, "voltage", above(0, 5000)},
                  {p->mag, "mag", scale_range()},
                  {p->scanres, "scanres", scale_range()}};
    auto fit = [&] {
        for (const Field& f : fields) {
            double v;
            if (!input_number(f.ob, fl_get_object_label(f.ob), f.range, input_text(getenvf(f.key), 2), &v))
                return false;
        }
        return true;
    };
    FL_OBJECT* r;
    while ((r = dlg_run_form(p->prefs, {p->ok, p->cancel})) == p->ok && !fit()) {
    }
    if (r == p->ok) {
        for (const Field& f : fields) setenv2(f.key, fl_get_input(f.ob));
        setenvi("fftboxonly", fl_get_button(p->fftboxonly) ? 1 : 0);
        setenvi("privcmap", fl_get_button(p->privcmap) ? 1 : 0);
    }
    saveenv2();
    fl_hide_form(p->prefs);
    fl_free_form(p->prefs);
    std::free(p);
    gui_activate_all();
}
