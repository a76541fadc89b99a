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
#include "gui/ctf/ctf_cmds.h"
#include "gui/ctf/livec.h"
#include "gui/ctf/livec_seed.h"
#include "tests/core/ctf_synth.h"
#include "tests/core/ctf_textbook.h"
#include "tests/gui/gui_testutil.h"

namespace {

// The estimator's test micrographs: size, pixel, kV, Cs, defocus, astigmatism,
// its direction, B factor, noise (tests/core/test_ctf_estimate.cpp).
struct Case {
    SynthCtf s;
    int cropX, cropY;
};
const Case kCases[] = {
    {{1024, 1024, 1.2f, 300, 2.7f, 0.8f, 0.0f, 0, 100, 0.5f}, 1024, 1024},
    {{1024, 1024, 1.5f, 300, 2.7f, 1.5f, 0.2f, 30, 100, 0.5f}, 1024, 1024},
    {{1024, 1536, 3.0f, 100, 5.6f, 3.5f, 0.3f, 160, 300, 0.5f}, 1024, 1536},
    {{1536, 1024, 2.0f, 200, 2.0f, 1.2f, 0.1f, 75, 150, 0.5f}, 1536, 1024},
    {{1024, 1024, 2.5f, 300, 2.7f, 0.8f, 0.4f, 45, 200, 0.5f}, 1024, 1024},
    {{2048, 2048, 1.2f, 100, 5.6f, 3.5f, 0.2f, 10, 150, 0.5f}, 2048, 2048},
    {{2048, 2048, 1.3f, 200, 4.0f, 0.9f, 0.4f, 120, 150, 0.6f}, 2048, 2048},
    {{2048, 1152, 1.6f, 200, 4.0f, 2.0f, 0.05f, 140, 120, 0.8f}, 2000, 1100},
};

// A micrograph data set of a case, its microscope in the preferences.
MRCData* micrograph(const Case& c, unsigned seed) {
    SynthCtf s = c.s;
    s.seed = seed;
    char v[32];
    std::snprintf(v, sizeof v, "%g", s.kv);
    setenv2("voltage", v);
    std::snprintf(v, sizeof v, "%g", s.cs);
    setenv2("spherab", v);
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

}  // namespace

TEST(LiveCtfSeed, AnalyzeStartsFromTheEstimateAndFitKeepsTheDefocusWithinOnePercent) {
    std::printf(" case | truth  | seeded  | after fit | off     | line\n");
    unsigned seed = 1;
    for (const Case& c : kCases) {
        analyze(micrograph(c, seed++));
        ASSERT_TRUE(livec_is_open());
        ASSERT_NE(lcs.data, nullptr);
        const float truth = -c.s.defocus, seeded = shownDefocus();
        const std::string l = line();
        const float scale = (float)fl_get_slider_value(livec->ctfScale);
        const std::string out = said([] { fl_call_object_callback(livec->fitBtn); });
        const float fitted = lcs.defocus;
        std::printf(" %4u | %6.3f | %7.3f | %9.4f | %+6.2f %% | %s (scale %.2f)\n", seed - 1, truth, seeded, fitted,
                    100 * (fitted / truth - 1), l.c_str(), scale);
        EXPECT_NEAR(seeded, truth, 0.01 * std::fabs(truth)) << seed - 1;
        EXPECT_NEAR(fitted, truth, 0.01 * std::fabs(truth)) << seed - 1 << "\n" << out;
        EXPECT_TRUE(dlg_log().empty()) << dlg_log()[0];
        // "astig A um at T deg, res R A": the estimate's astigmatism and its direction.
        float astig = 0, angle = 0, res = 0;
        ASSERT_EQ(std::sscanf(l.c_str(), "astig %f um at %f deg, res %f A", &astig, &angle, &res), 3) << l;
        EXPECT_NEAR(astig, c.s.astig, 0.05) << l;
        if (c.s.astig >= 0.1f) {
            EXPECT_LE(std::fabs(std::remainder(angle - c.s.angle, 180.0)), 10) << l;
        }
        EXPECT_GE(res, 2 * c.s.pixel) << l;
    }
}
