// Glyphs, the roll-up bars, the scrolling dock panel and the dock bar with its splitter.
#include "AdvBars.h"

#include <algorithm>

#include "SysUtils.h"

namespace {

// Stand-in pictures (in the four greys that loading recolours) for glyphs the program's
// resources do not hold: rows of characters, '#' black, '+' white, '-' dark grey, else silver.
struct TGlyphPicture {
    const char *Name;
    int Width, Height;
    const char *Rows[10];
};

const TGlyphPicture HelpPicture = {"ADVBARS_HELPBUTTON",
                                   20,
                                   10,
                                   {"                    ", "   ####       ----  ", "  ##  ##     --  -- ",
                                    "      ##         -- ", "     ##         --  ", "    ##         --   ",
                                    "    ##         --   ", "                    ", "    ##         --   ",
                                    "                    "}};
const TGlyphPicture ShowPicture = {"ADVBARS_SHOWBUTTON",
                                   20,
                                   10,
                                   {"                    ", "                    ", "                    ",
                                    "  #######  -------  ", "   #####    -----   ", "    ###      ---    ",
                                    "     #        -     ", "                    ", "                    ",
                                    "                    "}};
const TGlyphPicture HidePicture = {"ADVBARS_HIDEBUTTON",
                                   20,
                                   10,
                                   {"                    ", "                    ", "                    ",
                                    "     #        -     ", "    ###      ---    ", "   #####    -----   ",
                                    "  #######  -------  ", "                    ", "                    ",
                                    "                    "}};

void DrawStandIn(TBitmap &Bitmap, const std::string &Name) {
    TCanvas &canvas = Bitmap.Canvas();
    if (Name == "ADVBARS_GRIP_VER" || Name == "ADVBARS_GRIP_HOR") {
        const bool horizontal = Name == "ADVBARS_GRIP_HOR";
        const int width = horizontal ? 24 : 10, height = horizontal ? 7 : 26;
        Bitmap.SetSize(width, height);
        canvas.Brush().SetColor(0xC0C0C0);
        canvas.FillRect(Rect(0, 0, width, height));
        for (int line = 0; line < 2; ++line) {
            const int at = 1 + line * 3;
            for (int i = 1; i < (horizontal ? width : height) - 1; ++i) {
                canvas.SetPixel(horizontal ? i : at, horizontal ? at : i, 0xFFFFFF);
                canvas.SetPixel(horizontal ? i : at + 1, horizontal ? at + 1 : i, 0x808080);
            }
        }
        return;
    }
    const TGlyphPicture *picture = &HelpPicture;
    if (Name == ShowPicture.Name)
        picture = &ShowPicture;
    else if (Name == HidePicture.Name)
        picture = &HidePicture;
    Bitmap.SetSize(picture->Width, picture->Height);
    for (int y = 0; y < picture->Height; ++y)
        for (int x = 0; x < picture->Width; ++x) {
            const char c = picture->Rows[y][x];
            canvas.SetPixel(x, y, c == '#' ? 0x000000 : c == '+' ? 0xFFFFFF : c == '-' ? 0x808080 : 0xC0C0C0);
        }
}

void LoadGlyphBitmap(TBitmap &Bitmap, const std::string &Name, bool DeviceFormat) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    Bitmap.SetPixelFormat(pf24bit);
    if (FindResourceA(instance, Name.c_str(), MAKEINTRESOURCEA(2))) // RT_BITMAP
        Bitmap.LoadFromResourceName(instance, Name);
    else
        DrawStandIn(Bitmap, Name);
    if (!DeviceFormat) {
        HDC screen = GetDC(nullptr);
        const bool palette = (GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE) != 0;
        ReleaseDC(nullptr, screen);
        if (!palette)
            Bitmap.SetPixelFormat(pf24bit);
    } else {
        Bitmap.SetPixelFormat(pfDevice);
    }
    const COLORREF from[4] = {0x000000, 0x808080, 0xC0C0C0, 0xFFFFFF};
    const COLORREF to[4] = {ColorToRGB(clBtnText), ColorToRGB(clBtnShadow), ColorToRGB(clBtnFace),
                            ColorToRGB(clBtnHighlight)};
    HDC dc = Bitmap.Canvas().Handle();
    for (int y = 0; y < Bitmap.Height(); ++y)
        for (int x = 0; x < Bitmap.Width(); ++x) {
            const COLORREF pixel = GetPixel(dc, x, y) & 0xFFFFFF;
            for (int i = 0; i < 4; ++i)
                if (pixel == from[i]) {
                    SetPixelV(dc, x, y, to[i]);
                    break;
                }
        }
}

