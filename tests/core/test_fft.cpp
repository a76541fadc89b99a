// The FFT engine against a brute-force double-precision DFT, its size rule,
// its refusals and its safety on awkward sizes; Fourier transforms of data
// sets: layout, names, refusals, padding and copies.
#include <complex>

#include "fft/ifftsubs.h"
#include "numeric/fastmath.h"
#include "tests/core/numeric_testutil.h"

namespace {

using cd = std::complex<double>;

// Direct sum over n values x[j*s], in place: X(k) = SUM x(j) exp(sign 2 pi i j k / n).
void dft(cd* x, int n, int sign, long s = 1) {
    std::vector<cd> in(n), w(n);
    for (int t = 0; t < n; t++) w[t] = std::polar(1.0, sign * 2 * M_PI * t / n), in[t] = x[t * s];
    for (int k = 0; k < n; k++) {
        x[k * s] = 0;
        for (int j = 0; j < n; j++) x[k * s] += in[j] * w[(long)j * k % n];
    }
}
std::vector<cd> dft(std::vector<cd> x, int sign) {
    dft(x.data(), (int)x.size(), sign);
    return x;
}

// Full 2-D DFT with the given exponent sign, separably (rows then columns).
std::vector<cd> dft2(std::vector<cd> t, int nx, int ny, int sign) {
    for (int y = 0; y < ny; y++) dft(&t[(long)y * nx], nx, sign);
    for (int x = 0; x < nx; x++) dft(&t[x], ny, sign, nx);
    return t;
}

// Relative RMS difference of got(i) from scale * want[i].
template <class G>
double cerr(const std::vector<cd>& want, double scale, G got) {
    double e = 0, s = 0;
    for (size_t i = 0; i < want.size(); i++) {
        e += std::norm(want[i] * scale - got(i));
        s += std::norm(want[i] * scale);
    }
    return std::sqrt(e / s);
}

// Error of a half spectrum a (pair (h, row) at floats row*(nx+2) + 2h, row r
// holding k = r + shift) against the positive-exponent DFT of img / sqrt(nx ny).
double halfSpectrumError(const float* a, const std::vector<cd>& img, int nx, int ny, int shift) {
    auto ref = dft2(img, nx, ny, +1);
    const long w = nx / 2 + 1, rowf = nx + 2;
    std::vector<cd> want;
    for (int r = 0; r < ny; r++)
        for (int h = 0; h < w; h++) want.push_back(ref[(long)(r + shift) % ny * nx + h]);
    return cerr(want, 1 / std::sqrt((double)nx * ny),
                [&](size_t i) { return cd(a[i / w * rowf + 2 * (i % w)], a[i / w * rowf + 2 * (i % w) + 1]); });
}

// Error of todfft direction 0 against the stated convention, every pair.
double forwardError(int nx, int ny, unsigned seed) {
    auto a = noiseValues((nx + 2L) * ny, seed);
    std::vector<cd> img;
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) img.push_back(a[y * (nx + 2) + x]);
    int ix = nx, iy = ny, dir = 0;
    EXPECT_EQ(todfft(a.data(), &ix, &iy, &dir), 0);
    return halfSpectrumError(a.data(), img, nx, ny, 0);
}

// Error after direction 0 then `back` against the image (back 1), or against
// its mirror f(-x, -y) (back -1 conjugates); the spare floats carry no meaning.
double roundTripError(int nx, int ny, unsigned seed, int back = 1) {
    auto a = noiseValues((nx + 2L) * ny, seed), o = a;
    int ix = nx, iy = ny, d0 = 0;
    todfft(a.data(), &ix, &iy, &d0);
    todfft(a.data(), &ix, &iy, &back);
    std::vector<float> want, got;
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) {
            got.push_back(a[y * (nx + 2) + x]);
            want.push_back(back == 1 ? o[y * (nx + 2) + x] : o[(ny - y) % ny * (nx + 2) + (nx - x) % nx]);
        }
    return relRms(want.data(), got.data(), got.size());
}

std::vector<int> validEven(int lo, int hi) {
    std::vector<int> v;
    for (int n = lo; n <= hi; n += 2)
        if (isvalidfft(n)) v.push_back(n);
    return v;
}

}  // namespace

