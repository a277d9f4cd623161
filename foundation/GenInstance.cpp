#include "GenInstance.h"

#include <memory>

#include "GenProgram.h"

uint16_t InstanceMessage = 0;

namespace {

struct TInstanceState {
    std::string MutexName;
    std::string MessageName;
    HANDLE Mutex = nullptr;
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

// Sends the command line to the running instance's window; false when no window took it within
// InstanceHandOverTime, so that the caller starts normally instead of dropping the files. The
// message is sent, not posted: the atom is deleted here, exactly once, after the answer.
bool HandOverCommandLine(const std::string &CommandLine) {
    if (InstanceMessage == 0 || CommandLine.empty() || CommandLine.size() > kMaxAtomText)
        return false;
    const ATOM Atom = GlobalAddAtomA(CommandLine.c_str());
    if (Atom == 0)
        return false;
    TWindowSearch Search{WindowPropertyName()};
    const DWORD Start = GetTickCount();
    bool Accepted = false;
    for (;;) {
        Search.Found = nullptr;
        EnumWindows(&FindInstanceWindow, reinterpret_cast<LPARAM>(&Search));
        const DWORD Spent = GetTickCount() - Start;
        if (Search.Found && Spent < InstanceHandOverTime) {
            DWORD_PTR Result = 0;
            if (SendMessageTimeoutA(Search.Found, InstanceMessage, 0, Atom, SMTO_ABORTIFHUNG,
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
    GlobalDeleteAtom(Atom);
    return Accepted;
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
    if (HandOverCommandLine(GetCommandLineA())) {
        CloseHandle(Mutex);
        return irHandedOver;
    }
    // Running alongside the first instance; keeping the handle keeps the guard alive for
    // later starts should the first instance end before this one.
    S.Mutex = Mutex;
    return irNotGuarded;
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
    char Buffer[257] = {};
    const UINT Length = GlobalGetAtomNameA(Atom, Buffer, 256);
    return std::string(Buffer, Length);
}

void InitializeGenInstance() {
    if (!ProgramInformation())
        throw Exception("The program information must be set up before the instance guard");
    MakeInstanceNames(*ProgramInformation());
    if (CheckSingleInstance() == irHandedOver)
        ExitProcess(0);
}

void FinalizeGenInstance() {
    ReleaseInstanceMutex();
    GState.reset();
    InstanceMessage = 0;
}
