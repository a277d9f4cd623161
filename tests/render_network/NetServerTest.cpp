// The server side of the protocol against an in-process server on 127.0.0.1 with a free port:
// admission, the password challenge, parameter requests and the cache, and hostile clients that
// must be logged and dropped while other clients carry on.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "GenProgram.h"
#include "GenSetup.h"
#include "NetCache.h"
#include "NetServer.h"
#include "NetTestSupport.h"

#undef SendMessage

namespace {

constexpr std::uint32_t Patience = 20000;

// The log lines the manager passes on, with a wait for a line that contains a text.
class TLogLines {
public:
    void Add(TObject *, const std::string &Line) {
        {
            std::lock_guard<std::mutex> guard(FMutex);
            FLines.push_back(Line);
        }
        FArrived.SetEvent();
    }
    bool WaitFor(const std::string &Text, std::size_t From = 0) {
        const DWORD start = GetTickCount();
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(FMutex);
                for (std::size_t i = From; i < FLines.size(); ++i)
                    if (FLines[i].find(Text) != std::string::npos)
                        return true;
                FArrived.ResetEvent();
            }
            if (GetTickCount() - start > Patience)
                return false;
            FArrived.WaitFor(250);
        }
    }
    std::size_t Count() {
        std::lock_guard<std::mutex> guard(FMutex);
        return FLines.size();
    }
    std::string Text() {
        std::lock_guard<std::mutex> guard(FMutex);
        std::string text;
        for (const std::string &line : FLines)
            text += line + "\n";
        return text;
    }

private:
    std::mutex FMutex;
    std::vector<std::string> FLines;
    TEvent FArrived{true, false};
};

// A client socket with a connection over it.
struct TTestClient {
    explicit TTestClient(std::uint16_t Port) {
        Socket.Connect("127.0.0.1", Port);
        Connection.SetLoggedIn(true); // the test reads whatever the server sends
    }
    TTcpSocket Socket;
    TNetworkConnection Connection{&Socket};

    std::uint32_t Send(const TBytes &Frame) {
        SendBytes(Socket, Frame);
        return Connection.ReadReply();
    }
    // The server has closed this connection.
    bool Closed() {
        try {
            for (;;)
                Connection.ReadMessage(std::int32_t(Patience));
        } catch (const EFrameError &) {
            return false;
        } catch (const EConnectionClosed &e) {
            return e.Message() != "Timed out waiting for message";
        } catch (const ESocketError &) {
            return true; // reset
        }
    }
};

std::uint32_t ServerMajor() {
    return std::uint32_t(TProgramInformation().Version->Major);
}

// MD5(challenge XOR the password repeated over 16 bytes), computed here from its description.
TDigestBytes ExpectedResponse(const TDigestBytes &Challenge, const std::string &Password) {
    std::uint8_t mixed[16];
    for (int i = 0; i < 16; ++i)
        mixed[i] = Challenge[i] ^ (Password.empty() ? 0 : std::uint8_t(Password[i % Password.size()]));
    TDigestBytes response;
    ComputeMD5(mixed, 16, response.data());
    return response;
}

std::string Hex(const TDigestBytes &Bytes) {
    std::string text;
    for (std::uint8_t b : Bytes)
        text += Format("%.2x", b);
    return text;
}

class NetServer : public testing::Test {
protected:
    void SetUp() override { NetworkServerCache().Clear(); }
    void TearDown() override {
        Listener.reset();
        Manager.reset();
    }

