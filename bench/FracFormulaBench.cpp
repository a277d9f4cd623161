// The fractal formula object's pixel paths: the fixed cost per pixel of a compiled pixel routine
// (entry, coloring calls, exit around a loop that bails out at once), with the calling thread under
// its default FPU control word and under the formula control word; and the built-in Mandelbrot in
// double and extended against a C++ loop with z in x87 registers, counts compared.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "bench/BenchEmulation.h"
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

// Every pixel of the grid over [-2.2, 0.6] x [-1.4, 1.4] through the formula object.
TPixels RunGrid(const TFormula &Formula, std::int32_t Iterations) {
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
            const long double re = -2.2L + 2.8L * x / GridSize, im = -1.4L + 2.8L * y / GridSize;
            block.SetPixel(re, im);
            Formula.Iterate(block.Bytes(), nullptr);
            result.Counts.push_back(context.IterationsDone);
        }
    QueryPerformanceCounter(&stop);
    result.Seconds = Seconds(start, stop);
    Formula.DoneContext(block.Bytes());
    return result;
}

// The same counting as the built-in Mandelbrot (start 0, bailout 4), z kept in 80-bit registers.
TPixels PlainLoop() {
    TPixels result;
    result.Counts.reserve(GridSize * GridSize);
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    for (int y = 0; y < GridSize; ++y)
        for (int x = 0; x < GridSize; ++x) {
            const long double cRe = -2.2L + 2.8L * x / GridSize, cIm = -1.4L + 2.8L * y / GridSize;
            long double zRe = cRe, zIm = cIm;
            std::int32_t done = MaxIter;
            for (std::int32_t steps = 1; steps < MaxIter; ++steps) {
                const long double re = zRe * zRe - zIm * zIm + cRe;
                zIm = (zRe + zRe) * zIm + cIm;
                zRe = re;
                if (steps == MaxIter - 1)
                    break;
                if (zRe * zRe + zIm * zIm > 4) {
                    done = steps;
                    break;
                }
            }
            result.Counts.push_back(done);
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

    const TPixels plain = PlainLoop();
    const double plainRate = double(Sum(plain.Counts)) / plain.Seconds / 1e6;
    std::printf(
        "\nBuilt-in Mandelbrot, maxiter %d, against a C++ loop with z in 80-bit registers (%.1f M iter/s):\n",
        static_cast<int>(MaxIter), plainRate);
    for (std::uint8_t precision : {pmDouble, pmExtended}) {
        TFormula formula;
        formula.SetPrecision(precision);
        formula.SetSource(fixtures, "BuiltinMandelbrot");
        const TPixels pixels = RunGrid(formula, MaxIter);
        int differ = 0;
        for (std::size_t i = 0; i < pixels.Counts.size(); ++i)
            differ += pixels.Counts[i] != plain.Counts[i];
        const double rate = double(Sum(pixels.Counts)) / pixels.Seconds / 1e6;
        std::printf("  %-8s %8.1f M iter/s  ratio %.2f  (%d pixels differ in count)\n",
                    precision == pmDouble ? "double" : "extended", rate, rate / plainRate, differ);
    }

    FinalizeFracBuiltin();
    StopFormulaModules();
    FinalizeCompHugeAccess();
    FinalizeGenUtils();
    return failures == 0 ? 0 : 1;
}
