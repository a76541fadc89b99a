#include "gui/shell/tools_cmds.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "gui/shell/cmd_util.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/menus.h"
#include "gui/shell/prefs_dialog.h"
#include "gui/shell/registry.h"
#include "core/MRCData.h"
#include "core/prefs.h"
#include "fft/ifftsubs.h"
#include "numeric/filter.h"

namespace {
const char* kNormalizeHelp =
    "Normalizes all selected data sets.\n\nThis will set the mean grey value to 0 and the standard deviation to 1. "
    "Edge normalize will use the mean value on a 1 pixel box at the edge of the image and the standard deviation "
    "from this value.";
const char* kMaskHelp =
    "Applies a circular mask to selected images.\n\nMasked regions are set to either  the mean value for the image "
    "or random noise (flat  spectrum) with the same standard deviation as the image.";
const char* kFFTHelp =
    "Performs an FFT/IFT of the selected images.\n\nImage size must contain only prime factors <=19 and must be even.";
const char* kDWTHelp =
    "Performs a discrete wavelet transform on the image. Uses the parameters in the mouse mode window.";
}  // namespace

void m_Tools_ClipCmap() {
    BusyScope b;
    Selection sel;
    double sum = 0;
    for (int i = 0; i < sel.count(); i++) sum += sel.at(i)->clipToHist();
    if (sel.count() > 0) {
        char line[80];
        std::snprintf(line, sizeof line, "%5.3f%% of the pixels were clipped.", 100 * sum / sel.count());
        dlg_message(line, "", "");
    }
    refresh_after_change();
}

void m_Tools_Average(int kind) {
    BusyScope b;
    Selection sel;
    if (sel.count() < 1) return;
    MRCData* avg = new MRCData();
    if (kind ? avg->makeFFTAvg(sel.l) : avg->makeAverage(sel.l, 0)) {
        current_group()->addObject(avg);
    } else {
        std::printf("Averaging error\n");
        delete avg;
    }
    // FFT Average leaves its sources normalized: their views are redrawn too.
    refresh_after_add();
    if (kind) refresh_after_change();
}

void m_Tools_Filter() {
    BusyScope b;
    Selection sel;
    if (sel.count() < 1) return;
    std::string ans;
    if (!dlg_input("Enter the resolution limit in Ang. for a low pass gaussian filter (opt ,high pass).", "0", &ans))
        return;
    float L, H;
    int M;
    if (!parseFilterAnswer(ans.c_str(), &L, &H, &M) || L == 0) return;
    for (int i = 0; i < sel.count(); i++) {
        MRCData* d = sel.at(i);
        MRCData* r = applyFilter(d, L, H, M);
        // A real image's result takes its place everywhere; the old one is destroyed.
        if (r && r != d && !replace_data(d, r)) delete r;
    }
    refresh_after_add();
    refresh_after_change();
}

void m_Tools_Normalize(int kind) {
    BusyScope b;
    Selection sel;
    for (int i = 0; i < sel.count(); i++) {
        if (kind)
            sel.at(i)->edgeNormalize();
        else
            sel.at(i)->normalize();
    }
    refresh_after_change();
}

void m_Tools_Subtract() {
    BusyScope b;
    Selection sel;
    if (sel.count() != 2) {
        std::printf("Need 2 data sets to subtract\n");
        return;
    }
    sel.at(0)->subData(sel.at(1));
    refresh_after_change();
}

void m_Tools_Flip() {
    BusyScope b;
    Selection sel;
    for (int i = 0; i < sel.count(); i++) sel.at(i)->flipData();
    refresh_after_change();
}

void m_Tools_Flood() {
    BusyScope b;
    Selection sel;
    if (sel.count() < 1) return;
    float mx = sel.at(0)->Max();
    for (int i = 1; i < sel.count(); i++) mx = std::max(mx, sel.at(i)->Max());
    for (int i = 0; i < sel.count(); i++) sel.at(i)->edgeFlood(mx);
    refresh_after_change();
}

void m_Tools_Mask(int type) {
    BusyScope b;
    std::string ans;
    if (!dlg_input("Mask radius", "-1", &ans)) return;
    int radius;
    if (std::sscanf(ans.c_str(), " %d", &radius) != 1) radius = -2;
    Selection sel;
    for (int i = 0; i < sel.count(); i++) sel.at(i)->applyMask(type, radius);
    refresh_after_change();
}

void m_Tools_Pad() {
    BusyScope b;
    Selection sel;
    if (sel.count() < 1) return;
    std::string ans;
    if (!dlg_input("Pad to: x size,y size", "1024,1024", &ans)) return;
    int x = 1024, y = 1024, noise = 0;
    std::sscanf(ans.c_str(), " %d , %d , %d", &x, &y, &noise);
    for (int i = 0; i < sel.count(); i++) sel.at(i)->padTo(noise, x, y);
    refresh_after_add();
}

