#include "FormWelcome.h"

#include <memory>

#include "GenSetup.h"
#include "HelpHandler.h"

const char *const WhatsNewTopic = "Html/whatsnew/newfeatures.html";
const char *const TutorialsTopic = "Html/tutorials/tutorials.html";
const char *const WorkspaceTopic = "Html/workspace/workspace.html";

namespace {

constexpr int FormWidth = 440;
constexpr int TextLeft = 84;

} // namespace

TWelcomeForm::TWelcomeForm(TComponent *AOwner) : TForm(AOwner) {
    SetName("WelcomeForm");
    SetCaption("Welcome");
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    SetColor(clWhite);
    SetClientSize(FormWidth, 402);
    WelcomeLabel = AddText("Welcome to Orbisk Vantel 3", TextLeft, 14, 340, 18);
    AddText("To get you started quickly, Orbisk Vantel contains extensive help, including a full set of "
            "tutorials. What do you want to do?",
            TextLeft, 40, 344, 44);
    StartRadio = AddOption("&Start Orbisk Vantel",
                           "Closes this dialog so you can start working with Orbisk Vantel.", 94);
    WhatsNewRadio =
        AddOption("See &what's new", "Shows an overview of the new features in Orbisk Vantel 3.", 146);
    TutorialsRadio = AddOption("Open the &tutorials",
                               "Shows step-by-step how to create fractals and work with layers.", 198);
    WorkspaceRadio = AddOption("Learn more about the &workspace",
                               "Introduces the workspace and the available tool windows.", 250);
    AddText("All help topics are also always accessible on the Help menu.", TextLeft, 304, 350, 16);
    ShowCheck = new TCheckBox(this);
    ShowCheck->SetParent(this);
    ShowCheck->SetCaption("&Show this dialog on startup");
    ShowCheck->SetBounds(TextLeft, 332, 220, 18);
    ShowCheck->SetChecked(true);
    OkButton = new TButton(this);
    OkButton->SetParent(this);
    OkButton->SetCaption("OK");
    OkButton->SetDefault(true);
    OkButton->SetModalResult(mrOk);
    OkButton->SetBounds(FormWidth - 174, 366, 75, 25);
    CancelButton = new TButton(this);
    CancelButton->SetParent(this);
    CancelButton->SetCaption("Cancel");
    CancelButton->SetCancel(true);
    CancelButton->SetModalResult(mrCancel);
    CancelButton->SetBounds(FormWidth - 87, 366, 75, 25);
    StartRadio->SetChecked(true);
    FormCreate();
    // Once more with the window made: only then is its frame known, so that the client area gets
    // the size asked for.
    Handle();
    SetClientSize(FormWidth, 402);
}

TLabel *TWelcomeForm::AddText(const std::string &Caption, int Left, int Top, int Width, int Height) {
    auto *label = new TLabel(this);
    label->SetParent(this);
    label->SetAutoSize(false);
    label->SetWordWrap(true);
    label->SetTransparent(true);
    label->SetCaption(Caption);
    label->SetBounds(Left, Top, Width, Height);
    return label;
}

TRadioButton *TWelcomeForm::AddOption(const std::string &Caption, const std::string &Text, int Top) {
    auto *radio = new TRadioButton(this);
    radio->SetParent(this);
    radio->SetCaption(Caption);
    radio->SetBounds(TextLeft, Top, 340, 18);
    AddText(Text, TextLeft + 18, Top + 20, 322, 28);
    return radio;
}

void TWelcomeForm::FormCreate() {
    if (TConfigManager *config = ConfigManager()) {
        Font().SetName(config->General->Font.Name);
        Font().SetSize(config->General->Font.Size);
    }
    Font().SetColor(clBlack);
    for (int i = 0; i < ControlCount(); ++i)
        Controls(i)->Font().Assign(Font());
    for (TControl *control : std::initializer_list<TControl *>{WelcomeLabel, StartRadio, WhatsNewRadio,
                                                               TutorialsRadio, WorkspaceRadio})
        control->Font().SetStyle(control->Font().Style() | fsBold);
}

void TWelcomeForm::Paint() {
    TForm::Paint();
    // The picture: the program's icon, large.
    if (HICON icon = LoadIconA(GetModuleHandleA(nullptr), "MAINICON"))
        DrawIconEx(Canvas().Handle(), 20, 14, icon, 48, 48, 0, nullptr, DI_NORMAL);
}

std::string TWelcomeForm::ChosenTopic() {
    if (WhatsNewRadio->Checked())
        return WhatsNewTopic;
    if (TutorialsRadio->Checked())
        return TutorialsTopic;
    if (WorkspaceRadio->Checked())
        return WorkspaceTopic;
    return std::string();
}

void ApplyWelcome(TWelcomeForm &Form, int Result) {
    if (TConfigManager *config = ConfigManager())
        config->General->StartupWelcome = Form.ShowCheck->Checked();
    if (Result == mrOk) {
        const std::string topic = Form.ChosenTopic();
        if (!topic.empty())
            HelpJump(topic);
    }
}

void ShowWelcome() {
    auto form = std::make_unique<TWelcomeForm>(nullptr);
    const int result = form->ShowModal();
    ApplyWelcome(*form, result);
}
