// The program's own control set: shared drawing and colour routines, clipboard hooks, help
// requests with a position, the colour box, the speed button with hot tracking and drop-down
// menu, and the enhanced standard controls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "Buttons.h"
#include "ComCtrls.h"
#include "Controls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "Menus.h"
#include "StdCtrls.h"

// ---------------------------------------------------------------------------------------------
// Drawing and colour routines

// Per channel (C1 * Alpha + C2 * (255 - Alpha)) div 255 of 24-bit RGB values.
TColor BlendColor(TColor C1, TColor C2, int Alpha);
// Per channel (C1 * (128 - W) + C2 * W) div 128, W from 0 to 128.
TColor BlendColor128(TColor C1, TColor C2, int W);
// A new 8 x 8 bitmap of Color1 whose pixels with odd x + y have Color2.
std::unique_ptr<TBitmap> CreatePatternBitmap(TColor Color1, TColor Color2);
// A frame of thickness Width inside Rect in four pattern-brush bars; with Invert a black and
// white checker inverts what is there (PATINVERT), without it the bars are plain black.
void DrawPatternFrame(TCanvas &Canvas, const RECT &Rect, int Width, bool Invert);
// Fills Rect with Color, or with the checker of the button face and highlight that marks a button
// held down.
void FillButtonFace(TCanvas &Canvas, const RECT &Rect, bool Checkered, TColor Color);
// A greyed copy of a glyph in the button colours; its transparent colour becomes the face.
std::unique_ptr<TBitmap> CreateDisabledGlyph(TBitmap &Glyph);

// ---------------------------------------------------------------------------------------------
// Clipboard hooks of the clipboard manager

enum : uint8_t { ckPlainText = 0, ckComplex = 1, ckColor = 2 };
using TClipboardCopyHook = TMethod<void(uint8_t Kind)>;
using TClipboardPasteHook = TMethod<void(uint8_t Kind, bool &CanPaste)>;

void SetClipboardHooks(TClipboardCopyHook CopyHook, TClipboardPasteHook PasteHook);
// Tells the copy hook (when set) that a control put text of the kind on the clipboard.
void NotifyClipboardCopy(uint8_t Kind);
// Asks the paste hook (when set) whether a paste of the kind is possible; CanPaste is left
// alone without a hook.
void QueryClipboardPaste(uint8_t Kind, bool &CanPaste);

// Help requests with the screen position of the request.
using THelpPosEvent = TMethod<void(TObject *Sender, int X, int Y)>;

// Frees the control set's shared timers (they are made on first use), the input timer included.
void FinalizeAdvCtrls();

// ---------------------------------------------------------------------------------------------
// Base controls

class TAdvControl : public TCustomControl {
public:
    DECLARE_CLASS_NAME(TAdvControl)
    using TCustomControl::TCustomControl;

protected:
    void CreateParams(TCreateParams &Params) override;
};

class TAdvScrollControl : public TScrollingWinControl {
public:
    DECLARE_CLASS_NAME(TAdvScrollControl)
    explicit TAdvScrollControl(TComponent *AOwner);
    ~TAdvScrollControl() override;
    TCanvas &Canvas() { return *FCanvas; }

protected:
    void CreateParams(TCreateParams &Params) override;
    void PaintWindow(HDC DC) override;
    std::unique_ptr<TControlCanvas> FCanvas;
};

// Routes a help request to the first visible non-windowed child under its position; true when
// one answered with a help context (which then pops up).
bool RouteHelpToGraphicChild(TWinControl &Container, TMessage &Message);

// ---------------------------------------------------------------------------------------------
// Colour box

class TAdvCustomColorBox : public TGraphicControl {
public:
    DECLARE_CLASS_NAME(TAdvCustomColorBox)
    explicit TAdvCustomColorBox(TComponent *AOwner);
    enum TBorderStyle { bsNone, bsSingle };
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle Value);
    int CheckerSize() const { return FCheckerSize; }
    void SetCheckerSize(int Value);
    bool DualView() const { return FDualView; }
    void SetDualView(bool Value);
    int Opacity() const { return FOpacity; }
    void SetOpacity(int Value);
    void WndProc(TMessage &Message) override;

    THelpPosEvent OnHelp;

