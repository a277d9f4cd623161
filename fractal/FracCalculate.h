// The calculation engine, the manager of the calculation threads, the threads and the bindings
// that tie a thread to an engine and the piece it works on.
//
// An engine cuts its rectangles into vertical strips (pieces, TCompute), hands them one at a time
// to calculation threads, records which are done and calls its owner back when all are done. The
// one manager owns the pool of local threads, knows every engine with work and every network
// thread, and shares the threads among the engines.
//
// Lock order: manager, then engine, then a thread's lock. Nothing that holds an engine lock takes
// the manager lock, and bindings are released without the manager lock, so a thread that waits
// for an engine's threads under the manager lock (a re-cut) is never blocked by a releaser; and
// it waits at most RecutWaitLimit, so a thread that keeps its piece (a network peer that stalled)
// never holds up every other thread.
//
// End of a run. Exactly one CalculationFinished follows each StartCalculation whose run ends: on
// the thread that released the last piece, after the engine has left the manager, without any
// lock held; or at once on the starting thread when the run has no work (empty rectangles, or
// every piece already done). A run that was stopped with work left ends without a call, and a
// StartCalculation that raises leaves no run (see there).
//
// Ending with an error. When a piece's calculation raises (a C++ exception, or a processor fault
// in generated code, which the piece's fault guard turns into EExternal), the calculating thread
// calls PieceFailed: the first message is kept on the engine, no further piece is handed out,
// every other thread working here is asked to stop, and the failed piece goes back to new (it is
// calculated again by a later run). When the last piece is released, the engine leaves the
// manager and CalculationFinished runs as usual; there Failed() is true and ErrorMessage() holds
// the message. The thread itself goes on with other engines; the process never dies for it. The
// error is cleared by the next StartCalculation.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "CompPersistent.h"
#include "FracCompute.h"
#include "GenClasses.h"

class TCalculateBinding;
class TCalculateEngine;
class TCalculateManager;

DECLARE_EXCEPTION(EEngineError, Exception);

// Size of the engine record: 12 + 33 per piece.
constexpr int EngineRecordHeaderSize = 12;

// How long a re-cut waits for the threads working on an engine to give their pieces back (ms).
constexpr std::uint32_t RecutWaitLimit = 1000;
// A time-out of StopThreads that waits as long as it takes.
constexpr std::uint32_t WaitWithoutLimit = 0xFFFFFFFF;

// Base of every thread that calculates pieces: the local pool threads and the network client
// threads. Made as TJoinedThread<T>; created suspended, so the maker starts it once it is
// complete.
class TCalculateThread : public TGeneralThread {
public:
    TCalculateThread();
    DECLARE_CLASS_NAME(TCalculateThread)

    void Lock() { FLock->Enter(); }
    void Unlock() { FLock->Leave(); }
    // Makes the thread's current piece stop soon. Called with the engine's lock held.
    virtual void StopCalculation() = 0;

private:
    std::unique_ptr<TCriticalSection> FLock;
};

// Ties one thread to one engine and the piece the thread works on. Freeing the binding releases
// its piece at the engine.
class TCalculateBinding : public TObject {
public:
    TCalculateBinding(TCalculateEngine *AEngine, TCalculateThread *AThread);
    ~TCalculateBinding() override;
    TCalculateBinding(const TCalculateBinding &) = delete;
    TCalculateBinding &operator=(const TCalculateBinding &) = delete;
    DECLARE_CLASS_NAME(TCalculateBinding)

    void StopThread();
    void SetPriority(std::uint8_t Priority);

    // The thread is not a TCalculateLocalThread.
    bool Network;
    TCalculateEngine *Engine;
    // Nil until a piece is acquired.
    TCompute *Piece = nullptr;
    // The thread gives the piece back without its result (a network thread whose server was
    // lost or that was stopped before the server finished): unless the piece holds a resume
    // position it goes back to new instead of counting as done.
    bool Unfinished = false;
    TCalculateThread *Thread;

private:
    friend class TCalculateEngine;
    // The calculation of the piece raised (PieceFailed).
    bool FFailed = false;
};

// A thread of the manager's pool. It looks for work, calculates one piece at a time under the
// formula control word and leaves the pool after the manager's idle time-out without work.
class TCalculateLocalThread : public TCalculateThread {
public:
    explicit TCalculateLocalThread(TCalculateManager &AManager);
    DECLARE_CLASS_NAME(TCalculateLocalThread)

    void StopCalculation() override;

protected:
    void DoExecute() override;

private:
    bool GetWork();
    void CalculateBinding();
    void ReleaseWork();

    TCalculateManager &FManager;
    std::unique_ptr<TCalculateBinding> FBinding; // nil when idle
    bool FStopFlag = false;
};

