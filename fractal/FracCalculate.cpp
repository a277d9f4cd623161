#include "FracCalculate.h"

#include <algorithm>
#include <exception>

#include "FracContext.h"
#include "GenSetup.h"
#include "GenUtils.h"

namespace {

TCalculateManager *GlobalManager = nullptr;

std::int32_t Width(const TLayerRect &R) {
    return std::max(R.Right - R.Left, 0);
}

[[noreturn]] void RefuseEngineState() {
    throw EEngineError(UnsupportedResumeState);
}

// Rows between two rows of a piece's current pass: 1 for the linear method and the anti-aliasing
// pass; for the multi-pass methods the block size of the pass (2^pass in the first pass, else
// 2^(pass + 1)).
std::int32_t RowStep(const TCompute &Piece) {
    if (Piece.AntiAliasing->Enabled || Piece.Method == dmLinear || Piece.Pass < 0)
        return 1;
    const std::int32_t exponent = Piece.Pass >= Piece.StartExponent ? Piece.Pass : Piece.Pass + 1;
    return 1 << std::min(exponent, 30);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TCalculateThread, TCalculateBinding

TCalculateThread::TCalculateThread() : TGeneralThread(true), FLock(std::make_unique<TCriticalSection>()) {}

TCalculateBinding::TCalculateBinding(TCalculateEngine *AEngine, TCalculateThread *AThread)
    : Network(dynamic_cast<TCalculateLocalThread *>(AThread) == nullptr), Engine(AEngine), Thread(AThread) {}

TCalculateBinding::~TCalculateBinding() {
    if (Piece)
        Engine->ReleasePiece(*this);
}

void TCalculateBinding::StopThread() {
    Thread->StopCalculation();
}

void TCalculateBinding::SetPriority(std::uint8_t Priority) {
    Thread->SetPriority(static_cast<TThreadPriority>(std::min<int>(Priority, tpTimeCritical)));
}

// ---------------------------------------------------------------------------------------------
// TCalculateLocalThread

TCalculateLocalThread::TCalculateLocalThread(TCalculateManager &AManager) : FManager(AManager) {}

void TCalculateLocalThread::DoExecute() {
    // Pixel routines expect the formula control word; setting it once here spares every routine
    // entry a costly reload.
    TFormulaControlWordScope controlWord;
    while (GetWork()) {
        CalculateBinding();
        ReleaseWork();
    }
}

bool TCalculateLocalThread::GetWork() {
    {
        TScopeLock<TCalculateThread> lock(*this);
        FStopFlag = false;
    }
    for (;;) {
        if (Terminated() || !FManager.WaitForWork(this))
            return false;
        std::unique_ptr<TCalculateBinding> binding = FManager.AcquireWork(this);
        if (!binding)
            continue;
        TScopeLock<TCalculateThread> lock(*this);
        FBinding = std::move(binding);
        // A stop that came between the hand-out and now was meant for this piece.
        if (FStopFlag)
            FBinding->Piece->Stop();
        return true;
    }
}

void TCalculateLocalThread::CalculateBinding() {
    TCalculateBinding &binding = *FBinding;
    try {
        binding.Piece->Calculate();
    } catch (const std::exception &E) {
        binding.Engine->PieceFailed(binding, E.what());
    } catch (...) {
        binding.Engine->PieceFailed(binding, "Unknown error in the calculation");
    }
}

void TCalculateLocalThread::ReleaseWork() {
    std::unique_ptr<TCalculateBinding> binding;
    {
        TScopeLock<TCalculateThread> lock(*this);
        binding = std::move(FBinding);
    }
    FManager.ReleaseWork(std::move(binding));
}

void TCalculateLocalThread::StopCalculation() {
    TScopeLock<TCalculateThread> lock(*this);
    FStopFlag = true;
    if (FBinding && FBinding->Piece)
        FBinding->Piece->Stop();
}

// ---------------------------------------------------------------------------------------------
// TCalculateEngine

TCalculateEngine::TCalculateEngine(TCalculateManager *AManager)
    : FAntiAliasing(std::make_unique<TAntiAliasingSettings>()),
      FIdleEvent(std::make_unique<TEvent>(true, true)), FReleasedEvent(std::make_unique<TEvent>(true, true)),
      FLock(std::make_unique<TCriticalSection>()), FManager(AManager) {}

TCalculateEngine::~TCalculateEngine() {
    Detach();
    TScopeLock<TCriticalSection> lock(*FLock);
    FPieces.clear();
}

TCalculateManager *TCalculateEngine::Manager() const {
    return FManager ? FManager : CalculateManager();
}

void TCalculateEngine::Detach() {
    StopCalculation();
    WaitForThreads();
}

TLayerRect TCalculateEngine::ResumeArea() const {
    return UnionRect(FRect1, FRect2);
}

bool TCalculateEngine::HasWaitingPiece() const {
    return std::any_of(FPieces.begin(), FPieces.end(), [](const std::unique_ptr<TCompute> &Piece) {
        return Piece->State == psNew || Piece->State == psInterrupted;
    });
}

void TCalculateEngine::StartCalculation(const TLayerRect &Rect1, const TLayerRect &Rect2) {
    TCalculateManager *manager = Manager();
    if (!manager)
        throw EEngineError("No calculation manager");
    {
        TScopeLock<TCriticalSection> lock(*FLock);
        FRect1 = Rect1;
        FRect2 = Rect2;
        FThreadCount = 0;
        FLocalCap = 0;
        FNetworkCap = 0;
        FFailed = false;
        FError.clear();
        FRunActive = true;
    }
    try {
        manager->AddEngine(this);
    } catch (...) {
        WithdrawRun(*manager);
        throw;
    }
    // A run without work ends here; with work, the last releasing thread ends it.
    bool idle;
    {
        TScopeLock<TCriticalSection> lock(*FLock);
        idle = FLocalBindings.empty() && FNetworkBindings.empty() && !HasWaitingPiece();
    }
    if (idle && ClaimRunEnd())
        EndRun();
}

void TCalculateEngine::WithdrawRun(TCalculateManager &AManager) {
    // The engine is in the manager's list before a rebalance can fail, and the list keeps no
    // engine that leaves it, whatever its own rebalance raises: that error is not this run's.
    try {
        AManager.RemoveEngine(this);
    } catch (...) {
    }
    // Threads may have taken pieces between the registration and the failure. Once every one of
    // them has left (and a thread that ended the run has returned from CalculationFinished), the
    // run is withdrawn unless such a thread ended it.
    StopAll();
    WaitForThreads();
    TScopeLock<TCriticalSection> lock(*FLock);
    FRunActive = false;
}

bool TCalculateEngine::ClaimRunEnd() {
    TScopeLock<TCriticalSection> lock(*FLock);
    if (!FRunActive)
        return false;
    FRunActive = false;
    return true;
}

void TCalculateEngine::EndRun() {
    // The owner hears of the end even when the manager's rebalance for the engines that stay
    // raises: the engine has left the list by then, and an owner waiting for the end would
    // otherwise wait forever.
    std::exception_ptr error;
    try {
        if (TCalculateManager *manager = Manager())
            manager->RemoveEngine(this);
    } catch (...) {
        error = std::current_exception();
    }
    CalculationFinished();
    if (error)
        std::rethrow_exception(error);
}

bool TCalculateEngine::StopCalculation() {
    if (TCalculateManager *manager = Manager())
        manager->RemoveEngine(this);
    return StopAll();
}

void TCalculateEngine::StopBindings() {
    for (auto it = FLocalBindings.rbegin(); it != FLocalBindings.rend(); ++it)
        (*it)->StopThread();
    for (auto it = FNetworkBindings.rbegin(); it != FNetworkBindings.rend(); ++it)
        (*it)->StopThread();
}

bool TCalculateEngine::StopAll() {
    StopThreads(WaitWithoutLimit);
    return !IsFinished();
}

bool TCalculateEngine::StopThreads(std::uint32_t Timeout) {
    {
        TScopeLock<TCriticalSection> lock(*FLock);
        if (FLocalBindings.empty() && FNetworkBindings.empty())
            return true;
        // No piece is handed out while a stop waits, so the wait ends once every thread has
        // given its piece back.
        ++FStopping;
        StopBindings();
    }
    // A manual-reset event: every thread stopping this engine wakes when the last binding goes.
    if (Timeout == WaitWithoutLimit)
        FIdleEvent->WaitForever();
    else
        FIdleEvent->WaitFor(Timeout);
    TScopeLock<TCriticalSection> lock(*FLock);
    --FStopping;
    return FLocalBindings.empty() && FNetworkBindings.empty();
}

bool TCalculateEngine::IsFinished() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return std::all_of(FPieces.begin(), FPieces.end(),
                       [](const std::unique_ptr<TCompute> &Piece) { return Piece->State == psDone; });
}

bool TCalculateEngine::HasWorkFor(TCalculateThread *Thread) {
    const bool network = dynamic_cast<TCalculateLocalThread *>(Thread) == nullptr;
    TScopeLock<TCriticalSection> lock(*FLock);
    if (FFailed || FStopping > 0)
        return false;
    const std::size_t bound = network ? FNetworkBindings.size() : FLocalBindings.size();
    const std::int32_t cap = network ? FNetworkCap : FLocalCap;
    return static_cast<std::int32_t>(bound) < cap && HasWaitingPiece();
}

bool TCalculateEngine::AcquirePiece(TCalculateBinding &Binding) {
    TScopeLock<TCriticalSection> lock(*FLock);
    if (FFailed || FStopping > 0)
        return false;
    std::vector<TCalculateBinding *> &bindings = BindingsOf(Binding);
    const std::int32_t cap = Binding.Network ? FNetworkCap : FLocalCap;
    if (static_cast<std::int32_t>(bindings.size()) >= cap)
        return false;
    const auto found =
        std::find_if(FPieces.begin(), FPieces.end(), [](const std::unique_ptr<TCompute> &Piece) {
            return Piece->State == psNew || Piece->State == psInterrupted;
        });
    if (found == FPieces.end())
        return false;
    TCompute &piece = **found;
    // What can raise comes first: a thread whose priority cannot be set, or a list that cannot
    // grow, leaves no binding that a stop or WaitForThreads would wait for.
    if (!Binding.Network)
        Binding.SetPriority(FPriority);
    const bool firstBinding = FLocalBindings.empty() && FNetworkBindings.empty();
    bindings.push_back(&Binding);
    if (FHeldPieces++ == 0)
        FReleasedEvent->ResetEvent();
    if (firstBinding)
        FIdleEvent->ResetEvent();
    piece.AntiAliasing->Assign(*FAntiAliasing);
    piece.Resume = piece.State == psInterrupted;
    piece.State = psRunning;
    Binding.Piece = &piece;
    return true;
}

void TCalculateEngine::PieceFailed(TCalculateBinding &Binding, const std::string &Message) {
    TScopeLock<TCriticalSection> lock(*FLock);
    if (!FFailed) {
        FFailed = true;
        FError = Message.empty() ? std::string("Error in the calculation") : Message;
    }
    Binding.FFailed = true;
    StopBindings();
}

void TCalculateEngine::ReleasePiece(TCalculateBinding &Binding) {
    bool finished = false;
    {
        TScopeLock<TCriticalSection> lock(*FLock);
        TCompute &piece = *Binding.Piece;
        if (Binding.FFailed) {
            // Calculated again from its start by a later run.
            piece.State = psNew;
            piece.Pass = -1;
            piece.Resume = false;
        } else if (Binding.Unfinished && !piece.Resume) {
            piece.State = psNew;
            piece.Pass = -1;
        } else {
            piece.State = piece.Resume ? psInterrupted : psDone;
        }
        Binding.Piece = nullptr;
        std::vector<TCalculateBinding *> &bindings = BindingsOf(Binding);
        const auto it = std::find(bindings.begin(), bindings.end(), &Binding);
        if (it != bindings.end())
            bindings.erase(it);
        if (FLocalBindings.empty() && FNetworkBindings.empty()) {
            // Wakes every StopAll before this thread needs the manager's lock below.
            FIdleEvent->SetEvent();
            if (FRunActive && (FFailed || !HasWaitingPiece())) {
                FRunActive = false;
                finished = true;
            }
        }
    }
    if (finished) {
        try {
            EndRun();
        } catch (...) {
            HandleThreadException();
        }
    }
    TScopeLock<TCriticalSection> lock(*FLock);
    if (--FHeldPieces == 0)
        FReleasedEvent->SetEvent();
}

void TCalculateEngine::SetThreadLimits(std::int32_t Local, std::int32_t Network) {
    TScopeLock<TCriticalSection> lock(*FLock);
    if (Local == FLocalCap && Network == FNetworkCap)
        return;
    for (std::size_t i = static_cast<std::size_t>(std::max(Local, 0)); i < FLocalBindings.size(); ++i)
        FLocalBindings[i]->StopThread();
    FLocalCap = Local;
    FNetworkCap = Network;
}

void TCalculateEngine::SetPriority(std::uint8_t Priority) {
    if (Priority == FPriority)
        return;
    TScopeLock<TCriticalSection> lock(*FLock);
    FPriority = Priority;
    for (TCalculateBinding *binding : FLocalBindings)
        binding->SetPriority(Priority);
}

void TCalculateEngine::ClearPieces() {
    // Never free a piece a thread works on.
    StopAll();
    TScopeLock<TCriticalSection> lock(*FLock);
    FPieces.clear();
}

void TCalculateEngine::WaitForThreads() {
    FReleasedEvent->WaitForever();
}

bool TCalculateEngine::Failed() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return FFailed;
}