protected:
    void Paint() override;
    TBorderStyle FBorderStyle = bsSingle;
    int FCheckerSize = 32;
    bool FDualView = false;
    int FOpacity = 255;
};

class TAdvColorBox : public TAdvCustomColorBox {
public:
    DECLARE_CLASS_NAME(TAdvColorBox)
    using TAdvCustomColorBox::TAdvCustomColorBox;
};

// ---------------------------------------------------------------------------------------------
// Speed button

class TAdvSpeedButton : public TSpeedButton {
public:
    DECLARE_CLASS_NAME(TAdvSpeedButton)
    explicit TAdvSpeedButton(TComponent *AOwner);
    ~TAdvSpeedButton() override;
    TPopupMenu *Menu() const { return FMenu; }
    void SetMenu(TPopupMenu *Value);
    // 0 none, 1 pressed with a menu, 2 menu showing.
    uint8_t MenuState() const { return FMenuState; }
    bool Hot() const { return FHot; }
    bool DragHighlight() const { return FDragHighlight; }
    void Click() override;
    void WndProc(TMessage &Message) override;

    THelpPosEvent OnHelp;

protected:
    void Notification(TComponent *AComponent, TOperation Operation) override;
    void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void MouseMove(TShiftState Shift, int X, int Y) override;
    void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override;
    void Paint() override;
    void DrawCaption(TCanvas &Target, RECT Rect, bool Enabled);
    void SetHot(bool Value);
    bool PointerInside();
    void HotTimerTick(TObject *Sender);
    void MenuTimerTick(TObject *Sender);
    void DropDown();

    TPopupMenu *FMenu = nullptr;
    uint8_t FMenuState = 0;
    bool FHot = false;
    bool FDragHighlight = false;
};

// ---------------------------------------------------------------------------------------------
// Enhanced standard controls

enum TClipStyle { csClip, csEndEllipsis, csPathEllipsis };

class TAdvLabel : public TLabel {
public:
    DECLARE_CLASS_NAME(TAdvLabel)
    explicit TAdvLabel(TComponent *AOwner);
    TClipStyle ClipStyle() const { return FClipStyle; }
    void SetClipStyle(TClipStyle Value);
    THelpPosEvent OnHelp;
    TNotifyEvent OnSetFocus;
    void WndProc(TMessage &Message) override;

protected:
    void DoDrawText(RECT &Rect, UINT Flags) override;
    TClipStyle FClipStyle = csClip;
};

class TAdvButton : public TButton {
public:
    DECLARE_CLASS_NAME(TAdvButton)
    using TButton::TButton;
    bool UseDialogKeys() const { return FUseDialogKeys; }
    void SetUseDialogKeys(bool Value) { FUseDialogKeys = Value; }
    void WndProc(TMessage &Message) override;

private:
    bool FUseDialogKeys = true;
};

class TAdvCheckBox : public TCheckBox {
public:
    DECLARE_CLASS_NAME(TAdvCheckBox)
    using TCheckBox::TCheckBox;
    THelpPosEvent OnHelp;
    void WndProc(TMessage &Message) override;
};

class TAdvRadioButton : public TRadioButton {
public:
    DECLARE_CLASS_NAME(TAdvRadioButton)
    using TRadioButton::TRadioButton;
    THelpPosEvent OnHelp;
    void WndProc(TMessage &Message) override;
};

using TMouseAllowEvent = TMethod<void(TObject *Sender, TShiftState Shift, int X, int Y, bool &Allow)>;

class TAdvListBox : public TListBox {
public:
    DECLARE_CLASS_NAME(TAdvListBox)
    explicit TAdvListBox(TComponent *AOwner);
    bool DefaultColor() const { return FDefaultColor; }
    void SetDefaultColor(bool Value);
    TMouseAllowEvent OnMouseAllow;
    void WndProc(TMessage &Message) override;

protected:
    void CreateWnd() override;
    virtual void DoMouseAllow(TShiftState Shift, int X, int Y, bool &Allow);
    void ApplyDefaultColor();
    bool FDefaultColor = true;
};

using TClickingCheckEvent = TMethod<void(TObject *Sender, bool &Allow)>;

class TAdvCheckListBox : public TCheckListBox {
public:
    DECLARE_CLASS_NAME(TAdvCheckListBox)
    using TCheckListBox::TCheckListBox;
    TClickingCheckEvent OnClickingCheck;
    void WndProc(TMessage &Message) override;
};

