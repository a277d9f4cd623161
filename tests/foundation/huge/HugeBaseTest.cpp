// Representation and conversions of the arbitrary-precision numbers: word
// counts, decimal text, 80-bit values, integer conversions.
#include "HugeMath.h"
#include "HugeTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>

using namespace hugetest;

namespace {

TEST(HugeBase, WordCountFollowsDigits) {
    struct Case {
        int Digits, Words;
    } cases[] = {{-5, 2}, {1, 2},    {2, 2},      {9, 2},        {10, 3},
                 {20, 4}, {100, 12}, {1000, 105}, {16384, 1702}, {20000, 1702}};
    for (const Case &c : cases)
        EXPECT_EQ(HugeWordCount(c.Digits), c.Words) << c.Digits << " digits";
    THugeFloat clamped(1);
    EXPECT_EQ(clamped.FPrecision, 2);
}

// ---------------------------------------------------------------- decimal text

struct TextCase {
    int Precision;
    const char *Input;
    const char *Output;
};

TEST(HugeBase, GetTextFormsFixedAndExponentText) {
    const TextCase cases[] = {
        {10, "12500", "12500"},
        {10, "0.001", "0.001"},
        {10, "1e-6", "1e-6"},
        {10, "1e10", "1e10"},
        {10, "-2", "-2"},
        {5, "123456", "1.2346e5"},
        {10, " -12.5e3 ", "-12500"},
        {10, "1E-3", "0.001"},
        {10, "0.00001", "0.00001"},
        {10, "999999999.99", "1000000000"},
        {10, "9.99999999995", "10"},
        {10, "123456789", "123456789"},
        {10, "1234567890", "1234567890"},
        {10, "12345678901", "1.23456789e10"},
        {20, "+3.25", "3.25"},
        {10, "0", "0"},
        {10, "-0.0", "0"},
        {30, "2.5e-300", "2.5e-300"},
    };
    for (const TextCase &c : cases) {
        THugeFloat x(c.Precision);
        x.SetText(c.Input);
        EXPECT_EQ(x.GetText(), c.Output) << "'" << c.Input << "' at " << c.Precision << " digits";
    }
}

TEST(HugeBase, SpecialValuesHaveTheirTexts) {
    THugeFloat x(20);
    x.SetInfinite(false);
    EXPECT_EQ(x.GetText(), "+INF");
    x.SetInfinite(true);
    EXPECT_EQ(x.GetText(), "-INF");
    x.SetNaN();
    EXPECT_EQ(x.GetText(), "NAN");
    x.SetZero(true);
    EXPECT_EQ(x.GetText(), "0");
    // a zero whose lower words are not 0 is still 0
    THugeFloat y(20, 5);
    y.FMantissa[y.FWordCount - 1] = 0;
    y.FMantissa[0] = 7;
    y.FSign = true;
    EXPECT_EQ(y.GetText(), "0");
}

TEST(HugeBase, SpecialValuesRoundTripThroughText) {
    struct Case {
        const char *Text;
        THugeState State;
        bool Negative;
        const char *Written;
    } cases[] = {{"+INF", hsInfinite, false, "+INF"}, {"-INF", hsInfinite, true, "-INF"},
                 {"NAN", hsNaN, false, "NAN"},        {" inf ", hsInfinite, false, "+INF"},
                 {"-inf", hsInfinite, true, "-INF"},  {"nan", hsNaN, false, "NAN"}};
    for (const Case &c : cases) {
        THugeFloat x(30, 7);
        x.SetText(c.Text);
        EXPECT_EQ(x.FState, c.State) << c.Text;
        if (c.State == hsInfinite) {
            EXPECT_EQ(x.FSign, c.Negative) << c.Text;
        }
        EXPECT_EQ(x.GetText(), c.Written) << c.Text;
        THugeFloat y(30);
        y.SetText(x.GetText());
        EXPECT_EQ(y.GetText(), c.Written) << c.Text;
    }
    for (const char *bad : {"INFINITY", "+NAN", "IN F", "-INFx"}) {
        THugeFloat x(30);
        EXPECT_THROW(x.SetText(bad), EHugeError) << bad;
    }
}

TEST(HugeBase, SetTextRejectsMalformedTextAndLeavesZero) {
    const char *cases[] = {"1.2.3", "",      "   ", "e5", "12a", "1e",   "1e+",
                           "--1",   "1e5.5", ".",   "-",  "1 2", "0x10", "1e5e6"};
    for (const char *text : cases) {
        THugeFloat x(20, 42);
        try {
            x.SetText(text);
            ADD_FAILURE() << "'" << text << "' was accepted";
        } catch (const EHugeError &e) {
            EXPECT_EQ(e.Message(), std::string("'") + text + "' is not a valid floating point value");
        }
        EXPECT_TRUE(x.IsZero()) << text;
        EXPECT_EQ(x.FState, hsNormal);
    }
}

TEST(HugeBase, HugeDecimalExponentsSaturateAtOnce) {
    struct Case {
        const char *Text;
        THugeState State;
        bool Negative;
    } cases[] = {
        {"1e999999999", hsInfinite, false},
        {"-1e999999999", hsInfinite, true},
        {"1e99999999999999999999999", hsInfinite, false},
        {"1e-999999999", hsNormal, false},
        {"-5e-99999999999999999999", hsNormal, true},
        {"0e999999999", hsNormal, false},
        {"0.000000000000000000000000000000001e39490", hsNormal, false},
        {"1e39500", hsInfinite, false},
        {"1e-39500", hsNormal, false},
    };
    for (const Case &c : cases) {
        for (int digits : {20, 16384}) {
            THugeFloat x(digits);
            const auto start = std::chrono::steady_clock::now();
            x.SetText(c.Text);
            // not a timing test: only a bound that a loop over the exponent's
            // value would miss by orders of magnitude
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << c.Text;
            EXPECT_EQ(x.FState, c.State) << c.Text;
            if (c.State == hsInfinite) {
                EXPECT_EQ(x.FSign, c.Negative) << c.Text;
            } else if (std::string(c.Text).find("e-") != std::string::npos ||
                       std::string(c.Text).rfind("0e", 0) == 0) {
                EXPECT_TRUE(x.IsZero()) << c.Text;
            }
        }
    }
    // the largest finite values stay finite
    THugeFloat big(20);
    big.SetText("1e39000");
    EXPECT_EQ(big.FState, hsNormal);
    EXPECT_EQ(big.GetText(), "1e39000");
    big.SetText("1e-39000");
    EXPECT_FALSE(big.IsZero());
    EXPECT_EQ(big.GetText(), "1e-39000");
}

// Texts with more digits than any exponent range holds: digits beyond the precision only round.
// The expected values are plain arithmetic facts (0.111... = 1/9, 10^n * 10^-n = 1).
TEST(HugeBase, LongDigitTextsReadAsTheirValue) {
    struct Case {
        std::string Text;
        const char *Expected; // GetText at 20 digits, or its start when it ends in "..."
    } cases[] = {
        {"0." + std::string(39500, '1'), "0.11111111111111111111..."},
        {"1" + std::string(39470, '0') + "e-39470", "1"},
        {"-" + std::string(40000, '9') + "e-40000", "-1"},
        {"0." + std::string(45000, '0') + "1e45000", "0.1"},
        {"123" + std::string(50000, '4') + "e-50000", "123.444444444444444..."},
        {std::string(39470, '0') + "2.5", "2.5"},
        {"7" + std::string(39000, '0') + "." + std::string(2000, '3') + "e-39000", "7"},
    };
    for (const Case &c : cases) {
        for (int digits : {20, 100}) {
            THugeFloat x(digits);
            x.SetText(c.Text);
            ASSERT_EQ(x.FState, hsNormal) << c.Text.substr(0, 20) << " at " << digits;
            THugeFloat y(20);
            y.Assign(x);
            std::string expected = c.Expected;
            const std::string text = y.GetText();
            if (expected.size() > 3 && expected.compare(expected.size() - 3, 3, "...") == 0) {
                expected.resize(expected.size() - 3);
                EXPECT_EQ(text.substr(0, expected.size()), expected)
                    << c.Text.substr(0, 20) << " at " << digits;
            } else {
                EXPECT_EQ(text, expected) << c.Text.substr(0, 20) << " at " << digits;
            }
        }
    }
}

TEST(HugeBase, TextRoundTripsAtItsPrecision) {
    const char *texts[] = {
        "3.14159265358979323846", "-2.5e-7",    "1e10",      "123456789", "0.001", "1.5e20", "-0.000123",
        "6.02214076e23",          "9.999e-100", "-7.25e1234"};
    for (int digits : {22, 40, 100}) {
        for (const char *text : texts) {
            THugeFloat x(digits);
            x.SetText(text);
            const std::string printed = x.GetText();
            THugeFloat y(digits);
            y.SetText(printed);
            EXPECT_EQ(y.GetText(), printed) << text;
            // texts with fewer digits than the precision come back as written
            THugeFloat z(digits);
            z.SetText(printed);
            EXPECT_EQ(printed, std::string(text)) << text << " at " << digits;
        }
    }
}

// The decimal parse truncates at each digit and each power of ten; each
// truncation costs at most one unit of the last word of the value it works
// on, relative 2^-(32 (n - 1)) of the value.
TEST(HugeBase, SetTextIsCloseToTheExactValue) {
    int line = 1, checked = 0;
    for (const std::string &text : ReadDataLines("huge_text.txt")) {
        ++line;
        auto parts = Split(text);
        if (parts.size() != 4 || parts[0] != "parse")
            continue;
        const int n = std::stoi(parts[1]);
        THugeFloat x(DigitsForWords(n));
        x.SetText(parts[2]);
        const size_t e = parts[2].find('e');
        const long double steps =
            parts[2].size() + (e == std::string::npos ? 0 : std::abs(std::stoi(parts[2].substr(e + 1))));
        EXPECT_LE(UnitsApart(x, ParseNumber(parts[3])), 2 * steps * 4294967296.0L)
            << "line " << line << ": " << parts[2] << " gave " << Describe(x);
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST(HugeBase, GetTextGivesTheCorrectlyRoundedDigits) {
    int line = 1, checked = 0;
    for (const std::string &text : ReadDataLines("huge_text.txt")) {
        ++line;
        auto parts = Split(text);
        if (parts.size() != 4 || parts[0] != "print")
            continue;
        const RefNumber value = ParseNumber(parts[2]);
        THugeFloat x(std::stoi(parts[1]));
        ASSERT_EQ(static_cast<int>(value.Words.size()), x.FWordCount) << "line " << line;
        LoadNumber(x, value);
        EXPECT_EQ(x.GetText(), parts[3]) << "line " << line;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

// ---------------------------------------------------------------- 80-bit values

long double FromBits(uint16_t signExponent, uint64_t mantissa) {
    unsigned char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &mantissa, 8);
    std::memcpy(bytes + 8, &signExponent, 2);
    long double value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

bool SameBits(long double a, long double b) {
    return std::memcmp(&a, &b, 10) == 0;
}

TEST(HugeBase, ExtendedValuesRoundTripExactly) {
    const long double values[] = {
        1.0L,
        -1.0L,
        0.1L,
        3.14159265358979323846L,
        -2.5e-300L,
        1e4000L,
        -1e-4000L,
        FromBits(0x7FFE, 0xFFFFFFFFFFFFFFFFull), // largest
        FromBits(0x0001, 0x8000000000000000ull), // smallest normal
        FromBits(0x3FFF, 0x8000000000000001ull),
        FromBits(0xC123, 0xFFFFFFFF00000001ull),
        FromBits(0x7FFF, 0x8000000000000000ull), // +infinity
        FromBits(0xFFFF, 0x8000000000000000ull), // -infinity
    };
    for (int digits : {20, 30, 1000}) {
        for (long double v : values) {
            THugeFloat x(digits);
            x.SetExtended(v);
            EXPECT_TRUE(SameBits(x.GetExtended(), v)) << digits << " digits, value " << v;
        }
        std::mt19937_64 random(digits);
        for (int i = 0; i < 2000; ++i) {
            const uint16_t se = static_cast<uint16_t>(1 + random() % 0x7FFE) | (random() & 1 ? 0x8000 : 0);
            const long double v = FromBits(se, random() | 0x8000000000000000ull);
            THugeFloat x(digits);
            x.SetExtended(v);
            ASSERT_TRUE(SameBits(x.GetExtended(), v)) << std::hex << se;
        }
    }
    THugeFloat zero(20);
    zero.SetExtended(-0.0L);
    EXPECT_TRUE(zero.IsZero());
    EXPECT_TRUE(SameBits(zero.GetExtended(), 0.0L)); // never -0
    THugeFloat nan(20);
    nan.SetExtended(FromBits(0x7FFF, 0xC000000000000000ull));
    EXPECT_EQ(nan.FState, hsNaN);
    EXPECT_TRUE(SameBits(nan.GetExtended(), FromBits(0x7FFF, 0xFFFFFFFFFFFFFFFFull)));
}

TEST(HugeBase, ExtendedOutOfRangeAndDenormals) {
    THugeFloat x(30, 1);
    x.FExponent = 600;
    EXPECT_TRUE(SameBits(x.GetExtended(), FromBits(0x7FFF, 0x8000000000000000ull)));
    x.FSign = true;
    EXPECT_TRUE(SameBits(x.GetExtended(), FromBits(0xFFFF, 0x8000000000000000ull)));
    x.FSign = false;
    x.FExponent = -600;
    EXPECT_EQ(x.GetExtended(), 0.0L);
    // 2^-16384 lies below the smallest normal 80-bit value: 0, no denormal
    x.FExponent = -512;
    EXPECT_EQ(x.GetExtended(), 0.0L);
    // a denormal is accepted and read exactly
    const long double denormal = FromBits(0x0000, 0x0000000000001234ull);
    x.SetExtended(denormal);
    EXPECT_EQ(x.FState, hsNormal);
    THugeFloat scaled(x);
    scaled.MultiplyPowerOfTwo(16382 + 63);
    EXPECT_EQ(scaled.CompareInteger(0x1234), 0);
}

TEST(HugeBase, InvalidExtendedEncodingsRaise) {
    struct Case {
        const char *Name;
        uint16_t SignExponent;
        uint64_t Mantissa;
    } cases[] = {{"unnormal", 0x3FFF, 0x4000000000000000ull},
                 {"pseudo-infinity", 0x7FFF, 0x0000000000000000ull},
                 {"pseudo-NaN", 0x7FFF, 0x4000000000000001ull},
                 {"pseudo-denormal", 0x0000, 0x8000000000000001ull}};
    for (const Case &c : cases) {
        THugeFloat x(20, 3);
        try {
            x.SetExtended(FromBits(c.SignExponent, c.Mantissa));
            ADD_FAILURE() << c.Name << " accepted";
        } catch (const EHugeError &e) {
            EXPECT_EQ(e.Message(), "Invalid floating point operation") << c.Name;
        }
    }
}

// ---------------------------------------------------------------- integers

TEST(HugeBase, IntegerConversionsRoundAndSaturate) {
    struct Case {
        const char *Text;
        int32_t Trunc, Round, Ceil, Floor;
    } cases[] = {
        {"2.5", 2, 3, 3, 2},
        {"-2.5", -2, -3, -2, -3},
        {"-2.7", -2, -3, -2, -3},
        {"2.7", 2, 3, 3, 2},
        {"0.4", 0, 0, 1, 0},
        {"0.5", 0, 1, 1, 0},
        {"-0.5", 0, -1, 0, -1},
        {"7", 7, 7, 7, 7},
        {"-7", -7, -7, -7, -7},
        {"3e9", INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
        {"-3e9", INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN},
        {"-2147483648", INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN},
        {"2147483647", INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
        {"4294967295.5", INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
        {"1e30", INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
        {"1e-30", 0, 0, 1, 0},
        {"-1e-30", 0, 0, 0, -1},
        {"0", 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        THugeFloat x(30);
        x.SetText(c.Text);
        EXPECT_EQ(x.Trunc(), c.Trunc) << c.Text;
        EXPECT_EQ(x.Round(), c.Round) << c.Text;
        EXPECT_EQ(x.Ceil(), c.Ceil) << c.Text;
        EXPECT_EQ(x.Floor(), c.Floor) << c.Text;
    }
    THugeFloat special(30);
    special.SetNaN();
    EXPECT_EQ(special.Round(), 0);
    special.SetInfinite(false);
    EXPECT_EQ(special.Floor(), INT32_MAX);
    special.SetInfinite(true);
    EXPECT_EQ(special.Ceil(), INT32_MIN);
}

TEST(HugeBase, FracKeepsTheSignedFraction) {
    struct Case {
        const char *Input, *Output;
    } cases[] = {
        {"-3.25", "-0.25"}, {"7", "0"}, {"0.75", "0.75"}, {"4294967296.5", "0.5"}, {"-1e-20", "-1e-20"}};
    for (const Case &c : cases) {
        THugeFloat x(30);
        x.SetText(c.Input);
        x.Frac();
        EXPECT_EQ(x.GetText(), c.Output) << c.Input;
    }
    // a fraction whose first words are 0 is renormalised by whole words
    THugeFloat x(30, 1);
    x.FMantissa[0] = 5; // 1 + 5 * 2^-(32 (n - 1))
    x.Frac();
    EXPECT_EQ(x.FExponent, -(x.FWordCount - 1));
    EXPECT_EQ(x.TopWord(), 5u);
}

TEST(HugeBase, AssignPadsOrKeepsTheTopWords) {
    THugeFloat narrow(20); // 4 words
    THugeFloat wide(100);  // 12 words
    ASSERT_EQ(narrow.FWordCount, 4);
    ASSERT_EQ(wide.FWordCount, 12);
    for (int i = 0; i < 12; ++i)
        wide.FMantissa[i] = 0x01010101u * (i + 1);
    wide.FExponent = -3;
    wide.FSign = true;
    narrow.Assign(wide);
    EXPECT_EQ(narrow.FExponent, -3);
    EXPECT_TRUE(narrow.FSign);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(narrow.FMantissa[i], wide.FMantissa[8 + i]);
    THugeFloat back(100, 99);
    back.Assign(narrow);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(back.FMantissa[i], 0u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(back.FMantissa[8 + i], narrow.FMantissa[i]);
    EXPECT_EQ(back.FExponent, -3);
}

TEST(HugeBase, EqualsHasNoToleranceAndSignIsThreeWay) {
    THugeFloat a(20, 0), b(20, 0);
    b.FMantissa[0] = 1; // still 0, but another word pattern
    EXPECT_TRUE(a.IsZero() && b.IsZero());
    EXPECT_FALSE(a.Equals(b));
    EXPECT_EQ(a.Compare(b), 0);
    THugeFloat c(20, 5), d(40, 5);
    EXPECT_FALSE(c.Equals(d)); // word counts differ
    struct Case {
        THugeState State;
        bool Negative;
        int32_t Value;
        int Sign;
    } cases[] = {{hsNormal, false, 5, 1}, {hsNormal, true, -5, -1},  {hsNormal, false, 0, 0},
                 {hsNaN, false, 0, 0},    {hsInfinite, true, 0, -1}, {hsInfinite, false, 0, 1}};
    for (const Case &k : cases) {
        THugeFloat x(20, k.Value);
        x.FState = k.State;
        x.FSign = k.Negative;
        EXPECT_EQ(x.Sign(), k.Sign);
    }
    THugeFloat five(20, 5);
    EXPECT_GT(five.CompareInteger(3), 0);
    EXPECT_LT(five.CompareInteger(6), 0);
    EXPECT_EQ(five.CompareInteger(5), 0);
    EXPECT_GT(five.CompareInteger(-7), 0);
}

TEST(HugeBase, ConstantsTakeTheirTopWords) {
    THugeFloat x(20); // 4 words
    x.LoadLn2();
    EXPECT_EQ(x.FExponent, -1);
    const uint32_t ln2[] = {0xB17217F7, 0xD1CF79AB, 0xC9E3B398, 0x03F2F6AF};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(x.FMantissa[3 - i], ln2[i]);
    struct Case {
        void (THugeFloatBase::*Load)();
        uint32_t Words[4];
    } cases[] = {{&THugeFloatBase::LoadPi, {3, 0x243F6A88, 0x85A308D3, 0x13198A2E}},
                 {&THugeFloatBase::LoadE, {2, 0xB7E15162, 0x8AED2A6A, 0xBF715880}},
                 {&THugeFloatBase::LoadLog2E, {1, 0x71547652, 0xB82FE177, 0x7D0FFDA0}}};
    for (const Case &c : cases) {
        (x.*c.Load)();
        EXPECT_EQ(x.FExponent, 0);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(x.FMantissa[3 - i], c.Words[i]);
    }
}

TEST(HugeBase, RandomizeGivesFractionsBelowOne) {
    THugeFloat a(40), b(40);
    a.Randomize();
    b.Randomize();
    for (THugeFloat *x : {&a, &b}) {
        EXPECT_EQ(x->FExponent, -1);
        EXPECT_NE(x->TopWord(), 0u);
        EXPECT_EQ(x->FState, hsNormal);
        EXPECT_FALSE(x->FSign);
    }
    EXPECT_FALSE(a.Equals(b));
}

} // namespace
