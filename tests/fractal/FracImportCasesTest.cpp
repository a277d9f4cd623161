// The Fractint importer's rules, case by case: iterations, drawing methods, colour runs, view
// windows, centre and magnification, skew and stretch, decomposition; and what a failed import
// leaves behind.
#include <array>
#include <complex>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompParams.h"
#include "FracCalculate.h"
#include "FracColoring.h"
#include "FracCompute.h"
#include "FracContext.h"
#include "FracDocument.h"
#include "FracFormula.h"
#include "FracGradient.h"
#include "FracImport.h"
#include "FracImportSupport.h"
#include "FracMapping.h"
#include "FracTransform.h"

namespace {

TParam &ParamNamed(const TFormulaBase &Object, const std::string &Name) {
    const TParamList &params = Object.GetParams();
    for (int i = 0; i < params.GetCount(); ++i)
        if (params.GetItem(i)->GetName() == Name)
            return *params.GetItem(i);
    throw EListError("no parameter '%s'", Name);
}

std::int32_t IntParam(const TFormulaBase &Object, const std::string &Name) {
    return static_cast<TIntParam &>(ParamNamed(Object, Name)).GetValue();
}

bool BoolParam(const TFormulaBase &Object, const std::string &Name) {
    return static_cast<TBoolParam &>(ParamNamed(Object, Name)).GetValue();
}

std::string Transformations(const TLayer &Layer) {
    std::string names;
    const TTransformList &list = Layer.GetMapping().GetTransformations();
    for (int i = 0; i < list.GetCount(); ++i)
        names += list.GetItem(i).GetEntryName() + " ";
    return names;
}

std::string WrittenText(TCustomFractal &Fractal) {
    TParWriter writer;
    Fractal.WriteParameters(writer, TCustomFractal::wfActive);
    return writer.GetText();
}

class TFractintImportTest : public testing::Test {
protected:
    TShippedFormulaFolders Folders;
    TCalculateManager Manager{1};
    std::unique_ptr<TCustomFractal> Fractal = std::make_unique<TCustomFractal>(&Manager);

    void SetUp() override { Fractal->SetImageSize(64, 48); }
    void TearDown() override { Fractal.reset(); }

    TLayer &Import(const std::string &Body, std::uint32_t Flags = 0) {
        Fractal->ReadParameters(*EntryReader("Imported_entry", Body), Flags, TFractalProgressEvent());
        EXPECT_EQ(Fractal->GetLayers().Count(), 1);
        EXPECT_FALSE(Fractal->IsChanging());
        return *Fractal->GetActiveLayer();
    }
};

} // namespace

TEST_F(TFractintImportTest, BuildsOneLayerOfTheTypeWithTheFractintColorings) {
    TLayer &layer = Import("  type=julia params=0.3/0.5 bailout=9 bailoutest=real\r\n"
                           "  corners=-2/1.9375/-1.4375/1.5\r\n");
    EXPECT_EQ(Fractal->GetTitle(), "Imported entry");
    EXPECT_EQ(layer.GetCaption(), "Background");
    EXPECT_EQ(layer.GetFormula().GetEntryName(), "julia");
    EXPECT_FALSE(layer.GetFormula().GetHasError());
    EXPECT_EQ(layer.GetInsideColoring().GetEntryName(), "inside");
    EXPECT_EQ(layer.GetInsideColoring().GetTransfer(), 1);
    EXPECT_EQ(layer.GetOutsideColoring().GetEntryName(), "outside");
    EXPECT_EQ(Transformations(layer), "ViewWindow ");
    const auto &seed = static_cast<TComplexParam &>(ParamNamed(layer.GetFormula(), "p1")).Value;
    EXPECT_EQ(seed.Re.GetText(), "0.3");
    EXPECT_EQ(seed.Im.GetText(), "0.5");
    EXPECT_EQ(static_cast<TFloatParam &>(ParamNamed(layer.GetFormula(), "bailout")).Value.GetText(), "9");
    EXPECT_EQ(IntParam(layer.GetFormula(), "test"), 1);
    // Both colorings smooth by the option's default.
    EXPECT_TRUE(BoolParam(layer.GetInsideColoring(), "smooth"));
    EXPECT_TRUE(BoolParam(layer.GetOutsideColoring(), "smooth"));
    const TMapping &mapping = layer.GetMapping();
    EXPECT_NEAR(static_cast<double>(mapping.Magnification.GetValue()), 1.0, 1e-12);
    EXPECT_NEAR(static_cast<double>(mapping.Center.Re.GetValue()), 0.0, 1e-15);
}

