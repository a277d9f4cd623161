#include "CompEntries.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "CompPacked.h"
#include "CompPersistent.h"
#include "GenUtils.h"

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';
constexpr int ScanBlockSize = 4096;

bool IsBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}

// A line ends with CR LF, a lone CR or a lone LF (files saved by other editors use LF only).
bool IsLineBreak(char c) {
    return c == CR || c == LF;
}

// Blanks around an entry header. A LF is counted as one too, so that a header given with a line
// feed before the name still yields the bare name.
bool IsHeaderBlank(char c) {
    return c == ' ' || c == '\t' || c == LF;
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameCharIgnoringCase(char a, char b) {
    return AsciiUpper(a) == AsciiUpper(b);
}

// Whether Key matches Text at Pos, ignoring ASCII letter case (Pos + Key.size() <= Text.size()).
bool MatchesAt(const std::string &Text, std::size_t Pos, const std::string &Key) {
    for (std::size_t k = 0; k < Key.size(); ++k)
        if (!SameCharIgnoringCase(Text[Pos + k], Key[k]))
            return false;
    return true;
}

// Position of Key in Text from Start, ignoring case; npos when absent.
std::size_t FindIgnoringCase(const std::string &Text, const std::string &Key, std::size_t Start) {
    if (Key.empty() || Text.size() < Key.size())
        return std::string::npos;
    for (std::size_t i = Start; i + Key.size() <= Text.size(); ++i)
        if (MatchesAt(Text, i, Key))
            return i;
    return std::string::npos;
}

// Lines of a body: split at CR LF, CR or LF.
void SplitBodyLines(const std::string &Text, TStrings &Lines) {
    Lines.Clear();
    std::size_t start = 0;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (!IsLineBreak(Text[i]))
            continue;
        Lines.Add(Text.substr(start, i - start));
        if (Text[i] == CR && i + 1 < Text.size() && Text[i + 1] == LF)
            ++i;
        start = i + 1;
    }
    if (start < Text.size())
        Lines.Add(Text.substr(start));
}

std::string JoinBodyLines(const TStrings &Lines) {
    std::string text;
    for (int i = 0; i < Lines.Count(); ++i) {
        text += Lines.Strings(i);
        text += "\r\n";
    }
    return text;
}

std::string ReadWholeStream(TStream &Source) {
    Source.Seek(0, soFromBeginning);
    std::string text;
    char block[ScanBlockSize];
    for (;;) {
        int32_t count = Source.Read(block, sizeof(block));
        if (count <= 0)
            break;
        text.append(block, static_cast<std::size_t>(count));
    }
    return text;
}

const std::vector<std::string> TitleSections = {"FRACTAL", "GRADIENT", "ALPHA", "OPACITY", "DEFAULT"};
const std::vector<std::string> FractalSection = {"FRACTAL"};
const std::vector<std::string> FormulaSections = {"TRANSFORM", "FORMULA", "INSIDE", "OUTSIDE"};

} // namespace

// Gives a stream of a collection back when the scope ends, also on failure.
class TEntryStreamUse {
public:
    TEntryStreamUse(TEntryCollection &Collection, int Mode)
        : FCollection(Collection), FStream(Collection.GetStream(Mode)) {}
    ~TEntryStreamUse() {
        if (!FStream)
            return;
        try {
            FCollection.ReleaseStream(FStream);
        } catch (...) {
            // Already failing; the first failure is the one to report.
        }
    }
    TEntryStreamUse(const TEntryStreamUse &) = delete;
    TEntryStreamUse &operator=(const TEntryStreamUse &) = delete;
    TStream &operator*() const { return *FStream; }
    TStream *operator->() const { return FStream; }
    void Release() {
        TStream *stream = FStream;
        FStream = nullptr;
        FCollection.ReleaseStream(stream);
    }

private:
    TEntryCollection &FCollection;
    TStream *FStream;
};

// ---------------------------------------------------------------------------------------------
// Names and headers

std::string TitleToName(const std::string &Title) {
    std::string name;
    bool dropped = false;
    for (char c : Title) {
        if (std::strchr("\t ():;{}", c) && c != 0) {
            dropped = true;
            continue;
        }
        name += dropped ? AsciiUpper(c) : c;
        dropped = false;
    }
    return name.empty() ? std::string("Default") : name;
}

std::string NameToTitle(const std::string &Name) {
    std::string title = Name;
    std::replace(title.begin(), title.end(), '_', ' ');
    return title;
}

