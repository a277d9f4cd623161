// The fractal window: the document window that shows one interactive fractal while it calculates,
// with the progress in its caption and in the status bar, sized to the image, asking to save when it
// closes, and following the active-fractal events. The mouse works on the image by the configured
// actions (drags that preview and apply the view operations, the selection box, switch mode), and
// the keys of the window change the mode or cancel a drag.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AdvDlgs.h"
#include "Buttons.h"
#include "Dialogs.h"
#include "ExtCtrls.h"
#include "FormDocument.h"
#include "FracInteractive.h"
#include "FractalWindowHost.h"
#include "Menus.h"

class TFractalForm;
class TFullScreenForm;

// The panel the image is drawn on: it paints the asked rectangle from the fractal's display
// bitmap.
class TFractalDisplay : public TCustomPanel {
public:
    DECLARE_CLASS_NAME(TFractalDisplay)
    TFractalDisplay(TComponent *AOwner, TFractalForm &Form);

protected:
    void Paint() override;

private:
    TFractalForm &FForm;
};

// What the window plays when a long calculation finished (the platform's asynchronous play of a
// sound file by default); tests put their own recorder here.
using TSoundPlayer = std::function<void(const std::string &FileName)>;
void SetFractalSoundPlayer(TSoundPlayer Player);
void PlayFractalSound(const std::string &FileName);

// The message boxes of the fractal window (AdvMessageDlg by default); tests answer them here.
using TFractalMessageDialog =
    std::function<int(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons)>;
void SetFractalMessageDialog(TFractalMessageDialog Dialog);
int FractalMessageDialog(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons);

// The file dialogs of the window (save, save a copy, export, the parameter file): the dialog comes
// set up with its title, filter, filter index, folder and file name; true when the user chose a
// name, which FileName and FilterIndex then hold. The real dialog by default; tests answer here.
using TFractalFileDialog = std::function<bool(TSaveDialog &Dialog)>;
void SetFractalFileDialog(TFractalFileDialog Dialog);
bool ExecuteFractalFileDialog(TSaveDialog &Dialog);

// Where a parameter set is saved: the file, the entry's name and the fractal's title, and whether
// the formulas go along.
struct TParameterSaveChoice {
    std::string FileName;
    std::string Entry;
    std::string Title;
    bool SaveFormulas = false;
};
// Asks where to save a parameter set, starting with the choice given; false when cancelled.
using TSaveParametersDialog = std::function<bool(TParameterSaveChoice &Choice)>;
void SetSaveParametersDialog(TSaveParametersDialog Dialog);

// The export options a format offers (ExportOption* bits) and what the user chose.
struct TExportChoice {
    int Quality = 100;
    bool Transparency = false;
    bool Layers = false;
};
using TExportOptionsDialog = std::function<bool(std::uint8_t Options, TExportChoice &Choice)>;
void SetExportOptionsDialog(TExportOptionsDialog Dialog);

// The name an image is exported to: kept when its extension is one of the format's (letter case
// ignored), else with the format's first extension appended.
std::string ExportFileName(const std::string &FileName, int Format);
// The name a fractal file is saved to: ".ofr" appended unless it ends in it (letter case ignored).
std::string FractalFileName(const std::string &FileName);
// Whether a parameter text goes packed: with the option set, always or when longer than 2048 bytes.
bool PackParameterText(const std::string &Text, bool CompressOption, bool Always);
// The image of a finished fractal as the clipboard's device-independent bitmap: a 24-bit
// BITMAPINFOHEADER (rows bottom-up, the print resolution in pixels per metre) and the rows.
std::vector<std::uint8_t> ClipboardImage(TFractal &Fractal, double Resolution);

// "Fractal" followed by the smallest number n >= 1 that no open form has as its caption.
std::string MakeUniqueCaption(const std::string &Base);

// The view drag of each mouse action: Drag pans, Zoom zooms, Rotate, Stretch and Skew.
TInteractiveFractal::TDragKind DragKindOfAction(int Action);

class TFractalForm : public TDocumentForm, public TFractalWindowHost {
public:
    DECLARE_CLASS_NAME(TFractalForm)
    // Mouse actions (the Fractal options MouseLeft* and MouseRight*).
    static constexpr int maNone = 0, maSelect = 1, maDrag = 2, maZoom = 3, maRotate = 4, maStretch = 5,
                         maSkew = 6, maPopup = 7;
    // The timer's period, and the ticks between two rewrites of the status texts and the caption.
    static constexpr UINT TimerInterval = 250;
    static constexpr int TicksPerUpdate = 4;

