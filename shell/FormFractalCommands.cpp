// The fractal window's commands: saving, saving parameters, exporting, the clipboard, duplicating,
// full screen and the gradient commands, and the state of their menu items and buttons.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Clipbrd.h"
#include "ColorCycling.h"
#include "CompEntries.h"
#include "CompFileManager.h"
#include "CompPersistent.h"
#include "FileHistory.h"
#include "FormFractal.h"
#include "FormFullScreen.h"
#include "FormMain.h"
#include "FracClipboard.h"
#include "FracExport.h"
#include "FracGradient.h"
#include "FracLayer.h"
#include "FracProgress.h"
#include "FracReaders.h"
#include "FracUpdate.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "SelectArea.h"
#include "SysUtils.h"

namespace {

TFractalFileDialog FileDialog;
TSaveParametersDialog ParametersDialog;
TExportOptionsDialog ExportOptions;

// Parameter texts longer than this go packed (with the option set).
constexpr std::size_t PackThreshold = 2048;
// Inches per metre, to turn the print resolution into pixels per metre.
constexpr double InchesPerMetre = 39.3701;

bool EndsWithText(const std::string &Text, const std::string &End) {
    return !End.empty() && Text.size() >= End.size() && SameText(Text.substr(Text.size() - End.size()), End);
}

struct TLayerProgress {
    void Changed(TObject *, int Percent) {
        if (TProgressManager *progress = ProgressManager())
            progress->SetProgress(Percent);
    }
};

// The program's own question for a parameter set: the parameter file in a save dialog; the entry
// is named after the title.
bool AskParameterFile(TParameterSaveChoice &Choice) {
    TSaveDialog dialog(nullptr);
    dialog.Title = "Save Parameters";
    dialog.Filter = "Parameter files (*.opr)|*.opr";
    dialog.DefaultExt = "opr";
    dialog.OverwritePrompt = false;
    dialog.FileName = Choice.FileName;
    if (dialog.FileName.empty())
        if (const TConfigManager *config = ConfigManager())
            dialog.InitialDir = config->Folder->Parameter;
    if (!ExecuteFractalFileDialog(dialog))
        return false;
    Choice.FileName = dialog.FileName;
    if (ExtractFileExt(Choice.FileName).empty())
        Choice.FileName += ".opr";
    if (Choice.Entry.empty())
        Choice.Entry = TitleToName(Choice.Title);
    return true;
}

// The global memory block of the clipboard's bitmap; freed unless the clipboard took it.
class TGlobalBlock {
public:
    explicit TGlobalBlock(std::size_t Size) : FHandle(GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, Size)) {}
    ~TGlobalBlock() {
        if (FHandle)
            GlobalFree(FHandle);
    }
    TGlobalBlock(const TGlobalBlock &) = delete;
    TGlobalBlock &operator=(const TGlobalBlock &) = delete;
    HGLOBAL Get() const { return FHandle; }
    HGLOBAL Detach() { return std::exchange(FHandle, nullptr); }

private:
    HGLOBAL FHandle;
};

} // namespace

void SetFractalFileDialog(TFractalFileDialog Dialog) {
    FileDialog = std::move(Dialog);
}

bool ExecuteFractalFileDialog(TSaveDialog &Dialog) {
    if (FileDialog)
        return FileDialog(Dialog);
    return Dialog.Execute();
}

void SetSaveParametersDialog(TSaveParametersDialog Dialog) {
    ParametersDialog = std::move(Dialog);
}

void SetExportOptionsDialog(TExportOptionsDialog Dialog) {
    ExportOptions = std::move(Dialog);
}

std::string ExportFileName(const std::string &FileName, int Format) {
    const char *first = ExportFileExtensions[2 * Format];
    const char *second = ExportFileExtensions[2 * Format + 1];
    if (EndsWithText(FileName, first) || EndsWithText(FileName, second))
        return FileName;
    return FileName + first;
}

std::string FractalFileName(const std::string &FileName) {
    return EndsWithText(FileName, ".ofr") ? FileName : FileName + ".ofr";
}

bool PackParameterText(const std::string &Text, bool CompressOption, bool Always) {
    return CompressOption && (Always || Text.size() > PackThreshold);
}

