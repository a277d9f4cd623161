#!/usr/bin/env python3
"""Reference data for the arbitrary-precision number modules.

Run once; the output is committed:
  huge_vectors.py consts  > foundation/huge/HugeConsts.cpp
  huge_vectors.py arith   > tests/foundation/data/huge_arith.txt
  huge_vectors.py funcs   > tests/foundation/data/huge_funcs.txt
  huge_vectors.py text    > tests/foundation/data/huge_text.txt

Numbers are written as  <state> <sign> <exponent> <word count> <words, top first, hex>
with the value (-1)^sign * sum w[i] * 2^(32*(exponent-(n-1-i))) (word 0 lowest).
The arithmetic reference is an exact model written with Python integers from the
rules of the word arithmetic (whole-word alignment, truncation, half-up rounding of
the highest dropped word of an addition); the function references come from mpmath
at twice the number's bits.
"""
import random
import sys

MAXE = 4096
MINE = -4096
MASK = 0xFFFFFFFF

# ---------------------------------------------------------------- constants

def const_words(value_fn, exponent, count):
    import mpmath
    mpmath.mp.prec = 32 * (count + 4)
    v = value_fn(mpmath)
    # scale so that the top word holds the word of the given exponent
    scaled = mpmath.floor(v * mpmath.mpf(2) ** (32 * (count - 1 - exponent)))
    n = int(scaled)
    words = [(n >> (32 * i)) & MASK for i in range(count)]
    return list(reversed(words))  # top first


def gen_consts():
    count = 1702
    tables = [
        ("HugePiTable", lambda m: m.pi, 0),
        ("HugeETable", lambda m: m.e, 0),
        ("HugeLog2ETable", lambda m: 1 / m.log(2), 0),
        ("HugeLn2Table", lambda m: m.log(2), -1),
    ]
    out = []
    out.append("// Binary expansions of pi, e, log2 e and ln 2 in 32-bit words, most significant")
    out.append("// word first (generated once by tools/huge_vectors.py with mpmath).")
    out.append('#include "HugeConsts.h"')
    out.append("")
    for name, fn, exp in tables:
        words = const_words(fn, exp, count)
        out.append("const uint32_t %s[HugeConstWords] = {" % name)
        for i in range(0, count, 6):
            out.append("    " + ", ".join("0x%08X" % w for w in words[i:i + 6]) + ",")
        out.append("};")
        out.append("")
    print("\n".join(out))


# ---------------------------------------------------------------- exact model
#
# A number is (state, sign, exponent, mantissa, n) with the mantissa a Python
# integer of n words; state 'n' normal, 'i' infinite, 'q' NaN. Zero is any
# normal number whose top word is 0.

B = 1 << 32


class H:
    __slots__ = ("st", "sg", "e", "m", "n")

    def __init__(self, n, st="n", sg=False, e=0, m=0):
        self.n, self.st, self.sg, self.e, self.m = n, st, sg, e, m

    def copy(self):
        return H(self.n, self.st, self.sg, self.e, self.m)

    def top(self):
        return self.m >> (32 * (self.n - 1))

    def zero(self):
        return self.st == "n" and self.top() == 0

    def fmt(self):
        if self.st == "q":
            return "q"
        if self.st == "i":
            return "i" + ("-" if self.sg else "+")
        words = "".join("%08X" % ((self.m >> (32 * i)) & MASK) for i in reversed(range(self.n)))
        return "n%s%d:%s" % ("-" if self.sg else "+", self.e, words)


def nan(n):
    return H(n, "q")


def inf(n, sg):
    return H(n, "i", sg)


def zero(n, sg=False):
    return H(n, "n", sg, 0, 0)


