// The crash library at work in a separate process (programs/VexCrashChild.cpp): faults and
// exceptions of worker threads, window procedures and the main thread, a frozen main thread, and
// the exception box driven from here. Every child start costs tens of seconds under emulation, so
// each start runs several scenarios, and starts that do not depend on each other run at once.
#include <gtest/gtest.h>

#include <windows.h>

#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "VexTestData.h"
#include "VexTraceCheck.h"

namespace {

using namespace vextrace;

constexpr DWORD ChildTimeoutMs = 600000; // a start under emulation takes up to a minute or two

// Under user-mode emulation a fault reaches Wine as an illegal instruction (C000001D) at the right
// address, without the access details.
bool Emulated() {
    return std::getenv("OV_EMULATED") != nullptr;
}

std::string TestFolder() {
    char name[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, name, MAX_PATH);
    const std::string path = name;
    return path.substr(0, path.rfind('\\') + 1);
}

bool FileExists(const std::string &Name) {
    return GetFileAttributesA(Name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// One start of the child program with its scenarios; its reports go to ReportFile, its output to
// a file of its own.
class TChild {
public:
    TChild(const std::string &Name, const std::vector<std::string> &Scenarios)
        : ReportFile(VexTempFile(Name + ".txt")), FOutputFile(VexTempFile(Name + ".out")) {
        DeleteFileA(ReportFile.c_str());
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE output = CreateFileA(FOutputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string command = "\"" + TestFolder() + "VexCrashChild.exe\" \"" + ReportFile + "\"";
        for (const std::string &scenario : Scenarios)
            command += " " + scenario;
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        FStarted = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                  &startup, &FProcess);
        CloseHandle(output);
    }
    ~TChild() {
        if (FStarted) {
            if (WaitForSingleObject(FProcess.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(FProcess.hProcess, 99);
            CloseHandle(FProcess.hThread);
            CloseHandle(FProcess.hProcess);
        }
        DeleteFileA(ReportFile.c_str());
        DeleteFileA(FOutputFile.c_str());
    }
    bool Started() const { return FStarted; }
    // The exit code, or 259 (still active) when it did not end in time.
    DWORD Finish() {
        DWORD code = STILL_ACTIVE;
        if (FStarted && WaitForSingleObject(FProcess.hProcess, ChildTimeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(FProcess.hProcess, &code);
        Output = ReadWholeFile(FOutputFile);
        return code;
    }
    bool Running() const { return FStarted && WaitForSingleObject(FProcess.hProcess, 0) == WAIT_TIMEOUT; }

    const std::string ReportFile;
    std::string Output;

private:
    std::string FOutputFile;
    PROCESS_INFORMATION FProcess = {};
    bool FStarted = false;
};

constexpr const char *ReportStart = "date/time         : ";

std::vector<std::string> SplitReports(const std::string &Text) {
    std::vector<std::string> reports;
    std::size_t at = Text.rfind(ReportStart, 0) == 0 ? 0 : std::string::npos;
    while (at != std::string::npos) {
        std::size_t next = Text.find(std::string("\r\n") + ReportStart, at + 1);
        reports.push_back(Text.substr(at, next == std::string::npos ? std::string::npos : next + 2 - at));
        at = next == std::string::npos ? next : next + 2;
    }
    return reports;
}

// The trace of the thread named Name ("Name ($id):" and its lines up to the next empty line).
std::string ThreadTrace(const std::string &Report, const std::string &Name) {
    const std::size_t heading = Report.find("\r\n" + Name + " ($");
    if (heading == std::string::npos)
        return "";
    const std::size_t start = Report.find("\r\n", heading + 2);
    const std::size_t end = Report.find("\r\n\r\n", start);
    std::string trace =
        Report.substr(start + 2, end == std::string::npos ? std::string::npos : end - start - 2);
    // Without the note on the creator (">> created by ... at:"), the lines only.
    const std::size_t note = trace.find(">> created by ");
    if (note != std::string::npos)
        trace.erase(note, trace.find("\r\n", note) + 2 - note);
    return trace;
}

const std::string *ReportWithThread(const std::vector<std::string> &Reports, const std::string &Name) {
    for (const std::string &report : Reports)
        if (!ThreadTrace(report, Name).empty())
            return &report;
    return nullptr;
}

std::string FaultMessage() {
    return Emulated() ? "exception message : External exception C000001D."
                      : "exception message : Access violation";
}

std::map<std::uintptr_t, TReference> ChildReference() {
    return ReadReference(TestFolder() + "VexCrashChild.tracelines");
}

// Worker faults, a window procedure's exception and an abort, in one process that goes on.
TEST(vexCrashScenarioTest, WorkerFaultsAndWindowProcedureExceptionsAreReportedAndTheProgramGoesOn) {
    TChild child("continuing", {"worker-av", "windowproc", "abort", "chain", "recursion", "stale"});
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Finish(), 0u) << child.Output;
    for (const char *scenario : {"worker-av", "windowproc", "abort", "chain", "recursion", "stale"})
        EXPECT_NE(child.Output.find(std::string("done ") + scenario), std::string::npos) << child.Output;
    const std::string text = ReadWholeFile(child.ReportFile);
    const std::vector<std::string> reports = SplitReports(text);
    // One report each, none for the abort.
    ASSERT_EQ(reports.size(), 5u) << text;

    // The worker's fault: the thread carries the name it gave itself through the naming exception.
    const std::string *fault = ReportWithThread(reports, "worker-av");
    ASSERT_NE(fault, nullptr) << text;
    EXPECT_NE(fault->find(FaultMessage()), std::string::npos) << *fault;
    EXPECT_NE(fault->find("exception class   : VexException"), std::string::npos);
    // The header's labels in their order, then the modules and the disassembly.
    std::size_t at = 0;
    for (const char *label :
         {"date/time         : ", "computer name     : ", "user name         : ", "operating system  : ",
          "program up time   : ", "physical memory   : ", "free disk space   : ", "process id        : ",
          "command line      : ", "executable        : ", "exec. date/time   : ", "version           : ",
          "vexExcept version : ", "exception class   : ", "exception message : "}) {
        const std::size_t found = fault->find(label, at);
        ASSERT_NE(found, std::string::npos) << label << " missing or out of order";
        EXPECT_TRUE(found == 0 || (*fault)[found - 1] == '\n') << label;
        at = found;
    }
    const std::size_t modules = fault->find("\r\nmodules:\r\n");
    const std::size_t disassembly = fault->find("\r\ndisassembling:\r\n");
    EXPECT_NE(modules, std::string::npos);
    EXPECT_NE(disassembly, std::string::npos);
    EXPECT_LT(modules, disassembly);
    EXPECT_NE(fault->find("VexCrashChild.exe"), std::string::npos);

    // The window procedure's exception.
    bool windowReport = false;
    for (const std::string &report : reports)
        windowReport |= report.find("exception message : Window procedure failure.") != std::string::npos;
    EXPECT_TRUE(windowReport) << text;

    const auto reference = ChildReference();
    ASSERT_FALSE(reference.empty());
    // f3 <- f2 <- f1, with addr2line's lines.
    {
        const std::string trace = ThreadTrace(*ReportWithThread(reports, "chain"), "chain");
        const std::vector<TTraceLine> lines = ParseTrace(trace);
        ASSERT_GE(lines.size(), 4u) << trace;
        EXPECT_EQ(RoutineOf(lines[0].Function), "CrashChainF3") << trace;
        EXPECT_EQ(RoutineOf(lines[1].Function), "CrashChainF2") << trace;
        EXPECT_EQ(RoutineOf(lines[2].Function), "CrashChainF1") << trace;
        EXPECT_EQ(lines[3].Function.find("CrashChain"), std::string::npos) << trace;
        for (int i = 0; i < 3; ++i) {
            ExpectAgreesWithAddr2line(lines[i], reference);
            EXPECT_EQ(lines[i].Module, "VexCrashChild.exe");
        }
    }
    // Fifty calls of one call site: one line for the fault and one for the call site.
    {
        const std::string trace = ThreadTrace(*ReportWithThread(reports, "recursion"), "recursion");
        const std::vector<TTraceLine> lines = ParseTrace(trace);
        ASSERT_GE(lines.size(), 3u) << trace;
        EXPECT_EQ(RoutineOf(lines[0].Function), "CrashRecursion") << trace;
        EXPECT_EQ(RoutineOf(lines[1].Function), "CrashRecursion") << trace;
        EXPECT_NE(lines[0].Address, lines[1].Address);
        EXPECT_EQ(RoutineOf(lines[2].Function).find("CrashRecursion"), std::string::npos) << trace;
        ExpectAgreesWithAddr2line(lines[0], reference);
        ExpectAgreesWithAddr2line(lines[1], reference);
    }
    // A return address that a returned routine left in the locals is not printed.
    {
        const std::string trace = ThreadTrace(*ReportWithThread(reports, "stale"), "stale");
        const std::vector<TTraceLine> lines = ParseTrace(trace);
        ASSERT_GE(lines.size(), 2u) << trace;
        EXPECT_EQ(RoutineOf(lines[0].Function), "CrashStaleHolder") << trace;
        EXPECT_EQ(trace.find("CrashStaleCaller"), std::string::npos) << trace;
    }
}

// A handler that marks the exception handled and an abort leave no report file at all; the main
// thread's uncaught exception and fault end the program with exit code 1 after their report.
TEST(vexCrashScenarioTest, HandledAbortedAndFatalExceptions) {
    TChild quiet("quiet", {"abort", "handled"});
    TChild thrown("thrown", {"main-throw"});
    TChild faulted("faulted", {"main-av"});
    ASSERT_TRUE(quiet.Started() && thrown.Started() && faulted.Started());

    EXPECT_EQ(quiet.Finish(), 0u) << quiet.Output;
    EXPECT_NE(quiet.Output.find("done handled"), std::string::npos) << quiet.Output;
    EXPECT_FALSE(FileExists(quiet.ReportFile));

    EXPECT_EQ(thrown.Finish(), 1u) << thrown.Output;
    const std::vector<std::string> thrownReports = SplitReports(ReadWholeFile(thrown.ReportFile));
    ASSERT_EQ(thrownReports.size(), 1u);
    EXPECT_NE(thrownReports[0].find("exception message : Uncaught in the main thread."), std::string::npos)
        << thrownReports[0];
    EXPECT_NE(thrownReports[0].find("exception class   : std::runtime_error"), std::string::npos);

    EXPECT_EQ(faulted.Finish(), 1u) << faulted.Output;
    const std::vector<std::string> faultReports = SplitReports(ReadWholeFile(faulted.ReportFile));
    ASSERT_EQ(faultReports.size(), 1u);
    EXPECT_NE(faultReports[0].find(FaultMessage()), std::string::npos) << faultReports[0];
    EXPECT_NE(ThreadTrace(faultReports[0], "main thread").find("main"), std::string::npos) << faultReports[0];
}

// The watchdog (1 s) reports the interface thread that stops answering for 5 s.
TEST(vexCrashScenarioTest, ABlockedInterfaceThreadGivesAFreezeReport) {
    TChild child("freeze", {"freeze"});
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.Finish(), 0u) << child.Output;
    const std::vector<std::string> reports = SplitReports(ReadWholeFile(child.ReportFile));
    ASSERT_GE(reports.size(), 1u);
    EXPECT_NE(reports[0].find("exception message : The application seems to be frozen."), std::string::npos)
        << reports[0];
    EXPECT_EQ(reports[0].find("exception class"), std::string::npos);
    EXPECT_FALSE(ThreadTrace(reports[0], "main thread").empty()) << reports[0];
}

// --- The exception box, driven from this process -------------------------------------------

// Polls Condition until it holds or TimeoutMs pass.
bool WaitFor(const std::function<bool()> &Condition, DWORD TimeoutMs) {
    const DWORD start = GetTickCount();
    while (!Condition()) {
        if (GetTickCount() - start > TimeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    return true;
}

HWND FindBox(TChild &Child) {
    HWND box = nullptr;
    WaitFor(
        [&] {
            box = FindWindowA("vexExceptWndClass", nullptr);
            return (box && IsWindowVisible(box)) || !Child.Running();
        },
        ChildTimeoutMs);
    return box;
}

HWND FindButton(HWND Box, const char *Caption) {
    return FindWindowExA(Box, nullptr, "Button", Caption);
}

std::string WindowText(HWND Window) {
    const LRESULT length = SendMessageA(Window, WM_GETTEXTLENGTH, 0, 0);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(Window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// A PNG (8-bit RGB) of the screen within Rect, for a person to look at.
bool SaveScreenPng(const RECT &Rect, const std::string &Path) {
    const int width = Rect.right - Rect.left, height = Rect.bottom - Rect.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, Rect.left, Rect.top, SRCCOPY);
    GdiFlush();
    std::string raw;
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // no filter
        const auto *row = static_cast<const std::uint8_t *>(bits) + static_cast<std::size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x)
            raw += {static_cast<char>(row[x * 4 + 2]), static_cast<char>(row[x * 4 + 1]),
                    static_cast<char>(row[x * 4])};
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress(reinterpret_cast<Bytef *>(packed.data()), &packedSize,
                 reinterpret_cast<const Bytef *>(raw.data()), static_cast<uLong>(raw.size())) != Z_OK)
        return false;
    packed.resize(packedSize);
    auto be32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                           static_cast<char>(v)};
    };
    auto chunk = [&](const char *type, const std::string &data) {
        const std::string body = std::string(type, 4) + data;
        return be32(static_cast<std::uint32_t>(data.size())) + body +
               be32(static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef *>(body.data()), static_cast<uInt>(body.size()))));
    };
    const std::string header = be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
    std::ofstream out(Path, std::ios::binary | std::ios::trunc);
    out << std::string("\x89PNG\r\n\x1a\n", 8) << chunk("IHDR", header) << chunk("IDAT", packed)
        << chunk("IEND", "");
    return static_cast<bool>(out);
}

// "show bug report" widens the box, reveals the report and copies it; Escape continues.
TEST(vexCrashScenarioTest, TheExceptionBoxShowsTheReportAndEscapeContinues) {
    TChild child("box", {"box-continue"});
    ASSERT_TRUE(child.Started());
    HWND box = FindBox(child);
    ASSERT_NE(box, nullptr) << "no exception box appeared";
    HWND show = FindButton(box, "show bug report");
    ASSERT_NE(show, nullptr);
    EXPECT_NE(FindButton(box, "mail bug report"), nullptr);
    EXPECT_NE(FindButton(box, "continue application"), nullptr);
    EXPECT_NE(FindButton(box, "restart application"), nullptr);
    EXPECT_NE(FindButton(box, "close application"), nullptr);
    EXPECT_TRUE(IsWindowEnabled(FindButton(box, "continue application")));
    RECT before;
    GetWindowRect(box, &before);
    OpenClipboard(nullptr);
    EmptyClipboard();
    CloseClipboard();

    SendMessageA(show, BM_CLICK, 0, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(show); }, 60000)) << "the show button stays";
    RECT after;
    GetWindowRect(box, &after);
    EXPECT_GT(after.bottom - after.top, before.bottom - before.top);
    EXPECT_GE(after.right - after.left, 538);
    const std::string report = WindowText(FindWindowExA(box, nullptr, "Edit", nullptr));
    EXPECT_NE(report.find("exception message : Window procedure failure."), std::string::npos) << report;
    EXPECT_EQ(ClipboardText(), report);

