// Expression trees: the statements of a formula as the parser builds them, the checker types and
// rewrites them, the optimizer folds them and the code generator walks them.
//
// A node owns its operands, arguments and indices. Trees can be arbitrarily deep (a long sum is a
// chain as deep as it has terms), so freeing, copying and remapping a tree never recurse: they
// walk the tree with a work list of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "CompDefinitions.h"
#include "CompStorage.h"
#include "SysUtils.h"

class TParamList;

// Asking a value of an expression that has none, or changing a fixed type: a compiler fault.
DECLARE_EXCEPTION(EExpressionError, EInternalCompilerError);

// Expression kinds.
constexpr std::uint8_t ekLiteral = 0;
constexpr std::uint8_t ekVariable = 1;
constexpr std::uint8_t ekParameter = 2;
constexpr std::uint8_t ekUserFunction = 3;
constexpr std::uint8_t ekPredefined = 4;
constexpr std::uint8_t ekUnaryOperator = 5;
constexpr std::uint8_t ekBinaryOperator = 6;
constexpr std::uint8_t ekFunction = 7;
constexpr std::uint8_t ekKeyword = 8;
constexpr std::uint8_t ekLabel = 9;
constexpr std::uint8_t ekDirective = 10;
constexpr std::uint8_t ekDeclaration = 11;
constexpr std::uint8_t ekSetting = 12;
constexpr std::uint8_t ekString = 13;
constexpr std::uint8_t ekStorage = 14;
constexpr std::uint8_t ekConstant = 15;

// The operator codes of unary and binary operator nodes and the internal function ids (68..75)
// are those of CompAccess.h (uoNegate, opAdd, fnToComplex ...); directive ids those of
// CompTokenizer.h (diDefine, diUndef).

// Value type of a predefined symbol id (0..23); vtNone for an unknown id.
std::uint8_t PredefinedSymbolType(std::uint8_t SymbolId);

class TExpression;
using TExpressionPtr = std::unique_ptr<TExpression>;

// Pairs the nodes of one storage list with the nodes at the same positions of another, so that
// copied expressions can be pointed at the copy's own storage.
class TStorageMap {
public:
    // Fails with EExpressionError when the lists differ in length.
    TStorageMap(const TStorageList &Old, const TStorageList &New);
    // The node at Node's position in the new list; EExpressionError when Node is not in the old
    // list (a copied expression must never keep pointing at storage it does not own).
    TStorageNode *Map(const TStorageNode *Node) const;

private:
    std::unordered_map<const TStorageNode *, TStorageNode *> FMap;
};

// An owned, ordered list of sub-expressions (indices or arguments).
class TExpressionArray {
public:
    std::int32_t Count() const { return static_cast<std::int32_t>(FItems.size()); }
    // EListError for an index out of range.
    TExpression *Get(std::int32_t I) const;
    // Replaces item I, freeing the old one unless it is Expression itself.
    void Put(std::int32_t I, TExpressionPtr Expression);
    // Takes item I out of the list, leaving an empty place that Put fills again.
    TExpressionPtr Extract(std::int32_t I);
    void Add(TExpressionPtr Expression);
    // An array of Count empty places.
    void Resize(std::int32_t Count);
    TExpressionPtr &Slot(std::int32_t I) { return FItems[static_cast<std::size_t>(I)]; }

private:
    void CheckIndex(std::int32_t I) const;
    std::vector<TExpressionPtr> FItems;
};

class TExpression : public TObject {
public:
    TExpression(const TExpression &) = delete;
    TExpression &operator=(const TExpression &) = delete;
    DECLARE_CLASS_NAME(TExpression)

    virtual std::uint8_t GetReturnType() const = 0;
    virtual void SetReturnType(std::uint8_t Type) = 0;
    // A deep copy of the same classes, positions and fields. Literals and constants are copied,
    // storage and declaration references keep their nodes.
    TExpressionPtr Clone() const;
    // Points every storage reference of the tree from the nodes of Old to the nodes at the same
    // positions of New.
    void RemapStorage(const TStorageList &Old, const TStorageList &New);
    void RemapStorage(const TStorageMap &Map);

