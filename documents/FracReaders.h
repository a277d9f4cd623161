// The readers through which every parameter set reaches a fractal or a layer. Beyond plain
// parameter text they know where the text came from (an entry of a collection, a file, the
// clipboard, a stream), what to do about a formula that the text names but that cannot be found
// (an embedded copy in the same collection, a remembered replacement, the user's choice), and they
// collect load warnings (formulas that do not compile, parameters a formula no longer has) to show
// once after reading.
//
// TParReader > TCollectionParReader > TReportingParReader > TInteractiveParReader. One reader
// serves one read: its warnings and remembered replacements live as long as it does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "CompEntries.h"
#include "CompPersistent.h"

class TCollectionParReader : public TParReader {
public:
    DECLARE_CLASS_NAME(TCollectionParReader)
    TCollectionParReader() = default;
    ~TCollectionParReader() override;
    TCollectionParReader(const TCollectionParReader &) = delete;
    TCollectionParReader &operator=(const TCollectionParReader &) = delete;

    // Each creator makes the reader's text the chosen entry's text. TReader is this class or a
    // descendant with a default constructor.

    // Entry Index of a collection the caller keeps.
    template <class TReader = TCollectionParReader>
    static std::unique_ptr<TReader> Create(TEntryCollection &Collection, int Index) {
        auto reader = std::make_unique<TReader>();
        reader->LoadFromCollection(Collection, Index);
        return reader;
    }
    // The first entry of the clipboard's text; EInvalidParFile when the text holds none.
    template <class TReader = TCollectionParReader> static std::unique_ptr<TReader> CreateFromClipboard() {
        auto reader = std::make_unique<TReader>();
        reader->LoadFromClipboard();
        return reader;
    }
    // The first entry of a text (what the clipboard path reads once it has the text).
    template <class TReader = TCollectionParReader>
    static std::unique_ptr<TReader> CreateFromString(const std::string &Text) {
        auto reader = std::make_unique<TReader>();
        reader->LoadFromString(Text);
        return reader;
    }
    // Entry EntryName (letter case ignored) of a file from the shared file cache. EEntryError
    // "Could not open '%s' in '%s'" (entry, file) when the entry is missing or the file cannot be
    // read.
    template <class TReader = TCollectionParReader>
    static std::unique_ptr<TReader> CreateFromEntry(const std::string &FileName,
                                                    const std::string &EntryName) {
        auto reader = std::make_unique<TReader>();
        reader->LoadFromEntry(FileName, EntryName);
        return reader;
    }
    // Entry Index of the file; EEntryError "Could not open entry %d in '%s'".
    template <class TReader = TCollectionParReader>
    static std::unique_ptr<TReader> CreateFromIndex(const std::string &FileName, int Index) {
        auto reader = std::make_unique<TReader>();
        reader->LoadFromIndex(FileName, Index);
        return reader;
    }
    // The first entry of the caller's stream from its current position (the stream stays the
    // caller's).
    template <class TReader = TCollectionParReader>
    static std::unique_ptr<TReader> CreateFromText(TStream &Stream) {
        auto reader = std::make_unique<TReader>();
        reader->LoadFromText(Stream);
        return reader;
    }

    TEntryCollection *Collection() const { return FCollection; }
    bool OwnsCollection() const { return FOwnsCollection; }

    // Looks for a copy of the formula in the same collection, named after the formula's file
    // (without folder, blanks as '_') and entry ("My_Formulas.ofm:Spiral"), or else "FRM:" and
    // the entry. A copy found is appended to the formula file (created when missing) under the
    // entry's name. A relative FileName comes back with the Formula folder in front.
    bool ResolveMissingFormula(std::string &FileName, std::string &EntryName, int Kind) override;

protected:
    void LoadFromCollection(TEntryCollection &ACollection, int Index);
    void LoadFromClipboard();
    void LoadFromString(const std::string &Text);
    void LoadFromEntry(const std::string &FileName, const std::string &EntryName);
    void LoadFromIndex(const std::string &FileName, int Index);
    void LoadFromText(TStream &Stream);

private:
    // Takes the first entry of a collection the reader owns.
    void LoadFirstOwnedEntry(std::unique_ptr<TEntryCollection> Owned);
    // Takes the entry that Find picks (-1: none) of a shared file, which the reader then holds;
    // EEntryError Failure when there is none or the file cannot be read.
    void LoadSharedEntry(const std::string &FileName, const std::function<int(TEntryCollection &)> &Find,
                         const std::string &Failure);
    void ReleaseCollection();

