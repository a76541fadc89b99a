// The FFT engine against a brute-force double-precision DFT, its size rule,
// its refusals and its safety on awkward sizes.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

#include "fft/ifftsubs.h"

namespace {

using cd = std::complex<double>;

std::vector<float> randomImage(long n, unsigned seed) {
    std::mt19937 g(seed);
    std::uniform_real_distribution<float> u(-1, 1);
    std::vector<float> v(n);
    for (auto& x : v) x = u(g);
    return v;
}

// Direct sum over one axis: out(k) = SUM in(j) exp(sign 2 pi i j k / n).
std::vector<cd> dft(const std::vector<cd>& in, int sign) {
    const int n = (int)in.size();
    std::vector<cd> out(n), w(n);
    for (int t = 0; t < n; t++) w[t] = std::polar(1.0, sign * 2 * M_PI * t / n);
    for (int k = 0; k < n; k++) {
        cd s = 0;
        for (int j = 0; j < n; j++) s += in[j] * w[(long)j * k % n];
        out[k] = s;
    }
    return out;
}

// Full 2-D DFT with the given exponent sign, separably (rows then columns).
std::vector<cd> dft2(const std::vector<cd>& img, int nx, int ny, int sign) {
    std::vector<cd> t(img.size());
    for (int y = 0; y < ny; y++) {
        std::vector<cd> row(img.begin() + (long)y * nx, img.begin() + (long)(y + 1) * nx);
        auto r = dft(row, sign);
        std::copy(r.begin(), r.end(), t.begin() + (long)y * nx);
    }
    for (int x = 0; x < nx; x++) {
        std::vector<cd> col(ny);
        for (int y = 0; y < ny; y++) col[y] = t[(long)y * nx + x];
        auto c = dft(col, sign);
        for (int y = 0; y < ny; y++) t[(long)y * nx + x] = c[y];
    }
    return t;
}

// Relative RMS difference of todfft direction 0 from the stated convention.
double forwardError(int nx, int ny, unsigned seed) {
    const long rowf = nx + 2;
    auto a = randomImage(rowf * ny, seed);
    std::vector<cd> img((long)nx * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) img[(long)y * nx + x] = a[y * rowf + x];
    int ix = nx, iy = ny, dir = 0;
    EXPECT_EQ(todfft(a.data(), &ix, &iy, &dir), 0);
    auto ref = dft2(img, nx, ny, +1);
    const double sc = 1 / std::sqrt((double)nx * ny);
    double err = 0, tot = 0;
    for (int k = 0; k < ny; k++)
        for (int h = 0; h <= nx / 2; h++) {
            cd r = ref[(long)k * nx + h] * sc;
            cd g(a[k * rowf + 2 * h], a[k * rowf + 2 * h + 1]);
            err += std::norm(r - g);
            tot += std::norm(r);
        }
    return std::sqrt(err / tot);
}

// Relative RMS difference after direction 0 then 1.
double roundTripError(int nx, int ny, unsigned seed) {
    const long rowf = nx + 2;
    auto a = randomImage(rowf * ny, seed);
    auto o = a;
    int ix = nx, iy = ny, d0 = 0, d1 = 1;
    todfft(a.data(), &ix, &iy, &d0);
    todfft(a.data(), &ix, &iy, &d1);
    double err = 0, tot = 0;
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) {
            double d = a[y * rowf + x] - o[y * rowf + x];
            err += d * d;
            tot += (double)o[y * rowf + x] * o[y * rowf + x];
        }
    return std::sqrt(err / tot);
}

std::vector<int> validEven(int lo, int hi) {
    std::vector<int> v;
    for (int n = lo; n <= hi; n += 2)
        if (isvalidfft(n)) v.push_back(n);
    return v;
}

}  // namespace

TEST(SizeRule, ListedValues) {
    EXPECT_EQ(isvalidfft(0), 1);
    EXPECT_EQ(isvalidfft(2), 1);
    EXPECT_EQ(isvalidfft(3), 0);
    EXPECT_EQ(isvalidfft(38), 1);
    EXPECT_EQ(isvalidfft(46), 0);
    EXPECT_EQ(isvalidfft(4096), 1);
    EXPECT_EQ(isvalidfft(-2), 0);
    EXPECT_EQ(npfa(1021), 1024);
    EXPECT_EQ(npfa(1001), 1008);
    EXPECT_EQ(npfa(1000), 1000);
    EXPECT_EQ(npfa(0), 0);
    EXPECT_EQ(npfa(3), 4);
    // Every accepted size is even and its half has no prime factor above 19.
    for (int n = 4; n < 3000; n++) {
        int m = n / 2, p = 2;
        bool ok = n % 2 == 0;
        while (ok && m > 1) {
            while (m % p) p++;
            ok = p <= 19;
            m /= p;
        }
        EXPECT_EQ(isvalidfft(n), ok ? 1 : 0) << n;
    }
}

