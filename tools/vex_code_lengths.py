#!/usr/bin/env python3
"""Build step: writes <program>.lengths beside a program, the instruction boundaries that GNU objdump
(an independent disassembler) finds in its .text section. The crash library's decoder test compares
its own instruction lengths with these.

Format: '@' and a hexadecimal address where a run of instructions starts, then one line per
instruction: its length and objdump's mnemonic (or prefix name)."""
import re
import subprocess
import sys

OBJDUMP = "i686-w64-mingw32-objdump"
LINE = re.compile(r"^\s*([0-9a-f]+):\t(.*)$")
SYMBOL = re.compile(r"^([0-9a-f]+) <(.*)>:$")
# GNU ld places these data in .text: constructor and destructor lists and the exception tables.
DATA_SYMBOLS = re.compile(r"^(__CTOR_LIST__|__DTOR_LIST__|\.ctors|\.dtors|\.gcc_except_table)")


def main(program, output):
    text = subprocess.run([OBJDUMP, "-d", "-M", "intel", "--no-show-raw-insn", "-j", ".text", program],
                          check=True, capture_output=True, text=True).stdout
    entries = []
    in_data = False
    for line in text.splitlines():
        m = SYMBOL.match(line)
        if m:
            in_data = bool(DATA_SYMBOLS.match(m.group(2)))
            continue
        m = LINE.match(line)
        if m:
            words = m.group(2).split()
            entries.append((int(m.group(1), 16), "-data-" if in_data else (words[0] if words else "?")))
    end = None
    out = []
    for i, (address, mnemonic) in enumerate(entries):
        following = entries[i + 1][0] if i + 1 < len(entries) else None
        if following is None or following <= address:
            break
        if mnemonic == "-data-":
            continue
        if address != end:
            out.append("@%x" % address)
        out.append("%d %s" % (following - address, mnemonic))
        end = following
    with open(output, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
