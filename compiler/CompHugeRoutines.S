// Entry points of the arbitrary-precision routines that need the pixel context (esi) or the data
// block (edi) of the generated code, which a C++ function cannot see. On entry eax holds the
// processor and edx the previous eax (the routine call sequence), except for the array copy,
// which is called with the destination offset in eax, the source offset in edx and the count in
// ecx.

#include "CompPixelContext.h"

    .intel_syntax noprefix
    .text

// oldz (n): CompHugeOldZ (processor, n, context), three register arguments.
    .globl CompHugeOldZThunk
CompHugeOldZThunk:
    mov ecx, esi
    jmp CompHugeOldZ

// print complex / print float: (processor, unused, context).
    .globl CompHugePrintComplexThunk
CompHugePrintComplexThunk:
    mov ecx, esi
    jmp CompHugePrintComplex

    .globl CompHugePrintFloatThunk
CompHugePrintFloatThunk:
    mov ecx, esi
    jmp CompHugePrintFloat

// Array copy: CompHugeArrayCopy (data block, destination, source, count) on the stack.
    .globl CompHugeArrayCopyThunk
CompHugeArrayCopyThunk:
    push ecx
    push edx
    push eax
    push edi
    call CompHugeArrayCopy
    add esp, 16
    ret

// Colour routines with a float operand or result. The C++ part receives (processor, edx or the
// gradient object, address of the colour operands). A routine that produces a colour reserves its
// 16 bytes under its own return address; one that consumes a colour releases 16 bytes after the
// work, so the CPU stack ends as after the x87 template of the same number.

// The colour stays where it is (colour times or divided by a float).
    .macro HUGE_COLOR_IN_PLACE name, target
    .globl \name
\name:
    lea ecx, [esp+4]
    jmp \target
    .endm

// A new colour on the CPU stack (constructors).
    .macro HUGE_COLOR_OUT name, target
    .globl \name
\name:
    pop ecx
    sub esp, 16
    push ecx
    lea ecx, [esp+4]
    jmp \target
    .endm

// A new colour from the gradient object at [esi + offset].
    .macro HUGE_GRADIENT name, offset
    .globl \name
\name:
    pop ecx
    sub esp, 16
    push ecx
    lea ecx, [esp+4]
    mov edx, [esi+\offset]
    jmp CompHugeGradient
    .endm

// 16 bytes of colour released after the work (channel readers; blend and compose, whose result
// replaces the second colour).
    .macro HUGE_COLOR_RELEASE name, target
    .globl \name
\name:
    lea ecx, [esp+4]
    call \target
    pop ecx
    add esp, 16
    jmp ecx
    .endm

HUGE_COLOR_IN_PLACE CompHugeColorTimesThunk, CompHugeColorTimes
HUGE_COLOR_IN_PLACE CompHugeColorDivideThunk, CompHugeColorDivide
HUGE_COLOR_OUT CompHugeRGBThunk, CompHugeRGB
HUGE_COLOR_OUT CompHugeRGBAThunk, CompHugeRGBA
HUGE_COLOR_OUT CompHugeHSLThunk, CompHugeHSL
HUGE_COLOR_OUT CompHugeHSLAThunk, CompHugeHSLA
HUGE_COLOR_RELEASE CompHugeRedThunk, CompHugeRed
HUGE_COLOR_RELEASE CompHugeGreenThunk, CompHugeGreen
HUGE_COLOR_RELEASE CompHugeBlueThunk, CompHugeBlue
HUGE_COLOR_RELEASE CompHugeHueThunk, CompHugeHue
HUGE_COLOR_RELEASE CompHugeSaturationThunk, CompHugeSaturation
HUGE_COLOR_RELEASE CompHugeLightnessThunk, CompHugeLightness
HUGE_COLOR_RELEASE CompHugeAlphaThunk, CompHugeAlpha
HUGE_GRADIENT CompHugeInsideGradientThunk, PC_INSIDE_MAPPER
HUGE_GRADIENT CompHugeOutsideGradientThunk, PC_OUTSIDE_MAPPER
HUGE_COLOR_RELEASE CompHugeBlendThunk, CompHugeBlend
HUGE_COLOR_RELEASE CompHugeComposeThunk, CompHugeCompose
