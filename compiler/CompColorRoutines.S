// Colour routine templates, 154 to 191 (see CompRoutines.S for the conventions). A colour is four
// 32-bit floats, red, green, blue, alpha, on the CPU stack. A routine with two colour operands
// finds the left (first argument, the base colour of a merge) at [esp] and the right (the layer
// colour) at [esp+16]; it writes its result over the right one and releases the left with
// add esp, 16, so the result ends at [esp]. Float operands and results are on the x87 stack.
// Routines that call a program helper have a StackUse that leaves the helper the whole x87 stack.

#include "CompPixelContext.h"

    .intel_syntax noprefix

#include "CompRoutineMacros.inc"

// Calls a helper with the address of the colour operands in eax.
    .macro CALL_WITH_ESP helper
    mov eax, esp
    mov ecx, offset \helper
    call ecx
    .endm

    .text

ROUTINE 154, 2                      // colour + colour, all four channels
    .irp k, 0,4,8,12
    fld dword ptr [esp+\k]
    fadd dword ptr [esp+16+\k]
    fstp dword ptr [esp+16+\k]
    .endr
    add esp, 16
ENDROUTINE 154

ROUTINE 155, 2                      // colour - colour
    .irp k, 0,4,8,12
    fld dword ptr [esp+\k]
    fsub dword ptr [esp+16+\k]
    fstp dword ptr [esp+16+\k]
    .endr
    add esp, 16
ENDROUTINE 155

ROUTINE 156, 1                      // colour * float, the float consumed
    .irp k, 0,4,8,12
    fld dword ptr [esp+\k]
    fmul st, st(1)
    fstp dword ptr [esp+\k]
    .endr
    fstp st(0)
ENDROUTINE 156

ROUTINE 157, 1                      // colour / float: times 1 / float
    fdivr dword ptr [_CompConstOne]
    .irp k, 0,4,8,12
    fld dword ptr [esp+\k]
    fmul st, st(1)
    fstp dword ptr [esp+\k]
    .endr
    fstp st(0)
ENDROUTINE 157

ROUTINE 158, 0                      // rgb (r, g, b), alpha 1
    sub esp, 16
    fstp dword ptr [esp]
    fstp dword ptr [esp+4]
    fstp dword ptr [esp+8]
    mov dword ptr [esp+12], 0x3F800000
ENDROUTINE 158

ROUTINE 159, 0                      // rgba (r, g, b, a)
    sub esp, 16
    fstp dword ptr [esp]
    fstp dword ptr [esp+4]
    fstp dword ptr [esp+8]
    fstp dword ptr [esp+12]
ENDROUTINE 159

ROUTINE 160, 5                      // hsl (h, s, l), alpha 1
    sub esp, 16
    fstp dword ptr [esp]
    fstp dword ptr [esp+4]
    fstp dword ptr [esp+8]
    mov dword ptr [esp+12], 0x3F800000
    CALL_WITH_ESP CompHSLHelper
ENDROUTINE 160

ROUTINE 161, 4                      // hsla (h, s, l, a)
    sub esp, 16
    fstp dword ptr [esp]
    fstp dword ptr [esp+4]
    fstp dword ptr [esp+8]
    fstp dword ptr [esp+12]
    CALL_WITH_ESP CompHSLHelper
ENDROUTINE 161

ROUTINE 162, 0                      // red
    fld dword ptr [esp]
    add esp, 16
ENDROUTINE 162

ROUTINE 163, 0                      // green
    fld dword ptr [esp+4]
    add esp, 16
ENDROUTINE 163

ROUTINE 164, 0                      // blue
    fld dword ptr [esp+8]
    add esp, 16
ENDROUTINE 164

ROUTINE 165, 8                      // hue
    CALL_WITH_ESP CompHueHelper
    add esp, 16
ENDROUTINE 165

ROUTINE 166, 8                      // saturation
    CALL_WITH_ESP CompSaturationHelper
    add esp, 16
ENDROUTINE 166

ROUTINE 167, 8                      // lightness
    CALL_WITH_ESP CompLightnessHelper
    add esp, 16
ENDROUTINE 167

ROUTINE 168, 0                      // alpha
    fld dword ptr [esp+12]
    add esp, 16
ENDROUTINE 168

// Gradient lookups: the position goes as a 32-bit float into the lowest 4 of 20 reserved bytes,
// the helper fills the other 16 and removes the position, so the colour ends at [esp].
ROUTINE 169, 7
    sub esp, 20
    fstp dword ptr [esp]
    mov eax, [esi+PC_INSIDE_MAPPER]
    lea edx, [esp+4]
    mov ecx, offset CompGradientHelper
    call ecx
ENDROUTINE 169

