#include "GenUpdateFormulas.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <mmsystem.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "GenSetup.h"
#include "GenUtils.h"
#include "GenZip.h"
#include "ProgressBars.h"

namespace {

constexpr const char *FormName = "UpdateFormulasForm";
constexpr const char *IndexPath = "/formuladb-v3.txt";
constexpr int StepMs = 100;
constexpr size_t MaxHeaderSize = 16 * 1024;

std::string &DatabaseAddress() {
    static std::string address = "http://formulas.orbiskvantel.net";
    return address;
}

void CloseAfterUpdate(TForm &Form, TModalResult Result) {
    if (Form.Modal())
        Form.SetModalResult(Result);
    else
        Form.Close();
}

} // namespace

std::string GetFormulaDatabaseAddress() {
    return DatabaseAddress();
}

void SetFormulaDatabaseAddress(const std::string &BaseAddress) {
    DatabaseAddress() = BaseAddress;
}

std::string ReadDatabaseList(const std::string &Index, int Kind, const std::string &SingleFile) {
    TStringList lines;
    lines.SetText(Index);
    std::vector<std::string> addresses;
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string line = Trim(lines[i]);
        if (!line.empty())
            addresses.push_back(line);
    }
    if (addresses.size() < 4 || Kind < 0 || Kind > 3)
        throw EDownloadFormulasError("Formula database URL not found");
    std::string address = addresses[Kind];
    if (Kind == 3)
        address = StringReplace(address, "%s", SingleFile, rfReplaceAll | rfIgnoreCase);
    return address;
}

std::string DownloadStatusText(int State, double Progress, std::uint32_t Elapsed) {
    if (State == TDownloadFormulasThread::dsConnecting)
        return "Connecting...";
    if (State != TDownloadFormulasThread::dsDownloading)
        return std::string();
    if (Progress <= 0)
        return "Downloading formulas...";
    const long long remaining = std::llround(Elapsed / Progress) - static_cast<long long>(Elapsed);
    long long seconds = remaining < 0 ? 0 : remaining / 1000;
    // Above ten seconds the estimate is too rough for single seconds.
    if (seconds > 10)
        seconds -= seconds % 5;
    if (seconds < 60) {
        if (seconds == 1)
            return "Downloading formulas (1 second remaining)...";
        return Format("Downloading formulas (%d seconds remaining)...", static_cast<int>(seconds));
    }
    const int minutes = static_cast<int>(seconds / 60);
    if (minutes == 1)
        return "Downloading formulas (1 minute remaining)...";
    return Format("Downloading formulas (%d minutes remaining)...", minutes);
}

// =============================================================================================
// The HTTP client

namespace {

class TSocketHolder {
public:
    TSocketHolder() : FStarted(WSAStartup(MAKEWORD(2, 2), &FData) == 0) {}
    ~TSocketHolder() {
        if (Socket != INVALID_SOCKET)
            closesocket(Socket);
        if (FStarted)
            WSACleanup();
    }
    TSocketHolder(const TSocketHolder &) = delete;
    TSocketHolder &operator=(const TSocketHolder &) = delete;
    bool Started() const { return FStarted; }
    SOCKET Socket = INVALID_SOCKET;

private:
    WSADATA FData;
    bool FStarted;
};

struct TAddress {
    std::string Host;
    std::string Port = "80";
    std::string Path = "/";
};

TAddress ParseAddress(const std::string &Url) {
    const std::string scheme = "http://";
    if (Url.size() <= scheme.size() || !SameText(Url.substr(0, scheme.size()), scheme))
        throw EDownloadFormulasError("Unsupported address: %s", Url);
    TAddress address;
    std::string rest = Url.substr(scheme.size());
    const size_t slash = rest.find('/');
    if (slash != std::string::npos) {
        address.Path = rest.substr(slash);
        rest.resize(slash);
    }
    const size_t colon = rest.find(':');
    if (colon != std::string::npos) {
        address.Port = rest.substr(colon + 1);
        rest.resize(colon);
    }
    address.Host = rest;
    int port = 0;
    if (address.Host.empty() || !TryStrToInt(address.Port, port) || port < 1 || port > 65535)
        throw EDownloadFormulasError("Unsupported address: %s", Url);
    // Blanks and control characters would break the request line.
    for (char &c : address.Path)
        if (static_cast<unsigned char>(c) <= ' ')
            throw EDownloadFormulasError("Unsupported address: %s", Url);
    return address;
}

} // namespace

