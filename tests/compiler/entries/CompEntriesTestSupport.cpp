#include "CompEntriesTestSupport.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

#include <gtest/gtest.h>

#include "Classes.h"
#include "CompFileManager.h"
#include "GenUtils.h"

namespace {

// The CRC table and the shared file manager, for every test of this program.
class TEntryFilesEnvironment : public testing::Environment {
public:
    void SetUp() override {
        InitializeGenUtils();
        InitializeCompFileManager();
    }
    void TearDown() override {
        FinalizeCompFileManager();
        FinalizeGenUtils();
    }
};

const testing::Environment *const EntryFilesEnvironment =
    testing::AddGlobalTestEnvironment(new TEntryFilesEnvironment);

std::atomic<int> FolderCounter{0};

} // namespace

std::string CompilerDataPath(const std::string &Name) {
    return std::string(TEST_DATA_DIR) + "compiler\\data\\" + Name;
}

std::string ReadFileBytes(const std::string &Path) {
    std::string bytes;
    FILE *file = std::fopen(Path.c_str(), "rb");
    if (!file)
        return bytes;
    char block[4096];
    std::size_t count;
    while ((count = std::fread(block, 1, sizeof(block), file)) > 0)
        bytes.append(block, count);
    std::fclose(file);
    return bytes;
}

void WriteFileBytes(const std::string &Path, const std::string &Bytes) {
    FILE *file = std::fopen(Path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << Path;
    ASSERT_EQ(std::fwrite(Bytes.data(), 1, Bytes.size(), file), Bytes.size());
    std::fclose(file);
}

TTempFolder::TTempFolder() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    FPath = Format("%sCompEntries_%lu_%d\\", std::string(base), GetCurrentProcessId(), FolderCounter++);
    CreateDirectoryA(FPath.c_str(), nullptr);
}

TTempFolder::~TTempFolder() {
    try {
        DeleteFileOrFolder(FPath);
    } catch (...) {
        // A folder left behind in the temporary folder harms no later run.
    }
}

std::string WithLineEnds(const std::string &Text, const char *Break) {
    std::string result;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] == '\r' || Text[i] == '\n') {
            result += Break;
            if (Text[i] == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n')
                ++i;
        } else {
            result += Text[i];
        }
    }
    return result;
}