// Inverts a rectangle of a window's area with a pattern brush (drag feedback drawn and erased
// by the same call).
void InvertPatternRect(HDC DC, TBitmap &Pattern, const RECT &R) {
    TBrush brush;
    brush.SetBitmap(&Pattern);
    HGDIOBJ old = SelectObject(DC, brush.Handle());
    PatBlt(DC, R.left, R.top, R.right - R.left, R.bottom - R.top, PATINVERT);
    SelectObject(DC, old);
}

} // namespace

void LoadButtonGlyph(TSpeedButton &Button, const std::string &Name) {
    TBitmap glyph;
    LoadGlyphBitmap(glyph, Name, false);
    Button.Glyph().Assign(glyph);
}

// Draws the pattern rectangle of a splitter or sizing bar on a parent window's area.
void InvertOnParent(TWinControl &Parent, TBitmap &Pattern, const RECT &R) {
    HDC dc = GetDCEx(Parent.Handle(), nullptr, DCX_PARENTCLIP | DCX_CLIPSIBLINGS | DCX_LOCKWINDOWUPDATE);
    if (!dc)
        return;
    InvertPatternRect(dc, Pattern, R);
    ReleaseDC(Parent.Handle(), dc);
}

void InvertOnDesktop(TBitmap &Pattern, const RECT &R) {
    HWND desktop = GetDesktopWindow();
    HDC dc = GetDCEx(desktop, nullptr, DCX_CACHE | DCX_LOCKWINDOWUPDATE);
    if (!dc)
        return;
    InvertPatternRect(dc, Pattern, R);
    ReleaseDC(desktop, dc);
}

void TBarDragFeedback::Start(TControl &Control, const RECT &Bar) {
    Finish();
    FParent = Control.Parent();
    if (!FParent)
        return;
    FPattern = CreatePatternBitmap(clWhite, clBlack);
    FRect = Bar;
    if (TCustomForm *form = Control.ParentForm())
        LockWindowUpdate(form->Handle());
    Draw();
}

void TBarDragFeedback::Draw() {
    if (FParent && FParent->HandleAllocated() && FPattern)
        InvertOnParent(*FParent, *FPattern, FRect);
}

void TBarDragFeedback::MoveTo(const RECT &Bar) {
    if (!Active())
        return;
    Draw();
    FRect = Bar;
    Draw();
}

void TBarDragFeedback::Finish() {
    if (!Active())
        return;
    Draw();
    FPattern.reset();
    FParent = nullptr;
    LockWindowUpdate(nullptr);
}

// =============================================================================================
// TGripButton

TGripButton::TGripButton(TComponent *AOwner) : TAdvSpeedButton(AOwner) {
    LoadGlyph();
}

void TGripButton::SetHorizontal(bool Value) {
    FHorizontal = Value;
    LoadGlyph();
}

void TGripButton::LoadGlyph() {
    TBitmap glyph;
    LoadGlyphBitmap(glyph, FHorizontal ? "ADVBARS_GRIP_HOR" : "ADVBARS_GRIP_VER", true);
    Glyph().Assign(glyph);
    SetBounds(Left(), Top(), glyph.Width() + 2, glyph.Height() + 2);
}

// =============================================================================================
// TAdvBar

TAdvBar::TAdvBar(TComponent *AOwner) : TAdvControl(AOwner) {
    FControlStyle = csAcceptsControls | csCaptureMouse | csClickEvents | csDoubleClicks | csOpaque;
    FGrip = new TGripButton(this);
    FGrip->SetParent(this);
    FGrip->SetLeft(0);
    FGrip->SetTop(FGripTop);
    FGrip->SetHint("Hide|");
    FGrip->SetShowHint(true);
    FGrip->OnClick = MakeNotifyEvent<&TAdvBar::GripClick>(this);
}

void TAdvBar::GripClick(TObject *) {
    SetRolledUp(!FRolledUp);
}

