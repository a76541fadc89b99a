// tarvik-proc flip-phases end to end: the flipped micrograph's transform
// against a textbook CTF's sign, flipping twice, the CTF from a table, from an
// estimate, and the refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ctf/report.h"
#include "fft/ifftsubs.h"
#include "numeric/fcrop.h"
#include "tests/core/ctf_synth.h"
#include "tests/core/ctf_textbook.h"
#include "tests/core/numeric_testutil.h"

namespace {

// The transform (uncentred, rows of nx + 2 floats) of a real image.
std::vector<float> transform(const MRCData& d) {
    int nx = d.xSize(), ny = d.ySize(), dir = 0;
    std::vector<float> a((size_t)(nx + 2) * ny);
    for (int y = 0; y < ny; y++) std::copy_n(d.getRealData() + (size_t)y * nx, nx, &a[(size_t)y * (nx + 2)]);
    todfft(a.data(), &nx, &ny, &dir);
    return a;
}

struct Flip {
    double u, v, angle, ac;
};

// Components where out = in x sign(CTF) fails, over all but the Nyquist column
// and row (there one stored value stands for two frequencies of either sign);
// components within 1e-2 of a zero of the CTF are passed over (the two
// wavelength formulas differ in the fifth digit).
long wrongSigns(const MRCData& in, const MRCData& out, const Flip& f, double pixel, long* flipped) {
    const int nx = in.xSize(), ny = in.ySize();
    const std::vector<float> A = transform(in), B = transform(out);
    // Float rounding of the transforms against the largest (mean) term: a hundredth of a typical component.
    double rms = 0;
    for (size_t i = 2; i < A.size(); i++) rms += (double)A[i] * A[i] / A.size();
    rms = std::sqrt(rms);
    long wrong = 0;
    *flipped = 0;
    for (int r = 0; r < ny; r++) {
        const int k = fft_freq_of(r, ny);
        if (2 * k == ny) continue;
        for (int h = 0; 2 * h < nx; h++) {
            const double t = textbookCtf(300, 2.7, f.ac, f.u, f.v, f.angle, h / (nx * pixel), k / (ny * pixel));
            if (std::fabs(t) < 1e-2) continue;
            const size_t i = (size_t)r * (nx + 2) + 2 * h;
            const double sign = t < 0 ? -1 : 1;
            const double tol = 1e-3 * std::hypot(A[i], A[i + 1]) + 1e-2 * rms;
            wrong += std::fabs(B[i] - sign * A[i]) > tol || std::fabs(B[i + 1] - sign * A[i + 1]) > tol;
            *flipped += t < 0;
        }
    }
    return wrong;
}

}  // namespace

TEST(ProcFlipPhases, TransformTimesTheSignOfTheAstigmaticCtfAndTwiceIsTheOriginal) {
    TempDir t;
    SynthCtf s;
    s.nx = s.ny = 512, s.pixel = 1.5f;
    const std::vector<float> img = synth_micrograph(s);
    ASSERT_TRUE(synth_write_mrc(t.path + "/m.mrc", img, 512, 512, 512, 1.5f));
    for (const Flip& f : {Flip{-1.6, -1.2, 30, 0.1}, Flip{-0.9, -1.4, 120, 0.1}}) {
        char opts[160];
        std::snprintf(opts, sizeof opts, "--defocus-u %g --defocus-v %g --angle %g --kv 300 --cs 2.7 --ac 0.1", f.u,
                      f.v, f.angle);
        std::string out;
        ASSERT_EQ(runProc(t.path, std::string("flip-phases m.mrc f.mrc ") + opts, &out), 0) << slurp(t.path + "/stderr.txt");
        EXPECT_EQ(out, "");
        Data in = readMrc(t.path + "/m.mrc"), flipped = readMrc(t.path + "/f.mrc");
        ASSERT_EQ(flipped->xSize(), 512);
        EXPECT_FLOAT_EQ(flipped->Pixres(), 1.5f);
        long n = 0;
        EXPECT_EQ(wrongSigns(*in, *flipped, f, 1.5, &n), 0) << opts;
        EXPECT_GT(n, 512 * 256 / 4) << opts;
        ASSERT_EQ(runProc(t.path, std::string("flip-phases f.mrc ff.mrc ") + opts), 0);
        Data twice = readMrc(t.path + "/ff.mrc");
        double worst = 0;
        for (size_t i = 0; i < img.size(); i++)
            worst = std::max(worst, (double)std::fabs(twice->getRealData()[i] - in->getRealData()[i]));
        EXPECT_LT(worst, 1e-3 * in->Sigma()) << opts;
    }
}

