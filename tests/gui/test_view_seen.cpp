// What a view shows, read back from the X server: box marks of every type,
// the rubber bands of the mouse modes, the tile numbers of a mosaic after a
// ZAP, and the pixels the grey-limit sliders and the zoom buttons give.
#include "tests/gui/gui_testutil.h"
// (first: GoogleTest before Xlib)

namespace {

// A rectangle of canvas pixels, both ends included.
struct Rect {
    int x0, y0, x1, y1;
    bool operator==(const Rect& o) const { return x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1; }
    int w() const { return x1 - x0 + 1; }
    int h() const { return y1 - y0 + 1; }
};

// The pixels of one colour in a drawable of the view: their bounds and count.
struct Found {
    Rect r{1 << 20, 1 << 20, -1, -1};
    long n = 0;
};
Found find(DataWin* v, Drawable d, unsigned long colour) {
    ServerImage im(d, v->canvasW, v->canvasH);
    Found f;
    for (int y = 0; y < v->canvasH; y++)
        for (int x = 0; x < v->canvasW; x++)
            if (im.at(x, y) == colour) {
                f.n++;
                f.r = {std::min(f.r.x0, x), std::min(f.r.y0, y), std::max(f.r.x1, x), std::max(f.r.y1, y)};
            }
    return f;
}

// Where a box of w x h data pixels at data corner (x, y) is marked: on the
// screen pixels of its data pixels (zoom w x zoom h of them), its left column
// at zoom x less the origin, its bottom row the lowest that shows data row y.
Rect boxOnScreen(DataWin* v, int x, int y, int w, int h) {
    const int X = (int)(v->zoom * x) - v->xOrigin, Y = v->yOrigin + v->canvasH - 1 - (int)(v->zoom * y);
    return {X, Y + 1 - (int)(v->zoom * h), X + (int)(v->zoom * w) - 1, Y};
}

// A shape (0 diagonals, 1 outline, 2 spot, 3 ellipse, 4 filled) of box b as
// found on the server; a numbered outline has more pixels than its edges.
void expectShape(const Found& f, int shape, const Rect& b, bool numbered, const std::string& what) {
    const int cx = b.x0 + b.w() / 2, cy = b.y0 + b.h() / 2;
    if (shape == 2) {
        // An 11 x 11 spot about (cx, cy); the server fills 10 x 10 of it, a pixel off one way or the other.
        const int off = std::max({std::abs(f.r.x0 - cx + 5), std::abs(f.r.x1 - cx - 5), std::abs(f.r.y0 - cy + 5),
                                  std::abs(f.r.y1 - cy - 5)});
        EXPECT_TRUE(off <= 1 && f.r.w() >= 10 && f.r.h() >= 10) << what << ": about " << cx << "," << cy;
    } else {
        EXPECT_EQ(f.r, b) << what;
    }
    // How many pixels each shape covers, at least and at most.
    const long edges = 2L * (b.w() + b.h()) - 4, side = std::max(b.w(), b.h()), area = (long)b.w() * b.h();
    const long least[5] = {side, numbered ? edges + 1 : edges, 81, 2 * side + 1, area};
    const long most[5] = {2 * side, numbered ? area : edges, 120, edges - 1, area};
    EXPECT_TRUE(f.n >= least[shape] && f.n <= most[shape]) << what << ": " << f.n;
}

// The grey level a pixel of value v shows with limits lo..hi (the server's pixel).
unsigned long greyPixel(DataWin* v, float val, float lo, float hi) {
    const int a = v->Depth() == 8 ? v->cmapBase : 0, b = v->Depth() == 8 ? v->cmapCount : 255;
    const int L = val <= lo ? a : val >= hi ? b : a + (int)((val - lo) * ((float)(b - a) / (hi - lo)));
    return v->Depth() == 8 ? (unsigned long)L : (unsigned long)L * 0x010101;
}

}  // namespace

