#include "GenAutoSetup.h"

#include <windows.h>

#include <vector>

#include "GenProgram.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "ShellUtils.h"

TAutoSetup::TAutoSetup(TConfigManager &Manager)
    : DocumentsFolder(GetDocumentsFolder()), AppDataFolder(GetAppDataFolder()),
      ProgramFolder(GetProgramFolder()), FManager(Manager) {}

void TAutoSetup::Execute() {
    SetupFolders();
    SetupDefaultFile();
    SetupOwner();
}

void TAutoSetup::SetupFolder(const std::string &Current, const std::string &Name, std::string &Folder,
                             bool UseAppData) {
    Folder = Current;
    if (!Current.empty() && DirectoryExists(Current))
        return;
    const TProgramInformation *Info = ProgramInformation();
    const int Major = Info ? Info->Version->Major : 0;
    const std::string Source = ProgramFolder + "Data\\" + Name;
    const std::string Target = AddTrailingBackslash(UseAppData ? AppDataFolder : DocumentsFolder) +
                               Format("Orbisk Vantel %d\\", Major) + Name;
    try {
        ForceDirectories(Target);
        CopyOrMoveFolder(Source, Target, cmfCopy);
    } catch (const std::exception &) {
        // A folder that could not be made or filled is still stored; the next start tries again.
    }
    Folder = AddTrailingBackslash(Target);
}

void TAutoSetup::SetupFolders() {
    TFolderConfiguration &Folders = *FManager.Folder;
    SetupFolder(Folders.Fractal, "Fractals", Folders.Fractal, false);
    SetupFolder(Folders.Gradient, "Gradients", Folders.Gradient, false);
    SetupFolder(Folders.Parameter, "Parameters", Folders.Parameter, false);
    SetupFolder(Folders.Formula, "Formulas", Folders.Formula, false);
    SetupFolder(Folders.FormulaHelp, "Help on Formulas", Folders.FormulaHelp, false);
    const std::string &Formula = Folders.Formula;
    const std::string &Public = Folders.FormulaPublic;
    const bool KeepPublic = Public.size() > Formula.size() &&
                            SameText(Public.substr(0, Formula.size()), Formula) && DirectoryExists(Public);
    if (!KeepPublic) {
        Folders.FormulaPublic = Formula + "Public\\";
        CreateDir(Folders.FormulaPublic);
    }
    SetupFolder(Folders.System, "System", Folders.System, true);
}

void TAutoSetup::SetupDefaultFile() {
    TFractalConfiguration &Fractal = *FManager.Fractal;
    if (!FileExists(Fractal.DefaultFile)) {
        Fractal.DefaultFile = FManager.Folder->Parameter + "Examples.opr";
        Fractal.DefaultEntry = "Default";
    }
    TGeneralConfiguration &General = *FManager.General;
    if (General.StartupAction == 4)
        General.StartupAction = FileExists(Fractal.DefaultFile) ? 3 : 0;
}

void TAutoSetup::SetupOwner() {
    TGeneralConfiguration &General = *FManager.General;
    if (!General.Owner.empty())
        return;
    std::vector<char> Name(1025, '\0');
    DWORD Size = 1024;
    if (GetUserNameA(Name.data(), &Size))
        General.Owner = std::string(Name.data());
}

void RunAutoSetup(TConfigManager &Manager) {
    TAutoSetup Setup(Manager);
    Setup.Execute();
}
