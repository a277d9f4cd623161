#include "vexDisAsm.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "vexScrambled.h"
#include "vexStrings.h"
#include "vexTools.h"

// ---------------------------------------------------------------------------------------------
// Mnemonic list. Conventions: "%cc" condition code, "%seg" segment register, '/' variants by
// prefix (none, operand size, repne, rep), '|' variants by the ModRM reg field (x87 groups: 8 memory
// and 8 register variants, the latter split again by rm with '-'), ':' register:memory form, 'S'
// and 'P' single/double and scalar/packed letters.

namespace {

constexpr const char *Mnemonics[] = {
    "", "aaa", "aad", "aam", "aas", "adc", "add", "addPS", "and", "andnPS", "arpl", "bound", "bsf", "bsr",
    "bswap", "bt", "btc", "btr", "bts", "call", "clc", "cld", "cli", "clts", "cmc", "cmov%cc", "cmp", "cmpPS",
    "cmpsb", "cmpxchg", "cmpxchg8b", "comisS", "cpuid", "cvtPi2PS", "cvtPS2Pi", "cvttPS2Pi", "daa", "das",
    "dec", "divPS", "emms", "enter", "femms", "hlt", "imul", "in", "inc", "insb", "int", "int     3", "int01",
    "into", "invd", "iret", "j%cc", "jecxz", "jmp", "lahf", "lar", "lds", "lea", "leave", "les", "lfs", "lgs",
    "sysret", "lodsb", "loop", "loope", "loopne", "lsl", "lss", "maxPS", "minPS", "mov", "movaPS", "movd",
    "movhPS", "movlPS", "movmskPS", "movnti", "movntPS", "movsb", "movsx", "movzx", "mulPS", "nop", "or",
    "orPS", "out", "outsb", "packssdw", "packsswb", "packuswb", "paddb", "paddd", "paddq", "paddsb", "paddsw",
    "paddusb", "paddusw", "paddw", "pand", "pandn", "pavgb", "pavgw", "pcmpeqb", "pcmpeqd", "pcmpeqw",
    "pcmpgtb", "pcmpgtd", "pcmpgtw", "pextrw", "pinsrw", "pmaddwd", "pmaxsw", "pmaxub", "pminsw", "pminub",
    "pmovmskb", "pmulhuw", "pmulhw", "pmullw", "pmuludq", "pop", "por", "psadbw", "pslld", "psllq", "psllw",
    "psrad", "psraw", "psrld", "psrlq", "psrlw", "psubb", "psubd", "psubq", "psubsb", "psubsw", "psubusb",
    "psubusw", "psubw", "punpckhbw", "punpckhdq", "punpckhqdq", "punpckhwd", "punpcklbw", "punpckldq",
    "punpcklwd", // 149
    "punpcklqdq", "push", "pxor", "rcpPS", "rdmsr", "rdpmc", "rdtsc", "ret", "rsm", "rsqrtPS", "sahf", "salc",
    "sbb", "scasb", "set%cc", "shld", "shrd", "shufPS", "sqrtPS", "stc", "std", "sti", "stosb", "sub",
    "subPS", "syscall", "sysenter", "sysexit", "test", "ucomisS", "unpckhPS", "unpcklPS", "wait", "wbinvd",
    "wrmsr", "xadd", "xchg", "xlat", "xor", "xorPS", "cwde/cbw", "cdq/cwd", "pop     %seg", "popad/popa",
    "popfd/popf", "push    %seg", "pushad/pusha", "pushfd/pushf", "outsd/outsw", "insd/insw", "movsd/movsw",
    "cmpsd/cmpsw", "lodsd/lodsw", "stosd/stosw", "scasd/scasw", "maskmovq/maskmovdqu", "movd///movq",
    "movntq/movntdq", "movq//movdq2q/movq2dq", "movq/movdqa//movdqu", "movuPS//movPS/movPS",
    "prefetch|prefetchw", "pshufw/pshufd/pshuflw/pshufhw", "sgdt|sidt|lgdt|lidt|smsw||lmsw|invlpg",
    "sldt|str|lldt|ltr|verr|verw", "||||bt|bts|btr|btc", "||psrld||psrad||pslld",
    "||psrlq|psrldq|||psllq|pslldq", "||psrlw||psraw||psllw", "cvtdq2ps/cvtps2dq//cvttps2dq",
    "cvtPs2Pd/cvtPd2Ps/cvtPd2Ps", "cvttpd2dq//cvtpd2dq/cvtdq2pd", "add|or|adc|sbb|and|sub|xor|cmp",
    "inc|dec|call|call|jmp|jmp|push", "rol|ror|rcl|rcr|shl|shr|sal|sar", "test||not|neg|mul|imul|div|idiv",
    "add|mul|com|comp|sub|subr|div|divr|add|mul|com|comp|subr|sub|divr|div",
    "movhlPS:movlPS/movlPS/movhlPS:movlPS/movhlPS:movlPS",
    "movlhPS:movhPS/movhPS/movlhPS:movhPS/movlhPS:movhPS",
    "prefetchnta|prefetcht0|prefetcht1|prefetcht2|prefetcht3",
    "fxsave|fxrstor|ldmxcsr|stmxcsr||lfence|mfence|sfence:clflush",
    "ld||st|stp|ldenv|ldcw|nstenv|nstcw|ld|xch|nop|stp1|chs-abs---tst-xam|ld1-ldl2t-ldl2e-ldpi-ldlg2-ldln2-"
    "ldz|"
    "2xm1-yl2x-ptan-patan-xtract-prem1-decstp-incstp|prem-yl2xp1-sqrt-sincos-rndint-scale-sin-cos",
    "iadd|imul|icom|icomp|isub|isubr|idiv|idivr|cmovb|cmove|cmovbe|cmovu||ucompp",
    "ild||ist|istp||ld||stp|cmovnb|cmovne|cmovnbe|cmovnu|neni-ndisi-nclex-ninit-nsetpm|ucomi|comi",
    "ld||st|stp|rstor||nsave|nstsw|free|xch4|st|stp|ucom|ucomp",
    "iadd|imul|icom|icomp|isub|isubr|idiv|idivr|addp|mulp|comp5|compp|subrp|subp|divrp|divp",
    "ild||ist|istp|bld|ild|bstp|istp|freep|xch7|stp8|stp9|nstsw  ax|ucomip|comip", "andPS",
    // Entries beyond the original list: the undefined-instruction trap, and the D8 register forms,
    // which (unlike DC) keep the memory forms' order of sub/subr and div/divr.
    "ud2", "add|mul|com|comp|sub|subr|div|divr",
    // 238, 239 above; the D9 register forms' "fnop" variant only exists for rm 0.
};

constexpr std::uint8_t M(std::string_view name) {
    for (std::size_t i = 1; i < std::size(Mnemonics); ++i)
        if (name == Mnemonics[i])
            return static_cast<std::uint8_t>(i);
    throw "unknown mnemonic";
}

// Property word fields.
enum : std::uint16_t {
    R8 = 1,
    R16 = 2,
    RSEG = 3,
    R32 = 4,
    RMMX = 5,
    RST = 6,
    RXMM = 7, // with ModRM
    IAL = 1,
    IACC = 2,
    IOPR8 = 4,
    IOPR32 = 5,
    IACCOPR = 6,
    IPORT = 7, // without ModRM
    MGROUP = 1 << 3,
    MB = 2 << 3,
    MW = 3 << 3,
    MD = 4 << 3,
    MQ = 5 << 3,
    MT = 6 << 3,
    MO = 7 << 3,
    OSR = 1 << 6,
    OSM = 1 << 7,
    PTR = 1 << 8,
    RMFIRST = 1 << 9,
    I8 = 1 << 10,
    I16 = 2 << 10,
    IV = 3 << 10,
    REL = 1 << 12,
    WREG = 1 << 13,
    WRM = 2 << 13,
    WOPR = 3 << 13,
    WACC = 4 << 13,
    WREGRM = 5 << 13,
    WACCRM = 6 << 13,
    WACCOPR = 7 << 13,
    UNDEF = 0xFFFF,
};

struct TOpcodeEntry {
    std::uint16_t Properties;
    std::uint8_t Mnemonic;
};

constexpr TOpcodeEntry E(std::uint16_t properties, std::string_view name) {
    return {properties, M(name)};
}
constexpr TOpcodeEntry Undefined{UNDEF, 0};

constexpr std::uint16_t EbGb = R8 | MB | RMFIRST, EvGv = R32 | MD | OSR | OSM | RMFIRST, GbEb = R8 | MB,
                        GvEv = R32 | MD | OSR | OSM;
constexpr std::uint16_t MMX = RMMX | MQ | OSR | OSM, SSE = RXMM | MO;

constexpr std::array<TOpcodeEntry, 256> MakeOneByteTable() {
    std::array<TOpcodeEntry, 256> t{};
    const char *alu[] = {"add", "or", "adc", "sbb", "and", "sub", "xor", "cmp"};
    for (int row = 0; row < 8; ++row) {
        const int base = row * 8;
        const bool compare = row == 7;
        t[base + 0] = E(EbGb | (compare ? 0 : WRM), alu[row]);
        t[base + 1] = E(EvGv | (compare ? 0 : WRM), alu[row]);
        t[base + 2] = E(GbEb | (compare ? 0 : WREG), alu[row]);
        t[base + 3] = E(GvEv | (compare ? 0 : WREG), alu[row]);
        t[base + 4] = E(IAL | I8 | (compare ? 0 : WACC), alu[row]);
        t[base + 5] = E(IACC | OSR | IV | (compare ? 0 : WACC), alu[row]);
    }
    t[0x06] = t[0x0E] = t[0x16] = t[0x1E] = E(0, "push    %seg");
    t[0x07] = t[0x17] = t[0x1F] = E(0, "pop     %seg");
    t[0x0F] = Undefined;                               // two-byte escape, never looked up here
    t[0x26] = t[0x2E] = t[0x36] = t[0x3E] = Undefined; // prefixes
    t[0x27] = E(WACC, "daa");
    t[0x2F] = E(WACC, "das");
    t[0x37] = E(WACC, "aaa");
    t[0x3F] = E(WACC, "aas");
    for (int r = 0; r < 8; ++r) {
        t[0x40 + r] = E(IOPR32 | OSR | WOPR, "inc");
        t[0x48 + r] = E(IOPR32 | OSR | WOPR, "dec");
        t[0x50 + r] = E(IOPR32 | OSR, "push");
        t[0x58 + r] = E(IOPR32 | OSR | WOPR, "pop");
        t[0x90 + r] = E(IACCOPR | OSR | WACCOPR, "xchg");
        t[0xB0 + r] = E(IOPR8 | I8 | WOPR, "mov");
        t[0xB8 + r] = E(IOPR32 | OSR | IV | WOPR, "mov");
        t[0xC8 + r] = Undefined;
    }
    t[0x60] = E(0, "pushad/pusha");
    t[0x61] = E(0, "popad/popa");
    t[0x62] = E(R32 | MQ | OSR, "bound");
    t[0x63] = E(R16 | MW | RMFIRST | WRM, "arpl");
    t[0x64] = t[0x65] = t[0x66] = t[0x67] = Undefined;
    t[0x68] = E(IV, "push");
    t[0x69] = E(GvEv | IV | WREG, "imul");
    t[0x6A] = E(I8, "push");
    t[0x6B] = E(GvEv | I8 | WREG, "imul");
    t[0x6C] = E(0, "insb");
    t[0x6D] = E(0, "insd/insw");
    t[0x6E] = E(0, "outsb");
    t[0x6F] = E(0, "outsd/outsw");
    for (int c = 0; c < 16; ++c)
        t[0x70 + c] = E(I8 | REL, "j%cc");
    t[0x80] = t[0x82] = E(MB | PTR | I8, "add|or|adc|sbb|and|sub|xor|cmp");
    t[0x81] = E(MD | OSM | PTR | IV, "add|or|adc|sbb|and|sub|xor|cmp");
    t[0x83] = E(MD | OSM | PTR | I8, "add|or|adc|sbb|and|sub|xor|cmp");
    t[0x84] = E(EbGb, "test");
    t[0x85] = E(EvGv, "test");
    t[0x86] = E(EbGb | WREGRM, "xchg");
    t[0x87] = E(EvGv | WREGRM, "xchg");
    t[0x88] = E(EbGb | WRM, "mov");
    t[0x89] = E(EvGv | WRM, "mov");
    t[0x8A] = E(GbEb | WREG, "mov");
    t[0x8B] = E(GvEv | WREG, "mov");
    t[0x8C] = E(RSEG | MW | RMFIRST | WRM, "mov");
    t[0x8D] = E(GvEv | WREG, "lea");
    t[0x8E] = E(RSEG | MW, "mov");
    t[0x8F] = E(MD | OSM | PTR | WRM, "pop");
    t[0x90] = E(0, "nop");
    t[0x98] = E(WACC, "cwde/cbw");
    t[0x99] = E(0, "cdq/cwd");
    t[0x9A] = E(0, "call");
    t[0x9B] = E(0, "wait");
    t[0x9C] = E(0, "pushfd/pushf");
    t[0x9D] = E(0, "popfd/popf");
    t[0x9E] = E(0, "sahf");
    t[0x9F] = E(WACC, "lahf");
    t[0xA0] = E(IAL | PTR | WACC, "mov");
    t[0xA1] = E(IACC | OSR | PTR | WACC, "mov");
    t[0xA2] = E(IAL | PTR | RMFIRST, "mov");
    t[0xA3] = E(IACC | OSR | PTR | RMFIRST, "mov");
    t[0xA4] = E(0, "movsb");
    t[0xA5] = E(0, "movsd/movsw");
    t[0xA6] = E(0, "cmpsb");
    t[0xA7] = E(0, "cmpsd/cmpsw");
    t[0xA8] = E(IAL | I8, "test");
    t[0xA9] = E(IACC | OSR | IV, "test");
    t[0xAA] = E(0, "stosb");
    t[0xAB] = E(0, "stosd/stosw");
    t[0xAC] = E(WACC, "lodsb");
    t[0xAD] = E(WACC, "lodsd/lodsw");
    t[0xAE] = E(0, "scasb");
    t[0xAF] = E(0, "scasd/scasw");
    t[0xC0] = E(MB | PTR | I8 | WRM, "rol|ror|rcl|rcr|shl|shr|sal|sar");
    t[0xC1] = E(MD | OSM | PTR | I8 | WRM, "rol|ror|rcl|rcr|shl|shr|sal|sar");
    t[0xC2] = E(I16, "ret");
    t[0xC3] = E(0, "ret");
    t[0xC4] = E(GvEv | WREG, "les");
    t[0xC5] = E(GvEv | WREG, "lds");
    t[0xC6] = E(MB | PTR | I8 | WRM, "mov");
    t[0xC7] = E(MD | OSM | PTR | IV | WRM, "mov");
    t[0xC8] = E(0, "enter");
    t[0xC9] = E(0, "leave");
    t[0xCA] = E(I16, "ret");
    t[0xCB] = E(0, "ret");
    t[0xCC] = E(0, "int     3");
    t[0xCD] = E(I8, "int");
    t[0xCE] = E(0, "into");
    t[0xCF] = E(0, "iret");
    t[0xD0] = t[0xD2] = E(MB | PTR | WRM, "rol|ror|rcl|rcr|shl|shr|sal|sar");
    t[0xD1] = t[0xD3] = E(MD | OSM | PTR | WRM, "rol|ror|rcl|rcr|shl|shr|sal|sar");
    t[0xD4] = E(I8 | WACC, "aam");
    t[0xD5] = E(I8 | WACC, "aad");
    t[0xD6] = E(WACC, "salc");
    t[0xD7] = E(WACC, "xlat");
    for (int x = 0xD8; x <= 0xDF; ++x)
        t[x] = {MGROUP, 0};
    t[0xE0] = E(I8 | REL, "loopne");
    t[0xE1] = E(I8 | REL, "loope");
    t[0xE2] = E(I8 | REL, "loop");
    t[0xE3] = E(I8 | REL, "jecxz");
    t[0xE4] = E(IAL | I8 | WACC, "in");
    t[0xE5] = E(IACC | OSR | I8 | WACC, "in");
    t[0xE6] = E(IAL | I8 | RMFIRST, "out");
    t[0xE7] = E(IACC | OSR | I8 | RMFIRST, "out");
    t[0xE8] = E(IV | REL, "call");
    t[0xE9] = E(IV | REL, "jmp");
    t[0xEA] = E(0, "jmp");
    t[0xEB] = E(I8 | REL, "jmp");
    t[0xEC] = E(IPORT | WACC, "in");
    t[0xED] = E(IPORT | OSR | WACC, "in");
    t[0xEE] = E(IPORT | RMFIRST, "out");
    t[0xEF] = E(IPORT | OSR | RMFIRST, "out");
    t[0xF0] = t[0xF2] = t[0xF3] = Undefined;
    t[0xF1] = E(0, "int01");
    t[0xF4] = E(0, "hlt");
    t[0xF5] = E(0, "cmc");
    t[0xF6] = t[0xF7] = {MGROUP, 0};
    t[0xF8] = E(0, "clc");
    t[0xF9] = E(0, "stc");
    t[0xFA] = E(0, "cli");
    t[0xFB] = E(0, "sti");
    t[0xFC] = E(0, "cld");
    t[0xFD] = E(0, "std");
    t[0xFE] = E(MB | PTR | WRM, "inc|dec|call|call|jmp|jmp|push");
    t[0xFF] = E(MD | OSM | PTR, "inc|dec|call|call|jmp|jmp|push");
    return t;
}

constexpr std::array<TOpcodeEntry, 256> MakeTwoByteTable() {
    std::array<TOpcodeEntry, 256> t{};
    for (auto &entry : t)
        entry = Undefined;
    t[0x00] = E(MW, "sldt|str|lldt|ltr|verr|verw");
    t[0x01] = E(MW, "sgdt|sidt|lgdt|lidt|smsw||lmsw|invlpg");
    t[0x02] = E(R32 | MW | OSR | WREG, "lar");
    t[0x03] = E(R32 | MW | OSR | WREG, "lsl");
    t[0x05] = E(0, "syscall");
    t[0x06] = E(0, "clts");
    t[0x07] = E(0, "sysret");
    t[0x08] = E(0, "invd");
    t[0x09] = E(0, "wbinvd");
    t[0x0B] = E(0, "ud2");
    t[0x0D] = E(MB, "prefetch|prefetchw");
    t[0x0E] = E(0, "femms");
    t[0x0F] = {RMMX | MQ | I8, 0};
    t[0x10] = E(SSE, "movuPS//movPS/movPS");
    t[0x11] = E(SSE | RMFIRST, "movuPS//movPS/movPS");
    t[0x12] = E(SSE, "movhlPS:movlPS/movlPS/movhlPS:movlPS/movhlPS:movlPS");
    t[0x13] = E(SSE | RMFIRST, "movlPS");
    t[0x14] = E(SSE, "unpcklPS");
    t[0x15] = E(SSE, "unpckhPS");
    t[0x16] = E(SSE, "movlhPS:movhPS/movhPS/movlhPS:movhPS/movlhPS:movhPS");
    t[0x17] = E(SSE | RMFIRST, "movhPS");
    t[0x18] = E(MB, "prefetchnta|prefetcht0|prefetcht1|prefetcht2|prefetcht3");
    t[0x1F] = E(MD | OSM | PTR, "nop");
    t[0x20] = t[0x21] = E(RSEG | MD | RMFIRST | WRM, "mov");
    t[0x22] = t[0x23] = E(RSEG | MD, "mov");
    t[0x28] = E(SSE, "movaPS");
    t[0x29] = E(SSE | RMFIRST, "movaPS");
    t[0x2A] = E(RXMM | MQ, "cvtPi2PS");
    t[0x2B] = E(SSE | RMFIRST, "movntPS");
    t[0x2C] = E(RMMX | MO, "cvttPS2Pi");
    t[0x2D] = E(RMMX | MO, "cvtPS2Pi");
    t[0x2E] = E(SSE, "ucomisS");
    t[0x2F] = E(SSE, "comisS");
    t[0x30] = E(0, "wrmsr");
    t[0x31] = E(WACC, "rdtsc");
    t[0x32] = E(WACC, "rdmsr");
    t[0x33] = E(WACC, "rdpmc");
    t[0x34] = E(0, "sysenter");
    t[0x35] = E(0, "sysexit");
    for (int c = 0; c < 16; ++c) {
        t[0x40 + c] = E(GvEv | WREG, "cmov%cc");
        t[0x80 + c] = E(IV | REL, "j%cc");
        t[0x90 + c] = E(MB | PTR | WRM, "set%cc");
    }
    t[0x50] = E(R32 | MO | WREG, "movmskPS");
    const char *sse[] = {"sqrtPS",
                         "rsqrtPS",
                         "rcpPS",
                         "andPS",
                         "andnPS",
                         "orPS",
                         "xorPS",
                         "addPS",
                         "mulPS",
                         "cvtPs2Pd/cvtPd2Ps/cvtPd2Ps",
                         "cvtdq2ps/cvtps2dq//cvttps2dq",
                         "subPS",
                         "minPS",
                         "divPS",
                         "maxPS"};
    for (int i = 0; i < 15; ++i)
        t[0x51 + i] = E(SSE, sse[i]);
    const char *mmx60[] = {"punpcklbw", "punpcklwd", "punpckldq",  "packsswb",  "pcmpgtb",
                           "pcmpgtw",   "pcmpgtd",   "packuswb",   "punpckhbw", "punpckhwd",
                           "punpckhdq", "packssdw",  "punpcklqdq", "punpckhqdq"};
    for (int i = 0; i < 14; ++i)
        t[0x60 + i] = E(MMX, mmx60[i]);
    t[0x6E] = E(RMMX | OSR | MD, "movd");
    t[0x6F] = E(MMX, "movq/movdqa//movdqu");
    t[0x70] = E(MMX | I8, "pshufw/pshufd/pshuflw/pshufhw");
    t[0x71] = E(MQ | OSM | I8, "||psrlw||psraw||psllw");
    t[0x72] = E(MQ | OSM | I8, "||psrld||psrad||pslld");
    t[0x73] = E(MQ | OSM | I8, "||psrlq|psrldq|||psllq|pslldq");
    t[0x74] = E(MMX, "pcmpeqb");
    t[0x75] = E(MMX, "pcmpeqw");
    t[0x76] = E(MMX, "pcmpeqd");
    t[0x77] = E(0, "emms");
    t[0x7E] = E(RMMX | OSR | MD | RMFIRST, "movd///movq");
    t[0x7F] = E(MMX | RMFIRST, "movq/movdqa//movdqu");
    t[0xA0] = t[0xA8] = E(0, "push    %seg");
    t[0xA1] = t[0xA9] = E(0, "pop     %seg");
    t[0xA2] = E(0, "cpuid");
    t[0xA3] = E(EvGv, "bt");
    t[0xA4] = E(EvGv | I8 | WRM, "shld");
    t[0xA5] = E(EvGv | WRM, "shld");
    t[0xAA] = E(0, "rsm");
    t[0xAB] = E(EvGv | WRM, "bts");
    t[0xAC] = E(EvGv | I8 | WRM, "shrd");
    t[0xAD] = E(EvGv | WRM, "shrd");
    t[0xAE] = E(MD, "fxsave|fxrstor|ldmxcsr|stmxcsr||lfence|mfence|sfence:clflush");
    t[0xAF] = E(GvEv | WREG, "imul");
    t[0xB0] = E(EbGb | WACCRM, "cmpxchg");
    t[0xB1] = E(EvGv | WACCRM, "cmpxchg");
    t[0xB2] = E(GvEv | WREG, "lss");
    t[0xB3] = E(EvGv | WRM, "btr");
    t[0xB4] = E(GvEv | WREG, "lfs");
    t[0xB5] = E(GvEv | WREG, "lgs");
    t[0xB6] = E(R32 | OSR | MB | PTR | WREG, "movzx");
    t[0xB7] = E(R32 | OSR | MW | PTR | WREG, "movzx");
    t[0xBA] = E(MD | OSM | PTR | I8, "||||bt|bts|btr|btc");
    t[0xBB] = E(EvGv | WRM, "btc");
    t[0xBC] = E(GvEv | WREG, "bsf");
    t[0xBD] = E(GvEv | WREG, "bsr");
    t[0xBE] = E(R32 | OSR | MB | PTR | WREG, "movsx");
    t[0xBF] = E(R32 | OSR | MW | PTR | WREG, "movsx");
    t[0xC0] = E(EbGb | WREGRM, "xadd");
    t[0xC1] = E(EvGv | WREGRM, "xadd");
    t[0xC2] = E(SSE | I8, "cmpPS");
    t[0xC3] = E(R32 | MD | RMFIRST, "movnti");
    t[0xC4] = E(RMMX | OSR | MW | I8, "pinsrw");
    t[0xC5] = E(R32 | MQ | OSM | I8 | WREG, "pextrw");
    t[0xC6] = E(SSE | I8, "shufPS");
    t[0xC7] = E(MQ | PTR, "cmpxchg8b");
    for (int r = 0; r < 8; ++r)
        t[0xC8 + r] = E(IOPR32 | WOPR, "bswap");
    const char *mmxD0[] = {
        nullptr,   "psrlw",   "psrld",  "psrlq", "paddq",   "pmullw",  nullptr,  "pmovmskb",
        "psubusb", "psubusw", "pminub", "pand",  "paddusb", "paddusw", "pmaxub", "pandn",
        "pavgb",   "psraw",   "psrad",  "pavgw", "pmulhuw", "pmulhw",  nullptr,  "movntq/movntdq",
        "psubsb",  "psubsw",  "pminsw", "por",   "paddsb",  "paddsw",  "pmaxsw", "pxor",
        nullptr,   "psllw",   "pslld",  "psllq", "pmuludq", "pmaddwd", "psadbw", "maskmovq/maskmovdqu",
        "psubb",   "psubw",   "psubd",  "psubq", "paddb",   "paddw",   "paddd",  nullptr};
    for (int i = 0; i < 48; ++i)
        if (mmxD0[i])
            t[0xD0 + i] = E(MMX, mmxD0[i]);
    t[0xD6] = E(SSE | RMFIRST, "movq//movdq2q/movq2dq");
    t[0xD7] = E(R32 | MQ | OSM | WREG, "pmovmskb");
    t[0xE6] = E(SSE, "cvttpd2dq//cvtpd2dq/cvtdq2pd");
    t[0xE7] = E(MMX | RMFIRST, "movntq/movntdq");
    return t;
}

// Group rows: the opcode, eight memory forms and eight register forms by the reg field.
struct TGroupRow {
    std::uint8_t Opcode;
    std::uint16_t Memory[8];
    std::uint16_t Register[8];
    std::uint8_t Mnemonic;
};

constexpr std::uint16_t U = UNDEF;
constexpr std::uint16_t FM32 = MD | PTR, FM64 = MQ | PTR, FM80 = MT | PTR, FM16 = MW | PTR;
constexpr std::uint16_t STI = MT, STSTI = RST | MT, STIST = RST | MT | RMFIRST;

constexpr TGroupRow GroupRows[10] = {
    {0xF6,
     {MB | PTR | I8, U, MB | PTR | WRM, MB | PTR | WRM, MB | PTR | WACC, MB | PTR | WACC, MB | PTR | WACC,
      MB | PTR | WACC},
     {MB | PTR | I8, U, MB | PTR | WRM, MB | PTR | WRM, MB | PTR | WACC, MB | PTR | WACC, MB | PTR | WACC,
      MB | PTR | WACC},
     M("test||not|neg|mul|imul|div|idiv")},
    {0xF7,
     {MD | OSM | PTR | IV, U, MD | OSM | PTR | WRM, MD | OSM | PTR | WRM, MD | OSM | PTR | WACC,
      MD | OSM | PTR | WACC, MD | OSM | PTR | WACC, MD | OSM | PTR | WACC},
     {MD | OSM | PTR | IV, U, MD | OSM | PTR | WRM, MD | OSM | PTR | WRM, MD | OSM | PTR | WACC,
      MD | OSM | PTR | WACC, MD | OSM | PTR | WACC, MD | OSM | PTR | WACC},
     M("test||not|neg|mul|imul|div|idiv")},
    {0xD8,
     {FM32, FM32, FM32, FM32, FM32, FM32, FM32, FM32},
     {STSTI, STSTI, STI, STI, STSTI, STSTI, STSTI, STSTI},
     M("add|mul|com|comp|sub|subr|div|divr")},
    {0xD9,
     {FM32, U, FM32, FM32, MD, FM16, MD, FM16},
     {STI, STI, 0, STI, 0, 0, 0, 0},
     M("ld||st|stp|ldenv|ldcw|nstenv|nstcw|ld|xch|nop|stp1|chs-abs---tst-xam|ld1-ldl2t-ldl2e-ldpi-ldlg2-"
       "ldln2-"
       "ldz|2xm1-yl2x-ptan-patan-xtract-prem1-decstp-incstp|prem-yl2xp1-sqrt-sincos-rndint-scale-sin-cos")},
    {0xDA,
     {FM32, FM32, FM32, FM32, FM32, FM32, FM32, FM32},
     {STSTI, STSTI, STSTI, STSTI, U, 0, U, U},
     M("iadd|imul|icom|icomp|isub|isubr|idiv|idivr|cmovb|cmove|cmovbe|cmovu||ucompp")},
    {0xDB,
     {FM32, U, FM32, FM32, U, FM80, U, FM80},
     {STSTI, STSTI, STSTI, STSTI, 0, STSTI, STSTI, U},
     M("ild||ist|istp||ld||stp|cmovnb|cmovne|cmovnbe|cmovnu|neni-ndisi-nclex-ninit-nsetpm|ucomi|comi")},
    {0xDC,
     {FM64, FM64, FM64, FM64, FM64, FM64, FM64, FM64},
     {STIST, STIST, STI, STI, STIST, STIST, STIST, STIST},
     M("add|mul|com|comp|sub|subr|div|divr|add|mul|com|comp|subr|sub|divr|div")},
    {0xDD,
     {FM64, U, FM64, FM64, MD, U, MD, FM16},
     {STI, STI, STI, STI, STI, STI, U, U},
     M("ld||st|stp|rstor||nsave|nstsw|free|xch4|st|stp|ucom|ucomp")},
    {0xDE,
     {FM16, FM16, FM16, FM16, FM16, FM16, FM16, FM16},
     {STIST, STIST, STI, 0, STIST, STIST, STIST, STIST},
     M("iadd|imul|icom|icomp|isub|isubr|idiv|idivr|addp|mulp|comp5|compp|subrp|subp|divrp|divp")},
    {0xDF,
     {FM16, U, FM16, FM16, FM80, FM64, FM80, FM64},
     {STI, STI, STI, STI, WACC, STSTI, STSTI, U},
     M("ild||ist|istp|bld|ild|bstp|istp|freep|xch7|stp8|stp9|nstsw  ax|ucomip|comip")},
};

constexpr std::array<TOpcodeEntry, 256> OneByte = MakeOneByteTable();
constexpr std::array<TOpcodeEntry, 256> TwoByte = MakeTwoByteTable();

const TGroupRow *FindGroup(std::uint16_t opcode) {
    for (const TGroupRow &row : GroupRows)
        if (row.Opcode == opcode)
            return &row;
    return nullptr;
}

struct T3DNow {
    std::uint8_t Suffix;
    const char *Name;
};
constexpr T3DNow Amd3DNow[] = {{0x0C, "pi2fw"},    {0x0D, "pi2fd"},   {0x1C, "pf2iw"},    {0x1D, "pf2id"},
                               {0x8A, "pfnacc"},   {0x8E, "pfpnacc"}, {0x90, "pfcmpge"},  {0x94, "pfmin"},
                               {0x96, "pfrcp"},    {0x97, "pfrsqrt"}, {0x9A, "pfsub"},    {0x9E, "pfadd"},
                               {0xA0, "pfcmpgt"},  {0xA4, "pfmax"},   {0xA6, "pfrcpit1"}, {0xA7, "pfrsqit1"},
                               {0xAA, "pfsubr"},   {0xAE, "pfacc"},   {0xB0, "pfcmpeq"},  {0xB4, "pfmul"},
                               {0xB6, "pfrcpit2"}, {0xB7, "pmulhrw"}, {0xBB, "pswapd"},   {0xBF, "pavgusb"}};

} // namespace

