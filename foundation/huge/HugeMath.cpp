#include "HugeMath.h"

#include "HugeConsts.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <optional>

namespace {

// Zero-fills the words that widening a view from `from` to `to` words
// exposes, so that an estimate carried into a wider round is exact rather
// than followed by stale words.
void Widen(THugeFloatBase &number, int to) {
    const int from = number.FWordCount;
    number.SetView(to);
    if (to > from)
        std::memset(number.FMantissa, 0, sizeof(uint32_t) * (to - from));
}

inline int32_t AbsCompare(int32_t c) {
    return c < 0 ? -c : c;
}

// Most terms of a block of the exponential's series (the scratch values it takes besides two;
// with the two of Ln around it, the twelve of a processor's pool).
constexpr int ExpBlockTerms = 8;
// The same for the series of sine and cosine (even), which take one scratch value besides them.
constexpr int SeriesBlockTerms = 8;

constexpr long double Ln2 = 0.693147180559945309417232121458176568L;

// The widening Newton iteration of the root and the inverse functions. Value starts from
// Estimate and Previous at 0; each round keeps the old value in Previous and runs Step for the
// next one. With n of at most four words the rounds run at the full width until one changed
// Value by less than Tolerance (in Compare's measure), 31 rounds at the most. Wider numbers start
// at four words and take one round at each of a chain of widths up to n, each about half the next
// one and two words more: a round doubles the right words (the estimate has two), so every
// round's width needs only the words the round before it made right. With `settle` the widths
// double from four words instead and the rounds at the full width go on until the change is below
// Tolerance for wider numbers too (for a step whose rounding leaves more than a few units in a
// single round). Followers are the other numbers of the step,
// whose views take each round's width. With `absolute` the chain is the one of a value whose error
// counts in units of a fixed last word (the logarithm: its value has at most five bits in the top
// word, so the words below it carry the precision): a width w then needs (w - 1) / 2 + 2 words
// from the round before it, one less than the chain of relative errors for an even w.
template <class Step>
void WideningNewton(THugeFloatBase &value, THugeFloatBase &previous,
                    std::initializer_list<THugeFloatBase *> followers, int n, long double estimate,
                    int32_t tolerance, bool settle, Step step, bool absolute = false) {
    int widths[32];
    int steps = 0;
    for (int w = n;; w = settle ? (w + 1) / 2 : (absolute ? (w - 1) / 2 + 2 : w / 2 + 2)) {
        if (settle && w < 4 && steps > 0)
            w = 4;
        widths[steps++] = w;
        if (w <= 4)
            break;
    }
    int w = widths[--steps];
    value.SetView(w);
    value.SetExtended(estimate);
    previous.SetView(w);
    previous.SetZero(false);
    for (int round = 1; round <= 31; ++round) {
        for (THugeFloatBase *follower : followers)
            follower->SetView(w);
        const int32_t change = value.Compare(previous);
        previous.Assign(value);
        step();
        if (steps == 0) {
            if ((n > 4 && !settle) || AbsCompare(change) < tolerance)
                break;
            continue;
        }
        const int wider = widths[--steps];
        Widen(value, wider);
        Widen(previous, wider);
        w = wider;
    }
}

// x := x - k * T exactly (T / 2 with `halve`), truncated to x's words, where
// T is a constant table (most significant word first, top word at
// `tableExponent`) taken with two words more than x has: the argument
// reductions of Exp, Sin and Cos, which would otherwise lose the words that
// the integer part of x / T occupies. x is normal, not negative and of about
// the size of k T; the result may be negative. False when x is too large for
// the word buffer (the caller then reduces another way).
bool SubtractTableMultiple(THugeFloatBase &x, uint32_t k, const uint32_t *table, int32_t tableExponent,
                           bool halve = false) {
    const int n = x.FWordCount;
    const int m = n + 2 < HugeConstWords ? n + 2 : HugeConstWords; // table words used
    const int64_t tableLowest = static_cast<int64_t>(tableExponent) - (m - 1);
    const int64_t xLow = static_cast<int64_t>(x.FExponent) - (n - 1);
    int64_t low = tableLowest - (halve ? 1 : 0);
    if (xLow < low)
        low = xLow;
    const int64_t high =
        (static_cast<int64_t>(x.FExponent) > tableExponent + 1 ? x.FExponent : tableExponent + 1);
    const int64_t size64 = high - low + 2;
    constexpr int Capacity = HugeMaxWords + 8;
    if (size64 > Capacity)
        return false;
    const int size = static_cast<int>(size64);
    uint32_t product[Capacity];
    uint32_t value[Capacity];
    std::memset(product, 0, sizeof(uint32_t) * size);
    std::memset(value, 0, sizeof(uint32_t) * size);
    // k * T, then halved by a one-bit shift (the word below T takes the bit)
    uint32_t carry = 0;
    const int tableShift = static_cast<int>(tableLowest - low);
    for (int i = 0; i < m; ++i) {
        const uint64_t p = static_cast<uint64_t>(table[m - 1 - i]) * k + carry;
        product[tableShift + i] = static_cast<uint32_t>(p);
        carry = static_cast<uint32_t>(p >> 32);
    }
    product[tableShift + m] = carry;
    if (halve) {
        for (int i = 0; i < size - 1; ++i)
            product[i] = (product[i] >> 1) | (product[i + 1] << 31);
        product[size - 1] >>= 1;
    }
    const int xShift = static_cast<int>(xLow - low);
    for (int i = 0; i < n; ++i)
        value[xShift + i] = x.FMantissa[i];
    int order = 0;
    for (int i = size - 1; i >= 0; --i) {
        if (value[i] != product[i]) {
            order = value[i] > product[i] ? 1 : -1;
            break;
        }
    }
    if (order == 0) {
        x.SetZero(false);
        return true;
    }
    const uint32_t *big = order > 0 ? value : product;
    const uint32_t *small = order > 0 ? product : value;
    uint32_t borrow = 0;
    for (int i = 0; i < size; ++i) {
        const uint64_t d = static_cast<uint64_t>(big[i]) - small[i] - borrow;
        value[i] = static_cast<uint32_t>(d);
        borrow = static_cast<uint32_t>(d >> 63);
    }
    const int top = HugeWords::HighestNonZero(value, size);
    for (int i = 0; i < n; ++i) {
        const int from = top - (n - 1) + i;
        x.FMantissa[i] = from >= 0 ? value[from] : 0u;
    }
    const int64_t exponent = low + top;
    x.FExponent = static_cast<int32_t>(exponent);
    x.FSign = order < 0;
    if (exponent < HugeMinExponent)
        x.SetZero(false);
    return true;
}

} // namespace

