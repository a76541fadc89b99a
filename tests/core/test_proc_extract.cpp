// tarvik-proc extract: micrographs with picks files and a CTF table into MRC
// stacks and a RELION 3.1 particles.star, read back by the project's readers
// and by RELION's own tools; bad input named, no partial stack; agreement
// with relion_preprocess where RELION is installed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "core/List.h"
#include "core/anyformat.h"
#include "core/formats.h"
#include "core/star.h"
#include "pick/extract.h"
#include "tests/core/ctf_synth.h"
#include "tests/core/numeric_testutil.h"
#include "tests/core/tempdir.h"

namespace {

std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> e = dirEntries(dir);
    std::sort(e.begin(), e.end());
    return e;
}

bool haveTool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// A micrograph file with noise and a slope, recording its pixel size.
std::vector<float> writeMicrograph(const std::string& path, int nx, int ny, float pixel, unsigned seed) {
    std::vector<float> v = noiseValues((size_t)nx * ny, seed);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) v[(size_t)y * nx + x] += 50 + 0.01f * x - 0.02f * y;
    Data d = realData(v, nx, ny);
    d->setPixres(pixel);
    writeMrc(d.get(), path);
    return v;
}

std::string coordinates(const std::vector<std::pair<double, double>>& c) {
    std::string s = "\ndata_\n\nloop_\n_rlnCoordinateX #1\n_rlnCoordinateY #2\n";
    for (auto& p : c) s += std::to_string(p.first) + " " + std::to_string(p.second) + "\n";
    return s;
}

const char* const kCtfTable =
    "data_micrographs\nloop_\n_rlnMicrographName\n_rlnDefocusU\n_rlnDefocusV\n_rlnDefocusAngle\n"
    "_rlnCtfMaxResolution\n_rlnVoltage\n_rlnSphericalAberration\n_rlnAmplitudeContrast\n"
    "m1.mrc 15000 14000 30 4.5 300 2.7 0.1\nm2.mrc 21000 20500 120 3.8 300 2.7 0.1\n";

std::vector<std::vector<std::string>> columnsOf(const StarTable* t, std::initializer_list<const char*> names) {
    std::vector<std::vector<std::string>> out;
    for (const auto& row : t->rows) {
        std::vector<std::string> r;
        for (const char* n : names) r.push_back(t->column(n) < 0 ? "absent" : row[t->column(n)]);
        out.push_back(r);
    }
    return out;
}

List* stack(const std::string& path) {
    List* l = nullptr;
    captured([&] { l = readMRCFile(path.c_str()); });
    return l;
}

}  // namespace

