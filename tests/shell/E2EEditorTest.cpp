// The text editor as a user meets it: a formula file given on the command line opens in an
// editor window whose menus join the main window's menu bar; a fractal made from the same formula
// is recalculated with the new code once the edited file is saved. One start of the program.
#include <windows.h>

#include <richedit.h>

#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "E2EDriver.h"

namespace {

using namespace e2e;

std::string TempPath(const std::string &Name) {
    char folder[MAX_PATH];
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + Name;
}

bool WriteText(const std::string &File, const std::string &Text) {
    FILE *out = std::fopen(File.c_str(), "wb");
    if (!out)
        return false;
    std::fwrite(Text.data(), 1, Text.size(), out);
    return std::fclose(out) == 0;
}

std::string ReadText(const std::string &File) {
    std::string text;
    if (FILE *in = std::fopen(File.c_str(), "rb")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;)
            text.append(buffer, n);
        std::fclose(in);
    }
    return text;
}

// Waits until the first status panel reads Text.
testing::AssertionResult WaitForStatus(HWND StatusBar, const std::string &Text, DWORD TimeoutMs) {
    if (WaitUntil(
            [&] {
                const std::vector<std::string> texts = StatusBarTexts(StatusBar);
                return !texts.empty() && texts[0] == Text;
            },
            TimeoutMs))
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "status panels: " << testing::PrintToString(StatusBarTexts(StatusBar));
}

const TMenuEntry *Find(const std::vector<TMenuEntry> &Items, const std::string &Caption) {
    for (const TMenuEntry &item : Items)
        if (StripAccessMark(item.Caption) == Caption)
            return &item;
    return nullptr;
}

// The pixels of a window's client area as the screen shows them.
TImage Shown(HWND Window) {
    return CropImage(CaptureSettledScreen(), ClientScreenRect(Window));
}

