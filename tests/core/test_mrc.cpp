#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "tests/core/testutil.h"

namespace {

// The fixtures' own formulas (file order, x fastest).
float f32Pattern(int x, int y) { return (float)(((x - 20.3) * (y + 0.7)) / 3.0); }
int i16Pattern(int x, int y) { return (int16_t)(97 * x - 131 * y + 1000); }
int i8Pattern(int x, int y) { return (int8_t)(((5 * x + 11 * y) % 256) - 128); }

std::string readMsg(MRCData& d, const std::string& path, int* rc) {
    testing::internal::CaptureStdout();
    *rc = d.readMRCData(path.c_str());
    return testing::internal::GetCapturedStdout();
}

// A minimal native-order MRC file.
std::string makeMRC(int nx, int ny, int nz, int mode, const std::string& values, int nsymbt = 0) {
    MRCheader h;
    std::memset(&h, 0, sizeof h);
    h.nx = nx;
    h.ny = ny;
    h.nz = nz;
    h.mode = mode;
    std::memcpy(h.other + 4, &nsymbt, 4);
    std::string s(reinterpret_cast<char*>(&h), sizeof h);
    return s + std::string(nsymbt > 0 ? nsymbt : 0, 'E') + values;
}

std::string floats(const std::vector<float>& v) { return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 4); }

}  // namespace

TEST(MRCRead, FloatFilesInBothByteOrders) {
    TempDir t;
    for (const char* f : {"mode2_le.mrc", "mode2_be.mrc", "mode2_le.mrc.gz"}) {
        std::string path = dataFile(std::string("mrc/") + f);
        MRCData d;
        int rc;
        std::string msg = readMsg(d, path, &rc);
        ASSERT_EQ(rc, 1) << f;
        bool be = std::strstr(f, "_be") != nullptr, gz = std::strstr(f, ".gz") != nullptr;
        EXPECT_EQ(msg, path + " is a " + (be ? "byte reversed" : "") + " " + (gz ? "compressed" : "") +
                           " 64x48 2D float MRC File\n");
        EXPECT_STREQ(d.Name(), f);
        EXPECT_EQ(d.File(), path);
        ASSERT_EQ(d.xSize(), 64);
        ASSERT_EQ(d.ySize(), 48);
        EXPECT_EQ(d.isComplex(), 0);
        for (int y = 0; y < 48; y++)
            for (int x = 0; x < 64; x++) ASSERT_EQ(d.valueAt(x, y), f32Pattern(x, y)) << f << " " << x << "," << y;
        // The map text and machine stamp keep their bytes.
        const unsigned char* hb = reinterpret_cast<const unsigned char*>(d.MRCHed());
        EXPECT_EQ(std::memcmp(hb + 208, "MAP ", 4), 0);
        EXPECT_EQ(d.MRCHed()->nlabl, 1);
    }
}

TEST(MRCRead, IntegerModes) {
    TempDir t;
    for (const char* order : {"le", "be"}) {
        MRCData s;
        ASSERT_EQ(s.readMRCData(dataFile(std::string("mrc/mode1_") + order + ".mrc").c_str()), 1);
        MRCData c;
        ASSERT_EQ(c.readMRCData(dataFile(std::string("mrc/mode0_") + order + ".mrc").c_str()), 1);
        for (int y = 0; y < 48; y++)
            for (int x = 0; x < 64; x++) {
                ASSERT_EQ(s.valueAt(x, y), (float)i16Pattern(x, y));
                // bytes are taken unsigned and divided by 100
                ASSERT_EQ(c.valueAt(x, y), ((i8Pattern(x, y) + 256) % 256) / 100.0f);
            }
    }
}

TEST(MRCRead, ComplexFileBecomesAmplitudeAndPhase) {
    TempDir t;
    for (const char* f : {"mrc/mode4_le.mrc", "mrc/mode4_be.mrc"}) {
        MRCData d;
        int rc;
        std::string msg = readMsg(d, dataFile(f), &rc);
        ASSERT_EQ(rc, 1);
        EXPECT_NE(msg.find(" 128x48 2D float complex MRC File\n"), std::string::npos);
        ASSERT_EQ(d.isComplex(), 1);
        ASSERT_EQ(d.xSize(), 128);
        for (int y = 0; y < 48; y++)
            for (int x = 0; x < 64; x++) {
                float re = x - 31.5f, im = 0.25f * y - 6.0f;
                float amp = d.getRealData()[y * 128 + 2 * x], ph = d.getRealData()[y * 128 + 2 * x + 1];
                ASSERT_NEAR(amp, std::sqrt(re * re + im * im) / 128 * 48, 1e-4);
                ASSERT_NEAR(ph, std::atan2(im, re), 1e-6);
            }
    }
}

