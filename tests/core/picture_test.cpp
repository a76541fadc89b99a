// Pictures through PGM and the converters, Scans-A-Lot scans, box databases.
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/MRCData.h"
#include "core/formats.h"
#include "tests/core/fmt_testutil.h"

namespace {

using namespace fmtt;

// Value of picture pixel (x, y), y counted from the top of the file.
float atPicture(MRCData& d, int x, int y) {
    return d.getRealData()[(d.ySize() - 1 - y) * d.xSize() + x];
}

TEST(Picture, NetpbmFilesReadTopRowLast) {
    // Raw PGM directly; GIF and both TIFFs through their pipelines; a plain PGM through ppmtopgm.
    for (const char* f : {"netpbm/pattern_u8_64x48.pgm", "netpbm/pattern_u8_64x48.gif", "netpbm/pattern_u8_64x48.tif",
                          "netpbm/pattern_u8_64x48_lzw.tif"}) {
        MRCData d;
        std::string out = captured([&] { ASSERT_EQ(1, d.readPGM(dataFile(f).c_str())); });
        ASSERT_EQ(64, d.xSize()) << f;
        ASSERT_EQ(48, d.ySize());
        for (int y = 0; y < 48; y++)
            for (int x = 0; x < 64; x++) ASSERT_EQ(((3 * x + 5 * y) % 256) / 255.0f, atPicture(d, x, y)) << f;
        EXPECT_EQ(std::string::npos, out.find("invalid pgm")) << f;
        EXPECT_NE(std::string::npos, out.find("div=255.000000\n"));
    }
    MRCData p, r;
    captured([&] {
        ASSERT_EQ(1, p.readPGM(dataFile("netpbm/ramp_lr_64x48_plain.pgm").c_str()));
        ASSERT_EQ(1, r.readPGM(dataFile("netpbm/ramp_lr_64x48.pgm").c_str()));
    });
    ASSERT_EQ(64 * 48, p.xSize() * p.ySize());
    EXPECT_EQ(0, std::memcmp(p.getRealData(), r.getRealData(), 64 * 48 * 4));
}

TEST(Picture, JpegThroughDjpeg) {
    std::ifstream in(dataFile("netpbm/pattern_u8_64x48.jpg.values"));
    std::vector<int> want((std::istream_iterator<int>(in)), std::istream_iterator<int>());
    ASSERT_EQ(64u * 48, want.size());
    MRCData d;
    captured([&] { ASSERT_EQ(1, d.readPGM(dataFile("netpbm/pattern_u8_64x48.jpg").c_str())); });
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) ASSERT_EQ(want[y * 64 + x] / 255.0f, atPicture(d, x, y));
}

TEST(Picture, SixteenBitSamplesAreReadWhole) {
    MRCData d;
    std::string out = captured([&] { ASSERT_EQ(1, d.readPGM(dataFile("netpbm/pattern_u16_64x48.pgm").c_str())); });
    EXPECT_NE(std::string::npos, out.find("Warning, this looks like an invalid pgm. 65535.000000\n"));
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) ASSERT_NEAR(1000 * x + 7 * y + 300, atPicture(d, x, y) * 65535.0, 0.01);
    // The TIFF pipeline (tifftopnm without -byrow) hands over 8-bit samples.
    MRCData t;
    captured([&] { ASSERT_EQ(1, t.readPGM(dataFile("netpbm/pattern_u16_64x48.tif").c_str())); });
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) ASSERT_NEAR((1000 * x + 7 * y + 300) / 65535.0, atPicture(t, x, y), 1.0 / 255);
}

