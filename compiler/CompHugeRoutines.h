// The routine library of formulas compiled in arbitrary precision. It has the routine numbers of
// the x87 library (CompRoutines) and computes the same results, but on the registers of the
// calculation thread's THugeProcessor, an emulated eight-register stack with the x87 layout: a
// float takes one register, a complex value two with the real part in ST(0), the left operand of
// a binary routine is on top unless the routine is a reversed variant.
//
// Calling convention (the call sequence comes from THugeAccess::EmitRoutine): the processor in
// eax, the generated code's previous eax (an int, a bool or an index) in edx; esi, edi and ebp
// are kept and available; an int or bool result comes back in eax. Routines that consume or
// produce a colour on the CPU stack move their own return address so that the colour operands
// end exactly where the x87 template of the same number leaves them.
//
// Numbers without an entry here (int, bool and most colour routines, the print routines of ints,
// bools, colours and strings, the run-time error report, the block copies) are copied inline as
// x87 templates: they do not touch real operands.
#pragma once

#include <cstdint>

// Entry address of arbitrary-precision routine Routine; nullptr when there is none.
const void *HugeRoutineAddress(int Routine);
// Processor registers the routine needs beyond its operands; 0 for numbers without an entry.
int HugeRoutineStackUse(int Routine);

// Registers the arbitrary-precision processor access with the compiler back end.
void InitializeCompHugeRoutines();
void FinalizeCompHugeRoutines();
