// Components, controls, windowed controls, custom and graphic controls, dragging and the mouse.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "Graphics.h"

// ---------------------------------------------------------------------------------------------
// Messages. CM_ messages are the controls' own change notifications; CN_ messages are WM_
// messages that a parent reflects to the child control they concern.

struct TMessage {
    UINT Msg;
    WPARAM WParam;
    LPARAM LParam;
    LRESULT Result;
};

constexpr UINT CM_BASE = 0xB000;
constexpr UINT CM_ENABLEDCHANGED = CM_BASE + 1;
constexpr UINT CM_COLORCHANGED = CM_BASE + 2;
constexpr UINT CM_FONTCHANGED = CM_BASE + 3;
constexpr UINT CM_CURSORCHANGED = CM_BASE + 4;
constexpr UINT CM_PARENTFONTCHANGED = CM_BASE + 5;
constexpr UINT CM_PARENTCOLORCHANGED = CM_BASE + 6;
constexpr UINT CM_VISIBLECHANGED = CM_BASE + 7;
constexpr UINT CM_ENTER = CM_BASE + 8;
constexpr UINT CM_EXIT = CM_BASE + 9;
constexpr UINT CM_TEXTCHANGED = CM_BASE + 10;
constexpr UINT CM_MOUSEENTER = CM_BASE + 11;
constexpr UINT CM_MOUSELEAVE = CM_BASE + 12;
constexpr UINT CM_DIALOGCHAR = CM_BASE + 13; // WParam: the character; answer 1 when taken
constexpr UINT CM_DIALOGKEY = CM_BASE + 14;  // WParam: the key; answer 1 when taken
constexpr UINT CM_SYSCOLORCHANGE = CM_BASE + 15;
constexpr UINT CM_DRAG = CM_BASE + 16; // WParam: TDragMessage, LParam: TDragRec *
constexpr UINT CM_RELEASE = CM_BASE + 17;
constexpr UINT CM_SHOWINGCHANGED = CM_BASE + 18;
constexpr UINT CM_RECREATEWND = CM_BASE + 19;
constexpr UINT CM_HINTSHOW = CM_BASE + 20;
constexpr UINT CM_CHILDKEY = CM_BASE + 21;
constexpr UINT CM_WANTSPECIALKEY = CM_BASE + 22;
constexpr UINT CM_CANCELMODE = CM_BASE + 23;
constexpr UINT CM_SHOWEXCEPTION = CM_BASE + 24;   // to the application window: LParam std::string *
constexpr UINT CM_HANDLEEXCEPTION = CM_BASE + 25; // to the application window: LParam std::exception_ptr *

constexpr UINT CN_BASE = 0xBC00;
constexpr UINT CN_COMMAND = CN_BASE + WM_COMMAND;
constexpr UINT CN_NOTIFY = CN_BASE + WM_NOTIFY;
constexpr UINT CN_DRAWITEM = CN_BASE + WM_DRAWITEM;
constexpr UINT CN_MEASUREITEM = CN_BASE + WM_MEASUREITEM;
constexpr UINT CN_CTLCOLOREDIT = CN_BASE + WM_CTLCOLOREDIT;
constexpr UINT CN_CTLCOLORLISTBOX = CN_BASE + WM_CTLCOLORLISTBOX;
constexpr UINT CN_CTLCOLORBTN = CN_BASE + WM_CTLCOLORBTN;
constexpr UINT CN_CTLCOLORSTATIC = CN_BASE + WM_CTLCOLORSTATIC;
constexpr UINT CN_CTLCOLORSCROLLBAR = CN_BASE + WM_CTLCOLORSCROLLBAR;
constexpr UINT CN_HSCROLL = CN_BASE + WM_HSCROLL;
constexpr UINT CN_VSCROLL = CN_BASE + WM_VSCROLL;
constexpr UINT CN_KEYDOWN = CN_BASE + WM_KEYDOWN;
constexpr UINT CN_SYSKEYDOWN = CN_BASE + WM_SYSKEYDOWN;
constexpr UINT CN_CHAR = CN_BASE + WM_CHAR;
constexpr UINT CN_SYSCHAR = CN_BASE + WM_SYSCHAR;

