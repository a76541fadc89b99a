// The view window: tiling, zoom, scrolling, grey limits, overlays, and the
// pixmap that repaints exposures without rendering again.
#include "gui/display/datawin.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <forms.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/boxops.h"
#include "gui/display/mmode.h"
#include "core/prefs.h"
#include "gui/display/colormap.h"
#include "gui/display/draw.h"
#include "gui/display/mouse.h"
#include "gui/display/xglobals.h"
#include "wav/filter.h"
#include "wav/wavelet.h"

namespace {
// Forward transform, per-level gains of the mouse panel, inverse: the data
// stay as they are when the bank cannot take that many levels.
int engineFilter(float* data, int width, int height, int basis, int levels) {
    const FilterSet* bank = wavelet_bank(basis);
    if (!bank) return 0;
    Wavelet w(bank);
    if (!w.transform2d(data, data, width, height, levels)) return 0;
    wav_filt(width, height, data, 0, levels, MMode.levelGain);
    return w.invert2d(data, data, width, height, levels);
}
WaveletViewFilter g_wavelet = engineFilter;
}  // namespace

void setWaveletViewFilter(WaveletViewFilter f) {
    g_wavelet = f;
}
WaveletViewFilter waveletViewFilter() {
    return g_wavelet;
}

FD_datawin* create_form_datawin() {
    FD_datawin* fd = (FD_datawin*)fl_calloc(1, sizeof(FD_datawin));
    fd->datawin = fl_bgn_form(FL_NO_BOX, 440, 400);
    fd->box = fl_add_box(FL_UP_BOX, 0, 0, 440, 400, "");
    fd->canvas = fl_add_canvas(FL_NORMAL_CANVAS, 10, 10, 420, 380, "");
    fl_set_object_gravity(fd->canvas, FL_NorthWest, FL_SouthEast);
    fl_end_form();
    fd->datawin->fdui = fd;
    return fd;
}

DataWin::DataWin(int x, int y) {
    form = create_form_datawin();
    FL_OBJECT* cv = form->canvas;
    Colormap cm = 0;
    int vdepth = fl_state[fl_vmode].depth;
    if (vdepth == 8) {
        // A private map (full shared colormap) is set on our windows below;
        // the canvas is not told, so it never frees the map with itself.
        if (getMapColors(&cmapBase, &cmapCount) && colormapIsPrivate()) cm = colormapOfViews();
    }
    fl_add_canvas_handler(cv, Expose, DataWin_expose, this);
    fl_add_canvas_handler(cv, ButtonPress, DataWin_button, this);
    fl_add_canvas_handler(cv, ButtonRelease, DataWin_unbutton, this);
    fl_add_canvas_handler(cv, EnterNotify, DataWin_enterwin, this);
    fl_add_canvas_handler(cv, LeaveNotify, DataWin_leavewin, this);
    fl_add_canvas_handler(cv, MotionNotify, DataWin_drag, this);
    fl_set_form_position(form->datawin, x, y);
    fl_show_form(form->datawin, FL_PLACE_POSITION | FL_FREE_SIZE, FL_FULLBORDER, "Image");
    formWin = form->datawin->window;
    canvasWin = fl_get_canvas_id(cv);
    // Every motion is wanted: the rubber band follows the pointer exactly.
    fl_remove_selected_xevent(canvasWin, PointerMotionHintMask);

    xDisplay = fl_display;
    pixmap = 0;
    pixGC = nullptr;
    winGC = XCreateGC(xDisplay, canvasWin, 0, nullptr);
    visual = fl_state[fl_vmode].xvinfo->visual;
    depth = vdepth;
    tcBits = (int)fl_state[fl_vmode].rbits;
    tcGreenBits = (int)fl_state[fl_vmode].gbits;
    if (cm) {
        XSetWindowColormap(xDisplay, formWin, cm);
        XSetWindowColormap(xDisplay, canvasWin, cm);
        Window wins[2] = {canvasWin, formWin};
        XSetWMColormapWindows(xDisplay, formWin, wins, 2);
    }

    if (depth == 8 && !cmapCount) {
        std::printf("I can't find >32 colors in the system colormap\n");
        drawEmpty();
        return;
    }
    if (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32) {
        std::printf("%d planes\n", depth);
        trueColor = depth > 8;
        xOrigin = yOrigin = 0;
        zoom = 1;
        dataSets = nullptr;
        dirty = 1;
        group = 1;
        ok = 1;
        resize();
        display();
    } else {
        std::printf("No DataWin, depth=%d\n", depth);
    }
}

