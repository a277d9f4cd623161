#include "GenRegistry.h"
#include "GenUtils.h"

#include <gtest/gtest.h>

#include <cmath>

#include "RegistryTestSupport.h"

namespace {

using GenRegistry = RegistryTest;

TEST_F(GenRegistry, BaseKeyCarriesMajorAndMinorVersion) {
    EXPECT_EQ(RegistryBaseKey(), "\\Software\\Orbisk Vantel\\3.0\\");
}

TEST_F(GenRegistry, ConnectingCreatesTheBaseKey) {
    TRegistryManager Manager;
    EXPECT_TRUE(Manager.Connected());
    TRegistry Registry;
    EXPECT_TRUE(Registry.KeyExists(RegistryBaseKey()));
}

TEST_F(GenRegistry, NoBaseKeyMeansNoConnection) {
    FinalizeGenRegistry();
    try {
        TRegistryManager Manager;
        ADD_FAILURE() << "connected without a base key";
    } catch (const Exception &E) {
        EXPECT_EQ(E.Message(), "Could not connect to registry");
    }
    InitializeGenRegistry();
}

TEST_F(GenRegistry, WritesStoreTheDocumentedTypes) {
    TRegistryManager Manager;
    Manager.WriteInteger("Alpha", "Int", -7);
    Manager.WriteBool("Alpha", "Yes", true);
    Manager.WriteBool("Alpha", "No", false);
    Manager.WriteString("Alpha", "Text", "a b\\c");
    Manager.WriteFloat("Alpha", "Float", 2.5L);

    TRegistry Registry;
    OpenSection(Registry, "Alpha");
    EXPECT_EQ(Registry.GetDataType("Int"), rdInteger);
    EXPECT_EQ(Registry.ReadInteger("Int"), -7);
    EXPECT_EQ(Registry.GetDataType("Yes"), rdInteger);
    EXPECT_EQ(Registry.ReadInteger("Yes"), 1);
    EXPECT_EQ(Registry.ReadInteger("No"), 0);
    EXPECT_EQ(Registry.GetDataType("Text"), rdString);
    EXPECT_EQ(Registry.ReadString("Text"), "a b\\c");
    EXPECT_EQ(Registry.GetDataType("Float"), rdString);
    EXPECT_EQ(Registry.ReadString("Float"), "2.5");
}

// Every kind of trouble reads as the caller's default, never as an error.
TEST_F(GenRegistry, ReadsFallBackToTheDefault) {
    {
        TRegistry Registry;
        OpenSection(Registry, "Beta");
        Registry.WriteString("IntAsText", "12");
        Registry.WriteInteger("TextAsInt", 12);
        Registry.WriteString("Comma", "2,5");
        Registry.WriteString("Words", "two");
        Registry.WriteString("Empty", "");
        Registry.WriteString("Padded", " 1.25 ");
        const std::uint8_t Bytes[4] = {1, 0, 0, 0};
        Registry.WriteBinaryData("IntAsBinary", Bytes, 4);
        Registry.WriteString("Infinite", "INF");
    }
    TRegistryManager Manager;
    EXPECT_EQ(Manager.ReadInteger("Beta", "IntAsText", 5), 5);
    EXPECT_EQ(Manager.ReadInteger("Beta", "IntAsBinary", 5), 5);
    EXPECT_EQ(Manager.ReadInteger("Beta", "Missing", 5), 5);
    EXPECT_EQ(Manager.ReadInteger("NoSuchSection", "IntAsText", 5), 5);
    EXPECT_TRUE(Manager.ReadBool("Beta", "IntAsText", true));
    EXPECT_FALSE(Manager.ReadBool("Beta", "IntAsText", false));
    EXPECT_TRUE(Manager.ReadBool("Beta", "TextAsInt", false));

    std::string Value = "junk";
    Manager.ReadString("Beta", "TextAsInt", Value, "dflt");
    EXPECT_EQ(Value, "dflt");
    Manager.ReadString("Beta", "Missing", Value, "dflt");
    EXPECT_EQ(Value, "dflt");
    Manager.ReadString("Beta", "Empty", Value, "dflt");
    EXPECT_EQ(Value, "");
    Manager.ReadString("Beta", "IntAsText", Value, "dflt");
    EXPECT_EQ(Value, "12");

    EXPECT_EQ(Manager.ReadFloat("Beta", "Comma", 7.0L), 7.0L);
    EXPECT_EQ(Manager.ReadFloat("Beta", "Words", 7.0L), 7.0L);
    EXPECT_EQ(Manager.ReadFloat("Beta", "Empty", 7.0L), 7.0L);
    EXPECT_EQ(Manager.ReadFloat("Beta", "TextAsInt", 7.0L), 7.0L);
    EXPECT_EQ(Manager.ReadFloat("Beta", "Infinite", 7.0L), 7.0L);
    EXPECT_EQ(Manager.ReadFloat("Beta", "IntAsText", 7.0L), 12.0L);
    EXPECT_EQ(Manager.ReadFloat("Beta", "Padded", 7.0L), 1.25L);
}

// The float text has 19 significant digits: every double (the type of the stored settings)
// comes back bit for bit, and an 80-bit value to within its 19th digit.
TEST_F(GenRegistry, FloatsSurviveAWriteAndRead) {
    const double Doubles[] = {1.0 / 3.0, -2.0 / 7.0, 1e-300, 6.02214076e23, 0.1, 2.5, 0.0, 38218.75};
    TRegistryManager Manager;
    for (double X : Doubles) {
        Manager.WriteFloat("Gamma", "X", X);
        EXPECT_EQ(double(Manager.ReadFloat("Gamma", "X", 99.0L)), X) << FloatToStrExact(X);
    }
    const long double Extended[] = {1.0L / 3.0L, -2.0L / 7.0L, 1e-4000L, 1e4000L};
    for (long double X : Extended) {
        Manager.WriteFloat("Gamma", "X", X);
        const long double Back = Manager.ReadFloat("Gamma", "X", 99.0L);
        EXPECT_LE(std::fabs(Back - X), std::fabs(X) * 1e-18L) << FloatToStrExact(X);
    }
}

TEST_F(GenRegistry, FormValuesLiveUnderTheFormsKey) {
    TRegistryManager Manager;
    Manager.WriteFormInteger("MainForm", "DockBarRolledUp", 3);
    Manager.WriteFormBool("MainForm", "Flag", true);
    Manager.WriteFormString("MainForm", "Name", "x");
    Manager.WriteFormFloat("MainForm", "Ratio", 0.75L);
    Manager.WriteFormInteger("", "Lost", 1);

    TRegistry Registry;
    EXPECT_TRUE(Registry.KeyExists(RegistryBaseKey() + "Forms\\MainForm"));
    EXPECT_EQ(Manager.ReadFormInteger("MainForm", "DockBarRolledUp", 0), 3);
    EXPECT_TRUE(Manager.ReadFormBool("MainForm", "Flag", false));
    std::string Text;
    Manager.ReadFormString("MainForm", "Name", Text, "");
    EXPECT_EQ(Text, "x");
    EXPECT_EQ(Manager.ReadFormFloat("MainForm", "Ratio", 0), 0.75L);
    EXPECT_EQ(Manager.ReadFormInteger("", "DockBarRolledUp", 9), 9);
    Manager.ReadFormString("", "Name", Text, "d");
    EXPECT_EQ(Text, "d");
    EXPECT_EQ(Manager.ReadFormInteger("OtherForm", "DockBarRolledUp", 9), 9);
}

TEST_F(GenRegistry, AccessorOpensRelativeAndAbsoluteKeysAndDeletesTrees) {
    TRegistry Registry;
    ASSERT_TRUE(Registry.OpenKey(RegistryBaseKey() + "Tree", true));
    EXPECT_EQ(Registry.CurrentPath(), RegistryBaseKey().substr(1) + "Tree");
    ASSERT_TRUE(Registry.OpenKey("Sub\\Leaf", true)); // relative to the current key
    Registry.WriteInteger("N", 1);
    EXPECT_TRUE(Registry.ValueExists("N"));
    EXPECT_FALSE(Registry.ValueExists("M"));
    EXPECT_EQ(Registry.GetDataType("M"), rdUnknown);
    EXPECT_THROW(Registry.ReadInteger("M"), ERegistryException);
    EXPECT_THROW(Registry.ReadString("N"), ERegistryException);
    EXPECT_EQ(Registry.ReadString("M"), "");
    Registry.WriteString("S", "t");
    TStringList Names;
    Registry.GetValueNames(Names);
    Names.Sort();
    ASSERT_EQ(Names.Count(), 2);
    EXPECT_EQ(Names[0], "N");
    EXPECT_EQ(Names[1], "S");
    EXPECT_TRUE(Registry.DeleteValue("S"));
    EXPECT_FALSE(Registry.ValueExists("S"));

    std::uint8_t Big[8] = {1, 2, 3, 4, 5, 6, 7, 8}, Small[4] = {};
    Registry.WriteBinaryData("B", Big, 8);
    EXPECT_THROW(Registry.ReadBinaryData("B", Small, 4), ERegistryException);
    std::uint8_t Back[8] = {};
    EXPECT_EQ(Registry.ReadBinaryData("B", Back, 8), 8);
    EXPECT_EQ(Back[7], 8);
    Registry.CloseKey();

    EXPECT_TRUE(Registry.KeyExists(RegistryBaseKey() + "Tree\\Sub\\Leaf"));
    EXPECT_FALSE(Registry.OpenKey(RegistryBaseKey() + "Tree\\Missing", false));
    EXPECT_TRUE(Registry.DeleteKey(RegistryBaseKey() + "Tree"));
    EXPECT_FALSE(Registry.KeyExists(RegistryBaseKey() + "Tree"));
}

// --- window placement ------------------------------------------------------------------------

class WindowPlacement : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        WNDCLASSA Class = {};
        Class.lpfnWndProc = DefWindowProcA;
        Class.hInstance = GetModuleHandleA(nullptr);
        Class.lpszClassName = "OrbiskPlacementTest";
        RegisterClassA(&Class);
        FWindow = CreateWindowExA(0, Class.lpszClassName, "", WS_OVERLAPPEDWINDOW, 50, 60, 300, 200, nullptr,
                                  nullptr, Class.hInstance, nullptr);
        ASSERT_NE(FWindow, nullptr);
    }
    void TearDown() override {
        DestroyWindow(FWindow);
        RegistryTest::TearDown();
    }

    void Store(int Left, int Top, int Width, int Height, int State) {
        TRegistryManager Manager;
        Manager.WriteFormInteger("Probe", "Left", Left);
        Manager.WriteFormInteger("Probe", "Top", Top);
        Manager.WriteFormInteger("Probe", "Width", Width);
        Manager.WriteFormInteger("Probe", "Height", Height);
        Manager.WriteFormInteger("Probe", "State", State);
    }

    RECT NormalRect() const {
        WINDOWPLACEMENT Placement = {};
        Placement.length = sizeof(Placement);
        GetWindowPlacement(FWindow, &Placement);
        return Placement.rcNormalPosition;
    }

    HWND FWindow = nullptr;
};

