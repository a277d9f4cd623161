#!/usr/bin/env python3
"""Reference image of the two-layer document that tests/fractal/FracMainTest.cpp calculates.

Written from the definitions of the pipeline, not from the program's code:

  pixel (X, Y) of a W x H image, magnification 1 and no rotation, stretch or skew:
      scale = 4 / W (the frame spans 4 units across when 3W <= 4H)
      px = X - W div 2, py = H div 2 - Y
      re = px * scale + center.re, im = py * scale + center.im
  top layer:    transformation  pixel = pixel * factor + shift
                compiled formula z = pixel; each round z = z^2 + seed; the round whose |z|^2 < 4
                fails ends the pixel with iterations done = rounds before it; no failure within
                maxiter rounds: inside
  bottom layer: built-in Mandelbrot, start 0: z1 = c is never tested; steps 1 .. maxiter - 1 form
                z = z^2 + c, the last step is not tested, a step whose |z|^2 has upper 32 bits above
                those of the bailout (as doubles) ends the pixel with iterations done = steps;
                no escape: inside
  outside coloring without source: index = iterations * 0.01 (single precision), density 1, linear
                transfer, no offset; gradient code = round(index * 51200) mod 51200
  inside coloring with transfer none: the solid colour, opaque black
  linear gradient of two colour nodes at positions 0 and 200: entries 128 p .. 128 q - 1 of a
                segment take value(p) + k (value(q) - value(p)) / n, k = 0 .. n - 1, truncated
  merge: the bottom layer is opaque; the top layer merges by multiply, P[l][b] with
                P[a][b] = round(a b / 255), then at opacity 60 (byte 60 * 255 div 100 = 153):
                P[255 - 153][base] + P[153][merged]

Escape counts are worked out twice, in doubles rounded at every step and in 40-digit decimals;
a pixel where the two disagree, or where a tested |z|^2 lies within a relative 1e-9 of the limit,
depends on rounding that the definitions leave open and is written as "------" (not compared).

Run once; the output is kept as tests/fractal/data/FracMain_reference.txt:
    python3 tools/frac_main_reference.py > tests/fractal/data/FracMain_reference.txt
"""

import struct
import sys
from decimal import Decimal, getcontext
from fractions import Fraction
from math import floor

WIDTH, HEIGHT = 64, 48
GRADIENT_CODES = 51200
STEPS_PER_POSITION = 128
MARGIN = 1e-9

getcontext().prec = 40

TOP = {
    "center": (0.0, 0.0),
    "factor": 1.5,
    "shift": (0.25, -0.125),
    "seed": (-0.4, 0.6),
    "maxiter": 60,
    # (position, (red, green, blue)) of a linear gradient
    "nodes": [(0, (5, 230, 30)), (200, (255, 30, 180))],
}
BOTTOM = {
    "center": (-0.5, 0.0),
    "bailout": 4.0,
    "maxiter": 80,
    "nodes": [(0, (250, 200, 0)), (200, (0, 100, 200))],
}
MERGE_OPACITY = 60


def high_word(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0] >> 32


def plane_point(x, y, center):
    scale = 4.0 / WIDTH
    px = x - WIDTH // 2
    py = HEIGHT // 2 - y
    return px * scale + center[0], py * scale + center[1]


def near(value, limit):
    return abs(value - limit) <= MARGIN * limit


def julia_count(re, im, seed, maxiter, number):
    """Iterations done of the compiled formula, or None inside; and whether a test came close."""
    zr, zi = number(re), number(im)
    sr, si = number(seed[0]), number(seed[1])
    close = False
    for rounds in range(1, maxiter + 1):
        zr, zi = zr * zr - zi * zi + sr, 2 * zr * zi + si
        size = zr * zr + zi * zi
        close = close or near(float(size), 4.0)
        if not size < 4:
            return rounds - 1, close
    return None, close


def mandelbrot_count(re, im, bailout, maxiter, number):
    """Iterations done of the built-in Mandelbrot (start 0), or None inside."""
    limit_bits = high_word(bailout)
    # The smallest double whose upper word is above the bailout's.
    limit = struct.unpack("<d", struct.pack("<Q", (limit_bits + 1) << 32))[0]
    cr, ci = number(re), number(im)
    zr, zi = cr, ci
    close = False
    for steps in range(1, maxiter):
        zr, zi = zr * zr - zi * zi + cr, 2 * zr * zi + ci
        if steps == maxiter - 1:
            break
        size = zr * zr + zi * zi
        close = close or near(float(size), limit)
        if isinstance(size, float):
            escaped = high_word(size) > limit_bits
        else:
            escaped = size >= Decimal(limit)
        if escaped:
            return steps, close
    return None, close


def single(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def gradient_code(iterations):
    index = single(iterations * single(0.01))
    position = single(index - int(index))
    code = floor(position * GRADIENT_CODES + 0.5) % GRADIENT_CODES
    assert code == iterations * 512 % GRADIENT_CODES  # no rounding question for these counts
    return code


def gradient_table(nodes):
    table = [None] * GRADIENT_CODES
    for i, (start, first) in enumerate(nodes):
        end, last = nodes[(i + 1) % len(nodes)]
        if end <= start:
            end += 400
        length = (end - start) * STEPS_PER_POSITION
        for k in range(length):
            entry = (start * STEPS_PER_POSITION + k) % GRADIENT_CODES
            table[entry] = tuple(
                floor(a + Fraction(k * (b - a), length)) for a, b in zip(first, last)
            )
    return table


def layer_colour(count, table):
    if count is None:
        return (0, 0, 0)
    return table[gradient_code(count)]


def product(a, b):
    return floor(Fraction(a * b, 255) + Fraction(1, 2))


def merged(top, bottom):
    opacity = MERGE_OPACITY * 255 // 100
    return tuple(
        product(255 - opacity, b) + product(opacity, product(l, b)) for l, b in zip(top, bottom)
    )


def decided(first, second):
    """The count both precisions give, or False when they differ or came close to the limit."""
    (a, close_a), (b, close_b) = first, second
    return False if a != b or close_a or close_b else (a,)


def main():
    top_table = gradient_table(TOP["nodes"])
    bottom_table = gradient_table(BOTTOM["nodes"])
    undecided = 0
    out = sys.stdout
    out.write("%d %d\n" % (WIDTH, HEIGHT))
    for y in range(HEIGHT):
        tokens = []
        for x in range(WIDTH):
            re, im = plane_point(x, y, TOP["center"])
            re = re * TOP["factor"] + TOP["shift"][0]
            im = im * TOP["factor"] + TOP["shift"][1]
            top = decided(
                julia_count(re, im, TOP["seed"], TOP["maxiter"], float),
                julia_count(re, im, TOP["seed"], TOP["maxiter"], Decimal),
            )
            re, im = plane_point(x, y, BOTTOM["center"])
            bottom = decided(
                mandelbrot_count(re, im, BOTTOM["bailout"], BOTTOM["maxiter"], float),
                mandelbrot_count(re, im, BOTTOM["bailout"], BOTTOM["maxiter"], Decimal),
            )
            if top is False or bottom is False:
                undecided += 1
                tokens.append("------")
                continue
            colour = merged(layer_colour(top[0], top_table), layer_colour(bottom[0], bottom_table))
            tokens.append("%02x%02x%02x" % colour)
        out.write(" ".join(tokens) + "\n")
    print("%d pixels undecided" % undecided, file=sys.stderr)


if __name__ == "__main__":
    main()
