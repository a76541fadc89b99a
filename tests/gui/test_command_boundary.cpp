// The menu dispatcher is the workbench's command boundary: what a command throws ends
// the command with a message box, the program and the busy state carry on.
#include "tests/gui/gui_testutil.h"
// (first: GoogleTest before Xlib)
#include <new>
#include <stdexcept>

#include "gui/shell/cmd_util.h"

TEST(CommandBoundary, AThrowingCommandShowsAMessageAndTheNextOneRuns) {
    dlg_clear();
    int ran = 0;
    const MenuTable t = {
        {"Big",
         [] {
             BusyScope b;
             throw std::bad_alloc();
         }},
        {"Odd", [] { throw std::runtime_error("no such thing"); }},
        {"Fine", [&ran] { ran++; }},
    };
    for (int item : {1, 2, 3}) menu_dispatch(t, item);
    EXPECT_EQ(dlg_log(), (std::vector<std::string>{"message: Out of memory.|The command was abandoned.|",
                                                   "message: The command failed:|no such thing|"}));
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(busy_depth(), 0);
}
