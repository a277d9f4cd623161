#include "FileHistory.h"

#include <windows.h>

#include <algorithm>
#include <cassert>
#include <utility>

#include "FormEditor.h"
#include "Forms.h"
#include "GenRegistry.h"
#include "GenUtils.h"
#include "Menus.h"
#include "SysUtils.h"

namespace {

const char *const HistoryKey = "FileHistory";

// Whether an item names the document FileName / Entry (both without case). A new document, with
// neither a file nor an entry, is never the same as another.
bool SameDocument(const TFileHistoryItem &Item, const std::string &FileName, const std::string &Entry) {
    return !(FileName.empty() && Entry.empty()) && SameText(Item.FileName, FileName) &&
           SameText(Item.Entry, Entry);
}

std::string ItemValue(int Index, const char *Name) {
    return Format("Item%d%s", Index, Name);
}

// ---------------------------------------------------------------------------------------------
// The open dispatcher

// The windows that show these documents are not part of the program yet: each kind refuses.
[[noreturn]] void RefuseFile(const std::string &FileName) {
    throw EOpenDocumentError("Could not open '%s'.", ExpandFileName(FileName));
}

[[noreturn]] void RefuseEntry(const std::string &FileName, const std::string &Entry) {
    throw EOpenDocumentError("Could not open '%s' in '%s'.", Entry, ExpandFileName(FileName));
}

TBrowserOpener &BrowserOpener() {
    static TBrowserOpener opener;
    return opener;
}

// A whole parameter file is a list of entries to choose from, which the browser shows.
void OpenParameterFile(const std::string &FileName) {
    const std::string fullName = ExpandFileName(FileName);
    if (!FileExists(fullName))
        RefuseFile(fullName);
    if (BrowserOpener()) {
        BrowserOpener()(2, fullName, std::string());
        return;
    }
    throw EOpenDocumentError(
        "Could not open '%s'.\r\nA parameter file opens in the browser, which this version "
        "does not have yet: open one of its entries from the recent files.",
        fullName);
}

// A text file in the editor; one that does not exist is refused before it enters the history.
void OpenTextFile(const std::string &FileName) {
    const std::string fullName = ExpandFileName(FileName);
    if (!FileExists(fullName))
        RefuseFile(fullName);
    OpenEditorWindowAskRevert(fullName);
}

void OpenFractal(const std::string &FileName) {
    OpenFractalFile(ExpandFileName(FileName));
}

void OpenParameterEntry(const std::string &FileName, const std::string &Entry) {
    OpenParameterSet(ExpandFileName(FileName), Entry);
}

struct TDocumentOpener {
    const char *Extension; // with its dot, lower case
    TDocumentKind Kind;
    void (*OpenFile)(const std::string &FileName);
    // Only for the kinds whose files hold entries that the history can name.
    void (*OpenEntry)(const std::string &FileName, const std::string &Entry);
};

// One line per extension; the last line, without extension, takes every other file.
constexpr TDocumentOpener DocumentOpeners[] = {
    {".ofr", TDocumentKind::Fractal, OpenFractal, nullptr},
    {".opr", TDocumentKind::ParameterFile, OpenParameterFile, OpenParameterEntry},
    {".par", TDocumentKind::ParameterFile, OpenParameterFile, OpenParameterEntry},
    {".ogr", TDocumentKind::GradientFile, RefuseFile, RefuseEntry},
    {".oal", TDocumentKind::GradientFile, RefuseFile, RefuseEntry},
    {".map", TDocumentKind::PaletteMap, RefuseFile, nullptr},
    {".orj", TDocumentKind::RenderJob, RefuseFile, nullptr},
    {"", TDocumentKind::Text, OpenTextFile, nullptr},
};

const TDocumentOpener &OpenerOf(const std::string &FileName) {
    const std::string extension = LowerCase(ExtractFileExt(FileName));
    const auto found = std::find_if(std::begin(DocumentOpeners), std::end(DocumentOpeners) - 1,
                                    [&](const TDocumentOpener &o) { return extension == o.Extension; });
    return *found;
}

// An entry of a file that is not a parameter file is a gradient.
const TDocumentOpener &EntryOpenerOf(const std::string &FileName) {
    const TDocumentOpener &opener = OpenerOf(FileName);
    if (opener.Kind == TDocumentKind::ParameterFile)
        return opener;
    return *std::find_if(std::begin(DocumentOpeners), std::end(DocumentOpeners),
                         [](const TDocumentOpener &o) { return o.Kind == TDocumentKind::GradientFile; });
}

} // namespace

TDocumentKind DocumentKindOf(const std::string &FileName) {
    return OpenerOf(FileName).Kind;
}

