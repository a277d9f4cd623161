// Parameter text: the entry text cursor, the item reader and writer, and the base of every object
// that saves itself as parameter text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "SysUtils.h"

class TEntryCollection;

DECLARE_EXCEPTION(EInvalidParFile, Exception);

// The text of one entry in memory with a character cursor. The cursor tracks the line and column
// the character has in the file the entry came from, joins lines continued with a backslash and
// reads every line break as one blank.
class TEntryStream : public TMemoryStream {
public:
    DECLARE_CLASS_NAME(TEntryStream)
    TEntryStream() = default;
    // An unnamed stream holding a copy of the bytes, starting at line 0, column 0, rewound.
    TEntryStream(const void *Buffer, std::size_t Size);
    // The text of entry Index of Collection (rescanning the collection when its source changed).
    TEntryStream(TEntryCollection &Collection, int Index);

    // Constructors that find the entry first; TStreamClass is TEntryStream or a descendant with a
    // default constructor.
    // The first entry of Stream; EEntryError "No entries available on stream" when there is none.
    template <class TStreamClass = TEntryStream>
    static std::unique_ptr<TStreamClass> CreateFromStream(TStream &Stream) {
        auto result = std::make_unique<TStreamClass>();
        result->LoadFirstEntry(Stream);
        return result;
    }
    template <class TStreamClass = TEntryStream>
    static std::unique_ptr<TStreamClass> CreateFromString(const std::string &Text) {
        auto result = std::make_unique<TStreamClass>();
        result->LoadFirstEntry(Text);
        return result;
    }
    // The first entry of the clipboard's text.
    template <class TStreamClass = TEntryStream> static std::unique_ptr<TStreamClass> CreateFromClipboard() {
        auto result = std::make_unique<TStreamClass>();
        result->LoadFirstEntryFromClipboard();
        return result;
    }
    // Entry EntryName (letter case ignored) of the file, opened through the shared file manager.
    // A missing entry raises EEntryError with an empty message.
    template <class TStreamClass = TEntryStream>
    static std::unique_ptr<TStreamClass> CreateFromFile(const std::string &FileName,
                                                        const std::string &EntryName) {
        auto result = std::make_unique<TStreamClass>();
        result->LoadFileEntry(FileName, EntryName);
        return result;
    }

    // Sets name, title and source position, replaces the text by Size bytes of Buffer, rewinds.
    void Load(const std::string &AName, const std::string &ATitle, int AStartLine, int AStartColumn,
              std::size_t Size, const void *Buffer);
    void LoadFirstEntry(TStream &Stream);
    void LoadFirstEntry(const std::string &Text);
    void LoadFirstEntryFromClipboard();
    void LoadFileEntry(const std::string &FileName, const std::string &EntryName);

    // The character under the cursor: 0 at the end, a blank on a line break, else the byte.
    char CurrentChar() const;
    void NextChar();
    // Moves to the first character of the next line.
    void SkipLine();
    void Rewind();
    bool AtEnd() const { return FPosition >= FTextLength; }
    // The cursor stands on the last character of its line (or of the text).
    bool AtLineEnd() const;
    void PushPosition();
    void PopPosition();
    // The entry's leading ';' comment lines joined with CR LF; read once.
    void ReadComments(std::string &Text);

    const std::string &Name() const { return FName; }
    const std::string &Title() const { return FTitle; }
    int Line() const { return FLine; }
    int Column() const { return FColumn; }
    int StartLine() const { return FStartLine; }
    int StartColumn() const { return FStartColumn; }
    int64_t CursorPosition() const { return FPosition; }
    bool PendingBlank() const { return FPendingBlank; }
    int64_t TextLength() const { return FTextLength; }
    const char *Text() const { return static_cast<const char *>(Memory()); }

    // The stream's own operations keep the cursor in step with the stream position.
    void SetSize(int64_t NewSize) override;
    int32_t Read(void *Buffer, int32_t Count) override;
    int32_t Write(const void *Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, int Origin) override;

    // Columns a tab counts for: the editor's tab size (2 without a configuration).
    static int TabSize();

private:
    // Applies the rules for the byte at the cursor (tab, line break, continuation).
    void ExamineChar();

    struct TSavedCursor {
        int64_t Position;
        int Line;
        int Column;
        bool PendingBlank;
    };

    std::string FComments;
    bool FCommentsRead = false;
    std::string FName;
    std::string FTitle;
    bool FPendingBlank = false;
    int FLine = 0;
    int FColumn = 0;
    int64_t FTextLength = 0;
    int FStartLine = 0;
    int FStartColumn = 0;
    std::vector<TSavedCursor> FSavedCursors;
};

// Reads parameter text item by item: "section:" headers and key=value pairs.
class TParReader : public TEntryStream {
public:
    DECLARE_CLASS_NAME(TParReader)
    using TEntryStream::TEntryStream;

    // The next item: the lower-case key of a pair (its value in Value); an empty key at a section
    // header (see GetSectionName) and at the end of the text.
    std::string Next();
    void Next(std::string &Key) { Key = Next(); }
    // The lower-case section name after Next returned an empty key at a header; empty otherwise.
    std::string GetSectionName() const;
    // The next item without moving on: its key, and in Section the name of a header that comes
    // next (empty otherwise).
    std::string PeekKey(std::string *Section = nullptr);
    // The next key of the current section, moved on to its value; empty, without moving, at a
    // section header or the end of the text.
    std::string NextKeyInSection();