class TAdvPanel : public TPanel {
public:
    DECLARE_CLASS_NAME(TAdvPanel)
    using TPanel::TPanel;
    bool PaintInterior() const { return FPaintInterior; }
    void SetPaintInterior(bool Value);
    bool Scaled() const { return FScaled; }
    void SetScaled(bool Value) { FScaled = Value; }
    TNotifyEvent OnPaint;
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    void Paint() override;
    bool FPaintInterior = true;
    bool FScaled = true;
};

class TAdvGroupBox : public TGroupBox {
public:
    DECLARE_CLASS_NAME(TAdvGroupBox)
    using TGroupBox::TGroupBox;
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
};

class TAdvGroup : public TAdvScrollControl {
public:
    DECLARE_CLASS_NAME(TAdvGroup)
    explicit TAdvGroup(TComponent *AOwner);
    int Margin() const { return FMargin; }
    void SetMargin(int Value);
    // Range := the lowest child bottom + the scroll position + the scroll bar's own margin.
    void UpdateScrollRange();
    TNotifyEvent OnResize;
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    void AlignControls(TControl *AControl, RECT &Rect) override;
    void Resize() override;
    void Paint() override;
    int FMargin = 0;
};

class TAdvSplitter : public TSplitter {
public:
    DECLARE_CLASS_NAME(TAdvSplitter)
    using TSplitter::TSplitter;
    bool CanDisappear() const { return FCanDisappear; }
    void SetCanDisappear(bool Value) { FCanDisappear = Value; }

protected:
    bool CanResize(int &NewSize) override;
    bool FCanDisappear = true;
};

class TAdvPageControl : public TPageControl {
public:
    DECLARE_CLASS_NAME(TAdvPageControl)
    using TPageControl::TPageControl;
    void WndProc(TMessage &Message) override;

protected:
    bool CanChange() override;
    // Destroys the windows of the controls on the page (they come back when it shows).
    void FreePageHandles(TTabSheet *Page);
    bool FFirstPaintDone = false;
};

class TAdvTreeView : public TTreeView {
public:
    DECLARE_CLASS_NAME(TAdvTreeView)
    using TTreeView::TTreeView;
    TTreeNode *DragNode() const { return FDragNode; }
    void WndProc(TMessage &Message) override;

protected:
    void DragOver(TObject *Source, int X, int Y, TDragState State, bool &Accept) override;
    void DoStartDrag(TDragObject *&DragObject) override;
    void DoEndDrag(TObject *Target, int X, int Y) override;
    bool FDragAllowed = false;
    bool FTreeBeganDrag = false;
    TTreeNode *FDragNode = nullptr;
};

class TAdvListView : public TListView {
public:
    DECLARE_CLASS_NAME(TAdvListView)
    using TListView::TListView;
    void WndProc(TMessage &Message) override;

protected:
    void DragOver(TObject *Source, int X, int Y, TDragState State, bool &Accept) override;
    void DoStartDrag(TDragObject *&DragObject) override;
    bool FDragAllowed = false;
};

class TAdvRichEdit : public TRichEdit {
public:
    DECLARE_CLASS_NAME(TAdvRichEdit)
    using TRichEdit::TRichEdit;
    int Gutter() const { return FGutter; }
    void SetGutter(int Value);
    // Replaces the selection so that the change can be undone.
    void ReplaceSelection(const std::string &Text);
    std::string GetSelText() { return SelText(); }
    void WndProc(TMessage &Message) override;

protected:
    void CreateWnd() override;
    void ApplyFormatRect();
    int FGutter = 0;
};

class TAdvStatusBar : public TStatusBar {
public:
    DECLARE_CLASS_NAME(TAdvStatusBar)
    using TStatusBar::TStatusBar;
    void WndProc(TMessage &Message) override;

protected:
    void CreateParams(TCreateParams &Params) override;
    int FLastWidth = 0;
};

// ---------------------------------------------------------------------------------------------
// Delayed-input edits, combo boxes and memos

using TValidateEvent = TMethod<void(TObject *Sender, bool &Valid)>;

// The background of an edit-like control: with DefaultColor the window colour while it takes
// input and the button face otherwise, without it the control's own colour.
TColor DefaultBackground(bool DefaultColor, bool Enabled, bool ReadOnly, TColor Color);