bool ParseEntryHeaderPos(const char *Text, std::size_t Length, std::string &Name, std::string &Title,
                         std::size_t &NamePos) {
    if (Length == 0)
        return false;
    std::size_t end = Length - 1; // the '{' is not part of the header
    while (end > 0 && IsHeaderBlank(Text[end - 1]))
        --end;
    std::string title;
    if (end > 0 && Text[end - 1] == ')') {
        std::size_t close = end - 1;
        std::size_t open = close;
        bool found = false;
        while (open > 0) {
            --open;
            if (Text[open] == '(') {
                found = true;
                break;
            }
        }
        if (!found || open == 0)
            return false;
        std::size_t first = open + 1;
        std::size_t last = close;
        while (first < last && IsHeaderBlank(Text[first]))
            ++first;
        while (last > first && IsHeaderBlank(Text[last - 1]))
            --last;
        title.assign(Text + first, last - first);
        end = open;
        while (end > 0 && IsHeaderBlank(Text[end - 1]))
            --end;
        if (end == 0)
            return false;
    }
    std::size_t start = end;
    while (start > 0 && !IsHeaderBlank(Text[start - 1]) && Text[start - 1] != '}')
        --start;
    if (start == end)
        return false;
    Name.assign(Text + start, end - start);
    Title = title;
    NamePos = start + 1;
    return true;
}

bool ParseEntryHeader(const char *Text, std::size_t Length, std::string &Name, std::string &Title) {
    std::size_t namePos;
    return ParseEntryHeaderPos(Text, Length, Name, Title, namePos);
}

// ---------------------------------------------------------------------------------------------
// SetEntryTitle

namespace {

// The part of a line that is examined: the text before a ';'.
std::string CodePart(const std::string &Line) {
    return Line.substr(0, Line.find(';'));
}

// Position just after "title", blanks, '=', blanks and '"' in Code, from Start; npos if absent.
// TitlePos receives the position of "title".
std::size_t FindTitleValue(const std::string &Code, std::size_t Start, std::size_t &TitlePos) {
    for (std::size_t at = FindIgnoringCase(Code, "TITLE", Start); at != std::string::npos;
         at = FindIgnoringCase(Code, "TITLE", at + 1)) {
        std::size_t p = at + 5;
        while (p < Code.size() && IsBlankOrTab(Code[p]))
            ++p;
        if (p >= Code.size() || Code[p] != '=')
            continue;
        ++p;
        while (p < Code.size() && IsBlankOrTab(Code[p]))
            ++p;
        if (p >= Code.size() || Code[p] != '"')
            continue;
        TitlePos = at;
        return p + 1;
    }
    return std::string::npos;
}

void InsertTitleLine(TStrings &Lines, int SectionLine, std::size_t HeaderEnd, const std::string &Title) {
    std::string line = Lines.Strings(SectionLine);
    std::string header = Trim(line.substr(0, HeaderEnd));
    std::string rest = Trim(line.substr(HeaderEnd));
    Lines.SetStrings(SectionLine, header);
    Lines.Insert(SectionLine + 1, "  title=\"" + Title + "\"");
    if (!rest.empty())
        Lines.Insert(SectionLine + 2, rest);
}

} // namespace

void SetEntryTitle(TStrings &Lines, const std::string &Title) {
    // A title holds no double quote or line break: either would end the quoted value early and
    // turn the rest of the title into items of its own.
    std::string title;
    for (char c : Title)
        if (c != '"' && c != CR && c != LF)
            title += c;

    int sectionLine = -1;
    std::size_t headerEnd = 0;
    for (int i = 0; i < Lines.Count() && sectionLine < 0; ++i) {
        std::string code = CodePart(Lines.Strings(i));
        for (const std::string &section : TitleSections) {
            std::size_t at = FindIgnoringCase(code, section + ":", 0);
            if (at != std::string::npos) {
                sectionLine = i;
                headerEnd = at + section.size() + 1;
                break;
            }
        }
    }
    if (sectionLine < 0) {
        Lines.Add("default:");
        Lines.Add("  title=\"" + title + "\"");
        return;
    }
    for (int i = sectionLine; i < Lines.Count(); ++i) {
        std::string code = CodePart(Lines.Strings(i));
        std::size_t from = i == sectionLine ? headerEnd : 0;
        std::size_t titlePos = std::string::npos;
        std::size_t valueStart = FindTitleValue(code, from, titlePos);
        std::size_t colon = code.find(':', from);
        if (valueStart != std::string::npos && (colon == std::string::npos || titlePos < colon)) {
            // Replace the old value, following its continuation lines up to the closing quote.
            std::string line = Lines.Strings(i);
            std::string head = line.substr(0, valueStart);
            std::string tail;
            int last = i;
            std::size_t searchFrom = valueStart;
            for (;;) {
                const std::string current = Lines.Strings(last);
                std::size_t quote = current.find('"', searchFrom);
                if (quote != std::string::npos) {
                    tail = current.substr(quote + 1);
                    break;
                }
                std::size_t lastChar = current.find_last_not_of(" \t");
                bool continued =
                    lastChar != std::string::npos && lastChar >= searchFrom && current[lastChar] == '\\';
                if (!continued || last + 1 >= Lines.Count())
                    break;
                ++last;
                searchFrom = 0;
            }
            for (int k = last; k > i; --k)
                Lines.Delete(k);
            Lines.SetStrings(i, head + title + "\"" + tail);
            return;
        }
        if (i != sectionLine && colon != std::string::npos) {
            InsertTitleLine(Lines, sectionLine, headerEnd, title);
            return;
        }
    }
    InsertTitleLine(Lines, sectionLine, headerEnd, title);
}

