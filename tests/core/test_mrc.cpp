// MRC files: the fixtures of other writers, refusals, the header we write, stacks, pixel size.
#include <ctime>
#include <functional>
#include <tuple>

#include "core/formats.h"
#include "tests/core/testutil.h"

namespace {

Read1 readMRC(const std::string& path) {
    return Read1(&MRCData::readMRCData, path);
}
Read1 readMRC(const std::string& path, const std::string& bytes) {
    return Read1(&MRCData::readMRCData, path, bytes);
}

// A minimal native-order MRC file; nsymbt extended-header bytes go before the values.
std::string makeMRC(int nx, int ny, int nz, int mode, const std::string& values, int nsymbt = 0) {
    std::string h(1024, '\0');
    const int w[] = {nx, ny, nz, mode};
    std::memcpy(&h[0], w, sizeof w);
    setWord(h, 92, nsymbt);
    return h + std::string(nsymbt, 'E') + values;
}

std::string floats(const std::vector<float>& v) {
    return std::string(reinterpret_cast<const char*>(v.data()), v.size() * 4);
}

MRCheader headerOf(const std::string& file) {
    MRCheader h;
    std::memcpy(&h, slurp(file).data(), 1024);
    return h;
}

}  // namespace

TEST(MRCRead, FixturesOfEveryRealModeInBothByteOrders) {
    // The fixtures' own formulas (file order, x fastest); mode 0 bytes are taken unsigned and divided by 100.
    auto i16 = [](int x, int y) -> float { return (int16_t)(97 * x - 131 * y + 1000); };
    auto u8 = [](int x, int y) { return ((5 * x + 11 * y) % 256 + 128) % 256 / 100.0f; };
    // file, size, mode name, pattern
    const std::tuple<std::string, int, int, const char*, std::function<float(int, int)>> cases[] = {
        {"mode2_le.mrc", 64, 48, "float", patternF32},
        {"mode2_be.mrc", 64, 48, "float", patternF32},
        {"mode2_le.mrc.gz", 64, 48, "float", patternF32},
        {"f32_30x20_le.mrc", 30, 20, "float", patternF32},
        {"f32_300x2_le.mrc", 300, 2, "float", patternF32},
        {"mode1_le.mrc", 64, 48, "short", i16},
        {"mode1_be.mrc", 64, 48, "short", i16},
        {"mode0_le.mrc", 64, 48, "char", u8},
        {"mode0_be.mrc", 64, 48, "char", u8}};
    for (auto& [file, nx, ny, mode, f] : cases) {
        const std::string path = dataFile("mrc/" + file);
        Read1 r = readMRC(path);
        ASSERT_EQ(r.rc, 1) << file;
        bool be = file.find("_be") != std::string::npos, gz = file.find(".gz") != std::string::npos;
        EXPECT_EQ(r.out, path + " is a " + (be ? "byte reversed" : "") + " " + (gz ? "compressed" : "") + " " +
                             std::to_string(nx) + "x" + std::to_string(ny) + " 2D " + mode + " MRC File\n");
        EXPECT_EQ(r.d.Name(), file);
        EXPECT_EQ(r.d.File(), path);
        EXPECT_EQ(r.d.isComplex(), 0);
        EXPECT_EQ(mismatches(r.d, nx, ny, f), 0) << file;
        // The map text and machine stamp keep their bytes.
        EXPECT_EQ(std::memcmp(reinterpret_cast<const char*>(r.d.MRCHed()) + 208, "MAP ", 4), 0);
        EXPECT_EQ(r.d.MRCHed()->nlabl, 1);
    }
}

