// The STAR reader and CTF tables, Fourier resampling and the 2-D CTF flip,
// each against values the test computes on its own.
#include <gtest/gtest.h>

#include <complex>

#include "core/star.h"
#include "ctf/ctf2d.h"
#include "ctf/report.h"
#include "numeric/fcrop.h"
#include "tests/core/ctf_textbook.h"
#include "tests/core/numeric_testutil.h"

namespace {

std::string parsed(const std::string& text, StarFile* st) {
    std::string why;
    return parseStar(text.data(), text.size(), st, &why) ? "" : why;
}

// Full complex DFT in double precision, exp(-2 pi i ...), unnormalised.
std::vector<std::complex<double>> dft(const std::vector<float>& v, int nx, int ny) {
    std::vector<std::complex<double>> out((size_t)nx * ny);
    for (int k = 0; k < ny; k++)
        for (int h = 0; h < nx; h++) {
            std::complex<double> s = 0;
            for (int y = 0; y < ny; y++)
                for (int x = 0; x < nx; x++)
                    s += (double)v[(size_t)y * nx + x] *
                         std::polar(1.0, -2 * M_PI * ((double)h * x / nx + (double)k * y / ny));
            out[(size_t)k * nx + h] = s;
        }
    return out;
}

}  // namespace

TEST(Star, TablesItemsAndRefusals) {
    StarFile st;
    EXPECT_EQ(parsed("# c\ndata_optics\nloop_\n_rlnOpticsGroup #1\n_rlnVoltage #2\n1 300\n2 200 # x\n\n"
                     "data_\n_rlnA 5\n_rlnB 'x y'\ndata_particles\nloop_\n_rlnX\n\"a b\"\n",
                     &st),
              "");
    ASSERT_EQ(st.tables.size(), 3u);
    EXPECT_EQ(st.tables[0].block, "optics");
    EXPECT_EQ(st.tables[0].rows, (std::vector<std::vector<std::string>>{{"1", "300"}, {"2", "200"}}));
    EXPECT_EQ(st.tables[0].lines, (std::vector<int>{6, 7}));
    EXPECT_FALSE(st.tables[1].loop);
    EXPECT_EQ(st.tables[1].rows, (std::vector<std::vector<std::string>>{{"5", "x y"}}));
    EXPECT_EQ(st.block("particles")->rows[0][0], "a b");
    EXPECT_EQ(st.find({"_rlnVoltage", "_rlnOpticsGroup"}), &st.tables[0]);
    EXPECT_EQ(st.find({"_rlnVoltage", "_rlnX"}), nullptr);
    const std::pair<std::string, const char*> bad[] = {
        {"data_\nloop_\n_a\n_b\n1 2\n3\n", "line 6: 1 values for 2 columns"},
        {"data_\n_a\n", "line 2: an item without a value"},
        {"data_\nloop_\n_a\n'x\n", "line 4: unterminated quote"},
        {std::string("data_\n\0\n", 8), "line 2: not a line of text (too long, or binary)"},
        {"data_\n" + std::string(9000, 'x'), "line 2: not a line of text (too long, or binary)"},
    };
    for (auto& [text, why] : bad) EXPECT_EQ(parsed(text, &st), why);
    EXPECT_TRUE(st.tables.empty());
    EXPECT_TRUE(starValueOk("Movies/a_001.mrc"));
    for (const char* v : {"a b", "", "_x", "data_x", "#", "'q", "tab\tx"}) EXPECT_FALSE(starValueOk(v)) << v;
}

