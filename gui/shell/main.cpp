// tarvik: the workbench. Image files named on the command line open into the
// group "Default", "--set WHAT" opens a micrograph set; the toolkit only sees
// the program path and visual options.
#include <forms.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "gui/shell/file_cmds.h"
#include "gui/shell/startup.h"
#include "gui/sets/sets.h"
#include "core/hooks.h"

int main(int argc, char** argv) {
    keep_freed_memory();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // messages in order with the toolkit's, also into a log
    if (!startup_toolkit(argc, argv)) return 1;
    if (!startup_workbench()) return 1;
    // "--set PATTERN|FILE.star" opens a micrograph set; other arguments are files.
    std::vector<char*> files;
    const char* set = nullptr;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--set") == 0 && i + 1 < argc)
            set = argv[++i];
        else
            files.push_back(argv[i]);
    }
    if (!files.empty()) open_startup_files((int)files.size(), files.data());
    if (set) set_open(set);
    main_loop();
}
