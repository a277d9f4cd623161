#include "FormFractal.h"

#include <mmsystem.h>

#include <algorithm>
#include <cmath>

#include "AdvDlgs.h"
#include "FileHistory.h"
#include "FormMain.h"
#include "FormModeTool.h"
#include "FracLayer.h"
#include "FracLayerEngine.h"
#include "FracClipboard.h"
#include "FracManager.h"
#include "FracMapping.h"
#include "GenEyedrop.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "SelectArea.h"

namespace {

TSoundPlayer SoundPlayer;
TFractalMessageDialog MessageDialog;

TFractalConfiguration *FractalOptions() {
    TConfigManager *config = ConfigManager();
    return config ? config->Fractal.get() : nullptr;
}

TMenuItem *AddItem(TComponent *Owner, TMenu &Menu, const std::string &Caption, const std::string &ShortCut,
                   const std::string &Hint, const TNotifyEvent &Click) {
    auto *item = new TMenuItem(Owner);
    item->SetCaption(Caption);
    if (!ShortCut.empty())
        item->SetShortCut(TextToShortCut(ShortCut));
    item->SetHint(Hint);
    item->OnClick = Click;
    Menu.Items().Add(item);
    return item;
}

TMenuItem *AddItem(TComponent *Owner, TMenuItem &Parent, const std::string &Caption,
                   const std::string &ShortCut, const std::string &Hint, const TNotifyEvent &Click) {
    auto *item = new TMenuItem(Owner);
    item->SetCaption(Caption);
    if (!ShortCut.empty())
        item->SetShortCut(TextToShortCut(ShortCut));
    item->SetHint(Hint);
    item->OnClick = Click;
    Parent.Add(item);
    return item;
}

void AddSeparator(TComponent *Owner, TMenuItem &Parent) {
    auto *item = new TMenuItem(Owner);
    item->SetCaption("-");
    Parent.Add(item);
}

void AddSeparator(TComponent *Owner, TMenu &Menu) {
    AddSeparator(Owner, Menu.Items());
}

// An item that runs another window's item: its caption, shortcut, hint, command and state (or
// the caption and hint given, disabled, without a source).
TMenuItem *MirrorItem(TComponent *Owner, TMenuItem &Parent, TMenuItem *Source, const std::string &Caption,
                      const std::string &Hint) {
    auto *item = new TMenuItem(Owner);
    if (Source) {
        item->SetCaption(Source->Caption());
        item->SetShortCut(Source->ShortCut());
        item->SetHint(Source->Hint());
        item->OnClick = Source->OnClick;
        item->SetEnabled(Source->Enabled());
    } else {
        item->SetCaption(Caption);
        item->SetHint(Hint);
        item->SetEnabled(false);
    }
    Parent.Add(item);
    return item;
}

// Menu groups of the window's menus in the main window's bar: File takes the place of the main
// window's File menu; Edit and Fractal stand between it and Options.
constexpr int FileMenuGroup = 1, EditMenuGroup = 2, FractalMenuGroup = 3;

const char *const NormalModeHint =
    "Sets Normal mode for zooming, panning and rotating by dragging the mouse.";
const char *const SelectModeHint = "Sets Select mode for zooming using a zoom box.";
const char *const SwitchModeHint =
    "Sets Switch Mode for switching to a related fractal type (for example from Mandelbrot to Julia).";
// The three mode items, one radio group.
void AddModeItems(TComponent *Owner, TMenuItem &Parent, int Group, const TNotifyEvent &Click,
                  TMenuItem *&Normal, TMenuItem *&Select, TMenuItem *&Switch) {
    Normal = AddItem(Owner, Parent, "&Normal Mode", "F5", NormalModeHint, Click);
    Select = AddItem(Owner, Parent, "&Select Mode", "F6", SelectModeHint, Click);
    Switch = AddItem(Owner, Parent, "S&witch Mode", "F7", SwitchModeHint, Click);
    for (TMenuItem *item : {Normal, Select, Switch}) {
        item->SetRadioItem(true);
        item->SetGroupIndex(Group);
    }
}

const char *const FullScreenHint = "Shows the fractal in full screen mode.";
const char *const CopyHint = "Copies the parameters of the fractal to the Clipboard.";
const char *const PasteHint = "Pastes the contents of the Clipboard into the fractal.";
const char *const DuplicateHint = "Duplicates the active document in a new window.";
const char *const SaveParametersHint = "Saves a parameter set describing the fractal.";

const char *const ExportDialogFilter =
    "Bitmap image (*.bmp)|*.bmp|Photoshop image (*.psd)|*.psd|PNG image (*.png)|*.png|JPEG image (*.jpg; "
    "*.jpeg)|*.jpg;*.jpeg|Targa image (*.tga)|*.tga|TIFF image (*.tif; *.tiff)|*.tif;*.tiff";

constexpr TShiftState ModifierKeys = ssShift | ssCtrl | ssAlt;

// The view operations take the modifier bits of the class library's shift state.
static_assert(dsShift == ssShift && dsAlt == ssAlt && dsCtrl == ssCtrl);
TDragShift ToDragShift(TShiftState Shift) {
    return static_cast<TDragShift>(Shift & ModifierKeys);
}

// The scroll box around the image: the area beside the image is a dithered pattern of the button
// face and shadow colours, with a black frame around the image.
class TFractalScrollBox : public TScrollBox {
public:
    explicit TFractalScrollBox(TComponent *AOwner) : TScrollBox(AOwner) {}
    TControl *Image = nullptr;

    void WndProc(TMessage &Message) override {
        if (Message.Msg == WM_ERASEBKGND) {
            PaintAroundImage(reinterpret_cast<HDC>(Message.WParam));
            Message.Result = 1;
            return;
        }
        TScrollBox::WndProc(Message);
    }

private:
    void PaintAroundImage(HDC DC) {
        static const WORD checker[8] = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};
        RECT client;
        GetClientRect(Handle(), &client);
        HBITMAP pattern = CreateBitmap(8, 8, 1, 1, checker);
        HBRUSH brush = CreatePatternBrush(pattern);
        const COLORREF text = SetTextColor(DC, GetSysColor(COLOR_BTNSHADOW));
        const COLORREF back = SetBkColor(DC, GetSysColor(COLOR_BTNFACE));
        FillRect(DC, &client, brush);
        SetTextColor(DC, text);
        SetBkColor(DC, back);
        DeleteObject(brush);
        DeleteObject(pattern);
        if (Image) {
            RECT frame{Image->Left() - 1, Image->Top() - 1, Image->Left() + Image->Width() + 1,
                       Image->Top() + Image->Height() + 1};
            FrameRect(DC, &frame, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        }
    }
};

} // namespace

void SetFractalSoundPlayer(TSoundPlayer Player) {
    SoundPlayer = std::move(Player);
}

void PlayFractalSound(const std::string &FileName) {
    if (SoundPlayer)
        SoundPlayer(FileName);
    else
        PlaySoundA(FileName.c_str(), nullptr, SND_ASYNC | SND_FILENAME);
}

void SetFractalMessageDialog(TFractalMessageDialog Dialog) {
    MessageDialog = std::move(Dialog);
}

int FractalMessageDialog(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons) {
    if (MessageDialog)
        return MessageDialog(Message, Type, Buttons);
    return AdvMessageDlg(Message, Type, Buttons, 0);
}

std::string MakeUniqueCaption(const std::string &Base) {
    for (int n = 1;; ++n) {
        const std::string caption = Base + IntToStr(n);
        bool taken = false;
        for (int i = 0; Screen && i < Screen->FormCount() && !taken; ++i)
            taken = Screen->Forms(i)->Caption() == caption;
        if (!taken)
            return caption;
    }
}

TInteractiveFractal::TDragKind DragKindOfAction(int Action) {
    using K = TInteractiveFractal::TDragKind;
    switch (Action) {
    case TFractalForm::maDrag:
        return K::Pan;
    case TFractalForm::maZoom:
        return K::Zoom;
    case TFractalForm::maRotate:
        return K::Rotate;
    case TFractalForm::maStretch:
        return K::Stretch;
    case TFractalForm::maSkew:
        return K::Skew;
    default:
        return K::None;
    }
}

