// The calculation protocol's transport: a small Winsock layer (connected sockets with a receive
// buffer, a loopback-capable listener) and TNetworkConnection, the only place where frames are
// built and parsed. Every frame is an 8-byte header (tag, total length, both little-endian) and
// the tag's fixed fields, then an optional payload.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "GenClasses.h"
#include "NetCommon.h"

// A Winsock failure; Code is the Winsock error number (0 for failures of this layer's own).
class ESocketError : public Exception {
public:
    ESocketError(int ACode, const std::string &Message) : Exception(Message), Code(ACode) {}
    explicit ESocketError(int ACode);
    DECLARE_CLASS_NAME(ESocketError)
    int Code;
};

// The peer closed the connection in order, or stayed silent past a time-out: every caller treats
// both as a lost connection.
DECLARE_EXCEPTION(EConnectionClosed, ESocketError);

// A frame that breaks the framing rules (length below the header or the tag's fixed part, a
// fixed-size tag of another length, a frame beyond the cap). The connection cannot be trusted
// after one: the reader closes the socket before raising.
DECLARE_EXCEPTION(EFrameError, EConnectionClosed);

// Bad or oversized zlib data in a payload.
DECLARE_EXCEPTION(ECompressedDataError, Exception);

// The text of a Winsock error number; "Socket error %d." for numbers without one.
std::string GetSocketErrorText(int Code);
// The text of a FAIL reason code.
std::string GetNetworkErrorText(std::uint32_t Code);

// The major version of this program: what a client announces in CONN and the most a server
// admits.
std::uint32_t ProgramMajorVersion();

// Winsock start and stop, in the program's ordered module list.
void InitializeNetGeneral();
void FinalizeNetGeneral();

// ---------------------------------------------------------------------------------------------
// Sockets

using TSocketHandle = std::uintptr_t;
constexpr TSocketHandle InvalidSocket = ~TSocketHandle(0);

// One TCP socket with a receive buffer. Owns its handle.
class TTcpSocket : public TObject {
public:
    TTcpSocket() = default;
    explicit TTcpSocket(TSocketHandle Handle) : FHandle(Handle) {}
    ~TTcpSocket() override;
    TTcpSocket(const TTcpSocket &) = delete;
    TTcpSocket &operator=(const TTcpSocket &) = delete;
    DECLARE_CLASS_NAME(TTcpSocket)

    // Resolves Host (name or dotted address) and connects; ESocketError on failure. A socket that
    // was connected is closed first.
    void Connect(const std::string &Host, std::uint16_t Port);
    // Closes the socket and drops buffered bytes; safe to call twice and from another thread
    // than a blocked reader (which then fails).
    void Close();
    // Shuts down both directions without releasing the handle; a reader waiting in another
    // thread fails within 200 ms.
    void Shutdown();
    bool Connected() const { return FHandle != InvalidSocket; }
    TSocketHandle Handle() const { return FHandle; }

    // True when a byte can be read without blocking (buffered, or the socket is readable; also
    // at an orderly close, which the next read reports), false after Timeout milliseconds.
    bool WaitReadable(std::uint32_t Timeout);
    // Reads up to Count bytes, waiting at most Timeout milliseconds for the first one.
    // EConnectionClosed at an orderly close or a time-out ("Timed out waiting for message").
    std::int32_t ReadSome(void *Buffer, std::int32_t Count, std::uint32_t Timeout);
    void WriteAll(const void *Buffer, std::int32_t Count);

    std::string PeerAddress() const;
    std::uint16_t PeerPort() const;
    // The reverse lookup of the peer address; the address itself when there is no name.
    std::string PeerHostName() const;

private:
    TSocketHandle FHandle = InvalidSocket;
    // Close and Shutdown may meet from two threads (a server stopping while a client's thread
    // ends): a handle is never shut down after it was closed and possibly reused.
    TCriticalSection FHandleLock;
    std::atomic<bool> FShutdown{false};
    std::vector<std::uint8_t> FBuffer;
    std::size_t FBufferStart = 0;
};

