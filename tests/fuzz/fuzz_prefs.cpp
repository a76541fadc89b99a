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
    g_base = "/tmp/tarvik-fuzz-prefs-" + std::to_string(getpid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::string home;
    if (home.empty()) {
        home = g_base + "-home";
        mkdir(home.c_str(), 0700);
        setenv("HOME", home.c_str(), 1);
    }
    put(home + "/.tvenv", data, size);
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
