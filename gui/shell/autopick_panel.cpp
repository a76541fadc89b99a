#include "gui/shell/autopick_panel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/boxops.h"
#include "core/fileutil.h"
#include "core/formats.h"
#include "core/prefs.h"
#include "gui/display/datawin.h"
#include "gui/display/mmode.h"
#include "gui/shell/boxing.h"
#include "gui/shell/cmd_util.h"
#include "gui/shell/control.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/help.h"
#include "gui/shell/registry.h"

FD_autopick* autopick_panel = nullptr;

namespace {

// The candidates of the micrograph picked last, so that the threshold and the
// other filter settings act at once. The statistics tell whether its values
// changed in place since (then only "Pick" helps).
struct Cache {
    MRCData* d = nullptr;
    float mean = 0, sigma = 0;
    AutopickCandidates c;
} cache;
int computations = 0;

// The template for template mode: a file the user chose, or the boxes of the
// micrograph picked last.
struct Template {
    std::vector<float> pixels;
    int nx = 0, ny = 0;
    std::string from;  // shown in the panel
} templ;

bool fresh(MRCData* d) {
    return d && d == cache.d && d->Mean() == cache.mean && d->Sigma() == cache.sigma;
}

void forget(MRCData* d) {
    if (d == cache.d) cache = Cache();
}

// The panel's settings (or the stored ones while it is closed); the pixel
// size is the micrograph's business.
AutopickParams settings() {
    AutopickParams p;
    if (autopick_panel) {
        p.mode = fl_get_choice(autopick_panel->mode) == 2 ? AUTOPICK_TEMPLATE : AUTOPICK_BLOB;
        p.diameter = (float)std::atof(fl_get_input(autopick_panel->diameter));
        p.threshold = (float)fl_get_slider_value(autopick_panel->threshold);
        p.minDistance = (float)std::atof(fl_get_input(autopick_panel->minDistance));
        p.invert = fl_get_button(autopick_panel->invert) != 0;
        p.rejectOutliers = fl_get_button(autopick_panel->reject) != 0;
    } else {
        p.mode = getenvid("autopick_mode", AUTOPICK_BLOB) == AUTOPICK_TEMPLATE ? AUTOPICK_TEMPLATE : AUTOPICK_BLOB;
        p.diameter = getenvfd("autopick_diameter", 150);
        p.threshold = getenvfd("autopick_threshold", p.threshold);
        p.minDistance = getenvfd("autopick_mindist", 0);
        p.invert = getenvid("autopick_invert", 0) != 0;
        p.rejectOutliers = getenvid("autopick_reject", 1) != 0;
    }
    p.boxSize = std::max(MMode.boxX, MMode.boxY);
    if (p.mode == AUTOPICK_TEMPLATE) p.templ = templ.pixels, p.templNx = templ.nx, p.templNy = templ.ny;
    return p;
}

void store(const AutopickParams& p) {
    setenvi("autopick_mode", p.mode);
    setenvf("autopick_diameter", p.diameter);
    setenvf("autopick_threshold", p.threshold);
    setenvf("autopick_mindist", p.minDistance);
    setenvi("autopick_invert", p.invert);
    setenvi("autopick_reject", p.rejectOutliers);
}

void status(const char* s) {
    if (autopick_panel) fl_set_object_label(autopick_panel->status, s);
}

// The automatic boxes of the cached candidates under the panel's filter
// settings, boxes of the mouse panel's size; the view shows them.
void refilter() {
    MRCData* d = cache.d;
    if (!fresh(d)) {
        status("Press Pick");
        return;
    }
    std::vector<AutoPick> picks;
    autopick_filter(cache.c, settings(), &picks);
    // The filter kept boxes of the larger side inside; each is w x h about its centre.
    for (AutoPick& k : picks) {
        const int cx = k.box.x + k.box.w / 2, cy = k.box.y + k.box.h / 2;
        k.box = {cx - MMode.boxX / 2, cy - MMode.boxY / 2, MMode.boxX, MMode.boxY};
    }
    const int n = autopick_replace_boxes(d, picks);
    forget_picked_box();
    boxes_changed(d);
    char t[64];
    std::snprintf(t, sizeof t, "Auto Pick: %d picks", n);
    status(t);
    DataWin* v = current_view();
    if (v && v->firstdata() == d) {
        v->redraw();
        v->setTitle(t);
    }
}

// The template of template mode from the micrograph's own boxes (not the
// automatic ones), when no file was chosen.
bool templateFromBoxes(MRCData* d, int size) {
    std::vector<Pick> boxes;
    for (int i = 0; i < d->nBoxes(); i++) {
        const BoxRecord& b = d->Boxes()[i];
        if (b.type != 0 || autopick_is_auto_box(b)) continue;
        int x, y;
        boxCorner(b, &x, &y);
        boxes.push_back({x, y, b.xsize, b.ysize});
    }
    std::vector<float> t;
    const int n = autopick_template_from_boxes(d->getRealData(), d->xSize(), d->ySize(), boxes, size, &t);
    if (!n) return false;
    templ.pixels = t, templ.nx = templ.ny = size;
    templ.from = std::to_string(n) + " boxes of " + d->Name();
    return true;
}

}  // namespace

