#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "CompMessages.h"
#include "FracBuiltin.h"
#include "FracContext.h"
#include "FracFormula.h"
#include "FracTestSupport.h"
#include "HugeFPU.h"
#include "HugeMath.h"

namespace {

class TBuiltinEnvironment : public testing::Environment {
public:
    void SetUp() override { InitializeFracBuiltin(); }
    void TearDown() override { FinalizeFracBuiltin(); }
};

const testing::Environment *const BuiltinEnvironment =
    testing::AddGlobalTestEnvironment(new TBuiltinEnvironment);

std::string FixturePath() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracFormula_fixtures.ofm";
}

std::uint32_t HighWord(double Value) {
    std::uint64_t bits;
    std::memcpy(&bits, &Value, 8);
    return static_cast<std::uint32_t>(bits >> 32);
}

template <class T> long double Stored(long double Value) {
    volatile T stored = static_cast<T>(Value);
    return stored;
}

// The counting rules written out plainly: z0 = start (Mandelbrot) or the pixel (Julia); the
// Mandelbrot z1 is formed from start squared in the storage type and never tested; at most
// maxiter - 1 steps; the last one is tested only when EveryStep is set; escape when the upper
// 32 bits of |z|^2 as a double exceed those of the bailout.
// The z the count ends on goes to ZOut when given.
template <class T>
std::int32_t ReferenceCount(bool Julia, long double PRe, long double PIm, long double SRe, long double SIm,
                            double Bailout, std::int32_t MaxIter, bool EveryStep,
                            long double *ZOut = nullptr) {
    const long double pRe = Stored<T>(PRe), pIm = Stored<T>(PIm), sRe = Stored<T>(SRe), sIm = Stored<T>(SIm);
    long double zRe, zIm, cRe, cIm;
    if (Julia) {
        zRe = pRe, zIm = pIm, cRe = sRe, cIm = sIm;
    } else {
        cRe = pRe, cIm = pIm;
        zRe = Stored<T>(sRe * sRe - sIm * sIm) + cRe;
        zIm = Stored<T>(2 * sRe * sIm) + cIm;
    }
    std::int32_t count = MaxIter;
    for (std::int32_t steps = 1; steps <= MaxIter - 1; ++steps) {
        const long double re = zRe * zRe - zIm * zIm + cRe;
        zIm = (zRe + zRe) * zIm + cIm;
        zRe = re;
        if (steps == MaxIter - 1 && !EveryStep)
            break;
        if (HighWord(static_cast<double>(zRe * zRe + zIm * zIm)) > HighWord(Bailout)) {
            count = steps;
            break;
        }
    }
    if (ZOut) {
        ZOut[0] = zRe;
        ZOut[1] = zIm;
    }
    return count;
}

// Pixel (X, Y) of a Size x Size grid over the Mandelbrot or the Julia set of the fixtures' seed,
// and its count (and z) by the rules in the storage type of the precision.
struct TGridPixel {
    long double Re, Im;
    TGridPixel(bool Julia, int X, int Y, int Size)
        : Re(Julia ? -1.6L + 3.2L * X / Size : -2.2L + 2.8L * X / Size), Im(-1.4L + 2.8L * Y / Size) {}
};

std::int32_t GridReference(std::uint8_t Precision, bool Julia, const TGridPixel &Pixel, double Bailout,
                           std::int32_t MaxIter, bool EveryStep, long double *ZOut = nullptr) {
    const long double seedRe = Julia ? -0.8L : 0, seedIm = Julia ? 0.156L : 0;
    return Precision == pmDouble ? ReferenceCount<double>(Julia, Pixel.Re, Pixel.Im, seedRe, seedIm, Bailout,
                                                          MaxIter, EveryStep, ZOut)
                                 : ReferenceCount<long double>(Julia, Pixel.Re, Pixel.Im, seedRe, seedIm,
                                                               Bailout, MaxIter, EveryStep, ZOut);
}

constexpr std::int32_t HugeDigits = 30;

std::unique_ptr<TFormula> CompileBuiltin(const std::string &Entry, std::uint8_t Precision) {
    auto formula = std::make_unique<TFormula>();
    formula->SetDigits(HugeDigits);
    formula->SetPrecision(Precision);
    ErrorManager()->SetFormula(formula.get());
    formula->SetSource(FixturePath(), Entry);
    EXPECT_FALSE(formula->GetHasError()) << Entry;
    EXPECT_EQ(formula->GetDataSize(), 128) << Entry;
    return formula;
}

