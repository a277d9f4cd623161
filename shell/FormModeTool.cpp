#include "FormModeTool.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "FracCompute.h"
#include "FracInteractive.h"
#include "FracManager.h"
#include "FracMapping.h"
#include "ShellToolForms.h"
#include "FractalWindowHost.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "SelectArea.h"

// The surface a preview bitmap draws on: it sits inside the framed preview panel, so that the
// bitmap, which always draws at the window's origin, leaves the frame alone.
class TPreviewSurface : public TCustomControl {
public:
    explicit TPreviewSurface(TComponent *AOwner) : TCustomControl(AOwner) {}
    TBaseBitmap *Bitmap = nullptr;

protected:
    void Paint() override {
        RECT client = ClientRect();
        if (Bitmap && Bitmap->Width() > 0) {
            TScopeLock<TBaseBitmap> guard(*Bitmap);
            Bitmap->BlitTo(Canvas().Handle(), client, 0, 0);
        } else {
            Canvas().Brush().SetColor(clBtnFace);
            Canvas().FillRect(client);
        }
    }
};

namespace {

const char *const FormName = "TModeToolForm";
const char *const NothingAssigned = "(nothing assigned)";
const char *const ContainsErrors = "Contains errors.";
// The page control's tabs lie above the window's top edge.
constexpr int TabsHeight = 25;
constexpr int PageLeft = 40;

// Mouse-option click kinds in the order their names are tried, with the names' modifier parts.
constexpr const char *KindNames[kMouseKindCount] = {"",       "Shift + ",        "Ctrl + ",
                                                    "Alt + ", "Shift + Ctrl + ", "Ctrl + Alt + "};

TFractalWindowHost *ActiveHost() {
    TFractalManager *manager = FractalManager();
    return manager ? manager->ActiveHost() : nullptr;
}

TAdvSpeedButton *MakeButton(TWinControl *Parent, int Group, const char *Caption, const char *Hint, int Left,
                            int Top, int Width, int Height) {
    auto *button = new TAdvSpeedButton(Parent);
    button->SetParent(Parent);
    button->SetGroupIndex(Group);
    button->SetCaption(Caption);
    button->SetHint(Hint);
    button->SetFlat(true);
    button->SetBounds(Left, Top, Width, Height);
    return button;
}

struct TButtonEntry {
    TAdvSpeedButton **Target;
    const char *Caption;
    const char *Hint;
};

// A column of buttons of one group, Step pixels apart, each clicking Click; the first one down.
void MakeButtonColumn(TWinControl *Parent, int Group, int Left, int Top, int Size, int Step,
                      const TNotifyEvent &Click, std::initializer_list<TButtonEntry> Buttons) {
    for (const TButtonEntry &entry : Buttons) {
        *entry.Target = MakeButton(Parent, Group, entry.Caption, entry.Hint, Left, Top, Size, Size);
        (*entry.Target)->OnClick = Click;
        Top += Step;
    }
    (*Buttons.begin()->Target)->SetDown(true);
}

TLabel *MakeLabel(TWinControl *Parent, const char *Caption, int Left, int Top) {
    auto *label = new TLabel(Parent);
    label->SetParent(Parent);
    label->SetCaption(Caption);
    label->SetLeft(Left);
    label->SetTop(Top);
    return label;
}

TAdvPanel *MakeDisplay(TWinControl *Parent) {
    auto *display = new TAdvPanel(Parent);
    display->SetParent(Parent);
    display->SetBevelOuter(bvLowered);
    display->SetBevelWidth(2);
    display->SetCaption("");
    return display;
}

} // namespace

std::string MouseGestureText(const TFractalConfiguration &Options, int Action) {
    for (int kind = 0; kind < kMouseKindCount; ++kind) {
        if (Options.GetMouseLeft(kind) == Action)
            return std::string(KindNames[kind]) + "Left-drag";
        if (Options.GetMouseRight(kind) == Action)
            return std::string(KindNames[kind]) + "Right-drag";
    }
    return NothingAssigned;
}

