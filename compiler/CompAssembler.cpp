#include "CompAssembler.h"

#include <cmath>
#include <cstring>

#include <windows.h>

#include "HugeFPU.h"

// The formula control word lives in the template file, where the templates load it from too.
extern "C" const std::uint16_t CompFormulaControlWord;

namespace {

// Pixel context fields the fixed pieces address.
constexpr std::uint32_t ctxMask = 0x04;
constexpr std::uint32_t ctxSavesLeft = 0x08;
constexpr std::uint32_t ctxSavesPerStep = 0x10;
constexpr std::uint32_t ctxTolerance = 0x14;
constexpr std::uint32_t ctxHugeZ = 0xA8;
constexpr std::uint32_t ctxHugeSavedZ = 0xB0;

// Length of the loop end up to its closing rel32, which follows.
constexpr std::int32_t DoubleLoopEndBody = 149;
constexpr std::int32_t ExtendedLoopEndBody = 173;
constexpr std::int32_t HugeLoopEndBody = 31;

// Loop end of double precision up to the closing jne's rel32: periodicity test against the
// reference z at C0h (z itself at B0h), stop-flag test, counter decrement.
constexpr std::uint8_t DoubleLoopEnd[] = {
    0x3B, 0x1E,                               // cmp ebx, [esi]
    0x0F, 0x83, 0x81, 0x00, 0x00, 0x00,       // jae stop test
    0x85, 0x5E, 0x04,                         // test [esi+4], ebx
    0x74, 0x3B,                               // je save z
    0xDD, 0x86, 0xB0, 0x00, 0x00, 0x00,       // fld qword [esi+B0h]
    0xDD, 0x86, 0xC0, 0x00, 0x00, 0x00,       // fld qword [esi+C0h]
    0xDE, 0xE9,                               // fsubp st(1)
    0x8B, 0x46, 0x14,                         // mov eax, [esi+14h]
    0xD9, 0xE1,                               // fabs
    0xD9, 0x5C, 0x24, 0xFC,                   // fstp dword [esp-4]
    0x39, 0x44, 0x24, 0xFC,                   // cmp [esp-4], eax
    0x77, 0x5F,                               // ja stop test
    0xDD, 0x86, 0xB8, 0x00, 0x00, 0x00,       // fld qword [esi+B8h]
    0xDD, 0x86, 0xC8, 0x00, 0x00, 0x00,       // fld qword [esi+C8h]
    0xDE, 0xE9,                               // fsubp st(1)
    0xD9, 0xE1,                               // fabs
    0xD9, 0x5C, 0x24, 0xFC,                   // fstp dword [esp-4]
    0x39, 0x44, 0x24, 0xFC,                   // cmp [esp-4], eax
    0x77, 0x45,                               // ja stop test
    0x31, 0xDB,                               // xor ebx, ebx
    0xEB, 0x51,                               // jmp out of the loop
    0x8B, 0x86, 0xB0, 0x00, 0x00, 0x00,       // mov eax, [esi+B0h]
    0x8B, 0x96, 0xB4, 0x00, 0x00, 0x00,       // mov edx, [esi+B4h]
    0x89, 0x86, 0xC0, 0x00, 0x00, 0x00,       // mov [esi+C0h], eax
    0x89, 0x96, 0xC4, 0x00, 0x00, 0x00,       // mov [esi+C4h], edx
    0x8B, 0x86, 0xB8, 0x00, 0x00, 0x00,       // mov eax, [esi+B8h]
    0x8B, 0x96, 0xBC, 0x00, 0x00, 0x00,       // mov edx, [esi+BCh]
    0x89, 0x86, 0xC8, 0x00, 0x00, 0x00,       // mov [esi+C8h], eax
    0x89, 0x96, 0xCC, 0x00, 0x00, 0x00,       // mov [esi+CCh], edx
    0xFF, 0x4E, 0x08,                         // dec dword [esi+8]
    0x75, 0x0C,                               // jne stop test
    0x8B, 0x46, 0x10,                         // mov eax, [esi+10h]
    0xD1, 0x66, 0x04,                         // shl dword [esi+4], 1
    0xFF, 0x46, 0x04,                         // inc dword [esi+4]
    0x89, 0x46, 0x08,                         // mov [esi+8], eax
    0x80, 0xBE, 0x98, 0x00, 0x00, 0x00, 0x00, // cmp byte [esi+98h], 0
    0x75, 0x07,                               // jne out of the loop
    0x4B,                                     // dec ebx
    0x0F, 0x85                                // jne (rel32 follows)
};
static_assert(sizeof(DoubleLoopEnd) == DoubleLoopEndBody);

// The same for 80-bit values: z at C0h/D0h, the reference at E0h/F0h, 10 bytes each copied as 12.
constexpr std::uint8_t ExtendedLoopEnd[] = {
    0x3B, 0x1E,                               // cmp ebx, [esi]
    0x0F, 0x83, 0x99, 0x00, 0x00, 0x00,       // jae stop test
    0x85, 0x5E, 0x04,                         // test [esi+4], ebx
    0x74, 0x3B,                               // je save z
    0xDB, 0xAE, 0xC0, 0x00, 0x00, 0x00,       // fld tbyte [esi+C0h]
    0xDB, 0xAE, 0xE0, 0x00, 0x00, 0x00,       // fld tbyte [esi+E0h]
    0xDE, 0xE9,                               // fsubp st(1)
    0x8B, 0x46, 0x14,                         // mov eax, [esi+14h]
    0xD9, 0xE1,                               // fabs
    0xD9, 0x5C, 0x24, 0xFC,                   // fstp dword [esp-4]
    0x39, 0x44, 0x24, 0xFC,                   // cmp [esp-4], eax
    0x77, 0x77,                               // ja stop test
    0xDB, 0xAE, 0xD0, 0x00, 0x00, 0x00,       // fld tbyte [esi+D0h]
    0xDB, 0xAE, 0xF0, 0x00, 0x00, 0x00,       // fld tbyte [esi+F0h]
    0xDE, 0xE9,                               // fsubp st(1)
    0xD9, 0xE1,                               // fabs
    0xD9, 0x5C, 0x24, 0xFC,                   // fstp dword [esp-4]
    0x39, 0x44, 0x24, 0xFC,                   // cmp [esp-4], eax
    0x77, 0x5D,                               // ja stop test
    0x31, 0xDB,                               // xor ebx, ebx
    0xEB, 0x69,                               // jmp out of the loop
    0x8B, 0x86, 0xC0, 0x00, 0x00, 0x00,       // mov eax, [esi+C0h]
    0x8B, 0x96, 0xC4, 0x00, 0x00, 0x00,       // mov edx, [esi+C4h]
    0x89, 0x86, 0xE0, 0x00, 0x00, 0x00,       // mov [esi+E0h], eax
    0x8B, 0x86, 0xC8, 0x00, 0x00, 0x00,       // mov eax, [esi+C8h]
    0x89, 0x96, 0xE4, 0x00, 0x00, 0x00,       // mov [esi+E4h], edx
    0x89, 0x86, 0xE8, 0x00, 0x00, 0x00,       // mov [esi+E8h], eax
    0x8B, 0x86, 0xD0, 0x00, 0x00, 0x00,       // mov eax, [esi+D0h]
    0x8B, 0x96, 0xD4, 0x00, 0x00, 0x00,       // mov edx, [esi+D4h]
    0x89, 0x86, 0xF0, 0x00, 0x00, 0x00,       // mov [esi+F0h], eax
    0x8B, 0x86, 0xD8, 0x00, 0x00, 0x00,       // mov eax, [esi+D8h]
    0x89, 0x96, 0xF4, 0x00, 0x00, 0x00,       // mov [esi+F4h], edx
    0x89, 0x86, 0xF8, 0x00, 0x00, 0x00,       // mov [esi+F8h], eax
    0xFF, 0x4E, 0x08,                         // dec dword [esi+8]
    0x75, 0x0C,                               // jne stop test
    0x8B, 0x46, 0x10,                         // mov eax, [esi+10h]
    0xD1, 0x66, 0x04,                         // shl dword [esi+4], 1
    0xFF, 0x46, 0x04,                         // inc dword [esi+4]
    0x89, 0x46, 0x08,                         // mov [esi+8], eax
    0x80, 0xBE, 0x98, 0x00, 0x00, 0x00, 0x00, // cmp byte [esi+98h], 0
    0x75, 0x07,                               // jne out of the loop
    0x4B,                                     // dec ebx
    0x0F, 0x85                                // jne (rel32 follows)
};
static_assert(sizeof(ExtendedLoopEnd) == ExtendedLoopEndBody);

std::int32_t LoopEndBody(std::uint8_t Precision) {
    switch (Precision) {
    case 0:
        return DoubleLoopEndBody;
    case 1:
        return ExtendedLoopEndBody;
    default:
        return HugeLoopEndBody;
    }
}

std::uint32_t Address(const void *Pointer) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Pointer));
}

