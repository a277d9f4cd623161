// The program's help: every help request of the application (contents, context numbers, context
// popups, keyword lookups, jumps to pages and quit) becomes a call of HTML Help on the help file
// beside the program (its name with the extension ".chm").
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "Classes.h"

// HTML Help's entry point as the handler calls it: no owner window, the file, the command and its
// data (a topic text, a context number, or a pointer to an HH_AKLINK or HH_POPUP record, as HTML
// Help takes them). The default loads HtmlHelpA from hhctrl.ocx and raises Exception "Orbisk
// Vantel Help requires Microsoft HTML Help to be installed" without it; tests observe the calls
// here.
using THtmlHelpFunction = std::function<HWND(const std::string &File, UINT Command, DWORD_PTR Data)>;
void SetHtmlHelpFunction(THtmlHelpFunction Function);

// The macro the application sends for a jump to a page of the help file: JumpID("","<Topic>").
std::string HelpJumpMacro(const std::string &Topic);
// Sends that macro through the application's help (HELP_COMMAND).
void HelpJump(const std::string &Topic);

// Where a popup of Popup's size and place goes so that it lies on Monitor: moved right by what
// lies left of it, left by what passes its right edge, down when its top is above it, up when its
// bottom is below it.
RECT FitRectOnMonitor(const RECT &Popup, const RECT &Monitor);

class THelpHandler : public TObject {
public:
    // HelpFile: the program's path with ".chm" when empty.
    explicit THelpHandler(const std::string &HelpFile = std::string());
    DECLARE_CLASS_NAME(THelpHandler)

    // The application's help event: handles every command itself (CallHelp := false).
    bool HelpHook(WORD Command, intptr_t Data, bool &CallHelp);
    HWND CallHtmlHelp(UINT Command, DWORD_PTR Data, const std::string &File = std::string());

    const std::string &HelpFile() const { return FHelpFile; }
    HWND HelpWindow() const { return FHelpWindow; }

private:
    void ShowPopup(int Context);
    std::string FHelpFile;
    HWND FHelpWindow = nullptr;
};

// The application's handler, from InitializeHelpHandler (which hooks it into the application's
// help) to FinalizeHelpHandler.
THelpHandler *HelpHandler();
void InitializeHelpHandler();
void FinalizeHelpHandler();
