// Small value types shared by the compiler stages and the fractal model: value type and precision
// codes, source positions, the names of selectable functions and merge modes, the
// arbitrary-precision complex number, the literals the tokenizer makes from formula text and the
// typed constants a compiled formula keeps in its data.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CompPixelContext.h"
#include "HugeMath.h"
#include "SysUtils.h"

// ---------------------------------------------------------------------------------------------
// Codes

// Value types of literals, constants, parameters and expressions.
constexpr std::uint8_t vtComplex = 0;
constexpr std::uint8_t vtFloat = 1;
constexpr std::uint8_t vtInteger = 2;
constexpr std::uint8_t vtBoolean = 3;
constexpr std::uint8_t vtArray = 4;
constexpr std::uint8_t vtString = 5;
constexpr std::uint8_t vtColor = 6;
constexpr std::uint8_t vtFunction = 7;      // parameters only
constexpr std::uint8_t vtColorFunction = 8; // parameters only
constexpr std::uint8_t vtHeading = 9;       // parameters only
constexpr std::uint8_t vtNone = 10;         // no value (the result of print)

// Precision of float and complex values.
constexpr std::uint8_t pmDouble = 0;
constexpr std::uint8_t pmExtended = 1;
constexpr std::uint8_t pmArbitrary = 2;

// Where a token or expression starts in the formula file, both counted from 0.
struct TCompilePosition {
    std::int32_t Line = 0;
    std::int32_t Column = 0;
    friend bool operator==(const TCompilePosition &, const TCompilePosition &) = default;
};

// ---------------------------------------------------------------------------------------------
// Exceptions

// Faults of the compiler itself, never of the formula text.
DECLARE_EXCEPTION(EInternalCompilerError, Exception);
// A literal refused a text or an operation.
DECLARE_EXCEPTION(ELiteralError, EInternalCompilerError);

// ---------------------------------------------------------------------------------------------
// Function and merge-mode names

constexpr int FirstUserFunctionId = 0; // sin
constexpr int LastUserFunctionId = 28; // round
constexpr int FirstMergeId = 49;       // normal
constexpr int LastMergeId = 67;        // blue
constexpr int UnknownFunctionId = 76;

// The lower-case name of a selectable function (0..28) or merge mode (49..67); empty otherwise.
std::string FunctionIdToName(int Id);
// The id of a lower-case name (compared exactly), functions first; UnknownFunctionId otherwise.
int FunctionNameToId(const std::string &Name);

// ---------------------------------------------------------------------------------------------
// Decimal number text

// An optional sign; digits, optionally '.' and more digits, or '.' and optional digits; then
// optionally 'E' or 'e', an optional sign and at least one digit; nothing else.
bool IsValidFloatText(const std::string &Text);

// Conversions of number text that never fail for any text IsValidFloatText accepts (and for such
// a text behind one more sign, as an inverted literal may be): missing digits count as 0, values
// beyond the target's range become a signed infinity and values too small for it 0. Any other
// text raises EConvertError "'%s' is not a valid floating point value".
long double FloatTextToExtended(const std::string &Text);
double FloatTextToDouble(const std::string &Text);
// Sets Value (keeping its precision) to the number.
void FloatTextToHuge(const std::string &Text, THugeFloatBase &Value);

// ---------------------------------------------------------------------------------------------
// Arbitrary-precision complex number

class THugeComplex : public TObject {
public:
    explicit THugeComplex(int Digits);
    THugeComplex(const THugeComplex &) = delete;
    THugeComplex &operator=(const THugeComplex &) = delete;
    DECLARE_CLASS_NAME(THugeComplex)

    // Copies both parts.
    void Assign(const THugeComplex &Other);

    THugeFloat Re;
    THugeFloat Im;
};

// The 20 arbitrary-precision numbers of a pixel context: their handles live in consecutive 4-byte
// slots from the mapping's centre (0xA0) to INDEX (0xEC), which ends the 240-byte context. Init
// creates them with Digits digits (on failure nothing stays allocated); Done frees them and clears
// the slots (empty slots are skipped).
constexpr int HugeContextOffset = PC_PRECISION_PART;
constexpr int HugeContextCount = ContextHugeCount;
static_assert(HugeContextCount == 20);
void InitHugeContextValues(void *Context, int Digits);
void DoneHugeContextValues(void *Context);

