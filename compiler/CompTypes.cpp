#include "CompTypes.h"

#include <vector>

#include "CompAccess.h"
#include "CompParams.h"
#include "CompTokenizer.h"

namespace {

bool IsNumeric(std::uint8_t Type) {
    return Type == vtComplex || Type == vtFloat || Type == vtInteger;
}

[[noreturn]] void TypeError(const TCompilePosition &Position) {
    throw ECompileError(ceTypeError, Position);
}

// Wraps Slot in a typed call of an internal or built-in function.
void Wrap(TExpressionPtr &Slot, std::uint8_t FunctionId, std::uint8_t ResultType) {
    auto call = std::make_unique<TFunctionExpression>(Slot->Position, FunctionId);
    call->SetReturnType(ResultType);
    call->Add(std::move(Slot));
    Slot = std::move(call);
}

TExpressionPtr MakeLiteral(const TCompilePosition &Position, std::unique_ptr<TLiteral> Literal) {
    return std::make_unique<TLiteralExpression>(Position, std::move(Literal));
}

// Groups of built-in functions that share an argument rule.
enum class TFunctionRule {
    RealOrComplex,    // sin ...: real arithmetic unless the context is complex
    ComplexInContext, // asin, sqrt, log ...: as above, but a complex context forces complex
    SquareOrAbs,      // sqr, abs: also integer
    ComplexToFloat,   // cabs, real, imag, atan2
    ComplexToComplex, // conj, flip, zero
    Rounding,         // ceil, floor, trunc, round
    OldZ,
    Random,
    ColorToFloat, // red ... lum
    Gradient,
    Ident,
    Merge,          // two colours
    ThreeFloats,    // rgb, hsl
    BlendOrCompose, // colour, colour, float
    FourFloats,     // rgba, hsla
    Print,
    Unknown
};

TFunctionRule RuleOf(std::uint8_t Id) {
    switch (Id) {
    case fnSin:
    case fnSinh:
    case fnCos:
    case fnCosh:
    case fnTan:
    case fnTanh:
    case fnCotan:
    case fnCotanh:
    case fnExp:
    case fnRecip:
        return TFunctionRule::RealOrComplex;
    case fnAsin:
    case fnAsinh:
    case fnAcos:
    case fnAcosh:
    case fnAtan:
    case fnAtanh:
    case fnSqrt:
    case fnLog:
        return TFunctionRule::ComplexInContext;
    case fnSqr:
    case fnAbs:
        return TFunctionRule::SquareOrAbs;
    case fnCabs:
    case fnReal:
    case fnImag:
    case fnAtan2:
        return TFunctionRule::ComplexToFloat;
    case fnConj:
    case fnFlip:
    case fnZero:
        return TFunctionRule::ComplexToComplex;
    case fnCeil:
    case fnFloor:
    case fnTrunc:
    case fnRound:
        return TFunctionRule::Rounding;
    case fnOldZ:
        return TFunctionRule::OldZ;
    case fnRandom:
        return TFunctionRule::Random;
    case fnRed:
    case fnGreen:
    case fnBlue:
    case fnAlpha:
    case fnHue:
    case fnSat:
    case fnLum:
        return TFunctionRule::ColorToFloat;
    case fnGradient:
        return TFunctionRule::Gradient;
    case fnIdent:
        return TFunctionRule::Ident;
    case fnRgb:
    case fnHsl:
        return TFunctionRule::ThreeFloats;
    case fnBlend:
    case fnCompose:
        return TFunctionRule::BlendOrCompose;
    case fnRgba:
    case fnHsla:
        return TFunctionRule::FourFloats;
    case fnPrint:
        return TFunctionRule::Print;
    default:
        if (Id >= FirstMergeId && Id <= LastMergeId)
            return TFunctionRule::Merge;
        return TFunctionRule::Unknown;
    }
}

// Number of arguments of a rule; -1 for any number.
int ArgumentCountOf(TFunctionRule Rule) {
    switch (Rule) {
    case TFunctionRule::Merge:
        return 2;
    case TFunctionRule::ThreeFloats:
    case TFunctionRule::BlendOrCompose:
        return 3;
    case TFunctionRule::FourFloats:
        return 4;
    case TFunctionRule::Print:
        return -1;
    case TFunctionRule::Unknown:
        return 0;
    default:
        return 1;
    }
}

} // namespace

