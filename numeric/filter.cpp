#include "numeric/filter.h"

#include <cmath>
#include <cstdio>

#include "core/MRCData.h"

int parseFilterAnswer(const char* text, float* L, float* H, int* M) {
    *H = -1;
    *M = 0;
    if (!text) return 0;
    int n = std::sscanf(text, " %f , %f , %d", L, H, M);
    if (n < 1) return 0;
    if (n < 2) *H = -1;
    if (n < 3) *M = 0;
    return n;
}

void makeFilterTable(MRCData* d, float L, float H, int M, float* A, float* V) {
    const bool inverse = L < 0;
    const float res = std::fabs(L);
    const int ny = d->ySize();
    for (int i = 0; i < 400; i++) {
        A[i] = (float)(ny * i * std::sqrt(2.0) / 400);
        const float s = A[i] / (d->Pixres() * ny);
        float v;
        if (M == 1)
            v = s < 1 / res ? 1.0f : 0.0f;
        else if (M == -1)
            v = (s > 1 / H && s < 1 / res) ? 1.0f : 0.0f;
        else
            v = std::exp(-std::pow(0.5f * (float)M_PI * s * res, 2.0f));
        if (inverse) v = v >= 0.001f ? 1 / v : 1000.0f;
        if (H > 0 && s < 1 / H) v = 0;
        V[i] = v;
    }
}

MRCData* applyFilter(MRCData* d, float L, float H, int M) {
    if (L == 0 || !d) return nullptr;
    float A[400], V[400];
    makeFilterTable(d, L, H, M, A, V);
    auto apply = [&](MRCData* c) {
        if (M == -1)
            c->setRadAmp(400, A, V);
        else
            c->applyRadFn(400, A, V);
    };
    if (d->isComplex()) {
        apply(d);
        return d;
    }
    MRCData* f = d->doFFT(0);
    if (!f) return nullptr;
    apply(f);
    MRCData* r = f->doIFT(0);
    delete f;
    return r;
}
