// The shared cache of open entry files with reference counts and change notification, and the
// virtual entry files that stand for a network client's files on the calculation server.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "CompEntries.h"
#include "GenClasses.h"

class TFileManager;

// An entry file on disk, shared through the file manager.
class TEntryFile : public TEntryCollection {
public:
    DECLARE_CLASS_NAME(TEntryFile)
    // Creates an empty file first when CreateIfMissing and it does not exist; a missing file
    // raises EEntryError "Could not open '%s'". Manager (may be nullptr) is told about writes.
    TEntryFile(TFileManager *Manager, const std::string &AFileName, bool CreateIfMissing, bool KeepTexts);
    ~TEntryFile() override;

    void AddRef();
    // Drops one reference; the manager frees the file later, when it needs room.
    void Release();
    int RefCount();
    const std::string &FileName() const { return FFileName; }

protected:
    // For descendants that scan once their own members exist.
    TEntryFile(TFileManager *Manager, const std::string &AFileName);

    TStream *GetStream(int Mode) override;
    bool SourceChanged() override;
    void ReleaseStream(TStream *Stream) override;
    bool RefusesTitleChange() const override;
    void ChangedAfterUnlock() override;
    // Writes a temporary copy that replaces the file only once it was written and closed whole.
    void StoreSource(const std::string &Content, std::size_t Unchanged) override;
    // The stream that a changed file is written to.
    virtual std::unique_ptr<TSafeFileStream> CreateSaveStream();

private:
    friend class TFileManager;
    friend class TVirtualAccount;
    // Last-write time (100 ns units) and size seen by the last SourceChanged; -1 when missing.
    int64_t FFileAge = -1;
    int64_t FFileSize = -1;
    std::string FFileName;
    int FRefCount = 1;
    TFileManager *FManager;
};

// Releases a file reference when the scope ends.
class TEntryFileReference {
public:
    explicit TEntryFileReference(TEntryFile *File) : FFile(File) {}
    ~TEntryFileReference() {
        if (FFile)
            FFile->Release();
    }
    TEntryFileReference(const TEntryFileReference &) = delete;
    TEntryFileReference &operator=(const TEntryFileReference &) = delete;
    TEntryFile *operator->() const { return FFile; }
    TEntryFile &operator*() const { return *FFile; }
    TEntryFile *Get() const { return FFile; }

private:
    TEntryFile *FFile;
};

// An in-memory entry file standing for a client's file; its name is "::<account>:<number>".
class TVirtualEntryFile : public TEntryFile {
public:
    DECLARE_CLASS_NAME(TVirtualEntryFile)
    TVirtualEntryFile(const std::string &AFileName, const std::string &ANumber, const std::string &Prefix);
    const std::string &Number() const { return FNumber; }
    const std::string &VirtualName() const { return FVirtualName; }

protected:
    TStream *GetStream(int Mode) override;
    bool SourceChanged() override { return false; }
    void ReleaseStream(TStream *) override {}
    void StoreSource(const std::string &Content, std::size_t Unchanged) override;

private:
    std::string FNumber;
    std::unique_ptr<TMemoryStream> FStream;
    std::string FVirtualName;
};

// The virtual files of one client.
class TVirtualAccount : public TObject {
public:
    DECLARE_CLASS_NAME(TVirtualAccount)
    explicit TVirtualAccount(const std::string &AName);
    ~TVirtualAccount() override;
    // The account's file for the client's FileName (letter case ignored), made on first use.
    TVirtualEntryFile *GetFile(const std::string &FileName);
    TVirtualEntryFile *FindFile(const std::string &Number);
    const std::string &Name() const { return FName; }
    int FileCount();

private:
    TObjectList<TVirtualEntryFile> FFiles;
    std::string FName;
    TCriticalSection FLock;
};

using TFileChangeEvent = TMethod<void(TFileManager *Sender, TStrings *ChangedFiles)>;

class TFileManager : public TObject {
public:
    DECLARE_CLASS_NAME(TFileManager)
    static constexpr int MaxSubscriptions = 1024;
    // Unreferenced files kept open at most (referenced ones are never freed).
    static constexpr int CachedFiles = 16;

    TFileManager();
    ~TFileManager() override;
    TFileManager(const TFileManager &) = delete;
    TFileManager &operator=(const TFileManager &) = delete;

    // The shared file, with one reference for the caller (virtual files: without a reference).
    TEntryFile *OpenFile(const std::string &FileName, bool CreateIfMissing = false);
    TEntryFile *OpenFileWithTexts(const std::string &FileName, bool CreateIfMissing = false);
    TEntryFile *AcquireFile(const std::string &FileName, bool KeepTexts, bool CreateIfMissing);
    TVirtualEntryFile *ResolveVirtualFile(const std::string &Name);
    void RemoveFile(TEntryFile *File);
    int OpenFileCount();

    TVirtualAccount *CreateAccount();
    void FreeAccount(TVirtualAccount *Account);

    // Records a changed file (or folder) once and notifies, now or when the update ends.
    void FileChanged(const std::string &FileName);
    void NotifySubscribers();
    void BeginUpdate();
    void EndUpdate();
    void Subscribe(const TFileChangeEvent &Handler);
    void Unsubscribe(const TFileChangeEvent &Handler);

private:
    uint32_t FAccountCounter = 0;
    TObjectList<TVirtualAccount> FAccounts;
    TStringList FChangedFiles;
    std::vector<TEntryFile *> FOpenFiles; // owned; least recently acquired first
    TCriticalSection FLock;               // guards FAccounts and FOpenFiles
    std::vector<TFileChangeEvent> FSubscriptions;
    int FUpdateCount = 0;
    TCriticalSection FNotifyLock; // guards FChangedFiles, FSubscriptions and FUpdateCount
};

// The global manager; nullptr outside InitializeCompFileManager .. FinalizeCompFileManager.
TFileManager *FileManager();
void InitializeCompFileManager();
void FinalizeCompFileManager();
