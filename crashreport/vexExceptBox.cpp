#include "vexExceptBox.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "SysUtils.h"
#include "vexActions.h"
#include "vexBugReport.h"
#include "vexHandler.h"
#include "vexSettings.h"
#include "vexStrings.h"
#include "vexThreads.h"
#include "vexTools.h"

// The box is a plain window of the handler thread, not a form of the class library: it must work
// while the interface thread, which owns every form, is held or broken.

namespace {

enum TBoxButton { bbMail, bbSave, bbPrint, bbShow, bbContinue, bbRestart, bbClose, bbCount };
constexpr int CantContinueImage = 7;
constexpr const char *ButtonImages[] = {"VEIMAIL",     "VEISAVE",    "VEIPRINT", "VEISHOW",
                                        "VEICONTINUE", "VEIRESTART", "VEICLOSE", "VEICANTCONTINUE"};
constexpr UINT_PTR CountdownTimer = 777;
constexpr WPARAM FreezeEnded = 777;
constexpr int MinimumWidth = 538;
constexpr int ButtonHeight = 22;
constexpr int RowHeight = 26;
constexpr int Margin = 10;
constexpr std::size_t BitmapImageSize = 1064;

std::string Replaced(std::string Text, const std::string &What, const std::string &With) {
    ReplaceSubstring(Text, What, With, true);
    return Text;
}

std::string MessageOf(const std::exception_ptr &Object) {
    TBugReportInput input;
    DescribeReportException(Object, input);
    return input.ExceptionMessage;
}

std::string Caption(int Index) {
    const TExceptSettings &s = ExceptSettings();
    switch (Index) {
    case bbMail:
        return s.MailCaption;
    case bbSave:
        return s.SaveCaption;
    case bbPrint:
        return s.PrintCaption;
    case bbShow:
        return s.AutoShowDetails ? "" : s.ShowCaption;
    case bbContinue:
        return s.ContinueCaption;
    case bbRestart:
        return s.RestartCaption;
    case bbClose:
        return s.CloseCaption;
    }
    return "";
}

COLORREF Blend(COLORREF Color, int Delta) {
    auto channel = [&](int value) { return static_cast<BYTE>(std::clamp(value + Delta, 0, 255)); };
    return RGB(channel(GetRValue(Color)), channel(GetGValue(Color)), channel(GetBValue(Color)));
}

class TExceptionBox {
public:
    TExceptionBox(bool Frozen, const std::exception_ptr &Object, bool CanContinue, const std::string &Report)
        : FFrozen(Frozen), FObject(Object), FCanContinue(CanContinue), FReport(Report) {}
    ~TExceptionBox() {
        if (FWindow && IsWindow(FWindow))
            DestroyWindow(FWindow);
        if (FFont)
            DeleteObject(FFont);
        if (FFixedFont)
            DeleteObject(FFixedFont);
    }
    bool Create();
    void Run();
    HWND Window() const { return FWindow; }

private:
    static LRESULT CALLBACK Procedure(TExceptionBox *Self, HWND Window, UINT Message, WPARAM WParam,
                                      LPARAM LParam);
    LRESULT WindowMessage(UINT Message, WPARAM WParam, LPARAM LParam);
    void Close();
    void Command(HWND Button);
    void Timer();
    void DrawButton(const DRAWITEMSTRUCT &Item);
    void DrawImage(HDC DC, int Index, int X, int Y, COLORREF Face);
    void ShowReport();
    void StopCountdown();
    int ButtonIndex(HWND Button) const { return static_cast<int>(GetWindowLongPtrA(Button, GWLP_USERDATA)); }
    int TextWidth(const std::string &Text) const;

