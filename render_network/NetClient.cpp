#include "NetClient.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "CompPersistent.h"
#include "FracAntiAlias.h"
#include "FracColoring.h"
#include "FracFormula.h"
#include "FracGradient.h"
#include "FracLayer.h"
#include "FracLayerEngine.h"
#include "FracMapping.h"
#include "FracMethods.h"
#include "FracTransform.h"
#include "GenUtils.h"
#include "NetCache.h"

namespace {

// A status request with data after this many polls of 250 ms when the server sends no CALL.
constexpr int PollsPerRequest = 10;
constexpr std::int32_t PollWait = 250;
// Requests between two with data at first; doubled while a piece progresses slowly.
constexpr int FirstDataInterval = 4;
// Fewer newly done pixels than this between two fetches count as slow progress.
constexpr std::uint32_t SlowProgressPixels = 8;
constexpr std::uint32_t WorkWait = 10000;
constexpr std::uint32_t KeepAliveInterval = 60000;

const char *ImageModeName(std::uint8_t Mode) {
    switch (Mode) {
    case lmColor:
        return "color";
    case lmFloatColor:
        return "floatcolor";
    default:
        return "index";
    }
}

const char *PrecisionName(std::uint8_t Precision) {
    switch (Precision) {
    case 1:
        return "extended";
    case 2:
        return "arbitrary";
    default:
        return "double";
    }
}

std::string EntryBlock(const std::string &Name, const std::string &Body) {
    std::string text = Name + " {\r\n" + Body;
    if (!text.empty() && text.back() != '\n')
        text += "\r\n";
    return text + "}\r\n";
}

// Adds the source entry of a formula object that names both a file and an entry, once per name
// (compared without case).
void AddFormulaEntry(const TFormulaBase &Formula, std::set<std::string> &Names, std::string &Block) {
    if (Formula.GetFileName().empty() || Formula.GetEntryName().empty())
        return;
    std::string fileName = Formula.GetFileName();
    std::replace(fileName.begin(), fileName.end(), ' ', '*');
    const std::string name = fileName + "::" + Formula.GetEntryName();
    if (!Names.insert(LowerCase(name)).second)
        return;
    Block += "\r\n" + EntryBlock(name, Formula.GetSourceText());
}

// The first 33 bytes of the piece data: the piece record. Its rectangle is checked against the
// piece before the record is read into it.
TLayerRect RecordRect(const std::string &Data) {
    auto get = [&](std::size_t Offset) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = value << 8 | std::uint8_t(Data[Offset + std::size_t(i)]);
        return std::int32_t(value);
    };
    return TLayerRect{get(4), get(8), get(12), get(16)};
}

bool SameRect(const TLayerRect &A, const TLayerRect &B) {
    return A.Left == B.Left && A.Top == B.Top && A.Right == B.Right && A.Bottom == B.Bottom;
}

std::size_t MaxPieceDataSize(const TCompute &Piece) {
    const std::int64_t w = Piece.Rect.Right - Piece.Rect.Left + 1, h = Piece.Rect.Bottom - Piece.Rect.Top + 1;
    return std::size_t(std::max<std::int64_t>(w * h * 16 * 2 + 4096, 4096)) + PieceRecordSize +
           StatisticsRecordSize;
}

// Whether the connection-closed family (an orderly close, silence, a broken frame) or another
// failure ended an exchange: the first is shown as a lost connection.
std::string FailureText(const std::exception &Error) {
    if (dynamic_cast<const EConnectionClosed *>(&Error))
        return "Connection lost.";
    return Error.what();
}

} // namespace

std::string ClientStateText(TClientState State) {
    switch (State) {
    case TClientState::Connecting:
        return "Connecting...";
    case TClientState::Connected:
        return "Connected";
    case TClientState::Calculating:
        return "Calculating";
    default:
        return "Not connected";
    }
}

// ---------------------------------------------------------------------------------------------
// Parameter block and calculation data