TEST(SizeRule, ListedValues) {
    const int valid[][2] = {{0, 1}, {2, 1}, {3, 0}, {38, 1}, {46, 0}, {4096, 1}, {-2, 0}};
    for (auto& c : valid) EXPECT_EQ(isvalidfft(c[0]), c[1]) << c[0];
    const int next[][2] = {{1021, 1024}, {1001, 1008}, {1000, 1000}, {0, 0}, {3, 4}};
    for (auto& c : next) EXPECT_EQ(npfa(c[0]), c[1]) << c[0];
    // Every accepted size is even and its half has no prime factor above 19.
    for (int n = 4; n < 3000; n++) {
        int m = n / 2;
        for (int p : {2, 3, 5, 7, 11, 13, 17, 19})
            while (m % p == 0) m /= p;
        EXPECT_EQ(isvalidfft(n), n % 2 == 0 && m == 1 ? 1 : 0) << n;
    }
}

TEST(Cmplft, MatchesDirectSumForEveryLengthUpTo400) {
    for (int n = 1; n <= 400; n++) {
        int nn = n;
        if (!isvalidfft(2 * n)) continue;
        // Three interleaved sequences, 2 floats apart, as the column passes see them.
        const int T = 3;
        auto a = noiseValues(2L * T * n, n);
        std::vector<cd> want(T * n);
        for (int i = 0; i < T * n; i++) want[i] = cd(a[2 * i], a[2 * i + 1]);
        for (int t = 0; t < T; t++) dft(&want[t], n, -1, T);
        int dim[5] = {2 * T * n, 2 * T, 2 * T * n, 2 * T, 2};
        ASSERT_EQ(cmplft(a.data(), a.data() + 1, &nn, dim), 0) << n;
        EXPECT_LT(cerr(want, 1, [&](size_t i) { return cd(a[2 * i], a[2 * i + 1]); }), 1e-6) << n;
    }
}

TEST(Cmplft, RefusalsLeaveDataUntouched) {
    for (int n : {1, 23, 32768, 2 * 29, 0, -4}) {
        auto a = noiseValues(2L * std::max(n, 1), 7), o = a;
        int dim[5] = {2 * std::max(n, 1), 2, 2 * std::max(n, 1), 2, 2}, nn = n;
        EXPECT_EQ(cmplft(a.data(), a.data() + 1, &nn, dim), n >= 2 ? 1 : 0) << n;
        EXPECT_EQ(a, o) << n;
    }
    // A zero stride would never end: refused.
    auto a = noiseValues(16, 3);
    int n = 8, dim[5] = {16, 0, 16, 16, 2};
    EXPECT_EQ(cmplft(a.data(), a.data() + 1, &n, dim), 1);
}

TEST(RealftHermft, HalfSpectrumAndInverseUpToTwoN) {
    for (int n : {1, 2, 3, 5, 12, 50, 96, 361}) {
        auto a = noiseValues(2L * n + 2, n);
        const std::vector<float> in(a.begin(), a.begin() + 2 * n);
        int nn = n, dim[5] = {2 * n + 2, 2, 2 * n + 2, 2 * n + 2, 2 * n + 2};
        realft(a.data(), a.data() + 1, &nn, dim);
        auto r = dft(std::vector<cd>(in.begin(), in.end()), -1);
        r.resize(n + 1);
        EXPECT_LT(cerr(r, 1, [&](size_t k) { return cd(a[2 * k], a[2 * k + 1]); }), 1e-6) << n;
        // hermft expects the positive-exponent half spectrum: conjugate, and
        // the Nyquist value goes into pair 0 as the drivers put it.
        for (int k = 0; k <= n; k++) a[2 * k + 1] = -a[2 * k + 1];
        a[1] = a[2 * n];
        hermft(a.data(), a.data() + 1, &nn, dim);
        for (int j = 0; j < 2 * n; j++) a[j] /= 2.0f * n;
        EXPECT_LT(relRms(in.data(), a.data(), 2 * n), 1e-6) << n;
    }
}

TEST(Todfft, ForwardMatchesDirectSumForAllValidSizesUpTo64) {
    auto sizes = validEven(2, 64);
    for (int nx : sizes)
        for (int ny : sizes) EXPECT_LT(forwardError(nx, ny, nx * 100 + ny), 1e-5) << nx << "x" << ny;
    // Odd and unfactorisable row counts still follow the convention where they can.
    for (int ny : {1, 3}) EXPECT_LT(forwardError(8, ny, 1), 1e-5) << ny;
    EXPECT_LT(forwardError(6, 19, 1), 1e-5);
}

