#!/usr/bin/env python3
"""Writes tests/crashreport/data/packed_blocks.txt: compressed blocks made with Python's zlib (raw
deflate behind a 12-byte header: unpacked size, packed size, CRC-32). Lines: case name, block (hex),
expected unpacked bytes (hex, '-' for an empty result)."""
import os
import struct
import zlib


def deflate(data, level=9):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def block(data, size=None, crc=None, packed=None):
    packed = deflate(data) if packed is None else packed
    size = len(data) if size is None else size
    crc = zlib.crc32(data) if crc is None else crc
    return struct.pack("<III", size, len(packed), crc) + packed


text = b"".join(b"line %d of the symbol table\r\n" % i for i in range(200))
stored = bytes(range(256)) * 3
cases = [
    ("text", block(text), text),
    ("stored", block(stored, packed=deflate(stored, 0)), stored),
    ("one_byte", block(b"x"), b"x"),
    ("wrong_crc", block(text, crc=zlib.crc32(text) ^ 1), b""),
    ("twelve_bytes", block(text)[:12], b""),
    ("size_too_large", block(text, size=len(text) + 1), b""),
    ("size_too_small", block(text, size=len(text) - 1), b""),
    ("trailing_byte", block(text) + b"\0", b""),
    ("truncated_stream", block(text)[:-3], b""),
    ("huge_size", block(b"abc", size=0x7FFFFFF0), b""),
    ("zero_size", block(b"", size=0), b""),
]
path = os.path.join(os.path.dirname(__file__), "..", "tests", "crashreport", "data", "packed_blocks.txt")
with open(path, "w") as f:
    for name, data, expected in cases:
        f.write("%s %s %s\n" % (name, data.hex(), expected.hex() or "-"))
