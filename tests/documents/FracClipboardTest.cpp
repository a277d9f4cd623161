// The clipboard manager: what kind a text is, who hears of a new kind and when, the control set's
// copy and paste hooks, and every kind through the real clipboard.
#include <windows.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "AdvCtrls.h"
#include "Clipbrd.h"
#include "FracClipboard.h"

namespace {

struct TKindCase {
    const char *Name;
    const char *Text;
    std::uint8_t Kind;
};

// One sample of every kind a text can be classified as.
const TKindCase KindCases[] = {
    {"integer", "123", cbColor},
    {"negative integer", "-16777216", cbColor},
    {"complex value", "1.5/-2", cbComplex},
    {"decimal", "1.5", cbText},
    {"plain words", "just some words", cbText},
    {"reset first", "Copy {\r\n  reset\r\n  fractal:\r\n}\r\n", cbFractal},
    {"fractal", "Copy {\r\nfractal:\r\n  width=320\r\n}\r\n", cbFractal},
    {"gradient", "Copy {\r\ngradient:\r\n  smooth=yes\r\n}\r\n", cbGradient},
    {"alpha", "Copy {\r\nalpha:\r\n  smooth=no\r\n}\r\n", cbGradient},
    {"opacity", "Copy {\r\nopacity:\r\n  smooth=no\r\n}\r\n", cbGradient},
    {"layer", "Copy {\r\nlayer:\r\n  caption=\"Background\"\r\n}\r\n", cbLayer},
    {"location", "Copy {\r\nlocation:\r\n  magn=1\r\n}\r\n", cbLocation},
    {"transformation", "Copy {\r\ntransform:\r\n  file=\"a.oxf\"\r\n}\r\n", cbTransformation},
    {"formula", "Copy {\r\nformula:\r\n  maxiter=100\r\n}\r\n", cbFormula},
    {"inside", "Copy {\r\ninside:\r\n  transfer=none\r\n}\r\n", cbColoring},
    {"outside", "Copy {\r\noutside:\r\n  transfer=linear\r\n}\r\n", cbColoring},
    {"files", "Copy {\r\nfiles:\r\n  file=\"c:\\\\a.ofr\"\r\n}\r\n", cbFiles},
    {"other section", "Copy {\r\ncolors:\r\n  x=1\r\n}\r\n", cbEntries},
    {"other key", "Mandel {\r\n  z = 0\r\n}\r\n", cbEntries},
    {"two entries", "One {\r\n}\r\nTwo {\r\n}\r\n", cbEntries},
    {"slashes in plain text", "not/an/entry", cbComplex},
};

// Counts the notifications of a manager.
struct TNotifyCounter {
    int Count = 0;
    void Changed(TObject *) { ++Count; }
};

class TClipboardManagerTest : public testing::Test {
protected:
    void SetUp() override {
        Clipboard().Clear();
        Manager = std::make_unique<TClipboardManager>();
        Manager->AddHandler(MakeNotifyEvent<&TNotifyCounter::Changed>(&Counter));
    }
    void TearDown() override { Manager.reset(); }

    // Puts text on the clipboard the way another program would: the manager does not know.
    static void PutForeignText(const std::string &Text) {
        ASSERT_TRUE(OpenClipboard(nullptr));
        EmptyClipboard();
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, Text.size() + 1);
        memcpy(GlobalLock(block), Text.c_str(), Text.size() + 1);
        GlobalUnlock(block);
        SetClipboardData(CF_TEXT, block);
        CloseClipboard();
    }

    TNotifyCounter Counter;
    std::unique_ptr<TClipboardManager> Manager;
};

} // namespace

TEST(ClipboardKinds, TextsAreClassifiedByTheirFirstItem) {
    for (const TKindCase &c : KindCases)
        EXPECT_EQ(TClipboardManager::ClassifyText(c.Text), c.Kind) << c.Name << ": " << c.Text;
}

