// The set's controller: opening and closing, showing a micrograph with the
// view's settings kept, the three micrographs held in memory, the picks of
// the shown micrograph saved as they change, and the results of the workers.
#include "gui/sets/sets.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/List.h"
#include "core/boxcut.h"
#include "core/hooks.h"
#include "core/prefs.h"
#include "gui/display/datawin.h"
#include "gui/display/mmode.h"
#include "gui/shell/cmd_util.h"
#include "gui/shell/control.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/registry.h"
#include "gui/shell/state.h"
#include "gui/sets/sets_state.h"
#include "pick/autopick.h"

namespace sets {

State& st() {
    static State s;
    return s;
}

namespace {

// Picks reach their file this long after a change at most (and a kill -9
// loses no more than that).
const int kSaveDelayMs = 300;
const char* const kGroup = "Micrographs";

int g_timer = 0;  // the save timer's id, 0 when none runs

List* micGroup(bool make) {
    const int g = find_group(kGroup);
    if (g >= 0) return (List*)dataList->objectAt(g);
    return make ? add_group(kGroup) : nullptr;
}

int entries() {
    return (int)st().set.entries.size();
}
bool usable(int i) {
    return i >= 0 && i < entries() && micset_usable(st().set.entries[i]);
}
int usableAfter(int i) {
    for (int k = i + 1; k < entries(); k++)
        if (usable(k)) return k;
    return -1;
}
int usableBefore(int i) {
    for (int k = std::min(i, entries()) - 1; k >= 0; k--)
        if (usable(k)) return k;
    return -1;
}

int held() {
    State& s = st();
    return (s.cur.d != nullptr) + (s.prev.d != nullptr) + (s.next.d != nullptr) + work_reads();
}

// A micrograph the set lets go of: out of its group, forgotten by the views.
void drop(Slot& sl) {
    MRCData* d = sl.d;
    sl = Slot();
    if (!d) return;
    if (List* g = micGroup(false)) g->removeObject(d);
    destroy_data(d);
}

// The boxes of a data set as picks (centres where the user left them) and
// their figures of merit; the box size of the set follows the boxes.
void picksOf(MRCData* d, std::vector<Pick>* picks, std::vector<float>* fom) {
    State& s = st();
    picks->clear();
    fom->clear();
    for (int k = 0; k < d->nBoxes(); k++) {
        const BoxRecord& b = d->Boxes()[k];
        if (b.type != 0) continue;  // filaments are no picks
        const bool moved = b.newx >= 1;
        const int cx = moved ? b.newx : b.x + b.xsize / 2, cy = moved ? b.newy : b.y + b.ysize / 2;
        picks->push_back({cx - b.xsize / 2, cy - b.ysize / 2, b.xsize, b.ysize});
        // An automatic box moved by hand is the user's now.
        float f = kManualPickFom;
        if (autopick_is_auto_box(b) && !moved) {
            auto it = s.autoFom.find({cx, cy});
            f = it != s.autoFom.end() ? it->second : 0;
        }
        fom->push_back(f);
        if (picks->size() == 1) s.set.boxSize = b.xsize;
    }
}

// The picks file of entry i becomes the boxes of d.
void boxFromFile(int i, MRCData* d) {
    State& s = st();
    MicEntry& e = s.set.entries[i];
    const int w = s.set.boxSize > 0 ? s.set.boxSize : MMode.boxX, h = s.set.boxSize > 0 ? s.set.boxSize : MMode.boxY;
    std::vector<Pick> picks;
    std::vector<float> fom;
    std::string why;
    d->clearBoxes();
    if (!micset_read_picks(s.set, e, w, h, &picks, &fom, &why)) {
        e.picks = -1;
        message(why + " (kept as it is; new picks go to a new file)");
        return;
    }
    for (size_t k = 0; k < picks.size(); k++) {
        const Pick& p = picks[k];
        const bool isAuto = fom[k] != kManualPickFom;
        d->addBox(p.x, p.y, p.w, p.h, isAuto ? kAutopickBoxName : clipFileName(d->File(), d->nBoxes() + 1).c_str(), 0);
        if (isAuto) s.autoFom[{p.x + p.w / 2, p.y + p.h / 2}] = fom[k];
    }
    e.picks = (int)picks.size();
}

// The view's grey limits as positions in the spread of the micrograph it
// shows, so that the next one looks alike.
void rememberContrast() {
    State& s = st();
    DataWin* v = current_view();
    if (!v || !s.cur.d || v->firstdata() != s.cur.d || !(s.cur.d->Sigma() > 0)) return;
    s.kLo = (v->minGray() - s.cur.d->Mean()) / s.cur.d->Sigma();
    s.kHi = (v->maxGray() - s.cur.d->Mean()) / s.cur.d->Sigma();
    s.haveContrast = true;
}

void applyContrast(MRCData* d) {
    State& s = st();
    if (!s.haveContrast) return;
    const float lo = std::max(d->Histmin(), d->Mean() + s.kLo * d->Sigma());
    const float hi = std::min(d->Histmax(), d->Mean() + s.kHi * d->Sigma());
    if (lo < hi) d->setRenMinMax(lo, hi);
}

// d becomes the one micrograph of the group "Micrographs", listed and shown
// in the current view (its zoom and position kept by the image selection).
void putInView(MRCData* d) {
    List* g = micGroup(true);
    if (indexOf(g, d) < 0) g->addObject(d);
    const int gi = indexOf(dataList, g);
    fl_select_browser_line(control->groups, gi + 1);
    fl_set_input(control->groupName, kGroup);
    update_data_list();
    if (DataWin* v = current_view()) v->setGroup(gi + 1);
    fl_deselect_browser(control->images);
    fl_select_browser_line(control->images, indexOf(g, d) + 1);
    sel_Image(nullptr, 0);
}

void saveTick(int, void*) {
    g_timer = 0;
    flush();
}

void boxesChanged(MRCData* d) {
    State& s = st();
    if (!s.open || !d || d != s.cur.d) return;
    s.dirty = true;
    if (!g_timer) g_timer = fl_add_timeout(kSaveDelayMs, saveTick, nullptr);
}

void dataGone(MRCData* d) {
    State& s = st();
    if (!s.open || !d) return;
    if (s.cur.d == d) {
        flush();  // whatever the user did last is on disk before the boxes go
        s.cur = Slot();
    }
    if (s.prev.d == d) s.prev = Slot();
    if (s.next.d == d) s.next = Slot();
}

void installHooks() {
    static bool done = false;
    if (done) return;
    done = true;
    add_boxes_changed_hook(boxesChanged);
    add_data_gone_hook(dataGone);
}

// Room for one more micrograph when i is to be read now: what is not next to
// i goes, and the shown one too when three would still be held.
void makeRoom(int i) {
    State& s = st();
    if (s.prev.d && s.prev.index != usableBefore(i)) drop(s.prev);
    if (s.next.d && s.next.index != usableAfter(i)) drop(s.next);
    if (held() >= 3) drop(s.next);
    if (held() >= 3) drop(s.prev);
    if (held() >= 3) drop(s.cur);
}

// The micrograph of entry i from the slots, the read ahead, or read now.
Slot fetch(int i) {
    State& s = st();
    Slot got;
    if (s.ahead == i) work_wait_ahead(i);
    if (s.next.index == i) std::swap(got, s.next);
    if (!got.d && s.prev.index == i) std::swap(got, s.prev);
    if (got.d) return got;
    makeRoom(i);
    MicEntry& e = s.set.entries[i];
    std::string why;
    MRCData* d;
    {
        BusyScope b;
        d = read_micrograph(e.path, s.scale, &why);
    }
    if (!d) {
        e.unreadable = why;
        window_line(i);
        message(e.stem + ": unreadable: " + why);
        return got;
    }
    got.index = i;
    got.d = d;
    return got;
}

// After i is shown: the old one is kept when it is next to i, the others go.
void rotate(int i, Slot old) {
    State& s = st();
    if (old.d) {
        if (List* g = micGroup(false)) g->removeObject(old.d);
        if (old.index == usableBefore(i)) {
            drop(s.prev);
            s.prev = old;
        } else if (old.index == usableAfter(i)) {
            drop(s.next);
            s.next = old;
        } else {
            drop(old);
        }
    }
    if (s.prev.d && s.prev.index != usableBefore(i)) drop(s.prev);
    if (s.next.d && s.next.index != usableAfter(i)) drop(s.next);
}

}  // namespace

void message(const std::string& m) {
    st().message = m;
    std::printf("%s\n", m.c_str());
    window_status();
}

void flush() {
    State& s = st();
    if (g_timer) {
        fl_remove_timeout(g_timer);
        g_timer = 0;
    }
    if (!s.open || !s.dirty || !s.cur.d || s.cur.index < 0) return;
    std::vector<Pick> picks;
    std::vector<float> fom;
    picksOf(s.cur.d, &picks, &fom);
    const bool ok = micset_write_picks(s.set, s.cur.index, picks, fom) && micset_write_state(s.set);
    s.dirty = !ok;
    window_line(s.cur.index);
    if (!ok) message("The picks of " + s.set.entries[s.cur.index].stem + " could not be saved; they stay in memory");
}

void ctf_arrived(int i, const CtfEstimate* e, const std::string& unreadable) {
    State& s = st();
    if (i < 0 || i >= entries()) return;
    MicEntry& m = s.set.entries[i];
    if (!unreadable.empty()) m.unreadable = unreadable;
    if (e) {
        m.hasCtf = true;
        m.ctf = *e;
        const CtfEstimateParams p = micro_of(m);
        m.ctfKv = p.kv;
        m.ctfCs = p.csMM;
        m.ctfAc = p.ac;
        s.ctfUnsaved = true;  // written once for all that arrive together (results_done)
    }
    window_line(i);
    window_status();
}

void results_done() {
    State& s = st();
    if (!s.open || !s.ctfUnsaved) return;
    s.ctfUnsaved = false;
    micset_write_ctf(s.set, s.micro);
}

void ahead_arrived(int i, MRCData* d, const std::string& why) {
    State& s = st();
    const bool wanted = s.ahead == i;
    if (wanted) s.ahead = -1;
    if (!d) {
        if (wanted && i < entries()) {
            s.set.entries[i].unreadable = why;
            window_line(i);
        }
        return;
    }
    if (!wanted || s.pos < 0 || i != usableAfter(s.pos) || s.next.d) {
        delete d;  // no longer the next one
        return;
    }
    s.next = Slot{i, d, false};
}

void picks_arrived(int i, const std::vector<AutoPick>& picks, const std::string& why) {
    State& s = st();
    if (i < 0 || i >= entries()) return;
    s.pickDone++;
    if (!why.empty()) {
        message(s.set.entries[i].stem + ": no automatic picks (" + why + ")");
    } else if (i == s.cur.index && s.cur.d) {
        // On the shown micrograph the earlier automatic boxes give way; the
        // user's own and the ones moved by hand stay.
        MRCData* d = s.cur.d;
        autopick_replace_boxes(d, picks);
        for (const AutoPick& p : picks) s.autoFom[{p.box.x + p.box.w / 2, p.box.y + p.box.h / 2}] = p.score;
        boxes_changed(d);
        if (DataWin* v = current_view(); v && v->firstdata() == d) v->redraw();
    } else {
        // In the file likewise: its hand picks stay.
        std::vector<Pick> old, keep;
        std::vector<float> oldFom, keepFom;
        for (const AutoPick& p : picks) {
            keep.push_back(p.box);
            keepFom.push_back(p.score);
        }
        std::string bad;
        const int b = s.set.boxSize > 0 ? s.set.boxSize : (picks.empty() ? 1 : picks[0].box.w);
        if (micset_read_picks(s.set, s.set.entries[i], b, b, &old, &oldFom, &bad)) {
            for (size_t k = 0; k < old.size(); k++)
                if (oldFom[k] == kManualPickFom) {
                    keep.push_back(old[k]);
                    keepFom.push_back(kManualPickFom);
                }
        }
        micset_write_picks(s.set, i, keep, keepFom);
        for (Slot* sl : {&s.prev, &s.next})
            if (sl->index == i) sl->boxed = false;  // its boxes come from the file again
        window_line(i);
    }
    if (s.pickDone >= s.pickTodo) micset_write_state(s.set);
    window_status();
}

}  // namespace sets

