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
    g_base = "/tmp/tarvik-fuzz-sal-" + std::to_string(getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t cut = 0;
    while (cut < size && data[cut]) cut++;
    put(g_base + ".HDR", data, cut);
    put(g_base + ".IMG", data + std::min(size, cut + 1), size - std::min(size, cut + 1));
    MRCData d;
    d.readSAL((g_base + ".x").c_str());
    unlink((g_base + ".HDR").c_str());
    unlink((g_base + ".IMG").c_str());
    return 0;
}
