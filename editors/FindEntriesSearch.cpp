#include "FindEntriesSearch.h"

#include <windows.h>

#include <algorithm>

#include "BrowseFiles.h"
#include "BrowseItems.h"
#include "CompEntries.h"
#include "CompFileManager.h"
#include "GenClasses.h"
#include "GenUtils.h"
#include "SysUtils.h"

namespace {

bool Contains(const std::string &Value, const std::string &Input) {
    return Input.empty() || LowerCase(Value).find(LowerCase(Input)) != std::string::npos;
}

std::string WithoutStars(std::string S) {
    S.erase(std::remove(S.begin(), S.end(), '*'), S.end());
    return S;
}

} // namespace

TFindEntriesSearch::TFindEntriesSearch(std::uint8_t AKind, bool ABrowserMode)
    : FKind(AKind >= bkParameters && AKind <= bkInsideColoring ? AKind : bkParameters),
      FBrowserMode(ABrowserMode) {}

std::string TFindEntriesSearch::EntityName() const {
    if (!FBrowserMode)
        return "formula";
    return LowerCase(KindName(FKind >= bkColoring ? bkColoring : FKind));
}

std::vector<std::string> TFindEntriesSearch::Patterns() const {
    switch (FKind) {
    case bkParameters:
        return {"*.opr", "*.par"};
    case bkGradient:
        return {"*.ogr", "*.oal"};
    case bkTransform:
        return {"*.oxf"};
    case bkFormula:
        return {"*.ofm", "*.frm"};
    default:
        return {"*.ocl"};
    }
}

std::string TFindEntriesSearch::StatusText() const {
    return Format(" %d %s(s) found", FFound, EntityName());
}

void TFindEntriesSearch::SearchFolder(const std::string &Folder) {
    for (const std::string &pattern : Patterns()) {
        if (Stopped())
            return;
        SearchPattern(AddTrailingBackslash(Folder), pattern);
    }
}

void TFindEntriesSearch::SearchPattern(const std::string &Folder, const std::string &Pattern) {
    if (SubFolders) {
        std::vector<std::string> folders;
        TFileEnumerator entries(Folder + "*.*", faDirectory | faReadOnly | faArchive | faHidden | faSysFile);
        while (entries.Next())
            if (entries.HasAttribute(faDirectory) && entries.GetName() != "." && entries.GetName() != "..")
                folders.push_back(entries.GetName());
        for (const std::string &name : folders) {
            if (Stopped())
                return;
            // Under Wine a drive can expose the whole host file system through links.
            if (IsLinkedFolder(Folder, name))
                continue;
            SearchPattern(Folder + name + "\\", Pattern);
        }
    }
    const std::string filter = LowerCase(WithoutStars(FilesFilter));
    std::vector<std::string> files;
    TFileEnumerator entries(Folder + Pattern, faReadOnly | faArchive);
    while (entries.Next())
        if (filter.empty() || LowerCase(entries.GetName()).find(filter) != std::string::npos)
            files.push_back(entries.GetName());
    for (const std::string &name : files) {
        if (Stopped())
            return;
        const std::string fileName = Folder + name;
        try {
            if (TFileManager *manager = FileManager()) {
                TEntryFileReference file(manager->OpenFile(fileName));
                SearchEntries(*file, fileName);
            } else {
                auto file = TEntryReader::CreateFromFile(fileName, false);
                SearchEntries(*file, fileName);
            }
        } catch (const Exception &) {
            // A file that cannot be read has no matches.
        }
    }
}

void TFindEntriesSearch::SearchEntries(TEntryCollection &Collection, const std::string &FileName) {
    TEntryCollectionLock lock(Collection);
    for (int i = 0; i < Collection.GetCount(); ++i) {
        if (Stopped())
            return;
        TEntryData &entry = *Collection.GetEntry(i);
        if (FKind != bkParameters && FKind != bkGradient && SameText(entry.Name(), "comment"))
            continue;
        if (!Contains(entry.Name(), Identifier) || !Contains(entry.GetComments(), Comments) ||
            !Contains(entry.GetTitle(), Title))
            continue;
        if (FKind == bkParameters) {
            if (!Contains(entry.GetAuthor(), Author))
                continue;
            const std::string formulaFile = WithoutStars(FormulaFile);
            if (!formulaFile.empty() && !entry.ReferencesFile(formulaFile))
                continue;
            if (!FormulaEntry.empty() && !entry.ReferencesEntry(FormulaEntry))
                continue;
        }
        if (FKind == bkOutsideColoring && SameText(entry.Title(), "inside"))
            continue;
        if (FKind == bkInsideColoring && SameText(entry.Title(), "outside"))
            continue;
        TFoundEntry found;
        found.Title = entry.GetTitle();
        found.Identifier = entry.Name();
        found.Comments = JoinLines(entry.GetComments());
        if (FKind == bkParameters) {
            found.Author = entry.GetAuthor();
            const TDateTime date = entry.GetDate();
            found.Date = date > 0 ? DateToLongText(date) : std::string();
            found.Day = date > 0 ? double(static_cast<long long>(date)) : 0;
        }
        found.Location = FileName;
        ++FFound;
        if (OnFound)
            OnFound(found);
    }
}
