#!/usr/bin/env python3
"""Reference results of the formula routine templates (compiler/CompRoutines.S,
compiler/CompColorRoutines.S), computed independently with mpmath at 50 digits, Python integers
and colorsys. Run once; the output is kept as tests/compiler/data/CompRoutines_reference.txt.

Each case line:  routine | tolerance | x87 in | eax edx | colours in | x87 out | int out | colour out
- x87 lists are top first (the operand layout the template sees), comma separated, '-' for none;
- numbers are exact binary values written as "m p e" = m * 2^e (m, e integers), or inf, -inf, nan;
- expected floats are the 50-digit results rounded to a 64-bit mantissa;
- int out is "eax=<n>" (all 32 bits) or "al=<n>" (the low byte), '-' for none;
- colours are 4 (or 8: left then right) 32-bit floats red, green, blue, alpha;
- tolerance: |got - expected| <= tolerance * max(1, largest |expected| of the case).
"""

import colorsys
import math
import struct
import sys

import mpmath
from mpmath import mp, mpf, mpc

mp.dps = 50

INF = float("inf")
NAN = float("nan")


def exact(x):
    """A Python float as m p e."""
    if math.isnan(x):
        return "nan"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    if x == 0:
        return "-0 p 0" if math.copysign(1, x) < 0 else "0 p 0"
    m, e = math.frexp(x)
    m, e = int(m * 2 ** 53), e - 53
    while m % 2 == 0:
        m, e = m // 2, e + 1
    return f"{m} p {e}"


def ext(v):
    """An mpmath real rounded to the 80-bit format (64-bit mantissa) as m p e."""
    v = mpf(v)
    if mpmath.isnan(v):
        return "nan"
    if mpmath.isinf(v):
        return "inf" if v > 0 else "-inf"
    if v == 0:
        return "0 p 0"
    with mp.workprec(64):
        r = +v
    man, exp = r.man_exp  # man is the magnitude
    if man >= 1 << 64:
        raise ValueError(v)
    return f"{'-' if r < 0 else ''}{int(man)} p {int(exp)}"


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


lines = []


def emit(n, tol, x87_in, ints_in, colours_in, x87_out, int_out, colour_out, note=""):
    xin = ",".join(exact(v) for v in x87_in) or "-"
    iin = " ".join(str(v) for v in ints_in) if ints_in else "-"
    cin = ",".join(exact(f32(v)) for v in colours_in) or "-"
    xout = ",".join(ext(v) for v in x87_out) or "-"
    cout = ",".join(exact(f32(float(v))) for v in colour_out) or "-"
    text = f"{n} | {tol} | {xin} | {iin} | {cin} | {xout} | {int_out or '-'} | {cout}"
    if note:
        text += "  # " + note
    lines.append(text)


def scaled_max(values):
    return max([1] + [abs(mpf(v)) for v in values if mpmath.isfinite(mpf(v))])


# ---------------------------------------------------------------------------------------------
# Complex functions (z = a + bi), the formulas the routines compute, with principal sqrt and log.

def csqrt(z):
    return mpmath.sqrt(z)


def clog(z):
    if z == 0:
        return mpc(-mpmath.inf, 0)
    return mpmath.log(z)


I = mpc(0, 1)

complex_unary = {
    30: lambda z: -z,
    31: mpmath.sin,
    32: lambda z: -I * clog(I * z + csqrt(1 - z * z)),
    33: mpmath.sinh,
    34: lambda z: clog(z + csqrt(z * z + 1)),
    35: mpmath.cos,
    36: lambda z: -I * clog(z + csqrt(z * z - 1)),
    37: mpmath.cosh,
    38: lambda z: clog(z + csqrt(z * z - 1)),
    39: mpmath.tan,
    40: lambda z: (I / 2) * clog((1 - I * z) / (1 + I * z)),
    41: mpmath.tanh,
    42: lambda z: clog((1 + z) / (1 - z)) / 2,
    43: mpmath.cot,
    44: mpmath.coth,
    45: lambda z: z * z,
    46: lambda z: 2 * z,
    47: lambda z: I * z,
    48: lambda z: -I * z,
    49: lambda z: z ** 3,
    50: lambda z: z ** 4,
    51: csqrt,
    52: clog,
    53: mpmath.exp,
    54: lambda z: mpc(abs(z.real), abs(z.imag)),
    56: lambda z: mpc(abs(z), 0),
    58: lambda z: 1 / z,
    59: mpmath.conj,
    62: lambda z: mpc(z.imag, z.real),
    63: lambda z: mpc(mpmath.floor(z.real), mpmath.floor(z.imag)),
    64: lambda z: mpc(mpmath.ceil(z.real), mpmath.ceil(z.imag)),
    65: lambda z: mpc(int(z.real), int(z.imag)),
    66: lambda z: mpc(mpmath.floor(z.real + 0.5), mpmath.floor(z.imag + 0.5)),
}


