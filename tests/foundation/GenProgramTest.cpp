#include "GenInstance.h"
#include "GenProgram.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgramVersion, ParsesAndPrintsBack) {
    const struct {
        const char *Text;
        int Major, Minor, Release, Beta;
        const char *Printed;
    } Cases[] = {
        {"3.02", 3, 0, 2, 0, "3.02"},
        {"3.02 beta 5", 3, 0, 2, 5, "3.02 beta 5"},
        {"3.02 beta 12", 3, 0, 2, 12, "3.02 beta 12"},
        {"3", 3, 0, 0, 0, "3.00"},
        {"3.1", 3, 1, 0, 0, "3.10"},
        {"12.34", 12, 3, 4, 0, "12.34"},
        {"3.0x", 3, 0, 0, 0, "3.00"},
        {"3.02 beta x", 3, 0, 2, 0, "3.02"},
    };
    for (const auto &Case : Cases) {
        TProgramVersion V;
        ASSERT_NO_THROW(V.Parse(Case.Text)) << Case.Text;
        EXPECT_EQ(V.Major, Case.Major) << Case.Text;
        EXPECT_EQ(V.Minor, Case.Minor) << Case.Text;
        EXPECT_EQ(V.Release, Case.Release) << Case.Text;
        EXPECT_EQ(V.Beta, Case.Beta) << Case.Text;
        EXPECT_EQ(V.IsBeta(), Case.Beta > 0) << Case.Text;
        EXPECT_EQ(V.GetText(), Case.Printed) << Case.Text;
    }
}

TEST(ProgramVersion, InvalidTextRaisesAndKeepsTheVersion) {
    const char *Cases[] = {"x.1", "", "3.x", "abc", "-1.0", ".5", "3."};
    for (const char *Text : Cases) {
        TProgramVersion V;
        V.Parse("2.13 beta 4");
        try {
            V.Parse(Text);
            ADD_FAILURE() << "no error for '" << Text << "'";
        } catch (const EProgramVersionError &E) {
            EXPECT_EQ(E.Message(), std::string("'") + Text + "' is not a valid version number");
        }
        EXPECT_EQ(V.GetText(), "2.13 beta 4") << Text;
    }
}

TEST(ProgramInformation, ReadsTheVersionResource) {
    TProgramInformation Info("\"C:\\Program\\Orbisk.exe\"");
    EXPECT_EQ(Info.Version->GetText(), "3.02");
    EXPECT_EQ(Info.ProductName, "Orbisk Vantel");
    EXPECT_EQ(Info.Title, "Orbisk Vantel 3.02");
    EXPECT_FALSE(Info.LegalCopyright.empty());
    EXPECT_EQ(Info.ReleaseDate, EncodeDate(2004, 8, 19));
    EXPECT_FALSE(Info.ServerMode);
}

TEST(ProgramInformation, ServerFlagComesFromTheFirstArgumentOnly) {
    const struct {
        const char *CommandLine;
        bool Server;
    } Cases[] = {
        {"Orbisk.exe /server", true},
        {"Orbisk.exe /SERVER", true},
        {"Orbisk.exe /Server a.opr", true},
        {"\"C:\\Program Files\\Orbisk.exe\" /sErVeR", true},
        {"\"C:\\Program Files\\Orbisk.exe\"   \"/server\"", true},
        {"Orbisk.exe a.opr /server", false},
        {"Orbisk.exe", false},
        {"Orbisk.exe /servers", false},
        {"Orbisk.exe -server", false},
        {"\"C:\\Program Files\\Orbisk.exe /server\"", false},
    };
    for (const auto &Case : Cases) {
        EXPECT_EQ(IsServerCommandLine(Case.CommandLine), Case.Server) << Case.CommandLine;
        TProgramInformation Info(Case.CommandLine);
        EXPECT_EQ(Info.ServerMode, Case.Server) << Case.CommandLine;
    }
}

TEST(ProgramInformation, SplitsCommandLinesLikeTheRunTime) {
    const struct {
        const char *CommandLine;
        std::vector<std::string> Arguments;
    } Cases[] = {
        {"", {}},
        {"prog", {"prog"}},
        {"  prog   a  b ", {"prog", "a", "b"}},
        {"\"C:\\My Files\\prog.exe\" \"D:\\x y\\a.opr\" b.ofr",
         {"C:\\My Files\\prog.exe", "D:\\x y\\a.opr", "b.ofr"}},
        {"prog a\"b c\"d", {"prog", "ab cd"}},
        {"prog \"\"", {"prog", ""}},
    };
    for (const auto &Case : Cases)
        EXPECT_EQ(SplitCommandLine(Case.CommandLine), Case.Arguments) << Case.CommandLine;
}

TEST(InstanceNames, DependOnModeAndVersion) {
    const struct {
        const char *Version;
        const char *CommandLine;
        const char *Mutex;
        const char *Message;
    } Cases[] = {
        {"3.02", "p.exe", "Orbisk_Vantel_Private_Mutex_30", "Orbisk_Vantel_Private_Message_30"},
        {"3.02", "p.exe /server", "Orbisk_Vantel_Server_Private_Mutex_30",
         "Orbisk_Vantel_Server_Private_Message_30"},
        {"3.02 beta 2", "p.exe", "Orbisk_Vantel_Private_Mutex_30b2", "Orbisk_Vantel_Private_Message_30b2"},
        {"3.12", "p.exe", "Orbisk_Vantel_Private_Mutex_31", "Orbisk_Vantel_Private_Message_31"},
        {"4.02", "p.exe /SERVER", "Orbisk_Vantel_Server_Private_Mutex_40",
         "Orbisk_Vantel_Server_Private_Message_40"},
    };
    for (const auto &Case : Cases) {
        TProgramInformation Info(Case.CommandLine);
        Info.Version->Parse(Case.Version);
        MakeInstanceNames(Info);
        EXPECT_EQ(InstanceMutexName(), Case.Mutex) << Case.Version << " " << Case.CommandLine;
        EXPECT_EQ(InstanceMessageName(), Case.Message) << Case.Version << " " << Case.CommandLine;
    }
    FinalizeGenInstance();
}

} // namespace
