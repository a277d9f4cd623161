#include "ColorCycling.h"

#include <algorithm>
#include <cmath>

#include "FormFractal.h"
#include "FracGradient.h"
#include "FracLayer.h"
#include "FracManager.h"
#include "GenSetup.h"

namespace {

TColorCyclingManager *Manager = nullptr;

// The gradient's circle of positions.
constexpr int RotationSteps = 400;
constexpr int RotationLow = -200;
constexpr int RotationHigh = 200; // exclusive

// The track bar's scale: speed = e^(SpeedScale × position).
constexpr double SpeedScale = 0.03;

TFractalConfiguration *FractalOptions() {
    TConfigManager *config = ConfigManager();
    return config ? config->Fractal.get() : nullptr;
}

TInteractiveFractal *ActiveFractal() {
    TFractalManager *manager = FractalManager();
    if (!manager || !manager->ActiveFractal())
        return nullptr;
    return &manager->ActiveFractal()->Fractal();
}

} // namespace

int CycledRotation(int Rotation, int Steps) {
    int result = Rotation - Steps;
    while (result < RotationLow)
        result += RotationSteps;
    while (result >= RotationHigh)
        result -= RotationSteps;
    return result;
}

void CycleLayers(TLayerList &Layers, int Steps) {
    for (int i = 0; i < Layers.Count(); ++i) {
        TLayer &layer = Layers.Items(i);
        if (!layer.GetEditable())
            continue;
        TGradientColorItems &colors = layer.GetGradient().ColorItems();
        colors.SetRotation(CycledRotation(colors.Rotation(), Steps));
    }
}

int CyclingSpeedOfPosition(int Position) {
    return std::clamp(static_cast<int>(std::lround(std::exp(SpeedScale * Position))),
                      TColorCyclingManager::MinSpeed, TColorCyclingManager::MaxSpeed);
}

int CyclingPositionOfSpeed(int Speed) {
    return static_cast<int>(std::lround(std::log(static_cast<double>(Speed)) / SpeedScale));
}

// =============================================================================================
// TColorCyclingManager

TColorCyclingManager::TColorCyclingManager() {
    // A stored speed outside the track bar's range (0 would take the logarithm of zero) is held
    // to it.
    if (const TFractalConfiguration *options = FractalOptions())
        FSpeed = std::clamp(options->ColorCyclingSpeed, MinSpeed, MaxSpeed);
}

TColorCyclingManager::~TColorCyclingManager() {
    try {
        Stop();
    } catch (...) {
    }
}

void TColorCyclingManager::SetDirection(std::uint8_t Direction) {
    if (Direction == cdStopped) {
        Stop();
        return;
    }
    if (Direction == FDirection)
        return;
    const bool starting = FDirection == cdStopped;
    FDirection = Direction;
    if (starting) {
        FTimer = std::make_unique<TTimer>(nullptr);
        FTimer->SetInterval(TickInterval);
        FTimer->SetOnTimer(MakeNotifyEvent<&TColorCyclingManager::TimerTick>(this));
        FTimer->SetEnabled(true);
        if (Application)
            Application->AddMessageFilter(MakeEvent<&TColorCyclingManager::AppMessage>(this));
    }
    Notify();
}

void TColorCyclingManager::Stop() {
    if (FDirection == cdStopped)
        return;
    FTimer.reset();
    if (Application)
        Application->RemoveMessageFilter(MakeEvent<&TColorCyclingManager::AppMessage>(this));
    FDirection = cdStopped;
    Notify();
}

void TColorCyclingManager::SetSpeed(int Speed) {
    Speed = std::clamp(Speed, MinSpeed, MaxSpeed);
    if (Speed == FSpeed)
        return;
    FSpeed = Speed;
    if (TFractalConfiguration *options = FractalOptions())
        options->ColorCyclingSpeed = Speed;
    Notify();
}

void TColorCyclingManager::AddWindow(HWND Window) {
    if (Window && !IsExempt(Window))
        FExemptWindows.push_back(Window);
}

void TColorCyclingManager::RemoveWindow(HWND Window) {
    FExemptWindows.erase(std::remove(FExemptWindows.begin(), FExemptWindows.end(), Window),
                         FExemptWindows.end());
}

bool TColorCyclingManager::IsExempt(HWND Window) const {
    return std::find(FExemptWindows.begin(), FExemptWindows.end(), Window) != FExemptWindows.end();
}

void TColorCyclingManager::Tick() {
    if (FDirection == cdStopped)
        return;
    const int steps = FDirection == cdBackward ? -FSpeed : FSpeed;
    if (TInteractiveFractal *fractal = ActiveFractal())
        CycleLayers(fractal->GetLayers(), steps);
}

void TColorCyclingManager::TimerTick(TObject *) {
    try {
        Tick();
    } catch (...) {
        // A failing step stops cycling rather than failing every 50 ms.
        Stop();
        throw;
    }
}

void TColorCyclingManager::AppMessage(MSG &Msg, bool &) {
    switch (Msg.message) {
    case WM_KEYDOWN:
        Stop();
        break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
    case WM_NCRBUTTONDOWN:
    case WM_NCMBUTTONDOWN:
        if (!IsExempt(Msg.hwnd))
            Stop();
        break;
    default:
        break;
    }
}