// A listening TCP socket.
class TTcpListener : public TObject {
public:
    TTcpListener() = default;
    ~TTcpListener() override;
    TTcpListener(const TTcpListener &) = delete;
    TTcpListener &operator=(const TTcpListener &) = delete;
    DECLARE_CLASS_NAME(TTcpListener)

    // Binds Address (dotted; "0.0.0.0" for every interface) and Port (0 for a free one) and
    // listens. ESocketError on failure.
    void Listen(const std::string &Address, std::uint16_t Port);
    void Close();
    std::uint16_t LocalPort() const;
    // The next peer, or InvalidSocket when none came within Timeout milliseconds or the
    // listener was closed.
    TSocketHandle Accept(std::uint32_t Timeout);

private:
    TSocketHandle FHandle = InvalidSocket;
};

// ---------------------------------------------------------------------------------------------
// Frames

using TFrameTag = std::uint32_t;
constexpr TFrameTag MakeFrameTag(const char (&Text)[5]) {
    return std::uint32_t(std::uint8_t(Text[0])) | std::uint32_t(std::uint8_t(Text[1])) << 8 |
           std::uint32_t(std::uint8_t(Text[2])) << 16 | std::uint32_t(std::uint8_t(Text[3])) << 24;
}

namespace FrameTag {
constexpr TFrameTag Good = MakeFrameTag("GOOD");
constexpr TFrameTag Fail = MakeFrameTag("FAIL");
constexpr TFrameTag Connect = MakeFrameTag("CONN");
constexpr TFrameTag AuthRequest = MakeFrameTag("RQAU");
constexpr TFrameTag Auth = MakeFrameTag("AUTH");
constexpr TFrameTag Parameters = MakeFrameTag("PARM");
constexpr TFrameTag Calc = MakeFrameTag("CALC");
constexpr TFrameTag Request = MakeFrameTag("RQST");
constexpr TFrameTag Status = MakeFrameTag("STAT");
constexpr TFrameTag Stop = MakeFrameTag("STOP");
constexpr TFrameTag KeepAlive = MakeFrameTag("KEEP");
constexpr TFrameTag Call = MakeFrameTag("CALL");
} // namespace FrameTag

constexpr std::uint32_t FrameHeaderSize = 8;
constexpr std::uint32_t ParametersFixedSize = 44;
constexpr std::uint32_t StatusFixedSize = 28;
constexpr std::uint32_t ProtocolVersion = 5;
constexpr char ClientTag[9] = "OBCLIENT";
// Before login no frame of the protocol is longer than CONN, RQAU and AUTH.
constexpr std::uint32_t MaxLoginFrameSize = 24;
// The largest variable frame (PARM, CALC, STAT).
constexpr std::uint32_t MaxFrameSize = 64u << 20;
// Frames with a tag this layer does not know are read (so that the server can answer them)
// only up to the size of the largest fixed frame.
constexpr std::uint32_t MaxUnknownFrameSize = 24;

// FAIL reason codes.
enum class TFailReason : std::uint32_t {
    None = 0,
    Protocol = 1,
    Version = 2,
    Address = 3,
    Password = 4,
    Parameters = 5,
    Calculation = 6,
    NotCached = 7,
};

// The length rule of a tag: its fixed size and whether a payload may follow. Unknown tags give
// a fixed size of 8 and no payload.
struct TFrameRule {
    std::uint32_t FixedSize;
    bool Variable;
    bool Known;
};
TFrameRule GetFrameRule(TFrameTag Tag);
// Whether a frame header is acceptable, with the reason when not (empty when it is).
std::string CheckFrameHeader(TFrameTag Tag, std::uint32_t Length, bool LoggedIn);

