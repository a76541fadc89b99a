#include "gui/ctf/livec_seed.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/prefs.h"
#include "ctf/diagnostic.h"
#include "ctf/estimate.h"
#include "ctf/fit.h"
#include "ctf/livecalc.h"
#include "gui/ctf/livec.h"
#include "gui/display/datawin.h"
#include "gui/display/xglobals.h"
#include "gui/shell/cmd_util.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/help.h"
#include "gui/shell/registry.h"

namespace {
constexpr double kPi = 3.14159265358979323846;

// What the estimator found for a data set: a micrograph and the transforms
// Analyze made from it share one.
struct Seed {
    CtfEstimateParams p;
    CtfEstimate e;
    std::shared_ptr<CtfSpectrum> sp;
};
// A data set's seed, with what the data set looked like then (its size and a
// few values, amplitudes of a transform) so that one changed, or another at
// the same address, is estimated afresh; and the CTF whose zeros its views show
// since the last "2-D".
struct Entry {
    std::shared_ptr<Seed> seed;
    std::vector<float> print;
    bool zeros = false;
    Ctf2d shown;
};
std::map<MRCData*, Entry> g_seeds;
DataWin* g_diagView = nullptr;
int g_hold = 0;

// The workbench's microscope, the estimator's amplitude contrast.
CtfEstimateParams microscope(const MRCData* d) {
    CtfEstimateParams p;
    p.pixel = d->Pixres();
    p.kv = getenvfd("voltage", 100.0f);
    p.csMM = getenvfd("spherab", 5.6f);
    p.ac = 0.07f;
    return p;
}

std::vector<float> printOf(const MRCData* d) {
    const CtfEstimateParams p = microscope(d);
    std::vector<float> v = {(float)d->xSize(), (float)d->ySize(), (float)d->isComplex(), p.pixel, p.kv, p.csMM};
    const size_t n = (size_t)d->xSize() * d->ySize() * std::max(1, d->zSize());
    for (int i = 1; i <= 8; i++) {
        size_t k = n * i / 9;
        if (d->isComplex()) k &= ~(size_t)1;  // an amplitude: flipped phases keep the seed
        v.push_back(d->getRealData()[k]);
    }
    return v;
}

// d's entry when it still fits d, else null (and none).
Entry* entryOf(MRCData* d) {
    auto it = g_seeds.find(d);
    if (it == g_seeds.end()) return nullptr;
    if (it->second.print == printOf(d)) return &it->second;
    g_seeds.erase(it);
    return nullptr;
}

void keep(MRCData* d, std::shared_ptr<Seed> s) {
    Entry& e = g_seeds[d];
    e = Entry();
    e.seed = std::move(s);
    e.print = printOf(d);
}

// The seed of d, estimated now when it has none; null with *why when there are no rings.
std::shared_ptr<Seed> seedOf(MRCData* d, const char** why) {
    if (Entry* e = entryOf(d)) return e->seed;
    auto s = std::make_shared<Seed>();
    s->p = microscope(d);
    s->sp = std::make_shared<CtfSpectrum>();
    const int ok = d->isComplex()
                       ? ctf_estimate_transform(d->getRealData(), d->xSize() - 2, d->ySize(), s->p, &s->e, s->sp.get())
                       : ctf_estimate(d->getRealData(), d->xSize(), d->ySize(), s->p, &s->e, s->sp.get());
    if (!ok) {
        *why = s->e.why;
        return nullptr;
    }
    keep(d, s);
    return s;
}

// The estimate with its mean defocus moved to `mean`, astigmatism kept.
CtfEstimate withMean(CtfEstimate e, float mean) {
    const float shift = mean - e.defocus;
    e.defocus = mean;
    e.defocusU += shift;
    e.defocusV += shift;
    return e;
}

void setLine(const char* text) {
    if (livec) fl_set_object_label(livec->astig, text);
}

void message(const char* text) {
    dlg_message("", text, "");
}

void forget(MRCData* d) {
    g_seeds.erase(d);
}

// Redraws the views that show d alone (the zeros are drawn into their pixmaps).
void redrawViewsOf(MRCData* d) {
    for (int i = 0; i < count(viewList); i++) {
        DataWin* v = (DataWin*)viewList->objectAt(i);
        if (count(v->data()) == 1 && v->firstdata() == d) {
            v->dirty = 1;
            v->display();
        }
    }
}

// The zeros of the CTF a "2-D" showed, as closed curves over the transform, in
// the colour of the CTF mode's ring; until they crowd closer than three screen
// pixels or leave the transform.
void drawZeros(DataWin* v) {
    if (count(v->data()) != 1) return;
    MRCData* d = v->firstdata();
    const Entry* e = d->isComplex() && d->Pixres() > 0 ? entryOf(d) : nullptr;
    if (!e || !e->zeros) return;
    const Ctf2d& c = e->shown;
    const int NX = d->xSize() - 2, NY = d->ySize(), n = 360;
    const double px = d->Pixres(), nyquist = 0.5 / px;
    XSetForeground(v->xDisplay, v->pixGC, fl_get_pixel(FL_RED));
    std::vector<XPoint> pts(n + 1);
    std::vector<double> last(n, 0.0);
    for (int z = 1; z < 1000; z++) {
        bool inside = false, crowded = false;
        for (int i = 0; i <= n; i++) {
            const double th = 2 * kPi * (i % n) / n, s = ctf2d_zero(c, th, z);
            if (!(s > 0)) return;
            inside = inside || s < nyquist;
            // Pixel (h, k) of the transform is shown at column h + NX/2, row k + NY/2 - 1.
            const double h = s * std::cos(th) * NX * px, k = s * std::sin(th) * NY * px;
            if (i < n) {
                crowded = crowded || (s - last[i]) * NY * px * v->zoom < 3;
                last[i] = s;
            }
            pts[i].x = (short)std::lround(v->zoom * (NX / 2 + h + 0.5) - v->xOrigin);
            pts[i].y = (short)std::lround(v->yOrigin + v->canvasH - v->zoom * (NY / 2 - 1 + k + 0.5));
        }
        if (!inside || crowded) return;
        XDrawLines(v->xDisplay, v->pixmap, v->pixGC, pts.data(), n + 1, CoordModeOrigin);
    }
}

// Shows D alone in the diagnostic's view, made when there is none.
void showInOwnView(MRCData* D) {
    if (!g_diagView || indexOf(viewList, g_diagView) < 0) g_diagView = make_view(700, 120);
    if (!g_diagView) {
        message("No view could be opened for the diagnostic.");
        return;
    }
    List* l = new List();
    l->addObject(D);
    g_diagView->setData(l);
    g_diagView->dirty = 1;
    g_diagView->display();
}

const char* kTwoDHelp =
    "Shows the 2-D diagnostic of the automatic estimate.\n\nThe averaged power spectrum with its background taken out "
    "is drawn in the left half, the fitted 2-D CTF^2 (with the astigmatism, at the defocus shown here) in the right "
    "half, in a view of its own; the zeros of that CTF are drawn over the transform.";
}  // namespace

