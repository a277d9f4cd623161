#include "CompOptimizer.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompEntriesTestSupport.h"
#include "CompGenerator.h"
#include "CompGlobalsTestSupport.h"
#include "CompHugeAccess.h"
#include "CompHugeRoutines.h"
#include "CompMessages.h"
#include "CompParams.h"
#include "CompRoutines.h"
#include "CompTokenizer.h"
#include "HugeFPU.h"
#include "TestFormulas.h"

namespace {

using TBytes = std::vector<std::uint8_t>;

// A compiled object on the optimizer with the code generator beside it, as the compiler class
// joins them. It answers the stages' questions like a fractal formula, a coloring or a
// transformation, records the optimized list of every generation as text and keeps the code of
// every section.
class TOptimizedFormula : public TTextCompiling<TOptimizer>, public TCodeGenerator {
public:
    explicit TOptimizedFormula(TTestFormulaKind AKind = TTestFormulaKind::Formula)
        : TTextCompiling<TOptimizer>(AKind) {}
    DECLARE_CLASS_NAME(TOptimizedFormula)

    // The front end over Text (LF line ends allowed), as a compile does, without generating.
    void CompileText(const std::string &Text) {
        std::string text;
        for (char c : Text) {
            if (c == '\n')
                text += '\r';
            text += c;
        }
        TTextCompiling<TOptimizer>::CompileText(text);
    }

    // Generate as the compile driver runs it: parameter changes made by settings start no
    // generation of their own.
    void GenerateNow() {
        Params->HoldChanges = true;
        struct TScope {
            TParamList &List;
            ~TScope() {
                List.HoldChanges = false;
                List.ChangePending = false;
            }
        } scope{*Params};
        Generate();
    }

    void CompileCode() override {
        GenerateCount++;
        Optimized.clear();
        for (TExpressionNode *node = GetOptimizedList()->GetFirst(); node; node = node->Next)
            Optimized.push_back(Dump(node->Expression.get()));
        Sections.clear();
        if (WithCode)
            GenerateSections(*GetOptimizedList(), GetStorage(), GetPrecision(), this);
    }
    // With OverrideFunction set, that function takes the routine of OverrideWith.
    void SelectFunctionRoutine(int Function, int ArgumentType, int ResultType, int &Routine) override {
        if (Function == OverrideFunction)
            Routine = CreateProcessorAccess(GetPrecision())
                          ->GetFunctionRoutine(OverrideWith, ArgumentType, ResultType);
    }
    // Objects without a source keep their parameters when a change asks for code.
    void GenerateEmpty() override {}
    void CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) override {
        Sections.emplace_back(Name, TBytes(Code, Code + Size));
    }

    TParam *FindParam(const std::string &Name) const {
        const int index = Params->IndexOfName(Name, pkOrdinary | pkFunction);
        return index >= 0 ? Params->GetItem(index) : nullptr;
    }
    int ConstantNodeCount() const {
        int count = 0;
        for (TStorageNode *node = Storage->GetFirst(); node; node = node->Next)
            count += node->Kind == skConstant;
        return count;
    }
    const TBytes *Section(const std::string &Name) const {
        for (const auto &section : Sections)
            if (section.first == Name)
                return &section.second;
        return nullptr;
    }

    // The optimized statements as text (see Dump), without section labels.
    std::vector<std::string> Statements() const {
        std::vector<std::string> lines;
        for (const std::string &line : Optimized)
            if (line.rfind("label ", 0) != 0)
                lines.push_back(line);
        return lines;
    }

    static std::string Dump(const TExpression *E);

    bool WithCode = false;
    int OverrideFunction = -1;
    int OverrideWith = -1;
    int GenerateCount = 0;
    std::vector<std::string> Optimized;
    std::vector<std::pair<std::string, TBytes>> Sections;
};

std::string RealText(long double Value) {
    if (std::isnan(Value))
        return "nan";
    if (std::isinf(Value))
        return Value < 0 ? "-inf" : "inf";
    char text[64];
    std::snprintf(text, sizeof text, "%.17Lg", Value);
    return text;
}

std::string ConstantText(const TConstant &Constant) {
    switch (Constant.Type) {
    case vtInteger:
        return std::to_string(static_cast<const TIntConstant &>(Constant).Value);
    case vtBoolean:
        return static_cast<const TBoolConstant &>(Constant).Value ? "true" : "false";
    case vtColor: {
        const auto &c = static_cast<const TColorConstant &>(Constant);
        return "rgba(" + RealText(c.Red) + "," + RealText(c.Green) + "," + RealText(c.Blue) + "," +
               RealText(c.Alpha) + ")";
    }
    case vtFloat:
        if (const auto *d = dynamic_cast<const TDoubleFloatConstant *>(&Constant))
            return RealText(d->Value);
        if (const auto *x = dynamic_cast<const TExtendedFloatConstant *>(&Constant))
            return RealText(x->Value);
        return RealText(static_cast<const THugeFloatConstant &>(Constant).Value.GetExtended());
    case vtComplex:
        if (const auto *d = dynamic_cast<const TDoubleComplexConstant *>(&Constant))
            return "(" + RealText(d->Re) + "," + RealText(d->Im) + ")";
        if (const auto *x = dynamic_cast<const TExtendedComplexConstant *>(&Constant))
            return "(" + RealText(x->Re) + "," + RealText(x->Im) + ")";
        {
            const auto &h = static_cast<const THugeComplexConstant &>(Constant);
            return "(" + RealText(h.Value.Re.GetExtended()) + "," + RealText(h.Value.Im.GetExtended()) + ")";
        }
    default:
        return "?";
    }
}