// ---------------------------------------------------------------------------------------------
// Components: objects with an owner that frees them, and free notification.

enum TOperation { opInsert, opRemove };

class TComponent : public TObject {
public:
    DECLARE_CLASS_NAME(TComponent)
    explicit TComponent(TComponent *AOwner);
    // Frees every owned component (the last first) and tells the free-notification list.
    ~TComponent() override;
    TComponent(const TComponent &) = delete;
    TComponent &operator=(const TComponent &) = delete;

    TComponent *Owner() const { return FOwner; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent *Components(int Index) const { return FComponents.at(Index); }
    // The owned component named Name (letter case ignored), or nullptr.
    TComponent *FindComponent(const std::string &AName) const;
    // Hands the component to another owner (nullptr: nobody frees it).
    void ChangeOwner(TComponent *NewOwner);
    // AComponent's Notification(this, opRemove) runs when this component is freed.
    void FreeNotification(TComponent *AComponent);
    void RemoveFreeNotification(TComponent *AComponent);

    const std::string &Name() const { return FName; }
    void SetName(const std::string &Value) { FName = Value; }
    intptr_t Tag() const { return FTag; }
    void SetTag(intptr_t Value) { FTag = Value; }
    bool Destroying() const { return FDestroying; }

protected:
    virtual void Notification(TComponent *AComponent, TOperation Operation);
    // Marks the component (and its owned components) as being destroyed: events stop.
    void SetDestroying();
    // Frees the owned components now (called early by classes whose components need them).
    void DestroyComponents();

private:
    void InsertComponent(TComponent *AComponent);
    void RemoveComponent(TComponent *AComponent);
    TComponent *FOwner = nullptr;
    std::vector<TComponent *> FComponents;
    std::vector<TComponent *> FFreeNotifies;
    std::string FName;
    intptr_t FTag = 0;
    bool FDestroying = false;
};

// Points Field at Value and keeps a free notification on the component it refers to, so that
// Self's Notification hears when it goes (Self clears Field there).
template <class T> void SetComponentReference(TComponent *Self, T *&Field, T *Value) {
    if (Field)
        Field->RemoveFreeNotification(Self);
    Field = Value;
    if (Value)
        Value->FreeNotification(Self);
}

// Frees an object and clears the pointer.
template <class T> void FreeAndNil(T *&Object) {
    T *doomed = Object;
    Object = nullptr;
    delete doomed;
}

// ---------------------------------------------------------------------------------------------
// Controls.

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftFlag : uint16_t {
    ssShift = 1,
    ssAlt = 2,
    ssCtrl = 4,
    ssLeft = 8,
    ssRight = 16,
    ssMiddle = 32,
    ssDouble = 64
};
using TShiftState = uint16_t;
enum TDragMode { dmManual, dmAutomatic };
enum TDragState { dsDragEnter, dsDragLeave, dsDragMove };
enum TDragMessage { dmDragEnter, dmDragLeave, dmDragMove, dmDragDrop, dmDragCancel, dmFindTarget };

// Control style flags.
enum : uint32_t {
    csAcceptsControls = 1,
    csCaptureMouse = 2,
    csClickEvents = 4,
    csOpaque = 8,
    csDoubleClicks = 16,
    csFixedWidth = 32,
    csFixedHeight = 64,
    csNoStdEvents = 128,
    csReplicatable = 256,
    csSetCaption = 512,
    csDesignInteractive = 1024
};
// Control state flags.
enum : uint32_t { csLButtonDown = 1, csClicked = 2, csFocusing = 4, csCreating = 8, csAlignmentNeeded = 16 };

// Cursors: negative ids of the standard cursors.
using TCursor = int16_t;
constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4, crSizeNESW = -6,
                  crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9, crUpArrow = -10, crHourGlass = -11,
                  crDrag = -12, crNoDrop = -13, crHSplit = -14, crVSplit = -15, crMultiDrag = -16,
                  crSQLWait = -17, crNo = -18, crAppStart = -19, crHelp = -20, crHandPoint = -21,
                  crSizeAll = -22;

class TWinControl;
class TPopupMenu;
class TDragObject;
class TControl;

// The edges of its parent that a control without alignment keeps its distance to. With both
// edges of a direction the control stretches; with neither it keeps its centre's relative place.
enum : uint8_t { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
using TAnchors = uint8_t;

// Lower and upper limits of a control's width and height; 0 means no limit. A change applies the
// limits to the control's present size at once.
class TSizeConstraints : public TObject {
public:
    DECLARE_CLASS_NAME(TSizeConstraints)
    explicit TSizeConstraints(TControl &Control) : FControl(Control) {}
    int MinWidth() const { return FMinWidth; }
    int MinHeight() const { return FMinHeight; }
    int MaxWidth() const { return FMaxWidth; }
    int MaxHeight() const { return FMaxHeight; }
    void SetMinWidth(int Value);
    void SetMinHeight(int Value);
    void SetMaxWidth(int Value);
    void SetMaxHeight(int Value);
    // Width and Height within the limits (a lower limit wins over an upper one below it).
    void Apply(int &Width, int &Height) const;

private:
    void Change(int &Field, int Value);
    TControl &FControl;
    int FMinWidth = 0, FMinHeight = 0, FMaxWidth = 0, FMaxHeight = 0;
};

using TMouseEvent = TMethod<void(TObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = TMethod<void(TObject *Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = TMethod<void(TObject *Sender, WORD &Key, TShiftState Shift)>;
using TKeyPressEvent = TMethod<void(TObject *Sender, char &Key)>;
using TDragOverEvent =
    TMethod<void(TObject *Sender, TObject *Source, int X, int Y, TDragState State, bool &Accept)>;
using TDragDropEvent = TMethod<void(TObject *Sender, TObject *Source, int X, int Y)>;
using TStartDragEvent = TMethod<void(TObject *Sender, TDragObject *&DragObject)>;
using TEndDragEvent = TMethod<void(TObject *Sender, TObject *Target, int X, int Y)>;
using TContextPopupEvent = TMethod<void(TObject *Sender, TPoint MousePos, bool &Handled)>;

// The parts of a "short|long" hint: before the '|' (all of it without one) and after it.
std::string GetShortHint(const std::string &Hint);
std::string GetLongHint(const std::string &Hint);

// The shift state of the keyboard now / of mouse-message key flags.
TShiftState KeyboardStateToShiftState();
TShiftState KeysToShiftState(WPARAM Keys);

struct TDragRec {
    TPoint Pos; // screen position
    TDragObject *Source;
    TControl *Target;
    bool Docking;
};

class TControl : public TComponent {
public:
    DECLARE_CLASS_NAME(TControl)
    explicit TControl(TComponent *AOwner);
    ~TControl() override;

    // Sends a message to the control's own handling (no window needed).
    LRESULT Perform(UINT Msg, WPARAM WParam = 0, LPARAM LParam = 0);
    virtual void WndProc(TMessage &Message);
    virtual void DefaultHandler(TMessage &Message);

    TWinControl *Parent() const { return FParent; }
    virtual void SetParent(TWinControl *AParent);
    // The form the control sits on (nullptr when it has none).
    class TCustomForm *ParentForm() const;

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int Value) { SetBounds(Value, FTop, FWidth, FHeight); }
    void SetTop(int Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
    void SetWidth(int Value) { SetBounds(FLeft, FTop, Value, FHeight); }
    void SetHeight(int Value) { SetBounds(FLeft, FTop, FWidth, Value); }
    virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
    RECT BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
    void SetBoundsRect(const RECT &R) { SetBounds(R.left, R.top, R.right - R.left, R.bottom - R.top); }
    virtual RECT ClientRect();
    int ClientWidth() { return ClientRect().right; }
    int ClientHeight() { return ClientRect().bottom; }
    void SetClientSize(int AWidth, int AHeight);
    virtual TPoint ClientOrigin() const; // screen position of the client area's top-left
    TPoint ClientToScreen(TPoint P) const;
    TPoint ScreenToClient(TPoint P) const;

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign Value);
    TSizeConstraints &Constraints() { return *FConstraints; }
    TAnchors Anchors() const { return FAnchors; }
    void SetAnchors(TAnchors Value);
    bool Visible() const { return FVisible; }
    virtual void SetVisible(bool Value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    bool Enabled() const { return FEnabled; }
    virtual void SetEnabled(bool Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool Value);
    TFont &Font() { return *FFont; }
    bool ParentFont() const { return FParentFont; }
    void SetParentFont(bool Value);
    const std::string &Hint() const { return FHint; }
    void SetHint(const std::string &Value) { FHint = Value; }
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool Value);
    bool ParentShowHint() const { return FParentShowHint; }
    void SetParentShowHint(bool Value);
    TPopupMenu *PopupMenu() const { return FPopupMenu; }
    void SetPopupMenu(TPopupMenu *Value);
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor Value);
    int HelpContext() const { return FHelpContext; }
    void SetHelpContext(int Value) { FHelpContext = Value; }
    TDragMode DragMode() const { return FDragMode; }
    void SetDragMode(TDragMode Value) { FDragMode = Value; }
    TCursor DragCursor() const { return FDragCursor; }
    void SetDragCursor(TCursor Value) { FDragCursor = Value; }
    // Text of a windowed control is its window text; other controls keep their own.
    std::string Text();
    void SetText(const std::string &Value);
    std::string Caption() { return Text(); }
    void SetCaption(const std::string &Value) { SetText(Value); }

    uint32_t ControlStyle() const { return FControlStyle; }
    void SetControlStyle(uint32_t Value) { FControlStyle = Value; }
    uint32_t ControlState() const { return FControlState; }
    void SetControlState(uint32_t Value) { FControlState = Value; }
    bool MouseCapture() const;
    void SetMouseCapture(bool Value);

    virtual void Invalidate();
    virtual void Update();
    void Repaint();
    void Refresh() { Repaint(); }
    void BringToFront();
    void SendToBack();

    // Dragging within the program.
    void BeginDrag(bool Immediate, int Threshold = -1);
    void EndDrag(bool Drop);
    bool Dragging() const;
    virtual void DragDrop(TObject *Source, int X, int Y);

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TNotifyEvent OnResize;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;
    TDragOverEvent OnDragOver;
    TDragDropEvent OnDragDrop;
    TStartDragEvent OnStartDrag;
    TEndDragEvent OnEndDrag;
    TContextPopupEvent OnContextPopup;

    virtual void Click();
    virtual void DblClick();

protected:
    friend class TWinControl;
    friend class TDragManager;
    void Notification(TComponent *AComponent, TOperation Operation) override;
    virtual void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y);
    virtual void MouseMove(TShiftState Shift, int X, int Y);
    virtual void Resize();
    virtual void Changed() {}
    virtual void Paint() {}
    virtual std::string GetText();
    virtual void SetTextBuf(const std::string &Value);
    virtual void DoStartDrag(TDragObject *&DragObject);
    virtual void DragOver(TObject *Source, int X, int Y, TDragState State, bool &Accept);
    virtual void DoEndDrag(TObject *Target, int X, int Y);
    // Called after the bounds changed (the window is moved by windowed controls).
    virtual void BoundsChanged() {}
    // Asks the parent to align its children again (after a change of bounds, alignment or
    // visibility of an aligned control).
    void RequestAlign();
    // Width and height limited by the size constraints.
    virtual void ConstrainSize(int &AWidth, int &AHeight);
    // Takes the present bounds and the parent's client size as the base that anchoring keeps.
    void UpdateAnchorRules();
    // Moves and sizes a control without alignment after its parent's client area became
    // ParentWidth x ParentHeight, as its anchors say.
    void ApplyAnchors(int ParentWidth, int ParentHeight);
    // Repaints the control's area on the parent (graphic controls).
    void InvalidateControl(bool IsVisible, bool IsOpaque);
    void UpdateBoundsRect(const RECT &R);
    // The popup menu shown for a context request: the control's own or its parent's.
    virtual TPopupMenu *GetPopupMenu();
    TWinControl *FParent = nullptr;
    int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
    TAlign FAlign = alNone;
    bool FVisible = true;
    bool FEnabled = true;
    TColor FColor = clWindow;
    bool FParentColor = true;
    std::unique_ptr<TFont> FFont;
    bool FParentFont = true;
    std::string FHint;
    bool FShowHint = false;
    bool FParentShowHint = true;
    TPopupMenu *FPopupMenu = nullptr;
    TCursor FCursor = crDefault;
    int FHelpContext = 0;
    TDragMode FDragMode = dmManual;
    TCursor FDragCursor = crDrag;
    std::string FText;
    uint32_t FControlStyle = csCaptureMouse | csClickEvents | csSetCaption | csDoubleClicks;
    uint32_t FControlState = 0;
    bool FMouseInControl = false;
    std::unique_ptr<TSizeConstraints> FConstraints;
    TAnchors FAnchors = akLeft | akTop;
    RECT FAnchorOrigin = {0, 0, 0, 0}; // bounds when the anchor base was taken
    TPoint FAnchorParentSize;          // the parent's client size then (0 x 0: not yet taken)
    bool FAnchoring = false;           // bounds being set by anchoring

private:
    void FontChanged(TObject *Sender);
    void HandleMouseMessage(TMessage &Message);
};

// ---------------------------------------------------------------------------------------------
// Windowed controls.

struct TCreateParams {
    std::string Caption;
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0, Y = 0, Width = 0, Height = 0;
    HWND WndParent = nullptr;
    void *Param = nullptr;
    UINT ClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    HCURSOR ClassCursor = nullptr;
    HBRUSH ClassBackground = nullptr;
    // The window class registered for the control (by default its class name) and, for a
    // control built on a system class, that class (its window procedure becomes the default).
    std::string WinClassName;
    std::string SystemClassName;
};

class TWinControl : public TControl {
public:
    DECLARE_CLASS_NAME(TWinControl)
    explicit TWinControl(TComponent *AOwner);
    // Frees the owned components, takes the remaining children off, destroys the window.
    ~TWinControl() override;

