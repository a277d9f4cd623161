// The program's own control set.
#include "AdvCtrls.h"

#include <commctrl.h>
#include <richedit.h>
#include <windowsx.h>

#include <algorithm>

// =============================================================================================
// Colour and drawing routines

namespace {

int Red(COLORREF C) {
    return C & 0xFF;
}
int Green(COLORREF C) {
    return (C >> 8) & 0xFF;
}
int Blue(COLORREF C) {
    return (C >> 16) & 0xFF;
}

} // namespace

TColor BlendColor(TColor C1, TColor C2, int Alpha) {
    COLORREF a = ColorToRGB(C1), b = ColorToRGB(C2);
    auto mix = [Alpha](int x, int y) { return (x * Alpha + y * (255 - Alpha)) / 255; };
    return static_cast<TColor>(RGB(mix(Red(a), Red(b)), mix(Green(a), Green(b)), mix(Blue(a), Blue(b))));
}

TColor BlendColor128(TColor C1, TColor C2, int W) {
    COLORREF a = ColorToRGB(C1), b = ColorToRGB(C2);
    auto mix = [W](int x, int y) { return (x * (128 - W) + y * W) / 128; };
    return static_cast<TColor>(RGB(mix(Red(a), Red(b)), mix(Green(a), Green(b)), mix(Blue(a), Blue(b))));
}

std::unique_ptr<TBitmap> CreatePatternBitmap(TColor Color1, TColor Color2) {
    auto bitmap = std::make_unique<TBitmap>(8, 8, pf24bit);
    HDC dc = bitmap->Canvas().Handle();
    COLORREF first = ColorToRGB(Color1), second = ColorToRGB(Color2);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            SetPixelV(dc, x, y, (x + y) % 2 ? second : first);
    return bitmap;
}

void DrawPatternFrame(TCanvas &Canvas, const RECT &R, int Width, bool Invert) {
    std::unique_ptr<TBitmap> pattern;
    TBrush saved;
    saved.Assign(Canvas.Brush());
    if (Invert) {
        pattern = CreatePatternBitmap(clBlack, clWhite);
        Canvas.Brush().SetBitmap(pattern.get());
    } else {
        Canvas.Brush().SetBitmap(nullptr);
        Canvas.Brush().SetColor(clBlack);
    }
    DWORD rop = Invert ? PATINVERT : PATCOPY;
    int width = R.right - R.left, height = R.bottom - R.top;
    Canvas.PatBlt(Bounds(R.left + Width, R.top, width - Width, Width), rop);
    Canvas.PatBlt(Bounds(R.right - Width, R.top + Width, Width, height - Width), rop);
    Canvas.PatBlt(Bounds(R.left, R.bottom - Width, width - Width, Width), rop);
    Canvas.PatBlt(Bounds(R.left, R.top, Width, height - Width), rop);
    Canvas.Brush().Assign(saved);
}

void FillButtonFace(TCanvas &Canvas, const RECT &Rect, bool Checkered, TColor Color) {
    std::unique_ptr<TBitmap> checker;
    if (Checkered) {
        checker = CreatePatternBitmap(clBtnFace, clBtnHighlight);
        Canvas.Brush().SetBitmap(checker.get());
    } else {
        Canvas.Brush().SetColor(Color);
    }
    Canvas.FillRect(Rect);
    Canvas.Brush().SetBitmap(nullptr);
}

std::unique_ptr<TBitmap> CreateDisabledGlyph(TBitmap &Glyph) {
    int width = Glyph.Width(), height = Glyph.Height();
    auto result = std::make_unique<TBitmap>(width, height, pf24bit);
    if (Glyph.Empty())
        return result;
    HDC source = Glyph.Canvas().Handle();
    COLORREF transparent = GetPixel(source, 0, height - 1);
    TColor shadow = static_cast<TColor>(ColorToRGB(clBtnShadow));
    TColor face = static_cast<TColor>(ColorToRGB(clBtnFace));
    TColor highlight = static_cast<TColor>(ColorToRGB(clBtnHighlight));
    std::vector<COLORREF> pixels(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[static_cast<size_t>(y) * width + x] = GetPixel(source, x, y);
    HDC dest = result->Canvas().Handle();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            COLORREF pixel = pixels[static_cast<size_t>(y) * width + x];
            TColor out = face;
            if (pixel != transparent) {
                int grey = (Red(pixel) + Green(pixel) + Blue(pixel)) / 3;
                out = grey < 128 ? BlendColor128(shadow, face, grey)
                                 : BlendColor128(face, highlight, grey - 128);
            }
            SetPixelV(dest, x, y, ColorToRGB(out));
        }
    }
    return result;
}

// =============================================================================================
// Clipboard hooks and shared timers

namespace {
TClipboardCopyHook CopyHook;
TClipboardPasteHook PasteHook;

// The hot-tracking and menu-delay timers of the speed buttons and the buttons they serve.
TTimer *HotTimer = nullptr;
TAdvSpeedButton *HotOwner = nullptr;
TTimer *MenuTimer = nullptr;
TAdvSpeedButton *MenuOwner = nullptr;

TTimer &SharedTimer(TTimer *&Timer) {
    if (!Timer) {
        Timer = new TTimer(nullptr);
        Timer->SetEnabled(false);
    }
    return *Timer;
}

void StopTimer(TTimer *Timer, TAdvSpeedButton *&Owner) {
    if (Timer) {
        Timer->SetEnabled(false);
        Timer->SetOnTimer(nullptr);
    }
    Owner = nullptr;
}
} // namespace

void SetClipboardHooks(TClipboardCopyHook ACopyHook, TClipboardPasteHook APasteHook) {
    CopyHook = ACopyHook;
    PasteHook = APasteHook;
}