    // A new fractal for the formula entry, with the default size, resolution and gamma.
    static TFractalForm *CreateFromFormula(TComponent *AOwner, const std::string &FormulaFile,
                                           const std::string &FormulaEntry);
    // The window takes the fractal over.
    static TFractalForm *CreateWithFractal(TComponent *AOwner, std::unique_ptr<TInteractiveFractal> Fractal);
    ~TFractalForm() override;

    TPanel *ToolBar;
    TScrollBox *ScrollBox;
    TFractalDisplay *DefaultDisplay;
    TTimer *Timer;
    TSaveDialog *SaveDialog;
    TSaveDialog *ExportDialog;
    TMainMenu *MainMenu;
    TPopupMenu *SelectMenu, *GeneralMenu;
    TMenuItem *SelectZoomInItem, *SelectZoomOutItem, *SelectCropItem, *SelectResetItem, *SelectResizeItem,
        *SelectStretchItem, *SelectCancelItem;
    // The window's menus (merged into the main window's bar while it is active).
    TMenuItem *FileMenu, *NewItem, *OpenItem, *BrowseItem, *DuplicateItem, *CloseItem, *SaveItem, *SaveAsItem,
        *SaveCopyItem, *SaveAllItem, *SaveParametersItem, *ExportItem, *ExitItem;
    TMenuItem *EditMenu, *EditUndoItem, *EditRedoItem, *CopyItem, *CopyFormulasItem, *EditPasteItem;
    TMenuItem *FractalMenu, *FractalItem, *GradientItem, *ResetLocationItem, *ZoomInItem, *ZoomOutItem,
        *FullScreenItem, *MenuNormalModeItem, *MenuSelectModeItem, *MenuSwitchModeItem, *RenderItem;
    // The general popup menu.
    TMenuItem *UndoItem, *RedoItem, *PasteItem, *NormalModeItem, *SelectModeItem, *SwitchModeItem,
        *PopupFullScreenItem, *PopupCopyItem, *PopupGradientItem, *RandomizeItem, *RandomizeBrightItem,
        *RandomizeMistyItem, *RandomizeCustomItem, *AdjustColorsItem, *CycleForwardItem, *CycleBackwardItem,
        *PopupDuplicateItem;
    // The tool-bar buttons (in the main window's tool bar while the window is active), told apart
    // by their tags.
    // Tags in the order of the picture strip.
    enum : int {
        ToolNew = 1,
        ToolOpen,
        ToolBrowse,
        ToolSave,
        ToolSaveParameters,
        ToolFractal,
        ToolGradient,
        ToolNormal,
        ToolSelect,
        ToolSwitch,
        ToolHelp,
        ToolRedo,
        ToolUndo,
        ToolCopy,
        ToolPaste,
        ToolRender
    };
    std::vector<TSpeedButton *> ToolButtons;

    TInteractiveFractal &Fractal() const { return *FFractal; }
    TWinControl *Display() const { return FDisplay; }
    const std::string &FractalFile() const { return FFractalFile; }
    void SetFractalFile(const std::string &Value) { FFractalFile = Value; }
    const std::string &ParameterFile() const { return FParameterFile; }
    const std::string &ParameterEntry() const { return FParameterEntry; }
    void SetParameterEntry(const std::string &File, const std::string &Entry);
    bool Crosshair() const { return FCrosshair; }

    // --- TDocumentForm ---
    TWinControl *GetToolBar() override { return ToolBar; }
    void UpdateStatusBar() override;
    void DrawStatusPanel(TStatusBar *StatusBar, int Panel, const RECT &Rect) override;
    void ShowHelp() override;

    // --- TFractalWindowHost ---
    TInteractiveFractal *HostFractal() override { return FFractal.get(); }
    TWinControl *HostDisplay() override { return FDisplay; }
    TScrollingWinControl *HostScrollBox() override { return FInFullScreen ? nullptr : ScrollBox; }
    TCursor HostCursor() override { return FCrosshair ? crCross : crDefault; }
    bool HostInFullScreen() override { return FInFullScreen; }
    void HostSetMouseMode(int Mode) override { SetMouseMode(Mode); }
    void HostSelectZoomIn() override { SelectZoomIn(); }
    void HostSelectZoomOut() override { SelectZoomOut(); }
    void HostSelectCrop() override { SelectCrop(); }
    void HostUpdateStatus() override { UpdateStatus(); }

