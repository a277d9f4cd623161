#include "FracReaders.h"

#include <algorithm>
#include <array>
#include <utility>

#include "Clipbrd.h"
#include "CompEntries.h"
#include "CompFileManager.h"
#include "GenSetup.h"
#include "SysUtils.h"

namespace {

TParReaderDialogs *CurrentDialogs = nullptr;

// The cache hands out virtual files without a reference for the caller.
bool HoldsReference(const TEntryFile *File) {
    return dynamic_cast<const TVirtualEntryFile *>(File) == nullptr;
}

// Gives a file back to the cache when the scope ends.
class TSharedFile {
public:
    explicit TSharedFile(TEntryFile *AFile) : FFile(AFile) {}
    ~TSharedFile() {
        if (FFile && HoldsReference(FFile))
            FFile->Release();
    }
    TSharedFile(const TSharedFile &) = delete;
    TSharedFile &operator=(const TSharedFile &) = delete;
    TEntryFile &operator*() const { return *FFile; }
    TEntryFile *operator->() const { return FFile; }
    // The reference goes to the caller.
    TEntryFile *Detach() { return std::exchange(FFile, nullptr); }

private:
    TEntryFile *FFile;
};

// Not starting with '\' and without a drive: a name relative to the formula folders.
bool IsRelativeFileName(const std::string &FileName) {
    return FileName.empty() || (FileName[0] != '\\' && (FileName.size() < 2 || FileName[1] != ':'));
}

std::string FormulaFolder() {
    const TConfigManager *config = ConfigManager();
    if (!config || !config->Folder || config->Folder->Formula.empty())
        return std::string();
    return IncludeTrailingPathDelimiter(config->Folder->Formula);
}

void AddOnce(std::vector<std::string> &Lines, const std::string &Line) {
    if (std::find(Lines.begin(), Lines.end(), Line) == Lines.end())
        Lines.push_back(Line);
}

} // namespace

// =============================================================================================
// TCollectionParReader

TCollectionParReader::~TCollectionParReader() {
    ReleaseCollection();
}

void TCollectionParReader::ReleaseCollection() {
    if (FOwnsCollection && !FOwnedCollection && FHoldsReference)
        static_cast<TEntryFile *>(FCollection)->Release();
    FOwnedCollection.reset();
    FCollection = nullptr;
    FOwnsCollection = false;
    FHoldsReference = false;
}

void TCollectionParReader::LoadFromCollection(TEntryCollection &ACollection, int Index) {
    ReleaseCollection();
    ACollection.LoadEntryIntoStream(*this, Index);
    FCollection = &ACollection;
}

void TCollectionParReader::LoadFirstOwnedEntry(std::unique_ptr<TEntryCollection> Owned) {
    ReleaseCollection();
    TEntryCollectionLock lock(*Owned);
    if (Owned->GetCount() == 0)
        RaiseError();
    Owned->LoadEntryIntoStream(*this, 0);
    FCollection = Owned.get();
    FOwnedCollection = std::move(Owned);
    FOwnsCollection = true;
}

void TCollectionParReader::LoadFromClipboard() {
    LoadFromString(Clipboard().AsText());
}

void TCollectionParReader::LoadFromString(const std::string &Text) {
    LoadFirstOwnedEntry(TEntryReader::CreateFromString(Text, false));
}

void TCollectionParReader::LoadFromText(TStream &Stream) {
    LoadFirstOwnedEntry(std::make_unique<TEntryReader>(Stream, false));
}

void TCollectionParReader::LoadSharedEntry(const std::string &FileName,
                                           const std::function<int(TEntryCollection &)> &Find,
                                           const std::string &Failure) {
    ReleaseCollection();
    if (!FileManager())
        throw EEntryError(Failure);
    TEntryFile *opened = nullptr;
    try {
        opened = FileManager()->OpenFile(FileName, false);
    } catch (const Exception &) {
        // A missing file, one that cannot be read, one that is no entry file at all.
        throw EEntryError(Failure);
    }
    TSharedFile file(opened);
    try {
        TEntryCollectionLock lock(*file);
        const int index = Find(*file);
        if (index < 0)
            throw EEntryError(Failure);
        file->LoadEntryIntoStream(*this, index);
    } catch (const Exception &) {
        throw EEntryError(Failure);
    }
    FHoldsReference = HoldsReference(opened);
    FCollection = file.Detach();
    FOwnsCollection = true;
}

void TCollectionParReader::LoadFromEntry(const std::string &FileName, const std::string &EntryName) {
    LoadSharedEntry(
        FileName, [&](TEntryCollection &Collection) { return Collection.IndexOfName(EntryName); },
        Format("Could not open '%s' in '%s'", EntryName, FileName));
}

