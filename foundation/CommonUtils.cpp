#include "CommonUtils.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "CommonClasses.h"
#include "Graphics.h"

namespace {

bool IsFolder(const std::string &Path) {
    const DWORD attributes = GetFileAttributesA(Path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The entries of Folder (with a trailing backslash) without "." and "..", read completely before
// any of them is moved or deleted.
std::vector<std::string> ListFolder(const std::string &Folder) {
    std::vector<std::string> names;
    TFileEnumerator entries(Folder + "*.*", faAnyFile);
    while (entries.Next()) {
        const std::string name = entries.GetName();
        if (name != "." && name != "..")
            names.push_back(name);
    }
    return names;
}

} // namespace

void CopyOrMoveFolder(const std::string &Source, const std::string &Dest, int Flags) {
    const bool overwrite = (Flags & cmfOverwrite) != 0;
    const bool copy = (Flags & cmfCopy) != 0;
    if (IsFolder(Source)) {
        const std::string source = AddTrailingBackslash(Source);
        const std::string dest = AddTrailingBackslash(Dest);
        // Never into itself or one of its own subfolders.
        if (dest.size() >= source.size() && SameText(dest.substr(0, source.size()), source))
            return;
        const std::vector<std::string> names = ListFolder(source);
        if (!DirectoryExists(Dest) && !CreateDirectoryA(Dest.c_str(), nullptr))
            throw EFileMoveError("Could not create the folder '%s'.", Dest);
        for (const std::string &name : names)
            CopyOrMoveFolder(source + name, dest + name, Flags);
        if (!copy && !RemoveDirectoryA(RemoveTrailingBackslash(Source).c_str()))
            throw EFileMoveError("Could not remove the folder '%s'.", Source);
        return;
    }
    if (copy) {
        if (!CopyFileA(Source.c_str(), Dest.c_str(), !overwrite)) {
            const DWORD error = GetLastError();
            const bool targetExists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
            // An existing target without the overwrite flag is left alone, without an error.
            if (overwrite || !targetExists)
                throw EFileMoveError("Could not copy '%s' to '%s'.", Source, Dest);
        }
        return;
    }
    if (overwrite)
        DeleteFileA(Dest.c_str());
    if (!MoveFileA(Source.c_str(), Dest.c_str()))
        throw EFileMoveError("Could not move '%s' to '%s'.", Source, Dest);
}

void DeleteFileOrFolder(const std::string &P) {
    const std::string path = RemoveTrailingBackslash(P);
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (folder) {
        // A linked folder (junction or symbolic link) is removed as a link: walking into it would
        // delete the files of the folder it points to.
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            const std::string folderPath = AddTrailingBackslash(path);
            for (const std::string &name : ListFolder(folderPath))
                DeleteFileOrFolder(folderPath + name);
        }
        if (!RemoveDirectoryA(path.c_str()))
            throw Exception("Could not delete '%s'.", P);
        return;
    }
    if (!DeleteFileA(P.c_str()))
        throw Exception("Could not delete '%s'.", P);
}

std::string ShortenPath(const std::string &P, int Width) {
    // DrawText shortens the text in place and may write up to four characters more than it had.
    std::vector<char> buffer(P.begin(), P.end());
    buffer.resize(P.size() + 5, '\0');
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc)
        return P;
    HGDIOBJ old = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    RECT bounds{0, 0, Width, 1000};
    // Drawn into the memory device's 1x1 bitmap: only the change of the text matters.
    DrawTextA(dc, buffer.data(), -1, &bounds,
              DT_PATH_ELLIPSIS | DT_MODIFYSTRING | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    SelectObject(dc, old);
    DeleteDC(dc);
    return std::string(buffer.data());
}

std::string GetDriveDisplayName(char Letter) {
    const std::string root = std::string(1, Letter) + ":\\";
    SHFILEINFOA info{};
    if (!SHGetFileInfoA(root.c_str(), 0, &info, sizeof(info), SHGFI_DISPLAYNAME))
        return std::string();
    return info.szDisplayName;
}

int DrawProgressBlocks(TCanvas *Canvas, const RECT &Rect, double Fraction) {
    const int left = Rect.left, top = Rect.top, right = Rect.right, bottom = Rect.bottom;
    const int height = bottom - top - 2;
    const int pitch = height * 2 / 3 + 2;
    if (pitch <= 0)
        return 0; // an upside-down rectangle
    const int count = static_cast<int>(std::lround((right - left) * Fraction)) / pitch;
    if (Canvas) {
        Canvas->Brush().SetColor(clHighlight);
        for (int i = 0, x = left + 2; i < count; ++i, x += pitch)
            Canvas->FillRect(RECT{x, top + 2, std::min(x + pitch - 2, right - 2), bottom - 2});
    }
    return count;
}
