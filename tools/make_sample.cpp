// Writes a synthetic 2048 x 2048 micrograph: particle-like blobs on a slowly
// varying background with noise, for trying the programs without real data;
// with --ctf one seen through a known CTF instead (1.8 A pixels, the
// workbench's default 100 kV and Cs 5.6 mm, 2 micrometres underfocus, 0.2 of
// astigmatism at 30 degrees), for trying the CTF tools.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <string>

#include "core/MRCData.h"
// The tests' micrograph of known CTF, one definition for both.
#include "tests/core/ctf_synth.h"

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--ctf") {
        SynthCtf c;
        c.nx = c.ny = 2048, c.pixel = 1.8f, c.kv = 100, c.cs = 5.6f, c.defocus = 2.0f, c.astig = 0.2f, c.angle = 30;
        c.bfactor = 150, c.seed = 12345;
        return synth_write_mrc(argv[2], synth_micrograph(c), c.nx, c.nx, c.ny, c.pixel) ? 0 : 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-sample [--ctf] OUT.mrc\n");
        return 2;
    }
    const int n = 2048;
    std::vector<float> img((size_t)n * n);
    srandom(12345);  // the same picture on every build
    auto uni = [] { return (double)random() / 2147483647.0; };
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++)
            img[(size_t)y * n + x] = (float)(100 + 8 * std::sin(x * 0.004) * std::cos(y * 0.003));
    // Particles: rings with a dense core, 60-90 pixels across.
    for (int p = 0; p < 160; p++) {
        double cx = 60 + uni() * (n - 120), cy = 60 + uni() * (n - 120), r = 30 + 15 * uni();
        int x0 = (int)(cx - 2 * r), x1 = (int)(cx + 2 * r), y0 = (int)(cy - 2 * r), y1 = (int)(cy + 2 * r);
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) {
                if (x < 0 || y < 0 || x >= n || y >= n) continue;
                double d = std::hypot(x - cx, y - cy) / r;
                img[(size_t)y * n + x] -= (float)(25 * std::exp(-d * d * 2) + 10 * std::exp(-(d - 0.8) * (d - 0.8) * 40));
            }
    }
    for (auto& v : img) {
        double u1 = uni() + 1e-12, u2 = uni();
        v += (float)(12 * std::sqrt(-2 * std::log(u1)) * std::cos(2 * M_PI * u2));
    }
    MRCData d;
    d.setRealData(img.data(), n, n, 1);
    d.setName("sample");
    if (!d.writeMRCData(argv[1], 0)) return 1;
    return 0;
}
