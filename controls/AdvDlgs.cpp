#include "AdvDlgs.h"

#include <dlgs.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct TTypeText {
    const char *Caption;
    const char *Icon;
};
const TTypeText TypeTexts[] = {
    {"Warning", "MSG_WARNING"},           {"Error", "MSG_ERROR"}, {"Information", "MSG_INFORMATION"},
    {"Confirmation", "MSG_CONFIRMATION"}, {nullptr, nullptr}, // the application's title, no icon
};

struct TButtonText {
    const char *Name;
    const char *Caption;
    int ModalResult;
};
// In the order the buttons appear.
const TButtonText ButtonTexts[] = {
    {"Yes", "&Yes", mrYes},
    {"No", "&No", mrNo},
    {"OK", "OK", mrOk},
    {"Cancel", "Cancel", mrCancel},
    {"Abort", "&Abort", mrAbort},
    {"Retry", "&Retry", mrRetry},
    {"Ignore", "&Ignore", mrIgnore},
    {"All", "&All", mrAll},
    {"NoToAll", "N&o to All", mrNoToAll},
    {"YesToAll", "Yes to &All", mrYesToAll},
    {"Help", "&Help", 0},
};

constexpr int IconSize = 32;

// Text measured in a memory device context with the dialog's font.
class TTextMeasure {
public:
    explicit TTextMeasure(TFont &Font) : FBitmap(1, 1) { FBitmap.Canvas().Font().Assign(Font); }
    RECT Calc(const std::string &Text, int Width, UINT Flags) {
        RECT r = {0, 0, Width, 0};
        DrawTextA(FBitmap.Canvas().Handle(), Text.c_str(), static_cast<int>(Text.size()), &r,
                  Flags | DT_CALCRECT);
        return r;
    }
    SIZE Extent(const std::string &Text) { return FBitmap.Canvas().TextExtent(Text); }

private:
    TBitmap FBitmap;
};

} // namespace

TMessageForm::TMessageForm(TComponent *AOwner) : TForm(AOwner) {
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        Font().AssignLogFont(metrics.lfMessageFont);
}

void TMessageForm::HelpButtonClick(TObject *) {
    if (Application) {
        std::string saved = Application->HelpFile();
        if (!FHelpFile.empty())
            Application->SetHelpFile(FHelpFile);
        Application->HelpContext(HelpContext());
        Application->SetHelpFile(saved);
    }
}

TMessageImage::TMessageImage(TComponent *AOwner) : TGraphicControl(AOwner) {
    FWidth = IconSize;
    FHeight = IconSize;
}

void TMessageImage::Paint() {
    if (!FIcon.Empty())
        FIcon.Draw(*FCanvas, RECT{0, 0, IconSize, IconSize});
}