using namespace sets;

int set_show(int i) {
    State& s = st();
    if (!s.open || i < 0 || i >= entries()) return 0;
    if (!usable(i)) {
        message("Line " + std::to_string(i + 1) + " cannot be shown: " + s.set.entries[i].unreadable);
        window_select(s.pos);
        return 0;
    }
    if (i == s.cur.index && s.cur.d) {
        putInView(s.cur.d);
        window_select(i);
        s.pos = i;
        return 1;
    }
    flush();
    if (s.dirty) {
        dlg_message("The picks of this micrograph could not be saved:", "it stays shown, with its boxes,",
                    "until they can be (see the terminal).");
        window_select(s.pos);
        return 0;
    }
    rememberContrast();
    Slot got = fetch(i);
    if (!got.d) {
        window_select(s.pos);
        return 0;
    }
    Slot old = s.cur;
    s.cur = got;
    rotate(i, old);
    if (!s.cur.boxed) {
        s.autoFom.clear();
        boxFromFile(i, s.cur.d);
        s.cur.boxed = true;
    }
    applyContrast(s.cur.d);
    putInView(s.cur.d);
    s.pos = i;
    s.set.shown = s.set.entries[i].name;
    window_line(i);
    window_select(i);
    window_status();
    watch_page_keys();
    const int n = usableAfter(i);
    if (n >= 0 && s.next.index != n) work_read_ahead(n);
    work_follow(i);
    return 1;
}

