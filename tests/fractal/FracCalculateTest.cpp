// The calculation engine and manager, driven by a small test piece that walks its strip row by
// row and records every pixel it visits, so that cutting, re-cutting, stopping and resuming can
// be checked without a formula.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "FracWatchdog.h"

#include "FracCalculate.h"
#include "FracCompute.h"

namespace {

constexpr std::uint32_t Patience = 60000; // ms; only a fault makes a test wait this long

// What the pieces of one test engine share: a gate they wait at before they start, a pixel
// where one of them pauses until it is stopped, columns whose pieces raise or fault, and the
// number of visits of every pixel.
struct TScript {
    TScript(int AWidth, int AHeight)
        : Width(AWidth), Height(AHeight), Hits(static_cast<std::size_t>(AWidth * AHeight)) {}
    int Width, Height;
    std::vector<std::atomic<int>> Hits;
    TEvent Gate{true, true};
    TEvent Paused{true, false};
    TEvent Never{true, false};
    int PauseX = -1, PauseY = -1;
    int BadColumn = -1;
    bool Fault = false;
    // Pieces run to their end whatever stops they are asked for.
    bool IgnoreStop = false;
    // The engine cannot make a piece (as when memory runs out).
    std::atomic<bool> RefusePieces{false};
    std::atomic<int> Runs{0};

    int HitsAt(int X, int Y) const { return Hits[static_cast<std::size_t>(Y * Width + X)].load(); }
    // Every pixel of Rect visited exactly once.
    bool CoveredOnce(const TLayerRect &Rect) const {
        for (int y = Rect.Top; y < Rect.Bottom; ++y)
            for (int x = Rect.Left; x < Rect.Right; ++x)
                if (HitsAt(x, y) != 1)
                    return false;
        return true;
    }
};

void Fault() {
    void *page = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
    int *volatile target = static_cast<int *>(page);
    *target = 42;
}

// A linear walk: from the resume position (or the top left) row by row; on a stop it keeps the
// pixel in work as its resume position.
class TTestPiece : public TCompute {
public:
    explicit TTestPiece(TScript &Script)
        : TCompute(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), FScript(Script) {
        Method = dmLinear;
    }

    void CalculateAntiAliased() override { CalculatePixels(); }
    void CalculatePixels() override {
        ++FScript.Runs;
        while (FScript.Gate.WaitFor(2) != TEvent::wrSignaled)
            if (IsStopping() && !FScript.IgnoreStop) {
                if (!Resume) {
                    Resume = true;
                    ResumeX = Rect.Left;
                    ResumeY = Rect.Top;
                }
                return;
            }
        if (FScript.BadColumn >= Rect.Left && FScript.BadColumn < Rect.Right) {
            if (FScript.Fault)
                ::Fault();
            throw Exception("bad piece at %d", Rect.Left);
        }
        Pass = 0;
        int x = Resume ? ResumeX : Rect.Left;
        int y = Resume ? ResumeY : Rect.Top;
        Resume = false;
        for (; y < Rect.Bottom; ++y, x = Rect.Left)
            for (; x < Rect.Right; ++x) {
                if (x == FScript.PauseX && y == FScript.PauseY) {
                    FScript.Paused.SetEvent();
                    while (!IsStopping())
                        FScript.Never.WaitFor(2);
                }
                if (IsStopping() && !FScript.IgnoreStop) {
                    Resume = true;
                    ResumeX = x;
                    ResumeY = y;
                    return;
                }
                ++FScript.Hits[static_cast<std::size_t>(y * FScript.Width + x)];
            }
    }

private:
    TScript &FScript;
};

class TTestEngine : public TCalculateEngine {
public:
    TTestEngine(TCalculateManager *Manager, TScript &Script, bool Shared)
        : TCalculateEngine(Manager), FScript(Script) {
        SetShared(Shared);
    }
    TTestEngine(TCalculateManager &Manager, TScript &Script, bool Shared)
        : TTestEngine(&Manager, Script, Shared) {}
    ~TTestEngine() override { Detach(); }

    void CalculationFinished() override {
        ++Finished;
        FinishedEvent.SetEvent();
    }
    std::unique_ptr<TCompute> CreatePiece() override {
        if (FScript.RefusePieces)
            throw EOutOfMemory("Out of memory");
        return std::make_unique<TTestPiece>(FScript);
    }
    TLayerRect ResumeArea() const override { return {0, 0, FScript.Width, FScript.Height}; }

