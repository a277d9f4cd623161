#!/usr/bin/env python3
"""Reference results of the hyperbolic and trigonometric formula routines of the arbitrary-precision
numbers (compiler/CompHugeRoutines.cpp) for arguments near 0 of both signs, where a difference of
two nearly equal values, or the logarithm of a value next to 1, would leave rounding noise: computed with mpmath at 200 digits from the
mathematical functions themselves. Run once; the output is kept as
tests/compiler/data/CompHugeTiny_reference.txt.

Each case line:  routine | digits | registers in | registers out
- digits: the precision the test computes at (20, 40 and 100); each part of the result must be
  right to that many digits relative to itself;
- register lists are top first (the layout the routine sees), comma separated; complex values take
  two entries, real part first.
"""

from mpmath import mp, mpf, mpc

mp.dps = 200

OUT = []


def text(x):
    return mp.nstr(mpf(x), 130, min_fixed=-5, max_fixed=5, strip_zeros=True)


FLOAT = {
    91: mp.sinh,
    95: mp.cosh,
    99: mp.tanh,
    102: mp.coth,
    92: mp.asinh,
    100: mp.atanh,
}

COMPLEX = {
    31: mp.sin,
    33: mp.sinh,
    35: mp.cos,
    37: mp.cosh,
    39: mp.tan,
    41: mp.tanh,
    43: mp.cot,
    44: mp.coth,
}

# Tiny and small arguments of both signs, and the ends of the range of the series (1/2).
REALS = ["1e-70", "-1e-70", "3.7e-25", "-3.7e-25", "2.5e-9", "-2.5e-9", "0.3", "-0.3",
         "0.4999", "-0.4999", "0.5", "-0.5", "0.51", "-0.51", "3", "-3"]

# atanh is real inside (-1, 1) only; its own series ends at 1/8.
ARGUMENTS = {100: [x for x in REALS if abs(mpf(x)) < 1] + ["0.1249", "-0.1249", "0.125", "-0.125"],
             92: REALS + ["0.1249", "-0.1249", "0.125", "-0.125"]}

# Pairs with a tiny part beside an ordinary one, and both parts tiny.
PAIRS = [("0.7", "1e-70"), ("0.7", "-1e-70"), ("1e-70", "0.7"), ("-1e-70", "0.7"),
         ("-1.3", "2e-40"), ("2e-40", "-1.3"), ("1e-30", "2e-30"), ("-1e-30", "-2e-30"),
         ("0.25", "-0.45"), ("-2.5", "0.2")]


def main():
    for digits in (20, 40, 100):
        for routine, f in FLOAT.items():
            for x in ARGUMENTS.get(routine, REALS):
                OUT.append("%d | %d | %s | %s" % (routine, digits, x, text(f(mpf(x)))))
        for routine, f in COMPLEX.items():
            for a, b in PAIRS:
                z = f(mpc(mpf(a), mpf(b)))
                OUT.append("%d | %d | %s,%s | %s,%s" % (routine, digits, a, b, text(z.real), text(z.imag)))
    print("\n".join(OUT))


main()
