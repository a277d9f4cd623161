#include "CompOptimizer.h"

#include <cmath>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "CompParams.h"
#include "CompRoutines.h"
#include "CompTokenizer.h"
#include "GenColor.h"
#include "HugeFPU.h"

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
// Helpers

namespace {

// The values of the constant symbols, exact to more digits than any precision but the arbitrary
// one keeps (which computes its own).
const char *const PiText = "3.14159265358979323846264338327950288419716939937510582097494459";
const char *const EText = "2.71828182845904523536028747135266249775724709369995957496696763";

class TFoldFPUScope {
public:
    TFoldFPUScope() { SetFormulaFPUControl(FSaved); }
    ~TFoldFPUScope() { RestoreFPUControl(FSaved); }
    TFoldFPUScope(const TFoldFPUScope &) = delete;
    TFoldFPUScope &operator=(const TFoldFPUScope &) = delete;

private:
    std::uint16_t FSaved = 0;
};

int ClassifyReal(long double Value) {
    if (Value == 0)
        return ccZero;
    if (Value == 1)
        return ccOne;
    if (Value == -1)
        return ccMinusOne;
    if (Value == 2)
        return ccTwo;
    if (Value == 3)
        return ccThree;
    if (Value == 4)
        return ccFour;
    return ccNone;
}

int ClassifyHuge(const THugeFloatBase &Value) {
    if (Value.IsSpecial())
        return ccNone;
    if (Value.IsZero())
        return ccZero;
    static const struct {
        std::int32_t Value;
        int Class;
    } Known[] = {{1, ccOne}, {-1, ccMinusOne}, {2, ccTwo}, {3, ccThree}, {4, ccFour}};
    for (const auto &known : Known)
        if (Value.CompareInteger(known.Value) == 0)
            return known.Class;
    return ccNone;
}

// A finite power of two of either sign: the only values whose reciprocal is exact, so that
// multiplying by the reciprocal gives what dividing gives.
bool IsPowerOfTwo(long double Value) {
    if (!std::isfinite(Value) || Value == 0)
        return false;
    int exponent = 0;
    return std::fabs(std::frexp(Value, &exponent)) == 0.5L;
}

bool IsPowerOfTwo(const THugeFloatBase &Value) {
    if (Value.IsSpecial() || Value.IsZero())
        return false;
    const std::uint32_t top = Value.TopWord();
    if ((top & (top - 1)) != 0)
        return false;
    for (int i = 0; i < Value.FWordCount - 1; ++i)
        if (Value.FMantissa[i] != 0)
            return false;
    return true;
}

// A real power of two: a float, or a complex value with imaginary part 0.
bool IsRealPowerOfTwo(const TConstant &Constant) {
    if (Constant.Type == vtFloat) {
        const auto &real = static_cast<const TFloatConstant &>(Constant);
        if (real.Precision == pmDouble)
            return IsPowerOfTwo(static_cast<const TDoubleFloatConstant &>(real).Value);
        if (real.Precision == pmExtended)
            return IsPowerOfTwo(static_cast<const TExtendedFloatConstant &>(real).Value);
        return IsPowerOfTwo(static_cast<const THugeFloatConstant &>(real).Value);
    }
    if (Constant.Type != vtComplex)
        return false;
    const auto &complex = static_cast<const TComplexConstant &>(Constant);
    if (complex.Precision == pmDouble) {
        const auto &c = static_cast<const TDoubleComplexConstant &>(complex);
        return c.Im == 0 && IsPowerOfTwo(c.Re);
    }
    if (complex.Precision == pmExtended) {
        const auto &c = static_cast<const TExtendedComplexConstant &>(complex);
        return c.Im == 0 && IsPowerOfTwo(c.Re);
    }
    const auto &c = static_cast<const THugeComplexConstant &>(complex);
    return c.Value.Im.IsZero() && IsPowerOfTwo(c.Value.Re);
}

// A complex value by the classes of its parts.
int ClassifyComplex(int ReClass, int ImClass) {
    if (ImClass == ccZero)
        return ReClass;
    if (ReClass == ccZero && ImClass == ccOne)
        return ccI;
    if (ReClass == ccZero && ImClass == ccMinusOne)
        return ccMinusI;
    return ccNone;
}

const TConstant *ConstantOf(const TExpression *E) {
    if (!E || E->Kind != ekConstant)
        return nullptr;
    return static_cast<const TConstantExpression *>(E)->Constant.get();
}

TExpressionPtr MakeConstantExpression(const TCompilePosition &Position, std::unique_ptr<TConstant> Constant) {
    return std::make_unique<TConstantExpression>(Position, std::move(Constant));
}

// Gives Copy the type of Source when Source has one.
void CopyType(const TExpression &Source, TCommonExpression &Copy) {
    if (const auto *common = dynamic_cast<const TCommonExpression *>(&Source)) {
        Copy.ReturnType = common->ReturnType;
        Copy.TypeSet = common->TypeSet;
    }
}

std::uint8_t TypeOf(const TExpression &E) {
    return E.GetReturnType();
}

TExpressionPtr MakeCall(const TCompilePosition &Position, int Function, TExpressionPtr Argument,
                        std::uint8_t ResultType) {
    auto call = std::make_unique<TFunctionExpression>(Position, static_cast<std::uint8_t>(Function),
                                                      std::move(Argument));
    call->SetReturnType(ResultType);
    return call;
}

TExpressionPtr MakeNegation(const TCompilePosition &Position, TExpressionPtr Operand, std::uint8_t Type) {
    auto negation = std::make_unique<TUnaryOperatorExpression>(Position, std::move(Operand), uoNegate);
    negation->SetReturnType(Type);
    return negation;
}

// The same storage node without indices, or the same predefined symbol.
bool SameSimpleOperand(const TExpression &A, const TExpression &B) {
    if (A.Kind == ekStorage && B.Kind == ekStorage) {
        const auto &a = static_cast<const TStorageExpression &>(A);
        const auto &b = static_cast<const TStorageExpression &>(B);
        return a.Node == b.Node && a.Count() == 0 && b.Count() == 0;
    }
    if (A.Kind == ekPredefined && B.Kind == ekPredefined)
        return static_cast<const TPredefinedExpression &>(A).SymbolId ==
               static_cast<const TPredefinedExpression &>(B).SymbolId;
    return false;
}

// Bytes of one operand slot of the folding buffer.
constexpr int FoldSlotSize = 32;
// Where the fake pixel context of a folding run keeps the buffer's address.
constexpr int FoldDataCell = 0;
constexpr int FoldContextSize = 1024;

// An aligned, zero-filled block freed on scope exit.
class TFoldBlock {
public:
    explicit TFoldBlock(std::size_t Size) {
        FData = static_cast<std::uint8_t *>(::operator new(Size, std::align_val_t(16)));
        std::memset(FData, 0, Size);
    }
    ~TFoldBlock() { ::operator delete(FData, std::align_val_t(16)); }
    TFoldBlock(const TFoldBlock &) = delete;
    TFoldBlock &operator=(const TFoldBlock &) = delete;
    std::uint8_t *Data() const { return FData; }

private:
    std::uint8_t *FData;
};

template <class T> void PutValue(std::uint8_t *At, T Value) {
    std::memcpy(At, &Value, sizeof(T));
}
template <class T> T GetValue(const std::uint8_t *At) {
    T value;
    std::memcpy(&value, At, sizeof(T));
    return value;
}

// Writes a constant into its operand slot in the layout the loads of its precision expect.
void PutOperand(std::uint8_t *Slot, const TConstant &Constant, std::uint8_t FoldPrecision) {
    // Double values folded in extended registers, as the code holds them.
    if (FoldPrecision == pmExtended) {
        if (const auto *c = dynamic_cast<const TDoubleComplexConstant *>(&Constant)) {
            PutValue(Slot, static_cast<long double>(c->Re));
            PutValue(Slot + 16, static_cast<long double>(c->Im));
            return;
        }
        if (const auto *c = dynamic_cast<const TDoubleFloatConstant *>(&Constant)) {
            PutValue(Slot, static_cast<long double>(c->Value));
            return;
        }
    }
    switch (Constant.Type) {
    case vtComplex: {
        const auto &complex = static_cast<const TComplexConstant &>(Constant);
        if (complex.Precision == pmDouble) {
            const auto &c = static_cast<const TDoubleComplexConstant &>(complex);
            PutValue(Slot, c.Re);
            PutValue(Slot + 8, c.Im);
        } else if (complex.Precision == pmExtended) {
            const auto &c = static_cast<const TExtendedComplexConstant &>(complex);
            PutValue(Slot, c.Re);
            PutValue(Slot + 16, c.Im);
        } else {
            auto &c = const_cast<THugeComplexConstant &>(static_cast<const THugeComplexConstant &>(complex));
            PutValue<void *>(Slot, &c.Value.Re);
            PutValue<void *>(Slot + 4, &c.Value.Im);
        }
        break;
    }
    case vtFloat: {
        const auto &real = static_cast<const TFloatConstant &>(Constant);
        if (real.Precision == pmDouble)
            PutValue(Slot, static_cast<const TDoubleFloatConstant &>(real).Value);
        else if (real.Precision == pmExtended)
            PutValue(Slot, static_cast<const TExtendedFloatConstant &>(real).Value);
        else
            PutValue<void *>(
                Slot, &const_cast<THugeFloatConstant &>(static_cast<const THugeFloatConstant &>(real)).Value);
        break;
    }
    case vtInteger:
        PutValue(Slot, static_cast<const TIntConstant &>(Constant).Value);
        break;
    case vtBoolean:
        Slot[0] = static_cast<const TBoolConstant &>(Constant).Value ? 1 : 0;
        break;
    case vtColor: {
        const auto &c = static_cast<const TColorConstant &>(Constant);
        PutValue(Slot, c.Red);
        PutValue(Slot + 4, c.Green);
        PutValue(Slot + 8, c.Blue);
        PutValue(Slot + 12, c.Alpha);
        break;
    }
    default:
        throw EInternalCompilerError("TOptimizer: no constant of type %d", static_cast<int>(Constant.Type));
    }
}

// Adds the exact value of an arbitrary-precision number to a fold key.
void AppendHugeKey(std::string &Key, const THugeFloatBase &Value) {
    const std::int32_t fields[] = {Value.FState, Value.FSign, Value.FExponent, Value.FPrecision,
                                   Value.FWordCount};
    Key.append(reinterpret_cast<const char *>(fields), sizeof fields);
    if (Value.FState == hsNormal)
        Key.append(reinterpret_cast<const char *>(Value.FMantissa),
                   static_cast<std::size_t>(Value.FWordCount) * sizeof(std::uint32_t));
}

// What one fold depends on: the operation, the result type, the precision it runs in and the
// exact type, precision and value of every operand. Two folds with the same key give the same
// constant, so the routine runs once per key.
std::string FoldKey(std::uint8_t Kind, int Code, const TConstant *const *Operands, int Count,
                    std::uint8_t ResultType, std::uint8_t FoldPrecision, int Digits) {
    std::string key;
    const std::int32_t header[] = {Kind, Code, Count, ResultType, FoldPrecision, Digits};
    key.append(reinterpret_cast<const char *>(header), sizeof header);
    for (int i = 0; i < Count; i++) {
        const TConstant &operand = *Operands[i];
        std::uint8_t precision = 0xFF; // none: integers, booleans and colours
        if (operand.Type == vtFloat)
            precision = static_cast<const TFloatConstant &>(operand).Precision;
        else if (operand.Type == vtComplex)
            precision = static_cast<const TComplexConstant &>(operand).Precision;
        key += static_cast<char>(operand.Type);
        key += static_cast<char>(precision);
        if (precision == pmArbitrary && operand.Type == vtFloat) {
            AppendHugeKey(key, static_cast<const THugeFloatConstant &>(operand).Value);
        } else if (precision == pmArbitrary) {
            const auto &complex = static_cast<const THugeComplexConstant &>(operand);
            AppendHugeKey(key, complex.Value.Re);
            AppendHugeKey(key, complex.Value.Im);
        } else {
            std::uint8_t slot[FoldSlotSize] = {};
            PutOperand(slot, operand, FoldPrecision);
            key.append(reinterpret_cast<const char *>(slot), sizeof slot);
        }
    }
    return key;
}

// Reads the result slot into Constant, a zero constant of the result type; arbitrary-precision
// results were written into Constant's numbers directly.
void GetResult(const std::uint8_t *Slot, TConstant &Constant) {
    switch (Constant.Type) {
    case vtComplex: {
        auto &complex = static_cast<TComplexConstant &>(Constant);
        if (complex.Precision == pmDouble) {
            auto &c = static_cast<TDoubleComplexConstant &>(complex);
            c.Re = GetValue<double>(Slot);
            c.Im = GetValue<double>(Slot + 8);
        } else if (complex.Precision == pmExtended) {
            auto &c = static_cast<TExtendedComplexConstant &>(complex);
            c.Re = GetValue<long double>(Slot);
            c.Im = GetValue<long double>(Slot + 16);
        }
        break;
    }
    case vtFloat: {
        auto &real = static_cast<TFloatConstant &>(Constant);
        if (real.Precision == pmDouble)
            static_cast<TDoubleFloatConstant &>(real).Value = GetValue<double>(Slot);
        else if (real.Precision == pmExtended)
            static_cast<TExtendedFloatConstant &>(real).Value = GetValue<long double>(Slot);
        break;
    }
    case vtInteger:
        static_cast<TIntConstant &>(Constant).Value = GetValue<std::int32_t>(Slot);
        break;
    case vtBoolean:
        static_cast<TBoolConstant &>(Constant).Value = Slot[0] != 0;
        break;
    case vtColor: {
        auto &c = static_cast<TColorConstant &>(Constant);
        c.Red = GetValue<float>(Slot);
        c.Green = GetValue<float>(Slot + 4);
        c.Blue = GetValue<float>(Slot + 8);
        c.Alpha = GetValue<float>(Slot + 12);
        break;
    }
    default:
        break;
    }
}

// Places the arbitrary-precision numbers of the result constant into the result slot.
void PrepareResult(std::uint8_t *Slot, TConstant &Constant) {
    if (Constant.Type == vtComplex && static_cast<TComplexConstant &>(Constant).Precision == pmArbitrary) {
        auto &c = static_cast<THugeComplexConstant &>(Constant);
        PutValue<void *>(Slot, &c.Value.Re);
        PutValue<void *>(Slot + 4, &c.Value.Im);
    } else if (Constant.Type == vtFloat && static_cast<TFloatConstant &>(Constant).Precision == pmArbitrary) {
        PutValue<void *>(Slot, &static_cast<THugeFloatConstant &>(Constant).Value);
    }
}

std::unique_ptr<TConstant> ZeroConstant(std::uint8_t Type, std::uint8_t Precision, int Digits) {
    switch (Type) {
    case vtComplex:
        if (Precision == pmDouble)
            return std::make_unique<TDoubleComplexConstant>(0.0, 0.0);
        if (Precision == pmExtended)
            return std::make_unique<TExtendedComplexConstant>(0.0L, 0.0L);
        return std::make_unique<THugeComplexConstant>(Digits);
    case vtFloat:
        if (Precision == pmDouble)
            return std::make_unique<TDoubleFloatConstant>(0.0);
        if (Precision == pmExtended)
            return std::make_unique<TExtendedFloatConstant>(0.0L);
        return std::make_unique<THugeFloatConstant>(Digits);
    case vtInteger:
        return std::make_unique<TIntConstant>(0);
    case vtBoolean:
        return std::make_unique<TBoolConstant>(false);
    case vtColor:
        return std::make_unique<TColorConstant>(0.0f, 0.0f, 0.0f, 0.0f);
    default:
        throw EInternalCompilerError("TOptimizer.NewConstant: no constant of type %d",
                                     static_cast<int>(Type));
    }
}

// A double formula keeps intermediate results in 80-bit registers; folded values are held the
// same way and rounded to double only where they land in the tree for good.
void RoundToDouble(std::unique_ptr<TConstant> &Constant) {
    if (const auto *c = dynamic_cast<const TExtendedComplexConstant *>(Constant.get())) {
        TFoldFPUScope fpu;
        Constant =
            std::make_unique<TDoubleComplexConstant>(static_cast<double>(c->Re), static_cast<double>(c->Im));
    } else if (const auto *f = dynamic_cast<const TExtendedFloatConstant *>(Constant.get())) {
        TFoldFPUScope fpu;
        Constant = std::make_unique<TDoubleFloatConstant>(static_cast<double>(f->Value));
    }
}

bool IsFunctionCallFoldable(int Function) {
    return Function != fnOldZ && Function != fnPrint && Function != fnGradient;
}

} // namespace

