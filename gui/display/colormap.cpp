// Colour cells of 8-bit views and the ramps shared with true-colour views.
#include "gui/display/colormap.h"

#include <X11/Xlib.h>
#include <forms.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "core/List.h"
#include "gui/display/mmode.h"
#include "gui/display/datawin.h"
#include "gui/display/xglobals.h"

namespace {
int g_first = 0, g_last = 0;
Colormap g_cmap = 0;
bool g_private = false;
std::vector<unsigned long> g_owned;  // cells we hold in the toolkit's map

Display* disp() {
    return fl_display;
}

// Longest run of consecutive pixel values among the cells the server gave us;
// the rest are handed back so that the ramp never writes a cell we do not own.
void keepLongestRun(Display* d, Colormap cm, std::vector<unsigned long>& px, int* first, int* last) {
    std::sort(px.begin(), px.end());
    size_t best = 0, bestLen = 0, start = 0;
    for (size_t i = 1; i <= px.size(); i++) {
        if (i == px.size() || px[i] != px[i - 1] + 1) {
            if (i - start > bestLen) {
                best = start;
                bestLen = i - start;
            }
            start = i;
        }
    }
    std::vector<unsigned long> drop;
    for (size_t i = 0; i < px.size(); i++)
        if (i < best || i >= best + bestLen) drop.push_back(px[i]);
    if (!drop.empty()) XFreeColors(d, cm, drop.data(), (int)drop.size(), 0);
    g_owned.assign(px.begin() + best, px.begin() + best + bestLen);
    *first = (int)px[best];
    *last = (int)px[best + bestLen - 1];
}

void storeRamp(int mode) {
    int n = g_last - g_first + 1;
    if (n <= 0 || !g_cmap) return;
    std::vector<XColor> c(n);
    for (int i = 0; i < n; i++) {
        c[i].pixel = (unsigned long)(g_first + i);
        rampColor(mode, i, n, &c[i].red, &c[i].green, &c[i].blue);
        c[i].flags = DoRed | DoGreen | DoBlue;
    }
    XStoreColors(disp(), g_cmap, c.data(), n);
}

// The toolkit's map has too few free cells (a full default map): give the
// views a private map holding a copy of the toolkit's colours, and put the
// ramp into the longest stretch that avoids the pixels the views draw with.
int privateFallback(int* first, int* last) {
    Display* d = disp();
    Visual* vis = fl_state[fl_vmode].xvinfo->visual;
    int ncells = std::min(256, fl_state[fl_vmode].xvinfo->colormap_size);
    Colormap cm = XCreateColormap(d, RootWindow(d, fl_screen), vis, AllocAll);
    if (!cm) return 0;
    std::vector<XColor> c(ncells);
    for (int i = 0; i < ncells; i++) c[i].pixel = (unsigned long)i;
    XQueryColors(d, fl_state[fl_vmode].colormap, c.data(), ncells);
    for (auto& x : c) x.flags = DoRed | DoGreen | DoBlue;
    XStoreColors(d, cm, c.data(), ncells);
    std::vector<bool> reserved(ncells, false);
    const FL_COLOR keep[] = {FL_BLACK, FL_WHITE, FL_RED, FL_GREEN, FL_BLUE, FL_YELLOW, FL_COL1, FL_MCOL};
    reserved[0] = true;
    reserved[1] = true;
    reserved[ncells - 1] = true;
    for (FL_COLOR k : keep) {
        unsigned long p = fl_get_pixel(k);
        if (p < (unsigned long)ncells) reserved[p] = true;
    }
    int bestStart = 0, bestLen = 0, run = 0;
    for (int i = 0; i <= ncells; i++) {
        if (i < ncells && !reserved[i]) {
            run++;
        } else {
            if (run > bestLen) {
                bestLen = run;
                bestStart = i - run;
            }
            run = 0;
        }
    }
    if (bestLen < 32) {
        XFreeColormap(d, cm);
        return 0;
    }
    g_cmap = cm;
    g_private = true;
    *first = bestStart;
    *last = bestStart + bestLen - 1;
    return 1;
}
}  // namespace

void rampColor(int mode, int i, int n, unsigned short* r, unsigned short* g, unsigned short* b) {
    if (n <= 0) n = 1;
    if (mode == 2) {
        float f = 3.0f * (float)i / (float)n;
        auto lim = [](float v) -> unsigned short {
            if (v <= 0) return 0;
            if (v >= 65535.0f) return 65535;
            return (unsigned short)v;
        };
        if (f <= 1) {
            *r = lim((1 - f) * 65535.9f);
            *g = lim(f * 65536.0f);
            *b = 0;
        } else if (f <= 2) {
            *r = 0;
            *g = lim((2 - f) * 65536.0f);
            *b = lim((f - 1) * 65536.0f);
        } else {
            *r = lim((f - 2) * 65536.0f);
            *g = 0;
            *b = lim((3 - f) * 65536.0f);
        }
        return;
    }
    long v = mode == 1 ? (long)(n - 1 - i) * 65535 / n : (long)i * 65535 / n;
    *r = *g = *b = (unsigned short)v;
}

