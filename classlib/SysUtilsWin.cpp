// Win32 part of the class library core: file system queries, the clock and the main thread id.
#include <windows.h>

#include "SysUtils.h"

uint32_t MainThreadID = 0;

namespace {
// Runs on the process's first thread before main; only stores a number.
__attribute__((constructor)) void RecordMainThreadID() {
    MainThreadID = GetCurrentThreadId();
}

DWORD Attributes(const std::string &name) {
    return GetFileAttributesA(name.c_str());
}

TDateTime SystemTimeToDateTime(const SYSTEMTIME &st, bool withDate, bool withTime) {
    TDateTime result = 0;
    if (withDate)
        result = EncodeDate(st.wYear, st.wMonth, st.wDay);
    if (withTime)
        result += EncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return result;
}
} // namespace

bool FileExists(const std::string &FileName) {
    DWORD a = Attributes(FileName);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string &Name) {
    DWORD a = Attributes(Name);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateDir(const std::string &Dir) {
    return CreateDirectoryA(Dir.c_str(), nullptr) != 0;
}

bool RemoveDir(const std::string &Dir) {
    return RemoveDirectoryA(Dir.c_str()) != 0;
}

bool ForceDirectories(const std::string &Dir) {
    std::string dir = ExcludeTrailingPathDelimiter(Dir);
    if (dir.empty())
        return false;
    if (DirectoryExists(dir))
        return true;
    std::string parent = ExcludeTrailingPathDelimiter(ExtractFilePath(dir));
    if (!parent.empty() && parent != dir && !ForceDirectories(parent))
        return false;
    // Another process may have made it in the meantime.
    return CreateDir(dir) || DirectoryExists(dir);
}

namespace classlib_detail {
bool DeleteFileByName(const std::string &FileName) {
    return DeleteFileA(FileName.c_str()) != 0;
}
} // namespace classlib_detail

bool RenameFile(const std::string &OldName, const std::string &NewName) {
    return MoveFileA(OldName.c_str(), NewName.c_str()) != 0;
}

std::string ExpandFileName(const std::string &FileName) {
    char buffer[MAX_PATH];
    char *namePart = nullptr;
    DWORD length = GetFullPathNameA(FileName.c_str(), sizeof(buffer), buffer, &namePart);
    if (length == 0)
        return FileName;
    if (length < sizeof(buffer))
        return std::string(buffer, length);
    std::string big(length, '\0');
    length = GetFullPathNameA(FileName.c_str(), length, big.data(), &namePart);
    big.resize(length);
    return big;
}

std::string GetCurrentDir() {
    DWORD length = GetCurrentDirectoryA(0, nullptr);
    if (length == 0)
        return std::string();
    std::string dir(length, '\0');
    length = GetCurrentDirectoryA(static_cast<DWORD>(dir.size()), dir.data());
    dir.resize(length);
    return dir;
}

int32_t FileAge(const std::string &FileName) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(FileName.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) ||
        !FileTimeToDosDateTime(&local, &date, &time))
        return -1;
    return static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
}

TDateTime Now() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return SystemTimeToDateTime(st, true, true);
}

TDateTime Date() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return SystemTimeToDateTime(st, true, false);
}

TDateTime Time() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return SystemTimeToDateTime(st, false, true);
}

std::string SysErrorMessage(uint32_t ErrorCode) {
    char *buffer = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, ErrorCode, 0, reinterpret_cast<char *>(&buffer), 0, nullptr);
    std::string text = length && buffer ? std::string(buffer, length) : std::string();
    if (buffer)
        LocalFree(buffer);
    return TrimRight(text);
}