DataWin::~DataWin() {
    if (form) {
        if (form->datawin->visible) fl_hide_form(form->datawin);
        fl_free_form(form->datawin);
        fl_free(form);
    }
    if (ximage) XDestroyImage(ximage);
    if (pixmap) XFreePixmap(xDisplay, pixmap);
    if (pixGC) XFreeGC(xDisplay, pixGC);
    if (winGC) XFreeGC(xDisplay, winGC);
    delete dataSets;
}

int DataWin::resize() {
    if (ximage) {
        XDestroyImage(ximage);  // frees the buffer too
        ximage = nullptr;
    }
    if (pixmap) XFreePixmap(xDisplay, pixmap);
    if (pixGC) XFreeGC(xDisplay, pixGC);
    pixmap = 0;
    pixGC = nullptr;
    FL_Coord cx, cy, cw, ch;
    fl_get_object_geometry(form->canvas, &cx, &cy, &cw, &ch);
    canvasW = cw > 0 ? cw : 1;
    canvasH = ch > 0 ? ch : 1;
    ximage = XCreateImage(xDisplay, visual, depth, ZPixmap, 0, nullptr, canvasW, canvasH, BitmapPad(xDisplay), 0);
    if (!ximage) {
        std::printf("Cannot allocate XImage\n");
        return 0;
    }
    pixmap = XCreatePixmap(xDisplay, canvasWin, canvasW, canvasH, depth);
    XGCValues gv;
    unsigned long mask = 0;
    if (gfont) {
        gv.font = gfont;
        mask |= GCFont;
    }
    pixGC = XCreateGC(xDisplay, pixmap, mask, &gv);
    XSetWindowBackgroundPixmap(xDisplay, canvasWin, pixmap);
    size_t bytes = (size_t)ximage->bytes_per_line * canvasH;
    ximage->data = (char*)std::calloc(bytes ? bytes : 1, 1);
    if (!ximage->data) {
        XDestroyImage(ximage);
        ximage = nullptr;
        std::printf("Cannot allocate XImage\n");
        return 0;
    }
    if (trueColor) {
        bytesPerPixel = ximage->bits_per_pixel / 8;
        msbFirst = ximage->byte_order == MSBFirst;
        tcLutMode = -1;
    }
    dirty = 1;
    if (shellHooks.resized) shellHooks.resized(this);
    std::printf("Resize %dx%d  %d/line\n", canvasW, canvasH, ximage->bytes_per_line);
    return 1;
}

int DataWin::setData(List* l) {
    if (dataSets != l) delete dataSets;
    dataSets = l;
    if (!l) {
        display();
        return 1;
    }
    int n = l->count();
    if (n == 0) {
        delete l;
        dataSets = nullptr;
        display();
        return 1;
    }
    cellX = cellY = 1000000;
    for (int i = n - 1; i >= 0; i--) {
        MRCData* d = (MRCData*)l->objectAt(i);
        if (d->xSize() < cellX) cellX = d->xSize();
        if (d->ySize() < cellY) cellY = d->ySize();
    }
    MRCData* d0 = (MRCData*)l->objectAt(0);
    minG = d0->Min();
    maxG = d0->Max();
    columns = (int)std::ceil(std::sqrt((double)n));
    fullW = (int)(zoom * (columns * cellX));
    fullH = (int)((n + columns - 1) / columns * cellY * zoom);
    dirty = 1;
    return 1;
}