uint32_t packPixel(const PixelLayout& lay, unsigned r16, unsigned g16, unsigned b16) {
    auto field = [](unsigned long mask, unsigned c16) -> uint32_t {
        if (!mask) return 0;
        int shift = __builtin_ctzl(mask);
        int bits = __builtin_popcountl(mask);
        uint32_t v = bits >= 16 ? (uint32_t)c16 << (bits - 16) : (uint32_t)(c16 >> (16 - bits));
        return (uint32_t)((v << shift) & mask);
    };
    return field(lay.redMask, r16) | field(lay.greenMask, g16) | field(lay.blueMask, b16);
}

void buildTrueColorTable(const PixelLayout& lay, int mode, uint32_t table[256]) {
    for (int l = 0; l < 256; l++) {
        unsigned short r, g, b;
        if (mode == 2) {
            rampColor(2, l, 256, &r, &g, &b);
        } else {
            r = g = b = (unsigned short)((mode == 1 ? 255 - l : l) * 257);
        }
        table[l] = packPixel(lay, r, g, b);
    }
}

int getMapColors(int* first, int* last) {
    if (g_first || g_last) {
        *first = g_first;
        *last = g_last;
        return 1;
    }
    *first = *last = 0;
    Display* d = disp();
    if (!d) return 0;
    Colormap cm = fl_state[fl_vmode].colormap;
    std::vector<unsigned long> px(256);
    int n = 0;
    for (n = 256; n >= 1; n--)
        if (XAllocColorCells(d, cm, False, nullptr, 0, px.data(), (unsigned)n)) break;
    int f = 0, l = 0;
    if (n > 0 && n < 32) XFreeColors(d, cm, px.data(), n, 0);
    if (n >= 32) {
        px.resize(n);
        keepLongestRun(d, cm, px, &f, &l);
        n = l - f + 1;
        if (n >= 32) g_cmap = cm;
    }
    if (n < 32) {
        if (!g_owned.empty()) XFreeColors(d, cm, g_owned.data(), (int)g_owned.size(), 0);
        g_owned.clear();
        if (!privateFallback(&f, &l)) return 0;
        n = l - f + 1;
        std::printf("Shared colormap full: views use a private colormap\n");
    }
    g_first = f;
    g_last = l;
    std::printf("%d colors allocated in %d\n", n, (int)g_cmap);
    storeRamp(0);
    *first = f;
    *last = l;
    return 1;
}

int setCmap(int mode) {
    if (fl_display && fl_state[fl_vmode].depth > 8) return 1;
    storeRamp(mode);
    if (fl_display) XFlush(fl_display);
    return 1;
}

Colormap colormapOfViews() {
    return g_cmap;
}
int colormapIsPrivate() {
    return g_private;
}

void resetMapColors() {
    Display* d = disp();
    if (d && g_cmap) {
        if (g_private)
            XFreeColormap(d, g_cmap);
        else if (!g_owned.empty())
            XFreeColors(d, g_cmap, g_owned.data(), (int)g_owned.size(), 0);
        XSync(d, False);
    }
    g_owned.clear();
    g_first = g_last = 0;
    g_cmap = 0;
    g_private = false;
}

void v_Invert(FL_OBJECT* button, long) {
    if (shellHooks.dohelp && shellHooks.dohelp()) {
        if (shellHooks.help)
            shellHooks.help(
                "This will invert the colormap (B<->W).\n\nThis affects all view simultaneously. There is "
                "also a 3rd setting for viewing phases in complex images (cyclic color map).");
        return;
    }
    MMode.cmapMode = (MMode.cmapMode + 1) % 3;
    static const char* labels[3] = {"B=0", "W=0", "Color"};
    if (button) fl_set_object_label(button, labels[MMode.cmapMode]);
    setCmap(MMode.cmapMode);
    // Deep visuals have no cells to reload: their views render through the
    // ramp and must be drawn again. 8-bit views change with the cells alone.
    if (!fl_display || fl_state[fl_vmode].depth <= 8) return;
    for (int i = 0; i < count(viewList); i++) {
        DataWin* v = (DataWin*)viewList->objectAt(i);
        if (v) v->redraw();
    }
}
