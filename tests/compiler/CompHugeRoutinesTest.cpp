#include "CompHugeRoutines.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "CompHugeAccess.h"
#include "CompRoutinesTestSupport.h"
#include "CompRoutines.h"
#include "CompTokenizer.h"
#include "HugeFPU.h"
#include "tests/Emulation.h"

namespace {

constexpr int Digits = 50;

// Runs code emitted by a THugeAccess as generated code runs it: esi the context, edi the data
// block, ebp the processor, eax an int operand; the final eax is kept.
class THugeCodeRunner {
public:
    THugeCodeRunner() {
        FArea = static_cast<std::uint8_t *>(
            VirtualAlloc(nullptr, AreaSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
    }
    ~THugeCodeRunner() {
        if (FArea)
            VirtualFree(FArea, 0, MEM_RELEASE);
    }

    std::uint32_t Run(const TCodeAssembler &Code, void *Context, void *Data, THugeProcessor &Processor,
                      std::uint32_t Eax = 0) {
        std::vector<std::uint8_t> bytes = {0x55, 0x53, 0x56, 0x57}; // push ebp, ebx, esi, edi
        auto load = [&](std::uint8_t Opcode, const void *Value) {
            bytes.push_back(Opcode);
            const auto v = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Value));
            for (int i = 0; i < 4; ++i)
                bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        };
        load(0xBE, Context);                                             // mov esi
        load(0xBF, Data);                                                // mov edi
        load(0xBD, &Processor);                                          // mov ebp
        load(0xB8, reinterpret_cast<const void *>(std::uintptr_t{Eax})); // mov eax
        bytes.insert(bytes.end(), Code.GetCode(), Code.GetCode() + Code.GetSize());
        load(0xA3, &FEaxOut);                                      // mov [FEaxOut], eax
        bytes.insert(bytes.end(), {0x5F, 0x5E, 0x5B, 0x5D, 0xC3}); // pop edi, esi, ebx, ebp; ret
        if (!FArea || bytes.size() > AreaSize)
            throw std::runtime_error("no room for the code");
        std::memcpy(FArea, bytes.data(), bytes.size());
        FlushInstructionCache(GetCurrentProcess(), FArea, bytes.size());
        std::uint16_t saved;
        SetFormulaFPUControl(saved);
        reinterpret_cast<void (*)()>(FArea)();
        RestoreFPUControl(saved);
        return FEaxOut;
    }

private:
    static constexpr size_t AreaSize = 65536;
    std::uint8_t *FArea = nullptr;
    static inline std::uint32_t FEaxOut = 0;
};

struct TReferenceCase {
    int Routine = 0;
    std::vector<std::string> In, Out;
    bool HasEax = false;
    std::int32_t Eax = 0;
    int Line = 0;
};

std::vector<std::string> SplitList(const std::string &Text) {
    std::vector<std::string> items;
    std::string trimmed;
    for (char ch : Text)
        if (ch != ' ')
            trimmed += ch;
    if (trimmed == "-")
        return items;
    std::stringstream in(trimmed);
    std::string item;
    while (std::getline(in, item, ','))
        items.push_back(item);
    return items;
}

// The lines of a fixture of tests/compiler/data, each split at '|' into `fields` fields.
struct TFixtureLine {
    int Number = 0;
    std::vector<std::string> Fields;
};

std::vector<TFixtureLine> ReadFixtureLines(const std::string &Name, size_t Fields) {
    std::ifstream file(std::string(TEST_DATA_DIR) + "compiler\\data\\" + Name);
    std::vector<TFixtureLine> lines;
    std::string line;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        TFixtureLine entry;
        entry.Number = number;
        std::stringstream in(line);
        std::string field;
        while (std::getline(in, field, '|'))
            entry.Fields.push_back(field);
        if (entry.Fields.size() != Fields)
            throw std::runtime_error("bad line " + std::to_string(number) + " in " + Name);
        lines.push_back(entry);
    }
    return lines;
}

