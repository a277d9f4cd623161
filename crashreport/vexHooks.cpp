#include "vexHooks.h"

#include <cstring>
#include <exception>
#include <vector>

#include "SysUtils.h"
#include "vexBugReport.h"
#include "vexCrypt.h"
#include "vexDisAsm.h"
#include "vexHandler.h"
#include "vexMapFile.h"
#include "vexSettings.h"
#include "vexStrings.h"
#include "vexThreadHooks.h"
#include "vexThreads.h"
#include "vexTools.h"

// The class library's application routines that the message loop and the window procedures call
// for an exception that escaped an event handler, and the one that shows its message.
extern "C" void ApplicationHandleException() asm("__ZN12TApplication15HandleExceptionEP7TObject");
extern "C" void
ApplicationShowException() asm("__ZN12TApplication13ShowExceptionENSt15__exception_ptr13exception_ptrE");

namespace {

struct TPatch {
    std::uint8_t *Address;
    std::vector<std::uint8_t> Old, New;
};
std::vector<TPatch> *Patches = nullptr;

bool Installed = false;
LPTOP_LEVEL_EXCEPTION_FILTER PreviousFilter = nullptr;
std::terminate_handler PreviousTerminate = nullptr;

bool InstallCondition() {
    const TExceptSettings &settings = ExceptSettings();
    return (settings.CatchExceptions && settings.HookRunTime) || settings.FreezeTimeout >= 1;
}

// After a fault the processor state is the faulting code's: clear the direction flag and reset the
// floating-point unit.
void ResetProcessorState() {
    asm volatile("cld");
    ResetFloatingPointUnit();
}

std::string AddressText(std::uintptr_t Address) {
    return HexText(static_cast<std::uint32_t>(Address), 1, '0');
}

// Replaces the first remaining occurrence of Placeholder.
void ReplaceFirst(std::string &Text, const char *Placeholder, const std::string &Value) {
    const std::size_t at = Text.find(Placeholder);
    if (at != std::string::npos)
        Text.replace(at, std::strlen(Placeholder), Value);
}

std::string AccessViolationText(const EXCEPTION_RECORD &Record) {
    const auto address = reinterpret_cast<std::uintptr_t>(Record.ExceptionAddress);
    std::string module;
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(Record.ExceptionAddress, &info, sizeof(info)) == sizeof(info) &&
        info.State == MEM_COMMIT) {
        char name[MAX_PATH + 1] = {};
        if (GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), name, MAX_PATH))
            module = FileNameOfPath(name);
    }
    std::string text = module.empty() ? "Access violation at address %p. %s of address %p"
                                      : "Access violation at address %p in module '%s'. %s of address %p";
    ReplaceFirst(text, "%p", AddressText(address));
    if (!module.empty())
        ReplaceFirst(text, "%s", module);
    const bool write = Record.NumberParameters >= 1 && Record.ExceptionInformation[0] != 0;
    ReplaceFirst(text, "%s", write ? "Write" : "Read");
    const std::uintptr_t accessed = Record.NumberParameters >= 2 ? Record.ExceptionInformation[1] : 0;
    ReplaceFirst(text, "%p", AddressText(accessed));
    return text;
}

