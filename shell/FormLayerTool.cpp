#include "FormLayerTool.h"

#include <algorithm>

#include "CompDefinitions.h"
#include "CompEntries.h"
#include "FormEditor.h"
#include "FracClipboard.h"
#include "FracInteractive.h"
#include "FracManager.h"
#include "FracReaders.h"
#include "FractalWindowHost.h"
#include "GenColor.h"
#include "GenEyedrop.h"
#include "GenSetup.h"
#include "GenUtils.h"

namespace {

const char *const FormName = "TLayerToolForm";
const char *const BaseCaption = "Layer Properties";

int S(int Size) {
    return ScaleForScreenFont(Size);
}

// Sets a flag for the life of a scope.
class TFillGuard {
public:
    explicit TFillGuard(bool &AFlag) : Flag(AFlag), Saved(AFlag) { Flag = true; }
    ~TFillGuard() { Flag = Saved; }
    TFillGuard(const TFillGuard &) = delete;
    TFillGuard &operator=(const TFillGuard &) = delete;

private:
    bool &Flag;
    bool Saved;
};

void SetTextWhenDifferent(TWinControl &Control, const std::string &Text) {
    if (Control.Text() != Text)
        Control.SetText(Text);
}

bool NumberIn(const std::string &Text, long double &Value) {
    const std::string trimmed = Trim(Text);
    if (!IsValidFloatText(trimmed))
        return false;
    Value = FloatTextToExtended(trimmed);
    return true;
}

// Per formula tab: the clipboard kind, the word in undo captions and the help word.
struct TTabKind {
    std::uint8_t ClipboardKind;
    const char *Word;
    const char *HelpWord;
    const char *PasteCaption;
};
const TTabKind TabKinds[5] = {
    {cbLocation, "", "", "Paste Location"},
    {cbTransformation, "Transformation", "selected transformation", "Paste Transformation"},
    {cbFormula, "Fractal Formula", "fractal formula", "Paste Formula"},
    {cbColoring, "Coloring Algorithm", "coloring algorithm", "Paste Inside"},
    {cbColoring, "Coloring Algorithm", "coloring algorithm", "Paste Outside"},
};

bool IsBuiltIn(const TFormulaBase &Object) {
    return Object.GetFileName().empty();
}

} // namespace

namespace layer_input {

bool FloatText(const std::string &Text) {
    return IsValidFloatText(Trim(Text));
}

bool PositiveText(const std::string &Text) {
    long double value = 0;
    return NumberIn(Text, value) && value > 0;
}

bool AngleText(const std::string &Text) {
    long double value = 0;
    return NumberIn(Text, value) && value >= -360 && value <= 360;
}

bool SkewText(const std::string &Text) {
    long double value = 0;
    return NumberIn(Text, value) && value > -90 && value < 90;
}

bool IntegerText(const std::string &Text) {
    long long value = 0;
    return ParseIntegerText(Text, value);
}

bool MaxIterationsText(const std::string &Text) {
    long long value = 0;
    return ParseIntegerText(Text, value) && value > 0;
}

bool DensityText(const std::string &Text) {
    long double value = 0;
    return NumberIn(Text, value) && value >= 0;
}

bool OffsetText(const std::string &Text) {
    long long value = 0;
    return ParseIntegerText(Text, value) && value >= 0 && value <= 399;
}

} // namespace layer_input

// =============================================================================================
// Building

TAdvLabel *TLayerToolForm::MakeLabel(TWinControl *Parent, const char *Caption, int Left, int Top, int Width) {
    auto *label = new TAdvLabel(this);
    label->SetParent(Parent);
    label->SetAutoSize(false);
    label->SetBounds(S(Left), S(Top), S(Width), S(16));
    label->SetCaption(Caption);
    label->OnHelp = MakeEvent<&TLayerToolForm::ControlHelp>(this);
    return label;
}

TAdvComboBox *TLayerToolForm::MakeCombo(TWinControl *Parent, int Left, int Top, int Width, bool List,
                                        std::initializer_list<const char *> Rows) {
    auto *combo = new TAdvComboBox(this);
    combo->SetParent(Parent);
    combo->SetStyle(List ? csDropDownList : csDropDown);
    combo->SetBounds(S(Left), S(Top), Width, S(21));
    combo->SetAnchors(akLeft | akTop | akRight);
    for (const char *row : Rows)
        combo->Items().Add(row);
    combo->SetDropDownCount(std::max<int>(8, static_cast<int>(Rows.size())));
    combo->OnHelp = MakeEvent<&TLayerToolForm::ControlHelp>(this);
    return combo;
}

TAdvSpeedButton *TLayerToolForm::MakeButton(TWinControl *Parent, const char *Caption, const char *Hint,
                                            int Left, int Top) {
    auto *button = new TAdvSpeedButton(this);
    button->SetParent(Parent);
    button->SetCaption(Caption);
    button->SetHint(Hint);
    button->SetFlat(true);
    button->SetBounds(Left, S(Top), S(22), S(22));
    return button;
}

void TLayerToolForm::BuildHeader(TTabSheet *Tab, TTabHeader &Header) {
    const int width = FDesignWidth;
    Header.ErrorButton =
        MakeButton(Header.Panel, "!", "Trace Error|Shows the error in the formula editor.", S(4), 2);
    Header.ErrorButton->OnClick = MakeNotifyEvent<&TLayerToolForm::ErrorClick>(this);
    Header.ErrorButton->Hide();
    Header.Title = MakeLabel(Header.Panel, "", 4, 5, 100);
    Header.Title->SetClipStyle(csEndEllipsis);
    Header.Title->SetShowAccelChar(false);
    Header.Title->SetShowHint(true);
    struct THeaderButton {
        TAdvSpeedButton **Target;
        const char *Caption;
        const char *Hint;
        TNotifyEvent Click;
    };
    const THeaderButton buttons[] = {
        {&Header.BrowseButton, "...", "Browse... (Ctrl+Alt+Enter)|", TNotifyEvent()},
        {&Header.ReloadButton, "R", "Reload (Ctrl+Alt+R)|",
         MakeNotifyEvent<&TLayerToolForm::ReloadClick>(this)},
        {&Header.EditButton, "E", "Edit (Ctrl+Alt+E)|", MakeNotifyEvent<&TLayerToolForm::EditClick>(this)},
        {&Header.MoreButton, ">>", "More...|", TNotifyEvent()},
    };
    int left = width - 4 * S(24) - S(2);
    for (const THeaderButton &button : buttons) {
        *button.Target = MakeButton(Header.Panel, button.Caption, button.Hint, left, 2);
        (*button.Target)->SetAnchors(akTop | akRight);
        (*button.Target)->OnClick = button.Click;
        left += S(24);
    }
    Header.MoreButton->SetMenu(TabMenu);
}

