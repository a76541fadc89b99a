// Views, colour cells, outlines and the mouse panel on a real X server
// (run at depth 8 and 24): rendered buffers and the pixels the server holds.
// GoogleTest first: Xlib defines None.
#include <gtest/gtest.h>
// (keep this order)
#include <X11/Xlib.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/mmode.h"
#include "core/prefs.h"
#include "display/colormap.h"
#include "display/datawin.h"
#include "display/draw.h"
#include "display/mouse.h"
#include "display/xglobals.h"
#include "tests/gui/display_env.h"

namespace {

std::unique_ptr<MRCData> makeImage(int nx, int ny, float (*f)(int, int)) {
    std::vector<float> v((size_t)nx * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) v[(size_t)y * nx + x] = f(x, y);
    auto d = std::make_unique<MRCData>();
    d->setRealData(v.data(), nx, ny, 1);
    return d;
}

std::unique_ptr<MRCData> constImage(int nx, int ny, float value, int seq) {
    std::vector<float> v((size_t)nx * ny, value);
    auto d = std::make_unique<MRCData>();
    d->setRealData(v.data(), nx, ny, 1);
    d->setSeqno(seq);
    return d;
}

List* listOf(std::initializer_list<MRCData*> ds) {
    List* l = new List;
    for (MRCData* d : ds) l->addObject(d);
    return l;
}

// Pixel value of the view's client-side image at canvas (x, y).
unsigned long imagePixel(DataWin& v, int x, int y) {
    return XGetPixel(v.image(), x, y);
}

// What the server holds in a drawable, as an XImage.
struct ServerImage {
    XImage* im = nullptr;
    ServerImage(Drawable d, int w, int h) { im = XGetImage(fl_display, d, 0, 0, w, h, AllPlanes, ZPixmap); }
    ~ServerImage() {
        if (im) XDestroyImage(im);
    }
    unsigned long at(int x, int y) const { return XGetPixel(im, x, y); }
};

// The grey level a view shows for value v with limits lo..hi on a ramp a..b.
int level(float v, float mn, float mx, int a, int b) {
    if (v <= mn) return a;
    if (v >= mx) return b;
    return a + (int)((v - mn) * ((float)(b - a) / (mx - mn)));
}

// Expected pixel of grey level L (0..255 scale on true colour, ramp cell on 8-bit).
unsigned long greyPixel(DataWin& v, float value, float mn, float mx) {
    if (v.Depth() == 8) return (unsigned long)level(value, mn, mx, v.cmapBase, v.cmapCount);
    int L = level(value, mn, mx, 0, 255);
    PixelLayout lay{v.image()->bits_per_pixel / 8, v.image()->byte_order == MSBFirst, v.visual->red_mask,
                    v.visual->green_mask, v.visual->blue_mask};
    unsigned c = (unsigned)L * 257;
    return packPixel(lay, c, c, c);
}

struct DisplayView : ::testing::Test {
    SharedStateGuard keep;
    std::unique_ptr<DataWin> view;
    void SetUp() override {
        MMode = MouseMode();
        shellHooks = ShellHooks();
        view = std::make_unique<DataWin>(0, 0);
        ASSERT_TRUE(view->usable());
        ASSERT_EQ(view->canvasWidth(), 420);
        ASSERT_EQ(view->canvasHeight(), 380);
    }
    void TearDown() override { view.reset(); }
};

}  // namespace

// ------------------------------------------------------------------ ramps

TEST(DisplayRamp, GreyInvertedAndCyclicCells) {
    unsigned short r, g, b;
    rampColor(0, 0, 200, &r, &g, &b);
    EXPECT_EQ(r, 0);
    rampColor(0, 199, 200, &r, &g, &b);
    EXPECT_EQ(r, 199L * 65535 / 200);  // never full white
    EXPECT_EQ(g, r);
    EXPECT_EQ(b, r);
    rampColor(1, 0, 200, &r, &g, &b);
    EXPECT_EQ(r, 199L * 65535 / 200);
    rampColor(1, 199, 200, &r, &g, &b);
    EXPECT_EQ(r, 0);
    // 99 cells: f = 1 at cell 33 and f = 2 at cell 66 — pure green, pure blue.
    rampColor(2, 33, 99, &r, &g, &b);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(g, 65535);
    EXPECT_EQ(b, 0);
    rampColor(2, 66, 99, &r, &g, &b);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b, 65535);
    rampColor(2, 0, 99, &r, &g, &b);
    EXPECT_EQ(r, 65535);
    EXPECT_EQ(g, 0);
}

TEST(DisplayRamp, TrueColourPackingFollowsMasks) {
    PixelLayout rgb24{4, 0, 0xff0000, 0x00ff00, 0x0000ff};
    EXPECT_EQ(packPixel(rgb24, 0xffff, 0, 0), 0xff0000u);
    EXPECT_EQ(packPixel(rgb24, 0x1234, 0x5678, 0x9abc), 0x12569au);
    PixelLayout rgb565{2, 0, 0xf800, 0x07e0, 0x001f};
    EXPECT_EQ(packPixel(rgb565, 0xffff, 0xffff, 0xffff), 0xffffu);
    EXPECT_EQ(packPixel(rgb565, 0, 0xffff, 0), 0x07e0u);
    PixelLayout bgr{4, 1, 0x0000ff, 0x00ff00, 0xff0000};
    EXPECT_EQ(packPixel(bgr, 0xffff, 0, 0), 0xffu);

    uint32_t t[256];
    buildTrueColorTable(rgb24, 0, t);
    EXPECT_EQ(t[0], 0u);
    EXPECT_EQ(t[255], 0xffffffu);
    EXPECT_EQ(t[128], 0x808080u);
    buildTrueColorTable(rgb24, 1, t);
    EXPECT_EQ(t[0], 0xffffffu);
    EXPECT_EQ(t[255], 0u);
    buildTrueColorTable(rgb24, 2, t);
    // The two ends of the cyclic map are nearly the same red.
    EXPECT_GE((t[0] >> 16) & 255, 250u);
    EXPECT_GE((t[255] >> 16) & 255, 240u);
    EXPECT_EQ(t[0] & 0xffff, 0u);
}

