#include "CompDefinitions.h"

#include <cstring>
#include <limits>

namespace {

const char *const FunctionNames[LastUserFunctionId + 1] = {
    "sin",  "sinh",  "asin",  "asinh",  "cos",   "cosh", "acos",  "acosh", "tan",  "tanh",
    "atan", "atanh", "cotan", "cotanh", "sqr",   "sqrt", "log",   "exp",   "abs",  "cabs",
    "conj", "flip",  "ident", "zero",   "recip", "ceil", "floor", "trunc", "round"};

const char *const MergeNames[LastMergeId - FirstMergeId + 1] = {
    "normal",      "multiply",    "screen", "overlay",    "softlight", "hardlight", "darken",
    "lighten",     "difference",  "hue",    "saturation", "color",     "luminance", "addition",
    "subtraction", "hsladdition", "red",    "green",      "blue"};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsSign(char c) {
    return c == '+' || c == '-';
}

// A number text split into its parts: Value = (-1)^Negative * 0.Digits * 10^Exponent, Digits
// without leading or trailing zeros (empty for zero).
struct TDecimalParts {
    bool Negative = false;
    std::string Digits;
    long long Exponent = 0;
};

// Accepts what IsValidFloatText accepts, and such a text behind one more sign.
TDecimalParts SplitFloatText(const std::string &Text) {
    std::size_t start = 0;
    bool negative = false;
    if (Text.size() >= 2 && IsSign(Text[0]) && IsSign(Text[1])) {
        negative = Text[0] == '-';
        start = 1;
    }
    if (!IsValidFloatText(Text.substr(start)))
        throw EConvertError("'%s' is not a valid floating point value", Text);
    TDecimalParts parts;
    std::size_t i = start;
    if (IsSign(Text[i]))
        negative ^= Text[i++] == '-';
    parts.Negative = negative;
    long long pointShift = 0; // digits kept before the point
    bool seenPoint = false;
    for (; i < Text.size() && (IsDigit(Text[i]) || Text[i] == '.'); ++i) {
        char c = Text[i];
        if (c == '.') {
            seenPoint = true;
            continue;
        }
        if (parts.Digits.empty() && c == '0') {
            if (seenPoint)
                --pointShift;
            continue;
        }
        parts.Digits.push_back(c);
        if (!seenPoint)
            ++pointShift;
    }
    long long exponent = 0;
    if (i < Text.size()) { // 'E' or 'e', the syntax is checked already
        ++i;
        bool expNegative = false;
        if (IsSign(Text[i]))
            expNegative = Text[i++] == '-';
        for (; i < Text.size(); ++i)
            if (exponent < 1000000000LL) // far beyond any finite non-zero value of every format
                exponent = exponent * 10 + (Text[i] - '0');
        if (expNegative)
            exponent = -exponent;
    }
    while (!parts.Digits.empty() && parts.Digits.back() == '0')
        parts.Digits.pop_back();
    parts.Exponent = parts.Digits.empty() ? 0 : exponent + pointShift;
    return parts;
}

// "0.<digits>E<exponent>", which the class library converts with correct rounding.
std::string NormalText(const TDecimalParts &Parts) {
    return std::string(Parts.Negative ? "-" : "") + "0." + Parts.Digits + "E" +
           std::to_string(Parts.Exponent);
}

template <class T> T SignedZero(bool Negative) {
    return Negative ? -T(0) : T(0);
}

template <class T> T SignedInfinity(bool Negative) {
    return Negative ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
}

// Bounds of the decimal exponent beyond which no format of the program holds a finite non-zero
// value; they keep the text conversions from working on absurd exponents.
constexpr long long OverflowExponent = 40000;
constexpr long long UnderflowExponent = -40000;

template <class T> T ConvertFloatText(const std::string &Text) {
    TDecimalParts parts = SplitFloatText(Text);
    if (parts.Digits.empty() || parts.Exponent < UnderflowExponent)
        return SignedZero<T>(parts.Negative);
    if (parts.Exponent > OverflowExponent)
        return SignedInfinity<T>(parts.Negative);
    T value;
    // Valid syntax fails only by overflow; values too small become 0 or a denormal.
    if (!TryStrToFloat(NormalText(parts), value))
        return SignedInfinity<T>(parts.Negative);
    return value;
}

bool SameBytes(const void *A, const void *B, std::size_t Size) {
    return std::memcmp(A, B, Size) == 0;
}

// The 80-bit format's significant bytes (the rest of a long double is padding).
constexpr std::size_t ExtendedBytes = 10;

} // namespace

