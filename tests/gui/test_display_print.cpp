// PostScript of a view: exact header, placement and image bytes, and
// ghostscript accepts every variant.
// GoogleTest first: Xlib defines None.
#include <gtest/gtest.h>
// (keep this order)
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/mmode.h"
#include "core/prefs.h"
#include "display/datawin.h"
#include "display/print.h"
#include "display/xglobals.h"
#include "tests/gui/display_env.h"

namespace {

std::unique_ptr<MRCData> pattern(int nx, int ny, const char* name, int seq = 1) {
    std::vector<float> v((size_t)nx * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) v[(size_t)y * nx + x] = (float)((x * 7 + y * 13) % 256);
    auto d = std::make_unique<MRCData>();
    d->setRealData(v.data(), nx, ny, 1);
    d->setName(name);
    d->setSeqno(seq);
    return d;
}

std::string printed(DataWin& v, const PrintOptions& o, MRCData* first) {
    char* buf = nullptr;
    size_t len = 0;
    FILE* fp = open_memstream(&buf, &len);
    EXPECT_EQ(printView(&v, fp, o, first), 1);
    std::fclose(fp);
    std::string s(buf, len);
    std::free(buf);
    return s;
}

// 0 when ghostscript renders the page without error (-1 when gs is missing).
int ghostscript(const std::string& ps) {
    if (std::system("command -v gs >/dev/null 2>&1") != 0) return -1;
    char path[] = "/tmp/tarvik_psXXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return -2;
    if (write(fd, ps.data(), ps.size()) != (ssize_t)ps.size()) return -3;
    close(fd);
    std::string cmd = std::string("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage ") + path + " >/dev/null 2>&1";
    int rc = std::system(cmd.c_str());
    unlink(path);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : 99;
}

// Drops the CreationDate line (the clock) after checking its form.
std::string withoutDate(const std::string& s) {
    size_t p = s.find("%%CreationDate: ");
    if (p == std::string::npos) return s;
    size_t e = s.find('\n', p);
    return s.substr(0, p) + s.substr(e + 1);
}

struct DisplayPrint : ::testing::Test {
    SharedStateGuard keep;
    std::unique_ptr<DataWin> view;
    void SetUp() override {
        MMode = MouseMode();
        shellHooks = ShellHooks();
        view = std::make_unique<DataWin>(0, 0);
        ASSERT_TRUE(view->usable());
    }
    void TearDown() override {
        if (view) view->setData(nullptr);
        view.reset();
    }
};

}  // namespace

TEST_F(DisplayPrint, Edge256PageIsExact) {
    ASSERT_EQ(view->canvasWidth(), 420);
    ASSERT_EQ(view->canvasHeight(), 380);
    auto d = pattern(256, 256, "edge256");
    List* l = new List;
    l->addObject(d.get());
    view->setData(l);
    view->setMMGray(0, 255);
    std::string ps = printed(*view, PrintOptions(), d.get());

    // Independent picture of the expected page: levels 1..254, data row 0 first.
    std::string want =
        "%!PS-Adobe-2.0\n%%Title: edge256\n%%Creator: TARVIK\n"
        "%%DocumentData: Clean7Bit\n%%LanguageLevel: 2\n%%EndComments\n36 36 translate\n"
        "/str 255 string def\n142.5 232.5 translate matrix currentmatrix 255 255 scale\n"
        "255 255 8 [255 0 0 255 0 0] {currentfile str readhexstring pop} image\n";
    long n = 0;
    char hx[3];
    for (int y = 0; y < 255; y++)
        for (int x = 0; x < 255; x++) {
            double v = (x * 7 + y * 13) % 256;
            int L = v <= 0 ? 1 : v >= 255 ? 254 : 1 + (int)(v * 253.0 / 255.0);
            std::snprintf(hx, sizeof hx, "%02x", L);
            want += hx;
            if (++n % 38 == 0) want += '\n';
        }
    want +=
        "\nsetmatrix gsave 0 setgray 1.5 setlinewidth\n-1 -1 moveto 256 -1 lineto 256 256 lineto -1 256 lineto "
        "closepath gsave stroke grestore clip\n"
        "\n0 setgray 1 setlinewidth /Helvetica findfont 10 scalefont setfont\nstroke\n"
        "grestore\n\n\nshowpage\n";
    ASSERT_NE(ps.find("%%CreationDate: "), std::string::npos);
    EXPECT_EQ(withoutDate(ps), want);
    EXPECT_EQ(ghostscript(ps) > 0, false);
    // The view is back to its normal rendering afterwards.
    EXPECT_FALSE(view->isDirty());
    EXPECT_EQ(view->printMode, 0);
}