void TLayerToolForm::BuildLocationTab() {
    LocGroup = new TAdvGroup(this);
    LocGroup->SetParent(LocationTab);
    LocGroup->SetAlign(alClient);
    const int width = FDesignWidth - S(112);
    LocCopyButton = MakeButton(LocGroup, "C", "Copy Location (Ctrl+Alt+C)|", S(108), 4);
    LocCopyButton->OnClick = MakeNotifyEvent<&TLayerToolForm::LocCopyButtonClick>(this);
    LocPasteButton = MakeButton(LocGroup, "P", "Paste Location (Ctrl+Alt+V)|", S(132), 4);
    LocPasteButton->OnClick = MakeNotifyEvent<&TLayerToolForm::LocPasteButtonClick>(this);
    LocResetButton = MakeButton(LocGroup, "Z", "Reset Location (Ctrl+Alt+Z)|", S(156), 4);
    LocResetButton->OnClick = MakeNotifyEvent<&TLayerToolForm::LocResetButtonClick>(this);

    int top = 30;
    auto complexEdit = [&](TAdvComplexEdit *&Edit, const char *Caption) {
        MakeLabel(LocGroup, Caption, 4, top + 3, 101);
        Edit = new TAdvComplexEdit(this);
        Edit->SetParent(LocGroup);
        Edit->SetBounds(S(108), S(top), width, S(21));
        Edit->SetAnchors(akLeft | akTop | akRight);
        Edit->OnInput = MakeNotifyEvent<&TLayerToolForm::LocInput>(this);
        Edit->OnValidate = MakeEvent<&TLayerToolForm::LocValidate>(this);
        Edit->OnComplexCopy = MakeEvent<&TLayerToolForm::LocComplexCopy>(this);
        Edit->OnComplexPaste = MakeEvent<&TLayerToolForm::LocComplexPaste>(this);
        Edit->OnEyedropper = MakeNotifyEvent<&TLayerToolForm::LocEyedropper>(this);
        Edit->OnHelp = MakeEvent<&TLayerToolForm::ControlHelp>(this);
        top += 24;
    };
    auto comboInput = [&](TAdvComboBox *&Combo, const char *Caption,
                          std::initializer_list<const char *> Rows) {
        MakeLabel(LocGroup, Caption, 4, top + 3, 101);
        Combo = MakeCombo(LocGroup, 108, top, width, false, Rows);
        Combo->OnInput = MakeNotifyEvent<&TLayerToolForm::LocInput>(this);
        Combo->OnValidate = MakeEvent<&TLayerToolForm::LocValidate>(this);
        top += 24;
    };
    complexEdit(LocCenterRealInput, "&Center (Re):");
    complexEdit(LocCenterImagInput, "Ce&nter (Im):");
    MakeLabel(LocGroup, "&Magnification:", 4, top + 3, 101);
    LocMagnInput = new TAdvEdit(this);
    LocMagnInput->SetParent(LocGroup);
    LocMagnInput->SetBounds(S(108), S(top), width, S(21));
    LocMagnInput->SetAnchors(akLeft | akTop | akRight);
    LocMagnInput->OnInput = MakeNotifyEvent<&TLayerToolForm::LocInput>(this);
    LocMagnInput->OnValidate = MakeEvent<&TLayerToolForm::LocValidate>(this);
    LocMagnInput->OnHelp = MakeEvent<&TLayerToolForm::ControlHelp>(this);
    top += 24;
    comboInput(LocAngleInput, "&Rotation Angle:", {"0", "45", "90", "135", "180", "225", "270", "315"});
    comboInput(LocStretchInput, "&Stretch (X/Y):",
               {"0.5", "0.666666666667", "0.75", "0.8", "1", "1.25", "1.33333333333", "1.5", "2"});
    LocStretchInput->SetDropDownCount(10);
    comboInput(LocSkewInput, "S&kew Angle:", {"-45", "-30", "-15", "0", "15", "30", "45"});
    complexEdit(LocLTRealInput, "&Left Top (Re):");
    complexEdit(LocLTImagInput, "Left &Top (Im):");
    complexEdit(LocRTRealInput, "R&ight Top (Re):");
    complexEdit(LocRTImagInput, "Right To&p (Im):");
    complexEdit(LocRBRealInput, "Right &Bottom (Re):");
    complexEdit(LocRBImagInput, "Right Botto&m (Im):");
}

void TLayerToolForm::BuildMappingTab() {
    MapHeader.Panel = new TAdvPanel(this);
    MapHeader.Panel->SetParent(MappingTab);
    MapHeader.Panel->SetBevelOuter(bvNone);
    MapHeader.Panel->SetCaption("");
    MapHeader.Panel->SetHeight(S(26));
    MapHeader.Panel->SetAlign(alTop);
    BuildHeader(MappingTab, MapHeader);
    MapHeader.BrowseButton->Hide();

    MapListPanel = new TAdvPanel(this);
    MapListPanel->SetParent(MappingTab);
    MapListPanel->SetBevelOuter(bvNone);
    MapListPanel->SetCaption("");
    MapListPanel->SetTop(S(26));
    MapListPanel->SetHeight(S(77));
    MapListPanel->SetAlign(alTop);
    MapTransformList = new TAdvListBox(this);
    MapTransformList->SetParent(MapListPanel);
    MapTransformList->SetBounds(S(4), 0, FDesignWidth - S(36), S(77));
    MapTransformList->SetAnchors(akLeft | akTop | akRight | akBottom);
    MapTransformList->OnClick = MakeNotifyEvent<&TLayerToolForm::MapTransformListClick>(this);
    MapRemoveButton = MakeButton(MapListPanel, "X", "Delete (Ctrl+Alt+D)|", FDesignWidth - S(28), 0);
    MapRemoveButton->SetAnchors(akTop | akRight);
    MapRemoveButton->OnClick = MakeNotifyEvent<&TLayerToolForm::MapRemoveButtonClick>(this);

    auto *solidPanel = new TAdvPanel(this);
    solidPanel->SetParent(MappingTab);
    solidPanel->SetBevelOuter(bvNone);
    solidPanel->SetCaption("");
    solidPanel->SetTop(S(110));
    solidPanel->SetHeight(S(28));
    solidPanel->SetAlign(alTop);
    MapSolidLabel = MakeLabel(solidPanel, "&Solid Color:", 4, 7, 101);
    MapSolidSelector = new TColorSelector(this);
    MapSolidSelector->SetParent(solidPanel);
    MapSolidSelector->SetBounds(S(108), S(4), FDesignWidth - S(112), S(21));
    MapSolidSelector->SetAnchors(akLeft | akTop | akRight);
    MapSolidSelector->OnChange = MakeNotifyEvent<&TLayerToolForm::MapSolidSelectorChange>(this);
    MapSolidSelector->OnEyedropper = MakeNotifyEvent<&TLayerToolForm::SolidSelectorEyedropper>(this);

    MapParamGroup = new TAdvGroup(this);
    MapParamGroup->SetParent(MappingTab);
    MapParamGroup->SetAlign(alClient);
}