def add_mag(a, b):
    n = a.n
    if a.st != "n":
        return nan(n) if b.st == "q" else a
    if b.st != "n":
        return nan(n) if b.st == "q" else inf(n, a.sg)
    if b.zero():
        return a
    if a.zero():
        return H(n, "n", a.sg, b.e, b.m)
    d = a.e - b.e
    if d >= 0:
        if d >= n:
            return a
        big, small, e = a.m, b.m, a.e
    else:
        d = -d
        if d >= n:
            return H(n, "n", a.sg, b.e, b.m)
        big, small, e = b.m, a.m, b.e
    rnd = 1 if d > 0 and ((small >> (32 * (d - 1))) & MASK) >= 0x80000000 else 0
    s = big + (small >> (32 * d)) + rnd
    if s >= B ** n:
        if e >= MAXE:
            return inf(n, a.sg)
        s >>= 32
        e += 1
    return H(n, "n", a.sg, e, s)


def normalise(n, sg, e, m):
    if m == 0:
        return zero(n, sg)
    while (m >> (32 * (n - 1))) == 0:
        m <<= 32
        e -= 1
    if e < MINE:
        return zero(n, sg)
    return H(n, "n", sg, e, m)


def sub_mag(a, b):
    n = a.n
    if a.st != "n":
        return nan(n) if b.st != "n" else a
    if b.st != "n":
        return nan(n) if b.st == "q" else inf(n, True)
    if b.zero():
        return a
    if a.zero():
        return H(n, "n", True, b.e, b.m)
    if (a.e, a.m) == (b.e, b.m):
        return zero(n)
    if (a.e, a.m) > (b.e, b.m):
        d = a.e - b.e
        if d >= n:
            return a
        return normalise(n, a.sg, a.e, a.m - (b.m >> (32 * d)))
    d = b.e - a.e
    r = b.m if d >= n else b.m - (a.m >> (32 * d))
    return normalise(n, True, b.e, r)


def flipped(x):
    x = x.copy()
    x.sg = not x.sg
    return x


def with_sign(x, sg):
    x = x.copy()
    x.sg = sg
    return x


def h_add(a, b):
    if not a.sg:
        return add_mag(a, b) if not b.sg else sub_mag(a, b)
    if not b.sg:
        return flipped(sub_mag(with_sign(a, False), b))
    return add_mag(a, b)


def h_sub(a, b):
    if not a.sg:
        return sub_mag(a, b) if not b.sg else add_mag(a, b)
    if not b.sg:
        return add_mag(a, b)
    return flipped(sub_mag(with_sign(a, False), b))


def h_subrev(a, b):
    if not a.sg:
        if not b.sg:
            return flipped(sub_mag(a, b))
        return add_mag(with_sign(a, True), b)
    if not b.sg:
        return add_mag(with_sign(a, False), b)
    return sub_mag(with_sign(a, False), b)


def h_mul(a, b):
    n = a.n
    sg = a.sg != b.sg
    if a.st != "n" or b.st != "n":
        if a.st == "q":
            return a
        if a.st == "i":
            return nan(n) if (b.st == "q" or b.zero()) else inf(n, sg)
        return nan(n) if (b.st == "q" or a.zero()) else inf(n, sg)
    if a.zero() or b.zero():
        return zero(n, sg)
    e = a.e + b.e
    if e > MAXE:
        return inf(n, sg)
    if e < MINE:
        return zero(n, sg)
    p = a.m * b.m
    if p >> (32 * (2 * n - 1)):
        if e >= MAXE:
            return inf(n, sg)
        return H(n, "n", sg, e + 1, p >> (32 * n))
    return H(n, "n", sg, e, p >> (32 * (n - 1)))


def h_square(a):
    n = a.n
    if a.st == "q":
        return a
    if a.st == "i":
        return inf(n, False)
    if a.zero():
        return zero(n)
    e = 2 * a.e
    if e > MAXE:
        return inf(n, False)
    if e < MINE:
        return zero(n)
    p = a.m * a.m
    if p >> (32 * (2 * n - 1)):
        if e >= MAXE:
            return inf(n, False)
        return H(n, "n", False, e + 1, p >> (32 * n))
    return H(n, "n", False, e, p >> (32 * (n - 1)))


