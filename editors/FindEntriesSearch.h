// Finding entries by title, comments, identifier, author and the formulas they use: the search of
// the find-entries dialog without its window. Folders are searched file by file, subfolders first;
// linked folders (junctions, symbolic links, any reparse point) are never walked into.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class TEntryCollection;

// One match, as the result list shows it.
struct TFoundEntry {
    std::string Title;
    std::string Identifier;
    std::string Comments;
    std::string Author;
    std::string Date;
    double Day = 0;
    std::string Location;
};

class TFindEntriesSearch {
public:
    // Kind 2 to 8 (anything else counts as 2); the editor's search names its entries "Formula".
    explicit TFindEntriesSearch(std::uint8_t AKind, bool ABrowserMode = true);

    std::string Title;
    std::string Comments;
    std::string Identifier;
    std::string Author;
    std::string FormulaEntry;
    std::string FormulaFile;
    std::string FilesFilter;
    bool SubFolders = true;

    // Called after every file and entry: true stops the search.
    std::function<bool()> StopRequested;
    // Each match as it is found.
    std::function<void(const TFoundEntry &)> OnFound;

    std::uint8_t Kind() const { return FKind; }
    // "parameter set", "gradient", ... (lower case), or "formula".
    std::string EntityName() const;
    // The file patterns of the kind: "*.opr" then "*.par", and so on.
    std::vector<std::string> Patterns() const;

    // Every pattern in Folder (and its subfolders with SubFolders).
    void SearchFolder(const std::string &Folder);
    void SearchEntries(TEntryCollection &Collection, const std::string &FileName);

    int FoundCount() const { return FFound; }
    // " %d %s(s) found" with the count and the entity name.
    std::string StatusText() const;

private:
    void SearchPattern(const std::string &Folder, const std::string &Pattern);
    bool Stopped() const { return StopRequested && StopRequested(); }

    std::uint8_t FKind;
    bool FBrowserMode;
    int FFound = 0;
};