void TLayerToolForm::BuildFormulaTab() {
    FormHeader.Panel = new TAdvPanel(this);
    FormHeader.Panel->SetParent(FormulaTab);
    FormHeader.Panel->SetBevelOuter(bvNone);
    FormHeader.Panel->SetCaption("");
    FormHeader.Panel->SetHeight(S(146));
    FormHeader.Panel->SetAlign(alTop);
    BuildHeader(FormulaTab, FormHeader);
    FormInputs = FormHeader.Panel;
    const int width = FDesignWidth - S(112);
    MakeLabel(FormInputs, "Drawing &Method:", 4, 29, 101);
    FormMethodInput =
        MakeCombo(FormInputs, 108, 26, width, true, {"Guessing", "Multi-pass Linear", "One-pass Linear"});
    FormMethodInput->OnClick = MakeNotifyEvent<&TLayerToolForm::FormMethodInputClick>(this);
    MakeLabel(FormInputs, "Periodicity &Checking:", 4, 53, 101);
    FormPerCheckInput =
        MakeCombo(FormInputs, 108, 50, width, true, {"Off", "Conservative", "Normal", "Rough"});
    FormPerCheckInput->OnClick = MakeNotifyEvent<&TLayerToolForm::FormPerCheckInputClick>(this);
    MakeLabel(FormInputs, "Additional &Precision:", 4, 77, 101);
    FormPrecisionInput = MakeCombo(FormInputs, 108, 74, width, false, {"0", "10", "20", "30"});
    FormPrecisionInput->OnInput = MakeNotifyEvent<&TLayerToolForm::FormPrecisionInputInput>(this);
    FormPrecisionInput->OnValidate = MakeEvent<&TLayerToolForm::IntValidate>(this);
    MakeLabel(FormInputs, "Ma&ximum Iterations:", 4, 101, 101);
    FormMaxIterInput =
        MakeCombo(FormInputs, 108, 98, width, false,
                  {"100", "250", "500", "1000", "2500", "5000", "10000", "25000", "50000", "100000"});
    FormMaxIterInput->SetDropDownCount(10);
    FormMaxIterInput->OnInput = MakeNotifyEvent<&TLayerToolForm::FormMaxIterInputInput>(this);
    FormMaxIterInput->OnValidate = MakeEvent<&TLayerToolForm::FormMaxIterInputValidate>(this);
    FormAdjustCheck = new TAdvCheckBox(this);
    FormAdjustCheck->SetParent(FormInputs);
    FormAdjustCheck->SetBounds(S(108), S(124), width, S(17));
    FormAdjustCheck->SetCaption("A&djust Automatically");
    FormAdjustCheck->OnClick = MakeNotifyEvent<&TLayerToolForm::FormAdjustCheckClick>(this);

    FormParamGroup = new TAdvGroup(this);
    FormParamGroup->SetParent(FormulaTab);
    FormParamGroup->SetAlign(alClient);
}

void TLayerToolForm::BuildColoringTab(TTabSheet *Tab, TColoringTab &Controls) {
    Controls.Header.Panel = new TAdvPanel(this);
    Controls.Header.Panel->SetParent(Tab);
    Controls.Header.Panel->SetBevelOuter(bvNone);
    Controls.Header.Panel->SetCaption("");
    Controls.Header.Panel->SetHeight(S(144));
    Controls.Header.Panel->SetAlign(alTop);
    BuildHeader(Tab, Controls.Header);
    Controls.Inputs = Controls.Header.Panel;
    TWinControl *parent = Controls.Inputs;
    const int width = FDesignWidth - S(112);
    Controls.DirectNote = new TLabel(this);
    Controls.DirectNote->SetParent(parent);
    Controls.DirectNote->SetAutoSize(false);
    Controls.DirectNote->SetWordWrap(true);
    Controls.DirectNote->SetBounds(S(4), S(26), FDesignWidth - S(8), S(30));
    Controls.DirectNote->SetCaption(
        "This is a direct coloring algorithm. Changes to the gradient will recalculate the layer.");
    Controls.DirectNote->Hide();
    Controls.DensityLabel = MakeLabel(parent, "&Color Density:", 4, 29, 101);
    Controls.DensityInput =
        MakeCombo(parent, 108, 26, width, false, {"0.1", "0.25", "0.5", "1", "2", "4", "8", "16"});
    Controls.DensityInput->OnInput = MakeNotifyEvent<&TLayerToolForm::DensityInputInput>(this);
    Controls.DensityInput->OnValidate = MakeEvent<&TLayerToolForm::DensityInputValidate>(this);
    Controls.TransferLabel = MakeLabel(parent, "&Transfer Function:", 4, 53, 101);
    Controls.TransferInput =
        MakeCombo(parent, 108, 50, width, true,
                  {"None", "Linear", "Sqr", "Sqrt", "Cube", "CubeRoot", "Log", "Exp", "Sin", "ArcTan"});
    Controls.TransferInput->SetDropDownCount(10);
    Controls.TransferInput->OnClick = MakeNotifyEvent<&TLayerToolForm::TransferInputClick>(this);
    Controls.SolidLabel = MakeLabel(parent, "&Solid Color:", 4, 77, 101);
    Controls.SolidSelector = new TColorSelector(this);
    Controls.SolidSelector->SetParent(parent);
    Controls.SolidSelector->SetBounds(S(108), S(74), width, S(21));
    Controls.SolidSelector->SetAnchors(akLeft | akTop | akRight);
    Controls.SolidSelector->OnChange = MakeNotifyEvent<&TLayerToolForm::SolidSelectorChange>(this);
    Controls.SolidSelector->OnEyedropper = MakeNotifyEvent<&TLayerToolForm::SolidSelectorEyedropper>(this);
    Controls.OffsetLabel = MakeLabel(parent, "&Gradient Offset:", 4, 101, 101);
    Controls.OffsetInput = MakeCombo(parent, 108, 98, width, false, {"0", "100", "200", "300"});
    Controls.OffsetInput->OnInput = MakeNotifyEvent<&TLayerToolForm::OffsetInputInput>(this);
    Controls.OffsetInput->OnValidate = MakeEvent<&TLayerToolForm::OffsetInputValidate>(this);
    Controls.RepeatCheck = new TAdvCheckBox(this);
    Controls.RepeatCheck->SetParent(parent);
    Controls.RepeatCheck->SetBounds(S(108), S(122), width, S(17));
    Controls.RepeatCheck->SetCaption("&Repeat Gradient");
    Controls.RepeatCheck->OnClick = MakeNotifyEvent<&TLayerToolForm::RepeatCheckClick>(this);

    Controls.ParamGroup = new TAdvGroup(this);
    Controls.ParamGroup->SetParent(Tab);
    Controls.ParamGroup->SetAlign(alClient);
}