std::string TCalculateEngine::ErrorMessage() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return FError;
}

std::int32_t TCalculateEngine::LocalBindingCount() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return static_cast<std::int32_t>(FLocalBindings.size());
}

std::int32_t TCalculateEngine::NetworkBindingCount() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return static_cast<std::int32_t>(FNetworkBindings.size());
}

void TCalculateEngine::Subdivide(std::int32_t Threads) {
    {
        TScopeLock<TCriticalSection> lock(*FLock);
        if (Threads <= FThreadCount)
            return;
    }
    // Runs under the manager's lock, which every thread needs to find work: a network thread
    // whose peer stalls must not hold up the whole program. A re-cut only makes the strips
    // narrower, so when the threads do not give their pieces back in time the strips stay as
    // they are for this run (they are still correct, only fewer threads can share them).
    if (!StopThreads(RecutWaitLimit)) {
        TScopeLock<TCriticalSection> lock(*FLock);
        FThreadCount = std::max(FThreadCount, Threads);
        return;
    }
    TScopeLock<TCriticalSection> lock(*FLock);
    const std::int32_t wanted =
        Threads > 1 ? Width(FRect1) / (4 * Threads) : std::max(Width(FRect1), Width(FRect2));
    // The smallest power of two not below the wanted width, at least 16.
    std::int32_t halvings = 0;
    for (std::int32_t rest = wanted - 1; rest > 0; rest /= 2)
        ++halvings;
    const std::int32_t width = std::max(1 << std::min(halvings, 30), 16);
    if (FPieces.empty()) {
        std::vector<std::unique_ptr<TCompute>> pieces;
        for (const TLayerRect *rect : {&FRect1, &FRect2}) {
            if (IsEmptyRect(*rect))
                continue;
            for (std::int32_t x = rect->Left; x < rect->Right;) {
                const std::int32_t right = static_cast<std::int32_t>(
                    std::min<std::int64_t>(static_cast<std::int64_t>(x) + width, rect->Right));
                std::unique_ptr<TCompute> piece = CreatePiece();
                piece->Rect = {x, rect->Top, right, rect->Bottom};
                piece->State = psNew;
                pieces.push_back(std::move(piece));
                x = right;
            }
        }
        FPieces = std::move(pieces);
        FStripWidth = width;
    } else if (FStripWidth > width) {
        FPieces = RecutPieces(width);
        FStripWidth = width;
    }
    SortPieces();
    FThreadCount = Threads;
}

