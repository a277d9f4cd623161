#!/usr/bin/env python3
"""Expected machine code of the processor access emitters (compiler/CompAccess), made by assembling
the intended instructions with i686-w64-mingw32-as. Run once; the output is kept as
tests/compiler/data/CompAccess_encodings.txt.

Each line:  case name | bytes in hex
A token R<n> in the bytes stands for the template of routine n, which the test takes from the
routine table (its own bytes are checked against reference results elsewhere). The formula object
address used by the cases is 0x12345678.
"""

import os
import re
import subprocess
import sys
import tempfile

AS = "i686-w64-mingw32-as"
OBJCOPY = "i686-w64-mingw32-objcopy"
NM = "i686-w64-mingw32-nm"

FORMULA = 0x12345678


def d(op, mem):
    """An instruction with a 32-bit displacement, as the emitters always write."""
    return f"{{disp32}} {op.replace('MEM', mem)}"


def real_cases(prefix, size, ptr, step):
    """Load and store cases of one precision. size: qword or tbyte; step: real size in bytes."""
    cases = []
    for where, reg, off in (("esi", "esi", 0x1D0), ("edi", "edi", 0x28)):
        m = lambda o: f"[{reg}+{o:#x}]"
        cases.append((f"{prefix}.LoadReal.{where}", [d(f"fld {ptr} MEM", m(off))]))
        cases.append((f"{prefix}.LoadComplex.{where}",
                      [d(f"fld {ptr} MEM", m(off + step)), d(f"fld {ptr} MEM", m(off))]))
        if size == "qword":
            cases.append((f"{prefix}.StoreReal.{where}", [d(f"fst {ptr} MEM", m(off))]))
            cases.append((f"{prefix}.StoreComplex.{where}",
                          [d(f"fst {ptr} MEM", m(off)), "fxch st(1)", d(f"fst {ptr} MEM", m(off + 8)),
                           "fxch st(1)"]))
        else:
            cases.append((f"{prefix}.StoreReal.{where}", ["fld st(0)", d(f"fstp {ptr} MEM", m(off))]))
            cases.append((f"{prefix}.StoreComplex.{where}",
                          ["fld st(0)", d(f"fstp {ptr} MEM", m(off)), "fld st(1)",
                           d(f"fstp {ptr} MEM", m(off + 16))]))
        cases.append((f"{prefix}.StoreRealPop.{where}", [d(f"fstp {ptr} MEM", m(off))]))
        cases.append((f"{prefix}.StoreComplexPop.{where}",
                      [d(f"fstp {ptr} MEM", m(off)), d(f"fstp {ptr} MEM", m(off + step))]))
    ix = lambda o: f"[edi+eax+{o:#x}]"
    off = 0x40
    cases.append((f"{prefix}.LoadRealIndexed", [d(f"fld {ptr} MEM", ix(off))]))
    cases.append((f"{prefix}.LoadComplexIndexed", [d(f"fld {ptr} MEM", ix(off + step)), d(f"fld {ptr} MEM", ix(off))]))
    if size == "qword":
        cases.append((f"{prefix}.StoreRealIndexed", [d(f"fst {ptr} MEM", ix(off))]))
        cases.append((f"{prefix}.StoreComplexIndexed",
                      [d(f"fst {ptr} MEM", ix(off)), "fxch st(1)", d(f"fst {ptr} MEM", ix(off + 8)), "fxch st(1)"]))
    else:
        cases.append((f"{prefix}.StoreRealIndexed", ["fld st(0)", d(f"fstp {ptr} MEM", ix(off))]))
        cases.append((f"{prefix}.StoreComplexIndexed",
                      ["fld st(0)", d(f"fstp {ptr} MEM", ix(off)), "fld st(1)", d(f"fstp {ptr} MEM", ix(off + 16))]))
    cases.append((f"{prefix}.StoreRealIndexedPop", [d(f"fstp {ptr} MEM", ix(off))]))
    cases.append((f"{prefix}.StoreComplexIndexedPop",
                  [d(f"fstp {ptr} MEM", ix(off)), d(f"fstp {ptr} MEM", ix(off + step))]))
    return cases