    // The places of the owned sub-expressions, in source order (operands, arguments, indices,
    // the value of a setting, the variable of a declaration). A place may be empty (a keyword
    // without operand, or while a stage rewrites a node).
    virtual std::int32_t ChildCount() const { return 0; }
    // EListError for an index out of range.
    virtual TExpressionPtr &ChildSlot(std::int32_t I);
    // The sub-expression in place I, or nullptr for an empty place.
    TExpression *GetChild(std::int32_t I) const {
        return const_cast<TExpression *>(this)->ChildSlot(I).get();
    }

    TCompilePosition Position;
    const std::uint8_t Kind;

protected:
    TExpression(const TCompilePosition &APosition, std::uint8_t AKind) : Position(APosition), Kind(AKind) {}
    // A copy of this node alone: its own fields, with empty places for its sub-expressions.
    virtual TExpressionPtr CloneNode() const = 0;
    // Remaps the storage nodes this node refers to (not those of its sub-expressions).
    virtual void RemapNode(const TStorageMap &Map) {}
    // Frees the sub-expressions without recursion and without allocating; called by the
    // destructor of every class that owns sub-expressions, before its members go.
    void FreeChildren() noexcept;
    [[noreturn]] static void ChildIndexError(std::int32_t I);

private:
    // Chains nodes waiting to be freed.
    TExpression *FFreeNext = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Expressions without a value

class TAbstractExpression : public TExpression {
public:
    DECLARE_CLASS_NAME(TAbstractExpression)
    // EExpressionError "TAbstractExpression.GetReturnType: Cannot return value".
    std::uint8_t GetReturnType() const override;
    // EExpressionError "TAbstractExpression.SetReturnType: Cannot set value".
    void SetReturnType(std::uint8_t Type) override;

protected:
    using TExpression::TExpression;
};

class TLabelExpression : public TAbstractExpression {
public:
    TLabelExpression(const TCompilePosition &APosition, std::uint8_t ASectionKind, const std::string &AName)
        : TAbstractExpression(APosition, ekLabel), Name(AName), SectionKind(ASectionKind) {}
    DECLARE_CLASS_NAME(TLabelExpression)

    std::string Name; // as written
    std::uint8_t SectionKind;

protected:
    TExpressionPtr CloneNode() const override;
};

// A declared variable bound to its storage node.
class TDeclarationExpression : public TAbstractExpression {
public:
    // Takes the declared variable expression (with its dimension expressions) and its position.
    TDeclarationExpression(TExpressionPtr AVariable, TVariableNode *ANode);
    ~TDeclarationExpression() override { FreeChildren(); }
    DECLARE_CLASS_NAME(TDeclarationExpression)
    std::int32_t ChildCount() const override { return 1; }
    TExpressionPtr &ChildSlot(std::int32_t I) override;

    TExpressionPtr Variable; // normally a TVariableExpression
    TVariableNode *Node;     // not owned

protected:
    TExpressionPtr CloneNode() const override;
    void RemapNode(const TStorageMap &Map) override;
};

// The formula object that setting statements are applied to.
class TSettingOwner {
public:
    // A setting of a settings section whose value is an expression.
    virtual void ApplySetting(const std::string &Name, const TConstant &Value) = 0;
    // The formula's parameters, which parameter settings change.
    virtual TParamList &GetSettingParams() = 0;

protected:
    ~TSettingOwner() = default;
};

// A setting whose value is an expression, evaluated and applied each time code is generated.
class TSettingExpression : public TAbstractExpression {
public:
    // Takes the value and its position.
    TSettingExpression(TExpressionPtr AValue, std::uint8_t ASettingType, const std::string &AName);
    ~TSettingExpression() override { FreeChildren(); }
    DECLARE_CLASS_NAME(TSettingExpression)
    std::int32_t ChildCount() const override { return 1; }
    TExpressionPtr &ChildSlot(std::int32_t I) override;

    // Whether the value may read formula parameters.
    virtual bool AllowsParameters() const { return true; }
    // Settings of a higher order come first in the statement list.
    virtual int GetOrder() const { return 0; }
    // Applies the folded value: Owner.ApplySetting(Name, Constant).
    virtual void Apply(TSettingOwner &Owner, const TConstant &Constant);