std::string WriteNetworkParameters(TLayerEngine &Layer, const TCompute &Piece) {
    TMapping &mapping = Layer.GetMapping();
    const TAntiAliasingSettings &antiAliasing = *Piece.AntiAliasing;
    TParWriter writer;
    writer.WriteSection("network");
    writer.WriteInteger("virtualwidth", mapping.GetWidth());
    writer.WriteInteger("virtualheight", mapping.GetHeight());
    writer.WriteInteger("width", Layer.GetImage().Width());
    writer.WriteInteger("height", Layer.GetImage().Height());
    const std::string method = ComputeMethodName(Piece.Method);
    writer.WriteString("method", method.empty() ? "guessing" : method);
    writer.WriteString("format", ImageModeName(Layer.GetImage().Mode()));
    writer.WriteBoolean("aa_enabled", antiAliasing.Enabled);
    if (antiAliasing.Enabled) {
        writer.WriteInteger("aa_depth", antiAliasing.Depth);
        writer.WriteString("aa_subdivisions", antiAliasing.Split3x3 ? "3x3" : "2x2");
        writer.WriteFloat("aa_threshold", antiAliasing.Threshold);
    }
    writer.WriteString("precision", PrecisionName(Layer.GetPrecision()));
    writer.WriteInteger("decimals", Layer.GetDigits());
    writer.WriteBoolean("resumable", Piece.Resume);
    const auto *antiAliased = dynamic_cast<const TComputeAntiAliasing *>(&Piece);
    writer.WriteBoolean("opaque", antiAliased && antiAliased->GetOpaque());
    mapping.WriteParameters(writer, 0);
    Layer.GetFormula().WriteParameters(writer, 0);
    Layer.GetInsideColoring().WriteParameters(writer, 0);
    Layer.GetOutsideColoring().WriteParameters(writer, 0);
    if (auto *layer = dynamic_cast<TLayer *>(&Layer))
        layer->GetGradient().WriteParameters(writer, 3);
    writer.Finish();

    std::string block = EntryBlock("parameters", writer.GetText());
    std::set<std::string> names;
    const TTransformList &transforms = mapping.GetTransformations();
    for (int i = 0; i < transforms.GetCount(); ++i)
        AddFormulaEntry(transforms.GetItem(i), names, block);
    AddFormulaEntry(Layer.GetFormula(), names, block);
    AddFormulaEntry(Layer.GetInsideColoring(), names, block);
    AddFormulaEntry(Layer.GetOutsideColoring(), names, block);
    return block;
}

std::string WriteCalculateData(const TCompute &Piece) {
    const bool antiAliased = Piece.AntiAliasing->Enabled;
    if (!antiAliased && !Piece.Resume)
        return std::string();
    TMemoryStream plain;
    const TLayerRect &r = Piece.Rect;
    if (antiAliased)
        Piece.Image->WriteRect(plain, TLayerRect{r.Left, r.Top, std::min(r.Right + 1, Piece.Image->Width()),
                                                 std::min(r.Bottom + 1, Piece.Image->Height())});
    if (Piece.Resume) {
        // The server continues from the resume position: the record goes out as interrupted
        // whatever state the hand-out gave the piece.
        TCompute &piece = const_cast<TCompute &>(Piece);
        const std::uint8_t state = piece.State;
        piece.State = psInterrupted;
        piece.WriteResumeState(plain);
        piece.State = state;
        if (antiAliased)
            Piece.Image->WriteAntiAliasRect(plain, r);
        else
            Piece.Image->WriteRect(plain, r);
    }
    return DeflateData(plain.Memory(), std::size_t(plain.Size()));
}

// ---------------------------------------------------------------------------------------------
// TCalculateNetworkThread

TCalculateNetworkThread::TCalculateNetworkThread(const std::string &AHost, const std::string &APassword,
                                                 std::uint16_t APort, TCalculateManager *AManager)
    : FHost(AHost), FPassword(APassword), FPort(APort), FManager(AManager) {
    FTcpClient = std::make_unique<TTcpSocket>();
    FConnection = std::make_unique<TNetworkConnection>(FTcpClient.get());
    FSnapshot = std::make_unique<TLayerStatistics>();
    FStopEvent = std::make_unique<TEvent>(true, false);
}

