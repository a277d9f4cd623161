// Tool panels of the dock bar and the tool forms in them, docked or floating, with their
// caption strip, sizing bar, opacity and docking by drag with snapping.
#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "AdvBars.h"
#include "GenUtils.h"

namespace {

using TSetLayeredWindowAttributes = BOOL(WINAPI *)(HWND, COLORREF, BYTE, DWORD);

// Looked up once: systems without layered windows keep opacity as a stored value only.
TSetLayeredWindowAttributes LayeredAttributes() {
    static TSetLayeredWindowAttributes function = [] {
        HMODULE user32 = GetModuleHandleA("user32.dll");
        return user32 ? reinterpret_cast<TSetLayeredWindowAttributes>(
                            reinterpret_cast<void *>(GetProcAddress(user32, "SetLayeredWindowAttributes")))
                      : nullptr;
    }();
    return function;
}

// The caption bitmap all tool panels paint from, rebuilt only for another width or state.
struct TCaptionCache {
    std::unique_ptr<TBitmap> Bitmap;
    int Width = -1;
    bool Active = false;
};
TCaptionCache *CaptionCache = nullptr;

int Channel(COLORREF C, int Shift) {
    return (C >> Shift) & 0xFF;
}

TBitmap &CaptionBitmap(int Width, bool Active) {
    if (!CaptionCache)
        CaptionCache = new TCaptionCache;
    TCaptionCache &cache = *CaptionCache;
    if (cache.Bitmap && cache.Width == Width && cache.Active == Active)
        return *cache.Bitmap;
    if (!cache.Bitmap)
        cache.Bitmap = std::make_unique<TBitmap>(1, 1, pf24bit);
    TBitmap &bitmap = *cache.Bitmap;
    bitmap.SetSize(std::max(Width, 1), ToolCaptionHeight);
    cache.Width = Width;
    cache.Active = Active;
    TCanvas &canvas = bitmap.Canvas();
    canvas.Brush().SetColor(clBtnFace);
    canvas.FillRect(Rect(0, 0, Width, ToolCaptionHeight));
    RECT frame = Rect(0, 0, Width, ToolCaptionHeight);
    Frame3D(canvas, frame, clBtnHighlight, clBtnShadow, 1);
    const RECT inner = Rect(2, 2, Width - 2, ToolCaptionHeight - 2);
    const int innerWidth = inner.right - inner.left;
    if (innerWidth <= 0)
        return bitmap;
    HDC screen = GetDC(nullptr);
    const int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
    ReleaseDC(nullptr, screen);
    if (bits < 15) {
        canvas.Brush().SetColor(clActiveCaption);
        canvas.FillRect(inner);
        return bitmap;
    }
    const COLORREF c1 = GetSysColor(Active ? COLOR_ACTIVECAPTION : COLOR_INACTIVECAPTION);
    COLORREF c2 = GetSysColor(Active ? COLOR_GRADIENTACTIVECAPTION : COLOR_GRADIENTINACTIVECAPTION);
    if (c2 == 0xFFFFFFFF)
        c2 = c1;
    HDC dc = canvas.Handle();
    for (int x = 0; x < innerWidth; ++x) {
        COLORREF mixed = 0;
        for (int shift : {0, 8, 16})
            mixed |= static_cast<COLORREF>(((innerWidth - x) * Channel(c1, shift) + x * Channel(c2, shift)) /
                                           innerWidth)
                     << shift;
        SetPixelV(dc, inner.left + x, inner.top, mixed);
    }
    for (int y = inner.top + 1; y < inner.bottom; ++y)
        BitBlt(dc, inner.left, y, innerWidth, 1, dc, inner.left, inner.top, SRCCOPY);
    return bitmap;
}

bool Near(int A, int B) {
    return std::abs(A - B) < 8;
}

} // namespace

void FinalizeAdvBars() {
    delete CaptionCache;
    CaptionCache = nullptr;
}

