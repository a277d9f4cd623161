#!/usr/bin/env python3
"""Assembles the instruction sequences the code generator tests expect, with the GNU assembler
for i686, and writes them as hex to tests/compiler/data/CompGenerator_encodings.txt.

A line "R<n>" inside a case stands for the template of routine n; the test expands it from the
routine table. Runs of ordinary lines between such tokens are assembled on their own, so jumps
never cross a token. Data block layout of the test storage (double / extended offsets):
a float 0/0, b float 8/16, i int 16/32, j int 20/36, x float[10] 24/48, flag bool 104/208,
w complex 112/224, n int[3][4] 128/256, col colour 176/304, y float[10] 192/320.
Pixel context: PIXEL 208/256, Z 176/192, COLOR 120. Formula object 0x12345678.
"""
import os
import subprocess
import sys
import tempfile

AS = "i686-w64-mingw32-as"
OBJCOPY = "i686-w64-mingw32-objcopy"
NM = "i686-w64-mingw32-nm"

CASES = {
    "Double.WorkedExample": """
        {disp32} fld qword ptr [esi+216]
        {disp32} fld qword ptr [esi+208]
        {disp32} fld qword ptr [esi+184]
        {disp32} fld qword ptr [esi+176]
        R45
        R22
        {disp32} fstp qword ptr [esi+176]
        {disp32} fstp qword ptr [esi+184]
    """,
    "Extended.WorkedExample": """
        {disp32} fld tbyte ptr [esi+272]
        {disp32} fld tbyte ptr [esi+256]
        {disp32} fld tbyte ptr [esi+208]
        {disp32} fld tbyte ptr [esi+192]
        R45
        R22
        {disp32} fstp tbyte ptr [esi+192]
        {disp32} fstp tbyte ptr [esi+208]
    """,
    "Double.CopyPixelToZ": """
        {disp32} mov eax, dword ptr [esi+208]
        {disp32} mov edx, dword ptr [esi+212]
        {disp32} mov dword ptr [esi+176], eax
        {disp32} mov dword ptr [esi+180], edx
        {disp32} mov eax, dword ptr [esi+216]
        {disp32} mov edx, dword ptr [esi+220]
        {disp32} mov dword ptr [esi+184], eax
        {disp32} mov dword ptr [esi+188], edx
    """,
    "Extended.CopyPixelToZ": """
        {disp32} mov eax, dword ptr [esi+256]
        {disp32} mov edx, dword ptr [esi+260]
        {disp32} mov dword ptr [esi+192], eax
        {disp32} mov dword ptr [esi+196], edx
        {disp32} mov eax, dword ptr [esi+264]
        {disp32} mov dword ptr [esi+200], eax
        {disp32} mov eax, dword ptr [esi+272]
        {disp32} mov edx, dword ptr [esi+276]
        {disp32} mov dword ptr [esi+208], eax
        {disp32} mov dword ptr [esi+212], edx
        {disp32} mov eax, dword ptr [esi+280]
        {disp32} mov dword ptr [esi+216], eax
    """,
    "Double.CopyColor": """
        {disp32} mov eax, dword ptr [esi+120]
        {disp32} mov edx, dword ptr [esi+124]
        {disp32} mov dword ptr [edi+176], eax
        {disp32} mov dword ptr [edi+180], edx
        {disp32} mov eax, dword ptr [esi+128]
        {disp32} mov edx, dword ptr [esi+132]
        {disp32} mov dword ptr [edi+184], eax
        {disp32} mov dword ptr [edi+188], edx
    """,
    "Double.FloatAdd": """
        {disp32} fld qword ptr [edi+8]
        {disp32} fld qword ptr [edi+0]
        R78
        {disp32} fstp qword ptr [edi+0]
    """,
    "Double.DiscardedSum": """
        {disp32} fld qword ptr [edi+8]
        {disp32} fld qword ptr [edi+0]
        R78
        R77
    """,
    "Double.KeptAssignment": """
        {disp32} fld qword ptr [edi+8]
        {disp32} fld qword ptr [edi+0]
        R78
        {disp32} fst qword ptr [edi+8]
        {disp32} fstp qword ptr [edi+0]
    """,
    "Extended.KeptAssignment": """
        {disp32} fld tbyte ptr [edi+16]
        {disp32} fld tbyte ptr [edi+0]
        R78
        fld st(0)
        {disp32} fstp tbyte ptr [edi+16]
        {disp32} fstp tbyte ptr [edi+0]
    """,
    "Double.ComputedIndex": """
        {disp32} mov eax, dword ptr [edi+16]
        .byte 0x3D  # cmp eax, imm32: the long form
        .long 9
        jbe 1f
        mov eax, 9
    1:
        shl eax, 3
        {disp32} fld qword ptr [edi+eax*1+24]
        {disp32} fstp qword ptr [edi+0]
    """,
    "Double.ClampedIndex": """
        {disp32} mov eax, dword ptr [edi+96]
        {disp32} mov edx, dword ptr [edi+100]
        {disp32} mov dword ptr [edi+0], eax
        {disp32} mov dword ptr [edi+4], edx
    """,
    "Double.ClampedIndexDebug": """
        mov eax, 0x12345678
        mov edx, 1
        mov ecx, 0x00030007
        R17
        {disp32} mov eax, dword ptr [edi+96]
        {disp32} mov edx, dword ptr [edi+100]
        {disp32} mov dword ptr [edi+0], eax
        {disp32} mov dword ptr [edi+4], edx
    """,
    "Double.TwoComputedIndices": """
        {disp32} mov eax, dword ptr [edi+20]
        .byte 0x3D  # cmp eax, imm32: the long form
        .long 3
        jbe 1f
        mov eax, 3
    1:
        shl eax, 2
        push eax
        {disp32} mov eax, dword ptr [edi+16]
        .byte 0x3D  # cmp eax, imm32: the long form
        .long 2
        jbe 2f
        mov eax, 2
    2:
        shl eax, 4
        pop edx
        R124
        {disp32} mov eax, dword ptr [edi+eax*1+128]
        {disp32} mov dword ptr [edi+20], eax
    """,
    "Double.StoreIntComputedIndex": """
        {disp32} mov eax, dword ptr [edi+20]
        push eax
        {disp32} mov eax, dword ptr [edi+16]
        .byte 0x3D  # cmp eax, imm32: the long form
        .long 2
        jbe 1f
        mov eax, 2
    1:
        shl eax, 4
        pop edx
        {disp32} mov dword ptr [edi+eax*1+136], edx
        mov eax, edx
    """,
    "Double.IfElse": """
        {disp32} mov al, byte ptr [edi+104]
        or al, al
        {disp32} je 1f
        mov eax, 1
        {disp32} mov dword ptr [edi+16], eax
        {disp32} jmp 2f
    1:
        mov eax, 2
        {disp32} mov dword ptr [edi+16], eax
    2:
    """,
    "Double.IfElseIfElse": """
        {disp32} mov al, byte ptr [edi+104]
        or al, al
        {disp32} je 1f
        mov eax, 1
        {disp32} mov dword ptr [edi+16], eax
        {disp32} jmp 9f
    1:
        {disp32} mov al, byte ptr [edi+104]
        or al, al
        {disp32} je 2f
        mov eax, 2
        {disp32} mov dword ptr [edi+16], eax
        {disp32} jmp 9f
    2:
        mov eax, 3
        {disp32} mov dword ptr [edi+16], eax
    9:
    """,
    "Double.IfWithoutElse": """
        {disp32} mov al, byte ptr [edi+104]
        or al, al
        {disp32} je 1f
        mov eax, 1
        {disp32} mov dword ptr [edi+16], eax
    1:
    """,
    "Double.While": """
    0:
        {disp32} mov al, byte ptr [edi+104]
        or al, al
        {disp32} je 1f
        mov eax, 1
        {disp32} mov dword ptr [edi+16], eax
        cmp byte ptr [esi+0x98], 0
        jne 1f
        {disp32} jmp 0b
    1:
    """,
    "Double.RepeatUntil": """
    0:
        mov eax, 1
        {disp32} mov dword ptr [edi+16], eax
        {disp32} mov al, byte ptr [edi+104]
        cmp byte ptr [esi+0x98], 0
        jne 1f
        or al, al
        {disp32} je 0b
    1:
    """,
    "Double.PrintDebug": """
        mov eax, 0x12345678
        mov edx, 3
        R15
        {disp32} fld qword ptr [edi+0]
        R11
        mov eax, 0x12345678
        mov edx, 0x00050002
        R16
    """,
    "Double.RealOfComplex": """
        {disp32} fld qword ptr [edi+112]
        {disp32} fstp qword ptr [edi+0]
    """,
    "Double.ImagOfComplex": """
        {disp32} fld qword ptr [edi+120]
        {disp32} fstp qword ptr [edi+0]
    """,
    "Double.FlipOfComplex": """
        {disp32} fld qword ptr [edi+112]
        {disp32} fld qword ptr [edi+120]
        {disp32} fstp qword ptr [edi+112]
        {disp32} fstp qword ptr [edi+120]
    """,
    "Double.ArrayCopy": """
        mov eax, 24
        mov edx, 192
        mov ecx, 5
        R8
    """,
    "Double.Modulus": """
        {disp32} fld qword ptr [edi+120]
        {disp32} fld qword ptr [edi+112]
        R57
        {disp32} fstp qword ptr [edi+0]
    """,
    "Double.IntCompare": """
        {disp32} mov eax, dword ptr [edi+20]
        push eax
        {disp32} mov eax, dword ptr [edi+16]
        pop edx
        R135
        {disp32} mov byte ptr [edi+104], al
    """,
}


