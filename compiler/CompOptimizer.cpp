#include "CompOptimizer.h"

#include <utility>

// ---------------------------------------------------------------------------------------------
// TFormulaConstants

TFormulaConstants::TFormulaConstants() {
    Angle.OnChange = MakeNotifyEvent<&TFormulaConstants::ValueChanged>(this);
    Center.OnChange = MakeNotifyEvent<&TFormulaConstants::ValueChanged>(this);
    Magn.OnChange = MakeNotifyEvent<&TFormulaConstants::ValueChanged>(this);
    Skew.OnChange = MakeNotifyEvent<&TFormulaConstants::ValueChanged>(this);
    Stretch.OnChange = MakeNotifyEvent<&TFormulaConstants::ValueChanged>(this);
}

void TFormulaConstants::SetHeight(std::int32_t Value) {
    if (Value == FHeight)
        return;
    FHeight = Value;
    Changed();
}

void TFormulaConstants::SetMaxIter(std::int32_t Value) {
    if (Value == FMaxIter)
        return;
    FMaxIter = Value;
    Changed();
}

void TFormulaConstants::SetWidth(std::int32_t Value) {
    if (Value == FWidth)
        return;
    FWidth = Value;
    Changed();
}

void TFormulaConstants::Assign(const TFormulaConstants &Other) {
    if (&Other == this)
        return;
    BeginUpdate();
    try {
        Angle.Assign(Other.Angle);
        Center.Assign(Other.Center);
        SetHeight(Other.FHeight);
        Magn.Assign(Other.Magn);
        SetMaxIter(Other.FMaxIter);
        Skew.Assign(Other.Skew);
        Stretch.Assign(Other.Stretch);
        SetWidth(Other.FWidth);
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

// ---------------------------------------------------------------------------------------------
// TOptimizer

TOptimizer::TOptimizer()
    : RoutineAssembler(std::make_unique<TRoutineAssembler>()),
      Constants(std::make_unique<TFormulaConstants>()) {
    Constants->OnChange = MakeNotifyEvent<&TOptimizer::ConstantsChanged>(this);
}

TOptimizer::~TOptimizer() = default;

void TOptimizer::ConstantsChanged(TObject *) {
    CodeChanged();
}

std::unique_ptr<TConstant> TOptimizer::MakeConstant(const TLiteral &) const {
    throw EInternalCompilerError("TOptimizer.MakeConstant: not available");
}

std::unique_ptr<TConstant> TOptimizer::NewConstant(std::uint8_t) const {
    throw EInternalCompilerError("TOptimizer.NewConstant: not available");
}

TExpressionPtr TOptimizer::FoldStatement(const TExpression &Statement) {
    return Statement.Clone();
}

void TOptimizer::Generate() {
    GetStorage().RemoveTemporaries();
    OptimizedList = std::make_unique<TExpressionList>();
    try {
        for (TExpressionNode *node = GetExpressions().GetFirst(); node; node = node->Next) {
            TExpressionPtr folded = FoldStatement(*node->Expression);
            if (folded)
                OptimizedList->Add(std::move(folded));
        }
        CompileCode();
    } catch (...) {
        OptimizedList.reset();
        throw;
    }
    OptimizedList.reset();
}

int ClassifyConstant(const TConstant &) {
    return ccNone;
}

bool IsFreeOfAssignments(const TExpression *) {
    return true;
}