TPoint SnapToolPosition(int Left, int Top, int Width, int Height, const std::vector<RECT> &Others,
                        const RECT *MainWindow, int FrameX, int FrameY, int CaptionY) {
    const int right = Left + Width, bottom = Top + Height;
    int left = Left, top = Top;
    for (const RECT &other : Others) {
        const int L = other.left, T = other.top, OW = other.right - other.left, OH = other.bottom - other.top;
        auto alignEdges = [&] {
            if (Near(L, right))
                left = L - Width;
            if (Near(L, left))
                left = L;
            if (Near(L + OW, left))
                left = L + OW;
            if (Near(L + OW, right))
                left = L + OW - Width;
        };
        const bool across = right + 8 >= L && left - 8 <= L + OW;
        if (Near(T, bottom) && across) {
            top = T - Height;
            alignEdges();
        } else if (Near(T + OH, top) && across) {
            top = T + OH;
            alignEdges();
        } else {
            bool beside = false;
            if (Near(L, right)) {
                left = L - Width;
                beside = true;
            } else if (Near(L + OW, left)) {
                left = L + OW;
                beside = true;
            }
            if (beside) {
                if (Near(T, top))
                    top = T;
                if (Near(T + OH, bottom))
                    top = T + OH - Height;
            }
        }
    }
    if (MainWindow) {
        const int ML = MainWindow->left, MT = MainWindow->top, MW = MainWindow->right - MainWindow->left;
        if (Near(ML + FrameX + 2, left))
            left = ML + FrameX + 2;
        if (Near(ML + MW - FrameX - 2, left + Width))
            left = ML + MW - FrameX - 2 - Width;
        if (Near(MT + FrameY + CaptionY + 2, top))
            top = MT + FrameY + CaptionY + 2;
    }
    return {left, top};
}

// =============================================================================================
// TToolPanel

TToolPanel::TToolPanel(TDockPanel *ADockPanel, const TToolFormClass &AToolFormClass)
    : TCustomControl(ADockPanel), FCaptionFont(std::make_unique<TFont>()), FDockPanel(ADockPanel),
      FToolFormClass(AToolFormClass) {
    FControlStyle = csAcceptsControls | csCaptureMouse | csClickEvents | csDoubleClicks | csOpaque |
                    csReplicatable | csSetCaption;
    NONCLIENTMETRICSA metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        LOGFONTA font = metrics.lfCaptionFont;
        font.lfWeight = FW_NORMAL;
        if (std::abs(font.lfHeight) > 14)
            font.lfHeight = -14;
        FCaptionFont->AssignLogFont(font);
    }
    FHelpButton = new TCaptionButton(this);
    FHelpButton->SetParent(this);
    FHelpButton->SetBounds(0, 4, 14, 14);
    LoadButtonGlyph(*FHelpButton, "ADVBARS_HELPBUTTON");
    FHelpButton->SetNumGlyphs(2);
    FHelpButton->SetHint("Help|");
    FHelpButton->SetAllowAllUp(true);
    FHelpButton->SetGroupIndex(1);
    FHelpButton->OnClick = MakeNotifyEvent<&TToolPanel::HelpClick>(this);
    FShowButton = new TCaptionButton(this);
    FShowButton->SetParent(this);
    FShowButton->SetBounds(0, 4, 14, 14);
    FShowButton->SetNumGlyphs(2);
    FShowButton->OnClick = MakeNotifyEvent<&TToolPanel::ShowClick>(this);
    SetParent(ADockPanel);
    FDockPanel->FPanels.push_back(this);
    FIndex = FDockPanel->PanelCount() - 1;
    FDocked = true;
    SetHeight(ToolCaptionHeight);
    PlaceButtons();
    CreateToolForm();
    FFloatingRect = Rect(0, 0, FToolForm->Width(), FToolForm->Height());
    FToolHeight = FToolForm->Height() + 28;
    FOpacity = 255;
    ShowTool();
}

TToolPanel::~TToolPanel() {
    FSizingBar.Finish();
    SetDestroying();
    DestroyComponents();
    FToolForm = nullptr;
    FDockPanel->RemovePanel(this);
}

void TToolPanel::CreateParams(TCreateParams &Params) {
    TCustomControl::CreateParams(Params);
    Params.ClassStyle &= ~CS_VREDRAW;
}

void TToolPanel::CreateToolForm() {
    TToolForm *form = FToolFormClass.Create(this);
    FToolForm = form;
    form->AfterConstruction();
}

void TToolPanel::FireChange() {
    TAdvDockBar *bar = FDockPanel->DockBar();
    bar->OnChange(bar);
}