TEST_F(TFractintImportTest, KeysTable) {
    const struct {
        const char *Name;
        const char *Body;
        std::int32_t MaxIter;
        std::uint8_t Method;
        const char *Transformations;
    } cases[] = {
        {"maxiter 255", "type=mandel maxiter=255 passes=g6", 254, dmGuessing, "ViewWindow "},
        {"no maxiter", "type=mandel passes=2", 149, dmMultiPass, "ViewWindow "},
        {"passes 1", "type=mandel passes=1", 149, dmLinear, "ViewWindow "},
        {"skew 0, xmag 1", "type=mandel center-mag=0/0/1/1/0/0", 149, dmGuessing, "ViewWindow "},
        {"xmag 1.02", "type=mandel center-mag=0/0/1/1.02", 149, dmGuessing, "ViewWindow "},
        {"xmag 1.02, skew 5", "type=mandel center-mag=0/0/1/1.02/0/5", 149, dmGuessing,
         "ViewWindow SkewStretch "},
        {"skew 5", "type=mandel center-mag=0/0/1/1/0/5", 149, dmGuessing, "ViewWindow SkewStretch "},
        {"invert", "type=mandel invert=1/0.5/0", 149, dmGuessing, "ViewWindow Inverse "},
        {"invert 0", "type=mandel invert=0", 149, dmGuessing, "ViewWindow "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        TLayer &layer = Import(std::string("  ") + c.Body + "\r\n");
        EXPECT_EQ(layer.GetFormula().GetMaxIter(), c.MaxIter);
        EXPECT_EQ(layer.GetMethod(), c.Method);
        EXPECT_EQ(Transformations(layer), c.Transformations);
    }
}

TEST_F(TFractintImportTest, CenterMagGivesMagnificationAngleAndStretch) {
    TLayer &layer = Import("  type=mandel center-mag=0/0/2/1/30\r\n");
    EXPECT_EQ(layer.GetMapping().Magnification.GetText(), "3");
    EXPECT_NEAR(static_cast<double>(layer.GetMapping().AngleDegrees.GetValue()), 330.0, 1e-9);

    // Fractint writes xmag as the 4th value. Upright, the view is the corners -0.5 -+ 1/6 and
    // 0.25 -+ 1/4 at the centres of the corner pixels of 64 x 48: steps (1/3) / 63 across and
    // (1/2) / 47 down, a stretch of (1/2) / 47 / ((1/3) / 63) = 189 / 94, and no transformation.
    TLayer &stretched = Import("  type=mandel center-mag=-0.5/0.25/4/2\r\n");
    EXPECT_NEAR(static_cast<double>(stretched.GetMapping().Stretch.GetValue()), 189.0 / 94, 1e-15);
    EXPECT_NEAR(static_cast<double>(stretched.GetMapping().Center.Re.GetValue()), -0.5 - 1 / 6.0 + 32 / 189.0,
                1e-15);
    EXPECT_NEAR(static_cast<double>(stretched.GetMapping().Center.Im.GetValue()), 0.25 + 0.25 - 24 / 94.0,
                1e-15);
    EXPECT_EQ(Transformations(stretched), "ViewWindow ");
}

// Where the image point (X, Y) lands after the layer's mapping and transformations; (0, 0) is the
// image's left top edge.
std::complex<double> MappedPoint(const TLayer &Layer, int X, int Y) {
    const TMapping &mapping = Layer.GetMapping();
    TPixelContextBlock block(pmDouble);
    mapping.InitContext(block.Bytes());
    block.Common().X = X;
    block.Common().Y = Y;
    EXPECT_EQ(mapping.MapPixel(block.Bytes(), nullptr), 0);
    const std::complex<double> point{block.At<double>(block.Values().Pixel),
                                     block.At<double>(block.Values().Pixel + 8)};
    mapping.DoneContext(block.Bytes());
    return point;
}

// Fractint shows the region of height 2 / mag and width height / (0.75 xmag) around the centre,
// or the corners' region, in a window of any ratio; its corners are the centres of the corner
// pixels. The imported image's first and last pixels lie exactly there.
TEST_F(TFractintImportTest, TheImageSpansTheRegionFractintShows) {
    const struct {
        const char *Body;
        double Left, Top, Right, Bottom;
    } cases[] = {
        {"center-mag=-0.5/0/1.5", -0.5 - 4 / 4.5, 2 / 3.0, -0.5 + 4 / 4.5, -2 / 3.0},
        // A wide window: xmag 0.5 widens the region to the window's ratio 0.375.
        {"center-mag=0.5/0.25/2/0.5 viewwindows=1/0.375/yes/64/24", 0.5 - 4 / 3.0, 0.75, 0.5 + 4 / 3.0,
         -0.25},
        // A tall window of ratio 1.5, the region narrowed by xmag 2 to the same ratio.
        {"center-mag=0/0/1/2 viewwindows=1/1.5/yes/40/60", -2 / 3.0, 1, 2 / 3.0, -1},
        // The 0.75 region squeezed into a window of ratio 0.5, as Fractint does without cropping.
        {"center-mag=0/0/1 viewwindows=1/0.5/yes/64/32", -4 / 3.0, 1, 4 / 3.0, -1},
        // Corners are the region whatever the window.
        {"corners=-1/1/-1.5/1.5 viewwindows=1/1.5/yes/40/60", -1, 1.5, 1, -1.5},
        {"viewwindows=1/0.5/yes/64/32 corners=-3/1/-1/1", -3, 1, 1, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Body);
        Fractal->SetImageSize(64, 48);
        TLayer &layer = Import(std::string("  type=mandel ") + c.Body + "\r\n", TCustomFractal::rfTakeSize);
        const std::complex<double> leftTop = MappedPoint(layer, 0, 0);
        const std::complex<double> rightBottom =
            MappedPoint(layer, layer.GetWidth() - 1, layer.GetHeight() - 1);
        EXPECT_NEAR(leftTop.real(), c.Left, 1e-9);
        EXPECT_NEAR(leftTop.imag(), c.Top, 1e-9);
        EXPECT_NEAR(rightBottom.real(), c.Right, 1e-9);
        EXPECT_NEAR(rightBottom.imag(), c.Bottom, 1e-9);
    }
}

TEST_F(TFractintImportTest, SixCornersGiveTheRotatedView) {
    // A view rotated by 90 degrees: bottom left (x3rd, y3rd) = (1, -1) of the square whose left
    // top is (-1, -1) and right bottom (1, 1); right top = left top + right bottom - bottom left.
    TLayer &layer = Import("  type=mandel corners=-1/1/1/-1/1/-1\r\n");
    const TMapping &mapping = layer.GetMapping();
    EXPECT_NEAR(static_cast<double>(mapping.RightTop.Re.GetValue()), -1.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(mapping.RightTop.Im.GetValue()), 1.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(mapping.Center.Re.GetValue()), 0.0, 1e-15);
    EXPECT_NEAR(static_cast<double>(mapping.Center.Im.GetValue()), 0.0, 1e-15);
}

TEST_F(TFractintImportTest, ViewWindowsSizeTheImage) {
    const struct {
        const char *Value;
        std::int32_t Width, Height;
    } cases[] = {
        {"1/0.75", 640, 480},        {"1/2", 240, 480},
        {"1/0.5/yes/300", 300, 150}, {"1/0.75/yes/200/100", 200, 100},
        {"1/50", 640, 480}, // a ratio beyond 10 becomes 0.75
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Value);
        TLayer &layer =
            Import(std::string("  type=mandel viewwindows=") + c.Value + "\r\n", TCustomFractal::rfTakeSize);
        EXPECT_EQ(Fractal->GetWidth(), c.Width);
        EXPECT_EQ(Fractal->GetHeight(), c.Height);
        EXPECT_EQ(layer.GetWidth(), c.Width);
    }
    // Without the size flag the document keeps its size; the view window's ratio still counts for a
    // turned view.
    Fractal->SetImageSize(64, 48);
    TLayer &layer = Import("  type=mandel viewwindows=1/2 center-mag=0/0/1/1/30\r\n");
    EXPECT_EQ(Fractal->GetWidth(), 64);
    const TTransform &window = layer.GetMapping().GetTransformations().GetItem(0);
    EXPECT_EQ(static_cast<TFloatParam &>(ParamNamed(window, "ar")).Value.GetValue(), 2);
}

