// Core of the class library: the base object, the exception classes, Format, locale-free text
// conversions, dates and file-name helpers.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <type_traits>
#include <utility>

// Base of every class whose name matters at run time (registry keys, reports).
class TObject {
public:
    virtual ~TObject() = default;
    virtual const char *ClassName() const { return "TObject"; }
};

// Declares ClassName() in a class body with the class's own spelling.
#define DECLARE_CLASS_NAME(Name)                                                                             \
    const char *ClassName() const override {                                                                 \
        return #Name;                                                                                        \
    }

namespace classlib_detail {
std::string FormatVA(const char *fmt, ...) __attribute__((format(gnu_printf, 1, 2)));
template <class T> decltype(auto) FormatArg(const T &value) {
    if constexpr (std::is_same_v<T, std::string>)
        return value.c_str();
    else
        return (value);
}

// What an argument of Format is, as far as its conversion is concerned.
enum class TFormatKind { Int, Int64, Double, LongDouble, Text, Pointer, Other };

template <class T> consteval TFormatKind FormatKindOf() {
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_same_v<U, std::string>)
        return TFormatKind::Text;
    else if constexpr (std::is_array_v<U>)
        return std::is_same_v<std::remove_cv_t<std::remove_extent_t<U>>, char> ? TFormatKind::Text
                                                                               : TFormatKind::Other;
    else if constexpr (std::is_pointer_v<U>)
        return std::is_same_v<std::remove_cv_t<std::remove_pointer_t<U>>, char> ? TFormatKind::Text
                                                                                : TFormatKind::Pointer;
    else if constexpr (std::is_null_pointer_v<U>)
        return TFormatKind::Pointer;
    else if constexpr (std::is_integral_v<U> || std::is_enum_v<U>)
        return sizeof(U) <= 4 ? TFormatKind::Int : sizeof(U) == 8 ? TFormatKind::Int64 : TFormatKind::Other;
    else if constexpr (std::is_same_v<U, float> || std::is_same_v<U, double>)
        return TFormatKind::Double;
    else if constexpr (std::is_same_v<U, long double>)
        return TFormatKind::LongDouble;
    else
        return TFormatKind::Other;
}

// Not constexpr on purpose: a format check that reaches one of these fails to compile, and the
// compiler names the function in its message.
void format_has_more_conversions_than_arguments();
void format_has_fewer_conversions_than_arguments();
void format_argument_does_not_match_its_conversion();
void format_conversion_is_not_supported();

// Checks every conversion of a printf format against the kinds of the arguments.
consteval void CheckFormat(const char *fmt, const TFormatKind *kinds, int count) {
    int next = 0;
    auto take = [&](bool fits) {
        if (next >= count)
            format_has_more_conversions_than_arguments();
        if (!fits)
            format_argument_does_not_match_its_conversion();
        ++next;
    };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    for (const char *p = fmt; *p; ++p) {
        if (*p != '%')
            continue;
        ++p;
        if (*p == '%')
            continue;
        while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0' || *p == '\'')
            ++p;
        if (*p == '*') {
            take(kinds[next] == TFormatKind::Int);
            ++p;
        }
        while (isDigit(*p))
            ++p;
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                take(kinds[next] == TFormatKind::Int);
                ++p;
            }
            while (isDigit(*p))
                ++p;
        }
        // Length: none, h, hh, l, z, t (32 bits here); ll, j, q, I64 (64 bits); L (long double).
        bool wide = false, longDouble = false;
        if (*p == 'h') {
            ++p;
            if (*p == 'h')
                ++p;
        } else if (*p == 'l') {
            ++p;
            if (*p == 'l') {
                wide = true;
                ++p;
            }
        } else if (*p == 'j' || *p == 'q') {
            wide = true;
            ++p;
        } else if (*p == 'z' || *p == 't') {
            ++p;
        } else if (*p == 'L') {
            longDouble = true;
            ++p;
        } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            wide = true;
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            p += 3;
        }
        switch (*p) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'o':
        case 'c':
            take(!longDouble && next < count &&
                 kinds[next] == (wide ? TFormatKind::Int64 : TFormatKind::Int));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            take(!wide && next < count &&
                 kinds[next] == (longDouble ? TFormatKind::LongDouble : TFormatKind::Double));
            break;
        case 's':
            take(!wide && !longDouble && next < count && kinds[next] == TFormatKind::Text);
            break;
        case 'p':
            take(next < count && (kinds[next] == TFormatKind::Pointer || kinds[next] == TFormatKind::Text));
            break;
        default: // %n, a missing conversion and anything unknown
            format_conversion_is_not_supported();
        }
    }
    if (next != count)
        format_has_fewer_conversions_than_arguments();
}
} // namespace classlib_detail

