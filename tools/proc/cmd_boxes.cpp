// Batch boxing: every box of a box database cut from its micrograph.
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "core/MRCData.h"
#include "core/boxcut.h"
#include "core/formats.h"
#include "tools/proc/proc.h"

namespace {

int cmdBoxes(const ProcArgs& a) {
    std::unique_ptr<MRCData> d(proc_read_one(a, a.pos[0]));
    if (!d) return 1;
    if (d->isComplex()) return proc_fail("%s is complex: boxes are cut from real images", a.pos[0].c_str());
    if (!d->loadBoxDB(a.pos[1].c_str())) return proc_fail("cannot read the box database %s", a.pos[1].c_str());
    struct stat st;
    if (stat(a.pos[2].c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return proc_fail("%s is not a folder", a.pos[2].c_str());
    // The clips are named as the workbench names its cuts of this file.
    const std::string stem = fmt::baseName(d->File());
    int rc = 0;
    for (int i = 0; i < d->nBoxes(); i++) {
        const BoxRecord b = d->Boxes()[i];
        const std::string name = clipFileName(stem.c_str(), i + 1);
        const std::string path = a.pos[2] + "/" + name;
        std::unique_ptr<MRCData> clip(new MRCData(d.get()));
        int w, h, ok;
        std::vector<float> buf;
        char label[200];
        if (b.type == 0) {
            w = b.xsize;
            h = b.ysize;
            buf.resize(w > 0 && h > 0 ? (size_t)w * h : 1);
            ok = cutRect(d.get(), buf.data(), b.x, b.y, w, h);
            std::snprintf(label, sizeof label, "Clip %s (%1d,%1d)", d->Name(), b.x, b.y);
        } else {
            w = b.type;
            h = filamentLength(b.x, b.y, b.xsize, b.ysize);
            buf.resize(w > 0 ? (size_t)w * h : 1);
            ok = cutFilament(d.get(), buf.data(), b.x, b.y, b.xsize, b.ysize, w, h);
            std::snprintf(label, sizeof label, "Filament %s (%1d,%1d)", d->Name(), w, h);
        }
        if (!ok) {
            rc = proc_fail("box %d (%s) does not fit in %s", i + 1, b.name, a.pos[0].c_str());
            continue;
        }
        clip->setRealData(buf.data(), w, h, 1);
        clip->setName(label);
        clip->setFile(path.c_str());
        if (!clip->writeMRCData(path.c_str(), 0)) {
            rc = proc_fail("cannot write %s", path.c_str());
            continue;
        }
        std::fprintf(proc_out, "%s\t%dx%d\t%s\n", name.c_str(), w, h, b.name);
    }
    return rc;
}

ProcRegister reg({
    {"boxes", "MICROGRAPH BOXDB OUTDIR [--index N] [--pixel A]",
     "cut every box of a box database from MICROGRAPH into OUTDIR as MRC clips NAME_001.img, ... (filament boxes "
     "straightened)",
     3, 3, "index,pixel", "", cmdBoxes},
});

}  // namespace