// ---------------------------------------------------------------------------------------------
// Names

std::string FunctionIdToName(int Id) {
    if (Id >= FirstUserFunctionId && Id <= LastUserFunctionId)
        return FunctionNames[Id];
    if (Id >= FirstMergeId && Id <= LastMergeId)
        return MergeNames[Id - FirstMergeId];
    return std::string();
}

int FunctionNameToId(const std::string &Name) {
    for (int i = FirstUserFunctionId; i <= LastUserFunctionId; ++i)
        if (Name == FunctionNames[i])
            return i;
    for (int i = FirstMergeId; i <= LastMergeId; ++i)
        if (Name == MergeNames[i - FirstMergeId])
            return i;
    return UnknownFunctionId;
}

// ---------------------------------------------------------------------------------------------
// Number text

bool IsValidFloatText(const std::string &Text) {
    std::size_t i = 0, n = Text.size();
    if (i < n && IsSign(Text[i]))
        ++i;
    std::size_t digitsBefore = 0;
    while (i < n && IsDigit(Text[i]))
        ++i, ++digitsBefore;
    bool point = false;
    if (i < n && Text[i] == '.') {
        point = true;
        ++i;
        while (i < n && IsDigit(Text[i]))
            ++i;
    }
    if (digitsBefore == 0 && !point)
        return false;
    if (i < n && (Text[i] == 'E' || Text[i] == 'e')) {
        ++i;
        if (i < n && IsSign(Text[i]))
            ++i;
        std::size_t expDigits = 0;
        while (i < n && IsDigit(Text[i]))
            ++i, ++expDigits;
        if (expDigits == 0)
            return false;
    }
    return i == n;
}

long double FloatTextToExtended(const std::string &Text) {
    return ConvertFloatText<long double>(Text);
}

double FloatTextToDouble(const std::string &Text) {
    return ConvertFloatText<double>(Text);
}

void FloatTextToHuge(const std::string &Text, THugeFloatBase &Value) {
    TDecimalParts parts = SplitFloatText(Text);
    if (parts.Digits.empty()) {
        Value.SetZero(parts.Negative);
        return;
    }
    if (parts.Exponent > OverflowExponent) {
        Value.SetInfinite(parts.Negative);
        return;
    }
    if (parts.Exponent < UnderflowExponent) {
        Value.SetZero(parts.Negative);
        return;
    }
    // Digits far below the number's precision cannot change its words; dropping them keeps the
    // digit-by-digit conversion short for very long texts.
    std::size_t keep = static_cast<std::size_t>(Value.FPrecision) + 40;
    if (parts.Digits.size() > keep)
        parts.Digits.resize(keep);
    std::string text = std::string(parts.Negative ? "-" : "") + parts.Digits.substr(0, 1) + "." +
                       parts.Digits.substr(1) + "e" + std::to_string(parts.Exponent - 1);
    Value.SetText(text);
}

// ---------------------------------------------------------------------------------------------
// THugeComplex

THugeComplex::THugeComplex(int Digits) : Re(Digits), Im(Digits) {}

void THugeComplex::Assign(const THugeComplex &Other) {
    Re.Assign(Other.Re);
    Im.Assign(Other.Im);
}

void InitHugeContextValues(void *Context, int Digits) {
    static_assert(sizeof(THugeFloat *) == 4, "the pixel context holds 32-bit handles");
    auto *slots = reinterpret_cast<THugeFloat **>(static_cast<unsigned char *>(Context) + HugeContextOffset);
    for (int i = 0; i < HugeContextCount; ++i)
        slots[i] = nullptr;
    try {
        for (int i = 0; i < HugeContextCount; ++i)
            slots[i] = new THugeFloat(Digits);
    } catch (...) {
        DoneHugeContextValues(Context);
        throw;
    }
}