    bool FFrozen;
    std::exception_ptr FObject;
    bool FCanContinue;
    std::string FReport;
    HWND FWindow = nullptr;
    HWND FButtons[bbCount] = {};
    HWND FReportField = nullptr;
    HFONT FFont = nullptr, FFixedFont = nullptr;
    int FDefault = bbContinue;
    int FAutoButton = -1;
    DWORD FCountdownStart = 0;
    int FFill = 0;
    int FFullHeight = 0, FWidth = 0, FHeight = 0;
    bool FDone = false;
};

int TExceptionBox::TextWidth(const std::string &Text) const {
    HDC dc = GetDC(nullptr);
    HGDIOBJ old = SelectObject(dc, FFont);
    SIZE size = {};
    GetTextExtentPoint32A(dc, Text.c_str(), static_cast<int>(Text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(nullptr, dc);
    return size.cx;
}

bool TExceptionBox::Create() {
    const TExceptSettings &s = ExceptSettings();
    FDefault = s.DefaultButton;
    if (AutoActionDue(s.AutoClose) && !Caption(bbClose).empty())
        FAutoButton = FDefault = bbClose;
    else if (AutoActionDue(s.AutoRestart) && !Caption(bbRestart).empty())
        FAutoButton = FDefault = bbRestart;
    else if (s.AutoContinue && !Caption(bbContinue).empty() && FCanContinue)
        FAutoButton = FDefault = bbContinue;
    // A default that cannot act (continuing what cannot go on) gives way to the next way out.
    if (FDefault == bbContinue && !FCanContinue)
        FDefault = !Caption(bbClose).empty() ? bbClose : bbRestart;

    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.style = CS_CLASSDC | CS_PARENTDC;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = ExceptionBoxClass;
    RegisterClassA(&windowClass); // stays registered for later boxes

    const std::string title = Replaced(s.BoxTitle, "%appname%", ProgramBaseName());
    FWindow = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, ExceptionBoxClass, title.c_str(),
                              WS_CAPTION | WS_SYSMENU | WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, instance,
                              nullptr);
    if (!FWindow)
        return false;
    void *thunk = MakeCallThunk(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(this)),
                                reinterpret_cast<void *>(&Procedure));
    if (!thunk)
        return false;
    SetWindowLongPtrA(FWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(thunk));
    if (HMENU menu = GetSystemMenu(FWindow, FALSE)) {
        for (UINT command : {SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE, SC_SIZE})
            DeleteMenu(menu, command, MF_BYCOMMAND);
    }

    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    FFont = CreateFontA(-MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0,
                        DEFAULT_PITCH, "MS Sans Serif");
    FFixedFont = CreateFontA(-MulDiv(9, dpi, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0,
                             FIXED_PITCH, "Courier New");

    // The message and the widths that decide the layout.
    const std::string message = ExceptionBoxMessage(FFrozen, MessageOf(FObject));
    RECT textBox = {0, 0, MinimumWidth - 2 * Margin, 0};
    {
        HDC dc = GetDC(FWindow);
        HGDIOBJ old = SelectObject(dc, FFont);
        DrawTextA(dc, message.c_str(), -1, &textBox, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        SelectObject(dc, old);
        ReleaseDC(FWindow, dc);
    }
    int buttonWidth[bbCount] = {};
    for (int i = 0; i < bbCount; ++i)
        if (!Caption(i).empty())
            buttonWidth[i] = TextWidth(Caption(i)) + 16 + 3 + 16;
    const bool reportButtons =
        std::any_of(buttonWidth, buttonWidth + bbContinue, [](int w) { return w > 0; });
    const int programButtons = static_cast<int>(
        std::count_if(buttonWidth + bbContinue, buttonWidth + bbCount, [](int w) { return w > 0; }));
    const bool column = reportButtons && programButtons >= 2;
    const int columnWidth = *std::max_element(buttonWidth + bbContinue, buttonWidth + bbCount);

    const int messageTop = Margin;
    const int buttonsTop = messageTop + (textBox.bottom - textBox.top) + Margin;
    int x = Margin;
    for (int i = bbMail; i < bbContinue; ++i) {
        if (!buttonWidth[i])
            continue;
        x += buttonWidth[i] + 6;
    }
    int contentWidth = std::max<int>(textBox.right + 2 * Margin, MinimumWidth);
    if (column)
        contentWidth = std::max(contentWidth, x + 12 + columnWidth + Margin);
    int rows = 1;
    if (column)
        rows = programButtons;
    const int buttonsBottom = buttonsTop + rows * RowHeight;

    // Buttons: report buttons in a row from the left, the program buttons to their right in a
    // column of their own (or in the same row).
    x = Margin;
    int programX = column ? contentWidth - Margin - columnWidth : 0;
    int programRow = 0;
    for (int i = 0; i < bbCount; ++i) {
        if (!buttonWidth[i])
            continue;
        int left = x, top = buttonsTop, width = buttonWidth[i];
        if (i >= bbContinue && column) {
            left = programX;
            top = buttonsTop + programRow++ * RowHeight;
            width = columnWidth;
        } else {
            x += width + 6;
        }
        DWORD style =
            WS_CHILD | WS_VISIBLE | WS_TABSTOP | (s.OwnerDrawnButtons ? BS_OWNERDRAW : BS_PUSHBUTTON);
        if (i == FDefault)
            style |= BS_DEFPUSHBUTTON;
        FButtons[i] =
            CreateWindowExA(0, "Button", Caption(i).c_str(), style, left, top, width, ButtonHeight, FWindow,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(100 + i)), instance, nullptr);
        SetWindowLongPtrA(FButtons[i], GWLP_USERDATA, i);
        SendMessageA(FButtons[i], WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    }
    if (!column)
        contentWidth = std::max(contentWidth, x + Margin);
    if (!FCanContinue && FButtons[bbContinue] && (FButtons[bbRestart] || FButtons[bbClose]))
        EnableWindow(FButtons[bbContinue], FALSE);

    HWND messageLabel = CreateWindowExA(0, "Static", message.c_str(), WS_CHILD | WS_VISIBLE | SS_NOPREFIX,
                                        Margin, messageTop, contentWidth - 2 * Margin,
                                        textBox.bottom - textBox.top, FWindow, nullptr, instance, nullptr);
    SendMessageA(messageLabel, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);

    int bottom = buttonsBottom;
    if (!reportButtons && s.CopyReportOnShow) {
        CopyToClipboard(FReport);
        HWND note = CreateWindowExA(0, "Static", "The bug report was copied to the clipboard.",
                                    WS_CHILD | WS_VISIBLE | SS_NOPREFIX, Margin, bottom + 4,
                                    contentWidth - 2 * Margin, 16, FWindow, nullptr, instance, nullptr);
        SendMessageA(note, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
        bottom += 22;
    }

    // The report lies below, outside the first height; "show bug report" reveals it.
    const int reportTop = bottom + Margin;
    const int reportHeight = 300;
    const std::string reportText = FReport;
    FReportField = CreateWindowExA(WS_EX_CLIENTEDGE, "Edit", reportText.c_str(),
                                   WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                                       ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL,
                                   Margin, reportTop, contentWidth - 2 * Margin, reportHeight, FWindow,
                                   nullptr, instance, nullptr);
    SendMessageA(FReportField, WM_SETFONT, reinterpret_cast<WPARAM>(FFixedFont), FALSE);

    RECT frame = {0, 0, contentWidth, bottom + Margin};
    AdjustWindowRectEx(&frame, WS_CAPTION | WS_SYSMENU | WS_POPUP, FALSE,
                       WS_EX_DLGMODALFRAME | WS_EX_TOPMOST);
    FWidth = frame.right - frame.left;
    FHeight = frame.bottom - frame.top;
    FFullHeight = FHeight + reportHeight + Margin;
    if (s.AutoShowDetails)
        FHeight = FFullHeight;
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    SetWindowPos(FWindow, nullptr, (screenWidth - FWidth) / 2, (screenHeight - FFullHeight) / 2, FWidth,
                 FHeight, SWP_NOZORDER | SWP_NOACTIVATE);

    if (FAutoButton >= 0 && FButtons[FAutoButton]) {
        FCountdownStart = GetTickCount();
        SetTimer(FWindow, CountdownTimer, 10, nullptr);
    } else {
        FAutoButton = -1;
    }
    MessageBeep(MB_ICONHAND);
    ShowWindow(FWindow, SW_SHOW);
    if (IsIconic(FWindow))
        ShowWindow(FWindow, SW_RESTORE);
    BringWindowToTop(FWindow);
    SetForegroundWindow(FWindow);
    if (FButtons[FDefault])
        SetFocus(FButtons[FDefault]);
    if (FFrozen) {
        // The main thread's answer to this ping closes the box: the program came back by itself.
        if (UINT ping = FreezePingMessage())
            if (HWND main = ThreadHandlerWindow(ReportMainThreadId()))
                PostMessageA(main, ping, reinterpret_cast<WPARAM>(FWindow), 0);
    }
    return true;
}

void TExceptionBox::Run() {
    MSG message;
    while (!FDone && IsWindow(FWindow) && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
            message.hwnd = FWindow;
            message.message = WM_CLOSE;
            message.wParam = message.lParam = 0;
        }
        if (message.hwnd != FReportField && IsDialogMessageA(FWindow, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

LRESULT CALLBACK TExceptionBox::Procedure(TExceptionBox *Self, HWND, UINT Message, WPARAM WParam,
                                          LPARAM LParam) {
    try {
        return Self->WindowMessage(Message, WParam, LParam);
    } catch (...) {
        // Nothing may leave a window procedure.
        return 0;
    }
}

LRESULT TExceptionBox::WindowMessage(UINT Message, WPARAM WParam, LPARAM LParam) {
    switch (Message) {
    case WM_CLOSE:
        Close();
        return 0;
    case WM_NULL:
        if (WParam == FreezeEnded && LParam == static_cast<LPARAM>(FreezeEnded))
            FDone = true, DestroyWindow(FWindow);
        return 0;
    case WM_COMMAND:
        if (HIWORD(WParam) == BN_CLICKED && LParam)
            Command(reinterpret_cast<HWND>(LParam));
        return 0;
    case WM_TIMER:
        if (WParam == CountdownTimer)
            Timer();
        return 0;
    case WM_DRAWITEM:
        DrawButton(*reinterpret_cast<const DRAWITEMSTRUCT *>(LParam));
        return TRUE;
    case WM_SYSCOMMAND:
        if ((WParam & 0xFFF0) == SC_CLOSE)
            return 0;
        break;
    case WM_DESTROY:
        FDone = true;
        break;
    }
    return DefWindowProcA(FWindow, Message, WParam, LParam);
}

void TExceptionBox::Close() {
    int action = FDefault;
    if (action < bbContinue || action > bbClose || !FButtons[action] || !IsWindowEnabled(FButtons[action]))
        action = FButtons[bbContinue] && FCanContinue ? bbContinue : FButtons[bbClose] ? bbClose : bbRestart;
    if (action == bbContinue && !FCanContinue)
        action = bbClose;
    switch (action) {
    case bbRestart:
        RestartApplication();
    case bbClose:
        CloseApplication();
    default:
        FDone = true;
        DestroyWindow(FWindow);
    }
}

void TExceptionBox::StopCountdown() {
    if (FAutoButton < 0)
        return;
    KillTimer(FWindow, CountdownTimer);
    const int button = FAutoButton;
    FAutoButton = -1;
    FFill = 0;
    InvalidateRect(FButtons[button], nullptr, FALSE);
}

void TExceptionBox::Command(HWND Button) {
    StopCountdown();
    const int index = ButtonIndex(Button);
    if (index < bbCount && FButtons[index] != Button)
        return;
    if (ExceptSettings().OwnerDrawnButtons && index <= bbShow) {
        // The pressed report button flashes while the wait cursor shows.
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        for (int i = 0; i < 4; ++i) {
            SendMessageA(Button, BM_SETSTATE, TRUE, 0);
            UpdateWindow(Button);
            Sleep(50);
            SendMessageA(Button, BM_SETSTATE, FALSE, 0);
            UpdateWindow(Button);
            Sleep(50);
        }
    }
    switch (index) {
    case bbMail:
        MailBugReport(FReport, "", FWindow, false);
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        break;
    case bbSave:
        if (SaveBugReportAs(FReport, FWindow)) {
            DestroyWindow(FButtons[bbSave]);
            FButtons[bbSave] = nullptr;
            MessageBeep(MB_ICONASTERISK);
        } else {
            MessageBeep(0);
        }
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        break;
    case bbPrint:
        MessageBeep(PrintBugReport(FReport, FWindow) ? MB_ICONASTERISK : 0);
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        break;
    case bbShow:
        ShowReport();
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        break;
    case bbContinue:
        FDone = true;
        DestroyWindow(FWindow);
        break;
    case bbRestart:
        RestartApplication();
    case bbClose:
        CloseApplication();
    }
}

void TExceptionBox::ShowReport() {
    if (ExceptSettings().CopyReportOnShow)
        CopyToClipboard(FReport);
    RECT rect;
    GetWindowRect(FWindow, &rect);
    const int width = std::max<int>(rect.right - rect.left, MinimumWidth);
    const int growth = width - (rect.right - rect.left);
    SetWindowPos(FWindow, nullptr, 0, 0, width, FFullHeight, SWP_NOMOVE | SWP_NOZORDER);
    if (growth > 0)
        for (int i = bbContinue; i <= bbClose; ++i)
            if (FButtons[i]) {
                RECT button;
                GetWindowRect(FButtons[i], &button);
                MapWindowPoints(nullptr, FWindow, reinterpret_cast<POINT *>(&button), 2);
                SetWindowPos(FButtons[i], nullptr, button.left + growth, button.top, 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER);
            }
    HWND show = FButtons[bbShow];
    FButtons[bbShow] = nullptr;
    if (GetFocus() == show && FButtons[FDefault])
        SetFocus(FButtons[FDefault]);
    DestroyWindow(show);
}

void TExceptionBox::Timer() {
    if (FAutoButton < 0)
        return;
    HWND button = FButtons[FAutoButton];
    RECT rect;
    GetClientRect(button, &rect);
    const DWORD elapsed = TicksSince(FCountdownStart);
    const std::uint64_t total = static_cast<std::uint64_t>(ExceptSettings().AutoActionSeconds) * 1000;
    const int fill =
        total ? static_cast<int>((static_cast<std::uint64_t>(rect.right) * elapsed * 2 + total) / (2 * total))
              : rect.right + 1;
    if (fill != FFill) {
        FFill = fill;
        InvalidateRect(button, nullptr, FALSE);
    }
    if (fill > rect.right) {
        KillTimer(FWindow, CountdownTimer);
        FAutoButton = -1;
        PostMessageA(FWindow, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
}

void TExceptionBox::DrawImage(HDC DC, int Index, int X, int Y, COLORREF Face) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    const std::string iconName = std::string("vei") + (ButtonImages[Index] + 3);
    if (HICON icon = static_cast<HICON>(LoadImageA(instance, iconName.c_str(), IMAGE_ICON, 16, 16, 0))) {
        DrawIconEx(DC, X, Y, icon, 16, 16, 0, nullptr, DI_NORMAL);
        DestroyIcon(icon);
        return;
    }
    HRSRC resource = FindResourceA(instance, ButtonImages[Index], reinterpret_cast<LPCSTR>(RT_BITMAP));
    if (!resource || SizeofResource(instance, resource) != BitmapImageSize)
        return; // neither an icon nor a 16 x 16 bitmap with alpha: the caption alone
    const auto *bits = static_cast<const std::uint8_t *>(LockResource(LoadResource(instance, resource)));
    if (!bits)
        return;
    bits += 40;
    for (int row = 0; row < 16; ++row)
        for (int column = 0; column < 16; ++column) {
            const std::uint8_t *pixel = bits + ((15 - row) * 16 + column) * 4;
            const int alpha = pixel[3] + 1;
            auto mix = [&](int face, int value) { return (face * (256 - alpha) + value * alpha) / 256; };
            SetPixel(DC, X + column, Y + row,
                     RGB(mix(GetRValue(Face), pixel[2]), mix(GetGValue(Face), pixel[1]),
                         mix(GetBValue(Face), pixel[0])));
        }
}

void TExceptionBox::DrawButton(const DRAWITEMSTRUCT &Item) {
    const int index = ButtonIndex(Item.hwndItem);
    HDC dc = Item.hDC;
    RECT rect = Item.rcItem;
    const bool pressed = Item.itemState & ODS_SELECTED;
    const bool disabled = Item.itemState & ODS_DISABLED;
    COLORREF face = GetSysColor(COLOR_BTNFACE);
    if (GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) >= 15) {
        if (pressed)
            face = Blend(face, -24);
        else if (index == FDefault)
            face = Blend(face, 16);
    }
    HBRUSH brush = CreateSolidBrush(face);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
    if (FAutoButton == index && FFill > 0) {
        RECT filled = rect;
        filled.right = std::min<LONG>(rect.left + FFill, rect.right);
        HBRUSH fillBrush = CreateSolidBrush(Blend(GetSysColor(COLOR_HIGHLIGHT), 96));
        FillRect(dc, &filled, fillBrush);
        DeleteObject(fillBrush);
    }
    DrawEdge(dc, &rect, pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    if (index == FDefault || (Item.itemState & ODS_FOCUS))
        FrameRect(dc, &rect, GetSysColorBrush(COLOR_WINDOWFRAME));
    const int image = index == bbContinue && disabled ? CantContinueImage : index;
    DrawImage(dc, image, rect.left + 3, rect.top + 3, face);
    char caption[32] = {};
    GetWindowTextA(Item.hwndItem, caption, sizeof(caption)); // at most 31 characters
    RECT text = {rect.left + 3 + 16 + 3, rect.top, rect.right - 3, rect.bottom};
    HGDIOBJ old = SelectObject(dc, FFont);
    SetBkMode(dc, TRANSPARENT);
    if (disabled) {
        RECT shadow = text;
        OffsetRect(&shadow, 1, 1);
        SetTextColor(dc, GetSysColor(COLOR_BTNHIGHLIGHT));
        DrawTextA(dc, caption, -1, &shadow, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    } else {
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    }
    DrawTextA(dc, caption, -1, &text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, old);
}

} // namespace

std::string ExceptionBoxMessage(bool Frozen, const std::string &ExceptionMessage) {
    const TExceptSettings &s = ExceptSettings();
    std::string text = Frozen ? s.FrozenText : s.ErrorText;
    text = Replaced(text, "%exceptMsg%", ExceptionMessage + ".");
    return Replaced(text, "%LF%", "\r\n");
}

bool IsConsoleProgram() {
    const IMAGE_NT_HEADERS32 *headers = ImageNtHeaders(GetModuleHandleA(nullptr));
    return headers && headers->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

void ShowExceptionBox(bool Frozen, const std::exception_ptr &ExceptObject, void *ExceptAddr, bool CanContinue,
                      const std::string &Screenshot, const std::string &Report) {
    const TExceptSettings &s = ExceptSettings();
    if (s.ConsoleOutput && IsConsoleProgram()) {
        std::string text = ExceptionBoxMessage(Frozen, MessageOf(ExceptObject));
        if (s.AutoShowDetails || !s.ShowCaption.empty())
            text += "\r\n\r\n" + Report;
        text += "\r\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
                  nullptr);
        return;
    }
    auto box = std::make_unique<TExceptionBox>(Frozen, ExceptObject, CanContinue, Report);
    if (box->Create())
        box->Run();
}
