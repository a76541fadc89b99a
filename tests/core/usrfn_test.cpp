// User functions: definition records and files, command lines, real runs.
#include "ufn/usrfn.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "core/List.h"
#include "core/MRCData.h"
#include "tests/core/testutil.h"

namespace {

struct UfnDir : TempDir {
    UfnDir() { ufn_set_tempdir(path.c_str()); }
    ~UfnDir() { ufn_set_tempdir(nullptr); }
};

void ramp(MRCData& d, int nx, int ny) {
    std::vector<float> v((size_t)nx * ny);
    for (int i = 0; i < nx * ny; i++) v[i] = (i % nx) * 0.5f - (i / nx) * 0.25f + 3;
    d.setRealData(v.data(), nx, ny, 1);
    d.setName("src");
}

TEST(UsrFn, SetCleansTextsAndKeepsCodes) {
    UsrFn u;
    EXPECT_STREQ("", u.getmenu());
    EXPECT_STREQ("", u.getoption(2));
    u.set(
        "a\tb\xe9"
        "c",
        nullptr, "", "x\ny", "z", 1, 2, 1, 2);
    EXPECT_STREQ("a b c", u.getmenu());
    EXPECT_STREQ("", u.getcommand());
    EXPECT_STREQ("x y", u.getoption(1));
    EXPECT_EQ(1, u.getftype());
    EXPECT_EQ(2, u.getinput());
    EXPECT_EQ(1, u.getoutput());
    EXPECT_EQ(2, u.getresult());
}

TEST(UsrFn, RecordsRoundTripAndLongLinesSplit) {
    TempDir t;
    const std::string f = t.file("defs");
    FILE* fp = std::fopen(f.c_str(), "w");
    UsrFn a;
    a.set("Invert", "myinvert -q", "-i", "-o", "", 4, 2, 1, 2);
    a.writeself(fp);
    std::fclose(fp);
    EXPECT_EQ("Invert\nmyinvert -q\n-i\n-o\n\n4 2 1 2\n", slurp(f));
    fp = std::fopen(f.c_str(), "r");
    UsrFn b;
    ASSERT_EQ(1, b.readself(fp));
    EXPECT_STREQ("myinvert -q", b.getcommand());
    EXPECT_EQ(4, b.getftype());
    EXPECT_EQ(0, b.readself(fp));
    std::fclose(fp);

    spit(f, std::string(600, 'm') + "\ncmd\n");
    fp = std::fopen(f.c_str(), "r");
    ASSERT_EQ(1, b.readself(fp));
    EXPECT_EQ(std::string(511, 'm'), b.getmenu());
    EXPECT_EQ(std::string(89, 'm'), b.getcommand());  // the rest of the long line
    EXPECT_STREQ("cmd", b.getoption(0));
    EXPECT_EQ(0, b.getftype());  // code line missing: codes stay 0
    std::fclose(fp);
}

TEST(UsrFn, DefinitionFilesAndMenuText) {
    TempDir t;  // HOME
    List l;
    EXPECT_EQ(0, umenu_read(&l));
    spit(t.file(".tvglobfn"), "A\ncat\n\n\n\n1 1 1 2\nB\ncat\n\n\n\n1 1 1 2\n");
    spit(t.file(".tvufn"), "C\ncat\n\n\n\n1 1 1 2\nD\n");  // D is cut short: dropped
    EXPECT_EQ(1, umenu_read(&l));
    ASSERT_EQ(3, l.count());
    EXPECT_EQ(l.objectAt(2), umenu_find(&l, "C"));
    EXPECT_EQ(nullptr, umenu_find(&l, "D"));
    EXPECT_TRUE(static_cast<UsrFn*>(l.objectAt(0))->isGlobal());
    EXPECT_FALSE(static_cast<UsrFn*>(l.objectAt(2))->isGlobal());
    ASSERT_EQ(1, umenu_write(&l));
    EXPECT_EQ("C\ncat\n\n\n\n1 1 1 2\n", slurp(t.file(".tvufn")));  // shared items never written
    // Deleting the last own item empties the file, so it does not come back.
    delete static_cast<UsrFn*>(l.removeObjectAt(2));
    ASSERT_EQ(1, umenu_write(&l));
    umenu_clear(&l);
    umenu_read(&l);
    EXPECT_EQ(2, l.count());
    umenu_clear(&l);
}

TEST(UsrFn, CommandLines) {
    UsrFn u;
    // The file names are quoted for the shell; the user's texts are not.
    const std::string T = "/tmp/a b'c", q = "'/tmp/a b'\\''c'", qo = "'/tmp/a b'\\''c.out'";
    u.set("m", "cat", "", "", "", 1, 1, 1, 2);
    EXPECT_EQ("cat    <" + q + " >" + qo, u.commandLine(T));
    u.set("m", "C", "O0", "O1", "O2", 1, 1, 2, 2);
    EXPECT_EQ("C O0 O1 " + qo + " O2 <" + q, u.commandLine(T));
    u.set("m", "C", "O0", "O1", "O2", 1, 2, 1, 2);
    EXPECT_EQ("C O0 " + q + " O1 O2 >" + qo, u.commandLine(T));
    u.set("m", "C", "O0", "O1", "O2", 1, 3, 2, 2);
    EXPECT_EQ("C O0 " + q + " O1 " + qo + " O2", u.commandLine(T));
    char base[64];
    std::snprintf(base, sizeof base, "/tmp/usrfn%d", (int)getuid());
    EXPECT_EQ(base, ufn_tempbase());
}

// Runs u on a ramp; the result must equal the source within tol.
void expectSameAfter(UsrFn& u, float tol) {
    MRCData d;
    ramp(d, 24, 16);
    d.setRenMinMax(d.Min(), d.Max());
    std::unique_ptr<MRCData> r;
    testing::internal::CaptureStdout();
    r.reset(u.doFile(&d));
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(r) << out;
    ASSERT_EQ(24, r->xSize()) << out;
    ASSERT_EQ(16, r->ySize());
    for (int i = 0; i < 24 * 16; i++) {
        float want = d.getRealData()[i];
        if (tol > 0) want = (want - d.Min()) / (d.Max() - d.Min());  // 8-bit pictures come back as 0..1
        ASSERT_NEAR(want, r->getRealData()[i], tol) << i;
    }
}

TEST(UsrFn, CatGivesAnEqualNewDataSet) {
    UfnDir t;
    UsrFn u;
    u.set("Cat", "cat", "", "", "", 1, 1, 1, 2);
    expectSameAfter(u, 0);
    u.set("Copy", "cp", "", "", "", 1, 2, 2, 2);  // file names instead of redirection
    expectSameAfter(u, 0);
    u.set("Pgm", "cat", "", "", "", 4, 1, 1, 2);
    expectSameAfter(u, 1.0f / 255 + 1e-6f);
    u.set("Gif", "cat", "", "", "", 5, 1, 1, 2);
    expectSameAfter(u, 1.0f / 255 + 1e-6f);
    u.set("Imagic", "sh -c 'cp \"$0.hed\" \"$1.hed\" && cp \"$0.img\" \"$1.img\"'", "", "", "", 3, 2, 2, 2);
    expectSameAfter(u, 0);
    expectSameAfter(u, 0);  // a second run starts from a fresh stack
}

// Temporary names with blanks, quotes and commands in them: the function runs
// on its files and nothing else runs.
TEST(UsrFn, FileNamesWithBlanksAndQuotesRunNothingElse) {
    TempDir t;
    const std::string dir = t.file("a b'$(touch one)';touch two;'");
    ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(0, chdir(t.path.c_str()));
    ufn_set_tempdir(dir.c_str());
    UsrFn u;
    u.set("Cat", "cat", "", "", "", 1, 1, 1, 2);
    expectSameAfter(u, 0);
    u.set("Copy", "cp", "", "", "", 1, 2, 2, 2);
    expectSameAfter(u, 0);
    u.set("Gif", "cat", "", "", "", 5, 1, 1, 2);
    expectSameAfter(u, 1.0f / 255 + 1e-6f);
    ufn_set_tempdir(nullptr);
    EXPECT_EQ(0, chdir(cwd));
    EXPECT_EQ(dirEntries(t.path).size(), 1u);  // only the folder itself
}

TEST(UsrFn, ReplaceNoOutputAndRefusals) {
    UfnDir t;
    MRCData d;
    ramp(d, 8, 8);
    UsrFn u;
    u.set("Neg", "awk 'BEGIN{}{print}'", "", "", "", 1, 1, 1, 1);
    u.set("Touch", "touch", "", "", "", 1, 2, 1, 3);
    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, u.doFile(&d));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(0, access((ufn_tempbase()).c_str(), F_OK));

