// Frames over a loopback socket pair: the bytes each sender puts on the wire, reading frames that
// arrive split and merged, the length rules, reply classification and the bounded inflater.
#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "NetGeneral.h"
#include "NetTestSupport.h"

namespace {

// Everything the peer has sent, read raw until Count bytes came.
TBytes ReadRaw(TTcpSocket &Socket, std::size_t Count) {
    TBytes bytes(Count);
    std::size_t have = 0;
    while (have < Count)
        have += std::size_t(Socket.ReadSome(bytes.data() + have, std::int32_t(Count - have), 20000));
    return bytes;
}

TEST(NetworkFrames, EverySenderWritesTheTableLayout) {
    TSocketPair pair;
    TNetworkConnection sender(&pair.Client);
    TDigestBytes digest;
    for (int i = 0; i < 16; ++i)
        digest[i] = std::uint8_t(0xA0 + i);
    const TBytes digestBytes(digest.begin(), digest.end());
    TParameterFields fields;
    fields.OffsetX = -3;
    fields.OffsetY = 7;
    fields.Left = 1;
    fields.Top = 2;
    fields.Right = 30;
    fields.Bottom = 40;
    fields.Cached = true;
    fields.TextLength = 1234;
    fields.TextCrc = 0xCBF43926;
    const std::string payload = "xyz";

    struct TCase {
        const char *Name;
        std::function<void()> Send;
        TBytes Expected;
    };
    TBytes connBody = {'O', 'B', 'C', 'L', 'I', 'E', 'N', 'T'};
    AppendU32(connBody, 3);
    AppendU32(connBody, 5);
    TBytes parmBody = U32Body({0xFFFFFFFDu, 7, 1, 2, 30, 40, 1, 1234, 0xCBF43926u});
    parmBody.insert(parmBody.end(), payload.begin(), payload.end());
    TBytes statBody = U32Body({500, 1234, 500, 0xFFFFFFFFu, 3});
    statBody.insert(statBody.end(), payload.begin(), payload.end());
    const std::vector<TCase> cases = {
        {"GOOD", [&] { sender.SendGood(); }, MakeFrame("GOOD", {})},
        {"FAIL", [&] { sender.SendFail(4); }, MakeFrame("FAIL", U32Body({4}))},
        {"CONN", [&] { sender.SendConnect(3); }, MakeFrame("CONN", connBody)},
        {"RQAU", [&] { sender.SendAuthRequest(digest); }, MakeFrame("RQAU", digestBytes)},
        {"AUTH", [&] { sender.SendAuth(digest); }, MakeFrame("AUTH", digestBytes)},
        {"PARM", [&] { sender.SendParameters(fields, payload.data(), 3); }, MakeFrame("PARM", parmBody)},
        {"CALC empty", [&] { sender.SendCalc(nullptr, 0); }, MakeFrame("CALC", {})},
        {"CALC", [&] { sender.SendCalc(payload.data(), 3); }, MakeFrame("CALC", {'x', 'y', 'z'})},
        {"RQST data", [&] { sender.SendRequest(true); }, MakeFrame("RQST", U32Body({0xFFFFFFFFu}))},
        {"RQST", [&] { sender.SendRequest(false); }, MakeFrame("RQST", U32Body({0}))},
        // 0.4996 x 1000 rounds to 500; the rate's thousandths are truncated.
        {"STAT", [&] { sender.SendStatus(true, payload.data(), 3, 1234.5009, 0.4996); },
         MakeFrame("STAT", statBody)},
        {"STOP", [&] { sender.SendStop(); }, MakeFrame("STOP", {})},
        {"KEEP", [&] { sender.SendKeepAlive(); }, MakeFrame("KEEP", {})},
        {"CALL", [&] { sender.SendCall(); }, MakeFrame("CALL", {})},
    };
    for (const TCase &c : cases) {
        c.Send();
        EXPECT_EQ(ReadRaw(*pair.Server, c.Expected.size()), c.Expected) << c.Name;
    }
}

// Three frames sent as one byte run, cut at every odd place, come out whole and in order.
TEST(NetworkFrames, SplitAndMergedBytesGiveWholeFrames) {
    TBytes stream = MakeFrame("GOOD", {});
    const TBytes fail = MakeFrame("FAIL", U32Body({7}));
    TBytes calcBody(5000);
    for (std::size_t i = 0; i < calcBody.size(); ++i)
        calcBody[i] = std::uint8_t(i * 31);
    const TBytes calc = MakeFrame("CALC", calcBody);
    stream.insert(stream.end(), fail.begin(), fail.end());
    stream.insert(stream.end(), calc.begin(), calc.end());

    for (std::size_t chunk :
         {std::size_t(1), std::size_t(3), std::size_t(7), std::size_t(13), stream.size()}) {
        TSocketPair pair;
        TNetworkConnection reader(pair.Server.get());
        reader.SetLoggedIn(true);
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            const std::size_t n = std::min(chunk, stream.size() - at);
            pair.Client.WriteAll(stream.data() + at, std::int32_t(n));
        }
        const TFrame first = reader.ReadMessage(20000);
        EXPECT_EQ(TagOf(first), "GOOD") << chunk;
        EXPECT_EQ(first.Length(), 8u) << "an 8-byte frame has no body";
        const TFrame second = reader.ReadMessage(TNetworkConnection::NoWait);
        EXPECT_EQ(TNetworkConnection::CheckReply(second), 7u) << chunk;
        const TFrame third = reader.ReadMessage(20000);
        ASSERT_EQ(third.Length(), calc.size()) << chunk;
        EXPECT_TRUE(std::equal(calc.begin(), calc.end(), third.Data())) << chunk;
    }
}