// A format text checked at compile time against the argument types of the call: a conversion
// without its argument, an argument without its conversion, or an argument of the wrong kind
// (a number for %s, a double for %Lf, a 64-bit integer for %d, ...) fails to build. Only
// literal (constant) formats are accepted.
template <class... Args> struct TFormatString {
    template <class S>
    requires std::is_convertible_v<const S &, const char *>
    consteval TFormatString(const S &Format) : Text(Format) {
        constexpr classlib_detail::TFormatKind kinds[sizeof...(Args) + 1] = {
            classlib_detail::FormatKindOf<Args>()..., classlib_detail::TFormatKind::Other};
        classlib_detail::CheckFormat(Text, kinds, static_cast<int>(sizeof...(Args)));
    }
    const char *Text;
};

// printf-style formatting that accepts std::string for %s; never depends on the locale.
template <class... Args>
std::string Format(TFormatString<std::type_identity_t<Args>...> fmt, const Args &...args) {
    return classlib_detail::FormatVA(fmt.Text, classlib_detail::FormatArg(args)...);
}

class Exception : public TObject, public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    // A message formatted as by Format; the format is checked against the arguments.
    template <class First, class... Rest>
    Exception(TFormatString<std::type_identity_t<First>, std::type_identity_t<Rest>...> fmt,
              const First &first, const Rest &...rest)
        : FMessage(classlib_detail::FormatVA(fmt.Text, classlib_detail::FormatArg(first),
                                             classlib_detail::FormatArg(rest)...)) {}
    // A message without arguments is taken as it is.
    explicit Exception(const char *message) : FMessage(message) {}
    DECLARE_CLASS_NAME(Exception)
    const std::string &Message() const { return FMessage; }
    void SetMessage(std::string message) { FMessage = std::move(message); }
    const char *what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

// Declares an exception class that only adds its name.
#define DECLARE_EXCEPTION(Name, Parent)                                                                      \
    class Name : public Parent {                                                                             \
    public:                                                                                                  \
        using Parent::Parent;                                                                                \
        DECLARE_CLASS_NAME(Name)                                                                             \
    }

// The silent exception: reported nowhere, it only unwinds.
DECLARE_EXCEPTION(EAbort, Exception);
DECLARE_EXCEPTION(EConvertError, Exception);
DECLARE_EXCEPTION(EStreamError, Exception);
DECLARE_EXCEPTION(EFCreateError, EStreamError);
DECLARE_EXCEPTION(EFOpenError, EStreamError);
DECLARE_EXCEPTION(EReadError, EStreamError);
DECLARE_EXCEPTION(EWriteError, EStreamError);
DECLARE_EXCEPTION(EListError, Exception);
DECLARE_EXCEPTION(EOutOfMemory, Exception);
// Raised when a thread cannot be created or is used the wrong way.
DECLARE_EXCEPTION(EThread, Exception);

// Raises EAbort with an empty message.
[[noreturn]] void Abort();

// ---------------------------------------------------------------------------------------------
// Integer text. Accepted input: optional leading blanks or tabs, an optional sign and decimal
// digits, nothing else; out-of-range values are rejected.