// An unmoved square box (red, "Clear": pixel 0) and a moved one of odd,
// unequal sides (blue, at its new centre less half its sides) in every mark
// type, at zoom 1/2, 1 and 2 (scrolled).
TEST(ViewSeen, BoxMarksOfEveryTypeSitOnTheirBoxesAtEachZoom) {
    MRCData* d = image(900, 800, [](int, int) { return 1.f; });
    fresh({d});
    d->addBox(40, 50, 48, 48, "a", 0);
    d->addBox(100, 80, 63, 35, "b", 0);
    d->Boxes()[1].newx = 150, d->Boxes()[1].newy = 120;
    DataWin* v = current_view();
    v->setMMGray(0, 2);  // mid grey: neither a mark colour nor pixel 0
    // clang-format off
    struct { float zoom; int ox, oy; } views[] = {{0.5f, 0, 0}, {1, 0, 0}, {2, 30, 20}};
    // clang-format on
    for (auto& s : views)
        for (int type = 1; type <= 4; type++) {
            MMode.markType = type;
            v->setZoom(s.zoom);
            v->setOrigin(s.ox, s.oy);
            const std::string what = "zoom " + std::to_string(s.zoom) + " mark " + std::to_string(type);
            const unsigned long unmoved = type == 4 ? 0 : fl_get_pixel(FL_RED);
            expectShape(find(v, v->pixmapId(), unmoved), type, boxOnScreen(v, 40, 50, 48, 48), true, what + " a");
            expectShape(find(v, v->pixmapId(), fl_get_pixel(FL_BLUE)), type, boxOnScreen(v, 150 - 31, 120 - 17, 63, 35),
                        true, what + " b");
        }
    // No marks; a filament (10 wide, zoom 1) is outlined all the same: centre
    // line and sides from (300, 100) to (300, 220).
    MMode.markType = 0;
    MMode.boxX = 10;
    d->addBox(300, 100, 300, 220, "f", 10);
    v->setZoom(1);
    v->setOrigin(0, 0);
    const int H = v->canvasH;
    EXPECT_EQ(find(v, v->pixmapId(), fl_get_pixel(FL_RED)).r, (Rect{295, H - 221, 305, H - 101}));
    EXPECT_EQ(find(v, v->pixmapId(), fl_get_pixel(FL_BLUE)).n, 0);
    EXPECT_EQ(serverPixel(v->pixmapId(), 300, H - 161), fl_get_pixel(FL_RED));
    EXPECT_NE(serverPixel(v->pixmapId(), 298, H - 161), fl_get_pixel(FL_RED));
}

// The band of DRAG, BOX and DB outlines, in the selection shape, the box the
// release (DRAG, DB) or the press (BOX) then cuts or moves, at each zoom; the
// new mark lies where the band was.
TEST(ViewSeen, RubberBandsHaveTheDraggedWidthAndHeight) {
    // clang-format off
    struct Ev { int dx, dy, code; };
    struct { int mode, shape; float zoom; int ox, oy; std::vector<Ev> events; Rect box; Ev last; } cases[] = {
        // box: the data box the band outlines (x, y, w, h); last: the event that cuts or drops it
        {DRAG, 1, 1, 0, 0, {{10, 10, EV_LEFT_PRESS}, {25, 20, EV_LEFT_DRAG}, {40, 30, EV_LEFT_DRAG}},
         {10, 10, 31, 21}, {40, 30, EV_LEFT_RELEASE}},
        // up and to the left, scrolled, at zoom 2: diagonals
        {DRAG, 0, 2, 6, 4, {{60, 50, EV_LEFT_PRESS}, {45, 20, EV_LEFT_DRAG}}, {45, 20, 16, 31}, {45, 20, EV_LEFT_RELEASE}},
        {DRAG, 4, 0.5f, 0, 0, {{100, 198, EV_LEFT_PRESS}, {160, 140, EV_LEFT_DRAG}}, {100, 140, 61, 59},
         {160, 140, EV_LEFT_RELEASE}},
        // 64 x 32 about the pointer; at the corner pushed inside the image
        {BOX, 1, 1, 0, 0, {{150, 100, EV_MOVE}}, {118, 84, 64, 32}, {150, 100, EV_LEFT_PRESS}},
        {BOX, 3, 2, 200, 0, {{298, 3, EV_MOVE}}, {236, 0, 64, 32}, {298, 3, EV_LEFT_PRESS}},
        {BOX, 2, 0.5f, 0, 0, {{10, 190, EV_MOVE}}, {0, 168, 64, 32}, {10, 190, EV_LEFT_PRESS}},
        // the 30 x 30 box at (50, 50) picked and dragged to centre (150, 150); kept inside the image
        {DB, 1, 1, 0, 0, {{60, 60, EV_LEFT_PRESS}, {150, 150, EV_LEFT_DRAG}}, {135, 135, 30, 30},
         {150, 150, EV_LEFT_RELEASE}},
        {DB, 1, 0.5f, 0, 0, {{60, 60, EV_LEFT_PRESS}, {295, 190, EV_LEFT_DRAG}}, {270, 170, 30, 30},
         {295, 190, EV_LEFT_RELEASE}},
    };
    // clang-format on
    for (auto& c : cases) {
        const std::string what = "mode " + std::to_string(c.mode) + " zoom " + std::to_string(c.zoom);
        MRCData* d = make_data(300, 200, "img", "img.mrc");
        fresh({d});
        if (c.mode == DB) d->addBox(50, 50, 30, 30, "a", 0);
        mode(c.mode);
        MMode.boxType = c.shape, MMode.markType = 1, MMode.boxX = 64, MMode.boxY = 32;
        DataWin* v = current_view();
        v->setZoom(c.zoom);
        v->setOrigin(c.ox, c.oy);
        for (const Ev& e : c.events) ev(e.dx, e.dy, e.code);
        XSync(fl_display, False);
        const Rect want = boxOnScreen(v, c.box.x0, c.box.y0, c.box.x1, c.box.y1);
        expectShape(find(v, v->canvasWindow(), fl_get_pixel(FL_RED)), c.shape, want, false, what + " band");
        ev(c.last.dx, c.last.dy, c.last.code);
        const BoxRecord& b = d->Boxes()[0];
        EXPECT_EQ(d->nBoxes(), 1) << what;
        if (c.mode == DB) {
            EXPECT_EQ((Ints{b.newx - b.xsize / 2, b.newy - b.ysize / 2}), (Ints{c.box.x0, c.box.y0})) << what;
        } else {
            EXPECT_EQ((Ints{b.x, b.y, b.xsize, b.ysize}), (Ints{c.box.x0, c.box.y0, c.box.x1, c.box.y1})) << what;
        }
        expectShape(find(v, v->pixmapId(), fl_get_pixel(c.mode == DB ? FL_BLUE : FL_RED)), 1, want, true,
                    what + " mark");
    }
}

