#include "numeric/fcrop.h"

#include <algorithm>
#include <cmath>

#include "fft/ifftsubs.h"

int fourier_resize(const float* src, int nx, int ny, int mx, int my, std::vector<float>* out) {
    if (nx < 2 || ny < 2 || mx < 2 || my < 2 || !isvalidfft(nx) || !isvalidfft(ny) || !isvalidfft(mx) ||
        !isvalidfft(my))
        return 0;
    std::vector<float> a((size_t)(nx + 2) * ny);
    for (int y = 0; y < ny; y++) std::copy(src + (size_t)y * nx, src + (size_t)(y + 1) * nx, &a[(size_t)y * (nx + 2)]);
    int dir = 0;
    todfft(a.data(), &nx, &ny, &dir);
    std::vector<float> b((size_t)(mx + 2) * my, 0.0f);
    const int hmax = std::min(nx, mx) / 2;
    // Shrinking, the new Nyquist row takes frequency +my/2, not -my/2, as RELION's
    // resizing does: the same choice gives the same particles.
    const int kLo = my < ny ? 1 - my / 2 : -ny / 2, kHi = my < ny ? my / 2 : ny / 2 - 1;
    // Both scale by 1/sqrt(size): the factor keeps a constant image constant.
    const float f = (float)std::sqrt((double)mx * my / ((double)nx * ny));
    for (int k = kLo; k <= kHi; k++) {
        const float* ra = &a[(size_t)fft_row_of(k, ny) * (nx + 2)];
        float* rb = &b[(size_t)fft_row_of(k, my) * (mx + 2)];
        for (int i = 0; i < 2 * (hmax + 1); i++) rb[i] = f * ra[i];
    }
    dir = 1;
    todfft(b.data(), &mx, &my, &dir);
    out->resize((size_t)mx * my);
    for (int y = 0; y < my; y++)
        std::copy(&b[(size_t)y * (mx + 2)], &b[(size_t)y * (mx + 2)] + mx, out->data() + (size_t)y * mx);
    return 1;
}