bool autopick_panel_params(AutopickParams* p) {
    *p = settings();
    p->pixel = 0;
    return p->mode != AUTOPICK_TEMPLATE || p->templNx > 0;
}

int autopick_panel_computations() {
    return computations;
}

void ap_pick(FL_OBJECT*, long) {
    if (help_for("Picks the particles of the selected micrograph. Earlier automatic boxes of it are replaced; boxes "
                 "cut by hand stay. In template mode the template is the file chosen, else the rotationally averaged "
                 "mean of the boxes cut by hand on this micrograph."))
        return;
    Selection s;
    if (s.count() != 1) {
        dlg_message("Please select a single data set.");
        return;
    }
    MRCData* d = s.at(0);
    if (d->isComplex()) {
        dlg_message("Auto Pick works on micrographs, not on Fourier transforms.");
        return;
    }
    AutopickParams p = settings();
    p.pixel = d->Pixres();
    store(p);
    if (p.mode == AUTOPICK_TEMPLATE && templ.from.rfind("file ", 0) != 0) {
        AutopickParams q = p;
        q.boxSize = 0;  // the template covers 1.5 diameters, whatever the boxes
        if (!(p.diameter > 0 && p.pixel > 0) || !templateFromBoxes(d, autopick_box_size(q))) {
            dlg_message("Template mode needs a template:", "cut a few particles by hand on this micrograph,",
                        "or choose a template file.");
            return;
        }
        p.templ = templ.pixels, p.templNx = templ.nx, p.templNy = templ.ny;
        if (autopick_panel) fl_set_object_label(autopick_panel->templ, ("Template: " + templ.from).c_str());
    }
    if (!(fresh(d) && autopick_same_response(cache.c.params, p))) {
        AutopickCandidates c;
        std::string why;
        int ok;
        {
            BusyScope busy;
            StdoutCapture cap;
            ok = autopick_candidates(d->getRealData(), d->xSize(), d->ySize(), p, &c);
            why = cap.take();
        }
        std::fputs(why.c_str(), stdout);
        if (!ok) {
            dlg_message(StdoutCapture::firstLine(why).c_str());
            return;
        }
        computations++;
        cache.d = d, cache.mean = d->Mean(), cache.sigma = d->Sigma(), cache.c = std::move(c);
    }
    refilter();
}

void ap_filter(FL_OBJECT*, long) {
    if (help_for("Threshold (in units of the noise of the response) and minimum distance act at once on the "
                 "micrograph picked last, without picking it again."))
        return;
    if (autopick_panel) store(settings());
    refilter();
}

void ap_reject(FL_OBJECT*, long) {
    if (help_for("On: contamination and carbon (regions larger than a few particles, far darker, brighter or more "
                 "varied than the rest) are made plain ice before picking, and nothing is picked on or next to "
                 "them. Changing it picks again."))
        return;
    ap_pick(nullptr, 0);
}

void ap_template(FL_OBJECT*, long) {
    if (help_for("Chooses an image file as the template of template mode (at the micrograph's pixel size; it is "
                 "rotationally averaged). Cancel returns to the boxes cut by hand."))
        return;
    std::string path;
    if (!dlg_file_single(&path)) {
        templ = Template();
        if (autopick_panel) fl_set_object_label(autopick_panel->templ, "Template: boxes cut by hand");
        return;
    }
    std::string why;
    List* l;
    {
        StdoutCapture cap;
        l = readAnyFile(path.c_str());
        why = cap.take();
    }
    MRCData* t = l && count(l) > 0 ? (MRCData*)l->objectAt(0) : nullptr;
    if (!t || t->isComplex()) {
        dlg_message(t ? "A Fourier transform cannot be a template." : StdoutCapture::firstLine(why).c_str());
    } else {
        templ.nx = t->xSize(), templ.ny = t->ySize();
        templ.pixels.assign(t->getRealData(), t->getRealData() + (size_t)templ.nx * templ.ny);
        templ.from = "file " + std::string(fmt::baseName(path.c_str()));
        if (autopick_panel) fl_set_object_label(autopick_panel->templ, ("Template: " + templ.from).c_str());
    }
    if (l) freeDataList(l);
}

