// Find and replace in the editor's text; the Find and Replace dialogs share one search.
#pragma once

#include <string>

class TEditorText;

struct TEditorSearchOptions {
    std::string What;
    std::string ReplaceBy;
    bool MatchCase = false;
    bool WholeWord = false;
};

// Offset of the first occurrence of Options.What at or after From, or -1. An empty find
// text finds nothing. A whole word has no letter, digit or '_' right before or after it.
int FindInText(const std::string &Text, int From, const TEditorSearchOptions &Options);

// Find Next: searches from the end of the selection and selects the hit. False without a hit;
// the selection then stays.
bool SearchFindNext(TEditorText &Text, const TEditorSearchOptions &Options);
// Replace: searches from the start of the selection (so a selected hit is found again) and
// replaces the hit; the caret stands after the replacement. False without a hit.
bool SearchReplace(TEditorText &Text, const TEditorSearchOptions &Options);
// Replace All: Replace until no further hit; the number of replacements.
int SearchReplaceAll(TEditorText &Text, const TEditorSearchOptions &Options);

std::string CouldNotFindMessage(const std::string &What);