// ------------------------------------------------------------------ colour cells

TEST(DisplayColormap, RunIsCachedAndLoadedWithTheRamps) {
    if (fl_state[fl_vmode].depth != 8) GTEST_SKIP() << "no colour cells on a true-colour visual";
    int f1, l1, f2, l2;
    ASSERT_EQ(getMapColors(&f1, &l1), 1);
    ASSERT_GE(l1 - f1 + 1, 32);
    ASSERT_EQ(getMapColors(&f2, &l2), 1);  // a second view reuses the run
    EXPECT_EQ(f1, f2);
    EXPECT_EQ(l1, l2);
    int n = l1 - f1 + 1;
    std::vector<XColor> c(n);
    for (int i = 0; i < n; i++) c[i].pixel = (unsigned long)(f1 + i);
    XQueryColors(fl_display, colormapOfViews(), c.data(), n);
    // The server keeps the top 8 bits of each component on this visual.
    for (int i = 0; i < n; i++) {
        unsigned short r, g, b;
        rampColor(0, i, n, &r, &g, &b);
        EXPECT_EQ(c[i].red >> 8, r >> 8) << i;
    }
    setCmap(1);
    XQueryColors(fl_display, colormapOfViews(), c.data(), n);
    EXPECT_EQ(c[0].red >> 8, (unsigned)((n - 1) * 65535L / n) >> 8);
    EXPECT_EQ(c[n - 1].red, 0);
    setCmap(2);
    XQueryColors(fl_display, colormapOfViews(), c.data(), n);
    EXPECT_GT(c[0].red, 60000);
    EXPECT_EQ(c[0].blue, 0);
    setCmap(0);
}

TEST(DisplayColormap, FullSharedColormapFallsBackToPrivateMap) {
    if (fl_state[fl_vmode].depth != 8) GTEST_SKIP() << "no colour cells on a true-colour visual";
    // Another client takes every free cell of the toolkit's colour map.
    Display* other = XOpenDisplay(nullptr);
    ASSERT_NE(other, nullptr);
    Colormap cm = fl_state[fl_vmode].colormap;
    resetMapColors();
    unsigned long px[256];
    int taken = 0;
    for (int n = 256; n >= 1;) {
        if (XAllocColorCells(other, cm, False, nullptr, 0, px, (unsigned)n))
            taken += n;
        else
            n /= 2;
    }
    XSync(other, False);
    int f, l;
    testing::internal::CaptureStdout();
    int ok = getMapColors(&f, &l);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ok, 1) << out;
    EXPECT_TRUE(colormapIsPrivate());
    EXPECT_GE(l - f + 1, 32);
    EXPECT_NE(out.find("colors allocated in"), std::string::npos);
    // The pixels the views draw their marks with stay outside the ramp.
    for (FL_COLOR k : {FL_RED, FL_GREEN, FL_BLUE, FL_BLACK}) {
        long p = (long)fl_get_pixel(k);
        EXPECT_TRUE(p < f || p > l) << p;
    }
    {
        // A view made now uses the private map and still shows images.
        DataWin v(0, 0);
        EXPECT_TRUE(v.usable());
        auto d = makeImage(64, 64, [](int x, int) { return (float)x; });
        v.setData(listOf({d.get()}));
        v.display();
        EXPECT_EQ(imagePixel(v, 63, 379), (unsigned long)l);
        v.setData(nullptr);
    }
    XCloseDisplay(other);
    resetMapColors();
    ASSERT_EQ(getMapColors(&f, &l), 1);
    EXPECT_FALSE(colormapIsPrivate());
    // Views of a workbench sharing this process follow the new run.
    for (int i = 0; i < count(viewList); i++) {
        DataWin* v = (DataWin*)viewList->objectAt(i);
        v->cmapBase = f;
        v->cmapCount = l;
        v->redraw();
    }
}

// ------------------------------------------------------------------ geometry

TEST_F(DisplayView, MosaicOfFiveTiles) {
    std::vector<std::unique_ptr<MRCData>> ds;
    for (int i = 0; i < 5; i++) ds.push_back(constImage(64, 64, (float)i, i + 1));
    view->setData(listOf({ds[0].get(), ds[1].get(), ds[2].get(), ds[3].get(), ds[4].get()}));
    EXPECT_EQ(view->Columns(), 3);
    EXPECT_EQ(view->fullWidth(), 192);
    EXPECT_EQ(view->fullHeight(), 128);
    view->setMMGray(0, 4);
    int H = view->canvasHeight();
    // Tile i sits in column i % 3, row i / 3, row 0 at the bottom: tile 3 is above tile 0.
    for (int i = 0; i < 5; i++) {
        int x = (i % 3) * 64 + 30, y = H - 1 - (i / 3) * 64 - 30;
        EXPECT_EQ(imagePixel(*view, x, y), greyPixel(*view, (float)i, 0, 4)) << "tile " << i;
    }
    // Outside the mosaic (the missing sixth tile, above the mosaic) stays 0.
    EXPECT_EQ(imagePixel(*view, 2 * 64 + 30, H - 1 - 64 - 30), 0u);
    EXPECT_EQ(imagePixel(*view, 10, H - 1 - 130), 0u);
    // The server's pixmap carries the tile separators in green and the numbers.
    ServerImage pm(view->pixmapId(), view->canvasWidth(), H);
    unsigned long green = fl_get_pixel(FL_GREEN);
    EXPECT_EQ(pm.at(63, H - 1 - 30), green);
    EXPECT_EQ(pm.at(30, H - 64), green);
}