void TToolPanel::SetIndex(int NewIndex) {
    auto &panels = FDockPanel->FPanels;
    NewIndex = std::clamp(NewIndex, 0, static_cast<int>(panels.size()) - 1);
    panels.erase(std::find(panels.begin(), panels.end(), this));
    panels.insert(panels.begin() + NewIndex, this);
    for (size_t i = 0; i < panels.size(); ++i)
        panels[i]->FIndex = static_cast<int>(i);
    FDockPanel->UpdatePanels(FDocked ? this : nullptr);
}

void TToolPanel::SetDocked(bool Value) {
    if (Value == FDocked)
        return;
    // The form is made again for its new place; it leaves nothing behind (its drag ends and its
    // windows go with it).
    TToolForm *old = FToolForm;
    FToolForm = nullptr;
    delete old;
    FDocked = Value;
    CreateToolForm();
    if (FDocked) {
        PlaceForm();
        UpdateButtons();
        SetVisible(true);
    } else {
        SetVisible(false);
    }
    if (FToolVisible)
        FToolForm->Show();
    FDockPanel->UpdatePanels(FDocked ? this : nullptr);
}

void TToolPanel::SetFloatingRect(const RECT &Rect) {
    if (EqualRect(&Rect, &FFloatingRect))
        return;
    FFloatingRect = Rect;
    if (!FDocked && FToolForm)
        FToolForm->SetBoundsRect(Rect);
}

void TToolPanel::SetToolHeight(int Value) {
    if (FToolForm) {
        const TSizeConstraints &limits = FToolForm->Constraints();
        if (limits.MinHeight() != 0)
            Value = std::max(Value, limits.MinHeight() + 28);
        if (limits.MaxHeight() != 0)
            Value = std::min(Value, limits.MaxHeight() + 28);
    }
    // Never less than the caption strip and the sizing bar.
    Value = std::max(Value, 28);
    if (Value == FToolHeight)
        return;
    FToolHeight = Value;
    if (FToolVisible) {
        SetHeight(Value);
        if (FDocked)
            FDockPanel->UpdatePanels();
    }
}

void TToolPanel::SetOpacity(int Value) {
    Value = std::clamp(Value, 31, 255);
    if (Value == FOpacity)
        return;
    FOpacity = Value;
    if (FToolForm)
        FToolForm->ApplyOpacity();
}

void TToolPanel::SetToolVisible(bool Value) {
    if (Value)
        ShowTool();
    else
        HideTool();
}

void TToolPanel::ShowTool() {
    if (FToolVisible) {
        if (FDocked)
            FDockPanel->UpdatePanels(this);
        return;
    }
    FToolVisible = true;
    if (FToolHeight == 0)
        FToolHeight = FToolForm->Height() + 28;
    SetHeight(FToolHeight);
    if (FDocked) {
        Invalidate();
        FDockPanel->UpdatePanels(this);
        PlaceForm();
        UpdateButtons();
    }
    FToolForm->Show();
    FireChange();
}

void TToolPanel::HideTool() {
    if (!FToolVisible)
        return;
    FToolVisible = false;
    FToolForm->Hide();
    SetHeight(ToolCaptionHeight);
    if (FDocked) {
        Invalidate();
        FDockPanel->UpdatePanels();
        UpdateButtons();
    }
    FireChange();
}

void TToolPanel::InvalidateCaption() {
    if (!FHandle)
        return;
    RECT strip = Rect(0, 0, Width(), ToolCaptionHeight);
    InvalidateRect(FHandle, &strip, FALSE);
}

void TToolPanel::PlaceForm() {
    if (FDocked && FToolForm)
        FToolForm->SetBounds(1, ToolCaptionHeight + 1, std::max(0, Width() - 2), std::max(0, Height() - 28));
}

void TToolPanel::PlaceButtons() {
    FHelpButton->SetLeft(Width() - 33);
    FShowButton->SetLeft(Width() - 18);
}

void TToolPanel::UpdateButtons() {
    LoadButtonGlyph(*FShowButton, FToolVisible ? "ADVBARS_HIDEBUTTON" : "ADVBARS_SHOWBUTTON");
    FShowButton->SetHint(FToolVisible ? "Hide|" : "Show|");
    FHelpButton->SetEnabled(FToolVisible);
}