// Reports a finished input instead of every keystroke: after a pause of Delay ms (through one
// timer shared by every such control, owned by the one that started it last), at once when Delay
// is 0, and on Enter and on leaving the control, where a refused text goes back to LastText.
// Ownership is read from the timer's handler, never remembered: a control whose claim another
// control took over must not stop the timer for that control.
class TDelayedInput {
public:
    explicit TDelayedInput(TWinControl &Control, bool RevalidateOnTimer, bool CancelWhenUnfocused);
    virtual ~TDelayedInput();
    int Delay() const { return FDelay; }
    void SetDelay(int Value) { FDelay = Value; }
    const std::string &LastText() const { return FLastText; }
    // Whether the shared timer's handler is this control's.
    bool TimerOwned() const;

    TNotifyEvent OnInput;
    TValidateEvent OnValidate;

protected:
    // Whether the keyboard focus is in the control (a combo box: its edit field or its list).
    virtual bool HasInputFocus() = 0;
    bool Validate();
    void DoInput();
    // A change of the text by the user (or, with the focus in the control, by the program).
    void InputChanged();
    // Enter or leaving the control.
    void Accept();
    void TextChanged() { FLastText = FInputControl.Text(); }
    void ReleaseTimer();

private:
    void InputTimerFired(TObject *Sender);
    TWinControl &FInputControl;
    bool FRevalidateOnTimer;
    bool FCancelWhenUnfocused;
    int FDelay = 500;
    std::string FLastText;
    bool FRestoring = false;
};

// Answers a control-colour request with Background.
void AnswerControlColor(TWinControl &Control, TMessage &Message, TColor Background);
// Shows the shared edit popup for a context request at its screen position, or for the keyboard's
// request (-1, -1) at client point (4, 4) of the control.
void ShowAdvEditPopup(TControl &Control, LPARAM ScreenPos);

// An edit-like control whose background follows its state (see DefaultBackground) and that
// tells the clipboard hook about every copy and cut.
template <class TBase> class TDefaultColored : public TBase {
public:
    using TBase::TBase;
    bool DefaultColor() const { return FDefaultColor; }
    void SetDefaultColor(bool Value) {
        FDefaultColor = Value;
        this->Invalidate();
    }
    TColor BackgroundColor() const {
        return DefaultBackground(FDefaultColor, this->FEnabled, IsReadOnly(), this->FColor);
    }
    void WndProc(TMessage &Message) override {
        switch (Message.Msg) {
        case CN_CTLCOLOREDIT:
        case CN_CTLCOLORSTATIC:
        case CN_CTLCOLORLISTBOX:
            AnswerControlColor(*this, Message, BackgroundColor());
            return;
        case WM_COPY:
        case WM_CUT:
            TBase::WndProc(Message);
            NotifyClipboardCopy(ckPlainText);
            return;
        case CM_ENABLEDCHANGED:
        case EM_SETREADONLY:
            TBase::WndProc(Message);
            this->Invalidate();
            return;
        case WM_CONTEXTMENU:
            if (this->PopupMenu())
                TBase::WndProc(Message); // the control's own menu
            else {
                ShowAdvEditPopup(*this, Message.LParam);
                Message.Result = 1;
            }
            return;
        default:
            TBase::WndProc(Message);
            return;
        }
    }

protected:
    virtual bool IsReadOnly() const { return false; }
    bool FDefaultColor = true;
};

class TAdvEdit : public TDefaultColored<TEdit>, public TDelayedInput {
public:
    DECLARE_CLASS_NAME(TAdvEdit)
    explicit TAdvEdit(TComponent *AOwner);
    THelpPosEvent OnHelp;
    void WndProc(TMessage &Message) override;

protected:
    bool IsReadOnly() const override { return FReadOnly; }
    bool HasInputFocus() override { return Focused(); }
    void Change() override;
    void DoExit() override;
};

class TAdvMemo : public TDefaultColored<TMemo> {
public:
    DECLARE_CLASS_NAME(TAdvMemo)
    using TDefaultColored<TMemo>::TDefaultColored;

protected:
    bool IsReadOnly() const override { return FReadOnly; }
};

