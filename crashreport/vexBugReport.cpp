#include "vexBugReport.h"

#include <cxxabi.h>

#include <algorithm>
#include <memory>
#include <cstdlib>
#include <typeinfo>
#include <vector>

#include "SysUtils.h"
#include "vexDisAsmText.h"
#include "vexDisAsmWalk.h"
#include "vexStackTrace.h"
#include "vexStrings.h"
#include "vexThreads.h"
#include "vexTools.h"

namespace {

// This system's report settings.
constexpr bool ListAllThreads = true;
constexpr bool ListModules = true;
constexpr bool ShowCommandLine = true;
constexpr bool DisassemblyFlag = false;
constexpr int DisassemblyCount = 5;
constexpr const char *LibraryVersion = "2.7b";
constexpr const char *LineEnd = "\r\n";

DWORD StartTicks = 0;
DWORD MainThreadId = 0;

std::string TwoDigits(unsigned value) {
    return IntegerText(static_cast<std::uint32_t>(value), 2, '0');
}

std::string DateTimeText(const SYSTEMTIME &time) {
    return IntegerText(static_cast<std::uint32_t>(time.wYear), 4, '0') + "-" + TwoDigits(time.wMonth) + "-" +
           TwoDigits(time.wDay) + " " + TwoDigits(time.wHour) + ":" + TwoDigits(time.wMinute);
}

std::string Demangled(const char *name) {
    int status = 0;
    char *plain = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    std::string text = status == 0 && plain ? plain : name;
    std::free(plain);
    return text;
}

std::string UserName() {
    char name[261] = {};
    DWORD size = sizeof(name);
    return GetUserNameA(name, &size) ? std::string(name) : std::string();
}

std::string TerminalClientName() {
    constexpr int RemoteSession = 0x1000, ClientNameClass = 10;
    if (GetSystemMetrics(RemoteSession) == 0)
        return "";
    HMODULE library = LoadLibraryA("wtsapi32.dll");
    if (!library)
        return "";
    using TQuery = BOOL(WINAPI *)(HANDLE, DWORD, int, char **, DWORD *);
    using TFree = void(WINAPI *)(void *);
    const auto query = reinterpret_cast<TQuery>(
        reinterpret_cast<void *>(GetProcAddress(library, "WTSQuerySessionInformationA")));
    const auto free =
        reinterpret_cast<TFree>(reinterpret_cast<void *>(GetProcAddress(library, "WTSFreeMemory")));
    std::string text;
    char *buffer = nullptr;
    DWORD size = 0;
    if (query && free && query(nullptr, 0xFFFFFFFF, ClientNameClass, &buffer, &size)) {
        if (buffer && size >= 2)
            text.assign(buffer, size - 1);
        free(buffer);
    }
    FreeLibrary(library);
    return text.c_str(); // up to its terminating zero
}

std::string LanguageName() {
    char name[128] = {};
    return GetLocaleInfoA(0x800, 0x1001, name, sizeof(name)) > 1 ? std::string(name) : std::string();
}

std::string FileTimeText(const std::string &FileName) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(FileName.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return "";
    FindClose(find);
    FILETIME local;
    SYSTEMTIME time;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToSystemTime(&local, &time))
        return "";
    return DateTimeText(time);
}

HMODULE LibraryModule() {
    HMODULE module = nullptr;
    std::string name;
    FindModuleOfAddress(reinterpret_cast<const void *>(&CreateBugReport), module, name);
    return module;
}

// ------------------------------------------------------------------------------------------------
// Thread sections

struct TThreadContext {
    bool Valid = false;
    std::uintptr_t StackTop = 0, StackPointer = 0, FramePointer = 0, InstructionPointer = 0;
};

TThreadContext ReadThreadContext(DWORD ThreadId) {
    TThreadContext result;
    if (ThreadId == GetCurrentThreadId())
        return result; // a thread cannot read its own context: it traces its own stack
    HANDLE thread = OpenThreadById(ThreadId, THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION);
    if (!thread)
        return result;
    CONTEXT context = {};
    context.ContextFlags = 0x10007;
    MEMORY_BASIC_INFORMATION info;
    if (GetThreadContext(thread, &context) &&
        VirtualQuery(reinterpret_cast<void *>(context.Esp), &info, sizeof(info)) == sizeof(info)) {
        result.Valid = true;
        result.StackPointer = context.Esp;
        result.FramePointer = context.Ebp;
        result.InstructionPointer = context.Eip;
        result.StackTop = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
    }
    CloseHandle(thread);
    return result;
}