def atan2_routine(a, b):
    a, b = mpf(a), mpf(b)
    if a > 0:
        return mpmath.atan(b / a)
    if a == 0:
        return mpmath.pi / 2 if b > 0 else -mpmath.pi / 2
    return mpmath.atan(b / a) + (mpmath.pi if b > 0 else -mpmath.pi)


complex_to_float = {
    55: lambda a, b: mpmath.sqrt(mpf(a) ** 2 + mpf(b) ** 2),
    57: lambda a, b: mpf(a) ** 2 + mpf(b) ** 2,
    60: lambda a, b: mpf(a),
    61: lambda a, b: mpf(b),
    67: atan2_routine,
}

# Points away from branch cuts and poles, several magnitudes and all four quadrants.
points = [(0.75, 0.5), (-1.25, 0.375), (0.3125, -2.25), (-0.625, -0.875), (2.5, 1.75), (-3.0, 0.046875),
          (0.1, 0.7), (5.5, -4.25)]
# Per routine: tolerance, relative to max(1, |result|); extra points.
complex_unary_tol = {n: "2e-18" for n in complex_unary}
complex_unary_extra = {
    36: [(0.7, -0.4)],          # the documented non-principal branch: -0.898 - 0.491i
    39: [(0.5, 400.0), (0.25, -3000.0), (1.0, 0.0)],   # large imaginary parts: no overflow
    41: [(400.0, 0.5), (-3000.0, 0.25), (0.0, 1.0)],
    43: [(0.5, 400.0), (-0.75, -3000.0)],
    44: [(400.0, 0.5), (-3000.0, -0.75)],
    53: [(-20000.0, 0.5), (0.0, 0.0), (-INF, 0.5)],  # e^-inf is 0, not inf - inf
    52: [(0.0, 0.0)],            # log 0 = (-inf, 0)
    63: [(2.5, -2.5), (-0.5, 3.0)],
    64: [(2.5, -2.5), (-0.5, 3.0)],
    65: [(2.5, -2.5), (-0.5, 3.0)],
    66: [(2.5, -2.5), (-0.5, 3.0)],  # round (2.5 - 2.5i) = 3 - 2i
    58: [(1e-3, 1e3)],
    51: [(-4.0, 1e-30), (0.0, 0.0)],
}

for n, f in complex_unary.items():
    for a, b in points + complex_unary_extra.get(n, []):
        z = mpc(a, b)
        if n in (63, 64, 65, 66):
            pass
        elif n == 52 and z == 0:
            emit(n, "0", [a, b], [], [], [-mpmath.inf, 0], None, [])
            continue
        r = f(z)
        emit(n, complex_unary_tol[n], [a, b], [], [], [r.real, r.imag], None, [])

for n, f in complex_to_float.items():
    for a, b in points + [(0.0, 0.0), (0.0, 2.0), (0.0, -2.0), (-1.0, 0.0), (-1.0, 2.0), (-1.0, -2.0), (3.0, -4.0)]:
        emit(n, "2e-18", [a, b], [], [], [f(a, b)], None, [])

# Binary complex routines: left = a + bi, right = c + di.
def cpow(z, w):
    if z.real ** 2 + z.imag ** 2 == 0:
        return mpc(0, 0)
    return mpmath.exp(w * clog(z))