def assemble(lines):
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "case.s")
        with open(source, "w") as f:
            f.write(".intel_syntax noprefix\n.text\ncase_start:\n")
            f.write("\n".join(lines))
            f.write("\ncase_end:\n")
        obj = os.path.join(folder, "case.o")
        subprocess.run([AS, "-o", obj, source], check=True)
        symbols = subprocess.run([NM, obj], check=True, capture_output=True, text=True).stdout
        address = {}
        for line in symbols.splitlines():
            parts = line.split()
            if len(parts) == 3:
                address[parts[2]] = int(parts[0], 16)
        size = address["case_end"] - address["case_start"]
        binary = os.path.join(folder, "case.bin")
        subprocess.run([OBJCOPY, "-O", "binary", "-j", ".text", obj, binary], check=True)
        with open(binary, "rb") as f:
            return f.read()[:size]


def encode(text):
    out, chunk = [], []
    for raw in text.strip("\n").splitlines():
        line = raw.strip()
        if not line:
            continue
        if line[0] == "R" and line[1:].isdigit():
            if chunk:
                out.extend("%02X" % b for b in assemble(chunk))
                chunk = []
            out.append(line)
        else:
            chunk.append(line)
    if chunk:
        out.extend("%02X" % b for b in assemble(chunk))
    return " ".join(out)


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    target = os.path.join(top, "tests", "compiler", "data", "CompGenerator_encodings.txt")
    version = subprocess.run([AS, "--version"], check=True, capture_output=True, text=True).stdout.splitlines()[0]
    with open(target, "w", newline="\n") as f:
        f.write("# Made by tools/comp_generator_encodings.py with %s; do not edit.\n" % version)
        f.write("# R<n> stands for the template of routine n.\n")
        for name, text in CASES.items():
            f.write("%s | %s\n" % (name, encode(text)))
    print("wrote", target, file=sys.stderr)


if __name__ == "__main__":
    main()
