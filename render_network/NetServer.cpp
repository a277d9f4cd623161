#include "NetServer.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "GenProgram.h"
#include "GenSetup.h"
#include "NetCache.h"

namespace {

std::string TimeStamp() {
    return DateTimeToStr(Now());
}

bool LessCaption(const std::unique_ptr<TServerConnection> &A, const std::unique_ptr<TServerConnection> &B) {
    const std::string &a = A->Caption(), &b = B->Caption();
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
        return std::uint8_t(lower(x)) < std::uint8_t(lower(y));
    });
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TServerConnection

TServerConnection::TServerConnection(TTcpSocket *Socket, TServerConfiguration *Configuration,
                                     const TServerLimits &Limits)
    : FConfiguration(Configuration), FLimits(Limits) {
    FDigest = std::make_unique<TNetworkDigest>();
    FConnection = std::make_unique<TNetworkConnection>(Socket);
    FConnection->SetReadTimeout(Limits.ReadTimeout);
    FEngine = std::make_unique<TServerCalculateEngine>();
    FEngine->OnCall = MakeNotifyEvent<&TServerConnection::CalculationCall>(this);
    FEngine->OnError = MakeEvent<&TServerConnection::CalculationError>(this);
    if (Configuration) {
        TScopeLock<TServerConfiguration> guard(*Configuration);
        FEngine->SetPriority(Configuration->Priority);
    }
    FCaption = Format("%s (%s:%d)", Socket->PeerHostName(), Socket->PeerAddress(), int(Socket->PeerPort()));
    FConnectTime = Now();
}

TServerConnection::~TServerConnection() {
    Log("Disconnected");
    FEngine.reset(); // stops and waits for the calculation thread, which may still send CALL
    FConnection.reset();
    FDigest.reset();
}

TServerState TServerConnection::GetState() {
    TScopeLock<TServerConnection> guard(*this);
    return FState;
}

void TServerConnection::SetState(TServerState Value) {
    {
        TScopeLock<TServerConnection> guard(*this);
        if (FState == Value)
            return;
        FState = Value;
    }
    // Frames beyond the login cap are accepted only from a logged-in client.
    FConnection->SetLoggedIn(Value >= TServerState::Connected);
    if (OnStateChange)
        OnStateChange(this);
}

double TServerConnection::GetRate() {
    return FEngine->GetRate();
}

void TServerConnection::Log(const std::string &Text) {
    if (OnLog)
        OnLog(this, Format("%s - %s: %s.", TimeStamp(), FCaption, Text));
}

void TServerConnection::Run() {
    for (;;) {
        // A client that has not logged in gets a short time; a logged-in one five minutes.
        const std::uint32_t wait =
            GetState() >= TServerState::Connected ? FLimits.IdleTimeout : FLimits.LoginTimeout;
        const TFrame frame = FConnection->ReadMessage(std::int32_t(std::min<std::uint32_t>(wait, INT32_MAX)));
        HandleFrame(frame);
    }
}

bool TServerConnection::RefusedIn(TServerState Accepted, TServerState Other) {
    const TServerState state = GetState();
    if (state == Accepted || state == Other)
        return false;
    FConnection->SendFail(std::uint32_t(TFailReason::Protocol));
    return true;
}

void TServerConnection::AnswerErrors(TFailReason Reason, const char *LogPrefix,
                                     const std::function<void()> &Action) {
    try {
        Action();
    } catch (const ESocketError &) {
        throw; // the connection itself failed: the peer thread ends
    } catch (const Exception &e) {
        FConnection->SendFail(std::uint32_t(Reason));
        Log(LogPrefix + e.Message());
    } catch (const std::bad_alloc &) {
        FConnection->SendFail(std::uint32_t(Reason));
        Log(std::string(LogPrefix) + "Out of memory");
    }
}

void TServerConnection::HandleFrame(const TFrame &Frame) {
    switch (Frame.Tag()) {
    case FrameTag::Connect:
        HandleConnect(Frame);
        break;
    case FrameTag::Auth:
        HandleAuth(Frame);
        break;
    case FrameTag::Parameters:
        HandleParameters(Frame);
        break;
    case FrameTag::Calc:
        HandleCalc(Frame);
        break;
    case FrameTag::Request:
        HandleRequest(Frame);
        break;
    case FrameTag::Stop:
        HandleStop();
        break;
    case FrameTag::KeepAlive:
        FConnection->SendGood();
        break;
    default:
        FConnection->SendFail(std::uint32_t(TFailReason::Protocol));
        break;
    }
}