    // --- Life of the window ---
    void FractalChanged(TObject *Sender);
    void UpdateStatus();
    void UpdateTitle();
    void UpdateUndoItems();
    void SetForeground(bool Value);
    void OptionsChanged(TObject *Sender);
    void TimerTimer(TObject *Sender);
    // Saves to the fractal file (asking for a name when there is none, or with As); false when
    // nothing was saved, after the failure was shown.
    bool Save(bool As);
    // Asked for a file name when saving under a new name (the save dialog when unset); empty when
    // the user cancelled.
    std::function<std::string()> OnAskFileName;

    // --- Commands ---
    // Saves a copy under a new name; title, modified flag, file and history stay.
    bool SaveCopy();
    bool SaveParameters();
    bool ExportImage();
    // The parameters (and with Formulas the formulas) as a fractal entry on the clipboard, with
    // the image of a finished calculation.
    void Copy(bool Formulas);
    void CopyImage();
    void Paste();
    TFractalForm *Duplicate();
    void ShowFullScreen();
    bool InFullScreen() const { return FInFullScreen; }
    TFullScreenForm *FullScreenForm() const { return FFullScreen; }
    // The image is drawn on Display and its mouse events come here.
    void SetDisplay(TWinControl *Display);
    // Enables and checks the commands for the window's state.
    void UpdateCommandItems();
    // The gradient commands of the active layer (also the keys of the full-screen view).
    void GradientCommand(TMenuItem *Item);

    // --- Mouse modes ---
    void SetMouseMode(int Mode);
    void DisplayMouseDown(TObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void DisplayMouseMove(TObject *Sender, TShiftState Shift, int X, int Y);
    void DisplayMouseUp(TObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void FormShortCut(WORD Key, TShiftState Shift, bool &Handled);
    void FormKeyDown(TObject *Sender, WORD &Key, TShiftState Shift);
    void FormKeyUp(TObject *Sender, WORD &Key, TShiftState Shift);
    void Switch(int X, int Y);
    void SelectZoomIn();
    void SelectZoomOut();
    void SelectCrop();
    // True when the active layer's formula names a formula to switch to.
    bool CanSwitch() const;

    void WndProc(TMessage &Message) override;

protected:
    void Activate() override;
    void Deactivate() override;
    void Resize() override;

private:
    TFractalForm(TComponent *AOwner, std::unique_ptr<TInteractiveFractal> Fractal,
                 const std::string &FormulaFile, const std::string &FormulaEntry);
    void CreateComponents();
    void CreateMenus();
    void FormCreate();
    void InitFractal();
    void NotifyFractalChanged(TObject *Sender);
    void CalculationStarted(TObject *Sender);
    void BeforeDraw(TObject *Sender);
    void AfterDraw(TObject *Sender);
    void FormCloseQuery(TObject *Sender, bool &CanClose);
    void FormClose(TObject *Sender, TCloseAction &Action);
    void FitToImage();
    void CenterDisplay();
    void UpdatePasteItem(TObject *Sender = nullptr);
    void CreateFileMenu();
    void CreateEditAndFractalMenus();
    void CreatePopupMenu();
    void CreateToolButtons();
    void CommandClick(TObject *Sender);
    void HistoryChanged(TObject *Sender);
    void BindDisplay(TWinControl *Display);
    void ModeItemClick(TObject *Sender);
    void UndoItemClick(TObject *Sender);
    void RedoItemClick(TObject *Sender);
    void SelectMenuClick(TObject *Sender);
    void ShowPopup(TPopupMenu &Menu, int X, int Y);
    // The modifiers a drag takes: none until all of Shift, Ctrl and Alt were released once.
    TDragShift DragShift(TShiftState Shift) const;
    // Replays the drag's move at the pointer with the modifiers held now.
    void ReplayDragMove();
    void PlayFinishSound();
    // Zooms into (or out of) the selection box, with its animation scale; one undo step.
    void SelectZoom(bool Out);

    std::unique_ptr<TInteractiveFractal> FFractal;
    TWinControl *FDisplay = nullptr;
    bool FCrosshair = false;
    std::string FLastTitle;
    std::int32_t FLastWidth = 0, FLastHeight = 0;
    bool FDropHighlight = false;
    std::string FFractalFile;
    TInteractiveFractal::TDragKind FDragKind = TInteractiveFractal::TDragKind::None;
    std::string FFormulaFile, FFormulaEntry;
    bool FInMenuLoop = false;
    bool FMinimized = false;
    POINT FMouseDownPoint = {0, 0};
    std::string FParameterEntry, FParameterFile;
    int FProgressBlocks = 0;
    int FTickCount = 0;
    bool FCalculationDone = false;
    bool FModifiersReleased = false;
    bool FNewFractal = false;
    bool FInFullScreen = false;
    TFullScreenForm *FFullScreen = nullptr;
};
