// Particle extraction, box by box: cut, binned, normalised, inverted and
// phase-flipped particles against values the test computes on its own in
// double precision (its own plane fit, its own DFT, a textbook CTF).
#include <gtest/gtest.h>

#include <complex>

#include "pick/extract.h"
#include "tests/core/ctf_textbook.h"
#include "tests/core/numeric_testutil.h"

namespace {

using cd = std::complex<double>;

// A micrograph with noise, a slope and blobs, so that plane and mean matter.
std::vector<float> micrograph(int nx, int ny, unsigned seed) {
    std::vector<float> v = noiseValues((size_t)nx * ny, seed);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) {
            const double b = std::exp(-((x - 70) * (x - 70) + (y - 90) * (y - 90)) / 300.0);
            v[(size_t)y * nx + x] += (float)(500 + 0.03 * x - 0.05 * y + 3 * b);
        }
    return v;
}

// RELION's normalisation as its documentation states it, in double: the
// background is every pixel farther than r from (n/2, n/2); the plane
// a + b x + c y is fitted by least squares through centred regressors
// (Gram-Schmidt), subtracted, then the background scaled to mean 0, sd 1.
std::vector<double> normalised(std::vector<double> v, int n, double r, bool ramp) {
    std::vector<double> bx, by, bv;
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            if ((x - n / 2) * (x - n / 2) + (y - n / 2) * (y - n / 2) > r * r) {
                bx.push_back(x);
                by.push_back(y);
                bv.push_back(v[(size_t)y * n + x]);
            }
    const double m = bv.size();
    auto mean = [&](const std::vector<double>& a) {
        double s = 0;
        for (double e : a) s += e;
        return s / m;
    };
    double a = mean(bv), b = 0, c = 0;
    if (ramp) {
        const double mx = mean(bx), my = mean(by);
        double sxx = 0, sxy = 0, syy = 0, sxv = 0, syv = 0;
        for (size_t i = 0; i < bv.size(); i++) {
            const double dx = bx[i] - mx, dy = by[i] - my, dv = bv[i] - a;
            sxx += dx * dx, sxy += dx * dy, syy += dy * dy, sxv += dx * dv, syv += dy * dv;
        }
        const double det = sxx * syy - sxy * sxy;
        b = (sxv * syy - syv * sxy) / det;
        c = (syv * sxx - sxv * sxy) / det;
        a -= b * mx + c * my;
    }
    double s = 0, q = 0;
    for (size_t i = 0; i < bv.size(); i++) {
        const double d = bv[i] - a - b * bx[i] - c * by[i];
        s += d;
        q += d * d;
    }
    const double mu = s / m, sd = std::sqrt(q / m - mu * mu);
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            double& e = v[(size_t)y * n + x];
            e = (e - a - b * x - c * y - mu) / sd;
        }
    return v;
}

// One-dimensional DFTs along rows (step 1) or columns (step n) of an n by n
// array, exp(sign 2 pi i ...), unnormalised.
void dft1(std::vector<cd>& a, int n, bool rows, int sign) {
    std::vector<cd> t(n), w(n);
    for (int j = 0; j < n; j++) w[j] = std::polar(1.0, sign * 2 * M_PI * j / n);
    for (int l = 0; l < n; l++) {
        for (int k = 0; k < n; k++) {
            cd s = 0;
            for (int j = 0; j < n; j++) s += a[rows ? (size_t)l * n + j : (size_t)j * n + l] * w[(size_t)j * k % n];
            t[k] = s;
        }
        for (int k = 0; k < n; k++) a[rows ? (size_t)l * n + k : (size_t)k * n + l] = t[k];
    }
}
void dft2(std::vector<cd>& a, int n, int sign) {
    dft1(a, n, true, sign);
    dft1(a, n, false, sign);
}

}  // namespace

