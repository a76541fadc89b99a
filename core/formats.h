// Readers and writers of the stack formats, which hold several data sets per file.
#pragma once

#include <memory>
#include <string>

class List;

// Every image of an IMAGIC pair (file names either member or the stem with
// any extension); a List of new data sets, or null after printing why.
List* readIMAGIC(const char* file);
// Every 2-D image of a PIF file; a List of new data sets, or null.
List* readPIF(const char* file);
// Any MRC file as a List: one data set for a single image (as readMRCData reads it), one per
// section "NAME:1", "NAME:2", ... for a particle stack (name ending in ".mrcs", or space group 0
// with nz > 1). Volumes are refused. Null after printing why.
List* readMRCFile(const char* file);
// Writes the data sets of a list, all of one size and kind, as one MRC image stack (space
// group 0, nz = count) with the first one's header and pixel size; the sets stay unchanged. 1 or 0.
int writeMRCStack(List* sets, const char* file, int shortMode);

// Writes a stack of real images one at a time, so that a stack need never be
// held in memory: an MRC stack as writeMRCStack writes it (float values, the
// pixel size recorded), its count and statistics set at commit. The file
// appears only on a successful commit; otherwise nothing is left behind.
class MRCStackWriter {
public:
    MRCStackWriter();
    ~MRCStackWriter();
    MRCStackWriter(const MRCStackWriter&) = delete;
    MRCStackWriter& operator=(const MRCStackWriter&) = delete;
    // 1, or 0 after "Cannot open file for writing"; name goes into the label.
    int open(const char* file, int nx, int ny, float pixel, const char* name);
    // Appends one image of nx * ny values; 0 after "Cannot write file".
    int add(const float* img);
    // 1 when the stack is in place; 0 after a message (also for no image).
    int commit();
    int count() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

// Helpers the format files share.
namespace fmt {
// Part of a path after its last '/' (the whole path when it has none).
const char* baseName(const char* path);
// Words of a header block in native order, read/written through memcpy.
float getF(const unsigned char* b, int off);
int getI(const unsigned char* b, int off);
void putF(unsigned char* b, int off, float v);
void putI(unsigned char* b, int off, int v);
// Copies at most n bytes of a text field and terminates it (buf holds n + 1).
void fieldText(char* buf, const unsigned char* field, int n);
// Progress k of count for the stack readers (k*1000000 of count*1000000 in spirit).
void stackProgress(int k, int count);
}  // namespace fmt

// The shell command that turns a non-PGM picture into a PGM on standard
// output, chosen by the name's ending; the name is shell-quoted.
std::string pictureCommand(const char* file);