    TExpressionPtr Value;
    std::uint8_t SettingType; // a value type
    std::string Name;         // the setting's name, or the parameter's for the descendants

protected:
    TExpressionPtr CloneNode() const override;
};

// ENABLED of a parameter: the parameter (ordinary or function) named Name gets the boolean.
class TEnabledSettingExpression : public TSettingExpression {
public:
    TEnabledSettingExpression(const std::string &ATarget, TExpressionPtr AValue)
        : TSettingExpression(std::move(AValue), vtBoolean, ATarget) {}
    DECLARE_CLASS_NAME(TEnabledSettingExpression)
    void Apply(TSettingOwner &Owner, const TConstant &Constant) override;

protected:
    TExpressionPtr CloneNode() const override;
};

// VISIBLE of a parameter.
class TVisibleSettingExpression : public TSettingExpression {
public:
    TVisibleSettingExpression(const std::string &ATarget, TExpressionPtr AValue)
        : TSettingExpression(std::move(AValue), vtBoolean, ATarget) {}
    DECLARE_CLASS_NAME(TVisibleSettingExpression)
    void Apply(TSettingOwner &Owner, const TConstant &Constant) override;

protected:
    TExpressionPtr CloneNode() const override;
};

// DEFAULT of a typed parameter: the default follows the expression, and so does the value until
// the user changes it.
class TDefaultSettingExpression : public TSettingExpression {
public:
    TDefaultSettingExpression(const std::string &ATarget, TExpressionPtr AValue, std::uint8_t AType)
        : TSettingExpression(std::move(AValue), AType, ATarget) {}
    DECLARE_CLASS_NAME(TDefaultSettingExpression)
    bool AllowsParameters() const override { return false; }
    int GetOrder() const override { return 1; }
    void Apply(TSettingOwner &Owner, const TConstant &Constant) override;

protected:
    TExpressionPtr CloneNode() const override;
};

// DEFINE or UNDEF, acted on by the code generator in statement order.
class TDirectiveExpression : public TAbstractExpression {
public:
    TDirectiveExpression(const TCompilePosition &APosition, const std::string &AName,
                         std::uint8_t ADirectiveId)
        : TAbstractExpression(APosition, ekDirective), DirectiveId(ADirectiveId), Name(AName) {}
    DECLARE_CLASS_NAME(TDirectiveExpression)

    std::uint8_t DirectiveId;
    std::string Name;

protected:
    TExpressionPtr CloneNode() const override;
};

// ---------------------------------------------------------------------------------------------
// Expressions whose type is fixed when they are created

class TSimpleExpression : public TExpression {
public:
    DECLARE_CLASS_NAME(TSimpleExpression)
    std::uint8_t GetReturnType() const override { return ReturnType; }
    // EExpressionError "Cannot change the type of a simple expression".
    void SetReturnType(std::uint8_t Type) override;

    const std::uint8_t ReturnType;

protected:
    TSimpleExpression(const TCompilePosition &APosition, std::uint8_t AKind, std::uint8_t AReturnType)
        : TExpression(APosition, AKind), ReturnType(AReturnType) {}
};

class TLiteralExpression : public TSimpleExpression {
public:
    // Takes the literal (EExpressionError when there is none).
    TLiteralExpression(const TCompilePosition &APosition, std::unique_ptr<TLiteral> ALiteral);
    ~TLiteralExpression() override;
    DECLARE_CLASS_NAME(TLiteralExpression)

    std::unique_ptr<TLiteral> Literal;

protected:
    TExpressionPtr CloneNode() const override;
};

class TConstantExpression : public TSimpleExpression {
public:
    // Takes the constant (EExpressionError when there is none).
    TConstantExpression(const TCompilePosition &APosition, std::unique_ptr<TConstant> AConstant);
    ~TConstantExpression() override;
    DECLARE_CLASS_NAME(TConstantExpression)

    std::unique_ptr<TConstant> Constant;

protected:
    TExpressionPtr CloneNode() const override;
};

class TStringExpression : public TSimpleExpression {
public:
    TStringExpression(const TCompilePosition &APosition, const std::string &AText)
        : TSimpleExpression(APosition, ekString, vtString), Text(AText) {}
    DECLARE_CLASS_NAME(TStringExpression)

