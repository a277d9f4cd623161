#include "FormServerOptions.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "AdvDlgs.h"
#include "FormConnection.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "NetClient.h"
#include "NetCommon.h"

namespace {

constexpr const char *OptionsFormName = "ServerOptionsForm";
constexpr const char *FilterFormName = "ServerAddFilterForm";

template <class T> T *Place(TWinControl *Parent, int Left, int Top, int Width, int Height) {
    auto *control = new T(Parent);
    control->SetParent(Parent);
    control->SetBounds(Left, Top, Width, Height);
    return control;
}

TLabel *PlaceLabel(TWinControl *Parent, const char *Caption, int Left, int Top, TWinControl *Focus) {
    auto *label = Place<TLabel>(Parent, Left, Top, 150, 16);
    label->SetCaption(Caption);
    label->SetFocusControl(Focus);
    return label;
}

TCheckBox *PlaceCheck(TWinControl *Parent, const char *Caption, int Left, int Top, int Width) {
    auto *check = Place<TCheckBox>(Parent, Left, Top, Width, 18);
    check->SetCaption(Caption);
    return check;
}

TGroupBox *PlaceGroup(TWinControl *Parent, const char *Caption, int Top, int Height) {
    auto *group = Place<TGroupBox>(Parent, 8, Top, 330, Height);
    group->SetCaption(Caption);
    return group;
}

// OK and Cancel at the right of the form's bottom.
std::pair<TButton *, TButton *> AddDialogButtons(TForm &Form, int Top) {
    auto *ok = Place<TButton>(&Form, Form.ClientWidth() - 168, Top, 75, 25);
    ok->SetCaption("OK");
    ok->SetDefault(true);
    ok->SetModalResult(mrOk);
    auto *cancel = Place<TButton>(&Form, Form.ClientWidth() - 86, Top, 75, 25);
    cancel->SetCaption("Cancel");
    cancel->SetCancel(true);
    cancel->SetModalResult(mrCancel);
    return {ok, cancel};
}

} // namespace

static TServerLogDialogFunction &LogDialogFunction() {
    static TServerLogDialogFunction function;
    return function;
}

TServerLogDialogFunction SetServerLogDialog(TServerLogDialogFunction Function) {
    TServerLogDialogFunction previous = std::move(LogDialogFunction());
    LogDialogFunction() = std::move(Function);
    return previous;
}

// ---------------------------------------------------------------------------------------------
// TServerOptionsForm