// =============================================================================================
// TFractalDisplay

TFractalDisplay::TFractalDisplay(TComponent *AOwner, TFractalForm &Form) : TCustomPanel(AOwner), FForm(Form) {
    SetBevelOuter(bvNone);
    FControlStyle |= csOpaque;
}

void TFractalDisplay::Paint() {
    // The window frees its fractal before its controls.
    if (!FForm.HostFractal())
        return;
    RECT area;
    if (GetClipBox(Canvas().Handle(), &area) == NULLREGION)
        return;
    FForm.Fractal().GetBitmap().DrawRect(area);
}

// =============================================================================================
// TFractalForm: life of the window

TFractalForm *TFractalForm::CreateFromFormula(TComponent *AOwner, const std::string &FormulaFile,
                                              const std::string &FormulaEntry) {
    return new TFractalForm(AOwner, nullptr, FormulaFile, FormulaEntry);
}

TFractalForm *TFractalForm::CreateWithFractal(TComponent *AOwner,
                                              std::unique_ptr<TInteractiveFractal> Fractal) {
    auto *form = new TFractalForm(AOwner, std::move(Fractal), "", "");
    form->UpdateTitle();
    form->UpdateStatus();
    return form;
}

TFractalForm::TFractalForm(TComponent *AOwner, std::unique_ptr<TInteractiveFractal> Fractal,
                           const std::string &FormulaFile, const std::string &FormulaEntry)
    : TDocumentForm(AOwner), FFractal(std::move(Fractal)), FFormulaFile(FormulaFile),
      FFormulaEntry(FormulaEntry) {
    CreateComponents();
    FormCreate();
}

void TFractalForm::CreateComponents() {
    SetKeyPreview(true);
    ToolBar = new TPanel(this);
    ToolBar->SetVisible(false);
    ToolBar->SetBevelOuter(bvNone);
    ToolBar->SetBounds(0, 0, 0, 28);
    ToolBar->SetParent(this);
    auto *scrollBox = new TFractalScrollBox(this);
    ScrollBox = scrollBox;
    ScrollBox->SetParent(this);
    ScrollBox->SetAlign(alClient);
    ScrollBox->HorzScrollBar().SetTracking(true);
    ScrollBox->VertScrollBar().SetTracking(true);
    ScrollBox->SetAutoScroll(false);
    DefaultDisplay = new TFractalDisplay(this, *this);
    DefaultDisplay->SetParent(ScrollBox);
    scrollBox->Image = DefaultDisplay;
    DefaultDisplay->OnMouseDown = MakeEvent<&TFractalForm::DisplayMouseDown>(this);
    DefaultDisplay->OnMouseMove = MakeEvent<&TFractalForm::DisplayMouseMove>(this);
    DefaultDisplay->OnMouseUp = MakeEvent<&TFractalForm::DisplayMouseUp>(this);
    Timer = new TTimer(this);
    Timer->SetEnabled(false);
    Timer->SetInterval(TimerInterval);
    Timer->SetOnTimer(MakeNotifyEvent<&TFractalForm::TimerTimer>(this));
    SaveDialog = new TSaveDialog(this);
    SaveDialog->Title = "Save Fractal";
    SaveDialog->Filter = "Fractal file (*.ofr)|*.ofr";
    SaveDialog->DefaultExt = "ofr";
    SaveDialog->OverwritePrompt = true;
    ExportDialog = new TSaveDialog(this);
    ExportDialog->Title = "Export Image";
    ExportDialog->Filter = ExportDialogFilter;
    ExportDialog->OverwritePrompt = true;
    CreateMenus();
    CreateToolButtons();
    OnCloseQuery = MakeEvent<&TFractalForm::FormCloseQuery>(this);
    OnClose = MakeEvent<&TFractalForm::FormClose>(this);
    OnShortCut = MakeEvent<&TFractalForm::FormShortCut>(this);
    OnKeyDown = MakeEvent<&TFractalForm::FormKeyDown>(this);
    OnKeyUp = MakeEvent<&TFractalForm::FormKeyUp>(this);
}

void TFractalForm::CreateMenus() {
    SelectMenu = new TPopupMenu(this);
    const TNotifyEvent select = MakeNotifyEvent<&TFractalForm::SelectMenuClick>(this);
    SelectZoomInItem =
        AddItem(this, *SelectMenu, "&Zoom In", "Enter", "Zooms in to the selected region.", select);
    SelectZoomOutItem =
        AddItem(this, *SelectMenu, "Zoom &Out", "Ctrl+Enter", "Zooms out of the selected region.", select);
    SelectCropItem =
        AddItem(this, *SelectMenu, "&Crop", "", "Reduces the fractal window to the selected region.", select);
    AddSeparator(this, *SelectMenu);
    SelectResetItem = AddItem(this, *SelectMenu, "&Reset", "",
                              "Resets the selection box to its original size and position.", select);
    AddSeparator(this, *SelectMenu);
    SelectResizeItem = AddItem(this, *SelectMenu, "R&esize Fractal", "",
                               "Resizes the fractal to match the aspect ratio of the selection box.", select);
    SelectStretchItem = AddItem(this, *SelectMenu, "&Stretch Fractal", "",
                                "Stretches the fractal to fit the selection box.", select);
    for (TMenuItem *item : {SelectResizeItem, SelectStretchItem}) {
        item->SetRadioItem(true);
        item->SetGroupIndex(1);
    }
    AddSeparator(this, *SelectMenu);
    SelectCancelItem = AddItem(this, *SelectMenu, "C&ancel", "Esc", "Closes the selection box.", select);

    CreatePopupMenu();
    CreateFileMenu();
    CreateEditAndFractalMenus();
    SetMenu(MainMenu);
}

void TFractalForm::CreatePopupMenu() {
    GeneralMenu = new TPopupMenu(this);
    const TNotifyEvent command = MakeNotifyEvent<&TFractalForm::CommandClick>(this);
    UndoItem = AddItem(this, *GeneralMenu, "&Undo", "Ctrl+Z", "Undo (Ctrl+Z)|Undoes the last action.",
                       MakeNotifyEvent<&TFractalForm::UndoItemClick>(this));
    RedoItem = AddItem(this, *GeneralMenu, "&Redo", "Ctrl+Y", "Redo (Ctrl+Y)|Cancels the last Undo command.",
                       MakeNotifyEvent<&TFractalForm::RedoItemClick>(this));
    AddSeparator(this, *GeneralMenu);
    AddModeItems(this, GeneralMenu->Items(), 2, MakeNotifyEvent<&TFractalForm::ModeItemClick>(this),
                 NormalModeItem, SelectModeItem, SwitchModeItem);
    AddSeparator(this, *GeneralMenu);
    PopupFullScreenItem = AddItem(this, *GeneralMenu, "&Full Screen", "Ctrl+F", FullScreenHint, command);
    AddSeparator(this, *GeneralMenu);
    PopupCopyItem = AddItem(this, *GeneralMenu, "&Copy", "Ctrl+C", CopyHint, command);
    PasteItem = AddItem(this, *GeneralMenu, "&Paste", "Ctrl+V", PasteHint, command);
    AddSeparator(this, *GeneralMenu);
    PopupGradientItem = AddItem(this, *GeneralMenu, "&Gradient", "",
                                "Contains commands to change the gradient of the active layer.", {});
    TMenuItem &gradient = *PopupGradientItem;
    RandomizeItem =
        AddItem(this, gradient, "&Randomize", "Ctrl+1", "Fills the gradient with random colors.", command);
    RandomizeBrightItem = AddItem(this, gradient, "Randomize &Bright", "Ctrl+2",
                                  "Fills the gradient with bright random colors.", command);
    RandomizeMistyItem = AddItem(this, gradient, "Randomize &Misty", "Ctrl+3",
                                 "Fills the gradient with misty random colors.", command);
    // The randomize and adjust dialogs are not part of the program yet: their items stay disabled.
    RandomizeCustomItem = AddItem(this, gradient, "Randomize &Custom...", "Ctrl+4",
                                  "Shows a dialog with various options to randomize the gradient.", {});
    AdjustColorsItem = AddItem(this, gradient, "&Adjust Colors...", "Ctrl+Q",
                               "Adjusts the color balance and brightness of the gradient.", {});
    AddSeparator(this, gradient);
    CycleForwardItem = AddItem(this, gradient, "Cycle Colors Forward", "Ctrl+]",
                               "Cycles the colors of the gradient from left to right.", command);
    CycleBackwardItem = AddItem(this, gradient, "Cycle Colors Backward", "Ctrl+[",
                                "Cycles the colors of the gradient from right to left.", command);
    AddSeparator(this, *GeneralMenu);
    PopupDuplicateItem = AddItem(this, *GeneralMenu, "&Duplicate", "Ctrl+D", DuplicateHint, command);
}

