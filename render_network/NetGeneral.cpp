#include "NetGeneral.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cassert>
#include <cstring>

#include <zlib.h>

#include "GenProgram.h"

// The Win32 header maps SendMessage to SendMessageA; here it is the connection's own.
#undef SendMessage

namespace {

struct TSocketErrorText {
    int Code;
    const char *Text;
};

constexpr TSocketErrorText SocketErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

constexpr const char *TimedOutText = "Timed out waiting for message";
constexpr const char *ClosedText = "Connection closed";

[[noreturn]] void RaiseLastSocketError() {
    throw ESocketError(WSAGetLastError());
}

SOCKET AsSocket(TSocketHandle Handle) {
    return static_cast<SOCKET>(Handle);
}

// select() on one socket for reading; true when readable.
bool SelectReadable(TSocketHandle Handle, std::uint32_t Timeout) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(AsSocket(Handle), &set);
    timeval wait;
    wait.tv_sec = long(Timeout / 1000);
    wait.tv_usec = long(Timeout % 1000) * 1000;
    const int result = select(0, &set, nullptr, nullptr, &wait);
    if (result == SOCKET_ERROR)
        RaiseLastSocketError();
    return result > 0;
}

void PutUInt32(std::uint8_t *Bytes, std::uint32_t Value) {
    for (int i = 0; i < 4; ++i)
        Bytes[i] = std::uint8_t(Value >> (8 * i));
}

std::uint32_t GetUInt32At(const std::uint8_t *Bytes) {
    return std::uint32_t(Bytes[0]) | std::uint32_t(Bytes[1]) << 8 | std::uint32_t(Bytes[2]) << 16 |
           std::uint32_t(Bytes[3]) << 24;
}

std::string TagText(TFrameTag Tag) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const char c = char(Tag >> (8 * i));
        text += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text;
}

bool WinsockStarted = false;

} // namespace

ESocketError::ESocketError(int ACode) : Exception(GetSocketErrorText(ACode)), Code(ACode) {}

std::string GetSocketErrorText(int Code) {
    for (const TSocketErrorText &entry : SocketErrorTexts)
        if (entry.Code == Code)
            return entry.Text;
    return Format("Socket error %d.", Code);
}

std::string GetNetworkErrorText(std::uint32_t Code) {
    switch (TFailReason(Code)) {
    case TFailReason::None:
        return "No error.";
    case TFailReason::Protocol:
        return "Internal protocol error.";
    case TFailReason::Version:
        return "This version of Orbisk Vantel is not supported by the server.";
    case TFailReason::Address:
        return "The IP address of this computer is not accepted by the server.";
    case TFailReason::Password:
        return "Invalid password.";
    default:
        return "Unknown error.";
    }
}

std::uint32_t ProgramMajorVersion() {
    if (TProgramInformation *information = ProgramInformation())
        return std::uint32_t(information->Version->Major);
    // Without the program's modules (tests) the version resource is read here.
    static const std::uint32_t major = std::uint32_t(TProgramInformation().Version->Major);
    return major;
}

void InitializeNetGeneral() {
    WSADATA data;
    WinsockStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void FinalizeNetGeneral() {
    if (WinsockStarted)
        WSACleanup();
    WinsockStarted = false;
}

// ---------------------------------------------------------------------------------------------
// TTcpSocket

TTcpSocket::~TTcpSocket() {
    Close();
}

void TTcpSocket::Connect(const std::string &Host, std::uint16_t Port) {
    Close();
    FShutdown.store(false);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *found = nullptr;
    const std::string service = IntToStr(Port);
    const int error = getaddrinfo(Host.c_str(), service.c_str(), &hints, &found);
    if (error != 0 || !found)
        throw ESocketError(error ? error : WSAHOST_NOT_FOUND);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        freeaddrinfo(found);
        RaiseLastSocketError();
    }
    if (connect(s, found->ai_addr, int(found->ai_addrlen)) == SOCKET_ERROR) {
        const int code = WSAGetLastError();
        freeaddrinfo(found);
        closesocket(s);
        throw ESocketError(code);
    }
    freeaddrinfo(found);
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof(noDelay));
    FHandle = TSocketHandle(s);
}