ROUTINE 170, 7
    sub esp, 20
    fstp dword ptr [esp]
    mov eax, [esi+PC_OUTSIDE_MAPPER]
    lea edx, [esp+4]
    mov ecx, offset CompGradientHelper
    call ecx
ENDROUTINE 170

// blend (c1, c2, t) = c1 (1 - t) + c2 t on all four channels.
ROUTINE 171, 3
    fld1
    fsub st, st(1)                  // [1-t t]
    .irp k, 0,4,8,12
    fld dword ptr [esp+\k]
    fmul st, st(1)
    fld dword ptr [esp+16+\k]
    fmul st, st(3)
    faddp st(1), st
    fstp dword ptr [esp+16+\k]
    .endr
    fstp st(0)
    fstp st(0)
    add esp, 16
ENDROUTINE 171

// compose (c1, c2, t): s = t alpha2, A = alpha1 + s - s alpha1, w = s / A (0 when A is 0); the
// result has alpha A and the colour c1 (1 - w) + c2 w.
ROUTINE 172, 3
    fmul dword ptr [esp+28]         // [s]
    fld dword ptr [esp+12]          // [a1 s]
    fld st(1)
    fmul st, st(1)                  // [s*a1 a1 s]
    fsubp st(1), st                 // [a1 - s*a1, s]
    fadd st, st(1)                  // [A s]
    fst dword ptr [esp+28]
    ftst
    fnstsw ax
    and ah, 0x45
    cmp ah, 0x40
    jne 1f
    fstp st(0)
    fstp st(0)
    fldz
    jmp 2f
1:
    fdivp st(1), st                 // [w]
2:
    fld1
    fsub st, st(1)                  // [1-w w]
    .irp k, 0,4,8
    fld dword ptr [esp+\k]
    fmul st, st(1)
    fld dword ptr [esp+16+\k]
    fmul st, st(3)
    faddp st(1), st
    fstp dword ptr [esp+16+\k]
    .endr
    fstp st(0)
    fstp st(0)
    add esp, 16
ENDROUTINE 172

// Merge modes: base b = [esp], layer l = [esp+16]; red, green and blue are merged, the layer's
// alpha stays.
ROUTINE 173, 0                      // normal: the layer
    add esp, 16
ENDROUTINE 173

ROUTINE 174, 4                      // multiply: b l
    .irp k, 0,4,8
    fld dword ptr [esp+\k]
    fmul dword ptr [esp+16+\k]
    fstp dword ptr [esp+16+\k]
    .endr
    add esp, 16
ENDROUTINE 174

ROUTINE 175, 4                      // screen: 1 - (1 - b)(1 - l)
    .irp k, 0,4,8
    fld dword ptr [_CompConstOne]
    fsub dword ptr [esp+\k]
    fld dword ptr [_CompConstOne]
    fsub dword ptr [esp+16+\k]
    fmulp st(1), st
    fsubr dword ptr [_CompConstOne]
    fstp dword ptr [esp+16+\k]
    .endr
    add esp, 16
ENDROUTINE 175

ROUTINE 176, 3                      // overlay: 2 b l for b <= 0.5, else 1 - 2 (1 - b)(1 - l)
    .irp k, 0,4,8
    fld dword ptr [esp+\k]
    fcom dword ptr [_CompConstHalf]
    fnstsw ax
    sahf
    ja 1f
    fmul dword ptr [esp+16+\k]
    fadd st, st(0)
    jmp 2f
1:
    fsubr dword ptr [_CompConstOne]
    fld dword ptr [_CompConstOne]
    fsub dword ptr [esp+16+\k]
    fmulp st(1), st
    fadd st, st(0)
    fsubr dword ptr [_CompConstOne]
2:
    fstp dword ptr [esp+16+\k]
    .endr
    add esp, 16
ENDROUTINE 176

ROUTINE 177, 4                      // soft light: (l + 0.5) b for l <= 0.5, else 1 - (1 - b)(1.5 - l)
    .irp k, 0,4,8
    fld dword ptr [esp+16+\k]
    fcom dword ptr [_CompConstHalf]
    fnstsw ax
    sahf
    ja 1f
    fadd dword ptr [_CompConstHalf]
    fmul dword ptr [esp+\k]
    jmp 2f
1:
    fsubr dword ptr [_CompConstOne]
    fadd dword ptr [_CompConstHalf]
    fld dword ptr [_CompConstOne]
    fsub dword ptr [esp+\k]
    fmulp st(1), st
    fsubr dword ptr [_CompConstOne]
2:
    fstp dword ptr [esp+16+\k]
    .endr
    add esp, 16
ENDROUTINE 177