// One GET into a stream, with the thread's terminated flag, time-out and cap.
class THttpTransfer {
public:
    THttpTransfer(TDownloadFormulasThread &Thread, bool Progress) : FThread(Thread), FProgress(Progress) {}

    void Get(const std::string &Url, TStream &Destination, std::uint32_t Cap) {
        const TAddress address = ParseAddress(Url);
        TSocketHolder holder;
        if (!holder.Started())
            throw EDownloadFormulasError("Windows Sockets are not available.");
        Connect(holder, address);
        const std::string request = "GET " + address.Path + " HTTP/1.0\r\nHost: " + address.Host +
                                    "\r\nUser-Agent: Orbisk Vantel\r\nConnection: close\r\n\r\n";
        Send(holder.Socket, request);
        Receive(holder.Socket, Destination, Cap);
    }

private:
    void CheckTerminated() {
        if (FThread.Terminated())
            throw EAbort("Download cancelled");
    }

    // Waits up to one step for the socket to become readable (or writable); false when the step
    // passed without. The thread's silence budget is counted by the caller.
    static bool WaitStep(SOCKET Socket, bool Write) {
        fd_set set, failed;
        FD_ZERO(&set);
        FD_SET(Socket, &set);
        FD_ZERO(&failed);
        FD_SET(Socket, &failed);
        timeval wait{0, StepMs * 1000};
        const int result = select(0, Write ? nullptr : &set, Write ? &set : nullptr, &failed, &wait);
        if (result == SOCKET_ERROR)
            throw EDownloadFormulasError("Network error %d", WSAGetLastError());
        return result > 0;
    }

    void Connect(TSocketHolder &Holder, const TAddress &Address) {
        addrinfo hints{}, *found = nullptr;
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        if (getaddrinfo(Address.Host.c_str(), Address.Port.c_str(), &hints, &found) != 0 || !found)
            throw EDownloadFormulasError("The server %s was not found.", Address.Host);
        sockaddr_in target;
        std::memcpy(&target, found->ai_addr, sizeof(target));
        freeaddrinfo(found);
        Holder.Socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (Holder.Socket == INVALID_SOCKET)
            throw EDownloadFormulasError("Network error %d", WSAGetLastError());
        u_long nonBlocking = 1;
        ioctlsocket(Holder.Socket, FIONBIO, &nonBlocking);
        if (connect(Holder.Socket, reinterpret_cast<const sockaddr *>(&target), sizeof(target)) ==
                SOCKET_ERROR &&
            WSAGetLastError() != WSAEWOULDBLOCK)
            throw EDownloadFormulasError("Could not connect to %s.", Address.Host);
        for (std::uint32_t waited = 0;; waited += StepMs) {
            CheckTerminated();
            if (WaitStep(Holder.Socket, true))
                break;
            if (waited >= FThread.ReceiveTimeout)
                throw EDownloadFormulasError("The formula server did not answer in time.");
        }
        int error = 0, length = sizeof(error);
        getsockopt(Holder.Socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length);
        if (error != 0)
            throw EDownloadFormulasError("Could not connect to %s.", Address.Host);
    }

    void Send(SOCKET Socket, const std::string &Data) {
        size_t sent = 0;
        std::uint32_t waited = 0;
        while (sent < Data.size()) {
            CheckTerminated();
            const int count = send(Socket, Data.data() + sent, static_cast<int>(Data.size() - sent), 0);
            if (count > 0) {
                sent += count;
                waited = 0;
            } else if (WSAGetLastError() != WSAEWOULDBLOCK)
                throw EDownloadFormulasError("The connection to the formula server was lost.");
            else if (!WaitStep(Socket, true) && (waited += StepMs) >= FThread.ReceiveTimeout)
                throw EDownloadFormulasError("The formula server did not answer in time.");
        }
    }

