// libFuzzer target: the user-function definition reader on arbitrary text, a look-up by name and a write.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/List.h"
#include "tests/fuzz/fuzz_util.h"
#include "ufn/usrfn.h"

static std::string g_base;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_base = fuzz_init("usrfn");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in = g_base + ".ufn";
    fuzz_put(in, data, size);
    FILE* f = std::fopen(in.c_str(), "r");
    if (!f) return 0;
    List l;
    for (;;) {
        UsrFn* u = new UsrFn();
        if (!u->readself(f)) {
            delete u;
            break;
        }
        u->setGlobal(l.count() & 1);
        l.addObject(u);
    }
    std::fclose(f);
    if (l.count()) (void)umenu_find(&l, static_cast<UsrFn*>(l.objectAt(l.count() - 1))->getmenu());
    (void)umenu_find(&l, "");
    FILE* null = std::fopen("/dev/null", "w");
    for (int i = 0; i < l.count(); i++) static_cast<UsrFn*>(l.objectAt(i))->writeself(null);
    std::fclose(null);
    umenu_clear(&l);
    unlink(in.c_str());
    return 0;
}
