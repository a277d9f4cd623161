#include "FracHistory.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "GenSetup.h"

namespace {
THistoryDataManager *GlobalHistoryDataManager = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Blocks

THistoryData::~THistoryData() {
    if (FState == hsFile)
        DeleteFile(FFileName);
}

std::int64_t THistoryData::Size() const {
    switch (FState) {
    case hsLocked:
    case hsMemory:
        return FMemory ? FMemory->Size() : 0;
    case hsFile:
        return FFileSize;
    default:
        return 0;
    }
}

TMemoryStream &THistoryData::Memory() {
    if (!FMemory)
        FMemory = std::make_unique<TMemoryStream>();
    return *FMemory;
}

void THistoryData::Lock() {
    ++FLockCount;
    SetState(hsLocked);
    FManager.TouchBlock(this);
}

void THistoryData::Unlock() {
    if (FLockCount == 0)
        return;
    if (--FLockCount == 0 && FState == hsLocked)
        FState = hsMemory;
}

void THistoryData::SetState(std::uint8_t NewState) {
    bool inMemory = FState == hsLocked || FState == hsMemory;
    bool toMemory = NewState == hsLocked || NewState == hsMemory;
    if (inMemory && toMemory) {
        FState = NewState;
        return;
    }
    if (inMemory && NewState == hsFile) {
        // A swap file that cannot be written drops the data instead: the owner recalculates.
        char name[MAX_PATH];
        bool written = false;
        if (GetTempFileNameA(FManager.Folder().c_str(), "OBH", 0, name) != 0) {
            try {
                TFileStream file(name, fmCreate);
                TMemoryStream &memory = Memory();
                if (memory.Size() > 0)
                    file.WriteBuffer(memory.Memory(), static_cast<std::int32_t>(memory.Size()));
                written = true;
            } catch (const Exception &) {
            }
            if (!written)
                DeleteFile(std::string(name));
        }
        if (written) {
            FFileName = name;
            FFileSize = FMemory ? FMemory->Size() : 0;
            FMemory.reset();
            FState = hsFile;
        } else {
            FMemory.reset();
            FState = hsNone;
        }
        return;
    }
    if (inMemory && NewState == hsNone) {
        FMemory.reset();
        FState = hsNone;
        return;
    }
    if (FState == hsFile && toMemory) {
        auto memory = std::make_unique<TMemoryStream>();
        try {
            memory->LoadFromFile(FFileName);
        } catch (const Exception &) {
            memory->Clear(); // an unreadable swap file reads back as dropped data
        }
        DeleteFile(FFileName);
        FFileName.clear();
        FFileSize = 0;
        FMemory = std::move(memory);
        FState = NewState;
        return;
    }
    if (FState == hsFile && NewState == hsNone) {
        DeleteFile(FFileName);
        FFileName.clear();
        FFileSize = 0;
        FState = hsNone;
        return;
    }
    if (FState == hsNone && toMemory) {
        FMemory = std::make_unique<TMemoryStream>();
        FState = NewState;
    }
}

// ---------------------------------------------------------------------------------------------
// Manager

THistoryDataManager::THistoryDataManager(const std::string &Folder, std::int64_t MemoryBudget,
                                         std::int64_t DiskBudget)
    : FFolder(Folder), FDiskBudget(DiskBudget), FMemoryBudget(MemoryBudget) {
    if (FFolder.empty())
        return;
    // Swap files left behind by an earlier run.
    std::string folder = IncludeTrailingPathDelimiter(FFolder);
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "OBH*.tmp").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFile(folder + data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

THistoryDataManager::~THistoryDataManager() = default;

std::int64_t THistoryDataManager::DefaultMemoryBudget() {
    MEMORYSTATUSEX status;
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status))
        return 64 << 20;
    std::int64_t budget = static_cast<std::int64_t>(status.ullTotalPhys / 8);
    return std::min<std::int64_t>(budget, INT32_MAX);
}