void TServerConnection::HandleConnect(const TFrame &Frame) {
    if (RefusedIn(TServerState::WaitConnect))
        return;
    if (std::memcmp(Frame.Data() + 8, ClientTag, 8) != 0 || Frame.GetUInt32(16) > ProgramMajorVersion() ||
        Frame.GetUInt32(20) != ProtocolVersion) {
        FConnection->SendFail(std::uint32_t(TFailReason::Version));
        Log("Client version not supported");
        return;
    }
    bool passwordRequired = false, accepted = true;
    if (FConfiguration) {
        TScopeLock<TServerConfiguration> guard(*FConfiguration);
        passwordRequired = FConfiguration->PasswordRequired;
        if (FConfiguration->FilterEnabled) {
            TNetworkAddress address;
            try {
                address.SetText(FConnection->Connection()->PeerAddress());
                accepted = FConfiguration->Filters->Matches(address);
            } catch (const ENetworkError &) {
                accepted = false;
            }
        }
    }
    if (!accepted) {
        FConnection->SendFail(std::uint32_t(TFailReason::Address));
        Log("IP address rejected");
        return;
    }
    if (!passwordRequired) {
        FConnection->SendGood();
        SetState(TServerState::Connected);
        Log("Connected");
        return;
    }
    FDigest->Randomize();
    FConnection->SendAuthRequest(FDigest->GetBytes());
    SetState(TServerState::WaitAuth);
    Log("Requesting authentication");
}

void TServerConnection::HandleAuth(const TFrame &Frame) {
    if (RefusedIn(TServerState::WaitAuth))
        return;
    TNetworkDigest expected;
    expected.SetBytes(FDigest->GetBytes());
    if (FConfiguration) {
        TScopeLock<TServerConfiguration> guard(*FConfiguration);
        expected.ApplyPassword(FConfiguration->Password);
    } else {
        expected.ApplyPassword(std::string());
    }
    TDigestBytes response;
    std::memcpy(response.data(), Frame.Data() + 8, 16);
    if (!expected.Equals(response)) {
        FConnection->SendFail(std::uint32_t(TFailReason::Password));
        SetState(TServerState::WaitConnect);
        Log("Invalid password");
        FConnection->Connection()->Shutdown();
        Abort(); // ends the peer thread without a further log line
    }
    FConnection->SendGood();
    SetState(TServerState::Connected);
    Log("Connected");
}

void TServerConnection::HandleParameters(const TFrame &Frame) {
    if (RefusedIn(TServerState::Connected))
        return;
    AnswerErrors(TFailReason::Parameters, "Error loading parameters: ", [&] {
        const TParameterFields fields = ReadParameterFields(Frame);
        if (fields.TextLength > MaxParameterTextSize)
            throw EServerEngineError("Parameter text too long");
        std::string text;
        bool found = false;
        if (fields.Cached) {
            found = NetworkServerCache().Find(fields.TextCrc, fields.TextLength, text);
        } else {
            // At most one byte beyond the announced length is inflated: enough to see that the
            // stream holds more than it said.
            text = InflateData(Frame.PayloadFrom(ParametersFixedSize), Frame.PayloadSize(ParametersFixedSize),
                               std::size_t(fields.TextLength) + 1);
            if (text.size() != fields.TextLength)
                throw EServerEngineError("Parameter text has the wrong length");
            // The checksum is recomputed: a text stored under a wrong one could later be served
            // to a client that asks for another fractal.
            if (!NetworkServerCache().Add(fields.TextCrc, text))
                throw EServerEngineError("Parameter text does not match its checksum");
            found = true;
        }
        if (!found) {
            FConnection->SendFail(std::uint32_t(TFailReason::NotCached));
            return;
        }
        FEngine->LoadParameters(fields.OffsetX, fields.OffsetY, text,
                                TLayerRect{fields.Left, fields.Top, fields.Right, fields.Bottom});
        FConnection->SendGood();
    });
}