    // Replace: d takes what the command left.
    MRCData other;
    ramp(other, 5, 3);
    other.writeMRCData(t.file("other.mrc").c_str(), 0);
    const std::string cmd = "sh -c 'cp " + t.file("other.mrc") + " \"$1\"'";
    u.set("Other", cmd.c_str(), "", "", "", 1, 2, 2, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, u.doFile(&d));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(5, d.xSize());

    const std::string touch = "touch " + t.file("ran");
    u.set("Im", touch.c_str(), "", "", "", 3, 1, 1, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, u.doFile(&d));
    EXPECT_EQ("Sorry, replace mode not supported for imagic files.\n", testing::internal::GetCapturedStdout());
    EXPECT_NE(0, access(t.file("ran").c_str(), F_OK));
}

TEST(UsrFn, PlantedLinksAreNotFollowed) {
    UfnDir t;
    const std::string victim = t.file("victim");
    spit(victim, "precious");
    const std::string T = ufn_tempbase();
    ASSERT_EQ(0, symlink(victim.c_str(), T.c_str()));
    ASSERT_EQ(0, symlink(victim.c_str(), (T + ".out").c_str()));
    MRCData d;
    ramp(d, 8, 8);
    UsrFn u;
    u.set("Cat", "cat", "", "", "", 1, 1, 1, 2);
    testing::internal::CaptureStdout();
    std::unique_ptr<MRCData> r(u.doFile(&d));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ("precious", slurp(victim));
    ASSERT_TRUE(r);
    EXPECT_EQ(8, r->xSize());
    struct stat st;
    ASSERT_EQ(0, lstat(T.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

}  // namespace

namespace {

TEST(UsrFn, FailedTransformRunsNothing) {
    UfnDir t;
    // 48 floats per row: a real width of 46 = 2 x 23, which no transform accepts.
    std::vector<float> c(48 * 4, 1.0f);
    MRCData d;
    d.setComplData(c.data(), 48, 4, 1);
    const std::string touch = "touch " + t.file("ran");
    UsrFn u;
    u.set("T", touch.c_str(), "", "", "", 1, 1, 1, 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, u.doFile(&d));
    testing::internal::GetCapturedStdout();
    EXPECT_NE(0, access(t.file("ran").c_str(), F_OK));
    // A real image of an odd size cannot become a transform for "Complex MRC".
    MRCData r;
    ramp(r, 23, 5);
    u.set("T", touch.c_str(), "", "", "", 2, 1, 1, 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(nullptr, u.doFile(&r));
    testing::internal::GetCapturedStdout();
    EXPECT_NE(0, access(t.file("ran").c_str(), F_OK));
}

}  // namespace

namespace {

TEST(UsrFn, FileDomainFollowsTheFileType) {
    UfnDir t;
    MRCData real;
    ramp(real, 64, 64);
    std::unique_ptr<MRCData> fft(real.doFFT(0));
    ASSERT_TRUE(fft);
    UsrFn u;
    // A transform handed to a "Real MRC" function is written as its inverse.
    u.set("Cat", "cat", "", "", "", 1, 1, 1, 2);
    testing::internal::CaptureStdout();
    std::unique_ptr<MRCData> back(u.doFile(fft.get()));
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->isComplex());
    ASSERT_EQ(64, back->xSize());
    for (int i = 0; i < 64 * 64; i++) ASSERT_NEAR(real.getRealData()[i], back->getRealData()[i], 1e-3) << i;
    // A real image handed to a "Complex MRC" function is written as its transform
    // (an MRC complex file brings amplitudes back times ySize / xSize).
    u.set("Cat", "cat", "", "", "", 2, 1, 1, 2);
    testing::internal::CaptureStdout();
    std::unique_ptr<MRCData> tr(u.doFile(&real));
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(tr);
    ASSERT_TRUE(tr->isComplex());
    ASSERT_EQ(66, tr->xSize());
    const float* a = fft->getRealData();
    const float* b = tr->getRealData();
    for (int i = 0; i < 66 * 64; i += 2) {
        ASSERT_NEAR(a[i] * 64.0f / 66.0f, b[i], 1e-3f * (1 + a[i])) << i;
        if (a[i] > 1e-2f) {
            ASSERT_NEAR(std::cos(a[i + 1]), std::cos(b[i + 1]), 1e-3) << i;
        }
    }
}

}  // namespace