std::unique_ptr<TMessageForm> CreateAdvMessageDialog(const std::string &Message, TMsgDlgType Type,
                                                     TMsgDlgButtons Buttons) {
    auto form = std::make_unique<TMessageForm>(nullptr);
    form->SetBorderStyle(bsDialog);
    form->SetPosition(poScreenCenter);
    TTextMeasure measure(form->Font());
    SIZE letters = measure.Extent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int charWidth = letters.cx / 52, charHeight = letters.cy;
    auto horz = [&](int Units) { return MulDiv(Units, charWidth, 4); };
    auto vert = [&](int Units) { return MulDiv(Units, charHeight, 8); };
    int horzMargin = horz(8), vertMargin = vert(8), horzSpacing = horz(10), vertSpacing = vert(10);
    int buttonHeight = vert(14), buttonSpacing = horz(4);
    int buttonWidth = horz(50);
    int buttonCount = 0;
    for (int b = mbYes; b <= mbHelp; ++b)
        if (Buttons.Contains(static_cast<TMsgDlgBtn>(b))) {
            ++buttonCount;
            RECT r = measure.Calc(ButtonTexts[b].Caption, 0, DT_SINGLELINE);
            buttonWidth = std::max(buttonWidth, static_cast<int>(r.right - r.left) + 8);
        }

    RECT text = measure.Calc(Message, Screen ? Screen->Width() / 2 : 320, DT_EXPANDTABS | DT_WORDBREAK);
    int textWidth = text.right - text.left, textHeight = text.bottom - text.top;
    const TTypeText &typeText = TypeTexts[Type];
    int iconTextWidth = textWidth, iconTextHeight = textHeight;
    if (typeText.Icon) {
        iconTextWidth += IconSize + horzSpacing;
        iconTextHeight = std::max(iconTextHeight, IconSize);
    }
    int buttonsWidth = buttonCount * buttonWidth + std::max(buttonCount - 1, 0) * buttonSpacing;
    int clientWidth = std::max(iconTextWidth, buttonsWidth) + 2 * horzMargin;
    int clientHeight = iconTextHeight + buttonHeight + vertSpacing + 2 * vertMargin;
    form->SetClientSize(clientWidth, clientHeight);
    form->SetCaption(typeText.Caption ? typeText.Caption : (Application ? Application->Title() : ""));

    int textLeft = horzMargin;
    if (typeText.Icon) {
        auto *image = new TMessageImage(form.get());
        image->SetName("Image");
        image->SetParent(form.get());
        image->SetBounds(horzMargin, vertMargin, IconSize, IconSize);
        try {
            image->Icon().LoadFromResourceName(GetModuleHandleA(nullptr), typeText.Icon);
        } catch (const EResNotFound &) {
            // A program built without its message icons shows the box without one.
        }
        textLeft += IconSize + horzSpacing;
    }
    auto *label = new TStaticText(form.get());
    label->SetName("Message");
    label->SetParent(form.get());
    label->SetCaption(Message);
    label->SetBounds(textLeft, vertMargin, textWidth, textHeight);

    TMsgDlgBtn defaultButton = Buttons.Contains(mbOK) ? mbOK : Buttons.Contains(mbYes) ? mbYes : mbRetry;
    TMsgDlgBtn cancelButton = Buttons.Contains(mbCancel) ? mbCancel : Buttons.Contains(mbNo) ? mbNo : mbOK;
    int x = (clientWidth - buttonsWidth) / 2;
    int y = iconTextHeight + vertSpacing + vertMargin;
    for (int b = mbYes; b <= mbHelp; ++b) {
        auto kind = static_cast<TMsgDlgBtn>(b);
        if (!Buttons.Contains(kind))
            continue;
        auto *button = new TButton(form.get());
        button->SetName(ButtonTexts[b].Name);
        button->SetParent(form.get());
        button->SetCaption(ButtonTexts[b].Caption);
        button->SetModalResult(ButtonTexts[b].ModalResult);
        button->SetBounds(x, y, buttonWidth, buttonHeight);
        if (kind == defaultButton) {
            button->SetDefault(true);
            form->SetActiveControl(button);
        }
        if (kind == cancelButton)
            button->SetCancel(true);
        if (kind == mbHelp)
            button->OnClick = MakeNotifyEvent<&TMessageForm::HelpButtonClick>(form.get());
        x += buttonWidth + buttonSpacing;
    }
    return form;
}

int AdvMessageDlgPosHelp(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons,
                         int HelpContext, int X, int Y, const std::string &HelpFileName) {
    std::unique_ptr<TMessageForm> form = CreateAdvMessageDialog(Message, Type, Buttons);
    form->SetHelpContext(HelpContext);
    form->SetHelpFile(HelpFileName);
    if (X >= 0 || Y >= 0) {
        form->SetPosition(poDesigned);
        if (X >= 0)
            form->SetLeft(X);
        if (Y >= 0)
            form->SetTop(Y);
    }
    return form->ShowModal();
}

int AdvMessageDlg(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons, int HelpContext) {
    return AdvMessageDlgPosHelp(Message, Type, Buttons, HelpContext, -1, -1, "");
}

// =============================================================================================
// Find and replace dialogs