const char *MnemonicEntry(unsigned Index) {
    return Index < std::size(Mnemonics) ? Mnemonics[Index] : "";
}

const char *Amd3DNowName(std::uint8_t Suffix) {
    for (const T3DNow &entry : Amd3DNow)
        if (entry.Suffix == Suffix)
            return entry.Name;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Guarded memory reads

namespace {

// Write-copy pages are readable too: the system maps the writable sections of loaded modules that
// way, import address tables included, and calls through those must be readable.
bool IsReadableProtection(DWORD protect) {
    switch (protect) {
    case PAGE_READONLY:
    case PAGE_READWRITE:
    case PAGE_WRITECOPY:
    case PAGE_EXECUTE:
    case PAGE_EXECUTE_READ:
    case PAGE_EXECUTE_READWRITE:
    case PAGE_EXECUTE_WRITECOPY:
        return true;
    default:
        return false;
    }
}

const TRegion *FindRegion(const TRegionList &regions, std::uintptr_t address) {
    auto it = std::upper_bound(regions.begin(), regions.end(), address,
                               [](std::uintptr_t a, const TRegion &r) { return a < r.Start; });
    if (it == regions.begin())
        return nullptr;
    --it;
    return address < it->End ? &*it : nullptr;
}

// How many bytes from Address on (at most Wanted) are readable.
std::size_t ReadableSpan(std::uintptr_t address, std::size_t wanted, const TRegionList *regions) {
    std::size_t span = 0;
    while (span < wanted) {
        const std::uintptr_t at = address + span;
        if (at < address)
            break;
        std::uintptr_t end;
        if (regions) {
            const TRegion *region = FindRegion(*regions, at);
            if (!region || !region->Readable)
                break;
            end = region->End;
        } else {
            MEMORY_BASIC_INFORMATION info;
            if (VirtualQuery(reinterpret_cast<void *>(at), &info, sizeof info) != sizeof info ||
                info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) ||
                !(info.Protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE |
                                  PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)))
                break;
            end = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
        }
        span = end - address >= wanted ? wanted : end - address;
    }
    return span;
}

} // namespace