TEST(Picture, WritePgmRoundTrip) {
    TempDir t;
    MRCData d;
    makeReal(d, 40, 30, [](int x, int y) { return x * 0.1f + y; });
    d.setRenMinMax(0, 40);
    ASSERT_EQ(1, d.writePGM((t / "w.pgm").c_str()));
    auto b = slurp(t / "w.pgm");
    const std::string head = "P5\n40 30\n255\n";
    ASSERT_EQ(head.size() + 1200, b.size());
    EXPECT_EQ(head, std::string(b.begin(), b.begin() + head.size()));
    MRCData e;
    std::string out = captured([&] { ASSERT_EQ(1, e.readPGM((t / "w.pgm").c_str())); });
    EXPECT_EQ(std::string::npos, out.find("invalid"));
    for (int y = 0; y < 30; y++)
        for (int x = 0; x < 40; x++) {
            float v = d.getRealData()[y * 40 + x];
            int level = v >= 40 ? 255 : (int)(v * (255 / 40.0f));
            ASSERT_EQ(level / 255.0f, e.getRealData()[y * 40 + x]) << x << "," << y;  // same orientation
        }
    EXPECT_GE(e.Min(), 0.0f);
    EXPECT_LE(e.Max(), 1.0f);
}

TEST(Picture, MaxvalFifteenListsValuesAboveOne) {
    TempDir t;
    std::string pgm = "P5\n# a comment\n3 1\n15\n";
    pgm += std::string("\x0f\x1e\x05", 3);
    spit(t / "m.pgm", pgm);
    MRCData d;
    std::string out = captured([&] { ASSERT_EQ(1, d.readPGM((t / "m.pgm").c_str())); });
    EXPECT_EQ("Warning, this looks like an invalid pgm. 15.000000\ndiv=15.000000\n1,2\n", out);
    EXPECT_EQ(1.0f, d.getRealData()[0]);
    EXPECT_EQ(5 / 15.0f, d.getRealData()[2]);
}

TEST(Picture, ConverterChosenByEndingWithQuotedName) {
    EXPECT_EQ("tifftopnm '/x/scan.tif' | ppmtopgm", pictureCommand("/x/scan.tif"));
    EXPECT_EQ("tifftopnm 'scan.tiff' | ppmtopgm", pictureCommand("scan.tiff"));
    EXPECT_EQ("ppmtopgm 'scan.png'", pictureCommand("scan.png"));
    EXPECT_EQ("giftopnm 'a.GIF'|ppmtopgm", pictureCommand("a.GIF"));
    EXPECT_EQ("djpeg -grayscale -pnm 'a.JPG'", pictureCommand("a.JPG"));
    EXPECT_EQ("pcxtoppm 'a.pcx'| ppmtopgm", pictureCommand("a.pcx"));
    // A name with blanks, quotes and ';' is one argument and runs nothing else.
    TempDir t;
    const std::string evil = t / "it's a; touch pwned.gif";
    std::system(("cp '" + dataFile("netpbm/pattern_u8_64x48.gif") + "' \"" + evil + "\"").c_str());
    MRCData d;
    captured([&] { EXPECT_EQ(1, d.readPGM(evil.c_str())); });
    EXPECT_EQ(64, d.xSize());
    EXPECT_NE(0, access("pwned", F_OK));
}

TEST(Picture, RefusesUnknownTruncatedAndHostile) {
    TempDir t;
    auto run = [&](const std::string& name, const std::string& content) {
        spit(t / name, content);
        MRCData d;
        int ok = 0;
        std::string out = captured([&] { ok = d.readPGM((t / name).c_str()); });
        return std::make_pair(ok, out);
    };
    auto r = run("x.png", "not a picture at all");
    EXPECT_EQ(0, r.first);
    EXPECT_NE(std::string::npos, r.second.find("Sorry, I do not recognize this file type.\n"));
    r = run("z.pgm", "P5\n0 10\n255\n");
    EXPECT_NE(std::string::npos, r.second.find("Invalid file\n"));
    r = run("h.pgm", "P5\n50000 20000\n255\n" + std::string(100, 'a'));
    EXPECT_EQ(0, r.first);
    EXPECT_NE(std::string::npos, r.second.find("Incomplete data read 0/20000 blocks\n"));
    r = run("s.pgm", "P5\n4 4\n255\n" + std::string(9, 'a'));
    EXPECT_NE(std::string::npos, r.second.find("Incomplete data read 2/4 blocks\n"));
    r = run("n.pgm", "P5\n99999999999999999999 4\n255\n");
    EXPECT_NE(std::string::npos, r.second.find("Invalid file\n"));
    std::string out = captured([&] {
        MRCData d;
        EXPECT_EQ(0, d.readPGM((t / "missing.pgm").c_str()));
    });
    EXPECT_EQ("Cannot open file " + (t / "missing.pgm") + "\n", out);
}