int ClassifyConstant(const TConstant &Constant) {
    switch (Constant.Type) {
    case vtInteger: {
        const std::int32_t v = static_cast<const TIntConstant &>(Constant).Value;
        return v >= -1 && v <= 4 ? ClassifyReal(v) : ccNone;
    }
    case vtFloat: {
        const auto &real = static_cast<const TFloatConstant &>(Constant);
        if (real.Precision == pmDouble)
            return ClassifyReal(static_cast<const TDoubleFloatConstant &>(real).Value);
        if (real.Precision == pmExtended)
            return ClassifyReal(static_cast<const TExtendedFloatConstant &>(real).Value);
        return ClassifyHuge(static_cast<const THugeFloatConstant &>(real).Value);
    }
    case vtComplex: {
        const auto &complex = static_cast<const TComplexConstant &>(Constant);
        if (complex.Precision == pmDouble) {
            const auto &c = static_cast<const TDoubleComplexConstant &>(complex);
            return ClassifyComplex(ClassifyReal(c.Re), ClassifyReal(c.Im));
        }
        if (complex.Precision == pmExtended) {
            const auto &c = static_cast<const TExtendedComplexConstant &>(complex);
            return ClassifyComplex(ClassifyReal(c.Re), ClassifyReal(c.Im));
        }
        const auto &c = static_cast<const THugeComplexConstant &>(complex);
        return ClassifyComplex(ClassifyHuge(c.Value.Re), ClassifyHuge(c.Value.Im));
    }
    default:
        return ccNone;
    }
}

