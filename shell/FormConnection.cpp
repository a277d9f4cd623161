#include "FormConnection.h"

#include <cctype>

#include "AdvDlgs.h"
#include "GenSetup.h"
#include "NetClient.h"

namespace {

constexpr const char *FormName = "ConnectionForm";

TLabel *AddLabel(TForm &Form, const char *Caption, int Left, int Top, TWinControl *Focus) {
    auto *label = new TLabel(&Form);
    label->SetParent(&Form);
    label->SetCaption(Caption);
    label->SetBounds(Left, Top, 90, 16);
    label->SetFocusControl(Focus);
    return label;
}

TEdit *AddEdit(TForm &Form, int Top) {
    auto *edit = new TEdit(&Form);
    edit->SetParent(&Form);
    edit->SetBounds(104, Top, 170, 21);
    return edit;
}

TCheckBox *AddCheck(TForm &Form, const char *Caption, int Top) {
    auto *check = new TCheckBox(&Form);
    check->SetParent(&Form);
    check->SetCaption(Caption);
    check->SetBounds(104, Top, 220, 18);
    return check;
}

} // namespace

bool ParsePortText(const std::string &Text, std::uint16_t &Port) {
    if (Text.empty() || Text.size() > 5)
        return false;
    int value = 0;
    for (char c : Text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535)
        return false;
    Port = std::uint16_t(value);
    return true;
}

TConnectionForm::TConnectionForm(TComponent *AOwner, bool AEditMode) : TForm(AOwner), FEditMode(AEditMode) {
    SetName(FormName);
    SetCaption(AEditMode ? "Edit Connection" : "Add Connection");
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    SetClientSize(340, 222);
    OnCloseQuery = MakeEvent<&TConnectionForm::FormCloseQuery>(this);

    auto *text = new TLabel(this);
    text->SetParent(this);
    text->SetCaption("Creates or edits a connection to a computer running Orbisk Vantel Server.");
    text->SetBounds(12, 10, 316, 30);
    text->SetWordWrap(true);
    HostInput = AddEdit(*this, 48);
    AddLabel(*this, "&Host Address:", 12, 51, HostInput);
    PortInput = AddEdit(*this, 76);
    PortInput->SetWidth(60);
    AddLabel(*this, "P&ort:", 12, 79, PortInput);
    DefaultPortCheck = AddCheck(*this, "Use &default port", 102);
    DefaultPortCheck->OnClick = MakeNotifyEvent<&TConnectionForm::DefaultPortClick>(this);
    PasswordInput = AddEdit(*this, 126);
    PasswordInput->SetPasswordChar('*');
    AddLabel(*this, "&Password:", 12, 129, PasswordInput);
    ReconnectCheck = AddCheck(*this, "&Restore connection at startup", 154);

    OKButton = new TButton(this);
    OKButton->SetParent(this);
    OKButton->SetCaption("OK");
    OKButton->SetBounds(172, 186, 75, 25);
    OKButton->SetDefault(true);
    OKButton->SetModalResult(mrOk);
    CancelButton = new TButton(this);
    CancelButton->SetParent(this);
    CancelButton->SetCaption("Cancel");
    CancelButton->SetBounds(254, 186, 75, 25);
    CancelButton->SetCancel(true);
    CancelButton->SetModalResult(mrCancel);

    std::string host;
    int port = DefaultServerPort;
    bool defaultPort = true, reconnect = true;
    if (TConfigManager *config = ConfigManager()) {
        config->ReadFormString(FormName, "Host", host, "");
        port = config->ReadFormInteger(FormName, "Port", DefaultServerPort);
        defaultPort = config->ReadFormBool(FormName, "DefaultPort", true);
        reconnect = config->ReadFormBool(FormName, "Reconnect", true);
    }
    HostInput->SetText(host);
    FPort = port >= 1 && port <= 65535 ? std::uint16_t(port) : DefaultServerPort;
    DefaultPortCheck->SetChecked(defaultPort);
    ReconnectCheck->SetChecked(reconnect);
    UpdatePort();
}

TConnectionForm::~TConnectionForm() = default;

void TConnectionForm::SetPort(std::uint16_t Value) {
    FPort = Value;
    DefaultPortCheck->SetChecked(Value == DefaultServerPort);
    UpdatePort();
}

void TConnectionForm::UpdatePort() {
    if (DefaultPortCheck->Checked())
        FPort = DefaultServerPort;
    PortInput->SetText(Format("%d", int(FPort)));
    PortInput->SetEnabled(!DefaultPortCheck->Checked());
}

void TConnectionForm::DefaultPortClick(TObject *) {
    UpdatePort();
}

bool TConnectionForm::Accept() {
    if (HostInput->Text().empty()) {
        AdvMessageDlg("Please enter the host address.", mtWarning, {mbOK}, 0);
        HostInput->SetFocus();
        return false;
    }
    std::uint16_t port = DefaultServerPort;
    if (!DefaultPortCheck->Checked() && !ParsePortText(PortInput->Text(), port)) {
        AdvMessageDlg(Format("'%s' is not a valid port number (1 to 65535).", PortInput->Text()), mtWarning,
                      {mbOK}, 0);
        PortInput->SetFocus();
        return false;
    }
    FPort = port;
    if (!FEditMode) {
        if (TConfigManager *config = ConfigManager()) {
            config->WriteFormString(FormName, "Host", HostInput->Text());
            config->WriteFormInteger(FormName, "Port", FPort);
            config->WriteFormBool(FormName, "DefaultPort", DefaultPortCheck->Checked());
            config->WriteFormBool(FormName, "Reconnect", ReconnectCheck->Checked());
        }
    }
    return true;
}

void TConnectionForm::FormCloseQuery(TObject *, bool &CanClose) {
    if (ModalResult() == mrOk)
        CanClose = Accept();
}