void NotifyClipboardCopy(uint8_t Kind) {
    CopyHook(Kind);
}

void QueryClipboardPaste(uint8_t Kind, bool &CanPaste) {
    if (PasteHook.Assigned())
        PasteHook(Kind, CanPaste);
}

void FreeInputTimer();
void FreeAdvEditMenu();

void FinalizeAdvCtrls() {
    FreeInputTimer();
    FreeAdvEditMenu();
    FreeAndNil(HotTimer);
    FreeAndNil(MenuTimer);
    HotOwner = MenuOwner = nullptr;
    CopyHook = nullptr;
    PasteHook = nullptr;
}

// =============================================================================================
// Help routing

namespace {
// Fires an OnHelp event with the position of a WM_HELP message.
void FireHelp(THelpPosEvent &Event, TObject *Sender, LPARAM LParam) {
    auto *info = reinterpret_cast<HELPINFO *>(LParam);
    if (info)
        Event(Sender, info->MousePos.x, info->MousePos.y);
}
} // namespace

bool RouteHelpToGraphicChild(TWinControl &Container, TMessage &Message) {
    auto *info = reinterpret_cast<HELPINFO *>(Message.LParam);
    if (!info)
        return false;
    TPoint pos = Container.ScreenToClient({info->MousePos.x, info->MousePos.y});
    for (int i = 0; i < Container.ControlCount(); ++i) {
        TControl *child = Container.Controls(i);
        if (dynamic_cast<TWinControl *>(child) || !child->Visible())
            continue;
        if (!PtInRect(child->BoundsRect(), pos))
            continue;
        LRESULT context = child->Perform(WM_HELP, 0, Message.LParam);
        if (context != 0) {
            if (Application)
                Application->HelpCommand(HELP_CONTEXTPOPUP, context);
            Message.Result = 1;
            return true;
        }
        return false;
    }
    return false;
}

// =============================================================================================
// TAdvControl, TAdvScrollControl

void TAdvControl::CreateParams(TCreateParams &Params) {
    TCustomControl::CreateParams(Params);
    Params.ClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
}

TAdvScrollControl::TAdvScrollControl(TComponent *AOwner)
    : TScrollingWinControl(AOwner), FCanvas(std::make_unique<TControlCanvas>()) {
    FCanvas->SetControl(this);
}

TAdvScrollControl::~TAdvScrollControl() {
    FCanvas->FreeHandle();
}

void TAdvScrollControl::CreateParams(TCreateParams &Params) {
    TScrollingWinControl::CreateParams(Params);
    Params.ClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
}

void TAdvScrollControl::PaintWindow(HDC DC) {
    FCanvas->FreeHandle();
    TCanvasDCScope scope(*FCanvas, DC);
    Paint();
}

// =============================================================================================
// TAdvCustomColorBox

TAdvCustomColorBox::TAdvCustomColorBox(TComponent *AOwner) : TGraphicControl(AOwner) {
    FControlStyle |= csOpaque;
    FColor = clBlack;
    FParentColor = false;
    FWidth = 33;
    FHeight = 33;
}

void TAdvCustomColorBox::SetBorderStyle(TBorderStyle Value) {
    if (Value != FBorderStyle) {
        FBorderStyle = Value;
        Invalidate();
    }
}

void TAdvCustomColorBox::SetCheckerSize(int Value) {
    if (Value != FCheckerSize && Value > 0) {
        FCheckerSize = Value;
        Invalidate();
    }
}

void TAdvCustomColorBox::SetDualView(bool Value) {
    if (Value != FDualView) {
        FDualView = Value;
        Invalidate();
    }
}

void TAdvCustomColorBox::SetOpacity(int Value) {
    Value = std::clamp(Value, 0, 255);
    if (Value != FOpacity) {
        FOpacity = Value;
        Invalidate();
    }
}

void TAdvCustomColorBox::Paint() {
    TCanvas &canvas = Canvas();
    int w = FWidth, h = FHeight;
    RECT inner;
    if (FBorderStyle == bsSingle) {
        canvas.Pen().SetColor(clBtnShadow);
        canvas.MoveTo(0, h - 2);
        canvas.LineTo(0, 0);
        canvas.LineTo(w - 1, 0);
        canvas.Pen().SetColor(clBtnHighlight);
        canvas.LineTo(w - 1, h - 1);
        canvas.LineTo(-1, h - 1);
        canvas.Pen().SetColor(cl3DDkShadow);
        canvas.MoveTo(1, h - 3);
        canvas.LineTo(1, 1);
        canvas.LineTo(w - 2, 1);
        canvas.Pen().SetColor(cl3DLight);
        canvas.LineTo(w - 2, h - 2);
        canvas.LineTo(0, h - 2);
        inner = Rect(2, 2, w - 2, h - 2);
    } else {
        canvas.Brush().SetColor(clBlack);
        canvas.FrameRect(Rect(0, 0, w, h));
        inner = Rect(1, 1, w - 1, h - 1);
    }
    if (inner.right <= inner.left || inner.bottom <= inner.top)
        return;
    if (!FEnabled) {
        canvas.Brush().SetColor(clBtnFace);
        canvas.FillRect(inner);
        return;
    }
    RECT checker = inner;
    if (FDualView) {
        canvas.Brush().SetColor(FColor);
        canvas.FillRect(Rect(inner.left, inner.top, w / 2, inner.bottom));
        checker.left = w / 2;
    }
    int width = checker.right - checker.left, height = checker.bottom - checker.top;
    if (width <= 0 || height <= 0)
        return;
    TColor light = BlendColor(FColor, clWhite, FOpacity);
    TColor dark = BlendColor(FColor, clSilver, FOpacity);
    // Drawn off-screen and copied in one step, so that the box never flickers.
    TBitmap image(width, height, pf24bit);
    TCanvas &target = image.Canvas();
    for (int j = 0; j * FCheckerSize < height; ++j)
        for (int i = 0; i * FCheckerSize < width; ++i) {
            target.Brush().SetColor((i + j) % 2 ? dark : light);
            target.FillRect(Bounds(i * FCheckerSize, j * FCheckerSize, FCheckerSize, FCheckerSize));
        }
    BitBlt(canvas.Handle(), checker.left, checker.top, width, height, target.Handle(), 0, 0, SRCCOPY);
}

