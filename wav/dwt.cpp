// Wavelet operations on data sets.
#include <cstdio>

#include "core/MRCData.h"
#include "wav/wavelet.h"

namespace {

int dwtCheck(MRCData* d) {
    if (d->isComplex()) {
        // Interleaved amplitude/phase pairs have no meaning as an image to transform.
        std::printf("Cannot do DWT of FFT\n");
        return 0;
    }
    if (d->xSize() < 1 || d->ySize() < 1 || !d->getRealData()) return 0;
    return 1;
}

int run(MRCData* d, int basis, int levels, bool inverse) {
    if (!dwtCheck(d)) return 0;
    Wavelet w(wavelet_bank(basis));
    int nl = dwt_levels(d->xSize(), d->ySize(), levels);
    float* p = d->getRealData();
    int ok = inverse ? w.invert2d(p, p, d->xSize(), d->ySize(), nl) : w.transform2d(p, p, d->xSize(), d->ySize(), nl);
    if (ok) d->update();
    return ok;
}

}  // namespace

int MRCData::doDWT(int basis, int levels) {
    return run(this, basis, levels, false);
}

int MRCData::doIWT(int basis, int levels) {
    return run(this, basis, levels, true);
}

int MRCData::DWTFilt(int basis, int levels, float /*threshold*/, const float* gains) {
    // The thresholding works on the levels actually transformed; "DWTlevel" 0
    // (the default: all levels) would otherwise filter nothing.
    int nl = dwt_levels(xSize(), ySize(), levels);
    if (!doDWT(basis, nl)) return 0;
    wav_filt(xSize(), ySize(), getRealData(), 0, nl, gains);
    return doIWT(basis, nl);
}
