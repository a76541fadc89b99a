// File helpers shared by every format: safe replacement, shell quoting, sizes.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Writes a whole file through a temporary beside it, renamed over the target
// only when everything was written, so a failed save never loses the old file.
class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile();  // abandons an uncommitted temporary
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    FILE* open(const char* path);  // null on failure (errno set)
    int commit();                  // 1 when the file is in place
    void abandon();
    FILE* fp() const { return f; }

private:
    FILE* f = nullptr;
    std::string target, temp;
    int slot = -1;
};

// Makes an interrupted program (SIGINT, SIGTERM, SIGHUP, SIGXFSZ) remove
// the temporaries of saves in progress; SIGXFSZ becomes a failed write.
void install_save_cleanup();

int write_file_atomic(const char* path, const void* data, size_t n);

// Single-quotes a text for /bin/sh: abc'd -> 'abc'\''d'.
std::string shell_quote(const std::string& s);

// The text as valid UTF-8: bytes that start no valid sequence become U+FFFD
// (file names are bytes; JSON and XML want UTF-8).
std::string utf8_text(const std::string& s);
// A JSON string literal of utf8_text(s), quotes included.
std::string json_quote(const std::string& s);

// True for names ending in ".gz" or ".Z" (read through zcat).
bool is_compressed_name(const char* file);

// Opens a file for reading, through "zcat 'name'" when compressed; close with
// close_input. Returns null when it cannot be opened.
FILE* open_input(const char* file, bool* piped);
int close_input(FILE* fp, bool piped);

// Owns a stream: closes the file, or the decompressor pipe, when it goes.
struct OwnedFile {
    FILE* fp = nullptr;
    bool piped = false;
    OwnedFile() = default;
    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;
    ~OwnedFile() { close_input(fp, piped); }
};

// Size of a regular file, or -1 (pipes, errors).
long long file_size(FILE* fp);

// Skips n bytes of a stream that may be a pipe; false when it ends first.
bool skip_bytes(FILE* fp, long long n);

// Reads up to n bytes, retrying short reads (pipes); returns bytes read.
size_t read_fully(FILE* fp, void* buf, size_t n);

// Collects what is printed on standard output while it is active (the
// library's messages), so that a caller can drop it, show it elsewhere or
// quote its first line. Nestable; single-threaded like the rest.
class StdoutCapture {
public:
    StdoutCapture();   // flushes stdout and points it at a temporary file
    ~StdoutCapture();  // points stdout back where it was
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    // What was printed since the start or the last take(), which empties it.
    std::string take();
    // The first non-empty line of a text, without its line end.
    static std::string firstLine(const std::string& text);

private:
    int saved = -1;
    FILE* tmp = nullptr;
};
