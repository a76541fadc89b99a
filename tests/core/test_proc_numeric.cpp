// tarvik-proc's Fourier, filter, mask, average, alignment and wavelet commands, end to end.

#include "tests/core/numeric_testutil.h"

namespace {

class ProcNumeric : public testing::Test {
protected:
    TempDir tmp{true};
    int run(const std::string& args, std::string* out = nullptr) { return runProc(tmp.path, args, out); }
    std::string err() { return slurp("stderr.txt"); }
    // Noise of mean 3 and values 1..5.
    void writeNoise(const char* f, int nx, int ny, unsigned seed) {
        auto v = noiseValues((size_t)nx * ny, seed);
        for (auto& x : v) x = 3 + 2 * x;
        writeMrc(realData(v, nx, ny).get(), f);
    }
    // The shift (or angle) that align (or rcf) prints on its last line.
    std::vector<float> lastNumbers(const std::string& args) {
        std::string out;
        EXPECT_EQ(run(args, &out), 0) << args;
        std::istringstream last(out.substr(out.rfind('\n', out.size() - 2) + 1));
        std::vector<float> v;
        for (float x; last >> x;) v.push_back(x);
        return v;
    }
};

}  // namespace

// Every command here is run below; that --help lists them is tested against the README.
TEST_F(ProcNumeric, FFTWritesModeFourAndIFTRestores) {
    writeNoise("a.mrc", 64, 48, 1);
    writeNoise("odd.mrc", 46, 8, 2);
    EXPECT_EQ(run("fft a.mrc f.mrc"), 0);
    EXPECT_EQ(slurp("f.mrc").substr(12, 4), std::string("\4\0\0\0", 4));  // MRC mode 4: complex floats
    Data f = readMrc("f.mrc");
    EXPECT_EQ(std::vector<int>({f->isComplex(), f->xSize()}), std::vector<int>({1, 66}));
    EXPECT_EQ(run("ift f.mrc b.mrc"), 0);
    Data a = readMrc("a.mrc"), b = readMrc("b.mrc");
    EXPECT_EQ(b->xSize(), 64);
    // The MRC reader scales complex amplitudes by ySize*zSize/xSize (48/66
    // here), so the image comes back scaled by that factor.
    for (long i = 0; i < 64 * 48; i++) b->getRealData()[i] *= 66.0f / 48.0f;
    EXPECT_LT(relRms(a.get(), b.get()), 1e-5);
    // Refusals give a failure status and write nothing.
    for (const char* args : {"fft odd.mrc x.mrc", "ift a.mrc x.mrc", "fft f.mrc x.mrc"})
        EXPECT_EQ(run(args), 1) << args;
    EXPECT_NE(access("x.mrc", F_OK), 0);
}