TEST_F(DisplayView, TileSizeIsTheSmallestOfEachAxis) {
    auto a = constImage(64, 64, 1, 1), b = constImage(80, 50, 2, 2);
    view->setData(listOf({a.get(), b.get()}));
    EXPECT_EQ(view->cellWidth(), 64);
    EXPECT_EQ(view->cellHeight(), 50);
    EXPECT_EQ(view->Columns(), 2);
    // Each data set is rendered whole from its tile corner: the taller first
    // one shows above its tile, the wider second one past the mosaic.
    view->setMMGray(0, 2);
    int H = view->canvasHeight();
    EXPECT_EQ(imagePixel(*view, 10, H - 1 - 55), greyPixel(*view, 1, 0, 2));
    EXPECT_EQ(imagePixel(*view, 10, H - 1 - 70), 0u);
    EXPECT_EQ(imagePixel(*view, 140, H - 1 - 10), greyPixel(*view, 2, 0, 2));
    EXPECT_EQ(imagePixel(*view, 140, H - 1 - 55), 0u);
    EXPECT_EQ(view->setZoom(0.999999f), 1);
    EXPECT_EQ(view->getZoom(), 1.0f);
    view->setZoom(0.5f);
    EXPECT_EQ(view->getZoom(), 0.5f);
    EXPECT_EQ(view->fullWidth(), 64);
    view->setZoom(1.9995f);
    EXPECT_EQ(view->getZoom(), 2.0f);
    // A zero zoom would divide by zero: refused.
    EXPECT_EQ(view->setZoom(0.0f), 0);
    EXPECT_EQ(view->setZoom(0.0004f), 1);
    EXPECT_GT(view->getZoom(), 0.0f);
}

TEST_F(DisplayView, WholeAndFractionalZoomSampleWithoutDrift) {
    auto d = makeImage(1000, 200, [](int x, int) { return (float)x; });
    view->setData(listOf({d.get()}));
    view->setZoom(2);
    view->setMMGray(0, 999);
    int H = view->canvasHeight();
    // zoom 2: every data pixel covers 2 x 2 screen pixels.
    for (int x = 0; x < 400; x += 2) {
        EXPECT_EQ(imagePixel(*view, x, H - 1), imagePixel(*view, x + 1, H - 1));
        EXPECT_EQ(imagePixel(*view, x, H - 1), imagePixel(*view, x, H - 2));
        EXPECT_EQ(imagePixel(*view, x, H - 1), greyPixel(*view, (float)(x / 2), 0, 999));
    }
    // zoom 0.4 (step 2.5 with the accumulator) and zoom 1/3 (step 3 exactly):
    // the whole 1000-pixel row fits without drifting.
    for (float z : {0.4f, 1.0f / 3}) {
        view->setZoom(z);
        view->redraw();
        float step = 1 / z;
        int cols = (int)(1000 / step);
        for (int x = 0; x < cols; x++) {
            unsigned long p = imagePixel(*view, x, H - 1);
            unsigned long lo = greyPixel(*view, std::floor(x * step) - 1, 0, 999);
            unsigned long hi = greyPixel(*view, std::floor(x * step) + 1, 0, 999);
            if (view->Depth() == 8) {
                EXPECT_GE(p, lo) << z << " col " << x;
                EXPECT_LE(p, hi) << z << " col " << x;
            }
        }
        EXPECT_EQ(imagePixel(*view, cols + 1, H - 1), 0u);
    }
}

TEST_F(DisplayView, OriginScrollsTheDataUnderTheLowerLeftCorner) {
    auto d = makeImage(512, 512, [](int x, int y) { return (float)(x + 1000 * y); });
    view->setData(listOf({d.get()}));
    view->setMMGray(0, 1e6);
    view->setOrigin(10, 20);
    int H = view->canvasHeight();
    MRCData probe;
    // Lower-left screen pixel shows data (10, 20); one up shows (10, 21).
    auto d2 = makeImage(512, 512, [](int x, int y) { return (float)(x + 1000 * y); });
    EXPECT_EQ(imagePixel(*view, 0, H - 1), greyPixel(*view, 10 + 1000 * 20, 0, 1e6));
    EXPECT_EQ(imagePixel(*view, 5, H - 1 - 100), greyPixel(*view, 15 + 1000 * 120, 0, 1e6));
}

TEST_F(DisplayView, EmptiedListShowsCanvasWideCross) {
    auto d = constImage(64, 64, 1, 1);
    view->setData(listOf({d.get()}));
    view->display();
    view->setData(new List);
    EXPECT_EQ(view->data(), nullptr);
    int W = view->canvasWidth(), H = view->canvasHeight();
    ServerImage win(view->canvasWindow(), W, H);
    unsigned long fg = view->Depth() == 24 ? 255 : 1;
    EXPECT_EQ(win.at(100, 100 * (H - 1) / (W - 1)), fg);
    EXPECT_EQ(win.at(W - 1 - 100, 100 * (H - 1) / (W - 1)), fg);
    EXPECT_EQ(win.at(W / 2, 10), 0u);
    EXPECT_EQ(win.at(10, H / 2), 0u);
}

