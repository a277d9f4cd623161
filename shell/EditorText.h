// The text of an editor window as the editing commands see it: one string whose lines are
// separated by a single CR (the rich edit control's own form), a selection given by character
// offsets into it, and a replace-selection operation through which every change goes, so that
// each change stays undoable in the control. The commands (snippets, blocks, search, new entries)
// are written against this interface and do not need a window.
#pragma once

#include <string>
#include <vector>

class TEditorText {
public:
    virtual ~TEditorText() = default;
    // The whole text, lines separated by CR.
    virtual std::string GetText() const = 0;
    virtual void GetSelection(int &Start, int &Length) const = 0;
    virtual void SetSelection(int Start, int Length) = 0;
    // Replaces the selection; the caret then stands after the inserted text.
    virtual void ReplaceSelection(const std::string &Text) = 0;
};

// Offsets of the line structure of a CR-separated text. Line numbers count from 0.
class TEditorLines {
public:
    explicit TEditorLines(const std::string &Text);
    int Count() const { return static_cast<int>(FStarts.size()); }
    int Start(int Line) const { return FStarts[static_cast<std::size_t>(Line)]; }
    // Offset of the line's end (its CR, or the end of the text).
    int End(int Line) const;
    int Length(int Line) const { return End(Line) - Start(Line); }
    // The line holding the offset (an offset on a CR belongs to the line the CR ends).
    int LineOf(int Offset) const;
    std::string Text(int Line) const;

private:
    const std::string &FText;
    std::vector<int> FStarts;
};

// The text with every CR LF pair and every lone LF made a single CR.
std::string NormalizeLineBreaks(const std::string &Text);
// The text with every line break written as CR LF, the form of the files on disk.
std::string ToCrLf(const std::string &Text);

// 'a'..'z', 'A'..'Z' and '0'..'9': the letters and digits of words, patterns and help keywords.
inline bool IsAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The leading tabs and blanks of a line.
std::string LineIndentation(const std::string &Line);

// The column of a caret that stands Chars characters into Line: each tab before it counts
// TabSize columns. Chars beyond the line's end count as the line's end.
int CaretColumn(const std::string &Line, int Chars, int TabSize);
// The character index in Line at which a caret reported as Column (tabs counted TabSize
// columns) stands; never beyond the line's end.
int ColumnToChars(const std::string &Line, int Column, int TabSize);

// Caret as (line, column) with tabs counted TabSize columns; and placing it there.
void GetCaretPosition(const TEditorText &Text, int TabSize, int &Line, int &Column);
void GoToPosition(TEditorText &Text, int TabSize, int Line, int Column);

// The status bar panels of a caret position and state: " Row: %d", " Column: %d", " Modified" or
// " Saved", " Insert" or " Overwrite".
struct TEditorStatusTexts {
    std::string Row, Column, Modified, Mode;
};
TEditorStatusTexts MakeStatusTexts(int Line, int Column, bool Modified, bool InsertMode);

// What Enter inserts with auto-indent on, for a caret Chars characters into Line: a line break
// followed by the line's leading tabs and blanks, at most as many as stand before the caret.
std::string AutoIndentBreak(const std::string &Line, int Chars);

// The word for the help index around a caret Chars characters into Line: backwards over letters,
// digits, '#', '$' and '_', forwards over letters, digits and '_'; empty at the line's very end.
std::string TopicWordAt(const std::string &Line, int Chars);
