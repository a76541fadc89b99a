// Views, colour cells, outlines, the mouse panel and PostScript of a view on a
// real X server (run at depth 8 and 24): rendered buffers and server pixels.
#include "tests/gui/gui_testutil.h"
// (after GoogleTest and Xlib)
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "gui/display/colormap.h"
#include "gui/display/print.h"
#include "tests/gui/xevents.h"

namespace {

using Pixels = std::vector<unsigned long>;

List* listOf(const std::vector<MRCData*>& ds) {
    List* l = new List;
    for (MRCData* d : ds) l->addObject(d);
    return l;
}

// The grey level a view shows for value v with limits lo..hi on a ramp a..b.
int level(float v, float lo, float hi, int a, int b) {
    return v <= lo ? a : v >= hi ? b : a + (int)((v - lo) * ((float)(b - a) / (hi - lo)));
}

PixelLayout layoutOf(DataWin& v) {
    return {v.image()->bits_per_pixel / 8, v.image()->byte_order == MSBFirst, v.visual->red_mask, v.visual->green_mask,
            v.visual->blue_mask};
}

// Colour-ramp pixel of level L of the cyclic map ("Color").
unsigned long colourPixel(DataWin& v, int L) {
    if (v.Depth() == 8) return (unsigned long)(L == 0 ? v.cmapBase : v.cmapCount);
    uint32_t t[256];
    buildTrueColorTable(layoutOf(v), 2, t);
    return t[L];
}

struct DisplayView : ::testing::Test {
    SharedStateGuard keep;
    std::vector<std::unique_ptr<MRCData>> owned;  // outlives the view
    std::unique_ptr<DataWin> view;
    const int H = 380;
    void SetUp() override {
        MMode = MouseMode();
        shellHooks = ShellHooks();
        view = std::make_unique<DataWin>(0, 0);
        ASSERT_TRUE(view->usable());
        ASSERT_EQ(view->canvasWidth() * 1000 + view->canvasHeight(), 420380);
    }
    MRCData* own(MRCData* d, int seq = 1) {
        owned.emplace_back(d);
        d->setSeqno(seq);
        return d;
    }
    MRCData* flat(int nx, int ny, float v, int seq = 1) {
        return own(image(nx, ny, [v](int, int) { return v; }), seq);
    }
    // A 66 x 64 transform holding these floats.
    MRCData* spectrum(const std::vector<float>& c) {
        MRCData* d = own(new MRCData());
        d->setComplData(c.data(), 66, 64, 1);
        return d;
    }
    // Shows the data sets; grey limits lo..hi when lo < hi.
    void show(const std::vector<MRCData*>& ds, float lo = 0, float hi = 0) {
        view->setData(listOf(ds));
        lo < hi ? view->setMMGray(lo, hi) : (void)view->display();
    }
    unsigned long px(int x, int y) { return XGetPixel(view->image(), x, y); }
    unsigned long server(int x, int y) { return serverPixel(view->pixmapId(), x, y); }
    // Rendered pixels at (x, screen row counted from the bottom), or the
    // server's pixmap at canvas points.
    Pixels rows(const std::vector<std::pair<int, int>>& pts, bool onServer = false) {
        Pixels p;
        for (auto& q : pts) p.push_back(onServer ? server(q.first, q.second) : px(q.first, H - 1 - q.second));
        return p;
    }
    // Expected pixel of a value (0..255 grey scale on true colour, ramp cell on 8-bit).
    unsigned long grey(float v, float lo, float hi) {
        if (view->Depth() == 8) return (unsigned long)level(v, lo, hi, view->cmapBase, view->cmapCount);
        const unsigned c = (unsigned)level(v, lo, hi, 0, 255) * 257;
        return packPixel(layoutOf(*view), c, c, c);
    }
};
struct DisplayPrint : DisplayView {};

}  // namespace

// ------------------------------------------------------------------ ramps

