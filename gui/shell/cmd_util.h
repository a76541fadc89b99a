// Small helpers every menu command uses: the busy state for the length of a
// command, and the selected data sets of the current group.
#pragma once

#include <X11/Xlib.h>

#include <string>

#include "gui/shell/control.h"
#include "gui/shell/state.h"
#include "core/List.h"
#include "core/hooks.h"

class MRCData;

// Holds busy for the length of a command, however it ends.
struct BusyScope {
    BusyScope() {
        if (dpy) XFlush(dpy);
        busy(1);
    }
    ~BusyScope() { busy(0); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

// The data sets selected in the image browser, in browser order (the list
// is the command's, the data sets are not).
struct Selection {
    List* l = get_selected_data();
    Selection() = default;
    ~Selection() { delete l; }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    int count() const { return l->count(); }
    MRCData* at(int i) const { return (MRCData*)l->objectAt(i); }
};

// Overwrite question for an existing file. Single: only "Yes" writes.
// Series: "Yes" writes, "All" writes this and every later file, "Abort" stops.
// Returns 1 to write, 0 to stop.
int may_overwrite(const std::string& file, bool series, bool* all);