// ZAP takes the tile under the pointer (rows counted from the bottom) to
// "Zapped"; the others move up and show their new numbers 1, 2, ... in their
// corners, as the server draws the number text there.
TEST(ViewSeen, ZapTakesTheTileUnderThePointerAndTheRestKeepTheirOrder) {
    // clang-format off
    struct { int n; float zoom; int tile; } cases[] = {{5, 1, 3}, {9, 0.5f, 7}, {4, 2, 0}, {3, 1, 1}};
    // clang-format on
    for (auto& c : cases) {
        const std::string what = std::to_string(c.n) + " tiles, zap " + std::to_string(c.tile);
        std::vector<MRCData*> ds;
        std::vector<int> lines;
        std::vector<std::string> names;
        for (int i = 0; i < c.n; i++) {
            names.push_back(std::string(1, (char)('a' + i)));
            ds.push_back(make_data(64, 64, names.back().c_str()));
            lines.push_back(i + 1);
        }
        fresh(ds, lines);
        mode(ZAP);
        DataWin* v = current_view();
        v->setZoom(c.zoom);
        v->redraw();
        const int cols = v->Columns(), col = c.tile % cols, row = c.tile / cols;
        // Right of the mosaic (past the last column) is no tile.
        v->buttonPress((int)(c.zoom * 64 * cols) + 3, v->canvasH - 5, EV_LEFT_PRESS, 0);
        EXPECT_EQ(group("Zapped"), nullptr) << what;
        v->buttonPress((int)(c.zoom * (64 * col + 40)), v->canvasH - 1 - (int)(c.zoom * (64 * row + 20)), EV_LEFT_PRESS,
                       0);
        EXPECT_EQ(group_names(group("Zapped")), (std::vector<std::string>{names[c.tile]})) << what;
        names.erase(names.begin() + c.tile);
        EXPECT_EQ(group_names(current_group()), names) << what;
        EXPECT_EQ(group_names(v->data()), names) << what;
        ASSERT_EQ(fl_get_browser_maxline(control->images), c.n - 1);
        // The green separators stay on the mosaic (its tiles' rows and columns).
        const int w2 = (int)(c.zoom * 64 * v->Columns()), h2 = (int)(c.zoom * 64 * ((c.n - 2) / v->Columns() + 1));
        const Rect on = find(v, v->pixmapId(), fl_get_pixel(FL_GREEN)).r;
        EXPECT_TRUE(on.x0 >= 0 && on.x1 <= w2 && on.y0 >= v->canvasH - h2) << what;
        // Each remaining tile's number, drawn by the server in black on green.
        XFontStruct* fs = XQueryFont(fl_display, gfont);
        ASSERT_NE(fs, nullptr);
        const int asc = fs->ascent, h = fs->ascent + fs->descent;
        Pixmap ref = XCreatePixmap(fl_display, v->canvasWindow(), 40, h, v->Depth());
        GC gc = XCreateGC(fl_display, ref, 0, nullptr);
        XSetFont(fl_display, gc, gfont);
        XSetForeground(fl_display, gc, fl_get_pixel(FL_BLACK));
        XSetBackground(fl_display, gc, fl_get_pixel(FL_GREEN));
        for (int i = 0; i < c.n - 1; i++) {
            const std::string label = std::to_string(i + 1);
            EXPECT_EQ(at(i)->Seqno(), i + 1) << what;
            EXPECT_EQ(std::string(fl_get_browser_line(control->images, i + 1)), label + ". " + names[i] + " 64x64")
                << what;
            const int w = XTextWidth(fs, label.c_str(), (int)label.size());
            XDrawImageString(fl_display, ref, gc, 0, asc, label.c_str(), (int)label.size());
            const int x = (int)(v->zoom * 64 * (i % v->Columns())) + 3,
                      y = v->canvasH - (int)(v->zoom * 64 * (i / v->Columns())) - 3 - asc;
            ServerImage want(ref, w, h), shown(v->pixmapId(), x + w, y + h);
            int bad = 0;
            for (int q = 0; q < h; q++)
                for (int p = 0; p < w; p++) bad += want.at(p, q) != shown.at(x + p, y + q);
            EXPECT_EQ(bad, 0) << what << ": tile " << i;
        }
        XFreeGC(fl_display, gc);
        XFreePixmap(fl_display, ref);
        XFreeFontInfo(nullptr, fs, 1);
    }
}

