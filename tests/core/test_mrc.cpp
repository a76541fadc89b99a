#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/formats.h"
#include "tests/core/testutil.h"

namespace {

// The fixtures' own formulas (file order, x fastest).
float f32Pattern(int x, int y) {
    return (float)(((x - 20.3) * (y + 0.7)) / 3.0);
}
int i16Pattern(int x, int y) {
    return (int16_t)(97 * x - 131 * y + 1000);
}
int i8Pattern(int x, int y) {
    return (int8_t)(((5 * x + 11 * y) % 256) - 128);
}

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

std::string floats(const std::vector<float>& v) {
    return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 4);
}

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
    } cases[] = {{1 << 30, 1 << 30, 2, 0}, {-5, 10, 2, 0},  {10, -5, 2, 0},      {0, 10, 2, 0},
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
        EXPECT_TRUE(msg.find("Bad MRC file\n") != std::string::npos || msg.find("3d file") != std::string::npos) << msg;
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
    EXPECT_EQ(readMsg(d, t.file("f.mrc"), &rc),
              t.file("f.mrc") + " is a   4x4 2D float MRC File\nIncomplete data read 0/4 blocks\n");
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
    EXPECT_EQ(h.xlen, 64 * 1.5f);  // the fixture's pixel size, kept
    EXPECT_EQ(h.ylen, 48 * 1.5f);
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

// ---- particle stacks, pixel size, standard header bytes

namespace {

// Values that differ at every position of 24 x 20 sections and in every section (int16 range).
float stackValue(int x, int y, int k) {
    return (float)(600 * k + 25 * y - x);
}

// A stack of n sections in mode 1 or 2, native or byte-reversed, space group ispg, nz claimed,
// pixel size 1.34 (cell 24 x 1.34 over sampling 24).
std::string makeStack(int n, int mode, int ispg, bool reversed, int nz) {
    std::string vals;
    for (int k = 0; k < n; k++)
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 24; x++) {
                float v = stackValue(x, y, k);
                int16_t s = (int16_t)v;
                vals.append(mode == 1 ? (const char*)&s : (const char*)&v, mode == 1 ? 2 : 4);
            }
    std::string f = makeMRC(24, 20, nz, mode, vals);
    MRCheader* h = reinterpret_cast<MRCheader*>(&f[0]);
    h->mx = 24;
    h->xlen = 24 * 1.34f;
    std::memcpy(h->other, &ispg, 4);
    if (reversed) {
        brev(reinterpret_cast<unsigned char*>(&f[0]), 56);
        if (mode == 1) brevs(reinterpret_cast<unsigned char*>(&f[1024]), (int)vals.size() / 2);
        if (mode == 2) brev(reinterpret_cast<unsigned char*>(&f[1024]), (int)vals.size() / 4);
    }
    return f;
}

// Writes a file, gzipped when its name ends in ".gz".
void put(const std::string& path, const std::string& bytes) {
    bool gz = path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
    spit(gz ? path.substr(0, path.size() - 3) : path, bytes);
    if (gz) {
        EXPECT_EQ(runCommand("gzip -f '" + path.substr(0, path.size() - 3) + "'"), 0);
    }
}

struct ReadList {
    List* l = nullptr;
    std::string msg;
    explicit ReadList(const std::string& path) {
        testing::internal::CaptureStdout();
        l = readMRCFile(path.c_str());
        msg = testing::internal::GetCapturedStdout();
    }
    ~ReadList() { freeDataList(l); }
    MRCData* at(int i) const { return static_cast<MRCData*>(l->objectAt(i)); }
};

}  // namespace

