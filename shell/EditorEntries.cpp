#include "EditorEntries.h"

#include <algorithm>

#include "CompEntries.h"
#include "EditorText.h"
#include "SysUtils.h"

namespace {
const TEditorKindInfo kKinds[] = {
    {"File", "Save Text File", "txt", 6, 7},
    {"Transformation", "Save Transformation File", "oxf", 1, 4},
    {"Formula", "Save Fractal Formula File", "ofm", 2, 5},
    {"Coloring", "Save Coloring Algorithm File", "ocl", 3, 6},
    {"File", "Save Parameter File", "opr", 4, 2},
    {"File", "Save Gradient File", "ogr", 5, 3},
};

struct TKindExtension {
    const char *Extension;
    TEditorKind Kind;
};
const TKindExtension kExtensions[] = {
    {".oxf", TEditorKind::Transformation}, {".ofm", TEditorKind::Formula},   {".frm", TEditorKind::Formula},
    {".ocl", TEditorKind::Coloring},       {".opr", TEditorKind::Parameter}, {".par", TEditorKind::Parameter},
    {".ogr", TEditorKind::Gradient},       {".oal", TEditorKind::Gradient},  {".map", TEditorKind::Gradient},
};

// Marks where the caret goes in a skeleton: after the two blanks of the line that follows.
constexpr const char *kCaretPoint = "\x01";
// Stands for the title line.
constexpr const char *kTitleLine = "\x02";

const std::vector<const char *> kTransformationLines = {
    "; Here, you can describe the transformation. This text",
    "; will appear in the browsers as comments.",
    "; For more information about transformations, look up",
    "; \"writing transformations\" in the online help index.",
    "global:",
    "; This section is executed once per image. This is a good",
    "; place for initializing variables and precalculating tables.",
    "; Variables declared here will be read-only in the rest of",
    "; the transformation.",
    "  ",
    "transform:",
    "; In this section, you should take the value of the",
    "; predefined variable #pixel, transform it, and write",
    "; it back to #pixel.",
    kCaretPoint,
    "  ",
    "default:",
    "; This section contains default settings that make the",
    "; transformation and its parameters easier to use.",
    kTitleLine,
    "}",
};

const std::vector<const char *> kColoringLines = {
    "; Here, you can describe the coloring algorithm. This text",
    "; will appear in the browsers as comments.",
    "; For more information about coloring algorithms, look up",
    "; \"writing coloring algorithms\" in the online help index.",
    "global:",
    "; This section is executed once per image. This is a good",
    "; place for initializing variables and precalculating tables.",
    "; Variables declared here will be read-only in the rest of",
    "; the coloring algorithm.",
    "  ",
    "init:",
    "; The code in this section is executed once per pixel, before",
    "; the iteration loop is entered. It should set up variables",
    "; used in the loop: section. If you don't use the loop:",
    "; section, you can remove this section, too.",
    kCaretPoint,
    "  ",
    "loop:",
    "; The code in this section is repeatedly executed in parallel",
    "; with the code in the loop: section of the fractal formula.",
    "; This code should read the #z variable, which is being",
    "; manipulated by the fractal formula, and perform calculations",
    "; to enable the code in the final: section to calculate the",
    "; resulting color/index value of the pixel.",
    "; You can remove this section if you don't need the value of",
    "; #z, or if you only need it in the final: section.",
    "  ",
    "final:",
    "; In this section, you should compute a color or index value",
    "; for the pixel being calculated and assign it to the predefined",
    "; variables #color or #index. You can use the values of #z and ",
    "; #maxiter to do this.",
    "  ",
    "default:",
    "; This section contains default settings that make the",
    "; coloring algorithm and its parameters easier to use.",
    kTitleLine,
    "}",
};

const std::vector<const char *> kFormulaLines = {
    "; Here, you can describe the fractal formula. This text",
    "; will appear in the browsers as comments.",
    "; For more information about fractal formulas, look up",
    "; \"writing fractal formulas\" in the online help index.",
    "global:",
    "; This section is executed once per image. This is a good",
    "; place for initializing variables and precalculating tables.",
    "; Variables declared here will be read-only in the rest of",
    "; the fractal formula.",
    "  ",
    "init:",
    "; The code in this section is executed once per pixel, before",
    "; the iteration loop is entered. It should set up variables",
    "; used in the loop: section.",
    kCaretPoint,
    "  ",
    "loop:",
    "; The code in this section is repeatedly executed, until",
    "; either the maximum iteration count has been reached (then",
    "; the pixel being computed is considered to be inside), or",
    "; the boolean expression in the bailout: section becomes",
    "; false (then the pixel is considered to be outside).",
    "  ",
    "bailout:",
    "; This section should contain a boolean expression, such as",
    "; |z| < 4. When this expression becomes false, the iteration",
    "; loop is stopped, and the pixel is considered to be outside.",
    "  ",
    "default:",
    "; This section contains default settings that make the",
    "; fractal formula and its parameters easier to use.",
    kTitleLine,
    "switch:",
    "; This section is optional and can be used to specify a formula",
    "; in the same file that forms a switch pair with this formula.",
    "; This is the case for example with Mandelbrot and Julia sets.",
    "}",
};

const std::vector<std::string> kSymmetries = {
    "(No symmetry)", "XAXIS",        "XAXIS_NOREAL",  "XAXIS_NOIMAG",  "XAXIS_NOPARM",
    "YAXIS",         "YAXIS_NOPARM", "XYAXIS",        "XYAXIS_NOPARM", "ORIGIN",
    "ORIGIN_NOPARM", "PI_SYM",       "PI_SYM_NOPARM",
};

bool BlankAfterTrim(const std::string &Line) {
    return std::all_of(Line.begin(), Line.end(), [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

// The entries of a CR-separated text; the reader takes a lone CR as a line break.
std::unique_ptr<TEntryReader> ReadEntries(const std::string &Text) {
    auto reader = TEntryReader::CreateFromString(Text, false);
    reader->Scan(false);
    return reader;
}

bool IsCommentEntry(const std::string &Name) {
    return SameText(Name, "comment");
}
} // namespace

const char *const EditorSaveFilter =
    "Transformation File (*.oxf)|*.oxf|Fractal Formula File (*.ofm)|*.ofm|Coloring Algorithm File "
    "(*.ocl)|*.ocl|Parameter File (*.opr)|*.opr|Gradient File (*.ogr)|*.ogr|Any File (*.*)|*.*";

const TEditorKindInfo &EditorKindInfo(TEditorKind Kind) {
    return kKinds[static_cast<int>(Kind)];
}

TEditorKind EditorKindOfFile(const std::string &FileName) {
    const std::size_t dot = FileName.find_last_of(".\\/:");
    if (dot == std::string::npos || FileName[dot] != '.')
        return TEditorKind::Text;
    const std::string extension = FileName.substr(dot);
    for (const TKindExtension &e : kExtensions)
        if (SameText(extension, e.Extension))
            return e.Kind;
    return TEditorKind::Text;
}

const std::vector<std::string> &SymmetryItems() {
    return kSymmetries;
}

TNewEntryEdit MakeNewEntry(TEditorKind Kind, const std::string &Text, const TNewEntryOptions &Options,
                           const std::string &Break) {
    TNewEntryEdit out;
    const TEditorLines lines(Text);
    int kept = lines.Count();
    while (kept > 1 && BlankAfterTrim(lines.Text(kept - 1)))
        --kept;
    out.KeepLength = lines.End(kept - 1);
    const bool lastEmpty = lines.Text(kept - 1).empty();

    const std::string name = ReadEntries(Text)->MakeUniqueName(TitleToName(Options.Title));
    std::string &s = out.Skeleton;
    s = lastEmpty ? Break : Break + Break;
    s += (Options.Qualifier.empty() ? name : name + "(" + Options.Qualifier + ")") + " {" + Break;
    const std::vector<const char *> &body = Kind == TEditorKind::Transformation ? kTransformationLines
                                            : Kind == TEditorKind::Coloring     ? kColoringLines
                                                                                : kFormulaLines;
    bool inGlobal = false;
    for (const char *line : body) {
        const std::string text = line;
        if (text == "global:")
            inGlobal = true;
        const bool skipGlobal = inGlobal && !Options.GlobalSection;
        if (inGlobal && text == "  ")
            inGlobal = false;
        if (skipGlobal)
            continue;
        if (text == kCaretPoint) {
            // The caret gets a blank line of its own, above the section's usual one.
            out.Caret = static_cast<int>(s.size()) + 2;
            s += "  " + Break;
            continue;
        }
        if (text == kTitleLine) {
            s += "  title = \"" + Options.Title + "\"" + Break;
            continue;
        }
        if (!Options.InsertComments && !text.empty() && text[0] == ';')
            continue;
        s += text + Break;
    }
    return out;
}

void InsertNewEntry(TEditorText &Text, TEditorKind Kind, const TNewEntryOptions &Options) {
    const std::string text = Text.GetText();
    const TNewEntryEdit edit = MakeNewEntry(Kind, text, Options, "\r");
    Text.SetSelection(edit.KeepLength, static_cast<int>(text.size()) - edit.KeepLength);
    Text.ReplaceSelection(edit.Skeleton);
    Text.SetSelection(edit.KeepLength + edit.Caret, 0);
}

std::optional<std::string> ScanCurrentEntry(const std::string &Text, int CaretLine, TEntryScanState &State,
                                            std::chrono::milliseconds Budget) {
    const int caret = CaretLine;
    if (State.EntryLine < caret && caret <= State.ScannedLine)
        return std::nullopt;
    const int stop = State.EntryLine > caret ? 0 : State.ScannedLine;
    State.ScannedLine = caret;
    std::string name;
    bool found = false;
    const auto began = std::chrono::steady_clock::now();
    const TEditorLines lines(Text);
    for (int l = std::min(caret, lines.Count() - 1); l >= std::max(stop, 0); --l) {
        const std::string line = lines.Text(l);
        if (l < caret && line.find('}') != std::string::npos) {
            // A closing brace above the caret: the caret stands outside every entry.
            State.ScannedLine = -1;
            found = true;
            break;
        }
        const std::size_t brace = line.find('{');
        std::string title;
        if (brace != std::string::npos && ParseEntryHeader(line.c_str(), brace + 1, name, title)) {
            State.EntryLine = l;
            found = true;
            break;
        }
        name.clear();
        if (std::chrono::steady_clock::now() - began > Budget)
            break;
    }
    if (!found && stop > 0)
        return std::nullopt;
    if (!found || IsCommentEntry(name))
        return std::string();
    return name;
}

TEntryList MakeEntryList(const std::string &Text, int CaretLine) {
    TEntryList out;
    const TEditorLines lines(Text);
    auto reader = ReadEntries(Text);
    std::string current;
    for (int i = 0; i < reader->GetCount(); ++i) {
        TEntryData &entry = *reader->GetEntry(i);
        if (IsCommentEntry(entry.Name()))
            continue;
        out.Names.push_back(entry.Name());
        if (lines.LineOf(static_cast<int>(entry.NamePos())) <= CaretLine)
            current = entry.Name();
    }
    std::sort(out.Names.begin(), out.Names.end(),
              [](const std::string &a, const std::string &b) { return CompareText(a, b) < 0; });
    if (!current.empty())
        out.Selected =
            static_cast<int>(std::find(out.Names.begin(), out.Names.end(), current) - out.Names.begin());
    return out;
}

int FindEntryOffset(const std::string &Text, const std::string &Name) {
    auto reader = ReadEntries(Text);
    const int i = reader->IndexOfName(Name);
    return i < 0 ? -1 : static_cast<int>(reader->GetEntry(i)->NamePos());
}

bool GoToEntry(TEditorText &Text, const std::string &Name) {
    const int offset = FindEntryOffset(Text.GetText(), Name);
    if (offset < 0)
        return false;
    Text.SetSelection(offset, 0);
    return true;
}
