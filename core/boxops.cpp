#include "core/boxops.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "core/MRCData.h"

bool boxMoved(const BoxRecord& b) {
    return b.newx >= 0 || b.newy >= 0;
}

void boxCorner(const BoxRecord& b, int* x, int* y) {
    *x = b.newx >= 0 ? b.newx - b.xsize / 2 : b.x;
    *y = b.newy >= 0 ? b.newy - b.ysize / 2 : b.y;
}

namespace {
// lo < v < lo + size on an axis whose centre was not moved; around the moved
// centre c: c - size/2 < v < c + size/2.
bool inside(int v, int start, int size, int centre) {
    if (centre >= 0) return centre - size / 2 < v && v < centre + size / 2;
    return start < v && v < start + size;
}
}  // namespace

bool boxContains(const BoxRecord& b, int dx, int dy) {
    if (b.type != 0) {
        const int h = std::abs(b.type) / 2;
        return std::min(b.x, b.xsize) - h < dx && dx < std::max(b.x, b.xsize) + h && std::min(b.y, b.ysize) - h < dy &&
               dy < std::max(b.y, b.ysize) + h;
    }
    return inside(dx, b.x, b.xsize, b.newx) && inside(dy, b.y, b.ysize, b.newy);
}

int pickBox(MRCData* d, int dx, int dy) {
    int best = -1;
    for (int i = 0; i < d->nBoxes(); i++) {
        const BoxRecord& b = d->Boxes()[i];
        if (b.type != 0 || !boxContains(b, dx, dy)) continue;
        if (best < 0 || b.xsize < d->Boxes()[best].xsize) best = i;
    }
    return best;
}

int firstBoxAt(MRCData* d, int dx, int dy) {
    for (int i = 0; i < d->nBoxes(); i++)
        if (boxContains(d->Boxes()[i], dx, dy)) return i;
    return -1;
}

namespace {
// Mean over the moved boxes of (corner - moved corner).
void meanShift(MRCData* d, const std::vector<int>& moved, double* sx, double* sy) {
    *sx = *sy = 0;
    for (int i : moved) {
        const BoxRecord& b = d->Boxes()[i];
        int nx, ny;
        boxCorner(b, &nx, &ny);
        *sx += b.x - nx;
        *sy += b.y - ny;
    }
    *sx /= (double)moved.size();
    *sy /= (double)moved.size();
}

// Moves every box by (-sx, -sy), each truncated toward zero; a filament box
// moves both its ends.
void shiftAll(MRCData* d, double sx, double sy) {
    const int tx = (int)sx, ty = (int)sy;
    for (int i = 0; i < d->nBoxes(); i++) {
        BoxRecord& b = d->Boxes()[i];
        b.x -= tx;
        b.y -= ty;
        if (b.type != 0) {
            b.xsize -= tx;
            b.ysize -= ty;
        }
    }
}

void rotatePoint(int* x, int* y, double cx, double cy, double c, double s) {
    const double u = *x - cx, v = *y - cy;
    *x = (int)std::floor(cx + u * c - v * s);
    *y = (int)std::floor(cy + u * s + v * c);
}
}  // namespace

int alignAllToNew(MRCData* d) {
    std::vector<int> moved;
    for (int i = 0; i < d->nBoxes(); i++)
        if (boxMoved(d->Boxes()[i])) moved.push_back(i);
    if (moved.empty()) {
        std::printf("None of the boxes moved. Nothing to do.\n");
        return 0;
    }
    double cx = 0, cy = 0;
    for (int i : moved) {
        cx += d->Boxes()[i].x;
        cy += d->Boxes()[i].y;
    }
    cx /= (double)moved.size();
    cy /= (double)moved.size();
    double sx, sy;
    meanShift(d, moved, &sx, &sy);
    std::printf("Mean shift %f,%f\n", sx, sy);
    shiftAll(d, sx, sy);

    double theta = 0;
    for (int i : moved) {
        const BoxRecord& b = d->Boxes()[i];
        int nx, ny;
        boxCorner(b, &nx, &ny);
        // Each turn taken the short way round: a box crossing the -x axis
        // seen from the centre would otherwise count a whole turn.
        double t = std::atan2(ny - cy, nx - cx) - std::atan2(b.y - cy, b.x - cx);
        if (t > M_PI) t -= 2 * M_PI;
        if (t <= -M_PI) t += 2 * M_PI;
        theta += t;
    }
    theta /= (double)moved.size();
    std::printf("Rotate %f\n", theta * 180 / M_PI);
    const double c = std::cos(theta), s = std::sin(theta);
    for (int i = 0; i < d->nBoxes(); i++) {
        BoxRecord& b = d->Boxes()[i];
        rotatePoint(&b.x, &b.y, cx, cy, c, s);
        if (b.type != 0) rotatePoint(&b.xsize, &b.ysize, cx, cy, c, s);
    }

    meanShift(d, moved, &sx, &sy);
    std::printf("Mean shift %f,%f\n", sx, sy);
    shiftAll(d, sx, sy);
    for (int i = 0; i < d->nBoxes(); i++) d->Boxes()[i].newx = d->Boxes()[i].newy = -1;
    return (int)moved.size();
}

