// The "Layer Properties" tool window of the main window's dock bar. It always shows the active
// layer of the active fractal window and edits it in five tabs: the location, the mapping (the
// list of transformations and the active one's parameters), the fractal formula and the inside
// and outside colorings. Every edit goes into the layer's own objects, whose change batches make
// the undo steps and restart the calculation; what the window shows is read back from the layer
// whenever the active fractal or its content changes.
#pragma once

#include <initializer_list>
#include <string>

#include "AdvBars.h"
#include "AdvCtrls.h"
#include "ColorSelector.h"
#include "FormulaParamControls.h"

class TLayer;
class TInteractiveFractal;
class TFormulaBase;
class TColoring;

// The texts the inputs accept. A refused text never reaches the layer: the input puts its last
// accepted text back.
namespace layer_input {
bool FloatText(const std::string &Text);         // any number
bool PositiveText(const std::string &Text);      // magnification, stretch: a number > 0
bool AngleText(const std::string &Text);         // -360 .. 360
bool SkewText(const std::string &Text);          // strictly between -90 and 90
bool IntegerText(const std::string &Text);       // additional precision: any whole number
bool MaxIterationsText(const std::string &Text); // a whole number > 0
bool DensityText(const std::string &Text);       // a number >= 0
bool OffsetText(const std::string &Text);        // a whole number 0 .. 399
} // namespace layer_input

class TLayerToolForm : public TToolForm {
public:
    DECLARE_CLASS_NAME(TLayerToolForm)
    explicit TLayerToolForm(TToolPanel *APanel);
    ~TLayerToolForm() override;

    static constexpr int tpLocation = 0, tpMapping = 1, tpFormula = 2, tpInside = 3, tpOutside = 4;

    // The active layer of the active fractal window; nullptr without one.
    TLayer *ActiveLayer() const;
    // The object of a formula tab (nullptr on the location tab or without a layer).
    TFormulaBase *TabObject(int Page) const;
    void FractalChanged(TObject *Sender);
    void RefreshPage();
    void UpdatePasteCommands(TObject *Sender = nullptr);
    void ApplyOptions(TObject *Sender = nullptr);
    TFormulaInterface &ParamInterface() const { return *FParams; }

    // Commands on the object of the shown tab.
    void CopyClick(TObject *Sender);
    void PasteClick(TObject *Sender);
    void ResetClick(TObject *Sender);
    void HelpClick(TObject *Sender);
    void ReloadClick(TObject *Sender);
    void EditClick(TObject *Sender);
    void ErrorClick(TObject *Sender);
    void LocCopyButtonClick(TObject *Sender);
    void LocPasteButtonClick(TObject *Sender);
    void LocResetButtonClick(TObject *Sender);

    // The header of a formula tab: Trace Error, the object's title and the command buttons.
    struct TTabHeader {
        TAdvPanel *Panel = nullptr;
        TAdvSpeedButton *ErrorButton = nullptr;
        TAdvLabel *Title = nullptr;
        TAdvSpeedButton *BrowseButton = nullptr;
        TAdvSpeedButton *ReloadButton = nullptr;
        TAdvSpeedButton *EditButton = nullptr;
        TAdvSpeedButton *MoreButton = nullptr;
    };
    // The inputs of the inside or outside tab.
    struct TColoringTab {
        TTabHeader Header;
        TAdvPanel *Inputs = nullptr;
        TLabel *DirectNote = nullptr;
        TAdvLabel *DensityLabel = nullptr, *TransferLabel = nullptr, *SolidLabel = nullptr,
                  *OffsetLabel = nullptr;
        TAdvComboBox *DensityInput = nullptr;
        TAdvComboBox *TransferInput = nullptr;
        TColorSelector *SolidSelector = nullptr;
        TAdvComboBox *OffsetInput = nullptr;
        TAdvCheckBox *RepeatCheck = nullptr;
        TAdvGroup *ParamGroup = nullptr;
    };

    TAdvPageControl *PageControl = nullptr;
    TTabSheet *LocationTab = nullptr, *MappingTab = nullptr, *FormulaTab = nullptr, *InsideTab = nullptr,
              *OutsideTab = nullptr;

    // Location tab.
    TAdvGroup *LocGroup = nullptr;
    TAdvComplexEdit *LocCenterRealInput = nullptr, *LocCenterImagInput = nullptr;
    TAdvEdit *LocMagnInput = nullptr;
    TAdvComboBox *LocAngleInput = nullptr, *LocStretchInput = nullptr, *LocSkewInput = nullptr;
    TAdvComplexEdit *LocLTRealInput = nullptr, *LocLTImagInput = nullptr, *LocRTRealInput = nullptr,
                    *LocRTImagInput = nullptr, *LocRBRealInput = nullptr, *LocRBImagInput = nullptr;
    TAdvSpeedButton *LocCopyButton = nullptr, *LocPasteButton = nullptr, *LocResetButton = nullptr;

