// Console reports of the wavelet engine.
#pragma once

// Prints "Error: <message>\n" on standard output and ends the program with status 1.
[[noreturn]] void error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Prints "Warning: <message>\n" on standard output.
void warning(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
