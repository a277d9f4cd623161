// The main window's bars: the roll-up tool bar, the dock bar with its scrolling dock panel,
// splitter and grip, and the tool panels and tool forms that live in it, docked or floating.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "AdvCtrls.h"
#include "GenDockLayout.h"

// Loads a button glyph of the program's resources by name and recolours its four greys to
// the button colours (black to clBtnText, 0x808080 to clBtnShadow, 0xC0C0C0 to clBtnFace,
// white to clBtnHighlight). A glyph the program does not carry is drawn in its place.
void LoadButtonGlyph(TSpeedButton &Button, const std::string &Name);
// Frees the bars' shared caption bitmap.
void FinalizeAdvBars();
// Drag feedback: inverts a rectangle with a pattern brush on a parent window's area or on the
// desktop (the same call draws and erases it).
void InvertOnParent(TWinControl &Parent, TBitmap &Pattern, const RECT &R);
void InvertOnDesktop(TBitmap &Pattern, const RECT &R);

// The bar drawn on a control's parent while a splitter or a sizing bar is dragged: a white and
// black checker inverting what is there, with the window updates of the parent form locked
// until the drag finishes.
class TBarDragFeedback {
public:
    TBarDragFeedback() = default;
    TBarDragFeedback(const TBarDragFeedback &) = delete;
    TBarDragFeedback &operator=(const TBarDragFeedback &) = delete;
    ~TBarDragFeedback() { Finish(); }
    bool Active() const { return FPattern != nullptr; }
    const RECT &BarRect() const { return FRect; }
    // Bar is in the coordinates of the control's parent.
    void Start(TControl &Control, const RECT &Bar);
    void MoveTo(const RECT &Bar);
    // Erases the bar, frees the pattern and unlocks the window updates.
    void Finish();

private:
    void Draw();
    TWinControl *FParent = nullptr;
    std::unique_ptr<TBitmap> FPattern;
    RECT FRect = {0, 0, 0, 0};
};

class TGripButton : public TAdvSpeedButton {
public:
    DECLARE_CLASS_NAME(TGripButton)
    explicit TGripButton(TComponent *AOwner);
    bool Horizontal() const { return FHorizontal; }
    // Loads the glyph of the direction and sizes the button to it plus 2 pixels each way.
    void SetHorizontal(bool Value);

private:
    void LoadGlyph();
    bool FHorizontal = false;
};

// ---------------------------------------------------------------------------------------------
// Roll-up bar

class TAdvBar : public TAdvControl {
public:
    DECLARE_CLASS_NAME(TAdvBar)
    explicit TAdvBar(TComponent *AOwner);
    bool RolledUp() const { return FRolledUp; }
    void SetRolledUp(bool Value);
    TGripButton &Grip() { return *FGrip; }
    int UnrolledHeight() const { return FUnrolledHeight; }
    int GripTop() const { return FGripTop; }
    bool ShowGripHint() const { return FGrip->ShowHint(); }
    void SetShowGripHint(bool Value) { FGrip->SetShowHint(Value); }
    TNotifyEvent OnRollChanging;
    TNotifyEvent OnRollChange;
    void WndProc(TMessage &Message) override;

protected:
    void Paint() override;
    // Children are aligned beside the grip.
    RECT DisplayRect() override;
    void UpdateGripHint();
    void GripClick(TObject *Sender);
    TGripButton *FGrip = nullptr; // owned as a component
    bool FRolledUp = false;
    int FUnrolledHeight = 0;
    int FGripTop = 0;
};

class TAdvToolBar : public TAdvBar {
public:
    DECLARE_CLASS_NAME(TAdvToolBar)
    explicit TAdvToolBar(TComponent *AOwner);
    int LastWidth() const { return FLastWidth; }

protected:
    void Paint() override;
    RECT DisplayRect() override;
    void Resize() override;
    int FLastWidth = 0;
};

// ---------------------------------------------------------------------------------------------
// Scrolling container with flat scroll bars that paints itself

using TAdvControlScrollBar = TControlScrollBar;

class TAdvScrollingWinControl : public TAdvScrollControl {
public:
    DECLARE_CLASS_NAME(TAdvScrollingWinControl)
    explicit TAdvScrollingWinControl(TComponent *AOwner);
};

class TToolForm;
class TToolPanel;
class TAdvDockBar;

// What a dock bar needs to make a tool form of one class: its maker and a test of whether a
// form is of that class or a descendant.
struct TToolFormClass {
    TToolForm *(*Create)(TToolPanel *Panel);
    bool (*IsInstance)(const TToolForm *Form);
};

template <class T> TToolFormClass ToolFormClass() {
    return {[](TToolPanel *Panel) -> TToolForm * { return new T(Panel); },
            [](const TToolForm *Form) { return dynamic_cast<const T *>(Form) != nullptr; }};
}

