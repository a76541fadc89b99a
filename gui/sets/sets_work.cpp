// The set's background work: CTF estimates in a queue of worker threads, the
// next micrograph read ahead by a thread of its own, automatic picking of the
// whole set; every result comes back through the mailbox to the GUI thread.
#include <poll.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <set>

#include "core/MRCheader.h"
#include "core/workq.h"
#include "gui/sets/sets.h"
#include "gui/sets/sets_state.h"

namespace sets {
namespace {

enum { kLanePick = 0, kLaneCtf = 1 };

WorkQueue* g_pool = nullptr;    // estimates and automatic picking: the cores less one
WorkQueue* g_reader = nullptr;  // reading ahead, never behind an estimate
Mailbox* g_box = nullptr;

struct CtfItem {
    int gen = 0;
    std::string path;
    CtfEstimateParams p;
    ScanScale scale{30, 25};
};
RingQueue<CtfItem> g_ctf;
std::set<int> g_ctfOut;  // queued or running, not back yet (GUI thread)
int g_reads = 0;         // reads ahead in flight (GUI thread)

// A micrograph handed from a worker: deleted unless the GUI thread takes it.
struct Owned {
    MRCData* d = nullptr;
    ~Owned() { delete d; }
    MRCData* take() {
        MRCData* t = d;
        d = nullptr;
        return t;
    }
};

void io(int, void*) {
    work_drain();
}

void ctfRunner() {
    int i;
    CtfItem it;
    if (!g_ctf.take(&i, &it)) return;
    std::string why;
    CtfEstimate e;
    bool ok = false, readable = false;
    {
        std::unique_ptr<MRCData> d(read_micrograph(it.path, it.scale, &why));
        if (d) {
            readable = true;
            CtfEstimateParams p = it.p;
            if (!(p.pixel > 0)) p.pixel = d->Pixres();
            ok = ctf_estimate(d->getRealData(), d->xSize(), d->ySize(), p, &e);
            if (!ok) why = e.why ? e.why : "no estimate";
        }
    }  // the image goes before the next one is read
    e.s.clear();  // the plot's data is not kept
    e.profile.clear();
    e.model.clear();
    e.zeros.clear();
    e.why = nullptr;
    const int gen = it.gen;
    g_box->post([gen, i, ok, readable, e, why] {
        if (gen != st().gen) return;
        g_ctfOut.erase(i);
        ctf_arrived(i, ok ? &e : nullptr, readable ? "" : why);
        if (readable && !ok) message(st().set.entries[i].stem + ": no CTF estimate (" + why + ")");
    });
    g_pool->push(kLaneCtf, ctfRunner);  // one micrograph per job: picking goes in between
}

}  // namespace

MRCData* read_micrograph(const std::string& path, const ScanScale& scale, std::string* why) {
    std::unique_ptr<MRCData> d(new MRCData(scale.mag, scale.pixres()));
    if (d->readMRCData(path.c_str(), scale)) {
        if (!d->isComplex() && d->zSize() == 1) return d.release();
        *why = "not a single real image";
        return nullptr;
    }
    MrcInfo info;
    if (mrc_peek(path.c_str(), &info, why)) *why = "cannot read its values";
    return nullptr;
}

CtfEstimateParams micro_of(const MicEntry& e) {
    CtfEstimateParams p = st().micro;
    if (e.kv > 0) {
        p.kv = e.kv;
        p.csMM = e.csMM;
        p.ac = e.ac > 0 ? e.ac : p.ac;
    }
    p.pixel = e.pixel;  // 0: the micrograph's own, as read
    return p;
}

void work_init() {
    if (g_pool) return;
    g_pool = new WorkQueue(WorkQueue::defaultThreads());
    g_reader = new WorkQueue(1);
    g_box = new Mailbox();
    fl_add_io_callback(g_box->fd(), FL_READ, io, nullptr);
    // Running jobs finish before the program's objects go.
    std::atexit([] {
        g_ctf.clear();
        delete g_pool;
        delete g_reader;
        g_pool = g_reader = nullptr;
    });
}

void work_queue_ctf() {
    State& s = st();
    for (int i = 0; i < (int)s.set.entries.size(); i++) {
        const MicEntry& e = s.set.entries[i];
        if (e.hasCtf || !micset_usable(e) || e.status != MIC_KEPT || g_ctfOut.count(i)) continue;
        g_ctf.put(i, CtfItem{s.gen, e.path, micro_of(e), s.scale});
        g_ctfOut.insert(i);
    }
    for (int n = g_ctf.runnersWanted(g_pool->threads()); n > 0; n--) g_pool->push(kLaneCtf, ctfRunner);
}

void work_follow(int shown) {
    g_ctf.setOrigin(shown);
}

void work_unqueue_ctf(int i) {
    if (g_ctf.remove(i)) g_ctfOut.erase(i);
}

int work_ctf_pending() {
    return (int)g_ctfOut.size();
}

int work_reads() {
    return g_reads;
}

void work_read_ahead(int i) {
    State& s = st();
    if (i < 0 || i >= (int)s.set.entries.size() || s.ahead == i) return;
    g_reads -= g_reader->cancel(0);  // an earlier request not started yet
    s.ahead = i;
    g_reads++;
    const int gen = s.gen;
    const std::string path = s.set.entries[i].path;
    const ScanScale scale = s.scale;
    g_reader->push(0, [gen, i, path, scale] {
        auto h = std::make_shared<Owned>();
        auto why = std::make_shared<std::string>();
        h->d = read_micrograph(path, scale, why.get());
        g_box->post([gen, i, h, why] {
            g_reads--;
            if (gen != st().gen) return;  // the set was closed meanwhile: h deletes it
            ahead_arrived(i, h->take(), *why);
        });
    });
}

void work_wait_ahead(int i) {
    while (st().ahead == i) {
        pollfd p{g_box->fd(), POLLIN, 0};
        poll(&p, 1, 100);
        work_drain();
    }
}

void work_autopick(const std::vector<int>& list, const AutopickParams& params) {
    State& s = st();
    for (int i : list) {
        const MicEntry& e = s.set.entries[i];
        const int gen = s.gen;
        const std::string path = e.path;
        const ScanScale scale = s.scale;
        const float pixel = e.pixel;
        g_pool->push(kLanePick, [gen, i, path, scale, pixel, params] {
            std::string why;
            std::vector<AutoPick> picks;
            {
                std::unique_ptr<MRCData> d(read_micrograph(path, scale, &why));
                AutopickParams p = params;
                p.pixel = pixel > 0 ? pixel : (d ? d->Pixres() : 0);
                if (d && !autopick(d->getRealData(), d->xSize(), d->ySize(), p, &picks))
                    why = "the picker refused it; see the terminal";
            }
            g_box->post([gen, i, picks, why] {
                if (gen == st().gen) picks_arrived(i, picks, why);
            });
        });
    }
}

void work_cancel() {
    if (!g_pool) return;
    g_ctf.clear();
    g_ctfOut.clear();
    g_pool->cancel(kLanePick);
    // A read still running hands back a micrograph of the old set, which is dropped.
    g_reads -= g_reader->cancel(0);
}

int work_drain() {
    const int n = g_box ? g_box->drain() : 0;
    if (n) results_done();
    return n;
}

}  // namespace sets

int set_drain() {
    return sets::work_drain();
}
