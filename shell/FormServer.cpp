#include "FormServer.h"

#include "HelpHandler.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "FormAbout.h"
#include "FormServerOptions.h"
#include "GenClasses.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "NetClient.h"
#include "NetServer.h"
#include "ShellImages.h"
#include "ShellInstance.h"
#include "SystemTray.h"

namespace {

constexpr const char *ServerFormName = "ServerForm";
constexpr int ColumnWidth = 100;
constexpr int StatusPanelWidth = 200;
constexpr int HintPanelWidth = 500;
constexpr int DefaultLogHeight = 120;
// The image of a connection's row in the list (a connected client).
constexpr int ConnectionImage = 2;

TMenuItem *AddMenuItem(TMenuItem &Parent, const std::string &Caption, const std::string &ShortCut,
                       const std::string &Hint, TNotifyEvent Click = nullptr) {
    auto *item = new TMenuItem(nullptr);
    item->SetCaption(Caption);
    item->SetShortCut(TextToShortCut(ShortCut));
    item->SetHint(Hint);
    item->OnClick = Click;
    Parent.Add(item);
    return item;
}

// The computer's name and the first IPv4 address a look-up of it gives; the name alone when the
// look-up finds none.
std::string HostText() {
    char name[256] = {};
    if (gethostname(name, sizeof(name)) != 0)
        return std::string();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo *found = nullptr;
    std::string address;
    if (getaddrinfo(name, nullptr, &hints, &found) == 0 && found) {
        char text[INET_ADDRSTRLEN] = {};
        const auto *in = reinterpret_cast<const sockaddr_in *>(found->ai_addr);
        if (inet_ntop(AF_INET, const_cast<in_addr *>(&in->sin_addr), text, sizeof(text)))
            address = text;
        freeaddrinfo(found);
    }
    return address.empty() ? std::string(name) : Format("%s (%s)", name, address);
}

TMenuItem *AddSeparator(TMenuItem &Parent) {
    return AddMenuItem(Parent, "-", "", "");
}

void SetCellText(TListItem &Item, int SubItem, const std::string &Text) {
    if (Item.SubItems().Strings(SubItem) != Text)
        Item.SubItems().SetStrings(SubItem, Text);
}

} // namespace

std::string ConnectionTimeText(TDateTime Elapsed) {
    const std::int64_t minutes = std::int64_t(std::floor(double(Elapsed) * 24 * 60 + 1e-7));
    return Format("%d:%.2d", int(minutes / 60), int(minutes % 60));
}

std::string ServerStateText(std::uint8_t State) {
    switch (State) {
    case 0:
        return "Not connected";
    case 1:
        return "Authenticating";
    case 2:
        return "Connected";
    case 3:
        return "Calculating";
    default:
        return std::string();
    }
}