TEST(Todfft, RoundTripEveryValidEvenSizeUpTo512AndLargeSizes) {
    auto sizes = validEven(2, 512);
    for (int n : sizes) {
        EXPECT_LT(roundTripError(n, 6, n), 1e-5) << n << "x6";
        EXPECT_LT(roundTripError(8, n, n), 1e-5) << "8x" << n;
    }
    // Large sizes in both directions.
    const int big[][2] = {{1000, 1000}, {1008, 1008}, {1024, 1024}, {2048, 2048}, {4096, 8}, {8, 4096}, {3000, 2000}};
    for (auto& s : big) EXPECT_LT(roundTripError(s[0], s[1], s[0]), 1e-5) << s[0] << "x" << s[1];
    // Direction -1 conjugates: it inverts the negative-exponent spectrum, so
    // the image comes back mirrored.
    EXPECT_LT(roundTripError(10, 6, 5, -1), 1e-5);
}

TEST(Todfft, FullComplexDirections) {
    // 100 x 80 complex values: more than the 5000 a fixed reversal area held.
    for (auto sz : {std::pair<int, int>{6, 4}, {100, 80}, {38, 26}}) {
        int nx = sz.first, ny = sz.second;
        for (int dir : {-2, -3}) {
            auto a = noiseValues(2L * nx * ny, nx + dir);
            std::vector<cd> img((long)nx * ny);
            for (long i = 0; i < (long)nx * ny; i++) img[i] = cd(a[2 * i], a[2 * i + 1]);
            int ix = nx, iy = ny, d = dir;
            EXPECT_EQ(todfft(a.data(), &ix, &iy, &d), 0);
            auto got = [&](size_t i) { return cd(a[2 * i], a[2 * i + 1]); };
            EXPECT_LT(cerr(dft2(img, nx, ny, dir == -2 ? +1 : -1), 1 / std::sqrt((double)nx * ny), got), 1e-5)
                << nx << "x" << ny << " dir " << dir;
        }
    }
}

TEST(Todfft, OddAndDegenerateSizesAreSafe) {
    std::vector<float> a(64, 1.0f), o = a;
    int nx = 7, ny = 4, d = 0;
    EXPECT_EQ(todfft(a.data(), &nx, &ny, &d), 1);
    for (int dir : {0, 1, -1, -2, -3, 5})
        for (auto s : {std::pair<int, int>{0, 4}, {4, -3}}) {
            nx = s.first, ny = s.second, d = dir;
            EXPECT_EQ(todfft(a.data(), &nx, &ny, &d), 0);
        }
    EXPECT_EQ(a, o);
    // Unfactorisable sizes run through without touching memory outside the image.
    for (auto s : {std::pair<int, int>{46, 46}, {58, 4}, {4, 62}, {2, 1}}) {
        std::vector<float> b((s.first + 2) * s.second, 0.5f), c(2 * s.first * s.second, 0.5f);
        for (int dir : {0, 1, -2}) {
            nx = s.first, ny = s.second, d = dir;
            EXPECT_EQ(todfft(dir == -2 ? c.data() : b.data(), &nx, &ny, &d), 0);
        }
    }
}

TEST(Odfft, RowsAndTheReversedRoundTrip) {
    int nx = 1440, ny = 3, d0 = 0, d1 = 1;
    const long rowf = nx + 2;
    auto a = noiseValues(rowf * ny, 9), o = a;
    odfft(a.data(), &nx, &ny, &d0);
    auto r = dft(std::vector<cd>(o.begin(), o.begin() + nx), -1);
    r.resize(nx / 2 + 1);
    EXPECT_LT(cerr(r, 1 / std::sqrt(1440.0), [&](size_t k) { return cd(a[2 * k], a[2 * k + 1]); }), 1e-5);
    odfft(a.data(), &nx, &ny, &d1);
    for (int y = 0; y < ny; y++)
        for (int j = 0; j < nx; j++) EXPECT_NEAR(a[y * rowf + j], o[y * rowf + (nx - j) % nx], 1e-5);
    int odd = 5;
    EXPECT_EQ(odfft(a.data(), &odd, &ny, &d0), 1);
    // Complex rows: -1 conjugates the result, other negative codes do not.
    int n = 12, one = 1;
    for (int dir : {-1, -5}) {
        auto c = noiseValues(2 * n, 4);
        std::vector<cd> in(n);
        for (int j = 0; j < n; j++) in[j] = cd(c[2 * j], c[2 * j + 1]);
        odfft(c.data(), &n, &one, &dir);
        auto got = [&](size_t k) { return cd(c[2 * k], (dir == -1 ? -1 : 1) * c[2 * k + 1]); };
        EXPECT_LT(cerr(dft(in, -1), 1 / std::sqrt(12.0), got), 1e-5) << dir;
    }
}