// One received frame: the whole frame, header included.
class TFrame {
public:
    TFrame() = default;
    explicit TFrame(std::vector<std::uint8_t> Bytes) : FBytes(std::move(Bytes)) {}
    TFrameTag Tag() const { return GetUInt32(0); }
    std::uint32_t Length() const { return std::uint32_t(FBytes.size()); }
    const std::uint8_t *Data() const { return FBytes.data(); }
    // A little-endian field; the frame's rule guarantees the fixed fields exist.
    std::uint32_t GetUInt32(std::uint32_t Offset) const;
    std::int32_t GetInt32(std::uint32_t Offset) const { return std::int32_t(GetUInt32(Offset)); }
    // The bytes from Offset to the end (none when Offset lies beyond it).
    const std::uint8_t *PayloadFrom(std::uint32_t Offset) const;
    std::uint32_t PayloadSize(std::uint32_t Offset) const;

private:
    std::vector<std::uint8_t> FBytes;
};

// The fields of PARM after the header.
struct TParameterFields {
    std::int32_t OffsetX = 0;
    std::int32_t OffsetY = 0;
    std::int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool Cached = false;
    std::uint32_t TextLength = 0;
    std::uint32_t TextCrc = 0;
};
TParameterFields ReadParameterFields(const TFrame &Frame);

struct TStatusReply {
    std::uint32_t Result = 0; // 0 for STAT, else the FAIL code or 1
    double Progress = 0;
    double Rate = 0;
    bool Done = false;
    std::vector<std::uint8_t> Data;
};

// One connected socket of the protocol. Sends and reads whole frames under its lock, so a CALL
// sent by a calculation thread never interleaves with the replies of the peer thread.
class TNetworkConnection : public TMultiThreadedObject {
public:
    explicit TNetworkConnection(TTcpSocket *AConnection);
    DECLARE_CLASS_NAME(TNetworkConnection)

    TTcpSocket *Connection() const { return FConnection; }
    std::uint32_t LastActivity() const { return FLastActivity; }
    // After a successful login frames may exceed the login cap.
    void SetLoggedIn(bool Value) { FLoggedIn = Value; }
    bool LoggedIn() const { return FLoggedIn; }
    // The wait of ReadExact for more data (60,000 ms).
    void SetReadTimeout(std::uint32_t Value) { FReadTimeout = Value; }

    void SendMessage(TFrameTag Tag, const void *Fixed, std::uint32_t FixedLength, const void *Payload,
                     std::uint32_t PayloadLength);
    void SendGood();
    void SendFail(std::uint32_t Code);
    void SendConnect(std::uint32_t MajorVersion);
    void SendAuthRequest(const TDigestBytes &Challenge);
    void SendAuth(const TDigestBytes &Response);
    void SendParameters(const TParameterFields &Fields, const void *Payload, std::uint32_t PayloadLength);
    void SendCalc(const void *Payload, std::uint32_t PayloadLength);
    void SendRequest(bool WithData);
    void SendStatus(bool Done, const void *Payload, std::uint32_t PayloadLength, double Rate,
                    double Progress);
    void SendStop();
    void SendKeepAlive();
    void SendCall();

    // One whole frame. Wait is the readability wait in milliseconds before the lock is taken
    // (NoWait for none); silence raises EConnectionClosed. A frame against the length rules
    // closes the socket and raises EFrameError before any of its body is stored.
    static constexpr std::int32_t NoWait = -2;
    TFrame ReadMessage(std::int32_t Wait);
    void ReadExact(void *Buffer, std::int32_t Count);
    static std::uint32_t CheckReply(const TFrame &Frame);
    std::uint32_t ReadReply();
    std::uint32_t ReadReplySkipCalls();
    TStatusReply ReadStatus();
    // True when the frame read within Wait milliseconds is CALL; other frames are dropped, and
    // silence or a lost connection gives false.
    bool WaitForCall(std::int32_t Wait);

private:
    TFrame ReadNonCall();

    TTcpSocket *FConnection;
    std::uint32_t FLastActivity = 0;
    std::uint32_t FReadTimeout = 60000;
    bool FLoggedIn = false;
};

// ---------------------------------------------------------------------------------------------
// zlib streams of the payloads

// One zlib stream at the default level.
std::string DeflateData(const void *Data, std::size_t Size);
// Inflates one zlib stream; raises ECompressedDataError for bad data, and before more than
// MaxOutput bytes would be produced, so a small bomb cannot take memory.
std::string InflateData(const void *Data, std::size_t Size, std::size_t MaxOutput);
