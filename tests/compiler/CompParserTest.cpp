#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompParser.h"
#include "TestFormulas.h"

namespace {

// The statements of Text parsed as a fractal formula, without the label of the INIT section the
// text starts in.
std::vector<std::string> ParseBody(const std::string &Text) {
    TTestFormula formula;
    formula.ParseText(Text);
    std::vector<std::string> lines = formula.DumpStatements();
    if (!lines.empty() && lines.front() == "label INIT 2")
        lines.erase(lines.begin());
    return lines;
}

struct TParseCase {
    const char *Text;
    const char *Tree;
};

class ParserExpressions : public testing::TestWithParam<TParseCase> {};

TEST_P(ParserExpressions, BuildsTheTree) {
    const TParseCase &c = GetParam();
    std::vector<std::string> lines = ParseBody(c.Text);
    ASSERT_EQ(lines.size(), 1u) << c.Text;
    EXPECT_EQ(lines[0], c.Tree) << c.Text;
}

// A fractal formula reads z as its own predefined symbol (20). Function ids: sin 0, print 34; keyword ids: if
// 0, elseif 1, else 2, endif 3, float 5, while 11, endwhile 12, repeat 13, until 14; predefined: pixel 0,
// pi 3.
INSTANTIATE_TEST_SUITE_P(
    Parser, ParserExpressions,
    testing::Values(
        // Associativity and levels.
        TParseCase{"x = y = 3", "(= x (= y 3))"}, TParseCase{"a + b = c", "(= (+ a b) c)"},
        TParseCase{"a || b && c", "(&& (|| a b) c)"}, TParseCase{"a && b || c", "(|| (&& a b) c)"},
        TParseCase{"2 ^ 3 ^ 2", "(^ (^ 2 3) 2)"}, TParseCase{"a - b - c", "(- (- a b) c)"},
        TParseCase{"a / b * c % d", "(% (* (/ a b) c) d)"},
        TParseCase{"a + b * c ^ d", "(+ a (* b (^ c d)))"},
        TParseCase{"a ^ b * c + d", "(+ (* (^ a b) c) d)"}, TParseCase{"a < b == c", "(== (< a b) c)"},
        TParseCase{"x = a + b < c && d", "(= x (&& (< (+ a b) c) d))"},
        TParseCase{"a = b + c = d", "(= a (= (+ b c) d))"}, TParseCase{"a != b >= c", "(>= (!= a b) c)"},
        TParseCase{"a <= b > c", "(> (<= a b) c)"},
        // Unary operators bind to the one operand after them.
        TParseCase{"-a ^ 2", "(^ (neg a) 2)"}, TParseCase{"!a && b", "(&& (not a) b)"},
        TParseCase{"+a * -b", "(* a (neg b))"}, TParseCase{"- -a", "(neg (neg a))"},
        TParseCase{"-(a + b)", "(neg (+ a b))"},
        // Parentheses and modulus bars.
        TParseCase{"(a + b) * c", "(* (+ a b) c)"}, TParseCase{"|a + b| < 4", "(< (mod (+ a b)) 4)"},
        TParseCase{"|(|a|)|", "(mod (mod a))"}, TParseCase{"|a| + |b|", "(+ (mod a) (mod b))"},
        // Operands of every kind.
        TParseCase{"true && false", "(&& True False)"}, TParseCase{"w = pixel + #pi", "(= w (+ #0 #3))"},
        TParseCase{"z = p1 * fn1(w)", "(= #20 (* @p1 fn1(w)))"},
        TParseCase{"print(\"text\")", "f34(\"text\")"}, TParseCase{"sin(a, b + 1)", "f0(a,(+ b 1))"},
        TParseCase{"sin(sin(a))", "f0(f0(a))"}, TParseCase{"ident(x) + 1", "(+ x 1)"},
        TParseCase{"srand(x) + 1", "(+ x 1)"}, TParseCase{"a[i, j + 1] = b[2]", "(= a[i,(+ j 1)] b[2])"},
        TParseCase{"a[sin(i, j)]", "a[f0(i,j)]"},
        // Declarations and keyword statements.
        TParseCase{"float x = 2", "(= (kw5 x) 2)"}, TParseCase{"float a[3, 4]", "(kw5 a[3,4])"},
        TParseCase{"float pixel", "(kw5 #0)"}, TParseCase{"if a < 1", "(kw0 (< a 1))"},
        TParseCase{"elseif b", "(kw1 b)"}, TParseCase{"else", "(kw2)"}, TParseCase{"endif", "(kw3)"},
        TParseCase{"while a", "(kw11 a)"}, TParseCase{"endwhile", "(kw12)"}, TParseCase{"repeat", "(kw13)"},
        TParseCase{"until a == 2", "(kw14 (== a 2))"}));

TEST(Parser, StatementsSectionsAndPositions) {
    TTestFormula formula;
    formula.ParseText("init:\n  z = 0, c = #pixel\nloop:\n  z = sqr(z) + c\nbailout:\n  |z| < 4\n");
    EXPECT_EQ(formula.DumpStatements(),
              (std::vector<std::string>{"label init 2", "(= #20 0)", "(= c #0)", "label loop 2",
                                        "(= #20 (+ f14(#20) c))", "label bailout 3", "(< (mod #20) 4)"}));
    // A binary expression sits at its operator, a label at its first character.
    TExpressionNode *node = formula.GetExpressions().GetFirst();
    EXPECT_EQ(node->Expression->Position, (TCompilePosition{0, 0}));
    node = node->Next;
    EXPECT_EQ(node->Expression->Position, (TCompilePosition{1, 4}));
    EXPECT_EQ(node->Next->Next->Expression->Position, (TCompilePosition{2, 0}));
}

TEST(Parser, CompactFormGoesToLoopAndBailout) {
    TTestFormula formula;
    formula.ParseText("z = 0\n:\nz = z * z + #pixel\n|z| < 4\n");
    EXPECT_EQ(formula.DumpStatements(),
              (std::vector<std::string>{"label INIT 2", "(= #20 0)", "label LOOP 2",
                                        "(= #20 (+ (* #20 #20) #0))", "label BAILOUT 3", "(< (mod #20) 4)"}));
}

TEST(Parser, SettingsSectionsGoToTheSettingsParser) {
    TTestFormula formula;
    formula.ParseText("init:\nz = 1\ndefault:\ntitle = \"x\"\nfloat param a\nswitch:\ntype = \"y\"\n");
    EXPECT_EQ(formula.DumpStatements(), (std::vector<std::string>{"label init 2", "(= #20 1)"}));
    EXPECT_EQ(formula.Log,
              (std::vector<std::string>{"settings default 5", "setting 3 tokens", "setting 3 tokens",
                                        "end settings 5:0", "settings switch 4", "setting 3 tokens",
                                        "end settings 7:0"}));
    EXPECT_FALSE(formula.GetInSettingsSection());
}

TEST(Parser, ConditionalCompilation) {
    struct TCase {
        const char *Text;
        std::vector<std::string> Statements;
    } cases[] = {
        {"$ifdef ORBISKVANTEL\na = 1\n$else\nb = 2\n$endif", {"(= a 1)"}},
        {"$ifdef ver20\na = 1\n$endif", {"(= a 1)"}},
        {"$ifdef NOPE\na = 1\n$else\nb = 2\n$endif", {"(= b 2)"}},
        {"$define Q\n$ifdef q\na = 1\n$endif", {"define Q", "(= a 1)"}},
        {"$define VER30\n$undef ver30\n$ifdef VER30\na = 1\n$else\nb = 1\n$endif",
         {"define VER30", "undef ver30", "(= b 1)"}},
        // Nested blocks inside taken text pair up with their own $ELSE and $ENDIF.
        {"$ifdef VER20\n$ifdef NOPE\na = 1\n$else\nb = 1\n$endif\nc = 1\n$endif", {"(= b 1)", "(= c 1)"}},
        // Skipped text may hold anything but a named directive.
        {"$ifdef NOPE\n)( 1x @ \"\n$endif\nd = 1", {"(= d 1)"}},
    };
    for (const TCase &c : cases) {
        TTestFormula formula;
        formula.ParseText(c.Text);
        std::vector<std::string> lines = formula.DumpStatements();
        // The first statement that is not a directive opens INIT.
        std::erase(lines, "label INIT 2");
        EXPECT_EQ(lines, c.Statements) << c.Text;
    }
}

TEST(Parser, DefinesDoNotOutliveTheirCompile) {
    TTestFormula formula;
    formula.ParseText("$define Q\n$undef VER20");
    EXPECT_EQ(formula.GetDefinedSymbols().IndexOf("Q"), 2);
    EXPECT_EQ(formula.GetDefinedSymbols().IndexOf("VER20"), -1);
    formula.ParseText("$ifdef Q\na = 1\n$endif\n$ifdef VER20\nb = 1\n$endif");
    EXPECT_EQ(formula.DumpStatements(), (std::vector<std::string>{"label INIT 2", "(= b 1)"}));
}

// Syntax errors: code and position (line, column from 0).
struct TErrorCase {
    const char *Text;
    int Code;
    int Line;
    int Column;
};

class ParserErrors : public testing::TestWithParam<TErrorCase> {};

TEST_P(ParserErrors, ReportCodeAndPosition) {
    const TErrorCase &c = GetParam();
    TTestFormula formula;
    try {
        formula.ParseText(c.Text);
        ADD_FAILURE() << "no error for: " << c.Text;
    } catch (const ECompileError &error) {
        EXPECT_EQ(error.Code, c.Code) << c.Text << ": " << error.Message();
        EXPECT_EQ(error.Position(), (TCompilePosition{c.Line, c.Column})) << c.Text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Parser, ParserErrors,
    testing::Values(
        // Expression expected (8).
        TErrorCase{"a +", 8, 0, 3}, TErrorCase{"sin()", 8, 0, 4}, TErrorCase{"sin(a, )", 8, 0, 7},
        TErrorCase{"()", 8, 0, 1}, TErrorCase{"if", 8, 0, 2}, TErrorCase{"x = 1\nwhile", 8, 1, 5},
        TErrorCase{"| |a| |", 8, 0, 2}, TErrorCase{"a[1, ]", 8, 0, 5}, TErrorCase{"x = -", 8, 0, 5},
        // ')' expected (9).
        TErrorCase{"sin(x", 9, 0, 5}, TErrorCase{"(a + b", 9, 0, 6}, TErrorCase{"|(a|", 9, 0, 4},
        TErrorCase{"fn1(a, (b)", 9, 0, 10},
        // Operator expected (12).
        TErrorCase{"a b", 12, 0, 2}, TErrorCase{"a[1][2]", 12, 0, 4}, TErrorCase{"a = *b", 12, 0, 4},
        TErrorCase{"x = 1 ~ 2", 12, 0, 6}, TErrorCase{"x = a & b", 12, 0, 6}, TErrorCase{"(a) (b)", 12, 0, 4},
        TErrorCase{"x = )", 12, 0, 4},
        // '|' expected (13).
        TErrorCase{"|a", 13, 0, 2}, TErrorCase{"|a)|", 13, 0, 2},
        // Keyword not allowed here (14), variable expected (15), ',' or end of line expected (17).
        TErrorCase{"x = endif", 14, 0, 4}, TErrorCase{"repeat = 1", 17, 0, 7},
        TErrorCase{"a = param", 14, 0, 4}, TErrorCase{"float 3", 15, 0, 6}, TErrorCase{"float", 15, 0, 5},
        TErrorCase{"int (x)", 15, 0, 4}, TErrorCase{"else x", 17, 0, 5},
        TErrorCase{"x = 1\nendwhile 2", 17, 1, 9},
        // Labels (18).
        TErrorCase{"foo:", 18, 0, 0}, TErrorCase{"loop:\ninit:", 18, 1, 0},
        TErrorCase{"global:\ninit:\nglobal:", 18, 2, 0}, TErrorCase{"builtin:\nloop:", 18, 1, 0},
        TErrorCase{"init:\ndefault:\nswitch:\ndefault:", 18, 3, 0},
        // Directives: names (32), extra tokens (17), blocks (61 to 64).
        TErrorCase{"$define", 32, 0, 7}, TErrorCase{"$define 3", 32, 0, 8},
        TErrorCase{"$define A B", 17, 0, 10}, TErrorCase{"$ifdef VER20\n$else x", 17, 1, 6},
        TErrorCase{"$else", 61, 0, 0}, TErrorCase{"$ifdef A\n$else\n$else", 62, 2, 0},
        TErrorCase{"$endif", 63, 0, 0}, TErrorCase{"$ifdef NOPE\n$ifdef B\n$endif\n$endif", 32, 1, 6},
        TErrorCase{"$ifdef VER20\nx = 1", 64, 1, 5},
        // ']' expected (48).
        TErrorCase{"a[1", 48, 0, 3}, TErrorCase{"a[(1]", 9, 0, 4}));

TEST(Parser, LabelsFollowTheKindsOrder) {
    struct TCase {
        TTestFormulaKind Kind;
        const char *Text;
        bool Accepted;
    } cases[] = {
        {TTestFormulaKind::Formula, "init:\nloop:\nbailout:\ndefault:\nswitch:", true},
        {TTestFormulaKind::Formula, "global:\nbuiltin:\nswitch:\ndefault:", true},
        {TTestFormulaKind::Formula, "loop:\nglobal:\nbailout:", true},
        {TTestFormulaKind::Formula, "bailout:\nloop:", false},
        {TTestFormulaKind::Formula, "switch:\ninit:", false},
        {TTestFormulaKind::Formula, "switch:\nswitch:", false},
        {TTestFormulaKind::Formula, "final:", false},
        {TTestFormulaKind::Coloring, "init:\nloop:\nfinal:\ndefault:", true},
        {TTestFormulaKind::Coloring, "final:\nloop:", false},
        {TTestFormulaKind::Coloring, "bailout:", false},
        {TTestFormulaKind::Transform, "transform:\nglobal:\ndefault:", true},
        {TTestFormulaKind::Transform, "default:\ntransform:", false},
        {TTestFormulaKind::Transform, "init:", false},
    };
    for (const TCase &c : cases) {
        TTestParser parser(c.Kind);
        bool accepted = true;
        try {
            parser.ParseText(c.Text);
        } catch (const ECompileError &error) {
            accepted = false;
            EXPECT_EQ(error.Code, ceInvalidLabel) << c.Text;
        }
        EXPECT_EQ(accepted, c.Accepted) << c.Text;
    }
}

// Deep nesting of every kind ends in a message, not in a stack overflow; nesting a formula could
// plausibly use still parses.
TEST(Parser, DeepNestingIsRefused) {
    auto repeat = [](const std::string &Piece, int Count) {
        std::string text;
        for (int i = 0; i < Count; ++i)
            text += Piece;
        return text;
    };
    struct TCase {
        std::string Text;
        bool Accepted;
    } cases[] = {
        {"x = " + repeat("(", 60) + "a" + repeat(")", 60), true},
        {"x = " + repeat("(", 100000) + "a" + repeat(")", 100000), false},
        {"x = " + repeat("sin(", 60) + "a" + repeat(")", 60), true},
        {"x = " + repeat("sin(", 20000) + "a" + repeat(")", 20000), false},
        {"x = " + repeat("-", 100) + "a", true},
        {"x = " + repeat("-", 100000) + "a", false},
        {"x = " + repeat("!", 100000) + "a", false},
        {"x = " + repeat("a[", 20000) + "1" + repeat("]", 20000), false},
        {"x = " + repeat("|(", 20000) + "a" + repeat(")|", 20000), false},
        {"x = a" + repeat(" + a", 100), true},
        {"x = a" + repeat(" + a", 100000), true},
        {"x = a" + repeat(" ^ a", 100000), true},
        {"x = a" + repeat(" - a * a", 100000), true},
        {"x = a" + repeat(" + (a", 20000) + repeat(")", 20000), false},
        {"a" + repeat(" = a", 100000), false},
        {"x = a" + repeat(" * (a", 20000) + repeat(")", 20000), false},
    };
    for (const TCase &c : cases) {
        TTestFormula formula;
        bool accepted = true;
        try {
            formula.ParseText(c.Text);
        } catch (const ECompileError &error) {
            accepted = false;
            EXPECT_EQ(error.Code, ceExprExpected) << c.Text.substr(0, 40);
            EXPECT_NE(error.Message().find("nested too deeply"), std::string::npos) << error.Message();
        }
        EXPECT_EQ(accepted, c.Accepted) << c.Text.substr(0, 40) << " (" << c.Text.size() << " characters)";
    }
}

// Any input gives statements or a compile error: random bytes, random token soup and every
// truncation of a real formula.
TEST(Parser, BrokenInputGivesErrorsOnly) {
    auto parse = [](TTestParser &Parser, const std::string &Text) {
        try {
            Parser.ParseText(Text);
        } catch (const ECompileError &error) {
            EXPECT_GE(error.Code, 1);
            EXPECT_LE(error.Code, 65);
            EXPECT_GE(error.Line, 0);
            EXPECT_GE(error.Column, 0);
        }
    };
    std::mt19937 random(20261210);
    const std::string pieces[] = {
        "(",      ")",     "[",     "]",        "|",        ",",      "+",       "-",  "*",
        "^",      "=",     "==",    "!",        "&&",       "||",     "a",       "1",  "2.5",
        "(1, 2)", "sin",   "sin(",  "fn1(",     "p1",       "#z",     "#pixel",  "if", "else",
        "endif",  "float", "\"s\"", "$ifdef",   "$else",    "$endif", "$define", "A",  ":",
        "\n",     "init:", "loop:", "default:", "bailout:", "param",  ";",       " "};
    for (int round = 0; round < 300; ++round) {
        TTestParser parser(static_cast<TTestFormulaKind>(round % 3));
        std::string bytes(random() % 200, '\0');
        for (char &c : bytes)
            c = static_cast<char>(random() % 256);
        parse(parser, bytes);
        std::string soup;
        for (int i = random() % 60; i > 0; --i)
            soup += pieces[random() % std::size(pieces)] + std::string(" ");
        parse(parser, soup);
    }
    const std::string formula =
        "global:\n  float g[4] = 0\ninit:\n  z = (0, 1) * @p1\nloop:\n"
        "  if |z| > 2 && !(real(z) < -1)\n    z = fn1(z) ^ 2 + #pixel\n  else\n"
        "    z = sin(z, a[1, 2])\n  endif\nbailout:\n  |z| < 4\ndefault:\n  title = \"t\"\n";
    TTestFormula parser;
    for (std::size_t length = 0; length <= formula.size(); ++length)
        parse(parser, formula.substr(0, length));
}

} // namespace
