// The micrograph set of the workbench: the "Micrographs" window listing the
// set, the micrograph of the list shown in the current view (group
// "Micrographs"), its picks saved to the set folder within a second of every
// change, CTF estimated and the next micrograph read in worker threads.
//
// Threads: everything here runs on the GUI thread. Worker threads (a queue of
// at most the cores less one) read micrographs and estimate their CTF or pick
// them automatically, each on its own copy, and hand the results back through
// a mailbox whose pipe the event loop watches (fl_add_io_callback); one more
// thread reads the next micrograph ahead. Only the GUI thread writes the set's
// files and touches the toolkit, the groups and the views.
#pragma once

#include <string>

struct AutopickParams;
struct MicSet;
class MRCData;

// File > "Open Micrograph Set...".
void m_File_open_set();
// Opens a set (a folder, a pattern, a micrographs STAR file or a set.star;
// `tarvik --set`), closing the one open: its window lists it (a source that
// gives nothing has one line saying why), the micrograph where the last
// session ended, else the first usable one, is shown, estimation starts.
// Returns 1.
int set_open(const std::string& what);
// Saves what is unsaved, drops the set's micrographs and its pending work,
// hides the window.
void set_close();
bool set_is_open();

// Shows entry i (0-based) in the current view, keeping the view's zoom,
// contrast limits (as a position in the micrograph's spread), colour map and
// display filter; its picks become its boxes. 1 when shown.
int set_show(int i);
// The next / previous usable micrograph in list order (Page Down / Page Up).
int set_next();
int set_prev();
// The list's buttons.
void set_toggle_reject();
void set_autopick_all();
void set_extract();
void set_export();

// Where Auto Pick All takes the picker's settings from (by default the Auto
// Pick panel's, autopick_panel_params; tests give their own): true with them
// filled in.
using SetPickSettings = bool (*)(AutopickParams* p);
void set_pick_settings(SetPickSettings f);

// ---- state for tests and benchmarks
const MicSet* set_current();
int set_shown();                // the entry the user is at, -1 when none
MRCData* set_shown_data();      // its data set (in the group "Micrographs"), or null
int set_images_held();          // micrographs the set holds: shown, previous, next and one being read
int set_ctf_pending();          // estimates not back yet
int set_autopick_pending();     // Auto Pick All micrographs not back yet
bool set_unsaved();             // box changes not yet in the picks file
std::string set_message();      // the window's status line
// Runs what the workers have handed back (the event loop does this by itself).
int set_drain();
