// Batch CTF estimation against synthetic micrographs of known CTF, its
// refusals, the sector profiles it is built on and its output lines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/star.h"
#include "ctf/estimate.h"
#include "ctf/report.h"
#include "tests/core/ctf_synth.h"

TEST(CtfEstimate, SyntheticMicrographsWithinTargets) {
    std::printf("   size       px   kV   Cs | defocus  estimate | astig  estimate | angle estimate | res   score\n");
    unsigned seed = 1;
    for (SynthCase c : synth_estimator_cases()) {
        c.s.seed = seed++;
        const std::vector<float> img = synth_crop(synth_micrograph(c.s), c.s.nx, c.cropX, c.cropY);
        CtfEstimateParams p;
        p.pixel = c.s.pixel, p.kv = c.s.kv, p.csMM = c.s.cs, p.ac = 0.07f;
        CtfEstimate e;
        ASSERT_EQ(ctf_estimate(img.data(), c.cropX, c.cropY, p, &e), 1) << e.why;
        const double astig = e.defocusV - e.defocusU;
        double dAngle = e.astigAngle - c.s.angle;
        dAngle -= 180 * std::round(dAngle / 180);
        std::printf("%5dx%-5d %4.1f %4.0f %4.1f | %7.3f %9.4f | %5.2f %8.3f | %5.0f %8.1f | %4.1f %6.3f\n", c.cropX,
                    c.cropY, c.s.pixel, c.s.kv, c.s.cs, -c.s.defocus, e.defocus, c.s.astig, astig, c.s.angle,
                    e.astigAngle, e.resolution, e.score);
        const std::string id = "case " + std::to_string(seed - 1);
        EXPECT_NEAR(-e.defocus, c.s.defocus, 0.01 * c.s.defocus) << id;
        EXPECT_NEAR(astig, c.s.astig, 0.05) << id;
        EXPECT_LE(e.defocusU, e.defocusV) << id;  // u is the more underfocused
        EXPECT_NEAR((e.defocusU + e.defocusV) / 2, e.defocus, 1e-4) << id;
        if (c.s.astig >= 0.1f) {
            EXPECT_LE(std::fabs(dAngle), 10) << id;
        }
        EXPECT_TRUE(e.astigAngle >= 0 && e.astigAngle < 180) << id;
        // Out to where the rings still stand above the noise: past the first few, not past Nyquist.
        EXPECT_GE(e.resolution, 2 * c.s.pixel) << id;
        EXPECT_LT(e.resolution, 1 / e.zeros.at(2)) << id;
        EXPECT_GT(e.score, 0.05) << id;
    }
}

TEST(CtfEstimate, RefusesWhatHoldsNoRings) {
    SynthCtf s;
    s.bfactor = 1e6f;  // the envelope takes every ring away
    std::vector<float> noise = synth_micrograph(s), blank(1024 * 1024, 3.0f), nan = noise, small(300 * 200, 1.0f);
    // Particles alone: their spectrum ends before the first zero, and their own
    // ring pattern must not pass for Thon rings.
    SynthCtf b;
    b.nx = b.ny = 2048, b.texture = 0, b.noise = 0.1f, b.astig = 0.2f, b.angle = 30;
    std::vector<float> particles = synth_micrograph(b);
    nan[5000] = NAN;
    small[7] = 2;
    struct {
        const std::vector<float>* img;
        int nx, ny;
        float pixel;
        const char* why;
    } cases[] = {
        {&small, 300, 200, 1.5f, "micrograph too small"},
        {&blank, 1024, 1024, 1.5f, "blank micrograph"},
        {&nan, 1024, 1024, 1.5f, "micrograph holds invalid values"},
        {&noise, 1024, 1024, 1.5f, "no Thon rings found"},
        {&particles, 2048, 2048, 1.5f, "no Thon rings found"},
        {&noise, 1024, 1024, 0.0f, "bad microscope parameters"},
    };
    for (auto& c : cases) {
        CtfEstimateParams p;
        p.pixel = c.pixel, p.kv = 300, p.csMM = 2.7f;
        CtfEstimate e;
        EXPECT_EQ(ctf_estimate(c.img->data(), c.nx, c.ny, p, &e), 0) << c.why;
        EXPECT_STREQ(e.why, c.why);
    }
}

TEST(CtfEstimate, SectorProfilesBinByDirectionAndRadius) {
    // Amplitude 2 at four pairs of a 64 by 64 transform, nothing elsewhere.
    const int n = 64, nx = n + 2;
    std::vector<float> v((size_t)nx * n, 0.0f);
    auto put = [&](int h, int k) { v[(size_t)(k + n / 2) * nx + 2 * h] = 2; };
    put(10, 0), put(0, 7), put(6, 6), put(5, -12);  // 0, 90, 45 (radius 8.485), -67.4 = 112.6 degrees (radius 13)
    MRCData d;
    d.setComplData(v.data(), nx, n, 1);
    const int sectors = 36, bins = 32;
    std::vector<float> W(sectors * bins, 0.0f), P(sectors * bins, 0.0f);
    d.radialPower(1.0f, bins, sectors, W.data(), P.data());
    auto p = [&](int sector, int bin) { return P[sector * bins + bin]; };
    EXPECT_FLOAT_EQ(p(0, 10), 4);
    EXPECT_FLOAT_EQ(p(18, 7), 4);
    EXPECT_NEAR(p(9, 8), 4 * (9 - std::sqrt(72.0)), 1e-5);
    EXPECT_NEAR(p(9, 9), 4 * (std::sqrt(72.0) - 8), 1e-5);
    EXPECT_FLOAT_EQ(p(23, 13), 4);  // 112.6 degrees is nearest the sector of 115
    double total = 0, weight = 0;
    for (int i = 0; i < sectors * bins; i++) total += P[i], weight += W[i];
    EXPECT_NEAR(total, 16, 1e-4);
    // Every pair of the half plane inside the last bin counts once.
    int inside = 0;
    for (int k = -n / 2; k < n / 2; k++)
        for (int h = 0; h <= n / 2; h++) inside += std::sqrt((float)(h * h + k * k)) < bins - 1;
    EXPECT_NEAR(weight, inside, 1e-2);
}

TEST(CtfReport, NamesInJsonAndStar) {
    CtfEstimate e;
    e.defocus = -1.25f, e.defocusU = -1.3f, e.defocusV = -1.2f, e.astigAngle = 12.5f, e.resolution = 4.5f;
    e.score = 0.25f;
    // Quotes, backslash and control characters escaped; valid UTF-8 kept, a stray byte replaced.
    EXPECT_EQ(
        ctf_json_line("a\"b\\c\td\xC3\xA9\xFF.mrc", e),
        "{\"file\": \"a\\\"b\\\\c\\u0009d\xC3\xA9\xEF\xBF\xBD.mrc\", \"defocus\": -1.2500, \"defocus_u\": -1.3000, "
        "\"defocus_v\": -1.2000, \"astig_angle\": 12.5, \"resolution\": 4.50, \"score\": 0.2500}\n");
    EXPECT_EQ(ctf_text_line("x y.mrc", e), "-1.2500 -1.3000 -1.2000 12.5 4.50 0.2500 x y.mrc\n");
    EXPECT_FALSE(starValueOk("\"q\""));  // the other quote; the rest of the rule is tested with the STAR reader
}
