// Arbitrary-precision pixel routines end to end: a Mandelbrot formula built as an expression tree,
// generated for arbitrary precision, joined with the routine assembler's pieces into a pixel
// routine and run on a THugeProcessor. The deep orbit is checked against a 60-digit mpmath run
// (tools/comp_huge_orbit_reference.py); the repeated runs are checked for heap allocations.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompAssembler.h"
#include "CompDefinitions.h"
#include "CompExpressions.h"
#include "CompGenerator.h"
#include "CompHugeOrbitTestSupport.h"
#include "CompHugeAccess.h"
#include "CompHugeRoutines.h"
#include "CompRoutines.h"
#include "CompStorage.h"
#include "CompTokenizer.h"
#include "HugeFPU.h"
#include "HugeMath.h"

// The counting operator new of this test program is defined here.
#define COUNTING_OPERATOR_NEW_HERE
#include "tests/AllocationCounting.h"

namespace {

// ---------------------------------------------------------------------------------------------
// The formula: init z = 0; loop z = z*z + pixel (or sqr(z) + pixel); bailout |z| < 4, as a
// hand-built tree.

const TObject *const NoFormula = reinterpret_cast<const TObject *>(0x12345678); // never printed to

TCompilePosition At() {
    return {0, 0};
}

TExpressionPtr Pred(std::uint8_t Symbol) {
    return std::make_unique<TPredefinedExpression>(At(), Symbol);
}

TExpressionPtr Ref(TStorageNode *Node) {
    return std::make_unique<TStorageExpression>(At(), Node);
}

TExpressionPtr Bin(int Operator, TExpressionPtr Left, TExpressionPtr Right, std::uint8_t Type) {
    auto e = std::make_unique<TBinaryOperatorExpression>(At(), std::move(Left), std::move(Right),
                                                         static_cast<std::uint8_t>(Operator));
    e->SetReturnType(Type);
    return e;
}

TExpressionPtr Assign(TExpressionPtr Target, TExpressionPtr Value) {
    const std::uint8_t type = Value->GetReturnType();
    return Bin(opAssign, std::move(Target), std::move(Value), type);
}

TExpressionPtr Modulus(TExpressionPtr Operand) {
    auto e = std::make_unique<TUnaryOperatorExpression>(At(), std::move(Operand),
                                                        static_cast<std::uint8_t>(uoModulus));
    e->SetReturnType(vtFloat);
    return e;
}

TExpressionPtr Label(const std::string &Name) {
    return std::make_unique<TLabelExpression>(At(), 0, Name);
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
        ADD_FAILURE() << "no section " << Name;
        static const std::vector<std::uint8_t> none;
        return none;
    }
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> Sections;
};

// Pixel context fields the routine reads or writes.
constexpr std::int32_t cxThreshold = 0x00, cxMask = 0x04, cxSavesLeft = 0x08, cxSavesPerStep = 0x10,
                       cxTolerance = 0x14, cxMaxIter = 0x34, cxIterationsDone = 0x38, cxInsideInit = 0x3C,
                       cxInsideFinal = 0x44, cxOutsideInit = 0x48, cxOutsideFinal = 0x50,
                       cxFormulaData = 0x6C, cxStopFlag = 0x98, cxZ = 0xA8, cxPixel = 0xB8;