void TFractalForm::CreateFileMenu() {
    MainMenu = new TMainMenu(this);
    const TNotifyEvent command = MakeNotifyEvent<&TFractalForm::CommandClick>(this);
    FileMenu = AddItem(this, *MainMenu, "&File", "", "", {});
    FileMenu->SetGroupIndex(FileMenuGroup);
    // New, Open, Browse and Exit are the main window's commands.
    TMainForm *main = MainForm;
    NewItem = MirrorItem(this, *FileMenu, main ? main->NewItem : nullptr, "&New", "Creates a new document.");
    NewItem->SetEnabled(true);
    if (main)
        for (int i = 0; i < main->NewItem->Count(); ++i)
            MirrorItem(this, *NewItem, main->NewItem->Items(i), "", "");
    OpenItem = MirrorItem(this, *FileMenu, main ? main->OpenItem : nullptr, "&Open...", "");
    BrowseItem = MirrorItem(this, *FileMenu, main ? main->BrowseItem : nullptr, "&Browse...", "");
    AddSeparator(this, *FileMenu);
    DuplicateItem = AddItem(this, *FileMenu, "&Duplicate", "Ctrl+D", DuplicateHint, command);
    CloseItem = AddItem(this, *FileMenu, "&Close", "Ctrl+F4", "Closes the active document.", command);
    AddSeparator(this, *FileMenu);
    SaveItem = AddItem(this, *FileMenu, "&Save", "Ctrl+S", "Saves the active document.", command);
    SaveAsItem =
        AddItem(this, *FileMenu, "Save &As...", "", "Saves the active document with a new name.", command);
    SaveCopyItem =
        AddItem(this, *FileMenu, "Save a Cop&y...", "", "Saves a copy of the active document.", command);
    // Saving every document belongs to the document list of the opening routines, which has no
    // such command yet.
    SaveAllItem = AddItem(this, *FileMenu, "Sa&ve All", "", "Saves all open documents.", {});
    SaveAllItem->SetEnabled(false);
    SaveParametersItem =
        AddItem(this, *FileMenu, "Save Parame&ters...", "Ctrl+A", SaveParametersHint, command);
    AddSeparator(this, *FileMenu);
    ExportItem =
        AddItem(this, *FileMenu, "&Export Image...", "Ctrl+E", "Exports the fractal as an image.", command);
    // The recent files (filled by the file history), between two separators, then Exit.
    AddSeparator(this, *FileMenu);
    for (int i = 1; i <= TFileHistoryManager::MenuItems; ++i) {
        auto *item = new TMenuItem(this);
        item->SetVisible(false);
        FileMenu->Add(item);
    }
    AddSeparator(this, *FileMenu);
    ExitItem = MirrorItem(this, *FileMenu, main ? main->ExitItem : nullptr, "E&xit", "");
}

void TFractalForm::CreateEditAndFractalMenus() {
    const TNotifyEvent command = MakeNotifyEvent<&TFractalForm::CommandClick>(this);
    EditMenu = AddItem(this, *MainMenu, "&Edit", "", "", {});
    EditMenu->SetGroupIndex(EditMenuGroup);
    EditUndoItem = AddItem(this, *EditMenu, "&Undo", "Ctrl+Z", "Undo (Ctrl+Z)|Undoes the last action.",
                           MakeNotifyEvent<&TFractalForm::UndoItemClick>(this));
    EditRedoItem = AddItem(this, *EditMenu, "&Redo", "Ctrl+Y", "Redo (Ctrl+Y)|Cancels the last Undo command.",
                           MakeNotifyEvent<&TFractalForm::RedoItemClick>(this));
    AddSeparator(this, *EditMenu);
    CopyItem = AddItem(this, *EditMenu, "&Copy", "Ctrl+C", CopyHint, command);
    CopyFormulasItem =
        AddItem(this, *EditMenu, "Copy &Formulas", "",
                "Copies the parameters and the formulas of the fractal to the Clipboard.", command);
    EditPasteItem = AddItem(this, *EditMenu, "P&aste", "Ctrl+V", PasteHint, command);

    FractalMenu = AddItem(this, *MainMenu, "F&ractal", "", "", {});
    FractalMenu->SetGroupIndex(FractalMenuGroup);
    FractalItem = AddItem(this, *FractalMenu, "&Fractal", "F3", "Shows the fractal window.", command);
    FractalItem->SetRadioItem(true);
    FractalItem->SetGroupIndex(3);
    // The gradient editor is not part of the program yet.
    GradientItem = AddItem(this, *FractalMenu, "&Gradient", "F4",
                           "Shows the gradient editor to edit the colors of the fractal.", {});
    GradientItem->SetEnabled(false);
    AddSeparator(this, *FractalMenu);
    ResetLocationItem = AddItem(this, *FractalMenu, "Reset &Location", "",
                                "Resets the location of all layers to the default.", command);
    ZoomInItem = AddItem(this, *FractalMenu, "&Zoom In", "F9", "Zooms in to the center.", command);
    ZoomOutItem = AddItem(this, *FractalMenu, "Zoom &Out", "F10", "Zooms out of the center.", command);
    FullScreenItem = AddItem(this, *FractalMenu, "&Full Screen", "Ctrl+F", FullScreenHint, command);
    AddSeparator(this, *FractalMenu);
    AddModeItems(this, *FractalMenu, 4, MakeNotifyEvent<&TFractalForm::ModeItemClick>(this),
                 MenuNormalModeItem, MenuSelectModeItem, MenuSwitchModeItem);
    AddSeparator(this, *FractalMenu);
    // The render queue is not part of the program yet.
    RenderItem = AddItem(this, *FractalMenu, "Render to &Disk...", "Ctrl+R",
                         "Adds the fractal to the queue of render jobs.", {});
    RenderItem->SetEnabled(false);
}

