// Undo and redo on whole states. A history list keeps, per step, a caption and the complete
// parameter text of its object and, for documents, one data stream per layer. Data streams share
// unchanged data with the neighbouring step; the blocks behind them belong to a data manager that
// keeps the unlocked data in memory within a budget and moves the least recently used blocks to
// temporary files or drops them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"

DECLARE_EXCEPTION(EHistoryError, Exception);

class THistoryDataManager;

// One block of image data: in memory (locked or not), in a temporary file, or nothing.
class THistoryData : public TObject {
public:
    DECLARE_CLASS_NAME(THistoryData)
    static constexpr std::uint8_t hsLocked = 0;
    static constexpr std::uint8_t hsMemory = 1;
    static constexpr std::uint8_t hsFile = 2;
    static constexpr std::uint8_t hsNone = 3;

    explicit THistoryData(THistoryDataManager &Manager) : FManager(Manager) {}
    ~THistoryData() override;

    // Brings the block into memory (state 0) and tells the manager it was used.
    void Lock();
    void Unlock();
    std::uint8_t State() const { return FState; }
    int LockCount() const { return FLockCount; }
    std::int64_t Size() const;
    // The memory stream while the block is locked.
    TMemoryStream &Memory();
    const std::string &FileName() const { return FFileName; }

private:
    friend class THistoryDataManager;
    void SetState(std::uint8_t NewState);

    THistoryDataManager &FManager;
    std::int64_t FFileSize = 0;
    std::string FFileName;
    int FLockCount = 0;
    std::unique_ptr<TMemoryStream> FMemory;
    std::uint8_t FState = hsNone;
};

// Keeps the unlocked blocks in memory within MemoryBudget bytes; blocks that must leave memory go
// to temporary files while DiskBudget allows, otherwise they are dropped.
class THistoryDataManager : public TObject {
public:
    DECLARE_CLASS_NAME(THistoryDataManager)
    // Folder holds the swap files; stale swap files of an earlier run found there are deleted.
    THistoryDataManager(const std::string &Folder, std::int64_t MemoryBudget, std::int64_t DiskBudget = 0);
    ~THistoryDataManager() override;
    THistoryDataManager(const THistoryDataManager &) = delete;
    THistoryDataManager &operator=(const THistoryDataManager &) = delete;

    THistoryData *CreateBlock();
    void DeleteBlock(THistoryData *Block);
    // Moves the block to the most recently used end and balances.
    void TouchBlock(THistoryData *Block);
    void Balance();

    const std::string &Folder() const { return FFolder; }
    std::int64_t MemoryBudget() const { return FMemoryBudget; }
    std::int64_t DiskBudget() const { return FDiskBudget; }
    void SetMemoryBudget(std::int64_t Budget) { FMemoryBudget = Budget; }
    void SetDiskBudget(std::int64_t Budget) { FDiskBudget = Budget; }
    int BlockCount() const { return static_cast<int>(FBlocks.size()); }

    // One eighth of the machine's physical memory, capped at the 32-bit range.
    static std::int64_t DefaultMemoryBudget();

private:
    std::string FFolder;
    std::vector<std::unique_ptr<THistoryData>> FBlocks; // most recently used first
    std::int64_t FDiskBudget = 0;
    std::int64_t FMemoryBudget = 0;
};

// The global manager; nullptr outside InitializeFracHistory .. FinalizeFracHistory.
THistoryDataManager *HistoryDataManager();
void InitializeFracHistory();
void FinalizeFracHistory();

// The image data of one layer in one step. Until it is written it shares the data of the stream
// it was made from (its Predecessor), or, when that one had no data yet, lends it the data it
// receives later (the Predecessor's Successor).
class THistoryDataStream : public TStream {
public:
    DECLARE_CLASS_NAME(THistoryDataStream)
    explicit THistoryDataStream(THistoryDataManager &Manager);
    // A stream of the next step that shares Source's data.
    THistoryDataStream(THistoryDataManager &Manager, THistoryDataStream &Source);
    ~THistoryDataStream() override;

    // Reading or seeking an unfilled stream raises EHistoryError "History stream is still empty".
    int32_t Read(void *Buffer, int32_t Count) override;
    int32_t Write(const void *Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, int Origin) override;
    int64_t Size() override;
    void SetSize(int64_t NewSize) override;

    bool Filled() const { return FFilled; }
    THistoryDataStream *Predecessor() const { return FPredecessor; }
    THistoryDataStream *Successor() const { return FSuccessor; }
    THistoryData *Data() const { return FData; }

