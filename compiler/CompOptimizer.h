// The optimizer: the last compiler stage before code generation. Each time code must be produced it
// folds the checked statement list into a second, optimized list: literals, parameter values,
// function parameters and the location values become constants, constant operations are computed,
// expression settings are applied, cheap forms replace costly ones (x / c as a product, x ^ 2 as
// sqr ...), IF branches chosen by constant conditions are dropped and floating-point constants
// move into the data block. Then the code generator (CompileCode) translates the optimized list.
//
// Constant operations are not interpreted: each is computed by assembling the routine the
// compiled formula would use, in the formula's precision, and running it once, so a folded value
// is bit for bit the value the code would have produced.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "CompAccess.h"
#include "CompAssembler.h"
#include "CompChecker.h"
#include "CompClasses.h"
#include "CompDefinitions.h"
#include "CompValues.h"
#include "GenClasses.h"

// The location values that formulas read as compile-time constants (ANGLE, CENTER, HEIGHT, MAGN,
// MAXITER, SKEW, STRETCH, WIDTH and SCREENMAX). Every change is reported through OnChange; the
// changes of one Assign are reported once.
class TFormulaConstants : public TUpdatedObject {
public:
    TFormulaConstants();
    TFormulaConstants(const TFormulaConstants &) = delete;
    TFormulaConstants &operator=(const TFormulaConstants &) = delete;
    DECLARE_CLASS_NAME(TFormulaConstants)

    std::int32_t GetHeight() const { return FHeight; }
    std::int32_t GetMaxIter() const { return FMaxIter; }
    std::int32_t GetWidth() const { return FWidth; }
    // Store a different value and report the change; an equal value changes nothing.
    void SetHeight(std::int32_t Value);
    void SetMaxIter(std::int32_t Value);
    void SetWidth(std::int32_t Value);
    // Copies all eight values; one change report at most.
    void Assign(const TFormulaConstants &Other);

    TFloatValue Angle;
    TComplexValue Center;
    TFloatValue Magn;
    TFloatValue Skew;
    TFloatValue Stretch;

private:
    void ValueChanged(TObject *Sender) { Changed(); }

    std::int32_t FHeight = 0;
    std::int32_t FMaxIter = 0;
    std::int32_t FWidth = 0;
};

// Classification of a constant's value, which the simplifications act on.
constexpr int ccNone = 0;
constexpr int ccZero = 1;
constexpr int ccOne = 2;
constexpr int ccMinusOne = 3;
constexpr int ccI = 4;
constexpr int ccMinusI = 5;
constexpr int ccTwo = 6;
constexpr int ccThree = 7;
constexpr int ccFour = 8;

// Zero, one, minus one, i, minus i, two, three, four or none of these. A complex constant with
// imaginary part 0 is classified by its real part; i and minus i are complex only. Boolean and
// colour constants are ccNone. Arbitrary-precision values compare exactly.
int ClassifyConstant(const TConstant &Constant);

// Whether the tree contains no assignment (calls count as free of assignments).
bool IsFreeOfAssignments(const TExpression *Expression);

class TOptimizer : public TChecker {
public:
    TOptimizer();
    ~TOptimizer() override;
    DECLARE_CLASS_NAME(TOptimizer)

    // --- Operation the code generator implements ----------------------------------------------

    // Translates the optimized list (GetOptimizedList) into code.
    virtual void CompileCode() = 0;

    // --- The compile driver's operation -------------------------------------------------------

    // Folds the statement list into the optimized list, applies the settings, resolves constant
    // IF conditions, moves constants into storage and calls CompileCode; the optimized list is
    // freed again afterwards, also when something fails.
    void Generate() override;

    // --- Constants ----------------------------------------------------------------------------

    // A constant of the literal's type in the current precision and digits.
    std::unique_ptr<TConstant> MakeConstant(const TLiteral &Literal) const;
    // A zero constant of Type (complex, float, integer, boolean or colour) in the current
    // precision.
    std::unique_ptr<TConstant> NewConstant(std::uint8_t Type) const;

