#include "vexTools.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "vexStrings.h"

// ---------------------------------------------------------------------------------------------
// Operating-system version

namespace {
const char *const KindNames[] = {"None",          "Windows 95",   "Windows 95 OSR-2", "Windows 98",
                                 "Windows 98 SE", "Windows ME",   "Windows 9x New",   "Windows NT 3",
                                 "Windows NT 4",  "Windows 2000", "Windows XP",       "Windows 2003",
                                 "Windows NT New"};
} // namespace

const char *OsKindName(std::uint8_t Kind) {
    return Kind < 13 ? KindNames[Kind] : KindNames[0];
}

std::uint8_t NtVersionKind(std::uint32_t Major, std::uint32_t Minor) {
    if (Major < 4)
        return 7;
    if (Major == 4)
        return 8;
    if (Major == 5 && Minor <= 2)
        return static_cast<std::uint8_t>(9 + Minor);
    return 12;
}

OsVersionRecord MakeNtVersionRecord(std::uint32_t Major, std::uint32_t Minor, std::uint32_t Build,
                                    const std::string &ServicePack) {
    OsVersionRecord record;
    record.MajorVersion = Major;
    record.MinorVersion = Minor;
    record.BuildNumber = Build;
    record.ServicePack = ServicePack.substr(0, 128);
    record.IsNT = true;
    record.KindNT = NtVersionKind(Major, Minor);
    record.Kind = record.KindNT;
    if (record.ServicePack.size() >= 14) {
        const std::string number = record.ServicePack.substr(13);
        record.ServicePackNumber =
            static_cast<std::uint32_t>(ParseInteger(false, number.data(), static_cast<int>(number.size())));
    }
    record.Description = OsKindName(record.Kind);
    if (!record.ServicePack.empty())
        record.Description += " " + record.ServicePack;
    return record;
}

OsVersionRecord GetOsVersion() {
    // Filled once; two first calls at once compute the same values.
    static OsVersionRecord record;
    static volatile LONG filled = 0;
    if (!filled) {
        OSVERSIONINFOW info = {};
        info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        GetVersionExW(&info);
#pragma GCC diagnostic pop
        std::string servicePack;
        for (const wchar_t *p = info.szCSDVersion; *p; ++p)
            servicePack.push_back(static_cast<char>(*p & 0xFF));
        record =
            MakeNtVersionRecord(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, servicePack);
        filled = 1;
    }
    return record;
}

// ---------------------------------------------------------------------------------------------
// File version

std::uint64_t FileVersion(const std::string &FileName) {
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(FileName.c_str(), &handle);
    if (size == 0)
        return 0;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(FileName.c_str(), 0, size, data.data()))
        return 0;
    VS_FIXEDFILEINFO *info = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&info), &length) || !info ||
        length < sizeof(VS_FIXEDFILEINFO))
        return 0;
    return (static_cast<std::uint64_t>(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
}

std::string VersionText(std::uint64_t Version) {
    return IntegerText(static_cast<std::uint32_t>(Version >> 48)) + "." +
           IntegerText(static_cast<std::uint32_t>((Version >> 32) & 0xFFFF)) + "." +
           IntegerText(static_cast<std::uint32_t>((Version >> 16) & 0xFFFF)) + "." +
           IntegerText(static_cast<std::uint32_t>(Version & 0xFFFF));
}

// ---------------------------------------------------------------------------------------------
// Call thunk

void *MakeCallThunk(std::uint32_t Value, void *Target) {
    static HANDLE heap = HeapCreate(HEAP_CREATE_ENABLE_EXECUTE, 0, 0);
    if (!heap)
        return nullptr;
    auto *code = static_cast<std::uint8_t *>(HeapAlloc(heap, 0, 17));
    if (!code)
        return nullptr;
    const std::uint32_t cell = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(code + 13));
    const std::uint32_t target = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Target));
    code[0] = 0x58; // pop eax: the return address
    code[1] = 0x68; // push Value
    std::memcpy(code + 2, &Value, 4);
    code[6] = 0x50; // push eax
    code[7] = 0xFF; // jmp [cell]
    code[8] = 0x25;
    std::memcpy(code + 9, &cell, 4);
    std::memcpy(code + 13, &target, 4);
    FlushInstructionCache(GetCurrentProcess(), code, 17);
    return code;
}