void DoneHugeContextValues(void *Context) {
    auto *slots = reinterpret_cast<THugeFloat **>(static_cast<unsigned char *>(Context) + HugeContextOffset);
    for (int i = 0; i < HugeContextCount; ++i) {
        delete slots[i];
        slots[i] = nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Literals

void TBoolLiteral::GetText(std::string &Text) const {
    Text = Value ? "True" : "False";
}

void TBoolLiteral::SetText(const std::string &Text) {
    if (SameText(Text, "True"))
        Value = true;
    else if (SameText(Text, "False"))
        Value = false;
    else
        throw ELiteralError("TBoolLiteral.SetText: Invalid value");
}

std::unique_ptr<TLiteral> TBoolLiteral::Clone() const {
    return std::make_unique<TBoolLiteral>(Value);
}

void TBoolLiteral::Invert() {
    throw ELiteralError("TBoolLiteral.Invert: Invalid operation");
}

void TIntLiteral::GetText(std::string &Text) const {
    Text = IntToStr(Value);
}

void TIntLiteral::SetText(const std::string &Text) {
    std::int32_t value;
    if (!TryStrToInt(Text, value))
        throw ELiteralError("TIntLiteral.SetText: Invalid value");
    Value = value;
}

std::unique_ptr<TLiteral> TIntLiteral::Clone() const {
    return std::make_unique<TIntLiteral>(Value);
}

void TIntLiteral::Invert() {
    Value = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(Value));
}

TFloatLiteral::TFloatLiteral(const std::string &Text) : TFloatLiteral() {
    SetText(Text);
}

void TFloatLiteral::SetText(const std::string &Text) {
    if (!IsValidFloatText(Text))
        throw ELiteralError("TFloatLiteral.SetText: Invalid value");
    FText = Text;
}

std::unique_ptr<TLiteral> TFloatLiteral::Clone() const {
    auto copy = std::make_unique<TFloatLiteral>();
    copy->FText = FText;
    return copy;
}

void TFloatLiteral::Invert() {
    if (FText.empty())
        return;
    if (FText[0] == '-')
        FText.erase(0, 1);
    else
        FText.insert(0, 1, '-');
}

TComplexLiteral::TComplexLiteral(const std::string &ReText, const std::string &ImText) : TComplexLiteral() {
    Re.SetText(ReText);
    Im.SetText(ImText);
}

void TComplexLiteral::GetText(std::string &Text) const {
    Text = "(" + Re.FText + "," + Im.FText + ")";
}

void TComplexLiteral::SetText(const std::string &Text) {
    std::string reText, imText;
    if (Text.empty()) {
        throw ELiteralError("TComplexLiteral.SetText: Invalid value");
    } else if (Text.front() == '(') {
        std::size_t comma = Text.find(',');
        if (Text.back() != ')' || comma == std::string::npos || Text.size() < 2)
            throw ELiteralError("TComplexLiteral.SetText: Invalid value");
        reText = Trim(Text.substr(1, comma - 1));
        imText = Trim(Text.substr(comma + 1, Text.size() - comma - 2));
    } else if (Text.back() == 'i' || Text.back() == 'I') {
        reText = "0";
        imText = Text.substr(0, Text.size() - 1);
    } else {
        reText = Text;
        imText = "0";
    }
    // Both parts are checked before either changes, so a refused text leaves the literal whole.
    if (!IsValidFloatText(reText) || !IsValidFloatText(imText))
        throw ELiteralError("TComplexLiteral.SetText: Invalid value");
    Re.FText = reText;
    Im.FText = imText;
}

std::unique_ptr<TLiteral> TComplexLiteral::Clone() const {
    auto copy = std::make_unique<TComplexLiteral>();
    copy->Re.FText = Re.FText;
    copy->Im.FText = Im.FText;
    return copy;
}

void TComplexLiteral::Invert() {
    Re.Invert();
    Im.Invert();
}

// ---------------------------------------------------------------------------------------------
// Constants

std::unique_ptr<TConstant> TBoolConstant::Clone() const {
    return std::make_unique<TBoolConstant>(Value);
}

bool TBoolConstant::Equals(const TConstant &Other) const {
    auto other = dynamic_cast<const TBoolConstant *>(&Other);
    return other && other->Value == Value;
}

std::unique_ptr<TConstant> TIntConstant::Clone() const {
    return std::make_unique<TIntConstant>(Value);
}

bool TIntConstant::Equals(const TConstant &Other) const {
    auto other = dynamic_cast<const TIntConstant *>(&Other);
    return other && other->Value == Value;
}

std::unique_ptr<TConstant> TColorConstant::Clone() const {
    return std::make_unique<TColorConstant>(Red, Green, Blue, Alpha);
}

bool TColorConstant::Equals(const TConstant &Other) const {
    auto other = dynamic_cast<const TColorConstant *>(&Other);
    return other && other->Red == Red && other->Green == Green && other->Blue == Blue &&
           other->Alpha == Alpha;
}

std::unique_ptr<TConstant> TDoubleFloatConstant::Clone() const {
    return std::make_unique<TDoubleFloatConstant>(Value);
}

bool TDoubleFloatConstant::Equals(const TConstant &Other) const {
    auto other = dynamic_cast<const TDoubleFloatConstant *>(&Other);
    return other && SameBytes(&other->Value, &Value, sizeof(double));
}

std::unique_ptr<TConstant> TExtendedFloatConstant::Clone() const {
    return std::make_unique<TExtendedFloatConstant>(Value);
}

bool TExtendedFloatConstant::Equals(const TConstant &Other) const {
    auto other = dynamic_cast<const TExtendedFloatConstant *>(&Other);
    return other && SameBytes(&other->Value, &Value, ExtendedBytes);
}

THugeFloatConstant::THugeFloatConstant(int Digits, const THugeFloatBase &AValue)
    : THugeFloatConstant(Digits) {
    Value.Assign(AValue);
}

std::unique_ptr<TConstant> THugeFloatConstant::Clone() const {
    return std::make_unique<THugeFloatConstant>(Value.FPrecision, Value);
}

bool THugeFloatConstant::Equals(const TConstant &Other) const {
    auto other = dynamic_cast<const THugeFloatConstant *>(&Other);
    return other && Value.Equals(other->Value);
}

std::unique_ptr<TConstant> TDoubleComplexConstant::Clone() const {
    return std::make_unique<TDoubleComplexConstant>(Re, Im);
}

bool TDoubleComplexConstant::Equals(const TConstant &Other) const {
    auto other = dynamic_cast<const TDoubleComplexConstant *>(&Other);
    return other && SameBytes(&other->Re, &Re, sizeof(double)) && SameBytes(&other->Im, &Im, sizeof(double));
}

std::unique_ptr<TConstant> TExtendedComplexConstant::Clone() const {
    return std::make_unique<TExtendedComplexConstant>(Re, Im);
}

bool TExtendedComplexConstant::Equals(const TConstant &Other) const {
    auto other = dynamic_cast<const TExtendedComplexConstant *>(&Other);
    return other && SameBytes(&other->Re, &Re, ExtendedBytes) && SameBytes(&other->Im, &Im, ExtendedBytes);
}

THugeComplexConstant::THugeComplexConstant(int Digits, const THugeComplex &AValue)
    : THugeComplexConstant(Digits) {
    Value.Assign(AValue);
}

std::unique_ptr<TConstant> THugeComplexConstant::Clone() const {
    return std::make_unique<THugeComplexConstant>(Value.Re.FPrecision, Value);
}

bool THugeComplexConstant::Equals(const TConstant &Other) const {
    auto other = dynamic_cast<const THugeComplexConstant *>(&Other);
    return other && Value.Re.Equals(other->Value.Re) && Value.Im.Equals(other->Value.Im);
}
