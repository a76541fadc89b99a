// tarvik-proc's Fourier, filter, mask, average and alignment commands, end to end.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "tests/core/testutil.h"

namespace {

using Data = std::unique_ptr<MRCData>;

class ProcNumeric : public testing::Test {
protected:
    TempDir tmp;
    std::string dir = tmp.path;
    std::string path(const std::string& f) const { return dir + "/" + f; }

    // Runs tarvik-proc in the temporary folder; returns the exit status and standard output.
    int run(const std::string& args, std::string* out = nullptr) {
        std::string cmd = "cd '" + dir + "' && HOME='" + dir + "' '" TARVIK_PROC "' " + args + " 2>stderr.txt";
        return runCommand(cmd, out);
    }
    std::string lastLine(const std::string& s) {
        std::string t = s;
        while (!t.empty() && t.back() == '\n') t.pop_back();
        size_t nl = t.rfind('\n');
        return nl == std::string::npos ? t : t.substr(nl + 1);
    }
    Data read(const std::string& f) {
        Data d(new MRCData());
        testing::internal::CaptureStdout();
        int ok = d->readMRCData(path(f).c_str());
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(ok, 1) << f;
        return d;
    }
    // Sparse bright spots, moved by (dx, dy) and rotated by angle about the centre.
    void writeSpots(const std::string& f, int n, float dx, float dy, float angle, int count = 12, float sigma = 0.7f) {
        std::mt19937 g(5);
        std::uniform_real_distribution<float> pos(14, n - 15);
        std::vector<float> v((size_t)n * n, 0.0f);
        const double c = (n - 1) / 2.0, t = angle * M_PI / 180;
        for (int i = 0; i < count; i++) {
            double px = pos(g), py = pos(g);
            double bx = c + std::cos(t) * (px - c) - std::sin(t) * (py - c) + dx;
            double by = c + std::sin(t) * (px - c) + std::cos(t) * (py - c) + dy;
            for (int y = 0; y < n; y++)
                for (int x = 0; x < n; x++)
                    v[(size_t)y * n + x] +=
                        (float)std::exp(-((x - bx) * (x - bx) + (y - by) * (y - by)) / (2 * sigma * sigma));
        }
        MRCData d;
        d.setRealData(v.data(), n, n, 1);
        testing::internal::CaptureStdout();
        EXPECT_EQ(d.writeMRCData(path(f).c_str(), 0), 1);
        testing::internal::GetCapturedStdout();
    }
    void writeNoise(const std::string& f, int nx, int ny, unsigned seed) {
        std::mt19937 g(seed);
        std::normal_distribution<float> u(3, 2);
        std::vector<float> v((size_t)nx * ny);
        for (auto& x : v) x = u(g);
        MRCData d;
        d.setRealData(v.data(), nx, ny, 1);
        testing::internal::CaptureStdout();
        EXPECT_EQ(d.writeMRCData(path(f).c_str(), 0), 1);
        testing::internal::GetCapturedStdout();
    }
};

double rmsDiff(MRCData* a, MRCData* b) {
    double e = 0, t = 0;
    for (long i = 0; i < (long)a->xSize() * a->ySize(); i++) {
        double d = a->getRealData()[i] - b->getRealData()[i];
        e += d * d;
        t += (double)b->getRealData()[i] * b->getRealData()[i];
    }
    return std::sqrt(e / t);
}

}  // namespace

TEST_F(ProcNumeric, HelpListsTheCommands) {
    std::string out;
    EXPECT_EQ(run("--help", &out), 0);
    for (const char* c : {"fft ", "ift ", "normalize ", "flip ", "pad ", "mask ", "filter ", "average ", "fft-average ",
                          "ccf ", "align ", "rcf ", "rotate "})
        EXPECT_NE(out.find(std::string("\n  ") + c), std::string::npos) << c;
}

TEST_F(ProcNumeric, FFTWritesModeFourAndIFTRestores) {
    writeNoise("a.mrc", 64, 48, 1);
    EXPECT_EQ(run("fft a.mrc f.mrc"), 0);
    std::ifstream in(path("f.mrc"), std::ios::binary);
    int32_t hdr[4];
    in.read(reinterpret_cast<char*>(hdr), sizeof hdr);
    EXPECT_EQ(hdr[3], 4);  // MRC mode 4: complex floats
    Data f = read("f.mrc");
    EXPECT_TRUE(f->isComplex());
    EXPECT_EQ(f->xSize(), 66);
    EXPECT_EQ(run("ift f.mrc b.mrc"), 0);
    Data a = read("a.mrc"), b = read("b.mrc");
    EXPECT_EQ(b->xSize(), 64);
    // The MRC reader scales complex amplitudes by ySize*zSize/xSize (48/66
    // here), so the image comes back scaled by that factor.
    for (long i = 0; i < 64 * 48; i++) b->getRealData()[i] *= 66.0f / 48.0f;
    EXPECT_LT(rmsDiff(b.get(), a.get()), 1e-5);
    // Refusals give a failure status and write nothing.
    writeNoise("odd.mrc", 46, 8, 2);
    EXPECT_EQ(run("fft odd.mrc x.mrc"), 1);
    EXPECT_NE(access(path("x.mrc").c_str(), F_OK), 0);
    EXPECT_EQ(run("ift a.mrc x.mrc"), 1);
    EXPECT_EQ(run("fft f.mrc x.mrc"), 1);
}

