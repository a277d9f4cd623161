#!/usr/bin/env python3
"""Build step: packs a program's symbols and line numbers into the packed symbol map that the crash
report reads (<program without extension>.vex beside the program).

Sources: GNU nm (functions, demangled), GNU objdump's decoded DWARF line tables (units and lines)
and the PE headers (code start, entry point). Optionally writes a reference table of random code
addresses answered by GNU addr2line, for the map reader's test.

Packed map: "vexcrashreport", payload length n, format version 2, then n bytes: a compressed block
(unpacked size, packed size, CRC-32, raw deflate) enciphered with Blowfish (swapped word order,
whole blocks) under a key derived from n."""
import bisect
import os
import random
import re
import struct
import subprocess
import sys
import zlib

TOOLS = "i686-w64-mingw32-"
KEY_WORD = "Orbisk"
MAX_NAME = 255
DATA_SYMBOLS = re.compile(r"^(_*CTOR_LIST__|_*DTOR_LIST__|\.|_*DTOR_END__|_*CTOR_END__)")


# ---------------------------------------------------------------------------------------------
# Blowfish, the same cipher as the reader's (its start values come from the reader's table).

def load_pi_words():
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "crashreport", "vexCryptPi.inc")
    with open(path) as f:
        return [int(w, 16) for w in re.findall(r"0x([0-9A-Fa-f]{8})", f.read())]


class Blowfish:
    def __init__(self, key):
        words = load_pi_words()
        self.p = words[:18]
        self.s = [words[18 + 256 * i:18 + 256 * (i + 1)] for i in range(4)]
        at = 0
        for i in range(18):
            data = 0
            for _ in range(4):
                data = (data << 8) | key[at]
                at = (at + 1) % len(key)
            self.p[i] ^= data
        left = right = 0
        for i in range(0, 18, 2):
            left, right = self.encipher(left, right)
            self.p[i], self.p[i + 1] = left, right
        for box in self.s:
            for i in range(0, 256, 2):
                left, right = self.encipher(left, right)
                box[i], box[i + 1] = left, right

    def encipher(self, left, right):
        p, s0, s1, s2, s3 = self.p, self.s[0], self.s[1], self.s[2], self.s[3]
        for i in range(0, 16, 2):
            left ^= p[i]
            right ^= ((((s0[left >> 24] + s1[(left >> 16) & 255]) & 0xFFFFFFFF) ^ s2[(left >> 8) & 255])
                      + s3[left & 255]) & 0xFFFFFFFF
            right ^= p[i + 1]
            left ^= ((((s0[right >> 24] + s1[(right >> 16) & 255]) & 0xFFFFFFFF) ^ s2[(right >> 8) & 255])
                     + s3[right & 255]) & 0xFFFFFFFF
        return right ^ p[17], left ^ p[16]


