// The calculation server's window: the program's only window when it is started with "/server".
// It listens for calculation clients, lists the live connections with their state, time and rate,
// and shows the server log (also written to the log file when logging is on).
//
// Threads: the manager reports log lines and list changes in connection and calculation threads;
// the window turns them into posted messages and touches its controls only in its own thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Buttons.h"
#include "ComCtrls.h"
#include "ExtCtrls.h"
#include "Forms.h"
#include "Menus.h"
#include "StdCtrls.h"

class TImageList;
class TLogFile;
class TSystemTray;
class TServerListener;
class TServerManager;

// WParam unused; refreshes the list.
constexpr UINT WM_SERVERLISTCHANGED = WM_USER + 100;
// LParam: a heap copy of the log line (new char[]), freed by the window.
constexpr UINT WM_SERVERLOGLINE = WM_USER + 101;

// The help page of the server window, and the help engine's commands for the contents and the
// index (all through Application->HelpCommand, whose OnHelp the help viewer answers).
constexpr const char *ServerHelpPage = "Html/network/networkservers.html";
constexpr WORD HelpContentsCommand = 11;
constexpr WORD HelpIndexCommand = 261;

// The log memo keeps at most this many lines, the oldest going first.
constexpr int ServerLogLines = 1024;

// "%d:%.2d" of whole hours (not wrapped at 24) and the minutes left over of an elapsed time.
std::string ConnectionTimeText(TDateTime Elapsed);
// The status column's text of a connection state (0 .. 3).
std::string ServerStateText(std::uint8_t State);

class TServerForm : public TForm {
public:
    DECLARE_CLASS_NAME(TServerForm)
    // Starts listening on the Server configuration's port, on every interface unless the
    // configuration's ListenAddress says otherwise. A non-empty Address and a Port of 0 or more
    // replace them (0: a free port). Raises when the port cannot be had. The window becomes the
    // application's main form when there is none (it is then the program's task-bar window), and
    // takes the hand-overs of later server starts when the program has a receiver for them.
    explicit TServerForm(TComponent *AOwner, const std::string &Address = std::string(), int Port = -1);
    ~TServerForm() override;

    TServerManager &Manager() const { return *FManager; }
    std::uint16_t Port() const;
    void UpdateList();
    void UpdateStatusBar();
    void AddLogLine(const std::string &Line);
    // The log's height (at least 30), with the status bar kept directly under the log.
    void SetLogHeight(int Height);
    void WndProc(TMessage &Message) override;

    // To the tray: the window and its task-bar button go, the tray icon comes.
    void HideItemClick(TObject *Sender);
    // Back from the tray: the window shows, the tray icon goes.
    void PopupShowItemClick(TObject *Sender);
    // True while hidden to the tray (stored at the end, restored at the next start).
    bool Taskbar() const { return FTaskbar; }
    // True while the status bar shows an application hint.
    bool ShowingHint() const { return FShowingHint; }
    // A later "/server" start: the running window comes to the front.
    void InstanceHandOver(const std::vector<std::string> &FileNames);
    // The placement's show state read at start (2: maximised); the caller shows the window so.
    int PlacementState() const { return FPlacementState; }

    TListView *List;
    TSplitter *Splitter;
    TMemo *LogMemo;
    TStatusBar *StatusBar;
    TTimer *Timer;
    TMainMenu *MainMenu;
    TPanel *ToolBar;
    TSpeedButton *OptionsButton;
    TSpeedButton *HelpButton;
    TSystemTray *SystemTray;
    TPopupMenu *PopupMenu;
    TMenuItem *HideItem;

private:
    void ManagerListChanged(TObject *Sender);
    void ManagerLog(TObject *Sender, const std::string &Line);
    void TimerTick(TObject *Sender);
    void OptionsClick(TObject *Sender);
    void ClearLogClick(TObject *Sender);
    void ExitClick(TObject *Sender);
    void AboutClick(TObject *Sender);
    void HelpClick(TObject *Sender);
    void ContentsClick(TObject *Sender);
    void IndexClick(TObject *Sender);
    void ApplicationHint(TObject *Sender);
    bool WMSysCommand(WPARAM Command);
    void BuildMenu();
    void BuildToolBar();
    void BuildTray();
    void BuildPanels();

    std::unique_ptr<TLogFile> FLogFile;
    std::unique_ptr<TServerManager> FManager;
    std::unique_ptr<TServerListener> FServer;
    std::unique_ptr<TImageList> FListImages;
    std::string FHostText;
    bool FTaskbar = false;
    bool FShowingHint = false;
    int FPlacementState = 0;
    bool FReceivesHandOvers = false;
};

// The server-mode run routine: the server window as the main form until it closes, then the
// settings are saved.
void RunServer();
