// Expression trees.
#include "CompExpressions.h"

#include "Classes.h"
#include "CompParams.h"
#include "CompTokenizer.h"

// ---------------------------------------------------------------------------------------------
// Helpers

std::uint8_t PredefinedSymbolType(std::uint8_t SymbolId) {
    switch (SymbolId) {
    case 0:  // PIXEL
    case 2:  // RANDOM
    case 7:  // SCREENMAX
    case 8:  // SCREENPIXEL
    case 14: // CENTER
    case 20: // Z
        return vtComplex;
    case 1:  // LASTSQR
    case 3:  // PI
    case 4:  // E
    case 15: // MAGN
    case 16: // ANGLE
    case 17: // STRETCH
    case 18: // SKEW
    case 19: // INDEX
    case 22: // RANDOMRANGE
        return vtFloat;
    case 5:  // MAXITER
    case 6:  // NUMITER
    case 10: // WIDTH
    case 11: // HEIGHT
    case 12: // X
    case 13: // Y
        return vtInteger;
    case 9:  // WHITESQ
    case 21: // SOLID
        return vtBoolean;
    case 23: // COLOR
        return vtColor;
    default:
        return vtNone;
    }
}

TStorageMap::TStorageMap(const TStorageList &Old, const TStorageList &New) {
    if (Old.GetCount() != New.GetCount())
        throw EExpressionError("TExpression.RemapStorage: Storage lists differ");
    FMap.reserve(static_cast<std::size_t>(Old.GetCount()));
    TStorageNode *target = New.GetFirst();
    for (const TStorageNode *node = Old.GetFirst(); node; node = node->Next, target = target->Next)
        FMap.emplace(node, target);
}

TStorageNode *TStorageMap::Map(const TStorageNode *Node) const {
    auto found = FMap.find(Node);
    if (found == FMap.end())
        throw EExpressionError("TExpression.RemapStorage: Storage node not found");
    return found->second;
}

void TExpressionArray::CheckIndex(std::int32_t I) const {
    if (I < 0 || I >= Count())
        throw EListError("List index out of bounds (%d)", I);
}

TExpression *TExpressionArray::Get(std::int32_t I) const {
    CheckIndex(I);
    return FItems[static_cast<std::size_t>(I)].get();
}

void TExpressionArray::Put(std::int32_t I, TExpressionPtr Expression) {
    CheckIndex(I);
    TExpressionPtr &slot = FItems[static_cast<std::size_t>(I)];
    if (slot.get() == Expression.get()) {
        // Putting back the item that is already there: keep the one owner.
        Expression.release();
        return;
    }
    slot = std::move(Expression);
}

TExpressionPtr TExpressionArray::Extract(std::int32_t I) {
    CheckIndex(I);
    return std::move(FItems[static_cast<std::size_t>(I)]);
}

void TExpressionArray::Add(TExpressionPtr Expression) {
    FItems.push_back(std::move(Expression));
}

void TExpressionArray::Resize(std::int32_t Count) {
    FItems.clear();
    FItems.resize(static_cast<std::size_t>(Count < 0 ? 0 : Count));
}

// ---------------------------------------------------------------------------------------------
// TExpression

void TExpression::ChildIndexError(std::int32_t I) {
    throw EListError("List index out of bounds (%d)", I);
}

TExpressionPtr &TExpression::ChildSlot(std::int32_t I) {
    ChildIndexError(I);
}

void TExpression::FreeChildren() noexcept {
    // Nodes waiting to be freed are chained through FFreeNext; each node's sub-expressions are
    // taken out before the node goes, so no destructor ever descends into a subtree.
    TExpression *pending = nullptr;
    auto takeChildren = [&pending](TExpression &node) {
        const std::int32_t count = node.ChildCount();
        for (std::int32_t i = 0; i < count; i++) {
            TExpression *child = node.ChildSlot(i).release();
            if (child) {
                child->FFreeNext = pending;
                pending = child;
            }
        }
    };
    takeChildren(*this);
    while (pending) {
        TExpression *node = pending;
        pending = node->FFreeNext;
        takeChildren(*node);
        delete node;
    }
}

TExpressionPtr TExpression::Clone() const {
    TExpressionPtr root = CloneNode();
    std::vector<std::pair<const TExpression *, TExpression *>> pending;
    pending.emplace_back(this, root.get());
    while (!pending.empty()) {
        const auto [source, copy] = pending.back();
        pending.pop_back();
        const std::int32_t count = source->ChildCount();
        if (copy->ChildCount() != count)
            throw EExpressionError("TExpression.Clone: Copy differs from its source");
        for (std::int32_t i = 0; i < count; i++) {
            const TExpression *child = source->GetChild(i);
            if (!child)
                continue;
            TExpressionPtr &slot = copy->ChildSlot(i);
            slot = child->CloneNode();
            pending.emplace_back(child, slot.get());
        }
    }
    return root;
}