TEST(ProcExtract, StacksAndARelionParticleTableThatReadBack) {
    TempDir t;
    const std::vector<float> m1 = writeMicrograph(t / "m1.mrc", 300, 260, 1.25f, 1);
    writeMicrograph(t / "m2.mrc", 200, 180, 1.25f, 2);
    mkdir((t / "coords").c_str(), 0777);
    // m1: one pick with fractions, one at the edge; m2 picked as an EMAN2 box file would be.
    spit(t / "coords/m1_autopick.star", coordinates({{100, 120}, {150.7, 80.2}, {10, 100}, {250, 200}}));
    spit(t / "ctf.star", kCtfTable);
    const std::string args =
        "extract m1.mrc m2.mrc --size 32 --bin 2 --picks coords --ctf ctf.star --invert --out Parts";
    std::string out;
    ASSERT_EQ(runProc(t.path, args, &out), 1);
    // m2 has no picks file: named, and m1 extracted all the same.
    EXPECT_EQ(out, "m1.mrc: 3 particles written, 1 skipped at the edge, Parts/m1.mrcs\n");
    EXPECT_NE(slurp(t / "stderr.txt").find("tarvik-proc: m2.mrc: cannot read the picks coords/m2_autopick.star\n"),
              std::string::npos);
    spit(t / "coords/m2_autopick.star", coordinates({{100, 90}}));
    ASSERT_EQ(runProc(t.path, args, &out), 0) << slurp(t / "stderr.txt");
    EXPECT_EQ(out,
              "m1.mrc: 3 particles written, 1 skipped at the edge, Parts/m1.mrcs\n"
              "m2.mrc: 1 particles written, 0 skipped at the edge, Parts/m2.mrcs\n");
    EXPECT_EQ(entries(t / "Parts"), (std::vector<std::string>{"m1.mrcs", "m2.mrcs", "particles.star"}));

    StarFile st;
    ASSERT_EQ(readStar((t / "Parts/particles.star").c_str(), &st), 1);
    ASSERT_EQ(st.tables.size(), 2u);
    const StarTable* optics = st.block("optics");
    ASSERT_TRUE(optics && optics->loop);
    EXPECT_EQ(optics->columns,
              (std::vector<std::string>{"_rlnOpticsGroupName", "_rlnOpticsGroup", "_rlnMicrographOriginalPixelSize",
                                        "_rlnVoltage", "_rlnSphericalAberration", "_rlnAmplitudeContrast",
                                        "_rlnImagePixelSize", "_rlnImageSize", "_rlnImageDimensionality",
                                        "_rlnCtfDataAreCtfPremultiplied"}));
    EXPECT_EQ(optics->rows,
              (std::vector<std::vector<std::string>>{{"opticsGroup1", "1", "1.250000", "300.000000", "2.700000",
                                                      "0.100000", "2.500000", "16", "2", "0"}}));
    const StarTable* parts = st.block("particles");
    ASSERT_TRUE(parts && parts->loop);
    EXPECT_EQ(
        columnsOf(parts,
                  {"_rlnCoordinateX", "_rlnCoordinateY", "_rlnImageName", "_rlnMicrographName", "_rlnOpticsGroup",
                   "_rlnDefocusU", "_rlnDefocusV", "_rlnDefocusAngle", "_rlnCtfMaxResolution"}),
        (std::vector<std::vector<std::string>>{
            {"100.000000", "120.000000", "1@Parts/m1.mrcs", "m1.mrc", "1", "15000.00", "14000.00", "30.00", "4.500"},
            {"150.700000", "80.200000", "2@Parts/m1.mrcs", "m1.mrc", "1", "15000.00", "14000.00", "30.00", "4.500"},
            {"250.000000", "200.000000", "3@Parts/m1.mrcs", "m1.mrc", "1", "15000.00", "14000.00", "30.00", "4.500"},
            {"100.000000", "90.000000", "1@Parts/m2.mrcs", "m2.mrc", "1", "21000.00", "20500.00", "120.00", "3.800"}}));
    // The stack: the particles in pick order, each the extraction of its
    // centre cut to whole pixels, the binned pixel size recorded.
    List* l = stack(t / "Parts/m1.mrcs");
    ASSERT_TRUE(l);
    ASSERT_EQ(l->count(), 3);
    const int centres[3][2] = {{100, 120}, {150, 80}, {250, 200}};
    const ExtractParams p{32, 2, 0, true, true, true};  // inverted
    std::vector<float> want(16 * 16);
    for (int k = 0; k < 3; k++) {
        MRCData* d = static_cast<MRCData*>(l->objectAt(k));
        ASSERT_EQ(d->xSize() * 100 + d->ySize(), 1616);
        EXPECT_FLOAT_EQ(d->Pixres(), 2.5f);
        ASSERT_EQ(extract_particle(m1.data(), 300, 260, centres[k][0], centres[k][1], p, 1.25, nullptr, want.data()),
                  1);
        EXPECT_LT(relRms(want.data(), d->getRealData(), want.size()), 1e-6) << k;
    }
    freeDataList(l);

    if (!haveTool("relion_star_printtable")) GTEST_SKIP() << "RELION is not installed";
    auto relion = [&](const std::string& cmd, std::string* o) {
        return runCommand("cd '" + t.path + "' && " + cmd, o);
    };
    ASSERT_EQ(relion("relion_star_printtable Parts/particles.star data_particles rlnImageName rlnMicrographName "
                     "rlnDefocusV rlnCoordinateX 2>&1",
                     &out),
              0);
    EXPECT_EQ(out,
              "1@Parts/m1.mrcs m1.mrc 14000.00 100.000000\n2@Parts/m1.mrcs m1.mrc 14000.00 150.700000\n"
              "3@Parts/m1.mrcs m1.mrc 14000.00 250.000000\n1@Parts/m2.mrcs m2.mrc 20500.00 100.000000\n");
    ASSERT_EQ(relion("relion_star_printtable Parts/particles.star data_optics rlnImagePixelSize rlnImageSize "
                     "rlnMicrographOriginalPixelSize rlnCtfDataAreCtfPremultiplied",
                     &out),
              0);
    EXPECT_EQ(out, "2.500000 16 1.250000 0\n");
    ASSERT_EQ(relion("relion_image_handler --i Parts/m1.mrcs --stats 2>&1", &out), 0);
    int lines = 0;
    for (size_t i = 0; (i = out.find("(x,y,z,n)= 16 x 16 x 1 x 1 ; avg=", i)) != std::string::npos; i++) lines++;
    EXPECT_EQ(lines, 3) << out;
    EXPECT_NE(out.find("angpix = 2.5"), std::string::npos) << out;
}

