// Cost of the emulated register stack in arbitrary precision: the Mandelbrot formula
// (z = sqr(z) + pixel, bailout |z| < 4) generated from an expression tree, assembled into a pixel
// routine and run on a THugeProcessor, against a C++ loop that calls the same number operations
// (square, multiply, double, subtract, add, compare) on THugeFloat values directly, for the same
// grid at 40, 100 and 250 digits. A third loop makes the generated code's processor calls from
// C++. All must give the same iteration count for every pixel (exit code 1 otherwise).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CompAssembler.h"
#include "CompDefinitions.h"
#include "CompExpressions.h"
#include "CompGenerator.h"
#include "CompHugeAccess.h"
#include "CompHugeRoutines.h"
#include "CompRoutines.h"
#include "CompStorage.h"
#include "CompTokenizer.h"
#include "HugeFPU.h"
#include "HugeDirectLoop.h"
#include "HugeMath.h"
#include "bench/BenchEmulation.h"

namespace {

constexpr int Width = 64, Height = 64;
constexpr std::int32_t MaxIter = 200;
// A shallow view around the neck of the set: every pixel class from quick escapes to maxiter.
constexpr double ViewRe = -1.0, ViewIm = -0.25, ViewSpan = 0.5;
constexpr int Repeats = 5; // best of, for each side, taken in turns

constexpr std::int32_t cxMaxIter = 0x34, cxIterationsDone = 0x38, cxInsideInit = 0x3C, cxInsideFinal = 0x44,
                       cxOutsideInit = 0x48, cxOutsideFinal = 0x50, cxFormulaData = 0x6C, cxPixel = 0xB8;

const TObject *const NoFormula = reinterpret_cast<const TObject *>(0x12345678); // never printed to

TExpressionPtr Pred(std::uint8_t Symbol) {
    return std::make_unique<TPredefinedExpression>(TCompilePosition{0, 0}, Symbol);
}

TExpressionPtr Typed(std::unique_ptr<TExpression> E, std::uint8_t Type) {
    E->SetReturnType(Type);
    return E;
}

TExpressionPtr Bin(int Operator, TExpressionPtr Left, TExpressionPtr Right, std::uint8_t Type) {
    return Typed(std::make_unique<TBinaryOperatorExpression>(TCompilePosition{0, 0}, std::move(Left),
                                                             std::move(Right),
                                                             static_cast<std::uint8_t>(Operator)),
                 Type);
}

class TSectionCollector : public TCodeGenerator {
public:
    void CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) override {
        Sections.emplace_back(Name, std::vector<std::uint8_t>(Code, Code + Size));
    }
    const std::vector<std::uint8_t> &Section(const std::string &Name) const {
        for (const auto &section : Sections)
            if (section.first == Name)
                return section.second;
        std::fprintf(stderr, "no section %s\n", Name.c_str());
        std::exit(1);
    }
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> Sections;
};

