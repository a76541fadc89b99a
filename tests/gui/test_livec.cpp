// The live CTF window on the transform of a synthetic micrograph, the CTF
// menu's corrections and merges, and Tools > Analyze.
#include <gtest/gtest.h>
#include <unistd.h>

#include "gui/shell/control.h"
#include "gui/shell/registry.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/menus.h"
#include "gui/shell/state.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/hooks.h"
#include "core/prefs.h"
#include "gui/ctf/ctf_cmds.h"
#include "gui/ctf/livec.h"
#include "gui/display/datawin.h"
#include "tests/core/ctf_synth.h"
#include "tests/gui/shell_env.h"

namespace {
const float kTruth = -1.5f, kPixres = 2.5f;
const int kN = 512;

// The transform of a synthetic micrograph at the workbench's 100 kV and Cs 5.6 mm,
// the envelope that of a gaussian of 10 A (B = pi^2 10^2), normalised as Analyze does.
MRCData* micrograph_fft(float defocus, unsigned seed) {
    SynthCtf s;
    s.nx = s.ny = kN, s.pixel = kPixres, s.kv = 100, s.cs = 5.6f, s.defocus = -defocus, s.bfactor = 987, s.noise = 0.2f,
    s.seed = seed;
    MRCData m;
    m.setRealData(synth_micrograph(s).data(), kN, kN, 1);
    m.setPixres(kPixres);
    m.normalize();
    return m.doFFT(0);
}

void setSlider(FL_OBJECT* ob, double v) {
    fl_set_slider_value(ob, v);
    fl_call_object_callback(ob);
}

std::vector<float> overlay(int id) {
    int n = fl_get_xyplot_numdata(livec->plot, id);
    std::vector<float> x(std::max(n, 1)), y(std::max(n, 1));
    if (n > 0) fl_get_xyplot_overlay_data(livec->plot, id, x.data(), y.data(), &n);
    y.resize(std::max(n, 0));
    return y;
}

// The model the window should show for its controls.
std::vector<float> model() {
    float p[8];
    livec_params(p);
    CtfInstrument in = livec_instrument();
    std::vector<float> want(200);
    ctf_display_form(lcs.x, 200, p, ctf_context_prefs(lcs.bgScale), true, &in, want.data(), nullptr, nullptr, nullptr);
    return want;
}

// The transform shown in the view and the window opened by CTF mode; the
// profile comes from a drag 3 % outside the true first zero (a defocus about
// 6 % short of the truth), as a user would start.
MRCData* scene() {
    shell_reset();
    clearenv2();
    livec_close();  // a fresh window
    MMode.mode = MOVE, MMode.liveType = 0;
    MRCData* F = micrograph_fft(kTruth, 14);
    add_to_group({F});
    select_images({1});
    mm_Set(nullptr, CTF);
    EXPECT_TRUE(livec_is_open());
    const CtfContext c = ctf_context_prefs(1);
    float r = ctf_first_zero(kTruth, c.lambda, c.Cs) * kN * kPixres * 1.03f;
    DataWin* v = current_view();
    fourier_ctf_mode(v, 0, 0, v->cellX / 2 + (int)std::lround(r), v->cellY / 2, EV_LEFT_DRAG, 0);
    setSlider(livec->ac, 7);
    setSlider(livec->envel, 10);
    setSlider(livec->ctfScale, 1.5);
    return F;
}
}  // namespace

