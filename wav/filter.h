// FIR filters and the two-channel filter banks of the wavelet transform.
#pragma once

#include <vector>

// One FIR filter: taps cover firstIndex .. firstIndex + size - 1 around the output sample.
class Filter {
public:
    int size = 0;
    int firstIndex = 0;
    int origin = 0;  // -firstIndex
    std::vector<float> coeff;

    Filter() = default;
    Filter(int size, int firstIndex, const float* coeffs) { init(size, firstIndex, coeffs); }
    // Copies the taps, or zeroes them when coeffs is null.
    void init(int size, int firstIndex, const float* coeffs);
    void copy(const Filter& f) { init(f.size, f.firstIndex, f.coeff.data()); }
};

// A filter bank. Orthogonal banks (symmetric = 0) are used with periodic
// extension, biorthogonal symmetric ones with symmetric extension.
class FilterSet {
public:
    int symmetric;
    Filter analysisLow, analysisHigh, synthesisLow, synthesisHigh;

    // Without a synthesis low-pass the bank is orthogonal: synthesis = analysis,
    // both high-pass filters are the mirror of the analysis low-pass.
    FilterSet(int symmetric, const float* anLow, int anLowSize, int anLowFirst, const float* synLow = nullptr,
              int synLowSize = 0, int synLowFirst = 0);
    FilterSet(const FilterSet&) = delete;
    FilterSet& operator=(const FilterSet&) = delete;
};

// The banks, built at start-up and never changed after (threads share them).
extern const FilterSet Haar, Daub4, Daub6, Daub8, Antonini, Adelson, Brislawn, Brislawn2, Villa1, Villa2, Villa3,
    Villa4, Villa5, Villa6, Odegard, Villa1810;

// Bank of a "DWTbasis" number 0..14; any other number gives Daub4.
const FilterSet* wavelet_bank(int basis);
// Name of a basis as in the mouse panel's choice ("Haar" .. "Odegard"); Daub4 for others.
const char* wavelet_bank_name(int basis);
