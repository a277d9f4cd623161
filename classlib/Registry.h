// Registry accessor of the class library: one current key under a root key, typed reads and
// writes of its values.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Classes.h"
#include "SysUtils.h"

DECLARE_EXCEPTION(ERegistryException, Exception);

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

class TRegistry : public TObject {
public:
    // Access rights used for keys opened with OpenKey (KEY_ALL_ACCESS by default).
    explicit TRegistry(REGSAM Access = KEY_ALL_ACCESS);
    ~TRegistry() override;
    TRegistry(const TRegistry &) = delete;
    TRegistry &operator=(const TRegistry &) = delete;
    DECLARE_CLASS_NAME(TRegistry)

    // The root key (HKEY_CURRENT_USER at first). Changing it closes the current key.
    HKEY RootKey() const { return FRootKey; }
    void SetRootKey(HKEY Value);
    HKEY CurrentKey() const { return FCurrentKey; }
    // Path of the current key below the root, without a leading backslash.
    const std::string &CurrentPath() const { return FCurrentPath; }

    // A key beginning with '\' is taken from the root; any other key is relative to the
    // current key when one is open, else to the root. On success the opened key becomes the
    // current key; on failure the current key is unchanged.
    bool OpenKey(const std::string &Key, bool CanCreate);
    bool OpenKeyReadOnly(const std::string &Key);
    void CloseKey();
    bool KeyExists(const std::string &Key);
    bool CreateKey(const std::string &Key);
    // Deletes the key with all its subkeys.
    bool DeleteKey(const std::string &Key);

    // Value operations work on the current key (the root when none is open).
    bool ValueExists(const std::string &Name);
    // rdUnknown for a missing value or a type of no other kind.
    TRegDataType GetDataType(const std::string &Name);
    // Size in bytes of the value's data, -1 when it is missing.
    int GetDataSize(const std::string &Name);
    bool DeleteValue(const std::string &Name);
    void GetValueNames(TStrings &Strings);
    void GetKeyNames(TStrings &Strings);

    // Reads raise ERegistryException "Invalid data type for '%s'" when the stored value is of
    // another type, and "Failed to get data for '%s'" when it cannot be read (missing value).
    // ReadString returns an empty text for a missing value.
    std::string ReadString(const std::string &Name);
    int32_t ReadInteger(const std::string &Name);
    // Copies at most BufSize bytes; a larger value raises. Returns the size read.
    int ReadBinaryData(const std::string &Name, void *Buffer, int BufSize);

    // Writes raise ERegistryException "Failed to set data for '%s'" on failure.
    void WriteString(const std::string &Name, const std::string &Value);
    void WriteExpandString(const std::string &Name, const std::string &Value);
    void WriteInteger(const std::string &Name, int32_t Value);
    void WriteBinaryData(const std::string &Name, const void *Buffer, int BufSize);

private:
    HKEY BaseKeyFor(bool Relative) const;
    HKEY ValueKey() const { return FCurrentKey ? FCurrentKey : FRootKey; }
    void ChangeKey(HKEY Key, const std::string &Path);
    void ReadData(const std::string &Name, DWORD Expected1, DWORD Expected2, void *Buffer, DWORD &Size);
    void WriteData(const std::string &Name, DWORD Type, const void *Buffer, DWORD Size);

    HKEY FRootKey = HKEY_CURRENT_USER;
    HKEY FCurrentKey = nullptr;
    std::string FCurrentPath;
    REGSAM FAccess;
};
