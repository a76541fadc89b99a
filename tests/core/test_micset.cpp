// Micrograph sets: opening by folder, pattern and STAR file, the set folder
// read back (also when written by another version or edited by hand),
// picks files, export, and the lines of the list.
#include <sys/stat.h>

#include <map>

#include "core/MRCheader.h"
#include "core/micset.h"
#include "core/star.h"
#include "ctf/report.h"
#include "tests/core/testutil.h"

namespace {

// A float micrograph of nx x ny, optionally recording a pixel size.
void writeMic(const std::string& path, int nx, int ny, float pixel = 0) {
    std::vector<float> v((size_t)nx * ny);
    for (size_t i = 0; i < v.size(); i++) v[i] = (float)(i % 13);
    MRCData d;
    d.setRealData(v.data(), nx, ny, 1);
    d.setPixres(pixel > 0 ? pixel : 1.0f);  // 1.0 records none
    ASSERT_EQ(d.writeMRCData(path.c_str(), 0), 1);
}

std::vector<std::string> names(const MicSet& s) {
    std::vector<std::string> out;
    for (const MicEntry& e : s.entries) out.push_back(e.name);
    return out;
}
std::vector<std::string> statuses(const MicSet& s) {
    std::vector<std::string> out;
    for (const MicEntry& e : s.entries) out.push_back(micset_status(e));
    return out;
}

CtfEstimate ctf(float u, float v, float angle, float res) {
    CtfEstimate e;
    e.defocusU = u;
    e.defocusV = v;
    e.defocus = (u + v) / 2;
    e.astigAngle = angle;
    e.resolution = res;
    e.score = 0.25f;
    return e;
}

// The values of one column of the first table holding it.
std::vector<std::string> column(const std::string& file, const char* col) {
    StarFile st;
    std::vector<std::string> out;
    if (!readStar(file.c_str(), &st)) return out;
    const StarTable* t = st.find({col});
    if (!t) return out;
    for (auto& r : t->rows) out.push_back(r[t->column(col)]);
    return out;
}

struct Folder {
    TempDir t{true};
    Folder() {
        mkdir("mics", 0777);
        for (const char* n : {"b.mrc", "a.mrc", "c.mrc"}) writeMic(std::string("mics/") + n, 64, 48, 1.5f);
        spit("mics/notes.txt", "not a micrograph");
    }
};

}  // namespace

TEST(MicSet, OpensFolderPatternAndStarFile) {
    Folder f;
    spit("list.star",
         "data_optics\nloop_\n_rlnOpticsGroup\n_rlnVoltage\n_rlnSphericalAberration\n_rlnAmplitudeContrast\n"
         "_rlnMicrographPixelSize\n1 300 2.7 0.1 1.1\n2 200 2.0 0.07 2.2\n\n"
         "data_micrographs\nloop_\n_rlnMicrographName\n_rlnOpticsGroup\nmics/c.mrc 2\nmics/a.mrc 1\n");
    struct Case {
        const char* what;
        std::vector<std::string> names;
        const char* dir;
    } cases[] = {
        {"mics", {"a.mrc", "b.mrc", "c.mrc"}, "mics/tarvik_set"},
        {"mics/", {"a.mrc", "b.mrc", "c.mrc"}, "mics/tarvik_set"},
        {"mics/[ab].mrc", {"a.mrc", "b.mrc"}, "mics/tarvik_set"},
        {"mics/b.mrc", {"b.mrc"}, "mics/tarvik_set"},
        {"list.star", {"mics/c.mrc", "mics/a.mrc"}, "tarvik_set"},
    };
    for (const Case& c : cases) {
        MicSet s;
        EXPECT_EQ(micset_open(c.what, &s), (int)c.names.size()) << c.what;
        EXPECT_EQ(names(s), c.names) << c.what;
        EXPECT_EQ(s.dir, c.dir) << c.what;
        for (const MicEntry& e : s.entries) {
            EXPECT_EQ(e.unreadable, "") << c.what << " " << e.name;
            EXPECT_EQ(e.nx * 1000 + e.ny, 64048);
            EXPECT_EQ(access(e.path.c_str(), R_OK), 0) << e.path;
        }
    }
    // The optics group of each row of the STAR file.
    MicSet s;
    micset_open("list.star", &s);
    EXPECT_EQ(std::vector<float>({s.entries[0].kv, s.entries[0].csMM, s.entries[0].ac, s.entries[0].pixel}),
              std::vector<float>({200, 2.0f, 0.07f, 2.2f}));
    EXPECT_EQ(std::vector<float>({s.entries[1].kv, s.entries[1].csMM, s.entries[1].ac, s.entries[1].pixel}),
              std::vector<float>({300, 2.7f, 0.1f, 1.1f}));
    EXPECT_EQ(s.entries[0].stem, "c");
    EXPECT_EQ(micset_picks_file(s, s.entries[0]), "tarvik_set/c_manualpick.star");
}