TEST(DisplayRamp, CellColoursAndTrueColourPacking) {
    const long top = 199L * 65535 / 200;  // never full white
    // clang-format off
    struct { int mode, i, n; long r, g, b; } cells[] = {
        {0, 0, 200, 0, 0, 0}, {0, 199, 200, top, top, top}, {1, 0, 200, top, top, top}, {1, 199, 200, 0, 0, 0},
        // 99 cells: f = 1 at cell 33 and f = 2 at cell 66 — pure green, pure blue.
        {2, 33, 99, 0, 65535, 0}, {2, 66, 99, 0, 0, 65535}, {2, 0, 99, 65535, 0, 0}};
    // clang-format on
    for (auto& c : cells) {
        unsigned short r, g, b;
        rampColor(c.mode, c.i, c.n, &r, &g, &b);
        EXPECT_EQ((std::vector<long>{r, g, b}), (std::vector<long>{c.r, c.g, c.b})) << c.mode << " " << c.i;
    }
    const PixelLayout rgb24{4, 0, 0xff0000, 0x00ff00, 0x0000ff}, rgb565{2, 0, 0xf800, 0x07e0, 0x001f},
        bgr{4, 1, 0x0000ff, 0x00ff00, 0xff0000};
    // clang-format off
    struct { PixelLayout lay; unsigned r, g, b; uint32_t want; } packs[] = {
        {rgb24, 0xffff, 0, 0, 0xff0000}, {rgb24, 0x1234, 0x5678, 0x9abc, 0x12569a},
        {rgb565, 0xffff, 0xffff, 0xffff, 0xffff}, {rgb565, 0, 0xffff, 0, 0x07e0}, {bgr, 0xffff, 0, 0, 0xff}};
    // clang-format on
    for (auto& p : packs) EXPECT_EQ(packPixel(p.lay, p.r, p.g, p.b), p.want) << std::hex << p.want;
    uint32_t t[256];
    buildTrueColorTable(rgb24, 0, t);
    EXPECT_EQ((std::vector<uint32_t>{t[0], t[128], t[255]}), (std::vector<uint32_t>{0, 0x808080, 0xffffff}));
    buildTrueColorTable(rgb24, 1, t);
    EXPECT_EQ((std::vector<uint32_t>{t[0], t[255]}), (std::vector<uint32_t>{0xffffff, 0}));
    buildTrueColorTable(rgb24, 2, t);
    // The two ends of the cyclic map are nearly the same red.
    EXPECT_TRUE(((t[0] >> 16) & 255) >= 250 && ((t[255] >> 16) & 255) >= 240 && (t[0] & 0xffff) == 0) << t[0];
}

// ------------------------------------------------------------------ colour cells

TEST(DisplayColormap, RunIsCachedLoadedWithTheRampsAndPrivateWhenTheSharedMapIsFull) {
    if (fl_state[fl_vmode].depth != 8) GTEST_SKIP() << "no colour cells on a true-colour visual";
    int f1, l1, f2, l2;
    ASSERT_EQ(getMapColors(&f1, &l1), 1);
    ASSERT_GE(l1 - f1 + 1, 32);
    ASSERT_EQ(getMapColors(&f2, &l2), 1);  // a second view reuses the run
    EXPECT_EQ(f1 * 1000 + l1, f2 * 1000 + l2);
    const int n = l1 - f1 + 1;
    std::vector<XColor> c(n);
    auto query = [&] {
        for (int i = 0; i < n; i++) c[i].pixel = (unsigned long)(f1 + i);
        XQueryColors(fl_display, colormapOfViews(), c.data(), n);
    };
    query();
    // The server keeps the top 8 bits of each component on this visual.
    for (int i = 0; i < n; i++) {
        unsigned short r, g, b;
        rampColor(0, i, n, &r, &g, &b);
        EXPECT_EQ(c[i].red >> 8, r >> 8) << i;
    }
    setCmap(1);
    query();
    EXPECT_EQ((Ints{c[0].red >> 8, c[n - 1].red}), (Ints{(int)((n - 1) * 65535L / n) >> 8, 0}));
    setCmap(2);
    query();
    EXPECT_TRUE(c[0].red > 60000 && c[0].blue == 0) << c[0].red << " " << c[0].blue;
    setCmap(0);

    // Another client takes every free cell of the toolkit's colour map.
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    resetMapColors();
    unsigned long px[256];
    for (int n = 256; n >= 1;)
        if (!XAllocColorCells(other, fl_state[fl_vmode].colormap, False, nullptr, 0, px, (unsigned)n)) n /= 2;
    XSync(other, False);
    int f, l, ok = 0;
    std::string out = said([&] { ok = getMapColors(&f, &l); });
    EXPECT_TRUE(ok == 1 && colormapIsPrivate() && l - f + 1 >= 32) << f << " " << l;
    EXPECT_NE(out.find("colors allocated in"), std::string::npos) << out;
    // The pixels the views draw their marks with stay outside the ramp.
    for (FL_COLOR k : {FL_RED, FL_GREEN, FL_BLUE, FL_BLACK})
        EXPECT_TRUE((long)fl_get_pixel(k) < f || (long)fl_get_pixel(k) > l) << k;
    {
        // A view made now uses the private map and still shows images.
        DataWin v(0, 0);
        EXPECT_TRUE(v.usable());
        std::unique_ptr<MRCData> d(image(64, 64, [](int x, int) { return (float)x; }));
        v.setData(listOf({d.get()}));
        v.display();
        EXPECT_EQ(XGetPixel(v.image(), 63, 379), (unsigned long)l);
        v.setData(nullptr);
    }
    XCloseDisplay(other);
    resetMapColors();
    ASSERT_EQ(getMapColors(&f, &l), 1);
    EXPECT_FALSE(colormapIsPrivate());
    // Views of a workbench sharing this process follow the new run.
    for (int i = 0; i < count(viewList); i++) {
        DataWin* v = (DataWin*)viewList->objectAt(i);
        v->cmapBase = f, v->cmapCount = l, v->redraw();
    }
}

