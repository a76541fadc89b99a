// The mouse panel and its callbacks; the views' mode handlers are looked up
// here so that each mouse mode can live in its own file.
#include "gui/display/mouse.h"

#include <forms.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/List.h"
#include "gui/display/mmode.h"
#include "core/prefs.h"
#include "gui/display/datawin.h"
#include "gui/display/xglobals.h"
#include "fft/ifftsubs.h"
#include "core/MRCData.h"
#include "gui/shell/inputs.h"

namespace {
ModeHandler g_handlers[2][7] = {};  // [complex][mode]
// Box sizes typed in are rounded up to the next size the FFT accepts.
int (*g_boxRound)(int) = npfa;

// The mode buttons: label, mode number, help text.
struct ModeButton {
    const char* label;
    int mode;
    const char* help;
};
const ModeButton kModeButtons[7] = {
    {"MOVE", MOVE,
     "Selects 'MOVE' mouse mode.\n\nIn this mode, the center mouse button can be used to drag the image. Clicking "
     "the left mouse button on an object will center that object in the view (if possible)."},
    {"DRAG", DRAG,
     "Selects 'DRAG' mouse mode for boxing images.\n\nIn this mode dragging a box with the left mouse button will "
     "cause the selected region to be boxed. That is, it is copied into a new image in the 'Clips' group."},
    {"BOX", BOX,
     "Selects 'BOX' mouse mode.\n\nThis mode is for boxing fixed size regions of the screen. Click with the left "
     "button on the region you wish to box and that area will be copied to a new image in the 'Clips' group."},
    {"CTF", CTF,
     "Selects 'CTF' mouse mode.\n\nThis mode is currently only used on complex images. Selecting this mode when a "
     "complex image is displayed will bring up the CTF fitting window."},
    {"ZAP", ZAP,
     "Selects 'ZAP' mouse mode.\n\nThis mode is designed for manually selecting images from a large set. When "
     "multiple images are displayed in a view, any image you click on will be moved to another image group."},
    {"DB", DB,
     "Select 'DB' mouse mode.\n\nThis mode allows you to adjust the positions of boxes on the screen. This can be "
     "used to align a box database between 2 images or simply adjust the positions of individual boxes. Be sure to "
     "'align all to new' or  'new permanent' afterwards."},
    {"FILA", FILA,
     "Filament Boxing mode.\n\nThis mode allows you to box out filaments which aren't aligned with the x/y axis. "
     "Enter the width of the filament as the  x-size of a box, then drag a line. The boxed filament will be "
     "outlined. You can load and save these boxes from/into box databases, but they won't be fully compatible with "
     "'boxmrc'."},
};
const char* kWvltHelp =
    "This enables wavelet filtering on the current view. This will notfilter the actual data, just the image "
    "rendered on the screen. This way you can boxparticles using the filtered image, but the original data will "
    "still be boxed.";
const char* kSizeHelp = "In 'Box' mode this is the size of the box to cut out.";
const int kMaxBox = 16384;
const char* kLiveHelp = "Selects what type of plot to do in live mode on complex images.";

bool inHelp(const char* text) {
    if (shellHooks.dohelp && shellHooks.dohelp()) {
        if (shellHooks.help && text) shellHooks.help(text);
        return true;
    }
    return false;
}

void redrawCurrentWavelet() {
    if (!MMode.waveletView || !shellHooks.currentView) return;
    if (DataWin* v = shellHooks.currentView()) v->redraw();
}

// The next valid FFT size, or the largest one that still fits the image.
int roundedBox(int n, int max) {
    int r = g_boxRound(n);
    if (r <= max) return r;
    for (r = max; r > 1 && g_boxRound(r) != r; r--) {
    }
    return r;
}

void showLevelSliders() {
    int lv = std::atoi(getenv2d("DWTlevel", "0"));
    for (int i = 0; i < 10; i++) {
        FL_OBJECT* s = (FL_OBJECT*)MMode.levelSlider[i];
        if (!s) continue;
        if (i < lv)
            fl_show_object(s);
        else
            fl_hide_object(s);
    }
}
}  // namespace

void setModeHandler(int mode, ModeHandler h, bool complexData) {
    if (mode >= 0 && mode < 7) g_handlers[complexData][mode] = h;
}
ModeHandler modeHandler(int mode, bool complexData) {
    return mode >= 0 && mode < 7 ? g_handlers[complexData][mode] : nullptr;
}
void setBoxSizeRounding(int (*npfa)(int)) {
    g_boxRound = npfa;
}

