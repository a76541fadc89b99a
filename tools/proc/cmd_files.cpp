// File commands: info and convert.
#include <cmath>
#include <cstring>
#include <string>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/fileutil.h"
#include "tools/proc/proc.h"

namespace {

void jsonString(FILE* f, const char* s) {
    std::fputs(json_quote(s).c_str(), f);
}

void jsonNumber(FILE* f, double v) {
    if (std::isfinite(v))
        std::fprintf(f, "%.9g", v);
    else
        std::fputs("null", f);
}

// image: RELION's name of a section of a stack ("k@FILE", k from 1), null for a single image.
void printInfo(const char* file, const char* image, MRCData* d, bool json) {
    const char* names[] = {"Min", "Max", "Mean", "Sigma", "EdgeMean", "EdgeSigma", "RenMin", "RenMax"};
    double vals[] = {d->Min(),      d->Max(),       d->Mean(),   d->Sigma(),
                     d->EdgeMean(), d->EdgeSigma(), d->RenMin(), d->RenMax()};
    int nx = d->isComplex() ? d->xSize() - 2 : d->xSize();
    if (json) {
        std::fputs("{\"file\": ", proc_out);
        jsonString(proc_out, file);
        if (image) {
            std::fputs(", \"image\": ", proc_out);
            jsonString(proc_out, image);
        }
        std::fprintf(proc_out, ", \"nx\": %d, \"ny\": %d, \"complex\": %s", nx, d->ySize(),
                     d->isComplex() ? "true" : "false");
        for (int i = 0; i < 8; i++) {
            std::fprintf(proc_out, ", \"%s\": ", names[i]);
            jsonNumber(proc_out, vals[i]);
        }
        std::fputs("}\n", proc_out);
        return;
    }
    std::fprintf(proc_out, "%s%s%s  %dx%d  %s", file, image ? " " : "", image ? image : "", nx, d->ySize(),
                 d->isComplex() ? "complex" : "real");
    for (int i = 0; i < 8; i++) std::fprintf(proc_out, "  %s %g", names[i], vals[i]);
    std::fputc('\n', proc_out);
}

int cmdInfo(const ProcArgs& a) {
    int rc = 0;
    for (auto& f : a.pos) {
        List* l = proc_read(a, f);
        if (!l) {
            rc = 1;
            continue;
        }
        // Sections of a stack: the index that --index takes (from 0) and RELION's name (from 1).
        const bool stack = l->count() > 1;
        for (int i = 0; i < l->count(); i++) {
            const std::string label = stack ? f + "[" + std::to_string(i) + "]" : f;
            const std::string image = std::to_string(i + 1) + "@" + f;
            printInfo(label.c_str(), stack ? image.c_str() : nullptr, static_cast<MRCData*>(l->objectAt(i)),
                      a.has("json"));
        }
        freeDataList(l);
    }
    return rc;
}

int cmdConvert(const ProcArgs& a) {
    int shortMode = a.has("short-raw") ? 2 : a.has("short") ? 1 : 0;
    const std::string& out = a.pos[1];
    std::string fmt = a.get("to", "");
    if (fmt.empty()) fmt = formatForName(out.c_str());
    if (a.get("index")) {
        MRCData* d = proc_read_one(a, a.pos[0]);
        if (!d) return 1;
        int rc = proc_write(a, d, out, shortMode);
        delete d;
        return rc;
    }
    List* l = proc_read(a, a.pos[0]);
    if (!l) return 1;
    int rc = 0;
    if (l->count() > 1 && !isStackFormat(fmt)) {
        rc = proc_fail("%s holds %d images: pick one with --index N or write a stack (.mrcs, .hed, .pif)",
                       a.pos[0].c_str(), l->count());
    } else if (!writeAnyList(l, out.c_str(), fmt, shortMode)) {
        rc = proc_fail("cannot write %s", out.c_str());
    }
    freeDataList(l);
    return rc;
}

ProcRegister reg({
    {"info", "FILE... [--json] [--pixel A]",
     "one line per image: name, size, real/complex and its statistics (--json: one JSON object per line)", 1, -1,
     "pixel", "json", cmdInfo},
    {"convert", "IN OUT [--short|--short-raw] [--to FORMAT] [--index N] [--pixel A]",
     "read IN and write OUT (MRC floats; --short 16-bit rescaled to 0..4095, --short-raw 16-bit as is)", 2, 2,
     "to,index,pixel", "short,short-raw", cmdConvert},
});

}  // namespace
