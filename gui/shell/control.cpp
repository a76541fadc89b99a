#include "gui/shell/control.h"
#include "gui/shell/registry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "gui/shell/dialogs.h"
#include "gui/shell/file_cmds.h"
#include "gui/shell/help.h"
#include "gui/shell/inputs.h"
#include "gui/shell/menus.h"
#include "gui/shell/state.h"
#include "gui/shell/viewlink.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/hooks.h"
#include "core/prefs.h"
#include "gui/ctf/livec.h"
#include "gui/ctf/livec_seed.h"
#include "gui/display/colormap.h"

namespace {
float g_histX[256], g_histY[256];
float g_prevZoom = 1;

MRCData* dataAt(List* g, int i) {
    return (MRCData*)objectAt(g, i);
}

void setHistSlider(float ymax) {
    double lo, hi;
    fl_get_slider_bounds(control->maxHist, &lo, &hi);
    fl_set_slider_bounds(control->maxHist, std::sqrt(ymax), 0.02);
    if (lo * lo != ymax) fl_set_slider_value(control->maxHist, std::sqrt(ymax));
    double v = fl_get_slider_value(control->maxHist);
    fl_set_xyplot_ybounds(control->histPlot, 0, std::round(v * v * 1000) / 1000);
}

// What the pixel-size entries and the "#" count show, i.e. the values in
// force: a refused entry shows its text again.
std::map<FL_OBJECT*, std::string> g_shown;

void showText(FL_OBJECT* ob, const std::string& t) {
    fl_set_input(ob, t.c_str());
    g_shown[ob] = t;
}

// Input text with "%4.2f".
void showFloat(FL_OBJECT* ob, float v) {
    fl_set_input_float(ob, v);
    g_shown[ob] = fl_get_input(ob);
}

bool usable(float v) {
    return std::isfinite(v) && v > 0;
}
}  // namespace

float fl_get_input_float(FL_OBJECT* ob) {
    float v = 0;
    const char* s = fl_get_input(ob);
    if (!s || std::sscanf(s, " %f", &v) != 1) return 0;
    return v;
}

void fl_set_input_float(FL_OBJECT* ob, float v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%4.2f", v);
    fl_set_input(ob, buf);
}

// ---------------------------------------------------------------- the form