void TExpression::RemapStorage(const TStorageList &Old, const TStorageList &New) {
    RemapStorage(TStorageMap(Old, New));
}

void TExpression::RemapStorage(const TStorageMap &Map) {
    std::vector<TExpression *> pending{this};
    while (!pending.empty()) {
        TExpression *node = pending.back();
        pending.pop_back();
        node->RemapNode(Map);
        const std::int32_t count = node->ChildCount();
        for (std::int32_t i = count - 1; i >= 0; i--)
            if (TExpression *child = node->GetChild(i))
                pending.push_back(child);
    }
}

// ---------------------------------------------------------------------------------------------
// Expressions without a value

std::uint8_t TAbstractExpression::GetReturnType() const {
    throw EExpressionError("TAbstractExpression.GetReturnType: Cannot return value");
}

void TAbstractExpression::SetReturnType(std::uint8_t Type) {
    throw EExpressionError("TAbstractExpression.SetReturnType: Cannot set value");
}

TExpressionPtr TLabelExpression::CloneNode() const {
    return std::make_unique<TLabelExpression>(Position, SectionKind, Name);
}

TDeclarationExpression::TDeclarationExpression(TExpressionPtr AVariable, TVariableNode *ANode)
    : TAbstractExpression(AVariable ? AVariable->Position : TCompilePosition{}, ekDeclaration),
      Variable(std::move(AVariable)), Node(ANode) {
    if (!Variable || !Node)
        throw EExpressionError("TDeclarationExpression.Create: Variable expected");
}

TExpressionPtr &TDeclarationExpression::ChildSlot(std::int32_t I) {
    if (I != 0)
        ChildIndexError(I);
    return Variable;
}

TExpressionPtr TDeclarationExpression::CloneNode() const {
    // The variable is copied by Clone; the copy starts with a placeholder taking its place.
    auto copy =
        std::make_unique<TDeclarationExpression>(std::make_unique<TVariableExpression>(Position, ""), Node);
    copy->Variable.reset();
    return copy;
}

void TDeclarationExpression::RemapNode(const TStorageMap &Map) {
    TStorageNode *node = Map.Map(Node);
    if (node->Kind != skVariable)
        throw EExpressionError("TDeclarationExpression.RemapStorage: Variable expected");
    Node = static_cast<TVariableNode *>(node);
}

TSettingExpression::TSettingExpression(TExpressionPtr AValue, std::uint8_t ASettingType,
                                       const std::string &AName)
    : TAbstractExpression(AValue ? AValue->Position : TCompilePosition{}, ekSetting),
      Value(std::move(AValue)), SettingType(ASettingType), Name(AName) {
    if (!Value)
        throw EExpressionError("TSettingExpression.Create: Value expected");
}

TExpressionPtr &TSettingExpression::ChildSlot(std::int32_t I) {
    if (I != 0)
        ChildIndexError(I);
    return Value;
}

void TSettingExpression::Apply(TSettingOwner &Owner, const TConstant &Constant) {
    Owner.ApplySetting(Name, Constant);
}

namespace {

// A setting copy of the same class and fields whose value place is empty (Clone fills it).
template <class TSetting> TExpressionPtr CloneSetting(const TSetting &Source, TExpressionPtr Copy) {
    auto *setting = static_cast<TSettingExpression *>(Copy.get());
    setting->Position = Source.Position;
    setting->Value.reset();
    return Copy;
}

// Stands in for a value while a setting copy is made.
TExpressionPtr Placeholder(const TCompilePosition &Position) {
    return std::make_unique<TStringExpression>(Position, "");
}

} // namespace

TExpressionPtr TSettingExpression::CloneNode() const {
    return CloneSetting(*this,
                        std::make_unique<TSettingExpression>(Placeholder(Position), SettingType, Name));
}

TExpressionPtr TEnabledSettingExpression::CloneNode() const {
    return CloneSetting(*this, std::make_unique<TEnabledSettingExpression>(Name, Placeholder(Position)));
}

TExpressionPtr TVisibleSettingExpression::CloneNode() const {
    return CloneSetting(*this, std::make_unique<TVisibleSettingExpression>(Name, Placeholder(Position)));
}