LiveSeedHold::LiveSeedHold() {
    g_hold++;
}
LiveSeedHold::~LiveSeedHold() {
    g_hold--;
}

void livec_seed(MRCData* F, MRCData* micrograph, float fallback) {
    if (!livec || !F || !F->isComplex() || (!micrograph && g_hold)) return;
    const char* why = nullptr;
    std::shared_ptr<Seed> s;
    {
        BusyScope b;
        s = seedOf(micrograph ? micrograph : F, &why);
    }
    const float step = 1.0f / (F->Pixres() * F->ySize());
    if (!s) {
        if (micrograph) view_livecalc(F, 1, 1, step, fallback);
        char line[160];
        std::snprintf(line, sizeof line, "%s", why ? why : "no Thon rings found");
        setLine(line);
        return;
    }
    if (F != micrograph) keep(F, s);
    view_livecalc(F, 1, 1, step, s->e.defocus);
    fl_set_slider_value(livec->ac, 100 * s->p.ac);
    // The background through the profile first (of its size, then fitted with
    // no CTF term and the defocus held), the scale from the contrast of the
    // first rings, then envelope, scale and background together, the defocus
    // and AC still held; a step that fails keeps what came before.
    float p[8];
    livec_params(p);
    p[2] = 0;
    const CtfContext ctx = ctf_context_prefs(lcs.bgScale);
    live_seed_background(lcs.x, lcs.y, p, ctx);
    const int background[8] = {0, 0, 0, 0, 1, 1, 1, 1}, allButDefocus[8] = {0, 1, 1, 0, 1, 1, 1, 1};
    CtfFitResult r = ctf_fit_profile(lcs.x, lcs.y, p, background, ctx, nullptr, nullptr);
    if (!r.refused) std::copy(r.a, r.a + 8, p);
    p[2] = std::min(6.0f, live_seed_scale(lcs.x, lcs.y, p, ctx));
    if (p[2] > 0) {
        r = ctf_fit_profile(lcs.x, lcs.y, p, allButDefocus, ctx, nullptr, nullptr);
        if (!r.refused && r.a[2] > 0 && r.a[1] <= 80 && r.a[2] <= 6) std::copy(r.a, r.a + 8, p);
    }
    LC_pstate rec;
    std::copy(p, p + 8, &rec.defocus);
    livec_set_sliders(rec);
    livec_set();
    char line[160];
    std::snprintf(line, sizeof line, "astig %.2f um at %.0f deg, res %.1f A", s->e.defocusV - s->e.defocusU,
                  s->e.astigAngle, s->e.resolution);
    setLine(line);
}

