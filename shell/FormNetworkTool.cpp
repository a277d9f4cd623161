#include "FormNetworkTool.h"

#include <cmath>
#include <memory>

#include "FormConnection.h"
#include "GenSetup.h"
#include "NetConnections.h"
#include "ShellImages.h"
#include "ShellToolForms.h"

namespace {

// A change of the manager, posted from whichever thread it happened in.
constexpr UINT WM_NETWORKCHANGED = WM_USER;

TMenuItem *AddMenuItem(TPopupMenu &Menu, const char *Caption, const char *ShortCut, TNotifyEvent Click) {
    auto *item = new TMenuItem(nullptr);
    item->SetCaption(Caption);
    item->SetShortCut(TextToShortCut(ShortCut));
    item->OnClick = Click;
    Menu.Items().Add(item);
    return item;
}

} // namespace

TConnectionStatusTexts ConnectionStatusTexts(const TClientConnection &Connection, TDateTime Now) {
    TConnectionStatusTexts texts;
    if (!Connection.Active()) {
        texts.Status = "Inactive";
        return texts;
    }
    const TClientState state = Connection.GetState();
    texts.Status = ClientStateText(state);
    if (state == TClientState::NotConnected) {
        texts.ErrorShown = true;
        texts.Error = Connection.GetStatusText();
        return texts;
    }
    const TDateTime connected = Connection.GetConnectTime();
    const std::int64_t minutes =
        connected == 0 ? 0 : std::int64_t(std::floor(double(Now - connected) * 24 * 60 + 1e-7));
    texts.Time = Format("%d:%.2d", int(minutes / 60), int(minutes % 60));
    texts.Rate = Format("%.2f", Connection.GetRate());
    return texts;
}

int ConnectionButtonImage(bool Active, TClientState State) {
    // Images: connecting, not connected, connected, calculating, inactive.
    if (!Active)
        return 4;
    switch (State) {
    case TClientState::Connecting:
        return 0;
    case TClientState::Connected:
        return 2;
    case TClientState::Calculating:
        return 3;
    default:
        return 1;
    }
}