TEST_F(ProcNumeric, NormalizeFlipPadMask) {
    writeNoise("a.mrc", 40, 30, 3);
    EXPECT_EQ(run("normalize a.mrc n.mrc"), 0);
    Data n = read("n.mrc");
    EXPECT_NEAR(n->Mean(), 0, 1e-4);
    EXPECT_NEAR(n->Sigma(), 1, 1e-4);
    EXPECT_EQ(run("normalize a.mrc e.mrc --edge"), 0);
    Data e = read("e.mrc");
    EXPECT_NEAR(e->EdgeMean(), 0, 1e-4);
    EXPECT_EQ(run("flip a.mrc v.mrc"), 0);
    Data a = read("a.mrc"), v = read("v.mrc");
    EXPECT_EQ(v->getRealData()[0], a->getRealData()[29 * 40]);
    EXPECT_EQ(run("pad a.mrc p.mrc 48 36"), 0);
    Data p = read("p.mrc");
    EXPECT_EQ(p->xSize(), 48);
    EXPECT_EQ(p->ySize(), 36);
    EXPECT_FLOAT_EQ(p->getRealData()[0], a->Mean());
    EXPECT_EQ(p->getRealData()[3 * 48 + 4], a->getRealData()[0]);
    EXPECT_EQ(run("pad a.mrc q.mrc 48 36 --noise"), 0);
    Data q = read("q.mrc");
    EXPECT_NE(q->getRealData()[0], q->getRealData()[1]);
    EXPECT_EQ(run("pad a.mrc r.mrc 20 36"), 1);
    EXPECT_EQ(run("pad a.mrc r.mrc x 36"), 1);
    EXPECT_EQ(run("mask a.mrc m.mrc --type 0 --radius 10"), 0);
    Data m = read("m.mrc");
    EXPECT_FLOAT_EQ(m->getRealData()[0], a->Mean());
    EXPECT_EQ(m->getRealData()[15 * 40 + 20], a->getRealData()[15 * 40 + 20]);
}

TEST_F(ProcNumeric, FilterAnswers) {
    writeNoise("a.mrc", 64, 64, 4);
    Data a = read("a.mrc");
    EXPECT_EQ(run("filter a.mrc g.mrc 20 --pixel 2"), 0);
    Data g = read("g.mrc");
    EXPECT_EQ(g->xSize(), 64);
    EXPECT_LT(g->Sigma(), 0.5 * a->Sigma());
    EXPECT_NEAR(g->Mean(), a->Mean(), 1e-3);  // the origin is kept
    EXPECT_EQ(run("filter a.mrc h.mrc 20,100 --pixel 2"), 0);
    Data h = read("h.mrc");
    EXPECT_NEAR(h->Mean(), 0, 1e-3);  // high-pass cut removes the origin
    EXPECT_EQ(run("filter a.mrc z.mrc 0"), 0);
    Data z = read("z.mrc");
    EXPECT_EQ(rmsDiff(z.get(), a.get()), 0);
    EXPECT_EQ(run("filter a.mrc i.mrc -20 --pixel 2"), 0);
    Data i = read("i.mrc");
    EXPECT_GT(i->Sigma(), a->Sigma());
    EXPECT_EQ(run("filter a.mrc y.mrc nonsense"), 1);
}

TEST_F(ProcNumeric, Averages) {
    writeNoise("a.mrc", 32, 32, 5);
    writeNoise("b.mrc", 32, 32, 6);
    writeNoise("c.mrc", 30, 32, 7);
    EXPECT_EQ(run("average avg.mrc a.mrc b.mrc"), 0);
    Data a = read("a.mrc"), b = read("b.mrc"), m = read("avg.mrc");
    EXPECT_FLOAT_EQ(m->getRealData()[7], (a->getRealData()[7] + b->getRealData()[7]) / 2);
    EXPECT_EQ(run("average bad.mrc a.mrc c.mrc"), 1);
    EXPECT_EQ(run("fft-average fa.mrc a.mrc b.mrc"), 0);
    Data fa = read("fa.mrc");
    EXPECT_TRUE(fa->isComplex());
    EXPECT_EQ(fa->xSize(), 34);
}

