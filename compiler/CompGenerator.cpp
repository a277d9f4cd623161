#include "CompGenerator.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "CompHugeAccess.h"
#include "CompMessages.h"
#include "CompOptimizer.h"
#include "CompTokenizer.h"

namespace {

// Order of a binary node: right operand first, left operand first, left operand parked.
constexpr std::uint8_t orRightFirst = 1;
constexpr std::uint8_t orLeftFirst = 2;
constexpr std::uint8_t orParked = 3;

// Argument modes of a call: evaluated in place, or parked in temporaries.
constexpr std::uint8_t amDirect = 1;
constexpr std::uint8_t amParked = 2;

// Storage access modes.
constexpr int saLoad = 0;
constexpr int saStoreKeep = 1;
constexpr int saStorePop = 2;

// Routines the generator asks for by number.
constexpr int rtAddInt = 124;
constexpr int rtPrintComplex = 10, rtPrintFloat = 11, rtPrintInt = 12, rtPrintBool = 13, rtPrintColor = 14,
              rtPrintString = 15, rtPrintEnd = 16;

constexpr int RegisterCount = 8;

std::uint32_t PackPosition(const TCompilePosition &Position) {
    const auto line = static_cast<std::uint32_t>(std::clamp(Position.Line, 0, 65535));
    const auto column = static_cast<std::uint32_t>(std::clamp(Position.Column, 0, 65535));
    return line * 65536 + column;
}

std::int32_t AddressOf(const TObject *Formula) {
    return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(Formula));
}

// Offsets are 32-bit displacements; the storage list keeps data blocks far below that, so an
// offset beyond it means the generator was handed an inconsistent list.
std::int32_t CheckedOffset(std::int64_t Value) {
    if (Value < std::numeric_limits<std::int32_t>::min() || Value > std::numeric_limits<std::int32_t>::max())
        throw EGeneratorError("Storage offset out of range");
    return static_cast<std::int32_t>(Value);
}

bool IsReal(std::uint8_t Type) {
    return Type == vtComplex || Type == vtFloat;
}

// A variable named without all of its indices: the whole array.
bool IsWholeArray(const TExpression &E) {
    if (E.Kind != ekStorage)
        return false;
    const auto &storage = static_cast<const TStorageExpression &>(E);
    if (storage.Node->Kind != skVariable)
        return false;
    return storage.Count() != static_cast<const TVariableNode *>(storage.Node)->GetDimensionCount();
}

// An index outside the dimension selects its last element, negative ones included: the same
// element the bounds check of a computed index selects, so folding an index into a constant never
// changes which element is used.
std::int64_t ClampIndex(std::int64_t Index, std::int64_t Size) {
    return Index < 0 || Index >= Size ? Size - 1 : Index;
}

bool IsConstantIndex(const TExpression &E) {
    return E.Kind == ekConstant && static_cast<const TConstantExpression &>(E).Constant->Type == vtInteger;
}

// A predefined symbol of the pixel context, or a storage reference whose indices are all
// constants: an address known while the code is generated.
bool IsFixedAddress(const TExpression &E, std::uint8_t Precision) {
    if (E.Kind == ekPredefined)
        return PredefinedContextOffset(static_cast<const TPredefinedExpression &>(E).SymbolId, Precision) >=
               0;
    if (E.Kind != ekStorage || IsWholeArray(E))
        return false;
    const auto &storage = static_cast<const TStorageExpression &>(E);
    for (std::int32_t k = 0; k < storage.Count(); ++k)
        if (!IsConstantIndex(*storage.Get(k)))
            return false;
    return true;
}

TVariableNode *ArrayNode(TStorageExpression &E) {
    return static_cast<TVariableNode *>(E.Node);
}

} // namespace

int TypeRegisterCount(std::uint8_t Type) {
    switch (Type) {
    case vtComplex:
        return 2;
    case vtFloat:
        return 1;
    default:
        return 0;
    }
}

std::int32_t PredefinedContextOffset(std::uint8_t SymbolId, std::uint8_t Precision) {
    const TContextValueOffsets &values = ContextValueOffsets[Precision == pmDouble     ? 0
                                                             : Precision == pmExtended ? 1
                                                                                       : 2];
    switch (SymbolId) {
    case psPixel:
        return values.Pixel;
    case psRandom:
        return values.Random;
    case psScreenPixel:
        return values.ScreenPixel;
    case psIndex:
        return values.Index;
    case psZ:
        return values.Z;
    case psNumIter:
        return pcIterationsDone;
    case psWhiteSq:
        return pcWhiteSq;
    case psX:
        return pcX;
    case psY:
        return pcY;
    case psSolidColor:
        return pcSolid;
    case psColor:
        return pcColor;
    default:
        return -1;
    }
}

// ---------------------------------------------------------------------------------------------
// Running a generation

void TCodeGenerator::BeginGeneration(TStorageList &Storage, std::uint8_t Precision, const TObject *Formula) {
    EndGeneration();
    Debug = false;
    NextTempId = 0;
    GenStorage = &Storage;
    GenPrecision = Precision;
    GenFormula = Formula;
    Access = CreateProcessorAccess(Precision);
    Access->OnSelectFunction = MakeEvent<&TCodeGenerator::SelectFunction>(this);
    PlanAccess = Access.get();
    PlanPrecision = Precision;
    PlanRecording = true;
    if (Precision == pmArbitrary) {
        X87Access = CreateProcessorAccess(pmExtended);
        X87Access->OnSelectFunction = MakeEvent<&TCodeGenerator::SelectFunction>(this);
    }
}

void TCodeGenerator::EndGeneration() {
    PlanAccess = nullptr;
    X87Access.reset();
    Access.reset();
    GenConstructs.Clear();
    GenStorage = nullptr;
    GenFormula = nullptr;
}