TEST(MRCRead, RefusesWhatIsNotA2DImageOfFiveModes) {
    TempDir t;
    struct Case {
        const char* file;
        const char* msg;
    } cases[] = {
        {"mrc/row_64x1_f32_le.mrc", "This appears to be a 1d file. I only read 2d files.\n"},
        {"mrc/vol_16x12x5_f32_le.mrc", "This appears to be a 3d file. I only read 2d files.\n"},
    };
    for (auto& c : cases) {
        MRCData d;
        int rc;
        EXPECT_EQ(readMsg(d, dataFile(c.file), &rc), c.msg);
        EXPECT_EQ(rc, 0);
    }
    MRCData d;
    int rc;
    std::string path = dataFile("mrc/mode6_le.mrc");
    EXPECT_EQ(readMsg(d, path, &rc), path + " is a   64x48 2D unknown MRC File\nBad MRC file\n");
    EXPECT_EQ(rc, 0);
    MRCData e;
    EXPECT_EQ(readMsg(e, t.file("missing.mrc"), &rc), "Cannot open file\n");
    EXPECT_EQ(rc, 0);
    MRCData g;
    EXPECT_EQ(readMsg(g, t.file("missing.mrc.gz"), &rc), "Cannot open file\n");
}

TEST(MRCRead, HostileHeadersAreRefusedBeforeAllocating) {
    TempDir t;
    struct Case {
        int nx, ny, mode, nsymbt;
    } cases[] = {{1 << 30, 1 << 30, 2, 0}, {-5, 10, 2, 0}, {10, -5, 2, 0}, {0, 10, 2, 0},
                 {1 << 29, 4, 4, 0},       {10, 10, 2, -4}, {10, 10, 2, 1 << 30}};
    for (auto& c : cases) {
        std::string p = t.file("h.mrc");
        spit(p, makeMRC(c.nx, c.ny, 1, c.mode, std::string(400, '\0'), 0));
        if (c.nsymbt) {
            std::string s = slurp(p);
            std::memcpy(&s[92], &c.nsymbt, 4);
            spit(p, s);
        }
        MRCData d;
        int rc;
        std::string msg = readMsg(d, p, &rc);
        EXPECT_EQ(rc, 0) << c.nx << " " << c.ny;
        // Either refusal: sizes that look big-endian fail the plane count first.
        EXPECT_TRUE(msg.find("Bad MRC file\n") != std::string::npos || msg.find("3d file") != std::string::npos)
            << msg;
        EXPECT_LE(d.dataCapacity(), 1024u);
    }
    // A little-endian nx that is a multiple of 65536 looks big-endian.
    MRCData d;
    int rc;
    spit(t.file("w.mrc"), makeMRC(65536, 2, 1, 2, ""));
    EXPECT_EQ(readMsg(d, t.file("w.mrc"), &rc), "This appears to be a 3d file. I only read 2d files.\n");
    EXPECT_EQ(rc, 0);
    // Header alone, or less.
    spit(t.file("s.mrc"), std::string(100, 'x'));
    EXPECT_EQ(readMsg(d, t.file("s.mrc"), &rc), "");
    EXPECT_EQ(rc, 0);
}

