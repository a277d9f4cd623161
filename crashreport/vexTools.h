// System tools of the crash library: operating-system version, file versions, hidden per-thread
// message-handler windows, module and export look-up, the call thunk and method-name unmangling.
// Nothing here raises for bad input: look-ups give null or empty results.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct OsVersionRecord {
    std::uint32_t MajorVersion = 0;
    std::uint32_t MinorVersion = 0;
    std::uint32_t BuildNumber = 0;
    std::string ServicePack;
    bool Is9x = false;
    std::uint8_t Kind9x = 0;
    bool IsNT = false;
    std::uint8_t KindNT = 0;
    std::uint8_t Kind = 0;
    std::uint32_t ServicePackNumber = 0;
    std::string Description;
};

// The kind index (0..12) for an NT version; the 9x family does not run this program.
std::uint8_t NtVersionKind(std::uint32_t Major, std::uint32_t Minor);
const char *OsKindName(std::uint8_t Kind);
// Fills the record from the parts the system reports (kept apart so that it can be tested).
OsVersionRecord MakeNtVersionRecord(std::uint32_t Major, std::uint32_t Minor, std::uint32_t Build,
                                    const std::string &ServicePack);
OsVersionRecord GetOsVersion();

std::uint64_t FileVersion(const std::string &FileName);
// "a.b.c.d", most significant part first.
std::string VersionText(std::uint64_t Version);

// 17 bytes of executable memory that push Value as an extra first stack argument and jump to Target
// (for stdcall targets). Never freed; null when no memory could be had.
void *MakeCallThunk(std::uint32_t Value, void *Target);

// Message handlers on hidden per-thread windows. A handler may change Result.
using TMessageProc = void (*)(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam, LRESULT &Result);
using TMessageMethodCode = void (*)(void *Object, HWND Window, UINT Message, WPARAM WParam, LPARAM LParam,
                                    LRESULT &Result);
struct TMessageMethod {
    TMessageMethodCode Code = nullptr;
    void *Object = nullptr;
    bool operator==(const TMessageMethod &) const = default;
};

HWND ThreadHandlerWindow(DWORD ThreadId);
UINT AddMessageHandler(TMessageProc Proc, UINT Message, DWORD ThreadId, TMessageMethod Method = {});
void RemoveMessageHandler(TMessageProc Proc, UINT Message, DWORD ThreadId, TMessageMethod Method = {});

// True when the range [Address, Address + Size) lies in committed, readable memory.
bool IsReadableRange(const void *Address, std::size_t Size);
bool FindModuleOfAddress(const void *Address, HMODULE &Module, std::string &FileName);
const IMAGE_NT_HEADERS32 *ImageNtHeaders(HMODULE Module);
// The data directory's contents, or null; Size (when given) receives the directory's size.
const void *ImageDirectory(HMODULE Module, unsigned Index, std::uint32_t *Size = nullptr);
void *ExportAddressByName(HMODULE Module, const std::string &Name);
void *ExportAddressByOrdinal(HMODULE Module, std::uint32_t Ordinal);
// The export's name ('#' and the ordinal for one without a name), or empty.
std::string ExportNameOfAddress(HMODULE Module, const void *Address, bool Qualify);
// '@Unit@TList@Add$qqrv' becomes 'TList.Add' with the unit 'Unit'.
bool UnmangleMethodName(std::string &Name, std::string &Unit);

std::uint32_t TicksSince(std::uint32_t Start);

// Module end: closes the handler list's mutex and clears the list (handler windows still registered
// are left alone).
void FinalizeVexTools();
// The same rule for a given current tick count.
std::uint32_t TicksBetween(std::uint32_t Start, std::uint32_t Now);
