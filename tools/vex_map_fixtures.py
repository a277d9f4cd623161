#!/usr/bin/env python3
"""Writes the small packed symbol maps under tests/crashreport/data/ that the map reader's tests use,
with the packer of tools/vex_pack_map.py. Code offsets are relative to a code start of 0."""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vex_pack_map as pack  # noqa: E402

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "crashreport", "data")

SEGMENTS = [(0x000, 0x100, b"UnitA"), (0x100, 0x80, b"UnitB")]
PUBLICS = [(0x000, b"First"), (0x040, b"Second"), (0x100, b"Third"), (0x1000, b"Far")]
LINES = [(0x000, 10), (0x010, 12), (0x100, 200), (0x108, 201)]


def write(name, data):
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


valid = pack.packed_map(pack.payload(0, 0x40, SEGMENTS, PUBLICS, LINES))
write("map_valid.vex", valid)
write("map_single_line.vex", pack.packed_map(pack.payload(0, 0, SEGMENTS, PUBLICS, [(0x20, 5)])))
write("map_version1.vex", valid[:18] + struct.pack("<I", 1) + valid[22:])
write("map_wrong_text.vex", b"vexcrashreporX" + valid[14:])
flipped = bytearray(valid)
flipped[30] ^= 0x40
write("map_flipped.vex", bytes(flipped))
write("map_short.vex", valid[:22])
write("map_long_length.vex", valid[:14] + struct.pack("<I", len(valid)) + valid[18:])
# A segment count far beyond what the bytes can hold.
write("map_huge_count.vex", pack.packed_map(struct.pack("<I", 0x7FFFFFFF) + b"\0" * 16))
