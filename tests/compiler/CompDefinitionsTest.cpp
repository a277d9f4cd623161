#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "CompDefinitions.h"

namespace {

TEST(FunctionNames, IdsAndNamesMatchBothTables) {
    struct TCase {
        const char *Name;
        int Id;
    } cases[] = {{"sin", 0}, {"round", 28}, {"ident", 22}, {"normal", 49}, {"hsladdition", 64}, {"blue", 67}};
    for (const TCase &c : cases) {
        EXPECT_EQ(FunctionNameToId(c.Name), c.Id) << c.Name;
        EXPECT_EQ(FunctionIdToName(c.Id), c.Name) << c.Id;
    }
}

TEST(FunctionNames, UnknownNamesAndIdsAreRefused) {
    // Comparison is exact: a capital letter is another name.
    for (const char *name : {"Sin", "SIN", "normal ", "", "real", "mergenormal"})
        EXPECT_EQ(FunctionNameToId(name), 76) << name;
    // The gap between the two tables and both ends.
    for (int id : {-1, 29, 48, 68, 76, 255})
        EXPECT_EQ(FunctionIdToName(id), "") << id;
}

TEST(FloatText, Syntax) {
    struct TCase {
        const char *Text;
        bool Valid;
    } cases[] = {
        {"0", true},        {"-12", true},  {"+1.5", true},   {"1.", true},   {".5", true},
        {".", true},        {"-.", true},   {"1e5", true},    {"1E-5", true}, {".e+7", true},
        {"1.5E+300", true}, {"", false},    {"-", false},     {"+", false},   {"e5", false},
        {"1e", false},      {"1e+", false}, {"1.2.3", false}, {"1 ", false},  {" 1", false},
        {"1e5.5", false},   {"--1", false}, {"0x10", false},  {"1i", false},  {"1,5", false},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(IsValidFloatText(c.Text), c.Valid) << c.Text;
}

// Every text of the number syntax converts; the reference for ordinary numbers is the class
// library's correctly rounded conversion of the same number written in full.
TEST(FloatText, ConvertsLikeTheFullTextForOrdinaryNumbers) {
    struct TCase {
        const char *Text;
        const char *FullText;
    } cases[] = {
        {".5", "0.5"},     {"5.", "5.0"},
        {"-.25e2", "-25"}, {"1E+3", "1000"},
        {"+0.1", "0.1"},   {"123456789012345678901234567890", "1.23456789012345678901234567890e29"},
        {"-+2.5", "-2.5"}, {"+-2.5", "-2.5"},
        {"--2.5", "2.5"},  {"4.9406564584124654e-324", "4.9406564584124654e-324"},
    };
    for (const TCase &c : cases) {
        EXPECT_EQ(FloatTextToExtended(c.Text), StrToFloat(c.FullText)) << c.Text;
        double reference;
        ASSERT_TRUE(TryStrToFloat(std::string(c.FullText), reference));
        EXPECT_EQ(FloatTextToDouble(c.Text), reference) << c.Text;
    }
}

TEST(FloatText, MissingDigitsOverflowAndUnderflowNeverRaise) {
    const long double inf = std::numeric_limits<long double>::infinity();
    struct TCase {
        const char *Text;
        long double Extended;
        double Double;
    } cases[] = {
        {".", 0.0L, 0.0},
        {".e5", 0.0L, 0.0},
        {"0e99999999999999999999", 0.0L, 0.0},
        {"1.19e4932", inf, HUGE_VAL},
        {"1e5000", inf, HUGE_VAL},
        {"1.8e308", 1.8e308L, HUGE_VAL},
        {"-1e99999999999999999999", -inf, -HUGE_VAL},
        {"1e-99999999999999999999", 0.0L, 0.0},
        {"1e-5000", 0.0L, 0.0},
        {"1.18973149535723176502e4932", 1.18973149535723176502e4932L, HUGE_VAL},
    };
    for (const TCase &c : cases) {
        EXPECT_EQ(FloatTextToExtended(c.Text), c.Extended) << c.Text;
        EXPECT_EQ(FloatTextToDouble(c.Text), c.Double) << c.Text;
    }
    EXPECT_TRUE(std::signbit(FloatTextToExtended("-.")));
    EXPECT_TRUE(std::signbit(FloatTextToDouble("-0e-99999")));
}

TEST(FloatText, InvalidTextRaisesConvertError) {
    for (const char *text : {"", "abc", "1e", "---1", "1 "})
        EXPECT_THROW(FloatTextToExtended(text), EConvertError) << text;
}

TEST(FloatText, HugeConversion) {
    THugeFloat value(30);
    FloatTextToHuge("-12.5e3", value);
    EXPECT_EQ(value.GetText(), "-12500");
    FloatTextToHuge(".", value);
    EXPECT_TRUE(value.IsZero());
    FloatTextToHuge("1e99999999999", value);
    EXPECT_EQ(value.GetText(), "+INF");
    FloatTextToHuge("-1e-99999999999", value);
    EXPECT_TRUE(value.IsZero());

    // A very long mantissa gives the same number as its leading digits would.
    THugeFloat reference(20);
    reference.SetText("0." + std::string(80, '3'));
    THugeFloat longValue(20);
    FloatTextToHuge("0." + std::string(200000, '3'), longValue);
    EXPECT_EQ(longValue.GetText(), reference.GetText());
}

TEST(HugeComplex, AssignCopiesBothParts) {
    THugeComplex a(40), b(40);
    a.Re.SetText("1.25");
    a.Im.SetText("-3");
    b.Assign(a);
    EXPECT_EQ(b.Re.GetText(), "1.25");
    EXPECT_EQ(b.Im.GetText(), "-3");
}

// The 20 handles fill the arbitrary-precision context from the mapping's centre to INDEX, ending
// exactly at its 240 bytes.
TEST(HugeContext, ValuesAreCreatedAndFreedInTheirSlots) {
    alignas(16) unsigned char context[256] = {};
    InitHugeContextValues(context, 50);
    std::vector<THugeFloat *> seen;
    for (int i = 0; i < 20; ++i) {
        THugeFloat *value;
        std::memcpy(&value, context + 0xA0 + 4 * i, 4);
        ASSERT_NE(value, nullptr) << i;
        EXPECT_EQ(value->FPrecision, 50);
        for (THugeFloat *other : seen)
            EXPECT_NE(other, value);
        seen.push_back(value);
    }
    EXPECT_EQ(context[0x9F], 0) << "nothing before the slots is touched";
    for (int i = 240; i < 256; ++i)
        EXPECT_EQ(context[i], 0) << "nothing beyond the context's 240 bytes is touched";
    DoneHugeContextValues(context);
    for (int i = 0; i < 80; ++i)
        EXPECT_EQ(context[0xA0 + i], 0);
    DoneHugeContextValues(context); // empty slots are skipped
}

// --- Literals ------------------------------------------------------------------------------

TEST(Literals, TextRoundTripsAndRefusals) {
    struct TCase {
        std::unique_ptr<TLiteral> Literal;
        const char *Text;
        const char *Expected; // nullptr: refused
    };
    std::vector<TCase> cases;
    auto add = [&](std::unique_ptr<TLiteral> literal, const char *text, const char *expected) {
        cases.push_back({std::move(literal), text, expected});
    };
    add(std::make_unique<TBoolLiteral>(), "tRUe", "True");
    add(std::make_unique<TBoolLiteral>(true), "FALSE", "False");
    add(std::make_unique<TBoolLiteral>(), "yes", nullptr);
    add(std::make_unique<TIntLiteral>(), "-2147483648", "-2147483648");
    add(std::make_unique<TIntLiteral>(), "2147483648", nullptr);
    add(std::make_unique<TIntLiteral>(), "1.5", nullptr);
    add(std::make_unique<TFloatLiteral>(), "+007.50e-3", "+007.50e-3"); // kept as written
    add(std::make_unique<TFloatLiteral>(), ".", ".");
    add(std::make_unique<TFloatLiteral>(), "1e", nullptr);
    add(std::make_unique<TComplexLiteral>(), "( 1.5 , -2 )", "(1.5,-2)");
    add(std::make_unique<TComplexLiteral>(), "4i", "(0,4)");
    add(std::make_unique<TComplexLiteral>(), "-.5I", "(0,-.5)");
    add(std::make_unique<TComplexLiteral>(), "7", "(7,0)");
    add(std::make_unique<TComplexLiteral>(), "(1,2)(3", nullptr);
    add(std::make_unique<TComplexLiteral>(), "(1 2)", nullptr);
    add(std::make_unique<TComplexLiteral>(), "(1,x)", nullptr);
    add(std::make_unique<TComplexLiteral>(), "(", nullptr);
    add(std::make_unique<TComplexLiteral>(), "", nullptr);
    add(std::make_unique<TComplexLiteral>(), "i", nullptr);
    for (TCase &c : cases) {
        std::string before = c.Literal->GetText();
        if (c.Expected) {
            c.Literal->SetText(c.Text);
            EXPECT_EQ(c.Literal->GetText(), c.Expected) << c.Text;
        } else {
            try {
                c.Literal->SetText(c.Text);
                ADD_FAILURE() << c.Text << " was accepted";
            } catch (const ELiteralError &e) {
                EXPECT_EQ(e.Message(), std::string(c.Literal->ClassName()) + ".SetText: Invalid value");
            }
            EXPECT_EQ(c.Literal->GetText(), before) << c.Text << ": a refused text changes nothing";
        }
    }
}

TEST(Literals, InitialValues) {
    EXPECT_EQ(TBoolLiteral().GetText(), "False");
    EXPECT_EQ(TIntLiteral().GetText(), "0");
    EXPECT_EQ(TFloatLiteral().GetText(), "0");
    EXPECT_EQ(TComplexLiteral().GetText(), "(0,0)");
    EXPECT_EQ(TComplexLiteral().Type, 0);
    EXPECT_EQ(TFloatLiteral().Type, 1);
    EXPECT_EQ(TIntLiteral().Type, 2);
    EXPECT_EQ(TBoolLiteral().Type, 3);
}

TEST(Literals, Invert) {
    TFloatLiteral plus("+5");
    plus.Invert();
    EXPECT_EQ(plus.Text(), "-+5");
    EXPECT_EQ(plus.GetExtended(), -5.0L) << "the doubled sign still converts";
    plus.Invert();
    EXPECT_EQ(plus.Text(), "+5");

    TComplexLiteral complex("1.5", "-2");
    complex.Invert();
    EXPECT_EQ(complex.GetText(), "(-1.5,2)");

    TIntLiteral minimum(INT32_MIN), seven(7);
    minimum.Invert();
    seven.Invert();
    EXPECT_EQ(minimum.Value, INT32_MIN) << "no overflow: the value stays";
    EXPECT_EQ(seven.Value, -7);

    TBoolLiteral boolean(true);
    try {
        boolean.Invert();
        ADD_FAILURE() << "a boolean cannot be inverted";
    } catch (const ELiteralError &e) {
        EXPECT_EQ(e.Message(), "TBoolLiteral.Invert: Invalid operation");
    }
    // ELiteralError is an internal compiler error.
    EXPECT_THROW(boolean.Invert(), EInternalCompilerError);
}

TEST(Literals, CloneIsIndependent) {
    TComplexLiteral original("1", "2");
    std::unique_ptr<TLiteral> copy = original.Clone();
    original.SetText("(3,4)");
    EXPECT_EQ(copy->GetText(), "(1,2)");
    EXPECT_EQ(copy->Type, vtComplex);
    EXPECT_NE(dynamic_cast<TComplexLiteral *>(copy.get()), nullptr);
}

// --- Constants -----------------------------------------------------------------------------

long double ExtendedWithPadding(long double Value, unsigned char Padding) {
    unsigned char bytes[sizeof(long double)];
    std::memset(bytes, Padding, sizeof(bytes));
    std::memcpy(bytes, &Value, 10);
    long double result;
    std::memcpy(&result, bytes, sizeof(result));
    return result;
}

TEST(Constants, Equality) {
    double nan = std::numeric_limits<double>::quiet_NaN();
    struct TCase {
        std::unique_ptr<TConstant> A, B;
        bool Equal;
        const char *What;
    };
    std::vector<TCase> cases;
    auto add = [&](TConstant *a, TConstant *b, bool equal, const char *what) {
        cases.push_back({std::unique_ptr<TConstant>(a), std::unique_ptr<TConstant>(b), equal, what});
    };
    add(new TDoubleFloatConstant(0.0), new TDoubleFloatConstant(-0.0), false,
        "0 and -0 differ by their bytes");
    add(new TDoubleFloatConstant(nan), new TDoubleFloatConstant(nan), true, "the same NaN pattern");
    add(new TDoubleFloatConstant(1.5), new TExtendedFloatConstant(1.5L), false, "other precision");
    add(new TExtendedFloatConstant(ExtendedWithPadding(2.5L, 0x00)),
        new TExtendedFloatConstant(ExtendedWithPadding(2.5L, 0xAB)), true, "padding bytes do not count");
    add(new TExtendedFloatConstant(0.0L), new TExtendedFloatConstant(-0.0L), false, "extended 0 and -0");
    add(new TDoubleComplexConstant(1, 2), new TDoubleComplexConstant(1, 2), true, "same complex");
    add(new TDoubleComplexConstant(1, 0.0), new TDoubleComplexConstant(1, -0.0), false, "imaginary -0");
    add(new TExtendedComplexConstant(1, 2), new TDoubleComplexConstant(1, 2), false, "complex precisions");
    add(new TDoubleComplexConstant(1, 0), new TDoubleFloatConstant(1), false, "complex and float");
    add(new TColorConstant(0, 1, 0.5f, 1), new TColorConstant(-0.0f, 1, 0.5f, 1), true,
        "colours compare as numbers");
    add(new TColorConstant(NAN, 1, 1, 1), new TColorConstant(NAN, 1, 1, 1), false,
        "a NaN colour is never equal");
    add(new TIntConstant(3), new TIntConstant(3), true, "integers");
    add(new TIntConstant(1), new TBoolConstant(true), false, "integer and boolean");
    add(new TBoolConstant(false), new TBoolConstant(false), true, "booleans");
    for (const TCase &c : cases) {
        EXPECT_EQ(c.A->Equals(*c.B), c.Equal) << c.What;
        EXPECT_EQ(c.B->Equals(*c.A), c.Equal) << c.What << " (reversed)";
        std::unique_ptr<TConstant> clone = c.A->Clone();
        if (c.A->Equals(*c.A)) {
            EXPECT_TRUE(clone->Equals(*c.A)) << c.What;
        }
        EXPECT_EQ(clone->Type, c.A->Type);
    }
}

TEST(Constants, HugeValuesCompareExactly) {
    THugeFloat third(40), alsoThird(40);
    third.SetText("0.333333333333333333333333333333333333");
    alsoThird.SetText("0.333333333333333333333333333333333333");
    THugeFloatConstant a(40, third), b(40, alsoThird);
    EXPECT_TRUE(a.Equals(b));
    alsoThird.SetText("0.333333333333333333333333333333333334");
    THugeFloatConstant c(40, alsoThird);
    EXPECT_FALSE(a.Equals(c));
    std::unique_ptr<TConstant> clone = a.Clone();
    EXPECT_TRUE(clone->Equals(a));
    EXPECT_EQ(static_cast<TFloatConstant &>(*clone).Precision, 2);

    THugeComplex z(40);
    z.Re.SetText("1");
    z.Im.SetText("-2");
    THugeComplexConstant p(40, z), q(40, z);
    EXPECT_TRUE(p.Equals(q));
    q.Value.Im.SetText("2");
    EXPECT_FALSE(p.Equals(q));
    EXPECT_FALSE(p.Equals(a));
}

} // namespace