THugeFloatMath::THugeFloatMath(int precision) : THugeFloatOper(precision) {}

THugeFloatMath::THugeFloatMath(int precision, int32_t value) : THugeFloatOper(precision, value) {}

THugeFloatMath::THugeFloatMath(const THugeFloatMath &source) : THugeFloatOper(source) {}

THugeFloatMath::THugeFloatMath(int precision, SharedBuffer tag) : THugeFloatOper(precision, tag) {}

THugeFloatBase *THugeFloatMath::GetThree() {
    auto *value = new THugeFloatBase(FPrecision, 3);
    value->SetView(FWordCount);
    return value;
}

THugeFloatMath *THugeFloatMath::GetMathTemp() {
    auto *value = new THugeFloatMath(FPrecision);
    value->SetView(FWordCount);
    return value;
}

void THugeFloatMath::ReleaseMathTemp(THugeFloatMath *value) {
    delete value;
}

// ---------------------------------------------------------------- scaling

void THugeFloatMath::MultiplyPowerOfTwo(int32_t power) {
    if (FState != hsNormal || IsZero() || power == 0)
        return;
    const int n = FWordCount;
    uint32_t *r = FMantissa;
    const int64_t p = power;
    if (p > 0) {
        int64_t exponent = FExponent + p / 32;
        const int bits = static_cast<int>(p % 32);
        if (exponent > HugeMaxExponent) {
            SetInfinite(FSign);
            return;
        }
        if (bits) {
            const uint32_t out = r[n - 1] >> (32 - bits);
            for (int i = n - 1; i > 0; --i)
                r[i] = (r[i] << bits) | (r[i - 1] >> (32 - bits));
            r[0] <<= bits;
            if (out) {
                if (exponent >= HugeMaxExponent) {
                    SetInfinite(FSign);
                    return;
                }
                std::memmove(r, r + 1, sizeof(uint32_t) * (n - 1));
                r[n - 1] = out;
                ++exponent;
            }
        }
        FExponent = static_cast<int32_t>(exponent);
        return;
    }
    const int64_t words = -((-p) / 32); // ceil(p / 32)
    const int bits = static_cast<int>(-(p - 32 * words));
    int64_t exponent = FExponent + words;
    if (bits) {
        if ((r[n - 1] >> bits) == 0) {
            // moving up one word instead of leaving a zero top word
            for (int i = n - 1; i > 0; --i)
                r[i] = (r[i] << (32 - bits)) | (r[i - 1] >> bits);
            r[0] <<= (32 - bits);
            --exponent;
        } else {
            for (int i = 0; i < n - 1; ++i)
                r[i] = (r[i] >> bits) | (r[i + 1] << (32 - bits));
            r[n - 1] >>= bits;
        }
    }
    if (exponent < HugeMinExponent) {
        SetZero(FSign);
        return;
    }
    FExponent = static_cast<int32_t>(exponent);
}

