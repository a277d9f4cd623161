// The iteration loops of the built-in Mandelbrot and Julia formulas, one pixel per call, in double,
// extended and arbitrary precision. They keep the protocol of a compiled pixel routine: the
// context in esi and the second argument in ebp while coloring code runs, coloring INIT before
// the loop, LOOP code and the orbit store per round, FINAL code at the end, iterations done.
//
// C++ calls them with regparm(3): eax the context, edx the kind (0 Mandelbrot, 1 Julia), ecx the
// second argument (the thread's THugeProcessor in arbitrary precision). Code reached through the
// context may change eax, ecx, edx and every FPU register; it keeps ebx, esi, edi and ebp, so the
// remaining count lives in ebx and z is parked on the CPU stack around such calls.
//
// Counting (double and extended): Mandelbrot takes its first step before the loop (z1 from
// start squared plus c) and never tests z1; Julia starts from the pixel. The loop takes at most
// maxiter - 1 steps and reports the number of steps taken up to the escaping one; a pixel that
// never escapes reports maxiter. Without coloring loop code and orbit the last step is not tested.
// Arbitrary precision tests z before each step, the starting z included.

#include "CompPixelContext.h"
#include "FracBuiltinData.h"
#include "FracBuiltinStep.inc"

    .intel_syntax noprefix

    .section .rodata
    .p2align 2
BuiltinControlWord:
    .word 0x137F

    .text

// Frame of the double and extended loops, below the four saved registers.
#define F_MAXITER 0  // maxiter, at least 1
#define F_TEMP 4     // a single-precision difference of the periodicity test
#define F_KIND 8
#define F_ZRE 16     // 80-bit parking places: z and c around coloring calls; the saved z
#define F_ZIM 28     // of the periodicity test; the start of a block of the fast loop
#define F_CRE 40
#define F_CIM 52
#define F_SIZE 64

// Calls the code at [esi + offset] when the cell is not nil.
    .macro CALL_IF_SET offset
    mov eax, [esi+\offset]
    test eax, eax
    jz 9f
    call eax
9:
    .endm

// Value access in the precision being assembled (EXT 0 double, 1 extended).
    .macro LOADV mem
    .if EXT
    fld tbyte ptr \mem
    .else
    fld qword ptr \mem
    .endif
    .endm

    .macro STOREV mem
    .if EXT
    fstp tbyte ptr \mem
    .else
    fstp qword ptr \mem
    .endif
    .endm

// The state's z into Z, then every register emptied.
    .macro STORE_Z_AND_CLEAR zoff, stepim
    fstp st(0)
    fstp st(0)
    STOREV [esi+\zoff]
    STOREV [esi+\zoff+\stepim]
    fstp st(0)
    fstp st(0)
    .endm

// The state parked on the CPU stack (registers empty) and brought back.
    .macro PARK
    fstp st(0)
    fstp st(0)
    fstp tbyte ptr [esp+F_ZRE]
    fstp tbyte ptr [esp+F_ZIM]
    fstp tbyte ptr [esp+F_CRE]
    fstp tbyte ptr [esp+F_CIM]
    .endm

    .macro UNPARK
    fld tbyte ptr [esp+F_CIM]
    fld tbyte ptr [esp+F_CRE]
    fld tbyte ptr [esp+F_ZIM]
    fld tbyte ptr [esp+F_ZRE]
    SQUARES
    .endm

// Flags of the unsigned compare of |part - saved part| as a single-precision float with the
// tolerance ("ja" when apart); part is the register of z's part in the state.
    .macro COMPARE_WITH_SAVED part, saved
    fld st(\part)
    fld tbyte ptr [esp+\saved]
    fsub st(0), st(1)
    fstp st(1)
    fabs
    fstp dword ptr [esp+F_TEMP]
    mov eax, [esp+F_TEMP]
    cmp eax, [esi+PC_TOLERANCE]
    .endm

// The whole loop of one precision.
    .macro BUILTIN_LOOP name, zoff, poff, stepim, sqoff
    .globl \name
