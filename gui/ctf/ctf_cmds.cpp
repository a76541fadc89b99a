#include "gui/ctf/ctf_cmds.h"

#include <forms.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "gui/shell/align_cmds.h"
#include "gui/shell/boxing.h"
#include "gui/shell/cmd_util.h"
#include "gui/shell/control.h"
#include "gui/shell/registry.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/menus.h"
#include "gui/shell/state.h"
#include "gui/shell/tools_cmds.h"
#include "core/List.h"
#include "core/MRCData.h"
#include "core/fileutil.h"
#include "core/hooks.h"
#include "gui/display/mmode.h"
#include "core/prefs.h"
#include "gui/ctf/livec.h"
#include "gui/ctf/livec_seed.h"
#include "ctf/merge.h"

namespace {
const char* kWindowClosed = "Please put the mouse in CTF mode and reselect the images";

void message(const char* text) {
    dlg_message("", text, "");
}

// The window open with a profile: the tables are taken at its abscissae.
bool windowReady() {
    if (livec_is_open() && lcs.x && lcs.freqStep > 0) return true;
    message(kWindowClosed);
    return false;
}

float* params(LC_pstate* p) {
    return &p->defocus;
}

// Pixel radii of the window's abscissae in the transform d: its own frequency
// step, so a data set other than the one shown is measured on its own scale.
void radiiFor(MRCData* d, float* r) {
    const float k = d->Pixres() * d->ySize();
    for (int i = 0; i < kCtfSamples; i++) r[i] = lcs.x[i] * k;
}

// One of the CTF memories as eight parameters; false when it was never stored.
bool readMemory(const char* key, float* p) {
    const char* t = getenv2(key);
    if (!t) return false;
    std::sscanf(t, " %f %f %f %f %f %f %f %f", &p[0], &p[1], &p[2], &p[3], &p[4], &p[5], &p[6], &p[7]);
    return true;
}

// Signed CTF and noise power of a record; the window's defocus follows it.
void ctfAndNoise(const float* p, float* ctf, float* noise) {
    lcs.defocus = p[0];
    CtfInstrument in = livec_instrument();
    ctf_signed_table(lcs.x, p, lcs.bgScale, &in, ctf);
    std::printf("%f %f %f %f %f %f %f %f\n", p[0], p[1], 0.0, p[3], p[4], p[5], p[6], p[7]);
    ctf_noise_table(lcs.x, p, lcs.bgScale, noise);
}

void profileOf(MRCData* d, float* out) {
    const float* P = d->calcDist(0, 1, 1);
    std::copy(P + 200, P + 400, out);
}

void selectLines(int from, int to) {
    fl_deselect_browser(control->images);
    for (int i = from; i <= to; i++) fl_select_browser_line(control->images, i);
    sel_Image(nullptr, 0);
}

// Everything a merge needs besides the images' own tables.
struct MergeRun {
    float r[kCtfSamples], filt[kCtfSamples], norm[kCtfSamples], snr[kCtfSamples];
    float data[3][kCtfSamples], ctf[3][kCtfSamples], noise[3][kCtfSamples], w[3][kCtfSamples];
    MergeImage im[3];
    float* wp[3] = {w[0], w[1], w[2]};

    void save(const char* name, const float* v) { save_data(r, v, kCtfSamples, name); }
    // Tables of the n images (in order, as the window evaluates them) and the radii of image `shape`.
    void tables(int n, MRCData* const* d, LC_pstate* const* p, int shape) {
        radiiFor(d[shape], r);
        for (int k = 0; k < n; k++) {
            profileOf(d[k], data[k]);
            ctfAndNoise(params(p[k]), ctf[k], noise[k]);
            im[k] = {data[k], ctf[k], noise[k]};
        }
    }
    // The target: the record with the smallest envelope, low-passed; the "CTF" button stays off.
    void target(const LC_pstate* P, float lowpass) {
        livec_ctf_button(0);
        ctf_target_table(lcs.x, &P->defocus, lowpass, lcs.bgScale, filt);
    }
    // Appends the merged transform and its image named after d[shape].
    void finish(int n, MRCData* const* d, int shape) {
        MRCData* M = merge_transforms(n, d, wp, norm, r, shape);
        for (int i = 0; i < kCtfSamples; i++) snr[i] = merge_snr(n, im, wp, i);
        save("SNR.mrgd.dat", snr);
        List* g = current_group();
        g->addObject(M);
        if (MRCData* R = M->doIFT(0)) {
            R->setName(d[shape]->Name());
            R->setFile(d[shape]->File());
            g->addObject(R);
        }
        update_data_list();
    }
};

// The low-pass prompt: lowpass, highpass and threshold; false when cancelled.
bool askLowpass(float e1, float e2, float* lowpass, float* highpass, float* t) {
    char prompt[160];
    std::snprintf(prompt, sizeof prompt,
                  "Enter the resolution limit (low pass filter) of the result (%4.1f,%4.1f):", e1, e2);
    std::string ans;
    if (!dlg_input(prompt, "0", &ans)) return false;
    std::sscanf(ans.c_str(), " %f , %f , %f", lowpass, highpass, t);
    if (*lowpass <= 0) *lowpass = 0.0001f;
    return true;
}

// Makes the last group line that reads `name` current.
void selectGroupFromEnd(const char* name) {
    for (int i = fl_get_browser_maxline(control->groups); i >= 1; i--) {
        const char* l = fl_get_browser_line(control->groups, i);
        if (l && std::strcmp(l, name) == 0) {
            fl_select_browser_line(control->groups, i);
            sel_Group(nullptr, 0);
            return;
        }
    }
}

void selectData(MRCData* d) {
    int i = indexOf(current_group(), d);
    if (i >= 0) selectLines(i + 1, i + 1);
}
}  // namespace

