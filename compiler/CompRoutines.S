// Routine templates of compiled formulas (all but the colour routines, which live in
// CompColorRoutines.S). Each template lies between CompRoutineStart<n> and CompRoutineEnd<n>; the
// code generator copies those bytes inline, so a template never jumps or calls relative to
// anything outside itself and never ends in a return. Constants and helpers are reached through
// absolute addresses, which the loader relocates with the image before any template is copied.
//
// Stack pictures in the comments list the x87 registers top first: [a b c d] is ST(0) = a.
// Complex operands are (real, imaginary) pairs with the real part on top.

#include "CompPixelContext.h"

    .intel_syntax noprefix

// ---------------------------------------------------------------------------------------------
// Constants read by the templates. The 80-bit ones are filled from the FPU's own constants at
// module initialization (InitializeCompRoutines).

    .data
    .p2align 4
    .globl _CompConstLog2E, _CompConstLn2, _CompConstLn2Half, _CompConstPiHalf
    .globl _CompConstMinusPiHalf, _CompConstPi, _CompConstMinusPi
    .globl _CompConstHalf, _CompConstZero, _CompConstOne, _CompConstSix
    .globl _CompFormulaControlWord, _CompTruncationControlWord
_CompConstLog2E:        .space 16
_CompConstLn2:          .space 16
_CompConstLn2Half:      .space 16
_CompConstPiHalf:       .space 16
_CompConstMinusPiHalf:  .space 16
_CompConstPi:           .space 16
_CompConstMinusPi:      .space 16
_CompConstHalf:         .long 0x3F000000
_CompConstZero:         .long 0x00000000
_CompConstOne:          .long 0x3F800000
_CompConstSix:          .long 0x40C00000
_CompFormulaControlWord:     .word 0x137F
_CompTruncationControlWord:  .word 0x1F7F

// ---------------------------------------------------------------------------------------------
// Template brackets

#include "CompRoutineMacros.inc"

// ---------------------------------------------------------------------------------------------
// Building blocks

// [p] -> [2^p], one register beyond p: p is split into a nearest integer i and a fraction f with
// |f| <= 1/2 (the domain of f2xm1), 2^p = 2^f * 2^i. An infinite p would give f = inf - inf; it is
// answered directly (+inf stays, -inf gives 0). Uses ax and dl.
    .macro EXP2_BLOCK
    fxam
    fnstsw ax
    mov dl, ah
    and dl, 0x45
    cmp dl, 0x05
    jne 101f
    test ah, 2
    jz 102f
    fstp st(0)
    fldz
    jmp 102f
101:
    fld st(0)
    frndint
    fsub st(1), st
    fxch st(1)
    f2xm1
    fadd dword ptr [_CompConstOne]
    fscale
    fstp st(1)
102:
    .endm

// [x] -> [e^x] = 2^(x log2 e), one register beyond x. Uses ax and dl.
    .macro EXP_BLOCK
    fldl2e
    fmulp st(1), st
    EXP2_BLOCK
    .endm

// [x] -> [cos x, sin x], one register beyond x. An argument beyond the range of fsincos (C2 set,
// nothing pushed) is first reduced modulo 2 pi, so the register stack always stays balanced.
// Uses ax.
    .macro SINCOS_BLOCK
    fsincos
    fnstsw ax
    test ah, 4
    jz 112f
    fldpi
    fadd st, st(0)
    fxch st(1)
111:
    fprem1
    fnstsw ax
    test ah, 4
    jnz 111b
    fstp st(1)
    fsincos
112:
    .endm

// [x] -> [cosh x, sinh x], two registers beyond x: E = e^x, h = 0.5 / E, H = 0.5 * E,
// sinh = H - h, cosh = H + h.
    .macro SINHCOSH_BLOCK
    EXP_BLOCK
    fld dword ptr [_CompConstHalf]
    fdiv st, st(1)
    fxch st(1)
    fmul dword ptr [_CompConstHalf]
    fld st(0)
    fsub st, st(2)
    fxch st(2)
    faddp st(1), st
    .endm

// [a b] -> [a^2 - b^2, 2ab], two registers beyond the operand.
    .macro CSQR_BLOCK
    fld st(0)
    fmul st, st(0)
    fld st(2)
    fmul st, st(0)
    fxch st(2)
    fadd st, st(0)
    fxch st(1)
    fsubrp st(2), st
    fmulp st(2), st
    .endm

// [a b c d] -> (a + bi)(c + di) = [ac - bd, ad + bc], two registers beyond the operands.
    .macro CMUL_BLOCK
    fld st(0)
    fmul st, st(3)
    fxch st(2)
    fld st(0)
    fmul st, st(5)
    fxch st(1)
    fmulp st(4), st
    fsubp st(2), st
    fmulp st(3), st
    fxch st(1)
    faddp st(2), st
    .endm

// [a b c d] -> (a + bi) / (c + di), two registers beyond the operands: (c, d) is scaled to
// (c, d) / (c^2 + d^2), then (a + bi)(c - di).
    .macro CDIV_BLOCK
    fld st(2)
    fmul st, st(0)
    fld st(4)
    fmul st, st(0)
    faddp st(1), st
    fdivr dword ptr [_CompConstOne]
    fmul st(3), st
    fmulp st(4), st
    fld st(0)
    fmul st, st(3)
    fld st(2)
    fmul st, st(5)
    faddp st(1), st
    fxch st(1)
    fmulp st(4), st
    fxch st(1)
    fmulp st(2), st
    fxch st(1)
    fsubrp st(2), st
    .endm

// [c d a b] -> [a b c d]: swaps the two complex operands of a reversed routine.
    .macro SWAP_PAIRS
    fxch st(2)
    fxch st(1)
    fxch st(3)
    fxch st(1)
    .endm