std::string FunctionText(int Id) {
    static const std::map<int, const char *> names = {{fnSin, "sin"},
                                                      {fnSqr, "sqr"},
                                                      {fnRecip, "recip"},
                                                      {fnToComplex, "tocomplex"},
                                                      {fnToFloat, "tofloat"},
                                                      {fnToInteger, "toint"},
                                                      {fnTimesTwo, "twice"},
                                                      {fnTimesI, "timesi"},
                                                      {fnTimesMinusI, "timesminusi"},
                                                      {fnCube, "cube"},
                                                      {fnFourthPower, "fourth"},
                                                      {fnCos, "cos"},
                                                      {fnExp, "exp"},
                                                      {fnReal, "real"},
                                                      {fnPrint, "print"}};
    const auto found = names.find(Id);
    return found != names.end() ? found->second : "f" + std::to_string(Id);
}

// Constants in the tree as their values, constant nodes as "k" and the value, variables by name,
// operators in prefix form, keywords by name.
std::string TOptimizedFormula::Dump(const TExpression *E) {
    if (!E)
        return "<none>";
    switch (E->Kind) {
    case ekConstant:
        return ConstantText(*static_cast<const TConstantExpression *>(E)->Constant);
    case ekStorage: {
        const auto &reference = static_cast<const TStorageExpression &>(*E);
        std::string text;
        switch (reference.Node->Kind) {
        case skVariable:
            text = static_cast<const TVariableNode *>(reference.Node)->Name;
            break;
        case skConstant:
            text = "k" + ConstantText(*static_cast<const TConstantNode *>(reference.Node)->Constant);
            break;
        case skParameter:
            text = "@" + static_cast<const TParameterNode *>(reference.Node)->ParameterName;
            break;
        default:
            text = "temp";
        }
        for (int i = 0; i < reference.Count(); i++)
            text += "[" + Dump(reference.Get(i)) + "]";
        return text;
    }
    case ekPredefined:
        return "#" + std::to_string(static_cast<const TPredefinedExpression *>(E)->SymbolId);
    case ekUnaryOperator: {
        const auto &unary = static_cast<const TUnaryOperatorExpression &>(*E);
        const char *name = unary.Operator == uoNegate ? "neg" : unary.Operator == uoModulus ? "mod" : "not";
        return std::string("(") + name + " " + Dump(unary.Operand.get()) + ")";
    }
    case ekBinaryOperator: {
        static const char *const names[] = {"?",  "+",  "-", "*",  "/", "^",  "=",  "%",
                                            "==", "!=", "<", "<=", ">", ">=", "&&", "||"};
        const auto &binary = static_cast<const TBinaryOperatorExpression &>(*E);
        return std::string("(") + names[binary.Operator] + " " + Dump(binary.Left.get()) + " " +
               Dump(binary.Right.get()) + ")";
    }
    case ekFunction: {
        const auto &call = static_cast<const TFunctionExpression &>(*E);
        std::string text = FunctionText(call.FunctionId) + "(";
        for (int i = 0; i < call.Count(); i++)
            text += (i ? " " : "") + Dump(call.Get(i));
        return text + ")";
    }
    case ekKeyword: {
        static const std::map<int, const char *> names = {
            {kwIf, "if"},       {kwElseIf, "elseif"},     {kwElse, "else"},     {kwEndIf, "endif"},
            {kwWhile, "while"}, {kwEndWhile, "endwhile"}, {kwRepeat, "repeat"}, {kwUntil, "until"}};
        const auto &keyword = static_cast<const TKeywordExpression &>(*E);
        const auto found = names.find(keyword.KeywordId);
        std::string text = found != names.end() ? found->second : "kw" + std::to_string(keyword.KeywordId);
        if (keyword.Operand)
            text += " " + Dump(keyword.Operand.get());
        return text;
    }
    case ekLabel:
        return "label " + static_cast<const TLabelExpression *>(E)->Name;
    case ekString:
        return "\"" + static_cast<const TStringExpression *>(E)->Text + "\"";
    default:
        return "kind" + std::to_string(E->Kind);
    }
}

class CompOptimizer : public testing::Test {
protected:
    static void SetUpTestSuite() {
        InitializeCompRoutines();
        InitializeCompHugeAccess();
    }
    void SetUp() override { FGlobals.Start(); }
    void TearDown() override {
        if (ErrorManager())
            ErrorManager()->ClearFormula();
        Formula.reset();
        FGlobals.Finish();
    }

    // A fresh formula compiles Text in Precision and generates once.
    TOptimizedFormula &Optimize(const std::string &Text, std::uint8_t Precision = pmDouble,
                                bool WithCode = false, TTestFormulaKind Kind = TTestFormulaKind::Formula) {
        Formula = std::make_unique<TOptimizedFormula>(Kind);
        Formula->WithCode = WithCode;
        Formula->SetDigits(30);
        Formula->SetPrecision(Precision);
        Formula->CompileText(Text);
        Formula->GenerateNow();
        return *Formula;
    }

    std::unique_ptr<TOptimizedFormula> Formula;

private:
    TCompilerGlobals FGlobals;
};

struct TFoldCase {
    const char *Name;
    const char *Text;
    std::vector<std::string> Expected;
};

// Statements before the one under test: a float, a boolean and a complex value the optimizer
// cannot know.
const char *const Prelude = "float x = real(z)\nbool b = x > 1\nbool c = b\n";
const char *const PreludeX = "(= x real(#20))";
const char *const PreludeB = "(= b (> x k1))";
const char *const PreludeC = "(= c b)";

