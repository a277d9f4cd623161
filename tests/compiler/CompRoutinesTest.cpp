#include "CompRoutines.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "CompMessages.h"
#include "CompGlobalsTestSupport.h"
#include "CompRoutinesTestSupport.h"
#include "tests/Emulation.h"

// The 80-bit constants the templates read.
extern "C" long double CompConstPi, CompConstMinusPiHalf, CompConstLn2Half;

namespace {

class TCompRoutinesEnvironment : public testing::Environment {
public:
    void SetUp() override { InitializeCompRoutines(); }
};

const testing::Environment *const CompRoutinesEnvironment =
    testing::AddGlobalTestEnvironment(new TCompRoutinesEnvironment);

std::vector<std::string> Split(const std::string &Text, char Separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(Text);
    while (std::getline(in, part, Separator)) {
        const size_t first = part.find_first_not_of(' ');
        const size_t last = part.find_last_not_of(' ');
        parts.push_back(first == std::string::npos ? "" : part.substr(first, last - first + 1));
    }
    return parts;
}

std::vector<long double> ParseList(const std::string &Text) {
    std::vector<long double> values;
    if (Text != "-")
        for (const std::string &item : Split(Text, ','))
            values.push_back(ParseExactNumber(item));
    return values;
}

// One line of the reference table made by tools/comp_routines_reference.py.
struct TReferenceCase {
    std::string Line;
    int Routine = 0;
    long double Tolerance = 0;
    std::vector<long double> X87In;
    std::vector<long long> IntsIn;
    std::vector<long double> ColorsIn;
    std::vector<long double> X87Out;
    std::string IntOut; // "eax=n", "al=n" or "-"
    std::vector<long double> ColorOut;
};

std::vector<TReferenceCase> LoadReferenceCases() {
    std::ifstream file(std::string(TEST_DATA_DIR) + "compiler\\data\\CompRoutines_reference.txt");
    std::vector<TReferenceCase> cases;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::string body = line.substr(0, line.find("  #"));
        const std::vector<std::string> fields = Split(body, '|');
        if (fields.size() != 8)
            throw std::runtime_error("bad reference line: " + line);
        TReferenceCase c;
        c.Line = line;
        c.Routine = std::stoi(fields[0]);
        c.Tolerance = std::stold(fields[1]);
        c.X87In = ParseList(fields[2]);
        if (fields[3] != "-")
            for (const std::string &item : Split(fields[3], ' '))
                c.IntsIn.push_back(std::stoll(item));
        c.ColorsIn = ParseList(fields[4]);
        c.X87Out = ParseList(fields[5]);
        c.IntOut = fields[6];
        c.ColorOut = ParseList(fields[7]);
        cases.push_back(c);
    }
    return cases;
}