    void Receive(SOCKET Socket, TStream &Destination, std::uint32_t Cap) {
        std::string header;
        std::vector<char> buffer(16384);
        bool inBody = false;
        std::int64_t length = -1, received = 0;
        std::uint32_t silent = 0;
        for (;;) {
            CheckTerminated();
            if (!WaitStep(Socket, false)) {
                if ((silent += StepMs) >= FThread.ReceiveTimeout)
                    throw EDownloadFormulasError("The formula server did not answer in time.");
                continue;
            }
            const int count = recv(Socket, buffer.data(), static_cast<int>(buffer.size()), 0);
            if (count == SOCKET_ERROR) {
                if (WSAGetLastError() == WSAEWOULDBLOCK)
                    continue;
                throw EDownloadFormulasError("The connection to the formula server was lost.");
            }
            if (count == 0)
                break;
            silent = 0;
            const char *data = buffer.data();
            size_t size = count;
            if (!inBody) {
                header.append(data, size);
                const size_t end = header.find("\r\n\r\n");
                if (end == std::string::npos) {
                    if (header.size() > MaxHeaderSize)
                        throw EDownloadFormulasError("Invalid answer of the formula server.");
                    continue;
                }
                length = ReadHeader(header.substr(0, end));
                if (length > static_cast<std::int64_t>(Cap))
                    throw EDownloadFormulasError("The download is larger than expected.");
                if (FProgress && length >= 0)
                    FThread.SetTotal(length);
                inBody = true;
                const std::string body = header.substr(end + 4);
                header.clear();
                received = Store(Destination, body.data(), body.size(), received, length, Cap);
            } else
                received = Store(Destination, data, size, received, length, Cap);
            if (length >= 0 && received >= length)
                break;
        }
        if (!inBody)
            throw EDownloadFormulasError("Invalid answer of the formula server.");
        if (length >= 0 && received < length)
            throw EDownloadFormulasError("The download ended before it was complete.");
    }

    std::int64_t Store(TStream &Destination, const char *Data, size_t Size, std::int64_t Received,
                       std::int64_t Length, std::uint32_t Cap) {
        if (Length >= 0 && static_cast<std::int64_t>(Size) > Length - Received)
            Size = static_cast<size_t>(Length - Received); // nothing beyond the announced body
        if (Received + static_cast<std::int64_t>(Size) > static_cast<std::int64_t>(Cap))
            throw EDownloadFormulasError("The download is larger than expected.");
        if (Size > 0)
            Destination.WriteBuffer(Data, static_cast<int32_t>(Size));
        Received += Size;
        if (FProgress)
            FThread.SetReceived(Received);
        return Received;
    }

    // The status must be 200; the result is the body's announced length, -1 when none.
    static std::int64_t ReadHeader(const std::string &Header) {
        TStringList lines;
        lines.SetText(Header);
        if (lines.Count() == 0 || lines[0].compare(0, 5, "HTTP/") != 0)
            throw EDownloadFormulasError("Invalid answer of the formula server.");
        const std::string status = lines[0];
        const size_t blank = status.find(' ');
        const std::string answer =
            blank == std::string::npos ? std::string() : Trim(status.substr(blank + 1));
        if (answer.compare(0, 3, "200") != 0)
            throw EDownloadFormulasError("The formula server answered \"%s\".", answer);
        std::int64_t length = -1;
        for (int i = 1; i < lines.Count(); ++i) {
            const std::string line = lines[i];
            const size_t colon = line.find(':');
            if (colon == std::string::npos || !SameText(Trim(line.substr(0, colon)), "Content-Length"))
                continue;
            if (!TryStrToInt64(Trim(line.substr(colon + 1)), length) || length < 0)
                throw EDownloadFormulasError("Invalid answer of the formula server.");
        }
        return length;
    }

    TDownloadFormulasThread &FThread;
    bool FProgress;
};