TEST_F(CompOptimizer, SimplifiesOperationsWithOneConstantOperand) {
    const TFoldCase cases[] = {
        {"x / 4 multiplies by the reciprocal", "x = x / 4", {"(= x (* x k0.25))"}},
        {"x / 8 multiplies by the reciprocal", "x = x / -8", {"(= x (* x k-0.125))"}},
        // A reciprocal that is not exact would change the quotient: 3 / 3 must stay 1.
        {"x / 3 stays a division", "x = x / 3", {"(= x (/ x k3))"}},
        {"0 / x is 0", "x = 0 / x", {"(= x k0)"}},
        {"1 / x is recip", "x = 1 / x", {"(= x recip(x))"}},
        {"-1 / x is the negated recip", "x = -1 / x", {"(= x (neg recip(x)))"}},
        {"4 / x stays, the constant in storage", "x = 4 / x", {"(= x (/ k4 x))"}},
        {"x ^ 0 is 1", "x = x ^ 0", {"(= x k1)"}},
        {"z ^ 0 is the complex 1", "z = z ^ 0", {"(= #20 k(1,0))"}},
        {"x ^ 1 is x", "x = x ^ 1", {"(= x x)"}},
        {"x ^ -1 is recip", "x = x ^ -1", {"(= x recip(x))"}},
        {"x ^ 2 is sqr", "x = x ^ 2", {"(= x sqr(x))"}},
        {"z ^ 2 is sqr", "z = z ^ 2", {"(= #20 sqr(#20))"}},
        {"x ^ 3 is the cube", "x = x ^ 3", {"(= x cube(x))"}},
        {"z ^ 4 is the fourth power", "z = z ^ 4", {"(= #20 fourth(#20))"}},
        {"x ^ 5 stays", "x = x ^ 5", {"(= x (^ x k5))"}},
        {"x ^ 2.5 stays", "x = x ^ 2.5", {"(= x (^ x k2.5))"}},
        {"z * z is sqr", "z = z * z", {"(= #20 sqr(#20))"}},
        {"x * x is sqr", "x = x * x", {"(= x sqr(x))"}},
        {"x * 1 is x", "x = x * 1", {"(= x x)"}},
        {"1 * x is x", "x = 1 * x", {"(= x x)"}},
        {"x * -1 is the negation", "x = x * -1", {"(= x (neg x))"}},
        {"x * 2 doubles", "x = x * 2", {"(= x twice(x))"}},
        {"x * 3 puts the constant left", "x = x * 3", {"(= x (* k3 x))"}},
        {"x * 0 is 0", "x = x * 0", {"(= x k0)"}},
        {"sin(z) * 0 is 0 without calling sin", "z = sin(z) * 0", {"(= #20 k(0,0))"}},
        {"a product with an assignment inside keeps it",
         "x = (c = b) * 0",
         {"(= x tofloat((* 0 toint((= c b)))))"}},
        {"z * i", "z = z * (0,1)", {"(= #20 timesi(#20))"}},
        {"-i * z", "z = (0,-1) * z", {"(= #20 timesminusi(#20))"}},
        {"i times a float needs no conversion", "z = (0,1) * x", {"(= #20 timesi(x))"}},
        {"a float doubled by a complex 2 becomes complex first",
         "z = x * (2,0)",
         {"(= #20 twice(tocomplex(x)))"}},
        {"a complex 1 over a float", "z = (1,0) / x", {"(= #20 recip(tocomplex(x)))"}},
        {"false && x is false", "b = false && c", {"(= b false)"}},
        {"x && true is x", "b = c && true", {"(= b c)"}},
        {"false && an assignment stays", "b = false && (c = true)", {"(= b (&& false (= c true)))"}},
        {"true || an assignment stays", "b = true || (c = true)", {"(= b (|| true (= c true)))"}},
        {"x || false is x", "b = c || false", {"(= b c)"}},
        {"x || true is true", "b = c || true", {"(= b true)"}},
        {"constants fold through the routines", "x = x + 2 * 3 - 1", {"(= x (- (+ x k6) k1))"}},
        {"integer arithmetic folds to immediates", "int i = 7 * 6 % 5", {"(= i 2)"}},
    };
    // The constants classify alike in every precision (exactly in arbitrary precision).
    for (std::uint8_t precision : {pmDouble, pmExtended, pmArbitrary}) {
        for (const TFoldCase &c : cases) {
            SCOPED_TRACE(std::string(c.Name) + " in precision " + std::to_string(precision));
            std::vector<std::string> expected = {PreludeX, PreludeB, PreludeC};
            expected.insert(expected.end(), c.Expected.begin(), c.Expected.end());
            EXPECT_EQ(Optimize(std::string(Prelude) + c.Text, precision).Statements(), expected);
        }
    }
}

