// tarvik-proc ctf end to end: result lines, failures, the STAR table as RELION
// reads it, the SVG plot, and one estimate per micrograph through GNU parallel.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tests/core/ctf_synth.h"
#include "tests/core/testutil.h"

namespace {

struct Micrograph {
    const char* name;
    float defocus, astig, angle, recordedPixel;
};
// 1.5 Angstrom pixels, 300 kV, Cs 2.7 mm; the last records no pixel size.
const Micrograph kMics[] = {
    {"m1.mrc", 1.5f, 0.2f, 30, 1.5f}, {"m2.mrc", 2.4f, 0.0f, 0, 1.5f}, {"m3.mrc", 0.9f, 0.3f, 100, 0}};

class ProcCtf : public testing::Test {
protected:
    static std::string dir;
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/tarvik-procctf-XXXXXX";
        dir = mkdtemp(tmpl);
        mkdir((dir + "/home").c_str(), 0700);
        unsigned seed = 11;
        for (const Micrograph& m : kMics) {
            SynthCtf s;
            s.pixel = 1.5f, s.defocus = m.defocus, s.astig = m.astig, s.angle = m.angle, s.seed = seed++;
            synth_write_mrc(dir + "/" + m.name, synth_micrograph(s), s.nx, s.nx, s.ny, m.recordedPixel);
        }
        SynthCtf small;
        small.nx = small.ny = 512;
        synth_write_mrc(dir + "/small.mrc", synth_micrograph(small), 512, 512, 512, 1.5f);
        spit(dir + "/blank.mrc", std::string(1024, '\0'));
        synth_write_mrc(dir + "/flat.mrc", std::vector<float>(1024 * 1024, 7.0f), 1024, 1024, 1024, 1.5f);
    }
    static void TearDownTestSuite() { (void)!std::system(("rm -rf '" + dir + "'").c_str()); }

    // Runs a command in the folder (tarvik-proc for "ctf ...") with HOME in it; stdout in *out, stderr in err().
    int run(const std::string& args, std::string* out = nullptr) {
        const std::string cmd = args.rfind("ctf ", 0) == 0 ? "'" TARVIK_PROC "' " + args : args;
        return runCommand("cd '" + dir + "' && HOME='" + dir + "/home' " + cmd + " 2>stderr.txt", out);
    }
    std::string err() { return slurp(dir + "/stderr.txt"); }
    static bool have(const char* tool) { return runCommand(std::string("command -v ") + tool + " >/dev/null") == 0; }
};
std::string ProcCtf::dir;

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

// The JSON number after "key": in a line.
double jsonValue(const std::string& line, const std::string& key) {
    size_t at = line.find("\"" + key + "\": ");
    return at == std::string::npos ? NAN : std::atof(line.c_str() + at + key.size() + 4);
}

}  // namespace

