// The program's own message box: fixed English texts and the program's icons, buttons in a fixed
// order, laid out from the average character size of the system's message font.
#pragma once

#include <windows.h>

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
