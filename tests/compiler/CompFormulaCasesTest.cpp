// Minimal formulas compiled through the compile driver and run as pixel routines in double,
// extended and arbitrary precision, each with the value it must give: arguments near 0 and beyond
// the 80-bit range in arbitrary precision, divisions by constants, the operand order where an
// operand assigns, comparisons with NaN and operator chains thousands of terms long. Reference
// values from mpmath.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompCompiler.h"
#include "CompEntriesTestSupport.h"
#include "CompGenerator.h"
#include "CompGlobalsTestSupport.h"
#include "TestFormulas.h"

namespace {

constexpr int HugeDigits = 40;
constexpr std::uint8_t SymbolZ = 20;

struct TFormulaCase {
    std::string Name;
    // The entry's sections; the pixel is (3, 0). Without a BAILOUT section the loop runs once.
    std::string Body;
    // real(z) afterwards as decimal text ("nan", "inf" and "-inf" included).
    const char *Expected;
    // What double and extended precision give instead, where the value lies beyond their range
    // (nullptr: Expected).
    const char *X87Expected = nullptr;
    std::int32_t MaxIter = 1;
    // Iterations done (-1: not checked).
    std::int32_t Iterations = -1;
};

// Each entry's text, the name being Case<index>.
std::string EntryFile(const std::vector<TFormulaCase> &Cases) {
    std::string text;
    for (std::size_t i = 0; i < Cases.size(); ++i)
        text += "Case" + std::to_string(i) + " {\n" + Cases[i].Body + "\n}\n\n";
    return text;
}

std::vector<TFormulaCase> Cases() {
    std::vector<TFormulaCase> cases = {
        // e^x of arguments far below the last word of 1.
        {"exp of a tiny positive argument", "loop:\nz = exp(1e-20000 * (real(#pixel) - 2))", "1"},
        {"exp of a tiny negative argument", "loop:\nz = exp(-1e-30000 * (real(#pixel) - 2))", "1"},
        {"complex exp of a tiny argument", "loop:\nz = exp((#pixel - 2) * 1e-25000)", "1"},
        // Logarithms and roots of values beyond the 80-bit range, which x87 code sees as 0 or
        // infinity.
        {"float log of 1e-30000", "loop:\nfloat x = log(1e-30000 * (real(#pixel) - 2))\nz = x",
         "-69077.5527898213705205397436405309262280330446588631892809998", "0"},
        {"float log of 1e30000", "loop:\nfloat x = log(1e30000 * (real(#pixel) - 2))\nz = x",
         "69077.5527898213705205397436405309262280330446588631892809998", "inf"},
        {"complex log of 1e-30000", "loop:\nz = log((#pixel - 2) * 1e-30000)",
         "-69077.5527898213705205397436405309262280330446588631892809998", "-inf"},
        // (On the x87 the literal is infinite, and (1, 0) times it is (inf, NaN).)
        {"complex log of 1e30000", "loop:\nz = log((#pixel - 2) * 1e30000)",
         "69077.5527898213705205397436405309262280330446588631892809998", "nan"},
        {"complex log of (1, 1) 1e-30000, the angle",
         "loop:\nz = flip(log((#pixel - 2) * (1e-30000, 1e-30000)))",
         "0.785398163397448309615660845819875721049292349843776455243736", "0"},
        {"float sqrt of 1e-30000", "loop:\nfloat x = sqrt(1e-30000 * (real(#pixel) - 2))\nz = x", "1e-15000",
         "0"},
        {"float sqrt of 1e30000", "loop:\nfloat x = sqrt(1e30000 * (real(#pixel) - 2))\nz = x", "1e15000",
         "inf"},
        {"complex sqrt of 1e-30000", "loop:\nz = sqrt((#pixel - 2) * 1e-30000)", "1e-15000", "0"},
        {"complex sqrt of 1e30000", "loop:\nz = sqrt((#pixel - 2) * 1e30000)", "1e15000", "nan"},
        {"cabs of (3, 4) 1e-30000", "loop:\nz = cabs((#pixel + (0, 4)) * 1e-30000)", "5e-30000", "0"},
        {"cabs of (3, 4) 1e30000", "loop:\nz = cabs((#pixel + (0, 4)) * 1e30000)", "5e30000", "inf"},
        {"complex quotient by 1e30000", "loop:\nz = #pixel / ((#pixel - 2) * 1e30000)", "3e-30000", "nan"},
        {"complex quotient by (3, 4) 1e-30000", "loop:\nz = #pixel / ((#pixel + (0, 4)) * 1e-30000)",
         "3.6e29999", "nan"},
        {"recip of 1e-30000", "loop:\nz = recip((#pixel - 2) * 1e-30000)", "1e30000", "nan"},
        {"power of 1e-30000", "loop:\nz = ((#pixel - 2) * 1e-30000) ^ 0.5", "1e-15000", "0"},
        {"power of NaN", "loop:\nz = ((#pixel - 3) / 0) ^ 0.5", "nan"},
        {"atan of 1e-30000", "loop:\nfloat x = atan(1e-30000 * (real(#pixel) - 2))\nz = x", "1e-30000", "0"},
        {"atan of 1e30000", "loop:\nfloat x = atan(1e30000 * (real(#pixel) - 2))\nz = x",
         "1.57079632679489661923132169163975144209858469968755291048747"},
        {"asin of 1e-30000", "loop:\nfloat x = asin(1e-30000 * (real(#pixel) - 2))\nz = x", "1e-30000", "0"},
        {"acos of 1e-30000", "loop:\nfloat x = acos(1e-30000 * (real(#pixel) - 2))\nz = x",
         "1.57079632679489661923132169163975144209858469968755291048747"},
        // A division by a constant stays a division unless the reciprocal is exact.
        {"trunc(3 / 3)", "loop:\nz = trunc(real(#pixel) / 3)", "1"},
        {"trunc(1000 / 1000)", "loop:\nz = trunc((real(#pixel) + 997) / 1000)", "1"},
        {"x / 4 by the exact reciprocal", "loop:\nz = real(#pixel) / 4", "0.75"},
        {"z / (4, 0) by the exact reciprocal", "loop:\nz = #pixel / (4, 0)", "0.75"},
        {"x / 0", "loop:\nz = real(#pixel) / 0", "inf"},
        {"-x / 0", "loop:\nz = -real(#pixel) / 0", "-inf"},
        {"0 / 0", "loop:\nz = (real(#pixel) - 3) / 0", "nan"},
        {"complex / complex 0", "loop:\nz = #pixel / (0, 0)", "nan"},
        // Where an operand assigns, the operand the x87 evaluates first is evaluated first in
        // every precision: the right one in the first case, from z = 0: 21 + 10. In the second
        // the left operand needs 7 x87 registers (6 in arbitrary precision), so the x87 takes it
        // first, from z = 1: 3 + 11 (right first would give 143 + 11).
        {"assignments in both operands", "init:\nz = 0\nloop:\nz = (z = z*2 + 1) + (z = z + 10)", "31"},
        {"left operand deep, right one assigning",
         "init:\nz = 1\nloop:\nz = (sqr(z) + z + real(z)) + (z = z + 10)", "14"},
        // With a NaN, < <= == hold and > >= != do not (the processor flags of an unordered pair),
        // so an orbit that becomes NaN stays inside a |z| <= 4 bailout.
        {"NaN orbit under |z| <= 4", "loop:\nz = z * (real(#pixel) - 3) / 0\nbailout:\n|z| <= 4", "nan",
         nullptr, 10, 10},
        {"NaN orbit under |z| < 4", "loop:\nz = z * (real(#pixel) - 3) / 0\nbailout:\n|z| < 4", "nan",
         nullptr, 10, 10},
    };
    // A left operand evaluated first on the x87 is compared as the left operand: 5 < 1 is false.
    cases.push_back({"deep left operand of <",
                     "loop:\nfloat m = real(#pixel) + 2\nif real(sqr(z) + z + real(z)) + m < 1\nz = 1\nelse\n"
                     "z = 2\nendif",
                     "2"});
    // Every comparison with NaN on either side, of floats and of complex values; a left operand
    // deep enough to be evaluated first on the x87 (but not in arbitrary precision) too.
    const struct {
        const char *Operator;
        bool Holds;
        bool Complex;
    } comparisons[] = {{"<", true, false},  {"<=", true, false},  {"==", true, true},
                       {">", false, false}, {">=", false, false}, {"!=", false, true}};
    for (const auto &c : comparisons) {
        std::vector<std::string> conditions = {
            std::string("n ") + c.Operator + " 1", std::string("1 ") + c.Operator + " n",
            std::string("real(sqr(z) + z + real(z)) + n ") + c.Operator + " 1"};
        if (c.Complex) {
            conditions.push_back(std::string("w ") + c.Operator + " (1, 0)");
            conditions.push_back(std::string("(1, 0) ") + c.Operator + " w");
        }
        for (const std::string &condition : conditions)
            cases.push_back({"NaN comparison " + condition,
                             "loop:\nfloat n = (real(#pixel) - 3) / 0\ncomplex w = n\nif " + condition +
                                 "\nz = 1\nelse\nz = 2\nendif",
                             c.Holds ? "1" : "2"});
    }
    // Flat operator chains thousands of terms long: a chain is not nesting, so it compiles, and is
    // folded or computed, in every precision. 2^1000 is exact in every precision.
    const char *twoToThe1000 =
        "10715086071862673209484250490600018105614048117055336074437503883703510511249361224931983788156958"
        "58127594672917553146825187145285692314043598457757469857480393456777482423098542107460506237114187"
        "79541821530464749835819412673987675591655439460770629145711964776865421676604298316526243868372056"
        "68069376";
    const char *runTime = "float x = real(#pixel) - 2\nfloat a = real(#pixel) - 1\nfloat b = x\n";
    const struct {
        const char *Name;
        const char *Declarations;
        const char *First;
        const char *Repeated;
        int Count;
        const char *Expected;
    } chains[] = {
        {"literal sum of 5000 ones", "", "1", " + 1", 4999, "5000"},
        {"sum of 5000 run-time ones", runTime, "x", " + x", 4999, "5000"},
        {"literal sum and difference", "", "1", " + 1 + 1 - 1", 1666, "1667"},
        {"run-time sum and difference", runTime, "x", " + x + x - x", 1666, "1667"},
        {"complex sum and difference", "", "#pixel", " - #pixel + 1", 2500, "-4997"},
        {"literal product of 4996 factors", "", "2.0", " * 1.0 * 1.0 * 1.0 * 1.0 * 2.0", 999, twoToThe1000},
        {"run-time product of 4996 factors", runTime, "a", " * b * b * b * b * a", 999, twoToThe1000},
        {"run-time product and quotient", runTime, "a", " * a * b / a", 1666, "2"},
        {"sum of run-time products", runTime, "x", " + x * a - b", 1666, "1667"},
        {"literal sum of products", "", "1", " + 2 * 3 - 5", 1666, "1667"},
    };
    for (const auto &c : chains) {
        std::string body = std::string("loop:\n") + c.Declarations + "z = " + c.First;
        for (int i = 0; i < c.Count; ++i)
            body += c.Repeated;
        cases.push_back({c.Name, body, c.Expected});
    }
    return cases;
}

// real(z) of the context after the run, in the formula's precision.
long double RealZ(TTestPixelContext &Context, std::uint8_t Precision) {
    const std::int32_t offset = PredefinedContextOffset(SymbolZ, Precision);
    if (Precision == pmDouble)
        return Context.At<double>(offset);
    if (Precision == pmExtended)
        return Context.At<long double>(offset);
    return Context.Huge(offset).GetExtended();
}

// Expected against Got, both as decimal text read at Digits digits: the same special value, or
// a relative distance below Tolerance.
void ExpectNear(const THugeFloatBase &Got, const std::string &Expected, long double Tolerance) {
    THugeFloat expected(HugeDigits + 10);
    expected.SetText(Expected);
    THugeFloat got(HugeDigits + 10);
    got.Assign(Got);
    if (expected.IsSpecial() || got.IsSpecial()) {
        EXPECT_EQ(got.GetText(), expected.GetText());
        return;
    }
    if (expected.IsZero()) {
        EXPECT_TRUE(got.IsZero()) << got.GetText();
        return;
    }
    THugeFloat difference(HugeDigits + 10);
    difference.Assign(got);
    difference.Subtract(expected);
    difference.Divide(expected);
    EXPECT_LE(std::fabs(difference.GetExtended()), Tolerance) << got.GetText() << " for " << Expected;
}

class CompFormulaCases : public TCompiledFormulaFixture {};

TEST_F(CompFormulaCases, GiveTheirValuesInEveryPrecision) {
    const std::vector<TFormulaCase> cases = Cases();
    TTempFolder folder;
    const std::string file = folder.File("cases.ofm");
    WriteFileBytes(file, EntryFile(cases));
    for (const std::uint8_t precision : {pmDouble, pmExtended, pmArbitrary}) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const TFormulaCase &c = cases[i];
            SCOPED_TRACE(c.Name + " in precision " + std::to_string(precision));
            TTestCompiledFormula formula;
            formula.SetDigits(HugeDigits);
            formula.SetPrecision(precision);
            formula.SetSource(file, "Case" + std::to_string(i));
            ASSERT_FALSE(formula.GetHasError())
                << "line " << formula.GetErrorLine() << ", column " << formula.GetErrorColumn();
            ASSERT_EQ(formula.GetGenerateError(), "");
            TTestPixelContext context(formula, c.MaxIter);
            context.SetPixel(3, 0);
            const std::int32_t iterations = context.Iterate();
            if (c.Iterations >= 0) {
                EXPECT_EQ(iterations, c.Iterations);
            }
            if (precision == pmArbitrary) {
                // Computed in integer arithmetic: to the digits, also under emulation.
                ExpectNear(context.Huge(PredefinedContextOffset(SymbolZ, precision)), c.Expected, 1e-35L);
            } else {
                // Transcendentals of an emulated x87 are only about double-precision accurate.
                THugeFloat got(HugeDigits + 10);
                got.SetExtended(RealZ(context, precision));
                ExpectNear(got, c.X87Expected ? c.X87Expected : c.Expected, 1e-15L);
            }
        }
    }
}

} // namespace