TEST_F(DisplayPrint, ScaleBarMosaicAndFitToPage) {
    auto d = pattern(256, 256, "bar");
    d->setPixres(5);
    List* l = new List;
    l->addObject(d.get());
    view->setData(l);
    view->setMMGray(0, 255);
    PrintOptions o;
    o.scaleBar = 1;
    o.box = 1;
    o.scaleNm = 10;
    std::string ps = printed(*view, o, d.get());
    // s = 10 x zoom x 10 nm / 5 A = 20 points, W = 255.
    EXPECT_NE(ps.find("205.00 25 moveto 235.00 25 lineto 235.00 5 lineto 205.00 5 lineto closepath\n"),
              std::string::npos);
    EXPECT_NE(ps.find("1 setgray 4.5 setlinewidth 208.00 20 moveto 232.00 20 lineto stroke\n"), std::string::npos);
    EXPECT_NE(ps.find("0 setgray 3 setlinewidth 210.00 20 moveto 230.00 20 lineto stroke\n"), std::string::npos);
    EXPECT_NE(ps.find("(10nm) stringwidth pop -2 div\n2 setlinewidth 1 setgray 220.0 add 8 moveto"), std::string::npos);
    EXPECT_EQ(ps.find("charpath\n"), std::string::npos);  // a single image has no tile labels
    EXPECT_EQ(ghostscript(ps) > 0, false);

    // A 5-tile mosaic prints numbers and separators.
    std::vector<std::unique_ptr<MRCData>> ds;
    List* m = new List;
    for (int i = 0; i < 5; i++) {
        ds.push_back(pattern(64, 64, "tile", i + 1));
        m->addObject(ds.back().get());
    }
    view->setData(m);
    ps = printed(*view, PrintOptions(), ds[0].get());
    EXPECT_NE(ps.find("1 setgray 1.5 setlinewidth\n3 4 moveto (1) false charpath\n3 68 moveto (4) false charpath\n"),
              std::string::npos);
    EXPECT_NE(ps.find("stroke 0 setgray .8 setlinewidth\n3 4 moveto (1) show\n"), std::string::npos);
    EXPECT_NE(ps.find("stroke 0 setgray 1 setlinewidth\n0 0 0 128 moveto lineto\n64 0 64 128 moveto lineto\n"),
              std::string::npos);
    EXPECT_NE(ps.find("0 128 192 128 moveto lineto\nstroke\n"), std::string::npos);
    EXPECT_EQ(ghostscript(ps) > 0, false);

    // Fit to page with a wide picture: no horizontal shift, centred vertically.
    auto wide = pattern(400, 100, "wide");
    List* w = new List;
    w->addObject(wide.get());
    view->setData(w);
    view->setMMGray(0, 255);
    o = PrintOptions();
    o.fit = 1;
    ps = printed(*view, o, wide.get());
    // W = 399, h = 99: k = 540 / 399.
    char line[128];
    std::snprintf(line, sizeof line, "%f dup scale\n", 540.0 / 399);
    EXPECT_NE(ps.find(line), std::string::npos);
    std::snprintf(line, sizeof line, "0.0 %1.1f translate", (720 / (540.0 / 399) - 99) / 2);
    EXPECT_NE(ps.find(line), std::string::npos);
    EXPECT_EQ(ghostscript(ps) > 0, false);
}

TEST_F(DisplayPrint, WiderThanThePageIsHalved) {
    fl_set_form_size(view->form->datawin, 660, 400);
    XSync(fl_display, False);
    auto d = pattern(600, 100, "big");
    List* l = new List;
    l->addObject(d.get());
    view->setData(l);
    view->setMMGray(0, 255);
    std::string ps = printed(*view, PrintOptions(), d.get());
    ASSERT_EQ(view->canvasWidth(), 640);
    EXPECT_NE(ps.find("36 36 translate\n.5 .5 scale\n/str 599 string def\n240.5 670.5 translate"), std::string::npos);
    EXPECT_EQ(ghostscript(ps) > 0, false);
}

