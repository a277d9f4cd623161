#!/usr/bin/env python3
"""Reads the preview caches that programs/PreviewCacheSamples writes, with a reader of its own.

Layout (little-endian): "OB_PREVCACHE", count, width, height (4 bytes each), 1024 table entries of
16 bytes (CRC-32 of the text, image offset, image width, image height; most recently used first),
then image slots of width * height * 3 bytes from offset 16408, rows from the top in blue, green,
red order.

The writer saved texts 0..1023, viewed text 7 again and saved text 1024; "shrunk" then lowered the
cache size to 100. The CRC-32 comes from zlib, the expected order and pixels from the sequence.

Usage: check_preview_cache.py <folder written by PreviewCacheSamples>. Exit code 0 when all pass.
"""
import os
import struct
import sys
import zlib

W, H = 5, 4
SLOT = W * H * 3
FIRST_SLOT = 24 + 1024 * 16
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)
    return condition


def text(i):
    return ("Sample%d {\r\nlayer:\r\n  title=\"Sample %d\"\r\n}\r\n" % (i, i)).encode("ascii")


def image(i):
    w, h = 1 + i % W, 1 + i % H
    rows = bytearray()
    for y in range(h):
        for x in range(w):
            rows += bytes([i & 255, x + 16 * y, i // 256 + 100])
    return w, h, bytes(rows)


def check_cache(path, order, slot_of, exact_length):
    with open(path, "rb") as f:
        data = f.read()
    name = os.path.basename(os.path.dirname(path))
    check(data[:12] == b"OB_PREVCACHE", name + ": magic")
    count, width, height = struct.unpack_from("<iii", data, 12)
    check((count, width, height) == (len(order), W, H),
          "%s: header %r" % (name, (count, width, height)))
    # A cache that grew ends after its last image's bytes; a shrunk one is cut after its last slot.
    limit = FIRST_SLOT + len(order) * SLOT
    check(len(data) == limit if exact_length else limit - SLOT < len(data) <= limit,
          "%s: file length %d for %d slots" % (name, len(data), len(order)))
    for row, i in enumerate(order):
        crc, offset, w, h = struct.unpack_from("<IIII", data, 24 + 16 * row)
        ew, eh, pixels = image(i)
        if not check(crc == zlib.crc32(text(i)), "%s: entry %d holds crc %08x, not text %d's" % (name, row, crc, i)):
            break
        check(offset == FIRST_SLOT + slot_of(row, i) * SLOT,
              "%s: entry %d (text %d) at offset %d" % (name, row, i, offset))
        check((w, h) == (ew, eh), "%s: entry %d size %dx%d" % (name, row, w, h))
        check(data[offset:offset + len(pixels)] == pixels, "%s: pixels of text %d" % (name, i))


def main():
    folder = sys.argv[1]
    # Most recent first: 1024 (in the slot of the dropped text 0), then 7 (viewed), then the rest.
    order = [1024, 7] + [i for i in range(1023, 0, -1) if i != 7]
    check_cache(os.path.join(folder, "full", "Ob3.prc"), order, lambda row, i: 0 if i == 1024 else i, False)
    check_cache(os.path.join(folder, "shrunk", "Ob3.prc"), order[:100], lambda row, i: row, True)
    print("preview caches:", "FAILED" if failures else "ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