    void StartServer() {
        Manager = std::make_unique<TServerManager>(Config.Server.get(), Limits);
        Manager->OnLog = MakeEvent<&TLogLines::Add>(&Log);
        Listener = std::make_unique<TServerListener>(*Manager);
        Listener->Start("127.0.0.1", 0);
    }
    std::unique_ptr<TTestClient> Client() { return std::make_unique<TTestClient>(Listener->Port()); }
    std::unique_ptr<TTestClient> LoggedInClient() {
        auto client = Client();
        EXPECT_EQ(client->Send(ConnectFrame(ServerMajor())), 0u);
        return client;
    }
    // The manager's list empties once every client has gone.
    bool WaitForCount(int Count) {
        const DWORD start = GetTickCount();
        while (Manager->GetCount() != Count || Listener->ThreadCount() != Count) {
            if (GetTickCount() - start > Patience)
                return false;
            TEvent idle(true, false);
            idle.WaitFor(20);
        }
        return true;
    }

    TConfigManager Config;
    TServerLimits Limits;
    TLogLines Log;
    std::unique_ptr<TServerManager> Manager;
    std::unique_ptr<TServerListener> Listener;
};

TEST_F(NetServer, AdmissionChecksTagMajorVersionAndProtocol) {
    StartServer();
    struct TCase {
        const char *Name;
        TBytes Frame;
        std::uint32_t Reply;
    };
    const TCase cases[] = {
        {"same major", ConnectFrame(ServerMajor()), 0},
        {"older major", ConnectFrame(ServerMajor() - 1), 0},
        {"newer major", ConnectFrame(ServerMajor() + 1), 2},
        {"protocol 4", ConnectFrame(ServerMajor(), 4), 2},
        {"protocol 6", ConnectFrame(0, 6), 2},
        {"client tag", ConnectFrame(ServerMajor(), 5, "OBSERVER"), 2},
    };
    for (const TCase &c : cases) {
        auto client = Client();
        // Keep-alive is answered before login too.
        EXPECT_EQ(client->Send(MakeFrame("KEEP", {})), 0u) << c.Name;
        EXPECT_EQ(client->Send(c.Frame), c.Reply) << c.Name;
        if (c.Reply == 0) {
            EXPECT_EQ(client->Send(c.Frame), 1u) << c.Name << ": a second CONN";
            EXPECT_EQ(client->Send(MakeFrame("STOP", {})), 1u) << c.Name << ": STOP while idle";
        } else {
            // Still waiting for CONN: a request is out of place.
            EXPECT_EQ(client->Send(MakeFrame("RQST", U32Body({0}))), 1u) << c.Name;
        }
    }
    EXPECT_TRUE(Log.WaitFor("Client version not supported."));
    EXPECT_TRUE(Log.WaitFor("Connected."));
    EXPECT_TRUE(Log.WaitFor("Incoming connection."));
}

TEST_F(NetServer, AddressFilterDecidesPerOctet) {
    struct TCase {
        bool Enabled;
        std::vector<std::pair<const char *, const char *>> Filters;
        std::uint32_t Reply;
    };
    const TCase cases[] = {
        {false, {}, 0},
        {true, {}, 3},                           // on and empty: nobody
        {true, {{"127.0.0.2", "127.0.0.2"}}, 3}, // only 127.0.0.2
        {true, {{"127.0.0.1", "127.0.0.1"}}, 0},
        {true, {{"10.0.0.0", "10.255.255.255"}, {"127.0.0.0", "127.0.0.9"}}, 0},
        {true, {{"126.0.0.2", "128.255.255.255"}}, 3}, // 1 lies below the last octet's 2
    };
    StartServer();
    for (const TCase &c : cases) {
        {
            TScopeLock<TServerConfiguration> guard(*Config.Server);
            Config.Server->FilterEnabled = c.Enabled;
            Config.Server->Filters->Clear();
            for (const auto &[from, to] : c.Filters) {
                TNetworkAddressFilter *filter = Config.Server->Filters->Add();
                filter->From().SetText(from);
                filter->To().SetText(to);
            }
        }
        auto client = Client();
        EXPECT_EQ(client->Send(ConnectFrame(ServerMajor())), c.Reply) << c.Filters.size();
    }
    EXPECT_TRUE(Log.WaitFor("IP address rejected."));
}

