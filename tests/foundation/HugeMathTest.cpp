// Functions of the arbitrary-precision numbers against mpmath at twice the
// precision (tests/foundation/data/huge_funcs.txt, made once by
// tools/huge_vectors.py), and their special arguments.
#include "HugeMath.h"
#include "HugeTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace hugetest;

namespace {

struct FunctionSpec {
    const char *Name;
    // Largest distance from the reference, in units of the result's last word
    // (for the logarithm at least a last word of a number near 1). The series
    // functions add up a rounding per term, so they get a little more.
    long double Tolerance;
};

class FunctionAccuracy : public testing::TestWithParam<FunctionSpec> {};

TEST_P(FunctionAccuracy, AgreesWithReferenceAtEveryWidth) {
    const FunctionSpec spec = GetParam();
    const std::string name = spec.Name;
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
        EXPECT_LE(units, spec.Tolerance)
            << "line " << line << ": " << name << " " << parts[2] << " at " << n << " words gave "
            << Describe(x) << "\n  reference " << parts[refIndex];
        EXPECT_EQ(x.FWordCount, n);
        ++checked;
    }
    EXPECT_GT(checked, 0);
    std::printf("  %s: largest distance %.3Lg units of the last word\n", spec.Name, worst);
}

INSTANTIATE_TEST_SUITE_P(
    HugeMath, FunctionAccuracy,
    testing::Values(FunctionSpec{"sqrt", 2}, FunctionSpec{"exp", 16}, FunctionSpec{"ln", 8},
                    FunctionSpec{"sin", 24}, FunctionSpec{"cos", 24}, FunctionSpec{"arctan", 12},
                    FunctionSpec{"arcsin", 24}, FunctionSpec{"arccos", 24}, FunctionSpec{"arctan2", 8}),
    [](const testing::TestParamInfo<FunctionSpec> &info) { return std::string(info.param.Name); });

} // namespace