void TAdvBar::SetRolledUp(bool Value) {
    if (Value == FRolledUp)
        return;
    OnRollChanging(this);
    if (Value) {
        for (int i = ControlCount() - 1; i >= 0; --i) {
            TControl *child = Controls(i);
            if (child == FGrip)
                continue;
            child->Hide();
            if (auto *windowed = dynamic_cast<TWinControl *>(child))
                windowed->DestroyHandle();
        }
        FGrip->SetHorizontal(true);
        FUnrolledHeight = Height();
        FRolledUp = true;
        SetHeight(FGripTop + 9);
    } else {
        for (int i = 0; i < ControlCount(); ++i)
            Controls(i)->Show();
        FGrip->SetHorizontal(false);
        FRolledUp = false;
        SetHeight(FUnrolledHeight);
    }
    Invalidate();
    UpdateGripHint();
    OnRollChange(this);
}

void TAdvBar::UpdateGripHint() {
    const std::string caption = Caption();
    const std::string verb = FRolledUp ? "Show" : "Hide";
    FGrip->SetHint(caption.empty() ? verb + "|" : verb + " " + caption + "|");
}

RECT TAdvBar::DisplayRect() {
    return Rect(Destroying() ? 0 : FGrip->Width(), 0, Width(), Height());
}

void TAdvBar::Paint() {
    TCanvas &canvas = Canvas();
    canvas.Brush().SetColor(FColor);
    canvas.FillRect(ClientRect());
    if (FRolledUp) {
        canvas.Font().SetName("Arial");
        canvas.Font().SetHeight(-9);
        canvas.Font().SetStyle(0);
        canvas.Font().SetColor(clBtnText);
        canvas.Brush().SetStyle(bsClear);
        canvas.TextOut(30, FGripTop - 1, Caption());
        canvas.Brush().SetStyle(bsSolid);
    }
}

void TAdvBar::WndProc(TMessage &Message) {
    if (Message.Msg == WM_MOUSEMOVE && FHandle) {
        // Only the last of a run of queued moves matters.
        MSG queued;
        while (PeekMessageA(&queued, FHandle, WM_MOUSEFIRST, WM_MOUSELAST, PM_NOREMOVE) &&
               queued.message == WM_MOUSEMOVE) {
            PeekMessageA(&queued, FHandle, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_REMOVE);
            Message.WParam = queued.wParam;
            Message.LParam = queued.lParam;
        }
    }
    TAdvControl::WndProc(Message);
    if (Message.Msg == CM_TEXTCHANGED || Message.Msg == WM_SETTEXT) {
        UpdateGripHint();
        Invalidate();
    }
}

// =============================================================================================
// TAdvToolBar

TAdvToolBar::TAdvToolBar(TComponent *AOwner) : TAdvBar(AOwner) {
    FGrip->SetTop(2);
    FGripTop = 2;
    FControlStyle |= csFixedHeight;
    SetAlign(alTop);
    SetHeight(30);
}

RECT TAdvToolBar::DisplayRect() {
    return Rect(Destroying() ? 0 : FGrip->Width(), 2, Width() - 2, Height());
}

void TAdvToolBar::Paint() {
    TAdvBar::Paint();
    TCanvas &canvas = Canvas();
    canvas.Pen().SetColor(clBtnShadow);
    canvas.MoveTo(0, 0);
    canvas.LineTo(Width(), 0);
    canvas.Pen().SetColor(clBtnHighlight);
    canvas.MoveTo(0, 1);
    canvas.LineTo(Width(), 1);
    if (FParent && FParent->ClientWidth() > Left() + Width()) {
        canvas.Pen().SetColor(clBtnShadow);
        canvas.MoveTo(Width() - 2, 1);
        canvas.LineTo(Width() - 2, Height());
        canvas.Pen().SetColor(clBtnHighlight);
        canvas.MoveTo(Width() - 1, 2);
        canvas.LineTo(Width() - 1, Height());
    }
}

void TAdvToolBar::Resize() {
    if (FHandle && Width() != FLastWidth) {
        for (int edge : {FLastWidth, Width()}) {
            RECT strip = Rect(edge - 2, 0, edge, Height());
            InvalidateRect(FHandle, &strip, FALSE);
        }
    }
    FLastWidth = Width();
    TAdvBar::Resize();
}

// =============================================================================================
// TAdvScrollingWinControl and TDockPanel

