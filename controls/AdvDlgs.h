// The program's own message box: fixed English texts and the program's icons, buttons in a fixed
// order, laid out from the average character size of the system's message font.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "Forms.h"
#include "Graphics.h"
#include "StdCtrls.h"

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn {
    mbYes,
    mbNo,
    mbOK,
    mbCancel,
    mbAbort,
    mbRetry,
    mbIgnore,
    mbAll,
    mbNoToAll,
    mbYesToAll,
    mbHelp
};

class TMsgDlgButtons {
public:
    TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> Buttons) {
        for (TMsgDlgBtn button : Buttons)
            FBits |= 1u << button;
    }
    bool Contains(TMsgDlgBtn Button) const { return FBits & (1u << Button); }

private:
    uint32_t FBits = 0;
};

// The message box form; its Help button shows HelpContext instead of closing it.
class TMessageForm : public TForm {
public:
    DECLARE_CLASS_NAME(TMessageForm)
    explicit TMessageForm(TComponent *AOwner);
    const std::string &HelpFile() const { return FHelpFile; }
    void SetHelpFile(const std::string &Value) { FHelpFile = Value; }
    void HelpButtonClick(TObject *Sender);

private:
    std::string FHelpFile;
};

// The message box's 32 x 32 icon.
class TMessageImage : public TGraphicControl {
public:
    DECLARE_CLASS_NAME(TMessageImage)
    explicit TMessageImage(TComponent *AOwner);
    TIcon &Icon() { return FIcon; }

protected:
    void Paint() override;
    TIcon FIcon;
};

// The form of a message box, not shown; the caller owns it.
std::unique_ptr<TMessageForm> CreateAdvMessageDialog(const std::string &Message, TMsgDlgType Type,
                                                     TMsgDlgButtons Buttons);
// Shows a message box modally at X and/or Y (where >= 0; centred when both are negative) and
// returns the modal result of the button that closed it.
int AdvMessageDlgPosHelp(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons,
                         int HelpContext, int X, int Y, const std::string &HelpFileName);
int AdvMessageDlg(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons, int HelpContext);

// ---------------------------------------------------------------------------------------------
// Modeless find and replace dialogs

class TAdvCommonDialog : public TComponent {
public:
    DECLARE_CLASS_NAME(TAdvCommonDialog)
    explicit TAdvCommonDialog(TComponent *AOwner);
    bool Ctl3D() const { return FCtl3D; }
    void SetCtl3D(bool Value) { FCtl3D = Value; }
    int HelpContext() const { return FHelpContext; }
    void SetHelpContext(int Value) { FHelpContext = Value; }
    HWND Handle() const { return FHandle; }
    virtual bool Execute() = 0;

    TNotifyEvent OnClose;
    TNotifyEvent OnShow;

    virtual void WndProc(TMessage &Message);
    // Answers the common dialogs' help request with HelpContext (when it is not 0); true when the
    // message was taken.
    virtual bool MessageHook(TMessage &Message);

protected:
    // Runs a modal common dialog with the other windows of the thread disabled; the window that
    // was active is active again afterwards.
    virtual bool TaskModalDialog(BOOL(WINAPI *DialogFunc)(void *), void *Data);
    bool FCtl3D = true;
    int FHelpContext = 0;
    HWND FHandle = nullptr;
};

enum TFindOption : uint16_t {
    frDown,
    frFindNext,
    frHideMatchCase,
    frHideWholeWord,
    frHideUpDown,
    frMatchCase,
    frDisableMatchCase,
    frDisableUpDown,
    frDisableWholeWord,
    frReplace,
    frReplaceAll,
    frWholeWord,
    frShowHelp
};
using TFindOptions = uint16_t; // bit (1 << option) per option
constexpr TFindOptions FindOption(TFindOption Option) {
    return static_cast<TFindOptions>(1u << Option);
}

class TRedirectorWindow;

// The system's modeless find dialog beside its owner form: each request fires OnFind (or
// OnReplace), and the place where the user left it is kept for the next opening.
class TAdvFindDialog : public TAdvCommonDialog {
public:
    DECLARE_CLASS_NAME(TAdvFindDialog)
    explicit TAdvFindDialog(TComponent *AOwner);
    // Destroys an open dialog window and its redirector.
    ~TAdvFindDialog() override;
    TFindOptions Options() const { return FOptions; }
    void SetOptions(TFindOptions Value) { FOptions = Value; }
    std::string FindText() const { return FFindText; }
    // Keeps at most 255 characters.
    void SetFindText(const std::string &Value);
    // The open dialog's top-left, else the stored point ((-1, -1): centred).
    TPoint Position() const;
    // Stores the point and moves an open dialog there.
    void SetPosition(TPoint Value);
    // Brings an open dialog to the top; otherwise opens it. True when the dialog is there.
    bool Execute() override;
    void CloseDialog();
    HWND DialogHandle() const { return FFindHandle; }

    TNotifyEvent OnFind;
    TNotifyEvent OnReplace;

    bool MessageHook(TMessage &Message) override;

protected:
    virtual HWND CreateDialogWindow(FINDREPLACEA &Record) { return ::FindTextA(&Record); }
    friend class TRedirectorWindow;
    static UINT_PTR CALLBACK FindHook(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);
    void DialogCreated(HWND Window);
    TFindOptions FOptions = FindOption(frDown);
    TPoint FPosition{-1, -1};
    FINDREPLACEA FFindReplace = {};
    char FFindBuffer[256] = {};
    char FReplaceBuffer[256] = {};
    std::string FFindText;
    std::string FReplaceText;
    TRedirectorWindow *FRedirector = nullptr;
    HWND FFindHandle = nullptr;
};

class TAdvReplaceDialog : public TAdvFindDialog {
public:
    DECLARE_CLASS_NAME(TAdvReplaceDialog)
    using TAdvFindDialog::TAdvFindDialog;
    std::string ReplaceText() const { return FReplaceText; }
    // Keeps at most 255 characters.
    void SetReplaceText(const std::string &Value);

protected:
    HWND CreateDialogWindow(FINDREPLACEA &Record) override { return ::ReplaceTextA(&Record); }
};

// The hidden owner of an open find dialog: it receives the dialog's requests and passes them to
// the find dialog component, and frees itself once the dialog has closed.
class TRedirectorWindow : public TWinControl {
public:
    DECLARE_CLASS_NAME(TRedirectorWindow)
    TRedirectorWindow(TAdvFindDialog *ADialog, HWND AOwnerWindow);
    void Detach() { FFindDialog = nullptr; }
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    TAdvFindDialog *FFindDialog;
    HWND FOwnerWindow;
};

// Deletes the window-property atom of the find dialogs.
void FinalizeAdvDlgs();