TEST_F(ProcCtf, LinesInOrderFailuresOnStandardErrorStarTableAndPlots) {
    std::string out, table;
    EXPECT_EQ(run("ctf m1.mrc missing.mrc flat.mrc m2.mrc blank.mrc --kv 300 --cs 2.7 --ac 0.1 --star out.star "
                  "--plot plots --diagnostic diag",
                  &out),
              1);
    const std::string e = err(), star = slurp(dir + "/out.star");
    EXPECT_NE(e.find("tarvik-proc: cannot read missing.mrc\n"), std::string::npos) << e;
    EXPECT_NE(e.find("tarvik-proc: flat.mrc: blank micrograph\n"), std::string::npos) << e;
    EXPECT_NE(star.find("\ndata_micrographs\n\nloop_\n_rlnMicrographName #1\n_rlnDefocusU #2\n_rlnDefocusV #3\n"
                        "_rlnDefocusAngle #4\n_rlnCtfMaxResolution #5\n_rlnCtfFigureOfMerit #6\n_rlnVoltage #7\n"
                        "_rlnSphericalAberration #8\n_rlnAmplitudeContrast #9\n"),
              std::string::npos)
        << star;
    std::vector<std::string> rows, ours = lines(out);
    for (const std::string& l : lines(star))
        if (l.rfind("m", 0) == 0) rows.push_back(l);
    ASSERT_EQ(ours.size(), 2u) << out;
    ASSERT_EQ(rows.size(), 2u) << star;
    // RELION's own reader, when installed, reads the names and values the table holds (the first four fields).
    const bool relion = have("relion_star_printtable");
    if (relion) {
        std::string want;
        for (const std::string& r : rows)
            want += r.substr(0, r.find(' ', r.find(' ', r.find(' ', r.find(' ') + 1) + 1) + 1)) + "\n";
        EXPECT_EQ(run("relion_star_printtable out.star data_micrographs rlnMicrographName rlnDefocusU rlnDefocusV "
                      "rlnDefocusAngle",
                      &table),
                  0);
        EXPECT_EQ(table, want);
    }
    for (int i : {0, 1}) {
        const Micrograph& m = kMics[i];
        char file[64] = {}, name[64] = {};
        double d, du, dv, da, res, score, u, v, ang, fom, kv, cs, ac;
        ASSERT_EQ(std::sscanf(ours[i].c_str(), "%lf %lf %lf %lf %lf %lf %63s", &d, &du, &dv, &da, &res, &score, file),
                  7);
        ASSERT_EQ(std::sscanf(rows[i].c_str(), "%63s %lf %lf %lf %lf %lf %lf %lf %lf", name, &u, &v, &ang, &res, &fom,
                              &kv, &cs, &ac),
                  9);
        EXPECT_STREQ(file, m.name);
        EXPECT_NEAR(d, -m.defocus, 0.01 * m.defocus) << ours[i];
        EXPECT_NEAR(dv - du, m.astig, 0.05) << ours[i];
        if (m.astig > 0) {
            EXPECT_NEAR(da, m.angle, 10) << ours[i];
        }
        // The table: Angstrom, positive for underfocus, U the more underfocused; the microscope in every row.
        EXPECT_STREQ(name, m.name);
        EXPECT_NEAR(u, -1e4 * du, 1.0);
        EXPECT_NEAR(v, -1e4 * dv, 1.0);
        EXPECT_NEAR(ang, da, 0.1);
        EXPECT_EQ(kv, 300);
        EXPECT_EQ(cs, 2.7);
        EXPECT_EQ(ac, 0.1);
    }
    for (const char* svg : {"plots/m1_ctf.svg", "plots/m2_ctf.svg"}) {
        EXPECT_NE(slurp(dir + "/" + svg).find("<polyline"), std::string::npos) << svg;
        if (have("xmllint")) {
            EXPECT_EQ(run(std::string("xmllint --noout ") + svg), 0) << svg;
        }
    }
    EXPECT_EQ(access((dir + "/plots/blank_ctf.svg").c_str(), F_OK), -1);
    // The 2-D diagnostics: tile-sized images of values 0..1 (data and CTF^2), none for what failed.
    for (const char* mrc : {"diag/m1_ctf.mrc", "diag/m2_ctf.mrc"}) {
        MRCData d;
        ASSERT_EQ(d.readMRCData((dir + "/" + mrc).c_str()), 1) << mrc;
        EXPECT_EQ(d.xSize(), 512);
        EXPECT_EQ(d.ySize(), 512);
        EXPECT_GE(d.Min(), 0);
        EXPECT_LE(d.Max(), 1);
        EXPECT_GT(d.Sigma(), 0.1) << mrc;
    }
    EXPECT_EQ(access((dir + "/diag/flat_ctf.mrc").c_str(), F_OK), -1);
    // A name RELION would split is left out of the table, loudly.
    run("cp m1.mrc 'm 1.mrc'");
    EXPECT_EQ(run("ctf 'm 1.mrc' --kv 300 --cs 2.7 --star blanks.star"), 1);
    EXPECT_NE(err().find("m 1.mrc: a name with blanks"), std::string::npos) << err();
    EXPECT_EQ(access((dir + "/blanks.star").c_str(), F_OK), -1);
    if (!relion) GTEST_SKIP() << "relion_star_printtable is not installed: RELION did not read the table";
}

