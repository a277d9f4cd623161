// Forms, the application object with its message loop and exception display, the screen and
// the hint window.
#pragma once

#include <windows.h>

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "Controls.h"
#include "Menus.h"

class TTimer;

enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TPosition { poDesigned, poDefault, poScreenCenter, poMainFormCenter };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TModalResult = int;
constexpr TModalResult mrNone = 0, mrOk = IDOK, mrCancel = IDCANCEL, mrAbort = IDABORT, mrRetry = IDRETRY,
                       mrIgnore = IDIGNORE, mrYes = IDYES, mrNo = IDNO, mrAll = 8, mrNoToAll = 9,
                       mrYesToAll = 10;

using TCloseEvent = TMethod<void(TObject *Sender, TCloseAction &Action)>;
using TCloseQueryEvent = TMethod<void(TObject *Sender, bool &CanClose)>;
using TShortCutEvent = TMethod<void(WORD Key, TShiftState Shift, bool &Handled)>;
using TDropFilesEvent = TMethod<void(TObject *Sender, const std::vector<std::string> &FileNames)>;

class TCustomForm : public TScrollingWinControl {
public:
    DECLARE_CLASS_NAME(TCustomForm)
    explicit TCustomForm(TComponent *AOwner);
    ~TCustomForm() override;

    void Show();
    // Runs the form modally until ModalResult is set (by a button, Close or the program);
    // returns the result.
    virtual TModalResult ShowModal();
    TModalResult ModalResult() const { return FModalResult; }
    void SetModalResult(TModalResult Value) { FModalResult = Value; }
    bool Modal() const { return FModal; }
    // Asks OnCloseQuery, then OnClose decides: hide, free (later), minimise or nothing.
    void Close();
    bool CloseQuery();
    // Frees the form once the messages now queued have been handled.
    void Release();

    TFormStyle FormStyle() const { return FFormStyle; }
    void SetFormStyle(TFormStyle Value);
    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle Value);
    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition Value) { FPosition = Value; }
    bool KeyPreview() const { return FKeyPreview; }
    void SetKeyPreview(bool Value) { FKeyPreview = Value; }
    TMainMenu *Menu() const { return FMenu; }
    void SetMenu(TMainMenu *Value);
    TWinControl *ActiveControl() const { return FActiveControl; }
    void SetActiveControl(TWinControl *Value);
    bool Active() const { return FActive; }
    // Offers a key to OnShortCut, the main menu and the popup menus of the form.
    virtual bool IsShortCut(WORD Key, TShiftState Shift);
    // The MDI client window of an MDI main form.
    HWND ClientHandle() const { return FClientHandle; }
    TCustomForm *ActiveMDIChild();
    int MDIChildCount();
    TCustomForm *MDIChildren(int Index);
    // Places the MDI client window of an MDI main form (at the bottom of the z-order).
    void PlaceClientWindow(const RECT &Bounds);
    // Arranging the MDI children of an MDI main form.
    void Cascade();
    void Tile(bool Horizontal);
    void ArrangeIcons();
    // The menu item under which an MDI main form lists its child windows (the system keeps the
    // list), or nullptr.
    TMenuItem *WindowMenu() const { return FWindowMenu; }
    void SetWindowMenu(TMenuItem *Value);
    // Hands the client window the menu's current handles (after the menu was built again).
    void UpdateMDIWindowMenu();
    // The window's show state: minimised (iconic), maximised, or restored to normal.
    bool Minimized();
    bool Maximized();
    void Minimize();
    void Maximize();
    void Restore();
    // Files dropped from the shell's file views arrive through OnDropFiles, in the order given.
    bool AcceptFiles() const { return FAcceptFiles; }
    void SetAcceptFiles(bool Value);
    // Called by controls when they get the focus.
    void FocusChanged(TWinControl *Control);

    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TNotifyEvent OnPaint;
    TCloseEvent OnClose;
    TCloseQueryEvent OnCloseQuery;
    TShortCutEvent OnShortCut;
    TDropFilesEvent OnDropFiles;

    void WndProc(TMessage &Message) override;
    void DefaultHandler(TMessage &Message) override;
    void SetVisible(bool Value) override;
    // The messages of an MDI main form's client window pass here first; this one hands them to
    // the client window's own procedure.
    virtual void ClientWndProc(TMessage &Message);