THistoryData *THistoryDataManager::CreateBlock() {
    FBlocks.push_back(std::make_unique<THistoryData>(*this));
    return FBlocks.back().get();
}

void THistoryDataManager::DeleteBlock(THistoryData *Block) {
    auto it =
        std::find_if(FBlocks.begin(), FBlocks.end(), [Block](const auto &b) { return b.get() == Block; });
    if (it != FBlocks.end())
        FBlocks.erase(it);
}

void THistoryDataManager::TouchBlock(THistoryData *Block) {
    auto it =
        std::find_if(FBlocks.begin(), FBlocks.end(), [Block](const auto &b) { return b.get() == Block; });
    if (it != FBlocks.end())
        std::rotate(FBlocks.begin(), it, it + 1);
    Balance();
}

void THistoryDataManager::Balance() {
    std::int64_t memory = 0, disk = 0;
    for (const auto &block : FBlocks) {
        if (block->FState == THistoryData::hsMemory)
            memory += block->Size();
        else if (block->FState == THistoryData::hsFile)
            disk += block->Size();
    }
    // The amount that must leave memory, taken from the least recently used end.
    std::int64_t leaving = 0;
    for (auto it = FBlocks.rbegin(); it != FBlocks.rend() && memory - leaving > FMemoryBudget; ++it)
        if ((*it)->FState == THistoryData::hsMemory)
            leaving += (*it)->Size();
    // Make room on disk for it, dropping the oldest swapped blocks first.
    for (auto it = FBlocks.rbegin(); it != FBlocks.rend() && leaving + disk > FDiskBudget; ++it)
        if ((*it)->FState == THistoryData::hsFile) {
            disk -= (*it)->Size();
            (*it)->SetState(THistoryData::hsNone);
        }
    for (auto it = FBlocks.rbegin(); it != FBlocks.rend() && memory > FMemoryBudget; ++it) {
        THistoryData &block = **it;
        if (block.FState != THistoryData::hsMemory)
            continue;
        std::int64_t size = block.Size();
        memory -= size;
        if (size > 0 && size + disk <= FDiskBudget) {
            block.SetState(THistoryData::hsFile);
            if (block.FState == THistoryData::hsFile)
                disk += size;
        } else {
            block.SetState(THistoryData::hsNone);
        }
    }
}

THistoryDataManager *HistoryDataManager() {
    return GlobalHistoryDataManager;
}

void InitializeFracHistory() {
    if (GlobalHistoryDataManager)
        return;
    std::string folder;
    if (TConfigManager *config = ConfigManager())
        folder = config->Folder->System;
    if (folder.empty()) {
        char path[MAX_PATH];
        DWORD length = GetTempPathA(MAX_PATH, path);
        if (length > 0 && length < MAX_PATH)
            folder = path;
    }
    GlobalHistoryDataManager = new THistoryDataManager(folder, THistoryDataManager::DefaultMemoryBudget());
}