// ---------------------------------------------------------------------------------------------
// Message-handler windows

namespace {

struct THandlerEntry {
    UINT Message;
    TMessageProc Proc;
    TMessageMethod Method;
};

struct TThreadWindowEntry {
    DWORD ThreadId;
    HWND Window;
    std::vector<THandlerEntry> Handlers;
};

HANDLE HandlerMutex = nullptr;
std::vector<TThreadWindowEntry> *HandlerList = nullptr;

std::string HandlerSuffix() {
    return HexText(static_cast<std::uint32_t>(GetCurrentThreadId()), 1, '0') +
           HexText(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(&ThreadHandlerWindow)), 1,
                   '0');
}

bool LockHandlers(bool create) {
    if (!HandlerMutex) {
        if (!create)
            return false;
        HANDLE mutex = CreateMutexA(nullptr, FALSE, ("vexToolsMsgHandlerMutex" + HandlerSuffix()).c_str());
        if (!mutex)
            return false;
        if (InterlockedCompareExchangePointer(&HandlerMutex, mutex, nullptr) != nullptr)
            CloseHandle(mutex);
    }
    WaitForSingleObject(HandlerMutex, INFINITE);
    if (!HandlerList)
        HandlerList = new std::vector<TThreadWindowEntry>();
    return true;
}

void UnlockHandlers() {
    ReleaseMutex(HandlerMutex);
}

TThreadWindowEntry *FindThread(DWORD threadId) {
    for (TThreadWindowEntry &entry : *HandlerList)
        if (entry.ThreadId == threadId)
            return &entry;
    return nullptr;
}

bool IsForwardedMessage(UINT message) {
    static const UINT messages[] = {0x11, 0x12, 0x15, 0x16, 0x17, 0x1A, 0x1B, 0x1C, 0x1D,
                                    0x1E, 0x2A, 0x41, 0x48, 0x50, 0x51, 0x54, 0x7E};
    return message >= 0x218 ||
           std::find(std::begin(messages), std::end(messages), message) != std::end(messages);
}

LRESULT CALLBACK HandlerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = DefWindowProcA(window, message, wParam, lParam);
    if (!IsForwardedMessage(message) || !LockHandlers(false))
        return result;
    std::vector<THandlerEntry> handlers;
    for (const TThreadWindowEntry &entry : *HandlerList)
        if (entry.Window == window)
            handlers = entry.Handlers;
    UnlockHandlers();
    // Called outside the lock on a copy, so that a handler may add or remove handlers.
    for (const THandlerEntry &handler : handlers) {
        if (handler.Message != message)
            continue;
        if (handler.Proc)
            handler.Proc(window, message, wParam, lParam, result);
        else if (handler.Method.Code)
            handler.Method.Code(handler.Method.Object, window, message, wParam, lParam, result);
    }
    return result;
}

} // namespace

HWND ThreadHandlerWindow(DWORD ThreadId) {
    const DWORD self = GetCurrentThreadId();
    if (ThreadId == 0)
        ThreadId = self;
    if (!LockHandlers(true))
        return nullptr;
    HWND window = nullptr;
    if (TThreadWindowEntry *entry = FindThread(ThreadId))
        window = entry->Window;
    if (!window && ThreadId == self) {
        const std::string className = "vexToolsMsgHandlerWindow" + HandlerSuffix();
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = HandlerWindowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = className.c_str();
        RegisterClassA(&windowClass);
        window = CreateWindowExA(WS_EX_TOOLWINDOW, className.c_str(), "", WS_POPUP, 0, 0, 0, 0, nullptr,
                                 nullptr, windowClass.hInstance, nullptr);
        if (window) {
            if (TThreadWindowEntry *entry = FindThread(ThreadId))
                entry->Window = window;
            else
                HandlerList->push_back({ThreadId, window, {}});
        }
    }
    UnlockHandlers();
    return window;
}