// A Mandelbrot pixel routine in arbitrary precision with everything it runs on: the processor,
// the pixel context with its numbers, the formula's data block and empty coloring code.
class TMandelbrotMachine {
public:
    explicit TMandelbrotMachine(int Digits, bool Square = false) : FProcessor(Digits) {
        FStorage.Digits = Digits;
        FStorage.Precision = pmArbitrary;
        auto zero = std::make_unique<THugeComplexConstant>(Digits);
        THugeFloat four(Digits, 4);
        TStorageNode *start = FStorage.Add(std::make_unique<TConstantNode>(std::move(zero)));
        TStorageNode *limit =
            FStorage.Add(std::make_unique<TConstantNode>(std::make_unique<THugeFloatConstant>(Digits, four)));

        TExpressionList program;
        program.Add(Label("init"));
        program.Add(Assign(Pred(psZ), Ref(start)));
        program.Add(Label("loop"));
        TExpressionPtr square = Bin(opMultiply, Pred(psZ), Pred(psZ), vtComplex);
        if (Square) {
            auto call = std::make_unique<TFunctionExpression>(At(), static_cast<std::uint8_t>(fnSqr));
            call->Add(Pred(psZ));
            call->SetReturnType(vtComplex);
            square = std::move(call);
        }
        program.Add(Assign(Pred(psZ), Bin(opAdd, std::move(square), Pred(psPixel), vtComplex)));
        program.Add(Label("bailout"));
        program.Add(Bin(opLess, Modulus(Pred(psZ)), Ref(limit), vtBoolean));
        TSectionCollector generator;
        generator.GenerateSections(program, FStorage, pmArbitrary, NoFormula);

        const auto &init = generator.Section("INIT");
        const auto &loop = generator.Section("LOOP");
        const auto &bailout = generator.Section("BAILOUT");
        FRoutine.AssemblePixelRoutine(pmArbitrary, cxFormulaData, init, loop, bailout);
        FColoring.EmitReturn();

        FData.assign(static_cast<std::size_t>(std::max(FStorage.DataSize, 1)) + 16, 0);
        FStorage.InitData(DataBlock());
        InitHugeContextValues(FContext, Digits);
        Put<void *>(cxFormulaData, DataBlock());
        for (std::int32_t field : {cxInsideInit, cxInsideFinal, cxOutsideInit, cxOutsideFinal})
            Put<const void *>(field, FColoring.GetCode());
    }
    ~TMandelbrotMachine() {
        DoneHugeContextValues(FContext);
        FStorage.DoneData(DataBlock());
    }
    TMandelbrotMachine(const TMandelbrotMachine &) = delete;
    TMandelbrotMachine &operator=(const TMandelbrotMachine &) = delete;

    THugeFloatBase &Number(std::int32_t Offset) { return *Get<THugeFloatBase *>(Offset); }
    THugeProcessor &Processor() { return FProcessor; }