void TCodeGenerator::CompileDirective(const TDirectiveExpression &Directive) {
    if (!SameText(Directive.Name, "DEBUG"))
        return;
    if (Directive.DirectiveId == diDefine)
        Debug = true;
    else if (Directive.DirectiveId == diUndef)
        Debug = false;
}

void TCodeGenerator::CheckBlocksClosed() const {
    if (GenConstructs.Top())
        throw EGeneratorError("Block not closed at the end of a section");
}

void TCodeGenerator::GenerateSections(TExpressionList &Statements, TStorageList &Storage,
                                      std::uint8_t Precision, const TObject *Formula) {
    struct TSection {
        std::string Name;
        std::vector<std::uint8_t> Code;
    };
    std::vector<TSection> sections;
    struct TEnd {
        TCodeGenerator &Self;
        ~TEnd() { Self.EndGeneration(); }
    } end{*this};

    BeginGeneration(Storage, Precision, Formula);
    for (TExpressionNode *node = Statements.GetFirst(); node; node = node->Next) {
        TExpression &e = *node->Expression;
        if (e.Kind != ekLabel && e.Kind != ekDirective)
            Plan(e);
    }
    Storage.AssignOffsets();
    if (!Statements.GetFirst())
        return;

    bool inSection = false;
    auto finishSection = [&]() {
        CheckBlocksClosed();
        const std::uint8_t *code = Access->GetCode();
        sections.back().Code.assign(code, code + Access->GetSize());
    };
    for (TExpressionNode *node = Statements.GetFirst(); node; node = node->Next) {
        TExpression &e = *node->Expression;
        if (e.Kind == ekDirective) {
            CompileDirective(static_cast<TDirectiveExpression &>(e));
        } else if (e.Kind == ekLabel) {
            if (inSection)
                finishSection();
            inSection = true;
            sections.push_back({UpperCase(static_cast<TLabelExpression &>(e).Name), {}});
            Access->Clear();
        } else {
            if (!inSection)
                throw EGeneratorError("Statement outside a section");
            GenerateExpression(e, true);
        }
    }
    if (inSection)
        finishSection();
    EndGeneration();

    for (const TSection &section : sections)
        CompileSection(section.Name, section.Code.data(), static_cast<std::int32_t>(section.Code.size()));
}

// ---------------------------------------------------------------------------------------------
// Planning

void TCodeGenerator::AddTemporary(std::uint32_t TempId, std::uint8_t Type) {
    if (!PlanRecording)
        return;
    if (!GenStorage)
        throw EGeneratorError("No storage list for temporaries");
    if (!GenStorage->FindTemporary(TempId))
        GenStorage->Add(std::make_unique<TTempVariableNode>(TempId, Type));
}

int TCodeGenerator::Plan(TExpression &E) {
    switch (E.Kind) {
    case ekUnaryOperator: {
        auto &unary = static_cast<TUnaryOperatorExpression &>(E);
        const std::uint8_t operandType = unary.Operand->GetReturnType();
        const int operand = Plan(*unary.Operand);
        const int use =
            PlanAccess->GetUnaryOperatorStackUse(unary.Operator, operandType, unary.GetReturnType()) +
            TypeRegisterCount(operandType);
        return std::max(TypeRegisterCount(unary.GetReturnType()), std::max(operand, use));
    }
    case ekBinaryOperator: {
        auto &binary = static_cast<TBinaryOperatorExpression &>(E);
        return binary.Operator == opAssign ? PlanAssignment(binary) : PlanBinary(binary);
    }
    case ekFunction: {
        auto &call = static_cast<TFunctionExpression &>(E);
        if (call.FunctionId == fnPrint) {
            int need = 0;
            for (std::int32_t i = 0; i < call.Count(); ++i)
                need = std::max(need, Plan(*call.Get(i)));
            return need;
        }
        return PlanFunction(call);
    }
    case ekKeyword: {
        auto &keyword = static_cast<TKeywordExpression &>(E);
        return keyword.Operand ? Plan(*keyword.Operand) : 0;
    }
    case ekStorage: {
        auto &storage = static_cast<TStorageExpression &>(E);
        int need = TypeRegisterCount(storage.GetReturnType());
        for (std::int32_t i = 0; i < storage.Count(); ++i)
            need = std::max(need, Plan(*storage.Get(i)));
        return need;
    }
    default:
        return TypeRegisterCount(E.GetReturnType());
    }
}

namespace {

// The operand order of a binary node whose operands need Left and Right registers at their peaks.
std::uint8_t ChooseOrder(int Left, int Right, std::uint8_t LeftType, std::uint8_t RightType) {
    if (TypeRegisterCount(RightType) + Left <= RegisterCount)
        return orRightFirst;
    if (TypeRegisterCount(LeftType) + Right <= RegisterCount)
        return orLeftFirst;
    return orParked;
}

// A binary node other than an assignment: the links of an operator chain's left spine.
bool IsChainLink(const TExpression &E) {
    return E.Kind == ekBinaryOperator &&
           static_cast<const TBinaryOperatorExpression &>(E).Operator != opAssign;
}

} // namespace

int TCodeGenerator::X87Need(TExpression &E) {
    TProcessorAccess *const access = PlanAccess;
    const std::uint8_t precision = PlanPrecision;
    PlanAccess = X87Access.get();
    PlanPrecision = pmExtended;
    PlanRecording = false;
    struct TRestore {
        TCodeGenerator &Self;
        TProcessorAccess *Access;
        std::uint8_t Precision;
        ~TRestore() {
            Self.PlanAccess = Access;
            Self.PlanPrecision = Precision;
            Self.PlanRecording = true;
        }
    } restore{*this, access, precision};
    return Plan(E);
}