ROUTINE 178, 3                      // hard light: 2 b l for l <= 0.5, else 1 - 2 (1 - b)(1 - l)
    .irp k, 0,4,8
    fld dword ptr [esp+16+\k]
    fcom dword ptr [_CompConstHalf]
    fnstsw ax
    sahf
    ja 1f
    fmul dword ptr [esp+\k]
    fadd st, st(0)
    jmp 2f
1:
    fsubr dword ptr [_CompConstOne]
    fld dword ptr [_CompConstOne]
    fsub dword ptr [esp+\k]
    fmulp st(1), st
    fadd st, st(0)
    fsubr dword ptr [_CompConstOne]
2:
    fstp dword ptr [esp+16+\k]
    .endr
    add esp, 16
ENDROUTINE 178

ROUTINE 179, 1                      // darken: min (b, l)
    .irp k, 0,4,8
    fld dword ptr [esp+\k]
    fcomp dword ptr [esp+16+\k]
    fnstsw ax
    sahf
    jae 1f
    mov eax, [esp+\k]
    mov [esp+16+\k], eax
1:
    .endr
    add esp, 16
ENDROUTINE 179

ROUTINE 180, 1                      // lighten: max (b, l)
    .irp k, 0,4,8
    fld dword ptr [esp+\k]
    fcomp dword ptr [esp+16+\k]
    fnstsw ax
    sahf
    jbe 1f
    mov eax, [esp+\k]
    mov [esp+16+\k], eax
1:
    .endr
    add esp, 16
ENDROUTINE 180

ROUTINE 181, 2                      // difference: |b - l|
    .irp k, 0,4,8
    fld dword ptr [esp+\k]
    fsub dword ptr [esp+16+\k]
    fabs
    fstp dword ptr [esp+16+\k]
    .endr
    add esp, 16
ENDROUTINE 181

ROUTINE 182, 8                      // hue
    CALL_WITH_ESP CompMergeHueHelper
    add esp, 16
ENDROUTINE 182

ROUTINE 183, 8                      // saturation
    CALL_WITH_ESP CompMergeSaturationHelper
    add esp, 16
ENDROUTINE 183

ROUTINE 184, 8                      // color
    CALL_WITH_ESP CompMergeColorHelper
    add esp, 16
ENDROUTINE 184

ROUTINE 185, 8                      // luminance
    CALL_WITH_ESP CompMergeLuminanceHelper
    add esp, 16
ENDROUTINE 185

ROUTINE 186, 1                      // addition: min (b + l, 1)
    .irp k, 0,4,8
    fld dword ptr [esp+\k]
    fadd dword ptr [esp+16+\k]
    fcom dword ptr [_CompConstOne]
    fnstsw ax
    sahf
    jbe 1f
    fstp st(0)
    fld1
1:
    fstp dword ptr [esp+16+\k]
    .endr
    add esp, 16
ENDROUTINE 186

ROUTINE 187, 1                      // subtraction: max (b - l, 0)
    .irp k, 0,4,8
    fld dword ptr [esp+\k]
    fsub dword ptr [esp+16+\k]
    ftst
    fnstsw ax
    sahf
    jae 1f
    fstp st(0)
    fldz
1:
    fstp dword ptr [esp+16+\k]
    .endr
    add esp, 16
ENDROUTINE 187

ROUTINE 188, 8                      // HSL addition
    CALL_WITH_ESP CompMergeHSLAddHelper
    add esp, 16
ENDROUTINE 188

ROUTINE 189, 0                      // red: the layer's red, the base's green and blue
    mov eax, [esp+4]
    mov [esp+20], eax
    mov eax, [esp+8]
    mov [esp+24], eax
    add esp, 16
ENDROUTINE 189

ROUTINE 190, 0                      // green
    mov eax, [esp]
    mov [esp+16], eax
    mov eax, [esp+8]
    mov [esp+24], eax
    add esp, 16
ENDROUTINE 190

ROUTINE 191, 0                      // blue
    mov eax, [esp]
    mov [esp+16], eax
    mov eax, [esp+4]
    mov [esp+20], eax
    add esp, 16
ENDROUTINE 191

    .section .rdata,"dr"
    .p2align 2
    .globl _CompColorRoutineTable
_CompColorRoutineTable:
    .irp n, 154,155,156,157,158,159,160,161,162,163,164,165,166,167,168,169,170,171,172
    .long CompRoutineStart\n, CompRoutineEnd\n - CompRoutineStart\n, CompRoutineUse\n
    .endr
    .irp n, 173,174,175,176,177,178,179,180,181,182,183,184,185,186,187,188,189,190,191
    .long CompRoutineStart\n, CompRoutineEnd\n - CompRoutineStart\n, CompRoutineUse\n
    .endr
