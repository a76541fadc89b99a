// libFuzzer target: the MRC reader on arbitrary bytes, then a write of what it read.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "core/MRCData.h"
#include "tests/fuzz/fuzz_util.h"

static std::string g_base;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_base = fuzz_init("mrc");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".mrc", out = g_base + "-out.mrc";
    fuzz_put(in, data, size);
    MRCData d;
    if (d.readMRCData(in.c_str()) && (size_t)d.xSize() * d.ySize() <= (1u << 20)) d.writeMRCData(out.c_str(), size & 3);
    unlink(in.c_str());
    unlink(out.c_str());
    return 0;
}
