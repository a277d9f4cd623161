// Entry points of the arbitrary-precision routines that need the pixel context (esi) or the data
// block (edi) of the generated code, which a C++ function cannot see. On entry eax holds the
// processor and edx the previous eax (the routine call sequence), except for the array copy,
// which is called with the destination offset in eax, the source offset in edx and the count in
// ecx.

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