FD_mouse* create_mouse_panel(int show) {
    FD_mouse* fd = (FD_mouse*)fl_calloc(1, sizeof(FD_mouse));
    // Fits between its place at (570, 40) and the first view at (570, 200).
    fd->mouse = fl_bgn_form(FL_NO_BOX, 420, 140);
    fl_add_box(FL_UP_BOX, 0, 0, 420, 140, "");
    for (int i = 0; i < 7; i++) {
        const ModeButton& m = kModeButtons[i];
        FL_OBJECT* b = fl_add_button(FL_RADIO_BUTTON, 5 + 52 * i, 5, 50, 22, m.label);
        fl_set_object_callback(b, mm_Set, m.mode);
        fd->modeButton[m.mode] = b;
    }
    fd->wvlt = fl_add_button(FL_PUSH_BUTTON, 370, 5, 45, 22, "WVLT");
    fl_set_object_callback(fd->wvlt, mm_Set, 10);
    fd->sizeX = fl_add_input(FL_INT_INPUT, 35, 32, 45, 22, "Size:");
    fl_set_object_callback(fd->sizeX, m_Size, 0);
    fd->sizeY = fl_add_input(FL_INT_INPUT, 95, 32, 45, 22, "x");
    fl_set_object_callback(fd->sizeY, m_Size, 0);
    fd->boxChoice = fl_add_choice(FL_NORMAL_CHOICE, 175, 32, 70, 22, "Box:");
    fl_set_object_callback(fd->boxChoice, m_Boxtype, 0);
    fd->markChoice = fl_add_choice(FL_NORMAL_CHOICE, 285, 32, 70, 22, "Mark:");
    fl_set_object_callback(fd->markChoice, m_Marktype, 0);
    fd->liveChoice = fl_add_choice(FL_NORMAL_CHOICE, 35, 59, 140, 22, "Live:");
    fl_set_object_callback(fd->liveChoice, m_Livetype, 0);
    fd->basis = fl_add_choice(FL_NORMAL_CHOICE, 220, 59, 95, 22, "Basis:");
    fl_set_object_callback(fd->basis, new_wavelet, 0);
    fd->level = fl_add_input(FL_INT_INPUT, 370, 59, 45, 22, "Level:");
    fl_set_object_callback(fd->level, new_wavelet3, 0);
    for (int i = 0; i < 10; i++) {
        FL_OBJECT* s = fl_add_slider(FL_VERT_SLIDER, 10 + 32 * i, 86, 28, 49, "");
        fl_set_object_callback(s, new_wavelet2, i);
        fd->slider[i] = s;
    }
    fd->master = fl_add_slider(FL_HOR_SLIDER, 345, 100, 70, 20, "All");
    fl_set_object_lalign(fd->master, FL_ALIGN_TOP);
    fl_set_object_callback(fd->master, new_wavelet4, 0);
    fl_end_form();
    fd->mouse->fdui = fd;

    static const char* bases[15] = {"Haar",    "Daub4",    "Daub6",     "Daub8",  "Antonini",
                                    "Adelson", "Brislawn", "Brislawn2", "Villa1", "Villa2",
                                    "Villa3",  "Villa4",   "Villa5",    "Villa6", "Odegard"};
    for (const char* b : bases) fl_addto_choice(fd->basis, b);
    int basis = getenvid("DWTbasis", 1);
    if (basis < 0 || basis > 14) basis = 1;
    fl_set_choice(fd->basis, basis + 1);
    fl_set_input(fd->level, getenv2d("DWTlevel", "0"));
    for (int i = 0; i < 10; i++) {
        FL_OBJECT* s = fd->slider[9 - i];  // entry 0 is the right-most
        MMode.levelSlider[i] = s;
        fl_set_slider_bounds(s, 1.2, 0.0);
        fl_set_slider_value(s, 0.4);
        fl_set_object_return(s, FL_RETURN_END_CHANGED);
        MMode.levelGain[i] = 0.4f;
    }
    fl_set_slider_bounds(fd->master, 0.0, 1.2);
    fl_set_slider_value(fd->master, 0.4);
    fl_set_object_return(fd->master, FL_RETURN_END_CHANGED);
    for (const char* c : {"Line", "Box", "Mark", "Circle", "Filled"}) fl_addto_choice(fd->boxChoice, c);
    fl_set_choice(fd->boxChoice, 2);
    for (const char* c : {"None", "Box", "Mark", "Circle", "Clear"}) fl_addto_choice(fd->markChoice, c);
    fl_set_choice(fd->markChoice, 2);
    for (const char* c : {"Radial Avg.", "Angular Avg", "Rad. Slice (20 deg)", "Ang. Ring (10 pix)"})
        fl_addto_choice(fd->liveChoice, c);
    fl_set_choice(fd->liveChoice, 1);
    fl_set_button(fd->modeButton[MOVE], 1);
    mpanel = fd;
    showLevelSliders();
    m_Newsize(nullptr, 0);
    if (show) {
        fl_set_form_position(fd->mouse, 570, 40);
        fl_show_form(fd->mouse, FL_PLACE_POSITION, FL_FULLBORDER, "Mouse");
    }
    return fd;
}