FD_control* create_form_control() {
    FD_control* c = (FD_control*)std::calloc(1, sizeof(FD_control));
    c->control = fl_bgn_form(FL_UP_BOX, 530, 590);
    FL_OBJECT* bar = fl_add_box(FL_UP_BOX, 0, 0, 530, 30, "");
    fl_set_object_gravity(bar, FL_NorthWest, FL_NorthEast);
    struct M {
        FL_OBJECT** slot;
        const char* label;
        FL_CALLBACKPTR cb;
        int w;
    } menus[] = {{&c->fileMenu, "File", m_File, 45},    {&c->boxMenu, "Box", m_Box, 45},
                 {&c->toolsMenu, "Tools", m_Tools, 50}, {&c->userMenu, "User", m_User, 45},
                 {&c->ctfMenu, "CTF", m_Ctf, 45},       {&c->testMenu, "Test Image", m_Test, 80},
                 {&c->helpMenu, "Help", m_Help, 45}};
    int x = 5;
    for (auto& m : menus) {
        *m.slot = fl_add_menu(FL_PULLDOWN_MENU, x, 5, m.w, 20, m.label);
        fl_set_object_callback(*m.slot, m.cb, 0);
        fl_set_object_gravity(*m.slot, FL_NorthWest, FL_NorthWest);
        x += m.w + 5;
    }
    c->histFile = fl_add_button(FL_NORMAL_BUTTON, 10, 40, 22, 22, "");
    fl_set_object_callback(c->histFile, v_histfile, 0);
    c->invert = fl_add_button(FL_NORMAL_BUTTON, 5, 70, 35, 25, "B=0");
    fl_set_object_callback(c->invert, v_Invert, 0);
    c->histPlot = fl_add_xyplot(FL_NORMAL_XYPLOT, 45, 35, 300, 130, "");
    c->maxHist = fl_add_slider(FL_VERT_SLIDER, 350, 50, 20, 115, "Hist:");
    fl_set_object_lalign(c->maxHist, FL_ALIGN_TOP);
    fl_set_object_callback(c->maxHist, v_Maxhist, 0);
    fl_set_slider_bounds(c->maxHist, 1, 0.02);
    fl_set_slider_value(c->maxHist, 1);
    c->scaleHist = fl_add_slider(FL_HOR_SLIDER, 45, 168, 300, 15, "");
    fl_set_object_callback(c->scaleHist, v_Scalehist, 0);
    fl_set_slider_bounds(c->scaleHist, 0, 1);
    fl_set_slider_value(c->scaleHist, 1);
    c->pan = fl_add_positioner(FL_NORMAL_POSITIONER, 400, 45, 100, 100, "");
    fl_set_object_callback(c->pan, v_Pan, 0);
    fl_set_positioner_xbounds(c->pan, 0, 1);
    fl_set_positioner_ybounds(c->pan, 0, 1);
    c->maxGray = fl_add_valslider(FL_HOR_SLIDER, 45, 190, 300, 20, "Max:");
    c->minGray = fl_add_valslider(FL_HOR_SLIDER, 45, 215, 300, 20, "Min:");
    FL_OBJECT* gs[] = {c->maxGray, c->minGray};
    for (FL_OBJECT* o : gs) {
        fl_set_object_lalign(o, FL_ALIGN_LEFT);
        fl_set_slider_precision(o, 3);
        fl_set_slider_bounds(o, 0, 1);
    }
    fl_set_slider_value(c->maxGray, 1.0);
    fl_set_slider_value(c->minGray, 0.0);
    fl_set_object_callback(c->maxGray, v_Maxgray, 0);
    fl_set_object_callback(c->minGray, v_Mingray, 0);
    c->zoom = fl_add_valslider(FL_HOR_SLIDER, 45, 240, 300, 20, "Zoom:");
    fl_set_object_lalign(c->zoom, FL_ALIGN_LEFT);
    fl_set_slider_bounds(c->zoom, 0.1, 5.0);
    fl_set_slider_value(c->zoom, 1.0);
    fl_set_slider_precision(c->zoom, 3);
    fl_set_object_callback(c->zoom, v_Zoom, 0);
    const char* zl[] = {"1/4x", "1/2x", "1x", "2x", "4x"};
    for (int i = 0; i < 5; i++) {
        c->zoomBtn[i] = fl_add_button(FL_NORMAL_BUTTON, 45 + 60 * i, 265, 55, 22, zl[i]);
        fl_set_object_callback(c->zoomBtn[i], v_Zoom, i + 1);
    }
    c->scanres = fl_add_input(FL_NORMAL_INPUT, 440, 190, 80, 22, "Pixel (A)");
    fl_set_object_callback(c->scanres, v_Scanres, 0);
    c->mag = fl_add_input(FL_NORMAL_INPUT, 440, 215, 80, 22, "Mag (k)");
    fl_set_object_callback(c->mag, v_Mag, 0);
    c->scanpix = fl_add_input(FL_NORMAL_INPUT, 440, 240, 80, 22, "Scan (um)");
    fl_set_object_callback(c->scanpix, v_Scanpix, 0);

    c->groups = fl_add_browser(FL_HOLD_BROWSER, 10, 310, 150, 200, "Image Groups");
    fl_set_object_lalign(c->groups, FL_ALIGN_TOP);
    fl_set_object_callback(c->groups, sel_Group, 0);
    c->images = fl_add_browser(FL_MULTI_BROWSER, 170, 310, 240, 200, "Images");
    fl_set_object_lalign(c->images, FL_ALIGN_TOP);
    fl_set_object_posthandler(c->images, imsel);
    c->views = fl_add_browser(FL_HOLD_BROWSER, 420, 310, 100, 200, "Views");
    fl_set_object_lalign(c->views, FL_ALIGN_TOP);
    fl_set_object_callback(c->views, sel_View, 0);
    FL_OBJECT* lists[] = {c->groups, c->images, c->views};
    for (FL_OBJECT* o : lists) fl_set_browser_specialkey(o, '\x1f');  // names are shown as they are
    fl_set_object_gravity(c->groups, FL_NorthWest, FL_South);
    fl_set_object_gravity(c->images, FL_North, FL_South);
    fl_set_object_gravity(c->views, FL_NorthEast, FL_SouthEast);

    c->groupName = fl_add_input(FL_NORMAL_INPUT, 10, 515, 150, 22, "");
    fl_set_object_callback(c->groupName, sel_Gtext, 0);
    c->addGroup = fl_add_button(FL_NORMAL_BUTTON, 10, 545, 70, 25, "Add");
    fl_set_object_callback(c->addGroup, sel_Addgr, 0);
    c->delGroup = fl_add_button(FL_NORMAL_BUTTON, 90, 545, 70, 25, "Del");
    fl_set_object_callback(c->delGroup, sel_Delgr, 0);
    c->all = fl_add_button(FL_NORMAL_BUTTON, 170, 515, 55, 25, "ALL");
    fl_set_object_callback(c->all, sel_All, 0);
    c->none = fl_add_button(FL_NORMAL_BUTTON, 230, 515, 55, 25, "NONE");
    fl_set_object_callback(c->none, sel_None, 0);
    c->numdo = fl_add_button(FL_NORMAL_BUTTON, 290, 515, 55, 25, "#");
    fl_set_object_callback(c->numdo, sel_Numdo, 0);
    c->numCount = fl_add_input(FL_INT_INPUT, 290, 545, 55, 25, "");
    showText(c->numCount, "10");
    c->imDel = fl_add_button(FL_NORMAL_BUTTON, 350, 515, 60, 25, "DEL");
    fl_set_object_callback(c->imDel, sel_Imdel, 0);
    c->addView = fl_add_button(FL_NORMAL_BUTTON, 420, 515, 45, 25, "Add");
    fl_set_object_callback(c->addView, sel_Addview, 0);
    c->delView = fl_add_button(FL_NORMAL_BUTTON, 475, 515, 45, 25, "Del");
    fl_set_object_callback(c->delView, sel_Delview, 0);
    FL_OBJECT* bottom[] = {c->groupName, c->addGroup, c->delGroup, c->all, c->none, c->numdo, c->numCount, c->imDel};
    for (FL_OBJECT* o : bottom) fl_set_object_gravity(o, FL_SouthWest, FL_SouthWest);
    fl_set_object_gravity(c->addView, FL_SouthEast, FL_SouthEast);
    fl_set_object_gravity(c->delView, FL_SouthEast, FL_SouthEast);
    FL_OBJECT* top[] = {c->histFile, c->invert,  c->histPlot, c->maxHist, c->scaleHist, c->pan,
                        c->maxGray,  c->minGray, c->zoom,     c->scanres, c->mag,       c->scanpix};
    for (FL_OBJECT* o : top) fl_set_object_gravity(o, FL_NorthWest, FL_NorthWest);
    for (FL_OBJECT* o : c->zoomBtn) fl_set_object_gravity(o, FL_NorthWest, FL_NorthWest);
    fl_end_form();
    return c;
}