void TAdvCustomColorBox::WndProc(TMessage &Message) {
    if (Message.Msg == WM_HELP) {
        FireHelp(OnHelp, this, Message.LParam);
        Message.Result = FHelpContext;
        return;
    }
    TGraphicControl::WndProc(Message);
}

// =============================================================================================
// TAdvSpeedButton

TAdvSpeedButton::TAdvSpeedButton(TComponent *AOwner) : TSpeedButton(AOwner) {
    FWidth = 24;
    FHeight = 24;
    FFlat = true;
}

TAdvSpeedButton::~TAdvSpeedButton() {
    SetHot(false);
    if (MenuOwner == this)
        StopTimer(MenuTimer, MenuOwner);
    if (FMenu)
        FMenu->RemoveFreeNotification(this);
}

void TAdvSpeedButton::SetMenu(TPopupMenu *Value) {
    SetComponentReference(this, FMenu, Value);
    Invalidate();
}

void TAdvSpeedButton::Notification(TComponent *AComponent, TOperation Operation) {
    TSpeedButton::Notification(AComponent, Operation);
    if (Operation == opRemove && AComponent == FMenu)
        FMenu = nullptr;
}

bool TAdvSpeedButton::PointerInside() {
    if (!FParent || !FParent->HandleAllocated() || !FVisible || !FEnabled || !FParent->Visible() ||
        !FParent->Enabled())
        return false;
    TPoint pos = ScreenToClient(Mouse.CursorPos());
    return PtInRect(ClientRect(), pos);
}

void TAdvSpeedButton::SetHot(bool Value) {
    if (Value == FHot) {
        return;
    }
    if (Value) {
        // The timer serves one button: the one it served before leaves its hot state first.
        if (HotOwner && HotOwner != this)
            HotOwner->HotTimerTick(HotTimer);
        FHot = true;
        TTimer &timer = SharedTimer(HotTimer);
        timer.SetEnabled(false);
        timer.SetInterval(200);
        timer.SetOnTimer(MakeNotifyEvent<&TAdvSpeedButton::HotTimerTick>(this));
        HotOwner = this;
        timer.SetEnabled(true);
    } else {
        FHot = false;
        if (HotOwner == this)
            StopTimer(HotTimer, HotOwner);
    }
    Invalidate();
}

void TAdvSpeedButton::HotTimerTick(TObject *) {
    if (!PointerInside())
        SetHot(false);
}

void TAdvSpeedButton::MouseMove(TShiftState Shift, int X, int Y) {
    TSpeedButton::MouseMove(Shift, X, Y);
    SetHot(PointerInside());
}

void TAdvSpeedButton::MenuTimerTick(TObject *) {
    StopTimer(MenuTimer, MenuOwner);
    if (FMenuState == 1 && (FControlState & csLButtonDown))
        DropDown();
}

void TAdvSpeedButton::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TSpeedButton::MouseDown(Button, Shift, X, Y);
    if (!FMenu || !FEnabled)
        return;
    FMenuState = 1;
    if (Button == mbRight) {
        Repaint();
        DropDown();
    } else if (Button == mbLeft) {
        if (!OnClick.Assigned()) {
            DropDown();
        } else {
            TTimer &timer = SharedTimer(MenuTimer);
            timer.SetEnabled(false);
            timer.SetInterval(350);
            timer.SetOnTimer(MakeNotifyEvent<&TAdvSpeedButton::MenuTimerTick>(this));
            MenuOwner = this;
            timer.SetEnabled(true);
        }
    }
}

void TAdvSpeedButton::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    if (FMenuState == 1)
        FMenuState = 0;
    if (MenuOwner == this)
        StopTimer(MenuTimer, MenuOwner);
    TSpeedButton::MouseUp(Button, Shift, X, Y);
}

void TAdvSpeedButton::Click() {
    if (FMenuState == 2)
        return;
    if (MenuOwner == this)
        StopTimer(MenuTimer, MenuOwner);
    TSpeedButton::Click();
}

void TAdvSpeedButton::DropDown() {
    if (!FMenu)
        return;
    FMenuState = 2;
    // The button is released first; the click that brings is not run while the menu shows.
    Perform(WM_LBUTTONUP, 0, MAKELPARAM(0, 0));
    FMenu->SetPopupComponent(this);
    int x = 0;
    switch (FMenu->Alignment()) {
    case paLeft:
        x = 0;
        break;
    case paCenter:
        x = FWidth / 2;
        break;
    case paRight:
        x = FWidth;
        break;
    }
    TPoint pos = ClientToScreen({x, FHeight});
    try {
        FMenu->Popup(pos.X, pos.Y);
    } catch (...) {
        FMenuState = 0;
        Repaint();
        throw;
    }
    FMenuState = 0;
    Repaint();
}

void TAdvSpeedButton::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case CM_MOUSEENTER:
    case CM_MOUSELEAVE:
        // Hot tracking follows the pointer by itself.
        return;
    case CM_DRAG: {
        TSpeedButton::WndProc(Message);
        bool highlight = FDragHighlight;
        if (Message.WParam == dmDragEnter)
            highlight = Message.Result != 0;
        else if (Message.WParam == dmDragLeave || Message.WParam == dmDragDrop)
            highlight = false;
        if (highlight != FDragHighlight) {
            FDragHighlight = highlight;
            Invalidate();
        }
        return;
    }
    case WM_HELP:
        FireHelp(OnHelp, this, Message.LParam);
        Message.Result = FHelpContext;
        return;
    default:
        break;
    }
    TSpeedButton::WndProc(Message);
}

