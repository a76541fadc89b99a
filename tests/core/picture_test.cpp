// Pictures through PGM and the converters, Scans-A-Lot scans, box databases.
#include <iterator>

#include "core/formats.h"
#include "tests/core/testutil.h"

namespace {

Read1 readPicture(const std::string& f) {
    return Read1(&MRCData::readPGM, f);
}

TEST(Picture, NetpbmFilesConvertersWrittenPgmMaxvalAndRefusals) {
    const std::pair<const char*, const char*> cases[] = {{"/x/scan.tif", "tifftopnm '/x/scan.tif' | ppmtopgm"},
                                                         {"scan.tiff", "tifftopnm 'scan.tiff' | ppmtopgm"},
                                                         {"scan.png", "ppmtopgm 'scan.png'"},
                                                         {"a.GIF", "giftopnm 'a.GIF'|ppmtopgm"},
                                                         {"a.JPG", "djpeg -grayscale -pnm 'a.JPG'"},
                                                         {"a.pcx", "pcxtoppm 'a.pcx'| ppmtopgm"}};
    for (auto& [name, command] : cases) EXPECT_EQ(command, pictureCommand(name));
    // A name with blanks, quotes and ';' is one argument and runs nothing else.
    TempDir t(true);
    const std::string evil = t / "it's a; touch pwned.gif";
    spit(evil, slurp(dataFile("netpbm/pattern_u8_64x48.gif")));
    Read1 ev = readPicture(evil);
    EXPECT_EQ(1, ev.rc);
    EXPECT_EQ(64, ev.d.xSize());
    EXPECT_NE(0, access("pwned", F_OK));
    // Unknown, truncated and hostile files are refused.
    const std::pair<std::string, std::string> bad[] = {
        {"not a picture at all", "Sorry, I do not recognize this file type.\n"},
        {"P5\n0 10\n255\n", "Invalid file\n"},
        {"P5\n50000 20000\n255\n" + std::string(100, 'a'), "Incomplete data read 0/20000 blocks\n"},
        {"P5\n4 4\n255\n" + std::string(9, 'a'), "Incomplete data read 2/4 blocks\n"},
        {"P5\n99999999999999999999 4\n255\n", "Invalid file\n"}};
    for (auto& c : bad) {
        Read1 r(&MRCData::readPGM, t / "x.png", c.first);
        EXPECT_EQ(0, r.rc) << c.second;
        EXPECT_NE(std::string::npos, r.out.find(c.second)) << r.out;
    }
    EXPECT_EQ("Cannot open file " + (t / "missing.pgm") + "\n", readPicture(t / "missing.pgm").out);
    // A maxval of 15 divides by 15 and lists the values above 1.
    Read1 m = Read1(&MRCData::readPGM, t / "m.pgm", "P5\n# a comment\n3 1\n15\n" + std::string("\x0f\x1e\x05", 3));
    ASSERT_EQ(1, m.rc);
    EXPECT_EQ("Warning, this looks like an invalid pgm. 15.000000\ndiv=15.000000\n1,2\n", m.out);
    EXPECT_EQ(0, mismatches(m.d, 3, 1, [](int x, int) { return std::vector<float>({1, 2, 5 / 15.0f})[x]; }));
    // Netpbm files read with the top row last; a PGM written here reads back.
    // Raw PGM directly; GIF and both TIFFs through their pipelines.
    for (const char* f : {"netpbm/pattern_u8_64x48.pgm", "netpbm/pattern_u8_64x48.gif", "netpbm/pattern_u8_64x48.tif",
                          "netpbm/pattern_u8_64x48_lzw.tif"}) {
        Read1 r = readPicture(dataFile(f));
        ASSERT_EQ(1, r.rc) << f;
        EXPECT_EQ(0,
                  mismatches(r.d, 64, 48, fromTop(48, [](int x, int y) { return ((3 * x + 5 * y) % 256) / 255.0f; })))
            << f;
        EXPECT_EQ(std::string::npos, r.out.find("invalid pgm")) << f;
        EXPECT_NE(std::string::npos, r.out.find("div=255.000000\n"));
    }
    // A plain PGM through ppmtopgm.
    Read1 p = readPicture(dataFile("netpbm/ramp_lr_64x48_plain.pgm")),
          r = readPicture(dataFile("netpbm/ramp_lr_64x48.pgm"));
    EXPECT_EQ(0, mismatches(p.d, 64, 48, [&](int x, int y) { return r.d.valueAt(x, y); }));
    // JPEG through djpeg, against the decoder's own values.
    std::ifstream in(dataFile("netpbm/pattern_u8_64x48.jpg.values"));
    std::vector<int> want((std::istream_iterator<int>(in)), std::istream_iterator<int>());
    ASSERT_EQ(64u * 48, want.size());
    Read1 j = readPicture(dataFile("netpbm/pattern_u8_64x48.jpg"));
    EXPECT_EQ(0, mismatches(j.d, 64, 48, fromTop(48, [&](int x, int y) { return want[y * 64 + x] / 255.0f; })));
    // Sixteen-bit samples are read whole.
    auto level = [](int x, int y) { return (1000 * x + 7 * y + 300) / 65535.0; };
    Read1 w = readPicture(dataFile("netpbm/pattern_u16_64x48.pgm"));
    EXPECT_NE(std::string::npos, w.out.find("Warning, this looks like an invalid pgm. 65535.000000\n"));
    EXPECT_EQ(0, mismatches(w.d, 64, 48, fromTop(48, level), 0.01 / 65535));
    // The TIFF pipeline (tifftopnm without -byrow) hands over 8-bit samples.
    EXPECT_EQ(
        0, mismatches(readPicture(dataFile("netpbm/pattern_u16_64x48.tif")).d, 64, 48, fromTop(48, level), 1.0 / 255));
    MRCData d;
    makeReal(d, 40, 30, [](int x, int y) { return x * 0.1f + y; });
    d.setRenMinMax(0, 40);
    ASSERT_EQ(1, d.writePGM((t / "w.pgm").c_str()));
    auto b = slurp(t / "w.pgm");
    const std::string head = "P5\n40 30\n255\n";
    ASSERT_EQ(head.size() + 1200, b.size());
    EXPECT_EQ(head, b.substr(0, head.size()));
    Read1 e = readPicture(t / "w.pgm");
    EXPECT_EQ(std::string::npos, e.out.find("invalid"));
    // same orientation, the display range over 0..255
    EXPECT_EQ(0, mismatches(e.d, 40, 30, [&](int x, int y) {
                  float v = d.valueAt(x, y);
                  return (v >= 40 ? 255 : (int)(v * (255 / 40.0f))) / 255.0f;
              }));
    EXPECT_GE(e.d.Min(), 0.0f);
    EXPECT_LE(e.d.Max(), 1.0f);
}

// Scans-A-Lot ---------------------------------------------------------------

// A header and a data file of cols by rows values row * 1000 + column, blocks of whole records.
void writeSal(const TempDir& t, const std::string& hdr, int cols, int rows, int rec) {
    spit(t / "scan.HDR", hdr);
    long block = ((2L * cols - 1) / rec + 1) * rec;
    std::string b(block * rows, '\xEE');
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++) {
            b[r * block + 2 * c] = (char)((r * 1000 + c) & 255);
            b[r * block + 2 * c + 1] = (char)((r * 1000 + c) >> 8);
        }
    spit(t / "scan.IMG", b);
}