namespace {

// The registers a binary node needs when its operands need Left and Right at their peaks, and
// the operand order (Order) that gives, with Access's stack uses. X87Order, when set, is the
// order the x87 plan picked (see PlanBinary).
int BinaryNeed(TProcessorAccess &Access, const TBinaryOperatorExpression &Node, int Left, int Right,
               std::uint8_t X87Order, std::uint8_t &Order) {
    const std::uint8_t leftType = Node.Left->GetReturnType(), rightType = Node.Right->GetReturnType();
    const std::uint8_t resultType = Node.GetReturnType();
    Order = ChooseOrder(Left, Right, leftType, rightType);
    if (X87Order == orRightFirst && TypeRegisterCount(rightType) + Left <= RegisterCount)
        Order = orRightFirst;
    else if (X87Order == orLeftFirst || X87Order == orParked)
        Order = TypeRegisterCount(leftType) + Right <= RegisterCount ? orLeftFirst : orParked;
    if (Order == orRightFirst)
        Left += TypeRegisterCount(rightType);
    else if (Order == orLeftFirst)
        Right += TypeRegisterCount(leftType);
    const int use = TypeRegisterCount(leftType) + TypeRegisterCount(rightType) +
                    Access.GetOperatorStackUse(Node.Operator, Order, resultType, rightType, leftType);
    return std::max({TypeRegisterCount(resultType), use, Left, Right});
}

} // namespace

// An operator chain (a + b - c ...) leans left as deep as it is long, so the nodes along its left
// spine are planned in loops and only right operands recurse.
int TCodeGenerator::PlanBinary(TBinaryOperatorExpression &E) {
    std::vector<TBinaryOperatorExpression *> spine{&E};
    while (IsChainLink(*spine.back()->Left))
        spine.push_back(static_cast<TBinaryOperatorExpression *>(spine.back()->Left.get()));
    // The stack uses of some routines differ between the x87 and arbitrary precision, and so may
    // the order the plan picks. Where an operand assigns, the order decides the result: arbitrary
    // precision then takes the operand first that the x87 takes first, so that an image does not
    // change when a zoom crosses into arbitrary precision. (Only a right operand first that does
    // not fit the registers is left to the precision's own plan.) The x87 needs of the left
    // operands come from one pass up the spine.
    std::vector<std::uint8_t> x87Orders(spine.size(), 0);
    if (X87Access && PlanRecording) {
        std::vector<std::uint8_t> leftAssigns(spine.size()), rightAssigns(spine.size());
        bool below = !IsFreeOfAssignments(spine.back()->Left.get());
        for (std::size_t i = spine.size(); i-- > 0;) {
            leftAssigns[i] = below;
            rightAssigns[i] = !IsFreeOfAssignments(spine[i]->Right.get());
            below = below || rightAssigns[i];
        }
        if (below) {
            int x87 = X87Need(*spine.back()->Left);
            for (std::size_t i = spine.size(); i-- > 0;) {
                const TBinaryOperatorExpression &node = *spine[i];
                const int right = X87Need(*node.Right);
                if (leftAssigns[i] || rightAssigns[i])
                    x87Orders[i] =
                        ChooseOrder(x87, right, node.Left->GetReturnType(), node.Right->GetReturnType());
                std::uint8_t order;
                x87 = BinaryNeed(*X87Access, node, x87, right, 0, order);
            }
        }
    }
    int need = Plan(*spine.back()->Left);
    for (std::size_t i = spine.size(); i-- > 0;) {
        TBinaryOperatorExpression &node = *spine[i];
        need = BinaryNeed(*PlanAccess, node, need, Plan(*node.Right), x87Orders[i], node.Order);
        if (node.Order == orParked) {
            node.TempId = static_cast<std::uint32_t>(NextTempId);
            AddTemporary(node.TempId, node.Left->GetReturnType());
            if (PlanRecording)
                ++NextTempId;
        }
    }
    return need;
}

int TCodeGenerator::PlanAssignment(TBinaryOperatorExpression &E) {
    const std::uint8_t valueType = E.Right->GetReturnType();
    const int value = Plan(*E.Right);
    int held = TypeRegisterCount(valueType);
    // Storing without popping copies the value first in extended precision.
    if (IsReal(E.GetReturnType()) && PlanPrecision == pmExtended)
        ++held;
    E.Order = orRightFirst;
    if (E.Left->Kind != ekStorage)
        return std::max(held, value);
    auto &target = static_cast<TStorageExpression &>(*E.Left);
    int indexes = 0;
    for (std::int32_t i = 0; i < target.Count(); ++i)
        indexes = std::max(indexes, Plan(*target.Get(i)));
    if (TypeRegisterCount(valueType) + indexes <= RegisterCount)
        return std::max({held, value, TypeRegisterCount(valueType) + indexes});
    E.Order = orParked;
    E.TempId = static_cast<std::uint32_t>(NextTempId);
    AddTemporary(E.TempId, valueType);
    if (PlanRecording)
        ++NextTempId;
    return std::max({held, value, indexes});
}