TEST(Cmplft, MatchesDirectSumForEveryLengthUpTo400) {
    for (int n = 1; n <= 400; n++) {
        int fac[20], sym[20], uns[20], psym, err, pmax = 19, grp = 8, nn = n;
        srfp(&nn, &pmax, &grp, fac, sym, &psym, uns, &err);
        if (err) continue;
        // Three interleaved sequences, 2 floats apart, as the column passes see them.
        const int T = 3;
        auto a = randomImage(2L * T * n, n);
        std::vector<std::vector<cd>> in(T, std::vector<cd>(n));
        for (int t = 0; t < T; t++)
            for (int j = 0; j < n; j++) in[t][j] = cd(a[j * 2 * T + 2 * t], a[j * 2 * T + 2 * t + 1]);
        int dim[5] = {2 * T * n, 2 * T, 2 * T * n, 2 * T, 2};
        ASSERT_EQ(cmplft(a.data(), a.data() + 1, &nn, dim), 0) << n;
        double e = 0, s = 0;
        for (int t = 0; t < T; t++) {
            auto r = dft(in[t], -1);
            for (int j = 0; j < n; j++) {
                e += std::norm(r[j] - cd(a[j * 2 * T + 2 * t], a[j * 2 * T + 2 * t + 1]));
                s += std::norm(r[j]);
            }
        }
        EXPECT_LT(std::sqrt(e / s), 1e-6) << n;
    }
}

TEST(Cmplft, RefusalsLeaveDataUntouched) {
    for (int n : {1, 23, 32768, 2 * 29, 0, -4}) {
        auto a = randomImage(2L * std::max(n, 1), 7);
        auto o = a;
        int dim[5] = {2 * std::max(n, 1), 2, 2 * std::max(n, 1), 2, 2};
        int nn = n;
        int rc = cmplft(a.data(), a.data() + 1, &nn, dim);
        EXPECT_EQ(rc, n >= 2 ? 1 : 0) << n;
        EXPECT_EQ(0, std::memcmp(a.data(), o.data(), a.size() * sizeof(float))) << n;
    }
    // A zero stride would never end: refused.
    auto a = randomImage(16, 3);
    int n = 8, dim[5] = {16, 0, 16, 16, 2};
    EXPECT_EQ(cmplft(a.data(), a.data() + 1, &n, dim), 1);
}

TEST(RealftHermft, HalfSpectrumAndInverseUpToTwoN) {
    for (int n : {1, 2, 3, 5, 12, 50, 96, 361}) {
        auto a = randomImage(2L * n + 2, n);
        std::vector<cd> in(2 * n);
        for (int j = 0; j < 2 * n; j++) in[j] = a[j];
        int nn = n, dim[5] = {2 * n + 2, 2, 2 * n + 2, 2 * n + 2, 2 * n + 2};
        realft(a.data(), a.data() + 1, &nn, dim);
        auto r = dft(in, -1);
        double e = 0, s = 0;
        for (int k = 0; k <= n; k++) {
            e += std::norm(r[k] - cd(a[2 * k], a[2 * k + 1]));
            s += std::norm(r[k]);
        }
        EXPECT_LT(std::sqrt(e / s), 1e-6) << n;
        // hermft expects the positive-exponent half spectrum: conjugate, and
        // the Nyquist value goes into pair 0 as the drivers put it.
        for (int k = 0; k <= n; k++) a[2 * k + 1] = -a[2 * k + 1];
        a[1] = a[2 * n];
        hermft(a.data(), a.data() + 1, &nn, dim);
        e = s = 0;
        for (int j = 0; j < 2 * n; j++) {
            double d = a[j] / (2.0 * n) - in[j].real();
            e += d * d;
            s += std::norm(in[j]);
        }
        EXPECT_LT(std::sqrt(e / s), 1e-6) << n;
    }
}