// Scans-A-Lot ---------------------------------------------------------------

void writeSal(const TempDir& t, const std::string& hdr, int cols, int rows, int rec) {
    spit(t / "scan.HDR", hdr);
    long block = ((2L * cols - 1) / rec + 1) * rec;
    std::vector<unsigned char> b(block * rows, 0xEE);
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++) {
            int v = r * 1000 + c;
            b[r * block + 2 * c] = v & 255;
            b[r * block + 2 * c + 1] = v >> 8;
        }
    spit(t / "scan.IMG", b);
}

TEST(ScansALot, RasterRowsAndBlocks) {
    TempDir t;
    writeSal(t, " NXP = 1000\n NYP = 4\n FILE REC = 512\n SCAN TYPE = 'RASTER'\n DELTAX = 15.0\n", 1000, 4, 512);
    MRCData d;
    std::string out = captured([&] { ASSERT_EQ(1, d.readSAL((t / "scan.dat").c_str())); });
    EXPECT_NE(std::string::npos, out.find("scan.HDR is 1000x4\nBlock length=2048 x 4\n"));
    EXPECT_STREQ("scan.dat", d.Name());
    EXPECT_FLOAT_EQ(5.0f, d.Pixres());
    for (int r = 0; r < 4; r++)
        for (int c = 0; c < 1000; c++) {
            int col = (r % 2) ? 999 - c : c;  // odd rows run backwards
            ASSERT_EQ(r * 1000 + col, d.getRealData()[r * 1000 + c]) << r << "," << c;
        }
}

TEST(ScansALot, AxscanExchangesAndHeaderProblems) {
    TempDir t;
    writeSal(t, " NXP = 3\n NYP = 5\n AXSCAN = 'Y'\n FILE REC = 16\n", 5, 3, 16);
    MRCData d;
    std::string out = captured([&] { ASSERT_EQ(1, d.readSAL((t / "scan.x").c_str())); });
    EXPECT_EQ(5, d.xSize());
    EXPECT_EQ(3, d.ySize());
    EXPECT_EQ(2004.0f, d.getRealData()[2 * 5 + 4]);  // not a raster scan: rows as stored

    spit(t / "scan.HDR", std::string(" NXP = 3\n"));
    MRCData e;
    out = captured([&] { EXPECT_EQ(0, e.readSAL((t / "scan.x").c_str())); });
    EXPECT_NE(std::string::npos, out.find("Problem reading header."));
    EXPECT_EQ('.', out.back());
    // Hostile values: a record length of 0 and giant sizes are refused before any read.
    spit(t / "scan.HDR", std::string(" NXP = 3\n NYP = 3\n FILE REC = 0\n"));
    out = captured([&] { EXPECT_EQ(0, e.readSAL((t / "scan.x").c_str())); });
    spit(t / "scan.HDR", std::string(" NXP = 2000000000\n NYP = 2000000000\n"));
    out = captured([&] { EXPECT_EQ(0, e.readSAL((t / "scan.x").c_str())); });
    spit(t / "scan.HDR", std::string(" NXP = 4000\n NYP = 4000\n" + std::string(500, 'x') + "\n"));
    out = captured([&] { EXPECT_EQ(0, e.readSAL((t / "scan.x").c_str())); });
    EXPECT_NE(std::string::npos, out.find("Incomplete data read 0/4000 blocks\n"));
}

// Box database ---------------------------------------------------------------

