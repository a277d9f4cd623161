// The file history: its registry format, the order and limits of its items, the windows it
// remembers, the numbered items of the File menu, and the open dispatcher's refusals.
#include <windows.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileHistory.h"
#include "Forms.h"
#include "GenRegistry.h"
#include "Menus.h"
#include "Registry.h"
#include "tests/foundation/RegistryTestSupport.h"

namespace {

// The forms the history binds to, made for the tests that need them.
class FileHistoryTest : public RegistryTest {
protected:
    static void SetUpTestSuite() {
        RegistryTest::SetUpTestSuite();
        FOwnsForms = Application == nullptr;
        if (FOwnsForms)
            InitializeForms();
    }
    static void TearDownTestSuite() {
        if (FOwnsForms)
            FinalizeForms();
        RegistryTest::TearDownTestSuite();
    }

    // A document window with a window handle at the given rectangle.
    static std::unique_ptr<TForm> MakeWindow(int Left, int Top, int Width, int Height) {
        auto form = std::make_unique<TForm>(nullptr);
        form->SetBounds(Left, Top, Width, Height);
        form->HandleNeeded();
        return form;
    }

    static std::vector<std::string> FileNames(const TFileHistoryManager &History) {
        std::vector<std::string> names;
        for (int i = 0; i < History.Count(); ++i)
            names.push_back(History.Items(i).FileName + (History.Items(i).Entry.empty() ? "" : "|") +
                            History.Items(i).Entry);
        return names;
    }

    static inline bool FOwnsForms = false;
};

struct TNotifications {
    int Count = 0;
    void Changed(TObject *) { ++Count; }
};

// ---------------------------------------------------------------------------------------------
// Registry

struct TStoredItem {
    const char *FileName, *Entry, *Title;
    int Left, Top, Right, Bottom, Flags;
};

void WriteStoredItem(TRegistry &Registry, int Index, const TStoredItem &Item) {
    const std::string prefix = "Item" + std::to_string(Index);
    Registry.WriteString(prefix + "FileName", Item.FileName);
    Registry.WriteString(prefix + "Entry", Item.Entry);
    Registry.WriteString(prefix + "Title", Item.Title);
    Registry.WriteInteger(prefix + "Left", Item.Left);
    Registry.WriteInteger(prefix + "Top", Item.Top);
    Registry.WriteInteger(prefix + "Right", Item.Right);
    Registry.WriteInteger(prefix + "Bottom", Item.Bottom);
    Registry.WriteInteger(prefix + "Flags", Item.Flags);
}

TEST_F(FileHistoryTest, RegistryValuesReadBackAndAreWrittenInTheirFormat) {
    {
        TRegistry registry;
        OpenSection(registry, "FileHistory");
        registry.WriteInteger("Count", 5);
        WriteStoredItem(registry, 0, {"C:\\f\\a.ofr", "", "", 10, 20, 300, 400, 7});
        // Only a file name and an entry: the others take their defaults.
        registry.WriteString("Item1FileName", "C:\\p\\set.opr");
        registry.WriteString("Item1Entry", "Spiral");
        // Neither file nor entry: dropped.
        WriteStoredItem(registry, 2, {"", "", "Lost", 1, 2, 3, 4, 5});
        WriteStoredItem(registry, 3, {"", "Lonely", "Its title", -5, -6, 100, 200, -1});
        // Item 4 is missing altogether: dropped as well.
    }
    TRegistryManager manager;
    TFileHistoryManager history;
    TNotifications told;
    history.AddHandler(MakeNotifyEvent<&TNotifications::Changed>(&told));
    history.LoadFromRegistry(manager);
    EXPECT_GE(told.Count, 1);
    ASSERT_EQ(history.Count(), 3);
    const TFileHistoryItem &first = history.Items(0), &second = history.Items(1), &third = history.Items(2);
    EXPECT_EQ(first.FileName, "C:\\f\\a.ofr");
    EXPECT_EQ(first.Bounds, (TFileHistoryBounds{10, 20, 300, 400}));
    EXPECT_EQ(first.Flags, 7);
    EXPECT_EQ(first.Window, nullptr);
    EXPECT_EQ(second.Entry, "Spiral");
    EXPECT_EQ(second.Title, "");
    EXPECT_EQ(second.Bounds, TFileHistoryBounds{});
    EXPECT_EQ(second.Flags, -1);
    EXPECT_EQ(third.FileName, "");
    EXPECT_EQ(third.Entry, "Lonely");
    EXPECT_EQ(third.Title, "Its title");
    EXPECT_EQ(third.Bounds, (TFileHistoryBounds{-5, -6, 100, 200}));

    ClearBaseKey();
    history.SaveToRegistry(manager);
    const TStoredItem expected[] = {
        {"C:\\f\\a.ofr", "", "", 10, 20, 300, 400, 7},
        {"C:\\p\\set.opr", "Spiral", "", 0, 0, 0, 0, -1},
        {"", "Lonely", "Its title", -5, -6, 100, 200, -1},
    };
    TRegistry registry;
    OpenSection(registry, "FileHistory");
    TStringList names;
    registry.GetValueNames(names);
    EXPECT_EQ(names.Count(), 1 + 3 * 8);
    EXPECT_EQ(registry.ReadInteger("Count"), 3);
    for (int i = 0; i < 3; ++i) {
        const TStoredItem &e = expected[i];
        const std::string prefix = "Item" + std::to_string(i);
        EXPECT_EQ(registry.ReadString(prefix + "FileName"), e.FileName) << i;
        EXPECT_EQ(registry.ReadString(prefix + "Entry"), e.Entry) << i;
        EXPECT_EQ(registry.ReadString(prefix + "Title"), e.Title) << i;
        EXPECT_EQ(registry.ReadInteger(prefix + "Left"), e.Left) << i;
        EXPECT_EQ(registry.ReadInteger(prefix + "Top"), e.Top) << i;
        EXPECT_EQ(registry.ReadInteger(prefix + "Right"), e.Right) << i;
        EXPECT_EQ(registry.ReadInteger(prefix + "Bottom"), e.Bottom) << i;
        EXPECT_EQ(registry.ReadInteger(prefix + "Flags"), e.Flags) << i;
    }

    // And what was written reads back the same.
    TFileHistoryManager again;
    again.LoadFromRegistry(manager);
    EXPECT_EQ(FileNames(again), FileNames(history));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(again.Items(i).Title, history.Items(i).Title);
        EXPECT_EQ(again.Items(i).Bounds, history.Items(i).Bounds);
        EXPECT_EQ(again.Items(i).Flags, history.Items(i).Flags);
    }
}