std::uint8_t CommonType(std::uint8_t A, std::uint8_t B) {
    if (A == vtComplex || B == vtComplex)
        return vtComplex;
    if (A == vtFloat || B == vtFloat)
        return vtFloat;
    if (A == vtInteger || B == vtInteger)
        return vtInteger;
    return vtBoolean;
}

void TTypeRules::AddImplicitParam(TParamList &Params, std::unique_ptr<TParam> Param) {
    const std::string caption = Param->GetCaption();
    Params.Add(std::move(Param));
    Params.Changed(caption);
}

// ---------------------------------------------------------------------------------------------
// Conversions

void TTypeRules::ConvertTo(TExpressionPtr &Slot, std::uint8_t Target, const TCompilePosition &Report) {
    const std::uint8_t source = Slot->GetReturnType();
    if (source == Target)
        return;
    switch (Target) {
    case vtComplex:
        if (!IsNumeric(source) && source != vtBoolean)
            TypeError(Report);
        if (source == vtBoolean)
            TypeWarning(cwBoolConversion, Report);
        Wrap(Slot, fnToComplex, vtComplex);
        return;
    case vtFloat:
        if (source != vtInteger && source != vtBoolean)
            TypeError(Report);
        if (source == vtBoolean)
            TypeWarning(cwBoolConversion, Report);
        Wrap(Slot, fnToFloat, vtFloat);
        return;
    case vtInteger:
        if (source != vtBoolean)
            TypeError(Report);
        TypeWarning(cwBoolConversion, Report);
        Wrap(Slot, fnToInteger, vtInteger);
        return;
    case vtBoolean: {
        if (!IsNumeric(source))
            TypeError(Report);
        TypeWarning(cwConvertToBool, Report);
        const TCompilePosition position = Slot->Position;
        TExpressionPtr zero;
        if (source == vtInteger) {
            zero = MakeLiteral(position, std::make_unique<TIntLiteral>(0));
        } else {
            if (source == vtComplex)
                Wrap(Slot, fnReal, vtFloat);
            zero = MakeLiteral(position, std::make_unique<TFloatLiteral>("0"));
        }
        auto compare =
            std::make_unique<TBinaryOperatorExpression>(position, nullptr, std::move(zero), opNotEqual);
        compare->SetReturnType(vtBoolean);
        compare->Left = std::move(Slot);
        Slot = std::move(compare);
        return;
    }
    default:
        // Colours, arrays and the rest convert from their own type only.
        TypeError(Report);
    }
}

void TTypeRules::ConvertToRealPart(TExpressionPtr &Slot, const TCompilePosition &Report) {
    const std::uint8_t source = Slot->GetReturnType();
    switch (source) {
    case vtFloat:
        return;
    case vtComplex:
        Wrap(Slot, fnReal, vtFloat);
        return;
    case vtInteger:
    case vtBoolean:
        ConvertTo(Slot, vtFloat, Report);
        return;
    default:
        TypeError(Report);
    }
}

// ---------------------------------------------------------------------------------------------
// Operators

void TTypeRules::CheckUnaryOperator(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags) {
    auto &node = static_cast<TUnaryOperatorExpression &>(*Slot);
    switch (node.Operator) {
    case uoNegate: {
        CheckExpression(node.Operand, Expected, Flags);
        const std::uint8_t type = node.Operand->GetReturnType();
        if (!IsNumeric(type))
            TypeError(node.Operand->Position);
        node.SetReturnType(type);
        return;
    }
    case uoModulus:
        CheckExpression(node.Operand, vtComplex, Flags);
        ConvertTo(node.Operand, vtComplex);
        node.SetReturnType(vtFloat);
        return;
    case uoNot:
        CheckExpression(node.Operand, vtBoolean, Flags);
        ConvertTo(node.Operand, vtBoolean);
        node.SetReturnType(vtBoolean);
        return;
    default:
        throw EInternalCompilerError("TChecker.CheckUnaryOperator: Unknown operator %d", int(node.Operator));
    }
}

