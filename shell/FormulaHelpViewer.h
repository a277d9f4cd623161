// The viewers that show a formula's help: a web browser, the HTML Help viewer or WinHelp. The
// module installs them for the formula objects, which only decide what is shown.
#pragma once

#include "FracFormulaBase.h"

// Each does nothing it cannot do (no registered browser, no HTML Help library).
class TShellFormulaHelpViewer : public TFormulaHelpViewer {
public:
    void ShowBrowserHelpTopic(const std::string &File, const std::string &Topic) override;
    void ShowHtmlHelpTopic(const std::string &File, const std::string &Topic) override;
    void ShowWinHelpTopic(const std::string &File, const std::string &Topic) override;
};

void InitializeFormulaHelpViewer();
void FinalizeFormulaHelpViewer();