TEST_F(FileHistoryTest, StoredCountIsCappedAndAnEmptyKeyGivesAnEmptyHistory) {
    struct TCase {
        int StoredCount, StoredItems, Expected;
    } cases[] = {{40, 40, 32}, {33, 33, 32}, {32, 32, 32}, {2, 5, 2}, {-3, 5, 0}, {0, 5, 0}};
    TRegistryManager manager;
    for (const TCase &c : cases) {
        ClearBaseKey();
        {
            TRegistry registry;
            OpenSection(registry, "FileHistory");
            registry.WriteInteger("Count", c.StoredCount);
            for (int i = 0; i < c.StoredItems; ++i)
                registry.WriteString("Item" + std::to_string(i) + "FileName",
                                     "C:\\f" + std::to_string(i) + ".ofr");
        }
        TFileHistoryManager history;
        history.DocumentOpened("C:\\before.ofr", "");
        history.LoadFromRegistry(manager);
        ASSERT_EQ(history.Count(), c.Expected) << c.StoredCount;
        for (int i = 0; i < history.Count(); ++i)
            EXPECT_EQ(history.Items(i).FileName, "C:\\f" + std::to_string(i) + ".ofr");
    }
    ClearBaseKey();
    TFileHistoryManager history;
    history.LoadFromRegistry(manager);
    EXPECT_EQ(history.Count(), 0);
}

// ---------------------------------------------------------------------------------------------
// Order and limits

