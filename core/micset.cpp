#include "core/micset.h"

#include <dirent.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "core/MRCheader.h"
#include "core/fileutil.h"
#include "core/star.h"
#include "ctf/report.h"

namespace {

constexpr int kSetVersion = 1;
// No data set of the field has a million micrographs; a table that claims
// more is not read past that.
constexpr size_t kMaxEntries = 1000000;
const char* const kStateFolder = "tarvik_set";

// ---- paths

bool isDir(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
bool isFile(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
bool endsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}
std::string trimSlashes(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}
std::string fileOf(const std::string& p) {
    const size_t k = p.find_last_of('/');
    return k == std::string::npos ? p : p.substr(k + 1);
}
std::string parentOf(const std::string& p) {
    const size_t k = p.find_last_of('/');
    if (k == std::string::npos) return ".";
    return k == 0 ? "/" : p.substr(0, k);
}
std::string join(const std::string& dir, const std::string& name) {
    if (!name.empty() && name[0] == '/') return name;
    if (dir == ".") return name;
    return dir == "/" ? "/" + name : dir + "/" + name;
}
std::string absolute(const std::string& p) {
    if (!p.empty() && p[0] == '/') return p;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return p;
    return p == "." ? cwd : join(cwd, p);
}
// The file name without its extension ("a.mrc.gz" -> "a").
std::string stemOf(const std::string& p) {
    std::string f = fileOf(p);
    if (is_compressed_name(f.c_str())) f.erase(f.find_last_of('.'));
    const size_t dot = f.find_last_of('.');
    if (dot != std::string::npos && dot > 0) f.resize(dot);
    return f;
}
bool hasPattern(const std::string& p) {
    return fileOf(p).find_first_of("*?[") != std::string::npos;
}
// A name relative to base when the path lies in it (either written relative to
// the working folder or absolute), else the path itself.
std::string nameIn(const std::string& base, const std::string& path) {
    const bool absPath = !path.empty() && path[0] == '/';
    if (base == ".") return absPath ? nameIn(absolute("."), path) : path;
    std::string b = absPath ? absolute(base) : base;
    if (b != "/") b += "/";
    return path.compare(0, b.size(), b) == 0 ? path.substr(b.size()) : path;
}
int makeDir(const std::string& d) {
    if (mkdir(d.c_str(), 0777) == 0 || errno == EEXIST) return 1;
    std::printf("Cannot make folder %s: %s\n", d.c_str(), std::strerror(errno));
    return 0;
}

// ---- sources

// The micrographs of a source, as paths to open, with what a STAR file said about each.
struct SourceRow {
    std::string path;
    float kv = 0, csMM = 0, ac = 0, pixel = 0;
    const CtfStarRow* ctf = nullptr;
};
struct Source {
    std::vector<SourceRow> rows;
    std::vector<CtfStarRow> ctf;
    std::string problem;  // why it gave no micrograph
};

std::vector<std::string> mrcFilesIn(const std::string& dir) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n[0] != '.' && (endsWith(n, ".mrc") || endsWith(n, ".mrc.gz")) && isFile(join(dir, n)))
            out.push_back(join(dir, n));
        if (out.size() > kMaxEntries) break;
    }
    closedir(d);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> globFiles(const std::string& pattern) {
    std::vector<std::string> out;
    glob_t g;
    if (glob(pattern.c_str(), 0, nullptr, &g) == 0) {
        for (size_t i = 0; i < g.gl_pathc && out.size() < kMaxEntries; i++)
            if (isFile(g.gl_pathv[i])) out.push_back(g.gl_pathv[i]);
    }
    globfree(&g);
    return out;
}

float numberOr0(const StarTable& t, size_t r, const char* col, double lo, double hi) {
    const int c = t.column(col);
    double v;
    return c >= 0 && starNumber(t.rows[r][c], lo, hi, &v) ? (float)v : 0.0f;
}

// Lines a reader left out, as notes.
void noteSkips(const std::string& file, const std::vector<StarSkip>& skips, std::vector<std::string>* notes) {
    for (const StarSkip& k : skips)
        notes->push_back(file + " line " + std::to_string(k.line) + ": " + k.why + " (left out)");
}