// [a b] -> principal square root: r = sqrt(sqrt(a^2 + b^2)), t = atan2(b, a) / 2, r (cos t, sin t).
// Two registers beyond the operand.
    .macro CSQRT_BLOCK
    fld st(1)
    fmul st, st(0)
    fld st(1)
    fmul st, st(0)
    faddp st(1), st
    fsqrt
    fsqrt
    fxch st(2)
    fxch st(1)
    fpatan
    fmul dword ptr [_CompConstHalf]
    fsincos
    fmul st, st(2)
    fxch st(2)
    fmulp st(1), st
    fxch st(1)
    .endm

// [a b] -> [ln |z|, atan2(b, a)] with ln |z| = (ln 2 / 2) log2(a^2 + b^2); log 0 = (-inf, 0).
// Two registers beyond the operand.
    .macro CLOG_BLOCK
    fld st(0)
    fmul st, st(0)
    fld st(2)
    fmul st, st(0)
    faddp st(1), st
    fld tbyte ptr [_CompConstLn2Half]
    fxch st(1)
    fyl2x
    fxch st(2)
    fxch st(1)
    fpatan
    fxch st(1)
    .endm

// [E b] -> E (cos b, sin b), one register beyond the operands.
    .macro POLAR_BLOCK
    fxch st(1)
    SINCOS_BLOCK
    fmul st, st(2)
    fxch st(2)
    fmulp st(1), st
    fxch st(1)
    .endm

// [a b] -> e^a (cos b, sin b), one register beyond the operand.
    .macro CEXP_BLOCK
    EXP_BLOCK
    POLAR_BLOCK
    .endm

// Sets ZF from an x87 status word in ah: ZF = 1 exactly when the comparison was ordered and equal.
    .macro EQUAL_FROM_AH
    and ah, 0x45
    cmp ah, 0x40
    .endm

// [t x] -> the parts of the tangent family computed without overflow: with E = e^(-2|x|),
// [Q, P, D] where Q = sign(x) (1 - E^2), P = 2E sin 2t, D = 1 + E^2 +- 2E cos 2t (sign per
// \cosop: faddp or fsubp). These are (sinh 2x, sin 2t, cosh 2x +- cos 2t) all multiplied by 2E,
// so huge |x| gives the limits instead of inf / inf. Two registers beyond the operand.
    .macro TANGENT_BLOCK cosop
    fadd st, st(0)
    SINCOS_BLOCK
    fxch st(2)
    fadd st, st(0)
    ftst
    fnstsw ax
    mov ecx, eax
    fabs
    fchs
    EXP_BLOCK
    fmul st(1), st
    fmul st(2), st
    fmul st, st(0)
    fld1
    fsub st, st(1)
    test ch, 1
    jz 121f
    fchs
121:
    fxch st(1)
    fadd dword ptr [_CompConstOne]
    fxch st(3)
    fadd st, st(0)
    \cosop st(3), st
    fxch st(1)
    fadd st, st(0)
    fxch st(2)
    fdivr dword ptr [_CompConstOne]
    fmul st(1), st
    fmulp st(2), st
    .endm

// [x] -> the float tangent family without overflow: E = e^(-2|x|), sign(x) (1 - E) / (1 + E)
// (tanh) or its inverse (cotanh, \divop = fdivrp). One register beyond the operand.
    .macro FLOAT_TANH_BLOCK divop
    ftst
    fnstsw ax
    mov ecx, eax
    fabs
    fadd st, st(0)
    fchs
    EXP_BLOCK
    fld1
    fsub st, st(1)
    fxch st(1)
    fadd dword ptr [_CompConstOne]
    \divop st(1), st
    test ch, 1
    jz 131f
    fchs
131:
    .endm

// Complex rounding: both parts stored as 32-bit integers under the rounding field \mode and
// loaded back, real part on top.
    .macro COMPLEX_ROUND mode
    fstcw word ptr [esp-4]
    mov eax, [esp-4]
    and eax, 0xF3FF
    or eax, \mode
    mov [esp-8], eax
    fldcw word ptr [esp-8]
    fistp dword ptr [esp-8]
    fistp dword ptr [esp-12]
    fild dword ptr [esp-12]
    fild dword ptr [esp-8]
    fldcw word ptr [esp-4]
    .endm

// Float to int under the rounding field \mode: the value is popped, the int is left in eax.
    .macro INT_ROUND mode
    fnstcw word ptr [esp-4]
    mov eax, [esp-4]
    and eax, 0xF3FF
    or eax, \mode
    mov [esp-8], eax
    fldcw word ptr [esp-8]
    fistp dword ptr [esp-8]
    fldcw word ptr [esp-4]
    mov eax, [esp-8]
    .endm

// Float remainder with the sign of the dividend: [x y] -> [x rem y]. fprem reduces the exponent
// difference by at most 63 bits per pass, so it repeats until C2 (partial remainder) clears.
    .macro FREM_BLOCK
141:
    fprem
    fnstsw ax
    test ah, 4
    jnz 141b
    fstp st(1)
    .endm

// [x y] -> x^y = 2^(y log2 |x|); 0^y = 0 (the sign of x is ignored). One register beyond the
// operands.
    .macro FLOAT_POWER_BLOCK
    ftst
    fnstsw ax
    EQUAL_FROM_AH
    je 151f
    fabs
    fyl2x
    EXP2_BLOCK
    jmp 152f
151:
    fstp st(1)
    fabs
152:
    .endm