// ---------------------------------------------------------------- selection

static int selectedLine(FL_OBJECT* br) {
    int n = fl_get_browser(br);
    if (n == 0 && fl_get_browser_maxline(br) > 0) {
        fl_select_browser_line(br, 1);
        n = 1;
    }
    return n < 0 ? -n : n;
}

DataWin* current_view() {
    if (!control) return (DataWin*)objectAt(viewList, 0);
    int n = selectedLine(control->views);
    return (DataWin*)objectAt(viewList, n - 1);
}

int current_group_number() {
    if (!control) return 1;
    int n = selectedLine(control->groups);
    return n < 1 ? 1 : n;
}

List* current_group() {
    return (List*)objectAt(dataList, current_group_number() - 1);
}

List* get_selected_data() {
    List* l = new List();
    List* g = current_group();
    int n = fl_get_browser_maxline(control->images);
    for (int i = 1; i <= n; i++)
        if (fl_isselected_browser_line(control->images, i) && dataAt(g, i - 1)) l->addObject(dataAt(g, i - 1));
    return l;
}

MRCData* get_1_data() {
    List* l = get_selected_data();
    MRCData* d = l->count() == 1 ? (MRCData*)l->objectAt(0) : nullptr;
    delete l;
    return d;
}

void update_data_list() {
    fl_freeze_form(control->control);
    fl_deactivate_form(control->control);
    fl_clear_browser(control->images);
    List* g = current_group();
    for (int i = 0; i < count(g); i++) {
        MRCData* d = dataAt(g, i);
        char buf[512];
        std::snprintf(buf, sizeof buf, "%d. %s %dx%d", i + 1, d->Name(), d->xSize(), d->ySize());
        fl_add_browser_line(control->images, buf);
        d->setSeqno(i + 1);
    }
    // Deactivation counts, so this pair leaves a busy command's own in place.
    fl_activate_form(control->control);
    fl_unfreeze_form(control->control);
}

