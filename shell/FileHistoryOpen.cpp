// Opening fractals: reading a fractal file or a parameter entry into a new fractal, the window
// that takes it, and the history item that follows it.
#include "FileHistory.h"

#include <utility>

#include "Dialogs.h"
#include "FormFractal.h"
#include "FormMain.h"
#include "Forms.h"
#include "FracInteractive.h"
#include "FracProgress.h"
#include "FracReaders.h"
#include "GenSetup.h"
#include "SysUtils.h"

namespace {

TFractalWindowMaker &WindowMaker() {
    static TFractalWindowMaker maker;
    return maker;
}

// Hands a layer's progress on to the progress manager.
struct TLayerProgress {
    void Changed(TObject *, int Percent) {
        if (TProgressManager *progress = ProgressManager())
            progress->SetProgress(Percent);
    }
};

// Runs Change inside a change bracket of Fractal that closes with the undo caption; when Change
// raises, the bracket closes without one and the error goes on.
template <class TChange>
void ChangeWithCaption(TCustomFractal &Fractal, const char *Caption, TChange Change) {
    Fractal.BeginChange();
    try {
        Change();
    } catch (...) {
        try {
            Fractal.EndChange();
        } catch (...) {
        }
        throw;
    }
    Fractal.EndChangeCaption(Caption);
}

// The history takes the document once its window stands, and the window the item's place.
void DocumentWindowOpened(TCustomForm *Window, const std::string &FileName, const std::string &Entry,
                          const std::string &Title) {
    TFileHistoryManager *history = FileHistoryManager();
    if (!history)
        return;
    history->DocumentOpened(FileName, Entry);
    if (!Entry.empty()) {
        // A parameter set's image decides the window's size; only the position is taken over.
        history->KeepWindowSize();
        history->SetPendingTitle(Title);
    }
    history->AttachWindow(Window);
}

void ShowDocumentWindow(TCustomForm *Window) {
    if (MainForm)
        MainForm->ShowMainWindow();
    if (Window->Minimized())
        Window->Restore();
    Window->Show();
}

// Document names the open document as the question shows it.
bool AskRevert(const std::string &Document) {
    return FractalMessageDialog("This document is already open:\r" + Document + "\r\r" +
                                    "Do you want to revert to the previously saved version?",
                                mtConfirmation, {mbYes, mbNo}) == mrYes;
}

template <class TMatch> TFractalForm *FindFractalWindow(TMatch Match) {
    if (!Screen)
        return nullptr;
    for (int i = 0; i < Screen->FormCount(); ++i)
        if (auto *form = dynamic_cast<TFractalForm *>(Screen->Forms(i)); form && Match(*form))
            return form;
    return nullptr;
}

// Puts a parameter set that was read whole into an open window as one undoable step; the window
// stays the history's item for the entry.
void RevertWindow(TFractalForm &Window, TInteractiveFractal &Read, const std::string &FileName,
                  const std::string &Entry) {
    TInteractiveFractal &fractal = Window.Fractal();
    ChangeWithCaption(fractal, "Open Parameters", [&] { fractal.CopyFrom(Read); });
    // As modified as the same entry in a new window: the step above is no edit of the user's.
    fractal.SetModified(Read.GetModified());
    if (TFileHistoryManager *history = FileHistoryManager())
        history->DocumentClosed(&Window, -1);
    Window.SetParameterEntry(FileName, Entry);
    DocumentWindowOpened(&Window, FileName, Entry, Read.GetTitle());
}

} // namespace

TCustomForm *OpenFractalDocument(std::unique_ptr<TInteractiveFractal> Fractal, const std::string &FileName,
                                 const std::string &Entry) {
    if (WindowMaker()) {
        TCustomForm *window = WindowMaker()(Fractal, FileName, Entry);
        if (window)
            return window;
    }
    if (Entry.empty())
        throw EOpenDocumentError("Could not open '%s'.", FileName);
    throw EOpenDocumentError("Could not open '%s' in '%s'.", Entry, FileName);
}

TFractalWindowMaker SetFractalWindowMaker(TFractalWindowMaker Maker) {
    return std::exchange(WindowMaker(), std::move(Maker));
}

std::uint32_t GetFractalLoadFlags() {
    const TConfigManager *config = ConfigManager();
    if (!config || !config->Fractal)
        return TCustomFractal::rfTakeSize | TPersistentFractal::rfResolution | TPersistentFractal::rfGamma |
               TCustomFractal::rfFitAspect;
    const TFractalConfiguration &options = *config->Fractal;
    std::uint32_t flags = 0;
    if (options.UseParameterSize)
        flags |= TCustomFractal::rfTakeSize;
    if (options.UseParameterResolution)
        flags |= TPersistentFractal::rfResolution;
    if (options.UseParameterGamma)
        flags |= TPersistentFractal::rfGamma;
    if (options.UseParameterAspect)
        flags |= TCustomFractal::rfFitAspect;
    return flags;
}

void ApplyFractalDefaults(TCustomFractal &Fractal) {
    const TConfigManager *config = ConfigManager();
    if (!config || !config->Fractal)
        return;
    const TFractalConfiguration &options = *config->Fractal;
    Fractal.SetImageSize(options.DefaultWidth, options.DefaultHeight);
    if (auto *persistent = dynamic_cast<TPersistentFractal *>(&Fractal)) {
        persistent->GetResolution().SetText(FloatToStr(options.DefaultResolution));
        persistent->GetGamma().SetText(FloatToStr(options.DefaultGamma));
    }
}

