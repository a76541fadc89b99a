// Wavelet commands: dwt, iwt and wavelet-filter.
#include <algorithm>
#include <string>

#include "core/MRCData.h"
#include "tools/proc/proc.h"
#include "wav/filter.h"

namespace {

// --basis (default 1, Daub4, as "DWTbasis") and --levels (default 0: all levels, as "DWTlevel").
bool basisLevels(const ProcArgs& a, int* basis, int* levels) {
    *basis = 1;
    *levels = 0;
    if (const char* s = a.get("basis")) {
        if (!proc_int(s, basis) || *basis < 0 || *basis > 14) {
            proc_fail("bad --basis value %s (0..14)", s);
            return false;
        }
    }
    if (const char* s = a.get("levels")) {
        if (!proc_int(s, levels) || *levels < 0) {
            proc_fail("bad --levels value %s", s);
            return false;
        }
    }
    return true;
}

int runWavelet(const ProcArgs& a, int kind) {
    int basis, levels;
    if (!basisLevels(a, &basis, &levels)) return 1;
    float gains[10];
    if (kind == 2) {
        float gain = 0.4f;
        if (const char* s = a.get("gain")) {
            if (!proc_float(s, &gain) || gain < 0) return proc_fail("bad --gain value %s", s);
        }
        std::fill(gains, gains + 10, gain);
    }
    MRCData* d = proc_read_one(a, a.pos[0]);
    if (!d) return 1;
    int ok = kind == 0   ? d->doDWT(basis, levels)
             : kind == 1 ? d->doIWT(basis, levels)
                         : d->DWTFilt(basis, levels, 0.001f, gains);
    int rc = ok ? proc_write(a, d, a.pos[1])
                : proc_fail("%s failed on %s (basis %s)",
                            kind == 0   ? "dwt"
                            : kind == 1 ? "iwt"
                                        : "wavelet-filter",
                            a.pos[0].c_str(), wavelet_bank_name(basis));
    delete d;
    return rc;
}

int cmdDwt(const ProcArgs& a) {
    return runWavelet(a, 0);
}
int cmdIwt(const ProcArgs& a) {
    return runWavelet(a, 1);
}
int cmdWavFilt(const ProcArgs& a) {
    return runWavelet(a, 2);
}

ProcRegister reg({
    {"dwt", "IN OUT [--basis B] [--levels L] [--index N] [--pixel A]",
     "discrete wavelet transform in place (basis 0 Haar .. 14 Odegard, default 1 Daub4; levels 0 = all)", 2, 2,
     "basis,levels,index,pixel", "", cmdDwt},
    {"iwt", "IN OUT [--basis B] [--levels L] [--index N] [--pixel A]",
     "inverse wavelet transform (same basis and levels as the dwt that made IN)", 2, 2, "basis,levels,index,pixel", "",
     cmdIwt},
    {"wavelet-filter", "IN OUT [--basis B] [--levels L] [--gain G] [--index N] [--pixel A]",
     "wavelet denoising: transform, soft-threshold every band at G x sigma x sqrt(2 log2 width) (G default 0.4, "
     "1.2 removes the band), invert",
     2, 2, "basis,levels,gain,index,pixel", "", cmdWavFilt},
});

}  // namespace