complex_binary = {
    22: (False, lambda z, w: z + w, "0"),
    23: (False, lambda z, w: z - w, "0"),
    24: (True, lambda z, w: z - w, "0"),
    25: (False, lambda z, w: z * w, "2e-19"),
    26: (False, lambda z, w: z / w, "5e-19"),
    27: (True, lambda z, w: z / w, "5e-19"),
    28: (False, cpow, "1e-18"),
    29: (True, cpow, "1e-18"),
}
pairs = [((0.75, 0.5), (-1.25, 0.375)), ((2.5, -1.75), (0.3125, 0.5)), ((-0.625, -0.875), (3.0, -2.0)),
         ((1.5, 0.0), (0.5, 0.0)), ((0.0, 1.0), (0.0, 1.0))]
for n, (reversed_, f, tol) in complex_binary.items():
    cases = pairs + ([((0.0, 0.0), (2.0, 1.0))] if n in (28, 29) else [])
    for (a, b), (c, d) in cases:
        r = f(mpc(a, b), mpc(c, d))
        if tol == "0":
            # Sums and differences of these dyadic values are exact.
            tol_here = "0"
        else:
            tol_here = tol
        stack = [c, d, a, b] if reversed_ else [a, b, c, d]
        emit(n, tol_here, stack, [], [], [r.real, r.imag], None, [])

# Comparisons decide by the flags fucom leaves: an unordered pair (a NaN operand) sets "equal"
# and "less" together, so ==, < and <= hold and !=, > and >= do not.
def less(x, y):
    return math.isnan(x) or math.isnan(y) or x < y


def equal(x, y):
    return math.isnan(x) or math.isnan(y) or x == y


# Complex comparisons: == and != of both parts; <, <=, >, >= of the real parts only.
compare_cases = [((1.0, 2.0), (1.0, 2.0)), ((1.0, 2.0), (1.0, 3.0)), ((0.5, 2.0), (1.0, 2.0)),
                 ((1.5, -2.0), (1.0, 9.0)), ((NAN, 0.0), (NAN, 0.0)), ((1.0, NAN), (1.0, 2.0)),
                 ((-0.0, 0.0), (0.0, -0.0))]
ops = {
    68: lambda x, y: equal(x[0], y[0]) and equal(x[1], y[1]),
    69: lambda x, y: not (equal(x[0], y[0]) and equal(x[1], y[1])),
    70: lambda x, y: less(x[0], y[0]),
    71: lambda x, y: less(x[0], y[0]) or equal(x[0], y[0]),
    72: lambda x, y: not (less(x[0], y[0]) or equal(x[0], y[0])),
    73: lambda x, y: not less(x[0], y[0]),
}
for n, f in ops.items():
    for (a, b), (c, d) in compare_cases:
        emit(n, "0", [a, b, c, d], [], [], [], f"al={int(f((a, b), (c, d)))}", [])

# Stack shuffles.
emit(18, "0", [], [], [], [0, 0], None, [])
emit(19, "0", [], [], [], [1, 0], None, [])
emit(20, "0", [1.5, -2.5], [], [], [1.5, -2.5, 1.5, -2.5], None, [])
emit(21, "0", [1.5, -2.5], [], [], [], None, [])
emit(74, "0", [], [], [], [0], None, [])
emit(75, "0", [], [], [], [1], None, [])
emit(76, "0", [-3.25], [], [], [-3.25, -3.25], None, [])
emit(77, "0", [-3.25], [], [], [], None, [])

# ---------------------------------------------------------------------------------------------
# Float functions.

def flog(x):
    return mpf(0) if x == 0 else mpmath.log(abs(mpf(x)))


