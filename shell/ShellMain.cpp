#include "ShellMain.h"

#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include "AdvDlgs.h"
#include "FormAbout.h"
#include "FormDocument.h"
#include "FormServer.h"
#include "FormMain.h"
#include "GenInstance.h"
#include "GenModules.h"
#include "GenProgram.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "ProgramModules.h"
#include "FileHistory.h"
#include "FileAssociations.h"

namespace {

// Reports what stopped the program before its window could (no message loop to show it).
[[noreturn]] void EndWithError(const std::string &Text) {
    MessageBoxA(nullptr, Text.c_str(), "Orbisk Vantel", MB_OK | MB_ICONERROR);
    ExitProcess(1);
}

// The interactive program: splash, main window and its message loop, then the file history and
// the settings are saved.
void RunInteractive() {
    Application->SetTitle("Orbisk Vantel");
    // Number texts never follow the locale: this program's formats are fixed ('.' and ',').
    StartProgram();
    ShowSplash();
    auto *mainForm = new TMainForm(nullptr);
    Application->SetMainForm(mainForm);
    mainForm->ShowMainWindow();
    Application->Run();
    if (FileHistoryManager())
        FileHistoryManager()->SaveToRegistry(*ConfigManager());
    ConfigManager()->SaveSettings();
    // The document windows belong to the application, which goes with the last modules; their
    // documents go now, while the calculation, history and manager modules they use are there.
    std::vector<TDocumentForm *> documents;
    for (int i = 0; i < Screen->FormCount(); ++i)
        if (auto *document = dynamic_cast<TDocumentForm *>(Screen->Forms(i)))
            documents.push_back(document);
    for (TDocumentForm *document : documents)
        delete document;
    delete mainForm;
}

} // namespace

void StartProgram() {
    std::srand(static_cast<unsigned>(std::time(nullptr)) ^ GetTickCount());
    AskFileAssociations();
    if (GetScreenColorDepth() < 15)
        AdvMessageDlg(
            "Your screen is set to 8-bit color (256 colors) or less. Orbisk Vantel runs best with "
            "15-bit color or higher. You can change the color depth by right-clicking on the desktop "
            "and choosing Properties, Settings.",
            mtWarning, {mbOK}, 0);
}

void ProgramMain(const std::vector<TModuleEntry> &Extra) {
    std::unique_ptr<TModuleStartup> modules;
    try {
        std::vector<TModuleEntry> list = ProgramModules();
        list.insert(list.end() - 1, Extra.begin(), Extra.end());
        modules = std::make_unique<TModuleStartup>(list);
        modules->Start();
    } catch (const std::exception &error) {
        EndWithError(error.what());
    }
    if (InstanceCheckResult() == irHandOverFailed) {
        AdvMessageDlg("Orbisk Vantel is already running, but it did not take the files of this start. Please "
                      "open them in the running program.",
                      mtError, {mbOK}, 0);
        ExitProcess(1);
    }
    int exitCode = 0;
    // The calculation server shows its own window and nothing else.
    const bool server = ProgramInformation() && ProgramInformation()->ServerMode;
    try {
        if (server)
            RunServer();
        else
            RunInteractive();
    } catch (const std::exception &error) {
        MessageBoxA(nullptr, error.what(), server ? "Orbisk Vantel Server" : "Orbisk Vantel",
                    MB_OK | MB_ICONERROR);
        exitCode = 1;
    }
    try {
        modules->Stop();
    } catch (...) {
        exitCode = 1;
    }
    ExitProcess(exitCode);
}
