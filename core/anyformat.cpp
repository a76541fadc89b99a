#include "core/anyformat.h"

#include <cstdio>
#include <cstring>

#include "core/List.h"
#include "core/MRCData.h"

static bool endsWith(const char* s, const char* suffix) {
    size_t n = std::strlen(s), m = std::strlen(suffix);
    return n >= m && std::strcmp(s + n - m, suffix) == 0;
}

List* readAnyFile(const char* path) {
    MRCData* d = new MRCData();
    if (!d->readMRCData(path)) {
        delete d;
        return nullptr;
    }
    List* l = new List();
    l->addObject(d);
    return l;
}

std::string formatForName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    (void)endsWith;
    (void)base;
    return "mrc";
}

int writeAnyFile(MRCData* d, const char* path, const std::string& format, int shortMode) {
    std::string f = format.empty() ? formatForName(path) : format;
    if (f == "mrc") return d->writeMRCData(path, shortMode);
    std::printf("Unknown output format %s\n", f.c_str());
    return 0;
}

void freeDataList(List* l) {
    if (!l) return;
    for (int i = 0; i < l->count(); i++) delete static_cast<MRCData*>(l->objectAt(i));
    delete l;
}

bool isStackFormat(const std::string& format) { return format == "imagic" || format == "pif"; }