TEST_F(DisplayView, ServerPixelsEqualTheRendering) {
    auto d = makeImage(300, 300, [](int x, int y) { return std::sin(x * 0.05f) + std::cos(y * 0.07f); });
    view->setData(listOf({d.get()}));
    view->setMMGray(-2, 2);
    int W = view->canvasWidth(), H = view->canvasHeight();
    ServerImage pm(view->pixmapId(), W, H);
    ServerImage win(view->canvasWindow(), W, H);
    ASSERT_TRUE(pm.im && win.im);
    int bad = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            unsigned long want = imagePixel(*view, x, y);
            if (pm.at(x, y) != want || win.at(x, y) != want) bad++;
        }
    EXPECT_EQ(bad, 0);
    // Data row 0 is the bottom screen row.
    EXPECT_EQ(pm.at(7, H - 1), greyPixel(*view, d->valueAt(7, 0), -2, 2));
    EXPECT_EQ(pm.at(7, H - 300), greyPixel(*view, d->valueAt(7, 299), -2, 2));
}

TEST_F(DisplayView, TrueColourModesUseTheRamps) {
    if (view->Depth() == 8) GTEST_SKIP() << "8-bit views change colours through the cells";
    EXPECT_EQ(view->image()->bits_per_pixel, 32);
    auto d = makeImage(256, 16, [](int x, int) { return (float)x; });
    view->setData(listOf({d.get()}));
    view->setMMGray(0, 255);
    int H = view->canvasHeight();
    EXPECT_EQ(imagePixel(*view, 255, H - 1), 0xffffffu);
    EXPECT_EQ(imagePixel(*view, 100, H - 1), 0x646464u);
    MMode.cmapMode = 1;  // "W=0"
    view->redraw();
    EXPECT_EQ(imagePixel(*view, 0, H - 1), 0xffffffu);
    EXPECT_EQ(imagePixel(*view, 100, H - 1), 0x9b9b9bu);
    // Server copy agrees (32-bit pixels, nothing packed as 3 bytes).
    ServerImage pm(view->pixmapId(), view->canvasWidth(), H);
    EXPECT_EQ(pm.at(100, H - 1), 0x9b9b9bu);

    // "Color" on a complex image shows phases through the cyclic ramp.
    std::vector<float> c(66 * 64, 0.f);
    for (int r = 0; r < 64; r++)
        for (int k = 0; k < 33; k++) {
            c[(size_t)r * 66 + 2 * k] = 1;
            c[(size_t)r * 66 + 2 * k + 1] = 0;  // phase 0 -> middle of the ramp
        }
    MRCData cx;
    cx.setComplData(c.data(), 66, 64, 1);
    view->setData(listOf({&cx}));
    MMode.cmapMode = 2;
    view->redraw();
    PixelLayout lay{4, 0, 0xff0000, 0xff00, 0xff};
    uint32_t t[256];
    buildTrueColorTable(lay, 2, t);
    EXPECT_EQ(imagePixel(*view, 40, H - 10), t[127]);
    view->setData(nullptr);
}

TEST_F(DisplayView, ComplexSpectrumIsCentredAt32And31) {
    std::vector<float> c(66 * 64, 0.f);
    c[(size_t)32 * 66 + 0] = 100;  // DC pair: pair 0 of the centre row
    MRCData cx;
    cx.setComplData(c.data(), 66, 64, 1);
    view->setData(listOf({&cx}));
    view->setMMGray(0, 100);
    int H = view->canvasHeight();
    EXPECT_EQ(imagePixel(*view, 32, H - 1 - 31), greyPixel(*view, 100, 0, 100));
    EXPECT_EQ(imagePixel(*view, 33, H - 1 - 31), greyPixel(*view, 0, 0, 100));
    EXPECT_EQ(imagePixel(*view, 32, H - 1 - 32), greyPixel(*view, 0, 0, 100));
    // 64 columns rendered, the last two of the 66-float rows stay empty.
    EXPECT_EQ(imagePixel(*view, 64, H - 1), 0u);
    // Phases on the "Color" map: +pi gives the top of the ramp, its Friedel
    // mate (negated) the bottom.
    c[(size_t)32 * 66 + 2 * 3 + 1] = 3.1415927f;  // pair 3 of the centre row
    MRCData ph;
    ph.setComplData(c.data(), 66, 64, 1);
    view->setData(listOf({&ph}));
    MMode.cmapMode = 2;
    view->redraw();
    // Pair 3 of row 32 is picture column 35, row 31; its mate column 29, row 31.
    if (view->Depth() == 8) {
        EXPECT_EQ(imagePixel(*view, 35, H - 1 - 31), (unsigned long)view->cmapCount);
        EXPECT_EQ(imagePixel(*view, 29, H - 1 - 31), (unsigned long)view->cmapBase);
    } else {
        PixelLayout lay{4, 0, view->visual->red_mask, view->visual->green_mask, view->visual->blue_mask};
        uint32_t t[256];
        buildTrueColorTable(lay, 2, t);
        EXPECT_EQ(imagePixel(*view, 35, H - 1 - 31), t[255]);
        EXPECT_EQ(imagePixel(*view, 29, H - 1 - 31), t[0]);
    }
    view->setData(nullptr);
}

// ------------------------------------------------------------------ wavelet view

