// The correlation and alignment commands of the CTF menu.
#include <unistd.h>

#include "tests/gui/gui_testutil.h"

namespace {

using P = std::pair<double, double>;
using Spots = std::vector<P>;

// Gaussian spots (sigma 2, height 1 + index / 4) on a flat field of 1, drawn
// here from their centres.
MRCData* spots(int n, const Spots& c, const char* name) {
    return image(
        n, n,
        [&](int x, int y) {
            double v = 1;
            for (size_t s = 0; s < c.size(); s++)
                v += (1 + s / 4.0) * std::exp(-(std::pow(x - c[s].first, 2) + std::pow(y - c[s].second, 2)) / 8);
            return (float)v;
        },
        name);
}

// Spots moved by (dx, dy) and turned by deg degrees (counter-clockwise) about the image centre.
Spots moved(int n, const Spots& c, double dx, double dy, double deg = 0) {
    const double m = (n - 1) / 2.0, t = deg * M_PI / 180;
    Spots o;
    for (auto& p : c) {
        const double u = p.first - m, w = p.second - m;
        o.push_back({m + u * std::cos(t) - w * std::sin(t) + dx, m + u * std::sin(t) + w * std::cos(t) + dy});
    }
    return o;
}

// Centroid of the values above the field within 5 pixels of p.
P centroid(MRCData* d, P p) {
    double s = 0, sx = 0, sy = 0;
    for (int y = (int)p.second - 5; y <= (int)p.second + 5; y++)
        for (int x = (int)p.first - 5; x <= (int)p.first + 5; x++) {
            const double w = d->valueAt(x, y) - 1;
            s += w, sx += w * x, sy += w * y;
        }
    return {sx / s, sy / s};
}

// Both coordinates of a within tol of b.
void expectNear(P a, P b, double tol) {
    EXPECT_NEAR(a.first, b.first, tol) << "x of " << b.first << "," << b.second;
    EXPECT_NEAR(a.second, b.second, tol) << "y of " << b.first << "," << b.second;
}

const Spots kSpots = {{40, 50}, {60, 33}, {52, 70}, {75, 58}};
const char* kTwoOrThree = "message: Please select 2 or 3 data sets to work with||";

}  // namespace

TEST(CtfAlign, TransAlignMovesTheSecondImageOntoTheFirst) {
    fresh({spots(96, kSpots, "a"), spots(96, moved(96, kSpots, 5, -3), "b"), spots(96, moved(96, kSpots, -4, 2), "c")},
          {1, 2, 3});
    menu_run("CTF", "Trans. Align");
    ASSERT_EQ(count(current_group()), 3);
    for (int i : {1, 2}) {
        expectNear(centroid(at(i), {60, 33}), {60, 33}, 0.2);
        EXPECT_NEAR(at(i)->Mean(), at(0)->Mean(), 0.02) << i;  // statistics of the moved pixels
    }
    // Rot/Trans moves by what it is told.
    select_images({1});
    dlg_push_text("5,-3,0");
    menu_run("CTF", "Rot/Trans");
    ASSERT_EQ(count(current_group()), 4);
    expectNear(centroid(at(3), {65, 30}), {65, 30}, 0.1);
    EXPECT_EQ(busy_depth(), 0);
}

TEST(CtfAlign, RcfReportsAndRotAlignUndoesAKnownRotation) {
    ASSERT_EQ(chdir(shell_tmpdir().c_str()), 0);  // where the ring correlation leaves test.rcf.dat
    const Spots s = {{64, 90}, {30, 60}, {95, 50}, {70, 28}};
    fresh({spots(128, s, "a"), spots(128, moved(128, s, 0, 0, 10), "b")}, {1, 2});
    menu_run("CTF", "RCF");
    ASSERT_EQ(dlg_log().size(), 1u);
    float deg = 0;
    ASSERT_EQ(std::sscanf(dlg_log()[0].c_str(), "message: The data sets are misaligned by %f degrees.||", &deg), 1)
        << dlg_log()[0];
    EXPECT_NEAR(deg, -10, 0.7);
    menu_run("CTF", "Rot. Align");
    ASSERT_EQ(count(current_group()), 4);
    // a turned by -deg/2 and b by +deg/2 meet halfway, 5 degrees on from a.
    for (auto& p : moved(128, s, 0, 0, 5)) {
        const P ca = centroid(at(2), p);
        expectNear(ca, p, 0.6);
        expectNear(centroid(at(3), p), ca, 0.4);
    }
}

TEST(CtfAlign, AlignRtOfFourAlignsEachToTheLastInPlace) {
    ASSERT_EQ(chdir(shell_tmpdir().c_str()), 0);  // where the ring correlation leaves test.rcf.dat
    const Spots s = {{64, 90}, {30, 60}, {95, 50}, {70, 28}, {45, 40}, {85, 80}, {40, 85}, {90, 35}};
    fresh({spots(128, moved(128, s, 3, -2, 4), "a"), spots(128, moved(128, s, -2, 4), "b"),
           spots(128, moved(128, s, 0, 0, -4), "c"), spots(128, s, "last")},
          {1, 2, 3, 4});
    MRCData* first = at(0);
    menu_run("CTF", "Align RT");
    ASSERT_EQ(count(current_group()), 4);
    EXPECT_NE(at(0), first);  // replaced by its aligned copy
    // Within what a CCF peak and a ring correlation find (some tenths of a
    // pixel and of a degree); before, the spots were 3 to 5 pixels off.
    for (int i = 0; i < 3; i++)
        for (auto& p : s) {
            const P c = centroid(at(i), p);
            EXPECT_LT(std::hypot(c.first - p.first, c.second - p.second), 1.6) << i;
        }
}

