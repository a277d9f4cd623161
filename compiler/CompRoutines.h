// The instruction set of compiled formulas: numbered routines 1 to 197, each a short template of
// 32-bit x86/x87 code (compiler/CompRoutines.S, colour routines in CompColorRoutines.S) that the
// code generator copies inline. Also the numeric constants the templates read, the floating-point
// control words, the print and run-time error helpers that templates call, and the two functions
// that switch the FPU into the formula mode and back.
//
// Operand conventions: floats in x87 registers, complex values in two with the real part in ST(0);
// the left operand of a binary routine is on top unless the routine is a reversed variant; ints in
// eax (left) and edx (right), result in eax; bools in al and dl, result in al; colours as four
// 32-bit floats on the CPU stack, the left at [esp] and the right at [esp+16]. Templates keep ebx,
// esi, edi and ebp; eax, ecx, edx and the 12 bytes below esp are scratch.
#pragma once

#include <cstdint>
#include <string>

#include "CompDefinitions.h"
#include "CompPixelContext.h"
#include "SysUtils.h"

constexpr int FirstRoutine = 1;
constexpr int LastRoutine = 197;

// Start of a routine's template; nullptr for numbers outside the table and for 4 and 9 (which
// exist in arbitrary precision only).
const std::uint8_t *RoutineAddress(int Routine);
// Bytes the generator copies; 0 where RoutineAddress is nullptr.
int RoutineLength(int Routine);
// x87 registers the routine needs beyond its operands; 0 outside the table.
int RoutineStackUse(int Routine);

// Formula mode: all FPU exceptions masked, 64-bit mantissa, round to nearest.
constexpr std::uint16_t FormulaControlWord = 0x137F;
// As the formula mode, rounding toward zero.
constexpr std::uint16_t TruncationControlWord = 0x1F7F;

// Saves the current control word into Saved and loads the formula control word.
void SetFormulaFPUControl(std::uint16_t &Saved);
// Clears pending FPU exceptions and loads Saved.
void RestoreFPUControl(std::uint16_t Saved);

// Frees a print line a context may still hold (a PRINT cut short by an exception).
void DonePrintLine(void *Context);
// Appends Text to the print line of the pixel context, which is made on first use.
void AppendPrintLine(void *Context, const std::string &Text);

// What the print and run-time error helpers need from the compiled formula object whose address
// generated code passes them. The compiler installs this once; without it, PRINT strings print as
// empty texts and output carries no entry or file name.
struct TRoutineFormulaInfo {
    // Entry Index of the formula's list of PRINT strings.
    std::string (*GetPrintString)(const TObject *Formula, int Index) = nullptr;
    void (*GetNames)(const TObject *Formula, std::string &EntryName, std::string &FileName) = nullptr;
};
void SetRoutineFormulaInfo(const TRoutineFormulaInfo &Info);

// The gradient lookup of routines 169 and 170: the colour (red, green, blue, alpha) at Position
// of the coloring mapper Mapper. Installed by the coloring module; without it the colour is
// transparent black.
using TGradientColorFunction = void (*)(void *Mapper, float Position, float *Color);
void SetGradientColorFunction(TGradientColorFunction Function);

// Posts the text of run-time error Code (1 "Array index out of bounds.", 2 "Arrays are not
// compatible.") for Formula at Position (line * 65536 + column) unless the context's stop flag is
// set. Called by routine 17 with the context in eax, the formula in edx, the code in ecx and the
// position on the stack.
extern "C" __attribute__((regparm(3), stdcall)) void
ReportRuntimeError(void *Context, const TObject *Formula, std::int32_t Code, std::int32_t Position) noexcept
    __asm__("CompReportRuntimeError");

// Fills the 80-bit constants from the FPU and runs routine 1 once.
void InitializeCompRoutines();
void FinalizeCompRoutines();
