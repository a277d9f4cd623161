// The file history: the last documents (whole files, or single entries of parameter and gradient
// files) with the window rectangle and flags each had when it closed, the numbered items of the
// File menus, and the open dispatcher that turns a file name into a window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GenClasses.h"
#include "SysUtils.h"

class TCustomForm;
class TCustomFractal;
class TFractalForm;
class TInteractiveFractal;
class TMenuItem;
class TRegistryManager;

// A window rectangle as stored: left, top, right, bottom.
struct TFileHistoryBounds {
    std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool Empty() const { return !(Left < Right && Bottom > Top); }
    friend bool operator==(const TFileHistoryBounds &, const TFileHistoryBounds &) = default;
};

struct TFileHistoryItem {
    // The entry inside a parameter or gradient file; empty for a whole file.
    std::string Entry;
    // Empty for a new document that was never saved.
    std::string FileName;
    // Stored by the document window when it closes and handed back when the document is reopened;
    // -1 = none.
    std::int32_t Flags = -1;
    // The open window showing the document, or nullptr.
    TCustomForm *Window = nullptr;
    // Shown in the menu in place of the entry name.
    std::string Title;
    // The window's normal-state rectangle when it last closed.
    TFileHistoryBounds Bounds;
};

// Subscribers are told of every change of the list (and of a change of the configuration, so that
// menus follow a changed history size).
class TFileHistoryManager : public TNotificationManager {
public:
    DECLARE_CLASS_NAME(TFileHistoryManager)
    static constexpr int MaxItems = 32;
    // History items in every File menu: the menu ends with a separator, these items, a separator
    // and Exit.
    static constexpr int MenuItems = 9;

    TFileHistoryManager();
    ~TFileHistoryManager() override;

    int Count() const { return static_cast<int>(FItems.size()); }
    // Index 0 is the newest.
    const TFileHistoryItem &Items(int Index) const { return *FItems.at(Index); }
    bool PositionOnly() const { return FPositionOnly; }
    bool OpenPending() const { return FOpenPending; }

    // A document was opened: its item moves (or is added) to the top.
    void DocumentOpened(const std::string &FileName, const std::string &Entry);
    // A new document: a new item is always added at the top.
    void DocumentCreated();
    // Every document window calls this when it is made: while an open is pending, the top item
    // takes the window, which moves to the item's stored rectangle (to its position only after
    // KeepWindowSize).
    void AttachWindow(TCustomForm *Window);
    void KeepWindowSize();
    void SetPendingTitle(const std::string &Title);
    // The top item's flags while an open is pending, else -1.
    std::int32_t GetWindowFlags() const;
    // The window's document closes: a saved one keeps its item with the window's rectangle and
    // Flags; a never saved one leaves no item.
    void DocumentClosed(TCustomForm *Window, std::int32_t Flags);
    // The window's document was saved under a (possibly) new name: it becomes the top item.
    void DocumentSaved(TCustomForm *Window, const std::string &FileName, const std::string &Title,
                       const std::string &Entry);

    // Fills the history items of a File menu from the newest items, up to the configured history
    // size (at most MenuItems); the others and, without any, the separator before them are hidden.
    void UpdateMenu(TMenuItem &FileMenu);
    void UpdateMenu(TMenuItem &FileMenu, int HistorySize);
    // Reopens the history item whose index is the clicked menu item's tag.
    void MenuItemClick(TObject *Sender);

    // "FileHistory" under the registry manager's base key.
    void LoadFromRegistry(TRegistryManager &Registry);
    void SaveToRegistry(TRegistryManager &Registry);

    // The configuration's change handler: subscribers refill their menus.
    void ConfigurationChanged(TObject *Sender);

private:
    void AddOrMove(const std::string &FileName, const std::string &Entry);
    int IndexOfWindow(const TCustomForm *Window) const;

    std::vector<std::unique_ptr<TFileHistoryItem>> FItems;
    bool FPositionOnly = false;
    bool FOpenPending = false;
};

// The global history; nullptr outside InitializeFileHistory .. FinalizeFileHistory. It is loaded
// from the configuration's registry key when made; saving it is left to the program's end.
TFileHistoryManager *FileHistoryManager();
void InitializeFileHistory();
void FinalizeFileHistory();

// What a file is opened as, by its extension (compared without case).
enum class TDocumentKind : std::uint8_t {
    Fractal,       // .ofr: a fractal window
    ParameterFile, // .opr, .par: the browser showing the parameter file
    GradientFile,  // .ogr, .oal: the browser showing the gradient file
    PaletteMap,    // .map: the palette imported into a new gradient window
    RenderJob,     // .orj: the job restored into the render queue
    Text,          // any other: the text editor
};
TDocumentKind DocumentKindOf(const std::string &FileName);