TServerForm::TServerForm(TComponent *AOwner, const std::string &Address, int Port) : TForm(AOwner) {
    SetName(ServerFormName);
    SetCaption("Orbisk Vantel Server");
    SetClientSize(520, 360);
    SetPosition(poScreenCenter);
    // Made before the window, so that the window is an unowned one with a task-bar button.
    if (Application && !Application->MainForm())
        Application->SetMainForm(this);

    MainMenu = new TMainMenu(this);
    BuildMenu();
    SetMenu(MainMenu);
    BuildToolBar();

    // Controls aligned to the bottom are stacked by where their lower edges stand, the lowest
    // lowest: the status bar at the bottom, the log above it, the splitter above the log.
    Splitter = new TSplitter(this);
    Splitter->SetParent(this);
    Splitter->SetAlign(alBottom);
    Splitter->SetHeight(3);
    Splitter->SetMinSize(30);

    LogMemo = new TMemo(this);
    LogMemo->SetParent(this);
    LogMemo->SetAlign(alBottom);
    LogMemo->SetHeight(DefaultLogHeight);
    LogMemo->SetReadOnly(true);
    LogMemo->SetScrollBars(ssBoth);
    LogMemo->SetWordWrap(false);

    StatusBar = new TStatusBar(this);
    StatusBar->SetParent(this);
    StatusBar->SetAlign(alBottom);
    StatusBar->SetTop(10000);

    List = new TListView(this);
    List->SetParent(this);
    List->SetAlign(alClient);
    List->SetViewStyle(vsReport);
    List->SetReadOnly(true);
    List->SetRowSelect(true);
    FListImages = LoadImageStrip("SERVER_IMAGES");
    List->SetSmallImages(FListImages.get());
    for (const char *caption : {"Address", "Status", "Time", "Pixels/sec"})
        List->AddColumn(caption, ColumnWidth);

    Timer = new TTimer(this);
    Timer->SetEnabled(false);
    Timer->SetInterval(2500);
    Timer->SetOnTimer(MakeNotifyEvent<&TServerForm::TimerTick>(this));
    BuildTray();

    // 1. Placement, column widths and the log's height.
    TConfigManager *config = ConfigManager();
    HandleNeeded();
    if (config) {
        int state = 0;
        if (config->LoadWindowPlacement(Handle(), ServerFormName, true, &state)) {
            FPlacementState = state;
            SetPosition(poDesigned);
        }
        for (int i = 0; i < List->ColumnCount(); ++i)
            List->Columns(i).Width =
                config->ReadFormInteger(ServerFormName, Format("ListColumn%d", i), ColumnWidth);
        List->UpdateColumns();
        LogMemo->SetHeight(
            std::max(config->ReadFormInteger(ServerFormName, "LogHeight", DefaultLogHeight), 30));
    }
    // 2. Back to the tray when the program ended there.
    if (config && config->ReadFormBool(ServerFormName, "Taskbar", false))
        HideItemClick(this);
    // 3. Hints in the status bar, and later starts handed to this window.
    LogMemo->Lines().Clear();
    if (Application)
        Application->OnHint = MakeNotifyEvent<&TServerForm::ApplicationHint>(this);
    if (TInstanceReceiver *receiver = InstanceReceiver(); receiver && !receiver->Started()) {
        receiver->StartupDone(MakeEvent<&TServerForm::InstanceHandOver>(this));
        FReceivesHandOvers = true;
    }
    BuildPanels();
    FHostText = HostText();

    // 4.-6. The log file, the manager and the listening server.
    TServerConfiguration *configuration = config ? config->Server.get() : nullptr;
    int port = DefaultServerPort;
    std::string listenAddress = "0.0.0.0";
    if (configuration) {
        TScopeLock<TServerConfiguration> lock(*configuration);
        if (configuration->LogEnabled && !configuration->LogFileName.empty()) {
            FLogFile = std::make_unique<TLogFile>(configuration->LogFileName);
            FLogFile->AddEmptyLine();
        }
        port = configuration->Port;
        // Not offered by the options dialog: a server that must serve this computer only (tests
        // on loopback) sets it in the registry.
        config->ReadString("Server", "ListenAddress", listenAddress, "0.0.0.0");
    }
    if (!Address.empty())
        listenAddress = Address;
    if (Port >= 0)
        port = Port;
    FManager = std::make_unique<TServerManager>(configuration);
    FManager->OnListChanged = MakeNotifyEvent<&TServerForm::ManagerListChanged>(this);
    FManager->OnLog = MakeEvent<&TServerForm::ManagerLog>(this);
    FServer = std::make_unique<TServerListener>(*FManager);
    FServer->Start(listenAddress, std::uint16_t(port));
    // 7.
    UpdateList();
    FManager->Log("Server started");
    FManager->Log(Format("Listening on port %d", int(FServer->Port())));
}

