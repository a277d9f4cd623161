#include "GenZip.h"

#include <windows.h>

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "GenSetup.h"
#include "GenUtils.h"

namespace {

constexpr std::uint32_t LocalHeaderSignature = 0x04034B50;
constexpr std::uint16_t FlagEncrypted = 0x0001;
constexpr std::uint16_t FlagDataDescriptor = 0x0008;
constexpr std::uint16_t MethodStored = 0;
constexpr std::uint16_t MethodDeflated = 8;
constexpr int ChunkSize = 32768;

TInstallerMessageDialog &InstallerDialog() {
    static TInstallerMessageDialog dialog;
    return dialog;
}

// Feeds at most CompressedSize bytes of raw deflate data through zlib into Destination and stops
// at Size bytes: an archive that inflates beyond its stated size is broken, not a reason to fill
// the disk.
std::uint32_t Inflate(TStream &Source, TStream &Destination, std::uint32_t CompressedSize,
                      std::uint32_t Size) {
    z_stream zs{};
    if (inflateInit2(&zs, -MAX_WBITS) != Z_OK)
        throw EZipError("Error while decompressing ZIP file");
    std::vector<unsigned char> input(ChunkSize), output(ChunkSize);
    std::uint32_t crc = crc32(0, nullptr, 0);
    std::uint32_t inputLeft = CompressedSize, written = 0;
    bool broken = false, ended = false;
    try {
        while (!ended && !broken) {
            if (zs.avail_in == 0 && inputLeft > 0) {
                const int count = static_cast<int>(std::min<std::uint32_t>(inputLeft, ChunkSize));
                Source.ReadBuffer(input.data(), count);
                inputLeft -= count;
                zs.next_in = input.data();
                zs.avail_in = count;
            }
            zs.next_out = output.data();
            zs.avail_out = ChunkSize;
            const int result = inflate(&zs, Z_NO_FLUSH);
            const std::uint32_t produced = ChunkSize - zs.avail_out;
            if (produced > Size - written) {
                broken = true;
                break;
            }
            Destination.WriteBuffer(output.data(), static_cast<int32_t>(produced));
            crc = crc32(crc, output.data(), produced);
            written += produced;
            if (result == Z_STREAM_END)
                ended = true;
            else if (result != Z_OK)
                broken = true;
            else if (produced == 0 && zs.avail_in == 0 && inputLeft == 0)
                broken = true; // the data ends before the deflate stream does
        }
    } catch (...) {
        inflateEnd(&zs);
        throw;
    }
    inflateEnd(&zs);
    if (broken || written != Size)
        throw EZipError("Error while decompressing ZIP file");
    return crc;
}

std::uint32_t CopyStored(TStream &Source, TStream &Destination, std::uint32_t Size) {
    std::vector<unsigned char> buffer(ChunkSize);
    std::uint32_t crc = crc32(0, nullptr, 0);
    for (std::uint32_t left = Size; left > 0;) {
        const int count = static_cast<int>(std::min<std::uint32_t>(left, ChunkSize));
        if (Source.Read(buffer.data(), count) != count)
            throw EZipError("Error while decompressing ZIP file");
        Destination.WriteBuffer(buffer.data(), count);
        crc = crc32(crc, buffer.data(), count);
        left -= count;
    }
    return crc;
}

bool IsDeviceName(const std::string &Name) {
    const std::string base = UpperCase(Name.substr(0, Name.find('.')));
    static const char *const devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : devices)
        if (base == device)
            return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

} // namespace

bool IsSafeMemberName(const std::string &Name) {
    if (Name.empty() || Name == "." || Name == "..")
        return false;
    for (unsigned char c : Name)
        if (c < 32 || c == 127 || std::strchr("<>:\"/\\|?*", c))
            return false;
    // The system drops trailing dots and blanks, so "a.ofm." would name another file than it says.
    if (Name.back() == '.' || Name.back() == ' ')
        return false;
    return !IsDeviceName(Name);
}

void SetInstallerMessageDialog(TInstallerMessageDialog Dialog) {
    InstallerDialog() = std::move(Dialog);
}

