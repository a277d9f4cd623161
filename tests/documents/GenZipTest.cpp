// The ZIP reader and the formula installer over archives written by Python's zipfile
// (data/zip/make_zip_fixtures.py, which also breaks a few of them in one known way each). The
// expected file dates are the DOS date-times that script printed for its two member dates.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "tests/foundation/TempFolderTest.h"

#include "Forms.h"
#include "GenClasses.h"
#include "GenZip.h"

namespace {

constexpr int32_t NewDosDate = 0x52e84946; // 2021-07-08 09:10:12
constexpr int32_t OldDosDate = 0x3c6428c4; // 2010-03-04 05:06:08

std::string ZipPath(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "documents\\data\\zip\\" + Name;
}

std::vector<std::string> ReadLines(const std::string &FileName) {
    TStringList lines;
    lines.LoadFromFile(FileName);
    std::vector<std::string> result;
    for (int i = 0; i < lines.Count(); ++i)
        result.push_back(lines[i]);
    return result;
}

struct TAnsweredDialog {
    std::vector<int> Answers; // used in order; OK once they run out
    std::vector<std::string> Messages;
    std::vector<TMsgDlgType> Types;
};

class GenZipTest : public TTempFolderTest {
protected:
    GenZipTest() : TTempFolderTest("ovzip") {}

    void SetUp() override {
        TTempFolderTest::SetUp();
        Formula = Root + "Formulas\\";
        Public = Formula + "Public\\";
        ASSERT_TRUE(ForceDirectories(Public + "sub"));
        ASSERT_TRUE(ForceDirectories(Formula + "Own"));
        SetInstallerMessageDialog([this](const std::string &Message, TMsgDlgType Type, TMsgDlgButtons) {
            Dialog.Messages.push_back(Message);
            Dialog.Types.push_back(Type);
            const size_t asked = Dialog.Messages.size() - 1;
            return asked < Dialog.Answers.size() ? Dialog.Answers[asked] : static_cast<int>(mrOk);
        });
    }
    void TearDown() override {
        SetInstallerMessageDialog(nullptr);
        TTempFolderTest::TearDown();
    }

    // A file under Root with a given date (packed DOS date-time, local time).
    void PutDated(const std::string &Name, const std::string &Content, int32_t DosDate) {
        Put(Name, Content);
        ASSERT_TRUE(SetFileDate(Root + Name, FileDateToDateTime(DosDate)));
    }

    std::vector<std::string> Confirmations() const {
        std::vector<std::string> result;
        for (size_t i = 0; i < Dialog.Messages.size(); ++i)
            if (Dialog.Types[i] == mtConfirmation)
                result.push_back(Dialog.Messages[i]);
        return result;
    }