struct TSectionRequest {
    DWORD ThreadId = 0;
    bool Faulting = false; // forced, marked as the exception thread
    bool HandBack = false;
    std::uintptr_t ExceptAddress = 0, StackPointer = 0, FramePointer = 0;
    bool ProcessorException = false;
    std::uintptr_t *FunctionStart = nullptr, *CodeAddress = nullptr;
    TProgressTracker *Progress = nullptr;
};

std::string ThreadSection(const TSectionRequest &Request) {
    TThreadInfo info;
    const std::string name = ThreadDisplayName(Request.ThreadId, Request.Faulting, &info);
    if (name.empty())
        return "";
    std::string body = Request.Faulting
                           ? "- ??? (" + HexText(static_cast<std::uint32_t>(Request.ExceptAddress)) + ")"
                           : std::string("- ???");
    TTraceInput trace;
    trace.CreatorAddress = reinterpret_cast<std::uintptr_t>(info.CreatorAddress);
    trace.ProcessorException = Request.ProcessorException;
    trace.Progress = Request.Progress;
    trace.ExceptionThread = Request.Faulting && Request.ExceptAddress != 0;
    if (Request.HandBack) {
        trace.HandBackFunctionStart = Request.FunctionStart;
        trace.HandBackCodeAddress = Request.CodeAddress;
    }
    bool traced = false;
    std::string lines;
    if (Request.ThreadId == GetCurrentThreadId() && Request.StackPointer == 0) {
        // The reporting thread itself: its own stack from the report's caller upward.
        trace.StartAddress = Request.ExceptAddress;
        lines = TraceStack(trace);
        traced = true;
    } else {
        const TThreadContext context = ReadThreadContext(Request.ThreadId);
        if (context.Valid || (Request.StackPointer && Request.ThreadId == GetCurrentThreadId())) {
            trace.StackTop = context.Valid ? context.StackTop : CurrentStackBase();
            trace.StackPointer = context.StackPointer;
            trace.FramePointer = context.FramePointer;
            if (Request.Faulting) {
                if (Request.StackPointer)
                    trace.StackPointer = Request.StackPointer;
                if (Request.FramePointer)
                    trace.FramePointer = Request.FramePointer;
                trace.StartAddress = Request.ExceptAddress;
            } else {
                trace.StartAddress = context.InstructionPointer;
            }
            if (!trace.StartAddress)
                trace.StartAddress = context.InstructionPointer;
            lines = TraceStack(trace);
            traced = true;
        }
    }
    if (traced)
        body = lines;
    if (info.CreatorAddress && traced) {
        // The creator's line is the trace's last: the note goes before it.
        const std::string note =
            std::string(LineEnd) + ">> created by " + ThreadDisplayName(info.CreatorThreadId, true) + " at:";
        const std::size_t last = body.rfind('\r');
        if (last == std::string::npos)
            body = note.substr(2) + LineEnd + body;
        else
            body.insert(last, note);
    }
    return std::string(LineEnd) + LineEnd + name + ":" + LineEnd + body;
}

// The weight of a thread's trace for the progress: its used stack.
std::uint64_t StackWeight(DWORD ThreadId) {
    if (ThreadId == GetCurrentThreadId())
        return (CurrentStackBase() - reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0))) * 100ULL;
    const TThreadContext context = ReadThreadContext(ThreadId);
    return context.Valid ? (context.StackTop - context.StackPointer) * 100ULL : 0;
}

