// libFuzzer target: the PIF reader on arbitrary bytes, then an append of the first image read.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/formats.h"

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
    g_base = "/tmp/tarvik-fuzz-pif-" + std::to_string(getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".pif", out = g_base + "-out.pif";
    put(in, data, size);
    List* l = readPIF(in.c_str());
    if (l && l->count() > 0) {
        MRCData* d = static_cast<MRCData*>(l->objectAt(0));
        if ((size_t)d->xSize() * d->ySize() <= (1u << 20)) d->appendPIF(out.c_str());
    }
    freeDataList(l);
    unlink(in.c_str());
    unlink(out.c_str());
    return 0;
}
