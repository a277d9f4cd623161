// The network client thread against scripted servers on 127.0.0.1 (a refused password, a closed
// port, a server that vanishes in the middle of a piece) and against the real in-process server:
// whatever the servers do, the layer ends complete and equal to a layer calculated here alone.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CompEntries.h"
#include "FracCalculate.h"
#include "FracLayer.h"
#include "FracMethods.h"
#include "GenSetup.h"
#include "NetCache.h"
#include "NetClient.h"
#include "NetConnections.h"
#include "NetServer.h"
#include "NetTestSupport.h"
#include "tests/fractal/FracMessageWait.h"

#undef SendMessage

namespace {

constexpr DWORD Patience = 60000;

// A server that runs Script for every client it accepts, one client at a time, until it is
// destroyed. Script gets the client's connection; returning or raising closes it.
class TScriptedServer {
public:
    using TScript = std::function<void(TNetworkConnection &Connection)>;
    explicit TScriptedServer(TScript Script) : FScript(std::move(Script)) {
        FListener.Listen("127.0.0.1", 0);
        FThread = std::thread([this] { Serve(); });
    }
    ~TScriptedServer() {
        FStop = true;
        FListener.Close();
        FThread.join();
    }
    std::uint16_t Port() const { return FListener.LocalPort(); }
    int Accepted() const { return FAccepted; }
    std::vector<DWORD> AcceptTimes() {
        std::lock_guard<std::mutex> guard(FMutex);
        return FTimes;
    }

private:
    void Serve() {
        while (!FStop) {
            const TSocketHandle handle = FListener.Accept(200);
            if (handle == InvalidSocket)
                continue;
            {
                std::lock_guard<std::mutex> guard(FMutex);
                FTimes.push_back(GetTickCount());
            }
            ++FAccepted;
            TTcpSocket socket(handle);
            TNetworkConnection connection(&socket);
            connection.SetLoggedIn(true);
            connection.SetReadTimeout(10000);
            try {
                FScript(connection);
            } catch (const std::exception &) {
                // The client went away: the next one may come.
            }
        }
    }

    TScript FScript;
    TTcpListener FListener;
    std::thread FThread;
    std::atomic<bool> FStop{false};
    std::atomic<int> FAccepted{0};
    std::mutex FMutex;
    std::vector<DWORD> FTimes;
};

// A frame of the client, read with a generous wait.
TFrame Expect(TNetworkConnection &Connection, const char *Tag) {
    TFrame frame = Connection.ReadMessage(std::int32_t(Patience));
    EXPECT_EQ(TagOf(frame), Tag);
    return frame;
}

void Send(TNetworkConnection &Connection, const TBytes &Frame) {
    SendBytes(*Connection.Connection(), Frame);
}

// A client thread whose state changes are recorded.
class TClientWatch {
public:
    TClientWatch(std::uint16_t Port, const std::string &Password, TCalculateManager *Manager,
                 std::uint32_t RetryDelay = 10000) {
        Thread =
            std::make_unique<TJoinedThread<TCalculateNetworkThread>>("127.0.0.1", Password, Port, Manager);
        Thread->SetConnectDelay(0);
        Thread->SetRetryDelay(RetryDelay);
        Thread->OnStateChange = MakeNotifyEvent<&TClientWatch::StateChanged>(this);
        Thread->Start();
    }
    ~TClientWatch() { Thread.reset(); }

    void StateChanged(TObject *) {
        std::lock_guard<std::mutex> guard(FMutex);
        States.push_back(int(Thread->GetState()));
        Texts.push_back(Thread->GetStatusText());
    }
    bool WaitForText(const std::string &Text) {
        return WaitUntil(
            [&] {
                std::lock_guard<std::mutex> guard(FMutex);
                for (const std::string &text : Texts)
                    if (text == Text)
                        return true;
                return false;
            },
            Patience);
    }
    bool WaitForState(TClientState State) {
        return WaitUntil([&] { return Thread->GetState() == State; }, Patience);
    }
    int CountState(TClientState State) {
        std::lock_guard<std::mutex> guard(FMutex);
        return int(std::count(States.begin(), States.end(), int(State)));
    }