// A micrograph named in a STAR file: relative names are RELION's, from the
// project folder (the working folder), else from the STAR file's folder.
std::string resolveNamed(const std::string& starFile, const std::string& name) {
    if (name.empty() || name[0] == '/' || isFile(name)) return name;
    const std::string there = join(parentOf(starFile), name);
    return isFile(there) ? there : name;
}

void readMicrographStar(const std::string& file, Source* src, std::vector<std::string>* notes) {
    StarFile star;
    std::vector<StarSkip> skips;
    std::string msg;
    const int ok = readStar(file.c_str(), &star, &skips, &msg);
    noteSkips(file, skips, notes);
    if (!ok) {
        src->problem = msg;  // the line's reason
        return;
    }
    const StarTable* t = star.block("micrographs");
    if (!t || t->column("_rlnMicrographName") < 0) t = star.find({"_rlnMicrographName"});
    if (!t) {
        src->problem = "no table with _rlnMicrographName";
        return;
    }
    const StarTable* optics = star.find({"_rlnOpticsGroup", "_rlnVoltage"});
    if (optics == t) optics = nullptr;
    if (t->column("_rlnDefocusU") >= 0) {
        std::vector<StarSkip> bad;
        std::string why;
        ctf_star_table(star, &src->ctf, &bad, &why);
        noteSkips(file, bad, notes);
    }
    const int name = t->column("_rlnMicrographName"), group = t->column("_rlnOpticsGroup");
    for (size_t r = 0; r < t->rows.size() && src->rows.size() < kMaxEntries; r++) {
        SourceRow row;
        row.path = resolveNamed(file, t->rows[r][name]);
        // The optics: the row's own columns, else its group's row of data_optics.
        const StarTable* o = t;
        size_t orow = r;
        if (t->column("_rlnVoltage") < 0 && optics) {
            o = optics;
            orow = 0;
            for (size_t g = 0; group >= 0 && g < optics->rows.size(); g++)
                if (optics->rows[g][optics->column("_rlnOpticsGroup")] == t->rows[r][group]) orow = g;
        }
        if (o && orow < o->rows.size()) {
            row.kv = numberOr0(*o, orow, "_rlnVoltage", 1, 10000);
            row.csMM = numberOr0(*o, orow, "_rlnSphericalAberration", 0, 1000);
            row.ac = numberOr0(*o, orow, "_rlnAmplitudeContrast", 0, 0.999);
            for (const char* c : {"_rlnMicrographPixelSize", "_rlnMicrographOriginalPixelSize", "_rlnImagePixelSize"})
                if (!(row.pixel > 0)) row.pixel = numberOr0(*o, orow, c, 0.01, 10000);
        }
        row.ctf = ctf_star_find(src->ctf, t->rows[r][name]);
        src->rows.push_back(row);
    }
    if (src->rows.empty()) src->problem = "the STAR file lists no micrograph";
}

void readSource(const std::string& what, Source* src, std::vector<std::string>* notes) {
    if (what.empty()) {
        src->problem = "nothing to open";
    } else if (isDir(what)) {
        for (const std::string& p : mrcFilesIn(what)) src->rows.push_back({p});
        if (src->rows.empty()) src->problem = "the folder holds no .mrc file";
    } else if (endsWith(what, ".star")) {
        readMicrographStar(what, src, notes);
    } else if (hasPattern(what)) {
        for (const std::string& p : globFiles(what)) src->rows.push_back({p});
        if (src->rows.empty()) src->problem = "no file matches";
    } else if (isFile(what)) {
        src->rows.push_back({what});
    } else {
        src->problem = "no such file or folder";
    }
}

// ---- set.star

struct SetRow {
    std::string name;
    int status = MIC_KEPT;
    int picks = 0;
};