TEST_F(DisplayPrint, NothingSelectedStillGivesAValidPage) {
    PrintOptions o;
    o.scaleBar = 1;
    std::string ps = printed(*view, o, nullptr);
    EXPECT_EQ(withoutDate(ps),
              "%!PS-Adobe-2.0\n%%Title: Untitled\n%%Creator: TARVIK\n%%DocumentData: Clean7Bit\n"
              "%%LanguageLevel: 2\n%%EndComments\n36 36 translate\n\n\nshowpage\n");
    EXPECT_EQ(ghostscript(ps) > 0, false);
    // A shown image without a selection: titled by the view's image, and a
    // scale bar needs a positive pixel size.
    auto d = pattern(100, 100, "shown");
    d->setPixres(0);
    List* l = new List;
    l->addObject(d.get());
    view->setData(l);
    ps = printed(*view, o, nullptr);
    EXPECT_NE(ps.find("%%Title: shown\n"), std::string::npos);
    EXPECT_EQ(ps.find("setlinewidth stroke"), std::string::npos);
    EXPECT_EQ(ps.find("nm)"), std::string::npos);
    EXPECT_EQ(ghostscript(ps) > 0, false);
}

TEST_F(DisplayPrint, WaveletViewPrintsFiltered) {
    auto d = pattern(128, 128, "wv");
    List* l = new List;
    l->addObject(d.get());
    view->setData(l);
    WaveletViewFilter keepFilter = waveletViewFilter();
    setWaveletViewFilter([](float* f, int w, int h, int, int) {
        for (int i = 0; i < w * h; i++) f[i] = 0;
        return 1;
    });
    MMode.waveletView = 1;
    std::string ps = printed(*view, PrintOptions(), d.get());
    setWaveletViewFilter(keepFilter);
    // Everything became mid grey 127 of the print ramp 1..254: nothing is
    // white any more, so the whole canvas is the picture.
    EXPECT_NE(ps.find("/str 420 string def\n"), std::string::npos);
    EXPECT_NE(ps.find("420 379 8 [420 0 0 379 0 0]"), std::string::npos);
    EXPECT_NE(ps.find("image\n7f7f7f7f"), std::string::npos);
    EXPECT_EQ(ghostscript(ps) > 0, false);
}

TEST_F(DisplayPrint, PanelWritesTheFileAndStoresTheEntries) {
    clearenv2();
    auto d = pattern(128, 128, "panel");
    List* l = new List;
    l->addObject(d.get());
    view->setData(l);
    static DataWin* cur = nullptr;
    cur = view.get();
    shellHooks.currentView = [] { return cur; };
    print_panel();
    ASSERT_NE(ppanel, nullptr);
    EXPECT_STREQ(fl_get_input(ppanel->file), "tarvik.ps");
    EXPECT_STREQ(fl_get_input(ppanel->command), "lp");
    EXPECT_STREQ(fl_get_input(ppanel->nm), "10");
    EXPECT_EQ(getenv2("psfile"), nullptr);  // defaults are shown, not stored
    char dir[] = "/tmp/tarvik_printXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string path = std::string(dir) + "/out file.ps";
    fl_set_input(ppanel->file, path.c_str());
    fl_set_button(ppanel->toFile, 1);
    print_close(ppanel->ok, 0);
    EXPECT_EQ(ppanel, nullptr);
    EXPECT_STREQ(getenv2("psfile"), path.c_str());
    EXPECT_STREQ(getenv2("pscom"), "lp");
    FILE* fp = std::fopen(path.c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    std::string ps;
    char buf[4096];
    size_t k;
    while ((k = std::fread(buf, 1, sizeof buf, fp)) > 0) ps.append(buf, k);
    std::fclose(fp);
    EXPECT_EQ(ps.rfind("%!PS-Adobe-2.0\n%%Title: panel\n", 0), 0u);
    EXPECT_EQ(ghostscript(ps) > 0, false);
    unlink(path.c_str());

    // A print command that reads nothing and exits must not take us down.
    print_panel();
    fl_set_input(ppanel->command, "true");
    print_close(ppanel->ok, 0);
    // Cancel prints nothing.
    print_panel();
    fl_set_input(ppanel->file, path.c_str());
    fl_set_button(ppanel->toFile, 1);
    print_close(ppanel->cancel, 1);
    EXPECT_NE(access(path.c_str(), F_OK), 0);
    rmdir(dir);
}
