// Box database files in the ICE/boxmrc section layout.
#include <cstdio>
#include <cstring>

#include "core/MRCData.h"
#include "core/fileutil.h"

static bool fitsShort(int v) {
    return v >= -32768 && v <= 32767;
}

int MRCData::saveBoxDB(const char* file) {
    if (nBoxes() == 0) {
        std::printf("No boxes to save!\n");
        return 0;
    }
    // The file holds 16-bit numbers: a wrapped coordinate would put the box
    // somewhere else, so nothing is written then.
    for (int i = 0; i < nBoxes(); i++) {
        const BoxRecord& b = Boxes()[i];
        if (!fitsShort(b.x) || !fitsShort(b.y) || !fitsShort(b.xsize) || !fitsShort(b.ysize) || !fitsShort(b.type)) {
            std::printf("Box %d (%d,%d %dx%d) does not fit in a box database file\n", i + 1, b.x, b.y, b.xsize,
                        b.ysize);
            return 0;
        }
    }
    AtomicFile out;
    FILE* fp = out.open(file);
    if (!fp) {
        std::printf("Unable to open file %s\n", file);
        return 0;
    }
    const BoxRecord* b = Boxes();
    std::fputs("!!! I.C.E. Datbase File !!!\n\n!!! Boxmrc Cutouts !!!\n", fp);
    for (int i = 0; i < nBoxes(); i++)
        std::fprintf(fp, "%hd %hd %hd %hd 0 %hd 0 0 0 0 2 %s\n", (short)b[i].x, (short)b[i].y, (short)b[i].xsize,
                     (short)b[i].ysize, (short)b[i].type, b[i].name);
    std::fputs("\n!!! Real Images !!!\n", fp);
    for (int i = 0; i < nBoxes(); i++) std::fprintf(fp, "%s\n", b[i].name);
    std::fputs(
        "!!! Fourier Images Complex !!!\n\n"
        "!!! Fourier Images Real !!!\n\n"
        "!!! Files with amplitudes and phases !!!\n\n"
        "!!! Spectra .com files  !!!\n\n"
        "!!! Miscellaneous Files !!!\n\n"
        "!!! Lattice Parameters !!!\n\n",
        fp);
    if (!out.commit()) {
        std::printf("Unable to open file %s\n", file);
        return 0;
    }
    return 1;
}

// One line of at most 118 characters; the rest of a longer line is dropped so
// that its tail is never taken for a record of its own. False at the end.
static bool readLine(FILE* fp, char* buf, int size) {
    if (!std::fgets(buf, size, fp)) return false;
    size_t n = std::strlen(buf);
    if (n == (size_t)size - 1 && buf[n - 1] != '\n') {
        int c;
        while ((c = std::getc(fp)) != EOF && c != '\n') {
        }
    }
    return true;
}

int MRCData::loadBoxDB(const char* file) {
    FILE* fp = std::fopen(file, "r");
    if (!fp) {
        std::printf("Unable to open file %s\n", file);
        return 0;
    }
    char line[119];
    bool found = false;
    while (readLine(fp, line, sizeof line))
        if (!std::strncmp(line, "!!! Boxmrc Cutouts", 18)) {
            found = true;
            break;
        }
    while (found && readLine(fp, line, sizeof line)) {
        if (!std::strncmp(line, "!!!", 3)) break;
        if (line[0] == '#') continue;
        int x, y, w, h, flag, type, i1, i2, i3, i4, i5;
        char name[120];
        if (std::sscanf(line, " %d %d %d %d %d %d %d %d %d %d %d %119s", &x, &y, &w, &h, &flag, &type, &i1, &i2, &i3,
                        &i4, &i5, name) != 12)
            continue;
        // Coordinates are 16-bit fields; a value that does not fit is no box of ours.
        if (!fitsShort(x) || !fitsShort(y) || !fitsShort(w) || !fitsShort(h) || !fitsShort(type)) continue;
        if (flag) type = 0;
        addBox(x, y, w, h, name, type);
        std::printf("%d  %s\n", nBoxes() - 1, Boxes()[nBoxes() - 1].name);
    }
    std::fclose(fp);
    std::printf("%d boxes for this image\n", nBoxes());
    return 1;
}
