// Plain complex arithmetic for the direct implementations of Fractint types that the importer
// tests compare the shipped formulas with. Products are written out, as the formulas compute them,
// so that both give the same doubles.
#pragma once

#include <cmath>
#include <complex>

using TComplex = std::complex<double>;

// The bailout tests by number: 0 mod, 1 real, 2 imag, 3 or, 4 and, 5 manh, 6 manr; true while the
// orbit may go on.
inline bool Stays(TComplex Z, int Test, double Bailout) {
    const double x = Z.real(), y = Z.imag();
    switch (Test) {
    case 1:
        return x * x < Bailout;
    case 2:
        return y * y < Bailout;
    case 3:
        return x * x < Bailout && y * y < Bailout;
    case 4:
        return x * x < Bailout || y * y < Bailout;
    case 5:
        return (std::fabs(x) + std::fabs(y)) * (std::fabs(x) + std::fabs(y)) < Bailout;
    case 6:
        return (x + y) * (x + y) < Bailout;
    default:
        return x * x + y * y < Bailout;
    }
}

inline TComplex Mul(TComplex A, TComplex B) {
    return {A.real() * B.real() - A.imag() * B.imag(), A.real() * B.imag() + A.imag() * B.real()};
}

inline TComplex Sqr(TComplex A) {
    return {A.real() * A.real() - A.imag() * A.imag(), 2 * A.real() * A.imag()};
}
