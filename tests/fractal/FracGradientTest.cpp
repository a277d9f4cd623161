#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "FracGradientTestSupport.h"

namespace {

// Replaces the colour part by linear nodes at the given positions and colours (0x00BBGGRR).
void SetColorNodes(TGradient &Gradient, const std::vector<std::pair<int, std::uint32_t>> &Nodes,
                   bool Smooth) {
    std::string text = "gradient:\r\n  smooth=" + std::string(Smooth ? "yes" : "no") + "\r\n";
    for (const auto &[position, color] : Nodes)
        text += "  index=" + std::to_string(position) + " color=" + std::to_string(color) + "\r\n";
    text += "opacity:\r\n  smooth=no index=0 opacity=255\r\n";
    ReadGradientText(Gradient, text);
}

bool SameGradientEntries(const TGradientTable &A, const TGradientTable &B) {
    return std::memcmp(A.Entries, B.Entries, GradientCodeCount * 4) == 0;
}

// A fresh render of the same gradient, for comparing with a table built by partial renders.
std::unique_ptr<TGradientFixture> FreshCopy(TGradient &Gradient) {
    auto copy = std::make_unique<TGradientFixture>();
    ReadGradientText(**copy, GradientText(Gradient));
    return copy;
}

} // namespace

TEST(FracGradient, NewGradientHasTheBuiltInNodesAndAnOpaqueTable) {
    TGradientFixture g;
    TGradientColorItems &color = g->ColorItems();
    ASSERT_EQ(NodePositions(color), (std::vector<int>{0, 100, 200, 300}));
    const std::uint32_t colors[] = {0x850000, 0xF5FFFF, 0x00B5FF,
                                    0x00009C}; // red + green * 256 + blue * 65536
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(color.GetColorNode(i)->GetColor(), colors[i]) << i;
    EXPECT_TRUE(color.Smooth());
    EXPECT_TRUE(color.GetNode(0)->Selected());
    EXPECT_TRUE(color.Active());
    EXPECT_FALSE(g->OpacityItems().Active());
    ASSERT_EQ(NodePositions(g->OpacityItems()), (std::vector<int>{0}));
    EXPECT_EQ(g->OpacityItems().GetOpacityNode(0)->Opacity(), 255);
    // Entry 0 is blue 133, green 0, red 0, opacity 255.
    EXPECT_EQ((*g.Table)[0], 0xFF000085u);
    for (int i = 0; i < GradientCodeCount; ++i)
        ASSERT_EQ(TableByte(*g.Table, i, 3), 255) << i;
    // Every node's colour stands at its own entry.
    EXPECT_EQ((*g.Table)[128 * 100] & 0xFFFFFF, 0xFFFFF5u);
    EXPECT_EQ((*g.Table)[128 * 300] & 0xFFFFFF, 0x9C0000u);
    EXPECT_FALSE(g->Modified());
    EXPECT_FALSE(g->HasTransparency());
}

TEST(FracGradient, LinearSegmentsStepEvenlyFromNodeToNode) {
    TGradientFixture g;
    // Red 0 at 0 rising to 200 at 200, then falling back to 0 across position 400.
    SetColorNodes(*g, {{0, 0x000000}, {200, 0x0000C8}}, false);
    const TGradientTable &table = *g.Table;
    struct {
        int Entry;
        int Red;
    } cases[] = {{0, 0},           {128 * 50, 50},   {128 * 100, 100}, {128 * 100 + 64, 100},
                 {128 * 200, 200}, {128 * 300, 100}, {51199, 0},       {128 * 200 - 1, 199}};
    for (const auto &c : cases)
        EXPECT_EQ(TableByte(table, c.Entry, 2), c.Red) << c.Entry;
    // Values never move against the direction of the segment.
    for (int i = 1; i <= 128 * 200; ++i)
        ASSERT_GE(TableByte(table, i, 2), TableByte(table, i - 1, 2)) << i;
    for (int i = 128 * 200 + 1; i < GradientCodeCount; ++i)
        ASSERT_LE(TableByte(table, i, 2), TableByte(table, i - 1, 2)) << i;
}

