#include "Dialogs.h"

#include <windows.h>

#include <commdlg.h>

#include <vector>

#include "Forms.h"

bool TSaveDialog::Execute() {
    // The filter as the system takes it: pairs separated by NUL, the list ending in two NULs.
    std::string filter = Filter;
    for (char &c : filter)
        if (c == '|')
            c = '\0';
    filter.append(2, '\0');
    std::vector<char> name(FileName.begin(), FileName.end());
    name.resize(std::max<size_t>(name.size() + 1, 4096), '\0');
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = Screen && Screen->ActiveForm() ? Screen->ActiveForm()->Handle()
                                                      : (Application ? Application->Handle() : nullptr);
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = static_cast<DWORD>(FilterIndex);
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    dialog.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    dialog.lpstrDefExt = DefaultExt.empty() ? nullptr : DefaultExt.c_str();
    dialog.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_EXPLORER |
                   (OverwritePrompt ? OFN_OVERWRITEPROMPT : 0);
    if (!GetSaveFileNameA(&dialog))
        return false;
    FileName = name.data();
    FilterIndex = static_cast<int>(dialog.nFilterIndex);
    return true;
}