void TServerConnection::HandleCalc(const TFrame &Frame) {
    if (RefusedIn(TServerState::Connected))
        return;
    AnswerErrors(TFailReason::Calculation, "Error starting calculation: ", [&] {
        if (Frame.PayloadSize(FrameHeaderSize) > 0)
            FEngine->LoadCalculateData(Frame.PayloadFrom(FrameHeaderSize),
                                       Frame.PayloadSize(FrameHeaderSize));
        // A piece may finish before the reply is out: holding the frame lock from the start to
        // the GOOD keeps its CALL behind the reply, where the client expects it.
        TScopeLock<TNetworkConnection> frameOrder(*FConnection);
        FEngine->Start();
        SetState(TServerState::Calculating);
        FConnection->SendGood();
    });
}

void TServerConnection::HandleRequest(const TFrame &Frame) {
    if (RefusedIn(TServerState::Connected, TServerState::Calculating))
        return;
    double progress = 0, rate = 0;
    bool done = false;
    FEngine->GetStatus(progress, rate, done);
    if (Frame.GetUInt32(8) != 0) {
        TMemoryStream data;
        FEngine->WriteData(data);
        FConnection->SendStatus(done, data.Memory(), std::uint32_t(data.Size()), rate, progress);
    } else {
        FConnection->SendStatus(done, nullptr, 0, rate, progress);
    }
    if (done)
        SetState(TServerState::Connected);
}

void TServerConnection::HandleStop() {
    if (RefusedIn(TServerState::Calculating))
        return;
    FEngine->Stop();
    FConnection->SendGood();
    SetState(TServerState::Connected);
}

void TServerConnection::CalculationCall(TObject *) {
    try {
        FConnection->SendCall();
    } catch (const ESocketError &) {
        // The peer thread meets the lost connection at its next read.
    }
}

void TServerConnection::CalculationError(TObject *, const std::string &Message) {
    Log("Error while calculating: " + Message);
}

// ---------------------------------------------------------------------------------------------
// TServerManager

TServerManager::TServerManager(TServerConfiguration *Configuration, const TServerLimits &Limits)
    : FConfiguration(Configuration), FLimits(Limits) {}

TServerManager::~TServerManager() {
    TScopeLock<TServerManager> guard(*this);
    FConnections.clear();
}

TServerConnection *TServerManager::AddConnection(TTcpSocket *Socket) {
    TServerConnection *connection;
    {
        TScopeLock<TServerManager> guard(*this);
        auto made = std::make_unique<TServerConnection>(Socket, FConfiguration, FLimits);
        connection = made.get();
        connection->OnStateChange = MakeNotifyEvent<&TServerManager::ConnectionStateChanged>(this);
        connection->OnLog = MakeEvent<&TServerManager::ConnectionLog>(this);
        connection->Log("Incoming connection");
        FConnections.push_back(std::move(made));
        std::stable_sort(FConnections.begin(), FConnections.end(), LessCaption);
    }
    if (OnListChanged)
        OnListChanged(this);
    return connection;
}

TServerConnection *TServerManager::FindConnection(TTcpSocket *Socket) {
    TScopeLock<TServerManager> guard(*this);
    for (const auto &connection : FConnections)
        if (connection->Connection().Connection() == Socket)
            return connection.get();
    return nullptr;
}

void TServerManager::RemoveConnection(TTcpSocket *Socket) {
    std::unique_ptr<TServerConnection> removed;
    {
        TScopeLock<TServerManager> guard(*this);
        auto it = std::find_if(FConnections.begin(), FConnections.end(),
                               [Socket](const auto &c) { return c->Connection().Connection() == Socket; });
        if (it == FConnections.end())
            return;
        removed = std::move(*it);
        FConnections.erase(it);
        // Freed under the lock, as the list's owner frees it; its calculation thread has ended
        // when this returns.
        removed.reset();
    }
    if (OnListChanged)
        OnListChanged(this);
}

int TServerManager::GetCount() {
    TScopeLock<TServerManager> guard(*this);
    return int(FConnections.size());
}

TServerConnection *TServerManager::GetConnection(int Index) {
    TScopeLock<TServerManager> guard(*this);
    if (Index < 0 || Index >= int(FConnections.size()))
        throw EListError("List index out of bounds (%d)", Index);
    return FConnections[std::size_t(Index)].get();
}

void TServerManager::Log(const std::string &Text) {
    if (OnLog)
        OnLog(this, Format("%s: %s.", TimeStamp(), Text));
}

void TServerManager::ConnectionStateChanged(TObject *) {
    if (OnListChanged)
        OnListChanged(this);
}