// The pixel routine with its processor, context numbers and data block.
class TMandelbrotRoutine {
public:
    explicit TMandelbrotRoutine(int Digits) : FProcessor(Digits) {
        FStorage.Digits = Digits;
        FStorage.Precision = pmArbitrary;
        THugeFloat four(Digits, 4);
        TStorageNode *start =
            FStorage.Add(std::make_unique<TConstantNode>(std::make_unique<THugeComplexConstant>(Digits)));
        TStorageNode *limit =
            FStorage.Add(std::make_unique<TConstantNode>(std::make_unique<THugeFloatConstant>(Digits, four)));
        const TCompilePosition at{0, 0};
        auto sqr = std::make_unique<TFunctionExpression>(at, static_cast<std::uint8_t>(fnSqr));
        sqr->Add(Pred(psZ));
        TExpressionList program;
        program.Add(std::make_unique<TLabelExpression>(at, 0, "init"));
        program.Add(Bin(opAssign, Pred(psZ), std::make_unique<TStorageExpression>(at, start), vtComplex));
        program.Add(std::make_unique<TLabelExpression>(at, 0, "loop"));
        program.Add(Bin(opAssign, Pred(psZ),
                        Bin(opAdd, Typed(std::move(sqr), vtComplex), Pred(psPixel), vtComplex), vtComplex));
        program.Add(std::make_unique<TLabelExpression>(at, 0, "bailout"));
        program.Add(Bin(opLess,
                        Typed(std::make_unique<TUnaryOperatorExpression>(
                                  at, Pred(psZ), static_cast<std::uint8_t>(uoModulus)),
                              vtFloat),
                        std::make_unique<TStorageExpression>(at, limit), vtBoolean));
        TSectionCollector generator;
        generator.GenerateSections(program, FStorage, pmArbitrary, NoFormula);
        const auto &init = generator.Section("INIT"), &loop = generator.Section("LOOP"),
                   &bailout = generator.Section("BAILOUT");

        FRoutine.AssemblePixelRoutine(pmArbitrary, cxFormulaData, init, loop, bailout);
        FColoring.EmitReturn();

        FData.assign(static_cast<std::size_t>(std::max(FStorage.DataSize, 1)) + 16, 0);
        FStorage.InitData(DataBlock());
        InitHugeContextValues(FContext, Digits);
        Put<void *>(cxFormulaData, DataBlock());
        for (std::int32_t field : {cxInsideInit, cxInsideFinal, cxOutsideInit, cxOutsideFinal})
            Put<const void *>(field, FColoring.GetCode());
        Put<std::int32_t>(cxMaxIter, MaxIter); // no periodicity test: the threshold stays 0
    }
    ~TMandelbrotRoutine() {
        DoneHugeContextValues(FContext);
        FStorage.DoneData(DataBlock());
    }
    TMandelbrotRoutine(const TMandelbrotRoutine &) = delete;
    TMandelbrotRoutine &operator=(const TMandelbrotRoutine &) = delete;

    std::int32_t Run(const THugeFloat &Re, const THugeFloat &Im) {
        Get<THugeFloatBase *>(cxPixel)->Assign(Re);
        Get<THugeFloatBase *>(cxPixel + 4)->Assign(Im);
        FRoutine.Execute(FContext, &FProcessor);
        return Get<std::int32_t>(cxIterationsDone);
    }
    bool Failed() const { return FProcessor.Failed(); }

private:
    template <class T> T Get(std::int32_t Offset) const {
        T value;
        std::memcpy(&value, FContext + Offset, sizeof value);
        return value;
    }
    template <class T> void Put(std::int32_t Offset, T Value) {
        std::memcpy(FContext + Offset, &Value, sizeof Value);
    }
    std::uint8_t *DataBlock() {
        const auto address = reinterpret_cast<std::uintptr_t>(FData.data());
        return FData.data() + ((16 - address % 16) % 16);
    }

    THugeProcessor FProcessor;
    TStorageList FStorage;
    TRoutineAssembler FRoutine, FColoring;
    std::vector<std::uint8_t> FData;
    alignas(16) std::uint8_t FContext[256] = {};
};

// The call sequence of the generated code, made from C++ on a processor: it separates the cost of
// the processor's copies and exchanges from that of the generated code and its calls.
class TProcessorLoop {
public:
    explicit TProcessorLoop(int Digits)
        : FProcessor(Digits), FX(Digits), FY(Digits), FZero(Digits), FLimit(Digits, 4) {}

    std::int32_t Run(const THugeFloat &Re, const THugeFloat &Im) {
        THugeProcessor &p = FProcessor;
        p.LoadHuge(FZero);
        p.LoadHuge(FZero);
        p.StoreHugePop(FX);
        p.StoreHugePop(FY);
        std::int32_t counter = MaxIter;
        for (;;) {
            p.LoadHuge(Im);
            p.LoadHuge(Re);
            p.LoadHuge(FY);
            p.LoadHuge(FX);
            p.LoadRegister(1); // sqr(z)
            p.Multiply(1);
            p.MultiplyByTwo();
            p.Exchange(2);
            p.Square();
            p.Exchange(1);
            p.Square();
            p.SubtractRevPop(1);
            p.AddPop(2); // + pixel
            p.AddPop(2);
            p.StoreHugePop(FX);
            p.StoreHugePop(FY);
            p.LoadHuge(FY); // |z| < 4
            p.LoadHuge(FX);
            p.Square();
            p.Exchange(1);
            p.Square();
            p.AddPop(1);
            p.LoadHuge(FLimit);
            p.Exchange(1);
            const std::int32_t order = p.Compare(1);
            p.Pop();
            p.Pop();
            if (!(order < 0))
                break;
            if (--counter == 0)
                break;
        }
        return MaxIter - counter;
    }

private:
    THugeProcessor FProcessor;
    THugeFloat FX, FY, FZero, FLimit;
};

