// libFuzzer target: the PGM reader on "P5" followed by arbitrary bytes (no converter is started), then a write.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/MRCData.h"
#include "tests/fuzz/fuzz_util.h"

static std::string g_base;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_base = fuzz_init("pgm");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".pgm", out = g_base + "-out.pgm";
    FILE* f = std::fopen(in.c_str(), "wb");
    if (!f) return 0;
    std::fputs("P5", f);
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
    MRCData d;
    if (d.readPGM(in.c_str()) && (size_t)d.xSize() * d.ySize() <= (1u << 20)) d.writePGM(out.c_str());
    unlink(in.c_str());
    unlink(out.c_str());
    return 0;
}
