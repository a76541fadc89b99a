// Shared helpers for the core tests: temporary folders, HOME, data paths.
#pragma once

#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/prefs.h"

// A fresh folder, with HOME pointed at it and the preference table emptied,
// removed again afterwards.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tarvik-test-XXXXXX";
        path = mkdtemp(tmpl);
        const char* h = getenv("HOME");
        oldHome = h ? h : "";
        setenv("HOME", path.c_str(), 1);
        clearenv2();
    }
    ~TempDir() {
        setenv("HOME", oldHome.c_str(), 1);
        clearenv2();
        std::string cmd = "rm -rf '" + path + "'";
        if (system(cmd.c_str())) {
        }
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;

private:
    std::string oldHome;
};

inline std::string dataFile(const std::string& rel) { return std::string(TARVIK_TEST_DATA) + "/" + rel; }

inline std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

inline void spit(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

// Runs a shell command; returns its exit status and fills out with stdout.
inline int runCommand(const std::string& cmd, std::string* out = nullptr) {
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) s.append(buf, n);
    int st = pclose(p);
    if (out) *out = s;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Makes every write past `bytes` in a file fail (EFBIG), as a full disk would,
// for as long as it lives; works for root too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old);
        oldHandler = signal(SIGXFSZ, SIG_IGN);
        struct rlimit r = old;
        r.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old);
        signal(SIGXFSZ, oldHandler);
    }

private:
    struct rlimit old;
    void (*oldHandler)(int);
};

// Names in a folder, without "." and "..".
inline std::vector<std::string> dirEntries(const std::string& path) {
    std::vector<std::string> out;
    if (DIR* d = opendir(path.c_str())) {
        while (struct dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") out.push_back(e->d_name);
        closedir(d);
    }
    return out;
}