Read1 readScan(const TempDir& t) {
    return Read1(&MRCData::readSAL, t / "scan.dat");
}

TEST(ScansALot, RasterRowsBlocksAxscanAndHeaderProblems) {
    TempDir t;
    writeSal(t, " NXP = 1000\n NYP = 4\n FILE REC = 512\n SCAN TYPE = 'RASTER'\n DELTAX = 15.0\n", 1000, 4, 512);
    Read1 r = readScan(t);
    ASSERT_EQ(1, r.rc);
    EXPECT_NE(std::string::npos, r.out.find("scan.HDR is 1000x4\nBlock length=2048 x 4\n"));
    EXPECT_STREQ("scan.dat", r.d.Name());
    EXPECT_FLOAT_EQ(5.0f, r.d.Pixres());
    // odd rows run backwards
    EXPECT_EQ(0, mismatches(r.d, 1000, 4, [](int c, int row) { return row * 1000 + (row % 2 ? 999 - c : c); }));
    // AXSCAN 'Y' exchanges the sizes.
    writeSal(t, " NXP = 3\n NYP = 5\n AXSCAN = 'Y'\n FILE REC = 16\n", 5, 3, 16);
    Read1 x = readScan(t);
    ASSERT_EQ(1, x.rc);
    EXPECT_EQ(0, mismatches(x.d, 5, 3, [](int c, int row) { return row * 1000 + c; }));  // not a raster scan
    spit(t / "scan.HDR", " NXP = 3\n");
    const std::string out = readScan(t).out;  // the message has no line end
    EXPECT_EQ(out.size() - 23, out.find("Problem reading header.")) << out;
    // Hostile values: a record length of 0 and giant sizes are refused before any read.
    for (std::string h :
         {std::string(" NXP = 3\n NYP = 3\n FILE REC = 0\n"), std::string(" NXP = 2000000000\n NYP = 2000000000\n"),
          " NXP = 4000\n NYP = 4000\n" + std::string(500, 'x') + "\n"}) {
        spit(t / "scan.HDR", h);
        EXPECT_EQ(0, readScan(t).rc) << h;
    }
    EXPECT_NE(std::string::npos, readScan(t).out.find("Incomplete data read 0/4000 blocks\n"));
}

