// The live window's start from an estimate: the background of the profile's
// own size and the scale that lifts the model's rings to the profile's.
#include <gtest/gtest.h>

#include <cmath>

#include "ctf/livecalc.h"
#include "ctf/model.h"

namespace {
const float kX0 = 0, kDx = 1.536f / (512 * 1.8f);  // the live window's abscissae, 512 rows at 1.8 A

// y = the fitting form of p (scale as given) at the window's abscissae, times k.
void profile(const float* p, float k, const CtfContext& c, float* x, float* y) {
    for (int i = 0; i < 200; i++) {
        float q[8];
        std::copy(p, p + 8, q);
        x[i] = kX0 + kDx * i;
        y[i] = k * ctffn(x[i], q, c.lambda, c.Cs, c.g);
    }
}
}  // namespace

TEST(LiveSeed, ScaleOfTheRingsAndABackgroundOfTheProfilesSize) {
    const CtfContext c = ctf_context(300, 2.7f, 2.0f);
    float x[200], y[200];
    // The scale of profiles made by the model itself: the rings' contrast, whatever
    // level the background is given at.
    for (float scale : {0.2f, 1.0f, 3.5f}) {
        const float p[8] = {-3.0f, 8.0f, scale, 0.07f, 0.6f, 1.2f, 0.5f, 0.04f};
        profile(p, 1, c, x, y);
        EXPECT_NEAR(live_seed_scale(x, y, p, c), scale, 0.05 * scale) << scale;
        for (int i = 0; i < 200; i++) y[i] += 0.3f;
        EXPECT_NEAR(live_seed_scale(x, y, p, c), scale, 0.05 * scale) << scale << " lifted";
    }
    // A profile without rings: next to nothing.
    const float p[8] = {-3.0f, 8.0f, 1.0f, 0.07f, 0.6f, 1.2f, 0.5f, 0.04f};
    float bare[8] = {-3.0f, 8.0f, 0.0f, 0.07f, 0.6f, 1.2f, 0.5f, 0.04f};
    profile(bare, 1, c, x, y);
    EXPECT_LT(live_seed_scale(x, y, p, c), 0.1f);
    // Profiles of any size: the seeded background's square lies within a factor
    // of two of the profile over its middle, where the defaults miss by far.
    for (float k : {1e-2f, 1.0f, 1e4f}) {
        profile(p, k, c, x, y);
        float q[8] = {-3.0f, 8.0f, 0.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
        ASSERT_TRUE(live_seed_background(x, y, q, c)) << k;
        EXPECT_GE(q[4], 0);
        EXPECT_GE(q[6], 0);
        for (int i = 40; i < 160; i += 20) {
            const double b = c.g * (q[4] * std::exp(-std::pow(M_PI * x[i] * q[5] / 2, 2)) + q[6] * std::exp(-x[i] / q[7]));
            EXPECT_GT(b * b, y[i] / 2) << k << " at " << i;
            EXPECT_LT(b * b, y[i] * 2) << k << " at " << i;
        }
    }
    float zero[200] = {};
    float q[8] = {-3.0f, 8.0f, 0.0f, 0.07f, 1.084f, 1.57f, 0.8157f, 0.03466f};
    EXPECT_FALSE(live_seed_background(x, zero, q, c));
    EXPECT_EQ(q[4], 1.084f);
}