// [a b c d] -> z^w for z = a + bi, w = c + di: exp(w log z); 0 when |z|^2 is 0. Two registers
// beyond the operands.
    .macro COMPLEX_POWER_BLOCK
    fld st(0)
    fmul st, st(0)
    fld st(2)
    fmul st, st(0)
    faddp st(1), st
    ftst
    fnstsw ax
    EQUAL_FROM_AH
    je 161f
    fld tbyte ptr [_CompConstLn2Half]
    fxch st(1)
    fyl2x
    fxch st(2)
    fxch st(1)
    fpatan
    fld st(1)
    fmul st, st(3)
    fld st(1)
    fmul st, st(5)
    fsubp st(1), st
    fxch st(3)
    fmulp st(1), st
    fxch st(1)
    fmulp st(3), st
    faddp st(2), st
    CEXP_BLOCK
    jmp 162f
161:
    fstp st(0)
    fstp st(0)
    fstp st(0)
    fstp st(0)
    fstp st(0)
    fldz
    fldz
162:
    .endm

// ---------------------------------------------------------------------------------------------
// Templates

    .text

// Start-up of the FPU.
ROUTINE 1, 0
    finit
ENDROUTINE 1

// oldz (n) in double precision: int n in eax -> complex; entry n of the orbit record (16 bytes:
// real, imaginary) or 0 when n exceeds the iterations done (unsigned compare).
ROUTINE 2, 0
    cmp eax, [esi+PC_ITERATIONS_DONE]
    ja 1f
    mov edx, [esi+PC_ORBIT_START]
    shl eax, 4
    fld qword ptr [edx+eax+8]
    fld qword ptr [edx+eax]
    jmp 2f
1:
    fld dword ptr [_CompConstZero]
    fld dword ptr [_CompConstZero]
2:
ENDROUTINE 2

// oldz (n) in extended precision: entries of 20 bytes, parts at +0 and +10.
ROUTINE 3, 0
    cmp eax, [esi+PC_ITERATIONS_DONE]
    ja 1f
    mov edx, [esi+PC_ORBIT_START]
    lea eax, [eax+eax*4]
    fld tbyte ptr [edx+eax*4+10]
    fld tbyte ptr [edx+eax*4]
    jmp 2f
1:
    fldz
    fldz
2:
ENDROUTINE 3

// Arbitrary precision only.
ROUTINE 4, 0
ENDROUTINE 4

// Block copies: eax destination offset, edx source offset (both from edi), ecx count of units.
ROUTINE 5, 0
    test ecx, ecx
    jz 2f
    push ebx
1:
    mov bl, [edi+edx]
    mov [edi+eax], bl
    inc eax
    inc edx
    dec ecx
    jnz 1b
    pop ebx
2:
ENDROUTINE 5

ROUTINE 6, 0
    test ecx, ecx
    jz 2f
    push ebx
1:
    mov ebx, [edi+edx]
    mov [edi+eax], ebx
    add eax, 4
    add edx, 4
    dec ecx
    jnz 1b
    pop ebx
2:
ENDROUTINE 6

ROUTINE 7, 0
    test ecx, ecx
    jz 2f
    push ebx
1:
    mov ebx, [edi+edx]
    mov [edi+eax], ebx
    mov ebx, [edi+edx+4]
    mov [edi+eax+4], ebx
    add eax, 8
    add edx, 8
    dec ecx
    jnz 1b
    pop ebx
2:
ENDROUTINE 7

ROUTINE 8, 0
    test ecx, ecx
    jz 2f
    push ebx
1:
    mov ebx, [edi+edx]
    mov [edi+eax], ebx
    mov ebx, [edi+edx+4]
    mov [edi+eax+4], ebx
    mov ebx, [edi+edx+8]
    mov [edi+eax+8], ebx
    mov ebx, [edi+edx+12]
    mov [edi+eax+12], ebx
    add eax, 16
    add edx, 16
    dec ecx
    jnz 1b
    pop ebx
2:
ENDROUTINE 8

// Arbitrary precision only.
ROUTINE 9, 0
ENDROUTINE 9

// Print helpers: the context in eax, further arguments in edx, ecx and on the stack.
ROUTINE 10, 0
    sub esp, 24
    fstp tbyte ptr [esp+12]
    fstp tbyte ptr [esp]
    mov eax, esi
    mov ecx, offset CompPrintComplexHelper
    call ecx
ENDROUTINE 10

ROUTINE 11, 0
    sub esp, 12
    fstp tbyte ptr [esp]
    mov eax, esi
    mov ecx, offset CompPrintFloatHelper
    call ecx
ENDROUTINE 11

ROUTINE 12, 0
    mov edx, eax
    mov eax, esi
    mov ecx, offset CompPrintIntHelper
    call ecx
ENDROUTINE 12

ROUTINE 13, 0
    mov edx, eax
    mov eax, esi
    mov ecx, offset CompPrintBoolHelper
    call ecx
ENDROUTINE 13

ROUTINE 14, 0
    mov edx, esp
    mov eax, esi
    mov ecx, offset CompPrintColorHelper
    call ecx
    add esp, 16
ENDROUTINE 14

ROUTINE 15, 0
    push ebx
    mov ecx, edx
    mov edx, eax
    mov eax, esi
    mov ebx, offset CompPrintStringHelper
    call ebx
    pop ebx
ENDROUTINE 15

ROUTINE 16, 0
    push ebx
    mov ecx, edx
    mov edx, eax
    mov eax, esi
    mov ebx, offset CompPrintEndHelper
    call ebx
    pop ebx
ENDROUTINE 16

// Run-time error report: eax formula, edx code, ecx position (line * 65536 + column). Its length,
// 16 bytes, is part of the bounds-check jump distance.
ROUTINE 17, 0
    push ebx
    push ecx
    mov ecx, edx
    mov edx, eax
    mov eax, esi
    mov ebx, offset CompReportRuntimeError
    call ebx
    pop ebx
ENDROUTINE 17

ROUTINE 18, 0                       // push complex 0
    fldz
    fldz