TEST(Todfft, ForwardMatchesDirectSumForAllValidSizesUpTo64) {
    auto sizes = validEven(2, 64);
    for (int nx : sizes)
        for (int ny : sizes) EXPECT_LT(forwardError(nx, ny, nx * 100 + ny), 1e-5) << nx << "x" << ny;
    // Odd and unfactorisable row counts still follow the convention where they can.
    EXPECT_LT(forwardError(8, 1, 1), 1e-5);
    EXPECT_LT(forwardError(8, 3, 1), 1e-5);
    EXPECT_LT(forwardError(6, 19, 1), 1e-5);
}

TEST(Todfft, RoundTripEveryValidEvenSizeUpTo512) {
    auto sizes = validEven(2, 512);
    for (int n : sizes) {
        EXPECT_LT(roundTripError(n, 6, n), 1e-5) << n << "x6";
        EXPECT_LT(roundTripError(8, n, n), 1e-5) << "8x" << n;
    }
    // A sample of 2-D pairs across the range.
    std::mt19937 g(42);
    for (int i = 0; i < 40; i++) {
        int nx = sizes[g() % sizes.size()], ny = sizes[g() % sizes.size()];
        EXPECT_LT(roundTripError(nx, ny, i), 1e-5) << nx << "x" << ny;
    }
}

TEST(Todfft, RoundTripLargeSizes) {
    for (int n : {1000, 1008, 1024, 2048}) EXPECT_LT(roundTripError(n, n, n), 1e-5) << n;
    EXPECT_LT(roundTripError(4096, 8, 1), 1e-5);
    EXPECT_LT(roundTripError(8, 4096, 2), 1e-5);
    EXPECT_LT(roundTripError(3000, 2000, 3), 1e-5);
}

TEST(Todfft, ConstantImpulseAndSpareFloats) {
    int nx = 12, ny = 10, d0 = 0, d1 = 1;
    const long rowf = nx + 2;
    std::vector<float> a(rowf * ny, 0.0f);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) a[y * rowf + x] = 2.5f;
    todfft(a.data(), &nx, &ny, &d0);
    EXPECT_NEAR(a[0], 2.5 * std::sqrt(120.0), 1e-4);
    for (long i = 1; i < rowf * ny; i++) EXPECT_NEAR(a[i], 0, 1e-5) << i;
    todfft(a.data(), &nx, &ny, &d1);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) EXPECT_NEAR(a[y * rowf + x], 2.5f, 1e-5);
    // A single pixel at (1, 0): F(h, k) = exp(+2 pi i h / NX) / sqrt(NX NY).
    std::fill(a.begin(), a.end(), 0.0f);
    a[1] = 1;
    todfft(a.data(), &nx, &ny, &d0);
    for (int k = 0; k < ny; k++)
        for (int h = 0; h <= nx / 2; h++) {
            cd want = std::polar(1.0, 2 * M_PI * h / nx) / std::sqrt(120.0);
            EXPECT_NEAR(a[k * rowf + 2 * h], want.real(), 1e-6);
            EXPECT_NEAR(a[k * rowf + 2 * h + 1], want.imag(), 1e-6);
        }
}

TEST(Todfft, FullComplexDirections) {
    // 100 x 80 complex values: more than the 5000 a fixed reversal area held.
    for (auto sz : {std::pair<int, int>{6, 4}, {100, 80}, {38, 26}}) {
        int nx = sz.first, ny = sz.second;
        for (int dir : {-2, -3}) {
            auto a = randomImage(2L * nx * ny, nx + dir);
            std::vector<cd> img((long)nx * ny);
            for (long i = 0; i < (long)nx * ny; i++) img[i] = cd(a[2 * i], a[2 * i + 1]);
            int ix = nx, iy = ny, d = dir;
            EXPECT_EQ(todfft(a.data(), &ix, &iy, &d), 0);
            auto ref = dft2(img, nx, ny, dir == -2 ? +1 : -1);
            double e = 0, s = 0, sc = 1 / std::sqrt((double)nx * ny);
            for (long i = 0; i < (long)nx * ny; i++) {
                e += std::norm(ref[i] * sc - cd(a[2 * i], a[2 * i + 1]));
                s += std::norm(ref[i] * sc);
            }
            EXPECT_LT(std::sqrt(e / s), 1e-5) << nx << "x" << ny << " dir " << dir;
        }
    }
}

TEST(Todfft, ConjugatingInverse) {
    int nx = 10, ny = 6, d0 = 0, dm1 = -1;
    const long rowf = nx + 2;
    auto a = randomImage(rowf * ny, 5);
    auto o = a;
    todfft(a.data(), &nx, &ny, &d0);
    // Direction -1 conjugates: it inverts the negative-exponent spectrum, so
    // the image comes back mirrored, f(-x, -y).
    todfft(a.data(), &nx, &ny, &dm1);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) EXPECT_NEAR(a[y * rowf + x], o[((ny - y) % ny) * rowf + (nx - x) % nx], 1e-5);
}

