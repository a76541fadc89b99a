// tarvik-proc info and convert, run as the real program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>

#include "core/MRCData.h"
#include "tests/core/testutil.h"

namespace {

std::string proc(const std::string& args) {
    return std::string("'") + TARVIK_PROC + "' " + args;
}

}  // namespace

TEST(ProcFiles, ConvertRoundTripsEveryRealFixture) {
    TempDir t;
    for (const char* f : {"mode0_le.mrc", "mode0_be.mrc", "mode1_le.mrc", "mode1_be.mrc", "mode2_le.mrc",
                          "mode2_be.mrc", "mode2_le.mrc.gz", "f32_30x20_le.mrc", "f32_300x2_le.mrc"}) {
        std::string in = dataFile(std::string("mrc/") + f);
        std::string a = t.file("a.mrc"), b = t.file("b.mrc");
        ASSERT_EQ(runCommand(proc("convert '" + in + "' '" + a + "' 2>/dev/null")), 0) << f;
        ASSERT_EQ(runCommand(proc("convert '" + a + "' '" + b + "' 2>/dev/null")), 0) << f;
        MRCData src, back;
        testing::internal::CaptureStdout();
        int ok = src.readMRCData(in.c_str()) + back.readMRCData(b.c_str());
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(ok, 2) << f;
        ASSERT_EQ(back.xSize(), src.xSize());
        ASSERT_EQ(back.ySize(), src.ySize());
        EXPECT_EQ(std::memcmp(back.getRealData(), src.getRealData(), src.xSize() * src.ySize() * 4), 0) << f;
        EXPECT_EQ(back.MRCHed()->mode, 2);
        EXPECT_EQ(back.MRCHed()->nlabl, src.MRCHed()->nlabl + 2);
        EXPECT_EQ(std::string(back.MRCHed()->labels[back.MRCHed()->nlabl - 1]).rfind("tarvik: ", 0), 0u);
    }
}

TEST(ProcFiles, ConvertToShortModes) {
    TempDir t;
    std::string in = dataFile("mrc/mode1_le.mrc");
    ASSERT_EQ(runCommand(proc("convert '" + in + "' '" + t.file("r.mrc") + "' --short-raw 2>/dev/null")), 0);
    ASSERT_EQ(runCommand(proc("convert '" + in + "' '" + t.file("s.mrc") + "' --short 2>/dev/null")), 0);
    MRCData src, raw, scaled;
    testing::internal::CaptureStdout();
    src.readMRCData(in.c_str());
    raw.readMRCData(t.file("r.mrc").c_str());
    scaled.readMRCData(t.file("s.mrc").c_str());
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(raw.MRCHed()->mode, 1);
    EXPECT_EQ(std::memcmp(raw.getRealData(), src.getRealData(), 64 * 48 * 4), 0);
    EXPECT_EQ(scaled.Min(), 0);
    EXPECT_GE(scaled.Max(), 4094);
    EXPECT_LE(scaled.Max(), 4095);
}

TEST(ProcFiles, InfoLinesAndJson) {
    TempDir t;
    std::string in = dataFile("mrc/mode2_le.mrc");
    std::string out;
    ASSERT_EQ(runCommand(proc("info '" + in + "' 2>/dev/null"), &out), 0);
    EXPECT_EQ(out.rfind(in + "  64x48  real  Min -322.77  Max 678.93  Mean ", 0), 0u) << out;
    for (const char* k : {"Sigma", "EdgeMean", "EdgeSigma", "RenMin", "RenMax"})
        EXPECT_NE(out.find(k), std::string::npos);
    ASSERT_EQ(runCommand(proc("info --json '" + in + "' '" + dataFile("mrc/mode4_le.mrc") + "' 2>/dev/null"), &out), 0);
    size_t nl = out.find('\n');
    ASSERT_NE(nl, std::string::npos);
    std::string first = out.substr(0, nl), second = out.substr(nl + 1);
    EXPECT_EQ(
        first.rfind("{\"file\": \"" + in + "\", \"nx\": 64, \"ny\": 48, \"complex\": false, \"Min\": -322.769989", 0),
        0u)
        << first;
    for (const char* k : {"\"Max\": ", "\"Mean\": ", "\"Sigma\": ", "\"EdgeMean\": ", "\"EdgeSigma\": ", "\"RenMin\": ",
                          "\"RenMax\": "})
        EXPECT_NE(first.find(k), std::string::npos) << k;
    EXPECT_NE(second.find("\"complex\": true"), std::string::npos);
    EXPECT_EQ(first.back(), '}');
}