\name:
    push ebx
    push esi
    push edi
    push ebp
    sub esp, F_SIZE
    mov esi, eax
    mov ebp, ecx
    mov [esp+F_KIND], edx
    mov edi, [esi+PC_FORMULA_DATA]
    fwait
    fnstcw [esi+PC_SAVED_CONTROL_WORD]
    fninit
    fldcw [BuiltinControlWord]
    mov eax, [esi+PC_MAXITER]
    cmp eax, 1
    jge 1f
    mov eax, 1
1:
    mov [esp+F_MAXITER], eax
    mov ebx, eax

    // Z := start (Mandelbrot) or PIXEL (Julia) for the INIT code.
    cmp dword ptr [esp+F_KIND], 0
    jne 1f
    LOADV [edi+BD_START]
    STOREV [esi+\zoff]
    LOADV [edi+BD_START+\stepim]
    STOREV [esi+\zoff+\stepim]
    jmp 2f
1:
    LOADV [esi+\poff]
    STOREV [esi+\zoff]
    LOADV [esi+\poff+\stepim]
    STOREV [esi+\zoff+\stepim]
2:
    CALL_IF_SET PC_INSIDE_INIT
    CALL_IF_SET PC_OUTSIDE_INIT
    CALL_IF_SET PC_ORBIT_ROUTINE

    cmp dword ptr [esp+F_KIND], 0
    jne 1f
    // Mandelbrot: c := PIXEL, z := start^2 + c.
    LOADV [esi+\poff+\stepim]
    LOADV [esi+\poff]
    LOADV [edi+\sqoff+\stepim]
    fadd st(0), st(2)
    LOADV [edi+\sqoff]
    fadd st(0), st(2)
    jmp 2f
1:
    // Julia: c := seed, z := PIXEL.
    LOADV [edi+BD_START+\stepim]
    LOADV [edi+BD_START]
    LOADV [esi+\poff+\stepim]
    LOADV [esi+\poff]
2:
    SQUARES

    // Coloring loop code or an orbit: the traced loop.
    mov eax, [esi+PC_INSIDE_LOOP]
    or eax, [esi+PC_OUTSIDE_LOOP]
    or eax, [esi+PC_ORBIT_WRITE]
    jnz \name\()_traced
    cmp dword ptr [esi+PC_PERIODICITY_THRESHOLD], 0
    jne \name\()_checked
    // The fast loop tests only after blocks of 8 steps, which is exact only while an escaped z
    // keeps growing: bailout >= 4 and |c|^2 not above the bailout.
    mov eax, [edi+BD_BAILOUT+4]
    cmp eax, 0x40100000
    jb \name\()_checked
    fld st(5)
    fmul st(0), st(0)
    fld st(5)
    fmul st(0), st(0)
    faddp st(1), st(0)
    fstp qword ptr [edi+BD_NORM]
    mov eax, [edi+BD_NORM+4]
    cmp eax, [edi+BD_BAILOUT+4]
    jbe \name\()_fast
    // Falls through to the checked loop, which without a threshold tests every step.

// Every step tested but the last; the periodicity test while the remaining count is below the
// threshold, with the mask in ecx and the saves left in edx.
\name\()_checked:
    mov ecx, [esi+PC_PERIODICITY_MASK]
    mov edx, [esi+PC_SAVES_LEFT]
    fldz
    fstp tbyte ptr [esp+F_ZRE]
    fldz
    fstp tbyte ptr [esp+F_ZIM]
\name\()_checkedTop:
    cmp ebx, 1
    jbe \name\()_inside
    STEP
    dec ebx
    cmp ebx, 1
    je 3f
    TEST_BAILOUT edi
    ja \name\()_escaped
3:
    cmp ebx, [esi+PC_PERIODICITY_THRESHOLD]
    jae 5f
    test ebx, ecx
    jz 4f
    COMPARE_WITH_SAVED 2, F_ZRE
    ja 5f
    COMPARE_WITH_SAVED 3, F_ZIM
    ja 5f
    jmp \name\()_inside // periodic