// The outermost filter: a fault that nothing else handled. A worker thread's report can continue
// (the thread then ends, the process goes on); the main thread's cannot.
LONG WINAPI OutermostFilter(EXCEPTION_POINTERS *Pointers) {
    const EXCEPTION_RECORD &record = *Pointers->ExceptionRecord;
    if (record.ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return EXCEPTION_CONTINUE_SEARCH;
    ResetProcessorState();
    if (GetCurrentThreadId() == HandlerThreadId())
        CloseApplication(); // the reporting machinery itself failed: nothing could report this
    const bool mainThread = GetCurrentThreadId() == ReportMainThreadId();
    HandleProcessorException(record, *Pointers->ContextRecord, !mainThread);
    if (mainThread)
        CloseApplication();
    SetThreadInfo(GetCurrentThreadId(), nullptr, "", "", nullptr, 0);
    ExitThread(0);
}

// An exception that no catch block takes (or a run-time failure without one) ends the program.
[[noreturn]] void TerminateHook() {
    HandleException(false, nullptr, nullptr, false, 0, 0, nullptr);
    CloseApplication();
}

// The application's exception handler: an exception escaped an event handler or a window
// procedure; the program can go on.
__attribute__((thiscall)) void HookApplicationHandleException(void *, void *) {
    if (HWND capture = GetCapture())
        SendMessageA(capture, WM_CANCELMODE, 0, 0);
    HandleException(false, nullptr, nullptr, true, 0, 0, nullptr);
}

// The application's routine that shows an exception's message.
__attribute__((thiscall)) void HookApplicationShowException(void *, std::exception_ptr Object) {
    HandleException(false, Object, nullptr, true, 0, 0, nullptr);
}

// Two passes of the stored password's cipher; both counters are this program's own.
constexpr std::uint32_t PasswordCounterServer = 0x4F56A1C3;
constexpr std::uint32_t PasswordCounterAccount = 0x7B2E905D;

} // namespace

void ResetFloatingPointUnit() {
    const unsigned short controlWord = 0x037F;
    asm volatile("fninit\n\tfldcw %0" : : "m"(controlWord));
}

bool PatchCode(void *Address, const void *NewBytes, std::size_t Length) {
    auto *code = static_cast<std::uint8_t *>(Address);
    std::vector<std::uint8_t> old(Length);
    if (!Address || !SafeReadMemory(code, old.data(), Length, nullptr))
        return false;
    if (std::memcmp(old.data(), NewBytes, Length) == 0)
        return false;
    DWORD previous = 0;
    if (!VirtualProtect(code, Length, PAGE_EXECUTE_READWRITE, &previous))
        return false;
    std::memcpy(code, NewBytes, Length);
    FlushInstructionCache(GetCurrentProcess(), code, Length);
    if (!Patches)
        Patches = new std::vector<TPatch>();
    const auto *bytes = static_cast<const std::uint8_t *>(NewBytes);
    Patches->push_back({code, std::move(old), std::vector<std::uint8_t>(bytes, bytes + Length)});
    return true;
}

bool HookCode(void *Routine, void *Hook) {
    auto *code = static_cast<std::uint8_t *>(Routine);
    std::uint8_t start[6] = {};
    if (!code || !SafeReadMemory(code, start, sizeof(start), nullptr))
        return false;
    if (start[0] == 0xFF && start[1] == 0x25) {
        // An import stub: hook the routine that its cell names.
        std::uint32_t cell = 0, target = 0;
        std::memcpy(&cell, start + 2, 4);
        if (!SafeReadMemory(reinterpret_cast<void *>(cell), &target, 4, nullptr))
            return false;
        code = reinterpret_cast<std::uint8_t *>(target);
    }
    std::uint8_t jump[5] = {0xE9};
    const std::uint32_t displacement = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(Hook) -
                                                                  reinterpret_cast<std::uintptr_t>(code) - 5);
    std::memcpy(jump + 1, &displacement, 4);
    return PatchCode(code, jump, sizeof(jump));
}

bool PatchCallTarget(void *Operand, void *Target) {
    DWORD previous = 0;
    if (!VirtualProtect(Operand, 4, PAGE_EXECUTE_READWRITE, &previous))
        return false;
    const std::uint32_t displacement = static_cast<std::uint32_t>(
        reinterpret_cast<std::uintptr_t>(Target) - reinterpret_cast<std::uintptr_t>(Operand) - 4);
    return PatchCode(Operand, &displacement, 4);
}

void UndoPatches() {
    if (!Patches)
        return;
    for (const TPatch &patch : *Patches) {
        std::vector<std::uint8_t> now(patch.New.size());
        if (!SafeReadMemory(patch.Address, now.data(), now.size(), nullptr) || now != patch.New)
            continue; // changed again by someone else since: theirs now
        DWORD previous = 0;
        if (!VirtualProtect(patch.Address, now.size(), PAGE_EXECUTE_READWRITE, &previous))
            continue;
        std::memcpy(patch.Address, patch.Old.data(), patch.Old.size());
        FlushInstructionCache(GetCurrentProcess(), patch.Address, patch.Old.size());
    }
    Patches->clear();
}