// Every header against the rules closes the connection before anything of the body is read.
TEST(NetworkFrames, LengthViolationsCloseTheConnection) {
    struct TCase {
        const char *Tag;
        std::uint32_t Length;
        bool LoggedIn;
    };
    std::vector<TCase> cases;
    for (std::uint32_t length = 0; length < 8; ++length)
        cases.push_back({"CALC", length, true});
    cases.push_back({"CALC", 0xFFFFFFFFu, true});
    cases.push_back({"CALC", MaxFrameSize + 1, true});
    cases.push_back({"STAT", 27, true});  // below the fixed part
    cases.push_back({"PARM", 43, true});  // below the fixed part
    cases.push_back({"GOOD", 12, true});  // fixed size, other length
    cases.push_back({"FAIL", 8, true});   // fixed size, other length
    cases.push_back({"CONN", 28, false}); // fixed size, other length
    cases.push_back({"CALC", 25, false}); // beyond the login cap
    cases.push_back({"PARM", 44, false}); // beyond the login cap
    cases.push_back({"ZZZZ", 100, true}); // unknown tags stay small
    for (const TCase &c : cases) {
        TSocketPair pair;
        TNetworkConnection reader(pair.Server.get());
        reader.SetLoggedIn(c.LoggedIn);
        TBytes header(c.Tag, c.Tag + 4);
        AppendU32(header, c.Length);
        header.resize(header.size() + 64, 0x55);
        SendBytes(pair.Client, header);
        EXPECT_THROW(reader.ReadMessage(20000), EFrameError) << c.Tag << " " << c.Length;
        EXPECT_FALSE(pair.Server->Connected()) << c.Tag << " " << c.Length;
        // The peer sees the close.
        char byte;
        EXPECT_THROW(pair.Client.ReadSome(&byte, 1, 20000), ESocketError) << c.Tag << " " << c.Length;
    }
}

TEST(NetworkFrames, FramesWithinTheRulesAreAccepted) {
    struct TCase {
        const char *Tag;
        std::uint32_t Length;
        bool LoggedIn;
    };
    const TCase cases[] = {{"CONN", 24, false}, {"RQAU", 24, false}, {"KEEP", 8, false}, {"CALC", 8, true},
                           {"PARM", 44, true},  {"STAT", 28, true},  {"ZZZZ", 8, false}, {"ZZZZ", 24, true}};
    for (const TCase &c : cases) {
        TFrameTag tag = 0;
        for (int i = 0; i < 4; ++i)
            tag |= std::uint32_t(std::uint8_t(c.Tag[i])) << (8 * i);
        EXPECT_EQ(CheckFrameHeader(tag, c.Length, c.LoggedIn), "") << c.Tag << " " << c.Length;
    }
}

TEST(NetworkFrames, RepliesAndStatusesAreClassified) {
    TSocketPair pair;
    TNetworkConnection reader(pair.Server.get());
    reader.SetLoggedIn(true);
    // FAIL 0 counts as success, like GOOD; CALL is no reply for ReadReply.
    SendBytes(pair.Client, MakeFrame("FAIL", U32Body({0})));
    EXPECT_EQ(reader.ReadReply(), 0u);
    SendBytes(pair.Client, MakeFrame("CALL", {}));
    EXPECT_EQ(reader.ReadReply(), 1u);
    SendBytes(pair.Client, MakeFrame("CALL", {}));
    SendBytes(pair.Client, MakeFrame("CALL", {}));
    SendBytes(pair.Client, MakeFrame("FAIL", U32Body({3})));
    EXPECT_EQ(reader.ReadReplySkipCalls(), 3u);

    // A data-length field beyond the frame yields only the bytes the frame holds.
    TBytes body = U32Body({250, 77, 125, 0, 1000});
    body.insert(body.end(), {1, 2, 3});
    SendBytes(pair.Client, MakeFrame("CALL", {}));
    SendBytes(pair.Client, MakeFrame("STAT", body));
    TStatusReply status = reader.ReadStatus();
    EXPECT_EQ(status.Result, 0u);
    EXPECT_DOUBLE_EQ(status.Progress, 0.25);
    EXPECT_DOUBLE_EQ(status.Rate, 77.125);
    EXPECT_FALSE(status.Done);
    EXPECT_EQ(status.Data, (TBytes{1, 2, 3}));

    SendBytes(pair.Client, MakeFrame("STAT", U32Body({1000, 0, 0, 0xFFFFFFFFu, 5})));
    status = reader.ReadStatus();
    EXPECT_TRUE(status.Done);
    EXPECT_TRUE(status.Data.empty()) << "no bytes beyond the fixed part";

    SendBytes(pair.Client, MakeFrame("FAIL", U32Body({6})));
    EXPECT_EQ(reader.ReadStatus().Result, 6u);
}