void makeMovedPermanent(MRCData* d) {
    for (int i = 0; i < d->nBoxes(); i++) {
        BoxRecord& b = d->Boxes()[i];
        if (!boxMoved(b)) continue;
        boxCorner(b, &b.x, &b.y);
        b.newx = b.newy = -1;
    }
}

int foldShift(int c, int W) {
    return c <= W / 2 ? c : c - W;
}

namespace {
// Correlates a with b (a first) and finds the peak of the command's polarity
// s, which turns negative for good at the first correlation whose minimum
// stands out more than its maximum. False when the correlation fails.
bool peakShift(MRCData* a, MRCData* b, int* s, int* dx, int* dy, int* index) {
    if (!a || !b) return false;
    std::unique_ptr<MRCData> C(a->calcCCF(b));
    if (!C) return false;
    if (C->Max() - C->Mean() < C->Mean() - C->Min()) *s = -1;
    const float target = *s > 0 ? C->Max() : C->Min();
    const int W = C->xSize(), H = C->ySize();
    const float* p = C->getRealData();
    const long n = (long)W * H;
    long i = 0;
    while (i < n && p[i] != target) i++;
    if (i == n) i = 0;  // a flat correlation: no shift
    *dx = foldShift((int)(i % W), W);
    *dy = foldShift((int)(i / W), H);
    *index = (int)i;
    return true;
}
}  // namespace

int copyBoxesWithAlign(MRCData* F, const std::vector<MRCData*>& others) {
    const int R = 560;
    const int x0 = (F->xSize() - R) / 2, y0 = (F->ySize() - R) / 2;
    if (x0 < 0 || y0 < 0) return -1;
    int s = 1, index;
    const size_t K = others.size();
    std::vector<int> gx(K, 0), gy(K, 0);
    {
        std::unique_ptr<MRCData> fc(F->makeClip(x0, y0, R, R));
        for (size_t k = 0; k < K; k++) {
            std::unique_ptr<MRCData> gc(others[k]->makeClip(x0, y0, R, R));
            if (!peakShift(fc.get(), gc.get(), &s, &gx[k], &gy[k], &index)) gx[k] = gy[k] = 0;
            std::printf("Data set %d shifted %d,%d\n", (int)k + 1, gx[k], gy[k]);
        }
    }
    int added = 0;
    const int n = F->nBoxes();
    for (int bi = 0; bi < n; bi++) {
        const BoxRecord B = F->Boxes()[bi];
        if (B.type != 0) continue;  // a filament is no rectangle to correlate
        const int w = B.xsize < 309 ? B.xsize : 308, h = B.xsize < 309 ? B.ysize : 308;
        std::unique_ptr<MRCData> fb(F->makeClip(B.x, B.y, w, h));
        for (size_t k = 0; k < K; k++) {
            MRCData* G = others[k];
            const int rx = B.x - gx[k], ry = B.y - gy[k];
            if (rx < 0 || ry < 0 || rx + w > G->xSize() || ry + h > G->ySize()) {
                std::printf("Box %d lies outside data set %d: not copied\n", bi + 1, (int)k + 1);
                continue;
            }
            std::unique_ptr<MRCData> gb(G->makeClip(rx, ry, w, h));
            int tx, ty;
            if (!peakShift(fb.get(), gb.get(), &s, &tx, &ty, &index)) continue;
            std::printf("%f,%d\t", (double)s, index);
            std::printf("Translate %d,%d\n", tx, ty);
            G->addBox(rx - tx, ry - ty, B.xsize, B.ysize, "Test", 0);
            added++;
        }
    }
    return added;
}
