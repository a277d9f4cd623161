// The welcome window after start-up: start working or open one of three pages of the help, and
// whether it shows again at the next start.
#pragma once

#include <string>

#include "Forms.h"
#include "StdCtrls.h"

class TWelcomeForm : public TForm {
public:
    DECLARE_CLASS_NAME(TWelcomeForm)
    explicit TWelcomeForm(TComponent *AOwner);

    TLabel *WelcomeLabel;
    TRadioButton *StartRadio;
    TRadioButton *WhatsNewRadio;
    TRadioButton *TutorialsRadio;
    TRadioButton *WorkspaceRadio;
    TCheckBox *ShowCheck;
    TButton *OkButton;
    TButton *CancelButton;

    // The help page the chosen option opens; empty for Start.
    std::string ChosenTopic();

protected:
    void Paint() override;

private:
    void FormCreate();
    TLabel *AddText(const std::string &Caption, int Left, int Top, int Width, int Height);
    TRadioButton *AddOption(const std::string &Caption, const std::string &Text, int Top);
};

// The help pages of the main window's Help menu that the welcome window offers too.
extern const char *const WhatsNewTopic;
extern const char *const TutorialsTopic;
extern const char *const WorkspaceTopic;

// What closing the dialog with Result does: StartupWelcome := the check box, whatever the button;
// with OK the chosen page opens.
void ApplyWelcome(TWelcomeForm &Form, int Result);
// Shows the dialog modally (no owner) and acts on it.
void ShowWelcome();