// ---------------------------------------------------------------- square root

void THugeFloatMath::Sqrt() {
    if (FState == hsNaN || IsZero())
        return;
    if (FSign) { // negative numbers, -infinity included, have no root
        SetNaN();
        return;
    }
    if (FState == hsInfinite)
        return;
    // The root of m B^(2 h + r) (r 0 or 1) is sqrt(m B^r) B^h: the root of the mantissa scaled
    // by r words, which keeps the estimate within the 80-bit range whatever the exponent.
    const int n = FWordCount;
    const int32_t half = FExponent >> 1; // floor(exponent / 2)
    const int r = FExponent - 2 * half;
    THugeMathTempHolder root(*this);
    THugeScratchWords scratch(HugeKernel::QuotientScratchWords(n));
    HugeKernel::RootWords(FMantissa, n, r, root->FMantissa, scratch.Words());
    std::memcpy(FMantissa, root->FMantissa, sizeof(uint32_t) * n);
    FExponent = half;
}

// ---------------------------------------------------------------- logarithm, exponential

void THugeFloatMath::Ln() {
    if (FState == hsNaN)
        return;
    if (FState == hsInfinite) {
        if (FSign)
            SetNaN();
        return;
    }
    if (IsZero()) {
        SetInfinite(true);
        return;
    }
    if (FSign) {
        SetNaN();
        return;
    }
    const int n = FWordCount;
    THugeMathTempHolder y(*this);
    THugeMathTempHolder previous(*this);
    // ln(m 2^(32 e)) = ln m + 32 e ln 2: the iteration works on the mantissa
    // with exponent 0, within the 80-bit range and far from the ends of the
    // exponent range, whatever the argument's exponent.
    const int32_t exponent = FExponent;
    FExponent = 0;
    const long double estimate = std::log2(GetExtended()) * Ln2;
    THugeConstHolder one(*this, GetOne());
    {
        THugeViewGuard viewSelf(*this), viewY(*y), viewPrevious(*previous), viewOne(*one);
        WideningNewton(
            *y, *previous, {this, &*one}, n, estimate, 3, false,
            [&] {
                // y := previous + x * e^(-previous) - 1
                y->Negate();
                y->Exp();
                y->Multiply(*this);
                // x e^-y - 1 exactly: the product lies next to 1
                if (ExactDifference(*y, *one, *y, FWorkBuffer) == TResidual::Inexact)
                    y->Subtract(*one);
                y->Add(*previous);
            },
            true);
    }
    if (exponent != 0) {
        previous->LoadLn2();
        previous->MultiplyInteger(32 * exponent);
        y->Add(*previous);
    }
    Assign(*y);
}