SIZE FitPreviewSize(double Aspect, int RoomWidth, int RoomHeight) {
    RoomWidth = std::max(RoomWidth, 1);
    RoomHeight = std::max(RoomHeight, 1);
    if (!(Aspect > 0))
        Aspect = 1;
    if (Aspect <= static_cast<double>(RoomWidth) / RoomHeight)
        return SIZE{std::clamp(static_cast<int>(std::lround(RoomHeight * Aspect)), 1, RoomWidth), RoomHeight};
    return SIZE{RoomWidth, std::clamp(static_cast<int>(std::lround(RoomWidth / Aspect)), 1, RoomHeight)};
}

TModeToolForm::TModeToolForm(TToolPanel *APanel) : TToolForm(APanel) {
    SetName(FormName);
    SetCaption("Fractal Mode");
    SetClientSize(233, 102);
    Constraints().SetMinWidth(233);
    Constraints().SetMinHeight(102);

    ButtonPanel = new TAdvPanel(this);
    ButtonPanel->SetParent(this);
    ButtonPanel->SetBevelOuter(bvNone);
    ButtonPanel->SetBounds(0, 0, PageLeft - 6, 102);
    ButtonPanel->SetCaption("");
    MakeButtonColumn(ButtonPanel, 1, 4, 4, 25, 28, MakeNotifyEvent<&TModeToolForm::ModeButtonClick>(this),
                     {{&NormalButton, "N", "Normal Mode|"},
                      {&SelectButton, "S", "Select Mode|"},
                      {&SwitchButton, "W", "Switch Mode|"}});

    Bevel = new TPanel(this);
    Bevel->SetParent(this);
    Bevel->SetBevelOuter(bvLowered);
    Bevel->SetCaption("");
    Bevel->SetBounds(PageLeft - 5, 3, 2, 102 - 7);

    PageControl = new TAdvPageControl(this);
    PageControl->SetParent(this);
    PageControl->SetBounds(PageLeft, -TabsHeight, 233 - PageLeft, 102 + TabsHeight);
    // Its tabs are out of sight: the keyboard would focus nothing a user can see.
    PageControl->SetTabStop(false);
    NormalTab = new TTabSheet(PageControl);
    NormalTab->SetPageControl(PageControl);
    SelectTab = new TTabSheet(PageControl);
    SelectTab->SetPageControl(PageControl);
    SwitchTab = new TTabSheet(PageControl);
    SwitchTab->SetPageControl(PageControl);

    const char *names[] = {"Zoom:", "Pan:", "Rotate:", "Stretch:", "Skew:"};
    TLabel **values[] = {&ZoomValue, &PanValue, &RotateValue, &StretchValue, &SkewValue};
    for (int i = 0; i < 5; ++i) {
        MakeLabel(NormalTab, names[i], 4, 4 + i * 17);
        *values[i] = MakeLabel(NormalTab, "", 56, 4 + i * 17);
    }

    MakeButtonColumn(SelectTab, 2, 2, 2, 23, 24, MakeNotifyEvent<&TModeToolForm::SelectActionClick>(this),
                     {{&SelectZoomInButton, "In", "Zoom In|"},
                      {&SelectZoomOutButton, "Out", "Zoom Out|"},
                      {&SelectCropButton, "Crop", "Crop|"}});
    MakeButtonColumn(SelectTab, 3, 27, 2, 23, 24, MakeNotifyEvent<&TModeToolForm::SelectModeClick>(this),
                     {{&SelectResizeButton, "R", "Resize fractal to match aspect ratio of selection box|"},
                      {&SelectStretchButton, "St", "Stretch fractal to fit selection box|"}});
    SelectApplyButton = MakeButton(SelectTab, 0, "OK", "Apply|", 27, 50, 23, 23);
    SelectApplyButton->OnClick = MakeNotifyEvent<&TModeToolForm::SelectApplyClick>(this);
    SelectDisplay = MakeDisplay(SelectTab);
    FSelectSurface = new TPreviewSurface(SelectDisplay);
    FSelectSurface->SetParent(SelectDisplay);

    SwitchDisplay = MakeDisplay(SwitchTab);
    SwitchDisplay->OnPaint = MakeNotifyEvent<&TModeToolForm::SwitchDisplayPaint>(this);
    FSwitchSurface = new TPreviewSurface(SwitchDisplay);
    FSwitchSurface->SetParent(SwitchDisplay);
    FSwitchSurface->Hide();

    SwitchTimer = new TTimer(this);
    SwitchTimer->SetEnabled(false);
    SwitchTimer->SetInterval(250);
    SwitchTimer->SetOnTimer(MakeNotifyEvent<&TModeToolForm::SwitchTimerTick>(this));

    if (TFractalManager *manager = FractalManager())
        manager->Subscribe(FractalEventSet({fekInteraction}),
                           MakeNotifyEvent<&TModeToolForm::ManagerChanged>(this));
    if (TConfigManager *config = ConfigManager()) {
        config->AddHandler(MakeNotifyEvent<&TModeToolForm::ConfigChanged>(this));
        const int action = config->ReadFormInteger(FormName, "SelectAction", saZoomIn);
        if (action == saZoomOut)
            SelectZoomOutButton->SetDown(true);
        else if (action == saCrop)
            SelectCropButton->SetDown(true);
    }
    ApplyFont();
    UpdateTool();
}

