// The base of every document window inside the main window: its button on the status bar's
// window panel, its tool-bar panel and status panels handed to the main window, the Help menu's
// hooks, and no activation or raising while the eyedropper picks.
#pragma once

#include "ComCtrls.h"
#include "Forms.h"

class TDocumentForm : public TForm {
public:
    DECLARE_CLASS_NAME(TDocumentForm)
    // An MDI child of the main window (which must exist) unless MDIChild is false (the same
    // window shown as a plain modal form, without a window-panel button).
    explicit TDocumentForm(TComponent *AOwner, bool MDIChild = true);
    ~TDocumentForm() override;

    // The panel with the window's own tool-bar buttons.
    virtual TWinControl *GetToolBar() = 0;
    // Adds and fills this document's panels of the main status bar.
    virtual void UpdateStatusBar() {}
    // Draws an owner-drawn panel of this document.
    virtual void DrawStatusPanel(TStatusBar *StatusBar, int Panel, const RECT &Rect) {}
    virtual bool HasTopicSearch() { return false; }
    virtual void TopicSearch() {}
    virtual void ShowHelp() {}

    // The main status bar while this is the active MDI child and the bar shows document panels;
    // nullptr otherwise, so that a background window never writes to it.
    TStatusBar *GetStatusBar();
    // Has the main window rebuild the status bar when this document owns it.
    void RefreshStatusBar();

    void WndProc(TMessage &Message) override;

protected:
    void Activate() override;
};