cases = real_cases("Double", "qword", "qword ptr", 8) + real_cases("Extended", "tbyte", "tbyte ptr", 16)

# Int, bool and colour operands (the same in every precision).
for where, reg, off in (("esi", "esi", 0x38), ("edi", "edi", 0x124)):
    mm = f"[{reg}+{off:#x}]"
    cases += [
        (f"LoadInt.{where}", [d("mov eax, dword ptr MEM", mm)]),
        (f"LoadIntEdx.{where}", [d("mov edx, dword ptr MEM", mm)]),
        (f"LoadBool.{where}", [d("mov al, byte ptr MEM", mm)]),
        (f"LoadBoolDl.{where}", [d("mov dl, byte ptr MEM", mm)]),
        (f"StoreInt.{where}", [d("mov dword ptr MEM, eax", mm)]),
        (f"StoreIntEdx.{where}", [d("mov dword ptr MEM, edx", mm)]),
        (f"StoreBool.{where}", [d("mov byte ptr MEM, al", mm)]),
    ]
    colour_load = ["sub esp, 16"]
    colour_store = []
    for k in (0, 8):
        a, b = f"[{reg}+{off + k:#x}]", f"[{reg}+{off + k + 4:#x}]"
        colour_load += [d("mov eax, dword ptr MEM", a), d("mov edx, dword ptr MEM", b),
                        f"{{disp8}} mov dword ptr [esp+{k}], eax", f"{{disp8}} mov dword ptr [esp+{k + 4}], edx"]
        colour_store += [f"{{disp8}} mov eax, dword ptr [esp+{k}]", f"{{disp8}} mov edx, dword ptr [esp+{k + 4}]",
                         d("mov dword ptr MEM, eax", a), d("mov dword ptr MEM, edx", b)]
    cases += [
        (f"LoadColor.{where}", colour_load),
        (f"StoreColor.{where}", colour_store),
        (f"StoreColorPop.{where}", colour_store + ["add esp, 16"]),
    ]

ix = "[edi+eax+0x50]"
cases += [
    ("LoadIntIndexed", [d("mov eax, dword ptr MEM", ix)]),
    ("LoadBoolIndexed", [d("mov al, byte ptr MEM", ix)]),
    ("StoreIntIndexed", [d("mov dword ptr MEM, edx", ix), "mov eax, edx"]),
    ("StoreBoolIndexed", [d("mov byte ptr MEM, dl", ix), "mov eax, edx"]),
    ("LoadIntImmediate", ["mov eax, -5"]),
    ("LoadEdxImmediate", ["mov edx, 0x7FFFFFFF"]),
    ("LoadBoolImmediate", ["mov al, 1"]),
    ("EmitSaveValue", ["push eax"]),
    ("EmitRestoreValue", ["pop edx"]),
    ("EmitDropColor", ["add esp, 16"]),
]
colour_load = ["sub esp, 16", "mov ecx, eax"]
colour_store = ["mov ecx, eax"]
for k in (0, 8):
    a, b = f"[edi+ecx+{0x50 + k:#x}]", f"[edi+ecx+{0x54 + k:#x}]"
    colour_load += [d("mov eax, dword ptr MEM", a), d("mov edx, dword ptr MEM", b),
                    f"{{disp8}} mov dword ptr [esp+{k}], eax", f"{{disp8}} mov dword ptr [esp+{k + 4}], edx"]
    colour_store += [f"{{disp8}} mov eax, dword ptr [esp+{k}]", f"{{disp8}} mov edx, dword ptr [esp+{k + 4}]",
                     d("mov dword ptr MEM, eax", a), d("mov dword ptr MEM, edx", b)]
cases += [
    ("LoadColorIndexed", colour_load),
    ("StoreColorIndexed", colour_store),
    ("StoreColorIndexedPop", colour_store + ["add esp, 16"]),
]