// Reads set.star; rows and items it cannot take are noted, and the file is
// then kept aside before it is written again.
void readSetStar(MicSet* s, std::vector<SetRow>* rows, std::string* source) {
    const std::string file = micset_state_file(*s);
    if (!isFile(file)) return;
    StarFile star;
    std::vector<StarSkip> skips;
    std::string msg;
    readStar(file.c_str(), &star, &skips, &msg);
    noteSkips(file, skips, &s->notes);
    bool whole = skips.empty();
    if (!msg.empty()) {
        s->notes.push_back(msg + " (set.star not read)");
        whole = false;
    }
    if (const StarTable* items = star.block("set"); items && !items->loop) {
        double v = 0;
        const int ver = items->column("_tarvikSetVersion"), box = items->column("_tarvikBoxSize"),
                  src = items->column("_tarvikSource"), shown = items->column("_tarvikShown");
        if (ver >= 0 && starNumber(items->rows[0][ver], 1, 1e6, &v) && v > kSetVersion) {
            s->notes.push_back(file + ": written by a newer version; read as far as this one knows");
            whole = false;
        }
        if (box >= 0 && starNumber(items->rows[0][box], 1, 100000, &v)) s->boxSize = (int)v;
        if (src >= 0) *source = items->rows[0][src];
        if (shown >= 0) s->shown = items->rows[0][shown];
    }
    const StarTable* t = star.block("micrographs");
    std::set<std::string> seen;
    if (t && t->loop && t->column("_rlnMicrographName") >= 0) {
        const int name = t->column("_rlnMicrographName"), status = t->column("_tarvikStatus"),
                  picks = t->column("_tarvikPicks");
        for (size_t r = 0; r < t->rows.size() && rows->size() < kMaxEntries; r++) {
            SetRow row{t->rows[r][name], MIC_KEPT, 0};
            double n;
            if (picks >= 0 && starNumber(t->rows[r][picks], 0, 1e7, &n)) row.picks = (int)n;
            const std::string st = status >= 0 ? t->rows[r][status] : "kept";
            const char* why = nullptr;
            if (st == "rejected")
                row.status = MIC_REJECTED;
            else if (st != "kept")
                why = "status is neither kept nor rejected";
            if (!why && !seen.insert(row.name).second) why = "the micrograph is listed twice";
            if (why) {
                noteSkips(file, {{t->lines[r], why}}, &s->notes);
                whole = false;
                continue;
            }
            rows->push_back(row);
        }
    } else if (msg.empty()) {
        s->notes.push_back(file + ": no micrographs table");
        whole = false;
    }
    if (!whole) s->aside.push_back(file);
}

// ---- checks

void checkEntries(MicSet* s) {
    std::map<std::string, size_t> stems;
    std::map<std::pair<int, int>, int> sizes;
    for (size_t i = 0; i < s->entries.size(); i++) {
        MicEntry& e = s->entries[i];
        if (!starValueOk(e.name)) {
            e.unreadable = "a name with blanks or control characters cannot stand in a STAR table";
            continue;
        }
        auto st = stems.emplace(e.stem, i);
        if (!st.second) {
            e.unreadable = "its picks file would be that of line " + std::to_string(st.first->second + 1);
            continue;
        }
        MrcInfo info;
        std::string why;
        if (access(e.path.c_str(), F_OK) != 0) {
            e.unreadable = "missing file";
        } else if (!isFile(e.path)) {
            e.unreadable = "not a regular file";  // a device or pipe would never end
        } else if (!mrc_peek(e.path.c_str(), &info, &why)) {
            e.unreadable = why;
        } else {
            e.nx = info.nx;
            e.ny = info.ny;
            if (!(e.pixel > 0)) e.pixel = info.pixel;
            sizes[{e.nx, e.ny}]++;
        }
    }
    // The set's size is the one most micrographs have (the first of those on a tie).
    std::pair<int, int> best{0, 0};
    int most = 0;
    for (const MicEntry& e : s->entries)
        if (e.unreadable.empty() && sizes[{e.nx, e.ny}] > most) {
            most = sizes[{e.nx, e.ny}];
            best = {e.nx, e.ny};
        }
    for (MicEntry& e : s->entries)
        if (e.unreadable.empty() && (e.nx != best.first || e.ny != best.second))
            e.unreadable = std::to_string(e.nx) + "x" + std::to_string(e.ny) + ", not the set's " +
                           std::to_string(best.first) + "x" + std::to_string(best.second);
}

