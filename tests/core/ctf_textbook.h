// The CTF as a textbook writes it, for tests that check this program's CTF
// against a formula of their own.
#pragma once

#include <cmath>

// Relativistic wavelength, chi(s) with the defocus along the frequency's
// direction; u, v in micrometres (negative = underfocus), the angle of u in
// degrees from +x toward +y; positive at s = 0.
inline double textbookCtf(double kv, double csMM, double ac, double u, double v, double angDeg, double sx, double sy) {
    const double V = kv * 1e3, lambda = 12.2643247 / std::sqrt(V * (1 + 0.978466e-6 * V));
    const double s2 = sx * sx + sy * sy, th = std::atan2(sy, sx), a = angDeg * M_PI / 180;
    const double dz = -1e4 * (0.5 * (u + v) + 0.5 * (u - v) * std::cos(2 * (th - a)));  // underfocus, Angstrom
    const double chi = M_PI * lambda * dz * s2 - M_PI / 2 * csMM * 1e7 * lambda * lambda * lambda * s2 * s2;
    return std::sqrt(1 - ac * ac) * std::sin(chi) + ac * std::cos(chi);
}