TLayerToolForm::TLayerToolForm(TToolPanel *APanel) : TToolForm(APanel) {
    SetName(FormName);
    SetCaption(BaseCaption);
    SetClientSize(S(250), S(360));
    SetKeyPreview(true);
    // The tab sheets have no size of their own yet: controls are laid out for the width they get
    // at this client size and stretch with the window through their anchors.
    FDesignWidth = ClientWidth() - S(8);
    FParams = new TFormulaInterface(this);

    TabMenu = new TPopupMenu(this);
    TabMenu->OnPopup = MakeNotifyEvent<&TLayerToolForm::TabMenuPopup>(this);
    auto addItem = [this](const char *Caption, const char *ShortCutText, TNotifyEvent Click) {
        auto *item = new TMenuItem(TabMenu);
        item->SetCaption(Caption);
        item->SetShortCut(TextToShortCut(ShortCutText));
        item->OnClick = Click;
        TabMenu->Items().Add(item);
        return item;
    };
    CopyItem = addItem("&Copy", "Ctrl+Alt+C", MakeNotifyEvent<&TLayerToolForm::CopyClick>(this));
    PasteItem = addItem("&Paste", "Ctrl+Alt+V", MakeNotifyEvent<&TLayerToolForm::PasteClick>(this));
    ResetItem =
        addItem("Re&set Parameters", "Ctrl+Alt+Z", MakeNotifyEvent<&TLayerToolForm::ResetClick>(this));
    HelpItem = addItem("&Help", "Ctrl+Alt+F1", MakeNotifyEvent<&TLayerToolForm::HelpClick>(this));

    PageControl = new TAdvPageControl(this);
    PageControl->SetParent(this);
    PageControl->SetBounds(-1, 0, ClientWidth() + 3, ClientHeight() + 2);
    TTabSheet **tabs[] = {&LocationTab, &MappingTab, &FormulaTab, &InsideTab, &OutsideTab};
    const char *captions[] = {"Location", "Mapping", "Formula", "Inside", "Outside"};
    for (int i = 0; i < 5; ++i) {
        *tabs[i] = new TTabSheet(PageControl);
        (*tabs[i])->SetPageControl(PageControl);
        (*tabs[i])->SetCaption(captions[i]);
    }
    BuildLocationTab();
    BuildMappingTab();
    BuildFormulaTab();
    BuildColoringTab(InsideTab, Inside);
    BuildColoringTab(OutsideTab, Outside);
    PageControl->OnChange = MakeNotifyEvent<&TLayerToolForm::PageControlChange>(this);

    if (TFractalManager *manager = FractalManager())
        manager->Subscribe(FractalEventSet({fekFractal}),
                           MakeNotifyEvent<&TLayerToolForm::FractalChanged>(this));
    if (TClipboardManager *clipboard = ClipboardManager())
        clipboard->AddHandler(MakeNotifyEvent<&TLayerToolForm::UpdatePasteCommands>(this));
    if (TConfigManager *config = ConfigManager()) {
        config->AddHandler(MakeNotifyEvent<&TLayerToolForm::ApplyOptions>(this));
        const int page = config->ReadFormInteger(FormName, "ActivePage", 0);
        if (page >= 0 && page < PageControl->PageCount())
            PageControl->SetActivePageIndex(page);
        const int height = config->ReadFormInteger(FormName, "MappingListHeight", S(77));
        MapListPanel->SetHeight(std::max(height, S(77)));
    }
    FractalChanged(this);
    ApplyOptions();
    Resize();
}

TLayerToolForm::~TLayerToolForm() {
    // The parameter groups go before the scrolling groups they stand on.
    FParams->ClearControls();
    if (Eyedropper().IsActive() && Eyedropper().PickOwner() == this)
        Eyedropper().Cancel();
    if (TConfigManager *config = ConfigManager())
        config->RemoveHandler(MakeNotifyEvent<&TLayerToolForm::ApplyOptions>(this));
    if (TClipboardManager *clipboard = ClipboardManager())
        clipboard->RemoveHandler(MakeNotifyEvent<&TLayerToolForm::UpdatePasteCommands>(this));
    if (TFractalManager *manager = FractalManager())
        manager->Unsubscribe(MakeNotifyEvent<&TLayerToolForm::FractalChanged>(this));
    if (TConfigManager *config = ConfigManager()) {
        config->WriteFormInteger(FormName, "MappingListHeight", MapListPanel->Height());
        config->WriteFormInteger(FormName, "ActivePage", PageControl->ActivePageIndex());
    }
}

void TLayerToolForm::Resize() {
    TToolForm::Resize();
    if (PageControl)
        PageControl->SetBounds(-1, 0, ClientWidth() + 3, ClientHeight() + 2);
}

// =============================================================================================
// Following the active layer

TLayer *TLayerToolForm::ActiveLayer() const {
    TFractalManager *manager = FractalManager();
    TFractalWindowHost *host = manager ? manager->ActiveHost() : nullptr;
    TInteractiveFractal *fractal = host ? host->HostFractal() : nullptr;
    return fractal ? fractal->GetActiveLayer() : nullptr;
}

TFormulaBase *TLayerToolForm::TabObject(int Page) const {
    TLayer *layer = ActiveLayer();
    if (!layer)
        return nullptr;
    switch (Page) {
    case tpMapping: {
        TMapping &mapping = layer->GetMapping();
        const int index = mapping.GetActiveIndex();
        return index >= 0 && index < mapping.GetTransformations().GetCount()
                   ? &mapping.GetTransformations().GetItem(index)
                   : nullptr;
    }
    case tpFormula:
        return &layer->GetFormula();
    case tpInside:
        return &layer->GetInsideColoring();
    case tpOutside:
        return &layer->GetOutsideColoring();
    default:
        return nullptr;
    }
}

void TLayerToolForm::FractalChanged(TObject *) {
    // A notification handler is a border: nothing may unwind into the manager's other subscribers.
    try {
        TFractalManager *manager = FractalManager();
        TFractalWindowHost *host = manager ? manager->ActiveHost() : nullptr;
        TLayer *layer = ActiveLayer();
        if (layer)
            SetCaption(std::string(BaseCaption) + " - " + host->HostFractal()->GetTitle() + ", " +
                       layer->GetCaption());
        else
            SetCaption(BaseCaption);
        RefreshPage();
    } catch (...) {
        if (Application)
            Application->HandleException(this);
    }
}

void TLayerToolForm::PageControlChange(TObject *) {
    RefreshPage();
}

void TLayerToolForm::RefreshPage() {
    switch (PageControl->ActivePageIndex()) {
    case tpLocation:
        FillLocationTab();
        break;
    case tpMapping:
        FillMappingTab();
        break;
    case tpFormula:
        FillFormulaTab();
        break;
    case tpInside:
        FillColoringTab(Inside, ActiveLayer() ? &ActiveLayer()->GetInsideColoring() : nullptr);
        break;
    case tpOutside:
        FillColoringTab(Outside, ActiveLayer() ? &ActiveLayer()->GetOutsideColoring() : nullptr);
        break;
    default:
        break;
    }
    UpdatePasteCommands();
}

void TLayerToolForm::UpdatePasteCommands(TObject *) {
    TClipboardManager *clipboard = ClipboardManager();
    const std::uint8_t kind = clipboard ? clipboard->GetKind() : cbNothing;
    const int page = PageControl->ActivePageIndex();
    const bool layer = ActiveLayer() != nullptr;
    if (page == tpLocation)
        LocPasteButton->SetEnabled(layer && kind == cbLocation);
    else if (page > tpLocation)
        PasteItem->SetEnabled(layer && kind == TabKinds[page].ClipboardKind);
}

