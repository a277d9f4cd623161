#include "CompPersistent.h"

#include <windows.h>

#include <cstring>

#include "CompEntries.h"
#include "CompFileManager.h"
#include "GenSetup.h"

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';

bool IsBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}

// A line ends with CR LF, a lone CR or a lone LF (files saved by other editors use LF only).
bool IsLineBreak(char c) {
    return c == CR || c == LF;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TEntryStream

TEntryStream::TEntryStream(const void *Buffer, std::size_t Size) {
    Load(std::string(), std::string(), 0, 0, Size, Buffer);
}

TEntryStream::TEntryStream(TEntryCollection &Collection, int Index) {
    Collection.LoadEntryIntoStream(*this, Index);
}

int TEntryStream::TabSize() {
    TConfigManager *config = ConfigManager();
    if (!config || !config->Editor)
        return 2;
    int size = config->Editor->TabSize;
    return size < 1 ? 1 : size > 16 ? 16 : size;
}

void TEntryStream::Load(const std::string &AName, const std::string &ATitle, int AStartLine, int AStartColumn,
                        std::size_t Size, const void *Buffer) {
    FName = AName;
    FTitle = ATitle;
    FStartLine = AStartLine;
    FStartColumn = AStartColumn;
    FComments.clear();
    FCommentsRead = false;
    FSavedCursors.clear();
    TMemoryStream::SetSize(0);
    FPosition = 0;
    FTextLength = 0;
    if (Size > static_cast<std::size_t>(INT32_MAX))
        throw EOutOfMemory("Entry text too large");
    if (Size > 0)
        WriteBuffer(Buffer, static_cast<int32_t>(Size));
    Rewind();
}

void TEntryStream::LoadFirstEntry(TStream &Stream) {
    TEntryReader reader(Stream, false);
    if (reader.GetCount() == 0)
        throw EEntryError("No entries available on stream");
    reader.LoadEntryIntoStream(*this, 0);
}

void TEntryStream::LoadFirstEntry(const std::string &Text) {
    TStringStream stream(Text);
    LoadFirstEntry(stream);
}

void TEntryStream::LoadFirstEntryFromClipboard() {
    std::string text;
    if (OpenClipboard(nullptr)) {
        HANDLE data = GetClipboardData(CF_TEXT);
        if (data) {
            const char *chars = static_cast<const char *>(GlobalLock(data));
            if (chars) {
                text.assign(chars, strnlen(chars, GlobalSize(data)));
                GlobalUnlock(data);
            }
        }
        CloseClipboard();
    }
    LoadFirstEntry(text);
}

void TEntryStream::LoadFileEntry(const std::string &FileName, const std::string &EntryName) {
    if (!FileManager())
        throw EEntryError("Could not open '%s'", FileName);
    TEntryFile *file = FileManager()->OpenFile(FileName, false);
    TEntryFileReference reference(file);
    TEntryCollectionLock lock(*file);
    int index = file->IndexOfName(EntryName);
    if (index < 0)
        throw EEntryError(std::string());
    file->LoadEntryIntoStream(*this, index);
}

char TEntryStream::CurrentChar() const {
    if (FPosition >= FTextLength)
        return 0;
    if (FPendingBlank)
        return ' ';
    return Text()[FPosition];
}

void TEntryStream::ExamineChar() {
    const char *text = Text();
    for (;;) {
        if (FPosition >= FTextLength)
            return;
        char c = text[FPosition];
        if (c == '\t') {
            int tab = TabSize();
            if (tab >= 2)
                FColumn += tab - 1;
            return;
        }
        if (IsLineBreak(c)) {
            ++FPosition;
            if (c == CR && FPosition < FTextLength && text[FPosition] == LF)
                ++FPosition;
            ++FLine;
            FColumn = 0;
            FPendingBlank = true;
            return;
        }
        if (c != '\\')
            return;
        int64_t p = FPosition + 1;
        while (p < FTextLength && IsBlankOrTab(text[p]))
            ++p;
        if (p >= FTextLength || !IsLineBreak(text[p]))
            return; // an ordinary backslash
        // A continuation: the line break and the next line's indentation are passed.
        ++FLine;
        ++p;
        if (text[p - 1] == CR && p < FTextLength && text[p] == LF)
            ++p;
        int64_t start = p;
        while (p < FTextLength && IsBlankOrTab(text[p]))
            ++p;
        FColumn = static_cast<int>(p - start);
        FPosition = p;
    }
}

void TEntryStream::NextChar() {
    if (FPosition >= FTextLength)
        return;
    if (FPendingBlank) {
        FPendingBlank = false;
    } else {
        ++FPosition;
        ++FColumn;
    }
    ExamineChar();
}

void TEntryStream::SkipLine() {
    while (!FPendingBlank && !AtEnd())
        NextChar();
    NextChar();
}

void TEntryStream::Rewind() {
    FPosition = 0;
    FLine = FStartLine;
    FColumn = FStartColumn;
    FPendingBlank = false;
    ExamineChar();
}

bool TEntryStream::AtLineEnd() const {
    if (FPosition >= FTextLength - 1)
        return true;
    const char *text = Text();
    // On an empty line the cursor stands on its CR; the LF after it is the same line end.
    const char next = text[FPosition + 1];
    return next == CR || (next == LF && text[FPosition] != CR);
}

void TEntryStream::PushPosition() {
    FSavedCursors.push_back({FPosition, FLine, FColumn, FPendingBlank});
}

void TEntryStream::PopPosition() {
    if (FSavedCursors.empty())
        return;
    const TSavedCursor &saved = FSavedCursors.back();
    FPosition = saved.Position;
    FLine = saved.Line;
    FColumn = saved.Column;
    FPendingBlank = saved.PendingBlank;
    FSavedCursors.pop_back();
}

void TEntryStream::ReadComments(std::string &Text) {
    if (!FCommentsRead) {
        PushPosition();
        Rewind();
        std::string comments;
        for (;;) {
            while (IsBlankOrTab(CurrentChar()))
                NextChar();
            if (AtEnd() || CurrentChar() != ';')
                break;
            if (!comments.empty())
                comments += "\r\n";
            if (!AtLineEnd()) {
                NextChar(); // the ';'
                while (IsBlankOrTab(CurrentChar()) && !AtLineEnd())
                    NextChar();
                while (!AtLineEnd()) {
                    comments += CurrentChar();
                    NextChar();
                }
                comments += CurrentChar();
            }
            NextChar();
        }
        PopPosition();
        FComments = comments;
        FCommentsRead = true;
    }
    Text = FComments;
}

void TEntryStream::SetSize(int64_t NewSize) {
    TMemoryStream::SetSize(NewSize);
    FTextLength = NewSize;
    if (FPosition > FTextLength)
        FPosition = FTextLength;
}

int32_t TEntryStream::Read(void *Buffer, int32_t Count) {
    return TMemoryStream::Read(Buffer, Count);
}

int32_t TEntryStream::Write(const void *Buffer, int32_t Count) {
    int32_t written = TMemoryStream::Write(Buffer, Count);
    if (FPosition > FTextLength)
        FTextLength = FPosition;
    return written;
}

int64_t TEntryStream::Seek(int64_t Offset, int Origin) {
    int64_t target = Offset;
    if (Origin == soFromCurrent)
        target = FPosition + Offset;
    else if (Origin == soFromEnd)
        target = FTextLength + Offset;
    if (target != FPosition) {
        if (target < FPosition)
            Rewind();
        while (FPosition < target && !AtEnd())
            NextChar();
    }
    return FPosition;
}

// ---------------------------------------------------------------------------------------------
// TParReader

std::string TParReader::Next() {
    FSectionText.clear();
    FKey.clear();
    for (;;) {
        while (IsBlankOrTab(CurrentChar()))
            NextChar();
        if (!AtEnd() && CurrentChar() == ';') {
            SkipLine();
            continue;
        }
        break;
    }
    if (AtEnd())
        return std::string();

    FKeyLine = Line();
    FKeyColumn = Column();
    std::string key(1, CurrentChar());
    NextChar();
    for (;;) {
        if (AtEnd())
            break;
        char c = CurrentChar();
        if (c == ' ' || c == '\t' || c == ':' || c == '=')
            break;
        key += c;
        NextChar();
    }
    if (AtEnd())
        return std::string(); // a key that ends the text is not delivered

    if (CurrentChar() == ':') {
        NextChar();
        FSectionText = key;
        return std::string();
    }
    key = LowerCase(key);
    FKey = key;
    FValue.clear();
    FQuoted = false;
    if (CurrentChar() != '=')
        return key;
    NextChar();
    // A '=' that ends the text delivers nothing; one followed by the text's last line break is
    // an empty value, as it is anywhere else at a line end.
    if (AtEnd() && !PendingBlank())
        return std::string();
    if (CurrentChar() == '"') {
        NextChar();
        while (!AtEnd() && CurrentChar() != '"') {
            FValue += CurrentChar();
            NextChar();
        }
        if (!AtEnd())
            NextChar();
        FQuoted = true;
    } else {
        while (!AtEnd() && !IsBlankOrTab(CurrentChar())) {
            FValue += CurrentChar();
            NextChar();
        }
    }
    return key;
}

std::string TParReader::PeekKey(std::string *Section) {
    PushPosition();
    std::string key = Next();
    if (Section)
        *Section = GetSectionName();
    PopPosition();
    return key;
}

std::string TParReader::NextKeyInSection() {
    const std::string key = PeekKey();
    if (!key.empty())
        Next();
    return key;
}

std::string TParReader::GetSectionName() const {
    return LowerCase(FSectionText);
}

std::string TParReader::GetLowerValue() const {
    return LowerCase(FValue);
}

bool TParReader::GetBoolean() {
    if (SameText(FValue, "yes"))
        return true;
    if (SameText(FValue, "no"))
        return false;
    RaiseError();
}

int32_t TParReader::GetInteger() {
    int32_t value;
    if (!TryStrToInt(FValue, value))
        RaiseError();
    return value;
}

uint32_t TParReader::GetCardinal() {
    int64_t value;
    if (!TryStrToInt64(FValue, value))
        RaiseError();
    return static_cast<uint32_t>(value);
}

long double TParReader::GetFloat() {
    long double value;
    if (!TryStrToFloat(FValue, value))
        RaiseError();
    return value;
}

void TParReader::RaiseError() {
    if (FKey.empty())
        throw EInvalidParFile(
            "Invalid parameter set. The first error \r\nwas encountered at position (%d:%d).", Line() + 1,
            Column() + 1);
    throw EInvalidParFile(
        "Invalid parameter set. The first error \r\nwas encountered at position (%d:%d), key \"%s\".",
        Line() + 1, Column() + 1, FKey);
}

// ---------------------------------------------------------------------------------------------
// TParWriter

void TParWriter::WriteRawLine(const std::string &Text) {
    TStream::WriteString(Text);
    TStream::WriteString("\r\n");
}

void TParWriter::WriteLine(const std::string &Text) {
    std::size_t last = Text.find_last_not_of(" \t");
    if (last != std::string::npos && Text[last] == '\\')
        WriteRawLine(Text + " ;");
    else
        WriteRawLine(Text);
}

void TParWriter::FlushLine() {
    if (FLine.size() > 2)
        WriteLine(FLine);
    FLine = "  ";
}

void TParWriter::WriteSection(const std::string &Name) {
    FlushLine();
    WriteLine(Name + ":");
}

void TParWriter::WriteComment(const std::string &Text) {
    FlushLine();
    WriteLine("; " + Text);
}

void TParWriter::AddItem(const std::string &Item) {
    if (FFinished)
        return;
    if (FLine.empty())
        FLine = "  ";
    // An item that ends in a backslash needs room for the " ;" that WriteLine adds behind it.
    std::size_t lastChar = Item.find_last_not_of(" \t");
    const std::size_t reserve = lastChar != std::string::npos && Item[lastChar] == '\\' ? 2 : 0;
    const std::size_t width = LineWidth;
    if (FLine.size() > 2 && FLine.size() + Item.size() + reserve >= width) {
        WriteLine(FLine);
        FLine = "  ";
    } else if (FLine.back() != ' ') {
        FLine += ' ';
    }
    const std::size_t length = Item.size();
    std::size_t i = 0;
    while (i < length) {
        std::size_t room = width > FLine.size() ? width - FLine.size() : 0;
        std::size_t j = i + room; // the first character that does not fit
        if (j >= length + reserve) {
            FLine.append(Item, i, std::string::npos);
            return;
        }
        if (j >= length)
            j = length - 1; // the rest fits, but not with the " ;" behind its backslash
        // The continued line must not start with a blank, which the reader would drop: break
        // before the last non-blank character in front of a run of blanks, or after the run.
        while (j > i && IsBlankOrTab(Item[j]))
            --j;
        if (j == i) {
            j = i + 1;
            while (j < length && IsBlankOrTab(Item[j]))
                ++j;
        }
        FLine.append(Item, i, j - i);
        i = j;
        if (i < length) {
            WriteRawLine(FLine + "\\");
            FLine = "  ";
        }
    }
}

void TParWriter::WriteBoolean(const std::string &Key, bool B) {
    AddItem(Key + "=" + (B ? "yes" : "no"));
}

void TParWriter::WriteInteger(const std::string &Key, int32_t I) {
    AddItem(Key + "=" + IntToStr(I));
}

void TParWriter::WriteCardinal(const std::string &Key, uint32_t C) {
    AddItem(Key + "=" + IntToStr(C));
}

void TParWriter::WriteFloat(const std::string &Key, long double X) {
    AddItem(Key + "=" + FloatToStr(X));
}

void TParWriter::WriteString(const std::string &Key, const std::string &S) {
    AddItem(Key + "=" + S);
}

void TParWriter::WriteQuoted(const std::string &Key, const std::string &S) {
    // What the text cannot hold is left out, so that what is written reads back as written: a
    // quote would end the value, a brace would end the entry (or start another) for the entry
    // scanner, a NUL would end the text; a line break (CR, LF or both) reads back as one blank,
    // and is written as one.
    std::string text;
    text.reserve(S.size() + 2);
    text += '"';
    for (std::size_t i = 0; i < S.size(); ++i) {
        const char c = S[i];
        if (c == '"' || c == '{' || c == '}' || c == '\0')
            continue;
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < S.size() && S[i + 1] == '\n')
                ++i;
            text += ' ';
            continue;
        }
        text += c;
    }
    text += '"';
    AddItem(Key + "=" + text);
}

void TParWriter::Finish() {
    if (FFinished)
        return;
    if (FLine.size() > 2)
        WriteLine(FLine);
    FLine = "  ";
    FFinished = true;
}

std::string TParWriter::GetText() {
    return std::string(static_cast<const char *>(Memory()), static_cast<std::size_t>(Size()));
}

void TParWriter::WriteEntryToStream(TStream &Dest, const std::string &EntryName) {
    if (!FFinished)
        return;
    TEntryWriter writer;
    writer.AppendEntry(*this, EntryName, std::string(), false);
    writer.SaveToStream(Dest);
}

void TParWriter::GetEntryText(const std::string &EntryName, bool Compress, std::string &Text) {
    if (!FFinished)
        return;
    TEntryWriter writer;
    writer.AppendEntry(*this, EntryName, std::string(), Compress);
    Text = writer.GetText();
}

// ---------------------------------------------------------------------------------------------
// TPersistentObject

void TPersistentObject::CopyFrom(TPersistentObject &Source) {
    TParWriter writer;
    Source.SaveToWriter(writer);
    writer.Finish();
    std::string text = writer.GetText();
    TParReader reader(text.data(), text.size());
    LoadFromReader(reader);
}
