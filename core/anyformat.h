// Opening and saving data sets by file name: the format is chosen from the
// file's content and extension, as the command-line tool and the workbench's
// start-up arguments both need.
#pragma once

#include <string>

class List;
class MRCData;

// Reads every image of a file into new data sets (stacks give several).
// Null on failure, after the reader has printed its reason.
List* readAnyFile(const char* path);

// The format that writeAnyFile uses for a name: "mrc", "mrcs" (MRC stack), "spider",
// "imagic", "pif" or "pgm", from the extension; "mrc" when none matches.
std::string formatForName(const char* path);

// Writes one data set in the given format ("" = by extension). shortMode is
// the MRC 16-bit choice (0 float, 1 rescaled, 2 raw). 1 on success.
int writeAnyFile(MRCData* d, const char* path, const std::string& format, int shortMode);

// Writes every data set of a list into one file: one MRC stack for "mrcs", one
// image after the other for the other formats (appended for the stack formats). 1 on success.
int writeAnyList(List* l, const char* path, const std::string& format, int shortMode);

// Deletes the data sets of a list returned by readAnyFile, and the list.
void freeDataList(List* l);

// True for formats that hold several images.
bool isStackFormat(const std::string& format);