void THugeFloatMath::Exp() {
    if (FState == hsNaN)
        return;
    if (FState == hsInfinite) {
        if (FSign) // e^-infinity
            SetZero(false);
        return;
    }
    if (IsZero()) {
        SetInteger(1);
        return;
    }
    const bool negative = FSign;
    FSign = false;
    // e^x = 2^N e^r with N = trunc(|x| log2 e) and r = |x| - N ln 2; for a
    // negative x, e^-|x| = 2^-(N+1) e^r' with r' = (N + 1) ln 2 - |x|. Both r
    // and r' lie in [0, ln 2] and are taken exactly from the table of ln 2,
    // so no word of x is lost to the integer part, and no reciprocal is taken.
    int64_t power;
    {
        THugeMathTempHolder scaled(*this);
        scaled->Assign(*this);
        THugeMathTempHolder log2e(*this);
        log2e->LoadLog2E();
        scaled->Multiply(*log2e);
        power = scaled->Trunc();
    }
    if (negative)
        ++power;
    if (power >= INT32_MAX) {
        // 2^N is beyond the exponent range
        if (negative)
            SetZero(false);
        else
            SetInfinite(false);
        return;
    }
    // With N = 0 the argument is its own remainder. Otherwise only an argument far below 1 can be
    // too wide for the exact subtraction (its words lie far below those of ln 2): then |x| < ln 2,
    // N = 1 and the remainder ln 2 - |x| is taken with an ordinary subtraction, which loses
    // nothing that n words of a value near ln 2 could hold.
    if (power != 0 && !SubtractTableMultiple(*this, static_cast<uint32_t>(power), HugeLn2Table, -1)) {
        THugeMathTempHolder ln2(*this);
        ln2->LoadLn2();
        Subtract(*ln2);
    }
    if (negative)
        FSign = !FSign;
    if (FState == hsNormal && !IsZero()) {
        // The series is summed scaled by 2^31, so that the sum, 2^31 e^r, has a full top word and
        // carries all n words of precision. Its terms are taken in blocks of m (rectangular
        // splitting): sum_k r^k / k! = sum_{i < m} r^i A_i with A_i = sum_j X^j / (j m + i)! and
        // X = r^m. One running value t = X^j / (j m + i)! goes through all terms; from one term
        // to the next it is divided by a small integer, and only at the end of a block
        // multiplied by X. The m sums are then joined by Horner's rule in r: about 2 m + N / m
        // multiplications for N terms instead of N.
        const int n = FWordCount;
        const int free = FreeMathTemps() - 2;
        int blocks = n < 8 ? 3 : (n < 24 ? 4 : (n < 64 ? 6 : ExpBlockTerms));
        if (blocks > free)
            blocks = free < 2 ? 2 : free;
        THugeMathTempHolder term(*this);
        THugeMathTempHolder power(*this); // X
        std::optional<THugeMathTempHolder> sums[ExpBlockTerms];
        for (int i = 0; i < blocks; ++i) {
            sums[i].emplace(*this);
            (*sums[i])->SetZero(false);
        }
        THugeFloatMath &first = **sums[0];
        // X = r^m by squarings (the bits of m from the top)
        power->Assign(*this);
        int bit = 1;
        while ((blocks >> bit) != 0)
            ++bit;
        for (bit -= 2; bit >= 0; --bit) {
            power->Square();
            if ((blocks >> bit) & 1)
                power->Multiply(*this);
        }
        term->SetInteger(1);
        term->MultiplyPowerOfTwo(31);
        first.Assign(*term);
        int used = 1; // sums that received a term
        bool done = false;
        for (int32_t k = 1; !done; ++k) {
            // the terms shrink: each needs only the words that reach the sum's last one
            const int i = k % blocks;
            if (i == 0)
                term->MultiplyCorrection(*power, first.FExponent);
            term->DivideCorrection(k, first.FExponent);
            THugeFloatMath &sum = **sums[i];
            sum.Add(*term);
            if (i + 1 > used)
                used = i + 1;
            done = term->IsZero() || sum.FState != hsNormal ||
                   term->FExponent < static_cast<int64_t>(first.FExponent) - n || k == INT32_MAX;
        }
        // sum = A_0 + r (A_1 + r (A_2 + ...))
        THugeFloatMath &total = **sums[used - 1];
        for (int i = used - 2; i >= 0; --i) {
            total.Multiply(*this);
            total.Add(**sums[i]);
        }
        Assign(total);
    } else {
        SetInteger(1);
        MultiplyPowerOfTwo(31);
    }
    int64_t shift = (negative ? -power : power) - 31;
    if (shift > INT32_MAX)
        shift = INT32_MAX;
    if (shift < -INT32_MAX)
        shift = -INT32_MAX;
    MultiplyPowerOfTwo(static_cast<int32_t>(shift));
}