TEST(MRCRead, RefusalsHostileHeadersTruncatedFilesAndOddNames) {
    TempDir t;
    const std::string m6 = dataFile("mrc/mode6_le.mrc");
    spit(t.file("w.mrc"), makeMRC(65536, 2, 1, 2, ""));  // a little-endian nx of 65536 looks big-endian
    spit(t.file("s.mrc"), std::string(100, 'x'));        // less than a header: no message
    spit(t.file("f.mrc"), makeMRC(4, 4, 1, 2, floats(std::vector<float>(4 * 3, 1.5f))));  // missing its last row
    const std::pair<std::string, std::string> cases[] = {
        {dataFile("mrc/row_64x1_f32_le.mrc"), "This appears to be a 1d file. I only read 2d files.\n"},
        {dataFile("mrc/vol_16x12x5_f32_le.mrc"), "This appears to be a 3d file. I only read 2d files.\n"},
        {m6, m6 + " is a   64x48 2D unknown MRC File\nBad MRC file\n"},
        {t.file("missing.mrc"), "Cannot open file\n"},
        {t.file("missing.mrc.gz"), "Cannot open file\n"},
        {t.file("w.mrc"), "This appears to be a 3d file. I only read 2d files.\n"},
        {t.file("s.mrc"), ""},
        {t.file("f.mrc"), t.file("f.mrc") + " is a   4x4 2D float MRC File\nIncomplete data read 0/4 blocks\n"},
    };
    for (auto& c : cases) {
        Read1 r = readMRC(c.first);
        EXPECT_EQ(r.out, c.second);
        EXPECT_EQ(r.rc, 0) << c.first;
    }
    // Hostile headers are refused before anything is allocated.
    const int hostile[][4] = {{1 << 30, 1 << 30, 2, 0}, {-5, 10, 2, 0},  {10, -5, 2, 0},      {0, 10, 2, 0},
                              {1 << 29, 4, 4, 0},       {10, 10, 2, -4}, {10, 10, 2, 1 << 30}};  // nx ny mode nsymbt
    for (auto& c : hostile) {
        std::string f = makeMRC(c[0], c[1], 1, c[2], std::string(400, '\0'));
        setWord(f, 92, c[3]);
        Read1 r = readMRC(t.file("h.mrc"), f);
        EXPECT_EQ(r.rc, 0) << c[0] << " " << c[1];
        // Either refusal: sizes that look big-endian fail the plane count first.
        EXPECT_TRUE(r.out.find("Bad MRC file\n") != std::string::npos || r.out.find("3d file") != std::string::npos)
            << r.out;
        EXPECT_LE(r.d.dataCapacity(), 1024u);
    }
    // Truncated files, extended headers, odd names.
    // mode 0 missing one of four rows: read on, the missing row is zeros; through a pipe as well
    spit(t.file("c.mrc"), makeMRC(4, 4, 1, 0, std::string(13, '\xc8')));
    ASSERT_EQ(runCommand("gzip -c '" + t.file("c.mrc") + "' > '" + t.file("c.mrc.gz") + "'"), 0);
    for (std::string f : {"c.mrc", "c.mrc.gz"}) {
        Read1 c = readMRC(t.file(f));
        EXPECT_EQ(c.rc, 1);
        EXPECT_NE(c.out.find("Incomplete data read 0/4 blocks\n"), std::string::npos) << f;
        EXPECT_EQ(mismatches(c.d, 4, 4, [](int, int y) { return y < 3 ? 2.0f : 0.0f; }), 0) << f;  // byte 200
    }
    // mode 0 with under half its rows: corrupt, not truncated
    Read1 h = readMRC(t.file("h.mrc"), makeMRC(4, 100, 1, 0, std::string(40, '\x01')));
    EXPECT_EQ(h.rc, 0);
    EXPECT_NE(h.out.find("Bad MRC file\n"), std::string::npos);
    // An extended header is skipped.
    EXPECT_EQ(mismatches(readMRC(t.file("e.mrc"), makeMRC(3, 2, 1, 2, floats({1, 2, 3, 4, 5, 6}), 512)).d, 3, 2,
                         [](int x, int y) { return 1 + x + 3 * y; }),
              0);
    // A name with shell characters opens through the decompressor as one argument.
    Read1 r = readMRC(t.file("it's a; `test` $(x).mrc.gz"), slurp(dataFile("mrc/mode2_le.mrc.gz")));
    EXPECT_EQ(r.rc, 1) << r.out;
    EXPECT_EQ(r.d.valueAt(5, 5), patternF32(5, 5));
}