TServerForm::~TServerForm() {
    if (FReceivesHandOvers && InstanceReceiver())
        InstanceReceiver()->Detach();
    if (Application && Application->OnHint == MakeNotifyEvent<&TServerForm::ApplicationHint>(this))
        Application->OnHint = nullptr;
    // Every connection ends before the manager that lists them.
    if (FServer)
        FServer->Stop();
    FServer.reset();
    if (FManager) {
        FManager->Log("Server stopped");
        FManager->OnLog = nullptr;
        FManager->OnListChanged = nullptr;
    }
    FManager.reset();
    FLogFile.reset();
    if (TConfigManager *config = ConfigManager()) {
        config->WriteFormBool(ServerFormName, "Taskbar", FTaskbar);
        config->WriteFormInteger(ServerFormName, "LogHeight", LogMemo->Height());
        for (int i = 0; i < List->ColumnCount(); ++i)
            config->WriteFormInteger(ServerFormName, Format("ListColumn%d", i), List->Columns(i).Width);
        if (HandleAllocated())
            config->SaveWindowPlacement(Handle(), ServerFormName, true);
    }
    List->SetSmallImages(nullptr);
    if (Application && Application->MainForm() == this)
        Application->SetMainForm(nullptr);
}

void TServerForm::SetLogHeight(int Height) {
    LogMemo->SetHeight(std::max(Height, 30));
    // A taller log reaches below the status bar's edge: the bar goes back under it.
    StatusBar->SetTop(LogMemo->Top() + LogMemo->Height() + 1);
}

std::uint16_t TServerForm::Port() const {
    return FServer->Port();
}

void TServerForm::BuildMenu() {
    auto *file = new TMenuItem(nullptr);
    file->SetCaption("&File");
    file->SetHint("Contains commands for working with files.");
    MainMenu->Items().Add(file);
    AddMenuItem(*file, "&Options...", "", "Sets security and connection options.",
                MakeNotifyEvent<&TServerForm::OptionsClick>(this));
    AddMenuItem(*file, "&Clear Log", "", "Clears the server log.",
                MakeNotifyEvent<&TServerForm::ClearLogClick>(this));
    AddSeparator(*file);
    HideItem = AddMenuItem(*file, "&Hide", "Ctrl+H", "Minimizes to an icon in the system tray.",
                           MakeNotifyEvent<&TServerForm::HideItemClick>(this));
    AddMenuItem(*file, "E&xit", "Alt+F4", "Closes Orbisk Vantel Server.",
                MakeNotifyEvent<&TServerForm::ExitClick>(this));
    auto *help = new TMenuItem(nullptr);
    help->SetCaption("&Help");
    help->SetHint("Contains commands for displaying help.");
    MainMenu->Items().Add(help);
    AddMenuItem(*help, "&Help", "F1", "Shows context-sensitive help.",
                MakeNotifyEvent<&TServerForm::HelpClick>(this));
    AddMenuItem(*help, "&Contents", "Shift+F1", "Shows an overview of the available help topics.",
                MakeNotifyEvent<&TServerForm::ContentsClick>(this));
    AddMenuItem(*help, "&Index", "Ctrl+F1", "Shows an index containing all help topics.",
                MakeNotifyEvent<&TServerForm::IndexClick>(this));
    AddSeparator(*help);
    AddMenuItem(*help, "&About...", "", "Shows copyright and version information.",
                MakeNotifyEvent<&TServerForm::AboutClick>(this));
}

void TServerForm::BuildToolBar() {
    ToolBar = new TPanel(this);
    ToolBar->SetParent(this);
    ToolBar->SetAlign(alTop);
    ToolBar->SetHeight(28);
    ToolBar->SetBevelOuter(bvNone);
    std::unique_ptr<TBitmap> strip;
    try {
        strip = std::make_unique<TBitmap>();
        strip->LoadFromResourceName(GetModuleHandleA(nullptr), "TOOLBAR_SERVER");
    } catch (const Exception &) {
        strip.reset(); // buttons without pictures show their captions
    }
    struct TButtonInfo {
        const char *Caption;
        const char *Hint;
        TNotifyEvent Click;
    };
    const TButtonInfo buttons[] = {
        {"Options", "Options|Sets security and connection options.",
         MakeNotifyEvent<&TServerForm::OptionsClick>(this)},
        {"Help", "Help (F1)|Shows context-sensitive help.", MakeNotifyEvent<&TServerForm::HelpClick>(this)},
    };
    TSpeedButton *made[2] = {};
    int left = 4;
    for (int i = 0; i < 2; ++i) {
        if (i == 1)
            left += 8; // the separator before Help
        auto *button = new TSpeedButton(this);
        button->SetParent(ToolBar);
        button->SetFlat(true);
        button->SetBounds(left, 3, 23, 22);
        button->SetHint(buttons[i].Hint);
        button->SetShowHint(true);
        button->OnClick = buttons[i].Click;
        if (strip && strip->Width() >= 16 * (i + 1)) {
            TBitmap &glyph = button->Glyph();
            glyph.SetSize(16, 16);
            glyph.Canvas().CopyRect({0, 0, 16, 16}, strip->Canvas(), {16 * i, 0, 16 * i + 16, 16});
            glyph.SetTransparent(true);
        } else {
            button->SetCaption(buttons[i].Caption);
        }
        made[i] = button;
        left += 23;
    }
    OptionsButton = made[0];
    HelpButton = made[1];
}