std::string ExceptionSection(const TBugReportInput &Input, DWORD FaultingThread,
                             std::uintptr_t &FunctionStart, std::uintptr_t &CodeAddress) {
    std::string text;
    std::vector<TSectionRequest> sections;
    if (Input.Frozen) {
        text = std::string("exception message : ") + FrozenText;
    } else {
        text = "exception class   : " + Input.ExceptionClass;
        const std::string message =
            ReportMessageText(Input.HasException ? Input.ExceptionMessage : Input.ExceptionClass);
        if (message != Input.ExceptionClass)
            text += std::string(LineEnd) + "exception message : " + message + ".";
        TSectionRequest faulting;
        faulting.ThreadId = FaultingThread;
        faulting.Faulting = true;
        faulting.HandBack = true;
        faulting.ExceptAddress = Input.ExceptAddress;
        faulting.StackPointer = Input.StackPointer;
        faulting.FramePointer = Input.FramePointer;
        faulting.ProcessorException = Input.ProcessorException;
        sections.push_back(faulting);
    }
    const DWORD mainThread = MainThreadId ? MainThreadId : FaultingThread;
    if (Input.Frozen || FaultingThread != mainThread) {
        TSectionRequest main;
        main.ThreadId = mainThread;
        main.HandBack = Input.Frozen;
        sections.push_back(main);
    }
    if (ListAllThreads)
        for (DWORD id : GetThreadList()) {
            if ((id == FaultingThread && !Input.Frozen) || id == mainThread || id == FreezeWatchdogThreadId())
                continue;
            TSectionRequest other;
            other.ThreadId = id;
            sections.push_back(other);
        }
    std::unique_ptr<TProgressTracker> progress;
    if (Input.ShowProgress) {
        progress = std::make_unique<TProgressTracker>(GetTickCount());
        progress->UseWindow();
        for (const TSectionRequest &section : sections)
            progress->AddTask(StackWeight(section.ThreadId));
    }
    for (TSectionRequest &section : sections) {
        section.FunctionStart = &FunctionStart;
        section.CodeAddress = &CodeAddress;
        section.Progress = progress.get();
        text += ThreadSection(section);
        if (progress)
            progress->TaskDone(GetTickCount());
    }
    return text;
}

std::string ModulesSection() {
    const std::vector<TLoadedModule> modules = GetModuleList(true);
    std::size_t nameWidth = 0, versionWidth = 0;
    for (const TLoadedModule &module : modules) {
        nameWidth = std::max(nameWidth, module.FileName.size() + 1);
        versionWidth = std::max(versionWidth, module.Version.size() + 1);
    }
    std::string text = "modules:";
    for (const TLoadedModule &module : modules)
        text += LineEnd +
                HexText(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(module.Module)), 8, '0')
                    .substr(1) +
                " " + PadText(module.FileName, -static_cast<int>(nameWidth), ' ') +
                PadText(module.Version, -static_cast<int>(versionWidth), ' ') + module.Folder;
    return text;
}

} // namespace

void DescribeReportException(const std::exception_ptr &Object, TBugReportInput &Input) {
    Input.HasException = Object != nullptr;
    Input.ExceptionClass = "Unknown";
    Input.ExceptionMessage.clear();
    if (!Object)
        return;
    try {
        std::rethrow_exception(Object);
    } catch (const Exception &e) {
        Input.ExceptionClass = e.ClassName();
        Input.ExceptionMessage = e.Message();
    } catch (const std::exception &e) {
        Input.ExceptionClass = Demangled(typeid(e).name());
        Input.ExceptionMessage = e.what();
    } catch (...) {
        Input.ExceptionMessage = Input.ExceptionClass;
    }
}

void InitializeVexBugReport() {
    StartTicks = GetTickCount();
    MainThreadId = GetCurrentThreadId();
}

DWORD ReportMainThreadId() {
    return MainThreadId;
}

std::string HeaderLine(const std::string &Label, const std::string &Value) {
    return PadText(Label, -18, ' ') + ": " + Value + LineEnd;
}

std::string TimeSpanText(std::uint64_t Seconds) {
    const std::uint64_t parts[4] = {Seconds / 86400, (Seconds / 3600) % 24, (Seconds / 60) % 60,
                                    Seconds % 60};
    static const char *const units[4] = {"day", "hour", "minute", "second"};
    int first = 0;
    while (first < 2 && parts[first] == 0)
        ++first;
    std::string text;
    for (int unit = first; unit <= first + 1; ++unit) {
        if (parts[unit] == 0)
            continue;
        if (parts[unit] == 1)
            text += std::string("1 ") + units[unit] + " ";
        else
            text += IntegerText(static_cast<std::int64_t>(parts[unit])) + " " + units[unit] + "s ";
    }
    return text;
}

std::string ReportMessageText(const std::string &Message) {
    std::string text;
    for (char c : Message)
        if (static_cast<unsigned char>(c) >= 32)
            text.push_back(c);
    if (text.empty())
        return "Unknown";
    const std::size_t last = text.find_last_not_of(std::string(".!\0", 3));
    const std::size_t keep = last == std::string::npos ? 1 : last + 2;
    return text.substr(0, std::min(keep, text.size()));
}