int TCodeGenerator::PlanFunction(TFunctionExpression &E) {
    const std::int32_t count = E.Count();
    // Parked arguments run from the first on, direct ones from the last: where an argument
    // assigns, arbitrary precision parks them when the x87 does (see PlanBinary).
    bool x87Parks = false;
    if (X87Access && PlanRecording) {
        bool assigns = false;
        for (std::int32_t i = 0; i < count && !assigns; ++i)
            assigns = !IsFreeOfAssignments(E.Get(i));
        if (assigns) {
            int x87Total = 0, x87Held = 0;
            for (std::int32_t i = count - 1; i >= 0; --i) {
                x87Total = std::max(x87Total, X87Need(*E.Get(i)) + x87Held);
                x87Held += TypeRegisterCount(E.Get(i)->GetReturnType());
            }
            x87Parks = x87Total > RegisterCount;
        }
    }
    int total = 0, largest = 0, held = 0;
    for (std::int32_t i = count - 1; i >= 0; --i) {
        const int need = Plan(*E.Get(i));
        total = std::max(total, need + held);
        largest = std::max(largest, need);
        held += TypeRegisterCount(E.Get(i)->GetReturnType());
    }
    if (total > RegisterCount || x87Parks) {
        E.ArgumentMode = amParked;
        E.FirstTempId = static_cast<std::uint32_t>(NextTempId);
        for (std::int32_t i = 0; i <= count - 2; ++i) {
            const std::uint8_t type = E.Get(i)->GetReturnType();
            if (IsReal(type))
                AddTemporary(E.FirstTempId + static_cast<std::uint32_t>(i), type);
        }
        if (PlanRecording)
            NextTempId += count - 1;
        total = largest;
    } else {
        E.ArgumentMode = amDirect;
    }
    const std::uint8_t argumentType = count > 0 ? E.Get(0)->GetReturnType() : vtNone;
    const int use = PlanAccess->GetFunctionStackUse(E.FunctionId, argumentType, E.GetReturnType()) + held;
    return std::max({TypeRegisterCount(E.GetReturnType()), total, use});
}

// ---------------------------------------------------------------------------------------------
// Values

std::int32_t TCodeGenerator::RealSize() const {
    return StorageElementSize(vtFloat, GenPrecision);
}

void TCodeGenerator::NeedRoutine(int Routine, const TExpression &E, const char *What) const {
    if (Routine == 0)
        throw EGeneratorError(
            Format("No routine for %s at line %d, column %d", What, E.Position.Line, E.Position.Column));
}

void TCodeGenerator::GenerateExpression(TExpression &E, bool Discard) {
    if (!Access)
        throw EGeneratorError("No generation running");
    if (E.Kind == ekKeyword) {
        GenerateKeyword(static_cast<TKeywordExpression &>(E));
        return;
    }
    if (E.Kind == ekBinaryOperator && static_cast<TBinaryOperatorExpression &>(E).Operator == opAssign) {
        GenerateAssignment(static_cast<TBinaryOperatorExpression &>(E), Discard);
        return;
    }
    GenerateValue(E);
    if (!Discard || IsWholeArray(E))
        return;
    switch (E.GetReturnType()) {
    case vtComplex:
        Access->EmitDiscardComplex();
        break;
    case vtFloat:
        Access->EmitDiscardReal();
        break;
    case vtColor:
        Access->EmitDropColor();
        break;
    default:
        break; // int and bool results stay in eax
    }
}

void TCodeGenerator::GenerateValue(TExpression &E) {
    switch (E.Kind) {
    case ekPredefined: {
        auto &symbol = static_cast<TPredefinedExpression &>(E);
        const std::int32_t offset = PredefinedContextOffset(symbol.SymbolId, GenPrecision);
        if (offset < 0)
            throw EGeneratorError(
                Format("Predefined symbol %d is not in the pixel context", symbol.SymbolId));
        Access->LoadValue(symbol.GetReturnType(), offset, true);
        break;
    }
    case ekConstant: {
        const TConstant &constant = *static_cast<TConstantExpression &>(E).Constant;
        if (constant.Type == vtInteger)
            Access->LoadIntImmediate(static_cast<const TIntConstant &>(constant).Value);
        else if (constant.Type == vtBoolean)
            Access->LoadBoolImmediate(static_cast<const TBoolConstant &>(constant).Value ? 1 : 0);
        else
            throw EGeneratorError(Format("Constant of type %d outside the data block", constant.Type));
        break;
    }
    case ekStorage: {
        auto &storage = static_cast<TStorageExpression &>(E);
        if (!IsWholeArray(storage))
            StorageAccess(storage, saLoad, NoTemporary);
        break;
    }
    case ekUnaryOperator: {
        auto &unary = static_cast<TUnaryOperatorExpression &>(E);
        const std::uint8_t operandType = unary.Operand->GetReturnType();
        GenerateValue(*unary.Operand);
        NeedRoutine(Access->GetUnaryOperatorRoutine(unary.Operator, operandType), E, "an operator");
        Access->EmitUnaryOperator(unary.Operator, operandType, unary.GetReturnType());
        break;
    }
    case ekBinaryOperator: {
        auto &binary = static_cast<TBinaryOperatorExpression &>(E);
        if (binary.Operator == opAssign)
            GenerateAssignment(binary, false);
        else
            GenerateBinary(binary);
        break;
    }
    case ekFunction:
        GenerateFunction(static_cast<TFunctionExpression &>(E));
        break;
    default:
        throw EGeneratorError(Format("Cannot generate code for an expression of kind %d", E.Kind));
    }
}