namespace {

// The type both operands of a binary operator (not the assignment) are checked against.
std::uint8_t OperandExpected(std::uint8_t Operator, std::uint8_t Expected) {
    std::uint8_t operandExpected;
    switch (Operator) {
    case opAdd:
    case opSubtract:
    case opMultiply:
        operandExpected = Expected;
        break;
    case opDivide:
        operandExpected = Expected == vtComplex || Expected == vtColor ? Expected : vtFloat;
        break;
    case opPower:
        operandExpected = Expected == vtComplex ? vtComplex : vtFloat;
        break;
    case opModulo:
    case opLess:
    case opLessEqual:
    case opGreater:
    case opGreaterEqual:
        operandExpected = vtFloat;
        break;
    case opEqual:
    case opNotEqual:
        operandExpected = vtComplex;
        break;
    case opAnd:
    case opOr:
        operandExpected = vtBoolean;
        break;
    default:
        throw EInternalCompilerError("TChecker.CheckBinaryOperator: Unknown operator %d", int(Operator));
    }
    return operandExpected;
}

bool IsChainOperator(const TExpression &E) {
    return E.Kind == ekBinaryOperator &&
           static_cast<const TBinaryOperatorExpression &>(E).Operator != opAssign;
}

} // namespace

// A chain of operators (a + b - c ...) leans left as deep as it is long, so the nodes along its
// left spine are checked bottom-up in a loop; only right operands recurse. The order of checks,
// conversions and warnings is that of checking each node's left operand before its right one.
void TTypeRules::CheckBinaryOperator(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags) {
    struct TSpineNode {
        TExpressionPtr *Slot;
        std::uint8_t OperandExpected;
    };
    std::vector<TSpineNode> spine;
    TExpressionPtr *slot = &Slot;
    std::uint8_t expected = Expected;
    do {
        auto &node = static_cast<TBinaryOperatorExpression &>(**slot);
        expected = OperandExpected(node.Operator, expected);
        spine.push_back({slot, expected});
        slot = &node.Left;
    } while (IsChainOperator(**slot));
    CheckExpression(*slot, expected, Flags);
    for (std::size_t i = spine.size(); i-- > 0;) {
        auto &node = static_cast<TBinaryOperatorExpression &>(**spine[i].Slot);
        CheckExpression(node.Right, spine[i].OperandExpected, Flags);
        FinishBinaryOperator(node, i == 0 ? Expected : spine[i - 1].OperandExpected);
    }
}

// Converts the checked operands of Node to the types its operator computes in and sets its type.
void TTypeRules::FinishBinaryOperator(TBinaryOperatorExpression &Node, std::uint8_t Expected) {
    const std::uint8_t op = Node.Operator;

    const std::uint8_t left = Node.Left->GetReturnType();
    const std::uint8_t right = Node.Right->GetReturnType();
    const std::uint8_t common = CommonType(left, right);

    switch (op) {
    case opAdd:
    case opSubtract:
    case opMultiply:
        if (left == vtColor) {
            ConvertTo(Node.Right, op == opMultiply ? vtFloat : vtColor);
            Node.SetReturnType(vtColor);
        } else if (common == vtComplex) {
            // A complex operand stays; a real one is computed as float.
            if (left != vtComplex)
                ConvertTo(Node.Left, vtFloat);
            if (right != vtComplex)
                ConvertTo(Node.Right, vtFloat);
            Node.SetReturnType(vtComplex);
        } else {
            const std::uint8_t target = common == vtBoolean ? vtInteger : common;
            ConvertTo(Node.Left, target);
            ConvertTo(Node.Right, target);
            Node.SetReturnType(target);
        }
        return;
    case opDivide:
        if (left == vtColor) {
            ConvertTo(Node.Right, vtFloat);
            Node.SetReturnType(vtColor);
        } else if (common == vtComplex) {
            ConvertTo(Node.Left, vtComplex);
            if (right != vtComplex)
                ConvertTo(Node.Right, vtFloat);
            Node.SetReturnType(vtComplex);
        } else {
            ConvertTo(Node.Left, vtFloat);
            ConvertTo(Node.Right, vtFloat);
            Node.SetReturnType(vtFloat);
        }
        return;
    case opPower: {
        const std::uint8_t target = Expected != vtComplex && common != vtComplex ? vtFloat : vtComplex;
        ConvertTo(Node.Left, target);
        ConvertTo(Node.Right, target);
        Node.SetReturnType(target);
        return;
    }
    case opModulo: {
        const std::uint8_t target = common == vtInteger || common == vtBoolean ? vtInteger : vtFloat;
        ConvertTo(Node.Left, target);
        ConvertTo(Node.Right, target);
        Node.SetReturnType(target);
        return;
    }
    case opEqual:
    case opNotEqual:
        if (Node.Left->Kind == ekParameter && right == vtString) {
            CheckEnumComparison(Node);
        } else {
            ConvertTo(Node.Left, common);
            ConvertTo(Node.Right, common);
        }
        Node.SetReturnType(vtBoolean);
        return;
    case opLess:
    case opLessEqual:
    case opGreater:
    case opGreaterEqual:
        if (common == vtComplex) {
            TypeWarning(cwComplexCompare, Node.Position);
            ConvertToRealPart(Node.Left, Node.Left->Position);
            ConvertToRealPart(Node.Right, Node.Right->Position);
        } else {
            const std::uint8_t target = common == vtFloat ? vtFloat : vtInteger;
            ConvertTo(Node.Left, target);
            ConvertTo(Node.Right, target);
        }
        Node.SetReturnType(vtBoolean);
        return;
    default: // && and ||
        ConvertTo(Node.Left, vtBoolean);
        ConvertTo(Node.Right, vtBoolean);
        Node.SetReturnType(vtBoolean);
        return;
    }
}