    std::int32_t StringIndex = -1; // -1 until the checker interns the text
    std::string Text;

protected:
    TExpressionPtr CloneNode() const override;
};

class TPredefinedExpression : public TSimpleExpression {
public:
    TPredefinedExpression(const TCompilePosition &APosition, std::uint8_t ASymbolId)
        : TSimpleExpression(APosition, ekPredefined, PredefinedSymbolType(ASymbolId)), SymbolId(ASymbolId) {}
    DECLARE_CLASS_NAME(TPredefinedExpression)

    std::uint8_t SymbolId;

protected:
    TExpressionPtr CloneNode() const override;
};

// A reference to a storage node, optionally with index expressions.
class TStorageExpression : public TSimpleExpression {
public:
    // EExpressionError when there is no node.
    TStorageExpression(const TCompilePosition &APosition, TStorageNode *ANode);
    ~TStorageExpression() override { FreeChildren(); }
    DECLARE_CLASS_NAME(TStorageExpression)
    // The node's type; array for an array variable referenced without indices.
    std::uint8_t GetReturnType() const override;
    std::int32_t ChildCount() const override;
    TExpressionPtr &ChildSlot(std::int32_t I) override;

    std::int32_t Count() const { return Indices.Count(); }
    TExpression *Get(std::int32_t I) const { return Indices.Get(I); }
    void Put(std::int32_t I, TExpressionPtr Expression) { Indices.Put(I, std::move(Expression)); }
    void Add(TExpressionPtr Expression) { Indices.Add(std::move(Expression)); }

    TExpressionArray Indices;
    TStorageNode *Node; // not owned

protected:
    TExpressionPtr CloneNode() const override;
    void RemapNode(const TStorageMap &Map) override;
};

// A keyword statement (IF, WHILE ...) or a type declaration prefix with its operand.
class TKeywordExpression : public TSimpleExpression {
public:
    TKeywordExpression(const TCompilePosition &APosition, TExpressionPtr AOperand, std::uint8_t AKeywordId)
        : TSimpleExpression(APosition, ekKeyword, vtBoolean), Operand(std::move(AOperand)),
          KeywordId(AKeywordId) {}
    ~TKeywordExpression() override { FreeChildren(); }
    DECLARE_CLASS_NAME(TKeywordExpression)
    // Boolean for the keywords that carry a condition (IF, ELSEIF, WHILE, UNTIL); for any other
    // EExpressionError "TKeywordExpression.GetReturnType: Cannot return value".
    std::uint8_t GetReturnType() const override;
    std::int32_t ChildCount() const override { return 1; }
    TExpressionPtr &ChildSlot(std::int32_t I) override;

    TExpressionPtr Operand; // may be empty
    std::uint8_t KeywordId;

protected:
    TExpressionPtr CloneNode() const override;
};

// ---------------------------------------------------------------------------------------------
// Expressions typed by the checker

class TCommonExpression : public TExpression {
public:
    DECLARE_CLASS_NAME(TCommonExpression)
    // EExpressionError "TCommonExpression.GetReturnType: Value not initialized" until a type was
    // set.
    std::uint8_t GetReturnType() const override;
    void SetReturnType(std::uint8_t Type) override;

    std::uint8_t ReturnType = 0;
    std::uint8_t TypeSet = 0;

protected:
    using TExpression::TExpression;
    // Copies the type into a fresh copy when it was set.
    void CopyTypeTo(TCommonExpression &Copy) const;
};

class TIdentifierExpression : public TCommonExpression {
public:
    DECLARE_CLASS_NAME(TIdentifierExpression)
    std::string Name; // as written

protected:
    TIdentifierExpression(const TCompilePosition &APosition, std::uint8_t AKind, const std::string &AName)
        : TCommonExpression(APosition, AKind), Name(AName) {}
};

class TVariableExpression : public TIdentifierExpression {
public:
    TVariableExpression(const TCompilePosition &APosition, const std::string &AName)
        : TIdentifierExpression(APosition, ekVariable, AName) {}
    ~TVariableExpression() override { FreeChildren(); }
    DECLARE_CLASS_NAME(TVariableExpression)
    std::int32_t ChildCount() const override;
    TExpressionPtr &ChildSlot(std::int32_t I) override;

    std::int32_t Count() const { return Indices.Count(); }
    TExpression *Get(std::int32_t I) const { return Indices.Get(I); }
    void Put(std::int32_t I, TExpressionPtr Expression) { Indices.Put(I, std::move(Expression)); }
    void Add(TExpressionPtr Expression) { Indices.Add(std::move(Expression)); }