TEST(FracGradient, SmoothSegmentsAreFlatBetweenEqualValuesAndNeverOvershoot) {
    TGradientFixture g;
    // Green: 0, 255 (a local maximum), 255, 40; the curve must stay within each segment's ends.
    SetColorNodes(*g, {{0, 0x000000}, {80, 0x00FF00}, {160, 0x00FF00}, {300, 0x002800}}, true);
    const TGradientTable &table = *g.Table;
    for (int i = 128 * 80; i <= 128 * 160; ++i)
        ASSERT_EQ(TableByte(table, i, 1), 255) << i;
    for (int i = 128 * 160; i <= 128 * 300; ++i) {
        ASSERT_LE(TableByte(table, i, 1), 255) << i;
        ASSERT_GE(TableByte(table, i, 1), 40) << i;
    }
    for (int i = 128 * 300; i < GradientCodeCount; ++i)
        ASSERT_LE(TableByte(table, i, 1), 40) << i;
    EXPECT_EQ(TableByte(table, 128 * 300, 1), 40);
    EXPECT_EQ(TableByte(table, 0, 1), 0);
}

TEST(FracGradient, PartialRendersLeaveTheSameTableAsAFullRender) {
    for (bool smooth : {false, true}) {
        TGradientFixture g;
        SetColorNodes(*g, {{0, 0x102030}, {50, 0xFF00FF}, {120, 0x00FF00}, {250, 0x808080}, {330, 0x0000FF}},
                      smooth);
        TGradientColorItems &color = g->ColorItems();
        color.GetColorNode(2)->SetRed(17);
        color.GetNode(1)->SetPosition(90);
        color.GetColorNode(4)->SetBlue(3);
        color.GetNode(0)->SetPosition(395); // passes every other node
        color.InsertAt(200);
        color.Delete(1);
        g->OpacityItems().InsertAt(150);
        g->OpacityItems().GetOpacityNode(1)->SetOpacity(10);
        auto fresh = FreshCopy(*g);
        EXPECT_TRUE(SameGradientEntries(*g.Table, *fresh->Table)) << (smooth ? "smooth" : "linear");
    }
}

TEST(FracGradient, RotationWrapsNodesAroundTheCircle) {
    TGradientFixture g;
    SetColorNodes(*g, {{0, 0x0000FF}, {390, 0x00FF00}}, false);
    TGradientColorItems &color = g->ColorItems();
    color.SetRotation(20);
    EXPECT_EQ(NodePositions(color), (std::vector<int>{10, 20}));
    EXPECT_EQ(color.GetColorNode(0)->GetColor(), 0x00FF00u); // the former last node is first
    EXPECT_EQ(color.Rotation(), 20);
    color.SetRotation(250);
    EXPECT_EQ(color.Rotation(), 199);
    EXPECT_EQ(NodePositions(color), (std::vector<int>{189, 199}));
    color.SetRotation(-200);
    EXPECT_EQ(color.Rotation(), -200);
    EXPECT_EQ(NodePositions(color), (std::vector<int>{190, 200}));
}

