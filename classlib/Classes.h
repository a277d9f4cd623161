// Lists, string lists, streams, threads and method events of the class library.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "SysUtils.h"

// ---------------------------------------------------------------------------------------------
// Method events: a (code, object) pair that compares equal to another when both code and object
// are the same. The code is one thunk per member function, so two events made from the same
// member function and the same object are equal wherever they were made.

template <class Signature> class TMethod;

template <class R, class... Args> class TMethod<R(Args...)> {
public:
    using Code = R (*)(void *, Args...);

    TMethod() = default;
    TMethod(std::nullptr_t) {}
    TMethod(Code code, void *data) : FCode(code), FData(data) {}

    bool Assigned() const { return FCode != nullptr; }
    explicit operator bool() const { return FCode != nullptr; }
    Code GetCode() const { return FCode; }
    void *GetData() const { return FData; }

    // Calling an unassigned event does nothing (and returns R{}).
    R operator()(Args... args) const {
        if (FCode)
            return FCode(FData, std::forward<Args>(args)...);
        if constexpr (!std::is_void_v<R>)
            return R{};
    }

    friend bool operator==(const TMethod &a, const TMethod &b) {
        return a.FCode == b.FCode && a.FData == b.FData;
    }

private:
    Code FCode = nullptr;
    void *FData = nullptr;
};

namespace classlib_detail {
// The thunk's class template takes the class that declares the member as a type argument as
// well as the member pointer. GCC gives an instantiation whose only argument is a pointer to a
// member of a class in an anonymous namespace external linkage, as a COMDAT/weak symbol of the
// same name in every file: two files with a same-named class and member then shared one thunk,
// and one file's events called the other file's member. A type argument from an anonymous
// namespace (or a local class) makes the instantiation local to its file.
template <class P> struct MemberClassOf;
template <class C, class M> struct MemberClassOf<M C::*> { using Type = C; };
template <class C, auto Member> struct MethodTraits;
template <class C, class R, class... Args, R (C::*Member)(Args...)> struct MethodTraits<C, Member> {
    using Class = C;
    using Event = TMethod<R(Args...)>;
    static R Thunk(void *self, Args... args) {
        return (static_cast<C *>(self)->*Member)(std::forward<Args>(args)...);
    }
};
template <class C, class R, class... Args, R (C::*Member)(Args...) const> struct MethodTraits<C, Member> {
    using Class = const C;
    using Event = TMethod<R(Args...)>;
    static R Thunk(void *self, Args... args) {
        return (static_cast<const C *>(self)->*Member)(std::forward<Args>(args)...);
    }
};
} // namespace classlib_detail

// MakeEvent<&TFoo::Handler>(foo): the event that calls foo->Handler(...).
template <auto Member, class T> auto MakeEvent(T *object) {
    using Declaring = typename classlib_detail::MemberClassOf<decltype(Member)>::Type;
    using Traits = classlib_detail::MethodTraits<Declaring, Member>;
    using Class = typename Traits::Class;
    Class *self = object; // the object as the class that declares the member
    return typename Traits::Event(&Traits::Thunk, const_cast<void *>(static_cast<const void *>(self)));
}

using TNotifyEvent = TMethod<void(TObject *Sender)>;

// MakeNotifyEvent<&TFoo::Changed>(foo) for a member void Changed(TObject *Sender).
template <auto Member, class T> TNotifyEvent MakeNotifyEvent(T *object) {
    return MakeEvent<Member>(object);
}

// ---------------------------------------------------------------------------------------------
// TList: an unowned list of pointers. Index errors raise EListError "List index out of bounds (%d)".

// Stable bottom-up merge sort of Items; Less(a, b) is true when a belongs before b. Every list
// sorts through it: it never reads outside the items and always ends, however inconsistent Less
// is (the standard sorts may do either with a comparison that is not a strict weak order).
template <class T, class Less> void MergeSortItems(std::vector<T> &Items, Less less) {
    const size_t n = Items.size();
    if (n < 2)
        return;
    std::vector<T> buffer(n);
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            const size_t mid = lo + width < n ? lo + width : n;
            const size_t hi = lo + 2 * width < n ? lo + 2 * width : n;
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi)
                buffer[k++] = less(Items[j], Items[i]) ? std::move(Items[j++]) : std::move(Items[i++]);
            while (i < mid)
                buffer[k++] = std::move(Items[i++]);
            while (j < hi)
                buffer[k++] = std::move(Items[j++]);
        }
        Items.swap(buffer);
    }
}