    const std::string &GetValue() const { return FValue; }
    std::string GetLowerValue() const;
    // Where the key of the last pair began (from 0).
    int KeyLine() const { return FKeyLine; }
    int KeyColumn() const { return FKeyColumn; }
    bool Quoted() const { return FQuoted; }
    // Conversions of the last value ('.' as the decimal point); text that does not convert
    // raises EInvalidParFile with the cursor position.
    bool GetBoolean();
    int32_t GetInteger();
    int32_t GetColor() { return GetInteger(); }
    uint32_t GetCardinal();
    long double GetFloat();
    // Sets an exact decimal value (a type with SetText(std::string)) from the value text.
    template <class TFloatValueType> void ReadFloatValue(TFloatValueType &FloatValue) {
        try {
            FloatValue.SetText(FValue);
        } catch (const Exception &) {
            RaiseError();
        }
    }
    // Sets a complex value (a type with SetText(re, im)) from "re/im".
    template <class TComplexValueType> void ReadComplexValue(TComplexValueType &ComplexValue) {
        std::size_t slash = FValue.find('/');
        if (slash == std::string::npos)
            RaiseError();
        try {
            ComplexValue.SetText(FValue.substr(0, slash), FValue.substr(slash + 1));
        } catch (const Exception &) {
            RaiseError();
        }
    }

    // EInvalidParFile naming the cursor's line and column (from 1) and the last key read.
    [[noreturn]] void RaiseError();

    // Hooks for readers that resolve formula references their own way; empty here.
    // Called with the file and entry of a formula reference before the formula is opened.
    virtual void TranslateFileName(std::string &FileName, std::string &EntryName) {}
    // Called when the referenced entry cannot be opened (Kind 0 transformation, 1 fractal formula,
    // 2 coloring); true when FileName and EntryName were changed to a formula to try instead.
    virtual bool ResolveMissingFormula(std::string &FileName, std::string &EntryName, int Kind) {
        return false;
    }
    virtual void CompileError(const std::string &FileName, const std::string &EntryName) {}
    virtual void MissingParameter(const std::string &FileName, const std::string &EntryName,
                                  const std::string &ParamName) {}
    // Called with a message about something of the entry that the reader reads but does not
    // reproduce; the entry is read all the same.
    virtual void LoadWarning(const std::string &Text) {}

private:
    std::string FKey; // the key of the last pair, for error messages
    int FKeyLine = 0, FKeyColumn = 0;
    std::string FValue;
    std::string FSectionText;
    bool FQuoted = false;
};

// Writes parameter text: section lines, comment lines and items, indented by two blanks, in lines
// of at most 75 characters; an item too long for a line is continued with a backslash.
class TParWriter : public TMemoryStream {
public:
    DECLARE_CLASS_NAME(TParWriter)
    static constexpr int LineWidth = 75;

    // Writes Text and CR LF. A line whose last non-blank character is a backslash gets " ;"
    // appended, so that a reader does not take the backslash for a continuation.
    void WriteLine(const std::string &Text);
    void WriteSection(const std::string &Name);
    void WriteComment(const std::string &Text);
    void AddItem(const std::string &Item);

    void WriteBoolean(const std::string &Key, bool B);
    void WriteInteger(const std::string &Key, int32_t I);
    void WriteColor(const std::string &Key, int32_t I) { WriteInteger(Key, I); }
    void WriteCardinal(const std::string &Key, uint32_t C);
    void WriteFloat(const std::string &Key, long double X);
    void WriteString(const std::string &Key, const std::string &S);
    // S in double quotes, without what a value cannot hold (double quotes, braces, NUL) and with
    // each line break as one blank, so that it reads back exactly as written.
    void WriteQuoted(const std::string &Key, const std::string &S);
    // An exact decimal value (a type with GetText(), Text() or a Text field).
    template <class TFloatValueType>
    void WriteFloatValue(const std::string &Key, const TFloatValueType &Value) {
        WriteString(Key, ValueText(Value));
    }
    template <class TComplexValueType>
    void WriteComplexValue(const std::string &Key, const TComplexValueType &Value) {
        WriteString(Key, ValueText(Value.Re) + "/" + ValueText(Value.Im));
    }

    // Writes the pending line, once; later items are ignored.
    void Finish();
    bool Finished() const { return FFinished; }
    // Only when finished: the text as one plain entry, appended to Dest at its position.
    void WriteEntryToStream(TStream &Dest, const std::string &EntryName);
    // Only when finished: the text as one entry ("name {" ... "}"), packed when Compress is set.
    void GetEntryText(const std::string &EntryName, bool Compress, std::string &Text);
    // Everything written so far.
    std::string GetText();

private:
    template <class T> static std::string ValueText(const T &Value) {
        if constexpr (requires { Value.GetText(); })
            return Value.GetText();
        else if constexpr (requires { Value.Text(); })
            return Value.Text();
        else
            return Value.Text;
    }
    void WriteRawLine(const std::string &Text);
    void FlushLine();

    std::string FLine;
    bool FFinished = false;
};

// Base of every object that saves itself as parameter text.
class TPersistentObject : public TObject {
public:
    DECLARE_CLASS_NAME(TPersistentObject)
    virtual void LoadFromReader(TParReader &Reader) {}
    virtual void SaveToWriter(TParWriter &Writer) {}
    // Makes this object a copy of Source by saving Source and loading the text.
    void CopyFrom(TPersistentObject &Source);
};
