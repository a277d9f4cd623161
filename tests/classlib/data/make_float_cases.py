#!/usr/bin/env python3
"""Writes float_cases.txt: reference conversions of x87 80-bit and IEEE double values, computed
exactly with rational arithmetic (run once; the output is kept beside the tests).

Lines:
  V <bits> <digits19> <exp19> <digits21> <exp21> <printf19>
      an 80-bit value (20 hex digits: sign/exponent word then mantissa), its decimal digits rounded
      to 19 and 21 significant digits (trailing zeros removed; value = 0.digits * 10^exp) and its
      text as printf's %.18Le gives it.
  P <text> <bits>|OVERFLOW   nearest 80-bit value of a decimal text (ties to even)
  D <text> <bits>|OVERFLOW   nearest double (16 hex digits)
"""
from fractions import Fraction
import random
import sys

sys.set_int_max_str_digits(0)

random.seed(20040819)

def ext_value(bits):
    sign = bits >> 79
    biased = (bits >> 64) & 0x7FFF
    mant = bits & ((1 << 64) - 1)
    if biased == 0:
        v = Fraction(mant) / (Fraction(2) ** 16445)
    else:
        e = biased - 16383 - 63
        v = Fraction(mant) * (Fraction(2) ** e) if e >= 0 else Fraction(mant) / (Fraction(2) ** -e)
    return -v if sign else v

def decimal_digits(v, n):
    """v > 0: (digits, exp) with v ~ 0.digits * 10^exp, rounded half-even to n digits."""
    # k = floor(log10 v)
    k = len(str(v.numerator)) - len(str(v.denominator))
    while Fraction(10) ** k > v if k >= 0 else Fraction(1, 10 ** -k) > v:
        k -= 1
    while (Fraction(10) ** (k + 1) if k + 1 >= 0 else Fraction(1, 10 ** -(k + 1))) <= v:
        k += 1
    scale = n - 1 - k
    x = v * (Fraction(10) ** scale if scale >= 0 else Fraction(1, 10 ** -scale))
    q, r = divmod(x.numerator, x.denominator)
    tie = False
    if 2 * r > x.denominator or (2 * r == x.denominator and q % 2 == 1):
        q += 1
    if 2 * r == x.denominator:
        tie = True
    if q == 10 ** n:
        q //= 10
        k += 1
    d = str(q)
    return d.rstrip('0'), k + 1, tie, d

def nearest(v, mant_bits, min_lsb, max_exp):
    """Nearest binary value of v >= 0: (mantissa, lsb exponent) or None on overflow."""
    if v == 0:
        return 0, min_lsb
    e = v.numerator.bit_length() - v.denominator.bit_length() - mant_bits
    while True:
        x = v / (Fraction(2) ** e) if e >= 0 else v * (Fraction(2) ** -e)
        if x >= 2 ** mant_bits:
            e += 1
        elif x < 2 ** (mant_bits - 1):
            e -= 1
        else:
            break
    if e < min_lsb:
        e = min_lsb
    x = v / (Fraction(2) ** e) if e >= 0 else v * (Fraction(2) ** -e)
    q, r = divmod(x.numerator, x.denominator)
    if 2 * r > x.denominator or (2 * r == x.denominator and q % 2 == 1):
        q += 1
    if q == 2 ** mant_bits:
        q //= 2
        e += 1
    if e + mant_bits - 1 > max_exp:
        return None
    return q, e

def ext_bits(text):
    v = Fraction(text.strip())
    neg = text.strip().startswith('-')
    r = nearest(abs(v), 64, -16445, 16383)
    if r is None:
        return 'OVERFLOW'
    q, e = r
    biased = e + 63 + 16383 if q >> 63 else 0
    return '%020X' % (((1 if neg else 0) << 79) | (biased << 64) | q)

def dbl_bits(text):
    v = Fraction(text.strip())
    neg = text.strip().startswith('-')
    r = nearest(abs(v), 53, -1074, 1023)
    if r is None:
        return 'OVERFLOW'
    q, e = r
    if q >> 52:
        bits = ((e + 52 + 1023) << 52) | (q & ((1 << 52) - 1))
    else:
        bits = q
    return '%016X' % (((1 if neg else 0) << 63) | bits)

