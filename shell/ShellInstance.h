// The running instance's side of the hand-over: a later start's command line arrives at the
// application window from the moment the window exists (also while the splash shows), is queued
// until the main window's start-up has run, and is then handed to the main window's handler.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Forms.h"

using THandOverEvent = TMethod<void(const std::vector<std::string> &FileNames)>;

// The arguments of a hand-over that name documents: empty ones and switches ('/' first) go, as
// they do at start-up.
std::vector<std::string> HandOverFileNames(const std::vector<std::string> &Arguments);

class TInstanceReceiver : public TObject {
public:
    DECLARE_CLASS_NAME(TInstanceReceiver)
    // Hooks the application window and marks it as the window that later starts send to.
    TInstanceReceiver();
    ~TInstanceReceiver() override;
    TInstanceReceiver(const TInstanceReceiver &) = delete;
    TInstanceReceiver &operator=(const TInstanceReceiver &) = delete;

    // From now on hand-overs go to Handler, the queued ones first (through a posted message, so
    // that neither runs inside the sender's wait). Called by the main window once its start-up
    // has opened the program's own command line.
    void StartupDone(THandOverEvent Handler);
    // Stops handing over (the main window goes); later hand-overs queue again.
    void Detach();
    bool Started() const { return FHandler.Assigned(); }
    // Hand-overs received and not yet handed on, one list of file names per later start.
    const std::vector<std::vector<std::string>> &Queue() const { return FQueue; }

private:
    bool AppWindowHook(TMessage &Message);
    void Deliver();
    std::vector<std::vector<std::string>> FQueue;
    THandOverEvent FHandler;
    bool FDeliveryPosted = false;
};

// The one receiver of the program (module start-up and shut-down).
TInstanceReceiver *InstanceReceiver();
void InitializeShellInstance();
void FinalizeShellInstance();