// ---------------------------------------------------------------------------------------------
// Literals: numbers and booleans as written in formula text

class TLiteral : public TObject {
public:
    TLiteral(const TLiteral &) = delete;
    TLiteral &operator=(const TLiteral &) = delete;
    DECLARE_CLASS_NAME(TLiteral)

    virtual void GetText(std::string &Text) const = 0;
    std::string GetText() const {
        std::string text;
        GetText(text);
        return text;
    }
    // Raises ELiteralError "<class>.SetText: Invalid value" for a text the literal refuses; the
    // literal is unchanged then.
    virtual void SetText(const std::string &Text) = 0;
    virtual std::unique_ptr<TLiteral> Clone() const = 0;
    // Negates the value.
    virtual void Invert() = 0;

    const std::uint8_t Type;

protected:
    explicit TLiteral(std::uint8_t AType) : Type(AType) {}
};

class TBoolLiteral : public TLiteral {
public:
    explicit TBoolLiteral(bool AValue = false) : TLiteral(vtBoolean), Value(AValue) {}
    DECLARE_CLASS_NAME(TBoolLiteral)
    using TLiteral::GetText;
    void GetText(std::string &Text) const override; // "True" or "False"
    void SetText(const std::string &Text) override; // "True" or "False", case ignored
    std::unique_ptr<TLiteral> Clone() const override;
    // Refused: ELiteralError "TBoolLiteral.Invert: Invalid operation".
    void Invert() override;

    bool Value;
};

class TIntLiteral : public TLiteral {
public:
    explicit TIntLiteral(std::int32_t AValue = 0) : TLiteral(vtInteger), Value(AValue) {}
    DECLARE_CLASS_NAME(TIntLiteral)
    using TLiteral::GetText;
    void GetText(std::string &Text) const override;
    void SetText(const std::string &Text) override; // decimal, within 32 bits
    std::unique_ptr<TLiteral> Clone() const override;
    // Negates; the most negative value stays as it is (two's complement).
    void Invert() override;

    std::int32_t Value;
};

// A float kept exactly as written.
class TFloatLiteral : public TLiteral {
public:
    TFloatLiteral() : TLiteral(vtFloat), FText("0") {}
    explicit TFloatLiteral(const std::string &Text);
    DECLARE_CLASS_NAME(TFloatLiteral)
    using TLiteral::GetText;
    void GetText(std::string &Text) const override { Text = FText; }
    const std::string &Text() const { return FText; }
    void SetText(const std::string &Text) override; // what IsValidFloatText accepts
    std::unique_ptr<TLiteral> Clone() const override;
    // Adds a leading '-' or removes one; an empty text stays empty.
    void Invert() override;

    long double GetExtended() const { return FloatTextToExtended(FText); }
    double GetDouble() const { return FloatTextToDouble(FText); }
    void GetHuge(THugeFloatBase &Value) const { FloatTextToHuge(FText, Value); }

private:
    friend class TComplexLiteral;
    std::string FText;
};

class TComplexLiteral : public TLiteral {
public:
    TComplexLiteral() : TLiteral(vtComplex) {}
    TComplexLiteral(const std::string &ReText, const std::string &ImText);
    DECLARE_CLASS_NAME(TComplexLiteral)
    using TLiteral::GetText;
    // "(re,im)" without blanks.
    void GetText(std::string &Text) const override;
    // "(re, im)", "<im>i" (real part "0") or "<re>" (imaginary part "0").
    void SetText(const std::string &Text) override;
    std::unique_ptr<TLiteral> Clone() const override;
    void Invert() override; // both parts

    TFloatLiteral Re;
    TFloatLiteral Im;
};

// ---------------------------------------------------------------------------------------------
// Constants: typed values of a compiled formula

class TConstant : public TObject {
public:
    TConstant(const TConstant &) = delete;
    TConstant &operator=(const TConstant &) = delete;
    DECLARE_CLASS_NAME(TConstant)

    virtual std::unique_ptr<TConstant> Clone() const = 0;
    // Same type (and precision) and the same value; double and extended values compare by their
    // bytes, so 0 and -0 differ and equal NaN patterns are equal.
    virtual bool Equals(const TConstant &Other) const = 0;

    const std::uint8_t Type;

protected:
    explicit TConstant(std::uint8_t AType) : Type(AType) {}
};