TEST(LiveCtf, FitFindsTheDefocusAndFixPhasesFlipsTheNegativeBands) {
    MRCData* F = scene();
    ASSERT_EQ(lcs.data, F);
    EXPECT_NEAR(lcs.defocus, kTruth, 0.1 * std::fabs(kTruth));
    EXPECT_NE(lcs.defocus, kTruth);
    fl_call_object_callback(livec->fitBtn);
    EXPECT_NEAR(lcs.defocus, kTruth, 0.01 * std::fabs(kTruth));
    // The record follows the window; "Defocus:" and "Chi:" show the result.
    ASSERT_TRUE(F->hasPstate());
    const LC_pstate rec = *F->Pstate();
    EXPECT_EQ(rec.defocus, lcs.defocus);
    EXPECT_EQ(rec.markFreq, lcs.markFreq);
    EXPECT_NEAR(std::atof(fl_get_input(livec->defocus)), lcs.defocus, 1e-3);
    EXPECT_NEAR(std::atof(fl_get_input(livec->chi)), livec_chi(), 1e-5 * livec_chi() + 1e-6);
    EXPECT_EQ(busy_depth(), 0);
    // Fix Phases: pairs flip by pi exactly where the fitted CTF's sign is negative.
    std::vector<float> before(F->getRealData(), F->getRealData() + (size_t)(kN + 2) * kN);
    select_images({1});
    menu_run("CTF", "Fix Phases");
    EXPECT_TRUE(dlg_log().empty());
    const CtfContext c = ctf_context_prefs(1);
    const float* a = F->getRealData();
    long wrong = 0, flipped = 0;
    for (int r = 0; r < kN; r++)
        for (int h = 0; h <= kN / 2; h++) {
            int i = std::min(199, (int)((std::hypot(r - kN / 2, h) * lcs.freqStep - lcs.x[0]) / (lcs.x[1] - lcs.x[0])));
            double t = ctf_term(lcs.x[i], rec.defocus, rec.ampContrast, c.lambda, c.Cs) * rec.ctfScale;
            size_t o = (size_t)r * (kN + 2) + 2 * h + 1;
            bool flip = a[o] != before[o];
            flipped += flip;
            wrong += (flip != (t < 0) && std::fabs(t) > 1e-3) ||
                     (flip && std::fabs(std::fabs(a[o] - before[o]) - M_PI) > 1e-5);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(flipped, kN * kN / 8);
}

TEST(LiveCtf, SlidersArrowsPlotDragMemoryAndSmoothing) {
    MRCData* F = scene();
    std::vector<float> before = overlay(kModelOverlay);
    setSlider(livec->gaussA, 1.7);
    setSlider(livec->expDk, 0.021);
    EXPECT_NE(overlay(kModelOverlay), before);
    EXPECT_EQ(overlay(kModelOverlay), model());
    EXPECT_FLOAT_EQ(F->Pstate()->expDecay, 0.021f);
    // ">" multiplies the defocus by 1.005.
    float d = lcs.defocus;
    fl_call_object_callback(livec->up);
    EXPECT_FLOAT_EQ(lcs.defocus, d * 1.005f);
    // Dragging on the plot puts the first zero under the pointer; at or left of s = 0 nothing moves.
    float sx, sy, wx, wy;
    const CtfContext c = ctf_context_prefs(1);
    fl_xyplot_w2s(livec->plot, 0.05, 0, &sx, &sy);
    plotsel(livec->plot, FL_PUSH, (int)sx, (int)sy, FL_LEFT_MOUSE, nullptr);
    plotsel(livec->plot, FL_MOUSE, (int)sx, (int)sy, FL_LEFT_MOUSE, nullptr);
    fl_xyplot_s2w(livec->plot, (int)sx, (int)sy, &wx, &wy);
    EXPECT_NEAR(ctf_first_zero(lcs.defocus, c.lambda, c.Cs), wx, 1e-4);
    EXPECT_NEAR(lcs.markFreq, wx, 1e-4);
    d = lcs.defocus;
    fl_xyplot_w2s(livec->plot, -0.01, 0, &sx, &sy);
    plotsel(livec->plot, FL_MOUSE, (int)sx, (int)sy, FL_LEFT_MOUSE, nullptr);
    plotsel(livec->plot, FL_RELEASE, (int)sx, (int)sy, FL_LEFT_MOUSE, nullptr);
    EXPECT_EQ(lcs.defocus, d);
    // Memory 2 round trip through the preference file.
    setSlider(livec->gaussW, 3.25);
    fl_call_object_callback(livec->store[1]);
    EXPECT_NE(read_file(envfile_path()).find("livec2\t"), std::string::npos);
    setSlider(livec->gaussW, 7);
    lcs.defocus = -3;
    clearenv2();
    openenv2();
    fl_call_object_callback(livec->recall[1]);
    EXPECT_FLOAT_EQ((float)fl_get_slider_value(livec->gaussW), 3.25f);
    EXPECT_NEAR(lcs.defocus, d, 1e-3);
    EXPECT_FLOAT_EQ(F->Pstate()->gaussWidth, 3.25f);
    // " FIT" off removes the model curve; smoothing changes the plot, never the profile.
    fl_set_button(livec->fitOn, 0);
    fl_call_object_callback(livec->fitOn);
    EXPECT_EQ(fl_get_xyplot_numdata(livec->plot, kModelOverlay), 0);
    std::vector<float> y(lcs.y, lcs.y + 200);
    fl_set_counter_value(livec->smooth, 4);
    fl_call_object_callback(livec->smooth);
    EXPECT_EQ(lcs.smoothWidth, 4);
    EXPECT_EQ(std::vector<float>(lcs.y, lcs.y + 200), y);
}

TEST(LiveCtf, OverlaysInstrumentEnvelopeRatioAndSaveAtTheOrigin) {
    MRCData* F = scene();
    // Overlays are bounded by what the plot holds.
    for (int i = 0; i < 40; i++) fl_call_object_callback(i % 2 ? livec->ovFit : livec->ovData);
    EXPECT_EQ(lcs.overlays, kBandOverlay);
    EXPECT_EQ(fl_get_xyplot_numdata(livec->plot, kBandOverlay - 1), 200);
    EXPECT_EQ(overlay(kFirstCompareOverlay + 1), std::vector<float>(lcs.fit, lcs.fit + 200));
    ASSERT_EQ(dlg_log().size(), 13u);
    EXPECT_EQ(dlg_log()[0], "message: The plot holds no more overlays.|Use 'Clear' to remove them.|");
    fl_call_object_callback(livec->clear);
    EXPECT_EQ(lcs.overlays, kFirstCompareOverlay);
    EXPECT_EQ(fl_get_xyplot_numdata(livec->plot, kModelOverlay), 0);
    EXPECT_EQ(fl_get_xyplot_numdata(livec->plot, 10), 0);
    // "Envel:" sets the envelope to 0, which selects the panel's envelope.
    float had = (float)fl_get_slider_value(livec->envel);
    fl_set_button(livec->envelBtn, 1);
    fl_call_object_callback(livec->envelBtn);
    ASSERT_NE(iparm, nullptr);
    EXPECT_EQ(fl_get_slider_value(livec->envel), 0.0);
    setSlider(iparm->temporal, 5);
    EXPECT_EQ(F->Pstate()->envelope, 0.0f);
    EXPECT_EQ(overlay(kModelOverlay), model());
    fl_set_button(livec->envelBtn, 0);
    fl_call_object_callback(livec->envelBtn);
    EXPECT_EQ(iparm, nullptr);
    EXPECT_FLOAT_EQ((float)fl_get_slider_value(livec->envel), had);
    // Ratio mode with a scale of 0 at s = 0: every value finite (1).
    setSlider(livec->ctfScale, 0);
    fl_set_button(livec->ratioOn, 1);
    fl_call_object_callback(livec->ratioOn);
    EXPECT_EQ(lcs.x[0], 0.0f);
    EXPECT_EQ(std::vector<float>(lcs.ratio, lcs.ratio + 200), std::vector<float>(200, 1.0f));
    fl_set_button(livec->ratioOn, 0);
    setSlider(livec->ctfScale, 1);
    dlg_clear();
    fl_call_object_callback(livec->save);
    EXPECT_EQ(dlg_log(), std::vector<std::string>{"message: Data has been saved to tarvik.dat|and fit data has been "
                                                  "saved to tarvik.fit|Both are in your home directory"});
    for (const char* f : {"/tarvik.dat", "/tarvik.fit", "/tarvik.snr"}) {
        std::string t = read_file(std::getenv("HOME") + std::string(f));
        EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 200) << f;
        EXPECT_EQ(t.find_first_of("in"), std::string::npos) << f;  // no inf, no nan
    }
}