// ---------------------------------------------------------------------------------------------
// TEntryData

TEntryData::TEntryData(TEntryCollection &ACollection, int AIndex, std::string AName, std::string ATitle,
                       int64_t ANamePos, int64_t ABodyStart, int64_t AStoredSize, int AStartLine,
                       int AStartColumn)
    : FCollection(ACollection), FBodyStart(ABodyStart), FStoredSize(AStoredSize), FName(std::move(AName)),
      FNamePos(ANamePos), FIndex(AIndex), FTitle(std::move(ATitle)), FStartLine(AStartLine),
      FStartColumn(AStartColumn) {}

const std::string &TEntryData::GetText() {
    if (!FTextLoaded)
        FCollection.LoadEntryText(FIndex);
    return FText;
}

const std::string &TEntryData::GetComments() {
    if (FCommentsRead)
        return FComments;
    const std::string &text = GetText();
    std::string comments;
    std::size_t i = 0;
    const std::size_t n = text.size();
    for (;;) {
        while (i < n && IsBlankOrTab(text[i]))
            ++i;
        if (i >= n)
            break;
        if (IsLineBreak(text[i])) {
            ++i;
            if (text[i - 1] == CR && i < n && text[i] == LF)
                ++i;
            continue;
        }
        if (text[i] != ';')
            break;
        ++i;
        while (i < n && IsBlankOrTab(text[i]))
            ++i;
        std::size_t start = i;
        while (i < n && !IsLineBreak(text[i]))
            ++i;
        if (!comments.empty())
            comments += "\r\n";
        comments.append(text, start, i - start);
    }
    FComments = comments;
    FCommentsRead = true;
    return FComments;
}

bool TEntryData::FindKey(const std::string &Key, const std::vector<std::string> &Sections, std::string &Value,
                         TStrings *Results) {
    Value.clear();
    if (Results)
        Results->Clear();
    if (Key.empty())
        return false;
    const std::string &text = GetText();
    const std::size_t n = text.size();
    bool found = false;
    std::size_t pos = 0;
    bool comment = false;
    for (;;) {
        // The next ':' outside a comment.
        for (; pos < n; ++pos) {
            char c = text[pos];
            if (IsLineBreak(c))
                comment = false;
            else if (c == ';')
                comment = true;
            else if (c == ':' && !comment)
                break;
        }
        if (pos >= n)
            return found;
        std::size_t nameStart = pos;
        while (nameStart > 0 && IsAsciiLetter(text[nameStart - 1]))
            --nameStart;
        std::string section = text.substr(nameStart, pos - nameStart);
        bool wanted = false;
        for (const std::string &name : Sections)
            if (SameText(name, section))
                wanted = true;
        ++pos;
        if (!wanted)
            continue;
        // Within the section.
        comment = false;
        for (; pos < n; ++pos) {
            char c = text[pos];
            if (IsLineBreak(c)) {
                comment = false;
                continue;
            }
            if (c == ';') {
                comment = true;
                continue;
            }
            if (c == ':' && !comment)
                break; // the section ends; this ':' is looked at again
            if (!SameCharIgnoringCase(c, Key[0]))
                continue;
            if (pos + Key.size() > n)
                return found;
            if (!MatchesAt(text, pos, Key))
                continue;
            std::size_t p = pos + Key.size();
            while (p < n && IsBlankOrTab(text[p]))
                ++p;
            if (p >= n || text[p] != '=')
                continue;
            ++p;
            while (p < n && IsBlankOrTab(text[p]))
                ++p;
            if (p >= n || text[p] != '"')
                continue;
            ++p;
            // The value, following lines continued with a backslash.
            std::string value;
            for (;;) {
                // Up to the closing quote or the end of the line, whichever comes first: the
                // search never reads past the value, so keys close together on one long line
                // cost no more than the line, and a continued line is read once.
                std::size_t lineEnd = p;
                while (lineEnd < n && text[lineEnd] != '"' && !IsLineBreak(text[lineEnd]))
                    ++lineEnd;
                if (lineEnd < n && text[lineEnd] == '"') {
                    value.append(text, p, lineEnd - p);
                    break;
                }
                std::size_t last = lineEnd;
                while (last > p && IsBlankOrTab(text[last - 1]))
                    --last;
                if (last > p && text[last - 1] == '\\' && lineEnd < n) {
                    value.append(text, p, last - 1 - p);
                    p = lineEnd + 1;
                    if (text[lineEnd] == CR && p < n && text[p] == LF)
                        ++p;
                    while (p < n && IsBlankOrTab(text[p]))
                        ++p;
                    continue;
                }
                value.append(text, p, lineEnd - p);
                break;
            }
            if (value.empty())
                value = FName;
            found = true;
            if (!Results) {
                Value = value;
                return true;
            }
            Results->Add(value);
            if (Value.empty())
                Value = value;
            pos += Key.size() - 1;
        }
    }
}

