// Throughput of compiled formulas: entries of the compiler tests' fixture file compiled through
// the whole compiler chain and joined into pixel routines, run single-threaded over a grid with
// the periodicity test off and on. In the same run, the same iterations written in C++ (built
// with the program's flags: -O2, x87) run over the same grid; the iteration counts of every
// pixel must agree before the speeds are compared.
//
// The C++ loops keep z as the formula keeps it, in a variable of the precision's storage format
// that is rounded once per pass, and use the same operation order as the compiled routines, so
// that both sides do the same arithmetic. The sine uses the C library; where it rounds
// differently from the compiled routine, a few border pixels may differ and are reported.
//
// Usage: FormulaBench [fixture file]; without an argument the fixture file beside the sources.
#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchEmulation.h"
#include "SourcePaths.h"
#include "CompFileManager.h"
#include "CompHugeAccess.h"
#include "CompHugeRoutines.h"
#include "CompRoutines.h"
#include "GenUtils.h"
#include "HugeDirectLoop.h"

// The formula stand-ins shared with the compiler tests.
#include "TestFormulas.h"

namespace {

constexpr int GridSize = 512;
constexpr std::int32_t MaxIter = 1000;

// A grid coordinate, rounded to double once, the same for both loops.
double Coordinate(double From, double Step, int I) {
    volatile double value = From + Step * I;
    return value;
}

double Seconds(const LARGE_INTEGER &Start, const LARGE_INTEGER &Stop) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(Stop.QuadPart - Start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The fixture file beside this source, in the Windows form of its path.
std::string DefaultFixturePath() {
    return PathBesideSource(__FILE__, "../tests/compiler/data/CompCompiler_fixtures.ofm");
}

struct TArea {
    double Left, Top, Span;
};

// Periodicity window of a run, as a piece sets it: n = max(round(log10 maxiter), 4) saves per
// mask step, initial mask 2n + 1; the threshold carried from pixel to pixel.
struct TPeriodicity {
    bool On = false;
    std::uint32_t InitialMask = 0;
    std::int32_t SavesPerStep = 0;
    float Tolerance = 0;
    std::uint32_t Threshold = 0;

    explicit TPeriodicity(bool AOn, double PixelSize) : On(AOn) {
        const std::int32_t n =
            std::max(static_cast<std::int32_t>(std::lround(std::log10(double(MaxIter)))), 4);
        InitialMask = static_cast<std::uint32_t>(2 * n + 1);
        SavesPerStep = n;
        Tolerance = AOn ? static_cast<float>(PixelSize * 1e-3) : 0.0f;
    }
    // The threshold of the next pixel after one that did Done iterations.
    void Next(std::int32_t Done) {
        if (!On)
            Threshold = 0;
        else if (Done == MaxIter)
            Threshold = 0xFFFFFFFFu;
        else
            Threshold = static_cast<std::uint32_t>(std::max(MaxIter - Done - 10, 0));
    }
};

// --- The loops in C++ --------------------------------------------------------------------------

// z's parts as the compiled code keeps them between passes: stored to memory in TReal's format.
template <class TReal> inline long double Store(long double Value) {
    TReal stored = static_cast<TReal>(Value);
    __asm__("" : "+m"(stored));
    return stored;
}

struct TComplex {
    long double Re, Im;
};

inline TComplex Sqr(TComplex Z) {
    return {Z.Re * Z.Re - Z.Im * Z.Im, (Z.Re + Z.Re) * Z.Im};
}
inline TComplex Mul(TComplex A, TComplex B) {
    return {A.Re * B.Re - A.Im * B.Im, A.Re * B.Im + A.Im * B.Re};
}
// (c, d) scaled by 1 / (c^2 + d^2), then a times the conjugate.
inline TComplex Div(TComplex A, TComplex B) {
    const long double scale = 1.0L / (B.Re * B.Re + B.Im * B.Im);
    const long double c = B.Re * scale, d = B.Im * scale;
    return {A.Re * c + A.Im * d, A.Im * c - A.Re * d};
}
inline TComplex Sin(TComplex Z) {
    const long double e = expl(Z.Im), half = 0.5L * e, inverse = 0.5L / e;
    return {sinl(Z.Re) * (half + inverse), cosl(Z.Re) * (half - inverse)};
}

// One pixel of a formula with z kept in TReal: Init gives z from the pixel, Step the next z,
// Bailout whether to go on. The loop end is the pixel routine's: periodicity test while the
// remaining count is below the threshold, then the count.
template <class TReal, class TInit, class TStep, class TBailout>
std::int32_t CPixel(TComplex Pixel, const TPeriodicity &Period, TComplex &Saved, TInit Init, TStep Step,
                    TBailout Bailout) {
    TComplex z = Init(Pixel);
    z = {Store<TReal>(z.Re), Store<TReal>(z.Im)};
    std::uint32_t counter = static_cast<std::uint32_t>(MaxIter);
    std::uint32_t mask = Period.InitialMask;
    std::int32_t savesLeft = Period.SavesPerStep;
    for (;;) {
        const TComplex next = Step(z, Pixel);
        z = {Store<TReal>(next.Re), Store<TReal>(next.Im)};
        if (!Bailout(z))
            break;
        if (counter < Period.Threshold) {
            if ((counter & mask) == 0) {
                Saved = z;
                if (--savesLeft == 0) {
                    mask = mask * 2 + 1;
                    savesLeft = Period.SavesPerStep;
                }
            } else if (!(static_cast<float>(fabsl(z.Re - Saved.Re)) > Period.Tolerance) &&
                       !(static_cast<float>(fabsl(z.Im - Saved.Im)) > Period.Tolerance)) {
                counter = 0;
                break;
            }
        }
        if (--counter == 0)
            break;
    }
    return MaxIter - static_cast<std::int32_t>(counter);
}

// --- The benchmark cases ----------------------------------------------------------------------

struct TCase {
    const char *Entry;
    std::uint8_t Precision;
    TArea Area;
    // The C++ loop over the grid: fills Counts, returns nothing.
    std::function<void(const TArea &, bool, std::vector<std::int32_t> &)> CLoop;
};

// Runs the C++ loop for TReal with the three parts of a formula over the grid.
template <class TReal, class TInit, class TStep, class TBailout>
void CGrid(const TArea &Area, bool PeriodOn, std::vector<std::int32_t> &Counts, TInit Init, TStep Step,
           TBailout Bailout) {
    const double pixel = Area.Span / GridSize;
    TPeriodicity period(PeriodOn, pixel);
    TComplex saved{0, 0};
    Counts.clear();
    for (int y = 0; y < GridSize; ++y)
        for (int x = 0; x < GridSize; ++x) {
            const TComplex c{Coordinate(Area.Left, pixel, x), Coordinate(Area.Top, pixel, y)};
            const std::int32_t done = CPixel<TReal>(c, period, saved, Init, Step, Bailout);
            period.Next(done);
            Counts.push_back(done);
        }
}

// The compiled routine over the grid.
void CompiledGrid(const TTestCompiledFormula &Formula, const TArea &Area, bool PeriodOn,
                  std::vector<std::int32_t> &Counts) {
    const double pixel = Area.Span / GridSize;
    TPeriodicity period(PeriodOn, pixel);
    TTestPixelContext context(Formula, MaxIter);
    context.SetPeriodicity(0, period.InitialMask, period.SavesPerStep, period.Tolerance);
    Counts.clear();
    for (int y = 0; y < GridSize; ++y)
        for (int x = 0; x < GridSize; ++x) {
            context.At<std::uint32_t>(TTestPixelContext::PeriodThreshold) = period.Threshold;
            context.SetPixel(Coordinate(Area.Left, pixel, x), Coordinate(Area.Top, pixel, y));
            const std::int32_t done = context.Iterate();
            period.Next(done);
            Counts.push_back(done);
        }
}

std::vector<TCase> Cases() {
    const TArea mandelbrot{-2.2, -1.5, 3.0}, julia{-1.6, -1.6, 3.2}, cubic{-1.5, -1.5, 3.0},
        newton{-2.0, -2.0, 4.0}, sine{-4.0, -4.0, 8.0};
    auto zero = [](TComplex) { return TComplex{0, 0}; };
    auto pixel = [](TComplex P) { return P; };
    auto within4 = [](TComplex Z) { return Z.Re * Z.Re + Z.Im * Z.Im < 4.0L; };
    auto mandelStep = [](TComplex Z, TComplex P) {
        const TComplex s = Sqr(Z);
        return TComplex{s.Re + P.Re, s.Im + P.Im};
    };
    std::vector<TCase> cases;
    cases.push_back(
        {"Mandelbrot", pmDouble, mandelbrot, [=](const TArea &A, bool On, std::vector<std::int32_t> &C) {
             CGrid<double>(A, On, C, zero, mandelStep, within4);
         }});
    cases.push_back(
        {"Mandelbrot", pmExtended, mandelbrot, [=](const TArea &A, bool On, std::vector<std::int32_t> &C) {
             CGrid<long double>(A, On, C, zero, mandelStep, within4);
         }});
    cases.push_back({"Julia", pmDouble, julia, [=](const TArea &A, bool On, std::vector<std::int32_t> &C) {
                         // The entry's parameter defaults: seed (-0.8, 0.156), limit 4.
                         const TComplex seed{-0.8, 0.156};
                         CGrid<double>(
                             A, On, C, pixel,
                             [seed](TComplex Z, TComplex) {
                                 const TComplex s = Sqr(Z);
                                 return TComplex{s.Re + seed.Re, s.Im + seed.Im};
                             },
                             within4);
                     }});
    cases.push_back(
        {"CubicMandelbrot", pmDouble, cubic, [=](const TArea &A, bool On, std::vector<std::int32_t> &C) {
             CGrid<double>(
                 A, On, C, zero,
                 [](TComplex Z, TComplex P) {
                     const TComplex c = Mul(Sqr(Z), Z);
                     return TComplex{c.Re + P.Re, c.Im + P.Im};
                 },
                 within4);
         }});
    cases.push_back({"Newton", pmDouble, newton, [=](const TArea &A, bool On, std::vector<std::int32_t> &C) {
                         const long double epsilon = 0.000001;
                         CGrid<double>(
                             A, On, C, pixel,
                             [](TComplex Z, TComplex) {
                                 const TComplex cube = Mul(Sqr(Z), Z);
                                 const TComplex f{cube.Re - 1.0L, cube.Im};
                                 const TComplex d = Mul(Mul(TComplex{3.0L, 0.0L}, Z), Z);
                                 const TComplex q = Div(f, d);
                                 return TComplex{Z.Re - q.Re, Z.Im - q.Im};
                             },
                             [epsilon](TComplex Z) {
                                 const TComplex cube = Mul(Sqr(Z), Z);
                                 const long double re = cube.Re - 1.0L, im = cube.Im;
                                 return re * re + im * im > epsilon;
                             });
                     }});
    cases.push_back(
        {"SineTimesPixel", pmDouble, sine, [=](const TArea &A, bool On, std::vector<std::int32_t> &C) {
             CGrid<double>(
                 A, On, C, pixel, [](TComplex Z, TComplex P) { return Mul(Sin(Z), P); },
                 [](TComplex Z) { return fabsl(Z.Im) < 50.0L; });
         }});
    return cases;
}

std::int64_t Sum(const std::vector<std::int32_t> &Counts) {
    std::int64_t total = 0;
    for (const std::int32_t count : Counts)
        total += count;
    return total;
}

// --- Arbitrary precision --------------------------------------------------------------------

// The Mandelbrot entry compiled with 40, 100 and 250 digits over a small grid around the neck of
// the set (every pixel class from quick escapes to maxiter), against the same iteration made of
// direct calls of the numbers' operations. Best of a few runs each, taken in turns; the counts of
// every pixel must agree. Returns the number of failures.
int HugeMandelbrot(const std::string &Fixtures) {
    constexpr int size = 64, repeats = 5;
    constexpr std::int32_t maxIter = 200;
    constexpr double left = -1.0, top = -0.25, span = 0.5;
    std::printf("\nMandelbrot in arbitrary precision, %dx%d pixels, maxiter %d, view %.2f%+.2fi, span %.2f,\n"
                "periodicity off, best of %d runs; direct: the same number operations called from C++\n\n",
                size, size, static_cast<int>(maxIter), left, top, span, repeats);
    std::printf("%6s %11s %13s %13s %7s %s\n", "digits", "iterations", "compiled it/s", "direct it/s",
                "ratio", "counts");
    int failures = 0;
    for (const int digits : {40, 100, 250}) {
        TTestCompiledFormula formula;
        try {
            formula.SetDigits(digits);
            formula.SetPrecision(pmArbitrary);
            formula.SetSource(Fixtures, "Mandelbrot");
        } catch (const std::exception &error) {
            std::printf("%6d cannot be compiled: %s\n", digits, error.what());
            ++failures;
            continue;
        }
        if (formula.GetHasError() || !formula.GetGenerateError().empty() ||
            formula.GetPixelRoutine().GetSize() == 0) {
            std::printf("%6d cannot be compiled: %s\n", digits, formula.GetGenerateError().c_str());
            ++failures;
            continue;
        }
        std::vector<std::unique_ptr<THugeFloat>> re, im;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                re.push_back(std::make_unique<THugeFloat>(digits));
                re.back()->SetExtended(left + span * x / size);
                im.push_back(std::make_unique<THugeFloat>(digits));
                im.back()->SetExtended(top + span * y / size);
            }
        TTestPixelContext context(formula, maxIter);
        THugeDirectLoop direct(digits, maxIter);
        std::vector<std::int32_t> compiled(re.size()), reference(re.size());
        double compiledTime = 1e30, directTime = 1e30;
        for (int k = 0; k < repeats; ++k) {
            LARGE_INTEGER start, middle, stop;
            QueryPerformanceCounter(&start);
            for (std::size_t i = 0; i < re.size(); ++i) {
                context.Huge(0xB8).Assign(*re[i]);
                context.Huge(0xBC).Assign(*im[i]);
                compiled[i] = context.Iterate();
            }
            QueryPerformanceCounter(&middle);
            for (std::size_t i = 0; i < re.size(); ++i)
                reference[i] = direct.Run(*re[i], *im[i]);
            QueryPerformanceCounter(&stop);
            compiledTime = std::min(compiledTime, Seconds(start, middle));
            directTime = std::min(directTime, Seconds(middle, stop));
        }
        int differing = 0;
        for (std::size_t i = 0; i < compiled.size(); ++i)
            differing += compiled[i] != reference[i];
        const bool failed = context.Processor()->Failed();
        failures += differing != 0 || failed;
        char verdict[64];
        if (failed)
            std::snprintf(verdict, sizeof verdict, "processor fault");
        else if (differing == 0)
            std::snprintf(verdict, sizeof verdict, "equal");
        else
            std::snprintf(verdict, sizeof verdict, "%d pixels differ", differing);
        const double iterations = static_cast<double>(Sum(reference));
        std::printf("%6d %11lld %13.0f %13.0f %7.3f %s\n", digits, static_cast<long long>(Sum(compiled)),
                    static_cast<double>(Sum(compiled)) / compiledTime, iterations / directTime,
                    static_cast<double>(Sum(compiled)) / compiledTime / (iterations / directTime), verdict);
    }
    std::printf("\nratio: compiled iterations per second / direct iterations per second.\n");
    return failures;
}

} // namespace

