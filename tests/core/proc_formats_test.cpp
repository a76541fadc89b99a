// tarvik-proc convert across every format, readAnyFile's choices, and boxes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <string>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "tests/core/testutil.h"

namespace {

std::string proc(const std::string& args) {
    return std::string("'") + TARVIK_PROC + "' " + args + " 2>/dev/null";
}
std::string q(const std::string& s) {
    return "'" + s + "'";
}

struct Read {
    List* l = nullptr;
    explicit Read(const std::string& f) {
        testing::internal::CaptureStdout();
        l = readAnyFile(f.c_str());
        testing::internal::GetCapturedStdout();
    }
    ~Read() { freeDataList(l); }
    MRCData* at(int i) { return static_cast<MRCData*>(l->objectAt(i)); }
};

TEST(ProcFormats, FormatsByNameAndContent) {
    EXPECT_EQ("spider", formatForName("a.spi"));
    EXPECT_EQ("spider", formatForName("a.DAT"));
    EXPECT_EQ("imagic", formatForName("a.hed"));
    EXPECT_EQ("pif", formatForName("dir.x/a.pif"));
    EXPECT_EQ("pgm", formatForName("a.pgm"));
    EXPECT_EQ("mrc", formatForName("a.map"));
    EXPECT_EQ("mrc", formatForName("a_001.img"));
    TempDir t;
    // A SPIDER file is known by its header whatever its name.
    std::string s = slurp(dataFile("spider/img_64x48.spi"));
    spit(t.file("noext"), s);
    Read r(t.file("noext"));
    ASSERT_TRUE(r.l);
    EXPECT_EQ(64, r.at(0)->xSize());
    // An IMAGIC pair by either member.
    Read im(dataFile("selfmade/img_64x48_le.img"));
    ASSERT_TRUE(im.l);
    EXPECT_EQ(48, im.at(0)->ySize());
    Read gif(dataFile("netpbm/pattern_u8_64x48.gif"));
    ASSERT_TRUE(gif.l);
    EXPECT_EQ(64, gif.at(0)->xSize());
}

TEST(ProcFormats, ConvertThroughEveryFormat) {
    TempDir t;
    const std::string src = dataFile("spider/img_64x48.spi");
    ASSERT_EQ(0, runCommand(proc("convert " + q(src) + " " + q(t.file("a.mrc")))));
    ASSERT_EQ(0, runCommand(proc("convert " + q(t.file("a.mrc")) + " " + q(t.file("b.DAT")))));
    ASSERT_EQ(0, runCommand(proc("convert " + q(t.file("b.DAT")) + " " + q(t.file("s.hed")))));
    ASSERT_EQ(0, runCommand(proc("convert " + q(src) + " " + q(t.file("s.hed")))));  // appends
    ASSERT_EQ(0, runCommand(proc("convert " + q(t.file("s.hed")) + " " + q(t.file("p.pif")))));
    ASSERT_EQ(0, runCommand(proc("convert " + q(t.file("p.pif")) + " " + q(t.file("c.mrc")) + " --index 1")));
    ASSERT_NE(0, runCommand(proc("convert " + q(t.file("s.hed")) + " " + q(t.file("d.mrc")))));  // two images
    ASSERT_EQ(0, runCommand(proc("convert " + q(src) + " " + q(t.file("x.bin")) + " --to pgm")));
    Read orig(src), stack(t.file("s.img")), pif(t.file("p.pif")), last(t.file("c.mrc")), pgm(t.file("x.bin"));
    ASSERT_TRUE(orig.l && stack.l && pif.l && last.l && pgm.l);
    ASSERT_EQ(2, stack.l->count());
    ASSERT_EQ(2, pif.l->count());
    const int n = 64 * 48;
    for (int k = 0; k < 2; k++) EXPECT_EQ(0, std::memcmp(orig.at(0)->getRealData(), stack.at(k)->getRealData(), 4 * n));
    const double step = (orig.at(0)->Max() - orig.at(0)->Min()) / 536870912.0;
    for (int i = 0; i < n; i++) ASSERT_NEAR(orig.at(0)->getRealData()[i], last.at(0)->getRealData()[i], step);
    EXPECT_EQ(64, pgm.at(0)->xSize());
}

TEST(ProcFormats, BoxesCutsEveryBoxOfTheDatabase) {
    TempDir t;
    MRCData m;
    std::vector<float> v(100 * 80);
    for (int i = 0; i < 100 * 80; i++) v[i] = (float)i;
    m.setRealData(v.data(), 100, 80, 1);
    ASSERT_EQ(1, m.writeMRCData(t.file("mic.mrc").c_str(), 0));
    spit(t.file("mic.db"),
         "!!! I.C.E. Datbase File !!!\n\n!!! Boxmrc Cutouts !!!\n"
         "10 20 16 8 0 0 0 0 0 0 2 mic_001.img\n"
         "30 20 30 40 0 4 0 0 0 0 2 mic_002.img\n"
         "95 75 16 16 0 0 0 0 0 0 2 mic_003.img\n"
         "\n!!! Real Images !!!\n");
    mkdir(t.file("out").c_str(), 0700);
    std::string out;
    ASSERT_EQ(0, runCommand(proc("boxes " + q(t.file("mic.mrc")) + " " + q(t.file("mic.db")) + " " + q(t.file("out"))),
                            &out));
    EXPECT_EQ("mic_001.img\t16x8\tmic_001.img\nmic_002.img\t4x21\tmic_002.img\nmic_003.img\t16x16\tmic_003.img\n", out);
    MRCData a, b, c;
    testing::internal::CaptureStdout();
    int ok = a.readMRCData(t.file("out/mic_001.img").c_str()) + b.readMRCData(t.file("out/mic_002.img").c_str()) +
             c.readMRCData(t.file("out/mic_003.img").c_str());
    testing::internal::GetCapturedStdout();  // before any ASSERT: a capture left open stops every later test
    ASSERT_EQ(3, ok);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 16; x++) ASSERT_EQ(v[(20 + y) * 100 + 10 + x], a.getRealData()[y * 16 + x]);
    // A vertical filament: the axis becomes y, the columns run across it.
    for (int j = 0; j < 21; j++)
        for (int i = 0; i < 4; i++) ASSERT_EQ(v[(20 + j) * 100 + 30 + i - 2], b.getRealData()[j * 4 + i]);
    // A box over the edge is moved inside the image.
    EXPECT_EQ(v[64 * 100 + 84], c.getRealData()[0]);
}

