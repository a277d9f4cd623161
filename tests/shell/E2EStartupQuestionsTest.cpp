// The questions of a first start as a user meets them: the file-type question registers the
// document types (read back with the system's own reg.exe), the welcome window switches itself
// off, the Update Public Formulas dialog opens from the Options menu, and the next start asks
// nothing. Two starts of the program in all.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "E2EDriver.h"

namespace {

using namespace e2e;

const char *const Extensions[] = {"ofr", "opr", "ogr", "oal", "oxf", "ofm", "ocl", "orj"};

// What reg.exe prints for a query; empty when it could not run.
std::string RegQuery(const std::string &Key) {
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readPipe, writePipe;
    if (!CreatePipe(&readPipe, &writePipe, &inherit, 0))
        return "";
    SetHandleInformation(readPipe, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writePipe;
    startup.hStdError = writePipe;
    PROCESS_INFORMATION info{};
    std::string command = "reg.exe query \"" + Key + "\"";
    const bool started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                        nullptr, nullptr, &startup, &info);
    CloseHandle(writePipe);
    std::string output;
    if (started) {
        char buffer[4096];
        DWORD got;
        while (ReadFile(readPipe, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            output.append(buffer, got);
        WaitForSingleObject(info.hProcess, 60000);
        CloseHandle(info.hProcess);
        CloseHandle(info.hThread);
    }
    CloseHandle(readPipe);
    return output;
}

void SavePicture(HWND Window, const std::string &Name) {
    const TImage screen = CaptureSettledScreen();
    EXPECT_TRUE(WritePng(ArtifactsFolder() + "\\" + Name + ".png", CropImage(screen, WindowRect(Window))))
        << Name;
}

struct TStartupQuestionsAllowed {
    TStartupQuestionsAllowed() { AllowStartupQuestions(true); }
    ~TStartupQuestionsAllowed() { AllowStartupQuestions(false); }
};

TEST(E2EStartupQuestionsTest, FirstStartAsksRegistersAndWelcomesOnce) {
    TStartupQuestionsAllowed allowed;
    // As after a fresh installation: no registrations, both questions switched on.
    for (const char *extension : Extensions) {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string(".") + extension).c_str());
        RegDeleteTreeA(HKEY_CLASSES_ROOT, (std::string("OB_") + extension + "_File").c_str());
    }
    ASSERT_TRUE(WriteProgramInteger("General", "CheckAssocAtStartup", 1));
    ASSERT_TRUE(WriteProgramInteger("General", "StartupWelcome", 1));
    ASSERT_TRUE(WriteProgramInteger("General", "StartupAction", 0));

    {
        TProgramProcess program;
        ASSERT_TRUE(program.Started());
        HWND question = program.WaitForWindow("TAssociationsForm", "File Type Associations");
        ASSERT_NE(nullptr, question) << "no file type question";
        HWND dontAsk = FindDescendant(question, "TCheckBox", "Don't ask this again");
        ASSERT_NE(nullptr, dontAsk);
        EXPECT_EQ(BST_UNCHECKED, SendMessageA(dontAsk, BM_GETCHECK, 0, 0));
        SavePicture(question, "associations");
        ASSERT_TRUE(PressButton(question, "Yes"));

        HWND welcome = program.WaitForWindow("TWelcomeForm", "Welcome");
        ASSERT_NE(nullptr, welcome) << "no welcome window";
        for (const char *option : {"Start Orbisk Vantel", "See what's new", "Open the tutorials",
                                   "Learn more about the workspace"})
            EXPECT_NE(nullptr, FindDescendant(welcome, "TRadioButton", option)) << option;
        HWND showCheck = FindDescendant(welcome, "TCheckBox", "Show this dialog on startup");
        ASSERT_NE(nullptr, showCheck);
        EXPECT_EQ(BST_CHECKED, SendMessageA(showCheck, BM_GETCHECK, 0, 0));
        SavePicture(welcome, "welcome");
        // The registrations were written before the welcome window came.
        const std::string ofr = RegQuery("HKCR\\.ofr");
        EXPECT_NE(std::string::npos, ofr.find("OB_ofr_File")) << ofr;
        const std::string command = RegQuery("HKCR\\OB_ofr_File\\shell\\open\\command");
        EXPECT_NE(std::string::npos, command.find("\"" + ProgramPath() + "\" \"%1\"")) << command;
        const std::string orj = RegQuery("HKCR\\OB_orj_File");
        EXPECT_NE(std::string::npos, orj.find("Fractal Render Job")) << orj;

        // Cancel with the check box cleared still switches the window off.
        PostMessageA(showCheck, BM_CLICK, 0, 0);
        ASSERT_TRUE(WaitUntil([&] { return SendMessageA(showCheck, BM_GETCHECK, 0, 0) == BST_UNCHECKED; }));
        ASSERT_TRUE(PressButton(welcome, "Cancel"));
        ASSERT_TRUE(WaitUntil([&] { return !program.FindWindow("TWelcomeForm"); }));

        HWND main = program.WaitForMainWindow();
        ASSERT_NE(nullptr, main);
        ASSERT_TRUE(program.WaitForIdle());
        const std::optional<TMenuEntry> update =
            program.FindMenuItem(main, {"Options", "Update Public Formulas..."});
        ASSERT_TRUE(update);
        ASSERT_TRUE(PostCommand(main, update->Command));
        HWND dialog = program.WaitForWindow("TUpdateFormulasForm", "Update Public Formulas");
        ASSERT_NE(nullptr, dialog);
        EXPECT_NE(nullptr, FindDescendant(dialog, "TRadioButton", "Full formula collection"));
        HWND full = FindDescendant(dialog, "TRadioButton", "Full formula collection");
        if (full)
            EXPECT_EQ(BST_CHECKED, SendMessageA(full, BM_GETCHECK, 0, 0))
                << "never updated: the full collection";
        SavePicture(dialog, "update-formulas");
        ASSERT_TRUE(PressButton(dialog, "Cancel"));
        ASSERT_TRUE(WaitUntil([&] { return !program.FindWindow("TUpdateFormulasForm"); }));
        DWORD exitCode = 1;
        ASSERT_TRUE(program.Close(&exitCode));
        EXPECT_EQ(0u, exitCode);
    }
    EXPECT_EQ(0u, ReadProgramInteger("General", "StartupWelcome").value_or(99));
    // Yes without "Don't ask this again" keeps checking at later starts.
    EXPECT_EQ(1u, ReadProgramInteger("General", "CheckAssocAtStartup").value_or(99));

    // The next start: everything registered, the welcome switched off.
    TProgramProcess program;
    ASSERT_TRUE(program.Started());
    HWND main = program.WaitForWindow("TMainForm");
    ASSERT_NE(nullptr, main);
    ASSERT_TRUE(WaitUntil([&] { return !program.FindWindow("TAboutForm"); }));
    ASSERT_TRUE(program.WaitForIdle());
    EXPECT_EQ(nullptr, program.FindWindow("TAssociationsForm"));
    EXPECT_EQ(nullptr, program.FindWindow("TWelcomeForm"));
    DWORD exitCode = 1;
    ASSERT_TRUE(program.Close(&exitCode));
}

} // namespace
