// The live CTF window from a good start: Analyze seeded by the automatic
// estimate and "fit" from there on micrographs of known CTF, the fit's
// refusals, the 2-D diagnostic and its zeros on screen, Flip Phases 2-D, and
// the window's layout.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ctf/ctf2d.h"
#include "ctf/fit.h"
#include "fft/ifftsubs.h"
#include "gui/ctf/ctf_cmds.h"
#include "gui/ctf/livec.h"
#include "gui/ctf/livec_seed.h"
#include "tests/core/ctf_synth.h"
#include "tests/core/ctf_textbook.h"
#include "tests/gui/gui_testutil.h"

namespace {

// A micrograph data set of a case, its microscope in the preferences.
MRCData* micrograph(const SynthCase& c, unsigned seed) {
    SynthCtf s = c.s;
    s.seed = seed;
    setenvf("voltage", s.kv);
    setenvf("spherab", s.cs);
    MRCData* d = new MRCData();
    d->setRealData(synth_crop(synth_micrograph(s), s.nx, c.cropX, c.cropY).data(), c.cropX, c.cropY, 1);
    d->setPixres(s.pixel);
    d->setName("mic");
    d->setFile("mic.mrc");
    return d;
}

// Tools > Analyze on a fresh workbench (the external-FFT notice already seen).
void analyze(MRCData* d) {
    shell_reset();
    livec_close();
    setenv2("extfft", "0");
    add_to_group({d});
    select_images({1});
    menu_run("Tools", "Analyze");
}

float shownDefocus() {
    return (float)std::atof(fl_get_input(livec->defocus));
}

std::string line() {
    return fl_get_object_label(livec->astig);
}

// The estimate's line "astig A um at T deg, res R A" against the truth.
void expectLine(const SynthCtf& s, float astigTolerance) {
    float astig = 0, angle = 0, res = 0;
    ASSERT_EQ(std::sscanf(line().c_str(), "astig %f um at %f deg, res %f A", &astig, &angle, &res), 3) << line();
    EXPECT_NEAR(astig, s.astig, astigTolerance) << line();
    EXPECT_TRUE(s.astig < 0.1f || std::fabs(std::remainder(angle - s.angle, 180.0)) <= 10) << line();
    EXPECT_GE(res, 2 * s.pixel) << line();
}

}  // namespace

TEST(LiveCtfSeed, AnalyzeStartsFromTheEstimateFitKeepsTheDefocusAndNoRingsSaySo) {
    unsigned seed = 1;
    // Square and either way oblong, cropped, 100 to 300 kV; the core tests fit every case.
    for (int k : {1, 2, 3, 4, 7}) {
        const SynthCase& c = synth_estimator_cases()[k];
        analyze(micrograph(c, seed++));
        ASSERT_TRUE(livec_is_open());
        ASSERT_NE(lcs.data, nullptr);
        const float truth = -c.s.defocus;
        EXPECT_NEAR(shownDefocus(), truth, 0.01 * std::fabs(truth)) << k;
        expectLine(c.s, 0.05f);
        const std::string out = said([] { fl_call_object_callback(livec->fitBtn); });
        EXPECT_NEAR(lcs.defocus, truth, 0.01 * std::fabs(truth)) << k << "\n" << out;
        EXPECT_TRUE(dlg_log().empty()) << dlg_log()[0];
    }
    // Without rings the window opens as before and says so.
    SynthCtf s;
    s.bfactor = 1e6f;  // the envelope takes every ring away
    MRCData* d = new MRCData();
    d->setRealData(synth_micrograph(s).data(), s.nx, s.ny, 1);
    d->setPixres(1.5f);
    d->setName("noise");
    analyze(d);
    ASSERT_TRUE(livec_is_open());
    EXPECT_FLOAT_EQ(lcs.defocus, 1.5f);
    EXPECT_EQ(line(), "no Thon rings found");
    EXPECT_EQ(fl_get_xyplot_numdata(livec->plot, kModelOverlay), 200);
    EXPECT_TRUE(dlg_log().empty());
    EXPECT_EQ(busy_depth(), 0);
}

