// The compiler end to end: formula entries compiled through the compile driver, joined into
// pixel routines and run over grids against the same iterations written in C; the stop flag
// ending an endless loop from another thread; a code generation that fails on a parameter value.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <new>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompCompiler.h"
#include "CompEntriesTestSupport.h"
#include "CompGlobalsTestSupport.h"
#include "CompLexical.h"
#include "CompMessages.h"
#include "CompParams.h"
#include "TestFormulas.h"

namespace {

// The control word compiled code runs under (64-bit mantissa, round to nearest, all exceptions
// masked), so that the C iterations round as the routines do.
class TFormulaControlWord {
public:
    TFormulaControlWord() {
        __asm__ volatile("fnstcw %0" : "=m"(FSaved));
        const std::uint16_t word = 0x137F;
        __asm__ volatile("fldcw %0" : : "m"(word));
    }
    ~TFormulaControlWord() { __asm__ volatile("fclex\n\tfldcw %0" : : "m"(FSaved)); }

private:
    std::uint16_t FSaved = 0;
};

// A value kept in memory in the storage format of TReal, as the compiled code keeps z in the
// pixel context between iterations.
template <class TReal> long double Stored(long double Value) {
    volatile TReal stored = static_cast<TReal>(Value);
    return static_cast<long double>(stored);
}

// Iterations done for z := z^2 + c from z0, with the bailout |z|^2 < Limit: every operation on
// the 64-bit mantissa, the square as (re^2 - im^2, (re + re) im), z stored after each pass. Like
// the pixel routine, the pass whose bailout fails is not counted.
template <class TReal>
std::int32_t QuadraticCount(long double ZRe, long double ZIm, long double CRe, long double CIm,
                            long double Limit, std::int32_t MaxIter) {
    long double re = Stored<TReal>(ZRe), im = Stored<TReal>(ZIm);
    for (std::int32_t done = 0; done < MaxIter; ++done) {
        const long double nextRe = (re * re - im * im) + CRe;
        const long double nextIm = (re + re) * im + CIm;
        re = Stored<TReal>(nextRe);
        im = Stored<TReal>(nextIm);
        if (!(re * re + im * im < Limit))
            return done;
    }
    return MaxIter;
}

std::string FixturePath() {
    return CompilerDataPath("CompCompiler_fixtures.ofm");
}

// Compiles an entry of the fixture file (or of File) in Precision; the formula must compile
// cleanly.
std::unique_ptr<TTestCompiledFormula> CompileEntry(const std::string &Entry, std::uint8_t Precision,
                                                   const std::string &File = FixturePath()) {
    auto formula = std::make_unique<TTestCompiledFormula>();
    formula->SetPrecision(Precision);
    formula->SetSource(File, Entry);
    EXPECT_FALSE(formula->GetHasError())
        << Entry << ": line " << formula->GetErrorLine() << ", column " << formula->GetErrorColumn();
    EXPECT_EQ(formula->GetGenerateError(), "") << Entry;
    EXPECT_GT(formula->GetPixelRoutine().GetSize(), 0) << Entry;
    return formula;
}

// The compiled loops of the tests run with their formula objects in the global list of compiled
// objects and with the message list, as they do in the program.
class CompCompiler : public testing::Test {
protected:
    void SetUp() override { FGlobals.Start(true); }
    void TearDown() override { FGlobals.Finish(); }

private:
    TCompilerGlobals FGlobals;
};

// ---------------------------------------------------------------------------------------------
// Iteration counts against C

constexpr int GridSize = 256;
constexpr std::int32_t GridMaxIter = 1000;

// A Julia seed as typed by the user and as the constant of each precision.
struct TSeed {
    const char *ReText, *ImText;
    double Re, Im;
    long double ExtendedRe, ExtendedIm;
};
// The Julia entry's default seed.
constexpr TSeed DefaultSeed{nullptr, nullptr, -0.8, 0.156, -0.8L, 0.156L};
constexpr TSeed OtherSeed{"-0.123", "0.745", -0.123, 0.745, -0.123L, 0.745L};

struct TGridCase {
    const char *Entry;
    std::uint8_t Precision;
    bool Julia;
    TSeed Seed = DefaultSeed;
};

std::ostream &operator<<(std::ostream &Stream, const TGridCase &Case) {
    return Stream << Case.Entry << (Case.Precision == pmDouble ? ", double" : ", extended")
                  << (Case.Seed.ReText ? ", changed seed" : "");
}

class CompCompilerGrid : public CompCompiler, public testing::WithParamInterface<TGridCase> {};

// The iterations done of every pixel of the grid, row by row, from the compiled routine.
std::vector<std::int32_t> RunGrid(const TTestCompiledFormula &Formula, bool Julia) {
    // The coordinates round as in the C loops.
    TFormulaControlWord control;
    TTestPixelContext context(Formula, GridMaxIter);
    std::vector<std::int32_t> counts;
    for (int y = 0; y < GridSize; ++y)
        for (int x = 0; x < GridSize; ++x) {
            const long double re = Julia ? -1.6L + 3.2L * x / GridSize : -2.2L + 3.0L * x / GridSize;
            const long double im = -1.5L + 3.0L * y / GridSize;
            context.SetPixel(re, im);
            counts.push_back(context.Iterate());
        }
    return counts;
}

TEST_P(CompCompilerGrid, IterationCountsEqualTheCLoop) {
    const TGridCase &c = GetParam();
    std::unique_ptr<TTestCompiledFormula> formula = CompileEntry(c.Entry, c.Precision);
    ASSERT_GT(formula->GetPixelRoutine().GetSize(), 0);
    if (c.Seed.ReText) {
        // A new parameter value is compiled into new code.
        const int index = formula->GetParams().IndexOfName("seed", pkOrdinary);
        ASSERT_GE(index, 0);
        auto *seed = dynamic_cast<TComplexParam *>(formula->GetParams().GetItem(index));
        ASSERT_NE(seed, nullptr);
        const int generated = formula->GenerateCount;
        seed->Value.SetText(c.Seed.ReText, c.Seed.ImText);
        EXPECT_EQ(formula->GenerateCount, generated + 1);
    }
    const std::vector<std::int32_t> counts = RunGrid(*formula, c.Julia);

    TFormulaControlWord control;
    const bool isDouble = c.Precision == pmDouble;
    auto asStored = [&](long double Value) { return isDouble ? Stored<double>(Value) : Value; };
    int mismatches = 0, inside = 0;
    for (int y = 0; y < GridSize; ++y)
        for (int x = 0; x < GridSize; ++x) {
            const long double re =
                asStored(c.Julia ? -1.6L + 3.2L * x / GridSize : -2.2L + 3.0L * x / GridSize);
            const long double im = asStored(-1.5L + 3.0L * y / GridSize);
            // The Julia entry's limit is 4.
            const long double seedRe = isDouble ? c.Seed.Re : c.Seed.ExtendedRe;
            const long double seedIm = isDouble ? c.Seed.Im : c.Seed.ExtendedIm;
            std::int32_t expected;
            if (isDouble)
                expected = c.Julia ? QuadraticCount<double>(re, im, seedRe, seedIm, 4.0L, GridMaxIter)
                                   : QuadraticCount<double>(0, 0, re, im, 4.0L, GridMaxIter);
            else
                expected = c.Julia ? QuadraticCount<long double>(re, im, seedRe, seedIm, 4.0L, GridMaxIter)
                                   : QuadraticCount<long double>(0, 0, re, im, 4.0L, GridMaxIter);
            const std::int32_t actual = counts[static_cast<std::size_t>(y * GridSize + x)];
            if (actual != expected && ++mismatches <= 5)
                ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << actual << " iterations, expected "
                              << expected;
            inside += expected == GridMaxIter;
        }
    EXPECT_EQ(mismatches, 0);
    EXPECT_GT(inside, 0) << "the grid should reach into the set";
    EXPECT_LT(inside, GridSize * GridSize) << "the grid should reach outside the set";
}

INSTANTIATE_TEST_SUITE_P(
    Entries, CompCompilerGrid,
    testing::Values(TGridCase{"Mandelbrot", pmDouble, false}, TGridCase{"Mandelbrot", pmExtended, false},
                    TGridCase{"MandelbrotCompact", pmDouble, false},
                    TGridCase{"MandelbrotCompact", pmExtended, false}, TGridCase{"Julia", pmDouble, true},
                    TGridCase{"Julia", pmExtended, true}, TGridCase{"Julia", pmDouble, true, OtherSeed},
                    TGridCase{"Julia", pmExtended, true, OtherSeed}),
    [](const testing::TestParamInfo<TGridCase> &Info) {
        return std::string(Info.param.Entry) + (Info.param.Precision == pmDouble ? "Double" : "Extended") +
               (Info.param.Seed.ReText ? "ChangedSeed" : "");
    });

TEST_F(CompCompiler, CompactAndLabelledMandelbrotGiveTheSameCounts) {
    for (const std::uint8_t precision : {pmDouble, pmExtended}) {
        SCOPED_TRACE(int(precision));
        std::unique_ptr<TTestCompiledFormula> labelled = CompileEntry("Mandelbrot", precision);
        std::unique_ptr<TTestCompiledFormula> compact = CompileEntry("MandelbrotCompact", precision);
        EXPECT_EQ(RunGrid(*labelled, false), RunGrid(*compact, false));
        // Written differently (z*z against sqr(z)), both loops fold to the same code.
        EXPECT_EQ(labelled->Section("LOOP"), compact->Section("LOOP"));
    }
}

TEST_F(CompCompiler, PrecisionChangeRegeneratesTheRoutineForTheNewLayout) {
    std::unique_ptr<TTestCompiledFormula> formula = CompileEntry("Mandelbrot", pmDouble);
    const int generated = formula->GenerateCount;
    formula->SetPrecision(pmExtended);
    EXPECT_EQ(formula->GenerateCount, generated + 1);
    std::unique_ptr<TTestCompiledFormula> extended = CompileEntry("Mandelbrot", pmExtended);
    EXPECT_EQ(RunGrid(*formula, false), RunGrid(*extended, false));
}

// ---------------------------------------------------------------------------------------------
// Stop flag

struct TRunner {
    TTestPixelContext *Context;
    HANDLE Started;
    std::int32_t Done = -1;

