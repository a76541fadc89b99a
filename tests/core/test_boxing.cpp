// Boxes: cutting at the edges, filament sampling, moved boxes, the rigid
// re-alignment, copying with correlation, 16-bit box databases, pick files.

#include <array>

#include "core/boxcut.h"
#include "core/boxops.h"
#include "core/picks.h"
#include "tests/core/numeric_testutil.h"

namespace {

// Noise defined on every integer point, so a shifted copy has content
// beyond the original's edges.
float noise(int x, int y) {
    unsigned h = (unsigned)x * 73856093u ^ (unsigned)y * 19349663u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return (float)((h >> 8) & 1023) / 1023.0f;
}

// Adds boxes {x, y, width, height, filament width}.
void addBoxes(MRCData* d, std::initializer_list<std::array<int, 5>> boxes) {
    for (auto& b : boxes) d->addBox(b[0], b[1], b[2], b[3], "b", b[4]);
}

std::vector<int> where(const BoxRecord& b) {
    return {b.x, b.y};
}

}  // namespace

TEST(BoxCut, RectanglesAtEveryEdgeStayInsideAndCopyTheSource) {
    Data d = fnData(37, 23, [](int x, int y) { return (float)(y * 37 + x); });
    // Asked corner and size; corner cut (-1: refused).
    const std::array<int, 6> cases[] = {
        {-5, 3, 8, 6, 0, 3},    {33, 3, 8, 6, 29, 3}, {4, -9, 8, 6, 4, 0},   {4, 20, 8, 7, 4, 16},
        {40, 30, 9, 5, 28, 18}, {0, 0, 37, 23, 0, 0}, {0, 0, 38, 5, -1, -1}, {0, 0, 5, 24, -1, -1},
    };
    for (auto [x0, y0, w, h, ex, ey] : cases) {
        std::vector<float> out((size_t)w * h, -1);
        int x = x0, y = y0;
        const int fits = fitBox(&x, &y, w, h, 37, 23);
        EXPECT_EQ(cutRect(d.get(), out.data(), x0, y0, w, h), fits) << x0 << "," << y0;
        if (ex < 0) {
            EXPECT_EQ(fits, 0);
            continue;
        }
        EXPECT_EQ(std::vector<int>({x, y}), std::vector<int>({ex, ey}));
        for (int r = 0; r < h; r++)
            for (int k = 0; k < w; k++) ASSERT_EQ(out[r * w + k], (float)((ey + r) * 37 + ex + k));
    }
}

TEST(BoxCut, FilamentSamplesALinearImageExactlyAndTheMeanOutside) {
    // Bilinear interpolation reproduces a plane: the oracle is the plane itself.
    Data d = fnData(90, 70, [](int x, int y) { return 3.0f * x + 7.0f * y; });
    const int W = 9, L = 100;
    std::vector<float> out(W * L);
    ASSERT_EQ(cutFilament(d.get(), out.data(), 10, 5, 40, 45, W, L), 1);  // direction (0.6, 0.8)
    int inside = 0, outside = 0;
    for (int j = 0; j < L; j++)
        for (int i = 0; i < W; i++) {
            const double a = std::atan2(40.0, 30.0), u = i - W / 2;
            const double px = 10 + u * std::sin(a) + j * std::cos(a), py = 5 - u * std::cos(a) + j * std::sin(a);
            const bool in = px >= 0 && px < 89 && py >= 0 && py < 69;
            const double want = in ? 3 * px + 7 * py : d->Mean();
            EXPECT_NEAR(out[j * W + i], want, 2e-3) << i << "," << j;
            (in ? inside : outside)++;
        }
    EXPECT_GT(inside, 100);
    EXPECT_GT(outside, 50);  // runs past the top edge: no reads outside the image
    EXPECT_EQ(filamentLength(100, 100, 100, 300), 201);
    int x1 = 100, y1 = 300;
    filamentEnd(100, 100, &x1, &y1, 100);
    EXPECT_EQ(std::vector<int>({x1, y1}), std::vector<int>({100, 199}));
    EXPECT_EQ(cutFilament(d.get(), out.data(), 0, 0, 5, 5, 0, 10), 0);
}

