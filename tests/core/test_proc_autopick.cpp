// tarvik-proc autopick end to end: result lines, the coordinate files as
// `picks` and RELION read them, templates, and input that picks nothing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/picks.h"
#include "pick/autopick.h"
#include "tests/core/pick_synth.h"
#include "tests/core/testutil.h"

namespace {

class ProcAutopick : public testing::Test {
protected:
    static std::string dir;
    static PickSynth s;
    static PickSynthImage m;
    static bool write(const std::string& name, const std::vector<float>& v, int nx, int ny, float pixel) {
        MRCData d;
        d.setRealData(v.data(), nx, ny, 1);
        d.setPixres(pixel > 0 ? pixel : 1.0f);  // 1.0 counts as none
        return d.writeMRCData((dir + "/" + name).c_str(), 0) == 1;
    }
    static void SetUpTestSuite() {
        char tmpl[] = "/tmp/tarvik-procpick-XXXXXX";
        dir = mkdtemp(tmpl);
        mkdir((dir + "/home").c_str(), 0700);
        mkdir((dir + "/sub").c_str(), 0700);
        s.nx = s.ny = 1024, s.pixel = 2, s.diameter = 150, s.snr = 0.1f, s.particles = 25, s.contamination = 1;
        s.seed = 5;
        m = pick_synth(s);
        write("m1.mrc", m.pixels, 1024, 1024, 2);
        write("sub/m1.mrc", m.pixels, 1024, 1024, 2);
        write("nopix.mrc", m.pixels, 1024, 1024, 0);
        // Ten true centres, and a template made from them at 114 pixels.
        std::string star = "\ndata_\n\nloop_\n_rlnCoordinateX #1\n_rlnCoordinateY #2\n";
        std::vector<Pick> boxes;
        for (int i = 0; i < 10; i++) {
            star += std::to_string((int)std::lround(m.truth[i].x)) + " " +
                    std::to_string((int)std::lround(m.truth[i].y)) + "\n";
            boxes.push_back({(int)std::lround(m.truth[i].x) - 57, (int)std::lround(m.truth[i].y) - 57, 114, 114});
        }
        spit(dir + "/truth.star", star);
        std::vector<float> t;
        autopick_template_from_boxes(m.pixels.data(), 1024, 1024, boxes, 114, &t);
        write("tmpl.mrc", t, 114, 114, 2);
        write("wide.mrc", std::vector<float>(1100 * 40, 1.0f), 1100, 40, 2);
        MRCData f;
        f.setComplData(std::vector<float>(66 * 64, 1.0f).data(), 66, 64, 1);
        f.writeMRCData((dir + "/fft.mrc").c_str(), 0);
    }
    static void TearDownTestSuite() { (void)!std::system(("rm -rf '" + dir + "'").c_str()); }

    // tarvik-proc with these arguments in the folder; stdout in *out, stderr in err().
    int proc(const std::string& args, std::string* out = nullptr) {
        return runCommand("cd '" + dir + "' && HOME='" + dir + "/home' '" TARVIK_PROC "' " + args + " 2>stderr.txt",
                          out);
    }
    int shell(const std::string& cmd, std::string* out = nullptr) {
        return runCommand("cd '" + dir + "' && " + cmd + " 2>stderr.txt", out);
    }
    std::string err() { return slurp(dir + "/stderr.txt"); }
    bool exists(const std::string& f) { return access((dir + "/" + f).c_str(), F_OK) == 0; }
    // Picks read back from a file of the folder (its boxes, 114 pixels).
    std::vector<Pick> readBack(const std::string& f) {
        std::vector<Pick> p;
        const std::string path = dir + "/" + f;
        EXPECT_EQ(pickFormat(path.c_str()) == PICKS_STAR ? readStarPicks(path.c_str(), 114, 114, &p)
                                                         : readBoxPicks(path.c_str(), &p),
                  1)
            << f;
        return p;
    }
    // How many box centres lie within 0.2 diameters of a true centre.
    int hits(const std::vector<Pick>& p) {
        std::vector<AutoPick> a;
        for (const Pick& k : p) a.push_back({(float)(k.x + k.w / 2), (float)(k.y + k.h / 2), k, 0});
        return pick_score(a, m.truth, 15).hits;
    }
};
std::string ProcAutopick::dir;
PickSynth ProcAutopick::s;
PickSynthImage ProcAutopick::m;

}  // namespace

TEST_F(ProcAutopick, StarFileReadBackByPicksAndRelion) {
    std::string out;
    ASSERT_EQ(proc("autopick m1.mrc --diameter 150 --out picks", &out), 0) << err();
    const std::vector<Pick> p = readBack("picks/m1_autopick.star");
    ASSERT_GE(p.size(), 24u);
    EXPECT_EQ(out, std::to_string(p.size()) + " picks/m1_autopick.star m1.mrc\n");
    EXPECT_EQ(hits(p), (int)p.size());
    // RELION's reader, when installed, finds the same centres.
    if (runCommand("command -v relion_star_printtable >/dev/null") != 0)
        GTEST_SKIP() << "relion_star_printtable is not installed: RELION did not read the file";
    std::string table;
    ASSERT_EQ(shell("relion_star_printtable picks/m1_autopick.star data_ rlnCoordinateX rlnCoordinateY", &table), 0);
    std::istringstream rows(table);
    double x, y;
    for (size_t i = 0; i < p.size(); i++) {
        ASSERT_TRUE(rows >> x >> y) << i << ": " << table;
        EXPECT_TRUE(x == p[i].x + 57 && y == p[i].y + 57) << i << ": " << x << " " << y;
    }
    EXPECT_FALSE(rows >> x) << "more rows than picks: " << table;
}

