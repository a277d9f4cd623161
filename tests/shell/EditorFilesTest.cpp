// The editor's files on disk: CR LF line breaks, and a failed save that leaves the old file whole.
#include <windows.h>

#include <set>

#include <gtest/gtest.h>

#include "EditorFiles.h"
#include "GenUtils.h"
#include "tests/foundation/TempFolderTest.h"

namespace {

class EditorFilesTest : public TTempFolderTest {
protected:
    EditorFilesTest() : TTempFolderTest("EditorFilesTest") {}
    std::set<std::string> Names() {
        std::set<std::string> names;
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((Root + "*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return names;
        do {
            const std::string name = data.cFileName;
            if (name != "." && name != "..")
                names.insert(name);
        } while (FindNextFileA(find, &data));
        FindClose(find);
        return names;
    }
};

TEST_F(EditorFilesTest, SavesCrLfAndReadsBackSingleBreaks) {
    WriteEditorFile(Root + "a.ofm", "one\rtwo\r\rthree");
    EXPECT_EQ(Get("a.ofm"), "one\r\ntwo\r\n\r\nthree");
    EXPECT_EQ(Names(), (std::set<std::string>{"a.ofm"}));
    Put("b.ofm", "x\ny\r\nz\r");
    EXPECT_EQ(ReadEditorFile(Root + "b.ofm"), "x\ry\rz\r");
}

TEST_F(EditorFilesTest, FailedSaveLeavesTheOldFileAndNoTemporaryFile) {
    const std::string original = "Old {\r\n  z = 1\r\n}\r\n" + std::string(3000, 'o');
    Put("locked.ofm", original);
    // Another program holds the file open without letting it be replaced, so the save fails
    // after the whole text was written.
    HANDLE holder = CreateFileA((Root + "locked.ofm").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_THROW(WriteEditorFile(Root + "locked.ofm", "New {\r}"), EStreamError);
    CloseHandle(holder);
    EXPECT_EQ(Get("locked.ofm"), original);
    EXPECT_EQ(Names(), (std::set<std::string>{"locked.ofm"}));
}

TEST_F(EditorFilesTest, MissingFileRaisesTheFileError) {
    EXPECT_THROW(ReadEditorFile(Root + "missing.ofm"), EStreamError);
    EXPECT_THROW(WriteEditorFile(Root + "no folder\\x.ofm", "x"), EStreamError);
}

} // namespace