void mm_Set(FL_OBJECT* ob, long n) {
    if (n == 10) {
        if (inHelp(kWvltHelp)) return;
        MMode.waveletView = ob ? fl_get_button(ob) : !MMode.waveletView;
        if (shellHooks.currentView)
            if (DataWin* v = shellHooks.currentView()) v->redraw();
        return;
    }
    if (n < 0 || n > 6) return;
    if (inHelp(kModeButtons[n].help)) return;
    if (n == MMode.mode) return;
    MMode.mode = (int)n;
    for (int i = 0; i < count(viewList); i++) {
        DataWin* v = (DataWin*)viewList->objectAt(i);
        if (v) v->setCursor(cursors[n]);
    }
    if (n == CTF && shellHooks.ctfModeOn) shellHooks.ctfModeOn();
}

void m_Size(FL_OBJECT*, long) {
    if (inHelp(kSizeHelp)) return;
    if (!mpanel) return;
    // A box fits the image in the current view (any size up to kMaxBox without one).
    int maxX = kMaxBox, maxY = kMaxBox;
    DataWin* v = shellHooks.currentView ? shellHooks.currentView() : nullptr;
    if (MRCData* d = v ? v->firstdata() : nullptr) {
        maxX = d->isComplex() ? d->xSize() - 2 : d->xSize();
        maxY = d->ySize();
    }
    double x, y;
    if (!input_number(mpanel->sizeX, "Box size", whole_between(1, maxX), std::to_string(MMode.boxX), &x) ||
        !input_number(mpanel->sizeY, "Box size", whole_between(1, maxY), std::to_string(MMode.boxY), &y)) {
        m_Newsize(nullptr, 0);
        return;
    }
    MMode.boxX = (int)x;
    MMode.boxY = (int)y;
    if (getenvid("fftboxonly", 1) == 1 && g_boxRound) {
        MMode.boxX = roundedBox(MMode.boxX, maxX);
        MMode.boxY = roundedBox(MMode.boxY, maxY);
    }
    m_Newsize(nullptr, 0);
}

void m_Newsize(FL_OBJECT*, long) {
    if (!mpanel) return;
    char t[32];
    std::snprintf(t, sizeof t, "%1d", MMode.boxX);
    fl_set_input(mpanel->sizeX, t);
    std::snprintf(t, sizeof t, "%1d", MMode.boxY);
    fl_set_input(mpanel->sizeY, t);
}

void m_Boxtype(FL_OBJECT* ob, long) {
    if (inHelp(nullptr)) return;
    MMode.boxType = fl_get_choice(ob) - 1;
}

void m_Marktype(FL_OBJECT* ob, long) {
    if (inHelp(nullptr)) return;
    MMode.markType = fl_get_choice(ob) - 1;
}

void m_Livetype(FL_OBJECT* ob, long) {
    if (inHelp(kLiveHelp)) return;
    MMode.liveType = fl_get_choice(ob) - 1;
}

void new_wavelet(FL_OBJECT* ob, long) {
    if (inHelp(nullptr)) return;
    setenvi("DWTbasis", fl_get_choice(ob) - 1);
    redrawCurrentWavelet();
}

void new_wavelet2(FL_OBJECT*, long) {
    if (inHelp(nullptr)) return;
    for (int i = 0; i < 10; i++)
        if (MMode.levelSlider[i]) MMode.levelGain[i] = (float)fl_get_slider_value((FL_OBJECT*)MMode.levelSlider[i]);
    redrawCurrentWavelet();
}

void new_wavelet3(FL_OBJECT* ob, long) {
    if (inHelp(nullptr)) return;
    double lv;
    // One gain slider per level.
    if (!input_number(ob, "Level", whole_between(0, 10), getenv2d("DWTlevel", "0"), &lv)) return;
    setenv2("DWTlevel", std::to_string((int)lv).c_str());
    fl_set_input(ob, std::to_string((int)lv).c_str());
    showLevelSliders();
    redrawCurrentWavelet();
}

void new_wavelet4(FL_OBJECT* ob, long) {
    if (inHelp(nullptr)) return;
    float v = (float)fl_get_slider_value(ob);
    for (int i = 0; i < 10; i++) {
        MMode.levelGain[i] = v;
        if (MMode.levelSlider[i]) fl_set_slider_value((FL_OBJECT*)MMode.levelSlider[i], v);
    }
    redrawCurrentWavelet();
}
