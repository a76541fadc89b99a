// IMAGIC and PIF stacks: fixtures, appends, byte order, refusals, hostile files.
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/formats.h"
#include "tests/core/fmt_testutil.h"

namespace {

using namespace fmtt;

int word(const std::vector<unsigned char>& b, size_t off) {
    int v;
    std::memcpy(&v, b.data() + off, 4);
    return v;
}
void setWord(std::vector<unsigned char>& b, size_t off, int v) {
    std::memcpy(b.data() + off, &v, 4);
}

struct Stack {
    List* l;
    explicit Stack(List* x) : l(x) {}
    ~Stack() { freeDataList(l); }
    MRCData* at(int i) { return static_cast<MRCData*>(l->objectAt(i)); }
};

TEST(Imagic, ReadsPairLastRowFirst) {
    for (const char* name : {"selfmade/img_64x48_le.hed", "selfmade/img_64x48_le.img", "selfmade/img_64x48_le.xyz"}) {
        Stack s(nullptr);
        std::string out = captured([&] { s.l = readIMAGIC(dataFile(name).c_str()); });
        ASSERT_TRUE(s.l) << out;
        ASSERT_EQ(1, s.l->count());
        MRCData* d = s.at(0);
        EXPECT_EQ(64, d->xSize());
        EXPECT_EQ(48, d->ySize());
        for (int y = 0; y < 48; y++)
            for (int x = 0; x < 64; x++) ASSERT_EQ(patternF32(x, y), d->getRealData()[(47 - y) * 64 + x]);
        EXPECT_EQ(d->Min(), d->RenMin());
        EXPECT_EQ(d->Max(), d->RenMax());
        EXPECT_STREQ("img_64x48_le.img", d->Name());
        EXPECT_NE(std::string::npos, out.find("imagic file with 1 64x48 REAL images"));
    }
}

TEST(Imagic, AppendThreeAndReadBack) {
    TempDir t;
    std::vector<std::unique_ptr<MRCData>> src;
    for (int k = 0; k < 3; k++) {
        src.emplace_back(new MRCData());
        makeReal(*src[k], 16, 8, [k](int x, int y) { return x + 100.0f * y + 1000.0f * k; });
        src[k]->setName(("im" + std::to_string(k)).c_str());
        ASSERT_EQ(1, src[k]->appendImagic((t / "s.img").c_str()));
    }
    auto h = slurp(t / "s.hed");
    ASSERT_EQ(3u * 1024, h.size());
    EXPECT_EQ(2, word(h, 4));
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(k + 1, word(h, k * 1024));
        EXPECT_EQ(0, std::memcmp(h.data() + k * 1024 + 56, "REAL", 4));
        EXPECT_EQ(8, word(h, k * 1024 + 48));
        EXPECT_EQ(16, word(h, k * 1024 + 52));
    }
    EXPECT_EQ(3u * 16 * 8 * 4, slurp(t / "s.img").size());
    Stack s(nullptr);
    captured([&] { s.l = readIMAGIC((t / "s.hed").c_str()); });
    ASSERT_TRUE(s.l);
    ASSERT_EQ(3, s.l->count());
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(0, std::memcmp(src[k]->getRealData(), s.at(k)->getRealData(), 16 * 8 * 4)) << k;
}

