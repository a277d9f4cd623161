#include "EditorText.h"

#include <algorithm>
#include <cassert>

#include "SysUtils.h"

TEditorLines::TEditorLines(const std::string &Text) : FText(Text) {
    FStarts.push_back(0);
    for (std::size_t i = 0; i < Text.size(); ++i)
        if (Text[i] == '\r')
            FStarts.push_back(static_cast<int>(i + 1));
}

int TEditorLines::End(int Line) const {
    if (Line + 1 < Count())
        return Start(Line + 1) - 1;
    return static_cast<int>(FText.size());
}

int TEditorLines::LineOf(int Offset) const {
    auto it = std::upper_bound(FStarts.begin(), FStarts.end(), Offset);
    return static_cast<int>(it - FStarts.begin()) - 1;
}

std::string TEditorLines::Text(int Line) const {
    return FText.substr(static_cast<std::size_t>(Start(Line)), static_cast<std::size_t>(Length(Line)));
}

std::string NormalizeLineBreaks(const std::string &Text) {
    std::string out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c == '\n') {
            if (i == 0 || Text[i - 1] != '\r')
                out += '\r';
        } else {
            out += c;
        }
    }
    return out;
}

std::string ToCrLf(const std::string &Text) {
    const std::string plain = NormalizeLineBreaks(Text);
    std::string out;
    out.reserve(plain.size() + plain.size() / 16);
    for (char c : plain) {
        out += c;
        if (c == '\r')
            out += '\n';
    }
    return out;
}

std::string LineIndentation(const std::string &Line) {
    const std::size_t n = Line.find_first_not_of(" \t");
    return n == std::string::npos ? Line : Line.substr(0, n);
}

int CaretColumn(const std::string &Line, int Chars, int TabSize) {
    assert(TabSize >= 1);
    const int n = std::clamp(Chars, 0, static_cast<int>(Line.size()));
    int column = n;
    for (int i = 0; i < n; ++i)
        if (Line[static_cast<std::size_t>(i)] == '\t')
            column += TabSize - 1;
    return column;
}

int ColumnToChars(const std::string &Line, int Column, int TabSize) {
    assert(TabSize >= 1);
    // Walks the line while the column still reaches the character: each tab passed takes its
    // extra columns off, but never lands the caret before the tab itself.
    int c = Column;
    const int length = static_cast<int>(Line.size());
    for (int p = 1; p <= length && p <= c; ++p)
        if (Line[static_cast<std::size_t>(p - 1)] == '\t')
            c = std::max(p, c - (TabSize - 1));
    return std::clamp(c, 0, length);
}

void GetCaretPosition(const TEditorText &Text, int TabSize, int &Line, int &Column) {
    const std::string text = Text.GetText();
    const TEditorLines lines(text);
    int start = 0, length = 0;
    Text.GetSelection(start, length);
    start = std::clamp(start, 0, static_cast<int>(text.size()));
    Line = lines.LineOf(start);
    Column = CaretColumn(lines.Text(Line), start - lines.Start(Line), TabSize);
}

void GoToPosition(TEditorText &Text, int TabSize, int Line, int Column) {
    const std::string text = Text.GetText();
    const TEditorLines lines(text);
    const int line = std::clamp(Line, 0, lines.Count() - 1);
    Text.SetSelection(lines.Start(line) + ColumnToChars(lines.Text(line), Column, TabSize), 0);
}

TEditorStatusTexts MakeStatusTexts(int Line, int Column, bool Modified, bool InsertMode) {
    return {Format(" Row: %d", Line + 1), Format(" Column: %d", Column + 1),
            Modified ? " Modified" : " Saved", InsertMode ? " Insert" : " Overwrite"};
}

std::string AutoIndentBreak(const std::string &Line, int Chars) {
    const std::size_t n =
        std::min(LineIndentation(Line).size(), static_cast<std::size_t>(std::max(Chars, 0)));
    return "\r" + Line.substr(0, n);
}

std::string TopicWordAt(const std::string &Line, int Chars) {
    const int length = static_cast<int>(Line.size());
    if (Chars >= length)
        return "";
    int first = std::max(Chars, 0);
    while (first > 0) {
        const char c = Line[static_cast<std::size_t>(first - 1)];
        if (!(IsAsciiAlnum(c) || c == '#' || c == '$' || c == '_'))
            break;
        --first;
    }
    int last = std::max(Chars, 0);
    while (last < length && (IsAsciiAlnum(Line[static_cast<std::size_t>(last)]) ||
                             Line[static_cast<std::size_t>(last)] == '_'))
        ++last;
    return Line.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first));
}
