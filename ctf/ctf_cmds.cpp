#include "ctf/ctf_cmds.h"

#include <forms.h>

#include "app/align_cmds.h"
#include "app/menus.h"
#include "app/tools_cmds.h"

void m_Ctf_AppCTF() {
    not_available("CTF", "Apply CTF");
}
void m_Ctf_Filt() {
    not_available("CTF", "CTF Filter");
}
void m_Ctf_fixphase(MRCData*, LC_pstate*) {
    not_available("CTF", "Fix Phases");
}
void m_Ctf_step1() {
    not_available("CTF", "Step 1");
}
void m_Ctf_DfMerge(MRCData*, MRCData*, LC_pstate*, LC_pstate*, float, float) {
    not_available("CTF", "FPM");
}
void m_Ctf_DfMerge3(MRCData*, MRCData*, MRCData*, LC_pstate*, LC_pstate*, LC_pstate*, float, float) {
    not_available("CTF", "FTM");
}
void m_Ctf_DfMergeSet() {
    not_available("CTF", "FPM (Set)");
}
void m_Tools_Analyze() {
    not_available("Tools", "Analyze");
}

const MenuTable& ctf_menu() {
    static const char* kMergeHelp = "Experimental use only. Please do not use.\n";
    static const MenuTable t = {
        {"Apply CTF", m_Ctf_AppCTF, "Applies the CTF in memory 1 to all selected data sets including noise.\n"},
        {"CTF Filter", m_Ctf_Filt,
         "This routine will take the current 'fit' ctf and make the current function radial average match this "
         "function."},
        {"Fix Phases", [] { m_Ctf_fixphase(nullptr, nullptr); },
         "Flips phases in a complex image using the zero locations as fit in the CTF fitting window.\n"},
        {"Step 1", m_Ctf_step1,
         "For experimental use. Select 2 data sets. This routine will normalize both data sets, do a "
         "translational/rotational alignment and fft both images.\n"},
        {"FPM", [] { m_Ctf_DfMerge(nullptr, nullptr, nullptr, nullptr, 0, 0); }, kMergeHelp},
        {"FTM", [] { m_Ctf_DfMerge3(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0); }, kMergeHelp},
        {"FPM (Set)", m_Ctf_DfMergeSet, kMergeHelp, true},
        {"Rot/Trans", m_Ctf_Rotate_Translate,
         "Rotates & translates data by a user defined amount. Also applies a circular mask in fourier space."},
        {"ACF", [] { m_Ctf_CCF(0); }, "Does a CCF of the image with itself rotated 180 degrees."},
        {"Center (center)", [] { m_Ctf_CCF(1); }, "Uses the ACF to center a data set (must be somewhat symmetric."},
        {"Center (corner)", [] { m_Ctf_CCF(2); }, "Centers the image at the corner."},
        {"CCF", [] { m_Ctf_CCF(3); }, "Calculates the cross correlation function (CCF) between 2 images."},
        {"Trans. Align", [] { m_Ctf_CCF(4); }, "Translationally aligns 2 data sets using the CCF."},
        {"RCF", [] { m_Ctf_CCF(5); },
         "Determine the rotational misalignment of 2 data sets. Does circular CCF's at multiple radii."},
        {"Rot. Align", [] { m_Ctf_CCF(6); }, "Rotationally aligns 2 images. The images should already be centered."},
        {"Align RT", [] { m_Ctf_CCF(7); },
         "Simultaneous translational/rotational alignment of 2 images. \t If multiple images are selected, aligns "
         "all to last."},
        {"Center + Ali RT", [] { m_Ctf_CCF(8); }, "Bug. Don't use."},
        {"Phase Origin Shift", [] { m_Ctf_CCF(9); },
         "Translates the origin of a real image from the center to the corner for FFT's."},
    };
    return t;
}
