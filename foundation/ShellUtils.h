// Shell folder queries and the folder-selection dialog.
#pragma once

#include <windows.h>

#include <string>

// Index 0..10 into the table of shell folders: 0 recycle bin, 1 desktop folder, 2 network
// neighbourhood, 3 the user's documents, 4 programs menu, 5 recent documents, 6 send-to,
// 7 start menu, 8 start-up menu, 9 templates, 10 the user's application data.
constexpr int sfRecycleBin = 0;
constexpr int sfDesktop = 1;
constexpr int sfNetwork = 2;
constexpr int sfDocuments = 3;
constexpr int sfPrograms = 4;
constexpr int sfRecent = 5;
constexpr int sfSendTo = 6;
constexpr int sfStartMenu = 7;
constexpr int sfStartup = 8;
constexpr int sfTemplates = 9;
constexpr int sfAppData = 10;

// The file-system path of the shell folder (at most MAX_PATH characters); empty when the shell
// has none or the index is out of range.
std::string GetSpecialFolder(int Index);
// The user's documents folder; "C:\My Documents" when the shell gives none.
std::string GetDocumentsFolder();
// The user's application-data folder; the program-files folder when the shell gives none.
std::string GetAppDataFolder();
// "ProgramFilesDir" of HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion;
// "C:\Program Files" when it is missing.
std::string GetProgramFilesFolder();

// Shows the shell's folder dialog for file-system folders, owned by Owner, with Title, starting
// at InitialFolder, with the selected path in its status line. Folder receives the chosen path
// (without a trailing backslash) when the user confirms a file-system folder, else
// InitialFolder; the result tells whether a folder was chosen.
bool BrowseForFolder(HWND Owner, const std::string &Title, const std::string &InitialFolder,
                     std::string &Folder);
