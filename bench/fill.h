// The same pseudo-random values in -0.5..0.5 for every benchmark that times a transform.
#pragma once

#include <cstddef>

inline void fill(float* a, size_t n) {
    unsigned s = 12345;
    for (size_t i = 0; i < n; i++) {
        s = s * 1103515245u + 12345u;
        a[i] = (float)((s >> 8) & 0xffff) / 65536.0f - 0.5f;
    }
}
