// Small classes that every threaded or observable object is built from: a critical section, an
// event, observer lists (unlocked and locked), an object with its own lock, an object with
// deferred change notification and the base of every worker thread; and the file-oriented
// helpers: a file stream that replaces its target only on a successful close, a stream view of a
// caller's memory block, a log file several threads may write, a directory enumerator and a
// millisecond stopwatch.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "SysUtils.h"

// ---------------------------------------------------------------------------------------------
// Processor faults raised as exceptions

// A processor fault (access violation, stack overflow, ...) turned into an exception by
// CallWithFaultGuard. ExceptionCode is the system's code, ExceptionAddress the faulting
// instruction.
class EExternal : public Exception {
public:
    EExternal(const std::string &Message, std::uint32_t Code, void *Address)
        : Exception(Message), ExceptionCode(Code), ExceptionAddress(Address) {}
    DECLARE_CLASS_NAME(EExternal)
    std::uint32_t ExceptionCode;
    void *ExceptionAddress;
};
DECLARE_EXCEPTION(EAccessViolation, EExternal);
DECLARE_EXCEPTION(EStackOverflow, EExternal);

// Runs Body(Data). A C++ exception leaves it unchanged. A processor fault inside Body that no
// inner handler takes ends Body at once and is raised from here as EAccessViolation,
// EStackOverflow or EExternal (any other error code the system raises, for example the code an
// emulator gives a fault); the x87 unit is reset to the control word it had on entry, and after
// a stack overflow the stack's guard page is armed again, so the next overflow is caught too.
// No destructor runs between the fault and this call (there is no C++ unwind through a fault):
// what the region holds must be held through a TFaultRelease (TScopeLock does this), which the
// guard releases before it raises the fault. Anything else the region holds stays held.
void CallWithFaultGuard(void (*Body)(void *), void *Data);

// A release action that the innermost fault guard of the thread runs when a fault ends its
// region. Arm it once the resource is held and disarm it before the resource is given back in
// the normal course; the destructor disarms. Holders live in one scope on the stack of the
// thread that made them and are never moved. Outside a guard, arming does nothing.
class TFaultRelease {
public:
    TFaultRelease() = default;
    ~TFaultRelease() { Disarm(); }
    TFaultRelease(const TFaultRelease &) = delete;
    TFaultRelease &operator=(const TFaultRelease &) = delete;

    void Arm(void (*Release)(void *) noexcept, void *Data);
    void Disarm() {
        if (FGuard)
            Unlink();
    }

private:
    friend struct TFaultReleaseAccess;
    void Unlink();
    void *FGuard = nullptr; // the guard's frame this holder is registered with
    TFaultRelease *FNext = nullptr;
    void (*FRelease)(void *) noexcept = nullptr;
    void *FData = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Locks and events

// One critical section, re-entrant for the thread that owns it.
class TCriticalSection : public TObject {
public:
    TCriticalSection();
    ~TCriticalSection() override;
    TCriticalSection(const TCriticalSection &) = delete;
    TCriticalSection &operator=(const TCriticalSection &) = delete;
    DECLARE_CLASS_NAME(TCriticalSection)

    void Enter();
    void Leave();

private:
    // Room for the system's CRITICAL_SECTION, kept opaque so that this header needs no <windows.h>.
    alignas(8) unsigned char FSection[24];
};

// Holds a lock for the life of a scope: a TCriticalSection (Enter/Leave) or any object with
// Lock/Unlock.
template <class T> class TScopeLock {
public:
    explicit TScopeLock(T &Object) : FObject(Object) {
        if constexpr (requires { Object.Enter(); })
            FObject.Enter();
        else
            FObject.Lock();
        // A processor fault inside a fault guard gives the lock back too.
        FRelease.Arm(&Release, &FObject);
    }
    ~TScopeLock() {
        FRelease.Disarm();
        Release(&FObject);
    }
    TScopeLock(const TScopeLock &) = delete;
    TScopeLock &operator=(const TScopeLock &) = delete;

private:
    static void Release(void *Object) noexcept {
        T &object = *static_cast<T *>(Object);
        if constexpr (requires { object.Leave(); })
            object.Leave();
        else
            object.Unlock();
    }
    T &FObject;
    TFaultRelease FRelease;
};

// One unnamed system event.
class TEvent : public TObject {
public:
    // Raises Exception "Error creating event object" when the system refuses.
    TEvent(bool ManualReset, bool InitialState);
    ~TEvent() override;
    TEvent(const TEvent &) = delete;
    TEvent &operator=(const TEvent &) = delete;
    DECLARE_CLASS_NAME(TEvent)