void sel_Image(FL_OBJECT*, long) {
    if (help_for("This is a list of images in the current image group (the list to the left). Selected images will be "
                 "displayed in the current image window. Note that some mouse functions don't work if multiple images "
                 "are selected."))
        return;
    List* g = current_group();
    int ref = std::abs(fl_get_browser(control->images));
    int rx = 0, ry = 0;
    if (MRCData* r = dataAt(g, ref - 1)) {
        rx = r->xSize();
        ry = r->ySize();
    }
    List* l = new List();
    int n = fl_get_browser_maxline(control->images);
    for (int i = 1; i <= n; i++) {
        if (!fl_isselected_browser_line(control->images, i)) continue;
        MRCData* d = dataAt(g, i - 1);
        if (!d || d->xSize() != rx || d->ySize() != ry)
            fl_deselect_browser_line(control->images, i);
        else
            l->addObject(d);
    }
    DataWin* v = current_view();
    MRCData* d = (MRCData*)objectAt(l, 0);
    if (!v) {
        delete l;
        return;
    }
    const int selected = count(l);
    v->setData(l);  // the view owns the list now (and deletes an empty one)
    if (!d) return;
    if (livec_is_open() && selected == 1 && d->isComplex()) {
        if (d->hasPstate())
            livec_redisp(d);
        else
            livec_seed(d, nullptr, 0);
    }
    float lo = d->Histmin(), hi = d->Histmax();
    float ymax = 0.005f;
    for (int i = 0; i < 256; i++) {
        g_histX[i] = lo + i * (hi - lo) / 256;
        g_histY[i] = d->Histogram()[i];
        ymax = std::max(ymax, g_histY[i]);
    }
    fl_set_xyplot_data(control->histPlot, g_histX, g_histY, 256, "", "", "");
    setHistSlider(ymax);
    fl_set_slider_value(control->scaleHist, std::sqrt(std::max(0.0f, d->Histscale())));
    fl_set_slider_bounds(control->minGray, lo, hi);
    fl_set_slider_bounds(control->maxGray, lo, hi);
    if (d->RenMin() < lo || d->RenMax() > hi) d->setRenMinMax(lo, hi);
    fl_set_slider_value(control->minGray, d->RenMin());
    fl_set_slider_value(control->maxGray, d->RenMax());
    v->setMMGray(d->RenMin(), d->RenMax());
    showFloat(control->scanpix, d->Pixres() * d->Mag() / 10);
    showFloat(control->mag, d->Mag());
    showFloat(control->scanres, d->Pixres());
    v_Zoom(control->zoom, 0);
}

int imsel(FL_OBJECT* ob, int event, FL_Coord, FL_Coord, int, void*) {
    // In help mode the list answers with its text even before any line was clicked.
    if (event == FL_RELEASE && (fl_get_browser(ob) != 0 || dohelp())) sel_Image(ob, 0);
    return 0;
}

