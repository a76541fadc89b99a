// The core entry points that worker threads call give, four at a time in four threads,
// exactly what they give one after another.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

#include "ctf/estimate.h"
#include "tests/core/ctf_synth.h"
#include "tests/core/numeric_testutil.h"
#include "wav/wavelet.h"

namespace {

// Runs job(0..3) in four threads at once.
void inFourThreads(const std::function<void(int)>& job) {
    std::vector<std::thread> t;
    for (int i = 0; i < 4; i++) t.emplace_back(job, i);
    for (std::thread& th : t) th.join();
}

// Small micrographs, each of its own defocus, astigmatism, pixel size and voltage.
SynthCtf micrograph(int i) {
    SynthCtf s;
    s.nx = s.ny = 512;
    s.pixel = 1.4f + 0.3f * i;
    s.kv = i % 2 ? 200 : 300;
    s.defocus = 1.0f + 0.6f * i;
    s.astig = 0.1f * i;
    s.angle = 40.0f * i;
    s.seed = 11 + i;
    return s;
}

bool same(const CtfEstimate& a, const CtfEstimate& b) {
    return a.defocus == b.defocus && a.defocusU == b.defocusU && a.defocusV == b.defocusV &&
           a.astigAngle == b.astigAngle && a.resolution == b.resolution && a.score == b.score && a.tile == b.tile &&
           (a.why == b.why || (a.why && b.why && std::strcmp(a.why, b.why) == 0)) && a.s == b.s &&
           a.profile == b.profile && a.model == b.model && a.zeros == b.zeros;
}

}  // namespace

TEST(Threads, FourCtfEstimatesAtOnceEqualTheSerialOnes) {
    std::vector<float> img[4];
    CtfEstimateParams p[4];
    for (int i = 0; i < 4; i++) {
        const SynthCtf s = micrograph(i);
        img[i] = synth_micrograph(s);
        p[i].pixel = s.pixel, p[i].kv = s.kv, p[i].csMM = s.cs;
    }
    CtfEstimate serial[4], threaded[4];
    int ok[4], okThreaded[4];
    for (int i = 0; i < 4; i++) ok[i] = ctf_estimate(img[i].data(), 512, 512, p[i], &serial[i]);
    inFourThreads([&](int i) { okThreaded[i] = ctf_estimate(img[i].data(), 512, 512, p[i], &threaded[i]); });
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(ok[i], 1) << i << ": " << serial[i].why;
        EXPECT_EQ(okThreaded[i], ok[i]) << i;
        EXPECT_TRUE(same(serial[i], threaded[i])) << i;
        EXPECT_NEAR(-serial[i].defocus, micrograph(i).defocus, 0.03 * micrograph(i).defocus) << i;
    }
}

// Alignment (its peak search) and the wavelet filter (its banks), a hundred times over in each thread.
TEST(Threads, AlignmentsAndWaveletFiltersAtOnceEqualTheSerialOnes) {
    Data a[4], b[4], w[4];
    const float gains[10] = {0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f, 0.4f};
    const int basis[4] = {1, 4, 9, 14};
    for (int i = 0; i < 4; i++) {
        a[i] = blobImage(64, 0, 0, 0, Blobs(), 20 + i);
        b[i] = blobImage(64, 1.5f * i - 3, 2.0f - i, 0, Blobs(), 20 + i);
        w[i] = noiseData(64, 48, 30 + i);
    }
    MRCData::Shift shift[4];
    std::vector<float> filtered[4];
    testing::internal::CaptureStdout();  // "Align: " of every call
    for (int i = 0; i < 4; i++) {
        shift[i] = a[i]->align(b[i].get(), 1);
        Data c = realData(std::vector<float>(w[i]->getRealData(), w[i]->getRealData() + 64 * 48), 64, 48);
        ASSERT_EQ(c->DWTFilt(basis[i], 3, 0, gains), 1);
        filtered[i].assign(c->getRealData(), c->getRealData() + 64 * 48);
    }
    int wrong[4] = {};
    inFourThreads([&](int i) {
        for (int k = 0; k < 100; k++) {
            const MRCData::Shift s = a[i]->align(b[i].get(), 1);
            std::vector<float> v(w[i]->getRealData(), w[i]->getRealData() + 64 * 48);
            MRCData c(30, 1);
            c.setRealData(v.data(), 64, 48, 1);
            c.DWTFilt(basis[i], 3, 0, gains);
            wrong[i] += s.dx != shift[i].dx || s.dy != shift[i].dy ||
                        !std::equal(filtered[i].begin(), filtered[i].end(), c.getRealData());
        }
    });
    testing::internal::GetCapturedStdout();
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(wrong[i], 0) << i;
        EXPECT_NEAR(shift[i].dx, 3 - 1.5f * i, 0.3f) << i;
    }
}