TColorCyclingManager *ColorCyclingManager() {
    return Manager;
}

void InitializeColorCycling() {
    if (!Manager)
        Manager = new TColorCyclingManager();
}

void FinalizeColorCycling() {
    delete Manager;
    Manager = nullptr;
}

// =============================================================================================
// TCyclingToolForm

namespace {

constexpr int ToolMinWidth = 145;
constexpr int ToolHeight = 31;

} // namespace

TCyclingToolForm::TCyclingToolForm(TToolPanel *APanel) : TToolForm(APanel) {
    SetName("TCyclingToolForm");
    SetCaption("Color Cycling");
    SetClientSize(ToolMinWidth + 35, ToolHeight);
    Panel = new TPanel(this);
    Panel->SetParent(this);
    Panel->SetAlign(alClient);
    Panel->SetBevelOuter(bvNone);
    const TNotifyEvent click = MakeNotifyEvent<&TCyclingToolForm::ButtonClick>(this);
    int left = 4;
    for (TSpeedButton **button : {&BackwardButton, &ForwardButton}) {
        *button = new TSpeedButton(Panel);
        (*button)->SetParent(Panel);
        (*button)->SetBounds(left, 4, 23, 22);
        (*button)->SetFlat(true);
        (*button)->SetGroupIndex(1);
        (*button)->SetAllowAllUp(true);
        (*button)->SetShowHint(true);
        (*button)->OnClick = click;
        left += 23;
    }
    BackwardButton->SetCaption("<<");
    BackwardButton->SetHint("Cycle Backward|");
    ForwardButton->SetCaption(">>");
    ForwardButton->SetHint("Cycle Forward|");
    SpeedTrackBar = new TAdvTrackBar(Panel);
    SpeedTrackBar->SetParent(Panel);
    SpeedTrackBar->SetMin(0);
    SpeedTrackBar->SetMax(100);
    SpeedTrackBar->SetBounds(left + 6, 4, 120, 22);
    SpeedTrackBar->SetHint("Speed|");
    SpeedTrackBar->SetShowHint(true);
    SpeedTrackBar->OnChange = MakeNotifyEvent<&TCyclingToolForm::TrackBarChange>(this);
    if (TColorCyclingManager *manager = ColorCyclingManager()) {
        manager->AddHandler(MakeNotifyEvent<&TCyclingToolForm::UpdateControls>(this));
        // Pressing the track bar presses its panel's window.
        manager->AddWindow(Handle());
        manager->AddWindow(Panel->Handle());
    }
    if (FractalManager())
        FractalManager()->Subscribe(FractalEventSet({fekInteraction, fekFractal}),
                                    MakeNotifyEvent<&TCyclingToolForm::UpdateControls>(this));
    UpdateControls();
}

TCyclingToolForm::~TCyclingToolForm() {
    if (TColorCyclingManager *manager = ColorCyclingManager()) {
        manager->RemoveHandler(MakeNotifyEvent<&TCyclingToolForm::UpdateControls>(this));
        if (HandleAllocated())
            manager->RemoveWindow(Handle());
        if (Panel && Panel->HandleAllocated())
            manager->RemoveWindow(Panel->Handle());
    }
    if (FractalManager())
        FractalManager()->Unsubscribe(MakeNotifyEvent<&TCyclingToolForm::UpdateControls>(this));
}

void TCyclingToolForm::UpdateControls(TObject *) {
    TColorCyclingManager *manager = ColorCyclingManager();
    TFractalManager *fractals = FractalManager();
    TFractalForm *active = fractals ? fractals->ActiveFractal() : nullptr;
    const std::string caption =
        active ? "Color Cycling - " + active->Fractal().GetTitle() : std::string("Color Cycling");
    if (Caption() != caption)
        SetCaption(caption);
    FUpdating = true;
    BackwardButton->SetEnabled(active != nullptr);
    ForwardButton->SetEnabled(active != nullptr);
    SpeedTrackBar->SetEnabled(active != nullptr);
    const std::uint8_t direction = manager ? manager->GetDirection() : TColorCyclingManager::cdStopped;
    BackwardButton->SetDown(direction == TColorCyclingManager::cdBackward);
    ForwardButton->SetDown(direction == TColorCyclingManager::cdForward);
    if (manager && CyclingSpeedOfPosition(SpeedTrackBar->Position()) != manager->GetSpeed())
        SpeedTrackBar->SetPosition(CyclingPositionOfSpeed(manager->GetSpeed()));
    FUpdating = false;
}

void TCyclingToolForm::ButtonClick(TObject *Sender) {
    TColorCyclingManager *manager = ColorCyclingManager();
    if (FUpdating || !manager)
        return;
    auto *button = static_cast<TSpeedButton *>(Sender);
    if (!button->Down())
        manager->Stop();
    else if (button == BackwardButton)
        manager->CycleBackward();
    else
        manager->CycleForward();
}

void TCyclingToolForm::TrackBarChange(TObject *) {
    if (!FUpdating && ColorCyclingManager())
        ColorCyclingManager()->SetSpeed(CyclingSpeedOfPosition(SpeedTrackBar->Position()));
}