TEST_F(CompOptimizer, ResolvesConstantConditions) {
    const TFoldCase cases[] = {
        {"true IF keeps its branch",
         "if true\nz = 1\nelse\nz = 2\nendif\nz = 9",
         {"(= #20 k(1,0))", "(= #20 k(9,0))"}},
        {"false IF keeps the else branch",
         "if false\nz = 1\nelse\nz = 2\nendif\nz = 9",
         {"(= #20 k(2,0))", "(= #20 k(9,0))"}},
        {"false IF without else goes", "if false\nz = 1\nendif\nz = 9", {"(= #20 k(9,0))"}},
        {"false IF with an empty else", "if false\nz = 1\nelse\nendif\nz = 9", {"(= #20 k(9,0))"}},
        {"false IF hands over to its ELSEIF",
         "if false\nz = 1\nelseif b\nz = 2\nelse\nz = 3\nendif",
         {"if b", "(= #20 k(2,0))", "else", "(= #20 k(3,0))", "endif"}},
        {"true ELSEIF becomes ELSE",
         "if b\nz = 1\nelseif true\nz = 2\nelse\nz = 3\nendif",
         {"if b", "(= #20 k(1,0))", "else", "(= #20 k(2,0))", "endif"}},
        {"false ELSEIF goes",
         "if b\nz = 1\nelseif false\nz = 2\nelse\nz = 3\nendif",
         {"if b", "(= #20 k(1,0))", "else", "(= #20 k(3,0))", "endif"}},
        {"true IF drops every later branch",
         "if true\nz = 1\nelseif b\nz = 2\nelse\nz = 3\nendif",
         {"(= #20 k(1,0))"}},
        {"a chain of false conditions",
         "if false\nz = 1\nelseif false\nz = 2\nelseif true\nz = 3\nendif",
         {"(= #20 k(3,0))"}},
        {"nested constant IF inside a kept branch",
         "if true\nif false\nz = 1\nelse\nz = 2\nendif\nelse\nz = 3\nendif",
         {"(= #20 k(2,0))"}},
        {"nested IF inside a removed branch",
         "if false\nif b\nz = 1\nendif\nz = 4\nelse\nz = 2\nendif",
         {"(= #20 k(2,0))"}},
        {"removed branch before a nested kept IF",
         "if b\nz = 1\nelseif false\nif c\nz = 2\nendif\nelse\nz = 3\nendif",
         {"if b", "(= #20 k(1,0))", "else", "(= #20 k(3,0))", "endif"}},
        {"condition folded from constants", "if 2 > 3 || 1 == 1\nz = 1\nendif", {"(= #20 k(1,0))"}},
        {"WHILE conditions stay",
         "while false\nz = 1\nendwhile",
         {"while false", "(= #20 k(1,0))", "endwhile"}},
    };
    for (const TFoldCase &c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> expected = {PreludeX, PreludeB, PreludeC};
        expected.insert(expected.end(), c.Expected.begin(), c.Expected.end());
        EXPECT_EQ(Optimize(std::string(Prelude) + c.Text).Statements(), expected);
    }
}

// The code of every section run once, in order, over a zeroed context and the formula's data
// block; the values of variables are read back afterwards.
class TSectionRunner {
public:
    explicit TSectionRunner(TOptimizedFormula &AFormula) : Formula(AFormula) {
        TStorageList &storage = Formula.GetStorage();
        Data.assign(static_cast<std::size_t>(std::max(storage.DataSize, 1)) + 16, 0);
        storage.InitData(Block());
        std::memset(Context, 0, sizeof Context);
        std::uint8_t *block = Block();
        std::memcpy(Context + DataCell, &block, sizeof block);
        if (Formula.GetPrecision() == pmArbitrary)
            Processor = std::make_unique<THugeProcessor>(Formula.GetDigits());
        for (const auto &section : Formula.Sections) {
            TRoutineAssembler routine;
            routine.Precision = Formula.GetPrecision();
            routine.EmitEntry();
            routine.EmitPushData(DataCell);
            routine.Emit(section.second.data(), static_cast<std::int32_t>(section.second.size()));
            routine.EmitPopData();
            routine.EmitExit();
            routine.Execute(Context, Processor.get());
        }
    }
    ~TSectionRunner() { Formula.GetStorage().DoneData(Block()); }

    // The bytes that make up the value of variable Name (for arbitrary precision: the text of
    // every part).
    std::string Value(const std::string &Name) {
        const TVariableNode *node = Formula.GetStorage().FindVariable(Name);
        if (!node)
            return "<no variable " + Name + ">";
        const std::uint8_t *at = Block() + node->Offset;
        const std::uint8_t precision = Formula.GetPrecision();
        const int parts = node->DataType == vtComplex ? 2 : 1;
        std::string bytes;
        switch (node->DataType) {
        case vtComplex:
        case vtFloat:
            for (int part = 0; part < parts; part++) {
                if (precision == pmDouble) {
                    bytes.append(reinterpret_cast<const char *>(at + 8 * part), 8);
                } else if (precision == pmExtended) {
                    bytes.append(reinterpret_cast<const char *>(at + 16 * part), 10);
                } else {
                    const THugeFloatBase *value;
                    std::memcpy(&value, at + 4 * part, sizeof value);
                    bytes += value->GetText() + (value->FSign ? "-" : "+") + ";";
                }
            }
            return bytes;
        case vtInteger:
            return std::string(reinterpret_cast<const char *>(at), 4);
        case vtBoolean:
            return std::string(reinterpret_cast<const char *>(at), 1);
        case vtColor:
            return std::string(reinterpret_cast<const char *>(at), 16);
        default:
            return "<type>";
        }
    }

private:
    static constexpr int DataCell = 0x200;
    std::uint8_t *Block() {
        auto address = reinterpret_cast<std::uintptr_t>(Data.data());
        return Data.data() + ((16 - address % 16) % 16);
    }

    TOptimizedFormula &Formula;
    std::vector<std::uint8_t> Data;
    alignas(16) std::uint8_t Context[1024];
    std::unique_ptr<THugeProcessor> Processor;
};

struct TRunCase {
    const char *Name;
    // Assignments of the variables a and b, in the language.
    const char *Operands;
    // The operation on the variables and the same operation written with constants.
    const char *OnVariables;
    const char *OnConstants;
    const char *Type;
    TTestFormulaKind Kind = TTestFormulaKind::Formula;
};