// The grey-limit sliders and the zoom buttons: every probed screen pixel shows
// the data pixel the zoom and the kept centre put there, in the grey level the
// limits give it.
TEST(ViewSeen, GreySlidersAndZoomButtonsChangeThePixelsAsDefined) {
    auto val = [](int x, int y) { return (float)((x * 7 + y * 13) % 256); };
    fresh({image(1024, 1024, val)});
    DataWin* v = current_view();
    const int cw = v->canvasW, ch = v->canvasH;
    float lo = 0, hi = 255, prev = 1, ox = 0, oy = 0;
    // clang-format off
    // button: 0..4 the zoom buttons 1/4x .. 4x, -1 the limits min, max
    struct { int button; float min, max; } steps[] = {
        {-1, 40, 200}, {-1, 40, 90}, {3, 0, 0}, {0, 0, 0}, {2, 0, 0}, {-1, 10, 250}, {1, 0, 0}, {4, 0, 0}, {2, 0, 0}};
    static const float zooms[] = {0.25f, 0.5f, 1, 2, 4};
    // clang-format on
    for (auto& s : steps) {
        if (s.button < 0) {
            fl_set_slider_value(control->maxGray, s.max);
            fl_call_object_callback(control->maxGray);
            fl_set_slider_value(control->minGray, s.min);
            fl_call_object_callback(control->minGray);
            lo = s.min, hi = s.max;
        } else {
            const float z = zooms[s.button];
            fl_call_object_callback(control->zoomBtn[s.button]);
            // The centre stays, within the scroll range of the new size.
            ox = std::min(std::max((ox + cw / 2) * z / prev - cw / 2, 0.0f), std::max(0.0f, 1024 * z - cw));
            oy = std::min(std::max((oy + ch / 2) * z / prev - ch / 2, 0.0f), std::max(0.0f, 1024 * z - ch));
            prev = z;
            EXPECT_FLOAT_EQ((float)fl_get_slider_value(control->zoom), z);
        }
        EXPECT_EQ((Ints{v->getXor(), v->getYor()}), (Ints{(int)ox, (int)oy})) << s.button;
        // Screen column sx and row sy from the bottom show data column
        // origin/zoom + sx/zoom (truncated), and so for rows.
        int bad = 0;
        ServerImage shown(v->pixmapId(), cw, ch);
        const float z = v->getZoom();
        for (int sy = 0; sy < ch; sy += 37)
            for (int sx = 0; sx < cw; sx += 29) {
                const int dx = (int)((int)ox / z) + (int)std::floor(sx / z),
                          dy = (int)((int)oy / z) + (int)std::floor(sy / z);
                const unsigned long want = dx < 1024 && dy < 1024 ? greyPixel(v, val(dx, dy), lo, hi) : 0;
                bad += shown.at(sx, ch - 1 - sy) != want;
            }
        EXPECT_EQ(bad, 0) << "button " << s.button << " limits " << lo << "," << hi;
    }
}