void TServerForm::BuildTray() {
    PopupMenu = new TPopupMenu(this);
    TMenuItem *show = AddMenuItem(PopupMenu->Items(), "&Show", "", "",
                                  MakeNotifyEvent<&TServerForm::PopupShowItemClick>(this));
    show->SetDefault(true);
    AddMenuItem(PopupMenu->Items(), "E&xit", "", "", MakeNotifyEvent<&TServerForm::ExitClick>(this));
    SystemTray = new TSystemTray(this);
    SystemTray->SetText("Orbisk Vantel Server");
    SystemTray->SetVisible(false);
    SystemTray->SetPopupMenu(PopupMenu);
    SystemTray->OnClick = MakeNotifyEvent<&TServerForm::PopupShowItemClick>(this);
    try {
        SystemTray->LoadIconResource("SERVER_ICON");
    } catch (const Exception &) {
        // the program's own icon stands in
    }
    SystemTray->Loaded();
}

void TServerForm::BuildPanels() {
    StatusBar->BeginUpdate();
    StatusBar->ClearPanels();
    if (FShowingHint) {
        StatusBar->AddPanel("", ScaleForScreenFont(HintPanelWidth));
        StatusBar->Panels(0).Bevel = false;
    } else {
        StatusBar->AddPanel("", ScaleForScreenFont(StatusPanelWidth));
        StatusBar->AddPanel("", ScaleForScreenFont(StatusPanelWidth));
    }
    const int filler = StatusBar->AddPanel("", 0);
    StatusBar->Panels(filler).Bevel = false;
    StatusBar->EndUpdate();
}

void TServerForm::ApplicationHint(TObject *) {
    const std::string &hint = Application->Hint();
    const bool showHint = !hint.empty();
    if (showHint != FShowingHint) {
        FShowingHint = showHint;
        BuildPanels();
    }
    if (showHint)
        StatusBar->SetPanelText(0, " " + hint);
    else
        UpdateStatusBar();
}

void TServerForm::HideItemClick(TObject *) {
    FTaskbar = true;
    SystemTray->HideOwner();
    SystemTray->SetVisible(true);
}

void TServerForm::PopupShowItemClick(TObject *) {
    FTaskbar = false;
    SystemTray->ShowOwner();
    SystemTray->SetVisible(false);
}

void TServerForm::InstanceHandOver(const std::vector<std::string> &) {
    // A window left hidden to the tray comes back the way "Show" brings it, so that the tray
    // icon and the stored state never disagree with a shown window.
    if (FTaskbar)
        PopupShowItemClick(this);
    OnActivate(this);
    Show();
    if (Minimized())
        Restore();
    SetForegroundWindow(Handle());
}

bool TServerForm::WMSysCommand(WPARAM Command) {
    // Minimizing goes to the tray instead of the task bar.
    if ((Command & 0xFFF0) != SC_MINIMIZE)
        return false;
    HideItemClick(this);
    return true;
}

void TServerForm::ManagerListChanged(TObject *) {
    if (HandleAllocated())
        PostMessageA(Handle(), WM_SERVERLISTCHANGED, 0, 0);
}