bool THugeFloatMath::IsBelowHalf() const {
    return FState == hsNormal && !IsZero() &&
           (FExponent < -1 || (FExponent == -1 && TopWord() < 0x80000000u));
}

void THugeFloatMath::ExpMinusOne() {
    if (FState == hsNaN || IsZero())
        return;
    if (FState == hsInfinite) {
        if (FSign) // e^-infinity - 1
            SetInteger(-1);
        return;
    }
    if (!IsBelowHalf() && !FSign && FExponent == -1) {
        // 1/2 <= x < 1: e^x - 1 may lie below 1 where e^x does not, and would lose the bits of the
        // word that 1 occupies. With m = e^(x/2) - 1 instead, e^x - 1 = m^2 + m + m, and every
        // partial sum stays below 1.
        DivideByTwo();
        ExpMinusOne();
        THugeMathTempHolder sum(*this);
        sum->Assign(*this);
        sum->Square();
        sum->Add(*this);
        sum->Add(*this);
        Assign(*sum);
        return;
    }
    if (!IsBelowHalf()) {
        // Beyond: e^x - 1 keeps the words of e^x (both lie above 1, or both below it for x <= -1/2).
        // The difference is taken exactly: Subtract would first cut e^x to the words of 1.
        Exp();
        THugeConstHolder one(*this, GetOne());
        if (FState != hsNormal || ExactDifference(*this, *one, *this, FWorkBuffer) == TResidual::Inexact)
            Subtract(*one);
        return;
    }
    // e^x - 1 = x (1 + x/2 (1 + x/3 (1 + ... (1 + x/K)))) by Horner's rule from the inside, with
    // the inner value s scaled by 2^31 so that it keeps a full top word (it lies between about
    // 0.78 and 1.3). Each step's rounding is damped by |x| / k < 1/4 in the steps after it, so
    // the result is right to a few units of its last word for either sign of x; summing the
    // terms forwards would leave a rounding of the sum for every term. K is the first term below
    // 2^-(32 n + 8) of the first one, estimated from the exponent of x.
    const int n = FWordCount;
    const double log2X = 32.0 * FExponent + std::log2(static_cast<double>(TopWord()));
    int32_t terms = 1;
    for (double size = 0; size > -(32.0 * n + 8) && terms < INT32_MAX; ++terms)
        size += log2X - std::log2(static_cast<double>(terms) + 1);
    THugeMathTempHolder inner(*this);
    THugeMathTempHolder unit(*this); // 2^31, the scaled 1
    unit->SetInteger(1);
    unit->MultiplyPowerOfTwo(31);
    inner->Assign(*unit);
    for (int32_t k = terms; k >= 2; --k) {
        inner->Multiply(*this);
        inner->DivideInteger(k);
        inner->Add(*unit);
    }
    Multiply(*inner);
    MultiplyPowerOfTwo(-31);
}