    // The list CompileCode translates; nullptr outside Generate.
    TExpressionList *GetOptimizedList() const { return OptimizedList.get(); }
    // The location values this formula reads as constants; a change regenerates the code.
    TFormulaConstants &GetConstants() const { return *Constants; }

    // Folds one statement into a new tree (nullptr for a statement that leaves nothing, such as
    // a declaration or a setting). Usable on its own for a formula that was checked.
    TExpressionPtr FoldStatement(const TExpression &Statement);

protected:
    // Runs the folding routines only.
    std::unique_ptr<TRoutineAssembler> RoutineAssembler;
    // Exists only while Generate runs.
    std::unique_ptr<TExpressionList> OptimizedList;
    std::unique_ptr<TFormulaConstants> Constants;

private:
    void ConstantsChanged(TObject *Sender);

    TExpressionPtr Fold(const TExpression &E);
    TExpressionPtr FoldParameter(const TExpression &E);
    TExpressionPtr FoldUserFunction(const TUserFunctionExpression &E);
    TExpressionPtr FoldPredefined(const TPredefinedExpression &E);
    TExpressionPtr FoldUnary(const TUnaryOperatorExpression &E);
    TExpressionPtr FoldBinary(const TBinaryOperatorExpression &E);
    // E with its left operand folded already.
    TExpressionPtr FoldBinaryNode(const TBinaryOperatorExpression &E, TExpressionPtr FoldedLeft);
    // A call of Function with the folded arguments; computed when they are all constants.
    TExpressionPtr FoldCall(const TCustomFunctionExpression &E, std::uint8_t Function);
    TExpressionPtr FoldStorage(const TStorageExpression &E);
    void FoldDeclaration(const TDeclarationExpression &E);
    void FoldSetting(const TSettingExpression &E);

    // The cheaper forms of a binary node whose operands are not both constants.
    TExpressionPtr Simplify(std::unique_ptr<TBinaryOperatorExpression> E);
    TExpressionPtr SimplifyMultiply(std::unique_ptr<TBinaryOperatorExpression> E);
    TExpressionPtr SimplifyDivide(std::unique_ptr<TBinaryOperatorExpression> E);
    TExpressionPtr SimplifyPower(std::unique_ptr<TBinaryOperatorExpression> E);
    TExpressionPtr SimplifyLogical(std::unique_ptr<TBinaryOperatorExpression> E);

    // Runs the routine of an operation once over constant operands. Kind is the expression kind
    // (unary operator, binary operator or function), Code its operator or function id.
    std::unique_ptr<TConstant> Compute(std::uint8_t Kind, int Code, const TConstant *const *Operands,
                                       int Count, std::uint8_t ResultType);
    // Whether the processor access of the precision has what a rewritten node needs.
    bool HasFunctionRoutine(int Function, std::uint8_t ArgumentType, std::uint8_t ResultType);
    bool HasNegation(std::uint8_t Type);
    TProcessorAccess &QueryAccess();
    // Asks the code generator of this object (when it is one) for a class-specific routine, so
    // that folding picks the routine the generated code would use.
    void SelectFoldingRoutine(int Function, int ArgumentType, int ResultType, int &Routine);

    // Replaces the complex, float and colour constants of a folded tree by constant nodes.
    void MoveConstants(TExpressionPtr &Slot);
    // Drops IF and ELSEIF branches whose conditions are constant.
    void ResolveConstantConditions();

    std::unique_ptr<TProcessorAccess> FQueryAccess;
    std::uint8_t FQueryPrecision = 0;
    // The constants computed so far, by what each fold depends on: a formula repeating one
    // operation on the same constants runs its routine once.
    std::unordered_map<std::string, std::unique_ptr<TConstant>> FFoldResults;
};
