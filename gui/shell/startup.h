// Start-up of the workbench, split from the event loop so that tests can
// bring it up in-process.
#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

// The toolkit's arguments for a server: PseudoColor depth 8 where such a
// visual exists ("-private" when asked for, or when the default colour map is
// too full to start in), else the server's own depth.
struct VisualPlan {
    std::vector<std::string> args;  // after the program path
    bool pseudoColor = false;
    bool forcedPrivate = false;  // "-private" although "privcmap" is 0
    int freeCells = -1;          // free cells of the default colour map (8-bit default visual only)
    int depth = 0;               // depth asked for
};
// Cells the toolkit takes for itself plus the 32 a view needs at least.
constexpr int kCellsNeeded = 136 + 32;
VisualPlan plan_visual(Display* d, bool privcmap);
// Free read/write cells of a colour map (allocated and given back).
int count_free_cells(Display* d, Colormap cm);

// Steps up to the toolkit: preferences, visual, fl_initialize, banner.
// Returns the display, or null when the toolkit could not start.
Display* startup_toolkit(int argc, char** argv);
// The rest: font, mouse modes, use counter, panels, cursors, "Default",
// first view, file selector. 1 on success.
int startup_workbench();
// The event loop; never returns.
[[noreturn]] void main_loop();

// The argument vector fl_initialize received (tests and diagnostics).
const std::vector<std::string>& toolkit_args();