TEST_F(ProcAutopick, BoxFilesJsonTemplatesAndOptions) {
    std::string out;
    ASSERT_EQ(proc("autopick m1.mrc --diameter 150 --format box --json --size 100 --out b", &out), 0) << err();
    const std::vector<Pick> p = readBack("b/m1_autopick.box");
    EXPECT_EQ(out,
              "{\"file\": \"m1.mrc\", \"picks\": " + std::to_string(p.size()) + ", \"out\": \"b/m1_autopick.box\"}\n");
    ASSERT_GE(p.size(), 24u);
    for (const Pick& k : p) EXPECT_EQ(k.w * 1000 + k.h, 100100);
    EXPECT_EQ(hits(p), (int)p.size());
    // Templates: the boxes of a .star file on the micrograph, or an image file.
    for (const char* t : {"--template-from truth.star", "--template tmpl.mrc"}) {
        ASSERT_EQ(proc(std::string("autopick m1.mrc --diameter 150 --out t ") + t, &out), 0) << t << ": " << err();
        const std::vector<Pick> q = readBack("t/m1_autopick.star");
        EXPECT_GE(q.size(), 24u) << t;
        EXPECT_EQ(hits(q), (int)q.size()) << t;
    }
    // A high threshold picks fewer, a large minimum distance too; --pixel stands in for a missing pixel size.
    ASSERT_EQ(proc("autopick nopix.mrc --pixel 2 --diameter 150 --threshold 1000 --out n", &out), 0) << err();
    EXPECT_EQ(out, "0 n/nopix_autopick.star nopix.mrc\n");
    ASSERT_EQ(proc("autopick m1.mrc --diameter 150 --min-distance 600 --out d", &out), 0) << err();
    EXPECT_LT(readBack("d/m1_autopick.star").size(), p.size() / 2);
}

TEST_F(ProcAutopick, BadInputWritesNothing) {
    struct Case {
        std::string args, message, file;  // file: what must not exist afterwards
    } cases[] = {
        {"autopick m1.mrc --out x", "tarvik-proc: autopick: give the particle diameter with --diameter A\n", "x"},
        {"autopick m1.mrc --diameter 150 --mode blobs --out x",
         "tarvik-proc: autopick: bad --mode blobs (blob or template)\n", "x"},
        {"autopick m1.mrc --diameter 150 --mode template --out x",
         "tarvik-proc: autopick: template mode needs --template FILE or --template-from PICKS\n", "x"},
        {"autopick m1.mrc --diameter 150 --mode blob --template tmpl.mrc --out x",
         "tarvik-proc: autopick: --template and --template-from are for --mode template\n", "x"},
        {"autopick nopix.mrc --diameter 150 --out y",
         "tarvik-proc: nopix.mrc: the file records no pixel size; give --pixel A\n", "y/nopix_autopick.star"},
        {"autopick m1.mrc --diameter 5000 --out y",
         "Auto pick: a 5000 A particle (2500 pixels, box 3750) does not fit a 1024 x 1024 micrograph\n"
         "tarvik-proc: m1.mrc: not picked\n",
         "y/m1_autopick.star"},
        {"autopick m1.mrc --diameter 150 --template wide.mrc --out y",
         "Auto pick: the template (1100 x 40) is larger than the micrograph (1024 x 1024)\n"
         "tarvik-proc: m1.mrc: not picked\n",
         "y/m1_autopick.star"},
        {"autopick fft.mrc --diameter 150 --pixel 2 --out y",
         "tarvik-proc: fft.mrc: a Fourier transform, not a micrograph\n", "y/fft_autopick.star"},
        {"autopick m1.mrc --diameter 150 --template fft.mrc --out y",
         "tarvik-proc: fft.mrc: a Fourier transform, not a template\n", "y/m1_autopick.star"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(proc(c.args), 1) << c.args;
        const std::string e = err();
        // The library's own messages come first; the last lines say why.
        EXPECT_EQ(e.substr(e.size() >= c.message.size() ? e.size() - c.message.size() : 0), c.message) << c.args;
        EXPECT_FALSE(exists(c.file)) << c.args;
    }
    // Two micrographs of one name: the second would overwrite the first's picks.
    std::string out;
    EXPECT_EQ(proc("autopick m1.mrc sub/m1.mrc --diameter 150 --out z", &out), 1);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(err().find("sub/m1.mrc: z/m1_autopick.star was written for another micrograph of that name; left out"),
              std::string::npos)
        << err();
    EXPECT_GE(readBack("z/m1_autopick.star").size(), 24u);
}
