// The Fractint importer, reached the way the program reaches it: a document reads a Fractint
// parameter entry (no section headers) and ends up with one layer whose formula, colorings,
// transformations, location, gradient and options say what the entry says; and each imported type
// calculates, pixel for pixel, the iteration counts that a direct implementation of the type's
// published definition gives on the same grid.
#include <windows.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "FracMessageWait.h"

#include "CompDefinitions.h"
#include "CompEntries.h"
#include "CompFileManager.h"
#include "CompParams.h"
#include "CompPersistent.h"
#include "FracCalculate.h"
#include "FracDocument.h"
#include "FracGradient.h"
#include "FracImport.h"
#include "FracImportSupport.h"
#include "FractintReference.h"
#include "GenSetup.h"

namespace {

std::string DataFolder() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\";
}

std::string LowerText(std::string Text) {
    for (char &c : Text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return Text;
}

std::string FileTail(const std::string &Path) {
    const std::size_t slash = Path.find_last_of("\\/");
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

// A number rounded to 9 decimals without trailing zeros, so that values that went through
// arbitrary-precision corner arithmetic compare with the short decimals of the entries.
std::string Number(long double Value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9f", static_cast<double>(Value));
    std::string result = text;
    while (result.back() == '0')
        result.pop_back();
    if (result.back() == '.')
        result.pop_back();
    return result == "-0" ? "0" : result;
}

std::string ComplexText(const TComplexValue &Value) {
    return Number(Value.Re.GetValue()) + "/" + Number(Value.Im.GetValue());
}

// A parameter's value as text: complex "re/im", numbers as Number gives them, yes/no, function
// names; "(none)" when the object declares no parameter of that name.
std::string ParamText(const TFormulaBase &Object, const std::string &Name) {
    const TParamList &params = Object.GetParams();
    int index = params.IndexOfName(Name, pkOrdinary);
    if (index < 0)
        index = params.IndexOfName(Name, pkFunction);
    if (index < 0)
        return "(none)";
    const TParam *param = params.GetItem(index);
    if (const auto *complex = dynamic_cast<const TComplexParam *>(param))
        return ComplexText(complex->Value);
    if (const auto *real = dynamic_cast<const TFloatParam *>(param))
        return Number(real->Value.GetValue());
    if (const auto *integer = dynamic_cast<const TIntParam *>(param))
        return std::to_string(integer->GetValue());
    if (const auto *boolean = dynamic_cast<const TBoolParam *>(param))
        return boolean->GetValue() ? "yes" : "no";
    if (const auto *function = dynamic_cast<const TFuncParam *>(param))
        return FunctionIdToName(function->GetValue());
    return "(other type)";
}

std::string SourceText(const TFormulaBase &Object) {
    return FileTail(Object.GetFileName()) + ":" + LowerText(Object.GetEntryName());
}

// One property of an imported document, named as the tables below name it: "formula",
// "inside.n", "transform2.radius", "center", ...
std::string Describe(const TCustomFractal &Fractal, const std::string &What) {
    const TLayer &layer = Fractal.GetLayers().Items(0);
    const TMapping &mapping = layer.GetMapping();
    const TTransformList &transforms = mapping.GetTransformations();
    if (What == "layers")
        return std::to_string(Fractal.GetLayers().Count()) + " " + layer.GetCaption();
    if (What == "title")
        return Fractal.GetTitle();
    if (What == "size")
        return std::to_string(Fractal.GetWidth()) + "x" + std::to_string(Fractal.GetHeight()) + ", layer " +
               std::to_string(layer.GetWidth()) + "x" + std::to_string(layer.GetHeight());
    if (What == "formula")
        return SourceText(layer.GetFormula());
    if (What == "inside")
        return SourceText(layer.GetInsideColoring());
    if (What == "outside")
        return SourceText(layer.GetOutsideColoring());
    if (What == "maxiter")
        return std::to_string(layer.GetFormula().GetMaxIter());
    if (What == "method") {
        const char *const names[] = {"guessing", "multipass", "linear"};
        return layer.GetMethod() < 3 ? names[layer.GetMethod()] : std::to_string(layer.GetMethod());
    }
    if (What == "periodicity") {
        const char *const names[] = {"off", "conservative", "normal", "rough"};
        const std::uint8_t mode = layer.GetFormula().GetPeriodicity();
        return mode < 4 ? names[mode] : std::to_string(mode);
    }
    if (What == "transforms") {
        std::string text;
        for (int i = 0; i < transforms.GetCount(); ++i)
            text += (i ? " " : "") + transforms.GetItem(i).GetEntryName();
        return text;
    }
    if (What == "center")
        return ComplexText(mapping.Center);
    if (What == "magnification")
        return Number(mapping.Magnification.GetValue());
    if (What == "angle") // in degrees, from the angle itself: the degree text is rounded for display
        return Number(mapping.Angle.GetValue() * 180 / 3.14159265358979323846L);
    if (What == "lefttop")
        return ComplexText(mapping.LeftTop);
    if (What == "righttop")
        return ComplexText(mapping.RightTop);
    if (What == "rightbottom")
        return ComplexText(mapping.RightBottom);
    if (What == "gradient") {
        // Colour nodes as "position:RRGGBB".
        const TGradientColorItems &items = layer.GetGradient().ColorItems();
        std::string text;
        for (int i = 0; i < items.GetCount(); ++i) {
            const TGradientColorNode &node = *items.GetColorNode(i);
            char color[8];
            std::snprintf(color, sizeof color, "%02x%02x%02x", node.Red(), node.Green(), node.Blue());
            text += (i ? " " : "") + std::to_string(node.Position()) + ":" + color;
        }
        return text;
    }
    const std::size_t dot = What.find('.');
    if (dot != std::string::npos) {
        const std::string object = What.substr(0, dot), name = What.substr(dot + 1);
        if (object == "formula")
            return ParamText(layer.GetFormula(), name);
        if (object == "inside")
            return ParamText(layer.GetInsideColoring(), name);
        if (object == "outside")
            return ParamText(layer.GetOutsideColoring(), name);
        if (object.rfind("transform", 0) == 0) {
            const int index = std::stoi(object.substr(9)) - 1;
            if (index >= transforms.GetCount())
                return "(no transformation " + object.substr(9) + ")";
            return ParamText(transforms.GetItem(index), name);
        }
    }
    ADD_FAILURE() << "nothing is called " << What;
    return std::string();
}

std::unique_ptr<TParReader> EntryOf(const std::string &File, const std::string &Entry) {
    return TEntryStream::CreateFromFile<TParReader>(DataFolder() + File, Entry);
}

// The names of a fixture file's entries, in file order.
std::vector<std::string> EntryNames(const std::string &File) {
    TEntryFileReference file(FileManager()->OpenFile(DataFolder() + File, false));
    TEntryCollectionLock lock(*file);
    std::vector<std::string> names;
    for (int i = 0; i < file->GetCount(); ++i)
        names.push_back(file->GetEntry(i)->Name());
    return names;
}

// The configuration the importer reads: formula files from the shipped folder and, through the
// search paths, from the fixtures; palette files from the fixtures; the default size the
// expectations assume. Every value is put back.
class TFractintEntryTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        FFolders = std::make_unique<TShippedFormulaFolders>(DataFolder());
        TConfigManager &config = *ConfigManager();
        FSaved = {config.Folder->Gradient, config.Fractal->DefaultWidth, config.Fractal->DefaultHeight,
                  config.Fractal->ImportFixedAspectRatio, config.Fractal->ImportSmoothColoring};
        config.Folder->Gradient = DataFolder();
        config.Fractal->DefaultWidth = 640;
        config.Fractal->DefaultHeight = 480;
    }
    static void TearDownTestSuite() {
        TConfigManager &config = *ConfigManager();
        config.Folder->Gradient = FSaved.Gradient;
        config.Fractal->DefaultWidth = FSaved.DefaultWidth;
        config.Fractal->DefaultHeight = FSaved.DefaultHeight;
        config.Fractal->ImportFixedAspectRatio = FSaved.FixedAspect;
        config.Fractal->ImportSmoothColoring = FSaved.Smooth;
        FFolders.reset();
    }
    void SetUp() override { SetOptions(true, true); }

    static void SetOptions(bool FixedAspect, bool Smooth) {
        ConfigManager()->Fractal->ImportFixedAspectRatio = FixedAspect;
        ConfigManager()->Fractal->ImportSmoothColoring = Smooth;
    }

    // A new 16 x 12 document that has read the entry, taking the size the entry gives.
    std::unique_ptr<TCustomFractal> Import(TParReader &Reader) {
        auto fractal = std::make_unique<TCustomFractal>(&Manager);
        fractal->SetImageSize(16, 12);
        fractal->ReadParameters(Reader, TCustomFractal::rfTakeSize, TFractalProgressEvent());
        return fractal;
    }
    std::unique_ptr<TCustomFractal> Import(const std::string &File, const std::string &Entry) {
        return Import(*EntryOf(File, Entry));
    }

    TCalculateManager Manager{3};

private:
    struct TSaved {
        std::string Gradient;
        int DefaultWidth, DefaultHeight;
        bool FixedAspect, Smooth;
    };
    static inline std::unique_ptr<TShippedFormulaFolders> FFolders;
    static inline TSaved FSaved;
};