TEST(MRCWrite, HeaderFieldsAndLabels) {
    TempDir t;
    Read1 r = readMRC(dataFile("mrc/mode1_be.mrc"));
    MRCData& d = r.d;
    d.setName("my image");
    std::string out = t.file("o.mrc");
    time_t now = time(nullptr);
    ASSERT_EQ(d.writeMRCData(out.c_str(), 0), 1);
    std::string s = slurp(out);
    ASSERT_EQ(s.size(), 1024u + 64 * 48 * 4);
    MRCheader h = headerOf(out);
    EXPECT_EQ(std::vector<int>({h.nx, h.ny, h.nz, h.mode, h.mapc, h.mapr, h.maps, h.nlabl}),
              std::vector<int>({64, 48, 1, 2, 1, 2, 3, 2}));
    // the fixture's pixel size is kept; it had angles of 90 already
    EXPECT_EQ(std::vector<float>({h.xlen, h.ylen, h.alpha, h.amin, h.amax}),
              std::vector<float>({64 * 1.5f, 48 * 1.5f, 90, d.Min(), d.Max()}));
    EXPECT_EQ(s.substr(208, 8), std::string("MAP \x44\x44\0\0", 8));  // native stamp
    struct tm tmv;
    localtime_r(&now, &tmv);
    char want[100];
    snprintf(want, sizeof want, "tarvik: %d/%d/%02d %d:", tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_year % 100, tmv.tm_hour);
    std::string label(h.labels[1]);
    EXPECT_EQ(label.rfind(want, 0), 0u) << label;
    EXPECT_EQ(label.substr(label.size() - 9), " my image");
    EXPECT_EQ(s.substr(1024), std::string(reinterpret_cast<const char*>(d.getRealData()), 64 * 48 * 4));
    // Labels stop at ten, and bad label counts stay inside the header.
    MRCData l;
    makeReal(l, 4, 4, [](int, int) { return 1.0f; });
    for (int i = 0; i < 12; i++) ASSERT_EQ(l.writeMRCData(out.c_str(), 0), 1);
    EXPECT_EQ(l.MRCHed()->nlabl, 10);
    std::string first(l.MRCHed()->labels[0]);
    EXPECT_EQ(first.substr(first.size() - 8), " no name");
    for (int bad : {-3, 11, 1 << 30}) {
        l.MRCHed()->nlabl = bad;
        MRCheader before = *l.MRCHed();
        ASSERT_EQ(l.writeMRCData(out.c_str(), 0), 1);
        // nothing before the labels changed but the fields the writer sets
        EXPECT_EQ(std::memcmp(before.other, l.MRCHed()->other + 0, 4), 0);
        EXPECT_TRUE(l.MRCHed()->nlabl >= 0 && l.MRCHed()->nlabl <= 10) << l.MRCHed()->nlabl;
    }
}

TEST(MRCRead, ComplexFilesBecomeAmplitudeAndPhaseAndRoundTrip) {
    TempDir t;
    // A complex file becomes amplitudes and phases.
    for (const char* f : {"mrc/mode4_le.mrc", "mrc/mode4_be.mrc"}) {
        Read1 r = readMRC(dataFile(f));
        ASSERT_EQ(r.rc, 1);
        EXPECT_NE(r.out.find(" 128x48 2D float complex MRC File\n"), std::string::npos);
        ASSERT_EQ(r.d.isComplex(), 1);
        ASSERT_EQ(r.d.xSize(), 128);
        const float* v = r.d.getRealData();
        for (int y = 0; y < 48; y++)
            for (int x = 0; x < 64; x++) {
                float re = x - 31.5f, im = 0.25f * y - 6.0f;
                ASSERT_NEAR(v[y * 128 + 2 * x], std::sqrt(re * re + im * im) / 128 * 48, 1e-4);
                ASSERT_NEAR(v[y * 128 + 2 * x + 1], std::atan2(im, re), 1e-6);
            }
    }
    Read1 r = readMRC(dataFile("mrc/mode4_le.mrc"));
    MRCData& d = r.d;
    std::vector<float> before(d.getRealData(), d.getRealData() + 128 * 48);
    ASSERT_EQ(d.writeMRCData(t.file("c.mrc").c_str(), 0), 1);
    EXPECT_EQ(std::memcmp(before.data(), d.getRealData(), before.size() * 4), 0);
    EXPECT_EQ(d.MRCHed()->nx, 64);
    EXPECT_EQ(d.MRCHed()->mode, 4);
    Read1 e = readMRC(t.file("c.mrc"));
    ASSERT_EQ(e.rc, 1);
    for (int i = 0; i < 128 * 48; i += 2) {
        ASSERT_NEAR(e.d.getRealData()[i], before[i] * 48.0f / 128, 1e-4 * (1 + before[i]));
        ASSERT_NEAR(before[i] > 1e-3f ? std::remainder(e.d.getRealData()[i + 1] - before[i + 1], 2 * M_PI) : 0, 0,
                    1e-5);
    }
}