protected:
    friend class TWinControl;
    friend class TApplication;
    void CreateParams(TCreateParams &Params) override;
    void CreateWnd() override;
    void DestroyWnd() override;
    void AlignControls(TControl *AControl, RECT &Rect) override;
    void PaintWindow(HDC DC) override;
    virtual void DoShow();
    virtual void DoHide();
    virtual void DoClose(TCloseAction &Action);
    virtual void Activate();
    virtual void Deactivate();
    void Paint() override;

    TFormStyle FFormStyle = fsNormal;
    TFormBorderStyle FBorderStyle = bsSizeable;
    TPosition FPosition = poDesigned;
    TModalResult FModalResult = mrNone;
    bool FModal = false;
    bool FKeyPreview = false;
    bool FActive = false;
    bool FAcceptFiles = false;
    TMainMenu *FMenu = nullptr;
    TWinControl *FActiveControl = nullptr;
    HWND FClientHandle = nullptr;
    TMenuItem *FWindowMenu = nullptr;
    std::unique_ptr<TControlCanvas> FCanvas;
};

class TForm : public TCustomForm {
public:
    DECLARE_CLASS_NAME(TForm)
    using TCustomForm::TCustomForm;
    TCanvas &Canvas() { return *FCanvas; }
};

// ---------------------------------------------------------------------------------------------
// The hint window: a borderless popup with the short hint text.

// A window that scrolls the controls inside it: a sunken border unless switched off.
class TScrollBox : public TScrollingWinControl {
public:
    DECLARE_CLASS_NAME(TScrollBox)
    explicit TScrollBox(TComponent *AOwner);
    bool Bordered() const { return FBordered; }
    void SetBordered(bool Value) { RecreateOnChange(FBordered, Value); }

protected:
    void CreateParams(TCreateParams &Params) override;

private:
    bool FBordered = true;
};

class THintWindow : public TCustomControl {
public:
    DECLARE_CLASS_NAME(THintWindow)
    explicit THintWindow(TComponent *AOwner);
    // The window's size for a text, lines broken at MaxWidth.
    virtual RECT CalcHintRect(int MaxWidth, const std::string &AHint);
    // Shows the text in the screen rectangle.
    virtual void ActivateHint(RECT Rect, const std::string &AHint);
    void ReleaseHint();

protected:
    void CreateParams(TCreateParams &Params) override;
    void Paint() override;
};

// ---------------------------------------------------------------------------------------------
// The application.

using TExceptionEvent = TMethod<void(TObject *Sender, std::exception_ptr E)>;
using THelpEvent = TMethod<bool(WORD Command, intptr_t Data, bool &CallHelp)>;
using TIdleEvent = TMethod<void(TObject *Sender, bool &Done)>;
using TMessageEvent = TMethod<void(MSG &Msg, bool &Handled)>;
// A hook on the application window's own messages (sent or posted to it): true when it took the
// message, with Message.Result as the answer.
using TWindowHook = TMethod<bool(TMessage &Message)>;

// The text an exception shows: its message with trailing dots collapsed to one.
std::string ExceptionDisplayText(std::exception_ptr E);

class TApplication : public TComponent {
public:
    DECLARE_CLASS_NAME(TApplication)
    explicit TApplication(TComponent *AOwner);
    friend class TCustomForm;
    ~TApplication() override;

    // The hidden window of the application (created on first use).
    HWND Handle();
    const std::string &Title() const { return FTitle; }
    void SetTitle(const std::string &Value);
    TCustomForm *MainForm() const { return FMainForm; }
    void SetMainForm(TCustomForm *Value) { FMainForm = Value; }
    bool Terminated() const { return FTerminated; }
    void Terminate();
    // Shows the main form and runs the message loop until Terminate or WM_QUIT.
    void Run();
    // Handles every message waiting now.
    void ProcessMessages();
    // Handles one message, waiting for it when none is there (idle work runs first).
    void HandleMessage();
    // Handles one waiting message; false when there was none.
    bool ProcessMessage();

    // Call inside a catch block: shows the exception being handled (EAbort is silent) through
    // OnException when assigned, otherwise through ShowException; from another thread the
    // exception is handed to the interface thread first.
    void HandleException(TObject *Sender);
    // Shows the exception as a message box, through a posted message so that the box never
    // opens inside the handler that failed.
    void ShowException(std::exception_ptr E);

    // Modeless dialog whose keys go through IsDialogMessage.
    HWND DialogHandle() const { return FDialogHandle; }
    void SetDialogHandle(HWND Value) { FDialogHandle = Value; }

    // Hints: the long hint of the control under the pointer; the short one pops up.
    const std::string &Hint() const { return FHint; }
    void SetHint(const std::string &Value);
    bool ShowHint() const { return FShowHint; }
    void SetShowHint(bool Value);
    int HintPause() const { return FHintPause; }
    void SetHintPause(int Value) { FHintPause = Value; }
    int HintHidePause() const { return FHintHidePause; }
    void SetHintHidePause(int Value) { FHintHidePause = Value; }
    void CancelHint();
    THintWindow *HintWindow() const { return FHintWindow; }