TEST_F(WindowPlacement, SavedNormalRectangleComesBack) {
    TRegistryManager Manager;
    SetWindowPos(FWindow, nullptr, 120, 130, 400, 250, SWP_NOZORDER | SWP_NOACTIVATE);
    Manager.SaveWindowPlacement(FWindow, "Probe", true);
    EXPECT_EQ(Manager.ReadFormInteger("Probe", "Width", 0), 400);
    EXPECT_EQ(Manager.ReadFormInteger("Probe", "State", -1), wsNormal);

    SetWindowPos(FWindow, nullptr, 10, 10, 100, 100, SWP_NOZORDER | SWP_NOACTIVATE);
    int State = -1;
    EXPECT_TRUE(Manager.LoadWindowPlacement(FWindow, "Probe", true, &State));
    EXPECT_EQ(State, wsNormal);
    const RECT R = NormalRect();
    EXPECT_EQ(R.left, 120);
    EXPECT_EQ(R.top, 130);
    EXPECT_EQ(R.right - R.left, 400);
    EXPECT_EQ(R.bottom - R.top, 250);
}

TEST_F(WindowPlacement, MaximizedStateKeepsTheStoredNormalRectangle) {
    Store(100, 110, 320, 240, wsMaximized);
    TRegistryManager Manager;
    ShowWindow(FWindow, SW_SHOWNOACTIVATE);
    int State = -1;
    EXPECT_TRUE(Manager.LoadWindowPlacement(FWindow, "Probe", true, &State));
    EXPECT_EQ(State, wsMaximized);
    EXPECT_TRUE(IsZoomed(FWindow));
    ShowWindow(FWindow, SW_RESTORE);
    RECT R;
    GetWindowRect(FWindow, &R);
    EXPECT_EQ(R.left, 100);
    EXPECT_EQ(R.top, 110);
    EXPECT_EQ(R.right - R.left, 320);
    EXPECT_EQ(R.bottom - R.top, 240);
}