using TListSortCompare = int (*)(void *Item1, void *Item2);

class TList : public TObject {
public:
    DECLARE_CLASS_NAME(TList)
    TList() = default;
    TList(const TList &) = delete;
    TList &operator=(const TList &) = delete;

    int Add(void *Item);
    void Insert(int Index, void *Item);
    void Delete(int Index);
    // Removes the first entry equal to Item; its former index or -1.
    int Remove(void *Item);
    // Removes the first entry equal to Item and returns it (nullptr when absent).
    void *Extract(void *Item);
    int IndexOf(void *Item) const;
    void Clear();
    void Exchange(int Index1, int Index2);
    void Move(int CurIndex, int NewIndex);
    // Stable sort by Compare (<0, 0, >0).
    void Sort(TListSortCompare Compare);
    // Removes every nullptr entry.
    void Pack();

    int Count() const { return static_cast<int>(FItems.size()); }
    // Shrinking drops entries, growing appends nullptr entries.
    void SetCount(int NewCount);
    int Capacity() const { return static_cast<int>(FItems.capacity()); }
    void SetCapacity(int NewCapacity);
    void *Items(int Index) const;
    void SetItems(int Index, void *Item);
    void *operator[](int Index) const { return Items(Index); }
    void *First() const { return Items(0); }
    void *Last() const { return Items(Count() - 1); }

private:
    void CheckIndex(int Index) const;
    std::vector<void *> FItems;
};

[[noreturn]] void RaiseListIndexError(int Index);

// An owning list: every object added belongs to the list until it is deleted or extracted.
template <class T> class TObjectList : public TObject {
public:
    DECLARE_CLASS_NAME(TObjectList)
    TObjectList() = default;
    TObjectList(const TObjectList &) = delete;
    TObjectList &operator=(const TObjectList &) = delete;

    int Add(std::unique_ptr<T> Item) {
        FItems.push_back(std::move(Item));
        return Count() - 1;
    }
    void Insert(int Index, std::unique_ptr<T> Item) {
        if (Index < 0 || Index > Count())
            RaiseListIndexError(Index);
        FItems.insert(FItems.begin() + Index, std::move(Item));
    }
    // Frees the object at Index.
    void Delete(int Index) {
        CheckIndex(Index);
        std::unique_ptr<T> doomed = std::move(FItems[Index]);
        FItems.erase(FItems.begin() + Index);
    }
    // Frees the first entry equal to Item; its former index or -1.
    int Remove(const T *Item) {
        int index = IndexOf(Item);
        if (index >= 0)
            Delete(index);
        return index;
    }
    // Takes the object at Index out of the list without freeing it.
    std::unique_ptr<T> ExtractAt(int Index) {
        CheckIndex(Index);
        std::unique_ptr<T> result = std::move(FItems[Index]);
        FItems.erase(FItems.begin() + Index);
        return result;
    }
    std::unique_ptr<T> Extract(const T *Item) {
        int index = IndexOf(Item);
        return index >= 0 ? ExtractAt(index) : nullptr;
    }
    int IndexOf(const T *Item) const {
        for (size_t i = 0; i < FItems.size(); ++i)
            if (FItems[i].get() == Item)
                return static_cast<int>(i);
        return -1;
    }
    // Frees every object, the last first.
    void Clear() {
        while (!FItems.empty()) {
            std::unique_ptr<T> doomed = std::move(FItems.back());
            FItems.pop_back();
        }
    }
    void Exchange(int Index1, int Index2) {
        CheckIndex(Index1);
        CheckIndex(Index2);
        std::swap(FItems[Index1], FItems[Index2]);
    }
    void Move(int CurIndex, int NewIndex) {
        if (CurIndex == NewIndex)
            return;
        CheckIndex(NewIndex);
        std::unique_ptr<T> item = ExtractAt(CurIndex);
        FItems.insert(FItems.begin() + NewIndex, std::move(item));
    }
    // Stable sort; Compare(a, b) < 0 when a belongs before b.
    template <class Compare> void Sort(Compare compare) {
        MergeSortItems(FItems, [&](const std::unique_ptr<T> &a, const std::unique_ptr<T> &b) {
            return compare(a.get(), b.get()) < 0;
        });
    }

    int Count() const { return static_cast<int>(FItems.size()); }
    T *Items(int Index) const {
        CheckIndex(Index);
        return FItems[Index].get();
    }
    T *operator[](int Index) const { return Items(Index); }
    T *First() const { return Items(0); }
    T *Last() const { return Items(Count() - 1); }
    // Replaces (and frees) the object at Index.
    void SetItems(int Index, std::unique_ptr<T> Item) {
        CheckIndex(Index);
        std::unique_ptr<T> doomed = std::move(FItems[Index]);
        FItems[Index] = std::move(Item);
    }

    ~TObjectList() override { Clear(); }

private:
    void CheckIndex(int Index) const {
        if (Index < 0 || Index >= Count())
            RaiseListIndexError(Index);
    }
    std::vector<std::unique_ptr<T>> FItems;
};