void TTcpSocket::Close() {
    {
        TScopeLock<TCriticalSection> guard(FHandleLock);
        if (FHandle != InvalidSocket) {
            closesocket(AsSocket(FHandle));
            FHandle = InvalidSocket;
        }
    }
    FBuffer.clear();
    FBufferStart = 0;
}

void TTcpSocket::Shutdown() {
    FShutdown.store(true);
    TScopeLock<TCriticalSection> guard(FHandleLock);
    if (FHandle != InvalidSocket)
        shutdown(AsSocket(FHandle), SD_BOTH);
}

bool TTcpSocket::WaitReadable(std::uint32_t Timeout) {
    if (FBufferStart < FBuffer.size())
        return true;
    // The wait goes in short steps: a shutdown from another thread does not wake select on
    // every socket stack, so the flag it sets is looked at between the steps.
    constexpr std::uint32_t Step = 200;
    const std::uint32_t start = GetTickCount();
    for (;;) {
        if (FShutdown.load() || FHandle == InvalidSocket)
            throw EConnectionClosed(WSAENOTSOCK, ClosedText);
        const std::uint32_t elapsed = GetTickCount() - start;
        const std::uint32_t remaining = elapsed < Timeout ? Timeout - elapsed : 0;
        // A time of 0 still polls once.
        if (SelectReadable(FHandle, std::min(remaining, Step)))
            return true;
        if (remaining <= Step)
            return false;
    }
}

std::int32_t TTcpSocket::ReadSome(void *Buffer, std::int32_t Count, std::uint32_t Timeout) {
    if (Count <= 0)
        return 0;
    if (FBufferStart >= FBuffer.size()) {
        if (!WaitReadable(Timeout))
            throw EConnectionClosed(WSAETIMEDOUT, TimedOutText);
        // Fill the buffer with what has arrived, up to 64 KiB: frames come in many small pieces.
        FBuffer.resize(65536);
        FBufferStart = 0;
        const int received =
            recv(AsSocket(FHandle), reinterpret_cast<char *>(FBuffer.data()), int(FBuffer.size()), 0);
        if (received == 0) {
            FBuffer.clear();
            throw EConnectionClosed(0, ClosedText);
        }
        if (received == SOCKET_ERROR) {
            FBuffer.clear();
            RaiseLastSocketError();
        }
        FBuffer.resize(std::size_t(received));
    }
    const std::size_t take = std::min(std::size_t(Count), FBuffer.size() - FBufferStart);
    std::memcpy(Buffer, FBuffer.data() + FBufferStart, take);
    FBufferStart += take;
    if (FBufferStart >= FBuffer.size()) {
        FBuffer.clear();
        FBufferStart = 0;
    }
    return std::int32_t(take);
}

void TTcpSocket::WriteAll(const void *Buffer, std::int32_t Count) {
    if (FHandle == InvalidSocket)
        throw EConnectionClosed(WSAENOTSOCK, ClosedText);
    const char *bytes = static_cast<const char *>(Buffer);
    while (Count > 0) {
        const int sent = send(AsSocket(FHandle), bytes, Count, 0);
        if (sent == SOCKET_ERROR)
            RaiseLastSocketError();
        bytes += sent;
        Count -= sent;
    }
}

namespace {
bool GetPeer(TSocketHandle Handle, sockaddr_in &Address) {
    int size = sizeof(Address);
    return Handle != InvalidSocket &&
           getpeername(AsSocket(Handle), reinterpret_cast<sockaddr *>(&Address), &size) == 0;
}
} // namespace