void ReadParameterSet(TCustomFractal &Fractal, const std::string &FileName, const std::string &Entry) {
    TProgressScope progress("Opening parameter set");
    ChangeWithCaption(Fractal, "Open Parameters", [&] {
        ApplyFractalDefaults(Fractal);
        auto reader = TCollectionParReader::CreateFromEntry<TInteractiveParReader>(FileName, Entry);
        TLayerProgress layerProgress;
        try {
            Fractal.ReadParameters(*reader, GetFractalLoadFlags(),
                                   MakeEvent<&TLayerProgress::Changed>(&layerProgress));
        } catch (const EAbort &error) {
            if (*error.what() == '\0')
                throw;
            throw EOpenDocumentError("Could not open '%s' in '%s'.\r\n%s", Entry, FileName,
                                     std::string(error.what()));
        } catch (const Exception &error) {
            // The reader's message gives the position (and the key); which entry of which file
            // it is about is said here.
            throw EOpenDocumentError("Could not open '%s' in '%s'.\r\n%s", Entry, FileName,
                                     std::string(error.what()));
        }
        reader->ShowWarnings();
    });
}

TFractalForm *FindFractalWindowByFile(const std::string &FileName) {
    return FindFractalWindow([&](const TFractalForm &Form) {
        return !Form.FractalFile().empty() && SameText(Form.FractalFile(), FileName);
    });
}

TFractalForm *FindFractalWindowByEntry(const std::string &FileName, const std::string &Entry) {
    return FindFractalWindow([&](const TFractalForm &Form) {
        return !Form.ParameterFile().empty() && SameText(Form.ParameterFile(), FileName) &&
               SameText(Form.ParameterEntry(), Entry);
    });
}

TCustomForm *OpenFractalFile(const std::string &FileName) {
    // Checked before a document is made for it.
    if (!FileExists(FileName))
        throw EOpenDocumentError("Could not open '%s'.", FileName);
    if (TFractalForm *open = FindFractalWindowByFile(FileName)) {
        // Loading checks the whole file before it changes the document: a file that fails
        // leaves the window as it was.
        if (AskRevert(FileName))
            open->Fractal().LoadFromFile(FileName);
        ShowDocumentWindow(open);
        return open;
    }
    auto fractal = std::make_unique<TInteractiveFractal>();
    fractal->LoadFromFile(FileName);
    TCustomForm *window = OpenFractalDocument(std::move(fractal), FileName, std::string());
    DocumentWindowOpened(window, FileName, std::string(), std::string());
    ShowDocumentWindow(window);
    return window;
}

namespace {

// Reads the entry into a new window, or, with Open, into that window once the user agreed.
TCustomForm *OpenParameterSetInto(const std::string &FileName, const std::string &Entry, TFractalForm *Open) {
    if (Open && !AskRevert("'" + Entry + "' in '" + FileName + "'.")) {
        ShowDocumentWindow(Open);
        return Open;
    }
    // Read whole into a fractal of its own first, so that an entry that fails leaves an open
    // window's fractal untouched.
    auto fractal = std::make_unique<TInteractiveFractal>();
    ReadParameterSet(*fractal, FileName, Entry);
    const std::string title = fractal->GetTitle();
    if (Open) {
        RevertWindow(*Open, *fractal, FileName, Entry);
        ShowDocumentWindow(Open);
        return Open;
    }
    TCustomForm *window = OpenFractalDocument(std::move(fractal), FileName, Entry);
    DocumentWindowOpened(window, FileName, Entry, title);
    ShowDocumentWindow(window);
    return window;
}

} // namespace

TCustomForm *OpenParameterSet(const std::string &FileName, const std::string &Entry) {
    return OpenParameterSetInto(FileName, Entry, FindFractalWindowByEntry(FileName, Entry));
}

TCustomForm *OpenParameterSetInNewWindow(const std::string &FileName, const std::string &Entry) {
    return OpenParameterSetInto(FileName, Entry, nullptr);
}

const char *const OpenDialogFilter =
    "Fractal files (*.ofr)|*.ofr|Parameter files (*.opr; *.par)|*.opr;*.par|Gradient files (*.ogr; *.oal; "
    "*.map)|*.ogr;*.oal;*.map|Transformation files (*.oxf)|*.oxf|Formula files (*.ofm; *.frm)|*.ofm;*.frm|"
    "Coloring files (*.ocl)|*.ocl|Render jobs (*.orj)|*.orj|All files (*.*)|*.*";

void ExecuteOpenDialog() {
    TOpenDialog dialog;
    dialog.FileName.clear();
    dialog.Filter = OpenDialogFilter;
    dialog.Options = ofAllowMultiSelect | ofPathMustExist | ofFileMustExist;
    dialog.DefaultExt = "ofr";
    if (const TConfigManager *config = ConfigManager()) {
        dialog.FilterIndex = config->General->OpenFormat;
        dialog.InitialDir = config->Folder->Open;
    }
    if (dialog.Execute())
        OpenChosenFiles(dialog.Files, dialog.FilterIndex);
}

void OpenChosenFiles(const std::vector<std::string> &FileNames, int FilterIndex) {
    if (TConfigManager *config = ConfigManager()) {
        config->General->OpenFormat = FilterIndex;
        if (config->Folder->RememberOpenFolder && !FileNames.empty())
            config->Folder->Open = ExtractFilePath(FileNames.front());
    }
    for (const std::string &name : FileNames) {
        try {
            OpenDocumentFile(name);
        } catch (...) {
            Application->HandleException(nullptr);
        }
    }
}