TModeToolForm::~TModeToolForm() {
    if (TConfigManager *config = ConfigManager()) {
        config->WriteFormInteger(FormName, "SelectAction", GetSelectAction());
        config->RemoveHandler(MakeNotifyEvent<&TModeToolForm::ConfigChanged>(this));
    }
    LeavePage();
    if (TFractalManager *manager = FractalManager())
        manager->Unsubscribe(MakeNotifyEvent<&TModeToolForm::ManagerChanged>(this));
}

int TModeToolForm::GetSelectAction() const {
    if (SelectZoomOutButton->Down())
        return saZoomOut;
    if (SelectCropButton->Down())
        return saCrop;
    return saZoomIn;
}

void TModeToolForm::ApplyFont() {
    ApplyInterfaceFont(Font());
}

void TModeToolForm::ConfigChanged(TObject *Sender) {
    ApplyFont();
    UpdateTool();
}

void TModeToolForm::ManagerChanged(TObject *Sender) {
    // A notification handler is a border: nothing may unwind into the manager's other subscribers.
    try {
        UpdateTool();
    } catch (const Exception &) {
        LeavePage();
    }
}

void TModeToolForm::Resize() {
    TToolForm::Resize();
    // Sizes set while the form is being built come before its controls.
    if (!SwitchTimer)
        return;
    const int width = ClientWidth(), height = ClientHeight();
    const int left = ScaleForScreenFont(PageLeft), tabs = ScaleForScreenFont(TabsHeight);
    ButtonPanel->SetHeight(height);
    Bevel->SetBounds(left - ScaleForScreenFont(5), Bevel->Top(), Bevel->Width(),
                     height - ScaleForScreenFont(7));
    PageControl->SetBounds(left, -tabs, width - left, height + tabs);
    UpdateTool();
}

// --- Update ------------------------------------------------------------------------------------

void TModeToolForm::UpdateTool() {
    TFractalWindowHost *host = ActiveHost();
    for (TAdvSpeedButton *button : {NormalButton, SelectButton, SwitchButton})
        button->SetEnabled(host != nullptr);
    PageControl->SetVisible(host != nullptr);
    if (!host) {
        SetCaption("Fractal Mode");
        LeavePage();
        return;
    }
    SetCaption("Fractal Mode - " + host->HostFractal()->GetTitle());
    const int mode = GetMouseMode();
    const int page = mode == mmoSelect ? mpSelect : mode == mmoSwitch ? mpSwitch : mpNormal;
    // The previews belong to one window's fractal: another window shows its page afresh.
    if (page != FShownPage || host != FPageHost) {
        LeavePage();
        FShownPage = page;
        FPageHost = host;
        PageControl->SetActivePageIndex(page);
    }
    switch (page) {
    case mpSelect:
        FillSelectPage(*host);
        break;
    case mpSwitch:
        FillSwitchPage(*host);
        break;
    default:
        FillNormalPage();
        break;
    }
}