// |Got - Expected| within Tolerance relative to max(1, Scale); NaN and infinities must match.
::testing::AssertionResult Near(long double Got, long double Expected, long double Tolerance,
                                long double Scale) {
    if (std::isnan(Expected)) {
        if (std::isnan(Got))
            return ::testing::AssertionSuccess();
    } else if (std::isinf(Expected)) {
        if (Got == Expected)
            return ::testing::AssertionSuccess();
    } else if (std::fabs(Got - Expected) <= Tolerance * std::max(1.0L, Scale)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got " << Format("%.21Lg", Got) << ", expected " << Format("%.21Lg", Expected) << ", error "
           << Format("%.3Lg", std::fabs(Got - Expected));
}

long double LargestFinite(const std::vector<long double> &Values) {
    long double largest = 0;
    for (long double v : Values)
        if (std::isfinite(v))
            largest = std::max(largest, std::fabs(v));
    return largest;
}

TEST(CompRoutinesReference, ResultsMatchTheReferenceAndKeepTheRest) {
    const std::vector<TReferenceCase> cases = LoadReferenceCases();
    ASSERT_FALSE(cases.empty());
    unsigned char context[512] = {};
    unsigned char data[64] = {};
    for (const TReferenceCase &c : cases) {
        SCOPED_TRACE(c.Line);
        TCodeRun run;
        run.X87In = c.X87In;
        if (!c.IntsIn.empty())
            run.Eax = static_cast<std::uint32_t>(c.IntsIn[0]);
        if (c.IntsIn.size() > 1)
            run.Edx = static_cast<std::uint32_t>(c.IntsIn[1]);
        // ecx and edx carry garbage where the routine does not read them.
        if (c.IntsIn.size() < 2)
            run.Edx = 0xDEADBEEF;
        run.Ecx = 0xC0FFEE11;
        for (long double v : c.ColorsIn)
            run.ColorsIn.push_back(static_cast<float>(v));
        run.Context = context;
        run.Data = data;
        run.StackUse = RoutineStackUse(c.Routine);
        run.X87OutCount = static_cast<int>(c.X87Out.size());
        run.ColorOut = !c.ColorOut.empty();
        ASSERT_NE(RoutineAddress(c.Routine), nullptr);
        RunCode(RoutineAddress(c.Routine), RoutineLength(c.Routine), run);

        const long double scale = LargestFinite(c.X87Out);
        // Under emulation the transcendental instructions the templates use are only double-accurate.
        const long double tolerance =
            RunningUnderEmulation() ? std::max(c.Tolerance, EmulatedX87Accuracy) : c.Tolerance;
        for (size_t i = 0; i < c.X87Out.size(); ++i)
            EXPECT_TRUE(Near(run.X87Out[i], c.X87Out[i], tolerance, scale)) << "x87 result " << i;
        if (c.IntOut.rfind("eax=", 0) == 0) {
            EXPECT_EQ(static_cast<std::int32_t>(run.EaxOut), std::stoll(c.IntOut.substr(4)));
        } else if (c.IntOut.rfind("al=", 0) == 0) {
            EXPECT_EQ(run.EaxOut & 0xFF, std::stoul(c.IntOut.substr(3)));
        }
        for (size_t i = 0; i < c.ColorOut.size(); ++i)
            EXPECT_TRUE(Near(run.ColorOutValue[i], c.ColorOut[i], tolerance, std::fabs(c.ColorOut[i])))
                << "channel " << i;

        EXPECT_TRUE(run.SentinelsIntact) << "a register below the operands changed";
        EXPECT_FALSE(run.StackFault) << "more x87 registers used than the stack use allows";
        EXPECT_TRUE(run.FpuEmpty) << "values left on the x87 stack";
        EXPECT_TRUE(run.RegistersKept);
        const int colorsIn = static_cast<int>(c.ColorsIn.size()) / 4, colorsOut = c.ColorOut.empty() ? 0 : 1;
        EXPECT_EQ(run.EspChange, 16 * (colorsIn - colorsOut));
    }
}

// ---------------------------------------------------------------------------------------------

TEST(CompRoutinesTable, NumbersOutsideTheTableAndTheArbitraryPrecisionOnesHaveNoTemplate) {
    for (int n : {0, 4, 9, 198, -1, 1000}) {
        EXPECT_EQ(RoutineAddress(n), nullptr) << n;
        EXPECT_EQ(RoutineLength(n), 0) << n;
        EXPECT_EQ(RoutineStackUse(n), 0) << n;
    }
    // The bounds check jumps over a report call whose length it computes from routine 17.
    EXPECT_EQ(RoutineLength(17), 16);
    for (int n = FirstRoutine; n <= LastRoutine; ++n) {
        if (n != 4 && n != 9) {
            EXPECT_GT(RoutineLength(n), 0) << n;
        }
    }
}

TEST(CompRoutinesTable, TemplatesWithDocumentedBytesMatchThem) {
    // Byte sequences that other code depends on: the worked example of a compiled statement
    // (complex square and addition) and the oldz, multiplication and modulo shapes.
    const struct {
        int Routine;
        std::vector<std::uint8_t> Bytes;
    } cases[] = {
        {22, {0xDE, 0xC2, 0xDE, 0xC2}},
        {45,
         {0xD9, 0xC0, 0xD8, 0xC8, 0xD9, 0xC2, 0xD8, 0xC8, 0xD9, 0xCA, 0xD8, 0xC0, 0xD9, 0xC9, 0xDE, 0xE2,
          0xDE, 0xCA}},
        {25, {0xD9, 0xC0, 0xD8, 0xCB, 0xD9, 0xCA, 0xD9, 0xC0, 0xD8, 0xCD, 0xD9,
              0xC9, 0xDE, 0xCC, 0xDE, 0xEA, 0xDE, 0xCB, 0xD9, 0xC9, 0xDE, 0xC2}},
        {132, {0x69, 0xC0, 0x05, 0x84, 0x08, 0x08, 0x40}},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(RoutineLength(c.Routine), static_cast<int>(c.Bytes.size())) << c.Routine;
        EXPECT_EQ(std::memcmp(RoutineAddress(c.Routine), c.Bytes.data(), c.Bytes.size()), 0) << c.Routine;
    }
}

TEST(CompRoutinesConstants, AreTheProcessorsOwnConstants) {
    long double pi, ln2;
    __asm__("fldpi" : "=t"(pi));
    __asm__("fldln2" : "=t"(ln2));
    EXPECT_TRUE(SameExtended(CompConstPi, pi));
    EXPECT_TRUE(SameExtended(CompConstMinusPiHalf, -pi / 2));
    EXPECT_TRUE(SameExtended(CompConstLn2Half, ln2 / 2));
}

TEST(CompRoutinesFPUControl, FormulaModeIsSetAndTheCallersWordRestored) {
    std::uint16_t original, inside, after, saved = 0;
    __asm__ volatile("fnstcw %0" : "=m"(original));
    std::uint16_t caller = 0x027F; // 53-bit mantissa, a mode the formula code must not run under
    __asm__ volatile("fldcw %0" ::"m"(caller));
    SetFormulaFPUControl(saved);
    __asm__ volatile("fnstcw %0" : "=m"(inside));
    // Leave a pending exception flag behind: dividing by zero under masked exceptions.
    volatile long double zero = 0;
    volatile long double quotient = 1 / zero;
    (void)quotient;
    RestoreFPUControl(saved);
    std::uint16_t status;
    __asm__ volatile("fnstcw %0\n\tfnstsw %1" : "=m"(after), "=m"(status));
    __asm__ volatile("fldcw %0" ::"m"(original));
    EXPECT_EQ(saved, caller);
    EXPECT_EQ(inside, FormulaControlWord);
    EXPECT_EQ(after, caller);
    EXPECT_EQ(status & 0x3F, 0) << "pending exceptions are cleared";
}

// ---------------------------------------------------------------------------------------------
// Routines that depend on the pixel context or the data block.

struct TContext {
    alignas(16) std::uint8_t Bytes[512] = {};
    template <class T> T &At(int Offset) { return *reinterpret_cast<T *>(Bytes + Offset); }
};

TEST(CompRoutinesOldZ, RecordedEntriesUpToTheIterationsDoneAndZeroBeyond) {
    alignas(16) double orbitDouble[4][2] = {{1.5, -2.5}, {3.25, 4.75}, {-5.0, 6.5}, {99, 99}};
    alignas(16) std::uint8_t orbitExtended[4 * 20] = {};
    for (int i = 0; i < 4; ++i) {
        const long double re = orbitDouble[i][0], im = orbitDouble[i][1];
        std::memcpy(orbitExtended + 20 * i, &re, 10);
        std::memcpy(orbitExtended + 20 * i + 10, &im, 10);
    }
    const struct {
        int Routine;
        void *Orbit;
    } precisions[] = {{2, orbitDouble}, {3, orbitExtended}};
    for (const auto &p : precisions) {
        TContext context;
        context.At<std::int32_t>(pcIterationsDone) = 2;
        context.At<void *>(pcOrbitStart) = p.Orbit;
        // n = 3 exceeds the iterations done, and so does -1 (the compare is unsigned).
        for (std::int32_t n : {0, 1, 2, 3, -1}) {
            SCOPED_TRACE(testing::Message() << "routine " << p.Routine << ", n " << n);
            TCodeRun run;
            run.Eax = static_cast<std::uint32_t>(n);
            run.Context = context.Bytes;
            run.X87OutCount = 2;
            RunCode(RoutineAddress(p.Routine), RoutineLength(p.Routine), run);
            const bool recorded = n >= 0 && n <= 2;
            EXPECT_EQ(run.X87Out[0], recorded ? orbitDouble[n][0] : 0.0);
            EXPECT_EQ(run.X87Out[1], recorded ? orbitDouble[n][1] : 0.0);
            EXPECT_TRUE(run.SentinelsIntact && run.FpuEmpty && !run.StackFault && run.RegistersKept);
        }
    }
}

TEST(CompRoutinesBlockCopy, CopiesCountUnitsForwardWithinTheDataBlock) {
    const struct { int Routine, Unit; } units[] = {{5, 1}, {6, 4}, {7, 8}, {8, 16}};
    for (const auto &u : units) {
        for (std::uint32_t count : {0u, 1u, 3u}) {
            SCOPED_TRACE(testing::Message() << "routine " << u.Routine << ", count " << count);
            std::uint8_t data[160];
            for (int i = 0; i < 160; ++i)
                data[i] = static_cast<std::uint8_t>(i);
            TCodeRun run;
            run.Data = data;
            run.Eax = 96; // destination
            run.Edx = 16; // source
            run.Ecx = count;
            RunCode(RoutineAddress(u.Routine), RoutineLength(u.Routine), run);
            for (int i = 0; i < 160; ++i) {
                const bool copied = i >= 96 && i < 96 + static_cast<int>(count) * u.Unit;
                ASSERT_EQ(data[i], copied ? i - 80 : i) << "byte " << i;
            }
            EXPECT_TRUE(run.RegistersKept);
            EXPECT_EQ(run.EspChange, 0);
        }
    }
}

// Print and run-time error routines post through the global message list.
class CompRoutinesOutput : public testing::Test {
protected:
    void SetUp() override {
        FGlobals.Start();
        ErrorManager()->SetFormula(&FFormula);
        ErrorManager()->Clear();
        TRoutineFormulaInfo info;
        info.GetPrintString = [](const TObject *, int Index) { return Format("<string %d>", Index); };
        info.GetNames = [](const TObject *, std::string &Entry, std::string &File) {
            Entry = "Entry";
            File = "file.ofm";
        };
        SetRoutineFormulaInfo(info);
    }
    void TearDown() override {
        SetRoutineFormulaInfo(TRoutineFormulaInfo());
        DonePrintLine(FContext.Bytes);
        FGlobals.Finish();
    }

    // Runs routine N with the formula in eax, unless Eax says otherwise.
    TCodeRun Run(int N, std::vector<long double> X87 = {}, std::uint32_t Eax = 0, std::uint32_t Edx = 0,
                 std::uint32_t Ecx = 0, std::vector<float> Colors = {}) {
        TCodeRun run;
        run.X87In = std::move(X87);
        run.Eax = Eax;
        run.Edx = Edx;
        run.Ecx = Ecx;
        run.ColorsIn = std::move(Colors);
        run.Context = FContext.Bytes;
        RunCode(RoutineAddress(N), RoutineLength(N), run);
        return run;
    }
    std::uint32_t Formula() const {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&FFormula));
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (int i = 0; i < ErrorManager()->GetCount(); ++i)
            texts.push_back(ErrorManager()->GetMessageA(i).Text);
        return texts;
    }

    TObject FFormula;
    TContext FContext;
    TCompilerGlobals FGlobals;
};

