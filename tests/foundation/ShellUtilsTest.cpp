#include "ShellUtils.h"
#include "SysUtils.h"

#include <gtest/gtest.h>

#include <shlobj.h>

namespace {

// Reference paths straight from the shell, by folder id.
std::string ShellPath(int Id) {
    char Path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathA(nullptr, Id, nullptr, SHGFP_TYPE_CURRENT, Path)) ? std::string(Path)
                                                                                       : std::string();
}

TEST(ShellUtils, SpecialFoldersFollowTheIndexTable) {
    const struct {
        int Index;
        int Id;
    } Cases[] = {
        {sfDesktop, CSIDL_DESKTOPDIRECTORY},
        {sfDocuments, CSIDL_PERSONAL},
        {sfRecent, CSIDL_RECENT},
        {sfSendTo, CSIDL_SENDTO},
        {sfStartMenu, CSIDL_STARTMENU},
        {sfAppData, CSIDL_APPDATA},
    };
    for (const auto &Case : Cases)
        EXPECT_EQ(GetSpecialFolder(Case.Index), ShellPath(Case.Id)) << Case.Index;
    EXPECT_FALSE(GetSpecialFolder(sfDocuments).empty());
    EXPECT_TRUE(DirectoryExists(GetSpecialFolder(sfDocuments)));
    // The recycle bin has no file-system path; indices outside the table give nothing.
    EXPECT_EQ(GetSpecialFolder(sfRecycleBin), "");
    EXPECT_EQ(GetSpecialFolder(-1), "");
    EXPECT_EQ(GetSpecialFolder(11), "");
}

TEST(ShellUtils, DocumentsAppDataAndProgramFiles) {
    EXPECT_EQ(GetDocumentsFolder(), ShellPath(CSIDL_PERSONAL));
    EXPECT_EQ(GetAppDataFolder(), ShellPath(CSIDL_APPDATA));
    char Value[MAX_PATH] = {};
    DWORD Size = sizeof(Value);
    HKEY Key;
    std::string Expected = "C:\\Program Files";
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ,
                      &Key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(Key, "ProgramFilesDir", nullptr, nullptr, reinterpret_cast<BYTE *>(Value),
                             &Size) == ERROR_SUCCESS &&
            Value[0])
            Expected = Value;
        RegCloseKey(Key);
    }
    EXPECT_EQ(GetProgramFilesFolder(), Expected);
}

} // namespace
