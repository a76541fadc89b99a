// Fourier resampling of the periodic component: a dark blob on one edge and
// ice on the other no longer ring across the result, and the result still is
// the image, low-passed.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "numeric/fcrop.h"

namespace {

// A smooth image that is not periodic: a tilt, a dark disc across the top
// edge, a bump by the right edge. Its samples at the new grid's points are
// what a resampling without ringing gives (it has no detail finer than that).
double scene(double x, double y) {
    const double d = std::hypot(x - 150, y - 420) - 120;
    return 0.002 * x - 0.001 * y - 3.0 / (1 + std::exp(d / 6)) +
           std::exp(-((x - 470) * (x - 470) + (y - 200) * (y - 200)) / 800.0);
}

}  // namespace

TEST(FourierResize, PeriodicComponentDoesNotRingAtTheEdges) {
    const int nx = 480, ny = 400;
    std::vector<float> u((size_t)nx * ny);
    for (int y = 0; y < ny; y++)
        for (int x = 0; x < nx; x++) u[(size_t)y * nx + x] = (float)scene(x, y);
    struct Case {
        int mx, my;
        bool periodic;
        double maxError;  // of the 3.0 step
    } cases[] = {{96, 80, true, 0.2}, {160, 100, true, 0.2}, {96, 80, false, 1e9}};
    double plainError = 0;
    for (const Case& c : cases) {
        std::vector<float> o;
        ASSERT_EQ(fourier_resize(u.data(), nx, ny, c.mx, c.my, &o, c.periodic), 1);
        double worst = 0, mean = 0;
        for (int y = 0; y < c.my; y++)
            for (int x = 0; x < c.mx; x++) {
                const double e = o[(size_t)y * c.mx + x] - scene(x * (double)nx / c.mx, y * (double)ny / c.my);
                worst = std::max(worst, std::fabs(e));
                mean += o[(size_t)y * c.mx + x];
            }
        EXPECT_LT(worst, c.maxError) << c.mx << "x" << c.my;
        if (!c.periodic) plainError = worst;
        // The mean is kept either way.
        double m0 = 0;
        for (float v : u) m0 += v;
        EXPECT_NEAR(mean / (c.mx * c.my), m0 / ((double)nx * ny), 1e-3) << c.mx << "x" << c.my;
    }
    // Without it the jump between opposite edges rings across a band.
    EXPECT_GT(plainError, 1.0);
}