void TServerForm::ManagerLog(TObject *, const std::string &Line) {
    if (FLogFile)
        FLogFile->Add(Line);
    if (!HandleAllocated())
        return;
    auto *copy = new char[Line.size() + 1];
    std::memcpy(copy, Line.c_str(), Line.size() + 1);
    if (!PostMessageA(Handle(), WM_SERVERLOGLINE, 0, reinterpret_cast<LPARAM>(copy)))
        delete[] copy;
}

void TServerForm::AddLogLine(const std::string &Line) {
    LogMemo->AppendLine(Line, ServerLogLines);
}

void TServerForm::WndProc(TMessage &Message) {
    switch (Message.Msg) {
    case WM_SERVERLISTCHANGED:
        UpdateList();
        return;
    case WM_SERVERLOGLINE: {
        std::unique_ptr<char[]> text(reinterpret_cast<char *>(Message.LParam));
        AddLogLine(text.get());
        return;
    }
    case WM_SYSCOMMAND:
        if (WMSysCommand(Message.WParam)) {
            Message.Result = 0;
            return;
        }
        TForm::WndProc(Message);
        return;
    default:
        TForm::WndProc(Message);
    }
}

void TServerForm::UpdateList() {
    int count;
    {
        TScopeLock<TServerManager> lock(*FManager);
        count = FManager->GetCount();
        const TDateTime now = Now();
        for (int i = 0; i < count; ++i) {
            TServerConnection &connection = *FManager->GetConnection(i);
            TListItem *item;
            if (i < List->ItemCount()) {
                item = List->Items(i);
            } else {
                item = List->AddItem();
                item->SetImageIndex(ConnectionImage);
                for (int j = 0; j < 3; ++j)
                    item->SubItems().Add("");
            }
            if (item->Caption() != connection.Caption())
                item->SetCaption(connection.Caption());
            SetCellText(*item, 0, ServerStateText(std::uint8_t(connection.GetState())));
            SetCellText(*item, 1, ConnectionTimeText(now - connection.ConnectTime()));
            SetCellText(*item, 2, Format("%.2f", connection.GetRate()));
            List->UpdateItems(i, i);
        }
        for (int i = List->ItemCount() - 1; i >= count; --i)
            List->DeleteItem(i);
        Timer->SetEnabled(count > 0);
    }
    UpdateStatusBar();
}

void TServerForm::UpdateStatusBar() {
    if (FShowingHint)
        return;
    StatusBar->SetPanelText(0, Format(" %d connection(s)", FManager->GetCount()));
    StatusBar->SetPanelText(1, " " + FHostText);
}

void TServerForm::TimerTick(TObject *) {
    UpdateList();
}

void TServerForm::OptionsClick(TObject *) {
    if (!ConfigManager() || !ConfigManager()->Server)
        return;
    auto dialog = std::make_unique<TServerOptionsForm>(nullptr, *ConfigManager()->Server);
    dialog->ShowModal();
}

void TServerForm::ClearLogClick(TObject *) {
    LogMemo->Lines().Clear();
}

void TServerForm::ExitClick(TObject *) {
    Close();
}

void TServerForm::AboutClick(TObject *) {
    ShowAboutForm();
}

void TServerForm::HelpClick(TObject *) {
    HelpJump(ServerHelpPage);
}

void TServerForm::ContentsClick(TObject *) {
    Application->HelpCommand(HelpContentsCommand, 0);
}

void TServerForm::IndexClick(TObject *) {
    static const char Empty[] = "";
    Application->HelpCommand(HelpIndexCommand, reinterpret_cast<intptr_t>(Empty));
}

void RunServer() {
    Application->SetTitle("Orbisk Vantel Server");
    auto form = std::make_unique<TServerForm>(nullptr);
    Application->SetMainForm(form.get());
    if (HICON icon = LoadIconA(GetModuleHandleA(nullptr), "SERVER_ICON")) {
        // The window's and the task bar's picture.
        SendMessageA(form->Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendMessageA(form->Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    }
    // A window that went to the tray at its start stays there (its hiding is posted and runs
    // from the message loop, after this show).
    form->Show();
    if (form->PlacementState() == 2 && !form->Taskbar())
        form->Maximize();
    Application->Run();
    form.reset();
    if (ConfigManager())
        ConfigManager()->SaveSettings();
}