TEST_F(TClipboardManagerTest, EveryKindRoundTripsThroughTheRealClipboard) {
    for (const TKindCase &c : KindCases) {
        SCOPED_TRACE(c.Name);
        Manager->SetText(c.Text, c.Kind);
        EXPECT_EQ(Manager->GetKind(), c.Kind);
        EXPECT_EQ(Manager->GetText(), c.Text);
        // Another program put it there: classifying the clipboard finds the same kind.
        Manager->Clear();
        PutForeignText(c.Text);
        Manager->UpdateContents();
        EXPECT_EQ(Manager->GetKind(), c.Kind);
        EXPECT_EQ(Manager->GetText(), c.Text);
    }
    // The browser's entry kinds hold until the next classification.
    Manager->SetText("Mandel {\r\n}\r\n", cbFormulaEntries);
    EXPECT_EQ(Manager->GetKind(), cbFormulaEntries);
    Manager->UpdateContents();
    EXPECT_EQ(Manager->GetKind(), cbEntries);

    Manager->Clear();
    EXPECT_EQ(Manager->GetKind(), cbNothing);
    try {
        Manager->GetText();
        ADD_FAILURE() << "text from an empty clipboard";
    } catch (const EClipboardError &E) {
        EXPECT_EQ(E.Message(), "Clipboard does not contain suitable data");
    }
}

TEST_F(TClipboardManagerTest, ObserversHearOfEveryNewKindAndEveryNewFiles) {
    const std::string files = "Copy {\r\nfiles:\r\n}\r\n";
    const std::string layer = "Copy {\r\nlayer:\r\n}\r\n";
    Counter.Count = 0;
    Manager->SetText(files, cbFiles);
    Manager->SetText(files, cbFiles);
    EXPECT_EQ(Counter.Count, 2) << "copying files twice";

    Counter.Count = 0;
    Manager->SetText(layer, cbLayer);
    Manager->SetText(layer, cbLayer);
    EXPECT_EQ(Counter.Count, 1) << "copying two layers in turn";

    Manager->Clear();
    Counter.Count = 0;
    Manager->Clear();
    EXPECT_EQ(Counter.Count, 0) << "clearing an empty clipboard";
    Manager->UpdateContents();
    EXPECT_EQ(Counter.Count, 0) << "classifying an unchanged clipboard";

    PutForeignText("42");
    Manager->UpdateContents();
    EXPECT_EQ(Counter.Count, 1);
    EXPECT_EQ(Manager->GetKind(), cbColor);
}

TEST_F(TClipboardManagerTest, ControlsCopyAndAskThroughTheHooks) {
    // A complex edit copies "re/im": the kind is known without reading the clipboard.
    Clipboard().SetAsText("0.25/-1");
    NotifyClipboardCopy(ckComplex);
    EXPECT_EQ(Manager->GetKind(), cbComplex);
    struct TQuery {
        std::uint8_t Code;
        bool Expected;
    };
    const auto expectPaste = [](std::initializer_list<TQuery> Queries) {
        for (const TQuery &q : Queries) {
            bool allowed = !q.Expected;
            QueryClipboardPaste(q.Code, allowed);
            EXPECT_EQ(allowed, q.Expected) << "code " << int(q.Code);
        }
    };
    expectPaste({{ckPlainText, true}, {ckComplex, true}, {ckColor, false}});

    Clipboard().SetAsText("255");
    NotifyClipboardCopy(ckColor);
    EXPECT_EQ(Manager->GetKind(), cbColor);
    expectPaste({{ckPlainText, true}, {ckComplex, false}, {ckColor, true}});

    // Plain text copied from an edit is classified.
    Clipboard().SetAsText("Copy {\r\nlocation:\r\n}\r\n");
    NotifyClipboardCopy(ckPlainText);
    EXPECT_EQ(Manager->GetKind(), cbLocation);

    Manager->Clear();
    expectPaste({{ckPlainText, false}, {ckComplex, false}, {ckColor, false}});
    // Codes the manager does not know leave the answer alone.
    bool allowed = true;
    QueryClipboardPaste(7, allowed);
    EXPECT_TRUE(allowed);

    // Without a manager nobody answers.
    Manager.reset();
    allowed = true;
    QueryClipboardPaste(ckColor, allowed);
    EXPECT_TRUE(allowed);
}