namespace {

// The issue's micrograph: 2048 x 2048, 1.8 A, 300 kV, Cs 2.7 mm, 3 micrometres
// underfocus without astigmatism, rings to about 4 A.
MRCData* issueMicrograph() {
    SynthCase c{{2048, 2048, 1.8f, 300, 2.7f, 3.0f, 0.0f, 0, 60, 0.5f}, 2048, 2048};
    return micrograph(c, 9);
}

void typeDefocus(const char* text) {
    fl_set_input(livec->defocus, text);
    fl_call_object_callback(livec->defocus);
}

void setSlider(FL_OBJECT* ob, double v) {
    fl_set_slider_value(ob, v);
    fl_call_object_callback(ob);
}

// Everything "fit" may change: the defocus and the seven sliders.
std::vector<float> parameters() {
    float p[8];
    livec_params(p);
    return std::vector<float>(p, p + 8);
}

// The uncentred transform of a real data set (rows of nx + 2 floats).
std::vector<float> transformOf(const MRCData* d) {
    int nx = d->xSize(), ny = d->ySize(), dir = 0;
    std::vector<float> a((size_t)(nx + 2) * ny);
    for (int y = 0; y < ny; y++) std::copy_n(d->getRealData() + (size_t)y * nx, nx, &a[(size_t)y * (nx + 2)]);
    todfft(a.data(), &nx, &ny, &dir);
    return a;
}

double textbook(const Ctf2d& c, double sx, double sy) {
    return textbookCtf(c.kv, c.csMM, c.ac, c.defocusU, c.defocusV, c.angle, sx, sy);
}

}  // namespace

TEST(LiveCtfSeed, ARunawayFitRestoresEveryParameterAndSaysWhyAndTheLabelsStandClear) {
    analyze(issueMicrograph());
    // What a label of an object covers on the form.
    struct Box {
        FL_Coord x, y, w, h;
        bool meets(const Box& o) const { return x < o.x + o.w && o.x < x + w && y < o.y + o.h && o.y < y + h; }
    };
    auto bounds = [](FL_OBJECT* ob) {
        Box b;
        fl_get_object_geometry(ob, &b.x, &b.y, &b.w, &b.h);
        return b;
    };
    FL_OBJECT* sm = livec->smooth;
    Box counter = bounds(sm);
    const int lw = fl_get_string_width(sm->lstyle, sm->lsize, "Smooth", 6),
              lh = fl_get_string_height(sm->lstyle, sm->lsize, "Smooth", 6, nullptr, nullptr);
    // Left of the counter, centred on it.
    const Box label{counter.x - lw - 4, counter.y + (counter.h - lh) / 2, lw, lh};
    ASSERT_GE(label.x, 0);
    // The estimate's line: its text inside its box.
    FL_OBJECT* as = livec->astig;
    const std::string text = line();
    EXPECT_EQ(text.rfind("astig ", 0), 0u) << text;
    EXPECT_LE(fl_get_string_width(as->lstyle, as->lsize, text.c_str(), (int)text.size()) + 4, as->w) << text;
    const Box lineBox = bounds(as);
    for (FL_OBJECT* ob = livec->LIVEC->first; ob; ob = ob->next) {
        if (ob == sm || ob == as || ob->objclass == FL_BOX || !ob->visible) continue;
        EXPECT_FALSE(label.meets(bounds(ob))) << "Smooth label under " << (ob->label ? ob->label : "?");
        EXPECT_FALSE(lineBox.meets(bounds(ob))) << "estimate line under " << (ob->label ? ob->label : "?");
        // No control lies over another (the plot's frame holds nothing).
        for (FL_OBJECT* o2 = ob->next; o2; o2 = o2->next) {
            if (o2->objclass == FL_BOX || o2->objclass == FL_TEXT || !o2->visible) continue;
            EXPECT_FALSE(bounds(ob).meets(bounds(o2))) << ob->label << " over " << o2->label;
        }
    }
    LC_pstate seeded;
    livec_params(&seeded.defocus);
    // The issue's way in: 3.1 typed, "Scale:" at 0.
    typeDefocus("-3.1");
    setSlider(livec->ctfScale, 0);
    std::vector<float> before = parameters();
    std::string out = said([] { fl_call_object_callback(livec->fitBtn); });
    EXPECT_EQ(dlg_log(), std::vector<std::string>{"message: |The CTF term is zero: set Scale above 0 before fitting|"});
    EXPECT_EQ(parameters(), before);
    EXPECT_FLOAT_EQ(shownDefocus(), -3.1f);
    EXPECT_EQ(out.find("gaussj"), std::string::npos) << out;
    // A gaussian background of amplitude 0 whose width is varied: singular at once,
    // its gaussj line printed once.
    dlg_clear();
    setSlider(livec->ctfScale, 2);
    setSlider(livec->gaussA, 0);
    before = parameters();
    out = said([] { fl_call_object_callback(livec->fitBtn); });
    EXPECT_EQ(dlg_log(),
              std::vector<std::string>{"message: |The fit found no unique solution; parameters left as they were|"});
    EXPECT_EQ(parameters(), before);
    size_t first = out.find("gaussj: Singular Matrix");
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("gaussj", first + 1), std::string::npos) << out;
    // With the seeded scale and background the same fit from 3.1 lands on the truth.
    dlg_clear();
    livec_set_sliders(seeded);
    fl_call_object_callback(livec->fitBtn);
    EXPECT_TRUE(dlg_log().empty());
    EXPECT_NEAR(lcs.defocus, -3.0f, 0.03f);
    EXPECT_EQ(busy_depth(), 0);
}

