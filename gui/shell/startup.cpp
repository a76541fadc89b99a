#include "gui/shell/startup.h"

#include <X11/Xutil.h>
#include <X11/cursorfont.h>
#include <forms.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "gui/shell/boxing.h"
#include "gui/shell/control.h"
#include "gui/shell/registry.h"
#include "gui/shell/fsel.h"
#include "gui/shell/help.h"
#include "gui/shell/menus.h"
#include "gui/shell/paste_guard.h"
#include "gui/shell/state.h"
#include "gui/shell/viewlink.h"
#include "core/List.h"
#include "core/prefs.h"
#include "gui/ctf/livec.h"
#include "gui/ufn/ufn_panel.h"

namespace {
std::vector<std::string> g_args;

MRCData* firstSelected() {
    List* l = get_selected_data();
    MRCData* d = (MRCData*)objectAt(l, 0);
    delete l;
    return d;
}

// The control panel's side of mouse actions on a real data set, by the mode
// the view acts in (a mosaic acts as MOVE except in ZAP).
void view_Moused(DataWin* v, int, int, int code, unsigned long) {
    if (!control) return;
    if (ev_is_press(code) && v != current_view()) {
        int i = indexOf(viewList, v);
        if (i >= 0) {
            fl_select_browser_line(control->views, i + 1);
            sel_View(nullptr, 0);
        }
    }
    const int mode = count(v->data()) > 1 && MMode.mode != ZAP ? MOVE : MMode.mode;
    // Every pan moves the positioner with the view, whatever the mode.
    bool centred = code == EV_LEFT_PRESS && mode == MOVE;
    bool panned = code == EV_MIDDLE_DRAG || (code == EV_LEFT_DRAG && (mode == MOVE || mode == BOX));
    if (v == current_view() && (centred || panned)) {
        double x0, x1, y0, y1;
        fl_get_positioner_xbounds(control->pan, &x0, &x1);
        fl_get_positioner_ybounds(control->pan, &y0, &y1);
        double x = std::min(std::max((double)v->getXor(), std::min(x0, x1)), std::max(x0, x1));
        double y = std::min(std::max((double)v->getYor(), std::min(y0, y1)), std::max(y0, y1));
        fl_set_positioner_xvalue(control->pan, x);
        fl_set_positioner_yvalue(control->pan, y);
    }
    if (code == EV_LEFT_RELEASE && mode == DRAG) m_Newsize(nullptr, 0);
}

void installShellHooks() {
    shellHooks.currentView = current_view;
    shellHooks.firstSelected = firstSelected;
    shellHooks.moused = view_Moused;
    shellHooks.resized = resize_callback;
    shellHooks.dohelp = dohelp;
    shellHooks.help = [](const char* t) { help(t); };
}

Cursor plusCursor(Window w) {
    static unsigned char bits[32];
    std::memset(bits, 0, sizeof bits);
    auto set = [](int row, int col) { bits[row * 2 + col / 8] |= (unsigned char)(1 << (col % 8)); };
    set(7, 7);
    set(8, 6);
    set(8, 7);
    set(8, 8);
    set(9, 7);
    Pixmap p = XCreateBitmapFromData(dpy, w, (const char*)bits, 16, 16);
    XColor fg, bg;
    fg.red = fg.green = fg.blue = 0xffff;  // white plus with a black edge shows on any image
    bg.red = bg.green = bg.blue = 0;
    fg.flags = bg.flags = DoRed | DoGreen | DoBlue;
    Cursor c = XCreatePixmapCursor(dpy, p, p, &fg, &bg, 7, 8);
    XFreePixmap(dpy, p);
    return c;
}
}  // namespace

const std::vector<std::string>& toolkit_args() {
    return g_args;
}

int count_free_cells(Display* d, Colormap cm) {
    unsigned long pixels[256];
    int n = 0;
    while (n < 256 && XAllocColorCells(d, cm, False, nullptr, 0, &pixels[n], 1)) n++;
    if (n) XFreeColors(d, cm, pixels, n, 0);
    return n;
}