void FinalizeFracHistory() {
    delete GlobalHistoryDataManager;
    GlobalHistoryDataManager = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Streams

THistoryDataStream::THistoryDataStream(THistoryDataManager &Manager) : FManager(Manager) {
    FData = Manager.CreateBlock();
}

THistoryDataStream::THistoryDataStream(THistoryDataManager &Manager, THistoryDataStream &Source)
    : FManager(Manager) {
    FData = Manager.CreateBlock();
    SetPredecessor(&Source);
    if (Source.FFilled)
        FFilled = true; // reads Source's data
    else
        Source.SetSuccessor(this); // Source will read what this stream receives
}

THistoryDataStream::~THistoryDataStream() {
    try {
        DetachDependents();
    } catch (...) {
        // Out of memory while copying: the dependents read back as dropped data.
    }
    DropLinks();
    if (FLockCount > 0 && FLockedData)
        FLockedData->Unlock();
    FManager.DeleteBlock(FData);
}

void THistoryDataStream::AddDependent(THistoryDataStream *Stream) {
    FDependents.push_back(Stream);
}

void THistoryDataStream::RemoveDependent(THistoryDataStream *Stream) {
    auto it = std::find(FDependents.begin(), FDependents.end(), Stream);
    if (it != FDependents.end())
        FDependents.erase(it);
}

void THistoryDataStream::SetPredecessor(THistoryDataStream *Stream) {
    if (FPredecessor == Stream)
        return;
    if (FPredecessor)
        FPredecessor->RemoveDependent(this);
    FPredecessor = Stream;
    if (Stream)
        Stream->AddDependent(this);
}

void THistoryDataStream::SetSuccessor(THistoryDataStream *Stream) {
    if (FSuccessor == Stream)
        return;
    if (FSuccessor)
        FSuccessor->RemoveDependent(this);
    FSuccessor = Stream;
    if (Stream)
        Stream->AddDependent(this);
}

void THistoryDataStream::DropLinks() {
    SetPredecessor(nullptr);
    SetSuccessor(nullptr);
    std::vector<THistoryDataStream *> dependents = FDependents;
    for (THistoryDataStream *stream : dependents) {
        if (stream->FPredecessor == this)
            stream->SetPredecessor(nullptr);
        if (stream->FSuccessor == this)
            stream->SetSuccessor(nullptr);
    }
    FDependents.clear();
}

void THistoryDataStream::DetachDependents() {
    // Streams that read through this one take their own copy first.
    std::vector<THistoryDataStream *> dependents = FDependents;
    for (THistoryDataStream *stream : dependents) {
        if (stream->FSuccessor == this)
            stream->Detach(2);
        if (stream->FPredecessor == this)
            stream->Detach(1);
    }
}

void THistoryDataStream::Reset() {
    DetachDependents();
    DropLinks();
    FFilled = false;
    FPosition = 0;
    if (FLockCount > 0 && FLockedData != FData) {
        FData->Lock();
        if (FLockedData)
            FLockedData->Unlock();
        FLockedData = FData;
    }
    FData->Lock();
    FData->Memory().Clear();
    FData->Unlock();
}

THistoryDataStream *THistoryDataStream::Source() {
    THistoryDataStream *stream = this;
    // Links form chains, never circles; the bound only guards against a broken chain.
    for (int steps = 0; steps < 1 << 20; ++steps) {
        if (stream->FSuccessor)
            stream = stream->FSuccessor;
        else if (stream->FPredecessor)
            stream = stream->FPredecessor;
        else
            return stream;
    }
    throw EHistoryError("History streams are linked in a circle");
}

void THistoryDataStream::CopyOut(std::string &Content) {
    THistoryData *block = Source()->FData;
    block->Lock();
    TMemoryStream &memory = block->Memory();
    Content.assign(static_cast<const char *>(memory.Memory()), static_cast<std::size_t>(memory.Size()));
    block->Unlock();
}

void THistoryDataStream::CopyIntoOwnBlock() {
    std::string content;
    CopyOut(content);
    Claim(false);
    FData->Lock();
    TMemoryStream &memory = FData->Memory();
    memory.Clear();
    if (!content.empty())
        memory.WriteBuffer(content.data(), static_cast<std::int32_t>(content.size()));
    FData->Unlock();
}

void THistoryDataStream::Claim(bool ProtectDependents) {
    if (!FFilled)
        for (THistoryDataStream *stream = this; stream; stream = stream->FPredecessor)
            stream->FFilled = true;
    if (ProtectDependents) {
        std::vector<THistoryDataStream *> dependents = FDependents;
        for (THistoryDataStream *stream : dependents)
            if (stream->FPredecessor == this && stream->FFilled && !stream->FSuccessor)
                stream->CopyIntoOwnBlock();
    }
    SetPredecessor(nullptr);
    SetSuccessor(nullptr);
    if (FLockCount > 0 && FLockedData != FData) {
        FData->Lock();
        if (FLockedData)
            FLockedData->Unlock();
        FLockedData = FData;
    }
}

int32_t THistoryDataStream::Read(void *Buffer, int32_t Count) {
    if (!FFilled)
        throw EHistoryError("History stream is still empty");
    if (Count <= 0)
        return 0;
    THistoryData *block = Source()->FData;
    block->Lock();
    TMemoryStream &memory = block->Memory();
    int64_t available = memory.Size() - FPosition;
    int32_t n = available <= 0 ? 0 : static_cast<int32_t>(std::min<int64_t>(Count, available));
    if (n > 0)
        std::memcpy(Buffer, static_cast<const char *>(memory.Memory()) + FPosition,
                    static_cast<std::size_t>(n));
    FPosition += n;
    block->Unlock();
    return n;
}

int32_t THistoryDataStream::Write(const void *Buffer, int32_t Count) {
    if (Count <= 0)
        return 0;
    Claim(true);
    FData->Lock();
    TMemoryStream &memory = FData->Memory();
    memory.SetPosition(FPosition);
    int32_t n = memory.Write(Buffer, Count);
    FPosition += n;
    FData->Unlock();
    return n;
}

int64_t THistoryDataStream::Size() {
    if (!FFilled)
        return 0;
    return Source()->FData->Size();
}

int64_t THistoryDataStream::Seek(int64_t Offset, int Origin) {
    if (!FFilled)
        throw EHistoryError("History stream is still empty");
    int64_t base = Origin == soFromBeginning ? 0 : Origin == soFromCurrent ? FPosition : Size();
    int64_t position = base + Offset;
    FPosition = position < 0 ? 0 : position;
    return FPosition;
}

void THistoryDataStream::SetSize(int64_t NewSize) {
    Claim(true);
    FData->Lock();
    FData->Memory().SetSize(NewSize);
    FData->Unlock();
    if (FPosition > NewSize)
        FPosition = NewSize;
}

void THistoryDataStream::Lock() {
    if (FLockCount++ > 0)
        return;
    FLockedData = FFilled ? Source()->FData : FData;
    FLockedData->Lock();
}

void THistoryDataStream::Unlock() {
    if (FLockCount == 0 || --FLockCount > 0)
        return;
    if (FLockedData)
        FLockedData->Unlock();
    FLockedData = nullptr;
}

void THistoryDataStream::Detach(int Flags) {
    if ((Flags & 2) && FSuccessor) {
        if (FFilled)
            CopyIntoOwnBlock();
        else
            SetSuccessor(nullptr);
    }
    if ((Flags & 1) && FPredecessor) {
        if (FFilled && !FSuccessor)
            CopyIntoOwnBlock();
        else
            SetPredecessor(nullptr);
    }
}

// ---------------------------------------------------------------------------------------------
// Data lists

THistoryDataList::THistoryDataList(THistoryDataManager &Manager, THistoryDataList &Source)
    : FManager(Manager) {
    for (int i = 0; i < Source.GetCount(); ++i)
        FStreams.Add(std::make_unique<THistoryDataStream>(Manager, *Source.GetItem(i)));
}

THistoryDataStream *THistoryDataList::Insert(int Index) {
    auto stream = std::make_unique<THistoryDataStream>(FManager);
    THistoryDataStream *result = stream.get();
    FStreams.Insert(Index, std::move(stream));
    for (int i = 0; i < FLockCount; ++i)
        result->Lock();
    return result;
}

void THistoryDataList::LockAll() {
    ++FLockCount;
    for (int i = 0; i < FStreams.Count(); ++i)
        FStreams.Items(i)->Lock();
}

void THistoryDataList::UnlockAll() {
    if (FLockCount == 0)
        return;
    --FLockCount;
    for (int i = 0; i < FStreams.Count(); ++i)
        FStreams.Items(i)->Unlock();
}

void THistoryDataList::Detach(int Flags) {
    for (int i = 0; i < FStreams.Count(); ++i)
        FStreams.Items(i)->Detach(Flags);
}

void THistoryDataList::DropLinks() {
    for (int i = 0; i < FStreams.Count(); ++i)
        FStreams.Items(i)->DropLinks();
}

// ---------------------------------------------------------------------------------------------
// History list

THistoryList::THistoryList(int MaxCount, bool WithData, THistoryDataManager *Manager)
    : FMaxCount(MaxCount < 1 ? 1 : MaxCount), FWithData(WithData), FManager(Manager) {
    if (!FManager)
        FManager = HistoryDataManager();
    if (FWithData && !FManager)
        throw EHistoryError("No history data manager");
}

THistoryList::~THistoryList() {
    // The whole history goes: no stream needs a copy of another's data.
    for (int i = 0; i < FItems.Count(); ++i)
        if (FItems.Items(i)->Data)
            FItems.Items(i)->Data->DropLinks();
    if (FWithData && FItemIndex >= 0 && FItemIndex < FItems.Count())
        FItems.Items(FItemIndex)->Data->UnlockAll();
    FItems.Clear();
}

THistoryItem *THistoryList::GetCurrent() const {
    if (FItemIndex < 0 || FItemIndex >= FItems.Count())
        throw EHistoryError("No items in history list");
    return FItems.Items(FItemIndex);
}

void THistoryList::Add(const std::string &Caption, const std::string &State) {
    if (!Recording)
        return;
    if (FWithData && FItemIndex >= 0)
        GetCurrent()->Data->UnlockAll();
    DeleteRedoSteps();
    if (FItems.Count() >= FMaxCount) {
        if (FWithData && FItems.Count() > 1)
            FItems.Items(1)->Data->Detach(1);
        FItems.Delete(0);
    }
    auto item = std::make_unique<THistoryItem>();
    item->Caption = Caption;
    if (FWithData)
        item->Data = FItems.Count() > 0 ? std::make_unique<THistoryDataList>(*FManager, *FItems.Last()->Data)
                                        : std::make_unique<THistoryDataList>(*FManager);
    item->State = State;
    FItems.Add(std::move(item));
    FItemIndex = FItems.Count() - 1;
    if (FWithData)
        FItems.Last()->Data->LockAll();
}

void THistoryList::SetItemIndex(int Index) {
    if (Index < 0 || Index >= FItems.Count())
        throw EHistoryError("History list index out of range");
    if (Index == FItemIndex)
        return;
    if (FWithData && FItemIndex >= 0)
        GetCurrent()->Data->UnlockAll();
    FItemIndex = Index;
    if (FWithData)
        GetCurrent()->Data->LockAll();
    OnChange(this);
}

void THistoryList::Undo() {
    if (FItemIndex > 0)
        SetItemIndex(FItemIndex - 1);
}

void THistoryList::Redo() {
    if (FItemIndex < FItems.Count() - 1)
        SetItemIndex(FItemIndex + 1);
}

void THistoryList::Clear() {
    if (FItems.Count() == 0)
        return;
    if (FWithData)
        GetCurrent()->Data->Detach(3);
    std::unique_ptr<THistoryItem> current = FItems.ExtractAt(FItemIndex);
    for (int i = 0; i < FItems.Count(); ++i)
        if (FItems.Items(i)->Data)
            FItems.Items(i)->Data->DropLinks();
    FItems.Clear();
    FItems.Add(std::move(current));
    FItemIndex = 0;
}

void THistoryList::DeleteRedoSteps() {
    if (FItemIndex < 0)
        return;
    if (FWithData)
        GetCurrent()->Data->Detach(2);
    while (FItems.Count() > FItemIndex + 1)
        FItems.Delete(FItems.Count() - 1);
}
