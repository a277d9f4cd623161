// The Network tool window over a manager of its own (entries on 127.0.0.x whose port is closed, or
// that stay inactive), and the connection dialog's port rules.
#include "FormNetworkTool.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "AdvBars.h"
#include "FormConnection.h"
#include "FracCalculate.h"
#include "GenProgram.h"
#include "GenRegistry.h"
#include "GenSetup.h"
#include "NetConnections.h"
#include "NetGeneral.h"
#include "tests/WindowTestSupport.h"

using window_test::PumpPending;
using window_test::PumpUntil;

namespace {

TEST(ConnectionDialog, PortTextIsAnIntegerFrom1To65535) {
    struct TCase {
        const char *Text;
        bool Valid;
        std::uint16_t Port;
    };
    const TCase cases[] = {
        {"1", true, 1},      {"65535", true, 65535}, {"8691", true, 8691}, {"0", false, 0},
        {"65536", false, 0}, {"", false, 0},         {"-1", false, 0},     {"80x", false, 0},
        {" 80", false, 0},   {"100000", false, 0},   {"abc", false, 0},
    };
    for (const TCase &c : cases) {
        std::uint16_t port = 0;
        EXPECT_EQ(ParsePortText(c.Text, port), c.Valid) << c.Text;
        if (c.Valid)
            EXPECT_EQ(port, c.Port) << c.Text;
    }
}

TEST(ConnectionDialog, DefaultPortCheckFollowsThePort) {
    TConnectionForm dialog(nullptr, true);
    EXPECT_EQ(dialog.Caption(), "Edit Connection");
    dialog.SetPort(9000);
    EXPECT_FALSE(dialog.DefaultPortCheck->Checked());
    EXPECT_TRUE(dialog.PortInput->Enabled());
    EXPECT_EQ(dialog.PortInput->Text(), "9000");
    dialog.SetPort(8691);
    EXPECT_TRUE(dialog.DefaultPortCheck->Checked());
    EXPECT_FALSE(dialog.PortInput->Enabled());
    EXPECT_EQ(dialog.PortInput->Text(), "8691");
    dialog.SetHost("calc.example");
    dialog.DefaultPortCheck->SetChecked(false);
    dialog.PortInput->SetText("65535");
    EXPECT_TRUE(dialog.Accept());
    EXPECT_EQ(dialog.Port(), 65535);
    EXPECT_EQ(dialog.Host(), "calc.example");
}

TNetworkManager *ToolManager = nullptr;

class NetworkToolWindow : public testing::Test {
protected:
    static void SetUpTestSuite() { InitializeNetGeneral(); }
    static void TearDownTestSuite() { FinalizeNetGeneral(); }
    void SetUp() override {
        {
            TTcpListener probe;
            probe.Listen("127.0.0.1", 0);
            ClosedPort = probe.LocalPort();
        }
        Manager = std::make_unique<TNetworkManager>(nullptr, &Calculation);
        ToolManager = Manager.get();
        Host = std::make_unique<TForm>(nullptr);
        Host->SetBounds(0, 0, 300, 400);
        Bar = new TAdvDockBar(Host.get());
        Bar->SetParent(Host.get());
        Bar->SetAlign(alClient);
        Panel = Bar->AddTool(
            {[](TToolPanel *Panel) -> TToolForm * { return new TNetworkToolForm(Panel, ToolManager); },
             [](const TToolForm *Form) { return dynamic_cast<const TNetworkToolForm *>(Form) != nullptr; }});
        Host->Show();
        PumpPending();
        Tool = dynamic_cast<TNetworkToolForm *>(Panel->ToolForm());
        ASSERT_NE(Tool, nullptr);
    }
    void TearDown() override {
        Host.reset();
        Manager.reset();
        ToolManager = nullptr;
        PumpPending();
    }

