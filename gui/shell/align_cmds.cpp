#include "gui/shell/align_cmds.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "gui/shell/cmd_util.h"
#include "gui/shell/dialogs.h"
#include "gui/shell/registry.h"
#include "core/MRCData.h"

namespace {

const char* kTwoOrThree = "Please select 2 or 3 data sets to work with";

// The content rotated by `angle` degrees about the centre and moved by (dx, dy).
MRCData* rot(MRCData* d, float angle, float dx = 0, float dy = 0) {
    return d->rotateAndTranslate(angle, dx, dy, 0);
}

// The rotation of b against a in degrees. Images too small for the first ring
// give no angle at all: the user is told, and the command stops.
bool rcfDegrees(MRCData* a, MRCData* b, float cx, float cy, float* deg) {
    if (!a->rcfRings(cx, cy)) {
        dlg_message("The images are too small for a rotational alignment:", "no ring of radius 12 fits inside them.",
                    "");
        return false;
    }
    *deg = (float)(a->calcRCF(b, cx, cy) * 180 / M_PI);
    return true;
}

void add(MRCData* d) {
    if (d) current_group()->addObject(d);
}

// Align RT with four or more images: each one is aligned to the last and its
// aligned copy takes its place.
void alignAllToLast(const Selection& sel) {
    MRCData* L = sel.at(sel.count() - 1);
    if (L->isComplex()) return;
    for (int i = 0; i + 1 < sel.count(); i++) {
        MRCData* I = sel.at(i);
        if (I->isComplex()) continue;
        MRCData::Shift s = I->align(L, 0);
        float a;
        if (!rcfDegrees(I, L, -s.dx, -s.dy, &a)) return;
        MRCData* r = rot(I, -a, -s.dx, -s.dy);
        if (!replace_data(I, r)) delete r;
    }
}

// The two- and three-image commands (k = 3..8) on A, B and the optional C.
void pairCommand(int k, MRCData* A, MRCData* B, MRCData* C) {
    float a, a3;
    switch (k) {
        case 3:
            add(A->calcCCF(B));
            if (C) add(A->calcCCF(C));
            break;
        case 4:
            // Moved in place: the statistics follow the new pixels.
            for (MRCData* X : {B, C}) {
                if (!X) continue;
                MRCData::Shift s = A->align(X, 0);
                X->rotateAndTranslate(0, s.dx, s.dy, 1);
                X->update();
            }
            refresh_after_change();
            break;
        case 5:
            if (rcfDegrees(A, B, 0, 0, &a)) {
                char line[96];
                std::snprintf(line, sizeof line, "The data sets are misaligned by %5.3f degrees.", a);
                dlg_message(line, "", "");
            }
            break;
        case 6:
            if (!rcfDegrees(A, B, 0, 0, &a)) break;
            add(rot(A, -a / 2));
            add(rot(B, a / 2));
            if (C && rcfDegrees(C, A, 0, 0, &a3)) add(rot(C, -a3));
            break;
        case 7:
        case 8: {
            MRCData::Shift c = {0, 0};
            if (k == 8) {
                dlg_message("WARNING", "This routine doesn't work right.", "");
                c = A->ACFcenter(0);
            }
            MRCData::Shift s = A->align(B, 0);
            const float cx = k == 7 ? -s.dx : c.dx + s.dx, cy = k == 7 ? -s.dy : c.dy + s.dy;
            if (!rcfDegrees(A, B, cx, cy, &a)) break;
            MRCData* A2 = rot(A, -a / 2);
            add(A2);
            add(rot(B, a / 2, s.dx, s.dy));
            if (!C || !A2) break;
            MRCData::Shift s3 = C->align(A2, 0);
            // Align RT moves C back by its shift, the centring variant forwards.
            const float sg = k == 7 ? -1.0f : 1.0f;
            if (rcfDegrees(C, A2, sg * s3.dx, sg * s3.dy, &a3)) add(rot(C, -a3, sg * s3.dx, sg * s3.dy));
            break;
        }
    }
}

}  // namespace

void m_Ctf_Rotate_Translate() {
    BusyScope b;
    Selection sel;
    if (sel.count() < 1) return;
    std::string ans;
    if (!dlg_input("Enter dx,dy,angle", "0,0,0", &ans)) return;
    float dx = 0, dy = 0, angle = 0;
    std::sscanf(ans.c_str(), " %f , %f , %f", &dx, &dy, &angle);
    for (int i = 0; i < sel.count(); i++)
        if (!sel.at(i)->isComplex()) add(rot(sel.at(i), angle, dx, dy));
    refresh_after_add();
}

void m_Ctf_CCF(int k) {
    BusyScope b;
    Selection sel;
    const int n = sel.count();
    // The pair commands need two images; only Align RT and the origin shift take more than three.
    if ((n > 3 && k != 7 && k != 9) || (n < 2 && k >= 3 && k <= 8)) {
        dlg_message(kTwoOrThree, "", "");
        return;
    }
    if (k <= 2 || k == 9) {
        for (int i = 0; i < n; i++) {
            MRCData* d = sel.at(i);
            if (d->isComplex()) continue;
            if (k == 0) {
                add(d->calcCCF(nullptr));
            } else if (k == 9) {
                d->toCorner();
            } else {
                MRCData::Shift s = d->ACFcenter(k - 1);
                std::printf("translate %f %f\n", s.dx, s.dy);
                add(rot(d, 0, s.dx, s.dy));
            }
        }
        if (k == 9) refresh_after_change();
    } else if (k >= 3 && k <= 8) {
        if (n > 3) {
            alignAllToLast(sel);
        } else {
            MRCData* C = n > 2 ? sel.at(2) : nullptr;
            // Correlations are of real images only.
            if (!sel.at(0)->isComplex() && !sel.at(1)->isComplex() && !(C && C->isComplex()))
                pairCommand(k, sel.at(0), sel.at(1), C);
        }
    }
    refresh_after_add();
}
