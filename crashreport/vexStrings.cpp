#include "vexStrings.h"

#include <windows.h>

#include <algorithm>

#include "vexScrambled.h"

TCharSet MakeCharSet(const char *chars) {
    TCharSet set;
    for (; *chars; ++chars)
        set.set(static_cast<unsigned char>(*chars));
    return set;
}

TCharSet MakeCharRange(unsigned char first, unsigned char last) {
    TCharSet set;
    for (unsigned c = first; c <= last; ++c)
        set.set(c);
    return set;
}

bool RemoveCharsInSet(std::string &Text, const TCharSet &Set) {
    const std::size_t before = Text.size();
    std::erase_if(Text, [&](char c) { return Set.test(static_cast<unsigned char>(c)); });
    return Text.size() != before;
}

char FoldCase(char C) {
    const unsigned char c = static_cast<unsigned char>(C);
    if (c >= 'A' && c <= 'Z')
        return static_cast<char>(c + 32);
    if (c == 0x8A || c == 0x8C || c == 0x8E)
        return static_cast<char>(c + 0x10);
    if (c == 0x9F)
        return static_cast<char>(0xFF);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<char>(c + 32);
    return C;
}

char UpperCaseChar(char C) {
    const unsigned char c = static_cast<unsigned char>(C);
    if ((c >= 'a' && c <= 'z') || c == 0xE4 || c == 0xF6 || c == 0xFC)
        return static_cast<char>(c - 32);
    return C;
}

std::string UpperCaseText(const std::string &Text) {
    std::string result = Text;
    for (char &c : result)
        c = UpperCaseChar(c);
    return result;
}

bool EqualIgnoreCase(const std::string &A, const std::string &B) {
    if (A.size() != B.size())
        return false;
    for (std::size_t i = 0; i < A.size(); ++i)
        if (FoldCase(A[i]) != FoldCase(B[i]))
            return false;
    return true;
}

namespace {

bool MatchesAt(const std::string &Part, const std::string &Text, std::size_t at, bool ignoreCase) {
    for (std::size_t i = 0; i < Part.size(); ++i) {
        const char a = Text[at + i], b = Part[i];
        if (ignoreCase ? FoldCase(a) != FoldCase(b) : a != b)
            return false;
    }
    return true;
}

int FindIn(const std::string &Part, const std::string &Text, int From, int To, bool ignoreCase) {
    if (From <= 0 || To <= 0 || Part.empty() || Text.empty() || Part.size() > Text.size())
        return 0;
    const int lastFit = static_cast<int>(Text.size() - Part.size()) + 1;
    const int low = std::min(From, To), high = std::min(std::max(From, To), lastFit);
    if (From <= To) {
        for (int p = low; p <= high; ++p)
            if (MatchesAt(Part, Text, p - 1, ignoreCase))
                return p;
    } else {
        for (int p = high; p >= low; --p)
            if (MatchesAt(Part, Text, p - 1, ignoreCase))
                return p;
    }
    return 0;
}

bool ReplaceIn(std::string &Text, const std::string &OldPart, const std::string &NewPart, bool Repeat,
               bool ignoreCase) {
    if (OldPart.empty())
        return false;
    // Repeating would never end when the new part brings the old part back.
    if (Repeat && FindIn(OldPart, NewPart, 1, static_cast<int>(NewPart.size()), ignoreCase) != 0)
        Repeat = false;
    bool replaced = false;
    int from = 1;
    for (;;) {
        const int at = FindIn(OldPart, Text, from, static_cast<int>(Text.size()), ignoreCase);
        if (at == 0)
            return replaced;
        Text.replace(at - 1, OldPart.size(), NewPart);
        replaced = true;
        if (!Repeat)
            from = at + static_cast<int>(NewPart.size());
        else
            from = NewPart.size() <= OldPart.size() ? at : at + 1;
        if (from > static_cast<int>(Text.size()))
            return replaced;
    }
}

} // namespace

bool ReplaceSubstring(std::string &Text, const std::string &OldPart, const std::string &NewPart,
                      bool Repeat) {
    return ReplaceIn(Text, OldPart, NewPart, Repeat, false);
}

bool ReplaceSubstringIgnoreCase(std::string &Text, const std::string &OldPart, const std::string &NewPart,
                                bool Repeat) {
    return ReplaceIn(Text, OldPart, NewPart, Repeat, true);
}

