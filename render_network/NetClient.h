// The interactive program's side of network calculation: the network parameter block that
// describes one piece's layer to a server, and TCalculateNetworkThread, a calculation thread that
// sends its pieces to one server instead of calculating them, polls the server and merges the
// returned pixels, statistics and resume state into the local layer.
//
// Pieces and lost servers. A piece goes back to its engine unfinished unless the server's last
// data said it was done: with the resume position of that data when there was one, else as new,
// so a server that vanishes mid-piece never leaves a hole in the image.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "FracCalculate.h"
#include "GenClasses.h"
#include "NetGeneral.h"

class TLayerEngine;

// Client states; their texts are those of ClientStateText.
enum class TClientState : std::uint8_t { NotConnected = 0, Connecting = 1, Connected = 2, Calculating = 3 };
std::string ClientStateText(TClientState State);

// The TCP port a server listens on unless told otherwise.
constexpr std::uint16_t DefaultServerPort = 8691;

// The network parameter block of a piece of Layer: the "parameters" entry (the "network" section,
// then the layer's mapping, formula, colorings and gradient) and one entry per formula source the
// layer uses, named by its file name (blanks as '*'), "::" and the entry name.
std::string WriteNetworkParameters(TLayerEngine &Layer, const TCompute &Piece);
// The CALC payload of a piece: empty without anti-aliasing and without a resume position, else
// one zlib stream (plain samples of the rectangle grown by one column and row when anti-aliased;
// the piece record written as interrupted and its pixels when it has a resume position).
std::string WriteCalculateData(const TCompute &Piece);

class TCalculateNetworkThread : public TCalculateThread {
public:
    // Manager nil: the global calculation manager at the time of use. Created suspended (as every
    // calculation thread): the owner starts it.
    TCalculateNetworkThread(const std::string &AHost, const std::string &APassword, std::uint16_t APort,
                            TCalculateManager *AManager = nullptr);
    ~TCalculateNetworkThread() override;
    DECLARE_CLASS_NAME(TCalculateNetworkThread)

    // From the manager (engine lock held): the current piece goes back soon. The thread itself
    // sends STOP and gives the piece back at its next poll (within 250 ms), so no engine lock is
    // ever waited for here.
    void StopCalculation() override;
    // Ends the thread: stops the piece, leaves the manager and breaks off any wait on the server.
    void Terminate() override;

    double GetRate();
    TClientState GetState();
    std::string GetStatusText();
    TDateTime GetConnectTime();
    const std::string &Host() const { return FHost; }
    std::uint16_t Port() const { return FPort; }
    // The pause between two connection attempts (10,000 ms) and before a connect (300 ms).
    void SetRetryDelay(std::uint32_t Milliseconds) { FRetryDelay = Milliseconds; }
    void SetConnectDelay(std::uint32_t Milliseconds) { FConnectDelay = Milliseconds; }

    // Called in this thread after each change of the state.
    TNotifyEvent OnStateChange;

protected:
    void DoExecute() override;

private:
    enum class TStartResult { Sent, NoPiece, Refused };
    TCalculateManager &Manager() const;
    void SetState(TClientState State, const std::string &Text = std::string());
    void Connect();
    void Disconnect();
    void KeepAlive();
    // Waits for work and calculates a piece when there is one, else keeps the connection alive.
    void TakeWork();
    // False when the connection was lost or a piece refused (the thread disconnects).
    bool CalculatePiece();
    TStartResult StartPiece();
    bool SendPieceParameters(const TParameterFields &Fields, const std::string &Text);
    // False when the status could not be had (the piece ends).
    bool RequestStatus(bool WithData, TStatusReply &Reply);
    void MergeData(const std::vector<std::uint8_t> &Data);
    // Gives the piece back when one is held.
    void ReleasePiece();

    std::unique_ptr<TTcpSocket> FTcpClient;
    std::atomic<bool> FConnected{false};
    std::unique_ptr<TNetworkConnection> FConnection;
    std::string FErrorText;
    std::string FStatusText;
    std::string FHost;
    std::string FPassword;
    double FRate = 0;
    std::uint16_t FPort;
    std::unique_ptr<TLayerStatistics> FSnapshot;
    TDateTime FConnectTime = 0;
    TClientState FState = TClientState::NotConnected;
    std::unique_ptr<TEvent> FStopEvent;
    std::unique_ptr<TCalculateBinding> FBinding;
    std::atomic<bool> FStopRequested{false};
    TCriticalSection FStateLock;
    TCalculateManager *FManager;
    std::atomic<std::uint32_t> FRetryDelay{10000};
    std::atomic<std::uint32_t> FConnectDelay{300};
};