// ------------------------------------------------------------------ geometry

TEST_F(DisplayView, MosaicZoomAndOriginPickTheDataPixels) {
    std::vector<MRCData*> ds;
    for (int i = 0; i < 5; i++) ds.push_back(flat(64, 64, (float)i, i + 1));
    show(ds, 0, 4);
    EXPECT_EQ((Ints{view->Columns(), view->fullWidth(), view->fullHeight()}), (Ints{3, 192, 128}));
    // Tile i sits in column i % 3, row i / 3, row 0 at the bottom: tile 3 is above tile 0.
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(px((i % 3) * 64 + 30, H - 1 - (i / 3) * 64 - 30), grey((float)i, 0, 4)) << "tile " << i;
    // Outside the mosaic (the missing sixth tile, above the mosaic) stays 0.
    EXPECT_EQ(rows({{2 * 64 + 30, 64 + 30}, {10, 130}}), (Pixels{0, 0}));
    // The server's pixmap carries the tile separators in green.
    EXPECT_EQ(rows({{63, H - 1 - 30}, {30, H - 64}}, true), (Pixels(2, fl_get_pixel(FL_GREEN))));

    // Tiles take the smallest size of each axis; each data set is rendered whole
    // from its tile corner: the taller first one shows above its tile, the
    // wider second one past the mosaic.
    show({flat(64, 64, 1), flat(80, 50, 2, 2)}, 0, 2);
    EXPECT_EQ((Ints{view->cellWidth(), view->cellHeight(), view->Columns()}), (Ints{64, 50, 2}));
    EXPECT_EQ(rows({{10, 55}, {10, 70}, {140, 10}, {140, 55}}), (Pixels{grey(1, 0, 2), 0, grey(2, 0, 2), 0}));
    // Zooms are rounded to 1/1000 (a zero zoom would divide by zero: refused).
    // {asked, returned, then shown}
    for (auto z : {std::array<float, 3>{0.999999f, 1, 1}, {0.5f, 1, 0.5f}, {1.9995f, 1, 2}, {0, 0, 2}})
        EXPECT_EQ((std::vector<float>{(float)view->setZoom(z[0]), view->getZoom()}), (std::vector<float>{z[1], z[2]}));
    EXPECT_EQ(view->fullWidth(), 256);  // two tiles of 64 at zoom 2
    EXPECT_EQ(view->setZoom(0.0004f), 1);
    EXPECT_GT(view->getZoom(), 0.0f);
    // (zoom and scrolling of the rendered pixels: ViewSeen.GreySlidersAndZoomButtons...)
}

// The client-side image, the pixmap and the window hold the same pixels, also
// after a resize; an emptied list shows a cross from corner to corner.
TEST_F(DisplayView, ServerPixelsEqualTheRenderingAtEverySize) {
    MRCData* d = own(image(600, 600, [](int x, int y) { return std::sin(x * 0.05f) + std::cos(y * 0.07f); }));
    show({d}, -2, 2);
    auto mismatches = [&] {
        const int W = view->canvasWidth(), H = view->canvasHeight();
        ServerImage pm(view->pixmapId(), W, H), win(view->canvasWindow(), W, H);
        int bad = 0;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) bad += pm.at(x, y) != px(x, y) || win.at(x, y) != px(x, y);
        // Data row 0 is the bottom screen row; the whole canvas is drawn.
        return bad + (pm.at(7, H - 1) != grey(d->valueAt(7, 0), -2, 2)) +
               (pm.at(7, H - 300) != grey(d->valueAt(7, 299), -2, 2)) +
               (pm.at(W - 1, 0) != grey(d->valueAt(W - 1, H - 1), -2, 2));
    };
    EXPECT_EQ(mismatches(), 0);
    static DataWin* resized = nullptr;
    shellHooks.resized = [](DataWin* v) { resized = v; };
    fl_set_form_size(view->form->datawin, 540, 500);
    XSync(fl_display, False);
    view->display();
    EXPECT_EQ(resized, view.get());
    EXPECT_EQ((Ints{view->canvasWidth(), view->canvasHeight(), view->image()->width, view->isDirty()}),
              (Ints{520, 480, 520, 0}));
    for (int i = 0; i < 8; i++) fl_check_forms();  // the canvas window follows the form
    EXPECT_EQ(mismatches(), 0);
    view->setData(new List);
    EXPECT_EQ(view->data(), nullptr);
    const int W = 520, H = 480, y = 100 * (H - 1) / (W - 1);
    ServerImage win(view->canvasWindow(), W, H);
    const unsigned long fg = view->Depth() == 24 ? 255 : 1;
    EXPECT_EQ((Pixels{win.at(100, y), win.at(W - 1 - 100, y), win.at(W / 2, 10), win.at(10, H / 2)}),
              (Pixels{fg, fg, 0, 0}));
}