class TCalculateEngine : public TPersistentObject {
public:
    // Manager nil: the global CalculateManager() at the time of use.
    explicit TCalculateEngine(TCalculateManager *AManager = nullptr);
    // Stops the run and waits for the threads. A descendant whose CalculationFinished or
    // CreatePiece uses its own parts must call Detach in its own destructor first.
    ~TCalculateEngine() override;
    TCalculateEngine(const TCalculateEngine &) = delete;
    TCalculateEngine &operator=(const TCalculateEngine &) = delete;
    DECLARE_CLASS_NAME(TCalculateEngine)

    // See the comment at the top: called once per finished run, without any lock.
    virtual void CalculationFinished() = 0;
    // A new piece for this engine's image, state new; the engine sets its rectangle.
    virtual std::unique_ptr<TCompute> CreatePiece() = 0;
    // The engine record: version 0, strip width, piece count n, n piece records. Reading checks
    // the whole record (version, a strip width that is a power of two of at least 16, a count
    // the stream can hold, every piece inside ResumeArea) before it replaces the pieces; a bad
    // record raises EEngineError or EComputeError "Unsupported resume state" (EReadError when
    // short) and leaves the pieces as they were. Only while no run is in progress.
    virtual void ReadResumeState(TStream &Stream);
    virtual void WriteResumeState(TStream &Stream);
    // The area every resumed piece must lie in: here the union of the two rectangles of the last
    // StartCalculation; the layer engine answers its image.
    virtual TLayerRect ResumeArea() const;

    // Sets both rectangles (rect 2 may be empty), thread count 0, both caps 0, clears the error
    // and registers with the manager, which cuts or re-cuts the strips. A run without work ends
    // at once (CalculationFinished on this thread). When it raises ("No calculation manager", a
    // rebalance that failed: a piece or a thread that could not be made), the engine is not
    // registered, no thread works on it, and no CalculationFinished follows unless a thread
    // ended the run before the failure (it has then returned from it).
    void StartCalculation(const TLayerRect &Rect1, const TLayerRect &Rect2);
    // Leaves the manager, then StopAll; true when some piece is not done.
    bool StopCalculation();
    // Asks every thread working here to stop and waits until none is left; true when some piece
    // is not done. Several threads may stop the same engine at once; all of them return.
    bool StopAll();
    // The same with a limit: waits at most Timeout ms (or WaitWithoutLimit) and then lets
    // the threads take pieces again; true when no thread works here any more.
    bool StopThreads(std::uint32_t Timeout);
    // Every piece is done (also without pieces).
    bool IsFinished();
    // The bindings of the thread's kind are fewer than that kind's cap and a piece is waiting
    // (and no stop is waiting and the run has not failed).
    bool HasWorkFor(TCalculateThread *Thread);
    bool AcquirePiece(TCalculateBinding &Binding);
    // Called by the binding's destructor.
    void ReleasePiece(TCalculateBinding &Binding);
    // The calculation of the binding's piece raised: see the comment at the top. Called by the
    // calculating thread before it releases the binding.
    void PieceFailed(TCalculateBinding &Binding, const std::string &Message);
    void SetThreadLimits(std::int32_t Local, std::int32_t Network);
    void SetPriority(std::uint8_t Priority);
    void ClearPieces();
    // Waits until no piece is held by any thread.
    void WaitForThreads();
    // Cuts (or re-cuts) the strips for Threads threads; see the source for the rules. A re-cut
    // waits at most RecutWaitLimit for the pieces in work; when some thread keeps its piece
    // longer, the strips stay as they are until the next run.
    void Subdivide(std::int32_t Threads);
    // Orders the pieces by distance from the centre of the two rectangles (stable).
    void SortPieces();
    // StopCalculation and WaitForThreads: after it no thread touches the engine until the next
    // StartCalculation.
    void Detach();

    bool Failed();
    std::string ErrorMessage();

    TAntiAliasingSettings &AntiAliasing() { return *FAntiAliasing; }
    bool GetShared() const { return FShared; }
    void SetShared(bool Value) { FShared = Value; }
    std::uint8_t GetPriority() const { return FPriority; }
    TLayerRect GetRect1() const { return FRect1; }
    TLayerRect GetRect2() const { return FRect2; }
    std::int32_t GetThreadCount() const { return FThreadCount; }
    std::int32_t GetStripWidth() const { return FStripWidth; }
    std::int32_t GetLocalCap() const { return FLocalCap; }
    std::int32_t GetNetworkCap() const { return FNetworkCap; }
    // The pieces in calculation order; read them under Lock while threads may run.
    const std::vector<std::unique_ptr<TCompute>> &Pieces() const { return FPieces; }
    std::int32_t LocalBindingCount();
    std::int32_t NetworkBindingCount();
    TCalculateManager *Manager() const;