TEST(ProcFlipPhases, CtfFromATableOrAnEstimateAndRefusals) {
    TempDir t;
    SynthCtf s;
    s.pixel = 1.5f, s.defocus = 1.5f, s.astig = 0.2f, s.angle = 30;
    ASSERT_TRUE(synth_write_mrc(t.path + "/m.mrc", synth_micrograph(s), s.nx, s.nx, s.ny, 1.5f));
    // The table's row for m.mrc (under another folder) with its own microscope: the same as the options.
    CtfStarRow other{"x/other.mrc", {}}, row{"Movies/m.mrc", {}};
    other.estimate.defocusU = other.estimate.defocusV = -3;
    row.estimate.defocusU = -1.6f, row.estimate.defocusV = -1.4f, row.estimate.astigAngle = 30;
    CtfEstimateParams p;
    p.kv = 300, p.csMM = 2.7f, p.ac = 0.1f;
    spit(t.path + "/c.star", ctf_star_file({other, row}, p));
    ASSERT_EQ(runProc(t.path, "flip-phases m.mrc a.mrc --ctf c.star"), 0) << slurp(t.path + "/stderr.txt");
    ASSERT_EQ(runProc(t.path, "flip-phases m.mrc b.mrc --defocus-u -1.6 --defocus-v -1.4 --angle 30 --kv 300 --cs 2.7 "
                              "--ac 0.1"),
              0);
    EXPECT_EQ(slurp(t.path + "/a.mrc"), slurp(t.path + "/b.mrc"));
    // Without a CTF: the estimate tarvik-proc ctf makes (to the digits it prints,
    // so signs right beside a zero may differ).
    std::string line;
    ASSERT_EQ(runProc(t.path, "ctf m.mrc --kv 300 --cs 2.7", &line), 0);
    double d, u, v, ang;
    ASSERT_EQ(std::sscanf(line.c_str(), "%lf %lf %lf %lf", &d, &u, &v, &ang), 4);
    Data m = readMrc(t.path + "/m.mrc");
    ASSERT_EQ(runProc(t.path, "flip-phases m.mrc e.mrc --kv 300 --cs 2.7 --ac 0.07"), 0);
    Data e = readMrc(t.path + "/e.mrc");
    long n, wrong = wrongSigns(*m, *e, Flip{u, v, ang, 0.07}, 1.5, &n);
    EXPECT_LT(wrong, n / 1000) << n;
    // Refusals name what is wrong and write nothing.
    const std::pair<std::string, std::string> bad[] = {
        {"m.mrc z.mrc --ctf c.star --defocus-u -1", "flip-phases: give --ctf or --defocus-u/--defocus-v/--angle, not both"},
        {"m.mrc z.mrc --defocus-u -1", "flip-phases: --defocus-u and --defocus-v go together"},
        {"m.mrc z.mrc --defocus-u -1 --defocus-v x", "flip-phases: bad --defocus-v x"},
        {"m.mrc z.mrc --ctf missing.star", "flip-phases: cannot use missing.star"},
    };
    for (auto& [args, why] : bad) {
        EXPECT_EQ(runProc(t.path, "flip-phases " + args), 1) << args;
        EXPECT_NE(slurp(t.path + "/stderr.txt").find(why), std::string::npos) << slurp(t.path + "/stderr.txt");
    }
    spit(t.path + "/c2.star", ctf_star_file({other}, p));
    EXPECT_EQ(runProc(t.path, "flip-phases m.mrc z.mrc --ctf c2.star"), 1);
    EXPECT_NE(slurp(t.path + "/stderr.txt").find("flip-phases: c2.star has no row for m.mrc"), std::string::npos);
    EXPECT_EQ(access((t.path + "/z.mrc").c_str(), F_OK), -1);
}
