#include "BrowseItems.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "CompEntries.h"
#include "CompFileManager.h"
#include "FracFiles.h"
#include "GenClasses.h"
#include "GenUtils.h"

namespace {

struct TKindInfo {
    const char *Name;
    const char *FilterName;
    const char *Extensions; // ';'-separated, with dots
};

constexpr TKindInfo KindTable[] = {
    {"", "All Files", ""},
    {"Fractal", "Fractal Files", ".ofr"},
    {"Parameter Set", "Parameter Files", ".opr;.par"},
    {"Gradient", "Gradient Files", ".ogr;.map;.oal"},
    {"Transformation", "Transformations", ".oxf"},
    {"Fractal Formula", "Fractal Formulas", ".ofm;.frm"},
    {"Coloring Algorithm", "Coloring Algorithms", ".ocl"},
    {"Outside Coloring Algorithm", "Coloring Algorithms", ""},
    {"Inside Coloring Algorithm", "Coloring Algorithms", ""},
};
constexpr int KindCount = sizeof(KindTable) / sizeof(KindTable[0]);

// An entry file from the shared cache when the program has one, else read on its own; released
// when the holder goes.
class TEntryFileHolder {
public:
    explicit TEntryFileHolder(const std::string &FileName, bool KeepTexts) {
        if (TFileManager *manager = FileManager()) {
            FShared = KeepTexts ? manager->OpenFileWithTexts(FileName) : manager->OpenFile(FileName);
            return;
        }
        if (FileExists(FileName))
            FOwned = TEntryReader::CreateFromFile(FileName, KeepTexts);
    }
    ~TEntryFileHolder() {
        if (FShared)
            FShared->Release();
    }
    TEntryFileHolder(const TEntryFileHolder &) = delete;
    TEntryFileHolder &operator=(const TEntryFileHolder &) = delete;
    TEntryCollection *Get() const {
        return FShared ? static_cast<TEntryCollection *>(FShared) : FOwned.get();
    }

private:
    TEntryFile *FShared = nullptr;
    std::unique_ptr<TEntryCollection> FOwned;
};

bool HasSection(const std::string &Text, const char *Section) {
    // A section starts a line with its name and a colon.
    const std::string lower = LowerCase(Text);
    const std::string name = std::string(Section) + ":";
    for (std::size_t at = lower.find(name); at != std::string::npos; at = lower.find(name, at + 1)) {
        std::size_t start = at;
        while (start > 0 && (lower[start - 1] == ' ' || lower[start - 1] == '\t'))
            --start;
        if (start == 0 || lower[start - 1] == '\n' || lower[start - 1] == '\r')
            return true;
    }
    return false;
}

std::string DateText(TDateTime Date) {
    return Date > 0 ? DateToLongText(Date) : std::string();
}

// The comment text of a .map file: what its lines hold after their leading tabs, blanks and
// digits, each trimmed at the right, joined with single blanks.
std::string MapFileComments(const std::string &FileName) {
    TStringList lines;
    try {
        lines.LoadFromFile(FileName);
    } catch (const Exception &) {
        return std::string();
    }
    std::string result;
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string &line = lines[i];
        std::size_t p = 0;
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t' || (line[p] >= '0' && line[p] <= '9')))
            ++p;
        std::string rest = line.substr(p);
        while (!rest.empty() && static_cast<unsigned char>(rest.back()) <= ' ')
            rest.pop_back();
        if (rest.empty())
            continue;
        if (!result.empty())
            result += ' ';
        result += rest;
    }
    return result;
}

int Sign(double A, double B) {
    return A < B ? -1 : A > B ? 1 : 0;
}

} // namespace

std::uint8_t KindOfExtension(const std::string &Extension) {
    const std::string ext = LowerCase(Extension);
    if (ext.size() < 2)
        return bkAll;
    for (int kind = bkFractal; kind <= bkColoring; ++kind) {
        const std::string list = std::string(";") + KindTable[kind].Extensions + ";";
        if (list.find(";" + ext + ";") != std::string::npos)
            return static_cast<std::uint8_t>(kind);
    }
    return bkAll;
}

std::uint8_t KindOfFile(const std::string &FileName) {
    return KindOfExtension(ExtractFileExt(FileName));
}

std::string KindName(std::uint8_t Kind) {
    return Kind >= bkFractal && Kind < KindCount ? KindTable[Kind].Name : "";
}

std::string KindFilterName(std::uint8_t Kind) {
    return Kind < KindCount ? KindTable[Kind].FilterName : "";
}

bool FileMatchesKind(std::uint8_t FileKindValue, std::uint8_t Filter) {
    if (FileKindValue < bkFractal || FileKindValue > bkColoring)
        return false;
    if (Filter == bkAll)
        return true;
    if (Filter >= bkColoring)
        return FileKindValue == bkColoring;
    return FileKindValue == Filter;
}