TCalculateNetworkThread::~TCalculateNetworkThread() = default;

TCalculateManager &TCalculateNetworkThread::Manager() const {
    TCalculateManager *manager = FManager ? FManager : CalculateManager();
    if (!manager)
        throw EEngineError("No calculation manager");
    return *manager;
}

void TCalculateNetworkThread::StopCalculation() {
    FStopRequested = true;
    FStopEvent->SetEvent();
}

void TCalculateNetworkThread::Terminate() {
    TCalculateThread::Terminate();
    StopCalculation();
    // A wait for the server's reply ends at once instead of after its time-out, so the piece is
    // given back before the manager re-cuts below.
    FTcpClient->Shutdown();
    if (TCalculateManager *manager = FManager ? FManager : CalculateManager())
        manager->RemoveNetworkThread(this);
}

double TCalculateNetworkThread::GetRate() {
    TScopeLock<TCriticalSection> lock(FStateLock);
    return FState == TClientState::Calculating ? FRate : 0.0;
}

TClientState TCalculateNetworkThread::GetState() {
    TScopeLock<TCriticalSection> lock(FStateLock);
    return FState;
}

std::string TCalculateNetworkThread::GetStatusText() {
    TScopeLock<TCriticalSection> lock(FStateLock);
    return FStatusText;
}

TDateTime TCalculateNetworkThread::GetConnectTime() {
    TScopeLock<TCriticalSection> lock(FStateLock);
    return FConnectTime;
}

void TCalculateNetworkThread::SetState(TClientState State, const std::string &Text) {
    {
        TScopeLock<TCriticalSection> lock(FStateLock);
        if (State == FState && Text == FStatusText)
            return;
        const bool changed = State != FState;
        FState = State;
        FStatusText = Text;
        if (!changed)
            return;
    }
    if (OnStateChange)
        OnStateChange(this);
}

void TCalculateNetworkThread::DoExecute() {
    while (!Terminated()) {
        if (!FConnected) {
            SetState(TClientState::Connecting);
            Connect();
            if (FConnected)
                SetState(TClientState::Connected);
            else
                SetState(TClientState::NotConnected, FErrorText);
        }
        if (FConnected && !Terminated())
            TakeWork();
        if (!FConnected && !Terminated()) {
            FStopEvent->ResetEvent();
            FStopEvent->WaitFor(FRetryDelay);
        }
    }
    if (FConnected)
        Disconnect();
    // Also when a Terminate met a registration in progress.
    if (TCalculateManager *manager = FManager ? FManager : CalculateManager())
        manager->RemoveNetworkThread(this);
}

void TCalculateNetworkThread::TakeWork() {
    TCalculateManager &manager = Manager();
    if (!manager.WaitForWork(this)) {
        // A manager that shuts down hands out nothing more: wait instead of asking again at once.
        if (manager.Terminated())
            FStopEvent->WaitFor(WorkWait);
        KeepAlive();
        return;
    }
    if (Terminated())
        return;
    std::unique_ptr<TCalculateBinding> binding = manager.AcquireWork(this);
    if (!binding) {
        KeepAlive();
        return;
    }
    {
        TScopeLock<TCalculateThread> lock(*this);
        FBinding = std::move(binding);
        // Until the server says otherwise the piece goes back unfinished.
        FBinding->Unfinished = true;
    }
    SetState(TClientState::Calculating);
    bool connected = false;
    try {
        connected = CalculatePiece();
    } catch (const std::exception &error) {
        FErrorText = FailureText(error);
    }
    // The piece goes back before the thread leaves the manager: a re-cut there waits for it.
    ReleasePiece();
    if (connected) {
        SetState(TClientState::Connected);
    } else {
        Disconnect();
        SetState(TClientState::NotConnected,
                 FErrorText.empty() ? std::string("Connection lost.") : FErrorText);
    }
    FErrorText.clear();
}

