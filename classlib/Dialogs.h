// The system's file dialogs.
#pragma once

#include <string>

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
