// tarvik-proc info, convert and boxes, run as the real program; readAnyFile's choices.
#include <sys/stat.h>

#include <algorithm>

#include "tests/core/testutil.h"

namespace {

std::string q(const std::string& s) {
    return "'" + s + "'";
}
// Runs tarvik-proc with the arguments (standard error dropped unless they redirect it).
int tarvikProc(const std::string& args, std::string* out = nullptr) {
    bool err = args.find(" 2>") != std::string::npos;
    return runCommand(q(TARVIK_PROC) + " " + args + (err ? "" : " 2>/dev/null"), out);
}
int convert(const std::string& from, const std::string& to, const std::string& extra = "") {
    return tarvikProc("convert " + q(from) + " " + q(to) + extra);
}
// Every image of a file, as the tool reads it.
struct Read : ReadSets {
    explicit Read(const std::string& f) : ReadSets(readAnyFile, f) {}
};
bool sameData(MRCData* a, MRCData* b) {
    return a->xSize() == b->xSize() && a->ySize() == b->ySize() &&
           std::memcmp(a->getRealData(), b->getRealData(), 4 * a->xSize() * a->ySize()) == 0;
}

TEST(ProcFormats, FormatsByNameAndContentAndConvertThroughEveryFormat) {
    TempDir t;
    // Formats by name and by content.
    const std::pair<const char*, const char*> names[] = {
        {"a.spi", "spider"}, {"a.DAT", "spider"}, {"a.hed", "imagic"}, {"dir.x/a.pif", "pif"},
        {"a.pgm", "pgm"},    {"a.map", "mrc"},    {"a_001.img", "mrc"}};
    for (auto& n : names) EXPECT_EQ(n.second, formatForName(n.first)) << n.first;
    // A SPIDER file is known by its header whatever its name; an IMAGIC pair by either member.
    spit(t.file("noext"), slurp(dataFile("spider/img_64x48.spi")));
    EXPECT_EQ(0, mismatches(Read(t.file("noext"))[0], 64, 48, patternF32));
    EXPECT_EQ(0, mismatches(Read(dataFile("selfmade/img_64x48_le.img"))[0], 64, 48,
                            [](int x, int y) { return patternF32(x, 47 - y); }));
    Read gif(dataFile("netpbm/pattern_u8_64x48.gif"));
    ASSERT_EQ(1, gif.n());
    EXPECT_EQ(64, gif[0]->xSize());
    // convert through every format
    const std::string src = dataFile("spider/img_64x48.spi");
    ASSERT_EQ(0, convert(src, t.file("a.mrc")));
    ASSERT_EQ(0, convert(t.file("a.mrc"), t.file("b.DAT")));
    ASSERT_EQ(0, convert(t.file("b.DAT"), t.file("s.hed")));
    ASSERT_EQ(0, convert(src, t.file("s.hed")));  // appends
    ASSERT_EQ(0, convert(t.file("s.hed"), t.file("p.pif")));
    ASSERT_EQ(0, convert(t.file("p.pif"), t.file("c.mrc"), " --index 1"));
    ASSERT_NE(0, convert(t.file("s.hed"), t.file("d.mrc")));  // two images
    ASSERT_EQ(0, convert(src, t.file("x.bin"), " --to pgm"));
    Read orig(src), stack(t.file("s.img")), pif(t.file("p.pif")), last(t.file("c.mrc")), pgm(t.file("x.bin"));
    ASSERT_TRUE(orig.l && last.l && pgm.l);
    ASSERT_EQ(2, stack.n());
    ASSERT_EQ(2, pif.n());
    for (int k = 0; k < 2; k++) EXPECT_TRUE(sameData(orig[0], stack[k]));
    const double step = (orig[0]->Max() - orig[0]->Min()) / 536870912.0;
    EXPECT_EQ(0, mismatches(
                     last[0], 64, 48, [&](int x, int y) { return orig[0]->valueAt(x, y); }, step));
    EXPECT_EQ(64, pgm[0]->xSize());
    // 16-bit output as they are, or rescaled to 0..4095.
    const std::string in = dataFile("mrc/mode1_le.mrc");
    ASSERT_EQ(0, convert(in, t.file("r.mrc"), " --short-raw"));
    ASSERT_EQ(0, convert(in, t.file("s.mrc"), " --short"));
    Read1 m1(&MRCData::readMRCData, in), raw(&MRCData::readMRCData, t.file("r.mrc")),
        scaled(&MRCData::readMRCData, t.file("s.mrc"));
    EXPECT_EQ(raw.d.MRCHed()->mode, 1);
    EXPECT_TRUE(sameData(&raw.d, &m1.d));
    EXPECT_EQ(scaled.d.Min(), 0);
    EXPECT_TRUE(scaled.d.Max() >= 4094 && scaled.d.Max() <= 4095) << scaled.d.Max();
}

TEST(ProcFormats, BoxesCutsEveryBoxAndParticleStacksInInfoAndConvert) {
    TempDir t;
    MRCData m;
    auto v = [](int x, int y) { return (float)(y * 100 + x); };
    makeReal(m, 100, 80, v);
    ASSERT_EQ(1, m.writeMRCData(t.file("mic.mrc").c_str(), 0));
    spit(t.file("mic.db"),
         "!!! I.C.E. Datbase File !!!\n\n!!! Boxmrc Cutouts !!!\n10 20 16 8 0 0 0 0 0 0 2 mic_001.img\n"
         "30 20 30 40 0 4 0 0 0 0 2 mic_002.img\n95 75 16 16 0 0 0 0 0 0 2 mic_003.img\n\n!!! Real Images !!!\n");
    mkdir(t.file("out").c_str(), 0700);
    std::string out;
    ASSERT_EQ(0,
              tarvikProc("boxes " + q(t.file("mic.mrc")) + " " + q(t.file("mic.db")) + " " + q(t.file("out")), &out));
    EXPECT_EQ("mic_001.img\t16x8\tmic_001.img\nmic_002.img\t4x21\tmic_002.img\nmic_003.img\t16x16\tmic_003.img\n", out);
    Read a(t.file("out/mic_001.img")), b(t.file("out/mic_002.img")), c(t.file("out/mic_003.img"));
    ASSERT_TRUE(a.l && b.l && c.l);
    EXPECT_EQ(0, mismatches(a[0], 16, 8, [&](int x, int y) { return v(10 + x, 20 + y); }));
    // A vertical filament: the axis becomes y, the columns run across it.
    EXPECT_EQ(0, mismatches(b[0], 4, 21, [&](int x, int y) { return v(28 + x, 20 + y); }));
    // A box over the edge is moved inside the image.
    EXPECT_EQ(0, mismatches(c[0], 16, 16, [&](int x, int y) { return v(84 + x, 64 + y); }));
    // Particle stacks in info and convert.
    const std::string stack = dataFile("mrc/particles_24x20x5.mrcs");
    std::string info, want, got;
    ASSERT_EQ(0, tarvikProc("info " + q(stack), &info));
    // Each section by its index from 0 (as --index counts) and its RELION name from 1.
    for (int i = 0; i < 5; i++)
        want += stack + "[" + std::to_string(i) + "] " + std::to_string(i + 1) + "@" + stack + "  24x20  real";
    for (size_t b = 0, e; (e = info.find('\n', b)) != std::string::npos; b = e + 1)
        got += info.substr(b, info.find("  Min", b) - b);  // each line up to its statistics
    EXPECT_EQ(want, got);
    ASSERT_EQ(0, tarvikProc("info --json " + q(stack), &info));
    EXPECT_EQ(info.rfind("{\"file\": \"" + stack + "[0]\", \"image\": \"1@" + stack + "\", \"nx\": 24,", 0), 0u)
        << info;
    ASSERT_EQ(0, convert(stack, t.file("s3.mrc"), " --index 3"));
    ASSERT_EQ(0, convert(stack, t.file("copy.mrcs")));
    ASSERT_NE(0, convert(stack, t.file("one.mrc")));
    EXPECT_NE(0, access(t.file("one.mrc").c_str(), F_OK));
    Read orig(stack), s3(t.file("s3.mrc")), copy(t.file("copy.mrcs"));
    ASSERT_EQ(1, s3.n());
    ASSERT_EQ(5, copy.n());
    EXPECT_TRUE(sameData(orig[3], s3[0]));
    for (int k = 0; k < 5; k++) {
        EXPECT_TRUE(sameData(orig[k], copy[k])) << k;
        EXPECT_FLOAT_EQ(orig[k]->Pixres(), copy[k]->Pixres());
    }
}

TEST(ProcFormats, MrcfileAcceptsWhatIsWrittenAndReadsItsPixelSize) {
    // The peer library that Python users open MRC files with (python3-mrcfile, installed by scripts/setup).
    std::string py = "/usr/bin/python3";
    if (runCommand(py + " -c 'import mrcfile' 2>/dev/null") != 0) py = "python3";
    if (runCommand(py + " -c 'import mrcfile' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3 with mrcfile is not installed";
    TempDir t;
    MRCData synth;
    makeReal(synth, 40, 30,
             [](int x, int y) { return std::sin(0.01f * (float)((y * 40 + x) * (y * 40 + x) % 997)) * 50; });
    synth.setPixres(1.7f);
    ASSERT_EQ(1, synth.writeMRCData(t.file("synth.mrc").c_str(), 0));
    ASSERT_EQ(0, convert(dataFile("spider/img_64x48.spi"), t.file("spi.mrc"), " --pixel 2.25"));
    ASSERT_EQ(0, convert(dataFile("netpbm/ramp_lr_64x48.pgm"), t.file("pgm.mrc")));
    ASSERT_EQ(0, convert(dataFile("mrc/particles_24x20x5.mrcs"), t.file("s.mrcs")));
    spit(t.file("check.py"),
         "import mrcfile, sys\n"
         "for f in sys.argv[1:]:\n"
         "    ok = mrcfile.validate(f, print_file=sys.stderr)\n"
         "    with mrcfile.open(f) as m:\n"
         "        print('%d %.4f %d %d' % (ok, m.voxel_size.x, m.is_image_stack(), m.data.shape[0]))\n");
    std::string out;
    ASSERT_EQ(0, runCommand(py + " " + q(t.file("check.py")) + " " + q(t.file("synth.mrc")) + " " +
                                q(t.file("spi.mrc")) + " " + q(t.file("pgm.mrc")) + " " + q(t.file("s.mrcs")),
                            &out));
    // Files without a recorded pixel size carry the preferences' 25 / 30 x 10 A.
    EXPECT_EQ("1 1.7000 0 30\n1 2.2500 0 48\n1 8.3333 0 48\n1 1.3400 1 5\n", out);
}

TEST(ProcFiles, InfoAndConvertSucceedQuietlyOrFailWithTheReadersMessage) {
    TempDir t;  // an empty HOME: no preference file
    std::string in = dataFile("mrc/mode2_le.mrc"), err = t.file("err"), out;
    ASSERT_EQ(tarvikProc("info " + q(in) + " 2>" + q(err), &out), 0);
    EXPECT_EQ(out.rfind(in + "  64x48  real  Min -322.77  Max 678.93  Mean ", 0), 0u) << out;
    for (const char* k : {"Sigma", "EdgeMean", "EdgeSigma", "RenMin", "RenMax"})
        EXPECT_NE(out.find(k), std::string::npos);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_EQ(slurp(err), "");
    ASSERT_EQ(tarvikProc("info --verbose " + q(in) + " 2>" + q(err), &out), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    EXPECT_NE(slurp(err).find("No environment file"), std::string::npos);
    EXPECT_NE(slurp(err).find(in + " is a"), std::string::npos);
    ASSERT_EQ(tarvikProc("info --json " + q(in) + " " + q(dataFile("mrc/mode4_le.mrc")), &out), 0);
    size_t nl = out.find('\n');
    ASSERT_NE(nl, std::string::npos);
    std::string first = out.substr(0, nl), second = out.substr(nl + 1);
    EXPECT_EQ(
        first.rfind("{\"file\": \"" + in + "\", \"nx\": 64, \"ny\": 48, \"complex\": false, \"Min\": -322.769989", 0),
        0u)
        << first;
    for (const char* k : {"Max", "Mean", "Sigma", "EdgeMean", "EdgeSigma", "RenMin", "RenMax"})
        EXPECT_NE(first.find("\"" + std::string(k) + "\": "), std::string::npos) << k;
    EXPECT_NE(second.find("\"complex\": true"), std::string::npos);
    EXPECT_EQ(first.back(), '}');
    // Failures exit non-zero with the reader's message and leave no output.
    std::string o = t.file("o.mrc");
    EXPECT_NE(tarvikProc("convert " + q(dataFile("mrc/mode6_le.mrc")) + " " + q(o) + " 2>" + q(err)), 0);
    EXPECT_NE(slurp(err).find("Bad MRC file\n"), std::string::npos);
    EXPECT_NE(slurp(err).find("tarvik-proc: cannot read"), std::string::npos);
    EXPECT_EQ(access(o.c_str(), F_OK), -1);
    for (const char* bad : {"frobnicate", "convert onlyone", "info --nope x"}) EXPECT_EQ(tarvikProc(bad), 2) << bad;
}

// Every command's write that fails (a missing folder, a full disk) ends with status 1 and says so,
// and leaves nothing behind.
TEST(ProcFiles, AFailedWriteFailsTheCommand) {
    TempDir t;
    const std::string in = q(dataFile("mrc/mode2_le.mrc")), out = t.file("out");
    spit(t.file("mic.db"), "!!! I.C.E. Datbase File !!!\n\n!!! Boxmrc Cutouts !!!\n10 20 16 8 0 0 0 0 0 0 2 a.img\n\n");
    mkdir(out.c_str(), 0700);
    const std::string commands[] = {
        "fft " + in + " " + q(t.file("no/f.mrc")),
        "flip " + in + " " + q(t.file("no/f.mrc")),
        "convert " + in + " " + q(t.file("no/f.mrc")) + " --index 0",
        "picks " + q(t.file("mic.db")) + " " + q(t.file("no/p.star")),
        "picks " + q(t.file("mic.db")) + " " + q(t.file("no/p.db")),
        "ulimit -f 1; " + q(TARVIK_PROC) + " flip " + in + " " + q(t.file("out/f.mrc")),
        "ulimit -f 1; " + q(TARVIK_PROC) + " boxes " + in + " " + q(t.file("mic.db")) + " " + q(out)};
    for (const std::string& c : commands) {
        const std::string cmd = c.rfind("ulimit", 0) == 0 ? c : q(TARVIK_PROC) + " " + c;
        EXPECT_EQ(runCommand(cmd + " 2>" + q(t.file("err"))), 1) << c;
        EXPECT_NE(slurp(t.file("err")).find("tarvik-proc: cannot write "), std::string::npos) << c;
    }
    EXPECT_EQ(dirEntries(out).size(), 0u);
}

// "--name" as a whole option in text (not the front of "--name-more").
bool mentions(const std::string& text, const std::string& opt) {
    for (size_t at = text.find(opt); at != std::string::npos; at = text.find(opt, at + 1)) {
        const char next = at + opt.size() < text.size() ? text[at + opt.size()] : ' ';
        if (!std::isalnum((unsigned char)next) && next != '-' && next != '_') return true;
    }
    return false;
}

// The README's command list is the one --help prints, and each usage line names every
// option the command accepts, and accepts every option it names.
TEST(ProcFiles, ReadmeListsEveryCommandAsHelpDoes) {
    std::string help, readme = slurp(dataFile("../../README.md")), line;
    ASSERT_EQ(tarvikProc("--help", &help), 0);
    ASSERT_NE(help.find("commands:\n"), std::string::npos);
    std::istringstream in(help.substr(help.find("commands:\n") + 10));
    int commands = 0;
    while (std::getline(in, line) && !line.empty()) {
        if (line.size() < 3 || line[2] == ' ' || line.compare(0, 2, "  ") != 0) continue;
        // "  NAME           USAGE": README shows "build/tarvik-proc NAME USAGE".
        std::istringstream w(line);
        std::string name, rest, own;
        std::getline(w >> name >> std::ws, rest);
        std::string shown = "build/tarvik-proc " + name + (rest.empty() ? "" : " " + rest) + "\n";
        EXPECT_NE(readme.find(shown), std::string::npos) << shown;
        commands++;
        // What the parser takes, as the command's own --help says: "options: --a --b ... --verbose --help".
        ASSERT_EQ(tarvikProc(name + " --help", &own), 0) << name;
        ASSERT_NE(own.find("\noptions:"), std::string::npos) << own;
        std::istringstream opts(own.substr(own.find("\noptions:") + 9));
        std::vector<std::string> accepted;
        for (std::string o; opts >> o;)
            if (o != "--verbose" && o != "--help") accepted.push_back(o);
        for (const std::string& o : accepted) EXPECT_TRUE(mentions(rest, o)) << name << " does not show " << o;
        std::istringstream words(rest);
        for (std::string word; words >> word;) {
            for (size_t at = word.find("--"); at != std::string::npos; at = word.find("--", at + 2)) {
                const std::string o = word.substr(at, word.find_first_of("]|= ", at) - at);
                EXPECT_NE(std::find(accepted.begin(), accepted.end(), o), accepted.end()) << name << " shows " << o;
            }
        }
    }
    EXPECT_GE(commands, 5);
}

}  // namespace