VisualPlan plan_visual(Display* d, bool privcmap) {
    VisualPlan p;
    int scr = DefaultScreen(d);
    XVisualInfo vi;
    if (XMatchVisualInfo(d, scr, 8, PseudoColor, &vi)) {
        p.pseudoColor = true;
        p.depth = 8;
        p.args = {"-visual", "PseudoColor", "-depth", "8"};
        bool priv = privcmap;
        // The toolkit hangs starting in a nearly full default colour map, and a
        // view could not get its ramp there anyway: go private instead.
        if (!priv && vi.visualid == XVisualIDFromVisual(DefaultVisual(d, scr))) {
            p.freeCells = count_free_cells(d, DefaultColormap(d, scr));
            if (p.freeCells < kCellsNeeded) priv = p.forcedPrivate = true;
        }
        if (priv) p.args.push_back("-private");
    } else {
        // No colour cells to be had: the server's own depth, never a 32-bit
        // ARGB visual (its windows vanish from ordinary screenshots).
        p.depth = DefaultDepth(d, scr);
        p.args = {"-depth", std::to_string(p.depth)};
    }
    return p;
}

Display* startup_toolkit(int argc, char** argv) {
    openenv2();
    bool priv = getenvfd("privcmap", 0) != 0;
    setenv("XLIB_SKIP_ARGB_VISUALS", "1", 0);
    g_args.assign(1, argc > 0 && argv[0] ? argv[0] : "tarvik");
    Display* probe = XOpenDisplay(nullptr);
    if (!probe) {
        const char* name = std::getenv("DISPLAY");
        std::printf("Can't open display %s\n", name ? name : "(DISPLAY is not set)");
        return nullptr;
    }
    VisualPlan plan = plan_visual(probe, priv);
    XCloseDisplay(probe);
    if (plan.forcedPrivate)
        std::printf("Only %d free colour cells in the default colormap: using a private colormap\n", plan.freeCells);
    for (auto& a : plan.args) g_args.push_back(a);
    static std::vector<char*> av;
    static std::vector<std::string> keep;
    keep = g_args;
    av.clear();
    for (auto& s : keep) av.push_back(&s[0]);
    av.push_back(nullptr);
    int ac = (int)keep.size();
    dpy = fl_initialize(&ac, av.data(), "tarvik", nullptr, 0);
    helpPanel = nullptr;
    if (!dpy) return nullptr;
    std::printf("TARVIK V1.47\n\n");
    return dpy;
}

int startup_workbench() {
    install_ui_hooks();
    installShellHooks();
    install_live_ctf();
    XFontStruct* fs = XLoadQueryFont(dpy, "6x10");
    if (!fs) fs = XLoadQueryFont(dpy, "fixed");
    gfont = fs ? fs->fid : 0;
    MMode = MouseMode();
    fl_setpup_default_fontsize(10);
    setenvf("UC", getenvfd("UC", 0) + 1);

    control = create_form_control();
    set_menu_items();
    umenu_init();
    fl_set_slider_size(control->maxGray, 0.04);
    fl_set_slider_size(control->minGray, 0.04);
    fl_set_slider_step(control->maxHist, 0.025);
    fl_set_slider_step(control->zoom, 0.0625);
    fl_set_form_position(control->control, 20, 20);
    fl_show_form(control->control, FL_PLACE_POSITION | FL_FREE_SIZE, FL_FULLBORDER, "Control");

    create_mouse_panel(1);
    if (mpanel)
        fl_set_form_atclose(
            mpanel->mouse, [](FL_FORM*, void*) { return (int)FL_IGNORE; }, nullptr);

    Window cw = control->control->window;
    cursors[MOVE] = XCreateFontCursor(dpy, XC_fleur);
    cursors[DRAG] = XCreateFontCursor(dpy, XC_tcross);
    cursors[BOX] = cursors[CTF] = plusCursor(cw);

    dataList = new List();
    add_group("Default");
    fl_select_browser_line(control->groups, 1);
    fl_set_input(control->groupName, "Default");

    viewList = new List();
    if (!make_view(570, 200)) {
        std::printf("Unable to open image viewer!\n");
        std::exit(1);
    }
    fsel_init();
    install_boxing();
    if (!paste_guard_active()) std::printf("Warning: a middle click on an input may crash the toolkit\n");
    XFlush(dpy);
    return 1;
}

void main_loop() {
    while (fl_do_forms()) {
    }
    std::exit(0);
}