TAdvScrollingWinControl::TAdvScrollingWinControl(TComponent *AOwner) : TAdvScrollControl(AOwner) {
    SetFlatScrollBars(true);
    HorzScrollBar().SetPageIncrement(80);
    VertScrollBar().SetPageIncrement(80);
}

TDockPanel::TDockPanel(TAdvDockBar *ADockBar)
    : TAdvScrollingWinControl(ADockBar), FBackground(CreatePatternBitmap(clBtnFace, clBtnShadow)),
      FDockBar(ADockBar) {
    SetAutoScroll(false);
    FColor = clBtnFace;
    VertScrollBar().SetTracking(true);
    SetParent(ADockBar);
}

TDockPanel::~TDockPanel() {
    SetDestroying();
    DestroyComponents();
}

void TDockPanel::RemovePanel(TToolPanel *Panel) {
    auto it = std::find(FPanels.begin(), FPanels.end(), Panel);
    if (it == FPanels.end())
        return;
    FPanels.erase(it);
    for (size_t i = 0; i < FPanels.size(); ++i)
        FPanels[i]->FIndex = static_cast<int>(i);
}

void TDockPanel::UpdatePanels(TToolPanel *BringIntoView) {
    if (Destroying())
        return;
    FTotalHeight = 0;
    for (TToolPanel *panel : FPanels)
        if (panel->FDocked)
            FTotalHeight += panel->Height();
    const int height = ClientHeight();
    const bool overflow = FTotalHeight > height;
    TControlScrollBar &bar = VertScrollBar();
    bar.SetRange(FTotalHeight);
    bar.SetPosition(overflow ? std::clamp(bar.Position(), 0, FTotalHeight - height) : 0);
    auto place = [&] {
        const int width = Width() - (overflow ? GetSystemMetrics(SM_CXVSCROLL) : 0);
        int top = -bar.Position();
        for (TToolPanel *panel : FPanels)
            if (panel->FDocked) {
                panel->SetBounds(0, top, width, panel->Height());
                top += panel->Height();
            }
    };
    place();
    if (BringIntoView && BringIntoView->FDocked) {
        const int top = BringIntoView->Top(), bottom = top + BringIntoView->Height();
        if (top < 0)
            bar.SetPosition(bar.Position() + top);
        else if (bottom > height)
            bar.SetPosition(bar.Position() + (BringIntoView->Height() > height ? top : bottom - height));
        place();
    }
    Invalidate();
}

void TDockPanel::Resize() {
    TAdvScrollingWinControl::Resize();
    UpdatePanels();
}

void TDockPanel::Paint() {
    TCanvas &canvas = Canvas();
    const RECT client = ClientRect();
    const int bottom = FTotalHeight - VertScrollBar().Position();
    if (FTotalHeight < client.bottom) {
        canvas.Brush().SetBitmap(FBackground.get());
        canvas.FillRect(Rect(0, std::max(0, bottom), client.right, client.bottom));
        canvas.Brush().SetBitmap(nullptr);
    }
}

void TDockPanel::WndProc(TMessage &Message) {
    if (Message.Msg == CM_SYSCOLORCHANGE)
        FBackground = CreatePatternBitmap(clBtnFace, clBtnShadow);
    TAdvScrollingWinControl::WndProc(Message);
}

// =============================================================================================
// TAdvDockBar

TAdvDockBar::TAdvDockBar(TComponent *AOwner) : TAdvControl(AOwner) {
    FControlStyle = csAcceptsControls | csCaptureMouse | csClickEvents | csDoubleClicks | csOpaque |
                    csReplicatable | csSetCaption;
    FGrip = new TGripButton(this);
    FGrip->SetParent(this);
    FGrip->SetLeft(0);
    FGrip->SetTop(2);
    FGrip->SetHint("Hide Tools|");
    FGrip->SetShowHint(true);
    FGrip->OnClick = MakeNotifyEvent<&TAdvDockBar::GripClick>(this);
    FDockPanel = new TDockPanel(this);
    SetWidth(65);
    FBarWidth = Width();
}

TAdvDockBar::~TAdvDockBar() {
    FSplitter.Finish();
    SetDestroying();
    DestroyComponents();
}

void TAdvDockBar::CreateParams(TCreateParams &Params) {
    TAdvControl::CreateParams(Params);
    Params.Style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
}

