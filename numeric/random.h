// Uniform and Gaussian random numbers from the C library generator,
// seeded from the clock on first use.
#pragma once

// lo + (hi - lo) * random() / 2147483647.
float frand(float lo, float hi);
// Normal deviate by the polar method.
float grand(float mean, float sigma);
// Seeds on first use; the "Gauss x Slip" test image shares the flag.
void seedRandomOnce();