void TToolPanel::Resize() {
    if (Destroying())
        return;
    PlaceButtons();
    if (FToolVisible) {
        PlaceForm();
        FToolHeight = Height();
    }
    TCustomControl::Resize();
}

void TToolPanel::Paint() {
    TCanvas &canvas = Canvas();
    const bool active = FDockPanel->DockBar()->Active();
    canvas.Draw(0, 0, CaptionBitmap(Width(), active));
    canvas.Font().Assign(*FCaptionFont);
    canvas.Font().SetColor(active ? clCaptionText : clInactiveCaptionText);
    canvas.Brush().SetStyle(bsClear);
    const std::string caption = FToolForm ? FToolForm->Caption() : std::string();
    canvas.TextRect(Rect(6, 2, Width() - 37, 20), caption, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    canvas.Brush().SetStyle(bsSolid);
    if (FToolVisible) {
        RECT body = Rect(0, ToolCaptionHeight, Width(), Height() - 4);
        Frame3D(canvas, body, clBtnHighlight, clBtnShadow, 1);
        canvas.Brush().SetColor(clBtnFace);
        canvas.FillRect(body);
        RECT bar = Rect(0, Height() - 4, Width(), Height());
        Frame3D(canvas, bar, clBtnHighlight, clBtnShadow, 1);
        canvas.FillRect(bar);
    }
}

int TToolPanel::LimitBar(int Y) {
    const TSizeConstraints &limits = FToolForm->Constraints();
    Y = std::max(Y, Top() + 24 + limits.MinHeight());
    if (limits.MaxHeight() != 0)
        Y = std::min(Y, Top() + 24 + limits.MaxHeight());
    return Y;
}

void TToolPanel::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TCustomControl::MouseDown(Button, Shift, X, Y);
    if (Button != mbLeft || !FToolForm)
        return;
    if (Y < ToolCaptionHeight) {
        if (Shift & ssDouble)
            SetToolVisible(!FToolVisible);
        else
            FToolForm->BeginToolDrag(ClientToScreen({X, Y}));
        return;
    }
    if (FToolVisible && Y >= Height() - 4 && !FSizingBar.Active()) {
        FSizeStartY = Y;
        FBarTop = Top() + Height() - 4;
        FSizingBar.Start(*this, SizingBarRect(FBarTop));
    }
}

void TToolPanel::MouseMove(TShiftState Shift, int X, int Y) {
    TCustomControl::MouseMove(Shift, X, Y);
    if (FSizingBar.Active())
        FSizingBar.MoveTo(SizingBarRect(LimitBar(FBarTop + Y - FSizeStartY)));
    else
        SetCursor(FToolVisible && Y >= Height() - 4 ? crVSplit : crDefault);
}

void TToolPanel::MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) {
    TCustomControl::MouseUp(Button, Shift, X, Y);
    if (Button == mbRight) {
        TAdvDockBar *bar = FDockPanel->DockBar();
        TPoint screen = ClientToScreen({X, Y});
        bar->OnPopup(bar, screen.X, screen.Y);
        return;
    }
    if (Button != mbLeft || !FSizingBar.Active())
        return;
    const int bottom = FSizingBar.BarRect().bottom;
    FSizingBar.Finish();
    SetHeight(bottom - Top());
    FDockPanel->UpdatePanels(this);
}

void TToolPanel::HelpClick(TObject *) {
    if (FToolVisible && FToolForm)
        PostMessageA(FToolForm->Handle(), WM_SYSCOMMAND, SC_CONTEXTHELP, 0);
}

void TToolPanel::ShowClick(TObject *) {
    SetToolVisible(!FToolVisible);
}

void TToolPanel::WndProc(TMessage &Message) {
    if (Message.Msg == WM_TOOLDOCK) {
        SetDocked(Message.WParam != 0);
        if (!FDocked)
            SetToolVisible(true);
        return;
    }
    TCustomControl::WndProc(Message);
}

// =============================================================================================
// TToolForm

TToolForm::TToolForm(TToolPanel *APanel) : TForm(APanel), FPanel(APanel) {
    APanel->FToolForm = this;
    SetKeyPreview(true);
    if (APanel->Docked())
        SetParent(APanel);
}

