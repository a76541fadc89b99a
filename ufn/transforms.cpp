// The transforms a user function may need before writing its input file.
// Until the Fourier module is part of the library these report that they are
// not available; doFile then stops as it does on any failed transform.
#include <cstdio>

#include "ufn/usrfn.h"

MRCData* ufn_forward(MRCData*) {
    std::printf("Fourier transforms are not available\n");
    return nullptr;
}

MRCData* ufn_inverse(MRCData*) {
    std::printf("Fourier transforms are not available\n");
    return nullptr;
}