int DataWin::setZoom(float z) {
    if (!dataSets) return 0;
    float snapped = std::floor(z + 0.001f);
    if (z - snapped < 0.001f && snapped > 0) z = snapped;
    // A zero or negative zoom would divide by zero everywhere below.
    if (!(z > 0)) return 0;
    zoom = z;
    int n = dataSets->count();
    columns = (int)std::ceil(std::sqrt((double)(n > 0 ? n : 1)));
    fullW = (int)(zoom * (columns * cellX));
    fullH = (int)((n + columns - 1) / columns * cellY * zoom);
    dirty = 1;
    return 1;
}

int DataWin::redraw() {
    dirty = 1;
    return display();
}

void DataWin::setOrigin(int x, int y) {
    xOrigin = x;
    yOrigin = y;
    dirty = 1;
    display();
}

void DataWin::setMMGray(float min, float max) {
    if (!dataSets) return;
    minG = min;
    maxG = max;
    dirty = 1;
    display();
}

void DataWin::setImParms(float mag, float pixres) {
    for (int i = count(dataSets) - 1; i >= 0; i--) {
        MRCData* d = (MRCData*)dataSets->objectAt(i);
        d->setMag(mag);
        d->setPixres(pixres);
    }
}

void DataWin::setCursor(unsigned long c) {
    if (!canvasWin) return;
    if (c)
        XDefineCursor(xDisplay, canvasWin, (Cursor)c);
    else
        XUndefineCursor(xDisplay, canvasWin);
}

void DataWin::deleteData(MRCData* d) {
    if (!dataSets) return;
    int i = dataSets->indexOf(d);
    if (i >= 0) {
        dataSets->removeObjectAt(i);
        dirty = 1;
    }
}

MRCData* DataWin::firstdata() {
    return count(dataSets) ? (MRCData*)dataSets->objectAt(0) : nullptr;
}

void DataWin::freeze() {
    if (form) fl_freeze_form(form->datawin);
}
void DataWin::unfreeze() {
    if (form) fl_unfreeze_form(form->datawin);
}

void DataWin::setTitle(const char* t) {
    if (!form || !t) return;
    if (std::strcmp(t, title) == 0) return;
    std::snprintf(title, sizeof title, "%s", t);
    fl_set_form_title(form->datawin, title);
}

const unsigned char* DataWin::printBuffer() const {
    return printBuf.empty() ? nullptr : printBuf.data();
}
int DataWin::printBytesPerLine() const {
    return printBpl;
}

void DataWin::toData(int x, int y, int* dx, int* dy) const {
    *dx = (int)std::floor((x + xOrigin) / zoom);
    *dy = (int)std::floor((yOrigin - 1 + canvasH - y) / zoom);
}

void DataWin::visibleTiles(int* c0, int* c1, int* r0, int* r1) const {
    int n = count(dataSets);
    float tw = zoom * cellX, th = zoom * cellY;
    if (tw <= 0) tw = 1;
    if (th <= 0) th = 1;
    *c0 = (int)std::floor(xOrigin / tw);
    *c1 = (int)std::ceil((xOrigin + canvasW) / tw);
    if (*c1 > columns - 1) *c1 = columns - 1;
    *r0 = (int)std::floor(yOrigin / th);
    *r1 = (int)std::ceil((yOrigin + canvasH) / th);
    int rmax = columns > 0 ? (n - 1) / columns : 0;
    if (*r1 > rmax) *r1 = rmax;
    if (*c0 < 0) *c0 = 0;
    if (*r0 < 0) *r0 = 0;
}

void DataWin::drawEmpty() {
    if (!canvasWin) return;
    FL_Coord cx, cy, cw, ch;
    fl_get_object_geometry(form->canvas, &cx, &cy, &cw, &ch);
    XSetForeground(xDisplay, winGC, 0);
    XFillRectangle(xDisplay, canvasWin, winGC, 0, 0, cw, ch);
    XSetForeground(xDisplay, winGC, depth == 24 ? 255 : 1);
    XDrawLine(xDisplay, canvasWin, winGC, 0, 0, cw - 1, ch - 1);
    XDrawLine(xDisplay, canvasWin, winGC, 0, ch - 1, cw - 1, 0);
    XSync(xDisplay, False);
}