void TFractalForm::CreateToolButtons() {
    struct TButtonInfo {
        int Tag;
        const char *Hint;
        int Group;
        bool SpaceBefore;
    };
    // New, Open, Browse and Help stand in the main window's own part of the tool bar, right
    // before this panel; the panel holds the rest. The picture strip has all of them, in the order
    // of the tags.
    static const TButtonInfo buttons[] = {
        {ToolSave, "Save (Ctrl+S)|Saves the active document.", 0, false},
        {ToolSaveParameters, "Save Parameters (Ctrl+A)|Saves a parameter set describing the fractal.", 0,
         false},
        {ToolFractal, "Fractal (F3)|Shows the fractal window", 1, true},
        {ToolGradient,
         "Gradient (F4)|Shows the gradient editor to edit the colors and opacity of the selected layer", 1,
         false},
        {ToolNormal,
         "Normal Mode (F5)|Sets Normal Mode for zooming, panning and rotating by dragging the mouse", 2,
         true},
        {ToolSelect, "Select Mode (F6)|Sets Select mode for zooming using a zoom box", 2, false},
        {ToolSwitch,
         "Switch Mode (F7)|Sets Switch Mode for switching to a related fractal type (for example from "
         "Mandelbrot to Julia).",
         2, false},
        {ToolRedo, "Redo (Ctrl+Y)|Cancels the last Undo command.", 0, true},
        {ToolUndo, "Undo (Ctrl+Z)|Undoes the last action.", 0, false},
        {ToolCopy, "Copy (Ctrl+C)|Copies the parameters of the active fractal window to the Clipboard", 0,
         true},
        {ToolPaste, "Paste (Ctrl+V)|Pastes the contents of the Clipboard into the active fractal window", 0,
         false},
        {ToolRender, "Render to Disk (Ctrl+R)|Adds the fractal to the queue of render jobs.", 0, true},
    };
    std::unique_ptr<TBitmap> strip;
    try {
        strip = std::make_unique<TBitmap>();
        strip->LoadFromResourceName(GetModuleHandleA(nullptr), "TOOLBAR_FRACTAL");
    } catch (const Exception &) {
        strip.reset(); // buttons without pictures show their captions
    }
    const TNotifyEvent command = MakeNotifyEvent<&TFractalForm::CommandClick>(this);
    int left = 0;
    for (const TButtonInfo &info : buttons) {
        if (info.SpaceBefore)
            left += 8;
        auto *button = new TSpeedButton(ToolBar);
        button->SetParent(ToolBar);
        button->SetFlat(true);
        button->SetBounds(left, 3, 23, 22);
        button->SetTag(info.Tag);
        button->SetHint(info.Hint);
        button->SetShowHint(true);
        button->SetGroupIndex(info.Group);
        if (info.Tag == ToolGradient || info.Tag == ToolRender)
            button->SetEnabled(false); // their windows are not part of the program yet
        else
            button->OnClick = command;
        const int index = info.Tag - ToolNew;
        if (strip && strip->Width() >= 16 * (index + 1)) {
            TBitmap &glyph = button->Glyph();
            glyph.SetSize(16, 16);
            glyph.Canvas().CopyRect({0, 0, 16, 16}, strip->Canvas(), {16 * index, 0, 16 * index + 16, 16});
            glyph.SetTransparent(true);
        }
        ToolButtons.push_back(button);
        left += 23;
    }
    ToolBar->SetBounds(0, 0, left, 28);
}

void TFractalForm::FormCreate() {
    // 1.
    FDisplay = DefaultDisplay;
    // 2.
    if (FractalManager())
        FractalManager()->Subscribe(FractalEventSet({fekFractal, fekCalculation}),
                                    MakeNotifyEvent<&TFractalForm::FractalChanged>(this));
    // 3.
    InitFractal();
    // 4.
    if (TFractalConfiguration *options = FractalOptions())
        FCrosshair = options->CrosshairCursor;
    FDisplay->SetCursor(HostCursor());
    // 5.
    if (ClipboardManager())
        ClipboardManager()->AddHandler(MakeNotifyEvent<&TFractalForm::UpdatePasteItem>(this));
    if (ConfigManager())
        ConfigManager()->AddHandler(MakeNotifyEvent<&TFractalForm::OptionsChanged>(this));
    if (TFileHistoryManager *history = FileHistoryManager()) {
        history->AddHandler(MakeNotifyEvent<&TFractalForm::HistoryChanged>(this));
        history->UpdateMenu(*FileMenu);
        history->AttachWindow(this);
    }
    UpdatePasteItem();
    UpdateUndoItems();
    FractalChanged(this);
}

void TFractalForm::InitFractal() {
    TFractalConfiguration *options = FractalOptions();
    FNewFractal = !FFractal;
    if (FNewFractal) {
        FFractal = std::make_unique<TInteractiveFractal>();
        FFractal->BeginChange();
        FFractal->SetTitle(MakeUniqueCaption("Fractal"));
        if (options) {
            FFractal->SetImageSize(options->DefaultWidth, options->DefaultHeight);
            FFractal->GetResolution().SetText(FloatToStr(options->DefaultResolution));
            FFractal->GetGamma().SetText(FloatToStr(options->DefaultGamma));
        }
    } else if (FractalManager()) {
        FractalManager()->Notify(fekFractal);
    }
    FFractal->OnChange = MakeNotifyEvent<&TFractalForm::NotifyFractalChanged>(this);
    FFractal->OnCalculate = MakeNotifyEvent<&TFractalForm::CalculationStarted>(this);
    FFractal->GetBitmap().OnBeforeDraw = MakeNotifyEvent<&TFractalForm::BeforeDraw>(this);
    FFractal->GetBitmap().OnAfterDraw = MakeNotifyEvent<&TFractalForm::AfterDraw>(this);
    FFractal->GetBitmap().SetWindow(FDisplay->Handle());
    SetForeground(true);
    if (!FFormulaFile.empty() && !FFormulaEntry.empty()) {
        TLayer &layer = *FFractal->GetActiveLayer();
        layer.GetFormula().SetSource(FFormulaFile, FFormulaEntry);
        layer.ResetLocation();
    }
    FFractal->ClearHistory();
    if (FNewFractal)
        FFractal->EndChangeCaption("New Fractal");
    if (!FNewFractal && FFractal->IsCalculating())
        CalculationStarted(this);
    FFractal->SetModified(false);
    FFractal->TrackCredits = true;
}

TFractalForm::~TFractalForm() {
    Timer->SetEnabled(false);
    if (FractalManager())
        FractalManager()->Unsubscribe(MakeNotifyEvent<&TFractalForm::FractalChanged>(this));
    if (ConfigManager())
        ConfigManager()->RemoveHandler(MakeNotifyEvent<&TFractalForm::OptionsChanged>(this));
    if (ClipboardManager())
        ClipboardManager()->RemoveHandler(MakeNotifyEvent<&TFractalForm::UpdatePasteItem>(this));
    if (TFileHistoryManager *history = FileHistoryManager())
        history->RemoveHandler(MakeNotifyEvent<&TFractalForm::HistoryChanged>(this));
    StoreMouseMode(mmoNormal);
    if (SelectArea() && SelectArea()->GetWindow() == this)
        SelectArea()->SetWindow(nullptr);
    if (Eyedropper().IsActive())
        Eyedropper().Cancel();
    if (FractalManager() && FractalManager()->ActiveFractal() == this)
        FractalManager()->SetActiveFractal(nullptr);
    if (FFractal) {
        FFractal->OnChange = nullptr;
        FFractal->OnCalculate = nullptr;
        FFractal->GetBitmap().OnBeforeDraw = nullptr;
        FFractal->GetBitmap().OnAfterDraw = nullptr;
        FFractal->GetBitmap().SetWindow(nullptr);
    }
    FFractal.reset();
}

void TFractalForm::SetParameterEntry(const std::string &File, const std::string &Entry) {
    FParameterFile = File;
    FParameterEntry = Entry;
}

void TFractalForm::ShowHelp() {
    // The help viewer for the program's pages is not part of the program yet.
}

void TFractalForm::NotifyFractalChanged(TObject *) {
    if (FractalManager())
        FractalManager()->Notify(fekFractal);
    else
        FractalChanged(this);
}

void TFractalForm::CalculationStarted(TObject *) {
    FTickCount = 0;
    Timer->SetEnabled(true);
    if (FractalManager())
        FractalManager()->Notify(fekCalculation);
}

void TFractalForm::BeforeDraw(TObject *) {
    if (SelectArea() && SelectArea()->GetWindow() == this)
        SelectArea()->Erase();
}

void TFractalForm::AfterDraw(TObject *) {
    if (SelectArea() && SelectArea()->GetWindow() == this)
        SelectArea()->Draw();
}

// =============================================================================================
// Closing, activation, priority