// A context with a built-in formula; the coloring loop cells stay nil unless a test sets them.
class TBuiltinRun : public TFormulaContext {
public:
    TBuiltinRun(const TFormula &AFormula, std::int32_t MaxIter) : TFormulaContext(AFormula, HugeDigits) {
        Empty.EmitReturn();
        TPixelContext &context = Block.Common();
        for (TContextCode *cell :
             {&context.InsideInit, &context.InsideFinal, &context.OutsideInit, &context.OutsideFinal})
            *cell = reinterpret_cast<TContextCode>(Empty.GetCode());
        Start(MaxIter);
    }
    std::int32_t Iterate(long double Re, long double Im) {
        // What a piece resets before every pixel.
        Block.Common().PeriodicityMask = 9;
        Block.Common().SavesLeft = 4;
        return TFormulaContext::Iterate(Re, Im);
    }

    TRoutineAssembler Empty;
};

void SetBailout(TFormula &Formula, const char *Text) {
    for (int i = 0; i < Formula.GetParams().GetCount(); ++i)
        if (auto *bailout = dynamic_cast<TFloatParam *>(Formula.GetParams().GetItem(i)))
            bailout->Value.SetText(Text);
}

// The loops have three shapes: blocks of 8 steps tested at their end (no coloring loop code, no
// periodicity, bailout at least 4), every step tested but the last (a smaller bailout, or a
// periodicity threshold that is never reached), every step tested (coloring loop code).
TEST(BuiltinFormulas, CountsMatchTheRulesOnAGrid) {
    constexpr std::int32_t MaxIter = 200;
    struct TShape {
        const char *Name, *Bailout;
        double BailoutValue;
        bool ColoringLoop, Threshold;
        int Size; // grid of Size x Size pixels
    };
    const TShape shapes[] = {{"blocks of 8", "4", 4, false, false, 256},
                             {"bailout below 4, one by one", "3.5", 3.5, false, false, 128},
                             {"threshold never reached, one by one", "4", 4, false, true, 128},
                             {"coloring loop, every step", "4", 4, true, false, 128}};
    for (const TShape &shape : shapes)
        for (std::uint8_t precision : {pmDouble, pmExtended})
            for (bool julia : {false, true}) {
                SCOPED_TRACE(testing::Message() << (julia ? "Julia, " : "Mandelbrot, ") << shape.Name
                                                << ", precision " << int(precision));
                auto formula = CompileBuiltin(julia ? "BuiltinJulia" : "BuiltinMandelbrot", precision);
                SetBailout(*formula, shape.Bailout);
                TBuiltinRun run(*formula, MaxIter);
                if (shape.ColoringLoop)
                    run.Block.Common().InsideLoop = reinterpret_cast<TContextCode>(run.Empty.GetCode());
                if (shape.Threshold)
                    run.Block.Common().PeriodicityThreshold = 1; // no count is ever below 1
                const int size = shape.Size;
                int differ = 0;
                for (int y = 0; y < size; ++y)
                    for (int x = 0; x < size; ++x) {
                        const TGridPixel pixel(julia, x, y, size);
                        const std::int32_t expected = GridReference(
                            precision, julia, pixel, shape.BailoutValue, MaxIter, shape.ColoringLoop);
                        differ += run.Iterate(pixel.Re, pixel.Im) != expected;
                    }
                EXPECT_LE(differ, size * size / 1000) << differ << " pixels differ";
            }
}

// The loops are scheduled by hand, but every operation rounds as in a plain loop that keeps z in
// 80-bit registers: the count and the z a pixel ends on (Z, as the precision stores it) are the
// same bit for bit, in the blocks of 8, in their step-by-step repetition and one step at a time.
TEST(BuiltinFormulas, EndsOnTheZOfAPlainLoopBitForBit) {
    constexpr std::int32_t MaxIter = 150;
    constexpr int Size = 96;
    for (const bool oneByOne : {false, true})
        for (std::uint8_t precision : {pmDouble, pmExtended})
            for (bool julia : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << (julia ? "Julia, " : "Mandelbrot, ") << "precision " << int(precision)
                             << (oneByOne ? ", one by one" : ", blocks"));
                auto formula = CompileBuiltin(julia ? "BuiltinJulia" : "BuiltinMandelbrot", precision);
                SetBailout(*formula, oneByOne ? "3.5" : "4");
                TBuiltinRun run(*formula, MaxIter);
                const std::int32_t zOffset = precision == pmDouble ? PC_DOUBLE_Z : PC_EXTENDED_Z;
                const std::int32_t imOffset = precision == pmDouble ? 8 : 16;
                int differ = 0;
                for (int y = 0; y < Size; ++y)
                    for (int x = 0; x < Size; ++x) {
                        const TGridPixel pixel(julia, x, y, Size);
                        long double z[2];
                        const std::int32_t expected =
                            GridReference(precision, julia, pixel, oneByOne ? 3.5 : 4, MaxIter, false, z);
                        const std::int32_t count = run.Iterate(pixel.Re, pixel.Im);
                        bool same = count == expected;
                        for (int part = 0; part < 2; ++part) {
                            const long double got = run.Block.ReadValue(zOffset + part * imOffset);
                            const long double want =
                                precision == pmDouble ? Stored<double>(z[part]) : z[part];
                            same = same && std::memcmp(&got, &want, 10) == 0;
                        }
                        if (!same && differ++ < 5)
                            ADD_FAILURE() << "pixel " << static_cast<double>(pixel.Re) << ", "
                                          << static_cast<double>(pixel.Im) << ": count " << count
                                          << ", expected " << expected;
                    }
                EXPECT_EQ(differ, 0);
            }
}

