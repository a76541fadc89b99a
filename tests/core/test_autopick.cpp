// Automatic picking on synthetic cryo micrographs with known centres: precision
// and recall over sizes, pixel sizes, signal-to-noise ratios and contrasts;
// blank micrographs, particles at the edge and at the minimum distance,
// contamination, a second larger kind of blob; bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/MRCData.h"
#include "core/fileutil.h"
#include "pick/autopick.h"
#include "tests/core/pick_synth.h"
#include "tests/core/tempdir.h"
#include "tests/core/testutil.h"

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
    int mode;         // template: from 20 true picks
    float threshold;  // 0: the default
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
    std::printf("%-34s truth %3d picks %3d hits %3d precision %.3f recall %.3f on contamination %d\n", k.name, sc.truth,
                sc.picks, sc.hits, sc.precision(), sc.recall(), pick_on_contamination(picks, m, 0));
    EXPECT_GE(sc.precision(), k.minPrecision);
    EXPECT_GE(sc.recall(), k.minRecall);
    EXPECT_EQ(pick_on_contamination(picks, m, s.diameter / s.pixel / 2), 0);
    // Best first, boxes of the default size inside the micrograph.
    const int box = autopick_box_size(p);
    for (size_t i = 0; i < picks.size(); i++) {
        const AutoPick& a = picks[i];
        EXPECT_LE(a.score, picks[i ? i - 1 : 0].score);
        EXPECT_TRUE(a.box.w == box && a.box.h == box && a.box.x == (int)std::floor(a.x + 0.5) - box / 2);
        EXPECT_TRUE(a.box.x >= 0 && a.box.y >= 0 && a.box.x + box <= s.nx && a.box.y + box <= s.ny);
    }
}

