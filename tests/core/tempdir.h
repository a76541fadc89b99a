// The one temporary folder of the core tests: HOME points at it and the
// preference table is empty while it lives (optionally it is also the working
// directory); it is removed with everything in it afterwards.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/prefs.h"

class TempDir {
public:
    explicit TempDir(bool enter = false) {
        char tmpl[] = "/tmp/tarvik-test-XXXXXX", cwd[4096];
        path = mkdtemp(tmpl);
        const char* h = getenv("HOME");
        oldHome = h ? h : "";
        setenv("HOME", path.c_str(), 1);
        clearenv2();
        if (enter && getcwd(cwd, sizeof cwd) && chdir(path.c_str()) == 0) oldCwd = cwd;
    }
    ~TempDir() {
        if (!oldCwd.empty() && chdir(oldCwd.c_str()) != 0) perror(oldCwd.c_str());
        setenv("HOME", oldHome.c_str(), 1);
        clearenv2();
        if (system(("rm -rf '" + path + "'").c_str()) != 0) perror(path.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string operator/(const std::string& name) const { return file(name); }
    std::string path;

private:
    std::string oldHome, oldCwd;
};