# Further emitters. Immediates are chosen large enough that the assembler picks the 32-bit forms,
# which the emitters always write.
cases += [
    ("EmitScaleIndex.16", ["shl eax, 4"]),
    ("EmitScaleIndex.1000", ["imul eax, eax, 1000"]),
    ("EmitScaleIndex.2^25", ["imul eax, eax, 0x2000000"]),
    ("EmitBoundsCheck.1000", ["cmp eax, 999", "jbe 1f", "mov eax, 999", "1:"]),
    ("EmitBoundsCheck.1000.Debug", ["cmp eax, 999", "jbe 1f", f"mov eax, {FORMULA:#x}", "mov edx, 1",
                                    f"mov ecx, {3 * 65536 + 14:#x}", "ROUTINE 17", "mov eax, 999", "1:"]),
    ("EmitRuntimeError.2", [f"mov eax, {FORMULA:#x}", "mov edx, 2", f"mov ecx, {65535 * 65536 + 65535:#x}",
                            "ROUTINE 17"]),
    ("EmitBlockCopy.24", ["mov eax, 0x100", "mov edx, 0x200", "mov ecx, 3", "ROUTINE 7"]),
    ("EmitBlockCopy.6", ["mov eax, 0x100", "mov edx, 0x200", "mov ecx, 6", "ROUTINE 5"]),
    ("EmitBlockCopy.48", ["mov eax, 0x100", "mov edx, 0x200", "mov ecx, 3", "ROUTINE 8"]),
    ("EmitBlockCopy.12", ["mov eax, 0x100", "mov edx, 0x200", "mov ecx, 3", "ROUTINE 6"]),
    ("EmitJumpIfFalse.100", ["or al, al", "{disp32} je .+98"]),
    ("EmitJumpIfFalse.-40", ["or al, al", "{disp32} je .-42"]),
    ("EmitJump.100", ["{disp32} jmp .+100"]),
    ("EmitJump.-40", ["{disp32} jmp .-40"]),
    ("EmitDiscardComplex", ["ROUTINE 21"]),
    ("EmitDiscardReal", ["ROUTINE 77"]),
]


def main(path):
    source = [".intel_syntax noprefix", ".text"]
    for i, (name, lines) in enumerate(cases):
        source.append(f"c{i}s:")
        r = 0
        for line in lines:
            m = re.match(r"ROUTINE (\d+)$", line)
            if m:
                n = int(m.group(1))
                # The bounds check jumps over routine 17, whose 16 bytes are part of the format;
                # other routines only follow, so their length does not matter here.
                length = 16 if n == 17 else 0
                source += [f"c{i}r{r}_{n}s:"] + ([f".skip {length}"] if length else []) + [f"c{i}r{r}e:"]
                r += 1
            else:
                source.append(line)
        source.append(f"c{i}e:")
    with tempfile.TemporaryDirectory() as tmp:
        src, obj, binary = (os.path.join(tmp, n) for n in ("c.s", "c.o", "c.bin"))
        with open(src, "w") as f:
            f.write("\n".join(source) + "\n")
        subprocess.run([AS, src, "-o", obj], check=True)
        subprocess.run([OBJCOPY, "-O", "binary", "-j", ".text", obj, binary], check=True)
        code = open(binary, "rb").read()
        symbols = {}
        for line in subprocess.run([NM, obj], capture_output=True, text=True, check=True).stdout.splitlines():
            parts = line.split()
            if len(parts) == 3:
                symbols[parts[2]] = int(parts[0], 16)
    with open(path, "w") as out:
        out.write("# Made by tools/comp_access_encodings.py with %s; do not edit.\n" %
                  subprocess.run([AS, "--version"], capture_output=True, text=True).stdout.splitlines()[0])
        for i, (name, _) in enumerate(cases):
            start, end = symbols[f"c{i}s"], symbols[f"c{i}e"]
            routines = sorted((symbols[k], symbols[f"c{i}r{k.split('r')[1].split('_')[0]}e"], k.split("_")[1][:-1])
                              for k in symbols if re.match(rf"c{i}r\d+_\d+s$", k))
            tokens, pos = [], start
            for rstart, rend, n in routines:
                tokens += [f"{b:02X}" for b in code[pos:rstart]]
                tokens.append(f"R{n}")
                pos = rend
            tokens += [f"{b:02X}" for b in code[pos:end]]
            out.write(f"{name} | {' '.join(tokens)}\n")


main(sys.argv[1] if len(sys.argv) > 1 else "/dev/stdout")