std::vector<TReferenceCase> ReadReferenceCases() {
    std::vector<TReferenceCase> cases;
    for (const TFixtureLine &line : ReadFixtureLines("CompHugeRoutines_reference.txt", 4)) {
        TReferenceCase c;
        c.Line = line.Number;
        c.Routine = std::stoi(line.Fields[0]);
        c.In = SplitList(line.Fields[1]);
        c.Out = SplitList(line.Fields[2]);
        const std::vector<std::string> eax = SplitList(line.Fields[3]);
        c.HasEax = !eax.empty();
        if (c.HasEax)
            c.Eax = static_cast<std::int32_t>(std::stol(eax[0]));
        cases.push_back(c);
    }
    return cases;
}

class CompHugeRoutinesTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitializeCompRoutines();
        InitializeCompHugeAccess();
        UsePrecision(Digits);
        std::memset(Context, 0, sizeof Context);
    }
    // A processor and data numbers of the given precision.
    void UsePrecision(int DigitCount) {
        Processor = std::make_unique<THugeProcessor>(DigitCount);
        for (auto &value : Values) {
            value = std::make_unique<THugeFloat>(DigitCount);
            value->SetInteger(0);
        }
        std::memset(Data, 0, sizeof Data);
        for (int i = 0; i < SlotCount; ++i)
            Data[i] = Values[i].get();
    }
    void TearDown() override {
        DonePrintLine(Context);
        FinalizeCompHugeAccess();
        FinalizeCompRoutines();
    }

    // Slot i of the data block (offset 4 i) holds number i.
    static constexpr int SlotCount = 24;
    std::unique_ptr<THugeProcessor> Processor;
    std::unique_ptr<THugeFloat> Values[SlotCount];
    THugeFloatBase *Data[SlotCount + 8];
    alignas(16) std::uint8_t Context[0x200];
    THugeCodeRunner Runner;
};

// Difference of a result and its reference, scaled: the reference is read at the same precision.
long double Error(const THugeFloatBase &Got, const std::string &Expected) {
    THugeFloat expected(Digits);
    expected.SetText(Expected);
    THugeFloat difference(Digits);
    difference.Assign(Got);
    difference.Subtract(expected);
    return std::fabs(difference.GetExtended());
}

TEST_F(CompHugeRoutinesTest, ResultsMatchFiftyDigitReferences) {
    const std::vector<TReferenceCase> cases = ReadReferenceCases();
    ASSERT_FALSE(cases.empty());
    for (const TReferenceCase &c : cases) {
        SCOPED_TRACE("reference line " + std::to_string(c.Line) + ", routine " + std::to_string(c.Routine));
        const int in = static_cast<int>(c.In.size());
        const int out = static_cast<int>(c.Out.size());
        const int use = HugeRoutineStackUse(c.Routine);
        // Sentinels fill the registers the routine may not touch: any push beyond its allowance
        // overflows the processor, which marks itself failed.
        const int sentinels = 8 - std::max(in + use, out);
        ASSERT_GE(sentinels, 0);
        Processor->Reset();
        Processor->ClearFailure();
        for (int i = 0; i < sentinels; ++i)
            Processor->LoadInteger(1000 + i);

        long double scale = 1;
        for (int i = 0; i < in; ++i) {
            Values[i]->SetText(c.In[i]);
            scale = std::max(scale, std::fabs(Values[i]->GetExtended()));
        }
        THugeAccess access;
        for (int i = in - 1; i >= 0; --i) // the first listed ends on top
            access.LoadReal(4 * i, false);
        access.EmitRoutine(c.Routine);
        for (int i = 0; i < out; ++i)
            access.StoreRealPop(4 * (8 + i), false);
        const std::int32_t eax = static_cast<std::int32_t>(Runner.Run(access, Context, Data, *Processor));

        EXPECT_FALSE(Processor->Failed()) << "stack or pool misuse";
        EXPECT_EQ(Processor->TempIndex(), 0);
        ASSERT_EQ(Processor->Top(), 8 - sentinels);
        for (int i = 0; i < sentinels; ++i)
            EXPECT_EQ(Processor->Register(i).GetExtended(), 1000 + sentinels - 1 - i);
        for (int i = 0; i < out; ++i) {
            if (c.Out[i] == "nan" || c.Out[i] == "inf" || c.Out[i] == "-inf")
                continue;
            THugeFloat expected(Digits);
            expected.SetText(c.Out[i]);
            scale = std::max(scale, std::fabs(expected.GetExtended()));
        }
        for (int i = 0; i < out; ++i) {
            SCOPED_TRACE("result " + std::to_string(i) + ": " + Values[8 + i]->GetText() + " expected " +
                         c.Out[i]);
            const long double got = Values[8 + i]->GetExtended();
            if (c.Out[i] == "nan")
                EXPECT_TRUE(std::isnan(got));
            else if (c.Out[i] == "inf" || c.Out[i] == "-inf")
                EXPECT_EQ(got, c.Out[i] == "inf" ? HUGE_VALL : -HUGE_VALL);
            else
                EXPECT_LE(Error(*Values[8 + i], c.Out[i]), 1e-44L * scale);
        }
        if (c.HasEax) {
            if ((c.Routine >= 68 && c.Routine <= 73) || (c.Routine >= 118 && c.Routine <= 123))
                EXPECT_EQ(eax & 0xFF, c.Eax);
            else
                EXPECT_EQ(eax, c.Eax);
        }
    }
}

