// Test images, subtraction, amplitude smoothing and user functions.
#include <memory>
#include <string>

#include "core/List.h"
#include "core/MRCData.h"
#include "numeric/testimage.h"
#include "tools/proc/proc.h"
#include "ufn/usrfn.h"

namespace {

using Data = std::unique_ptr<MRCData>;

int cmdTestImage(const ProcArgs& a) {
    Data d(makeTestImage(testImageItem(a.pos[0].c_str())));
    if (!d) {
        std::string names;
        for (int i = 1; i <= kTestImages; i++)
            names += std::string(i > 1 ? ", " : "") + "\"" + testImageLabel(i) + "\"";
        return proc_fail("test-image: no image \"%s\" (one of %s)", a.pos[0].c_str(), names.c_str());
    }
    return proc_write(a, d.get(), a.pos[1]);
}

int cmdSubtract(const ProcArgs& a) {
    Data x(proc_read_one(a, a.pos[0])), y(x ? proc_read_one(a, a.pos[1]) : nullptr);
    if (!x || !y) return 1;
    if (x->xSize() != y->xSize() || x->ySize() != y->ySize())
        return proc_fail("subtract: images must be the same size");
    x->subData(y.get());
    return proc_write(a, x.get(), a.pos[2]);
}

int cmdSmooth(const ProcArgs& a) {
    Data d(proc_read_one(a, a.pos[0]));
    if (!d) return 1;
    Data r(d->smoothAmp());
    if (!r) return proc_fail("smooth: %s is not a Fourier transform", a.pos[0].c_str());
    return proc_write(a, r.get(), a.pos[1]);
}

// The functions of the User menu, freed with it.
struct UserFunctions {
    List l;
    UserFunctions() { umenu_read(&l); }
    ~UserFunctions() { umenu_clear(&l); }
};

int cmdUser(const ProcArgs& a) {
    UserFunctions fns;
    UsrFn* u = umenu_find(&fns.l, a.pos[0].c_str());
    if (!u) return proc_fail("user: no user function \"%s\" in ~/.tvufn or ~/.tvglobfn", a.pos[0].c_str());
    if (u->getresult() == 3) return proc_fail("user: \"%s\" gives no output to write", a.pos[0].c_str());
    Data d(proc_read_one(a, a.pos[1]));
    if (!d) return 1;
    // "Replace" would change the image read; run as "New" so that an output
    // the command failed to leave is seen as a failure.
    UsrFn run;
    run.set(u->getmenu(), u->getcommand(), u->getoption(0), u->getoption(1), u->getoption(2), (char)u->getftype(),
            (char)u->getinput(), (char)u->getoutput(), 2);
    Data r(ufn_apply(&run, d.get()));
    if (!r) return proc_fail("user: \"%s\" gave no image", a.pos[0].c_str());
    return proc_write(a, r.get(), a.pos[2]);
}

ProcRegister reg({
    {"test-image", "NAME OUT", "512 x 512 test image by its menu label (\"1.0\", \"Sin(x+y)\", ..., \"Gauss x Slip\")",
     2, 2, "", "", cmdTestImage},
    {"subtract", "A B OUT [--pixel A]", "A less B (coherent difference of two transforms)", 3, 3, "pixel", "",
     cmdSubtract},
    {"smooth", "IN OUT [--pixel A]", "smooth the amplitudes of a transform over their four neighbours", 2, 2, "pixel",
     "", cmdSmooth},
    {"user", "NAME IN OUT [--pixel A]", "run the user function NAME (~/.tvufn, ~/.tvglobfn) as the User menu does", 3,
     3, "pixel", "", cmdUser},
});

}  // namespace
