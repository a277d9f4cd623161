#include "CompFileManager.h"

#include <windows.h>

#include <algorithm>

#include "GenUtils.h"

namespace {

TFileManager *GFileManager = nullptr;

bool StartsWithVirtualPrefix(const std::string &Name) {
    return Name.size() >= 2 && Name[0] == ':' && Name[1] == ':';
}

bool EndsWithIgnoringCase(const std::string &Text, const std::string &Tail) {
    return Text.size() >= Tail.size() && SameText(Text.substr(Text.size() - Tail.size()), Tail);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TEntryFile

TEntryFile::TEntryFile(TFileManager *Manager, const std::string &AFileName)
    : FFileName(AFileName), FManager(Manager) {}

TEntryFile::TEntryFile(TFileManager *Manager, const std::string &AFileName, bool CreateIfMissing,
                       bool KeepTexts)
    : TEntryFile(Manager, AFileName) {
    if (CreateIfMissing && !FileExists(FFileName)) {
        try {
            TFileStream create(FFileName, fmCreate);
        } catch (const EStreamError &) {
            throw EEntryError("Could not open '%s'", FFileName);
        }
    }
    Scan(KeepTexts);
}

TEntryFile::~TEntryFile() {
    if (FManager)
        FManager->RemoveFile(this);
}

void TEntryFile::AddRef() {
    TEntryCollectionLock lock(*this);
    ++FRefCount;
}

void TEntryFile::Release() {
    TEntryCollectionLock lock(*this);
    if (FRefCount > 0)
        --FRefCount;
}

int TEntryFile::RefCount() {
    TEntryCollectionLock lock(*this);
    return FRefCount;
}

TStream *TEntryFile::GetStream(int Mode) {
    // Edits read the file and store a new one (StoreSource); they never write through this stream.
    if (Mode == smAppend && !FileExists(FFileName))
        return new TMemoryStream;
    try {
        return new TFileStream(FFileName, fmOpenRead | fmShareDenyWrite);
    } catch (const EStreamError &) {
        throw EEntryError("Could not open '%s'", FFileName);
    }
}

std::unique_ptr<TSafeFileStream> TEntryFile::CreateSaveStream() {
    return std::make_unique<TSafeFileStream>(FFileName, fmCreate);
}

void TEntryFile::StoreSource(const std::string &Content, std::size_t Unchanged) {
    // The whole file goes to a temporary copy, which replaces the file only after it was written
    // and closed without error; any failure before leaves the file as it was.
    try {
        std::unique_ptr<TSafeFileStream> stream = CreateSaveStream();
        stream->WriteBuffer(Content.data(), static_cast<int32_t>(Content.size()));
        stream->Commit();
    } catch (const EStreamError &e) {
        throw EEntryError("Could not save '%s': %s", FFileName, e.Message());
    }
    MarkChanged();
}

bool TEntryFile::SourceChanged() {
    // The full time stamp and the size: a file rewritten within the same second must still count
    // as changed, or its index would point at the wrong bytes.
    WIN32_FILE_ATTRIBUTE_DATA data;
    int64_t age = -1;
    int64_t size = -1;
    if (GetFileAttributesExA(FFileName.c_str(), GetFileExInfoStandard, &data)) {
        age = (static_cast<int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
              data.ftLastWriteTime.dwLowDateTime;
        size = (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    bool changed = age != FFileAge || size != FFileSize;
    FFileAge = age;
    FFileSize = size;
    return changed;
}

void TEntryFile::ReleaseStream(TStream *Stream) {
    delete Stream;
}

bool TEntryFile::RefusesTitleChange() const {
    return EndsWithIgnoringCase(FFileName, ".par");
}

void TEntryFile::ChangedAfterUnlock() {
    if (FManager)
        FManager->FileChanged(FFileName);
}

// ---------------------------------------------------------------------------------------------
// TVirtualEntryFile and TVirtualAccount

TVirtualEntryFile::TVirtualEntryFile(const std::string &AFileName, const std::string &ANumber,
                                     const std::string &Prefix)
    : TEntryFile(nullptr, AFileName), FNumber(ANumber), FStream(std::make_unique<TMemoryStream>()),
      FVirtualName(Prefix + ANumber) {
    Scan(false);
}

TStream *TVirtualEntryFile::GetStream(int Mode) {
    FStream->Seek(0, soFromBeginning);
    return FStream.get();
}

void TVirtualEntryFile::StoreSource(const std::string &Content, std::size_t Unchanged) {
    // In memory: written in place like any stream-backed collection.
    TEntryCollection::StoreSource(Content, Unchanged);
}

TVirtualAccount::TVirtualAccount(const std::string &AName) : FName(AName) {}

TVirtualAccount::~TVirtualAccount() {
    for (int i = 0; i < FFiles.Count(); ++i)
        FFiles.Items(i)->FRefCount = 0;
    FFiles.Clear();
}

TVirtualEntryFile *TVirtualAccount::GetFile(const std::string &FileName) {
    TScopeLock<TCriticalSection> lock(FLock);
    for (int i = 0; i < FFiles.Count(); ++i)
        if (SameText(FFiles.Items(i)->FileName(), FileName))
            return FFiles.Items(i);
    std::string number = IntToStr(FFiles.Count());
    auto file = std::make_unique<TVirtualEntryFile>(FileName, number, Format("%s%s%s", "::", FName, ":"));
    TVirtualEntryFile *result = file.get();
    FFiles.Add(std::move(file));
    return result;
}

TVirtualEntryFile *TVirtualAccount::FindFile(const std::string &Number) {
    TScopeLock<TCriticalSection> lock(FLock);
    for (int i = 0; i < FFiles.Count(); ++i)
        if (FFiles.Items(i)->Number() == Number)
            return FFiles.Items(i);
    return nullptr;
}

int TVirtualAccount::FileCount() {
    TScopeLock<TCriticalSection> lock(FLock);
    return FFiles.Count();
}

// ---------------------------------------------------------------------------------------------
// TFileManager

TFileManager::TFileManager() = default;

TFileManager::~TFileManager() {
    std::vector<TEntryFile *> files;
    {
        TScopeLock<TCriticalSection> lock(FLock);
        files.swap(FOpenFiles);
    }
    for (TEntryFile *file : files) {
        file->FRefCount = 0;
        file->FManager = nullptr;
        delete file;
    }
    FAccounts.Clear();
}

TEntryFile *TFileManager::OpenFile(const std::string &FileName, bool CreateIfMissing) {
    return AcquireFile(FileName, false, CreateIfMissing);
}

TEntryFile *TFileManager::OpenFileWithTexts(const std::string &FileName, bool CreateIfMissing) {
    return AcquireFile(FileName, true, CreateIfMissing);
}

TEntryFile *TFileManager::AcquireFile(const std::string &FileName, bool KeepTexts, bool CreateIfMissing) {
    if (StartsWithVirtualPrefix(FileName))
        return ResolveVirtualFile(FileName);
    TScopeLock<TCriticalSection> lock(FLock);
    for (std::size_t i = FOpenFiles.size(); i-- > 0;) {
        TEntryFile *file = FOpenFiles[i];
        if (!SameText(file->FileName(), FileName))
            continue;
        file->AddRef();
        try {
            file->Scan(KeepTexts);
        } catch (...) {
            file->Release();
            throw;
        }
        FOpenFiles.erase(FOpenFiles.begin() + static_cast<std::ptrdiff_t>(i));
        FOpenFiles.push_back(file);
        return file;
    }
    if (static_cast<int>(FOpenFiles.size()) >= CachedFiles) {
        for (std::size_t i = 0; i < FOpenFiles.size(); ++i) {
            TEntryFile *file = FOpenFiles[i];
            // Under the file's lock, so that no Release is still running inside the file.
            file->Lock();
            bool unused = file->FRefCount == 0;
            file->Unlock();
            if (!unused)
                continue;
            FOpenFiles.erase(FOpenFiles.begin() + static_cast<std::ptrdiff_t>(i));
            delete file;
            break;
        }
    }
    auto file = std::make_unique<TEntryFile>(this, FileName, CreateIfMissing, KeepTexts);
    FOpenFiles.push_back(file.get());
    return file.release();
}

TVirtualEntryFile *TFileManager::ResolveVirtualFile(const std::string &Name) {
    std::size_t colon = Name.find(':', 2);
    if (StartsWithVirtualPrefix(Name) && colon != std::string::npos) {
        std::string account = Name.substr(2, colon - 2);
        std::string number = Name.substr(colon + 1);
        TScopeLock<TCriticalSection> lock(FLock);
        for (int i = 0; i < FAccounts.Count(); ++i) {
            if (!SameText(FAccounts.Items(i)->Name(), account))
                continue;
            if (TVirtualEntryFile *file = FAccounts.Items(i)->FindFile(number))
                return file;
            break;
        }
    }
    throw EEntryError("Could not open '%s'", Name);
}

void TFileManager::RemoveFile(TEntryFile *File) {
    TScopeLock<TCriticalSection> lock(FLock);
    auto found = std::find(FOpenFiles.begin(), FOpenFiles.end(), File);
    if (found != FOpenFiles.end())
        FOpenFiles.erase(found);
}

int TFileManager::OpenFileCount() {
    TScopeLock<TCriticalSection> lock(FLock);
    return static_cast<int>(FOpenFiles.size());
}

TVirtualAccount *TFileManager::CreateAccount() {
    TScopeLock<TCriticalSection> lock(FLock);
    auto account = std::make_unique<TVirtualAccount>(IntToHex(FAccountCounter, 8));
    ++FAccountCounter; // wraps from 4294967295 to 0
    TVirtualAccount *result = account.get();
    FAccounts.Add(std::move(account));
    return result;
}

void TFileManager::FreeAccount(TVirtualAccount *Account) {
    TScopeLock<TCriticalSection> lock(FLock);
    FAccounts.Remove(Account);
}

void TFileManager::FileChanged(const std::string &FileName) {
    {
        TScopeLock<TCriticalSection> lock(FNotifyLock);
        if (FChangedFiles.IndexOf(FileName) >= 0)
            return;
        FChangedFiles.Add(FileName);
    }
    NotifySubscribers();
}

void TFileManager::NotifySubscribers() {
    // The handlers are called outside the lock, with a copy of the list: a handler may open
    // files, subscribe, unsubscribe or report further changes.
    std::vector<TFileChangeEvent> handlers;
    TStringList changed;
    {
        TScopeLock<TCriticalSection> lock(FNotifyLock);
        if (FUpdateCount > 0 || FChangedFiles.Count() == 0)
            return;
        handlers = FSubscriptions;
        changed.Assign(FChangedFiles);
        FChangedFiles.Clear();
    }
    std::exception_ptr first;
    for (const TFileChangeEvent &handler : handlers) {
        try {
            handler(this, &changed);
        } catch (...) {
            if (!first)
                first = std::current_exception();
        }
    }
    if (first)
        std::rethrow_exception(first);
}

void TFileManager::BeginUpdate() {
    TScopeLock<TCriticalSection> lock(FNotifyLock);
    ++FUpdateCount;
}

void TFileManager::EndUpdate() {
    {
        TScopeLock<TCriticalSection> lock(FNotifyLock);
        if (FUpdateCount > 0)
            --FUpdateCount;
    }
    NotifySubscribers();
}

void TFileManager::Subscribe(const TFileChangeEvent &Handler) {
    TScopeLock<TCriticalSection> lock(FNotifyLock);
    if (static_cast<int>(FSubscriptions.size()) >= MaxSubscriptions)
        throw EEntryError("TFileManager.Subscribe: Too many subscriptions");
    FSubscriptions.push_back(Handler);
}

void TFileManager::Unsubscribe(const TFileChangeEvent &Handler) {
    TScopeLock<TCriticalSection> lock(FNotifyLock);
    auto found = std::find(FSubscriptions.begin(), FSubscriptions.end(), Handler);
    if (found == FSubscriptions.end())
        throw Exception("TFileManager.Unsubscribe: Cannot find handler");
    FSubscriptions.erase(found);
}

// ---------------------------------------------------------------------------------------------
// The global manager

TFileManager *FileManager() {
    return GFileManager;
}

void InitializeCompFileManager() {
    if (!GFileManager)
        GFileManager = new TFileManager();
}

void FinalizeCompFileManager() {
    delete GFileManager;
    GFileManager = nullptr;
}