TEST_F(DisplayView, ComplexSpectrumIsCentredAt32And31) {
    std::vector<float> c(66 * 64, 0.f);
    c[(size_t)32 * 66 + 0] = 100;  // DC pair: pair 0 of the centre row
    show({spectrum(c)}, 0, 100);
    // 64 columns rendered, the last two of the 66-float rows stay empty.
    EXPECT_EQ(rows({{32, 31}, {33, 31}, {32, 32}, {64, 0}}),
              (Pixels{grey(100, 0, 100), grey(0, 0, 100), grey(0, 0, 100), 0}));
    // Phases on the "Color" map: +pi gives the top of the ramp, its Friedel
    // mate (negated) the bottom. Pair 3 of row 32 is picture column 35, row
    // 31; its mate column 29, row 31.
    c[(size_t)32 * 66 + 2 * 3 + 1] = 3.1415927f;
    show({spectrum(c)});
    MMode.cmapMode = 2;
    view->redraw();
    EXPECT_EQ(rows({{35, 31}, {29, 31}}), (Pixels{colourPixel(*view, 255), colourPixel(*view, 0)}));
    // Phase 0 lies in the middle of the true-colour ramp.
    if (view->Depth() == 24) {
        EXPECT_EQ(px(40, H - 10), colourPixel(*view, 127));
    }
}

// ------------------------------------------------------------------ wavelet view

TEST_F(DisplayView, WaveletViewFiltersTheRenderingNotTheData) {
    MRCData* d = own(image(420, 380, [](int x, int y) { return (float)((x * 3 + y * 5) % 200); }));
    std::vector<float> before(d->getRealData(), d->getRealData() + 420 * 380);
    show({d}, 0, 199);
    std::vector<std::pair<int, int>> pts;
    for (int x = 0; x < 420; x += 7) pts.push_back({x, x % 380});
    const Pixels plain = rows(pts);
    WaveletViewFilter keepFilter = waveletViewFilter();
    static int gotW, gotH, gotLevels;
    setWaveletViewFilter([](float* f, int w, int h, int, int levels) {
        gotW = w, gotH = h, gotLevels = levels;
        for (int i = 0; i < w * h; i++) f[i] = 0;  // everything to mid grey
        return 1;
    });
    setenv2("DWTlevel", "3");
    MMode.waveletView = 1;
    view->redraw();
    EXPECT_EQ((Ints{gotW, gotH, gotLevels}), (Ints{420, 380, 3}));
    unsigned long mid = view->Depth() == 8 ? (unsigned long)((view->cmapBase + view->cmapCount) / 2)
                                           : grey(127.0f / 255 * 199 + 0.1f, 0, 199);
    EXPECT_EQ((Pixels{px(10, 10), px(400, H - 1)}), (Pixels{mid, mid}));
    setenv2("DWTlevel", "0");
    view->redraw();
    EXPECT_EQ(gotLevels, 9);  // H < W: floor(log2 380 + 0.5)
    EXPECT_EQ(std::memcmp(before.data(), d->getRealData(), before.size() * sizeof(float)), 0);
    setWaveletViewFilter(keepFilter);
    // The real engine with every gain 0 thresholds nothing: the picture comes
    // back within one grey level (two levels keep both sides even, where the
    // periodic transform inverts exactly).
    ASSERT_NE(keepFilter, nullptr);
    for (float& g : MMode.levelGain) g = 0;
    setenv2("DWTbasis", "1");
    setenv2("DWTlevel", "2");
    view->redraw();
    const Pixels filtered = rows(pts);
    for (size_t k = 0; k < plain.size(); k++) {
        long a = (long)filtered[k], b = (long)plain[k];
        EXPECT_LE(view->Depth() == 8 ? std::labs(a - b) : std::labs((a & 255) - (b & 255)), 1) << k;
    }
    // Haar over two levels, the finest level's gain at the top of its range:
    // the finest details go, every 2 x 2 block shows its mean level.
    auto levelAt = [&](int x, int y) { return (long)(view->Depth() == 8 ? px(x, y) : px(x, y) & 255); };
    MMode.waveletView = 0;
    view->redraw();
    std::vector<long> L;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < 420; x++) L.push_back(levelAt(x, y));
    setenv2("DWTbasis", "0");
    MMode.levelGain[0] = 1.2f;
    MMode.waveletView = 1;
    view->redraw();
    const long lo = view->Depth() == 8 ? view->cmapBase : 0, hi = view->Depth() == 8 ? view->cmapCount : 255;
    long bad = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < 420; x++) {
            const long* b = &L[(y & ~1) * 420 + (x & ~1)];
            const double m = (b[0] + b[1] + b[420] + b[421]) / 4.0 - (lo + hi) / 2;
            bad += std::labs(levelAt(x, y) - std::clamp((long)std::floor(m) + (lo + hi) / 2, lo, hi)) > 1;
        }
    EXPECT_EQ(bad, 0);
    MMode.waveletView = 0;
    view->redraw();
    EXPECT_EQ(rows(pts), plain);
}

// ------------------------------------------------------------------ colour-map button