void m_Tools_FFT(int inverse) {
    BusyScope b;
    Selection sel;
    List* g = current_group();
    for (int i = 0; i < sel.count(); i++) {
        MRCData* d = sel.at(i);
        if (i == 0 && getenvfd("extfft", 1.0f) != 0) {
            dlg_message("Sorry, external FFTs are no longer supported.",
                        "However, the internal routine is now based on ifftsubs.", "");
            setenvf("extfft", 0);
            refresh_after_add();
            return;
        }
        int w = d->isComplex() ? d->xSize() - 2 : d->xSize();
        for (int n : {d->ySize(), w})
            if (npfa(n) != n) {
                char line[80];
                std::snprintf(line, sizeof line, "the next larger valid size is %d.", npfa(n));
                dlg_message("Sorry, the internal FFT routine cannot process this image size", line, "");
                refresh_after_add();
                return;
            }
        if (MRCData* t = inverse ? d->doIFT(0) : d->doFFT(0)) g->addObject(t);
    }
    refresh_after_add();
}

void m_Tools_DWT(int inverse) {
    BusyScope b;
    Selection sel;
    if (sel.count() < 1) return;
    MRCData* d = sel.at(0);
    const int basis = getenvid("DWTbasis", 1), level = getenvid("DWTlevel", 0);
    if (inverse)
        d->doIWT(basis, level);
    else
        d->doDWT(basis, level);
    refresh_after_add();
    refresh_after_change();
}

void m_Tools_DWTF() {
    BusyScope b;
    Selection sel;
    if (sel.count() < 1) return;
    sel.at(0)->DWTFilt(getenvid("DWTbasis", 1), getenvid("DWTlevel", 0), getenvfd("DWTthr", 0.001f), MMode.levelGain);
    refresh_after_add();
    refresh_after_change();
}

const MenuTable& tools_menu() {
    static const MenuTable t = {
        {"Clip colors", m_Tools_ClipCmap,
         "Removes extreme grey values from selected images.\n\nAny grey values larger than the currently displayed "
         "maximum/minimum will be set to the maximum/minimum. This removes stray values which can interfere with "
         "image statistics. If max~max-filt then anything less than min-filt will go to 0, not min\n"},
        {"Average", [] { m_Tools_Average(0); },
         "Makes a new data set which is the average of all selected sets.\n\nNote that for complex images this will "
         "do an incoherent RMS average. That is, fourier intensities are averaged, phases are scrambled. This can be "
         "useful for generating better CTF's."},
        {"FFT Average", [] { m_Tools_Average(1); },
         "Makes a new data set which is the average of the FFTs of all selected sets.\n\nThis does an incoherent "
         "average of all of the ffts. The individual ffts are discarded."},
        {"Filter", m_Tools_Filter,
         "Applies a gaussian (low pass) filter to all selected data sets. Resolution is specified in real-space "
         "angstroms. Divide by pi for 1/2 width in fourier space. Also, optional high-pass cutoff filter."},
        {"Normalize", [] { m_Tools_Normalize(0); }, kNormalizeHelp},
        {"Edge Normalize", [] { m_Tools_Normalize(1); }, kNormalizeHelp},
        {"Subtract", m_Tools_Subtract,
         "Subtracts two real data sets or coherently subtracts two complex data sets. The result overwrites the 1st "
         "data set.\n"},
        {"V. Flip", m_Tools_Flip, "Flips selected data sets vertically."},
        {"Flood Edge", m_Tools_Flood,
         "Flood fills the edge of the images with white. When images are masked, typically the masked region is "
         "colored with the mean value from the image. Sometimes it is useful to make the mask color all white for "
         "comparisons between images. Not truly a flood fill, but should work in many cases."},
        {"Mask Step", [] { m_Tools_Mask(0); }, kMaskHelp},
        {"Mask Noise", [] { m_Tools_Mask(2); }, kMaskHelp, true},
        {"Analyze", m_Tools_Analyze,
         "CTF analysis of the selected image.\n\nThe end result of this routine is a display of the CTF of the "
         "current image with an approximate fit to the theoretical CTF. For small real images, the entire image is "
         "fourier transformed to accomplish this. For larger images a region at the center of the image is boxed "
         "for analysis."},
        {"Pad for FFT", m_Tools_Pad,
         "Pads images so they're the right size for an FFT. Only works in certain cases.\n"},
        {"FFT", [] { m_Tools_FFT(0); }, kFFTHelp},
        {"IFT", [] { m_Tools_FFT(1); }, kFFTHelp, true},
        {"DWT", [] { m_Tools_DWT(0); }, kDWTHelp},
        {"IWT", [] { m_Tools_DWT(1); }, kDWTHelp},
        {"Wavlt Filt", m_Tools_DWTF, "Performs a discrete wavelet transform on the image. Currently for testing only.",
         true},
        {"Preferences", m_Tools_Prefs,
         "Allows you to set a variety of global preferences.\n\nThis contains global options/defaults for several "
         "aspects of the program. The settings are stored in '~/.tvenv' which is read as the program starts and "
         "written as the program exits."},
    };
    return t;
}
