// The CTF parameter record of a complex data set: nine floats.
#pragma once

struct LC_pstate {
    float defocus;      // micrometres, negative = underfocus
    float envelope;     // Angstrom
    float ctfScale;     // negative selects the signed CTF mode
    float ampContrast;  // fraction 0..1
    float gaussAmp;
    float gaussWidth;   // Angstrom
    float expScale;
    float expDecay;     // 1/Angstrom
    float markFreq;     // 1/Angstrom
};
static_assert(sizeof(LC_pstate) == 9 * sizeof(float), "LC_pstate is nine floats");