// The response helper of these tests against values made once with Python's hashlib.
TEST(NetServerDigest, ResponseHelperMatchesHashlib) {
    TDigestBytes challenge;
    for (int i = 0; i < 16; ++i)
        challenge[i] = std::uint8_t(i);
    EXPECT_EQ(Hex(ExpectedResponse(challenge, "secret")), "aa608763b4a42c17ad007d631a332601");
    challenge.fill(0xFF);
    EXPECT_EQ(Hex(ExpectedResponse(challenge, "")), "8d79cbc9a4ecdde112fc91ba625b13c2");
}

TEST_F(NetServer, PasswordChallengeAdmitsTheRightResponseOnly) {
    Config.Server->PasswordRequired = true;
    Config.Server->Password = "Fractal!";
    StartServer();

    std::vector<TDigestBytes> challenges;
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto client = Client();
        SendBytes(client->Socket, ConnectFrame(ServerMajor()));
        const TFrame request = client->Connection.ReadMessage(std::int32_t(Patience));
        ASSERT_EQ(TagOf(request), "RQAU");
        ASSERT_EQ(request.Length(), 24u);
        TDigestBytes challenge;
        std::memcpy(challenge.data(), request.Data() + 8, 16);
        challenges.push_back(challenge);
        TDigestBytes response = ExpectedResponse(challenge, "Fractal!");
        if (attempt == 2) {
            response = ExpectedResponse(challenge, "fractal!"); // letter case counts
            TBytes body(response.begin(), response.end());
            EXPECT_EQ(client->Send(MakeFrame("AUTH", body)), 4u);
            EXPECT_TRUE(client->Closed()) << "a wrong password ends the connection";
            continue;
        }
        TBytes body(response.begin(), response.end());
        EXPECT_EQ(client->Send(MakeFrame("AUTH", body)), 0u);
        EXPECT_EQ(client->Send(MakeFrame("AUTH", body)), 1u) << "AUTH after login";
    }
    EXPECT_NE(challenges[0], challenges[1]);
    EXPECT_NE(challenges[1], challenges[2]);
    EXPECT_TRUE(Log.WaitFor("Requesting authentication."));
    EXPECT_TRUE(Log.WaitFor("Invalid password."));
    EXPECT_TRUE(WaitForCount(0));
}

// A minimal parameter block: the network section alone.
std::string NetworkBlock(int Width, int Height, const char *PixelFormat = "index") {
    return Format("parameters {\r\nnetwork:\r\n  virtualwidth=%d virtualheight=%d width=%d height=%d\r\n"
                  "  method=linear format=%s aa_enabled=no precision=double decimals=0\r\n"
                  "  resumable=no opaque=no\r\n}\r\n",
                  Width, Height, Width, Height, PixelFormat);
}

TBytes ParametersFrame(const std::string &Text, std::array<std::int32_t, 4> Rect, bool Cached,
                       std::uint32_t Crc, std::int64_t Length = -1, const std::string *Payload = nullptr) {
    TBytes body = U32Body({0, 0, std::uint32_t(Rect[0]), std::uint32_t(Rect[1]), std::uint32_t(Rect[2]),
                           std::uint32_t(Rect[3]), Cached ? 1u : 0u,
                           Length < 0 ? std::uint32_t(Text.size()) : std::uint32_t(Length), Crc});
    if (!Cached) {
        const std::string packed = Payload ? *Payload : DeflateData(Text.data(), Text.size());
        body.insert(body.end(), packed.begin(), packed.end());
    }
    return MakeFrame("PARM", body);
}