TEST_F(ProcNumeric, NormalizeFlipPadMaskFilterAndAverages) {
    writeNoise("a.mrc", 40, 30, 3);
    writeNoise("s.mrc", 64, 64, 4);
    writeNoise("b.mrc", 40, 30, 6);
    writeNoise("c.mrc", 38, 30, 7);
    for (const char* args :
         {"normalize a.mrc n.mrc", "normalize a.mrc e.mrc --edge", "flip a.mrc v.mrc", "pad a.mrc p.mrc 48 36",
          "pad a.mrc q.mrc 48 36 --noise", "mask a.mrc m.mrc --type 0 --radius 10", "filter s.mrc g.mrc 20 --pixel 2",
          "filter s.mrc h.mrc 20,100 --pixel 2", "filter s.mrc z.mrc 0", "filter s.mrc i.mrc -20 --pixel 2",
          "average avg.mrc a.mrc b.mrc", "fft-average fa.mrc a.mrc b.mrc"})
        EXPECT_EQ(run(args), 0) << args;
    for (const char* args : {"pad a.mrc r.mrc 20 36", "pad a.mrc r.mrc x 36", "filter s.mrc y.mrc nonsense",
                             "average bad.mrc a.mrc c.mrc"})
        EXPECT_EQ(run(args), 1) << args;
    Data a = readMrc("a.mrc"), n = readMrc("n.mrc"), p = readMrc("p.mrc"), m = readMrc("m.mrc");
    // Normalized: mean 0 and sigma 1, or edge mean 0.
    EXPECT_LT(std::fabs(n->Mean()) + std::fabs(n->Sigma() - 1) + std::fabs(readMrc("e.mrc")->EdgeMean()), 1e-4);
    EXPECT_EQ(readMrc("v.mrc")->getRealData()[0], a->getRealData()[29 * 40]);
    EXPECT_EQ(std::vector<float>({(float)p->xSize(), (float)p->ySize(), p->getRealData()[3 * 48 + 4]}),
              std::vector<float>({48, 36, a->getRealData()[0]}));
    EXPECT_FLOAT_EQ(p->getRealData()[0], a->Mean());
    Data q = readMrc("q.mrc");
    EXPECT_NE(q->getRealData()[0], q->getRealData()[1]);
    EXPECT_FLOAT_EQ(m->getRealData()[0], a->Mean());
    EXPECT_EQ(m->getRealData()[15 * 40 + 20], a->getRealData()[15 * 40 + 20]);
    // Low-pass keeps the origin, a high-pass cut removes it, 0 does nothing, -20 sharpens.
    Data s = readMrc("s.mrc"), g = readMrc("g.mrc");
    EXPECT_EQ(g->xSize(), 64);
    EXPECT_LT(g->Sigma(), 0.5 * s->Sigma());
    EXPECT_NEAR(g->Mean(), s->Mean(), 1e-3);
    EXPECT_NEAR(readMrc("h.mrc")->Mean(), 0, 1e-3);
    EXPECT_EQ(relRms(s.get(), readMrc("z.mrc").get()), 0);
    EXPECT_GT(readMrc("i.mrc")->Sigma(), s->Sigma());
    Data b = readMrc("b.mrc"), avg = readMrc("avg.mrc"), fa = readMrc("fa.mrc");
    EXPECT_FLOAT_EQ(avg->getRealData()[7], (a->getRealData()[7] + b->getRealData()[7]) / 2);
    EXPECT_EQ(std::vector<int>({fa->isComplex(), fa->xSize()}), std::vector<int>({1, 42}));
}

// Memory running out in the middle of a command ends the command, with its message and a
// failure status, not the tool with a core dump. (The sanitizers reserve more address space
// than the limit allows.)
TEST_F(ProcNumeric, RunningOutOfMemoryFailsTheCommandWithAMessage) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "address limit and AddressSanitizer do not mix";
#endif
    writeNoise("a.mrc", 40, 30, 3);
    EXPECT_EQ(runCommand("cd '" + tmp.path +
                         "' && ulimit -v 1000000 && '" TARVIK_PROC "' pad a.mrc big.mrc 30000 30000 2>stderr.txt"),
              1);
    const std::string e = err();
    EXPECT_EQ(e.substr(e.rfind('\n', e.size() - 2) + 1), "tarvik-proc: out of memory\n") << e;
    EXPECT_NE(access("big.mrc", F_OK), 0);
}

TEST_F(ProcNumeric, CorrelationAlignmentAndRotation) {
    const Blobs beads{12, 0.7f, false};
    writeMrc(blobImage(128, 0, 0, 0, beads).get(), "a.mrc");
    writeMrc(blobImage(128, 2.5f, -1.5f, 0, beads).get(), "b.mrc");
    writeMrc(blobImage(128, 0, 0, 0).get(), "d.mrc");
    writeMrc(blobImage(128, 0, 0, 10).get(), "r.mrc");
    writeNoise("s.mrc", 64, 64, 8);
    auto near = [](std::vector<float> got, std::vector<float> want) {
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < got.size(); i++) EXPECT_NEAR(got[i], want[i], want.size() == 1 ? 0.5 : 0.1) << i;
    };
    near(lastNumbers("align b.mrc a.mrc"), {2.5f, -1.5f});
    EXPECT_EQ(run("ccf b.mrc a.mrc c.mrc"), 0);
    EXPECT_EQ(readMrc("c.mrc")->xSize(), 128);
    // rotate moves the content: align then finds the move.
    EXPECT_EQ(run("rotate a.mrc m.mrc --angle 0 --shift 5,-3"), 0);
    near(lastNumbers("align m.mrc a.mrc"), {5, -3});
    near(lastNumbers("rcf d.mrc r.mrc"), {-10});
    EXPECT_EQ(access("test.rcf.dat", F_OK), 0);
    for (const char* args : {"align a.mrc s.mrc", "ccf a.mrc s.mrc x.mrc", "rotate a.mrc x.mrc --shift 5"})
        EXPECT_EQ(run(args), 1) << args;
}