std::vector<std::unique_ptr<TCompute>> TCalculateEngine::RecutPieces(std::int32_t NewWidth) {
    const std::int32_t ratio = FStripWidth / NewWidth;
    // The cut is planned and every new piece made before any old piece moves, so a piece that
    // cannot be made leaves the strips as they were.
    struct TCut {
        std::size_t Old;
        bool Reuse, Whole; // the old object goes on; it is not cut at all
        TLayerRect Area;
        std::int32_t Left, Right;
        std::uint8_t State;
        std::int32_t Pass, ResumeX, ResumeY, Step;
    };
    std::vector<TCut> plan;
    for (std::size_t i = 0; i < FPieces.size(); ++i) {
        const TCompute &old = *FPieces[i];
        const bool inRect1 = RectsIntersect(old.Rect, FRect1);
        if (!inRect1 && !RectsIntersect(old.Rect, FRect2)) {
            // A piece outside both rectangles is not cut.
            plan.push_back({i, true, true, {}, 0, 0, 0, 0, 0, 0, 0});
            continue;
        }
        const TLayerRect area = inRect1 ? FRect1 : FRect2;
        const bool interrupted = old.State == psInterrupted;
        const std::int32_t step = interrupted ? RowStep(old) : 1;
        bool reused = false;
        std::int32_t x = old.Rect.Left;
        for (std::int32_t j = 0; j < ratio && x < area.Right; ++j) {
            const std::int32_t right = std::min(x + NewWidth, area.Right);
            const bool holdsResume = old.ResumeX >= x && old.ResumeX < right;
            const bool reuse = !reused && ((j == 0 && !interrupted) || (interrupted && holdsResume));
            reused = reused || reuse;
            plan.push_back(
                {i, reuse, false, area, x, right, old.State, old.Pass, old.ResumeX, old.ResumeY, step});
            x = right;
        }
    }
    std::vector<std::unique_ptr<TCompute>> made;
    for (const TCut &cut : plan)
        if (!cut.Reuse)
            made.push_back(CreatePiece());
    std::vector<std::unique_ptr<TCompute>> result;
    result.reserve(plan.size());

    // Nothing below raises.
    for (const TCut &cut : plan) {
        std::unique_ptr<TCompute> piece;
        if (cut.Reuse) {
            piece = std::move(FPieces[cut.Old]);
        } else {
            piece = std::move(made.back());
            made.pop_back();
        }
        if (!cut.Whole) {
            piece->Rect = {cut.Left, cut.Area.Top, cut.Right, cut.Area.Bottom};
            piece->State = cut.State;
            piece->Pass = cut.Pass;
            if (cut.State == psInterrupted) {
                if (cut.ResumeX < cut.Left) {
                    // Right of the stop column: that row is still to do here.
                    piece->ResumeX = cut.Left;
                    piece->ResumeY = cut.ResumeY;
                } else if (cut.ResumeX >= cut.Right) {
                    // Left of the stop column: that row is done here; go on with the next one.
                    piece->ResumeX = cut.Left;
                    if (cut.ResumeY + cut.Step < cut.Area.Bottom) {
                        piece->ResumeY = cut.ResumeY + cut.Step;
                    } else if (cut.Pass > 0) {
                        piece->ResumeY = cut.Area.Top;
                        piece->Pass = cut.Pass - 1;
                    } else {
                        piece->State = psDone;
                    }
                } else {
                    piece->ResumeX = cut.ResumeX;
                    piece->ResumeY = cut.ResumeY;
                }
            }
        }
        result.push_back(std::move(piece));
    }
    return result;
}