TServerOptionsForm::TServerOptionsForm(TComponent *AOwner, TServerConfiguration &AConfiguration)
    : TForm(AOwner), FConfiguration(AConfiguration), FFilters(std::make_unique<TNetworkAddressFilterList>()) {
    SetName(OptionsFormName);
    SetCaption("Options");
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    // The window first: a client size set before it exists would count the frame in.
    HandleNeeded();
    SetClientSize(362, 372);
    OnCloseQuery = MakeEvent<&TServerOptionsForm::FormCloseQuery>(this);

    Pages = Place<TPageControl>(this, 4, 4, 354, 326);
    auto *general = new TTabSheet(this);
    general->SetPageControl(Pages);
    general->SetCaption("General");
    auto *security = new TTabSheet(this);
    security->SetPageControl(Pages);
    security->SetCaption("Security");
    const TNotifyEvent click = MakeNotifyEvent<&TServerOptionsForm::ControlClick>(this);

    TGroupBox *calculations = PlaceGroup(general, "Calculations", 6, 52);
    PriorityInput = Place<TComboBox>(calculations, 130, 20, 120, 21);
    PriorityInput->SetStyle(csDropDownList);
    for (const char *priority : {"Idle", "Lowest", "Low", "Normal"})
        PriorityInput->Items().Add(priority);
    PlaceLabel(calculations, "&Thread Priority:", 10, 23, PriorityInput);
    TGroupBox *logging = PlaceGroup(general, "Logging", 64, 76);
    LogEnabledCheck = PlaceCheck(logging, "Log &events to a file", 10, 18, 200);
    LogEnabledCheck->OnClick = click;
    LogFileInput = Place<TEdit>(logging, 110, 44, 136, 21);
    LogFileLabel = PlaceLabel(logging, "Log file &name:", 10, 47, LogFileInput);
    LogBrowseButton = Place<TButton>(logging, 252, 42, 80, 25);
    LogBrowseButton->SetCaption("&Browse...");
    LogBrowseButton->OnClick = MakeNotifyEvent<&TServerOptionsForm::LogBrowseClick>(this);
    TGroupBox *incoming = PlaceGroup(general, "Incoming connections", 146, 76);
    PortInput = Place<TEdit>(incoming, 110, 18, 60, 21);
    PortInput->OnChange = MakeNotifyEvent<&TServerOptionsForm::PortChange>(this);
    PlaceLabel(incoming, "&Listen on port:", 10, 21, PortInput);
    PortDefaultCheck = PlaceCheck(incoming, "Use &default port", 110, 46, 180);
    PortDefaultCheck->OnClick = click;
    auto *information = Place<TMessageImage>(general, 12, 230, 32, 32);
    // A copy: the image frees its icon, and the system's own must stay.
    information->Icon().SetHandle(CopyIcon(LoadIconA(nullptr, MAKEINTRESOURCEA(32516)))); // IDI_INFORMATION
    auto *note = Place<TLabel>(general, 52, 232, 280, 30);
    note->SetWordWrap(true);
    note->SetCaption("Changes will take effect the next time Orbisk Vantel Server is started.");

    TGroupBox *filtering = PlaceGroup(security, "Address filtering", 6, 170);
    FilterEnabledCheck =
        PlaceCheck(filtering, "&Only accept connections from the IP addresses listed below:", 10, 18, 316);
    FilterEnabledCheck->OnClick = click;
    FilterList = Place<TListBox>(filtering, 10, 42, 220, 118);
    FilterAddButton = Place<TButton>(filtering, 240, 42, 80, 25);
    FilterAddButton->SetCaption("&Add...");
    FilterAddButton->OnClick = MakeNotifyEvent<&TServerOptionsForm::FilterAddClick>(this);
    FilterRemoveButton = Place<TButton>(filtering, 240, 72, 80, 25);
    FilterRemoveButton->SetCaption("Re&move");
    FilterRemoveButton->OnClick = MakeNotifyEvent<&TServerOptionsForm::FilterRemoveClick>(this);
    TGroupBox *passwords = PlaceGroup(security, "Passwords", 182, 104);
    PasswordRequiredCheck =
        PlaceCheck(passwords, "&Require a password to connect to this server", 10, 18, 316);
    PasswordRequiredCheck->OnClick = click;
    PasswordInput = Place<TEdit>(passwords, 130, 44, 180, 21);
    PasswordInput->SetPasswordChar('*');
    PasswordLabel = PlaceLabel(passwords, "&Password:", 10, 47, PasswordInput);
    PasswordConfirmInput = Place<TEdit>(passwords, 130, 72, 180, 21);
    PasswordConfirmInput->SetPasswordChar('*');
    PasswordConfirmLabel = PlaceLabel(passwords, "&Confirm Password:", 10, 75, PasswordConfirmInput);
    AddDialogButtons(*this, 338);

    if (TConfigManager *config = ConfigManager()) {
        HandleNeeded();
        if (config->LoadWindowPlacement(Handle(), OptionsFormName, false))
            SetPosition(poDesigned);
        Pages->SetActivePageIndex(
            std::clamp(config->ReadFormInteger(OptionsFormName, "ActivePage", 0), 0, 1));
    }
    {
        TScopeLock<TServerConfiguration> lock(FConfiguration);
        PriorityInput->SetItemIndex(std::min<int>(FConfiguration.Priority, 3));
        LogEnabledCheck->SetChecked(FConfiguration.LogEnabled);
        LogFileInput->SetText(FConfiguration.LogFileName);
        FPort = FConfiguration.Port >= 1 && FConfiguration.Port <= 65535 ? std::uint16_t(FConfiguration.Port)
                                                                         : DefaultServerPort;
        FilterEnabledCheck->SetChecked(FConfiguration.FilterEnabled);
        FFilters->Assign(*FConfiguration.Filters);
        PasswordRequiredCheck->SetChecked(FConfiguration.PasswordRequired);
        PasswordInput->SetText(FConfiguration.Password);
        PasswordConfirmInput->SetText(FConfiguration.Password);
    }
    PortDefaultCheck->SetChecked(FPort == DefaultServerPort);
    UpdatePort();
    UpdateLog();
    UpdateFilters();
    UpdatePassword();
}

TServerOptionsForm::~TServerOptionsForm() {
    if (TConfigManager *config = ConfigManager()) {
        config->WriteFormInteger(OptionsFormName, "ActivePage", Pages->ActivePageIndex());
        if (HandleAllocated())
            config->SaveWindowPlacement(Handle(), OptionsFormName, false);
    }
}