void DataWin::buildTrueColorTable(int mode) {
    PixelLayout lay{bytesPerPixel, msbFirst, visual->red_mask, visual->green_mask, visual->blue_mask};
    ::buildTrueColorTable(lay, mode, tcLut);
    // A 32-bit visual with an alpha channel: keep every pixel opaque.
    if (depth == 32) {
        uint32_t alpha = ~(uint32_t)(visual->red_mask | visual->green_mask | visual->blue_mask);
        for (uint32_t& p : tcLut) p |= alpha;
    }
    tcLutMode = mode;
}

void DataWin::renderTiles() {
    int n = count(dataSets);
    int c0, c1, r0, r1;
    visibleTiles(&c0, &c1, &r0, &r1);
    const bool print = printMode != 0;
    const int mode = MMode.cmapMode;
    // A wavelet view also prints filtered: the page shows what the screen shows.
    const bool wavelet = MMode.waveletView != 0;
    unsigned char* buf;
    int bpl, lo, hi;
    // 8-bit levels go either straight to the image (8-bit visual), to the print
    // buffer, or — for the wavelet view on true colour — to a level buffer
    // that is filtered and then packed through the ramp table.
    bool levelsOnly = print || depth == 8 || wavelet;
    if (print) {
        printBpl = depth == 8 ? ximage->bytes_per_line : canvasW;
        printBuf.assign((size_t)printBpl * canvasH, 255);
        buf = printBuf.data();
        bpl = printBpl;
        lo = 1;
        hi = 254;
    } else if (depth == 8) {
        buf = (unsigned char*)ximage->data;
        bpl = ximage->bytes_per_line;
        std::memset(buf, 0, (size_t)bpl * canvasH);
        lo = cmapBase;
        hi = cmapCount;
    } else if (wavelet) {
        levels.assign((size_t)canvasW * canvasH, 0);
        buf = levels.data();
        bpl = canvasW;
        lo = 0;
        hi = 255;
    } else {
        buf = (unsigned char*)ximage->data;
        bpl = ximage->bytes_per_line;
        if (tcLutMode != mode) buildTrueColorTable(mode);
        // Pixel 0 is black on true-colour visuals: background as on 8-bit.
        std::memset(buf, 0, (size_t)bpl * canvasH);
        lo = 0;
        hi = 255;
    }
    for (int c = c0; c <= c1; c++) {
        for (int r = r0; r <= r1; r++) {
            int i = r * columns + c;
            if (i >= n) continue;
            MRCData* d = (MRCData*)dataSets->objectAt(i);
            d->setRenMinMax(minG, maxG);
            int xOff = (int)(xOrigin / zoom - c * cellX);
            int yOff = (int)(yOrigin / zoom - r * cellY);
            if (levelsOnly) {
                if (mode == 2)
                    d->renderPha8(buf, xOff, yOff, canvasW, canvasH, bpl, zoom, lo, hi);
                else
                    d->renderAmp8(buf, xOff, yOff, canvasW, canvasH, bpl, zoom, lo, hi);
            } else {
                d->renderLUT(buf, xOff, yOff, canvasW, canvasH, bpl, zoom, tcLut, bytesPerPixel, msbFirst, mode == 2);
            }
        }
    }
    if (wavelet) {
        filterWavelet(buf, bpl, lo, hi);
        if (depth > 8 && !print) {
            // Pack the filtered levels through the ramp.
            if (tcLutMode != mode) buildTrueColorTable(mode);
            unsigned char* out = (unsigned char*)ximage->data;
            int obpl = ximage->bytes_per_line;
            for (int y = 0; y < canvasH; y++) {
                const unsigned char* src = buf + (size_t)y * bpl;
                unsigned char* dst = out + (size_t)y * obpl;
                for (int x = 0; x < canvasW; x++) {
                    uint32_t v = tcLut[src[x]];
                    unsigned char* p = dst + (size_t)x * bytesPerPixel;
                    if (msbFirst)
                        for (int k = bytesPerPixel - 1; k >= 0; k--, v >>= 8) p[k] = (unsigned char)v;
                    else
                        for (int k = 0; k < bytesPerPixel; k++, v >>= 8) p[k] = (unsigned char)v;
                }
            }
        }
    }
}