// The blocks of 8 start after a first run that depends on maxiter; every maxiter around the
// block edges gives the counts of the rules, the untested last step included.
TEST(BuiltinFormulas, CountsAtEveryMaxIterAroundTheBlocks) {
    const struct {
        long double Re, Im;
    } pixels[] = {{0.26L, 0}, {0.3L, 0}, {-0.75L, 0.1L}, {0.3L, 0.5L}, {-1.8L, 0.05L}, {0.35L, 0.35L}};
    for (std::uint8_t precision : {pmDouble, pmExtended}) {
        auto formula = CompileBuiltin("BuiltinMandelbrot", precision);
        for (std::int32_t maxIter = 1; maxIter <= 48; ++maxIter) {
            TBuiltinRun run(*formula, maxIter);
            for (const auto &p : pixels) {
                const std::int32_t expected =
                    precision == pmDouble
                        ? ReferenceCount<double>(false, p.Re, p.Im, 0, 0, 4, maxIter, false)
                        : ReferenceCount<long double>(false, p.Re, p.Im, 0, 0, 4, maxIter, false);
                EXPECT_EQ(run.Iterate(p.Re, p.Im), expected)
                    << "maxiter " << maxIter << ", c " << static_cast<double>(p.Re) << ", "
                    << static_cast<double>(p.Im) << ", precision " << int(precision);
            }
        }
    }
}

TEST(BuiltinFormulas, EdgeCases) {
    struct TCase {
        const char *Name, *Entry;
        std::int32_t MaxIter;
        long double Re, Im;
        bool WithColoringLoop;
        std::int32_t Done;
    };
    const TCase cases[] = {
        {"z1 beyond the bailout is never tested", "BuiltinMandelbrot", 100, 2.5L, 0, false, 1},
        {"escaping at z2", "BuiltinMandelbrot", 100, 1.5L, 0, false, 1},
        {"no bailout parameter: the first moving step escapes", "BuiltinNoBailout", 100, 0.1L, 0, false, 1},
        {"no bailout parameter: z staying 0 is inside", "BuiltinNoBailout", 100, 0, 0, false, 100},
        {"the last step is not tested", "BuiltinMandelbrot", 2, 1.5L, 0, false, 2},
        {"with a coloring loop every step is tested", "BuiltinMandelbrot", 2, 1.5L, 0, true, 1},
        {"inside", "BuiltinMandelbrot", 100, -0.1L, 0.1L, false, 100},
    };
    for (std::uint8_t precision : {pmDouble, pmExtended}) {
        for (const TCase &c : cases) {
            SCOPED_TRACE(testing::Message() << c.Name << ", precision " << int(precision));
            auto formula = CompileBuiltin(c.Entry, precision);
            TBuiltinRun run(*formula, c.MaxIter);
            if (c.WithColoringLoop)
                run.Block.Common().OutsideLoop = reinterpret_cast<TContextCode>(run.Empty.GetCode());
            EXPECT_EQ(run.Iterate(c.Re, c.Im), c.Done);
        }
    }

    // Julia with seed 0 at the pixel 0 is inside.
    auto julia = CompileBuiltin("BuiltinJulia", pmDouble);
    static_cast<TComplexParam *>(julia->GetParams().GetItem(0))->Value.SetText("0", "0");
    TBuiltinRun run(*julia, 50);
    EXPECT_EQ(run.Iterate(0, 0), 50);
    // Seed 0, z1 = 1.44 stays, z2 = 2.0736 escapes.
    EXPECT_EQ(run.Iterate(1.2L, 0), 2);
}