TExpressionPtr TDefaultSettingExpression::CloneNode() const {
    return CloneSetting(
        *this, std::make_unique<TDefaultSettingExpression>(Name, Placeholder(Position), SettingType));
}

TExpressionPtr TDirectiveExpression::CloneNode() const {
    return std::make_unique<TDirectiveExpression>(Position, Name, DirectiveId);
}

// ---------------------------------------------------------------------------------------------
// Expressions of a fixed type

void TSimpleExpression::SetReturnType(std::uint8_t Type) {
    throw EExpressionError("Cannot change the type of a simple expression");
}

namespace {

std::uint8_t LiteralType(const std::unique_ptr<TLiteral> &literal) {
    if (!literal)
        throw EExpressionError("TLiteralExpression.Create: Literal expected");
    return literal->Type;
}

std::uint8_t ConstantType(const std::unique_ptr<TConstant> &constant) {
    if (!constant)
        throw EExpressionError("TConstantExpression.Create: Constant expected");
    return constant->Type;
}

std::uint8_t NodeType(const TStorageNode *node) {
    if (!node)
        throw EExpressionError("TStorageExpression.Create: Storage node expected");
    return node->DataType;
}

} // namespace

TLiteralExpression::TLiteralExpression(const TCompilePosition &APosition, std::unique_ptr<TLiteral> ALiteral)
    : TSimpleExpression(APosition, ekLiteral, LiteralType(ALiteral)), Literal(std::move(ALiteral)) {}

TLiteralExpression::~TLiteralExpression() = default;

TExpressionPtr TLiteralExpression::CloneNode() const {
    return std::make_unique<TLiteralExpression>(Position, Literal->Clone());
}

TConstantExpression::TConstantExpression(const TCompilePosition &APosition,
                                         std::unique_ptr<TConstant> AConstant)
    : TSimpleExpression(APosition, ekConstant, ConstantType(AConstant)), Constant(std::move(AConstant)) {}

TConstantExpression::~TConstantExpression() = default;

TExpressionPtr TConstantExpression::CloneNode() const {
    return std::make_unique<TConstantExpression>(Position, Constant->Clone());
}

TExpressionPtr TStringExpression::CloneNode() const {
    auto copy = std::make_unique<TStringExpression>(Position, Text);
    copy->StringIndex = StringIndex;
    return copy;
}

TExpressionPtr TPredefinedExpression::CloneNode() const {
    return std::make_unique<TPredefinedExpression>(Position, SymbolId);
}

TStorageExpression::TStorageExpression(const TCompilePosition &APosition, TStorageNode *ANode)
    : TSimpleExpression(APosition, ekStorage, NodeType(ANode)), Node(ANode) {}

std::uint8_t TStorageExpression::GetReturnType() const {
    if (Node->Kind == skVariable && Indices.Count() == 0 &&
        static_cast<const TVariableNode *>(Node)->GetDimensionCount() > 0)
        return vtArray;
    return Node->DataType;
}

std::int32_t TStorageExpression::ChildCount() const {
    return Indices.Count();
}

TExpressionPtr &TStorageExpression::ChildSlot(std::int32_t I) {
    if (I < 0 || I >= Indices.Count())
        ChildIndexError(I);
    return Indices.Slot(I);
}

TExpressionPtr TStorageExpression::CloneNode() const {
    auto copy = std::make_unique<TStorageExpression>(Position, Node);
    copy->Indices.Resize(Indices.Count());
    return copy;
}

void TStorageExpression::RemapNode(const TStorageMap &Map) {
    Node = Map.Map(Node);
}

std::uint8_t TKeywordExpression::GetReturnType() const {
    switch (KeywordId) {
    case kwIf:
    case kwElseIf:
    case kwWhile:
    case kwUntil:
        return vtBoolean;
    default:
        throw EExpressionError("TKeywordExpression.GetReturnType: Cannot return value");
    }
}

TExpressionPtr &TKeywordExpression::ChildSlot(std::int32_t I) {
    if (I != 0)
        ChildIndexError(I);
    return Operand;
}

TExpressionPtr TKeywordExpression::CloneNode() const {
    return std::make_unique<TKeywordExpression>(Position, nullptr, KeywordId);
}

// ---------------------------------------------------------------------------------------------
// Expressions typed by the checker

std::uint8_t TCommonExpression::GetReturnType() const {
    if (TypeSet == 0)
        throw EExpressionError("TCommonExpression.GetReturnType: Value not initialized");
    return ReturnType;
}

void TCommonExpression::SetReturnType(std::uint8_t Type) {
    ReturnType = Type;
    TypeSet = 1;
}