using TExpectations = std::vector<std::pair<std::string, std::string>>;

// The nodes of an imported palette as "gradient" describes them: colour k (6 hex digits, from
// Color) on its own node at position k * 399 div 255.
template <class TColor> std::string ExactGradient(TColor Color) {
    std::string text;
    for (int k = 0; k < 256; ++k)
        text += (k > 0 ? " " : "") + std::to_string(k * 399 / 255) + ":" + Color(k);
    return text;
}

void ExpectDocument(const TCustomFractal &Fractal, const TExpectations &Expected) {
    ASSERT_EQ(Fractal.GetLayers().Count(), 1);
    EXPECT_FALSE(Fractal.IsChanging());
    for (const auto &[what, value] : Expected)
        EXPECT_EQ(Describe(Fractal, what), value) << what;
}

} // namespace

// Every entry of the keys fixture, with the values that its keys select. Properties that an entry
// does not mention are mostly left out; those it mentions are all checked.
TEST_F(TFractintEntryTest, EveryEntryImportsAsOneLayerWithWhatItAsksFor) {
    const std::string ocl = "Fractint.ocl:", ofm = "Fractint.ofm:";
    const struct {
        const char *Entry;
        TExpectations Expected;
    } cases[] = {
        {"Only_A_Type",
         {{"layers", "1 Background"},  {"title", "Only A Type"},   {"size", "16x12, layer 16x12"},
          {"formula", ofm + "mandel"}, {"maxiter", "149"},         {"formula.p1", "0/0"},
          {"formula.bailout", "4"},    {"formula.test", "0"},      {"transforms", "ViewWindow"},
          {"transform1.ar", "0.75"},   {"inside", ocl + "inside"}, {"inside.inside", "0"},
          {"inside.n", "1"},           {"inside.smooth", "yes"},   {"outside", ocl + "outside"},
          {"outside.outside", "1"},    {"outside.n", "1"},         {"outside.logmap", "0"},
          {"outside.biomorph", "-1"},  {"outside.smooth", "yes"}}},
        {"Letter_Cases",
         {{"formula", ofm + "julia"},
          {"maxiter", "255"},
          {"formula.p1", "-0.12/0.75"},
          {"method", "multipass"},
          // Corners -1.6/1.6/-1.2/1.2 name the centres of the corner pixels: steps 3.2 / 15
          // across and 2.4 / 11 down; the location's corners are the outer edges of 16 x 12 of
          // them, its centre pixel (8, 6).
          {"lefttop", "-1.6/1.2"},
          {"rightbottom", "1.813333333/-1.418181818"},
          {"righttop", "1.813333333/1.2"},
          {"center", "0.106666667/-0.109090909"},
          {"magnification", "1.145833333"},
          {"angle", "0"},
          {"inside.inside", "1"},
          {"outside", ocl + "outside"},
          {"outside.outside", "2"},
          {"periodicity", "off"},
          {"formula.bailout", "16"},
          {"formula.test", "5"}}},
        // 000, a run of 3, zzz, z00, a run of 2, zz0: black, three greys, white, red, two oranges,
        // yellow, then black; every colour on a node of its own.
        {"Continued_Values",
         {{"formula", ofm + "fn+fn"},
          {"formula.fn1", "cosh"},
          {"formula.fn2", "sqr"},
          {"formula.p1", "1/0.5"},
          {"formula.p2", "0.25/0"},
          {"method", "linear"},
          {"maxiter", "99"},
          {"center", "0.133333333/-0.136363636"},
          {"magnification", "0.916666667"},
          {"gradient", ExactGradient([](int k) -> std::string {
               static const char *const first[] = {"000000", "3f3f3f", "7f7f7f", "bfbfbf", "ffffff",
                                                   "ff0000", "ff5500", "ffaa00", "ffff00"};
               return k < 9 ? first[k] : "000000";
           })},
          {"inside.inside", "2"},
          {"outside.outside", "5"},
          {"outside.logmap", "3"},
          {"outside.biomorph", "9"},
          {"periodicity", "normal"}}},
        // Left top (-3, 0), right bottom (2, 0), bottom left (-1.2, -2.4): right top (0.2, 2.4), a
        // 4 x 3 view around (-0.5, 0) turned by atan(2.4 / 3.2).
        {"Six_Corners",
         {{"formula", ofm + "lambda"},
          {"formula.p1", "0.85/0.6"},
          {"method", "guessing"},
          {"lefttop", "-3/0"},
          {"rightbottom", "2/0"},
          {"righttop", "0.2/2.4"},
          {"center", "-0.5/0"},
          {"magnification", "1"},
          {"angle", "36.869897646"},
          {"transforms", "ViewWindow"},
          {"inside.inside", "3"},
          {"outside.outside", "0"},
          {"outside.n", "12"},
          {"periodicity", "conservative"}}},
        {"Center_Three",
         {{"formula", ofm + "spider"},
          // center-mag -0.75/0.1/2: corners -0.75 -+ 2/3 and 0.1 -+ 0.5 at the centres of the
          // corner pixels.
          {"center", "-0.705555556/0.054545455"},
          {"magnification", "2.75"},
          {"angle", "0"},
          {"method", "multipass"},
          {"transforms", "ViewWindow"},
          {"inside.inside", "0"},
          {"inside.n", "37"},
          {"outside.outside", "6"}}},
        {"Center_Five",
         {{"formula", ofm + "manowar"},
          {"center", "0/0"},
          {"magnification", "3"},
          {"angle", "330"},
          {"transforms", "ViewWindow"},
          {"inside.inside", "4"},
          {"outside.outside", "3"}}},
        {"Center_Six",
         {{"formula", ofm + "phoenix"},
          {"formula.p1", "0.56667/-0.5"},
          {"formula.p2", "0/0"},
          {"maxiter", "999"},
          {"center", "0.25/-0.5"},
          {"magnification", "6"},
          {"angle", "45"},
          {"transforms", "ViewWindow SkewStretch"},
          {"transform1.ar", "0.75"},
          {"transform2.xmag", "1.02"},
          {"transform2.skew", "10"},
          {"inside.inside", "4"},
          {"outside.outside", "4"},
          {"method", "linear"}}},
        // Ratio 1.5: the upright view names the corners 0 -+ 4 / (3 * 1.02) and 0 -+ 1, which the
        // 16 x 24 pixels span from centre to centre.
        {"View_Window_Size",
         {{"size", "16x24, layer 16x24"},
          {"transforms", "ViewWindow"},
          {"transform1.ar", "0.75"},
          {"center", "0.087145969/-0.043478261"},
          {"magnification", "2.875"},
          {"inside.inside", "5"}}},
        // No size: 640 wide would need 1280 rows, so 480 rows and 240 columns. No view either: the
        // type's default corners, which fill the window whatever its ratio.
        {"View_Window_Default_Size",
         {{"size", "240x480, layer 240x480"},
          {"transforms", "ViewWindow"},
          {"transform1.ar", "0.75"},
          {"lefttop", "-2.5/1.5"},
          {"maxiter", "10"},
          {"inside.inside", "0"},
          {"inside.n", "-1"}}},
        {"Invert_With_Center",
         {{"transforms", "ViewWindow Inverse"},
          {"transform2.radius", "2"},
          {"transform2.center", "0.5/-0.25"},
          {"inside.inside", "0"}}},
        {"Invert_At_The_Center",
         {{"formula", ofm + "julia"},
          {"center", "-0.411111111/0.159090909"},
          {"magnification", "1.375"},
          {"transforms", "ViewWindow Inverse"},
          {"transform2.radius", "1.5"},
          // The middle of the view Fractint shows, half a pixel left of and above the centre
          // pixel.
          {"transform2.center", "-0.5/0.25"}}},
        {"Invert_Zero", {{"transforms", "ViewWindow"}}},
        {"Decomp_256",
         {{"outside", ocl + "decomp"},
          {"outside.decomp", "7"},
          {"outside.logmap", "-1"},
          {"outside.smooth", "yes"},
          {"inside.smooth", "yes"}}},
        {"Decomp_16",
         {{"outside", ocl + "decomp"},
          {"outside.decomp", "3"},
          {"outside.logmap", "1"},
          {"outside.smooth", "no"},
          {"inside.smooth", "yes"}}},
        // The potential's bailout replaces the "bailout" key; potential wins over decomp.
        {"Potential_Wins",
         {{"outside", ocl + "potential"},
          {"outside.maxcol", "200"},
          {"outside.slope", "500"},
          {"outside.logmap", "-1"},
          {"outside.smooth", "yes"},
          {"formula.bailout", "100"}}},
        // A formula's own "bailout" parameter is not the built-in types' bailout; an unknown
        // function name for a missing fn2 is skipped.
        {"Own_Formula",
         {{"formula", "FracImport_fixtures.frm:twoparams"},
          {"formula.p1", "0.3/0.5"},
          {"formula.p2", "-0.2/0.1"},
          {"formula.fn1", "sin"},
          {"formula.bailout", "4"},
          {"center", "0.133333333/-0.136363636"},
          {"magnification", "0.916666667"},
          {"transforms", "ViewWindow"}}},
        {"Own_Formula_Name_First",
         {{"formula", "FracImport_fixtures.frm:cubic"},
          {"formula.p1", "0.1/0.2"},
          {"formula.p2", "0.3/0.4"},
          {"formula.p3", "0.5/0.6"},
          {"maxiter", "49"}}},
        {"Formula_Of_The_Types_File", {{"formula", ofm + "spider"}, {"formula.p1", "0.25/0.125"}}},
        // A palette ramp from black to white: colour k is (k, k, k), each on a node.
        {"Palette_File", {{"formula", ofm + "mandel"}, {"gradient", ExactGradient([](int k) {
                                                            char text[8];
                                                            std::snprintf(text, sizeof text, "%02x%02x%02x",
                                                                          k, k, k);
                                                            return std::string(text);
                                                        })}}},
    };
    // The table covers the file.
    std::vector<std::string> listed;
    for (const auto &c : cases)
        listed.push_back(c.Entry);
    EXPECT_EQ(EntryNames("FracImport_keys.par"), listed);

    for (const auto &c : cases) {
        SCOPED_TRACE(c.Entry);
        std::unique_ptr<TCustomFractal> fractal;
        try {
            fractal = Import("FracImport_keys.par", c.Entry);
        } catch (const std::exception &e) {
            ADD_FAILURE() << "import failed: " << e.what();
            continue;
        }
        ExpectDocument(*fractal, c.Expected);
    }
}

