#include "NetConnections.h"

#include <algorithm>

#include "GenProgram.h"
#include "GenSetup.h"

namespace {

TNetworkManager *GlobalNetworkManager = nullptr;

} // namespace

std::string ConnectionDisplayName(const std::string &Host, std::uint16_t Port) {
    return Port == DefaultServerPort ? Host : Format("%s : %d", Host, int(Port));
}

// ---------------------------------------------------------------------------------------------
// TClientConnection

TClientConnection::TClientConnection(const std::string &AHost, const std::string &APassword,
                                     std::uint16_t APort, TCalculateManager *AManager)
    : FCaption(ConnectionDisplayName(AHost, APort)), FHost(AHost), FPassword(APassword), FPort(APort),
      FManager(AManager) {}

TClientConnection::~TClientConnection() {
    StopThread();
}

void TClientConnection::Changed() {
    if (OnChange)
        OnChange(this);
}

void TClientConnection::SetCaption(const std::string &Value) {
    if (Value == FCaption)
        return;
    FCaption = Value;
    Changed();
}

void TClientConnection::SetReconnect(bool Value) {
    if (Value == FReconnect)
        return;
    FReconnect = Value;
    Changed();
}

void TClientConnection::SetActive(bool Value) {
    if (Value == FActive)
        return;
    FActive = Value;
    if (Value)
        StartThread();
    else
        StopThread();
    Changed();
}

void TClientConnection::SetConnection(const std::string &AHost, std::uint16_t APort,
                                      const std::string &APassword) {
    if (AHost == FHost && APort == FPort && APassword == FPassword)
        return;
    StopThread();
    const bool defaultCaption = FCaption == DisplayName();
    FHost = AHost;
    FPort = APort;
    FPassword = APassword;
    if (defaultCaption)
        FCaption = DisplayName();
    if (FActive)
        StartThread();
    Changed();
}

void TClientConnection::StartThread() {
    auto thread = std::make_unique<TJoinedThread<TCalculateNetworkThread>>(FHost, FPassword, FPort, FManager);
    thread->SetRetryDelay(FRetryDelay);
    thread->OnStateChange = MakeNotifyEvent<&TClientConnection::ThreadStateChanged>(this);
    thread->Start();
    FThread = std::move(thread);
}

void TClientConnection::StopThread() {
    if (!FThread)
        return;
    // The thread gives its piece back and leaves the calculation manager before it is joined; a
    // state change it still reports goes nowhere.
    FThread->OnStateChange = nullptr;
    FThread->Terminate();
    FThread.reset();
}

void TClientConnection::ThreadStateChanged(TObject *) {
    if (OnStateChange)
        OnStateChange(this);
}

TClientState TClientConnection::GetState() const {
    return FThread ? FThread->GetState() : TClientState::NotConnected;
}

std::string TClientConnection::GetStatusText() const {
    return FThread ? FThread->GetStatusText() : std::string();
}

TDateTime TClientConnection::GetConnectTime() const {
    return FThread ? FThread->GetConnectTime() : 0;
}

double TClientConnection::GetRate() const {
    return FThread ? FThread->GetRate() : 0.0;
}

// ---------------------------------------------------------------------------------------------
// TNetworkManager

TNetworkManager::TNetworkManager(TNetworkConfiguration *AConfiguration, TCalculateManager *AManager)
    : FConfiguration(AConfiguration), FManager(AManager) {
    if (!FConfiguration)
        return;
    for (int i = 0; i < FConfiguration->GetCount(); ++i) {
        const TNetworkPersistentConnection &stored = *FConfiguration->GetConnection(i);
        if (stored.Host.empty() || stored.Port < 1 || stored.Port > 65535)
            continue;
        CreateConnection(stored.Host, std::uint16_t(stored.Port), stored.Password, true, stored.Enabled,
                         stored.Caption);
    }
}

TNetworkManager::~TNetworkManager() {
    // Every thread ends before the list goes.
    for (auto &connection : FConnections) {
        connection->OnStateChange = nullptr;
        connection->OnChange = nullptr;
    }
    FConnections.clear();
}

TClientConnection &TNetworkManager::CreateConnection(const std::string &Host, std::uint16_t Port,
                                                     const std::string &Password, bool Reconnect, bool Active,
                                                     const std::string &Caption) {
    auto connection = std::make_unique<TClientConnection>(Host, Password, Port, FManager);
    connection->SetReconnect(Reconnect);
    connection->SetActive(Active);
    if (!Caption.empty())
        connection->SetCaption(Caption);
    connection->OnChange = MakeNotifyEvent<&TNetworkManager::ConnectionChanged>(this);
    connection->OnStateChange = MakeNotifyEvent<&TNetworkManager::ConnectionStateChanged>(this);
    FConnections.push_back(std::move(connection));
    return *FConnections.back();
}

int TNetworkManager::AddConnection(const std::string &Host, std::uint16_t Port, bool Reconnect,
                                   const std::string &Password) {
    CreateConnection(Host, Port, Password, Reconnect, true, std::string());
    if (Reconnect)
        SaveConnections();
    Notify();
    return GetCount() - 1;
}

void TNetworkManager::DeleteConnection(int Index) {
    if (Index < 0 || Index >= GetCount())
        throw EListError(Format("List index out of bounds (%d)", Index));
    std::unique_ptr<TClientConnection> connection = std::move(FConnections[std::size_t(Index)]);
    FConnections.erase(FConnections.begin() + Index);
    connection.reset(); // ends its thread
    SaveConnections();
    Notify();
}

void TNetworkManager::MoveConnection(int From, int To) {
    if (From < 0 || From >= GetCount() || To < 0 || To >= GetCount())
        throw EListError(Format("List index out of bounds (%d)", From < 0 || From >= GetCount() ? From : To));
    if (From == To)
        return;
    std::unique_ptr<TClientConnection> connection = std::move(FConnections[std::size_t(From)]);
    FConnections.erase(FConnections.begin() + From);
    FConnections.insert(FConnections.begin() + To, std::move(connection));
    SaveConnections();
    Notify();
}

void TNetworkManager::SaveConnections() {
    if (!FConfiguration)
        return;
    FConfiguration->Clear();
    for (const auto &connection : FConnections)
        if (connection->Reconnect())
            FConfiguration->Add(connection->Caption(), connection->Host(), connection->Active(),
                                connection->Password(), connection->Port());
}

TClientConnection *TNetworkManager::GetConnection(int Index) const {
    if (Index < 0 || Index >= GetCount())
        throw EListError(Format("List index out of bounds (%d)", Index));
    return FConnections[std::size_t(Index)].get();
}

void TNetworkManager::ConnectionChanged(TObject *) {
    SaveConnections();
    Notify();
}

void TNetworkManager::ConnectionStateChanged(TObject *) {
    Notify();
}

TNetworkManager *NetworkManager() {
    return GlobalNetworkManager;
}

void InitializeNetConnections() {
    // A calculation server calculates for others only.
    if (ProgramInformation() && ProgramInformation()->ServerMode)
        return;
    GlobalNetworkManager = new TNetworkManager(ConfigManager() ? ConfigManager()->Network.get() : nullptr);
}

void FinalizeNetConnections() {
    delete GlobalNetworkManager;
    GlobalNetworkManager = nullptr;
}
