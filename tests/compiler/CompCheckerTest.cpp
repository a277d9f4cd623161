#include "CompCheckerTestSupport.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "CompEntriesTestSupport.h"
#include "CompMessages.h"
#include "CompParams.h"
#include "GenRegistry.h"
#include "GenSetup.h"
#include "GenProgram.h"

namespace {

using Kind = TTestFormulaKind;

// ---------------------------------------------------------------------------------------------
// Errors: code and place, the place marked with a backquote in the text

const TErrorCase ErrorCases[] = {
    {"second bailout expression", Kind::Formula, "init:\nz = 0\nloop:\nz = z*z\nbailout:\n|z| < 4\n|z| `< 8",
     20},
    {"elseif without if", Kind::Formula, "`elseif z == 1\nendif", 22},
    {"else after else", Kind::Formula, "if z == 1\nelse\n`else\nendif", 23},
    {"elseif after else", Kind::Formula, "if z == 1\nelse\n`elseif z == 2\nendif", 23},
    {"elseif in while", Kind::Formula, "while z == 1\n`elseif z == 2\nendwhile", 41},
    {"else without if", Kind::Formula, "`else", 24},
    {"else in repeat", Kind::Formula, "repeat\n`else\nuntil z == 1", 43},
    {"endif without if", Kind::Formula, "`endif", 25},
    {"endif in while", Kind::Formula, "while z == 1\n`endif\nendwhile", 41},
    {"endif in repeat", Kind::Formula, "repeat\n`endif\nuntil z == 1", 43},
    {"endwhile in if", Kind::Formula, "if z == 1\n`endwhile\nendif", 26},
    {"endwhile without while", Kind::Formula, "`endwhile", 40},
    {"endwhile in repeat", Kind::Formula, "repeat\n`endwhile\nuntil z == 1", 43},
    {"until without repeat", Kind::Formula, "`until z == 1", 42},
    {"until in while", Kind::Formula, "while z == 1\n`until z == 1\nendwhile", 41},
    {"until in else", Kind::Formula, "if z == 1\nelse\n`until z == 1\nendif", 26},
    {"label inside while", Kind::Formula, "init:\nwhile z == 1\n`loop:\nendwhile", 41},
    {"label inside if", Kind::Formula, "init:\nif z == 1\n`loop:\nendif", 26},
    {"label inside repeat", Kind::Formula, "init:\nrepeat\n`loop:\nuntil z == 1", 43},
    {"text ends inside if", Kind::Formula, "if z == 1\nz = 2`", 26},
    {"text ends inside repeat", Kind::Formula, "repeat\nz = 2`", 43},
    {"declared twice", Kind::Formula, "float x\nfloat `x", 21},
    {"declared again with another type", Kind::Formula, "float x\nint `x = 1", 21},
    {"declaration of a predefined symbol", Kind::Formula, "`float #z", 15},
    {"global written in loop", Kind::Formula,
     "global:\nfloat g = 1\ninit:\nz = g\nloop:\n`g = 2\nbailout:\n|z| < 4", 51},
    {"parameter written in global", Kind::Formula, "global:\n`@p = 1\ninit:\nz = @p", 52},
    {"symbol not readable in global", Kind::Formula, "global:\nfloat g = `#pixel\ninit:\nz = 0", 45},
    {"symbol not writable", Kind::Formula, "`#pixel = 1", 46},
    {"declaration of a symbol with its own type", Kind::Formula, "float `#z = 1", 19},
    {"colour written after index", Kind::Coloring, "#index = 1\n`#color = rgb(1, 0, 0)", 46},
    {"index written after colour", Kind::Coloring, "#color = rgb(1, 0, 0)\n`#index = 1", 46},
    {"parameter in a default setting", Kind::Formula, "default:\nfloat param x\ndefault = `@y\nendparam", 65},
    {"function parameter in a default setting", Kind::Formula,
     "default:\nfloat param x\ndefault = real(`fn1(1))\nendparam", 65},
    {"variable in a dimension", Kind::Formula, "int n = 2\nfloat a[`n]", 50},
    {"written parameter in a later dimension", Kind::Formula, "@n = 2\nfloat a[`@n]", 50},
    {"non-constant symbol in a dimension", Kind::Formula, "float a[`#x]", 50},
    {"assignment in a dimension", Kind::Formula, "int n\nfloat a[`n = 2]", 50},
    {"keyword in a setting", Kind::Formula, "default:\nprecision = `float x", 50},
    {"too many indices", Kind::Formula, "float a[2]\nz = `a[1, 1]", 49},
    {"index on a scalar", Kind::Formula, "`a[1] = 2", 49},
    {"left side not assignable", Kind::Formula, "a `+ b = c", 16},
    {"literal on the left side", Kind::Formula, "`1 = z", 16},
    {"repeat as the bailout", Kind::Formula, "init:\nloop:\nbailout:\n`repeat", 14},
    {"else as the bailout", Kind::Formula, "init:\nloop:\nbailout:\n`else", 24},
    {"keyword as an operand", Kind::Formula, "init:\nz = (`float x)", 14},
};

class CheckerErrors : public CheckerTest, public testing::WithParamInterface<TErrorCase> {};

TEST_P(CheckerErrors, ReportCodeAndPlace) {
    ExpectErrorAtMark(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Table, CheckerErrors, testing::ValuesIn(ErrorCases),
                         [](const testing::TestParamInfo<TErrorCase> &Info) {
                             return CaseName(Info.param.Name);
                         });

// ---------------------------------------------------------------------------------------------
// Warnings: each at its place, and only when warnings are switched on

struct TWarningCase {
    const char *Name;
    Kind FormulaKind;
    const char *Text;
    int Code;
};

const TWarningCase WarningCases[] = {
    {"result ignored", Kind::Formula, "2 `^ 3", 1},
    {"undeclared variable", Kind::Formula, "z = `q + 1", 2},
    {"declared never used", Kind::Formula, "float `x", 3},
    {"written never read", Kind::Formula, "float `x = 1", 4},
    {"undeclared variable written never read", Kind::Formula, "`y = 1", 4},
    {"written only in a while", Kind::Formula, "while z == 1\n`y = 1\nendwhile", 3},
    {"boolean to integer", Kind::Formula, "int i = `true + 1", 5},
    {"boolean to complex", Kind::Formula, "`z = true", 5},
    {"integer to boolean", Kind::Formula, "int i = 1\nif `i\nendif", 6},
    {"complex to boolean", Kind::Formula, "init:\nloop:\nbailout:\n`z", 6},
    {"parameter written", Kind::Formula, "`@p = 1", 7},
    {"complex compared", Kind::Formula, "if z `< 1\nendif", 8},
    {"written only in an if", Kind::Formula, "if z == 1\nx = 1\nendif\nz = `x", 9},
    {"written only in one branch", Kind::Formula, "if z == 1\nx = 1\nelseif z == 2\nx = 2\nendif\nz = `x", 9},
    {"written only in a while body", Kind::Formula, "while z == 1\nx = 1\nendwhile\nz = `x", 9},
    {"read in an elseif after the branch that wrote it", Kind::Formula,
     "if z == 1\nx = 1\nelseif `x == 2\nendif", 9},
    {"declared and read", Kind::Formula, "float x\nz = `x", 9},
    {"oldz", Kind::Coloring, "#index = real(`oldz(1))", 10},
};

class CheckerWarnings : public CheckerTest, public testing::WithParamInterface<TWarningCase> {};

// The warning option is read from the configuration; without one warnings are on.
void SetWarningOption(bool On) {
    if (ConfigManager())
        ConfigManager()->General->GenerateWarnings = On;
}

TEST_P(CheckerWarnings, AppearAtTheirPlaceOnlyWhenSwitchedOn) {
    const TWarningCase &c = GetParam();
    TMarkedText text = Marked(c.Text);
    const bool startConfiguration = ConfigManager() == nullptr;
    if (startConfiguration) {
        InitializeGenProgram();
        InitializeGenRegistry();
        InitializeGenSetup();
    }
    ASSERT_NE(ConfigManager(), nullptr);
    const bool saved = ConfigManager()->General->GenerateWarnings;

    SetWarningOption(true);
    TCheckResult on = Compile(text.Text, c.FormulaKind);
    SetWarningOption(false);
    TCheckResult off = Compile(text.Text, c.FormulaKind);
    const bool offHasWarnings = Formula->GetHasWarnings();

    SetWarningOption(saved);
    if (startConfiguration) {
        FinalizeGenSetup();
        FinalizeGenRegistry();
        FinalizeGenProgram();
    }
    EXPECT_EQ(on.Error.Code, 0) << on.Error;
    const TMessageRecord expected{c.Code, text.Line, text.Column};
    EXPECT_NE(std::find(on.Warnings.begin(), on.Warnings.end(), expected), on.Warnings.end())
        << "expected " << expected << " in " << testing::PrintToString(on.Warnings);
    EXPECT_TRUE(off.Warnings.empty()) << testing::PrintToString(off.Warnings);
    EXPECT_FALSE(offHasWarnings);
}

INSTANTIATE_TEST_SUITE_P(Table, CheckerWarnings, testing::ValuesIn(WarningCases),
                         [](const testing::TestParamInfo<TWarningCase> &Info) {
                             return CaseName(Info.param.Name);
                         });

bool HasWarning(const TCheckResult &Result, int Code) {
    for (const TMessageRecord &w : Result.Warnings)
        if (w.Code == Code)
            return true;
    return false;
}

TEST_F(CheckerTest, NoWarningsForCleanUse) {
    struct TCase {
        const char *Text;
        int Code;
    } cases[] = {
        {"x = 1\nz = x", 2},                                // assigned before read
        {"if z == 1\nx = 1\nelse\nx = 2\nendif\nz = x", 9}, // written on every path
        {"repeat\nx = 1\nuntil z == 1\nz = x", 9},          // a repeat body always runs
        {"x = 1\nif z == 1\nz = x\nendif", 9},              // written before the block
        {"z = sqr(z)", 1},                                  // an assignment is used
        {"print(z)", 1},                                    // so is print
        {"float x = 1\nfloat x = 2\nz = x", 21},            // redeclared with its type
    };
    for (const TCase &c : cases) {
        TCheckResult result = Compile(c.Text);
        EXPECT_EQ(result.Error.Code, 0) << c.Text << " " << result.Error;
        EXPECT_FALSE(HasWarning(result, c.Code)) << c.Text << " " << testing::PrintToString(result.Warnings);
    }
}

// ---------------------------------------------------------------------------------------------
// Statements the checker inserts

TEST_F(CheckerTest, UndeclaredReadInLoopIsInitializedAfterTheInitLabel) {
    TCheckResult result = Compile("global:\nfloat g = 1\ninit:\nz = g\nloop:\nz = z + q\nbailout:\n|z| < 4");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    const std::vector<std::string> expected = {"label global 1",
                                               "(= g:f tofloat(1):f):f",
                                               "label init 2",
                                               "(= q:c (0,0)):c",
                                               "(= #20:c tocomplex(g:f):c):c",
                                               "label loop 2",
                                               "(= #20:c (+ #20:c q:c):c):c",
                                               "label bailout 3",
                                               "(< (mod #20:c):f tofloat(4):f):b"};
    EXPECT_EQ(Formula->Statements(), expected);
}

// Without an INIT section, what a formula starting with GLOBAL needs to run once per pixel gets
// a section of its own before the loop; it must never land inside the loop, where it would
// reset the values the loop carries on every iteration.
TEST_F(CheckerTest, GlobalWithoutInitGetsAnInitSectionBeforeTheLoop) {
    TCheckResult result = Compile("global:\nfloat g = 1\nloop:\nz = z + q\n@p = @p * 2\nbailout:\n|z| < 4");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    const std::vector<std::string> expected = {"label global 1",
                                               "(= g:f tofloat(1):f):f",
                                               "label INIT 2",
                                               "(= copy@p:c @p:c):c",
                                               "(= q:c (0,0)):c",
                                               "label loop 2",
                                               "(= #20:c (+ #20:c q:c):c):c",
                                               "(= copy@p:c (* copy@p:c tofloat(2):f):c):c",
                                               "label bailout 3",
                                               "(< (mod #20:c):f tofloat(4):f):b"};
    EXPECT_EQ(Formula->Statements(), expected);
}

TEST_F(CheckerTest, SectionsAfterGlobalThatNeedNoLeadingSectionStayAsTheyAre) {
    struct TCase {
        Kind FormulaKind;
        const char *Text;
        std::vector<std::string> Labels;
    } cases[] = {
        {Kind::Formula,
         "global:\ninit:\nz = q\nloop:\nbailout:\n|z| < 4",
         {"global", "init", "loop", "bailout"}},
        {Kind::Formula, "global:\nfloat g = 1", {"global"}},
        {Kind::Transform, "global:\ntransform:\n#pixel = #pixel + q", {"global", "transform"}},
        {Kind::Coloring, "global:\nfinal:\n#index = real(q)", {"global", "INIT", "final"}},
        {Kind::Coloring,
         "global:\nloop:\nx = x + 1\nfinal:\n#index = real(x)",
         {"global", "INIT", "loop", "final"}},
    };
    for (const TCase &c : cases) {
        TCheckResult result = Compile(c.Text, c.FormulaKind);
        ASSERT_EQ(result.Error.Code, 0) << c.Text << " " << result.Error;
        std::vector<std::string> labels;
        for (const std::string &line : Formula->Statements())
            if (line.rfind("label ", 0) == 0)
                labels.push_back(line.substr(6, line.find(' ', 6) - 6));
        EXPECT_EQ(labels, c.Labels) << c.Text;
    }
}

// A global variable that may be uninitialized when a later section reads it is set to zero at
// the start of the global section, not at the start of every pixel, where it would overwrite
// what the global section computed.
TEST_F(CheckerTest, GlobalVariableIsInitializedInTheGlobalSection) {
    TCheckResult result =
        Compile("global:\nfloat g\nif @p == 1\ng = 2\nendif\ninit:\nz = g\nloop:\nbailout:\n|z| < 4");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    const std::vector<std::string> statements = Formula->Statements();
    ASSERT_GE(statements.size(), 4u);
    EXPECT_EQ(statements[0], "label global 1");
    EXPECT_EQ(statements[1], "(= g:f 0):f");
    EXPECT_EQ(statements[2], "decl g:f");
    EXPECT_EQ(std::count(statements.begin(), statements.end(), "(= g:f 0):f"), 1);
}

// Once a formula writes a parameter anywhere, every read of it outside the global section reads
// the per-pixel copy, also reads before the write in the text and the write's own right side: a
// loop must see what its previous pass wrote. The copy starts from the parameter once, after the
// first label that is not GLOBAL, behind the settings there, so that a DEFAULT has given the
// parameter its value when the start is folded. The global section runs before any copy is set
// and reads the parameter itself; so do constant expressions (dimensions, settings) before the
// first write.
TEST_F(CheckerTest, EveryReadOfAWrittenParameterUsesTheCopy) {
    struct TCase {
        const char *Name;
        Kind FormulaKind;
        const char *Text;
        std::vector<std::string> Statements;
    } cases[] = {
        {"reads before and after the write",
         Kind::Formula,
         "z = @p\n@p = 2\nz = @p",
         {"label INIT 2", "(= copy@p:c @p:c):c", "(= #20:c copy@p:c):c", "(= copy@p:c tocomplex(2):c):c",
          "(= #20:c copy@p:c):c"}},
        {"the write's own right side in a loop",
         Kind::Formula,
         "init:\nz = 0\nloop:\n@q = @q * 2\nz = @q\nbailout:\n|z| < 1000",
         {"label init 2", "(= copy@q:c @q:c):c", "(= #20:c tocomplex(0):c):c", "label loop 2",
          "(= copy@q:c (* copy@q:c tofloat(2):f):c):c", "(= #20:c copy@q:c):c", "label bailout 3",
          "(< (mod #20:c):f tofloat(1000):f):b"}},
        {"a write nested in an expression, read first in a condition",
         Kind::Formula,
         "loop:\nif @p == 1\nz = z + (@p = 2)\nendif",
         {"label INIT 2", "(= copy@p:c @p:c):c", "label loop 2", "(kw0 (== copy@p:c tocomplex(1):c):b)",
          "(= #20:c (+ #20:c (= copy@p:c tocomplex(2):c):c):c):c", "(kw3)"}},
        {"the global section reads the parameter",
         Kind::Formula,
         "global:\nfloat g = real(@p)\ninit:\nz = @p\nloop:\n@p = @p + g\nbailout:\n|z| < 4",
         {"label global 1", "(= g:f f29(@p:c):f):f", "label init 2", "(= copy@p:c @p:c):c",
          "(= #20:c copy@p:c):c", "label loop 2", "(= copy@p:c (+ copy@p:c g:f):c):c", "label bailout 3",
          "(< (mod #20:c):f tofloat(4):f):b"}},
        {"the copy starts after the default setting, a dimension before the write reads the parameter",
         Kind::Formula,
         "init:\nfloat a[@n]\nz = @n\nloop:\n@n = @n + 1\nbailout:\n|z| < 4\ndefault:\nint param n\n"
         "default = 3\nendparam",
         {"label init 2", "default n:i 3", "(= copy@n:i @n:i):i", "decl a:f[@n:i]",
          "(= #20:c tocomplex(copy@n:i):c):c", "label loop 2", "(= copy@n:i (+ copy@n:i 1):i):i",
          "label bailout 3", "(< (mod #20:c):f tofloat(4):f):b"}},
        {"a coloring reads the copy in its final section",
         Kind::Coloring,
         "init:\nloop:\n@q = @q * 2\nfinal:\n#index = real(@q)",
         {"label init 2", "(= copy@q:c @q:c):c", "label loop 2", "(= copy@q:c (* copy@q:c tofloat(2):f):c):c",
          "label final 2", "(= #19:f f29(copy@q:c):f):f"}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TCheckResult result = Compile(c.Text, c.FormulaKind);
        ASSERT_EQ(result.Error.Code, 0) << result.Error;
        EXPECT_EQ(Formula->Statements(), c.Statements);
    }
}

// The code generator picks the routine of a unary operator by the operand's type alone, except
// for complex operands, and the function zero always drops a complex argument: modulus bars and
// zero must hand it complex operands of every source type, logical not a boolean, and negation
// a number. Otherwise a float modulus would be computed as a negation.
TEST_F(CheckerTest, OperandsReachUnaryRoutinesAndZeroInTheirOnlyTypes) {
    struct TCase {
        const char *Text;
        const char *Statement;
    } cases[] = {
        {"float x = 2\nfloat m = |x|", "(= m:f (mod tocomplex(x:f):c):f):f"},
        {"int i = 2\nfloat m = |i|", "(= m:f (mod tocomplex(i:i):c):f):f"},
        {"float x = 2\nbool b = !x", "(= b:b (not (!= x:f 0):b):b):b"},
        {"float x = 2\nfloat y = -x", "(= y:f (neg x:f):f):f"},
        {"float x = 2\nz = zero(x)", "(= #20:c f23(tocomplex(x:f):c):c):c"},
        {"int i = 2\nz = zero(i)", "(= #20:c f23(tocomplex(i:i):c):c):c"},
        {"bool b = true\nz = zero(b)", "(= #20:c f23(tocomplex(b:b):c):c):c"},
    };
    for (const TCase &c : cases) {
        TCheckResult result = Compile(c.Text);
        ASSERT_EQ(result.Error.Code, 0) << c.Text << " " << result.Error;
        EXPECT_EQ(Formula->Statements().back(), c.Statement) << c.Text;
    }
}

TEST_F(CheckerTest, ArrayDeclarationWithAssignmentGoesToTheStart) {
    TCheckResult result = Compile("float a[2]\nz = 1\nfloat b[2] = a");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    const std::vector<std::string> expected = {"label INIT 2", "decl b:f[2]", "decl a:f[2]",
                                               "(= #20:c tocomplex(1):c):c", "(= b:a a:a):a"};
    EXPECT_EQ(Formula->Statements(), expected);
}

TEST_F(CheckerTest, UnknownNamesBecomeComplexParameters) {
    TCheckResult result = Compile("z = @q + fn2(z)");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    ASSERT_NE(Formula->FindParam("q"), nullptr);
    EXPECT_EQ(Formula->FindParam("q")->Type, vtComplex);
    ASSERT_NE(Formula->FindParam("fn2"), nullptr);
    EXPECT_EQ(Formula->FindParam("fn2")->Type, vtFunction);
}

TEST_F(CheckerTest, StringsAreInternedOnce) {
    TCheckResult result = Compile("print(\"a\")\nprint(\"B\")\nprint(\"a\")\nprint(\"b\")");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    const std::vector<std::string> expected = {"label INIT 2", "f34(\"a\"#0):n", "f34(\"B\"#1):n",
                                               "f34(\"a\"#0):n", "f34(\"b\"#2):n"};
    EXPECT_EQ(Formula->Statements(), expected);
}

// ---------------------------------------------------------------------------------------------
// Through the compile driver: messages with their texts and places in the file

std::vector<TCompilerMessage> Messages(TErrorManager &Manager) {
    std::vector<TCompilerMessage> messages;
    for (int i = 0; i < Manager.GetCount(); i++)
        messages.push_back(Manager.GetMessageA(i));
    return messages;
}

TEST_F(CheckerTest, CompileReportsTextAndFilePlace) {
    const std::string file = CompilerDataPath("CompChecker_entries.ofm");
    TErrorManager &manager = *ErrorManager();
    TCheckedFormula formula(Kind::Formula);
    manager.SetFormula(&formula);

    formula.SetSource(file, "Broken");
    EXPECT_TRUE(formula.GetHasError());
    manager.Lock();
    std::vector<TCompilerMessage> messages = Messages(manager);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Kind, mkError);
    EXPECT_EQ(messages[0].ErrorCode, 26);
    EXPECT_EQ(messages[0].Text, "ENDIF expected after IF.");
    EXPECT_EQ(messages[0].Line, 6);
    EXPECT_EQ(messages[0].Column, 0);
    manager.Unlock();

    formula.SetSource(file, "Unused");
    EXPECT_FALSE(formula.GetHasError());
    manager.Lock();
    messages = Messages(manager);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].Kind, mkWarning);
    EXPECT_EQ(messages[0].WarningCode, 3);
    EXPECT_EQ(messages[0].Text, "Variable is declared but never used.");
    EXPECT_EQ(messages[0].Line, 12);
    EXPECT_EQ(messages[0].Column, 8);
    manager.Unlock();
    manager.ClearFormula();
}