class TAdvComboBox : public TDefaultColored<TComboBox>, public TDelayedInput {
public:
    DECLARE_CLASS_NAME(TAdvComboBox)
    explicit TAdvComboBox(TComponent *AOwner);
    bool DropDownOwnerDraw() const { return FDropDownOwnerDraw; }
    void SetDropDownOwnerDraw(bool Value);
    bool InList() const { return FInList; }
    bool InResize() const { return FInResize; }
    int ItemIndex() override;
    void SetItemIndex(int Value) override;
    int ItemHeight() override;
    void SetItemHeight(int Value) override;
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    // Editing operations on the edit field.
    void Undo();
    bool CanUndo();
    void CutToClipboard();
    void CopyToClipboard();
    void PasteFromClipboard();
    void ClearSelection();
    // A selection from the list; without a delay it is an input at once.
    void Click() override;

    TNotifyEvent OnClose;
    TNotifyEvent OnDroppingDown;
    THelpPosEvent OnHelp;
    void WndProc(TMessage &Message) override;

protected:
    bool HasInputFocus() override;
    // A message without parameters to the edit field (0 without one).
    LRESULT SendToEdit(UINT Msg);
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    void ComboWndProc(TMessage &Message, HWND ChildWindow, bool &Handled) override;
    void Change() override;
    void CloseUp() override;
    void DoExit() override;
    bool FInResize = false;
    bool FInList = false;
    bool FDropDownOwnerDraw = false;
    int FSavedItemHeight = 0;
};

// ---------------------------------------------------------------------------------------------
// Complex-number edit and the shared edit popup

using TComplexCopyEvent = TMethod<void(TObject *Sender, std::string &Re, std::string &Im)>;
using TComplexPasteEvent = TMethod<void(TObject *Sender, const std::string &Re, const std::string &Im)>;

// The clipboard text of a complex value: the real part, "/", the imaginary part.
std::string ComplexClipboardText(const std::string &Re, const std::string &Im);
// Splits a clipboard text at its first "/"; false for a text without one.
bool SplitComplexClipboardText(const std::string &Text, std::string &Re, std::string &Im);

class TAdvComplexEdit;

// The eyedropper button inside a complex edit while it is eyedropping.
class TEyedropPanel : public TCustomControl {
public:
    DECLARE_CLASS_NAME(TEyedropPanel)
    TEyedropPanel(TAdvComplexEdit *AEdit);
    void Click() override;

protected:
    void Paint() override;
    TAdvComplexEdit *FEdit;
};

// One box (real or imaginary part) of a complex parameter: it copies and pastes the whole value
// through its owner's events, and toggles an eyedropper mode.
class TAdvComplexEdit : public TAdvEdit {
public:
    DECLARE_CLASS_NAME(TAdvComplexEdit)
    explicit TAdvComplexEdit(TComponent *AOwner);
    bool Eyedropping() const { return FEyedropping; }
    void SetEyedropping(bool Value);
    TEyedropPanel *EyedropPanel() const { return FEyedropPanel; }
    void CopyComplexValue();
    void PasteComplexValue();
    // Plain text of the selection, told to the copy hook as plain text.
    void CopyToClipboard();
    void CutToClipboard();
    void PasteFromClipboard();

    virtual void DoComplexCopy(std::string &Re, std::string &Im);
    virtual void DoComplexPaste(const std::string &Re, const std::string &Im);
    // Toggles Eyedropping, then tells the owner.
    virtual void DoEyedropper();

    TComplexCopyEvent OnComplexCopy;
    TComplexPasteEvent OnComplexPaste;
    TNotifyEvent OnEyedropper;
    void WndProc(TMessage &Message) override;

protected:
    void Notification(TComponent *AComponent, TOperation Operation) override;
    void Change() override;
    bool FEyedropping = false;
    TEyedropPanel *FEyedropPanel = nullptr;
};

// The shared context menu of the edits, complex edits, memos and combo boxes (made on first use,
// freed by FinalizeAdvCtrls).
TPopupMenu &AdvEditMenu();
// Prepares the items for the control (enabled states, the complex items shown only for a complex
// edit) and makes it the menu's popup component; false for a control of another class.
bool PrepareAdvEditMenu(TControl *Control);
// Prepares the menu and shows it at the screen point.
void PopupAdvEditMenu(TControl *Control, int X, int Y);