void TCommonExpression::CopyTypeTo(TCommonExpression &Copy) const {
    if (TypeSet != 0) {
        Copy.ReturnType = ReturnType;
        Copy.TypeSet = TypeSet;
    }
}

std::int32_t TVariableExpression::ChildCount() const {
    return Indices.Count();
}

TExpressionPtr &TVariableExpression::ChildSlot(std::int32_t I) {
    if (I < 0 || I >= Indices.Count())
        ChildIndexError(I);
    return Indices.Slot(I);
}

TExpressionPtr TVariableExpression::CloneNode() const {
    auto copy = std::make_unique<TVariableExpression>(Position, Name);
    CopyTypeTo(*copy);
    copy->Indices.Resize(Indices.Count());
    return copy;
}

TExpressionPtr TParameterExpression::CloneNode() const {
    auto copy = std::make_unique<TParameterExpression>(Position, Name);
    CopyTypeTo(*copy);
    return copy;
}

TExpressionPtr &TUnaryOperatorExpression::ChildSlot(std::int32_t I) {
    if (I != 0)
        ChildIndexError(I);
    return Operand;
}

TExpressionPtr TUnaryOperatorExpression::CloneNode() const {
    auto copy = std::make_unique<TUnaryOperatorExpression>(Position, nullptr, Operator);
    CopyTypeTo(*copy);
    return copy;
}

TExpressionPtr &TBinaryOperatorExpression::ChildSlot(std::int32_t I) {
    if (I == 0)
        return Left;
    if (I != 1)
        ChildIndexError(I);
    return Right;
}

TExpressionPtr TBinaryOperatorExpression::CloneNode() const {
    auto copy = std::make_unique<TBinaryOperatorExpression>(Position, nullptr, nullptr, Operator);
    CopyTypeTo(*copy);
    copy->Order = Order;
    copy->TempId = TempId;
    return copy;
}

std::int32_t TCustomFunctionExpression::ChildCount() const {
    return Arguments.Count();
}

TExpressionPtr &TCustomFunctionExpression::ChildSlot(std::int32_t I) {
    if (I < 0 || I >= Arguments.Count())
        ChildIndexError(I);
    return Arguments.Slot(I);
}

TExpressionPtr TFunctionExpression::CloneNode() const {
    auto copy = std::make_unique<TFunctionExpression>(Position, FunctionId);
    CopyTypeTo(*copy);
    copy->ArgumentMode = ArgumentMode;
    copy->FirstTempId = FirstTempId;
    copy->Arguments.Resize(Arguments.Count());
    return copy;
}

TExpressionPtr TUserFunctionExpression::CloneNode() const {
    auto copy = std::make_unique<TUserFunctionExpression>(Position, Name);
    CopyTypeTo(*copy);
    copy->Arguments.Resize(Arguments.Count());
    return copy;
}

// ---------------------------------------------------------------------------------------------
// Parameter settings

namespace {

TParam *FindSettingTarget(TSettingOwner &owner, const std::string &name, int kinds) {
    TParamList &params = owner.GetSettingParams();
    const int index = params.IndexOfName(name, kinds);
    return index < 0 ? nullptr : params.GetItem(index);
}

bool BooleanSetting(const TConstant &constant) {
    if (constant.Type != vtBoolean)
        throw EExpressionError("TSettingExpression.Apply: Boolean value expected");
    return static_cast<const TBoolConstant &>(constant).Value;
}

} // namespace

void TEnabledSettingExpression::Apply(TSettingOwner &Owner, const TConstant &Constant) {
    const bool value = BooleanSetting(Constant);
    if (TParam *param = FindSettingTarget(Owner, Name, pkOrdinary | pkFunction))
        param->SetEnabled(value);
}

void TVisibleSettingExpression::Apply(TSettingOwner &Owner, const TConstant &Constant) {
    const bool value = BooleanSetting(Constant);
    if (TParam *param = FindSettingTarget(Owner, Name, pkOrdinary | pkFunction))
        param->SetVisible(value);
}

void TDefaultSettingExpression::Apply(TSettingOwner &Owner, const TConstant &Constant) {
    TParam *param = FindSettingTarget(Owner, Name, pkOrdinary);
    if (!param)
        return;
    const bool changedByUser = param->Modified;
    param->SetDefault(&Constant);
    if (!changedByUser) {
        // Following the default is not a change of the user's, so the value keeps following it
        // each time the setting is applied again.
        param->ResetToDefault();
        param->Modified = false;
    }
}