void TCalculateEngine::SortPieces() {
    const TLayerRect all = UnionRect(FRect1, FRect2);
    const std::int64_t centreX = (static_cast<std::int64_t>(all.Left) + all.Right) / 2;
    const std::int64_t centreY = (static_cast<std::int64_t>(all.Top) + all.Bottom) / 2;
    auto distance = [&](const std::unique_ptr<TCompute> &Piece) {
        const std::int64_t dx =
            (static_cast<std::int64_t>(Piece->Rect.Left) + Piece->Rect.Right) / 2 - centreX;
        const std::int64_t dy =
            (static_cast<std::int64_t>(Piece->Rect.Top) + Piece->Rect.Bottom) / 2 - centreY;
        return dx * dx + dy * dy;
    };
    std::stable_sort(FPieces.begin(), FPieces.end(),
                     [&](const std::unique_ptr<TCompute> &A, const std::unique_ptr<TCompute> &B) {
                         return distance(A) < distance(B);
                     });
}

void TCalculateEngine::ReadResumeState(TStream &Stream) {
    if (Stream.ReadUInt32() != 0)
        RefuseEngineState();
    const std::int32_t stripWidth = Stream.ReadInt32();
    const std::int32_t count = Stream.ReadInt32();
    if (count < 0 || static_cast<std::int64_t>(count) * PieceRecordSize > Stream.Remaining())
        RefuseEngineState();
    const bool powerOfTwo = stripWidth >= 16 && (stripWidth & (stripWidth - 1)) == 0;
    if (count > 0 && !powerOfTwo)
        RefuseEngineState();
    const TLayerRect area = ResumeArea();
    std::vector<std::unique_ptr<TCompute>> pieces;
    pieces.reserve(static_cast<std::size_t>(count));
    for (std::int32_t i = 0; i < count; ++i) {
        std::unique_ptr<TCompute> piece = CreatePiece();
        piece->ReadResumeState(Stream);
        if (!RectInside(piece->Rect, area) || piece->Rect.Right - piece->Rect.Left > stripWidth)
            RefuseEngineState();
        pieces.push_back(std::move(piece));
    }
    // Never replace a piece a thread works on.
    StopAll();
    TScopeLock<TCriticalSection> lock(*FLock);
    FPieces = std::move(pieces);
    FStripWidth = count > 0 ? stripWidth : 0;
}