TEST_F(CompOptimizer, FoldedValuesEqualTheValuesTheCodeComputes) {
    const TRunCase cases[] = {
        {"float sine", "float a = 0.5", "sin(a)", "sin(0.5)", "float"},
        {"float power", "float a = 2\nfloat b = 0.5", "a ^ b", "2 ^ 0.5", "float"},
        {"float quotient", "float a = 1\nfloat b = 3", "a / b + b / a", "1 / 3 + 3 / 1", "float"},
        {"float sum with rounding", "float a = 0.1\nfloat b = 0.2", "a + b", "0.1 + 0.2", "float"},
        {"float modulo", "float a = 7.5\nfloat b = 2", "a % b", "7.5 % 2", "float"},
        {"float arc tangent", "float a = 3", "atan(a)", "atan(3)", "float"},
        {"float of a NaN", "float a = 0 / 0", "a * 2", "(0 / 0) * 2", "float"},
        {"float overflow", "float a = 1e300", "a * a * a", "1e300 * 1e300 * 1e300", "float"},
        {"float huge exponent", "float a = 2\nfloat b = 100000", "a ^ b", "2 ^ 100000", "float"},
        {"float division by zero", "float a = 1\nfloat b = 0", "a / b", "1 / 0", "float"},
        {"complex exponential", "complex a = (1, 2)", "exp(a)", "exp((1, 2))", "complex"},
        {"complex power", "complex a = (3, 4)\ncomplex b = (0.5, 0.1)", "a ^ b", "(3, 4) ^ (0.5, 0.1)",
         "complex"},
        {"complex square root of a negative", "complex a = (-2, 0)", "sqrt(a)", "sqrt((-2, 0))", "complex"},
        {"complex logarithm of 0", "complex a = 0", "log(a)", "log(0)", "complex"},
        {"complex division by zero", "complex a = (1, 2)\nfloat b = 0", "a / b", "(1, 2) / 0", "complex"},
        {"complex huge exponent", "complex a = (1, 1)\ncomplex b = (1e300, 0)", "a ^ b",
         "(1, 1) ^ (1e300, 0)", "complex"},
        {"complex cotangent", "complex a = (0.3, 0.7)", "cotanh(a) + cos(a) * tan(a)",
         "cotanh((0.3, 0.7)) + cos((0.3, 0.7)) * tan((0.3, 0.7))", "complex"},
        {"complex modulus", "complex a = (3, 4)", "|a| + cabs(a)", "|(3, 4)| + cabs((3, 4))", "float"},
        {"complex reciprocal", "complex a = (0.25, -8)", "recip(a) * flip(a)",
         "recip((0.25, -8)) * flip((0.25, -8))", "complex"},
        {"NaN exponent", "complex a = (0.5, 0.5)\nfloat b = 0 / 0", "a ^ b", "(0.5, 0.5) ^ (0 / 0)",
         "complex"},
        {"float square root of a negative", "float a = -1", "sqrt(a)", "sqrt(-1)", "float"},
        {"float tangent of a huge argument", "float a = 1e300", "tan(a)", "tan(1e300)", "float"},
        {"literal beyond the range", "float a = 1e5000", "a * 2", "1e5000 * 2", "float"},
        {"rounding beyond the integer range", "float a = 1e300", "round(a)", "round(1e300)", "int"},
        {"integer modulo by zero", "int a = 7\nint b = 0", "a % b", "7 % 0", "int"},
        {"integer overflow", "int a = 65536", "a * a + a", "65536 * 65536 + 65536", "int"},
        {"integer rounding", "float a = 2.5", "round(a) + trunc(-a)", "round(2.5) + trunc(-2.5)", "int"},
        {"comparison", "float a = 0.1\nfloat b = 0.3", "a + a + a > b", "0.1 + 0.1 + 0.1 > 0.3", "bool"},
        {"comparison with NaN", "float a = 0 / 0", "a == a", "(0 / 0) == (0 / 0)", "bool"},
        {"colour from floats", "float a = 0.3\nfloat b = 1.7", "rgba(a, b, -a, a * b)",
         "rgba(0.3, 1.7, -0.3, 0.3 * 1.7)", "color", TTestFormulaKind::Coloring},
        {"colour from hue", "float a = 0.3\nfloat b = 0.9", "hsl(a * 20, b, a)", "hsl(0.3 * 20, 0.9, 0.3)",
         "color", TTestFormulaKind::Coloring},
        {"colour blend", "color a = rgb(0.25, 0.5, 1)\ncolor b = rgba(1, 0, 0, 0.5)",
         "blend(a, b, 0.3) + compose(a, b, 0.5)",
         "blend(rgb(0.25, 0.5, 1), rgba(1, 0, 0, 0.5), 0.3) + compose(rgb(0.25, 0.5, 1), rgba(1, 0, 0, 0.5), "
         "0.5)",
         "color", TTestFormulaKind::Coloring},
        {"colour parts", "color a = hsla(2, 0.5, 0.25, 0.75)", "hue(a) + sat(a) * lum(a) - alpha(a) * red(a)",
         "hue(hsla(2, 0.5, 0.25, 0.75)) + sat(hsla(2, 0.5, 0.25, 0.75)) * lum(hsla(2, 0.5, 0.25, 0.75)) - "
         "alpha(hsla(2, 0.5, 0.25, 0.75)) * red(hsla(2, 0.5, 0.25, 0.75))",
         "float", TTestFormulaKind::Coloring},
    };
    for (std::uint8_t precision : {pmDouble, pmExtended, pmArbitrary}) {
        for (const TRunCase &c : cases) {
            SCOPED_TRACE(std::string(c.Name) + " in precision " + std::to_string(precision));
            const std::string text = std::string("init:\n") + c.Operands + "\n" + c.Type +
                                     " r1 = " + c.OnVariables + "\n" + c.Type + " r2 = " + c.OnConstants +
                                     "\n";
            TOptimizedFormula &formula = Optimize(text, precision, true, c.Kind);
            // The second value must have been folded into a constant.
            const std::string folded = formula.Statements().back();
            const bool immediate = folded.rfind("(= r2 ", 0) == 0 && folded.find('(', 1) == std::string::npos;
            EXPECT_TRUE(immediate || folded.rfind("(= r2 k", 0) == 0) << folded;
            TSectionRunner run(formula);
            EXPECT_EQ(run.Value("r1"), run.Value("r2"));
        }
    }
}