    // The window, created on first use.
    HWND Handle();
    bool HandleAllocated() const { return FHandle != nullptr; }
    void HandleNeeded();
    // Destroys the window; it is made again, with the control's state, when next needed.
    void DestroyHandle();
    // Destroys and (when it was there) creates the window again, keeping the control's state.
    void RecreateWnd();
    // Sets a field that the window's creation depends on, and remakes the window when it changed.
    template <class T> void RecreateOnChange(T &Field, T Value) {
        if (Value != Field) {
            Field = Value;
            RecreateWnd();
        }
    }
    // Window of the parent; set for a control without a parent control that lives inside a
    // window of someone else.
    HWND ParentWindow() const { return FParentWindow; }
    void SetParentWindow(HWND Value);

    int ControlCount() const { return static_cast<int>(FControls.size()); }
    TControl *Controls(int Index) const { return FControls.at(Index); }
    void InsertControl(TControl *AControl);
    void RemoveControl(TControl *AControl);
    // The visible child control (windowed or not) at a client point, last in z-order first.
    TControl *ControlAtPos(TPoint Pos, bool AllowDisabled, bool AllowWinControls = false);
    bool ContainsControl(TControl *Control) const;

    void DisableAlign();
    void EnableAlign();
    void Realign();
    bool Showing() const;
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
    void SetVisible(bool Value) override;
    void SetEnabled(bool Value) override;
    RECT ClientRect() override;
    TPoint ClientOrigin() const override;
    void Invalidate() override;
    void Update() override;

