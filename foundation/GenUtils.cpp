#include "GenUtils.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "vexExcept.h"

namespace {

constexpr long double Pi = 3.14159265358979323846264338327950288L;
constexpr long double TwoPi = 2 * Pi;

const char *const MonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                                    "July",    "August",   "September", "October", "November", "December"};

// The x87 control word for truncation: round toward zero, 64-bit mantissa, exceptions masked.
constexpr unsigned short TruncatingControlWord = 0x1F7F;

constexpr std::array<std::uint32_t, 256> BuildCrc32Table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        table[i] = c;
    }
    return table;
}

// Constant-initialized, so a CRC computed before the module start-up (or by a test that does not
// start the module) is still right; InitCrc32Table rebuilds the same values.
constinit std::array<std::uint32_t, 256> Crc32Table = BuildCrc32Table();

// Saved cursors of BeginWaitCursor; exists between module start-up and shut-down.
std::vector<HCURSOR> *WaitCursorStack = nullptr;

std::atomic<int> ScreenFontHeight{0};

bool IsAsciiLower(char C) {
    return C >= 'a' && C <= 'z';
}
char AsciiUpper(char C) {
    return IsAsciiLower(C) ? static_cast<char>(C - 'a' + 'A') : C;
}

bool StartsWith(const std::string &S, const char *Prefix) {
    return S.rfind(Prefix, 0) == 0;
}

// A decimal run starting at Pos; saturates at 65535 so that an absurd value still fails the date
// encoding instead of wrapping into a valid date.
int ReadDecimal(const std::string &S, std::size_t &Pos) {
    int value = 0;
    while (Pos < S.size() && S[Pos] >= '0' && S[Pos] <= '9') {
        value = std::min(value * 10 + (S[Pos] - '0'), 65535);
        ++Pos;
    }
    return value;
}

std::uint16_t DatePart(int Value) {
    return static_cast<std::uint16_t>(Value < 0 || Value > 65535 ? 0 : Value);
}

[[noreturn]] void RaiseInvalidDate(const std::string &S) {
    throw EConvertError("'%s' is not a valid date", S);
}

// Converts to a 32-bit integer the way the processor does: out of range and NaN give the
// integer indefinite instead of undefined behaviour.
int ToInt32(long double X) {
    if (std::isnan(X) || X < static_cast<long double>(INT_MIN) || X > static_cast<long double>(INT_MAX))
        return INT_MIN;
    return static_cast<int>(X);
}