void TLayerToolForm::ApplyOptions(TObject *) {
    TConfigManager *config = ConfigManager();
    if (!config)
        return;
    const int delay = GetInputDelayTime(config->General->ToolInputDelay);
    if (delay != FInputDelay) {
        FInputDelay = delay;
        for (int i = 0; i < ComponentCount(); ++i)
            if (auto *input = dynamic_cast<TDelayedInput *>(Components(i)))
                input->SetDelay(delay);
    }
    const TFontSetting &font = config->General->Font;
    if (!font.Name.empty())
        Font().SetName(font.Name);
    Font().SetSize(font.Size);
    Font().SetStyle(static_cast<TFontStyles>(font.Style));
    for (TTabHeader *header : {&FormHeader, &Inside.Header, &Outside.Header}) {
        header->Title->Font().Assign(Font());
        header->Title->Font().SetStyle(Font().Style() | fsBold);
    }
}

// =============================================================================================
// Filling the tabs

void TLayerToolForm::FillHeader(TTabHeader &Header, TTabSheet *Tab, TFormulaBase *Object) {
    const bool error = Object && Object->GetHasError();
    if (Object) {
        Header.Title->SetCaption(Object->GetCaption());
        Header.Title->SetHint("'" + Object->GetEntryName() + "' in '" + Object->GetFileName() + "'");
    } else {
        Header.Title->SetCaption("");
        Header.Title->SetHint("");
    }
    const int right = Tab->ClientWidth() - 4 * S(24) - S(4);
    const int left = error ? S(32) : S(4);
    Header.Title->SetBounds(left, S(5), std::max(0, right - left), S(16));
    Header.ErrorButton->SetVisible(error);
    Header.ReloadButton->SetEnabled(Object && !IsBuiltIn(*Object));
    Header.EditButton->SetEnabled(Object && !IsBuiltIn(*Object));
    // Selecting another formula needs the formula browser, which this window does not reach.
    Header.BrowseButton->SetEnabled(false);
    Header.MoreButton->SetEnabled(ActiveLayer() != nullptr);
}

void TLayerToolForm::FillLocationTab() {
    TLayer *layer = ActiveLayer();
    TFillGuard filling(FFilling);
    for (int i = 0; i < LocGroup->ControlCount(); ++i)
        if (LocGroup->Controls(i) != LocPasteButton)
            LocGroup->Controls(i)->SetEnabled(layer != nullptr);
    TWinControl *inputs[] = {LocCenterRealInput, LocCenterImagInput, LocMagnInput,   LocStretchInput,
                             LocAngleInput,      LocSkewInput,       LocLTRealInput, LocLTImagInput,
                             LocRTRealInput,     LocRTImagInput,     LocRBRealInput, LocRBImagInput};
    if (!layer) {
        for (TWinControl *input : inputs)
            SetTextWhenDifferent(*input, "");
        LocPasteButton->SetEnabled(false);
        return;
    }
    const TMapping &mapping = layer->GetMapping();
    const std::string texts[] = {
        mapping.Center.Re.GetText(),   mapping.Center.Im.GetText(),      mapping.Magnification.GetText(),
        mapping.Stretch.GetText(),     mapping.AngleDegrees.GetText(),   mapping.SkewDegrees.GetText(),
        mapping.LeftTop.Re.GetText(),  mapping.LeftTop.Im.GetText(),     mapping.RightTop.Re.GetText(),
        mapping.RightTop.Im.GetText(), mapping.RightBottom.Re.GetText(), mapping.RightBottom.Im.GetText()};
    for (int i = 0; i < 12; ++i)
        SetTextWhenDifferent(*inputs[i], texts[i]);
}

void TLayerToolForm::FillMappingTab() {
    TLayer *layer = ActiveLayer();
    TFillGuard filling(FFilling);
    MapTransformList->SetEnabled(layer != nullptr);
    MapHeader.MoreButton->SetEnabled(layer != nullptr);
    if (!layer) {
        MapTransformList->Items().Clear();
        FillHeader(MapHeader, MappingTab, nullptr);
        MapRemoveButton->SetEnabled(false);
        MapSolidLabel->SetEnabled(false);
        MapSolidSelector->SetEnabled(false);
        FParams->ClearControls();
        return;
    }
    TMapping &mapping = layer->GetMapping();
    TTransformList &list = mapping.GetTransformations();
    TStrings &rows = MapTransformList->Items();
    if (rows.Count() == list.GetCount()) {
        for (int i = 0; i < list.GetCount(); ++i)
            if (rows.Strings(i) != list.GetItem(i).GetCaption())
                rows.SetStrings(i, list.GetItem(i).GetCaption());
    } else {
        rows.BeginUpdate();
        rows.Clear();
        for (int i = 0; i < list.GetCount(); ++i)
            rows.Add(list.GetItem(i).GetCaption());
        rows.EndUpdate();
    }
    const bool any = list.GetCount() > 0;
    MapSolidLabel->SetEnabled(any);
    MapSolidSelector->SetEnabled(any);
    MapRemoveButton->SetEnabled(any);
    TFormulaBase *active = TabObject(tpMapping);
    FillHeader(MapHeader, MappingTab, active);
    MapHeader.BrowseButton->Hide();
    if (auto *transform = dynamic_cast<TTransform *>(active)) {
        MapTransformList->SetItemIndex(mapping.GetActiveIndex());
        FParams->SetParameters(MapParamGroup, transform);
        const std::uint32_t solid = transform->GetSolidColor();
        MapSolidSelector->SetSelection(static_cast<TColor>(PixelToColor(solid)),
                                       static_cast<int>(solid >> 24));
    } else {
        FParams->ClearControls();
    }
}

void TLayerToolForm::FillFormulaTab() {
    TLayer *layer = ActiveLayer();
    TFillGuard filling(FFilling);
    for (int i = 0; i < FormInputs->ControlCount(); ++i) {
        TControl *control = FormInputs->Controls(i);
        if (control != FormHeader.ReloadButton && control != FormHeader.EditButton &&
            control != FormHeader.ErrorButton)
            control->SetEnabled(layer != nullptr);
    }
    if (!layer) {
        FillHeader(FormHeader, FormulaTab, nullptr);
        FormMethodInput->SetItemIndex(-1);
        FormPerCheckInput->SetItemIndex(-1);
        SetTextWhenDifferent(*FormPrecisionInput, "");
        SetTextWhenDifferent(*FormMaxIterInput, "");
        FParams->ClearControls();
        return;
    }
    TFormula &formula = layer->GetFormula();
    FillHeader(FormHeader, FormulaTab, &formula);
    FormMethodInput->SetItemIndex(layer->GetMethod());
    FormPerCheckInput->SetItemIndex(formula.GetPeriodicity());
    SetTextWhenDifferent(*FormPrecisionInput, IntToStr(layer->GetAdditionalPrecision()));
    SetTextWhenDifferent(*FormMaxIterInput, IntToStr(formula.GetMaxIter()));
    if (FormAdjustCheck->Checked() != formula.GetAdjustMaxIter())
        FormAdjustCheck->SetChecked(formula.GetAdjustMaxIter());
    FParams->SetParameters(FormParamGroup, &formula);
}

