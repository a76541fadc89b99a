// Mixed-radix discrete Fourier transforms in single precision, in place, for
// lengths whose prime factors are at most 19. Arguments are passed by address.
//
// Data: real parts in X, imaginary parts in Y, one addressing scheme for both
// (callers pass interleaved complex: Y = X + 1). DIM[5] selects the points:
// for every outer offset g = 0, DIM[2], ... < DIM[0] and inner offset
// t = 0, DIM[4], ... < DIM[3], one sequence of N points at g + t + j*DIM[1].
#pragma once

// Complex transform X(k) = SUM x(j) exp(-2 pi i j k / N), unnormalised, of every
// sequence selected by dim. N < 2: nothing, 0. Length refused by srfp (prime
// above 19, more than 14 factor slots) or a non-positive stride: nothing, 1.
int cmplft(float* x, float* y, int* n, int* dim);
// Transform of 2N reals given as N complex points (x = even, y = odd reals):
// F(k) = SUM a(j) exp(-2 pi i j k / 2N), k = 0..N, written to N+1 slots.
void realft(float* x, float* y, int* n, int* dim);
// Inverse of realft up to the factor 2N: N+1 half-spectrum values (Nyquist real
// part in the imaginary slot of value 0) to 2N reals (x = even, y = odd).
void hermft(float* x, float* y, int* n, int* dim);

// Two-dimensional transform of an NX by NY image in rows of NX+2 floats.
// idir 0: real -> half spectrum with exp(+2 pi i ...), 1: back, -1: back
// conjugating, -2 / -3: full complex (rows of 2*NX floats) with positive /
// negative exponent. Every direction scales by 1/sqrt(NX*NY).
// Result 1 (nothing done) for odd NX, else 0.
int todfft(float* a, int* nx, int* ny, int* idir);
// Direction 0 of todfft reading the NX by NY image from src (rows of NX
// floats, left unchanged) and writing a (rows of NX+2) with its rows centred:
// row r holds k = r - NY/2. hook, when given, is applied to the finished
// values in blocks of points of 8 real then 8 imaginary parts (n points).
// Result as todfft.
int todfft_centred(const float* src, float* a, int nx, int ny, void (*hook)(float* blocks, long n));
// NY one-dimensional transforms of NX points, one per row. idir 0: real rows
// (NX+2 floats) forward with exp(-...), 1: back; -1: complex rows (2*NX
// floats) forward, conjugated; other: complex rows forward. Scale 1/sqrt(NX).
// Result 1 for odd NX with idir >= 0, else 0.
int odfft(float* a, int* nx, int* ny, int* idir);

// Factorisation of *pts into the radix list (ended by 0, runs of 2s merged
// into groups of at most *twogrp), the palindromic symmetric list, the product
// of the paired factors and the unpaired factors (each list ended by 0; arrays
// of at least 20 ints). *error is set to 1 when a prime above *pmax is needed
// or more than 14 slots would be used.
void srfp(int* pts, int* pmax, int* twogrp, int* factor, int* sym, int* psym, int* unsym, int* error);

// 1 when n is an acceptable image size: 0, or even with n/2 a product of
// primes up to 19.
int isvalidfft(int n);
// Smallest m >= n with isvalidfft(m).
int npfa(int n);
