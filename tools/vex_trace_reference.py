#!/usr/bin/env python3
"""Build step for the crash library's tests: every instruction address of the routines whose
demangled name contains one of the given words, with GNU addr2line's line and routine (outermost
routine for inlined code). Written as "<hex address> <line> <routine>" lines, the reference for the
stack tracer's lines."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from vex_pack_map import TOOLS, addr2line_answers  # noqa: E402


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
    rows = addr2line_answers(program, addresses)
    with open(output, "w") as f:
        for address, number, name in rows:
            name = re.sub(r"\(.*$", "", name)
            f.write("%x %s %s\n" % (address, number, name))


if __name__ == "__main__":
    main()
