#!/usr/bin/env python3
"""Build step for the crash library's tests: every instruction address of the routines whose
demangled name contains one of the given words, with GNU addr2line's line and routine (outermost
routine for inlined code). Written as "<hex address> <line> <routine>" lines, the reference for the
stack tracer's lines."""
import re
import subprocess
import sys

TOOLS = "i686-w64-mingw32-"


def main():
    program, output, words = sys.argv[1], sys.argv[2], sys.argv[3:]
    listing = subprocess.run([TOOLS + "objdump", "-d", "-C", "--no-show-raw-insn", program], check=True,
                             capture_output=True, text=True, errors="replace").stdout
    addresses, inside = [], False
    for line in listing.splitlines():
        header = re.match(r"^([0-9a-f]+) <(.*)>:$", line)
        if header:
            inside = any(word in header.group(2) for word in words)
            continue
        instruction = re.match(r"^\s+([0-9a-f]+):\s", line)
        if inside and instruction:
            addresses.append(int(instruction.group(1), 16))
    answer = subprocess.run([TOOLS + "addr2line", "-a", "-f", "-i", "-C", "-e", program],
                            input="\n".join("%x" % a for a in addresses), check=True, capture_output=True,
                            text=True, errors="replace").stdout.splitlines()
    groups = []
    for line in answer:
        if line.startswith("0x"):
            groups.append([int(line, 16), []])
        elif groups:
            groups[-1][1].append(line)
    rows = []
    for address, lines in groups:
        functions, locations = lines[0::2], lines[1::2]
        if functions and locations:
            number = locations[0].rsplit(":", 1)[-1].split(" ")[0]
            rows.append((address, number if number.isdigit() else "0", functions[-1]))
    # addr2line leaves linkage names without their platform underscore undemangled.
    mangled = sorted({name for _, _, name in rows if re.match(r"^Z[A-Z0-9]", name)})
    plain = subprocess.run([TOOLS + "c++filt", "-n"], input="\n".join("_" + m for m in mangled), check=True,
                           capture_output=True, text=True).stdout.splitlines()
    demangled = dict(zip(mangled, plain))
    with open(output, "w") as f:
        for address, number, name in rows:
            name = re.sub(r"\(.*$", "", demangled.get(name, name))
            f.write("%x %s %s\n" % (address, number, name))


if __name__ == "__main__":
    main()