TEST_F(TFractintImportTest, OutsideColoringChoices) {
    const struct {
        const char *Body;
        const char *Entry;
        const char *Param;
        std::int32_t Value;
        bool Smooth;
    } cases[] = {
        {"decomp=256", "decomp", "decomp", 7, true},
        {"decomp=16", "decomp", "decomp", 3, false},
        {"decomp=2", "decomp", "decomp", 0, false},
        {"potential=200/500/600", "potential", "maxcol", 200, true},
        {"potential=255/820/100 decomp=4", "potential", "maxcol", 255, true},
        {"outside=real", "outside", "outside", 2, true},
        {"outside=atan", "outside", "outside", 6, true},
        {"outside=12", "outside", "n", 12, true},
        {"logmap=yes", "outside", "logmap", 1, true},
        {"logmap=old", "outside", "logmap", -1, true},
        {"biomorph=7", "outside", "biomorph", 7, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Body);
        TLayer &layer = Import(std::string("  type=mandel ") + c.Body + "\r\n");
        const TColoring &outside = layer.GetOutsideColoring();
        EXPECT_EQ(outside.GetEntryName(), c.Entry);
        EXPECT_EQ(IntParam(outside, c.Param), c.Value);
        EXPECT_EQ(BoolParam(outside, "smooth"), c.Smooth);
    }
    // The potential's bailout replaces the entry's own.
    TLayer &layer = Import("  type=mandel bailout=4 potential=255/820/600\r\n");
    EXPECT_EQ(static_cast<TFloatParam &>(ParamNamed(layer.GetFormula(), "bailout")).Value.GetText(), "600");
}