std::string Int64ToStr(int64_t Value);
std::string UInt64ToStr(uint64_t Value);
// Decimal text of any integer type.
template <class T> std::string IntToStr(T Value) {
    static_assert(std::is_integral_v<T>, "IntToStr takes an integer");
    if constexpr (std::is_signed_v<T>)
        return Int64ToStr(static_cast<int64_t>(Value));
    else
        return UInt64ToStr(static_cast<uint64_t>(Value));
}
// Upper-case hexadecimal, at least Digits digits (zero-filled); negative values as their
// two's complement of 32 resp. 64 bits.
std::string IntToHex(int32_t Value, int Digits);
std::string IntToHex(uint32_t Value, int Digits);
std::string IntToHex(int64_t Value, int Digits);
std::string IntToHex(uint64_t Value, int Digits);

// Raise EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(const std::string &S);
int64_t StrToInt64(const std::string &S);
int32_t StrToIntDef(const std::string &S, int32_t Default);
int64_t StrToInt64Def(const std::string &S, int64_t Default);
bool TryStrToInt(const std::string &S, int32_t &Value);
bool TryStrToInt64(const std::string &S, int64_t &Value);

// ---------------------------------------------------------------------------------------------
// Float text, always with '.' as the decimal point, correctly rounded in both directions.

enum TFloatFormat { ffGeneral, ffExponent, ffFixed };

// The decimal digits of a value: Value = 0.Digits * 10^Exponent. Digits holds no trailing zeros
// and is empty for zero. Special values set Exponent to 0x7FFF (infinite, Digits empty) or
// 0x7FFF with Digits "N" (not a number).
struct TFloatRec {
    int Exponent = 0;
    bool Negative = false;
    std::string Digits;
};
// Rounds Value (half to even on exact ties) to at most Precision significant digits (1..21) and
// at most Decimals digits after the decimal point (Decimals >= 9999: no limit).
void FloatToDecimal(TFloatRec &Result, long double Value, int Precision, int Decimals);

// General format with 15 significant digits: fixed notation while the decimal exponent lies in
// -5 < exp < 15, otherwise "1.5E20" / "2E-7". Infinite and not-a-number values give "INF",
// "-INF" and "NAN". Negative zero gives "0".
std::string FloatToStr(long double Value);
// Precision is taken in 1..21.
// ffGeneral: as FloatToStr with Precision digits; Digits (0..4) is the least number of exponent
// digits.
// ffExponent: "d.dddE+xx", Precision significant digits, at least Digits (0..4) exponent digits.
// ffFixed: Digits (0..18) digits after the point; the general form when the value needs more
// than Precision digits before the point.
// Exact ties round away from zero (Format's %f, %e and %g round them to even, as C does).
std::string FloatToStrF(long double Value, TFloatFormat Format, int Precision, int Digits);

// Accepted input: optional blanks, optional sign, digits with at most one '.' (at least one
// digit), an optional exponent 'e' or 'E' with optional sign and at least one digit, optional
// blanks. Values beyond the target type's range and texts like "INF" are rejected; values too
// small for it become zero or a denormal. Raise EConvertError
// "'%s' is not a valid floating point value".
long double StrToFloat(const std::string &S);
long double StrToFloatDef(const std::string &S, long double Default);
bool TryStrToFloat(const std::string &S, long double &Value);
bool TryStrToFloat(const std::string &S, double &Value);

// ---------------------------------------------------------------------------------------------
// Text helpers (ASCII letter case, as every stored text of the program is ASCII).

std::string Trim(const std::string &S); // removes control characters and blanks (<= ' ')
std::string TrimLeft(const std::string &S);
std::string TrimRight(const std::string &S);
std::string UpperCase(const std::string &S); // 'a'..'z' only
std::string LowerCase(const std::string &S); // 'A'..'Z' only
// <0, 0, >0 like strcmp; CompareText ignores ASCII letter case.
int CompareStr(const std::string &S1, const std::string &S2);
int CompareText(const std::string &S1, const std::string &S2);
bool SameText(const std::string &S1, const std::string &S2);