TEST(MicSet, BadInputShowsOnItsLineAndTheRestWorks) {
    Folder f;
    writeMic("mics/small.mrc", 32, 32);
    std::string bytes = slurp("mics/c.mrc");
    spit("mics/d.mrc", bytes.substr(0, bytes.size() - 100));  // truncated
    setWord(bytes, 8, 5);                                     // nz = 5
    spit("mics/vol.mrc", bytes);
    mkdir("other", 0777);
    writeMic("other/a.mrc", 64, 48);  // its picks file would be a_manualpick.star again
    spit("list.star",
         "data_\nloop_\n_rlnMicrographName\nmics/a.mrc\nmics/gone.mrc\nmics/notes.txt\nother/a.mrc\n"
         "mics/b.mrc\n");
    MicSet s;
    EXPECT_EQ(micset_open("mics", &s), 3);
    EXPECT_EQ(statuses(s),
              (std::vector<std::string>{"kept", "kept", "kept", "unreadable: truncated (13212 of 13312 bytes)",
                                        "unreadable: 32x32, not the set's 64x48", "unreadable: not a 2-D image"}));
    EXPECT_EQ(micset_open("list.star", &s), 2);
    EXPECT_EQ(statuses(s), (std::vector<std::string>{"kept", "unreadable: missing file",
                                                     "unreadable: not an MRC file (shorter than its header)",
                                                     "unreadable: its picks file would be that of line 1", "kept"}));
    // Nothing to open: one line that says why.
    const std::pair<const char*, const char*> empty[] = {
        {"mics/*.tif", "unreadable: no file matches"},
        {"nowhere", "unreadable: no such file or folder"},
        {"other/..", "unreadable: the folder holds no .mrc file"},
        {"mics/notes.txt", "unreadable: not an MRC file (shorter than its header)"},
    };
    mkdir("void", 0777);
    for (auto [what, status] : empty) {
        EXPECT_EQ(micset_open(what, &s), 0) << what;
        ASSERT_EQ(s.entries.size(), 1u) << what;
        EXPECT_EQ(micset_status(s.entries[0]), status) << what;
        EXPECT_FALSE(micset_usable(s.entries[0]));
    }
    EXPECT_EQ(micset_open("void", &s), 0);
    EXPECT_EQ(micset_line(s, 0), "   1 void" + std::string(51, ' ') + "unreadable: the folder holds no .mrc file");
    spit("bad.star", "data_\nloop_\n_rlnImageName\nx\n");
    micset_open("bad.star", &s);
    EXPECT_EQ(micset_status(s.entries[0]), "unreadable: no table with _rlnMicrographName");
}