void TServerOptionsForm::UpdatePort() {
    if (PortDefaultCheck->Checked())
        FPort = DefaultServerPort;
    const std::string text = Format("%d", int(FPort));
    if (PortInput->Text() != text)
        PortInput->SetText(text);
    PortInput->SetEnabled(!PortDefaultCheck->Checked());
}

void TServerOptionsForm::UpdateLog() {
    const bool enabled = LogEnabledCheck->Checked();
    LogFileLabel->SetEnabled(enabled);
    LogFileInput->SetEnabled(enabled);
    LogBrowseButton->SetEnabled(enabled);
}

void TServerOptionsForm::LogBrowseClick(TObject *) {
    TSaveDialog dialog(nullptr);
    dialog.Title = "Browse";
    dialog.DefaultExt = "log";
    dialog.Filter = "Log files (*.log)|*.log|All files (*.*)|*.*";
    // The log is appended to: choosing an existing file is the usual case, not a risk.
    dialog.OverwritePrompt = false;
    dialog.FileName = LogFileInput->Text();
    const TServerLogDialogFunction &function = LogDialogFunction();
    if (function ? function(dialog) : dialog.Execute())
        LogFileInput->SetText(dialog.FileName);
}

void TServerOptionsForm::UpdateFilters() {
    const bool enabled = FilterEnabledCheck->Checked();
    FilterList->SetEnabled(enabled);
    FilterAddButton->SetEnabled(enabled);
    FilterRemoveButton->SetEnabled(enabled && FFilters->GetCount() > 0);
    const int selected = FilterList->ItemIndex();
    TStrings &items = FilterList->Items();
    items.BeginUpdate();
    items.Clear();
    for (int i = 0; i < FFilters->GetCount(); ++i)
        items.Add(FFilters->GetItem(i)->GetText());
    items.EndUpdate();
    FilterList->SetItemIndex(
        FFilters->GetCount() > 0 ? std::min(std::max(selected, 0), FFilters->GetCount() - 1) : -1);
}

void TServerOptionsForm::UpdatePassword() {
    const bool enabled = PasswordRequiredCheck->Checked();
    for (TControl *control : std::initializer_list<TControl *>{PasswordLabel, PasswordInput,
                                                               PasswordConfirmLabel, PasswordConfirmInput})
        control->SetEnabled(enabled);
}

void TServerOptionsForm::ControlClick(TObject *Sender) {
    if (Sender == PortDefaultCheck)
        UpdatePort();
    else if (Sender == LogEnabledCheck)
        UpdateLog();
    else if (Sender == FilterEnabledCheck)
        UpdateFilters();
    else if (Sender == PasswordRequiredCheck)
        UpdatePassword();
}

void TServerOptionsForm::PortChange(TObject *) {
    // A text that is no port leaves the working port as it was; OK then stores that one.
    std::uint16_t port;
    if (!PortDefaultCheck->Checked() && ParsePortText(PortInput->Text(), port))
        FPort = port;
}

void TServerOptionsForm::FilterAddClick(TObject *) {
    auto dialog = std::make_unique<TServerAddFilterForm>(nullptr);
    if (dialog->ShowModal() == mrOk)
        FFilters->Add()->Assign(dialog->Filter());
    UpdateFilters();
    if (FFilters->GetCount() > 0)
        FilterList->SetItemIndex(FFilters->GetCount() - 1);
}

void TServerOptionsForm::FilterRemoveClick(TObject *) {
    const int index = FilterList->ItemIndex();
    if (index >= 0 && index < FFilters->GetCount())
        FFilters->Delete(index);
    UpdateFilters();
}

bool TServerOptionsForm::Accept(bool Warn) {
    if (PasswordRequiredCheck->Checked() && PasswordInput->Text() != PasswordConfirmInput->Text()) {
        if (Warn) {
            AdvMessageDlg("The passwords do not match. Please enter them again.", mtWarning, {mbOK}, 0);
            PasswordInput->SetFocus();
        }
        return false;
    }
    TScopeLock<TServerConfiguration> lock(FConfiguration);
    FConfiguration.Priority = std::uint8_t(std::clamp(PriorityInput->ItemIndex(), 0, 3));
    FConfiguration.LogEnabled = LogEnabledCheck->Checked();
    FConfiguration.LogFileName = LogFileInput->Text();
    FConfiguration.Port = FPort;
    FConfiguration.FilterEnabled = FilterEnabledCheck->Checked();
    FConfiguration.Filters->Assign(*FFilters);
    FConfiguration.PasswordRequired = PasswordRequiredCheck->Checked();
    if (FConfiguration.PasswordRequired)
        FConfiguration.Password = PasswordInput->Text();
    return true;
}

