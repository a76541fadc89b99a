// tarvik-proc: one table of named subcommands over the core library.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class MRCData;
class List;
struct CtfEstimateParams;

struct ProcArgs {
    std::vector<std::string> pos;                // positional arguments
    std::map<std::string, std::string> opt;      // --name value
    std::map<std::string, bool> flag;            // --name
    bool has(const char* f) const { return flag.count(f) != 0; }
    const char* get(const char* o, const char* def = nullptr) const {
        auto it = opt.find(o);
        return it == opt.end() ? def : it->second.c_str();
    }
};

struct ProcCommand {
    const char* name;
    const char* usage;    // arguments after the name, e.g. "IN OUT [--short|--short-raw]"
    const char* summary;  // one line for --help
    int minPos, maxPos;   // positional argument counts (maxPos -1 = unlimited)
    const char* valueOptions;  // comma-separated options that take a value
    const char* flagOptions;   // comma-separated options without a value
    int (*run)(const ProcArgs&);  // exit status
};

// Adds a command to the table; each command file registers its own.
struct ProcRegister {
    explicit ProcRegister(std::initializer_list<ProcCommand> cmds);
};

// Results go here; the library's diagnostics go to standard error.
extern FILE* proc_out;

// Reads every image of a file, applying --pixel; null after printing why.
List* proc_read(const ProcArgs& a, const std::string& path);
// Reads a file and takes one image (--index N, default 0); null on failure.
MRCData* proc_read_one(const ProcArgs& a, const std::string& path);
// Writes one data set by OUT's extension or --to, removing a partial file on failure.
int proc_write(const ProcArgs& a, MRCData* d, const std::string& path, int shortMode = 0);
// Reports a failure on standard error and returns the exit status 1.
int proc_fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Parses a float / an int, or fails with a message.
bool proc_float(const std::string& s, float* v);
bool proc_int(const std::string& s, int* v);
// Microscope values (--kv, --cs, --ac), else the workbench's preferences
// "voltage" and "spherab" and an amplitude contrast of 0.07; false after
// a message "CMD: bad --kv ...".
bool proc_microscope(const ProcArgs& a, const char* cmd, CtfEstimateParams* p);
