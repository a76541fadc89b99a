// The mouse modes on real data sets, driven through buttonPress with the event
// codes, and the Box menu: clips, boxes, titles, groups, messages; nothing may
// point at a data set after it was zapped or deleted (run under ASan too).
#include "tests/gui/gui_testutil.h"
// (first: GoogleTest before Xlib)
#include "gui/shell/boxing.h"

namespace {

// Every box of d, one "x,y wxh type name" line each.
std::string boxes(MRCData* d) {
    std::string s;
    for (int i = 0; i < d->nBoxes(); i++) {
        const BoxRecord& b = d->Boxes()[i];
        s += std::to_string(b.x) + "," + std::to_string(b.y) + " " + std::to_string(b.xsize) + "x" +
             std::to_string(b.ysize) + " " + std::to_string(b.type) + " " + b.name + "\n";
    }
    return s;
}
// The clip holds the source's w x h rectangle at (x0, y0).
void expectCut(MRCData* clip, MRCData* src, int x0, int y0, int w, int h) {
    ASSERT_EQ(clip->xSize() * 10000 + clip->ySize(), w * 10000 + h);
    for (int r = 0; r < h; r++)
        for (int k = 0; k < w; k++) ASSERT_EQ(clip->getRealData()[r * w + k], src->valueAt(x0 + k, y0 + r));
}
// A fresh workbench showing one nx x ny ramp, file name NAME.mrc.
MRCData* shown(const char* name, int nx, int ny) {
    MRCData* d = make_data(nx, ny, name, (std::string(name) + ".mrc").c_str());
    fresh({d});
    return d;
}

}  // namespace

TEST(Boxing, DragCutsIntoClipsAndKeepsThePanelInStep) {
    MRCData* src = shown("img", 300, 200);
    mode(DRAG);
    MMode.boxX = MMode.boxY = 8;  // outlines only while the image holds the current size
    std::vector<std::string> t;
    std::string out = said([&] {
        t = {ev(12, 13, EV_MOVE), ev(10, 10, EV_LEFT_PRESS), ev(40, 30, EV_LEFT_DRAG), ev(40, 30, EV_LEFT_RELEASE)};
        ev(40, 30, EV_LEFT_PRESS);  // up and left: the same rules
        ev(5, 25, EV_LEFT_RELEASE);
        ev(50, 50, EV_LEFT_RELEASE);  // a release without its press cuts nothing
    });
    char move[64];
    std::snprintf(move, sizeof move, "Image (12,13) %4.3f", src->valueAt(12, 13));
    EXPECT_EQ(t, (std::vector<std::string>{move, "Image: now release to clip image", "Image (10,10) - (40,30) 31x21",
                                           "Image clipped (10,10) - (40,30) 31x21"}));
    EXPECT_EQ(out, "Clip 10,10 - 40,30 31x21\nClip 5,25 - 40,30 36x6\n");
    List* clips = group("Clips");
    ASSERT_EQ(count(clips), 2);
    EXPECT_EQ(group_names(clips), (std::vector<std::string>{"Clip img (10,10)", "Clip img (5,25)"}));
    EXPECT_EQ(std::string(at(0, clips)->File()) + " " + at(1, clips)->File(), "img_001.img img_002.img");
    expectCut(at(0, clips), src, 10, 10, 31, 21);
    expectCut(at(1, clips), src, 5, 25, 36, 6);
    EXPECT_EQ(boxes(src), "10,10 31x21 0 img_001.img\n5,25 36x6 0 img_002.img\n");
    EXPECT_EQ(std::string(fl_get_input(mpanel->sizeX)) + "x" + fl_get_input(mpanel->sizeY), "36x6");
}