TEST_F(DisplayView, WaveletViewFiltersTheRenderingNotTheData) {
    auto d = makeImage(420, 380, [](int x, int y) { return (float)((x * 3 + y * 5) % 200); });
    std::vector<float> before(d->getRealData(), d->getRealData() + 420 * 380);
    view->setData(listOf({d.get()}));
    view->setMMGray(0, 199);
    int H = view->canvasHeight();
    std::vector<unsigned long> plain;
    for (int x = 0; x < 420; x += 7) plain.push_back(imagePixel(*view, x, H - 1 - x % 380));

    WaveletViewFilter keepFilter = waveletViewFilter();
    static int gotW, gotH, gotLevels;
    setWaveletViewFilter([](float* f, int w, int h, int, int levels) {
        gotW = w;
        gotH = h;
        gotLevels = levels;
        for (int i = 0; i < w * h; i++) f[i] = 0;  // everything to mid grey
        return 1;
    });
    setenv2("DWTlevel", "3");
    MMode.waveletView = 1;
    view->redraw();
    EXPECT_EQ(gotW, 420);
    EXPECT_EQ(gotH, 380);
    EXPECT_EQ(gotLevels, 3);
    unsigned long mid = view->Depth() == 8 ? (unsigned long)((view->cmapBase + view->cmapCount) / 2)
                                           : greyPixel(*view, 127.0f / 255 * 199 + 0.1f, 0, 199);
    EXPECT_EQ(imagePixel(*view, 10, 10), mid);
    EXPECT_EQ(imagePixel(*view, 400, H - 1), mid);
    setenv2("DWTlevel", "0");
    view->redraw();
    EXPECT_EQ(gotLevels, 9);  // H < W: floor(log2 380 + 0.5)
    EXPECT_EQ(std::memcmp(before.data(), d->getRealData(), before.size() * sizeof(float)), 0);
    setWaveletViewFilter(keepFilter);
    size_t k = 0;
    // The real engine with every gain 0 thresholds nothing: the picture comes
    // back within one grey level (two levels keep both sides even, where the
    // periodic transform inverts exactly).
    ASSERT_NE(keepFilter, nullptr);
    for (float& g : MMode.levelGain) g = 0;
    setenv2("DWTbasis", "1");
    setenv2("DWTlevel", "2");
    view->redraw();
    for (int x = 0; x < 420; x += 7, k++) {
        long a = (long)imagePixel(*view, x, H - 1 - x % 380), b = (long)plain[k];
        if (view->Depth() == 8) {
            EXPECT_LE(std::labs(a - b), 1) << x;
        } else {
            EXPECT_LE(std::labs((a & 255) - (b & 255)), 1) << x;
        }
    }
    MMode.waveletView = 0;
    view->redraw();
    k = 0;
    for (int x = 0; x < 420; x += 7, k++) EXPECT_EQ(imagePixel(*view, x, H - 1 - x % 380), plain[k]);
    view->setData(nullptr);
}

// ------------------------------------------------------------------ colour-map button

TEST_F(DisplayView, InvertButtonCyclesTheModes) {
    auto d = makeImage(256, 16, [](int x, int) { return (float)x; });
    view->setData(listOf({d.get()}));
    view->setMMGray(0, 255);
    int H = view->canvasHeight();
    // The view must be in the view list for the button to reach it.
    List* saved = viewList;
    List mine;
    if (!viewList) viewList = &mine;
    viewList->addObject(view.get());
    FL_FORM* f = fl_bgn_form(FL_NO_BOX, 60, 30);
    FL_OBJECT* b = fl_add_button(FL_NORMAL_BUTTON, 0, 0, 60, 30, "B=0");
    fl_end_form();
    unsigned long before = imagePixel(*view, 100, H - 1);
    v_Invert(b, 0);
    EXPECT_STREQ(fl_get_object_label(b), "W=0");
    EXPECT_EQ(MMode.cmapMode, 1);
    if (view->Depth() == 8) {
        // Cells change, pixels do not: no new rendering.
        EXPECT_EQ(imagePixel(*view, 100, H - 1), before);
        XColor c;
        c.pixel = (unsigned long)view->cmapBase;
        XQueryColors(fl_display, colormapOfViews(), &c, 1);
        EXPECT_GT(c.red, 60000);
    } else {
        EXPECT_EQ(imagePixel(*view, 100, H - 1), greyPixel(*view, 155, 0, 255));
    }
    v_Invert(b, 0);
    EXPECT_STREQ(fl_get_object_label(b), "Color");
    EXPECT_EQ(MMode.cmapMode, 2);
    v_Invert(b, 0);
    EXPECT_STREQ(fl_get_object_label(b), "B=0");
    EXPECT_EQ(MMode.cmapMode, 0);
    EXPECT_EQ(imagePixel(*view, 100, H - 1), before);
    // Help mode: text only.
    static std::string shown;
    shellHooks.dohelp = [] { return 1; };
    shellHooks.help = [](const char* t) { shown = t; };
    v_Invert(b, 0);
    EXPECT_EQ(MMode.cmapMode, 0);
    EXPECT_EQ(shown.rfind("This will invert the colormap (B<->W).", 0), 0u);
    viewList->removeObject(view.get());
    viewList = saved;
    fl_free_form(f);
    view->setData(nullptr);
}

// ------------------------------------------------------------------ boxes

