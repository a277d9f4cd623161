// First-start setup: run on every start right after the configuration was loaded. It makes sure
// the user's data folders exist (filled with the examples that ship in the program's "Data"
// folder), that a default parameter set and a start-up action are chosen and that an owner name
// is known. Once everything exists it changes nothing.
#pragma once

#include <string>

#include "SysUtils.h"

class TConfigManager;

class TAutoSetup : public TObject {
public:
    // The folders default to the shell's documents and application-data folders and the
    // program's own folder.
    explicit TAutoSetup(TConfigManager &Manager);
    DECLARE_CLASS_NAME(TAutoSetup)

    std::string DocumentsFolder;
    std::string AppDataFolder;
    std::string ProgramFolder; // with a trailing backslash; examples come from its "Data\"

    void Execute();
    void SetupFolders();
    void SetupDefaultFile();
    void SetupOwner();

private:
    // Keeps Current when it is an existing folder; otherwise creates the user's folder Name
    // (copying the shipped examples into it) and stores it, also when creating failed.
    void SetupFolder(const std::string &Current, const std::string &Name, std::string &Folder,
                     bool UseAppData);

    TConfigManager &FManager;
};

void RunAutoSetup(TConfigManager &Manager);