std::vector<std::uint8_t> ClipboardImage(TFractal &Fractal, double Resolution) {
    const std::int32_t width = Fractal.GetWidth(), height = Fractal.GetHeight();
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t(3);
    std::vector<std::uint8_t> block(sizeof(BITMAPINFOHEADER) + stride * static_cast<std::size_t>(height));
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(stride * static_cast<std::size_t>(height));
    const LONG pixelsPerMetre = static_cast<LONG>(std::lround(Resolution * InchesPerMetre));
    header.biXPelsPerMeter = pixelsPerMetre;
    header.biYPelsPerMeter = pixelsPerMetre;
    std::memcpy(block.data(), &header, sizeof(header));
    // The merged row is written 3 bytes a pixel; the buffer leaves room for the padding.
    std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4 + 16);
    std::uint8_t *out = block.data() + sizeof(header);
    for (std::int32_t y = height - 1; y >= 0; --y) {
        Fractal.GetUpdateManager().GetMergedRow(y, row.data(), true);
        std::memcpy(out, row.data(), static_cast<std::size_t>(width) * 3);
        out += stride;
    }
    return block;
}

// =============================================================================================
// Saving

bool TFractalForm::SaveCopy() {
    SaveDialog->FileName = "Copy of " + MakeValidFileName(FFractal->GetTitle());
    if (ConfigManager())
        SaveDialog->InitialDir = ConfigManager()->Folder->Fractal;
    if (!ExecuteFractalFileDialog(*SaveDialog))
        return false;
    FFractal->SaveToFile(FractalFileName(SaveDialog->FileName));
    return true;
}

bool TFractalForm::SaveParameters() {
    TParameterSaveChoice choice{FParameterFile, FParameterEntry, FFractal->GetTitle(), false};
    if (!(ParametersDialog ? ParametersDialog(choice) : AskParameterFile(choice)))
        return false;
    FParameterFile = choice.FileName;
    FParameterEntry = choice.Entry;
    FFractalFile.clear();
    FFractal->SetTitle(choice.Title);
    const std::string text = FFractal->StateText(TPersistentFractal::SaveParametersFlags);
    TFractalConfiguration *options = ConfigManager() ? ConfigManager()->Fractal.get() : nullptr;
    const bool compressOption = !options || options->CompressParameters;
    if (!FileManager())
        throw EEntryError("No file manager");
    TEntryFileReference file(FileManager()->OpenFile(FParameterFile, true));
    (*file).AppendEntry(text, FParameterEntry, "",
                        PackParameterText(text, compressOption, choice.SaveFormulas));
    if (choice.SaveFormulas)
        FFractal->WriteFormulaEntries(*file, compressOption);
    if (TFileHistoryManager *history = FileHistoryManager())
        history->DocumentSaved(this, FParameterFile, FFractal->GetTitle(), FParameterEntry);
    return true;
}

bool TFractalForm::ExportImage() {
    TConfigManager *config = ConfigManager();
    ExportDialog->FileName = MakeValidFileName(FFractal->GetTitle());
    if (config) {
        ExportDialog->FilterIndex = config->General->ExportFormat + 1;
        ExportDialog->InitialDir = config->Folder->Export;
    }
    if (!ExecuteFractalFileDialog(*ExportDialog))
        return false;
    const int format = std::clamp(ExportDialog->FilterIndex - 1, 0, ExportFormatCount - 1);
    if (config) {
        config->General->ExportFormat = static_cast<std::uint8_t>(format);
        if (config->Folder->RememberExportFolder)
            config->Folder->Export = ExtractFilePath(ExportDialog->FileName);
    }
    TExportChoice choice;
    const std::uint8_t options = ExportFormatOptions[format];
    // The export-options dialog is not part of the program yet: without a dialog set here the
    // defaults (best quality, no transparency, merged) are taken.
    if (options != 0 && ExportOptions && !ExportOptions(options, choice))
        return false;
    FFractal->ExportImage(ExportFileName(ExportDialog->FileName, format), format, choice.Layers,
                          choice.Transparency, choice.Quality);
    return true;
}