bool TFractalForm::Save(bool As) {
    std::string fileName = FFractalFile;
    if (As || fileName.empty()) {
        if (OnAskFileName) {
            fileName = OnAskFileName();
        } else {
            SaveDialog->FileName = MakeValidFileName(FFractal->GetTitle());
            if (ConfigManager())
                SaveDialog->InitialDir = ConfigManager()->Folder->Fractal;
            fileName = ExecuteFractalFileDialog(*SaveDialog) ? SaveDialog->FileName : std::string();
        }
        if (fileName.empty())
            return false;
        fileName = FractalFileName(fileName);
        if (TConfigManager *config = ConfigManager(); config && config->Folder->RememberFractalFolder)
            config->Folder->Fractal = ExtractFilePath(fileName);
    }
    try {
        if (As || fileName != FFractalFile)
            FFractal->SaveAs(fileName);
        else
            FFractal->SaveToFile(fileName);
    } catch (const std::exception &e) {
        FractalMessageDialog(ExceptionMessageText(e.what()), mtError, {mbOK});
        return false;
    }
    FFractalFile = fileName;
    FParameterFile.clear();
    FParameterEntry.clear();
    if (TFileHistoryManager *history = FileHistoryManager())
        history->DocumentSaved(this, fileName, "", "");
    return true;
}

void TFractalForm::FormCloseQuery(TObject *, bool &CanClose) {
    TFractalConfiguration *options = FractalOptions();
    if (FFractal->GetModified() && (!options || options->SaveWhenClosing)) {
        const int answer = FractalMessageDialog(Format("Save changes to '%s'?", FFractal->GetTitle()),
                                                mtConfirmation, {mbYes, mbNo, mbCancel});
        if (answer == mrCancel || (answer == mrYes && !Save(false))) {
            CanClose = false;
            return;
        }
    }
    if (TFileHistoryManager *history = FileHistoryManager())
        history->DocumentClosed(this, -1);
}

void TFractalForm::FormClose(TObject *, TCloseAction &Action) {
    Action = caFree;
}

void TFractalForm::Activate() {
    if (FFractal->GetBitmap().UsesPalette())
        FDisplay->Invalidate();
    if (FractalManager())
        FractalManager()->SetActiveFractal(this, this);
    if (SelectArea())
        SelectArea()->SetWindow(this);
    if (GetMouseMode() == mmoSwitch && !CanSwitch())
        SetMouseMode(mmoNormal);
    UpdateCommandItems();
    FractalItem->SetChecked(true);
    SetForeground(true);
    UpdateTitle();
    TDocumentForm::Activate();
}

void TFractalForm::Deactivate() {
    FractalItem->SetChecked(false);
    SetForeground(false);
    UpdateTitle();
    TDocumentForm::Deactivate();
}

void TFractalForm::SetForeground(bool Value) {
    std::uint8_t priority = Value ? 2 : 1;
    if (TFractalConfiguration *options = FractalOptions())
        priority =
            static_cast<std::uint8_t>(Value ? options->ForegroundPriority : options->BackgroundPriority);
    FFractal->SetThreadPriority(priority);
}

void TFractalForm::OptionsChanged(TObject *) {
    FFractal->ApplyUncalculatedColor();
    SetForeground(Active());
}

void TFractalForm::UpdateUndoItems() {
    THistoryList &history = FFractal->GetHistory();
    const std::string undoCaption =
        history.CanUndo() && FFractal->GetCurrentStep() ? FFractal->GetCurrentStep()->Caption : std::string();
    UndoItem->SetEnabled(history.CanUndo());
    UndoItem->SetCaption(undoCaption.empty() ? "&Undo" : "&Undo " + undoCaption);
    UndoItem->SetHint(undoCaption.empty() ? "Undo (Ctrl+Z)|Undoes the last action."
                                          : "Undo " + undoCaption + " (Ctrl+Z)|Undoes the last action.");
    const std::string redoCaption =
        history.CanRedo() ? history.GetItem(history.ItemIndex() + 1)->Caption : std::string();
    RedoItem->SetEnabled(history.CanRedo());
    RedoItem->SetCaption(redoCaption.empty() ? "&Redo" : "&Redo " + redoCaption);
    RedoItem->SetHint(redoCaption.empty()
                          ? "Redo (Ctrl+Y)|Cancels the last Undo command."
                          : "Redo " + redoCaption + " (Ctrl+Y)|Cancels the last Undo command.");
    for (TMenuItem *item : {EditUndoItem, EditRedoItem}) {
        const TMenuItem &source = item == EditUndoItem ? *UndoItem : *RedoItem;
        item->SetEnabled(source.Enabled());
        item->SetCaption(source.Caption());
        item->SetHint(source.Hint());
    }
    for (TSpeedButton *button : ToolButtons)
        if (button->Tag() == ToolUndo || button->Tag() == ToolRedo) {
            const TMenuItem &source = button->Tag() == ToolUndo ? *UndoItem : *RedoItem;
            button->SetEnabled(source.Enabled());
            button->SetHint(source.Hint());
        }
}

void TFractalForm::UndoItemClick(TObject *) {
    if (FFractal->GetHistory().CanUndo())
        FFractal->GetHistory().Undo();
}

void TFractalForm::RedoItemClick(TObject *) {
    if (FFractal->GetHistory().CanRedo())
        FFractal->GetHistory().Redo();
}

// =============================================================================================
// Size, painting, timer, status

void TFractalForm::FractalChanged(TObject *) {
    const std::int32_t w = FFractal->GetWidth(), h = FFractal->GetHeight();
    if (w != FLastWidth || h != FLastHeight) {
        if (!Maximized())
            FitToImage();
        else {
            ScrollBox->HorzScrollBar().SetPosition(0);
            ScrollBox->VertScrollBar().SetPosition(0);
            FDisplay->Invalidate();
        }
        FLastWidth = w;
        FLastHeight = h;
        FDisplay->SetBounds(FDisplay->Left(), FDisplay->Top(), w, h);
        CenterDisplay();
    }
    UpdateStatus();
    UpdateTitle();
    UpdateUndoItems();
    UpdateCommandItems();
    if (FFractal->GetTitle() != FLastTitle) {
        FLastTitle = FFractal->GetTitle();
        if (FractalManager())
            FractalManager()->Notify(fekInteraction);
    }
}

void TFractalForm::FitToImage() {
    const std::int32_t w = FFractal->GetWidth(), h = FFractal->GetHeight();
    // The frame's size is known only once the window exists.
    HandleNeeded();
    RECT client;
    GetClientRect(Handle(), &client);
    int width = w + 4 + (Width() - (client.right - client.left));
    int height = h + 4 + (Height() - (client.bottom - client.top));
    if (MainForm && MainForm->ClientHandle()) {
        RECT area;
        GetClientRect(MainForm->ClientHandle(), &area);
        const int maxWidth = area.right - 40, maxHeight = area.bottom - 40;
        if (width > maxWidth)
            height += GetSystemMetrics(SM_CYHSCROLL);
        if (height > maxHeight)
            width += GetSystemMetrics(SM_CXVSCROLL);
        width = std::min(width, maxWidth);
        height = std::min(height, maxHeight);
        if (width != Width() || height != Height()) {
            ScrollBox->HorzScrollBar().SetPosition(0);
            ScrollBox->VertScrollBar().SetPosition(0);
            SetBounds(Left(), Top(), width, height);
        }
        if (Left() + Width() > area.right - 20)
            SetLeft(20);
        if (Top() + Height() > area.bottom - 20)
            SetTop(20);
    } else if (width != Width() || height != Height()) {
        SetBounds(Left(), Top(), width, height);
    }
}

void TFractalForm::Resize() {
    TDocumentForm::Resize();
    CenterDisplay();
}

void TFractalForm::CenterDisplay() {
    if (!ScrollBox || !FDisplay)
        return;
    if (SelectArea() && SelectArea()->GetWindow() == this)
        SelectArea()->SetWindow(this);
    ScrollBox->HorzScrollBar().SetRange(FDisplay->Width());
    ScrollBox->VertScrollBar().SetRange(FDisplay->Height());
    ScrollBox->HorzScrollBar().SetPosition(0);
    ScrollBox->VertScrollBar().SetPosition(0);
    const RECT client = ScrollBox->ClientRect();
    const int left = std::max(static_cast<int>(client.right - client.left) / 2 - FDisplay->Width() / 2, 0);
    const int top = std::max(static_cast<int>(client.bottom - client.top) / 2 - FDisplay->Height() / 2, 0);
    FDisplay->SetBounds(left, top, FDisplay->Width(), FDisplay->Height());
    // The frame around the image moves with it.
    ScrollBox->Invalidate();
}

