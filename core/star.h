// STAR files as RELION writes them: data_ blocks holding loops (a header of
// _item names, then one row of values per line) and single items. Every table
// of the project (coordinates, CTF estimates, particles, micrograph sets) is
// read through this one reader, and written with its quoting rule.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

struct StarTable {
    std::string block;                         // the block's name, after "data_"
    bool loop = false;                         // a loop_, or the block's single items as one row
    std::vector<std::string> columns;          // item names with their underscore: "_rlnCoordinateX"
    std::vector<std::vector<std::string>> rows;
    std::vector<int> lines;                    // the file line of each row, for messages
    // Index of a column by name, -1 when absent.
    int column(const char* name) const;
};

struct StarFile {
    std::vector<StarTable> tables;  // in file order
    // The first table holding every named column (null-terminated list), or null.
    const StarTable* find(std::initializer_list<const char*> names) const;
    // The first table of a block by name ("micrographs" for data_micrographs), or null.
    const StarTable* block(const char* name) const;
};

// A line left out of a table, and why.
struct StarSkip {
    int line;
    std::string why;
};

// Parses STAR text; 1, or 0 with the reason in *why as "line N: ..." (a row whose
// count of values differs from its loop's columns, an unterminated quote, a line
// that is not text or too long, too many columns or values). With `skipped`,
// the lines of the first three kinds are left out and listed there instead, so
// that a file edited by hand or written by another version is read line by
// line; only the limits still fail it.
int parseStar(const char* text, size_t n, StarFile* out, std::string* why, std::vector<StarSkip>* skipped = nullptr);
// Reads a STAR file; 0 after printing "FILE line N: ..." or "Unable to open file FILE"
// (with whyOut, that text goes there and nothing is printed).
int readStar(const char* file, StarFile* out, std::vector<StarSkip>* skipped = nullptr,
             std::string* whyOut = nullptr);

// Whether a value can stand in a row as it is: RELION reads values up to the
// next blank and takes none for quoting, so a value with blanks, control
// characters or a leading quote, '_' or '#' (or data_/loop_) cannot be written.
bool starValueOk(const std::string& v);

// A number of the whole value, finite and within [lo, hi].
bool starNumber(const std::string& v, double lo, double hi, double* out);