// Test images by label, subtraction, amplitude smoothing and a user function
// for scripts.
TEST_F(ProcNumeric, TestImageSubtractSmoothAndUserFunction) {
    ASSERT_EQ(run("test-image Pixels px.mrc"), 0);
    Data p = readMrc("px.mrc");
    ASSERT_EQ(p->xSize(), 512);
    EXPECT_EQ(std::vector<float>({p->valueAt(0, 1), p->valueAt(1, 1)}), std::vector<float>({256, 2}));
    EXPECT_EQ(run("test-image 'Sin(z)' z.mrc"), 1);
    EXPECT_NE(err().find("\"Gauss x Slip\""), std::string::npos);
    ASSERT_EQ(run("test-image 'Sin(x+y)' s.mrc"), 0);
    ASSERT_EQ(run("subtract s.mrc px.mrc d.mrc"), 0);
    Data s = readMrc("s.mrc"), d = readMrc("d.mrc");
    EXPECT_NEAR(s->valueAt(16, 0), 1, 1e-6);
    EXPECT_NEAR(d->valueAt(16, 0), 1 - (255 - 16 + 255), 1e-4);
    EXPECT_EQ(run("smooth s.mrc x.mrc"), 1);
    EXPECT_NE(err().find("SmoothAmp() is only for complex data"), std::string::npos);
    ASSERT_EQ(run("fft s.mrc f.mrc"), 0);
    ASSERT_EQ(run("smooth f.mrc sm.mrc"), 0);
    EXPECT_TRUE(readMrc("sm.mrc")->isComplex());
    // A cat-like function of the user's file gives the image back unchanged.
    spit(".tvufn", "Copy it\ncat\n\n\n\n1 1 1 1\n");
    ASSERT_EQ(run("user 'Copy it' px.mrc u.mrc"), 0);
    EXPECT_EQ(relRms(p.get(), readMrc("u.mrc").get()), 0);
    EXPECT_EQ(run("user Nope px.mrc u2.mrc"), 1);
    spit(".tvufn", "Fails\nfalse\n\n\n\n1 1 1 2\n");
    EXPECT_EQ(run("user Fails px.mrc u3.mrc"), 1);
    EXPECT_NE(access("u3.mrc", F_OK), 0);
}

TEST_F(ProcNumeric, DwtIwtAndWaveletFilterMatchTheLibraryAndRefuse) {
    writeNoise("in.mrc", 64, 64, 31);
    writeNoise("wide.mrc", 256, 128, 33);
    ASSERT_EQ(run("dwt in.mrc t.mrc --basis 4 --levels 3"), 0) << err();
    Data in = readMrc("in.mrc"), t = readMrc("t.mrc"), ref = readMrc("in.mrc");
    ASSERT_EQ(ref->doDWT(4, 3), 1);
    EXPECT_EQ(relRms(ref.get(), t.get()), 0);
    ASSERT_EQ(run("iwt t.mrc back.mrc --basis 4 --levels 3"), 0);
    EXPECT_LT(relRms(in.get(), readMrc("back.mrc").get()), 1e-4);
    // The filter with gain 0 is the identity; the default gains shrink noise.
    ASSERT_EQ(run("wavelet-filter in.mrc f0.mrc --gain 0"), 0);
    EXPECT_LT(relRms(in.get(), readMrc("f0.mrc").get()), 1e-4);
    ASSERT_EQ(run("wavelet-filter in.mrc f.mrc --basis 0 --levels 2"), 0);
    EXPECT_LT(readMrc("f.mrc")->Sigma(), in->Sigma());
    // Refusals: status 1, the reason on standard error, no file.
    EXPECT_EQ(run("dwt wide.mrc o.mrc --basis 4"), 1);
    EXPECT_NE(err().find("Error: Low pass subband is too small"), std::string::npos);
    EXPECT_NE(access("o.mrc", F_OK), 0);
    EXPECT_EQ(run("dwt wide.mrc o.mrc --basis 1"), 0);
    EXPECT_EQ(run("dwt wide.mrc o.mrc --basis 15"), 1);
    EXPECT_NE(err().find("bad --basis value 15"), std::string::npos);
    EXPECT_EQ(run("wavelet-filter wide.mrc o.mrc --gain x"), 1);
}