TEST_F(CompRoutinesOutput, PrintRoutinesBuildOneLinePostedWithItsPosition) {
    // PRINT "x", 1.5, (2, -0.25), 42, true, rgba(...) at line 7, column 3: every part keeps the
    // x87 registers below it (a print can run while values are live).
    const struct {
        int Routine;
        std::vector<long double> X87;
        std::uint32_t Eax;
        std::vector<float> Colors;
    } parts[] = {
        {15, {}, Formula(), {}}, {11, {1.5L}, 0, {}},      {10, {2.0L, -0.25L}, 0, {}},
        {12, {}, 42, {}},        {13, {}, 0xFFFFFF01, {}}, {14, {}, 0, {0.5f, 0.25f, 1.0f, 0.125f}},
    };
    for (const auto &part : parts) {
        SCOPED_TRACE(part.Routine);
        // The string index for routine 15 travels in edx.
        const TCodeRun run =
            Run(part.Routine, part.X87, part.Eax, part.Routine == 15 ? 3 : 0, 0, part.Colors);
        EXPECT_TRUE(run.SentinelsIntact && run.FpuEmpty && !run.StackFault && run.RegistersKept);
        EXPECT_EQ(run.EspChange, part.Colors.empty() ? 0 : 16) << "a printed colour is released";
    }
    EXPECT_TRUE(Texts().empty()) << "nothing is posted before the end of the line";
    Run(16, {}, Formula(), 7 * 65536 + 3);
    ASSERT_EQ(ErrorManager()->GetCount(), 1);
    const TCompilerMessage message = ErrorManager()->GetMessageA(0);
    EXPECT_EQ(message.Text, "<string 3>1.5(2, -0.25)42true(0.5, 0.25, 1, 0.125)");
    EXPECT_EQ(message.Kind, mkOutput);
    EXPECT_EQ(message.OutputKind, okPrint);
    EXPECT_EQ(message.Line, 7);
    EXPECT_EQ(message.Column, 3);
    EXPECT_EQ(message.EntryName, "Entry");
    EXPECT_EQ(message.FileName, "file.ofm");
    EXPECT_EQ(FContext.At<std::string *>(pcPrintLine), nullptr) << "the line is emptied";

    Run(12, {}, 5);
    Run(16, {}, Formula(), 8 * 65536);
    ASSERT_EQ(ErrorManager()->GetCount(), 2);
    EXPECT_EQ(ErrorManager()->GetMessageA(1).Text, "5");
}