TEST_F(WindowPlacement, MinimizedStateLoadsAsNormal) {
    Store(100, 110, 320, 240, wsMinimized);
    TRegistryManager Manager;
    int State = -1;
    EXPECT_TRUE(Manager.LoadWindowPlacement(FWindow, "Probe", true, &State));
    EXPECT_EQ(State, wsNormal);
    EXPECT_FALSE(IsIconic(FWindow));
}

TEST_F(WindowPlacement, RectangleOffEveryMonitorIsNotApplied) {
    Store(-20000, 100, 300, 200, wsNormal);
    TRegistryManager Manager;
    EXPECT_TRUE(Manager.LoadWindowPlacement(FWindow, "Probe", true));
    RECT R;
    GetWindowRect(FWindow, &R);
    EXPECT_EQ(R.left, 50);
    EXPECT_EQ(R.top, 60);
}

TEST_F(WindowPlacement, MissingValueMeansNothingWasLoaded) {
    TRegistryManager Manager;
    EXPECT_FALSE(Manager.LoadWindowPlacement(FWindow, "Probe", true));
    Manager.WriteFormInteger("Probe", "Left", 5);
    Manager.WriteFormInteger("Probe", "Top", 5);
    EXPECT_FALSE(Manager.LoadWindowPlacement(FWindow, "Probe", true)); // no size stored
    EXPECT_TRUE(Manager.LoadWindowPlacement(FWindow, "Probe", false)); // position is enough
    RECT R;
    GetWindowRect(FWindow, &R);
    EXPECT_EQ(R.left, 5);
    EXPECT_EQ(R.right - R.left, 300); // a fixed window keeps its size
}

} // namespace