TEST(MRCRead, TruncatedFiles) {
    TempDir t;
    // float file missing its last row: refused
    std::vector<float> v(4 * 3, 1.5f);
    spit(t.file("f.mrc"), makeMRC(4, 4, 1, 2, floats(v)));
    MRCData d;
    int rc;
    EXPECT_EQ(readMsg(d, t.file("f.mrc"), &rc), t.file("f.mrc") + " is a   4x4 2D float MRC File\nIncomplete data read 0/4 blocks\n");
    EXPECT_EQ(rc, 0);
    // mode 0 missing one of four rows: read on, the missing row is zeros
    spit(t.file("c.mrc"), makeMRC(4, 4, 1, 0, std::string(13, '\xc8')));
    MRCData c;
    std::string msg = readMsg(c, t.file("c.mrc"), &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(msg.find("Incomplete data read 0/4 blocks\n"), std::string::npos);
    for (int x = 0; x < 4; x++) {
        EXPECT_EQ(c.valueAt(x, 0), 2.0f);  // byte 200
        EXPECT_EQ(c.valueAt(x, 3), 0.0f);
    }
    // through a pipe as well
    ASSERT_EQ(runCommand("gzip -c '" + t.file("c.mrc") + "' > '" + t.file("c.mrc.gz") + "'"), 0);
    MRCData z;
    msg = readMsg(z, t.file("c.mrc.gz"), &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(z.valueAt(1, 3), 0.0f);
    EXPECT_EQ(z.valueAt(1, 2), 2.0f);
    // mode 0 with under half its rows: corrupt, not truncated
    spit(t.file("h.mrc"), makeMRC(4, 100, 1, 0, std::string(40, '\x01')));
    MRCData h;
    msg = readMsg(h, t.file("h.mrc"), &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_NE(msg.find("Bad MRC file\n"), std::string::npos);
}

TEST(MRCRead, ExtendedHeaderIsSkipped) {
    TempDir t;
    std::vector<float> v = {1, 2, 3, 4, 5, 6};
    spit(t.file("e.mrc"), makeMRC(3, 2, 1, 2, floats(v), 512));
    MRCData d;
    int rc;
    readMsg(d, t.file("e.mrc"), &rc);
    ASSERT_EQ(rc, 1);
    EXPECT_EQ(d.valueAt(0, 0), 1);
    EXPECT_EQ(d.valueAt(2, 1), 6);
}

TEST(MRCRead, NamesWithShellCharactersOpenThroughTheDecompressor) {
    TempDir t;
    std::string odd = t.file("it's a; `test` $(x).mrc.gz");
    spit(odd, slurp(dataFile("mrc/mode2_le.mrc.gz")));
    MRCData d;
    int rc;
    std::string msg = readMsg(d, odd, &rc);
    EXPECT_EQ(rc, 1) << msg;
    EXPECT_EQ(d.valueAt(5, 5), f32Pattern(5, 5));
}

TEST(MRCWrite, HeaderFieldsAndLabel) {
    TempDir t;
    MRCData d;
    ASSERT_EQ(d.readMRCData(dataFile("mrc/mode1_be.mrc").c_str()), 1);
    d.setName("my image");
    std::string out = t.file("o.mrc");
    time_t now = time(nullptr);
    ASSERT_EQ(d.writeMRCData(out.c_str(), 0), 1);
    std::string s = slurp(out);
    ASSERT_EQ(s.size(), 1024u + 64 * 48 * 4);
    MRCheader h;
    std::memcpy(&h, s.data(), 1024);
    EXPECT_EQ(h.nx, 64);
    EXPECT_EQ(h.ny, 48);
    EXPECT_EQ(h.nz, 1);
    EXPECT_EQ(h.mode, 2);
    EXPECT_EQ(h.xlen, 64.0f);
    EXPECT_EQ(h.ylen, 48.0f);
    EXPECT_EQ(h.mapc, 1);
    EXPECT_EQ(h.mapr, 2);
    EXPECT_EQ(h.maps, 3);
    EXPECT_EQ(h.amin, d.Min());
    EXPECT_EQ(h.amax, d.Max());
    EXPECT_EQ(h.alpha, 90.0f);  // the fixture had 90 already
    EXPECT_EQ(h.nlabl, 2);
    EXPECT_EQ(std::memcmp(s.data() + 208, "MAP \x44\x44\0\0", 8), 0);  // native stamp
    struct tm tmv;
    localtime_r(&now, &tmv);
    char want[100];
    snprintf(want, sizeof want, "tarvik: %d/%d/%02d %d:", tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_year % 100, tmv.tm_hour);
    std::string label(h.labels[1]);
    EXPECT_EQ(label.rfind(want, 0), 0u) << label;
    EXPECT_EQ(label.substr(label.size() - 9), " my image");
    // Values written natively equal the data set.
    const float* f = reinterpret_cast<const float*>(s.data() + 1024);
    for (int i = 0; i < 64 * 48; i++) ASSERT_EQ(f[i], d.getRealData()[i]);
}

TEST(MRCWrite, LabelsStopAtTenAndBadCountsStayInside) {
    TempDir t;
    MRCData d;
    std::vector<float> v(16, 1);
    d.setRealData(v.data(), 4, 4, 1);
    std::string out = t.file("o.mrc");
    for (int i = 0; i < 12; i++) ASSERT_EQ(d.writeMRCData(out.c_str(), 0), 1);
    EXPECT_EQ(d.MRCHed()->nlabl, 10);
    EXPECT_EQ(std::string(d.MRCHed()->labels[0]).substr(std::string(d.MRCHed()->labels[0]).size() - 8), " no name");
    for (int bad : {-3, 11, 1 << 30}) {
        d.MRCHed()->nlabl = bad;
        MRCheader before = *d.MRCHed();
        ASSERT_EQ(d.writeMRCData(out.c_str(), 0), 1);
        // nothing before the labels changed but the fields the writer sets
        EXPECT_EQ(std::memcmp(before.other, d.MRCHed()->other + 0, 4), 0);
        EXPECT_GE(d.MRCHed()->nlabl, 0);
        EXPECT_LE(d.MRCHed()->nlabl, 10);
    }
}

TEST(MRCWrite, ShortModesRescaleOrNot) {
    TempDir t;
    float v[4] = {-1, 0, 0.5f, 1};
    MRCData d;
    d.setRealData(v, 2, 2, 1);
    ASSERT_EQ(d.writeMRCData(t.file("s.mrc").c_str(), 1), 1);
    std::string s = slurp(t.file("s.mrc"));
    ASSERT_EQ(s.size(), 1024u + 8);
    MRCheader h;
    std::memcpy(&h, s.data(), 1024);
    EXPECT_EQ(h.mode, 1);
    const int16_t* p = reinterpret_cast<const int16_t*>(s.data() + 1024);
    EXPECT_EQ(p[0], 0);
    EXPECT_EQ(p[1], 2047);
    EXPECT_GE(p[3], 4094);
    EXPECT_LE(p[3], 4095);
    EXPECT_EQ(h.amin, 0);
    EXPECT_NEAR(h.amax, 4095, 1);
    // raw: truncation toward zero, low 16 bits
    float w[4] = {-2.7f, 3.9f, 70000, 123};
    MRCData e;
    e.setRealData(w, 2, 2, 1);
    ASSERT_EQ(e.writeMRCData(t.file("r.mrc").c_str(), 2), 1);
    s = slurp(t.file("r.mrc"));
    p = reinterpret_cast<const int16_t*>(s.data() + 1024);
    EXPECT_EQ(p[0], -2);
    EXPECT_EQ(p[1], 3);
    EXPECT_EQ(p[2], (int16_t)(70000 & 0xffff));
    EXPECT_EQ(p[3], 123);
    EXPECT_EQ(e.getRealData()[0], -2.7f);  // the data set is untouched
}

TEST(MRCWrite, ComplexRoundTripKeepsPhasesAndScalesAmplitudes) {
    TempDir t;
    MRCData d;
    ASSERT_EQ(d.readMRCData(dataFile("mrc/mode4_le.mrc").c_str()), 1);
    std::vector<float> before(d.getRealData(), d.getRealData() + 128 * 48);
    ASSERT_EQ(d.writeMRCData(t.file("c.mrc").c_str(), 0), 1);
    EXPECT_EQ(std::memcmp(before.data(), d.getRealData(), before.size() * 4), 0);
    EXPECT_EQ(d.MRCHed()->nx, 64);
    EXPECT_EQ(d.MRCHed()->mode, 4);
    MRCData e;
    ASSERT_EQ(e.readMRCData(t.file("c.mrc").c_str()), 1);
    for (int i = 0; i < 128 * 48; i += 2) {
        ASSERT_NEAR(e.getRealData()[i], before[i] * 48.0f / 128, 1e-4 * (1 + before[i]));
        if (before[i] > 1e-3f) {
            float dp = std::remainder(e.getRealData()[i + 1] - before[i + 1], 2 * (float)M_PI);
            ASSERT_NEAR(dp, 0, 1e-5);
        }
    }
}

TEST(MRCWrite, FailedSaveKeepsTheOldFile) {
    TempDir t;
    std::string out = t.file("keep.mrc");
    spit(out, "old contents");
    std::vector<float> v(256 * 256, 2);
    MRCData d;
    d.setRealData(v.data(), 256, 256, 1);
    {
        FileSizeLimit limit(10000);
        testing::internal::CaptureStdout();
        EXPECT_EQ(d.writeMRCData(out.c_str(), 0), 0);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot write file\n");
    }
    EXPECT_EQ(slurp(out), "old contents");
    EXPECT_EQ(dirEntries(t.path).size(), 1u);
    testing::internal::CaptureStdout();
    EXPECT_EQ(d.writeMRCData(t.file("no/such/dir.mrc").c_str(), 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Cannot open file for writing\n");
}
