// SPIDER files: third-party files, round trips, byte order, hostile headers.
#include <cmath>
#include <cstring>

#include "core/MRCData.h"
#include "tests/core/fmt_testutil.h"

namespace {

using namespace fmtt;

float word(const std::vector<unsigned char>& b, int off) {
    float v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
void setWord(std::vector<unsigned char>& b, int off, float v) {
    std::memcpy(b.data() + off, &v, 4);
}

TEST(Spider, ReadsRelionFilesInFileOrder) {
    struct {
        const char* file;
        int nx, ny;
    } cases[] = {{"spider/img_64x48.spi", 64, 48}, {"spider/img_30x20.spi", 30, 20}, {"spider/img_300x2.spi", 300, 2}};
    for (auto& c : cases) {
        MRCData d;
        std::string out = captured([&] { ASSERT_EQ(1, d.readSPIDER(dataFile(c.file).c_str())); });
        EXPECT_EQ(c.nx, d.xSize()) << c.file;
        EXPECT_EQ(c.ny, d.ySize());
        EXPECT_FALSE(d.isComplex());
        for (int y = 0; y < c.ny; y++)
            for (int x = 0; x < c.nx; x++) ASSERT_EQ(patternF32(x, y), d.getRealData()[y * c.nx + x]) << c.file;
        EXPECT_NE(std::string::npos,
                  out.find(std::string("2d ") + std::to_string(c.nx) + "x" + std::to_string(c.ny) + " Spider image"));
    }
}

TEST(Spider, RefusesVolumes) {
    MRCData d;
    std::string out = captured([&] { EXPECT_EQ(0, d.readSPIDER(dataFile("spider/vol_16x12x5.spi").c_str())); });
    EXPECT_EQ("Spider: Not a 2d image\n", out);
}

TEST(Spider, RoundTripAndHeaderLayout) {
    TempDir t;
    for (int n : {64, 512, 30}) {
        MRCData d;
        makeReal(d, n, 20, [](int x, int y) { return x * 0.5f - y * 1.25f; });
        d.setName("roundtrip");
        const std::string f = t / ("a" + std::to_string(n) + ".spi");
        ASSERT_EQ(1, d.writeSPIDER(f.c_str()));
        auto b = slurp(f);
        int labrec = 1023 / (4 * n) + 1, labbyt = std::max(1024, labrec * 4 * n);
        EXPECT_EQ(labrec, word(b, 48));
        EXPECT_EQ(labbyt, word(b, 84));
        EXPECT_EQ(4.0f * n, word(b, 88));
        EXPECT_EQ(1.0f, word(b, 16));
        EXPECT_EQ(-1.0f, word(b, 36));
        EXPECT_EQ(0, std::memcmp(b.data() + 864, "roundtrip", 9));
        ASSERT_EQ((size_t)labbyt + 4u * n * 20, b.size());
        for (int i = 1024; i < labbyt; i++) ASSERT_EQ(0, b[i]);
        MRCData e;
        captured([&] { ASSERT_EQ(1, e.readSPIDER(f.c_str())); });
        ASSERT_EQ(n, e.xSize());
        EXPECT_EQ(0, std::memcmp(d.getRealData(), e.getRealData(), sizeof(float) * n * 20));
    }
    // 64 wide: LABREC 4, LABBYT 1024; 512 wide: LABREC 1, LABBYT 2048.
    EXPECT_EQ(4.0f, word(slurp(t / "a64.spi"), 48));
    EXPECT_EQ(2048.0f, word(slurp(t / "a512.spi"), 84));
}

TEST(Spider, KeptHeaderSurvivesRewrite) {
    TempDir t;
    MRCData d;
    captured([&] { d.readSPIDER(dataFile("spider/img_64x48.spi").c_str()); });
    ASSERT_EQ(1, d.writeSPIDER((t / "b.spi").c_str()));
    auto a = slurp(dataFile("spider/img_64x48.spi")), b = slurp(t / "b.spi");
    EXPECT_EQ(0, std::memcmp(a.data() + 836, b.data() + 836, 1024 - 836));  // dates, title
    EXPECT_EQ(word(a, 36), word(b, 36));                                    // SIG kept
}

TEST(Spider, BigEndianTwinReadsTheSame) {
    TempDir t;
    auto b = slurp(dataFile("spider/img_30x20.spi"));
    brev(b.data(), 50);
    brev(b.data() + 1080, 30 * 20);
    ASSERT_EQ(0x3F, b[0]);
    spit(t / "be.spi", b);
    MRCData le, be;
    captured([&] { le.readSPIDER(dataFile("spider/img_30x20.spi").c_str()); });
    std::string out = captured([&] { ASSERT_EQ(1, be.readSPIDER((t / "be.spi").c_str())); });
    EXPECT_NE(std::string::npos, out.find("' 1\n"));
    EXPECT_EQ(0, std::memcmp(le.getRealData(), be.getRealData(), 30 * 20 * 4));
}

TEST(Spider, MissingRowsAreZero) {
    TempDir t;
    auto b = slurp(dataFile("spider/img_64x48.spi"));
    b.resize(1024 + 64 * 4 * 40 + 10);  // 40 of 48 rows and a bit
    spit(t / "short.spi", b);
    MRCData d;
    std::string out = captured([&] { ASSERT_EQ(1, d.readSPIDER((t / "short.spi").c_str())); });
    EXPECT_NE(std::string::npos, out.find("Spider: Incomplete data read\n"));
    EXPECT_EQ(patternF32(5, 39), d.getRealData()[39 * 64 + 5]);
    for (int i = 40 * 64; i < 48 * 64; i++) ASSERT_EQ(0.0f, d.getRealData()[i]);
}

TEST(Spider, HostileHeadersAreRefused) {
    TempDir t;
    auto base = slurp(dataFile("spider/img_64x48.spi"));
    struct {
        int off;
        float v;
    } bad[] = {{44, 1e9f}, {4, 3e5f}, {44, -5}, {44, 0.5f}, {84, 100}, {84, 1e12f}, {4, NAN}, {44, INFINITY}};
    for (auto& c : bad) {
        auto b = base;
        setWord(b, c.off, c.v);
        spit(t / "h.spi", b);
        MRCData d;
        std::string out = captured([&] { EXPECT_EQ(0, d.readSPIDER((t / "h.spi").c_str())); });
        EXPECT_TRUE(out.find("Spider:") != std::string::npos) << c.off << " " << c.v << ": " << out;
    }
    // Too short for its header: refused without a message.
    spit(t / "tiny.spi", std::vector<unsigned char>(base.begin(), base.begin() + 500));
    MRCData d;
    EXPECT_EQ(0, d.readSPIDER((t / "tiny.spi").c_str()));
}

}  // namespace

namespace {

using namespace fmtt;

TEST(Spider, CompressedFilesThroughZcat) {
    TempDir t;
    std::system(("gzip -c '" + dataFile("spider/img_30x20.spi") + "' > '" + (t / "a.spi.gz") + "'").c_str());
    MRCData d;
    captured([&] { ASSERT_EQ(1, d.readSPIDER((t / "a.spi.gz").c_str())); });
    EXPECT_STREQ("a.spi.gz", d.Name());
    EXPECT_EQ(patternF32(29, 19), d.getRealData()[19 * 30 + 29]);
    // A compressed header promising a huge image with nothing behind it.
    auto b = slurp(dataFile("spider/img_30x20.spi"));
    float big = 30000;
    std::memcpy(b.data() + 4, &big, 4);
    std::memcpy(b.data() + 44, &big, 4);
    b.resize(2000);
    spit(t / "h.spi", b);
    std::system(("gzip -f '" + (t / "h.spi") + "'").c_str());
    std::string out = captured([&] { EXPECT_EQ(0, d.readSPIDER((t / "h.spi.gz").c_str())); });
    EXPECT_NE(std::string::npos, out.find("Spider: Incomplete data read\n"));
}

}  // namespace
