// The fractal formula object's pixel paths: the fixed cost per pixel of a compiled pixel routine
// (entry, coloring calls, exit around a loop that bails out at once), with the calling thread under
// its default FPU control word and under the formula control word; and the built-in Mandelbrot and
// Julia in double and extended against a C++ loop with z in x87 registers, counts compared. The
// iteration rates leave out the fixed cost per pixel (entry, FPU set-up, INIT and FINAL calls,
// exit), measured on the same grid with maxiter 1, so that they compare the loops themselves.
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "bench/BenchEmulation.h"
#include "bench/BuiltinPlainLoop.h"
#include "tests/fractal/FormulaModules.h"
#include "CompRoutines.h"
#include "FracBuiltin.h"
#include "FracContext.h"
#include "FracFormula.h"
#include "GenUtils.h"
#include "SourcePaths.h"

namespace {

constexpr int GridSize = 256;
constexpr std::int32_t MaxIter = 500;

std::string FixturePath() {
    return PathBesideSource(__FILE__, "../tests/fractal/data/FracFormula_fixtures.ofm");
}

double Seconds(const LARGE_INTEGER &From, const LARGE_INTEGER &To) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(To.QuadPart - From.QuadPart) / double(frequency.QuadPart);
}

std::uint16_t ControlWord() {
    std::uint16_t word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
}

struct TPixels {
    std::vector<std::int32_t> Counts;
    double Seconds = 0;
};

// The region of the grid: Left, Top and the side of the square.
struct TRegion {
    long double Left, Top, Side;
    long double Re(int X) const { return Left + Side * X / GridSize; }
    long double Im(int Y) const { return Top + Side * Y / GridSize; }
};

constexpr TRegion MandelbrotRegion = {-2.2L, -1.4L, 2.8L};
constexpr TRegion JuliaRegion = {-1.6L, -1.6L, 3.2L};
constexpr long double JuliaSeedRe = -0.8L, JuliaSeedIm = 0.156L; // the fixture's default seed

// Every pixel of the grid through the formula object.
TPixels RunGrid(const TFormula &Formula, std::int32_t Iterations, const TRegion &Region = MandelbrotRegion) {
    TPixelContextBlock block(Formula.GetPrecision());
    TRoutineAssembler empty;
    empty.EmitReturn();
    TPixelContext &context = block.Common();
    for (TContextCode *cell : {&context.InsideInit, &context.InsideFinal, &context.OutsideInit,
                               &context.OutsideFinal, &context.OrbitRoutine})
        *cell = reinterpret_cast<TContextCode>(empty.GetCode());
    Formula.InitContext(block.Bytes());
    context.MaxIter = Iterations;
    TPixels result;
    result.Counts.reserve(GridSize * GridSize);
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    for (int y = 0; y < GridSize; ++y)
        for (int x = 0; x < GridSize; ++x) {
            block.SetPixel(Region.Re(x), Region.Im(y));
            Formula.Iterate(block.Bytes(), nullptr);
            result.Counts.push_back(context.IterationsDone);
        }
    QueryPerformanceCounter(&stop);
    result.Seconds = Seconds(start, stop);
    Formula.DoneContext(block.Bytes());
    return result;
}

// The plain loop over the grid: Mandelbrot (start 0) from z1 = c, Julia from z0 = the pixel with c
// the seed.
TPixels PlainLoop(bool Julia, std::int32_t Iterations) {
    const TRegion &region = Julia ? JuliaRegion : MandelbrotRegion;
    TPixels result;
    result.Counts.reserve(GridSize * GridSize);
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    for (int y = 0; y < GridSize; ++y)
        for (int x = 0; x < GridSize; ++x) {
            const long double pRe = region.Re(x), pIm = region.Im(y);
            const long double cRe = Julia ? JuliaSeedRe : pRe, cIm = Julia ? JuliaSeedIm : pIm;
            result.Counts.push_back(PlainEscapeCount(pRe, pIm, cRe, cIm, Iterations));
        }
    QueryPerformanceCounter(&stop);
    result.Seconds = Seconds(start, stop);
    return result;
}

long long Sum(const std::vector<std::int32_t> &Counts) {
    long long sum = 0;
    for (std::int32_t c : Counts)
        sum += c;
    return sum;
}

} // namespace

int main() {
    PrintEmulationNotice();
    InitializeGenUtils();
    StartFormulaModules();
    InitializeFracBuiltin();
    int failures = 0;
    const std::string fixtures = FixturePath();
    std::printf("Fractal formula object, %dx%d pixels, one thread; fixtures %s\n", GridSize, GridSize,
                fixtures.c_str());

    {
        TFormula formula;
        formula.SetSource(fixtures, "Immediate");
        if (formula.GetPixelRoutine().GetSize() == 0) {
            std::printf("Immediate cannot be compiled\n");
            ++failures;
        } else {
            std::printf("\nFixed cost of a compiled pixel routine (bails out in the first round):\n");
            for (int pass = 0; pass < 2; ++pass) {
                std::unique_ptr<TFormulaControlWordScope> scope;
                if (pass == 1)
                    scope = std::make_unique<TFormulaControlWordScope>();
                const std::uint16_t word = ControlWord();
                const TPixels pixels = RunGrid(formula, 100);
                std::printf("  thread control word %04Xh: %.1f ns per pixel\n", word,
                            pixels.Seconds * 1e9 / (double(GridSize) * GridSize));
            }
        }
    }

    // Iterations per second of a grid run with the fixed cost per pixel (a run at maxiter 1) taken out.
    const auto rate = [](const TPixels &Run, const TPixels &Fixed) {
        return double(Sum(Run.Counts)) / std::max(Run.Seconds - Fixed.Seconds, 1e-9) / 1e6;
    };
    for (const bool julia : {false, true}) {
        const TPixels plain = PlainLoop(julia, MaxIter), plainFixed = PlainLoop(julia, 1);
        const double plainRate = rate(plain, plainFixed);
        std::printf("\nBuilt-in %s, maxiter %d, %.1f iterations a pixel, fixed cost taken out:\n",
                    julia ? "Julia" : "Mandelbrot", static_cast<int>(MaxIter),
                    double(Sum(plain.Counts)) / plain.Counts.size());
        std::printf("  %-9s %8.1f M iter/s  %6.2f ns/iter\n", "C++ loop", plainRate, 1e3 / plainRate);
        for (std::uint8_t precision : {pmDouble, pmExtended}) {
            TFormula formula;
            formula.SetPrecision(precision);
            formula.SetSource(fixtures, julia ? "BuiltinJulia" : "BuiltinMandelbrot");
            const TRegion &region = julia ? JuliaRegion : MandelbrotRegion;
            const TPixels pixels = RunGrid(formula, MaxIter, region), fixed = RunGrid(formula, 1, region);
            int differ = 0;
            for (std::size_t i = 0; i < pixels.Counts.size(); ++i)
                differ += pixels.Counts[i] != plain.Counts[i];
            const double builtinRate = rate(pixels, fixed);
            std::printf("  %-9s %8.1f M iter/s  %6.2f ns/iter  ratio %.2f  fixed %.1f ns/pixel  (%d pixels "
                        "differ in count)\n",
                        precision == pmDouble ? "double" : "extended", builtinRate, 1e3 / builtinRate,
                        builtinRate / plainRate, fixed.Seconds * 1e9 / fixed.Counts.size(), differ);
        }
    }

    FinalizeFracBuiltin();
    StopFormulaModules();
    FinalizeCompHugeAccess();
    FinalizeGenUtils();
    return failures == 0 ? 0 : 1;
}