    // Help: OnHelp answers first; when it leaves CallHelp set (or is not assigned), the default
    // help call runs and its answer is returned.
    bool HelpCommand(WORD Command, intptr_t Data);
    bool HelpContext(int Context);
    const std::string &HelpFile() const { return FHelpFile; }
    void SetHelpFile(const std::string &Value) { FHelpFile = Value; }

    // Filters of the messages the loop takes from the queue, offered in the order added until one
    // handles the message (before OnMessage). Each component adds and removes only its own, in any
    // order, so that one that comes and goes never drops another's.
    void AddMessageFilter(TMessageEvent Filter);
    void RemoveMessageFilter(TMessageEvent Filter);
    // Hooks of the messages the application window receives, offered in the order added before
    // the window's own handling; added and removed each on its own like the filters.
    void HookMainWindow(TWindowHook Hook);
    void UnhookMainWindow(TWindowHook Hook);

    TExceptionEvent OnException;
    TNotifyEvent OnHint;
    THelpEvent OnHelp;
    TIdleEvent OnIdle;
    TMessageEvent OnMessage;

protected:
    void Notification(TComponent *AComponent, TOperation Operation) override;
    // The system's help engine with HelpFile, owned by the main form; false without a help file.
    virtual bool CallDefaultHelp(WORD Command, intptr_t Data);

private:
    static LRESULT CALLBACK WindowProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam);
    LRESULT HandleAppMessage(UINT Msg, WPARAM WParam, LPARAM LParam);
    void DisplayException(TObject *Sender, std::exception_ptr E);
    bool IsKeyMsg(MSG &Msg);
    bool IsDlgMsg(MSG &Msg);
    bool IsMDIMsg(MSG &Msg);
    void Idle();
    void DoMouseIdle();
    void HintTimerExpired();
    void StartHintTimer(int Delay);
    void StopHintTimer();

    HWND FHandle = nullptr;
    std::string FTitle;
    TCustomForm *FMainForm = nullptr;
    bool FTerminated = false;
    HWND FDialogHandle = nullptr;
    std::string FHint;
    bool FShowHint = true;
    int FHintPause = 500;
    int FHintHidePause = 2500;
    TControl *FHintControl = nullptr;
    bool FHintActive = false;
    bool FHintTimerRunning = false;
    THintWindow *FHintWindow = nullptr; // owned (component of the application)
    std::string FHelpFile;
    std::vector<TMessageEvent> FMessageFilters;
    std::vector<TWindowHook> FWindowHooks;
};

// ---------------------------------------------------------------------------------------------
// The screen.

struct TMonitor {
    HMONITOR Handle;
    RECT BoundsRect;
    RECT WorkareaRect;
    bool Primary;
};

class TScreen : public TComponent {
public:
    DECLARE_CLASS_NAME(TScreen)
    explicit TScreen(TComponent *AOwner);
    ~TScreen() override;

    int FormCount() const { return static_cast<int>(FForms.size()); }
    TCustomForm *Forms(int Index) const { return FForms.at(Index); }
    TCustomForm *ActiveForm() const { return FActiveForm; }
    TWinControl *ActiveControl() const;
    TCursor Cursor() const { return GetScreenCursor(); }
    void SetCursor(TCursor Value) { SetScreenCursor(Value); }
    HCURSOR Cursors(TCursor Index) const { return CursorHandle(Index); }
    void SetCursors(TCursor Index, HCURSOR Handle) { SetCustomCursor(Index, Handle); }
    int Width() const { return GetSystemMetrics(SM_CXSCREEN); }
    int Height() const { return GetSystemMetrics(SM_CYSCREEN); }
    RECT WorkAreaRect() const;
    int PixelsPerInch() const;
    int MonitorCount();
    TMonitor Monitors(int Index);
    TMonitor MonitorFromPoint(TPoint P);
    // The installed font families, sorted.
    TStrings &Fonts();
    TFont &HintFont() { return *FHintFont; }
    TFont &MenuFont() { return *FMenuFont; }
    TFont &IconFont() { return *FIconFont; }

    // Fires when the active form (a top-level form, or an MDI child becoming active) changes.
    TNotifyEvent OnActiveFormChange;

private:
    friend class TCustomForm;
    void SetActiveForm(TCustomForm *Form);
    void AddForm(TCustomForm *Form);
    void RemoveForm(TCustomForm *Form);
    std::vector<TMonitor> EnumMonitors();
    std::vector<TCustomForm *> FForms;
    TCustomForm *FActiveForm = nullptr;
    std::unique_ptr<TStringList> FFonts;
    std::unique_ptr<TFont> FHintFont, FMenuFont, FIconFont;
};

extern TApplication *Application;
extern TScreen *Screen;

// Creates and frees the application and the screen (module start-up, on the interface thread).
void InitializeForms();
void FinalizeForms();
