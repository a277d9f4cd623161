// Single-instance guard: one interactive and, separately, one server instance per version.
// A second start hands its command line to the running instance and ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class TProgramInformation;

enum TInstanceCheckResult {
    irFirstInstance, // this process holds the guard
    irHandedOver,    // the running instance got the command line; this process must end
    irNotGuarded,    // no guard could be set up: run normally
    irHandOverFailed // another instance runs but did not take the command line: report it and end
};

// What the start-up's check found (irFirstInstance before it ran).
TInstanceCheckResult InstanceCheckResult();

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

// The WParam of InstanceMessage: the atom holds the whole command line (it fits in an atom's 255
// characters), or one argument after the program path, without quotes (a longer command line
// goes one message per argument, in order; atom 0 then stands for a start without arguments).
constexpr WPARAM InstanceCommandLine = 0;
constexpr WPARAM InstanceArgument = 1;

// For the running instance's main window, on receipt of InstanceMessage: the text that the
// second start handed over in the global atom of LParam (at most 255 characters). The atom
// belongs to the sender, which deletes it once the message has been answered.
std::string ReceiveInstanceCommandLine(LPARAM LParam);
// The arguments after the program path that one InstanceMessage carries, for either kind.
std::vector<std::string> ReceiveInstanceArguments(WPARAM WParam, LPARAM LParam);

// Splits a handed-over command line: leading blanks go; a token that begins with a double quote
// runs to the next double quote (the quotes dropped), any other to the next blank; without its
// end character a token takes the rest. The program path is the first token.
std::vector<std::string> SplitInstanceCommandLine(const std::string &CommandLine);

// How long a second start keeps trying to reach the running instance's window (which may not
// exist yet while the first start is still coming up) before it starts normally.
constexpr DWORD InstanceHandOverTime = 5000; // ms

// Start-up: names from the global program information, then the check; a start that handed
// its command line over ends here with exit code 0.
void InitializeGenInstance();
void FinalizeGenInstance();