void TLayerToolForm::FillColoringTab(TColoringTab &Controls, TColoring *Coloring) {
    TFillGuard filling(FFilling);
    const bool layer = Coloring != nullptr;
    for (TControl *control : std::initializer_list<TControl *>{
             Controls.DensityLabel, Controls.DensityInput, Controls.TransferLabel, Controls.TransferInput,
             Controls.SolidLabel, Controls.SolidSelector, Controls.OffsetLabel, Controls.OffsetInput,
             Controls.RepeatCheck})
        control->SetEnabled(layer);
    TTabSheet *tab = &Controls == &Inside ? InsideTab : OutsideTab;
    const bool direct = layer && Coloring->GetOutputMode() >= 2;
    Controls.DirectNote->SetVisible(direct);
    const int d = direct ? 58 : 26;
    Controls.DensityLabel->SetTop(S(d + 3));
    Controls.DensityInput->SetTop(S(d));
    Controls.TransferLabel->SetTop(S(d + 27));
    Controls.TransferInput->SetTop(S(d + 24));
    Controls.SolidLabel->SetTop(S(d + 51));
    Controls.SolidSelector->SetTop(S(d + 48));
    Controls.OffsetLabel->SetTop(S(d + 75));
    Controls.OffsetInput->SetTop(S(d + 72));
    Controls.RepeatCheck->SetTop(S(d + 96));
    Controls.Inputs->SetHeight(S(d + 118));
    FillHeader(Controls.Header, tab, Coloring);
    if (!layer) {
        SetTextWhenDifferent(*Controls.DensityInput, "");
        SetTextWhenDifferent(*Controls.OffsetInput, "");
        Controls.TransferInput->SetItemIndex(-1);
        FParams->ClearControls();
        return;
    }
    SetTextWhenDifferent(*Controls.DensityInput, Coloring->Density.GetText());
    Controls.TransferInput->SetItemIndex(Coloring->GetTransfer());
    const std::uint32_t solid = Coloring->GetSolidColor();
    Controls.SolidSelector->SetSelection(static_cast<TColor>(PixelToColor(solid)),
                                         static_cast<int>(solid >> 24));
    SetTextWhenDifferent(*Controls.OffsetInput, IntToStr(Coloring->GetOffset()));
    if (Controls.RepeatCheck->Checked() != Coloring->GetRepeat())
        Controls.RepeatCheck->SetChecked(Coloring->GetRepeat());
    FParams->SetParameters(Controls.ParamGroup, Coloring);
}

// =============================================================================================
// Location inputs

TComplexValue *TLayerToolForm::LocPairOf(TObject *Sender, TAdvComplexEdit *&Re, TAdvComplexEdit *&Im) const {
    TLayer *layer = ActiveLayer();
    if (!layer)
        return nullptr;
    TMapping &mapping = layer->GetMapping();
    struct TPair {
        TAdvComplexEdit *Re, *Im;
        TComplexValue *Value;
    };
    const TPair pairs[] = {{LocCenterRealInput, LocCenterImagInput, &mapping.Center},
                           {LocLTRealInput, LocLTImagInput, &mapping.LeftTop},
                           {LocRTRealInput, LocRTImagInput, &mapping.RightTop},
                           {LocRBRealInput, LocRBImagInput, &mapping.RightBottom}};
    for (const TPair &pair : pairs)
        if (Sender == pair.Re || Sender == pair.Im) {
            Re = pair.Re;
            Im = pair.Im;
            return pair.Value;
        }
    return nullptr;
}

void TLayerToolForm::LocValidate(TObject *Sender, bool &Valid) {
    const std::string text = static_cast<TWinControl *>(Sender)->Text();
    if (Sender == LocMagnInput || Sender == LocStretchInput)
        Valid = layer_input::PositiveText(text);
    else if (Sender == LocAngleInput)
        Valid = layer_input::AngleText(text);
    else if (Sender == LocSkewInput)
        Valid = layer_input::SkewText(text);
    else
        Valid = layer_input::FloatText(text);
}

void TLayerToolForm::LocInput(TObject *Sender) {
    TLayer *layer = ActiveLayer();
    if (FFilling || !layer)
        return;
    const std::string text = Trim(static_cast<TWinControl *>(Sender)->Text());
    TMapping &mapping = layer->GetMapping();
    if (Sender == LocMagnInput)
        mapping.Magnification.SetText(text);
    else if (Sender == LocStretchInput)
        mapping.Stretch.SetText(text);
    else if (Sender == LocAngleInput)
        mapping.AngleDegrees.SetText(text);
    else if (Sender == LocSkewInput)
        mapping.SkewDegrees.SetText(text);
    else {
        TAdvComplexEdit *re = nullptr, *im = nullptr;
        TComplexValue *value = LocPairOf(Sender, re, im);
        // While a pick of the centre is under way its edits show the preview, not an input.
        if (!value || (value == &mapping.Center && re->Eyedropping()))
            return;
        (Sender == re ? value->Re : value->Im).SetText(text);
    }
}

void TLayerToolForm::LocComplexCopy(TObject *Sender, std::string &Re, std::string &Im) {
    TAdvComplexEdit *re = nullptr, *im = nullptr;
    if (TComplexValue *value = LocPairOf(Sender, re, im)) {
        Re = value->Re.GetText();
        Im = value->Im.GetText();
    }
}

void TLayerToolForm::LocComplexPaste(TObject *Sender, const std::string &Re, const std::string &Im) {
    TAdvComplexEdit *re = nullptr, *im = nullptr;
    if (TComplexValue *value = LocPairOf(Sender, re, im))
        value->SetText(Trim(Re), Trim(Im));
}

void TLayerToolForm::LocEyedropper(TObject *Sender) {
    TAdvComplexEdit *re = nullptr, *im = nullptr;
    TComplexValue *value = LocPairOf(Sender, re, im);
    if (!value)
        return;
    if (static_cast<TAdvComplexEdit *>(Sender)->Eyedropping()) {
        re->SetEyedropping(true);
        im->SetEyedropping(true);
        FPickRe = re;
        FPickIm = im;
        FPickValue = value;
        Eyedropper().StartLocation(this, MakeEvent<&TLayerToolForm::LocEyedropperPick>(this));
    } else if (Eyedropper().PickOwner() == this) {
        Eyedropper().Cancel();
    }
}

void TLayerToolForm::LocEyedropperPick(uint8_t Action, const TComplexValue *Value) {
    // The layer may have gone since the pick began: its value is asked for again.
    TAdvComplexEdit *re = nullptr, *im = nullptr;
    TComplexValue *old = FPickRe ? LocPairOf(FPickRe, re, im) : nullptr;
    EyedropperShowLocation(Action, FPickRe, FPickIm, Value, old == FPickValue ? old : nullptr);
}