TEST_F(FileHistoryTest, NewestFirstReopenedMovesUpAndTheThirtyThirdPushesOutTheOldest) {
    TFileHistoryManager history;
    TNotifications told;
    history.AddHandler(MakeNotifyEvent<&TNotifications::Changed>(&told));
    for (int i = 1; i <= 32; ++i)
        history.DocumentOpened("C:\\docs\\f" + std::to_string(i) + ".ofr", "");
    ASSERT_EQ(history.Count(), 32);
    EXPECT_EQ(history.Items(0).FileName, "C:\\docs\\f32.ofr");
    EXPECT_EQ(history.Items(31).FileName, "C:\\docs\\f1.ofr");
    EXPECT_EQ(told.Count, 32);
    // A changed configuration (the history size) is passed on, so that menus are rebuilt.
    history.ConfigurationChanged(nullptr);
    EXPECT_EQ(told.Count, 33);
    EXPECT_TRUE(history.OpenPending());

    // The same document in other letter case moves up, nothing is added.
    history.DocumentOpened("c:\\DOCS\\F5.OFR", "");
    ASSERT_EQ(history.Count(), 32);
    EXPECT_EQ(history.Items(0).FileName, "C:\\docs\\f5.ofr");
    EXPECT_EQ(history.Items(1).FileName, "C:\\docs\\f32.ofr");

    // The 33rd distinct document pushes the oldest out.
    history.DocumentOpened("C:\\docs\\f33.ofr", "");
    ASSERT_EQ(history.Count(), 32);
    EXPECT_EQ(history.Items(0).FileName, "C:\\docs\\f33.ofr");
    EXPECT_EQ(history.Items(31).FileName, "C:\\docs\\f2.ofr");

    // An entry of a file is another document than the file, and than another entry of it.
    history.DocumentOpened("C:\\docs\\f33.ofr", "Entry");
    history.DocumentOpened("C:\\docs\\f33.ofr", "entry");
    history.DocumentOpened("C:\\docs\\f33.ofr", "Other");
    EXPECT_EQ(FileNames(history)[0], "C:\\docs\\f33.ofr|Other");
    EXPECT_EQ(FileNames(history)[1], "C:\\docs\\f33.ofr|Entry");
    EXPECT_EQ(FileNames(history)[2], "C:\\docs\\f33.ofr");

    // New documents never match each other.
    TFileHistoryManager fresh;
    fresh.DocumentCreated();
    fresh.DocumentCreated();
    EXPECT_EQ(fresh.Count(), 2);
}

TEST_F(FileHistoryTest, AnUnsavedNewDocumentLeavesNoTraceAndASavedOneKeepsItsWindowState) {
    TFileHistoryManager history;
    history.DocumentOpened("C:\\old.ofr", "");
    history.DocumentCreated();
    EXPECT_EQ(history.GetWindowFlags(), -1);
    auto window = MakeWindow(50, 60, 300, 200);
    history.AttachWindow(window.get());
    ASSERT_EQ(history.Items(0).Window, window.get());
    history.DocumentClosed(window.get(), 9);
    EXPECT_EQ(FileNames(history), std::vector<std::string>{"C:\\old.ofr"});
    EXPECT_FALSE(history.OpenPending());

    // Created, then saved under a name: the item takes the name and title, and closing keeps it
    // with the window's rectangle and flags.
    history.DocumentCreated();
    history.AttachWindow(window.get());
    history.DocumentSaved(window.get(), "C:\\new.ofr", "New one", "");
    EXPECT_EQ(FileNames(history), (std::vector<std::string>{"C:\\new.ofr", "C:\\old.ofr"}));
    EXPECT_EQ(history.Items(0).Title, "New one");
    EXPECT_EQ(history.Items(0).Window, window.get());
    history.DocumentClosed(window.get(), 9);
    ASSERT_EQ(history.Count(), 2);
    EXPECT_EQ(history.Items(0).Window, nullptr);
    EXPECT_EQ(history.Items(0).Flags, 9);
    EXPECT_EQ(history.Items(0).Bounds, (TFileHistoryBounds{50, 60, 350, 260}));
    window.reset();

    // Reopened, a window takes the stored rectangle, and the flags are handed back...
    history.DocumentOpened("C:\\NEW.ofr", "");
    EXPECT_EQ(history.GetWindowFlags(), 9);
    auto reopened = MakeWindow(0, 0, 100, 100);
    history.AttachWindow(reopened.get());
    EXPECT_EQ(reopened->Left(), 50);
    EXPECT_EQ(reopened->Top(), 60);
    EXPECT_EQ(reopened->Width(), 300);
    EXPECT_EQ(reopened->Height(), 200);
    // ...but a second window made while the open is pending is not bound.
    auto other = MakeWindow(5, 5, 100, 100);
    history.AttachWindow(other.get());
    EXPECT_EQ(other->Left(), 5);
    EXPECT_EQ(history.Items(0).Window, reopened.get());
    history.DocumentClosed(reopened.get(), 3);

    // A parameter set keeps its former position but the size its image needs.
    history.DocumentOpened("C:\\NEW.ofr", "");
    history.KeepWindowSize();
    EXPECT_TRUE(history.PositionOnly());
    auto sized = MakeWindow(0, 0, 120, 90);
    history.AttachWindow(sized.get());
    EXPECT_EQ(sized->Left(), 50);
    EXPECT_EQ(sized->Top(), 60);
    EXPECT_EQ(sized->Width(), 120);
    EXPECT_EQ(sized->Height(), 90);

    // Saving under the same names (without case) changes nothing; a save of an unknown window is
    // ignored.
    history.DocumentSaved(sized.get(), "c:\\new.OFR", "new ONE", "");
    EXPECT_EQ(history.Items(0).Title, "New one");
    history.DocumentSaved(other.get(), "C:\\x.ofr", "x", "");
    EXPECT_EQ(history.Count(), 2);
    history.SetPendingTitle("Pending");
    EXPECT_EQ(history.Items(0).Title, "Pending");
}