// A button without a picture shows its caption (greyed while disabled).
void TAdvSpeedButton::DrawCaption(TCanvas &Target, RECT Rect, bool Enabled) {
    const std::string caption = Caption();
    if (caption.empty())
        return;
    Target.Font().Assign(Font());
    Target.Font().SetColor(Enabled ? Font().Color() : clGrayText);
    Target.Brush().SetStyle(bsClear);
    Target.TextRect(Rect, caption, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void TAdvSpeedButton::Paint() {
    TCanvas &canvas = Canvas();
    int w = FWidth, h = FHeight;
    TButtonState state = FState;
    if (state == bsDisabled)
        state = FDown && FGroupIndex != 0 ? bsExclusive : bsUp;
    bool pressed = state == bsDown || state == bsExclusive || FMenuState != 0;
    if (!FEnabled) {
        canvas.Brush().SetColor(FColor);
        canvas.FillRect(Rect(0, 0, w, h));
        if (!FGlyph->Empty()) {
            auto disabled = CreateDisabledGlyph(*FGlyph);
            canvas.Draw((w - disabled->Width()) / 2, (h - disabled->Height()) / 2, *disabled);
        } else {
            DrawCaption(canvas, Rect(0, 0, w, h), false);
        }
        return;
    }
    TBitmap image(w, h, pf24bit);
    TCanvas &target = image.Canvas();
    RECT r = Rect(0, 0, w, h);
    if (pressed || FHot)
        DrawEdge(target.Handle(), &r, pressed ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT | BF_ADJUST);
    FillButtonFace(target, r, state == bsExclusive && !FHot, FColor);
    if (!FGlyph->Empty()) {
        int gw = FGlyph->Width(), gh = FGlyph->Height();
        int x = (w - gw) / 2 + (pressed ? 1 : 0), y = (h - gh) / 2 + (pressed ? 1 : 0);
        HDC source = FGlyph->Canvas().Handle();
        COLORREF transparent = GetPixel(source, 0, gh - 1);
        HDC dest = target.Handle();
        for (int gy = 0; gy < gh; ++gy)
            for (int gx = 0; gx < gw; ++gx) {
                COLORREF pixel = GetPixel(source, gx, gy);
                if (pixel != transparent)
                    SetPixelV(dest, x + gx, y + gy, pixel);
            }
    } else {
        RECT text = Rect(0, 0, w, h);
        if (pressed)
            OffsetRect(&text, 1, 1);
        DrawCaption(target, text, true);
    }
    if (OnClick.Assigned() && FMenu) {
        target.Brush().SetColor(clBtnHighlight);
        target.Pen().SetColor(clBtnShadow);
        target.Polygon({{w - 6, h - 1}, {w - 1, h - 1}, {w - 1, h - 6}});
    }
    if (FDragHighlight)
        DrawPatternFrame(target, Rect(0, 0, w, h), 2, true);
    BitBlt(canvas.Handle(), 0, 0, w, h, target.Handle(), 0, 0, SRCCOPY);
}

// =============================================================================================
// TAdvLabel

TAdvLabel::TAdvLabel(TComponent *AOwner) : TLabel(AOwner) {
    FAutoSize = false;
    FHeight = 17;
}

void TAdvLabel::SetClipStyle(TClipStyle Value) {
    if (Value != FClipStyle) {
        FClipStyle = Value;
        Invalidate();
    }
}

void TAdvLabel::DoDrawText(RECT &Rect, UINT Flags) {
    static const UINT clips[] = {0, DT_END_ELLIPSIS, DT_PATH_ELLIPSIS};
    TLabel::DoDrawText(Rect, Flags | clips[FClipStyle]);
}

void TAdvLabel::WndProc(TMessage &Message) {
    if (Message.Msg == WM_HELP) {
        FireHelp(OnHelp, this, Message.LParam);
        Message.Result = FHelpContext;
        return;
    }
    if (Message.Msg == CM_DIALOGCHAR) {
        bool fired = false;
        if (OnSetFocus.Assigned() && FParent && FParent->CanFocus() && FEnabled && FShowAccelChar &&
            IsAccel(static_cast<char>(Message.WParam), FText)) {
            OnSetFocus(this);
            fired = true;
        }
        TLabel::WndProc(Message);
        if (fired)
            Message.Result = 1;
        return;
    }
    TLabel::WndProc(Message);
}

// =============================================================================================
// Buttons

void TAdvButton::WndProc(TMessage &Message) {
    if (Message.Msg == CM_DIALOGKEY && !FUseDialogKeys) {
        Message.Result = 0;
        return;
    }
    TButton::WndProc(Message);
}

void TAdvCheckBox::WndProc(TMessage &Message) {
    if (Message.Msg == WM_HELP)
        FireHelp(OnHelp, this, Message.LParam);
    TCheckBox::WndProc(Message);
}

void TAdvRadioButton::WndProc(TMessage &Message) {
    if (Message.Msg == WM_HELP)
        FireHelp(OnHelp, this, Message.LParam);
    TRadioButton::WndProc(Message);
}

// =============================================================================================
// TAdvListBox, TAdvCheckListBox

TAdvListBox::TAdvListBox(TComponent *AOwner) : TListBox(AOwner) {
    ApplyDefaultColor();
}

void TAdvListBox::SetDefaultColor(bool Value) {
    FDefaultColor = Value;
    ApplyDefaultColor();
}

void TAdvListBox::ApplyDefaultColor() {
    if (!FDefaultColor)
        return;
    TColor color = FEnabled ? clWindow : clBtnFace;
    if (color != FColor)
        SetColor(color);
}

void TAdvListBox::CreateWnd() {
    TListBox::CreateWnd();
    EnableScrollBar(FHandle, SB_BOTH, FEnabled ? ESB_ENABLE_BOTH : ESB_DISABLE_BOTH);
}

void TAdvListBox::DoMouseAllow(TShiftState Shift, int X, int Y, bool &Allow) {
    OnMouseAllow(this, Shift, X, Y, Allow);
}

void TAdvListBox::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_LBUTTONDOWN: {
        bool allow = true;
        DoMouseAllow(KeysToShiftState(Message.WParam), GET_X_LPARAM(Message.LParam),
                     GET_Y_LPARAM(Message.LParam), allow);
        if (!allow)
            return; // swallowed: the selection stays
        break;
    }
    case CM_ENABLEDCHANGED:
        TListBox::WndProc(Message);
        if (FHandle)
            EnableScrollBar(FHandle, SB_BOTH, FEnabled ? ESB_ENABLE_BOTH : ESB_DISABLE_BOTH);
        ApplyDefaultColor();
        return;
    case CM_COLORCHANGED:
        TListBox::WndProc(Message);
        ApplyDefaultColor();
        return;
    default:
        break;
    }
    TListBox::WndProc(Message);
}

