// Emulated eight-register floating-point stack of arbitrary-precision numbers,
// called by formulas compiled for arbitrary precision in the shape of x87 code.
//
// A processor owns every number it works with (registers, a pool of twelve
// temporaries, the constants 1, 2 and 3 and one multiplication buffer), so
// evaluating a formula allocates nothing. Misuse by the caller (a push onto a
// full stack, a pop of an empty one, a register index beyond the stack, a
// thirteenth temporary or a release out of order) never touches memory
// outside these arrays: the result is NaN and a sticky failure flag is set.
#pragma once

#include "HugeMath.h"

#include <memory>
#include <string>

class THugeProcessor;

// Register and temporary of a processor: borrows the processor's work buffer
// and takes its scratch values from the processor's pool.
class TProcessorFloat : public THugeFloat {
public:
    TProcessorFloat(THugeProcessor *processor, int precision);
    DECLARE_CLASS_NAME(TProcessorFloat)

    void AllocWorkBuffer() override;
    void FreeWorkBuffer() override;
    THugeFloatBase *GetOne() override;
    THugeFloatBase *GetTwo() override;
    THugeFloatBase *GetThree() override;
    void ReleaseConstant(THugeFloatBase *value) override;
    THugeFloatOper *GetTemp() override;
    THugeFloatMath *GetMathTemp() override;
    void ReleaseTemp(THugeFloatOper *value) override;
    void ReleaseMathTemp(THugeFloatMath *value) override;
    int FreeMathTemps() const override;

    THugeProcessor *FProcessor;
};

class THugeProcessor : public TObject {
public:
    static constexpr int RegisterCount = 8;
    static constexpr int TempCount = 12;

    explicit THugeProcessor(int digits);
    ~THugeProcessor() override;
    THugeProcessor(const THugeProcessor &) = delete;
    THugeProcessor &operator=(const THugeProcessor &) = delete;
    DECLARE_CLASS_NAME(THugeProcessor)

    void Reset() { FTop = RegisterCount; }

    void LoadRegister(int i);
    void LoadHuge(const THugeFloatBase &value);
    void LoadInteger(int32_t value);
    void LoadExtended(long double value);
    void LoadZero();
    void LoadOne();
    void StoreRegisterPop(int i);
    void StoreHuge(THugeFloatBase &value);
    void StoreHugePop(THugeFloatBase &value);
    void Pop();
    void Exchange(int i);
    long double GetExtended();
    std::string GetText();

    void Add(int i);
    void SubtractRev(int i);
    void Multiply(int i);
    void Divide(int i);
    void AddTo(int i);
    void SubtractRevTo(int i);
    void MultiplyTo(int i);
    void AddPop(int i);
    void SubtractPop(int i);
    void SubtractRevPop(int i);
    void MultiplyPop(int i);
    void DividePop(int i);
    void DivideRevPop(int i);
    int32_t Compare(int i);
    int32_t Test();
    void Abs();
    void Negate();
    void MultiplyByTwo();
    void DivideByTwo();
    void Square();
    void Reciprocal();
    int32_t Trunc();
    int32_t Round();
    int32_t Ceil();
    int32_t Floor();
    void Sqrt();
    void Sin();
    void Cos();
    void ArcTan();
    void ArcSin();
    void ArcCos();
    void Ln();
    void Exp();
    void ExpMinusOne();
    void LnOnePlus();
    void ArcTan2Pop();

    int Digits() const { return FDigits; }
    int Top() const { return FTop; }
    int TempIndex() const { return FTempIndex; }
    // Deepest use of the temporary pool since the last ClearTempPeak.
    int TempPeak() const { return FTempPeak; }
    void ClearTempPeak() { FTempPeak = FTempIndex; }
    // Sticky: set by any misuse of the stack or the pool, cleared only here.
    bool Failed() const { return FFaults != 0; }
    void ClearFailure() { FFaults = 0; }
    // ST(i) for inspection; an index beyond the stack gives a NaN scratch
    // register and sets the failure flag.
    TProcessorFloat &Register(int i) { return St(i); }