TEST_F(CompRoutinesOutput, StopFlagSuppressesOutputButStillEmptiesTheLine) {
    FContext.At<std::uint8_t>(pcStopFlag) = 1;
    Run(12, {}, 5);
    Run(16, {}, Formula(), 0);
    Run(17, {}, Formula(), 1, 0);
    EXPECT_TRUE(Texts().empty());
    EXPECT_EQ(FContext.At<std::string *>(pcPrintLine), nullptr);
    FContext.At<std::uint8_t>(pcStopFlag) = 0;
    Run(16, {}, Formula(), 0);
    EXPECT_EQ(Texts(), std::vector<std::string>{""}) << "nothing of the stopped line survives";
}

TEST_F(CompRoutinesOutput, RuntimeErrorReportPostsTheCodesTextAndKeepsTheStack) {
    const struct {
        std::uint32_t Code;
        const char *Text;
    } cases[] = {{1, "Array index out of bounds."}, {2, "Arrays are not compatible."}};
    for (const auto &c : cases) {
        // Values live on the x87 stack while an index is checked; they stay as they were.
        TCodeRun run;
        run.X87In = {1.25L, 2.5L, -3.75L};
        run.X87OutCount = 3;
        run.Eax = Formula();
        run.Edx = c.Code;
        run.Ecx = 12 * 65536 + 34;
        run.Context = FContext.Bytes;
        RunCode(RoutineAddress(17), RoutineLength(17), run);
        EXPECT_EQ(run.X87Out, run.X87In);
        EXPECT_TRUE(run.SentinelsIntact && run.FpuEmpty && !run.StackFault && run.RegistersKept);
        EXPECT_EQ(run.EspChange, 0) << "the position argument is removed";
    }
    ASSERT_EQ(ErrorManager()->GetCount(), 2);
    for (int i = 0; i < 2; ++i) {
        const TCompilerMessage message = ErrorManager()->GetMessageA(i);
        EXPECT_EQ(message.Text, cases[i].Text);
        EXPECT_EQ(message.OutputKind, cases[i].Code);
        EXPECT_EQ(message.Line, 12);
        EXPECT_EQ(message.Column, 34);
    }
}