    void Lock() { FLock->Enter(); }
    void Unlock() { FLock->Leave(); }

private:
    friend class TCalculateManager;
    std::vector<TCalculateBinding *> &BindingsOf(const TCalculateBinding &Binding) {
        return Binding.Network ? FNetworkBindings : FLocalBindings;
    }
    bool HasWaitingPiece() const;
    // Claims the end of the current run: true once per StartCalculation, for the caller that
    // then calls EndRun.
    bool ClaimRunEnd();
    // Leaves the manager and calls CalculationFinished.
    void EndRun();
    // Undoes a registration that raised: see StartCalculation.
    void WithdrawRun(TCalculateManager &AManager);
    void StopBindings();
    std::vector<std::unique_ptr<TCompute>> RecutPieces(std::int32_t NewWidth);

    std::unique_ptr<TAntiAliasingSettings> FAntiAliasing;
    TLayerRect FRect1, FRect2;
    // Set while no thread works here (manual reset); StopAll waits on it.
    std::unique_ptr<TEvent> FIdleEvent;
    // Set while no piece is held (manual reset); WaitForThreads waits on it.
    std::unique_ptr<TEvent> FReleasedEvent;
    // Stops now waiting for the threads; no piece is handed out meanwhile.
    std::int32_t FStopping = 0;
    std::int32_t FThreadCount = 0;
    std::int32_t FHeldPieces = 0;
    std::vector<TCalculateBinding *> FLocalBindings;
    std::int32_t FLocalCap = 0;
    std::vector<TCalculateBinding *> FNetworkBindings;
    std::int32_t FNetworkCap = 0;
    bool FShared = false;
    std::uint8_t FPriority = 2;
    std::unique_ptr<TCriticalSection> FLock;
    std::vector<std::unique_ptr<TCompute>> FPieces;
    std::int32_t FStripWidth = 0;
    // A started run whose end has not been reported yet.
    bool FRunActive = false;
    bool FFailed = false;
    std::string FError;
    TCalculateManager *FManager;
};

// Owns the pool of local threads and shares threads among the registered engines. One instance
// exists, made by the program's module start-up (InitializeFracCalculate).
class TCalculateManager : public TMultiThreadedObject {
public:
    // LocalThreadCount 0: the Fractal option Processors (1 without configuration). Subscribes to
    // the configuration's change notification when there is one and the count comes from it.
    explicit TCalculateManager(std::int32_t LocalThreadCount = 0);
    // Shutdown.
    ~TCalculateManager() override;
    DECLARE_CLASS_NAME(TCalculateManager)

    // Each of these runs under the manager's lock and rebalances.
    void AddEngine(TCalculateEngine *Engine);
    void RemoveEngine(TCalculateEngine *Engine);
    void AddNetworkThread(TCalculateThread *Thread);
    void RemoveNetworkThread(TCalculateThread *Thread);
    // Re-reads the option Processors and rebalances.
    void OptionsChanged(TObject *Sender);
    void SetLocalThreadCount(std::int32_t Count);
    std::int32_t GetLocalThreadCount();

    bool HasWork(TCalculateThread *Thread);
    // A binding with a piece, or nil.
    std::unique_ptr<TCalculateBinding> AcquireWork(TCalculateThread *Thread);
    // Frees the binding (releasing its piece) without the manager's lock.
    void ReleaseWork(std::unique_ptr<TCalculateBinding> Binding);
    // True when there may be work; false when the manager shuts down or, after the idle time-out
    // without work, for a local thread that then leaves the pool.
    bool WaitForWork(TCalculateThread *Thread);
    // Ends and frees every local thread; no work is handed out afterwards.
    void Shutdown();

    bool IsRegistered(TCalculateEngine *Engine);
    // Local threads now in the pool.
    std::int32_t PoolSize();
    // How long a local thread waits for work before it leaves the pool (10000 ms).
    void SetIdleTimeout(std::uint32_t Milliseconds) { FIdleTimeout = Milliseconds; }
    std::uint32_t GetIdleTimeout() const { return FIdleTimeout; }
    bool Terminated() const { return FTerminated.load(); }

private:
    void Rebalance();
    std::int32_t ReadThreadOption() const;

    std::unique_ptr<TEvent> FWorkEvent;
    std::atomic<bool> FTerminated{false};
    std::vector<TCalculateEngine *> FEngines;
    std::vector<std::unique_ptr<TCalculateLocalThread>> FLocalThreads;
    std::vector<TCalculateThread *> FNetworkThreads;
    std::int32_t FLocalThreadCount = 1;
    bool FFromOption = false;
    bool FSubscribed = false;
    std::atomic<std::uint32_t> FIdleTimeout{10000};
};

// The global manager; nil outside InitializeFracCalculate .. FinalizeFracCalculate.
TCalculateManager *CalculateManager();
void InitializeFracCalculate();
// Shuts the manager down and frees it.
void FinalizeFracCalculate();
