// What the editor knows of the named entries of its text: the file kinds, the skeleton of a new
// entry, the scan for the entry the caret stands in, the entry list and going to an entry.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TEditorText;

// The kind of file an editor holds, chosen by the file's extension.
enum class TEditorKind : std::uint8_t {
    Text = 0,
    Transformation = 1,
    Formula = 2,
    Coloring = 3,
    Parameter = 4,
    Gradient = 5
};

struct TEditorKindInfo {
    const char *CaptionPrefix; // of an untitled window
    const char *SaveTitle;
    const char *DefaultExtension;
    int FilterIndex;
    int IconResource;
};
const TEditorKindInfo &EditorKindInfo(TEditorKind Kind);
TEditorKind EditorKindOfFile(const std::string &FileName);
// Kinds whose texts hold named entries (all but plain text).
inline bool KindHasEntries(TEditorKind Kind) {
    return Kind != TEditorKind::Text;
}
extern const char *const EditorSaveFilter;

// --- New entries --------------------------------------------------------------------------

struct TNewEntryOptions {
    std::string Title;
    // Goes between parentheses in the header; empty for none.
    std::string Qualifier;
    bool InsertComments = true;
    bool GlobalSection = true;
};

// How the text changes for a new entry: everything from KeepLength on (trailing lines that are
// blank after trimming, never the first line) is replaced by Skeleton, and the caret goes to
// KeepLength + Caret.
struct TNewEntryEdit {
    int KeepLength = 0;
    std::string Skeleton;
    int Caret = 0;
};
// Text: the editor's CR-separated text. Break: the line break the skeleton is written with.
TNewEntryEdit MakeNewEntry(TEditorKind Kind, const std::string &Text, const TNewEntryOptions &Options,
                           const std::string &Break = "\r\n");
// Appends a new entry to the text through its replace-selection operation (one undoable step).
void InsertNewEntry(TEditorText &Text, TEditorKind Kind, const TNewEntryOptions &Options);

// Items of the symmetry list of the new-entry dialog; the first means none.
const std::vector<std::string> &SymmetryItems();

// --- Current entry ------------------------------------------------------------------------

// State of the scan for the entry the caret stands in, kept by the window between scans.
struct TEntryScanState {
    int EntryLine = 0;    // header line of the entry last found
    int ScannedLine = -1; // caret line at the last scan; -1 forces a fresh scan
};
// Scans upwards from CaretLine for the header of the entry the caret stands in, looking only at
// lines not scanned before (or down to line 0 when the caret moved above the known entry).
// Returns the name the entry drop-down should show ("" outside every entry and for an entry
// named "comment"), or nothing when the drop-down should stay as it was. Budget bounds the
// time spent.
std::optional<std::string>
ScanCurrentEntry(const std::string &Text, int CaretLine, TEntryScanState &State,
                 std::chrono::milliseconds Budget = std::chrono::milliseconds(500));

// The entry drop-down's items: every entry name but "comment", sorted; Selected is the item of
// the last entry whose header is at or above CaretLine, or 0.
struct TEntryList {
    std::vector<std::string> Names;
    int Selected = 0;
};
TEntryList MakeEntryList(const std::string &Text, int CaretLine);

// Offset of the header (its name) of the entry of that name (case ignored), or -1.
int FindEntryOffset(const std::string &Text, const std::string &Name);
// Moves the caret to the entry's header; false, with the caret unchanged, when there is none.
bool GoToEntry(TEditorText &Text, const std::string &Name);
