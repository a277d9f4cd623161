// The calculation server's options dialog (thread priority, log file, port, address filter,
// password) and the dialog that adds one address filter.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ComCtrls.h"
#include "Dialogs.h"
#include "Forms.h"
#include "StdCtrls.h"

class TNetworkAddressFilter;
class TNetworkAddressFilterList;
class TServerConfiguration;

// Runs the log file's save dialog (its Execute by default); tests answer it here. The previous
// function is returned.
using TServerLogDialogFunction = std::function<bool(TSaveDialog &Dialog)>;
TServerLogDialogFunction SetServerLogDialog(TServerLogDialogFunction Function);

class TServerOptionsForm : public TForm {
public:
    DECLARE_CLASS_NAME(TServerOptionsForm)
    // Loads the controls and a working copy of the filters from Configuration (under its lock).
    TServerOptionsForm(TComponent *AOwner, TServerConfiguration &AConfiguration);
    ~TServerOptionsForm() override;

    void UpdatePort();
    void UpdateLog();
    void UpdateFilters();
    void UpdatePassword();
    // OK's work: false when the two passwords differ (the warning is shown when Warn is set);
    // else the values are written to the configuration under its lock.
    bool Accept(bool Warn = true);
    TNetworkAddressFilterList &WorkingFilters() const { return *FFilters; }
    std::uint16_t WorkingPort() const { return FPort; }

    TPageControl *Pages;
    TComboBox *PriorityInput;
    TCheckBox *LogEnabledCheck;
    TLabel *LogFileLabel;
    TEdit *LogFileInput;
    TButton *LogBrowseButton;
    TEdit *PortInput;
    TCheckBox *PortDefaultCheck;
    TCheckBox *FilterEnabledCheck;
    TListBox *FilterList;
    TButton *FilterAddButton;
    TButton *FilterRemoveButton;
    TCheckBox *PasswordRequiredCheck;
    TLabel *PasswordLabel;
    TEdit *PasswordInput;
    TLabel *PasswordConfirmLabel;
    TEdit *PasswordConfirmInput;

private:
    void ControlClick(TObject *Sender);
    void PortChange(TObject *Sender);
    void FilterAddClick(TObject *Sender);
    void FilterRemoveClick(TObject *Sender);
    void LogBrowseClick(TObject *Sender);
    void FormCloseQuery(TObject *Sender, bool &CanClose);

    TServerConfiguration &FConfiguration;
    std::unique_ptr<TNetworkAddressFilterList> FFilters;
    std::uint16_t FPort = 8691;
};

class TServerAddFilterForm : public TForm {
public:
    DECLARE_CLASS_NAME(TServerAddFilterForm)
    explicit TServerAddFilterForm(TComponent *AOwner);
    ~TServerAddFilterForm() override;

    void UpdateControls();
    // OK's work: false with the address error's message (shown when Warn is set) and the focus on
    // the bad input; else the filter holds From and To.
    bool Accept(bool Warn = true, std::string *Error = nullptr);
    TNetworkAddressFilter &Filter() const { return *FFilter; }

    TRadioButton *AddSingleRadio;
    TRadioButton *AddRangeRadio;
    TLabel *FromLabel;
    TEdit *FromInput;
    TLabel *ToLabel;
    TEdit *ToInput;

private:
    void RadioClick(TObject *Sender);
    void FormCloseQuery(TObject *Sender, bool &CanClose);

    std::unique_ptr<TNetworkAddressFilter> FFilter;
    TButton *FOKButton = nullptr;
    TButton *FCancelButton = nullptr;
};