    bool Focused() const;
    virtual bool CanFocus();
    virtual void SetFocus();
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool Value);
    int TabOrder() const;
    void SetTabOrder(int Value);
    // Next control in tab order inside this control after CurControl.
    TWinControl *FindNextControl(TWinControl *CurControl, bool GoForward, bool CheckTabStop,
                                 bool CheckParent);
    void SelectNext(TWinControl *CurControl, bool GoForward, bool CheckTabStop);

    TBrush &Brush() { return *FBrush; }
    WNDPROC DefWndProc() const { return FDefWndProc; }

    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;
    TKeyEvent OnKeyDown;
    TKeyEvent OnKeyUp;
    TKeyPressEvent OnKeyPress;

    void WndProc(TMessage &Message) override;
    void DefaultHandler(TMessage &Message) override;

protected:
    friend LRESULT CALLBACK ControlWindowProc(HWND, UINT, WPARAM, LPARAM);
    friend class TCustomForm;
    virtual void CreateParams(TCreateParams &Params);
    virtual void CreateWnd();
    virtual void CreateWindowHandle(const TCreateParams &Params);
    // Saves state that lives in the window before it goes (descendants keep their items here).
    virtual void DestroyWnd();
    virtual void DestroyWindowHandle();
    void CreateHandle();
    virtual void AlignControls(TControl *AControl, RECT &Rect);
    virtual RECT DisplayRect() { return ClientRect(); }
    std::string GetText() override;
    void SetTextBuf(const std::string &Value) override;
    // Height the window takes beyond the control's (the drop-down list of a combo box).
    virtual int ExtraWindowHeight() { return 0; }
    virtual void PaintWindow(HDC DC);
    void PaintControls(HDC DC, TControl *First);
    virtual bool DoKeyDown(WORD &Key, TShiftState Shift);
    virtual void KeyDown(WORD &Key, TShiftState Shift);
    virtual void KeyUp(WORD &Key, TShiftState Shift);
    virtual void KeyPress(char &Key);
    virtual void DoEnter();
    virtual void DoExit();
    void BoundsChanged() override;
    void UpdateShowing();
    // Creates the windows of visible windowed children that have none.
    void CreateChildHandles();
    void AlignChildren();
    // Makes the font, colour and text of the window follow the control.
    void UpdateWindowFont();
    // Edits, lists and views: a tab stop, the window colour, no caption from the name.
    void UseInputStyle();