// sinh, cosh, tanh, coth and the complex sine, cosine, tangent and their hyperbolic kin near 0
// and for a tiny part beside an ordinary one, of both signs, at 20, 40 and 100 digits: every part
// of a result must keep its digits relative to itself. A formula that subtracts nearly equal
// values (E/2 - 1/(2E), 1 - e^(-2x)) leaves noise of the size of the last word of 1 there.
TEST_F(CompHugeRoutinesTest, SmallArgumentsKeepTheirDigits) {
    const std::vector<TFixtureLine> lines = ReadFixtureLines("CompHugeTiny_reference.txt", 4);
    ASSERT_FALSE(lines.empty());
    for (const TFixtureLine &line : lines) {
        const int routine = std::stoi(line.Fields[0]);
        const int digits = std::stoi(line.Fields[1]);
        const std::vector<std::string> in = SplitList(line.Fields[2]), out = SplitList(line.Fields[3]);
        SCOPED_TRACE("reference line " + std::to_string(line.Number) + ", routine " +
                     std::to_string(routine) + ", " + std::to_string(digits) + " digits");
        if (Processor->Digits() != digits)
            UsePrecision(digits);
        Processor->Reset();
        Processor->ClearFailure();
        THugeAccess access;
        for (int i = static_cast<int>(in.size()) - 1; i >= 0; --i) {
            Values[i]->SetText(in[i]);
            access.LoadReal(4 * i, false);
        }
        access.EmitRoutine(routine);
        for (int i = 0; i < static_cast<int>(out.size()); ++i)
            access.StoreRealPop(4 * (8 + i), false);
        Runner.Run(access, Context, Data, *Processor);
        EXPECT_FALSE(Processor->Failed());
        for (int i = 0; i < static_cast<int>(out.size()); ++i) {
            THugeFloat expected(digits), error(digits);
            expected.SetText(out[i]);
            error.Assign(*Values[8 + i]);
            error.Subtract(expected);
            error.Divide(expected);
            const long double relative = std::fabs(error.GetExtended());
            EXPECT_LE(relative, std::pow(10.0L, -digits))
                << "result " << i << ": " << Values[8 + i]->GetText() << " expected " << out[i];
        }
    }
}

// Values of slot i are i + 0.25, so that every copy shows where it came from.
class CompHugeRoutinesMoveTest : public CompHugeRoutinesTest {
protected:
    void SetUp() override {
        CompHugeRoutinesTest::SetUp();
        for (int i = 0; i < SlotCount; ++i)
            Values[i]->SetText(std::to_string(i) + ".25");
    }
    long double Slot(int i) const { return Values[i]->GetExtended(); }
};

