// The shared workbench state the views use, and the few shell services they
// call back into. The shell defines the globals (app/state) and installs the
// hooks at start-up; views work without them (tests build views directly).
#pragma once

#include <X11/Xlib.h>

class List;
class MRCData;
class DataWin;

extern Display* dpy;        // the toolkit's display
extern List* dataList;      // groups: List of List of MRCData
extern List* viewList;      // List of DataWin
extern Font gfont;          // "6x10", text drawn into views
extern Cursor cursors[10];  // indexed by mouse mode

// Shell services reached from the display code. Any may be null.
struct ShellHooks {
    // The view selected in the control panel (current_view).
    DataWin* (*currentView)() = nullptr;
    // First data set selected in the image browser, or null (print title, scale bar).
    MRCData* (*firstSelected)() = nullptr;
    // Control-panel side of a press/release/drag on a real data set
    // (view_Moused: make the view current, keep the pan positioner in step,
    // show a dragged box size). Called after the view has acted.
    void (*moused)(DataWin* v, int x, int y, int code, unsigned long time) = nullptr;
    // A view rebuilt its image for a new canvas size (resize_callback).
    void (*resized)(DataWin* v) = nullptr;
    // Help mode (dohelp) and the help window (help).
    int (*dohelp)() = nullptr;
    void (*help)(const char* text) = nullptr;
    // CTF mode was chosen (the live CTF window opens on a transform).
    void (*ctfModeOn)() = nullptr;
    // Drawn into a view's pixmap after its boxes, at every display (the CTF's zeros over a transform).
    void (*overlay)(DataWin* v) = nullptr;
};
extern ShellHooks shellHooks;