std::string DiskText(char Letter) {
    if (Letter == '\\')
        return "";
    const char letter = UpperCaseChar(Letter);
    const std::string root = std::string(1, letter) + ":\\";
    std::int64_t freeBytes = 0;
    ULARGE_INTEGER available, total, totalFree;
    DWORD sectors = 0, bytes = 0, freeClusters = 0, clusters = 0;
    if (GetDiskFreeSpaceExA(root.c_str(), &available, &total, &totalFree))
        freeBytes = static_cast<std::int64_t>(totalFree.QuadPart);
    else if (GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &freeClusters, &clusters))
        freeBytes = static_cast<std::int64_t>(sectors) * bytes * freeClusters;
    return "(" + std::string(1, letter) + ":) " + ByteSizeText(freeBytes);
}

std::string BugReportHeader() {
    std::string text;
    SYSTEMTIME now;
    GetLocalTime(&now);
    text += HeaderLine("date/time", DateTimeText(now));
    text += HeaderLine("computer name", ComputerName());
    if (const std::string client = TerminalClientName(); !client.empty())
        text += HeaderLine("wts client name", client);
    text += HeaderLine("user name", UserName());
    const OsVersionRecord os = GetOsVersion();
    text += HeaderLine("operating system", os.Description + " build " + IntegerText(os.BuildNumber));
    if (const std::string language = LanguageName(); !language.empty())
        text += HeaderLine("system language", language);
    LARGE_INTEGER counter, frequency;
    if (QueryPerformanceCounter(&counter) && QueryPerformanceFrequency(&frequency) && counter.QuadPart &&
        frequency.QuadPart)
        if (const std::string span = TimeSpanText(counter.QuadPart / frequency.QuadPart); !span.empty())
            text += HeaderLine("system up time", span);
    const DWORD running = TicksSince(StartTicks);
    const std::string span = TimeSpanText(running / 1000);
    text +=
        HeaderLine("program up time",
                   span.empty() ? IntegerText(static_cast<std::uint32_t>(running)) + " milliseconds" : span);
    // The 64-bit status: above 4 GB the old call's figures wrap.
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof(memory);
    GlobalMemoryStatusEx(&memory);
    text += HeaderLine("physical memory",
                       IntegerText(static_cast<std::int64_t>((memory.ullAvailPhys + 0x80000) >> 20)) + "/" +
                           IntegerText(static_cast<std::int64_t>((memory.ullTotalPhys + 0x80000) >> 20)) +
                           " MB (free/total)");
    char windows[MAX_PATH + 1] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string program = ModuleFileName(nullptr);
    std::string disks = DiskText(windows[0]);
    if (!program.empty() && UpperCaseChar(program[0]) != UpperCaseChar(windows[0]))
        disks += " " + DiskText(program[0]);
    text += HeaderLine("free disk space", disks);
    text += HeaderLine("process id", HexText(static_cast<std::uint32_t>(GetCurrentProcessId()), 1, '0'));
    if (ShowCommandLine && __argc > 1)
        text += HeaderLine("command line", GetCommandLineA());
    text += HeaderLine("executable", FileNameOfPath(program));
    const std::string module = ModuleFileName(LibraryModule());
    const bool isProgram = EqualIgnoreCase(module, program);
    if (!isProgram)
        text += HeaderLine("current module", module);
    if (const std::string written = FileTimeText(module); !written.empty())
        text += HeaderLine(isProgram ? "exec. date/time" : "module date/time", written);
    if (const std::uint64_t version = FileVersion(module))
        text += HeaderLine("version", VersionText(version));
    text += HeaderLine("vexExcept version", LibraryVersion);
    return text;
}

std::string CreateBugReport(const TBugReportInput &Input) {
    std::string report;
    try {
        TSectionGuard guard(ReportLock());
        const DWORD faulting = Input.ThreadId ? Input.ThreadId : GetCurrentThreadId();
        std::uintptr_t functionStart = 0, codeAddress = Input.ExceptAddress;
        report = BugReportHeader();
        report += ExceptionSection(Input, faulting, functionStart, codeAddress);
        if (ListModules)
            report += std::string(LineEnd) + LineEnd + ModulesSection();
        const std::uintptr_t listed = functionStart ? functionStart : codeAddress;
        if (listed) {
            FunctionRecord record;
            const std::string listing = DisassembleFunction(reinterpret_cast<const void *>(listed),
                                                            reinterpret_cast<const void *>(codeAddress),
                                                            record, DisassemblyFlag, DisassemblyCount);
            if (!listing.empty())
                report += std::string(LineEnd) + LineEnd + "disassembling:" + LineEnd + listing;
        }
    } catch (...) {
        report += std::string(LineEnd) + LineEnd + "An exception occurred during composing the bug report.";
    }
    return report;
}