TNetworkToolForm::TNetworkToolForm(TToolPanel *APanel, TNetworkManager *AManager)
    : TToolForm(APanel), FManager(AManager ? AManager : NetworkManager()) {
    SetName("TNetworkToolForm");
    SetCaption("Network");
    SetClientSize(180, 200);

    PopupMenu = new TPopupMenu(this);
    PopupMenu->OnPopup = MakeNotifyEvent<&TNetworkToolForm::PopupOpening>(this);
    ActiveItem =
        AddMenuItem(*PopupMenu, "A&ctive", "", MakeNotifyEvent<&TNetworkToolForm::ActiveClick>(this));
    AddItem = AddMenuItem(*PopupMenu, "&Add...", "", MakeNotifyEvent<&TNetworkToolForm::AddClick>(this));
    DeleteItem =
        AddMenuItem(*PopupMenu, "&Delete", "", MakeNotifyEvent<&TNetworkToolForm::DeleteClick>(this));
    MoveUpItem =
        AddMenuItem(*PopupMenu, "Move &Up", "", MakeNotifyEvent<&TNetworkToolForm::MoveUpClick>(this));
    MoveDownItem =
        AddMenuItem(*PopupMenu, "&Move Down", "", MakeNotifyEvent<&TNetworkToolForm::MoveDownClick>(this));
    EditItem = AddMenuItem(*PopupMenu, "&Edit...", "", MakeNotifyEvent<&TNetworkToolForm::EditClick>(this));
    RenameItem =
        AddMenuItem(*PopupMenu, "&Rename", "F2", MakeNotifyEvent<&TNetworkToolForm::RenameClick>(this));

    auto *bottom = new TPanel(this);
    bottom->SetParent(this);
    bottom->SetAlign(alBottom);
    bottom->SetHeight(96);
    bottom->SetBevelOuter(bvNone);
    AddButton = new TButton(this);
    AddButton->SetParent(bottom);
    AddButton->SetCaption("Add Connection");
    AddButton->SetBounds(4, 4, 110, 23);
    AddButton->OnClick = MakeNotifyEvent<&TNetworkToolForm::AddClick>(this);
    DeleteButton = new TButton(this);
    DeleteButton->SetParent(bottom);
    DeleteButton->SetCaption("Delete Connection");
    DeleteButton->SetBounds(4, 30, 110, 23);
    DeleteButton->OnClick = MakeNotifyEvent<&TNetworkToolForm::DeleteClick>(this);
    // A row dropped on the button is deleted like a click on it.
    DeleteButton->OnDragOver = MakeEvent<&TNetworkToolForm::DeleteDragOver>(this);
    DeleteButton->OnDragDrop = MakeEvent<&TNetworkToolForm::DeleteDragDrop>(this);
    auto addLabel = [&](int Top) {
        auto *label = new TLabel(this);
        label->SetParent(bottom);
        label->SetBounds(4, Top, 172, 14);
        return label;
    };
    StatusLabel = addLabel(58);
    TimeLabel = addLabel(70);
    RateLabel = addLabel(82);

    List = new TListView(this);
    List->SetParent(this);
    List->SetAlign(alClient);
    List->SetViewStyle(vsReport);
    List->SetRowSelect(true);
    List->AddColumn("Connection", 110);
    List->AddColumn("State", 66);
    List->SetPopupMenu(PopupMenu);
    List->OnSelectItem = MakeEvent<&TNetworkToolForm::ListSelect>(this);
    List->OnEdited = MakeEvent<&TNetworkToolForm::ListEdited>(this);
    List->OnDblClick = MakeNotifyEvent<&TNetworkToolForm::EditClick>(this);
    // Each row's image is its check button: a click on it switches the entry.
    // Without pictures the state column still tells.
    FButtonImages = LoadImageStrip("NETWORK_IMAGES");
    List->SetSmallImages(FButtonImages.get());
    List->OnMouseDown = MakeEvent<&TNetworkToolForm::ListMouseDown>(this);
    // Rows are dragged onto other rows to reorder the entries.
    List->SetDragMode(dmAutomatic);
    List->OnDragOver = MakeEvent<&TNetworkToolForm::ListDragOver>(this);
    List->OnDragDrop = MakeEvent<&TNetworkToolForm::ListDragDrop>(this);

    Timer = new TTimer(this);
    Timer->SetEnabled(false);
    Timer->SetInterval(2500);
    Timer->SetOnTimer(MakeNotifyEvent<&TNetworkToolForm::TimerTick>(this));

    // Client threads notify from the start on: the window's handle must exist to post to it.
    Handle();
    if (FManager)
        FManager->AddHandler(MakeNotifyEvent<&TNetworkToolForm::ManagerChanged>(this));
    if (TConfigManager *config = ConfigManager())
        config->AddHandler(MakeNotifyEvent<&TNetworkToolForm::ConfigChanged>(this));
    ApplyInterfaceFont(Font());
    RefreshList();
}

TNetworkToolForm::~TNetworkToolForm() {
    if (TConfigManager *config = ConfigManager())
        config->RemoveHandler(MakeNotifyEvent<&TNetworkToolForm::ConfigChanged>(this));
    List->SetSmallImages(nullptr);
    if (FManager)
        FManager->RemoveHandler(MakeNotifyEvent<&TNetworkToolForm::ManagerChanged>(this));
}

void TNetworkToolForm::ManagerChanged(TObject *) {
    PostMessageA(Handle(), WM_NETWORKCHANGED, 0, 0);
}

void TNetworkToolForm::ConfigChanged(TObject *) {
    ApplyInterfaceFont(Font());
}

