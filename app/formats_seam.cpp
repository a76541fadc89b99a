#include "app/formats_seam.h"

#include <forms.h>

#include <cstdio>
#include <string>

#include "app/dialogs.h"
#include "core/List.h"
#include "core/MRCData.h"

// Each format member is called when MRCData has it, else the fallback says -1.
#define TARVIK_MEMBER_SEAM(fn)                                                        \
    template <class T>                                                                \
    static auto seam_##fn(T* d, const char* p, int)->decltype((int)d->fn((char*)p)) { \
        return d->fn((char*)p);                                                       \
    }                                                                                 \
    template <class T>                                                                \
    static int seam_##fn(T*, const char*, long) {                                     \
        return -1;                                                                    \
    }

TARVIK_MEMBER_SEAM(readSAL)
TARVIK_MEMBER_SEAM(readPGM)
TARVIK_MEMBER_SEAM(readSPIDER)
TARVIK_MEMBER_SEAM(writeSPIDER)
TARVIK_MEMBER_SEAM(appendImagic)
TARVIK_MEMBER_SEAM(appendPIF)
TARVIK_MEMBER_SEAM(writePGM)

int fmt_read(int kind, MRCData* d, const char* path) {
    switch (kind) {
        case 0:
            return d->readMRCData(path);
        case 1:
            return seam_readSAL(d, path, 0);
        case 2:
            return seam_readPGM(d, path, 0);
        case 4:
            return seam_readSPIDER(d, path, 0);
    }
    return -1;
}

int fmt_writeSPIDER(MRCData* d, const char* path) {
    return seam_writeSPIDER(d, path, 0);
}
int fmt_appendImagic(MRCData* d, const char* path) {
    return seam_appendImagic(d, path, 0);
}
int fmt_appendPIF(MRCData* d, const char* path) {
    return seam_appendPIF(d, path, 0);
}
int fmt_writePGM(MRCData* d, const char* path) {
    return seam_writePGM(d, path, 0);
}

// The stack readers are free functions of the format modules.
#if __has_include("core/formats.h")
#include "core/formats.h"
List* fmt_readIMAGIC(const char* path, bool* missing) {
    *missing = false;
    return readIMAGIC(path);
}

List* fmt_readPIF(const char* path, bool* missing) {
    *missing = false;
    return readPIF(path);
}
#else
List* fmt_readIMAGIC(const char*, bool* missing) {
    *missing = true;
    return nullptr;
}

List* fmt_readPIF(const char*, bool* missing) {
    *missing = true;
    return nullptr;
}
#endif

void fmt_unavailable(const char* what) {
    std::printf("%s files are not supported in this build\n", what);
    dlg_message(what, "files are not supported", "in this build.");
}
