#include "HugeFPU.h"

// ---------------------------------------------------------------- processor numbers

TProcessorFloat::TProcessorFloat(THugeProcessor *processor, int precision)
    : THugeFloat(precision, SharedBuffer{}), FProcessor(processor) {
    FWorkBuffer = processor->WorkBuffer();
}

void TProcessorFloat::AllocWorkBuffer() {
    // Only a re-initialisation to a precision other than the processor's
    // could need more than the shared buffer; such a number keeps its own.
    if (FProcessor && HugeWordCount(FPrecision) <= HugeWordCount(FProcessor->Digits())) {
        FWorkBuffer = FProcessor->WorkBuffer();
        FOwnsWorkBuffer = false;
    } else {
        THugeFloat::AllocWorkBuffer();
    }
}

void TProcessorFloat::FreeWorkBuffer() {
    THugeFloat::FreeWorkBuffer();
}

THugeFloatBase *TProcessorFloat::GetOne() {
    return FProcessor->AcquireConstant(1, FWordCount);
}
THugeFloatBase *TProcessorFloat::GetTwo() {
    return FProcessor->AcquireConstant(2, FWordCount);
}
THugeFloatBase *TProcessorFloat::GetThree() {
    return FProcessor->AcquireConstant(3, FWordCount);
}
void TProcessorFloat::ReleaseConstant(THugeFloatBase *value) {
    FProcessor->ReleaseConstantValue(value);
}
THugeFloatOper *TProcessorFloat::GetTemp() {
    return FProcessor->AcquireTemp(FWordCount);
}
THugeFloatMath *TProcessorFloat::GetMathTemp() {
    return FProcessor->AcquireTemp(FWordCount);
}
void TProcessorFloat::ReleaseTemp(THugeFloatOper *value) {
    FProcessor->ReleaseTempValue(value);
}
int TProcessorFloat::FreeMathTemps() const {
    return THugeProcessor::TempCount - FProcessor->TempIndex();
}
void TProcessorFloat::ReleaseMathTemp(THugeFloatMath *value) {
    FProcessor->ReleaseTempValue(value);
}

// ---------------------------------------------------------------- life cycle

THugeProcessor::THugeProcessor(int digits) : FDigits(digits) {
    CreateRegisters();
    Reset();
}

THugeProcessor::~THugeProcessor() {
    FreeRegisters();
}

void THugeProcessor::CreateRegisters() {
    const int n = HugeWordCount(FDigits);
    FWorkBuffer.reset(new uint32_t[THugeFloatOper::WorkBufferWords(n)]());
    for (auto &temp : FTemps)
        temp = std::make_unique<TProcessorFloat>(this, FDigits);
    FSpareTemp = std::make_unique<TProcessorFloat>(this, FDigits);
    for (int i = 0; i < 3; ++i) {
        FConstants[i].Value = std::make_unique<TBasicHugeFloat>(FDigits, i + 1);
        FConstants[i].Depth = 0;
    }
    for (int i = 0; i < RegisterCount; ++i) {
        FRegisterStore[i] = std::make_unique<TProcessorFloat>(this, FDigits);
        FRegisters[i] = FRegisterStore[i].get();
    }
    FScratch = std::make_unique<TProcessorFloat>(this, FDigits);
    FTempIndex = 0;
    FTempPeak = 0;
}

void THugeProcessor::FreeRegisters() {
    for (int i = 0; i < RegisterCount; ++i) {
        FRegisters[i] = nullptr;
        FRegisterStore[i].reset();
    }
    FScratch.reset();
    for (auto &constant : FConstants)
        constant.Value.reset();
    FSpareTemp.reset();
    for (auto &temp : FTemps)
        temp.reset();
    FWorkBuffer.reset();
}

// ---------------------------------------------------------------- scratch values

TProcessorFloat *THugeProcessor::AcquireTemp(int words) {
    TProcessorFloat *temp;
    if (FTempIndex < TempCount) {
        temp = FTemps[FTempIndex].get();
    } else {
        Fault();
        temp = FSpareTemp.get();
    }
    ++FTempIndex;
    if (FTempIndex > FTempPeak)
        FTempPeak = FTempIndex;
    temp->SetView(words);
    return temp;
}

