// Batch CTF estimation: one result line per micrograph, optionally a RELION
// micrograph table and one SVG plot each.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/prefs.h"
#include "ctf/estimate.h"
#include "core/star.h"
#include "ctf/report.h"
#include "tools/proc/proc.h"

bool proc_microscope(const ProcArgs& a, const char* cmd, CtfEstimateParams* p) {
    p->kv = getenvfd("voltage", 100.0f);
    p->csMM = getenvfd("spherab", 5.6f);
    p->ac = 0.07f;
    const char* v;
    if ((v = a.get("kv")) && (!proc_float(v, &p->kv) || !(p->kv > 0))) return !proc_fail("%s: bad --kv %s", cmd, v);
    if ((v = a.get("cs")) && (!proc_float(v, &p->csMM) || !(p->csMM >= 0))) return !proc_fail("%s: bad --cs %s", cmd, v);
    if ((v = a.get("ac")) && (!proc_float(v, &p->ac) || !(p->ac >= 0 && p->ac < 1)))
        return !proc_fail("%s: bad --ac %s (a fraction below 1)", cmd, v);
    return true;
}

namespace {

// DIR/NAME_ctf.svg for a micrograph path: its name without folder and extension.
std::string plotPath(const std::string& dir, const std::string& file) {
    std::string name = file.substr(file.find_last_of('/') == std::string::npos ? 0 : file.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return dir + "/" + name + "_ctf.svg";
}

// Estimates one micrograph; 0 with its result filled, or 1 after saying why.
int estimateOne(const ProcArgs& a, const std::string& file, CtfEstimateParams p, CtfEstimate* e) {
    std::unique_ptr<MRCData> d(proc_read_one(a, file));
    if (!d) return 1;
    if (d->isComplex()) return proc_fail("%s: a Fourier transform, not a micrograph", file.c_str());
    if (a.get("pixel"))
        p.pixel = d->Pixres();
    else if (d->MRCHed())
        p.pixel = mrc_pixel_size(*d->MRCHed());
    if (!(p.pixel > 0)) return proc_fail("%s: the file records no pixel size; give --pixel A", file.c_str());
    // A stack or volume: its first image.
    if (!ctf_estimate(d->getRealData(), d->xSize(), d->ySize(), p, e)) return proc_fail("%s: %s", file.c_str(), e->why);
    return 0;
}

int cmdCTF(const ProcArgs& a) {
    CtfEstimateParams p;
    if (!proc_microscope(a, "ctf", &p)) return 1;
    const char* plotDir = a.get("plot");
    if (plotDir && mkdir(plotDir, 0777) != 0 && errno != EEXIST)
        return proc_fail("ctf: cannot make %s: %s", plotDir, std::strerror(errno));
    int rc = 0;
    std::vector<CtfStarRow> rows;
    for (const std::string& file : a.pos) {
        CtfEstimate e;
        if (estimateOne(a, file, p, &e)) {
            rc = 1;
            continue;
        }
        const std::string line = a.has("json") ? ctf_json_line(file, e) : ctf_text_line(file, e);
        std::fputs(line.c_str(), proc_out);
        std::fflush(proc_out);
        if (plotDir) {
            const std::string svg = ctf_plot_svg(file, e), path = plotPath(plotDir, file);
            if (!write_file_atomic(path.c_str(), svg.data(), svg.size()))
                rc = proc_fail("cannot write %s: %s", path.c_str(), std::strerror(errno));
        }
        if (a.get("star")) {
            if (starValueOk(file))
                rows.push_back({file, e});
            else
                rc = proc_fail("%s: a name with blanks or control characters cannot stand in a STAR table; left out",
                               file.c_str());
        }
    }
    if (const char* star = a.get("star")) {
        if (rows.empty()) return proc_fail("ctf: no estimates, %s not written", star);
        const std::string text = ctf_star_file(rows, p);
        if (!write_file_atomic(star, text.data(), text.size()))
            return proc_fail("cannot write %s: %s", star, std::strerror(errno));
    }
    return rc;
}

ProcRegister reg({
    {"ctf",
     "MICROGRAPH... [--pixel A] [--kv KV] [--cs MM] [--ac FRACTION] [--json] [--star OUT.star] [--plot DIR] "
     "[--index N]",
     "CTF of each micrograph: defocus, defocus_u, defocus_v (micrometres, negative = underfocus), astig_angle, "
     "resolution, score",
     1, -1, "pixel,kv,cs,ac,star,plot,index", "json", cmdCTF},
});

}  // namespace
