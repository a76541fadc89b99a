// The data-set registry: groups, and the one way data sets leave the program
// (destroyed, or replaced by a command's result) so that no view, list line or
// window state keeps a data set that is gone; the refresh after changes.
#pragma once

class List;
class MRCData;

// Index (0-based) of a group with that browser name, or -1.
int find_group(const char* name);
// Appends a group with that browser line; returns its list.
List* add_group(const char* name);

// Removes a data set from every view and redraws those that showed it.
void forget_data_in_views(MRCData* d);
// State outside the views that may hold a data set (the live CTF window, ...)
// registers here; every hook runs before a data set is destroyed.
using DataGoneHook = void (*)(MRCData* d);
void add_data_gone_hook(DataGoneHook h);
// Every change to the boxes of a data set (a cut, a DB move or delete, a Box
// command, automatic picking) is announced through boxes_changed, once per
// action; whoever keeps boxes elsewhere (the micrograph set's picks files)
// registers here.
using BoxesChangedHook = void (*)(MRCData* d);
void add_boxes_changed_hook(BoxesChangedHook h);
void boxes_changed(MRCData* d);
// Forgets d everywhere (views and hooks) and destroys it.
void destroy_data(MRCData* d);
// A command's result takes old's place in its group (and in the views that
// showed old); old is then forgotten everywhere and destroyed. Returns 0, and
// changes nothing, when no group holds old.
int replace_data(MRCData* old, MRCData* result);
// The end of a command that changed data sets in place: rescale the histogram
// display and redraw the current view.
void refresh_after_change();
// The end of a command that added data sets: rebuild the image list and
// run the image selection.
void refresh_after_add();