float_unary = {
    88: (lambda x: -mpf(x), "0"),
    89: (mpmath.sin, "1e-18"),
    90: (lambda x: mpmath.atan(mpf(x) / mpmath.sqrt(1 - mpf(x) ** 2)), "1e-18"),
    91: (mpmath.sinh, "1e-18"),
    92: (lambda x: mpmath.log(abs(mpf(x) + mpmath.sqrt(mpf(x) ** 2 + 1))), "1e-18"),
    93: (mpmath.cos, "1e-18"),
    94: (lambda x: mpmath.pi / 2 if x == 0 else mpmath.atan(mpmath.sqrt(1 - mpf(x) ** 2) / mpf(x)), "1e-18"),
    95: (mpmath.cosh, "1e-18"),
    96: (lambda x: mpmath.log(abs(mpf(x) + mpmath.sqrt(mpf(x) ** 2 - 1))), "1e-18"),
    97: (mpmath.tan, "1e-18"),
    98: (mpmath.atan, "1e-18"),
    99: (mpmath.tanh, "1e-18"),
    100: (lambda x: mpmath.log(abs((1 + mpf(x)) / (1 - mpf(x)))) / 2, "1e-18"),
    101: (lambda x: mpmath.cos(x) / mpmath.sin(x), "1e-18"),
    102: (mpmath.coth, "1e-18"),
    103: (lambda x: mpf(x) ** 2, "1e-19"),
    104: (lambda x: 2 * mpf(x), "0"),
    107: (lambda x: mpf(x) ** 3, "2e-19"),
    108: (lambda x: mpf(x) ** 4, "2e-19"),
    109: (mpmath.sqrt, "1e-19"),
    110: (flog, "1e-18"),
    111: (mpmath.exp, "1e-18"),
    112: (lambda x: abs(mpf(x)), "0"),
    113: (lambda x: 1 / mpf(x), "1e-19"),
}
float_points = [0.75, -0.375, 2.5, -1.75, 0.0625, 5.25, -9.5]
float_extra = {
    89: [3.0e-10],
    90: [0.999, -0.25],
    94: [-0.6, 0.999, 0.0],          # acos (-0.6) = -0.927 in -pi/2 .. pi/2
    92: [-1e12, 1e-5],               # large negative: no cancellation to ln 0
    96: [-1e12, 1.0],
    99: [30.0, -20000.0, 1e-3],      # no overflow to NaN
    102: [30.0, -20000.0],
    100: [0.5, -0.9],
    110: [0.0, 1e-300],              # log 0 = 0; a tiny value is not taken for 0
    111: [-20000.0, 20000.0, 700.0, INF, -INF],
    113: [0.0],
}
for n, (f, tol) in float_unary.items():
    pts = float_points + float_extra.get(n, [])
    if n in (90, 94, 100):
        pts = [0.75, -0.375, 0.0625] + float_extra.get(n, [])
    if n == 96:
        pts = [2.5, -1.75, 5.25, -9.5] + float_extra[n]
    if n == 109:
        pts = [0.75, 2.5, 0.0625, 5.25]
    for x in pts:
        if n == 113 and x == 0:
            emit(n, "0", [x], [], [], [mpmath.inf], None, [])
            continue
        r = f(x)
        if n in (91, 95, 111) and abs(x) > 100:
            # e^x scales x by log2 e rounded to 64 bits: the relative error grows with |x|.
            emit(n, "5e-17", [x], [], [], [r], None, [], "large argument")
            continue
        emit(n, tol, [x], [], [], [r], None, [])

# Float to complex.
for x in [0.75, -2.5]:
    emit(105, "0", [x], [], [], [0, x], None, [])
    emit(106, "0", [x], [], [], [0, -x], None, [])
    emit(192, "0", [x], [], [], [x, 0], None, [])

# Float to int: floor, ceil, round (floor of x + 0.5), trunc.
def wrap32(n):
    n &= 0xFFFFFFFF
    return n - (1 << 32) if n & 0x80000000 else n


for x in [2.5, -2.5, 0.49, -0.5, 7.999, -7.001, 1e12]:
    big = abs(x) >= 2 ** 31
    indefinite = -(1 << 31)
    emit(114, "0", [x], [], [], [], f"eax={indefinite if big else math.floor(x)}", [])
    emit(115, "0", [x], [], [], [], f"eax={indefinite if big else math.ceil(x)}", [])
    emit(116, "0", [x], [], [], [], f"eax={indefinite if big else math.floor(x + 0.5)}", [])
    emit(117, "0", [x], [], [], [], f"eax={indefinite if big else int(x)}", [])