TEST_F(TFractintImportTest, InsideModes) {
    const struct {
        const char *Value;
        std::int32_t Mode, N;
    } cases[] = {{"0", 0, 0},      {"-1", 0, -1},   {"17", 0, 17},      {"zmag", 1, 1},
                 {"bof60", 2, 1},  {"bof61", 3, 1}, {"epscross", 4, 1}, {"epsiloncross", 4, 1},
                 {"period", 5, 1}, {"atan", 0, 1},  {"maxiter", 0, -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Value);
        TLayer &layer = Import(std::string("  type=mandel inside=") + c.Value + "\r\n");
        EXPECT_EQ(IntParam(layer.GetInsideColoring(), "inside"), c.Mode);
        EXPECT_EQ(IntParam(layer.GetInsideColoring(), "n"), c.N);
    }
}

TEST_F(TFractintImportTest, ParamsSkipTheBailoutAndFillFunctions) {
    // More numbers than the type has parameters must not reach its bailout and test.
    TLayer &layer = Import("  type=fn+fn params=1/2/3/4/5/6/7/8 function=cosh/sqr bailout=16\r\n");
    const TFormula &formula = layer.GetFormula();
    EXPECT_EQ(static_cast<TComplexParam &>(ParamNamed(formula, "p2")).Value.Im.GetText(), "4");
    EXPECT_EQ(static_cast<TFloatParam &>(ParamNamed(formula, "bailout")).Value.GetText(), "16");
    EXPECT_EQ(IntParam(formula, "test"), 0);
    EXPECT_EQ(FunctionIdToName(static_cast<TFuncParam &>(ParamNamed(formula, "fn1")).GetValue()), "cosh");
    EXPECT_EQ(FunctionIdToName(static_cast<TFuncParam &>(ParamNamed(formula, "fn2")).GetValue()), "sqr");
}

