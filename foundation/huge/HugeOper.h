// Arithmetic of the arbitrary-precision numbers: the four operations, squaring,
// the reciprocal and scaling by two. Every operation works in place (Self is
// replaced by the result) and truncates to Self's word count unless stated.
#pragma once

#include "HugeBase.h"

class THugeFloatOper : public THugeFloatBase {
public:
    explicit THugeFloatOper(int precision);
    THugeFloatOper(int precision, int32_t value);
    THugeFloatOper(const THugeFloatOper &source);
    ~THugeFloatOper() override;
    DECLARE_CLASS_NAME(THugeFloatOper)

    void AllocMantissa() override;
    void FreeMantissa() override;
    virtual void AllocWorkBuffer();
    virtual void FreeWorkBuffer();
    // Scratch values for the algorithms: constants 1 and 2 and temporaries of
    // this precision and the current word count. Released in reverse order.
    virtual THugeFloatBase *GetOne();
    virtual THugeFloatBase *GetTwo();
    virtual THugeFloatOper *GetTemp();
    virtual void ReleaseConstant(THugeFloatBase *value);
    virtual void ReleaseTemp(THugeFloatOper *value);

    void Add(const THugeFloatBase &other);
    void Subtract(const THugeFloatBase &other);
    void SubtractRev(const THugeFloatBase &other);
    void Multiply(const THugeFloatBase &other);
    void AddMixed(const THugeFloatBase &other);
    void SubtractMixed(const THugeFloatBase &other);
    void SubtractRevMixed(const THugeFloatBase &other);
    void MultiplyMixed(const THugeFloatBase &other);
    void Square();
    void Reciprocal();
    void Divide(const THugeFloatBase &other);
    void DivideRev(const THugeFloatBase &other);
    void Negate() { FSign = !FSign; }
    void MultiplyByTwo();
    void DivideByTwo();

    uint32_t *FWorkBuffer = nullptr; // 2n + 2 words for products, then the Karatsuba scratch words

    // Words of a product of two numbers of `words` words, with two spare words.
    static int ProductWords(int words) { return 2 * words + 2; }
    // Work buffer words a number of `words` words needs.
    static int WorkBufferWords(int words);

    enum class TResidual { Exact, Zero, Inexact };
    // difference := a - b computed exactly and then truncated to its words,
    // where Subtract would first drop the words of the operand with the
    // smaller exponent that fall below the other's last word (one word of a
    // result like 1 - s with s < 1). Same word count, both normal; the
    // difference may be a or b. Inexact (nothing done) when the signs differ,
    // an operand is 0 or the exponents are too far apart to cancel.
    // With `round`, the difference is rounded half up instead of truncated
    // (a long series then does not drift by half a unit per term).
    static TResidual ExactDifference(const THugeFloatBase &a, const THugeFloatBase &b,
                                     THugeFloatBase &difference, uint32_t *buffer, bool round = false);

protected:
    struct SharedBuffer {};
    // For numbers that borrow a work buffer instead of owning one.
    THugeFloatOper(int precision, SharedBuffer);
    void AddMagnitude(const THugeFloatBase &other);
    void SubtractMagnitude(const THugeFloatBase &other);
    // An exponent beyond the range makes Self infinite or zero (true); within it nothing changes.
    bool SetIfOutOfRange(int64_t exponent, bool negative);
    void MultiplySameWidth(const THugeFloatBase &other);
    // Self := dividend / divisor, both of Self's word count, normal and not 0 (either may be Self).
    void DivideNormal(const THugeFloatBase &dividend, const THugeFloatBase &divisor);
    // Self := Self * factor (same word count), where Self is a correction
    // to be added to a number whose top word has the exponent `target`: only
    // the top words that reach down to that number's last word, and two
    // guard words, are multiplied; the words below them become 0.
    void MultiplyCorrection(const THugeFloatBase &factor, int32_t target);
    // Self := Self / divisor (0 < divisor < 2^31) in the same way: only the top words that reach
    // down to the last word of a number whose top word has the exponent `target`, and two guard
    // words, are divided; the words below them become 0.
    void DivideCorrection(int32_t divisor, int32_t target);

    bool FOwnsWorkBuffer = false;
};

// Holds a scratch value of an algorithm and gives it back when it goes out of
// scope, so that scratch values are released in reverse order of taking.
class THugeTempHolder {
public:
    explicit THugeTempHolder(THugeFloatOper &owner) : FOwner(owner), FValue(owner.GetTemp()) {}
    THugeTempHolder(const THugeTempHolder &) = delete;
    THugeTempHolder &operator=(const THugeTempHolder &) = delete;
    ~THugeTempHolder() { FOwner.ReleaseTemp(FValue); }
    THugeFloatOper &operator*() const { return *FValue; }
    THugeFloatOper *operator->() const { return FValue; }

private:
    THugeFloatOper &FOwner;
    THugeFloatOper *FValue;
};

