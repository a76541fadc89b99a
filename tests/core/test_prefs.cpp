// The preference store and its file ~/.tvenv.
#include "tests/core/testutil.h"

namespace {

// Writes the table and loads it again from the file.
void reload() {
    ASSERT_EQ(saveenv2(), 1);
    clearenv2();
    openenv2();
}

}  // namespace

TEST(Prefs, ReadsTabSeparatedLinesOrSaysTheFileIsMissing) {
    TempDir t;
    EXPECT_EQ(captured([] { openenv2(); }), "No environment file\n");
    EXPECT_EQ(envcount(), 0);
    spit(t.file(".tvenv"), "a\tb\tc\nno tab here\nmag\t  45\n\nscanres\t7\nmag\t99\n");
    openenv2();
    EXPECT_EQ(envcount(), 4);
    EXPECT_STREQ(getenv2("a"), "b\tc");
    EXPECT_EQ(getenv2("no tab here"), nullptr);
    EXPECT_FLOAT_EQ(getenvf("mag"), 45);  // the first of duplicates wins
    EXPECT_EQ(getenvi("scanres"), 7);
}

TEST(Prefs, DefaultsAreStoredByNumericAccessorsOnly) {
    TempDir t;
    EXPECT_STREQ(getenv2d("psfile", "tarvik.ps"), "tarvik.ps");
    EXPECT_EQ(envcount(), 0);
    EXPECT_FLOAT_EQ(getenvfd("x", 2.5f), 2.5f);
    EXPECT_EQ(getenvid("n", 7), 7);
    EXPECT_EQ(getenvi("absent"), 0);
    EXPECT_EQ(getenvf("absent"), 0.0f);
    setenvf("one", 1);
    setenv2("text", "hello world");
    setenvf("big", 123456.7f);
    setenvi("n", 3);  // replaces in place
    ASSERT_EQ(saveenv2(), 1);
    EXPECT_EQ(slurp(t.file(".tvenv")), "x\t    2.5\nn\t3\none\t      1\ntext\thello world\nbig\t1.2346e+05\n");
    reload();
    EXPECT_EQ(getenvi("n"), 3);
    EXPECT_STREQ(getenv2("text"), "hello world");
    // Values that are no numbers read as 0, and are not replaced by the default.
    EXPECT_EQ(getenvi("text"), 0);
    EXPECT_EQ(getenvfd("text", 5), 0.0f);
    EXPECT_EQ(getenvid("text", 5), 0);
}

TEST(Prefs, LongValuesManyEntriesNewlinesAndFailedSaves) {
    TempDir t;
    std::string longval(10000, 'x');
    spit(t.file(".tvenv"), "before\t1\nlong\t" + longval + "\tnot\tan entry\nafter\t2\nlast\tno newline");
    openenv2();
    EXPECT_EQ(envcount(), 3);  // an overlong line is skipped whole
    EXPECT_EQ(getenv2("long"), nullptr);
    EXPECT_EQ(getenvi("before"), 1);
    EXPECT_EQ(getenvi("after"), 2);
    EXPECT_STREQ(getenv2("last"), "no newline");
    clearenv2();
    // More than fifty entries, a value of 300 characters (past the old 240-byte buffer),
    // and a newline in a value that cannot split the file.
    for (int i = 0; i < 120; i++) setenvi(("key" + std::to_string(i)).c_str(), i);
    std::string v300(300, 'v');
    setenv2("mid", v300.c_str());
    setenv2("dir", "/a\nb\tc");
    reload();
    EXPECT_EQ(envcount(), 122);
    for (int i = 0; i < 120; i++) EXPECT_EQ(getenvi(("key" + std::to_string(i)).c_str()), i);
    EXPECT_EQ(std::string(getenv2("mid")), v300);
    EXPECT_STREQ(getenv2("dir"), "/a b\tc");
    // A failed save keeps the old file.
    spit(t.file(".tvenv"), "keep\t1\n");
    setenv2("x", std::string(5000, 'v').c_str());
    std::string out = capturedOnFullDisk(1000, [] { EXPECT_EQ(saveenv2(), 0); });
    EXPECT_NE(out.find("Cannot write environment file"), std::string::npos);
    EXPECT_EQ(slurp(t.file(".tvenv")), "keep\t1\n");
    EXPECT_EQ(dirEntries(t.path), std::vector<std::string>{".tvenv"});  // no temporary left behind
    // save_data writes curves, or nothing where no file can be made.
    float x[3] = {0, 0.5f, 1e-7f}, y[3] = {1, -2.25f, 3e10f};
    ASSERT_EQ(save_data(x, y, 3, t.file("c.dat").c_str()), 1);
    EXPECT_EQ(slurp(t.file("c.dat")), "0\t1\n0.5\t-2.25\n1e-07\t3e+10\n");
    EXPECT_EQ(save_data(x, y, 3, "/nonexistent-folder/c.dat"), 0);
}