TToolPanel *TAdvDockBar::AddTool(const TToolFormClass &ToolFormClass) {
    FAdding = true;
    TToolPanel *panel = nullptr;
    try {
        panel = new TToolPanel(FDockPanel, ToolFormClass);
        UpdateMinWidth();
    } catch (...) {
        FAdding = false;
        throw;
    }
    FAdding = false;
    return panel;
}

TToolPanel *TAdvDockBar::FindTool(const TToolFormClass &ToolFormClass) {
    for (TToolPanel *panel : FDockPanel->FPanels)
        if (panel->ToolForm() && ToolFormClass.IsInstance(panel->ToolForm()))
            return panel;
    throw Exception(std::string("Tool class not found"));
}

int TAdvDockBar::GetToolCount() const {
    return FDockPanel->PanelCount();
}

TToolPanel *TAdvDockBar::GetTool(int Index) const {
    return FDockPanel->Panels(Index);
}

bool TAdvDockBar::IsShortCut(WORD Key, TShiftState Shift) {
    for (TToolPanel *panel : FDockPanel->FPanels)
        if (panel->ToolForm() && panel->ToolForm()->IsShortCut(Key, Shift))
            return true;
    return false;
}

void TAdvDockBar::SetActive(bool Value) {
    if (Value == FActive)
        return;
    FActive = Value;
    for (TToolPanel *panel : FDockPanel->FPanels)
        panel->InvalidateCaption();
}

void TAdvDockBar::ChildrenVisible(bool Value) {
    for (int i = 0; i < ControlCount(); ++i)
        if (Controls(i) != FGrip)
            Controls(i)->SetVisible(Value);
}

void TAdvDockBar::GripClick(TObject *) {
    SetRolledUp(!FRolledUp);
}

void TAdvDockBar::SetRolledUp(bool Value) {
    if (Value == FRolledUp)
        return;
    ChildrenVisible(!Value);
    FGrip->SetHint(Value ? "Show Tools|" : "Hide Tools|");
    FRolledUp = Value;
    SetWidth(Value ? 12 : FBarWidth);
    Invalidate();
    OnChange(this);
}

void TAdvDockBar::SetBarWidth(int Value) {
    Value = std::max(Value, FMinWidth);
    if (Value == FBarWidth)
        return;
    FBarWidth = Value;
    if (!FRolledUp)
        SetWidth(Value);
}

void TAdvDockBar::Resize() {
    if (Destroying() || !FDockPanel)
        return;
    const int grip = FGrip->Width();
    FDockPanel->SetBounds(grip + 1, 1, std::max(0, Width() - grip - 2), std::max(0, Height() - 2));
    if (FHandle) {
        for (int x : {FLastWidth - 1, Width() - 1}) {
            RECT column = Rect(x, 0, x + 1, Height());
            InvalidateRect(FHandle, &column, FALSE);
        }
        for (int y : {FLastHeight - 1, Height() - 1}) {
            RECT row = Rect(0, y, Width(), y + 1);
            InvalidateRect(FHandle, &row, FALSE);
        }
    }
    FLastWidth = Width();
    FLastHeight = Height();
    if (!FRolledUp)
        SetBarWidth(Width());
    TAdvControl::Resize();
}

void TAdvDockBar::UpdateMinWidth() {
    int minWidth = 128;
    for (TToolPanel *panel : FDockPanel->FPanels)
        if (panel->ToolForm())
            minWidth = std::max(minWidth,
                                panel->ToolForm()->Constraints().MinWidth() + 2 + Width() - panel->Width());
    // Room for the scroll bar is kept even while every tool fits.
    if (FDockPanel->TotalHeight() <= FDockPanel->Height())
        minWidth += GetSystemMetrics(SM_CXVSCROLL);
    FMinWidth = minWidth;
    if (FMinWidth > FBarWidth)
        SetBarWidth(FMinWidth);
}

void TAdvDockBar::Paint() {
    TCanvas &canvas = Canvas();
    const int grip = FGrip->Width();
    canvas.Brush().SetColor(FColor);
    canvas.FillRect(ClientRect());
    canvas.Pen().SetColor(clBtnShadow);
    canvas.MoveTo(0, 0);
    canvas.LineTo(grip + 1, 0);
    canvas.Pen().SetColor(clBtnHighlight);
    canvas.MoveTo(0, 1);
    canvas.LineTo(grip + 1, 1);
    if (!FRolledUp) {
        canvas.Pen().SetColor(clBtnShadow);
        canvas.MoveTo(grip, Height() - 1);
        canvas.LineTo(grip, 0);
        canvas.LineTo(Width(), 0);
        canvas.Pen().SetColor(clBtnHighlight);
        canvas.MoveTo(Width() - 1, 0);
        canvas.LineTo(Width() - 1, Height() - 1);
        canvas.LineTo(grip - 1, Height() - 1);
    }
}