class TBoolConstant : public TConstant {
public:
    explicit TBoolConstant(bool AValue) : TConstant(vtBoolean), Value(AValue) {}
    DECLARE_CLASS_NAME(TBoolConstant)
    std::unique_ptr<TConstant> Clone() const override;
    bool Equals(const TConstant &Other) const override;
    bool Value;
};

class TIntConstant : public TConstant {
public:
    explicit TIntConstant(std::int32_t AValue) : TConstant(vtInteger), Value(AValue) {}
    DECLARE_CLASS_NAME(TIntConstant)
    std::unique_ptr<TConstant> Clone() const override;
    bool Equals(const TConstant &Other) const override;
    std::int32_t Value;
};

class TColorConstant : public TConstant {
public:
    TColorConstant(float ARed, float AGreen, float ABlue, float AAlpha)
        : TConstant(vtColor), Red(ARed), Green(AGreen), Blue(ABlue), Alpha(AAlpha) {}
    DECLARE_CLASS_NAME(TColorConstant)
    std::unique_ptr<TConstant> Clone() const override;
    // The four values compare equal as numbers.
    bool Equals(const TConstant &Other) const override;
    float Red, Green, Blue, Alpha;
};

class TFloatConstant : public TConstant {
public:
    DECLARE_CLASS_NAME(TFloatConstant)
    const std::uint8_t Precision;

protected:
    explicit TFloatConstant(std::uint8_t APrecision) : TConstant(vtFloat), Precision(APrecision) {}
};

class TDoubleFloatConstant : public TFloatConstant {
public:
    explicit TDoubleFloatConstant(double AValue) : TFloatConstant(pmDouble), Value(AValue) {}
    DECLARE_CLASS_NAME(TDoubleFloatConstant)
    std::unique_ptr<TConstant> Clone() const override;
    bool Equals(const TConstant &Other) const override;
    double Value;
};

class TExtendedFloatConstant : public TFloatConstant {
public:
    explicit TExtendedFloatConstant(long double AValue) : TFloatConstant(pmExtended), Value(AValue) {}
    DECLARE_CLASS_NAME(TExtendedFloatConstant)
    std::unique_ptr<TConstant> Clone() const override;
    bool Equals(const TConstant &Other) const override;
    long double Value;
};

class THugeFloatConstant : public TFloatConstant {
public:
    // A zero of Digits digits.
    explicit THugeFloatConstant(int Digits) : TFloatConstant(pmArbitrary), Value(Digits) {}
    THugeFloatConstant(int Digits, const THugeFloatBase &AValue);
    DECLARE_CLASS_NAME(THugeFloatConstant)
    std::unique_ptr<TConstant> Clone() const override;
    bool Equals(const TConstant &Other) const override;
    THugeFloat Value;
};

class TComplexConstant : public TConstant {
public:
    DECLARE_CLASS_NAME(TComplexConstant)
    const std::uint8_t Precision;

protected:
    explicit TComplexConstant(std::uint8_t APrecision) : TConstant(vtComplex), Precision(APrecision) {}
};

class TDoubleComplexConstant : public TComplexConstant {
public:
    TDoubleComplexConstant(double ARe, double AIm) : TComplexConstant(pmDouble), Re(ARe), Im(AIm) {}
    DECLARE_CLASS_NAME(TDoubleComplexConstant)
    std::unique_ptr<TConstant> Clone() const override;
    bool Equals(const TConstant &Other) const override;
    double Re, Im;
};

class TExtendedComplexConstant : public TComplexConstant {
public:
    TExtendedComplexConstant(long double ARe, long double AIm)
        : TComplexConstant(pmExtended), Re(ARe), Im(AIm) {}
    DECLARE_CLASS_NAME(TExtendedComplexConstant)
    std::unique_ptr<TConstant> Clone() const override;
    bool Equals(const TConstant &Other) const override;
    long double Re, Im;
};

class THugeComplexConstant : public TComplexConstant {
public:
    // Zero parts of Digits digits.
    explicit THugeComplexConstant(int Digits) : TComplexConstant(pmArbitrary), Value(Digits) {}
    THugeComplexConstant(int Digits, const THugeComplex &AValue);
    DECLARE_CLASS_NAME(THugeComplexConstant)
    std::unique_ptr<TConstant> Clone() const override;
    bool Equals(const TConstant &Other) const override;
    THugeComplex Value;
};