UINT AddMessageHandler(TMessageProc Proc, UINT Message, DWORD ThreadId, TMessageMethod Method) {
    if (ThreadId == 0)
        ThreadId = GetCurrentThreadId();
    if (!ThreadHandlerWindow(ThreadId) || !LockHandlers(true))
        return 0;
    UINT result = 0;
    if (TThreadWindowEntry *entry = FindThread(ThreadId)) {
        auto used = [&](UINT number) {
            return std::any_of(entry->Handlers.begin(), entry->Handlers.end(),
                               [&](const THandlerEntry &h) { return h.Message == number; });
        };
        if (Message == 0) {
            Message = 0x400;
            while (used(Message))
                ++Message;
        }
        const bool duplicate =
            std::any_of(entry->Handlers.begin(), entry->Handlers.end(), [&](const THandlerEntry &h) {
                return h.Message == Message && h.Proc == Proc && h.Method == Method;
            });
        if (!duplicate) {
            entry->Handlers.push_back({Message, Proc, Method});
            result = Message;
        }
    }
    UnlockHandlers();
    return result;
}

void RemoveMessageHandler(TMessageProc Proc, UINT Message, DWORD ThreadId, TMessageMethod Method) {
    if (ThreadId == 0)
        ThreadId = GetCurrentThreadId();
    if (!LockHandlers(false))
        return;
    HWND closeWindow = nullptr;
    for (std::size_t t = HandlerList->size(); t-- > 0;) {
        TThreadWindowEntry &entry = (*HandlerList)[t];
        if (entry.ThreadId != ThreadId)
            continue;
        for (std::size_t i = entry.Handlers.size(); i-- > 0;) {
            const THandlerEntry &h = entry.Handlers[i];
            if ((Message == 0 || h.Message == Message) && h.Proc == Proc && h.Method == Method) {
                entry.Handlers[i] = entry.Handlers.back();
                entry.Handlers.pop_back();
            }
        }
        if (entry.Handlers.empty() && entry.Window) {
            closeWindow = entry.Window;
            (*HandlerList)[t] = HandlerList->back();
            HandlerList->pop_back();
        }
    }
    UnlockHandlers();
    if (closeWindow) {
        if (ThreadId == GetCurrentThreadId())
            DestroyWindow(closeWindow);
        else
            PostMessageA(closeWindow, WM_CLOSE, 0, 0);
    }
}

// ---------------------------------------------------------------------------------------------
// Modules, PE headers and exports

bool IsReadableRange(const void *Address, std::size_t Size) {
    auto at = reinterpret_cast<std::uintptr_t>(Address);
    if (at == 0 || at + Size < at)
        return false;
    const std::uintptr_t end = at + Size;
    while (at < end) {
        MEMORY_BASIC_INFORMATION info;
        if (VirtualQuery(reinterpret_cast<void *>(at), &info, sizeof info) != sizeof info)
            return false;
        const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_EXECUTE | PAGE_EXECUTE_READ |
                               PAGE_EXECUTE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_WRITECOPY;
        if (info.State != MEM_COMMIT || !(info.Protect & readable) ||
            (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)))
            return false;
        at = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    return true;
}

bool FindModuleOfAddress(const void *Address, HMODULE &Module, std::string &FileName) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(Address, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT ||
        !info.AllocationBase)
        return false;
    wchar_t name[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(info.AllocationBase), name, MAX_PATH);
    if (length == 0)
        return false;
    Module = static_cast<HMODULE>(info.AllocationBase);
    FileName.clear();
    for (DWORD i = 0; i < length; ++i)
        FileName.push_back(static_cast<char>(name[i] & 0xFF));
    return true;
}

const IMAGE_NT_HEADERS32 *ImageNtHeaders(HMODULE Module) {
    const auto *base = reinterpret_cast<const std::uint8_t *>(Module);
    if (!IsReadableRange(base, 0x40) || base[0] != 'M' || base[1] != 'Z')
        return nullptr;
    std::uint32_t offset;
    std::memcpy(&offset, base + 0x3C, 4);
    if (offset > 0x10000000)
        return nullptr;
    const auto *headers = reinterpret_cast<const IMAGE_NT_HEADERS32 *>(base + offset);
    if (!IsReadableRange(headers, sizeof(IMAGE_NT_HEADERS32)) || headers->Signature != IMAGE_NT_SIGNATURE ||
        headers->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC)
        return nullptr;
    return headers;
}

