// The deep Mandelbrot orbit that the arbitrary-precision tests follow: a 60-digit mpmath run
// (tools/comp_huge_orbit_reference.py) kept in tests/compiler/data/CompHugeOrbit_reference.txt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HugeMath.h"

struct TReferenceIterate {
    std::int32_t Iteration;
    std::string Re, Im;
};

struct TReferenceOrbit {
    std::string CRe, CIm;
    std::vector<TReferenceIterate> Iterates;
};

// The point and its iterates; empty when the file cannot be read.
TReferenceOrbit ReadReferenceOrbit();

// |Value - Reference| as an 80-bit number, the difference formed in Value's precision.
long double Distance(const THugeFloatBase &Value, const std::string &Reference);
