#include "BrowseFiles.h"

#include <windows.h>

#include <algorithm>

#include "AdvDlgs.h"
#include "CompEntries.h"
#include "Forms.h"
#include "GenClasses.h"
#include "GenUtils.h"

namespace {

TBrowseConfirm &ConfirmSeam() {
    static TBrowseConfirm confirm;
    return confirm;
}

TBrowseWarning &WarningSeam() {
    static TBrowseWarning warning;
    return warning;
}

bool PathExists(const std::string &Path) {
    return GetFileAttributesA(Path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string &Path) {
    const DWORD attributes = GetFileAttributesA(Path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> FolderNames(const std::string &Folder) {
    std::vector<std::string> names;
    TFileEnumerator entries(AddTrailingBackslash(Folder) + "*.*", faAnyFile);
    while (entries.Next())
        if (entries.GetName() != "." && entries.GetName() != "..")
            names.push_back(entries.GetName());
    return names;
}

// Moves Source into Dest without overwriting anything: items that Dest lacks move whole, clashing
// folders are merged the same way, clashing files stay. The source folder goes only when empty.
void MoveWithoutOverwriting(const std::string &Source, const std::string &Dest) {
    if (!PathExists(Dest)) {
        if (!MoveFileA(Source.c_str(), Dest.c_str()))
            throw EFileMoveError("Could not move '%s' to '%s'.", Source, Dest);
        return;
    }
    if (!IsFolder(Source) || !IsFolder(Dest))
        return;
    // A linked folder is never walked into: its contents belong to another place.
    if (GetFileAttributesA(Source.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT)
        return;
    const std::string source = AddTrailingBackslash(Source);
    const std::string dest = AddTrailingBackslash(Dest);
    for (const std::string &name : FolderNames(source))
        MoveWithoutOverwriting(source + name, dest + name);
    RemoveDirectoryA(RemoveTrailingBackslash(Source).c_str());
}

// The path the system ends at for Path, links followed; empty when it cannot tell.
std::string FinalPath(const std::string &Path) {
    HANDLE folder = CreateFileA(Path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE)
        return std::string();
    char buffer[MAX_PATH * 4];
    const DWORD length = GetFinalPathNameByHandleA(folder, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
    CloseHandle(folder);
    if (length == 0 || length >= sizeof buffer)
        return std::string();
    return RemoveTrailingBackslash(std::string(buffer, length));
}

// Whether sub-folder Name of Folder is a link: marked as a reparse point, or ending somewhere else
// than inside Folder (Wine shows host symbolic links as plain folders). Links above Folder do not
// count: only this one step is compared.
bool IsLinkedFolderStep(const std::string &Folder, const std::string &Name) {
    const std::string path = Folder + Name;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    const std::string parent = FinalPath(Folder);
    const std::string child = FinalPath(path);
    if (parent.empty() || child.empty())
        return false;
    return !SameText(child, parent + "\\" + Name);
}

bool IsLetter(char C) {
    return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z');
}

} // namespace

void SetBrowseConfirmDialog(TBrowseConfirm Confirm) {
    ConfirmSeam() = std::move(Confirm);
}

int BrowseConfirm(const std::string &Message, bool WithAll) {
    if (ConfirmSeam())
        return ConfirmSeam()(Message, WithAll);
    if (WithAll)
        return AdvMessageDlg(Message, mtConfirmation, {mbYes, mbNo, mbCancel, mbNoToAll, mbYesToAll}, 0);
    return AdvMessageDlg(Message, mtConfirmation, {mbYes, mbNo}, 0);
}

void SetBrowseWarningDialog(TBrowseWarning Warning) {
    WarningSeam() = std::move(Warning);
}

void BrowseWarning(const std::string &Message) {
    if (WarningSeam())
        WarningSeam()(Message);
    else
        AdvMessageDlg(Message, mtWarning, {mbOK}, 0);
}

bool NotIntoItself(const std::string &SourceFolder, const std::vector<std::string> &Names,
                   const std::string &Target, bool CopyMode) {
    const std::string source = RemoveTrailingBackslash(SourceFolder);
    const std::string target = RemoveTrailingBackslash(Target);
    if (SameText(source, target))
        return CopyMode;
    for (const std::string &name : Names) {
        const std::string item = source + "\\" + name;
        if (SameText(item, target))
            return false;
        const std::string inside = item + "\\";
        if (target.size() >= inside.size() && SameText(target.substr(0, inside.size()), inside))
            return false;
    }
    return true;
}

std::string MakeCopyTarget(const std::string &Folder, const std::string &Name) {
    const std::string folder = AddTrailingBackslash(Folder);
    std::string name = MakeCopyName(Name);
    while (PathExists(folder + name))
        name = MakeCopyName(name);
    return name;
}

bool PasteFiles(const std::string &SourceFolder, const std::string &TargetFolder, int Mode,
                const std::vector<std::string> &Names, const TBrowseConfirm &Confirm) {
    const std::string source = AddTrailingBackslash(SourceFolder);
    const std::string target = AddTrailingBackslash(TargetFolder);
    const bool sameFolder = SameText(source, target);
    const bool copy = Mode == pmCopy;
    bool yesToAll = false;
    bool noToAll = false;
    for (const std::string &name : Names) {
        std::string targetName = name;
        bool overwrite = false;
        if (sameFolder) {
            targetName = MakeCopyTarget(target, name);
        } else if (PathExists(target + name)) {
            if (yesToAll) {
                overwrite = true;
            } else if (!noToAll) {
                const std::string path = target + name;
                const std::string question =
                    IsFolder(path)
                        ? Format("The folder '%s' already exists. Do you want \rto overwrite existing "
                                 "files and folders in this folder?",
                                 path)
                        : Format("The file '%s' already exists. Do you want to overwrite it?", path);
                switch (Confirm(question, true)) {
                case mrCancel:
                    return false;
                case mrYes:
                    overwrite = true;
                    break;
                case mrYesToAll:
                    overwrite = yesToAll = true;
                    break;
                case mrNoToAll:
                    noToAll = true;
                    break;
                default:
                    break;
                }
            }
        }
        if (!copy && !overwrite && !sameFolder && PathExists(target + targetName))
            MoveWithoutOverwriting(source + name, target + targetName);
        else
            CopyOrMoveFolder(source + name, target + targetName,
                             (overwrite ? cmfOverwrite : 0) | (copy || sameFolder ? cmfCopy : 0));
    }
    return true;
}

bool PasteEntries(TEntryCollection &Source, TEntryCollection &Target, bool SameFile, bool Copy,
                  const std::vector<std::string> &Names, const std::string &TargetName,
                  const TBrowseConfirm &Confirm) {
    TEntryCollectionLock sourceLock(Source);
    TEntryCollectionLock targetLock(Target);
    bool yesToAll = false;
    bool noToAll = false;
    for (const std::string &name : Names) {
        int index = Source.IndexOfName(name);
        if (index < 0)
            continue;
        TEntryData *entry = Source.GetEntry(index);
        const std::string title = entry->GetTitle();
        if (SameFile) {
            std::string copyTitle = MakeCopyName(title);
            while (Target.IndexOfTitle(copyTitle) >= 0)
                copyTitle = MakeCopyName(copyTitle);
            const std::string newName = Target.MakeUniqueName(TitleToName(title));
            Target.CopyEntryAs(*entry, newName, cmAsSource);
            const int added = Target.IndexOfName(newName);
            if (added >= 0)
                Target.ChangeTitle(added, copyTitle);
            continue;
        }
        // The clashing entries are known before the new one goes in, so that they, and never the
        // new one, are deleted once it is in.
        std::vector<std::string> clashing;
        if (name.find(':') == std::string::npos) {
            for (int i = 0; i < Target.GetCount(); ++i)
                if (SameText(Target.GetEntry(i)->GetTitle(), title))
                    clashing.push_back(Target.GetEntry(i)->Name());
        }
        if (!clashing.empty()) {
            if (noToAll)
                continue;
            if (!yesToAll) {
                const int answer =
                    Confirm(Format("The entry '%s' already exists in '%s'.\rDo you want to overwrite it?",
                                   title, TargetName),
                            true);
                if (answer == mrCancel)
                    return false;
                if (answer == mrNoToAll)
                    noToAll = true;
                if (answer == mrNo || answer == mrNoToAll)
                    continue;
                if (answer == mrYesToAll)
                    yesToAll = true;
            }
        }
        const int before = Target.GetCount();
        Target.CopyEntry(*entry, cmAsSource);
        // Deleted from the highest index down: the new entry is last and lower indices stay put.
        for (int i = std::min(before, Target.GetCount()) - 1; i >= 0; --i)
            if (std::find_if(clashing.begin(), clashing.end(), [&](const std::string &n) {
                    return SameText(n, Target.GetEntry(i)->Name()) &&
                           SameText(Target.GetEntry(i)->GetTitle(), title);
                }) != clashing.end())
                Target.DeleteEntry(i);
        if (!Copy) {
            index = Source.IndexOfName(name);
            if (index >= 0)
                Source.DeleteEntry(index);
        }
    }
    return true;
}

std::string CreateNewFolder(const std::string &Folder) {
    const std::string folder = AddTrailingBackslash(Folder);
    std::string name = "New Folder";
    for (int n = 2; PathExists(folder + name); ++n)
        name = Format("%s (%d)", std::string("New Folder"), n);
    CreateDirectoryA((folder + name).c_str(), nullptr);
    return folder + name;
}

std::string CreateNewFile(const std::string &Folder, const std::string &Template) {
    const std::string folder = AddTrailingBackslash(Folder);
    const std::string extension = ExtractFileExt(Template);
    const std::string title = Template.substr(0, Template.size() - extension.size());
    std::string name = Template;
    for (int n = 2; PathExists(folder + name); ++n)
        name = Format("%s (%d)", title, n) + extension;
    HANDLE file = CreateFileA((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return folder + name;
}

TSaveTarget ProbeSaveTarget(const std::string &FileName) {
    if (FileName.empty())
        return TSaveTarget::Invalid;
    const DWORD attributes = GetFileAttributesA(FileName.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return attributes & FILE_ATTRIBUTE_DIRECTORY ? TSaveTarget::Invalid : TSaveTarget::Exists;
    HANDLE file =
        CreateFileA(FileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        // Someone made the file between the two looks: it exists, and it is not ours to delete.
        return GetLastError() == ERROR_FILE_EXISTS ? TSaveTarget::Exists : TSaveTarget::Invalid;
    }
    CloseHandle(file);
    DeleteFileA(FileName.c_str());
    return TSaveTarget::Creatable;
}

std::string CannotFindMessage(const std::string &Text) {
    return "Cannot find the file or folder '" + Text + "'." + "\r" + "Make sure the path is correct.";
}

std::string ResolveLocation(const std::string &Text, std::uint8_t Filter) {
    if (Text.size() < 3 || Text[1] != ':' || Text[2] != '\\' || !IsLetter(Text[0]))
        throw EBrowseException(CannotFindMessage(Text));
    const char drive = static_cast<char>(Text[0] & ~0x20);
    if (!(GetLogicalDrives() & (1u << (drive - 'A'))))
        throw EBrowseException(CannotFindMessage(Text));
    std::string path = std::string(1, drive) + ":\\";
    std::size_t start = 3;
    while (start < Text.size()) {
        const std::size_t end = std::min(Text.find('\\', start), Text.size());
        const std::string component = Text.substr(start, end - start);
        if (component.empty())
            break;
        // Only folders lead further down; a file must be the last component and of the kind shown.
        if (!IsFolder(RemoveTrailingBackslash(path)) && path.size() > 3)
            throw EBrowseException(CannotFindMessage(Text));
        const std::string full = path + component;
        const DWORD attributes = GetFileAttributesA(full.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
            throw EBrowseException(CannotFindMessage(Text));
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && !FileMatchesKind(KindOfFile(component), Filter))
            throw EBrowseException(CannotFindMessage(Text));
        path += GetLongComponentName(path, component);
        if (end < Text.size() && end + 1 < Text.size())
            path += "\\";
        start = end + 1;
    }
    return path;
}

bool IsLinkedFolder(const std::string &Folder, const std::string &Name) {
    return IsLinkedFolderStep(AddTrailingBackslash(Folder), Name);
}

void PlanDeletion(const std::string &Path, std::vector<std::string> &Items) {
    const std::string path = RemoveTrailingBackslash(Path);
    if (IsFolder(path)) {
        const std::string folder = ExtractFilePath(path);
        const std::string name = ExtractFileName(path);
        // A link is removed as a link; what it leads to is never touched.
        if (folder.empty() || name.empty() || !IsLinkedFolder(folder, name))
            for (const std::string &child : FolderNames(path))
                PlanDeletion(path + "\\" + child, Items);
    }
    Items.push_back(path);
}

void DeleteBrowseItem(const std::string &Path) {
    std::vector<std::string> items;
    PlanDeletion(Path, items);
    for (const std::string &item : items) {
        if (IsFolder(item) ? RemoveDirectoryA(item.c_str()) : DeleteFileA(item.c_str()))
            continue;
        // A link to a folder may be a file to the system that holds it.
        if (!DeleteFileA(item.c_str()) && !RemoveDirectoryA(item.c_str()))
            throw Exception("Could not delete '%s'.", item);
    }
}
