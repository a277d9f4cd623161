// The two fractal formulas built into the program, "Mandelbrot: Z = Z^2 + C" and
// "Julia: Z = Z^2 + C", as fixed iteration loops that keep the pixel context's protocol (coloring
// INIT, LOOP and FINAL code, orbit recording, periodicity, iterations done) without compiled code.
// The loops themselves are hand-written x87 code in FracBuiltinLoops.S.
//
// Counting: z0 is the start (Mandelbrot) or the pixel (Julia) and zk the value after k steps. The
// Julia loops report k for the first zk with k >= 1 beyond the bailout; the Mandelbrot loops take
// the first step before the loop, never test z1 and report k - 1 for the first zk with k >= 2. At
// most maxiter - 1 steps are taken; a pixel that does not escape reports maxiter. Without coloring
// loop code and orbit the result of the last step is not tested.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CompParams.h"
#include "CompPixelContext.h"
#include "SysUtils.h"

struct TBuiltInParam {
    std::string Name;
    std::uint8_t Kind; // 0 complex, 1 float
};

class TBuiltInFormula : public TObject {
public:
    TBuiltInFormula(const std::string &ACaption, std::uint8_t AKind, std::vector<TBuiltInParam> AParams)
        : Caption(ACaption), Kind(AKind), Params(std::move(AParams)) {}
    DECLARE_CLASS_NAME(TBuiltInFormula)
    static constexpr std::int32_t DataSize = 128;

    // Reads "start" (Mandelbrot) or "seed" (Julia) and "bailout" from Params into the 128-byte
    // block; a missing parameter gives 0. In arbitrary precision the block holds numbers of
    // Digits digits made from the parameters' texts, which DoneContext frees.
    void InitContext(void *Data, std::uint8_t Precision, const TParamList &Params, std::int32_t Digits) const;
    void DoneContext(void *Data, std::uint8_t Precision) const;
    // One pixel on a context whose formula data cell holds the block; in arbitrary precision
    // Second is the calling thread's THugeProcessor. The arbitrary-precision loop tests the
    // starting z too and reports k for the first zk beyond the bailout (k >= 0).
    void Iterate(std::uint8_t Precision, void *Context, void *Second) const;

    const std::string Caption;
    const std::uint8_t Kind; // 0 Mandelbrot, 1 Julia
    const std::vector<TBuiltInParam> Params;
};

class TBuiltInManager : public TObject {
public:
    TBuiltInManager();
    DECLARE_CLASS_NAME(TBuiltInManager)
    int Count() const { return static_cast<int>(FFormulas.size()); }
    const TBuiltInFormula &GetFormula(int Index) const {
        return *FFormulas.at(static_cast<std::size_t>(Index));
    }

private:
    std::vector<std::unique_ptr<TBuiltInFormula>> FFormulas;
};

// The global list; nil outside InitializeFracBuiltin .. FinalizeFracBuiltin.
TBuiltInManager *BuiltInManager();
void InitializeFracBuiltin();
void FinalizeFracBuiltin();