void readCtfState(MicSet* s, const std::map<std::string, const SourceRow*>& byName) {
    const std::string file = micset_ctf_file(*s);
    std::vector<CtfStarRow> rows;
    if (isFile(file)) {
        StarFile star;
        std::vector<StarSkip> bad;
        std::string msg;
        if (readStar(file.c_str(), &star, &bad, &msg) && !ctf_star_table(star, &rows, &bad, &msg))
            msg = file + ": " + msg;
        noteSkips(file, bad, &s->notes);
        if (!msg.empty()) s->notes.push_back(msg + " (CTF table not read)");
        if (!msg.empty() || !bad.empty()) s->aside.push_back(file);
    }
    for (MicEntry& e : s->entries) {
        const CtfStarRow* r = ctf_star_find(rows, e.name);
        if (!r) {
            auto k = byName.find(e.name);
            if (k != byName.end()) r = k->second->ctf;
        }
        if (!r) continue;
        e.hasCtf = true;
        e.ctf = r->estimate;
        e.ctfKv = r->kv;
        e.ctfCs = r->csMM;
        e.ctfAc = r->ac;
    }
}

void countPicks(MicSet* s) {
    for (MicEntry& e : s->entries) {
        if (e.stem.empty()) continue;
        const std::string f = micset_picks_file(*s, e);
        if (!isFile(f)) continue;
        std::vector<Pick> p;
        std::vector<float> fom;
        std::string why;
        if (micset_read_picks(*s, e, 1, 1, &p, &fom, &why)) {
            e.picks = (int)p.size();
        } else {
            e.picks = -1;
            s->notes.push_back(why + " (the picks of " + fileOf(e.path) + " are not shown; the file is kept)");
        }
    }
}

std::string writeText(const std::string& file, const std::string& text) {
    if (!write_file_atomic(file.c_str(), text.data(), text.size()))
        return "Cannot write " + file + ": " + std::strerror(errno);
    return "";
}

// Before a state file is written again: a file that was not read whole goes aside.
void asideBeforeWrite(MicSet& s, const std::string& file) {
    auto k = std::find(s.aside.begin(), s.aside.end(), file);
    if (k == s.aside.end()) return;
    s.aside.erase(k);
    const std::string moved = micset_keep_aside(file);
    if (!moved.empty()) s.notes.push_back(file + " was kept as " + moved);
}

}  // namespace

std::string micset_state_file(const MicSet& s) {
    return join(s.dir, "set.star");
}
std::string micset_ctf_file(const MicSet& s) {
    return join(s.dir, "micrographs_ctf.star");
}
std::string micset_picks_file(const MicSet& s, const MicEntry& e) {
    return join(s.dir, e.stem + "_manualpick.star");
}

bool micset_usable(const MicEntry& e) {
    return e.unreadable.empty();
}

