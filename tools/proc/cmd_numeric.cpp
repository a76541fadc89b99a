// Fourier, filter, mask, average and alignment commands.
#include <cmath>
#include <memory>
#include <string>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "numeric/filter.h"
#include "tools/proc/proc.h"

namespace {

using Data = std::unique_ptr<MRCData>;

Data readOne(const ProcArgs& a, const std::string& path) {
    return Data(proc_read_one(a, path));
}

int writeResult(const ProcArgs& a, MRCData* d, const std::string& out, const char* what) {
    if (!d) return proc_fail("%s failed", what);
    return proc_write(a, d, out);
}

int cmdFFT(const ProcArgs& a) {
    Data d = readOne(a, a.pos[0]);
    if (!d) return 1;
    Data f(d->doFFT(0));
    return writeResult(a, f.get(), a.pos[1], "fft");
}

int cmdIFT(const ProcArgs& a) {
    Data d = readOne(a, a.pos[0]);
    if (!d) return 1;
    Data r(d->doIFT(0));
    return writeResult(a, r.get(), a.pos[1], "ift");
}

int cmdNormalize(const ProcArgs& a) {
    Data d = readOne(a, a.pos[0]);
    if (!d) return 1;
    if (a.has("edge"))
        d->edgeNormalize();
    else
        d->normalize();
    return proc_write(a, d.get(), a.pos[1]);
}

int cmdFlip(const ProcArgs& a) {
    Data d = readOne(a, a.pos[0]);
    if (!d) return 1;
    d->flipData();
    return proc_write(a, d.get(), a.pos[1]);
}

int cmdPad(const ProcArgs& a) {
    int x, y;
    if (!proc_int(a.pos[2], &x) || !proc_int(a.pos[3], &y))
        return proc_fail("pad: bad size %s %s", a.pos[2].c_str(), a.pos[3].c_str());
    Data d = readOne(a, a.pos[0]);
    if (!d) return 1;
    if (!d->padTo(a.has("noise") ? 1 : 0, x, y)) return proc_fail("pad failed");
    return proc_write(a, d.get(), a.pos[1]);
}

int cmdMask(const ProcArgs& a) {
    int type = 0, radius = -1;
    if (const char* t = a.get("type"))
        if (!proc_int(t, &type)) return proc_fail("mask: bad --type %s", t);
    if (const char* r = a.get("radius"))
        if (!proc_int(r, &radius)) return proc_fail("mask: bad --radius %s", r);
    Data d = readOne(a, a.pos[0]);
    if (!d) return 1;
    d->applyMask(type, radius);
    return proc_write(a, d.get(), a.pos[1]);
}

int cmdFilter(const ProcArgs& a) {
    float L, H;
    int M;
    if (!parseFilterAnswer(a.pos[2].c_str(), &L, &H, &M))
        return proc_fail("filter: bad resolution %s", a.pos[2].c_str());
    Data d = readOne(a, a.pos[0]);
    if (!d) return 1;
    // A resolution of 0 filters nothing: the image is written as it is.
    if (L == 0) return proc_write(a, d.get(), a.pos[1]);
    MRCData* r = applyFilter(d.get(), L, H, M);
    if (!r) return proc_fail("filter: cannot transform %s", a.pos[0].c_str());
    if (r == d.get()) return proc_write(a, r, a.pos[1]);
    Data owned(r);
    return proc_write(a, r, a.pos[1]);
}

// Reads every input into one list; the list owns the data sets.
struct Inputs {
    List list;
    ~Inputs() {
        for (int i = 0; i < list.count(); i++) delete static_cast<MRCData*>(list.objectAt(i));
    }
};

bool readAll(const ProcArgs& a, size_t first, Inputs& in) {
    for (size_t i = first; i < a.pos.size(); i++) {
        MRCData* d = proc_read_one(a, a.pos[i]);
        if (!d) return false;
        in.list.addObject(d);
    }
    return true;
}

int cmdAverage(const ProcArgs& a) {
    Inputs in;
    if (!readAll(a, 1, in)) return 1;
    MRCData avg;
    if (!avg.makeAverage(&in.list, 0)) return proc_fail("Averaging error");
    return proc_write(a, &avg, a.pos[0]);
}

int cmdFFTAverage(const ProcArgs& a) {
    Inputs in;
    if (!readAll(a, 1, in)) return 1;
    MRCData avg;
    if (!avg.makeFFTAvg(&in.list)) return proc_fail("Averaging error");
    return proc_write(a, &avg, a.pos[0]);
}

int cmdCCF(const ProcArgs& a) {
    Data x = readOne(a, a.pos[0]), y = x ? readOne(a, a.pos[1]) : nullptr;
    if (!x || !y) return 1;
    if (x->isComplex() || y->isComplex()) return proc_fail("ccf: needs real images");
    Data c(x->calcCCF(y.get()));
    return writeResult(a, c.get(), a.pos[2], "ccf");
}

int cmdAlign(const ProcArgs& a) {
    Data x = readOne(a, a.pos[0]), y = x ? readOne(a, a.pos[1]) : nullptr;
    if (!x || !y) return 1;
    if (x->isComplex() || y->isComplex()) return proc_fail("align: needs real images");
    if (x->xSize() != y->xSize() || x->ySize() != y->ySize()) return proc_fail("align: images must be the same size");
    MRCData::Shift s = x->align(y.get(), 0);
    std::printf("\n");
    std::fprintf(proc_out, "%g %g\n", s.dx, s.dy);
    return 0;
}

int cmdRCF(const ProcArgs& a) {
    Data x = readOne(a, a.pos[0]), y = x ? readOne(a, a.pos[1]) : nullptr;
    if (!x || !y) return 1;
    if (x->isComplex() || y->isComplex()) return proc_fail("rcf: needs real images");
    float ang = x->calcRCF(y.get(), 0, 0);
    std::fprintf(proc_out, "%g\n", ang * 180 / M_PI);
    return 0;
}

int cmdRotate(const ProcArgs& a) {
    float ang = 0, dx = 0, dy = 0;
    if (const char* s = a.get("angle"))
        if (!proc_float(s, &ang)) return proc_fail("rotate: bad --angle %s", s);
    if (const char* s = a.get("shift")) {
        std::string v = s;
        size_t c = v.find(',');
        if (c == std::string::npos || !proc_float(v.substr(0, c), &dx) || !proc_float(v.substr(c + 1), &dy))
            return proc_fail("rotate: bad --shift %s (want DX,DY)", s);
    }
    Data d = readOne(a, a.pos[0]);
    if (!d) return 1;
    if (d->isComplex()) return proc_fail("rotate: needs a real image");
    Data r(d->rotateAndTranslate(ang, dx, dy, 0));
    return writeResult(a, r.get(), a.pos[1], "rotate");
}

ProcRegister reg({
    {"fft", "IN OUT [--pixel A]", "Fourier transform (written as complex amplitude/phase, MRC mode 4)", 2, 2, "pixel",
     "", cmdFFT},
    {"ift", "IN OUT [--pixel A]", "inverse Fourier transform of an amplitude/phase transform", 2, 2, "pixel", "",
     cmdIFT},
    {"normalize", "IN OUT [--edge] [--pixel A]", "mean 0 and deviation 1 (--edge: from the one-pixel border)", 2, 2,
     "pixel", "edge", cmdNormalize},
    {"flip", "IN OUT [--pixel A]", "flip vertically", 2, 2, "pixel", "", cmdFlip},
    {"pad", "IN OUT X Y [--noise] [--pixel A]", "pad to X by Y with the mean (--noise: gaussian noise)", 4, 4, "pixel",
     "noise", cmdPad},
    {"mask", "IN OUT [--type T] [--radius R] [--pixel A]",
     "circular mask: type 0 step, 1 soft edge, 2 noise; radius below 1 picks the default", 2, 2, "type,radius,pixel",
     "", cmdMask},
    {"filter", "IN OUT LOWRES[,HIGHRES[,MODE]] [--pixel A]",
     "gaussian low-pass at LOWRES Angstrom (negative: inverse), optional high-pass cut; MODE 1 sharp, -1 flat band", 3,
     3, "pixel", "", cmdFilter},
    {"average", "OUT IN IN... [--pixel A]", "pixelwise average (RMS amplitude average of transforms)", 3, -1, "pixel",
     "", cmdAverage},
    {"fft-average", "OUT IN IN... [--pixel A]", "incoherent average of the transforms of normalized images", 3, -1,
     "pixel", "", cmdFFTAverage},
    {"ccf", "A B OUT [--pixel A]", "cross-correlation of A with B (zero shift at pixel 0,0)", 3, 3, "pixel", "",
     cmdCCF},
    {"align", "A B [--pixel A]", "translation of A relative to B; prints \"dx dy\"", 2, 2, "pixel", "", cmdAlign},
    {"rcf", "A B [--pixel A]", "rotation between A and B over rings; prints the angle in degrees", 2, 2, "pixel", "",
     cmdRCF},
    {"rotate", "IN OUT [--angle DEG] [--shift DX,DY] [--pixel A]", "rotate about the centre and move (bilinear)", 2, 2,
     "angle,shift,pixel", "", cmdRotate},
});

}  // namespace