TEST_F(CompOptimizer, ParameterValuesAreConstants) {
    // z ^ @p1 with p1 set to 2 is a square.
    Formula = std::make_unique<TOptimizedFormula>();
    Formula->CompileText("z = z ^ @p1\nz = fn1(z) + fn1(0.5)\nz = z * @p2");
    auto *p1 = dynamic_cast<TComplexParam *>(Formula->FindParam("p1"));
    auto *p2 = dynamic_cast<TComplexParam *>(Formula->FindParam("p2"));
    auto *fn1 = dynamic_cast<TFuncParam *>(Formula->FindParam("fn1"));
    ASSERT_TRUE(p1 && p2 && fn1);
    p1->Value.SetText("2", "0");
    p2->Value.SetText("0", "-1");
    fn1->SetValue(fnCos);
    Formula->GenerateNow();
    EXPECT_EQ(Formula->Statements(),
              (std::vector<std::string>{"(= #20 sqr(#20))", "(= #20 (+ cos(#20) k(0.87758256189037276,-0)))",
                                        "(= #20 timesminusi(#20))"}));

    // Other values give other code the next time.
    p1->Value.SetText("3", "0");
    fn1->SetValue(fnIdent);
    p2->Value.SetText("1.5", "0");
    Formula->GenerateNow();
    EXPECT_EQ(Formula->Statements(),
              (std::vector<std::string>{"(= #20 cube(#20))", "(= #20 (+ f22(#20) k(0.5,0)))",
                                        "(= #20 (* k(1.5,0) #20))"}));
}

TEST_F(CompOptimizer, AWrittenParameterStartsFromItsValue) {
    Formula = std::make_unique<TOptimizedFormula>();
    Formula->CompileText("@q = @q + 1\nz = @q * 2");
    static_cast<TComplexParam *>(Formula->FindParam("q"))->Value.SetText("3", "0.5");
    Formula->GenerateNow();
    // Only the copy's start folds. The copy is a variable, also on the right side of the first
    // write: folding that read would make a loop write the same value on every pass.
    EXPECT_EQ(Formula->Statements(),
              (std::vector<std::string>{"(= @q k(3,0.5))", "(= @q (+ @q k1))", "(= #20 twice(@q))"}));
}

TEST_F(CompOptimizer, FoldsWithTheRoutineTheFormulaClassSelects) {
    // A formula class that computes sin with the cosine routine: the folded value must follow.
    Formula = std::make_unique<TOptimizedFormula>();
    Formula->OverrideFunction = fnSin;
    Formula->OverrideWith = fnCos;
    Formula->CompileText("float x = sin(0.5)");
    Formula->GenerateNow();
    EXPECT_EQ(Formula->Statements(), (std::vector<std::string>{"(= x k0.87758256189037276)"}));
}

TEST_F(CompOptimizer, ColorParametersBecomeFloatColors) {
    Optimize("init:\ncolor k2 = @k\ndefault:\ncolor param k\nendparam\n", pmDouble, false,
             TTestFormulaKind::Coloring);
    // Bytes blue 51, green 0, red 255, alpha 255: fractions of 255.
    static_cast<TColorParam *>(Formula->FindParam("k"))->SetValue(0xFFFF0033);
    Formula->GenerateNow();
    EXPECT_EQ(Formula->Statements(), (std::vector<std::string>{"(= k2 krgba(1,0,0.20000000298023224,1))"}));
}

TEST_F(CompOptimizer, PredefinedSymbolsTakeTheLocationValues) {
    Formula = std::make_unique<TOptimizedFormula>();
    Formula->CompileText("z = #pi + #e\nz = #center\nz = #screenmax\nint i = #width + #height * #maxiter\n"
                         "float x = #magn + #angle + #stretch + #skew + #randomrange\nz = #pixel");
    TFormulaConstants &constants = Formula->GetConstants();
    constants.Center.SetText("-0.75", "0.125");
    constants.SetWidth(640);
    constants.SetHeight(480);
    constants.SetMaxIter(100);
    constants.Magn.SetText("1e10");
    constants.Angle.SetText("0.5");
    constants.Stretch.SetText("2");
    constants.Skew.SetText("0.25");
    Formula->GenerateNow();
    EXPECT_EQ(Formula->Statements(),
              (std::vector<std::string>{"(= #20 k(5.8598744820488378,0))", "(= #20 k(-0.75,0.125))",
                                        "(= #20 k(640,480))", "(= i 48640)", "(= x k12147483650.75)",
                                        "(= #20 #0)"}));
}

