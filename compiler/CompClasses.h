// Small containers of the compiler stages: the statement list of a formula, the stack of open
// block constructs (IF, WHILE, REPEAT) and the stack of open conditional-compilation blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "CompDefinitions.h"
#include "CompExpressions.h"
#include "SysUtils.h"

class TStorageList;

// One statement of a statement list; owns its expression.
class TExpressionNode {
public:
    explicit TExpressionNode(TExpressionPtr AExpression) : Expression(std::move(AExpression)) {}
    TExpressionNode(const TExpressionNode &) = delete;
    TExpressionNode &operator=(const TExpressionNode &) = delete;

    TExpressionPtr Expression;
    TExpressionNode *Next = nullptr; // owned by the list
};

// The statements of a formula in order. Owns its nodes.
class TExpressionList : public TObject {
public:
    TExpressionList() = default;
    ~TExpressionList() override;
    TExpressionList(const TExpressionList &) = delete;
    TExpressionList &operator=(const TExpressionList &) = delete;
    DECLARE_CLASS_NAME(TExpressionList)

    TExpressionNode *GetFirst() const { return FFirst; }
    TExpressionNode *GetLast() const { return FLast; }
    std::int32_t GetCount() const { return FCount; }

    // Appends a statement and returns its node.
    TExpressionNode *Add(TExpressionPtr Expression);
    // Places a statement near the start of the program: directly after the first label (after
    // the label that follows a leading GLOBAL section when AfterGlobal is set), or at the head
    // when the list does not start with a label. A setting goes after the settings of a higher
    // order that are already there, so settings of order 1 precede those of order 0 and, within
    // one order, the later insertion precedes the earlier one.
    TExpressionNode *InsertSetting(TExpressionPtr Expression, bool AfterGlobal);
    // Frees every statement.
    void Clear();
    // Clear, then a copy of every statement of Other in order.
    void Assign(const TExpressionList &Other);
    // Unlinks and frees Node (nothing happens when Node is not in the list).
    void Remove(TExpressionNode *Node);
    // Points every storage reference from the nodes of Old to those at the same positions of New.
    void RemapStorage(const TStorageList &Old, const TStorageList &New);

private:
    void InsertAfter(TExpressionNode *Previous, TExpressionNode *Node);

    TExpressionNode *FFirst = nullptr;
    TExpressionNode *FLast = nullptr;
    std::int32_t FCount = 0;
};

// An open block construct. Kind is the keyword id of the block (IF, ELSEIF, ELSE, WHILE, REPEAT);
// the positions are code positions the code generator patches.
struct TConstructRecord {
    TConstructRecord *Next = nullptr;
    std::uint8_t Kind = 0;
    std::int32_t JumpPosition = 0;
    std::int32_t ExitPosition = 0;
};

// Stack of open block constructs; records stay where they are until popped.
class TConstructList : public TObject {
public:
    TConstructList() = default;
    ~TConstructList() override;
    TConstructList(const TConstructList &) = delete;
    TConstructList &operator=(const TConstructList &) = delete;
    DECLARE_CLASS_NAME(TConstructList)

    // Pushes a record of Kind with both positions 0 and returns it.
    TConstructRecord *Push(std::uint8_t Kind);
    // Removes the top record (nothing when the stack is empty).
    void Pop();
    void Clear();
    // The top record, or nullptr.
    TConstructRecord *Top() const { return FTop; }

private:
    TConstructRecord *FTop = nullptr;
};

// An open $IFDEF block: Condition is whether the symbol was defined, InElse whether $ELSE was
// seen. The block's text is taken while the two differ.
struct TConditionalDefine {
    bool Condition = false;
    bool InElse = false;
};

class TConditionalDefineList : public TObject {
public:
    DECLARE_CLASS_NAME(TConditionalDefineList)

    void IfDef(bool Condition);
    // ECompileError "$ELSE without $IFDEF is not allowed" or "$ELSE after $ELSE is not allowed"
    // at Position.
    void Else(const TCompilePosition &Position);
    // ECompileError "$ENDIF without $IFDEF is not allowed" at Position.
    void EndIf(const TCompilePosition &Position);
    bool IsEmpty() const { return FBlocks.empty(); }
    // True outside every block, else whether the innermost block's text is taken.
    bool IsActive() const;
    void Clear() { FBlocks.clear(); }

private:
    std::vector<TConditionalDefine> FBlocks; // innermost last
};
