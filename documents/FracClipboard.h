// The clipboard manager: everything the program copies and pastes travels as plain text (CF_TEXT),
// and the one manager keeps the kind of what the clipboard holds, so that every paste command,
// button and control is enabled without parsing the clipboard itself. Observers subscribe through
// the notification manager and hear of every change of the kind. It also answers the copy and
// paste hooks of the control set's own edit controls.
//
// Threads: the interface thread only.
#pragma once

#include <cstdint>
#include <string>

#include "GenClasses.h"

DECLARE_EXCEPTION(EClipboardError, Exception);

// Kinds of clipboard content. The three kinds of browser entries are set only by the browser's
// copy and cut; classifying a text never gives them.
enum : std::uint8_t {
    cbNothing = 0,           // no text
    cbText = 1,              // text of no other kind
    cbComplex = 2,           // real part '/' imaginary part
    cbColor = 3,             // a colour as a decimal integer
    cbFractal = 4,           // section "fractal", or the key "reset" first
    cbGradient = 5,          // section "gradient", "alpha" or "opacity"
    cbLayer = 6,             // section "layer"
    cbLocation = 7,          // section "location"
    cbTransformation = 8,    // section "transform"
    cbFormula = 9,           // section "formula"
    cbColoring = 10,         // section "inside" or "outside"
    cbFiles = 11,            // section "files": files cut or copied in the browser
    cbEntries = 12,          // parameter text of other entries
    cbTransformEntries = 13, // entries of a transformation file (browser)
    cbFormulaEntries = 14,   // entries of a fractal formula file (browser)
    cbColoringEntries = 15   // entries of a coloring algorithm file (browser)
};

class TClipboardManager : public TNotificationManager {
public:
    // Answers the control set's clipboard hooks and classifies the clipboard.
    TClipboardManager();
    ~TClipboardManager() override;
    DECLARE_CLASS_NAME(TClipboardManager)

    std::uint8_t GetKind() const { return FKind; }
    // Puts Text on the clipboard; a new kind, and every new "files" content, is announced.
    void SetText(const std::string &Text, std::uint8_t Kind);
    // The clipboard's text; EClipboardError "Clipboard does not contain suitable data" without.
    std::string GetText();
    void Clear();
    // Classifies the clipboard anew (another program may have changed it).
    void UpdateContents();
    // Hooks of the control set: a control copied text of the code's kind (ckComplex, ckColor or
    // plain text); may a control paste the code's kind.
    void ControlCopied(std::uint8_t Code);
    void CanPaste(std::uint8_t Code, bool &Allowed);

    // The kind a clipboard text has (never 0 and never one of the browser's entry kinds).
    static std::uint8_t ClassifyText(const std::string &Text);

private:
    void SetKind(std::uint8_t Kind, bool Always = false);
    std::uint8_t FKind = cbNothing;
};

// The global manager; nil outside InitializeFracClipboard .. FinalizeFracClipboard.
TClipboardManager *ClipboardManager();
void InitializeFracClipboard();
void FinalizeFracClipboard();