INSTANTIATE_TEST_SUITE_P(Micrographs, AutopickAccuracy, testing::ValuesIn(kAccuracy),
                         [](const testing::TestParamInfo<AccuracyCase>& i) { return std::string(i.param.name); });

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
    c.list = {{500, 500, 9, false},    {500 + d, 500, 8, false}, {500, 500 + d - 0.5f, 7, false},
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

// Round blobs 2.4 diameters across fool the blob detector (their rims look
// like particles to it); the template of the real particle tells them apart.
TEST(Autopick, TemplateModeIsNotFooledByALargerKindOfBlob) {
    PickSynth s;
    s.particles = 50, s.decoys = 20, s.seed = 2;
    const PickSynthImage m = pick_synth(s);
    ASSERT_GE(m.decoys.size(), 12u);
    PickSynthImage decoys;
    decoys.contam = m.decoys;  // counted as picks "on" them
    AutopickParams p;
    p.pixel = s.pixel, p.diameter = s.diameter;
    std::vector<AutoPick> blob, templ;
    ASSERT_EQ(autopick(m.pixels.data(), s.nx, s.ny, p, &blob), 1);
    ASSERT_EQ(autopick(m.pixels.data(), s.nx, s.ny, templateFromTruth(m, s, p, 20), &templ), 1);
    const PickScore b = pick_score(blob, m.truth, tolerance(s)), t = pick_score(templ, m.truth, tolerance(s));
    EXPECT_GE(pick_on_contamination(blob, decoys, 0), 8);
    EXPECT_LT(b.precision(), 0.85);
    EXPECT_EQ(pick_on_contamination(templ, decoys, 0), 0);
    EXPECT_GE(t.precision(), 0.95);
    EXPECT_GE(t.recall(), 0.95);
}

// The threshold, distance and box of the filter act on candidates that do not
// depend on them: filtering cached candidates is picking afresh. Contamination
// is a real trap: without rejection its edges are picked.
TEST(Autopick, FilteringCachedCandidatesIsPickingAfreshAndContaminationIsLeftOut) {
    PickSynth s;
    s.nx = s.ny = 1024, s.pixel = 2, s.diameter = 150, s.snr = 0.1f, s.particles = 20, s.contamination = 3, s.seed = 9;
    const PickSynthImage m = pick_synth(s);
    AutopickParams p;
    p.pixel = 2, p.diameter = 150;
    AutopickCandidates c;
    ASSERT_EQ(autopick_candidates(m.pixels.data(), s.nx, s.ny, p, &c), 1);
    for (size_t i = 1; i < c.list.size(); i++) ASSERT_LE(c.list[i].score, c.list[i - 1].score);
    struct Filter {
        float threshold, minDistance;
        int box;
    } filters[] = {{3, 0, 0}, {5, 0, 0}, {8, 0, 0}, {4, 300, 0}, {4, 0, 300}};
    for (const Filter& f : filters) {
        AutopickParams q = p;
        q.threshold = f.threshold, q.minDistance = f.minDistance, q.boxSize = f.box;
        std::vector<AutoPick> cached, fresh;
        autopick_filter(c, q, &cached);
        ASSERT_EQ(autopick(m.pixels.data(), s.nx, s.ny, q, &fresh), 1);
        ASSERT_EQ(cached.size(), fresh.size()) << f.threshold << " " << f.minDistance << " " << f.box;
        for (size_t i = 0; i < cached.size(); i++)
            EXPECT_TRUE(cached[i].x == fresh[i].x && cached[i].box.x == fresh[i].box.x &&
                        cached[i].score >= f.threshold);
        EXPECT_TRUE(autopick_same_response(c.params, q));
    }
    // A response of other parameters is not reused.
    for (auto change : {+[](AutopickParams* q) { q->diameter = 151; }, +[](AutopickParams* q) { q->invert = true; },
                        +[](AutopickParams* q) { q->rejectOutliers = false; }}) {
        AutopickParams q = p;
        change(&q);
        EXPECT_FALSE(autopick_same_response(c.params, q));
    }
    std::vector<AutoPick> with, without;
    autopick_filter(c, p, &with);
    p.rejectOutliers = false;
    ASSERT_EQ(autopick(m.pixels.data(), s.nx, s.ny, p, &without), 1);
    EXPECT_EQ(pick_on_contamination(with, m, 37.5), 0);
    EXPECT_GE(pick_on_contamination(without, m, 0), 3);
}

// Input the picker cannot use: a message, 0, no picks.
TEST(Autopick, BadInputIsRefusedWithItsReason) {
    std::vector<float> img(400 * 300, 1.0f);
    img[7] = 2;
    struct Case {
        const char* what;
        void (*apply)(AutopickParams*, std::vector<float>*);
        const char* message;
    } cases[] = {
        {"no pixel", [](AutopickParams* p, std::vector<float>*) { p->pixel = 0; },
         "Auto pick: the micrograph has no pixel size\n"},
        {"no diameter", [](AutopickParams* p, std::vector<float>*) { p->diameter = 0; },
         "Auto pick: the particle diameter must be a positive number of Angstrom\n"},
        {"tiny", [](AutopickParams* p, std::vector<float>*) { p->diameter = 7; },
         "Auto pick: a 7 A particle is only 3.5 pixels of 2 A across; at least 4 are needed\n"},
        {"too large", [](AutopickParams* p, std::vector<float>*) { p->diameter = 320; },
         "Auto pick: a 320 A particle (160 pixels, box 240) does not fit a 400 x 300 micrograph\n"},
        {"box too large", [](AutopickParams* p, std::vector<float>*) { p->boxSize = 301; },
         "Auto pick: a 100 A particle (50 pixels, box 301) does not fit a 400 x 300 micrograph\n"},
        {"negative threshold", [](AutopickParams* p, std::vector<float>*) { p->threshold = -1; },
         "Auto pick: threshold and minimum distance must not be negative\n"},
        {"no template", [](AutopickParams* p, std::vector<float>*) { p->mode = AUTOPICK_TEMPLATE; },
         "Auto pick: template mode needs a template\n"},
        {"template too large",
         [](AutopickParams* p, std::vector<float>*) {
             p->mode = AUTOPICK_TEMPLATE, p->templNx = 401, p->templNy = 60, p->templ.assign(401 * 60, 0.0f);
         },
         "Auto pick: the template (401 x 60) is larger than the micrograph (400 x 300)\n"},
        {"template too small",
         [](AutopickParams* p, std::vector<float>*) {
             p->mode = AUTOPICK_TEMPLATE, p->templNx = 24, p->templNy = 24, p->templ.assign(24 * 24, 0.0f);
         },
         "Auto pick: the template (24 x 24) is smaller than half the particle (50 pixels)\n"},
        {"not a number", [](AutopickParams*, std::vector<float>* i) { (*i)[1234] = std::nanf(""); },
         "Auto pick: the micrograph holds values that are not numbers\n"},
    };
    for (const Case& c : cases) {
        AutopickParams p;
        p.pixel = 2, p.diameter = 100;
        std::vector<float> im = img;
        c.apply(&p, &im);
        std::vector<AutoPick> picks(3);
        EXPECT_EQ(captured([&] { EXPECT_EQ(autopick(im.data(), 400, 300, p, &picks), 0) << c.what; }), c.message);
        EXPECT_TRUE(picks.empty()) << c.what;
    }
}

// The template of boxes is the rotational average of their mean: boxes of a
// pattern f(r) (1 + cos(theta - phi)) at different angles phi give f(r),
// less the boxes' mean, whatever the angles. Boxes past the edge are left out.
TEST(Autopick, TemplateFromBoxesIsTheirRotationalAverage) {
    const int N = 400, S = 64;
    auto f = [](double r) { return std::exp(-r * r / (2 * 9.0 * 9.0)); };
    std::vector<float> img((size_t)N * N, 0.0f);
    const int centres[][2] = {{60, 60}, {200, 80}, {320, 300}, {100, 250}, {250, 200}};
    for (int k = 0; k < 5; k++) {
        const double phi = 1.3 * k;
        for (int y = -S / 2 - 8; y <= S / 2 + 8; y++)
            for (int x = -S / 2 - 8; x <= S / 2 + 8; x++) {
                const double r = std::hypot((double)x, (double)y), th = std::atan2((double)y, (double)x);
                img[(size_t)(centres[k][1] + y) * N + centres[k][0] + x] += (float)(f(r) * (1 + std::cos(th - phi)));
            }
    }
    std::vector<Pick> boxes;
    for (auto& c : centres) boxes.push_back({c[0] - 10, c[1] - 10, 20, 20});
    boxes.push_back({N - 30, 5, 20, 20});  // its S x S box would cross the edge
    std::vector<float> t;
    ASSERT_EQ(autopick_template_from_boxes(img.data(), N, N, boxes, S, &t), 5);
    ASSERT_EQ(t.size(), (size_t)S * S);
    // Minus the mean over the box, which the oracle takes from f alone.
    double mean = 0;
    for (int y = 0; y < S; y++)
        for (int x = 0; x < S; x++) mean += f(std::hypot(x - S / 2.0, y - S / 2.0));
    mean /= S * S;
    for (int y = 0; y < S; y += 3)
        for (int x = 0; x < S; x += 3) {
            const double r = std::hypot((double)(x - S / 2), (double)(y - S / 2));
            EXPECT_NEAR(t[(size_t)y * S + x], f(r) - mean, 0.02) << x << "," << y;
        }
    std::vector<float> untouched = {1, 2};
    EXPECT_EQ(autopick_template_from_boxes(img.data(), N, N, {{N - 30, 5, 20, 20}}, S, &untouched), 0);
    EXPECT_EQ(untouched.size(), 2u);
}

// Automatic boxes replace the earlier automatic ones, and keep the boxes cut by
// hand and the automatic ones moved by hand; their name survives a box database.
TEST(Autopick, AutomaticBoxesReplaceOnlyTheirOwnKind) {
    MRCData d;
    std::vector<float> img(300 * 300, 0.0f);
    d.setRealData(img.data(), 300, 300, 1);
    d.setFile("mic.mrc");
    d.addBox(10, 10, 50, 50, "mic_001.img", 0);
    d.addBox(100, 100, 50, 50, kAutopickBoxName, 0);
    d.addBox(150, 100, 50, 50, kAutopickBoxName, 0);
    d.Boxes()[2].newx = 180;  // moved in DB mode
    d.addBox(200, 20, 50, 50, "mic_002.img", 0);
    d.addBox(5, 5, 200, 200, kAutopickBoxName, 30);  // a filament box of that name is no automatic box
    const std::vector<AutoPick> picks = {{40, 40, {20, 20, 40, 40}, 9}, {240, 240, {220, 220, 40, 40}, 7}};
    EXPECT_EQ(autopick_replace_boxes(&d, picks), 3);
    std::string list;
    for (int i = 0; i < d.nBoxes(); i++) {
        const BoxRecord& b = d.Boxes()[i];
        list += std::to_string(b.x) + "," + std::to_string(b.y) + " " + b.name +
                (autopick_is_auto_box(b) ? " auto" : "") + "\n";
    }
    EXPECT_EQ(list,
              "10,10 mic_001.img\n150,100 autopick auto\n200,20 mic_002.img\n5,5 autopick\n20,20 autopick auto\n"
              "220,220 autopick auto\n");
    TempDir t;
    const std::string db = t / "boxes.db";
    ASSERT_EQ(d.saveBoxDB(db.c_str()), 1);
    MRCData e;
    e.setRealData(img.data(), 300, 300, 1);
    ASSERT_EQ(e.loadBoxDB(db.c_str()), 1);
    ASSERT_EQ(e.nBoxes(), 6);
    EXPECT_TRUE(autopick_is_auto_box(e.Boxes()[4]));
    EXPECT_FALSE(autopick_is_auto_box(e.Boxes()[0]));
}

// Small and odd sizes, tiny particles, templates about as large as the image:
// whatever is picked lies inside, and nothing reads outside (ASan).
TEST(Autopick, SmallAndOddImages) {
    struct Case {
        int nx, ny;
        float diameter;  // pixels of 1 A
        int mode;
    } cases[] = {{33, 47, 8, AUTOPICK_BLOB},      {64, 64, 32, AUTOPICK_BLOB},       {200, 9, 4, AUTOPICK_BLOB},
                 {97, 61, 12, AUTOPICK_TEMPLATE}, {130, 130, 60, AUTOPICK_TEMPLATE}, {512, 300, 150, AUTOPICK_BLOB}};
    // A dark disc of the particle's size in the middle, with noise (sigma 0: none).
    auto disc = [](int nx, int ny, float d, float sigma) {
        std::vector<float> v((size_t)nx * ny);
        std::mt19937 g(nx);
        std::normal_distribution<float> n(0, 1);
        for (int y = 0; y < ny; y++)
            for (int x = 0; x < nx; x++)
                v[(size_t)y * nx + x] = sigma * n(g) - 4 * (std::hypot(x - nx / 2.0, y - ny / 2.0) < d / 2);
        return v;
    };
    for (const Case& c : cases) {
        const std::vector<float> img = disc(c.nx, c.ny, c.diameter, 1);
        AutopickParams p;
        p.pixel = 1, p.diameter = c.diameter, p.mode = c.mode;
        if (c.mode == AUTOPICK_TEMPLATE) {
            p.templNx = p.templNy = std::min(c.nx, c.ny);
            p.templ = disc(p.templNx, p.templNy, c.diameter, 0);
        }
        std::vector<AutoPick> picks;
        int r;
        const std::string said = captured([&] { r = autopick(img.data(), c.nx, c.ny, p, &picks); });
        const int box = autopick_box_size(p);
        if (!r) {
            // Only a particle that does not fit is refused.
            EXPECT_NE(said.find("does not fit"), std::string::npos) << c.nx << "x" << c.ny << ": " << said;
            continue;
        }
        for (const AutoPick& a : picks)
            EXPECT_TRUE(a.box.x >= 0 && a.box.y >= 0 && a.box.x + box <= c.nx && a.box.y + box <= c.ny)
                << c.nx << "x" << c.ny;
    }
}

// Four micrographs picked in four threads at once give what they give one
// after another (worker threads pick micrographs of a set this way).
TEST(Autopick, FourMicrographsAtOnceEqualTheSerialPicks) {
    std::vector<PickSynthImage> m(4);
    std::vector<AutopickParams> p(4);
    for (int i = 0; i < 4; i++) {
        PickSynth s;
        s.nx = s.ny = 768, s.pixel = 2 + 0.5f * i, s.diameter = 150, s.snr = 0.2f, s.particles = 12, s.seed = 20 + i;
        m[i] = pick_synth(s);
        p[i].pixel = s.pixel, p[i].diameter = 150, p[i].mode = i % 2 ? AUTOPICK_TEMPLATE : AUTOPICK_BLOB;
        if (i % 2) p[i] = templateFromTruth(m[i], s, p[i], 6);
    }
    std::vector<std::vector<AutoPick>> serial(4), threaded(4);
    for (int i = 0; i < 4; i++) ASSERT_EQ(autopick(m[i].pixels.data(), 768, 768, p[i], &serial[i]), 1);
    std::vector<std::thread> t;
    for (int i = 0; i < 4; i++) t.emplace_back([&, i] { autopick(m[i].pixels.data(), 768, 768, p[i], &threaded[i]); });
    for (std::thread& th : t) th.join();
    for (int i = 0; i < 4; i++) {
        ASSERT_EQ(threaded[i].size(), serial[i].size()) << i;
        EXPECT_GE(serial[i].size(), 8u) << i;
        for (size_t k = 0; k < serial[i].size(); k++)
            EXPECT_TRUE(threaded[i][k].x == serial[i][k].x && threaded[i][k].score == serial[i][k].score) << i;
    }
}
