// The ZIP reader of downloaded formula collections and the installer that puts their members into
// the public formula folder.
//
// The reader walks the local file headers from the start of the archive; the central directory
// ends the list. It trusts nothing of the archive: member names are cut to their last component
// (after '/', '\' or ':') and names that could reach another folder or a device are refused, sizes
// are checked against the archive before anything is read, inflation stops at the member's size,
// and each member's CRC-32 is checked before its file replaces anything (members are written
// through TSafeFileStream, so a bad member never destroys a good local file).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AdvDlgs.h"
#include "Classes.h"
#include "GenClasses.h"
#include "SysUtils.h"

DECLARE_EXCEPTION(EZipError, Exception);

// Largest member the reader unpacks; formula files are a few hundred kilobytes at most.
constexpr std::uint32_t MaxZipMemberSize = 64u * 1024 * 1024;

// True when Name (one path component) may be created inside a folder: not empty, not "." or
// "..", no control character or one of  < > : " / \ | ? *, no trailing dot or blank, and not a
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension).
bool IsSafeMemberName(const std::string &Name);

class TZipEntry : public TObject {
public:
    // Reads the local header at Stream's position and leaves the stream after the member's data.
    explicit TZipEntry(TStream &AStream);
    DECLARE_CLASS_NAME(TZipEntry)

    bool Compressed = false;
    TDateTime Date = 0;
    std::string FileName;
    std::string Folder;
    std::uint32_t DataPosition = 0;
    std::uint32_t Size = 0;
    TStream *Stream;
    std::uint32_t CompressedSize = 0;
    std::uint32_t Crc = 0;

    // Writes the member's Size bytes to Destination. Raises EZipError "Error while decompressing
    // ZIP file" for broken or short data and "Checksum error in ZIP file" when the bytes do not
    // match the member's CRC-32 (what was written by then stays in Destination).
    void ExtractTo(TStream &Destination);

private:
    void ReadHeader();
};

class TZipReader : public TObject {
public:
    explicit TZipReader(TStream &AStream);
    DECLARE_CLASS_NAME(TZipReader)

    int Count() const { return static_cast<int>(FEntries.size()); }
    // Index errors raise EListError.
    TZipEntry *GetEntry(int I) const;

private:
    void ReadEntries();
    std::vector<std::unique_ptr<TZipEntry>> FEntries;
    TStream &FStream;
};

// The message boxes of the installer and of the formula update (AdvMessageDlg by default); tests
// answer them here. The result is the modal result of the button chosen.
using TInstallerMessageDialog =
    std::function<int(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons)>;
void SetInstallerMessageDialog(TInstallerMessageDialog Dialog);
int ShowInstallerMessage(const std::string &Message, TMsgDlgType Type, TMsgDlgButtons Buttons);

// The file date of an existing file as a date value; 0 when it has none.
TDateTime GetFileDate(const std::string &FileName);
// Sets the last write time of FileName to Date (local time); false when that fails.
bool SetFileDate(const std::string &FileName, TDateTime Date);

class TFormulaInstaller : public TObject {
public:
    static constexpr std::uint8_t rmAsk = 0, rmReplaceAll = 1, rmKeepAll = 2;

    // The Formula and FormulaPublic folders of the configuration.
    TFormulaInstaller();
    TFormulaInstaller(const std::string &FormulaFolder, const std::string &PublicFolder);
    DECLARE_CLASS_NAME(TFormulaInstaller)

    std::int32_t Added = 0;
    std::uint8_t ReplaceMode = rmAsk;
    std::unique_ptr<TStringList> Messages;
    std::unique_ptr<TLogFile> Log;
    std::string LogFileName;
    std::unique_ptr<TStringList> OwnFiles;
    std::unique_ptr<TStringList> PublicFiles;
    std::unique_ptr<TStringList> PublicFolders;
    std::int32_t Replaced = 0;
    std::int32_t Skipped = 0;

    void Install(const std::string &ArchiveFileName);
    void InstallSingleFile(const std::string &DownloadedFile, const std::string &FileName);

private:
    void Scan(const std::string &Folder, bool Public);
    void InstallEntry(TZipEntry &Entry);
    bool ConfirmReplace(const std::string &LocalFile, const TZipEntry &Entry);
    int PublicIndexOf(const std::string &FileName) const;
    std::string FFormulaFolder;
    std::string FPublicFolder;
};
