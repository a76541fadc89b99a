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

void printInfo(const char* file, MRCData* d, bool json) {
    const char* names[] = {"Min", "Max", "Mean", "Sigma", "EdgeMean", "EdgeSigma", "RenMin", "RenMax"};
    double vals[] = {d->Min(),      d->Max(),       d->Mean(),   d->Sigma(),
                     d->EdgeMean(), d->EdgeSigma(), d->RenMin(), d->RenMax()};
    int nx = d->isComplex() ? d->xSize() - 2 : d->xSize();
    if (json) {
        std::fputs("{\"file\": ", proc_out);
        jsonString(proc_out, file);
        std::fprintf(proc_out, ", \"nx\": %d, \"ny\": %d, \"complex\": %s", nx, d->ySize(),
                     d->isComplex() ? "true" : "false");
        for (int i = 0; i < 8; i++) {
            std::fprintf(proc_out, ", \"%s\": ", names[i]);
            jsonNumber(proc_out, vals[i]);
        }
        std::fputs("}\n", proc_out);
        return;
    }
    std::fprintf(proc_out, "%s  %dx%d  %s", file, nx, d->ySize(), d->isComplex() ? "complex" : "real");
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
        for (int i = 0; i < l->count(); i++) {
            std::string label = f;
            if (l->count() > 1) label += "[" + std::to_string(i) + "]";
            printInfo(label.c_str(), static_cast<MRCData*>(l->objectAt(i)), a.has("json"));
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
    {"info", "FILE... [--json]",
     "one line per image: name, size, real/complex and its statistics (--json: one JSON object per line)", 1, -1, "",
     "json", cmdInfo},
    {"convert", "IN OUT [--short|--short-raw] [--to FORMAT] [--index N]",
     "read IN and write OUT (MRC floats; --short 16-bit rescaled to 0..4095, --short-raw 16-bit as is)", 2, 2,
     "to,index", "short,short-raw", cmdConvert},
});

}  // namespace