std::string CopyWithout(const std::string &Text, int Position, int Count) {
    std::string result = Text;
    if (Position >= 1 && Position <= static_cast<int>(Text.size()) && Count > 0)
        result.erase(Position - 1, static_cast<std::size_t>(Count));
    return result;
}

void KeepRange(std::string &Text, int Position, int Count) {
    if (Position < 1)
        Position = 1;
    if (Count <= 0 || Position > static_cast<int>(Text.size())) {
        Text.clear();
        return;
    }
    Text = Text.substr(Position - 1, static_cast<std::size_t>(Count));
}

std::string RightPart(const std::string &Text, int Count) {
    if (Count <= 0)
        return std::string();
    if (Count >= static_cast<int>(Text.size()))
        return Text;
    return Text.substr(Text.size() - Count);
}

int FindSubstring(const std::string &Part, const std::string &Text, int From, int To) {
    return FindIn(Part, Text, From, To, false);
}

int FindSubstringIgnoreCase(const std::string &Part, const std::string &Text, int From, int To) {
    return FindIn(Part, Text, From, To, true);
}

bool StartsWithIgnoreCase(const std::string &Part, const std::string &Text) {
    return Part.size() <= Text.size() && MatchesAt(Part, Text, 0, true);
}

int FindCharInSet(const TCharSet &Set, const std::string &Text, int From, int To) {
    const int length = static_cast<int>(Text.size());
    if (From <= 0 || To <= 0 || length == 0)
        return 0;
    From = std::min(From, length);
    To = std::min(To, length);
    const int step = From <= To ? 1 : -1;
    for (int p = From;; p += step) {
        if (Set.test(static_cast<unsigned char>(Text[p - 1])))
            return p;
        if (p == To)
            return 0;
    }
}

std::string PadText(const std::string &Text, int Width, char Fill) {
    const std::size_t width = static_cast<std::size_t>(Width < 0 ? -static_cast<long long>(Width) : Width);
    if (Text.size() >= width)
        return Text;
    const std::string fill(width - Text.size(), Fill);
    return Width >= 1 ? fill + Text : Text + fill;
}

std::string IntegerText(std::int64_t Value, int Width, char Fill) {
    const bool negative = Value < 0;
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(Value) : static_cast<std::uint64_t>(Value);
    std::string digits;
    do {
        digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative && Width >= 1 && Fill >= '0' && Fill <= '9')
        return "-" + PadText(digits, Width - 1, Fill);
    return PadText(negative ? "-" + digits : digits, Width, Fill);
}

std::string IntegerText(std::int32_t Value, int Width, char Fill) {
    return IntegerText(static_cast<std::int64_t>(Value), Width, Fill);
}

std::string IntegerText(std::uint32_t Value, int Width, char Fill) {
    return IntegerText(static_cast<std::int64_t>(Value), Width, Fill);
}

namespace {

std::string HexDigits(std::uint64_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), digits[value & 15]);
        value >>= 4;
    } while (value != 0);
    return text;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

std::string HexText(std::uint64_t Value, int Width, char Fill) {
    const std::uint32_t high = static_cast<std::uint32_t>(Value >> 32);
    std::string digits = high != 0
                             ? HexDigits(high) + PadText(HexDigits(static_cast<std::uint32_t>(Value)), 8, '0')
                             : HexDigits(static_cast<std::uint32_t>(Value));
    if (Width >= 0 && !IsHexDigit(Fill)) {
        const int repeat = Width - static_cast<int>(digits.size()) - 1;
        return std::string(repeat > 0 ? repeat : 0, Fill) + "$" + digits;
    }
    return "$" + PadText(digits, Width, Fill);
}

std::string HexText(std::uint32_t Value, int Width, char Fill) {
    return HexText(static_cast<std::uint64_t>(Value), Width, Fill);
}

std::int64_t ParseInteger(bool Hexadecimal, const char *Chars, int Count) {
    int i = 0;
    bool negative = false;
    if (Count > 0 && Chars[0] == '-') {
        negative = true;
        i = 1;
    }
    const std::uint64_t base = Hexadecimal ? 16 : 10;
    std::uint64_t value = 0;
    for (; i < Count; ++i) {
        const char c = Chars[i];
        unsigned digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        value = value * base + digit;
    }
    return negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
}

