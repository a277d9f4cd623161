// Loopback sockets and byte-level frame building for the network tests. Frames are built here
// from the published layout, byte by byte, not with the connection's own senders.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "NetGeneral.h"

// Two connected loopback sockets.
struct TSocketPair {
    TSocketPair() {
        TTcpListener listener;
        listener.Listen("127.0.0.1", 0);
        Client.Connect("127.0.0.1", listener.LocalPort());
        const TSocketHandle handle = listener.Accept(20000);
        if (handle == InvalidSocket)
            throw ESocketError(0, "no peer accepted");
        Server = std::make_unique<TTcpSocket>(handle);
    }
    TTcpSocket Client;
    std::unique_ptr<TTcpSocket> Server;
};

using TBytes = std::vector<std::uint8_t>;

inline void AppendU32(TBytes &Bytes, std::uint32_t Value) {
    for (int i = 0; i < 4; ++i)
        Bytes.push_back(std::uint8_t(Value >> (8 * i)));
}

// Tag, the length field as given (by default the real total) and the body.
inline TBytes MakeFrame(const char (&Tag)[5], const TBytes &Body, std::int64_t LengthField = -1) {
    TBytes frame(Tag, Tag + 4);
    AppendU32(frame, LengthField < 0 ? std::uint32_t(8 + Body.size()) : std::uint32_t(LengthField));
    frame.insert(frame.end(), Body.begin(), Body.end());
    return frame;
}

inline TBytes U32Body(std::initializer_list<std::uint32_t> Values) {
    TBytes body;
    for (std::uint32_t v : Values)
        AppendU32(body, v);
    return body;
}

inline TBytes ConnectFrame(std::uint32_t Major, std::uint32_t Protocol = 5, const char *Tag = "OBCLIENT") {
    TBytes body(Tag, Tag + 8);
    AppendU32(body, Major);
    AppendU32(body, Protocol);
    return MakeFrame("CONN", body);
}

inline void SendBytes(TTcpSocket &Socket, const TBytes &Bytes) {
    Socket.WriteAll(Bytes.data(), std::int32_t(Bytes.size()));
}

inline std::string TagOf(const TFrame &Frame) {
    return std::string(reinterpret_cast<const char *>(Frame.Data()), 4);
}

// The formula file of the layer tests.
inline std::string LayerFixtures() {
    return std::string(TEST_DATA_DIR) + "fractal\\data\\FracLayer_fixtures.ofm";
}

// Counts the ends of a layer's runs (they may come on any thread).
struct TFinishCounter {
    std::atomic<int> Finished{0};
    void Finish(TObject *) { ++Finished; }
};
