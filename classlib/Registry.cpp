#include "Registry.h"

#include <vector>

namespace {

bool IsRelativeKey(const std::string &Key) {
    return Key.empty() || Key[0] != '\\';
}

std::string StripLeadingBackslash(const std::string &Key) {
    return IsRelativeKey(Key) ? Key : Key.substr(1);
}

std::string StripTrailingBackslash(std::string Key) {
    while (!Key.empty() && Key.back() == '\\')
        Key.pop_back();
    return Key;
}

TRegDataType DataTypeOf(DWORD Type) {
    switch (Type) {
    case REG_SZ:
        return rdString;
    case REG_EXPAND_SZ:
        return rdExpandString;
    case REG_DWORD:
        return rdInteger;
    case REG_BINARY:
        return rdBinary;
    default:
        return rdUnknown;
    }
}

// Deletes every subkey of Key, depth first (RegDeleteKey refuses keys that have subkeys).
void DeleteSubKeys(HKEY Key) {
    for (;;) {
        char Name[256];
        DWORD Length = sizeof(Name);
        if (RegEnumKeyExA(Key, 0, Name, &Length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return;
        HKEY Sub;
        if (RegOpenKeyExA(Key, Name, 0, KEY_ALL_ACCESS, &Sub) == ERROR_SUCCESS) {
            DeleteSubKeys(Sub);
            RegCloseKey(Sub);
        }
        if (RegDeleteKeyA(Key, Name) != ERROR_SUCCESS)
            return;
    }
}

} // namespace

TRegistry::TRegistry(REGSAM Access) : FAccess(Access) {}

TRegistry::~TRegistry() {
    CloseKey();
}

void TRegistry::SetRootKey(HKEY Value) {
    if (Value == FRootKey)
        return;
    CloseKey();
    FRootKey = Value;
}

HKEY TRegistry::BaseKeyFor(bool Relative) const {
    return (Relative && FCurrentKey) ? FCurrentKey : FRootKey;
}

void TRegistry::ChangeKey(HKEY Key, const std::string &Path) {
    CloseKey();
    FCurrentKey = Key;
    FCurrentPath = Path;
}

bool TRegistry::OpenKey(const std::string &Key, bool CanCreate) {
    const bool Relative = IsRelativeKey(Key);
    const std::string SubKey = StripTrailingBackslash(StripLeadingBackslash(Key));
    HKEY Opened = nullptr;
    LONG Status;
    if (!CanCreate || SubKey.empty())
        Status = RegOpenKeyExA(BaseKeyFor(Relative), SubKey.c_str(), 0, FAccess, &Opened);
    else
        Status = RegCreateKeyExA(BaseKeyFor(Relative), SubKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 FAccess, nullptr, &Opened, nullptr);
    if (Status != ERROR_SUCCESS)
        return false;
    std::string Path = SubKey;
    if (Relative && FCurrentKey && !FCurrentPath.empty())
        Path = SubKey.empty() ? FCurrentPath : FCurrentPath + "\\" + SubKey;
    ChangeKey(Opened, Path);
    return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string &Key) {
    const REGSAM Saved = FAccess;
    FAccess = KEY_READ;
    bool Result = false;
    try {
        Result = OpenKey(Key, false);
    } catch (...) {
        FAccess = Saved;
        throw;
    }
    FAccess = Saved;
    return Result;
}

void TRegistry::CloseKey() {
    if (FCurrentKey) {
        RegCloseKey(FCurrentKey);
        FCurrentKey = nullptr;
    }
    FCurrentPath.clear();
}

bool TRegistry::KeyExists(const std::string &Key) {
    const std::string SubKey = StripTrailingBackslash(StripLeadingBackslash(Key));
    HKEY Opened;
    if (RegOpenKeyExA(BaseKeyFor(IsRelativeKey(Key)), SubKey.c_str(), 0, KEY_READ, &Opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(Opened);
    return true;
}

bool TRegistry::CreateKey(const std::string &Key) {
    const std::string SubKey = StripTrailingBackslash(StripLeadingBackslash(Key));
    HKEY Created;
    if (SubKey.empty() ||
        RegCreateKeyExA(BaseKeyFor(IsRelativeKey(Key)), SubKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        FAccess, nullptr, &Created, nullptr) != ERROR_SUCCESS)
        return false;
    RegCloseKey(Created);
    return true;
}

bool TRegistry::DeleteKey(const std::string &Key) {
    const std::string SubKey = StripTrailingBackslash(StripLeadingBackslash(Key));
    if (SubKey.empty())
        return false;
    const HKEY Base = BaseKeyFor(IsRelativeKey(Key));
    HKEY Opened;
    if (RegOpenKeyExA(Base, SubKey.c_str(), 0, KEY_ALL_ACCESS, &Opened) == ERROR_SUCCESS) {
        DeleteSubKeys(Opened);
        RegCloseKey(Opened);
    }
    return RegDeleteKeyA(Base, SubKey.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::ValueExists(const std::string &Name) {
    return RegQueryValueExA(ValueKey(), Name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

TRegDataType TRegistry::GetDataType(const std::string &Name) {
    DWORD Type = REG_NONE;
    if (RegQueryValueExA(ValueKey(), Name.c_str(), nullptr, &Type, nullptr, nullptr) != ERROR_SUCCESS)
        return rdUnknown;
    return DataTypeOf(Type);
}

int TRegistry::GetDataSize(const std::string &Name) {
    DWORD Size = 0;
    if (RegQueryValueExA(ValueKey(), Name.c_str(), nullptr, nullptr, nullptr, &Size) != ERROR_SUCCESS)
        return -1;
    return static_cast<int>(Size);
}

bool TRegistry::DeleteValue(const std::string &Name) {
    return RegDeleteValueA(ValueKey(), Name.c_str()) == ERROR_SUCCESS;
}

void TRegistry::GetValueNames(TStrings &Strings) {
    Strings.Clear();
    DWORD MaxLength = 0;
    if (RegQueryInfoKeyA(ValueKey(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &MaxLength, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<char> Name(MaxLength + 1);
    for (DWORD Index = 0;; ++Index) {
        DWORD Length = static_cast<DWORD>(Name.size());
        if (RegEnumValueA(ValueKey(), Index, Name.data(), &Length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        Strings.Add(std::string(Name.data(), Length));
    }
}

void TRegistry::GetKeyNames(TStrings &Strings) {
    Strings.Clear();
    for (DWORD Index = 0;; ++Index) {
        char Name[256];
        DWORD Length = sizeof(Name);
        if (RegEnumKeyExA(ValueKey(), Index, Name, &Length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        Strings.Add(std::string(Name, Length));
    }
}

void TRegistry::ReadData(const std::string &Name, DWORD Expected1, DWORD Expected2, void *Buffer,
                         DWORD &Size) {
    DWORD Type = REG_NONE;
    DWORD Needed = 0;
    if (RegQueryValueExA(ValueKey(), Name.c_str(), nullptr, &Type, nullptr, &Needed) != ERROR_SUCCESS)
        throw ERegistryException("Failed to get data for '%s'", Name);
    if (Type != Expected1 && Type != Expected2)
        throw ERegistryException("Invalid data type for '%s'", Name);
    if (Needed > Size)
        throw ERegistryException("Failed to get data for '%s'", Name);
    if (RegQueryValueExA(ValueKey(), Name.c_str(), nullptr, &Type, static_cast<BYTE *>(Buffer), &Size) !=
        ERROR_SUCCESS)
        throw ERegistryException("Failed to get data for '%s'", Name);
    if (Type != Expected1 && Type != Expected2)
        throw ERegistryException("Invalid data type for '%s'", Name);
}

std::string TRegistry::ReadString(const std::string &Name) {
    const int Size = GetDataSize(Name);
    if (Size <= 0)
        return std::string();
    // No setting is anywhere near this; a larger value is damaged and not worth the memory.
    constexpr int kMaxStringSize = 16 * 1024 * 1024;
    if (Size > kMaxStringSize)
        throw ERegistryException("Failed to get data for '%s'", Name);
    // The value may change between the two queries; ReadData refuses data that grew.
    std::vector<char> Buffer(static_cast<std::size_t>(Size) + 1, '\0');
    DWORD Length = static_cast<DWORD>(Size);
    ReadData(Name, REG_SZ, REG_EXPAND_SZ, Buffer.data(), Length);
    // Stored strings may or may not carry their terminating zero; stop at the first.
    std::size_t End = 0;
    while (End < Length && Buffer[End] != '\0')
        ++End;
    return std::string(Buffer.data(), End);
}

int32_t TRegistry::ReadInteger(const std::string &Name) {
    uint8_t Bytes[4] = {};
    DWORD Size = sizeof(Bytes);
    ReadData(Name, REG_DWORD, REG_DWORD, Bytes, Size);
    if (Size != sizeof(Bytes))
        throw ERegistryException("Invalid data type for '%s'", Name);
    return static_cast<int32_t>(uint32_t(Bytes[0]) | (uint32_t(Bytes[1]) << 8) | (uint32_t(Bytes[2]) << 16) |
                                (uint32_t(Bytes[3]) << 24));
}

int TRegistry::ReadBinaryData(const std::string &Name, void *Buffer, int BufSize) {
    if (BufSize < 0)
        BufSize = 0;
    DWORD Size = static_cast<DWORD>(BufSize);
    ReadData(Name, REG_BINARY, REG_NONE, Buffer, Size);
    return static_cast<int>(Size);
}

void TRegistry::WriteData(const std::string &Name, DWORD Type, const void *Buffer, DWORD Size) {
    if (RegSetValueExA(ValueKey(), Name.c_str(), 0, Type, static_cast<const BYTE *>(Buffer), Size) !=
        ERROR_SUCCESS)
        throw ERegistryException("Failed to set data for '%s'", Name);
}

void TRegistry::WriteString(const std::string &Name, const std::string &Value) {
    WriteData(Name, REG_SZ, Value.c_str(), static_cast<DWORD>(Value.size() + 1));
}

void TRegistry::WriteExpandString(const std::string &Name, const std::string &Value) {
    WriteData(Name, REG_EXPAND_SZ, Value.c_str(), static_cast<DWORD>(Value.size() + 1));
}

void TRegistry::WriteInteger(const std::string &Name, int32_t Value) {
    const uint32_t Bits = static_cast<uint32_t>(Value);
    const uint8_t Bytes[4] = {uint8_t(Bits), uint8_t(Bits >> 8), uint8_t(Bits >> 16), uint8_t(Bits >> 24)};
    WriteData(Name, REG_DWORD, Bytes, sizeof(Bytes));
}

void TRegistry::WriteBinaryData(const std::string &Name, const void *Buffer, int BufSize) {
    WriteData(Name, REG_BINARY, Buffer, static_cast<DWORD>(BufSize < 0 ? 0 : BufSize));
}