void sel_All(FL_OBJECT*, long) {
    if (help_for("Selects all images in the current image group.")) return;
    int n = fl_get_browser_maxline(control->images);
    for (int i = 1; i <= n; i++) fl_select_browser_line(control->images, i);
    sel_Image(nullptr, 0);
}

void sel_None(FL_OBJECT*, long) {
    if (help_for("Deselects all images in the current image group.")) return;
    fl_deselect_browser(control->images);
    sel_Image(nullptr, 0);
}

void sel_Numdo(FL_OBJECT*, long) {
    if (help_for("Selects the number of images selected in the box below this button. Pressing it multiple times will "
                 "scroll through all of the images in the group."))
        return;
    int max = fl_get_browser_maxline(control->images);
    int cur = std::abs(fl_get_browser(control->images));
    int start = cur + 1;
    if (cur == 0 || start > max) start = 1;
    double count;
    if (!input_number(control->numCount, "Count", whole_between(1, 100000), g_shown[control->numCount], &count))
        return;
    const int n = (int)count;
    showText(control->numCount, std::to_string(n));
    fl_deselect_browser(control->images);
    int end = std::min(max, start + n - 1);
    for (int i = start; i <= end; i++) fl_select_browser_line(control->images, i);
    sel_Image(nullptr, 0);
}

void sel_Imdel(FL_OBJECT*, long) {
    if (help_for("Deletes currently selected images. There is no undo, so be careful.")) return;
    List* sel = get_selected_data();
    List* g = current_group();
    for (int i = 0; i < sel->count(); i++) {
        MRCData* d = (MRCData*)sel->objectAt(i);
        g->removeObject(d);
        destroy_data(d);
    }
    delete sel;
    update_data_list();
}

void v_histfile(FL_OBJECT*, long) {
    if (help_for(
            "Writes the histograms of the selected images to files.\n\nYou are asked for the density range and a root "
            "name; image i goes to root.i.dat."))
        return;
    std::string ans;
    if (!dlg_input("Enter min,max,root name", "", &ans)) return;
    float lo, hi;
    char root[1024];
    if (std::sscanf(ans.c_str(), " %f , %f , %1023s", &lo, &hi, root) != 3) return;
    List* sel = get_selected_data();
    for (int i = 0; i < sel->count(); i++) {
        MRCData* d = (MRCData*)sel->objectAt(i);
        d->rehist(lo, hi);
        char name[1100];
        std::snprintf(name, sizeof name, "%s.%02d.dat", root, i + 1);
        FILE* fp = std::fopen(name, "w");
        if (!fp) break;
        for (int j = 0; j < 256; j++) std::fprintf(fp, "%4.3g\t%4.1g\n", lo + (hi - lo) / 255 * j, d->Histogram()[j]);
        std::fclose(fp);
    }
    delete sel;
}

// ---------------------------------------------------------------- groups

void sel_Group(FL_OBJECT*, long) {
    if (help_for(
            "This contains a list of groups of images. The images in the currently selected group are displayed in "
            "the list to the right."))
        return;
    update_data_list();
    fl_deselect_browser(control->images);
    if (DataWin* v = current_view()) {
        v->setData(nullptr);
        v->setGroup(current_group_number());
    }
    const char* l = fl_get_browser_line(control->groups, current_group_number());
    fl_set_input(control->groupName, l ? l : "");
}

void sel_Addgr(FL_OBJECT*, long) {
    if (help_for("Adds a new (empty) image group.")) return;
    const char* t = fl_get_input(control->groupName);
    int keep = current_group_number();
    add_group(t && *t ? t : "New group");
    fl_select_browser_line(control->groups, keep);
}

void sel_Gtext(FL_OBJECT*, long) {
    if (help_for("This changes the name of the selected group.")) return;
    int n = fl_get_browser(control->groups);
    if (n <= 0) return;
    const char* t = fl_get_input(control->groupName);
    fl_replace_browser_line(control->groups, n, t ? t : "");
}

