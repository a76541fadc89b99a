#include "core/MRCData.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "core/fileutil.h"
#include "core/hooks.h"
#include "core/prefs.h"

void brev(unsigned char* buf, int n) {
    for (int i = n - 1; i >= 0; i--) {
        unsigned char* p = buf + 4 * (size_t)i;
        std::swap(p[0], p[3]);
        std::swap(p[1], p[2]);
    }
}

void brevs(unsigned char* buf, int n) {
    for (int i = n - 1; i >= 0; i--) {
        unsigned char* p = buf + 2 * (size_t)i;
        std::swap(p[0], p[1]);
    }
}

int isLittleEndian() {
    const uint16_t one = 1;
    unsigned char b;
    std::memcpy(&b, &one, 1);
    return b == 1;
}

static char* dupstr(const char* s) {
    size_t n = std::strlen(s) + 1;
    char* d = static_cast<char*>(std::malloc(n));
    std::memcpy(d, s, n);
    return d;
}

ScanScale scan_scale_prefs() {
    const float mag = getenvfd("mag", 30);
    return {mag, getenvfd("scanres", 25)};
}

void MRCData::setDefaultScale() {
    const ScanScale s = scan_scale_prefs();
    mag = s.mag;
    pixres = s.pixres();
}

MRCData::MRCData() : data(1024), boxes(4) {
    setDefaultScale();
}

MRCData::MRCData(float m, float p) : data(1024), mag(m), pixres(p), boxes(4) {}

MRCData::MRCData(MRCData* src) : data(1024), boxes(4) {
    if (src->mrcHed) mrcHed = new MRCheader(*src->mrcHed);
    mag = src->mag;
    pixres = src->pixres;
    setName(src->Name());
    setFile(src->File());
}

MRCData::~MRCData() {
    delete mrcHed;
    delete imHed;
    delete spHed;
    std::free(pifHed);
    std::free(name);
    std::free(file);
    delete pstate;
}

const char* MRCData::Name() const {
    return name ? name : "na";
}
const char* MRCData::File() const {
    return file ? file : "unknown";
}

void MRCData::setName(const char* n) {
    std::free(name);
    name = nullptr;
    if (n && std::strcmp(n, "na") != 0) name = dupstr(n);
}

int MRCData::setFile(const char* f) {
    std::free(file);
    file = nullptr;
    if (f && std::strcmp(f, "unknown") != 0) file = dupstr(f);
    return file != nullptr;
}

void MRCData::setMRCHed(MRCheader* h) {
    if (h != mrcHed) delete mrcHed;
    mrcHed = h;
}
void MRCData::setIMHed(IMAGICH* h) {
    if (h != imHed) delete imHed;
    imHed = h;
}
void MRCData::setSPIDERHed(SPIDERH* h) {
    if (h != spHed) delete spHed;
    spHed = h;
}
void MRCData::setPifHeader(unsigned char* h) {
    if (h != pifHed) std::free(pifHed);
    pifHed = h;
}

LC_pstate* MRCData::Pstate() {
    if (!pstate) pstate = new LC_pstate();
    return pstate;
}

void MRCData::resizeData(size_t n) {
    goodStats = false;  // new contents: only an update tells what they hold
    if (n < 1) n = 1;
    data.resize(n);
    data.shrink_to_fit();
}

void MRCData::setSize(int x, int y, int z) {
    resizeData((size_t)(x + 2) * y * z);
    nx = x;
    ny = y;
    nz = z;
}

void MRCData::setRealData(const float* src, int x, int y, int z) {
    size_t n = (size_t)x * y * z;
    nx = x;
    ny = y;
    nz = z;
    flags &= ~1;
    resizeData(n);
    if (n) std::memcpy(data.data(), src, n * sizeof(float));
    update();
}

void MRCData::setComplData(const float* src, int x, int y, int z) {
    size_t n = (size_t)x * y * z;
    nx = x;
    ny = y;
    nz = z;
    flags |= 1;
    resizeData(n);
    if (n) std::memcpy(data.data(), src, n * sizeof(float));
    update();
}

float MRCData::valueAt(int x, int y) const {
    if (x < 0 || y < 0 || x >= nx || y >= ny) return 0;
    return data[(size_t)y * nx + x];
}