void TCalculateNetworkThread::Connect() {
    FErrorText.clear();
    try {
        FStopEvent->ResetEvent();
        if (FStopEvent->WaitFor(FConnectDelay) == TEvent::wrSignaled && Terminated())
            return;
        FTcpClient->Connect(FHost, FPort);
        FConnection->SetLoggedIn(false);
        FConnection->SendConnect(ProgramMajorVersion());
        const TFrame frame = FConnection->ReadMessage(TNetworkConnection::NoWait);
        std::uint32_t result;
        if (frame.Tag() == FrameTag::AuthRequest) {
            TNetworkDigest digest;
            TDigestBytes challenge;
            std::memcpy(challenge.data(), frame.Data() + 8, challenge.size());
            digest.SetBytes(challenge);
            digest.ApplyPassword(FPassword);
            FConnection->SendAuth(digest.GetBytes());
            result = FConnection->ReadReply();
        } else {
            result = TNetworkConnection::CheckReply(frame);
        }
        if (result != 0) {
            FErrorText = GetNetworkErrorText(result);
            FTcpClient->Close();
            return;
        }
        FConnection->SetLoggedIn(true);
        {
            TScopeLock<TCriticalSection> lock(FStateLock);
            FConnectTime = Now();
        }
        FConnected = true;
        Manager().AddNetworkThread(this);
        if (Terminated())
            Manager().RemoveNetworkThread(this);
    } catch (const std::exception &error) {
        FErrorText = FailureText(error);
        FTcpClient->Close();
        FConnected = false;
    }
}

void TCalculateNetworkThread::Disconnect() {
    if (TCalculateManager *manager = FManager ? FManager : CalculateManager())
        manager->RemoveNetworkThread(this);
    FTcpClient->Close();
    FConnected = false;
    TScopeLock<TCriticalSection> lock(FStateLock);
    FConnectTime = 0;
}

void TCalculateNetworkThread::KeepAlive() {
    const std::uint32_t now = GetTickCount();
    const std::uint32_t last = FConnection->LastActivity();
    if (FTcpClient->Connected() && now >= last && now - last <= KeepAliveInterval)
        return;
    try {
        FConnection->SendKeepAlive();
        FConnection->ReadReply();
    } catch (const std::exception &) {
        Disconnect();
        SetState(TClientState::NotConnected, "Connection lost.");
    }
}

TCalculateNetworkThread::TStartResult TCalculateNetworkThread::StartPiece() {
    TParameterFields fields;
    std::string text, data;
    {
        TScopeLock<TCalculateThread> lock(*this);
        if (!FBinding || !FBinding->Piece)
            return TStartResult::NoPiece;
        auto *layer = dynamic_cast<TLayerEngine *>(FBinding->Engine);
        if (!layer)
            return TStartResult::NoPiece;
        TCompute &piece = *FBinding->Piece;
        text = WriteNetworkParameters(*layer, piece);
        fields.OffsetX = layer->GetMapping().GetOriginX();
        fields.OffsetY = layer->GetMapping().GetOriginY();
        fields.Left = piece.Rect.Left;
        fields.Top = piece.Rect.Top;
        fields.Right = piece.Rect.Right;
        fields.Bottom = piece.Rect.Bottom;
        data = WriteCalculateData(piece);
        FSnapshot->Reset(piece.Statistics ? piece.Statistics->Total() : 0,
                         piece.Statistics ? piece.Statistics->MaxIter() : 1);
    }
    if (!SendPieceParameters(fields, text))
        return TStartResult::Refused;
    FConnection->SendCalc(data.data(), std::uint32_t(data.size()));
    return FConnection->ReadReplySkipCalls() == 0 ? TStartResult::Sent : TStartResult::Refused;
}

