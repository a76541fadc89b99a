// libFuzzer target: the SPIDER reader on arbitrary bytes, then a write of what it read.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/MRCData.h"

static std::string g_base;

static void put(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The readers report on standard output; keep the fuzzer's log readable.
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    g_base = "/tmp/tarvik-fuzz-spider-" + std::to_string(getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".spi", out = g_base + "-out.spi";
    put(in, data, size);
    MRCData d;
    if (d.readSPIDER(in.c_str()) && (size_t)d.xSize() * d.ySize() <= (1u << 20)) d.writeSPIDER(out.c_str());
    unlink(in.c_str());
    unlink(out.c_str());
    return 0;
}
