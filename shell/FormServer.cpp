#include "FormServer.h"

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
#include "NetServer.h"

namespace {

constexpr const char *ServerFormName = "ServerForm";
constexpr int ColumnWidth = 100;
constexpr int StatusPanelWidth = 200;

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

    MainMenu = new TMainMenu(this);
    BuildMenu();
    SetMenu(MainMenu);

    // Controls aligned to the bottom stack downwards in the order they are made: the splitter
    // above the log, the status bar directly under it.
    Splitter = new TSplitter(this);
    Splitter->SetParent(this);
    Splitter->SetAlign(alBottom);
    Splitter->SetHeight(3);
    Splitter->SetMinSize(30);

    LogMemo = new TMemo(this);
    LogMemo->SetParent(this);
    LogMemo->SetAlign(alBottom);
    LogMemo->SetHeight(120);
    LogMemo->SetReadOnly(true);
    LogMemo->SetScrollBars(ssBoth);
    LogMemo->SetWordWrap(false);

    StatusBar = new TStatusBar(this);
    StatusBar->SetParent(this);
    StatusBar->SetAlign(alBottom);

    List = new TListView(this);
    List->SetParent(this);
    List->SetAlign(alClient);
    List->SetViewStyle(vsReport);
    List->SetReadOnly(true);
    List->SetRowSelect(true);
    for (const char *caption : {"Address", "Status", "Time", "Pixels/sec"})
        List->AddColumn(caption, ColumnWidth);
    if (TConfigManager *config = ConfigManager()) {
        for (int i = 0; i < List->ColumnCount(); ++i)
            List->Columns(i).Width =
                config->ReadFormInteger(ServerFormName, Format("ListColumn%d", i), ColumnWidth);
        List->UpdateColumns();
        LogMemo->SetHeight(std::max(config->ReadFormInteger(ServerFormName, "LogHeight", 120), 30));
    }

    Timer = new TTimer(this);
    Timer->SetEnabled(false);
    Timer->SetInterval(2500);
    Timer->SetOnTimer(MakeNotifyEvent<&TServerForm::TimerTick>(this));

    StatusBar->AddPanel("", StatusPanelWidth);
    StatusBar->AddPanel("", StatusPanelWidth);
    StatusBar->AddPanel("", 0);
    FHostText = HostText();

    TServerConfiguration *configuration = ConfigManager() ? ConfigManager()->Server.get() : nullptr;
    int port = 8691;
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
        ConfigManager()->ReadString("Server", "ListenAddress", listenAddress, "0.0.0.0");
    }
    if (!Address.empty())
        listenAddress = Address;
    if (Port >= 0)
        port = Port;
    // Connection threads post their log lines and list changes to the window from the start on.
    Handle();
    FManager = std::make_unique<TServerManager>(configuration);
    FManager->OnListChanged = MakeNotifyEvent<&TServerForm::ManagerListChanged>(this);
    FManager->OnLog = MakeEvent<&TServerForm::ManagerLog>(this);
    FServer = std::make_unique<TServerListener>(*FManager);
    FServer->Start(listenAddress, std::uint16_t(port));
    UpdateList();
    FManager->Log("Server started");
    FManager->Log(Format("Listening on port %d", int(FServer->Port())));
}

TServerForm::~TServerForm() {
    if (TConfigManager *config = ConfigManager()) {
        config->WriteFormInteger(ServerFormName, "LogHeight", LogMemo->Height());
        for (int i = 0; i < List->ColumnCount(); ++i)
            config->WriteFormInteger(ServerFormName, Format("ListColumn%d", i), List->Columns(i).Width);
    }
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
    auto *separator = new TMenuItem(nullptr);
    separator->SetCaption("-");
    file->Add(separator);
    AddMenuItem(*file, "E&xit", "Alt+F4", "Closes Orbisk Vantel Server.",
                MakeNotifyEvent<&TServerForm::ExitClick>(this));
    auto *help = new TMenuItem(nullptr);
    help->SetCaption("&Help");
    help->SetHint("Contains commands for displaying help.");
    MainMenu->Items().Add(help);
    AddMenuItem(*help, "&About...", "", "Shows copyright and version information.",
                MakeNotifyEvent<&TServerForm::AboutClick>(this));
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
                item->SetImageIndex(2);
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

void RunServer() {
    Application->SetTitle("Orbisk Vantel Server");
    auto form = std::make_unique<TServerForm>(nullptr);
    Application->SetMainForm(form.get());
    form->Show();
    Application->Run();
    form.reset();
    if (ConfigManager())
        ConfigManager()->SaveSettings();
}