double Seconds(LARGE_INTEGER Start, LARGE_INTEGER Stop) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(Stop.QuadPart - Start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct TPoint {
    std::unique_ptr<THugeFloat> Re, Im;
};

// Runs Side over every point, writing the counts; returns the seconds taken.
template <class TSide>
double RunGrid(TSide &Side, const std::vector<TPoint> &Points, std::vector<std::int32_t> &Counts) {
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    for (std::size_t i = 0; i < Points.size(); ++i)
        Counts[i] = Side.Run(*Points[i].Re, *Points[i].Im);
    QueryPerformanceCounter(&stop);
    return Seconds(start, stop);
}

} // namespace

int main() {
    PrintEmulationNotice();
    InitializeCompRoutines();
    InitializeCompHugeAccess();
    std::printf("Mandelbrot in arbitrary precision, %dx%d pixels, maxiter %d, view %.2f%+.2fi, span %.2f\n",
                Width, Height, MaxIter, ViewRe, ViewIm, ViewSpan);
    std::printf("routine: generated z = sqr(z) + pixel on the emulated register stack\n"
                "processor: the routine's processor calls made from C++\n"
                "direct:  the same number operations called from a C++ loop\n"
                "times: best of %d runs each\n\n",
                Repeats);
    std::printf("%6s %11s %13s %14s %13s %8s %8s %10s\n", "digits", "iterations", "routine it/s",
                "processor it/s", "direct it/s", "ratio", "proc/dir", "mismatches");
    int exitCode = 0;
    for (int digits : {40, 100, 250}) {
        std::vector<TPoint> points;
        for (int y = 0; y < Height; ++y)
            for (int x = 0; x < Width; ++x) {
                TPoint point{std::make_unique<THugeFloat>(digits), std::make_unique<THugeFloat>(digits)};
                point.Re->SetExtended(ViewRe + ViewSpan * x / Width);
                point.Im->SetExtended(ViewIm + ViewSpan * y / Height);
                points.push_back(std::move(point));
            }
        TMandelbrotRoutine routine(digits);
        THugeDirectLoop direct(digits, MaxIter);
        TProcessorLoop processor(digits);
        std::vector<std::int32_t> routineCounts(points.size()), directCounts(points.size()),
            processorCounts(points.size());
        double routineTime = 1e30, directTime = 1e30, processorTime = 1e30;
        for (int k = 0; k < Repeats; ++k) {
            routineTime = std::min(routineTime, RunGrid(routine, points, routineCounts));
            processorTime = std::min(processorTime, RunGrid(processor, points, processorCounts));
            directTime = std::min(directTime, RunGrid(direct, points, directCounts));
        }
        long long iterations = 0;
        int mismatches = 0;
        for (std::size_t i = 0; i < points.size(); ++i) {
            iterations += directCounts[i];
            mismatches += routineCounts[i] != directCounts[i] || processorCounts[i] != directCounts[i];
        }
        if (mismatches != 0 || routine.Failed())
            exitCode = 1;
        const double count = static_cast<double>(iterations);
        std::printf("%6d %11lld %13.0f %14.0f %13.0f %8.3f %8.3f %10d\n", digits, iterations,
                    count / routineTime, count / processorTime, count / directTime, routineTime / directTime,
                    processorTime / directTime, mismatches);
    }
    std::printf("\nratio: routine seconds / direct seconds for the same pixels (goal: at most 1.15).\n"
                "proc/dir: the routine's call sequence made from C++ on a processor / direct seconds.\n"
                "iterations: those done by all pixels together (the escaping iteration not counted).\n");
    FinalizeCompHugeAccess();
    FinalizeCompRoutines();
    return exitCode;
}