// ---------------------------------------------------------------------------------------------
// Streams. Positions and sizes are 64-bit; single transfers are limited to 32-bit counts.

class TStream;

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };
constexpr int soFromBeginning = 0;
constexpr int soFromCurrent = 1;
constexpr int soFromEnd = 2;

class TStream : public TObject {
public:
    DECLARE_CLASS_NAME(TStream)
    TStream() = default;
    TStream(const TStream &) = delete;
    TStream &operator=(const TStream &) = delete;

    // Read and Write transfer up to Count bytes and return how many were transferred.
    virtual int32_t Read(void *Buffer, int32_t Count) = 0;
    virtual int32_t Write(const void *Buffer, int32_t Count) = 0;
    // Origin is soFromBeginning, soFromCurrent or soFromEnd; the result is the new position.
    virtual int64_t Seek(int64_t Offset, int Origin) = 0;

    int64_t Position();
    void SetPosition(int64_t Pos);
    virtual int64_t Size();
    // Streams that cannot change size raise EStreamError "Stream size cannot be changed".
    virtual void SetSize(int64_t NewSize);
    // Size minus Position, never negative.
    int64_t Remaining();

    // Raise EReadError "Stream read error" / EWriteError "Stream write error" when fewer bytes
    // than Count move.
    void ReadBuffer(void *Buffer, int32_t Count);
    void WriteBuffer(const void *Buffer, int32_t Count);
    // Copies Count bytes from Source's position; Count 0 copies all of Source from its start.
    // The result is the number of bytes copied.
    int64_t CopyFrom(TStream &Source, int64_t Count);

    // Fixed-width little-endian values; every read raises EReadError at the end of the stream.
    uint8_t ReadUInt8();
    int8_t ReadInt8();
    uint16_t ReadUInt16();
    int16_t ReadInt16();
    uint32_t ReadUInt32();
    int32_t ReadInt32();
    uint64_t ReadUInt64();
    int64_t ReadInt64();
    float ReadFloat32();
    double ReadFloat64();
    long double ReadFloat80(); // the 10-byte x87 form
    void WriteUInt8(uint8_t Value);
    void WriteInt8(int8_t Value);
    void WriteUInt16(uint16_t Value);
    void WriteInt16(int16_t Value);
    void WriteUInt32(uint32_t Value);
    void WriteInt32(int32_t Value);
    void WriteUInt64(uint64_t Value);
    void WriteInt64(int64_t Value);
    void WriteFloat32(float Value);
    void WriteFloat64(double Value);
    void WriteFloat80(long double Value);

