// The fast loop of the built-in Mandelbrot and Julia (fractal/FracBuiltinLoops.S) re-hosted for
// x86-64, so that its x87 instructions can be timed natively on a machine that runs 32-bit code
// only under emulation: the step and the bailout test are the same macros, the counting and
// the blocks of 8 steps with their step-by-step repetition are the same macros too; only the
// integer registers and the frame differ, and the per-pixel entry and exit (FPU set-up, coloring
// calls) are left out.
//
// int BuiltinFastLoop(void *Block): rdi -> a 128-byte block laid out as the formula's data
// block (bailout at BD_BAILOUT, the |z|^2 scratch at BD_NORM) with z0 re, im at 0x00, 0x10
// (80-bit), c re, im at 0x20, 0x30 and maxiter (at least 2) at 0x50; returns iterations done.

#include "FracBuiltinData.h"
#include "FracBuiltinStep.inc"

#define N_Z 0x00
#define N_C 0x20
#define N_MAXITER 0x50
#define N_STOP 0x54     // 0: the stop byte the loop checks before every block
#define N_SAVED_RE 0x70 // below the stack pointer: the red zone of a leaf function
#define N_SAVED_IM 0x60

    .intel_syntax noprefix
    .text
    .globl BuiltinFastLoop
BuiltinFastLoop:
    fld tbyte ptr [rdi+N_C+16]
    fld tbyte ptr [rdi+N_C]
    fld tbyte ptr [rdi+N_Z+16]
    fld tbyte ptr [rdi+N_Z]
    SQUARES
    mov esi, [rdi+N_MAXITER] // the remaining count (ebx in the 32-bit loop)
    FAST_LOOP esi, ecx, rdi, [rdi+N_MAXITER], [rsp-N_SAVED_RE], [rsp-N_SAVED_IM], [rdi+N_STOP], 8f, 7f
7:  // escaped
    mov eax, [rdi+N_MAXITER]
    sub eax, esi
    jmp 9f
8:  // inside
    mov eax, [rdi+N_MAXITER]
9:
    fstp st(0)
    fstp st(0)
    fstp st(0)
    fstp st(0)
    fstp st(0)
    fstp st(0)
    ret

    .section .note.GNU-stack,"",@progbits