const std::string &TEntryData::GetTitle() {
    if (!FTitleCached) {
        std::string title;
        FindKey("TITLE", TitleSections, title);
        FTitleCache = title.empty() ? FName : title;
        FTitleCached = true;
    }
    return FTitleCache;
}

const std::string &TEntryData::GetAuthor() {
    if (!FAuthorRead) {
        std::string author;
        FindKey("AUTHOR", FractalSection, author);
        if (author.empty()) {
            std::string credits;
            FindKey("CREDITS", FractalSection, credits);
            std::size_t semicolon = credits.find(';');
            if (semicolon != std::string::npos)
                author = credits.substr(0, semicolon);
        }
        FAuthor = author;
        FAuthorRead = true;
    }
    return FAuthor;
}

TDateTime TEntryData::GetDate() {
    if (FDate > 0)
        return FDate;
    TDateTime date = 0;
    try {
        std::string credits;
        FindKey("CREDITS", FractalSection, credits);
        if (!credits.empty()) {
            std::size_t first = credits.find(';');
            if (first != std::string::npos) {
                std::size_t second = credits.find(';', first + 1);
                std::string text = credits.substr(
                    first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
                date = ShortTextToDate(Trim(text));
            }
        } else {
            std::string created;
            FindKey("CREATED", FractalSection, created);
            if (!created.empty())
                date = LongTextToDate(created);
        }
    } catch (const Exception &) {
        date = 0;
    }
    FDate = date;
    return date;
}

bool TEntryData::References(const std::string &Key, const std::string &Text) {
    TStringList values;
    std::string first;
    FindKey(Key, FormulaSections, first, &values);
    std::string wanted = LowerCase(Text);
    for (int i = 0; i < values.Count(); ++i)
        if (LowerCase(values.Strings(i)).find(wanted) != std::string::npos)
            return true;
    return false;
}

bool TEntryData::ReferencesEntry(const std::string &Text) {
    return References("ENTRY", Text);
}

bool TEntryData::ReferencesFile(const std::string &Text) {
    return References("FILENAME", Text);
}

// ---------------------------------------------------------------------------------------------
// TEntryCollection

TEntryCollection::TEntryCollection() = default;

TEntryCollection::~TEntryCollection() = default;

void TEntryCollection::Lock() {
    FLock.Enter();
    ++FLockDepth;
}

void TEntryCollection::Unlock() {
    bool report = false;
    if (--FLockDepth == 0 && FChangePending) {
        FChangePending = false;
        report = true;
    }
    FLock.Leave();
    if (report)
        ChangedAfterUnlock();
}

TEntryData *TEntryCollection::GetEntry(int I) {
    CheckIndex(I);
    return FEntries.Items(I);
}

void TEntryCollection::CheckIndex(int I) const {
    if (I < 0 || I >= GetCount())
        throw EEntryError("List index out of bounds (%d)", I);
}

int TEntryCollection::IndexOfName(const std::string &Name) {
    TEntryCollectionLock lock(*this);
    for (int i = 0; i < GetCount(); ++i)
        if (SameText(FEntries.Items(i)->Name(), Name))
            return i;
    return -1;
}

int TEntryCollection::IndexOfTitle(const std::string &Title) {
    TEntryCollectionLock lock(*this);
    for (int i = 0; i < GetCount(); ++i)
        if (SameText(FEntries.Items(i)->GetTitle(), Title))
            return i;
    return -1;
}

void TEntryCollection::LoadEntryText(int I) {
    TEntryCollectionLock lock(*this);
    CheckIndex(I);
    TEntryData *entry = FEntries.Items(I);
    if (entry->FTextLoaded)
        return;
    if (entry->FStoredSize < 0 || entry->FStoredSize > INT32_MAX)
        throw EEntryError("List index out of bounds (%d)", I);
    std::string text(static_cast<std::size_t>(entry->FStoredSize), '\0');
    TEntryStreamUse stream(*this, smRead);
    stream->Seek(entry->FBodyStart, soFromBeginning);
    if (!text.empty())
        stream->ReadBuffer(&text[0], static_cast<int32_t>(text.size()));
    stream.Release();
    // Whether the body was unpacked, not whether it grew: a short body is longer packed.
    entry->FCompressed = TEntryDecompressor::Decompress(text);
    entry->FText = std::move(text);
    entry->FTextLoaded = true;
}

void TEntryCollection::LoadEntryIntoStream(TEntryStream &Stream, int I) {
    TEntryCollectionLock lock(*this);
    Scan(false);
    CheckIndex(I);
    TEntryData *entry = FEntries.Items(I);
    const std::string &text = entry->GetText();
    Stream.Load(entry->Name(), entry->Title(), entry->StartLine(), entry->StartColumn(), text.size(),
                text.data());
}

void TEntryCollection::Scan(bool KeepTexts) {
    TEntryCollectionLock lock(*this);
    // The source is always asked, so that it remembers the state this scan sees.
    bool changed = SourceChanged();
    if (FScanned && !changed && (FKeepTexts || !KeepTexts))
        return;
    FEntries.Clear();
    FScanned = false;
    FKeepTexts = KeepTexts;
    TEntryStreamUse stream(*this, smRead);
    try {
        DoScan(*stream);
    } catch (...) {
        // A refused source leaves no half index behind.
        FEntries.Clear();
        throw;
    }
    stream.Release();
    FScanned = true;
}

namespace {

// What the header rule needs of the current line, kept up to date character by character, so
// that a '{' is judged without looking back over the line: a line of many braces costs no more
// than its length.
struct TLineHeaderState {
    long LastNonBlank = -1;     // index of the last character that is not a blank or tab
    long WordStart = 0;         // start of the run of characters without blank, tab or '}'
    long NonBlankWordStart = 0; // WordStart as it was at LastNonBlank
    long Paren = -1;            // index of the last '('
    long ParenNonBlank = -1;    // LastNonBlank before that '('
    long ParenWordStart = 0;    // NonBlankWordStart before that '('

    void Reset() { *this = TLineHeaderState(); }

    void Add(char c, long Index) {
        if (IsHeaderBlank(c)) {
            WordStart = Index + 1;
            return;
        }
        if (c == '(') {
            Paren = Index;
            ParenNonBlank = LastNonBlank;
            ParenWordStart = NonBlankWordStart;
        }
        if (c == '}')
            WordStart = Index + 1; // a name never holds a '}'
        LastNonBlank = Index;
        NonBlankWordStart = WordStart;
    }
};

// A header found on a line: where its name and title lie.
struct THeaderPlace {
    std::size_t NameStart = 0, NameEnd = 0;
    bool HasTitle = false;
    std::size_t TitleStart = 0, TitleEnd = 0;
};

// The header rule (as ParseEntryHeaderPos) for the line Line before a '{', from its state.
bool FindHeader(const std::string &Line, const TLineHeaderState &State, THeaderPlace &Place) {
    if (State.LastNonBlank < 0)
        return false;
    long end = State.LastNonBlank + 1;
    long wordStart = State.NonBlankWordStart;
    Place.HasTitle = false;
    if (Line[static_cast<std::size_t>(end - 1)] == ')') {
        if (State.Paren <= 0 || State.ParenNonBlank < 0)
            return false;
        Place.HasTitle = true;
        Place.TitleStart = static_cast<std::size_t>(State.Paren + 1);
        Place.TitleEnd = static_cast<std::size_t>(end - 1);
        end = State.ParenNonBlank + 1;
        wordStart = State.ParenWordStart;
    }
    if (wordStart >= end)
        return false;
    Place.NameStart = static_cast<std::size_t>(wordStart);
    Place.NameEnd = static_cast<std::size_t>(end);
    return true;
}

void TakeHeader(const std::string &Line, const THeaderPlace &Place, std::string &Name, std::string &Title) {
    Name.assign(Line, Place.NameStart, Place.NameEnd - Place.NameStart);
    Title.clear();
    if (!Place.HasTitle)
        return;
    std::size_t first = Place.TitleStart, last = Place.TitleEnd;
    while (first < last && IsHeaderBlank(Line[first]))
        ++first;
    while (last > first && IsHeaderBlank(Line[last - 1]))
        --last;
    Title.assign(Line, first, last - first);
}

} // namespace

void TEntryCollection::DoScan(TStream &Stream) {
    const bool keep = FKeepTexts;
    std::vector<char> block(ScanBlockSize);
    int64_t pos = Stream.Position();

    // The current line up to the cursor. It grows as long as the line does, so a header is
    // always seen whole; a line longer than MaxEntryLineLength refuses the source.
    std::string line;
    TLineHeaderState lineState;
    int64_t lineStart = pos;
    int lineNumber = 0;
    bool comment = false;
    bool afterCR = false; // a LF here belongs to the CR's line end

    // The open entry. Its name and title are copied from the line only when needed (at its
    // closing brace or at the end of its header line): a line of many headers that never close
    // must not copy a growing name at each of them.
    bool open = false;
    bool headerOnLine = false; // name and title still lie in line at place
    THeaderPlace place;
    std::string name, title;
    int64_t namePos = 0, bodyStart = 0, braceEnd = 0;
    int startLine = 0, startColumn = 0;
    int bodyFixup = 0; // 1: the '{' was just seen; 2: '{' and CR were just seen
    std::string body;  // with keep: the bytes after the '{'

    auto takeHeader = [&]() {
        if (headerOnLine) {
            TakeHeader(line, place, name, title);
            headerOnLine = false;
        }
    };

    for (;;) {
        int32_t count = Stream.Read(block.data(), ScanBlockSize);
        if (count <= 0)
            break;
        for (int32_t k = 0; k < count; ++k, ++pos) {
            const char c = block[k];
            const int fixup = bodyFixup;
            bodyFixup = 0;
            if (fixup == 1 && IsLineBreak(c)) {
                // The '{' ends its line: the body starts on the next line.
                bodyStart = pos + 1;
                startLine = lineNumber + 1;
                startColumn = 0;
                bodyFixup = c == CR ? 2 : 0;
            } else if (fixup == 2 && c == LF) {
                bodyStart = pos + 1;
            }
            if (open && keep)
                body += c;
            if (c == LF && afterCR) {
                afterCR = false;
                lineStart = pos + 1;
                continue;
            }
            afterCR = false;
            if (IsLineBreak(c)) {
                if (open)
                    takeHeader();
                ++lineNumber;
                comment = false;
                line.clear();
                lineState.Reset();
                lineStart = pos + 1;
                afterCR = c == CR;
                continue;
            }
            if (line.size() >= MaxEntryLineLength)
                throw EEntryError("Line %d is longer than %d characters: not an entry file", lineNumber + 1,
                                  static_cast<int>(MaxEntryLineLength));
            line += c;
            if (!comment) {
                if (c == ';') {
                    comment = true;
                } else if (c == '{') {
                    THeaderPlace found;
                    if (FindHeader(line, lineState, found)) {
                        // An entry still open with its header on this line is dropped.
                        place = found;
                        open = true;
                        headerOnLine = true;
                        namePos = lineStart + static_cast<int64_t>(place.NameStart);
                        bodyStart = pos + 1;
                        braceEnd = pos + 1;
                        startLine = lineNumber;
                        startColumn = static_cast<int>(pos - lineStart) + 1;
                        bodyFixup = 1;
                        body.clear();
                    }
                } else if (c == '}' && open) {
                    open = false;
                    takeHeader();
                    int64_t storedSize = pos - bodyStart;
                    auto entry = std::make_unique<TEntryData>(*this, GetCount(), name, title, namePos,
                                                              bodyStart, storedSize, startLine, startColumn);
                    if (keep) {
                        std::string text = body.substr(static_cast<std::size_t>(bodyStart - braceEnd),
                                                       static_cast<std::size_t>(storedSize));
                        entry->FCompressed = TEntryDecompressor::Decompress(text);
                        entry->FText = std::move(text);
                        entry->FTextLoaded = true;
                    }
                    body.clear();
                    FEntries.Add(std::move(entry));
                }
            }
            lineState.Add(c, static_cast<long>(line.size()) - 1);
        }
    }
}

std::string TEntryCollection::ReadSource(int Mode, int64_t &Start) {
    TEntryStreamUse stream(*this, Mode);
    Start = stream->Position();
    const int64_t size = stream->Size() - Start;
    if (size < 0 || size > INT32_MAX)
        throw EEntryError("Entry source too large (%lld bytes)", static_cast<long long>(stream->Size()));
    std::string text(static_cast<std::size_t>(size), '\0');
    if (!text.empty())
        stream->ReadBuffer(&text[0], static_cast<int32_t>(text.size()));
    stream.Release();
    return text;
}

void TEntryCollection::StoreEdited(const std::string &Old, const std::string &Content) {
    if (Content.size() > INT32_MAX)
        throw EEntryError("Entry source too large (%lld bytes)", static_cast<long long>(Content.size()));
    std::size_t unchanged = 0;
    const std::size_t common = std::min(Old.size(), Content.size());
    while (unchanged < common && Old[unchanged] == Content[unchanged])
        ++unchanged;
    if (unchanged == Old.size() && unchanged == Content.size())
        return;
    StoreSource(Content, unchanged);
}

void TEntryCollection::StoreSource(const std::string &Content, std::size_t Unchanged) {
    TEntryStreamUse stream(*this, smRewrite);
    const int64_t start = stream->Position();
    const int64_t from = start + static_cast<int64_t>(Unchanged);
    const int64_t oldSize = stream->Size();
    std::string oldTail(static_cast<std::size_t>(std::max<int64_t>(oldSize - from, 0)), '\0');
    stream->Seek(from, soFromBeginning);
    if (!oldTail.empty())
        stream->ReadBuffer(&oldTail[0], static_cast<int32_t>(oldTail.size()));
    try {
        stream->Seek(from, soFromBeginning);
        stream->WriteBuffer(Content.data() + Unchanged, static_cast<int32_t>(Content.size() - Unchanged));
        stream->SetSize(start + static_cast<int64_t>(Content.size()));
    } catch (...) {
        // Put the old bytes back: they fit where they stood before, so this normally succeeds
        // even when the stream cannot grow any more.
        try {
            stream->Seek(from, soFromBeginning);
            stream->WriteBuffer(oldTail.data(), static_cast<int32_t>(oldTail.size()));
            stream->SetSize(oldSize);
        } catch (...) {
        }
        throw;
    }
    stream.Release();
}

namespace {

// Appends an entry to the text of a source: trailing white space goes, and what remains is
// followed by exactly one empty line.
void AppendEntryText(std::string &Content, const std::string &Name, const std::string &Title,
                     const std::string &Body) {
    std::size_t end = Content.size();
    while (end > 0 && (Content[end - 1] == '\t' || Content[end - 1] == LF || Content[end - 1] == CR ||
                       Content[end - 1] == ' '))
        --end;
    Content.resize(end);
    if (end > 0)
        Content += "\r\n\r\n";
    if (Title.empty())
        Content += Name + " {\r\n";
    else
        Content += Name + " (" + Title + ") {\r\n";
    Content += Body;
    bool endsWithLineBreak = !Body.empty() && IsLineBreak(Body.back());
    Content += endsWithLineBreak ? "}\r\n" : "\r\n}\r\n";
}

} // namespace

void TEntryCollection::AppendEntry(TStream &Source, const std::string &Name, const std::string &Title,
                                   bool Compress) {
    AppendEntry(ReadWholeStream(Source), Name, Title, Compress);
}

void TEntryCollection::AppendEntry(const std::string &Text, const std::string &Name, const std::string &Title,
                                   bool Compress) {
    TEntryCollectionLock lock(*this);
    std::string body = Text;
    if (Compress)
        TEntryCompressor::Compress(body);
    int64_t start;
    const std::string old = ReadSource(smAppend, start);
    std::string content = old;
    AppendEntryText(content, Name, Title, body);
    StoreEdited(old, content);
    FScanned = false;
    Scan(FKeepTexts);
}

void TEntryCollection::DeleteEntry(int I) {
    TEntryCollectionLock lock(*this);
    Scan(false);
    CheckIndex(I);
    int64_t start;
    const std::string old = ReadSource(smRead, start);
    std::string content = old;
    EraseEntryText(content, start, I);
    StoreEdited(old, content);
    FScanned = false;
    Scan(FKeepTexts);
}

void TEntryCollection::EraseEntryText(std::string &Content, int64_t Start, int I) {
    // From the entry's name to the next entry's name, or to the end.
    const int64_t cut = FEntries.Items(I)->NamePos() - Start;
    const int64_t next =
        I == GetCount() - 1 ? static_cast<int64_t>(Content.size()) : FEntries.Items(I + 1)->NamePos() - Start;
    if (cut < 0 || next < cut || next > static_cast<int64_t>(Content.size()))
        throw EEntryError("List index out of bounds (%d)", I);
    Content.erase(static_cast<std::size_t>(cut), static_cast<std::size_t>(next - cut));
}

void TEntryCollection::CopyEntry(TEntryData &Entry, int CompressMode) {
    CopyEntryAs(Entry, Entry.Name(), CompressMode);
}

void TEntryCollection::CopyEntryAs(TEntryData &Entry, const std::string &NewName, int CompressMode) {
    // Everything needed is taken from Entry first: it may belong to this collection, and the
    // rescan after appending replaces it.
    std::string text = Entry.GetText();
    bool compress = CompressMode == cmCompressed || (CompressMode == cmAsSource && Entry.Compressed());
    std::string title = Entry.Title();
    TEntryCollectionLock lock(*this);
    AppendEntry(text, MakeUniqueName(NewName), title, compress);
}

std::string TEntryCollection::MakeUniqueName(const std::string &Name) {
    TEntryCollectionLock lock(*this);
    // The names in one set, so that each try costs no look-up over the whole list.
    std::unordered_set<std::string> names;
    names.reserve(static_cast<std::size_t>(GetCount()));
    for (int i = 0; i < GetCount(); ++i)
        names.insert(UpperCase(FEntries.Items(i)->Name()));
    const std::string upper = UpperCase(Name);
    if (!names.count(upper))
        return Name;
    for (int n = 1;; ++n) {
        std::string suffix = IntToStr(n);
        if (!names.count(upper + suffix))
            return Name + suffix;
    }
}

void TEntryCollection::ChangeTitle(int I, const std::string &NewTitle) {
    if (RefusesTitleChange())
        return;
    TEntryCollectionLock lock(*this);
    Scan(false);
    CheckIndex(I);
    TEntryData *entry = FEntries.Items(I);
    std::string text = entry->GetText();
    std::string name = entry->Name();
    std::string headerTitle = entry->Title();

    TStringList lines;
    SplitBodyLines(text, lines);
    SetEntryTitle(lines, NewTitle);
    // One write: the entry leaves its place and comes back at the end, retitled and plain.
    int64_t start;
    const std::string old = ReadSource(smRead, start);
    std::string content = old;
    EraseEntryText(content, start, I);
    AppendEntryText(content, name, headerTitle, JoinBodyLines(lines));
    StoreEdited(old, content);
    FScanned = false;
    Scan(FKeepTexts);
}

void TEntryCollection::Compress(std::string &Buffer) {
    TEntryCompressor::Compress(Buffer);
}

void TEntryCollection::Decompress(std::string &Buffer) {
    TEntryDecompressor::Decompress(Buffer);
}

// ---------------------------------------------------------------------------------------------
// TEntryReader and TEntryWriter

TEntryReader::TEntryReader(TStream &AStream, bool KeepTexts)
    : FStream(&AStream), FStartPosition(AStream.Position()) {
    Scan(KeepTexts);
}

TEntryReader::TEntryReader(std::unique_ptr<TStream> AStream, bool KeepTexts)
    : FOwnedStream(std::move(AStream)), FStream(FOwnedStream.get()), FStartPosition(FStream->Position()) {
    Scan(KeepTexts);
}

std::unique_ptr<TEntryReader> TEntryReader::CreateFromFile(const std::string &FileName, bool KeepTexts) {
    auto stream = std::make_unique<TMemoryStream>();
    if (FileExists(FileName))
        stream->LoadFromFile(FileName);
    return std::make_unique<TEntryReader>(std::move(stream), KeepTexts);
}

std::unique_ptr<TEntryReader> TEntryReader::CreateFromString(const std::string &Text, bool KeepTexts) {
    return std::make_unique<TEntryReader>(std::make_unique<TStringStream>(Text), KeepTexts);
}

TStream *TEntryReader::GetStream(int Mode) {
    FStream->Seek(FStartPosition, soFromBeginning);
    return FStream;
}

TEntryWriter::TEntryWriter() : FStream(std::make_unique<TMemoryStream>()) {
    Scan(false);
}

std::string TEntryWriter::GetText() const {
    return std::string(static_cast<const char *>(FStream->Memory()),
                       static_cast<std::size_t>(FStream->Size()));
}

void TEntryWriter::SaveToStream(TStream &Dest) const {
    FStream->SaveToStream(Dest);
}

TStream *TEntryWriter::GetStream(int Mode) {
    FStream->Seek(0, soFromBeginning);
    return FStream.get();
}