TEST(MicSet, StateIsWrittenAndReadBack) {
    Folder f;
    MicSet s;
    micset_open("mics", &s);
    s.entries[1].status = MIC_REJECTED;
    s.entries[2].hasCtf = true;
    s.entries[2].ctf = ctf(-1.5f, -1.3f, 30, 4.25f);
    s.boxSize = 48;
    s.shown = "b.mrc";
    ASSERT_EQ(micset_write_picks(s, 0, {{10, 20, 48, 48}, {100, 5, 48, 48}}, {kManualPickFom, 7.5f}), 1);
    ASSERT_EQ(micset_write_state(s), 1);
    CtfEstimateParams p;
    p.kv = 300;
    p.csMM = 2.7f;
    ASSERT_EQ(micset_write_ctf(s, p), 1);
    EXPECT_EQ(column("mics/tarvik_set/set.star", "_tarvikStatus"),
              (std::vector<std::string>{"kept", "rejected", "kept"}));
    EXPECT_EQ(column("mics/tarvik_set/set.star", "_tarvikPicks"), (std::vector<std::string>{"2", "0", "0"}));
    EXPECT_EQ(column("mics/tarvik_set/a_manualpick.star", "_rlnCoordinateX"),
              (std::vector<std::string>{"34.000000", "124.000000"}));

    // Reopened by the folder, the set folder, set.star and a pattern: the
    // same state, and a micrograph new to the folder at the end.
    writeMic("mics/0new.mrc", 64, 48);
    for (const char* what : {"mics", "mics/tarvik_set", "mics/tarvik_set/set.star", "mics/*.mrc"}) {
        MicSet r;
        EXPECT_EQ(micset_open(what, &r), 4) << what;
        EXPECT_EQ(names(r), (std::vector<std::string>{"a.mrc", "b.mrc", "c.mrc", "0new.mrc"})) << what;
        EXPECT_EQ(statuses(r), (std::vector<std::string>{"kept", "rejected", "kept", "kept"})) << what;
        EXPECT_EQ(r.entries[0].picks, 2);
        EXPECT_EQ(r.boxSize, 48);
        EXPECT_EQ(r.shown, "b.mrc");
        ASSERT_TRUE(r.entries[2].hasCtf && !r.entries[0].hasCtf) << what;
        EXPECT_NEAR(r.entries[2].ctf.defocusU, -1.5f, 1e-5);
        EXPECT_NEAR(r.entries[2].ctf.defocusV, -1.3f, 1e-5);
        EXPECT_FLOAT_EQ(r.entries[2].ctfKv, 300);
        EXPECT_TRUE(r.notes.empty()) << r.notes[0];
        std::vector<Pick> picks;
        std::vector<float> fom;
        std::string why;
        ASSERT_EQ(micset_read_picks(r, r.entries[0], 48, 48, &picks, &fom, &why), 1);
        ASSERT_EQ(picks.size(), 2u);
        EXPECT_EQ(picks[1].x * 1000 + picks[1].y, 100005);
        EXPECT_EQ(fom, (std::vector<float>{kManualPickFom, 7.5f}));
    }
    // A pattern lists what it names; the other rows stay in set.star as they were.
    {
        MicSet r;
        EXPECT_EQ(micset_open("mics/[ab].mrc", &r), 2);
        EXPECT_EQ(names(r), (std::vector<std::string>{"a.mrc", "b.mrc"}));
        r.entries[0].status = MIC_REJECTED;
        ASSERT_EQ(micset_write_state(r), 1);
        MicSet all;
        micset_open("mics", &all);
        EXPECT_EQ(statuses(all), (std::vector<std::string>{"rejected", "rejected", "kept", "kept"}));
        EXPECT_TRUE(all.entries[2].hasCtf);
        all.entries[0].status = MIC_KEPT;
        micset_write_state(all);
    }
    // The order of set.star stands (moved by hand).
    std::string text = slurp("mics/tarvik_set/set.star");
    const size_t a = text.find("a.mrc kept"), c = text.find("c.mrc kept");
    text.replace(c, 12, "a.mrc kept 2");
    text.replace(a, 12, "c.mrc kept 0");
    spit("mics/tarvik_set/set.star", text);
    MicSet r;
    micset_open("mics", &r);
    EXPECT_EQ(names(r), (std::vector<std::string>{"c.mrc", "b.mrc", "a.mrc", "0new.mrc"}));
}