// What opens a parameter or gradient file in the browser (kind 2 or 3, file, entry; the entry may
// be empty); set by the browser's module. Returns the hook set before.
using TBrowserOpener = std::function<void(int Kind, const std::string &FileName, const std::string &Entry)>;
TBrowserOpener SetBrowserOpener(TBrowserOpener Opener);

// Opens a file in the window its kind calls for. A name "<file>:<entry>" of a parameter or
// gradient file (as on the command line) opens that entry.
void OpenDocumentFile(const std::string &FileName);
// Whether Name is "<file>:<entry>": it is no existing file, the last ':' stands after the drive's
// and before at least one character, and the part in front is a parameter or gradient file name.
bool SplitDocumentEntry(const std::string &Name, std::string &FileName, std::string &Entry);
// Opens an entry of a parameter file (.opr, .par) or else of a gradient file.
void OpenDocumentEntry(const std::string &FileName, const std::string &Entry);

// ---------------------------------------------------------------------------------------------
// Opening fractals. Every routine reads the whole document before a window is made and adds the
// history item only once the window stands: a document that fails leaves neither a window nor an
// item behind, and its message names the file (and the entry).

// Puts a fractal that was read whole into a new fractal window, which takes it over; FileName and
// Entry are the window's fractal file (Entry empty) or its parameter file and entry. Returns the
// window, still hidden. Until the program has fractal windows, a document is refused with
// "Could not open '%s'." (or "Could not open '%s' in '%s'." for an entry) unless a window maker
// was set.
TCustomForm *OpenFractalDocument(std::unique_ptr<TInteractiveFractal> Fractal, const std::string &FileName,
                                 const std::string &Entry);
using TFractalWindowMaker = std::function<TCustomForm *(
    std::unique_ptr<TInteractiveFractal> &Fractal, const std::string &FileName, const std::string &Entry)>;
// Sets the maker OpenFractalDocument uses (an empty one: none); returns the one set before.
TFractalWindowMaker SetFractalWindowMaker(TFractalWindowMaker Maker);

// A fractal image file (.ofr) in a new fractal window. When a fractal window shows the file
// already, the user is asked whether to revert it to the saved file; no second window is made.
TCustomForm *OpenFractalFile(const std::string &FileName);
// Entry of a parameter file (of the program's own format, or a Fractint parameter entry) in a
// new fractal window, or, when a window shows the entry already and the user agrees, read anew
// into that window. The window keeps its fractal when the entry cannot be read.
TCustomForm *OpenParameterSet(const std::string &FileName, const std::string &Entry);
// The same, always in a new window: the default fractal is a new document even where a window
// shows the entry it is made from.
TCustomForm *OpenParameterSetInNewWindow(const std::string &FileName, const std::string &Entry);

// The first fractal window among the screen's forms whose fractal file, or whose parameter file
// and entry, are the ones given (letter case ignored); nullptr when none.
TFractalForm *FindFractalWindowByFile(const std::string &FileName);
TFractalForm *FindFractalWindowByEntry(const std::string &FileName, const std::string &Entry);

// The Fractal options' load flags (ReadParameters flags): the parameter set's own size 1,
// resolution 2, gamma 4 and aspect ratio 8 take effect only where set.
std::uint32_t GetFractalLoadFlags();
// The Fractal options' default image size, resolution and gamma.
void ApplyFractalDefaults(TCustomFractal &Fractal);
// Reads entry Entry of FileName into Fractal in one change with the undo caption "Open
// Parameters", the readers' dialogs answering missing formulas and showing the warnings once.
// A failure while reading is reported naming the entry and the file, with the reader's (or the
// Fractint importer's) message.
void ReadParameterSet(TCustomFractal &Fractal, const std::string &FileName, const std::string &Entry);

DECLARE_EXCEPTION(EOpenDocumentError, Exception);

// The File, Open command: the open dialog with every document kind, then OpenChosenFiles.
void ExecuteOpenDialog();
// What the open dialog's choice sets: the General option OpenFormat := FilterIndex, the Open folder
// := the first file's folder (when RememberOpenFolder), then each file opens in turn; one that
// fails shows its message through the application and does not keep the others from opening.
void OpenChosenFiles(const std::vector<std::string> &FileNames, int FilterIndex);
// The open dialog's filter: every document kind, then all files.
extern const char *const OpenDialogFilter;