TEST_F(NetServer, ParametersComeFromTheCacheOnceSent) {
    StartServer();
    auto client = LoggedInClient();
    const std::string text = NetworkBlock(40, 30);
    const std::uint32_t crc = TextCrc32(text);
    EXPECT_EQ(client->Send(ParametersFrame(text, {0, 0, 40, 30}, true, crc)), 7u) << "not cached yet";
    EXPECT_EQ(client->Send(ParametersFrame(text, {0, 0, 40, 30}, false, crc)), 0u) << Log.Text();
    EXPECT_EQ(client->Send(ParametersFrame(text, {0, 0, 20, 30}, true, crc)), 0u) << "a cache hit";
    EXPECT_EQ(client->Send(ParametersFrame(text, {0, 0, 20, 30}, true, crc, text.size() + 1)), 7u)
        << "same checksum, other length";
    // Another client gets the same text from the cache.
    auto other = LoggedInClient();
    EXPECT_EQ(other->Send(ParametersFrame(text, {10, 10, 20, 20}, true, crc)), 0u);
    EXPECT_EQ(client->Send(MakeFrame("KEEP", {})), 0u) << "the state stays connected";
}

TEST_F(NetServer, HostileParametersAreRefusedAndLogged) {
    StartServer();
    auto bystander = LoggedInClient();
    auto client = LoggedInClient();
    const std::string text = NetworkBlock(40, 30);
    const std::uint32_t crc = TextCrc32(text);
    const std::string zeros(8u << 20, '\0');
    const std::string bomb = DeflateData(zeros.data(), zeros.size());
    const std::string garbage = "not a zlib stream at all";
    struct TCase {
        const char *Name;
        TBytes Frame;
        const char *Log;
    };
    const TCase cases[] = {
        {"wrong checksum", ParametersFrame(text, {0, 0, 40, 30}, false, crc ^ 0x100), "checksum"},
        {"longer than sent", ParametersFrame(text, {0, 0, 40, 30}, false, crc, text.size() + 10), "length"},
        {"shorter than sent", ParametersFrame(text, {0, 0, 40, 30}, false, crc, text.size() - 10),
         "too large"},
        {"bomb", ParametersFrame(text, {0, 0, 40, 30}, false, crc, 1000, &bomb), "too large"},
        {"garbage", ParametersFrame(text, {0, 0, 40, 30}, false, crc, -1, &garbage), "Invalid compressed"},
        {"huge length", ParametersFrame(text, {0, 0, 40, 30}, false, crc, 0x7FFFFFFF), "too long"},
        {"right beyond", ParametersFrame(text, {0, 0, 41, 30}, false, crc), "geometry"},
        {"bottom beyond", ParametersFrame(text, {0, 0, 40, 31}, false, crc), "geometry"},
        {"negative left", ParametersFrame(text, {-1, 0, 40, 30}, false, crc), "geometry"},
        {"empty", ParametersFrame(text, {5, 5, 5, 10}, false, crc), "geometry"},
        {"inverted", ParametersFrame(text, {9, 5, 5, 10}, false, crc), "geometry"},
        {"zero size",
         ParametersFrame(NetworkBlock(0, 30), {0, 0, 1, 1}, false, TextCrc32(NetworkBlock(0, 30))),
         "geometry"},
        {"too many bytes",
         ParametersFrame(NetworkBlock(30000, 30000, "floatcolor"), {0, 0, 1, 1}, false,
                         TextCrc32(NetworkBlock(30000, 30000, "floatcolor"))),
         "geometry"},
    };
    for (const TCase &c : cases) {
        const std::size_t logged = Log.Count();
        EXPECT_EQ(client->Send(c.Frame), 5u) << c.Name;
        EXPECT_TRUE(Log.WaitFor("Error loading parameters: ", logged)) << c.Name;
        EXPECT_TRUE(Log.WaitFor(c.Log, logged)) << c.Name << "\n" << Log.Text();
        // CALC without a loaded piece fails as well.
        EXPECT_EQ(client->Send(MakeFrame("CALC", {})), 6u) << c.Name;
    }
    std::string found;
    EXPECT_FALSE(NetworkServerCache().Find(crc ^ 0x100, std::uint32_t(text.size()), found))
        << "a text under a wrong checksum is never served";
    EXPECT_EQ(bystander->Send(MakeFrame("KEEP", {})), 0u);
}