TToolForm::~TToolForm() {
    if (FDragState != 0)
        EndToolDrag();
    if (FPanel->FToolForm == this)
        FPanel->FToolForm = nullptr;
}

void TToolForm::AfterConstruction() {
    const RECT floating = FPanel->FloatingRect();
    int dx = 0, dy = 0;
    if (!FPanel->Docked()) {
        TCreateParams params;
        CreateParams(params);
        RECT frame = Rect(0, 0, 100, 100);
        AdjustWindowRectEx(&frame, params.Style, FALSE, params.ExStyle);
        dx = frame.right - frame.left - 100;
        dy = frame.bottom - frame.top - 100;
    }
    TSizeConstraints &limits = Constraints();
    auto scaled = [](int Value, int Frame) { return Value != 0 ? ScaleForScreenFont(Value) + Frame : 0; };
    const int maxWidth = scaled(limits.MaxWidth(), dx), minWidth = scaled(limits.MinWidth(), dx);
    const int maxHeight = scaled(limits.MaxHeight(), dy), minHeight = scaled(limits.MinHeight(), dy);
    limits.SetMinWidth(0);
    limits.SetMinHeight(0);
    limits.SetMaxWidth(maxWidth);
    limits.SetMaxHeight(maxHeight);
    limits.SetMinWidth(minWidth);
    limits.SetMinHeight(minHeight);
    if (!FPanel->Docked() && floating.right > floating.left && floating.bottom > floating.top)
        SetBoundsRect(floating);
}

void TToolForm::CreateParams(TCreateParams &Params) {
    TForm::CreateParams(Params);
    if (FPanel->Docked()) {
        Params.Style = (Params.Style | WS_CHILD) & ~(WS_POPUP | WS_CAPTION);
        return;
    }
    Params.Style = (Params.Style | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME) &
                   ~(WS_CHILD | WS_MINIMIZEBOX | WS_MAXIMIZEBOX);
    Params.ExStyle = WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE | WS_EX_CONTEXTHELP;
}

void TToolForm::CreateWnd() {
    TForm::CreateWnd();
    if (FPanel->Docked())
        return;
    SendMessageA(FHandle, WM_SETICON, ICON_BIG, 0);
    SetWindowPos(FHandle, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (HMENU menu = GetSystemMenu(FHandle, FALSE)) {
        DeleteMenu(menu, SC_TASKLIST, MF_BYCOMMAND);
        DeleteMenu(menu, 7, MF_BYPOSITION);
        DeleteMenu(menu, 5, MF_BYPOSITION);
        DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
        DeleteMenu(menu, SC_MINIMIZE, MF_BYCOMMAND);
        DeleteMenu(menu, SC_RESTORE, MF_BYCOMMAND);
        if (LayeredAttributes()) {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, 1, "&Increase Opacity  \tCtrl+=");
            AppendMenuA(menu, MF_STRING, 2, "&Decrease Opacity  \tCtrl+-");
        }
    }
    ApplyOpacity();
}

void TToolForm::ApplyOpacity() {
    TSetLayeredWindowAttributes setAttributes = LayeredAttributes();
    if (!setAttributes || FPanel->Docked() || !FHandle)
        return;
    const LONG exStyle = GetWindowLongA(FHandle, GWL_EXSTYLE);
    if (FPanel->Opacity() >= 255) {
        SetWindowLongA(FHandle, GWL_EXSTYLE, exStyle & ~WS_EX_LAYERED);
        return;
    }
    SetWindowLongA(FHandle, GWL_EXSTYLE, exStyle | WS_EX_LAYERED);
    setAttributes(FHandle, 0, static_cast<BYTE>(FPanel->Opacity()), LWA_ALPHA);
}

void TToolForm::DoClose(TCloseAction &Action) {
    Action = caHide;
    TForm::DoClose(Action);
    FPanel->FToolVisible = false;
    FPanel->UpdateButtons();
    FPanel->FireChange();
}