// The nodes along an operator chain's left spine are generated in two halves: what comes before
// a node's left operand on the way down the spine, the rest and the operator on the way back up.
// Only right operands recurse, however long the chain.
void TCodeGenerator::GenerateBinary(TBinaryOperatorExpression &E) {
    auto parkedTemporary = [this](const TBinaryOperatorExpression &Node) {
        const TTempVariableNode *temp = GenStorage->FindTemporary(Node.TempId);
        if (!temp)
            throw EGeneratorError("Temporary of a parked operand missing");
        return temp;
    };
    auto beforeLeft = [&](TBinaryOperatorExpression &Node) {
        const std::uint8_t leftType = Node.Left->GetReturnType();
        switch (leftType) {
        case vtComplex:
        case vtFloat:
            if (Node.Order == orParked)
                parkedTemporary(Node);
            else if (Node.Order != orLeftFirst)
                GenerateValue(*Node.Right);
            break;
        case vtColor:
            GenerateValue(*Node.Right);
            break;
        case vtInteger:
        case vtBoolean:
            GenerateValue(*Node.Right);
            Access->EmitSaveValue();
            break;
        default:
            throw EGeneratorError(Format("Operator on a value of type %d", leftType));
        }
    };
    auto afterLeft = [&](TBinaryOperatorExpression &Node) {
        const std::uint8_t leftType = Node.Left->GetReturnType(), rightType = Node.Right->GetReturnType();
        if (IsReal(leftType) && Node.Order == orLeftFirst) {
            GenerateValue(*Node.Right);
        } else if (IsReal(leftType) && Node.Order == orParked) {
            const TTempVariableNode *temp = parkedTemporary(Node);
            Access->StoreValue(leftType, temp->Offset, false, true);
            GenerateValue(*Node.Right);
            Access->LoadValue(leftType, temp->Offset, false);
        } else if (leftType == vtInteger || leftType == vtBoolean) {
            Access->EmitRestoreValue();
        }
        // Colour, int and bool operands are never reordered; their routines take the left one on top.
        const int order = IsReal(leftType) ? Node.Order : orRightFirst;
        NeedRoutine(
            Access->GetOperatorRoutine(Node.Operator, order, Node.GetReturnType(), rightType, leftType), Node,
            "an operator");
        Access->EmitOperator(Node.Operator, order, Node.GetReturnType(), rightType, leftType);
    };
    std::vector<TBinaryOperatorExpression *> spine{&E};
    beforeLeft(E);
    while (IsChainLink(*spine.back()->Left)) {
        spine.push_back(static_cast<TBinaryOperatorExpression *>(spine.back()->Left.get()));
        beforeLeft(*spine.back());
    }
    GenerateValue(*spine.back()->Left);
    for (std::size_t i = spine.size(); i-- > 0;)
        afterLeft(*spine[i]);
}

// ---------------------------------------------------------------------------------------------
// Function calls

void TCodeGenerator::GenerateFunction(TFunctionExpression &E) {
    const int function = E.FunctionId;
    const std::int32_t count = E.Count();
    if (function == fnPrint) {
        GeneratePrint(E);
        return;
    }
    // The parts of a complex variable or symbol are read straight from memory.
    if (count == 1 && (function == fnFlip || function == fnReal || function == fnImag) &&
        E.Get(0)->GetReturnType() == vtComplex) {
        TExpression &argument = *E.Get(0);
        const bool plain =
            argument.Kind == ekPredefined ||
            (argument.Kind == ekStorage && static_cast<TStorageExpression &>(argument).Count() == 0);
        std::int32_t offset = 0;
        bool inContext = false;
        if (plain && FixedAddress(argument, offset, inContext)) {
            if (function == fnReal) {
                Access->LoadReal(offset, inContext);
            } else if (function == fnImag) {
                Access->LoadReal(CheckedOffset(std::int64_t{offset} + RealSize()), inContext);
            } else {
                Access->LoadReal(offset, inContext);
                Access->LoadReal(CheckedOffset(std::int64_t{offset} + RealSize()), inContext);
            }
            return;
        }
    }

    if (E.ArgumentMode == amParked) {
        for (std::int32_t i = 0; i <= count - 2; ++i) {
            TExpression &argument = *E.Get(i);
            const std::uint8_t type = argument.GetReturnType();
            if (!IsReal(type))
                continue;
            const TTempVariableNode *temp =
                GenStorage->FindTemporary(E.FirstTempId + static_cast<std::uint32_t>(i));
            if (!temp)
                throw EGeneratorError("Temporary of a parked argument missing");
            GenerateValue(argument);
            Access->StoreValue(type, temp->Offset, false, true);
        }
        GenerateValue(*E.Get(count - 1));
        for (std::int32_t i = count - 2; i >= 0; --i) {
            TExpression &argument = *E.Get(i);
            const std::uint8_t type = argument.GetReturnType();
            if (IsReal(type))
                Access->LoadValue(
                    type, GenStorage->FindTemporary(E.FirstTempId + static_cast<std::uint32_t>(i))->Offset,
                    false);
            else
                GenerateValue(argument);
        }
    } else {
        for (std::int32_t i = count - 1; i >= 0; --i)
            GenerateValue(*E.Get(i));
    }
    const int argumentType = count > 0 ? E.Get(0)->GetReturnType() : vtNone;
    if (function != fnIdent && function != fnZero)
        NeedRoutine(Access->GetFunctionRoutine(function, argumentType, E.GetReturnType()), E, "a function");
    Access->EmitFunction(function, argumentType, E.GetReturnType());
}