    // Mapping tab.
    TTabHeader MapHeader;
    TAdvPanel *MapListPanel = nullptr;
    TAdvListBox *MapTransformList = nullptr;
    TAdvSpeedButton *MapRemoveButton = nullptr;
    TAdvLabel *MapSolidLabel = nullptr;
    TColorSelector *MapSolidSelector = nullptr;
    TAdvGroup *MapParamGroup = nullptr;

    // Formula tab.
    TTabHeader FormHeader;
    TAdvPanel *FormInputs = nullptr;
    TAdvComboBox *FormMethodInput = nullptr, *FormPerCheckInput = nullptr, *FormPrecisionInput = nullptr,
                 *FormMaxIterInput = nullptr;
    TAdvCheckBox *FormAdjustCheck = nullptr;
    TAdvGroup *FormParamGroup = nullptr;

    TColoringTab Inside, Outside;
    TPopupMenu *TabMenu = nullptr;
    TMenuItem *CopyItem = nullptr, *PasteItem = nullptr, *ResetItem = nullptr, *HelpItem = nullptr;

protected:
    void Resize() override;
    void KeyDown(WORD &Key, TShiftState Shift) override;

private:
    TAdvComboBox *MakeCombo(TWinControl *Parent, int Left, int Top, int Width, bool List,
                            std::initializer_list<const char *> Rows);
    TAdvLabel *MakeLabel(TWinControl *Parent, const char *Caption, int Left, int Top, int Width);
    TAdvSpeedButton *MakeButton(TWinControl *Parent, const char *Caption, const char *Hint, int Left,
                                int Top);
    void BuildHeader(TTabSheet *Tab, TTabHeader &Header);
    void BuildLocationTab();
    void BuildMappingTab();
    void BuildFormulaTab();
    void BuildColoringTab(TTabSheet *Tab, TColoringTab &Controls);

    void FillLocationTab();
    void FillMappingTab();
    void FillFormulaTab();
    void FillColoringTab(TColoringTab &Controls, TColoring *Coloring);
    void FillHeader(TTabHeader &Header, TTabSheet *Tab, TFormulaBase *Object);
    TColoring *ColoringOf(TObject *Sender) const;
    TColoringTab &ColoringTabOf(TObject *Sender);

    void PageControlChange(TObject *Sender);
    void TabMenuPopup(TObject *Sender);
    void ControlHelp(TObject *Sender, int X, int Y);

    // Location inputs.
    void LocInput(TObject *Sender);
    void LocValidate(TObject *Sender, bool &Valid);
    void LocComplexCopy(TObject *Sender, std::string &Re, std::string &Im);
    void LocComplexPaste(TObject *Sender, const std::string &Re, const std::string &Im);
    void LocEyedropper(TObject *Sender);
    void LocEyedropperPick(uint8_t Action, const TComplexValue *Value);
    // The location value an input pair edits and its two edits.
    TComplexValue *LocPairOf(TObject *Sender, TAdvComplexEdit *&Re, TAdvComplexEdit *&Im) const;

    // Mapping inputs.
    void MapTransformListClick(TObject *Sender);
    void MapRemoveButtonClick(TObject *Sender);
    void MapSolidSelectorChange(TObject *Sender);

    // Formula inputs.
    void FormMethodInputClick(TObject *Sender);
    void FormPerCheckInputClick(TObject *Sender);
    void FormPrecisionInputInput(TObject *Sender);
    void IntValidate(TObject *Sender, bool &Valid);
    void FormMaxIterInputInput(TObject *Sender);
    void FormMaxIterInputValidate(TObject *Sender, bool &Valid);
    void FormAdjustCheckClick(TObject *Sender);

    // Coloring inputs (the inside and outside tabs share them; the sender tells the side).
    void DensityInputInput(TObject *Sender);
    void DensityInputValidate(TObject *Sender, bool &Valid);
    void TransferInputClick(TObject *Sender);
    void SolidSelectorChange(TObject *Sender);
    void SolidSelectorEyedropper(TObject *Sender);
    void SolidColorPick(uint8_t Action, TColor Color);
    void OffsetInputInput(TObject *Sender);
    void OffsetInputValidate(TObject *Sender, bool &Valid);
    void RepeatCheckClick(TObject *Sender);

    TFormulaInterface *FParams = nullptr;
    int FInputDelay = -2;
    int FDesignWidth = 0;
    // Set while controls are filled from the layer: their change events write nothing.
    bool FFilling = false;
    TAdvComplexEdit *FPickRe = nullptr, *FPickIm = nullptr;
    TComplexValue *FPickValue = nullptr;
    TColorSelector *FPickSelector = nullptr;
};