// ---- particle stacks, pixel size, standard header bytes

namespace {

// Values that differ at every position of 24 x 20 sections and in every section (int16 range).
float stackValue(int x, int y, int k) {
    return (float)(600 * k + 25 * y - x);
}

// A stack of n sections in mode 1 or 2, native or byte-reversed, space group ispg, nz claimed,
// pixel size 1.34 (cell 24 x 1.34 over sampling 24); gzipped when the name ends in ".gz".
void putStack(const std::string& path, int n, int mode, int ispg, bool reversed, int nz) {
    std::string vals;
    for (int k = 0; k < n; k++)
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 24; x++) {
                float v = stackValue(x, y, k);
                int16_t s = (int16_t)v;
                vals.append(mode == 1 ? (const char*)&s : (const char*)&v, mode == 1 ? 2 : 4);
            }
    std::string f = makeMRC(24, 20, nz, mode, vals);
    setWord(f, 28, 24);          // mx
    setWord(f, 40, 24 * 1.34f);  // xlen
    setWord(f, 88, ispg);
    if (reversed) {
        brev(bytesAt(f), 56);
        if (mode == 1) brevs(bytesAt(f, 1024), (int)vals.size() / 2);
        if (mode == 2) brev(bytesAt(f, 1024), (int)vals.size() / 4);
    }
    bool gz = path.size() > 3 && path.compare(path.size() - 3, 3, ".gz") == 0;
    spit(gz ? path.substr(0, path.size() - 3) : path, f);
    EXPECT_EQ(gz ? runCommand("gzip -f '" + path.substr(0, path.size() - 3) + "'") : 0, 0);
}

}  // namespace

TEST(MRCStack, EverySectionBecomesADataSetUnlessTheFileCannotHoldThem) {
    TempDir t;
    setenvf("scanres", 14);
    // names; mode, space group, byte-reversed, sections read (0: refused as 3-D)
    const std::string names[] = {"p.mrcs", "p.mrc", "q.mrcs", "g.mrcs.gz", "v.mrc"};
    const int cases[][4] = {{2, 0, 0, 50}, {1, 0, 1, 50}, {2, 1, 0, 50}, {1, 0, 0, 50}, {2, 1, 0, 0}};
    for (int i = 0; i < 5; i++) {
        const std::string name = names[i], path = t.file(name);
        const int count = cases[i][3];
        putStack(path, 50, cases[i][0], cases[i][1], cases[i][2], 50);
        ReadSets r(readMRCFile, path);
        if (!count) {
            EXPECT_EQ(r.out, "This appears to be a 3d file. I only read 2d files.\n");
            EXPECT_EQ(r.l, nullptr);
            continue;
        }
        ASSERT_EQ(r.n(), count) << name << r.out;
        for (int k = 0; k < count; k++) {
            MRCData* d = r[k];
            ASSERT_EQ(d->Name(), name + ":" + std::to_string(k + 1));
            EXPECT_EQ(d->File(), path);
            ASSERT_EQ(d->zSize(), 1);
            ASSERT_TRUE(std::abs(d->Pixres() - 1.34f) < 1e-6 && std::abs(d->Mag() - 140 / 1.34f) < 1e-3) << d->Mag();
            ASSERT_EQ(mismatches(d, 24, 20, [k](int x, int y) { return stackValue(x, y, k); }), 0) << name << k;
        }
    }
    EXPECT_EQ(ReadSets(readMRCFile, t.file("p.mrcs")).out,
              t.file("p.mrcs") + " is a   24x20 2D float MRC stack of 50 images\n");
    // A volume written by mrcfile is still refused; readMRCData refuses stacks as before.
    EXPECT_EQ(ReadSets(readMRCFile, dataFile("mrc/vol_16x12x5_f32_le.mrc")).out,
              "This appears to be a 3d file. I only read 2d files.\n");
    EXPECT_EQ(readMRC(t.file("p.mrc")).out, "This appears to be a 3d file. I only read 2d files.\n");
    // The stack mrcfile wrote: its pattern and pixel size.
    ReadSets r(readMRCFile, dataFile("mrc/particles_24x20x5.mrcs"));
    ASSERT_EQ(r.n(), 5) << r.out;
    for (int z = 0; z < 5; z++) {
        auto f = [z](int x, int y) { return 100.0 * z + 0.5 * x - 0.25 * y + std::sin(0.7 * x + z); };
        EXPECT_NEAR(r[z]->Pixres(), 1.34, 1e-6);
        EXPECT_EQ(mismatches(r[z], 24, 20, f, 1e-4), 0);
    }
    // Counts that the file cannot hold are refused before reading.
    // name, nz claimed (the file holds 50 sections), last message
    const std::tuple<const char*, int, const char*> counts[] = {
        {"a.mrcs", 51, "Incomplete data read 1000/1020 blocks\n"},
        {"b.mrcs", 40000, "Incomplete data read 1000/800000 blocks\n"},
        {"c.mrcs", 1 << 20, "Bad MRC file\n"},
        {"d.mrcs.gz", 51, "Incomplete data read 0/20 blocks\n"}};  // a pipe: found out at the end
    for (auto& [name, nz, msg] : counts) {
        putStack(t.file(name), 50, 2, 0, false, nz);
        ReadSets r(readMRCFile, t.file(name));
        EXPECT_EQ(r.l, nullptr) << name;
        EXPECT_EQ(lastLine(r.out), msg) << name;
    }
}