namespace {

UINT HelpMessage() {
    static const UINT message = RegisterWindowMessageA("commdlg_help");
    return message;
}

UINT FindMessage() {
    static const UINT message = RegisterWindowMessageA("commdlg_FindReplace");
    return message;
}

// The window property that keeps a find dialog's previous window procedure: a global atom named
// after the module and the thread.
ATOM PropertyAtom = 0;

ATOM WndProcAtom() {
    if (!PropertyAtom) {
        char name[64];
        std::snprintf(name, sizeof(name), "WndProcPtr%.8lX%.8lX",
                      static_cast<unsigned long>(reinterpret_cast<uintptr_t>(GetModuleHandleA(nullptr))),
                      static_cast<unsigned long>(GetCurrentThreadId()));
        PropertyAtom = GlobalAddAtomA(name);
    }
    return PropertyAtom;
}

const char *AtomName(ATOM Atom) {
    return MAKEINTATOM(Atom);
}

// The system dialog's window procedure while it is open: the application's message loop gives
// the active dialog its keyboard navigation.
LRESULT CALLBACK FindDialogWndProc(HWND Window, UINT Msg, WPARAM WParam, LPARAM LParam) {
    auto previous = reinterpret_cast<WNDPROC>(GetPropA(Window, AtomName(WndProcAtom())));
    try {
        switch (Msg) {
        case WM_ACTIVATE:
            if (Application)
                Application->SetDialogHandle(LOWORD(WParam) != WA_INACTIVE ? Window : nullptr);
            break;
        case WM_NCACTIVATE:
            if (Application)
                Application->SetDialogHandle(WParam ? Window : nullptr);
            break;
        case WM_DESTROY:
            if (Application && Application->DialogHandle() == Window)
                Application->SetDialogHandle(nullptr);
            break;
        case WM_NCDESTROY:
            RemovePropA(Window, AtomName(WndProcAtom()));
            if (previous)
                SetWindowLongPtrA(Window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
            break;
        default:
            break;
        }
    } catch (...) {
        if (Application)
            Application->HandleException(nullptr);
    }
    return previous ? CallWindowProcA(previous, Window, Msg, WParam, LParam)
                    : DefWindowProcA(Window, Msg, WParam, LParam);
}

// The first form window of this thread: the owner of a new find dialog.
BOOL CALLBACK FindFormWindow(HWND Window, LPARAM Data) {
    if (dynamic_cast<TCustomForm *>(FindControl(Window)) && IsWindowVisible(Window)) {
        *reinterpret_cast<HWND *>(Data) = Window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectTaskWindow(HWND Window, LPARAM Data) {
    if (IsWindowVisible(Window) && IsWindowEnabled(Window))
        reinterpret_cast<std::vector<HWND> *>(Data)->push_back(Window);
    return TRUE;
}

void CopyText(char (&Buffer)[256], const std::string &Text) {
    size_t length = std::min<size_t>(Text.size(), sizeof(Buffer) - 1);
    std::memcpy(Buffer, Text.data(), length);
    Buffer[length] = 0;
}

struct TOptionFlag {
    TFindOption Option;
    DWORD Flag;
};
const TOptionFlag OptionFlags[] = {
    {frDown, FR_DOWN},
    {frFindNext, FR_FINDNEXT},
    {frHideMatchCase, FR_HIDEMATCHCASE},
    {frHideWholeWord, FR_HIDEWHOLEWORD},
    {frHideUpDown, FR_HIDEUPDOWN},
    {frMatchCase, FR_MATCHCASE},
    {frDisableMatchCase, FR_NOMATCHCASE},
    {frDisableUpDown, FR_NOUPDOWN},
    {frDisableWholeWord, FR_NOWHOLEWORD},
    {frReplace, FR_REPLACE},
    {frReplaceAll, FR_REPLACEALL},
    {frWholeWord, FR_WHOLEWORD},
    {frShowHelp, FR_SHOWHELP},
};

} // namespace

void FinalizeAdvDlgs() {
    if (PropertyAtom) {
        GlobalDeleteAtom(PropertyAtom);
        PropertyAtom = 0;
    }
}

TAdvCommonDialog::TAdvCommonDialog(TComponent *AOwner) : TComponent(AOwner) {}

void TAdvCommonDialog::WndProc(TMessage &Message) {
    if (!MessageHook(Message))
        Message.Result = 0;
}

bool TAdvCommonDialog::MessageHook(TMessage &Message) {
    if (Message.Msg == HelpMessage() && FHelpContext != 0) {
        if (Application)
            Application->HelpContext(FHelpContext);
        Message.Result = 1;
        return true;
    }
    return false;
}

bool TAdvCommonDialog::TaskModalDialog(BOOL(WINAPI *DialogFunc)(void *), void *Data) {
    HWND active = GetActiveWindow();
    std::vector<HWND> disabled;
    EnumThreadWindows(GetCurrentThreadId(), CollectTaskWindow, reinterpret_cast<LPARAM>(&disabled));
    for (HWND window : disabled)
        EnableWindow(window, FALSE);
    BOOL result = FALSE;
    try {
        result = DialogFunc(Data);
    } catch (...) {
        for (HWND window : disabled)
            EnableWindow(window, TRUE);
        throw;
    }
    for (HWND window : disabled)
        EnableWindow(window, TRUE);
    if (active && IsWindow(active))
        SetActiveWindow(active);
    return result != FALSE;
}

TAdvFindDialog::TAdvFindDialog(TComponent *AOwner) : TAdvCommonDialog(AOwner) {
    FFindReplace.lStructSize = sizeof(FFindReplace);
    FFindReplace.hInstance = GetModuleHandleA(nullptr);
    FFindReplace.lpstrFindWhat = FFindBuffer;
    FFindReplace.wFindWhatLen = sizeof(FFindBuffer);
    FFindReplace.lpstrReplaceWith = FReplaceBuffer;
    FFindReplace.wReplaceWithLen = sizeof(FReplaceBuffer);
    FFindReplace.lCustData = reinterpret_cast<LPARAM>(this);
    FFindReplace.lpfnHook = FindHook;
}

TAdvFindDialog::~TAdvFindDialog() {
    SetDestroying();
    if (FFindHandle) {
        HWND window = FFindHandle;
        FFindHandle = nullptr;
        DestroyWindow(window);
    }
    if (FRedirector) {
        FRedirector->Detach();
        FreeAndNil(FRedirector);
    }
}

void TAdvFindDialog::SetFindText(const std::string &Value) {
    FFindText = Value.substr(0, 255);
    CopyText(FFindBuffer, FFindText);
    if (FFindHandle)
        SetDlgItemTextA(FFindHandle, edt1, FFindBuffer);
}

void TAdvReplaceDialog::SetReplaceText(const std::string &Value) {
    FReplaceText = Value.substr(0, 255);
    CopyText(FReplaceBuffer, FReplaceText);
    if (FFindHandle)
        SetDlgItemTextA(FFindHandle, edt2, FReplaceBuffer);
}

TPoint TAdvFindDialog::Position() const {
    if (FFindHandle) {
        RECT r;
        GetWindowRect(FFindHandle, &r);
        return {r.left, r.top};
    }
    return FPosition;
}

void TAdvFindDialog::SetPosition(TPoint Value) {
    FPosition = Value;
    if (FFindHandle)
        SetWindowPos(FFindHandle, nullptr, Value.X, Value.Y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool TAdvFindDialog::Execute() {
    if (FFindHandle && !IsWindow(FFindHandle)) {
        // Gone with its owner, without a closing request.
        FFindHandle = nullptr;
        if (FRedirector) {
            FRedirector->Detach();
            FreeAndNil(FRedirector);
        }
    }
    if (FFindHandle) {
        SetWindowPos(FFindHandle, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
        SetActiveWindow(FFindHandle);
        return true;
    }
    DWORD flags = FR_ENABLEHOOK;
    for (const TOptionFlag &option : OptionFlags)
        if (FOptions & FindOption(option.Option))
            flags |= option.Flag;
    FFindReplace.Flags = flags;
    HWND owner = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindFormWindow, reinterpret_cast<LPARAM>(&owner));
    if (!owner && Application)
        owner = Application->Handle();
    if (FRedirector)
        FRedirector->Detach(); // the one of the last opening frees itself
    FRedirector = new TRedirectorWindow(this, owner);
    FFindReplace.hwndOwner = FRedirector->Handle();
    CopyText(FFindBuffer, FFindText);
    CopyText(FReplaceBuffer, FReplaceText);
    HWND window = CreateDialogWindow(FFindReplace);
    if (!window) {
        FreeAndNil(FRedirector);
        return false;
    }
    FFindHandle = window;
    OnShow(this);
    return true;
}

void TAdvFindDialog::CloseDialog() {
    if (FFindHandle)
        PostMessageA(FFindHandle, WM_CLOSE, 0, 0);
}

void TAdvFindDialog::DialogCreated(HWND Window) {
    FFindHandle = Window;
    // Centred on the main window's monitor, at a third of the free height.
    HWND main = Application && Application->MainForm() && Application->MainForm()->HandleAllocated()
                    ? Application->MainForm()->Handle()
                    : nullptr;
    HMONITOR monitor = main ? MonitorFromWindow(main, MONITOR_DEFAULTTOPRIMARY)
                            : MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info = {sizeof(info)};
    GetMonitorInfoA(monitor, &info);
    RECT r;
    GetWindowRect(Window, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    const RECT &work = info.rcWork;
    int x = work.left + (work.right - work.left - width) / 2;
    int y = work.top + (work.bottom - work.top - height) / 3;
    // A saved place counts only while it is on a monitor (a monitor may have gone since).
    if ((FPosition.X != -1 || FPosition.Y != -1) &&
        MonitorFromPoint({FPosition.X, FPosition.Y}, MONITOR_DEFAULTTONULL)) {
        x = FPosition.X;
        y = FPosition.Y;
    }
    SetWindowPos(Window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetPropA(Window, AtomName(WndProcAtom()),
             reinterpret_cast<HANDLE>(GetWindowLongPtrA(Window, GWLP_WNDPROC)));
    SetWindowLongPtrA(Window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FindDialogWndProc));
}

UINT_PTR CALLBACK TAdvFindDialog::FindHook(HWND Window, UINT Msg, WPARAM, LPARAM LParam) {
    if (Msg != WM_INITDIALOG)
        return 0;
    try {
        auto *record = reinterpret_cast<FINDREPLACEA *>(LParam);
        reinterpret_cast<TAdvFindDialog *>(record->lCustData)->DialogCreated(Window);
    } catch (...) {
        if (Application)
            Application->HandleException(nullptr);
    }
    return 1;
}

bool TAdvFindDialog::MessageHook(TMessage &Message) {
    if (Message.Msg != FindMessage() || reinterpret_cast<FINDREPLACEA *>(Message.LParam) != &FFindReplace)
        return TAdvCommonDialog::MessageHook(Message);
    DWORD flags = FFindReplace.Flags;
    FOptions = 0;
    for (const TOptionFlag &option : OptionFlags)
        if (flags & option.Flag)
            FOptions |= FindOption(option.Option);
    FFindText = FFindBuffer;
    FReplaceText = FReplaceBuffer;
    Message.Result = 0;
    if (flags & FR_DIALOGTERM) {
        if (FFindHandle) {
            RECT r;
            GetWindowRect(FFindHandle, &r);
            FPosition = {r.left, r.top};
        }
        FFindHandle = nullptr;
        if (FRedirector) {
            PostMessageA(FRedirector->Handle(), CM_RELEASE, 0, 0);
            FRedirector->Detach();
            FRedirector = nullptr;
        }
        OnClose(this);
    } else if (flags & FR_FINDNEXT) {
        OnFind(this);
    } else if (flags & (FR_REPLACE | FR_REPLACEALL)) {
        OnReplace(this);
    }
    return true;
}

TRedirectorWindow::TRedirectorWindow(TAdvFindDialog *ADialog, HWND AOwnerWindow)
    : TWinControl(nullptr), FFindDialog(ADialog), FOwnerWindow(AOwnerWindow) {
    FVisible = false;
}

void TRedirectorWindow::CreateParams(TCreateParams &Params) {
    TWinControl::CreateParams(Params);
    Params.Style = WS_POPUP | WS_DISABLED;
    Params.WndParent = FOwnerWindow;
}

void TRedirectorWindow::WndProc(TMessage &Message) {
    if (Message.Msg == CM_RELEASE) {
        delete this;
        return;
    }
    if (FFindDialog && FFindDialog->MessageHook(Message))
        return;
    TWinControl::WndProc(Message);
}