bool TAdvDockBar::InSplitterZone(int X, int Y) {
    return X < FGrip->Width() && Y > FGrip->Height();
}

int TAdvDockBar::SplitterLeft(int X) {
    const int parentWidth = FParent ? FParent->ClientWidth() : Left() + Width();
    const int lowest = 64;
    const int highest = std::max(lowest, parentWidth - FMinWidth);
    return std::clamp(FDragStartLeft + X - FDragStartX, lowest, highest);
}

void TAdvDockBar::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TAdvControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft || FSplitter.Active() || !InSplitterZone(X, Y) || !FParent)
        return;
    FDragStartX = X;
    FDragStartLeft = Left();
    FSplitter.Start(*this, SplitterRect(Left()));
}

void TAdvDockBar::MouseMove(TShiftState Shift, int X, int Y) {
    TAdvControl::MouseMove(Shift, X, Y);
    if (FSplitter.Active())
        FSplitter.MoveTo(SplitterRect(SplitterLeft(X)));
    else
        SetCursor(InSplitterZone(X, Y) ? crHSplit : crDefault);
}

void TAdvDockBar::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TAdvControl::MouseUp(Button, Shift, X, Y);
    if (Button == mbRight) {
        TPoint screen = ClientToScreen({X, Y});
        OnPopup(this, screen.X, screen.Y);
        return;
    }
    if (Button != mbLeft || !FSplitter.Active())
        return;
    FSplitter.Finish();
    const int left = SplitterLeft(X);
    const int parentWidth = FParent ? FParent->ClientWidth() : left + Width();
    SetBounds(left, Top(), parentWidth - left, Height());
}

// --- The layout as saved and restored -----------------------------------------------------------

int TAdvDockBar::LayoutScrollPos() {
    return FDockPanel->VertScrollBar().Position();
}

void TAdvDockBar::SetLayoutScrollPos(int Position) {
    FDockPanel->VertScrollBar().SetPosition(Position);
    FDockPanel->UpdatePanels();
}

std::string TAdvDockBar::LayoutToolClass(int Index) {
    TToolForm *form = GetTool(Index)->ToolForm();
    return form ? form->ClassName() : std::string();
}

int TAdvDockBar::LayoutToolHeight(int Index) {
    return GetTool(Index)->ToolHeight();
}

void TAdvDockBar::SetLayoutToolHeight(int Index, int Height) {
    GetTool(Index)->SetToolHeight(Height);
}

bool TAdvDockBar::LayoutToolVisible(int Index) {
    return GetTool(Index)->ToolVisible();
}

void TAdvDockBar::SetLayoutToolVisible(int Index, bool Visible) {
    GetTool(Index)->SetToolVisible(Visible);
}

bool TAdvDockBar::LayoutToolDocked(int Index) {
    return GetTool(Index)->Docked();
}

void TAdvDockBar::SetLayoutToolDocked(int Index, bool Docked) {
    GetTool(Index)->SetDocked(Docked);
}

TLayoutRect TAdvDockBar::LayoutFloatingRect(int Index) {
    const RECT r = GetTool(Index)->FloatingRect();
    return {r.left, r.top, r.right, r.bottom};
}

void TAdvDockBar::SetLayoutFloatingRect(int Index, const TLayoutRect &Rect) {
    GetTool(Index)->SetFloatingRect(::Rect(Rect.Left, Rect.Top, Rect.Right, Rect.Bottom));
}

int TAdvDockBar::LayoutToolOpacity(int Index) {
    return GetTool(Index)->Opacity();
}

void TAdvDockBar::SetLayoutToolOpacity(int Index, int Opacity) {
    GetTool(Index)->SetOpacity(Opacity);
}

void TAdvDockBar::SetLayoutToolIndex(int Index, int NewIndex) {
    GetTool(Index)->SetIndex(NewIndex);
}
