// The storage list of a compiled formula: every value its generated code keeps in memory
// (declared variables, compiler temporaries, constants and copies of parameters), their layout in
// the formula's data block, the set-up and release of that block, and the per-variable
// initialization states the checker tracks through conditional blocks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "CompDefinitions.h"
#include "SysUtils.h"

// Inconsistent use of the storage list by a compiler stage.
DECLARE_EXCEPTION(EStorageError, EInternalCompilerError);

// Kinds of storage nodes.
constexpr std::uint8_t skVariable = 0;
constexpr std::uint8_t skTemporary = 1;
constexpr std::uint8_t skConstant = 2;
constexpr std::uint8_t skParameter = 3;

// The largest data block the arrays and variables of one formula may take, in every precision.
// Generated code addresses array elements as 32-bit displacements from the block's start, and the
// blocks of several formulas are added up when a pixel context is prepared; this limit keeps both
// far from overflowing, and a block of this size can still be allocated in a 32-bit process.
constexpr std::int32_t MaxFormulaDataSize = 0x10000000; // 256 MiB

class TStorageNode : public TObject {
public:
    TStorageNode(const TStorageNode &) = delete;
    TStorageNode &operator=(const TStorageNode &) = delete;
    DECLARE_CLASS_NAME(TStorageNode)

    // Number of elements: the product of the dimensions of an array, else 1. Saturates at
    // INT64_MAX instead of wrapping, so an absurd array can always be recognised as too large.
    virtual std::int64_t GetElementCount() const { return 1; }
    // A new node of the same class with the same defining fields, no offset and no successor.
    virtual std::unique_ptr<TStorageNode> Clone() const = 0;

    // Byte offset of the first element in the data block; valid after AssignOffsets.
    std::int32_t Offset = 0;
    // The following node of the owning list (nullptr at the end).
    TStorageNode *Next = nullptr;
    const std::uint8_t Kind;
    std::uint8_t DataType;

protected:
    TStorageNode(std::uint8_t AKind, std::uint8_t ADataType) : Kind(AKind), DataType(ADataType) {}
};

// Initialization state of a variable inside one level of conditional blocks.
struct TVariableState {
    std::int32_t InitializedBranches = 0;
    bool Initialized = false;
};

class TVariableNode : public TStorageNode {
public:
    // Starts with one state: not initialized, no initialized branches.
    TVariableNode(const std::string &AName, std::uint8_t ADataType);
    DECLARE_CLASS_NAME(TVariableNode)

    std::int64_t GetElementCount() const override;
    // Copies name, declaration position, type and dimensions (not the states).
    std::unique_ptr<TStorageNode> Clone() const override;

    std::int32_t GetDimensionCount() const { return static_cast<std::int32_t>(FDimensions.size()); }
    // A larger count appends dimensions of size 1, a smaller one truncates; negative counts as 0.
    void SetDimensionCount(std::int32_t Count);
    // Index must lie in 0 .. GetDimensionCount() - 1, else EListError.
    std::uint32_t GetDimension(std::int32_t Index) const;
    void SetDimension(std::int32_t Index, std::uint32_t Size);

    // Initialized state of the innermost block level the variable takes part in.
    bool IsInitialized() const { return FStates.back().Initialized; }
    void SetInitialized(bool Value = true) { FStates.back().Initialized = Value; }
    // The variable counts as initialized from the start of the program, at every block level.
    void ResetStates();

    // Block operations, called by TStorageList for every variable; ListLevel is the list's level
    // after entering (BeginBlock) or while inside (NextBranch, EndBlock) the block.
    void BeginBlock(std::int32_t ListLevel);
    void NextBranch(std::int32_t ListLevel);
    void EndBlock(std::int32_t ListLevel, std::int32_t BranchCount);

    // Number of states on the stack (the bottom one included).
    std::int32_t StateCount() const { return static_cast<std::int32_t>(FStates.size()); }

    std::string Name;
    // Declared in a global section.
    bool Global = false;
    // Block level at which the top state was pushed.
    std::int32_t Level = 0;
    TCompilePosition DeclarationPosition;
    // Read somewhere in the program.
    bool Read = false;

private:
    void CheckDimensionIndex(std::int32_t Index) const;

    std::vector<std::uint32_t> FDimensions;
    std::vector<TVariableState> FStates; // top state last
};

// A value the code generator parks while it evaluates an expression.
class TTempVariableNode : public TStorageNode {
public:
    TTempVariableNode(std::uint32_t ATempId, std::uint8_t ADataType)
        : TStorageNode(skTemporary, ADataType), TempId(ATempId) {}
    DECLARE_CLASS_NAME(TTempVariableNode)
    std::unique_ptr<TStorageNode> Clone() const override;

    std::uint32_t TempId;
};

// A constant value copied into the data block by InitData; its type is the node's type.
class TConstantNode : public TStorageNode {
public:
    explicit TConstantNode(std::unique_ptr<TConstant> AConstant);
    DECLARE_CLASS_NAME(TConstantNode)
    std::unique_ptr<TStorageNode> Clone() const override;