TEST_F(DisplayView, InvertButtonCyclesTheModes) {
    show({own(image(256, 16, [](int x, int) { return (float)x; }))}, 0, 255);
    viewList->addObject(view.get());  // the control panel's button reaches the views in the list
    FL_OBJECT* b = control->invert;
    const unsigned long before = px(100, H - 1);
    auto invert = [&] {
        v_Invert(b, 0);
        return std::to_string(MMode.cmapMode) + fl_get_object_label(b);
    };
    // True colour: full-range grey in 32-bit pixels (nothing packed as 3 bytes).
    if (view->Depth() == 24) {
        EXPECT_EQ((Pixels{px(255, H - 1), before, (unsigned long)view->image()->bits_per_pixel}),
                  (Pixels{0xffffff, 0x646464, 32}));
    }
    EXPECT_EQ(invert(), "1W=0");
    if (view->Depth() == 8) {
        // Cells change, pixels do not: no new rendering.
        EXPECT_EQ(px(100, H - 1), before);
        XColor c;
        c.pixel = (unsigned long)view->cmapBase;
        XQueryColors(fl_display, colormapOfViews(), &c, 1);
        EXPECT_GT(c.red, 60000);
    } else {
        // True-colour views are drawn again; the server's copy agrees.
        EXPECT_EQ((Pixels{px(0, H - 1), px(100, H - 1), server(100, H - 1)}), (Pixels{0xffffff, 0x9b9b9b, 0x9b9b9b}));
    }
    EXPECT_EQ(invert(), "2Color");
    EXPECT_EQ(invert(), "0B=0");
    EXPECT_EQ(px(100, H - 1), before);
    // Help mode: text only.
    static std::string shown;
    shellHooks.dohelp = [] { return 1; };
    shellHooks.help = [](const char* t) { shown = t; };
    EXPECT_EQ(invert(), "0B=0");
    EXPECT_EQ(shown.rfind("This will invert the colormap (B<->W).", 0), 0u);
    viewList->removeObject(view.get());
}

// ------------------------------------------------------------------ MOVE mode

TEST_F(DisplayView, MoveModeAndCanvasEventsCentrePanAndReportToThePanel) {
    show({own(image(1024, 1024, [](int x, int y) { return (float)(x ^ y); }))});
    static Ints codes;
    codes.clear();
    shellHooks.moused = [](DataWin*, int, int, int code, unsigned long) { codes.push_back(code); };
    const int W = 420;
    auto origin = [&] { return Ints{view->getXor(), view->getYor()}; };
    // Left click centres: origin moves by the offset from the canvas centre.
    view->buttonPress(W / 2 + 100, H / 2 - 50, EV_LEFT_PRESS, 0);
    EXPECT_EQ(origin(), (Ints{100, 50}));
    // Clicking left of the centre near the origin is held at 0.
    view->buttonPress(0, H - 1, EV_LEFT_PRESS, 0);
    EXPECT_EQ(origin(), (Ints{0, 0}));
    // Far corner: limited to full - canvas.
    for (int i = 0; i < 5; i++) view->buttonPress(W - 1, 0, EV_LEFT_PRESS, 0);
    EXPECT_EQ(origin(), (Ints{1024 - W, 1024 - H}));
    // Middle press then drag pans with the pointer.
    view->setOrigin(300, 300);
    view->buttonPress(200, 200, EV_MIDDLE_PRESS, 0);
    view->buttonPress(190, 215, EV_MIDDLE_DRAG, 0);
    EXPECT_EQ(origin(), (Ints{310, 315}));
    view->buttonPress(180, 215, EV_MIDDLE_DRAG, 0);
    EXPECT_EQ(view->getXor(), 320);
    // The rendering follows: lower-left pixel is data (320, 315).
    EXPECT_EQ(px(0, H - 1), grey((float)(320 ^ 315), view->minGray(), view->maxGray()));
    // Presses, releases and drags reach the control panel; motion and enter do not.
    for (int code : {EV_MOVE, EV_ENTER, EV_LEFT_RELEASE}) view->buttonPress(10, 10, code, 0);
    EXPECT_EQ(codes, (Ints{1, 1, 1, 1, 1, 1, 1, 2, 34, 34, 17}));
    // Enter and leave set the status title.
    view->buttonPress(10, 10, EV_ENTER, 0);
    EXPECT_STREQ(view->form->datawin->label, "Image: Left button centers, middle button pans");
    view->buttonPress(10, 10, EV_LEAVE, 0);
    EXPECT_STREQ(view->form->datawin->label, "Image");
    // Events the server sends to the canvas reach buttonPress with their codes.
    view->setOrigin(200, 200);
    codes.clear();
    Window w = view->canvasWindow();
    auto send = [&](int type, int x, int y, unsigned button, unsigned state) {
        XEvent e{};
        e.type = type;
        e.xany.display = fl_display;
        e.xany.window = w;
        if (type == MotionNotify)
            e.xmotion.x = x, e.xmotion.y = y, e.xmotion.state = state, e.xmotion.same_screen = True;
        else
            e.xbutton.x = x, e.xbutton.y = y, e.xbutton.button = button, e.xbutton.state = state,
            e.xbutton.same_screen = True;
        deliver(w, e);
    };
    send(ButtonPress, 100, 100, Button2, 0);
    EXPECT_EQ(MMode.buttons, 2);
    send(MotionNotify, 90, 120, 0, Button2Mask);
    send(ButtonRelease, 90, 120, Button2, Button2Mask);
    EXPECT_EQ((Ints{MMode.buttons, view->getXor(), view->getYor()}), (Ints{0, 210, 220}));
    // A wheel release must not drop a held button.
    send(ButtonPress, 100, 100, Button1, 0);
    send(ButtonRelease, 100, 100, Button4, Button1Mask);
    EXPECT_EQ(MMode.buttons, 1);
    send(ButtonRelease, 100, 100, Button1, Button1Mask);
    EXPECT_EQ(MMode.buttons, 0);
    EXPECT_EQ(codes, (Ints{EV_MIDDLE_PRESS, EV_MIDDLE_DRAG, EV_MIDDLE_RELEASE, EV_LEFT_PRESS, EV_LEFT_RELEASE}));
    // Other modes act as MOVE on a mosaic; on a single image their handler acts.
    MRCData* a = flat(300, 300, 1);
    static int calls = 0;
    calls = 0;
    setModeHandler(BOX, [](DataWin*, int, int, int, int, int, unsigned long) { return ++calls; });
    MMode.mode = BOX;
    show({a, flat(300, 300, 2, 2)});
    view->setOrigin(0, 0);
    view->buttonPress(420 / 2 + 40, H / 2, EV_LEFT_PRESS, 0);
    EXPECT_EQ(view->getXor(), 40);  // mosaic: BOX acts as MOVE
    EXPECT_EQ(calls, 0);
    show({a});
    view->buttonPress(50, 50, EV_LEFT_PRESS, 0);
    EXPECT_EQ(calls, 1);  // a single image: BOX's own handler
    setModeHandler(BOX, nullptr);
    view->setData(nullptr);
    EXPECT_EQ(view->buttonPress(10, 10, EV_LEFT_PRESS, 0), 0);
}