void ap_close(FL_OBJECT*, long) {
    if (help_for("Closes the panel; its settings are kept for the next time.")) return;
    if (!autopick_panel) return;
    store(settings());
    fl_hide_form(autopick_panel->form);
    fl_free_form(autopick_panel->form);
    std::free(autopick_panel);
    autopick_panel = nullptr;
}

namespace {

FD_autopick* create_form_autopick() {
    FD_autopick* p = static_cast<FD_autopick*>(std::calloc(1, sizeof(FD_autopick)));
    p->form = fl_bgn_form(FL_UP_BOX, 330, 300);
    p->mode = fl_add_choice(FL_NORMAL_CHOICE, 150, 10, 170, 25, "Mode:");
    fl_addto_choice(p->mode, "Blob|Template");
    p->diameter = fl_add_input(FL_FLOAT_INPUT, 150, 40, 170, 25, "Diameter (A):");
    p->threshold = fl_add_valslider(FL_HOR_NICE_SLIDER, 150, 70, 170, 25, "Threshold:");
    fl_set_slider_bounds(p->threshold, 1, 15);
    fl_set_slider_step(p->threshold, 0.05);
    fl_set_slider_precision(p->threshold, 2);
    fl_set_object_lalign(p->threshold, FL_ALIGN_LEFT);
    fl_set_object_return(p->threshold, FL_RETURN_CHANGED);
    fl_set_object_callback(p->threshold, ap_filter, 0);
    p->minDistance = fl_add_input(FL_FLOAT_INPUT, 150, 100, 170, 25, "Min. distance (A):");
    fl_set_object_callback(p->minDistance, ap_filter, 0);
    p->invert = fl_add_checkbutton(FL_PUSH_BUTTON, 10, 130, 150, 25, "Bright particles");
    p->reject = fl_add_checkbutton(FL_PUSH_BUTTON, 170, 130, 150, 25, "Skip contamination");
    fl_set_object_callback(p->reject, ap_reject, 0);
    p->templButton = fl_add_button(FL_NORMAL_BUTTON, 10, 165, 120, 25, "Template File...");
    fl_set_object_callback(p->templButton, ap_template, 0);
    p->templ = fl_add_text(FL_NORMAL_TEXT, 135, 165, 185, 25, "Template: boxes cut by hand");
    p->status = fl_add_text(FL_NORMAL_TEXT, 10, 200, 310, 25, "");
    p->pick = fl_add_button(FL_RETURN_BUTTON, 40, 250, 110, 35, "Pick");
    fl_set_object_callback(p->pick, ap_pick, 0);
    p->close = fl_add_button(FL_NORMAL_BUTTON, 180, 250, 110, 35, "Close");
    fl_set_object_callback(p->close, ap_close, 0);
    fl_end_form();
    // The window manager's close is "Close", after the toolkit is done with the event.
    fl_set_form_atclose(
        p->form,
        [](FL_FORM*, void*) {
            fl_add_timeout(
                1, [](int, void*) { ap_close(nullptr, 0); }, nullptr);
            return (int)FL_IGNORE;
        },
        nullptr);
    return p;
}

}  // namespace

void m_Box_autopick() {
    static bool hooked = false;
    if (!hooked) add_data_gone_hook(forget), hooked = true;
    if (autopick_panel) {
        fl_raise_form(autopick_panel->form);
        return;
    }
    const AutopickParams p = settings();
    autopick_panel = create_form_autopick();
    fl_set_choice(autopick_panel->mode, p.mode == AUTOPICK_TEMPLATE ? 2 : 1);
    fl_set_input_float(autopick_panel->diameter, p.diameter);
    fl_set_slider_value(autopick_panel->threshold, p.threshold);
    fl_set_input_float(autopick_panel->minDistance, p.minDistance);
    fl_set_button(autopick_panel->invert, p.invert);
    fl_set_button(autopick_panel->reject, p.rejectOutliers);
    if (!templ.from.empty()) fl_set_object_label(autopick_panel->templ, ("Template: " + templ.from).c_str());
    fl_show_form(autopick_panel->form, FL_PLACE_CENTER, FL_FULLBORDER, "Auto Pick");
}
