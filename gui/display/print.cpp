// PostScript page of a view: grey levels 1..254 on white, trimmed, placed on
// a 540 x 720 point area, with frame, mosaic labels and an optional scale bar.
#include "gui/display/print.h"

#include <forms.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/prefs.h"
#include "gui/display/datawin.h"
#include "gui/display/xglobals.h"
#include "gui/shell/inputs.h"

FD_print* ppanel = nullptr;

namespace {
FD_print* create_form_print() {
    FD_print* fd = (FD_print*)fl_calloc(1, sizeof(FD_print));
    fd->print = fl_bgn_form(FL_NO_BOX, 330, 200);
    fl_add_box(FL_UP_BOX, 0, 0, 330, 200, "");
    fd->fit = fl_add_checkbutton(FL_PUSH_BUTTON, 10, 10, 120, 25, "Fit to Page");
    fd->scaleBar = fl_add_checkbutton(FL_PUSH_BUTTON, 10, 40, 100, 25, "Scale Bar");
    fd->nm = fl_add_input(FL_FLOAT_INPUT, 115, 40, 60, 25, "");
    fl_add_text(FL_NORMAL_TEXT, 178, 40, 30, 25, "nm");
    fd->box = fl_add_checkbutton(FL_PUSH_BUTTON, 215, 40, 60, 25, "Box");
    fd->toFile = fl_add_checkbutton(FL_PUSH_BUTTON, 10, 70, 120, 25, "Save to File");
    fd->file = fl_add_input(FL_NORMAL_INPUT, 135, 70, 185, 25, "");
    fd->command = fl_add_input(FL_NORMAL_INPUT, 135, 105, 185, 25, "Print Command:");
    fd->cancel = fl_add_button(FL_NORMAL_BUTTON, 40, 155, 100, 30, "Cancel");
    fl_set_object_callback(fd->cancel, print_close, 1);
    fd->ok = fl_add_button(FL_RETURN_BUTTON, 190, 155, 100, 30, "OK");
    fl_set_object_callback(fd->ok, print_close, 0);
    fl_end_form();
    fd->print->fdui = fd;
    return fd;
}

// Writes bytes as hex, a line feed after every 38th byte of the whole image.
struct HexOut {
    FILE* fp;
    long n = 0;
    void put(unsigned char b) {
        static const char* hx = "0123456789abcdef";
        char t[2] = {hx[b >> 4], hx[b & 15]};
        std::fwrite(t, 1, 2, fp);
        if (++n % 38 == 0) std::fputc('\n', fp);
    }
};
}  // namespace

