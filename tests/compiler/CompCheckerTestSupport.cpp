#include "CompCheckerTestSupport.h"

#include <cctype>
#include <initializer_list>
#include <ostream>

#include "CompAccess.h"
#include "CompMessages.h"
#include "CompParams.h"
#include "CompTokenizer.h"

// ---------------------------------------------------------------------------------------------
// TCheckedFormula

std::vector<std::string> TCheckedFormula::Statements() const {
    std::vector<std::string> lines;
    for (TExpressionNode *node = Expressions->GetFirst(); node; node = node->Next)
        lines.push_back(DumpTyped(node->Expression.get()));
    return lines;
}

TParam *TCheckedFormula::FindParam(const std::string &Name) const {
    const int index = Params->IndexOfName(Name, pkOrdinary | pkFunction);
    return index >= 0 ? Params->GetItem(index) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// DumpTyped

namespace {

const char *TypeLetter(std::uint8_t Type) {
    switch (Type) {
    case vtComplex:
        return "c";
    case vtFloat:
        return "f";
    case vtInteger:
        return "i";
    case vtBoolean:
        return "b";
    case vtArray:
        return "a";
    case vtString:
        return "s";
    case vtColor:
        return "k";
    case vtNone:
        return "n";
    default:
        return "?";
    }
}

std::string Typed(const TExpression &Expression, const std::string &Text) {
    if (auto common = dynamic_cast<const TCommonExpression *>(&Expression); common && !common->TypeSet)
        return Text + ":-";
    return Text + ":" + TypeLetter(Expression.GetReturnType());
}

const char *OperatorName(int Operator) {
    static const char *const names[] = {"?",  "+",  "-", "*",  "/", "^",  "=",  "%",
                                        "==", "!=", "<", "<=", ">", ">=", "&&", "||"};
    return Operator >= 0 && Operator <= 15 ? names[Operator] : "?";
}

std::string FunctionName(int Id) {
    switch (Id) {
    case fnToInteger:
        return "toint";
    case fnToFloat:
        return "tofloat";
    case fnToComplex:
        return "tocomplex";
    default:
        return "f" + std::to_string(Id);
    }
}

std::string List(const TExpressionArray &Items, const char *Open, const char *Close) {
    std::string text = Open;
    for (int i = 0; i < Items.Count(); i++)
        text += (i ? " " : "") + DumpTyped(Items.Get(i));
    return text + Close;
}

std::string StorageName(const TStorageNode *Node) {
    switch (Node->Kind) {
    case skVariable:
        return static_cast<const TVariableNode *>(Node)->Name;
    case skParameter:
        return "copy@" + static_cast<const TParameterNode *>(Node)->ParameterName;
    default:
        return "<node>";
    }
}

} // namespace

std::string DumpTyped(const TExpression *Expression) {
    if (!Expression)
        return "<none>";
    const TExpression &e = *Expression;
    switch (e.Kind) {
    case ekLiteral:
        return static_cast<const TLiteralExpression &>(e).Literal->GetText();
    case ekVariable:
        return Typed(e, static_cast<const TVariableExpression &>(e).Name);
    case ekParameter:
        return Typed(e, "@" + static_cast<const TParameterExpression &>(e).Name);
    case ekUserFunction: {
        const auto &call = static_cast<const TUserFunctionExpression &>(e);
        return Typed(e, call.Name + List(call.Arguments, "(", ")"));
    }
    case ekPredefined:
        return Typed(e, "#" + std::to_string(static_cast<const TPredefinedExpression &>(e).SymbolId));
    case ekUnaryOperator: {
        const auto &unary = static_cast<const TUnaryOperatorExpression &>(e);
        const char *name = unary.Operator == uoNegate ? "neg" : unary.Operator == uoModulus ? "mod" : "not";
        return Typed(e, std::string("(") + name + " " + DumpTyped(unary.Operand.get()) + ")");
    }
    case ekBinaryOperator: {
        const auto &binary = static_cast<const TBinaryOperatorExpression &>(e);
        return Typed(e, std::string("(") + OperatorName(binary.Operator) + " " +
                            DumpTyped(binary.Left.get()) + " " + DumpTyped(binary.Right.get()) + ")");
    }
    case ekFunction: {
        const auto &call = static_cast<const TFunctionExpression &>(e);
        return Typed(e, FunctionName(call.FunctionId) + List(call.Arguments, "(", ")"));
    }
    case ekKeyword: {
        const auto &keyword = static_cast<const TKeywordExpression &>(e);
        std::string text = "(kw" + std::to_string(keyword.KeywordId);
        if (keyword.Operand)
            text += " " + DumpTyped(keyword.Operand.get());
        return text + ")";
    }
    case ekLabel: {
        const auto &label = static_cast<const TLabelExpression &>(e);
        return "label " + label.Name + " " + std::to_string(label.SectionKind);
    }
    case ekDirective:
        return "directive " + static_cast<const TDirectiveExpression &>(e).Name;
    case ekDeclaration: {
        const auto &declaration = static_cast<const TDeclarationExpression &>(e);
        const auto *variable = dynamic_cast<const TVariableExpression *>(declaration.Variable.get());
        std::string text =
            "decl " + StorageName(declaration.Node) + ":" + TypeLetter(declaration.Node->DataType);
        if (variable && variable->Count() > 0)
            text += List(variable->Indices, "[", "]");
        return text;
    }
    case ekSetting: {
        const auto &setting = static_cast<const TSettingExpression &>(e);
        std::string kind = "setting";
        if (dynamic_cast<const TDefaultSettingExpression *>(&e))
            kind = "default";
        else if (dynamic_cast<const TEnabledSettingExpression *>(&e))
            kind = "enabled";
        else if (dynamic_cast<const TVisibleSettingExpression *>(&e))
            kind = "visible";
        return kind + " " + setting.Name + ":" + TypeLetter(setting.SettingType) + " " +
               DumpTyped(setting.Value.get());
    }
    case ekString: {
        const auto &text = static_cast<const TStringExpression &>(e);
        return "\"" + text.Text + "\"#" + std::to_string(text.StringIndex);
    }
    case ekStorage: {
        const auto &reference = static_cast<const TStorageExpression &>(e);
        std::string text = StorageName(reference.Node);
        if (reference.Count() > 0)
            text += List(reference.Indices, "[", "]");
        return Typed(e, text);
    }
    default:
        return "<kind " + std::to_string(e.Kind) + ">";
    }
}

TMarkedText Marked(const std::string &Text) {
    TMarkedText result;
    for (char c : Text) {
        if (c == '`') {
            result.Line = 0;
            result.Column = 0;
            for (char d : result.Text) {
                if (d == '\n') {
                    result.Line++;
                    result.Column = 0;
                } else {
                    result.Column++;
                }
            }
            continue;
        }
        result.Text += c;
    }
    return result;
}

std::ostream &operator<<(std::ostream &Stream, const TMessageRecord &Record) {
    return Stream << "(" << Record.Code << ", " << Record.Line << ", " << Record.Column << ")";
}

// ---------------------------------------------------------------------------------------------
// CheckerTest

void CheckerTest::SetUp() {
    FGlobals.Start();
}

void CheckerTest::TearDown() {
    if (ErrorManager())
        ErrorManager()->ClearFormula();
    Formula.reset();
    FGlobals.Finish();
}

TCheckResult CheckerTest::Compile(const std::string &Text, TTestFormulaKind Kind) {
    Formula = std::make_unique<TCheckedFormula>(Kind);
    TErrorManager *messages = ErrorManager();
    messages->SetFormula(Formula.get());
    messages->BeginCompile(Formula.get());
    // Formula files end their lines with CR LF; the tests write LF.
    std::string text;
    for (char c : Text) {
        if (c == '\n')
            text += '\r';
        text += c;
    }
    TCheckResult result;
    try {
        Formula->CompileText(text);
    } catch (const ECompileError &error) {
        result.Error = {error.Code, error.Line, error.Column};
    }
    messages->EndCompile(Formula.get());
    messages->Lock();
    for (int i = 0; i < messages->GetCount(); i++) {
        const TCompilerMessage message = messages->GetMessageA(i);
        if (message.Kind == mkWarning)
            result.Warnings.push_back({message.WarningCode, message.Line, message.Column});
    }
    messages->Unlock();
    return result;
}

void CheckerTest::ExpectErrorAtMark(const TErrorCase &Case) {
    TMarkedText text = Marked(Case.Text);
    TCheckResult result = Compile(text.Text, Case.FormulaKind);
    EXPECT_EQ(result.Error, (TMessageRecord{Case.Code, text.Line, text.Column})) << Case.Text;
}

std::ostream &operator<<(std::ostream &Stream, const TErrorCase &Case) {
    return Stream << Case.Name;
}

std::string CaseName(const char *Name) {
    std::string name;
    for (const char *p = Name; *p; p++)
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return name;
}

// ---------------------------------------------------------------------------------------------
// TypeViolation

namespace {

bool In(std::uint8_t Type, std::initializer_list<std::uint8_t> Types) {
    for (std::uint8_t t : Types)
        if (t == Type)
            return true;
    return false;
}

std::uint8_t TypeOf(const TExpression *Expression) {
    if (!Expression)
        return 255;
    if (auto common = dynamic_cast<const TCommonExpression *>(Expression); common && !common->TypeSet)
        return 254;
    return Expression->GetReturnType();
}

// Whether the node itself keeps the rules; its operands are looked at by the caller.
bool NodeKeepsRules(const TExpression &E, bool InDeclaration) {
    switch (E.Kind) {
    case ekVariable:
        // Names are resolved to storage, except the declared variable of a declaration.
        return InDeclaration;
    case ekParameter:
        return TypeOf(&E) != 254;
    case ekUnaryOperator: {
        const auto &u = static_cast<const TUnaryOperatorExpression &>(E);
        const std::uint8_t r = TypeOf(&E), a = TypeOf(u.Operand.get());
        switch (u.Operator) {
        case uoNegate:
            return r == a && In(r, {vtComplex, vtFloat, vtInteger});
        case uoModulus:
            return a == vtComplex && r == vtFloat;
        default:
            return a == vtBoolean && r == vtBoolean;
        }
    }
    case ekBinaryOperator: {
        const auto &b = static_cast<const TBinaryOperatorExpression &>(E);
        const std::uint8_t r = TypeOf(&E), l = TypeOf(b.Left.get()), t = TypeOf(b.Right.get());
        switch (b.Operator) {
        case opAssign:
            return l == r && t == r;
        case opAdd:
        case opSubtract:
        case opMultiply:
            if (r == vtColor)
                return l == vtColor && t == (b.Operator == opMultiply ? vtFloat : vtColor);
            if (r == vtComplex)
                return In(l, {vtComplex, vtFloat}) && In(t, {vtComplex, vtFloat}) &&
                       (l == vtComplex || t == vtComplex);
            return In(r, {vtFloat, vtInteger}) && l == r && t == r;
        case opDivide:
            if (r == vtColor)
                return l == vtColor && t == vtFloat;
            if (r == vtComplex)
                return l == vtComplex && In(t, {vtComplex, vtFloat});
            return r == vtFloat && l == r && t == r;
        case opPower:
            return In(r, {vtFloat, vtComplex}) && l == r && t == r;
        case opModulo:
            return In(r, {vtFloat, vtInteger}) && l == r && t == r;
        case opEqual:
        case opNotEqual:
            return r == vtBoolean && l == t && In(l, {vtComplex, vtFloat, vtInteger, vtBoolean});
        case opAnd:
        case opOr:
            return r == vtBoolean && l == vtBoolean && t == vtBoolean;
        default:
            return r == vtBoolean && l == t && In(l, {vtFloat, vtInteger});
        }
    }
    case ekFunction: {
        const auto &f = static_cast<const TFunctionExpression &>(E);
        const std::uint8_t r = TypeOf(&E);
        std::vector<std::uint8_t> a;
        for (int i = 0; i < f.Count(); i++)
            a.push_back(TypeOf(f.Get(i)));
        auto args = [&a](std::initializer_list<std::uint8_t> Types) {
            return a == std::vector<std::uint8_t>(Types);
        };
        const int id = f.FunctionId;
        switch (id) {
        case fnToInteger:
            return args({vtBoolean}) && r == vtInteger;
        case fnToFloat:
            return a.size() == 1 && In(a[0], {vtInteger, vtBoolean}) && r == vtFloat;
        case fnToComplex:
            return a.size() == 1 && In(a[0], {vtFloat, vtInteger, vtBoolean}) && r == vtComplex;
        case fnSqr:
        case fnAbs:
            return a.size() == 1 && In(a[0], {vtComplex, vtFloat, vtInteger}) && r == a[0];
        case fnCabs:
        case fnReal:
        case fnImag:
        case fnAtan2:
            return args({vtComplex}) && r == vtFloat;
        case fnConj:
        case fnFlip:
        case fnZero:
            return args({vtComplex}) && r == vtComplex;
        case fnCeil:
        case fnFloor:
        case fnTrunc:
        case fnRound:
            return (args({vtComplex}) && r == vtComplex) || (args({vtFloat}) && r == vtInteger);
        case fnOldZ:
            return args({vtInteger}) && r == vtComplex;
        case fnRandom:
            return args({vtInteger}) && r == vtInteger;
        case fnGradient:
            return args({vtFloat}) && r == vtColor;
        case fnIdent:
            return a.size() == 1 && r == a[0];
        case fnRgb:
        case fnHsl:
            return args({vtFloat, vtFloat, vtFloat}) && r == vtColor;
        case fnRgba:
        case fnHsla:
            return args({vtFloat, vtFloat, vtFloat, vtFloat}) && r == vtColor;
        case fnBlend:
        case fnCompose:
            return args({vtColor, vtColor, vtFloat}) && r == vtColor;
        case fnPrint:
            for (std::uint8_t t : a)
                if (t == vtArray || t > vtColor)
                    return false;
            return r == vtNone;
        default:
            if (id >= fnRed && id <= fnLum)
                return args({vtColor}) && r == vtFloat;
            if (id >= FirstMergeId && id <= LastMergeId)
                return args({vtColor, vtColor}) && r == vtColor;
            // The functions computed in real or complex arithmetic.
            return a.size() == 1 && In(a[0], {vtComplex, vtFloat}) && r == a[0];
        }
    }
    case ekUserFunction: {
        const auto &f = static_cast<const TUserFunctionExpression &>(E);
        const std::uint8_t r = TypeOf(&E);
        if (r == vtColor)
            return f.Count() == 2 && TypeOf(f.Get(0)) == vtColor && TypeOf(f.Get(1)) == vtColor;
        return r == vtComplex && f.Count() == 1 && TypeOf(f.Get(0)) == vtComplex;
    }
    case ekKeyword: {
        const auto &k = static_cast<const TKeywordExpression &>(E);
        if (k.KeywordId == kwIf || k.KeywordId == kwElseIf || k.KeywordId == kwWhile ||
            k.KeywordId == kwUntil)
            return TypeOf(k.Operand.get()) == vtBoolean;
        return !k.Operand;
    }
    case ekSetting: {
        const auto &setting = static_cast<const TSettingExpression &>(E);
        return TypeOf(setting.Value.get()) == setting.SettingType;
    }
    case ekStorage: {
        const auto &reference = static_cast<const TStorageExpression &>(E);
        for (int i = 0; i < reference.Count(); i++)
            if (TypeOf(reference.Get(i)) != vtInteger)
                return false;
        return true;
    }
    case ekDeclaration: {
        const auto &declaration = static_cast<const TDeclarationExpression &>(E);
        const auto *variable = dynamic_cast<const TVariableExpression *>(declaration.Variable.get());
        if (!variable || !declaration.Node)
            return false;
        for (int i = 0; i < variable->Count(); i++)
            if (TypeOf(variable->Get(i)) != vtInteger)
                return false;
        return true;
    }
    default:
        return true;
    }
}

std::string FindViolation(const TExpression *E, bool InDeclaration) {
    if (!E)
        return std::string();
    if (!NodeKeepsRules(*E, InDeclaration))
        return DumpTyped(E);
    const bool declaration = E->Kind == ekDeclaration;
    for (int i = 0; i < E->ChildCount(); i++) {
        std::string found = FindViolation(E->GetChild(i), declaration);
        if (!found.empty())
            return found;
    }
    return std::string();
}

} // namespace

std::string TypeViolation(const TExpression *Statement) {
    return FindViolation(Statement, false);
}
