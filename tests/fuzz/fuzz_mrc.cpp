// libFuzzer target: the MRC reader on arbitrary bytes, then a write of what it read.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/MRCData.h"

static std::string g_in, g_out;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reader reports on standard output; keep the fuzzer's log readable.
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    std::string base = "/tmp/tarvik-fuzz-mrc-" + std::to_string(getpid());
    g_in = base + ".mrc";
    g_out = base + "-out.mrc";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* f = std::fopen(g_in.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    MRCData d;
    if (d.readMRCData(g_in.c_str()) && (size_t)d.xSize() * d.ySize() <= (1u << 20)) d.writeMRCData(g_out.c_str(), size & 3);
    unlink(g_in.c_str());
    unlink(g_out.c_str());
    return 0;
}