TEST(ProcFiles, FailuresExitNonZeroWithTheReadersMessageAndNoOutput) {
    TempDir t;
    std::string out, err = t.file("err");
    std::string o = t.file("o.mrc");
    EXPECT_NE(runCommand(proc("convert '" + dataFile("mrc/mode6_le.mrc") + "' '" + o + "' 2>'" + err + "'")), 0);
    EXPECT_NE(slurp(err).find("Bad MRC file\n"), std::string::npos);
    EXPECT_NE(slurp(err).find("tarvik-proc: cannot read"), std::string::npos);
    EXPECT_EQ(access(o.c_str(), F_OK), -1);
    EXPECT_NE(runCommand(proc("convert '" + dataFile("mrc/mode2_le.mrc") + "' '" + t.file("no/dir/o.mrc") + "' 2>'" +
                              err + "'")),
              0);
    EXPECT_NE(slurp(err).find("Cannot open file for writing"), std::string::npos);
    // The tool never leaves a partial file: a full disk keeps the old one.
    spit(o, "old");
    EXPECT_NE(
        runCommand("ulimit -f 4; " + proc("convert '" + dataFile("mrc/mode2_le.mrc") + "' '" + o + "' 2>/dev/null")),
        0);
    EXPECT_EQ(slurp(o), "old");
    EXPECT_EQ(dirEntries(t.path).size(), 2u);  // o.mrc and err
    EXPECT_EQ(runCommand(proc("frobnicate 2>/dev/null")), 2);
    EXPECT_EQ(runCommand(proc("convert onlyone 2>/dev/null")), 2);
    EXPECT_EQ(runCommand(proc("info --nope x 2>/dev/null")), 2);
    ASSERT_EQ(runCommand(proc("--help"), &out), 0);
    EXPECT_NE(out.find("info"), std::string::npos);
    EXPECT_NE(out.find("convert"), std::string::npos);
}

TEST(ProcFiles, SuccessPrintsOnlyTheResultAndVerboseAddsTheReadersLines) {
    TempDir t;  // an empty HOME: no preference file
    std::string in = dataFile("mrc/mode2_le.mrc"), err = t.file("err"), out;
    ASSERT_EQ(runCommand(proc("info '" + in + "' 2>'" + err + "'"), &out), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(slurp(err), "");
    ASSERT_EQ(runCommand(proc("info --verbose '" + in + "' 2>'" + err + "'"), &out), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(slurp(err).find("No environment file"), std::string::npos);
    EXPECT_NE(slurp(err).find(in + " is a"), std::string::npos);
}

// The README's command list is the one --help prints.
TEST(ProcFiles, ReadmeListsEveryCommandAsHelpDoes) {
    std::string help, readme = slurp(dataFile("../../README.md"));
    ASSERT_EQ(runCommand(proc("--help"), &help), 0);
    std::istringstream in(help);
    std::string line;
    int commands = 0;
    bool inList = false;
    while (std::getline(in, line)) {
        if (line == "commands:") inList = true;
        if (inList && line.empty()) break;
        if (!inList || line.size() < 3 || line[2] == ' ' || line.compare(0, 2, "  ") != 0) continue;
        // "  NAME           USAGE": README shows "build/tarvik-proc NAME USAGE".
        std::istringstream w(line);
        std::string name, rest;
        w >> name;
        std::getline(w >> std::ws, rest);
        std::string shown = "build/tarvik-proc " + name + (rest.empty() ? "" : " " + rest) + "\n";
        EXPECT_NE(readme.find(shown), std::string::npos) << shown;
        commands++;
    }
    EXPECT_GE(commands, 5);
}