std::string DiskSizeText(double Bytes) {
    double x = Bytes / 1024;
    const char *unit = "KB";
    if (x >= 1048576) {
        x /= 1048576;
        unit = "GB";
    } else if (x >= 1024) {
        x /= 1024;
        unit = "MB";
    }
    // The C library formats with '.' whatever the user's locale: the program never changes the
    // C locale.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.3g%s", x, unit);
    return buffer;
}

std::string FileSizeText(std::int64_t Bytes) {
    const std::string digits = std::to_string((Bytes + 1023) / 1024);
    std::string result;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            result += ',';
        result += digits[i];
    }
    return result + "KB";
}

std::string FolderRowTypeText(int Icon) {
    if (Icon == biFolder || Icon == biOpenFolder)
        return "Folder";
    if (Icon == bkFractal)
        return "Fractal";
    return KindName(static_cast<std::uint8_t>(Icon)) + "s";
}

TVirtualListItem &TVirtualListItems::Add() {
    FItems.push_back(std::make_unique<TVirtualListItem>());
    return *FItems.back();
}

void TVirtualListItems::Sort() {
    if (FItems.empty() || !OnCompare)
        return;
    std::stable_sort(FItems.begin(), FItems.end(),
                     [this](const auto &a, const auto &b) { return OnCompare(*a, *b) < 0; });
}

void ReadFolderRows(const std::string &Folder, std::uint8_t Filter, TVirtualListItems &Items) {
    const std::string folder = AddTrailingBackslash(Folder);
    TFileEnumerator entries(folder + "*.*", faReadOnly | faArchive | faDirectory);
    while (entries.Next()) {
        const std::string name = entries.GetName();
        if (name == "." || name == "..")
            continue;
        const bool isFolder = entries.HasAttribute(faDirectory);
        const std::uint8_t kind = isFolder ? 0 : KindOfFile(name);
        if (!isFolder && !FileMatchesKind(kind, Filter))
            continue;
        TVirtualListItem &row = Items.Add();
        row.Caption = CapitalizeUpperCase(name);
        row.ImageIndex = isFolder ? biFolder : kind;
        const int packed = entries.GetTime();
        FILETIME local{};
        std::string modified;
        if (DosDateTimeToFileTime(WORD(packed >> 16), WORD(packed & 0xFFFF), &local)) {
            SYSTEMTIME time{};
            FileTimeToSystemTime(&local, &time);
            TDateTime date = 0;
            TDateTime clock = 0;
            if (TryEncodeDate(time.wYear, time.wMonth, time.wDay, date) &&
                TryEncodeTime(time.wHour, time.wMinute, time.wSecond, 0, clock))
                row.SecondaryValue = date + clock;
            modified = DateToShortText(date) + Format(" %d:%.2d", time.wHour, time.wMinute);
        }
        if (isFolder) {
            row.SubItems = {"", "Folder", modified};
        } else {
            row.PrimaryValue = double(entries.GetSize());
            row.SubItems = {FileSizeText(entries.GetSize()), FolderRowTypeText(kind), modified};
        }
    }
}

