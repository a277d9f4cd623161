#include "GenInstance.h"
#include "GenProgram.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> GReceived;
// The arguments after the program path, as the window reads them from each message.
std::vector<std::string> GArguments;
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
        for (const std::string &Argument : ReceiveInstanceArguments(WParam, LParam))
            GArguments.push_back(Argument);
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
        GArguments.clear();
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
// window that never takes it makes the second start report the failure once its time is up.
TEST_F(InstanceGuard, HandOverWaitsForAReadyWindowForABoundedTime) {
    struct Case {
        int Refusals;
        DWORD ExitCode;
        size_t Received;
    } cases[] = {{1, 0, 1}, {-1, 11, 0}};
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

// A global atom takes at most 255 characters: a longer command line goes one argument per atom,
// in order, quotes removed.
TEST_F(InstanceGuard, LongCommandLineGoesOneArgumentPerMessage) {
    const std::string First = "C:\\" + std::string(200, 'f') + ".opr";
    const std::string Second = "D:\\my files\\" + std::string(100, 'g') + ".ofr";
    EXPECT_EQ(RunProbe(First + " \"" + Second + "\" /x"), 0u);
    EXPECT_EQ(GReceived.size(), 3u);
    EXPECT_EQ(GArguments, (std::vector<std::string>{First, Second, "/x"}));
}

// One argument longer than an atom cannot be handed over: the start reports it, and whatever
// went before it has been delivered.
TEST_F(InstanceGuard, ArgumentTooLongForAnAtomFailsTheHandOver) {
    EXPECT_EQ(RunProbe("a.opr " + std::string(300, 'f')), 11u);
    EXPECT_EQ(GArguments, (std::vector<std::string>{"a.opr"}));
}

TEST(InstanceCommandLine, SplitsLikeTheHandOverReadsIt) {
    struct Case {
        const char *Text;
        std::vector<std::string> Tokens;
    } cases[] = {
        {"", {}},
        {"   ", {}},
        {"prog a b", {"prog", "a", "b"}},
        {"  \"C:\\Program Files\\ov.exe\"   \"D:\\my files\\b.opr\" c.ofr ",
         {"C:\\Program Files\\ov.exe", "D:\\my files\\b.opr", "c.ofr"}},
        // The quote ends the token; what follows it directly starts the next one.
        {"\"a b\"c d", {"a b", "c", "d"}},
        // A quote inside a token is an ordinary character.
        {"x a\"b", {"x", "a\"b"}},
        // Without its closing quote the token is the rest.
        {"x \"open end", {"x", "open end"}},
        {"x \"\"", {"x", ""}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SplitInstanceCommandLine(c.Text), c.Tokens) << c.Text;
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
