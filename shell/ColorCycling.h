// Colour cycling: the gradients of the active fractal's editable layers turn a few steps every
// 50 ms, so that only the colours change and nothing is calculated again. Cycling stops at a key
// press or a mouse press anywhere but in the windows that are exempt (the tool window's own).
// The Color Cycling tool window of the dock bar starts and stops it and sets the speed.
//
// Threads: the interface thread only (the timer is a window timer).
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "AdvBars.h"
#include "Buttons.h"
#include "TrackBar.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "GenClasses.h"

class TLayerList;

class TColorCyclingManager : public TNotificationManager {
public:
    DECLARE_CLASS_NAME(TColorCyclingManager)
    // Directions.
    static constexpr std::uint8_t cdStopped = 0, cdBackward = 1, cdForward = 2;
    static constexpr UINT TickInterval = 50;
    // Gradient steps per tick.
    static constexpr int MinSpeed = 1, MaxSpeed = 20;

    // The speed comes from the Fractal option ColorCyclingSpeed, held to MinSpeed..MaxSpeed.
    TColorCyclingManager();
    // Stops cycling.
    ~TColorCyclingManager() override;

    std::uint8_t GetDirection() const { return FDirection; }
    int GetSpeed() const { return FSpeed; }
    void CycleBackward() { SetDirection(cdBackward); }
    void CycleForward() { SetDirection(cdForward); }
    // Starting takes the timer and puts the message filter in place.
    void SetDirection(std::uint8_t Direction);
    void Stop();
    // Also stored as the Fractal option ColorCyclingSpeed.
    void SetSpeed(int Speed);
    // Windows whose mouse presses do not stop cycling.
    void AddWindow(HWND Window);
    void RemoveWindow(HWND Window);
    bool IsExempt(HWND Window) const;

    // One step: the editable layers of the active fractal window turn by the speed.
    void Tick();
    // The message filter while cycling: a key press stops it, and so does a mouse press outside the
    // exempt windows.
    void AppMessage(MSG &Msg, bool &Handled);

private:
    void TimerTick(TObject *Sender);

    std::vector<HWND> FExemptWindows;
    std::uint8_t FDirection = cdStopped;
    int FSpeed = 2;
    std::unique_ptr<TTimer> FTimer;
};

// The rotation of a gradient turned by Steps (forward lowers it): kept in -200..199 on the
// gradient's circle of 400 steps.
int CycledRotation(int Rotation, int Steps);
// Turns the gradients of the editable layers by Steps.
void CycleLayers(TLayerList &Layers, int Steps);
// The speed a track-bar position (0..100) stands for: round(e^(0.03 position)), 1 to 20; and the
// position that shows a speed.
int CyclingSpeedOfPosition(int Position);
int CyclingPositionOfSpeed(int Speed);

// The global manager; nullptr outside InitializeColorCycling .. FinalizeColorCycling.
TColorCyclingManager *ColorCyclingManager();
void InitializeColorCycling();
void FinalizeColorCycling();

// The Color Cycling tool window: backward and forward buttons and the speed.
class TCyclingToolForm : public TToolForm {
public:
    DECLARE_CLASS_NAME(TCyclingToolForm)
    explicit TCyclingToolForm(TToolPanel *APanel);
    ~TCyclingToolForm() override;

    TPanel *Panel = nullptr;
    TSpeedButton *BackwardButton = nullptr;
    TSpeedButton *ForwardButton = nullptr;
    TAdvTrackBar *SpeedTrackBar = nullptr;

    // Follows the manager and the active fractal window.
    void UpdateControls(TObject *Sender = nullptr);

private:
    void ButtonClick(TObject *Sender);
    void TrackBarChange(TObject *Sender);
    bool FUpdating = false;
};