void TModeToolForm::LeavePage() {
    if (FShownPage == mpSelect) {
        // The manager stops before the bitmap it draws into goes.
        FSelectManager.reset();
        FSelectSurface->Bitmap = nullptr;
        FSelectBitmap.reset();
        FSelectRects.reset();
        FSelectSize = SIZE{0, 0};
        if (TFractalManager *manager = FractalManager())
            manager->ChangeEvents(MakeNotifyEvent<&TModeToolForm::ManagerChanged>(this),
                                  FractalEventSet({fekInteraction}));
    } else if (FShownPage == mpSwitch) {
        SwitchTimer->SetEnabled(false);
        FSwitchMessage.clear();
        FSwitchSurface->Bitmap = nullptr;
        FSwitchSurface->Hide();
        if (FSwitchPreview)
            FSwitchPreview->GetBitmap().SetWindow(nullptr);
        FSwitchPreview.reset();
        FSwitchErrors = false;
        FSwitchPointValid = false;
        FSwitchSize = SIZE{0, 0};
    }
    FShownPage = -1;
    FPageHost = nullptr;
}

void TModeToolForm::CenterDisplay(TAdvPanel &Display, TTabSheet &Page, SIZE Size) {
    const int width = Size.cx + 4, height = Size.cy + 4;
    const int left = std::max(0, (Page.ClientWidth() - width) / 2);
    const int top = std::max(0, (Page.ClientHeight() - height) / 2);
    Display.SetBounds(left, top, width, height);
}

// --- Normal page -------------------------------------------------------------------------------

void TModeToolForm::FillNormalPage() {
    NormalButton->SetDown(true);
    TConfigManager *config = ConfigManager();
    if (!config)
        return;
    const TFractalConfiguration &options = *config->Fractal;
    ZoomValue->SetCaption(MouseGestureText(options, 3));
    PanValue->SetCaption(MouseGestureText(options, 2));
    RotateValue->SetCaption(MouseGestureText(options, 4));
    StretchValue->SetCaption(MouseGestureText(options, 5));
    SkewValue->SetCaption(MouseGestureText(options, 6));
}

// --- Select page -------------------------------------------------------------------------------

void TModeToolForm::FillSelectPage(TFractalWindowHost &Host) {
    SelectButton->SetDown(true);
    TSelectArea *box = SelectArea();
    TInteractiveFractal &fractal = *Host.HostFractal();
    if (TFractalManager *manager = FractalManager())
        manager->ChangeEvents(MakeNotifyEvent<&TModeToolForm::ManagerChanged>(this),
                              FractalEventSet({fekInteraction, fekFractal, fekProgress}));
    const int action = GetSelectAction();
    const bool crop = action == saCrop;
    const bool stretchMode = box && box->GetStretch();
    SelectResizeButton->SetEnabled(!crop);
    SelectStretchButton->SetEnabled(!crop);
    if (!crop)
        (stretchMode ? SelectStretchButton : SelectResizeButton)->SetDown(true);

    if (!FSelectManager) {
        FSelectRects = std::make_unique<TUpdateRectList>();
        FSelectBitmap = std::make_unique<TDirectBitmap>();
        FSelectManager =
            TUpdateManager::Create(FSelectRects.get(), FSelectBitmap.get(), &fractal.GetLayers());
        FSelectSurface->Bitmap = FSelectBitmap.get();
        FSelectBitmap->SetWindow(FSelectSurface->Handle());
    }

    double aspect = stretchMode && !crop ? 1.0 : (box ? box->GetStretchValue() : 1.0);
    if (action == saZoomOut)
        aspect = 1 / aspect;
    const int width = fractal.GetWidth(), height = std::max(fractal.GetHeight(), 1);
    aspect = width * aspect / height;
    FSelectSize = FitPreviewSize(aspect, SelectTab->ClientWidth() - ScaleForScreenFont(55),
                                 SelectTab->ClientHeight() - ScaleForScreenFont(6));
    FSelectManager->SetSize(FSelectSize.cx, FSelectSize.cy);
    if (box && box->GetWindow() == &Host) {
        std::unique_ptr<TAnimatedCorners> corners = box->GetCorners(true);
        if (action == saZoomOut)
            corners->Invert();
        FSelectManager->View().Assign(*corners);
    }
    FSelectManager->SetForceTransform(crop);
    FSelectManager->InvalidateAll();

    // The room left of the action buttons, centred there.
    const int buttons = ScaleForScreenFont(55);
    const int roomWidth = SelectTab->ClientWidth() - buttons;
    SelectDisplay->SetBounds(
        buttons + std::max(0, (roomWidth - static_cast<int>(FSelectSize.cx) - 4) / 2),
        std::max(0, (SelectTab->ClientHeight() - static_cast<int>(FSelectSize.cy) - 4) / 2),
        FSelectSize.cx + 4, FSelectSize.cy + 4);
    FSelectSurface->SetBounds(2, 2, FSelectSize.cx, FSelectSize.cy);
}