int main(int argc, char **argv) {
    PrintEmulationNotice();
    InitializeGenUtils();
    InitializeCompFileManager();
    InitializeCompRoutines();
    InitializeCompHugeAccess();
    const std::string fixtures = argc > 1 ? argv[1] : DefaultFixturePath();
    std::printf("Compiled formulas against the same loops in C++ (-O2, x87), %dx%d pixels, maxiter %d,\n"
                "single thread; fixtures %s\n\n",
                GridSize, GridSize, static_cast<int>(MaxIter), fixtures.c_str());
    std::printf("%-16s %-8s %-6s %13s %11s %11s %7s %s\n", "formula", "prec", "period", "iterations",
                "compiled", "C++", "ratio", "counts");
    std::printf("%-16s %-8s %-6s %13s %11s %11s %7s\n", "", "", "", "", "M iter/s", "M iter/s", "");
    int failures = 0;
    for (const TCase &c : Cases()) {
        TTestCompiledFormula formula;
        try {
            formula.SetPrecision(c.Precision);
            formula.SetSource(fixtures, c.Entry);
        } catch (const std::exception &error) {
            std::printf("%-16s cannot be compiled: %s\n", c.Entry, error.what());
            ++failures;
            continue;
        }
        if (formula.GetHasError() || !formula.GetGenerateError().empty() ||
            formula.GetPixelRoutine().GetSize() == 0) {
            std::printf("%-16s cannot be compiled: line %d, column %d %s\n", c.Entry,
                        static_cast<int>(formula.GetErrorLine()), static_cast<int>(formula.GetErrorColumn()),
                        formula.GetGenerateError().c_str());
            ++failures;
            continue;
        }
        for (const bool periodicity : {false, true}) {
            std::vector<std::int32_t> compiled, reference;
            LARGE_INTEGER start, middle, stop;
            QueryPerformanceCounter(&start);
            CompiledGrid(formula, c.Area, periodicity, compiled);
            QueryPerformanceCounter(&middle);
            c.CLoop(c.Area, periodicity, reference);
            QueryPerformanceCounter(&stop);
            const double compiledTime = Seconds(start, middle), referenceTime = Seconds(middle, stop);
            int differing = 0;
            for (std::size_t i = 0; i < compiled.size(); ++i)
                differing += compiled[i] != reference[i];
            const std::int64_t iterations = Sum(compiled);
            const std::int64_t referenceIterations = Sum(reference);
            char verdict[64];
            if (differing == 0)
                std::snprintf(verdict, sizeof verdict, "equal");
            else
                std::snprintf(verdict, sizeof verdict, "%d pixels differ", differing);
            std::printf("%-16s %-8s %-6s %13lld %11.1f %11.1f %7.2f %s\n", c.Entry,
                        c.Precision == pmDouble ? "double" : "extended", periodicity ? "on" : "off",
                        static_cast<long long>(iterations),
                        static_cast<double>(iterations) / compiledTime / 1e6,
                        static_cast<double>(referenceIterations) / referenceTime / 1e6,
                        referenceTime / compiledTime * static_cast<double>(iterations) /
                            static_cast<double>(referenceIterations),
                        verdict);
        }
    }
    failures += HugeMandelbrot(fixtures);

    // The Mandelbrot loop as one would write it in plain C++: GCC keeps z in x87 registers at
    // the 64-bit mantissa, so it rounds differently from a formula whose z is a double variable
    // and its counts differ on border pixels; shown for the speed only.
    {
        TTestCompiledFormula formula;
        try {
            formula.SetSource(fixtures, "Mandelbrot");
        } catch (const std::exception &) {
        }
        const TArea area{-2.2, -1.5, 3.0};
        const double step = area.Span / GridSize;
        std::vector<std::int32_t> compiled, plain;
        LARGE_INTEGER start, middle, stop;
        QueryPerformanceCounter(&start);
        if (formula.GetPixelRoutine().GetSize() > 0)
            CompiledGrid(formula, area, false, compiled);
        QueryPerformanceCounter(&middle);
        for (int y = 0; y < GridSize; ++y)
            for (int x = 0; x < GridSize; ++x) {
                const double cr = Coordinate(area.Left, step, x), ci = Coordinate(area.Top, step, y);
                double zr = 0, zi = 0;
                std::int32_t done = 0;
                while (done < MaxIter) {
                    const double re = zr * zr - zi * zi + cr;
                    zi = (zr + zr) * zi + ci;
                    zr = re;
                    if (!(zr * zr + zi * zi < 4.0))
                        break;
                    ++done;
                }
                plain.push_back(done);
            }
        QueryPerformanceCounter(&stop);
        int differing = 0;
        for (std::size_t i = 0; i < compiled.size() && i < plain.size(); ++i)
            differing += compiled[i] != plain[i];
        const double compiledRate = static_cast<double>(Sum(compiled)) / Seconds(start, middle) / 1e6;
        const double plainRate = static_cast<double>(Sum(plain)) / Seconds(middle, stop) / 1e6;
        std::printf(
            "\nMandelbrot, double, periodicity off, against a plain C++ loop with z in registers:\n"
            "compiled %.1f M iter/s, plain C++ %.1f M iter/s, ratio %.2f (%d pixels differ in count)\n",
            compiledRate, plainRate, compiledRate / plainRate, differing);
    }

    // The fixed cost of one pixel: the routine's entry, coloring calls and exit around a loop
    // that bails out at once, with this program's context handling.
    {
        TTestCompiledFormula formula;
        try {
            formula.SetSource(fixtures, "Immediate");
        } catch (const std::exception &) {
        }
        if (formula.GetPixelRoutine().GetSize() > 0) {
            std::vector<std::int32_t> counts;
            const TArea area{-2.0, -2.0, 4.0};
            LARGE_INTEGER start, stop;
            QueryPerformanceCounter(&start);
            CompiledGrid(formula, area, false, counts);
            QueryPerformanceCounter(&stop);
            std::printf("\npixel routine without iterations: %.1f ns per pixel\n",
                        Seconds(start, stop) * 1e9 / (double(GridSize) * GridSize));
        } else {
            std::printf("\nImmediate cannot be compiled\n");
            ++failures;
        }
    }
    std::printf("\nratio: compiled iterations per second / C++ iterations per second. With periodicity on,\n"
                "pixels found periodic count maxiter iterations done without doing them all.\n");
    FinalizeCompHugeAccess();
    FinalizeCompFileManager();
    FinalizeGenUtils();
    return failures == 0 ? 0 : 1;
}
