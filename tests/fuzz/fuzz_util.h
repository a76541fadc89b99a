// Shared set-up of the fuzz targets: quiet standard output, a per-process
// file stem in /tmp, and writing the input to a file for the readers.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

// The readers report on standard output; keep the fuzzer's log readable.
// Returns "/tmp/tarvik-fuzz-NAME-PID".
inline std::string fuzz_init(const char* name) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    return std::string("/tmp/tarvik-fuzz-") + name + "-" + std::to_string(getpid());
}

inline void fuzz_put(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return;
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}
