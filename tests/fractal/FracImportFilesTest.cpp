// The formula files that the Fractint importer opens: every entry compiles, declares the parameters
// the importer sets by name with the types it sets them as, and a few types iterate exactly as a
// direct implementation of the same definitions (below, in plain C++) does.
#include <complex>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "CompMessages.h"
#include "CompParams.h"
#include "FracColoring.h"
#include "FracContext.h"
#include "FracFormula.h"
#include "FracMapping.h"
#include "FracTestSupport.h"
#include "FracTransform.h"
#include "FractintReference.h"

namespace {

std::string ShippedFile(const char *Name) {
    return std::string(TEST_DATA_DIR) + "..\\resources\\formulas\\" + Name;
}

// The compiler's messages of the last compile, one line each, for a failure's report.
std::string Messages() {
    std::string text;
    for (int i = 0; i < ErrorManager()->GetCount(); ++i) {
        const TCompilerMessage message = ErrorManager()->GetMessage(i);
        text += std::to_string(message.Line + 1) + ":" + std::to_string(message.Column + 1) + " " +
                message.Text + "\n";
    }
    return text;
}

enum : std::uint8_t { Complex = 0, Float = 1, Int = 2, Bool = 3, Func = 7 };

struct TExpectedParam {
    const char *Name;
    std::uint8_t Type;
};

// The parameters of an object in list order as "name:type" items, for comparing with a table.
std::string ParamList(const TFormulaBase &Object) {
    std::string text;
    for (int i = 0; i < Object.GetParams().GetCount(); ++i) {
        const TParam &param = *Object.GetParams().GetItem(i);
        text += param.GetName() + ":" + std::to_string(param.Type) + " ";
    }
    return text;
}

std::string Expected(std::initializer_list<TExpectedParam> Params) {
    std::string text;
    for (const TExpectedParam &param : Params)
        text += std::string(param.Name) + ":" + std::to_string(param.Type) + " ";
    return text;
}

std::unique_ptr<TFormula> CompileType(const std::string &Entry) {
    auto formula = std::make_unique<TFormula>();
    formula->SetPrecision(pmDouble);
    ErrorManager()->SetFormula(formula.get());
    formula->SetSource(ShippedFile("Fractint.ofm"), Entry);
    return formula;
}

// A context whose coloring INIT and FINAL cells hold an empty routine.
class TTypeRun : public TFormulaContext {
public:
    TTypeRun(const TFormula &AFormula, std::int32_t MaxIter) : TFormulaContext(AFormula) {
        Empty.EmitReturn();
        TPixelContext &context = Block.Common();
        for (TContextCode *cell :
             {&context.InsideInit, &context.InsideFinal, &context.OutsideInit, &context.OutsideFinal})
            *cell = reinterpret_cast<TContextCode>(Empty.GetCode());
        Start(MaxIter);
    }
    TRoutineAssembler Empty;
};

constexpr std::int32_t MaxIter = 100;

// The importer matches the "params" numbers to the parameters in list order (two numbers for a
// complex one) and only then reaches bailout and test, so every entry declares p1, p2, ... first.
TEST(FractintFiles, EveryTypeCompilesWithTheParametersTheImporterSets) {
    const TExpectedParam bailout = {"bailout", Float}, test = {"test", Int}, axis = {"axis", Int};
    const TExpectedParam p1 = {"p1", Complex}, p2 = {"p2", Complex};
    const TExpectedParam fn1 = {"fn1", Func}, fn2 = {"fn2", Func};
    const struct {
        const char *Entry;
        std::string Params;
    } types[] = {
        {"mandel", Expected({p1, bailout, test})},
        {"julia", Expected({p1, bailout, test})},
        {"newton", Expected({p1})},
        {"newtbasin", Expected({p1})},
        {"complexnewton", Expected({p1, p2})},
        {"complexbasin", Expected({p1, p2})},
        {"lambda", Expected({p1, bailout, test})},
        {"mandellambda", Expected({p1, bailout, test})},
        {"manowar", Expected({p1, bailout, test})},
        {"manowarj", Expected({p1, bailout, test})},
        {"spider", Expected({p1, bailout, test})},
        {"phoenix", Expected({p1, p2, bailout, test})},
        {"mandphoenix", Expected({p1, p2, bailout, test})},
        {"barnsleym1", Expected({p1, bailout, test})},
        {"barnsleyj1", Expected({p1, bailout, test})},
        {"barnsleym2", Expected({p1, bailout, test})},
        {"barnsleyj2", Expected({p1, bailout, test})},
        {"barnsleym3", Expected({p1, bailout, test})},
        {"barnsleyj3", Expected({p1, bailout, test})},
        {"sierpinski", Expected({bailout, test})},
        {"magnet1m", Expected({p1, bailout, test})},
        {"magnet1j", Expected({p1, bailout, test})},
        {"magnet2m", Expected({p1, bailout, test})},
        {"magnet2j", Expected({p1, bailout, test})},
        {"marksmandel", Expected({p1, p2, bailout, test})},
        {"marksjulia", Expected({p1, p2, bailout, test})},
        {"unity", ""},
        {"tetrate", Expected({p1, bailout, test})},
        {"mandelfn", Expected({p1, bailout, axis, fn1})},
        {"lambdafn", Expected({p1, bailout, axis, fn1})},
        {"fn*fn", Expected({bailout, test, fn1, fn2})},
        {"fn+fn", Expected({p1, p2, bailout, test, fn1, fn2})},
        {"sqr[fn]", Expected({bailout, test, fn1})},
        {"sqr[1/fn]", Expected({bailout, test, fn1})},
        {"fn[z*z]", Expected({bailout, test, fn1})},
        {"fn*z+z", Expected({p1, p2, bailout, test, fn1})},
        {"fn[z]+fn[pix]", Expected({p1, p2, bailout, test, fn1, fn2})},
        {"julfn+zsqrd", Expected({p1, bailout, test, fn1})},
        {"manfn+zsqrd", Expected({p1, bailout, test, fn1})},
        {"julfn+exp", Expected({p1, bailout, test, fn1})},
        {"manfn+exp", Expected({p1, bailout, test, fn1})},
        {"manzpower", Expected({p1, p2, bailout, test})},
        {"julzpower", Expected({p1, p2, bailout, test})},
        {"manzzpwr", Expected({p1, p2, bailout, test})},
        {"julzzpwr", Expected({p1, p2, bailout, test})},
    };
    for (const auto &type : types) {
        SCOPED_TRACE(type.Entry);
        auto formula = CompileType(type.Entry);
        ASSERT_FALSE(formula->GetHasError()) << Messages();
        EXPECT_GT(formula->GetPixelRoutine().GetSize(), 0);
        EXPECT_EQ(ParamList(*formula), type.Params);
        // The code runs over a coarse grid with the entry's defaults; every pixel ends.
        TTypeRun run(*formula, MaxIter);
        for (int row = 0; row < 6; ++row)
            for (int column = 0; column < 8; ++column) {
                const std::int32_t done = run.Iterate(-2 + column * 0.5 + 0.25, 1.5 - row * 0.5 - 0.25);
                EXPECT_GE(done, 0);
                EXPECT_LE(done, MaxIter);
            }
    }
}

TEST(FractintFiles, ColoringsAndTransformationsCompileWithTheirParameters) {
    const struct {
        const char *Entry;
        std::string Params;
    } colorings[] = {
        {"inside", Expected({{"inside", Int}, {"n", Int}, {"smooth", Bool}})},
        {"outside", Expected({{"outside", Int},
                              {"n", Int},
                              {"logmap", Int},
                              {"biomorph", Int},
                              {"limit", Float},
                              {"smooth", Bool}})},
        {"decomp", Expected({{"decomp", Int}, {"logmap", Int}, {"smooth", Bool}})},
        {"potential", Expected({{"maxcol", Int}, {"slope", Float}, {"logmap", Int}, {"smooth", Bool}})},
    };
    for (const auto &coloring : colorings) {
        for (std::uint8_t side : {0, 1}) {
            SCOPED_TRACE(testing::Message() << coloring.Entry << ", side " << int(side));
            TColoring object(side);
            object.SetPrecision(pmDouble);
            ErrorManager()->SetFormula(&object);
            object.SetSource(ShippedFile("Fractint.ocl"), coloring.Entry);
            ASSERT_FALSE(object.GetHasError()) << Messages();
            EXPECT_EQ(ParamList(object), coloring.Params);
        }
    }
    const struct {
        const char *Entry;
        std::string Params;
    } transforms[] = {
        {"ViewWindow", Expected({{"ar", Float}})},
        {"SkewStretch", Expected({{"xmag", Float}, {"skew", Float}})},
        {"Inverse", Expected({{"radius", Float}, {"center", Complex}})},
    };
    for (const auto &transform : transforms) {
        SCOPED_TRACE(transform.Entry);
        TTransform object;
        object.SetPrecision(pmDouble);
        ErrorManager()->SetFormula(&object);
        object.SetSource(ShippedFile("Fractint.oxf"), transform.Entry);
        ASSERT_FALSE(object.GetHasError()) << Messages();
        EXPECT_EQ(ParamList(object), transform.Params);
    }
}

// Rounds that did not end the loop, at most MaxIter: the count the pixel routine reports.
using TStep = std::function<void(TComplex &Z)>;
std::int32_t Escape(TComplex Z, const TStep &Step, int Test = 0, double Bailout = 4,
                    bool LeavesAtOne = false) {
    for (std::int32_t n = 0; n < MaxIter; ++n) {
        Step(Z);
        if (!Stays(Z, Test, Bailout) || (LeavesAtOne && std::norm(Z - 1.0) < 1.0 / 1073741824))
            return n;
    }
    return MaxIter;
}

std::int32_t Reference(const std::string &Type, TComplex Pixel, int Test) {
    if (Type == "mandel") // z(1) = c is not tested: the first round gives z(2)
        return Escape(
            Pixel, [&](TComplex &z) { z = Sqr(z) + Pixel; }, Test);
    if (Type == "julia")
        return Escape(
            Pixel, [&](TComplex &z) { z = Sqr(z) + TComplex(-0.12, 0.75); }, Test);
    if (Type == "lambda")
        return Escape(
            Pixel, [&](TComplex &z) { z = Mul(Mul(TComplex(0.85, 0.6), z), 1.0 - z); }, Test);
    if (Type == "barnsleym1")
        return Escape(
            Pixel, [&](TComplex &z) { z = Mul(z.real() >= 0 ? z - 1.0 : z + 1.0, Pixel); }, Test);
    if (Type == "magnet1m")
        return Escape(
            0, [&](TComplex &z) { z = Sqr((Sqr(z) + Pixel - 1.0) / (2.0 * z + Pixel - 2.0)); }, Test, 100,
            true);
    if (Type == "phoenix") {
        TComplex y = 0;
        return Escape(
            Pixel,
            [&](TComplex &z) {
                const TComplex old = z;
                z = Sqr(z) + 0.56667 + -0.5 * y;
                y = old;
            },
            Test);
    }
    // newton, degree 3: z - (z^3 - 1) / (3 z^2); each z is tested before it steps, and the orbit
    // ends once |z^3 - 1|^2 < 0.2, close to a root.
    TComplex z = Pixel;
    for (std::int32_t n = 0; n < MaxIter; ++n) {
        const TComplex square = Mul(z, z);
        if (std::norm(Mul(square, z) - 1.0) < 0.2)
            return n;
        z = z - (Mul(square, z) - 1.0) / (3.0 * square);
    }
    return MaxIter;
}

// The x87 code keeps intermediate values in 80 bits where the reference rounds each to double, so
// a pixel right at the edge of a band may end one round apart; a handful of such pixels is allowed,
// a wrong formula differs in many.
TEST(FractintFiles, TypesIterateAsTheirDefinitions) {
    const struct {
        const char *Entry;
        double XMin, XMax, YMin, YMax;
        int Tests; // bailout tests checked: 0 .. Tests - 1
    } types[] = {
        {"mandel", -2.2, 0.8, -1.2, 1.2, 7},   {"julia", -1.6, 1.6, -1.2, 1.2, 1},
        {"lambda", -0.5, 1.5, -0.75, 0.75, 1}, {"newton", -2, 2, -1.5, 1.5, 1},
        {"phoenix", -1.6, 1.6, -1.2, 1.2, 1},  {"barnsleym1", -2, 2, -1.5, 1.5, 1},
        {"magnet1m", -1, 3, -1.5, 1.5, 1},
    };
    constexpr int Columns = 16, Rows = 12;
    for (const auto &type : types) {
        auto formula = CompileType(type.Entry);
        ASSERT_FALSE(formula->GetHasError()) << type.Entry << "\n" << Messages();
        for (int test = 0; test < type.Tests; ++test) {
            SCOPED_TRACE(testing::Message() << type.Entry << ", bailout test " << test);
            if (type.Tests > 1) {
                const int index = formula->GetParams().IndexOfName("test", 1);
                ASSERT_GE(index, 0);
                static_cast<TIntParam *>(formula->GetParams().GetItem(index))->SetValue(test);
            }
            if (std::string(type.Entry) == "julia") {
                // A seed of a connected set, so that the grid has pixels inside.
                const int index = formula->GetParams().IndexOfName("p1", 1);
                ASSERT_GE(index, 0);
                static_cast<TComplexParam *>(formula->GetParams().GetItem(index))
                    ->Value.SetText("-0.12", "0.75");
            }
            TTypeRun run(*formula, MaxIter);
            int differing = 0, escaping = 0, staying = 0;
            for (int row = 0; row < Rows; ++row)
                for (int column = 0; column < Columns; ++column) {
                    const double x = type.XMin + (column + 0.5) * (type.XMax - type.XMin) / Columns;
                    const double y = type.YMax - (row + 0.5) * (type.YMax - type.YMin) / Rows;
                    const std::int32_t expected = Reference(type.Entry, {x, y}, test);
                    const std::int32_t done = run.Iterate(x, y);
                    if (done != expected) {
                        ++differing;
                        EXPECT_LE(std::abs(done - expected), 1) << x << ", " << y;
                    }
                    (expected == MaxIter ? staying : escaping)++;
                }
            EXPECT_LE(differing, 3);
            // The grid shows both sides of the boundary, so a formula that never (or always) leaves
            // cannot pass by accident.
            EXPECT_GT(escaping, 10);
            if (std::string(type.Entry) != "newton") {
                EXPECT_GT(staying, 0);
            }
        }
    }
}

// Sets a parameter of an object by name from a text, as its type reads it.
void SetParam(TFormulaBase &Object, const std::string &Name, const std::string &Text) {
    const int index = Object.GetParams().IndexOfName(Name, 1);
    ASSERT_GE(index, 0) << Name;
    TParam *param = Object.GetParams().GetItem(index);
    if (auto *integer = dynamic_cast<TIntParam *>(param))
        integer->SetValue(std::stoi(Text));
    else if (auto *boolean = dynamic_cast<TBoolParam *>(param))
        boolean->SetValue(Text == "true");
    else if (auto *real = dynamic_cast<TFloatParam *>(param))
        real->Value.SetText(Text);
    else
        FAIL() << Name << " has no simple type";
}

// The colorings' results on the mandel type for pixels whose orbits are known: c = 0.5 leaves
// in the 4th step from z(1) = c at z = 3.1533355712890625 (Fractint's count 4), c = -0.5 + 0.9i in
// the 2nd at z = -0.92112304 + 2.02248i (angle 1.99816688454028 radians), c = 0 never leaves and
// stays at 0. Index k of the 256-colour palette is the gradient position floor(k * 399 / 255) /
// 400, k * 399 / 255 / 400 when smooth; the values were worked out by hand and checked with Python.
TEST(FractintFiles, ColoringsGiveThePaletteIndexOfTheirMode) {
    constexpr double Pi = 3.14159265358979323846;
    const struct {
        const char *Entry;
        std::uint8_t Side;
        std::vector<std::pair<std::string, std::string>> Params;
        double Re, Im;
        double Index; // the palette index
        bool Smooth = false;
    } cases[] = {
        {"outside", 1, {{"outside", "1"}}, 0.5, 0, 4},
        {"outside", 1, {{"outside", "2"}}, 0.5, 0, 4 + 7 + 3}, // plus 7 and the truncated real part
        {"outside", 1, {{"outside", "0"}, {"n", "7"}}, 0.5, 0, 7},
        {"outside", 1, {{"biomorph", "9"}}, 0.5, 0, 9}, // the imaginary part 0 is below 2
        {"outside", 1, {{"biomorph", "9"}, {"limit", "0"}}, 0.5, 0, 4},
        {"decomp", 1, {{"decomp", "1"}, {"smooth", "false"}}, -0.5, 0.9, 2}, // sector 1 of 4
        {"decomp", 1, {{"decomp", "1"}}, -0.5, 0.9, 1.99816688454028 / (2 * Pi) * 4 + 1, true},
        {"potential", 1, {}, 0.5, 0, 35.30915974356705, true},
        {"inside", 0, {{"n", "5"}}, 0, 0, 5},
        {"inside", 0, {{"n", "-1"}}, 0, 0, MaxIter + 1}, // Fractint's maxiter
        {"inside", 0, {{"inside", "1"}, {"n", "5"}}, 0, 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.Entry << " at " << c.Re << ", " << c.Im);
        TColoring inside(0), outside(1);
        TColoring &coloring = c.Side == 0 ? inside : outside;
        coloring.SetPrecision(pmDouble);
        coloring.GetConstants().SetMaxIter(MaxIter); // as the layer hands it on
        ErrorManager()->SetFormula(&coloring);
        coloring.SetSource(ShippedFile("Fractint.ocl"), c.Entry);
        ASSERT_FALSE(coloring.GetHasError()) << Messages();
        for (const auto &[name, value] : c.Params)
            SetParam(coloring, name, value);
        auto formula = CompileType("mandel");
        formula->SetColorings(&inside, &outside);
        TFormulaContext run(*formula);
        inside.SetupContext(run.Block.Bytes());
        outside.SetupContext(run.Block.Bytes());
        run.Start(MaxIter);
        run.Iterate(c.Re, c.Im);
        const double position = c.Smooth ? c.Index * 399 / 255 : std::floor(c.Index * 399 / 255);
        EXPECT_NEAR(static_cast<double>(run.Block.ReadValue(run.Block.Values().Index)), position / 400, 1e-9);
        outside.ReleaseContext(run.Block.Bytes());
        inside.ReleaseContext(run.Block.Bytes());
    }
}

// Each view correction moves a mapped point as its definition says: the point the mapping gives
// without it is taken as the input.
TEST(FractintFiles, TransformationsMoveThePointAsDefined) {
    using TMove = TComplex (*)(TComplex);
    const struct {
        const char *Entry;
        std::vector<std::pair<std::string, std::string>> Params;
        TMove Expected;
    } cases[] = {
        {"ViewWindow", {{"ar", "1.5"}}, [](TComplex p) { return p * 0.5; }},
        {"ViewWindow", {{"ar", "0.5"}}, [](TComplex p) { return p; }},
        {"SkewStretch",
         {{"xmag", "2"}, {"skew", "45"}},
         [](TComplex p) { return TComplex(p.real() / 2 + p.imag(), p.imag()); }},
        {"Inverse",
         {{"radius", "2"}},
         [](TComplex p) { return 2.0 * p / std::norm(p); }}, // about the default centre 0
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.Entry);
        TMapping mapping;
        mapping.SetWidth(11);
        mapping.SetHeight(11);
        mapping.AddTransformationEntry(ShippedFile("Fractint.oxf"), c.Entry);
        ASSERT_EQ(mapping.GetTransformations().GetCount(), 1);
        TTransform &transform = mapping.GetTransformations().GetItem(0);
        ASSERT_FALSE(transform.GetHasError());
        for (const auto &[name, value] : c.Params)
            SetParam(transform, name, value);
        for (const auto &[x, y] : {std::pair{2, 3}, std::pair{9, 1}, std::pair{7, 8}}) {
            TComplex points[2];
            for (bool enabled : {false, true}) {
                transform.SetEnabled(enabled);
                TPixelContextBlock block(pmDouble);
                mapping.InitContext(block.Bytes());
                block.Common().X = x;
                block.Common().Y = y;
                EXPECT_EQ(mapping.MapPixel(block.Bytes(), nullptr), 0);
                points[enabled] = {block.At<double>(block.Values().Pixel),
                                   block.At<double>(block.Values().Pixel + 8)};
                mapping.DoneContext(block.Bytes());
            }
            const TComplex expected = c.Expected(points[0]);
            EXPECT_NEAR(points[1].real(), expected.real(), 1e-12) << x << ", " << y;
            EXPECT_NEAR(points[1].imag(), expected.imag(), 1e-12) << x << ", " << y;
        }
    }
}

} // namespace