    bool WaitFinished() { return FinishedEvent.WaitFor(Patience) == TEvent::wrSignaled; }
    void Start(const TLayerRect &Rect1, const TLayerRect &Rect2 = {}) {
        FinishedEvent.ResetEvent();
        StartCalculation(Rect1, Rect2);
    }
    std::vector<TLayerRect> PieceRects() {
        TScopeLock<TCalculateEngine> lock(*this);
        std::vector<TLayerRect> rects;
        for (const auto &piece : Pieces())
            rects.push_back(piece->Rect);
        return rects;
    }
    std::string Record() {
        TMemoryStream stream;
        WriteResumeState(stream);
        return {static_cast<const char *>(stream.Memory()), static_cast<std::size_t>(stream.Size())};
    }
    void Load(const std::string &Bytes) {
        TMemoryStream stream;
        stream.WriteBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
        stream.SetPosition(0);
        ReadResumeState(stream);
    }

    std::atomic<int> Finished{0};
    TEvent FinishedEvent{true, false};

private:
    TScript &FScript;
};

// Little-endian record builders.
void Put32(std::string &Bytes, std::int32_t Value) {
    for (int i = 0; i < 4; ++i)
        Bytes.push_back(static_cast<char>((static_cast<std::uint32_t>(Value) >> (8 * i)) & 0xFF));
}

struct TPieceFields {
    std::int32_t Version = 0;
    TLayerRect Rect;
    std::uint8_t State = psNew;
    std::int32_t Pass = -1, ResumeX = 0, ResumeY = 0;
};

TPieceFields Interrupted(const TLayerRect &Rect, std::int32_t Pass, std::int32_t X, std::int32_t Y) {
    TPieceFields piece;
    piece.Rect = Rect;
    piece.State = psInterrupted;
    piece.Pass = Pass;
    piece.ResumeX = X;
    piece.ResumeY = Y;
    return piece;
}

std::string PieceRecord(const TPieceFields &P) {
    std::string bytes;
    Put32(bytes, P.Version);
    for (std::int32_t v : {P.Rect.Left, P.Rect.Top, P.Rect.Right, P.Rect.Bottom})
        Put32(bytes, v);
    bytes.push_back(static_cast<char>(P.State));
    for (std::int32_t v : {P.Pass, P.ResumeX, P.ResumeY})
        Put32(bytes, v);
    return bytes;
}

std::string EngineRecord(std::int32_t StripWidth, const std::vector<TPieceFields> &Pieces,
                         std::int32_t Version = 0) {
    std::string bytes;
    Put32(bytes, Version);
    Put32(bytes, StripWidth);
    Put32(bytes, static_cast<std::int32_t>(Pieces.size()));
    for (const TPieceFields &piece : Pieces)
        bytes += PieceRecord(piece);
    return bytes;
}

// ---------------------------------------------------------------------------------------------
// Strips

TEST(CalculateEngine, StripWidthsFollowTheThreadCount) {
    struct TCase {
        const char *Name;
        int Threads;
        bool Shared;
        TLayerRect Rect1, Rect2;
        int StripWidth, Pieces, LastWidth;
    };
    const TCase cases[] = {
        {"640 on 4 threads: 640 div 16 = 40, rounded up", 4, true, {0, 0, 640, 3}, {}, 64, 10, 64},
        {"the last strip is narrower", 4, true, {0, 0, 650, 3}, {}, 64, 11, 10},
        {"100 on 8 threads: at least 16", 8, true, {0, 0, 100, 3}, {}, 16, 7, 4},
        {"one thread: one piece per rectangle", 1, true, {0, 0, 640, 3}, {0, 3, 300, 5}, 1024, 2, 640},
        {"an engine that is not shared gets one thread", 4, false, {0, 0, 640, 3}, {}, 1024, 1, 640},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TCalculateManager manager(c.Threads);
        TScript script(650, 5);
        TTestEngine engine(manager, script, c.Shared);
        engine.Start(c.Rect1, c.Rect2);
        ASSERT_TRUE(engine.WaitFinished());
        EXPECT_EQ(engine.GetStripWidth(), c.StripWidth);
        const std::vector<TLayerRect> rects = engine.PieceRects();
        ASSERT_EQ(static_cast<int>(rects.size()), c.Pieces);
        // Ordered from the centre outwards: the distance of the strip centres never falls.
        const TLayerRect all = UnionRect(c.Rect1, c.Rect2);
        const int cx = (all.Left + all.Right) / 2, cy = (all.Top + all.Bottom) / 2;
        long long last = -1;
        int lastWidth = 0;
        for (const TLayerRect &r : rects) {
            const long long dx = (r.Left + r.Right) / 2 - cx, dy = (r.Top + r.Bottom) / 2 - cy;
            EXPECT_GE(dx * dx + dy * dy, last);
            last = dx * dx + dy * dy;
            if (r.Right == c.Rect1.Right && r.Top == c.Rect1.Top)
                lastWidth = r.Right - r.Left;
        }
        EXPECT_EQ(lastWidth, c.LastWidth);
        EXPECT_TRUE(script.CoveredOnce(c.Rect1));
        if (!IsEmptyRect(c.Rect2)) {
            EXPECT_TRUE(script.CoveredOnce(c.Rect2));
        }
        EXPECT_TRUE(engine.IsFinished());
        EXPECT_EQ(engine.Finished.load(), 1);
        EXPECT_FALSE(manager.IsRegistered(&engine));
    }
}

// A strip stopped at (100, 3) on one thread and re-cut for four: sub-strips left of the stop
// column go on one row lower, the one holding it where it stopped, those to its right on the
// same row. Resumed on four threads, every pixel is visited exactly once over both runs.
TEST(CalculateEngine, RaisingTheThreadsRecutsAHalfFinishedStrip) {
    TCalculateManager manager(1);
    TScript script(256, 8);
    script.PauseX = 100;
    script.PauseY = 3;
    TTestEngine engine(manager, script, true);
    const TLayerRect all{0, 0, 256, 8};
    engine.Start(all);
    ASSERT_EQ(script.Paused.WaitFor(Patience), TEvent::wrSignaled);
    EXPECT_TRUE(engine.StopCalculation());
    EXPECT_EQ(engine.Finished.load(), 0) << "a stopped run with work left reports nothing";
    ASSERT_EQ(engine.PieceRects().size(), 1u);
    const TCompute *original = engine.Pieces()[0].get();
    EXPECT_EQ(original->State, psInterrupted);

    script.PauseX = -1;
    engine.Subdivide(4);
    EXPECT_EQ(engine.GetStripWidth(), 16);
    ASSERT_EQ(engine.Pieces().size(), 16u);
    for (const auto &piece : engine.Pieces()) {
        const int left = piece->Rect.Left;
        EXPECT_EQ(piece->Rect.Right, left + 16);
        EXPECT_EQ(piece->State, psInterrupted) << left;
        EXPECT_EQ(piece->Pass, 0);
        if (left + 16 <= 100) {
            EXPECT_EQ(piece->ResumeX, left);
            EXPECT_EQ(piece->ResumeY, 4) << left;
        } else if (left > 100) {
            EXPECT_EQ(piece->ResumeX, left);
            EXPECT_EQ(piece->ResumeY, 3) << left;
        } else {
            EXPECT_EQ(piece.get(), original) << "the piece holding the stop column is the old object";
            EXPECT_EQ(piece->ResumeX, 100);
            EXPECT_EQ(piece->ResumeY, 3);
        }
    }

    // Lowering the thread count never re-cuts.
    const std::vector<TLayerRect> before = engine.PieceRects();
    engine.Subdivide(2);
    manager.SetLocalThreadCount(4);
    engine.Start(all);
    ASSERT_TRUE(engine.WaitFinished());
    EXPECT_TRUE(script.CoveredOnce(all));
    manager.SetLocalThreadCount(2);
    engine.Start(all); // all pieces done: finishes at once
    EXPECT_EQ(engine.GetStripWidth(), 16);
    const std::vector<TLayerRect> after = engine.PieceRects();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(engine.Finished.load(), 2);
}

// Re-cut rules for each position of the stop, in the linear walk and in the passes of the
// multi-pass methods, whose rows lie a block apart.
TEST(CalculateEngine, RecutResumePositionsFollowTheRowsOfThePass) {
    struct TCase {
        const char *Name;
        std::uint8_t Method;
        std::int32_t Pass, ResumeX, ResumeY;
        // The first sub-strip [0, 16), left of the stop column.
        std::uint8_t LeftState;
        std::int32_t LeftPass, LeftY;
    };
    // A 64-row strip; a piece without image starts its passes with block size 2^3.
    const TCase cases[] = {
        {"linear: the next row", dmLinear, 0, 40, 10, psInterrupted, 0, 11},
        {"linear: the last row was the end", dmLinear, 0, 40, 63, psDone, 0, 0},
        {"first pass: one block lower", dmMultiPass, 3, 40, 16, psInterrupted, 3, 24},
        {"later pass: one block of that pass lower", dmGuessing, 1, 40, 4, psInterrupted, 1, 8},
        {"last block row of a pass: the next pass from the top", dmMultiPass, 2, 40, 56, psInterrupted, 1, 0},
        {"last block row of the last pass: done", dmMultiPass, 0, 40, 62, psDone, 0, 0},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TCalculateManager manager(1);
        TScript script(64, 64);
        script.Gate.ResetEvent();
        TTestEngine engine(manager, script, true);
        engine.Start({0, 0, 64, 64});
        engine.StopCalculation(); // the rectangles are set, nothing was calculated
        engine.Load(EngineRecord(64, {Interrupted({0, 0, 64, 64}, c.Pass, c.ResumeX, c.ResumeY)}));
        engine.Pieces()[0]->Method = c.Method;
        engine.Subdivide(4);
        ASSERT_EQ(engine.GetStripWidth(), 16);
        const TCompute *left = nullptr, *holding = nullptr, *right = nullptr;
        for (const auto &p : engine.Pieces()) {
            if (p->Rect.Left == 0)
                left = p.get();
            if (p->Rect.Left == 32)
                holding = p.get();
            if (p->Rect.Left == 48)
                right = p.get();
        }
        ASSERT_TRUE(left && holding && right);
        EXPECT_EQ(left->State, c.LeftState);
        if (c.LeftState == psInterrupted) {
            EXPECT_EQ(left->Pass, c.LeftPass);
            EXPECT_EQ(left->ResumeX, 0);
            EXPECT_EQ(left->ResumeY, c.LeftY);
        }
        EXPECT_EQ(holding->ResumeX, c.ResumeX);
        EXPECT_EQ(holding->ResumeY, c.ResumeY);
        EXPECT_EQ(right->ResumeX, 48);
        EXPECT_EQ(right->ResumeY, c.ResumeY);
        EXPECT_EQ(right->Pass, c.Pass);
    }
}

// ---------------------------------------------------------------------------------------------
// Sharing, stopping, runs without work, errors

TEST(CalculateManager, TwoSharedEnginesShareFiveThreadsThreeAndTwo) {
    TCalculateManager manager(5);
    TScript first(64, 2), second(64, 2);
    first.Gate.ResetEvent();
    second.Gate.ResetEvent();
    TTestEngine engineA(manager, first, true), engineB(manager, second, true);
    engineA.Start({0, 0, 64, 2});
    engineB.Start({0, 0, 64, 2});
    EXPECT_EQ(engineB.GetLocalCap(), 3) << "the engine registered last";
    EXPECT_EQ(engineA.GetLocalCap(), 2);
    EXPECT_GE(manager.PoolSize(), 5);
    first.Gate.SetEvent();
    second.Gate.SetEvent();
    ASSERT_TRUE(engineA.WaitFinished());
    ASSERT_TRUE(engineB.WaitFinished());
    EXPECT_TRUE(first.CoveredOnce({0, 0, 64, 2}));
    EXPECT_TRUE(second.CoveredOnce({0, 0, 64, 2}));
}

TEST(CalculateEngine, TwoThreadsStoppingTheSameEngineBothReturn) {
    TCalculateManager manager(3);
    TScript script(256, 4);
    script.Gate.ResetEvent();
    TTestEngine engine(manager, script, true);
    engine.Start({0, 0, 256, 4});
    while (engine.LocalBindingCount() < 3)
        script.Never.WaitFor(2);
    auto stopA = std::async(std::launch::async, [&] { return engine.StopCalculation(); });
    auto stopB = std::async(std::launch::async, [&] { return engine.StopAll(); });
    ASSERT_EQ(stopA.wait_for(std::chrono::milliseconds(Patience)), std::future_status::ready);
    ASSERT_EQ(stopB.wait_for(std::chrono::milliseconds(Patience)), std::future_status::ready);
    EXPECT_TRUE(stopA.get());
    EXPECT_TRUE(stopB.get());
    EXPECT_EQ(engine.LocalBindingCount(), 0);
    EXPECT_EQ(engine.Finished.load(), 0);

    // The stopped pieces go on where they were.
    script.Gate.SetEvent();
    engine.Start({0, 0, 256, 4});
    ASSERT_TRUE(engine.WaitFinished());
    EXPECT_TRUE(script.CoveredOnce({0, 0, 256, 4}));
}

class TIdleNetworkThread : public TCalculateThread {
public:
    void StopCalculation() override {}

protected:
    void DoExecute() override {}
};

// A new thread makes the manager re-cut the engine's strips under its lock while the pieces in
// work end on their own; the thread that releases the last one needs the manager's lock to
// unregister the engine. Both sides get through, and the end of the run is reported once.
TEST(CalculateEngine, ARecutWhileTheLastPieceEndsDoesNotDeadlock) {
    TCalculateManager manager(2);
    TScript script(32, 4);
    script.Gate.ResetEvent();
    script.IgnoreStop = true;
    TTestEngine engine(manager, script, true);
    engine.Start({0, 0, 32, 4});
    while (engine.LocalBindingCount() < 2)
        script.Never.WaitFor(2);
    TJoinedThread<TIdleNetworkThread> network;
    auto adding = std::async(std::launch::async, [&] { manager.AddNetworkThread(&network); });
    EXPECT_EQ(adding.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout)
        << "the re-cut waits for the pieces in work";
    script.Gate.SetEvent();
    ASSERT_EQ(adding.wait_for(std::chrono::milliseconds(Patience)), std::future_status::ready);
    ASSERT_TRUE(engine.WaitFinished());
    EXPECT_TRUE(engine.IsFinished());
    EXPECT_TRUE(script.CoveredOnce({0, 0, 32, 4}));
    manager.RemoveNetworkThread(&network);
    EXPECT_EQ(engine.Finished.load(), 1);
}

TEST(CalculateEngine, RunsWithoutWorkFinishAtOnce) {
    TCalculateManager manager(2);
    TScript script(64, 4);
    TTestEngine engine(manager, script, true);
    engine.Start({}, {});
    EXPECT_EQ(engine.Finished.load(), 1) << "reported on the starting thread";
    EXPECT_TRUE(engine.IsFinished());
    EXPECT_FALSE(manager.IsRegistered(&engine));

    // A resumed engine whose pieces are all done.
    TPieceFields done;
    done.State = psDone;
    done.Rect = {0, 0, 32, 4};
    TPieceFields done2 = done;
    done2.Rect = {32, 0, 64, 4};
    engine.Load(EngineRecord(32, {done, done2}));
    engine.Start({0, 0, 64, 4});
    EXPECT_EQ(engine.Finished.load(), 2);
    EXPECT_EQ(script.Runs.load(), 0);
    EXPECT_FALSE(manager.IsRegistered(&engine));
}

TEST(CalculateEngine, APieceThatRaisesEndsItsRunWithTheErrorAndOthersGoOn) {
    for (bool fault : {false, true}) {
        SCOPED_TRACE(fault ? "processor fault" : "exception");
        TCalculateManager manager(4);
        TScript bad(256, 4), good(256, 4);
        bad.BadColumn = 130;
        bad.Fault = fault;
        TTestEngine failing(manager, bad, true), healthy(manager, good, true);
        failing.Start({0, 0, 256, 4});
        healthy.Start({0, 0, 256, 4});
        ASSERT_TRUE(failing.WaitFinished());
        ASSERT_TRUE(healthy.WaitFinished());
        EXPECT_TRUE(failing.Failed());
        if (fault)
            EXPECT_FALSE(failing.ErrorMessage().empty());
        else
            EXPECT_EQ(failing.ErrorMessage(), "bad piece at 128");
        EXPECT_FALSE(failing.IsFinished());
        EXPECT_FALSE(manager.IsRegistered(&failing));
        EXPECT_FALSE(healthy.Failed());
        EXPECT_TRUE(healthy.IsFinished());
        EXPECT_TRUE(good.CoveredOnce({0, 0, 256, 4}));

        // The threads live on, and the failed piece is calculated again by the next run.
        bad.BadColumn = -1;
        failing.Start({0, 0, 256, 4});
        ASSERT_TRUE(failing.WaitFinished());
        EXPECT_FALSE(failing.Failed());
        EXPECT_TRUE(failing.IsFinished());
        EXPECT_EQ(failing.Finished.load(), 2);
        EXPECT_TRUE(bad.CoveredOnce({0, 0, 256, 4}));
    }
}

TEST(CalculateManager, IdleThreadsLeaveThePoolAndComeBackWhenNeeded) {
    TCalculateManager manager(2);
    manager.SetIdleTimeout(50);
    TScript script(64, 2);
    TTestEngine engine(manager, script, true);
    engine.Start({0, 0, 64, 2});
    ASSERT_TRUE(engine.WaitFinished());
    for (int i = 0; i < 3000 && manager.PoolSize() > 0; ++i)
        script.Never.WaitFor(5);
    EXPECT_EQ(manager.PoolSize(), 0);
    TScript again(64, 2);
    TTestEngine second(manager, again, true);
    second.Start({0, 0, 64, 2});
    ASSERT_TRUE(second.WaitFinished());
    EXPECT_TRUE(again.CoveredOnce({0, 0, 64, 2}));
}

// A start that raises leaves the engine as if it had not been started: not registered, no
// thread on it, no end reported, and a stop returns at once. The next start runs normally.
TEST(CalculateEngine, AStartThatRaisesLeavesNoRunBehind) {
    struct TCase {
        const char *Name;
        bool WithManager, RefusePieces;
        const char *Error;
    };
    const TCase cases[] = {
        {"a piece cannot be made for the strips", true, true, "Out of memory"},
        {"no calculation manager", false, false, "No calculation manager"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        TCalculateManager manager(2);
        TScript script(64, 4);
        script.RefusePieces = c.RefusePieces;
        TTestEngine engine(c.WithManager ? &manager : nullptr, script, true);
        try {
            engine.Start({0, 0, 64, 4});
            ADD_FAILURE() << "started";
        } catch (const Exception &E) {
            EXPECT_EQ(E.Message(), c.Error);
        }
        EXPECT_FALSE(manager.IsRegistered(&engine));
        EXPECT_EQ(engine.Finished.load(), 0);
        {
            TWatchdog watchdog(std::string("stopping an engine whose start raised: ") + c.Name, 20000);
            engine.StopCalculation();
            engine.WaitForThreads();
        }
        EXPECT_EQ(engine.Finished.load(), 0);
        if (!c.WithManager)
            continue;
        script.RefusePieces = false;
        engine.Start({0, 0, 64, 4});
        ASSERT_TRUE(engine.WaitFinished());
        EXPECT_EQ(engine.Finished.load(), 1);
        EXPECT_TRUE(script.CoveredOnce({0, 0, 64, 4}));
    }
}

// A re-cut that cannot make one of its pieces keeps the strips it had, every resume position
// included.
TEST(CalculateEngine, ARecutThatCannotMakeAPieceKeepsTheStrips) {
    TCalculateManager manager(1);
    TScript script(64, 64);
    script.Gate.ResetEvent();
    TTestEngine engine(manager, script, true);
    engine.Start({0, 0, 64, 64});
    engine.StopCalculation();
    engine.Load(EngineRecord(64, {Interrupted({0, 0, 64, 64}, 0, 40, 10)}));
    const std::string before = engine.Record();
    script.RefusePieces = true;
    EXPECT_THROW(engine.Subdivide(4), EOutOfMemory);
    EXPECT_EQ(engine.Record(), before);
    script.RefusePieces = false;
    engine.Subdivide(4);
    EXPECT_EQ(engine.Pieces().size(), 4u);
}

// A network thread whose peer has stalled keeps its piece and ignores every stop. A new thread
// makes the manager re-cut the engine's strips under the manager's lock, which every thread needs
// to find work: the re-cut gives up after its limit instead of holding everything up, the strips
// stay as they were, and the other threads take pieces again.
TEST(CalculateManager, ARecutDoesNotWaitForeverForAPieceThatIsNeverGivenBack) {
    TCalculateManager manager(1);
    TScript script(256, 4);
    script.Gate.ResetEvent();
    TTestEngine engine(manager, script, true);
    TJoinedThread<TIdleNetworkThread> stalled, joining;
    manager.AddNetworkThread(&stalled);
    const TLayerRect all{0, 0, 256, 4};
    engine.Start(all);
    std::unique_ptr<TCalculateBinding> held = manager.AcquireWork(&stalled);
    ASSERT_TRUE(held);
    const std::int32_t strips = engine.GetStripWidth();
    {
        TWatchdog watchdog("a re-cut waiting for a piece that is never given back", 30000);
        manager.AddNetworkThread(&joining);
    }
    EXPECT_EQ(engine.GetStripWidth(), strips);
    EXPECT_EQ(engine.NetworkBindingCount(), 1);

    // The local thread calculates every other piece; the stalled one comes back at last.
    script.Gate.SetEvent();
    held->Piece->Calculate();
    held.reset();
    ASSERT_TRUE(engine.WaitFinished());
    EXPECT_TRUE(script.CoveredOnce(all));
    manager.RemoveNetworkThread(&joining);
    manager.RemoveNetworkThread(&stalled);
}

// ---------------------------------------------------------------------------------------------
// Resume records

TEST(CalculateEngine, ResumeRecordsHaveTheirSizesAndRoundTrip) {
    TCalculateManager manager(4);
    TScript script(64, 4);
    TTestEngine engine(manager, script, true);
    engine.Start({0, 0, 64, 4});
    ASSERT_TRUE(engine.WaitFinished());
    const std::string record = engine.Record();
    EXPECT_EQ(record.size(), static_cast<std::size_t>(EngineRecordHeaderSize + 4 * PieceRecordSize));
    EXPECT_EQ(EngineRecordHeaderSize, 12);
    EXPECT_EQ(PieceRecordSize, 33);

    const std::string written = EngineRecord(16, {Interrupted({16, 0, 32, 4}, 2, 20, 3)});
    engine.Load(written);
    EXPECT_EQ(engine.Record(), written);
}

TEST(CalculateEngine, MalformedResumeRecordsAreRefusedAndChangeNothing) {
    TCalculateManager manager(1);
    TScript script(64, 8);
    TTestEngine engine(manager, script, true);
    const TPieceFields good = Interrupted({0, 0, 16, 8}, 0, 3, 2);
    const std::string original = EngineRecord(16, {good});
    engine.Load(original);

    auto with = [&](auto Change) {
        TPieceFields piece = good;
        Change(piece);
        return EngineRecord(16, {piece});
    };
    struct TCase {
        const char *Name;
        std::string Bytes;
        bool ReadError;
    };
    const std::string longer = EngineRecord(16, {good, good});
    const TCase cases[] = {
        {"engine version 1", EngineRecord(16, {good}, 1), false},
        {"piece version 1", with([](TPieceFields &p) { p.Version = 1; }), false},
        {"state 4", with([](TPieceFields &p) { p.State = 4; }), false},
        {"empty rectangle", with([](TPieceFields &p) { p.Rect.Right = p.Rect.Left; }), false},
        {"rectangle outside the image", with([](TPieceFields &p) {
             p.Rect = {60, 0, 76, 8};
         }),
         false},
        {"rectangle below the image", with([](TPieceFields &p) { p.Rect.Bottom = 9; }), false},
        {"piece wider than the strips", with([](TPieceFields &p) { p.Rect.Right = 32; }), false},
        {"pass 5", with([](TPieceFields &p) { p.Pass = 5; }), false},
        {"pass -2", with([](TPieceFields &p) { p.Pass = -2; }), false},
        {"resume x outside the strip", with([](TPieceFields &p) { p.ResumeX = 16; }), false},
        {"resume y outside the strip", with([](TPieceFields &p) { p.ResumeY = -1; }), false},
        {"strip width not a power of two", EngineRecord(24, {good}), false},
        {"strip width below 16", EngineRecord(8, {good}), false},
        {"negative piece count",
         original.substr(0, 8) + std::string("\xFF\xFF\xFF\xFF", 4) + original.substr(12), false},
        {"more pieces than the stream holds", longer.substr(0, longer.size() - 1), false},
        {"short header", original.substr(0, 6), true},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            engine.Load(c.Bytes);
            ADD_FAILURE() << "accepted";
        } catch (const EReadError &) {
            EXPECT_TRUE(c.ReadError);
        } catch (const Exception &E) {
            EXPECT_FALSE(c.ReadError);
            EXPECT_EQ(E.Message(), "Unsupported resume state");
        }
        EXPECT_EQ(engine.Record(), original);
    }

    // A piece stored while running is taken as new.
    engine.Load(with([](TPieceFields &p) { p.State = psRunning; }));
    EXPECT_EQ(engine.Pieces()[0]->State, psNew);
    EXPECT_EQ(engine.Pieces()[0]->Pass, -1);
}

} // namespace