    TExpressionArray Indices;

protected:
    TExpressionPtr CloneNode() const override;
};

class TParameterExpression : public TIdentifierExpression {
public:
    TParameterExpression(const TCompilePosition &APosition, const std::string &AName)
        : TIdentifierExpression(APosition, ekParameter, AName) {}
    DECLARE_CLASS_NAME(TParameterExpression)

protected:
    TExpressionPtr CloneNode() const override;
};

class TUnaryOperatorExpression : public TCommonExpression {
public:
    TUnaryOperatorExpression(const TCompilePosition &APosition, TExpressionPtr AOperand,
                             std::uint8_t AOperator)
        : TCommonExpression(APosition, ekUnaryOperator), Operand(std::move(AOperand)), Operator(AOperator) {}
    ~TUnaryOperatorExpression() override { FreeChildren(); }
    DECLARE_CLASS_NAME(TUnaryOperatorExpression)
    std::int32_t ChildCount() const override { return 1; }
    TExpressionPtr &ChildSlot(std::int32_t I) override;

    TExpressionPtr Operand;
    std::uint8_t Operator;

protected:
    TExpressionPtr CloneNode() const override;
};

class TBinaryOperatorExpression : public TCommonExpression {
public:
    TBinaryOperatorExpression(const TCompilePosition &APosition, TExpressionPtr ALeft, TExpressionPtr ARight,
                              std::uint8_t AOperator)
        : TCommonExpression(APosition, ekBinaryOperator), Left(std::move(ALeft)), Operator(AOperator),
          Right(std::move(ARight)) {}
    ~TBinaryOperatorExpression() override { FreeChildren(); }
    DECLARE_CLASS_NAME(TBinaryOperatorExpression)
    std::int32_t ChildCount() const override { return 2; }
    TExpressionPtr &ChildSlot(std::int32_t I) override;

    // Evaluation order and parked temporary, written by the code generator's planning pass.
    std::uint8_t Order = 0;
    TExpressionPtr Left;
    std::uint8_t Operator;
    TExpressionPtr Right;
    std::uint32_t TempId = 0;

protected:
    TExpressionPtr CloneNode() const override;
};

class TCustomFunctionExpression : public TCommonExpression {
public:
    ~TCustomFunctionExpression() override { FreeChildren(); }
    DECLARE_CLASS_NAME(TCustomFunctionExpression)
    std::int32_t ChildCount() const override;
    TExpressionPtr &ChildSlot(std::int32_t I) override;

    std::int32_t Count() const { return Arguments.Count(); }
    TExpression *Get(std::int32_t I) const { return Arguments.Get(I); }
    void Put(std::int32_t I, TExpressionPtr Expression) { Arguments.Put(I, std::move(Expression)); }
    void Add(TExpressionPtr Expression) { Arguments.Add(std::move(Expression)); }

    TExpressionArray Arguments;

protected:
    using TCommonExpression::TCommonExpression;
};

// A call of a built-in function, or an internal conversion.
class TFunctionExpression : public TCustomFunctionExpression {
public:
    TFunctionExpression(const TCompilePosition &APosition, std::uint8_t AFunctionId)
        : TCustomFunctionExpression(APosition, ekFunction), FunctionId(AFunctionId) {}
    // With its one argument.
    TFunctionExpression(const TCompilePosition &APosition, std::uint8_t AFunctionId, TExpressionPtr AArgument)
        : TFunctionExpression(APosition, AFunctionId) {
        Add(std::move(AArgument));
    }
    DECLARE_CLASS_NAME(TFunctionExpression)

    std::uint8_t FunctionId;
    // Written by the code generator's planning pass.
    std::uint8_t ArgumentMode = 0;
    std::uint32_t FirstTempId = 0;

protected:
    TExpressionPtr CloneNode() const override;
};

// A call of a function parameter.
class TUserFunctionExpression : public TCustomFunctionExpression {
public:
    TUserFunctionExpression(const TCompilePosition &APosition, const std::string &AName)
        : TCustomFunctionExpression(APosition, ekUserFunction), Name(AName) {}
    DECLARE_CLASS_NAME(TUserFunctionExpression)

    std::string Name;

protected:
    TExpressionPtr CloneNode() const override;
};