void TToolForm::KeyDown(WORD &Key, TShiftState Shift) {
    if ((Shift & ssCtrl) && (Key == VK_OEM_PLUS || Key == VK_OEM_MINUS)) {
        FPanel->SetOpacity(FPanel->Opacity() + (Key == VK_OEM_PLUS ? 16 : -16));
        Key = 0;
        return;
    }
    TForm::KeyDown(Key, Shift);
}

void TToolForm::Resize() {
    TForm::Resize();
    if (!FPanel->Docked() && FHandle) {
        RECT window;
        GetWindowRect(FHandle, &window);
        FPanel->FFloatingRect = window;
    }
}

// --- Dragging the tool ------------------------------------------------------------------------

void TToolForm::BeginToolDrag(TPoint ScreenPos) {
    if (FDragState != 0)
        return;
    FDragState = 1;
    FDragStart = ScreenPos;
    FDragPattern = CreatePatternBitmap(clBlack, clWhite);
    FDragOrigin = FPanel->Docked() ? FPanel->ClientOrigin() : TPoint{Left(), Top()};
    SetCapture(Handle());
}

void TToolForm::DrawDragFrame() {
    if (!FDragPattern)
        return;
    const RECT &r = FDropRect;
    const RECT bars[] = {
        Rect(r.left, r.top, r.right, r.top + 4), Rect(r.right - 4, r.top + 4, r.right, r.bottom),
        Rect(r.left, r.bottom - 4, r.right - 4, r.bottom), Rect(r.left, r.top + 4, r.left + 4, r.bottom - 4)};
    for (const RECT &bar : bars)
        InvertOnDesktop(*FDragPattern, bar);
}

void TToolForm::ComputeTarget(TPoint Pointer) {
    const POINT point = {Pointer.X, Pointer.Y};
    TDockPanel *dockPanel = FPanel->DockPanel();
    FDropDocks = true;
    TToolPanel *lastDocked = nullptr;
    for (int i = 0; i < dockPanel->PanelCount(); ++i) {
        TToolPanel *panel = dockPanel->Panels(i);
        if (!panel->Docked() || !panel->HandleAllocated())
            continue;
        lastDocked = panel;
        RECT r;
        GetWindowRect(panel->Handle(), &r);
        if (PtInRect(&r, point)) {
            FDropPanel = panel;
            FDropRect = Rect(r.left, r.top, r.right, r.top + FPanel->Height());
            return;
        }
    }
    RECT area = {0, 0, 0, 0};
    const bool dockShown = dockPanel->HandleAllocated() && IsWindowVisible(dockPanel->Handle());
    if (dockShown)
        GetWindowRect(dockPanel->Handle(), &area);
    if (!dockShown || !PtInRect(&area, point)) {
        FDropDocks = false;
        FDropPanel = nullptr;
        const RECT floating = FPanel->FloatingRect();
        const int width = floating.right - floating.left, height = floating.bottom - floating.top;
        std::vector<RECT> others;
        for (int i = 0; Screen && i < Screen->FormCount(); ++i) {
            auto *tool = dynamic_cast<TToolForm *>(Screen->Forms(i));
            // Docked tools sit inside the bar: only floating ones are edges to snap to.
            if (!tool || tool == this || tool->Panel()->Docked() || !tool->HandleAllocated() ||
                !IsWindowVisible(tool->Handle()))
                continue;
            RECT r;
            GetWindowRect(tool->Handle(), &r);
            others.push_back(r);
        }
        RECT main;
        const RECT *mainWindow = nullptr;
        if (Application && Application->MainForm() && Application->MainForm()->HandleAllocated()) {
            GetWindowRect(Application->MainForm()->Handle(), &main);
            mainWindow = &main;
        }
        const TPoint snapped = SnapToolPosition(FDragOrigin.X + Pointer.X - FDragStart.X,
                                                FDragOrigin.Y + Pointer.Y - FDragStart.Y, width, height,
                                                others, mainWindow, GetSystemMetrics(SM_CXFRAME),
                                                GetSystemMetrics(SM_CYFRAME), GetSystemMetrics(SM_CYCAPTION));
        FDropRect = Rect(snapped.X, snapped.Y, snapped.X + width, snapped.Y + height);
        return;
    }
    FDropPanel = nullptr;
    if (lastDocked) {
        RECT last;
        GetWindowRect(lastDocked->Handle(), &last);
        area.top = last.bottom;
    }
    area.bottom = area.top + FPanel->Height();
    FDropRect = area;
}