// ------------------------------------------------------------------ mouse panel

TEST(DisplayMousePanel, BuiltFromPreferences) {
    SharedStateGuard keep;
    clearenv2();
    shellHooks = ShellHooks();
    MMode = MouseMode();
    FD_mouse* p = create_mouse_panel(0);
    ASSERT_EQ(p, mpanel);
    EXPECT_EQ(std::string(fl_get_input(p->sizeX)) + fl_get_input(p->sizeY) + fl_get_choice_text(p->basis),
              "512512Daub4");
    // "Daub4" is choice 2; the basis is stored on first read, the level not.
    EXPECT_EQ((Ints{fl_get_choice(p->basis), getenvi("DWTbasis"), fl_get_choice(p->boxChoice),
                    fl_get_choice(p->markChoice), fl_get_button(p->modeButton[MOVE])}),
              (Ints{2, 1, 2, 2, 1}));
    EXPECT_EQ(getenv2("DWTlevel"), nullptr);
    for (int i = 0; i < 10; i++)
        EXPECT_TRUE(MMode.levelSlider[i] == p->slider[9 - i] && !p->slider[i]->visible &&
                    std::fabs(fl_get_slider_value(p->slider[i]) - 0.4) < 1e-6)
            << i;
    // "Level:" 3 shows exactly the three right-most sliders.
    fl_set_input(p->level, "3");
    new_wavelet3(p->level, 0);
    for (int i = 0; i < 10; i++) EXPECT_EQ(p->slider[i]->visible != 0, i >= 7) << i;
    // Master slider sets every gain.
    fl_set_slider_value(p->master, 0.9);
    new_wavelet4(p->master, 0);
    for (int i = 0; i < 10; i++) EXPECT_FLOAT_EQ(MMode.levelGain[i], 0.9f);
    // Box sizes round up to the next valid FFT size while "fftboxonly" is 1.
    // (the size record, then the inputs' texts)
    auto size = [&](const char* x, const char* y, FL_OBJECT* ob) {
        fl_set_input(p->sizeX, x);
        fl_set_input(p->sizeY, y);
        m_Size(ob, 0);
        return std::to_string(MMode.boxX) + "x" + std::to_string(MMode.boxY) + " " + fl_get_input(p->sizeX) + "," +
               fl_get_input(p->sizeY);
    };
    EXPECT_EQ(size(" 1001", "1021", p->sizeX), "1008x1024 1008,1024");
    EXPECT_EQ(getenvi("fftboxonly"), 1);
    setenv2("fftboxonly", "0");
    EXPECT_EQ(size("101", "61", p->sizeY), "101x61 101,61");
    for (auto [ob, n] : {std::pair{p->boxChoice, 4}, {p->markChoice, 5}, {p->liveChoice, 3}})
        fl_set_choice(ob, n), fl_call_object_callback(ob);
    mm_Set(p->modeButton[DRAG], DRAG);
    EXPECT_EQ((Ints{MMode.boxType, MMode.markType, MMode.liveType, MMode.mode}), (Ints{3, 4, 2, DRAG}));
    // Help mode only shows the text.
    static std::string shown;
    shellHooks.dohelp = [] { return 1; };
    shellHooks.help = [](const char* t) { shown = t; };
    mm_Set(p->modeButton[BOX], BOX);
    EXPECT_EQ(MMode.mode, DRAG);
    EXPECT_EQ(shown.rfind("Selects 'BOX' mouse mode.", 0), 0u);
    fl_free_form(p->mouse);
    fl_free(p);
    setenv2("DWTbasis", "20");  // no such basis: the panel offers Daub4
    p = create_mouse_panel(0);
    EXPECT_STREQ(fl_get_choice_text(p->basis), "Daub4");
    fl_free_form(p->mouse);
    fl_free(p);
}