void TCollectionParReader::LoadFromIndex(const std::string &FileName, int Index) {
    LoadSharedEntry(
        FileName,
        [&](TEntryCollection &Collection) {
            return Index >= 0 && Index < Collection.GetCount() ? Index : -1;
        },
        Format("Could not open entry %d in '%s'", Index, FileName));
}

bool TCollectionParReader::ResolveMissingFormula(std::string &FileName, std::string &EntryName, int Kind) {
    if (IsRelativeFileName(FileName))
        FileName = FormulaFolder() + FileName;
    if (!FCollection || !FileManager())
        return false;
    // Copies of formulas travel with a parameter set under "<file>:<entry>", the file without its
    // folder and with blanks as '_'; an imported one under "FRM:<entry>".
    std::string key = StringReplace(ExtractFileName(FileName), " ", "_", rfReplaceAll) + ":" + EntryName;
    TEntryCollectionLock lock(*FCollection);
    int index = FCollection->IndexOfName(key);
    if (index < 0)
        index = FCollection->IndexOfName("FRM:" + EntryName);
    if (index < 0)
        return false;
    TSharedFile file(FileManager()->OpenFile(FileName, true));
    file->CopyEntryAs(*FCollection->GetEntry(index), EntryName, cmPlain);
    return true;
}

// =============================================================================================
// TReportingParReader

void TReportingParReader::CompileError(const std::string &FileName, const std::string &EntryName) {
    AddOnce(FCompileErrors, Format("Error compiling '%s' in '%s'.", EntryName, FileName));
}

void TReportingParReader::MissingParameter(const std::string &FileName, const std::string &EntryName,
                                           const std::string &ParamName) {
    AddOnce(FMissingParameters,
            Format("Could not locate parameter '%s' in '%s' in '%s'.", ParamName, EntryName, FileName));
}

void TReportingParReader::ShowWarnings() {
    if (HasWarnings())
        ParReaderDialogs().ShowLoadWarnings(FCompileErrors, FMissingParameters);
}

// =============================================================================================
// TInteractiveParReader

bool TInteractiveParReader::ResolveMissingFormula(std::string &FileName, std::string &EntryName, int Kind) {
    if (TReportingParReader::ResolveMissingFormula(FileName, EntryName, Kind))
        return true;
    for (const TParFile &replacement : FReplacements)
        if (SameText(replacement.OldFile, FileName) && SameText(replacement.OldEntry, EntryName)) {
            FileName = replacement.NewFile;
            EntryName = replacement.NewEntry;
            return true;
        }
    const std::string oldFile = FileName, oldEntry = EntryName;
    TParReaderDialogs &dialogs = ParReaderDialogs();
    const TMissingFormulaAnswer answer = dialogs.AskMissingFormula(EntryName, FileName);
    switch (answer.Action) {
    case TMissingFormulaAction::UseSelected:
        FileName = answer.FileName;
        EntryName = answer.EntryName;
        break;
    case TMissingFormulaAction::LookOnComputer: {
        std::string fileName = FileName, entryName = EntryName;
        if (!dialogs.PickEntry(BrowserKindOfFormula(Kind), fileName, entryName))
            return false;
        FileName = fileName;
        EntryName = entryName;
        break;
    }
    case TMissingFormulaAction::Download:
        // The formula object searches its folders again for the bare name, where the download
        // puts the file.
        FileName = ExtractFileName(FileName);
        dialogs.DownloadFormulaFile(FileName);
        return true;
    case TMissingFormulaAction::TryAgain:
        FileName = ExtractFileName(FileName);
        return true;
    default:
        return false;
    }
    // A choice of the user's stands for the rest of this read: later layers naming the same
    // formula are not asked about again.
    if (FileName != oldFile || EntryName != oldEntry)
        FReplacements.push_back({oldEntry, oldFile, EntryName, FileName});
    return true;
}

// =============================================================================================
// Dialogs

int BrowserKindOfFormula(int Kind) {
    // transformation, fractal formula, inside coloring, outside coloring
    constexpr std::array<int, 4> kinds = {4, 5, 8, 7};
    return Kind >= 0 && Kind < static_cast<int>(kinds.size()) ? kinds[static_cast<std::size_t>(Kind)] : 5;
}

TParReaderDialogs &ParReaderDialogs() {
    return CurrentDialogs ? *CurrentDialogs : ProgramParReaderDialogs();
}

TParReaderDialogs *SetParReaderDialogs(TParReaderDialogs *Dialogs) {
    return std::exchange(CurrentDialogs, Dialogs);
}
