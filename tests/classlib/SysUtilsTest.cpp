// Format, number text, text helpers, file names and dates.
#include "SysUtils.h"

#include <clocale>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

namespace {

// ---------------------------------------------------------------------------------------------
// Helpers for exact 80-bit values: 20 hexadecimal digits, sign/exponent word first.

long double ExtendedFromHex(const std::string &hex) {
    unsigned char bytes[16] = {};
    for (int i = 0; i < 10; ++i) {
        unsigned value = std::stoul(hex.substr(static_cast<size_t>(2 * i), 2), nullptr, 16);
        bytes[9 - i] = static_cast<unsigned char>(value);
    }
    long double result = 0;
    std::memcpy(&result, bytes, 10);
    return result;
}

std::string HexOfExtended(long double value) {
    unsigned char bytes[16] = {};
    std::memcpy(bytes, &value, 10);
    std::string hex;
    char buffer[3];
    for (int i = 9; i >= 0; --i) {
        std::snprintf(buffer, sizeof(buffer), "%02X", bytes[i]);
        hex += buffer;
    }
    return hex;
}

std::string HexOfDouble(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof(bits));
    char buffer[17];
    std::snprintf(buffer, sizeof(buffer), "%016llX", static_cast<unsigned long long>(bits));
    return buffer;
}

long double RandomExtended(std::mt19937_64 &rng) {
    for (;;) {
        uint64_t mantissa = rng();
        unsigned signExp = static_cast<unsigned>(rng() & 0xFFFF);
        unsigned exponent = signExp & 0x7FFF;
        if (exponent == 0x7FFF)
            continue;
        if (exponent == 0)
            mantissa &= ~(1ull << 63);
        else
            mantissa |= 1ull << 63;
        unsigned char bytes[16] = {};
        std::memcpy(bytes, &mantissa, 8);
        bytes[8] = static_cast<unsigned char>(signExp);
        bytes[9] = static_cast<unsigned char>(signExp >> 8);
        long double value = 0;
        std::memcpy(&value, bytes, 10);
        return value;
    }
}

bool SameBits(long double a, long double b) {
    return std::memcmp(&a, &b, 10) == 0;
}

// ---------------------------------------------------------------------------------------------
// Format

struct TextCase {
    const char *Expected;
    std::string Actual;
};

TEST(FormatTest, FollowsPrintfForEveryConversion) {
    // Expected texts as C's printf gives them (floats taken from a correctly rounding printf).
    const TextCase cases[] = {
        {"-003.142", Format("%08.3f", -3.14159)},
        {"0.12", Format("%.2f", 0.125)}, // exact tie: to even
        {"0.38", Format("%.2f", 0.375)},
        {"2", Format("%.0f", 2.5)},
        {"4", Format("%.0f", 3.5)},
        {"0.1", Format("%.1f", 0.05)}, // 0.05 lies above the tie
        {"0.2", Format("%.1f", 0.25)},
        {"1e-05", Format("%g", 1e-5)},
        {"0.0001", Format("%g", 0.0001)},
        {"123456", Format("%g", 123456.0)},
        {"1.23457e+06", Format("%g", 1234567.0)},
        {"100000", Format("%g", 100000.0)},
        {"1e+06", Format("%g", 1e6)},
        {"1.00000", Format("%#g", 1.0)},
        {"+1.235e+04", Format("%+.3e", 12345.678)},
        {"     3.142", Format("%10.4g", 3.14159265)},
        {"2.2       |", Format("%-10.1f|", 2.25)},
        {"0.000000e+00", Format("%e", 0.0)},
        {"-0", Format("%.3g", -0.0)},
        {"100000000000000000000.000000", Format("%f", 1e20)},
        {"0.10000000000000001", Format("%.17g", 0.1)},
        {"1E-10", Format("%G", 1e-10)},
        {"1e+01", Format("%5.0e", 9.5)},
        {" 1.00", Format("% .2f", 1.0)},
        {"2e+01", Format("%.0e", 15.0)},
        {"0.6666666667", Format("%.10g", 2.0 / 3)},
        {"inf", Format("%f", std::numeric_limits<double>::infinity())},
        {"-INF", Format("%E", -std::numeric_limits<double>::infinity())},
        {"  nan", Format("%5.1f", std::numeric_limits<double>::quiet_NaN())},
        {"0.3333333333333333333", Format("%.19Lg", 1.0L / 3)},
        {"1.18973149535723176502e+4932", Format("%.20Le", std::numeric_limits<long double>::max())},
        {"3.6452e-4951", Format("%.4Le", std::numeric_limits<long double>::denorm_min())},
        // Everything else goes to the C library one conversion at a time.
        {"[  42|-42  |002a|2A|-7|4294967295]",
         Format("[%4d|%-5d|%04x|%X|%hd|%u]", 42, -42, 42, 42, -7, 4294967295u)},
        {"9223372036854775807 18446744073709551615",
         Format("%lld %llu", 9223372036854775807ll, 18446744073709551615ull)},
        {"-5 ff", Format("%I64d %I64x", static_cast<long long>(-5), static_cast<long long>(255))},
        {"'abc' 'x' '  ab'", Format("'%s' '%c' '%4.2s'", std::string("abc"), 'x', "abc")},
        {"100% done", Format("%d%% done", 100)},
        {"Could not open 'a.ofm' in 'C:\\f'",
         Format("Could not open '%s' in '%s'", std::string("a.ofm"), "C:\\f")},
        {"[    7] [7    ]", Format("[%*d] [%-*d]", 5, 7, 5, 7)},
        {"3.14", Format("%.*f", 2, 3.14159)},
    };
    for (const TextCase &c : cases)
        EXPECT_EQ(c.Expected, c.Actual);
}