void TidySeparatedList(std::string &Text, char Separator) {
    auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    std::string result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = Text.find(Separator, start);
        std::string item = Text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::size_t first = 0, last = item.size();
        while (first < last && isBlank(item[first]))
            ++first;
        while (last > first && isBlank(item[last - 1]))
            --last;
        result += item.substr(first, last - first);
        if (end == std::string::npos)
            break;
        result += Separator;
        start = end + 1;
    }
    Text = result;
}

int CountItems(const std::string &Text, char Separator) {
    if (Text.empty())
        return 0;
    return 1 + static_cast<int>(std::count(Text.begin(), Text.end(), Separator));
}

std::string ItemAt(const std::string &Text, int Index, char Separator) {
    if (Index < 1 || Index > CountItems(Text, Separator))
        return std::string();
    std::size_t start = 0;
    for (int i = 1; i < Index; ++i)
        start = Text.find(Separator, start) + 1;
    const std::size_t end = Text.find(Separator, start);
    return Text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool ContainsItem(const std::string &List, const std::string &Item, char Separator) {
    const int count = CountItems(List, Separator);
    for (int i = 1; i <= count; ++i)
        if (EqualIgnoreCase(ItemAt(List, i, Separator), Item))
            return true;
    return false;
}

char DecimalSeparatorChar() {
    static char separator = 0;
    if (separator == 0) {
        char buffer[8] = {};
        separator = GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, buffer, sizeof buffer) > 0 && buffer[0]
                        ? buffer[0]
                        : ',';
    }
    return separator;
}

std::string ByteSizeText(std::int64_t Count) {
    const std::uint64_t count =
        Count < 0 ? 0 - static_cast<std::uint64_t>(Count) : static_cast<std::uint64_t>(Count);
    if (count < 1024)
        return IntegerText(static_cast<std::int64_t>(count)) + " Bytes";
    std::uint64_t value;
    const char *unit;
    if (count < 1048576) {
        value = count * 100 / 1024;
        unit = " KB";
    } else if (count < 1073741824) {
        value = (count / 1024) * 100 / 1024;
        unit = " MB";
    } else {
        value = ((count / 1024) / 1024) * 100 / 1024;
        unit = " GB";
    }
    std::string digits = IntegerText(static_cast<std::int64_t>(value));
    digits.insert(digits.size() - 2, 1, DecimalSeparatorChar());
    return digits + unit;
}

std::string Unscramble(const std::string &Text) {
    std::string result = Text;
    for (char &c : result)
        c = static_cast<char>(static_cast<unsigned char>(c) ^ ScrambleByte);
    return result;
}

namespace {
constexpr TScrambledName StatusModuleName("ntdll.dll");
constexpr TScrambledName StatusRoutineName("RtlNtStatusToDosError");
constexpr TScrambledName NetworkMessageModuleName("netmsg.dll");
constexpr TScrambledName FallbackWord("Error");
} // namespace

std::string SystemErrorText(std::uint32_t Code) {
    if (Code & 0xC0000000u) {
        using StatusToError = ULONG(WINAPI *)(LONG);
        const HMODULE module = GetModuleHandleA(Unscramble(StatusModuleName.Text()).c_str());
        if (module) {
            const auto convert = reinterpret_cast<StatusToError>(reinterpret_cast<void *>(
                GetProcAddress(module, Unscramble(StatusRoutineName.Text()).c_str())));
            if (convert)
                Code = convert(static_cast<LONG>(Code));
        }
    }
    HMODULE messages = nullptr;
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    if (Code >= 2100 && Code <= 2999) {
        messages = LoadLibraryExA(Unscramble(NetworkMessageModuleName.Text()).c_str(), nullptr,
                                  LOAD_LIBRARY_AS_DATAFILE);
        if (messages)
            flags |= FORMAT_MESSAGE_FROM_HMODULE;
    }
    char *buffer = nullptr;
    const DWORD length = FormatMessageA(flags, messages, Code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<char *>(&buffer), 0, nullptr);
    std::string text;
    if (length > 0 && buffer) {
        text.assign(buffer, length);
        std::replace(text.begin(), text.end(), '\r', ' ');
        std::erase(text, '\n');
    }
    if (buffer)
        LocalFree(buffer);
    if (messages)
        FreeLibrary(messages);
    if (length == 0)
        text = Unscramble(FallbackWord.Text()) + " " + HexText(Code, 1, '0');
    return text;
}

std::wstring ToWideText(const std::string &Text, bool Terminator) {
    std::wstring result;
    result.reserve(Text.size() + 1);
    for (char c : Text)
        result.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    if (Terminator)
        result.push_back(L'\0');
    return result;
}