TEST_F(CompHugeRoutinesMoveTest, ComplexLoadsAndStoresKeepTheParts) {
    THugeAccess access;
    access.LoadComplex(4 * 2, false);      // slots 2 and 3
    access.StoreComplex(4 * 10, false);    // kept on the stack
    access.StoreComplexPop(4 * 12, false); // then popped
    access.LoadIntImmediate(4 * 4);        // element offset of slots 4 and 5
    access.LoadComplexIndexed(0);
    access.LoadIntImmediate(4 * 14);
    access.StoreComplexIndexed(0);
    access.LoadIntImmediate(4 * 16);
    access.StoreComplexIndexedPop(0);
    access.LoadIntImmediate(4 * 6);
    access.LoadRealIndexed(0);
    access.LoadIntImmediate(4 * 18);
    access.StoreRealIndexed(0);
    access.StoreRealPop(4 * 19, false);
    Runner.Run(access, Context, Data, *Processor);
    EXPECT_FALSE(Processor->Failed());
    EXPECT_EQ(Processor->Top(), 8);
    const struct {
        int Slot;
        long double Expected;
    } cases[] = {{10, 2.25L}, {11, 3.25L}, {12, 2.25L}, {13, 3.25L}, {14, 4.25L}, {15, 5.25L},
                 {16, 4.25L}, {17, 5.25L}, {18, 6.25L}, {19, 6.25L}, {20, 20.25L}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Slot);
        EXPECT_EQ(Slot(c.Slot), c.Expected);
    }
}

TEST_F(CompHugeRoutinesMoveTest, ContextOperandsAreReadThroughEsi) {
    THugeFloatBase *slots[2] = {Values[5].get(), Values[6].get()};
    std::memcpy(Context + 0x40, slots, sizeof slots);
    THugeAccess access;
    access.LoadComplex(0x40, true);
    access.StoreComplexPop(4 * 8, false);
    Runner.Run(access, Context, Data, *Processor);
    EXPECT_EQ(Slot(8), 5.25L);
    EXPECT_EQ(Slot(9), 6.25L);
}

TEST_F(CompHugeRoutinesMoveTest, ArrayCopyAssignsEveryValueInOrder) {
    // A complex array of three elements is six numbers; the slot after them stays.
    THugeAccess access;
    access.EmitHugeArrayCopy(4 * 10, 4 * 1, 6);
    Runner.Run(access, Context, Data, *Processor);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Slot(10 + i), 1.25L + i) << i;
    EXPECT_EQ(Slot(16), 16.25L);
    EXPECT_EQ(Processor->Top(), 8);
    // the copies are values, not shared objects
    Values[1]->SetInteger(-1);
    EXPECT_EQ(Slot(10), 1.25L);
}

TEST_F(CompHugeRoutinesMoveTest, ArrayCopyInTheMiddleOfCodeKeepsTheStack) {
    // The copy runs between other statements: the processor's registers survive it.
    THugeAccess access;
    access.LoadReal(4 * 3, false);
    access.EmitHugeArrayCopy(4 * 10, 4 * 1, 2);
    access.StoreRealPop(4 * 12, false);
    Runner.Run(access, Context, Data, *Processor);
    EXPECT_EQ(Slot(12), 3.25L);
    EXPECT_EQ(Slot(11), 2.25L);
}

struct TOldZCase {
    std::int32_t Index;
    std::uint32_t Done;
    int Entry; // -1: complex 0
};

TEST_F(CompHugeRoutinesMoveTest, OldZReadsTheOrbitRecord) {
    // Entry k of the orbit record holds slots 2k (real) and 2k + 1 (imaginary).
    THugeFloatBase *orbit[8];
    for (int i = 0; i < 8; ++i)
        orbit[i] = Values[i].get();
    THugeFloatBase **orbitStart = orbit;
    std::memcpy(Context + pcOrbitStart, &orbitStart, sizeof orbitStart);
    const TOldZCase cases[] = {{0, 3, 0}, {2, 3, 2}, {3, 3, 3}, {4, 3, -1}, {-1, 3, -1}, {1, 0, -1}};
    for (const TOldZCase &c : cases) {
        SCOPED_TRACE(c.Index);
        std::memcpy(Context + pcIterationsDone, &c.Done, 4);
        Processor->Reset();
        THugeAccess access;
        access.EmitFunction(fnOldZ, vtInteger, vtComplex);
        access.StoreComplexPop(4 * 20, false);
        Runner.Run(access, Context, Data, *Processor, static_cast<std::uint32_t>(c.Index));
        EXPECT_EQ(Processor->Top(), 8);
        EXPECT_EQ(Slot(20), c.Entry < 0 ? 0.0L : 2 * c.Entry + 0.25L);
        EXPECT_EQ(Slot(21), c.Entry < 0 ? 0.0L : 2 * c.Entry + 1.25L);
    }
}