// ---------------------------------------------------------------------------------------------
// The File menu

// A File menu as the windows build it: two commands, a separator, the nine history items, a
// separator and Exit.
std::unique_ptr<TMenuItem> MakeFileMenu() {
    auto menu = std::make_unique<TMenuItem>(nullptr);
    for (const char *caption : {"&New", "&Open...", "-"}) {
        auto *item = new TMenuItem(nullptr);
        item->SetCaption(caption);
        menu->Add(item);
    }
    for (int i = 0; i < TFileHistoryManager::MenuItems; ++i) {
        auto *item = new TMenuItem(nullptr);
        item->SetCaption("history");
        item->SetVisible(false);
        menu->Add(item);
    }
    for (const char *caption : {"-", "E&xit"}) {
        auto *item = new TMenuItem(nullptr);
        item->SetCaption(caption);
        menu->Add(item);
    }
    return menu;
}

TEST_F(FileHistoryTest, MenuShowsTheNewestItemsWithTheirNumbersTitlesAndShortenedPaths) {
    const std::string longPath =
        "C:\\A folder with a rather long name\\and another folder with a long name\\picture.ofr";
    TFileHistoryManager history;
    history.DocumentOpened(longPath, "");
    history.DocumentOpened("C:\\grad.ogr", "Sunset");
    history.DocumentOpened("C:\\a.ofr", "");
    history.DocumentOpened("C:\\p\\set.opr", "Spiral");
    history.SetPendingTitle("Spiral title");
    history.DocumentCreated(); // no file: never listed

    struct TCase {
        int HistorySize;
        std::vector<std::string> Captions; // of the shown items
    } cases[] = {
        {9, {"&1 Spiral title", "&2 C:\\a.ofr", "&3 Sunset", "&4 "}},
        {20, {"&1 Spiral title", "&2 C:\\a.ofr", "&3 Sunset", "&4 "}},
        {2, {"&1 Spiral title", "&2 C:\\a.ofr"}},
        {0, {}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.HistorySize);
        auto menu = MakeFileMenu();
        history.UpdateMenu(*menu, c.HistorySize);
        const int first = 3;
        EXPECT_EQ(menu->Items(first - 1)->Visible(), !c.Captions.empty());
        for (int k = 0; k < TFileHistoryManager::MenuItems; ++k) {
            const TMenuItem &item = *menu->Items(first + k);
            const bool shown = k < static_cast<int>(c.Captions.size());
            EXPECT_EQ(item.Visible(), shown) << k;
            if (!shown)
                continue;
            EXPECT_EQ(item.Caption().substr(0, c.Captions[k].size()), c.Captions[k]) << k;
            EXPECT_EQ(item.Tag(), k + 1) << k; // the history index: the new document is item 0
            EXPECT_EQ(item.OnClick, MakeNotifyEvent<&TFileHistoryManager::MenuItemClick>(&history));
        }
        // The separator after the history and Exit stay.
        EXPECT_TRUE(menu->Items(first + TFileHistoryManager::MenuItems)->Visible());
        if (c.Captions.size() < 4)
            continue;
        EXPECT_EQ(menu->Items(first)->Hint(), "Opens 'Spiral title' in 'C:\\p\\set.opr'.");
        EXPECT_EQ(menu->Items(first + 1)->Hint(), "Opens 'C:\\a.ofr'.");
        EXPECT_EQ(menu->Items(first + 2)->Hint(), "Opens 'Sunset' in 'C:\\grad.ogr'.");
        EXPECT_EQ(menu->Items(first + 3)->Hint(), "Opens '" + longPath + "'.");
        // The long path is shortened in the middle: drive and file name stay.
        const std::string caption = menu->Items(first + 3)->Caption();
        EXPECT_LT(caption.size(), longPath.size() + 3);
        EXPECT_NE(caption.find("..."), std::string::npos) << caption;
        EXPECT_EQ(caption.substr(0, 6), "&4 C:\\") << caption;
        EXPECT_EQ(caption.substr(caption.size() - 12), "\\picture.ofr") << caption;
    }

    // A click reopens through the dispatcher; a file that is gone is reported and leaves the list.
    auto menu = MakeFileMenu();
    history.UpdateMenu(*menu, 9);
    try {
        menu->Items(4)->Click();
        ADD_FAILURE() << "opening was not refused";
    } catch (const Exception &error) {
        EXPECT_EQ(std::string(error.what()).substr(0, 28), "Could not open 'C:\\a.ofr'.\r\n");
    }
    EXPECT_EQ(FileNames(history),
              (std::vector<std::string>{"", "C:\\p\\set.opr|Spiral", "C:\\grad.ogr|Sunset", longPath}));
}

