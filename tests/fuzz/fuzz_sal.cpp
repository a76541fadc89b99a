// libFuzzer target: the Scans-A-Lot reader: the input up to its first NUL byte is the header, the rest the data file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/MRCData.h"
#include "core/hooks.h"
#include "tests/fuzz/fuzz_util.h"

static std::string g_base;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_base = fuzz_init("sal");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t cut = 0;
    while (cut < size && data[cut]) cut++;
    fuzz_put(g_base + ".HDR", data, cut);
    fuzz_put(g_base + ".IMG", data + std::min(size, cut + 1), size - std::min(size, cut + 1));
    MRCData d;
    d.readSAL((g_base + ".x").c_str());
    unlink((g_base + ".HDR").c_str());
    unlink((g_base + ".IMG").c_str());
    return 0;
}