bool SplitDocumentEntry(const std::string &Name, std::string &FileName, std::string &Entry) {
    // No file name holds a ':' past the drive's, so a name that is no file and has one there can
    // name an entry; only parameter and gradient files hold entries.
    const std::size_t colon = Name.rfind(':');
    if (colon == std::string::npos || colon <= 1 || colon + 1 == Name.size() || FileExists(Name))
        return false;
    const std::string file = Name.substr(0, colon);
    const TDocumentKind kind = DocumentKindOf(file);
    if (kind != TDocumentKind::ParameterFile && kind != TDocumentKind::GradientFile)
        return false;
    FileName = file;
    Entry = Name.substr(colon + 1);
    return true;
}

TBrowserOpener SetBrowserOpener(TBrowserOpener Opener) {
    return std::exchange(BrowserOpener(), std::move(Opener));
}

void OpenDocumentFile(const std::string &FileName) {
    std::string file, entry;
    if (SplitDocumentEntry(FileName, file, entry))
        OpenDocumentEntry(file, entry);
    else
        OpenerOf(FileName).OpenFile(FileName);
}

void OpenDocumentEntry(const std::string &FileName, const std::string &Entry) {
    EntryOpenerOf(FileName).OpenEntry(FileName, Entry);
}

// =============================================================================================
// TFileHistoryManager

TFileHistoryManager::TFileHistoryManager() = default;

TFileHistoryManager::~TFileHistoryManager() = default;

int TFileHistoryManager::IndexOfWindow(const TCustomForm *Window) const {
    if (!Window)
        return -1;
    for (int i = 0; i < Count(); ++i)
        if (FItems[i]->Window == Window)
            return i;
    return -1;
}

void TFileHistoryManager::AddOrMove(const std::string &FileName, const std::string &Entry) {
    const auto found = std::find_if(FItems.begin(), FItems.end(),
                                    [&](const auto &item) { return SameDocument(*item, FileName, Entry); });
    if (found != FItems.end()) {
        std::rotate(FItems.begin(), found, found + 1);
    } else {
        auto item = std::make_unique<TFileHistoryItem>();
        item->FileName = FileName;
        item->Entry = Entry;
        FItems.insert(FItems.begin(), std::move(item));
        if (Count() > MaxItems)
            FItems.resize(MaxItems);
    }
    FItems.front()->Window = nullptr;
    FOpenPending = true;
    FPositionOnly = false;
}

void TFileHistoryManager::DocumentOpened(const std::string &FileName, const std::string &Entry) {
    AddOrMove(FileName, Entry);
    Notify();
}

void TFileHistoryManager::DocumentCreated() {
    AddOrMove("", "");
    Notify();
}