TEST(LiveCtfSeed, AnUnfittedTransformSelectedWithTheWindowOpenStartsFromItsEstimate) {
    analyze(issueMicrograph());
    // The transform of another micrograph, 1.2 um and astigmatic, without a record.
    SynthCase c{{1024, 1024, 1.5f, 300, 2.7f, 1.2f, 0.3f, 60, 100, 0.5f}, 1024, 1024};
    MRCData* m = micrograph(c, 4);
    MRCData* G = m->doFFT(0);
    delete m;
    G->setName("other");
    add_to_group({G});
    ASSERT_FALSE(G->hasPstate());
    select_images({count(current_group())});
    ASSERT_EQ(lcs.data, G);
    EXPECT_NEAR(shownDefocus(), -1.2f, 0.02f);
    expectLine(c.s, 0.06f);
    EXPECT_GT(fl_get_slider_value(livec->ctfScale), 0);
    EXPECT_TRUE(G->hasPstate());
    // Its values as they came (not normalised): "fit" from there holds.
    fl_call_object_callback(livec->fitBtn);
    EXPECT_TRUE(dlg_log().empty());
    EXPECT_NEAR(lcs.defocus, -1.2f, 0.012f);
}

TEST(LiveCtfSeed, TwoDShowsTheDiagnosticAndTheZerosOverTheTransform) {
    // Strongly astigmatic, so that a zero drawn in a wrong direction misses.
    analyze(micrograph({{2048, 2048, 1.8f, 300, 2.7f, 3.0f, 0.8f, 30, 60, 0.5f}, 2048, 2048}, 12));
    MRCData* F = lcs.data;
    ASSERT_NE(F, nullptr);
    DataWin* fview = current_view();
    ASSERT_EQ(fview->firstdata(), F);
    const int views = count(viewList);
    fl_call_object_callback(livec->twoD);
    EXPECT_TRUE(dlg_log().empty());
    // A new data set of the tile's size, alone in a view of its own.
    MRCData* D = (MRCData*)current_group()->objectAt(count(current_group()) - 1);
    EXPECT_EQ(std::string(D->Name()), std::string("2-D CTF ") + F->Name());
    ASSERT_EQ(D->xSize(), 1024);
    ASSERT_EQ(D->ySize(), 1024);
    EXPECT_EQ(count(viewList), views + 1);
    DataWin* dview = (DataWin*)viewList->objectAt(count(viewList) - 1);
    EXPECT_EQ(dview->firstdata(), D);
    // Its right half: the CTF^2 at the window's defocus with the estimate's astigmatism.
    Ctf2d c;
    const char* why = nullptr;
    ASSERT_TRUE(livec_ctf2d(F, &c, &why));
    EXPECT_NEAR(0.5 * (c.defocusU + c.defocusV), lcs.defocus, 1e-4);
    double worst = 0;
    const double f = 1.0 / (1024 * 1.8);
    for (int y = 0; y < 1024; y += 7)
        for (int x = 512; x < 1024; x += 7) {
            const double t = textbook(c, (x - 512) * f, (y - 512) * f);
            worst = std::max(worst, std::fabs(D->getRealData()[(size_t)y * 1024 + x] - t * t));
        }
    EXPECT_LT(worst, 1e-2);
    // In the transform's view: the first zeros in the CTF ring's red. Pair (h, k)
    // of the 512 x 512 transform is drawn at column h + 256 and row k + 255 (data
    // row 0 at the bottom of the canvas).
    ServerImage im(fview->pixmapId(), fview->canvasWidth(), fview->canvasHeight());
    const unsigned long red = fl_get_pixel(FL_RED);
    // The red pixels within r of frequency s (1/A) in direction th; -1 off the canvas.
    auto reds = [&](double s, double th, int r) {
        const int X = (int)std::lround(fview->zoom * (s * std::cos(th) * 512 * 1.8 + 256.5) - fview->xOrigin);
        const int Y = (int)std::lround(fview->yOrigin + fview->canvasHeight() -
                                       fview->zoom * (s * std::sin(th) * 512 * 1.8 + 255.5));
        if (X < 2 || Y < 2 || X >= fview->canvasWidth() - 2 || Y >= fview->canvasHeight() - 2) return -1;
        int n = 0;
        for (int dy = -r; dy <= r; dy++)
            for (int dx = -r; dx <= r; dx++) n += im.at(X + dx, Y + dy) == red;
        return n;
    };
    // Along 24 directions: red at the first three sign changes of the textbook
    // CTF, none halfway between the first two.
    int near = 0, tried = 0, between = 0;
    for (int i = 0; i < 24; i++) {
        const double th = 2 * M_PI * i / 24;
        double zero[3], s = 0, last = textbook(c, 0, 0);
        for (int n = 0; n < 3; s += 1e-5) {
            const double t = textbook(c, s * std::cos(th), s * std::sin(th));
            if ((t < 0) != (last < 0)) zero[n++] = s;
            last = t;
        }
        for (double z : zero) {
            const int n = reds(z, th, 1);
            tried += n >= 0, near += n > 0;
        }
        between += reds(0.5 * (zero[0] + zero[1]), th, 0) > 0;
    }
    EXPECT_GT(tried, 40);
    EXPECT_EQ(near, tried);
    EXPECT_EQ(between, 0);
    EXPECT_EQ(busy_depth(), 0);
}

