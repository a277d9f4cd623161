#!/usr/bin/env python3
"""Makes reference data for the colour conversion tests.

Run once from the repository root; the output, gencolor_reference.txt beside this script, is
committed. Integer HSL/HSV values follow the published integer algorithm (truncating division)
written out here separately from the C++ code; the float HSL values come from Python's own
colorsys module (hue scaled from 0..1 to 0..6).

Line formats (hexadecimal integers, decimal floats):
  rgb COLOR HSL HSV         colour 0x00BBGGRR -> packed HSL and packed HSV
  hsl PACKED COLOR          packed HSL -> colour
  hsv PACKED COLOR          packed HSV -> colour
  frgb R G B H S L          float colour -> float HSL
  fhsl H S L R G B          float HSL -> float colour
"""
import colorsys
import os
import random
import struct

OUT = os.path.join("tests", "foundation", "data", "gencolor_reference.txt")


def single(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def split(color):
    return color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF


def join(r, g, b):
    return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16)


def pack(h, s, l):
    return (h & 0xFFFF) | ((s & 0xFF) << 16) | ((l & 0xFF) << 24)


def hue(r, g, b, mx, mn):
    d = mx - mn
    if r == mx:
        h = (r - b) * 60 // d + 300 if g == mn else 60 - (r - g) * 60 // d
    elif g == mx:
        h = (g - r) * 60 // d + 60 if b == mn else 180 - (g - b) * 60 // d
    else:
        h = (b - g) * 60 // d + 180 if r == mn else 300 - (b - r) * 60 // d
    return 0 if h >= 360 else h


def rgb_to_hsl(color):
    r, g, b = split(color)
    mx, mn = max(r, g, b), min(r, g, b)
    d = mx - mn
    l = (mx + mn) // 2
    if l == 0 or d == 0:
        return pack(0, 0, l)
    s = d * 255 // (mx + mn) if l <= 127 else d * 255 // (510 - mx - mn)
    return pack(hue(r, g, b, mx, mn), s, l)


def rgb_to_hsv(color):
    r, g, b = split(color)
    mx, mn = max(r, g, b), min(r, g, b)
    d = mx - mn
    if mx == 0 or d == 0:
        return pack(0, 0, mx)
    return pack(hue(r, g, b, mx, mn), d * 255 // mx, mx)


def sector(h, a, b, c, up, down):
    """Picks the (red, green, blue) triple of a 60-degree sector."""
    return [(a, up, c), (down, a, c), (c, a, up), (c, down, a), (up, c, a)][h] if h < 5 else (a, c, down)


def hsl_to_rgb(packed):
    h, s, l = packed & 0xFFFF, (packed >> 16) & 0xFF, packed >> 24
    m2 = (s + 255) * l // 255 if l <= 127 else l + s - s * l // 255
    if m2 < 1:
        return 0
    m1 = 2 * l - m2
    t = (h % 60) * (m2 - m1) // 60
    return join(*sector(h // 60, m2, None, m1, m1 + t, m2 - t))


def hsv_to_rgb(packed):
    h, s, v = packed & 0xFFFF, (packed >> 16) & 0xFF, packed >> 24
    m = v - s * v // 255
    t = (h % 60) * (v - m) // 60
    q = v - t
    return join(*sector(h // 60, v, None, m, m + t, q))


def main():
    rnd = random.Random(20041908)
    lines = []
    colors = [0x000000, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFF0000, 0xFF00FF, 0x00FFFF, 0xFFFF00, 0x808080,
              0x7F7F7F, 0x010000, 0x000001, 0xFEFFFF, 0x80FF80, 0x123456, 0x654321]
    colors += [rnd.randrange(0x1000000) for _ in range(400)]
    for c in colors:
        lines.append("rgb %06x %08x %08x" % (c, rgb_to_hsl(c), rgb_to_hsv(c)))
    packed = [pack(0, 0, 0), pack(300, 255, 127), pack(0, 255, 128), pack(359, 255, 255), pack(120, 128, 64)]
    packed += [pack(rnd.randrange(360), rnd.randrange(256), rnd.randrange(256)) for _ in range(400)]
    for p in packed:
        lines.append("hsl %08x %06x" % (p, hsl_to_rgb(p)))
        lines.append("hsv %08x %06x" % (p, hsv_to_rgb(p)))
    for _ in range(200):
        r, g, b = (single(rnd.randrange(256) / 255) for _ in range(3))
        h, l, s = colorsys.rgb_to_hls(r, g, b)
        lines.append("frgb %r %r %r %r %r %r" % (r, g, b, h * 6, s, l))
    for _ in range(200):
        h, s, l = single(rnd.uniform(0, 5.999)), single(rnd.random()), single(rnd.random())
        r, g, b = colorsys.hls_to_rgb(h / 6, l, s)
        lines.append("fhsl %r %r %r %r %r %r" % (h, s, l, r, g, b))
    with open(OUT, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
