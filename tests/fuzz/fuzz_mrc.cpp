// libFuzzer target: the MRC reader on arbitrary bytes, then a write of what it read. The size's
// parity picks the name: ".mrcs" reads every input as a particle stack, ".mrc" as an image or,
// with space group 0 and several sections, a stack.
#include <unistd.h>

#include <cstdint>
#include <string>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/formats.h"
#include "tests/fuzz/fuzz_util.h"

static std::string g_base;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_base = fuzz_init("mrc");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + (size & 1 ? ".mrcs" : ".mrc"), out = g_base + "-out.mrc";
    fuzz_put(in, data, size);
    List* l = readMRCFile(in.c_str());
    if (l) {
        MRCData* d = static_cast<MRCData*>(l->objectAt(0));
        if ((size_t)d->xSize() * d->ySize() * l->count() <= (1u << 20)) {
            if (l->count() > 1)
                writeMRCStack(l, out.c_str(), (size >> 1) & 3);
            else
                d->writeMRCData(out.c_str(), (size >> 1) & 3);
        }
    }
    freeDataList(l);
    unlink(in.c_str());
    unlink(out.c_str());
    return 0;
}