void m_Ctf_AppCTF() {
    if (!windowReady()) return;
    livec_ctf_button(1);
    float P[8] = {};
    if (!readMemory("livec1", P)) return;
    float ctf[kCtfSamples], noise[kCtfSamples], r[kCtfSamples];
    ctfAndNoise(P, ctf, noise);
    for (float& n : noise) n = std::sqrt(std::max(0.0f, n));
    BusyScope b;
    Selection sel;
    bool replaced = false;
    for (int i = sel.count() - 1; i >= 0; i--) {
        MRCData* d = sel.at(i);
        radiiFor(d, r);
        if (d->isComplex()) {
            d->applyRadFn(kCtfSamples, r, ctf);
            d->addRadNoise(kCtfSamples, r, noise, noise[50] / 3);
            continue;
        }
        MRCData* F = d->doFFT(0);
        if (!F) continue;
        F->applyRadFn(kCtfSamples, r, ctf);
        F->addRadNoise(kCtfSamples, r, noise, 0);
        MRCData* R = F->doIFT(0);
        delete F;
        if (R && replace_data(d, R))
            replaced = true;
        else
            delete R;
    }
    if (replaced)
        refresh_after_add();
    else
        refresh_after_change();
}

void m_Ctf_Filt() {
    if (!windowReady()) return;
    MRCData* d = lcs.data;
    if (!d) {
        message(kWindowClosed);
        return;
    }
    float ratio[kCtfSamples], A[kCtfSamples];
    for (int i = 0; i < kCtfSamples; i++) ratio[i] = lcs.y[i] != 0 ? lcs.fit[i] / lcs.y[i] : 1;
    const float* P = d->calcDist(0, 1, 1);
    std::copy(P, P + kCtfSamples, A);
    save_data(A, ratio, kCtfSamples, "cor.dat");
    d->applyRadFn(kCtfSamples, A, ratio);
    refresh_after_change();
}

void m_Ctf_fixphase(MRCData* d, LC_pstate* p) {
    if (!d) {
        Selection sel;
        if (sel.count() != 1) {
            message("Please select 1 data set to correct.");
            return;
        }
        d = sel.at(0);
    }
    if (!windowReady()) return;
    if (!d->isComplex()) {
        message("The data set must be a Fourier transform.");
        return;
    }
    livec_ctf_button(1);
    if (!p) {
        if (!d->hasPstate()) {
            message("The data set must have a fit CTF.");
            return;
        }
        p = d->Pstate();
    }
    lcs.defocus = p->defocus;
    float ctf[kCtfSamples], r[kCtfSamples];
    CtfInstrument in = livec_instrument();
    ctf_signed_table(lcs.x, params(p), lcs.bgScale, &in, ctf);
    radiiFor(d, r);
    ctf_fix_phases(d, ctf, r);
    refresh_after_change();
}

void m_Ctf_step1() {
    int n;
    {
        Selection sel;
        n = sel.count();
    }
    if (n != 2 && n != 3) return;
    // The selected images (only they change), then the n results that
    // "Align RT" appends at the end of the group.
    m_Tools_Normalize(0);
    m_Ctf_CCF(7);
    const int total = count(current_group());
    selectLines(total - n + 1, total);
    m_Tools_FFT(0);
}