TEST(Todfft, OddAndDegenerateSizesAreSafe) {
    std::vector<float> a(64, 1.0f), o = a;
    int nx = 7, ny = 4, d = 0;
    EXPECT_EQ(todfft(a.data(), &nx, &ny, &d), 1);
    EXPECT_EQ(a, o);
    for (int dir : {0, 1, -1, -2, -3, 5}) {
        nx = 0;
        ny = 4;
        d = dir;
        EXPECT_EQ(todfft(a.data(), &nx, &ny, &d), 0);
        nx = 4;
        ny = -3;
        EXPECT_EQ(todfft(a.data(), &nx, &ny, &d), 0);
    }
    EXPECT_EQ(a, o);
    // Unfactorisable sizes run through without touching memory outside the image.
    for (auto s : {std::pair<int, int>{46, 46}, {58, 4}, {4, 62}, {2, 1}}) {
        std::vector<float> b((s.first + 2) * s.second, 0.5f);
        nx = s.first;
        ny = s.second;
        d = 0;
        EXPECT_EQ(todfft(b.data(), &nx, &ny, &d), 0);
        d = 1;
        EXPECT_EQ(todfft(b.data(), &nx, &ny, &d), 0);
        std::vector<float> c(2 * s.first * s.second, 0.5f);
        d = -2;
        EXPECT_EQ(todfft(c.data(), &nx, &ny, &d), 0);
    }
}

TEST(Odfft, RowsAndTheReversedRoundTrip) {
    int nx = 1440, ny = 3, d0 = 0, d1 = 1;
    const long rowf = nx + 2;
    auto a = randomImage(rowf * ny, 9);
    auto o = a;
    std::vector<cd> row0(nx);
    for (int j = 0; j < nx; j++) row0[j] = o[j];
    odfft(a.data(), &nx, &ny, &d0);
    auto r = dft(row0, -1);
    for (int k = 0; k <= nx / 2; k += 37) {
        EXPECT_NEAR(a[2 * k], r[k].real() / std::sqrt(1440.0), 1e-4);
        EXPECT_NEAR(a[2 * k + 1], r[k].imag() / std::sqrt(1440.0), 1e-4);
    }
    odfft(a.data(), &nx, &ny, &d1);
    for (int y = 0; y < ny; y++)
        for (int j = 0; j < nx; j++) EXPECT_NEAR(a[y * rowf + j], o[y * rowf + (nx - j) % nx], 1e-5);
    int odd = 5;
    EXPECT_EQ(odfft(a.data(), &odd, &ny, &d0), 1);
    // Complex rows: -1 conjugates the result, other negative codes do not.
    int n = 12, one = 1, dm1 = -1, dm5 = -5;
    auto c = randomImage(2 * n, 4), c2 = c;
    std::vector<cd> in(n);
    for (int j = 0; j < n; j++) in[j] = cd(c[2 * j], c[2 * j + 1]);
    auto ref = dft(in, -1);
    odfft(c.data(), &n, &one, &dm1);
    odfft(c2.data(), &n, &one, &dm5);
    for (int k = 0; k < n; k++) {
        cd w = ref[k] / std::sqrt(12.0);
        EXPECT_NEAR(c[2 * k], w.real(), 1e-5);
        EXPECT_NEAR(c[2 * k + 1], -w.imag(), 1e-5);
        EXPECT_NEAR(c2[2 * k + 1], w.imag(), 1e-5);
    }
}

TEST(TodfftCentred, SameSpectrumWithRowsCentred) {
    int nx = 20, ny = 14, d0 = 0;
    const long rowf = nx + 2;
    auto src = randomImage((long)nx * ny, 11);
    std::vector<float> a(rowf * ny, 0.0f), b(rowf * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) a[y * rowf + x] = src[y * nx + x];
    todfft(a.data(), &nx, &ny, &d0);
    EXPECT_EQ(todfft_centred(src.data(), b.data(), nx, ny, nullptr), 0);
    for (int r = 0; r < ny; r++)
        for (int x = 0; x < rowf; x++) EXPECT_NEAR(b[r * rowf + x], a[((r + ny / 2) % ny) * rowf + x], 1e-5);
}