std::string TTcpSocket::PeerAddress() const {
    sockaddr_in address{};
    if (!GetPeer(FHandle, address))
        return std::string();
    const std::uint8_t *octets = reinterpret_cast<const std::uint8_t *>(&address.sin_addr);
    return Format("%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
}

std::uint16_t TTcpSocket::PeerPort() const {
    sockaddr_in address{};
    return GetPeer(FHandle, address) ? ntohs(address.sin_port) : 0;
}

std::string TTcpSocket::PeerHostName() const {
    sockaddr_in address{};
    if (!GetPeer(FHandle, address))
        return std::string();
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<sockaddr *>(&address), sizeof(address), host, sizeof(host), nullptr, 0,
                    0) != 0)
        return PeerAddress();
    return host;
}

// ---------------------------------------------------------------------------------------------
// TTcpListener

TTcpListener::~TTcpListener() {
    Close();
}

void TTcpListener::Listen(const std::string &Address, std::uint16_t Port) {
    Close();
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(Port);
    if (inet_pton(AF_INET, Address.c_str(), &local.sin_addr) != 1)
        throw ESocketError(WSAEINVAL);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        RaiseLastSocketError();
    if (bind(s, reinterpret_cast<sockaddr *>(&local), sizeof(local)) == SOCKET_ERROR ||
        listen(s, SOMAXCONN) == SOCKET_ERROR) {
        const int code = WSAGetLastError();
        closesocket(s);
        throw ESocketError(code);
    }
    FHandle = TSocketHandle(s);
}

void TTcpListener::Close() {
    if (FHandle != InvalidSocket) {
        closesocket(AsSocket(FHandle));
        FHandle = InvalidSocket;
    }
}

std::uint16_t TTcpListener::LocalPort() const {
    sockaddr_in local{};
    int size = sizeof(local);
    if (FHandle == InvalidSocket ||
        getsockname(AsSocket(FHandle), reinterpret_cast<sockaddr *>(&local), &size) != 0)
        return 0;
    return ntohs(local.sin_port);
}

TSocketHandle TTcpListener::Accept(std::uint32_t Timeout) {
    const TSocketHandle handle = FHandle;
    if (handle == InvalidSocket)
        return InvalidSocket;
    try {
        if (!SelectReadable(handle, Timeout))
            return InvalidSocket;
    } catch (const ESocketError &) {
        return InvalidSocket; // closed while waiting
    }
    SOCKET peer = accept(AsSocket(handle), nullptr, nullptr);
    if (peer == INVALID_SOCKET)
        return InvalidSocket;
    BOOL noDelay = TRUE;
    setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay), sizeof(noDelay));
    return TSocketHandle(peer);
}

// ---------------------------------------------------------------------------------------------
// Frame rules

TFrameRule GetFrameRule(TFrameTag Tag) {
    switch (Tag) {
    case FrameTag::Good:
    case FrameTag::Stop:
    case FrameTag::KeepAlive:
    case FrameTag::Call:
        return {8, false, true};
    case FrameTag::Fail:
    case FrameTag::Request:
        return {12, false, true};
    case FrameTag::Connect:
    case FrameTag::AuthRequest:
    case FrameTag::Auth:
        return {24, false, true};
    case FrameTag::Parameters:
        return {ParametersFixedSize, true, true};
    case FrameTag::Calc:
        return {FrameHeaderSize, true, true};
    case FrameTag::Status:
        return {StatusFixedSize, true, true};
    default:
        return {FrameHeaderSize, false, false};
    }
}

std::string CheckFrameHeader(TFrameTag Tag, std::uint32_t Length, bool LoggedIn) {
    const TFrameRule rule = GetFrameRule(Tag);
    if (Length < FrameHeaderSize || Length < rule.FixedSize)
        return Format("Message %s too short (%u bytes)", TagText(Tag), Length);
    if (rule.Known && !rule.Variable && Length != rule.FixedSize)
        return Format("Message %s has the wrong length (%u bytes)", TagText(Tag), Length);
    const std::uint32_t cap = !LoggedIn ? MaxLoginFrameSize : rule.Known ? MaxFrameSize : MaxUnknownFrameSize;
    if (Length > cap)
        return Format("Message %s too long (%u bytes)", TagText(Tag), Length);
    return std::string();
}