int micset_open(const std::string& whatIn, MicSet* s) {
    *s = MicSet();
    const std::string what = trimSlashes(whatIn);
    // Where the state lives, and what the micrographs come from.
    std::string sourceWhat = what;
    if (isDir(what) && fileOf(what) == kStateFolder && isFile(join(what, "set.star"))) {
        s->dir = what;
        sourceWhat.clear();
    } else if (fileOf(what) == "set.star") {
        s->dir = parentOf(what);
        sourceWhat.clear();
    } else {
        s->dir = join(isDir(what) ? what : parentOf(what), kStateFolder);
    }
    s->base = parentOf(s->dir);
    std::vector<SetRow> setRows;
    std::string storedSource;
    readSetStar(s, &setRows, &storedSource);
    // A pattern, a file or a micrographs STAR file chooses the micrographs
    // listed; the set's other rows stay in set.star, unlisted.
    const bool chooses = !sourceWhat.empty() && !isDir(sourceWhat);
    if (sourceWhat.empty()) sourceWhat = storedSource;
    s->source = sourceWhat.empty() ? "" : absolute(sourceWhat);

    Source src;
    if (!sourceWhat.empty()) readSource(sourceWhat, &src, &s->notes);
    if (!src.problem.empty() && !setRows.empty()) s->notes.push_back(sourceWhat + ": " + src.problem);
    std::map<std::string, const SourceRow*> byName;
    for (const SourceRow& r : src.rows) byName.emplace(nameIn(s->base, r.path), &r);

    std::set<std::string> listed;
    auto add = [&](const std::string& name, int status) {
        if (!listed.insert(name).second) return;
        MicEntry e;
        e.name = name;
        e.path = join(s->base, name);
        e.stem = stemOf(name);
        e.status = status;
        auto k = byName.find(name);
        if (k != byName.end()) {
            e.kv = k->second->kv;
            e.csMM = k->second->csMM;
            e.ac = k->second->ac;
            e.pixel = k->second->pixel;
        }
        s->entries.push_back(e);
    };
    for (const SetRow& r : setRows) {
        if (!chooses || byName.count(r.name)) {
            add(r.name, r.status);
            continue;
        }
        MicEntry e;
        e.name = r.name;
        e.status = r.status;
        e.picks = r.picks;
        s->unlisted.push_back(e);
    }
    for (const SourceRow& r : src.rows) add(nameIn(s->base, r.path), MIC_KEPT);

    if (s->entries.empty()) {
        MicEntry e;
        e.path = whatIn;
        e.unreadable = src.problem.empty() ? "no micrograph" : src.problem;
        s->entries.push_back(e);
        return 0;
    }
    checkEntries(s);
    readCtfState(s, byName);
    countPicks(s);
    int usable = 0;
    for (const MicEntry& e : s->entries) usable += micset_usable(e);
    return usable;
}

int micset_read_picks(const MicSet& s, const MicEntry& e, int w, int h, std::vector<Pick>* picks,
                      std::vector<float>* fom, std::string* why) {
    picks->clear();
    fom->clear();
    const std::string f = micset_picks_file(s, e);
    if (access(f.c_str(), F_OK) != 0) return 1;
    return readStarPicks(f.c_str(), w, h, picks, fom, why);
}

int micset_write_picks(MicSet& s, int i, const std::vector<Pick>& picks, const std::vector<float>& fom) {
    if (i < 0 || i >= (int)s.entries.size() || s.entries[i].stem.empty()) return 0;
    MicEntry& e = s.entries[i];
    const std::string f = micset_picks_file(s, e);
    if (!makeDir(s.dir)) return 0;
    if (e.picks < 0 && access(f.c_str(), F_OK) == 0) {
        const std::string moved = micset_keep_aside(f);
        if (moved.empty()) {
            std::printf("Cannot keep %s aside: the picks are not saved\n", f.c_str());
            return 0;
        }
        s.notes.push_back(f + " was kept as " + moved);
    }
    if (!writeStarPicks(f.c_str(), picks, &fom)) return 0;
    e.picks = (int)picks.size();
    return 1;
}

int micset_write_state(MicSet& s) {
    if (!makeDir(s.dir)) return 0;
    const std::string file = micset_state_file(s);
    asideBeforeWrite(s, file);
    std::string t = "\n# tarvik micrograph set: order, status and pick counts\n\ndata_set\n\n";
    t += "_tarvikSetVersion " + std::to_string(kSetVersion) + "\n";
    if (s.boxSize > 0) t += "_tarvikBoxSize " + std::to_string(s.boxSize) + "\n";
    if (starValueOk(s.source)) t += "_tarvikSource " + s.source + "\n";
    if (starValueOk(s.shown)) t += "_tarvikShown " + s.shown + "\n";
    t += "\ndata_micrographs\n\nloop_\n_rlnMicrographName #1\n_tarvikStatus #2\n_tarvikPicks #3\n";
    for (const std::vector<MicEntry>* list : {&s.entries, &s.unlisted})
        for (const MicEntry& e : *list) {
            if (!starValueOk(e.name)) continue;  // the line that says the source gave nothing
            t += e.name + (e.status == MIC_REJECTED ? " rejected " : " kept ") + std::to_string(std::max(0, e.picks)) +
                 "\n";
        }
    const std::string err = writeText(file, t + "\n");
    if (!err.empty()) std::printf("%s\n", err.c_str());
    return err.empty();
}