std::size_t PatchCount() {
    return Patches ? Patches->size() : 0;
}

std::string HardwareExceptionText(const EXCEPTION_RECORD &Record) {
    switch (Record.ExceptionCode) {
    case 0xC0000005:
        return AccessViolationText(Record);
    case 0xC000008C:
        return "Range check error";
    case 0xC000008D:
    case 0xC0000093:
        return "Floating point underflow";
    case 0xC000008E:
        return "Floating point division by zero";
    case 0xC000008F:
    case 0xC0000090:
    case 0xC0000092:
        return "Invalid floating point operation";
    case 0xC0000091:
        return "Floating point overflow";
    case 0xC0000094:
        return "Division by zero";
    case 0xC0000095:
        return "Integer overflow";
    case 0xC0000096:
        return "Privileged instruction";
    case 0xC00000FD:
        return "Stack overflow";
    case 0xC000013A:
        return "Control-C hit";
    default: {
        return "External exception " +
               UpperCaseText(HexText(static_cast<std::uint32_t>(Record.ExceptionCode), 1, '0').substr(1));
    }
    }
}

void InstallCrashHooks() {
    if (Installed || !InstallCondition())
        return;
    TExceptSettings &settings = ExceptSettings();
    if (!settings.SmtpPassword.empty()) {
        std::string password = settings.SmtpPassword;
        DecipherText(password, settings.SmtpServer, PasswordCounterServer);
        DecipherText(password, settings.SmtpAccount, PasswordCounterAccount);
        settings.SmtpPassword = password.substr(0, 75);
    }
    if (!InitializeVexThreads()) {
        // Without the thread table the library cannot hold or name threads: the program runs on
        // without its hooks rather than with half of them.
        OutputDebugStringA("vexExcept: internal error, crash reports are off");
        return;
    }
    SetThreadName(GetCurrentThreadId(), "main thread");
    InitializeVexBugReport();
    // The program's own map is read now, from the ordinary heap: a report reads from its own heap.
    GetModuleMap(reinterpret_cast<const void *>(&InstallCrashHooks));
    Installed = true;
    if (settings.CatchExceptions && settings.HookRunTime) {
        PreviousFilter = SetUnhandledExceptionFilter(OutermostFilter);
        PreviousTerminate = std::set_terminate(TerminateHook);
        HookCode(reinterpret_cast<void *>(&ApplicationHandleException),
                 reinterpret_cast<void *>(&HookApplicationHandleException));
        HookCode(reinterpret_cast<void *>(&ApplicationShowException),
                 reinterpret_cast<void *>(&HookApplicationShowException));
    }
    if (settings.CatchExceptions || settings.FreezeTimeout >= 1) {
        StartHandlerThread();
        RegisterMainThreadHandler();
        if (settings.CatchExceptions) {
            InstallThreadHooks();
            InstallThreadNaming();
        }
    }
    if (settings.FreezeTimeout > 0)
        StartFreezeWatchdog(settings.FreezeTimeout, HandleFreeze);
}

void UninstallCrashHooks() {
    if (!Installed)
        return;
    Installed = false;
    UndoPatches();
    const TExceptSettings &settings = ExceptSettings();
    if (settings.CatchExceptions && settings.HookRunTime) {
        SetUnhandledExceptionFilter(PreviousFilter);
        std::set_terminate(PreviousTerminate);
    }
    StopFreezeWatchdog();
    RemoveThreadHooks();
    RemoveThreadNaming();
    UnregisterMainThreadHandler();
    StopHandlerThread();
    FinalizeVexThreads();
}

bool CrashHooksInstalled() {
    return Installed;
}

void InitializeVexExcept() {
    WaitForRestartedPredecessor();
    InstallCrashHooks();
}

void FinalizeVexExcept() {
    UninstallCrashHooks();
}