void TAdvCheckListBox::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: {
        bool allow = true;
        OnClickingCheck(this, allow);
        if (!allow)
            return;
        break;
    }
    default:
        break;
    }
    TCheckListBox::WndProc(Message);
}

// =============================================================================================
// TAdvPanel, TAdvGroupBox

void TAdvPanel::SetPaintInterior(bool Value) {
    if (Value != FPaintInterior) {
        FPaintInterior = Value;
        Invalidate();
    }
}

void TAdvPanel::CreateParams(TCreateParams &Params) {
    TPanel::CreateParams(Params);
    Params.ExStyle &= ~WS_EX_CONTROLPARENT;
    Params.ClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
}

void TAdvPanel::Paint() {
    if (FPaintInterior)
        TPanel::Paint();
    if (!Destroying())
        OnPaint(this);
}

namespace {
// Takes the newest of the pointer moves waiting for the window, so that slow handlers do not
// fall behind the pointer.
void CoalesceMouseMove(HWND Window, TMessage &Message) {
    MSG next;
    while (PeekMessageA(&next, Window, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_REMOVE)) {
        Message.WParam = next.wParam;
        Message.LParam = next.lParam;
    }
}
} // namespace

void TAdvPanel::WndProc(TMessage &Message) {
    if (Message.Msg == WM_MOUSEMOVE && FHandle)
        CoalesceMouseMove(FHandle, Message);
    if (Message.Msg == WM_HELP) {
        TPanel::WndProc(Message);
        RouteHelpToGraphicChild(*this, Message);
        return;
    }
    TPanel::WndProc(Message);
}

void TAdvGroupBox::CreateParams(TCreateParams &Params) {
    TGroupBox::CreateParams(Params);
    Params.ExStyle &= ~WS_EX_CONTROLPARENT;
}

void TAdvGroupBox::WndProc(TMessage &Message) {
    if (Message.Msg == WM_HELP) {
        TGroupBox::WndProc(Message);
        RouteHelpToGraphicChild(*this, Message);
        return;
    }
    TGroupBox::WndProc(Message);
}

// =============================================================================================
// TAdvGroup

TAdvGroup::TAdvGroup(TComponent *AOwner) : TAdvScrollControl(AOwner) {
    FControlStyle |= csAcceptsControls | csOpaque;
    FWidth = 65;
    FHeight = 49;
    FAutoScroll = false;
    FVertScrollBar->SetTracking(true);
}

void TAdvGroup::CreateParams(TCreateParams &Params) {
    TAdvScrollControl::CreateParams(Params);
    Params.ExStyle &= ~WS_EX_CONTROLPARENT;
}

void TAdvGroup::SetMargin(int Value) {
    if (Value != FMargin) {
        FMargin = Value;
        Invalidate();
    }
}

void TAdvGroup::UpdateScrollRange() {
    int bottom = 0;
    for (int i = 0; i < ControlCount(); ++i)
        bottom = std::max(bottom, Controls(i)->Top() + Controls(i)->Height());
    int range = bottom + FVertScrollBar->Position() + FVertScrollBar->Margin();
    if (range != FVertScrollBar->Range())
        FVertScrollBar->SetRange(range);
}

void TAdvGroup::AlignControls(TControl *AControl, RECT &Rect) {
    UpdateScrollRange();
    TAdvScrollControl::AlignControls(AControl, Rect);
}

void TAdvGroup::Resize() {
    UpdateScrollRange();
    if (!Destroying())
        OnResize(this);
}

void TAdvGroup::Paint() {
    Canvas().Brush().SetColor(clBtnFace);
    Canvas().FillRect(ClientRect());
    // The tiled bevel along the top edge.
    RECT r = ClientRect();
    DrawEdge(Canvas().Handle(), &r, EDGE_ETCHED, BF_TOP);
}

void TAdvGroup::WndProc(TMessage &Message) {
    if (Message.Msg == WM_HELP) {
        TAdvScrollControl::WndProc(Message);
        RouteHelpToGraphicChild(*this, Message);
        return;
    }
    TAdvScrollControl::WndProc(Message);
}

// =============================================================================================
// TAdvSplitter, TAdvPageControl

bool TAdvSplitter::CanResize(int &NewSize) {
    if (NewSize <= FMinSize && !FCanDisappear) {
        NewSize = FMinSize + 1;
        return true;
    }
    return TSplitter::CanResize(NewSize);
}

