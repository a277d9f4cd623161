// The Mandelbrot iteration z = sqr(z) + pixel, bailout |z| < 4, written as a C++ loop that calls
// the arbitrary-precision numbers' own operations directly: the reference the benchmarks hold the
// generated arbitrary-precision routines against.
#pragma once

#include <cstdint>

#include "HugeMath.h"

// The operations in the order the generated routines use them: sqr(z) as (x^2 - y^2, 2xy), then
// + pixel; the bailout squares both parts again. Like the pixel routine, the pass whose bailout
// fails is not counted.
class THugeDirectLoop {
public:
    THugeDirectLoop(int Digits, std::int32_t AMaxIter)
        : MaxIter(AMaxIter), FX(Digits), FY(Digits), FProduct(Digits), FSquare(Digits), FModulus(Digits),
          FLimit(Digits, 4) {}

    std::int32_t Run(const THugeFloat &Re, const THugeFloat &Im) {
        FX.SetInteger(0);
        FY.SetInteger(0);
        std::int32_t counter = MaxIter;
        for (;;) {
            FProduct.Assign(FX);
            FProduct.Multiply(FY);
            FProduct.MultiplyByTwo(); // 2xy
            FY.Square();
            FX.Square();
            FX.Subtract(FY); // x^2 - y^2
            FX.Add(Re);
            FY.Assign(FProduct);
            FY.Add(Im);
            FModulus.Assign(FX);
            FModulus.Square();
            FSquare.Assign(FY);
            FSquare.Square();
            FModulus.Add(FSquare);
            if (!(FModulus.Compare(FLimit) < 0))
                break;
            if (--counter == 0)
                break;
        }
        return MaxIter - counter;
    }

    const std::int32_t MaxIter;

private:
    THugeFloat FX, FY, FProduct, FSquare, FModulus, FLimit;
};
