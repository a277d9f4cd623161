// The browser's file work: copy names, where pastes may go, pasting with scripted answers, new
// names, the save-mode probe, entries pasted by title and typed locations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BrowseFiles.h"
#include "BrowseTestSupport.h"
#include "CompEntries.h"
#include "Forms.h"

namespace {

// Answers the questions in order and records them.
struct TScriptedAnswers {
    std::vector<int> Answers;
    std::vector<std::string> Questions;
    TBrowseConfirm Confirm() {
        return [this](const std::string &Message, bool) {
            Questions.push_back(Message);
            if (Questions.size() > Answers.size()) {
                ADD_FAILURE() << "unexpected question: " << Message;
                return int(mrCancel);
            }
            return Answers[Questions.size() - 1];
        };
    }
};

using BrowseFilesTest = TBrowseFolderTest;

TEST_F(BrowseFilesTest, CopyingIntoTheOwnFolderMakesNumberedCopies) {
    Put("a.opr", "A");
    TScriptedAnswers none;
    ASSERT_TRUE(PasteFiles(Root, Root, pmCopy, {"a.opr"}, none.Confirm()));
    ASSERT_TRUE(PasteFiles(Root, Root, pmCopy, {"a.opr"}, none.Confirm()));
    EXPECT_EQ(Get("Copy of a.opr"), "A");
    EXPECT_EQ(Get("Copy (2) of a.opr"), "A");
    EXPECT_EQ(Get("a.opr"), "A");
    // A folder copied into the folder that holds it.
    MakeFolder("F\\inner");
    ASSERT_TRUE(PasteFiles(Root, Root, pmDrag, {"F"}, none.Confirm()));
    EXPECT_TRUE(Exists("Copy of F\\inner"));
    EXPECT_TRUE(Exists("F\\inner"));
}

TEST_F(BrowseFilesTest, NothingGoesIntoItself) {
    const struct {
        const char *Target;
        bool Copy;
        bool Allowed;
    } cases[] = {
        {"X:\\a\\F\\Child", false, false}, {"x:\\A\\f\\child\\deeper", true, false},
        {"X:\\a\\F", false, false},        {"X:\\a\\Fx", false, true},
        {"X:\\a\\G", false, true},         {"X:\\a", false, false},
        {"X:\\a\\", true, true},           {"X:\\b", false, true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(NotIntoItself("X:\\a", {"F"}, c.Target, c.Copy), c.Allowed)
            << c.Target << " copy " << c.Copy;
    EXPECT_FALSE(NotIntoItself("X:\\a", {"G", "F"}, "X:\\a\\F\\Child", true));
}

TEST_F(BrowseFilesTest, NewFoldersAndFilesGetTheNextFreeNumber) {
    EXPECT_EQ(CreateNewFolder(Root), Root + "New Folder");
    EXPECT_EQ(CreateNewFolder(Root), Root + "New Folder (2)");
    EXPECT_TRUE(DirectoryExists(Root + "New Folder (2)"));
    EXPECT_EQ(CreateNewFile(Root, "New Parameter File.opr"), Root + "New Parameter File.opr");
    EXPECT_EQ(CreateNewFile(Root, "New Parameter File.opr"), Root + "New Parameter File (2).opr");
    EXPECT_TRUE(FileExists(Root + "New Parameter File (2).opr"));
}

TEST_F(BrowseFilesTest, ScriptedAnswersDecideWhatIsOverwritten) {
    const std::vector<std::string> names = {"1.opr", "2.opr", "3.opr"};
    for (const auto &name : names)
        Put("src\\" + name, "new " + name);
    Put("dst\\1.opr", "old 1");
    Put("dst\\3.opr", "old 3");

    // Yes to All at the first clash: the second clash is overwritten without a question.
    TScriptedAnswers yesToAll{{mrYesToAll}};
    ASSERT_TRUE(PasteFiles(Root + "src", Root + "dst", pmCopy, names, yesToAll.Confirm()));
    ASSERT_EQ(yesToAll.Questions.size(), 1u);
    EXPECT_EQ(yesToAll.Questions[0],
              "The file '" + Root + "dst\\1.opr' already exists. Do you want to overwrite it?");
    EXPECT_EQ(Get("dst\\1.opr"), "new 1.opr");
    EXPECT_EQ(Get("dst\\2.opr"), "new 2.opr");
    EXPECT_EQ(Get("dst\\3.opr"), "new 3.opr");

    // Cancel at the first clash ends the paste: nothing from there on is pasted.
    Put("dst2\\2.opr", "old 2");
    TScriptedAnswers cancel{{mrCancel}};
    EXPECT_FALSE(PasteFiles(Root + "src", Root + "dst2", pmCopy, names, cancel.Confirm()));
    EXPECT_TRUE(Exists("dst2\\1.opr"));
    EXPECT_EQ(Get("dst2\\2.opr"), "old 2");
    EXPECT_FALSE(Exists("dst2\\3.opr"));
}

TEST_F(BrowseFilesTest, MovingWithNoSkipsTheClashingItemsWithoutAnError) {
    Put("src\\a.opr", "new a");
    Put("src\\b.opr", "new b");
    Put("src\\F\\x.opr", "new x");
    Put("src\\F\\y.opr", "new y");
    Put("dst\\a.opr", "old a");
    Put("dst\\F\\x.opr", "old x");
    TScriptedAnswers no{{mrNo, mrNo}};
    ASSERT_NO_THROW(
        EXPECT_TRUE(PasteFiles(Root + "src", Root + "dst", pmCut, {"a.opr", "b.opr", "F"}, no.Confirm())));
    EXPECT_EQ(no.Questions.size(), 2u);
    EXPECT_EQ(Get("src\\a.opr"), "new a");
    EXPECT_EQ(Get("dst\\a.opr"), "old a");
    EXPECT_EQ(Get("dst\\b.opr"), "new b");
    EXPECT_FALSE(Exists("src\\b.opr"));
    // Inside the folder only the clashing file stays behind, with its folder.
    EXPECT_EQ(Get("dst\\F\\x.opr"), "old x");
    EXPECT_EQ(Get("dst\\F\\y.opr"), "new y");
    EXPECT_EQ(Get("src\\F\\x.opr"), "new x");
    EXPECT_FALSE(Exists("src\\F\\y.opr"));
}

TEST_F(BrowseFilesTest, TheSaveProbeNeverDestroysAnExistingFile) {
    Put("locked.opr", "precious");
    // Held open without sharing: it cannot be opened for reading, yet it exists.
    HANDLE held =
        CreateFileA((Root + "locked.opr").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_EQ(ProbeSaveTarget(Root + "locked.opr"), TSaveTarget::Exists);
    CloseHandle(held);
    EXPECT_EQ(Get("locked.opr"), "precious");

    EXPECT_EQ(ProbeSaveTarget(Root + "fresh.opr"), TSaveTarget::Creatable);
    EXPECT_FALSE(Exists("fresh.opr"));
    EXPECT_EQ(ProbeSaveTarget(Root + "missing\\folder\\x.opr"), TSaveTarget::Invalid);
    MakeFolder("AFolder");
    EXPECT_EQ(ProbeSaveTarget(Root + "AFolder"), TSaveTarget::Invalid);
}

TEST_F(BrowseFilesTest, EntriesPastedByTitle) {
    auto source =
        TEntryReader::CreateFromString("One {\r\nfractal:\r\n  title=\"Shared\"\r\n  new=1\r\n}\r\n", false);
    Put("t.opr", "Old {\r\nfractal:\r\n  title=\"Shared\"\r\n  old=1\r\n}\r\nKeep {\r\nfractal:\r\n  "
                 "title=\"Keep\"\r\n}\r\n");
    {
        auto target = TEntryReader::CreateFromFile(Root + "t.opr", false);
        TScriptedAnswers no{{mrNo}};
        ASSERT_TRUE(PasteEntries(*source, *target, false, true, {"One"}, "t.opr", no.Confirm()));
        EXPECT_EQ(no.Questions.at(0),
                  "The entry 'Shared' already exists in 't.opr'.\rDo you want to overwrite it?");
        EXPECT_EQ(target->GetCount(), 2);

        TScriptedAnswers yes{{mrYes}};
        ASSERT_TRUE(PasteEntries(*source, *target, false, true, {"One"}, "t.opr", yes.Confirm()));
        ASSERT_EQ(target->GetCount(), 2);
        EXPECT_EQ(target->IndexOfName("Old"), -1);
        const int pasted = target->IndexOfName("One");
        ASSERT_GE(pasted, 0);
        EXPECT_NE(target->GetEntry(pasted)->GetText().find("new=1"), std::string::npos);
        EXPECT_GE(target->IndexOfName("Keep"), 0);

        // Within one file: copies titled "Copy of ..." under a name made from the title.
        TScriptedAnswers none;
        ASSERT_TRUE(PasteEntries(*target, *target, true, true, {"Keep"}, "t.opr", none.Confirm()));
        ASSERT_TRUE(PasteEntries(*target, *target, true, true, {"Keep"}, "t.opr", none.Confirm()));
        EXPECT_GE(target->IndexOfTitle("Copy of Keep"), 0);
        EXPECT_GE(target->IndexOfTitle("Copy (2) of Keep"), 0);
        EXPECT_EQ(target->GetCount(), 4);
    }
}

TEST_F(BrowseFilesTest, TypedLocations) {
    MakeFolder("Fractals\\Deep");
    Put("Fractals\\MyFile.opr", "");
    Put("Fractals\\text.txt", "");
    char missing = 0;
    for (char letter = 'Q'; letter <= 'Z' && !missing; ++letter)
        if (!(GetLogicalDrives() & (1u << (letter - 'A'))))
            missing = letter;
    ASSERT_NE(missing, 0);
    const std::vector<std::string> refused = {"C:", std::string(1, missing) + ":\\x", Root + "Nowhere",
                                              Root + "Fractals\\text.txt", Root + "Fractals\\MyFile.opr\\x"};
    for (const std::string &text : refused) {
        try {
            ResolveLocation(text, bkParameters);
            ADD_FAILURE() << text << " was found";
        } catch (const EBrowseException &error) {
            EXPECT_EQ(std::string(error.what()),
                      "Cannot find the file or folder '" + text + "'.\rMake sure the path is correct.");
        }
    }
    // The letter case on disk is taken over.
    const std::string typed = LowerCase(Root) + "FRACTALS\\myfile.OPR";
    const std::string found = ResolveLocation(typed, bkParameters);
    EXPECT_EQ(found.substr(found.size() - std::string("Fractals\\MyFile.opr").size()),
              "Fractals\\MyFile.opr");
    EXPECT_TRUE(SameText(found, Root + "Fractals\\MyFile.opr"));
}

TEST(BrowseDelete, ALinkedFolderIsDeletedAsALinkOnly) {
    // data/links/Here/Link is a symbolic link to data/links/Real, made on the host.
    const std::string links = std::string(TEST_DATA_DIR) + "editors\\data\\links\\";
    if (!FileExists(links + "Here\\Link\\a.opr"))
        GTEST_SKIP() << "the link does not lead anywhere here";
    std::vector<std::string> items;
    PlanDeletion(links + "Here", items);
    std::vector<std::string> expected = {links + "Here\\Link", links + "Here"};
    EXPECT_EQ(items, expected);
}

TEST_F(BrowseFilesTest, DeletingAFolderTakesItsContents) {
    Put("F\\a.opr", "a");
    Put("F\\G\\b.opr", "b");
    DeleteBrowseItem(Root + "F");
    EXPECT_FALSE(Exists("F"));
    try {
        DeleteBrowseItem(Root + "F");
        ADD_FAILURE() << "no error";
    } catch (const Exception &error) {
        EXPECT_EQ(std::string(error.what()), "Could not delete '" + Root + "F'.");
    }
}

} // namespace