int printView(DataWin* v, FILE* fp, const PrintOptions& opt, MRCData* first) {
    if (!v || !fp) return 0;
    if (!first) first = v->firstdata();
    const char* title = first ? first->Name() : "Untitled";
    if (!title) title = "Untitled";

    // Render for print; a view showing nothing leaves an all-white page.
    v->setPrintMode(1);
    v->dirty = 1;
    v->display();
    v->setPrintMode(0);
    const unsigned char* B = v->printBuffer();
    int bpl = v->printBytesPerLine();
    int H = v->canvasHeight();
    bool empty = count(v->data()) == 0 || !B || H < 2 || bpl < 1;

    int W = bpl, T = H, h = -1;
    if (!empty) {
        const unsigned char* row = B + (size_t)(H - 2) * bpl;
        int col = -1;
        for (int x = bpl - 1; x >= 0; x--)
            if (row[x] != 255) {
                col = x;
                break;
            }
        W = (col < 0 || col == bpl - 1) ? bpl : col;
        T = 0;
        while (T < H && B[(size_t)T * bpl] == 255) T++;
        h = H - T - 1;
    }

    std::time_t now = std::time(nullptr);
    std::fprintf(fp, "%%!PS-Adobe-2.0\n%%%%Title: %s\n", title);
    std::fprintf(fp, "%%%%Creator: TARVIK\n%%%%CreationDate: %s", std::ctime(&now));
    std::fprintf(fp, "%%%%DocumentData: Clean7Bit\n%%%%LanguageLevel: 2\n%%%%EndComments\n");
    std::fprintf(fp, "36 36 translate\n");
    if (empty || h < 1 || W < 1) {
        // Nothing shown: a valid, blank page.
        std::fprintf(fp, "\n\nshowpage\n");
        v->redraw();
        return 1;
    }

    double tx, ty;
    if (opt.fit) {
        double a = W / 540.0, b = h / 720.0, k;
        if (b > a) {
            k = 1 / b;
            tx = (540 / k - W) / 2;
            ty = 0;
        } else {
            k = 1 / a;
            tx = 0;
            ty = (720 / k - h) / 2;
        }
        std::fprintf(fp, "%f dup scale\n", k);
    } else {
        tx = (540 - W) / 2.0;
        ty = (720 - h) / 2.0;
        if (tx < 0 || ty < 0) {
            std::fprintf(fp, ".5 .5 scale\n");
            tx = (1080 - W) / 2.0;
            ty = (1440 - h) / 2.0;
        }
    }
    std::fprintf(fp, "/str %d string def\n%1.1f %1.1f translate matrix currentmatrix %d %d scale\n", W, tx, ty, W, h);
    std::fprintf(fp, "%d %d 8 [%d 0 0 %d 0 0] {currentfile str readhexstring pop} image\n", W, h, W, h);
    HexOut out{fp};
    for (int r = H - 1; r >= H - h; r--) {
        const unsigned char* row = B + (size_t)r * bpl;
        for (int x = 0; x < W; x++) out.put(row[x]);
    }
    std::fprintf(fp,
                 "\nsetmatrix gsave 0 setgray 1.5 setlinewidth\n-1 -1 moveto %d -1 lineto %d %d lineto -1 %d lineto "
                 "closepath gsave stroke grestore clip\n",
                 W + 1, W + 1, H - T, H - T);
    v->psBoxes(fp);

    // The scale bar needs a pixel size: without a data set (or with a
    // non-positive size) it is left out rather than drawn at a made-up scale.
    if (opt.scaleBar && first && first->Pixres() > 0) {
        float L = opt.scaleNm;
        double s = 10 * v->getZoom() * L / first->Pixres();
        if (opt.box) {
            std::fprintf(fp, "%1.2f 25 moveto %1.2f 25 lineto %1.2f 5 lineto %1.2f 5 lineto closepath\n", W - s - 30,
                         (double)W - 20, (double)W - 20, W - s - 30);
            std::fprintf(fp, "gsave 1 setgray fill grestore 0 setgray 1 setlinewidth stroke\n");
        }
        std::fprintf(fp, "1 setgray 4.5 setlinewidth %1.2f 20 moveto %1.2f 20 lineto stroke\n", W - s - 27,
                     (double)W - 23);
        std::fprintf(fp, "0 setgray 3 setlinewidth %1.2f 20 moveto %1.2f 20 lineto stroke\n", W - s - 25,
                     (double)W - 25);
        std::fprintf(fp, "/Helvetica findfont 10 scalefont setfont (%gnm) stringwidth pop -2 div\n", L);
        std::fprintf(fp, "2 setlinewidth 1 setgray %1.1f add 8 moveto gsave (%gnm) false charpath stroke grestore\n",
                     W - s / 2 - 25, L);
        std::fprintf(fp, "1 setlinewidth 0 setgray (%gnm) show stroke\n", L);
    }
    std::fprintf(fp, "grestore\n");
    std::fprintf(fp, "\n\nshowpage\n");
    v->redraw();
    return 1;
}

