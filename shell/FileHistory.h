// The file history: the last documents (whole files, or single entries of parameter and gradient
// files) with the window rectangle and flags each had when it closed, the numbered items of the
// File menus, and the open dispatcher that turns a file name into a window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "GenClasses.h"

class TCustomForm;
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

// Opens a file in the window its kind calls for.
void OpenDocumentFile(const std::string &FileName);
// Opens an entry of a parameter file (.opr, .par) or else of a gradient file.
void OpenDocumentEntry(const std::string &FileName, const std::string &Entry);
