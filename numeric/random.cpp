#include "numeric/random.h"

#include <cmath>
#include <cstdlib>
#include <ctime>

static bool g_unseeded = true;

void seedRandomOnce() {
    if (g_unseeded) {
        srandom((unsigned)time(nullptr));
        g_unseeded = false;
    }
}

float frand(float lo, float hi) {
    seedRandomOnce();
    return (float)(lo + (hi - lo) * (double)random() / 2147483647.0);
}

float grand(float mean, float sigma) {
    seedRandomOnce();
    double u, v, s;
    do {
        u = 2.0 * random() / 2147483647.0 - 1;
        v = 2.0 * random() / 2147483647.0 - 1;
        s = u * u + v * v;
    } while (!(s > 0 && s <= 1));
    return (float)(mean + sigma * u * std::sqrt(-2 * std::log(s) / s));
}