TEST(Star, CtfTablesReadBackWithTheirOptics) {
    TempDir t(true);
    CtfEstimate e;
    e.defocusU = -2.1f;
    e.defocusV = -1.9f;
    e.astigAngle = 33.5f;
    e.resolution = 3.25f;
    e.score = 0.125f;
    CtfEstimateParams p;
    p.kv = 300;
    p.csMM = 2.7f;
    p.ac = 0.1f;
    spit("ctf.star", ctf_star_file({{"Mics/a.mrc", e}, {"Other/a.mrc", e}}, p));
    // RELION 3.1 micrographs with an optics block and no optics columns in the rows.
    spit("r31.star",
         "data_optics\nloop_\n_rlnOpticsGroupName\n_rlnOpticsGroup\n_rlnVoltage\n_rlnSphericalAberration\n"
         "_rlnAmplitudeContrast\nopticsGroup1 1 200 2.0 0.07\nopticsGroup2 2 300 2.7 0.1\n\ndata_micrographs\nloop_\n"
         "_rlnMicrographName\n_rlnOpticsGroup\n_rlnDefocusU\n_rlnDefocusV\nx/c.mrc 2 15000 14000\n");
    std::vector<CtfStarRow> rows;
    ASSERT_EQ(ctf_star_read("ctf.star", &rows), 1);
    ASSERT_EQ(rows.size(), 2u);
    const CtfEstimate& r = rows[1].estimate;
    EXPECT_EQ(rows[1].micrograph, "Other/a.mrc");
    const double got[] = {r.defocusU, r.defocusV, r.defocus, r.astigAngle, r.resolution, r.score};
    const double want[] = {-2.1, -1.9, -2.0, 33.5, 3.25, 0.125};
    for (int i = 0; i < 6; i++) EXPECT_NEAR(got[i], want[i], 1e-5 * (1 + std::fabs(want[i]))) << i;
    EXPECT_EQ(std::vector<float>({rows[1].kv, rows[1].csMM, rows[1].ac}), std::vector<float>({300, 2.7f, 0.1f}));
    EXPECT_EQ(ctf_star_find(rows, "Other/a.mrc"), &rows[1]);
    EXPECT_EQ(ctf_star_find(rows, "z/a.mrc"), nullptr);  // two folders hold a.mrc: no guessing
    ASSERT_EQ(ctf_star_read("r31.star", &rows), 1);
    EXPECT_EQ(std::vector<float>({rows[0].kv, rows[0].csMM, rows[0].ac}), std::vector<float>({300, 2.7f, 0.1f}));
    EXPECT_NEAR(rows[0].estimate.defocusU, -1.5, 1e-6);
    EXPECT_EQ(ctf_star_find(rows, "elsewhere/c.mrc"), &rows[0]);  // the same file name in another folder
    spit("bad.star", "data_\nloop_\n_rlnMicrographName\n_rlnDefocusU\n_rlnDefocusV\na.mrc 1e400 3\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(ctf_star_read("bad.star", &rows), 0); }), "bad.star line 6: not a CTF row\n");
    spit("none.star", "data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n1 2\n");
    EXPECT_EQ(captured([&] { EXPECT_EQ(ctf_star_read("none.star", &rows), 0); }),
              "none.star: no table with _rlnMicrographName, _rlnDefocusU and _rlnDefocusV\n");
}

TEST(FourierResize, KeepsTheSharedFrequenciesAndTheMean) {
    // Cosines inside the smaller band come out as the same cosines on the new
    // grid; one beyond it is gone.
    struct Wave {
        int u, v;
        double a, ph;
    };
    const Wave inside[] = {{0, 0, 1.5, 0}, {1, 2, 1.0, 0.3}, {-3, 1, 0.7, 1.1}, {2, -3, 0.4, -0.5}};
    const Wave beyond = {9, 1, 2.0, 0.2};
    const int nx = 40, ny = 24;
    auto value = [&](const Wave& w, double x, double y, int sx, int sy) {
        return w.a * std::cos(2 * M_PI * (w.u * x / sx + w.v * y / sy) + w.ph);
    };
    std::vector<float> src((size_t)nx * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) {
            double s = value(beyond, x, y, nx, ny);
            for (const Wave& w : inside) s += value(w, x, y, nx, ny);
            src[(size_t)y * nx + x] = (float)s;
        }
    for (auto [mx, my] : {std::pair<int, int>{16, 12}, {80, 36}}) {
        std::vector<float> out;
        ASSERT_EQ(fourier_resize(src.data(), nx, ny, mx, my, &out), 1);
        double worst = 0;
        for (int y = 0; y < my; y++)
            for (int x = 0; x < mx; x++) {
                double s = mx > nx ? value(beyond, x, y, mx, my) : 0;
                for (const Wave& w : inside) s += value(w, x, y, mx, my);
                worst = std::max(worst, std::fabs(s - out[(size_t)y * mx + x]));
            }
        EXPECT_LT(worst, 1e-4) << mx << "x" << my;
    }
    std::vector<float> out;
    EXPECT_EQ(fourier_resize(src.data(), nx, ny, 46, 12, &out), 0);  // 23 has a prime above 19
    EXPECT_EQ(fourier_resize(src.data(), nx, ny, 15, 12, &out), 0);  // odd
}

TEST(Ctf2d, FlipMultipliesTheTransformByTheSignOfTheCtf) {
    const int nx = 48, ny = 40;
    const double pixel = 2.0;
    std::vector<float> img = noiseValues((size_t)nx * ny, 5);
    const auto F = dft(img, nx, ny);
    for (double angle : {30.0, 125.0}) {
        const Ctf2d c{-1.6, -0.9, angle};  // 300 kV, Cs 2.7 mm, 10% amplitude contrast
        std::vector<float> out = img;
        ASSERT_EQ(ctf2d_flip(out.data(), nx, ny, pixel, c), 1);
        const auto G = dft(out, nx, ny);
        int checked = 0, wrong = 0;
        for (int k = 0; k < ny; k++)
            for (int h = 0; h < nx; h++) {
                const double sx = fft_freq_of(h, nx) / (nx * pixel), sy = fft_freq_of(k, ny) / (ny * pixel);
                const double ctf = textbookCtf(300, 2.7, 0.1, c.defocusU, c.defocusV, angle, sx, sy);
                if (std::fabs(ctf) < 0.05 || h == nx / 2 || k == ny / 2) continue;  // zeros and Nyquist: either sign
                checked++;
                const auto want = (ctf < 0 ? -1.0 : 1.0) * F[(size_t)k * nx + h];
                if (std::abs(G[(size_t)k * nx + h] - want) > 1e-3 * (1 + std::abs(want))) wrong++;
                EXPECT_NEAR(ctf2d_value(c, sx, sy), ctf, 5e-3);  // the model rounds its wavelength
            }
        EXPECT_GT(checked, nx * ny / 2);
        EXPECT_EQ(wrong, 0) << angle;
        ASSERT_EQ(ctf2d_flip(out.data(), nx, ny, pixel, c), 1);
        EXPECT_LT(relRms(img.data(), out.data(), img.size()), 1e-5);  // twice: the original
    }
}
