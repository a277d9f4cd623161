#include "EditorSnippets.h"

#include <algorithm>

#include "EditorText.h"
#include "GenSetup.h"
#include "SysUtils.h"

TResolvedSnippet ResolveSnippetBars(const std::string &Snippet) {
    TResolvedSnippet out;
    bool caretSeen = false;
    std::size_t i = 0;
    while (i < Snippet.size()) {
        if (Snippet[i] != '|') {
            out.Text += Snippet[i++];
            continue;
        }
        // A run of bars: pairs are literal bars; an odd run holds one caret bar, taken as the
        // middle one, so that "|||||" reads bar, caret, bar (a pair on each side).
        std::size_t run = 0;
        while (i + run < Snippet.size() && Snippet[i + run] == '|')
            ++run;
        const std::size_t pairs = run / 2;
        if (run % 2 == 1) {
            const std::size_t before = pairs / 2 + pairs % 2;
            out.Text.append(before, '|');
            out.CaretPoint = out.Text.size();
            caretSeen = true;
            out.Text.append(pairs - before, '|');
        } else {
            out.Text.append(pairs, '|');
        }
        i += run;
    }
    if (!caretSeen)
        out.CaretPoint = out.Text.size();
    return out;
}

TSnippetInsertion ExpandSnippet(const std::string &Snippet, const std::string &Indentation) {
    const TResolvedSnippet resolved = ResolveSnippetBars(Snippet);
    TSnippetInsertion out;
    for (std::size_t i = 0; i <= resolved.Text.size(); ++i) {
        if (i == resolved.CaretPoint)
            out.Caret = static_cast<int>(out.Text.size());
        if (i == resolved.Text.size())
            break;
        const char c = resolved.Text[i];
        if (c == '\r')
            out.Text += "\r" + Indentation;
        else if (c != '\n')
            out.Text += c;
    }
    return out;
}

void InsertSnippet(TEditorText &Text, const std::string &Snippet) {
    const std::string text = Text.GetText();
    const TEditorLines lines(text);
    int start = 0, length = 0;
    Text.GetSelection(start, length);
    const std::string indentation = LineIndentation(lines.Text(lines.LineOf(start)));
    const TSnippetInsertion insertion = ExpandSnippet(Snippet, indentation);
    Text.ReplaceSelection(insertion.Text);
    Text.SetSelection(start + insertion.Caret, 0);
}