TEST(Imagic, BigEndianStackAndIntegerType) {
    TempDir t;
    auto h = slurp(dataFile("selfmade/img_64x48_le.hed"));
    auto d = slurp(dataFile("selfmade/img_64x48_le.img"));
    char name[80] = "a name that must not be swapped";
    std::memcpy(h.data() + 116, name, sizeof name);
    brev(h.data(), 14);
    brev(h.data() + 60, 14);
    brev(h.data() + 196, 207);
    brev(d.data(), 64 * 48);
    spit(t / "be.hed", h);
    spit(t / "be.img", d);
    Stack s(nullptr);
    captured([&] { s.l = readIMAGIC((t / "be.hed").c_str()); });
    ASSERT_TRUE(s.l);
    EXPECT_EQ(patternF32(3, 0), s.at(0)->getRealData()[47 * 64 + 3]);
    EXPECT_EQ(0, std::memcmp(reinterpret_cast<unsigned char*>(s.at(0)->IMHed()->w) + 116, name, sizeof name));
    // Appending to the swapped stack is refused and leaves it alone.
    MRCData m;
    makeReal(m, 64, 48, [](int, int) { return 1.0f; });
    std::string out = captured([&] { EXPECT_EQ(0, m.appendImagic((t / "be.hed").c_str())); });
    EXPECT_EQ("File exists and has wrong byte order!\n", out);
    EXPECT_EQ(1024u, slurp(t / "be.hed").size());

    // INTG: unsigned 16-bit values.
    auto hi = slurp(dataFile("selfmade/img_64x48_le.hed"));
    std::memcpy(hi.data() + 56, "INTG", 4);
    setWord(hi, 48, 2);
    setWord(hi, 52, 2);
    spit(t / "i.hed", hi);
    spit(t / "i.img", std::vector<unsigned char>{0xff, 0xff, 0x01, 0x00, 0x00, 0x80, 0x02, 0x01});
    Stack si(nullptr);
    captured([&] { si.l = readIMAGIC((t / "i.img").c_str()); });
    ASSERT_TRUE(si.l);
    const float* v = si.at(0)->getRealData();
    EXPECT_EQ(32768.0f, v[0]);  // file row 1 is memory row 0
    EXPECT_EQ(258.0f, v[1]);
    EXPECT_EQ(65535.0f, v[2]);
    EXPECT_EQ(1.0f, v[3]);
}

TEST(Imagic, HostileAndBrokenPairs) {
    TempDir t;
    auto h = slurp(dataFile("selfmade/img_64x48_le.hed"));
    auto d = slurp(dataFile("selfmade/img_64x48_le.img"));
    auto tryRead = [&](std::vector<unsigned char> hh, std::vector<unsigned char> dd) {
        spit(t / "x.hed", hh);
        spit(t / "x.img", dd);
        List* l = nullptr;
        std::string out = captured([&] { l = readIMAGIC((t / "x.hed").c_str()); });
        int n = l ? l->count() : -1;
        freeDataList(l);
        return std::make_pair(n, out);
    };
    auto r = tryRead(h, std::vector<unsigned char>(d.begin(), d.begin() + 1000));
    EXPECT_EQ(-1, r.first);
    EXPECT_NE(std::string::npos, r.second.find("Incomplete data read"));
    auto big = h;
    setWord(big, 4, 0x7fffffff);  // two billion images promised in one header
    EXPECT_EQ(-1, tryRead(big, d).first);
    auto wide = h;
    setWord(wide, 52, 1 << 30);
    EXPECT_EQ(-1, tryRead(wide, d).first);
    auto neg = h;
    setWord(neg, 48, -4);
    EXPECT_EQ(-1, tryRead(neg, d).first);
    auto type = h;
    std::memcpy(type.data() + 56, "COMP", 4);
    EXPECT_EQ("Unknown type COMP.\n", tryRead(type, d).second);
    EXPECT_EQ(-1, tryRead(std::vector<unsigned char>(h.begin(), h.begin() + 100), d).first);
    std::string out = captured([&] { EXPECT_EQ(nullptr, readIMAGIC((t / "none.hed").c_str())); });
    EXPECT_EQ("ERROR: cannot open " + (t / "none.hed") + "\n", out);
}

TEST(Imagic, FailedAppendLeavesThePairAsItWas) {
    TempDir t;
    MRCData a;
    makeReal(a, 8, 8, [](int x, int y) { return (float)x; });
    ASSERT_EQ(1, a.appendImagic((t / "p.hed").c_str()));
    auto h0 = slurp(t / "p.hed");
    // The data file cannot be opened for appending: a directory stands in its way.
    std::rename((t / "p.img").c_str(), (t / "q.img").c_str());
    mkdir((t / "p.img").c_str(), 0700);
    MRCData b;
    makeReal(b, 8, 8, [](int x, int y) { return (float)y; });
    std::string out = captured([&] { EXPECT_EQ(0, b.appendImagic((t / "p.hed").c_str())); });
    EXPECT_EQ("Cannot write to " + (t / "p.img") + "!\n", out);
    EXPECT_EQ(h0, slurp(t / "p.hed"));
}

// PIF -----------------------------------------------------------------------

