// The server side of the calculation protocol: one TServerConnection per client, run in the
// client's own thread; TServerManager, the list of live connections that the server window
// shows; and TServerListener, which accepts clients and runs their threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GenClasses.h"
#include "NetCommon.h"
#include "NetEngine.h"
#include "NetGeneral.h"

class TServerConfiguration;

using TServerLogEvent = TMethod<void(TObject *Sender, const std::string &Line)>;

// Connection states.
enum class TServerState : std::uint8_t { WaitConnect = 0, WaitAuth = 1, Connected = 2, Calculating = 3 };

// Limits of the listening side; tests shorten the times.
struct TServerLimits {
    // Connections at once; a client beyond them is closed at once.
    int MaxConnections = 64;
    // Milliseconds a client may stay silent before it has logged in.
    std::uint32_t LoginTimeout = 30000;
    // Milliseconds a logged-in client may stay silent.
    std::uint32_t IdleTimeout = 300000;
    // The wait of a frame's remaining bytes once its header came.
    std::uint32_t ReadTimeout = 60000;
};

class TServerConnection : public TMultiThreadedObject {
public:
    // Socket is the peer's connected socket, owned by the listening side; Configuration is read
    // under its own lock at every login.
    TServerConnection(TTcpSocket *Socket, TServerConfiguration *Configuration, const TServerLimits &Limits);
    ~TServerConnection() override;
    DECLARE_CLASS_NAME(TServerConnection)

    // The peer thread's loop: reads and answers frames until an error ends it (a lost or
    // closed connection, a broken frame, silence past the time-out, a wrong password).
    [[noreturn]] void Run();

    TServerState GetState();
    void SetState(TServerState Value);
    double GetRate();
    const std::string &Caption() const { return FCaption; }
    TDateTime ConnectTime() const { return FConnectTime; }
    TNetworkConnection &Connection() const { return *FConnection; }
    TServerCalculateEngine &Engine() const { return *FEngine; }
    void Log(const std::string &Text);

    TNotifyEvent OnStateChange;
    TServerLogEvent OnLog;

private:
    // Answers FAIL 1 unless the state is one of the two given; true when it refused.
    bool RefusedIn(TServerState Accepted, TServerState Other = TServerState(0xFF));
    // Runs Action; an error of the work (not of the socket) is answered with FAIL Reason and
    // logged after LogPrefix, and the connection stays usable.
    void AnswerErrors(TFailReason Reason, const char *LogPrefix, const std::function<void()> &Action);
    void HandleFrame(const TFrame &Frame);
    void HandleConnect(const TFrame &Frame);
    void HandleAuth(const TFrame &Frame);
    void HandleParameters(const TFrame &Frame);
    void HandleCalc(const TFrame &Frame);
    void HandleRequest(const TFrame &Frame);
    void HandleStop();
    void CalculationCall(TObject *Sender);
    void CalculationError(TObject *Sender, const std::string &Message);

    std::string FCaption;
    std::unique_ptr<TNetworkConnection> FConnection;
    std::unique_ptr<TServerCalculateEngine> FEngine;
    std::unique_ptr<TNetworkDigest> FDigest;
    TDateTime FConnectTime = 0;
    TServerState FState = TServerState::WaitConnect;
    TServerConfiguration *FConfiguration;
    TServerLimits FLimits;
};

class TServerManager : public TMultiThreadedObject {
public:
    TServerManager(TServerConfiguration *Configuration, const TServerLimits &Limits = TServerLimits());
    ~TServerManager() override;
    DECLARE_CLASS_NAME(TServerManager)

    TServerConnection *AddConnection(TTcpSocket *Socket);
    TServerConnection *FindConnection(TTcpSocket *Socket);
    void RemoveConnection(TTcpSocket *Socket);
    int GetCount();
    TServerConnection *GetConnection(int Index);
    void Log(const std::string &Text);
    const TServerLimits &Limits() const { return FLimits; }

    TNotifyEvent OnListChanged;
    TServerLogEvent OnLog;

private:
    void ConnectionStateChanged(TObject *Sender);
    void ConnectionLog(TObject *Sender, const std::string &Line);

    std::vector<std::unique_ptr<TServerConnection>> FConnections;
    TServerConfiguration *FConfiguration;
    TServerLimits FLimits;
};

class TServerPeerThread;
class TServerAcceptThread;

// Listens on one address and port and runs one thread per accepted client, calling the
// manager's AddConnection, FindConnection + Run and RemoveConnection for each.
class TServerListener : public TObject {
public:
    explicit TServerListener(TServerManager &Manager);
    ~TServerListener() override;
    TServerListener(const TServerListener &) = delete;
    TServerListener &operator=(const TServerListener &) = delete;
    DECLARE_CLASS_NAME(TServerListener)

    // ESocketError when the port cannot be had. Port 0 takes a free one.
    void Start(const std::string &Address, std::uint16_t Port);
    // Closes the listener and every client and waits for their threads.
    void Stop();
    std::uint16_t Port() const { return FListener.LocalPort(); }
    // Client threads still running (finished ones are reaped as new clients come and by Stop).
    int ThreadCount();

private:
    friend class TServerAcceptThread;
    friend class TServerPeerThread;
    void AcceptLoop(TThread &Thread);
    void ServePeer(TTcpSocket &Socket);
    void ReapFinished();

    TServerManager &FManager;
    TTcpListener FListener;
    std::unique_ptr<TServerAcceptThread> FAcceptThread;
    std::vector<std::unique_ptr<TServerPeerThread>> FPeers;
    TCriticalSection FPeersLock;
};