TEST_F(CompOptimizer, EqualConstantsShareOneNode) {
    Optimize("float x = real(z)\nx = x * 1.5\nx = x + 1.5\nx = x - 2.5\nz = z * (1.5, 0)");
    // 1.5, 2.5 and the complex 1.5 (the float 1 of the comparison in real() is not there).
    EXPECT_EQ(Formula->ConstantNodeCount(), 3);
    // A second generation starts from a storage list without the earlier constants.
    Formula->GenerateNow();
    EXPECT_EQ(Formula->ConstantNodeCount(), 3);
}

TEST_F(CompOptimizer, DeclarationsGetTheFoldedDimensions) {
    Optimize(
        "init:\nfloat a[3 - 3]\nfloat b[2, @n + 1]\nz = 0\ndefault:\nint param n\ndefault = 4\nendparam\n");
    EXPECT_EQ(Formula->GetStorage().FindVariable("a")->GetElementCount(), 1);
    EXPECT_EQ(Formula->GetStorage().FindVariable("b")->GetElementCount(), 10);
    // Declarations leave no statement.
    EXPECT_EQ(Formula->Statements(), (std::vector<std::string>{"(= #20 k(0,0))"}));

    // A parameter that makes the array too large is a compile error, not an allocation.
    static_cast<TIntParam *>(Formula->FindParam("n"))->SetValue(2000000000);
    try {
        Formula->GenerateNow();
        ADD_FAILURE() << "no error";
    } catch (const ECompileError &error) {
        EXPECT_EQ(error.Code, ceLiteralOutOfRange);
        EXPECT_EQ(error.Position(), (TCompilePosition{2, 14}));
    }
    EXPECT_EQ(Formula->GetOptimizedList(), nullptr);
}

TEST_F(CompOptimizer, SettingsTakeTheirFoldedValues) {
    Optimize("init:\nz = @f\ndefault:\nfloat param f\ndefault = 2 * pi\nendparam\n");
    auto *f = static_cast<TFloatParam *>(Formula->FindParam("f"));
    EXPECT_NEAR(static_cast<double>(f->Default.GetValue()), 6.283185307179586, 1e-13);
    EXPECT_NEAR(static_cast<double>(f->Value.GetValue()), 6.283185307179586, 1e-13);
    // A value the user chose stays when the setting is applied again.
    f->Value.SetText("1.25");
    f->Modified = true;
    Formula->GenerateNow();
    EXPECT_EQ(f->Value.GetText(), "1.25");
    EXPECT_EQ(Formula->Statements(), (std::vector<std::string>{"(= #20 k(1.25,0))"}));
}

// The folded values of these are checked against the generated code's in
// FoldedValuesEqualTheValuesTheCodeComputes; here the shape of the folded statement.
TEST_F(CompOptimizer, ExtremeConstantsFoldWithoutFailing) {
    const TFoldCase cases[] = {
        {"division by a constant zero", "x = x / 0", {"(= x (/ x k0))"}},
        {"constant division by zero", "x = 1 / 0 + x", {"(= x (+ kinf x))"}},
        {"zero over zero", "x = (0 / 0) * x", {"(= x (* knan x))"}},
        {"huge float exponent", "x = 2 ^ 100000", {"(= x kinf)"}},
        {"literal beyond the range", "x = 1e5000 * x", {"(= x (* kinf x))"}},
        {"integer modulo by zero", "int i = 7 % 0", {"(= i 0)"}},
        {"integer overflow", "int i = 2147483647 + 1", {"(= i -2147483648)"}},
        {"rounding beyond the integer range", "int i = round(1e300)", {"(= i -2147483648)"}},
    };
    for (std::uint8_t precision : {pmDouble, pmExtended}) {
        for (const TFoldCase &c : cases) {
            SCOPED_TRACE(std::string(c.Name) + " in precision " + std::to_string(precision));
            std::vector<std::string> statements;
            EXPECT_NO_THROW(
                statements = Optimize(std::string("float x = real(z)\n") + c.Text, precision).Statements());
            ASSERT_EQ(statements.size(), 2u);
            EXPECT_EQ(statements[1], c.Expected[0]);
        }
    }
}

TEST_F(CompOptimizer, ChangedValuesRegenerateTheCode) {
    TTempFolder folder;
    const std::string file = folder.File("optimizer.ofm");
    WriteFileBytes(file, "Test {\r\n"
                         "init:\r\n"
                         "  int w = #width\r\n"
                         "  if @p1 == 1\r\n"
                         "    z = 1\r\n"
                         "  else\r\n"
                         "    z = 2\r\n"
                         "  endif\r\n"
                         "}\r\n");
    Formula = std::make_unique<TOptimizedFormula>();
    Formula->SetSource(file, "Test");
    ASSERT_FALSE(Formula->GetHasError());
    EXPECT_EQ(Formula->GenerateCount, 1);
    EXPECT_EQ(Formula->Statements(), (std::vector<std::string>{"(= w 0)", "(= #20 k(2,0))"}));

    // A parameter picks the other branch.
    static_cast<TComplexParam *>(Formula->FindParam("p1"))->Value.SetText("1", "0");
    EXPECT_EQ(Formula->GenerateCount, 2);
    EXPECT_EQ(Formula->Statements(), (std::vector<std::string>{"(= w 0)", "(= #20 k(1,0))"}));

    // The image width reaches WIDTH.
    Formula->GetConstants().SetWidth(800);
    EXPECT_EQ(Formula->GenerateCount, 3);
    EXPECT_EQ(Formula->Statements(), (std::vector<std::string>{"(= w 800)", "(= #20 k(1,0))"}));

    // All values of a location at once: one more generation.
    TFormulaConstants location;
    location.SetWidth(1024);
    location.SetHeight(768);
    location.SetMaxIter(500);
    location.Magn.SetText("4");
    location.Center.SetText("0.5", "0.5");
    Formula->GetConstants().Assign(location);
    EXPECT_EQ(Formula->GenerateCount, 4);
    EXPECT_EQ(Formula->Statements(), (std::vector<std::string>{"(= w 1024)", "(= #20 k(1,0))"}));
    // Nothing is kept of the optimized list between generations.
    EXPECT_EQ(Formula->GetOptimizedList(), nullptr);
}

