// Pick files: box databases, RELION .star coordinates and EMAN2 .box files
// converted into one another.
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/formats.h"
#include "core/picks.h"
#include "tools/proc/proc.h"

namespace {

// "W" or "W,H", each 1..100000.
bool parseSize(const char* s, int* w, int* h) {
    std::string t = s;
    size_t c = t.find(',');
    if (!proc_int(t.substr(0, c), w)) return false;
    *h = *w;
    if (c != std::string::npos && !proc_int(t.substr(c + 1), h)) return false;
    return *w >= 1 && *h >= 1 && *w <= 100000 && *h <= 100000;
}

int cmdPicks(const ProcArgs& a) {
    const std::string& in = a.pos[0];
    const std::string& out = a.pos[1];
    int w = 0, h = 0;
    const char* size = a.get("size");
    if (size && !parseSize(size, &w, &h)) return proc_fail("bad --size value %s", size);
    MRCData d;
    // Boxes read from pick files are named as clips of the input would be.
    d.setFile(fmt::baseName(in.c_str()));
    const PickFormat from = pickFormat(in.c_str());
    if (from == PICKS_STAR && !size)
        return proc_fail("%s holds box centres only: give the box size with --size W[,H]", in.c_str());
    if (from == PICKS_BOXDB) {
        if (!d.loadBoxDB(in.c_str())) return proc_fail("cannot read %s", in.c_str());
    } else if (importPicks(&d, in.c_str(), w, h) < 0) {
        return proc_fail("cannot read %s", in.c_str());
    }
    if (size && from != PICKS_STAR)
        for (int i = 0; i < d.nBoxes(); i++) {  // new size about the same centre
            BoxRecord& b = d.Boxes()[i];
            if (b.type != 0) continue;
            b.x += b.xsize / 2 - w / 2;
            b.y += b.ysize / 2 - h / 2;
            b.xsize = w;
            b.ysize = h;
        }
    int written = d.nBoxes(), left = 0;
    if (pickFormat(out.c_str()) == PICKS_BOXDB) {
        if (!d.saveBoxDB(out.c_str())) return proc_fail("cannot write %s", out.c_str());
    } else if ((written = exportPicks(&d, out.c_str(), &left)) < 0) {
        return proc_fail("cannot write %s", out.c_str());
    }
    std::fprintf(proc_out, "%d boxes written to %s\n", written, out.c_str());
    if (left) std::fprintf(proc_out, "%d filament boxes left out\n", left);
    return 0;
}

ProcRegister reg({
    {"picks", "IN OUT [--size W[,H]]",
     "convert boxes between a box database (.db or any other extension), RELION coordinates (.star, box centres: "
     "--size gives their box size) and EMAN2 .box files; --size also re-sizes boxes about their centres",
     2, 2, "size", "", cmdPicks},
});

}  // namespace