// ------------------------------------------------------------------ PostScript

namespace {

float pattern(int x, int y) {
    return (float)((x * 7 + y * 13) % 256);
}

// 0 when ghostscript renders the page without error (-1 when gs is missing).
int ghostscript(const std::string& ps) {
    if (std::system("command -v gs >/dev/null 2>&1") != 0) return -1;
    FILE* gs = popen("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=nullpage - >/dev/null 2>&1", "w");
    std::fwrite(ps.data(), 1, ps.size(), gs);
    const int rc = pclose(gs);
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : 99;
}

// The page printed from a view; ghostscript must accept it (later, with the
// other pages of the batch, when one is given: one run of gs is faster).
std::string printed(DataWin& v, const PrintOptions& o, MRCData* first, std::string* batch = nullptr) {
    int ok = 0;
    const std::string s = said([&] { ok = printView(&v, stdout, o, first); });
    EXPECT_EQ(ok, 1);
    if (batch)
        *batch += s;
    else
        EXPECT_LE(ghostscript(s), 0) << s.substr(0, 400);
    return s;
}

// Drops the CreationDate line (the clock).
std::string withoutDate(const std::string& s) {
    size_t p = s.find("%%CreationDate: ");
    return p == std::string::npos ? s : s.substr(0, p) + s.substr(s.find('\n', p) + 1);
}

// A wavelet filter that sets everything to mid grey.
int toMidGrey(float* f, int w, int h, int, int) {
    std::fill(f, f + w * h, 0.f);
    return 1;
}

bool has(const std::string& s, const std::string& part) {
    return s.find(part) != std::string::npos;
}

}  // namespace

TEST_F(DisplayPrint, Edge256PageIsExact) {
    MRCData* d = own(image(256, 256, pattern, "edge256"));
    show({d}, 0, 255);
    std::string ps = printed(*view, PrintOptions(), d);
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
            std::snprintf(hx, sizeof hx, "%02x", v <= 0 ? 1 : v >= 255 ? 254 : 1 + (int)(v * 253.0 / 255.0));
            want += hx;
            if (++n % 38 == 0) want += '\n';
        }
    want +=
        "\nsetmatrix gsave 0 setgray 1.5 setlinewidth\n-1 -1 moveto 256 -1 lineto 256 256 lineto -1 256 lineto "
        "closepath gsave stroke grestore clip\n"
        "\n0 setgray 1 setlinewidth /Helvetica findfont 10 scalefont setfont\nstroke\n"
        "grestore\n\n\nshowpage\n";
    ASSERT_TRUE(has(ps, "%%CreationDate: "));
    EXPECT_EQ(withoutDate(ps), want);
    // The view is back to its normal rendering afterwards.
    EXPECT_FALSE(view->isDirty());
    EXPECT_EQ(view->printMode, 0);
}