class TDockPanel : public TAdvScrollingWinControl {
public:
    DECLARE_CLASS_NAME(TDockPanel)
    explicit TDockPanel(TAdvDockBar *ADockBar);
    // Frees the tool panels while their list is still there.
    ~TDockPanel() override;
    TAdvDockBar *DockBar() const { return FDockBar; }
    int PanelCount() const { return static_cast<int>(FPanels.size()); }
    TToolPanel *Panels(int Index) const { return FPanels.at(Index); }
    int TotalHeight() const { return FTotalHeight; }
    // Places the docked panels one below the other, scrolled by the scroll bar, and brings
    // BringIntoView (when given) into view.
    void UpdatePanels(TToolPanel *BringIntoView = nullptr);
    void WndProc(TMessage &Message) override;

protected:
    friend class TToolPanel;
    friend class TAdvDockBar;
    void Paint() override;
    void Resize() override;
    void AlignControls(TControl *AControl, RECT &Rect) override {}
    void RemovePanel(TToolPanel *Panel);
    std::unique_ptr<TBitmap> FBackground;
    TAdvDockBar *FDockBar;
    std::vector<TToolPanel *> FPanels;
    int FTotalHeight = 0;
};

using TDockPopupEvent = TMethod<void(TObject *Sender, int X, int Y)>;

class TAdvDockBar : public TAdvControl, public TDockBarLayout {
public:
    DECLARE_CLASS_NAME(TAdvDockBar)
    explicit TAdvDockBar(TComponent *AOwner);
    ~TAdvDockBar() override;

    TToolPanel *AddTool(const TToolFormClass &ToolFormClass);
    // The first panel whose tool form is of the class (or a descendant); raises "Tool class
    // not found" when there is none.
    TToolPanel *FindTool(const TToolFormClass &ToolFormClass);
    int GetToolCount() const;
    TToolPanel *GetTool(int Index) const;
    // Whether a tool form's own shortcut handling took the key.
    bool IsShortCut(WORD Key, TShiftState Shift);
    bool Active() const { return FActive; }
    void SetActive(bool Value);
    bool Adding() const { return FAdding; }
    bool RolledUp() const { return FRolledUp; }
    void SetRolledUp(bool Value);
    int BarWidth() const { return FBarWidth; }
    void SetBarWidth(int Value);
    int MinWidth() const { return FMinWidth; }
    TGripButton &Grip() { return *FGrip; }
    TDockPanel &DockPanel() { return *FDockPanel; }
    bool Dragging() const { return FSplitter.Active(); }

    TNotifyEvent OnChange;
    TDockPopupEvent OnPopup;

    // The layout as the registry manager saves and restores it.
    int LayoutToolCount() override { return GetToolCount(); }
    int LayoutBarWidth() override { return FBarWidth; }
    void SetLayoutBarWidth(int Width) override { SetBarWidth(Width); }
    int LayoutScrollPos() override;
    void SetLayoutScrollPos(int Position) override;
    std::string LayoutToolClass(int Index) override;
    int LayoutToolHeight(int Index) override;
    void SetLayoutToolHeight(int Index, int Height) override;
    bool LayoutToolVisible(int Index) override;
    void SetLayoutToolVisible(int Index, bool Visible) override;
    bool LayoutToolDocked(int Index) override;
    void SetLayoutToolDocked(int Index, bool Docked) override;
    TLayoutRect LayoutFloatingRect(int Index) override;
    void SetLayoutFloatingRect(int Index, const TLayoutRect &Rect) override;
    int LayoutToolOpacity(int Index) override;
    void SetLayoutToolOpacity(int Index, int Opacity) override;
    void SetLayoutToolIndex(int Index, int NewIndex) override;

protected:
    friend class TToolPanel;
    friend class TToolForm;
    void CreateParams(TCreateParams &Params) override;
    void Paint() override;
    void Resize() override;
    void AlignControls(TControl *AControl, RECT &Rect) override {}
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void UpdateMinWidth();
    void GripClick(TObject *Sender);
    bool InSplitterZone(int X, int Y);
    int SplitterLeft(int X);
    RECT SplitterRect(int ALeft) const { return Rect(ALeft, Top(), ALeft + 4, Top() + Height()); }
    void ChildrenVisible(bool Value);

    bool FActive = false;
    bool FAdding = false;
    bool FRolledUp = false;
    int FBarWidth = 65;
    TGripButton *FGrip = nullptr;
    int FMinWidth = 0; // set by UpdateMinWidth
    int FLastWidth = 0, FLastHeight = 0;
    TDockPanel *FDockPanel = nullptr;
    TBarDragFeedback FSplitter;
    int FDragStartX = 0, FDragStartLeft = 0;
};

// ---------------------------------------------------------------------------------------------
// Tool panels and tool forms

