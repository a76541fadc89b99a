#include "gui/shell/extract_panel.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/picks.h"
#include "core/prefs.h"
#include "gui/display/mmode.h"
#include "gui/shell/cmd_util.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/file_cmds.h"
#include "gui/shell/state.h"

namespace {

struct FD_extract {
    FL_FORM* form;
    FL_OBJECT *size, *bin, *radius;
    FL_OBJECT *normalise, *ramp, *invert, *flip, *fillEdge;
    FL_OBJECT *ok, *cancel;
};

FD_extract* create_form_extract() {
    FD_extract* p = (FD_extract*)std::calloc(1, sizeof(FD_extract));
    p->form = fl_bgn_form(FL_UP_BOX, 300, 330);
    p->size = fl_add_input(FL_INT_INPUT, 150, 10, 130, 25, "Box size (pixels)");
    p->bin = fl_add_input(FL_FLOAT_INPUT, 150, 42, 130, 25, "Bin by");
    p->radius = fl_add_input(FL_FLOAT_INPUT, 150, 74, 130, 25, "Background radius");
    int y = 108;
    struct {
        FL_OBJECT** slot;
        const char* label;
    } checks[] = {{&p->normalise, "Normalise"},
                  {&p->ramp, "Subtract ramp"},
                  {&p->invert, "Invert contrast"},
                  {&p->flip, "Phase flip"},
                  {&p->fillEdge, "Keep edge boxes"}};
    for (auto& c : checks) {
        *c.slot = fl_add_checkbutton(FL_PUSH_BUTTON, 20, y, 200, 25, c.label);
        y += 30;
    }
    p->ok = fl_add_button(FL_RETURN_BUTTON, 30, y + 10, 100, 30, "Extract");
    p->cancel = fl_add_button(FL_NORMAL_BUTTON, 170, y + 10, 100, 30, "Cancel");
    fl_end_form();
    fl_set_form_atclose(
        p->form,
        [](FL_FORM*, void* c) {
            fl_trigger_object((FL_OBJECT*)c);
            return (int)FL_IGNORE;
        },
        p->cancel);
    return p;
}

// A whole number or a number of the whole text.
bool number(FL_OBJECT* in, double* v) {
    const char* s = fl_get_input(in);
    char* end = nullptr;
    *v = std::strtod(s, &end);
    return *s && end && *end == 0 && std::isfinite(*v);
}

// The folder for the stacks: the chosen path when it is a folder or names
// none yet (made then), else the folder of the chosen file.
std::string folderOf(const std::string& chosen) {
    struct stat st;
    if (stat(chosen.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        const size_t i = chosen.rfind('/');
        return i == std::string::npos ? "." : chosen.substr(0, std::max<size_t>(i, 1));
    }
    std::string d = chosen;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d;
}

}  // namespace

bool extract_panel(ExtractParams* p) {
    FD_extract* f = create_form_extract();
    fl_set_input(f->size, std::to_string(p->size > 0 ? p->size : MMode.boxX).c_str());
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", p->bin);
    fl_set_input(f->bin, buf);
    std::snprintf(buf, sizeof buf, "%g", p->radius);
    fl_set_input(f->radius, buf);
    fl_set_button(f->normalise, p->normalise);
    fl_set_button(f->ramp, p->ramp);
    fl_set_button(f->invert, p->invert);
    fl_set_button(f->flip, p->flip);
    fl_set_button(f->fillEdge, p->fillEdge);
    gui_deactivate_all();
    fl_activate_form(f->form);
    fl_show_form(f->form, FL_PLACE_CENTER, FL_FULLBORDER, "Extract Particles");
    const bool chosen = dlg_run_form(f->form, {f->ok, f->cancel}) == f->ok;
    ExtractParams q = *p;
    double size = 0, bin = 0, radius = 0;
    const bool read = number(f->size, &size) && number(f->bin, &bin) && number(f->radius, &radius);
    q.size = (int)size;
    q.bin = bin;
    q.radius = radius;
    q.normalise = fl_get_button(f->normalise);
    q.ramp = fl_get_button(f->ramp);
    q.invert = fl_get_button(f->invert);
    q.flip = fl_get_button(f->flip);
    q.fillEdge = fl_get_button(f->fillEdge);
    fl_hide_form(f->form);
    fl_free_form(f->form);
    std::free(f);
    gui_activate_all();
    if (!chosen) return false;
    std::string why;
    if (!read || size != q.size || radius < 0)
        why = "Box size, binning and radius must be numbers.";
    else if (!extract_out_size(q, &why))
        why[0] = (char)std::toupper((unsigned char)why[0]);
    if (!why.empty()) {
        dlg_message("Cannot extract:", why.c_str());
        return false;
    }
    *p = q;
    return true;
}

void m_Box_extract() {
    Selection s;
    if (s.count() != 1) {
        if (s.count() > 1) dlg_message("Please select a single data set.");
        return;
    }
    MRCData* d = s.at(0);
    std::vector<Pick> boxes;
    boxesToPicks(d, &boxes);
    if (d->isComplex() || boxes.empty()) {
        dlg_message("The selected image has no boxes to extract.");
        return;
    }
    ExtractParams p;
    p.size = boxes[0].w + boxes[0].w % 2;  // the boxes' own size, made even
    std::string chosen;
    if (!extract_panel(&p) || !dlg_file_single(&chosen)) return;
    ExtractJob job;
    job.params = p;
    job.outDir = folderOf(chosen);
    ExtractSource src;
    src.micrograph = std::strcmp(d->File(), "unknown") ? d->File() : d->Name();
    src.pixels = d->getRealData();
    src.nx = d->xSize();
    src.ny = d->ySize();
    src.pixel = d->Pixres();
    src.havePicks = true;
    src.picks = extract_centres(boxes);
    job.sources.push_back(src);
    // A flip estimates the CTF with the microscope of the preferences.
    job.kv = getenvfd("voltage", 100);
    job.csMM = getenvfd("spherab", 5.6f);
    job.ac = 0.07f;
    std::vector<ExtractReport> reports;
    std::string starWhy;
    {
        BusyScope busy;
        extract_job(job, &reports, nullptr, &starWhy);
    }
    const ExtractReport* r = reports.empty() ? nullptr : &reports[0];
    if (!r || !r->ok) {
        dlg_message("Cannot extract:", r ? r->why.c_str() : starWhy.c_str());
        return;
    }
    std::printf("%s: %d particles written, %d skipped at the edge, %s\n", r->micrograph.c_str(), r->written,
                r->skipped, r->stack.empty() ? "no stack" : r->stack.c_str());
    if (r->stack.empty()) {
        dlg_message("No particle extracted:", "every box crosses the image edge.");
        return;
    }
    if (!starWhy.empty()) dlg_message("Cannot extract:", starWhy.c_str());
    std::string stack = r->stack;
    char* names[] = {&stack[0]};
    open_startup_files(1, names);
}