TEST(Boxes, MovedByEitherCentreAndPickedWhereTheyStand) {
    MRCData d;
    addBoxes(&d, {{10, 10, 100, 100, 0}, {50, 50, 30, 30, 0}, {20, 200, 60, 300, 8}});  // filament (20,200)-(60,300)
    BoxRecord* b = d.Boxes();
    int x, y;
    b[1].newx = 140;  // only x moved: still a moved box, y where it was
    EXPECT_TRUE(boxMoved(b[1]));
    boxCorner(b[1], &x, &y);
    EXPECT_EQ(std::vector<int>({x, y}), std::vector<int>({125, 50}));
    b[1].newx = -1, b[1].newy = 0;
    EXPECT_TRUE(boxMoved(b[1]));
    b[1].newy = -1;
    EXPECT_FALSE(boxMoved(b[1]));
    // Overlapping: picking takes the narrower, deleting the first in the list.
    // Edges are outside.
    EXPECT_EQ(std::vector<int>({pickBox(&d, 60, 60), firstBoxAt(&d, 60, 60), pickBox(&d, 10, 60)}),
              std::vector<int>({1, 0, -1}));
    // Moved boxes are picked where they stand; a filament can be hit (for
    // deleting) but not picked (for moving).
    b[1].newx = b[1].newy = 200;
    EXPECT_EQ(
        std::vector<int>({pickBox(&d, 60, 60), pickBox(&d, 210, 190), firstBoxAt(&d, 40, 250), pickBox(&d, 40, 250)}),
        std::vector<int>({0, 1, 2, -1}));
    makeMovedPermanent(&d);
    EXPECT_EQ(where(b[1]), std::vector<int>({185, 185}));
    EXPECT_FALSE(boxMoved(b[1]));
    // A non-square box of odd sizes: each axis takes its own half size (toward zero) off its centre.
    MRCData e;
    addBoxes(&e, {{40, 30, 31, 12, 0}});
    BoxRecord& n = e.Boxes()[0];
    n.newx = 100, n.newy = 200;
    boxCorner(n, &x, &y);
    EXPECT_EQ(std::vector<int>({x, y}), std::vector<int>({85, 194}));
    EXPECT_EQ(std::vector<int>({pickBox(&e, 86, 195), pickBox(&e, 114, 205), pickBox(&e, 110, 206),
                                pickBox(&e, 115, 200), pickBox(&e, 41, 31)}),
              std::vector<int>({0, 0, -1, -1, -1}));
    makeMovedPermanent(&e);
    EXPECT_EQ(where(n), std::vector<int>({85, 194}));
}

TEST(Boxes, AlignAllToNewShiftsAndRotatesTheWholeSet) {
    {  // one moved box: its displacement, truncated, moves every box; no rotation
        MRCData d;
        addBoxes(&d, {{100, 100, 40, 40, 0}, {300, 50, 40, 40, 0}});
        d.Boxes()[0].newx = 127, d.Boxes()[0].newy = 117;  // corner 107: moved by +7, -3
        std::string out = captured([&] { EXPECT_EQ(alignAllToNew(&d), 1); });
        EXPECT_EQ(out, "Mean shift -7.000000,3.000000\nRotate 0.000000\nMean shift 0.000000,0.000000\n");
        EXPECT_EQ(where(d.Boxes()[1]), std::vector<int>({307, 47}));
        EXPECT_FALSE(boxMoved(d.Boxes()[0]));
    }
    {  // two boxes turned by 10 degrees about their centre turn every box with them
       // (box a crosses the -x axis seen from the centre: its angle jumps by 2 pi)
        MRCData d;
        addBoxes(&d, {{100, 100, 40, 40, 0}, {300, 100, 40, 40, 0}, {200, 250, 40, 40, 0}, {150, 40, 40, 40, 0}});
        const double t = 10 * M_PI / 180, c = std::cos(t), s = std::sin(t);
        auto turn = [&](double x, double y) {
            return std::make_pair(200 + (x - 200) * c - (y - 100) * s, 100 + (x - 200) * s + (y - 100) * c);
        };
        for (int i = 0; i < 2; i++) {
            auto n = turn(d.Boxes()[i].x, d.Boxes()[i].y);
            d.Boxes()[i].newx = (int)std::lround(n.first) + 20, d.Boxes()[i].newy = (int)std::lround(n.second) + 20;
        }
        std::string out = captured([&] { alignAllToNew(&d); });
        float sx, sy, rot;
        ASSERT_EQ(std::sscanf(out.c_str(), "Mean shift %f,%f\nRotate %f", &sx, &sy, &rot), 3) << out;
        EXPECT_LT(std::max(std::fabs(sx), std::fabs(sy)), 0.6);
        EXPECT_NEAR(rot, 10, 0.5);
        const int orig[4][2] = {{100, 100}, {300, 100}, {200, 250}, {150, 40}};
        for (int i = 0; i < 4; i++) {
            auto e = turn(orig[i][0], orig[i][1]);
            EXPECT_LT(std::max(std::fabs(d.Boxes()[i].x - e.first), std::fabs(d.Boxes()[i].y - e.second)), 2) << i;
            EXPECT_FALSE(boxMoved(d.Boxes()[i]));
        }
    }
    MRCData none;
    none.addBox(1, 2, 3, 4, "x", 0);
    EXPECT_EQ(captured([&] { EXPECT_EQ(alignAllToNew(&none), 0); }), "None of the boxes moved. Nothing to do.\n");
}

