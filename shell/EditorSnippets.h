// Snippet texts, the Insert menu's snippets and code-template completion.
//
// Snippet notation: a single '|' marks where the caret goes (the last one counts), "||" is one
// literal '|', CR starts a new line with the indentation of the line where the insertion began,
// LF is ignored (so CR LF is one break), everything else is inserted as it is.
#pragma once

#include <string>
#include <vector>

class TEditorText;
class TEditorTemplateList;

// A snippet with its bars resolved: the text to insert and the caret's offset in it.
struct TResolvedSnippet {
    std::string Text;
    std::size_t CaretPoint = 0;
};
TResolvedSnippet ResolveSnippetBars(const std::string &Snippet);

// The characters that go into the control for a snippet inserted on a line with the given
// indentation: each CR becomes CR + Indentation, LF is dropped. Caret is the offset in that
// text where the caret goes.
struct TSnippetInsertion {
    std::string Text;
    int Caret = 0;
};
TSnippetInsertion ExpandSnippet(const std::string &Snippet, const std::string &Indentation);

// Inserts a snippet at the caret (replacing the selection) and places the caret by its bar.
void InsertSnippet(TEditorText &Text, const std::string &Snippet);

// One command of the Insert menu: the submenu path (captions joined by '/', empty at the top),
// the item's caption and the snippet it inserts.
struct TInsertMenuSnippet {
    const char *Path;
    const char *Caption;
    const char *Snippet;
};
const std::vector<TInsertMenuSnippet> &InsertMenuSnippets();

// The word before the caret that template completion looks up: the run of ASCII letters and
// digits ending Chars characters into Line (may be empty).
std::string TemplatePatternAt(const std::string &Line, int Chars);

// Whether S starts with Prefix, ASCII letter case ignored (how templates match a pattern).
bool StartsWithText(const std::string &S, const std::string &Prefix);

// Template completion's choice for a pattern.
enum class TTemplateMatch {
    Exact,  // Template holds the template of the first pattern equal to it
    Choose, // several templates start with it: the templates dialog lists Candidates
    NoMatch // nothing to offer
};
struct TTemplateLookup {
    TTemplateMatch Match = TTemplateMatch::NoMatch;
    std::string Template;
    // Indices into the list of the templates whose pattern starts with the pattern (case ignored),
    // sorted by pattern.
    std::vector<int> Candidates;
};
TTemplateLookup LookUpTemplate(const TEditorTemplateList &Templates, const std::string &Pattern);
std::string NoMatchingTemplateMessage(const std::string &Pattern);

// Replaces the pattern's characters before the caret by Template (a snippet).
void ReplacePatternWithTemplate(TEditorText &Text, const std::string &Pattern, const std::string &Template);