    const std::string artifacts = TestFolder() + "..\\artifacts";
    CreateDirectoryA(artifacts.c_str(), nullptr);
    RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    EXPECT_TRUE(SaveScreenPng(after, artifacts + "\\exception-box.png"));

    PostMessageA(box, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(child.Finish(), 0u) << child.Output;
    EXPECT_NE(child.Output.find("done box-continue"), std::string::npos) << child.Output;
    // The report saved before the box is the one it showed.
    EXPECT_EQ(ReadWholeFile(child.ReportFile), report + "\r\n\r\n");
}

// An exception that cannot continue: the continue button is disabled, closing ends with code 1.
TEST(vexCrashScenarioTest, TheExceptionBoxClosesTheProgram) {
    TChild child("boxclose", {"box-close"});
    ASSERT_TRUE(child.Started());
    HWND box = FindBox(child);
    ASSERT_NE(box, nullptr) << "no exception box appeared";
    HWND continueButton = FindButton(box, "continue application");
    ASSERT_NE(continueButton, nullptr);
    EXPECT_FALSE(IsWindowEnabled(continueButton));
    PostMessageA(FindButton(box, "close application"), BM_CLICK, 0, 0);
    EXPECT_EQ(child.Finish(), 1u) << child.Output;
}

} // namespace