void TCalculateEngine::WriteResumeState(TStream &Stream) {
    TScopeLock<TCriticalSection> lock(*FLock);
    Stream.WriteUInt32(0);
    Stream.WriteInt32(FStripWidth);
    Stream.WriteInt32(static_cast<std::int32_t>(FPieces.size()));
    for (const std::unique_ptr<TCompute> &piece : FPieces)
        piece->WriteResumeState(Stream);
}

// ---------------------------------------------------------------------------------------------
// TCalculateManager

TCalculateManager::TCalculateManager(std::int32_t LocalThreadCount)
    : FWorkEvent(std::make_unique<TEvent>(true, false)) {
    if (LocalThreadCount > 0) {
        FLocalThreadCount = LocalThreadCount;
        return;
    }
    FFromOption = true;
    FLocalThreadCount = ReadThreadOption();
    if (TConfigManager *config = ConfigManager()) {
        config->AddHandler(MakeNotifyEvent<&TCalculateManager::OptionsChanged>(this));
        FSubscribed = true;
    }
}

TCalculateManager::~TCalculateManager() {
    if (FSubscribed && ConfigManager())
        ConfigManager()->RemoveHandler(MakeNotifyEvent<&TCalculateManager::OptionsChanged>(this));
    Shutdown();
}

std::int32_t TCalculateManager::ReadThreadOption() const {
    const TConfigManager *config = ConfigManager();
    if (!config || !config->Fractal)
        return 1;
    return std::clamp(config->Fractal->Processors, 1, 16);
}