    void SetEvent();
    void ResetEvent();
    // The wait code: 0 signalled, 258 timed out.
    std::uint32_t WaitFor(std::uint32_t Timeout);
    std::uint32_t WaitForever();
    THandle Handle() const { return FHandle; }

    static constexpr std::uint32_t wrSignaled = 0;
    static constexpr std::uint32_t wrTimeout = 258;

private:
    THandle FHandle = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Observer lists

// Handlers called in insertion order with the manager as Sender. Used from one thread; the
// locked variant below serves objects notified from worker threads.
//
// A handler may remove handlers (itself or others) while Notify runs: the walk stays on the
// live list, never calls past its end, calls no removed handler and skips none that remains.
// Handlers added during a walk are first called by the next Notify.
class TNotificationManager : public TObject {
public:
    TNotificationManager() = default;
    ~TNotificationManager() override;
    TNotificationManager(const TNotificationManager &) = delete;
    TNotificationManager &operator=(const TNotificationManager &) = delete;
    DECLARE_CLASS_NAME(TNotificationManager)

    virtual void Lock() {}
    virtual void Unlock() {}

    // Appends Handler; a handler added twice is called twice.
    void AddHandler(const TNotifyEvent &Handler);
    // Removes the first entry equal to Handler (same code and object); unknown handlers are ignored.
    void RemoveHandler(const TNotifyEvent &Handler);
    // Calls every handler with Sender = this. An exception of a handler releases the lock and
    // passes on; the handlers after it are not called.
    void Notify();
    int Count();

private:
    // One running Notify: Next is the index of the next handler to call, Limit the end of the
    // list as it stood when the walk began.
    struct TWalk {
        int Next;
        int Limit;
        TWalk *Outer;
    };
    std::vector<TNotifyEvent> FHandlers;
    TWalk *FWalks = nullptr;
};

// The same under a critical section held through AddHandler, RemoveHandler and the whole of
// Notify (handlers run inside the lock, on the notifying thread).
class TMultiThreadedNotificationManager : public TNotificationManager {
public:
    TMultiThreadedNotificationManager();
    ~TMultiThreadedNotificationManager() override;
    DECLARE_CLASS_NAME(TMultiThreadedNotificationManager)

    void Lock() override;
    void Unlock() override;

private:
    std::unique_ptr<TCriticalSection> FLock;
};

// Base of objects with their own lock.
class TMultiThreadedObject : public TObject {
public:
    TMultiThreadedObject();
    ~TMultiThreadedObject() override;
    TMultiThreadedObject(const TMultiThreadedObject &) = delete;
    TMultiThreadedObject &operator=(const TMultiThreadedObject &) = delete;
    DECLARE_CLASS_NAME(TMultiThreadedObject)

    void Lock();
    void Unlock();

private:
    std::unique_ptr<TCriticalSection> FLock;
};

// Deferred change notification: Changed inside BeginUpdate/EndUpdate calls DoChange once, when
// the outermost EndUpdate closes.
class TUpdatedObject : public TObject {
public:
    TUpdatedObject() = default;
    DECLARE_CLASS_NAME(TUpdatedObject)

    void BeginUpdate();
    // An EndUpdate without a matching BeginUpdate is ignored (the depth never goes below 0).
    void EndUpdate();
    void Changed();
    bool ChangePending() const { return FChangePending; }
    int UpdateCount() const { return FUpdateCount; }

    TNotifyEvent OnChange;

protected:
    virtual void DoChange();

private:
    bool FChangePending = false;
    int FUpdateCount = 0;
};

// ---------------------------------------------------------------------------------------------
// Worker threads

// Base of every worker thread. Execute runs DoExecute so that nothing escapes unreported: every
// C++ exception and every processor fault goes to the crash report (HandleThreadException; an
// EAbort passes silently), after which the thread ends in the usual way. Like every thread it is
// made as TJoinedThread<TMyThread>.
class TGeneralThread : public TThread {
public:
    explicit TGeneralThread(bool CreateSuspended) : TThread(CreateSuspended) {}
    DECLARE_CLASS_NAME(TGeneralThread)

    // ResumeThread on the handle; the previous suspend count (-1 on failure). The class
    // library's own suspended flag is not changed.
    int ResumeHandle();

protected:
    void Execute() final;
    virtual void DoExecute() = 0;
};

// ---------------------------------------------------------------------------------------------
// Files and streams

// A file stream for saving. Opened with fmCreate it writes a temporary file beside the target
// (the target's name with the extension ".$00" .. ".$ff", the first that does not exist) and
// leaves the target untouched; the target is replaced only when the stream is committed
// (Commit, or destruction in the normal course). When a write failed, or the stream is destroyed
// while an exception unwinds, the temporary file is deleted and the target stays as it was.
// Opened with any other mode it is a plain file stream on FileName.
class TSafeFileStream : public TFileStream {
public:
    TSafeFileStream(const std::string &FileName, std::uint16_t Mode);
    ~TSafeFileStream() override;
    DECLARE_CLASS_NAME(TSafeFileStream)

