#include "CompHugeAccess.h"

#include <cstdint>

#include "CompHugeRoutines.h"
#include "HugeFPU.h"

namespace {

std::uint32_t AddressOf(const void *Pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Pointer));
}

template <class Function> const void *Entry(Function *F) {
    return reinterpret_cast<const void *>(F);
}

// ModRM.reg of edx.
constexpr std::uint8_t rEdx = 2;

} // namespace

int THugeAccess::GetFunctionRoutine(int Function, int ArgumentType, int ResultType) {
    return TProcessorAccess::GetFunctionRoutine(Function, ArgumentType, ResultType);
}

int THugeAccess::GetRoutineStackUse(int Routine) {
    return HugeRoutineStackUse(Routine);
}

void THugeAccess::EmitRoutine(int Routine) {
    const void *address = HugeRoutineAddress(Routine);
    if (!address) {
        TProcessorAccess::EmitRoutine(Routine);
        return;
    }
    EmitByte(0xB9);
    EmitLong(AddressOf(address));
    EmitBytes({0x89, 0xC2, 0x89, 0xE8, 0xFF, 0xD1});
}

void THugeAccess::EmitCall(const void *Operation, std::int32_t Offset, bool InContext) {
    EmitByte(0xB9);
    EmitLong(AddressOf(Operation));
    EmitBytes({0x89, 0xE8});
    EmitOperand(0x8B, rEdx, Offset, InContext);
    EmitBytes({0xFF, 0xD1});
}

void THugeAccess::EmitIndexedCall(const void *Operation, std::int32_t Offset) {
    EmitByte(0xB9);
    EmitLong(AddressOf(Operation));
    // The element's pointer is read before eax (the element offset) is overwritten.
    EmitIndexed(0x8B, rEdx, Offset);
    EmitBytes({0x89, 0xE8, 0xFF, 0xD1});
}

void THugeAccess::EmitExchange() {
    EmitByte(0xB9);
    EmitLong(AddressOf(Entry(&THugeProcessor_Exchange)));
    EmitBytes({0x89, 0xE8, 0xBA, 0x01, 0x00, 0x00, 0x00, 0xFF, 0xD1});
}

void THugeAccess::LoadReal(std::int32_t Offset, bool InContext) {
    EmitCall(Entry(&THugeProcessor_LoadHuge), Offset, InContext);
}

void THugeAccess::StoreReal(std::int32_t Offset, bool InContext) {
    EmitCall(Entry(&THugeProcessor_StoreHuge), Offset, InContext);
}

void THugeAccess::StoreRealPop(std::int32_t Offset, bool InContext) {
    EmitCall(Entry(&THugeProcessor_StoreHugePop), Offset, InContext);
}

void THugeAccess::LoadRealIndexed(std::int32_t Offset) {
    EmitIndexedCall(Entry(&THugeProcessor_LoadHuge), Offset);
}

void THugeAccess::StoreRealIndexed(std::int32_t Offset) {
    EmitIndexedCall(Entry(&THugeProcessor_StoreHuge), Offset);
}

void THugeAccess::StoreRealIndexedPop(std::int32_t Offset) {
    EmitIndexedCall(Entry(&THugeProcessor_StoreHugePop), Offset);
}

void THugeAccess::LoadComplex(std::int32_t Offset, bool InContext) {
    LoadReal(Offset + 4, InContext);
    LoadReal(Offset, InContext);
}

void THugeAccess::StoreComplex(std::int32_t Offset, bool InContext) {
    StoreReal(Offset, InContext);
    EmitExchange();
    StoreReal(Offset + 4, InContext);
    EmitExchange();
}

void THugeAccess::StoreComplexPop(std::int32_t Offset, bool InContext) {
    StoreRealPop(Offset, InContext);
    StoreRealPop(Offset + 4, InContext);
}

// The calls clobber eax, which holds the element offset: it is saved around the first one.
void THugeAccess::LoadComplexIndexed(std::int32_t Offset) {
    EmitByte(0x50);
    LoadRealIndexed(Offset + 4);
    EmitByte(0x58);
    LoadRealIndexed(Offset);
}

void THugeAccess::StoreComplexIndexed(std::int32_t Offset) {
    EmitByte(0x50);
    StoreRealIndexed(Offset);
    EmitExchange();
    EmitByte(0x58);
    StoreRealIndexed(Offset + 4);
    EmitExchange();
}

void THugeAccess::StoreComplexIndexedPop(std::int32_t Offset) {
    EmitByte(0x50);
    StoreRealIndexedPop(Offset);
    EmitByte(0x58);
    StoreRealIndexedPop(Offset + 4);
}

void THugeAccess::EmitHugeArrayCopy(std::int32_t Destination, std::int32_t Source, std::int32_t Count) {
    if (Count < 1)
        return;
    EmitBytes({0x53, 0xBB});
    EmitLong(AddressOf(HugeRoutineAddress(9)));
    EmitByte(0xB8);
    EmitLong(static_cast<std::uint32_t>(Destination));
    EmitByte(0xBA);
    EmitLong(static_cast<std::uint32_t>(Source));
    EmitByte(0xB9);
    EmitLong(static_cast<std::uint32_t>(Count));
    EmitBytes({0xFF, 0xD3, 0x5B});
}

void InitializeCompHugeAccess() {
    InitializeCompHugeRoutines();
    RegisterHugeAccessFactory(
        []() -> std::unique_ptr<TProcessorAccess> { return std::make_unique<THugeAccess>(); });
}

void FinalizeCompHugeAccess() {
    RegisterHugeAccessFactory(nullptr);
    FinalizeCompHugeRoutines();
}
