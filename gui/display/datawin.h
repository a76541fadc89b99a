// One view window: a single data set or a mosaic of several, rendered into a
// client-side image, copied to an off-screen pixmap that is also the canvas
// background, so exposures never re-render.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <forms.h>

#include <cstdint>
#include <cstdio>
#include <vector>

class List;
class MRCData;

// The view form: a raised box and one canvas that grows with the window.
struct FD_datawin {
    FL_FORM* datawin;
    void* vdata;
    char* cdata;
    long ldata;
    FL_OBJECT* box;
    FL_OBJECT* canvas;
};
FD_datawin* create_form_datawin();

// Wavelet filtering of a rendered view, in place on width x height floats
// (row stride width); the wavelet engine by default, replaceable (tests), and
// null shows the plain rendering. Returns 1 when it filtered.
using WaveletViewFilter = int (*)(float* data, int width, int height, int basis, int levels);
void setWaveletViewFilter(WaveletViewFilter f);
WaveletViewFilter waveletViewFilter();

class DataWin {
public:
    DataWin(int x, int y);
    ~DataWin();
    DataWin(const DataWin&) = delete;
    DataWin& operator=(const DataWin&) = delete;

    int resize();
    int setData(List* l);
    int display();
    int setZoom(float z);
    int redraw();
    void setOrigin(int x, int y);
    int getXor() const { return xOrigin; }
    int getYor() const { return yOrigin; }
    float getZoom() const { return zoom; }
    void setMMGray(float min, float max);
    float minGray() const { return minG; }
    float maxGray() const { return maxG; }
    void setImParms(float mag, float pixres);
    int Group() const { return group; }
    void setGroup(int g) { group = g; }
    void setCursor(unsigned long c);
    void deleteData(MRCData* d);
    MRCData* firstdata();
    List* data() { return dataSets; }
    FL_OBJECT* canvas() { return form ? form->canvas : nullptr; }
    void freeze();
    void unfreeze();
    void psBoxes(FILE* fp);
    int buttonPress(int x, int y, int code, unsigned long time);

    // ---- beyond the named interface: state the shell, printing and tests read
    int usable() const { return ok; }  // depth supported and colour cells found
    int canvasWidth() const { return canvasW; }
    int canvasHeight() const { return canvasH; }
    int fullWidth() const { return fullW; }
    int fullHeight() const { return fullH; }
    int Columns() const { return columns; }
    int cellWidth() const { return cellX; }
    int cellHeight() const { return cellY; }
    int Depth() const { return depth; }
    int isDirty() const { return dirty; }
    XImage* image() { return ximage; }
    Pixmap pixmapId() const { return pixmap; }
    Window canvasWindow() const { return canvasWin; }
    Window formWindow() const { return formWin; }
    FD_datawin* formRecord() { return form; }
    void setTitle(const char* t);
    // The next display renders 8-bit grey levels 1..254 on white (255) for
    // PostScript; printBuffer() then holds them, printBytesPerLine() apart.
    void setPrintMode(int on) { printMode = on; }
    const unsigned char* printBuffer() const;
    int printBytesPerLine() const;
    // Data coordinates of a canvas point (pointer conversion of buttonPress).
    void toData(int x, int y, int* dx, int* dy) const;
    // The visible tile range of display().
    void visibleTiles(int* c0, int* c1, int* r0, int* r1) const;

    // ---- members (the view's state)
    List* dataSets = nullptr;
    FD_datawin* form = nullptr;
    Display* xDisplay = nullptr;
    Window canvasWin = 0;
    Window formWin = 0;
    GC pixGC = nullptr;
    GC winGC = nullptr;
    Visual* visual = nullptr;
    int dirty = 1;
    int cmapBase = 0, cmapCount = 0;
    int depth = 0;
    int tcBits = 0, tcGreenBits = 0;
    int xOrigin = 0, yOrigin = 0;
    int cellX = 0, cellY = 0;
    int fullW = 0, fullH = 0;
    int columns = 1;
    float zoom = 1;
    Pixmap pixmap = 0;
    XImage* ximage = nullptr;
    int canvasW = 0, canvasH = 0;
    int group = 1;
    float minG = 0, maxG = 1;
    int16_t bandX = 0, bandY = 0, bandW = 0, bandH = 0;
    int printMode = 0;

private:
    void renderTiles();
    void filterWavelet(unsigned char* buf, int bpl, int lo, int hi);
    void drawMosaicLabels();
    void drawBoxes();
    void drawEmpty();
    void buildTrueColorTable(int mode);

public:
    // Pan limits: origin within [0, full - canvas] on both axes.
    void clampOrigin();
    // Clears the window so the pixmap shows again (erases a rubber band).
    void eraseBand();

private:
    int ok = 0;
    int trueColor = 0;
    int bytesPerPixel = 0;  // true colour: bytes of one packed pixel in the image
    int msbFirst = 0;       // true colour: byte order of the image
    uint32_t tcLut[256] = {};
    int tcLutMode = -1;
    std::vector<unsigned char> levels;    // true colour: 8-bit levels before packing
    std::vector<unsigned char> printBuf;  // print mode on deep visuals
    int printBpl = 0;
    char title[160] = "Image";
};

// Mouse event codes handed to buttonPress: a press sets the button's bit
// (1 left, 2 middle, 4 right), a release adds 16, a motion is 32 plus the bit
// of the button held (the first of left, middle, right).
enum MouseEvent : int {
    EV_ENTER = 0,
    EV_LEFT_PRESS = 1,
    EV_MIDDLE_PRESS = 2,
    EV_RIGHT_PRESS = 4,
    EV_LEAVE = 16,
    EV_LEFT_RELEASE = 17,
    EV_MIDDLE_RELEASE = 18,
    EV_RIGHT_RELEASE = 20,
    EV_MOVE = 32,
    EV_LEFT_DRAG = 33,
    EV_MIDDLE_DRAG = 34,
    EV_RIGHT_DRAG = 36,
    EV_OTHER_PRESS = -1,  // a button other than the three
    EV_OTHER_RELEASE = -2,
};
// A press, release or drag of one of the three buttons.
inline bool ev_is_button(int code) {
    return code > 0 && (code & 7) != 0;
}
// A press (not a release or motion).
inline bool ev_is_press(int code) {
    return code > 0 && code < 8;
}

// Canvas event handlers, each with the view as user data.
int DataWin_expose(FL_OBJECT* ob, Window win, int w, int h, XEvent* ev, void* d);
int DataWin_button(FL_OBJECT* ob, Window win, int w, int h, XEvent* ev, void* d);
int DataWin_unbutton(FL_OBJECT* ob, Window win, int w, int h, XEvent* ev, void* d);
int DataWin_enterwin(FL_OBJECT* ob, Window win, int w, int h, XEvent* ev, void* d);
int DataWin_leavewin(FL_OBJECT* ob, Window win, int w, int h, XEvent* ev, void* d);
int DataWin_drag(FL_OBJECT* ob, Window win, int w, int h, XEvent* ev, void* d);