    HWND FHandle = nullptr;
    HWND FParentWindow = nullptr;
    WNDPROC FDefWndProc = nullptr;
    std::vector<TControl *> FControls;
    std::vector<TWinControl *> FTabList;
    std::unique_ptr<TBrush> FBrush;
    bool FTabStop = false;
    int FAlignLevel = 0;
    bool FAligning = false;
    bool FRecreating = false;
    TControl *FCaptureControl = nullptr; // the child graphic control that holds the mouse

private:
    friend class TControl;
    bool IsControlMouseMsg(TMessage &Message);
    // Shortcuts and dialog keys of a key press the message loop offers before dispatching it.
    bool HandleFormKey(WORD Key, LPARAM KeyData);
    void ReflectMessage(TMessage &Message);
    void PaintHandler(TMessage &Message);
};

// The control that owns a window (nullptr for foreign windows).
TWinControl *FindControl(HWND Window);
// The control under a screen point: the windowed control, then its graphic child at the point.
TControl *FindDragTarget(TPoint Pos, bool AllowDisabled);

// A hidden window of the library (timers, the application) of a class registered on first use;
// Data is stored as the window's user data. HWND_MESSAGE as Parent makes a message-only window.
HWND AllocateUtilityWindow(const char *ClassName, WNDPROC Proc, HWND Parent, void *Data);