TEST(MRCPixel, RecordedPixelSizeOrThePreferencesAndRoundTrip) {
    TempDir t;
    setenvf("scanres", 14);
    setenvf("mag", 40);
    // xlen, mx, ylen, pixel size (0: from the preferences, 3.5 A at mag 40)
    const float cases[][4] = {{45, 30, 0, 1.5f}, {7.5f, 5, 0, 1.5f}, {30, 30, 20, 0},      {0, 30, 0, 0},
                              {45, 0, 0, 0},     {NAN, 30, 0, 0},    {INFINITY, 30, 0, 0}, {-45, 30, 0, 0},
                              {3e38f, 1, 0, 0},  {1e-4f, 30, 0, 0},  {30, 64, 20, 0}};  // the last: an earlier writer
    for (auto& c : cases) {
        std::string f = makeMRC(30, 20, 1, 2, floats(std::vector<float>(600, 2.5f)));
        setWord(f, 40, c[0]);
        setWord(f, 28, (int)c[1]);
        setWord(f, 44, c[2]);
        Read1 r = readMRC(t.file("p.mrc"), f);
        ASSERT_EQ(r.rc, 1);
        EXPECT_FLOAT_EQ(r.d.Pixres(), c[3] ? c[3] : 3.5f) << c[0] << " / " << c[1];
        EXPECT_FLOAT_EQ(r.d.Mag(), c[3] ? 140 / c[3] : 40) << c[0] << " / " << c[1];
    }
    // The pixel size goes into the cell lengths and comes back.
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
    // data set or stack; nx ny nz mx my mz; xlen; pixel size (a stack's sections are images)
    const std::tuple<MRCData*, List*, std::vector<int>, float, float> written[] = {
        {&r, nullptr, {30, 20, 1, 30, 20, 1}, 75, 2.5f},
        {&c, nullptr, {17, 20, 1, 17, 20, 1}, 51, 3.0f},
        {&s, &two, {30, 20, 2, 30, 20, 1}, 37.5f, 1.25f}};
    const std::string o = t.file("o.mrcs");
    for (auto& [d, stack, sizes, xlen, pixres] : written) {
        int ok = stack ? writeMRCStack(stack, o.c_str(), 0) : d->writeMRCData(o.c_str(), 0);
        ReadSets back(readMRCFile, o);
        ASSERT_TRUE(ok && back.l) << back.out;
        MRCheader h = headerOf(o);
        EXPECT_EQ(std::vector<int>({h.nx, h.ny, h.nz, h.mx, h.my, h.mz}), sizes);
        EXPECT_EQ(std::vector<float>({h.xlen, h.ylen, h.zlen}), std::vector<float>({xlen, 20 * pixres, pixres}));
        EXPECT_EQ(back.n(), stack ? 2 : 1);
        EXPECT_FLOAT_EQ(back[0]->Pixres(), pixres);
    }
    EXPECT_EQ(s.MRCHed(), nullptr);  // the stack writer leaves the data sets as they are
}