const void *ImageDirectory(HMODULE Module, unsigned Index, std::uint32_t *Size) {
    const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(Module);
    if (!headers || Index >= headers->OptionalHeader.NumberOfRvaAndSizes || Index >= 16)
        return nullptr;
    const IMAGE_DATA_DIRECTORY &directory = headers->OptionalHeader.DataDirectory[Index];
    if (directory.VirtualAddress == 0 ||
        std::uint64_t(directory.VirtualAddress) + directory.Size > headers->OptionalHeader.SizeOfImage)
        return nullptr;
    if (Size)
        *Size = directory.Size;
    return reinterpret_cast<const std::uint8_t *>(Module) + directory.VirtualAddress;
}

namespace {

// The export directory with its three tables, every one checked against the image size.
struct TExportView {
    const std::uint8_t *Base = nullptr;
    std::uint32_t ImageSize = 0;
    std::uint32_t DirectoryRva = 0, DirectorySize = 0;
    const IMAGE_EXPORT_DIRECTORY *Directory = nullptr;
    const std::uint32_t *Functions = nullptr, *Names = nullptr;
    const std::uint16_t *Ordinals = nullptr;
    std::uint32_t FunctionCount = 0, NameCount = 0;

    bool InImage(std::uint32_t rva, std::uint64_t size) const { return rva + size <= ImageSize; }

    bool Open(HMODULE module) {
        const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(module);
        if (!headers)
            return false;
        Base = reinterpret_cast<const std::uint8_t *>(module);
        ImageSize = headers->OptionalHeader.SizeOfImage;
        // Every table and name is checked against the image size; the image must then be readable
        // as far as it claims to reach.
        if (!IsReadableRange(Base, ImageSize))
            return false;
        std::uint32_t size = 0;
        Directory = static_cast<const IMAGE_EXPORT_DIRECTORY *>(ImageDirectory(module, 0, &size));
        if (!Directory || size < sizeof(IMAGE_EXPORT_DIRECTORY))
            return false;
        DirectoryRva = static_cast<std::uint32_t>(reinterpret_cast<const std::uint8_t *>(Directory) - Base);
        DirectorySize = size;
        FunctionCount = Directory->NumberOfFunctions;
        NameCount = Directory->NumberOfNames;
        if (!InImage(Directory->AddressOfFunctions, std::uint64_t(FunctionCount) * 4) ||
            !InImage(Directory->AddressOfNames, std::uint64_t(NameCount) * 4) ||
            !InImage(Directory->AddressOfNameOrdinals, std::uint64_t(NameCount) * 2))
            return false;
        Functions = reinterpret_cast<const std::uint32_t *>(Base + Directory->AddressOfFunctions);
        Names = reinterpret_cast<const std::uint32_t *>(Base + Directory->AddressOfNames);
        Ordinals = reinterpret_cast<const std::uint16_t *>(Base + Directory->AddressOfNameOrdinals);
        return true;
    }