TEST_F(DisplayView, BoxesAreDrawnInTheirColours) {
    auto d = constImage(200, 200, 0, 1);
    d->addBox(10, 10, 20, 20, "a.img", 0);  // unmoved: red
    d->addBox(100, 100, 20, 20, "b.img", 0);
    d->Boxes()[1].newx = 150;  // moved: blue at its new centre
    d->Boxes()[1].newy = 150;
    view->setData(listOf({d.get()}));
    view->display();
    int H = view->canvasHeight();
    unsigned long red = fl_get_pixel(FL_RED), blue = fl_get_pixel(FL_BLUE);
    {
        ServerImage pm(view->pixmapId(), view->canvasWidth(), H);
        // Box 1 spans data x 10..29, y 10..29: screen rows H-10 (bottom) up to H-29.
        EXPECT_EQ(pm.at(10, H - 10), red);
        EXPECT_EQ(pm.at(29, H - 29), red);
        EXPECT_EQ(pm.at(20, H - 29), red);
        EXPECT_NE(pm.at(31, H - 20), red);
        // Box 2 moved to centre (150,150): corner (140,140).
        EXPECT_EQ(pm.at(140, H - 140), blue);
        EXPECT_EQ(pm.at(159, H - 159), blue);
        EXPECT_NE(pm.at(100, H - 100), blue);
    }
    // "Clear" marks fill every unmoved box with pixel 0; moved ones stay blue.
    auto bright = constImage(200, 200, 1, 1);
    bright->addBox(10, 10, 20, 20, "a.img", 0);
    bright->addBox(100, 100, 20, 20, "b.img", 0);
    bright->Boxes()[1].newx = 150;
    bright->Boxes()[1].newy = 150;
    view->setData(listOf({bright.get()}));
    view->setMMGray(0, 0.5f);
    MMode.markType = 4;
    view->redraw();
    {
        ServerImage pm(view->pixmapId(), view->canvasWidth(), H);
        EXPECT_EQ(pm.at(20, H - 20), 0u);
        EXPECT_EQ(pm.at(150, H - 150), blue);
        EXPECT_EQ(pm.at(60, H - 60), greyPixel(*view, 1, 0, 0.5f));
    }
    // A filament box is outlined even with no marks.
    MMode.markType = 0;
    MMode.boxX = 10;
    auto f = constImage(200, 200, 0, 1);
    f->addBox(50, 20, 50, 120, "f.img", 10);
    view->setData(listOf({f.get()}));
    view->display();
    {
        ServerImage pm(view->pixmapId(), view->canvasWidth(), H);
        EXPECT_EQ(pm.at(50, H - 70), red);  // centre line x = 50
        EXPECT_EQ(pm.at(45, H - 70), red);  // side 5 pixels left
        EXPECT_EQ(pm.at(55, H - 70), red);
        EXPECT_NE(pm.at(52, H - 70), red);
    }
    view->setData(nullptr);
}

TEST(DisplayDraw, OutlineShapes) {
    SharedStateGuard keep;
    Display* d = fl_display;
    int depth = fl_state[fl_vmode].depth;
    Pixmap pm = XCreatePixmap(d, fl_root, 100, 100, depth);
    GC gc = XCreateGC(d, pm, 0, nullptr);
    auto clear = [&] {
        XSetForeground(d, gc, 0);
        XFillRectangle(d, pm, gc, 0, 0, 100, 100);
        XSetForeground(d, gc, 1);
    };
    MMode = MouseMode();
    // Negative sizes are turned round first: same as drawing from the other corner.
    MMode.boxType = 1;
    clear();
    doBox(d, pm, gc, 60, 70, -40, -50);
    {
        ServerImage s(pm, 100, 100);
        EXPECT_EQ(s.at(20, 20), 1u);
        EXPECT_EQ(s.at(60, 70), 1u);
        EXPECT_EQ(s.at(40, 40), 0u);
    }
    MMode.boxType = 0;  // the two diagonals
    clear();
    doBox(d, pm, gc, 10, 10, 50, 50);
    {
        ServerImage s(pm, 100, 100);
        EXPECT_EQ(s.at(35, 35), 1u);
        EXPECT_EQ(s.at(35, 10), 0u);
        EXPECT_EQ(s.at(20, 50), 1u);
    }
    MMode.boxType = 2;  // an 11 x 11 mark at the centre
    clear();
    doBox(d, pm, gc, 10, 10, 50, 50);
    {
        ServerImage s(pm, 100, 100);
        EXPECT_EQ(s.at(35, 35), 1u);
        EXPECT_EQ(s.at(35, 41), 0u);
        EXPECT_EQ(s.at(10, 10), 0u);
    }
    MMode.boxType = 4;
    clear();
    doBox(d, pm, gc, 10, 10, 50, 50);
    {
        ServerImage s(pm, 100, 100);
        EXPECT_EQ(s.at(30, 30), 1u);
    }
    MMode.boxType = 9;  // unknown shape: nothing
    clear();
    doBox(d, pm, gc, 10, 10, 50, 50);
    {
        ServerImage s(pm, 100, 100);
        EXPECT_EQ(s.at(10, 10), 0u);
    }
    // Filament outline: width boxX x zoom around the line, corners rounded.
    MMode.boxX = 10;
    clear();
    doLine(d, pm, gc, 50, 20, 0, 60, 2.0f);  // half-width 10
    {
        ServerImage s(pm, 100, 100);
        EXPECT_EQ(s.at(50, 50), 1u);  // centre line
        EXPECT_EQ(s.at(40, 50), 1u);  // sides
        EXPECT_EQ(s.at(60, 50), 1u);
        EXPECT_EQ(s.at(45, 20), 1u);  // end caps
        EXPECT_EQ(s.at(45, 80), 1u);
        EXPECT_EQ(s.at(45, 50), 0u);
    }
    XFreeGC(d, gc);
    XFreePixmap(d, pm);
}

