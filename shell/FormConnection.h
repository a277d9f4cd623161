// The dialog that adds or edits one calculation server entry: host, port, password and whether
// the connection is restored at the next start.
#pragma once

#include <cstdint>
#include <string>

#include "Forms.h"
#include "StdCtrls.h"

// A port text: an integer from 1 to 65535 and nothing else.
bool ParsePortText(const std::string &Text, std::uint16_t &Port);

class TConnectionForm : public TForm {
public:
    DECLARE_CLASS_NAME(TConnectionForm)
    // Opens with the values stored by the last dialog that added an entry.
    explicit TConnectionForm(TComponent *AOwner, bool AEditMode = false);
    ~TConnectionForm() override;

    // The values of an entry to edit; setting a port ticks "Use default port" exactly for 8691.
    void SetHost(const std::string &Value) { HostInput->SetText(Value); }
    void SetPassword(const std::string &Value) { PasswordInput->SetText(Value); }
    void SetPort(std::uint16_t Value);
    void SetReconnect(bool Value) { ReconnectCheck->SetChecked(Value); }
    // The result after OK.
    std::string Host() { return HostInput->Text(); }
    std::string Password() { return PasswordInput->Text(); }
    std::uint16_t Port() const { return FPort; }
    bool Reconnect() { return ReconnectCheck->Checked(); }

    // Checks the input as OK does: false (with the message shown) keeps the dialog open.
    bool Accept();

    TEdit *HostInput;
    TEdit *PortInput;
    TCheckBox *DefaultPortCheck;
    TEdit *PasswordInput;
    TCheckBox *ReconnectCheck;
    TButton *OKButton;
    TButton *CancelButton;

private:
    void DefaultPortClick(TObject *Sender);
    void FormCloseQuery(TObject *Sender, bool &CanClose);
    void UpdatePort();

    bool FEditMode;
    std::uint16_t FPort = 8691;
};