// Broken framing ends the offender's connection with a log line; the server and another client
// carry on, and the memory of the process stays bounded.
TEST_F(NetServer, BrokenFramesDropOnlyTheirConnection) {
    Limits.ReadTimeout = 2000;
    StartServer();
    auto bystander = LoggedInClient();
    struct TCase {
        const char *Name;
        bool Login;
        TBytes Bytes;
    };
    std::vector<TCase> cases;
    for (std::uint32_t length = 0; length < 8; ++length)
        cases.push_back({"short", false, MakeFrame("KEEP", {}, length)});
    cases.push_back({"all ones", false, MakeFrame("CALC", {}, 0xFFFFFFFFu)});
    cases.push_back({"all ones after login", true, MakeFrame("CALC", {}, 0xFFFFFFFFu)});
    cases.push_back({"large before login", false, MakeFrame("PARM", TBytes(40), 48)});
    cases.push_back({"fixed size mismatch", true, MakeFrame("RQST", U32Body({0, 0}))});
    cases.push_back({"unknown and long", true, MakeFrame("JUNK", TBytes(100))});
    // A valid frame, then bytes that are no frame at all.
    TBytes garbage = MakeFrame("KEEP", {});
    for (int i = 0; i < 64; ++i)
        garbage.push_back(std::uint8_t(i * 37 + 11));
    cases.push_back({"garbage after a frame", false, garbage});

    PROCESS_MEMORY_COUNTERS before{};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
    for (int round = 0; round < 3; ++round)
        for (const TCase &c : cases) {
            const std::size_t logged = Log.Count();
            auto client = c.Login ? LoggedInClient() : Client();
            SendBytes(client->Socket, c.Bytes);
            EXPECT_TRUE(client->Closed()) << c.Name;
            EXPECT_TRUE(Log.WaitFor("Invalid message: ", logged)) << c.Name << "\n" << Log.Text();
        }
    EXPECT_TRUE(WaitForCount(1)) << "only the bystander is left";
    PROCESS_MEMORY_COUNTERS after{};
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    EXPECT_LT(std::int64_t(after.PagefileUsage) - std::int64_t(before.PagefileUsage), 32ll << 20);
    EXPECT_EQ(bystander->Send(MakeFrame("KEEP", {})), 0u);
    // An unknown tag within the size of a fixed frame is answered, not dropped.
    EXPECT_EQ(bystander->Send(MakeFrame("JUNK", {})), 1u);
    EXPECT_EQ(bystander->Send(MakeFrame("KEEP", {})), 0u);
}

TEST_F(NetServer, SilentClientsBeforeLoginAreDropped) {
    Limits.LoginTimeout = 300;
    StartServer();
    auto silent = Client();
    auto talking = LoggedInClient();
    EXPECT_TRUE(silent->Closed());
    // A logged-in client has the long time-out.
    EXPECT_EQ(talking->Send(MakeFrame("KEEP", {})), 0u);
    EXPECT_TRUE(WaitForCount(1));
}

TEST_F(NetServer, ConnectionsAreCapped) {
    Limits.MaxConnections = 3;
    StartServer();
    std::vector<std::unique_ptr<TTestClient>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(LoggedInClient());
    auto extra = Client();
    EXPECT_TRUE(extra->Closed());
    EXPECT_TRUE(Log.WaitFor("too many connections"));
    clients.pop_back();
    EXPECT_TRUE(WaitForCount(2));
    auto again = LoggedInClient();
    EXPECT_EQ(again->Send(MakeFrame("KEEP", {})), 0u);
}

TEST_F(NetServer, ConnectAndCloseCyclesLeaveNoThreads) {
    StartServer();
    for (int i = 0; i < 50; ++i) {
        auto client = LoggedInClient();
    }
    EXPECT_TRUE(WaitForCount(0));
    EXPECT_TRUE(Log.WaitFor("Disconnected."));
}

} // namespace