    // Keeps the block this stream reads from in memory until Unlock.
    void Lock();
    void Unlock();
    // 1: the older neighbours go away; 2: the newer ones. A stream that reads through such a link
    // copies the data into its own block first.
    void Detach(int Flags);

    // Cuts every link without copying anything (the whole history goes away).
    void DropLinks();
    // Makes the stream empty and unshared, as a new one; streams that read through it first take
    // a copy of what they read.
    void Reset();

private:
    // The stream whose own block holds the data this stream reads.
    THistoryDataStream *Source();
    // Gives every stream that reads through this one a copy of what it reads.
    void DetachDependents();
    // Makes the stream the owner of its data, ready to be written. With ProtectDependents, a
    // newer stream that still reads the old data through this one first takes a copy of it.
    void Claim(bool ProtectDependents);
    void CopyOut(std::string &Content);
    void CopyIntoOwnBlock();
    void SetPredecessor(THistoryDataStream *Stream);
    void SetSuccessor(THistoryDataStream *Stream);
    void AddDependent(THistoryDataStream *Stream);
    void RemoveDependent(THistoryDataStream *Stream);

    THistoryDataManager &FManager;
    THistoryData *FData;
    THistoryDataStream *FSuccessor = nullptr;
    THistoryDataStream *FPredecessor = nullptr;
    // Streams whose Predecessor or Successor this is, so that they keep their data when this one
    // is written or freed.
    std::vector<THistoryDataStream *> FDependents;
    bool FFilled = false;
    int64_t FPosition = 0;
    int FLockCount = 0;
    THistoryData *FLockedData = nullptr;
};

class THistoryDataList : public TObject {
public:
    DECLARE_CLASS_NAME(THistoryDataList)
    explicit THistoryDataList(THistoryDataManager &Manager) : FManager(Manager) {}
    // One stream per stream of Source, each sharing its data.
    THistoryDataList(THistoryDataManager &Manager, THistoryDataList &Source);

    int GetCount() const { return FStreams.Count(); }
    THistoryDataStream *GetItem(int Index) const { return FStreams.Items(Index); }
    // A new empty stream; in a locked list (the current step's) it is locked too.
    THistoryDataStream *Insert(int Index);
    void Delete(int Index) { FStreams.Delete(Index); }
    void Move(int From, int To) { FStreams.Move(From, To); }
    void LockAll();
    void UnlockAll();
    void Detach(int Flags);
    void DropLinks();
    // A bitmap kept with the step for the document's use.
    std::unique_ptr<TObject> Bitmap;
    // The document's calculation time in days when the step was left.
    double CalculationTime = 0;

private:
    THistoryDataManager &FManager;
    TObjectList<THistoryDataStream> FStreams;
    int FLockCount = 0;
};

class THistoryItem : public TObject {
public:
    DECLARE_CLASS_NAME(THistoryItem)
    std::string Caption;
    std::unique_ptr<THistoryDataList> Data;
    std::string State;
};

class THistoryList : public TObject {
public:
    DECLARE_CLASS_NAME(THistoryList)
    // A history with data keeps its blocks in Manager (the global one when none is given).
    THistoryList(int MaxCount, bool WithData, THistoryDataManager *Manager = nullptr);
    // Where the history keeps its blocks (nullptr for the global manager).
    THistoryDataManager *DataManager() const { return FManager; }
    ~THistoryList() override;

    void Add(const std::string &Caption, const std::string &State);
    int GetCount() const { return FItems.Count(); }
    THistoryItem *GetItem(int Index) const { return FItems.Items(Index); }
    // "No items in history list" when empty.
    THistoryItem *GetCurrent() const;
    int ItemIndex() const { return FItemIndex; }
    // "History list index out of range" outside 0 .. Count - 1.
    void SetItemIndex(int Index);
    bool CanUndo() const { return FItemIndex >= 1; }
    bool CanRedo() const { return FItemIndex < GetCount() - 1; }
    void Undo();
    void Redo();
    // Keeps only the current step, as step 0.
    void Clear();
    void DeleteRedoSteps();

    int MaxCount() const { return FMaxCount; }
    bool WithData() const { return FWithData; }
    bool Recording = true;
    TNotifyEvent OnChange;

private:
    int FItemIndex = -1;
    int FMaxCount;
    bool FWithData;
    TObjectList<THistoryItem> FItems;
    THistoryDataManager *FManager;
};