    // Reads Length bytes as text. A negative Length, one beyond what remains or beyond Cap
    // raises EReadError before anything is allocated.
    std::string ReadString(int64_t Length, int64_t Cap = INT32_MAX);
    // Writes the bytes of S (no length, no terminator).
    void WriteString(const std::string &S);
    // Checks a length just read from the stream against what remains and against Cap; raises
    // EReadError "Stream read error" when it does not fit.
    void CheckLength(int64_t Length, int64_t Cap);
    // The file behind the stream, named by its read and write errors; empty for other streams.
    virtual std::string FileNameForErrors() const { return std::string(); }

protected:
    // EReadError / EWriteError "Stream read error" / "Stream write error", followed by
    // ' in file "<name>"' for a stream over a file.
    [[noreturn]] void RaiseReadError() const;
    [[noreturn]] void RaiseWriteError() const;
};

// Any Win32 handle.
using THandle = void *;

// A stream over a Win32 file handle, which it does not own. A failure of the system call raises
// EReadError / EWriteError instead of passing unnoticed.
class THandleStream : public TStream {
public:
    DECLARE_CLASS_NAME(THandleStream)
    explicit THandleStream(THandle AHandle) : FHandle(AHandle) {}
    int32_t Read(void *Buffer, int32_t Count) override;
    int32_t Write(const void *Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, int Origin) override;
    void SetSize(int64_t NewSize) override;
    THandle Handle() const { return FHandle; }

protected:
    THandle FHandle;
};

// File modes: one access mode or'ed with one share mode, or fmCreate (create or truncate, opened
// for reading and writing, not shared).
constexpr uint16_t fmCreate = 0xFFFF;
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;

// Raises EFCreateError "Cannot create file \"%s\"" or EFOpenError "Cannot open file \"%s\"".
class TFileStream : public THandleStream {
public:
    DECLARE_CLASS_NAME(TFileStream)
    TFileStream(const std::string &AFileName, uint16_t Mode);
    ~TFileStream() override;
    const std::string &FileName() const { return FFileName; }
    std::string FileNameForErrors() const override { return FFileName; }

private:
    std::string FFileName;
};

// A stream over one memory block. Reading and seeking only; writing returns 0.
class TCustomMemoryStream : public TStream {
public:
    DECLARE_CLASS_NAME(TCustomMemoryStream)
    int32_t Read(void *Buffer, int32_t Count) override;
    int32_t Write(const void *Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, int Origin) override;
    int64_t Size() override { return FSize; }
    void *Memory() const { return FMemory; }
    void SaveToStream(TStream &Stream);
    void SaveToFile(const std::string &FileName);

protected:
    // Points the stream at Size bytes at Ptr; the position is kept.
    void SetPointer(void *Ptr, int64_t Size);
    int64_t FPosition = 0;

private:
    void *FMemory = nullptr;
    int64_t FSize = 0;
};

// A memory stream that owns and grows its block. Allocation failure raises EOutOfMemory.
class TMemoryStream : public TCustomMemoryStream {
public:
    DECLARE_CLASS_NAME(TMemoryStream)
    TMemoryStream() = default;
    ~TMemoryStream() override;
    int32_t Write(const void *Buffer, int32_t Count) override;
    void SetSize(int64_t NewSize) override;
    void Clear();
    int64_t Capacity() const { return FCapacity; }
    void SetCapacity(int64_t NewCapacity);
    // Replace the content with everything from Stream's start / the file; the position becomes 0.
    void LoadFromStream(TStream &Stream);
    void LoadFromFile(const std::string &FileName);

private:
    void Reallocate(int64_t NewCapacity);
    int64_t FCapacity = 0;
};

// A memory stream over an owned std::string.
class TStringStream : public TStream {
public:
    DECLARE_CLASS_NAME(TStringStream)
    explicit TStringStream(std::string AString = std::string()) : FData(std::move(AString)) {}
    int32_t Read(void *Buffer, int32_t Count) override;
    int32_t Write(const void *Buffer, int32_t Count) override;
    int64_t Seek(int64_t Offset, int Origin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    void SetSize(int64_t NewSize) override;
    const std::string &DataString() const { return FData; }

private:
    std::string FData;
    int64_t FPosition = 0;
};

// ---------------------------------------------------------------------------------------------
// String lists. Text uses CR LF between lines; reading splits at CR LF, CR or LF.

// Sorted lists with dupError, and Insert into a sorted list raise EStringListError.
DECLARE_EXCEPTION(EStringListError, EListError);

class TStrings : public TObject {
public:
    DECLARE_CLASS_NAME(TStrings)
    TStrings() = default;
    TStrings(const TStrings &) = delete;
    TStrings &operator=(const TStrings &) = delete;