TEST(MRCStack, EverySectionBecomesADataSet) {
    TempDir t;
    setenvf("scanres", 14);
    struct Case {
        const char* name;
        int mode, ispg;
        bool reversed;
        int count;  // 0: refused as 3-D
    } cases[] = {{"p.mrcs", 2, 0, false, 50},
                 {"p.mrc", 1, 0, true, 50},
                 {"q.mrcs", 2, 1, false, 50},
                 {"g.mrcs.gz", 1, 0, false, 50},
                 {"v.mrc", 2, 1, false, 0}};
    for (auto& c : cases) {
        const std::string path = t.file(c.name);
        put(path, makeStack(50, c.mode, c.ispg, c.reversed, 50));
        ReadList r(path);
        if (!c.count) {
            EXPECT_EQ(r.msg, "This appears to be a 3d file. I only read 2d files.\n");
            EXPECT_EQ(r.l, nullptr);
            continue;
        }
        ASSERT_TRUE(r.l) << c.name << r.msg;
        ASSERT_EQ(r.l->count(), c.count) << c.name;
        for (int k = 0; k < c.count; k++) {
            MRCData* d = r.at(k);
            ASSERT_EQ(d->Name(), std::string(c.name) + ":" + std::to_string(k + 1));
            EXPECT_EQ(d->File(), path);
            ASSERT_EQ(d->xSize() * 100 + d->ySize() * 10 + d->zSize(), 24 * 100 + 20 * 10 + 1);
            ASSERT_NEAR(d->Pixres(), 1.34f, 1e-6);
            ASSERT_NEAR(d->Mag(), 140 / 1.34f, 1e-3);
            for (int y = 0; y < 20; y++)
                for (int x = 0; x < 24; x++) ASSERT_EQ(d->valueAt(x, y), stackValue(x, y, k)) << c.name << k;
        }
    }
    EXPECT_EQ(ReadList(t.file("p.mrcs")).msg, t.file("p.mrcs") + " is a   24x20 2D float MRC stack of 50 images\n");
    // A volume written by mrcfile is still refused; readMRCData refuses stacks as before.
    EXPECT_EQ(ReadList(dataFile("mrc/vol_16x12x5_f32_le.mrc")).msg,
              "This appears to be a 3d file. I only read 2d files.\n");
    MRCData single;
    int rc;
    EXPECT_EQ(readMsg(single, t.file("p.mrc"), &rc), "This appears to be a 3d file. I only read 2d files.\n");
    // The stack mrcfile wrote: its pattern and pixel size.
    ReadList r(dataFile("mrc/particles_24x20x5.mrcs"));
    ASSERT_TRUE(r.l && r.l->count() == 5) << r.msg;
    for (int z = 0; z < 5; z++) {
        EXPECT_NEAR(r.at(z)->Pixres(), 1.34, 1e-6);
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 24; x++)
                ASSERT_NEAR(r.at(z)->valueAt(x, y), (float)(100.0 * z + 0.5 * x - 0.25 * y + std::sin(0.7 * x + z)),
                            1e-4);
    }
}

TEST(MRCStack, CountsThatTheFileCannotHoldAreRefusedBeforeReading) {
    TempDir t;
    struct Case {
        const char* name;
        int nz;  // claimed; the file holds 50 sections
        const char* msg;
    } cases[] = {
        {"a.mrcs", 51, "Incomplete data read 1000/1020 blocks\n"},
        {"b.mrcs", 40000, "Incomplete data read 1000/800000 blocks\n"},
        {"c.mrcs", 1 << 20, "Bad MRC file\n"},
        {"d.mrcs.gz", 51, "Incomplete data read 0/20 blocks\n"},  // a pipe: found out at the end
    };
    for (auto& c : cases) {
        put(t.file(c.name), makeStack(50, 2, 0, false, c.nz));
        ReadList r(t.file(c.name));
        EXPECT_EQ(r.l, nullptr) << c.name;
        EXPECT_EQ(r.msg.substr(r.msg.rfind('\n', r.msg.size() - 2) + 1), c.msg) << c.name;
    }
}

TEST(MRCPixel, RecordedPixelSizeOrThePreferences) {
    TempDir t;
    setenvf("scanres", 14);
    setenvf("mag", 40);
    struct Case {
        float xlen;
        int mx;
        float ylen, pixres;  // pixres 0: from the preferences (3.5 A, mag 40)
    } cases[] =
        {
            {45, 30, 0, 1.5f}, {7.5f, 5, 0, 1.5f}, {30, 30, 20, 0},      {0, 30, 0, 0},
            {45, 0, 0, 0},     {NAN, 30, 0, 0},    {INFINITY, 30, 0, 0}, {-45, 30, 0, 0},
            {3e38f, 1, 0, 0},  {1e-4f, 30, 0, 0},  {30, 64, 20, 0},  // earlier writer
        };
    for (auto& c : cases) {
        std::string f = makeMRC(30, 20, 1, 2, floats(std::vector<float>(600, 2.5f)));
        MRCheader* h = reinterpret_cast<MRCheader*>(&f[0]);
        h->xlen = c.xlen;
        h->mx = c.mx;
        h->ylen = c.ylen;
        spit(t.file("p.mrc"), f);
        MRCData d;
        int rc;
        readMsg(d, t.file("p.mrc"), &rc);
        ASSERT_EQ(rc, 1);
        EXPECT_FLOAT_EQ(d.Pixres(), c.pixres ? c.pixres : 3.5f) << c.xlen << " / " << c.mx;
        EXPECT_FLOAT_EQ(d.Mag(), c.pixres ? 140 / c.pixres : 40) << c.xlen << " / " << c.mx;
    }
}