// ------------------------------------------------------------------ MOVE mode

TEST_F(DisplayView, MoveModeCentresPansAndReportsToThePanel) {
    auto d = makeImage(1024, 1024, [](int x, int y) { return (float)(x ^ y); });
    view->setData(listOf({d.get()}));
    view->display();
    static std::vector<int> codes;
    codes.clear();
    shellHooks.moused = [](DataWin*, int, int, int code, unsigned long) { codes.push_back(code); };
    int W = view->canvasWidth(), H = view->canvasHeight();
    // Left click centres: origin moves by the offset from the canvas centre.
    view->buttonPress(W / 2 + 100, H / 2 - 50, EV_LEFT_PRESS, 0);
    EXPECT_EQ(view->getXor(), 100);
    EXPECT_EQ(view->getYor(), 50);
    // Clicking left of the centre near the origin is held at 0.
    view->buttonPress(0, H - 1, EV_LEFT_PRESS, 0);
    EXPECT_EQ(view->getXor(), 0);
    EXPECT_EQ(view->getYor(), 0);
    // Far corner: limited to full - canvas.
    for (int i = 0; i < 5; i++) view->buttonPress(W - 1, 0, EV_LEFT_PRESS, 0);
    EXPECT_EQ(view->getXor(), 1024 - W);
    EXPECT_EQ(view->getYor(), 1024 - H);
    // Middle press then drag pans with the pointer.
    view->setOrigin(300, 300);
    view->buttonPress(200, 200, EV_MIDDLE_PRESS, 0);
    view->buttonPress(190, 215, EV_MIDDLE_DRAG, 0);
    EXPECT_EQ(view->getXor(), 310);
    EXPECT_EQ(view->getYor(), 315);
    view->buttonPress(180, 215, EV_MIDDLE_DRAG, 0);
    EXPECT_EQ(view->getXor(), 320);
    // The rendering follows: lower-left pixel is data (320, 315).
    EXPECT_EQ(imagePixel(*view, 0, H - 1), greyPixel(*view, (float)(320 ^ 315), view->minGray(), view->maxGray()));
    // Presses, releases and drags reach the control panel; motion and enter do not.
    view->buttonPress(10, 10, EV_MOVE, 0);
    view->buttonPress(10, 10, EV_ENTER, 0);
    view->buttonPress(10, 10, EV_LEFT_RELEASE, 0);
    EXPECT_EQ(codes, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 2, 34, 34, 17}));
    // Enter and leave set the status title.
    view->buttonPress(10, 10, EV_ENTER, 0);
    EXPECT_STREQ(view->form->datawin->label, "Image: Left button centers, middle button pans");
    view->buttonPress(10, 10, EV_LEAVE, 0);
    EXPECT_STREQ(view->form->datawin->label, "Image");
    view->setData(nullptr);
    EXPECT_EQ(view->buttonPress(10, 10, EV_LEFT_PRESS, 0), 0);
}

TEST_F(DisplayView, CanvasEventsReachButtonPressWithTheirCodes) {
    auto d = makeImage(1024, 1024, [](int x, int y) { return (float)(x + y); });
    view->setData(listOf({d.get()}));
    view->setOrigin(200, 200);
    static std::vector<int> codes;
    codes.clear();
    shellHooks.moused = [](DataWin*, int, int, int code, unsigned long) { codes.push_back(code); };
    Window w = view->canvasWindow();
    auto send = [&](int type, int x, int y, unsigned button, unsigned state) {
        XEvent e{};
        e.type = type;
        e.xany.display = fl_display;
        e.xany.window = w;
        if (type == MotionNotify) {
            e.xmotion.x = x;
            e.xmotion.y = y;
            e.xmotion.state = state;
            e.xmotion.same_screen = True;
        } else {
            e.xbutton.x = x;
            e.xbutton.y = y;
            e.xbutton.button = button;
            e.xbutton.state = state;
            e.xbutton.same_screen = True;
        }
        XSendEvent(fl_display, w, False, 0, &e);
        XSync(fl_display, False);
        // The toolkit hands on one queued event per check.
        for (int i = 0; i < 8; i++) fl_check_forms();
    };
    send(ButtonPress, 100, 100, Button2, 0);
    EXPECT_EQ(MMode.buttons, 2);
    send(MotionNotify, 90, 120, 0, Button2Mask);
    send(ButtonRelease, 90, 120, Button2, Button2Mask);
    EXPECT_EQ(MMode.buttons, 0);
    EXPECT_EQ(view->getXor(), 210);
    EXPECT_EQ(view->getYor(), 220);
    // A wheel release must not drop a held button.
    send(ButtonPress, 100, 100, Button1, 0);
    send(ButtonRelease, 100, 100, Button4, Button1Mask);
    EXPECT_EQ(MMode.buttons, 1);
    send(ButtonRelease, 100, 100, Button1, Button1Mask);
    EXPECT_EQ(MMode.buttons, 0);
    EXPECT_EQ(codes,
              (std::vector<int>{EV_MIDDLE_PRESS, EV_MIDDLE_DRAG, EV_MIDDLE_RELEASE, EV_LEFT_PRESS, EV_LEFT_RELEASE}));
    view->setData(nullptr);
}