TRegionList *ReadableRegionList() {
    auto *list = new TRegionList();
    list->reserve(64);
    std::uintptr_t at = 0;
    while (at < 0x80000000u) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<void *>(at), &info, sizeof info) != sizeof info)
            break;
        const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(info.BaseAddress);
        std::uintptr_t end = start + info.RegionSize;
        if (end <= at)
            break;
        if (end > 0x80000000u)
            end = 0x80000000u;
        const bool readable = info.State == MEM_COMMIT && IsReadableProtection(info.Protect);
        if (!list->empty() && list->back().Readable == readable && list->back().End == start)
            list->back().End = end;
        else
            list->push_back({start, end, readable});
        at = end;
    }
    list->shrink_to_fit();
    return list;
}

void FreeRegionList(TRegionList *List) {
    delete List;
}

bool SafeReadMemory(const void *Address, void *Buffer, std::size_t Count, const TRegionList *Regions) {
    if (!Address)
        return false;
    if (Count == 0)
        return true;
    const auto at = reinterpret_cast<std::uintptr_t>(Address);
    if (ReadableSpan(at, Count, Regions) != Count)
        return false;
    std::memcpy(Buffer, Address, Count);
    return true;
}

bool ModuleExportsOfAddress(const void *Address, void *&Module, const void *&Exports) {
    HMODULE module = nullptr;
    std::string fileName;
    if (!FindModuleOfAddress(Address, module, fileName) || !ImageNtHeaders(module))
        return false;
    Module = module;
    Exports = ImageDirectory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Decoder

namespace {

enum { EAX, ECX, EDX, EBX, ESP, EBP, ESI, EDI };

// The instruction's bytes, fetched once; a read beyond what is readable fails the decoding.
struct TCodeReader {
    const std::uint8_t *Code;
    std::uint8_t Bytes[32];
    std::size_t Available;
    std::size_t Position = 0;
    bool Fault = false;

    TCodeReader(const std::uint8_t *code, const TRegionList *regions) : Code(code) {
        Available = ReadableSpan(reinterpret_cast<std::uintptr_t>(code), sizeof Bytes, regions);
        if (Available)
            std::memcpy(Bytes, code, Available);
    }
    std::uint8_t Byte() {
        if (Position >= Available) {
            Fault = true;
            return 0;
        }
        return Bytes[Position++];
    }
    std::int32_t Signed(unsigned size) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < size; ++i)
            value |= std::uint32_t(Byte()) << (8 * i);
        if (size == 1)
            return static_cast<std::int8_t>(value);
        if (size == 2)
            return static_cast<std::int16_t>(value);
        return static_cast<std::int32_t>(value);
    }
    const std::uint8_t *Here() const { return Code + Position; }
};

