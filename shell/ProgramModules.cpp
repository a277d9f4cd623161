#include "ProgramModules.h"

#include "CompFileManager.h"
#include "CompHugeAccess.h"
#include "CompLexical.h"
#include "CompMessages.h"
#include "CompRoutines.h"
#include "FileHistory.h"
#include "FormulaHelpViewer.h"
#include "FracBuiltin.h"
#include "FracCalculate.h"
#include "FracFormulaBase.h"
#include "FracHistory.h"
#include "FracManager.h"
#include "FracMerge.h"
#include "FracProgress.h"
#include "GenInstance.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "vexBugReport.h"
#include "vexMapFile.h"
#include "vexStackTrace.h"
#include "vexThreads.h"
#include "vexTools.h"

std::vector<TModuleEntry> ProgramModules() {
    // Program information first: the single-instance names, the registry base key and the
    // configuration all depend on the version it reads.
    return {
        {"GenUtils", InitializeGenUtils, FinalizeGenUtils},
        {"GenProgram", InitializeGenProgram, FinalizeGenProgram},
        {"GenInstance", InitializeGenInstance, FinalizeGenInstance},
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
        {"FileHistory", InitializeFileHistory, FinalizeFileHistory},
        {"vexTools", nullptr, FinalizeVexTools},
        {"vexMapFile", InitializeVexMapFile, FinalizeVexMapFile},
        // The thread table's shared block; without it reports name no threads but still work.
        {"vexThreads", [] { InitializeVexThreads(); }, FinalizeVexThreads},
        {"vexStackTrace", nullptr, FinalizeVexStackTrace},
        {"vexBugReport", InitializeVexBugReport, nullptr},
    };
}

std::string ProgramTitle() {
    return ProgramInformation()->Title;
}