void TModeToolForm::SelectActionClick(TObject *Sender) {
    UpdateTool();
}

void TModeToolForm::SelectModeClick(TObject *Sender) {
    if (TSelectArea *box = SelectArea())
        box->SetStretch(Sender == SelectStretchButton);
    UpdateTool();
}

void TModeToolForm::SelectApplyClick(TObject *Sender) {
    TFractalWindowHost *host = ActiveHost();
    if (!host)
        return;
    switch (GetSelectAction()) {
    case saZoomOut:
        host->HostSelectZoomOut();
        break;
    case saCrop:
        host->HostSelectCrop();
        break;
    default:
        host->HostSelectZoomIn();
        break;
    }
}

// --- Switch page -------------------------------------------------------------------------------

void TModeToolForm::MakeSwitchPreview(TFractalWindowHost &Host) {
    TLayer *active = Host.HostFractal()->GetActiveLayer();
    if (!active)
        return;
    const TFractalConfiguration *options = ConfigManager() ? ConfigManager()->Fractal.get() : nullptr;
    const int switchOptions = options ? options->SwitchOptions : 0;
    BeginWaitCursor();
    try {
        auto preview = std::make_unique<TFractal>();
        TLayer &layer = preview->GetLayers().Items(0);
        TFormula &formula = layer.GetFormula();
        bool errors = false;
        layer.BeginUpdate();
        try {
            try {
                formula.SetSource(active->GetFormula().GetFileName(), active->GetFormula().GetSwitchType());
            } catch (const Exception &) {
                // A switch formula that cannot be found shows as one with errors.
                errors = true;
            }
            if (switchOptions & soOriginalColoring) {
                layer.GetOutsideColoring().CopyFrom(active->GetOutsideColoring());
                layer.GetInsideColoring().CopyFrom(active->GetInsideColoring());
            }
            if (switchOptions & soOriginalGradient)
                layer.GetGradient().CopyFrom(active->GetGradient());
            errors = errors || formula.GetHasError() || layer.GetOutsideColoring().GetHasError() ||
                     layer.GetInsideColoring().GetHasError();
            layer.ResetLocation();
        } catch (...) {
            layer.EndUpdate();
            throw;
        }
        layer.EndUpdate();
        FSwitchErrors = errors;
        FSwitchPreview = std::move(preview);
    } catch (...) {
        EndWaitCursor();
        throw;
    }
    EndWaitCursor();
    FSwitchMessage = FSwitchErrors ? ContainsErrors : "";
    SwitchDisplay->Invalidate();
}

void TModeToolForm::FillSwitchPage(TFractalWindowHost &Host) {
    SwitchButton->SetDown(true);
    if (!FSwitchPreview)
        MakeSwitchPreview(Host);
    UpdateSwitchPreview();
    SwitchTimer->SetEnabled(true);
}

