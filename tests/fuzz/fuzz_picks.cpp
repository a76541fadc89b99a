// libFuzzer target: the pick file readers (RELION .star, EMAN2 .box) on
// arbitrary text, then a write of what they read.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/picks.h"
#include "tests/fuzz/fuzz_util.h"

static std::string g_base;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_base = fuzz_init("picks");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".in", out = g_base + "-out.star";
    fuzz_put(in, data, size);
    std::vector<Pick> p;
    if (readStarPicks(in.c_str(), 64, 48, &p)) writeStarPicks(out.c_str(), p);
    if (readBoxPicks(in.c_str(), &p)) writeBoxPicks(out.c_str(), p);
    unlink(in.c_str());
    unlink(out.c_str());
    return 0;
}