// G holds F's field moved by (+9, -5), and around one particle by (+12, -3):
// the copies must land on the same particles in G.
TEST(Boxes, CopyWithAlignFindsTheShiftWithItsSign) {
    Data F = fnData(640, 600, noise);
    Data G = fnData(640, 600, [](int x, int y) {
        const bool patch = x >= 180 && x < 300 && y >= 270 && y < 380;
        return patch ? noise(x - 12, y + 3) : noise(x - 9, y + 5);
    });
    // b: the locally moved particle; c: moved out of G's right edge; d: wider
    // than 308, correlated in 308 x 308; f: a filament is not copied.
    addBoxes(F.get(), {{100, 400, 64, 64, 0}, {200, 300, 64, 64, 0}, {580, 100, 64, 64, 0}});
    addBoxes(F.get(), {{40, 80, 400, 64, 0}, {50, 50, 80, 90, 12}});
    std::string out = captured([&] { EXPECT_EQ(copyBoxesWithAlign(F.get(), {G.get()}), 3); });
    EXPECT_EQ(out.rfind("Data set 1 shifted -9,5\n", 0), 0u) << out;
    EXPECT_NE(out.find("Box 3 lies outside data set 1: not copied\n"), std::string::npos);
    EXPECT_NE(out.find("1.000000,"), std::string::npos);
    ASSERT_EQ(G->nBoxes(), 3);
    const int want[3][4] = {{109, 395, 64, 64}, {212, 297, 64, 64}, {49, 75, 400, 64}};
    for (int i = 0; i < 3; i++) {
        const BoxRecord& b = G->Boxes()[i];
        EXPECT_EQ((std::vector<int>{b.x, b.y, b.xsize, b.ysize}), std::vector<int>(want[i], want[i] + 4)) << i;
        EXPECT_STREQ(b.name, "Test");
    }
    EXPECT_EQ(copyBoxesWithAlign(fnData(512, 700, noise).get(), {G.get()}), -1);
    EXPECT_EQ(std::vector<int>({foldShift(280, 560), foldShift(281, 560)}), std::vector<int>({280, -279}));
}

TEST(BoxDB, CoordinatesBeyondSixteenBitsAreRefusedNotWrapped) {
    TempDir t(true);
    const std::string f = "b.db";
    spit(f, "old");
    MRCData d;
    d.addBox(10, 20, 64, 64, "a_001.img", 0);
    d.addBox(40000, 5, 64, 64, "a_002.img", 0);
    EXPECT_EQ(d.Boxes()[1].x, 40000);  // held whole in memory
    std::string out = captured([&] { EXPECT_EQ(d.saveBoxDB(f.c_str()), 0); });
    EXPECT_EQ(out, "Box 2 (40000,5 64x64) does not fit in a box database file\n");
    EXPECT_EQ(slurp(f), "old");
    d.Boxes()[1].x = -32768;
    captured([&] { EXPECT_EQ(d.saveBoxDB(f.c_str()), 1); });
    EXPECT_NE(slurp(f).find("\n-32768 5 64 64 0 0 0 0 0 0 2 a_002.img\n"), std::string::npos);
}

// ------------------------------------------------------------------ pick files

TEST(Picks, StarReaderFindsColumnsByNameAndRefusesMalformedLines) {
    TempDir t(true);
    const std::string f = "p.star";
    // Text, and "x,y;..." of the corners (box 10 x 6) or the message after "FILE".
    const std::pair<const char*, const char*> cases[] = {
        {"data_\nloop_\n_rlnCoordinateX #1\n_rlnCoordinateY #2\n 100.0 200.0\n", "95,197;"},
        // other blocks, columns, comments, blank lines, quoted values, a named block
        {"# made elsewhere\ndata_optics\n_rlnImageSize 64\n\ndata_mic\n\nloop_\n_rlnClassNumber #1\n"
         "_rlnCoordinateY #2\n_rlnAnglePsi #3\n_rlnCoordinateX #4\n_rlnAutopickFigureOfMerit #5\n"
         "1 20.4 -5 30.6 'a b'\n\n2 0 90 0 0.5 # last\ndata_other\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n7 7\n",
         "26,17;-5,-3;"},
        {"data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n", ""},
        {"data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n1 2\n3\n", " line 6: 1 values for 2 columns"},
        {"data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\nnan 2\n", " line 5: coordinates are not pixel positions"},
        {"data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n-1 2\n", " line 5: coordinates are not pixel positions"},
        {"data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n1e300 2\n", " line 5: coordinates are not pixel positions"},
        {"data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n4x 2\n", " line 5: coordinates are not pixel positions"},
        {"data_\nloop_\n_rlnCoordinateX\n_rlnAngleRot\n1 2\n", ": no loop with _rlnCoordinateX and _rlnCoordinateY"},
        {"", ": no loop with _rlnCoordinateX and _rlnCoordinateY"},
    };
    for (auto [text, result] : cases) {
        spit(f, text);
        std::vector<Pick> p;
        int ok = 0;
        std::string out = captured([&] { ok = readStarPicks(f.c_str(), 10, 6, &p); });
        std::string got;
        for (const Pick& q : p) got += std::to_string(q.x) + "," + std::to_string(q.y) + ";";
        if (ok) {
            EXPECT_EQ(got, result) << text;
            for (const Pick& q : p) EXPECT_EQ(q.w * 100 + q.h, 1006);
        } else {
            EXPECT_EQ(out, f + result + "\n") << text;
        }
    }
    // Thousands of columns are refused; the reader's other bounds are tested with it.
    std::string many = "data_\nloop_\n";
    for (int i = 0; i < 1001; i++) many += "_c" + std::to_string(i) + "\n";
    spit(f, many);
    std::vector<Pick> p;
    EXPECT_EQ(captured([&] { EXPECT_EQ(readStarPicks(f.c_str(), 10, 6, &p), 0); }),
              f + " line 1003: too many columns\n");
}

