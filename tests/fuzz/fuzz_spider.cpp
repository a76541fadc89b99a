// libFuzzer target: the SPIDER reader on arbitrary bytes, then a write of what it read.
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
    g_base = fuzz_init("spider");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".spi", out = g_base + "-out.spi";
    fuzz_put(in, data, size);
    MRCData d;
    if (d.readSPIDER(in.c_str()) && (size_t)d.xSize() * d.ySize() <= (1u << 20)) d.writeSPIDER(out.c_str());
    unlink(in.c_str());
    unlink(out.c_str());
    return 0;
}