void TCalculateManager::AddEngine(TCalculateEngine *Engine) {
    TScopeLock<TCalculateManager> lock(*this);
    if (std::find(FEngines.begin(), FEngines.end(), Engine) == FEngines.end())
        FEngines.push_back(Engine);
    Rebalance();
}

void TCalculateManager::RemoveEngine(TCalculateEngine *Engine) {
    TScopeLock<TCalculateManager> lock(*this);
    const auto it = std::find(FEngines.begin(), FEngines.end(), Engine);
    if (it == FEngines.end())
        return;
    FEngines.erase(it);
    Rebalance();
}

void TCalculateManager::AddNetworkThread(TCalculateThread *Thread) {
    TScopeLock<TCalculateManager> lock(*this);
    FNetworkThreads.push_back(Thread);
    Rebalance();
}

void TCalculateManager::RemoveNetworkThread(TCalculateThread *Thread) {
    TScopeLock<TCalculateManager> lock(*this);
    const auto it = std::find(FNetworkThreads.begin(), FNetworkThreads.end(), Thread);
    if (it == FNetworkThreads.end())
        return;
    FNetworkThreads.erase(it);
    Rebalance();
}

void TCalculateManager::OptionsChanged(TObject *) {
    if (!FFromOption)
        return;
    SetLocalThreadCount(ReadThreadOption());
}

void TCalculateManager::SetLocalThreadCount(std::int32_t Count) {
    TScopeLock<TCalculateManager> lock(*this);
    FLocalThreadCount = std::max(Count, 1);
    Rebalance();
}

std::int32_t TCalculateManager::GetLocalThreadCount() {
    TScopeLock<TCalculateManager> lock(*this);
    return FLocalThreadCount;
}