template <class T> T &Field(void *Context, std::uint32_t Offset) {
    return *reinterpret_cast<T *>(static_cast<std::uint8_t *>(Context) + Offset);
}

std::uint32_t FloatBits(float Value) {
    std::uint32_t bits;
    std::memcpy(&bits, &Value, sizeof bits);
    return bits;
}

// |a - b| on the processor, rounded to a 32-bit float, within the tolerance bits? The compare
// is on bit patterns as in the other precisions; a NaN difference never matches.
bool WithinTolerance(THugeProcessor &Processor, const THugeFloatBase &A, const THugeFloatBase &B,
                     std::uint32_t Tolerance) {
    Processor.LoadHuge(A);
    Processor.LoadHuge(B);
    Processor.SubtractPop(1);
    Processor.Abs();
    const long double difference = Processor.GetExtended();
    Processor.Pop();
    return FloatBits(static_cast<float>(difference)) <= Tolerance;
}

} // namespace

ECodeMemoryError::ECodeMemoryError(std::uint32_t ErrorCode)
    : Exception("System Error.  Code: %d.\n%s", static_cast<int>(ErrorCode), SysErrorMessage(ErrorCode)),
      FErrorCode(ErrorCode) {}

std::int32_t RoutineLoopEndSize(std::uint8_t Precision) {
    return LoopEndBody(Precision) + 4;
}