// A "formula" entry without a formula file finds its formula as Fractint does: in the shipped
// "Fractint.ofm" first, then in the formula files of the formula folders (here the fixtures'
// folder among the search paths).
TEST_F(TFractintEntryTest, FormulaWithoutFileIsSearchedInTheFormulaFolders) {
    const struct {
        const char *Name;
        const char *Formula;
    } cases[] = {
        {"cubic", "FracImport_fixtures.frm:cubic"},
        {"TwoParams", "FracImport_fixtures.frm:twoparams"},
        {"spider", "Fractint.ofm:spider"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        auto fractal =
            Import(*EntryReader("Searched", std::string("  type=formula formulaname=") + c.Name + "\r\n"));
        ExpectDocument(*fractal, {{"formula", c.Formula}});
    }
}

// The options switch off the smooth parameter of both colorings, and the leading "ViewWindow"
// that keeps Fractint's aspect ratio: then only a "viewwindows" key brings one, placed first.
TEST_F(TFractintEntryTest, OptionsDecideSmoothColoringAndTheFixedAspectView) {
    SetOptions(false, false);
    ExpectDocument(*Import("FracImport_keys.par", "Only_A_Type"),
                   {{"transforms", ""}, {"inside.smooth", "no"}, {"outside.smooth", "no"}});
    ExpectDocument(*Import("FracImport_keys.par", "Decomp_256"), {{"outside.smooth", "no"}});
    ExpectDocument(*Import("FracImport_keys.par", "View_Window_Size"),
                   {{"transforms", "ViewWindow"}, {"transform1.ar", "0.75"}});
    ExpectDocument(*Import("FracImport_keys.par", "Invert_With_Center"), {{"transforms", "Inverse"}});
}

// Malformed colours and view windows end the read with the import error; the document's change
// bracket is closed all the same.
TEST_F(TFractintEntryTest, MalformedValuesAreRefused) {
    const struct {
        const char *Name;
        const char *Items;
    } cases[] = {
        {"a run first", "type=mandel colors=<3>000zzz"},
        {"two characters left", "type=mandel colors=000zz"},
        {"a run without its end", "type=mandel colors=000<3"},
        {"a run of no number", "type=mandel colors=000<x>zzz"},
        {"a character outside the digits", "type=mandel colors=0!0"},
        {"more than 256 colours", "type=mandel colors=000<255>zzz000"},
        {"a ratio that is no number", "type=mandel viewwindows=4/wide/yes/16/12"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Name);
        auto fractal = std::make_unique<TCustomFractal>(&Manager);
        fractal->SetImageSize(16, 12);
        const std::string text = std::string("bad {\r\n  ") + c.Items + "\r\n}\r\n";
        EXPECT_THROW(fractal->ReadParameters(*TEntryStream::CreateFromString<TParReader>(text),
                                             TCustomFractal::rfTakeSize, TFractalProgressEvent()),
                     EImportError);
        EXPECT_FALSE(fractal->IsChanging());
        EXPECT_GE(fractal->GetLayers().Count(), 1);
    }
}

// ---------------------------------------------------------------------------------------------
// Each type calculated on its 16 x 12 grid against a direct implementation of its definition.

namespace {

TComplex Apply(const std::string &Function, TComplex Z) {
    if (Function == "sin")
        return std::sin(Z);
    if (Function == "cosh")
        return std::cosh(Z);
    if (Function == "sqr")
        return Sqr(Z);
    ADD_FAILURE() << "no function " << Function;
    return Z;
}

// The values of an entry that the definitions use.
struct TTypeValues {
    TComplex P1 = 0, P2 = 0;
    std::string Fn1, Fn2;
    int Test = 0;
    double Bailout = 4;
};

// The rounds of an orbit that did not end it, at most MaxIter: z(0) is Z, Step gives z(n + 1)
// from z(n), Leaves (z(n + 1), z(n)) tells whether the orbit ends there.
template <class TStep, class TLeaves>
std::int32_t Rounds(TComplex Z, std::int32_t MaxIter, TStep Step, TLeaves Leaves) {
    for (std::int32_t n = 0; n < MaxIter; ++n) {
        const TComplex old = Z;
        Z = Step(Z);
        if (Leaves(Z, old))
            return n;
    }
    return MaxIter;
}

// The count of pixel C for a type, written from the type's published definition (c the pixel).
std::int32_t Reference(const std::string &Type, const TTypeValues &V, TComplex C, std::int32_t MaxIter) {
    auto escapes = [&](TComplex Z, TComplex) { return !Stays(Z, V.Test, V.Bailout); };
    auto run = [&](TComplex Z0, auto Step) { return Rounds(Z0, MaxIter, Step, escapes); };
    if (Type == "mandel") // z(1) = c + p1 untested, z = z^2 + c
        return run(C + V.P1, [&](TComplex z) { return Sqr(z) + C; });
    if (Type == "julia") // z(0) = c, z = z^2 + p1
        return run(C, [&](TComplex z) { return Sqr(z) + V.P1; });
    if (Type == "lambda") // z(0) = c, z = p1 z (1 - z)
        return run(C, [&](TComplex z) { return V.P1 * z * (1.0 - z); });
    if (Type == "manowar") { // z(0) = z1(0) = c, z = z^2 + z1 + c, z1 = the previous z
        TComplex z1 = C;
        return run(C, [&](TComplex z) {
            const TComplex next = Sqr(z) + z1 + C;
            z1 = z;
            return next;
        });
    }
    if (Type == "spider") { // z(0) = c(0) = c, z = z^2 + c(n), c(n + 1) = c(n) / 2 + z(n + 1)
        TComplex c = C;
        return run(C, [&](TComplex z) {
            z = Sqr(z) + c;
            c = c / 2.0 + z;
            return z;
        });
    }
    if (Type == "phoenix") { // degree 0: z(0) = c, y(0) = 0, z = z^2 + p + q y, y = the previous z
        TComplex y = 0;
        const double p = V.P1.real(), q = V.P1.imag();
        return run(C, [&](TComplex z) {
            const TComplex next = Sqr(z) + p + q * y;
            y = z;
            return next;
        });
    }
    if (Type == "barnsleym1") // z(0) = c, z = (z - 1) c when real(z) >= 0, else (z + 1) c
        return run(C, [&](TComplex z) { return (z.real() >= 0 ? z - 1.0 : z + 1.0) * C; });
    if (Type == "barnsleyj2") // z(0) = c, the sign of real(z) imag(p1) + real(p1) imag(z) picks z -+ 1
        return run(C, [&](TComplex z) {
            return (z.real() * V.P1.imag() + V.P1.real() * z.imag() >= 0 ? z - 1.0 : z + 1.0) * V.P1;
        });
    if (Type == "sierpinski") // (2x, 2y - 1) when y > 1/2, else (2x - 1, 2y) when x > 1/2, else 2z
        return run(C, [](TComplex z) {
            if (z.imag() > 0.5)
                return TComplex(2 * z.real(), 2 * z.imag() - 1);
            if (z.real() > 0.5)
                return TComplex(2 * z.real() - 1, 2 * z.imag());
            return 2.0 * z;
        });
    if (Type == "magnet1m") // z(0) = 0, z = ((z^2 + c - 1) / (2z + c - 2))^2; z = 1 ends it too
        return Rounds(
            0, MaxIter, [&](TComplex z) { return Sqr((Sqr(z) + C - 1.0) / (2.0 * z + C - 2.0)); },
            [&](TComplex z, TComplex) {
                return !Stays(z, V.Test, V.Bailout) || std::norm(z - 1.0) < 1.0 / 1073741824;
            });
    if (Type == "marksmandel") { // z(0) = 0, z = c^(e - 1) z^2 + c with e the third number
        const TComplex k = std::pow(C, V.P2.real() - 1);
        return run(V.P1, [&](TComplex z) { return k * Sqr(z) + C; });
    }
    if (Type == "newton") { // z(0) = c, z = ((n - 1) z^n + 1) / (n z^(n - 1)); each z is tested
                            // before it steps, and the orbit ends once |z^n - 1|^2 < 0.2
        const int degree = static_cast<int>(std::lround(V.P1.real()));
        return Rounds(
            C, MaxIter,
            [&](TComplex z) {
                TComplex power = 1;
                for (int k = 0; k < degree - 1; ++k)
                    power *= z;
                return (static_cast<double>(degree - 1) * power * z + 1.0) /
                       (static_cast<double>(degree) * power);
            },
            [&](TComplex, TComplex old) {
                TComplex power = 1;
                for (int k = 0; k < degree; ++k)
                    power *= old;
                return std::norm(power - 1.0) < 0.2;
            });
    }
    if (Type == "unity") // one = x^2 + y^2, y = (2 - one) x, x = (2 - one) y; ends beyond 2 or near 1
        return Rounds(
            C, MaxIter,
            [](TComplex z) {
                const double one = std::norm(z);
                const double y = (2 - one) * z.real();
                return TComplex((2 - one) * y, y);
            },
            [](TComplex z, TComplex) {
                const double one = std::norm(z);
                return !(one <= 2 && std::fabs(one - 1) >= 0.01);
            });
    if (Type == "mandelfn") // z(0) = c, z = c fn1(z); sin leaves when |imag| of the previous z >= 8
        return Rounds(
            C, MaxIter, [&](TComplex z) { return C * Apply(V.Fn1, z); },
            [&](TComplex, TComplex old) { return std::fabs(old.imag()) >= std::sqrt(V.Bailout); });
    if (Type == "fn*fn")
        return run(C, [&](TComplex z) { return Apply(V.Fn1, z) * Apply(V.Fn2, z); });
    if (Type == "fn+fn")
        return run(C, [&](TComplex z) { return V.P1 * Apply(V.Fn1, z) + V.P2 * Apply(V.Fn2, z); });
    if (Type == "sqr(fn)")
        return run(C, [&](TComplex z) { return Sqr(Apply(V.Fn1, z)); });
    if (Type == "fn*z+z")
        return run(C, [&](TComplex z) { return V.P1 * Apply(V.Fn1, z) * z + V.P2 * z; });
    if (Type == "fn(z*z)")
        return run(C, [&](TComplex z) { return Apply(V.Fn1, Sqr(z)); });
    if (Type == "julfn+zsqrd")
        return run(C, [&](TComplex z) { return Apply(V.Fn1, z) + Sqr(z) + V.P1; });
    if (Type == "TwoParams") // the formula fixture: z = z^2 + p1 + p2 fn1(z)
        return run(C, [&](TComplex z) { return Sqr(z) + V.P1 + V.P2 * Apply(V.Fn1, z); });
    ADD_FAILURE() << "no definition of " << Type;
    return -1;
}

constexpr std::int32_t TypeMaxIter = 100; // maxiter=101 in every entry

} // namespace

// The outside coloring "outside" in its iteration mode, with smooth colouring off, gives Fractint's
// colour index: the rounds the orbit ran plus 1 (Fractint counts the first step as 1); inside=-1
// gives maxiter, which is the rounds of an orbit that never leaves plus 1 as well. Index k is the
// gradient code (k * 399 div 255) * 128. The grid's pixels lie a power of two apart and the
// entries' view ratio 0.75 leaves the "ViewWindow" correction the identity, so every pixel maps to
// the same double as here.
TEST_F(TFractintEntryTest, EveryTypeCalculatesTheCountsOfItsDefinition) {
    SetOptions(true, false);
    const struct {
        const char *Entry;
        const char *Formula; // the type's entry in the formula file
        const char *Type;    // the definition above
        TTypeValues Values;
        int Tolerated;         // pixels allowed to differ
        bool HasInside = true; // newton's orbits all settle
    } cases[] = {
        {"Mandel", "mandel", "mandel", {}, 0},
        {"Mandel_Perturbed", "mandel", "mandel", {{0.125, 0.0625}, 0, "", "", 6, 9}, 0},
        {"Julia_Or", "julia", "julia", {{-0.12, 0.75}, 0, "", "", 3, 4}, 0},
        {"Newton", "newton", "newton", {{3, 0}}, 0, false},
        {"Lambda", "lambda", "lambda", {{0.85, 0.6}}, 0},
        {"Manowar", "manowar", "manowar", {}, 0},
        {"Spider", "spider", "spider", {}, 0},
        {"Phoenix", "phoenix", "phoenix", {{0.56667, -0.5}}, 0},
        {"Barnsley_M1", "barnsleym1", "barnsleym1", {}, 0},
        {"Barnsley_J2", "barnsleyj2", "barnsleyj2", {{1, 0.3}}, 0},
        {"Sierpinski", "sierpinski", "sierpinski", {0, 0, "", "", 0, 127}, 0},
        {"Magnet_1M", "magnet1m", "magnet1m", {0, 0, "", "", 0, 100}, 0},
        {"Marks_Mandel", "marksmandel", "marksmandel", {0, {2, 0}}, 0},
        {"Unity", "unity", "unity", {}, 0},
        {"Mandel_Fn", "mandelfn", "mandelfn", {0, 0, "sin", "", 0, 64}, 0},
        {"Fn_Times_Fn", "fn*fn", "fn*fn", {0, 0, "sin", "sqr", 0, 64}, 0},
        {"Fn_Plus_Fn", "fn+fn", "fn+fn", {{1, 0}, {0.5, 0}, "sin", "sqr", 0, 64}, 0},
        {"Sqr_Of_Fn", "sqr[fn]", "sqr(fn)", {0, 0, "sin", "", 0, 64}, 0},
        {"Fn_Z_Plus_Z", "fn*z+z", "fn*z+z", {{1, 0}, {1, 0}, "sin", "", 0, 64}, 0},
        {"Fn_Of_Z_Squared", "fn[z*z]", "fn(z*z)", {0, 0, "sin", "", 0, 64}, 0},
        {"Julia_Fn_Plus_Z_Squared", "julfn+zsqrd", "julfn+zsqrd", {{-0.5, 0}, 0, "sin", "", 0, 64}, 0},
        {"Own_Formula", "twoparams", "TwoParams", {{-0.5, 0}, {0.5, 0}, "sin", "", 0, 4}, 0},
    };
    std::vector<std::string> listed;
    for (const auto &c : cases)
        listed.push_back(c.Entry);
    EXPECT_EQ(EntryNames("FracImport_types.par"), listed);

    for (const auto &c : cases) {
        SCOPED_TRACE(c.Entry);
        std::unique_ptr<TCustomFractal> fractal;
        try {
            fractal = Import("FracImport_types.par", c.Entry);
        } catch (const std::exception &e) {
            ADD_FAILURE() << "import failed: " << e.what();
            continue;
        }
        ASSERT_EQ(fractal->GetLayers().Count(), 1);
        TLayer &layer = fractal->GetLayers().Items(0);
        EXPECT_EQ(LowerText(layer.GetFormula().GetEntryName()), c.Formula);
        ASSERT_EQ(layer.GetWidth(), 16);
        ASSERT_EQ(layer.GetHeight(), 12);
        ASSERT_EQ(layer.GetFormula().GetMaxIter(), TypeMaxIter);
        ASSERT_EQ(Describe(*fractal, "method"), "linear"); // every pixel calculated, none guessed
        ASSERT_EQ(Describe(*fractal, "transforms"), "ViewWindow");
        ASSERT_EQ(Describe(*fractal, "transform1.ar"), "0.75");
        ASSERT_EQ(Describe(*fractal, "outside"), "Fractint.ocl:outside");
        ASSERT_EQ(Describe(*fractal, "outside.outside"), "1");
        ASSERT_EQ(Describe(*fractal, "outside.smooth"), "no");
        ASSERT_EQ(Describe(*fractal, "inside.n"), "-1");

        TLayerImage &image = layer.GetImage();
        auto finished = [&] {
            if (!fractal->IsCalculationDone() || layer.GetCalculationState() != csIdle)
                return false;
            image.Lock();
            bool all = true;
            for (int y = 0; y < image.Height() && all; ++y)
                for (int x = 0; x < image.Width() && all; ++x)
                    all = image.Mode() != lmCode ||
                          *reinterpret_cast<const std::uint16_t *>(image.PixelPtr(x, y)) != UncalculatedCode;
            image.Unlock();
            return all;
        };
        ASSERT_TRUE(WaitUntil(finished))
            << "the layer did not finish: calculating count " << fractal->GetCalculatingCount()
            << ", layer state " << int(layer.GetCalculationState());
        EXPECT_EQ(layer.GetCalculationError(), "");
        ASSERT_EQ(image.Mode(), lmCode);

        // Pixel (x, y) is the left top corner plus x widths and y heights of a pixel.
        long double left, top, right, rightTop, bottom, topRight;
        layer.GetMapping().LeftTop.GetValue(left, top);
        layer.GetMapping().RightTop.GetValue(right, topRight);
        layer.GetMapping().RightBottom.GetValue(rightTop, bottom);
        ASSERT_EQ(top, topRight);
        ASSERT_EQ(right, rightTop);
        const long double stepX = (right - left) / 16, stepY = (top - bottom) / 12;

        int differing = 0, inside = 0, outside = 0;
        std::string shown; // the grid as counts, for a failure's report
        for (int y = 0; y < 12; ++y) {
            for (int x = 0; x < 16; ++x) {
                const TComplex pixel(static_cast<double>(left + x * stepX),
                                     static_cast<double>(top - y * stepY));
                const std::int32_t rounds = Reference(c.Type, c.Values, pixel, TypeMaxIter);
                const std::int32_t expected = rounds + 1;
                const std::uint16_t code = *reinterpret_cast<const std::uint16_t *>(image.PixelPtr(x, y));
                std::int32_t counted = -code;
                for (int k = 0; k < 256; ++k)
                    if (code == k * 399 / 255 * GradientStepsPerPosition)
                        counted = k;
                (rounds == TypeMaxIter ? inside : outside)++;
                if (counted != expected) {
                    ++differing;
                    if (differing <= 8)
                        ADD_FAILURE() << "pixel " << x << ", " << y << " at " << pixel << ": counted "
                                      << counted << ", defined " << expected;
                }
                shown += " " + std::to_string(counted);
            }
            shown += "\n";
        }
        EXPECT_LE(differing, c.Tolerated) << shown;
        // Both sides of the boundary are on the grid: a type that always or never leaves cannot
        // pass by accident.
        if (c.HasInside) {
            EXPECT_GT(inside, 0);
        }
        EXPECT_GT(outside, 20);
    }
}