// ---------------------------------------------------------------------------------------------
// Broken input

TEST_F(CheckerTest, DeepExpressionsAreChecked) {
    // Deep trees of the kinds the parser builds: long chains, nested parentheses, unary operators.
    std::string chain = "z = z";
    for (int i = 0; i < 120; i++)
        chain += " + 1";
    std::string nested = "z = " + std::string(120, '(') + "z" + std::string(120, ')');
    std::string unary = "bool b = " + std::string(120, '!') + "z";
    for (const std::string &text : {chain, nested, unary}) {
        TCheckResult result = Compile(text);
        EXPECT_EQ(result.Error.Code, 0) << text.substr(0, 40) << " " << result.Error;
    }
}

// Texts cut and spliced at every place give a compile error or a program, never anything else.
TEST_F(CheckerTest, MangledTextsGiveErrorsNotCrashes) {
    const std::string pieces[] = {
        "global:\nfloat g[3]\nfloat h = 1\n",
        "init:\nz = 0\nint i = 0\n",
        "loop:\nif |z| > 2 && @p != 1\nz = sqr(z) + #pixel\nelseif z == 3\nz = fn1(z)\nelse\ni = i + "
        "1\nendif\n",
        "while i < 3\ni = i % 2\nendwhile\nrepeat\nz = conj(z)\nuntil true\n",
        "color c = rgb(1, 0, 0) * 0.5\nprint(\"x\", z)\n",
        "z = 2 * z - i + 1\nfloat f = |z| / 2 + i % 2\nbool b = z < 1 || !(i == 2) && true\n",
        "z = z ^ 2 + sin(f) + floor(z) / f\nint k = round(f) + abs(i) - true\n",
        "bailout:\n|z| < 4\n",
        "default:\nfloat param p\ndefault = 2 * pi\nmin = 1\nendparam\nheading\nendheading\n",
    };
    std::string whole;
    for (const std::string &piece : pieces)
        whole += piece;
    {
        TCheckResult result = Compile(whole);
        ASSERT_EQ(result.Error.Code, 0) << result.Error;
    }
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t Range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % Range;
    };
    const char *inserts[] = {"(",          ")",
                             "[",          "]",
                             "=",          "if ",
                             "endif\n",    "\n",
                             "#",          "@",
                             "\"",         ",",
                             "float ",     "param ",
                             "endparam\n", "-",
                             "|",          "!",
                             "loop:\n",    "fn1(",
                             "repeat\n",   "else\n",
                             "until ",     "while ",
                             "endwhile\n", "heading\n",
                             "func ",      "enum = ",
                             "\"a\" ",     "default = ",
                             "int ",       "color ",
                             "0.5",        "rgb(1, 0, 0)",
                             "print(",     "oldz(",
                             "gradient(",  "bailout:\n",
                             "global:\n",  "final:\n",
                             "~"};
    int compiled = 0;
    for (int round = 0; round < 3000; round++) {
        std::string text = whole;
        const int edits = 1 + static_cast<int>(next(4));
        for (int e = 0; e < edits; e++) {
            const std::size_t at = next(static_cast<std::uint32_t>(text.size()));
            if (next(2) == 0)
                text.erase(at, 1 + next(8));
            else
                text.insert(at, inserts[next(sizeof(inserts) / sizeof(inserts[0]))]);
        }
        try {
            // Mostly as a fractal formula; now and then under the other kinds' rules.
            const Kind kind = round % 5 == 3   ? Kind::Coloring
                              : round % 5 == 4 ? Kind::Transform
                                               : Kind::Formula;
            TCheckResult result = Compile(text, kind);
            if (result.Error.Code == 0) {
                compiled++;
                // Whatever compiles is typed as the code generator expects it.
                for (TExpressionNode *node = Formula->GetExpressions().GetFirst(); node; node = node->Next) {
                    const std::string violation = TypeViolation(node->Expression.get());
                    if (!violation.empty()) {
                        ADD_FAILURE() << violation << " in:\n" << text;
                        break;
                    }
                }
            }
        } catch (const std::exception &error) {
            ADD_FAILURE() << "unexpected " << error.what() << " for:\n" << text;
        }
    }
    // Some texts survive the edits; the rest were refused with a compile error.
    EXPECT_GT(compiled, 0);
}

} // namespace