    std::string Formula, Public;
    TAnsweredDialog Dialog;
};

TEST_F(GenZipTest, InstallsAddsReplacesSkipsAndLogsEveryMember) {
    PutDated("Formulas\\Own\\own.ufm", "the user's own copy", OldDosDate);
    PutDated("Formulas\\Public\\sub\\replace.ufm", "old public copy", OldDosDate);
    Put("Formulas\\Public\\newerlocal.ufm", "edited today");
    PutDated("Formulas\\Public\\samedate.ufm", "same date local", OldDosDate);
    Dialog.Answers = {mrNo};

    TFormulaInstaller installer(Formula, Public);
    installer.Install(ZipPath("install.zip"));

    EXPECT_EQ(2, installer.Added);
    EXPECT_EQ(2, installer.Replaced);
    EXPECT_EQ(2, installer.Skipped);
    // The member's folder is not used: a new file goes straight into the public folder, a known
    // one replaces the file where it lies.
    std::string added;
    for (int i = 0; i < 40; ++i)
        added += "added formula\r\n";
    EXPECT_EQ(added, Get("Formulas\\Public\\added.ufm"));
    EXPECT_FALSE(DirectoryExists(Public + "fresh"));
    EXPECT_FALSE(DirectoryExists(Public + "folder"));
    std::string replaced;
    for (int i = 0; i < 30; ++i)
        replaced += "replacement\r\n";
    EXPECT_EQ(replaced, Get("Formulas\\Public\\sub\\replace.ufm"));
    EXPECT_FALSE(FileExists(Public + "replace.ufm"));
    EXPECT_EQ("stored, not deflated\r\n", Get("Formulas\\Public\\stored.ucl"));
    EXPECT_EQ("edited today", Get("Formulas\\Public\\newerlocal.ufm"));
    EXPECT_EQ("same date online\r\n", Get("Formulas\\Public\\samedate.ufm"));
    EXPECT_EQ("the user's own copy", Get("Formulas\\Own\\own.ufm"));
    EXPECT_FALSE(FileExists(Public + "own.ufm"));
    // Written files carry the member's date.
    EXPECT_EQ(NewDosDate, FileAge(Public + "added.ufm"));
    EXPECT_EQ(NewDosDate, FileAge(Public + "sub\\replace.ufm"));
    EXPECT_EQ(OldDosDate, FileAge(Public + "samedate.ufm"));

    // Only the newer local file was asked about, with both files described.
    const std::vector<std::string> asked = Confirmations();
    ASSERT_EQ(1u, asked.size());
    EXPECT_NE(std::string::npos,
              asked[0].find("Do you want to replace your file\r\r" + Public + "newerlocal.ufm\r12 bytes\r"));
    EXPECT_NE(std::string::npos,
              asked[0].find("online formula library?\r\rnewerlocal.ufm\r19 bytes\r3/4/2010 05:06:08"))
        << asked[0];

    const std::vector<std::string> log = ReadLines(Public + "Update.log");
    ASSERT_EQ(10u, log.size());
    EXPECT_EQ(0u, log[0].find("; Formula update log on "));
    EXPECT_EQ(':', log[0].back());
    const std::vector<std::string> rest(log.begin() + 1, log.end());
    EXPECT_EQ(
        (std::vector<std::string>{
            "", "added.ufm [added]", "replace.ufm [replaced]", "newerlocal.ufm [skipped]",
            "stored.ucl [added]", "samedate.ufm [replaced]", "",
            "; Files not updated because they are already installed, but not in the public formula folder:",
            "own.ufm"}),
        rest);

    ASSERT_EQ(2u, Dialog.Messages.size());
    EXPECT_EQ("The formulas have been updated successfully.\r\rReplaced: 2 files\rAdded: 2 files\rSkipped: 2 "
              "files\r\rFor more information, see the log file:\r" +
                  Public + "Update.log",
              Dialog.Messages[1]);
}

TEST_F(GenZipTest, AnswersToTheReplaceQuestionCarryOverToLaterFiles) {
    struct TCase {
        std::vector<int> Answers;
        size_t Asked;
        const char *Kept; // per file a, b, c: '1' kept local, '0' replaced
    };
    const TCase cases[] = {
        {{mrNoToAll}, 1, "111"},
        {{mrYesToAll}, 1, "000"},
        {{mrYes, mrNo, mrYes}, 3, "010"},
        {{mrNo, mrYesToAll}, 2, "100"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Kept);
        for (const char *name : {"a.ufm", "b.ufm", "c.ufm"})
            Put(std::string("Formulas\\Public\\") + name, "local");
        Dialog = TAnsweredDialog{c.Answers, {}, {}};
        TFormulaInstaller installer(Formula, Public);
        installer.Install(ZipPath("newer.zip"));
        EXPECT_EQ(c.Asked, Confirmations().size());
        int i = 0;
        for (const char *name : {"a.ufm", "b.ufm", "c.ufm"}) {
            const std::string expected =
                c.Kept[i++] == '1' ? "local" : "online " + std::string(name) + "\r\n";
            EXPECT_EQ(expected, Get(std::string("Formulas\\Public\\") + name)) << name;
        }
    }
}

TEST_F(GenZipTest, MemberNamesNeverReachAnotherFolder) {
    TFormulaInstaller installer(Formula, Public);
    installer.Install(ZipPath("escape.zip"));
    EXPECT_EQ(4, installer.Added);
    EXPECT_EQ("slash\r\n", Get("Formulas\\Public\\evil.ofm"));
    EXPECT_EQ("backslash\r\n", Get("Formulas\\Public\\evil2.ofm"));
    EXPECT_EQ("drive\r\n", Get("Formulas\\Public\\evil3.ofm"));
    EXPECT_EQ("deep\r\n", Get("Formulas\\Public\\evil4.ofm"));
    for (const char *outside :
         {"Formulas\\evil.ofm", "Formulas\\evil2.ofm", "evil4.ofm", "Formulas\\Public\\..\\evil.ofm"})
        EXPECT_FALSE(FileExists(Root + outside)) << outside;
}

TEST_F(GenZipTest, RefusesNamesThatAreNoFileAndWritesNothing) {
    for (const char *archive : {"dotdot.zip", "device.zip", "control.zip"}) {
        SCOPED_TRACE(archive);
        TFormulaInstaller installer(Formula, Public);
        try {
            installer.Install(ZipPath(archive));
            ADD_FAILURE() << "installed";
        } catch (const EZipError &error) {
            EXPECT_EQ("Invalid file name in ZIP file", error.Message());
        }
        // The archive is read whole before anything is written.
        EXPECT_FALSE(FileExists(Public + "first.ufm"));
    }
}

TEST_F(GenZipTest, BrokenMembersKeepTheLocalFile) {
    struct TCase {
        const char *Archive;
        const char *Message;
    };
    const TCase cases[] = {
        {"badcrc.zip", "Checksum error in ZIP file"},
        {"shortsize.zip", "Error while decompressing ZIP file"},
        {"longsize.zip", "Error while decompressing ZIP file"},
        {"datadescriptor.zip", "Invalid file size in ZIP file"},
        {"nocompressedsize.zip", "Invalid file size in ZIP file"},
        {"hugecompressedsize.zip", "Invalid file size in ZIP file"},
        {"encrypted.zip", "Encryption in ZIP file not supported"},
        {"method12.zip", "Compression type in ZIP file not supported"},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Archive);
        PutDated("Formulas\\Public\\good.ufm", "the old good file", OldDosDate);
        TFormulaInstaller installer(Formula, Public);
        try {
            installer.Install(ZipPath(c.Archive));
            ADD_FAILURE() << "installed";
        } catch (const EZipError &error) {
            EXPECT_EQ(c.Message, error.Message());
        }
        EXPECT_EQ("the old good file", Get("Formulas\\Public\\good.ufm"));
        // No temporary file is left beside it.
        TFileEnumerator left(Public + "good.$*", faAnyFile);
        EXPECT_FALSE(left.Next()) << left.GetName();
    }
    // The intact archive replaces it (the cases above fail for their fault alone).
    TFormulaInstaller installer(Formula, Public);
    installer.Install(ZipPath("one.zip"));
    EXPECT_EQ(1, installer.Replaced);
}