    // Used by the processor's numbers for their scratch values.
    uint32_t *WorkBuffer() const { return FWorkBuffer.get(); }
    TProcessorFloat *AcquireTemp(int words);
    void ReleaseTempValue(const THugeFloatBase *value);
    THugeFloatBase *AcquireConstant(int value, int words);
    void ReleaseConstantValue(THugeFloatBase *value);
    void Fault() { ++FFaults; }

private:
    static constexpr int ConstantDepth = 32;
    struct SharedConstant {
        std::unique_ptr<TBasicHugeFloat> Value;
        int SavedCounts[ConstantDepth];
        int Depth = 0;
    };

    void CreateRegisters();
    void FreeRegisters();
    TProcessorFloat &St(int i) {
        const unsigned index = static_cast<unsigned>(FTop) + static_cast<unsigned>(i);
        if (static_cast<unsigned>(i) >= RegisterCount || index >= RegisterCount)
            return Invalid();
        return *FRegisters[index];
    }
    TProcessorFloat &Invalid();
    TProcessorFloat &Push();
    // Runs an operation that may take temporaries; when the pool failed
    // during it, the result is NaN.
    template <class Operation> void Guarded(TProcessorFloat &target, Operation operation);

    std::unique_ptr<uint32_t[]> FWorkBuffer;
    std::unique_ptr<TProcessorFloat> FTemps[TempCount];
    std::unique_ptr<TProcessorFloat> FSpareTemp; // handed out when the pool is exhausted
    int FTempIndex = 0;
    int FTempPeak = 0;
    SharedConstant FConstants[3]; // 1, 2, 3
    std::unique_ptr<TProcessorFloat> FRegisterStore[RegisterCount];
    TProcessorFloat *FRegisters[RegisterCount] = {};
    std::unique_ptr<TProcessorFloat> FScratch; // stands for registers beyond the stack
    int FTop = RegisterCount;
    int FDigits;
    unsigned FFaults = 0;
};

// Entry points for generated code: the processor in eax, the argument (a
// number's address, a register index or an integer) in edx; results in eax
// or, for GetExtended, in st(0). They never let an exception escape: a
// failure inside makes the result NaN and sets the processor's failure flag.
#if defined(__i386__)
#define HUGE_REGCALL __attribute__((regparm(2)))
#else
#define HUGE_REGCALL
#endif

extern "C" {
HUGE_REGCALL void THugeProcessor_Reset(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_LoadRegister(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_LoadHuge(THugeProcessor *processor, const THugeFloatBase *value) noexcept;
HUGE_REGCALL void THugeProcessor_LoadInteger(THugeProcessor *processor, int32_t value) noexcept;
HUGE_REGCALL void THugeProcessor_LoadExtended(THugeProcessor *processor, const long double *value) noexcept;
HUGE_REGCALL void THugeProcessor_LoadZero(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_LoadOne(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_StoreRegisterPop(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_StoreHuge(THugeProcessor *processor, THugeFloatBase *value) noexcept;
HUGE_REGCALL void THugeProcessor_StoreHugePop(THugeProcessor *processor, THugeFloatBase *value) noexcept;
HUGE_REGCALL void THugeProcessor_Pop(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Exchange(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL long double THugeProcessor_GetExtended(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Add(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_SubtractRev(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_Multiply(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_Divide(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_AddTo(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_SubtractRevTo(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_MultiplyTo(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_AddPop(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_SubtractPop(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_SubtractRevPop(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_MultiplyPop(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_DividePop(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL void THugeProcessor_DivideRevPop(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL int32_t THugeProcessor_Compare(THugeProcessor *processor, int32_t i) noexcept;
HUGE_REGCALL int32_t THugeProcessor_Test(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Abs(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Negate(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_MultiplyByTwo(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_DivideByTwo(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Square(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Reciprocal(THugeProcessor *processor) noexcept;
HUGE_REGCALL int32_t THugeProcessor_Trunc(THugeProcessor *processor) noexcept;
HUGE_REGCALL int32_t THugeProcessor_Round(THugeProcessor *processor) noexcept;
HUGE_REGCALL int32_t THugeProcessor_Ceil(THugeProcessor *processor) noexcept;
HUGE_REGCALL int32_t THugeProcessor_Floor(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Sqrt(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Sin(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Cos(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_ArcTan(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_ArcSin(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_ArcCos(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Ln(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_Exp(THugeProcessor *processor) noexcept;
HUGE_REGCALL void THugeProcessor_ArcTan2Pop(THugeProcessor *processor) noexcept;
}