void TToolForm::DragMoveTo(TPoint Pointer) {
    if (FDragState == 1) {
        const int threshold = Mouse.DragThreshold();
        if (std::abs(Pointer.X - FDragStart.X) <= threshold &&
            std::abs(Pointer.Y - FDragStart.Y) <= threshold)
            return;
        FDragState = 2;
        FUpdatesLocked = LockWindowUpdate(GetDesktopWindow()) != FALSE;
        ComputeTarget(Pointer);
        DrawDragFrame();
        return;
    }
    const RECT old = FDropRect;
    ComputeTarget(Pointer);
    if (!EqualRect(&old, &FDropRect)) {
        const RECT fresh = FDropRect;
        FDropRect = old;
        DrawDragFrame();
        FDropRect = fresh;
        DrawDragFrame();
    }
}

void TToolForm::EndToolDrag() {
    FDragPattern.reset();
    if (FUpdatesLocked)
        LockWindowUpdate(nullptr);
    FUpdatesLocked = false;
    FDragState = 0;
    if (FHandle && GetCapture() == FHandle)
        ReleaseCapture();
}

void TToolForm::DragDropAt(TPoint Pointer) {
    if (FDragState == 2) {
        DrawDragFrame();
        ComputeTarget(Pointer);
        if (FDropDocks) {
            TDockPanel *dockPanel = FPanel->DockPanel();
            std::vector<TToolPanel *> floating;
            for (int i = 0; i < dockPanel->PanelCount(); ++i)
                if (!dockPanel->Panels(i)->Docked())
                    floating.push_back(dockPanel->Panels(i));
            for (TToolPanel *panel : floating)
                panel->SetIndex(dockPanel->PanelCount() - 1);
            FPanel->SetIndex(FDropPanel ? FDropPanel->Index() : dockPanel->PanelCount() - 1);
        } else {
            FPanel->SetFloatingRect(FDropRect);
        }
        // Posted: the form that handles this mouse message is freed and made again there.
        PostMessageA(FPanel->Handle(), WM_TOOLDOCK, FDropDocks ? 1 : 0, 0);
    }
    EndToolDrag();
}

void TToolForm::MouseMove(TShiftState Shift, int X, int Y) {
    TForm::MouseMove(Shift, X, Y);
    if (FDragState != 0)
        DragMoveTo(ClientToScreen({X, Y}));
}

void TToolForm::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_LBUTTONUP:
        if (FDragState != 0) {
            // Handled before the capture goes, so that losing it does not cancel the drop.
            POINT pos = {static_cast<short>(LOWORD(Message.LParam)),
                         static_cast<short>(HIWORD(Message.LParam))};
            ::ClientToScreen(FHandle, &pos);
            DragDropAt({pos.x, pos.y});
        }
        break;
    case WM_CAPTURECHANGED:
        FPanel->HelpButton().SetDown(false);
        // The capture taken away mid-drag (another window, a system dialog): the drag ends
        // without moving anything, so that the desktop is never left locked.
        if (FDragState != 0 && reinterpret_cast<HWND>(Message.LParam) != FHandle) {
            if (FDragState == 2)
                DrawDragFrame();
            EndToolDrag();
        }
        break;
    case WM_SYSCOMMAND:
        if (Message.WParam == 1 || Message.WParam == 2) {
            FPanel->SetOpacity(FPanel->Opacity() + (Message.WParam == 1 ? 16 : -16));
            Message.Result = 0;
            return;
        }
        break;
    case WM_NCLBUTTONDOWN:
        if (Message.WParam == HTCAPTION && !FPanel->Docked()) {
            SetWindowPos(FHandle, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER);
            PostMessageA(FHandle, WM_NCLBUTTONUP, HTCAPTION, Message.LParam);
            BeginToolDrag(
                {static_cast<short>(LOWORD(Message.LParam)), static_cast<short>(HIWORD(Message.LParam))});
            Message.Result = 0;
            return;
        }
        break;
    default:
        break;
    }
    TForm::WndProc(Message);
    if (Message.Msg == WM_SETTEXT && FPanel->FToolForm == this)
        FPanel->InvalidateCaption();
}