TEST(ProcExtract, BadInputIsNamedLeavesNoStackAndTheOthersGoOn) {
    TempDir t;
    writeMicrograph(t / "m1.mrc", 300, 260, 1.25f, 1);
    writeMicrograph(t / "small.mrc", 100, 100, 1.25f, 2);
    writeMicrograph(t / "far.mrc", 300, 260, 1.25f, 3);
    writeMicrograph(t / "noctf.mrc", 300, 260, 1.25f, 4);
    writeMicrograph(t / "nopix.mrc", 300, 260, 0, 5);
    mkdir((t / "dup").c_str(), 0777);
    writeMicrograph(t / "dup/m1.mrc", 300, 260, 1.25f, 6);
    for (const char* m : {"m1", "small", "noctf", "nopix", "dup/m1"})
        spit(t / (std::string(m) + "_autopick.star"), coordinates({{150, 130}}));
    // Picked on a micrograph twice the size.
    spit(t / "far_autopick.star", coordinates({{150, 130}, {580, 40}}));
    std::string table = kCtfTable;
    for (const char* m : {"small.mrc", "far.mrc", "nopix.mrc", "dup/m1.mrc"})
        table += std::string(m) + " 15000 14000 30 4.5 300 2.7 0.1\n";
    spit(t / "ctf.star", table);
    std::string out;
    EXPECT_EQ(runProc(t.path,
                      "extract m1.mrc small.mrc far.mrc noctf.mrc nopix.mrc dup/m1.mrc --size 128 "
                      "--ctf ctf.star --out P",
                      &out),
              1);
    EXPECT_EQ(out, "m1.mrc: 1 particles written, 0 skipped at the edge, P/m1.mrcs\n");
    const std::string err = slurp(t / "stderr.txt");
    for (const char* why : {"tarvik-proc: small.mrc: a 128 pixel box is larger than the 100 x 100 micrograph\n",
                            "tarvik-proc: ./far_autopick.star: the pick at (580, 40) lies outside the 300 x 260 "
                            "micrograph; picked on another size?\n",
                            "tarvik-proc: noctf.mrc: not in the CTF table ctf.star\n",
                            "tarvik-proc: nopix.mrc: the file records no pixel size; give it (--pixel A)\n",
                            "tarvik-proc: dup/m1.mrc: its stack P/m1.mrcs is already that of m1.mrc\n"})
        EXPECT_NE(err.find(why), std::string::npos) << why << "\n" << err;
    EXPECT_EQ(entries(t / "P"), (std::vector<std::string>{"m1.mrcs", "particles.star"}));
    // Nothing at all to write: said, and no table.
    EXPECT_EQ(runProc(t.path, "extract small.mrc --size 128 --out Q", &out), 1);
    EXPECT_EQ(out, "");
    EXPECT_NE(slurp(t / "stderr.txt").find("tarvik-proc: extract: no particles: Q/particles.star not written\n"),
              std::string::npos);
    EXPECT_EQ(entries(t / "Q"), std::vector<std::string>{});
    // Unusable parameters stop before anything is read.
    EXPECT_EQ(runProc(t.path, "extract m1.mrc --size 100 --bin 3 --out R", &out), 1);
    EXPECT_NE(slurp(t / "stderr.txt")
                  .find("tarvik-proc: extract: binning 3 of a 100 pixel box leaves no even "
                        "particle size of at least 8 pixels\n"),
              std::string::npos);
    EXPECT_NE(access((t / "R").c_str(), F_OK), 0);
}