TEST_F(CompRoutinesOutput, OutputOfAnotherFormulaIsDropped) {
    TObject other;
    Run(17, {}, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&other)), 1, 0);
    EXPECT_TRUE(Texts().empty());
}

TEST(CompRoutinesGradient, LooksUpTheInsideOrOutsideMapperAtThePosition) {
    static void *seenMapper;
    static float seenPosition;
    SetGradientColorFunction([](void *Mapper, float Position, float *Color) {
        seenMapper = Mapper;
        seenPosition = Position;
        Color[0] = 0.25f;
        Color[1] = 0.5f;
        Color[2] = 0.75f;
        Color[3] = Position;
    });
    int insideMapper, outsideMapper;
    TContext context;
    context.At<void *>(pcInsideMapper) = &insideMapper;
    context.At<void *>(pcOutsideMapper) = &outsideMapper;
    const struct {
        int Routine;
        void *Mapper;
    } cases[] = {{169, &insideMapper}, {170, &outsideMapper}};
    for (const auto &c : cases) {
        TCodeRun run;
        run.X87In = {0.375L};
        run.Context = context.Bytes;
        run.StackUse = RoutineStackUse(c.Routine);
        run.ColorOut = true;
        RunCode(RoutineAddress(c.Routine), RoutineLength(c.Routine), run);
        EXPECT_EQ(seenMapper, c.Mapper);
        EXPECT_EQ(seenPosition, 0.375f);
        EXPECT_EQ(run.ColorOutValue[0], 0.25f);
        EXPECT_EQ(run.ColorOutValue[2], 0.75f);
        EXPECT_EQ(run.ColorOutValue[3], 0.375f);
        EXPECT_EQ(run.EspChange, -16) << "the position is removed, the colour stays";
        EXPECT_TRUE(run.FpuEmpty && !run.StackFault && run.RegistersKept);
    }
    SetGradientColorFunction(nullptr);
    TCodeRun run;
    run.X87In = {0.5L};
    run.Context = context.Bytes;
    run.StackUse = 7;
    run.ColorOut = true;
    RunCode(RoutineAddress(169), RoutineLength(169), run);
    for (float channel : run.ColorOutValue)
        EXPECT_EQ(channel, 0.0f) << "no lookup installed: transparent black";
}