// ---------------------------------------------------------------------------------------------
// TRoutineAssembler

TRoutineAssembler::~TRoutineAssembler() {
    // The base destructor would free through its own FreeCode, not the executable release here.
    try {
        ReleaseCode();
    } catch (...) {
        // A destructor cannot report; memory that the system refuses to release stays reserved.
    }
}

void *TRoutineAssembler::AllocCode(std::int32_t Size) {
    void *buffer = VirtualAlloc(nullptr, static_cast<SIZE_T>(Size), MEM_COMMIT, PAGE_EXECUTE_READWRITE);
    if (!buffer)
        throw EOutOfMemory("Out of memory");
    return buffer;
}

void TRoutineAssembler::FreeCode(void *Buffer) {
    if (Buffer && !VirtualFree(Buffer, 0, MEM_RELEASE))
        throw ECodeMemoryError(GetLastError());
}

void TRoutineAssembler::Execute(void *Context, void *Data) const {
    if (GetSize() <= 0 || !GetCode())
        return;
    using TRoutineCode = void(__attribute__((regparm(2))) *)(void *, void *);
    reinterpret_cast<TRoutineCode>(GetCode())(Context, Data);
}

void TRoutineAssembler::EmitEntry() {
    EmitBytes({0x53,         // push ebx
               0x56,         // push esi
               0x55,         // push ebp
               0x89, 0xC6,   // mov esi, eax
               0x89, 0xD5}); // mov ebp, edx
    // The caller's control word is stored before the reset: after fninit only the default word
    // would be left to restore.
    EmitBytes({0x9B, 0x9B, 0xD9, 0xBE, 0x94, 0x00, 0x00, 0x00}); // fwait; fstcw [esi+94h]
    EmitBytes({0x9B, 0xDB, 0xE3});                               // finit
    EmitBytes({0x9B, 0xD9, 0x2D});                               // fldcw [formula control word]
    EmitLong(Address(&CompFormulaControlWord));
}

void TRoutineAssembler::EmitPushData(std::int32_t Offset) {
    EmitBytes({0x57, 0x8B, 0xBE}); // push edi; mov edi, [esi + Offset]
    EmitLong(static_cast<std::uint32_t>(Offset));
}

void TRoutineAssembler::EmitLoopStart() {
    EmitBytes({0xFF, 0x56, 0x3C,   // call [esi+3Ch]: inside coloring INIT
               0xFF, 0x56, 0x48,   // call [esi+48h]: outside coloring INIT
               0x8B, 0x5E, 0x34}); // mov ebx, [esi+34h]: maxiter
}

void TRoutineAssembler::EmitBailoutBranch(std::int32_t Skip) {
    EmitBytes({0x08, 0xC0, 0x0F, 0x84}); // or al, al; je
    EmitLong(static_cast<std::uint32_t>(Skip + RoutineLoopEndSize(Precision)));
}

void TRoutineAssembler::EmitLoopEnd(std::int32_t Size) {
    switch (Precision) {
    case 0:
        Emit(DoubleLoopEnd, DoubleLoopEndBody);
        break;
    case 1:
        Emit(ExtendedLoopEnd, ExtendedLoopEndBody);
        break;
    default:
        EmitBytes({0x3B, 0x1E, // cmp ebx, [esi]
                   0x73, 0x0F, // jae stop test
                   0x89, 0xD9, // mov ecx, ebx
                   0xBB});     // mov ebx, periodicity routine
        EmitLong(Address(reinterpret_cast<const void *>(&HugePeriodicityCheck)));
        EmitBytes({0x89, 0xE8,                               // mov eax, ebp
                   0x89, 0xF2,                               // mov edx, esi
                   0xFF, 0xD3,                               // call ebx
                   0x89, 0xC3,                               // mov ebx, eax
                   0x80, 0xBE, 0x98, 0x00, 0x00, 0x00, 0x00, // cmp byte [esi+98h], 0
                   0x75, 0x07,                               // jne out of the loop
                   0x4B,                                     // dec ebx
                   0x0F, 0x85});                             // jne
        break;
    }
    EmitLong(static_cast<std::uint32_t>(-(Size + RoutineBailoutBranchSize + RoutineLoopEndSize(Precision))));
}