void TLayerToolForm::LocCopyButtonClick(TObject *) {
    TLayer *layer = ActiveLayer();
    if (!layer)
        return;
    TParWriter writer;
    layer->GetMapping().WriteParameters(writer, TMapping::wpLocation);
    writer.Finish();
    std::string text;
    writer.GetEntryText(TitleToName(layer->GetCaption()) + "Location", false, text);
    if (TClipboardManager *clipboard = ClipboardManager())
        clipboard->SetText(text, cbLocation);
}

void TLayerToolForm::LocPasteButtonClick(TObject *) {
    TLayer *layer = ActiveLayer();
    if (!layer)
        return;
    layer->BeginUpdate();
    try {
        auto reader = TParReader::CreateFromClipboard<TParReader>();
        layer->GetMapping().LoadParameters(*reader);
    } catch (...) {
        layer->EndUpdateCaption("Paste Location");
        throw;
    }
    layer->EndUpdateCaption("Paste Location");
}

void TLayerToolForm::LocResetButtonClick(TObject *) {
    if (TLayer *layer = ActiveLayer())
        layer->ResetLocation();
}

// =============================================================================================
// Mapping inputs

void TLayerToolForm::MapTransformListClick(TObject *) {
    TLayer *layer = ActiveLayer();
    if (FFilling || !layer)
        return;
    const int count = layer->GetMapping().GetTransformations().GetCount();
    if (count > 0)
        layer->GetMapping().SetActiveTransformation(std::clamp(MapTransformList->ItemIndex(), 0, count - 1));
}

void TLayerToolForm::MapRemoveButtonClick(TObject *) {
    TLayer *layer = ActiveLayer();
    if (!layer)
        return;
    TMapping &mapping = layer->GetMapping();
    const int index = mapping.GetActiveIndex();
    if (index >= 0 && index < mapping.GetTransformations().GetCount())
        mapping.GetTransformations().Delete(index);
}

void TLayerToolForm::MapSolidSelectorChange(TObject *) {
    if (FFilling)
        return;
    if (auto *transform = dynamic_cast<TTransform *>(TabObject(tpMapping)))
        transform->SetSolidColor(
            ColorToPixel(static_cast<std::uint32_t>(MapSolidSelector->SelectedColor()),
                         static_cast<std::uint8_t>(MapSolidSelector->SelectedOpacity())));
}

// =============================================================================================
// Formula inputs

void TLayerToolForm::FormMethodInputClick(TObject *) {
    TLayer *layer = ActiveLayer();
    if (!FFilling && layer && FormMethodInput->ItemIndex() >= 0)
        layer->SetMethod(static_cast<std::uint8_t>(FormMethodInput->ItemIndex()));
}

void TLayerToolForm::FormPerCheckInputClick(TObject *) {
    TLayer *layer = ActiveLayer();
    if (!FFilling && layer && FormPerCheckInput->ItemIndex() >= 0)
        layer->GetFormula().SetPeriodicity(static_cast<std::uint8_t>(FormPerCheckInput->ItemIndex()));
}

void TLayerToolForm::IntValidate(TObject *Sender, bool &Valid) {
    Valid = layer_input::IntegerText(static_cast<TWinControl *>(Sender)->Text());
}

void TLayerToolForm::FormPrecisionInputInput(TObject *) {
    TLayer *layer = ActiveLayer();
    long long value = 0;
    if (!FFilling && layer && ParseIntegerText(FormPrecisionInput->Text(), value))
        layer->SetAdditionalPrecision(static_cast<std::int32_t>(value));
}

void TLayerToolForm::FormMaxIterInputValidate(TObject *Sender, bool &Valid) {
    Valid = layer_input::MaxIterationsText(static_cast<TWinControl *>(Sender)->Text());
}

void TLayerToolForm::FormMaxIterInputInput(TObject *) {
    TLayer *layer = ActiveLayer();
    long long value = 0;
    if (!FFilling && layer && ParseIntegerText(FormMaxIterInput->Text(), value) && value > 0)
        layer->GetFormula().SetMaxIter(static_cast<std::int32_t>(value));
}

void TLayerToolForm::FormAdjustCheckClick(TObject *) {
    TLayer *layer = ActiveLayer();
    if (!FFilling && layer)
        layer->GetFormula().SetAdjustMaxIter(FormAdjustCheck->Checked());
}

// =============================================================================================
// Coloring inputs

TLayerToolForm::TColoringTab &TLayerToolForm::ColoringTabOf(TObject *Sender) {
    const TColoringTab &inside = Inside;
    for (TControl *control :
         std::initializer_list<TControl *>{inside.DensityInput, inside.TransferInput, inside.SolidSelector,
                                           inside.OffsetInput, inside.RepeatCheck})
        if (Sender == control)
            return Inside;
    return Outside;
}

TColoring *TLayerToolForm::ColoringOf(TObject *Sender) const {
    TLayer *layer = ActiveLayer();
    if (FFilling || !layer)
        return nullptr;
    return &const_cast<TLayerToolForm *>(this)->ColoringTabOf(Sender) == &Inside
               ? &layer->GetInsideColoring()
               : &layer->GetOutsideColoring();
}

void TLayerToolForm::DensityInputValidate(TObject *Sender, bool &Valid) {
    Valid = layer_input::DensityText(static_cast<TWinControl *>(Sender)->Text());
}

void TLayerToolForm::DensityInputInput(TObject *Sender) {
    if (TColoring *coloring = ColoringOf(Sender))
        coloring->Density.SetText(Trim(static_cast<TWinControl *>(Sender)->Text()));
}

void TLayerToolForm::TransferInputClick(TObject *Sender) {
    const int index = static_cast<TAdvComboBox *>(Sender)->ItemIndex();
    if (TColoring *coloring = ColoringOf(Sender); coloring && index >= 0)
        coloring->SetTransfer(static_cast<TTransferFunction>(index));
}

void TLayerToolForm::SolidSelectorChange(TObject *Sender) {
    auto *selector = static_cast<TColorSelector *>(Sender);
    if (TColoring *coloring = ColoringOf(Sender))
        coloring->SetSolidColor(ColorToPixel(static_cast<std::uint32_t>(selector->SelectedColor()),
                                             static_cast<std::uint8_t>(selector->SelectedOpacity())));
}

void TLayerToolForm::SolidSelectorEyedropper(TObject *Sender) {
    auto *selector = static_cast<TColorSelector *>(Sender);
    if (!ActiveLayer())
        return;
    if (selector->Eyedropping()) {
        FPickSelector = selector;
        Eyedropper().StartColor(this, MakeEvent<&TLayerToolForm::SolidColorPick>(this));
    } else if (Eyedropper().PickOwner() == this) {
        Eyedropper().Cancel();
    }
}