TEST(Boxing, BoxCutsStayInsideTheImageAtEveryEdge) {
    MRCData* src = shown("img", 300, 200);
    mode(BOX);
    // clang-format off
    struct Case { int dx, dy, w, h, x0, y0; } cases[] = {  // click, box size, corner cut (-1: too big)
        {5, 5, 64, 64, 0, 0}, {299, 199, 64, 32, 236, 168}, {150, 0, 63, 63, 119, 0}, {299, 100, 63, 63, 237, 69},
        {0, 199, 300, 200, 0, 0}, {150, 100, 600, 64, -1, -1}, {150, 100, 64, 201, -1, -1}};
    // clang-format on
    int n = 0;
    for (const Case& c : cases) {
        MMode.boxX = c.w;
        MMode.boxY = c.h;
        std::string t, out = said([&] { t = ev(c.dx, c.dy, EV_LEFT_PRESS); });
        if (c.x0 < 0) {
            EXPECT_EQ(out + t, "Error: box too big for image\nImage: box too big for image");
            EXPECT_EQ(count(group("Clips")), n);
            continue;
        }
        ASSERT_EQ(count(group("Clips")), ++n) << c.dx << "," << c.dy;
        expectCut(at(n - 1, group("Clips")), src, c.x0, c.y0, c.w, c.h);
    }
    EXPECT_EQ(boxes(src),
              "0,0 64x64 0 img_001.img\n236,168 64x32 0 img_002.img\n119,0 63x63 0 img_003.img\n"
              "237,69 63x63 0 img_004.img\n0,0 300x200 0 img_005.img\n");
}

TEST(Boxing, FilamentCutAndPansThatMoveThePositioner) {
    MRCData* src = shown("fil", 300, 400);
    mode(FILA);
    MMode.boxX = 20;
    MMode.boxY = 100;
    std::vector<std::string> t;
    std::string out = said([&] {
        ev(100, 100, EV_LEFT_PRESS);
        t = {ev(100, 300, EV_LEFT_DRAG), ev(100, 300, EV_LEFT_RELEASE)};
    });
    EXPECT_EQ(t, (std::vector<std::string>{"Filament (100,100)-(100,300) 200pixels",
                                           "Filament clipped (100,100) - (100,300) "}));
    EXPECT_EQ(out, "Filament Clip 100,100 - 100,300\n");
    MRCData* c = at(0, group("Clips"));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->Name(), "Filament fil (20,201)");
    ASSERT_EQ(c->xSize() * 1000 + c->ySize(), 20100);
    for (int j = 0; j < 100; j += 9)
        for (int i = 0; i < 20; i++) EXPECT_NEAR(c->getRealData()[j * 20 + i], src->valueAt(90 + i, 100 + j), 1e-3);
    EXPECT_EQ(boxes(src), "100,100 100x199 20 fil_001.img\n");
    MRCData* thin = view_FilaClip(src, 10, 10, 10, 60, 1, 0);  // one pixel wide: the column itself
    ASSERT_TRUE(thin && thin->xSize() == 1 && thin->ySize() == 51);
    EXPECT_EQ(thin->getRealData()[7], src->valueAt(10, 17));
    // A middle drag pans (400 rows in a 380-row canvas) and the positioner follows.
    DataWin* v = current_view();
    v->buttonPress(200, 200, EV_MIDDLE_PRESS, 0);
    v->buttonPress(200, 210, EV_MIDDLE_DRAG, 0);
    EXPECT_EQ(v->getYor(), 10);
    EXPECT_EQ(fl_get_positioner_yvalue(control->pan), 10);
    mode(ZAP);  // no pan in ZAP mode
    v->buttonPress(200, 220, EV_MIDDLE_DRAG, 0);
    EXPECT_EQ(v->getYor(), 10);
}

