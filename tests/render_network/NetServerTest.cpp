// The server side of the protocol against an in-process server on 127.0.0.1 with a free port:
// admission, the password challenge, parameter requests and the cache, and hostile clients that
// must be logged and dropped while other clients carry on.
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <array>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "CompEntries.h"
#include "CompPersistent.h"
#include "FracCalculate.h"
#include "FracLayer.h"
#include "FracMethods.h"
#include "GenProgram.h"
#include "GenSetup.h"
#include "NetCache.h"
#include "NetServer.h"
#include "NetTestSupport.h"
#include "tests/fractal/FracMessageWait.h"

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
                       std::uint32_t Crc, std::int64_t Length = -1, const std::string *Payload = nullptr,
                       std::int32_t OffsetX = 0, std::int32_t OffsetY = 0) {
    TBytes body =
        U32Body({std::uint32_t(OffsetX), std::uint32_t(OffsetY), std::uint32_t(Rect[0]),
                 std::uint32_t(Rect[1]), std::uint32_t(Rect[2]), std::uint32_t(Rect[3]), Cached ? 1u : 0u,
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

// ---------------------------------------------------------------------------------------------
// A piece calculated by the server against the same layer calculated here.

void ReplaceAll(std::string &Text, const std::string &From, const std::string &To) {
    for (std::size_t at = Text.find(From); at != std::string::npos; at = Text.find(From, at + To.size()))
        Text.replace(at, From.size(), To);
}

// Status requests with data until the server reports the piece done. With Pauses, no CALL is
// awaited between requests (every request pauses the calculation) and they are counted.
TStatusReply PollUntilDone(TTestClient &Client, int *Pauses = nullptr) {
    TStatusReply status;
    const DWORD start = GetTickCount();
    for (;;) {
        if (!Pauses)
            Client.Connection.WaitForCall(250);
        SendBytes(Client.Socket, MakeFrame("RQST", U32Body({0xFFFFFFFFu})));
        status = Client.Connection.ReadStatus();
        if (status.Done || status.Result != 0)
            return status;
        if (Pauses)
            ++*Pauses;
        if (GetTickCount() - start > 300000) {
            ADD_FAILURE() << "the piece never finished";
            return status;
        }
    }
}

// A layer of MandelPlain calculated here, and the network block that describes it, with its
// formula file standing under a client name with a blank (sent as '*') that does not exist on
// this machine, so the server can only have the formula from the block.
struct TLocalLayer {
    // Periodicity -1 keeps the formula's own setting.
    explicit TLocalLayer(std::int32_t MaxIter, int Periodicity = -1) {
        Layer = std::make_unique<TLayer>(&Rects, &Manager);
        Layer->OnCalculationFinished = MakeEvent<&TFinishCounter::Finish>(&Counter);
        Layer->GetFormula().SetSource(LayerFixtures(), "MandelPlain");
        EXPECT_FALSE(Layer->GetFormula().GetHasError());
        Layer->GetFormula().SetMaxIter(MaxIter);
        if (Periodicity >= 0)
            Layer->GetFormula().SetPeriodicity(std::uint8_t(Periodicity));
        Layer->SetMethod(dmLinear);
        Layer->SetSize(64, 48);
        Layer->GetMapping().Center.SetText("-0.6", "0.25");
        Layer->EndUpdate();
        EXPECT_TRUE(WaitUntil([&] { return Counter.Finished >= 1; }, 300000));
    }
    ~TLocalLayer() { Layer.reset(); }

    std::string NetworkBlock(const char *Extra = "aa_enabled=no resumable=no",
                             const char *Size = "width=64 height=48") const {
        TParWriter writer;
        Layer->WriteParameters(writer, 0);
        writer.Finish();
        std::string sections = writer.GetText();
        sections = sections.substr(sections.find("mapping:"));
        ReplaceAll(sections, LayerFixtures(), "C:\\My Fractals\\a.ofm");
        ReplaceAll(sections, "MandelPlain", "Mandel");
        std::unique_ptr<TEntryReader> file = TEntryReader::CreateFromFile(LayerFixtures(), true);
        const std::string body = file->GetEntry(file->IndexOfName("MandelPlain"))->GetText();
        return Format("parameters {\r\nnetwork:\r\n  virtualwidth=64 virtualheight=48 %s\r\n"
                      "  method=linear format=index precision=double decimals=0 opaque=no %s\r\n%s}\r\n\r\n"
                      "C:\\My*Fractals\\a.ofm::Mandel {\r\n%s}\r\n",
                      Size, Extra, sections, body);
    }

    // Pixels of the STAT data (piece record, statistics, codes of Piece) that differ from the
    // layer's; -1 when the data has the wrong size.
    int Differing(const std::string &Data, const std::array<std::int32_t, 4> &Piece,
                  std::set<std::uint16_t> &Codes, int OffsetX = 0, int OffsetY = 0) {
        const int width = Piece[2] - Piece[0], height = Piece[3] - Piece[1];
        const std::size_t pixels = 33 + 1056;
        if (Data.size() != pixels + std::size_t(width * height * 2))
            return -1;
        int differing = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                std::uint16_t remote, local;
                std::memcpy(&remote, Data.data() + pixels + 2 * (y * width + x), 2);
                std::memcpy(&local,
                            Layer->GetImage().PixelPtr(OffsetX + Piece[0] + x, OffsetY + Piece[1] + y), 2);
                differing += remote != local;
                Codes.insert(local);
            }
        return differing;
    }

    TCalculateManager Manager{2};
    TUpdateRectList Rects;
    TFinishCounter Counter;
    std::unique_ptr<TLayer> Layer;
};

TEST_F(NetServer, CalculatedPieceEqualsTheLocalLayer) {
    TLocalLayer local(60);
    const std::string text = local.NetworkBlock();
    StartServer();
    auto client = LoggedInClient();
    const std::array<std::int32_t, 4> piece = {8, 4, 40, 30};
    ASSERT_EQ(client->Send(ParametersFrame(text, piece, false, TextCrc32(text))), 0u) << Log.Text() << text;
    // GOOD comes before any CALL of a piece that finishes at once.
    ASSERT_EQ(client->Send(MakeFrame("CALC", {})), 0u) << Log.Text();
    EXPECT_EQ(client->Send(MakeFrame("CALC", {})), 1u) << "CALC while calculating";

    TStatusReply status = PollUntilDone(*client);
    ASSERT_TRUE(status.Done);
    EXPECT_DOUBLE_EQ(status.Progress, 1.0);

    const std::string data = InflateData(status.Data.data(), status.Data.size(), 1u << 20);
    std::set<std::uint16_t> codes;
    EXPECT_EQ(local.Differing(data, piece, codes), 0);
    EXPECT_GT(codes.size(), 10u) << "a piece with detail, not a flat one";
    EXPECT_EQ(std::uint8_t(data[20]), 3) << "the piece record's state byte: done";
    EXPECT_EQ(client->Send(MakeFrame("STOP", {})), 1u) << "the done piece left the calculating state";
    // A status request after the end still answers with the last status.
    SendBytes(client->Socket, MakeFrame("RQST", U32Body({0})));
    status = client->Connection.ReadStatus();
    EXPECT_TRUE(status.Done);
    EXPECT_TRUE(status.Data.empty());

    // The next piece of the same fractal by checksum alone.
    const std::array<std::int32_t, 4> next = {0, 30, 64, 48};
    ASSERT_EQ(client->Send(ParametersFrame(text, next, true, TextCrc32(text))), 0u) << Log.Text();
    ASSERT_EQ(client->Send(MakeFrame("CALC", {})), 0u) << Log.Text();
    status = PollUntilDone(*client);
    ASSERT_TRUE(status.Done);
    EXPECT_EQ(local.Differing(InflateData(status.Data.data(), status.Data.size(), 1u << 20), next, codes), 0);

    // A layer of 32 x 24 pixels whose pixel (0, 0) lies at (16, 12) of the whole image shows that
    // part of the image.
    const std::string part = local.NetworkBlock("aa_enabled=no resumable=no", "width=32 height=24");
    const std::array<std::int32_t, 4> inner = {2, 3, 30, 21};
    ASSERT_EQ(client->Send(ParametersFrame(part, inner, false, TextCrc32(part), -1, nullptr, 16, 12)), 0u)
        << Log.Text();
    ASSERT_EQ(client->Send(MakeFrame("CALC", {})), 0u) << Log.Text();
    status = PollUntilDone(*client);
    ASSERT_TRUE(status.Done);
    EXPECT_EQ(
        local.Differing(InflateData(status.Data.data(), status.Data.size(), 1u << 20), inner, codes, 16, 12),
        0);
}

// Every status request with data pauses the calculation and resumes it where it stopped; a STOP
// ends it; the pieces still come out as calculated in one go.
TEST_F(NetServer, PausedAndStoppedPiecesResumeToTheLocalLayer) {
    // Without periodicity checking every inside pixel runs all its iterations: a piece long
    // enough to be paused many times.
    TLocalLayer local(2000, 0);
    const std::string text = local.NetworkBlock();
    StartServer();
    auto client = LoggedInClient();
    const std::array<std::int32_t, 4> piece = {0, 0, 64, 48};
    ASSERT_EQ(client->Send(ParametersFrame(text, piece, false, TextCrc32(text))), 0u) << Log.Text();
    ASSERT_EQ(client->Send(MakeFrame("CALC", {})), 0u) << Log.Text();
    int pauses = 0;
    const TStatusReply status = PollUntilDone(*client, &pauses);
    ASSERT_TRUE(status.Done);
    std::set<std::uint16_t> codes;
    EXPECT_EQ(local.Differing(InflateData(status.Data.data(), status.Data.size(), 1u << 20), piece, codes), 0)
        << pauses << " pauses";
    std::printf("[ info ] %d pauses before the piece was done\n", pauses);

    // STOP while calculating, then the same piece again from the start.
    ASSERT_EQ(client->Send(ParametersFrame(text, piece, true, TextCrc32(text))), 0u);
    ASSERT_EQ(client->Send(MakeFrame("CALC", {})), 0u);
    SendBytes(client->Socket, MakeFrame("STOP", {}));
    EXPECT_EQ(client->Connection.ReadReplySkipCalls(), 0u) << "STOP while calculating";
    SendBytes(client->Socket, MakeFrame("STOP", {}));
    EXPECT_EQ(client->Connection.ReadReplySkipCalls(), 1u) << "STOP when stopped";
    EXPECT_EQ(client->Send(MakeFrame("KEEP", {})), 0u);
}

// The piece record of the published layout: version 0, rectangle, state, pass, resume position.
std::string PieceRecord(std::array<std::int32_t, 4> Rect, std::uint8_t State, std::int32_t Pass,
                        std::int32_t X, std::int32_t Y) {
    TBytes bytes = U32Body(
        {0, std::uint32_t(Rect[0]), std::uint32_t(Rect[1]), std::uint32_t(Rect[2]), std::uint32_t(Rect[3])});
    bytes.push_back(State);
    AppendU32(bytes, std::uint32_t(Pass));
    AppendU32(bytes, std::uint32_t(X));
    AppendU32(bytes, std::uint32_t(Y));
    return std::string(bytes.begin(), bytes.end());
}

TBytes CalcFrame(const std::string &Plain, bool Pack = true) {
    const std::string payload = Pack ? DeflateData(Plain.data(), Plain.size()) : Plain;
    return MakeFrame("CALC", TBytes(payload.begin(), payload.end()));
}

// Calculation data that is too large, broken or points outside the piece is refused with FAIL 6
// and a log line; nothing is written out of bounds and the connection stays usable.
TEST_F(NetServer, HostileCalculationDataIsRefused) {
    TLocalLayer local(60);
    StartServer();
    auto bystander = LoggedInClient();
    auto client = LoggedInClient();
    const std::array<std::int32_t, 4> piece = {8, 4, 40, 30};
    const std::string codes(32 * 26 * 2, '\x01');
    const std::string zeros(8u << 20, '\0');
    struct TCase {
        const char *Name;
        const char *Extra;
        TBytes Frame;
        const char *Log;
    };
    const TCase cases[] = {
        {"bomb", "aa_enabled=no resumable=yes", CalcFrame(zeros), "too large"},
        {"garbage", "aa_enabled=no resumable=yes", CalcFrame("no zlib data here", false),
         "Invalid compressed"},
        {"record beyond the piece", "aa_enabled=no resumable=yes",
         CalcFrame(PieceRecord({0, 0, 64, 48}, 2, -1, 10, 10) + std::string(64 * 48 * 2, '\x01')),
         "Unsupported resume state"},
        {"record beyond the image", "aa_enabled=no resumable=yes",
         CalcFrame(PieceRecord({8, 4, 4000, 30}, 2, -1, 10, 10) + codes), "Unsupported resume state"},
        {"resume position outside", "aa_enabled=no resumable=yes",
         CalcFrame(PieceRecord(piece, 2, -1, 100, 10) + codes), "Unsupported resume state"},
        {"short pixels", "aa_enabled=no resumable=yes", CalcFrame(PieceRecord(piece, 2, -1, 10, 10) + "ab"),
         "Stream read error"},
        {"anti-aliasing over codes",
         "aa_enabled=yes aa_depth=1 aa_subdivisions=2x2 aa_threshold=0.1 resumable=no",
         CalcFrame(std::string(33 * 27 * 16, '\0')), "Invalid image format"},
    };
    for (const TCase &c : cases) {
        const std::string text = local.NetworkBlock(c.Extra);
        ASSERT_EQ(client->Send(ParametersFrame(text, piece, false, TextCrc32(text))), 0u)
            << c.Name << Log.Text();
        const std::size_t logged = Log.Count();
        EXPECT_EQ(client->Send(c.Frame), 6u) << c.Name;
        EXPECT_TRUE(Log.WaitFor("Error starting calculation: ", logged)) << c.Name;
        EXPECT_TRUE(Log.WaitFor(c.Log, logged)) << c.Name << "\n" << Log.Text();
        EXPECT_EQ(client->Send(MakeFrame("STOP", {})), 1u) << c.Name << ": the state stayed connected";
    }
    // The last piece loaded still starts from its beginning and finishes whole.
    const std::string text = local.NetworkBlock("aa_enabled=no resumable=yes");
    ASSERT_EQ(client->Send(ParametersFrame(text, piece, true, TextCrc32(text))), 0u);
    ASSERT_EQ(client->Send(CalcFrame(PieceRecord(piece, 0, -1, 0, 0) + codes)), 0u) << Log.Text();
    TStatusReply status = PollUntilDone(*client);
    ASSERT_TRUE(status.Done);
    std::set<std::uint16_t> seen;
    EXPECT_EQ(local.Differing(InflateData(status.Data.data(), status.Data.size(), 1u << 20), piece, seen), 0);
    EXPECT_EQ(bystander->Send(MakeFrame("KEEP", {})), 0u);
}

TEST(ServerCalculateEngine, StartStopAndWriteDataFollowThePiece) {
    TLocalLayer local(60);
    TServerCalculateEngine engine;
    EXPECT_THROW(engine.Start(), EServerEngineError) << "no piece";
    EXPECT_THROW(engine.LoadCalculateData("", 0), EServerEngineError);
    TMemoryStream nothing;
    engine.WriteData(nothing);
    EXPECT_EQ(nothing.Size(), 0) << "no piece, no data";

    TEvent finished(true, false);
    struct TCallTarget {
        TEvent *Event;
        void Call(TObject *) { Event->SetEvent(); }
    } target{&finished};
    engine.OnCall = MakeNotifyEvent<&TCallTarget::Call>(&target);
    engine.LoadParameters(0, 0, local.NetworkBlock(), TLayerRect{0, 0, 64, 48});
    engine.Start();
    try {
        engine.Start();
        ADD_FAILURE() << "a second start";
    } catch (const EServerEngineError &e) {
        EXPECT_EQ(e.Message(), "Calculation already started");
    }
    ASSERT_EQ(finished.WaitFor(120000), TEvent::wrSignaled);
    double progress = 0, rate = 0;
    bool done = false;
    engine.GetStatus(progress, rate, done);
    EXPECT_TRUE(done);
    EXPECT_DOUBLE_EQ(progress, 1.0);
    // Writing a finished piece's data does not start it again.
    finished.ResetEvent();
    TMemoryStream data;
    engine.WriteData(data);
    EXPECT_EQ(finished.WaitFor(300), TEvent::wrTimeout);
    engine.GetStatus(progress, rate, done);
    EXPECT_TRUE(done);
    std::set<std::uint16_t> codes;
    EXPECT_EQ(local.Differing(InflateData(data.Memory(), std::size_t(data.Size()), 1u << 20), {0, 0, 64, 48},
                              codes),
              0);
    // A text whose first section is not "network" is refused.
    EXPECT_THROW(engine.LoadParameters(0, 0, "parameters {\r\nmapping:\r\n}\r\n", TLayerRect{0, 0, 1, 1}),
                 Exception);
    EXPECT_THROW(engine.Start(), EServerEngineError) << "a failed load leaves no piece";
}

// Stopping the server while a client's piece is calculating ends the calculation, the client's
// connection and its thread.
TEST_F(NetServer, StoppingTheServerEndsCalculatingClients) {
    TLocalLayer local(2000, 0);
    const std::string text = local.NetworkBlock();
    Limits.IdleTimeout = 120000;
    StartServer();
    auto idle = LoggedInClient();
    auto client = LoggedInClient();
    ASSERT_EQ(client->Send(ParametersFrame(text, {0, 0, 64, 48}, false, TextCrc32(text))), 0u) << Log.Text();
    ASSERT_EQ(client->Send(MakeFrame("CALC", {})), 0u) << Log.Text();
    ASSERT_EQ(Manager->GetCount(), 2);
    const DWORD start = GetTickCount();
    Listener->Stop();
    // Well before the idle client's time-out: the stop woke its thread.
    EXPECT_LT(GetTickCount() - start, 60000u);
    EXPECT_EQ(Manager->GetCount(), 0);
    EXPECT_EQ(Listener->ThreadCount(), 0);
    EXPECT_TRUE(client->Closed());
    EXPECT_TRUE(idle->Closed());
    EXPECT_TRUE(Log.WaitFor("Disconnected."));
}

// ---------------------------------------------------------------------------------------------
// Load on loopback, bounded in time: each scenario gives up after LoadLimit and reports what it
// reached.

constexpr DWORD LoadLimit = 60000;

// 32 clients fetch 20 pieces each, polling every 250 ms, while one more client measures the
// keep-alive round trip; every piece equals the same piece of the local layer.
TEST_F(NetServer, LoadManyClientsMergeToTheLocalLayer) {
    TLocalLayer local(60);
    const std::string text = local.NetworkBlock();
    const std::uint32_t crc = TextCrc32(text);
    StartServer();
    constexpr int Clients = 32, Pieces = 20;
    std::atomic<int> finished{0}, differing{0}, failures{0};
    const DWORD start = GetTickCount();
    std::vector<std::thread> clients;
    for (int c = 0; c < Clients; ++c)
        clients.emplace_back([&, c] {
            try {
                TTestClient client(Listener->Port());
                if (client.Send(ConnectFrame(ServerMajor())) != 0)
                    return void(++failures);
                for (int p = 0; p < Pieces && GetTickCount() - start < LoadLimit; ++p) {
                    // The 64 x 48 image as 4 columns of 16 and 5 rows of 10 (the last 8),
                    // each client starting elsewhere.
                    const int piece = (p + c) % Pieces, column = piece % 4, row = piece / 4;
                    const std::array<std::int32_t, 4> rect = {column * 16, row * 10, column * 16 + 16,
                                                              std::min(row * 10 + 10, 48)};
                    std::uint32_t reply = client.Send(ParametersFrame(text, rect, true, crc));
                    if (reply == 7)
                        reply = client.Send(ParametersFrame(text, rect, false, crc));
                    if (reply != 0 || client.Send(MakeFrame("CALC", {})) != 0)
                        return void(++failures);
                    const TStatusReply status = PollUntilDone(client);
                    if (!status.Done || status.Result != 0)
                        return void(++failures);
                    std::set<std::uint16_t> codes;
                    const int wrong = local.Differing(
                        InflateData(status.Data.data(), status.Data.size(), 1u << 20), rect, codes);
                    differing += wrong < 0 ? 1 : wrong;
                    ++finished;
                }
            } catch (const std::exception &) {
                ++failures;
            }
        });
    std::vector<double> latencies;
    {
        auto probe = LoggedInClient();
        LARGE_INTEGER frequency, before, after;
        QueryPerformanceFrequency(&frequency);
        while (finished + failures < Clients * Pieces && GetTickCount() - start < LoadLimit + 5000) {
            QueryPerformanceCounter(&before);
            if (probe->Send(MakeFrame("KEEP", {})) != 0)
                break;
            QueryPerformanceCounter(&after);
            latencies.push_back(double(after.QuadPart - before.QuadPart) * 1000.0 /
                                double(frequency.QuadPart));
            TEvent pause(true, false);
            pause.WaitFor(20);
        }
    }
    for (std::thread &client : clients)
        client.join();
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(failures.load(), 0) << Log.Text();
    EXPECT_EQ(finished.load(), Clients * Pieces) << "pieces done within " << LoadLimit << " ms";
    EXPECT_EQ(differing.load(), 0);
    ASSERT_FALSE(latencies.empty());
    std::sort(latencies.begin(), latencies.end());
    const double p50 = latencies[latencies.size() / 2];
    const double p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
    std::printf("[ info ] %d clients x %d pieces in %lu ms; keep-alive round trip over %u samples: "
                "median %.2f ms, 99th percentile %.2f ms\n",
                Clients, Pieces, static_cast<unsigned long>(elapsed), unsigned(latencies.size()), p50, p99);
    EXPECT_TRUE(WaitForCount(0));
}

std::size_t PagefileUsage() {
    PROCESS_MEMORY_COUNTERS counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PagefileUsage;
}

// Connect, log in and close, a thousand times: the server's threads all end and its memory
// stays where it was after a warm-up.
TEST_F(NetServer, LoadConnectCloseCyclesLeaveThreadsAndMemoryStable) {
    StartServer();
    for (int i = 0; i < 20; ++i)
        LoggedInClient();
    ASSERT_TRUE(WaitForCount(0));
    const std::size_t before = PagefileUsage();
    const DWORD start = GetTickCount();
    int cycles = 0;
    for (; cycles < 1000 && GetTickCount() - start < LoadLimit; ++cycles) {
        auto client = LoggedInClient();
    }
    const DWORD elapsed = GetTickCount() - start;
    ASSERT_TRUE(WaitForCount(0)) << Listener->ThreadCount() << " threads left";
    const std::size_t after = PagefileUsage();
    std::printf("[ info ] %d connect/close cycles in %lu ms; memory %+lld KiB\n", cycles,
                static_cast<unsigned long>(elapsed),
                (static_cast<long long>(after) - static_cast<long long>(before)) / 1024);
    // A thousand take about 40 s under emulation; a machine busy elsewhere may get fewer done
    // within the limit, which still shows whether anything stays behind.
    EXPECT_GE(cycles, 250) << "cycles done within " << LoadLimit << " ms";
    EXPECT_LT(static_cast<long long>(after) - static_cast<long long>(before), 4ll << 20);
}

} // namespace