class TCaptionButton : public TSpeedButton {
public:
    DECLARE_CLASS_NAME(TCaptionButton)
    using TSpeedButton::TSpeedButton;
};

constexpr UINT WM_TOOLDOCK = WM_APP + 0x402; // WParam: dock (1) or float (0)
constexpr int ToolCaptionHeight = 22;

class TToolPanel : public TCustomControl {
public:
    DECLARE_CLASS_NAME(TToolPanel)
    TToolPanel(TDockPanel *ADockPanel, const TToolFormClass &AToolFormClass);
    ~TToolPanel() override;

    int Index() const { return FIndex; }
    void SetIndex(int NewIndex);
    bool Docked() const { return FDocked; }
    void SetDocked(bool Value);
    RECT FloatingRect() const { return FFloatingRect; }
    void SetFloatingRect(const RECT &Rect);
    TToolForm *ToolForm() const { return FToolForm; }
    int ToolHeight() const { return FToolHeight; }
    void SetToolHeight(int Value);
    int Opacity() const { return FOpacity; }
    void SetOpacity(int Value);
    bool ToolVisible() const { return FToolVisible; }
    void SetToolVisible(bool Value);
    // The visibility kept while all floating tools are hidden at once, to restore it later.
    bool RememberedVisible() const { return FRememberedVisible; }
    void SetRememberedVisible(bool Value) { FRememberedVisible = Value; }
    void ShowTool();
    void HideTool();
    void InvalidateCaption();
    TDockPanel *DockPanel() const { return FDockPanel; }
    TCaptionButton &HelpButton() { return *FHelpButton; }
    TCaptionButton &ShowButton() { return *FShowButton; }
    bool Sizing() const { return FSizingBar.Active(); }
    TFont &CaptionFont() { return *FCaptionFont; }

    void WndProc(TMessage &Message) override;

protected:
    friend class TToolForm;
    friend class TDockPanel;
    void CreateParams(TCreateParams &Params) override;
    void Paint() override;
    void Resize() override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void CreateToolForm();
    void PlaceForm();
    void PlaceButtons();
    void UpdateButtons();
    int LimitBar(int Y);
    RECT SizingBarRect(int BarTop) const { return Rect(Left(), BarTop, Left() + Width(), BarTop + 4); }
    void HelpClick(TObject *Sender);
    void ShowClick(TObject *Sender);
    void FireChange();

    std::unique_ptr<TFont> FCaptionFont;
    int FIndex = 0;
    bool FDocked = true;
    RECT FFloatingRect = {0, 0, 0, 0};
    TToolForm *FToolForm = nullptr; // owned as a component
    int FToolHeight = 0;
    int FOpacity = 255;
    TDockPanel *FDockPanel = nullptr;
    TToolFormClass FToolFormClass;
    TCaptionButton *FHelpButton = nullptr;
    TBarDragFeedback FSizingBar;
    int FSizeStartY = 0, FBarTop = 0;
    TCaptionButton *FShowButton = nullptr;
    bool FToolVisible = false;
    bool FRememberedVisible = false;
};

// Snapping of a floating tool's position (Left, Top) for a frame of Width x Height to the
// other floating tools (their window rectangles) and to the main window (when given); the
// frame sizes are the system's window frame and caption heights.
TPoint SnapToolPosition(int Left, int Top, int Width, int Height, const std::vector<RECT> &Others,
                        const RECT *MainWindow, int FrameX, int FrameY, int CaptionY);

class TToolForm : public TForm {
public:
    DECLARE_CLASS_NAME(TToolForm)
    explicit TToolForm(TToolPanel *APanel);
    ~TToolForm() override;
    // Scales the size constraints to the screen font and, floating, takes the panel's
    // floating rectangle; the panel calls it once the form is made.
    virtual void AfterConstruction();
    TToolPanel *Panel() const { return FPanel; }
    uint8_t DragState() const { return FDragState; }
    bool DropDocks() const { return FDropDocks; }
    RECT DropRect() const { return FDropRect; }
    // Starts the drag of the tool at a screen point (a press on its caption).
    void BeginToolDrag(TPoint ScreenPos);
    void ApplyOpacity();
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    void DoClose(TCloseAction &Action) override;
    void KeyDown(WORD &Key, TShiftState Shift) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void Resize() override;
    void ComputeTarget(TPoint Pointer);
    void DrawDragFrame();
    void EndToolDrag();
    void DragMoveTo(TPoint Pointer);
    void DragDropAt(TPoint Pointer);

    TToolPanel *FPanel;
    bool FDropDocks = false;
    TToolPanel *FDropPanel = nullptr;
    RECT FDropRect = {0, 0, 0, 0};
    std::unique_ptr<TBitmap> FDragPattern;
    TPoint FDragStart;
    TPoint FDragOrigin;
    uint8_t FDragState = 0;
    bool FUpdatesLocked = false;
};