bool TCalculateNetworkThread::SendPieceParameters(const TParameterFields &Fields, const std::string &Text) {
    TParameterFields fields = Fields;
    fields.Cached = true;
    fields.TextLength = std::uint32_t(Text.size());
    fields.TextCrc = TextCrc32(Text);
    FConnection->SendParameters(fields, nullptr, 0);
    std::uint32_t result = FConnection->ReadReplySkipCalls();
    if (result == std::uint32_t(TFailReason::NotCached)) {
        fields.Cached = false;
        const std::string packed = DeflateData(Text.data(), Text.size());
        FConnection->SendParameters(fields, packed.data(), std::uint32_t(packed.size()));
        result = FConnection->ReadReplySkipCalls();
    }
    return result == 0;
}

bool TCalculateNetworkThread::RequestStatus(bool WithData, TStatusReply &Reply) {
    FConnection->SendRequest(WithData);
    Reply = FConnection->ReadStatus();
    if (Reply.Result != 0)
        return false;
    if (Reply.Done && Reply.Data.empty()) {
        FConnection->SendRequest(true);
        Reply = FConnection->ReadStatus();
        if (Reply.Result != 0)
            return false;
    }
    TScopeLock<TCriticalSection> lock(FStateLock);
    FRate = Reply.Rate;
    return true;
}

bool TCalculateNetworkThread::CalculatePiece() {
    switch (StartPiece()) {
    case TStartResult::NoPiece:
        return true;
    case TStartResult::Refused:
        return false;
    case TStartResult::Sent:
        break;
    }
    int polls = 0, requests = 0, interval = FirstDataInterval;
    for (;;) {
        const bool call = FConnection->WaitForCall(PollWait);
        if (FStopRequested) {
            FConnection->SendStop();
            FConnection->ReadReplySkipCalls();
            return true;
        }
        if (++polls < PollsPerRequest && !call)
            continue;
        polls = 0;
        ++requests;
        bool withData = call;
        if (requests >= interval) {
            withData = true;
            requests = 0;
        }
        TStatusReply reply;
        if (!RequestStatus(withData, reply))
            return false;
        if (!reply.Data.empty()) {
            const std::uint32_t before = FSnapshot->Counted();
            MergeData(reply.Data);
            if (FSnapshot->Counted() - before < SlowProgressPixels)
                interval *= 2;
        }
        if (reply.Done)
            return true;
    }
}

void TCalculateNetworkThread::MergeData(const std::vector<std::uint8_t> &Data) {
    TScopeLock<TCalculateThread> lock(*this);
    if (!FBinding || !FBinding->Piece || FStopRequested)
        return;
    TCompute &piece = *FBinding->Piece;
    const std::string plain = InflateData(Data.data(), Data.size(), MaxPieceDataSize(piece));
    if (plain.size() < std::size_t(PieceRecordSize + StatisticsRecordSize) ||
        !SameRect(RecordRect(plain), piece.Rect))
        throw ECompressedDataError("Invalid piece data");
    TStringStream stream(plain);
    // Read into the piece only once the whole record was checked: a refused record leaves the
    // piece as it was.
    piece.ReadResumeState(stream);
    const std::uint8_t restored = piece.State;
    if (piece.Statistics)
        piece.Statistics->MergeRemoteState(*FSnapshot, stream);
    else
        FSnapshot->ReadResumeState(stream);
    if (piece.AntiAliasing->Enabled && piece.Image->HasAntiAliasBuffer())
        piece.Image->ReadAntiAliasRect(stream, piece.Rect);
    else
        piece.Image->ReadRect(stream, piece.Rect);
    piece.Resume = restored == psInterrupted;
    piece.State = psRunning;
    FBinding->Unfinished = restored != psDone;
    if (piece.UpdateRect)
        piece.UpdateRect->AddRect(piece.Rect);
}

void TCalculateNetworkThread::ReleasePiece() {
    std::unique_ptr<TCalculateBinding> binding;
    {
        TScopeLock<TCalculateThread> lock(*this);
        binding = std::move(FBinding);
    }
    // Without the thread's lock: the engine takes its own lock first (engine, then thread).
    if (binding) {
        if (TCalculateManager *manager = FManager ? FManager : CalculateManager())
            manager->ReleaseWork(std::move(binding));
    }
    // A stop meant for this piece may have come up to its release.
    FStopRequested = false;
}