TEST(FracGradient, ReverseInvertAndSelection) {
    TGradientFixture g;
    SetColorNodes(*g, {{0, 0x0000FF}, {100, 0x00FF00}}, false);
    TGradientColorItems &color = g->ColorItems();
    color.Reverse();
    EXPECT_EQ(NodePositions(color), (std::vector<int>{299, 399}));
    EXPECT_EQ(color.GetColorNode(0)->GetColor(), 0x00FF00u);
    color.Invert();
    EXPECT_EQ(color.GetColorNode(0)->GetColor(), 0xFF00FFu);

    color.SelectNone();
    EXPECT_EQ(color.GetSelectedPosition(), -2);
    EXPECT_EQ(color.GetSelectedRed(), -2);
    color.SelectAll();
    EXPECT_EQ(color.GetSelectedPosition(), -1);
    EXPECT_EQ(color.GetSelectedGreen(), -1);
    color.SelectNext(); // the last node was selected: the first one follows
    EXPECT_EQ(color.GetSelectedPosition(), 299);
    color.SelectPrevious();
    EXPECT_EQ(color.GetSelectedPosition(), 399);
    color.SelectNext();
    EXPECT_EQ(color.GetSelectedPosition(), 299);
    color.SetSelectedPosition(50);
    EXPECT_EQ(NodePositions(color), (std::vector<int>{50, 399}));
    color.SetSelectedRed(77);
    EXPECT_EQ(color.GetColorNode(0)->Red(), 77);
    EXPECT_EQ(color.GetSelectedRed(), 77);
}

TEST(FracGradient, MovingANodeOntoItsNeighbourStopsOneStepShort) {
    TGradientFixture g;
    SetColorNodes(*g, {{10, 1}, {20, 2}, {21, 3}, {30, 4}}, false);
    TGradientColorItems &color = g->ColorItems();
    color.GetNode(0)->SetPosition(21); // lands on a neighbour, and the step short is taken too
    EXPECT_EQ(NodePositions(color), (std::vector<int>{19, 20, 21, 30}));
    color.GetNode(3)->SetPosition(20);
    EXPECT_EQ(NodePositions(color), (std::vector<int>{19, 20, 21, 22}));
    color.GetNode(0)->SetPosition(500); // clamped to 399 and moved past the others
    EXPECT_EQ(NodePositions(color), (std::vector<int>{20, 21, 22, 399}));
    EXPECT_EQ(color.GetColorNode(3)->GetColor(), 1u);
}

TEST(FracGradient, LinkedPartsKeepTheSameNodesThroughEveryEdit) {
    TGradientFixture g;
    g->SetLinked(true);
    TGradientColorItems &color = g->ColorItems();
    TGradientOpacityItems &opacity = g->OpacityItems();
    auto inStep = [&] {
        if (NodePositions(color) != NodePositions(opacity))
            return false;
        for (int i = 0; i < color.GetCount(); ++i)
            if (color.GetNode(i)->Selected() != opacity.GetNode(i)->Selected())
                return false;
        return color.Rotation() == opacity.Rotation() && color.Smooth() == opacity.Smooth();
    };
    EXPECT_TRUE(inStep());
    color.InsertAt(50);
    EXPECT_TRUE(inStep());
    opacity.InsertAt(250);
    EXPECT_TRUE(inStep());
    color.GetNode(1)->SetPosition(150); // passes a neighbour
    EXPECT_TRUE(inStep());
    opacity.Delete(0);
    EXPECT_TRUE(inStep());
    color.SetRotation(-30);
    EXPECT_TRUE(inStep());
    opacity.Reverse();
    EXPECT_TRUE(inStep());
    color.Randomize();
    EXPECT_TRUE(inStep());
    opacity.SelectNext();
    EXPECT_TRUE(inStep());
    color.SetSmooth(false);
    EXPECT_TRUE(inStep());
    color.Clear();
    EXPECT_EQ(opacity.GetCount(), 0);
    g->SetLinked(false);
    color.InsertAt(10);
    EXPECT_EQ(opacity.GetCount(), 0);
}