TEST(LiveCtf, SelectingATransformWithARecordShowsItsFit) {
    MRCData* F = scene();
    MRCData* G = micrograph_fft(-2.0f, 5);
    add_to_group({G});
    const CtfContext c = ctf_context_prefs(1);
    *G->Pstate() = {-2.0f, 12, 1.5f, 0.07f, 0.9f, 1.2f, 0.7f, 0.04f, ctf_first_zero(-2.0f, c.lambda, c.Cs)};
    select_images({1});
    float dF = F->Pstate()->defocus;
    select_images({2});
    EXPECT_EQ(lcs.data, G);
    EXPECT_FLOAT_EQ(lcs.defocus, -2.0f);
    EXPECT_FLOAT_EQ((float)fl_get_slider_value(livec->envel), 12.0f);
    EXPECT_FLOAT_EQ((float)fl_get_slider_value(livec->ac), 7.0f);
    select_images({1});
    EXPECT_EQ(lcs.data, F);
    EXPECT_FLOAT_EQ(lcs.defocus, dF);
    // A destroyed data set is forgotten by the window.
    select_images({2});
    current_group()->removeObject(G);
    destroy_data(G);
    EXPECT_EQ(lcs.data, nullptr);
}

TEST(LiveCtf, AnalyzeOnFreshPreferencesShowsTheNoticeOnceAndTheProfile) {
    shell_reset();
    clearenv2();
    add_to_group({make_data(600, 560, "a"), make_data(600, 560, "b")});
    select_images({1, 2});
    menu_run("Tools", "Analyze");
    EXPECT_EQ(dlg_log(), std::vector<std::string>{"message: Please select 1 image to analyze||"});
    dlg_clear();
    select_images({1});
    menu_run("Tools", "Analyze");
    ASSERT_EQ(dlg_log().size(), 1u);
    EXPECT_EQ(dlg_log()[0].rfind("message: Sorry, external FFTs are no longer supported.", 0), 0u);
    // The centre clip went to "Clips", was normalised and transformed.
    ASSERT_EQ(find_group("Clips"), 1);
    EXPECT_EQ(current_group_number(), 2);
    EXPECT_EQ(group_names(current_group()), (std::vector<std::string>{"Clip a (44,24)", "FFT Clip a (44,24)"}));
    MRCData* clip = (MRCData*)current_group()->objectAt(0);
    EXPECT_NEAR(clip->Mean(), 0, 1e-4);
    ASSERT_TRUE(livec_is_open());
    ASSERT_EQ(lcs.data, current_group()->objectAt(1));
    EXPECT_FLOAT_EQ(lcs.defocus, 1.5f);
    EXPECT_FLOAT_EQ(lcs.freqStep, 1.0f / (clip->Pixres() * 512));
    EXPECT_EQ(fl_get_xyplot_numdata(livec->plot, kModelOverlay), 200);
    EXPECT_EQ(busy_depth(), 0);
}