TEST(FormatTest, LongOutputIsNotCut) {
    std::string big(5000, 'x');
    EXPECT_EQ("<" + big + ">", Format("<%s>", big));
    std::string fixed = Format("%.0Lf", std::numeric_limits<long double>::max());
    EXPECT_EQ(4933u, fixed.size());
    EXPECT_EQ("11897314953572317650", fixed.substr(0, 20));
}

// The conversions never follow the C locale, also when it is set to one that uses ','.
class GermanLocaleTest : public ::testing::Test {
protected:
    void SetUp() override {
        FLocaleSet =
            std::setlocale(LC_ALL, "German") != nullptr || std::setlocale(LC_ALL, "de_DE") != nullptr;
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
    bool FLocaleSet = false;
};

TEST_F(GermanLocaleTest, TextAndNumbersUseThePoint) {
    if (!FLocaleSet)
        GTEST_SKIP() << "no German locale";
    char probe[32];
    std::snprintf(probe, sizeof(probe), "%.1f", 1.5);
    ASSERT_STREQ("1,5", probe) << "the locale must really use ',' for the test to mean something";

    EXPECT_EQ("1.50 2.5e+00 0.25 1.5 a", Format("%.2f %.1e %g %.1Lf %s", 1.5, 2.5, 0.25, 1.5L, "a"));
    EXPECT_EQ("1.5", FloatToStr(1.5L));
    EXPECT_EQ("1.5E20", FloatToStr(1.5e20L));
    EXPECT_EQ(1.5L, StrToFloat("1.5"));
    long double value = 0;
    EXPECT_FALSE(TryStrToFloat("1,5", value));
    double d = 0;
    EXPECT_TRUE(TryStrToFloat("-0.125", d));
    EXPECT_EQ(-0.125, d);
}

// ---------------------------------------------------------------------------------------------
// Integers

TEST(IntegerTextTest, ConvertsBothWays) {
    EXPECT_EQ("0", IntToStr(0));
    EXPECT_EQ("-2147483648", IntToStr(std::numeric_limits<int32_t>::min()));
    EXPECT_EQ("-9223372036854775808", IntToStr(std::numeric_limits<int64_t>::min()));
    EXPECT_EQ("18446744073709551615", IntToStr(std::numeric_limits<uint64_t>::max()));
    EXPECT_EQ("4294967295", IntToStr(4294967295u));
    EXPECT_EQ("-7", Int64ToStr(-7));
    EXPECT_EQ("00FF", IntToHex(255, 4));
    EXPECT_EQ("FFFFFFFF", IntToHex(-1, 1));
    EXPECT_EQ("FFFFFFFFFFFFFFFF", IntToHex(static_cast<int64_t>(-1), 2));
    EXPECT_EQ("1234ABCD", IntToHex(0x1234ABCDu, 0));
}

TEST(IntegerTextTest, ParsesOnlyWholeDecimalNumbersInRange) {
    struct Case {
        const char *Text;
        bool Valid32;
        int32_t Value32;
        bool Valid64;
        int64_t Value64;
    };
    const Case cases[] = {
        {"0", true, 0, true, 0},
        {"  -17", true, -17, true, -17},
        {"+5", true, 5, true, 5},
        {"2147483647", true, 2147483647, true, 2147483647},
        {"-2147483648", true, -2147483647 - 1, true, -2147483648ll},
        {"2147483648", false, 0, true, 2147483648ll},
        {"-2147483649", false, 0, true, -2147483649ll},
        {"9223372036854775807", false, 0, true, 9223372036854775807ll},
        {"-9223372036854775808", false, 0, true, std::numeric_limits<int64_t>::min()},
        {"9223372036854775808", false, 0, false, 0},
        {"99999999999999999999999", false, 0, false, 0},
        {"", false, 0, false, 0},
        {"-", false, 0, false, 0},
        {"12 ", false, 0, false, 0},
        {"1.0", false, 0, false, 0},
        {"0x10", false, 0, false, 0},
        {"$10", false, 0, false, 0},
        {"1e3", false, 0, false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Text);
        int32_t v32 = 12345;
        EXPECT_EQ(c.Valid32, TryStrToInt(c.Text, v32));
        if (c.Valid32) {
            EXPECT_EQ(c.Value32, v32);
        }
        int64_t v64 = 12345;
        EXPECT_EQ(c.Valid64, TryStrToInt64(c.Text, v64));
        if (c.Valid64) {
            EXPECT_EQ(c.Value64, v64);
        }
        EXPECT_EQ(c.Valid32 ? c.Value32 : -99, StrToIntDef(c.Text, -99));
    }
}

TEST(IntegerTextTest, InvalidTextRaisesConvertError) {
    try {
        StrToInt("12a");
        FAIL() << "no exception";
    } catch (const EConvertError &e) {
        EXPECT_EQ("'12a' is not a valid integer value", e.Message());
    }
    EXPECT_THROW(StrToInt64("x"), EConvertError);
}

// ---------------------------------------------------------------------------------------------
// Floats: reference conversions computed with exact rational arithmetic (data/float_cases.txt,
// written by data/make_float_cases.py).

class FloatCasesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::ifstream file(std::string(TEST_DATA_DIR) + "classlib\\data\\float_cases.txt");
        std::string line;
        while (std::getline(file, line))
            if (!line.empty())
                Lines.push_back(line);
    }
    static std::vector<std::string> Lines;
};
std::vector<std::string> FloatCasesTest::Lines;