std::string ModuleFileName(HMODULE Module) {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length = GetModuleFileNameA(Module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::string();
        if (length < buffer.size())
            return std::string(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

void InitializeGenUtils() {
    InitCrc32Table();
    if (!WaitCursorStack)
        WaitCursorStack = new std::vector<HCURSOR>();
}

void FinalizeGenUtils() {
    delete WaitCursorStack;
    WaitCursorStack = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Text

bool HasNoLowerCase(const std::string &S) {
    return std::none_of(S.begin(), S.end(), IsAsciiLower);
}

std::string CapitalizeUpperCase(const std::string &S) {
    if (S.empty() || !HasNoLowerCase(S))
        return S;
    std::string result = LowerCase(S);
    result[0] = AsciiUpper(result[0]);
    return result;
}

std::string MakeValidFileName(const std::string &S) {
    std::string result = S;
    for (char &c : result)
        if (std::string_view("\"*/:<>?\\|").find(c) != std::string_view::npos)
            c = ' ';
    return result;
}

std::string MakeCopyName(const std::string &Name) {
    const std::string fallback = "Copy of " + Name;
    if (Name.size() <= 8 || !StartsWith(Name, "Copy "))
        return fallback;
    if (StartsWith(Name, "Copy of "))
        return Format("Copy (%d) of %s", 2, Name.substr(8));
    if (Name[5] != '(')
        return fallback;
    const std::size_t close = Name.find(')', 6);
    if (close == std::string::npos)
        return fallback;
    int number = 0;
    if (!TryStrToInt(Name.substr(6, close - 6), number) || number < 0 || number == INT_MAX)
        return fallback;
    const std::size_t restStart = close + 1 + 4;
    const std::string rest = restStart < Name.size() ? Name.substr(restStart) : std::string();
    return Format("Copy (%d) of %s", number + 1, rest);
}

std::string JoinLines(const std::string &S) {
    std::string result;
    result.reserve(S.size());
    for (std::size_t i = 0; i < S.size(); ++i) {
        if (S[i] != '\r') {
            result += S[i];
            continue;
        }
        if (i + 1 < S.size() && S[i + 1] == '\n')
            ++i;
        if (!result.empty() && result.back() != ' ')
            result += ' ';
        while (i + 1 < S.size() && S[i + 1] == ' ')
            ++i;
    }
    return result;
}

std::string EncodeLineBreaks(const std::string &S) {
    std::string result;
    result.reserve(S.size() + S.size() / 8);
    for (char c : S) {
        if (c == '\r')
            result += "/n";
        else if (c == '/')
            result += "//";
        else if (c != '\n')
            result += c;
    }
    return result;
}

std::string DecodeLineBreaks(const std::string &S) {
    std::string result;
    result.reserve(S.size());
    for (std::size_t i = 0; i < S.size(); ++i) {
        if (S[i] != '/') {
            result += S[i];
            continue;
        }
        if (i + 1 >= S.size())
            break; // a '/' at the very end is dropped
        const char next = S[++i];
        if (next == '/')
            result += '/';
        else if (next == 'n')
            result += "\r\n";
        // any other pair is dropped
    }
    return result;
}

std::string RemoveQuotesAndBraces(const std::string &S) {
    std::string result;
    result.reserve(S.size());
    for (char c : S)
        if (c != '"' && c != '{' && c != '}')
            result += c;
    return result;
}

std::string FloatToShortText(long double X) {
    std::string text = FloatToStr(X);
    // Only the digits of the mantissa are cut: an exponent part ("1.5E-10") must survive, or
    // the text would name a different number.
    std::string exponent;
    const std::size_t e = text.find('E');
    if (e != std::string::npos) {
        exponent = text.substr(e);
        text.erase(e);
    }
    const std::size_t point = text.find('.');
    if (point != std::string::npos && text.size() > point + 4)
        text.erase(point + 4);
    return text + exponent;
}

std::string FloatToStrExact(long double X) {
    return FloatToStrF(X, ffGeneral, 19, 0);
}

// ---------------------------------------------------------------------------------------------
// Numbers

int Clamp(int Value, int Lo, int Hi) {
    return std::min(std::max(Value, Lo), Hi);
}
int Min(int A, int B) {
    return A < B ? A : B;
}
int Max(int A, int B) {
    return A > B ? A : B;
}

long double ClampFloat(long double Value, long double Lo, long double Hi) {
    long double result = Value;
    if (Lo >= Value)
        result = Lo;
    if (Hi < Value)
        result = Hi;
    return result;
}

long double MinFloat(long double A, long double B) {
    return A < B ? A : B;
}
long double MaxFloat(long double A, long double B) {
    return A > B ? A : B;
}

long double PowerFloat(long double Base, long double Exponent) {
    if (Base == 0)
        return 0;
    return std::exp(Exponent * std::log(Base));
}

int Ceil(long double X) {
    return ToInt32(std::ceil(X));
}
int Floor(long double X) {
    return ToInt32(std::floor(X));
}

long double FastFrac(long double X) {
    long double whole = X;
    unsigned short saved;
    __asm__ __volatile__("fnstcw %1\n\t"
                         "fldcw %2\n\t"
                         "frndint\n\t"
                         "fldcw %1"
                         : "+t"(whole), "=m"(saved)
                         : "m"(TruncatingControlWord));
    return X - whole;
}

int FastTrunc(long double X) {
    int result;
    unsigned short saved;
    __asm__ __volatile__("fnstcw %1\n\t"
                         "fldcw %3\n\t"
                         "fistl %0\n\t"
                         "fldcw %1"
                         : "=m"(result), "=m"(saved)
                         : "t"(X), "m"(TruncatingControlWord));
    return result;
}

std::uint32_t RoundUpToMultiple(std::uint32_t Value, std::uint32_t Step) {
    if (Step == 0)
        return Value;
    const std::uint32_t remainder = Value % Step;
    if (remainder == 0)
        return Value;
    const std::uint64_t next = static_cast<std::uint64_t>(Value) + (Step - remainder);
    // Counting upwards past the top wraps to 0, which every step divides.
    return next > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(next);
}

bool SameFloat(double A, double B, double Epsilon) {
    return std::fabs(A - B) <= Epsilon;
}

int CompareFloat(double A, double B) {
    if (A < B)
        return -1;
    if (A > B)
        return 1;
    return 0;
}

long double NormalizeAngle(long double A) {
    if (!std::isfinite(A))
        return 0;
    long double result;
    if (A >= 0)
        result = FastFrac(A / TwoPi) * TwoPi;
    else
        result = A + (std::trunc(-A / TwoPi) + 1) * TwoPi;
    // Rounding can land on 2*pi (a tiny negative angle) or, for huge values, anywhere: reduce
    // again exactly so that the result is always inside [0, 2*pi).
    if (result < 0 || result >= TwoPi) {
        result = std::fmod(result, TwoPi);
        if (result < 0)
            result += TwoPi;
        if (result >= TwoPi)
            result = 0;
    }
    return result == 0 ? 0.0L : result; // no negative zero
}

long double VectorAngle(int Y, int X) {
    if (Y == 0)
        return X >= 0 ? 0.0L : Pi;
    if (X == 0)
        return Y > 0 ? Pi / 2 : 3 * Pi / 2;
    volatile float stored = static_cast<float>(static_cast<long double>(X) / Y);
    const long double t = stored;
    long double angle;
    if ((t >= 0 && X <= 0) || (t < 0 && X > 0))
        angle = 3 * Pi / 2 - std::atan(t);
    else
        angle = Pi / 2 - std::atan(t);
    return NormalizeAngle(angle);
}

long double ArcTan2(long double Y, long double X) {
    if (X > 0)
        return std::atan(Y / X);
    if (X == 0)
        return Y > 0 ? Pi / 2 : -Pi / 2;
    return Y > 0 ? std::atan(Y / X) + Pi : std::atan(Y / X) - Pi;
}

long double Tan(long double X) {
    return std::sin(X) / std::cos(X);
}

// ---------------------------------------------------------------------------------------------
// Dates

std::string DateToLongText(TDateTime D) {
    std::uint16_t year, month, day;
    DecodeDate(D, year, month, day);
    const char *name = month >= 1 && month <= 12 ? MonthNames[month - 1] : "";
    return Format("%s %d, %d", name, day, year);
}

TDateTime LongTextToDate(const std::string &S) {
    int month = 0;
    std::size_t pos = 0;
    for (int m = 0; m < 12; ++m) {
        const std::string name = MonthNames[m];
        if (S.size() >= name.size() && SameText(S.substr(0, name.size()), name)) {
            month = m + 1;
            pos = name.size();
            break;
        }
    }
    while (pos < S.size() && (S[pos] == ' ' || S[pos] == '\t'))
        ++pos;
    const int day = ReadDecimal(S, pos);
    while (pos < S.size() && (S[pos] == ' ' || S[pos] == '\t' || S[pos] == ','))
        ++pos;
    const int year = ReadDecimal(S, pos);
    if (month <= 0 || day <= 0 || year <= 0)
        RaiseInvalidDate(S);
    return EncodeDate(DatePart(year), DatePart(month), DatePart(day));
}

std::string DateToShortText(TDateTime D) {
    std::uint16_t year, month, day;
    DecodeDate(D, year, month, day);
    return Format("%d/%d/%d", month, day, year);
}

TDateTime ShortTextToDate(const std::string &S) {
    const std::size_t first = S.find('/');
    const std::size_t second = first == std::string::npos ? std::string::npos : S.find('/', first + 1);
    if (second == std::string::npos)
        RaiseInvalidDate(S);
    int month = 0, day = 0, year = 0;
    if (!TryStrToInt(S.substr(0, first), month) ||
        !TryStrToInt(S.substr(first + 1, second - first - 1), day) ||
        !TryStrToInt(S.substr(second + 1), year))
        RaiseInvalidDate(S);
    return EncodeDate(DatePart(year), DatePart(month), DatePart(day));
}

// ---------------------------------------------------------------------------------------------
// Paths and files

std::string AddTrailingBackslash(const std::string &P) {
    if (P.empty() || P.back() == '\\')
        return P;
    return P + '\\';
}

std::string RemoveTrailingBackslash(const std::string &P) {
    if (!P.empty() && P.back() == '\\')
        return P.substr(0, P.size() - 1);
    return P;
}

std::string ExtractFileTitle(const std::string &P) {
    const std::size_t separator = P.find_last_of("\\:");
    std::string name = separator == std::string::npos ? P : P.substr(separator + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

std::string GetProgramFolder() {
    return ExtractFilePath(ModuleFileName(nullptr));
}

bool IsRelativePath(const std::string &P) {
    return !P.empty() && P[0] != '\\' && !(P.size() >= 2 && P[1] == ':');
}

std::string GetLongComponentName(const std::string &Folder, const std::string &Name) {
    if (Folder.empty() && Name.size() >= 2 && Name[1] == ':') {
        std::string drive = Name;
        drive[0] = AsciiUpper(drive[0]);
        return drive;
    }
    // A wildcard would make the search return some other entry's name.
    if (Name.empty() || Name.find_first_of("*?") != std::string::npos)
        return Name;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((Folder + Name).c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return Name;
    FindClose(search);
    return data.cFileName;
}

std::string ExpandLongFileName(const std::string &P) {
    std::string result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t separator = P.find('\\', start);
        const std::string component =
            P.substr(start, separator == std::string::npos ? std::string::npos : separator - start);
        result += GetLongComponentName(result, component);
        if (separator == std::string::npos)
            return result;
        result += '\\';
        start = separator + 1;
    }
}

std::string GetVersionInfoString(int Index, const std::string &FileName) {
    static const char *const KeyNames[7] = {"CompanyName", "FileDescription", "FileVersion", "LegalCopyright",
                                            "ProductName", "ProductVersion",  "Comments"};
    if (Index < 0 || Index > 6)
        return std::string();
    const std::string file = FileName.empty() ? ModuleFileName(nullptr) : FileName;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    if (size == 0)
        return std::string();
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, data.data()))
        return std::string();
    void *translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &translation, &length) || length < 4)
        return std::string();
    const WORD *words = static_cast<const WORD *>(translation);
    const std::string path = Format("\\StringFileInfo\\%.4x%.4x\\%s", words[0], words[1], KeyNames[Index]);
    void *value = nullptr;
    if (!VerQueryValueA(data.data(), path.c_str(), &value, &length) || !value || length == 0)
        return std::string();
    const char *text = static_cast<const char *>(value);
    return std::string(text, strnlen(text, length));
}

// ---------------------------------------------------------------------------------------------
// System and screen

int GetScreenColorDepth() {
    HDC dc = GetDC(nullptr);
    if (!dc)
        return 0;
    const int depth = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
    ReleaseDC(nullptr, dc);
    return depth;
}

int GetReservedPaletteEntries() {
    HDC dc = GetDC(nullptr);
    if (!dc)
        return 0;
    const int reserved = GetDeviceCaps(dc, NUMRESERVED);
    ReleaseDC(nullptr, dc);
    return reserved;
}

int GetProcessorCount() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return static_cast<int>(info.dwNumberOfProcessors);
}

std::uint32_t GetElapsedTime(std::uint32_t Start) {
    return static_cast<std::uint32_t>(timeGetTime() - Start);
}

int ScaleForScreenFont(int Size) {
    int height = ScreenFontHeight.load();
    if (height == 0) {
        // The default canvas font: 8-point MS Sans Serif at the screen's resolution.
        HDC dc = GetDC(nullptr);
        if (dc) {
            const int pixelHeight = -MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72);
            HFONT font = CreateFontA(pixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                     DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif");
            HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
            SIZE extent{0, 0};
            if (GetTextExtentPoint32A(dc, "0", 1, &extent))
                height = extent.cy;
            if (font) {
                SelectObject(dc, old);
                DeleteObject(font);
            }
            ReleaseDC(nullptr, dc);
        }
        if (height <= 0)
            height = 13; // no screen: lay out at the design size
        ScreenFontHeight.store(height);
    }
    return Size * height / 13;
}

void BeginWaitCursor() {
    if (GetCurrentThreadId() != MainThreadID || !WaitCursorStack)
        return;
    WaitCursorStack->push_back(GetCursor());
    SetCursor(LoadCursor(nullptr, IDC_WAIT));
}

void EndWaitCursor() {
    if (GetCurrentThreadId() != MainThreadID || !WaitCursorStack || WaitCursorStack->empty())
        return;
    HCURSOR previous = WaitCursorStack->back();
    WaitCursorStack->pop_back();
    SetCursor(previous);
}

// ---------------------------------------------------------------------------------------------
// CRC-32

void InitCrc32Table() {
    Crc32Table = BuildCrc32Table();
}

std::uint32_t UpdateCrc32(std::uint32_t Crc, const void *Buffer, int Count) {
    if (!Buffer)
        return 0;
    if (Count <= 0)
        return Crc;
    const auto *bytes = static_cast<const std::uint8_t *>(Buffer);
    std::uint32_t c = ~Crc;
    for (int i = 0; i < Count; ++i)
        c = Crc32Table[(c ^ bytes[i]) & 0xFF] ^ (c >> 8);
    return ~c;
}

// ---------------------------------------------------------------------------------------------
// Worker threads

void HandleThreadException() {
    SubmitExceptionReport(0, nullptr, nullptr, 1, 0, 0, 0);
}
