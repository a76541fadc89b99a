#include "gui/shell/boxing.h"

#include <forms.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gui/shell/control.h"
#include "gui/shell/registry.h"
#include "gui/shell/state.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/boxcut.h"
#include "core/boxops.h"
#include "gui/display/datawin.h"
#include "gui/display/draw.h"
#include "gui/display/mouse.h"

namespace {

// The group whose browser line reads exactly name, made when there is none.
List* groupNamed(const char* name) {
    int i = find_group(name);
    return i >= 0 ? (List*)dataList->objectAt(i) : add_group(name);
}

// A group that grew while it is the one listed shows its new lines.
void relistIfCurrent(List* g) {
    if (g == current_group()) refresh_after_add();
}

std::string format(const char* fmt, const char* s, int a, int b) {
    std::vector<char> buf(std::strlen(s) + 64);
    std::snprintf(buf.data(), buf.size(), fmt, s, a, b);
    return buf.data();
}

// A new data set in "Clips" named as the cut and filed as clip n of src.
MRCData* newClip(MRCData* src, const std::string& name, std::string* file) {
    List* clips = groupNamed("Clips");
    MRCData* c = new MRCData(src);
    c->setName(name.c_str());
    *file = clipFileName(src->File(), clips->count() + 1);
    c->setFile(file->c_str());
    clips->addObject(c);
    return c;
}

// ---- state kept between mouse events

// The drag anchor (data coordinates) of DRAG and FILA, valid from a left
// press in that view until its release.
struct Anchor {
    DataWin* view = nullptr;
    int x = 0, y = 0;
} g_anchor;

// The box picked in DB mode. Checked against the view's data set and box
// count on every use, and forgotten when its data set is destroyed.
struct Pick {
    MRCData* d = nullptr;
    int i = -1;
} g_pick;

void pickGone(MRCData* d) {
    if (g_pick.d == d) g_pick = Pick();
}

BoxRecord* pickedIn(DataWin* v) {
    MRCData* d = v->firstdata();
    if (!d || g_pick.d != d || g_pick.i < 0 || g_pick.i >= d->nBoxes()) return nullptr;
    return &d->Boxes()[g_pick.i];
}

// ---- view geometry (the rules of the view's box drawing)

void clampPoint(DataWin* v, int* dx, int* dy) {
    *dx = std::max(0, std::min(*dx, v->cellX - 1));
    *dy = std::max(0, std::min(*dy, v->cellY - 1));
}
int screenX(DataWin* v, int dx) {
    return (int)(v->zoom * dx) - v->xOrigin;
}
// The bottom screen row of data row dy (as the renderer draws it).
int screenY(DataWin* v, int dy) {
    return v->yOrigin + v->canvasH - 1 - (int)(v->zoom * dy);
}
bool boxFits(DataWin* v) {
    return v->cellX >= MMode.boxX && v->cellY >= MMode.boxY;
}

// The rubber band: drawn in red on the window, erased by clearing the window
// (the pixmap behind it holds the clean picture).
void drawBand(DataWin* v) {
    XSetForeground(v->xDisplay, v->winGC, fl_get_pixel(FL_RED));
    doBox(v->xDisplay, v->canvasWin, v->winGC, v->bandX, v->bandY, v->bandW, v->bandH);
    XFlush(v->xDisplay);
}
// The band is the outline of the w x h box at data corner (x0, y0), on the
// pixels the box will be drawn on.
void bandAroundBox(DataWin* v, int x0, int y0, int w, int h) {
    const int W = (int)(v->zoom * w), H = (int)(v->zoom * h);
    v->bandX = (int16_t)screenX(v, x0);
    v->bandY = (int16_t)(screenY(v, y0) + 1 - H);
    v->bandW = (int16_t)std::max(1, W);
    v->bandH = (int16_t)std::max(1, H);
}
// The band spanned by two data points, whichever way the pointer went.
void bandBetween(DataWin* v, int ax, int ay, int dx, int dy) {
    const int x0 = screenX(v, ax), y0 = screenY(v, ay), x1 = screenX(v, dx), y1 = screenY(v, dy);
    v->bandX = (int16_t)std::min(x0, x1);
    v->bandY = (int16_t)std::min(y0, y1);
    v->bandW = (int16_t)(std::abs(x1 - x0) + 1);
    v->bandH = (int16_t)(std::abs(y1 - y0) + 1);
}

void title(DataWin* v, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void title(DataWin* v, const char* fmt, ...) {
    char buf[160];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    v->setTitle(buf);
}

void startAnchor(DataWin* v, int dx, int dy) {
    v->setTitle("Image: now release to clip image");
    clampPoint(v, &dx, &dy);
    g_anchor = {v, dx, dy};
    v->bandX = (int16_t)screenX(v, dx);
    v->bandY = (int16_t)screenY(v, dy);
    v->bandW = 0;
}

// A release ends the drag that its own press began in this view.
bool takeAnchor(DataWin* v) {
    bool ok = g_anchor.view == v;
    g_anchor.view = nullptr;
    return ok;
}

void showPointer(DataWin* v, int dx, int dy) {
    title(v, "Image (%d,%d) %4.3f", dx, dy, v->firstdata()->valueAt(dx, dy));
}

// ---- the modes

int dragMode(DataWin* v, int, int, int dx, int dy, int code, unsigned long) {
    MRCData* d = v->firstdata();
    switch (code) {
        case EV_LEFT_PRESS:
            startAnchor(v, dx, dy);
            break;
        case EV_LEFT_DRAG:
            if (g_anchor.view != v || !boxFits(v)) break;
            clampPoint(v, &dx, &dy);
            v->eraseBand();
            MMode.boxX = std::abs(dx - g_anchor.x) + 1;
            MMode.boxY = std::abs(dy - g_anchor.y) + 1;
            // The outline of the box the release will cut, at every zoom.
            bandAroundBox(v, std::min(dx, g_anchor.x), std::min(dy, g_anchor.y), MMode.boxX, MMode.boxY);
            drawBand(v);
            title(v, "Image (%d,%d) - (%d,%d) %1dx%1d", g_anchor.x, g_anchor.y, dx, dy, MMode.boxX, MMode.boxY);
            break;
        case EV_LEFT_RELEASE:
            if (!takeAnchor(v)) break;
            clampPoint(v, &dx, &dy);
            // The size of what is cut, also when the drag drew no outline.
            MMode.boxX = std::abs(dx - g_anchor.x) + 1;
            MMode.boxY = std::abs(dy - g_anchor.y) + 1;
            title(v, "Image clipped (%d,%d) - (%d,%d) %1dx%1d", g_anchor.x, g_anchor.y, dx, dy, MMode.boxX, MMode.boxY);
            view_Clipped(d, g_anchor.x, g_anchor.y, dx, dy);
            v->display();  // the new box over the picture; the band goes
            break;
        case EV_MOVE:
            showPointer(v, dx, dy);
            break;
    }
    return 1;
}

int boxMode(DataWin* v, int, int, int dx, int dy, int code, unsigned long) {
    const int w = MMode.boxX, h = MMode.boxY;
    // The box around the pointer, pushed inside the image.
    int x0 = dx - w / 2, y0 = dy - h / 2;
    const bool fits = fitBox(&x0, &y0, w, h, v->cellX, v->cellY);
    if (code == EV_LEFT_PRESS) {
        if (!fits) {
            std::printf("Error: box too big for image\n");
            v->setTitle("Image: box too big for image");
            return 1;
        }
        title(v, "Image clipped (%d,%d) - (%d,%d) %1dx%1d", x0, y0, x0 + w - 1, y0 + h - 1, w, h);
        view_Clipped(v->firstdata(), x0, y0, x0 + w - 1, y0 + h - 1);
        v->display();
    } else if (code == EV_MOVE && fits) {
        v->eraseBand();
        bandAroundBox(v, x0, y0, w, h);
        drawBand(v);
        showPointer(v, std::max(0, std::min(dx, v->cellX - 1)), std::max(0, std::min(dy, v->cellY - 1)));
    }
    return 1;
}

int filaMode(DataWin* v, int x, int y, int dx, int dy, int code, unsigned long) {
    MRCData* d = v->firstdata();
    switch (code) {
        case EV_LEFT_PRESS:
            startAnchor(v, dx, dy);
            break;
        case EV_MIDDLE_PRESS:  // the start of a pan
            v->bandX = (int16_t)x;
            v->bandY = (int16_t)y;
            break;
        case EV_LEFT_DRAG: {
            if (g_anchor.view != v || !boxFits(v)) break;
            clampPoint(v, &dx, &dy);
            v->eraseBand();
            const int ax = screenX(v, g_anchor.x), ay = screenY(v, g_anchor.y);
            bandBetween(v, g_anchor.x, g_anchor.y, dx, dy);
            XSetForeground(v->xDisplay, v->winGC, fl_get_pixel(FL_RED));
            doLine(v->xDisplay, v->canvasWin, v->winGC, ax, ay, screenX(v, dx) - ax, screenY(v, dy) - ay, v->zoom);
            XFlush(v->xDisplay);
            const double L = std::hypot((double)dx - g_anchor.x, (double)dy - g_anchor.y);
            title(v, "Filament (%d,%d)-(%d,%d) %dpixels", g_anchor.x, g_anchor.y, dx, dy, (int)std::floor(L));
            break;
        }
        case EV_LEFT_RELEASE:
            if (!takeAnchor(v)) break;
            clampPoint(v, &dx, &dy);
            title(v, "Filament clipped (%d,%d) - (%d,%d) ", g_anchor.x, g_anchor.y, dx, dy);
            view_FilaClip(d, g_anchor.x, g_anchor.y, dx, dy, MMode.boxX, MMode.boxY);
            v->display();
            break;
    }
    return 1;
}

int zapMode(DataWin* v, int x, int y, int, int, int code, unsigned long) {
    if (code != EV_LEFT_PRESS) return 1;
    const int col = (int)std::floor((x + v->xOrigin) / (v->zoom * v->cellX));
    const int row = (int)std::floor((v->canvasH - y + v->yOrigin) / (v->zoom * v->cellY));
    // A point right of the mosaic is no tile (it would count into the next row).
    if (col < 0 || col >= v->columns || row < 0) return 1;
    const int i = row * v->columns + col;
    if (i >= count(v->data())) return 1;
    MRCData* d = (MRCData*)v->data()->objectAt(i);
    if (!view_Zapped(d)) return 1;
    v->deleteData(d);
    if (count(v->data()) == 0) v->setData(nullptr);
    v->redraw();
    return 1;
}

// The centre that keeps a w x h box inside the view's image.
void keepInside(DataWin* v, const BoxRecord& b, int* cx, int* cy) {
    *cx = std::max(b.xsize / 2, std::min(*cx, v->cellX - b.xsize + b.xsize / 2));
    *cy = std::max(b.ysize / 2, std::min(*cy, v->cellY - b.ysize + b.ysize / 2));
}

int dbMode(DataWin* v, int, int, int dx, int dy, int code, unsigned long) {
    MRCData* d = v->firstdata();
    switch (code) {
        case EV_LEFT_PRESS: {
            g_pick = Pick{d, pickBox(d, dx, dy)};
            BoxRecord* b = pickedIn(v);
            if (!b) break;
            if (!boxMoved(*b)) {
                b->newx = b->x + b->xsize / 2;
                b->newy = b->y + b->ysize / 2;
            }
            v->redraw();
            break;
        }
        case EV_LEFT_DRAG: {
            BoxRecord* b = pickedIn(v);
            if (!b) break;
            keepInside(v, *b, &dx, &dy);
            v->eraseBand();
            bandAroundBox(v, dx - b->xsize / 2, dy - b->ysize / 2, b->xsize, b->ysize);
            drawBand(v);
            break;
        }
        case EV_LEFT_RELEASE: {
            BoxRecord* b = pickedIn(v);
            if (!b) break;
            // Where the dragged outline was: inside the image.
            keepInside(v, *b, &dx, &dy);
            b->newx = dx;
            b->newy = dy;
            boxes_changed(d);
            v->redraw();
            break;
        }
        case EV_RIGHT_PRESS: {
            const int i = firstBoxAt(d, dx, dy);
            if (i < 0) break;
            d->delBox(i);
            forget_picked_box();  // the numbers behind it moved down
            boxes_changed(d);
            v->redraw();
            break;
        }
    }
    return 1;
}

}  // namespace

MRCData* view_Clipped(MRCData* src, int x0, int y0, int x1, int y1) {
    if (!src || src->isComplex()) return nullptr;
    if (x1 < x0) std::swap(x0, x1);
    if (y1 < y0) std::swap(y0, y1);
    const int w = x1 - x0 + 1, h = y1 - y0 + 1;
    // Never read outside the source: the rectangle moves inside it.
    if (!fitBox(&x0, &y0, w, h, src->xSize(), src->ySize())) {
        std::printf("Error: box too big for image\n");
        return nullptr;
    }
    std::printf("Clip %d,%d - %d,%d %dx%d\n", x0, y0, x0 + w - 1, y0 + h - 1, w, h);
    std::string file;
    MRCData* c = newClip(src, format("Clip %s (%1d,%1d)", src->Name(), x0, y0), &file);
    c->setSize(w, h, 1);
    src->extractReal(c->getRealData(), x0, y0, w, h);
    c->update();
    src->addBox(x0, y0, w, h, file.c_str(), 0);
    boxes_changed(src);
    relistIfCurrent(groupNamed("Clips"));
    return c;
}

MRCData* view_FilaClip(MRCData* src, int x0, int y0, int x1, int y1, int width, int length) {
    if (!src || src->isComplex()) return nullptr;
    std::printf("Filament Clip %d,%d - %d,%d\n", x0, y0, x1, y1);
    const int L = filamentLength(x0, y0, x1, y1);
    const int n = length >= 1 ? length : L;
    // Nothing wider or longer than the image's own diagonal is a filament of it.
    const double diag = std::hypot((double)src->xSize(), (double)src->ySize()) + 1;
    if (width < 1 || width > diag || n > diag) {
        std::printf("Error: box too big for image\n");
        return nullptr;
    }
    std::string file;
    MRCData* c = newClip(src, format("Filament %s (%1d,%1d)", src->Name(), width, L), &file);
    c->setSize(width, n, 1);
    src->extractRealFila(c->getRealData(), x0, y0, x1, y1, width, n);
    c->update();
    if (length >= 1) filamentEnd(x0, y0, &x1, &y1, length);
    src->addBox(x0, y0, x1, y1, file.c_str(), width);
    boxes_changed(src);
    relistIfCurrent(groupNamed("Clips"));
    return c;
}

int view_Zapped(MRCData* d) {
    List* g = current_group();
    const int i = indexOf(g, d);
    const int z = find_group("Zapped");
    if (i < 0 || (z >= 0 && dataList->objectAt(z) == g)) return 0;
    groupNamed("Zapped")->addObject(d);
    fl_delete_browser_line(control->images, i + 1);
    g->removeObjectAt(i);
    // The lines after it name their data sets by number: renumber them.
    for (int k = i; k < count(g); k++) {
        MRCData* e = (MRCData*)g->objectAt(k);
        e->setSeqno(k + 1);
        char buf[512];
        std::snprintf(buf, sizeof buf, "%d. %s %dx%d", k + 1, e->Name(), e->xSize(), e->ySize());
        fl_replace_browser_line(control->images, k + 1, buf);
    }
    return 1;
}

void install_boxing() {
    setModeHandler(DRAG, dragMode, false);
    setModeHandler(BOX, boxMode, false);
    setModeHandler(ZAP, zapMode, false);
    setModeHandler(DB, dbMode, false);
    setModeHandler(FILA, filaMode, false);
    static bool hooked = false;
    if (!hooked) add_data_gone_hook(pickGone);
    hooked = true;
}

MRCData* picked_box(int* index) {
    if (index) *index = g_pick.i;
    return g_pick.i >= 0 ? g_pick.d : nullptr;
}

void forget_picked_box() {
    g_pick = Pick();
}
