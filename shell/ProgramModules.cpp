#include "ProgramModules.h"

#include "CompFileManager.h"
#include "CompHugeAccess.h"
#include "CompLexical.h"
#include "CompMessages.h"
#include "CompRoutines.h"
#include "EditorReload.h"
#include "FileHistory.h"
#include "FormulaHelpViewer.h"
#include "FracBuiltin.h"
#include "FracCalculate.h"
#include "FracFormulaBase.h"
#include "FracHistory.h"
#include "FracManager.h"
#include "ColorCycling.h"
#include "FracMerge.h"
#include "FracPreview.h"
#include "FracProgress.h"
#include "GenInstance.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "NetCache.h"
#include "NetConnections.h"
#include "NetGeneral.h"
#include "RenderQueue.h"
#include "vexBugReport.h"
#include "vexHooks.h"
#include "vexMapFile.h"
#include "vexStackTrace.h"
#include "vexThreads.h"
#include "vexTools.h"

// The window modules' start-up and shut-down; their headers clash with the compiler's names, so
// only these are declared here.
void InitializeForms();
void FinalizeForms();
void InitializeShellInstance();
void InitializeSelectArea();
void InitializeFractalWindows();
void FinalizeFractalWindows();
void FinalizeSelectArea();
void FinalizeShellInstance();
void FinalizeAdvCtrls();
void FinalizeAdvBars();
void FinalizeAdvDlgs();
void FinalizeColorSelector();
void FinalizeEditListBox();
void FinalizeTrackBar();
void FinalizeEyedropper();
void InitializeFracClipboard();
void InitializeHelpHandler();
void FinalizeHelpHandler();
void FinalizeFileAssociations();
void FinalizeFracClipboard();

std::vector<TModuleEntry> ProgramModules() {
    // Program information first: the single-instance names, the registry base key and the
    // configuration all depend on the version it reads. The application window comes right after
    // the instance guard (a start that hands its command line over makes no window), and takes
    // later starts' command lines from then on. The controls' shared timers, popups and the
    // eyedropper go before the application and the screen.
    return {
        {"GenUtils", InitializeGenUtils, FinalizeGenUtils},
        {"GenProgram", InitializeGenProgram, FinalizeGenProgram},
        {"GenInstance", InitializeGenInstance, FinalizeGenInstance},
        {"Forms", InitializeForms, FinalizeForms},
        {"ShellInstance", InitializeShellInstance, FinalizeShellInstance},
        {"GenRegistry", InitializeGenRegistry, FinalizeGenRegistry},
        {"GenSetup", InitializeGenSetup, FinalizeGenSetup},
        {"CompMessages", InitializeCompMessages, FinalizeCompMessages},
        {"CompFileManager", InitializeCompFileManager, FinalizeCompFileManager},
        {"CompLexical", InitializeCompLexical, FinalizeCompLexical},
        {"CompRoutines", InitializeCompRoutines, FinalizeCompRoutines},
        {"CompHugeAccess", InitializeCompHugeAccess, FinalizeCompHugeAccess},
        {"FracFormulaBase", InitializeFracFormulaBase, FinalizeFracFormulaBase},
        {"FormulaHelpViewer", InitializeFormulaHelpViewer, FinalizeFormulaHelpViewer},
        {"FracBuiltin", InitializeFracBuiltin, FinalizeFracBuiltin},
        {"FracHistory", InitializeFracHistory, FinalizeFracHistory},
        {"FracCalculate", InitializeFracCalculate, FinalizeFracCalculate},
        {"FracProgress", InitializeFracProgress, FinalizeFracProgress},
        {"FracMerge", InitializeFracMerge, FinalizeFracMerge},
        {"FracManager", InitializeFracManager, FinalizeFracManager},
        {"FracClipboard", InitializeFracClipboard, FinalizeFracClipboard},
        {"FracPreview", InitializeFracPreview, FinalizeFracPreview},
        {"SelectArea", InitializeSelectArea, FinalizeSelectArea},
        {"ColorCycling", InitializeColorCycling, FinalizeColorCycling},
        {"FileHistory", InitializeFileHistory, FinalizeFileHistory},
        {"HelpHandler", InitializeHelpHandler, FinalizeHelpHandler},
        {"FileAssociations", nullptr, FinalizeFileAssociations},
        {"FractalWindows", InitializeFractalWindows, FinalizeFractalWindows},
        {"EditorReload", InitializeEditorReload, FinalizeEditorReload},
        {"NetGeneral", InitializeNetGeneral, FinalizeNetGeneral},
        {"NetCache", nullptr, FinalizeNetCache},
        {"NetConnections", InitializeNetConnections, FinalizeNetConnections},
        // After the calculation manager and the network, whose threads the render jobs share.
        {"RenderQueue", InitializeRenderQueue, FinalizeRenderQueue},
        {"vexTools", nullptr, FinalizeVexTools},
        {"vexMapFile", InitializeVexMapFile, FinalizeVexMapFile},
        {"AdvCtrls", nullptr, FinalizeAdvCtrls},
        {"AdvBars", nullptr, FinalizeAdvBars},
        {"AdvDlgs", nullptr, FinalizeAdvDlgs},
        {"ColorSelector", nullptr, FinalizeColorSelector},
        {"EditListBox", nullptr, FinalizeEditListBox},
        {"TrackBar", nullptr, FinalizeTrackBar},
        {"GenEyedrop", nullptr, FinalizeEyedropper},
        // The thread table's shared block; without it reports name no threads but still work.
        {"vexThreads", [] { InitializeVexThreads(); }, FinalizeVexThreads},
        {"vexStackTrace", nullptr, FinalizeVexStackTrace},
        {"vexBugReport", InitializeVexBugReport, nullptr},
        // Last: the crash hooks, the handler thread and the thread hooks need everything above; they
        // come off first at the end.
        {"vexExcept", InitializeVexExcept, FinalizeVexExcept},
    };
}

std::string ProgramTitle() {
    return ProgramInformation()->Title;
}
