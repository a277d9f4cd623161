// Column kernels of the arbitrary-precision multiplication for 32-bit x86:
// the inner loops of HugeOper's MultiplyColumns and SquareColumns, with the
// column sum in three registers (mull, then add, adc, adc per product), which
// the compiler cannot keep out of memory on its own.
//
//   void HugeMultiplyColumnsAsm(const uint32_t *a, const uint32_t *b, int n,
//                               int from, uint32_t *out)
//   void HugeSquareColumnsAsm(const uint32_t *a, int n, int from, uint32_t *out)
//
// Columns from .. 2n-1 of a * b (resp. a * a) go to out[0 .. 2n-1-from]; the
// columns below `from` are left out. cdecl; ebx, esi, edi and ebp are kept.

#if defined(__i386__)

#if defined(_WIN32)
#define SYMBOL(name) _##name
#define FUNCTION(name) .globl SYMBOL(name); .def SYMBOL(name); .scl 2; .type 32; .endef; SYMBOL(name):
#else
#define SYMBOL(name) name
#define FUNCTION(name) .globl name; .type name, @function; name:
#endif

        .text

// ---------------------------------------------------------------- a * b
//
// frame: 16 bytes of saved registers, 16 of locals, then the return address
#define M_END    0(%esp)   // end of the current column's run of a
#define M_K      4(%esp)   // current column
#define M_LAST   8(%esp)   // last column, 2n - 2
#define M_A      36(%esp)
#define M_B      40(%esp)
#define M_N      44(%esp)
#define M_FROM   48(%esp)
#define M_OUT    52(%esp)

        .p2align 4
FUNCTION(HugeMultiplyColumnsAsm)
        pushl   %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        subl    $16, %esp
        movl    M_N, %eax
        leal    -2(%eax,%eax), %eax
        movl    %eax, M_LAST
        movl    M_FROM, %eax
        movl    %eax, M_K
        xorl    %ecx, %ecx              // column sum c0 (low word)
        xorl    %ebx, %ebx              // c1
        xorl    %ebp, %ebp              // c2
        cmpl    M_LAST, %eax
        jg      9f
1:      // column k: i from lo = max(0, k - n + 1) to hi = min(k, n - 1)
        movl    M_K, %eax
        movl    M_N, %edx
        decl    %edx                    // n - 1
        movl    %eax, %esi
        subl    %edx, %esi              // k - n + 1
        jns     2f
        xorl    %esi, %esi
2:      cmpl    %edx, %eax
        jle     3f
        movl    %edx, %eax              // hi = n - 1
3:      incl    %eax                    // hi + 1
        movl    M_A, %edx
        leal    (%edx,%eax,4), %eax
        movl    %eax, M_END             // a + hi + 1
        movl    M_K, %eax
        subl    %esi, %eax              // k - lo
        movl    M_B, %edi
        leal    (%edi,%eax,4), %edi     // b + k - lo
        leal    (%edx,%esi,4), %esi     // a + lo
        .p2align 4
4:      movl    (%esi), %eax
        mull    (%edi)
        addl    %eax, %ecx
        adcl    %edx, %ebx
        adcl    $0, %ebp
        addl    $4, %esi
        subl    $4, %edi
        cmpl    M_END, %esi
        jne     4b
        // out[k - from] = c0; shift the sum down a word
        movl    M_K, %eax
        movl    %eax, %edx
        subl    M_FROM, %edx
        movl    M_OUT, %esi
        movl    %ecx, (%esi,%edx,4)
        movl    %ebx, %ecx
        movl    %ebp, %ebx
        xorl    %ebp, %ebp
        incl    %eax
        movl    %eax, M_K
        cmpl    M_LAST, %eax
        jle     1b
9:      // the last column: out[2n - 1 - from] = c0
        movl    M_N, %eax
        leal    -1(%eax,%eax), %eax
        subl    M_FROM, %eax
        movl    M_OUT, %esi
        movl    %ecx, (%esi,%eax,4)
        addl    $16, %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret

// ---------------------------------------------------------------- a * a
//
// Each column: the cross products a[i] a[k-i] (i < k-i) are summed from 0,
// doubled, then the square a[k/2]^2 (k even) and the carry from the column
// below (two words) are added.
#define S_END    0(%esp)
#define S_K      4(%esp)
#define S_LAST   8(%esp)
#define S_CIN0   12(%esp)
#define S_CIN1   16(%esp)
#define S_A      40(%esp)
#define S_N      44(%esp)
#define S_FROM   48(%esp)
#define S_OUT    52(%esp)

        .p2align 4
FUNCTION(HugeSquareColumnsAsm)
        pushl   %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        subl    $20, %esp
        movl    S_N, %eax
        leal    -2(%eax,%eax), %eax
        movl    %eax, S_LAST
        movl    S_FROM, %eax
        movl    %eax, S_K
        movl    $0, S_CIN0
        movl    $0, S_CIN1
        cmpl    S_LAST, %eax
        jg      19f
11:     // cross products i from lo = max(0, k - n + 1) to (k + 1) / 2 - 1
        xorl    %ecx, %ecx
        xorl    %ebx, %ebx
        xorl    %ebp, %ebp
        movl    S_K, %eax
        movl    S_N, %edx
        decl    %edx
        movl    %eax, %esi
        subl    %edx, %esi
        jns     12f
        xorl    %esi, %esi
12:     incl    %eax
        shrl    $1, %eax                // (k + 1) / 2 = hi + 1
        cmpl    %esi, %eax
        jle     15f                     // no cross products
        movl    S_A, %edx
        leal    (%edx,%eax,4), %eax
        movl    %eax, S_END
        movl    S_K, %eax
        subl    %esi, %eax
        leal    (%edx,%eax,4), %edi     // a + k - lo
        leal    (%edx,%esi,4), %esi     // a + lo
        .p2align 4
14:     movl    (%esi), %eax
        mull    (%edi)
        addl    %eax, %ecx
        adcl    %edx, %ebx
        adcl    $0, %ebp
        addl    $4, %esi
        subl    $4, %edi
        cmpl    S_END, %esi
        jne     14b
        addl    %ecx, %ecx              // doubled
        adcl    %ebx, %ebx
        adcl    %ebp, %ebp
15:     movl    S_K, %eax
        testl   $1, %eax
        jnz     16f
        shrl    $1, %eax
        movl    S_A, %edx
        movl    (%edx,%eax,4), %eax
        mull    %eax                    // a[k/2]^2
        addl    %eax, %ecx
        adcl    %edx, %ebx
        adcl    $0, %ebp
16:     addl    S_CIN0, %ecx
        adcl    S_CIN1, %ebx
        adcl    $0, %ebp
        movl    S_K, %eax
        movl    %eax, %edx
        subl    S_FROM, %edx
        movl    S_OUT, %esi
        movl    %ecx, (%esi,%edx,4)
        movl    %ebx, S_CIN0
        movl    %ebp, S_CIN1
        incl    %eax
        movl    %eax, S_K
        cmpl    S_LAST, %eax
        jle     11b
19:     movl    S_N, %eax
        leal    -1(%eax,%eax), %eax
        subl    S_FROM, %eax
        movl    S_OUT, %esi
        movl    S_CIN0, %ecx
        movl    %ecx, (%esi,%eax,4)
        addl    $20, %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret

#endif

#if defined(__ELF__)
        .section .note.GNU-stack, "", @progbits
#endif