// Box database ---------------------------------------------------------------

TEST(BoxDB, SaveWritesTheSectionsAndLoadSkipsAndCutsSafely) {
    TempDir t;
    MRCData d;
    d.addBox(10, 20, 64, 64, "a_001.img", 0);
    d.addBox(100, 20, 64, 64, "a_002.img", 12);
    ASSERT_EQ(1, d.saveBoxDB((t / "b.db").c_str()));
    EXPECT_EQ(
        "!!! I.C.E. Datbase File !!!\n\n!!! Boxmrc Cutouts !!!\n"
        "10 20 64 64 0 0 0 0 0 0 2 a_001.img\n100 20 64 64 0 12 0 0 0 0 2 a_002.img\n"
        "\n!!! Real Images !!!\na_001.img\na_002.img\n"
        "!!! Fourier Images Complex !!!\n\n!!! Fourier Images Real !!!\n\n"
        "!!! Files with amplitudes and phases !!!\n\n!!! Spectra .com files  !!!\n\n"
        "!!! Miscellaneous Files !!!\n\n!!! Lattice Parameters !!!\n\n",
        slurp(t / "b.db"));
    MRCData e;
    for (int i = 1; i <= 3; i++) e.addBox(i, i, 5, 5, "x", 0);
    EXPECT_EQ("3  a_001.img\n4  a_002.img\n5 boxes for this image\n",
              captured([&] { EXPECT_EQ(1, e.loadBoxDB((t / "b.db").c_str())); }));
    EXPECT_EQ(12, e.Boxes()[4].type);
    EXPECT_EQ(-1, e.Boxes()[4].newx);
    MRCData none;
    EXPECT_EQ("No boxes to save!\n", captured([&] { EXPECT_EQ(0, none.saveBoxDB((t / "none.db").c_str())); }));
    EXPECT_NE(0, access((t / "none.db").c_str(), F_OK));
    // Loading skips comments and short lines and cuts long names safely.
    spit(t / "l.db",
         "junk\n!!! Boxmrc Cutouts !!!\n# 1 2 3 4 0 0 0 0 0 0 2 comment.img\n"
         "1 2 3 4 0 0 0 0 0 0 eleven.img\n5 6 7 8 1 9 0 0 0 0 2 flagged.img\n"
         "9 9 9 9 0 0 0 0 0 0 2 " +
             std::string(150, 'n') + "\n1 1 1 1 0 0 0 0 0 0 2 " + std::string(200, 'q') +
             " 2 3 4 5 0 0 0 0 0 0 2 tail.img\n70000 1 1 1 0 0 0 0 0 0 2 toolarge.img\n"
             "!!! Real Images !!!\n7 7 7 7 0 0 0 0 0 0 2 after.img\n");
    MRCData l;
    std::string out = captured([&] { EXPECT_EQ(1, l.loadBoxDB((t / "l.db").c_str())); });
    ASSERT_EQ(3, l.nBoxes()) << out;
    EXPECT_STREQ("flagged.img", l.Boxes()[0].name);
    EXPECT_EQ(0, l.Boxes()[0].type);  // the fifth field forces a rectangle
    EXPECT_EQ(std::string(39, 'n'), l.Boxes()[1].name);
    EXPECT_EQ(39u, std::strlen(l.Boxes()[2].name));  // the long line's tail is no box of its own
    EXPECT_NE(std::string::npos, out.find("3 boxes for this image\n"));
    spit(t / "empty.db", "!!! nothing here\n");
    MRCData m;
    EXPECT_EQ("0 boxes for this image\n", captured([&] { EXPECT_EQ(1, m.loadBoxDB((t / "empty.db").c_str())); }));
    EXPECT_EQ("Unable to open file " + (t / "gone.db") + "\n",
              captured([&] { EXPECT_EQ(0, m.loadBoxDB((t / "gone.db").c_str())); }));
}

}  // namespace