void THugeFloatMath::LnOnePlus() {
    if (FState == hsNaN || IsZero())
        return;
    if (!IsBelowHalf()) {
        if (FState == hsInfinite) {
            if (FSign)
                SetNaN();
            return;
        }
        // 1 + x = 1 - |x| exactly for a negative x (Add would first cut x to the words of 1).
        THugeConstHolder one(*this, GetOne());
        bool exact = false;
        if (FSign) {
            FSign = false;
            exact = ExactDifference(*one, *this, *this, FWorkBuffer) != TResidual::Inexact;
            if (!exact)
                FSign = true;
        }
        if (!exact)
            Add(*one);
        Ln();
        return;
    }
    // ln(1 + x) = 2 atanh w = 2 w (1 + w^2/3 + w^4/5 + ...) with w = x / (2 + x), |w| < 1/3; the
    // divisor is taken as 2^30 (2 + x) = 2^31 + 2^30 x, whose top word is full, so that w keeps
    // every word. The sum runs by Horner's rule from the inside, scaled by 2^31 like the one of
    // ExpMinusOne: s = 2^31/(2K + 1) + q (... + q (2^31/3 + q 2^31)) with q = w^2, and each
    // rounding is damped by q < 1/9. K is the first power of q below 2^-(32 n + 8).
    const int n = FWordCount;
    THugeMathTempHolder unit(*this); // 2^31, the scaled 1
    unit->SetInteger(1);
    unit->MultiplyPowerOfTwo(31);
    MultiplyPowerOfTwo(30);
    {
        THugeMathTempHolder divisor(*this);
        divisor->Assign(*this);
        divisor->Add(*unit);
        Divide(*divisor); // w
    }
    THugeMathTempHolder square(*this);
    square->Assign(*this);
    square->Square(); // q
    const double log2Q = 32.0 * square->FExponent + std::log2(static_cast<double>(square->TopWord()));
    int32_t terms = 1;
    while (terms * log2Q > -(32.0 * n + 8) && terms < INT32_MAX / 2 - 1)
        ++terms;
    THugeMathTempHolder inner(*this);
    THugeMathTempHolder term(*this);
    inner->Assign(*unit);
    inner->DivideInteger(2 * terms + 1);
    for (int32_t k = terms - 1; k >= 0; --k) {
        inner->Multiply(*square);
        term->Assign(*unit);
        term->DivideInteger(2 * k + 1);
        inner->Add(*term);
    }
    Multiply(*inner);
    MultiplyPowerOfTwo(-30);
}

// ---------------------------------------------------------------- sine, cosine

int THugeFloatMath::ReduceQuadrant() {
    THugeMathTempHolder t(*this);
    t->LoadPi();
    t->MultiplyPowerOfTwo(-2);
    if (Compare(*t) <= 0)
        return 0;
    // q = round(x / (pi / 2)), from the 80-bit value (an estimate one off
    // leaves |r| a little above pi / 4, which the series do not mind); then
    // r = x - q pi / 2 exactly, |r| <= about pi / 4
    const long double turns = GetExtended() * 0.636619772367581343075535053490057448L;
    if (turns < 1073741824.0L) {
        const uint32_t quarter = static_cast<uint32_t>(turns + 0.5L);
        if (quarter == 0)
            return 0;
        if (SubtractTableMultiple(*this, quarter, HugePiTable, 0, true))
            return static_cast<int>(quarter & 3);
    }
    // Beyond about 10^9 the quadrant count itself is too large: x := frac(x /
    // 2 pi) 2 pi first, with the precision that is left to such an argument.
    t->LoadPi();
    t->MultiplyByTwo();
    {
        THugeMathTempHolder inverse(*this);
        inverse->Assign(*t);
        inverse->Reciprocal();
        Multiply(*inverse);
    }
    Frac();
    Multiply(*t);
    if (FState != hsNormal || IsZero())
        return 0;
    return ReduceQuadrant();
}

void THugeFloatMath::SinOfReduced() {
    if (FState != hsNormal || IsZero())
        return;
    THugeMathTempHolder term(*this);
    THugeMathTempHolder x2(*this);
    term->Assign(*this);
    x2->Assign(*this);
    x2->Square();
    SumSeries(*x2, *term, 2); // x - x^3/3! + x^5/5! - ...
}