// Pages of other views: the parts each must hold ("-": must not hold).
TEST_F(DisplayPrint, ScaleBarMosaicFitHalvingAndWaveletView) {
    std::string pages;
    EXPECT_EQ(withoutDate(printed(*view, PrintOptions{0, 1}, nullptr, &pages)),
              "%!PS-Adobe-2.0\n%%Title: Untitled\n%%Creator: TARVIK\n%%DocumentData: Clean7Bit\n"
              "%%LanguageLevel: 2\n%%EndComments\n36 36 translate\n\n\nshowpage\n");
    // options {fit, scale bar, its nm, its box}; first: printed with the first data set; wide: on a wider canvas
    // clang-format off
    struct { int nx, ny, tiles; float pixres; PrintOptions o; int wavelet, first, wide; float zoom;
             std::vector<std::string> parts; } cases[] = {
        // s = 10 x zoom x 10 nm / 5 A = 20 points, W = 255; a single image has no tile labels.
        {256, 256, 1, 5, {0, 1, 10, 1}, 0, 1, 0, 1,
         {"205.00 25 moveto 235.00 25 lineto 235.00 5 lineto 205.00 5 lineto closepath\n",
          "1 setgray 4.5 setlinewidth 208.00 20 moveto 232.00 20 lineto stroke\n",
          "0 setgray 3 setlinewidth 210.00 20 moveto 230.00 20 lineto stroke\n",
          "(10nm) stringwidth pop -2 div\n2 setlinewidth 1 setgray 220.0 add 8 moveto", "-charpath\n"}},
        // A 5-tile mosaic prints numbers and separators.
        {64, 64, 5, 1, {}, 0, 1, 0, 1,
         {"1 setgray 1.5 setlinewidth\n3 4 moveto (1) false charpath\n3 68 moveto (4) false charpath\n",
          "stroke 0 setgray .8 setlinewidth\n3 4 moveto (1) show\n",
          "stroke 0 setgray 1 setlinewidth\n0 0 0 128 moveto lineto\n64 0 64 128 moveto lineto\n",
          "0 128 192 128 moveto lineto\nstroke\n"}},
        // Fit to page with a wide picture (W = 399, h = 99: k = 540 / 399 = 1.353383): no
        // horizontal shift, centred vertically ((720 / k - 99) / 2 = 216.5).
        {400, 100, 1, 1, {1}, 0, 1, 0, 1, {"1.353383 dup scale\n", "0.0 216.5 translate"}},
        // A shown image without a selection: titled by the view's image, and a
        // scale bar needs a positive pixel size.
        {128, 128, 1, 0, {0, 1}, 0, 0, 0, 1, {"%%Title: shown\n", "-setlinewidth stroke", "-nm)"}},
        // The wavelet view prints filtered: everything became mid grey 127 of the
        // print ramp 1..254; nothing is white any more, so the whole canvas is the picture.
        {128, 128, 1, 1, {}, 1, 1, 0, 1, {"/str 420 string def\n", "420 379 8 [420 0 0 379 0 0]", "image\n7f7f7f7f"}},
        // At zoom 2 with 2.5 A pixels 10 nm are 80 points; the canvas is filled (W = 420).
        {256, 256, 1, 2.5f, {0, 1, 10, 0}, 0, 1, 0, 2, {"0 setgray 3 setlinewidth 315.00 20 moveto 395.00 20 lineto"}},
        // Wider than the page (a 640-pixel canvas): halved.
        {600, 100, 1, 1, {}, 0, 1, 1, 1, {"36 36 translate\n.5 .5 scale\n/str 599 string def\n240.5 670.5 translate"}},
        // clang-format on
    };
    const WaveletViewFilter keepFilter = waveletViewFilter();
    for (auto& c : cases) {
        std::vector<MRCData*> ds;
        for (int i = 0; i < c.tiles; i++) ds.push_back(own(image(c.nx, c.ny, pattern, "shown"), i + 1));
        ds[0]->setPixres(c.pixres);
        if (c.wide) fl_set_form_size(view->form->datawin, 660, 400), XSync(fl_display, False);
        show(ds, 0, 255);
        view->setZoom(c.zoom);
        MMode.waveletView = c.wavelet;
        setWaveletViewFilter(c.wavelet ? toMidGrey : keepFilter);
        const std::string ps = printed(*view, c.o, c.first ? ds[0] : nullptr, &pages);
        for (auto& p : c.parts) EXPECT_EQ(has(ps, p.substr(p[0] == '-')), p[0] != '-') << c.nx << ": " << p;
        EXPECT_EQ(view->canvasWidth(), c.wide ? 640 : 420);
    }
    setWaveletViewFilter(keepFilter);
    EXPECT_LE(ghostscript(pages), 0);
}

TEST_F(DisplayPrint, PanelWritesTheFileAndStoresTheEntries) {
    clearenv2();
    show({own(image(128, 128, pattern, "panel"))});
    static DataWin* cur = nullptr;
    cur = view.get();
    shellHooks.currentView = [] { return cur; };
    print_panel();
    ASSERT_NE(ppanel, nullptr);
    EXPECT_EQ(std::string(fl_get_input(ppanel->file)) + " " + fl_get_input(ppanel->command), "tarvik.ps lp");
    EXPECT_EQ(getenv2("psfile"), nullptr);  // defaults are shown, not stored
    const std::string path = shell_tmpdir() + "/out file.ps";
    fl_set_input(ppanel->file, path.c_str());
    fl_set_button(ppanel->toFile, 1);
    print_close(ppanel->ok, 0);
    EXPECT_EQ(ppanel, nullptr);
    EXPECT_EQ(std::string(getenv2d("psfile", "")) + "|" + getenv2d("pscom", ""), path + "|lp");
    std::string ps = read_file(path);
    EXPECT_EQ(ps.rfind("%!PS-Adobe-2.0\n%%Title: panel\n", 0), 0u);
    EXPECT_LE(ghostscript(ps), 0);
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
    EXPECT_FALSE(exists(path));
}