std::uint32_t TFrame::GetUInt32(std::uint32_t Offset) const {
    if (std::size_t(Offset) + 4 > FBytes.size())
        return 0;
    return GetUInt32At(FBytes.data() + Offset);
}

const std::uint8_t *TFrame::PayloadFrom(std::uint32_t Offset) const {
    return Offset < FBytes.size() ? FBytes.data() + Offset : nullptr;
}

std::uint32_t TFrame::PayloadSize(std::uint32_t Offset) const {
    return Offset < FBytes.size() ? std::uint32_t(FBytes.size() - Offset) : 0;
}

TParameterFields ReadParameterFields(const TFrame &Frame) {
    TParameterFields fields;
    fields.OffsetX = Frame.GetInt32(8);
    fields.OffsetY = Frame.GetInt32(12);
    fields.Left = Frame.GetInt32(16);
    fields.Top = Frame.GetInt32(20);
    fields.Right = Frame.GetInt32(24);
    fields.Bottom = Frame.GetInt32(28);
    fields.Cached = Frame.GetUInt32(32) == 1;
    fields.TextLength = Frame.GetUInt32(36);
    fields.TextCrc = Frame.GetUInt32(40);
    return fields;
}

// ---------------------------------------------------------------------------------------------
// TNetworkConnection

TNetworkConnection::TNetworkConnection(TTcpSocket *AConnection) : FConnection(AConnection) {}

void TNetworkConnection::SendMessage(TFrameTag Tag, const void *Fixed, std::uint32_t FixedLength,
                                     const void *Payload, std::uint32_t PayloadLength) {
    assert(FixedLength >= FrameHeaderSize);
    if (!Payload)
        PayloadLength = 0;
    std::vector<std::uint8_t> frame(FixedLength + PayloadLength);
    PutUInt32(frame.data(), Tag);
    PutUInt32(frame.data() + 4, FixedLength + PayloadLength);
    if (Fixed && FixedLength > FrameHeaderSize)
        std::memcpy(frame.data() + FrameHeaderSize,
                    static_cast<const std::uint8_t *>(Fixed) + FrameHeaderSize,
                    FixedLength - FrameHeaderSize);
    if (PayloadLength > 0)
        std::memcpy(frame.data() + FixedLength, Payload, PayloadLength);
    TScopeLock<TNetworkConnection> guard(*this);
    // One write per frame: a frame leaves in as few packets as the stack allows.
    FConnection->WriteAll(frame.data(), std::int32_t(frame.size()));
    FLastActivity = GetTickCount();
}

namespace {
// The fixed part of a frame under construction; the header is filled by SendMessage.
template <std::uint32_t Size> struct TFixed {
    std::uint8_t Bytes[Size] = {};
    void Put(std::uint32_t Offset, std::uint32_t Value) { PutUInt32(Bytes + Offset, Value); }
};
} // namespace

void TNetworkConnection::SendGood() {
    SendMessage(FrameTag::Good, nullptr, 8, nullptr, 0);
}

void TNetworkConnection::SendFail(std::uint32_t Code) {
    TFixed<12> fixed;
    fixed.Put(8, Code);
    SendMessage(FrameTag::Fail, fixed.Bytes, 12, nullptr, 0);
}

void TNetworkConnection::SendConnect(std::uint32_t MajorVersion) {
    TFixed<24> fixed;
    std::memcpy(fixed.Bytes + 8, ClientTag, 8);
    fixed.Put(16, MajorVersion);
    fixed.Put(20, ProtocolVersion);
    SendMessage(FrameTag::Connect, fixed.Bytes, 24, nullptr, 0);
}

void TNetworkConnection::SendAuthRequest(const TDigestBytes &Challenge) {
    TFixed<24> fixed;
    std::memcpy(fixed.Bytes + 8, Challenge.data(), 16);
    SendMessage(FrameTag::AuthRequest, fixed.Bytes, 24, nullptr, 0);
}