void THugeFloatMath::CosOfReduced() {
    if (FState != hsNormal)
        return;
    if (IsZero()) {
        SetInteger(1);
        return;
    }
    {
        // s = x^2/2! - x^4/4! + ... (below 0.3 for |x| <= pi/4), then 1 - s
        // exactly: summing from 1 would leave the sum only the bits of a top
        // word of 1 and drop the last word of every term.
        THugeMathTempHolder x2(*this);
        THugeMathTempHolder term(*this);
        x2->Assign(*this);
        x2->Square();
        Assign(*x2);
        DivideByTwo();
        term->Assign(*this);
        SumSeries(*x2, *term, 3);
    }
    THugeConstHolder one(*this, GetOne());
    if (ExactDifference(*one, *this, *this, FWorkBuffer) == TResidual::Inexact)
        SubtractRev(*one);
}

void THugeFloatMath::SumSeries(const THugeFloatMath &x2, THugeFloatMath &term, uint32_t k) {
    // Rectangular splitting as in Exp, in y = x2 with an even block length m, so that the sign of
    // a term depends only on its place i in the block: the sum is A_0 - y (A_1 - y (A_2 - ...))
    // with A_i = sum_j Y^j t_(j m + i), Y = y^m and t_q the series' terms without their powers of
    // y. A_0 is Self.
    const int n = FWordCount;
    // a block of four terms, and of eight from 64 words where the scratch values are free (the
    // arc functions around a sine or cosine hold several)
    const int free = FreeMathTemps();
    const int blocks = n < 8 || free < 4 ? 2 : (n < 64 || free < SeriesBlockTerms ? 4 : SeriesBlockTerms);
    THugeMathTempHolder power(*this); // Y
    std::optional<THugeMathTempHolder> sums[SeriesBlockTerms - 1];
    for (int i = 1; i < blocks; ++i) {
        sums[i - 1].emplace(*this);
        (*sums[i - 1])->SetZero(false);
    }
    auto sumOf = [&](int i) -> THugeFloatMath & { return i == 0 ? *this : **sums[i - 1]; };
    power->Assign(x2);
    for (int i = 1; i < blocks; i *= 2)
        power->Square();
    int used = 1;
    for (int q = 1;; ++q) {
        // the terms shrink: each needs only the words that reach the sum's last one
        const int i = q % blocks;
        if (i == 0)
            term.MultiplyCorrection(*power, FExponent);
        if (k < 46340) {
            term.DivideCorrection(static_cast<int32_t>(k * (k + 1)), FExponent);
        } else {
            term.DivideCorrection(static_cast<int32_t>(k), FExponent);
            term.DivideCorrection(static_cast<int32_t>(k + 1), FExponent);
        }
        k += 2;
        THugeFloatMath &sum = sumOf(i);
        sum.Add(term);
        if (i + 1 > used)
            used = i + 1;
        if (term.IsZero() || sum.FState != hsNormal || FState != hsNormal ||
            term.FExponent < static_cast<int64_t>(FExponent) - n)
            break;
    }
    if (used < 2)
        return;
    THugeFloatMath &inner = sumOf(used - 1);
    for (int i = used - 2; i >= 0; --i) {
        // inner := A_i - y inner; no more than a tenth of A_i is taken away
        inner.Multiply(x2);
        THugeFloatMath &target = i == 0 ? *this : inner;
        if (ExactDifference(sumOf(i), inner, target, FWorkBuffer, true) == TResidual::Inexact) {
            inner.SubtractRev(sumOf(i));
            if (i == 0)
                Assign(inner);
        }
    }
}

void THugeFloatMath::Sin() {
    if (FState == hsNaN || IsZero())
        return;
    if (FState == hsInfinite) { // no value
        SetNaN();
        return;
    }
    const bool negative = FSign;
    FSign = false;
    // sin(q pi/2 + r) = sin r, cos r, -sin r, -cos r for q = 0, 1, 2, 3 (mod 4)
    const int quadrant = ReduceQuadrant();
    if (quadrant & 1)
        CosOfReduced();
    else
        SinOfReduced();
    if (((quadrant & 2) != 0) != negative)
        FSign = !FSign;
}