void TCodeGenerator::GeneratePrint(TFunctionExpression &E) {
    if (!Debug)
        return;
    const std::int32_t formula = AddressOf(GenFormula);
    for (std::int32_t i = 0; i < E.Count(); ++i) {
        TExpression &argument = *E.Get(i);
        if (argument.Kind == ekString) {
            // The print helper looks the text up by this index; a text never entered in the
            // formula's list has none.
            const std::int32_t index = static_cast<TStringExpression &>(argument).StringIndex;
            if (index < 0)
                throw EGeneratorError("PRINT text without an entry in the list of texts");
            Access->LoadIntImmediate(formula);
            Access->LoadEdxImmediate(index);
            Access->EmitRoutine(rtPrintString);
            continue;
        }
        GenerateValue(argument);
        switch (argument.GetReturnType()) {
        case vtComplex:
            Access->EmitRoutine(rtPrintComplex);
            break;
        case vtFloat:
            Access->EmitRoutine(rtPrintFloat);
            break;
        case vtInteger:
            Access->EmitRoutine(rtPrintInt);
            break;
        case vtBoolean:
            Access->EmitRoutine(rtPrintBool);
            break;
        case vtColor:
            Access->EmitRoutine(rtPrintColor);
            break;
        default:
            throw EGeneratorError(Format("Cannot print a value of type %d", argument.GetReturnType()));
        }
    }
    Access->LoadIntImmediate(formula);
    Access->LoadEdxImmediate(static_cast<std::int32_t>(PackPosition(E.Position)));
    Access->EmitRoutine(rtPrintEnd);
}

// ---------------------------------------------------------------------------------------------
// Assignments and storage

std::int32_t TCodeGenerator::ConstantIndexBase(TStorageExpression &E, bool ReportClamped) {
    auto *variable = ArrayNode(E);
    std::int64_t base = E.Node->Offset;
    std::int64_t stride = StorageElementSize(E.Node->DataType, GenPrecision);
    for (std::int32_t k = E.Count() - 1; k >= 0; --k) {
        TExpression &index = *E.Get(k);
        const std::int64_t size = variable->GetDimension(k);
        const std::int64_t c =
            static_cast<const TIntConstant &>(*static_cast<TConstantExpression &>(index).Constant).Value;
        const std::int64_t v = ClampIndex(c, size);
        if (v != c && Debug && ReportClamped)
            Access->EmitRuntimeError(GenFormula, reArrayIndexOutOfBounds, index.Position);
        base += v * stride;
        stride *= size;
    }
    return CheckedOffset(base);
}

bool TCodeGenerator::FixedAddress(TExpression &E, std::int32_t &Offset, bool &InContext) {
    if (!IsFixedAddress(E, GenPrecision))
        return false;
    if (E.Kind == ekPredefined) {
        Offset = PredefinedContextOffset(static_cast<TPredefinedExpression &>(E).SymbolId, GenPrecision);
        InContext = true;
    } else {
        Offset = ConstantIndexBase(static_cast<TStorageExpression &>(E), true);
        InContext = false;
    }
    return true;
}

void TCodeGenerator::GenerateCopy(TExpression &Target, TExpression &Value) {
    std::int32_t source = 0, target = 0;
    bool sourceInContext = false, targetInContext = false;
    FixedAddress(Value, source, sourceInContext);
    FixedAddress(Target, target, targetInContext);
    auto copyDword = [&](std::int32_t From, std::int32_t To) {
        Access->LoadInt(From, sourceInContext);
        Access->StoreInt(To, targetInContext);
    };
    // Two dwords through eax and edx: both loads first, then both stores.
    auto copyPair = [&](std::int32_t From, std::int32_t To) {
        Access->LoadInt(From, sourceInContext);
        Access->LoadIntEdx(From + 4, sourceInContext);
        Access->StoreInt(To, targetInContext);
        Access->StoreIntEdx(To + 4, targetInContext);
    };
    auto copyReal = [&](std::int32_t From, std::int32_t To) {
        switch (GenPrecision) {
        case pmDouble:
            copyPair(From, To);
            break;
        case pmExtended:
            copyPair(From, To);
            copyDword(From + 8, To + 8);
            break;
        default:
            Access->LoadReal(From, sourceInContext);
            Access->StoreRealPop(To, targetInContext);
            break;
        }
    };
    switch (Value.GetReturnType()) {
    case vtComplex:
        copyReal(source, target);
        copyReal(source + RealSize(), target + RealSize());
        break;
    case vtFloat:
        copyReal(source, target);
        break;
    case vtInteger:
        copyDword(source, target);
        break;
    case vtBoolean:
        Access->LoadBool(source, sourceInContext);
        Access->StoreBool(target, targetInContext);
        break;
    case vtColor:
        copyPair(source, target);
        copyPair(source + 8, target + 8);
        break;
    default:
        throw EGeneratorError(Format("Cannot copy a value of type %d", Value.GetReturnType()));
    }
}

void TCodeGenerator::GenerateArrayCopy(TStorageExpression &Target, TStorageExpression &Value) {
    auto *target = ArrayNode(Target);
    auto *value = ArrayNode(Value);
    bool compatible =
        Value.Node->Kind == skVariable && target->GetDimensionCount() == value->GetDimensionCount();
    for (std::int32_t k = 0; compatible && k < target->GetDimensionCount(); ++k)
        compatible = target->GetDimension(k) == value->GetDimension(k);
    if (!compatible) {
        if (Debug)
            Access->EmitRuntimeError(GenFormula, reIncompatibleArrays, Target.Position);
        return;
    }
    const std::int64_t count = target->GetElementCount();
    if (GenPrecision == pmArbitrary && IsReal(target->DataType)) {
        // The slots hold number handles: the numbers are assigned, never the handles copied.
        auto *huge = dynamic_cast<THugeAccess *>(Access.get());
        if (!huge)
            throw EGeneratorError("Arbitrary-precision array copy without the arbitrary-precision access");
        huge->EmitHugeArrayCopy(target->Offset, value->Offset,
                                CheckedOffset(count * (target->DataType == vtComplex ? 2 : 1)));
        return;
    }
    Access->EmitBlockCopy(target->Offset, value->Offset,
                          CheckedOffset(count * StorageElementSize(target->DataType, GenPrecision)));
}