void DataWin::filterWavelet(unsigned char* buf, int bpl, int lo, int hi) {
    int W = canvasW, H = canvasH;
    if (!g_wavelet) return;
    int mid = (lo + hi) / 2;
    std::vector<float> f((size_t)W * H);
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) f[(size_t)y * W + x] = (float)(buf[(size_t)y * bpl + x] - mid);
    int basis = getenvid("DWTbasis", 0);
    int nlev = H < W ? (int)std::floor(std::log2((double)H) + 0.5) : (int)std::floor(std::log2((double)W) + 0.5) - 1;
    int want = std::atoi(getenv2d("DWTlevel", "0"));
    if (want > 0 && want < nlev) nlev = want;
    (void)getenvfd("DWTthr", 1.0f);
    if (!g_wavelet(f.data(), W, H, basis, nlev)) return;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            int v = (int)std::floor(f[(size_t)y * W + x]) + mid;
            if (v < lo) v = lo;
            if (v > hi) v = hi;
            buf[(size_t)y * bpl + x] = (unsigned char)v;
        }
}

void DataWin::drawMosaicLabels() {
    int n = count(dataSets);
    int c0, c1, r0, r1;
    visibleTiles(&c0, &c1, &r0, &r1);
    unsigned long black = fl_get_pixel(FL_BLACK), green = fl_get_pixel(FL_GREEN);
    XSetForeground(xDisplay, pixGC, black);
    XSetBackground(xDisplay, pixGC, green);
    char txt[16];
    for (int c = c0; c <= c1; c++)
        for (int r = r0; r <= r1; r++) {
            int i = r * columns + c;
            if (i >= n) continue;
            MRCData* d = (MRCData*)dataSets->objectAt(i);
            std::snprintf(txt, sizeof txt, "%1d", d->Seqno());
            int x = (int)(zoom * c * cellX) - xOrigin + 3;
            int y = yOrigin + canvasH - (int)(zoom * r * cellY) - 3;
            XDrawImageString(xDisplay, pixmap, pixGC, x, y, txt, (int)std::strlen(txt));
        }
    XSetForeground(xDisplay, pixGC, green);
    int yTop = yOrigin + canvasH - (int)(zoom * (r1 + 1) * cellY);
    int yBot = yOrigin + canvasH - (int)(zoom * r0 * cellY);
    int xLeft = (int)(zoom * c0 * cellX) - xOrigin;
    int xRight = (int)(zoom * (c1 + 1) * cellX) - xOrigin;
    for (int c = c0; c <= c1 + 1; c++) {
        int x = (int)(zoom * c * cellX) - xOrigin - 1;
        XDrawLine(xDisplay, pixmap, pixGC, x, yTop, x, yBot);
    }
    for (int r = r0; r <= r1 + 1; r++) {
        int y = yOrigin + canvasH - (int)(zoom * r * cellY);
        XDrawLine(xDisplay, pixmap, pixGC, xLeft, y, xRight, y);
    }
}

