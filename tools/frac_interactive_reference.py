#!/usr/bin/env python3
"""Exact reference locations of the interactive fractal's pan and zoom operations.

An image of 32 x 24 pixels at magnification M spans 4 / (32 M) per pixel (it is not wider than 4:3),
x to the right and the imaginary axis up. A pan by (dx, dy) pixels moves the centre by (-dx, dy)
pixels; a zoom by f about the image point p keeps p where it is (p + (c - p) / f for the new view's
points c) or, without keeping, moves p to the centre. Writes one line per case: precision name, case
name, the new centre's real and imaginary parts and the new magnification, in 60 significant digits.
"""
import sys

from mpmath import mp, mpf, exp, nstr

mp.dps = 80

W, H = 32, 24
STARTS = [
    ("double", "-0.5", "0", "1"),
    ("extended", "-0.7436438870371587", "0.131825904205312", "1e9"),
    ("arbitrary", "-0.743643887037158704752191506114774", "0.131825904205311970493132056385139", "1e40"),
]


def cases(re, im, m):
    p = mpf(4) / W / m
    def at(x, y, keep_fraction):
        # The new centre is the image point centre + (x - W/2, y - H/2) * keep_fraction.
        return re + (x - W // 2) * keep_fraction * p, im - (y - H // 2) * keep_fraction * p
    out = []
    out.append(("pan", re - 5 * p, im - 3 * p, m))                      # (10,10) -> (15,7)
    out.append(("pan_ctrl", re + 1 * p, im + 2 * p, m))                 # (10,10) -> (3,21), quartered toward 0
    r, i = at(7, 5, 1 - mpf(1) / 2)
    out.append(("zoom_keep", r, i, 2 * m))
    r, i = at(20, 3, 1)
    out.append(("zoom_centre", r, i, 3 * m))
    r, i = at(25, 18, 1 - 4)
    out.append(("zoom_out_keep", r, i, m / 4))
    f = exp(mpf(10) / 100)                                                # drag (9,14) -> (9,4)
    r, i = at(9, 14, 1 - 1 / f)
    out.append(("zoom_drag", r, i, m * f))
    return out


def main(path):
    with open(path, "w", newline="\n") as file:
        for name, re, im, m in STARTS:
            for case, r, i, mag in cases(mpf(re), mpf(im), mpf(m)):
                file.write(f"{name} {case} {nstr(r, 60)} {nstr(i, 60)} {nstr(mag, 60)}\n")


if __name__ == "__main__":
    main(sys.argv[1])
