// Small helpers shared by the format readers and writers.
#include <cstring>

#include "core/formats.h"
#include "core/hooks.h"

namespace fmt {

const char* baseName(const char* path) {
    const char* s = std::strrchr(path, '/');
    return s ? s + 1 : path;
}

float getF(const unsigned char* b, int off) {
    float v;
    std::memcpy(&v, b + off, 4);
    return v;
}
int getI(const unsigned char* b, int off) {
    int v;
    std::memcpy(&v, b + off, 4);
    return v;
}
void putF(unsigned char* b, int off, float v) {
    std::memcpy(b + off, &v, 4);
}
void putI(unsigned char* b, int off, int v) {
    std::memcpy(b + off, &v, 4);
}

void fieldText(char* buf, const unsigned char* field, int n) {
    int i = 0;
    for (; i < n && field[i]; i++) buf[i] = (char)field[i];
    buf[i] = 0;
}

void stackProgress(int k, int count) {
    // k*1000000 overflows an int past 2147 images; the ratio is what shows.
    if (count <= 2000)
        do_progress(k * 1000000, count * 1000000, "Reading multiple images");
    else
        do_progress(k, count, "Reading multiple images");
}

}  // namespace fmt