void sel_Delgr(FL_OBJECT*, long) {
    if (help_for("Deletes the current image group.\n\nWarning: This also deletes all of the images in that group (from "
                 "memory, it does not affect files on the disk). There is no undo function."))
        return;
    int k = fl_get_browser(control->groups);
    if (k <= 0 || count(dataList) < 2) return;
    for (int i = 0; i < count(viewList); i++) {
        DataWin* v = (DataWin*)viewList->objectAt(i);
        v->setData(nullptr);
        // Views keep group numbers: the ones behind the deleted group move up.
        if (v->Group() == k)
            v->setGroup(1);
        else if (v->Group() > k)
            v->setGroup(v->Group() - 1);
    }
    List* g = (List*)dataList->removeObjectAt(k - 1);
    for (int i = 0; i < count(g); i++) destroy_data((MRCData*)g->objectAt(i));
    delete g;
    fl_delete_browser_line(control->groups, k);
    fl_select_browser_line(control->groups, 1);
    // The image list would otherwise still name the destroyed images.
    update_data_list();
    const char* l = fl_get_browser_line(control->groups, 1);
    fl_set_input(control->groupName, l ? l : "");
}

// ---------------------------------------------------------------- views

void sel_View(FL_OBJECT*, long) {
    if (help_for(
            "Selects the current view.\n\nThis is a numbered list of all of the image views currently on the screen."))
        return;
    DataWin* v = current_view();
    if (!v) return;
    fl_freeze_form(control->control);
    v->freeze();
    int g = v->Group();
    if (g < 1 || g > count(dataList)) g = 1;
    fl_select_browser_line(control->groups, g);
    update_data_list();
    fl_deselect_browser(control->images);
    List* grp = current_group();
    List* shown = v->data();
    for (int i = 0; i < count(grp); i++)
        if (indexOf(shown, grp->objectAt(i)) >= 0) fl_select_browser_line(control->images, i + 1);
    sel_Image(nullptr, 0);
    v->unfreeze();
    fl_unfreeze_form(control->control);
}

DataWin* make_view(int x, int y) {
    DataWin* v = new DataWin(x, y);
    if (!view_ok(v)) {
        delete v;
        return nullptr;
    }
    v->setGroup(current_group_number());
    // A view closed by the window manager would end the program: views go
    // through "Del" instead.
    fl_set_form_atclose(
        v->form->datawin, [](FL_FORM*, void*) { return (int)FL_IGNORE; }, nullptr);
    if (cursors[MMode.mode]) v->setCursor(cursors[MMode.mode]);
    viewList->addObject(v);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%1d", viewList->count());
    fl_add_browser_line(control->views, buf);
    fl_select_browser_line(control->views, viewList->count());
    return v;
}

void sel_Addview(FL_OBJECT*, long) {
    if (help_for("Makes a new view.\n\nThis feature could cause the program to crash. Multiple views are supported for "
                 "comparing images of different sizes or with different settings."))
        return;
    if (!make_view(650, 270 + 15 * count(viewList))) {
        std::printf("Unable to open image viewer!\n");
        std::exit(1);
    }
    sel_View(nullptr, 0);
}

void sel_Delview(FL_OBJECT*, long) {
    if (help_for(
            "Removes the selected view from the screen.\n\nThis has no effect on the images in the view. There must "
            "always be at least one view on on the screen."))
        return;
    if (count(viewList) < 2) return;
    DataWin* v = current_view();
    viewList->removeObject(v);
    delete v;
    int n = fl_get_browser_maxline(control->views);
    fl_delete_browser_line(control->views, n);
    fl_select_browser_line(control->views, n - 1);
}

void resize_callback(DataWin* v) {
    if (!control) return;
    int i = indexOf(viewList, v);
    if (i < 0) return;  // still being built
    fl_select_browser_line(control->views, i + 1);
    sel_View(nullptr, 0);
}

// ---------------------------------------------------------------- viewing parameters

