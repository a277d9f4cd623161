// The browser tests' fixture folder: the temporary-folder fixture with folders and existence.
#pragma once

#include "tests/foundation/TempFolderTest.h"

class TBrowseFolderTest : public TTempFolderTest {
protected:
    TBrowseFolderTest() : TTempFolderTest("ovbrowse") {}
    // Put with the folders of Name made first.
    void Put(const std::string &Name, const std::string &Content) {
        ForceDirectories(RemoveTrailingBackslash(ExtractFilePath(Root + Name)));
        TTempFolderTest::Put(Name, Content);
    }
    bool Exists(const std::string &Name) {
        return GetFileAttributesA((Root + Name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    void MakeFolder(const std::string &Name) { ForceDirectories(Root + Name); }
};