// A stop ends the pixel as inside in every loop shape, at the latest after the first block.
TEST(BuiltinFormulas, AStopEndsThePixel) {
    for (std::uint8_t precision : {pmDouble, pmExtended}) {
        auto formula = CompileBuiltin("BuiltinMandelbrot", precision);
        TBuiltinRun run(*formula, 1000);
        // c = 0.26 lies just outside the main cardioid and escapes only after some 30 steps.
        const std::int32_t unstopped = run.Iterate(0.26L, 0);
        EXPECT_GT(unstopped, 20);
        EXPECT_LT(unstopped, 1000);
        run.Block.Common().StopFlag = 1;
        EXPECT_EQ(run.Iterate(0.26L, 0), 1000) << "blocks of 8, precision " << int(precision);
        run.Block.Common().PeriodicityThreshold = 1;
        EXPECT_EQ(run.Iterate(0.26L, 0), 1000) << "one by one, precision " << int(precision);
    }
}

TEST(BuiltinFormulas, PeriodicityKeepsTheCounts) {
    auto formula = CompileBuiltin("BuiltinMandelbrot", pmExtended);
    TBuiltinRun plain(*formula, 500), checked(*formula, 500);
    checked.Block.Common().PeriodicityThreshold = 0xFFFFFFFF;
    checked.Block.Common().SavesPerStep = 4;
    checked.Block.Common().Tolerance = 1e-12f;
    for (int i = 0; i < 64; ++i) {
        const long double re = -2 + i * 0.04L, im = 0.3L - i * 0.01L;
        EXPECT_EQ(checked.Iterate(re, im), plain.Iterate(re, im)) << i;
    }
}

// The arbitrary-precision rule: the starting z is tested too, k is reported for the first zk
// beyond the bailout, the result of the last round is not tested.
std::int32_t HugeReferenceCount(bool Julia, long double PRe, long double PIm, long double SRe,
                                long double SIm, long double Bailout, std::int32_t MaxIter) {
    long double zRe = Julia ? PRe : SRe, zIm = Julia ? PIm : SIm;
    const long double cRe = Julia ? SRe : PRe, cIm = Julia ? SIm : PIm;
    for (std::int32_t k = 0; k < MaxIter; ++k) {
        if (zRe * zRe + zIm * zIm > Bailout)
            return k;
        const long double re = zRe * zRe - zIm * zIm + cRe;
        zIm = 2 * zRe * zIm + cIm;
        zRe = re;
    }
    return MaxIter;
}

TEST(BuiltinFormulas, ArbitraryPrecisionCountsFromTheStartingZ) {
    struct TCase {
        const char *Entry;
        long double Re, Im;
        std::int32_t Done;
    };
    const TCase cases[] = {
        {"BuiltinMandelbrot", 2.5L, 0, 1},      // z1 = c is the first beyond
        {"BuiltinMandelbrot", 1.5L, 0, 2},      // z2
        {"BuiltinJulia", 2.5L, 0, 0},           // the pixel itself
        {"BuiltinMandelbrot", -0.1L, 0.1L, 40}, // inside
    };
    for (const TCase &c : cases) {
        auto formula = CompileBuiltin(c.Entry, pmArbitrary);
        TBuiltinRun run(*formula, 40);
        EXPECT_EQ(run.Iterate(c.Re, c.Im), c.Done) << c.Entry << " " << static_cast<double>(c.Re);
    }

    constexpr int Size = 256;
    constexpr std::int32_t MaxIter = 100;
    for (bool julia : {false, true}) {
        auto formula = CompileBuiltin(julia ? "BuiltinJulia" : "BuiltinMandelbrot", pmArbitrary);
        TBuiltinRun run(*formula, MaxIter);
        int differ = 0;
        for (int y = 0; y < Size; ++y)
            for (int x = 0; x < Size; ++x) {
                const long double re = julia ? -1.6L + 3.2L * x / Size : -2.2L + 2.8L * x / Size;
                const long double im = -1.4L + 2.8L * y / Size;
                differ += run.Iterate(re, im) != HugeReferenceCount(julia, re, im, julia ? -0.8L : 0,
                                                                    julia ? 0.156L : 0, 4, MaxIter);
            }
        // Pixels on a boundary may tip either way between 30 digits and 64 bits.
        EXPECT_LE(differ, Size * Size / 200)
            << differ << (julia ? " Julia" : " Mandelbrot") << " pixels differ";
    }
}

} // namespace
