// The system's file dialogs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Controls.h"

// The system's "Save As" dialog: a title, a filter of "description|pattern" pairs separated by '|',
// a default extension added to names typed without one, and a question before an existing file is
// replaced.
class TSaveDialog : public TComponent {
public:
    DECLARE_CLASS_NAME(TSaveDialog)
    explicit TSaveDialog(TComponent *AOwner) : TComponent(AOwner) {}

    std::string Title;
    std::string Filter;
    std::string DefaultExt; // without the dot
    std::string InitialDir;
    std::string FileName;
    int FilterIndex = 1;
    bool OverwritePrompt = true;

    // Shows the dialog modally over the active window; true with FileName set when the user chose
    // a name.
    bool Execute();
};

enum TOpenOption : std::uint32_t {
    ofAllowMultiSelect = 1,
    ofPathMustExist = 2,
    ofFileMustExist = 4,
};

class TOpenDialog : public TObject {
public:
    DECLARE_CLASS_NAME(TOpenDialog)

    // Shows the dialog modally over the active window; true when the user chose a file. Files then
    // holds every chosen file with its folder (in the dialog's order), FileName the first one and
    // FilterIndex the filter the user ended on.
    virtual bool Execute();

    // Pairs of "text|patterns" separated by '|'.
    std::string Filter;
    // 1 for the first filter.
    int FilterIndex = 1;
    std::string InitialDir;
    std::string DefaultExt; // without the dot
    std::string Title;
    std::uint32_t Options = ofPathMustExist | ofFileMustExist;
    std::string FileName;
    std::vector<std::string> Files;
};

// The file names of the buffer the system's dialog fills: one name, or with multiple selection a
// folder followed by the names in it, each ended by a NUL, the list by a second NUL.
std::vector<std::string> SplitOpenDialogNames(const char *Buffer, std::size_t Size);
