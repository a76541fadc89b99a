// Particle extraction: the picked boxes of each micrograph into an MRC stack,
// and one RELION particles.star naming them all.
#include <cmath>
#include <string>
#include <vector>

#include "ctf/estimate.h"
#include "ctf/report.h"
#include "pick/extract.h"
#include "tools/proc/proc.h"

namespace {

int cmdExtract(const ProcArgs& a) {
    ExtractJob job;
    ExtractParams& p = job.params;
    const char* v;
    if (!(v = a.get("size"))) return proc_fail("extract: give the box size with --size N");
    if (!proc_int(v, &p.size)) return proc_fail("extract: bad --size %s", v);
    float f;
    if ((v = a.get("bin")) && (!proc_float(v, &f) || !(f >= 1))) return proc_fail("extract: bad --bin %s", v);
    if (v) p.bin = f;
    if ((v = a.get("radius")) && (!proc_float(v, &f) || !(f > 0))) return proc_fail("extract: bad --radius %s", v);
    if (v) p.radius = f;
    p.ramp = !a.has("no-ramp");
    p.invert = a.has("invert");
    p.flip = a.has("flip-phases");
    p.fillEdge = a.has("fill-edge");
    std::string why;
    if (!extract_out_size(p, &why)) return proc_fail("extract: %s", why.c_str());
    if ((v = a.get("pixel")) && (!proc_float(v, &f) || !(f > 0))) return proc_fail("extract: bad --pixel %s", v);
    if (v) job.pixel = f;
    CtfEstimateParams mp;
    if (!proc_microscope(a, "extract", &mp)) return 1;
    job.kv = mp.kv;
    job.csMM = mp.csMM;
    job.ac = mp.ac;
    std::vector<CtfStarRow> ctf;
    if ((v = a.get("ctf"))) {
        if (!ctf_star_read(v, &ctf)) return proc_fail("extract: cannot read the CTF table %s", v);
        job.ctf = &ctf;
        job.ctfName = v;
    }
    job.outDir = a.get("out", "Particles");
    job.starFile = a.get("star", "");
    job.picksDir = a.get("picks", "");
    job.picksSuffix = a.get("picks-suffix", "_autopick.star");
    for (const std::string& m : a.pos) {
        ExtractSource s;
        s.micrograph = m;
        job.sources.push_back(s);
    }
    std::vector<ExtractReport> reports;
    std::string starWhy;
    int rc = 0;
    const int ok = extract_job(job, &reports, [&](const ExtractReport& r) {
        if (!r.ok) {
            rc = proc_fail("%s", r.why.c_str());
            return;
        }
        std::fprintf(proc_out, "%s: %d particles written, %d skipped at the edge, %s\n", r.micrograph.c_str(),
                     r.written, r.skipped, r.stack.empty() ? "no stack" : r.stack.c_str());
        std::fflush(proc_out);
    }, &starWhy);
    if (!starWhy.empty()) rc = proc_fail("extract: %s", starWhy.c_str());
    return ok && !rc ? 0 : 1;
}

ProcRegister reg({
    {"extract",
     "MICROGRAPH... --size N [--picks DIR] [--picks-suffix _autopick.star] [--bin B] [--radius R] [--no-ramp] "
     "[--invert] [--flip-phases] [--fill-edge] [--ctf CTF.star] [--out DIR] [--star FILE] [--pixel A] [--kv KV] "
     "[--cs MM] [--ac F]",
     "particles for refinement: the boxes picked on each micrograph (DIR/NAME + suffix, .star or .box) cut, binned, "
     "normalised as RELION does, into DIR/NAME.mrcs, and a RELION 3.1 particles.star",
     1, -1, "size,picks,picks-suffix,bin,radius,ctf,out,star,pixel,kv,cs,ac", "no-ramp,invert,flip-phases,fill-edge",
     cmdExtract},
});

}  // namespace