void TServerManager::ConnectionLog(TObject *, const std::string &Line) {
    if (OnLog)
        OnLog(this, Line);
}

// ---------------------------------------------------------------------------------------------
// TServerListener

class TServerAcceptThread : public TGeneralThread {
public:
    explicit TServerAcceptThread(TServerListener &Owner) : TGeneralThread(true), FOwner(Owner) {}

protected:
    void DoExecute() override { FOwner.AcceptLoop(*this); }

private:
    TServerListener &FOwner;
};

class TServerPeerThread : public TGeneralThread {
public:
    TServerPeerThread(TServerListener &Owner, TSocketHandle Handle)
        : TGeneralThread(true), Socket(Handle), FOwner(Owner) {}
    TTcpSocket Socket;

protected:
    void DoExecute() override { FOwner.ServePeer(Socket); }

private:
    TServerListener &FOwner;
};

TServerListener::TServerListener(TServerManager &Manager) : FManager(Manager) {}

TServerListener::~TServerListener() {
    Stop();
}

void TServerListener::Start(const std::string &Address, std::uint16_t Port) {
    Stop();
    FListener.Listen(Address, Port);
    FAcceptThread = std::make_unique<TJoinedThread<TServerAcceptThread>>(*this);
    FAcceptThread->Start();
}

void TServerListener::Stop() {
    if (FAcceptThread) {
        FAcceptThread->Terminate();
        FAcceptThread.reset(); // waits: the accept wait is short
    }
    FListener.Close();
    std::vector<std::unique_ptr<TServerPeerThread>> peers;
    {
        TScopeLock<TCriticalSection> guard(FPeersLock);
        for (const auto &peer : FPeers)
            peer->Socket.Shutdown(); // wakes the peer's read; the thread then removes itself
        peers.swap(FPeers);
    }
    peers.clear(); // waits for every peer thread
}

int TServerListener::ThreadCount() {
    ReapFinished();
    TScopeLock<TCriticalSection> guard(FPeersLock);
    return int(FPeers.size());
}

void TServerListener::ReapFinished() {
    std::vector<std::unique_ptr<TServerPeerThread>> finished;
    {
        TScopeLock<TCriticalSection> guard(FPeersLock);
        auto it =
            std::stable_partition(FPeers.begin(), FPeers.end(), [](const auto &p) { return !p->Finished(); });
        std::move(it, FPeers.end(), std::back_inserter(finished));
        FPeers.erase(it, FPeers.end());
    }
}

void TServerListener::AcceptLoop(TThread &Thread) {
    // The thread's own flag: the owner's pointer to it is already cleared while Stop waits.
    while (!Thread.Terminated()) {
        const TSocketHandle handle = FListener.Accept(250);
        ReapFinished();
        if (handle == InvalidSocket)
            continue;
        auto peer = std::make_unique<TJoinedThread<TServerPeerThread>>(*this, handle);
        bool room;
        {
            TScopeLock<TCriticalSection> guard(FPeersLock);
            room = int(FPeers.size()) < FManager.Limits().MaxConnections;
        }
        if (!room) {
            FManager.Log(
                Format("Connection from %s refused: too many connections", peer->Socket.PeerAddress()));
            continue; // the socket closes with the unstarted thread object
        }
        TServerPeerThread *started = peer.get();
        {
            TScopeLock<TCriticalSection> guard(FPeersLock);
            FPeers.push_back(std::move(peer));
        }
        started->Start();
    }
}

void TServerListener::ServePeer(TTcpSocket &Socket) {
    // Nothing may escape a thread: every end of a connection is caught here and logged.
    TServerConnection *connection = nullptr;
    try {
        FManager.AddConnection(&Socket);
        connection = FManager.FindConnection(&Socket);
        if (connection)
            connection->Run();
    } catch (const EFrameError &e) {
        if (connection)
            connection->Log("Invalid message: " + e.Message());
    } catch (const EConnectionClosed &) {
        // closed by the client, or silent past the time-out
    } catch (const EAbort &) {
    } catch (const Exception &e) {
        if (connection)
            connection->Log("Connection error: " + e.Message());
    } catch (...) {
        if (connection)
            connection->Log("Connection error");
    }
    try {
        FManager.RemoveConnection(&Socket);
    } catch (...) {
    }
    Socket.Close();
}