TEST(ProcExtract, AgreesWithRelionPreprocessPixelByPixel) {
    if (!haveTool("relion_preprocess")) GTEST_SKIP() << "RELION is not installed";
    TempDir t;
    SynthCtf sc;
    sc.nx = sc.ny = 512;
    const std::vector<float> v = synth_micrograph(sc);
    ASSERT_TRUE(synth_write_mrc(t / "mic.mrc", v, 512, 512, 512, sc.pixel));
    spit(t / "mics.star",
         "data_optics\nloop_\n_rlnOpticsGroupName\n_rlnOpticsGroup\n_rlnMicrographPixelSize\n"
         "_rlnVoltage\n_rlnSphericalAberration\n_rlnAmplitudeContrast\nopticsGroup1 1 1.5 300 2.7 "
         "0.1\n\ndata_micrographs\nloop_\n_rlnMicrographName\n_rlnOpticsGroup\nmic.mrc 1\n");
    mkdir((t / "c").c_str(), 0777);
    spit(t / "c/mic_pick.star",
         coordinates({{100, 100}, {256, 300}, {300.8, 150.3}, {411, 97}, {64, 448}, {448, 64}, {200.5, 399.99}}));
    // RELION's box for a centre X runs from floor(X) - N/2; its background
    // radius counts pixels of the particle as written (after --scale).
    const struct {
        const char* relion;
        const char* ours;
    } rows[] = {
        {"--norm --bg_radius 48 --invert_contrast", "--radius 48 --invert"},
        {"--norm --bg_radius 30 --no_ramp", "--radius 30 --no-ramp"},
        {"--norm --bg_radius 20 --invert_contrast --scale 64", "--radius 20 --invert --bin 2"},
    };
    int run = 0;
    for (const auto& r : rows) {
        const std::string rd = "R" + std::to_string(run), od = "O" + std::to_string(run++);
        ASSERT_EQ(runCommand("cd '" + t.path +
                             "' && relion_preprocess --i mics.star --coord_dir c/ --coord_suffix "
                             "_pick.star --part_star " +
                             rd + "/particles.star --part_dir " + rd + "/ --extract --extract_size 128 " + r.relion +
                             " >/dev/null 2>&1"),
                  0);
        std::string out;
        ASSERT_EQ(
            runProc(t.path, "extract mic.mrc --size 128 --picks c --picks-suffix _pick.star --out " + od + " " + r.ours,
                    &out),
            0);
        List* a = stack(t / (od + "/mic.mrcs"));
        List* b = stack(t / (rd + "/mic.mrcs"));
        ASSERT_TRUE(a && b);
        ASSERT_EQ(a->count(), 7);
        ASSERT_EQ(b->count(), 7);
        double worst = 0;  // the largest pixel difference, in standard deviations of RELION's particle
        for (int k = 0; k < 7; k++) {
            const MRCData* p = static_cast<MRCData*>(a->objectAt(k));
            const MRCData* q = static_cast<MRCData*>(b->objectAt(k));
            ASSERT_EQ(p->xSize(), q->xSize());
            const int n = p->xSize() * p->ySize();
            const float *u = p->getRealData(), *w = q->getRealData();
            double sw = 0, sww = 0, md = 0;
            for (int i = 0; i < n; i++)
                sw += w[i], sww += (double)w[i] * w[i], md = std::max(md, (double)std::fabs(u[i] - w[i]));
            worst = std::max(worst, md / std::sqrt(sww / n - sw / n * sw / n));
        }
        std::printf("relion_preprocess %s: worst pixel difference %.2e of the sd\n", r.relion, worst);
        EXPECT_LT(worst, 1e-3) << r.relion;
        freeDataList(a);
        freeDataList(b);
    }
}