TEST_F(DisplayView, OtherModesActAsMoveOnMosaicsAndReachTheirHandler) {
    auto a = constImage(300, 300, 1, 1), b = constImage(300, 300, 2, 2);
    static int calls = 0;
    calls = 0;
    setModeHandler(BOX, [](DataWin*, int, int, int, int, int, unsigned long) {
        calls++;
        return 1;
    });
    MMode.mode = BOX;
    view->setData(listOf({a.get(), b.get()}));
    view->display();
    view->buttonPress(view->canvasWidth() / 2 + 40, view->canvasHeight() / 2, EV_LEFT_PRESS, 0);
    EXPECT_EQ(view->getXor(), 40);  // mosaic: BOX acts as MOVE
    EXPECT_EQ(calls, 0);
    view->setData(listOf({a.get()}));
    view->display();
    view->buttonPress(50, 50, EV_LEFT_PRESS, 0);
    EXPECT_EQ(calls, 1);  // a single image: BOX's own handler
    setModeHandler(BOX, nullptr);
    view->setData(nullptr);
}

TEST_F(DisplayView, ResizeRebuildsAtTheNewSize) {
    auto d = makeImage(600, 600, [](int x, int y) { return (float)(x + y); });
    view->setData(listOf({d.get()}));
    view->display();
    static DataWin* resized = nullptr;
    resized = nullptr;
    shellHooks.resized = [](DataWin* v) { resized = v; };
    fl_set_form_size(view->form->datawin, 540, 500);
    XSync(fl_display, False);
    view->display();
    EXPECT_EQ(resized, view.get());
    EXPECT_EQ(view->canvasWidth(), 520);
    EXPECT_EQ(view->canvasHeight(), 480);
    EXPECT_EQ(view->image()->width, 520);
    EXPECT_FALSE(view->isDirty());
    EXPECT_EQ(imagePixel(*view, 519, 0), greyPixel(*view, 519 + 479, view->minGray(), view->maxGray()));
    view->setData(nullptr);
}

// ------------------------------------------------------------------ mouse panel

TEST(DisplayMousePanel, BuiltFromPreferences) {
    SharedStateGuard keep;
    clearenv2();
    shellHooks = ShellHooks();
    MMode = MouseMode();
    FD_mouse* p = create_mouse_panel(0);
    ASSERT_EQ(p, mpanel);
    EXPECT_STREQ(fl_get_input(p->sizeX), "512");
    EXPECT_STREQ(fl_get_input(p->sizeY), "512");
    EXPECT_EQ(fl_get_choice(p->basis), 2);  // "Daub4"
    EXPECT_STREQ(fl_get_choice_text(p->basis), "Daub4");
    EXPECT_EQ(getenvi("DWTbasis"), 1);        // stored on first read
    EXPECT_EQ(getenv2("DWTlevel"), nullptr);  // not stored
    EXPECT_EQ(fl_get_choice(p->boxChoice), 2);
    EXPECT_EQ(fl_get_choice(p->markChoice), 2);
    EXPECT_EQ(fl_get_button(p->modeButton[MOVE]), 1);
    for (int i = 0; i < 10; i++) {
        EXPECT_EQ(MMode.levelSlider[i], p->slider[9 - i]);
        EXPECT_FALSE(p->slider[i]->visible) << i;
        EXPECT_FLOAT_EQ(fl_get_slider_value(p->slider[i]), 0.4f);
    }
    // "Level:" 3 shows exactly the three right-most sliders.
    fl_set_input(p->level, "3");
    new_wavelet3(p->level, 0);
    for (int i = 0; i < 10; i++) EXPECT_EQ(p->slider[i]->visible != 0, i >= 7) << i;
    // Master slider sets every gain.
    fl_set_slider_value(p->master, 0.9);
    new_wavelet4(p->master, 0);
    for (int i = 0; i < 10; i++) EXPECT_FLOAT_EQ(MMode.levelGain[i], 0.9f);
    // Box sizes round up to the next valid FFT size while "fftboxonly" is 1.
    fl_set_input(p->sizeX, " 1001");
    fl_set_input(p->sizeY, "1021");
    m_Size(p->sizeX, 0);
    EXPECT_EQ(MMode.boxX, 1008);
    EXPECT_EQ(MMode.boxY, 1024);
    EXPECT_STREQ(fl_get_input(p->sizeX), "1008");
    EXPECT_STREQ(fl_get_input(p->sizeY), "1024");
    EXPECT_EQ(getenvi("fftboxonly"), 1);
    setenv2("fftboxonly", "0");
    fl_set_input(p->sizeX, "101");
    fl_set_input(p->sizeY, "61");
    m_Size(p->sizeY, 0);
    EXPECT_EQ(MMode.boxX, 101);
    EXPECT_EQ(MMode.boxY, 61);
    fl_set_choice(p->boxChoice, 4);
    m_Boxtype(p->boxChoice, 0);
    EXPECT_EQ(MMode.boxType, 3);
    fl_set_choice(p->markChoice, 5);
    m_Marktype(p->markChoice, 0);
    EXPECT_EQ(MMode.markType, 4);
    mm_Set(p->modeButton[DRAG], DRAG);
    EXPECT_EQ(MMode.mode, DRAG);
    // Help mode only shows the text.
    static std::string shown;
    shellHooks.dohelp = [] { return 1; };
    shellHooks.help = [](const char* t) { shown = t; };
    mm_Set(p->modeButton[BOX], BOX);
    EXPECT_EQ(MMode.mode, DRAG);
    EXPECT_EQ(shown.rfind("Selects 'BOX' mouse mode.", 0), 0u);
    fl_free_form(p->mouse);
    fl_free(p);
}

// The GUI test runner's entry point, unless another test file brings its own.
__attribute__((weak)) int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