void TTypeRules::CheckEnumComparison(TBinaryOperatorExpression &Node) {
    auto &parameter = static_cast<TParameterExpression &>(*Node.Left);
    TParamList &params = TypeParams();
    const int index = params.IndexOfName(parameter.Name, pkOrdinary);
    const TIntParam *enumerated = nullptr;
    if (index >= 0 && params.GetItem(index)->Type == vtInteger) {
        enumerated = static_cast<const TIntParam *>(params.GetItem(index));
        if (enumerated->Enum.Count() == 0)
            enumerated = nullptr;
    }
    if (!enumerated)
        throw ECompileError(ceEnumParamExpected, Node.Left->Position);
    const auto &text = static_cast<const TStringExpression &>(*Node.Right).Text;
    int entry = -1;
    for (int i = 0; i < enumerated->Enum.Count() && entry < 0; i++)
        if (SameText(enumerated->Enum.Strings(i), text))
            entry = i;
    if (entry < 0)
        throw ECompileError(ceInvalidEnumValue, Node.Right->Position);
    Node.Right = MakeLiteral(Node.Right->Position, std::make_unique<TIntLiteral>(entry));
}

// ---------------------------------------------------------------------------------------------
// Functions

void TTypeRules::CheckArgument(TCustomFunctionExpression &Call, std::int32_t I, std::uint8_t Expected,
                               std::uint8_t Target, std::uint32_t Flags) {
    TExpressionPtr &slot = Call.Arguments.Slot(I);
    CheckExpression(slot, Expected, Flags);
    if (Target != vtNone)
        ConvertTo(slot, Target);
}