TEST(MicSet, FilesFromElsewhereAreReadLineByLineAndKeptAside) {
    Folder f;
    mkdir("mics/tarvik_set", 0777);
    const std::string set =
        "data_set\n_tarvikSetVersion 7\n_tarvikFuture yes\n\ndata_micrographs\nloop_\n_rlnMicrographName\n"
        "_tarvikStatus\n_tarvikNewColumn\nc.mrc rejected 1\nb.mrc maybe 2\na.mrc kept\nc.mrc kept 3\n";
    spit("mics/tarvik_set/set.star", set);
    const std::string ctfTable =
        "data_micrographs\nloop_\n_rlnMicrographName\n_rlnDefocusU\n_rlnDefocusV\na.mrc 15000 14000\n"
        "b.mrc lots 1\nc.mrc 20000 20000 9\n";
    spit("mics/tarvik_set/micrographs_ctf.star", ctfTable);
    spit("mics/tarvik_set/b_manualpick.star", "data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n1 x\n");
    MicSet s;
    EXPECT_EQ(micset_open("mics", &s), 3);
    // c keeps the status of its readable line; the others are back from the folder.
    EXPECT_EQ(names(s), (std::vector<std::string>{"c.mrc", "a.mrc", "b.mrc"}));
    EXPECT_EQ(statuses(s), (std::vector<std::string>{"rejected", "kept", "kept"}));
    EXPECT_TRUE(s.entries[1].hasCtf && !s.entries[0].hasCtf && !s.entries[2].hasCtf);
    EXPECT_EQ(s.entries[2].picks, -1);
    EXPECT_EQ(s.notes, (std::vector<std::string>{
                           "mics/tarvik_set/set.star line 12: 2 values for 3 columns (left out)",
                           "mics/tarvik_set/set.star: written by a newer version; read as far as this one knows",
                           "mics/tarvik_set/set.star line 11: status is neither kept nor rejected (left out)",
                           "mics/tarvik_set/set.star line 13: the micrograph is listed twice (left out)",
                           "mics/tarvik_set/micrographs_ctf.star line 8: 4 values for 3 columns (left out)",
                           "mics/tarvik_set/micrographs_ctf.star line 7: not a CTF row (left out)",
                           "mics/tarvik_set/b_manualpick.star line 5: coordinates are not pixel positions (the "
                           "picks of b.mrc are not shown; the file is kept)",
                       }));
    // Writing again keeps every file that was not read whole, byte for byte.
    ASSERT_EQ(micset_write_state(s), 1);
    ASSERT_EQ(micset_write_ctf(s, CtfEstimateParams()), 1);
    ASSERT_EQ(micset_write_picks(s, 2, {{1, 2, 3, 3}}, {kManualPickFom}), 1);
    EXPECT_EQ(slurp("mics/tarvik_set/set.star.unread"), set);
    EXPECT_EQ(slurp("mics/tarvik_set/micrographs_ctf.star.unread"), ctfTable);
    EXPECT_EQ(slurp("mics/tarvik_set/b_manualpick.star.unread"),
              "data_\nloop_\n_rlnCoordinateX\n_rlnCoordinateY\n1 x\n");
    EXPECT_EQ(s.entries[2].picks, 1);
    // Only once: the files now written are this version's own.
    ASSERT_EQ(micset_write_state(s), 1);
    EXPECT_EQ(access("mics/tarvik_set/set.star.unread.2", F_OK), -1);
    MicSet r;
    micset_open("mics", &r);
    EXPECT_TRUE(r.notes.empty());
    EXPECT_EQ(statuses(r), statuses(s));
    // A state file that is no table at all is kept too, and the set still opens.
    spit("mics/tarvik_set/set.star", std::string("\x7f"
                                                 "ELF\0\0garbage",
                                                 12));
    EXPECT_EQ(micset_open("mics", &r), 3);
    EXPECT_EQ(r.notes, (std::vector<std::string>{
                           "mics/tarvik_set/set.star line 1: not a line of text (too long, or binary) (left out)",
                           "mics/tarvik_set/set.star: no micrographs table"}));
    micset_write_state(r);
    EXPECT_EQ(slurp("mics/tarvik_set/set.star.unread.2").size(), 12u);
}

