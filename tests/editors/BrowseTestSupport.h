// A fresh fixture folder under the temporary folder for the browser's tests, removed after each.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "GenUtils.h"
#include "SysUtils.h"

class TBrowseFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Root = Format("%sovbrowse%lu_%s\\", temp, GetCurrentProcessId(),
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(ForceDirectories(RemoveTrailingBackslash(Root)));
    }
    void TearDown() override {
        if (DirectoryExists(Root))
            DeleteFileOrFolder(Root);
    }
    void Put(const std::string &Name, const std::string &Content) {
        ForceDirectories(RemoveTrailingBackslash(ExtractFilePath(Root + Name)));
        std::ofstream(Root + Name, std::ios::binary) << Content;
    }
    std::string Get(const std::string &Name) {
        std::ifstream in(Root + Name, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
    bool Exists(const std::string &Name) {
        return GetFileAttributesA((Root + Name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    void MakeFolder(const std::string &Name) { ForceDirectories(Root + Name); }

    std::string Root;
};