TEST(CompOptimizerClassify, ClassifiesConstantsByValue) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto huge = [](const char *Text) {
        auto constant = std::make_unique<THugeFloatConstant>(40);
        FloatTextToHuge(Text, constant->Value);
        return constant;
    };
    auto hugeComplex = [](const char *Re, const char *Im) {
        auto constant = std::make_unique<THugeComplexConstant>(40);
        FloatTextToHuge(Re, constant->Value.Re);
        FloatTextToHuge(Im, constant->Value.Im);
        return constant;
    };
    auto hugeNaN = std::make_unique<THugeFloatConstant>(40);
    hugeNaN->Value.SetNaN();
    struct TCase {
        const char *Name;
        std::unique_ptr<TConstant> Constant;
        int Class;
    };
    TCase cases[] = {
        {"double 0", std::make_unique<TDoubleFloatConstant>(0.0), ccZero},
        {"double -0", std::make_unique<TDoubleFloatConstant>(-0.0), ccZero},
        {"double 1", std::make_unique<TDoubleFloatConstant>(1.0), ccOne},
        {"double -1", std::make_unique<TDoubleFloatConstant>(-1.0), ccMinusOne},
        {"double 2", std::make_unique<TDoubleFloatConstant>(2.0), ccTwo},
        {"double 3", std::make_unique<TDoubleFloatConstant>(3.0), ccThree},
        {"double 4", std::make_unique<TDoubleFloatConstant>(4.0), ccFour},
        {"double near 2", std::make_unique<TDoubleFloatConstant>(2.0000000000000004), ccNone},
        {"double NaN", std::make_unique<TDoubleFloatConstant>(nan), ccNone},
        {"extended 1 + 2^-63", std::make_unique<TExtendedFloatConstant>(1.0L + 0x1p-63L), ccNone},
        {"extended -1", std::make_unique<TExtendedFloatConstant>(-1.0L), ccMinusOne},
        {"complex 2", std::make_unique<TDoubleComplexConstant>(2.0, 0.0), ccTwo},
        {"complex i", std::make_unique<TExtendedComplexConstant>(0.0L, 1.0L), ccI},
        {"complex -i", std::make_unique<TDoubleComplexConstant>(0.0, -1.0), ccMinusI},
        {"complex 1 + i", std::make_unique<TDoubleComplexConstant>(1.0, 1.0), ccNone},
        {"complex 2i", std::make_unique<TDoubleComplexConstant>(0.0, 2.0), ccNone},
        {"complex with NaN part", std::make_unique<TDoubleComplexConstant>(nan, 0.0), ccNone},
        {"integer 4", std::make_unique<TIntConstant>(4), ccFour},
        {"integer -1", std::make_unique<TIntConstant>(-1), ccMinusOne},
        {"integer 5", std::make_unique<TIntConstant>(5), ccNone},
        {"boolean", std::make_unique<TBoolConstant>(true), ccNone},
        {"colour", std::make_unique<TColorConstant>(1.0f, 0.0f, 0.0f, 1.0f), ccNone},
        {"arbitrary 3", huge("3"), ccThree},
        {"arbitrary 0", huge("0"), ccZero},
        {"arbitrary 1 + 10^-35", huge("1.00000000000000000000000000000000001"), ccNone},
        {"arbitrary NaN", std::move(hugeNaN), ccNone},
        {"arbitrary complex -i", hugeComplex("0", "-1"), ccMinusI},
        {"arbitrary complex -1", hugeComplex("-1", "0"), ccMinusOne},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(ClassifyConstant(*c.Constant), c.Class) << c.Name;
}

TEST(CompOptimizerConstants, ReportsEachChangeOnce) {
    TFormulaConstants constants;
    int changes = 0;
    struct TCounter {
        static void Changed(void *Data, TObject *) { ++*static_cast<int *>(Data); }
    };
    constants.OnChange = TNotifyEvent(&TCounter::Changed, &changes);

    constants.SetWidth(640);
    constants.SetWidth(640);
    constants.SetHeight(480);
    constants.SetMaxIter(250);
    constants.Magn.SetText("2");
    constants.Center.SetText("1", "-1");
    EXPECT_EQ(changes, 5);

    TFormulaConstants other;
    other.Assign(constants);
    EXPECT_EQ(other.GetWidth(), 640);
    EXPECT_EQ(other.GetHeight(), 480);
    EXPECT_EQ(other.GetMaxIter(), 250);
    EXPECT_EQ(other.Magn.GetText(), "2");
    EXPECT_EQ(other.Center.Im.GetText(), "-1");

    changes = 0;
    other.Angle.SetText("0.5");
    other.Skew.SetText("0.1");
    other.Stretch.SetText("3");
    other.SetWidth(1);
    constants.Assign(other);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(constants.Stretch.GetText(), "3");
    EXPECT_EQ(constants.GetWidth(), 1);
    constants.Assign(other);
    EXPECT_EQ(changes, 1);
}

} // namespace