bool CheckValidity(std::uint16_t opcode, const InstructionDetail &d) {
    const bool memory = d.MemoryForm;
    const std::uint8_t reg = d.Reg, modrm = static_cast<std::uint8_t>((d.Mod << 6) | (d.Reg << 3) | d.RM);
    switch (opcode) {
    case 0x62:
    case 0x8D:
    case 0xC4:
    case 0xC5:
        return memory;
    case 0x8C:
    case 0x8E:
        return reg < 6;
    case 0x8F:
        return reg == 0;
    case 0xFE:
        return reg < 2;
    case 0xFF:
        return reg != 7 && (memory || (reg != 3 && reg != 5));
    case 0xD9:
        return memory || !((modrm >= 0xD1 && modrm <= 0xD7) || modrm == 0xE2 || modrm == 0xE3 ||
                           modrm == 0xE6 || modrm == 0xE7 || modrm == 0xEF);
    case 0xDA:
        return memory || !(modrm == 0xE8 || (modrm >= 0xEA && modrm <= 0xEF));
    case 0xDB:
        return memory || !(modrm >= 0xE5 && modrm <= 0xE7);
    case 0xDF:
        return memory || !(modrm >= 0xE1 && modrm <= 0xE7);
    case 0x0F00:
        return reg < 6;
    case 0x0F01:
        return reg != 5 && (memory || reg == 4 || reg == 6 || reg == 7);
    case 0x0F0D:
        return memory && reg < 2;
    case 0x0F0F:
        return Amd3DNowName(d.Suffix) != nullptr;
    case 0x0F18:
        return memory && reg < 4;
    case 0x0F1F:
        return reg == 0;
    case 0x0F20:
    case 0x0F22:
        return !memory && (reg == 0 || reg == 2 || reg == 3 || reg == 4);
    case 0x0F21:
    case 0x0F23:
        return !memory && reg != 4 && reg != 5;
    case 0x0F6C:
    case 0x0F6D:
        return d.OperandSize;
    case 0x0F71:
    case 0x0F72:
    case 0x0F73:
        return !memory;
    case 0x0FAE:
        return reg == 7 || (reg <= 3 && memory) || ((reg == 5 || reg == 6) && !memory);
    case 0x0FB2:
    case 0x0FB4:
    case 0x0FB5:
    case 0x0FC3:
    case 0x0FC7:
        return memory;
    case 0x0FBA:
        return reg >= 4;
    case 0x0FD6:
    case 0x0FE6:
        return d.OperandSize || d.Repne || d.Rep;
    default:
        return true;
    }
}

