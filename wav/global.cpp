#include "wav/global.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void error(const char* fmt, ...) {
    std::fputs("Error: ", stdout);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stdout, fmt, ap);
    va_end(ap);
    std::fputs("\n", stdout);
    std::fflush(stdout);
    std::exit(1);
}

void warning(const char* fmt, ...) {
    std::fputs("Warning: ", stdout);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stdout, fmt, ap);
    va_end(ap);
    std::fputs("\n", stdout);
}
