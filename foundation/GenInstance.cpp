#include "GenInstance.h"

#include <memory>

#include "GenProgram.h"

uint16_t InstanceMessage = 0;

namespace {

struct TInstanceState {
    std::string MutexName;
    std::string MessageName;
    HANDLE Mutex = nullptr;
    TInstanceCheckResult Result = irFirstInstance;
};

std::unique_ptr<TInstanceState> GState;

TInstanceState &State() {
    if (!GState)
        GState = std::make_unique<TInstanceState>();
    return *GState;
}

// A global atom holds at most 255 characters.
constexpr std::size_t kMaxAtomText = 255;

// The window property that marks the running instance's main window.
std::string WindowPropertyName() {
    return State().MessageName + "_Window";
}

struct TWindowSearch {
    std::string Property;
    HWND Found = nullptr;
};

BOOL CALLBACK FindInstanceWindow(HWND Window, LPARAM Data) {
    auto *Search = reinterpret_cast<TWindowSearch *>(Data);
    if (!GetPropA(Window, Search->Property.c_str()))
        return TRUE;
    Search->Found = Window;
    return FALSE;
}

// Sends one atom to the running instance's window, trying again until a window takes it or the
// hand-over's time (shared by every message of one hand-over, from Start) is up. The message is
// sent, not posted: the atom is deleted here, exactly once, after the answer.
bool SendInstanceAtom(const TWindowSearch &Pattern, WPARAM Kind, const std::string &Text, DWORD Start) {
    if (Text.size() > kMaxAtomText)
        return false;
    ATOM Atom = 0;
    if (!Text.empty()) {
        Atom = GlobalAddAtomA(Text.c_str());
        if (Atom == 0)
            return false;
    }
    TWindowSearch Search = Pattern;
    bool Accepted = false;
    for (;;) {
        Search.Found = nullptr;
        EnumWindows(&FindInstanceWindow, reinterpret_cast<LPARAM>(&Search));
        const DWORD Spent = GetTickCount() - Start;
        if (Search.Found && Spent < InstanceHandOverTime) {
            DWORD_PTR Result = 0;
            if (SendMessageTimeoutA(Search.Found, InstanceMessage, Kind, Atom, SMTO_ABORTIFHUNG,
                                    InstanceHandOverTime - Spent, &Result) &&
                Result == static_cast<DWORD_PTR>(InstanceAccepted)) {
                Accepted = true;
                break;
            }
        }
        if (GetTickCount() - Start >= InstanceHandOverTime)
            break;
        // The first start may still be making its window; nothing to wait on in another process.
        Sleep(100);
    }
    if (Atom != 0)
        GlobalDeleteAtom(Atom);
    return Accepted;
}

// Hands the command line to the running instance's window: in one atom when it fits, else one
// atom per argument; false when a window did not take it within InstanceHandOverTime.
bool HandOverCommandLine(const std::string &CommandLine) {
    if (InstanceMessage == 0 || CommandLine.empty())
        return false;
    const TWindowSearch Pattern{WindowPropertyName()};
    const DWORD Start = GetTickCount();
    if (CommandLine.size() <= kMaxAtomText)
        return SendInstanceAtom(Pattern, InstanceCommandLine, CommandLine, Start);
    std::vector<std::string> Arguments = SplitInstanceCommandLine(CommandLine);
    if (!Arguments.empty())
        Arguments.erase(Arguments.begin());
    if (Arguments.empty())
        return SendInstanceAtom(Pattern, InstanceArgument, std::string(), Start);
    for (const std::string &Argument : Arguments)
        if (Argument.empty() || !SendInstanceAtom(Pattern, InstanceArgument, Argument, Start))
            return false;
    return true;
}

} // namespace