// Owner-drawn items: the canvas takes the item's context, the control's font and its colour,
// or the highlight colours for a selected item when Highlight is set, while Draw runs.
template <class Draw>
void DrawOwnerItem(TCanvas &Canvas, TFont &Font, TColor Color, const DRAWITEMSTRUCT &Item, bool Highlight,
                   Draw &&DrawItem) {
    int saved = SaveDC(Item.hDC);
    {
        TCanvasDCScope scope(Canvas, Item.hDC);
        Canvas.Font().Assign(Font);
        if (Highlight && (Item.itemState & ODS_SELECTED)) {
            Canvas.Brush().SetColor(clHighlight);
            Canvas.Font().SetColor(clHighlightText);
        } else {
            Canvas.Brush().SetColor(Color);
        }
        try {
            DrawItem();
        } catch (...) {
            Canvas.SetHandle(nullptr);
            RestoreDC(Item.hDC, saved);
            throw;
        }
    }
    RestoreDC(Item.hDC, saved);
}

// Window procedure of every control window of the class library.
LRESULT CALLBACK ControlWindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);

// ---------------------------------------------------------------------------------------------
// Canvases of controls.

class TControlCanvas : public TCanvas {
public:
    DECLARE_CLASS_NAME(TControlCanvas)
    ~TControlCanvas() override;
    TControl *Control() const { return FControl; }
    void SetControl(TControl *Value);
    // Releases a device context the canvas took itself.
    void FreeHandle();

protected:
    void CreateHandle() override;

private:
    TControl *FControl = nullptr;
    HDC FOwnDC = nullptr;
    HWND FDCWindow = nullptr;
};