int ShowInstallerMessage(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons) {
    if (InstallerDialog())
        return InstallerDialog()(Message, Type, Buttons);
    return AdvMessageDlg(Message, Type, Buttons, 0);
}

TDateTime GetFileDate(const std::string &FileName) {
    const int32_t age = FileAge(FileName);
    if (age == -1)
        return 0;
    try {
        return FileDateToDateTime(age);
    } catch (const EConvertError &) {
        return 0;
    }
}

bool SetFileDate(const std::string &FileName, TDateTime Date) {
    uint16_t year, month, day, hour, minute, second, msec;
    DecodeDate(Date, year, month, day);
    DecodeTime(Date, hour, minute, second, msec);
    SYSTEMTIME local{};
    local.wYear = year;
    local.wMonth = month;
    local.wDay = day;
    local.wHour = hour;
    local.wMinute = minute;
    local.wSecond = second;
    local.wMilliseconds = msec;
    FILETIME localTime, utcTime;
    if (!SystemTimeToFileTime(&local, &localTime) || !LocalFileTimeToFileTime(&localTime, &utcTime))
        return false;
    HANDLE file = CreateFileA(FileName.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool done = SetFileTime(file, nullptr, nullptr, &utcTime) != 0;
    CloseHandle(file);
    return done;
}

// =============================================================================================
// TZipEntry

TZipEntry::TZipEntry(TStream &AStream) : Stream(&AStream) {
    ReadHeader();
}

void TZipEntry::ReadHeader() {
    TStream &s = *Stream;
    s.ReadUInt32(); // the signature, checked by the reader
    s.ReadUInt16(); // version needed
    const std::uint16_t flags = s.ReadUInt16();
    const std::uint16_t method = s.ReadUInt16();
    const std::uint32_t dosDate = s.ReadUInt32();
    const std::uint32_t crc = s.ReadUInt32();
    const std::uint32_t compressedSize = s.ReadUInt32();
    const std::uint32_t size = s.ReadUInt32();
    const std::uint16_t nameLength = s.ReadUInt16();
    const std::uint16_t extraLength = s.ReadUInt16();
    if (flags & FlagDataDescriptor)
        throw EZipError("Invalid file size in ZIP file");
    const std::string name = s.ReadString(nameLength);
    s.CheckLength(extraLength, 0xFFFF);
    s.Seek(extraLength, soFromCurrent);
    if (size == 0) {
        // A folder or an empty file: listed without a name, so nothing is made of it. A stored
        // member has no data; a deflated one a few bytes of an empty stream.
        const std::uint32_t skip = method == MethodStored ? 0 : compressedSize;
        s.CheckLength(skip, INT32_MAX);
        s.Seek(skip, soFromCurrent);
        return;
    }
    if (method != MethodStored && method != MethodDeflated)
        throw EZipError("Compression type in ZIP file not supported");
    if (flags & FlagEncrypted)
        throw EZipError("Encryption in ZIP file not supported");
    if (compressedSize == 0 || size > MaxZipMemberSize ||
        (method == MethodStored && compressedSize != size) || compressedSize > s.Remaining())
        throw EZipError("Invalid file size in ZIP file");
    // The member's own name, without any folder part in either separator: a name like
    // "../x.ofm" must never reach a folder outside the one the installer writes to.
    const size_t cut = name.find_last_of("/\\:");
    FileName = cut == std::string::npos ? name : name.substr(cut + 1);
    Folder = name.substr(0, name.size() - FileName.size());
    if (!IsSafeMemberName(FileName))
        throw EZipError("Invalid file name in ZIP file");
    Compressed = method == MethodDeflated;
    try {
        Date = FileDateToDateTime(static_cast<int32_t>(dosDate));
    } catch (const EConvertError &) {
        Date = 0;
    }
    DataPosition = static_cast<std::uint32_t>(s.Position());
    Size = size;
    CompressedSize = compressedSize;
    Crc = crc;
    s.Seek(compressedSize, soFromCurrent);
}

void TZipEntry::ExtractTo(TStream &Destination) {
    Stream->SetPosition(DataPosition);
    std::uint32_t crc;
    try {
        crc = Compressed ? Inflate(*Stream, Destination, CompressedSize, Size)
                         : CopyStored(*Stream, Destination, Size);
    } catch (const EReadError &) {
        throw EZipError("Error while decompressing ZIP file");
    }
    if (crc != Crc)
        throw EZipError("Checksum error in ZIP file");
}

// =============================================================================================
// TZipReader

TZipReader::TZipReader(TStream &AStream) : FStream(AStream) {
    ReadEntries();
}

void TZipReader::ReadEntries() {
    while (FStream.Remaining() >= 4) {
        const int64_t start = FStream.Position();
        const std::uint32_t signature = FStream.ReadUInt32();
        FStream.SetPosition(start);
        if (signature != LocalHeaderSignature)
            break;
        FEntries.push_back(std::make_unique<TZipEntry>(FStream));
    }
}

TZipEntry *TZipReader::GetEntry(int I) const {
    if (I < 0 || I >= Count())
        throw EListError("List index out of bounds (%d)", I);
    return FEntries[I].get();
}

// =============================================================================================
// TFormulaInstaller

TFormulaInstaller::TFormulaInstaller()
    : TFormulaInstaller(ConfigManager() ? ConfigManager()->Folder->Formula : std::string(),
                        ConfigManager() ? ConfigManager()->Folder->FormulaPublic : std::string()) {}

TFormulaInstaller::TFormulaInstaller(const std::string &FormulaFolder, const std::string &PublicFolder)
    : Messages(std::make_unique<TStringList>()), OwnFiles(std::make_unique<TStringList>()),
      PublicFiles(std::make_unique<TStringList>()), PublicFolders(std::make_unique<TStringList>()),
      FFormulaFolder(AddTrailingBackslash(FormulaFolder)), FPublicFolder(AddTrailingBackslash(PublicFolder)) {
    LogFileName = FPublicFolder + "Update.log";
    Log = std::make_unique<TLogFile>(LogFileName);
    // The user's own files are those of the formula folder tree outside the public folder; the
    // public folder is scanned on its own, wherever it lies, so that its files are known even
    // when it is not below the formula folder.
    Scan(FFormulaFolder, false);
    Scan(FPublicFolder, true);
    OwnFiles->Sort();
}

void TFormulaInstaller::Scan(const std::string &Folder, bool Public) {
    if (Folder.size() <= 1 || !DirectoryExists(RemoveTrailingBackslash(Folder)))
        return;
    std::vector<std::string> folders;
    TFileEnumerator entries(Folder + "*.*", faAnyFile);
    while (entries.Next()) {
        const std::string name = entries.GetName();
        if (name == "." || name == "..")
            continue;
        if (entries.HasAttribute(faDirectory))
            folders.push_back(Folder + name + "\\");
        else if (Public) {
            PublicFiles->Add(name);
            PublicFolders->Add(Folder);
        } else
            OwnFiles->Add(name);
    }
    for (const std::string &folder : folders)
        if (Public || !SameText(folder, FPublicFolder))
            Scan(folder, Public);
}

int TFormulaInstaller::PublicIndexOf(const std::string &FileName) const {
    for (int i = 0; i < PublicFiles->Count(); ++i)
        if (SameText(PublicFiles->Strings(i), FileName))
            return i;
    return -1;
}

void TFormulaInstaller::Install(const std::string &ArchiveFileName) {
    Log->Clear();
    Log->AddFormat("; Formula update log on %s:", DateTimeToStr(Now()));
    Log->AddEmptyLine();
    ReplaceMode = rmAsk;
    Added = Replaced = Skipped = 0;
    Messages->Clear();
    ForceDirectories(RemoveTrailingBackslash(FPublicFolder));
    {
        TFileStream archive(ArchiveFileName, fmOpenRead | fmShareDenyWrite);
        // Every header is read and checked before the first file is written.
        TZipReader reader(archive);
        for (int i = 0; i < reader.Count(); ++i)
            InstallEntry(*reader.GetEntry(i));
    }
    if (Messages->Count() > 0) {
        Log->AddEmptyLine();
        Log->Add("; Files not updated because they are already installed, but not in the public formula "
                 "folder:");
        for (int i = 0; i < Messages->Count(); ++i)
            Log->Add(Messages->Strings(i));
    }
    ShowInstallerMessage(
        Format("The formulas have been updated successfully.\r\rReplaced: %d files\rAdded: %d "
               "files\rSkipped: %d files\r\rFor more information, see the log file:\r%s",
               Replaced, Added, Skipped, LogFileName),
        mtInformation, {mbOK});
}

namespace {

// Writes Entry to Target through a temporary file: the target is replaced only once every byte
// was written and the checksum matched.
void ExtractToFile(TZipEntry &Entry, const std::string &Target) {
    {
        TSafeFileStream file(Target, fmCreate);
        Entry.ExtractTo(file);
        file.Commit();
    }
    SetFileDate(Target, Entry.Date);
}

} // namespace

void TFormulaInstaller::InstallEntry(TZipEntry &Entry) {
    if (Entry.FileName.empty())
        return; // a folder
    int index;
    if (OwnFiles->Find(Entry.FileName, index)) {
        Messages->Add(Entry.FileName);
        ++Skipped;
        return;
    }
    const int found = PublicIndexOf(Entry.FileName);
    if (found < 0) {
        ExtractToFile(Entry, FPublicFolder + Entry.FileName);
        PublicFiles->Add(Entry.FileName);
        PublicFolders->Add(FPublicFolder);
        Log->AddFormat("%s [added]", Entry.FileName);
        ++Added;
        return;
    }
    const std::string target = PublicFolders->Strings(found) + PublicFiles->Strings(found);
    if (GetFileDate(target) > Entry.Date && !ConfirmReplace(target, Entry)) {
        Log->AddFormat("%s [skipped]", Entry.FileName);
        ++Skipped;
        return;
    }
    ExtractToFile(Entry, target);
    Log->AddFormat("%s [replaced]", Entry.FileName);
    ++Replaced;
}

bool TFormulaInstaller::ConfirmReplace(const std::string &LocalFile, const TZipEntry &Entry) {
    if (ReplaceMode == rmReplaceAll)
        return true;
    if (ReplaceMode == rmKeepAll)
        return false;
    int64_t localSize = 0;
    {
        TFileEnumerator local(LocalFile, faAnyFile);
        if (local.Next())
            localSize = local.GetSize();
    }
    const std::string text = Format(
        "A formula file on your computer is newer than the corresponding file\rfrom the online formula "
        "library.\r\rDo you want to replace your file\r\r%s\r%s bytes\r%s\r\rwith this file from the "
        "online formula library?\r\r%s\r%u bytes\r%s",
        LocalFile, Int64ToStr(localSize), DateTimeToStr(GetFileDate(LocalFile)), Entry.FileName, Entry.Size,
        DateTimeToStr(Entry.Date));
    switch (ShowInstallerMessage(text, mtConfirmation, {mbYes, mbNo, mbNoToAll, mbYesToAll})) {
    case mrYes:
        return true;
    case mrYesToAll:
        ReplaceMode = rmReplaceAll;
        return true;
    case mrNoToAll:
        ReplaceMode = rmKeepAll;
        return false;
    default:
        return false;
    }
}

void TFormulaInstaller::InstallSingleFile(const std::string &DownloadedFile, const std::string &FileName) {
    if (!IsSafeMemberName(FileName))
        throw EZipError("Invalid file name '%s'", FileName);
    int index;
    if (OwnFiles->Find(FileName, index)) {
        ShowInstallerMessage("The file '" + FileName +
                                 "' could not be updated because it is\ralready installed, but "
                                 "not in the public formula folder.",
                             mtWarning, {mbOK});
        return;
    }
    const int found = PublicIndexOf(FileName);
    std::string target;
    if (found >= 0)
        target = PublicFolders->Strings(found) + PublicFiles->Strings(found);
    else {
        ForceDirectories(RemoveTrailingBackslash(FPublicFolder));
        target = FPublicFolder + FileName;
    }
    {
        TFileStream source(DownloadedFile, fmOpenRead | fmShareDenyWrite);
        TSafeFileStream file(target, fmCreate);
        file.CopyFrom(source, 0);
        file.Commit();
    }
    ShowInstallerMessage("The file '" + FileName + "' has been installed successfully.", mtInformation,
                         {mbOK});
}