// =============================================================================================
// The clipboard

void TFractalForm::Copy(bool Formulas) {
    TFractalConfiguration *options = ConfigManager() ? ConfigManager()->Fractal.get() : nullptr;
    const bool compressOption = !options || options->CompressParameters;
    TParWriter writer;
    FFractal->WriteParameters(writer, TPersistentFractal::FileWriteFlags);
    writer.Finish();
    const std::string name = TitleToName(FFractal->GetTitle());
    std::string text;
    if (Formulas) {
        TEntryWriter entries;
        entries.AppendEntry(writer.GetText(), name, "", compressOption);
        FFractal->WriteFormulaEntries(entries, compressOption);
        text = entries.GetText();
    } else {
        writer.GetEntryText(name, PackParameterText(writer.GetText(), compressOption, false), text);
    }
    Clipboard().Open();
    try {
        if (ClipboardManager())
            ClipboardManager()->SetText(text, cbFractal);
        else
            Clipboard().SetAsText(text);
        CopyImage();
    } catch (...) {
        Clipboard().Close();
        throw;
    }
    Clipboard().Close();
}

void TFractalForm::CopyImage() {
    if (!FFractal->IsCalculationDone())
        return;
    // A failure here is not reported: the parameters are on the clipboard already.
    try {
        const double resolution = StrToFloat(FFractal->GetResolution().GetText());
        const std::vector<std::uint8_t> image = ClipboardImage(*FFractal, resolution);
        TGlobalBlock block(image.size());
        if (!block.Get())
            return;
        void *memory = GlobalLock(block.Get());
        if (!memory)
            return;
        std::memcpy(memory, image.data(), image.size());
        GlobalUnlock(block.Get());
        if (SetClipboardData(CF_DIB, block.Get()))
            block.Detach();
    } catch (const std::exception &) {
    }
}

void TFractalForm::Paste() {
    if (TFileHistoryManager *history = FileHistoryManager())
        history->DocumentClosed(this, -1);
    FFractalFile.clear();
    FParameterFile.clear();
    FParameterEntry.clear();
    {
        TProgressScope progress("Pasting parameter set");
        auto reader = TCollectionParReader::CreateFromClipboard<TInteractiveParReader>();
        FFractal->TrackCredits = false;
        FFractal->BeginChange();
        try {
            ApplyFractalDefaults(*FFractal);
            TLayerProgress layerProgress;
            FFractal->ReadParameters(*reader, GetFractalLoadFlags(),
                                     MakeEvent<&TLayerProgress::Changed>(&layerProgress));
            reader->ShowWarnings();
        } catch (...) {
            try {
                FFractal->EndChangeCaption("Paste");
            } catch (...) {
            }
            FFractal->TrackCredits = true;
            throw;
        }
        FFractal->EndChangeCaption("Paste");
        FFractal->TrackCredits = true;
    }
    if (TFileHistoryManager *history = FileHistoryManager()) {
        history->DocumentCreated();
        history->SetPendingTitle(FFractal->GetTitle());
        history->AttachWindow(this);
    }
}

void TFractalForm::UpdatePasteItem(TObject *) {
    const bool fractal = ClipboardManager() && ClipboardManager()->GetKind() == cbFractal;
    PasteItem->SetEnabled(fractal);
    EditPasteItem->SetEnabled(fractal);
    for (TSpeedButton *button : ToolButtons)
        if (button->Tag() == ToolPaste)
            button->SetEnabled(fractal);
}

// =============================================================================================
// Duplicate