TEST(CtfAlign, SelfCorrelationCentringOriginShiftAndRefusals) {
    fresh({spots(96, {{50, 51}}, "blob"), spots(96, kSpots, "b"), spots(40, kSpots, "small"),
           spots(40, kSpots, "small2"), spots(96, kSpots, "d"), spots(96, kSpots, "e")});
    menu_run("CTF", "ACF");
    ASSERT_EQ(count(current_group()), 7);
    EXPECT_STREQ(at(6)->Name(), "CCF");
    std::string out = said([] { menu_run("CTF", "Center (center)"); });
    EXPECT_NE(out.find("translate -2.500000 -3.500000\n"), std::string::npos) << out;  // (47.5, 47.5) - (50, 51)
    ASSERT_EQ(count(current_group()), 8);
    expectNear(centroid(at(7), {48, 48}), {47.5, 47.5}, 0.1);  // on the image centre
    // At the corner: the spot's centre on pixel (0, 0), the field where it was.
    menu_run("CTF", "Center (corner)");
    ASSERT_EQ(count(current_group()), 9);
    EXPECT_NEAR(at(8)->valueAt(0, 0), 2, 0.05);
    EXPECT_NEAR(at(8)->valueAt(50, 51), 1, 0.01);
    const float corner = at(0)->valueAt(48, 48);
    menu_run("CTF", "Phase Origin Shift");
    EXPECT_EQ(at(0)->valueAt(0, 0), corner);
    // Centring with rotational alignment warns that it is not right, and appends both.
    select_images({2, 5});
    menu_run("CTF", "Center + Ali RT");
    EXPECT_EQ(dlg_log(), std::vector<std::string>{"message: WARNING|This routine doesn't work right.|"});
    ASSERT_EQ(count(current_group()), 11);
    // Four images, one image, and images too small for a ring of radius 12.
    // clang-format off
    struct { std::vector<int> lines; const char* label; const char* msg; } refused[] = {
        {{1, 2, 5, 6}, "CCF", kTwoOrThree}, {{2}, "Trans. Align", kTwoOrThree},
        {{3, 4}, "RCF",
         "message: The images are too small for a rotational alignment:|no ring of radius 12 fits inside them.|"},
        // clang-format on
    };
    for (auto& r : refused) {
        dlg_clear();
        select_images(r.lines);
        menu_run("CTF", r.label);
        EXPECT_EQ(dlg_log(), std::vector<std::string>{r.msg}) << r.label;
        EXPECT_EQ(count(current_group()), 11);
    }
    EXPECT_EQ(busy_depth(), 0);
}

namespace {
double rmsDiff(MRCData* a, MRCData* b) {
    double s = 0;
    for (int k = 0; k < a->xSize() * a->ySize(); k++) s += std::pow(a->getRealData()[k] - b->getRealData()[k], 2);
    return std::sqrt(s / (a->xSize() * a->ySize()));
}
}  // namespace

// Step 1 on three selected images: normalized in place, aligned to one
// another ("Align RT" appends them) and the aligned ones transformed, energy
// kept (Parseval); the other images of the group stay as they were.
TEST(CtfAlign, Step1NormalizesAlignsAndTransformsTheSelectedImages) {
    ASSERT_EQ(chdir(shell_tmpdir().c_str()), 0);
    setenvf("extfft", 0);
    const Spots s = {{64, 90}, {30, 60}, {95, 50}, {70, 28}, {45, 40}, {85, 80}};
    fresh({spots(128, s, "x"), spots(128, s, "a"), spots(128, moved(128, s, 3, -2), "b"),
           spots(128, moved(128, s, -2, 3, 3), "c"), spots(128, s, "y")},
          {2, 3, 4});
    // Differences before, in units of the images' deviations (what normalizing makes 1).
    const double apart = rmsDiff(at(1), at(2)) / at(2)->Sigma(), apart3 = rmsDiff(at(1), at(3)) / at(3)->Sigma();
    const double field = at(0)->Mean();
    menu_run("CTF", "Step 1");
    ASSERT_EQ(count(current_group()), 11);
    EXPECT_TRUE(at(0)->Mean() == field && at(4)->Mean() == field);
    for (int i = 1; i < 4; i++) EXPECT_TRUE(std::fabs(at(i)->Mean()) < 1e-4 && std::fabs(at(i)->Sigma() - 1) < 1e-3);
    EXPECT_LT(rmsDiff(at(5), at(6)), apart / 4);
    EXPECT_LT(rmsDiff(at(5), at(7)), apart3 / 4) << apart3;
    for (int i = 8; i < 11; i++) {
        MRCData* F = at(i);
        ASSERT_TRUE(F->isComplex() && F->xSize() == 130);
        double e = 0, img = 0;
        for (int r = 0; r < 128; r++)
            for (int h = 0; h <= 64; h++)
                e += (h == 0 || h == 64 ? 1 : 2) * std::pow(F->getRealData()[r * 130 + 2 * h], 2);
        for (int k = 0; k < 128 * 128; k++) img += std::pow(at(i - 3)->getRealData()[k], 2);
        EXPECT_NEAR(e, img, 1e-3 * img) << i;
    }
}