    std::unique_ptr<TCalculateNetworkThread> Thread;
    std::mutex FMutex;
    std::vector<int> States;
    std::vector<std::string> Texts;
};

TEST(NetClient, WrongPasswordShowsItsTextAndRetriesAfterTheDelay) {
    std::vector<std::string> responses;
    std::mutex mutex;
    TScriptedServer server([&](TNetworkConnection &Connection) {
        Expect(Connection, "CONN");
        TBytes challenge = {'R', 'Q', 'A', 'U', 24, 0, 0, 0};
        for (int i = 0; i < 16; ++i)
            challenge.push_back(std::uint8_t(i));
        Send(Connection, challenge);
        const TFrame auth = Expect(Connection, "AUTH");
        {
            std::lock_guard<std::mutex> guard(mutex);
            responses.emplace_back(reinterpret_cast<const char *>(auth.Data()) + 8, 16);
        }
        Send(Connection, MakeFrame("FAIL", U32Body({4})));
        Connection.ReadMessage(std::int32_t(Patience)); // until the client closes
    });
    TCalculateManager manager(1);
    TClientWatch client(server.Port(), "secret", &manager, 1500);
    ASSERT_TRUE(client.WaitForText("Invalid password."));
    ASSERT_TRUE(WaitUntil([&] { return server.Accepted() >= 2; }, Patience));
    const std::vector<DWORD> times = server.AcceptTimes();
    // The retry waits for the delay (1.5 s here, 10 s in the program), not less.
    EXPECT_GE(times[1] - times[0], 1400u);
    EXPECT_EQ(client.CountState(TClientState::Connected), 0);
    std::lock_guard<std::mutex> guard(mutex);
    ASSERT_FALSE(responses.empty());
    std::string hex;
    for (char c : responses[0])
        hex += Format("%.2x", std::uint8_t(c));
    // MD5 of bytes 0..15 XOR "secret" repeated, by Python's hashlib.
    EXPECT_EQ(hex, "aa608763b4a42c17ad007d631a332601");
}

TEST(NetClient, ClosedPortShowsConnectionRefused) {
    std::uint16_t port;
    {
        TTcpListener listener;
        listener.Listen("127.0.0.1", 0);
        port = listener.LocalPort();
    }
    TCalculateManager manager(1);
    TClientWatch client(port, "", &manager);
    EXPECT_TRUE(client.WaitForText("Connection refused."));
    EXPECT_EQ(client.Thread->GetState(), TClientState::NotConnected);
    EXPECT_EQ(client.Thread->GetConnectTime(), 0);
}

// ---------------------------------------------------------------------------------------------
// Layers calculated with a network thread against a layer calculated here alone.

struct TTestLayer {
    explicit TTestLayer(TCalculateManager &Manager, std::uint8_t Method = dmLinear,
                        std::int32_t MaxIter = 300) {
        Layer = std::make_unique<TLayer>(&Rects, &Manager);
        Layer->OnCalculationFinished = MakeEvent<&TFinishCounter::Finish>(&Counter);
        Layer->GetFormula().SetSource(LayerFixtures(), "MandelPlain");
        Layer->GetFormula().SetMaxIter(MaxIter);
        // Every inside pixel runs all its iterations: no early exit by periodicity.
        Layer->GetFormula().SetPeriodicity(0);
        Layer->SetMethod(Method);
        Layer->SetShared(true);
        Layer->SetSize(96, 64);
        Layer->GetMapping().Center.SetText("-0.6", "0.25");
    }
    ~TTestLayer() { Layer.reset(); }
    bool Calculate() {
        Layer->EndUpdate();
        return WaitUntil([&] { return Counter.Finished >= 1 && !Layer->IsCalculating(); }, 600000);
    }
    // Pixels that differ from Other's.
    int Differing(const TTestLayer &Other) const {
        int differing = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 96; ++x)
                differing += std::memcmp(Layer->GetImage().PixelPtr(x, y),
                                         Other.Layer->GetImage().PixelPtr(x, y), 2) != 0;
        return differing;
    }

    TUpdateRectList Rects;
    TFinishCounter Counter;
    std::unique_ptr<TLayer> Layer;
};

class NetClientLayer : public testing::Test {
protected:
    void SetUp() override {
        NetworkServerCache().Clear();
        Reference = std::make_unique<TTestLayer>(ReferenceManager);
        ASSERT_TRUE(Reference->Calculate());
    }
    void TearDown() override { Reference.reset(); }

    TCalculateManager ReferenceManager{1};
    std::unique_ptr<TTestLayer> Reference;
};