// A plot or a table that cannot be written fails the run, though the estimate is printed.
TEST_F(ProcCtf, AFailedWriteFailsTheRun) {
    std::string out;
    spit(dir + "/notafolder", "x");
    for (const char* args : {"--plot notafolder", "--star nofolder/ctf.star"}) {
        EXPECT_EQ(run(std::string("ctf small.mrc --kv 300 --cs 2.7 ") + args, &out), 1) << args;
        EXPECT_EQ(lines(out).size(), 1u) << args;
        EXPECT_NE(err().find("tarvik-proc: cannot write "), std::string::npos) << args << ": " << err();
    }
}

TEST_F(ProcCtf, PixelSizeJsonPreferencesAndOptions) {
    std::string out;
    // The pixel size: from the file, else from --pixel, else a failure that says so.
    EXPECT_EQ(run("ctf m3.mrc --kv 300 --cs 2.7"), 1);
    EXPECT_NE(err().find("tarvik-proc: m3.mrc: the file records no pixel size; give --pixel A\n"), std::string::npos);
    EXPECT_EQ(run("ctf m3.mrc --pixel 1.5 --kv 300 --cs 2.7 --json", &out), 0);
    EXPECT_EQ(out.rfind("{\"file\": \"m3.mrc\", \"defocus\": ", 0), 0u) << out;
    EXPECT_EQ(out.find('\n'), out.size() - 1);
    EXPECT_NEAR(jsonValue(out, "defocus"), -0.9, 0.009);
    EXPECT_NEAR(jsonValue(out, "defocus_v") - jsonValue(out, "defocus_u"), 0.3, 0.05);
    // --pixel comes before the file's own: a wrong one moves every ring, and the estimate with them.
    EXPECT_EQ(run("ctf m1.mrc --pixel 1.7 --kv 300 --cs 2.7 --json", &out), 0);
    EXPECT_GT(std::fabs(jsonValue(out, "defocus") + 1.5), 0.1) << out;
    // Voltage and Cs default to the workbench's preferences.
    run("printf 'voltage\\t300\\nspherab\\t2.7\\n' >home/.tvenv");
    EXPECT_EQ(run("ctf m2.mrc", &out), 0);
    EXPECT_NEAR(std::atof(out.c_str()), -2.4, 0.024) << out;
    // Options are checked before anything is read.
    for (const char* bad : {"--ac 1", "--ac x", "--kv 0", "--cs -1"}) {
        EXPECT_EQ(run(std::string("ctf m1.mrc ") + bad, &out), 1) << bad;
        EXPECT_EQ(out, "");
        EXPECT_NE(err().find("tarvik-proc: ctf: bad --"), std::string::npos) << bad;
    }
}

TEST_F(ProcCtf, ParallelDeliversOneEstimatePerMicrograph) {
    if (!have("parallel")) GTEST_SKIP() << "GNU parallel is not installed";
    std::string out;
    ASSERT_EQ(
        run("parallel --will-cite '" TARVIK_PROC "' ctf {} --pixel 1.5 --kv 300 --cs 2.7 --json ::: m1.mrc m2.mrc "
            "m3.mrc >ctf.jsonl && cat ctf.jsonl",
            &out),
        0);
    // Three lines, each micrograph's in one of them.
    EXPECT_EQ(lines(out).size(), 3u) << out;
    for (const Micrograph& m : kMics)
        EXPECT_NE(out.find(std::string("{\"file\": \"") + m.name + "\""), std::string::npos) << m.name;
}
