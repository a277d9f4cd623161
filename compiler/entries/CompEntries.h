// Entry files: text files of named entries, each a name, an optional title in parentheses and a
// body in braces. The scanner indexes a file's entries; entry texts are loaded (and unpacked) on
// demand; entries can be appended, deleted, copied and retitled on the raw text.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "GenClasses.h"
#include "SysUtils.h"

class TEntryCollection;
class TEntryStream;

DECLARE_EXCEPTION(EEntryError, Exception);

// One scanned entry. Objects are replaced on every rescan of their collection: callers must not
// keep them across operations that may rescan.
class TEntryData : public TObject {
public:
    DECLARE_CLASS_NAME(TEntryData)
    TEntryData(TEntryCollection &ACollection, int AIndex, std::string AName, std::string ATitle,
               int64_t ANamePos, int64_t ABodyStart, int64_t AStoredSize, int AStartLine, int AStartColumn);

    // The body text, unpacked; loaded on first use.
    const std::string &GetText();
    int GetTextSize() { return static_cast<int>(GetText().size()); }
    bool TextLoaded() const { return FTextLoaded; }
    // The body is stored packed and was unpacked (known once the text was loaded).
    bool Compressed() const { return FCompressed; }

    // The leading ';' comment lines of the body, joined with CR LF.
    const std::string &GetComments();
    // Quick look-up of Key="value" in the named sections of the raw text. Without Results the
    // first value is returned; with Results every value is added to it. An empty value gives
    // the entry's name. Returns whether a value was found.
    bool FindKey(const std::string &Key, const std::vector<std::string> &Sections, std::string &Value,
                 TStrings *Results = nullptr);
    const std::string &GetTitle();
    const std::string &GetAuthor();
    // Creation date from the credits or the "created" key; 0 when there is none.
    TDateTime GetDate();
    bool ReferencesEntry(const std::string &Text);
    bool ReferencesFile(const std::string &Text);

    TEntryCollection &Collection() const { return FCollection; }
    const std::string &Name() const { return FName; }
    const std::string &Title() const { return FTitle; }
    int Index() const { return FIndex; }
    int64_t NamePos() const { return FNamePos; }
    int64_t BodyStart() const { return FBodyStart; }
    int64_t StoredSize() const { return FStoredSize; }
    int StartLine() const { return FStartLine; }
    int StartColumn() const { return FStartColumn; }

private:
    friend class TEntryCollection;
    bool References(const std::string &Key, const std::string &Text);

    std::string FAuthor;
    bool FAuthorRead = false;
    TEntryCollection &FCollection;
    int64_t FBodyStart;
    int64_t FStoredSize;
    std::string FComments;
    bool FCommentsRead = false;
    bool FCompressed = false;
    std::string FText;
    bool FTextLoaded = false;
    TDateTime FDate = 0;
    std::string FName;
    int64_t FNamePos;
    int FIndex;
    std::string FTitle;
    int FStartLine;
    int FStartColumn;
    std::string FTitleCache;
    bool FTitleCached = false;
};

// Storage modes of CopyEntry and CopyEntryAs.
constexpr int cmPlain = 0;
constexpr int cmCompressed = 1;
constexpr int cmAsSource = 2;

// The longest line the scanner takes, in characters. A header is looked for on the whole of its
// line, which is held while it grows; a source with a longer line (most likely not an entry file
// at all, such as a large binary file named by mistake) is refused rather than read into memory.
constexpr std::size_t MaxEntryLineLength = 1u << 20;

// Stream modes of GetStream.
constexpr int smRead = 0;
constexpr int smAppend = 1;
constexpr int smRewrite = 2;

// An indexed collection of entries over some source. Every public operation holds the
// collection's lock (re-entrant), so a collection can be shared between threads.
class TEntryCollection : public TObject {
public:
    DECLARE_CLASS_NAME(TEntryCollection)
    ~TEntryCollection() override;
    TEntryCollection(const TEntryCollection &) = delete;
    TEntryCollection &operator=(const TEntryCollection &) = delete;

    void Lock();
    // Leaves the lock; after the outermost Unlock of an operation that wrote the source, the
    // change is reported (outside the lock, so that whoever is told may open other files).
    void Unlock();

    int GetCount() const { return FEntries.Count(); }
    TEntryData *GetEntry(int I);
    void CheckIndex(int I) const;
    int IndexOfName(const std::string &Name);
    int IndexOfTitle(const std::string &Title);
    void LoadEntryText(int I);
    void LoadEntryIntoStream(TEntryStream &Stream, int I);
    // Re-indexes the entries when the source changed or texts are wanted that were not kept.
    // EEntryError for a line longer than MaxEntryLineLength; the collection is then empty.
    void Scan(bool KeepTexts);
    bool KeepTexts() const { return FKeepTexts; }