TEST(ParticleExtract, CutNormalisedInvertedParticlesMatchAnIndependentComputation) {
    const int nx = 160, ny = 150;
    const std::vector<float> mic = micrograph(nx, ny, 3);
    const struct {
        int n, cx, cy;
        double radius;  // 0: the default 0.75 n/2
        bool normalise, ramp, invert;
    } rows[] = {
        {32, 70, 90, 0, true, true, false}, {32, 70, 90, 0, true, true, true},    {48, 40, 30, 10, true, false, false},
        {64, 80, 75, 24, true, true, true}, {16, 8, 141, 5.5, true, true, false}, {32, 100, 50, 0, false, false, true},
    };
    for (const auto& r : rows) {
        const ExtractParams p{r.n, 1, r.radius, r.normalise, r.ramp, r.invert};
        ASSERT_EQ(extract_out_size(p, nullptr), r.n);
        std::vector<float> got((size_t)r.n * r.n);
        ASSERT_EQ(extract_particle(mic.data(), nx, ny, r.cx, r.cy, p, 1.0, nullptr, got.data()), 1);
        // The box: columns cx - n/2 .. cx + n/2 - 1, the centre on pixel n/2.
        std::vector<double> want((size_t)r.n * r.n);
        for (int y = 0; y < r.n; y++)
            for (int x = 0; x < r.n; x++)
                want[(size_t)y * r.n + x] = mic[(size_t)(r.cy - r.n / 2 + y) * nx + r.cx - r.n / 2 + x];
        if (r.normalise) want = normalised(want, r.n, r.radius > 0 ? r.radius : 0.375 * r.n, r.ramp);
        double worst = 0;
        for (size_t i = 0; i < want.size(); i++)
            worst = std::max(worst, std::fabs(got[i] - (r.invert ? -want[i] : want[i])));
        EXPECT_LE(worst, r.normalise ? 2e-4 : 0.0) << r.n << " at " << r.cx << "," << r.cy;
    }
}

TEST(ParticleExtract, BinningSamplesABandLimitedMicrographAtEveryBthPixel) {
    // Waves with whole periods in every box and below the binned Nyquist: the
    // binned particle is exactly the box at every b-th pixel.
    const int nx = 200, ny = 180, n = 48;
    std::vector<float> mic((size_t)nx * ny);
    const int waves[][2] = {{3, 1}, {-5, 4}, {7, -2}, {0, 5}, {2, 7}};
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) {
            double v = 7;
            for (auto& w : waves) v += std::cos(2 * M_PI * (w[0] * x + w[1] * y) / n + w[0]);
            mic[(size_t)y * nx + x] = (float)v;
        }
    for (double bin : {2.0, 3.0, 1.5}) {
        const ExtractParams p{n, bin, 0, false};
        const int out = extract_out_size(p, nullptr);
        ASSERT_EQ(out, (int)(n / bin));
        std::vector<float> got((size_t)out * out);
        ASSERT_EQ(extract_particle(mic.data(), nx, ny, 101, 77, p, 1.0, nullptr, got.data()), 1);
        double worst = 0;
        for (int y = 0; y < out; y++)
            for (int x = 0; x < out; x++) {
                // Sample (x, y) of the binned particle lies at bin * (x, y) of the box.
                const double bxp = 101 - n / 2 + bin * x, byp = 77 - n / 2 + bin * y;
                double v = 7;
                for (auto& w : waves) v += std::cos(2 * M_PI * (w[0] * bxp + w[1] * byp) / n + w[0]);
                worst = std::max(worst, std::fabs(got[(size_t)y * out + x] - v));
            }
        EXPECT_LT(worst, 1e-4) << bin;
    }
}

TEST(ParticleExtract, PhaseFlipIsTheSignOfTheCtfOnTheBoxPaddedByItsSurroundings) {
    const int nx = 140, ny = 130, n = 32, N2 = 2 * n;
    const double pixel = 1.8;
    const std::vector<float> mic = micrograph(nx, ny, 8);
    const Ctf2d c{-1.4, -0.9, 35};
    // Centre (70, 64): the 2n window fits; (20, 100): it crosses the left edge,
    // where the window is filled with the mean of the box.
    for (auto at : {std::make_pair(70, 64), std::make_pair(20, 100)}) {
        const ExtractParams p{n, 1, 0, false, true, false, true};  // flipped, as cut
        std::vector<float> got((size_t)n * n);
        ASSERT_EQ(extract_particle(mic.data(), nx, ny, at.first, at.second, p, pixel, &c, got.data()), 1);
        double boxMean = 0;
        for (int y = 0; y < n; y++)
            for (int x = 0; x < n; x++) boxMean += mic[(size_t)(at.second - n / 2 + y) * nx + at.first - n / 2 + x];
        boxMean /= n * n;
        std::vector<cd> w((size_t)N2 * N2);
        for (int y = 0; y < N2; y++)
            for (int x = 0; x < N2; x++) {
                const int mx = at.first - n + x, my = at.second - n + y;
                w[(size_t)y * N2 + x] = mx >= 0 && my >= 0 && mx < nx && my < ny ? mic[(size_t)my * nx + mx] : boxMean;
            }
        dft2(w, N2, -1);
        int near = 0;
        for (int k = 0; k < N2; k++)
            for (int h = 0; h < N2; h++) {
                // A real image's transform holds (h, k) and (-h, -k) as one value:
                // the sign of the half h <= N/2 serves both, and on the Nyquist
                // column, where k and -k meet, that of |k|.
                const int hh = h > N2 / 2 ? N2 - h : h, kk = h > N2 / 2 ? (N2 - k) % N2 : k;
                const int fk = kk <= N2 / 2 ? kk : kk - N2;
                const double sx = hh / (N2 * pixel), sy = (hh == N2 / 2 ? std::abs(fk) : fk) / (N2 * pixel);
                // Within a hair of a zero the model's rounded wavelength may pick the other sign.
                const double t = textbookCtf(300, 2.7, 0.1, c.defocusU, c.defocusV, c.angle, sx, sy);
                near += std::fabs(t) < 0.02;
                if ((std::fabs(t) < 0.02 ? ctf2d_value(c, sx, sy) : t) < 0) w[(size_t)k * N2 + h] *= -1;
            }
        EXPECT_LT(near, N2 * N2 / 30);
        dft2(w, N2, 1);
        double worst = 0;
        for (int y = 0; y < n; y++)
            for (int x = 0; x < n; x++) {
                const double want = w[(size_t)(y + n / 2) * N2 + x + n / 2].real() / (N2 * N2);
                worst = std::max(worst, std::fabs(got[(size_t)y * n + x] - want));
            }
        EXPECT_LT(worst, 5e-4) << at.first;  // values near 500 that vary by about 1
    }
}