    virtual int Count() const = 0;
    virtual std::string Strings(int Index) const = 0;
    virtual void SetStrings(int Index, const std::string &S);
    virtual TObject *Objects(int Index) const;
    virtual void PutObject(int Index, TObject *AObject);
    virtual void Insert(int Index, const std::string &S) = 0;
    virtual void Delete(int Index) = 0;
    virtual void Clear() = 0;
    virtual int Add(const std::string &S);
    virtual void Exchange(int Index1, int Index2);
    // First index whose text equals S (letter case ignored unless the list says otherwise), -1.
    virtual int IndexOf(const std::string &S) const;

    std::string operator[](int Index) const { return Strings(Index); }
    int AddObject(const std::string &S, TObject *AObject);
    void InsertObject(int Index, const std::string &S, TObject *AObject);
    void Append(const std::string &S) { Add(S); }
    void AddStrings(const TStrings &Strings);
    virtual void Assign(const TStrings &Source);
    void Move(int CurIndex, int NewIndex);
    int IndexOfObject(const TObject *AObject) const;
    bool Equals(const TStrings &Other) const;

    // Every line followed by CR LF.
    std::string Text() const;
    virtual void SetText(const std::string &Value);

    // "name=value" entries: the name is the text before the first '=' (letter case ignored).
    std::string Names(int Index) const;
    std::string ValueFromIndex(int Index) const;
    int IndexOfName(const std::string &Name) const;
    std::string Values(const std::string &Name) const;
    // An empty Value removes the entry; otherwise it is replaced or appended.
    void SetValues(const std::string &Name, const std::string &Value);

    void BeginUpdate();
    void EndUpdate();

    // Loading replaces the content with the rest of the stream / the whole file.
    virtual void LoadFromStream(TStream &Stream);
    virtual void SaveToStream(TStream &Stream) const;
    void LoadFromFile(const std::string &FileName);
    void SaveToFile(const std::string &FileName) const;

protected:
    virtual int CompareStrings(const std::string &S1, const std::string &S2) const;
    // Called with true when the first BeginUpdate opens an update and false when it closes.
    virtual void SetUpdateState(bool /*Updating*/) {}
    int UpdateCount() const { return FUpdateCount; }

private:
    int FUpdateCount = 0;
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

using TStringListSortCompare = int (*)(class TStringList &List, int Index1, int Index2);

class TStringList : public TStrings {
public:
    DECLARE_CLASS_NAME(TStringList)
    TStringList() = default;

    int Count() const override { return static_cast<int>(FItems.size()); }
    std::string Strings(int Index) const override;
    void SetStrings(int Index, const std::string &S) override;
    TObject *Objects(int Index) const override;
    void PutObject(int Index, TObject *AObject) override;
    // In a sorted list Add puts S at its place (and applies Duplicates); Insert raises.
    int Add(const std::string &S) override;
    void Insert(int Index, const std::string &S) override;
    void Delete(int Index) override;
    void Clear() override;
    void Exchange(int Index1, int Index2) override;
    int IndexOf(const std::string &S) const override;
    void SetText(const std::string &Value) override;
    void Assign(const TStrings &Source) override;

    // Binary search of a sorted list (a linear search otherwise); Index receives the position of
    // the match or where S would go.
    bool Find(const std::string &S, int &Index) const;
    // Stable sort (letter case ignored unless CaseSensitive).
    virtual void Sort();
    void CustomSort(TStringListSortCompare Compare);

    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool Value);