ENDROUTINE 18

ROUTINE 19, 0                       // push complex 1
    fldz
    fld1
ENDROUTINE 19

ROUTINE 20, 0                       // duplicate complex
    fld st(1)
    fld st(1)
ENDROUTINE 20

ROUTINE 21, 0                       // pop complex
    fstp st(0)
    fstp st(0)
ENDROUTINE 21

ROUTINE 22, 0                       // [a b c d] -> [a + c, b + d]
    faddp st(2), st
    faddp st(2), st
ENDROUTINE 22

ROUTINE 23, 0                       // [a b c d] -> [a - c, b - d]
    fsubrp st(2), st
    fsubrp st(2), st
ENDROUTINE 23

ROUTINE 24, 0                       // reversed: [c d a b] -> [a - c, b - d]
    fsubp st(2), st
    fsubp st(2), st
ENDROUTINE 24

ROUTINE 25, 2                       // complex multiplication
    CMUL_BLOCK
ENDROUTINE 25

ROUTINE 26, 2                       // [a b c d] -> (a + bi) / (c + di)
    CDIV_BLOCK
ENDROUTINE 26

ROUTINE 27, 2                       // reversed division
    SWAP_PAIRS
    CDIV_BLOCK
ENDROUTINE 27

ROUTINE 28, 2                       // [a b c d] -> (a + bi) ^ (c + di)
    COMPLEX_POWER_BLOCK
ENDROUTINE 28

ROUTINE 29, 2                       // reversed power
    SWAP_PAIRS
    COMPLEX_POWER_BLOCK
ENDROUTINE 29

ROUTINE 30, 0                       // complex negation
    fchs
    fxch st(1)
    fchs
    fxch st(1)
ENDROUTINE 30

// sin z = (sin a cosh b, cos a sinh b)
ROUTINE 31, 2
    fxch st(1)
    SINHCOSH_BLOCK                  // [cosh sinh a]
    fxch st(2)
    SINCOS_BLOCK                    // [cos sin sinh cosh]
    fmulp st(2), st
    fmulp st(2), st
    fxch st(1)
ENDROUTINE 31

// asin z = -i log(iz + sqrt(1 - z^2))
ROUTINE 32, 4
    fld st(1)
    fld st(1)
    CSQR_BLOCK                      // [s1 s2 a b]
    fsubr dword ptr [_CompConstOne]
    fxch st(1)
    fchs
    fxch st(1)
    CSQRT_BLOCK                     // [q1 q2 a b]
    fsub st, st(3)
    fxch st(1)
    fadd st, st(2)
    fxch st(1)
    fstp st(2)
    fstp st(2)
    CLOG_BLOCK                      // [L T]
    fchs
    fxch st(1)
ENDROUTINE 32

// sinh z = (sinh a cos b, cosh a sin b)
ROUTINE 33, 2
    SINHCOSH_BLOCK                  // [cosh sinh b]
    fxch st(2)
    SINCOS_BLOCK                    // [cos sin sinh cosh]
    fmulp st(2), st
    fmulp st(2), st
ENDROUTINE 33

// asinh z = log(z + sqrt(z^2 + 1))
ROUTINE 34, 4
    fld st(1)
    fld st(1)
    CSQR_BLOCK
    fadd dword ptr [_CompConstOne]
    CSQRT_BLOCK
    faddp st(2), st
    faddp st(2), st
    CLOG_BLOCK
ENDROUTINE 34

// cos z = (cos a cosh b, -sin a sinh b)
ROUTINE 35, 2
    fxch st(1)
    SINHCOSH_BLOCK                  // [cosh sinh a]
    fxch st(2)
    SINCOS_BLOCK                    // [cos sin sinh cosh]
    fmulp st(3), st
    fmulp st(1), st
    fchs
    fxch st(1)
ENDROUTINE 35

// acos z = -i log(z + sqrt(z^2 - 1))
ROUTINE 36, 4
    fld st(1)
    fld st(1)
    CSQR_BLOCK
    fsub dword ptr [_CompConstOne]
    CSQRT_BLOCK
    faddp st(2), st
    faddp st(2), st
    CLOG_BLOCK
    fchs
    fxch st(1)
ENDROUTINE 36

// cosh z = (cosh a cos b, sinh a sin b)
ROUTINE 37, 2
    SINHCOSH_BLOCK                  // [cosh sinh b]
    fxch st(2)
    SINCOS_BLOCK                    // [cos sin sinh cosh]
    fmulp st(3), st
    fmulp st(1), st
    fxch st(1)
ENDROUTINE 37

// acosh z = log(z + sqrt(z^2 - 1))
ROUTINE 38, 4
    fld st(1)
    fld st(1)
    CSQR_BLOCK
    fsub dword ptr [_CompConstOne]
    CSQRT_BLOCK
    faddp st(2), st
    faddp st(2), st
    CLOG_BLOCK
ENDROUTINE 38

// tan z = (sin 2a, sinh 2b) / (cos 2a + cosh 2b)
ROUTINE 39, 2
    TANGENT_BLOCK faddp             // [Q/D P/D]
    fxch st(1)
ENDROUTINE 39

// atan z = (i / 2) log((1 - iz) / (1 + iz))
ROUTINE 40, 4
    fxch st(1)                      // [b a]
    fld1
    fsub st, st(1)                  // [1-b b a]
    fxch st(1)
    fld st(2)
    fchs                            // [-a b 1-b a]
    fxch st(1)
    fadd dword ptr [_CompConstOne]  // [1+b -a 1-b a]
    CDIV_BLOCK
    CLOG_BLOCK                      // [L T]
    fmul dword ptr [_CompConstHalf]
    fxch st(1)
    fmul dword ptr [_CompConstHalf]
    fchs                            // [-T/2 L/2]