# Float binary: [x y] with x the left operand on top; reversed variants have y on top.
def fpow(x, y):
    return mpf(0) if x == 0 else abs(mpf(x)) ** mpf(y)


float_binary = {
    78: (False, lambda x, y: mpf(x) + mpf(y), "1e-19"),
    79: (False, lambda x, y: mpf(x) - mpf(y), "1e-19"),
    80: (True, lambda x, y: mpf(x) - mpf(y), "1e-19"),
    81: (False, lambda x, y: mpf(x) * mpf(y), "1e-19"),
    82: (False, lambda x, y: mpf(x) / mpf(y), "1e-19"),
    83: (True, lambda x, y: mpf(x) / mpf(y), "1e-19"),
    84: (False, lambda x, y: mpf(math.fmod(x, y)), "0"),  # exact for doubles
    85: (True, lambda x, y: mpf(math.fmod(x, y)), "0"),
    86: (False, fpow, "1e-18"),
    87: (True, fpow, "1e-18"),
}
binary_points = [(0.75, 2.5), (-7.0, 3.0), (7.0, -3.0), (5.5, 0.375), (-2.0, 1.5), (0.0, 2.5), (2.5, -0.5)]
for n, (reversed_, f, tol) in float_binary.items():
    cases = list(binary_points)
    if n in (84, 85):
        # Quotients far beyond one fprem pass (63 bits of exponent difference per pass).
        cases += [(1e30, 3.0), (-1.0e300, 7.0), (1.2345e200, 0.001)]
    for x, y in cases:
        r = f(x, y)
        emit(n, tol, [y, x] if reversed_ else [x, y], [], [], [r], None, [])

float_compare = {
    118: lambda x, y: equal(x, y),
    119: lambda x, y: not equal(x, y),
    120: lambda x, y: less(x, y),
    121: lambda x, y: less(x, y) or equal(x, y),
    122: lambda x, y: not (less(x, y) or equal(x, y)),
    123: lambda x, y: not less(x, y),
}
for n, f in float_compare.items():
    for x, y in [(1.0, 2.0), (2.0, 1.0), (1.5, 1.5), (-0.0, 0.0), (NAN, 1.0), (1.0, NAN), (-INF, 3.0)]:
        emit(n, "0", [x, y], [], [], [], f"al={int(f(x, y))}", [])

# ---------------------------------------------------------------------------------------------
# Int and bool routines (eax left, edx right).

def rem(x, y):
    if y == 0 or y == -1:
        return 0
    r = abs(x) % abs(y)
    return -r if x < 0 else r


int_binary = {
    124: lambda x, y: wrap32(x + y),
    125: lambda x, y: wrap32(x - y),
    126: lambda x, y: wrap32(x * y),
    127: rem,
}
int_pairs = [(7, 3), (7, -3), (-7, 3), (-7, -3), (7, 0), (0x7FFFFFFF, 1), (-2 ** 31, -1), (123456, 654321),
             (-5, 5)]
for n, f in int_binary.items():
    for x, y in int_pairs:
        emit(n, "0", [], [x, y], [], [], f"eax={f(x, y)}", [])
int_compare = {133: lambda x, y: x == y, 134: lambda x, y: x != y, 135: lambda x, y: x < y,
               136: lambda x, y: x <= y, 137: lambda x, y: x > y, 138: lambda x, y: x >= y}
for n, f in int_compare.items():
    for x, y in [(1, 2), (2, 1), (5, 5), (-2 ** 31, 2 ** 31 - 1), (-1, 0)]:
        emit(n, "0", [], [x, y], [], [], f"al={int(f(x, y))}", [])
for x in [5, -5, 0, 2 ** 31 - 1, -2 ** 31, 100000]:
    emit(128, "0", [], [x, 0], [], [], f"eax={wrap32(-x)}", [])
    emit(129, "0", [], [x, 0], [], [], f"eax={wrap32(x * x)}", [])
    emit(130, "0", [], [x, 0], [], [], f"eax={wrap32(2 * x)}", [])
    emit(131, "0", [], [x, 0], [], [], f"eax={wrap32(abs(x))}", [])
    emit(132, "0", [], [x, 0], [], [], f"eax={wrap32(x * 134775813 + 1)}", [])
    emit(193, "0", [], [x, 0], [], [x, 0], None, [])
    emit(194, "0", [], [x, 0], [], [x], None, [])
