// A compiled object on the checker for the tests of the settings parser, the checker and the
// type rules: it answers the stages' questions like a fractal formula, a coloring or a
// transformation, and runs the front end (tokenizer, parser, settings parser, checker) over a
// text without a file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompChecker.h"
#include "CompGlobalsTestSupport.h"
#include "TestFormulas.h"

class TCheckedFormula : public TTextCompiling<TChecker> {
public:
    explicit TCheckedFormula(TTestFormulaKind AKind) : TTextCompiling<TChecker>(AKind) {}
    DECLARE_CLASS_NAME(TCheckedFormula)

    void Generate() override {}

    // The statements, one line each, with types (see DumpTyped).
    std::vector<std::string> Statements() const;
    // The parameter of that name (any kind), or nullptr.
    TParam *FindParam(const std::string &Name) const;
};

// An expression as text with the types the checker gave: "x:f" is a float, types are c f i b a
// s k (colour) n (no value); storage references show their node ("x", "@p" for a parameter copy),
// conversions are "toint", "tofloat", "tocomplex", other functions "fID".
std::string DumpTyped(const TExpression *Expression);

// The first place in a checked statement where a node's operands do not have the types the
// type rules promise the code generator (operand pairs of every operator, argument types of
// every function and conversion, boolean conditions, integer indices, resolved names), as text;
// empty when there is none.
std::string TypeViolation(const TExpression *Statement);

// A formula text with one place marked by a backquote, which the tests use to say where a
// message belongs: Text is the text without the mark, Line and Column the mark's place (from 0).
struct TMarkedText {
    std::string Text;
    int Line = 0;
    int Column = 0;
};
TMarkedText Marked(const std::string &Text);

struct TMessageRecord {
    int Code;
    int Line;
    int Column;
    friend bool operator==(const TMessageRecord &, const TMessageRecord &) = default;
};
std::ostream &operator<<(std::ostream &Stream, const TMessageRecord &Record);

// The result of a compile: the error (code 0 when none) and the warnings recorded.
struct TCheckResult {
    TMessageRecord Error{0, 0, 0};
    std::vector<TMessageRecord> Warnings;
};

// A text that must fail with Code at its mark.
struct TErrorCase {
    const char *Name;
    TTestFormulaKind FormulaKind;
    const char *Text;
    int Code;
};
std::ostream &operator<<(std::ostream &Stream, const TErrorCase &Case);
// A test name made of the letters and digits of Name.
std::string CaseName(const char *Name);

// Compiles texts with a formula object of one kind and collects the messages through the global
// message list (started here when no other test started it).
class CheckerTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh object of Kind compiles Text; Formula keeps it for inspection.
    TCheckResult Compile(const std::string &Text, TTestFormulaKind Kind = TTestFormulaKind::Formula);

    // Compiles the case's text and expects its error at the mark.
    void ExpectErrorAtMark(const TErrorCase &Case);

    std::unique_ptr<TCheckedFormula> Formula;

private:
    TCompilerGlobals FGlobals;
};