TEST_F(CompHugeRoutinesMoveTest, PrintAppendsTheDecimalTextsAndPops) {
    Values[0]->SetText("-1.5");
    Values[1]->SetText("0.1");
    THugeAccess access;
    access.LoadReal(4 * 2, false); // stays below the printed values
    access.LoadComplex(0, false);
    access.EmitRoutine(10);
    access.LoadReal(4 * 1, false);
    access.EmitRoutine(11);
    Runner.Run(access, Context, Data, *Processor);
    std::string *line;
    std::memcpy(&line, Context + pcPrintLine, sizeof line);
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(*line, "(" + Values[0]->GetText() + ", " + Values[1]->GetText() + ")" + Values[1]->GetText());
    EXPECT_EQ(Values[0]->GetText().substr(0, 4), "-1.5");
    EXPECT_EQ(Processor->Top(), 7);
    EXPECT_EQ(Processor->Register(0).GetExtended(), 2.25L);
}

struct TConversionCase {
    int Routine;
    std::uint32_t Eax;
    long double Real, Imag; // Imag NAN: a float result
};

TEST_F(CompHugeRoutinesMoveTest, IntAndBoolConversionsReadThePreviousEax) {
    const TConversionCase cases[] = {
        {193, static_cast<std::uint32_t>(-7), -7, 0},
        {194, 0x7FFFFFFF, 2147483647.0L, NAN},
        {195, 0x0101, 1, 0},
        {195, 0xFE, 0, 0},
        {196, 0x03, 1, NAN},
        {196, 0x80000000u, 0, NAN},
    };
    for (const TConversionCase &c : cases) {
        SCOPED_TRACE(c.Routine);
        Processor->Reset();
        THugeAccess access;
        access.EmitRoutine(c.Routine);
        access.StoreRealPop(4 * 8, false);
        if (!std::isnan(c.Imag))
            access.StoreRealPop(4 * 9, false);
        Runner.Run(access, Context, Data, *Processor, c.Eax);
        EXPECT_EQ(Processor->Top(), 8);
        EXPECT_EQ(Slot(8), c.Real);
        if (!std::isnan(c.Imag)) {
            EXPECT_EQ(Slot(9), c.Imag);
        }
    }
}

struct TNaNCase {
    int Routine;
    bool NaNOnTop;
    std::int32_t Expected; // al for comparisons, eax for rounding
};

TEST_F(CompHugeRoutinesMoveTest, NaNOperandsBehaveAsOnTheX87) {
    // A comparison with a NaN decides by the processor flags of an unordered pair: ==, < and <=
    // hold, !=, > and >= do not, whichever side the NaN is on. A NaN stores as the integer
    // indefinite value.
    const TNaNCase cases[] = {
        {118, true, 1},         {119, true, 0},         {120, true, 1},         {121, true, 1},
        {122, true, 0},         {123, true, 0},         {120, false, 1},        {123, false, 0},
        {119, false, 0},        {68, true, 1},          {69, true, 0},          {70, true, 1},
        {73, false, 0},         {114, true, INT32_MIN}, {115, true, INT32_MIN}, {116, true, INT32_MIN},
        {117, true, INT32_MIN},
    };
    Values[0]->SetText("-1");
    Values[1]->SetText("2");
    for (const TNaNCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Routine << (c.NaNOnTop ? " NaN on top" : " NaN below"));
        const bool complex = c.Routine >= 68 && c.Routine <= 73;
        const bool rounding = c.Routine >= 114 && c.Routine <= 117;
        Processor->Reset();
        THugeAccess access;
        auto pushNaN = [&] {
            access.LoadReal(0, false);
            access.EmitRoutine(109); // sqrt (-1)
        };
        auto pushOperand = [&] {
            if (c.NaNOnTop)
                access.LoadReal(4, false);
            else
                pushNaN();
            if (complex)
                access.EmitRoutine(192);
        };
        if (!rounding)
            pushOperand();
        if (c.NaNOnTop)
            pushNaN();
        else
            access.LoadReal(4, false);
        if (complex)
            access.EmitRoutine(192);
        access.EmitRoutine(c.Routine);
        const auto eax = static_cast<std::int32_t>(Runner.Run(access, Context, Data, *Processor));
        EXPECT_EQ(Processor->Top(), 8);
        EXPECT_EQ(rounding ? eax : (eax & 0xFF), c.Expected);
        // the same on the x87 template
        TCodeRun run;
        const long double nan = std::nanl("");
        if (rounding)
            run.X87In = {nan};
        else if (complex)
            run.X87In =
                c.NaNOnTop ? std::vector<long double>{nan, 0, 2, 0} : std::vector<long double>{2, 0, nan, 0};
        else
            run.X87In = c.NaNOnTop ? std::vector<long double>{nan, 2} : std::vector<long double>{2, nan};
        RunCode(RoutineAddress(c.Routine), RoutineLength(c.Routine), run);
        EXPECT_EQ(rounding ? static_cast<std::int32_t>(run.EaxOut)
                           : static_cast<std::int32_t>(run.EaxOut & 0xFF),
                  c.Expected);
    }
}