void DataWin::drawBoxes() {
    MRCData* d = firstdata();
    if (!d) return;
    unsigned long red = fl_get_pixel(FL_RED), blue = fl_get_pixel(FL_BLUE);
    BoxRecord* b = d->Boxes();
    char txt[16];
    for (int k = 0; k < d->nBoxes(); k++) {
        const BoxRecord& bx = b[k];
        // Moved when either centre coordinate is set; drawn where it stands now.
        const bool moved = boxMoved(bx);
        unsigned long col = moved ? blue : (MMode.markType == 4 ? 0 : red);
        XSetForeground(xDisplay, pixGC, col);
        int x, y;
        boxCorner(bx, &x, &y);
        // Y: the bottom screen row of data row y, where the renderer puts it.
        int X = (int)(zoom * x) - xOrigin;
        int Y = (yOrigin + canvasH - 1) - (int)(zoom * y);
        if (bx.type != 0) {
            int X2 = (int)(zoom * bx.xsize) - xOrigin;
            int Y2 = (yOrigin + canvasH - 1) - (int)(zoom * bx.ysize);
            doLine(xDisplay, pixmap, pixGC, X, Y, X2 - X, Y2 - Y, zoom);
            continue;
        }
        int w = (int)(zoom * bx.xsize), h = (int)(zoom * bx.ysize);
        int top = Y + 1 - h;
        if (!(X <= canvasW && w >= 0 && top <= canvasH && h >= 0)) continue;
        if (MMode.markType > 0) drawShape(xDisplay, pixmap, pixGC, MMode.markType, X, top, w, h);
        if (MMode.markType == 1) {
            std::snprintf(txt, sizeof txt, "%1d", k + 1);
            XDrawString(xDisplay, pixmap, pixGC, X + 3, Y - 3, txt, (int)std::strlen(txt));
        }
    }
}

int DataWin::display() {
    bandW = 0;
    if (!ok || !form) {
        drawEmpty();
        return 1;
    }
    FL_Coord cx, cy, cw, ch;
    fl_get_object_geometry(form->canvas, &cx, &cy, &cw, &ch);
    if (cw != canvasW || ch != canvasH || !ximage) {
        if (cw != canvasW || ch != canvasH) resize();
    }
    int n = count(dataSets);
    if (n == 0 || !ximage) {
        drawEmpty();
        return 1;
    }
    if (dirty) {
        renderTiles();
        if (printMode) {
            // The print rendering lives in its own buffer; the screen keeps
            // its image and renders normally next time.
            printMode = 0;
            dirty = 1;
            return 1;
        }
        dirty = 0;
        XPutImage(xDisplay, pixmap, pixGC, ximage, 0, 0, 0, 0, canvasW, canvasH);
    }
    if (n > 1)
        drawMosaicLabels();
    else
        drawBoxes();
    if (shellHooks.overlay) shellHooks.overlay(this);
    XClearWindow(xDisplay, canvasWin);
    XSync(xDisplay, False);
    return 1;
}

// ---------------------------------------------------------------- mouse

void DataWin::clampOrigin() {
    if (xOrigin > fullW - canvasW) xOrigin = fullW - canvasW;
    if (yOrigin > fullH - canvasH) yOrigin = fullH - canvasH;
    if (xOrigin < 0) xOrigin = 0;
    if (yOrigin < 0) yOrigin = 0;
}

void DataWin::eraseBand() {
    if (bandW > 0 && canvasWin) XClearWindow(xDisplay, canvasWin);
}