void TFileHistoryManager::AttachWindow(TCustomForm *Window) {
    if (!FOpenPending || FItems.empty() || FItems.front()->Window || !Window)
        return;
    TFileHistoryItem &top = *FItems.front();
    top.Window = Window;
    const TFileHistoryBounds &r = top.Bounds;
    if (r.Empty())
        return;
    if (FPositionOnly)
        Window->SetBounds(r.Left, r.Top, Window->Width(), Window->Height());
    else
        Window->SetBounds(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
}

void TFileHistoryManager::KeepWindowSize() {
    if (FOpenPending && !FItems.empty())
        FPositionOnly = true;
}

void TFileHistoryManager::SetPendingTitle(const std::string &Title) {
    if (!FOpenPending || FItems.empty())
        return;
    FItems.front()->Title = Title;
    Notify();
}

std::int32_t TFileHistoryManager::GetWindowFlags() const {
    return FOpenPending && !FItems.empty() ? FItems.front()->Flags : -1;
}

void TFileHistoryManager::DocumentClosed(TCustomForm *Window, std::int32_t Flags) {
    const int index = IndexOfWindow(Window);
    if (index < 0)
        return;
    if (index == 0)
        FOpenPending = false;
    TFileHistoryItem &item = *FItems[index];
    if (item.FileName.empty() && item.Entry.empty()) {
        // A new document that was never saved leaves nothing behind.
        FItems.erase(FItems.begin() + index);
        Notify();
        return;
    }
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (Window->HandleAllocated() && GetWindowPlacement(Window->Handle(), &placement)) {
        const RECT &r = placement.rcNormalPosition;
        item.Bounds = {static_cast<std::int32_t>(r.left), static_cast<std::int32_t>(r.top),
                       static_cast<std::int32_t>(r.right), static_cast<std::int32_t>(r.bottom)};
    }
    item.Window = nullptr;
    item.Flags = Flags;
}

void TFileHistoryManager::DocumentSaved(TCustomForm *Window, const std::string &FileName,
                                        const std::string &Title, const std::string &Entry) {
    const int index = IndexOfWindow(Window);
    if (index < 0)
        return;
    const TFileHistoryItem &item = *FItems[index];
    if (SameText(item.FileName, FileName) && SameText(item.Entry, Entry) && SameText(item.Title, Title))
        return;
    DocumentClosed(Window, -1);
    AddOrMove(FileName, Entry);
    FItems.front()->Title = Title;
    FItems.front()->Window = Window;
    Notify();
}

// ---------------------------------------------------------------------------------------------
// The File menu

void TFileHistoryManager::UpdateMenu(TMenuItem &FileMenu, int HistorySize) {
    // separator, the history items, separator, Exit
    const int first = FileMenu.Count() - MenuItems - 2;
    assert(first >= 1);
    if (first < 1)
        return;
    const int shown = std::min(HistorySize, MenuItems);
    int n = 1;
    for (int i = 0; i < Count() && n <= shown; ++i) {
        const TFileHistoryItem &item = *FItems[i];
        if (item.FileName.empty())
            continue;
        TMenuItem &menuItem = *FileMenu.Items(first + n - 1);
        if (!item.Entry.empty()) {
            const std::string &name = item.Title.empty() ? item.Entry : item.Title;
            menuItem.SetCaption(Format("&%d %s", n, name));
            menuItem.SetHint(Format("Opens '%s' in '%s'.", name, item.FileName));
        } else {
            menuItem.SetCaption(Format("&%d %s", n, ShortenPath(item.FileName, 150)));
            menuItem.SetHint(Format("Opens '%s'.", item.FileName));
        }
        menuItem.SetVisible(true);
        menuItem.SetTag(i);
        menuItem.OnClick = MakeNotifyEvent<&TFileHistoryManager::MenuItemClick>(this);
        ++n;
    }
    for (int k = n; k <= MenuItems; ++k)
        FileMenu.Items(first + k - 1)->SetVisible(false);
    FileMenu.Items(first - 1)->SetVisible(n > 1);
}

void TFileHistoryManager::MenuItemClick(TObject *Sender) {
    const auto *menuItem = dynamic_cast<TMenuItem *>(Sender);
    if (!menuItem || menuItem->Tag() < 0 || menuItem->Tag() >= Count())
        return;
    const int index = menuItem->Tag();
    // Copies: opening changes the history.
    const std::string fileName = FItems[index]->FileName;
    const std::string entry = FItems[index]->Entry;
    if (!FileExists(fileName)) {
        // Reopening a file that is gone would only fail the same way every time.
        FItems.erase(FItems.begin() + index);
        if (index == 0)
            FOpenPending = false;
        Notify();
        throw EOpenDocumentError("Could not open '%s'.\r\nThe file no longer exists; it was removed from the "
                                 "recent files.",
                                 fileName);
    }
    if (entry.empty())
        OpenDocumentFile(fileName);
    else
        OpenDocumentEntry(fileName, entry);
}

// ---------------------------------------------------------------------------------------------
// Registry

void TFileHistoryManager::LoadFromRegistry(TRegistryManager &Registry) {
    std::vector<std::unique_ptr<TFileHistoryItem>> items;
    const int count = std::clamp(Registry.ReadInteger(HistoryKey, "Count", 0), 0, MaxItems);
    for (int i = 0; i < count; ++i) {
        auto item = std::make_unique<TFileHistoryItem>();
        Registry.ReadString(HistoryKey, ItemValue(i, "FileName"), item->FileName, "");
        Registry.ReadString(HistoryKey, ItemValue(i, "Entry"), item->Entry, "");
        Registry.ReadString(HistoryKey, ItemValue(i, "Title"), item->Title, "");
        item->Bounds.Left = Registry.ReadInteger(HistoryKey, ItemValue(i, "Left"), 0);
        item->Bounds.Top = Registry.ReadInteger(HistoryKey, ItemValue(i, "Top"), 0);
        item->Bounds.Right = Registry.ReadInteger(HistoryKey, ItemValue(i, "Right"), 0);
        item->Bounds.Bottom = Registry.ReadInteger(HistoryKey, ItemValue(i, "Bottom"), 0);
        item->Flags = Registry.ReadInteger(HistoryKey, ItemValue(i, "Flags"), -1);
        if (!item->FileName.empty() || !item->Entry.empty())
            items.push_back(std::move(item));
    }
    FItems = std::move(items);
    Notify();
}

void TFileHistoryManager::SaveToRegistry(TRegistryManager &Registry) {
    Registry.WriteInteger(HistoryKey, "Count", Count());
    for (int i = 0; i < Count(); ++i) {
        const TFileHistoryItem &item = *FItems[i];
        Registry.WriteString(HistoryKey, ItemValue(i, "FileName"), item.FileName);
        Registry.WriteString(HistoryKey, ItemValue(i, "Entry"), item.Entry);
        Registry.WriteString(HistoryKey, ItemValue(i, "Title"), item.Title);
        Registry.WriteInteger(HistoryKey, ItemValue(i, "Left"), item.Bounds.Left);
        Registry.WriteInteger(HistoryKey, ItemValue(i, "Top"), item.Bounds.Top);
        Registry.WriteInteger(HistoryKey, ItemValue(i, "Right"), item.Bounds.Right);
        Registry.WriteInteger(HistoryKey, ItemValue(i, "Bottom"), item.Bounds.Bottom);
        Registry.WriteInteger(HistoryKey, ItemValue(i, "Flags"), item.Flags);
    }
}

void TFileHistoryManager::ConfigurationChanged(TObject *) {
    Notify();
}