void TCalculateManager::Rebalance() {
    if (FTerminated)
        return;
    const std::int32_t local = FLocalThreadCount;
    const std::int32_t network = static_cast<std::int32_t>(FNetworkThreads.size());
    const std::int32_t total = local + network;
    const std::int32_t shared = static_cast<std::int32_t>(std::count_if(
        FEngines.begin(), FEngines.end(), [](TCalculateEngine *Engine) { return Engine->GetShared(); }));
    std::int32_t localShare = 0, localExtra = 0, networkShare = 0, networkExtra = 0;
    if (shared >= 1) {
        localShare = std::max(1, local / shared);
        localExtra = std::max(local - localShare * shared, 0);
        networkShare = network / shared;
        networkExtra = std::max(network - networkShare * shared, 0);
    }
    std::int32_t sum = 0;
    for (auto it = FEngines.rbegin(); it != FEngines.rend(); ++it) {
        TCalculateEngine &engine = **it;
        std::int32_t localCap = 1, networkCap = 0;
        if (engine.GetShared()) {
            engine.Subdivide(total);
            localCap = localShare;
            if (localExtra > 0) {
                ++localCap;
                --localExtra;
            }
            networkCap = networkShare;
            if (networkExtra > 0) {
                ++networkCap;
                --networkExtra;
            }
        } else {
            engine.Subdivide(1);
        }
        engine.SetThreadLimits(localCap, networkCap);
        sum += localCap;
    }
    while (static_cast<std::int32_t>(FLocalThreads.size()) < sum) {
        auto thread = std::make_unique<TJoinedThread<TCalculateLocalThread>>(*this);
        thread->Start();
        FLocalThreads.push_back(std::move(thread));
    }
    FWorkEvent->SetEvent();
}

bool TCalculateManager::HasWork(TCalculateThread *Thread) {
    TScopeLock<TCalculateManager> lock(*this);
    for (auto it = FEngines.rbegin(); it != FEngines.rend(); ++it)
        if ((*it)->HasWorkFor(Thread))
            return true;
    return false;
}

std::unique_ptr<TCalculateBinding> TCalculateManager::AcquireWork(TCalculateThread *Thread) {
    TScopeLock<TCalculateManager> lock(*this);
    if (FTerminated)
        return nullptr;
    for (auto it = FEngines.rbegin(); it != FEngines.rend(); ++it) {
        auto binding = std::make_unique<TCalculateBinding>(*it, Thread);
        if ((*it)->AcquirePiece(*binding))
            return binding;
    }
    return nullptr;
}

void TCalculateManager::ReleaseWork(std::unique_ptr<TCalculateBinding> Binding) {
    // Without the manager's lock: a re-cut holds it while it waits for this release.
    Binding.reset();
}

bool TCalculateManager::WaitForWork(TCalculateThread *Thread) {
    {
        TScopeLock<TCalculateManager> lock(*this);
        if (FTerminated)
            return false;
        if (HasWork(Thread))
            return true;
        FWorkEvent->ResetEvent();
    }
    const std::uint32_t result = FWorkEvent->WaitFor(FIdleTimeout.load());
    if (FTerminated)
        return false;
    if (result != TEvent::wrTimeout)
        return true;
    TScopeLock<TCalculateManager> lock(*this);
    if (FTerminated)
        return false;
    const bool work = HasWork(Thread);
    if (!work) {
        const auto it = std::find_if(
            FLocalThreads.begin(), FLocalThreads.end(),
            [Thread](const std::unique_ptr<TCalculateLocalThread> &Local) { return Local.get() == Thread; });
        if (it != FLocalThreads.end()) {
            // Idle too long: the thread leaves the pool and frees itself when it ends.
            TCalculateLocalThread *leaving = it->release();
            FLocalThreads.erase(it);
            leaving->SetFreeOnTerminate(true);
        }
    }
    return work;
}

void TCalculateManager::Shutdown() {
    FTerminated = true;
    std::vector<std::unique_ptr<TCalculateLocalThread>> threads;
    {
        TScopeLock<TCalculateManager> lock(*this);
        FWorkEvent->SetEvent();
        threads.swap(FLocalThreads);
    }
    for (auto &thread : threads)
        thread->StopCalculation();
    // Each thread is terminated and waited for by its destructor, without the manager's lock.
    threads.clear();
}

bool TCalculateManager::IsRegistered(TCalculateEngine *Engine) {
    TScopeLock<TCalculateManager> lock(*this);
    return std::find(FEngines.begin(), FEngines.end(), Engine) != FEngines.end();
}

std::int32_t TCalculateManager::PoolSize() {
    TScopeLock<TCalculateManager> lock(*this);
    return static_cast<std::int32_t>(FLocalThreads.size());
}

// ---------------------------------------------------------------------------------------------
// Module

TCalculateManager *CalculateManager() {
    return GlobalManager;
}

void InitializeFracCalculate() {
    if (!GlobalManager)
        GlobalManager = new TCalculateManager();
}

void FinalizeFracCalculate() {
    TCalculateManager *manager = GlobalManager;
    GlobalManager = nullptr;
    delete manager;
}