4:
    fld st(2)
    fstp tbyte ptr [esp+F_ZRE]
    fld st(3)
    fstp tbyte ptr [esp+F_ZIM]
    dec edx
    jg 5f
    lea ecx, [ecx+ecx+1]
    mov edx, [esi+PC_SAVES_PER_STEP]
5:
    cmp byte ptr [esi+PC_STOP_FLAG], 0
    jne \name\()_inside
    jmp \name\()_checkedTop

// Z, the coloring loop code and the orbit see z before every step; every step is tested.
\name\()_traced:
    cmp ebx, 1
    jbe \name\()_inside
    fld st(2)
    STOREV [esi+\zoff]
    fld st(3)
    STOREV [esi+\zoff+\stepim]
    PARK
    CALL_IF_SET PC_INSIDE_LOOP
    CALL_IF_SET PC_OUTSIDE_LOOP
    cmp dword ptr [esi+PC_ORBIT_WRITE], 0
    je 1f
    CALL_IF_SET PC_ORBIT_ROUTINE
1:
    UNPARK
    STEP
    dec ebx
    TEST_BAILOUT edi
    ja \name\()_escaped
    cmp byte ptr [esi+PC_STOP_FLAG], 0
    jne \name\()_inside
    jmp \name\()_traced

// The fast loop (FracBuiltinStep.inc).
\name\()_fast:
    FAST_LOOP ebx, ecx, edi, [esp+F_MAXITER], [esp+F_ZRE], [esp+F_ZIM], [esi+PC_STOP_FLAG], \name\()_inside, \name\()_escaped

\name\()_escaped:
    STORE_Z_AND_CLEAR \zoff, \stepim
    mov eax, [esp+F_MAXITER]
    sub eax, ebx
    mov [esi+PC_ITERATIONS_DONE], eax
    CALL_IF_SET PC_OUTSIDE_FINAL
    jmp \name\()_exit
\name\()_inside:
    STORE_Z_AND_CLEAR \zoff, \stepim
    mov eax, [esp+F_MAXITER]
    mov [esi+PC_ITERATIONS_DONE], eax
    CALL_IF_SET PC_INSIDE_FINAL
\name\()_exit:
    fnclex
    fldcw [esi+PC_SAVED_CONTROL_WORD]
    add esp, F_SIZE
    pop ebp
    pop edi
    pop esi
    pop ebx
    ret
    .endm

    .set EXT, 0
    BUILTIN_LOOP FracBuiltinLoopDouble, PC_DOUBLE_Z, PC_DOUBLE_PIXEL, 8, BD_DOUBLE_SQUARE

    .set EXT, 1
    BUILTIN_LOOP FracBuiltinLoopExtended, PC_EXTENDED_Z, PC_EXTENDED_PIXEL, 16, BD_EXTENDED_SQUARE

// ---------------------------------------------------------------------------------------------
// Arbitrary precision, through the thread's processor (entry points: the processor in eax, the
// argument in edx). Frame: maxiter, the handles of c, the result of the bailout compare.
#define H_MAXITER 0
#define H_CRE 4
#define H_CIM 8
#define H_ABOVE 12
#define H_SIZE 16

    .macro HUGE op
    mov eax, ebp
    call _THugeProcessor_\op
    .endm

    .macro HUGE_ARG op, arg
    mov eax, ebp
    mov edx, \arg
    call _THugeProcessor_\op
    .endm

    .globl FracBuiltinLoopHuge
FracBuiltinLoopHuge:
    push ebx
    push esi
    push edi
    push ebp
    sub esp, H_SIZE
    mov esi, eax
    mov ebp, ecx
    mov edi, [esi+PC_FORMULA_DATA]
    // Nothing to work with: the pixel is left alone.
    test ebp, ebp
    jz 8f
    test edi, edi
    jz 8f
    xor eax, eax
    .irp handle, [esi+PC_HUGE_Z], [esi+PC_HUGE_Z+4], [esi+PC_HUGE_PIXEL], [esi+PC_HUGE_PIXEL+4], [edi+BD_START], [edi+BD_START+4], [edi+BD_BAILOUT]
    cmp \handle, eax
    je 8f
    .endr

    mov eax, [esi+PC_MAXITER]
    cmp eax, 1
    jge 1f
    mov eax, 1
