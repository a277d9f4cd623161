// The calculation servers the user has configured: one TClientConnection per server, which runs
// a network client thread while it is active, and TNetworkManager, the ordered list of them that
// the network tool window shows and that stores the entries to restore at the next start.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "GenClasses.h"
#include "NetClient.h"

class TCalculateManager;
class TNetworkConfiguration;

// The name of a server in the list: the host alone on the default port, else "host : port".
std::string ConnectionDisplayName(const std::string &Host, std::uint16_t Port);

class TClientConnection : public TObject {
public:
    // Manager nil: the global calculation manager.
    TClientConnection(const std::string &AHost, const std::string &APassword, std::uint16_t APort,
                      TCalculateManager *AManager = nullptr);
    // Stops the thread.
    ~TClientConnection() override;
    TClientConnection(const TClientConnection &) = delete;
    TClientConnection &operator=(const TClientConnection &) = delete;
    DECLARE_CLASS_NAME(TClientConnection)

    const std::string &Caption() const { return FCaption; }
    void SetCaption(const std::string &Value);
    bool Active() const { return FActive; }
    // Starts or ends the entry's client thread.
    void SetActive(bool Value);
    const std::string &Host() const { return FHost; }
    const std::string &Password() const { return FPassword; }
    std::uint16_t Port() const { return FPort; }
    bool Reconnect() const { return FReconnect; }
    void SetReconnect(bool Value);
    // Restarts the thread; a caption that was the old display name becomes the new one.
    void SetConnection(const std::string &AHost, std::uint16_t APort, const std::string &APassword);
    std::string DisplayName() const { return ConnectionDisplayName(FHost, FPort); }

    // The thread's view for the tool window; not connected, empty, 0 without a thread.
    TClientState GetState() const;
    std::string GetStatusText() const;
    TDateTime GetConnectTime() const;
    double GetRate() const;
    TCalculateNetworkThread *Thread() const { return FThread.get(); }
    // The pause between connection attempts of threads started from now on (tests shorten it).
    void SetRetryDelay(std::uint32_t Milliseconds) { FRetryDelay = Milliseconds; }

    TNotifyEvent OnChange;
    // Called in the client thread.
    TNotifyEvent OnStateChange;

protected:
    virtual void Changed();

private:
    void StartThread();
    void StopThread();
    void ThreadStateChanged(TObject *Sender);

    std::string FCaption;
    bool FActive = false;
    std::string FHost;
    std::string FPassword;
    std::uint16_t FPort;
    bool FReconnect = false;
    std::unique_ptr<TCalculateNetworkThread> FThread;
    TCalculateManager *FManager;
    std::uint32_t FRetryDelay = 10000;
};

// Notifies its subscribers (with itself as sender, in whichever thread the change happened) after
// every change of the list, of an entry's settings and of an entry's thread state.
class TNetworkManager : public TMultiThreadedNotificationManager {
public:
    // Loads the stored entries from Configuration (nil: none); each becomes active when it was
    // stored so, with its restore flag on.
    explicit TNetworkManager(TNetworkConfiguration *AConfiguration, TCalculateManager *AManager = nullptr);
    ~TNetworkManager() override;
    DECLARE_CLASS_NAME(TNetworkManager)

    // An active entry; stored when Reconnect is set. Returns its index.
    int AddConnection(const std::string &Host, std::uint16_t Port, bool Reconnect,
                      const std::string &Password);
    void DeleteConnection(int Index);
    void MoveConnection(int From, int To);
    // Stores every entry whose Reconnect is set, in list order.
    void SaveConnections();
    int GetCount() const { return int(FConnections.size()); }
    TClientConnection *GetConnection(int Index) const;

private:
    TClientConnection &CreateConnection(const std::string &Host, std::uint16_t Port,
                                        const std::string &Password, bool Reconnect, bool Active,
                                        const std::string &Caption);
    void ConnectionChanged(TObject *Sender);
    void ConnectionStateChanged(TObject *Sender);

    std::vector<std::unique_ptr<TClientConnection>> FConnections;
    TNetworkConfiguration *FConfiguration;
    TCalculateManager *FManager;
};

// The program's manager (interactive mode only); nil outside its module's start and stop.
TNetworkManager *NetworkManager();
void InitializeNetConnections();
void FinalizeNetConnections();