    static DWORD WINAPI Run(void *Parameter) {
        auto *self = static_cast<TRunner *>(Parameter);
        SetEvent(self->Started);
        self->Done = self->Context->Iterate();
        return 0;
    }
};

TEST_F(CompCompiler, EndlessWhileLoopEndsWhenTheStopFlagIsSet) {
    for (const std::uint8_t precision : {pmDouble, pmExtended}) {
        SCOPED_TRACE(int(precision));
        std::unique_ptr<TTestCompiledFormula> formula = CompileEntry("Endless", precision);
        TTestPixelContext context(*formula, 1000);
        context.SetPixel(0, 0);
        TRunner runner{&context, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
        ASSERT_NE(runner.Started, nullptr);
        HANDLE thread = CreateThread(nullptr, 0, &TRunner::Run, &runner, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        ASSERT_EQ(WaitForSingleObject(runner.Started, 10000), WAIT_OBJECT_0);
        // The loop adds 1 to z on every pass; once z moved, the thread is inside the WHILE loop.
        const std::int32_t z = formula->GetPrecision() == pmDouble ? 0xB0 : 0xC0;
        const DWORD deadline = GetTickCount() + 10000;
        auto real = [&]() -> long double {
            return precision == pmDouble ? *reinterpret_cast<volatile double *>(context.Bytes + z)
                                         : *reinterpret_cast<volatile long double *>(context.Bytes + z);
        };
        while (real() < 10 && static_cast<std::int32_t>(deadline - GetTickCount()) > 0)
            SwitchToThread();
        EXPECT_GE(real(), 10) << "the loop did not start";
        LARGE_INTEGER frequency, setAt, endedAt;
        QueryPerformanceFrequency(&frequency);
        QueryPerformanceCounter(&setAt);
        context.StopFlag() = 1;
        const DWORD waited = WaitForSingleObject(thread, 10000);
        QueryPerformanceCounter(&endedAt);
        EXPECT_EQ(waited, WAIT_OBJECT_0) << "the routine did not stop";
        if (waited != WAIT_OBJECT_0)
            TerminateThread(thread, 1); // the routine would never return
        else
            std::cout << "  stopped "
                      << 1000.0 * static_cast<double>(endedAt.QuadPart - setAt.QuadPart) /
                             static_cast<double>(frequency.QuadPart)
                      << " ms after the stop flag was set\n";
        // Stopped inside the first pass, whose bailout (none: false) then ends the loop.
        EXPECT_EQ(runner.Done, 0);
        CloseHandle(thread);
        CloseHandle(runner.Started);
    }
}

// ---------------------------------------------------------------------------------------------
// A generation that fails

// A formula object on the parser whose code generation can be made to fail, and which logs the
// emptying of its routines.
class TFailingFormula : public TTestFormula {
public:
    void ResetCode() override { Log.push_back("reset"); }
};

TEST_F(CompCompiler, GenerationFailureIsRecordedAndNotPassedOn) {
    struct TCase {
        const char *Name;
        std::function<void()> Fail;
        std::uint8_t Code;
        TCompilePosition Position;
        const char *Text;
    };
    const TCase cases[] = {
        {"compile error",
         [] {
             throw ECompileError(ceLiteralOutOfRange, TCompilePosition{3, 4});
         },
         ceLiteralOutOfRange,
         {3, 4},
         "Literal out of range"},
        {"internal error",
         [] { throw EInternalCompilerError("TStorageList.AssignOffsets: Data block too large"); },
         ceUnknown,
         {0, 0},
         "TStorageList.AssignOffsets: Data block too large"},
        {"out of memory", [] { throw std::bad_alloc(); }, ceUnknown, {0, 0}, nullptr},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TFailingFormula formula;
        ErrorManager()->SetFormula(&formula);
        formula.SetSource(FixturePath(), "Julia");
        ASSERT_FALSE(formula.GetHasError());
        // This object's stages stop at the parser; the parameters are the user's.
        formula.AddParam(std::make_unique<TComplexParam>("seed"));
        formula.AddParam(std::make_unique<TFloatParam>("limit"));
        formula.Log.clear();

        formula.OnGenerate = [&c](TTestParser &) { c.Fail(); };
        EXPECT_NO_THROW(formula.CodeChanged("Change"));
        EXPECT_EQ(formula.Log, (std::vector<std::string>{"generate", "reset"}));
        EXPECT_EQ(formula.GetParams().GetCount(), 2) << "the user's parameters stay";
        EXPECT_FALSE(formula.GetHasError());
        if (c.Text)
            EXPECT_EQ(formula.GetGenerateError(), c.Text);
        else
            EXPECT_NE(formula.GetGenerateError(), "");
        {
            TScopeLock<TErrorManager> lock(*ErrorManager());
            ASSERT_EQ(ErrorManager()->GetCount(), 1);
            const TCompilerMessage message = ErrorManager()->GetMessage(0);
            EXPECT_EQ(message.Kind, mkError);
            EXPECT_EQ(message.ErrorCode, c.Code);
            EXPECT_EQ(message.Line, c.Position.Line);
            EXPECT_EQ(message.Column, c.Position.Column);
            EXPECT_EQ(message.Text, formula.GetGenerateError() + ".");
        }

        // The next change generates again, and a success forgets the failure.
        formula.OnGenerate = nullptr;
        formula.Log.clear();
        formula.CodeChanged("Change");
        EXPECT_EQ(formula.Log, (std::vector<std::string>{"generate"}));
        EXPECT_EQ(formula.GetGenerateError(), "");
        ErrorManager()->ClearFormula();
    }
}

TEST_F(CompCompiler, FailedRegenerationLeavesEmptyCodeKeepsParametersAndRecovers) {
    std::unique_ptr<TTestCompiledFormula> formula = CompileEntry("ParamArray", pmDouble);
    ErrorManager()->SetFormula(formula.get());
    const int index = formula->GetParams().IndexOfName("count", pkOrdinary);
    ASSERT_GE(index, 0);
    auto *count = dynamic_cast<TIntParam *>(formula->GetParams().GetItem(index));
    ASSERT_NE(count, nullptr);

    // An array of 100 million floats is more than a formula's data block may hold.
    EXPECT_NO_THROW(count->SetValue(100000000));
    EXPECT_EQ(formula->GetPixelRoutine().GetSize(), 0) << "no routine of the refused generation may remain";
    EXPECT_EQ(formula->Section("INIT"), std::vector<std::uint8_t>());
    EXPECT_NE(formula->GetGenerateError(), "");
    EXPECT_FALSE(formula->GetHasError()) << "a refused value must not block the next regeneration";
    ASSERT_EQ(formula->GetParams().GetCount(), 1) << "the user's parameters stay";
    EXPECT_EQ(count->GetValue(), 100000000);
    {
        TScopeLock<TErrorManager> lock(*ErrorManager());
        ASSERT_EQ(ErrorManager()->GetCount(), 1);
        const TCompilerMessage message = ErrorManager()->GetMessage(0);
        EXPECT_EQ(message.ErrorCode, ceLiteralOutOfRange);
        EXPECT_EQ(message.Text, formula->GetGenerateError() + ".");
    }

    count->SetValue(3);
    EXPECT_EQ(formula->GetGenerateError(), "");
    ASSERT_GT(formula->GetPixelRoutine().GetSize(), 0);
    TTestPixelContext context(*formula, 1000);
    context.SetPixel(0, 0);
    // z starts at 1 and gains 1 per pass while |z|^2 < 100: passes with z = 2 .. 9 count.
    EXPECT_EQ(context.Iterate(), 8);
}

// ---------------------------------------------------------------------------------------------
// Parameters the formula writes

// A written parameter is a per-pixel variable: each loop pass reads what the pass before wrote,
// also where the read comes before the write in the text or is the write's own right side, and
// every pixel starts again from the parameter's value. The counts follow from q doubling per
// pass while real(z) < 1000: from q = 1 the right side of the write sees 1, 2, 4 ... and z takes
// 2 .. 512 (9 passes) where z is read after the write, 1 .. 512 (10 passes) where before; from
// q = 3, z takes 6 .. 768 (8 passes) or 3 .. 768 (9 passes). A parameter read as its constant
// value instead never reaches the bailout. The cases with the default run the code of the first
// generation, where the copy must already start from the default, not from the value before it.
TEST_F(CompCompiler, WrittenParameterDoublesOnEveryPass) {
    struct TCase {
        const char *Entry;
        const char *Value; // nullptr: the default, 1
        std::int32_t Passes;
    } cases[] = {
        {"DoublingParameter", nullptr, 9},
        {"DoublingParameter", "3", 8},
        {"DoublingBeforeTheRead", nullptr, 10},
        {"DoublingBeforeTheRead", "3", 9},
    };
    constexpr std::int32_t MaxIter = 100;
    for (const std::uint8_t precision : {pmDouble, pmExtended}) {
        for (const TCase &c : cases) {
            SCOPED_TRACE(std::string(c.Entry) + " q = " + (c.Value ? c.Value : "1") + ", precision " +
                         std::to_string(precision));
            std::unique_ptr<TTestCompiledFormula> formula =
                CompileEntry(c.Entry, precision, CompilerDataPath("CompCompiler_parameters.ofm"));
            if (c.Value) {
                const int index = formula->GetParams().IndexOfName("q", pkOrdinary);
                ASSERT_GE(index, 0);
                auto *q = dynamic_cast<TFloatParam *>(formula->GetParams().GetItem(index));
                ASSERT_NE(q, nullptr);
                const int generated = formula->GenerateCount;
                q->Value.SetText(c.Value);
                ASSERT_EQ(formula->GenerateCount, generated + 1);
            }
            ASSERT_GT(formula->GetPixelRoutine().GetSize(), 0);
            TTestPixelContext context(*formula, MaxIter);
            context.SetPixel(0, 0);
            EXPECT_EQ(context.Iterate(), c.Passes);
            // The same data block again: the copy starts from the parameter once more.
            context.SetPixel(0.5, 0.5);
            EXPECT_EQ(context.Iterate(), c.Passes);
        }
    }
}

} // namespace