// Every routine with real operands against the x87 template of the same number, on operands that
// include zeros, negative parts and values outside the real domains: results (NaN and infinities
// included) must agree to the x87's precision, so that an image keeps its look when a zoom
// crosses into arbitrary precision.
struct TShape {
    int First, Last;
    int In, Out;
    bool IntResult;
};

TEST_F(CompHugeRoutinesTest, ResultsAgreeWithTheX87Templates) {
    const TShape shapes[] = {
        {18, 19, 0, 2, false},  {20, 20, 2, 4, false},  {21, 21, 2, 0, false},   {22, 29, 4, 2, false},
        {30, 54, 2, 2, false},  {55, 55, 2, 1, false},  {56, 56, 2, 2, false},   {57, 57, 2, 1, false},
        {58, 59, 2, 2, false},  {60, 61, 2, 1, false},  {62, 66, 2, 2, false},   {67, 67, 2, 1, false},
        {68, 73, 4, 0, true},   {74, 75, 0, 1, false},  {76, 76, 1, 2, false},   {77, 77, 1, 0, false},
        {78, 87, 2, 1, false},  {88, 104, 1, 1, false}, {105, 106, 1, 2, false}, {107, 113, 1, 1, false},
        {114, 117, 1, 0, true}, {118, 123, 2, 0, true}, {144, 153, 3, 2, false}, {192, 192, 1, 2, false},
    };
    const long double operands[][4] = {
        {0.7L, -0.4L, 1.3L, 0.2L},
        {-2.5L, 1.75L, 0.6L, -0.9L},
        {0, 0, 2, 1},
        {-1.5L, 0, -1, 0},
        {-0.3L, 2.2L, 0, -1.1L},
        {3, -3, 0.5L, 0.5L},
        {0.5L, 0.5L, -3, 3},
        {1, 1, 1, 1},
        {-1, 0, 0, 0},
        {0.3L, 1e12L, -1e12L, 0.5L},
        {-1e12L, 0.25L, 0.5L, 3e10L},
        {2.5L, -2.5L, 7.25L, 0},
        {40, -0.5L, 1e6L, 3},
    };
    // One word and many words of mantissa: the routines must not depend on the width.
    for (int digits : {Digits, 300})
        for (const TShape &shape : shapes)
            for (int n = shape.First; n <= shape.Last; ++n)
                for (const auto &values : operands) {
                    // z + sqrt (z^2 - 1) and its kin cancel for large z: at 64 bits the inverse functions
                    // lose every digit there, at 50 digits they do not
                    const bool large = std::fabs(values[0]) > 1e9L || std::fabs(values[1]) > 1e9L;
                    if (large && n >= 32 && n <= 38)
                        continue;

                    if (Processor->Digits() != digits)
                        UsePrecision(digits);
                    SCOPED_TRACE(testing::Message()
                                 << digits << " digits, routine " << n << " operands " << values[0] << ", "
                                 << values[1] << ", " << values[2] << ", " << values[3]);
                    TCodeRun run;
                    run.X87In.assign(values, values + shape.In);
                    run.StackUse = RoutineStackUse(n);
                    run.X87OutCount = shape.Out;
                    RunCode(RoutineAddress(n), RoutineLength(n), run);

                    // sentinels below the operands catch a routine that needs more registers than its
                    // stack use allows: the processor overflows and marks itself failed
                    Processor->Reset();
                    Processor->ClearFailure();
                    const int sentinels = 8 - std::max(shape.In + HugeRoutineStackUse(n), shape.Out);
                    for (int i = 0; i < sentinels; ++i)
                        Processor->LoadInteger(1000 + i);
                    THugeAccess access;
                    for (int i = shape.In - 1; i >= 0; --i) {
                        Values[i]->SetExtended(values[i]);
                        access.LoadReal(4 * i, false);
                    }
                    access.EmitRoutine(n);
                    for (int i = 0; i < shape.Out; ++i)
                        access.StoreRealPop(4 * (8 + i), false);
                    const std::uint32_t eax = Runner.Run(access, Context, Data, *Processor);
                    EXPECT_FALSE(Processor->Failed());
                    EXPECT_EQ(Processor->TempIndex(), 0);
                    EXPECT_EQ(Processor->Top(), 8 - sentinels);
                    if (Processor->Top() == 8 - sentinels && sentinels > 0) {
                        EXPECT_EQ(Processor->Register(0).GetExtended(), 1000 + sentinels - 1);
                    }
                    if (shape.IntResult) {
                        const bool byte = n < 114 || n > 117;
                        EXPECT_EQ(byte ? (eax & 0xFF) : eax, byte ? (run.EaxOut & 0xFF) : run.EaxOut);
                    }
                    long double scale = 1;
                    for (int i = 0; i < shape.In; ++i)
                        scale = std::max(scale, std::fabs(values[i]));
                    for (int i = 0; i < shape.Out; ++i)
                        if (std::isfinite(run.X87Out[i]))
                            scale = std::max(scale, std::fabs(run.X87Out[i]));
                    // The x87 side is only double-accurate under emulation; the arbitrary-precision side is
                    // not emulated arithmetic and keeps its digits.
                    const long double accuracy = RunningUnderEmulation() ? 10 * EmulatedX87Accuracy : 1e-15L;
                    for (int i = 0; i < shape.Out; ++i) {
                        const long double got = Values[8 + i]->GetExtended(), expected = run.X87Out[i];
                        if (std::isnan(expected))
                            EXPECT_TRUE(std::isnan(got)) << "result " << i << ": " << got;
                        else if (std::isinf(expected))
                            EXPECT_EQ(got, expected) << "result " << i;
                        else
                            EXPECT_LE(std::fabs(got - expected), accuracy * scale)
                                << "result " << i << ": " << got << " expected " << expected;
                    }
                }
}