void TAdvPageControl::FreePageHandles(TTabSheet *Page) {
    if (!Page)
        return;
    for (int i = 0; i < Page->ControlCount(); ++i)
        if (auto *control = dynamic_cast<TWinControl *>(Page->Controls(i)))
            control->DestroyHandle();
}

bool TAdvPageControl::CanChange() {
    bool allow = TPageControl::CanChange();
    if (allow)
        FreePageHandles(FActivePage);
    return allow;
}

void TAdvPageControl::WndProc(TMessage &Message) {
    TPageControl::WndProc(Message);
    if (Message.Msg == WM_PAINT && !FFirstPaintDone) {
        FFirstPaintDone = true;
        for (TTabSheet *page : FPages)
            if (page != FActivePage)
                FreePageHandles(page);
    }
}

// =============================================================================================
// TAdvTreeView, TAdvListView

void TAdvTreeView::DragOver(TObject *Source, int X, int Y, TDragState State, bool &Accept) {
    Accept = true;
    OnDragOver(this, Source, X, Y, State, Accept);
}

void TAdvTreeView::DoStartDrag(TDragObject *&DragObject) {
    TTreeView::DoStartDrag(DragObject);
    FDragAllowed = DragObject != nullptr;
}

void TAdvTreeView::DoEndDrag(TObject *Target, int X, int Y) {
    TTreeView::DoEndDrag(Target, X, Y);
    FDragNode = nullptr;
}

void TAdvTreeView::WndProc(TMessage &Message) {
    if (Message.Msg == CN_NOTIFY && reinterpret_cast<NMHDR *>(Message.LParam)->code == TVN_BEGINDRAGA) {
        FTreeBeganDrag = true;
        return;
    }
    if (Message.Msg == WM_LBUTTONDOWN && FDragMode == dmAutomatic) {
        int x = GET_X_LPARAM(Message.LParam), y = GET_Y_LPARAM(Message.LParam);
        FTreeBeganDrag = false;
        SendMessageA(FHandle, WM_CANCELMODE, 0, 0);
        DefaultHandler(Message); // the tree detects a drag by itself
        if (!(FControlStyle & csNoStdEvents))
            MouseDown(mbLeft, KeysToShiftState(Message.WParam), x, y);
        if (FTreeBeganDrag) {
            FDragNode = GetNodeAt(x, y);
            BeginDrag(true);
        } else {
            // The tree's own detection took the release.
            TPoint pos = ScreenToClient(Mouse.CursorPos());
            SendMessageA(FHandle, WM_LBUTTONUP, 0, MAKELPARAM(pos.X, pos.Y));
        }
        return;
    }
    TTreeView::WndProc(Message);
}

void TAdvListView::DragOver(TObject *Source, int X, int Y, TDragState State, bool &Accept) {
    Accept = true;
    OnDragOver(this, Source, X, Y, State, Accept);
}

void TAdvListView::DoStartDrag(TDragObject *&DragObject) {
    TListView::DoStartDrag(DragObject);
    FDragAllowed = DragObject != nullptr;
}

void TAdvListView::WndProc(TMessage &Message) {
    if (Message.Msg == LVM_SETCOLUMNA || Message.Msg == LVM_INSERTCOLUMNA) {
        auto *column = reinterpret_cast<LVCOLUMNA *>(Message.LParam);
        if (column && (column->mask & LVCF_IMAGE) && column->iImage == -1) {
            column->mask &= ~LVCF_IMAGE;
            column->fmt &= ~LVCFMT_IMAGE;
        }
    }
    TListView::WndProc(Message);
}

// =============================================================================================
// TAdvRichEdit

namespace {
constexpr UINT ApplyFormatRectMessage = WM_APP + 0x402;
}

void TAdvRichEdit::CreateWnd() {
    TRichEdit::CreateWnd();
    if (FGutter >= 1)
        PostMessageA(FHandle, ApplyFormatRectMessage, 0, 0);
}

void TAdvRichEdit::ApplyFormatRect() {
    if (!FHandle)
        return;
    RECT client = ClientRect();
    RECT r = {FGutter, 0, client.right, client.bottom};
    SendMessageA(FHandle, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&r));
}

void TAdvRichEdit::SetGutter(int Value) {
    if (Value == FGutter)
        return;
    FGutter = Value;
    ApplyFormatRect();
    Invalidate();
}

void TAdvRichEdit::ReplaceSelection(const std::string &Text) {
    SendMessageA(Handle(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(Text.c_str()));
}

void TAdvRichEdit::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case ApplyFormatRectMessage:
        ApplyFormatRect();
        return;
    case WM_SIZE:
        TRichEdit::WndProc(Message);
        ApplyFormatRect();
        return;
    case WM_COPY:
    case WM_CUT:
        TRichEdit::WndProc(Message);
        NotifyClipboardCopy(ckPlainText);
        return;
    case WM_PAINT: {
        TRichEdit::WndProc(Message);
        if (FGutter > 0 && FHandle) {
            HDC dc = GetDC(FHandle);
            TCanvas canvas;
            canvas.SetHandle(dc);
            int height = ClientHeight();
            canvas.Brush().SetColor(clBtnFace);
            canvas.FillRect(Rect(0, 0, FGutter - 4, height));
            canvas.Pen().SetColor(clBtnHighlight);
            canvas.MoveTo(FGutter - 4, 0);
            canvas.LineTo(FGutter - 4, height);
            canvas.Pen().SetColor(clBtnShadow);
            canvas.MoveTo(FGutter - 3, 0);
            canvas.LineTo(FGutter - 3, height);
            canvas.SetHandle(nullptr);
            ReleaseDC(FHandle, dc);
        }
        return;
    }
    default:
        break;
    }
    TRichEdit::WndProc(Message);
}