TEST(MicSet, ExportWritesKeptMicrographsWithCtfAndCoordinates) {
    Folder f;
    MicSet s;
    micset_open("mics", &s);
    s.boxSize = 32;
    s.entries[0].hasCtf = s.entries[1].hasCtf = true;
    s.entries[0].ctf = ctf(-1.25f, -1.0f, 45, 3.5f);
    s.entries[1].ctf = ctf(-2, -2, 0, 5);
    s.entries[1].status = MIC_REJECTED;  // left out
    // entries[2] has no CTF yet: counted, left out
    ASSERT_EQ(micset_write_picks(s, 0, {{0, 0, 32, 32}, {20, 10, 32, 32}}, {kManualPickFom, 3}), 1);
    CtfEstimateParams p;
    p.kv = 300;
    p.csMM = 2.7f;
    p.ac = 0.1f;
    MicExport ex;
    ASSERT_EQ(micset_export(s, "out", p, &ex), 1);
    EXPECT_EQ(ex.micrographs, 1);
    EXPECT_EQ(ex.coordinates, 1);
    EXPECT_EQ(ex.withoutCtf, 1);
    std::vector<CtfStarRow> rows;
    ASSERT_EQ(ctf_star_read("out/micrographs_ctf.star", &rows), 1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].micrograph, "mics/a.mrc");
    EXPECT_EQ(std::vector<float>({rows[0].estimate.defocusU, rows[0].kv, rows[0].ac}),
              std::vector<float>({-1.25f, 300, 0.1f}));
    EXPECT_EQ(column("out/coordinates.star", "_rlnMicrographCoordinates"),
              (std::vector<std::string>{"out/a_manualpick.star"}));
    EXPECT_EQ(column("out/a_manualpick.star", "_rlnCoordinateY"), (std::vector<std::string>{"16.000000", "26.000000"}));
    // RELION's own reader takes both tables, when it is installed.
    if (runCommand("command -v relion_star_printtable >/dev/null 2>&1") == 0) {
        std::string got;
        runCommand(
            "relion_star_printtable out/micrographs_ctf.star data_micrographs rlnMicrographName rlnDefocusU "
            "rlnVoltage 2>&1",
            &got);
        EXPECT_EQ(got, "mics/a.mrc 12500.00 300.00\n");
        runCommand("relion_star_printtable out/a_manualpick.star data_ rlnCoordinateX 2>&1", &got);
        EXPECT_EQ(got, "16.000000\n36.000000\n");
    }
}

TEST(MicSet, LinesOfTheList) {
    Folder f;
    MicSet s;
    micset_open("mics", &s);
    s.entries[0].picks = 12;
    s.entries[0].hasCtf = true;
    s.entries[0].ctf = ctf(-1.25f, -1.05f, 45, 3.456f);
    s.entries[1].status = MIC_REJECTED;
    s.entries[2].picks = -1;
    EXPECT_EQ(micset_line(s, 0), "   1 a.mrc                        12  -1.150  0.200    3.5  kept");
    EXPECT_EQ(micset_line(s, 1), "   2 b.mrc                         0                        rejected");
    EXPECT_EQ(micset_line(s, 2), "   3 c.mrc                         ?                        kept");
    EXPECT_EQ(micset_line(s, 3), "");
}

