// The routines that calculation threads call: a code buffer in executable memory plus the fixed
// pieces (entry and exit, data pointer, iteration loop with its periodicity test, loop exit) that
// are wrapped around the code the generator produced for each formula section.
//
// Calling interface of an assembled routine: the pixel context in eax, a second argument in edx
// (the calling thread's THugeProcessor in arbitrary precision, unused otherwise); it returns
// nothing and keeps ebx, esi, edi and ebp. Inside, esi holds the context, ebp the second
// argument, edi the running formula part's data block and ebx the remaining iteration count.
#pragma once

#include <cstdint>
#include <vector>

#include "CompAccess.h"
#include "SysUtils.h"

// Raised when executable memory cannot be released; carries the system's error code and text.
class ECodeMemoryError : public Exception {
public:
    explicit ECodeMemoryError(std::uint32_t ErrorCode);
    DECLARE_CLASS_NAME(ECodeMemoryError)
    std::uint32_t ErrorCode() const { return FErrorCode; }

private:
    std::uint32_t FErrorCode;
};

// Byte lengths of the fixed pieces; jump distances of the generated loop are computed from them.
constexpr std::int32_t RoutineEntrySize = 25;
constexpr std::int32_t RoutinePushDataSize = 7;
constexpr std::int32_t RoutineLoopStartSize = 9;
constexpr std::int32_t RoutineBailoutBranchSize = 8;
constexpr std::int32_t RoutinePopDataSize = 1;
constexpr std::int32_t RoutineLoopExitSize = 20;
constexpr std::int32_t RoutineExitSize = 14;
constexpr std::int32_t RoutineReturnSize = 1;
// Loop end with its closing rel32, by precision (0 double, 1 extended, 2 arbitrary).
std::int32_t RoutineLoopEndSize(std::uint8_t Precision);

// A piece of generated code to join into a routine: Size bytes at Bytes.
struct TCodePiece {
    const std::uint8_t *Bytes = nullptr;
    std::int32_t Size = 0;

    TCodePiece() = default;
    TCodePiece(const std::uint8_t *ABytes, std::int32_t ASize) : Bytes(ABytes), Size(ASize) {}
    TCodePiece(const std::vector<std::uint8_t> &Code)
        : Bytes(Code.data()), Size(static_cast<std::int32_t>(Code.size())) {}
    TCodePiece(const TCodeAssembler &Code) : Bytes(Code.GetCode()), Size(Code.GetSize()) {}
};

class TRoutineAssembler : public TCodeAssembler {
public:
    TRoutineAssembler() = default;
    ~TRoutineAssembler() override;
    DECLARE_CLASS_NAME(TRoutineAssembler)

    // 0 double, 1 extended, 2 arbitrary precision; set before assembling. Selects the loop-end
    // template and the jump distances.
    std::uint8_t Precision = 0;

    // Runs the routine with Context in eax and Data in edx; an empty routine (Size 0) is not
    // called. The code must be complete and flushed (EmitExit and EmitReturn flush).
    void Execute(void *Context, void *Data) const;

    // Saves ebx, esi, ebp, takes the context into esi and Data into ebp, saves the caller's FPU
    // control word into the context, resets the FPU and loads the formula control word.
    void EmitEntry();
    // push edi; mov edi, [esi + Offset]: the data block of the formula part.
    void EmitPushData(std::int32_t Offset);
    // Calls the inside and outside coloring INIT code and loads maxiter as the counter.
    void EmitLoopStart();
    // Leaves the loop when al is 0, jumping over Skip bytes of coloring loop code and the loop end.
    void EmitBailoutBranch(std::int32_t Skip);
    // The same, to LoopExit.
    void EmitBailoutBranch(TCodeLabel &LoopExit);
    // Periodicity test, stop-flag test and counter decrement of the precision, jumping back over
    // Size bytes (the loop's code without the bailout branch) to the first byte after the loop
    // start.
    void EmitLoopEnd(std::int32_t Size);
    // The same, jumping back to LoopTop; places LoopExit right after the loop end, where the
    // bailout branch, a periodic z and the stop flag leave the loop.
    void EmitLoopEnd(TCodeLabel &LoopTop, TCodeLabel &LoopExit);
    void EmitPopData();
    // Stores the iterations done and calls the inside FINAL code when the counter ran down to 0
    // (maxiter or periodicity), else the outside FINAL code.
    void EmitLoopExit();
    // Clears FPU exceptions, restores the caller's control word and registers, returns; then
    // makes the code visible to instruction fetch.
    void EmitExit();
    // A bare return, for code blocks called from within a pixel routine; flushes like EmitExit.
    void EmitReturn();

    // The pixel routine of a fractal formula, from the start: entry, the data pointer of
    // DataOffset, INIT, the orbit recording code, loop start, LOOP and BAILOUT (leaving the bailout
    // result in al), the bailout branch over the coloring loop code and the recording code once
    // more, those two, the loop end, data release, loop exit and exit.
    void AssemblePixelRoutine(std::uint8_t APrecision, std::int32_t DataOffset, TCodePiece Init,
                              TCodePiece Loop, TCodePiece Bailout, TCodePiece ColoringLoop = {},
                              TCodePiece Recording = {});

protected:
    // Opcode bytes, then Reg (a register or an opcode extension) with [esi + Offset] in the
    // shortest form: no displacement for 0, 8 bits where they reach, else 32.
    void EmitContextOperand(std::initializer_list<std::uint8_t> Opcode, std::uint8_t Reg,
                            std::int32_t Offset);
    // Committed memory with read, write and execute rights; EOutOfMemory when there is none.
    void *AllocCode(std::int32_t Size) override;
    // Raises ECodeMemoryError when the memory cannot be released.
    void FreeCode(void *Buffer) override;

private:
    void EmitLoopEndBody(TCodeLabel &LoopExit);
    void EmitFloatPeriodicityTest(TCodeLabel &StopTest, TCodeLabel &LoopExit);
    void EmitHugePeriodicityTest(TCodeLabel &StopTest);
};

// The periodicity test that the arbitrary-precision loop end calls with the processor in eax, the
// context in edx and the counter in ecx; returns the new counter (1 when z is periodic, so that
// the following decrement ends the loop with 0).
extern "C" __attribute__((regparm(3))) std::uint32_t HugePeriodicityCheck(void *Processor, void *Context,
                                                                          std::uint32_t Counter) noexcept
    __asm__("CompHugePeriodicityCheck");
