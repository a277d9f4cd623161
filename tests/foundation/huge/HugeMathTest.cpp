// Functions of the arbitrary-precision numbers against mpmath at twice the
// precision (tests/foundation/data/huge_funcs.txt, made once by
// tools/huge_vectors.py), and their special arguments.
#include "HugeMath.h"
#include "HugeTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using namespace hugetest;

namespace {

struct FunctionTolerance {
    const char *Name;
    // Largest distance from the reference, in units of the result's last word
    // (for the logarithm at least a last word of a number near 1). The series
    // functions add up a rounding per term, so they get a little more.
    long double Tolerance;
};

class FunctionAccuracy : public testing::TestWithParam<FunctionTolerance> {};

TEST_P(FunctionAccuracy, AgreesWithReferenceAtEveryWidth) {
    const FunctionTolerance limit = GetParam();
    const std::string name = limit.Name;
    int line = 1, checked = 0;
    long double worst = 0;
    for (const std::string &text : ReadDataLines("huge_funcs.txt")) {
        ++line;
        auto parts = Split(text);
        if (parts.empty() || parts[0] != name)
            continue;
        const int n = std::stoi(parts[1]);
        THugeFloat x(DigitsForWords(n));
        LoadNumber(x, ParseNumber(parts[2]));
        size_t refIndex = 3;
        if (name == "arctan2") {
            THugeFloat abscissa(DigitsForWords(n));
            LoadNumber(abscissa, ParseNumber(parts[3]));
            x.ArcTan2(abscissa);
            refIndex = 4;
        } else if (name == "sqrt") {
            x.Sqrt();
        } else if (name == "exp") {
            x.Exp();
        } else if (name == "expm1") {
            x.ExpMinusOne();
        } else if (name == "log1p") {
            x.LnOnePlus();
        } else if (name == "ln") {
            x.Ln();
        } else if (name == "sin") {
            x.Sin();
        } else if (name == "cos") {
            x.Cos();
        } else if (name == "arctan") {
            x.ArcTan();
        } else if (name == "arcsin") {
            x.ArcSin();
        } else if (name == "arccos") {
            x.ArcCos();
        } else {
            FAIL() << "unknown function " << name;
        }
        const bool absolute = parts[refIndex + 1] == "a";
        const long double units = UnitsApart(x, ParseNumber(parts[refIndex]), absolute);
        if (units > worst)
            worst = units;
        EXPECT_LE(units, limit.Tolerance)
            << "line " << line << ": " << name << " " << parts[2] << " at " << n << " words gave "
            << Describe(x) << "\n  reference " << parts[refIndex];
        EXPECT_EQ(x.FWordCount, n);
        ++checked;
    }
    EXPECT_GT(checked, 0);
    std::printf("  %s: largest distance %.3Lg units of the last word\n", limit.Name, worst);
}

INSTANTIATE_TEST_SUITE_P(HugeMath, FunctionAccuracy,
                         testing::Values(FunctionTolerance{"sqrt", 2}, FunctionTolerance{"exp", 16},
                                         FunctionTolerance{"expm1", 16}, FunctionTolerance{"log1p", 16},
                                         FunctionTolerance{"ln", 8}, FunctionTolerance{"sin", 24},
                                         FunctionTolerance{"cos", 24}, FunctionTolerance{"arctan", 12},
                                         FunctionTolerance{"arcsin", 24}, FunctionTolerance{"arccos", 24},
                                         FunctionTolerance{"arctan2", 8}),
                         [](const testing::TestParamInfo<FunctionTolerance> &info) {
                             return std::string(info.param.Name);
                         });

} // namespace

