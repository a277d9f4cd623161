#include "FormNewFormula.h"

#include "FormEditor.h"
#include "GenSetup.h"

const char *const EnterTitleMessage = "Please enter a title first.";

namespace {

constexpr const char *FormName = "NewFormulaForm";

TCheckBox *AddCheck(TForm &Form, const char *Caption, int Top, int HelpContext) {
    auto *check = new TCheckBox(&Form);
    check->SetParent(&Form);
    check->SetCaption(Caption);
    check->SetBounds(12, Top, 260, 18);
    check->SetHelpContext(HelpContext);
    return check;
}

TRadioButton *AddRadio(TForm &Form, TGroupBox *Group, const char *Caption, int Top, int HelpContext) {
    auto *radio = new TRadioButton(&Form);
    radio->SetParent(Group);
    radio->SetCaption(Caption);
    radio->SetBounds(10, Top, 220, 18);
    radio->SetHelpContext(HelpContext);
    return radio;
}

} // namespace

TNewFormulaForm::TNewFormulaForm(TComponent *AOwner) : TForm(AOwner) {
    SetName(FormName);
    SetCaption("New Formula");
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    SetClientSize(350, 262);
    OnCloseQuery = MakeEvent<&TNewFormulaForm::FormCloseQuery>(this);

    TitleInput = new TEdit(this);
    TitleInput->SetParent(this);
    TitleInput->SetBounds(90, 12, 248, 21);
    TitleInput->SetHelpContext(2600);
    auto *titleLabel = new TLabel(this);
    titleLabel->SetParent(this);
    titleLabel->SetCaption("&Title:");
    titleLabel->SetBounds(12, 15, 70, 16);
    titleLabel->SetFocusControl(TitleInput);

    SymmetryInput = new TComboBox(this);
    SymmetryInput->SetParent(this);
    SymmetryInput->SetStyle(csDropDownList);
    SymmetryInput->SetBounds(90, 40, 248, 21);
    SymmetryInput->SetHelpContext(2601);
    for (const std::string &item : SymmetryItems())
        SymmetryInput->Items().Add(item);
    SymmetryInput->SetItemIndex(0);
    auto *symmetryLabel = new TLabel(this);
    symmetryLabel->SetParent(this);
    symmetryLabel->SetCaption("&Symmetry:");
    symmetryLabel->SetBounds(12, 43, 70, 16);
    symmetryLabel->SetFocusControl(SymmetryInput);

    UsageGroup = new TGroupBox(this);
    UsageGroup->SetParent(this);
    UsageGroup->SetCaption("Usage");
    UsageGroup->SetBounds(12, 70, 326, 90);
    InsideRadio = AddRadio(*this, UsageGroup, "&Inside coloring", 18, 2602);
    OutsideRadio = AddRadio(*this, UsageGroup, "&Outside coloring", 40, 2603);
    BothRadio = AddRadio(*this, UsageGroup, "&Both inside and outside", 62, 2604);
    BothRadio->SetChecked(true);

    GlobalCheck = AddCheck(*this, "Insert glob&al section", 170, 2605);
    CommentsCheck = AddCheck(*this, "Insert &comments for each section", 192, 2606);

    OKButton = new TButton(this);
    OKButton->SetParent(this);
    OKButton->SetCaption("OK");
    OKButton->SetBounds(182, 226, 75, 25);
    OKButton->SetDefault(true);
    OKButton->SetModalResult(mrOk);
    OKButton->SetHelpContext(2607);
    OKButton->OnClick = MakeNotifyEvent<&TNewFormulaForm::OkButtonClick>(this);
    CancelButton = new TButton(this);
    CancelButton->SetParent(this);
    CancelButton->SetCaption("Cancel");
    CancelButton->SetBounds(263, 226, 75, 25);
    CancelButton->SetCancel(true);
    CancelButton->SetModalResult(mrCancel);
    CancelButton->SetHelpContext(2608);

    bool comments = true, global = true;
    if (TConfigManager *config = ConfigManager()) {
        comments = config->ReadFormBool(FormName, "InsertComments", true);
        global = config->ReadFormBool(FormName, "GlobalSection", true);
    }
    CommentsCheck->SetChecked(comments);
    GlobalCheck->SetChecked(global);
    UpdateControls();
}

TNewFormulaForm::~TNewFormulaForm() {
    if (TConfigManager *config = ConfigManager()) {
        config->WriteFormBool(FormName, "InsertComments", CommentsCheck->Checked());
        config->WriteFormBool(FormName, "GlobalSection", GlobalCheck->Checked());
    }
}

void TNewFormulaForm::SetKind(TEditorKind AKind) {
    if (AKind == FKind)
        return;
    FKind = AKind;
    UpdateControls();
}

void TNewFormulaForm::UpdateControls() {
    const bool coloring = FKind == TEditorKind::Coloring;
    InsideRadio->SetEnabled(coloring);
    OutsideRadio->SetEnabled(coloring);
    BothRadio->SetEnabled(coloring);
    SymmetryInput->SetEnabled(FKind == TEditorKind::Formula);
}

void TNewFormulaForm::OkButtonClick(TObject *) {
    FOptions.InsertComments = CommentsCheck->Checked();
    FOptions.GlobalSection = GlobalCheck->Checked();
    FOptions.Qualifier.clear();
    FOptions.Title = TitleInput->Text();
    if (FKind == TEditorKind::Formula) {
        const int symmetry = SymmetryInput->ItemIndex();
        if (symmetry > 0)
            FOptions.Qualifier = SymmetryInput->Items()[symmetry];
    } else if (FKind == TEditorKind::Coloring) {
        if (InsideRadio->Checked())
            FOptions.Qualifier = "INSIDE";
        else if (OutsideRadio->Checked())
            FOptions.Qualifier = "OUTSIDE";
    }
}

void TNewFormulaForm::FormCloseQuery(TObject *, bool &CanClose) {
    if (ModalResult() != mrOk || !TitleInput->Text().empty())
        return;
    CanClose = false;
    EditorPrompts().Inform(EnterTitleMessage, true);
    if (TitleInput->CanFocus())
        TitleInput->SetFocus();
}
