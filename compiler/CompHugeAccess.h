// Processor access for formulas compiled in arbitrary precision: every real operand access is a
// call of a THugeProcessor operation (the processor in eax, the number in edx), and every routine
// that has an arbitrary-precision entry is called instead of copied. A data slot of a real value
// holds one THugeFloat pointer, a complex slot two (real part first).
#pragma once

#include <cstdint>

#include "CompAccess.h"

class THugeAccess : public TProcessorAccess {
public:
    DECLARE_CLASS_NAME(THugeAccess)

    int GetFunctionRoutine(int Function, int ArgumentType, int ResultType) override;
    // The arbitrary-precision table: registers beyond the operands on the emulated stack.
    int GetRoutineStackUse(int Routine) override;
    // mov ecx, routine; mov edx, eax; mov eax, ebp; call ecx. Numbers without an
    // arbitrary-precision entry are copied inline as in the other precisions.
    void EmitRoutine(int Routine) override;

    void LoadComplex(std::int32_t Offset, bool InContext) override;
    void StoreComplex(std::int32_t Offset, bool InContext) override;
    void StoreComplexPop(std::int32_t Offset, bool InContext) override;
    void LoadReal(std::int32_t Offset, bool InContext) override;
    void StoreReal(std::int32_t Offset, bool InContext) override;
    void StoreRealPop(std::int32_t Offset, bool InContext) override;
    void LoadComplexIndexed(std::int32_t Offset) override;
    void StoreComplexIndexed(std::int32_t Offset) override;
    void StoreComplexIndexedPop(std::int32_t Offset) override;
    void LoadRealIndexed(std::int32_t Offset) override;
    void StoreRealIndexed(std::int32_t Offset) override;
    void StoreRealIndexedPop(std::int32_t Offset) override;

    // Assigns Count numbers of the data block from Source to Destination (both edi-relative
    // offsets of pointer slots); nothing when Count < 1.
    void EmitHugeArrayCopy(std::int32_t Destination, std::int32_t Source, std::int32_t Count);

protected:
    int GetOldZRoutine() const override { return 4; }

private:
    // mov ecx, Operation; mov eax, ebp; mov edx, [esi/edi + Offset]; call ecx.
    void EmitCall(const void *Operation, std::int32_t Offset, bool InContext);
    // mov ecx, Operation; mov edx, [edi + eax + Offset]; mov eax, ebp; call ecx.
    void EmitIndexedCall(const void *Operation, std::int32_t Offset);
    // Exchanges ST(0) and ST(1) of the processor.
    void EmitExchange();
};

// Start-up: builds the arbitrary-precision routine table and registers THugeAccess as the access
// of arbitrary precision; the finalization unregisters it.
void InitializeCompHugeAccess();
void FinalizeCompHugeAccess();
