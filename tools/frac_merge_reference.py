#!/usr/bin/env python3
"""Writes tests/fractal/data/merge_imagemagick.txt: random pixel rows merged by ImageMagick's compose
operators, the reference for the merge modes that ImageMagick also computes.

Run once (needs Debian's imagemagick); the test run reads only the written file. The first image given to
`convert` is the destination (the base row), the second the source (the layer row)."""
import os
import random
import subprocess
import sys
import tempfile

CONVERT = "/usr/bin/convert-im6.q16"
WIDTH, HEIGHT = 64, 4
# Our mode keyword and the ImageMagick operator that computes the same formula on opaque pixels.
# ImageMagick 6.9's MinusSrc is destination minus source, clamped at 0.
OPERATORS = [
    ("multiply", "Multiply"),
    ("screen", "Screen"),
    ("overlay", "Overlay"),
    ("hardlight", "HardLight"),
    ("darken", "Darken"),
    ("lighten", "Lighten"),
    ("difference", "Difference"),
    ("addition", "Plus"),
    ("subtraction", "MinusSrc"),
]


def random_image(rng):
    # Mostly uniform values, with the branch points and the ends of the range mixed in.
    special = [0, 1, 127, 128, 129, 254, 255]
    return bytes(rng.choice(special) if rng.random() < 0.15 else rng.randrange(256)
                 for _ in range(WIDTH * HEIGHT * 3))


def write_ppm(path, data):
    with open(path, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (WIDTH, HEIGHT))
        f.write(data)


def read_ppm(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = data.split(maxsplit=4)
    assert fields[0] == b"P6" and int(fields[1]) == WIDTH and int(fields[2]) == HEIGHT
    assert int(fields[3]) == 255
    pixels = fields[4]
    assert len(pixels) == WIDTH * HEIGHT * 3
    return pixels


def main():
    rng = random.Random(20261210)
    base, layer = random_image(rng), random_image(rng)
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fractal", "data",
                       "merge_imagemagick.txt")
    with tempfile.TemporaryDirectory() as tmp:
        base_path, layer_path = os.path.join(tmp, "base.ppm"), os.path.join(tmp, "layer.ppm")
        write_ppm(base_path, base)
        write_ppm(layer_path, layer)
        lines = ["# %d x %d pixels, each line red, green, blue bytes in hex, row by row" % (WIDTH, HEIGHT),
                 "# written by tools/frac_merge_reference.py with ImageMagick's compose operators",
                 "base " + base.hex(), "layer " + layer.hex()]
        for keyword, operator in OPERATORS:
            result_path = os.path.join(tmp, keyword + ".ppm")
            subprocess.run([CONVERT, base_path, layer_path, "-compose", operator, "-composite", "-depth", "8",
                            result_path], check=True)
            lines.append(keyword + " " + read_ppm(result_path).hex())
    with open(out, "w", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    print("wrote", out)


if __name__ == "__main__":
    sys.exit(main())
