// tarvik-proc ctf end to end: result lines, failures, the STAR table as RELION
// reads it, the SVG plot, and one estimate per micrograph through GNU parallel.
#include <gtest/gtest.h>

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
        unsigned seed = 11;
        for (const Micrograph& m : kMics) {
            SynthCtf s;
            s.pixel = 1.5f, s.defocus = m.defocus, s.astig = m.astig, s.angle = m.angle, s.seed = seed++;
            synth_write_mrc(dir + "/" + m.name, synth_micrograph(s), s.nx, s.nx, s.ny, m.recordedPixel);
        }
        spit(dir + "/blank.mrc", std::string(1024, '\0'));
        std::vector<float> flat(1024 * 1024, 7.0f);
        synth_write_mrc(dir + "/flat.mrc", flat, 1024, 1024, 1024, 1.5f);
    }
    static void TearDownTestSuite() { (void)!std::system(("rm -rf '" + dir + "'").c_str()); }

    // Runs tarvik-proc in the folder with an empty HOME; stdout in *out, stderr in err.
    int run(const std::string& args, std::string* out = nullptr, const std::string& env = "") {
        return runCommand(
            "cd '" + dir + "' && HOME='" + dir + "/home' " + env + " '" TARVIK_PROC "' " + args + " 2>stderr.txt", out);
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

TEST_F(ProcCtf, LinesInOrderFailuresOnStandardError) {
    std::string out;
    EXPECT_EQ(run("ctf m1.mrc missing.mrc flat.mrc m2.mrc --kv 300 --cs 2.7", &out), 1);
    std::vector<std::string> l = lines(out);
    ASSERT_EQ(l.size(), 2u) << out;
    for (int i : {0, 1}) {
        const Micrograph& m = kMics[i];
        double d, u, v, ang, res, score;
        char file[64] = {};
        ASSERT_EQ(std::sscanf(l[i].c_str(), "%lf %lf %lf %lf %lf %lf %63s", &d, &u, &v, &ang, &res, &score, file), 7);
        EXPECT_STREQ(file, m.name);
        EXPECT_NEAR(d, -m.defocus, 0.01 * m.defocus) << l[i];
        EXPECT_NEAR(v - u, m.astig, 0.05) << l[i];
        if (m.astig > 0) {
            EXPECT_NEAR(ang, m.angle, 10) << l[i];
        }
    }
    const std::string e = err();
    EXPECT_NE(e.find("tarvik-proc: cannot read missing.mrc\n"), std::string::npos) << e;
    EXPECT_NE(e.find("tarvik-proc: flat.mrc: blank micrograph\n"), std::string::npos) << e;
    // The pixel size: from the file, else from --pixel, else a failure that says so.
    EXPECT_EQ(run("ctf m3.mrc --kv 300 --cs 2.7"), 1);
    EXPECT_NE(err().find("tarvik-proc: m3.mrc: the file records no pixel size; give --pixel A\n"), std::string::npos);
    EXPECT_EQ(run("ctf m3.mrc --pixel 1.5 --kv 300 --cs 2.7 --json", &out), 0);
    l = lines(out);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(l[0].rfind("{\"file\": \"m3.mrc\", \"defocus\": ", 0), 0u) << l[0];
    size_t keys = 0;
    for (const char* k : {"defocus", "defocus_u", "defocus_v", "astig_angle", "resolution", "score"}) {
        const size_t at = l[0].find(std::string("\"") + k + "\": ");
        EXPECT_GT(at, keys) << k;  // in this order
        keys = at;
        EXPECT_TRUE(std::isfinite(jsonValue(l[0], k))) << k;
    }
    EXPECT_EQ(l[0].back(), '}');
    EXPECT_NEAR(jsonValue(l[0], "defocus"), -0.9, 0.009);
    // --pixel comes before the file's own: a wrong one moves every ring, and the estimate with them.
    EXPECT_EQ(run("ctf m1.mrc --pixel 1.7 --kv 300 --cs 2.7 --json", &out), 0);
    EXPECT_GT(std::fabs(jsonValue(out, "defocus") + 1.5), 0.1) << out;
    // Voltage and Cs default to the workbench's preferences.
    (void)!std::system(
        ("mkdir -p '" + dir + "/home' && printf 'voltage\\t300\\nspherab\\t2.7\\n' >'" + dir + "/home/.tvenv'")
            .c_str());
    EXPECT_EQ(run("ctf m2.mrc", &out), 0);
    EXPECT_NEAR(std::atof(out.c_str()), -2.4, 0.024) << out;
    (void)!std::system(("rm -f '" + dir + "/home/.tvenv'").c_str());
    // Options are checked before anything is read.
    for (const char* bad : {"--ac 1", "--ac x", "--kv 0", "--cs -1"}) {
        EXPECT_EQ(run(std::string("ctf m1.mrc ") + bad, &out), 1) << bad;
        EXPECT_EQ(out, "");
        EXPECT_NE(err().find("tarvik-proc: ctf: bad --"), std::string::npos) << bad;
    }
}

TEST_F(ProcCtf, StarTableAndPlots) {
    EXPECT_EQ(run("ctf m1.mrc m2.mrc blank.mrc --kv 300 --cs 2.7 --ac 0.1 --star out.star --plot plots"), 1);
    const std::string star = slurp(dir + "/out.star");
    EXPECT_NE(star.find("\ndata_micrographs\n\nloop_\n_rlnMicrographName #1\n_rlnDefocusU #2\n_rlnDefocusV #3\n"
                        "_rlnDefocusAngle #4\n_rlnCtfMaxResolution #5\n_rlnCtfFigureOfMerit #6\n_rlnVoltage #7\n"
                        "_rlnSphericalAberration #8\n_rlnAmplitudeContrast #9\n"),
              std::string::npos)
        << star;
    std::vector<std::string> rows;
    for (const std::string& l : lines(star))
        if (l.rfind("m", 0) == 0) rows.push_back(l);
    ASSERT_EQ(rows.size(), 2u) << star;
    for (int i : {0, 1}) {
        char name[64] = {};
        double u, v, ang, res, fom, kv, cs, ac;
        ASSERT_EQ(std::sscanf(rows[i].c_str(), "%63s %lf %lf %lf %lf %lf %lf %lf %lf", name, &u, &v, &ang, &res, &fom,
                              &kv, &cs, &ac),
                  9);
        EXPECT_STREQ(name, kMics[i].name);
        // Angstrom, positive for underfocus, U the larger.
        EXPECT_NEAR((u + v) / 2, 1e4 * kMics[i].defocus, 100 * kMics[i].defocus);
        EXPECT_NEAR(u - v, 1e4 * kMics[i].astig, 500);
        EXPECT_EQ(kv, 300);
        EXPECT_EQ(cs, 2.7);
        EXPECT_EQ(ac, 0.1);
    }
    for (const char* svg : {"plots/m1_ctf.svg", "plots/m2_ctf.svg"}) {
        const std::string text = slurp(dir + "/" + svg);
        EXPECT_NE(text.find("<polyline"), std::string::npos) << svg;
        if (have("xmllint")) {
            EXPECT_EQ(runCommand("xmllint --noout '" + dir + "/" + svg + "'"), 0) << svg;
        }
    }
    EXPECT_EQ(access((dir + "/plots/blank_ctf.svg").c_str(), F_OK), -1);
    // A name RELION would split is left out of the table, loudly.
    (void)!std::system(("cp '" + dir + "/m1.mrc' '" + dir + "/m 1.mrc'").c_str());
    EXPECT_EQ(run("ctf 'm 1.mrc' --kv 300 --cs 2.7 --star blanks.star"), 1);
    EXPECT_NE(err().find("m 1.mrc: a name with blanks"), std::string::npos) << err();
    EXPECT_EQ(access((dir + "/blanks.star").c_str(), F_OK), -1);
}

TEST_F(ProcCtf, RelionReadsTheStarTable) {
    if (!have("relion_star_printtable")) GTEST_SKIP() << "relion_star_printtable is not installed";
    std::string out, table;
    ASSERT_EQ(run("ctf m1.mrc m2.mrc --kv 300 --cs 2.7 --star r.star", &out), 0);
    ASSERT_EQ(runCommand("cd '" + dir +
                             "' && relion_star_printtable r.star data_micrographs rlnMicrographName rlnDefocusU "
                             "rlnDefocusV rlnDefocusAngle",
                         &table),
              0);
    std::vector<std::string> got = lines(table), ours = lines(out);
    ASSERT_EQ(got.size(), 2u) << table;
    for (int i : {0, 1}) {
        char name[64] = {};
        double u, v, a, d, du, dv, da;
        ASSERT_EQ(std::sscanf(got[i].c_str(), "%63s %lf %lf %lf", name, &u, &v, &a), 4) << got[i];
        ASSERT_EQ(std::sscanf(ours[i].c_str(), "%lf %lf %lf %lf", &d, &du, &dv, &da), 4);
        EXPECT_STREQ(name, kMics[i].name);
        EXPECT_NEAR(u, -1e4 * du, 1.0);
        EXPECT_NEAR(v, -1e4 * dv, 1.0);
        EXPECT_NEAR(a, da, 0.1);
    }
}

TEST_F(ProcCtf, ParallelDeliversOneEstimatePerMicrograph) {
    if (!have("parallel")) GTEST_SKIP() << "GNU parallel is not installed";
    std::string out;
    ASSERT_EQ(runCommand("cd '" + dir + "' && HOME='" + dir +
                             "' parallel --will-cite '" TARVIK_PROC
                             "' ctf {} --pixel 1.5 --kv 300 --cs 2.7 --json ::: m1.mrc m2.mrc m3.mrc >ctf.jsonl "
                             "2>/dev/null && cat ctf.jsonl",
                         &out),
              0);
    std::vector<std::string> l = lines(out);
    ASSERT_EQ(l.size(), 3u) << out;
    for (const Micrograph& m : kMics) {
        int found = 0;
        for (const std::string& line : l)
            if (line.find(std::string("\"file\": \"") + m.name + "\"") != std::string::npos) {
                found++;
                EXPECT_NEAR(jsonValue(line, "defocus"), -m.defocus, 0.01 * m.defocus) << line;
            }
        EXPECT_EQ(found, 1) << m.name;
    }
}
