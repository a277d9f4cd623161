// A shown main window for the tests of the main window.
#pragma once

#include <gtest/gtest.h>

#include "FormMain.h"
#include "tests/WindowTestSupport.h"

// Takes the posted start-up message away: its work would open the test program's own arguments
// as documents.
inline bool DiscardStartup(TMainForm &Form) {
    MSG startup;
    return PeekMessageA(&startup, Form.Handle(), WM_STARTUP, WM_STARTUP, PM_REMOVE) != FALSE;
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        Form = new TMainForm(nullptr);
        EXPECT_TRUE(DiscardStartup(*Form));
        Application->SetMainForm(Form);
        Form->Show();
        window_test::PumpPending();
    }
    void TearDown() override {
        Application->SetHint("");
        delete Form;
        window_test::PumpPending();
    }
    TMainForm *Form = nullptr;
};