bool IsFreeOfAssignments(const TExpression *Expression) {
    if (!Expression)
        return true;
    std::vector<const TExpression *> work{Expression};
    while (!work.empty()) {
        const TExpression *e = work.back();
        work.pop_back();
        if (e->Kind == ekBinaryOperator &&
            static_cast<const TBinaryOperatorExpression *>(e)->Operator == opAssign)
            return false;
        for (std::int32_t i = 0; i < e->ChildCount(); i++)
            if (const TExpression *child = e->GetChild(i))
                work.push_back(child);
    }
    return true;
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

std::unique_ptr<TConstant> TOptimizer::MakeConstant(const TLiteral &Literal) const {
    const std::uint8_t precision = GetPrecision();
    switch (Literal.Type) {
    case vtComplex: {
        const auto &literal = static_cast<const TComplexLiteral &>(Literal);
        if (precision == pmDouble)
            return std::make_unique<TDoubleComplexConstant>(literal.Re.GetDouble(), literal.Im.GetDouble());
        if (precision == pmExtended) {
            TFoldFPUScope fpu;
            return std::make_unique<TExtendedComplexConstant>(literal.Re.GetExtended(),
                                                              literal.Im.GetExtended());
        }
        auto constant = std::make_unique<THugeComplexConstant>(GetDigits());
        literal.Re.GetHuge(constant->Value.Re);
        literal.Im.GetHuge(constant->Value.Im);
        return constant;
    }
    case vtFloat: {
        const auto &literal = static_cast<const TFloatLiteral &>(Literal);
        if (precision == pmDouble)
            return std::make_unique<TDoubleFloatConstant>(literal.GetDouble());
        if (precision == pmExtended) {
            TFoldFPUScope fpu;
            return std::make_unique<TExtendedFloatConstant>(literal.GetExtended());
        }
        auto constant = std::make_unique<THugeFloatConstant>(GetDigits());
        literal.GetHuge(constant->Value);
        return constant;
    }
    case vtInteger:
        return std::make_unique<TIntConstant>(static_cast<const TIntLiteral &>(Literal).Value);
    case vtBoolean:
        return std::make_unique<TBoolConstant>(static_cast<const TBoolLiteral &>(Literal).Value);
    default:
        throw EInternalCompilerError("TOptimizer.MakeConstant: no constant of type %d",
                                     static_cast<int>(Literal.Type));
    }
}

std::unique_ptr<TConstant> TOptimizer::NewConstant(std::uint8_t Type) const {
    return ZeroConstant(Type, GetPrecision(), GetDigits());
}

// --- Computing constants ---------------------------------------------------------------------

void TOptimizer::SelectFoldingRoutine(int Function, int ArgumentType, int ResultType, int &Routine) {
    if (auto *chooser = dynamic_cast<TFunctionRoutineChooser *>(this))
        chooser->SelectFunctionRoutine(Function, ArgumentType, ResultType, Routine);
}

TProcessorAccess &TOptimizer::QueryAccess() {
    if (!FQueryAccess || FQueryPrecision != GetPrecision()) {
        FQueryAccess = CreateProcessorAccess(GetPrecision());
        FQueryAccess->OnSelectFunction = MakeEvent<&TOptimizer::SelectFoldingRoutine>(this);
        FQueryPrecision = GetPrecision();
    }
    return *FQueryAccess;
}

bool TOptimizer::HasFunctionRoutine(int Function, std::uint8_t ArgumentType, std::uint8_t ResultType) {
    if (Function == fnIdent || Function == fnZero)
        return ArgumentType == ResultType;
    return QueryAccess().GetFunctionRoutine(Function, ArgumentType, ResultType) != 0;
}

bool TOptimizer::HasNegation(std::uint8_t Type) {
    return Type != vtBoolean && QueryAccess().GetUnaryOperatorRoutine(uoNegate, Type) != 0;
}

std::unique_ptr<TConstant> TOptimizer::Compute(std::uint8_t Kind, int Code, const TConstant *const *Operands,
                                               int Count, std::uint8_t ResultType) {
    const std::uint8_t precision = GetPrecision() == pmDouble ? pmExtended : GetPrecision();
    const std::string key = FoldKey(Kind, Code, Operands, Count, ResultType, precision, GetDigits());
    if (auto known = FFoldResults.find(key); known != FFoldResults.end())
        return known->second->Clone();
    std::unique_ptr<TProcessorAccess> access = CreateProcessorAccess(precision);
    access->OnSelectFunction = MakeEvent<&TOptimizer::SelectFoldingRoutine>(this);

    // The code: loads from the last operand to the first, the routine, the store of the result.
    auto slot = [](int I) { return static_cast<std::int32_t>(I * FoldSlotSize); };
    int routine = 0;
    switch (Kind) {
    case ekUnaryOperator: {
        const std::uint8_t type = Operands[0]->Type;
        routine = access->GetUnaryOperatorRoutine(Code, type);
        access->LoadValue(type, slot(0), false);
        access->EmitUnaryOperator(Code, type, ResultType);
        break;
    }
    case ekBinaryOperator: {
        const std::uint8_t left = Operands[0]->Type;
        const std::uint8_t right = Operands[1]->Type;
        routine = access->GetOperatorRoutine(Code, 1, ResultType, right, left);
        if ((left == vtInteger || left == vtBoolean) && right == left) {
            // Integer and boolean operators take the right operand in edx (dl).
            if (right == vtInteger)
                access->LoadIntEdx(slot(1), false);
            else
                access->LoadBoolDl(slot(1), false);
        } else {
            access->LoadValue(right, slot(1), false);
        }
        access->LoadValue(left, slot(0), false);
        access->EmitOperator(Code, 1, ResultType, right, left);
        break;
    }
    case ekFunction: {
        const std::uint8_t type = Operands[0]->Type;
        if (Code == fnIdent)
            routine = type == ResultType ? -1 : 0;
        else if (Code == fnZero)
            routine = type == vtComplex && ResultType == vtComplex ? -1 : 0;
        else
            routine = access->GetFunctionRoutine(Code, type, ResultType);
        if (routine == 0)
            return nullptr;
        for (int i = Count - 1; i >= 0; i--)
            access->LoadValue(Operands[i]->Type, slot(i), false);
        access->EmitFunction(Code, type, ResultType);
        break;
    }
    default:
        return nullptr;
    }
    // Without a routine the node stays as it is: the code generator reports what it cannot
    // translate.
    if (routine == 0)
        return nullptr;
    access->StoreValue(ResultType, slot(Count), false, true);

    TFoldBlock buffer(static_cast<std::size_t>((Count + 1) * FoldSlotSize));
    for (int i = 0; i < Count; i++)
        PutOperand(buffer.Data() + slot(i), *Operands[i], precision);
    std::unique_ptr<TConstant> result = ZeroConstant(ResultType, precision, GetDigits());
    PrepareResult(buffer.Data() + slot(Count), *result);

    TFoldBlock context(FoldContextSize);
    PutValue<void *>(context.Data() + FoldDataCell, buffer.Data());
    std::unique_ptr<THugeProcessor> processor;
    if (precision == pmArbitrary)
        processor = std::make_unique<THugeProcessor>(GetDigits());

    TRoutineAssembler &code = *RoutineAssembler;
    code.Clear();
    code.Precision = precision == pmDouble || precision == pmExtended ? precision : pmArbitrary;
    code.EmitEntry();
    code.EmitPushData(FoldDataCell);
    code.Emit(access->GetCode(), access->GetSize());
    code.EmitPopData();
    code.EmitExit();
    code.Execute(context.Data(), processor.get());
    code.Clear();

    GetResult(buffer.Data() + slot(Count), *result);
    FFoldResults.emplace(key, result->Clone());
    return result;
}

// --- Folding ---------------------------------------------------------------------------------

TExpressionPtr TOptimizer::FoldStatement(const TExpression &Statement) {
    return Fold(Statement);
}

TExpressionPtr TOptimizer::Fold(const TExpression &E) {
    switch (E.Kind) {
    case ekLiteral:
        return MakeConstantExpression(E.Position,
                                      MakeConstant(*static_cast<const TLiteralExpression &>(E).Literal));
    case ekParameter:
        return FoldParameter(E);
    case ekUserFunction:
        return FoldUserFunction(static_cast<const TUserFunctionExpression &>(E));
    case ekPredefined:
        return FoldPredefined(static_cast<const TPredefinedExpression &>(E));
    case ekUnaryOperator:
        return FoldUnary(static_cast<const TUnaryOperatorExpression &>(E));
    case ekBinaryOperator:
        return FoldBinary(static_cast<const TBinaryOperatorExpression &>(E));
    case ekFunction: {
        const auto &call = static_cast<const TFunctionExpression &>(E);
        return FoldCall(call, call.FunctionId);
    }
    case ekKeyword: {
        const auto &keyword = static_cast<const TKeywordExpression &>(E);
        return std::make_unique<TKeywordExpression>(
            E.Position, keyword.Operand ? Fold(*keyword.Operand) : nullptr, keyword.KeywordId);
    }
    case ekDeclaration:
        FoldDeclaration(static_cast<const TDeclarationExpression &>(E));
        return nullptr;
    case ekSetting:
        FoldSetting(static_cast<const TSettingExpression &>(E));
        return nullptr;
    case ekStorage:
        return FoldStorage(static_cast<const TStorageExpression &>(E));
    default: // labels, directives, strings, constants
        return E.Clone();
    }
}

TExpressionPtr TOptimizer::FoldParameter(const TExpression &E) {
    const auto &parameter = static_cast<const TParameterExpression &>(E);
    const int index = GetParams().IndexOfName(parameter.Name, pkOrdinary);
    if (index < 0)
        throw EInternalCompilerError("TOptimizer: unknown parameter '%s'", parameter.Name);
    const TParam *param = GetParams().GetItem(index);
    std::unique_ptr<TLiteral> literal;
    switch (param->Type) {
    case vtComplex: {
        const auto &value = static_cast<const TComplexParam *>(param)->Value;
        literal = std::make_unique<TComplexLiteral>(value.Re.GetText(), value.Im.GetText());
        break;
    }
    case vtFloat:
        literal = std::make_unique<TFloatLiteral>(static_cast<const TFloatParam *>(param)->Value.GetText());
        break;
    case vtInteger:
        literal = std::make_unique<TIntLiteral>(static_cast<const TIntParam *>(param)->GetValue());
        break;
    case vtBoolean:
        literal = std::make_unique<TBoolLiteral>(static_cast<const TBoolParam *>(param)->GetValue());
        break;
    case vtColor: {
        TFloatColor color;
        PixelToFloatColor(static_cast<const TColorParam *>(param)->GetValue(), color);
        return MakeConstantExpression(
            E.Position, std::make_unique<TColorConstant>(color.Red, color.Green, color.Blue, color.Alpha));
    }
    default:
        throw EInternalCompilerError("TOptimizer: parameter '%s' has no value", parameter.Name);
    }
    return MakeConstantExpression(E.Position, MakeConstant(*literal));
}

TExpressionPtr TOptimizer::FoldUserFunction(const TUserFunctionExpression &E) {
    const int index = GetParams().IndexOfName(E.Name, pkFunction);
    if (index < 0)
        throw EInternalCompilerError("TOptimizer: unknown function parameter '%s'", E.Name);
    const auto *param = static_cast<const TCustomFuncParam *>(GetParams().GetItem(index));
    return FoldCall(E, param->GetValue());
}

TExpressionPtr TOptimizer::FoldPredefined(const TPredefinedExpression &E) {
    const TFormulaConstants &constants = *Constants;
    switch (E.SymbolId) {
    case psPi:
    case psE: {
        if (GetPrecision() == pmArbitrary) {
            auto constant = std::make_unique<THugeFloatConstant>(GetDigits());
            if (E.SymbolId == psPi)
                constant->Value.LoadPi();
            else
                constant->Value.LoadE();
            return MakeConstantExpression(E.Position, std::move(constant));
        }
        return MakeConstantExpression(E.Position,
                                      MakeConstant(TFloatLiteral(E.SymbolId == psPi ? PiText : EText)));
    }
    case psMaxIter:
        return MakeConstantExpression(E.Position, std::make_unique<TIntConstant>(constants.GetMaxIter()));
    case psWidth:
        return MakeConstantExpression(E.Position, std::make_unique<TIntConstant>(constants.GetWidth()));
    case psHeight:
        return MakeConstantExpression(E.Position, std::make_unique<TIntConstant>(constants.GetHeight()));
    case psMagn:
        return MakeConstantExpression(E.Position, MakeConstant(TFloatLiteral(constants.Magn.GetText())));
    case psAngle:
        return MakeConstantExpression(E.Position, MakeConstant(TFloatLiteral(constants.Angle.GetText())));
    case psStretch:
        return MakeConstantExpression(E.Position, MakeConstant(TFloatLiteral(constants.Stretch.GetText())));
    case psSkew:
        return MakeConstantExpression(E.Position, MakeConstant(TFloatLiteral(constants.Skew.GetText())));
    case psCenter:
        return MakeConstantExpression(
            E.Position,
            MakeConstant(TComplexLiteral(constants.Center.Re.GetText(), constants.Center.Im.GetText())));
    case psScreenMax:
        return MakeConstantExpression(E.Position,
                                      MakeConstant(TComplexLiteral(std::to_string(constants.GetWidth()),
                                                                   std::to_string(constants.GetHeight()))));
    case psRandomRange:
        return MakeConstantExpression(E.Position, MakeConstant(TFloatLiteral("2147483648")));
    default:
        return E.Clone();
    }
}

TExpressionPtr TOptimizer::FoldUnary(const TUnaryOperatorExpression &E) {
    TExpressionPtr operand = Fold(*E.Operand);
    if (const TConstant *constant = ConstantOf(operand.get())) {
        if (std::unique_ptr<TConstant> result =
                Compute(ekUnaryOperator, E.Operator, &constant, 1, E.GetReturnType()))
            return MakeConstantExpression(E.Position, std::move(result));
    }
    auto unary = std::make_unique<TUnaryOperatorExpression>(E.Position, std::move(operand), E.Operator);
    CopyType(E, *unary);
    return unary;
}

// An operator chain (a + b - c ...) leans left as deep as it is long: the nodes along its left
// spine are folded bottom-up in a loop, each after its left operand, and only right operands
// recurse.
TExpressionPtr TOptimizer::FoldBinary(const TBinaryOperatorExpression &E) {
    std::vector<const TBinaryOperatorExpression *> spine{&E};
    while (spine.back()->Left->Kind == ekBinaryOperator)
        spine.push_back(static_cast<const TBinaryOperatorExpression *>(spine.back()->Left.get()));
    TExpressionPtr folded = Fold(*spine.back()->Left);
    for (std::size_t i = spine.size(); i-- > 0;)
        folded = FoldBinaryNode(*spine[i], std::move(folded));
    return folded;
}

TExpressionPtr TOptimizer::FoldBinaryNode(const TBinaryOperatorExpression &E, TExpressionPtr FoldedLeft) {
    TExpressionPtr left = std::move(FoldedLeft);
    TExpressionPtr right = Fold(*E.Right);
    const TConstant *l = ConstantOf(left.get());
    const TConstant *r = ConstantOf(right.get());
    if (l && r && E.Operator != opAssign) {
        const TConstant *operands[2] = {l, r};
        if (std::unique_ptr<TConstant> result =
                Compute(ekBinaryOperator, E.Operator, operands, 2, E.GetReturnType()))
            return MakeConstantExpression(E.Position, std::move(result));
    }
    auto binary = std::make_unique<TBinaryOperatorExpression>(E.Position, std::move(left), std::move(right),
                                                              E.Operator);
    CopyType(E, *binary);
    if (l && r)
        return binary;
    return Simplify(std::move(binary));
}

TExpressionPtr TOptimizer::FoldCall(const TCustomFunctionExpression &E, std::uint8_t Function) {
    auto call = std::make_unique<TFunctionExpression>(E.Position, Function);
    CopyType(E, *call);
    bool constant = E.Count() > 0;
    for (std::int32_t i = 0; i < E.Count(); i++) {
        call->Add(Fold(*E.Get(i)));
        constant = constant && call->Get(i)->Kind == ekConstant;
    }
    if (constant && IsFunctionCallFoldable(Function)) {
        std::vector<const TConstant *> operands;
        for (std::int32_t i = 0; i < call->Count(); i++)
            operands.push_back(ConstantOf(call->Get(i)));
        if (std::unique_ptr<TConstant> result =
                Compute(ekFunction, Function, operands.data(), call->Count(), call->GetReturnType()))
            return MakeConstantExpression(E.Position, std::move(result));
    }
    return call;
}

TExpressionPtr TOptimizer::FoldStorage(const TStorageExpression &E) {
    auto reference = std::make_unique<TStorageExpression>(E.Position, E.Node);
    for (std::int32_t i = 0; i < E.Count(); i++)
        reference->Add(Fold(*E.Get(i)));
    return reference;
}

void TOptimizer::FoldDeclaration(const TDeclarationExpression &E) {
    if (!E.Node || !E.Variable || E.Variable->Kind != ekVariable)
        return;
    const auto &variable = static_cast<const TVariableExpression &>(*E.Variable);
    for (std::int32_t i = 0; i < variable.Count() && i < E.Node->GetDimensionCount(); i++) {
        const TExpression &dimension = *variable.Get(i);
        TExpressionPtr folded = Fold(dimension);
        const TConstant *constant = ConstantOf(folded.get());
        if (!constant || constant->Type != vtInteger)
            throw EInternalCompilerError("TOptimizer: array dimension is not an integer constant");
        GetStorage().SetArrayDimension(*E.Node, i, static_cast<const TIntConstant *>(constant)->Value,
                                       dimension.Position);
    }
}

void TOptimizer::FoldSetting(const TSettingExpression &E) {
    if (!E.Value)
        return;
    TExpressionPtr value = Fold(*E.Value);
    if (!value || value->Kind != ekConstant)
        throw EInternalCompilerError("TOptimizer: the value of setting '%s' is not constant", E.Name);
    std::unique_ptr<TConstant> &constant = static_cast<TConstantExpression &>(*value).Constant;
    if (GetPrecision() == pmDouble)
        RoundToDouble(constant);
    const_cast<TSettingExpression &>(E).Apply(*this, *constant);
}

// --- Simplifications -------------------------------------------------------------------------

TExpressionPtr TOptimizer::Simplify(std::unique_ptr<TBinaryOperatorExpression> E) {
    switch (E->Operator) {
    case opMultiply:
        return SimplifyMultiply(std::move(E));
    case opDivide:
        return SimplifyDivide(std::move(E));
    case opPower:
        return SimplifyPower(std::move(E));
    case opAnd:
    case opOr:
        return SimplifyLogical(std::move(E));
    default:
        return E;
    }
}

TExpressionPtr TOptimizer::SimplifyMultiply(std::unique_ptr<TBinaryOperatorExpression> E) {
    const std::uint8_t type = E->GetReturnType();
    if (type == vtColor)
        return E;
    if (SameSimpleOperand(*E->Left, *E->Right) && TypeOf(*E->Left) == type &&
        HasFunctionRoutine(fnSqr, type, type))
        return MakeCall(E->Position, fnSqr, std::move(E->Left), type);
    if (ConstantOf(E->Right.get()) && !ConstantOf(E->Left.get())) {
        // Constants go left; the product's routine must exist for the swapped operand types.
        if (QueryAccess().GetOperatorRoutine(opMultiply, 1, type, TypeOf(*E->Left), TypeOf(*E->Right)) == 0)
            return E;
        std::swap(E->Left, E->Right);
    }
    const TConstant *c = ConstantOf(E->Left.get());
    if (!c)
        return E;
    const int cls = ClassifyConstant(*c);
    TExpressionPtr x = std::move(E->Right);
    auto keep = [&]() -> TExpressionPtr {
        E->Right = std::move(x);
        return std::move(E);
    };
    if (TypeOf(*x) == vtFloat && c->Type == vtComplex &&
        (cls == ccZero || cls == ccOne || cls == ccMinusOne || cls == ccTwo)) {
        if (!HasFunctionRoutine(fnToComplex, vtFloat, vtComplex))
            return keep();
        const TCompilePosition position = x->Position;
        x = MakeCall(position, fnToComplex, std::move(x), vtComplex);
    }
    const std::uint8_t xType = TypeOf(*x);
    switch (cls) {
    case ccZero:
        // A product with an assignment inside still has to run it.
        if (!IsFreeOfAssignments(x.get()))
            return keep();
        return MakeConstantExpression(E->Position, NewConstant(type));
    case ccOne:
        return xType == type ? std::move(x) : keep();
    case ccMinusOne:
        if (xType != type || !HasNegation(type))
            return keep();
        return MakeNegation(E->Position, std::move(x), type);
    case ccI:
    case ccMinusI: {
        const int function = cls == ccI ? fnTimesI : fnTimesMinusI;
        if (!HasFunctionRoutine(function, xType, type))
            return keep();
        return MakeCall(E->Position, function, std::move(x), type);
    }
    case ccTwo:
        if (xType != type || !HasFunctionRoutine(fnTimesTwo, type, type))
            return keep();
        return MakeCall(E->Position, fnTimesTwo, std::move(x), type);
    default:
        return keep();
    }
}

TExpressionPtr TOptimizer::SimplifyDivide(std::unique_ptr<TBinaryOperatorExpression> E) {
    const std::uint8_t type = E->GetReturnType();
    if (type == vtColor)
        return E;
    if (const TConstant *c = ConstantOf(E->Left.get())) {
        const int cls = ClassifyConstant(*c);
        TExpressionPtr x = std::move(E->Right);
        auto keep = [&]() -> TExpressionPtr {
            E->Right = std::move(x);
            return std::move(E);
        };
        if (TypeOf(*x) == vtFloat && c->Type == vtComplex && (cls == ccOne || cls == ccMinusOne)) {
            if (!HasFunctionRoutine(fnToComplex, vtFloat, vtComplex))
                return keep();
            const TCompilePosition position = x->Position;
            x = MakeCall(position, fnToComplex, std::move(x), vtComplex);
        }
        const std::uint8_t xType = TypeOf(*x);
        switch (cls) {
        case ccZero:
            if (c->Type != type || !IsFreeOfAssignments(x.get()))
                return keep();
            return std::move(E->Left);
        case ccOne:
        case ccMinusOne: {
            if (xType != type || !HasFunctionRoutine(fnRecip, type, type) ||
                (cls == ccMinusOne && !HasNegation(type)))
                return keep();
            TExpressionPtr recip = MakeCall(E->Position, fnRecip, std::move(x), type);
            if (cls == ccMinusOne)
                return MakeNegation(E->Position, std::move(recip), type);
            return recip;
        }
        default:
            return keep();
        }
    }
    if (const TConstant *c = ConstantOf(E->Right.get())) {
        // x / c as x * (1 / c), with the reciprocal computed by the routine the code would use,
        // only where that reciprocal is exact (c a power of two): a rounded one would change
        // results (3 / 3 would become 3 * 0.333..., just below 1), and a division by 0 keeps the
        // division's own result.
        if (!IsRealPowerOfTwo(*c) ||
            QueryAccess().GetOperatorRoutine(opMultiply, 1, type, c->Type, TypeOf(*E->Left)) == 0)
            return E;
        std::unique_ptr<TConstant> k = Compute(ekFunction, fnRecip, &c, 1, c->Type);
        if (!k || !IsRealPowerOfTwo(*k))
            return E;
        auto product = std::make_unique<TBinaryOperatorExpression>(
            E->Position, std::move(E->Left), MakeConstantExpression(E->Right->Position, std::move(k)),
            opMultiply);
        product->SetReturnType(type);
        return product;
    }
    return E;
}

TExpressionPtr TOptimizer::SimplifyPower(std::unique_ptr<TBinaryOperatorExpression> E) {
    const TConstant *c = ConstantOf(E->Right.get());
    if (!c)
        return E;
    const std::uint8_t type = E->GetReturnType();
    const std::uint8_t baseType = TypeOf(*E->Left);
    const TCompilePosition position = E->Position;
    switch (ClassifyConstant(*c)) {
    case ccZero: {
        if (!IsFreeOfAssignments(E->Left.get()))
            return E;
        const std::uint8_t oneType = type == vtComplex ? vtComplex : vtFloat;
        if (oneType != type)
            return E;
        return MakeConstantExpression(
            position,
            MakeConstant(oneType == vtComplex ? static_cast<const TLiteral &>(TComplexLiteral("1", "0"))
                                              : static_cast<const TLiteral &>(TFloatLiteral("1"))));
    }
    case ccOne:
        return baseType == type ? std::move(E->Left) : std::move(E);
    case ccMinusOne:
        if (baseType != type || !HasFunctionRoutine(fnRecip, type, type))
            return E;
        return MakeCall(position, fnRecip, std::move(E->Left), type);
    case ccTwo:
        if (baseType != type || !HasFunctionRoutine(fnSqr, type, type))
            return E;
        return MakeCall(position, fnSqr, std::move(E->Left), type);
    case ccThree:
        if (baseType != type || !HasFunctionRoutine(fnCube, type, type))
            return E;
        return MakeCall(position, fnCube, std::move(E->Left), type);
    case ccFour:
        if (baseType != type || !HasFunctionRoutine(fnFourthPower, type, type))
            return E;
        return MakeCall(position, fnFourthPower, std::move(E->Left), type);
    default:
        return E;
    }
}

TExpressionPtr TOptimizer::SimplifyLogical(std::unique_ptr<TBinaryOperatorExpression> E) {
    // Conjunctions keep their constant on the left; a disjunction keeps its order unless it
    // folds away.
    if (E->Operator == opAnd && ConstantOf(E->Right.get()) && !ConstantOf(E->Left.get()))
        std::swap(E->Left, E->Right);
    const bool constantLeft = ConstantOf(E->Left.get()) != nullptr;
    TExpressionPtr &constantSlot = constantLeft ? E->Left : E->Right;
    TExpressionPtr &otherSlot = constantLeft ? E->Right : E->Left;
    const TConstant *c = ConstantOf(constantSlot.get());
    if (!c || c->Type != vtBoolean || !otherSlot || TypeOf(*otherSlot) != vtBoolean)
        return E;
    const bool value = static_cast<const TBoolConstant *>(c)->Value;
    // The value that decides alone: false for &&, true for ||.
    const bool deciding = E->Operator == opOr;
    if (value != deciding)
        return std::move(otherSlot);
    // The other side still has to run when it assigns.
    if (!IsFreeOfAssignments(otherSlot.get()))
        return E;
    return std::move(constantSlot);
}

// --- Generate --------------------------------------------------------------------------------

void TOptimizer::MoveConstants(TExpressionPtr &Slot) {
    if (!Slot)
        return;
    std::vector<TExpressionPtr *> work{&Slot};
    while (!work.empty()) {
        TExpressionPtr &slot = *work.back();
        work.pop_back();
        if (!slot)
            continue;
        if (slot->Kind == ekConstant) {
            auto &expression = static_cast<TConstantExpression &>(*slot);
            const std::uint8_t type = expression.Constant->Type;
            if (type != vtComplex && type != vtFloat && type != vtColor)
                continue;
            if (GetPrecision() == pmDouble)
                RoundToDouble(expression.Constant);
            TStorageList &storage = GetStorage();
            TStorageNode *node = storage.FindConstant(*expression.Constant);
            if (!node)
                node = storage.AddNode(std::make_unique<TConstantNode>(std::move(expression.Constant)));
            slot = std::make_unique<TStorageExpression>(expression.Position, node);
            continue;
        }
        for (std::int32_t i = 0; i < slot->ChildCount(); i++)
            work.push_back(&slot->ChildSlot(i));
    }
}

namespace {

TKeywordExpression *KeywordOf(TExpressionNode *Node) {
    if (!Node || !Node->Expression || Node->Expression->Kind != ekKeyword)
        return nullptr;
    return static_cast<TKeywordExpression *>(Node->Expression.get());
}

bool IsKeyword(TExpressionNode *Node, std::uint8_t Id) {
    const TKeywordExpression *keyword = KeywordOf(Node);
    return keyword && keyword->KeywordId == Id;
}

// The first statement after From (excluded) that ends From's branch at its own depth: an ELSEIF,
// ELSE or ENDIF (with ElseEnds), or the ENDIF only; nullptr when the list ends first.
TExpressionNode *BranchEnd(TExpressionNode *From, bool ElseEnds) {
    int depth = 0;
    for (TExpressionNode *node = From->Next; node; node = node->Next) {
        const TKeywordExpression *keyword = KeywordOf(node);
        if (!keyword)
            continue;
        switch (keyword->KeywordId) {
        case kwIf:
            depth++;
            break;
        case kwEndIf:
            if (depth == 0)
                return node;
            depth--;
            break;
        case kwElseIf:
        case kwElse:
            if (depth == 0 && ElseEnds)
                return node;
            break;
        default:
            break;
        }
    }
    return nullptr;
}

// Removes the statements from First up to Last (excluded; to the end for nullptr).
void RemoveRange(TExpressionList &List, TExpressionNode *First, TExpressionNode *Last) {
    while (First && First != Last) {
        TExpressionNode *next = First->Next;
        List.Remove(First);
        First = next;
    }
}

} // namespace

void TOptimizer::ResolveConstantConditions() {
    TExpressionList &list = *OptimizedList;
    TExpressionNode *node = list.GetFirst();
    while (node) {
        TKeywordExpression *keyword = KeywordOf(node);
        const TConstant *condition = keyword ? ConstantOf(keyword->Operand.get()) : nullptr;
        if (!keyword || (keyword->KeywordId != kwIf && keyword->KeywordId != kwElseIf) || !condition ||
            condition->Type != vtBoolean) {
            node = node->Next;
            continue;
        }
        const bool wasIf = keyword->KeywordId == kwIf;
        TExpressionNode *end = BranchEnd(node, true);
        if (!static_cast<const TBoolConstant *>(condition)->Value) {
            RemoveRange(list, node, end);
            node = end;
            if (!wasIf || !end)
                continue;
            TKeywordExpression *following = KeywordOf(end);
            if (following->KeywordId == kwElseIf) {
                following->KeywordId = kwIf;
            } else if (following->KeywordId == kwElse) {
                // The else branch stays, without its ELSE and ENDIF.
                TExpressionNode *endIf = BranchEnd(end, false);
                node = end->Next;
                if (node == endIf)
                    node = endIf->Next;
                list.Remove(end);
                if (endIf)
                    list.Remove(endIf);
            } else { // ENDIF
                node = end->Next;
                list.Remove(end);
            }
            continue;
        }
        // A true condition: its branch is the one that runs.
        TExpressionNode *endIf = end;
        if (end && !IsKeyword(end, kwEndIf))
            endIf = BranchEnd(end, false);
        if (end && end != endIf)
            RemoveRange(list, end, endIf);
        if (wasIf) {
            if (endIf)
                list.Remove(endIf);
            TExpressionNode *next = node->Next;
            list.Remove(node);
            node = next;
        } else {
            keyword->KeywordId = kwElse;
            keyword->Operand.reset();
            node = node->Next;
        }
    }
}

void TOptimizer::Generate() {
    // Routines chosen for folding may depend on the formula's settings, so results are kept for
    // one generation only.
    FFoldResults.clear();
    GetStorage().RemoveTemporaries();
    OptimizedList = std::make_unique<TExpressionList>();
    try {
        for (TExpressionNode *node = GetExpressions().GetFirst(); node; node = node->Next) {
            TExpressionPtr folded = FoldStatement(*node->Expression);
            if (!folded)
                continue;
            MoveConstants(folded);
            OptimizedList->Add(std::move(folded));
        }
        ResolveConstantConditions();
        CompileCode();
    } catch (...) {
        OptimizedList.reset();
        FFoldResults.clear();
        throw;
    }
    OptimizedList.reset();
    FFoldResults.clear();
}