void TLayerToolForm::SolidColorPick(uint8_t Action, TColor Color) {
    TLayer *layer = ActiveLayer();
    if (!layer || !FPickSelector)
        return;
    std::uint32_t current = 0;
    TTransform *transform = nullptr;
    TColoring *coloring = nullptr;
    if (FPickSelector == MapSolidSelector) {
        transform = dynamic_cast<TTransform *>(TabObject(tpMapping));
        if (!transform)
            return;
        current = transform->GetSolidColor();
    } else {
        coloring = FPickSelector == Inside.SolidSelector ? &layer->GetInsideColoring()
                                                         : &layer->GetOutsideColoring();
        current = coloring->GetSolidColor();
    }
    EyedropperShowColor(Action, FPickSelector, Color, static_cast<TColor>(PixelToColor(current)));
    if (Action != eaPicked)
        return;
    const std::uint32_t picked = ColorToPixel(static_cast<std::uint32_t>(Color), 255);
    if (transform)
        transform->SetSolidColor(picked);
    else
        coloring->SetSolidColor(picked);
}

void TLayerToolForm::OffsetInputValidate(TObject *Sender, bool &Valid) {
    Valid = layer_input::OffsetText(static_cast<TWinControl *>(Sender)->Text());
}

void TLayerToolForm::OffsetInputInput(TObject *Sender) {
    long long value = 0;
    if (TColoring *coloring = ColoringOf(Sender);
        coloring && ParseIntegerText(static_cast<TWinControl *>(Sender)->Text(), value))
        coloring->SetOffset(static_cast<std::int32_t>(value));
}

void TLayerToolForm::RepeatCheckClick(TObject *Sender) {
    if (TColoring *coloring = ColoringOf(Sender))
        coloring->SetRepeat(static_cast<TAdvCheckBox *>(Sender)->Checked());
}

// =============================================================================================
// Commands on the tab object

void TLayerToolForm::TabMenuPopup(TObject *) {
    const int page = PageControl->ActivePageIndex();
    TFormulaBase *object = TabObject(page);
    CopyItem->SetEnabled(object != nullptr);
    ResetItem->SetEnabled(object != nullptr);
    HelpItem->SetEnabled(object && object->HasHelpFile());
    if (page == tpMapping) {
        CopyItem->SetHint("Copies the selected transformation to the Clipboard.");
        PasteItem->SetHint("Pastes the transformation on the Clipboard into the list of transformations.");
    } else {
        CopyItem->SetHint("Copies the settings on this tab to the Clipboard.");
        PasteItem->SetHint("Pastes the settings on the Clipboard into this tab.");
    }
    const std::string word = page > tpLocation ? TabKinds[page].HelpWord : "";
    HelpItem->SetHint("Shows help on the " + word + ".");
    ResetItem->SetHint("Resets the parameters of the " + word + " to the default values.");
    UpdatePasteCommands();
}

void TLayerToolForm::CopyClick(TObject *) {
    const int page = PageControl->ActivePageIndex();
    TFormulaBase *object = TabObject(page);
    if (!object)
        return;
    TParWriter writer;
    object->WriteParameters(writer, 2);
    writer.Finish();
    std::string text;
    writer.GetEntryText(TitleToName(object->GetCaption()), false, text);
    if (TClipboardManager *clipboard = ClipboardManager())
        clipboard->SetText(text, TabKinds[page].ClipboardKind);
}

void TLayerToolForm::PasteClick(TObject *) {
    TLayer *layer = ActiveLayer();
    const int page = PageControl->ActivePageIndex();
    if (!layer || page == tpLocation)
        return;
    layer->BeginUpdate();
    try {
        auto reader = TCollectionParReader::CreateFromClipboard<TInteractiveParReader>();
        if (page == tpMapping) {
            std::unique_ptr<TTransform> transform = layer->GetMapping().CreateTransformation();
            transform->LoadFromReader(*reader);
            reader->ShowWarnings();
            layer->GetMapping().AddTransformation(transform);
        } else {
            TabObject(page)->LoadFromReader(*reader);
            reader->ShowWarnings();
        }
    } catch (...) {
        layer->EndUpdateCaption(TabKinds[page].PasteCaption);
        throw;
    }
    layer->EndUpdateCaption(TabKinds[page].PasteCaption);
}

void TLayerToolForm::ResetClick(TObject *) {
    if (TFormulaBase *object = TabObject(PageControl->ActivePageIndex()))
        object->ResetParameters();
}

void TLayerToolForm::HelpClick(TObject *) {
    if (TFormulaBase *object = TabObject(PageControl->ActivePageIndex()))
        object->ShowHelp();
}

void TLayerToolForm::ReloadClick(TObject *) {
    const int page = PageControl->ActivePageIndex();
    TFormulaBase *object = TabObject(page);
    if (!object || IsBuiltIn(*object))
        return;
    if (TEditForm *editor = FindEditorWindow(object->GetFileName()))
        editor->Save(object->GetFileName());
    object->BeginUpdate();
    try {
        object->ReloadSource();
    } catch (...) {
        object->EndUpdateWithCaption(std::string("Reload ") + TabKinds[page].Word);
        throw;
    }
    object->EndUpdateWithCaption(std::string("Reload ") + TabKinds[page].Word);
}

void TLayerToolForm::EditClick(TObject *) {
    TFormulaBase *object = TabObject(PageControl->ActivePageIndex());
    if (!object || IsBuiltIn(*object))
        return;
    if (TEditForm *editor = OpenEditorWindow(object->GetFileName()))
        editor->GoToEntry(object->GetEntryName());
}

void TLayerToolForm::ErrorClick(TObject *) {
    TFormulaBase *object = TabObject(PageControl->ActivePageIndex());
    if (!object || !object->GetHasError() || IsBuiltIn(*object))
        return;
    if (TEditForm *editor = OpenEditorWindow(object->GetFileName()))
        editor->GoToPosition(object->GetErrorLine(), object->GetErrorColumn());
}

void TLayerToolForm::ControlHelp(TObject *Sender, int X, int Y) {
    if (auto *control = dynamic_cast<TControl *>(Sender))
        ShowParameterHelp(X, Y, GetLongHint(control->Hint()));
}

void TLayerToolForm::KeyDown(WORD &Key, TShiftState Shift) {
    if ((Shift & (ssShift | ssCtrl | ssAlt)) != (ssCtrl | ssAlt)) {
        TToolForm::KeyDown(Key, Shift);
        return;
    }
    const bool location = PageControl->ActivePageIndex() == tpLocation;
    bool handled = true;
    switch (Key) {
    case 'V':
        location ? LocPasteButtonClick(this) : PasteClick(this);
        break;
    case 'Z':
        location ? LocResetButtonClick(this) : ResetClick(this);
        break;
    case 'C':
        location ? LocCopyButtonClick(this) : CopyClick(this);
        break;
    case VK_F1:
        HelpClick(this);
        break;
    case 'R':
        ReloadClick(this);
        break;
    case 'E':
        EditClick(this);
        break;
    case 'D':
        MapRemoveButtonClick(this);
        break;
    default:
        handled = false;
        break;
    }
    if (handled)
        Key = 0;
    else
        TToolForm::KeyDown(Key, Shift);
}
