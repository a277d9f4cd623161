#include "CompAssembler.h"

#include <cmath>
#include <cstring>

#include <windows.h>

#include "CompPixelContext.h"
#include "HugeFPU.h"

// The formula control word lives in the template file, where the templates load it from too.
extern "C" const std::uint16_t CompFormulaControlWord;

namespace {

// Registers in the reg field of a ModRM byte; a plain number there extends the opcode.
constexpr std::uint8_t rEax = 0, rEdx = 2, rEbx = 3;

// Length of the loop end up to its closing rel32 (the two opcode bytes of the jne included).
constexpr std::int32_t DoubleLoopEndBody = 149;
constexpr std::int32_t ExtendedLoopEndBody = 173;
constexpr std::int32_t HugeLoopEndBody = 31;

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

void TRoutineAssembler::EmitContextOperand(std::initializer_list<std::uint8_t> Opcode, std::uint8_t Reg,
                                           std::int32_t Offset) {
    EmitBytes(Opcode);
    const std::uint8_t reg = static_cast<std::uint8_t>(Reg << 3);
    if (Offset == 0) {
        EmitByte(0x06 | reg); // [esi]
    } else if (Offset >= -128 && Offset <= 127) {
        EmitByte(0x46 | reg); // [esi + d8]
        EmitByte(static_cast<std::uint8_t>(Offset));
    } else {
        EmitByte(0x86 | reg); // [esi + d32]
        EmitLong(static_cast<std::uint32_t>(Offset));
    }
}

void TRoutineAssembler::EmitEntry() {
    EmitBytes({0x53,         // push ebx
               0x56,         // push esi
               0x55,         // push ebp
               0x89, 0xC6,   // mov esi, eax
               0x89, 0xD5}); // mov ebp, edx
    // The caller's control word is stored before the reset: after fninit only the default word
    // would be left to restore.
    EmitBytes({0x9B, 0x9B});                           // fwait; fstcw (its own fwait first)
    EmitContextOperand({0xD9}, 7, pcSavedControlWord); // [saved control word]
    EmitBytes({0x9B, 0xDB, 0xE3});                     // finit
    EmitBytes({0x9B, 0xD9, 0x2D});                     // fldcw [formula control word]
    EmitLong(Address(&CompFormulaControlWord));
}

void TRoutineAssembler::EmitPushData(std::int32_t Offset) {
    EmitBytes({0x57, 0x8B, 0xBE}); // push edi; mov edi, [esi + Offset] (always d32)
    EmitLong(static_cast<std::uint32_t>(Offset));
}

void TRoutineAssembler::EmitLoopStart() {
    EmitContextOperand({0xFF}, 2, pcInsideInit);  // call [inside coloring INIT]
    EmitContextOperand({0xFF}, 2, pcOutsideInit); // call [outside coloring INIT]
    EmitContextOperand({0x8B}, rEbx, pcMaxIter);  // mov ebx, [maxiter]
}

void TRoutineAssembler::EmitBailoutBranch(std::int32_t Skip) {
    EmitBytes({0x08, 0xC0, 0x0F, 0x84}); // or al, al; je
    EmitLong(static_cast<std::uint32_t>(Skip + RoutineLoopEndSize(Precision)));
}

void TRoutineAssembler::EmitBailoutBranch(TCodeLabel &LoopExit) {
    EmitBytes({0x08, 0xC0}); // or al, al
    EmitJumpTo({0x0F, 0x84}, LoopExit, 4);
}

void TRoutineAssembler::EmitFloatPeriodicityTest(TCodeLabel &StopTest, TCodeLabel &LoopExit) {
    const TContextValueOffsets &values = ContextValueOffsets[Precision];
    // fld qword or fld tbyte
    const std::uint8_t loadOpcode = Precision == 0 ? 0xDD : 0xDB;
    const std::uint8_t loadReg = Precision == 0 ? 0 : 5;
    TCodeLabel saveZ;
    EmitContextOperand({0x3B}, rEbx, pcPeriodicityThreshold); // cmp ebx, [threshold]
    EmitJumpTo({0x0F, 0x83}, StopTest, 4);                    // jae: not tested yet
    EmitContextOperand({0x85}, rEbx, pcPeriodicityMask);      // test [mask], ebx
    EmitJumpTo({0x74}, saveZ, 1);                             // je: save z instead
    for (std::int32_t part = 0; part < 2; ++part) {
        const std::int32_t step = part * values.ImaginaryStep;
        EmitContextOperand({loadOpcode}, loadReg, values.Z + step);
        EmitContextOperand({loadOpcode}, loadReg, values.SavedZ + step);
        EmitBytes({0xDE, 0xE9}); // fsubp st(1)
        if (part == 0)
            EmitContextOperand({0x8B}, rEax, pcTolerance); // mov eax, [tolerance]
        EmitBytes({0xD9, 0xE1,                             // fabs
                   0xD9, 0x5C, 0x24, 0xFC,                 // fstp dword [esp-4]
                   0x39, 0x44, 0x24, 0xFC});               // cmp [esp-4], eax
        EmitJumpTo({0x77}, StopTest, 1);                   // ja: apart
    }
    EmitBytes({0x31, 0xDB}); // xor ebx, ebx: periodic, counts as inside
    EmitJumpTo({0xEB}, LoopExit, 1);
    PlaceLabel(saveZ);
    // z becomes the reference, copied in dwords: two per double, three per 80-bit value.
    for (std::int32_t part = 0; part < 2; ++part) {
        const std::int32_t from = values.Z + part * values.ImaginaryStep;
        const std::int32_t to = values.SavedZ + part * values.ImaginaryStep;
        EmitContextOperand({0x8B}, rEax, from);
        EmitContextOperand({0x8B}, rEdx, from + 4);
        if (Precision == 0) {
            EmitContextOperand({0x89}, rEax, to);
            EmitContextOperand({0x89}, rEdx, to + 4);
        } else {
            EmitContextOperand({0x89}, rEax, to);
            EmitContextOperand({0x8B}, rEax, from + 8);
            EmitContextOperand({0x89}, rEdx, to + 4);
            EmitContextOperand({0x89}, rEax, to + 8);
        }
    }
    EmitContextOperand({0xFF}, 1, pcSavesLeft);       // dec [saves left]
    EmitJumpTo({0x75}, StopTest, 1);                  // jne: the mask stays
    EmitContextOperand({0x8B}, rEax, pcSavesPerStep); // mov eax, [saves per step]
    EmitContextOperand({0xD1}, 4, pcPeriodicityMask); // shl [mask], 1
    EmitContextOperand({0xFF}, 0, pcPeriodicityMask); // inc [mask]
    EmitContextOperand({0x89}, rEax, pcSavesLeft);    // mov [saves left], eax
}

void TRoutineAssembler::EmitHugePeriodicityTest(TCodeLabel &StopTest) {
    EmitContextOperand({0x3B}, rEbx, pcPeriodicityThreshold); // cmp ebx, [threshold]
    EmitJumpTo({0x73}, StopTest, 1);                          // jae: not tested yet
    EmitBytes({0x89, 0xD9,                                    // mov ecx, ebx
               0xBB});                                        // mov ebx, periodicity routine
    EmitLong(Address(reinterpret_cast<const void *>(&HugePeriodicityCheck)));
    EmitBytes({0x89, 0xE8,   // mov eax, ebp
               0x89, 0xF2,   // mov edx, esi
               0xFF, 0xD3,   // call ebx
               0x89, 0xC3}); // mov ebx, eax
}

void TRoutineAssembler::EmitLoopEndBody(TCodeLabel &LoopExit) {
    const std::int32_t start = GetPosition();
    TCodeLabel stopTest;
    if (Precision <= 1)
        EmitFloatPeriodicityTest(stopTest, LoopExit);
    else
        EmitHugePeriodicityTest(stopTest);
    PlaceLabel(stopTest);
    EmitContextOperand({0x80}, 7, pcStopFlag); // cmp byte [stop flag], 0
    EmitByte(0);
    EmitJumpTo({0x75}, LoopExit, 1); // jne: stopped
    EmitByte(0x4B);                  // dec ebx
    // The bailout branch and the callers' distances count on this length.
    if (GetPosition() - start != LoopEndBody(Precision) - 2)
        throw EInternalCompilerError("Loop end length");
}

void TRoutineAssembler::EmitLoopEnd(std::int32_t Size) {
    TCodeLabel loopExit;
    EmitLoopEndBody(loopExit);
    EmitBytes({0x0F, 0x85}); // jne back to the first byte after the loop start
    EmitLong(static_cast<std::uint32_t>(-(Size + RoutineBailoutBranchSize + RoutineLoopEndSize(Precision))));
    PlaceLabel(loopExit);
}

void TRoutineAssembler::EmitLoopEnd(TCodeLabel &LoopTop, TCodeLabel &LoopExit) {
    EmitLoopEndBody(LoopExit);
    EmitJumpTo({0x0F, 0x85}, LoopTop, 4); // jne
    PlaceLabel(LoopExit);
}

void TRoutineAssembler::EmitPopData() {
    EmitByte(0x5F); // pop edi
}

void TRoutineAssembler::EmitLoopExit() {
    TCodeLabel inside, done;
    EmitContextOperand({0x8B}, rEax, pcMaxIter);        // mov eax, [maxiter]
    EmitBytes({0x29, 0xD8});                            // sub eax, ebx
    EmitContextOperand({0x89}, rEax, pcIterationsDone); // mov [iterations done], eax
    EmitBytes({0x09, 0xDB});                            // or ebx, ebx
    EmitJumpTo({0x74}, inside, 1);                      // je: ran down to 0
    EmitContextOperand({0xFF}, 2, pcOutsideFinal);      // call [outside coloring FINAL]
    EmitJumpTo({0xEB}, done, 1);
    PlaceLabel(inside);
    EmitContextOperand({0xFF}, 2, pcInsideFinal); // call [inside coloring FINAL]
    PlaceLabel(done);
}

void TRoutineAssembler::EmitExit() {
    EmitBytes({0x9B, 0xDB, 0xE2});                     // fclex
    EmitBytes({0x9B});                                 // fwait
    EmitContextOperand({0xD9}, 5, pcSavedControlWord); // fldcw [saved control word]
    EmitBytes({0x5D, 0x5E, 0x5B,                       // pop ebp; pop esi; pop ebx
               0xC3});                                 // ret
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
        auto *zReal = Field<THugeFloatBase *>(Context, ContextValueOffsets[2].Z);
        auto *zImaginary = Field<THugeFloatBase *>(Context, ContextValueOffsets[2].Z + 4);
        auto *savedReal = Field<THugeFloatBase *>(Context, ContextValueOffsets[2].SavedZ);
        auto *savedImaginary = Field<THugeFloatBase *>(Context, ContextValueOffsets[2].SavedZ + 4);
        if (!zReal || !zImaginary || !savedReal || !savedImaginary)
            return Counter;
        std::uint32_t &mask = Field<std::uint32_t>(Context, pcPeriodicityMask);
        if ((Counter & mask) == 0) {
            savedReal->Assign(*zReal);
            savedImaginary->Assign(*zImaginary);
            std::int32_t &savesLeft = Field<std::int32_t>(Context, pcSavesLeft);
            if (--savesLeft <= 0) {
                savesLeft = Field<std::int32_t>(Context, pcSavesPerStep);
                mask = mask * 2 + 1;
            }
            return Counter;
        }
        const std::uint32_t tolerance = Field<std::uint32_t>(Context, pcTolerance);
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
    TCodeLabel loopTop, loopExit;
    PlaceLabel(loopTop);
    Emit(Loop.Bytes, Loop.Size);
    Emit(Bailout.Bytes, Bailout.Size);
    EmitBailoutBranch(loopExit);
    Emit(ColoringLoop.Bytes, ColoringLoop.Size);
    Emit(Recording.Bytes, Recording.Size);
    EmitLoopEnd(loopTop, loopExit);
    EmitPopData();
    EmitLoopExit();
    EmitExit();
}