void TFractalForm::TimerTimer(TObject *) {
    if (FFractal->IsChanging())
        return;
    if (FFractal->IsCalculating()) {
        if (++FTickCount >= TicksPerUpdate) {
            UpdateStatus();
            UpdateTitle();
            FTickCount = 0;
        }
        if (FractalManager())
            FractalManager()->Notify(fekProgress);
        return;
    }
    Timer->SetEnabled(false);
    UpdateStatus();
    UpdateTitle();
    PlayFinishSound();
    if (FractalManager())
        FractalManager()->Notify(fekCalculation);
}

void TFractalForm::PlayFinishSound() {
    TFractalConfiguration *options = FractalOptions();
    // More than a minute: the elapsed time is kept in days.
    if (options && options->SoundEnabled && FFractal->IsCalculationDone() &&
        FFractal->GetTimer().GetElapsed() > 1.0 / 1440)
        PlayFractalSound(options->SoundFile);
}

void TFractalForm::UpdateTitle() {
    if (FInMenuLoop)
        return;
    std::string caption = FFractal->GetTitle();
    if ((!Active() || FMinimized || Minimized()) && FFractal->IsCalculating())
        caption = "[" + IntToStr(FFractal->GetTimer().GetPercentage()) + "%] " + caption;
    if (Caption() != caption)
        SetCaption(caption);
}

void TFractalForm::UpdateStatusBar() {
    TStatusBar *bar = GetStatusBar();
    if (!bar)
        return;
    auto add = [&](std::initializer_list<int> widths) {
        for (int width : widths)
            bar->AddPanel("", ScaleForScreenFont(width));
    };
    using K = TInteractiveFractal::TDragKind;
    switch (GetMouseMode()) {
    case mmoSelect:
        add({330, 115, 85, 80, 75});
        break;
    case mmoDragging:
        switch (FFractal->GetDragKind()) {
        case K::Zoom:
            add({290, 80});
            break;
        case K::Pan:
            add({280, 50, 50});
            break;
        case K::Rotate:
            add({270, 80});
            break;
        case K::Stretch:
            add({340, 80, 80});
            break;
        default:
            add({180, 80});
            break;
        }
        break;
    case mmoSwitch:
        add({200, 50, 50, 150, 150});
        break;
    default:
        add({120, 50, 50, 140});
        FCalculationDone = FFractal->IsCalculationDone();
        if (!FCalculationDone) {
            add({140});
            bar->AddPanel("", ScaleForScreenFont(200), psOwnerDraw);
        }
        break;
    }
    UpdateStatus();
}

void TFractalForm::UpdateStatus() {
    TStatusBar *bar = GetStatusBar();
    if (!bar)
        return;
    const int count = bar->PanelCount();
    auto set = [&](int index, const std::string &text) {
        if (index < count)
            bar->SetPanelText(index, text);
    };
    TCalculationTimer &timer = FFractal->GetTimer();
    using K = TInteractiveFractal::TDragKind;
    switch (GetMouseMode()) {
    case mmoSelect: {
        if (count < 5 || !SelectArea())
            return;
        TSelectArea &box = *SelectArea();
        const double degrees = box.GetAngle() * 180 / 3.14159265358979323846;
        set(0, " " + box.GetHint());
        set(1, Format(" Magnification: %.2f", box.GetMagnification()));
        set(2, Format(" Rotation: %d\xB0", static_cast<int>(std::ceil(360 - degrees)) % 360));
        set(3, Format(" Stretch: %.2f", 1 / box.GetStretchValue()));
        set(4, Format(" Skew: %d\xB0",
                      static_cast<int>(std::lround(box.GetSkew() * 180 / 3.14159265358979323846)) % 180));
        break;
    }
    case mmoDragging: {
        const auto degrees = [](double radians) {
            return static_cast<int>(std::lround(radians * 180 / 3.14159265358979323846));
        };
        switch (FFractal->GetDragKind()) {
        case K::Zoom:
            if (count < 2)
                return;
            set(0, " Drag to zoom. Use Ctrl for fine adjustment, Esc to cancel.");
            set(1, Format(" Factor: %.2f", FFractal->GetZoomFactor()));
            break;
        case K::Pan:
            if (count < 3)
                return;
            set(0, " Drag to pan. Use Ctrl for fine adjustment, Esc to cancel.");
            set(1, Format(" X: %d", FFractal->GetPanOffset().x));
            set(2, Format(" Y: %d", FFractal->GetPanOffset().y));
            break;
        case K::Rotate:
            if (count < 2)
                return;
            set(0, " Drag to rotate. Use Shift to constrain, Esc to cancel.");
            set(1, Format(" Angle: %d\xB0", ((degrees(FFractal->GetRotationAngle()) % 360) + 360) % 360));
            break;
        case K::Stretch:
            if (count < 3)
                return;
            set(0, " Drag to stretch. Use Shift to constrain, Alt to squeeze, Esc to cancel.");
            set(1, Format(" Stretch: %.2f", FFractal->GetStretchFactor()));
            set(2, Format(" Angle: %d\xB0", ((degrees(FFractal->GetStretchAngle()) % 180) + 180) % 180));
            break;
        default:
            if (count < 2)
                return;
            set(0, " Drag to skew. Use Esc to cancel.");
            set(1, Format(" Angle: %d\xB0", degrees(FFractal->GetSkewAngle())));
            break;
        }
        break;
    }
    case mmoSwitch: {
        if (count < 5)
            return;
        set(0, " Click to switch. Use Esc to cancel.");
        POINT pointer;
        GetCursorPos(&pointer);
        ::ScreenToClient(FDisplay->Handle(), &pointer);
        if (TLayer *layer = FFractal->GetActiveLayer()) {
            TComplexValue location;
            layer->GetMapping().PointToLocation(location, pointer.x, pointer.y);
            set(3, " X: " + location.Re.GetText());
            set(4, " Y: " + location.Im.GetText());
        }
        break;
    }
    default: {
        if (count < 4)
            return;
        if (FFractal->IsCalculationDone() != FCalculationDone) {
            RefreshStatusBar();
            return;
        }
        if (FCalculationDone) {
            set(0, " Completed");
            set(3, " Elapsed: " + timer.GetElapsedText());
        } else {
            set(0, FFractal->IsCalculating() ? Format(" Calculating... (%d%%)", timer.GetPercentage())
                                             : std::string(" Interrupted"));
            set(3, " Elapsed: " + timer.GetElapsedText());
            set(4, " Remaining: " + timer.GetRemainingText());
            if (count >= 6) {
                RECT rect = bar->PanelRect(5);
                InflateRect(&rect, -1, -1);
                if (DrawProgressBlocks(nullptr, rect, timer.GetProgress()) != FProgressBlocks)
                    bar->InvalidatePanel(5, bar->PanelRect(5));
            }
        }
        break;
    }
    }
}

void TFractalForm::DrawStatusPanel(TStatusBar *StatusBar, int Panel, const RECT &Rect) {
    if (Panel != 5 || !FFractal->IsCalculating())
        return;
    RECT rect = Rect;
    InflateRect(&rect, -1, -1);
    FProgressBlocks = DrawProgressBlocks(&StatusBar->Canvas(), rect, FFractal->GetTimer().GetProgress());
}

