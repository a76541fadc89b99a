// What the pieces of the set module share: the state of the open set (GUI
// thread only), the window, and the background work.
#pragma once

#include <forms.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/MRCData.h"
#include "core/micset.h"
#include "ctf/estimate.h"
#include "pick/autopick.h"

namespace sets {

// A micrograph the set holds in memory, with the entry it belongs to.
struct Slot {
    int index = -1;
    MRCData* d = nullptr;
    bool boxed = false;  // its picks file has become its boxes
};

struct State {
    bool open = false;
    MicSet set;
    int gen = 0;  // results of an older set are dropped
    // At most three micrographs: the one shown (in the group "Micrographs"),
    // the one before it and the one after it (or being read ahead).
    Slot cur, prev, next;
    int pos = -1;    // the entry the user is at (its micrograph may have been deleted)
    int ahead = -1;  // entry being read ahead, -1 none
    bool dirty = false;
    bool ctfUnsaved = false;  // estimates not yet in micrographs_ctf.star
    int saveTimer = 0;
    CtfEstimateParams micro;  // voltage, Cs, amplitude contrast from the preferences when the set opened
    ScanScale scale{30, 25};
    bool haveContrast = false;  // the view's limits as mean + k sigma of the shown micrograph
    float kLo = 0, kHi = 0;
    // Figures of merit of the shown micrograph's automatic picks, by centre.
    std::map<std::pair<int, int>, float> autoFom;
    std::string message;
    int pickTodo = 0, pickDone = 0;  // Auto Pick All
};
State& st();

// ---- the window (sets_window.cpp)
void window_show();
void window_hide();
void window_fill();          // every line
void window_line(int i);     // one line again
void window_select(int i);   // the shown line
void window_status();        // status line and the Reject button
// The Page Up / Page Down keys on every form on the screen.
void watch_page_keys();

// ---- background work (sets_work.cpp)
void work_init();
// Queues the estimates of the entries that have none (kept, usable), from
// the shown entry on; the order follows the shown entry.
void work_queue_ctf();
void work_follow(int shown);
void work_unqueue_ctf(int i);  // a rejected micrograph: its estimate, if not started, goes
// Reads entry i ahead (the previous request, if not started, is dropped).
void work_read_ahead(int i);
// Waits for the read ahead of entry i to come back (it lands in st().next).
void work_wait_ahead(int i);
// Picks the entries automatically with p (its pixel size 0: each micrograph's own).
void work_autopick(const std::vector<int>& entries, const AutopickParams& p);
// Drops pending work (running jobs finish; their results are ignored).
void work_cancel();
int work_ctf_pending();
int work_reads();  // reads ahead in flight
int work_drain();
// A micrograph as the set reads it (thread-safe): null with the reason.
MRCData* read_micrograph(const std::string& path, const ScanScale& scale, std::string* why);
// The CTF parameters of an entry: its STAR file's optics, else the preferences'.
CtfEstimateParams micro_of(const MicEntry& e);

// ---- the controller (sets.cpp)
// An estimate came back: the entry's line and the CTF table.
void ctf_arrived(int i, const CtfEstimate* e, const std::string& why);
// The end of a batch of results: what they changed goes to disk once.
void results_done();
// A micrograph read ahead came back.
void ahead_arrived(int i, MRCData* d, const std::string& why);
// Automatic picks of entry i came back ("why" says what went wrong, if anything).
void picks_arrived(int i, const std::vector<AutoPick>& picks, const std::string& why);
void message(const std::string& m);
// Saves the shown micrograph's boxes now when they changed.
void flush();

}  // namespace sets
