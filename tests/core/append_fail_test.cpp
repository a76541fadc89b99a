// Appends that fail part-way (a full disk) are failures and leave the files as they were.
#include <gtest/gtest.h>

#include "core/MRCData.h"
#include "tests/core/testutil.h"

namespace {

void fill(MRCData& d, int nx, int ny) {
    std::vector<float> v((size_t)nx * ny);
    for (size_t i = 0; i < v.size(); i++) v[i] = (float)i;
    d.setRealData(v.data(), nx, ny, 1);
}

TEST(AppendFailure, PifOnAFullDisk) {
    TempDir t;
    const std::string f = t.file("a.pif");
    MRCData d;
    fill(d, 64, 64);
    ASSERT_EQ(1, d.appendPIF(f.c_str()));
    const std::string before = slurp(f);
    int ok;
    std::string out;
    {
        FileSizeLimit lim(before.size() + 2000);  // room for the image header, not the values
        testing::internal::CaptureStdout();
        ok = d.appendPIF(f.c_str());
        out = testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(0, ok);
    EXPECT_EQ("appendPIF: cannot write " + f + "\n", out);
    EXPECT_EQ(before, slurp(f));
}

TEST(AppendFailure, ImagicOnAFullDisk) {
    TempDir t;
    MRCData d;
    fill(d, 64, 64);
    ASSERT_EQ(1, d.appendImagic(t.file("s.hed").c_str()));
    const std::string hed = slurp(t.file("s.hed")), img = slurp(t.file("s.img"));
    int ok;
    std::string out;
    {
        FileSizeLimit lim(img.size() + 1000);  // the header fits, the second image does not
        testing::internal::CaptureStdout();
        ok = d.appendImagic(t.file("s.hed").c_str());
        out = testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(0, ok);
    EXPECT_EQ("Cannot write to " + t.file("s.img") + "!\n", out);
    EXPECT_EQ(hed, slurp(t.file("s.hed")));
    EXPECT_EQ(img, slurp(t.file("s.img")));
}

TEST(AppendFailure, SpiderAndPgmKeepTheOldFile) {
    TempDir t;
    MRCData d;
    fill(d, 64, 64);
    ASSERT_EQ(1, d.writeSPIDER(t.file("a.spi").c_str()));
    ASSERT_EQ(1, d.writePGM(t.file("a.pgm").c_str()));
    const std::string s = slurp(t.file("a.spi")), p = slurp(t.file("a.pgm"));
    fill(d, 128, 128);
    {
        FileSizeLimit lim(3000);
        testing::internal::CaptureStdout();
        EXPECT_EQ(0, d.writeSPIDER(t.file("a.spi").c_str()));
        EXPECT_EQ(0, d.writePGM(t.file("a.pgm").c_str()));
        testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(s, slurp(t.file("a.spi")));
    EXPECT_EQ(p, slurp(t.file("a.pgm")));
    // Complex data never go into a SPIDER file.
    std::vector<float> c(66 * 64, 1.0f);
    d.setComplData(c.data(), 66, 64, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ(0, d.writeSPIDER(t.file("c.spi").c_str()));
    EXPECT_EQ("Cannot write complex SPIDER files.\n", testing::internal::GetCapturedStdout());
}

}  // namespace
