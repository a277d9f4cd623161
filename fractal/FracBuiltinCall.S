// Calls a code block of a pixel routine (a coloring's INIT, LOOP or FINAL code, the orbit
// recorder) from C++ with the registers compiled code expects: the pixel context in esi, the
// routine's second argument in ebp. regparm(3): code in eax, context in edx, second in ecx.

    .intel_syntax noprefix
    .text
    .globl FracCallContextCode
FracCallContextCode:
    push esi
    push edi
    push ebp
    push ebx
    mov esi, edx
    mov ebp, ecx
    call eax
    pop ebx
    pop ebp
    pop edi
    pop esi
    ret