    std::unique_ptr<TConstant> Constant;
};

// The writable copy of a formula parameter that the formula assigns to.
class TParameterNode : public TStorageNode {
public:
    TParameterNode(const std::string &AParameterName, std::uint8_t ADataType)
        : TStorageNode(skParameter, ADataType), ParameterName(AParameterName) {}
    DECLARE_CLASS_NAME(TParameterNode)
    std::unique_ptr<TStorageNode> Clone() const override;

    std::string ParameterName;
};

// Element size and alignment in the data block of a value type in a precision; a type that takes
// no space (strings, arrays as a whole, no value) has size 0 and alignment 1.
std::int32_t StorageElementSize(std::uint8_t DataType, std::uint8_t Precision);
std::int32_t StorageAlignment(std::uint8_t DataType, std::uint8_t Precision);

// Owns its nodes, which stay in insertion order.
class TStorageList : public TObject {
public:
    TStorageList();
    ~TStorageList() override;
    TStorageList(const TStorageList &) = delete;
    TStorageList &operator=(const TStorageList &) = delete;
    DECLARE_CLASS_NAME(TStorageList)

    TStorageNode *GetFirst() const { return FFirst; }
    TStorageNode *GetLast() const { return FLast; }
    std::int32_t GetCount() const { return FCount; }

    // Appends Node and returns it. A variable added inside open blocks joins every open level,
    // as if it had existed when the blocks were entered.
    TStorageNode *Add(std::unique_ptr<TStorageNode> Node);
    template <class TNode> TNode *AddNode(std::unique_ptr<TNode> Node) {
        return static_cast<TNode *>(Add(std::move(Node)));
    }
    // Frees every node and closes every block.
    void Clear();
    // Clear, then a clone of every node of Source in order.
    void Assign(const TStorageList &Source);
    // Frees the temporaries and constants of an earlier code generation.
    void RemoveTemporaries();

    // First variable (parameter copy) of that name, letter case ignored; nullptr when none.
    TVariableNode *FindVariable(const std::string &Name) const;
    TParameterNode *FindParameter(const std::string &Name) const;
    TTempVariableNode *FindTemporary(std::uint32_t TempId) const;
    // First constant node whose constant Equals Constant; nullptr when none.
    TConstantNode *FindConstant(const TConstant &Constant) const;
    // Position of Node in the list, -1 when it is not there.
    std::int32_t IndexOf(const TStorageNode *Node) const;

    // Sets dimension Index of Node, a variable of this list, to Value, or to 1 when Value is
    // below 1. When the resulting array (or the data block with it, in any precision) would be
    // larger than MaxFormulaDataSize, the dimension is set back to 1 and ECompileError
    // "Literal out of range" is raised at Position, the place of the dimension in the formula.
    void SetArrayDimension(TVariableNode &Node, std::int32_t Index, std::int32_t Value,
                           const TCompilePosition &Position);
    // Size of the data block the nodes would take in Precision, without the limit (saturating).
    std::int64_t LayoutSize(std::uint8_t APrecision) const;

    // Gives every node its offset for the current precision and sets DataSize. Raises
    // EStorageError when the block would exceed the 32-bit range (SetArrayDimension keeps every
    // formula far below that).
    void AssignOffsets();
    // Prepares a zero-filled block of at least DataSize bytes: in arbitrary precision one new
    // number of Digits digits per real slot, then the constants' values. Runs under the formula
    // control word. When it fails, everything it created is freed again before the exception
    // passes on.
    void InitData(void *Block) const;
    // Frees the numbers InitData created (arbitrary precision only) and clears their slots;
    // empty slots are skipped, so a block can be released twice. Does not free Block.
    void DoneData(void *Block) const;

    // Conditional blocks, as the checker enters and leaves them.
    void BeginBlock();
    void NextBranch();
    void EndBlock();
    std::int32_t GetBranchCount() const { return FBlocks.back(); }

    // Current block nesting depth (0 outside any block).
    std::int32_t Level = 0;
    // Decimal digits of the arbitrary-precision numbers of the data block.
    std::int32_t Digits = 0;
    std::uint8_t Precision = pmDouble;
    // Size of the data block in bytes, set by AssignOffsets.
    std::int32_t DataSize = 0;

private:
    void Unlink(TStorageNode *Previous, TStorageNode *Node);
    void IndexNode(TStorageNode *Node);
    void ClearIndex();

    TStorageNode *FFirst = nullptr;
    TStorageNode *FLast = nullptr;
    std::int32_t FCount = 0;
    // Look-up indexes, so that finding a node costs no walk over the list: the first variable
    // and parameter copy of each name (upper case), the temporaries by id, the constants by a
    // hash of their value (in list order).
    std::unordered_map<std::string, TVariableNode *> FVariables;
    std::unordered_map<std::string, TParameterNode *> FParameters;
    std::unordered_map<std::uint32_t, TTempVariableNode *> FTemporaries;
    std::unordered_map<std::size_t, std::vector<TConstantNode *>> FConstants;
    // Branch counts of the open blocks, innermost last; never empty.
    std::vector<std::int32_t> FBlocks;
};