    TNotifyEvent OnChange;
    TNotifyEvent OnChanging;

protected:
    int CompareStrings(const std::string &S1, const std::string &S2) const override;
    void SetUpdateState(bool Updating) override;
    virtual void Changed();
    virtual void Changing();

private:
    struct TStringItem {
        std::string FString;
        TObject *FObject = nullptr;
    };
    void CheckIndex(int Index) const;
    void InsertItem(int Index, const std::string &S, TObject *AObject);
    std::vector<TStringItem> FItems;
    bool FSorted = false;
    bool FCaseSensitive = false;
    TDuplicates FDuplicates = dupIgnore;
};

// ---------------------------------------------------------------------------------------------
// TThread: a Win32 thread that runs Execute. The thread routine sets the x87 control word to
// 0x137F before Execute and catches every exception, so none leaves the thread; after Execute
// it calls DoTerminate (which calls OnTerminate on this thread) and, with FreeOnTerminate,
// deletes the object.
//
// Construction always leaves the thread suspended: a C++ object is not complete while its base
// constructor runs, so a thread started there could call Execute of a half-built object. Create
// with CreateSuspended = true and call Start (or Resume) once the object is complete;
// CreateSuspended = false raises EThread.
//
// A thread object is stopped and joined before any descendant part of it is destroyed: every
// concrete thread is made as TJoinedThread<TMyThread>, whose destructor runs first, calls the
// descendant's own Terminate (which may set a wake-up event only it knows) and waits for the
// thread to end. A descendant that is not wrapped stays abstract, so the wrapper cannot be
// forgotten. A thread destroyed before it ever ran never runs Execute.

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread : public TObject {
public:
    DECLARE_CLASS_NAME(TThread)
    // Raises EThread "Thread creation error: %s" when the system refuses to make the thread.
    explicit TThread(bool CreateSuspended);
    ~TThread() override;
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;

    // Resume decrements the suspend count; Start runs a thread that was never started.
    void Resume();
    void Suspend();
    void Start() { Resume(); }
    // Only sets the Terminated flag; Execute is expected to poll it.
    virtual void Terminate();
    // Waits for the thread to end and returns ReturnValue. Raises EThread when called on the
    // thread itself, on a FreeOnTerminate thread or on a suspended thread (it would never end).
    uint32_t WaitFor();
    // Terminate, then wait for the end; safe from any destructor, also on the thread itself
    // (then it does not wait) and for a thread that never ran (Execute is then skipped).
    void TerminateAndWait();

    bool Terminated() const { return FTerminated.load(); }
    bool Finished() const { return FFinished.load(); }
    bool Suspended() const { return FSuspended; }
    bool FreeOnTerminate() const { return FFreeOnTerminate; }
    void SetFreeOnTerminate(bool Value) { FFreeOnTerminate = Value; }
    THandle Handle() const { return FHandle; }
    uint32_t ThreadID() const { return FThreadID; }
    TThreadPriority Priority() const;
    void SetPriority(TThreadPriority Value);
    int32_t ReturnValue() const { return FReturnValue; }
    // What escaped Execute, if anything.
    std::exception_ptr FatalException() const { return FFatalException; }

    TNotifyEvent OnTerminate;

protected:
    // End-of-thread notification; runs on the ending thread after Execute.
    virtual void DoTerminate();
    virtual void Execute() = 0;
    void SetReturnValue(int32_t Value) { FReturnValue = Value; }

private:
    static unsigned long __attribute__((stdcall)) ThreadProc(void *Parameter);
    THandle FHandle = nullptr;
    uint32_t FThreadID = 0;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FSkipExecute{false};
    bool FStarted = false;
    bool FSuspended = true;
    bool FFreeOnTerminate = false;
    int32_t FReturnValue = 0;
    std::exception_ptr FFatalException;

    // Implemented only by TJoinedThread: a thread class that is not wrapped cannot be made.
    virtual void StoppedBeforeDestruction() = 0;
};

// The most-derived class of every thread object (see TThread).
template <class T> class TJoinedThread final : public T {
public:
    using T::T;
    ~TJoinedThread() override { this->TerminateAndWait(); }

private:
    void StoppedBeforeDestruction() final {}
};