void TRoutineAssembler::EmitPopData() {
    EmitByte(0x5F); // pop edi
}

void TRoutineAssembler::EmitLoopExit() {
    EmitBytes({0x8B, 0x46, 0x34,   // mov eax, [esi+34h]
               0x29, 0xD8,         // sub eax, ebx
               0x89, 0x46, 0x38,   // mov [esi+38h], eax: iterations done
               0x09, 0xDB,         // or ebx, ebx
               0x74, 0x05,         // je inside
               0xFF, 0x56, 0x50,   // call [esi+50h]: outside coloring FINAL
               0xEB, 0x03,         // jmp over
               0xFF, 0x56, 0x44}); // call [esi+44h]: inside coloring FINAL
}

void TRoutineAssembler::EmitExit() {
    EmitBytes({0x9B, 0xDB, 0xE2,                         // fclex
               0x9B, 0xD9, 0xAE, 0x94, 0x00, 0x00, 0x00, // fldcw [esi+94h]
               0x5D, 0x5E, 0x5B,                         // pop ebp; pop esi; pop ebx
               0xC3});                                   // ret
    FlushCode();
}

void TRoutineAssembler::EmitReturn() {
    EmitByte(0xC3);
    FlushCode();
}

// ---------------------------------------------------------------------------------------------
// Periodicity test of arbitrary precision

std::uint32_t HugePeriodicityCheck(void *Processor, void *Context, std::uint32_t Counter) noexcept {
    if (!Processor || !Context)
        return Counter;
    try {
        auto &processor = *static_cast<THugeProcessor *>(Processor);
        auto *zReal = Field<THugeFloatBase *>(Context, ctxHugeZ);
        auto *zImaginary = Field<THugeFloatBase *>(Context, ctxHugeZ + 4);
        auto *savedReal = Field<THugeFloatBase *>(Context, ctxHugeSavedZ);
        auto *savedImaginary = Field<THugeFloatBase *>(Context, ctxHugeSavedZ + 4);
        if (!zReal || !zImaginary || !savedReal || !savedImaginary)
            return Counter;
        std::uint32_t &mask = Field<std::uint32_t>(Context, ctxMask);
        if ((Counter & mask) == 0) {
            savedReal->Assign(*zReal);
            savedImaginary->Assign(*zImaginary);
            std::int32_t &savesLeft = Field<std::int32_t>(Context, ctxSavesLeft);
            if (--savesLeft <= 0) {
                savesLeft = Field<std::int32_t>(Context, ctxSavesPerStep);
                mask = mask * 2 + 1;
            }
            return Counter;
        }
        const std::uint32_t tolerance = Field<std::uint32_t>(Context, ctxTolerance);
        if (!WithinTolerance(processor, *zReal, *savedReal, tolerance))
            return Counter;
        if (!WithinTolerance(processor, *zImaginary, *savedImaginary, tolerance))
            return Counter;
        return 1;
    } catch (...) {
        // Nothing may unwind into generated code; the pixel simply goes on iterating.
        return Counter;
    }
}

void TRoutineAssembler::AssemblePixelRoutine(std::uint8_t APrecision, std::int32_t DataOffset,
                                             TCodePiece Init, TCodePiece Loop, TCodePiece Bailout,
                                             TCodePiece ColoringLoop, TCodePiece Recording) {
    Clear();
    Precision = APrecision;
    EmitEntry();
    EmitPushData(DataOffset);
    Emit(Init.Bytes, Init.Size);
    Emit(Recording.Bytes, Recording.Size);
    EmitLoopStart();
    Emit(Loop.Bytes, Loop.Size);
    Emit(Bailout.Bytes, Bailout.Size);
    const std::int32_t skip = ColoringLoop.Size + Recording.Size;
    EmitBailoutBranch(skip);
    Emit(ColoringLoop.Bytes, ColoringLoop.Size);
    Emit(Recording.Bytes, Recording.Size);
    EmitLoopEnd(Loop.Size + Bailout.Size + skip);
    EmitPopData();
    EmitLoopExit();
    EmitExit();
}