void TCodeGenerator::StorageAccess(TStorageExpression &E, int Mode, std::int64_t Temp) {
    const std::uint8_t type = E.Node->DataType;
    const bool storing = Mode != saLoad;
    const TTempVariableNode *temp = nullptr;
    if (storing && Temp != NoTemporary) {
        temp = GenStorage->FindTemporary(static_cast<std::uint32_t>(Temp));
        if (!temp)
            throw EGeneratorError("Temporary of a parked value missing");
        Access->StoreValue(type, temp->Offset, false, true);
    }

    std::int64_t base = E.Node->Offset;
    bool computed = false;
    if (E.Count() > 0) {
        if (E.Node->Kind != skVariable)
            throw EGeneratorError("Indices on a value that is not an array");
        auto *variable = ArrayNode(E);
        if (E.Count() != variable->GetDimensionCount())
            throw EGeneratorError("Index count differs from the array's dimensions");
        std::int64_t stride = StorageElementSize(type, GenPrecision);
        for (std::int32_t k = E.Count() - 1; k >= 0; --k) {
            TExpression &index = *E.Get(k);
            const std::int64_t size = variable->GetDimension(k);
            if (IsConstantIndex(index)) {
                const std::int64_t c =
                    static_cast<const TIntConstant &>(*static_cast<TConstantExpression &>(index).Constant)
                        .Value;
                const std::int64_t v = ClampIndex(c, size);
                if (v != c && Debug)
                    Access->EmitRuntimeError(GenFormula, reArrayIndexOutOfBounds, index.Position);
                base += v * stride;
            } else {
                const bool keepOffset = computed;
                if (keepOffset || (storing && (type == vtInteger || type == vtBoolean)))
                    Access->EmitSaveValue();
                GenerateValue(index);
                Access->EmitBoundsCheck(static_cast<std::int32_t>(size), GenFormula, Debug, index.Position);
                Access->EmitScaleIndex(static_cast<std::uint32_t>(CheckedOffset(stride)));
                if (keepOffset) {
                    Access->EmitRestoreValue();
                    Access->EmitRoutine(rtAddInt);
                }
                computed = true;
            }
            stride *= size;
            CheckedOffset(stride);
        }
    }
    const std::int32_t offset = CheckedOffset(base);

    if (temp)
        Access->LoadValue(type, temp->Offset, false);
    if (!storing) {
        if (!computed) {
            Access->LoadValue(type, offset, false);
            return;
        }
        switch (type) {
        case vtComplex:
            Access->LoadComplexIndexed(offset);
            break;
        case vtFloat:
            Access->LoadRealIndexed(offset);
            break;
        case vtInteger:
            Access->LoadIntIndexed(offset);
            break;
        case vtBoolean:
            Access->LoadBoolIndexed(offset);
            break;
        case vtColor:
            Access->LoadColorIndexed(offset);
            break;
        default:
            throw EGeneratorError(Format("Cannot load a value of type %d", type));
        }
        return;
    }
    const bool pop = Mode == saStorePop;
    if (!computed) {
        Access->StoreValue(type, offset, false, pop);
        return;
    }
    switch (type) {
    case vtComplex:
        if (pop)
            Access->StoreComplexIndexedPop(offset);
        else
            Access->StoreComplexIndexed(offset);
        break;
    case vtFloat:
        if (pop)
            Access->StoreRealIndexedPop(offset);
        else
            Access->StoreRealIndexed(offset);
        break;
    case vtInteger:
        Access->EmitRestoreValue();
        Access->StoreIntIndexed(offset);
        break;
    case vtBoolean:
        Access->EmitRestoreValue();
        Access->StoreBoolIndexed(offset);
        break;
    case vtColor:
        if (pop)
            Access->StoreColorIndexedPop(offset);
        else
            Access->StoreColorIndexed(offset);
        break;
    default:
        throw EGeneratorError(Format("Cannot store a value of type %d", type));
    }
}

void TCodeGenerator::GenerateAssignment(TBinaryOperatorExpression &E, bool Discard) {
    TExpression &target = *E.Left;
    TExpression &value = *E.Right;
    const bool targetArray = IsWholeArray(target);

    if (targetArray) {
        TExpression *last = &value;
        if (value.Kind == ekBinaryOperator &&
            static_cast<TBinaryOperatorExpression &>(value).Operator == opAssign) {
            GenerateAssignment(static_cast<TBinaryOperatorExpression &>(value), false);
            while (last->Kind == ekBinaryOperator &&
                   static_cast<TBinaryOperatorExpression *>(last)->Operator == opAssign)
                last = static_cast<TBinaryOperatorExpression *>(last)->Right.get();
        }
        if (last->Kind != ekStorage || !IsWholeArray(*last))
            throw EGeneratorError("Array assigned from a value that is not an array");
        GenerateArrayCopy(static_cast<TStorageExpression &>(target),
                          static_cast<TStorageExpression &>(*last));
        return;
    }
    if (IsWholeArray(value))
        throw EGeneratorError("Array assigned to a value that is not an array");

    if (Discard && IsFixedAddress(value, GenPrecision) && IsFixedAddress(target, GenPrecision)) {
        GenerateCopy(target, value);
        return;
    }

    GenerateValue(value);
    const std::uint8_t type = value.GetReturnType();
    if (target.Kind == ekPredefined) {
        const std::int32_t offset =
            PredefinedContextOffset(static_cast<TPredefinedExpression &>(target).SymbolId, GenPrecision);
        if (offset < 0)
            throw EGeneratorError("Assignment to a predefined symbol outside the pixel context");
        Access->StoreValue(type, offset, true, Discard);
        return;
    }
    if (target.Kind != ekStorage)
        throw EGeneratorError(Format("Assignment to an expression of kind %d", target.Kind));
    StorageAccess(static_cast<TStorageExpression &>(target), Discard ? saStorePop : saStoreKeep,
                  E.Order == orParked ? std::int64_t{E.TempId} : NoTemporary);
}

