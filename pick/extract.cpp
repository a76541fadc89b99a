#include "pick/extract.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <tuple>

#include "core/List.h"
#include "core/MRCData.h"
#include "core/anyformat.h"
#include "core/fileutil.h"
#include "core/formats.h"
#include "core/star.h"
#include "ctf/estimate.h"
#include "fft/ifftsubs.h"
#include "numeric/fcrop.h"

namespace {

constexpr int kMinSize = 8, kMaxSize = 16384;

std::string format(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* f, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, f);
    std::vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

// Largest w >= -1 with w * w <= t: on a row t = R^2 - dy^2 from the centre, the
// pixels with |dx| <= w are inside the circle, the others background.
int halfWidth(double t) {
    if (t < 0) return -1;
    int w = (int)std::floor(std::sqrt(t));
    while ((double)(w + 1) * (w + 1) <= t) w++;
    while (w >= 0 && (double)w * w > t) w--;
    return w;
}

// Background pixels of an n by n particle for a radius.
long backgroundCount(int n, double radius) {
    long k = 0;
    for (int y = 0; y < n; y++) {
        const int w = halfWidth(radius * radius - (double)(y - n / 2) * (y - n / 2));
        k += n - std::max(0, std::min(n / 2 + w, n - 1) - std::max(n / 2 - w, 0) + 1);
    }
    return k;
}

// Background columns of row dy as two ranges [0, a) and [b, n).
void rowRanges(int n, double r2, int dy, int* a, int* b) {
    const int w = halfWidth(r2 - (double)dy * dy);
    if (w < 0) {
        *a = n;
        *b = n;
        return;
    }
    *a = std::max(0, n / 2 - w);
    *b = std::min(n, n / 2 + w + 1);
}

// Solves the 3 by 3 normal equations m x = v; false when singular.
bool solve3(double m[3][3], double v[3], double x[3]) {
    for (int c = 0; c < 3; c++) {
        int p = c;
        for (int r = c + 1; r < 3; r++)
            if (std::fabs(m[r][c]) > std::fabs(m[p][c])) p = r;
        if (std::fabs(m[p][c]) < 1e-12) return false;
        std::swap(m[p], m[c]);
        std::swap(v[p], v[c]);
        for (int r = c + 1; r < 3; r++) {
            const double f = m[r][c] / m[c][c];
            for (int k = c; k < 3; k++) m[r][k] -= f * m[c][k];
            v[r] -= f * v[c];
        }
    }
    for (int c = 2; c >= 0; c--) {
        double s = v[c];
        for (int k = c + 1; k < 3; k++) s -= m[c][k] * x[k];
        x[c] = s / m[c][c];
    }
    return true;
}

std::string baseName(const std::string& s) {
    const size_t i = s.rfind('/');
    return i == std::string::npos ? s : s.substr(i + 1);
}

// The micrograph's name without folder and extension (a compression suffix goes too).
std::string stemOf(const std::string& micrograph) {
    std::string n = baseName(micrograph);
    for (int k = 0; k < 2; k++) {
        const size_t dot = n.rfind('.');
        if (dot == std::string::npos || dot == 0) break;
        const bool compressed = is_compressed_name(n.c_str());
        n.resize(dot);
        if (!compressed) break;
    }
    return n;
}

std::string folderOf(const std::string& s) {
    const size_t i = s.rfind('/');
    return i == std::string::npos ? "." : i == 0 ? "/" : s.substr(0, i);
}

bool makeDirs(const std::string& dir) {
    for (size_t i = 1; i <= dir.size(); i++) {
        if (i < dir.size() && dir[i] != '/') continue;
        const std::string part = dir.substr(0, i);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

double extract_radius(const ExtractParams& p) {
    const double out = p.size / p.bin;
    return p.radius > 0 ? p.radius : 0.75 * out / 2;
}

int extract_out_size(const ExtractParams& p, std::string* why) {
    std::string w;
    const double o = p.bin > 0 ? p.size / p.bin : 0;
    const int out = (int)std::lround(o);
    if (p.size < kMinSize || p.size > kMaxSize || p.size % 2)
        w = format("box size %d: an even number of pixels from %d to %d", p.size, kMinSize, kMaxSize);
    else if (!(p.bin >= 1) || std::fabs(o - out) > 1e-6 * o || out % 2 || out < kMinSize)
        w = format("binning %g of a %d pixel box leaves no even particle size of at least %d pixels", p.bin, p.size,
                   kMinSize);
    else if (out != p.size && (!isvalidfft(p.size) || !isvalidfft(out)))
        w = format("binning %d to %d pixels needs sizes without prime factors above 19 (try box size %d)", p.size,
                   out, npfa(p.size));
    else if (p.flip && !isvalidfft(2 * p.size))
        w = format("the phase flip of a %d pixel box needs a size without prime factors above 19 (try %d)", p.size,
                   npfa(2 * p.size) / 2);
    else if (!(p.radius >= 0) || (p.normalise && backgroundCount(out, extract_radius(p)) < 3))
        w = format("background radius %g leaves no background in a %d pixel particle", extract_radius(p), out);
    if (!w.empty()) {
        if (why) *why = w;
        return 0;
    }
    return out;
}

namespace {

// Sums over x in [lo, hi) of d = row[x] - off - base - slope (x - c), of d (x - c)
// and of d squared, in eight float lanes (a row is short enough for float) and
// returned in double.
void rowSums(const float* row, int lo, int hi, float off, float base, float slope, int c, double* s, double* sx,
             double* sq) {
    float a[8] = {0, 0, 0, 0, 0, 0, 0, 0}, b[8] = {0, 0, 0, 0, 0, 0, 0, 0}, q[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    int x = lo;
    for (; x + 8 <= hi; x += 8)
        for (int l = 0; l < 8; l++) {
            const float dx = (float)(x + l - c), d = row[x + l] - off - base - slope * dx;
            a[l] += d;
            b[l] += d * dx;
            q[l] += d * d;
        }
    for (; x < hi; x++) {
        const float dx = (float)(x - c), d = row[x] - off - base - slope * dx;
        a[0] += d;
        b[0] += d * dx;
        q[0] += d * d;
    }
    for (int l = 0; l < 8; l++) {
        *s += a[l];
        *sx += b[l];
        *sq += q[l];
    }
}

// Count, sum of dx and of dx squared for dx = x - c, x in [lo, hi).
void geometry(int lo, int hi, int c, double* n, double* sx, double* sxx) {
    auto s2 = [](double k) { return k * (k + 1) * (2 * k + 1) / 6; };  // 1 + ... + k^2
    const double a = lo - c, b = hi - 1 - c;  // dx runs a..b
    if (hi <= lo) return;
    *n += hi - lo;
    *sx += (a + b) * (hi - lo) / 2;
    *sxx += a >= 0 ? s2(b) - s2(a - 1) : b <= 0 ? s2(-a) - s2(-b - 1) : s2(-a) + s2(b);
}

}  // namespace

int extract_normalise(float* img, int n, double radius, bool ramp) {
    const double r2 = radius * radius;
    const int c = n / 2;
    // Sums relative to the corner value, so that a large offset loses no digits.
    const float v0 = img[0];
    double m[3][3] = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}, v[3] = {0, 0, 0};
    for (int y = 0; y < n; y++) {
        int a, b;
        rowRanges(n, r2, y - c, &a, &b);
        const float* row = img + (size_t)y * n;
        const double dy = y - c;
        double s1 = 0, sx = 0, sxx = 0, sv = 0, svx = 0, unused = 0;
        geometry(0, a, c, &s1, &sx, &sxx);
        geometry(b, n, c, &s1, &sx, &sxx);
        rowSums(row, 0, a, v0, 0, 0, c, &sv, &svx, &unused);
        rowSums(row, b, n, v0, 0, 0, c, &sv, &svx, &unused);
        m[0][0] += s1;
        m[0][1] += sx;
        m[0][2] += s1 * dy;
        m[1][1] += sxx;
        m[1][2] += sx * dy;
        m[2][2] += s1 * dy * dy;
        v[0] += sv;
        v[1] += svx;
        v[2] += sv * dy;
    }
    const double count = m[0][0];
    if (count < 3) return 0;
    double plane[3] = {v[0] / count, 0, 0};
    if (ramp) {
        m[1][0] = m[0][1];
        m[2][0] = m[0][2];
        m[2][1] = m[1][2];
        double x[3];
        if (solve3(m, v, x)) std::copy(x, x + 3, plane);
    }
    // Mean and deviation of what is left of the background.
    double s = 0, q = 0, unused = 0;
    for (int y = 0; y < n; y++) {
        int a, b;
        rowRanges(n, r2, y - c, &a, &b);
        const float* row = img + (size_t)y * n;
        const float base = (float)(plane[0] + plane[2] * (y - c)), slope = (float)plane[1];
        rowSums(row, 0, a, v0, base, slope, c, &s, &unused, &q);
        rowSums(row, b, n, v0, base, slope, c, &s, &unused, &q);
    }
    const double mean = s / count, var = std::max(0.0, q / count - mean * mean);
    const double sd = std::sqrt(var);
    const float k = (float)(sd > 0 ? 1 / sd : 1), slope = (float)plane[1];
    for (int y = 0; y < n; y++) {
        float* row = img + (size_t)y * n;
        const float base = (float)(plane[0] + plane[2] * (y - c) + mean);
        for (int x = 0; x < n; x++) row[x] = (row[x] - v0 - base - slope * (float)(x - c)) * k;
    }
    return 1;
}

namespace {

// Copies the w by h window at (x0, y0) of the micrograph into dst (rows of
// `stride` floats); pixels outside the micrograph get `fill`.
void cutWindow(const float* mic, int nx, int ny, int x0, int y0, int w, int h, size_t stride, float fill, float* dst) {
    for (int y = 0; y < h; y++) {
        float* d = dst + (size_t)y * stride;
        const int my = y0 + y;
        if (my < 0 || my >= ny) {
            std::fill(d, d + w, fill);
            continue;
        }
        const int a = std::max(0, -x0), b = std::min(w, nx - x0);
        if (a >= b) {
            std::fill(d, d + w, fill);
            continue;
        }
        std::fill(d, d + a, fill);
        std::copy(mic + (size_t)my * nx + x0 + a, mic + (size_t)my * nx + x0 + b, d + a);
        std::fill(d + b, d + w, fill);
    }
}

// Mean of the part of the N by N box at (x0, y0) inside the micrograph.
double insideMean(const float* mic, int nx, int ny, int x0, int y0, int N) {
    double s = 0;
    long k = 0;
    for (int y = std::max(0, y0); y < std::min(ny, y0 + N); y++)
        for (int x = std::max(0, x0); x < std::min(nx, x0 + N); x++, k++) s += mic[(size_t)y * nx + x];
    return k ? s / k : 0;
}

// Buffers one particle after another reuses (fresh megabyte buffers cost page faults).
struct Work {
    std::vector<float> box, win, small;
};

// extract_particle with the signs of the 2N transform made once per micrograph.
int extractOne(const float* mic, int nx, int ny, int cx, int cy, const ExtractParams& p, int out,
               const std::vector<signed char>* signs, float* dst, Work& wk) {
    const int N = p.size;
    if (cx < 0 || cy < 0 || cx >= nx || cy >= ny) return 0;
    const int x0 = cx - N / 2, y0 = cy - N / 2;
    const bool inside = x0 >= 0 && y0 >= 0 && x0 + N <= nx && y0 + N <= ny;
    if (!inside && !p.fillEdge) return 0;
    const bool flipping = p.flip && signs;
    // The surroundings are needed beyond the box only for the flip.
    const bool needFill = !inside || (flipping && (cx - N < 0 || cy - N < 0 || cx + N > nx || cy + N > ny));
    const float fill = needFill ? (float)insideMean(mic, nx, ny, x0, y0, N) : 0.0f;
    std::vector<float>& box = wk.box;
    box.resize((size_t)N * N);
    if (flipping) {
        // Padded to 2N by what surrounds the box, so that the delocalised signal
        // comes back into it rather than wrapping round.
        // Rows of 2N + 2 floats, as the transform takes them.
        const size_t W = 2 * N + 2;
        std::vector<float>& win = wk.win;
        win.resize(W * 2 * N);
        cutWindow(mic, nx, ny, cx - N, cy - N, 2 * N, 2 * N, W, fill, win.data());
        ctf2d_flip_rows(win.data(), 2 * N, 2 * N, *signs);
        for (int y = 0; y < N; y++)
            std::copy(&win[(y + N / 2) * W + N / 2], &win[(y + N / 2) * W + N / 2 + N], &box[(size_t)y * N]);
    } else {
        cutWindow(mic, nx, ny, x0, y0, N, N, N, fill, box.data());
    }
    if (out != N) {
        if (!fourier_resize(box.data(), N, N, out, out, &wk.small)) return 0;
        std::copy(wk.small.begin(), wk.small.end(), dst);
    } else {
        std::copy(box.begin(), box.end(), dst);
    }
    if (p.normalise) extract_normalise(dst, out, extract_radius(p), p.ramp);
    if (p.invert)
        for (size_t i = 0; i < (size_t)out * out; i++) dst[i] = -dst[i];
    return 1;
}

}  // namespace

int extract_particle(const float* mic, int nx, int ny, int cx, int cy, const ExtractParams& p, double pixel,
                     const Ctf2d* c, float* out) {
    const int o = extract_out_size(p, nullptr);
    if (!o) return 0;
    std::vector<signed char> signs;
    if (p.flip) {
        if (!c || !(pixel > 0)) return 0;
        signs = ctf2d_signs(2 * p.size, 2 * p.size, pixel, *c);
    }
    Work wk;
    return extractOne(mic, nx, ny, cx, cy, p, o, p.flip ? &signs : nullptr, out, wk);
}

std::vector<PickCentre> extract_centres(const std::vector<Pick>& boxes) {
    std::vector<PickCentre> c;
    for (const Pick& b : boxes) c.push_back({(double)(b.x + b.w / 2), (double)(b.y + b.h / 2)});
    return c;
}

std::string extract_picks_path(const std::string& micrograph, const std::string& dir, const std::string& suffix) {
    return (dir.empty() ? folderOf(micrograph) : dir) + "/" + stemOf(micrograph) + suffix;
}

std::string extract_stack_path(const std::string& micrograph, const std::string& dir) {
    return dir + "/" + stemOf(micrograph) + ".mrcs";
}

namespace {

// Optics of a micrograph: one group per distinct set of values.
struct Optics {
    double pixel;
    float kv, cs, ac;
    bool operator<(const Optics& o) const {
        return std::tie(pixel, kv, cs, ac) < std::tie(o.pixel, o.kv, o.cs, o.ac);
    }
};

struct ParticleRow {
    double x, y;
    int index;
    std::string stack, micrograph;
    int group;
    bool ctf;
    CtfEstimate e;
};

struct JobState {
    std::map<Optics, int> groups;
    std::vector<Optics> groupList;
    std::vector<ParticleRow> rows;
    std::map<std::string, std::string> stems;  // stack name -> the micrograph that took it
};

// One micrograph, as far as it goes: 1 with the report filled, or 0 with why.
int extractMicrograph(const ExtractJob& job, const ExtractSource& src, int out, JobState& js, ExtractReport& r) {
    const ExtractParams& p = job.params;
    const std::string& name = src.micrograph;
    if (!starValueOk(name)) {
        r.why = name + ": a name with blanks or control characters cannot stand in a STAR table";
        return 0;
    }
    const std::string stack = extract_stack_path(name, job.outDir);
    auto taken = js.stems.find(stack);
    if (taken != js.stems.end()) {
        r.why = name + ": its stack " + stack + " is already that of " + taken->second;
        return 0;
    }
    // The micrograph: in memory, or read.
    std::unique_ptr<MRCData> read;
    const float* mic = src.pixels;
    int nx = src.nx, ny = src.ny;
    double pixel = job.pixel > 0 ? job.pixel : src.pixel;
    if (!mic) {
        List* l = readAnyFile(name.c_str());
        if (!l) {
            r.why = "cannot read " + name;
            return 0;
        }
        const int n = l->count();
        if (n >= 1) read.reset(static_cast<MRCData*>(l->removeObjectAt(0)));
        freeDataList(l);
        if (n != 1 || read->isComplex() || read->zSize() > 1) {
            r.why = name + ": not a single micrograph (a stack, volume or Fourier transform)";
            return 0;
        }
        mic = read->getRealData();
        nx = read->xSize();
        ny = read->ySize();
        if (!(pixel > 0) && read->MRCHed()) pixel = mrc_pixel_size(*read->MRCHed());
    }
    if (!(pixel > 0)) {
        r.why = name + ": the file records no pixel size; give it (--pixel A)";
        return 0;
    }
    if (p.size > nx || p.size > ny) {
        r.why = format("%s: a %d pixel box is larger than the %d x %d micrograph", name.c_str(), p.size, nx, ny);
        return 0;
    }
    // Its picks.
    std::vector<PickCentre> picks = src.picks;
    std::string picksFile = "its boxes";
    if (!src.havePicks) {
        picksFile = extract_picks_path(name, job.picksDir, job.picksSuffix);
        const PickFormat f = pickFormat(picksFile.c_str());
        int ok = 0;
        std::vector<Pick> boxes;
        if (f == PICKS_STAR)
            ok = readStarCentres(picksFile.c_str(), &picks);
        else if (f == PICKS_BOX && (ok = readBoxPicks(picksFile.c_str(), &boxes)))
            picks = extract_centres(boxes);
        else if (f != PICKS_BOX)
            picksFile += " (picks files end in .star or .box)";
        if (!ok) {
            r.why = name + ": cannot read the picks " + picksFile;
            return 0;
        }
    }
    // A picks file with centres off the micrograph belongs to another one; boxes
    // given with the micrograph are its own, and those off it merely skipped.
    for (const PickCentre& k : src.havePicks ? std::vector<PickCentre>() : picks) {
        if (!(k.x >= 0 && k.y >= 0 && k.x < nx && k.y < ny)) {
            r.why = format("%s: the pick at (%g, %g) lies outside the %d x %d micrograph; picked on another size?",
                           picksFile.c_str(), k.x, k.y, nx, ny);
            return 0;
        }
    }
    // Its CTF.
    bool haveCtf = false;
    CtfEstimate e;
    CtfEstimateParams mp;
    mp.pixel = (float)pixel;
    mp.kv = job.kv;
    mp.csMM = job.csMM;
    mp.ac = job.ac;
    if (job.ctf) {
        const CtfStarRow* row = ctf_star_find(*job.ctf, name);
        if (!row) {
            r.why = name + ": not in the CTF table " + job.ctfName;
            return 0;
        }
        e = row->estimate;
        if (row->kv > 0) mp.kv = row->kv;
        if (row->csMM > 0) mp.csMM = row->csMM;
        if (row->kv > 0) mp.ac = row->ac;  // a row with optics gives all three
        haveCtf = true;
    } else if (p.flip) {
        if (!ctf_estimate(mic, nx, ny, mp, &e)) {
            r.why = name + ": no CTF estimate: " + (e.why ? e.why : "");
            return 0;
        }
        haveCtf = true;
    }
    std::vector<signed char> signs;
    if (p.flip) signs = ctf2d_signs(2 * p.size, 2 * p.size, pixel, ctf2d_from(e, mp));
    // The particles, straight into the stack, a batch at a time cut by as many
    // threads as the machine has (each particle on its own, so the stack is the same).
    MRCStackWriter w;
    const Optics o{pixel, mp.kv, mp.csMM, mp.ac};
    const int T = (int)std::max(1u, std::min(16u, std::thread::hardware_concurrency()));
    const size_t batch = 16 * (size_t)T, one = (size_t)out * out;
    std::vector<float> parts(std::min(batch, picks.size()) * one);
    std::vector<char> cut(batch);
    std::vector<Work> work(T);
    std::vector<ParticleRow> rows;
    for (size_t b0 = 0; b0 < picks.size(); b0 += batch) {
        const size_t nb = std::min(batch, picks.size() - b0);
        auto slice = [&](int t) {
            for (size_t i = t; i < nb; i += T) {
                const PickCentre& k = picks[b0 + i];
                cut[i] = (char)extractOne(mic, nx, ny, (int)std::floor(k.x), (int)std::floor(k.y), p, out,
                                          p.flip ? &signs : nullptr, &parts[i * one], work[t]);
            }
        };
        std::vector<std::thread> threads;
        for (int t = 1; t < T && (size_t)t < nb; t++) threads.emplace_back(slice, t);
        slice(0);
        for (std::thread& th : threads) th.join();
        for (size_t i = 0; i < nb; i++) {
            if (!cut[i]) {
                r.skipped++;
                continue;
            }
            if (!w.count() && !w.open(stack.c_str(), out, out, (float)(pixel * p.size / out), stemOf(name).c_str())) {
                r.why = "cannot write " + stack;
                return 0;
            }
            if (!w.add(&parts[i * one])) {
                r.why = "cannot write " + stack;
                return 0;
            }
            const PickCentre& k = picks[b0 + i];
            rows.push_back({k.x, k.y, w.count(), stack, name, 0, haveCtf, e});
        }
    }
    if (w.count() && !w.commit()) {
        r.why = "cannot write " + stack;
        return 0;
    }
    r.written = w.count();
    if (!r.written) return 1;
    r.stack = stack;
    js.stems[stack] = name;
    auto g = js.groups.find(o);
    if (g == js.groups.end()) {
        g = js.groups.emplace(o, (int)js.groupList.size() + 1).first;
        js.groupList.push_back(o);
    }
    for (ParticleRow& row : rows) {
        row.group = g->second;
        js.rows.push_back(std::move(row));
    }
    return 1;
}

// RELION 3.1: the optics groups, then one row per particle.
std::string starText(const ExtractJob& job, const JobState& js, int out) {
    const ExtractParams& p = job.params;
    std::string s = "\n# version 30001\n\ndata_optics\n\nloop_\n"
                    "_rlnOpticsGroupName #1\n_rlnOpticsGroup #2\n_rlnMicrographOriginalPixelSize #3\n"
                    "_rlnVoltage #4\n_rlnSphericalAberration #5\n_rlnAmplitudeContrast #6\n_rlnImagePixelSize #7\n"
                    "_rlnImageSize #8\n_rlnImageDimensionality #9\n_rlnCtfDataAreCtfPremultiplied #10\n";
    if (p.flip) s += "_rlnCtfDataArePhaseFlipped #11\n";
    for (size_t g = 0; g < js.groupList.size(); g++) {
        const Optics& o = js.groupList[g];
        s += format("opticsGroup%zu %zu %.6f %.6f %.6f %.6f %.6f %d 2 0%s\n", g + 1, g + 1, o.pixel, (double)o.kv,
                    (double)o.cs, (double)o.ac, o.pixel * p.size / out, out, p.flip ? " 1" : "");
    }
    // Every row has a CTF or none does: a table covers them all, a flip estimated them all.
    const bool ctf = !js.rows.empty() && js.rows[0].ctf;
    bool res = ctf;
    for (const ParticleRow& r : js.rows) res = res && r.e.resolution > 0;
    s += "\n\n# version 30001\n\ndata_particles\n\nloop_\n"
         "_rlnCoordinateX #1\n_rlnCoordinateY #2\n_rlnImageName #3\n_rlnMicrographName #4\n_rlnOpticsGroup #5\n";
    if (ctf) s += "_rlnDefocusU #6\n_rlnDefocusV #7\n_rlnDefocusAngle #8\n";
    if (res) s += "_rlnCtfMaxResolution #9\n";
    for (const ParticleRow& r : js.rows) {
        s += format("%.6f %.6f %d@%s %s %d", r.x, r.y, r.index, r.stack.c_str(),
                    r.micrograph.c_str(), r.group);
        // RELION counts underfocus positive, in Angstrom.
        if (ctf) s += format(" %.2f %.2f %.2f", -1e4 * r.e.defocusU, -1e4 * r.e.defocusV, (double)r.e.astigAngle);
        if (res) s += format(" %.3f", (double)r.e.resolution);
        s += "\n";
    }
    return s + "\n";
}

}  // namespace

int extract_job(const ExtractJob& job, std::vector<ExtractReport>* reports,
                const std::function<void(const ExtractReport&)>& each, std::string* starWhy) {
    reports->clear();
    std::string why;
    const int out = extract_out_size(job.params, &why);
    const std::string star = job.starFile.empty() ? job.outDir + "/particles.star" : job.starFile;
    if (out && !starValueOk(job.outDir + "/x.mrcs")) why = "the folder " + job.outDir + " cannot stand in a STAR table";
    if (out && why.empty() && !makeDirs(job.outDir))
        why = "cannot make the folder " + job.outDir + ": " + std::strerror(errno);
    if (!why.empty()) {
        if (starWhy) *starWhy = why;
        return 0;
    }
    JobState js;
    bool all = true;
    for (const ExtractSource& src : job.sources) {
        ExtractReport r;
        r.micrograph = src.micrograph;
        r.ok = extractMicrograph(job, src, out, js, r) == 1;
        all = all && r.ok;
        reports->push_back(r);
        if (each) each(r);
    }
    if (js.rows.empty()) {
        if (starWhy) *starWhy = "no particles: " + star + " not written";
        return 0;
    }
    const std::string text = starText(job, js, out);
    if (!write_file_atomic(star.c_str(), text.data(), text.size())) {
        if (starWhy) *starWhy = "cannot write " + star + ": " + std::strerror(errno);
        return 0;
    }
    return all;
}
