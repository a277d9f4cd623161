// Fixture formulas compiled through the compile driver in arbitrary precision and run as pixel
// routines on a THugeProcessor: over a shallow view their iteration counts agree with the same
// entries compiled in double, apart from a few pixels on the border of the set where the
// rounding of double decides; a deep orbit through the compiled Mandelbrot entry agrees with a
// 60-digit mpmath run (tools/comp_huge_orbit_reference.py, data shared with the orbit test).
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompCompiler.h"
#include "CompEntriesTestSupport.h"
#include "CompGlobalsTestSupport.h"
#include "CompHugeOrbitTestSupport.h"
#include "CompHugeAccess.h"
#include "CompHugeRoutines.h"
#include "CompLexical.h"
#include "CompMessages.h"
#include "CompRoutines.h"
#include "TestFormulas.h"

namespace {

constexpr std::int32_t cxZ = 0xA8;

class CompHugeFixture : public TCompiledFormulaFixture {};

// Compiles an entry of the fixture file; the formula must compile cleanly. The digits are set
// before the precision, so that the code is generated once for the final layout.
std::unique_ptr<TTestCompiledFormula> CompileEntry(const std::string &Entry, std::uint8_t Precision,
                                                   std::int32_t Digits) {
    auto formula = std::make_unique<TTestCompiledFormula>();
    formula->SetDigits(Digits);
    formula->SetPrecision(Precision);
    formula->SetSource(CompilerDataPath("CompCompiler_fixtures.ofm"), Entry);
    EXPECT_FALSE(formula->GetHasError())
        << Entry << ": line " << formula->GetErrorLine() << ", column " << formula->GetErrorColumn();
    EXPECT_EQ(formula->GetGenerateError(), "") << Entry;
    EXPECT_GT(formula->GetPixelRoutine().GetSize(), 0) << Entry;
    return formula;
}

// ---------------------------------------------------------------------------------------------
// Iteration counts in arbitrary precision against double

constexpr int GridSize = 64;
constexpr int HugeDigits = 40;

struct TFixtureCase {
    const char *Entry;
    double Left, Top, Span;
    std::int32_t MaxIter;
};

std::ostream &operator<<(std::ostream &Stream, const TFixtureCase &Case) {
    return Stream << Case.Entry;
}

// The pixel centres of the grid, so that no pixel lies on an axis (Newton's z = 0 would divide by
// zero, where double and arbitrary precision need not agree on what follows).
long double Coordinate(double From, double Span, int I) {
    return static_cast<long double>(static_cast<double>(From + Span * (I + 0.5) / GridSize));
}

// Iterations done of every pixel, row by row. In arbitrary precision the processor must end each
// pixel with an empty register stack, no temporaries taken and no fault.
std::vector<std::int32_t> RunGrid(const TTestCompiledFormula &Formula, const TFixtureCase &Case) {
    TTestPixelContext context(Formula, Case.MaxIter);
    std::vector<std::int32_t> counts;
    for (int y = 0; y < GridSize; ++y)
        for (int x = 0; x < GridSize; ++x) {
            context.SetPixel(Coordinate(Case.Left, Case.Span, x), Coordinate(Case.Top, Case.Span, y));
            counts.push_back(context.Iterate());
            if (THugeProcessor *processor = context.Processor()) {
                if (processor->Failed() || processor->Top() != THugeProcessor::RegisterCount ||
                    processor->TempIndex() != 0) {
                    ADD_FAILURE() << "processor state after pixel (" << x << ", " << y << "): failed "
                                  << processor->Failed() << ", top " << processor->Top() << ", temporaries "
                                  << processor->TempIndex();
                    return counts;
                }
            }
        }
    return counts;
}

class CompHugeFixtureGrid : public CompHugeFixture, public testing::WithParamInterface<TFixtureCase> {};

TEST_P(CompHugeFixtureGrid, CountsAgreeWithDouble) {
    const TFixtureCase &c = GetParam();
    std::unique_ptr<TTestCompiledFormula> huge = CompileEntry(c.Entry, pmArbitrary, HugeDigits);
    std::unique_ptr<TTestCompiledFormula> reference = CompileEntry(c.Entry, pmDouble, HugeDigits);
    ASSERT_GT(huge->GetPixelRoutine().GetSize(), 0);
    ASSERT_GT(reference->GetPixelRoutine().GetSize(), 0);
    ASSERT_EQ(huge->GetPrecision(), pmArbitrary);

    const std::vector<std::int32_t> hugeCounts = RunGrid(*huge, c);
    const std::vector<std::int32_t> doubleCounts = RunGrid(*reference, c);
    ASSERT_EQ(hugeCounts.size(), doubleCounts.size());

    int differing = 0, atMaxIter = 0, spread = 0;
    for (std::size_t i = 0; i < hugeCounts.size(); ++i) {
        if (hugeCounts[i] != doubleCounts[i] && ++differing <= 5)
            std::cout << "  " << c.Entry << " pixel (" << i % GridSize << ", " << i / GridSize
                      << "): " << hugeCounts[i] << " iterations in arbitrary precision, " << doubleCounts[i]
                      << " in double\n";
        atMaxIter += doubleCounts[i] == c.MaxIter;
        spread += doubleCounts[i] != doubleCounts[0];
    }
    const std::size_t pixels = hugeCounts.size();
    std::cout << c.Entry << ": " << differing << " of " << pixels << " pixels differ\n";
    EXPECT_GE(static_cast<double>(pixels - differing), 0.995 * static_cast<double>(pixels))
        << differing << " of " << pixels << " pixels differ";
    // A view where every pixel had the same count would show nothing of the routines.
    EXPECT_GT(spread, 0) << "the view should hold pixels of different counts";
    EXPECT_LT(atMaxIter, static_cast<int>(pixels)) << "the view should reach outside the set";
}

// Views around each formula's set, from quick escapes to maxiter; the sine grows fast, so a
// smaller maxiter keeps its slow arbitrary-precision routine short.
INSTANTIATE_TEST_SUITE_P(Entries, CompHugeFixtureGrid,
                         testing::Values(TFixtureCase{"Mandelbrot", -2.2, -1.5, 3.0, 300},
                                         TFixtureCase{"MandelbrotCompact", -2.2, -1.5, 3.0, 300},
                                         TFixtureCase{"Julia", -1.6, -1.6, 3.2, 300},
                                         TFixtureCase{"CubicMandelbrot", -1.5, -1.5, 3.0, 300},
                                         TFixtureCase{"Newton", -2.0, -2.0, 4.0, 200},
                                         TFixtureCase{"SineTimesPixel", -4.0, -4.0, 8.0, 200}),
                         [](const testing::TestParamInfo<TFixtureCase> &Info) {
                             return std::string(Info.param.Entry);
                         });

// ---------------------------------------------------------------------------------------------
// A deep orbit of the compiled entry against the reference

TEST_F(CompHugeFixture, CompiledMandelbrotFollowsADeepOrbitTo55Digits) {
    // The point lies about 1e-30 inside the main cardioid: only with all its digits does the orbit
    // stay near the reference for thousands of iterations, so this fails when the pixel, the
    // constants of the entry or any step of the loop lose precision on their way through the
    // compiler; the compact form is compiled from different syntax to the same orbit.
    const TReferenceOrbit orbit = ReadReferenceOrbit();
    ASSERT_FALSE(orbit.CRe.empty()) << "reference data missing";
    ASSERT_FALSE(orbit.Iterates.empty());
    for (const char *entry : {"Mandelbrot", "MandelbrotCompact"}) {
        SCOPED_TRACE(entry);
        std::unique_ptr<TTestCompiledFormula> formula = CompileEntry(entry, pmArbitrary, 60);
        ASSERT_GT(formula->GetPixelRoutine().GetSize(), 0);
        for (const TReferenceIterate &iterate : orbit.Iterates) {
            SCOPED_TRACE("iteration " + std::to_string(iterate.Iteration));
            // A maximum of k iterations stops the loop with the k-th iterate in z.
            TTestPixelContext context(*formula, iterate.Iteration);
            context.SetPixelText(orbit.CRe, orbit.CIm);
            EXPECT_EQ(context.Iterate(), iterate.Iteration) << "the orbit escaped";
            THugeFloat re(60), im(60);
            re.SetText(iterate.Re);
            im.SetText(iterate.Im);
            const long double tolerance = 1e-55L * std::hypot(re.GetExtended(), im.GetExtended());
            EXPECT_LE(Distance(context.Huge(cxZ), iterate.Re), tolerance) << "real part " << iterate.Re;
            EXPECT_LE(Distance(context.Huge(cxZ + 4), iterate.Im), tolerance)
                << "imaginary part " << iterate.Im;
            EXPECT_FALSE(context.Processor()->Failed());
        }
    }
}

} // namespace
