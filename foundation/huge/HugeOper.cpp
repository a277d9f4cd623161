#include "HugeOper.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

// ---------------------------------------------------------------- word kernels

namespace HugeKernel {

// Column-wise (product scanning) multiplication. Each column's products are
// summed as two 64-bit totals, of their low and of their high halves, so the
// loop is one 32x32->64 multiply and two 64-bit additions of 32-bit values,
// without a carry chain.
void MultiplyColumnsPortable(const uint32_t *a, const uint32_t *b, int n, int from, uint32_t *out) {
    uint64_t carry = 0;
    const int last = 2 * n - 2;
    for (int k = from; k <= last; ++k) {
        int lo = k - (n - 1);
        if (lo < 0)
            lo = 0;
        const int hi = k < n - 1 ? k : n - 1;
        uint64_t low = carry, high = 0;
        const uint32_t *pa = a + lo;
        const uint32_t *pb = b + (k - lo);
        for (int count = hi - lo + 1; count > 0; --count) {
            const uint64_t p = static_cast<uint64_t>(*pa++) * *pb--;
            low += static_cast<uint32_t>(p);
            high += p >> 32;
        }
        out[k - from] = static_cast<uint32_t>(low);
        carry = (low >> 32) + high;
    }
    out[2 * n - 1 - from] = static_cast<uint32_t>(carry);
}

void SquareColumnsPortable(const uint32_t *a, int n, int from, uint32_t *out) {
    uint64_t carry = 0;
    const int last = 2 * n - 2;
    for (int k = from; k <= last; ++k) {
        int lo = k - (n - 1);
        if (lo < 0)
            lo = 0;
        // cross products a[i] * a[k - i] with i < k - i
        const int hi = (k + 1) / 2 - 1;
        uint64_t crossLow = 0, crossHigh = 0;
        const uint32_t *pa = a + lo;
        const uint32_t *pb = a + (k - lo);
        for (int count = hi - lo + 1; count > 0; --count) {
            const uint64_t p = static_cast<uint64_t>(*pa++) * *pb--;
            crossLow += static_cast<uint32_t>(p);
            crossHigh += p >> 32;
        }
        uint64_t low = carry + 2 * crossLow;
        uint64_t high = 2 * crossHigh;
        if ((k & 1) == 0) {
            const uint64_t d = static_cast<uint64_t>(a[k / 2]) * a[k / 2];
            low += static_cast<uint32_t>(d);
            high += d >> 32;
        }
        out[k - from] = static_cast<uint32_t>(low);
        carry = (low >> 32) + high;
    }
    out[2 * n - 1 - from] = static_cast<uint32_t>(carry);
}

#if defined(__i386__)
// HugeKernels.S
extern "C" void HugeMultiplyColumnsAsm(const uint32_t *a, const uint32_t *b, int n, int from, uint32_t *out);
extern "C" void HugeSquareColumnsAsm(const uint32_t *a, int n, int from, uint32_t *out);

void MultiplyColumns(const uint32_t *a, const uint32_t *b, int n, int from, uint32_t *out) {
    HugeMultiplyColumnsAsm(a, b, n, from, out);
}
void SquareColumns(const uint32_t *a, int n, int from, uint32_t *out) {
    HugeSquareColumnsAsm(a, n, from, out);
}
#else
void MultiplyColumns(const uint32_t *a, const uint32_t *b, int n, int from, uint32_t *out) {
    MultiplyColumnsPortable(a, b, n, from, out);
}
void SquareColumns(const uint32_t *a, int n, int from, uint32_t *out) {
    SquareColumnsPortable(a, n, from, out);
}
#endif

namespace {
// Whether the top words of a short product that left out the columns below
// `from` are exact: the left-out columns carry less than (from + 1) * 2^32
// into column `from`, which changes column from + 2 only when the two guard
// words out[0..1] are that close to overflowing.
inline bool ShortProductExact(const uint32_t *out, int from) {
    const uint64_t guard = out[0] | (static_cast<uint64_t>(out[1]) << 32);
    const uint64_t bound = static_cast<uint64_t>(from + 1) << 32;
    return guard <= ~uint64_t(0) - bound;
}
} // namespace

namespace {
// dst[0..k) := x[0..h) + x[h..h+k) (h <= k); the carry out of the top.
inline uint32_t AddHalves(const uint32_t *x, int h, int k, uint32_t *dst) {
    uint64_t carry = 0;
    int i = 0;
    for (; i < h; ++i) {
        carry += static_cast<uint64_t>(x[i]) + x[h + i];
        dst[i] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
    for (; i < k; ++i) {
        carry += x[h + i];
        dst[i] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
    return static_cast<uint32_t>(carry);
}

// dst[0..dstLength) += src[0..srcLength); a carry out of dst is dropped (the caller knows the sum
// fits).
inline void AddInto(uint32_t *dst, int dstLength, const uint32_t *src, int srcLength) {
    uint64_t carry = 0;
    int i = 0;
    for (; i < srcLength; ++i) {
        carry += static_cast<uint64_t>(dst[i]) + src[i];
        dst[i] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
    for (; carry && i < dstLength; ++i) {
        carry += dst[i];
        dst[i] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
}

// dst[0..dstLength) -= src[0..srcLength); the caller knows the difference is not negative.
inline void SubtractFrom(uint32_t *dst, int dstLength, const uint32_t *src, int srcLength) {
    uint32_t borrow = 0;
    int i = 0;
    for (; i < srcLength; ++i) {
        const uint64_t d = static_cast<uint64_t>(dst[i]) - src[i] - borrow;
        dst[i] = static_cast<uint32_t>(d);
        borrow = static_cast<uint32_t>(d >> 63);
    }
    for (; borrow && i < dstLength; ++i) {
        borrow = dst[i] == 0;
        --dst[i];
    }
}

// The middle part of a Karatsuba step: with z0 = out[0..2h) and z2 = out[2h..2n) in place and
// mid = (a0 + a1)(b0 + b1) in 2k + 2 words, out += (mid - z0 - z2) 2^(32 h).
inline void JoinKaratsuba(uint32_t *out, int n, int h, uint32_t *mid) {
    const int k = n - h;
    SubtractFrom(mid, 2 * k + 2, out, 2 * h);
    SubtractFrom(mid, 2 * k + 2, out + 2 * h, 2 * k);
    AddInto(out + h, 2 * n - h, mid, 2 * k + 2);
}
} // namespace

int KaratsubaScratchWords(int n) {
    // (squares split less often and use no more words per step)
    static_assert(KaratsubaSquareBaseWords >= KaratsubaBaseWords);
    int words = 0;
    while (n >= KaratsubaBaseWords) {
        const int k = n - n / 2;
        words += 4 * k + 2;
        n = k;
    }
    return words;
}

void MultiplyKaratsuba(const uint32_t *a, const uint32_t *b, int n, uint32_t *out, uint32_t *scratch) {
    if (n < KaratsubaBaseWords) {
        MultiplyColumns(a, b, n, 0, out);
        return;
    }
    // a = a1 2^(32 h) + a0 with a0 of h words and a1 of k >= h words; the same for b.
    const int h = n / 2, k = n - h;
    uint32_t *sa = scratch, *sb = scratch + k, *mid = scratch + 2 * k, *next = mid + 2 * k + 2;
    const uint32_t ca = AddHalves(a, h, k, sa);
    const uint32_t cb = AddHalves(b, h, k, sb);
    MultiplyKaratsuba(sa, sb, k, mid, next);
    mid[2 * k] = 0;
    mid[2 * k + 1] = 0;
    // the carries of the sums: (sa + ca 2^(32 k)) (sb + cb 2^(32 k))
    if (ca)
        AddInto(mid + k, k + 2, sb, k);
    if (cb)
        AddInto(mid + k, k + 2, sa, k);
    if (ca && cb)
        AddInto(mid + 2 * k, 2, &ca, 1);
    MultiplyKaratsuba(a, b, h, out, next);
    MultiplyKaratsuba(a + h, b + h, k, out + 2 * h, next);
    JoinKaratsuba(out, n, h, mid);
}

void SquareKaratsuba(const uint32_t *a, int n, uint32_t *out, uint32_t *scratch) {
    if (n < KaratsubaSquareBaseWords) {
        SquareColumns(a, n, 0, out);
        return;
    }
    const int h = n / 2, k = n - h;
    uint32_t *sa = scratch, *mid = scratch + 2 * k, *next = mid + 2 * k + 2;
    const uint32_t ca = AddHalves(a, h, k, sa);
    SquareKaratsuba(sa, k, mid, next);
    mid[2 * k] = 0;
    mid[2 * k + 1] = 0;
    if (ca) { // (sa + 2^(32 k))^2 = sa^2 + 2 sa 2^(32 k) + 2^(64 k)
        AddInto(mid + k, k + 2, sa, k);
        AddInto(mid + k, k + 2, sa, k);
        AddInto(mid + 2 * k, 2, &ca, 1);
    }
    SquareKaratsuba(a, h, out, next);
    SquareKaratsuba(a + h, k, out + 2 * h, next);
    JoinKaratsuba(out, n, h, mid);
}

void MultiplyTop(const uint32_t *a, const uint32_t *b, int n, uint32_t *out, uint32_t *scratch) {
    if (scratch && n >= KaratsubaTopWords) {
        MultiplyKaratsuba(a, b, n, out, scratch);
    } else {
        if (n >= 4) {
            const int from = n - 3;
            MultiplyColumns(a, b, n, from, out);
            if (ShortProductExact(out, from)) {
                std::memmove(out, out + 2, sizeof(uint32_t) * (n + 1));
                return;
            }
        }
        MultiplyColumns(a, b, n, 0, out);
    }
    std::memmove(out, out + (n - 1), sizeof(uint32_t) * (n + 1));
}

void SquareTop(const uint32_t *a, int n, uint32_t *out, uint32_t *scratch) {
    if (scratch && n >= KaratsubaSquareTopWords) {
        SquareKaratsuba(a, n, out, scratch);
    } else {
        if (n >= 4) {
            const int from = n - 3;
            SquareColumns(a, n, from, out);
            if (ShortProductExact(out, from)) {
                std::memmove(out, out + 2, sizeof(uint32_t) * (n + 1));
                return;
            }
        }
        SquareColumns(a, n, 0, out);
    }
    std::memmove(out, out + (n - 1), sizeof(uint32_t) * (n + 1));
}

} // namespace HugeKernel

// ---------------------------------------------------------------- word-level quotients and roots

namespace HugeKernel {

namespace {
// The exact product of NA and NB words with every loop unrolled: for the few words of the first
// Newton rounds and of the narrow numbers, where the loop control of the column kernel costs more
// than its multiplications.
template <int NA, int NB>
void SmallProduct(const uint32_t *a, const uint32_t *b, int from, int last, uint32_t *out) {
    // The columns go to `out` only at the end: a store there in between would make the compiler
    // load the operands again (out might overlap them).
    uint32_t columns[NA + NB];
    uint64_t carry = 0;
#pragma GCC unroll 16
    for (int k = 0; k < NA + NB - 1; ++k) {
        uint64_t low = carry, high = 0;
#pragma GCC unroll 16
        for (int i = 0; i < NA; ++i) {
            if (k - i >= 0 && k - i < NB) {
                const uint64_t p = static_cast<uint64_t>(a[i]) * b[k - i];
                low += static_cast<uint32_t>(p);
                high += p >> 32;
            }
        }
        columns[k] = static_cast<uint32_t>(low);
        carry = (low >> 32) + high;
    }
    columns[NA + NB - 1] = static_cast<uint32_t>(carry);
#pragma GCC unroll 16
    for (int k = 0; k < NA + NB; ++k)
        if (k >= from && k <= last)
            out[k - from] = columns[k];
}

constexpr int SmallProductWords = 6;
using TSmallProduct = void (*)(const uint32_t *, const uint32_t *, int, int, uint32_t *);
struct TSmallProducts {
    TSmallProduct Kernels[SmallProductWords][SmallProductWords];
};

template <int NA, int... NB>
constexpr void FillSmallProducts(TSmallProduct *row, std::integer_sequence<int, NB...>) {
    ((row[NB] = &SmallProduct<NA, NB + 1>), ...);
}

template <int... NA> constexpr TSmallProducts MakeSmallProducts(std::integer_sequence<int, NA...>) {
    TSmallProducts table{};
    (FillSmallProducts<NA + 1>(table.Kernels[NA], std::make_integer_sequence<int, SmallProductWords>()), ...);
    return table;
}

constexpr TSmallProducts SmallProducts =
    MakeSmallProducts(std::make_integer_sequence<int, SmallProductWords>());
} // namespace

void ProductColumns(const uint32_t *a, int na, const uint32_t *b, int nb, int from, int to, uint32_t *out) {
    if (na <= SmallProductWords && nb <= SmallProductWords) {
        // the whole product, the columns below `from` included
        SmallProducts.Kernels[na - 1][nb - 1](a, b, from, to + 1, out);
        for (int k = na + nb; k <= to + 1; ++k)
            out[k - from] = 0;
        return;
    }
    // Two columns at a time: each word of a meets two neighbouring words of b, one of which the
    // next word of a meets again, so every multiplication costs one load and half the loop.
    uint64_t carry = 0;
    int k = from;
    for (; k < to; k += 2) {
        // column k takes i in [lo, hi], column k + 1 i in [lo + 1 or lo, hi or hi + 1]
        const int lo = k - (nb - 1) > 0 ? k - (nb - 1) : 0;
        const int hi = k < na - 1 ? k : na - 1;
        const int next = k + 1 - (nb - 1) > 0 ? k + 1 - (nb - 1) : 0;
        // sums of whole products, with the carries out of their 64 bits counted apart
        uint64_t sum0 = carry, sum1 = 0;
        uint32_t over0 = 0, over1 = 0;
        if (lo < next) // the last word of b, in column k only
            over0 += __builtin_add_overflow(sum0, static_cast<uint64_t>(a[lo]) * b[nb - 1], &sum0);
        if (k + 1 < na) // a[k + 1] b[0], in column k + 1 only
            sum1 = static_cast<uint64_t>(a[k + 1]) * b[0];
        const uint32_t *pb = b + (k - next);
        uint32_t upper = pb[1]; // b[k + 1 - i]
        for (int i = next; i <= hi; ++i) {
            const uint64_t word = a[i];
            const uint32_t lower = *pb--; // b[k - i]
            over0 += __builtin_add_overflow(sum0, word * lower, &sum0);
            over1 += __builtin_add_overflow(sum1, word * upper, &sum1);
            upper = lower;
        }
        out[k - from] = static_cast<uint32_t>(sum0);
        over1 += __builtin_add_overflow(sum1, (sum0 >> 32) + (static_cast<uint64_t>(over0) << 32), &sum1);
        out[k + 1 - from] = static_cast<uint32_t>(sum1);
        carry = (sum1 >> 32) + (static_cast<uint64_t>(over1) << 32);
    }
    if (k == to) {
        const int lo = k - (nb - 1) > 0 ? k - (nb - 1) : 0;
        const int hi = k < na - 1 ? k : na - 1;
        uint64_t low = carry, high = 0;
        const uint32_t *pb = b + (k - lo);
        for (int i = lo; i <= hi; ++i) {
            const uint64_t p = static_cast<uint64_t>(a[i]) * *pb--;
            low += static_cast<uint32_t>(p);
            high += p >> 32;
        }
        out[k - from] = static_cast<uint32_t>(low);
        carry = (low >> 32) + high;
    }
    out[to - from + 1] = static_cast<uint32_t>(carry);
}

namespace {

inline int BitLength(uint32_t word) {
    return 32 - __builtin_clz(word);
}

// The value of the top words of a (n >= 2 words) with the top word as units, rounded to 64 bits.
inline long double LeadingValue(const uint32_t *a, int n) {
    const uint64_t high = (static_cast<uint64_t>(a[n - 1]) << 32) | a[n - 2];
    long double value = static_cast<long double>(high);
    if (n >= 3)
        value += a[n - 3] * 0x1p-32L;
    return value * 0x1p-32L;
}

// A positive 80-bit value as its 64 mantissa bits and binary exponent: value = Bits 2^(Exponent -
// 63). Taken apart once: each move of an 80-bit value to the integer registers goes through
// memory.
struct TExtendedParts {
    uint64_t Bits;
    int Exponent;
    explicit TExtendedParts(long double value) {
        static_assert(std::numeric_limits<long double>::digits == 64, "80-bit extended precision");
        unsigned char bytes[sizeof(long double)];
        std::memcpy(bytes, &value, sizeof(long double));
        uint16_t signExponent;
        std::memcpy(&Bits, bytes, 8);
        std::memcpy(&signExponent, bytes + 8, 2);
        Exponent = (signExponent & 0x7FFF) - 16383;
    }
};

// x[0..f) := floor(v B^f) for 0 < v <= 1; all ones where that would be B^f.
void PlaceEstimate(const TExtendedParts &v, uint32_t *x, int f) {
    const uint64_t bits = v.Bits;
    const int shift = v.Exponent - 63 + 32 * f; // x = bits 2^shift
    if (shift + 64 > 32 * f) {
        for (int i = 0; i < f; ++i)
            x[i] = 0xFFFFFFFFu;
        return;
    }
    for (int i = 0; i < f; ++i) {
        const int lowest = 32 * i - shift; // the bit of `bits` that lands on the word's bit 0
        uint32_t word = 0;
        if (lowest >= 0 && lowest < 64)
            word = static_cast<uint32_t>(bits >> lowest);
        else if (lowest < 0 && lowest > -32)
            word = static_cast<uint32_t>(bits << -lowest);
        x[i] = word;
    }
}

// Bits of the top word of a value whose top word, read as units, is t = v B^scale (1 <= t < B):
// the least and the most it can have when v comes from 80-bit arithmetic and may be a little off
// (a relative 2^-58 either way).
inline void TopWordBits(const TExtendedParts &v, int scale, int &low, int &high) {
    const int exponent = v.Exponent + 32 * scale; // t = Bits 2^(exponent - 63), top bit of Bits set
    low = v.Bits - (uint64_t(1) << 63) < (uint64_t(1) << 5) ? exponent : exponent + 1;
    high = v.Bits > ~uint64_t(0) - (uint64_t(1) << 6) ? exponent + 2 : exponent + 1;
    low = std::clamp(low, 1, 32);
    high = std::clamp(high, 1, 32);
}

// The precision of w words whose top word holds `top` bits: they are at least 2^bits units of
// their last word, so that truncating or rounding to them costs a relative error of at most
// 2^-bits (a unit) or half of it (half a unit).
inline int WordsPrecision(int w, int top) {
    return 32 * (w - 1) + top - 1;
}

// The fewest words (at least 2) whose precision is `bits` or more, for a top word of `top` bits.
inline int WordsFor(int bits, int top) {
    const int rest = bits - top + 1;
    return rest <= 32 ? 2 : (rest + 31) / 32 + 1;
}

// The relative error of the 80-bit estimate, placed in `words` words: at most 2^-bits.
inline int EstimateBits(int words, int top) {
    const int placed = WordsPrecision(words, top) - 1;
    return placed < 61 ? placed : 61; // three roundings to 64 bits (the value, the operation, the root)
}

// The widths of a Newton iteration whose last round, at `last` words, needs an input with a
// relative error of at most 2^-needed: widths[count - 1] is the first round, which starts from the
// 80-bit estimate placed in min(3, width) words. A round at w < last words takes w + 1 words of
// the argument, so that truncating it costs less than half a unit of the result's last word;
// with results whose top word holds at least `top` bits, it leaves a relative error of at most
// 2^-r (its result rounded: half a unit; the truncated argument; the square of the input's
// error, times 1.5 for the inverse root, `loss` 1) when w words hold r + 2 bits and its input is
// right to (r + 3 + loss) / 2 bits: each term is then at most 2^-(r + 3).
int NewtonWidths(int last, int needed, int top, int loss, int *widths) {
    int count = 0;
    widths[count++] = last;
    int bits = needed;
    while (bits > EstimateBits(widths[count - 1] < 3 ? widths[count - 1] : 3, top)) {
        widths[count++] = std::clamp(WordsFor(bits + 2, top), 2, last);
        bits = (bits + 3 + loss + 1) / 2;
    }
    return count;
}

// d[0..count) -= B^index (modulo B^count); nothing when index >= count.
inline void SubtractUnit(uint32_t *d, int count, int index) {
    for (int i = index; i < count; ++i)
        if (d[i]-- != 0)
            break;
}

// d[0..count) /= 2, dropping the lowest bit.
inline void Halve(uint32_t *d, int count) {
    for (int i = 0; i < count - 1; ++i)
        d[i] = (d[i] >> 1) | (d[i + 1] << 31);
    d[count - 1] >>= 1;
}

// -d - 1 (the ones' complement) for d[0..count) with its top bit set; true then. The corrections
// take d as their magnitude: the unit they lose at d's word 0 lies several words below their
// guard words.
inline bool TakeMagnitude(uint32_t *d, int count) {
    if ((d[count - 1] >> 31) == 0)
        return false;
    for (int i = 0; i < count; ++i)
        d[i] = ~d[i];
    return true;
}

// x[0..w) := x[0..w) + c (add) or - c, where c = round(f * d / B^first) of the f-word factor and
// the d-word difference, from the product's columns down to two guard words below `first`: the
// Newton and residual corrections. A carry out of the top makes x all ones, a borrow out 0 (both
// only where x is within a unit or two of them). product has f + d + 1 words.
void ApplyCorrection(uint32_t *x, int w, const uint32_t *factor, int f, const uint32_t *difference, int d,
                     int first, bool add, uint32_t *product) {
    const int from = first >= 2 ? first - 2 : 0;
    const int last = f + d - 2; // top column
    if (last + 1 < first - 1 || d == 0)
        return;
    ProductColumns(factor, f, difference, d, from, last, product);
    const int words = last + 2 - from; // product[0 .. words)
    const int start = first - from;
    uint64_t carry = start >= 1 ? product[start - 1] >> 31 : 0; // rounding half up
    int i = 0;
    if (add) {
        for (; i < w; ++i) {
            const int k = start + i;
            const uint64_t term = k < words ? product[k] : 0;
            if (k >= words && carry == 0)
                break;
            carry += x[i] + term;
            x[i] = static_cast<uint32_t>(carry);
            carry >>= 32;
        }
        bool overflow = carry != 0;
        for (int k = start + w; k < words && !overflow; ++k)
            overflow = product[k] != 0;
        if (overflow)
            for (i = 0; i < w; ++i)
                x[i] = 0xFFFFFFFFu;
    } else {
        uint64_t borrow = carry;
        for (; i < w; ++i) {
            const int k = start + i;
            const uint64_t term = k < words ? product[k] : 0;
            if (k >= words && borrow == 0)
                break;
            const uint64_t diff = static_cast<uint64_t>(x[i]) - term - borrow;
            x[i] = static_cast<uint32_t>(diff);
            borrow = diff >> 63;
        }
        bool underflow = borrow != 0;
        for (int k = start + w; k < words && !underflow; ++k)
            underflow = product[k] != 0;
        if (underflow)
            std::memset(x, 0, sizeof(uint32_t) * w);
    }
}

// One Newton step of the reciprocal: from x_f (f words at the top of x[0..n)) to x_w, with
// x_f ~ B^(2f-1) / a_f and a_v the top v words of a, v = w + 1 below n words (see NewtonWidths):
// x_w = x_f B^(w-f) - x_f (a_v x_f - B^(v+f-1)) / B^(2f-1+v-w). The product a_v x_f is taken
// modulo B^(v+2) only: its error lies far below that.
void ReciprocalStep(const uint32_t *a, int n, uint32_t *x, int w, int f, uint32_t *scratch) {
    const int v = w < n ? w + 1 : n;
    const uint32_t *av = a + (n - v);
    uint32_t *xw = x + (n - w);
    const uint32_t *xf = x + (n - f);
    const int total = v + f;
    const int count = total < v + 2 ? total : v + 2;
    uint32_t *d = scratch;
    ProductColumns(av, v, xf, f, 0, count - 1, d);
    SubtractUnit(d, count, total - 1); // B^(v+f-1), the product of a_v and the exact reciprocal
    const bool add = TakeMagnitude(d, count);
    const int length = HugeWords::HighestNonZero(d, count) + 1;
    std::memset(xw, 0, sizeof(uint32_t) * (w - f));
    ApplyCorrection(xw, w, xf, f, d, length, 2 * f - 1 + v - w, add, scratch + count + 1);
}

// One Newton step of the inverse square root of a' = m B^r (m the n words of a with its top word
// as units, r 0 or 1): from y_f (f words at the top of y[0..h), y_f / B^f ~ 1 / sqrt(a')) to
// y_w = y_f B^(w-f) - y_f (a'_v y_f^2 - 1) / 2, a'_v of the top v = min(w + 1, n) words of a;
// a'_v y_f^2 is taken modulo a few words above its difference to 1.
void RootStep(const uint32_t *a, int n, int r, uint32_t *y, int h, int w, int f, uint32_t *scratch) {
    const int v = w < n ? w + 1 : n;
    const uint32_t *av = a + (n - v);
    uint32_t *yw = y + (h - w);
    const uint32_t *yf = y + (h - f);
    uint32_t *square = scratch;
    SquareColumns(yf, f, 0, square);
    const int total = v + 2 * f;
    const int count = total < v + f + 2 ? total : v + f + 2;
    uint32_t *d = square + 2 * f;
    ProductColumns(av, v, square, 2 * f, 0, count - 1, d);
    SubtractUnit(d, count, total - 1 - r); // 1 in the product's words
    const bool add = TakeMagnitude(d, count);
    Halve(d, count);
    const int length = HugeWords::HighestNonZero(d, count) + 1;
    std::memset(yw, 0, sizeof(uint32_t) * (w - f));
    ApplyCorrection(yw, w, yf, f, d, length, 3 * f - r - 1 + v - w, add, d + count + 1);
}

// x := B^(2n-1) / a as ReciprocalWords does, but with a relative error of at most 2^-bits only
// (bits at most the precision of n words; 0 for all of it).
void ReciprocalToBits(const uint32_t *a, int n, uint32_t *x, uint32_t *scratch, int bits) {
    if (a[n - 1] == 1 && !HugeWords::AnyNonZero(a, n - 1)) {
        for (int i = 0; i < n; ++i)
            x[i] = 0xFFFFFFFFu;
        return;
    }
    const TExtendedParts estimate(1.0L / LeadingValue(a, n));
    int topLow, topHigh;
    TopWordBits(estimate, 1, topLow, topHigh);
    // The last round takes all of a: the square of its input's error then costs at most an eighth
    // of 2^-bits, its rounding half a unit (a quarter and a half of a unit for all bits).
    if (bits <= 0)
        bits = WordsPrecision(n, topHigh);
    int widths[32];
    int steps = NewtonWidths(n, (bits + 3 + 1) / 2, topLow, 0, widths);
    int f = widths[steps - 1] < 3 ? widths[steps - 1] : 3;
    PlaceEstimate(estimate, x + (n - f), f);
    while (steps > 0) {
        const int w = widths[--steps];
        ReciprocalStep(a, n, x, w, f, scratch);
        f = w;
    }
}

// to[0..n) := from[0..n) shifted left by `shift` bits (0 to 31); gives the bits shifted out.
uint32_t ShiftedCopy(const uint32_t *from, int n, int shift, uint32_t *to) {
    if (shift == 0) {
        std::memcpy(to, from, sizeof(uint32_t) * n);
        return 0;
    }
    const uint32_t out = from[n - 1] >> (32 - shift);
    for (int i = n - 1; i > 0; --i)
        to[i] = (from[i] << shift) | (from[i - 1] >> (32 - shift));
    to[0] = from[0] << shift;
    return out;
}

// q := a B^(n-1+s) / b, truncated, by long division (Knuth's algorithm D): n quotient words, each
// from one word division and n multiply-subtracts. Below a dozen words this costs less than the
// Newton path's several products with their corrections. scratch holds 3n + 1 words.
void LongQuotient(const uint32_t *a, const uint32_t *b, int n, int s, uint32_t *q, uint32_t *scratch) {
    const int shift = 32 - BitLength(b[n - 1]);
    const int low = n - 1 + s;  // zero words below a in the dividend
    const int length = n + low; // words of the dividend a B^low
    uint32_t *v = scratch;      // b and the dividend shifted so that v's top bit is set
    uint32_t *u = v + n;        // length + 1 words
    std::memset(u, 0, sizeof(uint32_t) * low);
    ShiftedCopy(b, n, shift, v);
    u[length] = ShiftedCopy(a, n, shift, u + low);
    const uint32_t top = v[n - 1], next = v[n - 2];
    for (int j = length - n; j >= 0; --j) {
        uint32_t *r = u + j; // the partial remainder's n + 1 words, below v B
        uint32_t digit, rest;
        bool restOver = false; // rest reached B: the digit cannot be too large
        if (r[n] >= top) {     // then equal: the digit is B - 1 or less
            digit = 0xFFFFFFFFu;
            const uint64_t sum = static_cast<uint64_t>(r[n - 1]) + top;
            rest = static_cast<uint32_t>(sum);
            restOver = (sum >> 32) != 0;
        } else {
            digit = HugeWords::DivWord(r[n], r[n - 1], top, rest);
        }
        // The two top words of v leave the digit at most one too large afterwards.
        while (!restOver &&
               static_cast<uint64_t>(digit) * next > ((static_cast<uint64_t>(rest) << 32) | r[n - 2])) {
            --digit;
            const uint64_t sum = static_cast<uint64_t>(rest) + top;
            rest = static_cast<uint32_t>(sum);
            restOver = (sum >> 32) != 0;
        }
        if (digit != 0) {
            uint32_t carry = 0, borrow = 0;
            for (int i = 0; i < n; ++i) {
                const uint64_t product = static_cast<uint64_t>(digit) * v[i] + carry;
                carry = static_cast<uint32_t>(product >> 32);
                const uint64_t difference = static_cast<uint64_t>(r[i]) - static_cast<uint32_t>(product) - borrow;
                r[i] = static_cast<uint32_t>(difference);
                borrow = static_cast<uint32_t>(difference >> 63);
            }
            const uint64_t difference = static_cast<uint64_t>(r[n]) - carry - borrow;
            r[n] = static_cast<uint32_t>(difference);
            if ((difference >> 63) != 0) { // one too large: add v back
                --digit;
                uint64_t sum = 0;
                for (int i = 0; i < n; ++i) {
                    sum += static_cast<uint64_t>(r[i]) + v[i];
                    r[i] = static_cast<uint32_t>(sum);
                    sum >>= 32;
                }
                r[n] += static_cast<uint32_t>(sum);
            }
        }
        if (j < n) // the digit above n is 0 when a < b
            q[j] = digit;
    }
}

} // namespace

int QuotientScratchWords(int n) {
    return 12 * n + 32;
}

void ReciprocalWords(const uint32_t *a, int n, uint32_t *x, uint32_t *scratch) {
    ReciprocalToBits(a, n, x, scratch, 0);
}

bool QuotientWords(const uint32_t *a, const uint32_t *b, int n, uint32_t *q, uint32_t *scratch) {
    int order = 0;
    for (int i = n - 1; i >= 0 && order == 0; --i)
        if (a[i] != b[i])
            order = a[i] > b[i] ? 1 : -1;
    if (order == 0) {
        std::memset(q, 0, sizeof(uint32_t) * (n - 1));
        q[n - 1] = 1;
        return false;
    }
    const int s = order < 0 ? 1 : 0;
    if (n <= LongDivisionWords) {
        LongQuotient(a, b, n, s, q, scratch);
        return s == 1;
    }
    // y ~ B^(2h-1) / b_h from the top h words of b; q0 = the top h words of a_h y, about
    // a B^(h-1+s) / b; then q = q0 B^(n-h) + y (a B^(h-1+s) - b q0) / B^(2h-1), which the
    // residual, taken exactly, makes right to n words: its error is the product of the relative
    // errors of q0 and of b y. With y right to p bits and the truncations of a and b to h words
    // and of q0 to h words within 2^-p each, these are at most 4 2^-p and 2 2^-p; the product
    // stays within a quarter of a unit of q when 2p is the precision of q plus 5.
    const int topA = BitLength(a[n - 1]), topB = BitLength(b[n - 1]);
    const int quotientLow = std::clamp(topA - topB + 32 * s, 1, 32);
    const int quotientHigh = std::clamp(topA - topB + 1 + 32 * s, 1, 32);
    const int reciprocalTop = std::clamp(33 - topB, 1, 32); // B^h / b_h: more than B / 2^topB, top word units
    int top = topA < topB ? topA : topB;
    top = top < quotientLow ? top : quotientLow;
    top = top < reciprocalTop ? top : reciprocalTop;
    const int needed = (WordsPrecision(n, quotientHigh) + 5 + 1) / 2;
    const int h = std::clamp(WordsFor(needed, top), 2, n);
    // Columns of a_h y left out send less than h units into the column above them: two guard
    // columns below q0's last word, or one where h words hold bits to spare (2^slack more than
    // needed) and q0 may be off by h units more.
    const int slack = WordsPrecision(h, top) - needed;
    const int guard = slack >= 30 || (1 << slack) >= h + 1 ? 1 : 2;
    uint32_t *y = scratch;
    uint32_t *work = y + h;
    ReciprocalToBits(b + (n - h), h, y, work, h < n ? needed : 0);
    uint32_t *q0 = q + (n - h);
    {
        const int from = h - s - guard > 0 ? h - s - guard : 0;
        ProductColumns(a + (n - h), h, y, h, from, 2 * h - 2, work);
        const int start = h - s - from;
        const bool over = s == 1 && work[2 * h - 1 - from] != 0;
        for (int i = 0; i < h; ++i)
            q0[i] = over ? 0xFFFFFFFFu : work[start + i];
    }
    // b q0 - a B^(h-1+s), modulo B^count; the correction reads its words from h - 2 on, so its
    // columns below h - 3 are left out (with their carry: less than h units of word h - 2, far
    // below the correction's guard words).
    const int total = n + h;
    const int count = total < n + 3 ? total : n + 3;
    uint32_t *d = work;
    const int low = h - 3 > 0 ? h - 3 : 0;
    std::memset(d, 0, sizeof(uint32_t) * low);
    ProductColumns(b, n, q0, h, low, count - 1, d + low);
    uint64_t borrow = 0;
    for (int i = h - 1 + s, j = 0; i < count; ++i, ++j) {
        const uint64_t diff = static_cast<uint64_t>(d[i]) - (j < n ? a[j] : 0u) - borrow;
        d[i] = static_cast<uint32_t>(diff);
        borrow = diff >> 63;
    }
    const bool add = TakeMagnitude(d, count);
    const int length = HugeWords::HighestNonZero(d, count) + 1;
    std::memset(q, 0, sizeof(uint32_t) * (n - h));
    ApplyCorrection(q, n, y, h, d, length, 2 * h - 1, add, d + count + 1);
    if (q[n - 1] == 0) { // a unit below B^(n-1): the quotient is at least that
        q[n - 1] = 1;
        std::memset(q, 0, sizeof(uint32_t) * (n - 1));
    }
    return s == 1;
}

void RootWords(const uint32_t *a, int n, int r, uint32_t *root, uint32_t *scratch) {
    if (r == 0 && a[n - 1] == 1 && !HugeWords::AnyNonZero(a, n - 1)) {
        std::memcpy(root, a, sizeof(uint32_t) * n);
        return;
    }
    // y ~ 1 / sqrt(a') to h words with a relative error d, s0 = a' y to h words with one of e;
    // then s = s0 + y (a' - s0^2) / 2 with the residual taken exactly, whose relative error is
    // about e^2 / 2 + d e: with d within 2^-p and the truncations of a and s0 to h words within
    // 2^-(p+1), at most 3.3 2^-2p, a quarter of a unit of s when 2p is its precision plus 4.
    long double value = LeadingValue(a, n);
    if (r)
        value *= 0x1p32L;
    const long double rootValue = std::sqrt(value);
    const TExtendedParts estimate(1.0L / rootValue);
    int inverseLow, inverseHigh, rootLow, rootHigh;
    TopWordBits(estimate, 1, inverseLow, inverseHigh);
    TopWordBits(TExtendedParts(rootValue), 0, rootLow, rootHigh);
    const int p = (WordsPrecision(n, rootHigh) + 4 + 1) / 2;
    const int topA = BitLength(a[n - 1]);
    const int h =
        std::clamp(std::max(WordsFor(p + 2, inverseLow), WordsFor(p + 1, std::min(topA, rootLow))), 2, n);
    uint32_t *y = scratch;
    uint32_t *work = y + h;
    int widths[32];
    int steps = NewtonWidths(h, (p + 3 + 1 + 1) / 2, inverseLow, 1, widths);
    int f = widths[steps - 1] < 3 ? widths[steps - 1] : 3;
    PlaceEstimate(estimate, y + (h - f), f);
    while (steps > 0) {
        const int w = widths[--steps];
        RootStep(a, n, r, y, h, w, f, work);
        f = w;
    }
    uint32_t *s0 = root + (n - h);
    {
        const int from = h - r - 2 > 0 ? h - r - 2 : 0;
        ProductColumns(a + (n - h), h, y, h, from, 2 * h - 2, work);
        const int start = h - r - from;
        const bool over = r == 1 && work[2 * h - 1 - from] != 0;
        for (int i = 0; i < h; ++i)
            s0[i] = over ? 0xFFFFFFFFu : work[start + i];
    }
    // s0^2 - a', both in words of B^(2-2h), modulo B^count
    const int count = 2 * h < h + 3 ? 2 * h : h + 3;
    uint32_t *d = work;
    ProductColumns(s0, h, s0, h, 0, count - 1, d);
    uint64_t borrow = 0;
    for (int i = r - n + 2 * h - 1, j = 0; i < count; ++i, ++j) {
        const uint64_t diff = static_cast<uint64_t>(d[i]) - (j < n ? a[j] : 0u) - borrow;
        d[i] = static_cast<uint32_t>(diff);
        borrow = diff >> 63;
    }
    const bool add = TakeMagnitude(d, count);
    Halve(d, count);
    const int length = HugeWords::HighestNonZero(d, count) + 1;
    std::memset(root, 0, sizeof(uint32_t) * (n - h));
    ApplyCorrection(root, n, y, h, d, length, 3 * h - n - 1, add, d + count + 1);
    if (root[n - 1] == 0) {
        root[n - 1] = 1;
        std::memset(root, 0, sizeof(uint32_t) * (n - 1));
    }
}

} // namespace HugeKernel

// ---------------------------------------------------------------- life cycle

THugeFloatOper::THugeFloatOper(int precision) : THugeFloatBase(precision) {
    AllocWorkBuffer();
}

THugeFloatOper::THugeFloatOper(int precision, int32_t value) : THugeFloatBase(precision, value) {
    AllocWorkBuffer();
}

THugeFloatOper::THugeFloatOper(const THugeFloatOper &source) : THugeFloatBase(source) {
    AllocWorkBuffer();
}

THugeFloatOper::THugeFloatOper(int precision, SharedBuffer) : THugeFloatBase(precision) {}

THugeFloatOper::~THugeFloatOper() {
    FreeWorkBuffer();
}

void THugeFloatOper::AllocMantissa() {
    THugeFloatBase::AllocMantissa();
    AllocWorkBuffer();
}

void THugeFloatOper::FreeMantissa() {
    FreeWorkBuffer();
    THugeFloatBase::FreeMantissa();
}

int THugeFloatOper::WorkBufferWords(int words) {
    return ProductWords(words) + HugeKernel::KaratsubaScratchWords(words);
}

void THugeFloatOper::AllocWorkBuffer() {
    FWorkBuffer = new uint32_t[WorkBufferWords(FFullCount)];
    FOwnsWorkBuffer = true;
}

void THugeFloatOper::FreeWorkBuffer() {
    if (FOwnsWorkBuffer)
        delete[] FWorkBuffer;
    FWorkBuffer = nullptr;
    FOwnsWorkBuffer = false;
}

THugeFloatBase *THugeFloatOper::GetOne() {
    auto *value = new THugeFloatBase(FPrecision, 1);
    value->SetView(FWordCount);
    return value;
}

THugeFloatBase *THugeFloatOper::GetTwo() {
    auto *value = new THugeFloatBase(FPrecision, 2);
    value->SetView(FWordCount);
    return value;
}

THugeFloatOper *THugeFloatOper::GetTemp() {
    auto *value = new THugeFloatOper(FPrecision);
    value->SetView(FWordCount);
    return value;
}

void THugeFloatOper::ReleaseConstant(THugeFloatBase *value) {
    delete value;
}

void THugeFloatOper::ReleaseTemp(THugeFloatOper *value) {
    delete value;
}

// ---------------------------------------------------------------- addition

void THugeFloatOper::AddMagnitude(const THugeFloatBase &other) {
    if (FState != hsNormal) {
        if (other.FState == hsNaN)
            SetNaN();
        return;
    }
    if (other.FState != hsNormal) {
        if (other.FState == hsNaN)
            SetNaN();
        else
            FState = hsInfinite;
        return;
    }
    const int n = FWordCount;
    uint32_t *r = FMantissa;
    const uint32_t *o = other.FMantissa;
    if (o[n - 1] == 0)
        return;
    if (r[n - 1] == 0) {
        std::memcpy(r, o, sizeof(uint32_t) * n);
        FExponent = other.FExponent;
        return;
    }
    const int64_t d = static_cast<int64_t>(FExponent) - other.FExponent;
    uint32_t carry;
    if (d >= 0) {
        if (d >= n)
            return;
        const int s = static_cast<int>(d);
        // the highest word falling off the end rounds half up
        carry = (s > 0 && o[s - 1] >= 0x80000000u) ? 1u : 0u;
        int i = 0;
        for (; i < n - s; ++i) {
            uint64_t sum = static_cast<uint64_t>(r[i]) + o[i + s] + carry;
            r[i] = static_cast<uint32_t>(sum);
            carry = static_cast<uint32_t>(sum >> 32);
        }
        for (; carry && i < n; ++i) {
            r[i] += 1;
            carry = r[i] == 0;
        }
    } else {
        if (-d >= n) {
            std::memcpy(r, o, sizeof(uint32_t) * n);
            FExponent = other.FExponent;
            return;
        }
        const int s = static_cast<int>(-d);
        carry = r[s - 1] >= 0x80000000u ? 1u : 0u;
        int i = 0;
        // r[i + s] is read before r[i] is written, so ascending order is safe
        for (; i < n - s; ++i) {
            uint64_t sum = static_cast<uint64_t>(o[i]) + r[i + s] + carry;
            r[i] = static_cast<uint32_t>(sum);
            carry = static_cast<uint32_t>(sum >> 32);
        }
        for (; i < n; ++i) {
            uint64_t sum = static_cast<uint64_t>(o[i]) + carry;
            r[i] = static_cast<uint32_t>(sum);
            carry = static_cast<uint32_t>(sum >> 32);
        }
        FExponent = other.FExponent;
    }
    if (carry) {
        if (FExponent >= HugeMaxExponent) {
            FState = hsInfinite;
            return;
        }
        std::memmove(r, r + 1, sizeof(uint32_t) * (n - 1));
        r[n - 1] = 1;
        ++FExponent;
    }
}

void THugeFloatOper::SubtractMagnitude(const THugeFloatBase &other) {
    if (FState != hsNormal) {
        if (other.FState != hsNormal)
            SetNaN();
        return;
    }
    if (other.FState != hsNormal) {
        if (other.FState == hsNaN)
            SetNaN();
        else
            SetInfinite(true);
        return;
    }
    const int n = FWordCount;
    uint32_t *r = FMantissa;
    const uint32_t *o = other.FMantissa;
    if (o[n - 1] == 0)
        return;
    if (r[n - 1] == 0) {
        std::memcpy(r, o, sizeof(uint32_t) * n);
        FExponent = other.FExponent;
        FSign = true;
        return;
    }
    int order = 0; // sign of |Self| - |Other|
    if (FExponent != other.FExponent) {
        order = FExponent > other.FExponent ? 1 : -1;
    } else {
        for (int i = n - 1; i >= 0; --i) {
            if (r[i] != o[i]) {
                order = r[i] > o[i] ? 1 : -1;
                break;
            }
        }
        if (order == 0) {
            SetZero(false);
            return;
        }
    }
    uint32_t borrow = 0;
    if (order > 0) {
        const int64_t d = static_cast<int64_t>(FExponent) - other.FExponent;
        if (d >= n)
            return;
        const int s = static_cast<int>(d);
        int i = 0;
        for (; i < n - s; ++i) {
            uint64_t diff = static_cast<uint64_t>(r[i]) - o[i + s] - borrow;
            r[i] = static_cast<uint32_t>(diff);
            borrow = static_cast<uint32_t>(diff >> 63);
        }
        for (; borrow && i < n; ++i) {
            borrow = r[i] == 0;
            r[i] -= 1;
        }
    } else {
        const int64_t d = static_cast<int64_t>(other.FExponent) - FExponent;
        if (d >= n) {
            std::memcpy(r, o, sizeof(uint32_t) * n);
        } else {
            const int s = static_cast<int>(d);
            int i = 0;
            for (; i < n - s; ++i) {
                uint64_t diff = static_cast<uint64_t>(o[i]) - r[i + s] - borrow;
                r[i] = static_cast<uint32_t>(diff);
                borrow = static_cast<uint32_t>(diff >> 63);
            }
            for (; i < n; ++i) {
                uint64_t diff = static_cast<uint64_t>(o[i]) - borrow;
                r[i] = static_cast<uint32_t>(diff);
                borrow = static_cast<uint32_t>(diff >> 63);
            }
        }
        FExponent = other.FExponent;
        FSign = true;
    }
    if (r[n - 1] == 0)
        NormaliseWords();
}

void THugeFloatOper::Add(const THugeFloatBase &other) {
    if (other.FWordCount != FWordCount) {
        AddMixed(other);
        return;
    }
    if (!FSign) {
        if (!other.FSign)
            AddMagnitude(other);
        else
            SubtractMagnitude(other);
    } else if (!other.FSign) {
        FSign = false;
        SubtractMagnitude(other);
        FSign = !FSign;
    } else {
        AddMagnitude(other);
    }
}

void THugeFloatOper::Subtract(const THugeFloatBase &other) {
    if (other.FWordCount != FWordCount) {
        SubtractMixed(other);
        return;
    }
    if (!FSign) {
        if (!other.FSign)
            SubtractMagnitude(other);
        else
            AddMagnitude(other);
    } else if (!other.FSign) {
        AddMagnitude(other);
    } else {
        FSign = false;
        SubtractMagnitude(other);
        FSign = !FSign;
    }
}

void THugeFloatOper::SubtractRev(const THugeFloatBase &other) {
    if (other.FWordCount != FWordCount) {
        SubtractRevMixed(other);
        return;
    }
    if (!FSign) {
        if (!other.FSign) {
            SubtractMagnitude(other);
            FSign = !FSign;
        } else {
            FSign = true;
            AddMagnitude(other);
        }
    } else if (!other.FSign) {
        FSign = false;
        AddMagnitude(other);
    } else {
        FSign = false;
        SubtractMagnitude(other);
    }
}

void THugeFloatOper::AddMixed(const THugeFloatBase &other) {
    THugeTempHolder temp(*this);
    temp->Assign(other);
    Add(*temp);
}

void THugeFloatOper::SubtractMixed(const THugeFloatBase &other) {
    THugeTempHolder temp(*this);
    temp->Assign(other);
    Subtract(*temp);
}

void THugeFloatOper::SubtractRevMixed(const THugeFloatBase &other) {
    THugeTempHolder temp(*this);
    temp->Assign(other);
    SubtractRev(*temp);
}

void THugeFloatOper::MultiplyMixed(const THugeFloatBase &other) {
    THugeTempHolder temp(*this);
    temp->Assign(other);
    MultiplySameWidth(*temp);
}

// ---------------------------------------------------------------- multiplication

void THugeFloatOper::Multiply(const THugeFloatBase &other) {
    if (other.FWordCount != FWordCount) {
        MultiplyMixed(other);
        return;
    }
    MultiplySameWidth(other);
}

void THugeFloatOper::MultiplySameWidth(const THugeFloatBase &other) {
    const bool negative = FSign != other.FSign;
    if (FState != hsNormal || other.FState != hsNormal) {
        if (FState == hsNaN)
            return;
        if (FState == hsInfinite) {
            if (other.FState == hsNaN || other.IsZero())
                SetNaN();
            else
                SetInfinite(negative);
            return;
        }
        // Self normal, Other special
        if (other.FState == hsNaN || IsZero())
            SetNaN();
        else
            SetInfinite(negative);
        return;
    }
    const int n = FWordCount;
    if (FMantissa[n - 1] == 0 || other.FMantissa[n - 1] == 0) {
        SetZero(negative);
        return;
    }
    int32_t exponent = FExponent + other.FExponent;
    if (SetIfOutOfRange(exponent, negative))
        return;
    uint32_t *product = FWorkBuffer;
    HugeKernel::MultiplyTop(FMantissa, other.FMantissa, n, product, product + ProductWords(n));
    if (product[n] != 0) {
        if (exponent >= HugeMaxExponent) {
            SetInfinite(negative);
            return;
        }
        ++exponent;
        ++product;
    }
    std::memcpy(FMantissa, product, sizeof(uint32_t) * n);
    FExponent = exponent;
    FSign = negative;
}

void THugeFloatOper::MultiplyCorrection(const THugeFloatBase &factor, int32_t target) {
    const int w = FWordCount;
    if (FState != hsNormal || factor.FState != hsNormal || IsZero()) {
        MultiplySameWidth(factor);
        return;
    }
    // From the product's top word (at most one word above the sum of the
    // exponents) down to the target's last word, and two guard words: the
    // truncation then costs less than 2^-32 of a unit of the last word, so
    // that even a long series of such terms stays within a unit.
    const int64_t reach = static_cast<int64_t>(FExponent) + factor.FExponent - target + w + 3;
    const int m = reach >= w ? w : (reach < 2 ? (w < 2 ? w : 2) : static_cast<int>(reach));
    if (m == w) {
        MultiplySameWidth(factor);
        return;
    }
    auto &shortFactor = const_cast<THugeFloatBase &>(factor);
    {
        THugeViewGuard viewSelf(*this), viewFactor(shortFactor);
        FMantissa += w - m;
        FWordCount = m;
        shortFactor.FMantissa += w - m;
        shortFactor.FWordCount = m;
        MultiplySameWidth(shortFactor);
    }
    if (FState == hsNormal)
        std::memset(FMantissa, 0, sizeof(uint32_t) * (w - m));
}

void THugeFloatOper::DivideCorrection(int32_t divisor, int32_t target) {
    const int w = FWordCount;
    const int64_t reach = static_cast<int64_t>(FExponent) - target + w + 2;
    if (FState != hsNormal || IsZero() || reach >= w) {
        DivideInteger(divisor);
        return;
    }
    const int m = reach < 2 ? (w < 2 ? w : 2) : static_cast<int>(reach);
    {
        THugeViewGuard view(*this);
        FMantissa += w - m;
        FWordCount = m;
        DivideInteger(divisor);
    }
    std::memset(FMantissa, 0, sizeof(uint32_t) * (w - m));
}

bool THugeFloatOper::SetIfOutOfRange(int64_t exponent, bool negative) {
    if (exponent > HugeMaxExponent)
        SetInfinite(negative);
    else if (exponent < HugeMinExponent)
        SetZero(negative);
    else
        return false;
    return true;
}

void THugeFloatOper::Square() {
    FSign = false;
    if (FState != hsNormal || IsZero())
        return;
    const int n = FWordCount;
    int32_t exponent = 2 * FExponent;
    if (SetIfOutOfRange(exponent, false))
        return;
    uint32_t *product = FWorkBuffer;
    HugeKernel::SquareTop(FMantissa, n, product, product + ProductWords(n));
    if (product[n] != 0) {
        if (exponent >= HugeMaxExponent) {
            SetInfinite(false);
            return;
        }
        ++exponent;
        ++product;
    }
    std::memcpy(FMantissa, product, sizeof(uint32_t) * n);
    FExponent = exponent;
}

// ---------------------------------------------------------------- reciprocal, division

namespace {

// |x - y| of two numbers given word by word (x(i), y(i), word 0 lowest) over [0, size), into
// buffer; y may read buffer itself, as each word is read before it is written. Returns the sign
// of x - y; 0 (equal) leaves buffer untouched.
template <class X, class Y> int SubtractWords(X x, Y y, int size, uint32_t *buffer) {
    int order = 0;
    for (int i = size - 1; i >= 0; --i) {
        const uint32_t xw = x(i), yw = y(i);
        if (xw != yw) {
            order = xw > yw ? 1 : -1;
            break;
        }
    }
    if (order == 0)
        return 0;
    uint32_t borrow = 0;
    for (int i = 0; i < size; ++i) {
        const uint64_t xw = x(i), yw = y(i);
        const uint64_t diff = order > 0 ? xw - yw - borrow : yw - xw - borrow;
        buffer[i] = static_cast<uint32_t>(diff);
        borrow = static_cast<uint32_t>(diff >> 63);
    }
    return order;
}

// result := the nonzero words buffer[0, size) (word i at the scale 2^(32 (low + i))), truncated
// to result's words, with the sign Negative; a signed 0 below the smallest exponent. Returns the
// index of buffer's top word, -1 for the 0.
int TakeTopWords(const uint32_t *buffer, int size, int64_t low, bool negative, THugeFloatBase &result) {
    const int n = result.FWordCount;
    const int top = HugeWords::HighestNonZero(buffer, size);
    const int64_t exponent = low + top;
    if (exponent < HugeMinExponent) {
        result.SetZero(negative);
        return -1;
    }
    const int from = top - (n - 1);
    if (from >= 0) {
        std::memcpy(result.FMantissa, buffer + from, sizeof(uint32_t) * n);
    } else {
        std::memset(result.FMantissa, 0, sizeof(uint32_t) * -from);
        std::memcpy(result.FMantissa - from, buffer, sizeof(uint32_t) * (top + 1));
    }
    result.FExponent = static_cast<int32_t>(exponent);
    result.FSign = negative;
    result.FState = hsNormal;
    return top;
}

} // namespace

THugeFloatOper::TResidual THugeFloatOper::ExactDifference(const THugeFloatBase &a, const THugeFloatBase &b,
                                                          THugeFloatBase &difference, uint32_t *buffer,
                                                          bool round) {
    const int n = a.FWordCount;
    if (a.FState != hsNormal || b.FState != hsNormal || a.IsZero() || b.IsZero() || a.FSign != b.FSign)
        return TResidual::Inexact;
    const int64_t gap = static_cast<int64_t>(a.FExponent) - b.FExponent;
    if (gap > n + 1 || gap < -(n + 1))
        return TResidual::Inexact;
    // buffer word i has the scale 2^(32 (low + i))
    const int64_t low = (gap >= 0 ? b.FExponent : a.FExponent) - static_cast<int64_t>(n - 1);
    const int aShift = static_cast<int>(a.FExponent - (n - 1) - low);
    const int bShift = static_cast<int>(b.FExponent - (n - 1) - low);
    const int size = n + (gap >= 0 ? static_cast<int>(gap) : static_cast<int>(-gap));
    auto aWord = [&](int i) -> uint32_t {
        return (i >= aShift && i < aShift + n) ? a.FMantissa[i - aShift] : 0u;
    };
    auto bWord = [&](int i) -> uint32_t {
        return (i >= bShift && i < bShift + n) ? b.FMantissa[i - bShift] : 0u;
    };
    const int order = SubtractWords(aWord, bWord, size, buffer);
    if (order == 0) {
        difference.SetZero(false);
        return TResidual::Zero;
    }
    const int top = TakeTopWords(buffer, size, low, order > 0 ? a.FSign : !a.FSign, difference);
    if (top < 0)
        return TResidual::Exact;
    if (round && top - n >= 0 && buffer[top - n] >= 0x80000000u) {
        int i = 0;
        while (i < n && ++difference.FMantissa[i] == 0)
            ++i;
        if (i == n) { // carried out of the top: the value is a power of the word base
            difference.FMantissa[n - 1] = 1;
            ++difference.FExponent;
        }
    }
    return TResidual::Exact;
}

void THugeFloatOper::Reciprocal() {
    if (FState == hsNaN)
        return;
    if (FState == hsInfinite) {
        SetZero(FSign);
        return;
    }
    if (IsZero()) {
        SetInfinite(false);
        return;
    }
    const int n = FWordCount;
    // 1 / (m B^e) = (1 / m) B^-e with m in [1, B): a power of B inverts exactly, any other m
    // gives n words of B^(2n-1) / m with the exponent -1 - e.
    if (FMantissa[n - 1] == 1 && !HugeWords::AnyNonZero(FMantissa, n - 1)) {
        FExponent = -FExponent;
        return;
    }
    THugeTempHolder result(*this);
    THugeScratchWords scratch(HugeKernel::QuotientScratchWords(n));
    HugeKernel::ReciprocalWords(FMantissa, n, result->FMantissa, scratch.Words());
    std::memcpy(FMantissa, result->FMantissa, sizeof(uint32_t) * n);
    const int64_t exponent = -1 - static_cast<int64_t>(FExponent);
    if (exponent < HugeMinExponent)
        SetZero(FSign);
    else
        FExponent = static_cast<int32_t>(exponent);
}

void THugeFloatOper::DivideNormal(const THugeFloatBase &dividend, const THugeFloatBase &divisor) {
    const int n = FWordCount;
    THugeTempHolder result(*this);
    uint32_t *quotient = result->FMantissa;
    THugeScratchWords scratch(HugeKernel::QuotientScratchWords(n));
    const bool below =
        HugeKernel::QuotientWords(dividend.FMantissa, divisor.FMantissa, n, quotient, scratch.Words());
    const int64_t exponent = static_cast<int64_t>(dividend.FExponent) - divisor.FExponent - (below ? 1 : 0);
    const bool negative = dividend.FSign != divisor.FSign;
    if (SetIfOutOfRange(exponent, negative))
        return;
    std::memcpy(FMantissa, quotient, sizeof(uint32_t) * n);
    FExponent = static_cast<int32_t>(exponent);
    FSign = negative;
    FState = hsNormal;
}

void THugeFloatOper::Divide(const THugeFloatBase &other) {
    if (other.FWordCount != FWordCount) {
        THugeTempHolder divisor(*this);
        divisor->Assign(other);
        Divide(*divisor);
        return;
    }
    if (FState == hsNormal && other.FState == hsNormal && !IsZero() && !other.IsZero()) {
        DivideNormal(*this, other);
        return;
    }
    // zeros, infinities and NaN: Self * (1 / other)
    THugeTempHolder inverse(*this);
    inverse->Assign(other);
    inverse->Reciprocal();
    MultiplySameWidth(*inverse);
}

void THugeFloatOper::DivideRev(const THugeFloatBase &other) {
    if (&other == this) {
        if (FState != hsNormal)
            SetNaN();
        else
            SetInteger(1);
        return;
    }
    if (other.FWordCount == FWordCount && FState == hsNormal && other.FState == hsNormal && !IsZero() &&
        !other.IsZero()) {
        DivideNormal(other, *this);
        return;
    }
    THugeTempHolder divisor(*this);
    divisor->Assign(*this);
    Assign(other);
    Divide(*divisor);
}

// ---------------------------------------------------------------- scaling by two

void THugeFloatOper::MultiplyByTwo() {
    if (FState != hsNormal || IsZero())
        return;
    const int n = FWordCount;
    uint32_t *r = FMantissa;
    const uint32_t out = r[n - 1] >> 31;
    for (int i = n - 1; i > 0; --i)
        r[i] = (r[i] << 1) | (r[i - 1] >> 31);
    r[0] <<= 1;
    if (out) {
        if (FExponent >= HugeMaxExponent) {
            FState = hsInfinite;
            return;
        }
        std::memmove(r, r + 1, sizeof(uint32_t) * (n - 1));
        r[n - 1] = 1;
        ++FExponent;
    }
}

void THugeFloatOper::DivideByTwo() {
    if (FState != hsNormal || IsZero())
        return;
    const int n = FWordCount;
    uint32_t *r = FMantissa;
    if (r[n - 1] == 1) {
        // the 1 becomes the top bit of the word below; nothing is lost
        if (FExponent <= HugeMinExponent) {
            SetZero(FSign);
            return;
        }
        for (int i = n - 1; i > 0; --i)
            r[i] = (r[i] << 31) | (r[i - 1] >> 1);
        r[0] <<= 31;
        --FExponent;
        return;
    }
    for (int i = 0; i < n - 1; ++i)
        r[i] = (r[i] >> 1) | (r[i + 1] << 31);
    r[n - 1] >>= 1;
}
