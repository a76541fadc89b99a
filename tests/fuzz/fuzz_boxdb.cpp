// libFuzzer target: the box database reader on arbitrary text, then a save of what it read.
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
    g_base = fuzz_init("boxdb");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".db", out = g_base + "-out.db";
    fuzz_put(in, data, size);
    MRCData d;
    d.loadBoxDB(in.c_str());
    if (d.nBoxes() > 0) d.saveBoxDB(out.c_str());
    unlink(in.c_str());
    unlink(out.c_str());
    return 0;
}