for a in (0, 1):
    for b in (0, 1):
        emit(139, "0", [], [a, b], [], [], f"al={int(a == b)}", [])
        emit(140, "0", [], [a, b], [], [], f"al={int(a != b)}", [])
        emit(141, "0", [], [a, b], [], [], f"al={a & b}", [])
        emit(142, "0", [], [a, b], [], [], f"al={a | b}", [])
    emit(143, "0", [], [a, 0], [], [], f"al={1 - a}", [])
# Bool conversions look at bit 0 only (a bool lives in al; higher bits may hold anything).
for v in (0, 1, 0x12345600, 0x7FFFFF01):
    emit(195, "0", [], [v, 0], [], [v & 1, 0], None, [])
    emit(196, "0", [], [v, 0], [], [v & 1], None, [])
    emit(197, "0", [], [v, 0], [], [], f"eax={v & 1}", [])

# ---------------------------------------------------------------------------------------------
# Mixed complex and float arithmetic.

mixed = {
    144: ("cz", lambda z, x: z * x),
    145: ("zc", lambda z, x: z * x),
    146: ("cz", lambda z, x: z + x),
    147: ("zc", lambda z, x: z + x),
    148: ("cz", lambda z, x: z - x),
    151: ("zc", lambda z, x: z - x),
    149: ("zc", lambda z, x: x - z),
    150: ("cz", lambda z, x: x - z),
    152: ("cz", lambda z, x: z / x),
    153: ("zc", lambda z, x: z / x),
}
for n, (layout, f) in mixed.items():
    for (a, b), x in [((0.75, -1.25), 2.5), ((-3.0, 0.375), -0.625)]:
        r = f(mpc(a, b), mpf(x))
        stack = [a, b, x] if layout == "cz" else [x, a, b]
        emit(n, "1e-19", stack, [], [], [r.real, r.imag], None, [])

# ---------------------------------------------------------------------------------------------
# Colour routines. Colours are 32-bit floats; results are rounded to 32-bit floats.

CTOL = "2.5e-7"
base = [0.25, 0.625, 0.8125, 0.75]
layer = [0.5, 0.125, 0.9375, 0.5]
dark = [0.125, 0.25, 0.375, 1.0]
light = [0.75, 0.375, 0.875, 0.25]


def colour_case(n, x87, left, right, x87_out, colour_out, tol=CTOL):
    emit(n, tol, x87, [], left + right, x87_out, None, colour_out)


colour_case(154, [], base, layer, [], [b + l for b, l in zip(base, layer)])
colour_case(155, [], base, layer, [], [b - l for b, l in zip(base, layer)])
colour_case(156, [1.5], base, [], [], [c * 1.5 for c in base])
colour_case(157, [2.5], base, [], [], [c / 2.5 for c in base])
colour_case(158, [1.0, 0.5, 0.0], [], [], [], [1.0, 0.5, 0.0, 1.0])  # rgb (1, 0.5, 0): alpha 1
colour_case(159, [0.25, 0.5, 0.75, 0.125], [], [], [], [0.25, 0.5, 0.75, 0.125])
for h, s, l in [(0.5, 0.75, 0.375), (3.25, 0.5, 0.625), (5.5, 1.0, 0.5)]:
    r, g, b = colorsys.hls_to_rgb(h / 6, l, s)
    colour_case(160, [h, s, l], [], [], [], [r, g, b, 1.0], "5e-7")
    colour_case(161, [h, s, l, 0.25], [], [], [], [r, g, b, 0.25], "5e-7")
for c in (base, layer, light):
    hh, ll, ss = colorsys.rgb_to_hls(*c[:3])
    colour_case(162, [], c, [], [c[0]], [])
    colour_case(163, [], c, [], [c[1]], [])
    colour_case(164, [], c, [], [c[2]], [])
    colour_case(168, [], c, [], [c[3]], [])
    colour_case(165, [], c, [], [hh * 6], [], "5e-7")
    colour_case(166, [], c, [], [ss], [], "5e-7")
    colour_case(167, [], c, [], [ll], [], "5e-7")


