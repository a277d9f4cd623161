// Elementary functions of the arbitrary-precision numbers at the full precision
// of the argument: square root, logarithm and arc tangent by Newton's method
// with doubling working width, sine, cosine and exponential by Taylor series
// after argument reduction. All work in place (Self := f(Self)).
#pragma once

#include "HugeOper.h"

class THugeFloatMath : public THugeFloatOper {
public:
    explicit THugeFloatMath(int precision);
    THugeFloatMath(int precision, int32_t value);
    THugeFloatMath(const THugeFloatMath &source);
    DECLARE_CLASS_NAME(THugeFloatMath)

    virtual THugeFloatBase *GetThree();
    virtual THugeFloatMath *GetMathTemp();
    virtual void ReleaseMathTemp(THugeFloatMath *value);
    // How many more scratch values GetMathTemp can hand out now (a pool's free places; without
    // a pool, as many as asked for). The series take more of them where more are free.
    virtual int FreeMathTemps() const { return 1 << 16; }

    void MultiplyPowerOfTwo(int32_t power);
    void Sqrt();
    void Sin();
    void Cos();
    void ArcTan();
    // The angle of the point (x, Self).
    void ArcTan2(const THugeFloatBase &x);
    void ArcSin();
    void ArcCos();
    void Ln();
    void Exp();
    // e^Self - 1 with the relative precision of Self for small |Self|, where Exp followed by a
    // subtraction of 1 would keep only the words of 1 + Self.
    void ExpMinusOne();
    // ln(1 + Self) with the relative precision of Self for 0 < |Self| < 1/2, where Ln of 1 + Self
    // would keep only the words of 1 + Self; beyond, Ln of 1 + Self.
    void LnOnePlus();
    // 0 < |Self| < 1/2: the range in which ExpMinusOne and LnOnePlus sum their own series.
    bool IsBelowHalf() const;

protected:
    THugeFloatMath(int precision, SharedBuffer tag);
    // Self (> 0) := r with Self = q pi/2 + r and |r| <= about pi/4; gives q
    // mod 4.
    int ReduceQuadrant();
    // sin and cos of a reduced argument (|Self| <= about pi/4).
    void SinOfReduced();
    void CosOfReduced();
    // x := 1 - x, exactly before the truncation to x's words.
    void OneMinus(THugeFloatMath &x);
    // Sums the alternating series of sine or cosine into Self, which holds its first term t;
    // term holds t too. The terms are t, -t x2 / (k (k + 1)), t x2^2 / (k (k + 1) (k + 2) (k + 3)),
    // and so on.
    void SumSeries(const THugeFloatMath &x2, THugeFloatMath &term, uint32_t k);
};

class THugeFloat : public THugeFloatMath {
public:
    using THugeFloatMath::THugeFloatMath;
    DECLARE_CLASS_NAME(THugeFloat)
};

class THugeMathTempHolder {
public:
    explicit THugeMathTempHolder(THugeFloatMath &owner) : FOwner(owner), FValue(owner.GetMathTemp()) {}
    THugeMathTempHolder(const THugeMathTempHolder &) = delete;
    THugeMathTempHolder &operator=(const THugeMathTempHolder &) = delete;
    ~THugeMathTempHolder() { FOwner.ReleaseMathTemp(FValue); }
    THugeFloatMath &operator*() const { return *FValue; }
    THugeFloatMath *operator->() const { return FValue; }

private:
    THugeFloatMath &FOwner;
    THugeFloatMath *FValue;
};