// =============================================================================================
// TAdvStatusBar

void TAdvStatusBar::CreateParams(TCreateParams &Params) {
    TStatusBar::CreateParams(Params);
    Params.ClassStyle &= ~(CS_HREDRAW | CS_VREDRAW);
}

void TAdvStatusBar::WndProc(TMessage &Message) {
    TStatusBar::WndProc(Message);
    if (Message.Msg == WM_SIZE && FHandle) {
        // The size grip sits in the square at the right end, old and new.
        int side = FHeight;
        RECT oldGrip = {FLastWidth - side, 0, FLastWidth, side};
        RECT newGrip = {FWidth - side, 0, FWidth, side};
        InvalidateRect(FHandle, &oldGrip, TRUE);
        InvalidateRect(FHandle, &newGrip, TRUE);
        FLastWidth = FWidth;
    }
}

// =============================================================================================
// Delayed-input edits, combo boxes and memos

namespace {
// The timer of the delayed inputs, shared by every edit and combo box; its handler points at
// the control that started it last.
TTimer *InputTimer = nullptr;

} // namespace

void AnswerControlColor(TWinControl &Control, TMessage &Message, TColor Background) {
    HDC dc = reinterpret_cast<HDC>(Message.WParam);
    SetTextColor(dc, ColorToRGB(Control.Font().Color()));
    SetBkColor(dc, ColorToRGB(Background));
    Control.Brush().SetColor(Background);
    Message.Result = reinterpret_cast<LRESULT>(Control.Brush().Handle());
}

void FreeInputTimer() {
    FreeAndNil(InputTimer);
}

TColor DefaultBackground(bool DefaultColor, bool Enabled, bool ReadOnly, TColor Color) {
    if (!DefaultColor)
        return Color;
    return Enabled && !ReadOnly ? clWindow : clBtnFace;
}

TDelayedInput::TDelayedInput(TWinControl &Control, bool RevalidateOnTimer, bool CancelWhenUnfocused)
    : FInputControl(Control), FRevalidateOnTimer(RevalidateOnTimer),
      FCancelWhenUnfocused(CancelWhenUnfocused) {}

TDelayedInput::~TDelayedInput() {
    ReleaseTimer();
}

bool TDelayedInput::TimerOwned() const {
    auto *self = const_cast<TDelayedInput *>(this);
    return InputTimer && InputTimer->OnTimer() == MakeNotifyEvent<&TDelayedInput::InputTimerFired>(self);
}

void TDelayedInput::ReleaseTimer() {
    if (!TimerOwned())
        return;
    InputTimer->SetEnabled(false);
    InputTimer->SetOnTimer(nullptr);
}

bool TDelayedInput::Validate() {
    bool valid = true;
    OnValidate(&FInputControl, valid);
    return valid;
}

void TDelayedInput::DoInput() {
    FLastText = FInputControl.Text();
    OnInput(&FInputControl);
}

void TDelayedInput::InputChanged() {
    if (FCancelWhenUnfocused)
        ReleaseTimer();
    if (FRestoring || !HasInputFocus() || FDelay < 0 || !Validate())
        return;
    if (FDelay == 0) {
        DoInput();
        return;
    }
    if (!InputTimer)
        InputTimer = new TTimer(nullptr);
    // Taking the timer drops whatever input another control had pending.
    InputTimer->SetEnabled(false);
    InputTimer->SetInterval(static_cast<UINT>(FDelay));
    InputTimer->SetOnTimer(MakeNotifyEvent<&TDelayedInput::InputTimerFired>(this));
    InputTimer->SetEnabled(true);
}

void TDelayedInput::InputTimerFired(TObject *) {
    ReleaseTimer();
    if (!FRevalidateOnTimer || Validate())
        DoInput();
}

void TDelayedInput::Accept() {
    // The input is reported now: a pending timed one would repeat it.
    ReleaseTimer();
    if (!Validate()) {
        // Putting the old text back is no new input.
        FRestoring = true;
        try {
            FInputControl.SetText(FLastText);
        } catch (...) {
            FRestoring = false;
            throw;
        }
        FRestoring = false;
    }
    DoInput();
}

// ---------------------------------------------------------------------------------------------

TAdvEdit::TAdvEdit(TComponent *AOwner) : TDefaultColored<TEdit>(AOwner), TDelayedInput(*this, true, false) {}

void TAdvEdit::Change() {
    TEdit::Change();
    InputChanged();
}

void TAdvEdit::DoExit() {
    Accept();
    TEdit::DoExit();
}

void TAdvEdit::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_KEYDOWN:
        TDefaultColored<TEdit>::WndProc(Message);
        if (Message.WParam == VK_RETURN) {
            Accept();
            SelectAll();
        }
        return;
    case WM_CHAR:
        if (Message.WParam == '\r')
            return; // taken by the key-down: no beep of the single-line edit
        break;
    case CM_TEXTCHANGED:
        TDefaultColored<TEdit>::WndProc(Message);
        TextChanged();
        return;
    case WM_HELP:
        FireHelp(OnHelp, this, Message.LParam);
        break;
    case WM_RBUTTONUP:
        if (!PopupMenu()) {
            // Shown here, so the release raises no second context request.
            TPoint at = ClientToScreen({GET_X_LPARAM(Message.LParam), GET_Y_LPARAM(Message.LParam)});
            PopupAdvEditMenu(this, at.X, at.Y);
            return;
        }
        break;
    default:
        break;
    }
    TDefaultColored<TEdit>::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------

TAdvComboBox::TAdvComboBox(TComponent *AOwner)
    : TDefaultColored<TComboBox>(AOwner), TDelayedInput(*this, false, true) {
    FSavedItemHeight = TComboBox::ItemHeight();
}