TFractalForm *TFractalForm::Duplicate() {
    if (FInFullScreen)
        return nullptr;
    BeginWaitCursor();
    struct TWaitCursorEnd {
        ~TWaitCursorEnd() { EndWaitCursor(); }
    } waitCursorEnd;
    FFractal->PauseCalculation();
    std::unique_ptr<TInteractiveFractal> copy;
    try {
        copy = std::make_unique<TInteractiveFractal>(FFractal->GetCalculateManager(),
                                                     FFractal->GetHistory().DataManager());
        copy->BeginChange();
        TUpdateManager &display = copy->GetUpdateManager();
        display.BeginUpdate();
        try {
            copy->SetTitle(MakeUniqueCaption("Fractal"));
            copy->CopyFrom(*FFractal);
            copy->GetTimer().SetElapsed(FFractal->GetTimer().GetElapsed());
            TLayerList &source = FFractal->GetLayers();
            TLayerList &target = copy->GetLayers();
            for (int i = 0; i < source.Count() && i < target.Count(); ++i) {
                TMemoryStream stream;
                source.Items(i).WriteCalculation(stream);
                stream.Seek(0, soFromBeginning);
                target.Items(i).ReadCalculation(stream);
            }
            copy->SetTitle(MakeCopyName(FFractal->GetTitle()));
        } catch (...) {
            display.EndUpdate();
            copy->EndChange();
            throw;
        }
        display.EndUpdate();
        copy->EndChangeCaption("Duplicate");
    } catch (...) {
        FFractal->ResumeCalculation();
        throw;
    }
    FFractal->ResumeCalculation();
    if (TFileHistoryManager *history = FileHistoryManager())
        history->DocumentCreated();
    TFractalForm *form = CreateWithFractal(Owner(), std::move(copy));
    form->SetParameterEntry(FParameterFile, FParameterEntry);
    if (MainForm)
        MainForm->Show();
    form->Show();
    return form;
}

// =============================================================================================
// Full screen

void TFractalForm::SetDisplay(TWinControl *Display) {
    if (!Display || Display == FDisplay)
        return;
    FDisplay = Display;
    FFractal->GetBitmap().SetWindow(FDisplay->Handle());
    FDisplay->SetCursor(HostCursor());
    if (SelectArea() && SelectArea()->GetWindow() == this)
        SelectArea()->SetWindow(this);
    FDisplay->Invalidate();
}

void TFractalForm::ShowFullScreen() {
    if (FInFullScreen) {
        if (FFullScreen)
            FFullScreen->Close();
        return;
    }
    FInFullScreen = true;
    UpdateCommandItems();
    auto *form = new TFullScreenForm(*this);
    FFullScreen = form;
    try {
        form->SetImageSize(FFractal->GetWidth(), FFractal->GetHeight());
        SetDisplay(form->Display);
        form->ShowModal();
    } catch (...) {
        SetDisplay(DefaultDisplay);
        FFullScreen = nullptr;
        FInFullScreen = false;
        form->Release();
        UpdateCommandItems();
        throw;
    }
    SetDisplay(DefaultDisplay);
    FFullScreen = nullptr;
    form->Release();
    FInFullScreen = false;
    UpdateCommandItems();
}

// =============================================================================================
// Gradient commands

void TFractalForm::GradientCommand(TMenuItem *Item) {
    if (Item == CycleForwardItem || Item == CycleBackwardItem) {
        if (TColorCyclingManager *cycling = ColorCyclingManager())
            Item == CycleForwardItem ? cycling->CycleForward() : cycling->CycleBackward();
        return;
    }
    TLayer *layer = FFractal->GetActiveLayer();
    if (!layer)
        return;
    TGradientColorItems &colors = layer->GetGradient().ColorItems();
    if (Item == RandomizeItem)
        colors.Randomize();
    else if (Item == RandomizeBrightItem)
        colors.RandomizeBright();
    else if (Item == RandomizeMistyItem)
        colors.RandomizeMisty();
}

// =============================================================================================
// Commands and their state