// ---------------------------------------------------------------------------------------------
// Blocks

void TCodeGenerator::EmitStopCheck(std::int32_t Distance) {
    // cmp byte [esi + stop flag], 0; jne over the loop's jump back
    const std::uint8_t bytes[9] = {0x80,
                                   0xBE,
                                   static_cast<std::uint8_t>(GeneratorStopFlagOffset),
                                   static_cast<std::uint8_t>(GeneratorStopFlagOffset >> 8),
                                   static_cast<std::uint8_t>(GeneratorStopFlagOffset >> 16),
                                   static_cast<std::uint8_t>(GeneratorStopFlagOffset >> 24),
                                   0,
                                   0x75,
                                   static_cast<std::uint8_t>(Distance - 9)};
    Access->Emit(bytes, 9);
}

void TCodeGenerator::PatchJumpIfFalse(std::int32_t At, std::int32_t Target) {
    const std::int32_t end = Access->GetPosition();
    Access->SetPosition(At);
    Access->EmitJumpIfFalse(Target - At);
    Access->SetPosition(end);
}

void TCodeGenerator::PatchJump(std::int32_t At, std::int32_t Target) {
    const std::int32_t end = Access->GetPosition();
    Access->SetPosition(At);
    Access->EmitJump(Target - At);
    Access->SetPosition(end);
}

void TCodeGenerator::GenerateKeyword(TKeywordExpression &E) {
    auto condition = [&]() {
        if (!E.Operand || E.Operand->GetReturnType() != vtBoolean)
            throw EGeneratorError("Block statement without a boolean condition");
        GenerateValue(*E.Operand);
    };
    auto top = [&](const char *What) {
        TConstructRecord *record = GenConstructs.Top();
        if (!record)
            throw EGeneratorError(Format("%s without an open block", What));
        return record;
    };
    auto requireIf = [&](TConstructRecord *Record, const char *What) {
        if (Record->Kind != kwIf && Record->Kind != kwElseIf)
            throw EGeneratorError(Format("%s outside an IF block", What));
    };

    switch (E.KeywordId) {
    case kwIf: {
        TConstructRecord *record = GenConstructs.Push(kwIf);
        condition();
        record->JumpPosition = Access->GetPosition();
        Access->EmitJumpIfFalse(0);
        break;
    }
    case kwElseIf: {
        TConstructRecord *record = top("ELSEIF");
        requireIf(record, "ELSEIF");
        record->ExitPosition = Access->GetPosition();
        Access->EmitJump(0);
        PatchJumpIfFalse(record->JumpPosition, Access->GetPosition());
        TConstructRecord *branch = GenConstructs.Push(kwElseIf);
        condition();
        branch->JumpPosition = Access->GetPosition();
        Access->EmitJumpIfFalse(0);
        break;
    }
    case kwElse: {
        TConstructRecord *record = top("ELSE");
        requireIf(record, "ELSE");
        record->ExitPosition = Access->GetPosition();
        Access->EmitJump(0);
        PatchJumpIfFalse(record->JumpPosition, Access->GetPosition());
        GenConstructs.Push(kwElse);
        break;
    }
    case kwEndIf: {
        const std::int32_t end = Access->GetPosition();
        TConstructRecord *record = top("ENDIF");
        if (record->Kind != kwIf && record->Kind != kwElseIf && record->Kind != kwElse)
            throw EGeneratorError("ENDIF outside an IF block");
        if (record->Kind != kwElse)
            PatchJumpIfFalse(record->JumpPosition, end);
        while (GenConstructs.Top()->Kind != kwIf) {
            GenConstructs.Pop();
            record = top("ENDIF");
            if (record->Kind != kwIf && record->Kind != kwElseIf)
                throw EGeneratorError("ENDIF outside an IF block");
            PatchJump(record->ExitPosition, end);
        }
        GenConstructs.Pop();
        break;
    }
    case kwWhile: {
        TConstructRecord *record = GenConstructs.Push(kwWhile);
        record->JumpPosition = Access->GetPosition();
        condition();
        record->ExitPosition = Access->GetPosition();
        Access->EmitJumpIfFalse(0);
        break;
    }
    case kwEndWhile: {
        TConstructRecord *record = top("ENDWHILE");
        if (record->Kind != kwWhile)
            throw EGeneratorError("ENDWHILE outside a WHILE block");
        const std::int32_t check = Access->GetPosition();
        EmitStopCheck(9);
        Access->EmitJump(record->JumpPosition - Access->GetPosition());
        const std::int32_t after = Access->GetPosition();
        Access->SetPosition(check);
        EmitStopCheck(after - check);
        Access->SetPosition(after);
        PatchJumpIfFalse(record->ExitPosition, after);
        GenConstructs.Pop();
        break;
    }
    case kwRepeat:
        GenConstructs.Push(kwRepeat)->JumpPosition = Access->GetPosition();
        break;
    case kwUntil: {
        TConstructRecord *record = top("UNTIL");
        if (record->Kind != kwRepeat)
            throw EGeneratorError("UNTIL outside a REPEAT block");
        condition();
        const std::int32_t check = Access->GetPosition();
        EmitStopCheck(9);
        Access->EmitJumpIfFalse(record->JumpPosition - Access->GetPosition());
        const std::int32_t after = Access->GetPosition();
        Access->SetPosition(check);
        EmitStopCheck(after - check);
        Access->SetPosition(after);
        GenConstructs.Pop();
        break;
    }
    default:
        throw EGeneratorError(Format("Cannot generate code for keyword %d", E.KeywordId));
    }
}
