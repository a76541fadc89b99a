// IMAGIC, PIF and SPIDER files: fixtures, appends, byte order, refusals, hostile files, full disks.
#include <sys/stat.h>

#include "core/formats.h"
#include "tests/core/testutil.h"

namespace {

const std::string imHed = dataFile("selfmade/img_64x48_le.hed"), imImg = dataFile("selfmade/img_64x48_le.img");

const auto flippedPattern = fromTop(48, patternF32);  // IMAGIC stacks hold the last row first

// Appends a data set of nx by ny values f(x, y) with a stack writer; its result.
template <class F>
int appendNew(int (MRCData::*append)(const char*), const std::string& file, int nx, int ny, F f) {
    MRCData d;
    makeReal(d, nx, ny, f);
    return (d.*append)(file.c_str());
}

TEST(Imagic, ReadsPairsOfEitherByteOrderAndIntegerType) {
    TempDir t;
    auto h = slurp(imHed), d = slurp(imImg);
    std::string name = std::string("a name that must not be swapped") + std::string(49, '\0');
    h.replace(116, 80, name);
    brev(bytesAt(h), 14);
    brev(bytesAt(h, 60), 14);
    brev(bytesAt(h, 196), 207);
    brev(bytesAt(d), 64 * 48);
    spit(t / "be.hed", h);
    spit(t / "be.img", d);
    ReadSets s(readIMAGIC, t / "be.hed");
    ASSERT_EQ(1, s.n());
    EXPECT_EQ(0, mismatches(s[0], 64, 48, flippedPattern));
    EXPECT_EQ(name, std::string(reinterpret_cast<const char*>(s[0]->IMHed()->w) + 116, 80));
    // Appending to the swapped stack is refused and leaves it alone.
    std::string out = captured(
        [&] { EXPECT_EQ(0, appendNew(&MRCData::appendImagic, t / "be.hed", 64, 48, [](int, int) { return 1.0f; })); });
    EXPECT_EQ("File exists and has wrong byte order!\n", out);
    EXPECT_EQ(h, slurp(t / "be.hed"));
    // INTG: unsigned 16-bit values.
    auto hi = slurp(imHed);
    hi.replace(56, 4, "INTG");
    setWords(hi, {{48, 2}, {52, 2}});
    spit(t / "i.hed", hi);
    spit(t / "i.img", std::string("\xff\xff\x01\x00\x00\x80\x02\x01", 8));
    ReadSets si(readIMAGIC, t / "i.img");
    ASSERT_EQ(1, si.n());
    const float* v = si[0]->getRealData();
    EXPECT_EQ(std::vector<float>(v, v + 4), std::vector<float>({32768, 258, 65535, 1}));  // file row 1 is memory row 0
    // The fixture by either member of the pair, or the stem with any extension.
    for (const char* ext : {"hed", "img", "xyz"}) {
        ReadSets s(readIMAGIC, dataFile(std::string("selfmade/img_64x48_le.") + ext));
        ASSERT_EQ(1, s.n()) << s.out;
        EXPECT_EQ(0, mismatches(s[0], 64, 48, flippedPattern));
        EXPECT_EQ(s[0]->Min(), s[0]->RenMin());
        EXPECT_EQ(s[0]->Max(), s[0]->RenMax());
        EXPECT_STREQ("img_64x48_le.img", s[0]->Name());
        EXPECT_NE(std::string::npos, s.out.find("imagic file with 1 64x48 REAL images"));
    }
}

TEST(Imagic, AppendThreeAndReadBackHostileAndBrokenPairs) {
    TempDir t;
    auto h = slurp(imHed), d = slurp(imImg);
    auto tryRead = [&](const std::string& hh, const std::string& dd) {
        spit(t / "x.hed", hh);
        spit(t / "x.img", dd);
        ReadSets s(readIMAGIC, t / "x.hed");
        return std::make_pair(s.n(), s.out);
    };
    auto r = tryRead(h, d.substr(0, 1000));
    EXPECT_EQ(-1, r.first);
    EXPECT_NE(std::string::npos, r.second.find("Incomplete data read"));
    const int bad[][2] = {{4, 0x7fffffff}, {52, 1 << 30}, {48, -4}};  // two billion images; giant and negative sizes
    for (auto& b : bad) {
        auto x = h;
        setWord(x, b[0], b[1]);
        EXPECT_EQ(-1, tryRead(x, d).first) << b[0];
    }
    auto type = h;
    type.replace(56, 4, "COMP");
    EXPECT_EQ("Unknown type COMP.\n", tryRead(type, d).second);
    EXPECT_EQ(-1, tryRead(h.substr(0, 100), d).first);
    EXPECT_EQ("ERROR: cannot open " + (t / "none.hed") + "\n", ReadSets(readIMAGIC, t / "none.hed").out);
    // Appending three images makes a stack that reads back in order.
    for (int k = 0; k < 3; k++)
        ASSERT_EQ(1, appendNew(&MRCData::appendImagic, t / "s.img", 16, 8,
                               [k](int x, int y) { return x + 100.0f * y + 1000.0f * k; }));
    auto sh = slurp(t / "s.hed");
    ASSERT_EQ(3u * 1024, sh.size());
    EXPECT_EQ(2, word(sh, 4));
    for (int k = 0; k < 3; k++) {
        EXPECT_EQ(std::vector<int>({k + 1, 8, 16}), words(sh, {k * 1024u, k * 1024u + 48, k * 1024u + 52}));
        EXPECT_EQ("REAL", sh.substr(k * 1024 + 56, 4));
    }
    EXPECT_EQ(3u * 16 * 8 * 4, slurp(t / "s.img").size());
    ReadSets back(readIMAGIC, t / "s.hed");
    ASSERT_EQ(3, back.n());
    for (int k = 0; k < 3; k++)
        EXPECT_EQ(0, mismatches(back[k], 16, 8, [k](int x, int y) { return x + 100.0f * y + 1000.0f * k; })) << k;
}

// PIF -----------------------------------------------------------------------

std::string pifFile(int count, int mode, int nx, int ny, const char* scale, int imode, const std::string& values) {
    std::string b(512, '\0'), ih(512, '\0');
    setWords(b, {{0, 0x08000000}, {24, count}, {68, nx}, {72, ny}, {76, 1}, {80, mode}});
    b.replace(8, std::strlen(scale), scale);
    setWords(ih, {{0, nx}, {4, ny}, {12, imode}});
    for (int k = 0; k < count; k++) b += ih + values;
    return b;
}

TEST(Pif, AppendScaleRoundTripModesByteOrderAndHostileFiles) {
    TempDir t;
    const std::string f = t / "a.pif";
    // Min 0, Max 2^29: scale 1, values stored as they are
    auto first = [](int x, int y) { return x + y == 0 ? 0.0f : x == 3 && y == 1 ? 536870912.0f : x * 1000.0f + y; };
    ASSERT_EQ(1, appendNew(&MRCData::appendPIF, f, 4, 2, first));
    auto b = slurp(f);
    EXPECT_EQ(std::string("1\0", 2), b.substr(8, 2));
    EXPECT_EQ("TARVIK v1.4", b.substr(32, 11));
    EXPECT_EQ(1, word(b, 24));
    EXPECT_EQ(2, word(b, 80));
    for (int i = 0; i < 8; i++) EXPECT_EQ((int)first(i % 4, i / 4), word(b, 1024 + 4 * i));
    // A second image of the same size goes into the same file at the same scale; halves round up.
    ASSERT_EQ(1, appendNew(&MRCData::appendPIF, f, 4, 2, [](int x, int y) { return x + 0.5f + y * 10; }));
    EXPECT_EQ(2, word(slurp(f), 24));
    ReadSets s(readPIF, f);
    EXPECT_NE(std::string::npos, s.out.find("PIF with 2 image(s), mode 2, 4x2\n"));
    ASSERT_EQ(2, s.n());
    EXPECT_EQ(0, mismatches(s[0], 4, 2, first));
    EXPECT_EQ(0, mismatches(s[1], 4, 2, [](int x, int y) { return x + 1 + y * 10; }));
    EXPECT_EQ(s[1]->Min(), s[1]->RenMin());
    EXPECT_STREQ("a.pif", s[1]->Name());
    // Any other range: within half an integer step of (Max - Min) / 2^29.
    MRCData d;
    makeReal(d, 33, 17, [](int x, int y) { return std::sin(x * 0.3f) * 7.5f - y * 0.01f; });
    ASSERT_EQ(1, d.appendPIF((t / "r.pif").c_str()));
    ReadSets r(readPIF, t / "r.pif");
    ASSERT_EQ(1, r.n());
    const double step = (d.Max() - d.Min()) / 536870912.0;
    EXPECT_EQ(0, mismatches(
                     r[0], 33, 17, [&](int x, int y) { return d.valueAt(x, y); }, step * 0.5 + 1e-6));
    const std::string ok = pifFile(1, 2, 2, 1, "1", 2, std::string(8, '\0')),
                      trunc = pifFile(1, 2, 4, 4, "1", 2, std::string(64, '\0'));
    auto with = [](std::string b, std::initializer_list<std::pair<size_t, int>> w) {
        setWords(b, w);
        return b;
    };
    // file, read, last message (null: not checked)
    const std::tuple<std::string, bool, const char*> cases[] = {
        {pifFile(1, 3, 2, 1, "1", 3, ""), false, "Unsupported PIF mode 3\n"},
        {with(ok, {{76, 5}}), false, "Cannot read 3d images\n"},
        {with(ok, {{512, 1 << 20}, {516, 1 << 20}}), false, nullptr},
        {with(ok, {{24, 65535}}), true, "Short PIF File\n"},  // promised, not present: the one that is there is read
        {trunc.substr(0, trunc.size() - 5), false, nullptr},
        {std::string(100, '\0'), false, "Short PIF File\n"}};  // the last: its whole output below
    for (auto& [file, read, msg] : cases) {
        spit(t / "h.pif", file);
        ReadSets s(readPIF, t / "h.pif");
        EXPECT_EQ(read, s.n() > 0) << s.out;
        EXPECT_EQ(msg ? msg : lastLine(s.out), lastLine(s.out));
    }
    EXPECT_EQ("Short PIF File\n", ReadSets(readPIF, t / "h.pif").out);
    EXPECT_EQ("ERROR: cannot open " + (t / "none.pif") + "\n", ReadSets(readPIF, t / "none.pif").out);
    // Every mode, three images, and a file in the other byte order.
    std::string v3(12, '\0');
    for (int i = 0; i < 3; i++) setWord(v3, 4 * i, 10 * (i + 1));
    auto sw = pifFile(1, 2, 3, 1, "1", 2, v3);  // byte-swapped (count above 65535 as stored)
    brev(bytesAt(sw, 24), 2);
    brev(bytesAt(sw, 64), 5);
    brev(bytesAt(sw, 512), 29);
    brev(bytesAt(sw, 1024), 3);
    // file, images, first values of each
    const std::tuple<std::string, int, std::vector<float>> modes[] = {
        {pifFile(1, 1, 2, 1, "1", 1, std::string("\x00\xC0\x00\x40", 4)), 1, {-0.5f, 0.5f}},  // -16384 / 32768
        {pifFile(1, 0, 2, 1, "1", 0, "\x40\xff"), 1, {0.5f, 255 / 128.0f}},                   // 64 / 128
        {pifFile(1, 7, 2, 1, "0.5", 7, std::string("\xFE\xFF\x03\x00", 4)), 1, {-1, 1.5f}},
        {pifFile(3, 2, 3, 1, "0.25", 2, v3), 3, {2.5f, 5, 7.5f}},
        {sw, 1, {10, 20, 30}}};
    for (auto& [file, count, values] : modes) {
        spit(t / "m.pif", file);
        ReadSets s(readPIF, t / "m.pif");
        ASSERT_EQ(count, s.n()) << s.out;
        for (int k = 0; k < s.n(); k++) {
            const float* v = s[k]->getRealData();
            EXPECT_EQ(values, std::vector<float>(v, v + values.size()));
            EXPECT_EQ(s[k]->Min(), s[k]->RenMin());
            EXPECT_EQ(s[k]->Max(), s[k]->RenMax());
        }
    }
}

// SPIDER -----------------------------------------------------------------------

Read1 readSpider(const std::string& f) {
    return Read1(&MRCData::readSPIDER, f);
}
Read1 readSpider(const std::string& f, const std::string& bytes) {
    return Read1(&MRCData::readSPIDER, f, bytes);
}

TEST(Spider, RelionFilesRoundTripByteOrderAndOddFiles) {
    TempDir t;
    const int cases[][3] = {{64, 4, 1024}, {512, 1, 2048}, {30, 9, 1080}};  // width, LABREC, LABBYT
    for (auto& c : cases) {
        const int n = c[0];
        MRCData d;
        makeReal(d, n, 20, [](int x, int y) { return x * 0.5f - y * 1.25f; });
        d.setName("roundtrip");
        const std::string f = t / ("a" + std::to_string(n) + ".spi");
        ASSERT_EQ(1, d.writeSPIDER(f.c_str()));
        auto b = slurp(f);
        EXPECT_EQ(std::vector<float>({(float)c[1], (float)c[2], 4.0f * n, 1, -1}),
                  words<float>(b, {48, 84, 88, 16, 36}));
        EXPECT_EQ("roundtrip", b.substr(864, 9));
        ASSERT_EQ((size_t)c[2] + 4u * n * 20, b.size());
        EXPECT_EQ(std::string(c[2] - 1024, '\0'), b.substr(1024, c[2] - 1024));
        Read1 e = readSpider(f);
        EXPECT_EQ(0, mismatches(e.d, n, 20, [&](int x, int y) { return d.valueAt(x, y); }));
    }
    // The kept header survives a rewrite: dates, title, SIG.
    Read1 r = readSpider(dataFile("spider/img_64x48.spi"));
    ASSERT_EQ(1, r.d.writeSPIDER((t / "b.spi").c_str()));
    auto a = slurp(dataFile("spider/img_64x48.spi")), b = slurp(t / "b.spi");
    EXPECT_EQ(a.substr(836, 1024 - 836), b.substr(836, 1024 - 836));
    EXPECT_EQ(word<float>(a, 36), word<float>(b, 36));
    // RELION's files read in file order; volumes are refused.
    for (auto& c : {std::make_pair(64, 48), std::make_pair(30, 20), std::make_pair(300, 2)}) {
        std::string size = std::to_string(c.first) + "x" + std::to_string(c.second);
        Read1 r = readSpider(dataFile("spider/img_" + size + ".spi"));
        ASSERT_EQ(1, r.rc);
        EXPECT_FALSE(r.d.isComplex());
        EXPECT_EQ(0, mismatches(r.d, c.first, c.second, patternF32)) << size;
        EXPECT_NE(std::string::npos, r.out.find("2d " + size + " Spider image"));
    }
    EXPECT_EQ("Spider: Not a 2d image\n", readSpider(dataFile("spider/vol_16x12x5.spi")).out);
    // The big-endian twin, a compressed file, short and hostile files.
    auto w = slurp(dataFile("spider/img_30x20.spi"));
    brev(bytesAt(w), 50);
    brev(bytesAt(w, 1080), 30 * 20);
    ASSERT_EQ(0x3F, w[0]);
    Read1 be = readSpider(t / "be.spi", w);
    ASSERT_EQ(1, be.rc);
    EXPECT_NE(std::string::npos, be.out.find("' 1\n"));
    EXPECT_EQ(0, mismatches(be.d, 30, 20, patternF32));
    // Through zcat, named as the file is.
    runCommand("gzip -c '" + dataFile("spider/img_30x20.spi") + "' > '" + (t / "a.spi.gz") + "'");
    Read1 z = readSpider(t / "a.spi.gz");
    EXPECT_STREQ("a.spi.gz", z.d.Name());
    EXPECT_EQ(0, mismatches(z.d, 30, 20, patternF32));
    // Missing rows are zero.
    auto base = slurp(dataFile("spider/img_64x48.spi"));
    Read1 sr = readSpider(t / "short.spi", base.substr(0, 1024 + 64 * 4 * 40 + 10));  // 40 of 48 rows and a bit
    ASSERT_EQ(1, sr.rc);
    EXPECT_NE(std::string::npos, sr.out.find("Spider: Incomplete data read\n"));
    EXPECT_EQ(0, mismatches(sr.d, 64, 48, [](int x, int y) { return y < 40 ? patternF32(x, y) : 0.0f; }));
    // A compressed header promising a huge image with nothing behind it.
    auto h = slurp(dataFile("spider/img_30x20.spi")).substr(0, 2000);
    setWord(h, 4, 30000.0f);
    setWord(h, 44, 30000.0f);
    spit(t / "h.spi", h);
    runCommand("gzip -f '" + (t / "h.spi") + "'");
    Read1 g = readSpider(t / "h.spi.gz");
    EXPECT_EQ(0, g.rc);
    EXPECT_NE(std::string::npos, g.out.find("Spider: Incomplete data read\n"));
    // Hostile headers are refused.
    const std::pair<int, float> bad[] = {{44, 1e9f}, {4, 3e5f},   {44, -5}, {44, 0.5f},
                                         {84, 100},  {84, 1e12f}, {4, NAN}, {44, INFINITY}};
    for (auto& [off, v] : bad) {
        auto b = base;
        setWord(b, off, v);
        Read1 h = readSpider(t / "h.spi", b);
        EXPECT_EQ(0, h.rc);
        EXPECT_TRUE(h.out.find("Spider:") != std::string::npos) << off << " " << v << ": " << h.out;
    }
    // Too short for its header: refused without a message.
    Read1 tiny = readSpider(t / "tiny.spi", base.substr(0, 500));
    EXPECT_EQ(0, tiny.rc);
    EXPECT_EQ("", tiny.out);
}

// Writes that fail part-way (a full disk) are failures and leave the files as they were.

TEST(AppendFailure, RefusedOrFailedWritesLeaveTheFilesAsTheyWere) {
    TempDir t;
    MRCData d;
    makeReal(d, 64, 64, [](int x, int y) { return x + 64.0f * y; });
    ASSERT_EQ(1, d.appendPIF((t / "a.pif").c_str()));
    ASSERT_EQ(1, d.appendImagic((t / "s.hed").c_str()));
    const std::string pif = slurp(t / "a.pif"), hed = slurp(t / "s.hed"), img = slurp(t / "s.img");
    // room for the PIF image header, not the values; for the IMAGIC header, not the second image
    EXPECT_EQ("appendPIF: cannot write " + (t / "a.pif") + "\n",
              capturedOnFullDisk(pif.size() + 2000, [&] { EXPECT_EQ(0, d.appendPIF((t / "a.pif").c_str())); }));
    EXPECT_EQ(pif, slurp(t / "a.pif"));
    EXPECT_EQ("Cannot write to " + (t / "s.img") + "!\n",
              capturedOnFullDisk(img.size() + 1000, [&] { EXPECT_EQ(0, d.appendImagic((t / "s.hed").c_str())); }));
    EXPECT_EQ(hed, slurp(t / "s.hed"));
    EXPECT_EQ(img, slurp(t / "s.img"));
    // The data file cannot be opened for appending: a directory stands in its way.
    std::rename((t / "s.img").c_str(), (t / "q.img").c_str());
    mkdir((t / "s.img").c_str(), 0700);
    EXPECT_EQ("Cannot write to " + (t / "s.img") + "!\n",
              captured([&] { EXPECT_EQ(0, d.appendImagic((t / "s.hed").c_str())); }));
    EXPECT_EQ(hed, slurp(t / "s.hed"));
    // An image of another size is refused.
    std::string out = captured([&] {
        EXPECT_EQ(0, appendNew(&MRCData::appendPIF, t / "a.pif", 64, 32, [](int, int y) { return (float)y; }));
    });
    EXPECT_EQ("Cannot append to " + (t / "a.pif") + ". Incorrect byte order, image size or mode.\n", out);
    EXPECT_EQ(pif, slurp(t / "a.pif"));
    // SPIDER and PGM saves that fail keep the old file.
    MRCData e;
    makeReal(e, 64, 64, [](int x, int y) { return x + 64.0f * y; });
    ASSERT_EQ(1, e.writeSPIDER((t / "a.spi").c_str()));
    ASSERT_EQ(1, e.writePGM((t / "a.pgm").c_str()));
    const std::string s = slurp(t / "a.spi"), p = slurp(t / "a.pgm");
    makeReal(e, 128, 128, [](int x, int y) { return x + 128.0f * y; });
    capturedOnFullDisk(3000, [&] {
        EXPECT_EQ(0, e.writeSPIDER((t / "a.spi").c_str()));
        EXPECT_EQ(0, e.writePGM((t / "a.pgm").c_str()));
    });
    EXPECT_EQ(s, slurp(t / "a.spi"));
    EXPECT_EQ(p, slurp(t / "a.pgm"));
    // Complex data never go into a SPIDER file.
    std::vector<float> c(66 * 64, 1.0f);
    e.setComplData(c.data(), 66, 64, 1);
    EXPECT_EQ("Cannot write complex SPIDER files.\n",
              captured([&] { EXPECT_EQ(0, e.writeSPIDER((t / "c.spi").c_str())); }));
}

}  // namespace