bool livec_seed_profile(MRCData* d, float* out) {
    const Entry* e = entryOf(d);
    if (!e) return false;
    const Ctf2d c = ctf2d_from(e->seed->e, e->seed->p);
    if (!ctf2d_profile(*d, c, out)) return false;
    // The estimate's averaged spectrum (of the whole micrograph Analyze cut d
    // from) holds the same rings with far less noise: its profile at d's
    // abscissae, at the level of d's own.
    float avg[200];
    const double step = (out[1] - out[0]) / (d->Pixres() * d->ySize());
    if (!e->seed->sp || !ctf2d_spectrum_profile(*e->seed->sp, c, step, avg)) return true;
    double own = 0, its = 0;
    for (int i = 10; i < 200; i++) own += out[200 + i], its += avg[i];
    if (!(own > 0 && its > 0)) return true;
    for (int i = 0; i < 200; i++) out[200 + i] = (float)(avg[i] * own / its);
    return true;
}

bool livec_ctf2d(MRCData* d, Ctf2d* c, const char** why) {
    std::shared_ptr<Seed> s = seedOf(d, why);
    if (!s) return false;
    *c = ctf2d_from(d->hasPstate() ? withMean(s->e, d->Pstate()->defocus) : s->e, s->p);
    return true;
}

void livec_2d(FL_OBJECT*, long) {
    if (help_for(kTwoDHelp)) return;
    MRCData* F = lcs.data;
    if (!livec || !F || !lcs.x) {
        message("Please put the mouse in CTF mode and reselect the images");
        return;
    }
    MRCData* D = nullptr;
    {
        BusyScope b;
        const char* why = nullptr;
        std::shared_ptr<Seed> s = seedOf(F, &why);
        if (!s) {
            std::string m = std::string("No 2-D diagnostic: ") + (why ? why : "no Thon rings found");
            message(m.c_str());
            return;
        }
        // The model at the defocus the window shows, the estimate's astigmatism.
        const CtfEstimate e = withMean(s->e, lcs.defocus);
        std::vector<float> img;
        if (!ctf_diagnostic(*s->sp, e, s->p, &img)) {
            message("No 2-D diagnostic: the estimate kept no spectrum");
            return;
        }
        D = new MRCData(F);
        D->setRealData(img.data(), s->sp->T, s->sp->T, 1);
        D->setPixres(s->p.pixel);
        D->setName(("2-D CTF " + std::string(F->Name())).c_str());
        if (Entry* en = entryOf(F)) {
            en->zeros = true;
            en->shown = ctf2d_from(e, s->p);
        }
    }
    current_group()->addObject(D);
    update_data_list();
    redrawViewsOf(F);
    showInOwnView(D);
}

void m_Ctf_flip2d() {
    Selection sel;
    if (sel.count() < 1) {
        message("Please select the images to flip.");
        return;
    }
    BusyScope b;
    std::vector<MRCData*> made;
    std::string failed;
    for (int i = 0; i < sel.count(); i++) {
        MRCData* d = sel.at(i);
        Ctf2d c;
        const char* why = nullptr;
        if (!(d->Pixres() > 0) || !livec_ctf2d(d, &c, &why)) {
            failed += std::string(failed.empty() ? "" : ", ") + d->Name();
            continue;
        }
        if (d->isComplex()) {
            // Transforms in place, as Fix Phases does: the phase turns by pi.
            const int NX = d->xSize() - 2, NY = d->ySize();
            const double px = d->Pixres();
            float* a = d->getRealData();
            for (int j = 0; j < NY; j++)
                for (int h = 0; h <= NX / 2; h++)
                    if (ctf2d_value(c, h / (NX * px), (j - NY / 2) / (NY * px)) < 0) {
                        float& ph = a[(size_t)j * (NX + 2) + 2 * h + 1];
                        ph = ph < 0 ? ph + 3.1415927f : ph - 3.1415927f;
                    }
            d->update();
            continue;
        }
        std::vector<float> v(d->getRealData(), d->getRealData() + (size_t)d->xSize() * d->ySize());
        if (!ctf2d_flip(v.data(), d->xSize(), d->ySize(), d->Pixres(), c)) continue;
        MRCData* R = new MRCData(d);
        R->setRealData(v.data(), d->xSize(), d->ySize(), 1);
        R->setName(("Flipped " + std::string(d->Name())).c_str());
        made.push_back(R);
    }
    for (MRCData* R : made) current_group()->addObject(R);
    if (made.empty())
        refresh_after_change();
    else
        refresh_after_add();
    if (!failed.empty()) dlg_message("No CTF found for", failed.c_str(), "(no Thon rings); left as they were");
}

void install_live_seed() {
    add_data_gone_hook(forget);
    shellHooks.overlay = drawZeros;
}