void v_Mingray(FL_OBJECT*, long) {
    if (help_for("This sets the image density which corresponds to absolute black. Its position corresponds to "
                 "thehistogram of densitys above."))
        return;
    if (DataWin* v = current_view())
        v->setMMGray(fl_get_slider_value(control->minGray), fl_get_slider_value(control->maxGray));
}

void v_Maxgray(FL_OBJECT*, long) {
    if (help_for("This sets the image density which corresponds to absolute white. Its position corresponds to "
                 "thehistogram of densitys above."))
        return;
    if (DataWin* v = current_view())
        v->setMMGray(fl_get_slider_value(control->minGray), fl_get_slider_value(control->maxGray));
}

void v_Pan(FL_OBJECT*, long) {
    if (help_for("This allows you to pan the selected image if it is too large to fit in the window.")) return;
    if (DataWin* v = current_view())
        v->setOrigin((int)fl_get_positioner_xvalue(control->pan), (int)fl_get_positioner_yvalue(control->pan));
}

void v_Zoom(FL_OBJECT*, long arg) {
    if (help_for("Changes the zoom factor for the selected image.\n\nNote that averaging is not done for scale factors "
                 "less than 1.0."))
        return;
    static const float steps[] = {0.25f, 0.5f, 1, 2, 4};
    float z;
    if (arg >= 1 && arg <= 5) {
        z = steps[arg - 1];
        fl_set_slider_value(control->zoom, z);
    } else {
        z = (float)fl_get_slider_value(control->zoom);
    }
    DataWin* v = current_view();
    if (!v) return;
    v->setZoom(z);
    int cw = view_canvasW(v), ch = view_canvasH(v);
    int xmax = std::max(0, view_fullW(v) - cw), ymax = std::max(0, view_fullH(v) - ch);
    float px = (float)fl_get_positioner_xvalue(control->pan), py = (float)fl_get_positioner_yvalue(control->pan);
    float nx = (px + cw / 2) * z / g_prevZoom - cw / 2;
    float ny = (py + ch / 2) * z / g_prevZoom - ch / 2;
    nx = std::min(std::max(nx, 0.0f), (float)xmax);
    ny = std::min(std::max(ny, 0.0f), (float)ymax);
    g_prevZoom = z;
    fl_set_positioner_xbounds(control->pan, 0, xmax);
    fl_set_positioner_ybounds(control->pan, 0, ymax);
    fl_set_positioner_xvalue(control->pan, nx);
    fl_set_positioner_yvalue(control->pan, ny);
    v->setOrigin((int)nx, (int)ny);
}

void v_Maxhist(FL_OBJECT*, long) {
    if (help_for(
            "Rescales the y axis of the histogram.\n\nThis allows you to look at smaller details when there is a very "
            "large central peak.\n"))
        return;
    double v = fl_get_slider_value(control->maxHist);
    fl_set_xyplot_ybounds(control->histPlot, 0, std::round(v * v * 1000) / 1000);
}

void v_Scalehist(FL_OBJECT*, long) {
    if (help_for(
            "Changes the x axis scale of the histogram.\n\nThis allows you to zoom in (slide left) or out (slide "
            "right) on the central maximum in the histogram. This also changes the limits of the min/max sliders so "
            "the scales match."))
        return;
    List* sel = get_selected_data();
    MRCData* d = (MRCData*)objectAt(sel, 0);
    delete sel;
    if (!d) return;
    float s = (float)fl_get_slider_value(control->scaleHist);
    if (s <= 0) s = 0.01f;
    float k = d->isComplex() ? 8 : 5;
    float f = std::exp((s - 1) * k);
    float lo = d->Mean() - ((d->Max() - d->Mean()) * (1 - s) + s * (d->Mean() - d->Min())) * f;
    float hi = d->Mean() + (d->Max() - d->Mean()) * f;
    d->rehist(lo, hi);
    float top[3] = {0.005f, 0.005f, 0.005f};
    for (int i = 0; i < 256; i++) {
        g_histX[i] = lo + (hi - lo) / 256 * i;
        g_histY[i] = d->Histogram()[i];
        float y = std::max(g_histY[i], 0.005f);
        if (y > top[0]) {
            top[2] = top[1];
            top[1] = top[0];
            top[0] = y;
        } else if (y > top[1]) {
            top[2] = top[1];
            top[1] = y;
        } else if (y > top[2]) {
            top[2] = y;
        }
    }
    float t = top[2], m = top[0];
    float ymax = 1.5f * t < m ? 1.15f * t : 1.05f * t;
    fl_set_xyplot_data(control->histPlot, g_histX, g_histY, 256, "", "", "");
    setHistSlider(ymax);
    fl_set_slider_bounds(control->minGray, d->Histmin(), d->Histmax());
    fl_set_slider_bounds(control->maxGray, d->Histmin(), d->Histmax());
}