ENDROUTINE 40

// tanh z = (sinh 2a, sin 2b) / (cosh 2a + cos 2b)
ROUTINE 41, 2
    fxch st(1)
    TANGENT_BLOCK faddp             // [Q/D P/D]
ENDROUTINE 41

// atanh z = (1 / 2) log((1 + z) / (1 - z))
ROUTINE 42, 4
    fld st(1)
    fchs                            // [-b a b]
    fxch st(2)                      // [b a -b]
    fld1
    fsub st, st(2)                  // [1-a b a -b]
    fxch st(2)                      // [a b 1-a -b]
    fadd dword ptr [_CompConstOne]  // [1+a b 1-a -b]
    CDIV_BLOCK
    CLOG_BLOCK
    fmul dword ptr [_CompConstHalf]
    fxch st(1)
    fmul dword ptr [_CompConstHalf]
    fxch st(1)
ENDROUTINE 42

// cotan z = (sin 2a, -sinh 2b) / (cosh 2b - cos 2a)
ROUTINE 43, 2
    TANGENT_BLOCK fsubp             // [Q/D P/D]
    fchs
    fxch st(1)
ENDROUTINE 43

// cotanh z = (sinh 2a, -sin 2b) / (cosh 2a - cos 2b)
ROUTINE 44, 2
    fxch st(1)
    TANGENT_BLOCK fsubp             // [Q/D P/D]
    fxch st(1)
    fchs
    fxch st(1)
ENDROUTINE 44

ROUTINE 45, 2                       // sqr
    CSQR_BLOCK
ENDROUTINE 45

ROUTINE 46, 0                       // times two
    fadd st, st(0)
    fxch st(1)
    fadd st, st(0)
    fxch st(1)
ENDROUTINE 46

ROUTINE 47, 0                       // times i: [a b] -> [-b a]
    fxch st(1)
    fchs
ENDROUTINE 47

ROUTINE 48, 0                       // times -i: [a b] -> [b -a]
    fchs
    fxch st(1)
ENDROUTINE 48

ROUTINE 49, 4                       // cube: z^2 * z
    fld st(1)
    fld st(1)
    CSQR_BLOCK
    CMUL_BLOCK
ENDROUTINE 49

ROUTINE 50, 2                       // fourth power: (z^2)^2
    CSQR_BLOCK
    CSQR_BLOCK
ENDROUTINE 50

ROUTINE 51, 2                       // sqrt
    CSQRT_BLOCK
ENDROUTINE 51

ROUTINE 52, 2                       // log
    CLOG_BLOCK
ENDROUTINE 52

ROUTINE 53, 1                       // exp
    CEXP_BLOCK
ENDROUTINE 53

ROUTINE 54, 0                       // abs of both parts
    fabs
    fxch st(1)
    fabs
    fxch st(1)
ENDROUTINE 54

ROUTINE 55, 0                       // cabs to float
    fmul st, st(0)
    fxch st(1)
    fmul st, st(0)
    faddp st(1), st
    fsqrt
ENDROUTINE 55

ROUTINE 56, 0                       // cabs as complex, imaginary part 0
    fmul st, st(0)
    fxch st(1)
    fmul st, st(0)
    faddp st(1), st
    fsqrt
    fldz
    fxch st(1)
ENDROUTINE 56

ROUTINE 57, 0                       // squared modulus to float
    fmul st, st(0)
    fxch st(1)
    fmul st, st(0)
    faddp st(1), st
ENDROUTINE 57

ROUTINE 58, 2                       // recip: (a, -b) / (a^2 + b^2)
    fld st(0)
    fmul st, st(0)
    fld st(2)
    fmul st, st(0)
    faddp st(1), st
    fdivr dword ptr [_CompConstOne]
    fmul st(1), st
    fmulp st(2), st
    fxch st(1)
    fchs
    fxch st(1)
ENDROUTINE 58

ROUTINE 59, 0                       // conj
    fxch st(1)
    fchs
    fxch st(1)
ENDROUTINE 59

ROUTINE 60, 0                       // real: keeps ST(0), drops ST(1)
    fstp st(1)
ENDROUTINE 60

ROUTINE 61, 0                       // imag: drops the real part
    fstp st(0)
ENDROUTINE 61

ROUTINE 62, 0                       // flip
    fxch st(1)
ENDROUTINE 62

ROUTINE 63, 0                       // floor of both parts
    COMPLEX_ROUND 0x0400
ENDROUTINE 63

ROUTINE 64, 0                       // ceil
    COMPLEX_ROUND 0x0800
ENDROUTINE 64

ROUTINE 65, 0                       // trunc
    COMPLEX_ROUND 0x0C00
ENDROUTINE 65

ROUTINE 66, 0                       // round: floor after adding 0.5 to both parts
    fadd dword ptr [_CompConstHalf]
    fxch st(1)
    fadd dword ptr [_CompConstHalf]
    fxch st(1)
    COMPLEX_ROUND 0x0400
ENDROUTINE 66

// atan2 of a complex value, to float: a > 0: atan(b / a); a = 0: pi/2 for b > 0, else -pi/2;
// a < 0: atan(b / a) + pi for b > 0, else atan(b / a) - pi.
ROUTINE 67, 0
    ftst
    fnstsw ax
    mov ecx, eax                    // flags of a
    fxch st(1)
    ftst
    fnstsw ax                       // flags of b
    test ch, 0x40
    jnz 4f
    fdivrp st(1), st                // [b/a]
    fld1
    fpatan
    test ch, 1
    jz 6f
    test ah, 0x41
    jnz 2f
    fld tbyte ptr [_CompConstPi]
    faddp st(1), st
    jmp 6f
2:
    fld tbyte ptr [_CompConstMinusPi]
    faddp st(1), st
    jmp 6f
