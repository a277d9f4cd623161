// Opening documents as a user meets it, over three starts of the program: entries of a parameter
// file of the program's own format and of a Fractint parameter file, named on the command line,
// open in fractal windows that calculate to " Completed"; an entry the Fractint importer refuses is
// reported with its name, key and the importer's message and leaves no window; a later start hands
// its entries to the running program, and an entry already open asks before it is reverted; the
// file history and the window placements are stored at exit, and after a restart the recent-files
// items of the File menu reopen the entries where their windows were.
#include <windows.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "E2EDriver.h"

namespace {

using namespace e2e;

std::string ResourceFormulas(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "..\\resources\\formulas\\" + Name;
}

bool WriteFile(const std::string &Path, const std::string &Text) {
    FILE *out = std::fopen(Path.c_str(), "wb");
    if (!out)
        return false;
    const bool written = std::fwrite(Text.data(), 1, Text.size(), out) == Text.size();
    return std::fclose(out) == 0 && written;
}

// A folder of its own under the temporary folder, with the parameter files and a formula folder
// that holds the formulas Fractint's types are drawn with.
struct TOpeningFiles {
    std::string Folder, Formulas, Own, Fractint;

    bool Make() {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        Folder = std::string(temp) + "ov-e2e-opening\\";
        Formulas = Folder + "formulas\\";
        CreateDirectoryA(Folder.c_str(), nullptr);
        CreateDirectoryA(Formulas.c_str(), nullptr);
        for (const char *name : {"Fractint.ofm", "Fractint.ocl", "Fractint.oxf"})
            if (!CopyFileA(ResourceFormulas(name).c_str(), (Formulas + name).c_str(), FALSE))
                return false;
        Own = Folder + "Own Sets.opr";
        Fractint = Folder + "Fractint Sets.par";
        return WriteFile(Own, OwnEntry("Small", "Small Mandelbrot", "-0.5/0") +
                                  OwnEntry("Second", "Second Mandelbrot", "-0.75/0.1")) &&
               WriteFile(Fractint, "; Fractint parameter entries of the opening test.\r\n\r\n"
                                   "Small_Mandel {\r\n"
                                   "  reset=2004 type=mandel corners=-2.5/1.5/-1.5/1.5\r\n"
                                   "  viewwindows=1/0.75/yes/80/60 passes=1 maxiter=40 inside=0\r\n"
                                   "  }\r\n\r\n"
                                   "Julia_Set {\r\n"
                                   "  reset=2004 type=julia corners=-2/2/-1.5/1.5 params=-0.8/0.156\r\n"
                                   "  viewwindows=1/0.75/yes/80/60 passes=1 maxiter=40 inside=0\r\n"
                                   "  }\r\n\r\n"
                                   "Bad_Maxiter {\r\n"
                                   "  type=mandel corners=-2.5/1.5/-1.5/1.5 maxiter=lots\r\n"
                                   "  }\r\n");
    }

