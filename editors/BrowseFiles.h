// The browser's work on files, folders and entries, without its window: where a paste or a drop
// may go, pasting files and entries with the clash questions, new file and folder names, the
// save-mode check of a file name, and walking a typed location.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "BrowseItems.h"

class TEntryCollection;

// Asks a question with Yes, No, Cancel, No to All and Yes to All (or Yes and No only when
// WithAll is false); returns mrYes, mrNo, mrCancel, mrNoToAll or mrYesToAll.
using TBrowseConfirm = std::function<int(const std::string &Message, bool WithAll)>;
// The program's confirmation dialog, or the one a test set; an empty one restores the dialog.
void SetBrowseConfirmDialog(TBrowseConfirm Confirm);
int BrowseConfirm(const std::string &Message, bool WithAll);
// Warnings of the save-mode check (OK only); the same seam style as above.
using TBrowseWarning = std::function<void(const std::string &Message)>;
void SetBrowseWarningDialog(TBrowseWarning Warning);
void BrowseWarning(const std::string &Message);

// Whether items Names of SourceFolder may go into Target: none of them may be the target or hold
// it; into their own folder only copying is allowed. Letter case is ignored.
bool NotIntoItself(const std::string &SourceFolder, const std::vector<std::string> &Names,
                   const std::string &Target, bool CopyMode);

// Paste modes: a drag moves, Copy copies, Cut (cut and paste) moves.
constexpr int pmDrag = 0;
constexpr int pmCopy = 1;
constexpr int pmCut = 2;

// The first of "Copy of " + Name, "Copy (2) of " + Name, ... that names nothing in Folder.
std::string MakeCopyTarget(const std::string &Folder, const std::string &Name);
// Copies or moves Names from SourceFolder into TargetFolder, asking before each clash unless an
// earlier answer covered it. "No" leaves the clashing item alone: a file stays where it is, and a
// folder has only its non-clashing contents moved (the source folder stays when anything is left
// in it). Returns false when the user cancelled; what was done before stays done. Errors of the
// file system raise EFileMoveError.
bool PasteFiles(const std::string &SourceFolder, const std::string &TargetFolder, int Mode,
                const std::vector<std::string> &Names, const TBrowseConfirm &Confirm);

// Entries Names of Source into Target (the same file when SameFile). Within one file each entry
// gets a copy titled "Copy of " + title (the next free copy title); between files an entry whose
// title the target has already is asked about. An entry that overwrites is appended first and the
// old entries of that title deleted after, so that a failed append loses nothing. When not Copy,
// pasted entries are deleted from the source. Returns false when the user cancelled.
bool PasteEntries(TEntryCollection &Source, TEntryCollection &Target, bool SameFile, bool Copy,
                  const std::vector<std::string> &Names, const std::string &TargetName,
                  const TBrowseConfirm &Confirm);

// "New Folder", then "New Folder (2)", ... : the first that does not exist in Folder; created.
std::string CreateNewFolder(const std::string &Folder);
// Template "New Parameter File.opr": that name, then "New Parameter File (2).opr", ...; an empty
// file is created. Returns the full path.
std::string CreateNewFile(const std::string &Folder, const std::string &Template);

// What the save-mode check finds about a file name.
enum class TSaveTarget : std::uint8_t {
    Exists,    // there is a file (readable or not)
    Creatable, // there is none, and one can be created there
    Invalid,   // the name cannot be created
};
// Existence is told by the file's attributes, never by opening it; a name that does not exist is
// tried by creating a new file, and only a file the probe itself created is deleted again.
TSaveTarget ProbeSaveTarget(const std::string &FileName);

// The message of a location that does not exist.
std::string CannotFindMessage(const std::string &Text);
// Walks a typed location "X:\folder\file" down from its drive: each component must exist (the
// last one a folder or a file of the filter's kind), and comes back with its letter case on disk.
// A trailing backslash ends the walk. EBrowseException with CannotFindMessage otherwise.
std::string ResolveLocation(const std::string &Text, std::uint8_t Filter);

// Whether sub-folder Name of Folder is a link (a reparse point, or a folder that ends somewhere
// else than inside Folder: Wine shows host symbolic links as plain folders).
bool IsLinkedFolder(const std::string &Folder, const std::string &Name);
// What deleting Path removes, contents before their folder; linked folders are listed as
// themselves, never with what they lead to.
void PlanDeletion(const std::string &Path, std::vector<std::string> &Items);
// Deletes a file, or a folder with its contents, as PlanDeletion lists them; raises
// "Could not delete '%s'." for the first item that stays.
void DeleteBrowseItem(const std::string &Path);
