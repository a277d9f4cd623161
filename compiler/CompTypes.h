// Type rules of the formula language: how the checker types operators, built-in functions and
// calls of function parameters, and the implicit conversions it inserts. After checking, every
// operand has the type its operator expects and every conversion is an explicit function node
// with an internal id, so the later stages never guess.
#pragma once

#include <cstdint>
#include <string>

#include "CompDefinitions.h"
#include "CompExpressions.h"
#include "CompMessages.h"

class TParamList;

// Flags passed down the checking recursion.
constexpr std::uint32_t cfConstant = 1;     // a constant expression is required
constexpr std::uint32_t cfNoParameters = 2; // formula parameters may not be read

// Complex when either type is complex; else float when either is float; else integer when either
// is integer; else boolean (so a pair of non-numeric types also gives boolean, which the boolean
// conversion then refuses).
std::uint8_t CommonType(std::uint8_t A, std::uint8_t B);

// The typing half of the checker. The checker supplies the one recursive CheckExpression and
// the answers of the formula being compiled; this class supplies the rules for operators,
// functions and conversions. Every method works in place on the slot that owns an expression, so
// a tree is always whole, also when checking stops with an error.
class TTypeRules {
public:
    TTypeRules() = default;
    TTypeRules(const TTypeRules &) = delete;
    TTypeRules &operator=(const TTypeRules &) = delete;

    // Types the expression in Slot (replacing it where the rules rewrite it) with Expected as the
    // hint for functions and operators that exist in real and complex form.
    virtual void CheckExpression(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags) = 0;

    // Converts the checked expression in Slot to Target: complex, float, integer, boolean, colour
    // or array (any other target accepts its own type only). Errors and warnings go to Report.
    void ConvertTo(TExpressionPtr &Slot, std::uint8_t Target, const TCompilePosition &Report);
    // The same, reported at the expression itself.
    void ConvertTo(TExpressionPtr &Slot, std::uint8_t Target) { ConvertTo(Slot, Target, Slot->Position); }
    // The real part for an ordering comparison: real(x) of a complex value, a float of an integer
    // or boolean one.
    void ConvertToRealPart(TExpressionPtr &Slot, const TCompilePosition &Report);

protected:
    ~TTypeRules() = default;

    // Posts a warning (recorded only when warnings are switched on).
    virtual void TypeWarning(std::uint8_t Code, const TCompilePosition &Position) = 0;
    // Whether the current section of the formula may call the built-in function.
    virtual bool TypeFunctionAllowed(std::uint8_t FunctionId) = 0;
    // The formula's parameters, in which calls and enumerated comparisons look up names.
    virtual TParamList &TypeParams() = 0;

    // Kind 5, 6 (all operators but the assignment), 7 and 3.
    void CheckUnaryOperator(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags);
    void CheckBinaryOperator(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags);
    void CheckFunction(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags);
    void CheckUserFunction(TExpressionPtr &Slot, std::uint8_t Expected, std::uint32_t Flags);

    // Adds a parameter the formula uses without declaring it, and tells the list's owner.
    static void AddImplicitParam(TParamList &Params, std::unique_ptr<class TParam> Param);

private:
    void FinishBinaryOperator(TBinaryOperatorExpression &Node, std::uint8_t Expected);
    void CheckEnumComparison(TBinaryOperatorExpression &Node);
    // Checks argument I of a call with Expected and converts it to Target (no conversion for
    // Target vtNone).
    void CheckArgument(TCustomFunctionExpression &Call, std::int32_t I, std::uint8_t Expected,
                       std::uint8_t Target, std::uint32_t Flags);
};