def encipher_blocks(data, key):
    """Whole 8-byte blocks in the swapped word order: the left half is bytes 4-7, little-endian."""
    cipher = Blowfish(key)
    out = bytearray(data)
    for at in range(0, len(data) // 8 * 8, 8):
        right, left = struct.unpack_from("<II", out, at)
        left, right = cipher.encipher(left, right)
        struct.pack_into("<II", out, at, right, left)
    return bytes(out)


def package_key(n):
    text = ("%s$%s%s%s" % (KEY_WORD, ("%07x" % n).upper(), KEY_WORD, "%08d" % n)).encode("latin-1")
    text = text + text
    return encipher_blocks(text, text)


# ---------------------------------------------------------------------------------------------

def run_input(args, text):
    return subprocess.run(args, input=text, check=True, capture_output=True, text=True,
                          errors="replace").stdout.splitlines()


def run(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True, errors="replace").stdout


def pe_layout(program):
    with open(program, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    entry, code_base = struct.unpack_from("<II", data, optional + 16)
    code_size = struct.unpack_from("<I", data, optional + 4)[0]
    image_base = struct.unpack_from("<I", data, optional + 28)[0]
    first = optional + optional_size
    virtual_size, virtual_address = struct.unpack_from("<II", data, first + 8)
    characteristics = struct.unpack_from("<I", data, first + 36)[0]
    if sections and characteristics & 0x20:
        return image_base + virtual_address, image_base + virtual_address + virtual_size, image_base + entry
    return image_base + code_base, image_base + code_base + code_size, image_base + entry


def collapse(name, opening, closing):
    """Replaces the contents of every outermost opening...closing group by '...'."""
    out, depth = [], 0
    for c in name:
        if c == opening:
            if depth == 0:
                out.append(opening + "...")
            depth += 1
        elif c == closing and depth > 0:
            depth -= 1
            if depth == 0:
                out.append(closing)
        elif depth == 0:
            out.append(c)
    return "".join(out) if depth == 0 else name


def plain_name(name):
    # C symbols carry the platform's leading underscore; demangled C++ names do not.
    if name.startswith("_") and "(" not in name and "::" not in name:
        name = name[1:]
    # The stdcall argument size is no part of the name.
    name = re.sub(r"@[0-9]+$", "", name)
    # Names that do not fit the map's length byte lose their template arguments, then their
    # parameter lists, so that the routine's own name survives.
    if len(name) > MAX_NAME:
        name = collapse(name, "<", ">")
    if len(name) > MAX_NAME:
        name = collapse(name, "(", ")")
    return name.encode("latin-1", "replace")[:MAX_NAME]


WEAK_SYMBOL = re.compile(r"^\.weak\.(_\S+?)\.(_\S+)$")


def weak_names(lines):
    """The routine names of weak definitions, which the linker lists as ".weak.<symbol>.<default
    symbol>" and nm leaves undemangled: each becomes its own symbol's demangled name."""
    symbols = sorted({m.group(1) for m in (WEAK_SYMBOL.match(l.split(" ", 2)[-1]) for l in lines) if m})
    if not symbols:
        return {}
    # The platform's underscore comes off before demangling.
    names = run_input([TOOLS + "c++filt", "-n"], "\n".join(s[1:] for s in symbols))
    return dict(zip(symbols, names))


def read_publics(program, code_start, code_end, aliased=None):
    publics = {}
    lines = run(TOOLS + "nm", "-n", "-C", "--defined-only", program).splitlines()
    weak = weak_names(lines)
    for line in lines:
        parts = line.split(" ", 2)
        if len(parts) < 3 or parts[1] not in "Tt":
            continue
        address = int(parts[0], 16)
        name = parts[2]
        weak_match = WEAK_SYMBOL.match(name)
        if weak_match:
            name = weak.get(weak_match.group(1), name)
        if not (code_start <= address < code_end) or DATA_SYMBOLS.match(name):
            continue
        # Of several names for one routine, a global one, and of those the shortest (the public
        # alias rather than the implementation's name).
        candidate = (plain_name(name), parts[1])
        if address not in publics:
            publics[address] = candidate
        else:
            kept = publics[address]
            if aliased is not None and kept[0] != candidate[0]:
                aliased.add(address)
            if (candidate[1] == "T", -len(candidate[0])) > (kept[1] == "T", -len(kept[0])):
                publics[address] = candidate
    return sorted((address, name) for address, (name, _) in publics.items())


def read_lines(program, code_start, code_end):
    """Units (one per compilation unit, as address ranges) and line rows from the DWARF line tables."""
    text = run(TOOLS + "objdump", "--dwarf=decodedline", program).splitlines()
    unit = None
    segments = []
    rows = {}
    sequence_start = None
    for i, line in enumerate(text):
        if line.endswith(":") and i + 1 < len(text) and text[i + 1].startswith("File name"):
            name = os.path.basename(line[:-1].replace("CU: ", ""))
            unit = name.rsplit(".", 1)[0].encode("latin-1", "replace")[:MAX_NAME]
            sequence_start = None
            continue
        fields = line.split()
        if unit is None or len(fields) < 3 or not fields[2].startswith("0x"):
            continue
        address = int(fields[2], 16)
        if fields[1] == "-":
            if sequence_start is not None and code_start <= sequence_start < address <= code_end:
                segments.append((sequence_start, address - sequence_start, unit))
            sequence_start = None
            continue
        if not fields[1].isdigit():
            continue
        if sequence_start is None:
            sequence_start = address
        if code_start <= address < code_end:
            rows[address] = int(fields[1])
    segments.sort()
    merged = []
    for start, length, name in segments:
        if merged and merged[-1][2] == name and merged[-1][0] + merged[-1][1] >= start:
            end = max(merged[-1][0] + merged[-1][1], start + length)
            merged[-1] = (merged[-1][0], end - merged[-1][0], name)
        elif merged and merged[-1][0] + merged[-1][1] > start:
            continue  # overlapping sequences of different units: the first one keeps the range
        else:
            merged.append((start, length, name))
    return merged, sorted(rows.items())


def compact(value):
    if -127 <= value <= 127:
        return struct.pack("<b", value)
    return b"\x80" + struct.pack("<i", value)


def payload(code_start, entry, segments, publics, lines):
    out = bytearray(struct.pack("<I", len(segments)))
    for start, length, unit in segments:
        out += struct.pack("<II", start - code_start, length) + bytes([len(unit)]) + unit
    out += struct.pack("<I", len(publics))
    previous = None
    for address, name in publics:
        out += bytes([len(name)]) + name
        out += struct.pack("<I", address - code_start) if previous is None else compact(address - previous)
        previous = address
    out += struct.pack("<I", len(lines))
    previous_line = previous_address = None
    for address, number in lines:
        if previous_line is None:
            out += struct.pack("<II", number, address - code_start)
        else:
            out += compact(number - previous_line) + compact(address - previous_address)
        previous_line, previous_address = number, address
    out += struct.pack("<I", entry - code_start)
    return bytes(out)


def packed_map(data):
    deflate = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = deflate.compress(data) + deflate.flush()
    block = struct.pack("<III", len(data), len(packed), zlib.crc32(data)) + packed
    n = len(block)
    return b"vexcrashreport" + struct.pack("<II", n, 2) + encipher_blocks(block, package_key(n))


def addr2line_answers(program, addresses):
    """(address, line text, demangled outermost routine) for each address that addr2line places."""
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
        if functions and locations and functions[-1] != "??":
            number = locations[0].rsplit(":", 1)[-1].split(" ")[0]
            rows.append((address, number if number.isdigit() else "0", functions[-1]))
    # addr2line leaves linkage names without their platform underscore undemangled (operators'
    # names go on in lower case: "Znwj" is operator new).
    mangled = [name for _, _, name in rows if re.match(r"^Z(?:[A-Z0-9]|n[wa]|d[la])", name)]
    demangled = dict(zip(mangled, run_input([TOOLS + "c++filt", "-n"], "\n".join("_" + m for m in mangled))))
    return [(address, number, demangled.get(name, name)) for address, number, name in rows]


def write_reference(program, segments, publics, aliased, output):
    """1,000 random code addresses with addr2line's function (outermost, for inlined code) and line."""
    rng = random.Random(17)
    total = sum(length for _, length, _ in segments)
    addresses = []
    for _ in range(1000):
        pick = rng.randrange(total)
        for start, length, _ in segments:
            if pick < length:
                addresses.append(start + pick)
                break
            pick -= length
    rows = addr2line_answers(program, addresses)
    starts = [start for start, _ in publics]
    with open(output, "w", encoding="latin-1", errors="replace") as f:
        for address, number, name in rows:
            # Routines with several names (aliases): the map keeps one of them, addr2line may
            # report another.
            index = bisect.bisect_right(starts, address) - 1
            alias = 1 if index >= 0 and starts[index] in aliased else 0
            # An implicit member of a lambda (its destructor, say) has no linkage name in the
            # debug information: addr2line reports a bare "~<lambda>", which names no scope to
            # compare the map's qualified symbol name with.
            if "<lambda>" in name and "::" not in name:
                alias = 1
            f.write("%x %s %d %s\n" % (address, number, alias, short_name(name)))


def short_name(name):
    """The routine's qualified name without parameters, qualifiers and clone suffixes."""
    name = re.sub(r"@[0-9]+$", "", name)
    name = re.sub(r"( \[clone [^]]*\])+$", "", name)
    name = re.sub(r"( const| volatile| &| &&)+$", "", name)
    if name.endswith(")"):
        depth = 0
        for i in range(len(name) - 1, -1, -1):
            depth += {")": 1, "(": -1}.get(name[i], 0)
            if depth == 0:
                name = name[:i]
                break
    return name


def main():
    program, output = sys.argv[1], sys.argv[2]
    code_start, code_end, entry = pe_layout(program)
    aliased = set()
    publics = read_publics(program, code_start, code_end, aliased)
    segments, lines = read_lines(program, code_start, code_end)
    with open(output, "wb") as f:
        f.write(packed_map(payload(code_start, entry, segments, publics, lines)))
    if len(sys.argv) > 3:
        write_reference(program, segments, publics, aliased, sys.argv[3])


if __name__ == "__main__":
    main()