TEST(Boxing, DbModeMovesPicksAndDeletesBoxes) {
    MRCData* d = shown("db", 300, 200);
    d->addBox(10, 10, 100, 100, "a", 0);
    d->addBox(50, 50, 30, 30, "b", 0);
    d->addBox(200, 100, 40, 40, "c", 0);
    mode(DB);
    auto centre = [&](int i) { return Ints{d->Boxes()[i].newx, d->Boxes()[i].newy}; };
    // (dragging a picked box: ViewSeen.RubberBands...)
    ev(60, 60, EV_LEFT_PRESS);  // inside a and b: the narrower is picked
    EXPECT_EQ(centre(1), (Ints{65, 65}));
    ev(150, 150, EV_LEFT_RELEASE);
    ev(280, 10, EV_LEFT_PRESS);  // no box there: later drags and releases do nothing
    ev(290, 190, EV_LEFT_RELEASE);
    EXPECT_EQ(centre(1), (Ints{150, 150}));
    ev(150, 150, EV_LEFT_PRESS);
    ev(299, 199, EV_LEFT_RELEASE);  // kept inside the image
    EXPECT_EQ(centre(1), (Ints{285, 185}));
    // Deleting box a moves b to number 0 and c to 1: the pick must not follow
    // its old number onto c.
    ev(20, 20, EV_RIGHT_PRESS);
    EXPECT_EQ(boxes(d), "50,50 30x30 0 b\n200,100 40x40 0 c\n");
    ev(250, 150, EV_LEFT_RELEASE);
    EXPECT_EQ(centre(1), (Ints{-1, -1}));
    EXPECT_EQ(picked_box(nullptr), nullptr);
    // Moved in x only: a moved box all the same, drawn blue where it stands
    // (left edge at 100 - 15).
    d->Boxes()[0].newx = 100;
    d->Boxes()[0].newy = -1;
    DataWin* v = current_view();
    v->redraw();
    EXPECT_EQ(serverPixel(v->pixmapId(), 85, v->canvasH - 60), fl_get_pixel(FL_BLUE));
}

// Every view, line and pick lets go of a data set that goes: under ASan a
// stale pointer used by the events below fails the test.
TEST(Boxing, NothingRefersToZappedOrDeletedDataSets) {
    MRCData* d = shown("m", 300, 200);
    d->addBox(20, 20, 64, 64, "a", 0);
    add_to_group({make_data(300, 200, "n")});
    DataWin* v1 = current_view();
    sel_Addview(nullptr, 0);
    select_images({1});
    DataWin* v2 = current_view();
    mode(DB);
    ev(40, 40, EV_LEFT_PRESS, v2);
    ASSERT_EQ(picked_box(nullptr), d);
    sel_Imdel(nullptr, 0);  // DEL: both views showed it, the pick was in it
    EXPECT_EQ(picked_box(nullptr), nullptr);
    EXPECT_EQ(count(v1->data()) + count(v2->data()), 0);
    for (DataWin* v : {v1, v2}) EXPECT_EQ(v->buttonPress(40, 40, EV_LEFT_RELEASE, 0), 0);

    // ZAP from a mosaic that another view also shows, then the group "Zapped"
    // is deleted: the other view lets go of it.
    add_to_group({make_data(300, 200, "o")});
    select_images({1, 2});  // view 2: n, o
    fl_select_browser_line(control->views, 1);
    sel_View(nullptr, 0);
    select_images({2});  // view 1: o alone
    fl_select_browser_line(control->views, 2);
    sel_View(nullptr, 0);
    mode(ZAP);
    v2->buttonPress(310, v2->canvasH - 11, EV_LEFT_PRESS, 0);  // tile 1: o
    ASSERT_EQ(group_names(group("Zapped")), (std::vector<std::string>{"o"}));
    EXPECT_EQ(count(v1->data()), 1);
    fl_select_browser_line(control->groups, find_group("Zapped") + 1);
    sel_Delgr(nullptr, 0);
    EXPECT_EQ(group("Zapped"), nullptr);
    EXPECT_EQ(count(v1->data()), 0);
    mode(BOX);
    for (DataWin* v : {v1, v2}) EXPECT_EQ(v->buttonPress(40, 40, EV_LEFT_PRESS, 0), 0);
    EXPECT_EQ(group_names(current_group()), (std::vector<std::string>{"n"}));
    EXPECT_EQ(fl_get_browser_maxline(control->images), 1);
}

