#include "Dialogs.h"

#include <windows.h>

#include <commdlg.h>

#include <algorithm>

#include "Forms.h"
#include "SysUtils.h"

namespace {

// A filter as the system takes it: pairs separated by NUL, the list ending in two NULs.
std::string SystemFilter(std::string Filter) {
    std::replace(Filter.begin(), Filter.end(), '|', '\0');
    Filter.append(2, '\0');
    return Filter;
}

// Room for many chosen files; the dialog reports a buffer too small as a failure.
constexpr std::size_t NamesBufferSize = 64 * 1024;

} // namespace

std::vector<std::string> SplitOpenDialogNames(const char *Buffer, std::size_t Size) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start < Size && Buffer[start] != '\0') {
        const char *end = std::find(Buffer + start, Buffer + Size, '\0');
        parts.emplace_back(Buffer + start, end);
        start = static_cast<std::size_t>(end - Buffer) + 1;
    }
    if (parts.size() < 2)
        return parts;
    // A folder and the names in it.
    const std::string folder = IncludeTrailingPathDelimiter(parts.front());
    std::vector<std::string> names;
    for (std::size_t i = 1; i < parts.size(); ++i)
        names.push_back(folder + parts[i]);
    return names;
}

bool TOpenDialog::Execute() {
    const std::string filter = SystemFilter(Filter);
    std::string names(NamesBufferSize, '\0');
    std::copy_n(FileName.begin(), std::min(FileName.size(), names.size() - 2), names.begin());

    OPENFILENAMEA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = GetActiveWindow();
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = static_cast<DWORD>(std::max(FilterIndex, 0));
    dialog.lpstrFile = names.data();
    dialog.nMaxFile = static_cast<DWORD>(names.size());
    dialog.lpstrInitialDir = InitialDir.empty() ? nullptr : InitialDir.c_str();
    dialog.lpstrTitle = Title.empty() ? nullptr : Title.c_str();
    dialog.lpstrDefExt = DefaultExt.empty() ? nullptr : DefaultExt.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    if (Options & ofAllowMultiSelect)
        dialog.Flags |= OFN_ALLOWMULTISELECT;
    if (Options & ofPathMustExist)
        dialog.Flags |= OFN_PATHMUSTEXIST;
    if (Options & ofFileMustExist)
        dialog.Flags |= OFN_FILEMUSTEXIST;
    if (!GetOpenFileNameA(&dialog))
        return false;
    Files = SplitOpenDialogNames(names.data(), names.size());
    FileName = Files.empty() ? std::string() : Files.front();
    FilterIndex = static_cast<int>(dialog.nFilterIndex);
    return !Files.empty();
}

bool TSaveDialog::Execute() {
    const std::string filter = SystemFilter(Filter);
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