void THugeProcessor::ReleaseTempValue(const THugeFloatBase *value) {
    if (FTempIndex == 0) {
        Fault();
        return;
    }
    --FTempIndex;
    const TProcessorFloat *expected = FTempIndex < TempCount ? FTemps[FTempIndex].get() : FSpareTemp.get();
    if (value != expected)
        Fault();
}

THugeFloatBase *THugeProcessor::AcquireConstant(int value, int words) {
    SharedConstant &constant = FConstants[value - 1];
    if (constant.Depth >= ConstantDepth) {
        // Deeper nesting than any algorithm here reaches: a private copy.
        Fault();
        auto *copy = new THugeFloatBase(FDigits, value);
        copy->SetView(words);
        return copy;
    }
    // The constants are exact at every width (one word and zeros), so one
    // object serves all callers through views, restored on release.
    constant.SavedCounts[constant.Depth++] = constant.Value->FWordCount;
    constant.Value->SetView(words);
    return constant.Value.get();
}

void THugeProcessor::ReleaseConstantValue(THugeFloatBase *value) {
    for (auto &constant : FConstants) {
        if (constant.Value.get() == value) {
            if (constant.Depth == 0) {
                Fault();
                return;
            }
            constant.Value->SetView(constant.SavedCounts[--constant.Depth]);
            return;
        }
    }
    delete value;
}

// ---------------------------------------------------------------- stack

namespace {
// The copy of every load and store between numbers of the same width: the
// fields and the mantissa words, nothing else to adjust. A plain word loop:
// for the few words of a typical precision a library call costs more than
// the copy. (The empty statement keeps the compiler from turning the loop
// back into such a call.) Other widths go through Assign.
inline void CopyNumber(THugeFloatBase &target, const THugeFloatBase &source) {
    const int n = source.FWordCount;
    if (n != target.FWordCount) {
        target.Assign(source);
        return;
    }
    target.FSign = source.FSign;
    target.FState = source.FState;
    target.FExponent = source.FExponent;
    uint32_t *to = target.FMantissa;
    const uint32_t *from = source.FMantissa;
    for (int i = 0; i < n; ++i) {
        to[i] = from[i];
        __asm__ volatile("");
    }
}
} // namespace

TProcessorFloat &THugeProcessor::Invalid() {
    Fault();
    FScratch->SetNaN();
    return *FScratch;
}

TProcessorFloat &THugeProcessor::Push() {
    if (FTop == 0) {
        // full: the value is lost and the top shows NaN
        Fault();
        FRegisters[0]->SetNaN();
        FScratch->SetNaN();
        return *FScratch;
    }
    --FTop;
    return *FRegisters[FTop];
}

void THugeProcessor::Pop() {
    if (FTop >= RegisterCount) {
        Fault();
        return;
    }
    ++FTop;
}

template <class Operation> void THugeProcessor::Guarded(TProcessorFloat &target, Operation operation) {
    const unsigned before = FFaults;
    operation();
    if (FFaults != before)
        target.SetNaN();
}

void THugeProcessor::LoadRegister(int i) {
    TProcessorFloat &source = St(i);
    CopyNumber(Push(), source);
}

void THugeProcessor::LoadHuge(const THugeFloatBase &value) {
    CopyNumber(Push(), value);
}

void THugeProcessor::LoadInteger(int32_t value) {
    Push().SetInteger(value);
}

void THugeProcessor::LoadExtended(long double value) {
    TProcessorFloat &target = Push();
    try {
        target.SetExtended(value);
    } catch (const EHugeError &) {
        // an encoding that is no number loads as NaN
        target.SetNaN();
    }
}

void THugeProcessor::LoadZero() {
    Push().SetInteger(0);
}

void THugeProcessor::LoadOne() {
    Push().SetInteger(1);
}