TEST(BoxDB, SaveWritesTheSections) {
    TempDir t;
    MRCData d;
    d.addBox(10, 20, 64, 64, "a_001.img", 0);
    d.addBox(100, 20, 64, 64, "a_002.img", 12);
    ASSERT_EQ(1, d.saveBoxDB((t / "b.db").c_str()));
    auto b = slurp(t / "b.db");
    EXPECT_EQ(
        "!!! I.C.E. Datbase File !!!\n\n!!! Boxmrc Cutouts !!!\n"
        "10 20 64 64 0 0 0 0 0 0 2 a_001.img\n100 20 64 64 0 12 0 0 0 0 2 a_002.img\n"
        "\n!!! Real Images !!!\na_001.img\na_002.img\n"
        "!!! Fourier Images Complex !!!\n\n!!! Fourier Images Real !!!\n\n"
        "!!! Files with amplitudes and phases !!!\n\n!!! Spectra .com files  !!!\n\n"
        "!!! Miscellaneous Files !!!\n\n!!! Lattice Parameters !!!\n\n",
        std::string(b.begin(), b.end()));

    MRCData e;
    e.addBox(1, 1, 5, 5, "x", 0);
    e.addBox(2, 2, 5, 5, "y", 0);
    e.addBox(3, 3, 5, 5, "z", 0);
    std::string out = captured([&] { ASSERT_EQ(1, e.loadBoxDB((t / "b.db").c_str())); });
    EXPECT_EQ("3  a_001.img\n4  a_002.img\n5 boxes for this image\n", out);
    EXPECT_EQ(12, e.Boxes()[4].type);
    EXPECT_EQ(-1, e.Boxes()[4].newx);

    MRCData none;
    out = captured([&] { EXPECT_EQ(0, none.saveBoxDB((t / "none.db").c_str())); });
    EXPECT_EQ("No boxes to save!\n", out);
    EXPECT_NE(0, access((t / "none.db").c_str(), F_OK));
}

TEST(BoxDB, LoadSkipsAndCutsSafely) {
    TempDir t;
    const std::string longName(150, 'n');
    std::string db =
        "junk\n!!! Boxmrc Cutouts !!!\n"
        "# 1 2 3 4 0 0 0 0 0 0 2 comment.img\n"
        "1 2 3 4 0 0 0 0 0 0 eleven.img\n"
        "5 6 7 8 1 9 0 0 0 0 2 flagged.img\n"
        "9 9 9 9 0 0 0 0 0 0 2 " +
        longName + "\n" + "1 1 1 1 0 0 0 0 0 0 2 " + std::string(200, 'q') + " 2 3 4 5 0 0 0 0 0 0 2 tail.img\n" +
        "70000 1 1 1 0 0 0 0 0 0 2 toolarge.img\n"
        "!!! Real Images !!!\n7 7 7 7 0 0 0 0 0 0 2 after.img\n";
    spit(t / "l.db", db);
    MRCData d;
    std::string out = captured([&] { ASSERT_EQ(1, d.loadBoxDB((t / "l.db").c_str())); });
    ASSERT_EQ(3, d.nBoxes()) << out;
    EXPECT_STREQ("flagged.img", d.Boxes()[0].name);
    EXPECT_EQ(0, d.Boxes()[0].type);  // the fifth field forces a rectangle
    EXPECT_EQ(std::string(39, 'n'), d.Boxes()[1].name);
    EXPECT_EQ(39u, std::strlen(d.Boxes()[2].name));  // the long line's tail is no box of its own
    EXPECT_NE(std::string::npos, out.find("3 boxes for this image\n"));
    spit(t / "empty.db", std::string("!!! nothing here\n"));
    MRCData e;
    out = captured([&] { EXPECT_EQ(1, e.loadBoxDB((t / "empty.db").c_str())); });
    EXPECT_EQ("0 boxes for this image\n", out);
    out = captured([&] { EXPECT_EQ(0, e.loadBoxDB((t / "gone.db").c_str())); });
    EXPECT_EQ("Unable to open file " + (t / "gone.db") + "\n", out);
}

}  // namespace