TEST(E2EEditorTest, SavingTheFormulaOfAnOpenFractalRecalculatesItWithTheNewCode) {
    const std::string formulaFile = TempPath("ov-e2e-editor.ofm");
    const std::string parameterFile = TempPath("ov-e2e-editor.opr");
    // The tab in the loop line is counted as two columns by the editor's status bar.
    ASSERT_TRUE(WriteText(formulaFile,
                          "Grow {\r\ninit:\r\n  z = 0\r\nloop:\r\n\tz = z^2 + #pixel\r\nbailout:\r\n"
                          "  |z| < 4\r\ndefault:\r\n  maxiter = 40\r\n}\r\n"));
    ASSERT_TRUE(
        WriteText(parameterFile, "Small {\r\nfractal:\r\n  title=\"Small\"\r\n  width=120\r\n  height=90\r\n"
                                 "  layers=1\r\nlayer:\r\n  caption=\"Background\"\r\n  opacity=100\r\n"
                                 "mapping:\r\n  center=-0.5/0\r\n  magn=1\r\nformula:\r\n  filename=\"" +
                                     formulaFile + "\"\r\n  entry=\"Grow\"\r\n  maxiter=40\r\n}\r\n"));
    ASSERT_TRUE(WriteProgramInteger("General", "StartupAction", 0));
    ASSERT_TRUE(WriteProgramInteger("Fractal", "NewAction", 1));
    ASSERT_TRUE(WriteProgramString("Fractal", "DefaultFile", parameterFile));
    ASSERT_TRUE(WriteProgramString("Fractal", "DefaultEntry", "Small"));

    TProgramProcess program({formulaFile});
    ASSERT_TRUE(program.Started());
    HWND main = program.WaitForWindow("TMainForm", "", 60000);
    ASSERT_NE(nullptr, main);
    HWND editor = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (editor = FindDescendant(main, "TEditForm", "")) != nullptr; }))
        << "no editor window";
    // The window stands before its caption is set: wait for the caption.
    EXPECT_TRUE(WaitUntil([&] { return WindowText(editor) == "ov-e2e-editor.ofm"; })) << WindowText(editor);
    HWND text = nullptr;
    for (const char *name : {"TAdvRichEdit", "RichEdit20A"})
        if (!text)
            text = FindDescendant(editor, name, "");
    ASSERT_NE(nullptr, text);
    HWND statusBar = FindDescendant(main, "TTaskStatusBar", "");
    ASSERT_NE(nullptr, statusBar);
    ASSERT_TRUE(program.WaitForIdle());

    // The editor's File, Edit and Insert menus are in the main window's bar.
    const std::vector<TMenuEntry> menu = program.ReadMenuBar(main);
    std::vector<std::string> bar;
    for (const TMenuEntry &item : menu)
        bar.push_back(StripAccessMark(item.Caption));
    EXPECT_EQ(bar, (std::vector<std::string>{"File", "Edit", "Insert", "Options", "Window", "Help"}));
    if (const TMenuEntry *insert = Find(menu, "Insert")) {
        const TMenuEntry *newFormula = Find(insert->Items, "New Formula...");
        ASSERT_NE(nullptr, newFormula);
        EXPECT_EQ("Ctrl+M", newFormula->ShortCut);
    }

    // The caret after the tab of the loop line: the status bar counts the tab as two columns.
    SendMessageA(text, EM_SETSEL, 28, 28);
    EXPECT_TRUE(WaitUntil([&] {
        const std::vector<std::string> texts = StatusBarTexts(statusBar);
        return texts.size() >= 4 && texts[0] == " Row: 5" && texts[1] == " Column: 3" &&
               texts[2] == " Saved" && texts[3] == " Insert";
    })) << testing::PrintToString(StatusBarTexts(statusBar));
    EXPECT_TRUE(SaveScreenshot("text-editor").has_value());

    // A fractal of the same formula: File > New > Fractal opens the default parameter set.
    const std::optional<TMenuEntry> newFractal = program.FindMenuItem(main, {"File", "New", "Fractal"});
    ASSERT_TRUE(newFractal.has_value());
    ASSERT_TRUE(PostCommand(main, newFractal->Command));
    HWND fractal = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (fractal = FindDescendant(main, "TFractalForm", "")) != nullptr; }));
    ASSERT_TRUE(WaitForStatus(statusBar, " Completed", 300000));
    HWND display = FindDescendant(fractal, "TFractalDisplay", "");
    ASSERT_NE(nullptr, display);
    ASSERT_TRUE(program.WaitForIdle());
    const TImage before = Shown(display);

    // Back in the editor, "z^2" becomes "z^3" as typed, and File > Save saves it.
    HWND client = GetParent(editor);
    SendMessageA(client, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(editor), 0);
    ASSERT_TRUE(program.WaitForIdle());
    const std::string original = ReadText(formulaFile);
    const size_t two = original.find("z^2");
    ASSERT_NE(std::string::npos, two);
    // The control holds single CRs: the offset counts one character per line break.
    int offset = 0;
    for (size_t i = 0; i < two + 2; ++i)
        offset += original[i] == '\n' ? 0 : 1;
    SetFocus(text);
    SendMessageA(text, EM_SETSEL, offset, offset + 1);
    ASSERT_TRUE(PressKeys(main, {'3'}));
    EXPECT_TRUE(WaitUntil([&] {
        const std::vector<std::string> texts = StatusBarTexts(statusBar);
        return texts.size() >= 3 && texts[2] == " Modified";
    })) << testing::PrintToString(StatusBarTexts(statusBar));
    // File > Save (a menu command rather than Ctrl+S: a busy emulated desktop can lose the Ctrl key).
    const std::optional<TMenuEntry> save = program.FindMenuItem(main, {"File", "Save"});
    ASSERT_TRUE(save.has_value());
    ASSERT_TRUE(PostCommand(main, save->Command));
    ASSERT_TRUE(WaitUntil([&] {
        return ReadText(formulaFile).find("z = z^3 + #pixel") != std::string::npos;
    })) << ReadText(formulaFile);
    EXPECT_EQ(std::string::npos, ReadText(formulaFile).find("\n\n")) << "lines end in CR LF";

    // The fractal calculates again with the new code: its picture is that of a fresh fractal of
    // the saved formula, and no longer the old one.
    SendMessageA(client, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(fractal), 0);
    ASSERT_TRUE(WaitForStatus(statusBar, " Completed", 300000));
    ASSERT_TRUE(program.WaitForIdle());
    const TImage after = Shown(display);
    EXPECT_NE(before.Rgb, after.Rgb) << "the picture did not change";
    // The editor's own File menu makes the second fractal.
    SendMessageA(client, WM_MDIACTIVATE, reinterpret_cast<WPARAM>(editor), 0);
    ASSERT_TRUE(program.WaitForIdle());
    const std::optional<TMenuEntry> newFractalAgain = program.FindMenuItem(main, {"File", "New", "Fractal"});
    ASSERT_TRUE(newFractalAgain.has_value());
    ASSERT_TRUE(PostCommand(main, newFractalAgain->Command));
    HWND second = nullptr;
    ASSERT_TRUE(WaitUntil([&] {
        for (HWND window : ChildWindows(client, "TFractalForm"))
            if (window != fractal)
                second = window;
        return second != nullptr;
    }));
    ASSERT_TRUE(WaitForStatus(statusBar, " Completed", 300000));
    ASSERT_TRUE(program.WaitForIdle());
    HWND secondDisplay = FindDescendant(second, "TFractalDisplay", "");
    ASSERT_NE(nullptr, secondDisplay);
    EXPECT_EQ(after.Rgb, Shown(secondDisplay).Rgb) << "the recalculated picture is not the fresh one";

    program.Terminate();
    EXPECT_TRUE(WriteProgramInteger("Fractal", "NewAction", 0));
    DeleteFileA(formulaFile.c_str());
    DeleteFileA(parameterFile.c_str());
}

} // namespace