TEST(LiveCtfSeed, FlipPhases2DFlipsByTheSignOfTheAstigmaticCtf) {
    SynthCase c{{1024, 1024, 1.5f, 300, 2.7f, 1.5f, 0.3f, 30, 100, 0.5f}, 1024, 1024};
    MRCData* m = micrograph(c, 6);
    analyze(m);
    MRCData* F = lcs.data;
    // The CTF menu's last entry.
    const int n = fl_get_menu_maxitems(control->ctfMenu);
    EXPECT_STREQ(fl_get_menu_item_text(control->ctfMenu, n), "Flip Phases 2-D");
    EXPECT_STREQ(fl_get_menu_item_text(control->ctfMenu, n - 1), "Phase Origin Shift");
    // The micrograph: a flipped copy beside it.
    fl_select_browser_line(control->groups, 1);
    sel_Group(nullptr, 0);
    select_images({1});
    dlg_clear();
    menu_run("CTF", "Flip Phases 2-D");
    EXPECT_TRUE(dlg_log().empty());
    ASSERT_EQ(count(current_group()), 2);
    MRCData* R = (MRCData*)current_group()->objectAt(1);
    EXPECT_STREQ(R->Name(), "Flipped mic");
    Ctf2d ctf;
    const char* why = nullptr;
    ASSERT_TRUE(livec_ctf2d(m, &ctf, &why));
    const std::vector<float> A = transformOf(m), B = transformOf(R);
    long wrong = 0, flipped = 0;
    double rms = 0;
    for (size_t i = 2; i < A.size(); i++) rms += (double)A[i] * A[i] / A.size();
    rms = std::sqrt(rms);
    for (int r = 0; r < 1024; r++) {
        const int k = r < 512 ? r : r - 1024;
        if (k == -512) continue;
        for (int h = 0; h < 512; h++) {
            const double t = textbook(ctf, h / (1024 * 1.5), k / (1024 * 1.5));
            if (std::fabs(t) < 1e-2) continue;
            const size_t i = (size_t)r * 1026 + 2 * h;
            const double sign = t < 0 ? -1 : 1, tol = 1e-3 * std::hypot(A[i], A[i + 1]) + 1e-2 * rms;
            wrong += std::fabs(B[i] - sign * A[i]) > tol || std::fabs(B[i + 1] - sign * A[i + 1]) > tol;
            flipped += t < 0;
        }
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(flipped, 1024 * 512 / 4);
    // The transform in place: phases turned by pi where the CTF at its fitted defocus is negative.
    select_images({});
    fl_select_browser_line(control->groups, find_group("Clips") + 1);
    sel_Group(nullptr, 0);
    const int line = indexOf(current_group(), F) + 1;
    ASSERT_GT(line, 0);
    ASSERT_TRUE(livec_ctf2d(F, &ctf, &why));
    std::vector<float> before(F->getRealData(), F->getRealData() + (size_t)514 * 512);
    select_images({line});
    menu_run("CTF", "Flip Phases 2-D");
    long wrongPh = 0, turned = 0;
    for (int j = 0; j < 512; j++)
        for (int h = 0; h <= 256; h++) {
            const double t = textbook(ctf, h / (512 * 1.5), (j - 256) / (512 * 1.5));
            if (std::fabs(t) < 1e-2) continue;
            const size_t o = (size_t)j * 514 + 2 * h + 1;
            const double d = std::fabs(F->getRealData()[o] - before[o]);
            const bool turn = std::fabs(d - M_PI) < 1e-4;
            wrongPh += turn != (t < 0) || (!turn && d != 0);
            turned += turn;
        }
    EXPECT_EQ(wrongPh, 0);
    EXPECT_GT(turned, 512 * 256 / 4);
    // Nothing selected: says so.
    dlg_clear();
    select_images({});
    menu_run("CTF", "Flip Phases 2-D");
    EXPECT_EQ(dlg_log(), std::vector<std::string>{"message: |Please select the images to flip.|"});
    EXPECT_EQ(busy_depth(), 0);
}