int set_next() {
    State& s = st();
    if (!s.open) return 0;
    const int n = usableAfter(s.pos);
    return n >= 0 ? set_show(n) : 0;
}

int set_prev() {
    State& s = st();
    if (!s.open || s.pos < 0) return 0;
    const int n = usableBefore(s.pos);
    return n >= 0 ? set_show(n) : 0;
}

void set_toggle_reject() {
    State& s = st();
    const int i = s.pos;
    if (!s.open || i < 0) return;
    MicEntry& e = s.set.entries[i];
    e.status = e.status == MIC_KEPT ? MIC_REJECTED : MIC_KEPT;
    if (e.status == MIC_REJECTED)
        work_unqueue_ctf(i);
    else
        work_queue_ctf();
    micset_write_state(s.set);
    window_line(i);
    window_status();
}

int set_open(const std::string& what) {
    set_close();
    installHooks();
    work_init();
    State& s = st();
    s.gen++;
    micset_open(what, &s.set);
    s.open = true;
    s.micro = CtfEstimateParams();
    s.micro.kv = getenvfd("voltage", 100);
    s.micro.csMM = getenvfd("spherab", 5.6f);
    s.micro.ac = 0.07f;
    s.scale = scan_scale_prefs();
    s.haveContrast = false;
    s.pickTodo = s.pickDone = 0;
    s.message.clear();
    for (const std::string& n : s.set.notes) std::printf("%s\n", n.c_str());
    window_show();
    window_fill();
    if (!s.set.notes.empty())
        message(s.set.notes[0] + (s.set.notes.size() > 1 ? " (and " + std::to_string(s.set.notes.size() - 1) +
                                                                 " more on the terminal)"
                                                           : ""));
    int first = -1;
    for (int i = 0; i < entries() && first < 0; i++)
        if (usable(i) && s.set.entries[i].name == s.set.shown) first = i;
    if (first < 0) first = usableAfter(-1);
    if (first >= 0) {
        micset_write_state(s.set);  // the order, with the micrographs new to the source
        set_show(first);
    }
    work_queue_ctf();
    window_status();
    return 1;
}