TEST(FracGradient, EditsMakeUndoStepsThatReadTheGradientBack) {
    TGradientFixture g;
    THistoryList &history = g->History();
    int steps = history.GetCount();
    TGradientColorItems &color = g->ColorItems();
    const std::string before = GradientText(*g);
    const TGradientTable original = *g.Table;

    // Dragging one node several times in a row makes one step.
    for (int p = 101; p <= 110; ++p)
        color.GetNode(1)->SetPosition(p);
    EXPECT_EQ(history.GetCount(), steps + 1);
    EXPECT_EQ(history.GetCurrent()->Caption, "Adjust Node");
    // Selection changes update the current step instead of adding steps.
    color.SelectNext();
    color.SelectAll();
    EXPECT_EQ(history.GetCount(), steps + 1);
    int selected = 0;
    for (std::size_t at = 0; (at = history.GetCurrent()->State.find("selected=yes", at)) != std::string::npos;
         ++at)
        ++selected;
    EXPECT_EQ(selected, 5); // four colour nodes and the opacity node
    color.SelectNone();
    color.GetNode(0)->SetSelected(true);
    g->StartNewUndoStep();
    color.GetNode(1)->SetPosition(120);
    EXPECT_EQ(history.GetCount(), steps + 2);
    color.Invert();
    EXPECT_EQ(history.GetCount(), steps + 3);
    EXPECT_EQ(history.GetCurrent()->Caption, "Invert");
    EXPECT_TRUE(g->Modified());

    history.Undo();
    history.Undo();
    history.Undo();
    EXPECT_EQ(GradientText(*g), before);
    EXPECT_TRUE(SameGradientEntries(*g.Table, original));
    history.Redo();
    EXPECT_EQ(NodePositions(color), (std::vector<int>{0, 110, 200, 300}));
    // Restoring never records.
    EXPECT_EQ(history.GetCount(), steps + 3);
}

TEST(FracGradient, AdjustmentsBecomeOneStepOrAreTakenBack) {
    TGradientFixture g;
    THistoryList &history = g->History();
    int steps = history.GetCount();
    TGradientColorItems &color = g->ColorItems();
    const std::string before = GradientText(*g);

    g->BeginAdjust();
    color.GetColorNode(0)->SetRed(200);
    color.GetColorNode(1)->SetGreen(1);
    EXPECT_EQ(history.GetCount(), steps);
    g->EndAdjust(1, "Adjust Colors"); // cancelled: the saved values come back
    EXPECT_EQ(GradientText(*g), before);
    EXPECT_EQ(history.GetCount(), steps);

    g->BeginAdjust();
    color.GetColorNode(0)->SetRed(200);
    g->CancelAdjust();
    EXPECT_EQ(color.GetColorNode(0)->Red(), 0);
    color.GetColorNode(0)->SetRed(201);
    g->EndAdjust(0, "Adjust Colors");
    EXPECT_EQ(history.GetCount(), steps + 1);
    EXPECT_EQ(history.GetCurrent()->Caption, "Adjust Colors");
    EXPECT_EQ(color.GetColorNode(0)->Red(), 201);
}

TEST(FracGradient, OpacityBelowFullReportsTransparencyOnce) {
    TGradientFixture g;
    int transparencyEvents = 0, tableEvents = 0, lastFlags = 0;
    struct TCounter {
        int *Transparency, *Table, *Flags;
        void Transparent(TObject *) { ++*Transparency; }
        void TableChanged(TObject *, int Value) {
            ++*Table;
            *Flags = Value;
        }
    } counter{&transparencyEvents, &tableEvents, &lastFlags};
    g->OnTransparencyChange = MakeNotifyEvent<&TCounter::Transparent>(&counter);
    g->OnTableChange = MakeEvent<&TCounter::TableChanged>(&counter);
    g->OpacityItems().GetOpacityNode(0)->SetOpacity(100);
    EXPECT_TRUE(g->HasTransparency());
    EXPECT_EQ(TableByte(*g.Table, 777, 3), 100);
    g->OpacityItems().GetOpacityNode(0)->SetOpacity(120);
    EXPECT_EQ(transparencyEvents, 1);
    EXPECT_EQ(tableEvents, 2);
    EXPECT_EQ(lastFlags, 3);
    g->SetTitle("No table change");
    EXPECT_EQ(tableEvents, 2);
    g->OpacityItems().Clear();
    EXPECT_FALSE(g->HasTransparency());
    EXPECT_EQ(transparencyEvents, 2);
    EXPECT_EQ(TableByte(*g.Table, 777, 3), 255); // no opacity node: opaque
}

