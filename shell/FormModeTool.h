// The "Fractal Mode" tool window of the dock bar: it sets the mouse mode of the fractal windows and
// shows one page per mode. The normal page names the mouse gesture of each view operation; the
// select page previews the view inside the selection box and chooses what the box does; the switch
// page previews the fractal that a click at the pointer would switch to.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "AdvBars.h"
#include "AdvCtrls.h"

class TDirectBitmap;
class TFractal;
class TFractalConfiguration;
class TFractalWindowHost;
class TUpdateManager;
class TUpdateRectList;
class TPreviewSurface;

// The first gesture (in the order the normal page tries them) that the mouse options give the view
// action (2 pan, 3 zoom, 4 rotate, 5 stretch, 6 skew): "Ctrl + Right-drag", for example, or
// "(nothing assigned)".
std::string MouseGestureText(const TFractalConfiguration &Options, int Action);

// The largest size of the aspect (width over height) that fits the room: the full height when the
// aspect allows it, else the full width; each side at least 1.
SIZE FitPreviewSize(double Aspect, int RoomWidth, int RoomHeight);

class TModeToolForm : public TToolForm {
public:
    DECLARE_CLASS_NAME(TModeToolForm)
    explicit TModeToolForm(TToolPanel *APanel);
    ~TModeToolForm() override;

    // The box actions of the select page, as the form value "SelectAction" stores them.
    static constexpr int saZoomIn = 0, saZoomOut = 1, saCrop = 2;
    // Pages.
    static constexpr int mpNormal = 0, mpSelect = 1, mpSwitch = 2;

    // Follows the active fractal window: buttons, caption, page and its contents.
    void UpdateTool();
    int GetShownPage() const { return FShownPage; }
    int GetSelectAction() const;
    bool GetSwitchErrors() const { return FSwitchErrors; }
    // The select page's preview size (0 x 0 while the page is not shown).
    SIZE GetSelectPreviewSize() const { return FSelectSize; }
    SIZE GetSwitchPreviewSize() const { return FSwitchSize; }
    // The select page's preview and the update manager that draws the box's view into it (nullptr
    // while the page is not shown).
    TDirectBitmap *GetSelectPreview() const { return FSelectBitmap.get(); }
    TUpdateManager *GetSelectPreviewManager() const { return FSelectManager.get(); }
    TFractal *GetSwitchPreview() const { return FSwitchPreview.get(); }
    // The text the switch preview shows instead of a fractal ("Contains errors." or empty).
    const std::string &GetSwitchMessage() const { return FSwitchMessage; }

    TAdvPanel *ButtonPanel = nullptr;
    TAdvSpeedButton *NormalButton = nullptr;
    TAdvSpeedButton *SelectButton = nullptr;
    TAdvSpeedButton *SwitchButton = nullptr;
    TPanel *Bevel = nullptr;
    TAdvPageControl *PageControl = nullptr;
    TTabSheet *NormalTab = nullptr;
    TTabSheet *SelectTab = nullptr;
    TTabSheet *SwitchTab = nullptr;
    TLabel *ZoomValue = nullptr;
    TLabel *PanValue = nullptr;
    TLabel *RotateValue = nullptr;
    TLabel *StretchValue = nullptr;
    TLabel *SkewValue = nullptr;
    TAdvSpeedButton *SelectZoomInButton = nullptr;
    TAdvSpeedButton *SelectZoomOutButton = nullptr;
    TAdvSpeedButton *SelectCropButton = nullptr;
    TAdvSpeedButton *SelectResizeButton = nullptr;
    TAdvSpeedButton *SelectStretchButton = nullptr;
    TAdvSpeedButton *SelectApplyButton = nullptr;
    TAdvPanel *SelectDisplay = nullptr;
    TAdvPanel *SwitchDisplay = nullptr;
    TTimer *SwitchTimer = nullptr;

protected:
    void Resize() override;

private:
    void ManagerChanged(TObject *Sender);
    void ConfigChanged(TObject *Sender);
    void ModeButtonClick(TObject *Sender);
    void SelectActionClick(TObject *Sender);
    void SelectModeClick(TObject *Sender);
    void SelectApplyClick(TObject *Sender);
    void SwitchTimerTick(TObject *Sender);
    void SwitchDisplayPaint(TObject *Sender);
    void ApplyFont();
    void LeavePage();
    void FillNormalPage();
    void FillSelectPage(TFractalWindowHost &Host);
    void FillSwitchPage(TFractalWindowHost &Host);
    // Makes the switch preview fractal for the active layer's switch formula.
    void MakeSwitchPreview(TFractalWindowHost &Host);
    // Sizes the switch preview and points it at the fractal under the pointer.
    void UpdateSwitchPreview();
    // Places a preview panel of Size (plus its frame) in the middle of Page.
    void CenterDisplay(TAdvPanel &Display, TTabSheet &Page, SIZE Size);

    int FShownPage = -1;
    // The window whose fractal the shown page's preview reads.
    TFractalWindowHost *FPageHost = nullptr;
    std::unique_ptr<TUpdateRectList> FSelectRects;
    std::unique_ptr<TDirectBitmap> FSelectBitmap;
    std::unique_ptr<TUpdateManager> FSelectManager;
    TPreviewSurface *FSelectSurface = nullptr;
    SIZE FSelectSize = {0, 0};
    std::unique_ptr<TFractal> FSwitchPreview;
    TPreviewSurface *FSwitchSurface = nullptr;
    SIZE FSwitchSize = {0, 0};
    bool FSwitchErrors = false;
    std::string FSwitchMessage;
    // The pointer position last previewed, so that the timer does not recalculate a still point.
    POINT FSwitchPoint = {-1, -1};
    bool FSwitchPointValid = false;
};
