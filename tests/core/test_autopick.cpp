// Automatic picking on synthetic cryo micrographs with known centres: precision
// and recall over sizes, pixel sizes, signal-to-noise ratios and contrasts;
// blank micrographs, particles at the edge and at the minimum distance,
// contamination, a second larger kind of blob; bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/fileutil.h"
#include "pick/autopick.h"
#include "tests/core/pick_synth.h"

namespace {

// A pick counts within 0.2 diameters of a true centre.
double tolerance(const PickSynth& s) {
    return 0.2 * s.diameter / s.pixel;
}

// Template from the boxes about the first n true centres, as the workbench
// makes it from boxes already on the micrograph.
AutopickParams templateFromTruth(const PickSynthImage& m, const PickSynth& s, AutopickParams p, int n) {
    p.mode = AUTOPICK_TEMPLATE;
    const int box = autopick_box_size(p);
    std::vector<Pick> boxes;
    for (int i = 0; i < n && i < (int)m.truth.size(); i++)
        boxes.push_back({(int)std::lround(m.truth[i].x) - box / 2, (int)std::lround(m.truth[i].y) - box / 2, box, box});
    p.templNx = p.templNy = box;
    EXPECT_EQ(autopick_template_from_boxes(m.pixels.data(), s.nx, s.ny, boxes, box, &p.templ), n);
    return p;
}

struct AccuracyCase {
    const char* name;
    int nx, ny;
    float pixel, diameter, snr;
    bool bright;
    int mode;          // template: from 20 true picks
    float threshold;   // 0: the default
    float minPrecision, minRecall;
    unsigned seed;
};

// Every micrograph has 80 particles and two or three contamination blobs 3-6
// diameters across. The per-pixel ratio grows with the pixel area for the
// same dose: 0.1 at 3 A is about 0.03 at 1.5 A.
const AccuracyCase kAccuracy[] = {
    {"dark_2048_1p5A_snr0p03", 2048, 2048, 1.5f, 150, 0.03f, false, AUTOPICK_BLOB, 0, 0.95f, 0.95f, 1},
    {"bright_2048x1536_1A_snr0p03", 2048, 1536, 1.0f, 120, 0.03f, true, AUTOPICK_BLOB, 0, 0.95f, 0.95f, 2},
    {"dark_odd_sizes_2A_snr0p03", 1846, 2030, 2.0f, 200, 0.03f, false, AUTOPICK_BLOB, 0, 0.95f, 0.95f, 3},
    {"dark_1024_3A_snr0p1", 1024, 1024, 3.0f, 150, 0.1f, false, AUTOPICK_BLOB, 0, 0.95f, 0.95f, 4},
    {"dark_2048_2A_snr0p5", 2048, 2048, 2.0f, 250, 0.5f, false, AUTOPICK_BLOB, 0, 0.95f, 0.95f, 5},
    // At 0.01 a lower threshold: particles score 3-6 noise units there.
    {"dark_2048_1p5A_snr0p01_template", 2048, 2048, 1.5f, 150, 0.01f, false, AUTOPICK_TEMPLATE, 3.75f, 0.9f, 0.9f, 6},
    {"dark_2048_1p5A_snr0p01_blob", 2048, 2048, 1.5f, 150, 0.01f, false, AUTOPICK_BLOB, 3.25f, 0.88f, 0.88f, 6},
};

class AutopickAccuracy : public testing::TestWithParam<AccuracyCase> {};

TEST_P(AutopickAccuracy, PrecisionAndRecall) {
    const AccuracyCase& k = GetParam();
    PickSynth s;
    s.nx = k.nx, s.ny = k.ny, s.pixel = k.pixel, s.diameter = k.diameter, s.snr = k.snr, s.bright = k.bright;
    s.contamination = 2 + k.seed % 2, s.seed = k.seed;
    const PickSynthImage m = pick_synth(s);
    AutopickParams p;
    p.diameter = k.diameter, p.pixel = k.pixel, p.invert = k.bright;
    if (k.threshold > 0) p.threshold = k.threshold;
    if (k.mode == AUTOPICK_TEMPLATE) p = templateFromTruth(m, s, p, 20);
    std::vector<AutoPick> picks;
    ASSERT_EQ(autopick(m.pixels.data(), s.nx, s.ny, p, &picks), 1);
    const PickScore sc = pick_score(picks, m.truth, tolerance(s));
    std::printf("%-34s truth %3d picks %3d hits %3d precision %.3f recall %.3f on contamination %d\n", k.name,
                sc.truth, sc.picks, sc.hits, sc.precision(), sc.recall(), pick_on_contamination(picks, m, 0));
    EXPECT_GE(sc.precision(), k.minPrecision);
    EXPECT_GE(sc.recall(), k.minRecall);
    EXPECT_EQ(pick_on_contamination(picks, m, s.diameter / s.pixel / 2), 0);
    // Best first, boxes of the default size inside the micrograph.
    const int box = autopick_box_size(p);
    for (size_t i = 0; i < picks.size(); i++) {
        const AutoPick& a = picks[i];
        if (i) {
            EXPECT_LE(a.score, picks[i - 1].score);
        }
        EXPECT_EQ(a.box.w, box);
        EXPECT_EQ(a.box.h, box);
        EXPECT_TRUE(a.box.x >= 0 && a.box.y >= 0 && a.box.x + box <= s.nx && a.box.y + box <= s.ny);
        EXPECT_EQ(a.box.x, (int)std::floor(a.x + 0.5) - box / 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Micrographs, AutopickAccuracy, testing::ValuesIn(kAccuracy),
                         [](const testing::TestParamInfo<AccuracyCase>& i) { return std::string(i.param.name); });

}  // namespace

namespace {

PickSynthImage quiet(PickSynth s) {
    s.particles = 0, s.contamination = 0;
    return pick_synth(s);
}

// A template from a clear micrograph of the same particle, for the cases that
// have none of their own.
AutopickParams clearTemplate(float pixel, float diameter) {
    PickSynth s;
    s.nx = s.ny = 1024, s.pixel = pixel, s.diameter = diameter, s.snr = 0.5f, s.particles = 25, s.contamination = 0;
    AutopickParams p;
    p.pixel = pixel, p.diameter = diameter;
    return templateFromTruth(pick_synth(s), s, p, 20);
}

}  // namespace

// Noise and an ice gradient only: nothing reaches the default threshold, in
// either mode, at any size; a constant image has no noise at all.
TEST(Autopick, BlankMicrographsGiveNoPicks) {
    struct Case {
        int nx, ny, mode;
        unsigned seed;
    } cases[] = {{2048, 2048, AUTOPICK_BLOB, 1}, {1846, 1024, AUTOPICK_BLOB, 2}, {2048, 2048, AUTOPICK_TEMPLATE, 3}};
    const AutopickParams withTemplate = clearTemplate(1.5f, 150);
    for (const Case& c : cases) {
        PickSynth s;
        s.nx = c.nx, s.ny = c.ny, s.seed = c.seed;
        const PickSynthImage m = quiet(s);
        AutopickParams p = c.mode == AUTOPICK_TEMPLATE ? withTemplate : AutopickParams();
        p.pixel = 1.5f, p.diameter = 150;
        std::vector<AutoPick> picks;
        ASSERT_EQ(autopick(m.pixels.data(), c.nx, c.ny, p, &picks), 1);
        EXPECT_EQ(picks.size(), 0u) << c.nx << "x" << c.ny << " mode " << c.mode << ": best " << picks[0].score;
    }
    std::vector<float> flat(512 * 512, 3.0f);
    AutopickParams p;
    p.pixel = 2, p.diameter = 100;
    AutopickCandidates c;
    ASSERT_EQ(autopick_candidates(flat.data(), 512, 512, p, &c), 1);
    EXPECT_TRUE(c.list.empty());
}

// Particles whose boxes just fit are found; boxes that would cross the edge
// are never made.
TEST(Autopick, ParticlesAtTheEdgeAreFoundAndBoxesStayInside) {
    PickSynth s;
    s.nx = s.ny = 1024, s.pixel = 2, s.diameter = 150, s.snr = 0.1f, s.contamination = 0, s.particles = 16;
    s.box = 120, s.edgeGap = 6;  // centres 61-67 pixels from an edge; the picker's boxes are 114 pixels
    const PickSynthImage m = pick_synth(s);
    ASSERT_GE(m.truth.size(), 12u);
    AutopickParams p;
    p.pixel = 2, p.diameter = 150;
    std::vector<AutoPick> picks;
    ASSERT_EQ(autopick(m.pixels.data(), s.nx, s.ny, p, &picks), 1);
    const PickScore sc = pick_score(picks, m.truth, tolerance(s));
    EXPECT_GE(sc.recall(), 0.95) << sc.hits << " of " << sc.truth;
    EXPECT_GE(sc.precision(), 0.95) << sc.hits << " of " << sc.picks;
    // A box of 160 no longer fits about those centres.
    p.boxSize = 160;
    ASSERT_EQ(autopick(m.pixels.data(), s.nx, s.ny, p, &picks), 1);
    for (const AutoPick& a : picks) {
        EXPECT_TRUE(a.box.x >= 0 && a.box.y >= 0 && a.box.x + 160 <= s.nx && a.box.y + 160 <= s.ny);
        EXPECT_EQ(pick_score(std::vector<AutoPick>{a}, m.truth, tolerance(s)).hits, 0) << a.x << "," << a.y;
    }
}

// The filter keeps the better of two candidates closer than the minimum
// distance, and both at exactly that distance; a candidate dropped this way
// drops nothing else.
TEST(Autopick, MinimumDistanceKeepsTheBetterOfTwo) {
    AutopickCandidates c;
    c.nx = c.ny = 1000;
    c.params.pixel = 1, c.params.diameter = 100;
    const float d = 90;  // 0.9 diameters
    c.list = {{500, 500, 9, false}, {500 + d, 500, 8, false}, {500, 500 + d - 0.5f, 7, false},
              {540, 649.5f, 6, false}, {200, 200, 5, true},      {300, 300, 4, false}};
    AutopickParams p = c.params;
    p.threshold = 0;
    std::vector<AutoPick> picks;
    autopick_filter(c, p, &picks);
    std::vector<float> scores;
    for (const AutoPick& a : picks) scores.push_back(a.score);
    // 7 lies closer than d to 9; 6 only to 7, which is gone; 5 is an outlier.
    EXPECT_EQ(scores, (std::vector<float>{9, 8, 6, 4}));
    p.minDistance = 200;
    autopick_filter(c, p, &picks);
    EXPECT_EQ(picks.size(), 2u);  // 9 and 4
    p.threshold = 6.5f, p.minDistance = 0;
    autopick_filter(c, p, &picks);
    EXPECT_EQ(picks.size(), 2u);  // 9 and 8: 7 is near 9, 6 below the threshold
}

// Particles a diameter apart are both found; particles half a diameter apart
// (one on top of the other) once.
TEST(Autopick, NeighboursAtTheMinimumDistanceAndCloser) {
    PickSynth s;
    s.nx = s.ny = 1024, s.pixel = 2, s.diameter = 150, s.snr = 0.3f, s.contamination = 0;
    const float D = 75;  // pixels
    s.at = {{300, 300}, {300 + D, 300}, {700, 700}, {700 + D / 2, 700}};
    const PickSynthImage m = pick_synth(s);
    AutopickParams p;
    p.pixel = 2, p.diameter = 150, p.minDistance = 0.9f * 150;
    std::vector<AutoPick> picks;
    ASSERT_EQ(autopick(m.pixels.data(), s.nx, s.ny, p, &picks), 1);
    int nearA = 0, nearB = 0;
    for (const AutoPick& a : picks) {
        nearA += std::hypot(a.x - (300 + D / 2), a.y - 300) < D;
        nearB += std::hypot(a.x - (700 + D / 4), a.y - 700) < D;
    }
    EXPECT_EQ(nearA, 2);
    EXPECT_EQ(nearB, 1);
    EXPECT_EQ(pick_score(picks, std::vector<PickCircle>(m.truth.begin(), m.truth.begin() + 2), 0.2 * D).hits, 2);
    EXPECT_EQ(picks.size(), 3u);
}
