// libFuzzer target: the preference file reader (HOME points at a private folder), then lookups and a save.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/prefs.h"
#include "tests/fuzz/fuzz_util.h"

static std::string g_base;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_base = fuzz_init("prefs");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string home;
    if (home.empty()) {
        home = g_base + "-home";
        mkdir(home.c_str(), 0700);
        setenv("HOME", home.c_str(), 1);
    }
    fuzz_put(home + "/.tvenv", data, size);
    clearenv2();
    openenv2();
    for (int i = 0; i < envcount() && i < 50; i++) {
        const char* n = envname(i);
        (void)getenv2(n);
        (void)getenvf(n);
        (void)getenvi(n);
    }
    (void)getenvfd("mag", 30);
    saveenv2();
    clearenv2();
    return 0;
}