void TNetworkConnection::SendAuth(const TDigestBytes &Response) {
    TFixed<24> fixed;
    std::memcpy(fixed.Bytes + 8, Response.data(), 16);
    SendMessage(FrameTag::Auth, fixed.Bytes, 24, nullptr, 0);
}

void TNetworkConnection::SendParameters(const TParameterFields &Fields, const void *Payload,
                                        std::uint32_t PayloadLength) {
    TFixed<ParametersFixedSize> fixed;
    fixed.Put(8, std::uint32_t(Fields.OffsetX));
    fixed.Put(12, std::uint32_t(Fields.OffsetY));
    fixed.Put(16, std::uint32_t(Fields.Left));
    fixed.Put(20, std::uint32_t(Fields.Top));
    fixed.Put(24, std::uint32_t(Fields.Right));
    fixed.Put(28, std::uint32_t(Fields.Bottom));
    fixed.Put(32, Fields.Cached ? 1 : 0);
    fixed.Put(36, Fields.TextLength);
    fixed.Put(40, Fields.TextCrc);
    SendMessage(FrameTag::Parameters, fixed.Bytes, ParametersFixedSize, Payload, PayloadLength);
}

void TNetworkConnection::SendCalc(const void *Payload, std::uint32_t PayloadLength) {
    SendMessage(FrameTag::Calc, nullptr, 8, Payload, PayloadLength);
}

void TNetworkConnection::SendRequest(bool WithData) {
    TFixed<12> fixed;
    fixed.Put(8, WithData ? 0xFFFFFFFFu : 0);
    SendMessage(FrameTag::Request, fixed.Bytes, 12, nullptr, 0);
}

void TNetworkConnection::SendStatus(bool Done, const void *Payload, std::uint32_t PayloadLength, double Rate,
                                    double Progress) {
    if (!Payload)
        PayloadLength = 0;
    TFixed<StatusFixedSize> fixed;
    const double progress = std::clamp(Progress, 0.0, 1.0);
    const double rate = std::clamp(Rate, 0.0, 4294967295.0);
    const double whole = double(std::uint32_t(rate));
    fixed.Put(8, std::uint32_t(progress * 1000 + 0.5));
    fixed.Put(12, std::uint32_t(whole));
    fixed.Put(16, std::min(std::uint32_t((rate - whole) * 1000), 999u));
    fixed.Put(20, Done ? 0xFFFFFFFFu : 0);
    fixed.Put(24, PayloadLength);
    SendMessage(FrameTag::Status, fixed.Bytes, StatusFixedSize, Payload, PayloadLength);
}

void TNetworkConnection::SendStop() {
    SendMessage(FrameTag::Stop, nullptr, 8, nullptr, 0);
}

void TNetworkConnection::SendKeepAlive() {
    SendMessage(FrameTag::KeepAlive, nullptr, 8, nullptr, 0);
}

void TNetworkConnection::SendCall() {
    SendMessage(FrameTag::Call, nullptr, 8, nullptr, 0);
}

void TNetworkConnection::ReadExact(void *Buffer, std::int32_t Count) {
    std::uint8_t *bytes = static_cast<std::uint8_t *>(Buffer);
    while (Count > 0) {
        const std::int32_t got = FConnection->ReadSome(bytes, Count, FReadTimeout);
        bytes += got;
        Count -= got;
    }
}

TFrame TNetworkConnection::ReadMessage(std::int32_t Wait) {
    if (Wait != NoWait && !FConnection->WaitReadable(std::uint32_t(std::max(Wait, 0))))
        throw EConnectionClosed(WSAETIMEDOUT, TimedOutText);
    TScopeLock<TNetworkConnection> guard(*this);
    std::uint8_t header[FrameHeaderSize];
    ReadExact(header, FrameHeaderSize);
    const TFrameTag tag = GetUInt32At(header);
    const std::uint32_t length = GetUInt32At(header + 4);
    const std::string violation = CheckFrameHeader(tag, length, FLoggedIn);
    if (!violation.empty()) {
        // The stream cannot be resynchronised after a bad length: the connection ends here.
        FConnection->Close();
        throw EFrameError(0, violation);
    }
    // The body grows with what actually arrives, so a peer that announces a large frame and then
    // sends nothing holds at most one step of memory.
    constexpr std::uint32_t Step = 1u << 20;
    std::vector<std::uint8_t> bytes(header, header + FrameHeaderSize);
    std::uint32_t have = FrameHeaderSize;
    while (have < length) {
        const std::uint32_t part = std::min(length - have, Step);
        bytes.resize(have + part);
        ReadExact(bytes.data() + have, std::int32_t(part));
        have += part;
    }
    FLastActivity = GetTickCount();
    return TFrame(std::move(bytes));
}