4:
    fstp st(0)
    fstp st(0)
    test ah, 0x41
    jnz 5f
    fld tbyte ptr [_CompConstPiHalf]
    jmp 6f
5:
    fld tbyte ptr [_CompConstMinusPiHalf]
6:
ENDROUTINE 67

// Complex equality: both parts equal, bool in al. Comparisons decide by the flags fucom leaves
// (C3 equal, C0 less): an unordered pair (a NaN operand) sets both, so it counts as equal, less and
// less or equal, and not as unequal, greater or greater or equal.
ROUTINE 68, 0
    fucomp st(2)
    fnstsw ax
    sahf
    sete cl
    fucomp st(2)
    fnstsw ax
    sahf
    sete al
    and al, cl
    fstp st(0)
    fstp st(0)
ENDROUTINE 68

ROUTINE 69, 0
    fucomp st(2)
    fnstsw ax
    sahf
    sete cl
    fucomp st(2)
    fnstsw ax
    sahf
    sete al
    and al, cl
    xor al, 1
    fstp st(0)
    fstp st(0)
ENDROUTINE 69

// Comparisons of the real parts, both complex values popped: [a b c d] -> a op c, by the flags as
// above.
ROUTINE 70, 0                       // a < c: C0
    fstp st(1)
    fucompp
    fnstsw ax
    sahf
    setb al
    fstp st(0)
ENDROUTINE 70

ROUTINE 71, 0                       // a <= c: C0 or C3
    fstp st(1)
    fucompp
    fnstsw ax
    sahf
    setbe al
    fstp st(0)
ENDROUTINE 71

ROUTINE 72, 0                       // a > c: neither
    fstp st(1)
    fucompp
    fnstsw ax
    sahf
    seta al
    fstp st(0)
ENDROUTINE 72

ROUTINE 73, 0                       // a >= c: not C0
    fstp st(1)
    fucompp
    fnstsw ax
    sahf
    setae al
    fstp st(0)
ENDROUTINE 73

ROUTINE 74, 0                       // push float 0
    fldz
ENDROUTINE 74

ROUTINE 75, 0                       // push float 1
    fld1
ENDROUTINE 75

ROUTINE 76, 0                       // duplicate float
    fld st(0)
ENDROUTINE 76

ROUTINE 77, 0                       // pop float
    fstp st(0)
ENDROUTINE 77

ROUTINE 78, 0                       // [x y] -> x + y
    faddp st(1), st
ENDROUTINE 78

ROUTINE 79, 0                       // [x y] -> x - y
    fsubrp st(1), st
ENDROUTINE 79

ROUTINE 80, 0                       // reversed: [y x] -> x - y
    fsubp st(1), st
ENDROUTINE 80

ROUTINE 81, 0
    fmulp st(1), st
ENDROUTINE 81

ROUTINE 82, 0                       // [x y] -> x / y
    fdivrp st(1), st
ENDROUTINE 82

ROUTINE 83, 0                       // reversed: [y x] -> x / y
    fdivp st(1), st
ENDROUTINE 83

ROUTINE 84, 0                       // [x y] -> x % y
    FREM_BLOCK
ENDROUTINE 84

ROUTINE 85, 0                       // reversed: [y x] -> x % y
    fxch st(1)
    FREM_BLOCK
ENDROUTINE 85

ROUTINE 86, 1                       // [x y] -> x ^ y
    FLOAT_POWER_BLOCK
ENDROUTINE 86

ROUTINE 87, 1                       // reversed: [y x] -> x ^ y
    fxch st(1)
    FLOAT_POWER_BLOCK
ENDROUTINE 87

ROUTINE 88, 0
    fchs
ENDROUTINE 88

ROUTINE 89, 0
    fsin
ENDROUTINE 89

ROUTINE 90, 1                       // asin x = atan(x / sqrt(1 - x^2))
    fld st(0)
    fmul st, st(0)
    fsubr dword ptr [_CompConstOne]
    fsqrt
    fpatan
ENDROUTINE 90

ROUTINE 91, 1                       // sinh x = 0.5 E - 0.5 / E
    EXP_BLOCK
    fld dword ptr [_CompConstHalf]
    fdiv st, st(1)
    fxch st(1)
    fmul dword ptr [_CompConstHalf]
    fsubrp st(1), st
ENDROUTINE 91

// asinh x = ln |x + sqrt(x^2 + 1)|, evaluated on |x| and given the sign of x (the same value,
// without the cancellation that would turn large negative x into ln 0).
ROUTINE 92, 1
    ftst
    fnstsw ax
    mov ecx, eax
    fabs
    fld st(0)
    fmul st, st(0)
    fadd dword ptr [_CompConstOne]
    fsqrt
    faddp st(1), st
    fldln2
    fxch st(1)
    fyl2x
    test ch, 1
    jz 1f
    fchs
1:
ENDROUTINE 92

ROUTINE 93, 0
    fcos
ENDROUTINE 93

// acos x = atan(sqrt(1 - x^2) / x), in -pi/2 .. pi/2.
ROUTINE 94, 1
    fld st(0)
    fmul st, st(0)
    fsubr dword ptr [_CompConstOne]
    fsqrt
    fdivrp st(1), st
    fld1
    fpatan
ENDROUTINE 94

ROUTINE 95, 1                       // cosh x = 0.5 E + 0.5 / E
    EXP_BLOCK
    fld dword ptr [_CompConstHalf]
    fdiv st, st(1)
    fxch st(1)
    fmul dword ptr [_CompConstHalf]
    faddp st(1), st
ENDROUTINE 95

