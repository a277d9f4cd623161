#!/usr/bin/env python3
"""Reference orbit for tests/compiler/CompHugeOrbitTest.cpp.

A Mandelbrot orbit z(k+1) = z(k)^2 + c, z(0) = 0, at a point c just inside the main cardioid,
about 1e-30 from its edge, next to the parameter whose fixed point has a golden-mean rotation
number: the orbit circles slowly for thousands of iterations without escaping, and rounding
errors grow only by a few hundred over 1000 iterations, so 60-digit arithmetic stays good to
well beyond 55 digits. c is cut to 36 significant digits (what a view at magnification 1e30
needs); the iterates are computed at 60 digits and checked here against a 200-digit run.

Run once; the output is kept as tests/compiler/data/CompHugeOrbit_reference.txt.
Lines: "c <re> <im>", then "<k> <re> <im>" for the iterates the test compares.
"""
import sys
from mpmath import mp, mpf, mpc, exp, pi, sqrt, nstr

ITERATES = [1, 2, 10, 100, 250, 500, 999, 1000]


def orbit(c, count, dps):
    with mp.workdps(dps):
        z = mpc(0)
        out = []
        for _ in range(count):
            z = z * z + c
            out.append(+z)
        return out


def main():
    mp.dps = 200
    theta = (sqrt(5) - 1) / 2
    mu = (1 - mpf(10) ** -30) * exp(2j * pi * theta)
    exact_c = mu / 2 - mu * mu / 4
    c_re, c_im = nstr(exact_c.real, 36), nstr(exact_c.imag, 36)
    c = mpc(mpf(c_re), mpf(c_im))

    reference = orbit(c, ITERATES[-1], 60)
    precise = orbit(c, ITERATES[-1], 200)
    assert max(abs(z) for z in precise) < 2, "the orbit escapes"
    for k in ITERATES:
        z, exact = reference[k - 1], precise[k - 1]
        # The 60-digit values themselves must be good to well beyond the 55 digits compared.
        assert abs(z - exact) <= mpf(10) ** -57 * abs(exact), k

    lines = ["c %s %s" % (c_re, c_im)]
    with mp.workdps(60):
        for k in ITERATES:
            z = reference[k - 1]
            lines.append("%d %s %s" % (k, nstr(z.real, 60), nstr(z.imag, 60)))
    sys.stdout.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