def h_compare(a, b):
    if a.st == "q" or b.st == "q":
        return 0
    if a.st == "i":
        if b.st == "i" and b.sg == a.sg:
            return 0
        return -MAXE if a.sg else MAXE
    if b.st == "i":
        return MAXE if b.sg else -MAXE
    if a.zero() and b.zero():
        return 0
    if a.zero():
        return MAXE if b.sg else -MAXE
    if b.zero():
        return -MAXE if a.sg else MAXE
    if a.sg != b.sg:
        return -MAXE if a.sg else MAXE
    if a.e != b.e:
        r = MAXE if a.e > b.e else -MAXE
    else:
        r = 0
        n = min(a.n, b.n)
        wa = [(a.m >> (32 * (a.n - 1 - i))) & MASK for i in range(n)]  # top first
        wb = [(b.m >> (32 * (b.n - 1 - i))) & MASK for i in range(n)]
        for i in range(n):
            if wa[i] != wb[i]:
                r = n - i if wa[i] > wb[i] else -(n - i)
                break
    return -r if a.sg else r


def h_mul2(a):
    n = a.n
    if a.st != "n" or a.zero():
        return a
    m = a.m << 1
    if m >= B ** n:
        if a.e >= MAXE:
            return inf(n, a.sg)
        return H(n, "n", a.sg, a.e + 1, m >> 32)
    return H(n, "n", a.sg, a.e, m)


def h_div2(a):
    n = a.n
    if a.st != "n" or a.zero():
        return a
    if a.top() == 1:
        if a.e <= MINE:
            return zero(n, a.sg)
        return H(n, "n", a.sg, a.e - 1, a.m << 31)
    return H(n, "n", a.sg, a.e, a.m >> 1)