TEST(Boxing, ReboxCutsEveryBoxAgainInsideTheImage) {
    MRCData* d = shown("r", 300, 200);
    d->addBox(10, 20, 32, 32, "x", 0);
    d->addBox(280, 190, 64, 64, "y", 0);  // partly outside: cut where it fits
    d->addBox(50, 50, 150, 60, "f", 8);   // a filament, as drawn
    d->addBox(0, 0, 400, 10, "z", 0);     // wider than the image: stays as it was
    mode(DB);
    ev(20, 30, EV_LEFT_PRESS);
    menu_run("Box", "Rebox Using DB");
    EXPECT_EQ(picked_box(nullptr), nullptr);
    EXPECT_EQ(count(group("Clips")), 3);
    EXPECT_EQ(boxes(d),
              "10,20 32x32 0 r_001.img\n236,136 64x64 0 r_002.img\n50,50 150x60 8 r_003.img\n0,0 400x10 0 z\n");
    expectCut(at(1, group("Clips")), d, 236, 136, 64, 64);
    d->clearBoxes();  // a single box is cut again too
    d->addBox(5, 6, 20, 20, "one", 0);
    menu_run("Box", "Rebox Using DB");
    EXPECT_EQ(boxes(d), "5,6 20x20 0 r_004.img\n");
}

TEST(Boxing, BoxMenuCommandsAndTheirMessages) {
    std::string dir = shell_tmpdir();
    MRCData* a = shown("a", 600, 560);
    add_to_group({make_data(600, 560, "b"), make_data(512, 512, "s"), make_data(512, 512, "t")});
    a->addBox(40000, 5, 64, 64, "far", 0);
    a->addBox(100, 100, 64, 64, "p", 0);
    a->addBox(10, 10, 50, 90, "f", 12);
    // clang-format off
    struct Case { std::vector<int> lines; const char* entry; std::string file, log; } cases[] = {  // file: the
        // file selector's answer; log: the dialog shown ("" none)
        {{1, 2}, "Save Box DB", dir + "/x.db", "message: Please select a single data set.||"},
        {{1}, "Save Box DB", dir + "/x.db", "message: Box 1 (40000,5 64x64) does not fit in a box database file||"},
        {{1}, "Rebox Using DB", "", ""},  // the far box is cut at the right edge
        {{1}, "Copy Boxes With Align.", "", "message: Please select at least 2 data sets.||"},
        {{3, 4}, "Copy Boxes With Align.", "", "message: The first image must be at least 560x560\n||"},
        {{1}, "Coincidence", "", "message: Please select 2 data sets to test||"},
        {{1}, "Export Picks", "-", ""},  // the file selector cancelled: nothing said or written
        {{1}, "Export Picks", dir + "/p.txt", "message: " + dir + "/p.txt: pick files end in .star (RELION) or .box"},
        {{1}, "Export Picks", dir + "/p.star",
         "message: 1 filament box was left out:|pick files hold rectangular boxes only.|"},
        {{2}, "Import Picks", dir + "/p.star", ""},
        {{2}, "Save Box DB", dir + "/x.db", ""},
        {{1}, "Clear Box DB", "", ""},
        {{1}, "Read Box DB", dir + "/x.db", ""},
        // clang-format on
    };
    for (const Case& c : cases) {
        select_images(c.lines);
        dlg_clear();
        if (!c.file.empty()) dlg_push_files(c.file == "-" ? std::vector<std::string>{} : std::vector{c.file});
        std::string out = said([&] { menu_run("Box", c.entry); });
        EXPECT_TRUE(c.file != "-" || (dlg_logged("message:").empty() && out.empty())) << c.entry << ": " << out;
        EXPECT_EQ((dlg_log().empty() ? "" : dlg_log().back()).substr(0, c.log.size()), c.log) << c.entry << ": " << out;
        EXPECT_EQ(dlg_unexpected(), 0) << c.entry;
    }
    // b got a's two rectangles, at the panel's size about their centres; a
    // read them back from b's box database.
    MRCData* b = at(1);
    ASSERT_EQ(b->nBoxes(), 2);
    EXPECT_EQ(b->Boxes()[0].x + MMode.boxX / 2, 536 + 32);
    EXPECT_EQ(b->Boxes()[1].y + MMode.boxY / 2, 100 + 32);
    ASSERT_EQ(a->nBoxes(), 2);
    EXPECT_EQ(a->Boxes()[1].x, b->Boxes()[1].x);
    EXPECT_EQ(busy_depth(), 0);
}