// Colour routines with float operands must paint exactly what the x87 templates paint, so that
// an image does not change where a zoom switches to arbitrary precision.
struct TColorCase {
    const char *Name;
    int Routine;
    std::vector<float> Colors;       // 0, 4 or 8 floats: first colour, then second
    std::vector<long double> Floats; // top first
    bool ColorOut;
};

class CompHugeColorRoutinesTest : public CompHugeRoutinesTest {
protected:
    void SetUp() override {
        CompHugeRoutinesTest::SetUp();
        SetGradientColorFunction([](void *Mapper, float Position, float *Color) {
            const float tag = Mapper == reinterpret_cast<void *>(0x1000) ? 0.25f : 0.75f;
            Color[0] = Position;
            Color[1] = Position * 0.5f;
            Color[2] = tag;
            Color[3] = 1;
        });
        const std::uintptr_t inside = 0x1000, outside = 0x2000;
        std::memcpy(Context + pcInsideMapper, &inside, 4);
        std::memcpy(Context + pcOutsideMapper, &outside, 4);
    }
    void TearDown() override {
        SetGradientColorFunction(nullptr);
        CompHugeRoutinesTest::TearDown();
    }
};

TEST_F(CompHugeColorRoutinesTest, ResultsEqualThoseOfTheX87Templates) {
    const std::vector<float> c1 = {0.9f, 0.3f, 0.1f, 0.6f}, c2 = {0.2f, 0.45f, 0.8f, 0.5f};
    std::vector<float> both = c1;
    both.insert(both.end(), c2.begin(), c2.end());
    std::vector<float> clearSecond = both;
    clearSecond[7] = 0;
    std::vector<float> bothClear = clearSecond;
    bothClear[3] = 0;
    const TColorCase cases[] = {
        {"colour * float", 156, c1, {1.5L}, true},
        {"colour / float", 157, c1, {3.0L}, true},
        {"rgb", 158, {}, {1.0L, 0.5L, 0.0L}, true},
        {"rgba", 159, {}, {0.1L, 0.2L, 0.3L, 0.4L}, true},
        {"hsl", 160, {}, {4.5L, 0.6L, 0.3L}, true},
        {"hsla", 161, {}, {1.2L, 0.5L, 0.7L, 0.25L}, true},
        {"red", 162, c1, {}, false},
        {"green", 163, c1, {}, false},
        {"blue", 164, c1, {}, false},
        {"hue", 165, c1, {}, false},
        {"sat", 166, c1, {}, false},
        {"lum", 167, c1, {}, false},
        {"alpha", 168, c1, {}, false},
        {"inside gradient", 169, {}, {0.3L}, true},
        {"outside gradient", 170, {}, {0.7L}, true},
        {"blend", 171, both, {0.3L}, true},
        {"blend at 0", 171, both, {0.0L}, true},
        {"blend at 1", 171, both, {1.0L}, true},
        {"compose", 172, both, {0.7L}, true},
        {"compose, second clear", 172, clearSecond, {0.7L}, true},
        {"compose, both clear", 172, bothClear, {0.7L}, true},
    };
    alignas(16) float colors[8];
    for (const TColorCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TCodeRun run;
        run.X87In = c.Floats;
        run.ColorsIn = c.Colors;
        run.Context = Context;
        run.StackUse = RoutineStackUse(c.Routine);
        run.ColorOut = c.ColorOut;
        run.X87OutCount = c.ColorOut ? 0 : 1;
        RunCode(RoutineAddress(c.Routine), RoutineLength(c.Routine), run);

        // The colours sit in the context; the floats in data slots.
        Processor->Reset();
        std::memset(colors, 0, sizeof colors);
        std::memcpy(colors, c.Colors.data(), c.Colors.size() * sizeof(float));
        const int colorOffset = 0x100;
        std::memcpy(Context + colorOffset, colors, sizeof colors);
        THugeAccess access;
        const int colorCount = static_cast<int>(c.Colors.size()) / 4;
        for (int i = colorCount - 1; i >= 0; --i) // the first colour ends at [esp]
            access.LoadColor(colorOffset + 16 * i, true);
        const int floatCount = static_cast<int>(c.Floats.size());
        for (int i = floatCount - 1; i >= 0; --i) {
            Values[i]->SetExtended(c.Floats[i]);
            access.LoadReal(4 * i, false);
        }
        access.EmitRoutine(c.Routine);
        if (c.ColorOut)
            access.StoreColorPop(colorOffset + 32, true);
        else
            access.StoreRealPop(4 * 8, false);
        Runner.Run(access, Context, Data, *Processor);

        EXPECT_EQ(Processor->Top(), 8);
        EXPECT_FALSE(Processor->Failed());
        if (c.ColorOut) {
            float got[4];
            std::memcpy(got, Context + colorOffset + 32, sizeof got);
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(got[k], run.ColorOutValue[k]) << "channel " << k;
        } else {
            ASSERT_EQ(run.X87Out.size(), 1u);
            EXPECT_EQ(Values[8]->GetExtended(), run.X87Out[0]);
        }
    }
}

TEST_F(CompHugeColorRoutinesTest, SpecificColourResults) {
    // Independent of the templates: rgb gives alpha 1; compose with a clear second colour keeps
    // the first one.
    THugeAccess access;
    Values[0]->SetText("1");
    Values[1]->SetText("0.5");
    Values[2]->SetText("0");
    access.LoadReal(8, false);
    access.LoadReal(4, false);
    access.LoadReal(0, false);
    access.EmitRoutine(158);
    access.StoreColorPop(0x100, true);
    Runner.Run(access, Context, Data, *Processor);
    float got[4];
    std::memcpy(got, Context + 0x100, sizeof got);
    EXPECT_EQ(got[0], 1.0f);
    EXPECT_EQ(got[1], 0.5f);
    EXPECT_EQ(got[2], 0.0f);
    EXPECT_EQ(got[3], 1.0f);
}

} // namespace