void MakeInstanceNames(const TProgramInformation &Info) {
    const TProgramVersion &Version = *Info.Version;
    std::string V = Format("%d%d", Version.Major, Version.Minor);
    if (Version.IsBeta())
        V = Format("%sb%d", V, Version.Beta);
    TInstanceState &S = State();
    if (Info.ServerMode) {
        S.MutexName = "Orbisk_Vantel_Server_Private_Mutex_" + V;
        S.MessageName = "Orbisk_Vantel_Server_Private_Message_" + V;
    } else {
        S.MutexName = "Orbisk_Vantel_Private_Mutex_" + V;
        S.MessageName = "Orbisk_Vantel_Private_Message_" + V;
    }
}

std::string InstanceMutexName() {
    return GState ? GState->MutexName : std::string();
}

std::string InstanceMessageName() {
    return GState ? GState->MessageName : std::string();
}

TInstanceCheckResult CheckSingleInstance() {
    TInstanceState &S = State();
    InstanceMessage = static_cast<uint16_t>(RegisterWindowMessageA(S.MessageName.c_str()));
    // Creating (rather than first opening) the mutex makes the test and the claim one step:
    // of two starts at the same moment exactly one sees that it created the mutex.
    SetLastError(ERROR_SUCCESS);
    const HANDLE Mutex = CreateMutexA(nullptr, FALSE, S.MutexName.c_str());
    if (!Mutex)
        return irNotGuarded;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
        S.Mutex = Mutex;
        return irFirstInstance;
    }
    CloseHandle(Mutex);
    return HandOverCommandLine(GetCommandLineA()) ? irHandedOver : irHandOverFailed;
}

TInstanceCheckResult InstanceCheckResult() {
    return GState ? GState->Result : irFirstInstance;
}

void ReleaseInstanceMutex() {
    if (GState && GState->Mutex) {
        CloseHandle(GState->Mutex);
        GState->Mutex = nullptr;
    }
}

void RegisterInstanceWindow(HWND Window) {
    SetPropA(Window, WindowPropertyName().c_str(), reinterpret_cast<HANDLE>(1));
}

std::string ReceiveInstanceCommandLine(LPARAM LParam) {
    const ATOM Atom = static_cast<ATOM>(LParam);
    if (Atom == 0)
        return std::string();
    char Buffer[257] = {};
    const UINT Length = GlobalGetAtomNameA(Atom, Buffer, 256);
    return std::string(Buffer, Length);
}

std::vector<std::string> ReceiveInstanceArguments(WPARAM WParam, LPARAM LParam) {
    const std::string Text = ReceiveInstanceCommandLine(LParam);
    if (WParam == InstanceArgument)
        return Text.empty() ? std::vector<std::string>() : std::vector<std::string>{Text};
    std::vector<std::string> Arguments = SplitInstanceCommandLine(Text);
    if (!Arguments.empty())
        Arguments.erase(Arguments.begin());
    return Arguments;
}

std::vector<std::string> SplitInstanceCommandLine(const std::string &CommandLine) {
    std::vector<std::string> Tokens;
    size_t Pos = CommandLine.find_first_not_of(' ');
    while (Pos != std::string::npos && Pos < CommandLine.size()) {
        char End = ' ';
        if (CommandLine[Pos] == '"') {
            End = '"';
            ++Pos;
        }
        const size_t Stop = CommandLine.find(End, Pos);
        if (Stop == std::string::npos) {
            Tokens.push_back(CommandLine.substr(Pos));
            break;
        }
        Tokens.push_back(CommandLine.substr(Pos, Stop - Pos));
        Pos = CommandLine.find_first_not_of(' ', Stop + 1);
    }
    return Tokens;
}

void InitializeGenInstance() {
    if (!ProgramInformation())
        throw Exception("The program information must be set up before the instance guard");
    MakeInstanceNames(*ProgramInformation());
    // A failed hand-over is left to the program's start, which can show a message box.
    State().Result = CheckSingleInstance();
    if (State().Result == irHandedOver)
        ExitProcess(0);
}

void FinalizeGenInstance() {
    ReleaseInstanceMutex();
    GState.reset();
    InstanceMessage = 0;
}