namespace {

using Function = void (THugeFloatMath::*)();

// Results of special arguments: a state, or an exact value given as text.
TEST(HugeMath, SpecialArguments) {
    struct Case {
        const char *Name;
        Function Fn;
        const char *Argument;
        THugeState State;
        bool Negative;
        const char *Value; // for normal results
    } cases[] = {
        {"Sqrt", &THugeFloatMath::Sqrt, "-1", hsNaN, false, nullptr},
        {"Sqrt", &THugeFloatMath::Sqrt, "0", hsNormal, false, "0"},
        {"Sqrt", &THugeFloatMath::Sqrt, "4", hsNormal, false, "2"},
        {"Sqrt", &THugeFloatMath::Sqrt, "+INF", hsInfinite, false, nullptr},
        {"Sqrt", &THugeFloatMath::Sqrt, "-INF", hsNaN, false, nullptr},
        {"Sqrt", &THugeFloatMath::Sqrt, "NAN", hsNaN, false, nullptr},
        {"Ln", &THugeFloatMath::Ln, "0", hsInfinite, true, nullptr},
        {"Ln", &THugeFloatMath::Ln, "-1", hsNaN, false, nullptr},
        {"Ln", &THugeFloatMath::Ln, "1", hsNormal, false, "0"},
        {"Ln", &THugeFloatMath::Ln, "+INF", hsInfinite, false, nullptr},
        {"Ln", &THugeFloatMath::Ln, "-INF", hsNaN, false, nullptr},
        {"Exp", &THugeFloatMath::Exp, "0", hsNormal, false, "1"},
        {"Exp", &THugeFloatMath::Exp, "+INF", hsInfinite, false, nullptr},
        {"Exp", &THugeFloatMath::Exp, "-INF", hsNormal, false, "0"},
        {"Exp", &THugeFloatMath::Exp, "1e10", hsInfinite, false, nullptr},
        {"Exp", &THugeFloatMath::Exp, "-1e10", hsNormal, false, "0"},
        {"Exp", &THugeFloatMath::Exp, "NAN", hsNaN, false, nullptr},
        {"ExpMinusOne", &THugeFloatMath::ExpMinusOne, "0", hsNormal, false, "0"},
        {"ExpMinusOne", &THugeFloatMath::ExpMinusOne, "+INF", hsInfinite, false, nullptr},
        {"ExpMinusOne", &THugeFloatMath::ExpMinusOne, "-INF", hsNormal, false, "-1"},
        {"ExpMinusOne", &THugeFloatMath::ExpMinusOne, "-1e10", hsNormal, false, "-1"},
        {"ExpMinusOne", &THugeFloatMath::ExpMinusOne, "NAN", hsNaN, false, nullptr},
        {"LnOnePlus", &THugeFloatMath::LnOnePlus, "0", hsNormal, false, "0"},
        {"LnOnePlus", &THugeFloatMath::LnOnePlus, "-1", hsInfinite, true, nullptr},
        {"LnOnePlus", &THugeFloatMath::LnOnePlus, "-2", hsNaN, false, nullptr},
        {"LnOnePlus", &THugeFloatMath::LnOnePlus, "+INF", hsInfinite, false, nullptr},
        {"LnOnePlus", &THugeFloatMath::LnOnePlus, "-INF", hsNaN, false, nullptr},
        {"Sin", &THugeFloatMath::Sin, "0", hsNormal, false, "0"},
        {"Sin", &THugeFloatMath::Sin, "+INF", hsNaN, false, nullptr},
        {"Cos", &THugeFloatMath::Cos, "0", hsNormal, false, "1"},
        {"Cos", &THugeFloatMath::Cos, "-INF", hsNaN, false, nullptr},
        {"ArcTan", &THugeFloatMath::ArcTan, "0", hsNormal, false, "0"},
        {"ArcSin", &THugeFloatMath::ArcSin, "0", hsNormal, false, "0"},
        {"ArcCos", &THugeFloatMath::ArcCos, "2", hsNaN, false, nullptr},
        {"ArcSin", &THugeFloatMath::ArcSin, "NAN", hsNaN, false, nullptr},
    };
    for (const Case &c : cases) {
        THugeFloat x(50);
        x.SetText(c.Argument);
        (x.*c.Fn)();
        EXPECT_EQ(x.FState, c.State) << c.Name << "(" << c.Argument << ")";
        if (c.State == hsInfinite) {
            EXPECT_EQ(x.FSign, c.Negative) << c.Name << "(" << c.Argument << ")";
        }
        if (c.Value) {
            THugeFloat expected(50);
            expected.SetText(c.Value);
            EXPECT_EQ(x.Compare(expected), 0) << c.Name << "(" << c.Argument << ") = " << x.GetText();
        }
    }
}

// e^x for x = +-3 * 2^(32 e) at every word exponent e below 0 (at 300 digits, where the series
// is long, the exponents down to twice the width and the lowest): e^x - 1 - x is about x^2 / 2,
// so the result must lie within x^2 or a few units of the last word of 1, whichever is larger.
// Tiny arguments were once taken for an overflow (+infinity) or an underflow (0).
TEST(HugeMath, ExpNearZeroAtEveryExponent) {
    for (const int digits : {40, 300}) {
        THugeFloat one(digits, 1);
        const int n = one.FWordCount;
        for (int32_t e = -1; e > HugeMinExponent; --e) {
            if (digits > 40 && e < -2 * n && e > HugeMinExponent + 1)
                continue;
            for (const bool negative : {false, true}) {
                THugeFloat x(digits, 3);
                x.FExponent = e;
                x.FSign = negative;
                THugeFloat y(digits);
                y.Assign(x);
                y.Exp();
                ASSERT_EQ(y.FState, hsNormal) << "e^x with x = " << x.GetText();
                THugeFloat d(digits);
                d.Assign(y);
                d.Subtract(one);
                d.Subtract(x);
                const int32_t limit = std::max(2 * e, -(n - 1));
                EXPECT_TRUE(d.IsZero() || d.FExponent <= limit)
                    << digits << " digits, x = " << x.GetText() << ": e^x = " << y.GetText();
            }
        }
    }
}

// pi * numerator / denominator at n words, worked out wider and cut.
THugeFloat PiTimes(int digits, int32_t numerator, int32_t denominator) {
    THugeFloat wide(digits + 40);
    wide.LoadPi();
    wide.MultiplyInteger(numerator);
    wide.DivideInteger(denominator);
    THugeFloat result(digits);
    result.Assign(wide);
    return result;
}

TEST(HugeMath, AnglesOfTheAxesAndTheLimitsOfArcSin) {
    struct Case {
        const char *Name;
        const char *Y, *X; // ArcTan2 operands; X empty: the one-argument function
        Function Fn;
        int32_t Numerator, Denominator; // expected pi * n / d
    } cases[] = {
        {"ArcTan2(0, -1)", "0", "-1", nullptr, 1, 1},
        {"ArcTan2(-3, 0)", "-3", "0", nullptr, -1, 2},
        {"ArcTan2(0, 0)", "0", "0", nullptr, 1, 2},
        {"ArcTan2(1, 1)", "1", "1", nullptr, 1, 4},
        {"ArcTan2(-1, -1)", "-1", "-1", nullptr, -3, 4},
        {"ArcTan(+INF)", "+INF", "", &THugeFloatMath::ArcTan, 1, 2},
        {"ArcSin(2)", "2", "", &THugeFloatMath::ArcSin, 1, 2},
        {"ArcSin(-2)", "-2", "", &THugeFloatMath::ArcSin, -1, 2},
        {"ArcTan(1)", "1", "", &THugeFloatMath::ArcTan, 1, 4},
        {"ArcCos(-1)", "-1", "", &THugeFloatMath::ArcCos, 1, 1},
    };
    for (int digits : {20, 100}) {
        for (const Case &c : cases) {
            THugeFloat y(digits);
            y.SetText(c.Y);
            if (c.Fn) {
                (y.*c.Fn)();
            } else {
                THugeFloat x(digits);
                x.SetText(c.X);
                y.ArcTan2(x);
            }
            const THugeFloat expected = PiTimes(digits, c.Numerator, c.Denominator);
            EXPECT_LE(UnitsApart(y, ParseNumber(Describe(expected))), 4.0L)
                << c.Name << " at " << digits << " digits: " << y.GetText();
        }
    }
}

TEST(HugeMath, ConstantsAndSymmetries) {
    for (int digits : {20, 60, 300}) {
        // e^1 is the table of e, e^-1 its reciprocal
        THugeFloat e(digits, 1), table(digits);
        e.Exp();
        table.LoadE();
        EXPECT_LE(UnitsApart(e, ParseNumber(Describe(table))), 4.0L) << digits;
        THugeFloat inverse(digits, -1);
        inverse.Exp();
        THugeFloat wide(digits + 40);
        wide.LoadE();
        wide.Reciprocal();
        THugeFloat reciprocal(digits);
        reciprocal.Assign(wide);
        EXPECT_LE(UnitsApart(inverse, ParseNumber(Describe(reciprocal))), 8.0L) << digits;
        // sin(-pi/6) = -1/2 and cos(pi) = -1 to the last word
        THugeFloat angle = PiTimes(digits, -1, 6);
        angle.Sin();
        THugeFloat half(digits);
        half.SetText("-0.5");
        EXPECT_LE(UnitsApart(angle, ParseNumber(Describe(half))), 4.0L) << digits << ": " << angle.GetText();
        THugeFloat pi(digits);
        pi.LoadPi();
        THugeFloat cosine(pi);
        cosine.Cos();
        THugeFloat minusOne(digits, -1);
        EXPECT_LE(UnitsApart(cosine, ParseNumber(Describe(minusOne))), 4.0L) << digits;
        // sin of pi cut to the number's words is what was cut off: tiny
        THugeFloat sine(pi);
        sine.Sin();
        EXPECT_LT(sine.FExponent, -(sine.FWordCount - 2)) << digits << ": " << sine.GetText();
        // odd and even
        THugeFloat plus(digits), minus(digits);
        plus.SetText("0.9");
        minus.SetText("-0.9");
        for (Function fn : {&THugeFloatMath::Sin, &THugeFloatMath::ArcTan, &THugeFloatMath::ArcSin}) {
            THugeFloat a(plus), b(minus);
            (a.*fn)();
            (b.*fn)();
            b.Negate();
            EXPECT_TRUE(a.Equals(b)) << digits;
        }
        THugeFloat a(plus), b(minus);
        a.Cos();
        b.Cos();
        EXPECT_TRUE(a.Equals(b)) << digits;
    }
}

} // namespace