void UpdateKnowledge(RegisterKnowledge &k, std::uint16_t opcode, const InstructionDetail &d) {
    const unsigned writes = d.Properties >> 13;
    const bool regForm = d.HasModRM && !d.MemoryForm;
    const unsigned opReg = opcode & 7;
    if (writes == 4 || writes == 6 || writes == 7)
        k[EAX] = nullptr;
    if ((writes == 2 || writes == 5 || writes == 6) && regForm)
        k[d.RM] = nullptr;
    if (writes == 1 || writes == 5)
        k[d.Reg] = nullptr;
    if (writes == 3 || writes == 7)
        k[opReg] = nullptr;

    if (opcode >= 0xB8 && opcode <= 0xBF && !d.OperandSize)
        k[opReg] = d.ImmediateAt;
    else if (opcode == 0xC7 && regForm && !d.OperandSize)
        k[d.RM] = d.ImmediateAt;
    else if (opcode == 0x8B && regForm)
        k[d.Reg] = k[d.RM];

    switch (opcode) {
    case 0x61:
        k.fill(nullptr);
        break;
    case 0x6C:
    case 0x6D:
    case 0xAA:
    case 0xAB:
    case 0xAE:
    case 0xAF:
        k[EDI] = nullptr;
        break;
    case 0x6E:
    case 0x6F:
    case 0xAC:
    case 0xAD:
        k[ESI] = nullptr;
        break;
    case 0xA4:
    case 0xA5:
    case 0xA6:
    case 0xA7:
        k[ESI] = k[EDI] = nullptr;
        break;
    case 0x99:
    case 0x0FC7:
    case 0x0F31:
    case 0x0F32:
    case 0x0F33:
        k[EDX] = nullptr;
        break;
    case 0xF7:
        if (d.Reg >= 4)
            k[EDX] = nullptr;
        break;
    case 0xC8:
    case 0xC9:
        k[EBP] = nullptr;
        break;
    case 0xE0:
    case 0xE1:
    case 0xE2:
        k[ECX] = nullptr;
        break;
    case 0xDF:
        if (regForm && d.Reg == 4)
            k[EAX] = nullptr;
        break;
    case 0x0FA2:
        k[EAX] = k[ECX] = k[EDX] = k[EBX] = nullptr;
        break;
    case 0x80:
    case 0x81:
    case 0x82:
    case 0x83:
        if (regForm && d.Reg != 7)
            k[d.RM] = nullptr;
        break;
    case 0xFF:
        if (regForm && d.Reg <= 1)
            k[d.RM] = nullptr;
        break;
    case 0x0F00:
        if (regForm && d.Reg <= 1)
            k[d.RM] = nullptr;
        break;
    case 0x0F01:
        if (regForm && d.Reg == 4)
            k[d.RM] = nullptr;
        break;
    case 0x0FBA:
        if (regForm && d.Reg >= 5)
            k[d.RM] = nullptr;
        break;
    case 0x0F7E:
    case 0x0F7F:
        if (regForm && !d.Rep)
            k[d.RM] = nullptr;
        break;
    case 0x0F2C:
    case 0x0F2D:
        if (d.Repne || d.Rep)
            k[d.Reg] = nullptr;
        break;
    default:
        break;
    }
}

} // namespace

