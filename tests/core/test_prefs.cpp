#include <gtest/gtest.h>

#include <string>

#include "core/prefs.h"
#include "tests/core/testutil.h"

TEST(Prefs, MissingFileSaysSoAndStartsEmpty) {
    TempDir t;
    testing::internal::CaptureStdout();
    openenv2();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No environment file\n");
    EXPECT_EQ(envcount(), 0);
}

TEST(Prefs, ReadsTabSeparatedLines) {
    TempDir t;
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
    ASSERT_EQ(saveenv2(), 1);
    EXPECT_EQ(slurp(t.file(".tvenv")), "x\t    2.5\nn\t7\n");
}

TEST(Prefs, FloatFormatAndPositionKept) {
    TempDir t;
    setenvf("one", 1);
    setenv2("text", "hello world");
    setenvf("big", 123456.7f);
    setenvi("one", 3);  // replaces in place
    ASSERT_EQ(saveenv2(), 1);
    EXPECT_EQ(slurp(t.file(".tvenv")), "one\t3\ntext\thello world\nbig\t1.2346e+05\n");
    clearenv2();
    openenv2();
    EXPECT_EQ(getenvi("one"), 3);
    EXPECT_STREQ(getenv2("text"), "hello world");
}

TEST(Prefs, UnparsableNumbersReadAsZero) {
    TempDir t;
    setenv2("v", "abc");
    EXPECT_EQ(getenvi("v"), 0);
    EXPECT_EQ(getenvfd("v", 5), 0.0f);
    EXPECT_EQ(getenvid("v", 5), 0);
}

TEST(Prefs, MoreThanFiftyEntriesAllSurvive) {
    TempDir t;
    for (int i = 0; i < 120; i++) setenvi(("key" + std::to_string(i)).c_str(), i);
    ASSERT_EQ(saveenv2(), 1);
    clearenv2();
    openenv2();
    EXPECT_EQ(envcount(), 120);
    for (int i = 0; i < 120; i++) EXPECT_EQ(getenvi(("key" + std::to_string(i)).c_str()), i);
}

TEST(Prefs, OverlongLinesAreSkippedWhole) {
    TempDir t;
    std::string longval(10000, 'x');
    spit(t.file(".tvenv"), "before\t1\nlong\t" + longval + "\tnot\tan entry\nafter\t2\nlast\tno newline");
    openenv2();
    EXPECT_EQ(envcount(), 3);
    EXPECT_EQ(getenv2("long"), nullptr);
    EXPECT_EQ(getenvi("before"), 1);
    EXPECT_EQ(getenvi("after"), 2);
    EXPECT_STREQ(getenv2("last"), "no newline");
    // A value of 300 characters (past the old 240-byte buffer) is kept whole.
    std::string v300(300, 'v');
    setenv2("mid", v300.c_str());
    saveenv2();
    clearenv2();
    openenv2();
    EXPECT_EQ(std::string(getenv2("mid")), v300);
}

TEST(Prefs, NewlinesInValuesCannotSplitTheFile) {
    TempDir t;
    setenv2("dir", "/a\nb\tc");
    saveenv2();
    clearenv2();
    openenv2();
    EXPECT_EQ(envcount(), 1);
    EXPECT_STREQ(getenv2("dir"), "/a b\tc");
}

TEST(Prefs, FailedSaveKeepsTheOldFile) {
    TempDir t;
    spit(t.file(".tvenv"), "keep\t1\n");
    std::string big(5000, 'v');
    setenv2("x", big.c_str());
    {
        FileSizeLimit limit(1000);
        testing::internal::CaptureStdout();
        EXPECT_EQ(saveenv2(), 0);
        EXPECT_NE(testing::internal::GetCapturedStdout().find("Cannot write environment file"), std::string::npos);
    }
    EXPECT_EQ(slurp(t.file(".tvenv")), "keep\t1\n");
    EXPECT_EQ(dirEntries(t.path), std::vector<std::string>{".tvenv"});  // no temporary left behind
}

TEST(Prefs, SaveDataWritesCurves) {
    TempDir t;
    float x[3] = {0, 0.5f, 1e-7f}, y[3] = {1, -2.25f, 3e10f};
    ASSERT_EQ(save_data(x, y, 3, t.file("c.dat").c_str()), 1);
    EXPECT_EQ(slurp(t.file("c.dat")), "0\t1\n0.5\t-2.25\n1e-07\t3e+10\n");
    EXPECT_EQ(save_data(x, y, 3, "/nonexistent-folder/c.dat"), 0);
}