def h_mulpow2(a, p):
    n = a.n
    if a.st != "n" or a.zero() or p == 0:
        return a
    if p > 0:
        e = a.e + p // 32
        bits = p % 32
        if e > MAXE:
            return inf(n, a.sg)
        m = a.m << bits
        if m >= B ** n:
            if e >= MAXE:
                return inf(n, a.sg)
            m >>= 32
            e += 1
        return H(n, "n", a.sg, e, m)
    words = -((-p) // 32)
    bits = -(p - 32 * words)
    e = a.e + words
    m = a.m
    if bits:
        if (a.top() >> bits) == 0:
            m = m << (32 - bits)
            e -= 1
        else:
            m = m >> bits
    if e < MINE:
        return zero(n, a.sg)
    return H(n, "n", a.sg, e, m)


def h_addint(a, v):
    n = a.n
    if a.st != "n" or v == 0:
        return a
    if a.zero():
        return H(n, "n", a.sg, 0, v << (32 * (n - 1)))
    if a.e < 0:
        shift = -a.e
        m = (a.m >> (32 * shift)) if shift < n else 0
        m = (m % B ** (n - 1)) + (v << (32 * (n - 1)))
        return H(n, "n", a.sg, 0, m)
    if a.e >= n:
        return a
    m = a.m + (v << (32 * (n - 1 - a.e)))
    if m >= B ** n:
        if a.e >= MAXE:
            return inf(n, a.sg)
        return H(n, "n", a.sg, a.e + 1, m >> 32)
    return H(n, "n", a.sg, a.e, m)


def h_mulint(a, v):
    n = a.n
    sg = a.sg != (v < 0)
    f = abs(v)
    if a.st == "q":
        return a
    if a.st == "i":
        return nan(n) if f == 0 else inf(n, sg)
    if a.zero():
        return with_sign(a, sg)
    if f == 0:
        return zero(n, sg)
    m = a.m * f
    if m >= B ** n:
        if a.e >= MAXE:
            return inf(n, sg)
        return H(n, "n", sg, a.e + 1, m >> 32)
    return H(n, "n", sg, a.e, m)


def h_divint(a, v):
    n = a.n
    sg = a.sg != (v < 0)
    f = abs(v)
    if a.st == "q":
        return a
    if a.st == "i":
        return inf(n, sg)
    if f == 0:
        return nan(n) if a.zero() else inf(n, sg)
    if a.zero():
        return with_sign(a, sg)
    q = a.m // f
    if (q >> (32 * (n - 1))) == 0:
        if a.e <= MINE:
            return zero(n, sg)
        return H(n, "n", sg, a.e - 1, (a.m << 32) // f)
    return H(n, "n", sg, a.e, q)


# ---------------------------------------------------------------- arithmetic vectors

def rand_mantissa(rng, n, pattern):
    words = []
    for i in range(n):
        if pattern == "ones":
            w = MASK if rng.random() < 0.85 else rng.getrandbits(32)
        elif pattern == "zeros":
            w = 0 if rng.random() < 0.7 else rng.getrandbits(32)
        elif pattern == "small":
            w = rng.choice([0, 1, 2, MASK, 0x80000000, 0x7FFFFFFF, rng.getrandbits(32)])
        else:
            w = rng.getrandbits(32)
        words.append(w)
    if words[-1] == 0:
        words[-1] = rng.choice([1, 0x80000000, MASK, rng.getrandbits(32) | 1])
    return sum(w << (32 * i) for i, w in enumerate(words))


def rand_number(rng, n, e, pattern="random", sg=None):
    if sg is None:
        sg = rng.random() < 0.5
    return H(n, "n", sg, e, rand_mantissa(rng, n, pattern))


def set_word(x, index, value):
    """Sets word `index` (0 = lowest) of x's mantissa."""
    m = x.m & ~(MASK << (32 * index))
    x.m = m | (value << (32 * index))


def related_pair(rng, n, d, pattern):
    """Two numbers whose exponents differ by d, shaped to hit carries, borrows
    and the rounding boundary of the highest dropped word."""
    e = rng.randint(-20, 20)
    a = rand_number(rng, n, e, pattern)
    b = rand_number(rng, n, e - d, pattern)
    kind = rng.randrange(5)
    if kind == 1 and 0 < d < n:
        set_word(b, d - 1, rng.choice([0x80000000, 0x7FFFFFFF, 0x80000001]))
    elif kind == 2 and 0 < -d < n:
        set_word(a, -d - 1, rng.choice([0x80000000, 0x7FFFFFFF]))
    elif kind == 3 and d == 0:
        # equal prefixes: a large cancellation
        keep = rng.randint(1, n)
        low = rng.getrandbits(32 * (n - keep)) if n > keep else 0
        b.m = (a.m >> (32 * (n - keep)) << (32 * (n - keep))) | low
        if (b.m >> (32 * (n - 1))) == 0:
            b.m |= 1 << (32 * (n - 1))
    elif kind == 4:
        a.m = B ** n - 1 - rng.getrandbits(8)  # all ones: every carry ripples
        if 0 <= d < n:
            b.m = b.m | (B ** (n - d) - 1)
    return a, b


def emit(out, op, a, b, r):
    bt = b if isinstance(b, str) else b.fmt()
    rt = r if isinstance(r, str) else (str(r) if isinstance(r, int) else r.fmt())
    out.append("%s %d %s %s %s" % (op, a.n, a.fmt(), bt, rt))


BINARY = [("add", h_add), ("sub", h_sub), ("subrev", h_subrev)]


def gen_arith():
    rng = random.Random(20240611)
    out = ["# op n A B result (see tools/huge_vectors.py)"]
    full_offsets = [2, 3, 4, 5, 7, 8, 12, 16]
    for n in range(2, 106):
        if n in full_offsets:
            offsets = range(-(n + 1), n + 2)
            patterns = ["random", "ones", "small"]
        elif n == 34:
            offsets = range(-(n + 1), n + 2)
            patterns = ["random", "ones"]
        elif n in (33, 105):
            core = [0, 1, 2, 3, n // 2, n - 2, n - 1, n, n + 1]
            offsets = sorted(set(core + [-x for x in core]))
            patterns = ["random", "ones"]
        else:
            offsets = [rng.randint(-(n + 1), n + 1) for _ in range(2 if n > 16 else 6)]
            patterns = ["random"]
        for d in offsets:
            for pattern in patterns:
                a, b = related_pair(rng, n, d, pattern)
                name, fn = BINARY[rng.randrange(3)]
                emit(out, name, a, b, fn(a, b))
                if n <= 16 or pattern == "random":
                    name, fn = BINARY[rng.randrange(3)]
                    emit(out, name, a, b, fn(a, b))
        # multiplication, squaring and comparison at every width
        for pattern in (["random", "ones", "small"] if n <= 16 or n in (34, 105) else ["random"]):
            a = rand_number(rng, n, rng.randint(-30, 30), pattern)
            b = rand_number(rng, n, rng.randint(-30, 30), pattern)
            emit(out, "mul", a, b, h_mul(a, b))
            emit(out, "square", a, "-", h_square(a))
        for _ in range(3 if n <= 16 else 1):
            a = rand_number(rng, n, rng.randint(-3, 3))
            b = a.copy()
            kind = rng.randrange(4)
            if kind == 0:
                b = rand_number(rng, n, a.e + rng.choice([-1, 0, 1]))
            elif kind == 1:  # differ in one word only
                i = rng.randrange(n)
                set_word(b, i, ((b.m >> (32 * i)) + rng.choice([1, MASK])) & MASK)
                if b.top() == 0:
                    b = a.copy()
            elif kind == 2:
                b.sg = not a.sg
            emit(out, "compare", a, b, h_compare(a, b))
        if n <= 12 or n in (34, 105):
            a = rand_number(rng, n, rng.randint(-5, 5), "small")
            emit(out, "mul2", a, "-", h_mul2(a))
            emit(out, "div2", a, "-", h_div2(a))
            for p in (rng.randint(1, 31), rng.randint(32, 200), -rng.randint(1, 31), -rng.randint(32, 200), 32, -32):
                emit(out, "mulpow2", a, str(p), h_mulpow2(a, p))
            for v in (rng.getrandbits(32), 1, MASK):
                emit(out, "addint", a, str(v), h_addint(a, v))
            for v in (rng.randint(-2 ** 31, 2 ** 31 - 1), 10, -2 ** 31, -7):
                emit(out, "mulint", a, str(v), h_mulint(a, v))
                if v != 0:
                    emit(out, "divint", a, str(v), h_divint(a, v))

    # products whose short form (columns below n-3 left out) is ambiguous, so
    # that the multiplication has to take the full product
    def short_guard_hits(wa, wb, n):
        start = n - 3
        total = 0
        for i in range(n):
            for j in range(n):
                if i + j >= start:
                    total += wa[i] * wb[j] << (32 * (i + j - start))
        guard = total % (1 << 64)
        return guard > (1 << 64) - 1 - ((start + 1) << 32)

    def words_of(m, n):
        return [(m >> (32 * i)) & MASK for i in range(n)]

    def sqrt_mod_pow2(t, k):
        """x with x * x = t (mod 2^k), for t = 1 (mod 8)."""
        x = 1
        for i in range(3, k):
            if ((x * x - t) >> i) & 1:
                x += 1 << (i - 1)
        return x % (1 << k)

    # The low n words of a product can be chosen through b = t / a (mod B^n)
    # (and a = sqrt(t) (mod B^n) for squares): words n-3 and n-2 all ones.
    for n in (4, 5, 8, 16, 34, 105):
        found_mul = found_sqr = 0
        tries = 0
        while (found_mul < 3 or found_sqr < 2) and tries < 2000:
            tries += 1
            low = rng.getrandbits(32 * (n - 3)) | 1
            low = (low & ~7) | 1  # = 1 (mod 8) for the square root
            t = (((B * B - 1 - rng.getrandbits(8)) << (32 * (n - 3))) | low) % B ** n
            if found_mul < 3:
                a = rand_number(rng, n, rng.randint(-3, 3))
                a.m |= 1
                bm = (t * pow(a.m, -1, B ** n)) % B ** n
                if bm >= B ** (n - 1) and short_guard_hits(words_of(a.m, n), words_of(bm, n), n):
                    b = H(n, "n", rng.random() < 0.5, rng.randint(-3, 3), bm)
                    emit(out, "mul", a, b, h_mul(a, b))
                    found_mul += 1
            if found_sqr < 2:
                for am in (sqrt_mod_pow2(t, 32 * n), B ** n - sqrt_mod_pow2(t, 32 * n)):
                    if am >= B ** (n - 1) and short_guard_hits(words_of(am, n), words_of(am, n), n):
                        a = H(n, "n", False, rng.randint(-3, 3), am)
                        emit(out, "square", a, "-", h_square(a))
                        found_sqr += 1
                        break
        assert found_mul == 3 and found_sqr == 2, (n, found_mul, found_sqr)

    # special values against each other
    for n in (2, 4):
        vals = [zero(n), zero(n, True), H(n, "n", False, 0, 1 << (32 * (n - 1))),
                H(n, "n", True, 0, 1 << (32 * (n - 1))), inf(n, False), inf(n, True), nan(n),
                rand_number(rng, n, 7), rand_number(rng, n, -7)]
        for a in vals:
            for b in vals:
                for name, fn in BINARY + [("mul", h_mul)]:
                    emit(out, name, a, b, fn(a, b))
                emit(out, "compare", a, b, h_compare(a, b))
            emit(out, "square", a, "-", h_square(a))
            emit(out, "mulint", a, "0", h_mulint(a, 0))
            emit(out, "divint", a, "0", h_divint(a, 0))
            emit(out, "divint", a, "-3", h_divint(a, -3))

    # the ends of the exponent range
    for n in (2, 3, 5):
        ones = B ** n - 1
        big = H(n, "n", False, MAXE, ones)
        emit(out, "add", big, H(n, "n", False, MAXE, ones), h_add(big, H(n, "n", False, MAXE, ones)))
        emit(out, "add", big, H(n, "n", False, MAXE - 1, ones), h_add(big, H(n, "n", False, MAXE - 1, ones)))
        tiny = H(n, "n", False, MINE, (1 << (32 * (n - 1))) | 5)
        emit(out, "sub", tiny, H(n, "n", False, MINE, 1 << (32 * (n - 1))),
             h_sub(tiny, H(n, "n", False, MINE, 1 << (32 * (n - 1)))))
        for ea, eb in ((2048, 2048), (2048, 2049), (4096, 0), (-2048, -2049), (-2048, -2048), (-4096, -1), (2000, -2000)):
            for pattern in ("random", "small"):
                a = rand_number(rng, n, ea, pattern)
                b = rand_number(rng, n, eb, pattern)
                emit(out, "mul", a, b, h_mul(a, b))
        for e in (2048, 2049, -2048, -2049):
            a = rand_number(rng, n, e)
            emit(out, "square", a, "-", h_square(a))
        for e in (MAXE, MINE):
            full = H(n, "n", False, e, ones)
            emit(out, "mul2", full, "-", h_mul2(full))
            emit(out, "mulint", full, "-1000", h_mulint(full, -1000))
            emit(out, "mulpow2", full, "40", h_mulpow2(full, 40))
            unit = H(n, "n", True, e, 1 << (32 * (n - 1)))
            emit(out, "div2", unit, "-", h_div2(unit))
            emit(out, "divint", unit, "1000", h_divint(unit, 1000))
            emit(out, "mulpow2", unit, "-40", h_mulpow2(unit, -40))
    print("\n".join(out))

# ---------------------------------------------------------------- function references

def to_h(mp, v, n):
    """The number of n words nearest below |v| in magnitude (truncated), exactly."""
    if v == 0:
        return zero(n)
    sg = v < 0
    a = abs(v)
    e = int(mp.floor(mp.log(a, 2) / 32))
    for _ in range(3):
        m = int(mp.floor(a * mp.mpf(2) ** (32 * (n - 1 - e))))
        if m >= B ** n:
            e += 1
        elif m < B ** (n - 1):
            e -= 1
        else:
            return H(n, "n", sg, e, m)
    raise RuntimeError("no normalisation for %s" % v)


def h_value(mp, h):
    return (-1 if h.sg else 1) * mp.mpf(h.m) * mp.mpf(2) ** (32 * (h.e - (h.n - 1)))


FUNC_ARGS = {
    "recip": ["3", "7", "0.1", "-123.456", "1e-30", "1e30", "pi", "2^19200*1.7", "-2^-19200*1.3", "2^-131000*1.1"],
    "sqrt": ["2", "3", "0.5", "1e-20", "1e20", "12345.678", "pi", "2^19200*1.7", "2^19232*1.7", "2^-19200*1.3",
             "2^128000*1.9", "2^-130000*1.2"],
    "exp": ["1", "-1", "0.5", "10", "-10", "100", "-100", "0.001", "1e-10", "700", "-700", "20000", "-20000"],
    "expm1": ["1e-70", "-1e-70", "1e-10", "-1e-10", "0.3", "-0.3", "0.4999", "-0.4999", "0.5", "-0.5", "0.6",
              "0.9", "-0.9", "2", "-2", "-60", "30", "2^-19200*1.3", "-2^-19200*1.3"],
    "log1p": ["1e-70", "-1e-70", "1e-10", "-1e-10", "0.3", "-0.3", "0.4999", "-0.4999", "0.5", "-0.5", "-0.9",
              "3", "2^-19200*1.3", "-2^-19200*1.3"],
    "ln": ["2", "0.5", "10", "1e-10", "1e10", "1.0000001", "pi", "2^19200*1.5", "2^-19200*1.5", "2^128000*1.9",
           "2^-130000*1.2"],
    "sin": ["0.5", "1", "2", "3", "4", "5", "6", "7", "10", "100", "1e5", "-1", "-0.3", "1e-10", "0.7853981",
            "0.7853982", "1.5707963", "3.14159", "4.712389", "-2.356194", "1234567891"],
    "cos": ["0.5", "1", "2", "3", "4", "5", "6", "7", "10", "100", "1e5", "-1", "-0.3", "1e-10", "0.7853981",
            "0.7853982", "1.5707963", "3.14159", "4.712389", "-2.356194", "1234567891"],
    "arctan": ["0.5", "1", "2", "10", "1e10", "1e-10", "-3", "0.999", "-0.2", "1.0000001", "0.9999999"],
    "arcsin": ["0.5", "-0.5", "0.1", "0.9", "0.999", "-0.99", "1e-10"],
    "arccos": ["0.5", "-0.5", "0.1", "0.9", "0.999", "-0.99", "1e-10"],
}
PAIR_ARGS = {
    "divide": [("1", "3"), ("-5", "7"), ("22", "7"), ("1e20", "3e-15"), ("pi", "e"), ("2^19200*1.1", "2^-19200*1.3")],
    "arctan2": [("1", "1"), ("1", "-1"), ("-1", "-1"), ("-1", "1"), ("0.3", "-2"), ("-5", "0.1"), ("1e-10", "-1")],
}
# results of these are compared with an absolute floor of one unit of the last
# word at magnitude 1: the logarithm's iteration cancels x e^-y against 1, so
# near x = 1 its error is absolute
ABSOLUTE = {"ln"}


def parse_arg(mp, text):
    if text == "pi":
        return mp.pi
    if text == "e":
        return mp.e
    if text.startswith("2^") or text.startswith("-2^"):
        sign = -1 if text[0] == "-" else 1
        powtext, factor = text.lstrip("-")[2:].split("*")
        return sign * mp.mpf(2) ** int(powtext) * mp.mpf(factor)
    return mp.mpf(text)


def reference(mp, name, x, y=None):
    if name == "recip":
        return 1 / x
    if name == "divide":
        return x / y
    if name == "arctan2":
        return mp.atan2(x, y)  # x is the y coordinate, y the x coordinate
    return {"sqrt": mp.sqrt, "exp": mp.exp, "expm1": mp.expm1, "log1p": mp.log1p, "ln": mp.log, "sin": mp.sin, "cos": mp.cos, "arctan": mp.atan,
            "arcsin": mp.asin, "arccos": mp.acos}[name](x)


def gen_funcs():
    import mpmath as mp
    out = ["# function n argument [argument2] reference mode  (mode a: absolute floor at 1, r: relative)"]
    for n in (2, 3, 4, 8, 12, 16, 34, 105):
        mp.mp.prec = 2 * 32 * n + 128
        extra = n + 4
        for name, args in list(FUNC_ARGS.items()) + list(PAIR_ARGS.items()):
            for arg in args:
                if n == 105 and name in ("sin", "cos", "arctan", "arcsin", "arccos", "arctan2") and \
                        arg not in ("1", "-0.5", "0.5", "10", ("1", "-1")):
                    continue
                if isinstance(arg, tuple):
                    hx = to_h(mp, parse_arg(mp, arg[0]), n)
                    hy = to_h(mp, parse_arg(mp, arg[1]), n)
                    ref = reference(mp, name, h_value(mp, hx), h_value(mp, hy))
                    line = "%s %d %s %s" % (name, n, hx.fmt(), hy.fmt())
                else:
                    hx = to_h(mp, parse_arg(mp, arg), n)
                    ref = reference(mp, name, h_value(mp, hx))
                    line = "%s %d %s" % (name, n, hx.fmt())
                hr = to_h(mp, ref, extra)
                # log1p beyond |x| = 1/2 is the logarithm of 1 + x, with the logarithm's error
                absolute = name in ABSOLUTE or (name == "log1p" and abs(h_value(mp, hx)) >= 0.5)
                out.append("%s %s %s" % (line, hr.fmt(), "a" if absolute else "r"))
    print("\n".join(out))


# ---------------------------------------------------------------- text references

def gen_text():
    """Decimal texts and the numbers they stand for, and numbers with their
    correctly rounded decimal texts (cases too close to a rounding boundary
    for a truncating conversion are left out)."""
    import mpmath as mp
    from fractions import Fraction
    rng = random.Random(77)
    out = ["# parse n text exact-value(n+4 words)  |  print digits number text"]
    texts = ["0.1", "3.14159265358979323846264338327950288419716939937510", "-2.5e-7", "1e-300", "1e300",
             "123456789012345678901234567890", "6.02214076e23", "-1.602176634e-19", "0.000123456789",
             "9.999999999999999999999999999e9999", "1.2e-9999"]
    for n in (2, 4, 12, 34):
        mp.mp.prec = 32 * (n + 8) + 64
        for t in texts:
            v = mp.mpf(t)
            out.append("parse %d %s %s" % (n, t, to_h(mp, v, n + 4).fmt()))
    for digits, n in ((10, 3), (20, 4), (30, 5), (60, 8), (100, 12), (300, 33)):
        produced = 0
        while produced < 12:
            e = rng.randint(-40, 40) if produced < 9 else rng.choice([-3000, 3000, -1, 0])
            m = rng.getrandbits(32 * n) | (1 << (32 * n - 1 - rng.randrange(31)))
            h = H(n, "n", rng.random() < 0.3, e, m)
            value = Fraction(h.m) * Fraction(2) ** (32 * (h.e - (n - 1)))
            if h.sg:
                value = -value
            # decimal exponent and digits, exactly
            a = abs(value)
            d = 0
            while a >= 10:
                a /= 10
                d += 1
            while a < 1:
                a *= 10
                d -= 1
            scaled = a * Fraction(10) ** (digits - 1)
            whole = scaled.numerator // scaled.denominator
            rest = scaled - whole
            if abs(rest - Fraction(1, 2)) < Fraction(1, 10 ** 6):
                continue  # too near a rounding boundary
            if rest >= Fraction(1, 2):
                whole += 1
            ds = str(whole)
            if len(ds) > digits:
                ds = ds[:digits]
                d += 1
            # the system's text form
            if d > 9 or d >= digits or d < -5:
                mant = ds[0] + "." + ds[1:]
                mant = mant.rstrip("0").rstrip(".")
                text = "%se%d" % (mant, d)
            elif d >= 0:
                body = ds[:d + 1] + "." + ds[d + 1:]
                body = body.rstrip("0").rstrip(".") if "." in body else body
                text = body
            else:
                text = ("0." + "0" * (-d - 1) + ds).rstrip("0")
            if h.sg:
                text = "-" + text
            out.append("print %d %s %s" % (digits, h.fmt(), text))
            produced += 1
    print("\n".join(out))


if __name__ == "__main__":
    what = sys.argv[1] if len(sys.argv) > 1 else ""
    if what == "consts":
        gen_consts()
    elif what == "arith":
        gen_arith()
    elif what == "funcs":
        gen_funcs()
    elif what == "text":
        gen_text()
    else:
        sys.exit("usage: huge_vectors.py consts|arith|funcs|text")