namespace {
// Every command of the Insert menu. Functions insert "name(|)", labels "name:\r  |", predefined
// symbols "#name".
#define FN(path, name)                                                                                       \
    { path, name, name "(|)" }
#define LABEL(name)                                                                                          \
    { "&Label", name, name ":\r  |" }
#define SYMBOL(name)                                                                                         \
    { "&Predefined symbol", name, "#" name }
const std::vector<TInsertMenuSnippet> kInsertMenu = {
    {"", "&IF Statement", "if |\r  \rendif"},
    {"", "&ELSEIF Clause", "elseif |\r"},
    {"", "E&LSE Clause", "else\r  |"},
    {"", "&WHILE Loop", "while |\r  \rendwhile"},
    {"", "&REPEAT Loop", "repeat\r  \runtil |"},
    SYMBOL("pixel"),
    SYMBOL("random"),
    SYMBOL("maxiter"),
    SYMBOL("numiter"),
    SYMBOL("index"),
    SYMBOL("z"),
    SYMBOL("screenmax"),
    SYMBOL("width"),
    SYMBOL("height"),
    SYMBOL("screenpixel"),
    SYMBOL("x"),
    SYMBOL("y"),
    SYMBOL("center"),
    SYMBOL("magn"),
    SYMBOL("angle"),
    SYMBOL("randomrange"),
    {"&Variable type", "complex", "complex"},
    {"&Variable type", "float", "float"},
    {"&Variable type", "int", "int"},
    {"&Variable type", "bool", "bool"},
    {"&Variable type", "complex array", "complex |[]"},
    {"&Variable type", "float array", "float |[]"},
    {"&Variable type", "int array", "int |[]"},
    {"&Variable type", "bool array", "bool |[]"},
    {"&Operator/&Arithmetic", "&Add ( + )", "+"},
    {"&Operator/&Arithmetic", "&Subtract ( - )", "-"},
    {"&Operator/&Arithmetic", "&Multiply ( * )", "*"},
    {"&Operator/&Arithmetic", "&Divide ( / )", "/"},
    {"&Operator/&Arithmetic", "&Power ( ^ )", "^"},
    {"&Operator/&Arithmetic", "&Modulus (%)", "%"},
    {"&Operator/&Arithmetic", "&Negation ( - )", "-"},
    {"&Operator/&Boolean", "&Equal ( == )", "=="},
    {"&Operator/&Boolean", "&Not equal ( != )", "!="},
    {"&Operator/&Boolean", "&Less than ( < )", "<"},
    {"&Operator/&Boolean", "Le&ss than or equal ( <= )", "<="},
    {"&Operator/&Boolean", "&More than ( > )", ">"},
    {"&Operator/&Boolean", "Mo&re than or equal ( >= )", ">="},
    {"&Operator/&Boolean", "&And ( &&&& )", "&&"},
    {"&Operator/&Boolean", "&Or ( || )", "||||"},
    {"&Operator/&Boolean", "No&t ( ! )", "!"},
    // Its hint promises "=", so it inserts it like its neighbours.
    {"&Operator", "A&ssignment (=)", "="},
    {"&Operator", "&Modulus squared ( |...| )", "|||||"},
    {"&Operator", "&Parentheses ( (...) )", "(|)"},
    FN("&Function/&Arithmetic", "sqr"),
    FN("&Function/&Arithmetic", "sqrt"),
    FN("&Function/&Arithmetic", "log"),
    FN("&Function/&Arithmetic", "exp"),
    FN("&Function/&Arithmetic", "abs"),
    FN("&Function/&Arithmetic", "cabs"),
    FN("&Function/&Trigonometric", "sin"),
    FN("&Function/&Trigonometric", "asin"),
    FN("&Function/&Trigonometric", "sinh"),
    FN("&Function/&Trigonometric", "asinh"),
    FN("&Function/&Trigonometric", "cos"),
    FN("&Function/&Trigonometric", "acos"),
    FN("&Function/&Trigonometric", "cosh"),
    FN("&Function/&Trigonometric", "acosh"),
    FN("&Function/&Trigonometric", "tan"),
    FN("&Function/&Trigonometric", "atan"),
    FN("&Function/&Trigonometric", "tanh"),
    FN("&Function/&Trigonometric", "atanh"),
    FN("&Function/&Trigonometric", "cotan"),
    FN("&Function/&Trigonometric", "cotanh"),
    FN("&Function/&Trigonometric", "atan2"),
    FN("&Function/&Conversion", "real"),
    FN("&Function/&Conversion", "imag"),
    FN("&Function/&Conversion", "round"),
    FN("&Function/&Conversion", "trunc"),
    FN("&Function/&Conversion", "floor"),
    FN("&Function/&Conversion", "ceil"),
    FN("&Function", "conj"),
    FN("&Function", "flip"),
    FN("&Function", "oldz"),
    FN("&Function", "print"),
    FN("&Function", "random"),
    LABEL("bailout"),
    LABEL("default"),
    LABEL("global"),
    LABEL("final"),
    LABEL("init"),
    LABEL("loop"),
    LABEL("switch"),
    LABEL("transform"),
};
#undef FN
#undef LABEL
#undef SYMBOL

} // namespace

bool StartsWithText(const std::string &S, const std::string &Prefix) {
    return S.size() >= Prefix.size() && SameText(S.substr(0, Prefix.size()), Prefix);
}

const std::vector<TInsertMenuSnippet> &InsertMenuSnippets() {
    return kInsertMenu;
}

std::string TemplatePatternAt(const std::string &Line, int Chars) {
    int last = std::clamp(Chars, 0, static_cast<int>(Line.size()));
    int first = last;
    while (first > 0 && IsAsciiAlnum(Line[static_cast<std::size_t>(first - 1)]))
        --first;
    return Line.substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first));
}

TTemplateLookup LookUpTemplate(const TEditorTemplateList &Templates, const std::string &Pattern) {
    TTemplateLookup out;
    for (int i = 0; i < Templates.GetCount(); ++i) {
        const TEditorTemplate &t = *Templates.GetTemplate(i);
        if (SameText(t.Pattern, Pattern)) {
            out.Match = TTemplateMatch::Exact;
            out.Template = t.Template;
            return out;
        }
    }
    if (Pattern.empty())
        return out;
    for (int i = 0; i < Templates.GetCount(); ++i)
        if (StartsWithText(Templates.GetTemplate(i)->Pattern, Pattern))
            out.Candidates.push_back(i);
    std::stable_sort(out.Candidates.begin(), out.Candidates.end(), [&](int a, int b) {
        return CompareText(Templates.GetTemplate(a)->Pattern, Templates.GetTemplate(b)->Pattern) < 0;
    });
    if (!out.Candidates.empty())
        out.Match = TTemplateMatch::Choose;
    return out;
}

std::string NoMatchingTemplateMessage(const std::string &Pattern) {
    return "There are no templates matching the pattern '" + Pattern + "'.\r" +
           "Click Options on the Options menu to define patterns and templates.";
}

void ReplacePatternWithTemplate(TEditorText &Text, const std::string &Pattern, const std::string &Template) {
    int start = 0, length = 0;
    Text.GetSelection(start, length);
    const int first = std::max(0, start - static_cast<int>(Pattern.size()));
    Text.SetSelection(first, start - first);
    InsertSnippet(Text, Template);
}