bool ParseInstructionTracked(const void *Code, RegisterKnowledge *Knowledge, bool Resolve,
                             InstructionRecord &Record, const TRegionList *Regions) {
    Record = InstructionRecord();
    const auto *code = static_cast<const std::uint8_t *>(Code);
    Record.address = code;
    if (!code)
        return false;
    InstructionDetail &d = Record.detail;
    TCodeReader in(code, Regions);

    // Prefixes; a later one of a kind overrides an earlier one.
    std::uint8_t byte;
    for (;;) {
        byte = in.Byte();
        if (in.Fault)
            break;
        if (byte == 0xF0)
            d.Lock = true;
        else if (byte == 0xF2)
            d.Repne = true, d.Rep = false;
        else if (byte == 0xF3)
            d.Rep = true, d.Repne = false;
        else if (byte == 0x66)
            d.OperandSize = true;
        else if (byte == 0x67)
            d.AddressSize = true;
        else if (byte == 0x26 || byte == 0x2E || byte == 0x36 || byte == 0x3E)
            d.Segment = static_cast<std::uint8_t>(1 + ((byte >> 3) & 3));
        else if (byte == 0x64 || byte == 0x65)
            d.Segment = static_cast<std::uint8_t>(byte == 0x64 ? 5 : 6);
        else
            break;
    }
    std::uint16_t opcode = byte;
    TOpcodeEntry entry = OneByte[byte];
    if (byte == 0x0F) {
        const std::uint8_t second = in.Byte();
        opcode = static_cast<std::uint16_t>(0x0F00 | second);
        entry = TwoByte[second];
    } else if ((d.Repne || d.Rep) && Knowledge) {
        (*Knowledge)[ECX] = nullptr;
    }
    if (in.Fault) {
        Record.next = in.Here();
        return false;
    }
    Record.opcode = opcode;
    d.Properties = entry.Properties;
    d.Mnemonic = entry.Mnemonic;
    const unsigned operandSize = d.OperandSize ? 2 : 4;

    if (entry.Properties != UNDEF && ((entry.Properties >> 3) & 7) != 0) {
        const std::uint8_t modrm = in.Byte();
        Record.modrm = modrm;
        d.HasModRM = true;
        d.Mod = modrm >> 6;
        d.Reg = (modrm >> 3) & 7;
        d.RM = modrm & 7;
        d.MemoryForm = d.Mod != 3;
        if (d.MemoryForm) {
            if (d.AddressSize) {
                d.DisplacementSize = d.Mod == 1 ? 1 : d.Mod == 2 ? 2 : 0;
                static const std::int8_t bases[8] = {EBX, EBX, EBP, EBP, ESI, EDI, EBP, EBX};
                if (d.RM < 4) {
                    d.Index = static_cast<std::int8_t>((d.RM & 1) ? EDI : ESI);
                    d.Scale = 1;
                }
                d.Base = bases[d.RM];
                if (d.Mod == 0 && d.RM == 6) {
                    d.Base = -1;
                    d.DisplacementSize = 2;
                }
            } else {
                d.DisplacementSize = d.Mod == 1 ? 1 : d.Mod == 2 ? 4 : 0;
                std::uint8_t base = d.RM;
                if (d.RM == 4) {
                    const std::uint8_t sib = in.Byte();
                    base = sib & 7;
                    const std::uint8_t index = (sib >> 3) & 7;
                    if (index != 4) {
                        d.Index = static_cast<std::int8_t>(index);
                        d.Scale = static_cast<std::uint8_t>(1u << (sib >> 6));
                    }
                }
                d.Base = static_cast<std::int8_t>(base);
                if (d.Mod == 0 && base == 5) {
                    d.Base = -1;
                    d.DisplacementSize = 4;
                }
            }
            d.DisplacementAt = in.Here();
            d.Displacement = d.DisplacementSize ? in.Signed(d.DisplacementSize) : 0;
        }
        if (((entry.Properties >> 3) & 7) == 1) {
            const TGroupRow *row = FindGroup(opcode);
            if (row) {
                d.Properties = d.MemoryForm ? row->Memory[d.Reg] : row->Register[d.Reg];
                d.Mnemonic = row->Mnemonic;
            } else {
                d.Properties = UNDEF;
            }
        }
    }

    // Immediate.
    unsigned immediateSize = 0;
    switch ((d.Properties >> 10) & 3) {
    case 1:
        immediateSize = 1;
        break;
    case 2:
        immediateSize = 2;
        break;
    case 3:
        immediateSize = operandSize;
        break;
    default:
        if (d.Properties == UNDEF)
            break;
        if (opcode == 0x9A || opcode == 0xEA)
            immediateSize = operandSize + 2;
        else if (opcode >= 0xA0 && opcode <= 0xA3)
            immediateSize = d.AddressSize ? 2 : 4;
        else if (opcode == 0xC8)
            immediateSize = 3;
        break;
    }
    if (d.Properties == UNDEF)
        immediateSize = 0;
    d.ImmediateSize = static_cast<std::uint8_t>(immediateSize);
    d.ImmediateAt = in.Here();
    if (immediateSize == 1 || immediateSize == 2 || immediateSize == 4)
        d.Immediate = in.Signed(immediateSize);
    else
        for (unsigned i = 0; i < immediateSize; ++i)
            in.Byte();
    if (opcode == 0x0F0F)
        d.Suffix = static_cast<std::uint8_t>(d.Immediate);
    Record.next = in.Here();
    if (in.Fault)
        return false;

    Record.valid = d.Properties != UNDEF && CheckValidity(opcode, d);
    if (!Record.valid)
        return false;

    // Branches.
    if (d.Properties & REL) {
        Record.relative = true;
        Record.targetOperand = d.ImmediateAt;
        Record.target = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Record.next)) +
                        static_cast<std::uint32_t>(d.Immediate);
        Record.targetSize = immediateSize;
        Record.widenable = !(opcode >= 0xE0 && opcode <= 0xE3);
        Record.isCall = opcode == 0xE8;
        Record.isJump = !Record.isCall;
    } else if (opcode == 0xFF && d.Reg >= 2 && d.Reg <= 5) {
        Record.isCall = d.Reg <= 3;
        Record.isJump = !Record.isCall;
        if (d.MemoryForm && d.Base < 0 && d.Index < 0 && d.DisplacementSize == 4) {
            Record.targetCell = reinterpret_cast<const std::uint8_t *>(
                static_cast<std::uintptr_t>(static_cast<std::uint32_t>(d.Displacement)));
            Record.targetSize = 4;
            Record.valid = SafeReadMemory(Record.targetCell, &Record.target, 4, Regions);
        } else if (Resolve && Knowledge) {
            const bool plainBase = !d.MemoryForm || (d.Base >= 0 && d.Index < 0 && d.DisplacementSize == 0);
            const std::uint8_t *immediate = plainBase ? (*Knowledge)[d.MemoryForm ? d.Base : d.RM] : nullptr;
            if (immediate) {
                std::uint32_t value = 0;
                const bool read = SafeReadMemory(immediate, &value, 4, Regions);
                Record.targetSize = 4;
                if (d.MemoryForm) {
                    Record.targetCell = immediate;
                    Record.valid =
                        read && SafeReadMemory(reinterpret_cast<const void *>(std::uintptr_t(value)),
                                               &Record.target, 4, Regions);
                } else {
                    Record.targetOperand = immediate;
                    Record.target = value;
                    Record.valid = read;
                }
            }
        }
    } else if (opcode == 0x9A || opcode == 0xEA) {
        Record.isCall = opcode == 0x9A;
        Record.isJump = !Record.isCall;
    }
    if (Knowledge)
        UpdateKnowledge(*Knowledge, opcode, d);

    if ((Record.isCall || Record.isJump) && Record.target != 0 &&
        Record.target == static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Record.next))) {
        Record.isCall = Record.isJump = Record.relative = Record.widenable = false;
        Record.target = 0;
        Record.targetOperand = Record.targetCell = nullptr;
        Record.targetSize = 0;
    }
    return Record.valid;
}

bool ParseInstruction(const void *Code, InstructionRecord &Record) {
    return ParseInstructionTracked(Code, nullptr, false, Record, nullptr);
}

bool ParseInstructionGuarded(const void *Code, const TRegionList *Regions, InstructionRecord &Record) {
    return ParseInstructionTracked(Code, nullptr, false, Record, Regions);
}