TEST(ParticleExtract, EdgeBoxesAreSkippedOrFilledWithTheMeanOfTheirInsidePart) {
    const int nx = 90, ny = 80, n = 32;
    const std::vector<float> mic = micrograph(nx, ny, 11);
    ExtractParams p;
    p.size = n;
    p.normalise = false;
    std::vector<float> got((size_t)n * n);
    const struct {
        int cx, cy;
        bool fits;
    } rows[] = {{16, 16, true},  {15, 40, false}, {74, 64, true},  {75, 40, false},
                {40, 65, false}, {45, 15, false}, {-1, 10, false}, {90, 10, false}};
    for (const auto& r : rows) {
        p.fillEdge = false;
        EXPECT_EQ(extract_particle(mic.data(), nx, ny, r.cx, r.cy, p, 1, nullptr, got.data()), r.fits ? 1 : 0)
            << r.cx << "," << r.cy;
        p.fillEdge = true;
        const bool centreInside = r.cx >= 0 && r.cx < nx && r.cy >= 0 && r.cy < ny;
        ASSERT_EQ(extract_particle(mic.data(), nx, ny, r.cx, r.cy, p, 1, nullptr, got.data()), centreInside ? 1 : 0);
        if (!centreInside) continue;
        double s = 0;
        int k = 0;
        for (int y = r.cy - n / 2; y < r.cy + n / 2; y++)
            for (int x = r.cx - n / 2; x < r.cx + n / 2; x++)
                if (x >= 0 && y >= 0 && x < nx && y < ny) s += mic[(size_t)y * nx + x], k++;
        for (int y = 0; y < n; y++)
            for (int x = 0; x < n; x++) {
                const int mx = r.cx - n / 2 + x, my = r.cy - n / 2 + y;
                const bool in = mx >= 0 && my >= 0 && mx < nx && my < ny;
                ASSERT_NEAR(got[(size_t)y * n + x], in ? mic[(size_t)my * nx + mx] : s / k, in ? 0 : 1e-3);
            }
    }
}

TEST(ParticleExtract, ParametersThatCannotWorkAreRefusedWithTheirReason) {
    const struct {
        int size;
        double bin, radius;
        bool flip;
        const char* why;  // "" = usable
    } rows[] = {
        {64, 1, 0, false, ""},
        {63, 1, 0, false, "box size 63: an even number of pixels from 8 to 16384"},
        {4, 1, 0, false, "box size 4: an even number of pixels from 8 to 16384"},
        {64, 3, 0, false, "binning 3 of a 64 pixel box leaves no even particle size of at least 8 pixels"},
        {64, 0.5, 0, false, "binning 0.5 of a 64 pixel box leaves no even particle size of at least 8 pixels"},
        {92, 2, 0, false, "binning 92 to 46 pixels needs sizes without prime factors above 19 (try box size 96)"},
        {46, 1, 0, true, "the phase flip of a 46 pixel box needs a size without prime factors above 19 (try 48)"},
        {46, 1, 0, false, ""},
        {64, 1, 45.5, false, "background radius 45.5 leaves no background in a 64 pixel particle"},
        {64, 1, 44, false, ""},
    };
    for (const auto& r : rows) {
        ExtractParams p{r.size, r.bin, r.radius};
        p.flip = r.flip;
        std::string why;
        const int out = extract_out_size(p, &why);
        EXPECT_EQ(why, r.why) << r.size;
        EXPECT_EQ(out != 0, !*r.why) << r.size;
    }
}