class THugeConstHolder {
public:
    THugeConstHolder(THugeFloatOper &owner, THugeFloatBase *value) : FOwner(owner), FValue(value) {}
    THugeConstHolder(const THugeConstHolder &) = delete;
    THugeConstHolder &operator=(const THugeConstHolder &) = delete;
    ~THugeConstHolder() { FOwner.ReleaseConstant(FValue); }
    THugeFloatBase &operator*() const { return *FValue; }
    THugeFloatBase *operator->() const { return FValue; }

private:
    THugeFloatOper &FOwner;
    THugeFloatBase *FValue;
};

// Scratch words of an operation: on the stack up to a size that covers the usual precisions, on
// the heap beyond it.
class THugeScratchWords {
public:
    explicit THugeScratchWords(int words) : FWords(FLocal) {
        if (words > LocalWords)
            FWords = FHeap = new uint32_t[words];
    }
    THugeScratchWords(const THugeScratchWords &) = delete;
    THugeScratchWords &operator=(const THugeScratchWords &) = delete;
    ~THugeScratchWords() { delete[] FHeap; }
    uint32_t *Words() const { return FWords; }

private:
    static constexpr int LocalWords = 1024;
    uint32_t FLocal[LocalWords];
    uint32_t *FWords;
    uint32_t *FHeap = nullptr;
};

// Word kernels (exposed for the benchmark and the tests).
namespace HugeKernel {
// Columns from .. 2n-1 of the product a * b (n words each) into
// out[0 .. 2n-1-from]; the columns below `from` are left out entirely (with
// from = 0 the product is exact).
void MultiplyColumns(const uint32_t *a, const uint32_t *b, int n, int from, uint32_t *out);
// The same for a * a, each cross product formed once and doubled.
void SquareColumns(const uint32_t *a, int n, int from, uint32_t *out);
// The same in plain C++; on x86 the two above run the loops of HugeKernels.S.
void MultiplyColumnsPortable(const uint32_t *a, const uint32_t *b, int n, int from, uint32_t *out);
void SquareColumnsPortable(const uint32_t *a, int n, int from, uint32_t *out);
// Karatsuba's method splits products from KaratsubaBaseWords words on and squares from
// KaratsubaSquareBaseWords on (the column kernels below); MultiplyTop and SquareTop take it from
// KaratsubaTopWords and KaratsubaSquareTopWords words on, where one whole product costs less than
// the columns of the top half. Measured with bench/native/build.sh --x86-64 (its kernel table).
constexpr int KaratsubaBaseWords = 32;
constexpr int KaratsubaSquareBaseWords = 48;
constexpr int KaratsubaTopWords = 256;
constexpr int KaratsubaSquareTopWords = 1024;
// Scratch words the Karatsuba products of n words need.
int KaratsubaScratchWords(int n);
// The exact product a * b (a * a) of n words each into out[0 .. 2n-1].
void MultiplyKaratsuba(const uint32_t *a, const uint32_t *b, int n, uint32_t *out, uint32_t *scratch);
void SquareKaratsuba(const uint32_t *a, int n, uint32_t *out, uint32_t *scratch);
// The exact top n + 1 words (columns n-1 .. 2n-1) of a * b, resp. a * a,
// into out[0..n]; out has room for 2n words. A short product leaves out the
// columns below n-3 and computes them only when the carry they could send up
// might reach column n-1. With scratch (KaratsubaScratchWords(n) words) and
// n of KaratsubaTopWords (KaratsubaSquareTopWords) or more, the whole product is
// formed by Karatsuba's method.
void MultiplyTop(const uint32_t *a, const uint32_t *b, int n, uint32_t *out, uint32_t *scratch = nullptr);
void SquareTop(const uint32_t *a, int n, uint32_t *out, uint32_t *scratch = nullptr);
// Columns from .. to of the product a * b (na and nb words) into out[0 .. to-from], and the carry
// out of column `to` into out[to-from+1] (the product's top word when `to` is its last column,
// na + nb - 2); the columns below `from` are left out, their carries with them (except for
// products of a few words, which are formed whole).
void ProductColumns(const uint32_t *a, int na, const uint32_t *b, int nb, int from, int to, uint32_t *out);

// Quotients and roots of mantissas (n >= 2 words, top word not 0), by Newton's method from the
// 80-bit estimate with doubling widths, each round's products only as wide as the round.
// Scratch words the three routines below need.
int QuotientScratchWords(int n);
// x := B^(2n-1) / a within a few units (B = 2^32), for an a other than B^(n-1), whose reciprocal
// B^n does not fit (all ones then).
void ReciprocalWords(const uint32_t *a, int n, uint32_t *x, uint32_t *scratch);
// q := a B^(n-1) / b, or a B^n / b when a < b (then true), within a few units: n words with the
// top word not 0. Up to LongDivisionWords words by long division (exact, truncated), beyond from
// a reciprocal of half the width and one exact residual.
constexpr int LongDivisionWords = 16;
bool QuotientWords(const uint32_t *a, const uint32_t *b, int n, uint32_t *q, uint32_t *scratch);
// root := sqrt(a B^(n-1+r)) within a few units, r 0 or 1: n words with the top word not 0. From
// an inverse root of half the width and one exact residual.
void RootWords(const uint32_t *a, int n, int r, uint32_t *root, uint32_t *scratch);
} // namespace HugeKernel