// Arguments beyond the range of the trigonometric instructions (|x| >= 2^63) leave the operand
// in place and push nothing; the routines reduce such arguments first so that the register stack
// stays balanced. Their values are not checked (the reduction uses the processor's pi).
TEST(CompRoutinesTrigonometry, HugeArgumentsKeepTheStackBalanced) {
    const long double huge = std::ldexp(1.0L, 70);
    const struct {
        int Routine;
        std::vector<long double> In;
        int Out;
    } cases[] = {
        {97, {huge}, 1},        {101, {huge}, 1},
        {53, {0.5L, huge}, 2},  {31, {huge, 0.5L}, 2},
        {33, {0.5L, -huge}, 2}, {35, {huge, 0.25L}, 2},
        {37, {0.25L, huge}, 2}, {39, {huge, 0.25L}, 2},
        {41, {0.25L, huge}, 2}, {28, {0.0L, 1.0L, huge, 0.0L}, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Routine);
        TCodeRun run;
        run.X87In = c.In;
        run.StackUse = RoutineStackUse(c.Routine);
        run.X87OutCount = c.Out;
        RunCode(RoutineAddress(c.Routine), RoutineLength(c.Routine), run);
        EXPECT_TRUE(run.SentinelsIntact);
        EXPECT_FALSE(run.StackFault);
        EXPECT_TRUE(run.FpuEmpty);
        for (long double v : run.X87Out)
            EXPECT_TRUE(std::isfinite(v));
    }
}

} // namespace
