// Mixed-radix FFT engine.
//
// Every call gathers the sequences it is given, eight at a time, into a
// scratch area where each point holds eight lanes (one per sequence), runs a
// self-sorting (Stockham) pass per radix there, and scatters the results back.
// The lanes make every butterfly an 8-wide vector operation whatever the
// stride of the caller's data, and the gather turns the column passes of an
// image into reads of whole cache lines. Self-sorting passes need no final
// digit-reversal permutation. Scratch lives per thread and grows on demand.
#include "fft/ifftsubs.h"

#pragma GCC diagnostic ignored "-Wpsabi"

#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

namespace {

constexpr int L = 8;  // sequences transformed together
typedef float v8 __attribute__((vector_size(32)));

struct cv {
    v8 re, im;
};

inline v8 bc(float f) {
    return (v8){f, f, f, f, f, f, f, f};
}

// One planned length: its radices and twiddle tables, computed in double.
struct Plan {
    int n = 0;
    bool ok = false;
    std::vector<int> rad;
    std::vector<float> wr, wi;  // exp(-2 pi i t / n), t = 0..n-1
    std::vector<float> hc, hs;  // cos, sin of pi k / n, k = 0..n (real <-> half-complex)
};

struct Scratch {
    std::vector<cv> a, b;
    std::vector<long> starts;
    Plan plans[4];
    int next = 0;
};

thread_local Scratch g_s;

// The engine's own pass order: as many radix-8 passes as possible, then 4 or
// 2, then the odd primes. srfp decides whether the length is accepted.
bool planRadices(int n, std::vector<int>& rad) {
    rad.clear();
    int twos = 0;
    while (n % 2 == 0) {
        n /= 2;
        twos++;
    }
    while (twos >= 3) {
        rad.push_back(8);
        twos -= 3;
    }
    if (twos == 2) rad.push_back(4);
    if (twos == 1) rad.push_back(2);
    for (int p = 3; p <= 19; p += 2)
        while (n % p == 0) {
            rad.push_back(p);
            n /= p;
        }
    return n == 1;
}

const Plan* getPlan(int n) {
    for (auto& p : g_s.plans)
        if (p.n == n) return &p;
    Plan& p = g_s.plans[g_s.next];
    g_s.next = (g_s.next + 1) % 4;
    p.n = n;
    int fac[20], sym[20], unsym[20], psym = 0, err = 0, pmax = 19, grp = 8, nn = n;
    srfp(&nn, &pmax, &grp, fac, sym, &psym, unsym, &err);
    p.ok = !err && planRadices(n, p.rad);
    if (!p.ok) p.rad.clear();
    try {
        p.wr.resize(n);
        p.wi.resize(n);
        p.hc.resize(n + 1);
        p.hs.resize(n + 1);
    } catch (const std::exception&) {
        p.n = 0;
        return nullptr;
    }
    for (int t = 0; t < n; t++) {
        double a = 2.0 * M_PI * t / n;
        p.wr[t] = (float)std::cos(a);
        p.wi[t] = (float)-std::sin(a);
    }
    for (int k = 0; k <= n; k++) {
        double a = M_PI * k / n;
        p.hc[k] = (float)std::cos(a);
        p.hs[k] = (float)std::sin(a);
    }
    return &p;
}

bool ensureScratch(size_t n) {
    try {
        if (g_s.a.size() < n) {
            g_s.a.resize(n);
            g_s.b.resize(n);
        }
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

inline void twiddle(cv& v, float wr, float wi) {
    v8 r = v.re * bc(wr) - v.im * bc(wi);
    v.im = v.re * bc(wi) + v.im * bc(wr);
    v.re = r;
}

// Stockham pass of radix P over a length-n sub-problem at stride s (n*s = N):
// a_r = x[t + s*(q + r*m)] -> y[t + s*(P*q + k)] = DFT_P(a)_k * w^(q*k).
template <class K>
void stockham(int P, int n, int s, const cv* x, cv* y, const Plan& pl, K kernel) {
    const int m = n / P;
    float wr[20], wi[20];
    for (int q = 0; q < m; q++) {
        for (int k = 1; k < P; k++) {
            long idx = (long)q * k * s;  // q*k < n, so idx < N
            wr[k] = pl.wr[idx];
            wi[k] = pl.wi[idx];
        }
        const cv* xin = x + (long)s * q;
        cv* yout = y + (long)s * P * q;
        for (int t = 0; t < s; t++) kernel(xin + t, (long)s * m, yout + t, (long)s, wr, wi, q != 0);
    }
}

// Radix-2 pass.
void r2cftk(int n, int s, const cv* x, cv* y, const Plan& pl) {
    stockham(2, n, s, x, y, pl, [](const cv* a, long ia, cv* b, long ib, const float* wr, const float* wi, bool tw) {
        cv a0 = a[0], a1 = a[ia];
        b[0] = {a0.re + a1.re, a0.im + a1.im};
        cv d = {a0.re - a1.re, a0.im - a1.im};
        if (tw) twiddle(d, wr[1], wi[1]);
        b[ib] = d;
    });
}

// Radix-4 pass: b1 = t1 - i t3, b3 = t1 + i t3.
inline void dft4(const cv& a0, const cv& a1, const cv& a2, const cv& a3, cv& b0, cv& b1, cv& b2, cv& b3) {
    v8 t0r = a0.re + a2.re, t0i = a0.im + a2.im;
    v8 t1r = a0.re - a2.re, t1i = a0.im - a2.im;
    v8 t2r = a1.re + a3.re, t2i = a1.im + a3.im;
    v8 t3r = a1.re - a3.re, t3i = a1.im - a3.im;
    b0 = {t0r + t2r, t0i + t2i};
    b2 = {t0r - t2r, t0i - t2i};
    b1 = {t1r + t3i, t1i - t3r};
    b3 = {t1r - t3i, t1i + t3r};
}

void r4cftk(int n, int s, const cv* x, cv* y, const Plan& pl) {
    stockham(4, n, s, x, y, pl, [](const cv* a, long ia, cv* b, long ib, const float* wr, const float* wi, bool tw) {
        cv b0, b1, b2, b3;
        dft4(a[0], a[ia], a[2 * ia], a[3 * ia], b0, b1, b2, b3);
        if (tw) {
            twiddle(b1, wr[1], wi[1]);
            twiddle(b2, wr[2], wi[2]);
            twiddle(b3, wr[3], wi[3]);
        }
        b[0] = b0;
        b[ib] = b1;
        b[2 * ib] = b2;
        b[3 * ib] = b3;
    });
}

// Radix-8 pass: two radix-4 halves joined by exp(-2 pi i k / 8).
void r8cftk(int n, int s, const cv* x, cv* y, const Plan& pl) {
    stockham(8, n, s, x, y, pl, [](const cv* a, long ia, cv* b, long ib, const float* wr, const float* wi, bool tw) {
        const float h = 0.70710678118654752f;
        cv e0, e1, e2, e3, o0, o1, o2, o3;
        dft4(a[0], a[2 * ia], a[4 * ia], a[6 * ia], e0, e1, e2, e3);
        dft4(a[ia], a[3 * ia], a[5 * ia], a[7 * ia], o0, o1, o2, o3);
        // o1 *= h(1 - i), o2 *= -i, o3 *= h(-1 - i)
        cv p1 = {(o1.re + o1.im) * bc(h), (o1.im - o1.re) * bc(h)};
        cv p2 = {o2.im, -o2.re};
        cv p3 = {(o3.im - o3.re) * bc(h), (-o3.re - o3.im) * bc(h)};
        cv r[8] = {{e0.re + o0.re, e0.im + o0.im}, {e1.re + p1.re, e1.im + p1.im}, {e2.re + p2.re, e2.im + p2.im},
                   {e3.re + p3.re, e3.im + p3.im}, {e0.re - o0.re, e0.im - o0.im}, {e1.re - p1.re, e1.im - p1.im},
                   {e2.re - p2.re, e2.im - p2.im}, {e3.re - p3.re, e3.im - p3.im}};
        b[0] = r[0];
        for (int k = 1; k < 8; k++) {
            if (tw) twiddle(r[k], wr[k], wi[k]);
            b[k * ib] = r[k];
        }
    });
}

// Odd-prime DFT through the conjugate symmetry of its P points.
template <int P>
struct PrimeTab {
    float c[P][P], s[P][P];
    PrimeTab() {
        for (int r = 0; r < P; r++)
            for (int k = 0; k < P; k++) {
                double a = 2.0 * M_PI * ((r * k) % P) / P;
                c[r][k] = (float)std::cos(a);
                s[r][k] = (float)std::sin(a);
            }
    }
};

template <int P>
void primePass(int n, int s, const cv* x, cv* y, const Plan& pl) {
    static const PrimeTab<P> T;
    stockham(P, n, s, x, y, pl, [](const cv* a, long ia, cv* b, long ib, const float* wr, const float* wi, bool tw) {
        constexpr int H = (P - 1) / 2;
        cv sp[H + 1], dm[H + 1];
        cv a0 = a[0];
        v8 s0r = a0.re, s0i = a0.im;
        for (int r = 1; r <= H; r++) {
            cv u = a[r * ia], w = a[(P - r) * ia];
            sp[r] = {u.re + w.re, u.im + w.im};
            dm[r] = {u.re - w.re, u.im - w.im};
            s0r += sp[r].re;
            s0i += sp[r].im;
        }
        b[0] = {s0r, s0i};
        for (int k = 1; k <= H; k++) {
            v8 sr = a0.re, si = a0.im, dr = bc(0), di = bc(0);
            for (int r = 1; r <= H; r++) {
                v8 c = bc(T.c[r][k]), sn = bc(T.s[r][k]);
                sr += c * sp[r].re;
                si += c * sp[r].im;
                dr += sn * dm[r].re;
                di += sn * dm[r].im;
            }
            cv bk = {sr + di, si - dr}, bm = {sr - di, si + dr};
            if (tw) {
                twiddle(bk, wr[k], wi[k]);
                twiddle(bm, wr[P - k], wi[P - k]);
            }
            b[k * ib] = bk;
            b[(P - k) * ib] = bm;
        }
    });
}

void r3cftk(int n, int s, const cv* x, cv* y, const Plan& pl) {
    primePass<3>(n, s, x, y, pl);
}
void r5cftk(int n, int s, const cv* x, cv* y, const Plan& pl) {
    primePass<5>(n, s, x, y, pl);
}
void rpcftk(int p, int n, int s, const cv* x, cv* y, const Plan& pl) {
    switch (p) {
        case 7:
            primePass<7>(n, s, x, y, pl);
            break;
        case 11:
            primePass<11>(n, s, x, y, pl);
            break;
        case 13:
            primePass<13>(n, s, x, y, pl);
            break;
        case 17:
            primePass<17>(n, s, x, y, pl);
            break;
        case 19:
            primePass<19>(n, s, x, y, pl);
            break;
    }
}

// One pass per radix; returns the buffer that holds the result.
cv* mdftkd(const Plan& pl, cv* a, cv* b) {
    int n = pl.n, s = 1;
    for (int p : pl.rad) {
        switch (p) {
            case 2:
                r2cftk(n, s, a, b, pl);
                break;
            case 3:
                r3cftk(n, s, a, b, pl);
                break;
            case 4:
                r4cftk(n, s, a, b, pl);
                break;
            case 5:
                r5cftk(n, s, a, b, pl);
                break;
            case 8:
                r8cftk(n, s, a, b, pl);
                break;
            default:
                rpcftk(p, n, s, a, b, pl);
                break;
        }
        n /= p;
        s *= p;
        std::swap(a, b);
    }
    return a;
}

// Where the lanes of one batch live: sequence b starts at st[b] (b < cnt),
// its points are d1 floats apart.
struct Batch {
    const long* st;
    int cnt;
    long d1;
    int rot = 0;  // scatter only: point j goes to (j + rot) mod n
};

// A full batch of neighbouring interleaved sequences (image columns).
bool adjacent(const Batch& B, const float* X, const float* Y) {
    if (B.cnt != L || Y != X + 1) return false;
    for (int b = 1; b < L; b++)
        if (B.st[b] - B.st[b - 1] != 2) return false;
    return true;
}

// Full batch of sequences whose points are adjacent complex values (rows).
bool rowwise(const Batch& B, const float* X, const float* Y) {
    return B.cnt == L && Y == X + 1 && B.d1 == 2 && B.rot == 0;
}

#ifdef __SSE2__
// Point j of the scratch as four 4-float quarters: re 0-3, re 4-7, im 0-3, im 4-7.
inline float* quarter(cv* d, long j, int q) {
    return reinterpret_cast<float*>(d + j) + 4 * q;
}
inline const float* quarter(const cv* d, long j, int q) {
    return reinterpret_cast<const float*>(d + j) + 4 * q;
}
#endif

// Copies n points of each lane in, times scale, imaginary parts times isg.
void gather(cv* d, int n, const float* X, const float* Y, const Batch& B, float scale, float isg) {
#ifdef __SSE2__
    const __m128 sr = _mm_set1_ps(scale), si = _mm_set1_ps(scale * isg);
    if (adjacent(B, X, Y)) {
        // Image columns: each point is one cache line of 8 interleaved pairs.
        const float* p = X + B.st[0];
        for (int j = 0; j < n; j++, p += B.d1) {
            for (int h = 0; h < 2; h++) {
                __m128 a0 = _mm_loadu_ps(p + 8 * h), a1 = _mm_loadu_ps(p + 8 * h + 4);
                _mm_store_ps(quarter(d, j, h), _mm_mul_ps(_mm_shuffle_ps(a0, a1, _MM_SHUFFLE(2, 0, 2, 0)), sr));
                _mm_store_ps(quarter(d, j, 2 + h), _mm_mul_ps(_mm_shuffle_ps(a0, a1, _MM_SHUFFLE(3, 1, 3, 1)), si));
            }
        }
        return;
    }
    if (rowwise(B, X, Y)) {
        // Image rows: two points of four rows at a time through a 4x4 transpose.
        int j = 0;
        for (; j + 2 <= n; j += 2)
            for (int h = 0; h < 2; h++) {
                __m128 r0 = _mm_loadu_ps(X + B.st[4 * h] + 2 * j), r1 = _mm_loadu_ps(X + B.st[4 * h + 1] + 2 * j),
                       r2 = _mm_loadu_ps(X + B.st[4 * h + 2] + 2 * j), r3 = _mm_loadu_ps(X + B.st[4 * h + 3] + 2 * j);
                _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
                _mm_store_ps(quarter(d, j, h), _mm_mul_ps(r0, sr));
                _mm_store_ps(quarter(d, j, 2 + h), _mm_mul_ps(r1, si));
                _mm_store_ps(quarter(d, j + 1, h), _mm_mul_ps(r2, sr));
                _mm_store_ps(quarter(d, j + 1, 2 + h), _mm_mul_ps(r3, si));
            }
        for (; j < n; j++)
            for (int b = 0; b < L; b++) {
                d[j].re[b] = X[B.st[b] + 2 * j] * scale;
                d[j].im[b] = X[B.st[b] + 2 * j + 1] * scale * isg;
            }
        return;
    }
#endif
    for (int j = 0; j < n; j++) {
        v8 r = bc(0), i = bc(0);
        long o = (long)j * B.d1;
        for (int b = 0; b < B.cnt; b++) {
            r[b] = X[B.st[b] + o];
            i[b] = Y[B.st[b] + o];
        }
        d[j].re = r * bc(scale);
        d[j].im = i * bc(scale * isg);
    }
}

void scatter(const cv* d, int n, float* X, float* Y, const Batch& B, float scale, float isg) {
#ifdef __SSE2__
    const __m128 sr = _mm_set1_ps(scale), si = _mm_set1_ps(scale * isg);
    if (adjacent(B, X, Y)) {
        for (int j = 0; j < n; j++) {
            long jj = j + B.rot;
            if (jj >= n) jj -= n;
            float* p = X + B.st[0] + jj * B.d1;
            for (int h = 0; h < 2; h++) {
                __m128 re = _mm_mul_ps(_mm_load_ps(quarter(d, j, h)), sr);
                __m128 im = _mm_mul_ps(_mm_load_ps(quarter(d, j, 2 + h)), si);
                _mm_storeu_ps(p + 8 * h, _mm_unpacklo_ps(re, im));
                _mm_storeu_ps(p + 8 * h + 4, _mm_unpackhi_ps(re, im));
            }
        }
        return;
    }
    if (rowwise(B, X, Y)) {
        int j = 0;
        for (; j + 2 <= n; j += 2)
            for (int h = 0; h < 2; h++) {
                __m128 r0 = _mm_mul_ps(_mm_load_ps(quarter(d, j, h)), sr);
                __m128 r1 = _mm_mul_ps(_mm_load_ps(quarter(d, j, 2 + h)), si);
                __m128 r2 = _mm_mul_ps(_mm_load_ps(quarter(d, j + 1, h)), sr);
                __m128 r3 = _mm_mul_ps(_mm_load_ps(quarter(d, j + 1, 2 + h)), si);
                _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
                _mm_storeu_ps(X + B.st[4 * h] + 2 * j, r0);
                _mm_storeu_ps(X + B.st[4 * h + 1] + 2 * j, r1);
                _mm_storeu_ps(X + B.st[4 * h + 2] + 2 * j, r2);
                _mm_storeu_ps(X + B.st[4 * h + 3] + 2 * j, r3);
            }
        for (; j < n; j++)
            for (int b = 0; b < L; b++) {
                X[B.st[b] + 2 * j] = d[j].re[b] * scale;
                X[B.st[b] + 2 * j + 1] = d[j].im[b] * scale * isg;
            }
        return;
    }
#endif
    const bool adj = adjacent(B, X, Y);
    for (int j = 0; j < n; j++) {
        const v8 r = d[j].re * bc(scale), i = d[j].im * bc(scale * isg);
        long jj = j + B.rot;
        if (jj >= n) jj -= n;
        const long o = jj * B.d1;
        if (adj) {
            float* p = X + B.st[0] + o;
            for (int b = 0; b < L; b++) {
                p[2 * b] = r[b];
                p[2 * b + 1] = i[b];
            }
        } else {
            for (int b = 0; b < B.cnt; b++) {
                X[B.st[b] + o] = r[b];
                Y[B.st[b] + o] = i[b];
            }
        }
    }
}

// Z(0..n-1) of n complex points of 2n reals -> F(0..n) (n+1 slots of z).
void realPost(cv* z, int n, const Plan& pl) {
    v8 r0 = z[0].re, i0 = z[0].im;
    for (int k = 1; 2 * k <= n; k++) {
        int mk = n - k;
        cv A = z[k], Bv = z[mk];
        // E = (Z(k) + conj Z(n-k))/2, O = (Z(k) - conj Z(n-k))/(2i)
        auto one = [](const cv& zk, const cv& zm, float c, float s) {
            v8 er = (zk.re + zm.re) * bc(0.5f), ei = (zk.im - zm.im) * bc(0.5f);
            v8 orr = (zk.im + zm.im) * bc(0.5f), oi = (zm.re - zk.re) * bc(0.5f);
            return cv{er + bc(c) * orr + bc(s) * oi, ei + bc(c) * oi - bc(s) * orr};
        };
        cv Fk = one(A, Bv, pl.hc[k], pl.hs[k]);
        cv Fm = one(Bv, A, pl.hc[mk], pl.hs[mk]);
        z[k] = Fk;
        z[mk] = Fm;
    }
    z[n] = {r0 - i0, bc(0)};
    z[0] = {r0 + i0, bc(0)};
}

// Half spectrum F(0..n-1) (F(n) real part in the imaginary slot of F(0)) ->
// the n complex points whose forward transform gives the 2n reals.
void hermPre(cv* f, int n, const Plan& pl) {
    v8 f0 = f[0].re, fn = f[0].im;
    for (int k = 1; 2 * k <= n; k++) {
        int mk = n - k;
        cv A = f[k], Bv = f[mk];
        // Z(k) = (F(k) + conj F(n-k)) + (s + ic)(F(k) - conj F(n-k))
        auto one = [](const cv& fk, const cv& fm, float c, float s) {
            v8 ar = fk.re + fm.re, ai = fk.im - fm.im;
            v8 dr = fk.re - fm.re, di = fk.im + fm.im;
            return cv{ar + bc(s) * dr - bc(c) * di, ai + bc(s) * di + bc(c) * dr};
        };
        cv Zk = one(A, Bv, pl.hc[k], pl.hs[k]);
        cv Zm = one(Bv, A, pl.hc[mk], pl.hs[mk]);
        f[k] = Zk;
        f[mk] = Zm;
    }
    f[0] = {f0 + fn, f0 - fn};
}

enum Kind { CPLX, REAL, HERM };

// Where one side (in or out) of a run lives.
struct Side {
    float* X;
    float* Y;
    const long* st;
    long d1;
    int rot;
};

// Runs one kind of transform of length n over count sequences, read from
// `in` and written to `out` (the same place for every public routine).
// hook, when given, sees each finished batch (after scaling) before it is
// written: npoints points of 8 real parts then 8 imaginary parts.
// Returns false when the scratch cannot be had (nothing is touched then).
bool runSides(Kind kind, int n, size_t count, const Side& in, const Side& out, float gscale, float gisg, float sscale,
              float sisg, void (*hook)(float*, long) = nullptr) {
    const Plan* pl = getPlan(n);
    if (!pl || !ensureScratch((size_t)n + 1)) return false;
    const int nout = kind == REAL ? n + 1 : n;
    for (size_t i = 0; i < count; i += L) {
        const int cnt = (int)std::min<size_t>(L, count - i);
        Batch bi{in.st + i, cnt, in.d1, 0}, bo{out.st + i, cnt, out.d1, out.rot};
        cv* a = g_s.a.data();
        cv* b = g_s.b.data();
        gather(a, n, in.X, in.Y, bi, gscale, gisg);
        if (kind == HERM) hermPre(a, n, *pl);
        cv* r = pl->ok && n >= 2 ? mdftkd(*pl, a, b) : a;
        if (kind == REAL) realPost(r, n, *pl);
        if (hook) {
            for (int j = 0; j < nout; j++) {
                r[j].re *= bc(sscale);
                r[j].im *= bc(sscale * sisg);
            }
            hook(reinterpret_cast<float*>(r), nout);
            scatter(r, nout, out.X, out.Y, bo, 1, 1);
        } else {
            scatter(r, nout, out.X, out.Y, bo, sscale, sisg);
        }
    }
    return true;
}

bool runAll(Kind kind, float* X, float* Y, int n, long d1, const std::vector<long>& starts, float gscale, float gisg,
            float sscale, float sisg) {
    Side s{X, Y, starts.data(), d1, 0};
    return runSides(kind, n, starts.size(), s, s, gscale, gisg, sscale, sisg);
}

bool dimStarts(const int* dim, std::vector<long>& st) {
    if (dim[0] <= 0 || dim[1] <= 0 || dim[2] <= 0 || dim[4] <= 0) return false;
    st.clear();
    try {
        for (long g = 0; g < dim[0]; g += dim[2])
            for (long t = 0; t < dim[3]; t += dim[4]) st.push_back(g + t);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

// Scratch list of starts shared by the drivers.
std::vector<long>& startList() {
    return g_s.starts;
}

void scaleAll(float* a, long n, float f) {
    for (long i = 0; i < n; i++) a[i] *= f;
}

}  // namespace

void srfp(int* pts, int* pmax, int* twogrp, int* factor, int* sym, int* psym, int* unsym, int* error) {
    int n = *pts, div = 2, slots = 0, np = 0, nu = 0;
    int pairs[16], unp[16];
    *error = 0;
    *psym = 1;
    factor[0] = sym[0] = unsym[0] = 0;
    while (n > 1) {
        while (n % div != 0) {
            div++;
            if (div > *pmax) {
                *error = 1;
                return;
            }
        }
        if (slots >= 14) {
            *error = 1;
            return;
        }
        if ((n / div) % div == 0) {
            pairs[np++] = div;
            n /= div * div;
            *psym *= div;
            slots += 2;
        } else {
            unp[nu++] = div;
            n /= div;
            slots += 1;
        }
    }
    int k = 0, ks = 0, prodU = 1;
    for (int i = np - 1; i >= 0; i--) factor[k++] = sym[ks++] = pairs[i];
    for (int i = 0; i < nu; i++) {
        factor[k++] = unsym[i] = unp[i];
        prodU *= unp[i];
    }
    unsym[nu] = 0;
    if (nu) sym[ks++] = prodU;
    for (int i = 0; i < np; i++) factor[k++] = sym[ks++] = pairs[i];
    factor[k] = 0;
    sym[ks] = 0;
    // Merge runs of 2s from the left into groups of at most *twogrp.
    int maxg = *twogrp < 2 ? 2 : *twogrp;
    for (int i = 0; i < k;) {
        if (factor[i] != 2) {
            i++;
            continue;
        }
        int j = i;
        while (j < k && factor[j] == 2) j++;
        while (i < j) {
            int g = 1, e = i;
            while (e < j && g * 2 <= maxg) {
                g *= 2;
                factor[e++] = 1;
            }
            factor[e - 1] = g;
            i = e;
        }
    }
}

int isvalidfft(int n) {
    if (n == 0 || n == 2) return 1;
    if (n < 0 || n % 2) return 0;
    int m = n / 2;
    static const int primes[8] = {2, 3, 5, 7, 11, 13, 17, 19};
    while (m > 1) {
        int i = 0;
        while (i < 8 && m % primes[i]) i++;
        if (i == 8) return 0;
        m /= primes[i];
    }
    return 1;
}

int npfa(int n) {
    if (n < 0) n = 0;
    while (!isvalidfft(n) && n < 2147483646) n++;
    return n;
}

int cmplft(float* x, float* y, int* n, int* dim) {
    if (*n < 2) return 0;
    int fac[20], sym[20], unsym[20], psym, err, pmax = 19, grp = 8;
    srfp(n, &pmax, &grp, fac, sym, &psym, unsym, &err);
    if (err) return 1;
    std::vector<long>& st = startList();
    if (!dimStarts(dim, st)) return 1;
    return runAll(CPLX, x, y, *n, dim[1], st, 1, 1, 1, 1) ? 0 : 1;
}

void realft(float* x, float* y, int* n, int* dim) {
    if (*n < 1) return;
    std::vector<long>& st = startList();
    if (!dimStarts(dim, st)) return;
    runAll(REAL, x, y, *n, dim[1], st, 1, 1, 1, 1);
}

void hermft(float* x, float* y, int* n, int* dim) {
    if (*n < 1) return;
    std::vector<long>& st = startList();
    if (!dimStarts(dim, st)) return;
    runAll(HERM, x, y, *n, dim[1], st, 1, 1, 1, 1);
}

int todfft(float* a, int* nxp, int* nyp, int* idirp) {
    const int nx = *nxp, ny = *nyp, idir = *idirp;
    if (nx % 2) return 1;
    if (nx <= 0 || ny <= 0) return 0;
    const float sc = (float)(1.0 / std::sqrt((double)nx * ny));
    std::vector<long>& st = startList();
    if (idir == 0 || idir == 1 || idir == -1) {
        const long rowf = nx + 2;
        const int half = nx / 2;
        auto rows = [&]() {
            st.resize(ny);
            for (int r = 0; r < ny; r++) st[r] = r * rowf;
        };
        auto cols = [&]() {
            st.resize(half + 1);
            for (int c = 0; c <= half; c++) st[c] = 2L * c;
        };
        if (idir == 0) {
            rows();
            if (!runAll(REAL, a, a + 1, half, 2, st, 1, 1, 1, 1)) return 0;
            cols();
            runAll(CPLX, a, a + 1, ny, rowf, st, 1, 1, sc, -1);
        } else {
            cols();
            if (!runAll(CPLX, a, a + 1, ny, rowf, st, sc, idir == -1 ? -1 : 1, 1, 1)) return 0;
            // The spare pair was scaled with the rest; the Nyquist real part
            // goes into the imaginary slot of pair 0 for the row pass.
            for (int r = 0; r < ny; r++) {
                float* row = a + r * rowf;
                row[1] = row[nx];
            }
            rows();
            runAll(HERM, a, a + 1, half, 2, st, 1, 1, 1, 1);
        }
        return 0;
    }
    if (idir == -2 || idir == -3) {
        const long rowf = 2L * nx;
        if (idir == -2) {
            // Index reversal in place: (x, y) <-> (-x mod nx, -y mod ny).
            for (long y = 0; y < ny; y++) {
                long y2 = (ny - y) % ny;
                for (long x = 0; x < nx; x++) {
                    long x2 = (nx - x) % nx;
                    long i = y * nx + x, j = y2 * nx + x2;
                    if (i < j) {
                        std::swap(a[2 * i], a[2 * j]);
                        std::swap(a[2 * i + 1], a[2 * j + 1]);
                    }
                }
            }
        }
        st.resize(ny);
        for (int r = 0; r < ny; r++) st[r] = r * rowf;
        int fac[20], sym[20], unsym[20], psym, err, pmax = 19, grp = 8, n = nx;
        srfp(&n, &pmax, &grp, fac, sym, &psym, unsym, &err);
        if (!err) runAll(CPLX, a, a + 1, nx, 2, st, 1, 1, 1, 1);
        st.resize(nx);
        for (int c = 0; c < nx; c++) st[c] = 2L * c;
        n = ny;
        srfp(&n, &pmax, &grp, fac, sym, &psym, unsym, &err);
        if (!err || ny < 2)
            runAll(CPLX, a, a + 1, ny, rowf, st, 1, 1, sc, 1);
        else
            scaleAll(a, rowf * ny, sc);
        return 0;
    }
    return 0;
}

int todfft_centred(const float* src, float* a, int nx, int ny, void (*hook)(float*, long)) {
    if (nx % 2) return 1;
    if (nx <= 0 || ny <= 0) return 0;
    const float sc = (float)(1.0 / std::sqrt((double)nx * ny));
    const long rowf = nx + 2;
    const int half = nx / 2;
    std::vector<long> in(ny);
    std::vector<long>& st = startList();
    st.resize(ny);
    for (int r = 0; r < ny; r++) {
        in[r] = (long)r * nx;
        st[r] = r * rowf;
    }
    float* s = const_cast<float*>(src);  // only read
    if (!runSides(REAL, half, ny, Side{s, s + 1, in.data(), 2, 0}, Side{a, a + 1, st.data(), 2, 0}, 1, 1, 1, 1))
        return 0;
    st.resize(half + 1);
    for (int c = 0; c <= half; c++) st[c] = 2L * c;
    Side cs{a, a + 1, st.data(), rowf, 0}, co{a, a + 1, st.data(), rowf, ny / 2};
    runSides(CPLX, ny, half + 1, cs, co, 1, 1, sc, -1, hook);
    return 0;
}

int odfft(float* a, int* nxp, int* nyp, int* idirp) {
    const int nx = *nxp, ny = *nyp, idir = *idirp;
    if (idir >= 0 && nx % 2) return 1;
    if (nx <= 0 || ny <= 0) return 0;
    const float sc = (float)(1.0 / std::sqrt((double)nx));
    std::vector<long>& st = startList();
    if (idir == 0 || idir == 1) {
        const long rowf = nx + 2;
        st.resize(ny);
        for (int r = 0; r < ny; r++) st[r] = r * rowf;
        if (idir == 0) {
            runAll(REAL, a, a + 1, nx / 2, 2, st, 1, 1, sc, 1);
        } else {
            for (int r = 0; r < ny; r++) {
                float* row = a + r * rowf;
                row[1] = row[nx];
            }
            runAll(HERM, a, a + 1, nx / 2, 2, st, sc, 1, 1, 1);
        }
        return 0;
    }
    // Negative codes and codes of 2 and more: complex rows; only -1 conjugates.
    const long rowf = 2L * nx;
    st.resize(ny);
    for (int r = 0; r < ny; r++) st[r] = r * rowf;
    int fac[20], sym[20], unsym[20], psym, err, pmax = 19, grp = 8, n = nx;
    srfp(&n, &pmax, &grp, fac, sym, &psym, unsym, &err);
    const float isg = idir == -1 ? -1 : 1;
    if (!err || nx < 2)
        runAll(CPLX, a, a + 1, nx, 2, st, 1, 1, sc, isg);
    else
        for (long i = 0; i < rowf * ny; i += 2) {
            a[i] *= sc;
            a[i + 1] *= sc * isg;
        }
    return 0;
}