    static std::string OwnEntry(const std::string &Name, const std::string &Title,
                                const std::string &Center) {
        return Name + " {\r\nfractal:\r\n  title=\"" + Title +
               "\"\r\n  width=96\r\n  height=72\r\n  layers=1\r\nlayer:\r\n  caption=\"Background\"\r\n"
               "  opacity=100\r\nmapping:\r\n  center=" +
               Center + "\r\n  magn=1\r\nformula:\r\n  filename=\"" + ResourceFormulas("Standard.ofm") +
               "\"\r\n  entry=\"Mandelbrot\"\r\n  maxiter=40\r\n}\r\n\r\n";
    }
};

// The program's settings this test changes, put back at its end.
class TSavedSetting {
public:
    TSavedSetting(std::string Section, std::string Name)
        : FSection(std::move(Section)), FName(std::move(Name)) {
        FValue = ReadProgramString(FSection, FName);
    }
    ~TSavedSetting() { WriteProgramString(FSection, FName, FValue.value_or("")); }
    TSavedSetting(const TSavedSetting &) = delete;
    TSavedSetting &operator=(const TSavedSetting &) = delete;

private:
    std::string FSection, FName;
    std::optional<std::string> FValue;
};

HWND MdiClient(HWND Main) {
    return FindDescendant(Main, "MDIClient", "");
}

std::vector<HWND> FractalWindows(HWND Main) {
    return ChildWindows(MdiClient(Main), "TFractalForm");
}

// A fractal window's title: its caption without the progress "[n%] " that an inactive window
// shows in front while it calculates.
std::string FractalTitle(HWND Window) {
    const std::string caption = WindowText(Window);
    const std::size_t progress = caption.find("%] ");
    return caption.rfind("[", 0) == 0 && progress != std::string::npos ? caption.substr(progress + 3)
                                                                       : caption;
}

// The fractal window with that title (ChildWindows lists them in Z order).
HWND WaitForFractalWindow(HWND Main, const std::string &Title) {
    HWND found = nullptr;
    WaitUntil([&] {
        for (HWND window : FractalWindows(Main))
            if (FractalTitle(window) == Title)
                found = window;
        return found != nullptr;
    });
    return found;
}

// Makes Window the active document and waits until the first status panel reads " Completed".
testing::AssertionResult ActivatesToCompleted(HWND Main, HWND Window) {
    SendMessageA(MdiClient(Main), WM_MDIACTIVATE, reinterpret_cast<WPARAM>(Window), 0);
    HWND statusBar = FindDescendant(Main, "TTaskStatusBar", "");
    if (!statusBar)
        return testing::AssertionFailure() << "no status bar";
    if (WaitUntil(
            [&] {
                const std::vector<std::string> texts = StatusBarTexts(statusBar);
                return reinterpret_cast<HWND>(SendMessageA(MdiClient(Main), WM_MDIGETACTIVE, 0, 0)) ==
                           Window &&
                       !texts.empty() && texts[0] == " Completed";
            },
            300000))
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << WindowText(Window) << ": status panels " << testing::PrintToString(StatusBarTexts(statusBar));
}

// The text of the next message box of the program (its lines joined), answered with Button.
std::string AnswerMessageBox(TProgramProcess &Program, const std::string &Button) {
    HWND box = Program.WaitForWindow("TMessageForm", "", 120000);
    if (!box)
        return "(no message box)";
    std::string text;
    for (const std::string &line : DialogTexts(box))
        text += line;
    if (!PressButton(box, Button))
        return "(no button " + Button + ") " + text;
    WaitUntil([&] { return !IsWindow(box) || !IsVisibleWindow(box); }, 20000);
    return text;
}

RECT NormalRect(HWND Window) {
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    GetWindowPlacement(Window, &placement);
    return placement.rcNormalPosition;
}

// A document window's rectangle in its MDI client's coordinates (where it stands when it is
// neither minimized nor maximized).
RECT ChildRect(HWND Main, HWND Window) {
    RECT rect = WindowRect(Window);
    MapWindowPoints(HWND_DESKTOP, MdiClient(Main), reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

// Chooses the File menu's history item Caption (without its access mark) and waits until the
// window with that title calculated to " Completed"; the window, or nullptr. The items are numbered
// newest first and opening one moves it to the top, so each call reads the menu anew.
HWND ReopenFromHistory(TProgramProcess &Program, HWND Main, const std::string &Caption,
                       const std::string &Title) {
    const std::optional<TMenuEntry> item = Program.FindMenuItem(Main, {"File", Caption});
    EXPECT_TRUE(item.has_value()) << Caption;
    if (!item || !PostCommand(Main, item->Command))
        return nullptr;
    HWND window = WaitForFractalWindow(Main, Title);
    EXPECT_NE(nullptr, window) << Title;
    if (window)
        EXPECT_TRUE(ActivatesToCompleted(Main, window));
    return window;
}

struct THistoryItem {
    std::string FileName, Entry, Title;
    RECT Bounds;
    friend bool operator==(const THistoryItem &A, const THistoryItem &B) {
        return A.FileName == B.FileName && A.Entry == B.Entry && A.Title == B.Title &&
               EqualRect(&A.Bounds, &B.Bounds);
    }
    friend std::ostream &operator<<(std::ostream &Out, const THistoryItem &Item) {
        return Out << Item.FileName << " | " << Item.Entry << " | " << Item.Title << " | " << Item.Bounds.left
                   << "," << Item.Bounds.top << "," << Item.Bounds.right << "," << Item.Bounds.bottom;
    }
};

std::vector<THistoryItem> StoredHistory() {
    std::vector<THistoryItem> items;
    const int count = static_cast<int>(ReadProgramInteger("FileHistory", "Count").value_or(0));
    for (int i = 0; i < count; ++i) {
        const std::string item = "Item" + std::to_string(i);
        const auto integer = [&](const char *Name) {
            return static_cast<LONG>(ReadProgramInteger("FileHistory", item + Name).value_or(0));
        };
        items.push_back({ReadProgramString("FileHistory", item + "FileName").value_or("?"),
                         ReadProgramString("FileHistory", item + "Entry").value_or("?"),
                         ReadProgramString("FileHistory", item + "Title").value_or("?"),
                         RECT{integer("Left"), integer("Top"), integer("Right"), integer("Bottom")}});
    }
    return items;
}

TEST(E2EOpeningTest, EntriesOpenFromTheCommandLineAHandOverAndTheRecentFilesAfterARestart) {
    TOpeningFiles files;
    ASSERT_TRUE(files.Make());
    TSavedSetting formulaFolder("Folder", "Formula");
    ASSERT_TRUE(DeleteRegistryTree(ProgramRegistryKey() + "\\FileHistory"));
    ASSERT_TRUE(WriteProgramInteger("General", "StartupAction", 0));
    ASSERT_TRUE(WriteProgramInteger("General", "FileHistorySize", 4));
    ASSERT_TRUE(WriteProgramString("Folder", "Formula", files.Formulas));

    // Placements as they stand when the program ends the first time.
    RECT mainPlacement = {}, smallPlacement = {};
    std::map<std::string, RECT> placements; // by title
    {
        // Start 1: the command line names two entries that open and one the importer refuses.
        TProgramProcess program(
            {files.Own + ":Small", files.Fractint + ":Small_Mandel", files.Fractint + ":Bad_Maxiter"});
        ASSERT_TRUE(program.Started());
        HWND main = program.WaitForWindow("TMainForm", "", 60000);
        ASSERT_NE(nullptr, main);
        const std::string refused = AnswerMessageBox(program, "OK");
        EXPECT_EQ(0u, refused.rfind("Could not open 'Bad_Maxiter' in '" + files.Fractint + "'.", 0))
            << refused;
        EXPECT_NE(std::string::npos,
                  refused.find("Invalid Fractint parameter value in entry \"Bad_Maxiter\""))
            << refused;
        EXPECT_NE(std::string::npos, refused.find("key \"maxiter\"")) << refused;
        ASSERT_TRUE(program.WaitForIdle());

        HWND own = WaitForFractalWindow(main, "Small Mandelbrot");
        HWND fractint = WaitForFractalWindow(main, "Small Mandel");
        ASSERT_NE(nullptr, own);
        ASSERT_NE(nullptr, fractint);
        EXPECT_EQ(2u, FractalWindows(main).size()) << "the refused entry left a window";
        EXPECT_TRUE(ActivatesToCompleted(main, own));
        EXPECT_TRUE(ActivatesToCompleted(main, fractint));
        EXPECT_EQ("Small Mandelbrot", WindowText(own));
        SaveScreenshot("opening-command-line");

        // A later start hands over two more entries and one that is open already: that one asks
        // whether to revert, and No leaves the window as it is.
        {
            TProgramProcess second(
                {"/nosplash", files.Own + ":Second", files.Fractint + ":Julia_Set", files.Own + ":small"});
            ASSERT_TRUE(second.Started());
            EXPECT_EQ(std::optional<DWORD>(0), second.WaitForExit(60000));
        }
        const std::string question = AnswerMessageBox(program, "No");
        EXPECT_EQ("This document is already open:\r'small' in '" + files.Own +
                      "'.\r\rDo you want to revert to the previously saved version?",
                  question);
        ASSERT_TRUE(program.WaitForIdle());
        HWND second = WaitForFractalWindow(main, "Second Mandelbrot");
        HWND julia = WaitForFractalWindow(main, "Julia Set");
        ASSERT_NE(nullptr, second);
        ASSERT_NE(nullptr, julia);
        EXPECT_EQ(4u, FractalWindows(main).size());
        EXPECT_TRUE(ActivatesToCompleted(main, second));
        EXPECT_TRUE(ActivatesToCompleted(main, julia));

        // Places of the user's choosing, to be found again after the restart.
        ShowWindow(main, SW_RESTORE);
        SetWindowPos(main, nullptr, 16, 12, 900, 700, SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowPos(own, nullptr, 300, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        ASSERT_TRUE(program.WaitForIdle());
        mainPlacement = NormalRect(main);
        for (HWND window : {own, fractint, second, julia})
            placements[FractalTitle(window)] = ChildRect(main, window);
        smallPlacement = placements["Small Mandelbrot"];
        EXPECT_EQ(300, smallPlacement.left);
        EXPECT_EQ(40, smallPlacement.top);

        DWORD exitCode = 1;
        ASSERT_TRUE(program.Close(&exitCode, main));
        EXPECT_EQ(0u, exitCode);
    }

    // The history as stored at exit: newest first, each entry with its title and the rectangle its
    // window had; the refused entry and the question answered No left nothing.
    const std::vector<THistoryItem> expected = {
        {files.Fractint, "Julia_Set", "Julia Set", placements["Julia Set"]},
        {files.Own, "Second", "Second Mandelbrot", placements["Second Mandelbrot"]},
        {files.Fractint, "Small_Mandel", "Small Mandel", placements["Small Mandel"]},
        {files.Own, "Small", "Small Mandelbrot", placements["Small Mandelbrot"]},
    };
    EXPECT_EQ(expected, StoredHistory());

    {
        // Start 2, without files: the File menu lists the history, and its items reopen the entries.
        TProgramProcess program;
        ASSERT_TRUE(program.Started());
        HWND main = program.WaitForWindow("TMainForm", "", 60000);
        ASSERT_NE(nullptr, main);
        ASSERT_TRUE(program.WaitForIdle());
        const RECT restored = NormalRect(main);
        EXPECT_TRUE(EqualRect(&mainPlacement, &restored))
            << restored.left << "," << restored.top << "," << restored.right << "," << restored.bottom;
        EXPECT_TRUE(FractalWindows(main).empty());

        // The items are numbered newest first; opening one moves it to the top, so the menu is
        // read again before the next.
        HWND own = ReopenFromHistory(program, main, "4 Small Mandelbrot", "Small Mandelbrot");
        ASSERT_NE(nullptr, own);
        // Where it was, at the size its image asks for.
        const RECT reopened = ChildRect(main, own);
        EXPECT_EQ(smallPlacement.left, reopened.left);
        EXPECT_EQ(smallPlacement.top, reopened.top);
        EXPECT_EQ(smallPlacement.right - smallPlacement.left, reopened.right - reopened.left);
        EXPECT_EQ(smallPlacement.bottom - smallPlacement.top, reopened.bottom - reopened.top);

        HWND julia = ReopenFromHistory(program, main, "2 Julia Set", "Julia Set");
        ASSERT_NE(nullptr, julia);
        const RECT juliaPlaced = ChildRect(main, julia);
        EXPECT_EQ(placements["Julia Set"].left, juliaPlaced.left);
        EXPECT_EQ(placements["Julia Set"].top, juliaPlaced.top);
        SaveScreenshot("opening-recent-files");

        DWORD exitCode = 1;
        ASSERT_TRUE(program.Close(&exitCode, main));
        EXPECT_EQ(0u, exitCode);
    }
    // Reopening moved the two entries to the top.
    const std::vector<THistoryItem> after = StoredHistory();
    ASSERT_EQ(4u, after.size());
    EXPECT_EQ("Julia_Set", after[0].Entry);
    EXPECT_EQ("Small", after[1].Entry);
}

} // namespace