    // Appends the whole of Source (from its start) as an entry.
    void AppendEntry(TStream &Source, const std::string &Name, const std::string &Title, bool Compress);
    void AppendEntry(const std::string &Text, const std::string &Name, const std::string &Title,
                     bool Compress);
    void DeleteEntry(int I);
    void CopyEntry(TEntryData &Entry, int CompressMode);
    void CopyEntryAs(TEntryData &Entry, const std::string &NewName, int CompressMode);
    std::string MakeUniqueName(const std::string &Name);
    // Sets the title key of entry I; the entry moves to the end of the source, stored plain.
    void ChangeTitle(int I, const std::string &NewTitle);

    static void Compress(std::string &Buffer);
    static void Decompress(std::string &Buffer);

protected:
    TEntryCollection();

    // Mode smRead, smAppend or smRewrite; the stream stands where the entries begin.
    virtual TStream *GetStream(int Mode) = 0;
    // Whether the source changed since the last call.
    virtual bool SourceChanged() = 0;
    virtual void ReleaseStream(TStream *Stream) = 0;
    // Titles are not changed in collections for which this is true.
    virtual bool RefusesTitleChange() const { return false; }
    // Called after the outermost Unlock of an operation during which MarkChanged was called.
    virtual void ChangedAfterUnlock() {}
    // Called by descendants when the source was written.
    void MarkChanged() { FChangePending = true; }
    // Replaces the source, from where the entries begin, with Content, of which the first
    // Unchanged bytes equal the source's. A failure must leave the source as it was. This one
    // writes over the stream in place and puts the old bytes back when a write fails.
    virtual void StoreSource(const std::string &Content, std::size_t Unchanged);

private:
    friend class TEntryStreamUse;
    void DoScan(TStream &Stream);
    // The whole source from where the entries begin; Start receives that stream position.
    std::string ReadSource(int Mode, int64_t &Start);
    // Stores Content in place of Old, the source as ReadSource gave it.
    void StoreEdited(const std::string &Old, const std::string &Content);
    // Removes entry I from Content, the source read from stream position Start.
    void EraseEntryText(std::string &Content, int64_t Start, int I);

    bool FKeepTexts = false;
    TObjectList<TEntryData> FEntries;
    bool FScanned = false;
    TCriticalSection FLock;
    int FLockDepth = 0;
    bool FChangePending = false;
};

// Holds a collection's lock for the life of a scope.
// Unlocking may deliver a change notification, which may raise; it is passed on unless the scope
// is being left by another exception.
class TEntryCollectionLock {
public:
    explicit TEntryCollectionLock(TEntryCollection &Collection)
        : FCollection(Collection), FUncaught(std::uncaught_exceptions()) {
        FCollection.Lock();
    }
    ~TEntryCollectionLock() noexcept(false) {
        if (std::uncaught_exceptions() > FUncaught) {
            try {
                FCollection.Unlock();
            } catch (...) {
            }
        } else {
            FCollection.Unlock();
        }
    }
    TEntryCollectionLock(const TEntryCollectionLock &) = delete;
    TEntryCollectionLock &operator=(const TEntryCollectionLock &) = delete;

private:
    TEntryCollection &FCollection;
    int FUncaught;
};

// A collection over a stream: a caller's (not owned), a file's content or a text.
class TEntryReader : public TEntryCollection {
public:
    DECLARE_CLASS_NAME(TEntryReader)
    TEntryReader(TStream &AStream, bool KeepTexts);
    TEntryReader(std::unique_ptr<TStream> AStream, bool KeepTexts);
    // The whole file in memory; an empty collection when the file does not exist.
    static std::unique_ptr<TEntryReader> CreateFromFile(const std::string &FileName, bool KeepTexts);
    static std::unique_ptr<TEntryReader> CreateFromString(const std::string &Text, bool KeepTexts);
    TStream &Stream() const { return *FStream; }

protected:
    TStream *GetStream(int Mode) override;
    bool SourceChanged() override { return false; }
    void ReleaseStream(TStream *) override {}

private:
    std::unique_ptr<TStream> FOwnedStream;
    TStream *FStream;
    int64_t FStartPosition;
};

// A collection over a memory stream of its own, empty at first.
class TEntryWriter : public TEntryCollection {
public:
    DECLARE_CLASS_NAME(TEntryWriter)
    TEntryWriter();
    std::string GetText() const;
    void SaveToStream(TStream &Dest) const;

protected:
    TStream *GetStream(int Mode) override;
    bool SourceChanged() override { return false; }
    void ReleaseStream(TStream *) override {}

private:
    std::unique_ptr<TMemoryStream> FStream;
};

// An entry name made from a title: blanks, tabs and ( ) : ; { } are dropped and the character
// after a dropped run is upper-cased; "Default" when nothing is left.
std::string TitleToName(const std::string &Title);
// The name with every '_' replaced by a blank.
std::string NameToTitle(const std::string &Name);
// Splits an entry header: Text holds Length characters of which the last is the '{'. NamePos
// receives the 1-based index of the name in Text.
bool ParseEntryHeaderPos(const char *Text, std::size_t Length, std::string &Name, std::string &Title,
                         std::size_t &NamePos);
bool ParseEntryHeader(const char *Text, std::size_t Length, std::string &Name, std::string &Title);
// Sets or inserts title="Title" in the first parameter or gradient section of an entry body.
void SetEntryTitle(TStrings &Lines, const std::string &Title);
