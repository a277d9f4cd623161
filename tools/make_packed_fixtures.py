#!/usr/bin/env python3
"""Makes reference data for the packed entry bodies, using Python's own zlib and CRC-32.

Run once from the repository root; the output is committed under tests/compiler/data/:
  packed_vectors.txt  - payload bytes and their packed text, both in hex, one pair a line
  packed_python.ofm   - an entry file whose second entry was packed here
  packed_python.txt   - the plain body that entry must unpack to
"""
import os
import random
import zlib

ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
OUT = os.path.join("tests", "compiler", "data")


def pack(payload: bytes) -> bytes:
    """Six-bit packing, least significant bits first, 18 groups per line."""
    out = ["::"]
    groups = 0
    for i in range(0, len(payload), 3):
        if groups == 18:
            out.append("\r\n  ")
            groups = 0
        chunk = payload[i:i + 3]
        value = int.from_bytes(chunk + b"\0" * (3 - len(chunk)), "little")
        chars = [ALPHABET[(value >> (6 * k)) & 63] for k in range(4)]
        for k in range(len(chunk) + 1, 4):
            chars[k] = "="
        out.append("".join(chars))
        groups += 1
    out.append("\r\n")
    return "".join(out).encode("ascii")


def packed_body(plain: bytes) -> bytes:
    compressed = zlib.compress(plain, 9)
    crc = zlib.crc32(compressed) & 0xFFFFFFFF
    return pack(crc.to_bytes(4, "little") + compressed)


def main() -> None:
    os.makedirs(OUT, exist_ok=True)
    rng = random.Random(20240611)
    lines = []
    sizes = [1, 2, 3, 4, 5, 6, 53, 54, 55, 56, 108, 200]
    for size in sizes:
        payload = bytes(rng.randrange(256) for _ in range(size))
        lines.append(payload.hex() + " " + pack(payload).hex())
    with open(os.path.join(OUT, "packed_vectors.txt"), "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")

    plain = (
        b"fractal:\r\n"
        b"  title=\"Packed by another zlib\" width=640 height=480 layers=1\r\n"
        b"  credits=\"Someone;6/11/2024\"\r\n"
        b"layer:\r\n"
        b"  method=multipass caption=\"Background\" opacity=100\r\n"
        b"mapping:\r\n"
        b"  center=-0.5/0 magn=1.25\r\n"
        b"formula:\r\n"
        b"  maxiter=250 filename=\"Standard.ofm\" entry=\"Mandelbrot\"\r\n"
    ) + b"".join(b"  ; filler line %d with some repeated text text text\r\n" % i for i in range(40))
    comment = b"; kept comment line\r\n;second comment\r\n"
    body = comment + packed_body(plain)
    with open(os.path.join(OUT, "packed_python.txt"), "wb") as f:
        f.write(comment + plain)
    with open(os.path.join(OUT, "packed_python.ofm"), "wb") as f:
        f.write(b"Plain {\r\n  a=1\r\n}\r\n\r\nPackedByPython {\r\n" + body + b"}\r\n")


if __name__ == "__main__":
    main()