TEST(MRCWrite, FailedSaveStandardBytesRmsAndShortModes) {
    TempDir t;
    // A failed save keeps the old file and leaves nothing behind.
    std::string keep = t.file("keep.mrc");
    spit(keep, "old contents");
    MRCData d;
    makeReal(d, 256, 256, [](int, int) { return 2.0f; });
    EXPECT_EQ(capturedOnFullDisk(10000, [&] { EXPECT_EQ(d.writeMRCData(keep.c_str(), 0), 0); }), "Cannot write file\n");
    EXPECT_EQ(slurp(keep), "old contents");
    EXPECT_EQ(dirEntries(t.path).size(), 1u);
    EXPECT_EQ(captured([&] { EXPECT_EQ(d.writeMRCData(t.file("no/such/dir.mrc").c_str(), 0), 0); }),
              "Cannot open file for writing\n");
    // Values far from zero with a small spread, as micrographs in counts are.
    std::vector<float> v(31 * 20);
    for (size_t i = 0; i < v.size(); i++) v[i] = 3000.0f + 0.37f * (float)((i * 7919) % 101);
    for (int shortMode : {0, 1, 2}) {
        MRCData d;
        d.setRealData(v.data(), 31, 20, 1);
        ASSERT_EQ(d.writeMRCData(t.file("o.mrc").c_str(), shortMode), 1);
        std::string s = slurp(t.file("o.mrc"));
        const size_t w = shortMode ? 2 : 4;
        ASSERT_EQ(s.size(), 1024 + v.size() * w);
        EXPECT_EQ(s.substr(208, 8), std::string("MAP \x44\x44\0\0", 8));
        EXPECT_EQ(word(s, 108), 20140);  // nversion
        EXPECT_EQ(words(s, {28, 32, 36}), std::vector<int>({31, 20, 1}));
        double sum = 0, sq = 0;
        for (size_t i = 0; i < v.size(); i++) {
            int16_t i16 = 0;
            std::memcpy(&i16, &s[1024 + w * i], 2);
            double x = shortMode ? i16 : word<float>(s, 1024 + w * i);
            sum += x;
            sq += x * x;
        }
        double n = (double)v.size(), sd = std::sqrt(sq / n - (sum / n) * (sum / n));
        EXPECT_NEAR(word<float>(s, 216), sd, 1e-4 * sd) << shortMode;  // rms
    }
    // A file read from MRC keeps every byte the writer does not own.
    const std::string src = slurp(dataFile("mrc/mode2_le.mrc"));
    Read1 r = readMRC(dataFile("mrc/mode2_le.mrc"));
    ASSERT_EQ(r.d.writeMRCData(t.file("k.mrc").c_str(), 0), 1);
    std::string out = slurp(t.file("k.mrc"));
    const int owned[][2] = {{0, 52}, {64, 88}, {92, 96}, {108, 112}, {208, 224}, {304, 384}};
    for (int i = 0; i < 1024; i++) {
        bool mine = false;
        for (auto& o : owned) mine = mine || (i >= o[0] && i < o[1]);
        EXPECT_TRUE(mine || out[i] == src[i]) << "byte " << i;
    }
    // 16-bit: rescaled to 0..4095, or truncated toward zero to the low 16 bits.
    float v1[4] = {-1, 0, 0.5f, 1}, v2[4] = {-2.7f, 3.9f, 70000, 123};
    MRCData d1, d2;
    d1.setRealData(v1, 2, 2, 1);
    d2.setRealData(v2, 2, 2, 1);
    ASSERT_EQ(d1.writeMRCData(t.file("s.mrc").c_str(), 1), 1);
    ASSERT_EQ(d2.writeMRCData(t.file("r.mrc").c_str(), 2), 1);
    std::string s1 = slurp(t.file("s.mrc")), s2 = slurp(t.file("r.mrc"));
    MRCheader h = headerOf(t.file("s.mrc"));
    EXPECT_EQ(h.mode, 1);
    const int16_t* p = reinterpret_cast<const int16_t*>(s1.data() + 1024);
    EXPECT_EQ(std::vector<int>({p[0], p[1]}), std::vector<int>({0, 2047}));
    EXPECT_TRUE(p[3] == 4094 || p[3] == 4095) << p[3];
    EXPECT_EQ(h.amin, 0);
    EXPECT_NEAR(h.amax, 4095, 1);
    p = reinterpret_cast<const int16_t*>(s2.data() + 1024);
    EXPECT_EQ(std::vector<int>(p, p + 4), std::vector<int>({-2, 3, (int16_t)(70000 & 0xffff), 123}));
    EXPECT_EQ(d2.getRealData()[0], -2.7f);  // the data set is untouched
}