void TFractalForm::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_ENTERMENULOOP:
        FInMenuLoop = true;
        break;
    case WM_EXITMENULOOP:
        FInMenuLoop = false;
        TDocumentForm::WndProc(Message);
        UpdateTitle();
        return;
    case WM_SYSCOMMAND:
        switch (Message.WParam & 0xFFF0) {
        case SC_MINIMIZE:
            SetForeground(false);
            FMinimized = true;
            break;
        case SC_MAXIMIZE:
        case SC_RESTORE:
            if (FMinimized) {
                SetForeground(true);
                FMinimized = false;
            }
            break;
        default:
            break;
        }
        break;
    case WM_SYSKEYDOWN:
    case WM_SYSKEYUP:
        TDocumentForm::WndProc(Message);
        ReplayDragMove();
        return;
    case WM_PALETTECHANGED:
        if (reinterpret_cast<HWND>(Message.WParam) != Handle())
            FFractal->GetBitmap().RealizePalette();
        break;
    case WM_QUERYNEWPALETTE:
        FDisplay->Invalidate();
        Message.Result = 1;
        return;
    default:
        break;
    }
    TDocumentForm::WndProc(Message);
}

// =============================================================================================
// Mouse modes

bool TFractalForm::CanSwitch() const {
    TLayer *layer = FFractal->GetActiveLayer();
    return layer && !layer->GetFormula().GetSwitchType().empty();
}

void TFractalForm::SetMouseMode(int Mode) {
    const int current = GetMouseMode();
    if (Mode == current)
        return;
    if (current == mmoSelect && SelectArea())
        SelectArea()->Hide();
    if (Mode == mmoSwitch && !CanSwitch())
        Mode = mmoNormal;
    StoreMouseMode(Mode);
    if (Mode == mmoSelect) {
        if (SelectArea()) {
            SelectArea()->SetWindow(this);
            SelectArea()->Show();
        }
        if (MainForm)
            MainForm->ShowToolWindow(ToolFormClass<TModeToolForm>());
        // In full screen the view keeps the focus (it passes the keys to the box).
        if (!FInFullScreen) {
            if (MainForm && MainForm->Visible())
                MainForm->SetFocus();
            SetActiveControl(nullptr);
            if (FDisplay->CanFocus())
                FDisplay->SetFocus();
        }
    } else if (Mode == mmoSwitch) {
        if (MainForm)
            MainForm->ShowToolWindow(ToolFormClass<TModeToolForm>());
        if (MainForm && MainForm->Visible() && !FInFullScreen)
            MainForm->SetFocus();
    }
    UpdateCommandItems();
    RefreshStatusBar();
    if (FractalManager())
        FractalManager()->Notify(fekInteraction);
}

void TFractalForm::ModeItemClick(TObject *Sender) {
    if (Sender == NormalModeItem || Sender == MenuNormalModeItem)
        SetMouseMode(mmoNormal);
    else if (Sender == SelectModeItem || Sender == MenuSelectModeItem)
        SetMouseMode(mmoSelect);
    else if (Sender == SwitchModeItem || Sender == MenuSwitchModeItem)
        SetMouseMode(mmoSwitch);
}

TDragShift TFractalForm::DragShift(TShiftState Shift) const {
    return FModifiersReleased ? ToDragShift(Shift) : 0;
}

void TFractalForm::DisplayMouseDown(TObject *, TMouseButton Button, TShiftState Shift, int X, int Y) {
    // 1.
    if (Button != mbLeft)
        FDisplay->SetMouseCapture(true);
    // 2.
    const int mode = GetMouseMode();
    if (mode == mmoSwitch || Eyedropper().IsActive())
        return;
    // 3.
    if (Shift & ssDouble) {
        if (Button != mbLeft)
            return;
        if (mode == mmoSelect) {
            if (Shift & ssCtrl)
                SelectZoomOut();
            else
                SelectZoomIn();
            return;
        }
        SetMouseMode(mmoNormal);
        try {
            if (Shift & ssCtrl)
                FFractal->ZoomOutAt(POINT{X, Y}, ToDragShift(Shift));
            else
                FFractal->ZoomInAt(POINT{X, Y}, ToDragShift(Shift));
        } catch (const EViewOperationError &e) {
            FractalMessageDialog(e.what(), mtError, {mbOK});
        }
        return;
    }
    // 4.
    if (SelectArea() && SelectArea()->GetActive() && mode == mmoSelect) {
        SelectArea()->MouseDown(Button, Shift, X, Y);
        return;
    }
    // 5.
    if (mode == mmoSelectPress || mode == mmoViewPress || mode == mmoDragging) {
        FFractal->CancelDrag();
        SetMouseMode(mmoNormal);
        return;
    }
    // 6.
    FMouseDownPoint = POINT{X, Y};
    int action = maNone;
    if (TFractalConfiguration *options = FractalOptions())
        action = options->GetMouseAction(Button == mbLeft    ? 0
                                         : Button == mbRight ? 1
                                                             : 2,
                                         Shift & ssShift, Shift & ssCtrl, Shift & ssAlt);
    if (action == maSelect)
        SetMouseMode(mmoSelectPress);
    else if (action >= maDrag && action <= maSkew) {
        FDragKind = DragKindOfAction(action);
        SetMouseMode(mmoViewPress);
    }
}

void TFractalForm::DisplayMouseMove(TObject *, TShiftState Shift, int X, int Y) {
    int mode = GetMouseMode();
    // 1.
    if (TStatusBar *bar = GetStatusBar())
        if ((mode == mmoNormal || mode == mmoSwitch) && bar->PanelCount() >= 3) {
            bar->SetPanelText(1, Format(" X: %d", X - FFractal->GetWidth() / 2));
            bar->SetPanelText(2, Format(" Y: %d", FFractal->GetHeight() / 2 - Y));
        }
    // 2.
    if (Eyedropper().IsActive())
        return;
    // 3.
    if (mode != mmoSelect)
        FDisplay->SetCursor(HostCursor());
    // 4.
    if (mode == mmoSelectPress || mode == mmoViewPress) {
        const int threshold = GetSystemMetrics(SM_CXDRAG) > 0 ? GetSystemMetrics(SM_CXDRAG) : 5;
        if (std::abs(X - FMouseDownPoint.x) > threshold || std::abs(Y - FMouseDownPoint.y) > threshold) {
            if (mode == mmoViewPress) {
                FModifiersReleased = false;
                FFractal->BeginDrag(FDragKind, FMouseDownPoint);
                SetMouseMode(mmoDragging);
            } else if (SelectArea()) {
                // The box starts a new box at the press point and sets select mode itself.
                SelectArea()->SetWindow(this);
                SelectArea()->MouseDown(mbLeft, ssLeft, FMouseDownPoint.x, FMouseDownPoint.y);
            }
            mode = GetMouseMode();
        }
    }
    // 5.
    if (!(Shift & ModifierKeys))
        FModifiersReleased = true;
    // 6.
    if (mode == mmoSelect) {
        if (SelectArea())
            SelectArea()->MouseMove(Shift, X, Y);
        UpdateStatus();
    } else if (mode == mmoSwitch) {
        if (FractalManager())
            FractalManager()->Notify(fekInteraction);
        UpdateStatus();
    } else if (mode == mmoDragging) {
        FFractal->DragTo(POINT{X, Y}, DragShift(Shift));
        UpdateStatus();
    }
}

void TFractalForm::DisplayMouseUp(TObject *, TMouseButton Button, TShiftState Shift, int X, int Y) {
    // 1.
    if (Button != mbLeft)
        FDisplay->SetMouseCapture(false);
    const int mode = GetMouseMode();
    // 2.
    if (mode != mmoSelect) {
        TFractalConfiguration *options = FractalOptions();
        if (options && options->GetMouseAction(Button == mbLeft    ? 0
                                               : Button == mbRight ? 1
                                                                   : 2,
                                               Shift & ssShift, Shift & ssCtrl, Shift & ssAlt) == maPopup) {
            SetMouseMode(mode == mmoSwitch ? mmoSwitch : mmoNormal);
            ShowPopup(*GeneralMenu, X, Y);
            return;
        }
    }
    // 3.
    if (Eyedropper().IsActive())
        return;
    switch (mode) {
    case mmoSelect: // 4.
        if (Button == mbRight) {
            ShowPopup(*SelectMenu, X, Y);
        } else if (SelectArea()) {
            SelectArea()->MouseUp(Button, Shift, X, Y);
            UpdateStatus();
        }
        break;
    case mmoDragging: // 5.
        try {
            FFractal->EndDrag(POINT{X, Y}, DragShift(Shift));
        } catch (const EViewOperationError &e) {
            FFractal->CancelDrag();
            SetMouseMode(mmoNormal);
            FractalMessageDialog(e.what(), mtError, {mbOK});
            return;
        }
        SetMouseMode(mmoNormal);
        break;
    case mmoSwitch: // 6.
        Switch(X, Y);
        SetMouseMode(mmoNormal);
        break;
    default: // 7.
        SetMouseMode(mmoNormal);
        break;
    }
}