void m_Ctf_DfMerge(MRCData* d1, MRCData* d2, LC_pstate* p1, LC_pstate* p2, float lowpass, float highpass) {
    if (!d1 || !d2) {
        Selection sel;
        if (sel.count() != 2) {
            message("Please select 2 data sets to merge");
            return;
        }
        d1 = sel.at(0);
        d2 = sel.at(1);
    }
    if (!windowReady()) return;
    livec_ctf_button(1);
    if (!p1 || !p2) {
        if (!d1->hasPstate() || !d2->hasPstate()) {
            message("Both data sets must have a fit CTF.");
            return;
        }
        p1 = d1->Pstate();
        p2 = d2->Pstate();
    }
    if (d1->Pixres() != d2->Pixres()) {
        message("Both data sets must have the same pixel size");
        return;
    }
    MRCData* d[2] = {d1, d2};
    if (const char* why = merge_refusal(d, 2)) {
        message(why);
        return;
    }
    BusyScope b;
    auto run = std::make_unique<MergeRun>();
    LC_pstate* p[2] = {p1, p2};
    run->tables(2, d, p, 0);
    float t = -0.01f;
    if (lowpass <= 0 && !askLowpass(p1->envelope, p2->envelope, &lowpass, &highpass, &t)) return;
    run->target(p2->envelope < p1->envelope ? p2 : p1, lowpass);
    if (highpass != 0)
        for (int i = 0; i < kCtfSamples; i++) {
            if (t != 0 && lcs.x[i] < 1 / highpass) run->filt[i] = 0;
            if (t == 0) run->filt[i] *= std::pow(std::tanh(lcs.x[i] * highpass), 2.0f);
        }
    run->save("test.res.dat", run->filt);
    const char* names[2][3] = {{"test.data1.dat", "test.ctf1.dat", "test.noise1.dat"},
                               {"test.data2.dat", "test.ctf2.dat", "test.noise2.dat"}};
    for (int k = 0; k < 2; k++) {
        run->save(names[k][0], run->data[k]);
        run->save(names[k][1], run->ctf[k]);
        run->save(names[k][2], run->noise[k]);
    }
    merge_weights(2, run->im, run->filt, t, run->wp, run->norm, run->snr);
    run->save("test.norm.dat", run->norm);
    run->save("test.f1.dat", run->w[0]);
    run->save("test.f2.dat", run->w[1]);
    run->finish(2, d, 0);
}

void m_Ctf_DfMerge3(MRCData* d1, MRCData* d2, MRCData* d3, LC_pstate* p1, LC_pstate* p2, LC_pstate* p3, float lowpass,
                    float highpass) {
    if (!d1 || !d2 || !d3) {
        Selection sel;
        if (sel.count() != 3) {
            message("Please select 3 data sets to merge");
            return;
        }
        d1 = sel.at(0);
        d2 = sel.at(1);
        d3 = sel.at(2);
    }
    if (!windowReady()) return;
    livec_ctf_button(1);
    if (!p1 || !p2 || !p3) {
        if (!d1->hasPstate() || !d2->hasPstate() || !d3->hasPstate()) {
            message("Both data sets must have a fit CTF.");
            return;
        }
        p1 = d1->Pstate();
        p2 = d2->Pstate();
        p3 = d3->Pstate();
    }
    if (d1->Pixres() != d2->Pixres() || d2->Pixres() != d3->Pixres()) {
        message("Both data sets must have the same pixel size");
        return;
    }
    MRCData* d[3] = {d1, d2, d3};
    if (const char* why = merge_refusal(d, 3)) {
        message(why);
        return;
    }
    BusyScope b;
    auto run = std::make_unique<MergeRun>();
    LC_pstate* p[3] = {p1, p2, p3};
    run->tables(3, d, p, 1);
    float t = 0.004f;
    if (lowpass <= 0 && !askLowpass(p2->envelope, p3->envelope, &lowpass, &highpass, &t)) return;
    const LC_pstate* P = (p1->envelope < p2->envelope && p1->envelope < p3->envelope) ? p1
                         : p2->envelope < p3->envelope                                ? p2
                                                                                      : p3;
    run->target(P, lowpass);
    if (highpass != 0)
        for (int i = 0; i < kCtfSamples; i++) run->filt[i] *= std::tanh(lcs.x[i] * highpass);
    run->save("test.res.dat", run->filt);
    merge_weights(3, run->im, run->filt, t, run->wp, run->norm, run->snr);
    run->save("test.norm.dat", run->norm);
    run->save("test.f1.dat", run->w[1]);
    run->save("test.f2.dat", run->w[2]);
    run->finish(3, d, 1);
}