class TGraphicControl : public TControl {
public:
    DECLARE_CLASS_NAME(TGraphicControl)
    explicit TGraphicControl(TComponent *AOwner);
    ~TGraphicControl() override;
    TCanvas &Canvas() { return *FCanvas; }
    void WndProc(TMessage &Message) override;

protected:
    std::unique_ptr<TControlCanvas> FCanvas;
};

class TCustomControl : public TWinControl {
public:
    DECLARE_CLASS_NAME(TCustomControl)
    explicit TCustomControl(TComponent *AOwner);
    ~TCustomControl() override;
    TCanvas &Canvas() { return *FCanvas; }

protected:
    void PaintWindow(HDC DC) override;
    std::unique_ptr<TControlCanvas> FCanvas;
};

// ---------------------------------------------------------------------------------------------
// Scrolling controls: a window whose scroll bars move its children.

enum TScrollBarKind { sbHorizontal, sbVertical };
// Looks of flat scroll bars (the system's normal, flat and hot-tracking flat kinds).
enum TScrollBarStyle { ssRegular, ssFlat, ssHotTrack };

class TScrollingWinControl;

class TControlScrollBar : public TObject {
public:
    DECLARE_CLASS_NAME(TControlScrollBar)
    TControlScrollBar(TScrollingWinControl &Control, TScrollBarKind Kind) : FControl(Control), FKind(Kind) {}
    int Position() const { return FPosition; }
    void SetPosition(int Value);
    int Range() const { return FRange; }
    void SetRange(int Value);
    int Increment() const { return FIncrement; }
    void SetIncrement(int Value) { FIncrement = Value; }
    int Margin() const { return FMargin; }
    void SetMargin(int Value) { FMargin = Value; }
    bool Tracking() const { return FTracking; }
    void SetTracking(bool Value) { FTracking = Value; }
    bool Visible() const { return FVisible; }
    void SetVisible(bool Value);
    // Scroll step of a page; 0 means the client size.
    int PageIncrement() const { return FPageIncrement; }
    void SetPageIncrement(int Value) { FPageIncrement = Value; }
    // With Smooth, a line is a quarter of the page and a page eleven twelfths of it.
    bool Smooth() const { return FSmooth; }
    void SetSmooth(bool Value) { FSmooth = Value; }
    // Settings of flat scroll bars (they apply when the control uses them); sizes of 0 keep
    // the system's.
    int ButtonSize() const { return FButtonSize; }
    void SetButtonSize(int Value);
    TColor Color() const { return FColor; }
    void SetColor(TColor Value);
    bool ParentColor() const { return FParentColor; }
    void SetParentColor(bool Value);
    int Size() const { return FSize; }
    void SetSize(int Value);
    TScrollBarStyle Style() const { return FStyle; }
    void SetStyle(TScrollBarStyle Value);
    int ThumbSize() const { return FThumbSize; }
    void SetThumbSize(int Value);
    bool IsScrollBarVisible();
    // Applies range, page and position to the window.
    void Update();
    // Applies the flat scroll bar settings to the window.
    void UpdateFlatProps();
    void ScrollMessage(WPARAM Code);

