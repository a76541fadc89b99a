#include "wav/filter.h"

#include <cmath>

void Filter::init(int n, int first, const float* coeffs) {
    size = n;
    firstIndex = first;
    origin = -first;
    coeff.assign(n > 0 ? n : 0, 0.0f);
    if (coeffs)
        for (int i = 0; i < n; i++) coeff[i] = coeffs[i];
}

namespace {

// H = L reversed with alternating signs; s_0 = +1 when L's first index is odd.
void mirror(const Filter& low, Filter* high) {
    int n = low.size, f = low.firstIndex;
    high->init(n, 2 - f - n, nullptr);
    float sign = (f % 2 != 0) ? 1.0f : -1.0f;
    for (int i = 0; i < n; i++) {
        high->coeff[n - 1 - i] = sign * low.coeff[i];  // tap 1 - i - f
        sign = -sign;
    }
}

}  // namespace

FilterSet::FilterSet(int sym, const float* anLow, int anLowSize, int anLowFirst, const float* synLow, int synLowSize,
                     int synLowFirst)
    : symmetric(sym), analysisLow(anLowSize, anLowFirst, anLow) {
    if (synLow) {
        synthesisLow.init(synLowSize, synLowFirst, synLow);
        mirror(synthesisLow, &analysisHigh);
        mirror(analysisLow, &synthesisHigh);
    } else {
        synthesisLow.copy(analysisLow);
        mirror(analysisLow, &analysisHigh);
        synthesisHigh.copy(analysisHigh);
    }
}

// ---- coefficient tables: every low-pass sums to sqrt(2); the symmetric ones are palindromes.

static const float HaarCoeffs[] = {1.0f / std::sqrt(2.0f), 1.0f / std::sqrt(2.0f)};

// Daubechies, 2, 3 and 4 vanishing moments.
static const float Daub4Coeffs[] = {0.4829629131445341f, 0.8365163037378077f, 0.2241438680420134f,
                                    -0.1294095225512603f};
static const float Daub6Coeffs[] = {0.3326705529500825f,  0.8068915093110924f,  0.4598775021184914f,
                                    -0.1350110200102546f, -0.0854412738820267f, 0.0352262918857095f};
static const float Daub8Coeffs[] = {0.2303778133088964f,  0.7148465705529154f,  0.6308807679298587f,
                                    -0.0279837694168599f, -0.1870348117190931f, 0.0308413818355607f,
                                    0.0328830116668852f,  -0.0105974017850690f};

// Antonini, Barlaud, Mathieu, Daubechies 9/7 (also Brislawn's and Villasenor's first bank).
#define NINE_SEVEN_ANALYSIS                                                                                        \
    {                                                                                                              \
        0.0378284555072640f, -0.0238494650195568f, -0.1106244044184372f, 0.3774028556128307f, 0.8526986790088938f, \
            0.3774028556128307f, -0.1106244044184372f, -0.0238494650195568f, 0.0378284555072640f                   \
    }
#define NINE_SEVEN_SYNTHESIS                                                                                       \
    {                                                                                                              \
        -0.0645388826289384f, -0.0406894176095585f, 0.4180922732222124f, 0.7884856164056644f, 0.4180922732222124f, \
            -0.0406894176095585f, -0.0645388826289384f                                                             \
    }
static const float AntoniniAnalysis[] = NINE_SEVEN_ANALYSIS;
static const float AntoniniSynthesis[] = NINE_SEVEN_SYNTHESIS;
static const float BrislawnAnalysis[] = NINE_SEVEN_ANALYSIS;
static const float BrislawnSynthesis[] = NINE_SEVEN_SYNTHESIS;
static const float Villa1Analysis[] = NINE_SEVEN_ANALYSIS;
static const float Villa1Synthesis[] = NINE_SEVEN_SYNTHESIS;

// Adelson, Simoncelli, Hingorani 9-tap QMF: nearly, not exactly, perfect reconstruction.
static const float AdelsonCoeffs[] = {0.028220367f, -0.060394127f, -0.07388188f,  0.41394752f, 0.7984298f,
                                      0.41394752f,  -0.07388188f,  -0.060394127f, 0.028220367f};

// Brislawn 10/10.
static const float Brislawn2Analysis[] = {0.026913419f, -0.032303352f, -0.241109818f, 0.054100420f,  0.899506092f,
                                          0.899506092f, 0.054100420f,  -0.241109818f, -0.032303352f, 0.026913419f};
static const float Brislawn2Synthesis[] = {0.019843545f, 0.023817997f, -0.023257959f, 0.145570085f, 0.541132752f,
                                           0.541132752f, 0.145570085f, -0.023257959f, 0.023817997f, 0.019843545f};

// Villasenor, Belzer, Liao: 13/11, 6/10, 5/3, 2/6, 9/3 and 10/18.
static const float Villa2Analysis[] = {
    -0.0084728277413175f, 0.0037592103166875f, 0.0472817528288266f, -0.0334750810477966f, -0.0688781141905986f,
    0.3832692613243828f,  0.7672451593927269f, 0.3832692613243828f, -0.0688781141905986f, -0.0334750810477966f,
    0.0472817528288266f,  0.0037592103166875f, -0.0084728277413175f};
static const float Villa2Synthesis[] = {0.0141821558912636f,  0.0062923156668612f,  -0.1087373652243749f,
                                        -0.0691627101202949f, 0.4481085999263852f,  0.8328475700934148f,
                                        0.4481085999263852f,  -0.0691627101202949f, -0.1087373652243749f,
                                        0.0062923156668612f,  0.0141821558912636f};
