// What the set's buttons do with the kept micrographs: Export (a RELION
// micrographs table with the CTF and the coordinate files), Extract (the
// extraction job with the extraction panel's settings) and Auto Pick All.
#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "core/picks.h"
#include "gui/sets/sets.h"
#include "gui/sets/sets_state.h"
#include "gui/shell/autopick_panel.h"
#include "gui/shell/cmd_util.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/extract_panel.h"
#include "pick/extract.h"

using namespace sets;

namespace {

// The folder a command writes to: the chosen name (made when new), or the
// folder of a file chosen in it.
bool chooseFolder(std::string* dir) {
    std::string chosen;
    if (!dlg_file_single(&chosen)) return false;
    struct stat sb;
    if (stat(chosen.c_str(), &sb) == 0 && !S_ISDIR(sb.st_mode)) {
        const size_t k = chosen.rfind('/');
        chosen = k == std::string::npos ? "." : chosen.substr(0, std::max<size_t>(k, 1));
    }
    while (chosen.size() > 1 && (chosen.back() == '/' || (chosen.size() > 2 && chosen.compare(chosen.size() - 2, 2, "/.") == 0)))
        chosen.resize(chosen.back() == '/' ? chosen.size() - 1 : chosen.size() - 2);
    *dir = chosen;
    return true;
}

bool kept(const MicEntry& e) {
    return e.status == MIC_KEPT && micset_usable(e);
}

}  // namespace

void set_export() {
    State& s = st();
    if (!s.open) return;
    std::string dir;
    if (!chooseFolder(&dir)) return;
    // Its own files would be overwritten with others of the same names.
    char a[PATH_MAX], b[PATH_MAX];
    if (realpath(dir.c_str(), a) && realpath(s.set.dir.c_str(), b) && std::string(a) == b) {
        dlg_message("Export writes to a folder of its own,", "not to the set's folder.");
        return;
    }
    flush();
    MicExport out;
    if (!micset_export(s.set, dir, s.micro, &out)) {
        dlg_message("Export failed:", "see the terminal for why.");
        return;
    }
    std::string m = "Exported " + std::to_string(out.micrographs) + " micrographs with their picks to " + dir;
    if (out.withoutCtf > 0) m += "; " + std::to_string(out.withoutCtf) + " kept ones have no CTF estimate yet and were left out";
    message(m);
}

void set_extract() {
    State& s = st();
    if (!s.open) return;
    flush();
    ExtractJob job;
    std::vector<CtfStarRow> ctf;
    int missingCtf = 0, noPicks = 0;
    for (const MicEntry& e : s.set.entries) {
        if (!kept(e)) continue;
        ExtractSource src;
        src.micrograph = e.path;
        src.pixel = e.pixel;
        src.havePicks = true;
        if (e.picks < 0 || !readStarCentres(micset_picks_file(s.set, e).c_str(), &src.picks, nullptr, nullptr))
            src.picks.clear();
        if (src.picks.empty()) {
            noPicks++;
            continue;
        }
        if (e.hasCtf)
            ctf.push_back({e.path, e.ctf, e.ctfKv, e.ctfCs, e.ctfAc});
        else
            missingCtf++;
        job.sources.push_back(src);
    }
    if (job.sources.empty()) {
        dlg_message("No kept micrograph has picks to extract.");
        return;
    }
    ExtractParams p;
    p.size = s.set.boxSize > 0 ? s.set.boxSize + s.set.boxSize % 2 : 0;
    if (!extract_panel(&p)) return;
    if (p.flip && missingCtf > 0) {
        dlg_message(("Phase flipping needs the CTF: " + std::to_string(missingCtf) + " micrographs have none yet.").c_str(),
                    "Wait for the estimates, or extract without the flip.");
        return;
    }
    std::string dir;
    if (!chooseFolder(&dir)) return;
    job.params = p;
    job.outDir = dir;
    job.ctf = missingCtf == 0 ? &ctf : nullptr;  // the CTF goes into particles.star when every one has it
    job.ctfName = micset_ctf_file(s.set);
    job.kv = s.micro.kv;
    job.csMM = s.micro.csMM;
    job.ac = s.micro.ac;
    std::vector<ExtractReport> reports;
    std::string starWhy;
    int done = 0, particles = 0;
    const int total = (int)job.sources.size();
    {
        BusyScope busy;
        extract_job(job, &reports, [&](const ExtractReport& r) {
            particles += r.written;
            message("Extract: " + std::to_string(++done) + " of " + std::to_string(total) + " micrographs");
            fl_check_forms();  // the windows repaint while it runs
        }, &starWhy);
    }
    std::string firstWhy;
    int failed = 0;
    for (const ExtractReport& r : reports)
        if (!r.ok) {
            failed++;
            if (firstWhy.empty()) firstWhy = r.why;
        }
    message("Extracted " + std::to_string(particles) + " particles from " + std::to_string(total - failed) +
            " micrographs into " + dir + (noPicks ? " (" + std::to_string(noPicks) + " without picks left out)" : ""));
    if (failed) dlg_message((std::to_string(failed) + " micrographs failed, the first:").c_str(), firstWhy.c_str());
    if (!starWhy.empty()) dlg_message("particles.star was not written:", starWhy.c_str());
}

namespace {
SetPickSettings g_pickSettings = autopick_panel_params;
}

void set_pick_settings(SetPickSettings f) {
    g_pickSettings = f;
}

void set_autopick_all() {
    State& s = st();
    if (!s.open) return;
    AutopickParams p;
    if (!g_pickSettings || !g_pickSettings(&p)) {
        dlg_message("Auto Pick All picks with the settings of the Auto Pick panel:", "set them there first.");
        return;
    }
    if (s.pickDone < s.pickTodo) {
        dlg_message("Auto Pick All is still running.");
        return;
    }
    flush();
    std::vector<int> list;
    for (int i = 0; i < (int)s.set.entries.size(); i++)
        if (kept(s.set.entries[i])) list.push_back(i);
    p.pixel = 0;
    s.pickTodo = (int)list.size();
    s.pickDone = 0;
    work_autopick(list, p);
    window_status();
}