std::vector<unsigned char> pifFile(int count, int mode, int nx, int ny, const char* scale, int imode,
                                   const std::vector<unsigned char>& values) {
    std::vector<unsigned char> b(512, 0);
    setWord(b, 0, 0x08000000);
    std::memcpy(b.data() + 8, scale, std::strlen(scale));
    setWord(b, 24, count);
    setWord(b, 68, nx);
    setWord(b, 72, ny);
    setWord(b, 76, 1);
    setWord(b, 80, mode);
    for (int k = 0; k < count; k++) {
        std::vector<unsigned char> ih(512, 0);
        setWord(ih, 0, nx);
        setWord(ih, 4, ny);
        setWord(ih, 12, imode);
        b.insert(b.end(), ih.begin(), ih.end());
        b.insert(b.end(), values.begin(), values.end());
    }
    return b;
}

TEST(Pif, AppendScaleAndRoundTrip) {
    TempDir t;
    const std::string f = t / "a.pif";
    MRCData d;
    makeReal(d, 4, 2, [](int x, int y) { return (float)(x * 1000 + y); });
    std::vector<float> v(d.getRealData(), d.getRealData() + 8);
    v[0] = 0;
    v[7] = 536870912.0f;  // Min 0, Max 2^29: scale 1
    d.setRealData(v.data(), 4, 2, 1);
    ASSERT_EQ(1, d.appendPIF(f.c_str()));
    auto b = slurp(f);
    EXPECT_EQ(0, std::memcmp(b.data() + 8, "1\0", 2));
    EXPECT_EQ(0, std::memcmp(b.data() + 32, "TARVIK v1.4", 11));
    EXPECT_EQ(1, word(b, 24));
    EXPECT_EQ(2, word(b, 80));
    for (int i = 0; i < 8; i++) EXPECT_EQ((int)v[i], word(b, 1024 + 4 * i));
    // A second image of the same size goes into the same file at the same scale.
    MRCData e;
    makeReal(e, 4, 2, [](int x, int y) { return x + 0.5f + y * 10; });  // halves round up
    ASSERT_EQ(1, e.appendPIF(f.c_str()));
    EXPECT_EQ(2, word(slurp(f), 24));
    Stack s(nullptr);
    std::string out = captured([&] { s.l = readPIF(f.c_str()); });
    EXPECT_NE(std::string::npos, out.find("PIF with 2 image(s), mode 2, 4x2\n"));
    ASSERT_TRUE(s.l);
    ASSERT_EQ(2, s.l->count());
    for (int i = 0; i < 8; i++) EXPECT_EQ(v[i], s.at(0)->getRealData()[i]);
    for (int i = 0; i < 8; i++) EXPECT_EQ(std::floor(e.getRealData()[i] + 0.5f), s.at(1)->getRealData()[i]);
    EXPECT_EQ(s.at(1)->Min(), s.at(1)->RenMin());
    EXPECT_STREQ("a.pif", s.at(1)->Name());
}

TEST(Pif, RoundTripWithinIntegerScale) {
    TempDir t;
    MRCData d;
    makeReal(d, 33, 17, [](int x, int y) { return std::sin(x * 0.3f) * 7.5f - y * 0.01f; });
    ASSERT_EQ(1, d.appendPIF((t / "r.pif").c_str()));
    Stack s(nullptr);
    captured([&] { s.l = readPIF((t / "r.pif").c_str()); });
    ASSERT_TRUE(s.l);
    const double step = (d.Max() - d.Min()) / 536870912.0;
    for (int i = 0; i < 33 * 17; i++) ASSERT_NEAR(d.getRealData()[i], s.at(0)->getRealData()[i], step * 0.5 + 1e-6);
}

TEST(Pif, RefusedAppendLeavesFileUntouched) {
    TempDir t;
    MRCData big;
    makeReal(big, 512, 512, [](int x, int y) { return (float)x; });
    ASSERT_EQ(1, big.appendPIF((t / "b.pif").c_str()));
    auto before = slurp(t / "b.pif");
    MRCData small;
    makeReal(small, 256, 256, [](int x, int y) { return (float)y; });
    std::string out = captured([&] { EXPECT_EQ(0, small.appendPIF((t / "b.pif").c_str())); });
    EXPECT_EQ("Cannot append to " + (t / "b.pif") + ". Incorrect byte order, image size or mode.\n", out);
    EXPECT_EQ(before, slurp(t / "b.pif"));
}

