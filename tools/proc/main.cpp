// tarvik-proc: headless image processing over the tarvik core library.
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/fileutil.h"
#include "core/hooks.h"
#include "core/prefs.h"
#include "tools/proc/proc.h"

FILE* proc_out = stdout;

static std::vector<ProcCommand>& table() {
    static std::vector<ProcCommand> t;
    return t;
}

ProcRegister::ProcRegister(std::initializer_list<ProcCommand> cmds) {
    for (auto& c : cmds) table().push_back(c);
}

// Without --verbose the library's messages on standard output are held here
// and shown (on standard error) only when something fails.
static StdoutCapture* g_quiet = nullptr;

int proc_fail(const char* fmt, ...) {
    if (g_quiet) std::fputs(g_quiet->take().c_str(), stderr);
    std::fputs("tarvik-proc: ", stderr);
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    std::fputs("\n", stderr);
    return 1;
}

bool proc_float(const std::string& s, float* v) {
    char* end = nullptr;
    *v = std::strtof(s.c_str(), &end);
    return !s.empty() && end && *end == 0;
}

bool proc_int(const std::string& s, int* v) {
    char* end = nullptr;
    long l = std::strtol(s.c_str(), &end, 10);
    *v = (int)l;
    return !s.empty() && end && *end == 0 && l >= -2147483647L && l <= 2147483647L;
}

List* proc_read(const ProcArgs& a, const std::string& path) {
    List* l = readAnyFile(path.c_str());
    if (!l) {
        proc_fail("cannot read %s", path.c_str());
        return nullptr;
    }
    if (const char* p = a.get("pixel")) {
        float px;
        if (!proc_float(p, &px) || px <= 0) {
            freeDataList(l);
            proc_fail("bad --pixel value %s", p);
            return nullptr;
        }
        for (int i = 0; i < l->count(); i++) static_cast<MRCData*>(l->objectAt(i))->setPixres(px);
    }
    return l;
}

MRCData* proc_read_one(const ProcArgs& a, const std::string& path) {
    int idx = 0;
    if (const char* s = a.get("index")) {
        if (!proc_int(s, &idx) || idx < 0) {
            proc_fail("bad --index value %s", s);
            return nullptr;
        }
    }
    List* l = proc_read(a, path);
    if (!l) return nullptr;
    MRCData* d = static_cast<MRCData*>(l->removeObjectAt(idx));
    if (!d) proc_fail("%s has %d image(s), no index %d", path.c_str(), l->count(), idx);
    freeDataList(l);
    return d;
}

int proc_write(const ProcArgs& a, MRCData* d, const std::string& path, int shortMode) {
    const char* to = a.get("to", "");
    if (!writeAnyFile(d, path.c_str(), to, shortMode)) return proc_fail("cannot write %s", path.c_str());
    return 0;
}

static void usage(FILE* f) {
    std::fprintf(f,
                 "usage: tarvik-proc COMMAND ARGS... [OPTIONS]\n"
                 "Headless image processing for electron micrographs (MRC, SPIDER, IMAGIC, PIF, PGM).\n"
                 "Results go to standard output; failures are reported on standard error (with the\n"
                 "readers' messages, which --verbose shows always).\n\n"
                 "commands:\n");
    for (auto& c : table()) std::fprintf(f, "  %-14s %s\n  %-14s   %s\n", c.name, c.usage, "", c.summary);
    std::fprintf(f,
                 "\n--pixel A gives the pixel size in Angstrom of what is read (and so of what is written).\n"
                 "\ncommon options:\n"
                 "  --verbose      show reading progress on standard error\n"
                 "  --help         this text\n");
}

static std::vector<std::string> split(const char* s) {
    std::vector<std::string> out;
    if (!s) return out;
    std::string cur;
    for (const char* p = s;; p++) {
        if (*p == ',' || *p == 0) {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
            if (!*p) break;
        } else {
            cur += *p;
        }
    }
    return out;
}

static bool listed(const char* list, const std::string& name) {
    for (auto& s : split(list))
        if (s == name) return true;
    return false;
}

int main(int argc, char** argv) {
    keep_freed_memory();
    // Results keep the real standard output; the library's messages go to
    // standard error (held back unless --verbose).
    int outfd = dup(1);
    proc_out = outfd >= 0 ? fdopen(outfd, "w") : stdout;
    if (!proc_out) proc_out = stdout;
    std::fflush(stdout);
    dup2(2, 1);
    install_save_cleanup();

    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        usage(argc < 2 ? stderr : proc_out);
        std::fflush(proc_out);
        return argc < 2 ? 2 : 0;
    }
    const ProcCommand* cmd = nullptr;
    for (auto& c : table())
        if (!std::strcmp(c.name, argv[1])) cmd = &c;
    if (!cmd) {
        proc_fail("unknown command %s (see tarvik-proc --help)", argv[1]);
        return 2;
    }
    ProcArgs a;
    for (int i = 2; i < argc; i++) {
        std::string s = argv[i];
        if (s == "--help") {
            std::fprintf(proc_out, "usage: tarvik-proc %s %s\n%s\noptions:", cmd->name, cmd->usage, cmd->summary);
            for (auto& o : split(cmd->valueOptions)) std::fprintf(proc_out, " --%s", o.c_str());
            for (auto& o : split(cmd->flagOptions)) std::fprintf(proc_out, " --%s", o.c_str());
            std::fprintf(proc_out, " --verbose --help\n");
            std::fflush(proc_out);
            return 0;
        }
        if (s.size() > 2 && s.compare(0, 2, "--") == 0) {
            std::string name = s.substr(2), value;
            size_t eq = name.find('=');
            bool hasEq = eq != std::string::npos;
            if (hasEq) {
                value = name.substr(eq + 1);
                name.resize(eq);
            }
            if (listed(cmd->valueOptions, name)) {
                if (!hasEq) {
                    if (i + 1 >= argc) return proc_fail("option --%s needs a value", name.c_str()) + 1;
                    value = argv[++i];
                }
                a.opt[name] = value;
            } else if (name == "verbose" || listed(cmd->flagOptions, name)) {
                a.flag[name] = true;
            } else {
                proc_fail("unknown option --%s for %s", name.c_str(), cmd->name);
                return 2;
            }
        } else {
            a.pos.push_back(s);
        }
    }
    if ((int)a.pos.size() < cmd->minPos || (cmd->maxPos >= 0 && (int)a.pos.size() > cmd->maxPos)) {
        std::fprintf(stderr, "usage: tarvik-proc %s %s\n", cmd->name, cmd->usage);
        return 2;
    }
    bool verbose = a.has("verbose");
    set_console_progress(verbose);
    StdoutCapture* quiet = verbose ? nullptr : new StdoutCapture();
    g_quiet = quiet;
    // Settings such as "mag" and "scanres" come from the user's preference file;
    // the tool never writes it.
    openenv2();
    int rc;
    // The command boundary: a failure thrown from the library (memory running out in the
    // middle of an operation) ends the command with its message, not the tool with a core dump.
    try {
        rc = cmd->run(a);
    } catch (const std::bad_alloc&) {
        rc = proc_fail("out of memory");
    } catch (const std::exception& e) {
        rc = proc_fail("%s", e.what());
    }
    std::fflush(proc_out);
    if (quiet && rc != 0) std::fputs(quiet->take().c_str(), stderr);
    g_quiet = nullptr;
    delete quiet;
    std::fflush(stdout);
    return rc;
}