    // Line and page divisors of smooth scrolling.
    static constexpr int LineDiv = 4;
    static constexpr int PageDiv = 12;

private:
    int LineStep(int Page) const;
    int PageStep(int Page) const;
    TScrollingWinControl &FControl;
    TScrollBarKind FKind;
    int FPosition = 0;
    int FRange = 0;
    int FIncrement = 8;
    int FMargin = 0;
    int FPageIncrement = 0;
    bool FTracking = false;
    bool FVisible = true;
    bool FSmooth = false;
    int FButtonSize = 0;
    TColor FColor = clBtnHighlight;
    bool FParentColor = true;
    int FSize = 0;
    TScrollBarStyle FStyle = ssRegular;
    int FThumbSize = 0;
};

class TScrollingWinControl : public TWinControl {
public:
    DECLARE_CLASS_NAME(TScrollingWinControl)
    explicit TScrollingWinControl(TComponent *AOwner);
    TControlScrollBar &HorzScrollBar() { return *FHorzScrollBar; }
    TControlScrollBar &VertScrollBar() { return *FVertScrollBar; }
    // With AutoScroll the ranges follow the children's extent.
    bool AutoScroll() const { return FAutoScroll; }
    void SetAutoScroll(bool Value);
    void ScrollInView(TControl *AControl);
    // The comctl32 flat scroll bars in place of the window's own (set before the window is
    // made, or the window is made again). Not used where the system lays out right to left.
    bool FlatScrollBars() const { return FFlatScrollBars; }
    void SetFlatScrollBars(bool Value) { RecreateOnChange(FFlatScrollBars, Value); }
    void WndProc(TMessage &Message) override;

protected:
    friend class TControlScrollBar;
    void CreateWnd() override;
    void DestroyWnd() override;
    void AlignControls(TControl *AControl, RECT &Rect) override;
    // Moves the children by the change of a scroll position.
    void ScrollBy(int DeltaX, int DeltaY);
    void UpdateScrollBars();
    std::unique_ptr<TControlScrollBar> FHorzScrollBar;
    std::unique_ptr<TControlScrollBar> FVertScrollBar;
    bool FAutoScroll = true;
    bool FFlatScrollBars = false;
    bool FFlatInitialized = false;
};

// Cursor handles: the standard cursors and those registered by the screen.
HCURSOR CursorHandle(TCursor Cursor);
void SetCustomCursor(TCursor Cursor, HCURSOR Handle);
// The cursor that overrides every control's own (crDefault: none).
TCursor GetScreenCursor();
void SetScreenCursor(TCursor Cursor);

// ---------------------------------------------------------------------------------------------
// Dragging within the program.

class TDragObject : public TObject {
public:
    DECLARE_CLASS_NAME(TDragObject)
    ~TDragObject() override = default;
    virtual TCursor GetDragCursor(bool Accepted, int X, int Y) { return Accepted ? crDrag : crNoDrop; }
    virtual void Finished(TObject *Target, int X, int Y, bool Accepted) {}
    TPoint DragPos() const { return FDragPos; }
    TControl *DragTarget() const { return FDragTarget; }

private:
    friend class TDragManager;
    TPoint FDragPos;
    TControl *FDragTarget = nullptr;
};

// The drag object of a control dragged without its own object.
class TDragControlObject : public TDragObject {
public:
    DECLARE_CLASS_NAME(TDragControlObject)
    explicit TDragControlObject(TControl *AControl) : FControl(AControl) {}
    TControl *Control() const { return FControl; }
    TCursor GetDragCursor(bool Accepted, int X, int Y) override {
        return Accepted ? FControl->DragCursor() : crNoDrop;
    }

private:
    TControl *FControl;
};

// ---------------------------------------------------------------------------------------------
// The mouse.

class TMouse {
public:
    TPoint CursorPos() const;
    void SetCursorPos(TPoint P);
    // Pixels the pointer moves before a press becomes a drag (SM_CXDRAG, SM_CYDRAG).
    int DragThreshold() const;
    bool MousePresent() const { return GetSystemMetrics(SM_MOUSEPRESENT) != 0; }
    HWND Capture() const { return GetCapture(); }
    int WheelScrollLines() const;
};

extern TMouse Mouse;