TEST_F(NetClientLayer, ServerVanishingMidPieceLeavesThePieceToLocalThreads) {
    std::atomic<int> piecesTaken{0};
    std::string block;
    std::mutex mutex;
    TScriptedServer server([&](TNetworkConnection &Connection) {
        Expect(Connection, "CONN");
        Send(Connection, MakeFrame("GOOD", {}));
        for (;;) {
            const TFrame frame = Connection.ReadMessage(std::int32_t(Patience));
            if (TagOf(frame) == "KEEP") {
                Send(Connection, MakeFrame("GOOD", {}));
                continue;
            }
            EXPECT_EQ(TagOf(frame), "PARM");
            if (frame.GetUInt32(32) == 1) {
                Send(Connection, MakeFrame("FAIL", U32Body({7})));
                continue;
            }
            {
                std::lock_guard<std::mutex> guard(mutex);
                block = InflateData(frame.Data() + 44, frame.Length() - 44, 1u << 20);
                EXPECT_EQ(block.size(), frame.GetUInt32(36));
                EXPECT_EQ(TextCrc32(block), frame.GetUInt32(40));
            }
            Send(Connection, MakeFrame("GOOD", {}));
            const TFrame calc = Expect(Connection, "CALC");
            EXPECT_EQ(calc.Length(), 8u) << "a fresh piece without anti-aliasing carries no data";
            Send(Connection, MakeFrame("GOOD", {}));
            ++piecesTaken;
            return; // gone in the middle of the piece
        }
    });
    TCalculateManager manager(1);
    TClientWatch client(server.Port(), "", &manager, 300);
    ASSERT_TRUE(client.WaitForState(TClientState::Connected));
    TTestLayer layer(manager);
    ASSERT_TRUE(layer.Calculate());
    EXPECT_GE(piecesTaken.load(), 1) << "the server never got a piece";
    EXPECT_EQ(layer.Differing(*Reference), 0);
    EXPECT_EQ(layer.Layer->GetStatistics().Counted(), 96u * 64u);
    std::lock_guard<std::mutex> guard(mutex);
    EXPECT_EQ(block.rfind("parameters {\r\nnetwork:", 0), 0u) << block;
    EXPECT_NE(block.find("virtualwidth=96"), std::string::npos) << block;
    EXPECT_NE(block.find("::MandelPlain {"), std::string::npos) << block;
}

// The real server in this process, on 127.0.0.1 with a free port.
struct TInProcessServer {
    TInProcessServer() { Listener.Start("127.0.0.1", 0); }
    std::uint16_t Port() const { return Listener.Port(); }
    TConfigManager Config;
    TServerManager Manager{Config.Server.get()};
    TServerListener Listener{Manager};
};

TEST_F(NetClientLayer, PiecesCalculatedByTheServerMergeToTheLocalImage) {
    TInProcessServer server;
    // One local thread that is busy elsewhere is not needed: the network thread shares the layer
    // with it, and every piece it merges must land exactly where the local one would have.
    TCalculateManager manager(1);
    TClientWatch client(server.Port(), "", &manager, 300);
    ASSERT_TRUE(client.WaitForState(TClientState::Connected));
    TTestLayer layer(manager, dmGuessing);
    ASSERT_TRUE(layer.Calculate());
    EXPECT_GE(client.CountState(TClientState::Calculating), 1) << "the server never got a piece";
    TTestLayer reference(ReferenceManager, dmGuessing);
    ASSERT_TRUE(reference.Calculate());
    EXPECT_EQ(layer.Differing(reference), 0);
    // The guessed share depends on where the strips were cut; the count of finished pixels does not.
    EXPECT_EQ(layer.Layer->GetStatistics().Counted(), 96u * 64u);
}

TEST_F(NetClientLayer, DeactivatingAnEntryWhileItCalculatesGivesItsPieceBack) {
    TInProcessServer server;
    TCalculateManager manager(1);
    TClientConnection entry("127.0.0.1", "", server.Port(), &manager);
    entry.SetActive(true);
    ASSERT_TRUE(WaitUntil([&] { return entry.GetState() == TClientState::Connected; }, Patience));
    // Slow enough that the server still calculates its piece when the entry is switched off.
    TTestLayer layer(manager, dmLinear, 20000);
    TCalculateManager slowManager(1);
    TTestLayer reference(slowManager, dmLinear, 20000);
    layer.Layer->EndUpdate();
    ASSERT_TRUE(WaitUntil([&] { return entry.GetState() == TClientState::Calculating; }, Patience));
    entry.SetActive(false);
    EXPECT_EQ(entry.Thread(), nullptr);
    EXPECT_EQ(entry.GetState(), TClientState::NotConnected);
    ASSERT_TRUE(
        WaitUntil([&] { return layer.Counter.Finished >= 1 && !layer.Layer->IsCalculating(); }, 600000));
    ASSERT_TRUE(reference.Calculate());
    EXPECT_EQ(layer.Differing(reference), 0);
    EXPECT_EQ(layer.Layer->GetStatistics().Counted(), 96u * 64u);
}

