// The live CTF window on the transform of a synthetic micrograph, the CTF
// menu's corrections and merges, and Tools > Analyze.
#include "tests/gui/gui_testutil.h"
// (first: GoogleTest before Xlib)
#include <unistd.h>

#include <sstream>

#include "gui/ctf/ctf_cmds.h"
#include "gui/ctf/livec.h"
#include "gui/shell/help.h"
#include "tests/core/ctf_synth.h"

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

// Curve id of the plot (0 the main curve): abscissae and values.
struct Curve {
    std::vector<float> x, y;
};
Curve plotted(int id) {
    int n = fl_get_xyplot_numdata(livec->plot, id);
    Curve c{std::vector<float>(std::max(n, 1)), std::vector<float>(std::max(n, 1))};
    if (n > 0) fl_get_xyplot_overlay_data(livec->plot, id, c.x.data(), c.y.data(), &n);
    c.x.resize(std::max(n, 0)), c.y.resize(std::max(n, 0));
    return c;
}
double slider(FL_OBJECT* ob) {
    return (float)fl_get_slider_value(ob);
}

// At 100 kV and Cs 5.6 mm (fresh preferences): the wavelength, and the first
// zero of a defocus (micrometres), from their definitions.
const double kV = 1e5, kLambda = 12.2639 / std::sqrt(kV + 9.7845e-7 * kV * kV), kCs = 5.6e7;
double firstZero(double defocus) {
    const double D = 1e4 * defocus;
    return std::sqrt(std::sqrt(2 * kLambda * kCs + D * D) + D) / (std::sqrt(kCs) * kLambda);
}
double defocusForZero(double s) {
    return (0.5 * kCs * kLambda * kLambda * s * s - 1 / (kLambda * s * s)) / 1e4;
}

// The CTF term sqrt(1 - A^2) sin(gamma) + A cos(gamma) at s.
double ctfTerm(double s, double defocus, double A) {
    const double gamma =
        -2 * M_PI * (kCs * std::pow(kLambda, 3) * std::pow(s, 4) / 4 + 1e4 * defocus * kLambda * s * s / 2);
    return std::sqrt(1 - A * A) * std::sin(gamma) + A * std::cos(gamma);
}

// The model at s for the parameters the controls show, written out from its
// definition in double precision; dE >= 0: the instrument panel's temporal
// coherence (eV) in place of the gaussian envelope.
double modelAt(double s, bool ctfOn, double dE = -1) {
    const double p[8] = {lcs.defocus,           slider(livec->envel),  slider(livec->ctfScale), slider(livec->ac) / 100,
                         slider(livec->gaussA), slider(livec->gaussW), slider(livec->expSca),   slider(livec->expDk)};
    const double g = lcs.bgScale, Cc = 1.8e7;
    const double c = ctfOn ? ctfTerm(s, p[0], p[3]) : 1;
    const double E = dE < 0
                         ? std::exp(-std::pow(M_PI * s * p[1] / 2, 2))
                         : std::exp(-M_PI * M_PI * std::pow(Cc * kLambda * dE / kV * s * s, 2) / (16 * std::log(2.0)));
    const double B = g * (p[4] * std::exp(-std::pow(M_PI * s * p[5] / 2, 2)) + p[6] * std::exp(-s / p[7]));
    return std::pow(g * p[2] * E * c, 2) + B * B;
}
// The largest relative difference of the plotted model curve from modelAt.
double modelError(bool ctfOn = true, double dE = -1) {
    Curve m = plotted(kModelOverlay);
    double worst = m.x.size() == 200 ? 0 : 1e9;
    for (size_t i = 0; i < m.x.size(); i++) {
        const double want = modelAt(m.x[i], ctfOn, dE);
        worst = std::max(worst, std::fabs(m.y[i] - want) / want);
    }
    return worst;
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
    float r = (float)firstZero(kTruth) * kN * kPixres * 1.03f;
    DataWin* v = current_view();
    fourier_ctf_mode(v, 0, 0, v->cellX / 2 + (int)std::lround(r), v->cellY / 2, EV_LEFT_DRAG, 0);
    setSlider(livec->ac, 7);
    setSlider(livec->envel, 10);
    setSlider(livec->ctfScale, 1.5);
    return F;
}
}  // namespace

