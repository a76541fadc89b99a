// Batch CTF estimation: one result line per micrograph, optionally a RELION
// micrograph table, one SVG plot and one 2-D diagnostic each; and phase
// flipping of a micrograph with its astigmatic CTF.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/prefs.h"
#include "core/star.h"
#include "ctf/ctf2d.h"
#include "ctf/diagnostic.h"
#include "ctf/estimate.h"
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

// DIR/NAME_ctf.EXT for a micrograph path: its name without folder and extension.
std::string outPath(const std::string& dir, const std::string& file, const char* ext) {
    std::string name = file.substr(file.find_last_of('/') == std::string::npos ? 0 : file.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return dir + "/" + name + "_ctf." + ext;
}

// A folder for output files; false after saying why.
bool makeDir(const char* dir) {
    if (!dir || mkdir(dir, 0777) == 0 || errno == EEXIST) return true;
    return !proc_fail("ctf: cannot make %s: %s", dir, std::strerror(errno));
}

// The 2-D diagnostic as DIR/NAME_ctf.mrc; 0, or 1 after saying why.
int writeDiagnostic(const char* dir, const std::string& file, const CtfSpectrum& sp, const CtfEstimate& e,
                    const CtfEstimateParams& p) {
    std::vector<float> img;
    const std::string path = outPath(dir, file, "mrc");
    if (!ctf_diagnostic(sp, e, p, &img)) return proc_fail("%s: no spectrum for a diagnostic", file.c_str());
    MRCData d;
    d.setRealData(img.data(), sp.T, sp.T, 1);
    d.setPixres(sp.pixel);
    if (d.writeMRCData(path.c_str(), 0) != 1) return proc_fail("cannot write %s", path.c_str());
    return 0;
}

// Reads one micrograph (its first image) and sets p.pixel from --pixel or the
// file; null after saying why.
MRCData* readMicrograph(const ProcArgs& a, const std::string& file, CtfEstimateParams* p) {
    std::unique_ptr<MRCData> d(proc_read_one(a, file));
    if (!d) return nullptr;
    if (d->isComplex()) return proc_fail("%s: a Fourier transform, not a micrograph", file.c_str()), nullptr;
    if (a.get("pixel"))
        p->pixel = d->Pixres();
    else if (d->MRCHed())
        p->pixel = mrc_pixel_size(*d->MRCHed());
    if (!(p->pixel > 0))
        return proc_fail("%s: the file records no pixel size; give --pixel A", file.c_str()), nullptr;
    return d.release();
}

// Estimates one micrograph; 0 with its result filled, or 1 after saying why.
int estimateOne(const ProcArgs& a, const std::string& file, CtfEstimateParams p, CtfEstimate* e, CtfSpectrum* keep) {
    std::unique_ptr<MRCData> d(readMicrograph(a, file, &p));
    if (!d) return 1;
    if (!ctf_estimate(d->getRealData(), d->xSize(), d->ySize(), p, e, keep))
        return proc_fail("%s: %s", file.c_str(), e->why);
    return 0;
}

int cmdCTF(const ProcArgs& a) {
    CtfEstimateParams p;
    if (!proc_microscope(a, "ctf", &p)) return 1;
    const char* plotDir = a.get("plot");
    const char* diagDir = a.get("diagnostic");
    if (!makeDir(plotDir) || !makeDir(diagDir)) return 1;
    int rc = 0;
    std::vector<CtfStarRow> rows;
    for (const std::string& file : a.pos) {
        CtfEstimate e;
        CtfSpectrum sp;
        if (estimateOne(a, file, p, &e, diagDir ? &sp : nullptr)) {
            rc = 1;
            continue;
        }
        const std::string line = a.has("json") ? ctf_json_line(file, e) : ctf_text_line(file, e);
        std::fputs(line.c_str(), proc_out);
        std::fflush(proc_out);
        if (plotDir) {
            const std::string svg = ctf_plot_svg(file, e), path = outPath(plotDir, file, "svg");
            if (!write_file_atomic(path.c_str(), svg.data(), svg.size()))
                rc = proc_fail("cannot write %s: %s", path.c_str(), std::strerror(errno));
        }
        if (diagDir && writeDiagnostic(diagDir, file, sp, e, p)) rc = 1;
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

// The CTF of a micrograph for flip-phases: its row of --ctf, the defocus
// options, or an estimate of the image; false after saying why.
bool flipCtf(const ProcArgs& a, const std::string& file, const MRCData& d, const CtfEstimateParams& p, Ctf2d* c) {
    const char* table = a.get("ctf");
    const bool given = a.get("defocus-u") || a.get("defocus-v") || a.get("angle");
    c->kv = p.kv, c->csMM = p.csMM, c->ac = p.ac;
    if (table && given) return !proc_fail("flip-phases: give --ctf or --defocus-u/--defocus-v/--angle, not both");
    if (table) {
        std::vector<CtfStarRow> rows;
        if (!ctf_star_read(table, &rows)) return !proc_fail("flip-phases: cannot use %s", table);
        const CtfStarRow* r = ctf_star_find(rows, file);
        if (!r) return !proc_fail("flip-phases: %s has no row for %s", table, file.c_str());
        *c = ctf2d_from(r->estimate, p);
        // The table's microscope unless the options say otherwise.
        if (r->kv > 0 && !a.get("kv")) c->kv = r->kv;
        if (r->csMM > 0 && !a.get("cs")) c->csMM = r->csMM;
        if (r->ac > 0 && !a.get("ac")) c->ac = r->ac;
        return true;
    }
    if (given) {
        float u, v, ang = 0;
        const char *U = a.get("defocus-u"), *V = a.get("defocus-v"), *A = a.get("angle");
        if (!U || !V) return !proc_fail("flip-phases: --defocus-u and --defocus-v go together");
        if (!proc_float(U, &u) || !std::isfinite(u)) return !proc_fail("flip-phases: bad --defocus-u %s", U);
        if (!proc_float(V, &v) || !std::isfinite(v)) return !proc_fail("flip-phases: bad --defocus-v %s", V);
        if (A && (!proc_float(A, &ang) || !std::isfinite(ang))) return !proc_fail("flip-phases: bad --angle %s", A);
        c->defocusU = u, c->defocusV = v, c->angle = ang;
        return true;
    }
    CtfEstimate e;
    if (!ctf_estimate(d.getRealData(), d.xSize(), d.ySize(), p, &e))
        return !proc_fail("%s: %s; give --ctf or --defocus-u and --defocus-v", file.c_str(), e.why);
    *c = ctf2d_from(e, p);
    return true;
}

int cmdFlipPhases(const ProcArgs& a) {
    CtfEstimateParams p;
    if (!proc_microscope(a, "flip-phases", &p)) return 1;
    const std::string& file = a.pos[0];
    std::unique_ptr<MRCData> d(readMicrograph(a, file, &p));
    if (!d) return 1;
    Ctf2d c;
    if (!flipCtf(a, file, *d, p, &c)) return 1;
    if (!ctf2d_flip(d->getRealData(), d->xSize(), d->ySize(), p.pixel, c)) return proc_fail("%s: cannot flip", file.c_str());
    d->update();
    d->setPixres(p.pixel);
    return proc_write(a, d.get(), a.pos[1]);
}

ProcRegister reg({
    {"ctf",
     "MICROGRAPH... [--pixel A] [--kv KV] [--cs MM] [--ac FRACTION] [--json] [--star OUT.star] [--plot DIR] "
     "[--diagnostic DIR] [--index N]",
     "CTF of each micrograph: defocus, defocus_u, defocus_v (micrometres, negative = underfocus), astig_angle, "
     "resolution, score",
     1, -1, "pixel,kv,cs,ac,star,plot,diagnostic,index", "json", cmdCTF},
    {"flip-phases",
     "MICROGRAPH OUT [--ctf CTF.star | --defocus-u U --defocus-v V --angle A] [--pixel A] [--kv KV] [--cs MM] "
     "[--ac F] [--index N]",
     "flip the phases of the micrograph where its astigmatic CTF is negative (estimated when not given)", 2, 2,
     "ctf,defocus-u,defocus-v,angle,pixel,kv,cs,ac,index", "", cmdFlipPhases},
});

}  // namespace
