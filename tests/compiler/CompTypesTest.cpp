#include "CompCheckerTestSupport.h"

#include <string>
#include <vector>

#include "CompParams.h"

namespace {

using Kind = TTestFormulaKind;

// ---------------------------------------------------------------------------------------------
// Errors of the type rules, at the place marked with a backquote

const TErrorCase TypeErrorCases[] = {
    {"function not allowed", Kind::Formula, "z = `oldz(1)", 36},
    {"gradient in a transformation", Kind::Transform, "#pixel = `gradient(1)", 36},
    {"quotient assigned to an integer", Kind::Formula, "int `i = 7 / 2", 19},
    {"complex assigned to a float", Kind::Formula, "float `f = z", 19},
    {"colour on the right of a product", Kind::Formula, "color d = 0.5 * `rgb(1, 0, 0)", 19},
    {"colour added to an integer", Kind::Formula, "z = 1 + `rgb(1, 0, 0)", 19},
    {"negated boolean", Kind::Formula, "z = -`true", 19},
    {"complex modulo", Kind::Formula, "float f = 3 % `(1, 2)", 19},
    {"colour compared", Kind::Formula, "color c = rgb(1, 0, 0)\nbool b = `c == c", 19},
    {"colour as condition", Kind::Formula, "init:\nloop:\nbailout:\n`rgb(1, 0, 0)", 19},
    {"colour function of a number", Kind::Formula, "float r = red(`z)", 19},
    {"square of a colour", Kind::Formula, "z = sqr(`rgb(1, 0, 0))", 19},
    {"print of an array", Kind::Formula, "float a[3]\nprint(`a)", 19},
    {"too many arguments", Kind::Formula, "z = `sin(1, 2)", 56},
    {"too few arguments", Kind::Formula, "color c = `rgb(1, 0)", 56},
    {"user function with two arguments", Kind::Formula, "z = `fn1(1, 2)", 56},
    {"colour function with one argument", Kind::Formula,
     "init:\ncolor c = `@m(rgb(0, 0, 0))\ndefault:\ncolor func m\nendfunc", 56},
    {"string compared with a complex parameter", Kind::Formula, "if `@mode == \"a\"\nendif", 54},
    {"string not among the entries", Kind::Formula,
     "init:\nif @mode == `\"c\"\nendif\ndefault:\nparam mode\nenum = \"a\" \"b\"\nendparam", 55},
    {"colour function with a number", Kind::Formula,
     "init:\ncolor c = @m(rgb(0, 0, 0), `1)\ndefault:\ncolor func m\nendfunc", 19},
    {"merge of numbers", Kind::Formula, "color c = mergenormal(rgb(0, 0, 0), `2)", 19},
    {"blend with a number first", Kind::Formula, "color c = blend(`1, rgb(0, 0, 0), 0.5)", 19},
    {"string as a number", Kind::Formula, "z = `\"a\" + 1", 19},
    {"string compared with a number", Kind::Formula, "bool b = 1 == `\"a\"", 19},
    {"array in arithmetic", Kind::Formula, "float a[2]\nz = `a + 1", 19},
    {"modulus of a colour", Kind::Formula, "float f = |`rgb(0, 0, 0)|", 19},
    {"oldz in a dimension", Kind::Coloring, "final:\nfloat a[`oldz(1)]", 50},
    {"gradient in a dimension", Kind::Coloring, "final:\nfloat a[`gradient(1)]", 50},
};

class TypeErrors : public CheckerTest, public testing::WithParamInterface<TErrorCase> {};

TEST_P(TypeErrors, ReportCodeAndPlace) {
    ExpectErrorAtMark(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Table, TypeErrors, testing::ValuesIn(TypeErrorCases),
                         [](const testing::TestParamInfo<TErrorCase> &Info) {
                             return CaseName(Info.param.Name);
                         });

// ---------------------------------------------------------------------------------------------
// Types and conversions

struct TTypeCase {
    const char *Text;
    const char *Statement; // the last statement after checking
};

const TTypeCase TypeCases[] = {
    // Real arithmetic where the target is real, complex where it is complex.
    {"float x = sqrt(-1)", "(= x:f f15(tofloat((neg 1):i):f):f):f"},
    {"x = sqrt(-1)", "(= x:c f15(tocomplex((neg 1):i):c):c):c"},
    {"z = sqrt(4.0)", "(= #20:c f15(tocomplex(4.0):c):c):c"},
    {"float s = sin(1)", "(= s:f f0(tofloat(1):f):f):f"},
    {"z = sin(1)", "(= #20:c tocomplex(f0(tofloat(1):f):f):c):c"},
    {"float y = 2 ^ 3", "(= y:f (^ tofloat(2):f tofloat(3):f):f):f"},
    {"2 ^ 3", "(^ tocomplex(2):c tocomplex(3):c):c"},
    {"float q = 7 / 2", "(= q:f (/ tofloat(7):f tofloat(2):f):f):f"},
    {"z = z / 2", "(= #20:c (/ #20:c tofloat(2):f):c):c"},
    {"int k = 7 % 2", "(= k:i (% 7 2):i):i"},
    {"float m = 7.5 % 2", "(= m:f (% 7.5 tofloat(2):f):f):f"},
    {"int j = true + 1", "(= j:i (+ toint(True):i 1):i):i"},
    {"z = z + 1.5", "(= #20:c (+ #20:c 1.5):c):c"},
    {"z = z + 1", "(= #20:c (+ #20:c tofloat(1):f):c):c"},
    {"int i = 1\nbool b = !i", "(= b:b (not (!= i:i 0):b):b):b"},
    {"bool b = 1.5 && z", "(= b:b (&& (!= 1.5 0):b (!= f29(#20:c):f 0):b):b):b"},
    {"bool b = z < 1", "(= b:b (< f29(#20:c):f tofloat(1):f):b):b"},
    {"bool b = 2 <= true", "(= b:b (<= 2 toint(True):i):b):b"},
    {"bool b = z == 1", "(= b:b (== #20:c tocomplex(1):c):b):b"},
    {"bool b = 1 != 2.5", "(= b:b (!= tofloat(1):f 2.5):b):b"},
    {"float m = |z| + 1", "(= m:f (+ (mod #20:c):f tofloat(1):f):f):f"},
    {"int r = round(2.5)", "(= r:i f28(2.5):i):i"},
    {"float r = floor(2)", "(= r:f tofloat(f26(tofloat(2):f):i):f):f"},
    {"z = floor(z)", "(= #20:c f26(#20:c):c):c"},
    {"int a = abs(-3)", "(= a:i f18((neg 3):i):i):i"},
    {"float c = cabs(1)", "(= c:f f19(tocomplex(1):c):f):f"},
    {"int n = random(true)", "(= n:i f33(toint(True):i):i):i"},
    {"color c = rgb(1, 0, 0) * 0.5", "(= c:k (* f35(tofloat(1):f tofloat(0):f tofloat(0):f):k 0.5):k):k"},
    {"color c = rgb(1, 0, 0)\ncolor d = c + c", "(= d:k (+ c:k c:k):k):k"},
    {"color c = rgb(1, 0, 0)\ncolor d = c / 2", "(= d:k (/ c:k tofloat(2):f):k):k"},
    {"color c = rgb(1, 0, 0)\nfloat g = green(c)", "(= g:f f40(c:k):f):f"},
    {"color c = rgb(1, 0, 0)\ncolor d = mergemultiply(c, c)", "(= d:k f50(c:k c:k):k):k"},
    {"color c = rgb(1, 0, 0)\ncolor d = blend(c, c, 1)", "(= d:k f47(c:k c:k tofloat(1):f):k):k"},
    {"color c = rgba(1, 0, 0, 1)", "(= c:k f36(tofloat(1):f tofloat(0):f tofloat(0):f tofloat(1):f):k):k"},
    {"z = fn1(2)", "(= #20:c fn1(tocomplex(2):c):c):c"},
    {"print(1, \"a\", z)", "f34(1 \"a\"#0 #20:c):n"},
    {"float a[3]\na[1] = 2", "(= a[1]:f tofloat(2):f):f"},
    {"float a[2, 3]\nfloat v = a[true, 1]", "(= v:f a[toint(True):i 1]:f):f"},
};

class TypeConversions : public CheckerTest, public testing::WithParamInterface<TTypeCase> {};

TEST_P(TypeConversions, ConvertAsTheRulesSay) {
    const TTypeCase &c = GetParam();
    TCheckResult result = Compile(c.Text);
    ASSERT_EQ(result.Error.Code, 0) << c.Text << " " << result.Error;
    const std::vector<std::string> statements = Formula->Statements();
    ASSERT_FALSE(statements.empty());
    EXPECT_EQ(statements.back(), c.Statement) << c.Text;
    for (TExpressionNode *node = Formula->GetExpressions().GetFirst(); node; node = node->Next)
        EXPECT_EQ(TypeViolation(node->Expression.get()), "") << c.Text;
}

INSTANTIATE_TEST_SUITE_P(Table, TypeConversions, testing::ValuesIn(TypeCases));

TEST_F(CheckerTest, IntegerConditionBecomesAComparison) {
    TCheckResult result = Compile("int i = 1\nif i\nendif");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    const std::vector<std::string> statements = Formula->Statements();
    ASSERT_EQ(statements.size(), 4u);
    EXPECT_EQ(statements[2], "(kw0 (!= i:i 0):b)");
}

TEST_F(CheckerTest, EnumeratedComparisonBecomesTheEntryIndex) {
    TCheckResult result =
        Compile("init:\nif @mode == \"SECOND\"\nendif\ndefault:\nparam mode\nenum = \"first\" "
                "\"second\"\nendparam");
    ASSERT_EQ(result.Error.Code, 0) << result.Error;
    const std::vector<std::string> statements = Formula->Statements();
    ASSERT_GE(statements.size(), 2u);
    EXPECT_EQ(statements[1], "(kw0 (== @mode:i 1):b)");
}

} // namespace