int DataWin::buttonPress(int x, int y, int code, unsigned long time) {
    int n = count(dataSets);
    if (n == 0) return 0;
    int dx, dy;
    toData(x, y, &dx, &dy);
    MRCData* d = firstdata();
    int mode = MMode.mode;
    if (n > 1 && mode != ZAP) mode = MOVE;
    const bool cplx = d->isComplex() != 0;
    if (cplx) eraseBand();

    bool done = true;
    switch (code) {
        case EV_ENTER:
            if (mode == MOVE)
                setTitle("Image: Left button centers, middle button pans");
            else if (!cplx && mode == CTF)
                setTitle("Image: NOT FUNCTIONAL YET");
            else if (!cplx && mode == ZAP)
                setTitle("IMAGE ZAPPER: CLICK TO REMOVE");
            else if (cplx && mode == DRAG)
                setTitle("Image: Click to Fourier filter");
            else if (cplx && mode == BOX)
                setTitle("Image: CANNOT BOX COMPLEX IMAGES");
            else if (cplx && mode == CTF)
                setTitle("Image");
            else
                done = false;
            break;
        case EV_LEAVE:
            if (bandW > 0) eraseBand();
            bandW = 0;
            setTitle("Image");
            break;
        case EV_LEFT_PRESS:
            if (mode == MOVE) {
                xOrigin += x - canvasW / 2;
                yOrigin -= y - canvasH / 2;
                clampOrigin();
                redraw();
            } else {
                done = false;
            }
            break;
        case EV_MIDDLE_PRESS:
            if (mode == MOVE || mode == DRAG || mode == BOX || (!cplx && mode == DB)) {
                bandX = (int16_t)x;
                bandY = (int16_t)y;
            } else {
                done = false;
            }
            break;
        case EV_MIDDLE_DRAG:
            if (mode == MOVE || mode == DRAG || mode == BOX || (!cplx && (mode == DB || mode == FILA))) {
                xOrigin -= x - bandX;
                yOrigin += y - bandY;
                clampOrigin();
                bandX = (int16_t)x;
                bandY = (int16_t)y;
                redraw();
            } else {
                done = false;
            }
            break;
        default:
            done = false;
    }
    if (!done) {
        ModeHandler h = modeHandler(mode, cplx);
        if (h) h(this, x, y, dx, dy, code, time);
    }
    if (!cplx && ev_is_button(code) && shellHooks.moused) shellHooks.moused(this, x, y, code, time);
    return 1;
}

// ---------------------------------------------------------------- canvas events

int DataWin_expose(FL_OBJECT*, Window, int, int, XEvent*, void* d) {
    ((DataWin*)d)->display();
    return 0;
}

int DataWin_button(FL_OBJECT*, Window, int, int, XEvent* ev, void* d) {
    int b = (int)ev->xbutton.button;
    int code = b == 1 ? EV_LEFT_PRESS : b == 2 ? EV_MIDDLE_PRESS : b == 3 ? EV_RIGHT_PRESS : EV_OTHER_PRESS;
    if (code > 0) MMode.buttons |= code;
    ((DataWin*)d)->buttonPress(ev->xbutton.x, ev->xbutton.y, code, ev->xbutton.time);
    return 0;
}

int DataWin_unbutton(FL_OBJECT*, Window, int, int, XEvent* ev, void* d) {
    int b = (int)ev->xbutton.button;
    int code = b == 1 ? EV_LEFT_RELEASE : b == 2 ? EV_MIDDLE_RELEASE : b == 3 ? EV_RIGHT_RELEASE : EV_OTHER_RELEASE;
    // Only the three buttons we track: a wheel release must not drop a held button.
    if (code > 0) MMode.buttons &= ~(code & 15);
    ((DataWin*)d)->buttonPress(ev->xbutton.x, ev->xbutton.y, code, ev->xbutton.time);
    return 0;
}

int DataWin_enterwin(FL_OBJECT*, Window, int, int, XEvent* ev, void* d) {
    ((DataWin*)d)->buttonPress(ev->xcrossing.x, ev->xcrossing.y, EV_ENTER, ev->xcrossing.time);
    return 0;
}

int DataWin_leavewin(FL_OBJECT*, Window, int, int, XEvent* ev, void* d) {
    ((DataWin*)d)->buttonPress(ev->xcrossing.x, ev->xcrossing.y, EV_LEAVE, ev->xcrossing.time);
    return 0;
}

int DataWin_drag(FL_OBJECT*, Window, int, int, XEvent* ev, void* d) {
    unsigned s = ev->xmotion.state;
    int code = (s & Button1Mask)   ? EV_LEFT_DRAG
               : (s & Button2Mask) ? EV_MIDDLE_DRAG
               : (s & Button3Mask) ? EV_RIGHT_DRAG
                                   : EV_MOVE;
    ((DataWin*)d)->buttonPress(ev->xmotion.x, ev->xmotion.y, code, ev->xmotion.time);
    return 0;
}