std::uint32_t TNetworkConnection::CheckReply(const TFrame &Frame) {
    switch (Frame.Tag()) {
    case FrameTag::Fail:
        return Frame.GetUInt32(8);
    case FrameTag::Good:
        return 0;
    default:
        return 1;
    }
}

std::uint32_t TNetworkConnection::ReadReply() {
    return CheckReply(ReadMessage(NoWait));
}

TFrame TNetworkConnection::ReadNonCall() {
    for (;;) {
        TFrame frame = ReadMessage(NoWait);
        if (frame.Tag() != FrameTag::Call)
            return frame;
    }
}

std::uint32_t TNetworkConnection::ReadReplySkipCalls() {
    return CheckReply(ReadNonCall());
}

TStatusReply TNetworkConnection::ReadStatus() {
    TStatusReply reply;
    const TFrame frame = ReadNonCall();
    if (frame.Tag() != FrameTag::Status) {
        reply.Result = frame.Tag() == FrameTag::Fail ? frame.GetUInt32(8) : 1;
        return reply;
    }
    reply.Progress = frame.GetUInt32(8) / 1000.0;
    reply.Rate = frame.GetUInt32(12) + frame.GetUInt32(16) / 1000.0;
    reply.Done = frame.GetUInt32(20) != 0;
    const std::uint32_t size = std::min(frame.GetUInt32(24), frame.PayloadSize(StatusFixedSize));
    if (size >= 1) {
        const std::uint8_t *data = frame.PayloadFrom(StatusFixedSize);
        reply.Data.assign(data, data + size);
    }
    return reply;
}

bool TNetworkConnection::WaitForCall(std::int32_t Wait) {
    try {
        return ReadMessage(Wait).Tag() == FrameTag::Call;
    } catch (const EFrameError &) {
        throw; // a broken stream is not silence
    } catch (const EConnectionClosed &) {
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// zlib

std::string DeflateData(const void *Data, std::size_t Size) {
    uLongf bound = compressBound(uLong(Size));
    std::string out(bound, '\0');
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &bound, static_cast<const Bytef *>(Data),
                  uLong(Size), Z_DEFAULT_COMPRESSION) != Z_OK)
        throw ECompressedDataError("Could not compress data");
    out.resize(bound);
    return out;
}

std::string InflateData(const void *Data, std::size_t Size, std::size_t MaxOutput) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        throw ECompressedDataError("Invalid compressed data");
    std::string out;
    stream.next_in = const_cast<Bytef *>(static_cast<const Bytef *>(Data));
    stream.avail_in = uInt(Size);
    int result = Z_OK;
    char chunk[16384];
    while (result != Z_STREAM_END) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk);
        stream.avail_out = sizeof(chunk);
        result = inflate(&stream, Z_NO_FLUSH);
        const std::size_t produced = sizeof(chunk) - stream.avail_out;
        if ((result != Z_OK && result != Z_STREAM_END) ||
            (result == Z_OK && produced == 0 && stream.avail_in == 0)) {
            inflateEnd(&stream);
            throw ECompressedDataError("Invalid compressed data");
        }
        if (out.size() + produced > MaxOutput) {
            inflateEnd(&stream);
            throw ECompressedDataError("Compressed data too large");
        }
        out.append(chunk, produced);
    }
    inflateEnd(&stream);
    return out;
}