void DataWin::psBoxes(FILE* fp) {
    std::fprintf(fp, "\n0 setgray 1 setlinewidth /Helvetica findfont 10 scalefont setfont\n");
    int n = count(dataSets);
    if (n > 1) {
        int c0, c1, r0, r1;
        visibleTiles(&c0, &c1, &r0, &r1);
        auto px = [&](int c) { return (int)(zoom * c * cellX) - xOrigin; };
        auto py = [&](int r) { return (int)(zoom * r * cellY) - yOrigin; };
        for (int pass = 0; pass < 2; pass++) {
            std::fprintf(fp, pass == 0 ? "1 setgray 1.5 setlinewidth\n" : "stroke 0 setgray .8 setlinewidth\n");
            for (int c = c0; c <= c1; c++)
                for (int r = r0; r <= r1; r++) {
                    int i = r * columns + c;
                    if (i >= n) continue;
                    MRCData* d = (MRCData*)dataSets->objectAt(i);
                    std::fprintf(fp, pass == 0 ? "%d %d moveto (%1d) false charpath\n" : "%d %d moveto (%1d) show\n",
                                 px(c) + 3, py(r) + 4, d->Seqno());
                }
        }
        std::fprintf(fp, "stroke 0 setgray 1 setlinewidth\n");
        for (int c = c0; c <= c1 + 1; c++)
            std::fprintf(fp, "%d %d %d %d moveto lineto\n", px(c), py(r0), px(c), py(r1 + 1));
        for (int r = r0; r <= r1 + 1; r++)
            std::fprintf(fp, "%d %d %d %d moveto lineto\n", px(c0), py(r), px(c1 + 1), py(r));
    }
    std::fprintf(fp, "stroke\n");
}

void print_panel() {
    if (shellHooks.dohelp && shellHooks.dohelp()) {
        if (shellHooks.help) shellHooks.help("Prints whatever is visible in the current view.");
        return;
    }
    if (ppanel) return;
    fl_deactivate_all_forms();
    ppanel = create_form_print();
    fl_set_input(ppanel->nm, getenv2d("psscale", "10"));
    fl_set_input(ppanel->file, getenv2d("psfile", "tarvik.ps"));
    fl_set_input(ppanel->command, getenv2d("pscom", "lp"));
    fl_show_form(ppanel->print, FL_PLACE_CENTER, FL_TRANSIENT, "Print Panel");
}

void print_close(FL_OBJECT*, long which) {
    if (!ppanel) return;
    double nm = 10;
    // The panel stays open on a refused length.
    if (which == 0 &&
        !input_number(ppanel->nm, "Scale bar (nm)", above(0, 100000), getenv2d("psscale", "10"), &nm))
        return;
    if (which == 0) {
        setenv2("psfile", fl_get_input(ppanel->file));
        setenv2("psscale", fl_get_input(ppanel->nm));
        setenv2("pscom", fl_get_input(ppanel->command));
        PrintOptions opt;
        opt.fit = fl_get_button(ppanel->fit);
        opt.scaleBar = fl_get_button(ppanel->scaleBar);
        opt.box = fl_get_button(ppanel->box);
        opt.scaleNm = (float)nm;
        DataWin* v = shellHooks.currentView ? shellHooks.currentView() : nullptr;
        MRCData* first = shellHooks.firstSelected ? shellHooks.firstSelected() : nullptr;
        if (v) {
            if (fl_get_button(ppanel->toFile)) {
                AtomicFile af;
                if (FILE* fp = af.open(fl_get_input(ppanel->file))) {
                    printView(v, fp, opt, first);
                    af.commit();
                }
            } else {
                // A print command that exits early must not kill us with SIGPIPE.
                void (*old)(int) = std::signal(SIGPIPE, SIG_IGN);
                if (FILE* fp = popen(fl_get_input(ppanel->command), "w")) {
                    printView(v, fp, opt, first);
                    pclose(fp);
                }
                std::signal(SIGPIPE, old);
            }
        }
    }
    fl_hide_form(ppanel->print);
    fl_free_form(ppanel->print);
    fl_free(ppanel);
    ppanel = nullptr;
    fl_activate_all_forms();
}
