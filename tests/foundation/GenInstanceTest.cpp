#include "GenInstance.h"
#include "GenProgram.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> GReceived;
// How many instance messages the window turns down before it takes one (a window that is not
// ready yet); -1 turns down every message.
int GRefusals = 0;
int GRefused = 0;

LRESULT CALLBACK ReceiverProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    if (InstanceMessage != 0 && Message == InstanceMessage) {
        if (GRefusals < 0 || GRefused < GRefusals) {
            ++GRefused;
            return 0;
        }
        GReceived.push_back(ReceiveInstanceCommandLine(LParam));
        return InstanceAccepted;
    }
    return DefWindowProcA(Window, Message, WParam, LParam);
}

std::string ProgramFolderOfTest() {
    char Path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, Path, MAX_PATH);
    std::string Folder = Path;
    return Folder.substr(0, Folder.find_last_of('\\') + 1);
}

void PumpMessages() {
    MSG Msg;
    while (PeekMessageA(&Msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&Msg);
        DispatchMessageA(&Msg);
    }
}

// The test process plays the running interactive instance: it holds the guard and has a hidden
// top-level window that takes the instance message.
class InstanceGuard : public testing::Test {
protected:
    static void SetUpTestSuite() {
        FOwnsProgramInformation = ProgramInformation() == nullptr;
        if (FOwnsProgramInformation)
            InitializeGenProgram();
        ASSERT_FALSE(ProgramInformation()->ServerMode);
        WNDCLASSA Class = {};
        Class.lpfnWndProc = ReceiverProc;
        Class.hInstance = GetModuleHandleA(nullptr);
        Class.lpszClassName = "OrbiskInstanceGuardTest";
        RegisterClassA(&Class);
        FWindow = CreateWindowExA(0, Class.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  Class.hInstance, nullptr);
        ASSERT_NE(FWindow, nullptr);
        MakeInstanceNames(*ProgramInformation());
        ASSERT_EQ(CheckSingleInstance(), irFirstInstance);
        RegisterInstanceWindow(FWindow);
    }

    static void TearDownTestSuite() {
        FinalizeGenInstance();
        if (FWindow)
            DestroyWindow(FWindow);
        FWindow = nullptr;
        if (FOwnsProgramInformation)
            FinalizeGenProgram();
    }

    void SetUp() override {
        PumpMessages();
        GReceived.clear();
        GRefusals = 0;
        GRefused = 0;
    }

    // Starts the probe with Arguments and returns its exit code once it has ended, dispatching
    // this thread's messages meanwhile; then takes whatever it posted.
    static DWORD RunProbe(const std::string &Arguments, std::string *CommandLine = nullptr) {
        const std::string Exe = ProgramFolderOfTest() + "InstanceProbe.exe";
        std::string Line = "\"" + Exe + "\" " + Arguments;
        if (CommandLine)
            *CommandLine = Line;
        STARTUPINFOA Startup = {};
        Startup.cb = sizeof(Startup);
        PROCESS_INFORMATION Process = {};
        if (!CreateProcessA(Exe.c_str(), Line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &Startup,
                            &Process)) {
            ADD_FAILURE() << "cannot start " << Exe;
            return 0xFFFFFFFF;
        }
        CloseHandle(Process.hThread);
        const DWORD Deadline = GetTickCount() + 60000;
        for (;;) {
            const DWORD Now = GetTickCount();
            const DWORD Left = Now < Deadline ? Deadline - Now : 0;
            const DWORD Wait = MsgWaitForMultipleObjects(1, &Process.hProcess, FALSE, Left, QS_ALLINPUT);
            if (Wait == WAIT_OBJECT_0)
                break;
            if (Wait != WAIT_OBJECT_0 + 1) {
                ADD_FAILURE() << "probe did not end";
                TerminateProcess(Process.hProcess, 99);
                break;
            }
            PumpMessages();
        }
        // Anything the probe posted is queued before it ended.
        PumpMessages();
        DWORD Code = 0xFFFFFFFF;
        GetExitCodeProcess(Process.hProcess, &Code);
        CloseHandle(Process.hProcess);
        return Code;
    }

    static inline HWND FWindow = nullptr;
    static inline bool FOwnsProgramInformation = false;
};

TEST_F(InstanceGuard, SecondStartHandsOverItsCommandLineAndEnds) {
    std::string Sent;
    EXPECT_EQ(RunProbe("C:\\data\\a.ofr \"D:\\my files\\b.opr\"", &Sent), 0u);
    ASSERT_EQ(GReceived.size(), 1u);
    EXPECT_EQ(GReceived[0], Sent);
    const std::vector<std::string> Arguments = SplitCommandLine(GReceived[0]);
    ASSERT_EQ(Arguments.size(), 3u);
    EXPECT_EQ(Arguments[1], "C:\\data\\a.ofr");
    EXPECT_EQ(Arguments[2], "D:\\my files\\b.opr");
    // The atom went with the answer, deleted once by the sender.
    EXPECT_EQ(GlobalFindAtomA(Sent.c_str()), 0);
}

// A window that is not ready turns the first message down; the second start tries again. A
// window that never takes it lets the second start run normally once its time is up.
TEST_F(InstanceGuard, HandOverWaitsForAReadyWindowForABoundedTime) {
    struct Case {
        int Refusals;
        DWORD ExitCode;
        size_t Received;
    } cases[] = {{1, 0, 1}, {-1, 10, 0}};
    for (const Case &c : cases) {
        GReceived.clear();
        GRefusals = c.Refusals;
        GRefused = 0;
        std::string Sent;
        EXPECT_EQ(RunProbe("a.opr", &Sent), c.ExitCode) << c.Refusals;
        EXPECT_EQ(GReceived.size(), c.Received) << c.Refusals;
        EXPECT_GE(GRefused, 1) << c.Refusals;
        EXPECT_EQ(GlobalFindAtomA(Sent.c_str()), 0) << c.Refusals;
    }
}

// A global atom takes at most 255 characters: such a start must not drop its files silently.
TEST_F(InstanceGuard, CommandLineTooLongForHandOverStartsNormally) {
    const std::string Long = "C:\\" + std::string(300, 'f') + ".opr";
    EXPECT_EQ(RunProbe(Long), 10u);
    EXPECT_TRUE(GReceived.empty());
}

TEST_F(InstanceGuard, ServerStartRunsBesideTheInteractiveInstance) {
    EXPECT_EQ(RunProbe("/SERVER"), 12u);
    EXPECT_EQ(RunProbe("/Server a.opr"), 12u);
    EXPECT_TRUE(GReceived.empty());
    // "/server" anywhere but first is an ordinary argument: this start is interactive.
    EXPECT_EQ(RunProbe("a.opr /server"), 0u);
    ASSERT_EQ(GReceived.size(), 1u);
}

TEST_F(InstanceGuard, ReleasedGuardLetsTheNextStartRun) {
    ReleaseInstanceMutex();
    EXPECT_EQ(RunProbe("a.opr"), 10u);
    EXPECT_TRUE(GReceived.empty());
    MakeInstanceNames(*ProgramInformation());
    EXPECT_EQ(CheckSingleInstance(), irFirstInstance);
}

} // namespace