    // The zero-terminated text at an address, bounded by the image.
    bool TextAt(std::uint32_t rva, std::string &text) const {
        text.clear();
        for (std::uint32_t at = rva; at < ImageSize; ++at) {
            if (Base[at] == 0)
                return true;
            text.push_back(static_cast<char>(Base[at]));
        }
        return false;
    }
};

void *ResolveExport(const TExportView &view, std::uint32_t functionRva, int depth);

// The system's own look-up is asked only about modules it has loaded.
bool IsLoadedModule(HMODULE module) {
    wchar_t name[8];
    return module && (GetModuleFileNameW(module, name, 8) > 0 || GetLastError() == ERROR_INSUFFICIENT_BUFFER);
}

void *ResolveForwarder(const std::string &forwarder, int depth) {
    const std::size_t dot = forwarder.find('.');
    if (dot == std::string::npos || depth > 8)
        return nullptr;
    const HMODULE target = GetModuleHandleA((forwarder.substr(0, dot) + ".dll").c_str());
    if (!target)
        return nullptr;
    const std::string function = forwarder.substr(dot + 1);
    TExportView view;
    if (!view.Open(target))
        return nullptr;
    if (!function.empty() && function[0] == '#') {
        const std::uint32_t index =
            static_cast<std::uint32_t>(ParseInteger(false, function.data() + 1, int(function.size()) - 1)) -
            view.Directory->Base;
        return index < view.FunctionCount ? ResolveExport(view, view.Functions[index], depth + 1) : nullptr;
    }
    for (std::uint32_t i = 0; i < view.NameCount; ++i) {
        std::string name;
        if (view.TextAt(view.Names[i], name) && name == function && view.Ordinals[i] < view.FunctionCount)
            return ResolveExport(view, view.Functions[view.Ordinals[i]], depth + 1);
    }
    return nullptr;
}

// The function table entry as the module's file holds it, for an entry that was changed in memory
// to point outside the image. 0 when the file cannot tell.
std::uint32_t FunctionRvaFromFile(const TExportView &view, std::uint32_t index) {
    char fileName[MAX_PATH + 1] = {};
    if (!GetModuleFileNameA(reinterpret_cast<HMODULE>(const_cast<std::uint8_t *>(view.Base)), fileName,
                            MAX_PATH))
        return 0;
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    std::uint32_t result = 0;
    LARGE_INTEGER size;
    HANDLE mapping = GetFileSizeEx(file, &size) && size.HighPart == 0
                         ? CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr)
                         : nullptr;
    const auto *bytes =
        mapping ? static_cast<const std::uint8_t *>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
    if (bytes) {
        const std::uint32_t length = size.LowPart;
        auto fits = [&](std::uint64_t at, std::uint64_t count) { return at + count <= length; };
        auto word = [&](std::uint32_t at) {
            std::uint32_t value = 0;
            std::memcpy(&value, bytes + at, 4);
            return value;
        };
        // A relative address becomes a file offset in the last section that starts at or below it.
        auto fileOffset = [&](std::uint32_t rva, std::uint32_t &offset) {
            const std::uint32_t headers = fits(0x40, 0) ? word(0x3C) : 0;
            if (!fits(headers, 24) || word(headers) != IMAGE_NT_SIGNATURE)
                return false;
            std::uint16_t sections = 0, optionalSize = 0;
            std::memcpy(&sections, bytes + headers + 6, 2);
            std::memcpy(&optionalSize, bytes + headers + 20, 2);
            const std::uint64_t table = std::uint64_t(headers) + 24 + optionalSize;
            bool found = false;
            for (std::uint32_t i = 0; i < sections && fits(table + 40ull * (i + 1), 0); ++i) {
                IMAGE_SECTION_HEADER section;
                std::memcpy(&section, bytes + table + 40ull * i, sizeof section);
                if (section.VirtualAddress <= rva) {
                    offset = rva - section.VirtualAddress + section.PointerToRawData;
                    found = true;
                }
            }
            return found;
        };
        std::uint32_t directory = 0, functions = 0;
        if (fileOffset(view.DirectoryRva, directory) && fits(directory, sizeof(IMAGE_EXPORT_DIRECTORY))) {
            IMAGE_EXPORT_DIRECTORY exports;
            std::memcpy(&exports, bytes + directory, sizeof exports);
            if (index < exports.NumberOfFunctions && fileOffset(exports.AddressOfFunctions, functions) &&
                fits(functions + 4ull * index, 4))
                result = word(functions + 4 * index);
        }
        UnmapViewOfFile(bytes);
    }
    if (mapping)
        CloseHandle(mapping);
    CloseHandle(file);
    return result;
}

void *ResolveExport(const TExportView &view, std::uint32_t functionRva, int depth) {
    if (functionRva == 0 || functionRva >= view.ImageSize)
        return nullptr;
    if (functionRva >= view.DirectoryRva && functionRva < view.DirectoryRva + view.DirectorySize) {
        std::string forwarder;
        return view.TextAt(functionRva, forwarder) ? ResolveForwarder(forwarder, depth) : nullptr;
    }
    return const_cast<std::uint8_t *>(view.Base + functionRva);
}

} // namespace