TEST_F(ProcNumeric, CorrelationAlignmentAndRotation) {
    writeSpots("a.mrc", 128, 0, 0, 0);
    writeSpots("b.mrc", 128, 2.5f, -1.5f, 0);
    std::string out;
    EXPECT_EQ(run("align b.mrc a.mrc", &out), 0);
    float dx = 0, dy = 0;
    ASSERT_EQ(std::sscanf(lastLine(out).c_str(), "%f %f", &dx, &dy), 2) << out;
    EXPECT_NEAR(dx, 2.5, 0.1);
    EXPECT_NEAR(dy, -1.5, 0.1);
    EXPECT_EQ(run("ccf b.mrc a.mrc c.mrc"), 0);
    Data c = read("c.mrc");
    EXPECT_EQ(c->xSize(), 128);
    // rotate moves the content: align then finds the move.
    EXPECT_EQ(run("rotate a.mrc m.mrc --angle 0 --shift 5,-3"), 0);
    EXPECT_EQ(run("align m.mrc a.mrc", &out), 0);
    ASSERT_EQ(std::sscanf(lastLine(out).c_str(), "%f %f", &dx, &dy), 2);
    EXPECT_NEAR(dx, 5, 0.1);
    EXPECT_NEAR(dy, -3, 0.1);
    writeSpots("d.mrc", 128, 0, 0, 0, 250, 1.2f);
    writeSpots("r.mrc", 128, 0, 0, 10, 250, 1.2f);
    EXPECT_EQ(run("rcf d.mrc r.mrc", &out), 0);
    EXPECT_NEAR(std::atof(lastLine(out).c_str()), -10, 0.5);
    EXPECT_EQ(access(path("test.rcf.dat").c_str(), F_OK), 0);
    writeNoise("s.mrc", 64, 64, 8);
    EXPECT_EQ(run("align a.mrc s.mrc"), 1);
    EXPECT_EQ(run("ccf a.mrc s.mrc x.mrc"), 1);
    EXPECT_EQ(run("rotate a.mrc x.mrc --shift 5"), 1);
}

namespace {

// Test images by label, subtraction, amplitude smoothing and a user function
// for scripts.
TEST_F(ProcNumeric, TestImageSubtractSmoothAndUserFunction) {
    ASSERT_EQ(run("test-image Pixels px.mrc"), 0);
    Data p = read("px.mrc");
    ASSERT_EQ(p->xSize(), 512);
    EXPECT_EQ(p->valueAt(0, 1), 256);
    EXPECT_EQ(p->valueAt(1, 1), 2);
    EXPECT_EQ(run("test-image 'Sin(z)' z.mrc"), 1);
    EXPECT_NE(slurp(path("stderr.txt")).find("\"Gauss x Slip\""), std::string::npos);
    ASSERT_EQ(run("test-image 'Sin(x+y)' s.mrc"), 0);
    ASSERT_EQ(run("subtract s.mrc px.mrc d.mrc"), 0);
    Data s = read("s.mrc"), d = read("d.mrc");
    EXPECT_NEAR(s->valueAt(16, 0), 1, 1e-6);
    EXPECT_NEAR(d->valueAt(16, 0), 1 - (255 - 16 + 255), 1e-4);
    EXPECT_EQ(run("smooth s.mrc x.mrc"), 1);
    EXPECT_NE(slurp(path("stderr.txt")).find("SmoothAmp() is only for complex data"), std::string::npos);
    ASSERT_EQ(run("fft s.mrc f.mrc && '" TARVIK_PROC "' smooth f.mrc sm.mrc"), 0);
    EXPECT_TRUE(read("sm.mrc")->isComplex());
    // A cat-like function of the user's file gives the image back unchanged.
    spit(path(".tvufn"), "Copy it\ncat\n\n\n\n1 1 1 1\n");
    ASSERT_EQ(run("user 'Copy it' px.mrc u.mrc"), 0);
    Data u = read("u.mrc");
    ASSERT_EQ(u->xSize(), 512);
    for (int i = 0; i < 512 * 512; i += 997) ASSERT_EQ(u->getRealData()[i], p->getRealData()[i]) << i;
    EXPECT_EQ(run("user Nope px.mrc u2.mrc"), 1);
    spit(path(".tvufn"), "Fails\nfalse\n\n\n\n1 1 1 2\n");
    EXPECT_EQ(run("user Fails px.mrc u3.mrc"), 1);
    EXPECT_FALSE(std::ifstream(path("u3.mrc")).good());
}

}  // namespace
