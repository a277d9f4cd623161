#include "ShellUtils.h"

#include <shlobj.h>

#include "GenUtils.h"
#include "Registry.h"

namespace {

constexpr int kSpecialFolderIds[11] = {
    CSIDL_BITBUCKET, CSIDL_DESKTOPDIRECTORY, CSIDL_NETHOOD, CSIDL_PERSONAL,  CSIDL_PROGRAMS, CSIDL_RECENT,
    CSIDL_SENDTO,    CSIDL_STARTMENU,        CSIDL_STARTUP, CSIDL_TEMPLATES, CSIDL_APPDATA};

struct TBrowseData {
    std::string InitialFolder;
};

// Called by the shell on its own dialog thread's stack: nothing may throw out of here.
int CALLBACK BrowseCallback(HWND Window, UINT Message, LPARAM LParam, LPARAM Data) noexcept {
    switch (Message) {
    case BFFM_INITIALIZED: {
        const auto *Browse = reinterpret_cast<const TBrowseData *>(Data);
        if (Browse && !Browse->InitialFolder.empty())
            SendMessageA(Window, BFFM_SETSELECTIONA, TRUE,
                         reinterpret_cast<LPARAM>(Browse->InitialFolder.c_str()));
        break;
    }
    case BFFM_SELCHANGED: {
        char Path[MAX_PATH + 1] = {};
        const auto Item = reinterpret_cast<LPCITEMIDLIST>(LParam);
        if (!Item || !SHGetPathFromIDListA(Item, Path))
            Path[0] = '\0';
        SendMessageA(Window, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(Path));
        break;
    }
    default:
        break;
    }
    return 0;
}

} // namespace

std::string GetSpecialFolder(int Index) {
    if (Index < 0 || Index >= static_cast<int>(std::size(kSpecialFolderIds)))
        return std::string();
    char Path[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathA(nullptr, Path, kSpecialFolderIds[Index], FALSE))
        return std::string();
    return std::string(Path);
}

std::string GetDocumentsFolder() {
    std::string Path = GetSpecialFolder(sfDocuments);
    return Path.empty() ? std::string("C:\\My Documents") : Path;
}

std::string GetAppDataFolder() {
    std::string Path = GetSpecialFolder(sfAppData);
    return Path.empty() ? GetProgramFilesFolder() : Path;
}

std::string GetProgramFilesFolder() {
    std::string Path;
    try {
        TRegistry Registry(KEY_READ);
        Registry.SetRootKey(HKEY_LOCAL_MACHINE);
        if (Registry.OpenKeyReadOnly("\\Software\\Microsoft\\Windows\\CurrentVersion") &&
            Registry.ValueExists("ProgramFilesDir"))
            Path = Registry.ReadString("ProgramFilesDir");
    } catch (const Exception &) {
        Path.clear();
    }
    return Path.empty() ? std::string("C:\\Program Files") : Path;
}

bool BrowseForFolder(HWND Owner, const std::string &Title, const std::string &InitialFolder,
                     std::string &Folder) {
    Folder = InitialFolder;
    TBrowseData Data{RemoveTrailingBackslash(InitialFolder)};
    char Display[MAX_PATH + 1] = {};
    BROWSEINFOA Info = {};
    Info.hwndOwner = Owner;
    Info.pszDisplayName = Display;
    Info.lpszTitle = Title.c_str();
    Info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    Info.lpfn = BrowseCallback;
    Info.lParam = reinterpret_cast<LPARAM>(&Data);
    LPITEMIDLIST Item = SHBrowseForFolderA(&Info);
    if (!Item)
        return false;
    char Path[MAX_PATH + 1] = {};
    const BOOL HasPath = SHGetPathFromIDListA(Item, Path);
    CoTaskMemFree(Item);
    if (!HasPath || Path[0] == '\0')
        return false;
    Folder = RemoveTrailingBackslash(Path);
    return true;
}