    TEntryCollection *FCollection = nullptr;
    bool FOwnsCollection = false;
    // The collection when the reader made it (clipboard and stream readers); a shared file is
    // given back to the cache instead.
    std::unique_ptr<TEntryCollection> FOwnedCollection;
    // A shared file holds one reference for the reader (virtual files come without one).
    bool FHoldsReference = false;
};

class TReportingParReader : public TCollectionParReader {
public:
    DECLARE_CLASS_NAME(TReportingParReader)

    // "Error compiling '%s' in '%s'." (entry, file), listed once.
    void CompileError(const std::string &FileName, const std::string &EntryName) override;
    // "Could not locate parameter '%s' in '%s' in '%s'." (parameter, entry, file), listed once.
    void MissingParameter(const std::string &FileName, const std::string &EntryName,
                          const std::string &ParamName) override;
    // The load-warnings dialog with every compile error, then every missing parameter; nothing
    // when there are none. Callers call it once after reading.
    virtual void ShowWarnings();

    const std::vector<std::string> &CompileErrors() const { return FCompileErrors; }
    const std::vector<std::string> &MissingParameters() const { return FMissingParameters; }
    bool HasWarnings() const { return !FCompileErrors.empty() || !FMissingParameters.empty(); }

private:
    std::vector<std::string> FCompileErrors;
    std::vector<std::string> FMissingParameters;
};

// A formula replacement the user chose, remembered for the rest of one read.
struct TParFile {
    std::string OldEntry;
    std::string OldFile;
    std::string NewEntry;
    std::string NewFile;
};

class TInteractiveParReader : public TReportingParReader {
public:
    DECLARE_CLASS_NAME(TInteractiveParReader)

    // After the embedded copies: a remembered replacement, else the missing-formula dialog.
    bool ResolveMissingFormula(std::string &FileName, std::string &EntryName, int Kind) override;

    const std::vector<TParFile> &Replacements() const { return FReplacements; }

private:
    std::vector<TParFile> FReplacements;
};

// ---------------------------------------------------------------------------------------------
// The questions the readers ask the user

// The browser's entry kind under which a formula of a kind (TFormulaKind's values, as
// ResolveMissingFormula gets them) is looked for.
int BrowserKindOfFormula(int Kind);

// The missing-formula dialog's outcome, stored as a byte.
enum class TMissingFormulaAction : std::uint8_t {
    UseSelected = 0,
    LookOnComputer = 1,
    Download = 2,
    TryAgain = 3,
    Cancelled = 4,
};

struct TMissingFormulaAnswer {
    TMissingFormulaAction Action = TMissingFormulaAction::Cancelled;
    // With UseSelected: the chosen match's file and entry.
    std::string FileName;
    std::string EntryName;
};

// What the readers show the user. The program's windows by default; tests put scripted answers
// in their place.
class TParReaderDialogs {
public:
    virtual ~TParReaderDialogs() = default;
    // The missing-formula dialog for the entry and file as the formula named them.
    virtual TMissingFormulaAnswer AskMissingFormula(const std::string &EntryName,
                                                    const std::string &FileName) = 0;
    // Lets the user pick an entry of the browser kind, starting at FileName and EntryName; true
    // with the picked entry in them.
    virtual bool PickEntry(int BrowserKind, std::string &FileName, std::string &EntryName) = 0;
    // Offers the one formula file (a name without folder) for download.
    virtual void DownloadFormulaFile(const std::string &FileName) = 0;
    // The load-warnings dialog with these lines (at least one).
    virtual void ShowLoadWarnings(const std::vector<std::string> &CompileErrors,
                                  const std::vector<std::string> &MissingParameters) = 0;
};

// The dialogs in use: the program's own unless others were set.
TParReaderDialogs &ParReaderDialogs();
// Puts Dialogs (kept by the caller) in place; nullptr brings back the program's own. Returns the
// ones that were set before (nullptr for the program's own).
TParReaderDialogs *SetParReaderDialogs(TParReaderDialogs *Dialogs);
// The program's own dialogs, shown modally.
TParReaderDialogs &ProgramParReaderDialogs();