TEST(ProcFormats, ParticleStacksInInfoAndConvert) {
    TempDir t;
    const std::string stack = dataFile("mrc/particles_24x20x5.mrcs");
    std::string out;
    ASSERT_EQ(0, runCommand(proc("info " + q(stack)), &out));
    std::string want;
    for (int i = 0; i < 5; i++) want += stack + "[" + std::to_string(i) + "]  24x20  real";
    std::string got;  // each line up to its statistics
    for (size_t b = 0, e; (e = out.find('\n', b)) != std::string::npos; b = e + 1)
        got += out.substr(b, out.find("  Min", b) - b);
    EXPECT_EQ(want, got);
    ASSERT_EQ(0, runCommand(proc("convert " + q(stack) + " " + q(t.file("s3.mrc")) + " --index 3")));
    ASSERT_EQ(0, runCommand(proc("convert " + q(stack) + " " + q(t.file("copy.mrcs")))));
    ASSERT_NE(0, runCommand(proc("convert " + q(stack) + " " + q(t.file("one.mrc")))));
    Read orig(stack), s3(t.file("s3.mrc")), copy(t.file("copy.mrcs"));
    ASSERT_TRUE(orig.l && s3.l && copy.l);
    ASSERT_EQ(1, s3.l->count());
    ASSERT_EQ(5, copy.l->count());
    EXPECT_EQ(0, std::memcmp(orig.at(3)->getRealData(), s3.at(0)->getRealData(), 24 * 20 * 4));
    for (int k = 0; k < 5; k++) {
        EXPECT_EQ(0, std::memcmp(orig.at(k)->getRealData(), copy.at(k)->getRealData(), 24 * 20 * 4)) << k;
        EXPECT_FLOAT_EQ(orig.at(k)->Pixres(), copy.at(k)->Pixres());
    }
    EXPECT_FALSE(access(t.file("one.mrc").c_str(), F_OK) == 0);
}

// The peer library that Python users open MRC files with: present on the test machines through
// scripts/setup (python3-mrcfile), looked for under the system's python first.
std::string pythonWithMrcfile() {
    for (const char* py : {"/usr/bin/python3", "python3"})
        if (runCommand(std::string(py) + " -c 'import mrcfile' 2>/dev/null") == 0) return py;
    return "";
}

TEST(ProcFormats, MrcfileAcceptsWhatIsWrittenAndReadsItsPixelSize) {
    const std::string py = pythonWithMrcfile();
    if (py.empty()) GTEST_SKIP() << "python3 with mrcfile is not installed";
    TempDir t;
    MRCData synth;
    std::vector<float> v(40 * 30);
    for (size_t i = 0; i < v.size(); i++) v[i] = std::sin(0.01f * (float)(i * i % 997)) * 50;
    synth.setRealData(v.data(), 40, 30, 1);
    synth.setPixres(1.7f);
    testing::internal::CaptureStdout();
    int rc = synth.writeMRCData(t.file("synth.mrc").c_str(), 0);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(1, rc);
    ASSERT_EQ(0, runCommand(proc("convert " + q(dataFile("spider/img_64x48.spi")) + " " + q(t.file("spi.mrc")) +
                                 " --pixel 2.25")));
    ASSERT_EQ(0, runCommand(proc("convert " + q(dataFile("netpbm/ramp_lr_64x48.pgm")) + " " + q(t.file("pgm.mrc")))));
    ASSERT_EQ(0, runCommand(proc("convert " + q(dataFile("mrc/particles_24x20x5.mrcs")) + " " + q(t.file("s.mrcs")))));
    const std::string script =
        "import mrcfile, sys\n"
        "for f in sys.argv[1:]:\n"
        "    ok = mrcfile.validate(f, print_file=sys.stderr)\n"
        "    with mrcfile.open(f) as m:\n"
        "        print('%d %.4f %d %d' % (ok, m.voxel_size.x, m.is_image_stack(), m.data.shape[0]))\n";
    spit(t.file("check.py"), script);
    std::string out;
    ASSERT_EQ(0, runCommand(py + " " + q(t.file("check.py")) + " " + q(t.file("synth.mrc")) + " " +
                                q(t.file("spi.mrc")) + " " + q(t.file("pgm.mrc")) + " " + q(t.file("s.mrcs")),
                            &out));
    // Files without a recorded pixel size carry the preferences' 25 / 30 x 10 A.
    EXPECT_EQ("1 1.7000 0 30\n1 2.2500 0 48\n1 8.3333 0 48\n1 1.3400 1 5\n", out);
}

}  // namespace