TEST(FractintColors, DecodeRunsAndDigits) {
    TFractintPalette palette;
    TFractintImporter::DecodeColors("000<3>zzz", palette);
    const std::uint8_t expected[5] = {0, 63, 127, 191, 255};
    for (int i = 0; i < 5; ++i)
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_EQ(palette[static_cast<std::size_t>(i * 3 + channel)], expected[i]) << i;
    EXPECT_EQ(palette[5 * 3], 0); // the rest stays black

    const struct {
        char Digit;
        int Value;
    } digits[] = {{'0', 0}, {'9', 9}, {'A', 10}, {'Z', 35}, {'_', 36}, {'`', 37}, {'a', 38}, {'z', 63}};
    for (const auto &d : digits)
        EXPECT_EQ(TFractintImporter::DecodeColorDigit(d.Digit), d.Value * 255 / 63) << d.Digit;

    for (const char *bad : {"<3>000", "000zz", "0!0", "000<x>zzz", "000<3zzz", "000<-1>zzz"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(TFractintImporter::DecodeColors(bad, palette), EImportError);
    }
    // 257 colours are too many.
    std::string many;
    for (int i = 0; i < 257; ++i)
        many += "zzz";
    EXPECT_THROW(TFractintImporter::DecodeColors(many, palette), EImportError);
}

TEST_F(TFractintImportTest, MalformedValuesLeaveTheDocumentAsItWas) {
    Import("  type=julia maxiter=99\r\n");
    const std::string before = WrittenText(*Fractal);
    const std::string title = Fractal->GetTitle();
    const struct {
        const char *Body;
        const char *Key;
    } cases[] = {
        {"type=mandel colors=000<3>zz", "colors"},
        {"type=mandel colors=<3>000", "colors"},
        {"type=mandel viewwindows=1/abc", "viewwindows"},
        {"type=mandel viewwindows=1/0.75/yes/100000", "viewwindows"},
        {"type=mandel corners=-2/1/x/1", "corners"},
        {"type=mandel maxiter=lots", "maxiter"},
        {"type=mandel params=1/two", "params"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Body);
        try {
            Fractal->ReadParameters(*EntryReader("Broken", std::string("  ") + c.Body + "\r\n"),
                                    TCustomFractal::rfTakeSize, TFractalProgressEvent());
            ADD_FAILURE() << "no error";
        } catch (const EImportError &e) {
            EXPECT_NE(std::string(e.what()).find(std::string("key \"") + c.Key + "\""), std::string::npos)
                << e.what();
            // The key's own line and column: the entry's name stands on line 1.
            EXPECT_NE(std::string(e.what()).find("position (2:15)"), std::string::npos) << e.what();
        }
        EXPECT_EQ(WrittenText(*Fractal), before);
        EXPECT_EQ(Fractal->GetTitle(), title);
        EXPECT_FALSE(Fractal->IsChanging());
    }
}

TEST_F(TFractintImportTest, MissingFormulaIsReportedAndTheDocumentStaysUsable) {
    try {
        Import("  type=nosuchtype\r\n");
        FAIL() << "no error";
    } catch (const EAbort &e) {
        EXPECT_STREQ(e.what(), "Could not find 'nosuchtype' in 'Fractint.ofm'");
    }
    ASSERT_EQ(Fractal->GetLayers().Count(), 1);
    EXPECT_EQ(Fractal->GetActiveLayer(), &Fractal->GetLayers().Items(0));
    EXPECT_FALSE(Fractal->IsChanging());
    // The document takes the next entry as usual.
    TLayer &layer = Import("  type=mandel maxiter=50\r\n");
    EXPECT_EQ(layer.GetFormula().GetEntryName(), "mandel");
    EXPECT_EQ(layer.GetFormula().GetMaxIter(), 49);
}

// Values that only failed once the import had begun replacing the layers: each is refused now,
// and the document keeps its layer, its active layer and its text.
TEST_F(TFractintImportTest, RefusedImportsLeaveTheDocumentWhole) {
    Import("  type=julia maxiter=99\r\n");
    const std::string before = WrittenText(*Fractal);
    const TLayer *active = Fractal->GetActiveLayer();
    std::string inversions = "  type=mandel";
    for (int i = 0; i < 1025; ++i)
        inversions += " invert=1/0/0";
    const struct {
        const char *Name;
        std::string Body;
        const char *Key;
    } cases[] = {
        {"derived view window height", "  type=mandel viewwindows=1/10/yes/16000\r\n", "viewwindows"},
        {"zero magnification", "  type=mandel center-mag=0/0/0\r\n", "center-mag"},
        {"corners overflowing", "  type=mandel corners=-1e4932/1e4932/-1e4932/1e4932\r\n", "corners"},
        {"missing palette file", "  type=mandel colors=@no_such_palette.map\r\n", "colors"},
        {"1025 inversions", inversions + "\r\n", "invert"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            Fractal->ReadParameters(*EntryReader("Refused", c.Body), TCustomFractal::rfTakeSize,
                                    TFractalProgressEvent());
            ADD_FAILURE() << "no error";
        } catch (const EImportError &e) {
            EXPECT_NE(std::string(e.what()).find(std::string("key \"") + c.Key + "\""), std::string::npos)
                << e.what();
        } catch (const std::exception &e) {
            ADD_FAILURE() << "not refused as a value: " << e.what();
        }
        ASSERT_EQ(Fractal->GetLayers().Count(), 1);
        EXPECT_EQ(Fractal->GetActiveLayer(), active);
        EXPECT_EQ(WrittenText(*Fractal), before);
        EXPECT_FALSE(Fractal->IsChanging());
    }
    // The document takes the next entry as usual.
    TLayer &layer = Import("  type=mandel maxiter=50\r\n");
    EXPECT_EQ(layer.GetFormula().GetMaxIter(), 49);
}

// A palette's colour k sits on a node of its own at the position that the colorings write for
// index k: the gradient entry there is exactly the palette's colour, for a palette file and for
// "colors" text alike, whether the colours run in straight lines or jump.
TEST_F(TFractintImportTest, PaletteColoursShowExactlyAtTheirIndexes) {
    const std::string file = std::string(TEST_DATA_DIR) + "fractal\\data\\FracPalette_noise.map";
    std::vector<std::array<int, 3>> colours;
    {
        std::ifstream in(file);
        std::array<int, 3> rgb;
        while (colours.size() < 256 && in >> rgb[0] >> rgb[1] >> rgb[2]) {
            colours.push_back(rgb);
            in.ignore(1 << 10, '\n');
        }
    }
    ASSERT_EQ(colours.size(), 256u);
    std::vector<std::array<int, 3>> ramp;
    for (int k = 0; k < 256; ++k)
        ramp.push_back({k, k, k});
    const struct {
        std::string Colors;
        std::vector<std::array<int, 3>> Expected;
    } cases[] = {
        {"@" + file, colours},
        // A straight ramp, which straight lines between two nodes would render only nearly.
        {"@" + std::string(TEST_DATA_DIR) + "fractal\\data\\FracPalette_ramp.map", ramp},
        // zzz, 000 and z00 repeated: each colour far from both neighbours.
        {std::string("zzz000z00zzz000z00"), {{255, 255, 255}, {0, 0, 0}, {255, 0, 0}, {255, 255, 255}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Colors.substr(0, 12));
        TLayer &layer = Import("  type=mandel colors=" + c.Colors + "\r\n");
        const TGradientTable &table = layer.GetGradient().Table();
        for (std::size_t k = 0; k < c.Expected.size(); ++k) {
            const int code = static_cast<int>(k) * 399 / 255 * GradientStepsPerPosition;
            // Table bytes: blue, green, red.
            EXPECT_EQ(table.GetByte(code, 2), c.Expected[k][0]) << "colour " << k;
            EXPECT_EQ(table.GetByte(code, 1), c.Expected[k][1]) << "colour " << k;
            EXPECT_EQ(table.GetByte(code, 0), c.Expected[k][2]) << "colour " << k;
        }
    }
}

// Types that draw no escape-time image, and entries whose formula does not compile, are refused
// with a message that names the entry, the type or formula, and why; the document stays as it was.
TEST_F(TFractintImportTest, UnsupportedTypesAndBrokenFormulasAreRefusedByName) {
    Import("  type=julia maxiter=99\r\n");
    const std::string before = WrittenText(*Fractal);
    const std::string fixtures = std::string(TEST_DATA_DIR) + "fractal\\data\\FracImport_fixtures.frm";
    const struct {
        std::string Body;
        std::vector<std::string> Said;
    } cases[] = {
        {"  type=plasma params=2\r\n", {"\"Refused\"", "\"plasma\"", "not supported", "escape-time"}},
        {"  type=lsystem\r\n", {"\"Refused\"", "\"lsystem\"", "not supported"}},
        {"  type=ifs corners=-8/8/-1/11\r\n", {"\"Refused\"", "\"ifs\"", "not supported"}},
        {"  type=popcorn\r\n", {"\"Refused\"", "\"popcorn\"", "not supported", "escape-time"}},
        {"  type=frothybasin\r\n", {"\"Refused\"", "\"frothybasin\"", "not supported", "Fractint.ofm"}},
        {"  type=formula formulafile=" + fixtures + " formulaname=Broken\r\n",
         {"\"Refused\"", "\"Broken\"", "does not compile", "line "}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Body);
        try {
            Fractal->ReadParameters(*EntryReader("Refused", c.Body), 0, TFractalProgressEvent());
            ADD_FAILURE() << "no error";
        } catch (const EImportError &e) {
            for (const std::string &part : c.Said)
                EXPECT_NE(std::string(e.what()).find(part), std::string::npos) << e.what();
        }
        EXPECT_EQ(WrittenText(*Fractal), before);
        EXPECT_FALSE(Fractal->IsChanging());
    }
}

namespace {

// A reader that keeps the load warnings it is handed.
class TWarnedReader : public TParReader {
public:
    using TParReader::TParReader;
    void LoadWarning(const std::string &Text) override { Warnings.push_back(Text); }
    std::vector<std::string> Warnings;
};

} // namespace

// Options that the import reads but does not reproduce are each reported once per import, with the
// entry's name; the image is built all the same.
TEST_F(TFractintImportTest, OptionsNotReproducedAreReportedOnce) {
    const struct {
        const char *Body;
        std::vector<std::string> Options; // as the warnings quote them
    } cases[] = {
        {"type=mandel inside=startrail outside=tdis map=altern.map passes=o symmetry=xaxis",
         {"inside=startrail", "outside=tdis", "map=altern.map", "passes=o", "symmetry=xaxis"}},
        {"type=mandel inside=fmod inside=atan outside=fmod outside=fmod",
         {"inside=fmod", "inside=atan", "outside=fmod"}},
        {"type=mandel inside=bof60 outside=real passes=1", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Body);
        auto reader = TEntryStream::CreateFromString<TWarnedReader>(std::string("Warned {\r\n  ") + c.Body +
                                                                    "\r\n}\r\n");
        Fractal->ReadParameters(*reader, 0, TFractalProgressEvent());
        ASSERT_EQ(reader->Warnings.size(), c.Options.size());
        for (std::size_t i = 0; i < c.Options.size(); ++i) {
            EXPECT_NE(reader->Warnings[i].find("\"" + c.Options[i] + "\""), std::string::npos)
                << reader->Warnings[i];
            EXPECT_NE(reader->Warnings[i].find("\"Warned\""), std::string::npos) << reader->Warnings[i];
        }
        EXPECT_EQ(Fractal->GetLayers().Count(), 1);
    }
}