// acosh x = ln |x + sqrt(x^2 - 1)|, evaluated on |x| with the sign of x (as asinh).
ROUTINE 96, 1
    ftst
    fnstsw ax
    mov ecx, eax
    fabs
    fld st(0)
    fmul st, st(0)
    fsub dword ptr [_CompConstOne]
    fsqrt
    faddp st(1), st
    fldln2
    fxch st(1)
    fyl2x
    test ch, 1
    jz 1f
    fchs
1:
ENDROUTINE 96

ROUTINE 97, 1                       // tan: fptan, drop the 1
    fptan
    fnstsw ax
    test ah, 4
    jz 2f
    fldpi
    fadd st, st(0)
    fxch st(1)
1:
    fprem1
    fnstsw ax
    test ah, 4
    jnz 1b
    fstp st(1)
    fptan
2:
    fstp st(0)
ENDROUTINE 97

ROUTINE 98, 1                       // atan x = atan2(x, 1)
    fld1
    fpatan
ENDROUTINE 98

ROUTINE 99, 2                       // tanh
    FLOAT_TANH_BLOCK fdivp
ENDROUTINE 99

// atanh x = (1/2) ln |(1 + x) / (1 - x)|
ROUTINE 100, 1
    fld1
    fadd st, st(1)
    fxch st(1)
    fsubr dword ptr [_CompConstOne]
    fdivp st(1), st
    fabs
    fld tbyte ptr [_CompConstLn2Half]
    fxch st(1)
    fyl2x
ENDROUTINE 100

ROUTINE 101, 1                      // cotan = cos / sin
    SINCOS_BLOCK
    fdivrp st(1), st
ENDROUTINE 101

ROUTINE 102, 2                      // cotanh
    FLOAT_TANH_BLOCK fdivrp
ENDROUTINE 102

ROUTINE 103, 0                      // sqr
    fmul st, st(0)
ENDROUTINE 103

ROUTINE 104, 0                      // times two
    fadd st, st(0)
ENDROUTINE 104

ROUTINE 105, 0                      // times i, to complex: x -> (0, x)
    fldz
ENDROUTINE 105

ROUTINE 106, 0                      // times -i, to complex: x -> (0, -x)
    fchs
    fldz
ENDROUTINE 106

ROUTINE 107, 1                      // cube
    fld st(0)
    fmul st, st(0)
    fmulp st(1), st
ENDROUTINE 107

ROUTINE 108, 0                      // fourth power
    fmul st, st(0)
    fmul st, st(0)
ENDROUTINE 108

ROUTINE 109, 0
    fsqrt
ENDROUTINE 109

ROUTINE 110, 1                      // log x = ln |x|; log 0 = 0
    ftst
    fnstsw ax
    EQUAL_FROM_AH
    je 1f
    fabs
    fldln2
    fxch st(1)
    fyl2x
    jmp 2f
1:
    fabs
2:
ENDROUTINE 110

ROUTINE 111, 1                      // exp
    EXP_BLOCK
ENDROUTINE 111

ROUTINE 112, 0
    fabs
ENDROUTINE 112

ROUTINE 113, 0                      // recip
    fdivr dword ptr [_CompConstOne]
ENDROUTINE 113

ROUTINE 114, 0                      // floor to int
    INT_ROUND 0x0400
ENDROUTINE 114

ROUTINE 115, 0                      // ceil to int
    INT_ROUND 0x0800
ENDROUTINE 115

ROUTINE 116, 0                      // round to int: floor of x + 0.5
    fadd dword ptr [_CompConstHalf]
    INT_ROUND 0x0400
ENDROUTINE 116

ROUTINE 117, 0                      // trunc to int
    INT_ROUND 0x0C00
ENDROUTINE 117

// Float comparisons, [x y] -> x op y in al, both popped; by the flags fucom leaves, so that an
// unordered pair (a NaN operand) makes ==, < and <= true and !=, > and >= false.
ROUTINE 118, 0                      // C3
    fucompp
    fnstsw ax
    sahf
    sete al
ENDROUTINE 118

ROUTINE 119, 0                      // not C3
    fucompp
    fnstsw ax
    sahf
    setne al
ENDROUTINE 119

ROUTINE 120, 0                      // x < y: C0
    fucompp
    fnstsw ax
    sahf
    setb al
ENDROUTINE 120

ROUTINE 121, 0                      // x <= y: C0 or C3
    fucompp
    fnstsw ax
    sahf
    setbe al
ENDROUTINE 121

ROUTINE 122, 0                      // x > y: neither
    fucompp
    fnstsw ax
    sahf
    seta al
ENDROUTINE 122

ROUTINE 123, 0                      // x >= y: not C0
    fucompp
    fnstsw ax
    sahf
    setae al
ENDROUTINE 123

// Int routines: left in eax, right in edx, result in eax.
ROUTINE 124, 0
    add eax, edx
ENDROUTINE 124

ROUTINE 125, 0
    sub eax, edx
ENDROUTINE 125

ROUTINE 126, 0
    imul edx
ENDROUTINE 126

// Remainder with the sign of the dividend; x % 0 = 0. A divisor of -1 also gives 0 without
// dividing, since idiv of -2^31 by -1 would raise a divide error.
ROUTINE 127, 0
    cmp edx, -1
    jne 1f
    xor edx, edx
1:
    or edx, edx
    je 2f
    push ebx
    mov ebx, edx
    cdq
    idiv ebx
    pop ebx
2:
    mov eax, edx
ENDROUTINE 127

ROUTINE 128, 0
    neg eax
ENDROUTINE 128

ROUTINE 129, 0
    imul eax
ENDROUTINE 129

ROUTINE 130, 0
    add eax, eax
ENDROUTINE 130

ROUTINE 131, 0                      // abs: sign mask, xor, subtract
    cdq
    xor eax, edx
    sub eax, edx
ENDROUTINE 131