void TFractalForm::CommandClick(TObject *Sender) {
    auto *item = dynamic_cast<TMenuItem *>(Sender);
    if (auto *button = dynamic_cast<TSpeedButton *>(Sender)) {
        switch (button->Tag()) {
        case ToolSave:
            item = SaveItem;
            break;
        case ToolSaveParameters:
            item = SaveParametersItem;
            break;
        case ToolFractal:
            item = FractalItem;
            break;
        case ToolNormal:
            item = MenuNormalModeItem;
            break;
        case ToolSelect:
            item = MenuSelectModeItem;
            break;
        case ToolSwitch:
            item = MenuSwitchModeItem;
            break;
        case ToolUndo:
            item = EditUndoItem;
            break;
        case ToolRedo:
            item = EditRedoItem;
            break;
        case ToolCopy:
            item = CopyItem;
            break;
        case ToolPaste:
            item = EditPasteItem;
            break;
        default:
            return;
        }
        if (item->Enabled())
            item->Click();
        return;
    }
    if (!item)
        return;
    if (item == DuplicateItem || item == PopupDuplicateItem)
        Duplicate();
    else if (item == CloseItem)
        Close();
    else if (item == SaveItem)
        Save(false);
    else if (item == SaveAsItem)
        Save(true);
    else if (item == SaveCopyItem)
        SaveCopy();
    else if (item == SaveParametersItem)
        SaveParameters();
    else if (item == ExportItem) {
        if (FFractal->IsCalculationDone())
            ExportImage();
    } else if (item == CopyItem || item == PopupCopyItem)
        Copy(false);
    else if (item == CopyFormulasItem)
        Copy(true);
    else if (item == EditPasteItem || item == PasteItem) {
        if (ClipboardManager() && ClipboardManager()->GetKind() == cbFractal)
            Paste();
    } else if (item == FractalItem) {
        if (Minimized())
            Restore();
        Show();
    } else if (item == ResetLocationItem)
        FFractal->ResetLocation();
    else if (item == ZoomInItem || item == ZoomOutItem) {
        if (GetMouseMode() == mmoSelect) {
            item == ZoomInItem ? SelectZoomIn() : SelectZoomOut();
        } else {
            const POINT centre{FFractal->GetWidth() / 2, FFractal->GetHeight() / 2};
            item == ZoomInItem ? FFractal->ZoomInAt(centre, 0) : FFractal->ZoomOutAt(centre, 0);
        }
    } else if (item == FullScreenItem || item == PopupFullScreenItem)
        ShowFullScreen();
    else if (item->Parent() == PopupGradientItem)
        GradientCommand(item);
}

void TFractalForm::UpdateCommandItems() {
    const bool done = FFractal->IsCalculationDone();
    ExportItem->SetEnabled(done);
    const bool canSwitch = CanSwitch();
    SwitchModeItem->SetEnabled(canSwitch);
    MenuSwitchModeItem->SetEnabled(canSwitch);
    DuplicateItem->SetEnabled(!FInFullScreen);
    PopupDuplicateItem->SetEnabled(!FInFullScreen);
    FullScreenItem->SetChecked(FInFullScreen);
    PopupFullScreenItem->SetChecked(FInFullScreen);
    const bool layer = FFractal->GetActiveLayer() != nullptr;
    for (TMenuItem *item :
         {RandomizeItem, RandomizeBrightItem, RandomizeMistyItem, CycleForwardItem, CycleBackwardItem})
        item->SetEnabled(layer);
    const int mode = GetMouseMode();
    for (TMenuItem *item : {NormalModeItem, MenuNormalModeItem})
        item->SetChecked(mode != mmoSelect && mode != mmoSwitch);
    for (TMenuItem *item : {SelectModeItem, MenuSelectModeItem})
        item->SetChecked(mode == mmoSelect);
    for (TMenuItem *item : {SwitchModeItem, MenuSwitchModeItem})
        item->SetChecked(mode == mmoSwitch);
    for (TSpeedButton *button : ToolButtons) {
        switch (button->Tag()) {
        case ToolFractal:
            button->SetDown(true);
            break;
        case ToolNormal:
            button->SetDown(mode != mmoSelect && mode != mmoSwitch);
            break;
        case ToolSelect:
            button->SetDown(mode == mmoSelect);
            break;
        case ToolSwitch:
            button->SetDown(mode == mmoSwitch);
            button->SetEnabled(canSwitch);
            break;
        case ToolUndo:
            button->SetEnabled(EditUndoItem->Enabled());
            button->SetHint(EditUndoItem->Hint());
            break;
        case ToolRedo:
            button->SetEnabled(EditRedoItem->Enabled());
            button->SetHint(EditRedoItem->Hint());
            break;
        default:
            break;
        }
    }
}

void TFractalForm::HistoryChanged(TObject *) {
    if (TFileHistoryManager *history = FileHistoryManager())
        history->UpdateMenu(*FileMenu);
}
