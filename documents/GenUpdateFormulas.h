// Bringing the public formula collection up to date: a worker thread fetches the formula
// database's index and one archive (or one file) over HTTP into a temporary file, and the dialog
// "Update Public Formulas" shows its progress and the remaining time, then hands the file to the
// formula installer.
//
// The HTTP client is a small one of its own over winsock (HTTP/1.0, plain "http://" addresses,
// no proxy). Every wait on the network is a 100 ms step that checks the thread's terminated flag,
// so that a cancelled download ends within a fraction of a second even while the server trickles;
// a server silent for ReceiveTimeout ends the download, and nothing larger than the caps is
// accepted.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Classes.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "GenClasses.h"
#include "StdCtrls.h"

class TProgressBarControl;

DECLARE_EXCEPTION(EDownloadFormulasError, Exception);

// The formula database server: its index is BaseAddress + "/formuladb-v3.txt". The default is the
// collection's public server; tests point it at their own.
std::string GetFormulaDatabaseAddress();
void SetFormulaDatabaseAddress(const std::string &BaseAddress);

// The archive address of update kind 0-3 from the index text: lines trimmed, empty lines dropped,
// fewer than 4 raise EDownloadFormulasError "Formula database URL not found"; for kind 3 every
// "%s" (any letter case) becomes SingleFile.
std::string ReadDatabaseList(const std::string &Index, int Kind, const std::string &SingleFile);

// The status line of a download in State (0-3) with the fraction Progress received after Elapsed
// milliseconds ("Connecting...", "Downloading formulas (45 seconds remaining)..." and so on);
// empty for the states 2 and 3, which the dialog handles itself.
std::string DownloadStatusText(int State, double Progress, std::uint32_t Elapsed);

class TDownloadFormulasThread : public TGeneralThread {
public:
    static constexpr std::uint8_t dsConnecting = 0, dsDownloading = 1, dsDone = 2, dsFailed = 3;

    TDownloadFormulasThread();
    ~TDownloadFormulasThread() override;
    DECLARE_CLASS_NAME(TDownloadFormulasThread)

    std::string TempFileName;
    std::uint8_t Kind = 0;
    std::string SingleFile;
    // Set before Start: the server, the longest silence of the server in milliseconds, and the
    // largest index and archive accepted in bytes.
    std::string ServerAddress = GetFormulaDatabaseAddress();
    std::uint32_t ReceiveTimeout = 30000;
    std::uint32_t IndexCap = 64 * 1024;
    std::uint32_t ArchiveCap = 256u * 1024 * 1024;

    // Takes the start time and runs the thread.
    void Start();
    std::uint8_t GetState();
    double GetProgress();
    std::string GetMessage();
    std::uint32_t GetElapsed();

protected:
    void DoExecute() override;

private:
    friend class THttpTransfer;
    void SetTotal(std::int64_t Total);
    void SetReceived(std::int64_t Received);
    void SetState(std::uint8_t State, const std::string &Message);

    double FProgress = 0;
    std::unique_ptr<TCriticalSection> FLock;
    std::int64_t FTotal = 0;
    std::uint32_t FStartTick = 0;
    bool FStarted = false;
    std::uint8_t FState = dsConnecting;
    std::string FMessage;
};

using TDownloadFormulasThreadObject = TJoinedThread<TDownloadFormulasThread>;

class TUpdateFormulasForm : public TForm {
public:
    DECLARE_CLASS_NAME(TUpdateFormulasForm)
    explicit TUpdateFormulasForm(TComponent *AOwner);
    ~TUpdateFormulasForm() override;

    TLabel *IntroLabel;
    TLabel *LastUpdateLabel;
    TLabel *QuestionLabel;
    TRadioButton *WeeklyRadio;
    TRadioButton *MonthlyRadio;
    TRadioButton *FullRadio;
    TRadioButton *SingleRadio;
    TLabel *StatusLabel;
    TProgressBarControl *ProgressBar;
    TButton *OkButton;
    TButton *CancelButton;
    TTimer *DownloadTimer;

    std::string TempFileName;
    std::string SingleFile;

    void SetSingleFile(const std::string &FileName);
    void OkButtonClick(TObject *Sender);
    void DownloadTimerTimer(TObject *Sender);
    void StartDownload();
    void UpdateStatus();
    void ShowLastUpdate();
    // The running download, nullptr before the start and after its end.
    TDownloadFormulasThread *Thread() const { return FThread.get(); }

private:
    void FormCreate();
    void FormDestroy();
    void Arrange();
    void StopThread();
    TLabel *AddLabel(const std::string &Caption, int Top, int Height);
    TRadioButton *AddRadio(const std::string &Caption);
    std::unique_ptr<TDownloadFormulasThreadObject> FThread;
    bool FSingle = false; // the single-file option was chosen for the running download
};

// The dialog, modal; SingleFile offers that one file (empty: the collection only).
void ShowUpdateFormulas(const std::string &SingleFile = std::string());
