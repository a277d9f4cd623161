// Single-instance guard: one interactive and, separately, one server instance per version.
// A second start hands its command line to the running instance and ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class TProgramInformation;

enum TInstanceCheckResult {
    irFirstInstance, // this process holds the guard
    irHandedOver,    // the running instance got the command line; this process must end
    irNotGuarded     // no guard could be set up or the hand-over failed: run normally
};

// Id of the registered instance message (0 before CheckSingleInstance).
extern uint16_t InstanceMessage;

// Builds the mutex and message names of the mode and version of Info.
void MakeInstanceNames(const TProgramInformation &Info);
std::string InstanceMutexName();
std::string InstanceMessageName();

// Registers the instance message and creates the named mutex in one step. When another
// instance already holds it, the process's command line is handed to that instance.
TInstanceCheckResult CheckSingleInstance();
void ReleaseInstanceMutex();

// The running instance's main window calls this once it can take InstanceMessage: a second
// start sends its command line to the one window so marked, and to no other.
void RegisterInstanceWindow(HWND Window);

// What the main window's handler of InstanceMessage returns when it took the command line; any
// other result makes the second start try again until its time is up.
constexpr LRESULT InstanceAccepted = 0x4F56;

// For the running instance's main window, on receipt of InstanceMessage: the command line
// that the second start handed over in the global atom of LParam (at most 255 characters). The
// atom belongs to the sender, which deletes it once the message has been answered.
std::string ReceiveInstanceCommandLine(LPARAM LParam);

// How long a second start keeps trying to reach the running instance's window (which may not
// exist yet while the first start is still coming up) before it starts normally.
constexpr DWORD InstanceHandOverTime = 5000; // ms

// Start-up: names from the global program information, then the check; a start that handed
// its command line over ends here with exit code 0.
void InitializeGenInstance();
void FinalizeGenInstance();