// ---------------------------------------------------------------------------------------------
// The open dispatcher

TEST(OpenDocumentFileTest, ExtensionsChooseTheKindAndEveryKindRefusesWithTheFullPath) {
    struct TCase {
        const char *FileName;
        TDocumentKind Kind;
    } cases[] = {
        {"C:\\f\\a.ofr", TDocumentKind::Fractal},       {"C:\\f\\A.OFR", TDocumentKind::Fractal},
        {"C:\\f\\s.opr", TDocumentKind::ParameterFile}, {"C:\\f\\s.Par", TDocumentKind::ParameterFile},
        {"C:\\f\\g.ogr", TDocumentKind::GradientFile},  {"C:\\f\\g.OAL", TDocumentKind::GradientFile},
        {"C:\\f\\p.map", TDocumentKind::PaletteMap},    {"C:\\f\\j.orj", TDocumentKind::RenderJob},
        {"C:\\f\\notes.txt", TDocumentKind::Text},      {"C:\\f\\formulas.ofm", TDocumentKind::Text},
        {"C:\\f\\no extension", TDocumentKind::Text},   {"C:\\f.ofr\\inside", TDocumentKind::Text},
    };
    for (const TCase &c : cases) {
        EXPECT_EQ(DocumentKindOf(c.FileName), c.Kind) << c.FileName;
        try {
            OpenDocumentFile(c.FileName);
            ADD_FAILURE() << c.FileName << " was opened";
        } catch (const Exception &error) {
            EXPECT_EQ(std::string(error.what()), std::string("Could not open '") + c.FileName + "'.");
        }
    }
    // A relative name is reported with its full path.
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    std::string expected = std::string("Could not open '") + folder;
    if (expected.back() != '\\')
        expected += '\\';
    expected += "rel.ofr'.";
    try {
        OpenDocumentFile("rel.ofr");
        ADD_FAILURE();
    } catch (const Exception &error) {
        EXPECT_EQ(std::string(error.what()), expected);
    }
}

// A name on the command line may name an entry: "<file>:<entry>" of a parameter or gradient file.
TEST(OpenDocumentFileTest, ANameWithAColonAfterAParameterFileNamesAnEntry) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    // An existing file is always itself, whatever its name holds.
    const std::string existing = std::string(temp) + "ov-split-test.txt";
    std::ofstream(existing) << "x";
    struct TCase {
        std::string Name;
        bool Split;
        const char *FileName, *Entry;
    } cases[] = {
        {"C:\\p\\set.opr:Spiral", true, "C:\\p\\set.opr", "Spiral"},
        {"C:\\p\\frac.PAR:Small_Mandel", true, "C:\\p\\frac.PAR", "Small_Mandel"},
        {"rel.opr:A b:c", false, "", ""}, // the last colon counts: ".opr:A b" is no kind with entries
        {"C:\\g\\grad.ogr:Sunset", true, "C:\\g\\grad.ogr", "Sunset"},
        {"C:\\p\\set.opr:", false, "", ""},
        {"C:\\p\\set.opr", false, "", ""},
        {"C:set.opr", false, "", ""},
        {"C:\\f\\a.ofr:Entry", false, "", ""},
        {"C:\\f\\notes.txt:Entry", false, "", ""},
        {existing, false, "", ""},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        std::string file, entry;
        EXPECT_EQ(SplitDocumentEntry(c.Name, file, entry), c.Split);
        EXPECT_EQ(file, c.FileName);
        EXPECT_EQ(entry, c.Entry);
    }
    DeleteFileA(existing.c_str());
}

} // namespace
