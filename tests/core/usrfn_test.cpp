// User functions: definition records and files, command lines, real runs.
#include "ufn/usrfn.h"

#include <sys/stat.h>

#include <memory>

#include "tests/core/testutil.h"

namespace {

struct UfnDir : TempDir {
    UfnDir() { ufn_set_tempdir(path.c_str()); }
    ~UfnDir() { ufn_set_tempdir(nullptr); }
};

float ramp(int x, int y) {
    return x * 0.5f - y * 0.25f + 3;
}

// Runs u on d with its chatter captured; the new data set, if any.
std::unique_ptr<MRCData> run(UsrFn& u, MRCData& d, std::string* out = nullptr) {
    MRCData* r = nullptr;
    std::string o = captured([&] { r = u.doFile(&d); });
    if (out) *out = o;
    return std::unique_ptr<MRCData>(r);
}

TEST(UsrFn, SetCleansTextsRecordsRoundTripAndLongLinesSplit) {
    // set cleans the texts and keeps the codes.
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
    EXPECT_EQ(std::vector<int>({1, 2, 1, 2}),
              std::vector<int>({u.getftype(), u.getinput(), u.getoutput(), u.getresult()}));
    TempDir t;
    const std::string f = t.file("defs");
    FILE* fp = std::fopen(f.c_str(), "w");
    UsrFn a, b;
    // Every field of the record differs from the others, so a swap shows.
    a.set("Invert", "myinvert -q", "-i", "-o", "-x", 4, 2, 1, 3);
    a.writeself(fp);
    std::fclose(fp);
    EXPECT_EQ("Invert\nmyinvert -q\n-i\n-o\n-x\n4 2 1 3\n", slurp(f));
    fp = std::fopen(f.c_str(), "r");
    EXPECT_EQ(1, b.readself(fp));
    EXPECT_EQ(std::vector<std::string>({"Invert", "myinvert -q", "-i", "-o", "-x"}),
              std::vector<std::string>({b.getmenu(), b.getcommand(), b.getoption(0), b.getoption(1), b.getoption(2)}));
    EXPECT_EQ(std::vector<int>({4, 2, 1, 3}),
              std::vector<int>({b.getftype(), b.getinput(), b.getoutput(), b.getresult()}));
    EXPECT_EQ(0, b.readself(fp));
    std::fclose(fp);
    spit(f, std::string(600, 'm') + "\ncmd\n");
    fp = std::fopen(f.c_str(), "r");
    EXPECT_EQ(1, b.readself(fp));
    std::fclose(fp);
    EXPECT_EQ(std::string(511, 'm'), b.getmenu());
    EXPECT_EQ(std::string(89, 'm'), b.getcommand());  // the rest of the long line
    EXPECT_STREQ("cmd", b.getoption(0));
    EXPECT_EQ(0, b.getftype());  // code line missing: codes stay 0
}

TEST(UsrFn, DefinitionFilesAndCommandLines) {
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
    // Command lines: the file names are quoted for the shell, the user's texts are not.
    UsrFn u;
    // The file names are quoted for the shell; the user's texts are not.
    const std::string T = "/tmp/a b'c", q = "'/tmp/a b'\\''c'", qo = "'/tmp/a b'\\''c.out'";
    u.set("m", "cat", "", "", "", 1, 1, 1, 2);
    EXPECT_EQ("cat    <" + q + " >" + qo, u.commandLine(T));
    const std::pair<int, int> io[] = {{1, 2}, {2, 1}, {3, 2}};
    const std::string want[] = {"C O0 O1 " + qo + " O2 <" + q, "C O0 " + q + " O1 O2 >" + qo,
                                "C O0 " + q + " O1 " + qo + " O2"};
    for (int i = 0; i < 3; i++) {
        u.set("m", "C", "O0", "O1", "O2", 1, (char)io[i].first, (char)io[i].second, 2);
        EXPECT_EQ(want[i], u.commandLine(T));
    }
    EXPECT_EQ("/tmp/usrfn" + std::to_string(getuid()), ufn_tempbase());
}

// Runs u on a ramp; the result must equal the source within tol (8-bit pictures come back as 0..1).
void expectSameAfter(UsrFn& u, float tol) {
    MRCData d;
    makeReal(d, 24, 16, ramp);
    d.setRenMinMax(d.Min(), d.Max());
    std::string out;
    auto r = run(u, d, &out);
    ASSERT_TRUE(r) << out;
    float lo = tol > 0 ? d.Min() : 0, scale = tol > 0 ? d.Max() - d.Min() : 1;
    auto want = [&](int x, int y) { return (ramp(x, y) - lo) / scale; };
    EXPECT_EQ(0, mismatches(*r, 24, 16, want, tol)) << out;
}

// Every file type gives back an equal new data set, also when the temporary names hold
// blanks, quotes and commands: the function runs on its files and nothing else runs.
TEST(UsrFn, EveryFileTypeGivesAnEqualNewDataSetAndNothingElseRuns) {
    TempDir t(true);
    const std::string dir = t.file("a b'$(touch one)';touch two;'");
    ASSERT_EQ(0, mkdir(dir.c_str(), 0700));
    ufn_set_tempdir(dir.c_str());
    const char* imagic = "sh -c 'cp \"$0.hed\" \"$1.hed\" && cp \"$0.img\" \"$1.img\"'";
    const float pic = 1.0f / 255 + 1e-6f;
    const std::tuple<const char*, char, char, char, float> kinds[] = {
        // command, file type, input, output, tol
        {"cat", 1, 1, 1, 0},   {"cp", 1, 2, 2, 0},  // file names instead of redirection
        {"cat", 4, 1, 1, pic}, {"cat", 5, 1, 1, pic},
        {imagic, 3, 2, 2, 0},  {imagic, 3, 2, 2, 0}};  // a second run starts from a fresh stack
    for (auto& [cmd, ftype, input, output, tol] : kinds) {
        UsrFn u;
        u.set("F", cmd, "", "", "", ftype, input, output, 2);
        expectSameAfter(u, tol);
    }
    ufn_set_tempdir(nullptr);
    EXPECT_EQ(dirEntries(t.path).size(), 1u);  // only the folder itself
}

TEST(UsrFn, ReplaceNoOutputAndRefusals) {
    UfnDir t;
    MRCData d, other;
    makeReal(d, 8, 8, ramp);
    UsrFn u;
    u.set("Touch", "touch", "", "", "", 1, 2, 1, 3);  // No Output: the input file is still written
    EXPECT_EQ(nullptr, run(u, d));
    EXPECT_EQ(0, access((ufn_tempbase()).c_str(), F_OK));
    // Replace: d takes what the command left.
    makeReal(other, 5, 3, ramp);
    other.writeMRCData(t.file("other.mrc").c_str(), 0);
    const std::string cmd = "sh -c 'cp " + t.file("other.mrc") + " \"$1\"'";
    u.set("Other", cmd.c_str(), "", "", "", 1, 2, 2, 1);
    EXPECT_EQ(nullptr, run(u, d));
    EXPECT_EQ(0, mismatches(d, 5, 3, ramp));
    // Refused before anything runs: IMAGIC with Replace; transforms that cannot be made.
    const std::string touch = "touch " + t.file("ran");
    u.set("Im", touch.c_str(), "", "", "", 3, 1, 1, 1);
    std::string out;
    EXPECT_EQ(nullptr, run(u, d, &out));
    EXPECT_EQ("Sorry, replace mode not supported for imagic files.\n", out);
    // 48 floats per row: a real width of 46 = 2 x 23, which no transform accepts.
    std::vector<float> c(48 * 4, 1.0f);
    d.setComplData(c.data(), 48, 4, 1);
    u.set("T", touch.c_str(), "", "", "", 1, 1, 1, 2);
    EXPECT_EQ(nullptr, run(u, d));
    // A real image of an odd size cannot become a transform for "Complex MRC".
    makeReal(d, 23, 5, ramp);
    u.set("T", touch.c_str(), "", "", "", 2, 1, 1, 2);
    EXPECT_EQ(nullptr, run(u, d));
    EXPECT_NE(0, access(t.file("ran").c_str(), F_OK));
}

// Links planted at the temporary names are not followed.
TEST(UsrFn, PlantedLinksAreNotFollowed) {
    UfnDir t;
    const std::string victim = t.file("victim"), T = ufn_tempbase();
    spit(victim, "precious");
    ASSERT_EQ(0, symlink(victim.c_str(), T.c_str()));
    ASSERT_EQ(0, symlink(victim.c_str(), (T + ".out").c_str()));
    MRCData p;
    makeReal(p, 8, 8, ramp);
    UsrFn v;
    v.set("Cat", "cat", "", "", "", 1, 1, 1, 2);
    auto linked = run(v, p);
    EXPECT_EQ("precious", slurp(victim));
    EXPECT_EQ(0, mismatches(linked.get(), 8, 8, ramp));
    struct stat st;
    ASSERT_EQ(0, lstat(T.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
}

TEST(UsrFn, FileDomainFollowsTheFileType) {
    UfnDir t;
    MRCData real;
    makeReal(real, 64, 64, ramp);
    std::unique_ptr<MRCData> fft(real.doFFT(0));
    ASSERT_TRUE(fft);
    UsrFn u;
    // A transform handed to a "Real MRC" function is written as its inverse.
    u.set("Cat", "cat", "", "", "", 1, 1, 1, 2);
    auto back = run(u, *fft);
    ASSERT_TRUE(back);
    EXPECT_FALSE(back->isComplex());
    EXPECT_EQ(0, mismatches(*back, 64, 64, ramp, 1e-3));
    // A real image handed to a "Complex MRC" function is written as its transform
    // (an MRC complex file brings amplitudes back times ySize / xSize).
    u.set("Cat", "cat", "", "", "", 2, 1, 1, 2);
    auto tr = run(u, real);
    ASSERT_TRUE(tr);
    ASSERT_TRUE(tr->isComplex());
    ASSERT_EQ(66, tr->xSize());
    const float *a = fft->getRealData(), *b = tr->getRealData();
    for (int i = 0; i < 66 * 64; i += 2) {
        ASSERT_NEAR(a[i] * 64.0f / 66.0f, b[i], 1e-3f * (1 + a[i])) << i;
        ASSERT_NEAR(a[i] > 1e-2f ? std::cos(a[i + 1]) - std::cos(b[i + 1]) : 0, 0, 1e-3) << i;
    }
}

}  // namespace
