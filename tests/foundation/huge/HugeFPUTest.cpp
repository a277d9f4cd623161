// The emulated register stack: its operations, its misuse, its allocation-free
// evaluation and its entry points called from machine code.
#include "HugeFPU.h"
#include "HugeTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

// The counting operator new of this test program is defined here.
#define COUNTING_OPERATOR_NEW_HERE
#include "tests/AllocationCounting.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace hugetest;

namespace {

constexpr int Digits = 40; // 6 words

class HugeProcessorTest : public testing::Test {
protected:
    THugeProcessor P{Digits};

    THugeFloat Value(int32_t v) { return THugeFloat(Digits, v); }
    THugeFloat Text(const char *text) {
        THugeFloat x(Digits);
        x.SetText(text);
        return x;
    }
    // pi * numerator / denominator to the last word: worked out at a wider
    // precision, since shifting pi right would leave its last bits empty
    static THugeFloat PiTimes(int32_t numerator, int32_t denominator) {
        THugeFloat wide(Digits + 40);
        wide.LoadPi();
        wide.MultiplyInteger(numerator);
        wide.DivideInteger(denominator);
        THugeFloat result(Digits);
        result.Assign(wide);
        return result;
    }
    void ExpectTop(int32_t expected, const char *what) {
        EXPECT_EQ(P.Register(0).CompareInteger(expected), 0) << what << ": " << P.Register(0).GetText();
    }
};

TEST_F(HugeProcessorTest, SubtractRevAndStoreHugePop) {
    P.LoadInteger(2);
    P.LoadInteger(3);
    P.SubtractRev(1); // ST(0) = ST(1) - ST(0) = 2 - 3
    ExpectTop(-1, "2 - 3");
    THugeFloat stored(20);
    P.StoreHugePop(stored);
    EXPECT_EQ(stored.CompareInteger(-1), 0);
    EXPECT_EQ(P.Top(), 7);
    ExpectTop(2, "left on the stack");
    EXPECT_FALSE(P.Failed());
}

TEST_F(HugeProcessorTest, OneOverZeroIsInfinite) {
    P.LoadInteger(1);
    P.LoadInteger(0);
    P.DividePop(1); // ST(1) := ST(1) / ST(0) = 1 / 0
    EXPECT_EQ(P.Register(0).FState, hsInfinite);
    EXPECT_EQ(P.Test(), 1);
    EXPECT_EQ(P.Round(), INT32_MAX);
    EXPECT_EQ(P.Top(), 7);
}

TEST_F(HugeProcessorTest, ArcTan2PopTakesYFromTheTop) {
    P.LoadInteger(1); // x
    P.LoadInteger(1); // y
    P.ArcTan2Pop();
    EXPECT_EQ(P.Top(), 7);
    EXPECT_LE(UnitsApart(P.Register(0), ParseNumber(Describe(PiTimes(1, 4)))), 4.0L) << P.GetText();
    // y below the x axis on the left: -pi + atan(1)
    P.Reset();
    P.LoadInteger(-1); // x
    P.LoadInteger(-1); // y
    P.ArcTan2Pop();
    EXPECT_LE(UnitsApart(P.Register(0), ParseNumber(Describe(PiTimes(-3, 4)))), 8.0L) << P.GetText();
}

TEST_F(HugeProcessorTest, OperationFormsActOnTheirRegisters) {
    struct Case {
        const char *Name;
        void (THugeProcessor::*Operation)(int);
        int Top;         // stack top afterwards (6: both left, 7: one popped)
        int32_t Result0; // ST(0) afterwards
        int32_t Result1; // ST(1) afterwards, when two are left
    } cases[] = {
        {"Add", &THugeProcessor::Add, 6, 10, 2},
        {"SubtractRev", &THugeProcessor::SubtractRev, 6, -6, 2},
        {"Multiply", &THugeProcessor::Multiply, 6, 16, 2},
        {"Divide", &THugeProcessor::Divide, 6, 4, 2},
        {"AddTo", &THugeProcessor::AddTo, 6, 8, 10},
        {"SubtractRevTo", &THugeProcessor::SubtractRevTo, 6, 8, 6},
        {"MultiplyTo", &THugeProcessor::MultiplyTo, 6, 8, 16},
        {"AddPop", &THugeProcessor::AddPop, 7, 10, 0},
        {"SubtractPop", &THugeProcessor::SubtractPop, 7, -6, 0},
        {"SubtractRevPop", &THugeProcessor::SubtractRevPop, 7, 6, 0},
        {"MultiplyPop", &THugeProcessor::MultiplyPop, 7, 16, 0},
        {"DivideRevPop", &THugeProcessor::DivideRevPop, 7, 4, 0},
        {"StoreRegisterPop", &THugeProcessor::StoreRegisterPop, 7, 8, 0},
        {"LoadRegister", &THugeProcessor::LoadRegister, 5, 2, 8},
        {"Exchange", &THugeProcessor::Exchange, 6, 2, 8},
    };
    for (const Case &c : cases) {
        P.Reset();
        P.LoadInteger(2);
        P.LoadInteger(8);
        (P.*c.Operation)(1);
        EXPECT_EQ(P.Top(), c.Top) << c.Name;
        EXPECT_EQ(P.Register(0).CompareInteger(c.Result0), 0)
            << c.Name << ": ST(0) = " << P.Register(0).GetText();
        if (c.Top <= 6) {
            EXPECT_EQ(P.Register(1).CompareInteger(c.Result1), 0)
                << c.Name << ": ST(1) = " << P.Register(1).GetText();
        }
        EXPECT_FALSE(P.Failed()) << c.Name;
    }
    // DividePop: ST(1) := ST(1) / ST(0)
    P.Reset();
    P.LoadInteger(8);
    P.LoadInteger(2);
    P.DividePop(1);
    ExpectTop(4, "DividePop");
}

TEST_F(HugeProcessorTest, OneOperandOperationsAndResults) {
    P.LoadHuge(Text("-2.75"));
    EXPECT_EQ(P.Trunc(), -2);
    EXPECT_EQ(P.Round(), -3);
    EXPECT_EQ(P.Ceil(), -2);
    EXPECT_EQ(P.Floor(), -3);
    EXPECT_EQ(P.Test(), -1);
    EXPECT_EQ(P.GetText(), "-2.75");
    EXPECT_EQ(P.GetExtended(), -2.75L);
    P.Abs();
    EXPECT_EQ(P.GetExtended(), 2.75L);
    P.Negate();
    P.MultiplyByTwo();
    EXPECT_EQ(P.GetExtended(), -5.5L);
    P.DivideByTwo();
    P.Square();
    EXPECT_EQ(P.GetExtended(), 7.5625L);
    P.Reciprocal();
    EXPECT_NEAR(static_cast<double>(P.GetExtended() * 7.5625L), 1.0, 1e-15);
    P.LoadZero();
    EXPECT_EQ(P.Test(), 0);
    P.LoadOne();
    EXPECT_EQ(P.Compare(1), 4096);
    EXPECT_EQ(P.Top(), 5);
    P.LoadExtended(0.375L);
    EXPECT_EQ(P.GetText(), "0.375");
    EXPECT_FALSE(P.Failed());
}

TEST_F(HugeProcessorTest, FunctionsMatchTheNumberFunctions) {
    struct Case {
        const char *Name;
        void (THugeProcessor::*OnStack)();
        void (THugeFloatMath::*OnNumber)();
        const char *Argument;
    } cases[] = {{"Sqrt", &THugeProcessor::Sqrt, &THugeFloatMath::Sqrt, "2"},
                 {"Sin", &THugeProcessor::Sin, &THugeFloatMath::Sin, "0.7"},
                 {"Cos", &THugeProcessor::Cos, &THugeFloatMath::Cos, "-3.5"},
                 {"ArcTan", &THugeProcessor::ArcTan, &THugeFloatMath::ArcTan, "10"},
                 {"ArcSin", &THugeProcessor::ArcSin, &THugeFloatMath::ArcSin, "0.5"},
                 {"ArcCos", &THugeProcessor::ArcCos, &THugeFloatMath::ArcCos, "0.5"},
                 {"Ln", &THugeProcessor::Ln, &THugeFloatMath::Ln, "1e100"},
                 {"Exp", &THugeProcessor::Exp, &THugeFloatMath::Exp, "-12.5"}};
    for (const Case &c : cases) {
        P.Reset();
        P.LoadHuge(Text(c.Argument));
        (P.*c.OnStack)();
        THugeFloat direct = Text(c.Argument);
        (direct.*c.OnNumber)();
        // the pool gives the same scratch values as fresh ones
        EXPECT_TRUE(P.Register(0).Equals(direct))
            << c.Name << ": " << P.GetText() << " vs " << direct.GetText();
        EXPECT_EQ(P.TempIndex(), 0) << c.Name;
        EXPECT_FALSE(P.Failed()) << c.Name;
    }
}

// ArcSin and ArcCos nest deepest (through ArcTan2, ArcTan, Sin and Cos,
// Reciprocal); arguments beyond pi/4 and above 1 take the longer paths.
TEST_F(HugeProcessorTest, DeepestFunctionsStayWithinThePoolAndGiveItBack) {
    struct Case {
        const char *Name;
        void (THugeProcessor::*Operation)();
        const char *Argument;
    } cases[] = {{"ArcSin", &THugeProcessor::ArcSin, "0.5"},   {"ArcCos", &THugeProcessor::ArcCos, "0.5"},
                 {"ArcSin", &THugeProcessor::ArcSin, "-0.99"}, {"ArcCos", &THugeProcessor::ArcCos, "-0.99"},
                 {"ArcTan", &THugeProcessor::ArcTan, "1e30"},  {"Sin", &THugeProcessor::Sin, "1e30"},
                 {"Ln", &THugeProcessor::Ln, "1e-300"},        {"Exp", &THugeProcessor::Exp, "-1000.5"}};
    for (const Case &c : cases) {
        P.Reset();
        P.ClearTempPeak();
        P.LoadHuge(Text(c.Argument));
        (P.*c.Operation)();
        EXPECT_GT(P.TempPeak(), 0) << c.Name << " " << c.Argument;
        EXPECT_LE(P.TempPeak(), THugeProcessor::TempCount) << c.Name << " " << c.Argument;
        EXPECT_EQ(P.TempIndex(), 0) << c.Name << " " << c.Argument;
        EXPECT_FALSE(P.Failed()) << c.Name << " " << c.Argument;
        EXPECT_EQ(P.Register(0).FState, hsNormal) << c.Name << " " << c.Argument;
    }
}

// Loads and stores copy every field and word, at the processor's width and at
// others; the special states travel too.
TEST_F(HugeProcessorTest, LoadsAndStoresKeepEveryWord) {
    THugeFloat full(Digits);
    full.Randomize(); // every word used, so a word left behind shows
    full.FSign = true;
    full.FExponent = 3;
    THugeFloat infinite(Digits), nan(Digits), negativeZero(Digits);
    infinite.SetInfinite(true);
    nan.SetNaN();
    negativeZero.SetZero(true);
    for (const THugeFloat *source : {&full, &infinite, &nan, &negativeZero}) {
        P.Reset();
        P.LoadHuge(*source);
        P.LoadRegister(0);
        THugeFloat same(Digits), wide(Digits + 40), narrow(20);
        P.StoreHuge(same);
        P.StoreHugePop(wide);
        P.StoreHugePop(narrow);
        EXPECT_TRUE(same.Equals(*source)) << Describe(*source);
        THugeFloat expectedWide(Digits + 40), expectedNarrow(20);
        expectedWide.Assign(*source);
        expectedNarrow.Assign(*source);
        EXPECT_TRUE(wide.Equals(expectedWide)) << Describe(*source);
        EXPECT_TRUE(narrow.Equals(expectedNarrow)) << Describe(*source);
        EXPECT_EQ(P.Top(), THugeProcessor::RegisterCount);
        EXPECT_FALSE(P.Failed());
    }
    // a wider number loads truncated to the processor's words, as Assign does
    THugeFloat wideSource(Digits + 40);
    wideSource.Randomize();
    P.Reset();
    P.LoadHuge(wideSource);
    THugeFloat expected(Digits);
    expected.Assign(wideSource);
    EXPECT_TRUE(P.Register(0).Equals(expected));
}

// A store into a deeper register followed by further loads: the register the
// store frees is reused without disturbing the value it left behind.
TEST_F(HugeProcessorTest, StoreRegisterPopLeavesNoSharedRegister) {
    for (int i = 1; i <= 5; ++i)
        P.LoadInteger(i);  // [5, 4, 3, 2, 1]
    P.StoreRegisterPop(3); // [4, 3, 5, 1]
    ASSERT_EQ(P.Top(), 4);
    const int32_t afterStore[] = {4, 3, 5, 1};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(P.Register(i).CompareInteger(afterStore[i]), 0) << "ST(" << i << ")";
    P.LoadInteger(7);  // reuses the freed register
    P.LoadRegister(3); // [5, 7, 4, 3, 5, 1]
    P.Negate();        // only the top changes
    P.AddTo(3);        // ST(3) := 3 + -5
    const int32_t afterLoads[] = {-5, 7, 4, -2, 5, 1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(P.Register(i).CompareInteger(afterLoads[i]), 0) << "ST(" << i << ")";
    P.StoreRegisterPop(0); // a store onto itself is a plain pop
    EXPECT_EQ(P.Top(), 3);
    ExpectTop(7, "after storing ST(0) into itself");
    EXPECT_FALSE(P.Failed());
}

// ---------------------------------------------------------------- misuse

TEST_F(HugeProcessorTest, EightLoadsFillTheStackAndANinthFails) {
    for (int i = 1; i <= 8; ++i)
        P.LoadInteger(i);
    EXPECT_EQ(P.Top(), 0);
    EXPECT_FALSE(P.Failed());
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(P.Register(i).CompareInteger(8 - i), 0);
    P.LoadInteger(9);
    EXPECT_TRUE(P.Failed());
    EXPECT_EQ(P.Top(), 0);
    EXPECT_EQ(P.Register(0).FState, hsNaN);
    EXPECT_EQ(P.Register(7).CompareInteger(1), 0); // the bottom is untouched
    P.ClearFailure();
    EXPECT_FALSE(P.Failed());
}

TEST_F(HugeProcessorTest, MisuseGivesNaNAndAStickyFailure) {
    struct Case {
        const char *Name;
        void (*Misuse)(THugeProcessor &);
    } cases[] = {
        {"pop of an empty stack",
         [](THugeProcessor &p) {
             p.Pop();
             p.Pop();
             p.Pop();
         }},
        {"register beyond the stack", [](THugeProcessor &p) { p.Add(3); }},
        {"negative register", [](THugeProcessor &p) { p.Multiply(-1); }},
        {"register index 8", [](THugeProcessor &p) { p.LoadRegister(8); }},
        {"exchange beyond the stack", [](THugeProcessor &p) { p.Exchange(5); }},
        {"store of an empty stack",
         [](THugeProcessor &p) {
             p.Pop();
             p.Pop();
             THugeFloat x(20);
             p.StoreHuge(x);
         }},
    };
    for (const Case &c : cases) {
        P.Reset();
        P.ClearFailure();
        P.LoadInteger(1);
        P.LoadInteger(2);
        c.Misuse(P);
        EXPECT_TRUE(P.Failed()) << c.Name;
        EXPECT_GE(P.Top(), 0) << c.Name;
        EXPECT_LE(P.Top(), 8) << c.Name;
        // sticky: a correct operation afterwards does not clear it
        P.Reset();
        P.LoadInteger(3);
        P.Pop();
        EXPECT_TRUE(P.Failed()) << c.Name;
    }
    P.Reset();
    P.ClearFailure();
    P.LoadInteger(2);
    P.Add(5);
    EXPECT_EQ(P.Register(0).FState, hsNaN);
}

TEST_F(HugeProcessorTest, AnExhaustedPoolGivesNaN) {
    P.LoadHuge(Text("2"));
    // hold every temporary, as a caller breaking the limit would
    TProcessorFloat &top = P.Register(0);
    THugeFloatMath *held[THugeProcessor::TempCount];
    for (auto &h : held)
        h = top.GetMathTemp();
    EXPECT_FALSE(P.Failed());
    P.Sqrt();
    EXPECT_TRUE(P.Failed());
    EXPECT_EQ(P.Register(0).FState, hsNaN);
    for (int i = THugeProcessor::TempCount - 1; i >= 0; --i)
        top.ReleaseMathTemp(held[i]);
    EXPECT_EQ(P.TempIndex(), 0);
    // a release out of order is noticed
    P.ClearFailure();
    THugeFloatMath *first = top.GetMathTemp();
    THugeFloatMath *second = top.GetMathTemp();
    top.ReleaseMathTemp(first);
    top.ReleaseMathTemp(second);
    EXPECT_TRUE(P.Failed());
}

TEST_F(HugeProcessorTest, InvalidExtendedEncodingsLoadAsNaN) {
    struct Case {
        uint16_t SignExponent;
        uint64_t Mantissa;
    } cases[] = {{0x3FFF, 0x4000000000000000ull},  // unnormal
                 {0x7FFF, 0x0000000000000001ull},  // pseudo-NaN
                 {0x7FFF, 0x0000000000000000ull},  // pseudo-infinity
                 {0x0000, 0x8000000000000000ull}}; // pseudo-denormal
    for (const Case &c : cases) {
        unsigned char bytes[sizeof(long double)] = {};
        std::memcpy(bytes, &c.Mantissa, 8);
        std::memcpy(bytes + 8, &c.SignExponent, 2);
        long double value;
        std::memcpy(&value, bytes, sizeof value);
        P.Reset();
        P.LoadExtended(value);
        EXPECT_EQ(P.Top(), 7);
        EXPECT_EQ(P.Register(0).FState, hsNaN);
        P.Reset();
        THugeProcessor_LoadExtended(&P, &value);
        EXPECT_EQ(P.Register(0).FState, hsNaN);
    }
}

// ---------------------------------------------------------------- no allocation

TEST_F(HugeProcessorTest, EvaluationAllocatesNothing) {
    ASSERT_TRUE(TAllocationCounter::InUse()) << "the counting operator new is not the one in use";
    THugeFloat cx = Text("-0.743643887037158704752191506114774");
    THugeFloat cy = Text("0.131825904205311970493132056385139");
    THugeFloat zx(Digits), zy(Digits), bailout(Digits, 4);
    THugeFloat other(300); // another precision: loads and stores assign across widths
    other.SetText("0.25");
    long allocations;
    {
        TAllocationCounter counter;
        counter.Start();
        for (int i = 0; i < 50; ++i) {
            // z := z^2 + c on the stack, with the bailout test
            P.Reset();
            P.LoadHuge(zy);
            P.LoadHuge(zx);    // [x, y]
            P.LoadRegister(0); // [x, x, y]
            P.Multiply(2);     // [x y, x, y]
            P.MultiplyByTwo(); // [2 x y, x, y]
            P.LoadHuge(cy);
            P.AddPop(1);       // [2 x y + cy, x, y]
            P.Exchange(2);     // [y, x, new y]
            P.Square();        // [y^2, x, new y]
            P.Exchange(1);     // [x, y^2, new y]
            P.Square();        // [x^2, y^2, new y]
            P.LoadRegister(0); // [x^2, x^2, y^2, new y]
            P.Add(2);          // [x^2 + y^2, x^2, y^2, new y]
            P.LoadHuge(bailout);
            if (P.Compare(1) < 0)
                break;
            P.Pop();
            P.Pop();             // [x^2, y^2, new y]
            P.SubtractRevPop(1); // [x^2 - y^2, new y]
            P.LoadHuge(cx);
            P.AddPop(1); // [new x, new y]
            P.StoreHugePop(zx);
            P.StoreHugePop(zy);
        }
        // every function, the divisions and loads of other widths
        P.Reset();
        P.LoadHuge(other);
        P.LoadHuge(zx);
        P.Divide(1);
        P.DivideRevPop(1);
        P.Abs();
        P.Sqrt();
        P.Sin();
        P.Cos();
        P.ArcTan();
        P.ArcSin();
        P.ArcCos();
        P.Exp();
        P.Abs();
        P.Ln();
        P.Reciprocal();
        P.LoadHuge(zy);
        P.ArcTan2Pop();
        P.StoreHuge(other);
        allocations = counter.Count();
    }
    EXPECT_EQ(allocations, 0);
    EXPECT_FALSE(P.Failed());
    EXPECT_EQ(P.TempIndex(), 0);
}

// ---------------------------------------------------------------- called from machine code

#ifdef _WIN32
// Writes the call sequence generated code uses: mov ecx, routine; mov eax,
// ebp; mov edx, [esi + d] or mov edx, imm32; call ecx.
class CodeWriter {
public:
    explicit CodeWriter(unsigned char *code) : FCode(code) {}
    void Byte(unsigned char b) { FCode[FSize++] = b; }
    void Word(uint32_t w) {
        std::memcpy(FCode + FSize, &w, 4);
        FSize += 4;
    }
    template <class F> void CallWithSlot(F *routine, uint32_t offset) {
        Byte(0xB9);
        Word(reinterpret_cast<uint32_t>(routine));
        Byte(0x89);
        Byte(0xE8); // mov eax, ebp
        Byte(0x8B);
        Byte(0x96);
        Word(offset); // mov edx, [esi + offset]
        Byte(0xFF);
        Byte(0xD1); // call ecx
    }
    template <class F> void CallWithIndex(F *routine, uint32_t index) {
        Byte(0xB9);
        Word(reinterpret_cast<uint32_t>(routine));
        Byte(0x89);
        Byte(0xE8);
        Byte(0xBA);
        Word(index); // mov edx, imm32
        Byte(0xFF);
        Byte(0xD1);
    }
    size_t Size() const { return FSize; }

private:
    unsigned char *FCode;
    size_t FSize = 0;
};

TEST_F(HugeProcessorTest, EntryPointsWorkFromGeneratedCode) {
    void *memory = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    ASSERT_NE(memory, nullptr);
    auto *code = static_cast<unsigned char *>(memory);
    CodeWriter w(code);
    // cdecl int routine(THugeProcessor *processor, THugeFloat **slots)
    w.Byte(0x55); // push ebp
    w.Byte(0x56); // push esi
    w.Byte(0x8B);
    w.Byte(0x6C);
    w.Byte(0x24);
    w.Byte(0x0C); // mov ebp, [esp + 12]
    w.Byte(0x8B);
    w.Byte(0x74);
    w.Byte(0x24);
    w.Byte(0x10);                                     // mov esi, [esp + 16]
    w.CallWithSlot(&THugeProcessor_LoadHuge, 0);      // push a
    w.CallWithSlot(&THugeProcessor_LoadHuge, 4);      // push b
    w.CallWithIndex(&THugeProcessor_Exchange, 1);     // [a, b]
    w.CallWithIndex(&THugeProcessor_SubtractRev, 1);  // ST(0) := b - a
    w.CallWithSlot(&THugeProcessor_StoreHuge, 8);     // result := b - a, kept
    w.CallWithIndex(&THugeProcessor_MultiplyPop, 1);  // ST(1) := b * (b - a), pop
    w.CallWithSlot(&THugeProcessor_StoreHugePop, 12); // product := ..., pop
    w.CallWithIndex(&THugeProcessor_LoadRegister, 5); // misuse: nothing there
    w.CallWithIndex(&THugeProcessor_Test, 0);         // eax := sign of the top
    w.Byte(0x5E);                                     // pop esi
    w.Byte(0x5D);                                     // pop ebp
    w.Byte(0xC3);                                     // ret
    FlushInstructionCache(GetCurrentProcess(), memory, w.Size());

    THugeFloat a = Value(3), b = Value(10), result(20), product(100);
    THugeFloatBase *slots[] = {&a, &b, &result, &product};
    auto routine = reinterpret_cast<int(__cdecl *)(THugeProcessor *, THugeFloatBase **)>(memory);
    const int sign = routine(&P, slots);
    EXPECT_EQ(result.CompareInteger(7), 0) << result.GetText();
    EXPECT_EQ(product.CompareInteger(70), 0) << product.GetText();
    EXPECT_EQ(sign, 0); // the top is NaN after the bad load
    EXPECT_TRUE(P.Failed());
    EXPECT_EQ(P.Top(), 7);
    VirtualFree(memory, 0, MEM_RELEASE);
}
#endif

} // namespace