void THugeProcessor::StoreRegisterPop(int i) {
    const unsigned index = static_cast<unsigned>(FTop) + static_cast<unsigned>(i);
    if (static_cast<unsigned>(i) < RegisterCount && index < RegisterCount) {
        // The register that is popped is free afterwards, so the value moves
        // by swapping the two registers instead of copying words.
        TProcessorFloat *top = FRegisters[FTop];
        FRegisters[FTop] = FRegisters[index];
        FRegisters[index] = top;
        Pop();
        return;
    }
    TProcessorFloat &target = St(i);
    CopyNumber(target, St(0));
    Pop();
}

void THugeProcessor::StoreHuge(THugeFloatBase &value) {
    CopyNumber(value, St(0));
}

void THugeProcessor::StoreHugePop(THugeFloatBase &value) {
    CopyNumber(value, St(0));
    Pop();
}

void THugeProcessor::Exchange(int i) {
    const unsigned index = static_cast<unsigned>(FTop) + static_cast<unsigned>(i);
    if (static_cast<unsigned>(i) >= RegisterCount || index >= RegisterCount) {
        Fault();
        if (FTop < RegisterCount)
            FRegisters[FTop]->SetNaN();
        return;
    }
    TProcessorFloat *top = FRegisters[FTop];
    FRegisters[FTop] = FRegisters[index];
    FRegisters[index] = top;
}

long double THugeProcessor::GetExtended() {
    return St(0).GetExtended();
}

std::string THugeProcessor::GetText() {
    return St(0).GetText();
}

// ---------------------------------------------------------------- arithmetic

void THugeProcessor::Add(int i) {
    St(0).Add(St(i));
}

void THugeProcessor::SubtractRev(int i) {
    St(0).SubtractRev(St(i));
}

void THugeProcessor::Multiply(int i) {
    St(0).Multiply(St(i));
}

void THugeProcessor::Divide(int i) {
    TProcessorFloat &target = St(0);
    TProcessorFloat &other = St(i);
    Guarded(target, [&] { target.Divide(other); });
}

void THugeProcessor::AddTo(int i) {
    St(i).Add(St(0));
}

void THugeProcessor::SubtractRevTo(int i) {
    St(i).SubtractRev(St(0));
}

void THugeProcessor::MultiplyTo(int i) {
    St(i).Multiply(St(0));
}

void THugeProcessor::AddPop(int i) {
    St(i).Add(St(0));
    Pop();
}

void THugeProcessor::SubtractPop(int i) {
    St(i).Subtract(St(0));
    Pop();
}

void THugeProcessor::SubtractRevPop(int i) {
    St(i).SubtractRev(St(0));
    Pop();
}

void THugeProcessor::MultiplyPop(int i) {
    St(i).Multiply(St(0));
    Pop();
}

void THugeProcessor::DividePop(int i) {
    TProcessorFloat &target = St(i);
    TProcessorFloat &other = St(0);
    Guarded(target, [&] { target.Divide(other); });
    Pop();
}

void THugeProcessor::DivideRevPop(int i) {
    TProcessorFloat &target = St(i);
    TProcessorFloat &other = St(0);
    Guarded(target, [&] { target.DivideRev(other); });
    Pop();
}

int32_t THugeProcessor::Compare(int i) {
    return St(0).Compare(St(i));
}

int32_t THugeProcessor::Test() {
    return St(0).Sign();
}

void THugeProcessor::Abs() {
    St(0).Abs();
}

void THugeProcessor::Negate() {
    St(0).Negate();
}

void THugeProcessor::MultiplyByTwo() {
    St(0).MultiplyByTwo();
}

void THugeProcessor::DivideByTwo() {
    St(0).DivideByTwo();
}

void THugeProcessor::Square() {
    St(0).Square();
}

void THugeProcessor::Reciprocal() {
    TProcessorFloat &target = St(0);
    Guarded(target, [&] { target.Reciprocal(); });
}