    // Runs the pixel at most MaxIter iterations; with Periodicity the check runs from the first
    // iteration with a tolerance of 1e-12. Returns the iterations done.
    std::int32_t Run(std::int32_t MaxIter, bool Periodicity) {
        Put<std::uint32_t>(cxThreshold, Periodicity ? static_cast<std::uint32_t>(MaxIter) + 1 : 0);
        Put<std::uint32_t>(cxMask, 1);
        Put<std::int32_t>(cxSavesLeft, 10);
        Put<std::int32_t>(cxSavesPerStep, 10);
        Put<float>(cxTolerance, 1e-12f);
        Put<std::int32_t>(cxMaxIter, MaxIter);
        Put<std::uint8_t>(cxStopFlag, 0);
        FRoutine.Execute(FContext, &FProcessor);
        return Get<std::int32_t>(cxIterationsDone);
    }

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

class CompHugeOrbit : public testing::Test {
protected:
    static void SetUpTestSuite() {
        InitializeCompRoutines();
        InitializeCompHugeAccess();
    }
    static void TearDownTestSuite() { FinalizeCompHugeAccess(); }
};

// ---------------------------------------------------------------------------------------------
// A deep orbit against the reference

TEST_F(CompHugeOrbit, DeepOrbitAgreesWithTheReferenceTo55Digits) {
    // The point lies about 1e-30 inside the main cardioid, where the orbit circles slowly for
    // thousands of iterations without escaping and rounding errors grow only a few hundredfold:
    // 60 digits keep every iterate good to beyond 55 digits; 40 digits already miss at the
    // second iterate (the square of a 36-digit point needs more).
    const TReferenceOrbit orbit = ReadReferenceOrbit();
    ASSERT_FALSE(orbit.CRe.empty()) << "reference data missing";
    ASSERT_FALSE(orbit.Iterates.empty());
    for (bool square : {false, true}) {
        SCOPED_TRACE(square ? "sqr(z) + pixel" : "z*z + pixel");
        TMandelbrotMachine machine(60, square);
        machine.Number(cxPixel).SetText(orbit.CRe);
        machine.Number(cxPixel + 4).SetText(orbit.CIm);
        for (const TReferenceIterate &iterate : orbit.Iterates) {
            SCOPED_TRACE("iteration " + std::to_string(iterate.Iteration));
            // A maximum of k iterations stops the loop with the k-th iterate in z.
            EXPECT_EQ(machine.Run(iterate.Iteration, false), iterate.Iteration) << "the orbit escaped";
            THugeFloat re(60), im(60);
            re.SetText(iterate.Re);
            im.SetText(iterate.Im);
            const long double tolerance = 1e-55L * std::hypot(re.GetExtended(), im.GetExtended());
            EXPECT_LE(Distance(machine.Number(cxZ), iterate.Re), tolerance) << "real part " << iterate.Re;
            EXPECT_LE(Distance(machine.Number(cxZ + 4), iterate.Im), tolerance)
                << "imaginary part " << iterate.Im;
        }
        EXPECT_FALSE(machine.Processor().Failed());
        EXPECT_EQ(machine.Processor().Top(), THugeProcessor::RegisterCount) << "values left on the stack";
        EXPECT_EQ(machine.Processor().TempIndex(), 0);
    }
}

// ---------------------------------------------------------------------------------------------
// No heap memory while pixels are calculated

TEST_F(CompHugeOrbit, AssembledRoutineAllocatesNothing) {
    ASSERT_TRUE(TAllocationCounter::InUse()) << "the counting operator new is not the one in use";
    constexpr int digits = 100;
    constexpr std::int32_t maxIter = 150;
    TMandelbrotMachine machine(digits);
    // Points that escape at once, later, never, and points inside with the periodicity check on
    // (a periodic end counts as maxiter), so that every path of the loop runs: the bailout,
    // the saves and comparisons of the periodicity check, both loop exits.
    struct TPoint {
        const char *Re, *Im;
        bool Periodicity;
    };
    const TPoint points[] = {
        {"1.5", "1.5", false},
        {"-0.75", "0.1", false},
        {"-0.1", "0.2", false},
        {"-0.1", "0.2", true},
        {"-1", "0", true},
        {"0.3", "0.5", true},
        {"-0.390540870218400050669762600713386089", "-0.586787907346968751196714643054880009", false},
    };
    std::vector<std::unique_ptr<THugeFloat>> values;
    for (const TPoint &point : points) {
        values.push_back(std::make_unique<THugeFloat>(digits));
        values.back()->SetText(point.Re);
        values.push_back(std::make_unique<THugeFloat>(digits));
        values.back()->SetText(point.Im);
    }
    std::vector<std::int32_t> firstCounts;
    TAllocationCounter counter;
    for (int pass = 0; pass < 4; ++pass) {
        for (std::size_t i = 0; i < std::size(points); ++i) {
            machine.Number(cxPixel).Assign(*values[2 * i]);
            machine.Number(cxPixel + 4).Assign(*values[2 * i + 1]);
            // The first pass warms up; every later run is counted.
            if (pass > 0)
                counter.Start();
            const std::int32_t done = machine.Run(maxIter, points[i].Periodicity);
            counter.Stop();
            if (pass == 0)
                firstCounts.push_back(done);
            else
                EXPECT_EQ(done, firstCounts[i]) << "point " << i << " pass " << pass;
        }
    }
    EXPECT_EQ(counter.Count(), 0) << "allocations while running the pixel routine";
    EXPECT_FALSE(machine.Processor().Failed());
    EXPECT_EQ(machine.Processor().TempIndex(), 0);
    // The points reach the exits of the loop: an escape at once, a later escape, maxiter.
    EXPECT_EQ(firstCounts[0], 0);
    EXPECT_GT(firstCounts[1], 0);
    EXPECT_LT(firstCounts[1], maxIter);
    EXPECT_EQ(firstCounts[2], maxIter);
}

} // namespace