TEST(ProcExtract, FlipWithoutATableEstimatesTheCtfAndSaysTheParticlesAreFlipped) {
    TempDir t;
    SynthCtf sc;
    sc.defocus = 1.5f;
    sc.astig = 0.2f;
    sc.angle = 30;
    const std::vector<float> v = synth_micrograph(sc);
    ASSERT_TRUE(synth_write_mrc(t / "mic.mrc", v, sc.nx, sc.nx, sc.ny, sc.pixel));
    spit(t / "mic_autopick.star", coordinates({{300, 300}, {700.5, 500}}));
    std::string out;
    ASSERT_EQ(runProc(t.path, "extract mic.mrc --size 64 --flip-phases --kv 300 --cs 2.7 --ac 0.07 --out F", &out), 0)
        << slurp(t / "stderr.txt");
    EXPECT_EQ(out, "mic.mrc: 2 particles written, 0 skipped at the edge, F/mic.mrcs\n");
    StarFile st;
    ASSERT_EQ(readStar((t / "F/particles.star").c_str(), &st), 1);
    const StarTable* optics = st.block("optics");
    ASSERT_TRUE(optics);
    EXPECT_EQ(columnsOf(optics, {"_rlnCtfDataAreCtfPremultiplied", "_rlnCtfDataArePhaseFlipped", "_rlnVoltage"}),
              (std::vector<std::vector<std::string>>{{"0", "1", "300.000000"}}));
    const StarTable* parts = st.block("particles");
    ASSERT_TRUE(parts && parts->rows.size() == 2);
    double u, w, ang;
    ASSERT_TRUE(starNumber(parts->rows[0][parts->column("_rlnDefocusU")], 0, 1e6, &u));
    ASSERT_TRUE(starNumber(parts->rows[0][parts->column("_rlnDefocusV")], 0, 1e6, &w));
    ASSERT_TRUE(starNumber(parts->rows[0][parts->column("_rlnDefocusAngle")], -360, 360, &ang));
    EXPECT_NEAR(u, 16000, 400);  // the synthetic micrograph's 1.5 +- 0.1 micrometres underfocus
    EXPECT_NEAR(w, 14000, 400);
    EXPECT_NEAR(std::remainder(ang - 30, 180), 0, 10);
    // The second particle is the flip with that CTF, its centre cut to (700, 500).
    const Ctf2d c{-u / 1e4, -w / 1e4, ang, 300, 2.7, 0.07};
    ExtractParams p{64};
    p.flip = true;
    std::vector<float> want(64 * 64);
    ASSERT_EQ(extract_particle(v.data(), sc.nx, sc.ny, 700, 500, p, sc.pixel, &c, want.data()), 1);
    List* l = stack(t / "F/mic.mrcs");
    ASSERT_TRUE(l && l->count() == 2);
    EXPECT_LT(relRms(want.data(), static_cast<MRCData*>(l->objectAt(1))->getRealData(), want.size()), 1e-3);
    freeDataList(l);
}
