// A fixture with a fresh folder under the temporary folder, removed again after each test.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "GenUtils.h"
#include "SysUtils.h"

class TTempFolderTest : public ::testing::Test {
protected:
    explicit TTempFolderTest(const char *Prefix) : FPrefix(Prefix) {}

    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        Root = Format("%s%s%lu_%s\\", temp, FPrefix, GetCurrentProcessId(),
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        ASSERT_TRUE(ForceDirectories(RemoveTrailingBackslash(Root)));
    }
    void TearDown() override {
        if (DirectoryExists(Root))
            DeleteFileOrFolder(Root);
    }
    void Put(const std::string &Name, const std::string &Content) {
        std::ofstream(Root + Name, std::ios::binary) << Content;
    }
    std::string Get(const std::string &Name) {
        std::ifstream in(Root + Name, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

    std::string Root;

private:
    const char *FPrefix;
};