void *ExportAddressByName(HMODULE Module, const std::string &Name) {
    TExportView view;
    if (view.Open(Module)) {
        for (std::uint32_t i = 0; i < view.NameCount; ++i) {
            std::string name;
            if (!view.TextAt(view.Names[i], name) || name != Name || view.Ordinals[i] >= view.FunctionCount)
                continue;
            std::uint32_t rva = view.Functions[view.Ordinals[i]];
            // An entry redirected in memory (outside the image): the file's entry holds.
            if (rva >= view.ImageSize)
                rva = FunctionRvaFromFile(view, view.Ordinals[i]);
            if (void *address = ResolveExport(view, rva, 0))
                return address;
        }
    }
    return IsLoadedModule(Module) ? reinterpret_cast<void *>(GetProcAddress(Module, Name.c_str())) : nullptr;
}

void *ExportAddressByOrdinal(HMODULE Module, std::uint32_t Ordinal) {
    TExportView view;
    if (view.Open(Module)) {
        const std::uint32_t index = Ordinal - view.Directory->Base;
        if (index < view.FunctionCount && view.Functions[index] != 0) {
            std::uint32_t rva = view.Functions[index];
            if (rva >= view.ImageSize)
                rva = FunctionRvaFromFile(view, index);
            if (void *address = ResolveExport(view, rva, 0))
                return address;
        }
    }
    return IsLoadedModule(Module) && Ordinal <= 0xFFFF
               ? reinterpret_cast<void *>(
                     GetProcAddress(Module, reinterpret_cast<LPCSTR>(std::uintptr_t(Ordinal))))
               : nullptr;
}

std::string ExportNameOfAddress(HMODULE Module, const void *Address, bool Qualify) {
    TExportView view;
    if (!view.Open(Module))
        return std::string();
    const std::uintptr_t offset =
        reinterpret_cast<std::uintptr_t>(Address) - reinterpret_cast<std::uintptr_t>(view.Base);
    if (offset == 0 || offset >= view.ImageSize)
        return std::string();
    for (std::uint32_t index = 0; index < view.FunctionCount; ++index) {
        if (view.Functions[index] != offset)
            continue;
        for (std::uint32_t i = 0; i < view.NameCount; ++i) {
            std::string name;
            if (view.Ordinals[i] == index && view.TextAt(view.Names[i], name)) {
                std::string unit;
                if (Qualify && UnmangleMethodName(name, unit))
                    return unit + "." + name;
                return name;
            }
        }
        return "#" + IntegerText(static_cast<std::uint32_t>(index + view.Directory->Base));
    }
    return std::string();
}

bool UnmangleMethodName(std::string &Name, std::string &Unit) {
    ReplaceSubstring(Name, "::", ".", false);
    if (Name.empty() || Name[0] != '@')
        return false;
    const std::size_t second = Name.find('@', 2);
    if (second == std::string::npos)
        return false;
    Unit = Name.substr(1, second - 1);
    std::string rest = Name.substr(second + 1);
    const std::size_t dollar = rest.find('$');
    bool destructor = false;
    if (dollar != std::string::npos) {
        destructor = dollar + 2 < rest.size() && rest[dollar + 2] == 'd';
        rest.resize(dollar);
    }
    std::replace(rest.begin(), rest.end(), '@', '.');
    if (!rest.empty() && rest.back() == '.')
        rest += destructor ? "Destroy" : "Create";
    Name = rest;
    return true;
}

std::uint32_t TicksBetween(std::uint32_t Start, std::uint32_t Now) {
    return Start <= Now ? Now - Start : Now + (0xFFFFFFFFu - Start);
}

std::uint32_t TicksSince(std::uint32_t Start) {
    return TicksBetween(Start, GetTickCount());
}

void FinalizeVexTools() {
    if (HANDLE mutex = InterlockedExchangePointer(&HandlerMutex, nullptr))
        CloseHandle(mutex);
    delete HandlerList;
    HandlerList = nullptr;
}
