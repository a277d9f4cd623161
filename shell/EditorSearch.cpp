#include "EditorSearch.h"

#include <algorithm>

#include "EditorText.h"

namespace {
bool IsWordChar(char c) {
    return IsAsciiAlnum(c) || c == '_';
}

char Fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
} // namespace

int FindInText(const std::string &Text, int From, const TEditorSearchOptions &Options) {
    const std::string &what = Options.What;
    if (what.empty())
        return -1;
    const std::size_t size = Text.size(), n = what.size();
    for (std::size_t i = static_cast<std::size_t>(std::max(From, 0)); i + n <= size; ++i) {
        bool equal = true;
        for (std::size_t k = 0; k < n && equal; ++k)
            equal = Options.MatchCase ? Text[i + k] == what[k] : Fold(Text[i + k]) == Fold(what[k]);
        if (!equal)
            continue;
        if (Options.WholeWord &&
            ((i > 0 && IsWordChar(Text[i - 1])) || (i + n < size && IsWordChar(Text[i + n]))))
            continue;
        return static_cast<int>(i);
    }
    return -1;
}

bool SearchFindNext(TEditorText &Text, const TEditorSearchOptions &Options) {
    int start = 0, length = 0;
    Text.GetSelection(start, length);
    const int hit = FindInText(Text.GetText(), start + length, Options);
    if (hit < 0)
        return false;
    Text.SetSelection(hit, static_cast<int>(Options.What.size()));
    return true;
}

bool SearchReplace(TEditorText &Text, const TEditorSearchOptions &Options) {
    int start = 0, length = 0;
    Text.GetSelection(start, length);
    const int hit = FindInText(Text.GetText(), start, Options);
    if (hit < 0)
        return false;
    Text.SetSelection(hit, static_cast<int>(Options.What.size()));
    Text.ReplaceSelection(Options.ReplaceBy);
    Text.SetSelection(hit + static_cast<int>(Options.ReplaceBy.size()), 0);
    return true;
}

int SearchReplaceAll(TEditorText &Text, const TEditorSearchOptions &Options) {
    int count = 0;
    while (SearchReplace(Text, Options))
        ++count;
    return count;
}

std::string CouldNotFindMessage(const std::string &What) {
    return "Could not find '" + What + "'.";
}
