#include "CompCheckerTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "CompParams.h"

namespace {

using Kind = TTestFormulaKind;

// ---------------------------------------------------------------------------------------------
// Errors, at the place marked with a backquote

// A fractal formula's sections up to the one where SWITCH may follow.
#define CODE_SECTIONS "init:\nloop:\nbailout:\n|z| < 4\n"

const TErrorCase SettingErrorCases[] = {
    {"operator after an untyped default", Kind::Formula, "default:\nparam x\ndefault = 2 `* pi\nendparam",
     17},
    {"min above max", Kind::Formula, "default:\nint param n\nmin = `5\nmax = 1\nendparam", 35},
    {"float min above max", Kind::Formula, "default:\nparam f\ndefault = 1.5\nmin = `2.5\nmax = 2\nendparam",
     35},
    {"complex min above max in one part", Kind::Formula,
     "default:\nparam c\nmin = `(0, 2)\nmax = (1, 1)\nendparam", 35},
    {"min beyond the integers", Kind::Formula, "default:\nint param n\nmin = `1e20\nendparam", 29},
    {"max beyond the integers", Kind::Formula, "default:\nint param n\nmax = `-1e20\nendparam", 29},
    {"function default of a colour function", Kind::Formula,
     "default:\ncolor func f\n`default = sin()\nendfunc", 29},
    {"merge default of a plain function", Kind::Formula,
     "default:\nfunc f\n`default = mergenormal()\nendfunc", 29},
    {"non-selectable function default", Kind::Formula, "default:\nfunc f\n`default = real()\nendfunc", 29},
    {"endparam without param", Kind::Formula, "default:\n`endparam", 33},
    {"endparam in func", Kind::Formula, "default:\nfunc f\n`endparam", 33},
    {"endfunc without func", Kind::Formula, "default:\n`endfunc", 38},
    {"endheading without heading", Kind::Formula, "default:\n`endheading", 58},
    {"label inside param", Kind::Formula, "default:\nparam p\n`switch:", 34},
    {"text ends inside func", Kind::Formula, "default:\nfunc f`", 39},
    {"text ends inside heading", Kind::Formula, "default:\nheading`", 59},
    {"heading in builtin", Kind::Formula, "builtin:\n`heading", 14},
    {"heading in switch", Kind::Formula, CODE_SECTIONS "switch:\n`heading", 14},
    {"param in switch", Kind::Formula, CODE_SECTIONS "switch:\n`param p", 14},
    {"typed param in switch", Kind::Formula, CODE_SECTIONS "switch:\nfloat `param p", 14},
    {"param inside param", Kind::Formula, "default:\nparam p\n`param q", 31},
    {"func inside param", Kind::Formula, "default:\nparam p\n`func f", 34},
    {"param inside func", Kind::Formula, "default:\nfunc f\n`param p", 39},
    {"func inside func", Kind::Formula, "default:\nfunc f\ncolor `func g", 37},
    {"param inside heading", Kind::Formula, "default:\nheading\n`param p", 59},
    {"heading inside heading", Kind::Formula, "default:\nheading\n`heading", 57},
    {"heading inside param", Kind::Formula, "default:\nparam p\n`heading", 34},
    {"heading inside func", Kind::Formula, "default:\nfunc f\n`heading", 39},
    {"type keyword without param", Kind::Formula, "default:\nfloat `x", 53},
    {"func after int", Kind::Formula, "default:\nint `func f", 53},
    {"param without name", Kind::Formula, "default:\nparam `5", 32},
    {"func named by a symbol", Kind::Formula, "default:\nfunc `#z", 32},
    {"token after the param name", Kind::Formula, "default:\nparam p `q", 17},
    {"endparam with a token", Kind::Formula, "default:\nparam p\nendparam `x", 17},
    {"heading with a token", Kind::Formula, "default:\nheading `x", 17},
    {"caption followed by a token", Kind::Formula, "default:\nparam p\ncaption = \"A\" `x\nendparam", 17},
    {"string after the value", Kind::Formula, "default:\ntitle = \"T\" `\"U\"", 17},
    {"token after a signed literal", Kind::Formula, "default:\nmagn = -2 `3", 17},
    {"function default followed by a token", Kind::Formula, "default:\nfunc f\ndefault = sin() `x\nendfunc",
     17},
    {"setting without equals", Kind::Formula, "default:\n`maxiter 5", 30},
    {"boolean after a sign", Kind::Formula, "default:\nmaxiter = -`true", 3},
    {"word after a sign", Kind::Formula, "default:\nmaxiter = -`x", 11},
    {"nothing after a sign", Kind::Formula, "default:\nmaxiter = -`", 11},
    {"symbol as value", Kind::Formula, "default:\nmaxiter = `*", 11},
    {"keyword as value", Kind::Formula, "default:\nmaxiter = `if", 11},
    {"value of the wrong type", Kind::Formula, "default:\nmaxiter = `1.5", 19},
    {"value out of range", Kind::Formula, "default:\nmaxiter = `0", 5},
    {"negative value out of range", Kind::Formula, "default:\nmaxiter = `-3", 5},
    {"unknown setting", Kind::Formula, "default:\n`unknown = 1", 29},
    {"unknown string setting", Kind::Formula, "default:\n`unknown = \"a\"", 29},
    {"unknown setting in a block", Kind::Formula, "default:\nparam p\n`unknown = 1\nendparam", 29},
    {"caption that is a number", Kind::Formula, "default:\nparam p\n`caption = 1\nendparam", 29},
    {"enum in a func block", Kind::Formula, "default:\nfunc f\n`enum = \"a\"\nendfunc", 29},
    {"word as a parameter default", Kind::Formula, "default:\nparam p\ndefault = `x\nendparam", 11},
    {"word as a function default", Kind::Formula, "default:\nfunc f\ndefault = `x\nendfunc", 47},
    {"function default with an argument", Kind::Formula, "default:\nfunc f\ndefault = sin(`x)\nendfunc", 9},
    {"enum with a number", Kind::Formula, "default:\nparam p\nenum = \"a\" `3\nendparam", 44},
    {"empty enum", Kind::Formula, "default:\nparam p\nenum =`\nendparam", 44},
    {"enum of a float parameter", Kind::Formula, "default:\nparam p\ndefault = 1.5\nenum = `\"a\"\nendparam",
     19},
    {"enum of a typed complex parameter", Kind::Formula,
     "default:\nparam p\nenum = `\"a\"\nendparam\n"
     "complex param p\nenum = `\"a\"\nendparam",
     19},
    {"symbol named in a block", Kind::Formula, "default:\nparam p\n`#pixel = 1\nendparam", 29},
    {"symbol named outside a block", Kind::Formula, "default:\n`#pixel = 1", 29},
    {"symbol without equals", Kind::Formula, "default:\n`#pixel 1", 30},
    {"switch value missing", Kind::Formula, CODE_SECTIONS "switch:\n@p1 =`", 29},
    {"switch value not a name", Kind::Formula, CODE_SECTIONS "switch:\n`a = 3", 29},
    {"unknown method", Kind::Formula, "default:\n`method = fast", 29},
    {"setting of another kind of formula", Kind::Coloring, "default:\n`maxiter = 5", 29},
    {"default expression of the wrong type", Kind::Formula, "default:\ncolor param k\ndefault = `1\nendparam",
     19},
    {"default expression reading a variable", Kind::Formula,
     "init:\nfloat v = 1\ndefault:\nfloat param x\ndefault = `v\nendparam", 50},
    {"setting expression reading a variable", Kind::Formula, "init:\nint v = 1\ndefault:\nprecision = `v",
     50},
};

class SettingErrors : public CheckerTest, public testing::WithParamInterface<TErrorCase> {};

TEST_P(SettingErrors, ReportCodeAndPlace) {
    ExpectErrorAtMark(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Table, SettingErrors, testing::ValuesIn(SettingErrorCases),
                         [](const testing::TestParamInfo<TErrorCase> &Info) {
                             return CaseName(Info.param.Name);
                         });

// ---------------------------------------------------------------------------------------------
// Parameters

std::string Number(long double Value) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.10Lg", Value);
    return text;
}

// A parameter as text: its class, value, default, bounds, entries, caption and hint.
std::string Describe(const TParam &Param) {
    std::string text;
    if (auto p = dynamic_cast<const TComplexParam *>(&Param)) {
        auto pair = [](long double Re, long double Im) { return "(" + Number(Re) + "," + Number(Im) + ")"; };
        text = "complex " + pair(p->Value.Re.GetValue(), p->Value.Im.GetValue()) + " default " +
               pair(p->Default.Re.GetValue(), p->Default.Im.GetValue());
        if (p->HasMin)
            text += " min " + pair(p->MinRe, p->MinIm);
        if (p->HasMax)
            text += " max " + pair(p->MaxRe, p->MaxIm);
    } else if (auto p = dynamic_cast<const TFloatParam *>(&Param)) {
        text = "float " + Number(p->Value.GetValue()) + " default " + Number(p->Default.GetValue());
        if (p->HasMin)
            text += " min " + Number(p->Min);
        if (p->HasMax)
            text += " max " + Number(p->Max);
    } else if (auto p = dynamic_cast<const TIntParam *>(&Param)) {
        text = "int " + std::to_string(p->GetValue()) + " default " + std::to_string(p->Default);
        if (p->HasMin)
            text += " min " + std::to_string(p->Min);
        if (p->HasMax)
            text += " max " + std::to_string(p->Max);
        for (int i = 0; i < p->Enum.Count(); i++)
            text += (i ? "|" : " enum ") + p->Enum.Strings(i);
    } else if (auto p = dynamic_cast<const TBoolParam *>(&Param)) {
        text = "bool " + std::to_string(p->GetValue()) + " default " + std::to_string(p->Default);
    } else if (auto p = dynamic_cast<const TColorParam *>(&Param)) {
        text = "color " + std::to_string(p->GetValue()) + " default " + std::to_string(p->Default);
    } else if (auto p = dynamic_cast<const TColorFuncParam *>(&Param)) {
        text = "colorfunc " + std::to_string(p->GetValue()) + " default " + std::to_string(p->Default);
    } else if (auto p = dynamic_cast<const TFuncParam *>(&Param)) {
        text = "func " + std::to_string(p->GetValue()) + " default " + std::to_string(p->Default);
    } else if (dynamic_cast<const THeadingParam *>(&Param)) {
        text = "heading";
    }
    // A parameter's caption is its name until a caption is set.
    if (Param.GetCaption() != Param.GetName())
        text += " caption '" + Param.GetCaption() + "'";
    if (!Param.Hint.empty())
        text += " hint '" + Param.Hint + "'";
    return Param.GetName() + ": " + text;
}

struct TParamCase {
    const char *Block;
    const char *Param;
};

const TParamCase ParamCases[] = {
    {"param p\nendparam", "p: complex (0,0) default (0,0)"},
    {"param p\nenum = \"a\" \"b\"\nendparam", "p: int 0 default 0 enum a|b"},
    {"param p\nenum = \"a\" \"b\"\ndefault = 5\nendparam", "p: int 0 default 0 enum a|b"},
    {"param p\ndefault = 1\nenum = \"a\" \"b\"\nmin = 5\nendparam", "p: int 1 default 1 enum a|b"},
    {"int param n\nmin = 1.5\nendparam", "n: int 2 default 2 min 2"},
    {"int param n\nmin = 2.5\nendparam", "n: int 2 default 2 min 2"},
    {"int param n\nmin = -0.5\nmax = (3.5, 9)\nendparam", "n: int 0 default 0 min 0 max 4"},
    {"int param n\nmax = -2.5e0\nendparam", "n: int -2 default -2 max -2"},
    {"int param n\nmin = true\nendparam", "n: int 0 default 0"},
    {"float param f\nmin = (1.5, 3)\nmax = 4\nendparam", "f: float 1.5 default 1.5 min 1.5 max 4"},
    {"param c\ndefault = (1, 2)\nmin = 0\nmax = (3, 4)\nendparam",
     "c: complex (1,2) default (1,2) min (0,0) max (3,4)"},
    {"param c\ndefault = -(1, 2)\nendparam", "c: complex (-1,-2) default (-1,-2)"},
    {"param d\ndefault = -2.5\nendparam", "d: float -2.5 default -2.5"},
    {"param i\ndefault = 3\nmax = 2\nendparam", "i: int 2 default 2 max 2"},
    {"param b\ndefault = true\nendparam", "b: bool 1 default 1"},
    {"bool param b\nmin = 1\nendparam", "b: bool 0 default 0"},
    {"color param k\nmax = 1\nendparam", "k: color 0 default 0"},
    {"color func m\nendfunc", "m: colorfunc 49 default 49"},
    {"color func m\ndefault = mergescreen()\nendfunc", "m: colorfunc 51 default 51"},
    {"func f\ndefault = cos()\nendfunc", "f: func 4 default 4"},
    {"complex func f\nendfunc", "f: func 0 default 0"},
    {"func fn2\nendfunc", "fn2: func 0 default 0 caption 'Function 2'"},
    {"param p\ncaption = \"Cap\"\nhint = \"Hi\"\nendparam",
     "p: complex (0,0) default (0,0) caption 'Cap' hint 'Hi'"},
    {"heading\ncaption = \"A\"\nhint = \"H\"\nendheading", "~~0: heading caption 'A' hint 'H'"},
};

class SettingParams : public CheckerTest, public testing::WithParamInterface<TParamCase> {};

TEST_P(SettingParams, BuildTheParameter) {
    const TParamCase &c = GetParam();
    TCheckResult result = Compile(std::string("default:\n") + c.Block);
    ASSERT_EQ(result.Error.Code, 0) << c.Block << " " << result.Error;
    ASSERT_EQ(Formula->GetParams().GetCount(), 1) << c.Block;
    EXPECT_EQ(Describe(*Formula->GetParams().GetItem(0)), c.Param) << c.Block;
}

INSTANTIATE_TEST_SUITE_P(Table, SettingParams, testing::ValuesIn(ParamCases));

std::vector<std::string> ParamNames(const TParamList &Params) {
    std::vector<std::string> names;
    for (int i = 0; i < Params.GetCount(); i++)
        names.push_back(Params.GetItem(i)->GetName());
    return names;
}

TEST_F(CheckerTest, ParametersFollowTheOrderOfTheirEndAndLaterBlocksReplaceEarlierOnes) {
    TCheckResult result =
        Compile("default:\nparam a\nendparam\nheading\nendheading\nfunc a\nendfunc\nparam b\n"
                "endparam\nheading\nendheading\nparam a\ndefault = 1\nendparam");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    const std::vector<std::string> expected = {"~~0", "a", "b", "~~1", "a"};
    EXPECT_EQ(ParamNames(Formula->GetParams()), expected);
    // The function of the same name stays; the ordinary parameter is the later, integer one.
    EXPECT_EQ(Formula->GetParams().GetItem(1)->Type, vtFunction);
    EXPECT_EQ(Formula->GetParams().GetItem(4)->Type, vtInteger);
}

TEST_F(CheckerTest, HeadingCountersStartAgainInEverySection) {
    // Only one section allows blocks in a formula; the counter belongs to the section and starts
    // at 0, so a second compile of the same object names its headings the same way.
    for (int round = 0; round < 2; round++) {
        TCheckResult result = Compile("default:\nheading\nendheading\nheading\nenabled = false\nendheading");
        ASSERT_EQ(result.Error.Code, 0) << result.Error;
        const std::vector<std::string> expected = {"~~0", "~~1"};
        EXPECT_EQ(ParamNames(Formula->GetParams()), expected);
        const std::vector<std::string> statements = Formula->Statements();
        EXPECT_NE(std::find(statements.begin(), statements.end(), "enabled ~~1:b False"), statements.end());
    }
}

// ---------------------------------------------------------------------------------------------
// Settings that go to the formula class or become statements

TEST_F(CheckerTest, SimpleSettingsReachTheFormulaClass) {
    TCheckResult result = Compile(CODE_SECTIONS "default:\ntitle = \"My title\"\nmaxiter = 250\nmagn = -2\n"
                                                "center = (1, -0.5)\nmethod = Guessing\nrender = true\n"
                                                "if z == 1\nswitch:\ntype = \"Other\"\n@p1 = pixel\nb = @c");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    const std::map<std::string, std::string> expected = {{"DEFAULT.TITLE", "My title"},
                                                         {"DEFAULT.MAXITER", "250"},
                                                         {"DEFAULT.MAGN", "-2"},
                                                         {"DEFAULT.CENTER", "(1,-0.5)"},
                                                         {"DEFAULT.METHOD", "GUESSING"},
                                                         {"DEFAULT.RENDER", "True"},
                                                         {"SWITCH.TYPE", "Other"},
                                                         {"SWITCH.P1", ""},
                                                         {"SWITCH.B", "c"}};
    EXPECT_EQ(Formula->Rules.Values, expected);
}

TEST_F(CheckerTest, ExpressionSettingsBecomeCheckedStatements) {
    TCheckResult result = Compile("default:\nprecision = 2 * 10\nfloat param x\ndefault = 2 * pi\n"
                                  "visible = @n > 1\nendparam\nint param n\nenabled = true\nendparam\n"
                                  "color func m\nenabled = @n == 2\nendfunc");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    const std::vector<std::string> expected = {
        "label INIT 2",
        "default x:f (* tofloat(2):f #3:f):f",
        "enabled m:b (== @n:i 2):b",
        "enabled n:b True",
        "visible x:b (> @n:i 1):b",
        "setting PRECISION:i (* 2 10):i",
    };
    EXPECT_EQ(Formula->Statements(), expected);
}

TEST_F(CheckerTest, OtherKeywordsInSettingsAreIgnored) {
    TCheckResult result = Compile("default:\nif x == 1\nwhile true\nendif\nrepeat");
    EXPECT_EQ(result.Error.Code, 0) << result.Error;
    EXPECT_EQ(Formula->GetParams().GetCount(), 0);
}

TEST_F(CheckerTest, AFailedBlockAddsNoParameter) {
    TCheckResult result = Compile("default:\nparam a\nendparam\nint param a\nmin = 5\nmax = 1\nendparam");
    EXPECT_EQ(result.Error.Code, 35);
    ASSERT_EQ(Formula->GetParams().GetCount(), 1);
    EXPECT_EQ(Formula->GetParams().GetItem(0)->Type, vtComplex);
}

} // namespace
