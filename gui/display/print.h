// PostScript printing of what a view shows: the print panel and the page.
#pragma once

#include <forms.h>

#include <cstdio>

class DataWin;
class MRCData;

struct FD_print {
    FL_FORM* print;
    void* vdata;
    char* cdata;
    long ldata;
    FL_OBJECT* fit;       // "Fit to Page"
    FL_OBJECT* scaleBar;  // "Scale Bar"
    FL_OBJECT* nm;        // scale bar length (nm)
    FL_OBJECT* box;       // "Box" behind the scale bar
    FL_OBJECT* toFile;    // "Save to File"
    FL_OBJECT* file;      // file name
    FL_OBJECT* command;   // "Print Command:"
    FL_OBJECT* cancel;
    FL_OBJECT* ok;
};
extern FD_print* ppanel;

// File > Print: shows the panel (all other forms inactive until it closes).
void print_panel();
// Panel buttons: which 0 prints, 1 cancels; either way the panel goes away.
void print_close(FL_OBJECT* ob, long which);

struct PrintOptions {
    int fit = 0;
    int scaleBar = 0;
    float scaleNm = 10;
    int box = 0;
};
// Renders the view in print mode and writes the page to fp; first gives the
// title and pixel size (null: the view's first data set, else no title and no
// scale bar). Redraws the view normally afterwards. Returns 1.
int printView(DataWin* v, FILE* fp, const PrintOptions& opt, MRCData* first);