// One pass: min, max, sum and sum of squares. Four independent double
// lanes keep the pass fast; each block is folded into long double totals.
void MRCData::statsPass(double& sumOut, double& sumsqOut) {
    const size_t N = (size_t)nx * ny * nz;
    const size_t s = isComplex() ? 2 : 1;
    const float* d = data.data();
    float mx = -1e20f, mn = 1e20f;
    long double sum = 0, sumsq = 0;
    const size_t block = 8192;
    size_t count = N / s;  // examined values
    size_t k = 0;
    while (k < count) {
        size_t end = std::min(count, k + block);
        double a0 = 0, a1 = 0, q0 = 0, q1 = 0;
        size_t j = k;
        {
            // Eight independent lanes, written so that the compiler can vectorise them.
            double a8[8] = {}, q8[8] = {};
            float lo8[8], hi8[8];
            for (int l = 0; l < 8; l++) lo8[l] = mn, hi8[l] = mx;
            auto lanes = [&](auto stride) {
                for (; j + 8 <= end; j += 8) {
                    for (int l = 0; l < 8; l++) {
                        float v = d[(j + l) * stride];
                        a8[l] += v;
                        q8[l] += (double)v * v;
                        // NaN never replaces an extreme: comparisons with NaN are false.
                        lo8[l] = v < lo8[l] ? v : lo8[l];
                        hi8[l] = v > hi8[l] ? v : hi8[l];
                    }
                }
            };
            if (s == 1)
                lanes(std::integral_constant<size_t, 1>());
            else
                lanes(std::integral_constant<size_t, 2>());
            for (int l = 0; l < 8; l++) {
                (l & 1 ? a1 : a0) += a8[l];
                (l & 1 ? q1 : q0) += q8[l];
                if (lo8[l] < mn) mn = lo8[l];
                if (hi8[l] > mx) mx = hi8[l];
            }
        }
        for (; j < end; j++) {
            float v = d[j * s];
            a0 += v;
            q0 += (double)v * v;
            if (v > mx) mx = v;
            if (v < mn) mn = v;
        }
        sum += (long double)(a0 + a1);
        sumsq += (long double)(q0 + q1);
        k = end;
    }
    min = mn;
    max = mx;
    sumOut = (double)sum;
    sumsqOut = (double)sumsq;
}

int MRCData::update() {
    const size_t N = (size_t)nx * ny * nz;
    const double s = isComplex() ? 2 : 1;
    for (float& h : histogram) h = 0;
    double sum = 0, sumsq = 0;
    bool empty = N == 0;
    if (empty) {
        min = 0;
        max = 0;
        mean = NAN;
        sigma = NAN;
        edgeMean = NAN;
        edgeSigma = NAN;
    } else {
        statsPass(sum, sumsq);
        long double m = (long double)sum * s / N;
        long double q = (long double)sumsq * s / N;
        mean = (double)m;
        // Rounding can leave a tiny negative variance for constant images.
        long double var = q - m * m;
        sigma = (double)std::sqrt(var < 0 ? 0 : var);
        // Border of the first plane, every float of the rows.
        const float* d = data.data();
        long double E = 0;
        const float* last = d + (size_t)(ny - 1) * nx;
        for (int x = 0; x < nx; x++) E += (long double)d[x] + last[x];
        for (int y = 0; y < ny; y++) E += (long double)d[(size_t)y * nx] + d[(size_t)y * nx + nx - 1];
        edgeMean = (double)(E / (2.0L * (nx + ny)));
        long double ev = q - 2 * m * edgeMean + (long double)edgeMean * edgeMean;
        edgeSigma = (double)std::sqrt(ev < 0 ? 0 : ev);
    }
    histmax = max;
    histmin = min;
    const bool bad = std::isnan(mean) || std::isnan(sigma);
    if (bad) {
        std::printf("ERROR - Bad statistics on this data set!\n");
        std::printf("mean=%lf sigma=%lf edgemean=%lf edgesigma=%lf  %lf %lf\n", mean, sigma, edgeMean, edgeSigma, sumsq,
                    sum);
        if (empty) {
            // Nothing to show of an empty set: say so instead of the sample values.
            std::printf("empty data set %dx%dx%d\n", nx, ny, nz);
        } else {
            size_t P = (size_t)nx * ny;
            std::printf("%f %f %f %f\n", data[0], data[P - 1], data[P / 2], data[P / 3]);
        }
        mean = edgeMean = 0;
        sigma = edgeSigma = 1;
    }
    goodStats = !bad && std::isfinite(min) && std::isfinite(max) && std::isfinite(edgeMean) && std::isfinite(edgeSigma);
    if (histmax - mean > 3 * sigma) histmax = (float)(mean + 3 * sigma);
    if (mean - histmin > 3 * sigma) histmin = (float)(mean - 3 * sigma);
    if (histmin == histmax) histmax += 0.0001f;
    if (min == max) max += 0.0001f;
    rehist(histmin, histmax);
    if (renMin != -999) return 1;
    autoRange();
    return 1;
}

