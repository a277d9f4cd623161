// The modules that compiling and running formulas needs, started in the program's order and
// stopped in reverse, for test environments and benchmarks that have no program module list.
#pragma once

#include "CompFileManager.h"
#include "CompHugeAccess.h"
#include "CompLexical.h"
#include "CompMessages.h"
#include "CompRoutines.h"
#include "FracFormulaBase.h"

inline void StartFormulaModules() {
    InitializeCompRoutines();
    InitializeCompHugeAccess();
    InitializeCompMessages();
    InitializeCompFileManager();
    InitializeCompLexical();
    InitializeFracFormulaBase();
}

// The arbitrary-precision access and the routine tables stay: they hold no formula state.
inline void StopFormulaModules() {
    FinalizeFracFormulaBase();
    if (ErrorManager())
        ErrorManager()->ClearFormula();
    FinalizeCompLexical();
    FinalizeCompFileManager();
    FinalizeCompMessages();
}