TEST(MrcPeek, HeaderChecksWithoutTheValues) {
    TempDir t(true);
    writeMic("ok.mrc", 40, 30, 2.5f);
    writeMic("nopix.mrc", 40, 30);
    std::string b = slurp("ok.mrc");
    auto variant = [&](const char* name, std::initializer_list<std::pair<size_t, int>> w, size_t cut = 0) {
        std::string v = b;
        setWords(v, w);
        spit(name, v.substr(0, v.size() - cut));
    };
    variant("mode9.mrc", {{12, 9}});
    variant("fft.mrc", {{12, 4}});
    variant("vol.mrc", {{8, 3}});
    variant("huge.mrc", {{0, 1 << 30}, {4, 1 << 30}});
    variant("short.mrc", {}, 4);
    spit("tiny.mrc", "MRC");
    struct Case {
        const char* file;
        int ok;
        const char* why;
        float pixel = 0;
    } cases[] = {
        {"ok.mrc", 1, "", 2.5f},
        {"nopix.mrc", 1, ""},
        {"mode9.mrc", 0, "Bad MRC file"},
        {"fft.mrc", 0, "a Fourier transform, not a micrograph"},
        {"vol.mrc", 0, "not a 2-D image"},
        {"huge.mrc", 0, "Bad MRC file"},
        {"short.mrc", 0, "truncated (5820 of 5824 bytes)"},
        {"tiny.mrc", 0, "not an MRC file (shorter than its header)"},
        {"none.mrc", 0, "cannot open"},
    };
    for (const Case& c : cases) {
        MrcInfo info;
        std::string why;
        EXPECT_EQ(mrc_peek(c.file, &info, &why), c.ok) << c.file;
        EXPECT_EQ(why, c.why) << c.file;
        EXPECT_TRUE(!c.ok || (info.nx == 40 && info.ny == 30 && info.pixel == c.pixel)) << c.file;
    }
}

TEST(MrcRead, GivenScaleLeavesThePreferencesAlone) {
    TempDir t(true);
    writeMic("nopix.mrc", 40, 30);
    writeMic("pix.mrc", 40, 30, 2.5f);
    clearenv2();
    ScanScale sc{50, 20};
    MRCData a(sc.mag, sc.pixres()), b(sc.mag, sc.pixres());
    ASSERT_EQ(a.readMRCData("nopix.mrc", sc), 1);
    ASSERT_EQ(b.readMRCData("pix.mrc", sc), 1);
    EXPECT_EQ(envcount(), 0);  // nothing read or stored
    EXPECT_FLOAT_EQ(a.Mag(), 50);
    EXPECT_FLOAT_EQ(a.Pixres(), 4);  // 10 x 20 / 50
    EXPECT_FLOAT_EQ(b.Pixres(), 2.5f);
    EXPECT_FLOAT_EQ(b.Mag(), 80);  // 10 x 20 / 2.5
}

TEST(Star, SkippingReadsTheOtherLines) {
    const char raw[] = "data_\nloop_\n_a\n_b\n1 2\n3\n'4 5\n6 7\n\x01\x02\x00x 8\n9 10 11\n12 13\n";
    const std::string text(raw, sizeof raw - 1);
    StarFile st;
    std::string why;
    std::vector<StarSkip> skips;
    ASSERT_EQ(parseStar(text.data(), text.size(), &st, &why, &skips), 1);
    EXPECT_EQ(st.tables[0].rows, (std::vector<std::vector<std::string>>{{"1", "2"}, {"6", "7"}, {"12", "13"}}));
    EXPECT_EQ(st.tables[0].lines, (std::vector<int>{5, 8, 11}));
    std::vector<std::string> got;
    for (auto& k : skips) got.push_back(std::to_string(k.line) + " " + k.why);
    EXPECT_EQ(got,
              (std::vector<std::string>{"6 1 values for 2 columns", "7 unterminated quote",
                                        "9 not a line of text (too long, or binary)", "10 3 values for 2 columns"}));
    // A file of nothing but bad lines is no table.
    std::string junk;
    for (int i = 0; i < 10001; i++) junk += "data_\nloop_\n_a\n1 2\n";
    skips.clear();
    EXPECT_EQ(parseStar(junk.data(), junk.size(), &st, &why, &skips), 0);
    EXPECT_EQ(why, "line 40004: too many unreadable lines");
}