void m_Ctf_DfMergeSet() {
    std::string ans;
    int a = -1, b = -1;
    if (!dlg_input("Set for CTF 1 and 2 (1,2)", "1,2", &ans)) return;
    if (std::sscanf(ans.c_str(), " %d , %d", &a, &b) < 2) return;
    List* g1 = (List*)objectAt(dataList, a);
    List* g2 = (List*)objectAt(dataList, b);
    if (a < 0 || b < 0 || !g1 || !g2) return;
    if (count(g1) != count(g2)) {
        message("Both groups must have the same number of elements");
        return;
    }
    if (!windowReady()) return;
    if (!dlg_input("Enter the real space resolution limit (low pass filter & opt. high pass) of the result:", "0",
                   &ans))
        return;
    float lowpass = 0, highpass = 300;
    std::sscanf(ans.c_str(), " %f , %f", &lowpass, &highpass);
    if (lowpass <= 0) lowpass = 0.0001f;
    // The log is committed however the loop ends.
    struct Log {
        AtomicFile f;
        FILE* fp = f.open("merge.log");
        ~Log() {
            if (fp) f.commit();
        }
    } log;
    const int n = count(g1);
    for (int i = 0; i < n; i++) {
        do_progress(i, n, "Merging");
        float P1[8], P2[8];
        if (!readMemory("livec1", P1) || !readMemory("livec2", P2)) break;
        MRCData* a1 = (MRCData*)g1->objectAt(i);
        MRCData* a2 = (MRCData*)g2->objectAt(i);
        MRCData* F[2] = {nullptr, nullptr};
        for (int k = 0; k < 2; k++) {
            MRCData* s = k ? a2 : a1;
            s->normalize();
            s->applyMask(0, -1);
            F[k] = s->doFFT(0);
        }
        if (!F[0] || !F[1]) {
            delete F[0];
            delete F[1];
            dlg_message("FFT Unsucessful", "Probably an invalid image size", "");
            break;
        }
        std::printf("Defocus: 1 -> %5.3f\t2 -> %5.3f\n", P1[0], P2[0]);
        if (log.fp) std::fprintf(log.fp, "%d\t%5.3f\t%5.3f\n", i, P1[0], P2[0]);
        LC_pstate q1, q2;
        std::copy(P1, P1 + 8, params(&q1));
        std::copy(P2, P2 + 8, params(&q2));
        q1.markFreq = q2.markFreq = 0;
        m_Ctf_DfMerge(F[0], F[1], &q1, &q2, lowpass, highpass);
        destroy_data(F[0]);
        destroy_data(F[1]);
    }
    do_progress(-1, n, "");
}

void m_Tools_Analyze() {
    MRCData* d;
    {
        Selection sel;
        if (sel.count() != 1) {
            dlg_message("Please select 1 image to analyze", "", "");
            return;
        }
        d = sel.at(0);
    }
    // The estimate looks at the whole micrograph, not only the centre Analyze cuts.
    MRCData* micrograph = d->isComplex() ? nullptr : d;
    LiveSeedHold hold;
    if (!d->isComplex()) {
        MRCData* img = d;
        if (d->xSize() >= 513 && d->ySize() >= 513) {
            const int cx = d->xSize() / 2, cy = d->ySize() / 2;
            img = view_Clipped(d, cx - 256, cy - 256, cx + 255, cy + 255);
            if (!img) return;
            update_data_list();
            selectGroupFromEnd("Clips");
        }
        selectData(img);
        m_Tools_Normalize(0);
        selectData(img);
        List* g = current_group();
        const int before = count(g);
        const bool notice = getenvfd("extfft", 1.0f) != 0;
        m_Tools_FFT(0);
        // The first transform only tells that external FFTs are gone: the analysis goes on.
        if (notice && count(g) == before) m_Tools_FFT(0);
        MRCData* last = (MRCData*)objectAt(g, count(g) - 1);
        if (last) selectLines(count(g), count(g));
        if (!last || !last->isComplex()) {
            dlg_message("Invalid FFT", "", "");
            return;
        }
        d = last;
    }
    livec_open();
    MMode.liveType = 0;
    if (mpanel) fl_set_choice(mpanel->liveChoice, 1);
    // From the automatic estimate; without rings at the defocus 1.5 as ever.
    livec_seed(d, micrograph ? micrograph : d, 1.5f);
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
        {"Flip Phases 2-D", m_Ctf_flip2d,
         "Flips the phases of the selected images where their 2-D CTF is negative.\n\nThe CTF is the automatic "
         "estimate's (with the astigmatism), at the defocus fitted in the CTF window when there is one; images "
         "without one are estimated first. Real images get a flipped copy, transforms are flipped in place."},
    };
    return t;
}