void set_close() {
    State& s = st();
    if (!s.open) return;
    flush();
    results_done();
    if (s.pos >= 0) micset_write_state(s.set);
    work_cancel();
    s.gen++;
    drop(s.prev);
    drop(s.next);
    drop(s.cur);
    s.ahead = -1;
    s.pos = -1;
    s.dirty = false;
    s.open = false;
    s.set = MicSet();
    s.autoFom.clear();
    update_data_list();
    window_hide();
}

bool set_is_open() {
    return st().open;
}

const MicSet* set_current() {
    return st().open ? &st().set : nullptr;
}
int set_shown() {
    return st().pos;
}
MRCData* set_shown_data() {
    return st().cur.d;
}
int set_images_held() {
    return held();
}
int set_ctf_pending() {
    return work_ctf_pending();
}
int set_autopick_pending() {
    return std::max(0, st().pickTodo - st().pickDone);
}
bool set_unsaved() {
    return st().dirty;
}
std::string set_message() {
    return st().message;
}

void m_File_open_set() {
    std::string path;
    if (!dlg_file_single(&path)) return;
    // A micrograph chosen from the folder stands for the whole folder.
    struct stat sb;
    const bool plain = stat(path.c_str(), &sb) == 0 && S_ISREG(sb.st_mode);
    const bool star = path.size() >= 5 && path.compare(path.size() - 5, 5, ".star") == 0;
    if (plain && !star && path.find_last_of('/') != std::string::npos) path.resize(path.find_last_of('/'));
    set_open(path);
}