int micset_write_ctf(MicSet& s, const CtfEstimateParams& p) {
    if (!makeDir(s.dir)) return 0;
    const std::string file = micset_ctf_file(s);
    asideBeforeWrite(s, file);
    std::vector<CtfStarRow> rows;
    for (const MicEntry& e : s.entries)
        if (e.hasCtf && starValueOk(e.name)) rows.push_back({e.name, e.ctf, e.ctfKv, e.ctfCs, e.ctfAc});
    const std::string err = writeText(file, ctf_star_file(rows, p));
    if (!err.empty()) std::printf("%s\n", err.c_str());
    return err.empty();
}

std::string micset_keep_aside(const std::string& file) {
    std::string to = file + ".unread";
    for (int n = 2; access(to.c_str(), F_OK) == 0 && n < 1000; n++) to = file + ".unread." + std::to_string(n);
    return rename(file.c_str(), to.c_str()) == 0 ? to : "";
}

int micset_export(const MicSet& s, const std::string& outDir, const CtfEstimateParams& p, MicExport* out) {
    *out = MicExport();
    if (!makeDir(outDir)) return 0;
    std::vector<CtfStarRow> rows;
    std::string coords = "\n# micrographs and their coordinate files\n\ndata_coordinate_files\n\nloop_\n"
                         "_rlnMicrographName #1\n_rlnMicrographCoordinates #2\n";
    for (const MicEntry& e : s.entries) {
        if (e.status != MIC_KEPT || !micset_usable(e)) continue;
        if (!e.hasCtf) {
            out->withoutCtf++;
            continue;
        }
        if (!starValueOk(e.path)) continue;
        std::vector<Pick> picks;
        std::vector<float> fom;
        std::string why;
        const int box = s.boxSize > 0 ? s.boxSize : 1;
        if (!micset_read_picks(s, e, box, box, &picks, &fom, &why)) {
            std::printf("%s\n", why.c_str());
            return 0;
        }
        const std::string cf = join(outDir, e.stem + "_manualpick.star");
        if (!starValueOk(cf) || !writeStarPicks(cf.c_str(), picks, &fom)) return 0;
        rows.push_back({e.path, e.ctf, e.ctfKv, e.ctfCs, e.ctfAc});
        coords += e.path + " " + cf + "\n";
        out->coordinates++;
    }
    out->micrographs = (int)rows.size();
    std::string err = writeText(join(outDir, "micrographs_ctf.star"), ctf_star_file(rows, p));
    if (err.empty()) err = writeText(join(outDir, "coordinates.star"), coords + "\n");
    if (!err.empty()) std::printf("%s\n", err.c_str());
    return err.empty();
}

std::string micset_status(const MicEntry& e) {
    if (!e.unreadable.empty()) return "unreadable: " + e.unreadable;
    return e.status == MIC_REJECTED ? "rejected" : "kept";
}

std::string micset_line(const MicSet& s, int i) {
    if (i < 0 || i >= (int)s.entries.size()) return "";
    const MicEntry& e = s.entries[i];
    char picks[16] = "?", def[16] = "", ast[16] = "", res[16] = "";
    if (e.stem.empty())
        picks[0] = 0;  // the line that says the source gave nothing
    else if (e.picks >= 0)
        std::snprintf(picks, sizeof picks, "%d", e.picks);
    if (e.hasCtf) {
        std::snprintf(def, sizeof def, "%.3f", (e.ctf.defocusU + e.ctf.defocusV) / 2);
        std::snprintf(ast, sizeof ast, "%.3f", std::fabs(e.ctf.defocusU - e.ctf.defocusV));
        std::snprintf(res, sizeof res, "%.1f", e.ctf.resolution);
    }
    char buf[512];
    std::snprintf(buf, sizeof buf, "%4d %-24.24s %6s %7s %6s %6s  ", i + 1, fileOf(e.path).c_str(), picks, def, ast,
                  res);
    return buf + micset_status(e);
}
