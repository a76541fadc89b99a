// tarvik: the workbench. Image files named on the command line open into the
// group "Default"; the toolkit only sees the program path and visual options.
#include <forms.h>

#include <cstdio>

#include "gui/shell/file_cmds.h"
#include "gui/shell/startup.h"
#include "core/hooks.h"

int main(int argc, char** argv) {
    keep_freed_memory();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // messages in order with the toolkit's, also into a log
    if (!startup_toolkit(argc, argv)) return 1;
    if (!startup_workbench()) return 1;
    if (argc > 1) open_startup_files(argc - 1, argv + 1);
    main_loop();
}
