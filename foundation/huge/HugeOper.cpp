#include "HugeOper.h"

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <optional>

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

void MultiplyRows(const uint32_t *a, int na, const uint32_t *b, int nb, uint32_t *out) {
    std::memset(out, 0, sizeof(uint32_t) * (na + nb));
    for (int j = 0; j < nb; ++j) {
        const uint64_t factor = b[j];
        if (factor == 0)
            continue;
        uint64_t carry = 0;
        uint32_t *row = out + j;
        for (int i = 0; i < na; ++i) {
            const uint64_t t = a[i] * factor + row[i] + carry; // at most 2^64 - 1
            row[i] = static_cast<uint32_t>(t);
            carry = t >> 32;
        }
        row[na] = static_cast<uint32_t>(carry);
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
    if (exponent > HugeMaxExponent) {
        SetInfinite(negative);
        return;
    }
    if (exponent < HugeMinExponent) {
        SetZero(negative);
        return;
    }
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

void THugeFloatOper::Square() {
    FSign = false;
    if (FState != hsNormal || IsZero())
        return;
    const int n = FWordCount;
    int32_t exponent = 2 * FExponent;
    if (exponent > HugeMaxExponent) {
        SetInfinite(false);
        return;
    }
    if (exponent < HugeMinExponent) {
        SetZero(false);
        return;
    }
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

THugeFloatOper::TResidual THugeFloatOper::ExactResidual(const THugeFloatBase &c, const THugeFloatBase &u,
                                                        const THugeFloatBase &v, THugeFloatBase &residual,
                                                        uint32_t *buffer, int vWords) {
    const int n = c.FWordCount;
    const bool productNegative = u.FSign != v.FSign;
    if (productNegative != c.FSign)
        return TResidual::Inexact;
    // buffer word i of the product has the scale 2^(32 (low + i))
    const int64_t low = static_cast<int64_t>(u.FExponent) + v.FExponent - 2 * n + 2;
    const int64_t shift = static_cast<int64_t>(c.FExponent) - (n - 1) - low; // where c's word 0 lands
    const int size = ProductWords(n);
    if (shift < 0 || shift + n > size)
        return TResidual::Inexact;
    if (vWords > 0 && vWords < n) {
        HugeKernel::MultiplyRows(u.FMantissa, n, v.FMantissa + (n - vWords), vWords, buffer + (n - vWords));
        std::memset(buffer, 0, sizeof(uint32_t) * (n - vWords));
    } else if (n >= HugeKernel::KaratsubaBaseWords) {
        HugeKernel::MultiplyKaratsuba(u.FMantissa, v.FMantissa, n, buffer, buffer + size);
    } else {
        HugeKernel::MultiplyColumns(u.FMantissa, v.FMantissa, n, 0, buffer);
    }
    buffer[2 * n] = 0;
    buffer[2 * n + 1] = 0;
    // c - u v in one pass with borrow (c's words at [s, s + n), 0 elsewhere); a borrow out of the
    // top means u v > c, and the two's complement then gives its magnitude.
    const int s = static_cast<int>(shift);
    uint32_t borrow = 0;
    int i = 0;
    for (; i < s; ++i) {
        const uint64_t d = 0 - static_cast<uint64_t>(buffer[i]) - borrow;
        buffer[i] = static_cast<uint32_t>(d);
        borrow = static_cast<uint32_t>(d >> 63);
    }
    for (const uint32_t *cw = c.FMantissa - s; i < s + n; ++i) {
        const uint64_t d = static_cast<uint64_t>(cw[i]) - buffer[i] - borrow;
        buffer[i] = static_cast<uint32_t>(d);
        borrow = static_cast<uint32_t>(d >> 63);
    }
    for (; i < size; ++i) {
        const uint64_t d = 0 - static_cast<uint64_t>(buffer[i]) - borrow;
        buffer[i] = static_cast<uint32_t>(d);
        borrow = static_cast<uint32_t>(d >> 63);
    }
    bool negative = c.FSign;
    if (borrow) {
        // The two's complement: 0 below the lowest non-zero word (as they are), its negation
        // there and the inverted words above, of which only the top n that TakeTopWords reads
        // are formed (the words above the top become 0).
        negative = !negative;
        int lowest = 0;
        while (buffer[lowest] == 0)
            ++lowest;
        int top = size - 1;
        while (top > lowest && buffer[top] == 0xFFFFFFFFu)
            buffer[top--] = 0;
        for (i = top - (n - 1) > lowest ? top - (n - 1) : lowest; i <= top; ++i)
            buffer[i] = i == lowest ? 0u - buffer[i] : ~buffer[i];
    }
    if (TakeTopWords(buffer, size, low, negative, residual) < 0 &&
        HugeWords::HighestNonZero(buffer, size) < 0)
        return TResidual::Zero;
    return TResidual::Exact;
}

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
    THugeTempHolder x(*this);
    THugeTempHolder t(*this);
    THugeConstHolder one(*this, GetOne());

    // The iteration runs on the mantissa with exponent 0, so that no
    // intermediate value leaves the exponent range; 1 / (m 2^(32 e)) is then
    // (1 / m) 2^(-32 e).
    const int32_t exponent = FExponent;
    FExponent = 0;
    const long double estimate = 1.0L / GetExtended();
    {
        THugeViewGuard viewSelf(*this), viewX(*x), viewT(*t), viewOne(*one);
        // Working widths from the full one down: each step doubles the bits
        // that are right, so a width needs about half of its bits right from
        // the width before it.
        // In bits: the top words of x and of a (of which each round takes as many words) hold
        // at least `top` bits, so that w words hold 32 (w - 1) + top bits of them. A round at
        // w words leaves a few units of its last word (3 bits) when it starts from half of those
        // bits and 4 more; the 80-bit estimate has 60.
        const int topX = ((std::ilogb(estimate) % 32) + 32) % 32 + 1;
        const int topA = 32 - __builtin_clz(TopWord());
        const int top = topX < topA ? topX : topA;
        auto needs = [&](int words) { return (32 * (words - 1) + top + 1) / 2 + 4; };
        int widths[32];
        int steps = 0;
        for (int w = n;;) {
            widths[steps++] = w;
            if (n <= 4 || needs(w) <= 60)
                break;
            int narrower = (needs(w) - top + 3 + 31) / 32 + 1;
            if (narrower >= w)
                narrower = w - 1;
            w = narrower;
        }
        int w = widths[--steps];
        x->SetView(w);
        x->SetExtended(estimate);
        int filled = w; // x's words below its top `filled` are 0

        // Newton's step x := x (2 - a x), written x := x + x (1 - a x) with
        // the residual 1 - a x taken from the exact product. At the first
        // width the step repeats until it settles; each wider width then
        // takes one step.
        for (int round = 1; round <= 64; ++round) {
            SetView(w);
            t->SetView(w);
            one->SetView(w);
            bool settled = false;
            const TResidual residual = ExactResidual(*one, *this, *x, *t, FWorkBuffer, filled);
            filled = w;
            switch (residual) {
            case TResidual::Zero: // a x is exactly 1
                settled = true;
                break;
            case TResidual::Exact:
                t->MultiplyCorrection(*x, x->FExponent);
                // a correction entirely below x's last word changes nothing more
                settled = t->IsZero() || t->FExponent < static_cast<int64_t>(x->FExponent) - (w - 1);
                x->Add(*t);
                break;
            case TResidual::Inexact: // an estimate far off: the plain step
                t->Assign(*x);
                x->MultiplySameWidth(*this);
                {
                    THugeConstHolder two(*this, GetTwo()); // at this width
                    x->SubtractRev(*two);
                }
                x->MultiplySameWidth(*t);
                break;
            }
            if (!settled && steps == 0 && round < 64 && w <= 4)
                continue; // the first width: until it settles
            if (steps == 0)
                break;
            const int wider = widths[--steps];
            x->SetView(wider);
            std::memset(x->FMantissa, 0, sizeof(uint32_t) * (wider - w));
            w = wider;
        }
    }
    Assign(*x);
    const int64_t resultExponent = static_cast<int64_t>(FExponent) - exponent;
    if (resultExponent < HugeMinExponent)
        SetZero(FSign);
    else
        FExponent = static_cast<int32_t>(resultExponent);
}

bool THugeFloatOper::DivideFromShortInverse(const THugeFloatBase &other, int h) {
    const int n = FWordCount;
    if (FState != hsNormal || IsZero() || other.FState != hsNormal || other.IsZero())
        return false;
    // b at this width (a copy only when it has another one)
    std::optional<THugeTempHolder> copy;
    const THugeFloatBase *divisor = &other;
    if (other.FWordCount != n) {
        copy.emplace(*this);
        (*copy)->Assign(other);
        divisor = &**copy;
    }
    // y = 1 / b to h words, q0 = a y to h words: q0 is right to about h - 2
    // words, so that a - b q0 (exact, from q0's h words) is about h - 2 words
    // below a, and q0 + y (a - b q0) is right to n words.
    THugeTempHolder inverse(*this);
    inverse->Assign(*divisor);
    inverse->SetView(h);
    inverse->Reciprocal();
    THugeTempHolder quotient(*this);
    quotient->Assign(*this);
    quotient->SetView(h);
    quotient->MultiplySameWidth(*inverse);
    if (inverse->FState != hsNormal || inverse->IsZero() || quotient->FState != hsNormal ||
        quotient->IsZero())
        return false;
    for (THugeFloatOper *widened : {&*inverse, &*quotient}) {
        widened->SetView(n);
        std::memset(widened->FMantissa, 0, sizeof(uint32_t) * (n - h));
    }
    switch (ExactResidual(*this, *divisor, *quotient, *this, FWorkBuffer, h)) {
    case TResidual::Inexact:
        return false;
    case TResidual::Zero:
        Assign(*quotient);
        return true;
    case TResidual::Exact:
        MultiplyCorrection(*inverse, quotient->FExponent);
        Add(*quotient);
        return true;
    }
    return false;
}

void THugeFloatOper::Divide(const THugeFloatBase &other) {
    const int h = FWordCount / 2 + 3;
    if (h < FWordCount && DivideFromShortInverse(other, h))
        return;
    THugeTempHolder inverse(*this);
    inverse->Assign(other);
    inverse->Reciprocal();
    if (FState != hsNormal || IsZero() || inverse->FState != hsNormal || inverse->IsZero()) {
        MultiplySameWidth(*inverse);
        return;
    }
    // q = a (1 / b) alone is short of the last word when 1 / b has a small
    // top word and q a large one; q + (a - b q) / b, with the residual taken
    // from the exact product, is not.
    THugeTempHolder quotient(*this);
    quotient->Assign(*this);
    quotient->MultiplySameWidth(*inverse);
    if (quotient->FState != hsNormal || quotient->IsZero()) {
        Assign(*quotient);
        return;
    }
    TResidual residual;
    if (other.FWordCount == FWordCount) {
        residual = ExactResidual(*this, other, *quotient, *this, FWorkBuffer);
    } else {
        THugeTempHolder divisor(*this);
        divisor->Assign(other);
        residual = ExactResidual(*this, *divisor, *quotient, *this, FWorkBuffer);
    }
    if (residual == TResidual::Exact) {
        MultiplyCorrection(*inverse, quotient->FExponent);
        Add(*quotient);
    } else {
        Assign(*quotient);
    }
}

void THugeFloatOper::DivideRev(const THugeFloatBase &other) {
    if (&other == this) {
        if (FState != hsNormal)
            SetNaN();
        else
            SetInteger(1);
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