TEST(FracGradient, RandomizedPartsStayWithinTheirRanges) {
    TGradientFixture g;
    TGradientColorItems &color = g->ColorItems();
    for (int round = 0; round < 20; ++round) {
        color.RandomizeMisty();
        ASSERT_GE(color.GetCount(), 2);
        EXPECT_LT(color.GetNode(0)->Position(), 40);
        for (int i = 1; i < color.GetCount(); ++i) {
            int gap = color.GetNode(i)->Position() - color.GetNode(i - 1)->Position();
            EXPECT_GE(gap, 40);
            EXPECT_LT(gap, 190);
        }
        for (int i = 0; i < color.GetCount(); ++i) {
            TGradientColorNode *node = color.GetColorNode(i);
            for (int v : {node->Red(), node->Green(), node->Blue()})
                if (i % 2)
                    EXPECT_GE(v, 192);
                else
                    EXPECT_LE(v, 127);
        }
        color.RandomizeBright();
        for (int i = 0; i < color.GetCount(); ++i) {
            TGradientColorNode *node = color.GetColorNode(i);
            int low = 0;
            for (int v : {node->Red(), node->Green(), node->Blue()})
                low += v < 64;
            EXPECT_GE(low, 1);
        }
    }
}

TEST(FracGradient, RandomEditSequencesKeepTheModelAndTableConsistent) {
    std::mt19937 random(20261210);
    auto pick = [&random](int Range) { return static_cast<int>(random() % static_cast<unsigned>(Range)); };
    TGradientFixture g;
    for (int step = 1; step <= 300; ++step) {
        TGradientItems &items = pick(2) ? static_cast<TGradientItems &>(g->ColorItems())
                                        : static_cast<TGradientItems &>(g->OpacityItems());
        int count = items.GetCount();
        switch (pick(14)) {
        case 0:
        case 1:
            items.InsertAt(pick(400));
            break;
        case 2:
            if (count > 1)
                items.Delete(pick(count));
            break;
        case 3:
        case 4:
            if (count > 0)
                items.GetNode(pick(count))->SetPosition(pick(420) - 10);
            break;
        case 5:
            if (count > 0)
                items.GetNode(pick(count))->SetValue(static_cast<std::uint32_t>(random() & 0xFFFFFF));
            break;
        case 6:
            items.SetRotation(pick(500) - 250);
            break;
        case 7:
            items.Reverse();
            break;
        case 8:
            items.SetSmooth(!items.Smooth());
            break;
        case 9:
            g->SetLinked(!g->Linked());
            break;
        case 10:
            items.SelectNext();
            items.SetSelectedPosition(pick(400));
            break;
        case 11:
            g->History().Undo();
            break;
        case 12:
            g->History().Redo();
            break;
        default:
            items.Invert();
            break;
        }
        for (TGradientItems *part : {static_cast<TGradientItems *>(&g->ColorItems()),
                                     static_cast<TGradientItems *>(&g->OpacityItems())})
            for (int i = 0; i < part->GetCount(); ++i) {
                ASSERT_EQ(part->GetNode(i)->Index(), i) << step;
                ASSERT_GE(part->GetNode(i)->Position(), 0) << step;
                ASSERT_LT(part->GetNode(i)->Position(), 400) << step;
                if (i > 0) {
                    ASSERT_LT(part->GetNode(i - 1)->Position(), part->GetNode(i)->Position()) << step;
                }
            }
        if (g->Linked()) {
            ASSERT_EQ(NodePositions(g->ColorItems()), NodePositions(g->OpacityItems())) << step;
        }
        if (step % 30 == 0) {
            auto fresh = FreshCopy(*g);
            ASSERT_TRUE(SameGradientEntries(*g.Table, *fresh->Table)) << step;
        }
    }
}