static const float Villa3Analysis[] = {-0.1290777652578769f, 0.0476989300387600f, 0.7884856164056644f,
                                       0.7884856164056644f,  0.0476989300387600f, -0.1290777652578769f};
static const float Villa3Synthesis[] = {
    0.0189142277534977f, 0.0069894952438077f, -0.0672369347189017f, 0.1333892255971152f, 0.6150507673110285f,
    0.6150507673110285f, 0.1333892255971152f, -0.0672369347189017f, 0.0069894952438077f, 0.0189142277534977f};
static const float Villa4Analysis[] = {-0.1767767f, 0.3535534f, 1.06066f, 0.3535534f, -0.1767767f};
static const float Villa4Synthesis[] = {0.3535534f, 0.7071068f, 0.3535534f};
static const float Villa5Analysis[] = {0.7071068f, 0.7071068f};
static const float Villa5Synthesis[] = {-0.08838835f, 0.08838835f, 0.7071068f, 0.7071068f, 0.08838835f, -0.08838835f};
static const float Villa6Analysis[] = {0.03314563f, -0.06629126f, -0.1767767f,  0.4198447f, 0.9943689f,
                                       0.4198447f,  -0.1767767f,  -0.06629126f, 0.03314563f};
static const float Villa6Synthesis[] = {0.3535534f, 0.7071068f, 0.3535534f};
static const float Villa1810Analysis[] = {
    0.0288525650112445f, 0.0000824447823037f, -0.1575264469076412f, 0.0767904888468774f, 0.7589077294537632f,
    0.7589077294537632f, 0.0767904888468774f, -0.1575264469076412f, 0.0000824447823037f, 0.0288525650112445f};
static const float Villa1810Synthesis[] = {
    0.0009544158682425f,  -0.0000027271962979f, -0.0094524629983440f, -0.0025280372939402f, 0.0308337343853322f,
    -0.0137651348381369f, -0.0856611883314864f, 0.1633685405570387f,  0.6233596410341397f,  0.6233596410341397f,
    0.1633685405570387f,  -0.0856611883314864f, -0.0137651348381369f, 0.0308337343853322f,  -0.0025280372939402f,
    -0.0094524629983440f, -0.0000027271962979f, 0.0009544158682425f};

// Odegard, Burrus 9/7.
static const float OdegardAnalysis[] = {0.0528657685329605f,  -0.0334184732793468f, -0.0930692637035827f,
                                        0.3869718638726204f,  0.7875137715277921f,  0.3869718638726204f,
                                        -0.0930692637035827f, -0.0334184732793468f, 0.0528657685329605f};
static const float OdegardSynthesis[] = {-0.0867483161317116f, -0.0548369269027794f, 0.4403017067249854f,
                                         0.8167806349921064f,  0.4403017067249854f,  -0.0548369269027794f,
                                         -0.0867483161317116f};

const FilterSet Haar(0, HaarCoeffs, 2, 0);
const FilterSet Daub4(0, Daub4Coeffs, 4, 0);
const FilterSet Daub6(0, Daub6Coeffs, 6, 0);
const FilterSet Daub8(0, Daub8Coeffs, 8, 0);
const FilterSet Antonini(1, AntoniniAnalysis, 9, -4, AntoniniSynthesis, 7, -3);
const FilterSet Adelson(1, AdelsonCoeffs, 9, -4);
const FilterSet Brislawn(1, BrislawnAnalysis, 9, -4, BrislawnSynthesis, 7, -3);
const FilterSet Brislawn2(1, Brislawn2Analysis, 10, -4, Brislawn2Synthesis, 10, -4);
const FilterSet Villa1(1, Villa1Analysis, 9, -4, Villa1Synthesis, 7, -3);
const FilterSet Villa2(1, Villa2Analysis, 13, -6, Villa2Synthesis, 11, -5);
const FilterSet Villa3(1, Villa3Analysis, 6, -2, Villa3Synthesis, 10, -4);
const FilterSet Villa4(1, Villa4Analysis, 5, -2, Villa4Synthesis, 3, -1);
const FilterSet Villa5(1, Villa5Analysis, 2, 0, Villa5Synthesis, 6, -2);
const FilterSet Villa6(1, Villa6Analysis, 9, -4, Villa6Synthesis, 3, -1);
const FilterSet Odegard(1, OdegardAnalysis, 9, -4, OdegardSynthesis, 7, -3);
const FilterSet Villa1810(1, Villa1810Analysis, 10, -4, Villa1810Synthesis, 18, -8);

static const FilterSet* const kBanks[15] = {&Haar,    &Daub4,    &Daub6,     &Daub8,  &Antonini,
                                            &Adelson, &Brislawn, &Brislawn2, &Villa1, &Villa2,
                                            &Villa3,  &Villa4,   &Villa5,    &Villa6, &Odegard};
static const char* const kNames[15] = {"Haar",    "Daub4",    "Daub6",     "Daub8",  "Antonini",
                                       "Adelson", "Brislawn", "Brislawn2", "Villa1", "Villa2",
                                       "Villa3",  "Villa4",   "Villa5",    "Villa6", "Odegard"};

const FilterSet* wavelet_bank(int basis) {
    return basis >= 0 && basis < 15 ? kBanks[basis] : &Daub4;
}
const char* wavelet_bank_name(int basis) {
    return basis >= 0 && basis < 15 ? kNames[basis] : "Daub4";
}
