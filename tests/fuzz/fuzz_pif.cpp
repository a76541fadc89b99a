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
#include "tests/fuzz/fuzz_util.h"

static std::string g_base;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_base = fuzz_init("pif");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".pif", out = g_base + "-out.pif";
    fuzz_put(in, data, size);
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
