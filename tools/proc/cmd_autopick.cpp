// Automatic particle picking of micrographs: one coordinate file per
// micrograph (RELION's NAME_autopick.star, or an EMAN2 .box) and one result
// line each.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/picks.h"
#include "pick/autopick.h"
#include "tools/proc/proc.h"

namespace {

// NAME of a micrograph path: its file name without folder and extension.
std::string stem(const std::string& file) {
    std::string name = file.substr(file.find_last_of('/') == std::string::npos ? 0 : file.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

// The picking options; false after saying what is wrong.
bool options(const ProcArgs& a, AutopickParams* p, std::string* format) {
    const char* v;
    if (!(v = a.get("diameter"))) return !proc_fail("autopick: give the particle diameter with --diameter A");
    if (!proc_float(v, &p->diameter) || !(p->diameter > 0))
        return !proc_fail("autopick: bad --diameter %s (Angstrom, above 0)", v);
    if ((v = a.get("threshold")) && (!proc_float(v, &p->threshold) || !(p->threshold >= 0)))
        return !proc_fail("autopick: bad --threshold %s (noise units, 0 or more)", v);
    if ((v = a.get("min-distance")) && (!proc_float(v, &p->minDistance) || !(p->minDistance >= 0)))
        return !proc_fail("autopick: bad --min-distance %s (Angstrom, 0 or more)", v);
    if ((v = a.get("size")) && (!proc_int(v, &p->boxSize) || p->boxSize < 2 || p->boxSize > 100000))
        return !proc_fail("autopick: bad --size %s (box side in pixels, 2 or more)", v);
    p->invert = a.has("invert");
    const bool templ = a.get("template") || a.get("template-from");
    if (a.get("template") && a.get("template-from"))
        return !proc_fail("autopick: give either --template or --template-from, not both");
    const std::string mode = a.get("mode", templ ? "template" : "blob");
    if (mode == "blob" && !templ)
        p->mode = AUTOPICK_BLOB;
    else if (mode == "template" && templ)
        p->mode = AUTOPICK_TEMPLATE;
    else if (mode == "template")
        return !proc_fail("autopick: template mode needs --template FILE or --template-from PICKS");
    else if (mode == "blob")
        return !proc_fail("autopick: --template and --template-from are for --mode template");
    else
        return !proc_fail("autopick: bad --mode %s (blob or template)", mode.c_str());
    *format = a.get("format", "star");
    if (*format != "star" && *format != "box") return !proc_fail("autopick: bad --format %s (star or box)", format->c_str());
    return true;
}

// A real micrograph with its pixel size (from --pixel, else its MRC header);
// null after saying why.
MRCData* micrograph(const ProcArgs& a, const std::string& file, float* pixel) {
    std::unique_ptr<MRCData> d(proc_read_one(a, file));
    if (!d) return nullptr;
    if (d->isComplex()) {
        proc_fail("%s: a Fourier transform, not a micrograph", file.c_str());
        return nullptr;
    }
    *pixel = a.get("pixel") ? d->Pixres() : d->MRCHed() ? mrc_pixel_size(*d->MRCHed()) : 0;
    if (!(*pixel > 0)) {
        proc_fail("%s: the file records no pixel size; give --pixel A", file.c_str());
        return nullptr;
    }
    return d.release();
}

// The template of --template FILE, or of the boxes of --template-from PICKS on
// the first micrograph; false after saying why.
bool makeTemplate(const ProcArgs& a, AutopickParams* p) {
    if (const char* f = a.get("template")) {
        ProcArgs first = a;  // the template's first image, whatever --index says of the micrographs
        first.opt.erase("index");
        std::unique_ptr<MRCData> t(proc_read_one(first, f));
        if (!t) return false;
        if (t->isComplex()) return !proc_fail("%s: a Fourier transform, not a template", f);
        p->templNx = t->xSize(), p->templNy = t->ySize();
        p->templ.assign(t->getRealData(), t->getRealData() + (size_t)p->templNx * p->templNy);
        return true;
    }
    const char* picks = a.get("template-from");
    float pixel;
    std::unique_ptr<MRCData> d(micrograph(a, a.pos[0], &pixel));
    if (!d) return false;
    AutopickParams q = *p;
    q.pixel = pixel;
    const int box = autopick_box_size(q);
    std::vector<Pick> boxes;
    const PickFormat fmt = pickFormat(picks);
    if (fmt == PICKS_BOXDB) return !proc_fail("%s: --template-from takes a .star or .box file", picks);
    if (!(fmt == PICKS_STAR ? readStarPicks(picks, box, box, &boxes) : readBoxPicks(picks, &boxes)))
        return !proc_fail("cannot read %s", picks);
    const int n = autopick_template_from_boxes(d->getRealData(), d->xSize(), d->ySize(), boxes, box, &p->templ);
    if (n == 0) return !proc_fail("%s: no box of %d pixels lies inside %s", picks, box, a.pos[0].c_str());
    p->templNx = p->templNy = box;
    return true;
}

int cmdAutopick(const ProcArgs& a) {
    AutopickParams p;
    std::string format;
    if (!options(a, &p, &format)) return 1;
    const std::string dir = a.get("out", ".");
    if (mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
        return proc_fail("autopick: cannot make %s: %s", dir.c_str(), std::strerror(errno));
    if (p.mode == AUTOPICK_TEMPLATE && !makeTemplate(a, &p)) return 1;
    int rc = 0;
    std::set<std::string> written;
    for (const std::string& file : a.pos) {
        const std::string out = dir + "/" + stem(file) + "_autopick." + format;
        if (written.count(out)) {
            rc = proc_fail("%s: %s was written for another micrograph of that name; left out", file.c_str(),
                           out.c_str());
            continue;
        }
        std::unique_ptr<MRCData> d(micrograph(a, file, &p.pixel));
        std::vector<AutoPick> picks;
        if (!d || !autopick(d->getRealData(), d->xSize(), d->ySize(), p, &picks)) {
            rc = d ? proc_fail("%s: not picked", file.c_str()) : 1;
            continue;
        }
        std::vector<Pick> boxes;
        for (const AutoPick& k : picks) boxes.push_back(k.box);
        if (!(format == "star" ? writeStarPicks(out.c_str(), boxes) : writeBoxPicks(out.c_str(), boxes))) {
            rc = proc_fail("cannot write %s", out.c_str());
            continue;
        }
        written.insert(out);
        if (a.has("json"))
            std::fprintf(proc_out, "{\"file\": %s, \"picks\": %zu, \"out\": %s}\n", json_quote(file).c_str(),
                         picks.size(), json_quote(out).c_str());
        else
            std::fprintf(proc_out, "%zu %s %s\n", picks.size(), out.c_str(), file.c_str());
        std::fflush(proc_out);
    }
    return rc;
}

ProcRegister reg({
    {"autopick",
     "MICROGRAPH... --diameter A [--pixel A] [--mode blob|template] [--template FILE | --template-from PICKS] "
     "[--threshold T] [--min-distance A] [--size N] [--invert] [--out DIR] [--format star|box] [--json] [--index N]",
     "pick particles automatically: one line per micrograph (number of picks, the coordinate file "
     "DIR/NAME_autopick.star or .box, the micrograph)",
     1, -1, "diameter,mode,template,template-from,threshold,min-distance,size,out,format,index,pixel", "invert,json",
     cmdAutopick},
});

}  // namespace