TEST(MRCPixel, RoundTripThroughTheCellLengths) {
    TempDir t;
    std::vector<float> v(34 * 20);
    for (size_t i = 0; i < v.size(); i++) v[i] = (float)(i % 17) + 1;
    MRCData r, c, s;
    r.setRealData(v.data(), 30, 20, 1);
    r.setPixres(2.5f);
    c.setComplData(v.data(), 34, 20, 1);  // a transform of 32 x 20: 17 complex values per row
    c.setPixres(3.0f);
    s.setRealData(v.data(), 30, 20, 1);
    s.setPixres(1.25f);
    List two;
    two.addObject(&s);
    two.addObject(&r);
    struct Case {
        MRCData* d;
        List* stack;
        std::vector<int> nxyz_mxyz;
        float xlen, pixres;
    } cases[] = {{&r, nullptr, {30, 20, 1, 30, 20, 1}, 75, 2.5f},
                 {&c, nullptr, {17, 20, 1, 17, 20, 1}, 51, 3.0f},
                 {&s, &two, {30, 20, 2, 30, 20, 1}, 37.5f, 1.25f}};  // a stack's sections are images
    for (auto& k : cases) {
        testing::internal::CaptureStdout();
        int ok = k.stack ? writeMRCStack(k.stack, t.file("o.mrcs").c_str(), 0)
                         : k.d->writeMRCData(t.file("o.mrcs").c_str(), 0);
        testing::internal::GetCapturedStdout();
        ReadList back(t.file("o.mrcs"));
        ASSERT_TRUE(ok && back.l) << back.msg;
        MRCheader h;
        std::memcpy(&h, slurp(t.file("o.mrcs")).data(), 1024);
        EXPECT_EQ(std::vector<int>({h.nx, h.ny, h.nz, h.mx, h.my, h.mz}), k.nxyz_mxyz);
        EXPECT_EQ(std::vector<float>({h.xlen, h.ylen, h.zlen}), std::vector<float>({k.xlen, 20 * k.pixres, k.pixres}));
        EXPECT_EQ(back.l->count(), k.stack ? 2 : 1);
        EXPECT_FLOAT_EQ(back.at(0)->Pixres(), k.pixres);
    }
    EXPECT_EQ(s.MRCHed(), nullptr);  // the stack writer leaves the data sets as they are
}

TEST(MRCWrite, StandardBytesAndTheRmsOfTheValuesWritten) {
    TempDir t;
    // Values far from zero with a small spread, as micrographs in counts are.
    std::vector<float> v(31 * 20);
    for (size_t i = 0; i < v.size(); i++) v[i] = 3000.0f + 0.37f * (float)((i * 7919) % 101);
    for (int shortMode : {0, 1, 2}) {
        MRCData d;
        d.setRealData(v.data(), 31, 20, 1);
        ASSERT_EQ(d.writeMRCData(t.file("o.mrc").c_str(), shortMode), 1);
        std::string s = slurp(t.file("o.mrc"));
        ASSERT_EQ(s.size(), 1024 + v.size() * (shortMode ? 2 : 4));
        EXPECT_EQ(s.substr(208, 8), std::string("MAP \x44\x44\0\0", 8));
        const MRCheader* h = reinterpret_cast<const MRCheader*>(s.data());
        int32_t nversion;
        float rms;
        std::memcpy(&nversion, &s[108], 4);
        std::memcpy(&rms, &s[216], 4);
        EXPECT_EQ(nversion, 20140);
        EXPECT_EQ(std::vector<int>({h->mx, h->my, h->mz}), std::vector<int>({31, 20, 1}));
        double sum = 0, sq = 0;
        for (size_t i = 0; i < v.size(); i++) {
            int16_t w = 0;
            float f = 0;
            std::memcpy(shortMode ? (void*)&w : (void*)&f, &s[1024 + (shortMode ? 2 : 4) * i], shortMode ? 2 : 4);
            double x = shortMode ? w : f;
            sum += x;
            sq += x * x;
        }
        double n = (double)v.size(), sd = std::sqrt(sq / n - (sum / n) * (sum / n));
        EXPECT_NEAR(rms, sd, 1e-4 * sd) << shortMode;
    }
    // A file read from MRC keeps every byte the writer does not own.
    MRCData d;
    const std::string src = slurp(dataFile("mrc/mode2_le.mrc"));
    ASSERT_EQ(d.readMRCData(dataFile("mrc/mode2_le.mrc").c_str()), 1);
    ASSERT_EQ(d.writeMRCData(t.file("k.mrc").c_str(), 0), 1);
    std::string out = slurp(t.file("k.mrc"));
    const int owned[][2] = {{0, 52}, {64, 88}, {92, 96}, {108, 112}, {208, 224}, {304, 384}};
    for (int i = 0; i < 1024; i++) {
        bool mine = false;
        for (auto& o : owned) mine = mine || (i >= o[0] && i < o[1]);
        EXPECT_TRUE(mine || out[i] == src[i]) << "byte " << i;
    }
}