TEST_F(GenZipTest, ReaderListsFoldersAsNamelessMembers) {
    TFileStream archive(ZipPath("install.zip"), fmOpenRead | fmShareDenyWrite);
    TZipReader reader(archive);
    ASSERT_EQ(7, reader.Count());
    const TZipEntry &added = *reader.GetEntry(0);
    EXPECT_EQ("added.ufm", added.FileName);
    EXPECT_EQ("fresh/", added.Folder);
    EXPECT_TRUE(added.Compressed);
    EXPECT_EQ(600u, added.Size);
    EXPECT_EQ("", reader.GetEntry(4)->FileName);
    EXPECT_EQ(0u, reader.GetEntry(4)->Size);
    EXPECT_FALSE(reader.GetEntry(5)->Compressed);
    EXPECT_NEAR(EncodeDate(2021, 7, 8) + EncodeTime(9, 10, 12, 0), reader.GetEntry(5)->Date, 1e-9);
}

TEST_F(GenZipTest, InstallsOneDownloadedFile) {
    Put("download.tmp", "downloaded");
    Put("Formulas\\Own\\mine.ufm", "own");
    Put("Formulas\\Public\\sub\\there.ufm", "old");
    TFormulaInstaller installer(Formula, Public);
    installer.InstallSingleFile(Root + "download.tmp", "there.ufm");
    installer.InstallSingleFile(Root + "download.tmp", "new.ufm");
    installer.InstallSingleFile(Root + "download.tmp", "mine.ufm");
    EXPECT_EQ("downloaded", Get("Formulas\\Public\\sub\\there.ufm"));
    EXPECT_EQ("downloaded", Get("Formulas\\Public\\new.ufm"));
    EXPECT_EQ("own", Get("Formulas\\Own\\mine.ufm"));
    EXPECT_FALSE(FileExists(Public + "mine.ufm"));
    EXPECT_EQ((std::vector<std::string>{
                  "The file 'there.ufm' has been installed successfully.",
                  "The file 'new.ufm' has been installed successfully.",
                  "The file 'mine.ufm' could not be updated because it is\ralready installed, but not in the "
                  "public formula folder."}),
              Dialog.Messages);
    EXPECT_THROW(installer.InstallSingleFile(Root + "download.tmp", ".."), EZipError);
}

} // namespace
