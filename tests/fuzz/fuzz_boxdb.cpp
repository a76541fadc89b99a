// libFuzzer target: the box database reader on arbitrary text, then a save of what it read.
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
    g_base = "/tmp/tarvik-fuzz-boxdb-" + std::to_string(getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".db", out = g_base + "-out.db";
    put(in, data, size);
    MRCData d;
    d.loadBoxDB(in.c_str());
    if (d.nBoxes() > 0) d.saveBoxDB(out.c_str());
    unlink(in.c_str());
    unlink(out.c_str());
    return 0;
}