// ---------------------------------------------------------------------------------------------
// Server entries and their manager

TEST(NetConnections, DisplayNameShowsThePortUnlessItIsTheDefault) {
    EXPECT_EQ(ConnectionDisplayName("calc.example", 8691), "calc.example");
    EXPECT_EQ(ConnectionDisplayName("calc.example", 9000), "calc.example : 9000");
    EXPECT_EQ(ConnectionDisplayName("10.0.0.2", 1), "10.0.0.2 : 1");
}

TEST(NetConnections, CaptionFollowsTheAddressUntilRenamed) {
    TClientConnection entry("127.0.0.1", "", 8691);
    EXPECT_EQ(entry.Caption(), "127.0.0.1");
    int changes = 0;
    struct TCounter {
        int *Count;
        void Changed(TObject *) { ++*Count; }
    } counter{&changes};
    entry.OnChange = MakeNotifyEvent<&TCounter::Changed>(&counter);
    entry.SetConnection("127.0.0.1", 9000, "");
    EXPECT_EQ(entry.Caption(), "127.0.0.1 : 9000");
    entry.SetConnection("127.0.0.1", 9000, "");
    EXPECT_EQ(changes, 1) << "unchanged settings are no change";
    entry.SetCaption("Render farm");
    entry.SetConnection("127.0.0.1", 9100, "pw");
    EXPECT_EQ(entry.Caption(), "Render farm");
    EXPECT_EQ(entry.Port(), 9100);
    EXPECT_EQ(entry.Password(), "pw");
    EXPECT_EQ(entry.GetState(), TClientState::NotConnected) << "inactive: no thread";
    EXPECT_EQ(entry.Thread(), nullptr);
}

TEST(NetConnections, OnlyEntriesToRestoreAreStoredAndComeBackActive) {
    std::uint16_t closed;
    {
        TTcpListener probe;
        probe.Listen("127.0.0.1", 0);
        closed = probe.LocalPort();
    }
    TConfigManager config;
    config.Network->Clear();
    TCalculateManager manager(1);
    {
        TNetworkManager network(config.Network.get(), &manager);
        int notified = 0;
        struct TCounter {
            int *Count;
            void Changed(TObject *) { ++*Count; }
        } counter{&notified};
        network.AddHandler(MakeNotifyEvent<&TCounter::Changed>(&counter));
        EXPECT_EQ(network.AddConnection("127.0.0.1", closed, true, "pw"), 0);
        EXPECT_EQ(network.AddConnection("127.0.0.2", closed, false, ""), 1);
        EXPECT_EQ(network.AddConnection("127.0.0.3", 9000, true, ""), 2);
        EXPECT_GE(notified, 3);
        EXPECT_TRUE(network.GetConnection(1)->Active());
        ASSERT_EQ(config.Network->GetCount(), 2) << "the entry without restore is not stored";
        network.GetConnection(2)->SetActive(false);
        network.MoveConnection(2, 0);
        EXPECT_EQ(network.GetConnection(0)->Host(), "127.0.0.3");
        ASSERT_EQ(config.Network->GetCount(), 2);
        EXPECT_EQ(config.Network->GetConnection(0)->Host, "127.0.0.3");
        EXPECT_FALSE(config.Network->GetConnection(0)->Enabled);
        EXPECT_EQ(config.Network->GetConnection(1)->Password, "pw");
        network.RemoveHandler(MakeNotifyEvent<&TCounter::Changed>(&counter));
    }
    TNetworkManager restored(config.Network.get(), &manager);
    ASSERT_EQ(restored.GetCount(), 2);
    EXPECT_EQ(restored.GetConnection(0)->Caption(), "127.0.0.3 : 9000");
    EXPECT_FALSE(restored.GetConnection(0)->Active());
    EXPECT_TRUE(restored.GetConnection(1)->Active());
    EXPECT_TRUE(restored.GetConnection(1)->Reconnect());
    EXPECT_EQ(restored.GetConnection(1)->Port(), closed);
    restored.DeleteConnection(1);
    EXPECT_EQ(restored.GetCount(), 1);
    EXPECT_EQ(config.Network->GetCount(), 1);
}

} // namespace