void ReadEntryRows(const std::string &FileName, std::uint8_t Content, std::uint8_t Filter,
                   TVirtualListItems &Items) {
    const std::uint8_t fileKind = KindOfFile(FileName);
    const std::string ext = LowerCase(ExtractFileExt(FileName));
    try {
        if (Content == bcParameters && ext == ".ofr") {
            std::unique_ptr<TEntryCollection> entries = ReadFractalFileEntries(FileName);
            if (!entries || entries->GetCount() == 0)
                return;
            TEntryData &entry = *entries->GetEntry(0);
            TVirtualListItem &row = Items.Add();
            row.Caption = entry.GetTitle();
            row.ImageIndex = bkParameters;
            row.PrimaryValue = entry.GetDate();
            row.SubItems = {entry.Name(), "Fractal", entry.GetAuthor(), DateText(entry.GetDate()),
                            JoinLines(entry.GetComments())};
            return;
        }
        if (Content == bcGradients && ext == ".map") {
            if (!FileExists(FileName))
                return;
            TVirtualListItem &row = Items.Add();
            row.Caption = ExtractFileTitle(FileName);
            row.ImageIndex = bkGradient;
            row.SubItems = {row.Caption, "Color Gradient", MapFileComments(FileName)};
            return;
        }
        TEntryFileHolder file(FileName, Content == bcFormulas);
        TEntryCollection *entries = file.Get();
        if (!entries)
            return;
        TEntryCollectionLock lock(*entries);
        Items.SetCapacity(Items.Count() + entries->GetCount());
        for (int i = 0; i < entries->GetCount(); ++i) {
            TEntryData &entry = *entries->GetEntry(i);
            if (SameText(entry.Name(), "comment"))
                continue;
            if (Content == bcParameters) {
                if (entry.Name().find(':') != std::string::npos)
                    continue;
                TVirtualListItem &row = Items.Add();
                row.Caption = entry.GetTitle();
                row.Kind = bkParameters;
                row.ImageIndex = bkParameters;
                row.PrimaryValue = entry.GetDate();
                row.SubItems = {entry.Name(), "Parameter Set", entry.GetAuthor(), DateText(entry.GetDate()),
                                JoinLines(entry.GetComments())};
            } else if (Content == bcGradients) {
                const std::string &text = entry.GetText();
                const bool colors = HasSection(text, "gradient");
                const bool opacity = HasSection(text, "opacity") || HasSection(text, "alpha");
                TVirtualListItem &row = Items.Add();
                row.Caption = entry.GetTitle().empty() ? entry.Name() : entry.GetTitle();
                row.Kind = bkGradient;
                row.ImageIndex = bkGradient;
                row.SubItems = {entry.Name(),
                                !colors   ? "Opacity Gradient"
                                : opacity ? "Color/Opacity Gradient"
                                          : "Color Gradient",
                                JoinLines(entry.GetComments())};
            } else if (Content == bcFormulas) {
                std::uint8_t kind = fileKind;
                if (fileKind == bkColoring) {
                    const std::string side = LowerCase(entry.Title());
                    kind = side == "outside"  ? bkOutsideColoring
                           : side == "inside" ? bkInsideColoring
                                              : bkColoring;
                    if ((Filter == bkOutsideColoring || Filter == bkInsideColoring) && kind != bkColoring &&
                        kind != Filter)
                        continue;
                }
                TVirtualListItem &row = Items.Add();
                row.Caption = entry.GetTitle();
                row.Kind = kind;
                row.ImageIndex = fileKind;
                row.SubItems = {entry.Name(), KindName(kind), JoinLines(entry.GetComments())};
            }
        }
    } catch (const Exception &) {
        // A file that cannot be read shows the rows read so far.
    }
}

int CompareRows(const TVirtualListItem &A, const TVirtualListItem &B, std::uint8_t Content, int Column,
                bool Ascending, bool ParameterFile) {
    auto subItem = [](const TVirtualListItem &Row, int I) {
        return I >= 0 && I < int(Row.SubItems.size()) ? Row.SubItems[std::size_t(I)] : std::string();
    };
    int result = 0;
    switch (Content) {
    case bcDrives:
        if (Column == 0) {
            const char a = A.Caption.size() >= 3 ? A.Caption[A.Caption.size() - 3] : 0;
            const char b = B.Caption.size() >= 3 ? B.Caption[B.Caption.size() - 3] : 0;
            result = a < b ? -1 : a > b ? 1 : 0;
        } else if (Column == 1) {
            result = CompareText(subItem(A, 0), subItem(B, 0));
        } else if (Column == 2) {
            result = Sign(B.PrimaryValue, A.PrimaryValue);
        } else {
            result = Sign(B.SecondaryValue, A.SecondaryValue);
        }
        break;
    case bcFolder: {
        const bool aFolder = A.ImageIndex == biFolder;
        const bool bFolder = B.ImageIndex == biFolder;
        if (Column == 0) {
            // Folders first; negated with the rest in descending order, so that they come last.
            result = aFolder != bFolder ? (aFolder ? -1 : 1) : CompareText(A.Caption, B.Caption);
        } else if (Column == 1) {
            result = Sign(B.PrimaryValue, A.PrimaryValue);
        } else if (Column == 2) {
            result = CompareText(subItem(A, 1), subItem(B, 1));
        } else {
            result = Sign(B.SecondaryValue, A.SecondaryValue);
        }
        break;
    }
    default:
        if (Column == 0)
            result = CompareText(A.Caption, B.Caption);
        else if (ParameterFile && Column == 4)
            result = Sign(B.PrimaryValue, A.PrimaryValue);
        else
            result = CompareText(subItem(A, Column - 1), subItem(B, Column - 1));
        break;
    }
    return Ascending ? result : -result;
}

std::uint8_t ContentOfIcon(int Icon) {
    switch (Icon) {
    case biComputer:
        return bcDrives;
    case bkFractal:
    case bkParameters:
        return bcParameters;
    case bkGradient:
        return bcGradients;
    case bkTransform:
    case bkFormula:
    case bkColoring:
        return bcFormulas;
    default:
        return bcFolder;
    }
}