// ---------------------------------------------------------------- pixel size

// Pixel size, magnification and scanner step: above 0, and none so large that
// the one computed from the others leaves its range.
const InputRange kScaleRange = scale_range();
const char* kPixField = "Pixel size (A)";
const char* kMagField = "Magnification (k)";
const char* kScanField = "Scanner step (um)";

// The typed entry, or nothing (refused: message, the entry in force shown again).
static bool typedScale(FL_OBJECT* ob, const char* field, double* v) {
    return input_number(ob, field, kScaleRange, g_shown[ob], v);
}

// A value computed from the entries; one out of range refuses the typed entry.
static bool derivedOk(float v, const char* field, FL_OBJECT* typed) {
    if (usable(v) && v <= kScaleRange.hi) return true;
    input_refuse(typed, input_range_message(field, kScaleRange), g_shown[typed]);
    return false;
}

// The magnification and scanner step in force for a computation: the entry,
// else the preference.
static float magInForce() {
    float mag = fl_get_input_float(control->mag);
    return usable(mag) ? mag : getenvfd("mag", 30);
}
static float scanInForce() {
    float scan = fl_get_input_float(control->scanpix);
    return usable(scan) ? scan : getenvfd("scanres", 25);
}

static void applyScale(float mag, float pixres) {
    if (!usable(mag) || !usable(pixres)) return;  // nothing sensible to hand to the images
    if (DataWin* v = current_view()) v->setImParms(mag, pixres);
}

static const char* kMagHelp =
    "This is the magnification the image was taken at. Entering a value here will change the related values. The "
    "default values can be Set in the global preferences on the Tools menu.";

void v_Scanpix(FL_OBJECT*, long) {
    if (help_for(
            "This is the step size of the scanner (micrometres) the image was digitised with. Entering a value here "
            "will change the pixel size. The default values can be Set in the global preferences on the Tools "
            "menu."))
        return;
    double scan;
    if (!typedScale(control->scanpix, kScanField, &scan)) return;
    const float mag = magInForce();
    const float pixres = 10 * (float)scan / mag;
    if (!derivedOk(pixres, kPixField, control->scanpix)) return;
    showFloat(control->scanpix, (float)scan);
    showFloat(control->scanres, pixres);
    applyScale(mag, pixres);
}

void v_Mag(FL_OBJECT*, long) {
    if (help_for(kMagHelp)) return;
    double mag;
    if (!typedScale(control->mag, kMagField, &mag)) return;
    const float pixres = 10 * scanInForce() / (float)mag;
    if (!derivedOk(pixres, kPixField, control->mag)) return;
    showFloat(control->mag, (float)mag);
    showFloat(control->scanres, pixres);
    applyScale((float)mag, pixres);
}

void v_Scanres(FL_OBJECT*, long) {
    if (help_for(
            "This is the pixel size of the image in Angstrom. Entering a value here will change the related values. "
            "The default values can be Set in the global preferences on the Tools menu."))
        return;
    double pixres;
    if (!typedScale(control->scanres, kPixField, &pixres)) return;
    const float mag = 10 * scanInForce() / (float)pixres;
    if (!derivedOk(mag, kMagField, control->scanres)) return;
    showFloat(control->scanres, (float)pixres);
    showFloat(control->mag, mag);
    applyScale(mag, (float)pixres);
}