TEST(LiveCtf, MergesRefuseMismatchesAndFpmSetAlwaysClosesItsLog) {
    MRCData* F = scene();
    std::string dir = shell_tmpdir();
    ASSERT_EQ(chdir(dir.c_str()), 0);
    MRCData* G = micrograph_fft(-2.0f, 3);
    *G->Pstate() = *F->Pstate();
    G->Pstate()->defocus = -2.0f;
    add_to_group({G, make_complex(64, 64, "small")});
    dlg_clear();
    select_images({1, 3});
    menu_run("CTF", "FPM");
    select_images({1});
    menu_run("CTF", "FTM");
    // Unequal sizes and real images are refused (the merge would read past the smaller one).
    MRCData* small = (MRCData*)current_group()->objectAt(2);
    small->setPixres(kPixres);
    m_Ctf_DfMerge(F, small, F->Pstate(), F->Pstate(), 10, 0);
    MRCData* real = make_data(kN, kN, "real");
    real->setPixres(kPixres);
    m_Ctf_DfMerge3(F, G, real, F->Pstate(), F->Pstate(), F->Pstate(), 10, 0);
    m_Ctf_fixphase(real, F->Pstate());
    delete real;
    EXPECT_EQ(dlg_log(), (std::vector<std::string>{"message: |Please select 2 data sets to merge|",
                                                   "message: |Please select 3 data sets to merge|",
                                                   "message: |The data sets must be of the same size.|",
                                                   "message: |The data sets must be Fourier transforms.|",
                                                   "message: |The data set must be a Fourier transform.|"}));
    EXPECT_EQ(count(current_group()), 3);
    // Two transforms of one size: merged, with every diagnostic table.
    dlg_clear();
    dlg_push_text("8");
    select_images({1, 2});
    menu_run("CTF", "FPM");
    ASSERT_EQ(dlg_log().size(), 1u);
    EXPECT_EQ(dlg_log()[0].rfind("input: Enter the resolution limit (low pass filter) of the result (", 0), 0u);
    EXPECT_EQ(group_names(current_group()).size(), 5u);
    for (const char* f : {"test.res.dat", "test.data1.dat", "test.ctf2.dat", "test.noise2.dat", "test.norm.dat",
                          "test.f1.dat", "test.f2.dat", "SNR.mrgd.dat"})
        EXPECT_TRUE(exists(dir + "/" + f)) << f;
    // Groups of real images; the memories are missing: the log is still closed. Then with
    // memories and images that cannot be transformed (62 = 2 x 31).
    add_group("A");
    List* b = add_group("B");
    for (int n : {64, 62}) {
        ((List*)dataList->objectAt(1))->addObject(make_data(n, n, "x"));
        b->addObject(make_data(n, n, "y"));
        if (n == 62) {
            setenv2("livec1", " -1.5 10 1 0.07 1 1.5 0.8 0.035");
            setenv2("livec2", " -2 10 1 0.07 1 1.5 0.8 0.035");
        }
        dlg_clear();
        dlg_push_text("1,2");
        dlg_push_text("10");
        menu_run("CTF", "FPM (Set)");
        EXPECT_EQ(read_file(dir + "/merge.log"), n == 64 ? "" : "0\t-1.500\t-2.000\n");
    }
    ASSERT_EQ(dlg_log().size(), 3u);
    EXPECT_EQ(dlg_log()[2], "message: FFT Unsucessful|Probably an invalid image size|");
    EXPECT_NE(system(("ls -a '" + dir + "' | grep -q '\\.tmp'").c_str()), 0) << "a temporary was left";
    EXPECT_EQ(busy_depth(), 0);
}