1:
    mov [esp+H_MAXITER], eax
    // Mandelbrot: Z := start, c := PIXEL; Julia: Z := PIXEL, c := seed.
    mov eax, [esi+PC_HUGE_PIXEL]
    mov ecx, [esi+PC_HUGE_PIXEL+4]
    mov ebx, [edi+BD_START]
    mov edi, [edi+BD_START+4]
    test edx, edx
    jz 2f
    xchg eax, ebx
    xchg ecx, edi
2:
    mov [esp+H_CRE], eax
    mov [esp+H_CIM], ecx
    HUGE_ARG LoadHuge, ebx
    HUGE_ARG StoreHugePop, [esi+PC_HUGE_Z]
    HUGE_ARG LoadHuge, edi
    HUGE_ARG StoreHugePop, [esi+PC_HUGE_Z+4]
    mov edi, [esi+PC_FORMULA_DATA]
    CALL_IF_SET PC_INSIDE_INIT
    CALL_IF_SET PC_OUTSIDE_INIT
    CALL_IF_SET PC_ORBIT_ROUTINE
    mov ebx, [esp+H_MAXITER]

3:
    // Register pictures list the processor's stack top first.
    HUGE_ARG LoadHuge, [esi+PC_HUGE_Z]
    HUGE Square
    HUGE_ARG LoadHuge, [esi+PC_HUGE_Z+4]
    HUGE Square
    HUGE_ARG AddPop, 1            // |z|^2
    HUGE_ARG LoadHuge, [edi+BD_BAILOUT]
    HUGE_ARG Compare, 1           // negative: the bailout is below |z|^2
    mov [esp+H_ABOVE], eax
    HUGE Pop
    HUGE Pop
    cmp dword ptr [esp+H_ABOVE], 0
    jl 6f
    HUGE_ARG LoadHuge, [esi+PC_HUGE_Z]
    HUGE_ARG LoadHuge, [esi+PC_HUGE_Z+4]
    HUGE_ARG LoadRegister, 1
    HUGE_ARG Multiply, 1          // re*im im re
    HUGE MultiplyByTwo
    HUGE_ARG LoadHuge, [esp+H_CIM]
    HUGE_ARG AddPop, 1            // im' im re
    HUGE_ARG Exchange, 2
    HUGE Square
    HUGE_ARG Exchange, 1
    HUGE Square
    HUGE_ARG SubtractPop, 1       // re^2-im^2 im'
    HUGE_ARG LoadHuge, [esp+H_CRE]
    HUGE_ARG AddPop, 1
    HUGE_ARG StoreHugePop, [esi+PC_HUGE_Z]
    HUGE_ARG StoreHugePop, [esi+PC_HUGE_Z+4]
    CALL_IF_SET PC_INSIDE_LOOP
    CALL_IF_SET PC_OUTSIDE_LOOP
    cmp dword ptr [esi+PC_ORBIT_WRITE], 0
    je 4f
    CALL_IF_SET PC_ORBIT_ROUTINE
4:
    cmp ebx, [esi+PC_PERIODICITY_THRESHOLD]
    jae 5f
    mov eax, ebp
    mov edx, esi
    mov ecx, ebx
    call CompHugePeriodicityCheck // 1 when periodic, so that the count ends at 0
    mov ebx, eax
5:
    cmp byte ptr [esi+PC_STOP_FLAG], 0
    jne 6f
    dec ebx
    jnz 3b
6:
    mov eax, [esp+H_MAXITER]
    sub eax, ebx
    mov [esi+PC_ITERATIONS_DONE], eax
    test ebx, ebx
    jz 7f
    CALL_IF_SET PC_OUTSIDE_FINAL
    jmp 8f
7:
    CALL_IF_SET PC_INSIDE_FINAL
8:
    add esp, H_SIZE
    pop ebp
    pop edi
    pop esi
    pop ebx
    ret
