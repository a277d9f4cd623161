#include "Dialogs.h"

#include <windows.h>

#include <commdlg.h>

#include <algorithm>

#include "SysUtils.h"

namespace {

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
    std::string filter = Filter;
    std::replace(filter.begin(), filter.end(), '|', '\0');
    filter.append(2, '\0');
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
