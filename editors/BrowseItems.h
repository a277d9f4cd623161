// What the browser lists, without its window: the file kinds and their extensions, the texts of
// sizes and types, the rows of a folder or of an entry file, and their sort order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "SysUtils.h"

// The browser's own exception (a location that does not exist, and the like).
DECLARE_EXCEPTION(EBrowseException, Exception);

// Browser kinds: the file-type filter, the tree and list icons and the entry kinds.
constexpr std::uint8_t bkAll = 0;
constexpr std::uint8_t bkFractal = 1;
constexpr std::uint8_t bkParameters = 2;
constexpr std::uint8_t bkGradient = 3;
constexpr std::uint8_t bkTransform = 4;
constexpr std::uint8_t bkFormula = 5;
constexpr std::uint8_t bkColoring = 6;
constexpr std::uint8_t bkOutsideColoring = 7;
constexpr std::uint8_t bkInsideColoring = 8;

// Icons of tree nodes and list rows beyond the file kinds 1 to 6.
constexpr int biFolder = 7;
constexpr int biOpenFolder = 8;
constexpr int biFixedDrive = 9;
constexpr int biRemovableDrive = 10;
constexpr int biCDROMDrive = 11;
constexpr int biComputer = 12;
constexpr int biLibrary = 13;

// List contents.
constexpr std::uint8_t bcNothing = 0;
constexpr std::uint8_t bcDrives = 1;
constexpr std::uint8_t bcFolder = 2;
constexpr std::uint8_t bcParameters = 3;
constexpr std::uint8_t bcGradients = 4;
constexpr std::uint8_t bcFormulas = 5;

// The kind 1 to 6 of an extension (with its dot, case ignored); 0 for any other.
std::uint8_t KindOfExtension(const std::string &Extension);
std::uint8_t KindOfFile(const std::string &FileName);
// "Fractal", "Parameter Set", ... for kinds 1 to 8; empty otherwise.
std::string KindName(std::uint8_t Kind);
// The filter's item text ("All Files", "Fractal Files", ...) for kinds 0 to 8.
std::string KindFilterName(std::uint8_t Kind);
// Whether a file of kind FileKindValue shows under the filter kind Filter.
bool FileMatchesKind(std::uint8_t FileKindValue, std::uint8_t Filter);

// "%.3g" of the size in KB, MB or GB with the unit ("74.5GB"), independent of the locale.
std::string DiskSizeText(double Bytes);
// The size rounded up to whole KB with thousands separators ("2KB", "1,234KB").
std::string FileSizeText(std::int64_t Bytes);
// The type column of a folder row: "Folder", "Fractal", or the kind name followed by "s".
std::string FolderRowTypeText(int Icon);

// One row of the list.
class TVirtualListItem : public TObject {
public:
    DECLARE_CLASS_NAME(TVirtualListItem)
    std::string Caption;
    std::uint8_t Kind = 0;
    double PrimaryValue = 0;
    double SecondaryValue = 0;
    int ImageIndex = 0;
    std::vector<std::string> SubItems;
};

// The rows of the list with their sort.
class TVirtualListItems : public TObject {
public:
    DECLARE_CLASS_NAME(TVirtualListItems)
    using TCompare = std::function<int(const TVirtualListItem &A, const TVirtualListItem &B)>;

    TVirtualListItem &Add();
    void Clear() { FItems.clear(); }
    int Count() const { return static_cast<int>(FItems.size()); }
    TVirtualListItem &Item(int I) const { return *FItems.at(std::size_t(I)); }
    void SetCapacity(int Capacity) { FItems.reserve(std::size_t(Capacity)); }
    // Sorts the rows by OnCompare; nothing without one.
    void Sort();

    TCompare OnCompare;

private:
    std::vector<std::unique_ptr<TVirtualListItem>> FItems;
};

// Rows of folder Folder (with or without backslash): its sub-folders and the files matching
// Filter, names without lower-case letters capitalised ("MY.OPR" -> "My.opr"). Hidden and system
// entries are left out. A folder that cannot be read gives no rows.
void ReadFolderRows(const std::string &Folder, std::uint8_t Filter, TVirtualListItems &Items);
// Rows of an entry file for the list content: parameter sets (not "comment", not names with ':'),
// the one fractal of an .ofr file, gradients, or formulas of kind FileKindValue (4 to 6; with
// Filter 7 or 8 the colorings of the other side are left out). A file that cannot be read gives
// no rows.
void ReadEntryRows(const std::string &FileName, std::uint8_t Content, std::uint8_t Filter,
                   TVirtualListItems &Items);

// The list's order for a content and sort column; the result is negated when not Ascending.
int CompareRows(const TVirtualListItem &A, const TVirtualListItem &B, std::uint8_t Content, int Column,
                bool Ascending, bool ParameterFile);

// The content a tree node of that icon shows.
std::uint8_t ContentOfIcon(int Icon);