// =============================================================================================
// TDownloadFormulasThread

TDownloadFormulasThread::TDownloadFormulasThread()
    : TGeneralThread(true), FLock(std::make_unique<TCriticalSection>()) {}

TDownloadFormulasThread::~TDownloadFormulasThread() = default;

void TDownloadFormulasThread::Start() {
    {
        TScopeLock<TCriticalSection> lock(*FLock);
        FStartTick = timeGetTime();
        FStarted = true;
    }
    TGeneralThread::Start();
}

std::uint8_t TDownloadFormulasThread::GetState() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return FState;
}

double TDownloadFormulasThread::GetProgress() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return FProgress;
}

std::string TDownloadFormulasThread::GetMessage() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return FMessage;
}

std::uint32_t TDownloadFormulasThread::GetElapsed() {
    TScopeLock<TCriticalSection> lock(*FLock);
    return FStarted ? timeGetTime() - FStartTick : 0;
}

void TDownloadFormulasThread::SetTotal(std::int64_t Total) {
    TScopeLock<TCriticalSection> lock(*FLock);
    if (FState == dsDownloading)
        FTotal = Total;
}

void TDownloadFormulasThread::SetReceived(std::int64_t Received) {
    TScopeLock<TCriticalSection> lock(*FLock);
    if (FTotal > 0)
        FProgress = static_cast<double>(Received) / static_cast<double>(FTotal);
}

void TDownloadFormulasThread::SetState(std::uint8_t State, const std::string &Message) {
    TScopeLock<TCriticalSection> lock(*FLock);
    FState = State;
    FMessage = Message;
}

void TDownloadFormulasThread::DoExecute() {
    // Every failure, a cancel included, ends in the failed state: nothing leaves the thread.
    try {
        TMemoryStream index;
        THttpTransfer(*this, false).Get(ServerAddress + IndexPath, index, IndexCap);
        const std::string text(static_cast<const char *>(index.Memory()), static_cast<size_t>(index.Size()));
        const std::string address = ReadDatabaseList(text, Kind, SingleFile);
        SetState(dsDownloading, std::string());
        {
            TFileStream file(TempFileName, fmCreate);
            THttpTransfer(*this, true).Get(address, file, ArchiveCap);
        }
        SetState(dsDone, std::string());
    } catch (const std::exception &error) {
        SetState(dsFailed, error.what());
    } catch (...) {
        SetState(dsFailed, "Unknown error");
    }
}

// =============================================================================================
// TUpdateFormulasForm

TUpdateFormulasForm::TUpdateFormulasForm(TComponent *AOwner) : TForm(AOwner) {
    SetName(FormName);
    SetCaption("Update Public Formulas");
    SetBorderStyle(bsDialog);
    SetPosition(poScreenCenter);
    SetClientSize(ScaleForScreenFont(400), ScaleForScreenFont(200));
    IntroLabel =
        AddLabel("Downloads formulas from a public collection on the Internet to the folder for public "
                 "formulas on your computer. You can use this to update your formulas regularly (for "
                 "example every week).",
                 8, 42);
    LastUpdateLabel = AddLabel("", 52, 16);
    QuestionLabel = AddLabel("What do you want to download?", 68, 16);
    SingleRadio = AddRadio("&Only the file ''");
    SingleRadio->SetVisible(false);
    WeeklyRadio = AddRadio("&Weekly update");
    MonthlyRadio = AddRadio("&Monthly update");
    FullRadio = AddRadio("&Full formula collection");
    StatusLabel = AddLabel("", 0, 16);
    ProgressBar = new TProgressBarControl(this);
    ProgressBar->SetParent(this);
    ProgressBar->SetVisible(false);
    OkButton = new TButton(this);
    OkButton->SetParent(this);
    OkButton->SetCaption("OK");
    OkButton->SetDefault(true);
    OkButton->OnClick = MakeNotifyEvent<&TUpdateFormulasForm::OkButtonClick>(this);
    CancelButton = new TButton(this);
    CancelButton->SetParent(this);
    CancelButton->SetCaption("Cancel");
    CancelButton->SetCancel(true);
    CancelButton->SetModalResult(mrCancel);
    DownloadTimer = new TTimer(this);
    DownloadTimer->SetEnabled(false);
    DownloadTimer->SetInterval(100);
    DownloadTimer->SetOnTimer(MakeNotifyEvent<&TUpdateFormulasForm::DownloadTimerTimer>(this));
    FormCreate();
}