def printf_text(v, n):
    d, e, tie, full = decimal_digits(abs(v), n)
    x = e - 1
    s = full[0] + '.' + full[1:]
    return ('-' if v < 0 else '') + s + 'e' + ('-' if x < 0 else '+') + '%02d' % abs(x)

lines = []
count = 0
while count < 600:
    sign = random.getrandbits(1)
    pick = random.random()
    if pick < 0.05:
        biased = 0
    elif pick < 0.10:
        biased = random.choice([1, 2, 0x7FFE, 0x7FFD])
    elif pick < 0.55:
        biased = 16383 + random.randint(-80, 80)
    else:
        biased = random.randint(1, 0x7FFE)
    mant = random.getrandbits(64)
    if biased == 0:
        mant &= (1 << 63) - 1
        if mant == 0:
            continue
    else:
        mant |= 1 << 63
    bits = (sign << 79) | (biased << 64) | mant
    v = ext_value(bits)
    d19, e19, t19, _ = decimal_digits(abs(v), 19)
    d21, e21, t21, _ = decimal_digits(abs(v), 21)
    if t19 or t21:
        continue
    lines.append('V %020X %s %d %s %d %s' % (bits, d19, e19, d21, e21, printf_text(v, 19)))
    # The 19-digit text back to binary: not always the same value, so it is a case of its own.
    t = ('-' if sign else '') + d19[0] + '.' + d19[1:] + 'e' + str(e19 - 1) if len(d19) > 1 else \
        ('-' if sign else '') + d19 + 'e' + str(e19 - 1)
    lines.append('P %s %s' % (t, ext_bits(t)))
    count += 1

max_ext = ext_value(0x7FFEFFFFFFFFFFFFFFFF)
ulp_max = Fraction(2) ** (16383 - 63)
min_den = Fraction(1) / Fraction(2) ** 16445
def exact_text(v):
    """The exact decimal text of a dyadic rational v > 0."""
    m = v.denominator.bit_length() - 1  # denominator is 2^m
    assert v.denominator == 1 << m
    return '%de-%d' % (v.numerator * 5 ** m, m)
fixed_cases = [
    '0', '-0', '1', '0.1', '-2.5', '1e-5', '123456789012345678901234567890',
    '1.18973149535723176502e+4932', '1.18973149535723176508e+4932', '1e4933', '1e-5000',
    '3.6e-4951', '1.8e-4951', '1.9e-4951', '3.3621031431120935063e-4932',
    '0.' + '0' * 30 + '1', '9' * 40, '1' + '0' * 400 + 'e-400',
    exact_text(max_ext + ulp_max / 2), exact_text(max_ext + ulp_max / 2 - ulp_max / 2 ** 30),
    exact_text(min_den / 2), exact_text(min_den * 3 / 4), exact_text(min_den * 3 / 2),
    exact_text(Fraction(1) + Fraction(1, 2 ** 64)), exact_text(Fraction(1) + Fraction(3, 2 ** 64)),
]
for t in fixed_cases:
    lines.append('P %s %s' % (t, ext_bits(t)))
double_cases = [
    '0.1', '1e23', '8.98846567431158e307', '1.7976931348623157e308', '1.7976931348623159e308',
    '4.9406564584124654e-324', '2.4703282292062327e-324', '2.4703282292062328e-324',
    '2.2250738585072011e-308', '2.2250738585072012e-308', '9007199254740993', '-123.456e-7',
    '0.30000000000000004', '1' + '0' * 30 + 'e-30',
]
for _ in range(200):
    digits = ''.join(random.choice('0123456789') for _ in range(random.randint(1, 25)))
    exp = random.randint(-330, 310)
    double_cases.append('%s.%se%d' % (digits[0], digits[1:] or '0', exp))
for t in double_cases:
    lines.append('D %s %s' % (t, dbl_bits(t)))

with open('float_cases.txt', 'w') as f:
    f.write('\n'.join(lines) + '\n')
print(len(lines), 'lines')