TEST(Picks, ExportedFilesReadBackAndRelionReadsTheStarFile) {
    TempDir t(true);
    MRCData d;
    d.setFile("mic.mrc");
    addBoxes(&d, {{10, 20, 64, 48, 0}, {-3, 500, 64, 48, 0}, {1, 1, 80, 90, 12}});
    for (const char* ext : {".star", ".box"}) {
        const std::string f = std::string("p") + ext;
        int left = -1;
        captured([&] { EXPECT_EQ(exportPicks(&d, f.c_str(), &left), 2); });
        EXPECT_EQ(left, 1);
        MRCData e;
        e.setFile("other.mrc");
        captured([&] { EXPECT_EQ(importPicks(&e, f.c_str(), 64, 48), 2); });
        ASSERT_EQ(e.nBoxes(), 2);
        for (int i = 0; i < 2; i++) {
            const BoxRecord &b = e.Boxes()[i], &o = d.Boxes()[i];
            EXPECT_EQ(std::vector<int>({b.x, b.y, b.xsize, b.ysize}), std::vector<int>({o.x, o.y, 64, 48})) << ext;
        }
        EXPECT_STREQ(e.Boxes()[1].name, "other_002.img");
    }
    EXPECT_EQ(slurp("p.box"), "10\t20\t64\t48\n-3\t500\t64\t48\n");
    spit("bad.box", "1 2 3 4\n\n5\t6\t7\n");
    std::vector<Pick> p;
    EXPECT_EQ(captured([&] { readBoxPicks("bad.box", &p); }), "bad.box line 3: expected x, y, width and height\n");
    if (runCommand("command -v relion_star_printtable >/dev/null") != 0)
        GTEST_SKIP() << "relion_star_printtable is not installed";
    std::string listed;
    ASSERT_EQ(runCommand("relion_star_printtable p.star data_ rlnCoordinateX rlnCoordinateY", &listed), 0);
    EXPECT_EQ(listed, "42.000000 44.000000\n29.000000 524.000000\n");
}

TEST(Picks, ProcConvertsBetweenTheThreeFormats) {
    TempDir t(true);
    spit("in.star", "data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n100 200\n40 40\n");
    spit("bad.star", "data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n1\n");
    std::string out;
    // Boxes are named after the input file without its folder.
    EXPECT_EQ(runProc(t.path, "picks '" + t.file("in.star") + "' a.db --size 64,32", &out), 0);
    EXPECT_EQ(out, "2 boxes written to a.db\n");
    EXPECT_NE(slurp("a.db").find("\n68 184 64 32 0 0 0 0 0 0 2 in.star_001.img\n8 24 64 32"), std::string::npos);
    EXPECT_EQ(runProc(t.path, "picks a.db b.box --size 20"), 0);  // re-sized about the centres
    EXPECT_EQ(slurp("b.box"), "90\t190\t20\t20\n30\t30\t20\t20\n");
    EXPECT_NE(runProc(t.path, "picks in.star c.box"), 0);  // centres need a size
    EXPECT_NE(slurp("stderr.txt").find("give the box size with --size"), std::string::npos);
    EXPECT_NE(runProc(t.path, "picks bad.star c.box --size 8"), 0);
    EXPECT_NE(slurp("stderr.txt").find("bad.star line 5: 1 values for 2 columns"), std::string::npos);
    EXPECT_NE(access("c.box", F_OK), 0);
}