    TCalculateManager Calculation{1};
    std::uint16_t ClosedPort = 0;
    std::unique_ptr<TNetworkManager> Manager;
    std::unique_ptr<TForm> Host;
    TAdvDockBar *Bar = nullptr;
    TToolPanel *Panel = nullptr;
    TNetworkToolForm *Tool = nullptr;
};

TEST_F(NetworkToolWindow, ListAndStatusFollowTheEntries) {
    EXPECT_EQ(Tool->List->ItemCount(), 0);
    EXPECT_FALSE(Tool->Timer->Enabled());
    Manager->AddConnection("127.0.0.1", ClosedPort, false, "");
    Manager->AddConnection("127.0.0.3", 9000, false, "");
    Manager->GetConnection(1)->SetActive(false);
    // The changes reach the window through its message queue.
    ASSERT_TRUE(PumpUntil([&] { return Tool->List->ItemCount() == 2; }));
    EXPECT_EQ(Tool->List->Items(0)->Caption(), Format("127.0.0.1 : %d", int(ClosedPort)));
    EXPECT_EQ(Tool->List->Items(1)->Caption(), "127.0.0.3 : 9000");
    EXPECT_EQ(Tool->List->Items(1)->SubItems().Strings(0), "Inactive");
    EXPECT_TRUE(Tool->Timer->Enabled()) << "one entry is active";

    Tool->List->SetItemIndex(0);
    ASSERT_TRUE(PumpUntil(
        [&] {
            Tool->UpdateStatus();
            return Tool->TimeLabel->Caption() == "Error: Connection refused.";
        },
        60000))
        << Tool->StatusLabel->Caption() << " / " << Tool->TimeLabel->Caption();
    EXPECT_EQ(Tool->StatusLabel->Caption(), "Status: Not connected");
    EXPECT_EQ(Tool->List->Items(0)->SubItems().Strings(0), "Not connected");
    Tool->PopupMenu->OnPopup(Tool->PopupMenu);
    EXPECT_TRUE(Tool->ActiveItem->Checked());
    EXPECT_FALSE(Tool->MoveUpItem->Enabled());
    EXPECT_TRUE(Tool->MoveDownItem->Enabled());

    Tool->MoveDownItem->Click();
    EXPECT_EQ(Manager->GetConnection(1)->Host(), "127.0.0.1");
    EXPECT_EQ(Tool->List->ItemIndex(), 1);
    EXPECT_EQ(Tool->List->Items(0)->Caption(), "127.0.0.3 : 9000");
    Tool->ActiveItem->Click();
    EXPECT_FALSE(Manager->GetConnection(1)->Active());
    EXPECT_EQ(Tool->StatusLabel->Caption(), "Status: Inactive");
    EXPECT_FALSE(Tool->Timer->Enabled()) << "no entry is active";

    Tool->DeleteButton->Click();
    EXPECT_EQ(Manager->GetCount(), 1);
    EXPECT_EQ(Tool->List->ItemCount(), 1);
    EXPECT_EQ(Tool->List->ItemIndex(), 0) << "the selection stays within the list";
}

// Rows dragged onto rows reorder the entries; a row dropped on "Delete Connection" goes.
TEST_F(NetworkToolWindow, DraggedRowsMoveAndDropOnDelete) {
    for (const char *host : {"127.0.0.11", "127.0.0.12", "127.0.0.13"})
        Manager->GetConnection(Manager->AddConnection(host, 9000, false, ""))->SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return Tool->List->ItemCount() == 3; }));
    auto rowPoint = [&](int Index) {
        RECT r{LVIR_BOUNDS, 0, 0, 0};
        SendMessageA(Tool->List->Handle(), LVM_GETITEMRECT, Index, reinterpret_cast<LPARAM>(&r));
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    };
    auto hosts = [&] {
        std::string text;
        for (int i = 0; i < Manager->GetCount(); ++i)
            text += Manager->GetConnection(i)->Host().substr(8) + " ";
        return text;
    };
    Tool->List->SetItemIndex(0);
    const POINT third = rowPoint(2);
    bool accept = false;
    Tool->List->OnDragOver(Tool->List, Tool->List, third.x, third.y, dsDragMove, accept);
    EXPECT_TRUE(accept);
    Tool->List->OnDragOver(Tool->List, Tool->DeleteButton, third.x, third.y, dsDragMove, accept);
    EXPECT_FALSE(accept) << "only the list's own rows";
    Tool->List->OnDragDrop(Tool->List, Tool->List, third.x, third.y);
    EXPECT_EQ(hosts(), "12 13 11 ");
    EXPECT_EQ(Tool->List->ItemIndex(), 2) << "the moved row stays selected";
    const POINT first = rowPoint(0);
    Tool->List->OnDragDrop(Tool->List, Tool->List, first.x, first.y);
    EXPECT_EQ(hosts(), "11 12 13 ");
    EXPECT_EQ(Tool->List->ItemIndex(), 0);
    Tool->List->OnDragDrop(Tool->List, Tool->List, first.x, 10000); // below the rows: nothing
    EXPECT_EQ(hosts(), "11 12 13 ");

    Tool->List->SetItemIndex(1);
    Tool->DeleteButton->OnDragOver(Tool->DeleteButton, Tool->List, 5, 5, dsDragMove, accept);
    EXPECT_TRUE(accept);
    Tool->DeleteButton->OnDragDrop(Tool->DeleteButton, Tool->List, 5, 5);
    EXPECT_EQ(hosts(), "11 13 ");
    EXPECT_EQ(Tool->List->ItemCount(), 2);
}