enum TReplaceFlag : unsigned { rfReplaceAll = 1, rfIgnoreCase = 2 };
std::string StringReplace(const std::string &S, const std::string &OldPattern, const std::string &NewPattern,
                          unsigned Flags);

// ---------------------------------------------------------------------------------------------
// File names: '\' separates folders, ':' ends a drive.

std::string ExtractFilePath(const std::string &FileName); // up to and including the last '\' or ':'
std::string ExtractFileDir(const std::string &FileName);  // the same without a trailing '\' (except "C:\")
std::string ExtractFileName(const std::string &FileName); // after the last '\' or ':'
std::string ExtractFileExt(const std::string &FileName);  // from the last '.' of the name, "" if none
std::string ChangeFileExt(const std::string &FileName, const std::string &Extension);
std::string IncludeTrailingPathDelimiter(const std::string &S);
std::string ExcludeTrailingPathDelimiter(const std::string &S);

// File system (Win32 only).
bool FileExists(const std::string &FileName); // an existing file, not a folder
bool DirectoryExists(const std::string &Name);
bool ForceDirectories(const std::string &Dir); // creates every missing folder of Dir
bool CreateDir(const std::string &Dir);
bool RemoveDir(const std::string &Dir);
bool RenameFile(const std::string &OldName, const std::string &NewName);
std::string ExpandFileName(const std::string &FileName);
std::string GetCurrentDir();
// Last write time of a file (local time) as a packed DOS date-time (date in the high word),
// -1 when missing.
int32_t FileAge(const std::string &FileName);
namespace classlib_detail {
bool DeleteFileByName(const std::string &FileName);
}
// The system's text for a Win32 error code, without the line end; empty when it has none.
std::string SysErrorMessage(uint32_t ErrorCode);
// <windows.h> maps DeleteFile to DeleteFileA; both spellings reach the same routine for a
// std::string argument, whichever header was included first.
#pragma push_macro("DeleteFile")
#undef DeleteFile
inline bool DeleteFile(const std::string &FileName) {
    return classlib_detail::DeleteFileByName(FileName);
}
#pragma pop_macro("DeleteFile")
inline bool DeleteFileA(const std::string &FileName) {
    return classlib_detail::DeleteFileByName(FileName);
}

// The id of the thread that started the process (set before main runs).
extern uint32_t MainThreadID;

// ---------------------------------------------------------------------------------------------
// Dates: days since 1899-12-30, the fraction is the time of day.

using TDateTime = double;

constexpr double MSecsPerDay = 86400000.0;
constexpr int DateDelta = 693594; // days from 0001-01-01 to 1899-12-31

bool IsLeapYear(uint16_t Year);
uint16_t DaysInMonth(uint16_t Year, uint16_t Month);
bool TryEncodeDate(uint16_t Year, uint16_t Month, uint16_t Day, TDateTime &Date);
bool TryEncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec, TDateTime &Time);
// Raise EConvertError "Invalid argument to date encode" / "Invalid argument to time encode".
TDateTime EncodeDate(uint16_t Year, uint16_t Month, uint16_t Day);
TDateTime EncodeTime(uint16_t Hour, uint16_t Min, uint16_t Sec, uint16_t MSec);
void DecodeDate(TDateTime Date, uint16_t &Year, uint16_t &Month, uint16_t &Day);
void DecodeTime(TDateTime Time, uint16_t &Hour, uint16_t &Min, uint16_t &Sec, uint16_t &MSec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime Date);
// The date-time of a packed DOS date-time (FileAge); an impossible one raises EConvertError.
TDateTime FileDateToDateTime(int32_t FileDate);

TDateTime Now();  // local time (Win32 only)
TDateTime Date(); // today, local time (Win32 only)
TDateTime Time(); // time of day, local time (Win32 only)

// Fixed texts that do not follow the user's settings: "8/19/2004", "14:05:09" and
// "8/19/2004 14:05:09" (always both parts, for log time stamps).
std::string DateToStr(TDateTime Date);
std::string TimeToStr(TDateTime Time);
std::string DateTimeToStr(TDateTime DateTime);
