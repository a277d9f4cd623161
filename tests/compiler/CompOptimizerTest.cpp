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
class TOptimizedFormula : public TOptimizer, public TCodeGenerator {
public:
    explicit TOptimizedFormula(TTestFormulaKind AKind = TTestFormulaKind::Formula) : Rules(AKind) {}
    DECLARE_CLASS_NAME(TOptimizedFormula)

    // The front end over Text (LF line ends allowed), as a compile does, without generating.
    void CompileText(const std::string &Text) {
        std::string text;
        for (char c : Text) {
            if (c == '\n')
                text += '\r';
            text += c;
        }
        Expressions->Clear();
        Storage->Clear();
        Settings->Clear();
        Params->Clear();
        TEntryStream stream(text.data(), text.size());
        struct TScope {
            TOptimizedFormula &Owner;
            ~TScope() {
                Owner.Stream = nullptr;
                Owner.Params->HoldChanges = false;
                Owner.Params->ChangePending = false;
            }
        } scope{*this};
        Params->HoldChanges = true;
        Stream = &stream;
        InitCompile();
        Tokenizer->Tokenize(stream);
        Check();
        EndParse({stream.Line(), stream.Column()});
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
    void CompileSection(const std::string &Name, const std::uint8_t *Code, std::int32_t Size) override {
        Sections.emplace_back(Name, TBytes(Code, Code + Size));
    }

    void InitCompile() override {
        TOptimizer::InitCompile();
        Rules.Reset();
    }
    void GetLoopSection(std::string &Name) override { Name = Rules.LoopSection(); }
    void GetBailoutSection(std::string &Name) override { Name = Rules.BailoutSection(); }
    void GetDefaultSection(std::string &Name) override { Name = Rules.DefaultSection(); }
    void GetLeadingSection(const std::string &Label, std::string &Name) override {
        Name = Rules.LeadingSection(Label);
    }
    bool FindPredefinedSymbol(const std::string &Name, int &Id) override {
        return Rules.FindPredefinedSymbol(Name, Id);
    }
    void GetSectionKind(const std::string &Label, std::uint8_t &Kind) override {
        Kind = Rules.SectionKind(Label);
    }
    int GetSettingType(const std::string &Section, const std::string &Name, std::uint8_t &Type) override {
        return Rules.GetSettingType(Section, Name, Type);
    }
    int SetConstantSetting(const std::string &Section, const std::string &Name,
                           const TLiteral &Value) override {
        return Rules.SetConstantSetting(Section, Name, Value);
    }
    int SetIdentifierSetting(const std::string &Section, const TToken &Name, const TToken &Value) override {
        return Rules.SetIdentifierSetting(Section, Name, Value);
    }
    int SetStringSetting(const std::string &Section, const std::string &Name,
                         const std::string &Text) override {
        return Rules.SetStringSetting(Section, Name, Text);
    }
    bool IsFunctionAllowed(const std::string &Section, std::uint8_t FunctionId) override {
        return Rules.IsFunctionAllowed(Section, FunctionId);
    }
    bool IsPredefinedReadable(const std::string &Section, std::uint8_t SymbolId) override {
        return Rules.IsPredefinedReadable(Section, SymbolId);
    }
    bool IsPredefinedWritable(const std::string &Section, std::uint8_t SymbolId) override {
        return Rules.IsPredefinedWritable(Section, SymbolId);
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

    TTestFormulaRules Rules;
    bool WithCode = false;
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
        InitializeCompHugeRoutines();
    }
    void SetUp() override {
        if (!ErrorManager()) {
            InitializeCompMessages();
            FOwnMessages = true;
        }
    }
    void TearDown() override {
        if (ErrorManager())
            ErrorManager()->ClearFormula();
        Formula.reset();
        if (FOwnMessages)
            FinalizeCompMessages();
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
    bool FOwnMessages = false;
};

struct TFoldCase {
    const char *Name;
    const char *Text;
    std::vector<std::string> Expected;
};

std::ostream &operator<<(std::ostream &Stream, const TFoldCase &Case) {
    return Stream << Case.Name;
}

// Statements before the one under test: a float, a boolean and a complex value the optimizer
// cannot know.
const char *const Prelude = "float x = real(z)\nbool b = x > 1\nbool c = b\n";
const char *const PreludeX = "(= x real(#20))";
const char *const PreludeB = "(= b (> x k1))";
const char *const PreludeC = "(= c b)";

TEST_F(CompOptimizer, SimplifiesOperationsWithOneConstantOperand) {
    const TFoldCase cases[] = {
        {"x / 4 multiplies by the reciprocal", "x = x / 4", {"(= x (* x k0.25))"}},
        {"x / 3 multiplies by the rounded reciprocal", "x = x / 3", {"(= x (* x k0.33333333333333331))"}},
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
    for (const TFoldCase &c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::string> expected = {PreludeX, PreludeB, PreludeC};
        expected.insert(expected.end(), c.Expected.begin(), c.Expected.end());
        EXPECT_EQ(Optimize(std::string(Prelude) + c.Text).Statements(), expected);
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
        std::memcpy(Context + DataCell, &BlockAddress, 0);
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
    void *BlockAddress = nullptr;
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
        {"integer modulo by zero", "int a = 7\nint b = 0", "a % b", "7 % 0", "int"},
        {"integer overflow", "int a = 65536", "a * a + a", "65536 * 65536 + 65536", "int"},
        {"integer rounding", "float a = 2.5", "round(a) + trunc(-a)", "round(2.5) + trunc(-2.5)", "int"},
        {"comparison", "float a = 0.1\nfloat b = 0.3", "a + a + a > b", "0.1 + 0.1 + 0.1 > 0.3", "bool"},
        {"comparison with NaN", "float a = 0 / 0", "a == a", "(0 / 0) == (0 / 0)", "bool"},
    };
    for (std::uint8_t precision : {pmDouble, pmExtended, pmArbitrary}) {
        for (const TRunCase &c : cases) {
            SCOPED_TRACE(std::string(c.Name) + " in precision " + std::to_string(precision));
            const std::string text = std::string("init:\n") + c.Operands + "\n" + c.Type +
                                     " r1 = " + c.OnVariables + "\n" + c.Type + " r2 = " + c.OnConstants +
                                     "\n";
            TOptimizedFormula &formula = Optimize(text, precision, true);
            // The second value must have been folded into a constant.
            const std::string folded = formula.Statements().back();
            EXPECT_TRUE(folded.rfind("(= r2 ", 0) == 0 && folded.find('(', 1) == std::string::npos ||
                        folded.rfind("(= r2 k", 0) == 0)
                << folded;
            TSectionRunner run(formula);
            EXPECT_EQ(run.Value("r1"), run.Value("r2"));
        }
    }
}

} // namespace
