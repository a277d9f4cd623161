// The compiler's global lists for a test fixture: the message list and, when asked, the list of
// compiled objects. Tests of one program share them, so a fixture makes only what no other test
// made and frees only what it made.
#pragma once

#include <gtest/gtest.h>

#include "CompHugeAccess.h"
#include "CompLexical.h"
#include "CompMessages.h"
#include "CompRoutines.h"

class TCompilerGlobals {
public:
    void Start(bool WithCompiledObjects = false) {
        if (WithCompiledObjects && !CompiledObjects()) {
            InitializeCompLexical();
            FStartedList = true;
        }
        if (!ErrorManager()) {
            InitializeCompMessages();
            FStartedMessages = true;
        }
    }
    // Detaches the message list from the formula it reports for, then frees what Start made.
    void Finish() {
        if (ErrorManager())
            ErrorManager()->ClearFormula();
        if (FStartedList)
            FinalizeCompLexical();
        if (FStartedMessages)
            FinalizeCompMessages();
        FStartedList = FStartedMessages = false;
    }

private:
    bool FStartedList = false;
    bool FStartedMessages = false;
};

// A fixture for compiled objects run in any precision: the routine tables are set up for the
// suite, and the compiled objects live in the global list with the message list, as in the
// program.
class TCompiledFormulaFixture : public testing::Test {
protected:
    static void SetUpTestSuite() {
        InitializeCompRoutines();
        InitializeCompHugeAccess();
    }
    static void TearDownTestSuite() { FinalizeCompHugeAccess(); }
    void SetUp() override { FGlobals.Start(true); }
    void TearDown() override { FGlobals.Finish(); }

private:
    TCompilerGlobals FGlobals;
};
