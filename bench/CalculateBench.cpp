// Thread scaling of the calculation: a 640x480 view of the Mandelbrot set at maxiter 1000 (the
// built-in formula in double precision) calculated by a calculation engine with each drawing
// method on 1, 2, 4 and 8 threads. Prints pixels per second, the speed-up over one thread of the
// same method and the share of pixels that guessing filled in without iterating.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "bench/BenchEmulation.h"
#include "tests/fractal/FormulaModules.h"
#include "CompPersistent.h"
#include "CompRoutines.h"
#include "FracBuiltin.h"
#include "FracCalculate.h"
#include "FracColoring.h"
#include "FracCompute.h"
#include "FracFormula.h"
#include "FracImage.h"
#include "FracMapping.h"
#include "FracMethods.h"
#include "GenUtils.h"
#include "SourcePaths.h"

namespace {

constexpr int Width = 640, Height = 480;
constexpr std::int32_t MaxIter = 1000;

double Seconds() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// One layer's objects and an engine over them whose pieces use one drawing method.
class TBenchEngine : public TCalculateEngine {
public:
    TBenchEngine(TCalculateManager &Manager, const std::string &Fixtures) : TCalculateEngine(&Manager) {
        SetShared(true);
        formula.SetPrecision(pmDouble);
        ErrorManager()->SetFormula(&formula);
        formula.SetSource(Fixtures, "BuiltinMandelbrot");
        formula.SetColorings(&inside, &outside);
        formula.SetMaxIter(MaxIter);
        TParReader reader;
        reader.LoadFirstEntry("view {\r\nlocation:\r\n  center=-0.6/0 magn=1.1\r\n}\r\n");
        mapping.LoadParameters(reader);
        mapping.SetWidth(Width);
        mapping.SetHeight(Height);
        image.SetSize(Width, Height);
    }
    ~TBenchEngine() override {
        Detach();
        ErrorManager()->ClearFormula();
    }
    void CalculationFinished() override { Finished.SetEvent(); }
    std::unique_ptr<TCompute> CreatePiece() override {
        return CreateCompute(Method, &mapping, &formula, &statistics, nullptr, &image, &outside, &inside);
    }
    bool Compiled() const { return formula.GetBuiltInIndex() >= 0; }

    // One whole calculation; its time in seconds, or a negative time when it did not end.
    double Run(std::uint8_t AMethod) {
        Method = AMethod;
        ClearPieces();
        image.Clear();
        statistics.Reset(Width * Height, MaxIter);
        Finished.ResetEvent();
        const double start = Seconds();
        StartCalculation(TLayerRect{0, 0, Width, Height}, TLayerRect{});
        if (Finished.WaitFor(30 * 60 * 1000) != TEvent::wrSignaled)
            return -1;
        return Seconds() - start;
    }

    TColoring inside{0}, outside{1};
    TFormula formula;
    TMapping mapping;
    TLayerImage image;
    TLayerStatistics statistics;
    std::uint8_t Method = dmGuessing;
    TEvent Finished{true, false};
};

} // namespace

int main() {
    PrintEmulationNotice();
    InitializeGenUtils();
    StartFormulaModules();
    InitializeFracBuiltin();
    int failures = 0;
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    std::printf("Calculation of a %dx%d view of the Mandelbrot set, maxiter %d, double precision; %lu "
                "processors\n\n",
                Width, Height, static_cast<int>(MaxIter), info.dwNumberOfProcessors);
    std::printf("%-11s %7s %9s %14s %9s %9s\n", "method", "threads", "seconds", "pixels/s", "speed-up",
                "guessed");
    const std::string fixtures = PathBesideSource(__FILE__, "../tests/fractal/data/FracFormula_fixtures.ofm");
    const char *const names[] = {"guessing", "multi-pass", "linear"};
    for (std::uint8_t method : {dmGuessing, dmMultiPass, dmLinear}) {
        double single = 0;
        for (int threads : {1, 2, 4, 8}) {
            TCalculateManager manager(threads);
            TBenchEngine engine(manager, fixtures);
            if (!engine.Compiled()) {
                std::printf("the built-in Mandelbrot cannot be set up from %s\n", fixtures.c_str());
                ++failures;
                break;
            }
            const double seconds = engine.Run(method);
            if (seconds < 0) {
                std::printf("%-11s %7d  did not finish\n", names[method], threads);
                ++failures;
                continue;
            }
            if (threads == 1)
                single = seconds;
            const TLayerStatistics &s = engine.statistics;
            const double guessed = s.Counted() > s.Calculated() ? double(s.Counted() - s.Calculated()) : 0;
            std::printf("%-11s %7d %9.3f %14.0f %9.2f %8.1f%%\n", names[method], threads, seconds,
                        Width * Height / seconds, single / seconds, 100 * guessed / (Width * Height));
            if (s.Counted() != std::uint32_t(Width * Height)) {
                std::printf("  counted %u pixels of %d\n", s.Counted(), Width * Height);
                ++failures;
            }
        }
    }
    FinalizeFracBuiltin();
    StopFormulaModules();
    FinalizeCompHugeAccess();
    FinalizeGenUtils();
    return failures == 0 ? 0 : 1;
}