int32_t THugeProcessor::Trunc() {
    return St(0).Trunc();
}
int32_t THugeProcessor::Round() {
    return St(0).Round();
}
int32_t THugeProcessor::Ceil() {
    return St(0).Ceil();
}
int32_t THugeProcessor::Floor() {
    return St(0).Floor();
}

#define HUGE_PROCESSOR_FUNCTION(Name)                                                                        \
    void THugeProcessor::Name() {                                                                            \
        TProcessorFloat &target = St(0);                                                                     \
        Guarded(target, [&] { target.Name(); });                                                             \
    }
HUGE_PROCESSOR_FUNCTION(Sqrt)
HUGE_PROCESSOR_FUNCTION(Sin)
HUGE_PROCESSOR_FUNCTION(Cos)
HUGE_PROCESSOR_FUNCTION(ArcTan)
HUGE_PROCESSOR_FUNCTION(ArcSin)
HUGE_PROCESSOR_FUNCTION(ArcCos)
HUGE_PROCESSOR_FUNCTION(Ln)
HUGE_PROCESSOR_FUNCTION(Exp)
HUGE_PROCESSOR_FUNCTION(ExpMinusOne)
HUGE_PROCESSOR_FUNCTION(LnOnePlus)
#undef HUGE_PROCESSOR_FUNCTION

void THugeProcessor::ArcTan2Pop() {
    TProcessorFloat &y = St(0);
    TProcessorFloat &x = St(1);
    Guarded(y, [&] { y.ArcTan2(x); });
    Exchange(1);
    Pop();
}

// ---------------------------------------------------------------- entry points

namespace {
// Runs one operation for generated code: nothing may unwind into it.
template <class Operation> inline void Shielded(THugeProcessor *processor, Operation operation) noexcept {
    try {
        operation();
    } catch (...) {
        processor->Fault();
        if (processor->Top() < THugeProcessor::RegisterCount)
            processor->Register(0).SetNaN();
    }
}

template <class Operation>
inline int32_t ShieldedInt(THugeProcessor *processor, Operation operation) noexcept {
    try {
        return operation();
    } catch (...) {
        processor->Fault();
        return 0;
    }
}

inline void NullArgument(THugeProcessor *processor) {
    processor->Fault();
    if (processor->Top() < THugeProcessor::RegisterCount)
        processor->Register(0).SetNaN();
}
} // namespace

extern "C" {

HUGE_REGCALL void THugeProcessor_Reset(THugeProcessor *processor) noexcept {
    processor->Reset();
}

HUGE_REGCALL void THugeProcessor_LoadRegister(THugeProcessor *processor, int32_t i) noexcept {
    Shielded(processor, [&] { processor->LoadRegister(i); });
}

HUGE_REGCALL void THugeProcessor_LoadHuge(THugeProcessor *processor, const THugeFloatBase *value) noexcept {
    if (!value) {
        Shielded(processor, [&] { processor->LoadZero(); });
        NullArgument(processor);
        return;
    }
    Shielded(processor, [&] { processor->LoadHuge(*value); });
}

HUGE_REGCALL void THugeProcessor_LoadInteger(THugeProcessor *processor, int32_t value) noexcept {
    Shielded(processor, [&] { processor->LoadInteger(value); });
}

HUGE_REGCALL void THugeProcessor_LoadExtended(THugeProcessor *processor, const long double *value) noexcept {
    if (!value) {
        Shielded(processor, [&] { processor->LoadZero(); });
        NullArgument(processor);
        return;
    }
    Shielded(processor, [&] { processor->LoadExtended(*value); });
}

HUGE_REGCALL void THugeProcessor_LoadZero(THugeProcessor *processor) noexcept {
    Shielded(processor, [&] { processor->LoadZero(); });
}

HUGE_REGCALL void THugeProcessor_LoadOne(THugeProcessor *processor) noexcept {
    Shielded(processor, [&] { processor->LoadOne(); });
}

HUGE_REGCALL void THugeProcessor_StoreRegisterPop(THugeProcessor *processor, int32_t i) noexcept {
    Shielded(processor, [&] { processor->StoreRegisterPop(i); });
}

HUGE_REGCALL void THugeProcessor_StoreHuge(THugeProcessor *processor, THugeFloatBase *value) noexcept {
    if (!value) {
        NullArgument(processor);
        return;
    }
    Shielded(processor, [&] { processor->StoreHuge(*value); });
}

HUGE_REGCALL void THugeProcessor_StoreHugePop(THugeProcessor *processor, THugeFloatBase *value) noexcept {
    if (!value) {
        NullArgument(processor);
        Shielded(processor, [&] { processor->Pop(); });
        return;
    }
    Shielded(processor, [&] { processor->StoreHugePop(*value); });
}

HUGE_REGCALL void THugeProcessor_Pop(THugeProcessor *processor) noexcept {
    Shielded(processor, [&] { processor->Pop(); });
}

HUGE_REGCALL void THugeProcessor_Exchange(THugeProcessor *processor, int32_t i) noexcept {
    Shielded(processor, [&] { processor->Exchange(i); });
}

HUGE_REGCALL long double THugeProcessor_GetExtended(THugeProcessor *processor) noexcept {
    try {
        return processor->GetExtended();
    } catch (...) {
        processor->Fault();
        return __builtin_nanl("");
    }
}

#define HUGE_ENTRY_INDEX(Name)                                                                               \
    HUGE_REGCALL void THugeProcessor_##Name(THugeProcessor *processor, int32_t i) noexcept {                 \
        Shielded(processor, [&] { processor->Name(i); });                                                    \
    }