ROUTINE 132, 0                      // random: eax * 134775813 + 1
    imul eax, eax, 0x8088405
    inc eax
ENDROUTINE 132

ROUTINE 133, 0
    cmp eax, edx
    sete al
ENDROUTINE 133

ROUTINE 134, 0
    cmp eax, edx
    setne al
ENDROUTINE 134

ROUTINE 135, 0
    cmp eax, edx
    setl al
ENDROUTINE 135

ROUTINE 136, 0
    cmp eax, edx
    setle al
ENDROUTINE 136

ROUTINE 137, 0
    cmp eax, edx
    setg al
ENDROUTINE 137

ROUTINE 138, 0
    cmp eax, edx
    setge al
ENDROUTINE 138

// Bool routines: al and dl.
ROUTINE 139, 0
    cmp al, dl
    sete al
ENDROUTINE 139

ROUTINE 140, 0
    cmp al, dl
    setne al
ENDROUTINE 140

ROUTINE 141, 0
    and al, dl
ENDROUTINE 141

ROUTINE 142, 0
    or al, dl
ENDROUTINE 142

ROUTINE 143, 0                      // not
    inc al
    and eax, 1
ENDROUTINE 143

// Mixed complex and float arithmetic.
ROUTINE 144, 0                      // [a b x] -> (a x, b x)
    fmul st, st(2)
    fxch st(1)
    fmulp st(2), st
ENDROUTINE 144

ROUTINE 145, 0                      // [x a b] -> (a x, b x)
    fmul st(1), st
    fmulp st(2), st
ENDROUTINE 145

ROUTINE 146, 0                      // [a b x] -> (a + x, b)
    faddp st(2), st
    fxch st(1)
ENDROUTINE 146

ROUTINE 147, 0                      // [x a b] -> (a + x, b)
    faddp st(1), st
ENDROUTINE 147

ROUTINE 148, 0                      // [a b x] -> (a - x, b)
    fsubrp st(2), st
    fxch st(1)
ENDROUTINE 148

ROUTINE 149, 0                      // [x a b] -> (x - a, -b)
    fsubrp st(1), st
    fxch st(1)
    fchs
    fxch st(1)
ENDROUTINE 149

ROUTINE 150, 0                      // [a b x] -> (x - a, -b)
    fsubp st(2), st
    fchs
    fxch st(1)
ENDROUTINE 150

ROUTINE 151, 0                      // [x a b] -> (a - x, b)
    fsubp st(1), st
ENDROUTINE 151

ROUTINE 152, 0                      // [a b x] -> (a / x, b / x)
    fdiv st, st(2)
    fxch st(1)
    fdiv st, st(2)
    fstp st(2)
ENDROUTINE 152

ROUTINE 153, 0                      // [x a b] -> (a / x, b / x)
    fdiv st(1), st
    fdivp st(2), st
ENDROUTINE 153

// Conversions.
ROUTINE 192, 0                      // float to complex: 0 as imaginary part under the value
    fldz
    fxch st(1)
ENDROUTINE 192

ROUTINE 193, 0                      // int to complex
    mov [esp-4], eax
    fldz
    fild dword ptr [esp-4]
ENDROUTINE 193

ROUTINE 194, 0                      // int to float
    mov [esp-4], eax
    fild dword ptr [esp-4]
ENDROUTINE 194

ROUTINE 195, 0                      // bool to complex
    and eax, 1
    mov [esp-4], eax
    fldz
    fild dword ptr [esp-4]
ENDROUTINE 195

ROUTINE 196, 0                      // bool to float
    and eax, 1
    mov [esp-4], eax
    fild dword ptr [esp-4]
ENDROUTINE 196

ROUTINE 197, 0                      // bool to int
    and eax, 1
ENDROUTINE 197

// ---------------------------------------------------------------------------------------------
// Table of the templates above: start, length, StackUse. The colour routines 154 to 191 have
// their own table in CompColorRoutines.S.

    .section .rdata,"dr"
    .p2align 2
    .globl _CompRoutineTable
_CompRoutineTable:
    .irp n, 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30
    .long CompRoutineStart\n, CompRoutineEnd\n - CompRoutineStart\n, CompRoutineUse\n
    .endr
    .irp n, 31,32,33,34,35,36,37,38,39,40,41,42,43,44,45,46,47,48,49,50,51,52,53,54,55,56,57,58,59,60
    .long CompRoutineStart\n, CompRoutineEnd\n - CompRoutineStart\n, CompRoutineUse\n
    .endr
    .irp n, 61,62,63,64,65,66,67,68,69,70,71,72,73,74,75,76,77,78,79,80,81,82,83,84,85,86,87,88,89,90
    .long CompRoutineStart\n, CompRoutineEnd\n - CompRoutineStart\n, CompRoutineUse\n
    .endr
    .irp n, 91,92,93,94,95,96,97,98,99,100,101,102,103,104,105,106,107,108,109,110,111,112,113,114,115
    .long CompRoutineStart\n, CompRoutineEnd\n - CompRoutineStart\n, CompRoutineUse\n
    .endr
    .irp n, 116,117,118,119,120,121,122,123,124,125,126,127,128,129,130,131,132,133,134,135,136,137,138
    .long CompRoutineStart\n, CompRoutineEnd\n - CompRoutineStart\n, CompRoutineUse\n
    .endr
    .irp n, 139,140,141,142,143,144,145,146,147,148,149,150,151,152,153
    .long CompRoutineStart\n, CompRoutineEnd\n - CompRoutineStart\n, CompRoutineUse\n
    .endr
    .globl _CompConversionTable
_CompConversionTable:
    .irp n, 192,193,194,195,196,197
    .long CompRoutineStart\n, CompRoutineEnd\n - CompRoutineStart\n, CompRoutineUse\n
    .endr