// A fit varies exactly the parameters whose switches are on; with all on
// (amplitude contrast aside) it finds the defocus. Fix Phases then flips by pi
// the pairs where the fitted CTF is negative.
TEST(LiveCtf, FitVariesTheSwitchedOnParametersAndFixPhasesFlipsTheNegativeBands) {
    MRCData* F = nullptr;
    for (int off : {0, 1, 5, 7, -1}) {  // the parameter switched off, -1 none
        F = scene();
        FL_OBJECT* controls[8] = {nullptr,       livec->envel,  livec->ctfScale, livec->ac,
                                  livec->gaussA, livec->gaussW, livec->expSca,   livec->expDk};
        auto params = [&] {
            std::vector<double> p{lcs.defocus};
            for (int i = 1; i < 8; i++) p.push_back(slider(controls[i]));
            return p;
        };
        for (int i = 0; i < 8; i++) fl_set_button(livec->vary[i], i != 3 && i != off);
        const std::vector<double> before = params();
        fl_call_object_callback(livec->fitBtn);
        const std::vector<double> after = params();
        for (int i = 0; i < 8; i++)
            EXPECT_EQ(after[i] == before[i], i == 3 || i == off) << "parameter " << i << ", switch " << off << " off";
        if (off != 0) {
            EXPECT_NEAR(lcs.defocus, kTruth, 0.01 * std::fabs(kTruth)) << off;
        }
    }
    EXPECT_EQ(busy_depth(), 0);
    // The record follows the window; "Defocus:" and "Chi:" show the result.
    ASSERT_TRUE(F->hasPstate());
    const LC_pstate rec = *F->Pstate();
    EXPECT_EQ(rec.defocus, lcs.defocus);
    EXPECT_EQ(rec.markFreq, lcs.markFreq);
    EXPECT_NEAR(std::atof(fl_get_input(livec->defocus)), lcs.defocus, 1e-3);
    double chi = 0;
    const Curve data = plotted(0), fit = plotted(kModelOverlay);
    for (int i = 15; i < 200; i++) chi += std::pow(fit.y[i] - data.y[i], 2);
    EXPECT_NEAR(std::atof(fl_get_input(livec->chi)), std::sqrt(chi), 1e-5 * std::sqrt(chi));
    std::vector<float> before(F->getRealData(), F->getRealData() + (size_t)(kN + 2) * kN);
    select_images({1});
    menu_run("CTF", "Fix Phases");
    EXPECT_TRUE(dlg_log().empty());
    const float* a = F->getRealData();
    long wrong = 0, flipped = 0;
    for (int r = 0; r < kN; r++)
        for (int h = 0; h <= kN / 2; h++) {
            int i = std::min(199, (int)((std::hypot(r - kN / 2, h) * lcs.freqStep - lcs.x[0]) / (lcs.x[1] - lcs.x[0])));
            double t = ctfTerm(lcs.x[i], rec.defocus, rec.ampContrast) * rec.ctfScale;
            size_t o = (size_t)r * (kN + 2) + 2 * h + 1;
            bool flip = a[o] != before[o];
            flipped += flip;
            wrong += (flip != (t < 0) && std::fabs(t) > 1e-3) ||
                     (flip && std::fabs(std::fabs(a[o] - before[o]) - M_PI) > 1e-5);
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_GT(flipped, kN * kN / 8);
}

// Each control moves the plotted model as the model's definition says, with
// the marker on the first zero and "Res:" naming it; the record follows.
TEST(LiveCtf, ControlsMoveThePlottedModelAsDefined) {
    MRCData* F = scene();
    auto press = [](FL_OBJECT* b) { fl_call_object_callback(b); };
    // clang-format off
    struct { const char* what; std::function<void()> act; float defocus; bool ctfOn; } cases[] = {
        {"typed", [] { fl_set_input(livec->defocus, " -1.234"); fl_call_object_callback(livec->defocus); }, -1.234f, true},
        {">", [&] { press(livec->up); }, -1.234f * 1.005f, true},
        {"< <", [&] { press(livec->down), press(livec->down); }, -1.234f * 1.005f / 1.005f / 1.005f, true},
        {"Envel", [] { setSlider(livec->envel, 14); }, 0, true},
        {"Scale", [] { setSlider(livec->ctfScale, 2.5); }, 0, true},
        {"AC", [] { setSlider(livec->ac, 20); }, 0, true},
        {"Gauss A", [] { setSlider(livec->gaussA, 1.7); }, 0, true},
        {"Gauss W", [] { setSlider(livec->gaussW, 3.5); }, 0, true},
        {"Exp sca", [] { setSlider(livec->expSca, 1.2); }, 0, true},
        {"Exp dk", [] { setSlider(livec->expDk, 0.021); }, 0, true},
        {"CTF off", [&] { fl_set_button(livec->ctfOn, 0), press(livec->ctfOn); }, 0, false},
        {"CTF on", [&] { fl_set_button(livec->ctfOn, 1), press(livec->ctfOn); }, 0, true},
    };
    // clang-format on
    float defocus = 0;
    for (auto& c : cases) {
        const std::vector<float> was = plotted(kModelOverlay).y;
        c.act();
        if (c.defocus != 0) defocus = c.defocus;
        EXPECT_FLOAT_EQ(lcs.defocus, defocus) << c.what;
        EXPECT_LT(modelError(c.ctfOn), 1e-3) << c.what;
        EXPECT_NE(plotted(kModelOverlay).y, was) << c.what << ": the plot did not change";
        char t[32];
        std::snprintf(t, sizeof t, "%4.3f", defocus);
        EXPECT_STREQ(fl_get_input(livec->defocus), t) << c.what;
        const Curve mark = plotted(kMarkerOverlay);
        ASSERT_EQ(mark.x.size(), 1u);
        EXPECT_NEAR(mark.x[0], firstZero(defocus), 1e-5) << c.what;
        EXPECT_NEAR(std::atof(fl_get_input(livec->res)), 1 / firstZero(defocus), 0.006) << c.what;
    }
    const float* r = &F->Pstate()->defocus;
    EXPECT_EQ(std::vector<float>(r, r + 8), (std::vector<float>{defocus, 14, 2.5f, 0.2f, 1.7f, 3.5f, 1.2f, 0.021f}));
    // The range slider shows the lowest plotted value up to a v^4 part of the range.
    DataWin* v = current_view();
    fourier_ctf_mode(v, 0, 0, v->cellX / 2 + 60, v->cellY / 2, EV_LEFT_DRAG, 0);  // a new profile: a new range
    const Curve data = plotted(0), fit = plotted(kModelOverlay);
    float lo = *std::min_element(fit.y.begin(), fit.y.end()), hi = *std::max_element(fit.y.begin(), fit.y.end());
    lo = std::min(lo, *std::min_element(data.y.begin() + 1, data.y.end()));
    hi = std::max(hi, *std::max_element(data.y.begin() + 1, data.y.end()));
    for (float k : {1.0f, 0.5f}) {
        setSlider(livec->scale, k);
        float y0, y1;
        fl_get_xyplot_ybounds(livec->plot, &y0, &y1);
        EXPECT_NEAR(y0, lo, 1e-6 * hi);
        EXPECT_NEAR(y1, lo + (hi - lo) * std::pow(k, 4), 1e-6 * hi) << k;
    }
    // Dragging on the plot puts the first zero under the pointer; at or left of s = 0 nothing moves.
    float sx, sy, wx, wy;
    fl_xyplot_w2s(livec->plot, 0.05, 0, &sx, &sy);
    plotsel(livec->plot, FL_PUSH, (int)sx, (int)sy, FL_LEFT_MOUSE, nullptr);
    plotsel(livec->plot, FL_MOUSE, (int)sx, (int)sy, FL_LEFT_MOUSE, nullptr);
    fl_xyplot_s2w(livec->plot, (int)sx, (int)sy, &wx, &wy);
    EXPECT_NEAR(firstZero(lcs.defocus), wx, 1e-4);
    EXPECT_NEAR(lcs.markFreq, wx, 1e-4);
    float d = lcs.defocus;
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

TEST(LiveCtf, OverlaysInstrumentEnvelopeRatioSaveAndSelection) {
    MRCData* F = scene();
    // Overlays are bounded by what the plot holds.
    for (int i = 0; i < 40; i++) fl_call_object_callback(i % 2 ? livec->ovFit : livec->ovData);
    EXPECT_EQ(lcs.overlays, kBandOverlay);
    EXPECT_EQ(fl_get_xyplot_numdata(livec->plot, kBandOverlay - 1), 200);
    EXPECT_EQ(plotted(kFirstCompareOverlay + 1).y, plotted(kModelOverlay).y);
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
    EXPECT_LT(modelError(true, 5), 1e-3);
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
    // Selecting a transform with a record shows its fit.
    MRCData* G = micrograph_fft(-2.0f, 5);
    add_to_group({G});
    *G->Pstate() = {-2.0f, 12, 1.5f, 0.07f, 0.9f, 1.2f, 0.7f, 0.04f, (float)firstZero(-2.0)};
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

// On a transform of 512 x 256 pixels of 2 A the pointer at (u, v) pairs and
// rows from the centre means the frequency (u / 1024, v / 512) per A: DRAG mode
// names both resolutions, the radius's and the defocus whose first zero lies
// there, and outlines that radius; a CTF drag there starts the window at that
// defocus, its marker there.
TEST(LiveCtf, RingReadOutOnANonSquareTransform) {
    shell_reset();
    clearenv2();
    livec_close();
    MRCData* F = make_complex(512, 256, "ns");
    F->setPixres(2);
    add_to_group({F});
    select_images({1});
    DataWin* v = current_view();
    MMode.boxType = 1, MMode.liveType = 0;
    // clang-format off
    struct { int u, v; } points[] = {{60, -40}, {100, 30}, {-120, 70}};
    // clang-format on
    for (auto& p : points) {
        const double fx = p.u / 1024.0, fy = p.v / 512.0, s = std::hypot(fx, fy);
        const int x = v->cellX / 2 + p.u, y = v->canvasH - 1 - (v->cellY / 2 + p.v);  // origin 0, zoom 1
        MMode.mode = DRAG;
        v->buttonPress(x, y, EV_MOVE, 0);
        char want[160];
        std::snprintf(want, sizeof want, "Image (%d,%d) %4.2fA,%4.2fA %4.2fA %4.3fum", p.u, p.v, 1 / fx, 1 / fy, 1 / s,
                      defocusForZero(s));
        EXPECT_STREQ(v->form->datawin->label, want);
        // The outline: the square of the radius (in rows) about the centre's pixel.
        XSync(fl_display, False);
        const int R = (int)(s * 512 + 1e-9), cy = v->canvasH - 1 - v->cellY / 2;
        ServerImage win(v->canvasWindow(), v->canvasW, v->canvasH);
        const unsigned long red = fl_get_pixel(FL_RED);
        const int cx = v->cellX / 2;
        EXPECT_TRUE(win.at(cx - R, cy) == red && win.at(cx + R, cy) == red && win.at(cx, cy - R) == red &&
                    win.at(cx + R + 1, cy) != red && win.at(cx - R + 1, cy) != red)
            << p.u << "," << p.v;
        for (int fit : {1, 0}) {
            mm_Set(nullptr, CTF);
            ASSERT_TRUE(livec_is_open());
            fl_set_button(livec->fitOn, fit);
            v->buttonPress(x, y, EV_LEFT_DRAG, 0);
            EXPECT_NEAR(lcs.defocus, defocusForZero(s), 1e-4 * std::fabs(lcs.defocus));
            EXPECT_NEAR(std::atof(fl_get_input(livec->res)), 1 / s, 0.006) << p.u << "," << p.v << " fit " << fit;
        }
    }
    // "Angular Avg": the marker is the pointer's angle, from 0 to 2 pi.
    MMode.liveType = 1;
    v->buttonPress(v->cellX / 2 + 60, v->canvasH - 1 - (v->cellY / 2 - 40), EV_LEFT_DRAG, 0);
    EXPECT_NEAR(plotted(kMarkerOverlay).x.at(0), std::atan2(-40.0, 30.0) + 2 * M_PI, 1e-4);
    // Entering shows the mode's status line; a middle drag pans only in MOVE, DRAG and BOX.
    // clang-format off
    const std::pair<int, const char*> modes[] = {{MOVE, "Image: Left button centers, middle button pans"},
        {DRAG, "Image: Click to Fourier filter"}, {BOX, "Image: CANNOT BOX COMPLEX IMAGES"}, {CTF, "Image"},
        {ZAP, "unchanged"}};
    // clang-format on
    for (auto& [m, title] : modes) {
        MMode.mode = m;
        v->setTitle("unchanged");
        v->setOrigin(0, 0);
        for (int code : {EV_ENTER, EV_MIDDLE_PRESS}) v->buttonPress(100, 100, code, 0);
        v->buttonPress(90, 100, EV_MIDDLE_DRAG, 0);
        EXPECT_EQ(std::string(v->form->datawin->label) + " " + std::to_string(v->getXor()),
                  std::string(title) + (m == MOVE || m == DRAG || m == BOX ? " 10" : " 0"));
    }
}

// In help mode the window's controls only show their texts: nothing moves,
// is stored, saved, overlaid or closed.
TEST(LiveCtf, HelpModeOnlyShowsTheControlsTexts) {
    MRCData* F = scene();
    const std::string dat = std::string(std::getenv("HOME")) + "/tarvik.dat";
    unlink(dat.c_str());
    auto state = [&] {
        const float* r = &F->Pstate()->defocus;
        std::vector<double> s(r, r + 9);
        float y0, y1;
        fl_get_xyplot_ybounds(livec->plot, &y0, &y1);
        s.push_back(y1);
        for (double x :
             {(double)lcs.defocus, (double)lcs.overlays, (double)livec_is_open(), (double)exists(dat),
              (double)(getenv2("livec1") != nullptr), (double)plotted(kModelOverlay).x.size(), (double)lcs.smoothWidth})
            s.push_back(x);
        return s;
    };
    const std::vector<double> before = state();
    // clang-format off
    struct { FL_OBJECT* ob; const char* text; } cases[] = {
        {livec->gaussA, "Adjusts the parameters for the"}, {livec->fitOn, "Adjusts the parameters for the"},
        {livec->scale, "Rescales the CTF plot."}, {livec->defocus, "Enter a new defocus value here."},
        {livec->up, "Increases the defocus by 0.5%."}, {livec->down, "Decreases the defocus by 0.5%."},
        {livec->ctfOn, "This toggles the sin(gamma)"}, {livec->smooth, "This smooths the data plot"},
        {livec->fitBtn, "This will do a fit to the"}, {livec->store[0], "These buttons act as a memory"},
        {livec->recall[1], "These buttons act as a memory"}, {livec->ovData, "Overlays a copy of the current"},
        {livec->ovFit, "Overlays a copy of the current"}, {livec->clear, "Clears overlays."},
        {livec->save, "Saves a copy of the current"}, {livec->close, "Closes the CTF window."},
    };
    // clang-format on
    fl_set_input(livec->defocus, "-3");
    fl_set_counter_value(livec->smooth, 5);
    fl_set_slider_value(livec->gaussA, 0.2);
    fl_set_slider_value(livec->scale, 0.3);
    for (auto& c : cases) {
        menu_run("Help", "Help");
        fl_call_object_callback(c.ob);
        EXPECT_EQ(help_text().rfind(c.text, 0), 0u) << c.text << " / " << help_text();
        EXPECT_EQ(state(), before) << c.text;
        help_dismiss(nullptr, 0);
    }
}

// Apply CTF imposes the CTF of memory 1 (here without background, so without
// noise) on a real image and on a transform; CTF Filter multiplies the shown
// transform's amplitudes by the model over the profile, as written to cor.dat.
TEST(LiveCtf, ApplyCtfAndCtfFilterFromTheMenu) {
    MRCData* F = scene();
    std::string dir = shell_tmpdir();
    ASSERT_EQ(chdir(dir.c_str()), 0);
    setSlider(livec->gaussA, 0);
    setSlider(livec->expSca, 0);
    fl_call_object_callback(livec->store[0]);
    // Two waves of 128 x 128 pixels of 2.5 A: one before the first zero, one after it.
    const int N = 128;
    const int waves[2][2] = {{9, 5}, {15, 6}};
    auto wave = [&](int w, int x, int y) { return std::cos(2 * M_PI * (waves[w][0] * x + waves[w][1] * y) / N); };
    MRCData* img = image(
        N, N, [&](int x, int y) { return (float)(wave(0, x, y) + wave(1, x, y)); }, "waves");
    img->setPixres(kPixres);
    MRCData* T = img->doFFT(0);
    std::vector<float> amp(T->getRealData(), T->getRealData() + (size_t)(N + 2) * N);
    add_to_group({img, T});
    for (int line : {2, 3}) {  // one size at a time can be selected
        select_images({line});
        menu_run("CTF", "Apply CTF");
    }
    // The signed CTF g P2 E c of the memory (its defocus now the window's) at the waves' frequencies.
    double want[2];
    for (int w = 0; w < 2; w++) {
        const double s = std::hypot(waves[w][0], waves[w][1]) / (N * kPixres);
        want[w] = lcs.bgScale * 1.5 * std::exp(-std::pow(M_PI * s * 10 / 2, 2)) * ctfTerm(s, lcs.defocus, 0.07);
    }
    ASSERT_TRUE(want[0] > 0.05 && want[1] < -0.05) << want[0] << " " << want[1];
    MRCData* R = at(1);
    ASSERT_NE(R, img);
    for (int w = 0; w < 2; w++) {
        double dot = 0;
        for (int y = 0; y < N; y++)
            for (int x = 0; x < N; x++) dot += R->valueAt(x, y) * wave(w, x, y);
        EXPECT_NEAR(dot / (N * N / 2), want[w], 0.02 * std::fabs(want[w])) << "real, wave " << w;
        const size_t o = (size_t)(waves[w][1] + N / 2) * (N + 2) + 2 * waves[w][0];
        EXPECT_NEAR(T->getRealData()[o], amp[o] * std::fabs(want[w]), 0.02 * amp[o] * std::fabs(want[w]))
            << "transform, wave " << w;
        EXPECT_NEAR(std::fabs(std::remainder(T->getRealData()[o + 1] - amp[o + 1], 2 * M_PI)), want[w] < 0 ? M_PI : 0,
                    1e-4);
    }
    // CTF Filter on the shown transform.
    select_images({1});
    dlg_clear();
    std::vector<float> before(F->getRealData(), F->getRealData() + (size_t)(kN + 2) * kN);
    const Curve data = plotted(0), fit = plotted(kModelOverlay);
    menu_run("CTF", "CTF Filter");
    EXPECT_TRUE(dlg_log().empty());
    std::vector<double> r, ratio;
    std::istringstream cor(read_file(dir + "/cor.dat"));
    for (double a, b; cor >> a >> b;) r.push_back(a), ratio.push_back(b);
    ASSERT_EQ(ratio.size(), 200u);
    for (int i = 0; i < 200; i += 7) EXPECT_NEAR(ratio[i], fit.y[i] / data.y[i], 1e-4 * ratio[i] + 1e-6) << i;
    long bad = 0;
    for (int h = 3; h < kN / 2; h += 5) {  // row 0 of the centre: radius h
        const int i = (int)(h / r[1]);
        const double f = ratio[i] + (h - r[i]) / (r[1] - r[0]) * (ratio[i + 1] - ratio[i]);
        const size_t o = (size_t)(kN / 2) * (kN + 2) + 2 * h;
        bad += std::fabs(F->getRealData()[o] - before[o] * f) > 1e-3 * before[o] * f;
    }
    EXPECT_EQ(bad, 0);
    // With the window closed the corrections only say how to open it.
    livec_close();
    dlg_clear();
    select_images({2});
    const float kept = at(1)->valueAt(3, 4);
    menu_run("CTF", "Apply CTF");
    EXPECT_EQ(dlg_log().at(0), "message: |Please put the mouse in CTF mode and reselect the images|");
    EXPECT_EQ(at(1)->valueAt(3, 4), kept);
}
