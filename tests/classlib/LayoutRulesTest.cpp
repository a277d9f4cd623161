// Anchors and size constraints across resizes, and scrolling through flat scroll bars.
#include <windows.h>

#include <gtest/gtest.h>

#include "../WindowTestSupport.h"
#include "ExtCtrls.h"
#include "Forms.h"

using namespace window_test;

namespace {

class LayoutRulesTest : public HostFormTest {};

// The children's rules are written here from their definitions: a right or bottom anchor keeps
// the distance to that edge, both anchors of a direction stretch, none keeps the centre's
// relative place; constraints always win.
TEST_F(LayoutRulesTest, AnchorsAndConstraintsKeepTheirRulesAcrossResizes) {
    const int cw = Form->ClientWidth(), ch = Form->ClientHeight();
    ASSERT_GT(cw, 200);
    ASSERT_GT(ch, 150);
    auto makePanel = [&](int l, int t, int w, int h, TAnchors anchors) {
        auto *panel = new TPanel(Form);
        panel->SetParent(Form);
        panel->SetBounds(l, t, w, h);
        panel->SetAnchors(anchors);
        return panel;
    };
    TPanel *corner = makePanel(cw - 60, ch - 40, 50, 30, akRight | akBottom);
    TPanel *stretch = makePanel(10, 10, cw - 20, 20, akLeft | akTop | akRight);
    stretch->Constraints().SetMaxWidth(cw - 20 + 30);
    TPanel *filler = makePanel(10, 40, 100, 100, akLeft | akTop | akRight | akBottom);
    filler->Constraints().SetMinHeight(90);
    TPanel *centred = makePanel(cw / 2 - 20, 60, 40, 20, akTop);

    const int width = Form->Width(), height = Form->Height();
    // The form's client area becomes (cw + dx) x (ch + dy).
    auto resizeClientBy = [&](int dx, int dy) {
        Form->SetBounds(Form->Left(), Form->Top(), width + dx, height + dy);
        PumpPending();
        ASSERT_EQ(Form->ClientWidth(), cw + dx);
        ASSERT_EQ(Form->ClientHeight(), ch + dy);
    };

    resizeClientBy(100, 50);
    EXPECT_EQ(corner->Left(), cw + 100 - 60);
    EXPECT_EQ(corner->Top(), ch + 50 - 40);
    EXPECT_EQ(corner->Width(), 50);
    EXPECT_EQ(stretch->Width(), cw - 20 + 30) << "the upper limit holds while the anchors stretch";
    EXPECT_EQ(filler->Width(), 200);
    EXPECT_EQ(filler->Height(), 150);
    EXPECT_EQ(centred->Left() + 20, MulDiv(cw / 2, cw + 100, cw));

    resizeClientBy(-20, -20); // the filler would be 80 high: its lower limit keeps it at 90
    EXPECT_EQ(filler->Height(), 90);
    EXPECT_EQ(corner->Left(), cw - 20 - 60);
    EXPECT_EQ(corner->Top(), ch - 20 - 40);

    resizeClientBy(0, 0);
    // Back at the first size: every rule gives the first bounds again (nothing drifted).
    EXPECT_EQ(corner->BoundsRect().left, cw - 60);
    EXPECT_EQ(corner->BoundsRect().top, ch - 40);
    EXPECT_EQ(stretch->Width(), cw - 20);
    EXPECT_EQ(filler->Height(), 100);
    EXPECT_EQ(centred->Left(), cw / 2 - 20);
}

TEST_F(LayoutRulesTest, SizeConstraintsLimitTheProgramAndTheUser) {
    Form->Constraints().SetMinWidth(300);
    Form->Constraints().SetMaxHeight(280);
    EXPECT_EQ(Form->Width(), 420);
    EXPECT_EQ(Form->Height(), 280) << "a new limit applies to the present size at once";
    Form->SetBounds(Form->Left(), Form->Top(), 100, 500);
    PumpPending();
    EXPECT_EQ(Form->Width(), 300);
    EXPECT_EQ(Form->Height(), 280);
    RECT window;
    GetWindowRect(Form->Handle(), &window);
    EXPECT_EQ(window.right - window.left, 300);
    // Sizing by the user asks the same limits.
    MINMAXINFO info = {};
    info.ptMaxTrackSize = {5000, 5000};
    SendMessageA(Form->Handle(), WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.x, 300);
    EXPECT_EQ(info.ptMaxTrackSize.y, 280);
    EXPECT_EQ(info.ptMaxTrackSize.x, 5000) << "no upper width limit was set";
}

TEST_F(LayoutRulesTest, FlatScrollBarsScrollByTheirSteps) {
    auto *box = new TScrollingWinControl(Form);
    box->SetFlatScrollBars(true);
    box->SetParent(Form);
    box->SetBounds(0, 0, 150, 200);
    auto *tall = new TPanel(box);
    tall->SetParent(box);
    tall->SetBounds(0, 0, 100, 600);
    box->Realign(); // the range follows the children when they are laid out
    PumpPending();
    TControlScrollBar &bar = box->VertScrollBar();
    ASSERT_EQ(bar.Range(), 600);
    const int page = box->ClientHeight();

    bar.SetPageIncrement(80);
    SendMessageA(box->Handle(), WM_VSCROLL, SB_PAGEDOWN, 0);
    EXPECT_EQ(bar.Position(), 80);
    EXPECT_EQ(tall->Top(), -80);
    SendMessageA(box->Handle(), WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(bar.Position(), 88);
    bar.SetSmooth(true);
    SendMessageA(box->Handle(), WM_VSCROLL, SB_LINEUP, 0);
    EXPECT_EQ(bar.Position(), 88 - page / 4);
    SendMessageA(box->Handle(), WM_VSCROLL, SB_BOTTOM, 0);
    EXPECT_EQ(bar.Position(), 600 - page) << "the position never passes the last page";
    EXPECT_EQ(tall->Top(), page - 600);
    EXPECT_TRUE(bar.IsScrollBarVisible());
    // A new window keeps the flat bars and the range.
    box->RecreateWnd();
    PumpPending();
    EXPECT_EQ(bar.Range(), 600);
    EXPECT_TRUE(bar.IsScrollBarVisible());
}

} // namespace