// doFFT is todfft_centred on the data set's values.
TEST(DoFFT, CentredLayoutMatchesDirectSum) {
    const int nx = 12, ny = 10;
    Data d = noiseData(nx, ny, 1);
    Data f(d->doFFT(1));
    ASSERT_TRUE(f);
    EXPECT_EQ(std::vector<int>({f->xSize(), f->ySize(), f->Flags(), f->isComplex()}),
              std::vector<int>({nx + 2, ny, 7, 1}));
    const float* a = f->getRealData();
    EXPECT_LT(halfSpectrumError(a, std::vector<cd>(d->getRealData(), d->getRealData() + nx * ny), nx, ny, ny / 2),
              1e-6);
    // The amplitude/phase form holds the same values.
    Data p(d->doFFT(0));
    EXPECT_EQ(p->Flags(), 3);
    const float* b = p->getRealData();
    for (int i = 0; i < (nx + 2) * ny; i += 2) {
        EXPECT_NEAR(b[i], std::hypot(a[i], a[i + 1]), 1e-5);
        if (b[i] > 1e-3) {
            EXPECT_NEAR(b[i + 1], std::atan2(a[i + 1], a[i]), 1e-5);
        }
    }
}

TEST(DoFFT, RoundTripNamesAndFlags) {
    for (auto sz : {std::pair<int, int>{64, 64}, {100, 98}, {1000, 8}, {6, 1008}}) {
        Data d = noiseData(sz.first, sz.second, 3, "orig");
        Data f(d->doFFT(0));
        ASSERT_TRUE(f);
        EXPECT_STREQ(f->Name(), "FFT orig");
        Data r(f->doIFT(0));
        ASSERT_TRUE(r);
        EXPECT_STREQ(r->Name(), "IFT FFT orig");
        EXPECT_EQ(std::vector<int>({r->Flags(), r->xSize(), r->ySize()}), std::vector<int>({0, sz.first, sz.second}));
        EXPECT_LT(relRms(d.get(), r.get()), 1e-5);
    }
    // An unnamed source gives the name "FFT na".
    Data f(realData(std::vector<float>(16, 1.0f), 4, 4)->doFFT(0));
    EXPECT_STREQ(f->Name(), "FFT na");
}

TEST(DoFFT, RefusalsAndMessages) {
    Data d = noiseData(100, 94, 1), ok = noiseData(100, 98, 1);
    MRCData* f = nullptr;
    EXPECT_EQ(captured([&] { f = d->doFFT(0); }), "Invalid FFT size!\n");
    EXPECT_EQ(f, nullptr);
    Data t(ok->doFFT(0));
    ASSERT_TRUE(t);
    EXPECT_EQ(captured([&] { f = t->doFFT(0); }), "Cannot do FFT of FFT\n");
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(captured([&] { f = ok->doIFT(0); }), "Cannot do IFT of real\n");
    EXPECT_EQ(f, nullptr);
    // 48 floats per row = real width 46 = 2*23: refused without a message;
    // 66 by 64 complex inverts.
    MRCData cx, cy;
    cx.setComplData(std::vector<float>(48 * 8, 1.0f).data(), 48, 8, 1);
    EXPECT_EQ(captured([&] { f = cx.doIFT(0); }), "");
    EXPECT_EQ(f, nullptr);
    cy.setComplData(std::vector<float>(66 * 64, 0.0f).data(), 66, 64, 1);
    Data r(cy.doIFT(0));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->xSize(), 64);
    // Empty data sets are not transformable.
    MRCData e;
    EXPECT_EQ(captured([&] { f = e.doFFT(0); }), "Invalid FFT size!\n");
}

TEST(DoFFT, OnlyTheFirstPlaneIsTransformed) {
    Data d = noiseData(16, 8, 4, "stack", 3);
    Data f(d->doFFT(0));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->zSize(), 1);
    Data first = noiseData(16, 8, 4, "one", 1);  // same seed: plane 0 equals it
    Data g(first->doFFT(0));
    for (int i = 0; i < 18 * 8; i++) EXPECT_FLOAT_EQ(f->getRealData()[i], g->getRealData()[i]);
    EXPECT_EQ(Data(f->doIFT(0))->zSize(), 1);
}

