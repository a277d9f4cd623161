#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompMessages.h"
#include "CompPersistent.h"
#include "FracBuiltin.h"
#include "FracColoring.h"
#include "FracContext.h"
#include "FracFormula.h"
#include "FracImage.h"
#include "FracTestSupport.h"
#include "HugeFPU.h"

namespace {

std::string FixturePath() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracFormula_fixtures.ofm";
}

TEST(ColoringMapper, PositionsFollowDensityTransferOffsetAndRepeat) {
    TColoring coloring(1);
    struct TCase {
        float Value;
        TTransferFunction Transfer;
        std::int32_t Offset;
        bool Repeat;
        double Position; // Python's math module
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const TCase cases[] = {
        {0, 1, 0, true, 0},
        {0, 1, 200, true, 0.5},
        {1.25f, 1, 0, true, 0.25},
        {1.25f, 1, 0, false, 0.9975},
        {1.25f, 1, 200, false, 0.4975},
        {-3, 1, 100, true, 0.25},
        {nan, 1, 0, true, 0},
        {3e9f, 1, 0, true, 0}, // limited to 1e9
        {0.25f, 2, 0, true, 0.125},
        {0.25f, 3, 0, true, 0.25},
        {0.25f, 4, 0, true, 0.046875},
        {0.25f, 5, 0, true, 0.2078869732326541},
        {0, 5, 0, true, 0},
        {0.25f, 6, 0, true, 0.22314355131420976},
        {0.25f, 7, 0, true, 0.2840254166877414},
        {0.25f, 8, 0, true, 0.24740395925452294},
        {0.25f, 9, 0, true, 0.24497866312686414},
        {0.25f, 0, 0, true, 0.25},
    };
    for (const TCase &c : cases) {
        coloring.SetTransfer(c.Transfer);
        coloring.SetOffset(c.Offset);
        coloring.SetRepeat(c.Repeat);
        const TColoringMapper mapper(coloring);
        const float position = mapper.MapValue(c.Value);
        EXPECT_NEAR(position, c.Position, 1e-6) << c.Value << " transfer " << int(c.Transfer);
        EXPECT_GE(position, 0.0f);
        EXPECT_LT(position, 1.0f);
    }
    coloring.SetTransfer(7);
    coloring.SetOffset(0);
    EXPECT_FALSE(std::isnan(TColoringMapper(coloring).MapValue(500))) << "e^min(v, 100)";
    coloring.SetOffset(1000);
    EXPECT_EQ(coloring.GetOffset(), 399);
    EXPECT_THROW(coloring.Density.SetText("-1"), EFloatValueError);
    EXPECT_EQ(coloring.Density.GetText(), "1");
}

std::string Written(const TColoring &Coloring) {
    TParWriter writer;
    Coloring.WriteParameters(writer, 0);
    writer.Finish();
    return writer.GetText();
}

TEST(ColoringParameters, SettingsRoundTripAndBothColoringHeadersRead) {
    TColoring inside(0), outside(1);
    EXPECT_EQ(Written(inside), "inside:\r\n  transfer=none\r\n");
    EXPECT_EQ(Written(outside), "outside:\r\n  transfer=linear\r\n");

    const std::string text = "outside:\r\n  density=2.5 transfer=sqrt offset=100 repeat=no solid=255\r\n";
    for (const char *header : {"outside:", "inside:"}) {
        TColoring coloring(1);
        TParReader reader;
        reader.LoadFirstEntry("e {\r\n" + std::string(header) + text.substr(text.find("\r\n")) + "}\r\n");
        coloring.LoadFromReader(reader);
        EXPECT_EQ(Written(coloring), text) << header;
    }
    TColoring coloring(0);
    TParReader reader;
    reader.LoadFirstEntry("e {\r\nformula:\r\n  transfer=sqrt\r\n}\r\n");
    EXPECT_THROW(coloring.LoadFromReader(reader), EInvalidParFile);
}

// A compiled Mandelbrot whose outside coloring has no source: the built-in FINAL code leaves
// #numiter * 0.01 as the coloring result, in double and extended alike. In a layer image of codes
// that is gradient code (numiter mod 100) * 512 for an outside pixel; the inside, whose coloring
// has transfer none, is solid.
TEST(ColoringBuiltInFinal, OutsidePositionsAreTheHundredthsOfTheCount) {
    float positions[3][16 * 16];
    std::int32_t counts[3][16 * 16];
    TLayerImage images[3];
    for (std::uint8_t precision : {pmDouble, pmExtended, pmArbitrary}) {
        TLayerImage &image = images[precision];
        image.SetSize(16, 16);
        TColoring inside(0), outside(1);
        for (TFormulaBase *object :
             {static_cast<TFormulaBase *>(&inside), static_cast<TFormulaBase *>(&outside)}) {
            object->SetDigits(30);
            object->SetPrecision(precision);
        }
        TFormula formula;
        formula.SetDigits(30);
        formula.SetPrecision(precision);
        ErrorManager()->SetFormula(&formula);
        formula.SetSource(FixturePath(), "Mandelbrot");
        formula.SetColorings(&inside, &outside);
        ASSERT_GT(formula.GetPixelRoutine().GetSize(), 0);
        TPixelContextBlock block(precision);
        std::unique_ptr<THugeProcessor> processor;
        if (precision == pmArbitrary) {
            InitHugeContextValues(block.Bytes(), 30);
            processor = std::make_unique<THugeProcessor>(30);
        }
        formula.InitContext(block.Bytes());
        inside.SetupContext(block.Bytes());
        outside.SetupContext(block.Bytes());
        block.Common().MaxIter = 300;
        const TColoringMapper mapper(outside);
        for (int i = 0; i < 16 * 16; ++i) {
            const long double re = -2.2L + 2.8L * (i % 16) / 16, im = -1.4L + 2.8L * (i / 16) / 16;
            block.SetPixel(re, im);
            formula.Iterate(block.Bytes(), processor.get());
            counts[precision][i] = block.Common().IterationsDone;
            positions[precision][i] = mapper.MapPixel(block.Bytes());
            if (counts[precision][i] < 300) {
                const float index = static_cast<float>(static_cast<double>(counts[precision][i] * 0.01L));
                EXPECT_NEAR(positions[precision][i], index - std::trunc(index), 1e-6) << i;
                image.SetIndex(i % 16, i / 16, positions[precision][i]);
            } else {
                EXPECT_EQ(inside.GetTransfer(), 0);
                image.SetCode(i % 16, i / 16, InsideSolidCode);
            }
        }
        outside.ReleaseContext(block.Bytes());
        inside.ReleaseContext(block.Bytes());
        formula.DoneContext(block.Bytes());
        if (processor)
            DoneHugeContextValues(block.Bytes());
    }
    auto code = [&images](int Image, int I) {
        std::uint16_t value;
        std::memcpy(&value, images[Image].PixelPtr(I % 16, I / 16), 2);
        return value;
    };
    for (int i = 0; i < 16 * 16; ++i) {
        EXPECT_EQ(code(0, i), counts[0][i] < 300 ? (counts[0][i] % 100) * 512 : InsideSolidCode) << i;
        EXPECT_EQ(code(1, i), code(0, i)) << i;
        if (counts[0][i] < 300) {
            EXPECT_EQ(code(2, i), code(0, i)) << i;
        }
    }
    for (int i = 0; i < 16 * 16; ++i) {
        EXPECT_EQ(counts[0][i], counts[1][i]) << i;
        EXPECT_EQ(positions[0][i], positions[1][i]) << i;
        if (counts[0][i] < 300) {
            EXPECT_EQ(counts[0][i], counts[2][i]) << i;
            EXPECT_EQ(positions[0][i], positions[2][i]) << i;
        }
    }
}

// An inside coloring without source and the outside coloring SecondPoint, which reads the orbit.
struct TSecondPointColorings {
    explicit TSecondPointColorings(std::uint8_t Precision) : Inside(0), Outside(1) {
        Inside.SetPrecision(Precision);
        Outside.SetPrecision(Precision);
        ErrorManager()->SetFormula(&Outside);
        Outside.SetSource(std::string(TEST_DATA_DIR) + "fractal\\data\\FracColoring_fixtures.ocl",
                          "SecondPoint");
    }
    TColoring Inside, Outside;
};

// A coloring that reads the orbit makes the pixel routine record z after INIT and after every
// round that did not bail out.
TEST(ColoringOrbit, TheRecordedOrbitReachesOldZ) {
    for (std::uint8_t precision : {pmDouble, pmExtended}) {
        TSecondPointColorings colorings(precision);
        TColoring &inside = colorings.Inside, &outside = colorings.Outside;
        ASSERT_FALSE(outside.GetHasError());
        EXPECT_TRUE(outside.GetUsesOrbit());
        TFormula formula;
        formula.SetPrecision(precision);
        ErrorManager()->SetFormula(&formula);
        formula.SetSource(FixturePath(), "Mandelbrot");
        formula.SetColorings(&inside, &outside);
        TPixelContextBlock block(precision);
        formula.InitContext(block.Bytes());
        inside.SetupContext(block.Bytes());
        outside.SetupContext(block.Bytes());
        EXPECT_NE(block.Common().OrbitRoutine, nullptr);
        block.Common().MaxIter = 100;
        alignas(16) std::uint8_t orbit[101 * 20] = {};
        block.Common().OrbitStart = orbit;
        block.Common().OrbitWrite = orbit;
        // c = 0.5: 0.5, 0.75, 1.0625, 1.62890625, then |z|^2 > 4 in the fifth round.
        block.SetPixel(0.5L, 0);
        formula.Iterate(block.Bytes(), nullptr);
        EXPECT_EQ(block.Common().IterationsDone, 4);
        EXPECT_EQ(static_cast<std::uint8_t *>(block.Common().OrbitWrite) - orbit,
                  (precision == pmDouble ? 16 : 20) * 5);
        EXPECT_EQ(block.ReadValue(block.Values().Index), 0.75L) << int(precision);
        EXPECT_NEAR(TColoringMapper(outside).MapPixel(block.Bytes()), 0.75f, 1e-7);
        outside.ReleaseContext(block.Bytes());
        inside.ReleaseContext(block.Bytes());
        formula.DoneContext(block.Bytes());
    }
}

// In arbitrary precision an orbit entry is a pair of numbers that take copies of z; the compiled
// routine and the built-in loop record the same points as in extended precision, and oldz reads
// them back.
TEST(ColoringOrbit, ArbitraryPrecisionRecordsTheSamePointsAsExtended) {
    InitializeFracBuiltin(); // kept until the program's environment ends
    constexpr std::int32_t MaxIter = 12;
    constexpr std::int32_t Points = MaxIter + 1;
    const struct {
        long double Re, Im;
    } pixels[] = {{0.5L, 0}, {-0.75L, 0.1L}, {0.3L, 0.55L}, {-1.9L, 0.02L}};
    for (const char *entry : {"Mandelbrot", "BuiltinMandelbrot"}) {
        std::vector<std::int32_t> done[2];
        std::vector<long double> points[2], index[2];
        for (std::uint8_t precision : {pmExtended, pmArbitrary}) {
            const int slot = precision == pmExtended ? 0 : 1;
            TSecondPointColorings colorings(precision);
            TColoring &inside = colorings.Inside, &outside = colorings.Outside;
            ASSERT_FALSE(outside.GetHasError());
            TFormula formula;
            formula.SetDigits(30);
            formula.SetPrecision(precision);
            ErrorManager()->SetFormula(&formula);
            formula.SetSource(FixturePath(), entry);
            ASSERT_FALSE(formula.GetHasError()) << entry;
            formula.SetColorings(&inside, &outside);
            TFormulaContext run(formula, 30);
            inside.SetupContext(run.Block.Bytes());
            outside.SetupContext(run.Block.Bytes());
            run.Start(MaxIter);
            alignas(16) std::uint8_t orbit[Points * 20] = {};
            if (precision == pmArbitrary)
                CreateHugeOrbitNumbers(orbit, Points, 30);
            for (const auto &pixel : pixels) {
                run.Block.Common().OrbitStart = orbit;
                run.Block.Common().OrbitWrite = orbit;
                done[slot].push_back(run.Iterate(pixel.Re, pixel.Im));
                index[slot].push_back(run.Block.ReadValue(run.Block.Values().Index));
                const std::int32_t recorded = static_cast<std::int32_t>(
                    (static_cast<std::uint8_t *>(run.Block.Common().OrbitWrite) - orbit) /
                    (slot == 0 ? 20 : 8));
                EXPECT_GE(recorded, 5) << entry;
                for (std::int32_t i = 0; i < 5; ++i)
                    for (int part = 0; part < 2; ++part) {
                        if (slot == 0) {
                            long double value;
                            std::memcpy(&value, orbit + 20 * i + 10 * part, sizeof value);
                            points[0].push_back(value);
                        } else {
                            THugeFloatBase *number;
                            std::memcpy(&number, orbit + 8 * i + 4 * part, sizeof number);
                            points[1].push_back(number->GetExtended());
                        }
                    }
            }
            if (precision == pmArbitrary)
                FreeHugeOrbitNumbers(orbit, Points);
            outside.ReleaseContext(run.Block.Bytes());
            inside.ReleaseContext(run.Block.Bytes());
        }
        SCOPED_TRACE(entry);
        ASSERT_EQ(points[0].size(), points[1].size());
        for (std::size_t i = 0; i < points[0].size(); ++i)
            EXPECT_NEAR(static_cast<double>(points[1][i]), static_cast<double>(points[0][i]), 1e-12) << i;
        for (std::size_t i = 0; i < index[0].size(); ++i)
            EXPECT_NEAR(static_cast<double>(index[1][i]), static_cast<double>(index[0][i]), 1e-12) << i;
        // The compiled routine counts alike in both precisions; the built-in's arbitrary-precision
        // loop also tests its starting z, and so counts one more for each escaping pixel.
        const std::int32_t shift = std::string(entry) == "Mandelbrot" ? 0 : 1;
        for (std::size_t i = 0; i < done[0].size(); ++i)
            EXPECT_EQ(done[1][i], done[0][i] < MaxIter ? done[0][i] + shift : MaxIter) << i;
    }
}

} // namespace
