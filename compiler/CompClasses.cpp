// Statement list, block-construct stack and conditional-compilation stack.
#include "CompClasses.h"

#include "CompMessages.h"
#include "CompStorage.h"

namespace {

// Section kind of a GLOBAL label.
constexpr std::uint8_t GlobalSectionKind = 1;

bool IsLabel(const TExpressionNode *node) {
    return node && node->Expression && node->Expression->Kind == ekLabel;
}

bool IsSetting(const TExpressionNode *node) {
    return node && node->Expression && node->Expression->Kind == ekSetting;
}

int SettingOrder(const TExpressionNode *node) {
    return static_cast<const TSettingExpression *>(node->Expression.get())->GetOrder();
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TExpressionList

TExpressionList::~TExpressionList() {
    Clear();
}

void TExpressionList::InsertAfter(TExpressionNode *Previous, TExpressionNode *Node) {
    if (Previous) {
        Node->Next = Previous->Next;
        Previous->Next = Node;
    } else {
        Node->Next = FFirst;
        FFirst = Node;
    }
    if (!Node->Next)
        FLast = Node;
    FCount++;
}

TExpressionNode *TExpressionList::Add(TExpressionPtr Expression) {
    auto *node = new TExpressionNode(std::move(Expression));
    InsertAfter(FLast, node);
    return node;
}

TExpressionNode *TExpressionList::InsertSetting(TExpressionPtr Expression, bool AfterGlobal) {
    auto node = std::make_unique<TExpressionNode>(std::move(Expression));
    if (!IsLabel(FFirst)) {
        InsertAfter(nullptr, node.get());
        return node.release();
    }
    TExpressionNode *point = FFirst;
    if (AfterGlobal &&
        static_cast<const TLabelExpression *>(FFirst->Expression.get())->SectionKind == GlobalSectionKind) {
        for (TExpressionNode *next = FFirst->Next; next; next = next->Next) {
            if (IsLabel(next)) {
                point = next;
                break;
            }
        }
    }
    if (IsSetting(node.get())) {
        const int order = SettingOrder(node.get());
        while (IsSetting(point->Next) && SettingOrder(point->Next) > order)
            point = point->Next;
    }
    InsertAfter(point, node.get());
    return node.release();
}

void TExpressionList::Clear() {
    TExpressionNode *node = FFirst;
    FFirst = nullptr;
    FLast = nullptr;
    FCount = 0;
    while (node) {
        TExpressionNode *next = node->Next;
        delete node;
        node = next;
    }
}

void TExpressionList::Assign(const TExpressionList &Other) {
    if (&Other == this)
        return;
    // Copy first, so that a failed copy leaves this list as it was.
    TExpressionList copy;
    for (const TExpressionNode *node = Other.FFirst; node; node = node->Next)
        copy.Add(node->Expression ? node->Expression->Clone() : nullptr);
    Clear();
    FFirst = copy.FFirst;
    FLast = copy.FLast;
    FCount = copy.FCount;
    copy.FFirst = nullptr;
    copy.FLast = nullptr;
    copy.FCount = 0;
}

void TExpressionList::Remove(TExpressionNode *Node) {
    TExpressionNode *previous = nullptr;
    for (TExpressionNode *node = FFirst; node; previous = node, node = node->Next) {
        if (node != Node)
            continue;
        if (previous)
            previous->Next = node->Next;
        else
            FFirst = node->Next;
        if (FLast == node)
            FLast = previous;
        FCount--;
        delete node;
        return;
    }
}

void TExpressionList::RemapStorage(const TStorageList &Old, const TStorageList &New) {
    const TStorageMap map(Old, New);
    for (TExpressionNode *node = FFirst; node; node = node->Next)
        if (node->Expression)
            node->Expression->RemapStorage(map);
}

// ---------------------------------------------------------------------------------------------
// TConstructList

TConstructList::~TConstructList() {
    Clear();
}

TConstructRecord *TConstructList::Push(std::uint8_t Kind) {
    auto *record = new TConstructRecord;
    record->Kind = Kind;
    record->Next = FTop;
    FTop = record;
    return record;
}

void TConstructList::Pop() {
    if (!FTop)
        return;
    TConstructRecord *record = FTop;
    FTop = record->Next;
    delete record;
}

void TConstructList::Clear() {
    while (FTop)
        Pop();
}

// ---------------------------------------------------------------------------------------------
// TConditionalDefineList

void TConditionalDefineList::IfDef(bool Condition) {
    FBlocks.push_back(TConditionalDefine{Condition, false});
}

void TConditionalDefineList::Else(const TCompilePosition &Position) {
    if (FBlocks.empty())
        throw ECompileError(ceDirectiveElseMisplaced, Position);
    if (FBlocks.back().InElse)
        throw ECompileError(ceDirectiveElseAfterElse, Position);
    FBlocks.back().InElse = true;
}

void TConditionalDefineList::EndIf(const TCompilePosition &Position) {
    if (FBlocks.empty())
        throw ECompileError(ceDirectiveEndIfMisplaced, Position);
    FBlocks.pop_back();
    if (FBlocks.empty())
        FBlocks.shrink_to_fit();
}

bool TConditionalDefineList::IsActive() const {
    if (FBlocks.empty())
        return true;
    return FBlocks.back().Condition != FBlocks.back().InElse;
}
