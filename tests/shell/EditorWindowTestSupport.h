// The set-up the editor's window tests share: the forms layer and a configuration of their own
// (the Editor settings, the dialogs' stored check boxes and column widths), made once per suite.
#pragma once

#include <gtest/gtest.h>

#include "Forms.h"
#include "tests/documents/DocumentTestSupport.h"

template <class TBase = testing::Test>
class TEditorWindowTest : public TBase {
protected:
    using TBase::TBase;
    static void SetUpTestSuite() {
        FOwnsForms = Application == nullptr;
        if (FOwnsForms)
            InitializeForms();
        Configuration = new TDocumentConfiguration("Alice");
    }
    static void TearDownTestSuite() {
        delete Configuration;
        Configuration = nullptr;
        if (FOwnsForms)
            FinalizeForms();
    }
    static inline bool FOwnsForms = false;
    static inline TDocumentConfiguration *Configuration = nullptr;
};