TEST(NetworkToolImages, CheckButtonImageFollowsTheState) {
    struct TCase {
        bool Active;
        TClientState State;
        int Image;
    };
    // The pictures, in order: connecting, not connected, connected, calculating, inactive.
    const TCase cases[] = {
        {true, TClientState::NotConnected, 1},  {true, TClientState::Connecting, 0},
        {true, TClientState::Connected, 2},     {true, TClientState::Calculating, 3},
        {false, TClientState::NotConnected, 4}, {false, TClientState::Calculating, 4},
    };
    for (const TCase &c : cases)
        EXPECT_EQ(ConnectionButtonImage(c.Active, c.State), c.Image) << int(c.State) << " " << c.Active;
}

// A click on a row's check button switches the entry; elsewhere on the row it only selects.
TEST_F(NetworkToolWindow, RowCheckButtonSwitchesTheEntry) {
    Manager->AddConnection("127.0.0.1", ClosedPort, false, "");
    Manager->GetConnection(Manager->AddConnection("127.0.0.21", 9000, false, ""))->SetActive(false);
    ASSERT_TRUE(PumpUntil([&] { return Tool->List->ItemCount() == 2; }));
    EXPECT_EQ(Tool->List->Items(1)->ImageIndex(), 4);
    ASSERT_TRUE(PumpUntil(
        [&] {
            Tool->RefreshList();
            return Tool->List->Items(0)->ImageIndex() == 1;
        },
        60000))
        << "the refused connection shows as not connected";
    auto part = [&](int Row, int Part) {
        RECT r{Part, 0, 0, 0};
        SendMessageA(Tool->List->Handle(), LVM_GETITEMRECT, Row, reinterpret_cast<LPARAM>(&r));
        return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    };
    const POINT label = part(1, LVIR_LABEL);
    EXPECT_EQ(Tool->RowButtonAt(label.x, label.y), -1);
    Tool->List->OnMouseDown(Tool->List, mbLeft, ssLeft, label.x, label.y);
    EXPECT_FALSE(Manager->GetConnection(1)->Active()) << "a click on the caption does not switch";

    const POINT button = part(1, LVIR_ICON);
    EXPECT_EQ(Tool->RowButtonAt(button.x, button.y), 1);
    Tool->List->OnMouseDown(Tool->List, mbLeft, ssLeft, button.x, button.y);
    EXPECT_TRUE(Manager->GetConnection(1)->Active());
    EXPECT_NE(Tool->List->Items(1)->ImageIndex(), 4);
    const POINT first = part(0, LVIR_ICON);
    Tool->List->OnMouseDown(Tool->List, mbRight, ssRight, first.x, first.y);
    EXPECT_TRUE(Manager->GetConnection(0)->Active()) << "the right button opens the menu, nothing more";
    Tool->List->OnMouseDown(Tool->List, mbLeft, ssLeft, first.x, first.y);
    EXPECT_FALSE(Manager->GetConnection(0)->Active());
    EXPECT_EQ(Tool->List->Items(0)->ImageIndex(), 4);
}

// The window takes the configured interface font at its start and after every configuration change.
class NetworkToolFont : public NetworkToolWindow {
protected:
    void SetUp() override {
        Started = ConfigManager() == nullptr;
        if (Started) {
            InitializeGenProgram();
            InitializeGenRegistry();
            InitializeGenSetup();
        }
        Saved = ConfigManager()->General->Font;
        ConfigManager()->General->Font = TFontSetting{"Courier New", 12, 0};
        NetworkToolWindow::SetUp();
    }
    void TearDown() override {
        NetworkToolWindow::TearDown();
        ConfigManager()->General->Font = Saved;
        if (Started) {
            FinalizeGenSetup();
            FinalizeGenRegistry();
            FinalizeGenProgram();
        }
    }
    bool Started = false;
    TFontSetting Saved;
};

TEST_F(NetworkToolFont, FollowsTheConfiguredInterfaceFont) {
    EXPECT_EQ(Tool->Font().Name(), "Courier New");
    EXPECT_EQ(Tool->Font().Size(), 12);
    ConfigManager()->General->Font = TFontSetting{"Arial", 10, 0};
    ConfigManager()->Changed();
    EXPECT_EQ(Tool->Font().Name(), "Arial");
    EXPECT_EQ(Tool->Font().Size(), 10);
}

} // namespace
