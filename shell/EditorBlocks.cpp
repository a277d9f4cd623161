#include "EditorBlocks.h"

#include "EditorText.h"

namespace {
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Index of the ';' that starts a comment line (after its tabs and blanks), or npos.
std::size_t CommentMark(const std::string &Line) {
    const std::size_t n = Line.find_first_not_of(" \t");
    return n != std::string::npos && Line[n] == ';' ? n : std::string::npos;
}
} // namespace

std::vector<std::string> ApplyBlockCommand(TBlockCommand Command, const std::vector<std::string> &Lines,
                                           bool TabCharacters) {
    std::vector<std::string> out;
    out.reserve(Lines.size());
    // The block "has separators" when every comment line has a blank or tab after its ';'; only
    // then uncommenting also removes that one character.
    bool separators = true;
    if (Command == TBlockCommand::Uncomment)
        for (const std::string &line : Lines) {
            const std::size_t mark = CommentMark(line);
            if (mark != std::string::npos && !(mark + 1 < line.size() && IsBlank(line[mark + 1])))
                separators = false;
        }
    for (const std::string &line : Lines) {
        switch (Command) {
        case TBlockCommand::Indent:
            out.push_back((TabCharacters ? "\t" : " ") + line);
            break;
        case TBlockCommand::Outdent:
            out.push_back(!line.empty() && IsBlank(line[0]) ? line.substr(1) : line);
            break;
        case TBlockCommand::Comment:
            out.push_back(CommentMark(line) != std::string::npos ? line : "; " + line);
            break;
        case TBlockCommand::Uncomment: {
            const std::size_t mark = CommentMark(line);
            out.push_back(mark == std::string::npos ? line : line.substr(mark + (separators ? 2 : 1)));
            break;
        }
        }
    }
    return out;
}

bool RunBlockCommand(TEditorText &Text, TBlockCommand Command, bool TabCharacters) {
    int start = 0, length = 0;
    Text.GetSelection(start, length);
    if (length <= 0)
        return false;
    std::string text = Text.GetText();
    int first = 0, last = 0;
    std::vector<std::string> old;
    {
        const TEditorLines lines(text);
        first = lines.LineOf(start);
        last = lines.LineOf(start + length - 1);
        for (int l = first; l <= last; ++l)
            old.push_back(lines.Text(l));
    }
    const std::vector<std::string> changed = ApplyBlockCommand(Command, old, TabCharacters);
    // Each line is replaced on its own, so the control keeps the rest of the text (and its
    // formatting) untouched; offsets are taken afresh after each change.
    for (int l = first; l <= last; ++l) {
        const std::string &line = changed[static_cast<std::size_t>(l - first)];
        if (line == old[static_cast<std::size_t>(l - first)])
            continue;
        text = Text.GetText();
        const TEditorLines lines(text);
        Text.SetSelection(lines.Start(l), lines.Length(l));
        Text.ReplaceSelection(line);
    }
    text = Text.GetText();
    const TEditorLines lines(text);
    const int from = lines.Start(first);
    const int to = last + 1 < lines.Count() ? lines.Start(last + 1) : static_cast<int>(text.size());
    Text.SetSelection(from, to - from);
    return true;
}
