// libFuzzer target: the IMAGIC reader on one input split into the .hed and .img files (the first byte picks the header
// length).
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
    g_base = fuzz_init("imagic");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t hed = std::min(size - 1, (size_t)1024 * (1 + data[0] % 3));
    fuzz_put(g_base + ".hed", data + 1, hed);
    fuzz_put(g_base + ".img", data + 1 + hed, size - 1 - hed);
    List* l = readIMAGIC((g_base + ".hed").c_str());
    if (l && l->count() > 0) {
        MRCData* d = static_cast<MRCData*>(l->objectAt(0));
        if ((size_t)d->xSize() * d->ySize() <= (1u << 20)) d->appendImagic((g_base + "-out.hed").c_str());
    }
    freeDataList(l);
    for (const char* e : {".hed", ".img", "-out.hed", "-out.img"}) unlink((g_base + e).c_str());
    return 0;
}