void TModeToolForm::UpdateSwitchPreview() {
    TFractalWindowHost *host = ActiveHost();
    if (!host || !FSwitchPreview)
        return;
    TInteractiveFractal &fractal = *host->HostFractal();
    const TFractalConfiguration *options = ConfigManager() ? ConfigManager()->Fractal.get() : nullptr;
    double aspect = 4.0 / 3;
    if (options && !(options->SwitchOptions & soOriginalSize))
        aspect = static_cast<double>(options->DefaultWidth) / std::max(options->DefaultHeight, 1);
    else if (fractal.GetHeight() > 0)
        aspect = static_cast<double>(fractal.GetWidth()) / fractal.GetHeight();
    const SIZE size = FitPreviewSize(aspect, SwitchTab->ClientWidth() - ScaleForScreenFont(8),
                                     SwitchTab->ClientHeight() - ScaleForScreenFont(6));
    if (size.cx != FSwitchSize.cx || size.cy != FSwitchSize.cy) {
        FSwitchSize = size;
        FSwitchPreview->SetImageSize(size.cx, size.cy);
        FSwitchPointValid = false;
    }
    CenterDisplay(*SwitchDisplay, *SwitchTab, FSwitchSize);
    FSwitchSurface->SetBounds(2, 2, FSwitchSize.cx, FSwitchSize.cy);
    if (FSwitchErrors)
        return;

    TWinControl *display = host->HostDisplay();
    const TPoint pointer = display->ScreenToClient(Mouse.CursorPos());
    const bool inside =
        pointer.X >= 0 && pointer.Y >= 0 && pointer.X < fractal.GetWidth() && pointer.Y < fractal.GetHeight();
    if (!inside) {
        // Off the image: the preview shows nothing.
        FSwitchPreview->GetBitmap().SetWindow(nullptr);
        FSwitchSurface->Bitmap = nullptr;
        FSwitchSurface->Hide();
        FSwitchPointValid = false;
        SwitchDisplay->Invalidate();
        return;
    }
    if (FSwitchPointValid && FSwitchPoint.x == pointer.X && FSwitchPoint.y == pointer.Y)
        return;
    FSwitchPoint = POINT{pointer.X, pointer.Y};
    FSwitchPointValid = true;
    TLayer *active = fractal.GetActiveLayer();
    if (!active)
        return;
    TComplexValue c;
    active->GetMapping().PointToLocation(c, pointer.X, pointer.Y);
    FSwitchSurface->Bitmap = &FSwitchPreview->GetBitmap();
    FSwitchSurface->Show();
    FSwitchPreview->GetBitmap().SetWindow(FSwitchSurface->Handle());
    FSwitchPreview->GetLayers().Items(0).GetFormula().ApplySwitch(active->GetFormula(), c, true);
}

void TModeToolForm::SwitchTimerTick(TObject *Sender) {
    if (FShownPage != mpSwitch) {
        SwitchTimer->SetEnabled(false);
        return;
    }
    try {
        UpdateSwitchPreview();
    } catch (const Exception &) {
        SwitchTimer->SetEnabled(false);
    }
}

void TModeToolForm::SwitchDisplayPaint(TObject *Sender) {
    if (FSwitchMessage.empty())
        return;
    TCanvas &canvas = SwitchDisplay->Canvas();
    RECT client = SwitchDisplay->ClientRect();
    canvas.Brush().SetStyle(bsClear);
    canvas.TextRect(client, FSwitchMessage, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_WORDBREAK);
}

// --- Mode buttons ------------------------------------------------------------------------------

void TModeToolForm::ModeButtonClick(TObject *Sender) {
    TFractalWindowHost *host = ActiveHost();
    if (!host)
        return;
    if (Sender == SelectButton)
        host->HostSetMouseMode(mmoSelect);
    else if (Sender == SwitchButton)
        host->HostSetMouseMode(mmoSwitch);
    else
        host->HostSetMouseMode(mmoNormal);
    UpdateTool();
}