TEST_F(FloatCasesTest, BinaryToDecimalIsCorrectlyRounded) {
    int checked = 0;
    for (const std::string &line : Lines) {
        std::istringstream in(line);
        std::string kind, bits, d19, d21, printf19;
        int e19 = 0, e21 = 0;
        in >> kind;
        if (kind != "V")
            continue;
        in >> bits >> d19 >> e19 >> d21 >> e21 >> printf19;
        SCOPED_TRACE(line);
        long double value = ExtendedFromHex(bits);
        TFloatRec rec;
        FloatToDecimal(rec, value, 19, 9999);
        EXPECT_EQ(d19, rec.Digits);
        EXPECT_EQ(e19, rec.Exponent);
        EXPECT_EQ(bits[0] >= '8', rec.Negative);
        FloatToDecimal(rec, value, 21, 9999);
        EXPECT_EQ(d21, rec.Digits);
        EXPECT_EQ(e21, rec.Exponent);
        EXPECT_EQ(printf19, Format("%.18Le", value));
        ++checked;
    }
    EXPECT_GT(checked, 0) << "float_cases.txt missing";
}

TEST_F(FloatCasesTest, DecimalToBinaryIsCorrectlyRounded) {
    int checked = 0;
    for (const std::string &line : Lines) {
        std::istringstream in(line);
        std::string kind, text, expected;
        in >> kind >> text >> expected;
        if (kind != "P" && kind != "D")
            continue;
        SCOPED_TRACE(kind + " " + text.substr(0, 60) + " -> " + expected);
        if (kind == "P") {
            long double value = 0;
            bool ok = TryStrToFloat(text, value);
            EXPECT_EQ(expected != "OVERFLOW", ok);
            if (ok) {
                EXPECT_EQ(expected, HexOfExtended(value));
            }
        } else {
            double value = 0;
            bool ok = TryStrToFloat(text, value);
            EXPECT_EQ(expected != "OVERFLOW", ok);
            if (ok) {
                EXPECT_EQ(expected, HexOfDouble(value));
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, 0) << "float_cases.txt missing";
}

// 21 significant digits identify every 80-bit value (19 do not: the decimal steps are coarser
// than the binary ones for most values), so the round trip is checked at 21.
TEST(FloatTextTest, TwentyOneDigitsRoundTripEveryExtendedValue) {
    std::mt19937_64 rng(19);
    for (int i = 0; i < 20000; ++i) {
        long double value = RandomExtended(rng);
        std::string text = FloatToStrF(value, ffGeneral, 21, 0);
        long double back = 0;
        ASSERT_TRUE(TryStrToFloat(text, back)) << text;
        ASSERT_TRUE(SameBits(value, back))
            << text << " " << HexOfExtended(value) << " " << HexOfExtended(back);
    }
}

// The stored float text has 19 significant digits: a value read back from it differs from the
// original by at most half a unit of the 19th digit (and the binary rounding), and writing it again gives the
// same text.
TEST(FloatTextTest, NineteenDigitTextIsStableAndClose) {
    std::mt19937_64 rng(1919);
    for (int i = 0; i < 20000; ++i) {
        long double value = RandomExtended(rng);
        std::string text = FloatToStrF(value, ffGeneral, 19, 0);
        long double back = 0;
        ASSERT_TRUE(TryStrToFloat(text, back)) << text;
        ASSERT_EQ(text, FloatToStrF(back, ffGeneral, 19, 0)) << HexOfExtended(value);
        if (std::fpclassify(value) == FP_NORMAL) {
            // Half a unit of the 19th digit (at most 5e-19 of the value) plus the final binary rounding.
            long double relative = std::fabs((back - value) / value);
            ASSERT_LE(relative, 5e-19L + 0x1p-64L) << text << " " << HexOfExtended(value);
        }
    }
}

TEST(FloatTextTest, SeventeenDigitsRoundTripEveryDouble) {
    std::mt19937_64 rng(17);
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = rng();
        double value;
        std::memcpy(&value, &bits, sizeof(value));
        if (!std::isfinite(value))
            continue;
        std::string text = Format("%.17g", value);
        double back = 0;
        ASSERT_TRUE(TryStrToFloat(text, back)) << text;
        ASSERT_EQ(HexOfDouble(value), HexOfDouble(back)) << text;
    }
}

TEST(FloatTextTest, GeneralFormatLooksLikeTheProgramsTexts) {
    const TextCase cases[] = {
        {"1.5E20", FloatToStr(1.5e20L)},
        {"1E-5", FloatToStr(1e-5L)},
        {"0.0001", FloatToStr(0.0001L)},
        {"0.333333333333333", FloatToStr(1.0L / 3)},
        {"123456789012345", FloatToStr(123456789012345.0L)},
        {"1.23456789012346E15", FloatToStr(1234567890123456.0L)},
        {"100", FloatToStr(100.0L)},
        {"-2.5", FloatToStr(-2.5L)},
        {"0", FloatToStr(-0.0L)},
        {"0", FloatToStr(0.0L)},
        {"INF", FloatToStr(std::numeric_limits<long double>::infinity())},
        {"-INF", FloatToStr(-std::numeric_limits<long double>::infinity())},
        {"NAN", FloatToStr(std::numeric_limits<long double>::quiet_NaN())},
        {"0.3333333333333333333", FloatToStrF(1.0L / 3, ffGeneral, 19, 0)},
        {"4E-4951", FloatToStrF(std::numeric_limits<long double>::denorm_min(), ffGeneral, 1, 0)},
        {"1.2345E+03", FloatToStrF(1234.5L, ffExponent, 5, 2)},
        {"-5.0000E-0007", FloatToStrF(-5e-7L, ffExponent, 5, 4)},
        {"3", FloatToStrF(2.5L, ffFixed, 15, 0)}, // exact tie: away from zero
        {"3.14", FloatToStrF(3.14159L, ffFixed, 15, 2)},
        {"0.00", FloatToStrF(-0.001L, ffFixed, 15, 2)},
        {"1234.50", FloatToStrF(1234.5L, ffFixed, 15, 2)},
        {"1E20", FloatToStrF(1e20L, ffFixed, 15, 2)},
    };
    for (const TextCase &c : cases)
        EXPECT_EQ(c.Expected, c.Actual);
}

TEST(FloatTextTest, ParserAcceptsOnlyPlainDecimalText) {
    struct Case {
        const char *Text;
        bool Valid;
        long double Value;
    };
    const Case cases[] = {
        {" 12.5 ", true, 12.5L}, {"-12.5e3", true, -12500.0L},
        {"1e-3", true, 0.001L},  {"12.", true, 12.0L},
        {".5", true, 0.5L},      {"+0.25E+2", true, 25.0L},
        {"1E4933", false, 0},    {"e5", false, 0},
        {"1.2.3", false, 0},     {"", false, 0},
        {"  ", false, 0},        {"12a", false, 0},
        {"1e", false, 0},        {"1e+", false, 0},
        {".", false, 0},         {"INF", false, 0},
        {"NAN", false, 0},       {"1,5", false, 0},
        {"0x1p3", false, 0},     {"- 1", false, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Text);
        long double value = -1;
        EXPECT_EQ(c.Valid, TryStrToFloat(c.Text, value));
        if (c.Valid) {
            EXPECT_EQ(c.Value, value);
        }
    }
    try {
        StrToFloat("1.2.3");
        FAIL() << "no exception";
    } catch (const EConvertError &e) {
        EXPECT_EQ("'1.2.3' is not a valid floating point value", e.Message());
    }
    EXPECT_EQ(7.0L, StrToFloatDef("x", 7.0L));
    // Too small for the type: zero (with its sign), not an error.
    long double tiny = 1;
    EXPECT_TRUE(TryStrToFloat("-1e-6000", tiny));
    EXPECT_EQ("80000000000000000000", HexOfExtended(tiny));
    double small = 1;
    EXPECT_TRUE(TryStrToFloat("1e-400", small));
    EXPECT_EQ(0.0, small);
    EXPECT_FALSE(TryStrToFloat("1e309", small));
}

// ---------------------------------------------------------------------------------------------
// Text helpers and file names

TEST(TextTest, TrimCaseAndCompare) {
    EXPECT_EQ("a b", Trim(" \t a b\r\n"));
    EXPECT_EQ("a b\r\n", TrimLeft(" \t a b\r\n"));
    EXPECT_EQ(" \t a b", TrimRight(" \t a b\r\n"));
    EXPECT_EQ("", Trim(" \x01 "));
    EXPECT_EQ("ABC\xE4_1", UpperCase("aBc\xE4_1")); // only ASCII letters change
    EXPECT_EQ("abc\xC4_1", LowerCase("aBc\xC4_1"));
    EXPECT_EQ(0, CompareText("Fractal", "fRACTAL"));
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_LT(CompareText("ab", "AB_"), 0);
    // Letters compare as capitals: 'a' sorts before '_' although it follows it in ASCII.
    EXPECT_LT(CompareText("a", "_"), 0);
    EXPECT_GT(CompareStr("a", "_"), 0);
    EXPECT_LT(CompareStr("B", "a"), 0);
    EXPECT_GT(CompareStr("\xE4", "a"), 0); // bytes compare unsigned
    EXPECT_TRUE(SameText("Layer", "LAYER"));
    EXPECT_FALSE(SameText("Layer", "Layers"));
}

TEST(TextTest, StringReplace) {
    EXPECT_EQ("a-b.c", StringReplace("a.b.c", ".", "-", 0));
    EXPECT_EQ("a-b-c", StringReplace("a.b.c", ".", "-", rfReplaceAll));
    EXPECT_EQ("x x x", StringReplace("AB ab aB", "ab", "x", rfReplaceAll | rfIgnoreCase));
    EXPECT_EQ("aaaa", StringReplace("aa", "a", "aa", rfReplaceAll)); // no re-scan of the replacement
    EXPECT_EQ("abc", StringReplace("abc", "", "x", rfReplaceAll));
}

TEST(FileNameTest, SplitsAtBackslashAndColon) {
    struct Case {
        const char *Name, *Path, *Dir, *File, *Ext, *Changed;
    };
    const Case cases[] = {
        {"C:\\Fractals\\Julia.opr", "C:\\Fractals\\", "C:\\Fractals", "Julia.opr", ".opr",
         "C:\\Fractals\\Julia.ofr"},
        {"C:\\Julia.opr", "C:\\", "C:\\", "Julia.opr", ".opr", "C:\\Julia.ofr"},
        {"C:Julia", "C:", "C:", "Julia", "", "C:Julia.ofr"},
        {"Julia", "", "", "Julia", "", "Julia.ofr"},
        {"a.b\\c", "a.b\\", "a.b", "c", "", "a.b\\c.ofr"},
        {"dir\\x.tar.gz", "dir\\", "dir", "x.tar.gz", ".gz", "dir\\x.tar.ofr"},
        {"dir\\.hidden", "dir\\", "dir", ".hidden", ".hidden", "dir\\.ofr"},
        {"\\\\server\\share\\f.txt", "\\\\server\\share\\", "\\\\server\\share", "f.txt", ".txt",
         "\\\\server\\share\\f.ofr"},
        {"dir/file.txt", "", "", "dir/file.txt", ".txt", "dir/file.ofr"}, // '/' is not a separator
        {"", "", "", "", "", ".ofr"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(c.Path, ExtractFilePath(c.Name));
        EXPECT_EQ(c.Dir, ExtractFileDir(c.Name));
        EXPECT_EQ(c.File, ExtractFileName(c.Name));
        EXPECT_EQ(c.Ext, ExtractFileExt(c.Name));
        EXPECT_EQ(c.Changed, ChangeFileExt(c.Name, ".ofr"));
    }
    EXPECT_EQ("a\\", IncludeTrailingPathDelimiter("a"));
    EXPECT_EQ("a\\", IncludeTrailingPathDelimiter("a\\"));
    EXPECT_EQ("a", ExcludeTrailingPathDelimiter("a\\"));
    EXPECT_EQ("a\\", ExcludeTrailingPathDelimiter("a\\\\"));
}

// ---------------------------------------------------------------------------------------------
// Dates: serial numbers and weekdays from Python's datetime.

TEST(DateTest, EncodeAndDecodeKnownSerials) {
    struct Case {
        uint16_t Year, Month, Day;
        int Serial;
        int Weekday; // 1 Sunday .. 7 Saturday
    };
    const Case cases[] = {
        {2004, 8, 19, 38218, 5},    {1899, 12, 30, 0, 7},     {1899, 12, 29, -1, 6},
        {1900, 1, 1, 2, 2},         {1900, 3, 1, 61, 5},      {1, 1, 1, -693593, 2},
        {9999, 12, 31, 2958465, 6}, {2000, 2, 29, 36585, 3},  {1600, 2, 29, -109512, 3},
        {2100, 3, 1, 73110, 2},     {1752, 9, 14, -53797, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Serial);
        EXPECT_EQ(c.Serial, EncodeDate(c.Year, c.Month, c.Day));
        uint16_t y, m, d;
        DecodeDate(c.Serial, y, m, d);
        EXPECT_EQ(c.Year, y);
        EXPECT_EQ(c.Month, m);
        EXPECT_EQ(c.Day, d);
        // A time of the day: before the epoch the fraction makes the value more negative.
        EXPECT_EQ(c.Weekday, DayOfWeek(c.Serial + (c.Serial >= 0 ? 0.75 : -0.75)));
    }
}

TEST(DateTest, ImpossibleDatesRaise) {
    struct Case {
        uint16_t Year, Month, Day;
    };
    const Case bad[] = {{2003, 2, 29}, {1900, 2, 29}, {2004, 13, 1}, {2004, 0, 1},
                        {2004, 4, 31}, {0, 1, 1},     {10000, 1, 1}, {2004, 1, 0}};
    for (const Case &c : bad) {
        TDateTime t;
        EXPECT_FALSE(TryEncodeDate(c.Year, c.Month, c.Day, t));
        EXPECT_THROW(EncodeDate(c.Year, c.Month, c.Day), EConvertError);
    }
    try {
        EncodeDate(2003, 2, 29);
    } catch (const EConvertError &e) {
        EXPECT_EQ("Invalid argument to date encode", e.Message());
    }
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
    EXPECT_THROW(EncodeTime(1, 60, 0, 0), EConvertError);
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_EQ(29, DaysInMonth(2004, 2));
    EXPECT_EQ(28, DaysInMonth(2100, 2));
    EXPECT_EQ(0, DaysInMonth(2004, 13));
}

TEST(DateTest, TimeOfDayAndTexts) {
    TDateTime t = EncodeDate(2004, 8, 19) + EncodeTime(14, 5, 9, 250);
    uint16_t h, n, s, ms;
    DecodeTime(t, h, n, s, ms);
    EXPECT_EQ(14, h);
    EXPECT_EQ(5, n);
    EXPECT_EQ(9, s);
    EXPECT_EQ(250, ms);
    EXPECT_EQ("8/19/2004 14:05:09", DateTimeToStr(t));
    EXPECT_EQ("8/19/2004", DateToStr(t));
    EXPECT_EQ("00:00:00", TimeToStr(EncodeDate(2004, 8, 19)));

    // A time that rounds up to a full day belongs to the next day, not to hour 24.
    TDateTime late = EncodeDate(2004, 12, 31) + 86399999.6 / MSecsPerDay;
    uint16_t y, m, d;
    DecodeDate(late, y, m, d);
    DecodeTime(late, h, n, s, ms);
    EXPECT_EQ(2005, y);
    EXPECT_EQ(1, m);
    EXPECT_EQ(1, d);
    EXPECT_EQ(0, h);
    EXPECT_EQ("1/1/2005 00:00:00", DateTimeToStr(late));

    // Before the epoch the fraction still counts forwards from the day of the whole part.
    DecodeDate(-1.25, y, m, d);
    DecodeTime(-1.25, h, n, s, ms);
    EXPECT_EQ(1899, y);
    EXPECT_EQ(12, m);
    EXPECT_EQ(29, d);
    EXPECT_EQ(6, h);
}

TEST(DateTest, PackedFileDates) {
    // 2004-08-19 14:05:10: date (24 << 9) | (8 << 5) | 19, time (14 << 11) | (5 << 5) | 5.
    int32_t packed =
        static_cast<int32_t>((((24u << 9) | (8u << 5) | 19u) << 16) | ((14u << 11) | (5u << 5) | 5u));
    EXPECT_EQ("8/19/2004 14:05:10", DateTimeToStr(FileDateToDateTime(packed)));
    EXPECT_THROW(FileDateToDateTime(0), EConvertError); // month 0
}

TEST(DateTest, ClockIsPlausible) {
    TDateTime before = Date();
    TDateTime now = Now();
    TDateTime after = Date();
    EXPECT_GT(now, EncodeDate(2020, 1, 1));
    EXPECT_LT(now, EncodeDate(2200, 1, 1));
    EXPECT_TRUE(std::floor(now) == before || std::floor(now) == after);
    EXPECT_GE(Time(), 0.0);
    EXPECT_LT(Time(), 1.0);
}

} // namespace