int MRCData::rehist(float lo, float hi) {
    for (float& h : histogram) h = 0;
    histmin = lo;
    histmax = hi;
    static const int strides[11] = {1, 3, 7, 11, 17, 23, 37, 59, 127, 253, 511};
    const long long N = (long long)nx * ny * nz;
    const bool cplx = isComplex();
    int first, last;
    if (N < 300000)
        first = last = 0;
    else if (N < 2000000)
        first = 2, last = 3;
    else if (N < 8000000)
        first = 4, last = 6;
    else
        first = 7, last = 9;
    if (!cplx && N >= 300000) first++, last++;
    double W = 0;
    const float* d = data.data();
    float* h = histogram;
    for (int e = first; e <= last; e++) {
        long long t = strides[e] * (cplx ? 2 : 1);
        W += (double)N / (double)t;
        float k = (float)(255.999 / ((double)histmax - (double)histmin));
        for (long long i = N - t; i >= 0; i -= t) {
            float x = (d[i] - histmin) * k;
            // NaN and out-of-range positions are never turned into an index.
            if (!(x >= 0.0f && x < 256.0f)) continue;
            int b = (int)x;
            float f = x - (float)b;
            h[b] += 1 - f;
            h[b + 1] += f;
        }
    }
    if (W > 0)
        for (int b = 0; b < 256; b++) h[b] = (float)(100.0 * h[b] / W);
    return 1;
}

void MRCData::autoRange() {
    const float* h = histogram;
    int p = 0;
    float H = -1;
    for (int i = 0; i < 256; i++)
        if (h[i] > H) H = h[i], p = i;
    int i = p;
    while (i < 256 && h[i] > H / 10) i++;
    if (i <= 253) {
        while (i <= 253 && !(h[i] > H / 4 && h[i + 2] > H / 4)) i++;
    }
    if (i != 254) {
        float run = min;
        for (int j = i; j < 256; j++)
            if (h[j] > run) run = h[j], p = j;
    }
    if (p < 2) p = 2;
    if (p > 253) p = 253;
    float L = (h[p - 2] + h[p + 2]) / 2 / 10;
    int u = p + 1;
    while (u < 256 && h[u] > L) u++;
    renMax = histmin + (histmax - histmin) * u / 256;
    int l = p;
    while (l > 0 && h[l] > L) l--;
    renMin = histmin + (histmax - histmin) * l / 256;
    if (std::isnan(renMin) || std::isnan(renMax) || std::fabs(renMax) > 1e10f) {
        renMin = -1;
        renMax = 1;
    }
}

double MRCData::clipToHist() {
    const size_t N = (size_t)nx * ny * nz;
    const size_t s = isComplex() ? 2 : 1;
    float r = (renMax - min) / (max - min);
    bool zeroLow = r > 0.99f;
    size_t changed = 0;
    float* d = data.data();
    for (size_t i = 0; i < N; i += s) {
        if (d[i] > renMax) {
            d[i] = renMax;
            changed++;
        } else if (d[i] < renMin) {
            d[i] = zeroLow ? 0 : renMin;
            changed++;
        }
    }
    update();
    return N ? (double)changed / N : 0;
}

void MRCData::normalizeBy(double m, double dev) {
    float* d = data.data();
    const size_t N = (size_t)nx * ny * nz;
    for (size_t i = 0; i < N; i++) d[i] = (float)((d[i] - m) / dev);
    auto map = [&](float v) { return (float)((v - m) / dev); };
    renMin = map(renMin);
    renMax = map(renMax);
    if (!goodStats) {
        update();
        return;
    }
    // Every value moved by the same linear map: so did the statistics and the
    // histogram's range, and every value keeps its bin. Mapping them is what
    // a recount would give, up to rounding, at a fraction of its cost.
    min = map(min);
    max = map(max);
    histmin = map(histmin);
    histmax = map(histmax);
    mean = (mean - m) / dev;
    edgeMean = (edgeMean - m) / dev;
    sigma /= dev;
    edgeSigma /= dev;
}

void MRCData::normalize() {
    if (sigma == 0 || std::isnan(sigma)) return;
    normalizeBy(mean, sigma);
}

void MRCData::edgeNormalize() {
    if (edgeSigma == 0 || std::isnan(edgeSigma)) return;
    normalizeBy(edgeMean, edgeSigma);
}

int MRCData::addBox(int x, int y, int xsize, int ysize, const char* nm, int type) {
    if (boxCount >= (int)boxes.size() - 1) boxes.resize(boxes.size() + 8);
    BoxRecord& b = boxes[boxCount++];
    b.x = x;
    b.y = y;
    b.xsize = xsize;
    b.ysize = ysize;
    b.newx = b.newy = -1;
    b.type = type;
    std::memset(b.name, 0, sizeof b.name);
    if (nm) std::strncpy(b.name, nm, 39);
    return 1;
}

void MRCData::delBox(int i) {
    if (i < 0 || i >= boxCount) return;
    std::memmove(&boxes[i], &boxes[i + 1], (boxCount - i - 1) * sizeof(BoxRecord));
    boxCount--;
}