TUpdateFormulasForm::~TUpdateFormulasForm() {
    FormDestroy();
}

TLabel *TUpdateFormulasForm::AddLabel(const std::string &Caption, int Top, int Height) {
    auto *label = new TLabel(this);
    label->SetParent(this);
    label->SetAutoSize(false);
    label->SetWordWrap(true);
    label->SetCaption(Caption);
    label->SetBounds(ScaleForScreenFont(12), ScaleForScreenFont(Top), ClientWidth() - ScaleForScreenFont(24),
                     ScaleForScreenFont(Height));
    return label;
}

TRadioButton *TUpdateFormulasForm::AddRadio(const std::string &Caption) {
    auto *radio = new TRadioButton(this);
    radio->SetParent(this);
    radio->SetCaption(Caption);
    radio->SetBounds(ScaleForScreenFont(24), 0, ClientWidth() - ScaleForScreenFont(36),
                     ScaleForScreenFont(17));
    return radio;
}

void TUpdateFormulasForm::FormCreate() {
    TConfigManager *config = ConfigManager();
    if (config) {
        const TFontSetting &font = config->General->Font;
        Font().SetName(font.Name);
        Font().SetSize(font.Size);
        TempFileName = AddTrailingBackslash(config->Folder->System) + "Obdb.tmp";
        config->LoadWindowPlacement(Handle(), FormName, false);
    }
    if (!config || config->Folder->System.empty()) {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        TempFileName = AddTrailingBackslash(temp) + "Obdb.tmp";
    }
    ShowLastUpdate();
}

void TUpdateFormulasForm::FormDestroy() {
    StopThread();
    if (ConfigManager() && HandleAllocated())
        ConfigManager()->SaveWindowPlacement(Handle(), FormName, false);
}

void TUpdateFormulasForm::StopThread() {
    if (FThread) {
        DownloadTimer->SetEnabled(false);
        // The thread sees the flag within one network step; joining it here keeps it from
        // outliving the dialog and the modules it uses.
        FThread.reset();
    }
}

void TUpdateFormulasForm::SetSingleFile(const std::string &FileName) {
    SingleFile = FileName;
    ShowLastUpdate();
}

void TUpdateFormulasForm::Arrange() {
    const int first = SingleRadio->Visible() ? 88 : 68;
    int top = first + 20;
    if (SingleRadio->Visible())
        SingleRadio->SetTop(ScaleForScreenFont(top - 20)), top += 20;
    WeeklyRadio->SetTop(ScaleForScreenFont(top));
    MonthlyRadio->SetTop(ScaleForScreenFont(top + 20));
    const int full = top + 40;
    FullRadio->SetTop(ScaleForScreenFont(full));
    StatusLabel->SetTop(ScaleForScreenFont(full + 40));
    ProgressBar->SetBounds(ScaleForScreenFont(12), ScaleForScreenFont(full + 48),
                           ClientWidth() - ScaleForScreenFont(24), ScaleForScreenFont(16));
    const int buttons = full + 76;
    const int width = ScaleForScreenFont(75), height = ScaleForScreenFont(25);
    CancelButton->SetBounds(ClientWidth() - ScaleForScreenFont(12) - width, ScaleForScreenFont(buttons),
                            width, height);
    OkButton->SetBounds(CancelButton->Left() - ScaleForScreenFont(8) - width, ScaleForScreenFont(buttons),
                        width, height);
    SetClientSize(ClientWidth(), ScaleForScreenFont(buttons + 25 + 8));
}