HUGE_ENTRY_INDEX(Add)
HUGE_ENTRY_INDEX(SubtractRev)
HUGE_ENTRY_INDEX(Multiply)
HUGE_ENTRY_INDEX(Divide)
HUGE_ENTRY_INDEX(AddTo)
HUGE_ENTRY_INDEX(SubtractRevTo)
HUGE_ENTRY_INDEX(MultiplyTo)
HUGE_ENTRY_INDEX(AddPop)
HUGE_ENTRY_INDEX(SubtractPop)
HUGE_ENTRY_INDEX(SubtractRevPop)
HUGE_ENTRY_INDEX(MultiplyPop)
HUGE_ENTRY_INDEX(DividePop)
HUGE_ENTRY_INDEX(DivideRevPop)
#undef HUGE_ENTRY_INDEX

HUGE_REGCALL int32_t THugeProcessor_Compare(THugeProcessor *processor, int32_t i) noexcept {
    return ShieldedInt(processor, [&] { return processor->Compare(i); });
}

#define HUGE_ENTRY_INT(Name)                                                                                 \
    HUGE_REGCALL int32_t THugeProcessor_##Name(THugeProcessor *processor) noexcept {                         \
        return ShieldedInt(processor, [&] { return processor->Name(); });                                    \
    }
HUGE_ENTRY_INT(Test)
HUGE_ENTRY_INT(Trunc)
HUGE_ENTRY_INT(Round)
HUGE_ENTRY_INT(Ceil)
HUGE_ENTRY_INT(Floor)
#undef HUGE_ENTRY_INT

#define HUGE_ENTRY(Name)                                                                                     \
    HUGE_REGCALL void THugeProcessor_##Name(THugeProcessor *processor) noexcept {                            \
        Shielded(processor, [&] { processor->Name(); });                                                     \
    }
HUGE_ENTRY(Abs)
HUGE_ENTRY(Negate)
HUGE_ENTRY(MultiplyByTwo)
HUGE_ENTRY(DivideByTwo)
HUGE_ENTRY(Square)
HUGE_ENTRY(Reciprocal)
HUGE_ENTRY(Sqrt)
HUGE_ENTRY(Sin)
HUGE_ENTRY(Cos)
HUGE_ENTRY(ArcTan)
HUGE_ENTRY(ArcSin)
HUGE_ENTRY(ArcCos)
HUGE_ENTRY(Ln)
HUGE_ENTRY(Exp)
HUGE_ENTRY(ArcTan2Pop)
#undef HUGE_ENTRY

} // extern "C"