def blend(c1, c2, t):
    return [a * (1 - t) + b * t for a, b in zip(c1, c2)]


for t in (0.0, 1.0, 0.375):
    colour_case(171, [t], base, layer, [], blend(base, layer, t))


def compose(c1, c2, t):
    s = t * c2[3]
    A = c1[3] + s - s * c1[3]
    w = 0.0 if A == 0 else s / A
    return [a * (1 - w) + b * w for a, b in zip(c1[:3], c2[:3])] + [A]


transparent = layer[:3] + [0.0]
for c1, c2, t in [(base, layer, 0.375), (base, transparent, 0.7), (base[:3] + [0.0], transparent, 0.5),
                  (dark, light, 1.0)]:
    colour_case(172, [t], c1, c2, [], compose(c1, c2, t))


def merge_rgb(f):
    return lambda b, l: [f(x, y) for x, y in zip(b[:3], l[:3])] + [l[3]]


def hls(c):
    h, l, s = colorsys.rgb_to_hls(*c[:3])
    return h * 6, s, l


def from_hsl(h, s, l, alpha):
    return list(colorsys.hls_to_rgb(h / 6, l, s)) + [alpha]


merges = {
    173: lambda b, l: list(l),
    174: merge_rgb(lambda b, l: b * l),
    175: merge_rgb(lambda b, l: 1 - (1 - b) * (1 - l)),
    176: merge_rgb(lambda b, l: 2 * b * l if b <= 0.5 else 1 - 2 * (1 - b) * (1 - l)),
    177: merge_rgb(lambda b, l: (l + 0.5) * b if l <= 0.5 else 1 - (1 - b) * (1.5 - l)),
    178: merge_rgb(lambda b, l: 2 * b * l if l <= 0.5 else 1 - 2 * (1 - b) * (1 - l)),
    179: merge_rgb(min),
    180: merge_rgb(max),
    181: merge_rgb(lambda b, l: abs(b - l)),
    182: lambda b, l: from_hsl(hls(l)[0], hls(b)[1], hls(b)[2], l[3]),
    183: lambda b, l: from_hsl(hls(b)[0], hls(l)[1], hls(b)[2], l[3]),
    184: lambda b, l: from_hsl(hls(l)[0], hls(l)[1], hls(b)[2], l[3]),
    185: lambda b, l: from_hsl(hls(b)[0], hls(b)[1], hls(l)[2], l[3]),
    186: merge_rgb(lambda b, l: min(b + l, 1.0)),
    187: merge_rgb(lambda b, l: max(b - l, 0.0)),
    188: lambda b, l: from_hsl((hls(b)[0] + hls(l)[0]) - (6 if hls(b)[0] + hls(l)[0] >= 6 else 0),
                              min(max(hls(b)[1] + hls(l)[1] - 0.5, 0), 1),
                              min(max(hls(b)[2] + hls(l)[2] - 0.5, 0), 1), l[3]),
    189: lambda b, l: [l[0], b[1], b[2], l[3]],
    190: lambda b, l: [b[0], l[1], b[2], l[3]],
    191: lambda b, l: [b[0], b[1], l[2], l[3]],
}
for n, f in merges.items():
    # Pairs on both sides of 0.5 for the modes that branch, a darker base under a lighter layer
    # (subtraction clamps at 0), and channels adding beyond 1 (0.7 + 0.6).
    for b, l in [(base, layer), (dark, light), (light, dark), ([0.7, 0.2, 0.5, 1.0], [0.6, 0.9, 0.5, 0.5])]:
        tol = "5e-7" if n in (182, 183, 184, 185, 188) else CTOL
        colour_case(n, [], b, l, [], f(b, l), tol)

header = __doc__.strip().splitlines()
with open(sys.argv[1] if len(sys.argv) > 1 else "/dev/stdout", "w") as out:
    out.write("# Made by tools/comp_routines_reference.py (mpmath %s); do not edit.\n" % mpmath.__version__)
    for line in lines:
        out.write(line + "\n")