TEST(PadTo, MarginsMeanAndRefusals) {
    std::vector<float> v = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    Data d = realData(v, 5, 3);
    const float m = d->Mean();
    EXPECT_EQ(d->padTo(0, 8, 6), 1);
    EXPECT_EQ(std::vector<int>({d->xSize(), d->ySize()}), std::vector<int>({8, 6}));
    const float* a = d->getRealData();
    for (int y = 0; y < 6; y++)
        for (int x = 0; x < 8; x++) {
            const bool inside = x >= 1 && x < 6 && y >= 1 && y < 4;
            EXPECT_FLOAT_EQ(a[y * 8 + x], inside ? v[(y - 1) * 5 + x - 1] : m) << x << "," << y;
        }
    // Noise padding keeps the image and fills around it with varying values.
    std::vector<float> w(100);
    for (int i = 0; i < 100; i++) w[i] = (float)i;
    Data n = realData(w, 10, 10);
    EXPECT_EQ(n->padTo(1, 40, 40), 1);
    EXPECT_FLOAT_EQ(n->getRealData()[15 * 40 + 15], 0);
    EXPECT_NE(n->getRealData()[0], n->getRealData()[1]);
    int rc = -1;
    EXPECT_EQ(captured([&] { rc = d->padTo(0, 4, 6); }), "Cannot pad to a smaller size (4x6 is below 8x6)\n");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(d->xSize(), 8);
    Data c(d->doFFT(0));
    EXPECT_EQ(captured([&] { rc = c->padTo(0, 100, 100); }), "Cannot pad a Fourier transform\n");
    EXPECT_EQ(rc, 0);
}

TEST(ToCorner, SwapsQuadrants) {
    std::vector<float> v(16);
    for (int i = 0; i < 16; i++) v[i] = (float)i;
    Data d = realData(v, 4, 4);
    d->toCorner();
    // (2,2) <-> (0,0), (2,0) <- (0,2)
    EXPECT_EQ(valuesAt(d.get(), {0, 2 * 4 + 2, 2}), std::vector<float>({v[2 * 4 + 2], v[0], v[2 * 4]}));
    d->toCorner();
    EXPECT_EQ(relRms(v.data(), d->getRealData(), 16), 0);
}

TEST(Extract, ClampsAndNeverReadsOutside) {
    std::vector<float> v(20);
    for (int i = 0; i < 20; i++) v[i] = (float)i;
    Data d = realData(v, 5, 4);
    float out[64];
    EXPECT_EQ(d->extractReal(out, -5, 1, 2, 2), 1);
    EXPECT_EQ(std::vector<float>({out[0], out[3]}), std::vector<float>({5, 11}));
    EXPECT_EQ(d->extractReal(out, 4, 3, 3, 2), 1);  // shifted left and down to end at the edges
    EXPECT_EQ(std::vector<float>({out[0], out[5]}), std::vector<float>({12, 19}));
    // Larger than the image: the image, padded with 0.
    EXPECT_EQ(d->extractReal(out, 0, 0, 7, 6), 1);
    const float big[][2] = {{0, 0}, {4, 4}, {5, 0}, {7, 5}, {5 * 7, 0}};
    for (auto& c : big) EXPECT_EQ(out[(int)c[0]], c[1]) << c[0];
    EXPECT_EQ(d->extractCompl(out, 0, 0, 2, 2), 0);
    EXPECT_EQ(Data(d->doFFT(0)), nullptr);  // 5 is odd
    Data t(noiseData(8, 6, 2)->doFFT(0));
    EXPECT_EQ(t->extractReal(out, 0, 0, 2, 2), 0);
    EXPECT_EQ(t->extractCompl(out, 99, 5, 10, 2), 1);  // x0 ignored, y0 clamped to 4
    EXPECT_EQ(std::vector<float>({out[0], out[10]}), valuesAt(t.get(), {4 * 10, 5 * 10}));
}

TEST(FastMath, AmplitudePhaseAgreesWithLibrary) {
    std::mt19937 g(8);
    std::uniform_real_distribution<float> u(-100, 100);
    std::vector<float> a(2002);
    for (auto& x : a) x = u(g);
    // Axes, zeros and signed zeros too.
    float special[] = {0, 0, 1, 0, -1, 0, 0, 1, 0, -1, -0.0f, 1, 1, -0.0f, -1, -0.0f, 3, 3, -3, 3};
    std::copy(std::begin(special), std::end(special), a.begin());
    auto b = a;
    toAmpPhase(b.data(), 1001);
    for (int i = 0; i < 2002; i += 2) {
        EXPECT_NEAR(b[i], std::hypot(a[i], a[i + 1]), 1e-4);
        EXPECT_NEAR(b[i + 1], std::atan2(a[i + 1], a[i]), 3e-7) << a[i] << "," << a[i + 1];
    }
    toReIm(b.data(), 1001);
    for (int i = 0; i < 2002; i++) EXPECT_NEAR(b[i], a[i], 1e-4);
}