void TServerOptionsForm::FormCloseQuery(TObject *, bool &CanClose) {
    if (ModalResult() == mrOk)
        CanClose = Accept();
}

// ---------------------------------------------------------------------------------------------
// TServerAddFilterForm

TServerAddFilterForm::TServerAddFilterForm(TComponent *AOwner)
    : TForm(AOwner), FFilter(std::make_unique<TNetworkAddressFilter>()) {
    SetName(FilterFormName);
    SetCaption("Add Addresses");
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    // The window first: a client size set before it exists would count the frame in.
    HandleNeeded();
    SetClientSize(300, 93);
    OnCloseQuery = MakeEvent<&TServerAddFilterForm::FormCloseQuery>(this);
    AddSingleRadio = Place<TRadioButton>(this, 10, 8, 200, 18);
    AddSingleRadio->SetCaption("Add a &single address");
    AddRangeRadio = Place<TRadioButton>(this, 10, 28, 200, 18);
    AddRangeRadio->SetCaption("Add a &range of addresses");
    FromInput = Place<TEdit>(this, 80, 52, 120, 21);
    FromLabel = PlaceLabel(this, "&From:", 10, 55, FromInput);
    ToInput = Place<TEdit>(this, 80, 78, 120, 21);
    ToLabel = PlaceLabel(this, "&To:", 10, 81, ToInput);
    std::tie(FOKButton, FCancelButton) = AddDialogButtons(*this, 84);

    bool single = true;
    std::string from, to;
    if (TConfigManager *config = ConfigManager()) {
        single = config->ReadFormBool(FilterFormName, "SingleMode", true);
        config->ReadFormString(FilterFormName, "FromAddress", from, "");
        config->ReadFormString(FilterFormName, "ToAddress", to, "");
    }
    (single ? AddSingleRadio : AddRangeRadio)->SetChecked(true);
    FromInput->SetText(from);
    ToInput->SetText(to);
    AddSingleRadio->OnClick = MakeNotifyEvent<&TServerAddFilterForm::RadioClick>(this);
    AddRangeRadio->OnClick = MakeNotifyEvent<&TServerAddFilterForm::RadioClick>(this);
    UpdateControls();
    if (TConfigManager *config = ConfigManager()) {
        HandleNeeded();
        if (config->LoadWindowPlacement(Handle(), FilterFormName, false))
            SetPosition(poDesigned);
    }
}

TServerAddFilterForm::~TServerAddFilterForm() {
    if (TConfigManager *config = ConfigManager()) {
        if (HandleAllocated())
            config->SaveWindowPlacement(Handle(), FilterFormName, false);
        config->WriteFormString(FilterFormName, "ToAddress", ToInput->Text());
        config->WriteFormString(FilterFormName, "FromAddress", FromInput->Text());
        config->WriteFormBool(FilterFormName, "SingleMode", AddSingleRadio->Checked());
    }
}

void TServerAddFilterForm::UpdateControls() {
    const bool single = AddSingleRadio->Checked();
    FromLabel->SetCaption(single ? "&Address:" : "&From:");
    ToLabel->SetVisible(!single);
    ToInput->SetVisible(!single);
    const int height = ScaleForScreenFont(single ? 93 : 117);
    // The buttons stand at the bottom of either height.
    FOKButton->SetTop(height - 33);
    FCancelButton->SetTop(height - 33);
    SetClientSize(300, height);
}

void TServerAddFilterForm::RadioClick(TObject *) {
    UpdateControls();
}

bool TServerAddFilterForm::Accept(bool Warn, std::string *Error) {
    TNetworkAddressFilter filter;
    TEdit *input = FromInput;
    try {
        filter.From().SetText(FromInput->Text());
        input = ToInput;
        if (AddRangeRadio->Checked())
            filter.To().SetText(ToInput->Text());
        else
            filter.To().Assign(filter.From());
    } catch (const ENetworkError &error) {
        if (Error)
            *Error = error.what();
        if (Warn) {
            AdvMessageDlg(error.what(), mtWarning, {mbOK}, 0);
            input->SetFocus();
        }
        return false;
    }
    FFilter->Assign(filter);
    return true;
}

void TServerAddFilterForm::FormCloseQuery(TObject *, bool &CanClose) {
    if (ModalResult() == mrOk)
        CanClose = Accept();
}