void TNetworkToolForm::WndProc(TMessage &Message) {
    if (Message.Msg == WM_NETWORKCHANGED) {
        RefreshList();
        return;
    }
    TToolForm::WndProc(Message);
}

TClientConnection *TNetworkToolForm::SelectedConnection() {
    const int index = List->ItemIndex();
    if (!FManager || index < 0 || index >= FManager->GetCount())
        return nullptr;
    return FManager->GetConnection(index);
}

void TNetworkToolForm::RefreshList() {
    const int count = FManager ? FManager->GetCount() : 0;
    const int selected = List->ItemIndex();
    bool anyActive = false;
    List->BeginUpdate();
    if (List->ItemCount() != count) {
        List->ClearItems();
        for (int i = 0; i < count; ++i) {
            TListItem *item = List->AddItem();
            item->SubItems().Add("");
        }
    }
    for (int i = 0; i < count; ++i) {
        TClientConnection &connection = *FManager->GetConnection(i);
        TListItem &item = *List->Items(i);
        if (item.Caption() != connection.Caption())
            item.SetCaption(connection.Caption());
        const std::string state =
            connection.Active() ? ClientStateText(connection.GetState()) : std::string("Inactive");
        if (item.SubItems().Strings(0) != state)
            item.SubItems().SetStrings(0, state);
        const int image = ConnectionButtonImage(connection.Active(), connection.GetState());
        if (item.ImageIndex() != image)
            item.SetImageIndex(image);
        anyActive = anyActive || connection.Active();
    }
    List->EndUpdate();
    List->UpdateItems(0, count - 1);
    if (count > 0)
        List->SetItemIndex(std::min(std::max(selected, 0), count - 1));
    Timer->SetEnabled(anyActive);
    UpdateStatus();
    UpdateMenu();
}

void TNetworkToolForm::UpdateStatus() {
    TClientConnection *connection = SelectedConnection();
    if (!connection) {
        StatusLabel->SetCaption("Status:");
        TimeLabel->SetCaption("Time:");
        RateLabel->SetCaption("Pixels/sec:");
        return;
    }
    const TConnectionStatusTexts texts = ConnectionStatusTexts(*connection, Now());
    StatusLabel->SetCaption("Status: " + texts.Status);
    if (texts.ErrorShown) {
        TimeLabel->SetCaption("Error: " + texts.Error);
        RateLabel->SetCaption("");
    } else {
        TimeLabel->SetCaption("Time: " + texts.Time);
        RateLabel->SetCaption("Pixels/sec: " + texts.Rate);
    }
}

void TNetworkToolForm::UpdateMenu() {
    TClientConnection *connection = SelectedConnection();
    const int index = List->ItemIndex();
    const int count = FManager ? FManager->GetCount() : 0;
    ActiveItem->SetChecked(connection && connection->Active());
    ActiveItem->SetEnabled(connection != nullptr);
    AddItem->SetEnabled(FManager != nullptr);
    AddButton->SetEnabled(FManager != nullptr);
    DeleteItem->SetEnabled(connection != nullptr);
    DeleteButton->SetEnabled(connection != nullptr);
    EditItem->SetEnabled(connection != nullptr);
    RenameItem->SetEnabled(connection != nullptr);
    MoveUpItem->SetEnabled(connection && index > 0);
    MoveDownItem->SetEnabled(connection && index < count - 1);
}

void TNetworkToolForm::ListSelect(TObject *, TListItem *, bool) {
    UpdateStatus();
    UpdateMenu();
}

void TNetworkToolForm::ListEdited(TObject *, TListItem *Item, std::string &Text) {
    if (FManager && Item && Item->Index() < FManager->GetCount())
        FManager->GetConnection(Item->Index())->SetCaption(Text);
}

void TNetworkToolForm::PopupOpening(TObject *) {
    UpdateMenu();
}