void TFractalForm::ShowPopup(TPopupMenu &Menu, int X, int Y) {
    SelectResizeItem->SetChecked(SelectArea() && !SelectArea()->GetStretch());
    SelectStretchItem->SetChecked(SelectArea() && SelectArea()->GetStretch());
    POINT point{X, Y};
    ::ClientToScreen(FDisplay->Handle(), &point);
    Menu.Popup(point.x, point.y);
}

void TFractalForm::ReplayDragMove() {
    if (GetMouseMode() != mmoDragging)
        return;
    POINT pointer;
    GetCursorPos(&pointer);
    ::ScreenToClient(FDisplay->Handle(), &pointer);
    DisplayMouseMove(this, KeyboardStateToShiftState(), pointer.x, pointer.y);
}

void TFractalForm::FormShortCut(WORD Key, TShiftState Shift, bool &Handled) {
    const int mode = GetMouseMode();
    if (mode == mmoDragging) {
        if (Key == VK_ESCAPE) {
            FFractal->CancelDrag();
            SetMouseMode(mmoNormal);
            Handled = true;
        }
        return;
    }
    if (mode == mmoSwitch) {
        if (Key == VK_ESCAPE) {
            SetMouseMode(mmoNormal);
            Handled = true;
        }
        return;
    }
    if (Key == VK_SPACE && !(Shift & ModifierKeys)) {
        SetMouseMode(mmoSwitch);
        Handled = true;
        return;
    }
    if (mode == mmoSelect && SelectArea() && SelectArea()->GetActive()) {
        if (Key == VK_RETURN) {
            (Shift & ssCtrl) ? SelectZoomOut() : SelectZoomIn();
            Handled = true;
            return;
        }
        if (Key == VK_F9 || Key == VK_F10) {
            Key == VK_F10 ? SelectZoomOut() : SelectZoomIn();
            Handled = true;
            return;
        }
        if (Key == VK_ESCAPE) {
            SetMouseMode(mmoNormal);
            Handled = true;
            return;
        }
        WORD key = Key;
        SelectArea()->KeyDown(key, Shift);
        UpdateStatus();
        Handled = key == 0;
        return;
    }
    // The mode keys go alone: Shift+F6 and its like belong to the main window (the tool windows).
    if (Shift & ModifierKeys)
        return;
    switch (Key) {
    case VK_PRIOR:
        SetMouseMode(mmoSelect);
        Handled = true;
        break;
    case VK_F5:
        SetMouseMode(mmoNormal);
        Handled = true;
        break;
    case VK_F6:
        SetMouseMode(mmoSelect);
        Handled = true;
        break;
    case VK_F7:
        SetMouseMode(mmoSwitch);
        Handled = true;
        break;
    default:
        break;
    }
}

void TFractalForm::FormKeyDown(TObject *, WORD &Key, TShiftState Shift) {
    // The gradient commands of Ctrl+1..4, Q, [ and ] are the general popup menu's shortcuts.
    ReplayDragMove();
}

void TFractalForm::FormKeyUp(TObject *, WORD &Key, TShiftState Shift) {
    ReplayDragMove();
}

// =============================================================================================
// Switch and the selection box

void TFractalForm::Switch(int X, int Y) {
    SetMouseMode(mmoNormal);
    TLayer *current = FFractal->GetActiveLayer();
    if (!current || current->GetFormula().GetSwitchType().empty())
        return;
    BeginWaitCursor();
    try {
        if (MainForm && !FInFullScreen)
            MainForm->Show();
        TFractalConfiguration *options = FractalOptions();
        const int switchOptions = options ? options->SwitchOptions : soNewWindow | soOriginalSize;
        const bool newWindow = (switchOptions & soNewWindow) && !FInFullScreen;
        auto fractal = std::make_unique<TInteractiveFractal>();
        fractal->BeginChange();
        fractal->SetTitle(MakeUniqueCaption("Fractal"));
        if ((switchOptions & soOriginalSize) || !newWindow || !options)
            fractal->SetImageSize(FFractal->GetWidth(), FFractal->GetHeight());
        else
            fractal->SetImageSize(options->DefaultWidth, options->DefaultHeight);
        TLayer &layer = *fractal->GetActiveLayer();
        layer.BeginUpdate();
        TFormula &formula = current->GetFormula();
        const std::string file = formula.GetFileName();
        layer.GetFormula().SetSource(file, formula.GetSwitchType());
        TComplexValue location;
        current->GetMapping().PointToLocation(location, X, Y);
        layer.GetFormula().ApplySwitch(formula, location, true);
        layer.SetMethod(current->GetMethod());
        layer.GetFormula().SetPeriodicity(formula.GetPeriodicity());
        layer.GetFormula().SetMaxIter(formula.GetMaxIter());
        if (switchOptions & soOriginalColoring) {
            layer.GetInsideColoring().CopyFrom(current->GetInsideColoring());
            layer.GetOutsideColoring().CopyFrom(current->GetOutsideColoring());
        }
        if (switchOptions & soOriginalGradient)
            layer.GetGradient().CopyFrom(current->GetGradient());
        layer.ResetLocation();
        layer.EndUpdate();
        fractal->EndChangeCaption("Switch");
        if (newWindow) {
            if (TFileHistoryManager *history = FileHistoryManager())
                history->DocumentCreated();
            TFractalForm *form = CreateWithFractal(Application, std::move(fractal));
            form->Show();
        } else {
            const std::string title = FFractal->GetTitle();
            FFractal->BeginChange();
            FFractal->CopyFrom(*fractal);
            FFractal->SetTitle(title);
            FFractal->EndChangeCaption("Switch");
        }
    } catch (...) {
        EndWaitCursor();
        throw;
    }
    EndWaitCursor();
}

void TFractalForm::SelectZoom(bool Out) {
    if (!SelectArea())
        return;
    const TViewBox box = SelectArea()->GetViewBox();
    const bool stretch = SelectArea()->GetStretch();
    SetMouseMode(mmoNormal);
    try {
        if (Out)
            FFractal->SelectZoomOut(box, stretch);
        else
            FFractal->SelectZoomIn(box, stretch);
    } catch (const EViewOperationError &e) {
        FractalMessageDialog(e.what(), mtError, {mbOK});
    }
}

void TFractalForm::SelectZoomIn() {
    SelectZoom(false);
}

void TFractalForm::SelectZoomOut() {
    SelectZoom(true);
}

void TFractalForm::SelectCrop() {
    if (!SelectArea())
        return;
    const TViewBox box = SelectArea()->GetViewBox();
    SetMouseMode(mmoNormal);
    try {
        FFractal->SelectCrop(box);
    } catch (const EViewOperationError &e) {
        FractalMessageDialog(e.what(), mtError, {mbOK});
    }
}

void TFractalForm::SelectMenuClick(TObject *Sender) {
    if (Sender == SelectZoomInItem)
        SelectZoomIn();
    else if (Sender == SelectZoomOutItem)
        SelectZoomOut();
    else if (Sender == SelectCropItem)
        SelectCrop();
    else if (Sender == SelectResetItem && SelectArea())
        SelectArea()->Reset();
    else if ((Sender == SelectResizeItem || Sender == SelectStretchItem) && SelectArea())
        SelectArea()->SetStretch(Sender == SelectStretchItem);
    else if (Sender == SelectCancelItem)
        SetMouseMode(mmoNormal);
}