void TUpdateFormulasForm::ShowLastUpdate() {
    const TConfigManager *config = ConfigManager();
    const double last = config ? config->General->LastFormulaUpdate : 0;
    TRadioButton *selected;
    if (last < 1) {
        LastUpdateLabel->SetCaption("You've never updated your formulas before.");
        selected = FullRadio;
    } else {
        const long long days = std::llround(Date() - last);
        LastUpdateLabel->SetCaption(
            days == 1 ? std::string("You've last updated your formulas 1 day ago.")
                      : Format("You've last updated your formulas %d days ago.", static_cast<int>(days)));
        selected = days < 8 ? WeeklyRadio : days > 30 ? FullRadio : MonthlyRadio;
    }
    SingleRadio->SetVisible(!SingleFile.empty());
    if (!SingleFile.empty()) {
        SingleRadio->SetCaption(Format("&Only the file '%s'", SingleFile));
        selected = SingleRadio;
    }
    selected->SetChecked(true);
    Arrange();
}

void TUpdateFormulasForm::OkButtonClick(TObject *) {
    StartDownload();
}

void TUpdateFormulasForm::StartDownload() {
    for (TControl *control :
         std::initializer_list<TControl *>{QuestionLabel, WeeklyRadio, MonthlyRadio, FullRadio, SingleRadio})
        control->SetEnabled(false);
    OkButton->SetVisible(false);
    StatusLabel->SetTop(FullRadio->Top() + ScaleForScreenFont(28));
    ProgressBar->SetPosition(0);
    ProgressBar->SetVisible(true);
    auto thread = std::make_unique<TDownloadFormulasThreadObject>();
    thread->Kind = FullRadio->Checked() ? 0 : MonthlyRadio->Checked() ? 1 : WeeklyRadio->Checked() ? 2 : 3;
    FSingle = thread->Kind == 3;
    thread->SingleFile = SingleFile;
    thread->TempFileName = TempFileName;
    FThread = std::move(thread);
    FThread->Start();
    DownloadTimer->SetEnabled(true);
    UpdateStatus();
}

void TUpdateFormulasForm::DownloadTimerTimer(TObject *) {
    if (FThread && FThread->GetState() < TDownloadFormulasThread::dsDone)
        DownloadTimer->SetEnabled(true);
    UpdateStatus();
}

void TUpdateFormulasForm::UpdateStatus() {
    if (!FThread)
        return;
    const std::uint8_t state = FThread->GetState();
    const double progress = FThread->GetProgress();
    ProgressBar->SetPosition(static_cast<int>(std::lround(progress * 100)));
    if (state < TDownloadFormulasThread::dsDone) {
        StatusLabel->SetCaption(DownloadStatusText(state, progress, FThread->GetElapsed()));
        return;
    }
    if (state == TDownloadFormulasThread::dsFailed) {
        const std::string message = FThread->GetMessage();
        StopThread();
        ShowInstallerMessage("An error occurred while updating the formulas.\rPlease try again later.\r\r" +
                                 message,
                             mtWarning, {mbOK});
        CloseAfterUpdate(*this, mrCancel);
        return;
    }
    StopThread();
    StatusLabel->SetCaption("Installing formulas...");
    StatusLabel->Repaint();
    BeginWaitCursor();
    try {
        TFormulaInstaller installer;
        if (FSingle)
            installer.InstallSingleFile(TempFileName, SingleFile);
        else
            installer.Install(TempFileName);
        DeleteFile(TempFileName);
        if (!FSingle && ConfigManager())
            ConfigManager()->General->LastFormulaUpdate = Date();
    } catch (const std::exception &error) {
        DeleteFile(TempFileName);
        EndWaitCursor();
        ShowInstallerMessage(error.what(), mtError, {mbOK});
        CloseAfterUpdate(*this, mrCancel);
        return;
    }
    EndWaitCursor();
    CloseAfterUpdate(*this, mrOk);
}

void ShowUpdateFormulas(const std::string &SingleFile) {
    auto form = std::make_unique<TUpdateFormulasForm>(nullptr);
    if (!SingleFile.empty())
        form->SetSingleFile(SingleFile);
    form->ShowModal();
}
