#include "numeric/testimage.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/MRCData.h"
#include "numeric/random.h"

namespace {
const char* const kLabels[kTestImages] = {"1.0",     "Sin(x)",   "Sin(y)", "Sin(x+y)", "Sin(x+y)+1.0",
                                          "Gauss y", "Gauss xy", "Steps",  "Pixels",   "Gauss x Slip"};
constexpr int N = 512;
constexpr double kK = 0.09817477042468103;  // 2 pi / 64: a period of 64 pixels

double gauss(double x, double y, double cx, double cy) {
    const double r2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
    return std::exp(-r2 / 64);  // exp(-(r/8)^2)
}
}  // namespace

const char* testImageLabel(int item) {
    return item >= 1 && item <= kTestImages ? kLabels[item - 1] : nullptr;
}

int testImageItem(const char* label) {
    for (int i = 0; label && i < kTestImages; i++)
        if (std::strcmp(label, kLabels[i]) == 0) return i + 1;
    return 0;
}

MRCData* makeTestImage(int item) {
    if (!testImageLabel(item)) return nullptr;
    std::vector<float> v((size_t)N * N);
    if (item == 10) seedRandomOnce();
    for (int y = 0; y < N; y++) {
        // "Gauss x Slip": every row slips by its own random phase.
        const double q = item == 10 ? 512.0 * random() / 2147483647.0 : 0;
        for (int x = 0; x < N; x++) {
            double val = 0;
            switch (item) {
                case 1:
                    val = 1.0;
                    break;
                case 2:
                    val = std::sin(kK * x);
                    break;
                case 3:
                    val = std::sin(kK * y);
                    break;
                case 4:
                    val = std::sin(kK * (x + y));
                    break;
                case 5:
                    val = std::sin(kK * (x + y)) + 1;
                    break;
                case 6:
                    val = std::exp(-(y / 32.0) * (y / 32.0));
                    break;
                case 7:
                    val = gauss(x, y, 230.5, 230.5);
                    break;
                case 8:
                    val = x / 16 + (y & 240);
                    break;
                case 9:
                    val = (x % 2 ? x : 255 - x) + (y % 2 ? y : 255 - y);
                    break;
                case 10:
                    val = gauss(x, y, 64, 256) + 0.25 * std::sin(M_PI * ((y - 256) + x) / 4) +
                          0.25 * std::sin(M_PI * (x + q) / 8);
                    break;
            }
            v[(size_t)y * N + x] = (float)val;
        }
    }
    MRCData* d = new MRCData();
    d->setRealData(v.data(), N, N, 1);  // ends with update
    d->setName("Test image");
    return d;
}