TEST(Pif, ModesAndThreeImages) {
    TempDir t;
    // mode 1: -16384 / 32768 = -0.5; mode 0: 64 / 128 = 0.5
    spit(t / "m1.pif", pifFile(1, 1, 2, 1, "1", 1, {0x00, 0xC0, 0x00, 0x40}));
    spit(t / "m0.pif", pifFile(1, 0, 2, 1, "1", 0, {64, 255}));
    spit(t / "m7.pif", pifFile(1, 7, 2, 1, "0.5", 7, {0xFE, 0xFF, 0x03, 0x00}));
    std::vector<unsigned char> v3(12);
    for (int i = 0; i < 3; i++) setWord(v3, 4 * i, 10 * (i + 1));
    spit(t / "m2.pif", pifFile(3, 2, 3, 1, "0.25", 2, v3));
    Stack a(nullptr), b(nullptr), c(nullptr), d(nullptr);
    captured([&] {
        a.l = readPIF((t / "m1.pif").c_str());
        b.l = readPIF((t / "m0.pif").c_str());
        c.l = readPIF((t / "m7.pif").c_str());
        d.l = readPIF((t / "m2.pif").c_str());
    });
    ASSERT_TRUE(a.l && b.l && c.l && d.l);
    EXPECT_EQ(-0.5f, a.at(0)->getRealData()[0]);
    EXPECT_EQ(0.5f, a.at(0)->getRealData()[1]);
    EXPECT_EQ(0.5f, b.at(0)->getRealData()[0]);
    EXPECT_EQ(255 / 128.0f, b.at(0)->getRealData()[1]);
    EXPECT_EQ(-1.0f, c.at(0)->getRealData()[0]);
    EXPECT_EQ(1.5f, c.at(0)->getRealData()[1]);
    ASSERT_EQ(3, d.l->count());
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(d.at(k)->Min(), d.at(k)->RenMin());
        EXPECT_EQ(d.at(k)->Max(), d.at(k)->RenMax());
        EXPECT_EQ(7.5f, d.at(k)->getRealData()[2]);
    }
    // Byte-swapped file (count above 65535 as stored).
    auto sw = pifFile(1, 2, 3, 1, "1", 2, v3);
    brev(sw.data() + 24, 2);
    brev(sw.data() + 64, 5);
    brev(sw.data() + 512, 29);
    brev(sw.data() + 1024, 3);
    spit(t / "sw.pif", sw);
    Stack e(nullptr);
    captured([&] { e.l = readPIF((t / "sw.pif").c_str()); });
    ASSERT_TRUE(e.l);
    EXPECT_EQ(30.0f, e.at(0)->getRealData()[2]);
}

TEST(Pif, HostileFiles) {
    TempDir t;
    auto run = [&](const std::vector<unsigned char>& b) {
        spit(t / "h.pif", b);
        List* l = nullptr;
        std::string out = captured([&] { l = readPIF((t / "h.pif").c_str()); });
        bool ok = l != nullptr;
        freeDataList(l);
        return std::make_pair(ok, out);
    };
    EXPECT_EQ("Short PIF File\n", run(std::vector<unsigned char>(100, 0)).second);
    EXPECT_NE(std::string::npos, run(pifFile(1, 3, 2, 1, "1", 3, {})).second.find("Unsupported PIF mode 3\n"));
    auto vol = pifFile(1, 2, 2, 1, "1", 2, std::vector<unsigned char>(8));
    setWord(vol, 76, 5);
    EXPECT_NE(std::string::npos, run(vol).second.find("Cannot read 3d images\n"));
    auto huge = pifFile(1, 2, 2, 1, "1", 2, std::vector<unsigned char>(8));
    setWord(huge, 512, 1 << 20);
    setWord(huge, 516, 1 << 20);
    EXPECT_FALSE(run(huge).first);
    auto many = pifFile(1, 2, 2, 1, "1", 2, std::vector<unsigned char>(8));
    setWord(many, 24, 65535);  // promised, not present: the one that is there is read
    auto r = run(many);
    EXPECT_TRUE(r.first);
    EXPECT_NE(std::string::npos, r.second.find("Short PIF File\n"));
    auto trunc = pifFile(1, 2, 4, 4, "1", 2, std::vector<unsigned char>(64));
    trunc.resize(trunc.size() - 5);
    EXPECT_FALSE(run(trunc).first);
    std::string out = captured([&] { EXPECT_EQ(nullptr, readPIF((t / "none.pif").c_str())); });
    EXPECT_EQ("ERROR: cannot open " + (t / "none.pif") + "\n", out);
}

}  // namespace