void TTypeRules::CheckFunction(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags) {
    auto &call = static_cast<TFunctionExpression &>(*Slot);
    const std::uint8_t id = call.FunctionId;
    if (id >= fnCount) {
        // The checker's own conversions are typed when they are made.
        if (call.TypeSet)
            return;
        throw EInternalCompilerError("TChecker.CheckFunction: Unknown function %d", int(id));
    }
    if (!TypeFunctionAllowed(id))
        throw ECompileError(ceInvalidFunction, call.Position);
    const TFunctionRule rule = RuleOf(id);
    const int count = ArgumentCountOf(rule);
    if (rule == TFunctionRule::Unknown || (count >= 0 && call.Count() != count))
        throw ECompileError(ceInvalidArguments, call.Position);

    const bool complexContext = Expected == vtComplex;
    auto argumentType = [&call](std::int32_t I) { return call.Get(I)->GetReturnType(); };
    switch (rule) {
    case TFunctionRule::RealOrComplex:
    case TFunctionRule::ComplexInContext:
        CheckArgument(call, 0, complexContext ? vtComplex : vtFloat, vtNone, Flags);
        if (rule == TFunctionRule::ComplexInContext && complexContext)
            ConvertTo(call.Arguments.Slot(0), vtComplex);
        else if (argumentType(0) != vtComplex)
            ConvertTo(call.Arguments.Slot(0), vtFloat);
        call.SetReturnType(argumentType(0));
        return;
    case TFunctionRule::SquareOrAbs: {
        CheckArgument(call, 0, Expected >= vtInteger ? vtInteger : Expected, vtNone, Flags);
        const std::uint8_t type = argumentType(0);
        if (type == vtInteger || type == vtBoolean)
            ConvertTo(call.Arguments.Slot(0), vtInteger);
        else if (type != vtComplex && type != vtFloat)
            TypeError(call.Get(0)->Position);
        call.SetReturnType(argumentType(0));
        return;
    }
    case TFunctionRule::ComplexToFloat:
        CheckArgument(call, 0, vtComplex, vtComplex, Flags);
        call.SetReturnType(vtFloat);
        return;
    case TFunctionRule::ComplexToComplex:
        CheckArgument(call, 0, vtComplex, vtComplex, Flags);
        call.SetReturnType(vtComplex);
        return;
    case TFunctionRule::Rounding:
        CheckArgument(call, 0, complexContext ? vtComplex : vtFloat, vtNone, Flags);
        if (argumentType(0) != vtComplex)
            ConvertTo(call.Arguments.Slot(0), vtFloat);
        call.SetReturnType(argumentType(0) == vtComplex ? vtComplex : vtInteger);
        return;
    case TFunctionRule::OldZ:
        TypeWarning(cwOldZDeprecated, call.Position);
        if (Flags & cfConstant)
            throw ECompileError(ceConstantExpected, call.Position);
        CheckArgument(call, 0, vtInteger, vtInteger, Flags);
        call.SetReturnType(vtComplex);
        return;
    case TFunctionRule::Random:
        CheckArgument(call, 0, vtInteger, vtInteger, Flags);
        call.SetReturnType(vtInteger);
        return;
    case TFunctionRule::ColorToFloat:
        CheckArgument(call, 0, vtColor, vtColor, Flags);
        call.SetReturnType(vtFloat);
        return;
    case TFunctionRule::Gradient:
        if (Flags & cfConstant)
            throw ECompileError(ceConstantExpected, call.Position);
        CheckArgument(call, 0, vtFloat, vtFloat, Flags);
        call.SetReturnType(vtColor);
        return;
    case TFunctionRule::Ident:
        CheckArgument(call, 0, Expected, vtNone, Flags);
        call.SetReturnType(argumentType(0));
        return;
    case TFunctionRule::Merge:
        CheckArgument(call, 0, vtColor, vtColor, Flags);
        CheckArgument(call, 1, vtColor, vtColor, Flags);
        call.SetReturnType(vtColor);
        return;
    case TFunctionRule::ThreeFloats:
    case TFunctionRule::FourFloats:
        for (std::int32_t i = 0; i < call.Count(); i++)
            CheckArgument(call, i, vtFloat, vtFloat, Flags);
        call.SetReturnType(vtColor);
        return;
    case TFunctionRule::BlendOrCompose:
        CheckArgument(call, 0, vtColor, vtColor, Flags);
        CheckArgument(call, 1, vtColor, vtColor, Flags);
        CheckArgument(call, 2, vtFloat, vtFloat, Flags);
        call.SetReturnType(vtColor);
        return;
    case TFunctionRule::Print:
        for (std::int32_t i = 0; i < call.Count(); i++) {
            CheckArgument(call, i, vtComplex, vtNone, Flags);
            const std::uint8_t type = argumentType(i);
            if (type == vtArray || type > vtColor)
                TypeError(call.Get(i)->Position);
        }
        call.SetReturnType(vtNone);
        return;
    case TFunctionRule::Unknown:
        break;
    }
}

void TTypeRules::CheckUserFunction(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags) {
    auto &call = static_cast<TUserFunctionExpression &>(*Slot);
    if (Flags & cfNoParameters)
        throw ECompileError(ceParameterNotAllowed, call.Position);
    TParamList &params = TypeParams();
    const int index = params.IndexOfName(call.Name, pkFunction);
    std::uint8_t type = vtFunction;
    if (index >= 0)
        type = params.GetItem(index)->Type;
    else
        AddImplicitParam(params, std::make_unique<TFuncParam>(call.Name));
    if (type == vtColorFunction) {
        if (call.Count() != 2)
            throw ECompileError(ceInvalidArguments, call.Position);
        CheckArgument(call, 0, vtColor, vtColor, Flags);
        CheckArgument(call, 1, vtColor, vtColor, Flags);
        call.SetReturnType(vtColor);
    } else {
        if (call.Count() != 1)
            throw ECompileError(ceInvalidArguments, call.Position);
        CheckArgument(call, 0, vtComplex, vtComplex, Flags);
        call.SetReturnType(vtComplex);
    }
}