TEST(NetworkFrames, WaitForCallTimesOutAndSkipsOtherFrames) {
    TSocketPair pair;
    TNetworkConnection reader(pair.Server.get());
    EXPECT_FALSE(reader.WaitForCall(50)) << "silence";
    SendBytes(pair.Client, MakeFrame("GOOD", {}));
    EXPECT_FALSE(reader.WaitForCall(20000)) << "another frame is dropped";
    SendBytes(pair.Client, MakeFrame("CALL", {}));
    EXPECT_TRUE(reader.WaitForCall(20000));
    pair.Client.Close();
    EXPECT_FALSE(reader.WaitForCall(20000)) << "a closed connection";
}

TEST(NetworkFrames, SilenceAndCloseRaiseTheConnectionClosedError) {
    TSocketPair pair;
    TNetworkConnection reader(pair.Server.get());
    try {
        reader.ReadMessage(30);
        FAIL() << "no time-out";
    } catch (const EConnectionClosed &e) {
        EXPECT_EQ(e.Message(), "Timed out waiting for message");
    }
    // Half a header, then silence past the read time-out.
    reader.SetReadTimeout(50);
    SendBytes(pair.Client, {'G', 'O'});
    EXPECT_THROW(reader.ReadMessage(20000), EConnectionClosed);
    pair.Client.Close();
    EXPECT_THROW(reader.ReadMessage(20000), EConnectionClosed);
}

TEST(NetworkTexts, ReasonCodesAndSocketErrors) {
    EXPECT_EQ(GetNetworkErrorText(0), "No error.");
    EXPECT_EQ(GetNetworkErrorText(1), "Internal protocol error.");
    EXPECT_EQ(GetNetworkErrorText(2), "This version of Orbisk Vantel is not supported by the server.");
    EXPECT_EQ(GetNetworkErrorText(3), "The IP address of this computer is not accepted by the server.");
    EXPECT_EQ(GetNetworkErrorText(4), "Invalid password.");
    for (std::uint32_t code : {5u, 6u, 7u, 8u, 0xFFFFFFFFu})
        EXPECT_EQ(GetNetworkErrorText(code), "Unknown error.") << code;
    EXPECT_EQ(GetSocketErrorText(10061), "Connection refused.");
    EXPECT_EQ(GetSocketErrorText(10035), "Operation would block. ");
    EXPECT_EQ(GetSocketErrorText(10066), "Directory not empty");
    EXPECT_EQ(GetSocketErrorText(11001), "Host not found.");
    EXPECT_EQ(GetSocketErrorText(10099), "Socket error 10099.");
}

TEST(NetworkSockets, AClosedPortIsRefused) {
    TTcpListener listener;
    listener.Listen("127.0.0.1", 0);
    const std::uint16_t port = listener.LocalPort();
    listener.Close();
    TTcpSocket socket;
    try {
        socket.Connect("127.0.0.1", port);
        FAIL() << "connected to a closed port";
    } catch (const ESocketError &e) {
        EXPECT_EQ(e.Code, 10061);
        EXPECT_EQ(e.Message(), "Connection refused.");
    }
}

TEST(NetworkCompression, RoundTripAndBoundedOutput) {
    std::string text(100000, '\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = char('a' + i % 7);
    const std::string packed = DeflateData(text.data(), text.size());
    EXPECT_EQ(InflateData(packed.data(), packed.size(), text.size()), text);
    EXPECT_THROW(InflateData(packed.data(), packed.size(), text.size() - 1), ECompressedDataError);

    // A bomb: 64 MiB of zeros packed into some 64 KiB never takes more than the cap.
    const std::string zeros(64u << 20, '\0');
    const std::string bomb = DeflateData(zeros.data(), zeros.size());
    EXPECT_LT(bomb.size(), 100000u);
    EXPECT_THROW(InflateData(bomb.data(), bomb.size(), 1u << 20), ECompressedDataError);

    const std::string garbage = "this is no zlib stream";
    EXPECT_THROW(InflateData(garbage.data(), garbage.size(), 1000), ECompressedDataError);
    EXPECT_THROW(InflateData(packed.data(), packed.size() / 2, text.size()), ECompressedDataError)
        << "a cut stream";
}

} // namespace