void TNetworkToolForm::ActiveClick(TObject *) {
    if (TClientConnection *connection = SelectedConnection())
        connection->SetActive(!connection->Active());
    RefreshList();
}

int TNetworkToolForm::RowButtonAt(int X, int Y) {
    LVHITTESTINFO hit{};
    hit.pt = POINT{X, Y};
    const int row = int(SendMessageA(List->Handle(), LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    return row >= 0 && (hit.flags & LVHT_ONITEMICON) ? row : -1;
}

void TNetworkToolForm::ListMouseDown(TObject *, TMouseButton Button, TShiftState, int X, int Y) {
    const int row = Button == mbLeft ? RowButtonAt(X, Y) : -1;
    if (!FManager || row < 0 || row >= FManager->GetCount())
        return;
    TClientConnection &connection = *FManager->GetConnection(row);
    connection.SetActive(!connection.Active());
    RefreshList();
}

void TNetworkToolForm::AddClick(TObject *) {
    if (!FManager)
        return;
    auto dialog = std::make_unique<TConnectionForm>(nullptr);
    if (dialog->ShowModal() != mrOk)
        return;
    const int index =
        FManager->AddConnection(dialog->Host(), dialog->Port(), dialog->Reconnect(), dialog->Password());
    RefreshList();
    List->SetItemIndex(index);
    UpdateStatus();
}

void TNetworkToolForm::DeleteClick(TObject *) {
    const int index = List->ItemIndex();
    if (!SelectedConnection())
        return;
    FManager->DeleteConnection(index);
    RefreshList();
}

void TNetworkToolForm::MoveSelected(int Offset) {
    const int index = List->ItemIndex();
    if (!SelectedConnection() || index + Offset < 0 || index + Offset >= FManager->GetCount() || Offset == 0)
        return;
    FManager->MoveConnection(index, index + Offset);
    RefreshList();
    List->SetItemIndex(index + Offset);
    UpdateStatus();
}

void TNetworkToolForm::ListDragOver(TObject *, TObject *Source, int X, int Y, TDragState, bool &Accept) {
    Accept = Source == List && SelectedConnection() && List->GetItemAt(X, Y);
}

void TNetworkToolForm::ListDragDrop(TObject *, TObject *Source, int X, int Y) {
    TListItem *target = Source == List ? List->GetItemAt(X, Y) : nullptr;
    if (target)
        MoveSelected(target->Index() - List->ItemIndex());
}

void TNetworkToolForm::DeleteDragOver(TObject *, TObject *Source, int, int, TDragState, bool &Accept) {
    Accept = Source == List && SelectedConnection();
}

void TNetworkToolForm::DeleteDragDrop(TObject *, TObject *Source, int, int) {
    if (Source == List)
        DeleteClick(DeleteButton);
}

void TNetworkToolForm::MoveUpClick(TObject *) {
    MoveSelected(-1);
}

void TNetworkToolForm::MoveDownClick(TObject *) {
    MoveSelected(1);
}

void TNetworkToolForm::EditClick(TObject *) {
    TClientConnection *connection = SelectedConnection();
    if (!connection)
        return;
    auto dialog = std::make_unique<TConnectionForm>(nullptr, true);
    dialog->SetHost(connection->Host());
    dialog->SetPassword(connection->Password());
    dialog->SetReconnect(connection->Reconnect());
    dialog->SetPort(connection->Port());
    if (connection->Caption() != connection->DisplayName())
        dialog->SetCaption(Format("%s '%s'", "Edit Connection", connection->Caption()));
    if (dialog->ShowModal() != mrOk)
        return;
    connection->SetConnection(dialog->Host(), dialog->Port(), dialog->Password());
    connection->SetReconnect(dialog->Reconnect());
    RefreshList();
}

void TNetworkToolForm::RenameClick(TObject *) {
    if (TListItem *item = List->Selected())
        item->EditCaption();
}

void TNetworkToolForm::TimerTick(TObject *) {
    RefreshList();
}