void TAdvComboBox::SetDropDownOwnerDraw(bool Value) {
    if (Value == FDropDownOwnerDraw)
        return;
    FDropDownOwnerDraw = Value;
    RecreateWnd();
}

bool TAdvComboBox::HasInputFocus() {
    HWND focus = GetFocus();
    return focus && (focus == FHandle || focus == FEditHandle || focus == FListHandle);
}

int TAdvComboBox::ItemIndex() {
    return TComboBox::ItemIndex();
}

void TAdvComboBox::SetItemIndex(int Value) {
    if (Value != ItemIndex())
        TComboBox::SetItemIndex(Value);
}

int TAdvComboBox::ItemHeight() {
    return FDropDownOwnerDraw ? FSavedItemHeight : TComboBox::ItemHeight();
}

void TAdvComboBox::SetItemHeight(int Value) {
    TComboBox::SetItemHeight(Value);
    if (Value == FSavedItemHeight)
        return;
    FSavedItemHeight = Value;
    if (Value >= 1 && FDropDownOwnerDraw && FHandle)
        SendMessageA(FHandle, CB_SETITEMHEIGHT, 0, Value);
}

void TAdvComboBox::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
    bool was = FInResize;
    FInResize = true;
    try {
        TComboBox::SetBounds(ALeft, ATop, AWidth, AHeight);
    } catch (...) {
        FInResize = was;
        throw;
    }
    FInResize = was;
}

void TAdvComboBox::CreateParams(TCreateParams &Params) {
    TComboBox::CreateParams(Params);
    if (FStyle == csDropDown && FDropDownOwnerDraw)
        Params.Style |= CBS_OWNERDRAWFIXED;
}

void TAdvComboBox::CreateWnd() {
    TComboBox::CreateWnd();
    if (FDropDownOwnerDraw && FSavedItemHeight >= 1)
        SendMessageA(FHandle, CB_SETITEMHEIGHT, 0, FSavedItemHeight);
}

LRESULT TAdvComboBox::SendToEdit(UINT Msg) {
    return FEditHandle ? SendMessageA(FEditHandle, Msg, 0, 0) : 0;
}

void TAdvComboBox::Undo() {
    SendToEdit(EM_UNDO);
}

bool TAdvComboBox::CanUndo() {
    return SendToEdit(EM_CANUNDO) != 0;
}

void TAdvComboBox::CutToClipboard() {
    SendToEdit(WM_CUT);
}

void TAdvComboBox::CopyToClipboard() {
    SendToEdit(WM_COPY);
}

void TAdvComboBox::PasteFromClipboard() {
    SendToEdit(WM_PASTE);
}

void TAdvComboBox::ClearSelection() {
    SendToEdit(WM_CLEAR);
}

void TAdvComboBox::Change() {
    TComboBox::Change();
    InputChanged();
}

void TAdvComboBox::Click() {
    TComboBox::Click();
    if (Delay() < 0)
        DoInput();
}

void TAdvComboBox::CloseUp() {
    TComboBox::CloseUp();
    if (!OnClose.Assigned())
        return;
    // A list closed with nothing chosen leaves the text alone.
    int index = ItemIndex();
    if (index >= 0 && index < Items().Count())
        SetText(Items().Strings(index));
    OnClose(this);
}

void TAdvComboBox::DoExit() {
    Accept();
    TComboBox::DoExit();
}

void TAdvComboBox::ComboWndProc(TMessage &Message, HWND ChildWindow, bool &Handled) {
    switch (Message.Msg) {
    case WM_SETTEXT:
    case EM_SETSEL:
        // Resizing must neither replace nor select the text of the edit field.
        if (FInResize) {
            Message.Result = 0;
            Handled = true;
            return;
        }
        break;
    case WM_COPY:
    case WM_CUT:
        Message.Result = DefSubclassProc(ChildWindow, Message.Msg, Message.WParam, Message.LParam);
        Handled = true;
        NotifyClipboardCopy(ckPlainText);
        return;
    case WM_KEYDOWN:
        if (Message.WParam == VK_RETURN && ChildWindow == FEditHandle) {
            TComboBox::ComboWndProc(Message, ChildWindow, Handled);
            if (Handled)
                return;
            Message.Result = DefSubclassProc(ChildWindow, Message.Msg, Message.WParam, Message.LParam);
            Handled = true;
            Accept();
            SelectAll();
            return;
        }
        break;
    case WM_CHAR:
        if (Message.WParam == '\r' && ChildWindow == FEditHandle) {
            Handled = true;
            return;
        }
        break;
    case WM_CONTEXTMENU:
        if (!PopupMenu()) {
            ShowAdvEditPopup(*this, Message.LParam);
            Message.Result = 1;
            Handled = true;
            return;
        }
        break;
    case WM_HELP:
        FireHelp(OnHelp, this, Message.LParam);
        break;
    default:
        break;
    }
    TComboBox::ComboWndProc(Message, ChildWindow, Handled);
}

void TAdvComboBox::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        OnDroppingDown(this);
        break;
    case CN_DRAWITEM: {
        auto *item = reinterpret_cast<DRAWITEMSTRUCT *>(Message.LParam);
        FInList = !(item->itemState & ODS_COMBOBOXEDIT);
        break;
    }
    case CM_TEXTCHANGED:
        TDefaultColored<TComboBox>::WndProc(Message);
        TextChanged();
        return;
    case CM_FONTCHANGED: {
        bool was = FInResize;
        FInResize = true;
        try {
            TDefaultColored<TComboBox>::WndProc(Message);
        } catch (...) {
            FInResize = was;
            throw;
        }
        FInResize = was;
        return;
    }
    case WM_HELP:
        FireHelp(OnHelp, this, Message.LParam);
        break;
    default:
        break;
    }
    TDefaultColored<TComboBox>::WndProc(Message);
}