void THugeFloatMath::Cos() {
    if (FState == hsNaN)
        return;
    if (FState == hsInfinite) {
        SetNaN();
        return;
    }
    if (IsZero()) {
        SetInteger(1);
        return;
    }
    FSign = false;
    // cos(q pi/2 + r) = cos r, -sin r, -cos r, sin r for q = 0, 1, 2, 3 (mod 4)
    const int quadrant = ReduceQuadrant();
    if (quadrant & 1)
        SinOfReduced();
    else
        CosOfReduced();
    if (quadrant == 1 || quadrant == 2)
        FSign = !FSign;
}

// ---------------------------------------------------------------- arc tangent

void THugeFloatMath::ArcTan() {
    if (FState == hsNaN || IsZero())
        return;
    const bool negative = FSign;
    if (FState == hsInfinite) {
        LoadPi();
        DivideByTwo();
        FSign = negative;
        return;
    }
    FSign = false;
    const bool invert = GetExtended() > 1.0L;
    if (invert)
        Reciprocal();
    const int n = FWordCount;
    THugeMathTempHolder x(*this);
    x->Assign(*this);
    const long double estimate = std::atan(GetExtended());
    {
        THugeMathTempHolder previous(*this);
        THugeMathTempHolder c(*this);
        THugeMathTempHolder t(*this);
        THugeMathTempHolder s(*this);
        THugeViewGuard viewSelf(*this), viewX(*x), viewPrevious(*previous), viewC(*c), viewT(*t), viewS(*s);
        WideningNewton(*this, *previous, {&*x, &*c, &*t, &*s}, n, estimate, 3, true, [&] {
            // y := y - (sin y - x cos y) cos y
            c->Assign(*this);
            c->Cos();
            t->Assign(*c);
            t->Multiply(*x);
            s->Assign(*previous);
            s->Sin();
            Assign(*s);
            Subtract(*t);
            Multiply(*c);
            SubtractRev(*previous);
        });
    }
    if (invert) {
        // pi/2 - y, exactly from the table: pi/2 with its top word of 1 would
        // lack the last bits that pi/2 - y, below 1, shows
        if (SubtractTableMultiple(*this, 1, HugePiTable, 0, true)) {
            Negate();
        } else {
            THugeMathTempHolder halfPi(*this);
            halfPi->LoadPi();
            halfPi->DivideByTwo();
            SubtractRev(*halfPi);
        }
    }
    if (negative)
        FSign = !FSign;
}

void THugeFloatMath::ArcTan2(const THugeFloatBase &x) {
    if (FState == hsNaN)
        return;
    const int xSign = x.Sign();
    if (xSign == 0) { // also a NaN x, whose sign is 0
        const bool negative = Sign() < 0;
        LoadPi();
        DivideByTwo();
        FSign = negative;
        return;
    }
    const bool yNegative = Sign() < 0;
    Divide(x);
    ArcTan();
    if (xSign < 0) {
        THugeMathTempHolder pi(*this);
        pi->LoadPi();
        if (yNegative)
            Subtract(*pi);
        else
            Add(*pi);
    }
}

void THugeFloatMath::OneMinus(THugeFloatMath &x) {
    THugeConstHolder one(*this, GetOne());
    if (ExactDifference(*one, x, x, FWorkBuffer) == TResidual::Inexact)
        x.SubtractRev(*one);
}

void THugeFloatMath::ArcSin() {
    if (FState == hsNaN)
        return;
    THugeMathTempHolder root(*this);
    root->Assign(*this);
    root->Square();
    OneMinus(*root);
    root->Sqrt();
    ArcTan2(*root);
}

void THugeFloatMath::ArcCos() {
    if (FState == hsNaN)
        return;
    THugeMathTempHolder root(*this);
    root->Assign(*this);
    root->Square();
    OneMinus(*root);
    root->Sqrt();
    root->ArcTan2(*this);
    Assign(*root);
}