    int32_t Write(const void *Buffer, int32_t Count) override;

    // Closes the file and replaces the target with it. Raises EWriteError when an earlier write
    // failed or the target cannot be replaced (the temporary file is then deleted). Nothing
    // happens for a stream opened in place or one already committed.
    void Commit();

    // FileName with its extension replaced by ".$" and two lower-case hexadecimal digits: the
    // first of 00..ff whose file does not exist, else the one ending in ff.
    static std::string MakeTempFileName(const std::string &FileName);

    const std::string &TargetName() const { return FTargetName; }
    const std::string &TempName() const { return FTempName; }
    // Errors name the file being saved, not the temporary copy.
    std::string FileNameForErrors() const override { return FTargetName; }
    bool Failed() const { return FFailed; }
    // Closes and deletes the temporary file, leaving the target as it was; for a writer that
    // gave up without an exception in flight. Nothing happens once committed or discarded.
    void Discard();

private:
    TSafeFileStream(const std::string &FileName, std::uint16_t Mode, const std::string &OpenName);
    void CloseFile();
    std::string FTargetName;
    std::string FTempName;
    bool FFailed = false;
    bool FDone = false; // committed or discarded
    int FUncaughtAtCreation = 0;
};

// A stream over a memory block owned by the caller; it never copies, grows or frees the block.
// Write copies what fits between Position and the end of the block and advances Position.
class TAccessMemoryStream : public TCustomMemoryStream {
public:
    TAccessMemoryStream(void *Buffer, int64_t Size);
    DECLARE_CLASS_NAME(TAccessMemoryStream)

    int32_t Write(const void *Buffer, int32_t Count) override;
};

// An append-only text log that several threads may write: each line is appended by opening,
// writing and closing the file under the object's lock, so lines never interleave and other
// processes can read the log as it grows. File errors never raise: the line is lost.
class TLogFile : public TMultiThreadedObject {
public:
    explicit TLogFile(const std::string &FileName);
    DECLARE_CLASS_NAME(TLogFile)

    // Appends Text and CR LF, with the prefixes "Thread %d: " and "<date time>: " when switched on.
    void Add(const std::string &Text);
    template <class... Args>
    void AddFormat(TFormatString<std::type_identity_t<Args>...> Fmt, const Args &...Values) {
        Add(Format<Args...>(Fmt, Values...));
    }
    // Appends CR LF, only to an existing file.
    void AddEmptyLine();
    // Deletes the file.
    void Clear();

    bool Enabled = true;
    std::string FileName;
    bool ThreadIds = false;
    bool TimeStamps = false;

private:
    void Append(const std::string &Line, bool OnlyIfExists);
};

// File attribute bits of the search (the standard attribute values).
constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;
constexpr int faSysFile = 0x04;
constexpr int faVolumeID = 0x08;
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;
constexpr int faAnyFile = 0x3F;

// Enumerates the entries that match a path mask. Entries with the hidden, system or directory
// attribute are listed only when Attributes asks for them (faAnyFile lists every entry).
class TFileEnumerator : public TObject {
public:
    TFileEnumerator(const std::string &PathMask, int Attributes);
    ~TFileEnumerator() override;
    TFileEnumerator(const TFileEnumerator &) = delete;
    TFileEnumerator &operator=(const TFileEnumerator &) = delete;
    DECLARE_CLASS_NAME(TFileEnumerator)

    // The first call makes the first match current, later calls move to the next; false when no
    // match is current.
    bool Next();
    // The current match; empty text and 0 when none is current.
    std::string GetName() const;
    int64_t GetSize() const;
    // Last write time as a packed DOS date-time (date in the high word), local time.
    int32_t GetTime() const;
    int GetAttributes() const;
    bool HasAttribute(int Mask) const;
    bool IsOpened() const { return FOpened; }

private:
    bool Matches() const;
    bool FindNextMatch();
    bool FOpened = false;
    struct TSearchData;
    std::unique_ptr<TSearchData> FSearch;
    bool FFirstPending = true;
    bool FCurrent = false;
    int FExcluded = 0;
};

// Milliseconds since creation or the last Restart, by the multimedia timer (wrap-around safe).
class TIntervalTimer : public TObject {
public:
    TIntervalTimer();
    DECLARE_CLASS_NAME(TIntervalTimer)

    std::uint32_t Elapsed() const;
    void Restart();

private:
    std::uint32_t FStart;
};
