// Edits of entry sources that fail part-way: whatever byte a write fails at, the source keeps
// every byte it had, and no temporary file is left behind.
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CompEntriesTestSupport.h"
#include "CompFileManager.h"

namespace {

const char Original[] = "; three entries\r\nOne {\r\nfractal:\r\n  title=\"First\"\r\n}\r\n\r\n"
                        "Two (Second) {\r\nb=2\r\n}\r\n; about three\r\nThree {\r\nc=3\r\n}\r\n\r\n";

// A temporary copy whose writes stop after a budget of bytes, as on a disk that fills up.
class TBudgetSaveStream : public TSafeFileStream {
public:
    TBudgetSaveStream(const std::string &FileName, int64_t &Budget)
        : TSafeFileStream(FileName, fmCreate), FBudget(Budget) {}
    int32_t Write(const void *Buffer, int32_t Count) override {
        const int32_t allowed = static_cast<int32_t>(std::min<int64_t>(Count, std::max<int64_t>(FBudget, 0)));
        FBudget -= allowed;
        return allowed > 0 ? TSafeFileStream::Write(Buffer, allowed) : 0;
    }

private:
    int64_t &FBudget;
};

class TBudgetEntryFile : public TEntryFile {
public:
    TBudgetEntryFile(const std::string &FileName, int64_t Budget)
        : TEntryFile(nullptr, FileName, false, false), Budget(Budget) {}
    int64_t Budget;

protected:
    std::unique_ptr<TSafeFileStream> CreateSaveStream() override {
        return std::make_unique<TBudgetSaveStream>(FileName(), Budget);
    }
};

// A memory stream that cannot grow beyond a size, like a file on a full disk.
class TCappedStream : public TMemoryStream {
public:
    explicit TCappedStream(const std::string &Text) {
        WriteString(Text);
        Seek(0, soFromBeginning);
    }
    int64_t Cap = INT32_MAX;
    int32_t Write(const void *Buffer, int32_t Count) override {
        const int64_t room = std::max<int64_t>(Cap - Position(), 0);
        return TMemoryStream::Write(Buffer, static_cast<int32_t>(std::min<int64_t>(Count, room)));
    }
    void SetSize(int64_t NewSize) override {
        if (NewSize > Cap)
            throw EWriteError("Stream write error");
        TMemoryStream::SetSize(NewSize);
    }
    std::string Text() {
        return std::string(static_cast<const char *>(Memory()), static_cast<std::size_t>(Size()));
    }
};

struct TEditCase {
    const char *Name;
    std::function<void(TEntryCollection &)> Edit;
};

const std::vector<TEditCase> &EditCases() {
    static const std::vector<TEditCase> cases = {
        {"append",
         [](TEntryCollection &c) { c.AppendEntry(std::string("x=1\r\n"), "Four", "Fourth", false); }},
        {"append packed",
         [](TEntryCollection &c) { c.AppendEntry(std::string("y=2\r\n"), "Four", "", true); }},
        {"copy", [](TEntryCollection &c) { c.CopyEntry(*c.GetEntry(1), cmPlain); }},
        {"copy from elsewhere",
         [](TEntryCollection &c) {
             auto other = TEntryReader::CreateFromString("Two {\r\nz=9\r\n}\r\n", false);
             c.CopyEntry(*other->GetEntry(0), cmCompressed);
         }},
        {"delete first", [](TEntryCollection &c) { c.DeleteEntry(0); }},
        {"delete middle", [](TEntryCollection &c) { c.DeleteEntry(1); }},
        {"delete last", [](TEntryCollection &c) { c.DeleteEntry(2); }},
        {"retitle", [](TEntryCollection &c) { c.ChangeTitle(0, "Renamed"); }},
    };
    return cases;
}

// The text an edit gives over an in-memory collection.
std::string EditedText(const TEditCase &Case) {
    TStringStream stream(Original);
    TEntryReader reader(stream, false);
    Case.Edit(reader);
    return stream.DataString();
}

// Names of the files in Folder.
std::vector<std::string> FolderFiles(const std::string &Folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA((Folder + "*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    } while (FindNextFileA(search, &data));
    FindClose(search);
    return names;
}

TEST(EntrySaving, AFileEditFailingAtAnyByteLeavesTheFile) {
    TTempFolder folder;
    const std::string path = folder.File("entries.ufm");
    const std::vector<std::string> onlyTheFile = {"entries.ufm"};
    for (const TEditCase &c : EditCases()) {
        const std::string expected = EditedText(c);
        ASSERT_NE(expected, Original) << c.Name;
        // Every budget short of the whole new file fails the edit.
        for (int64_t budget = 0; budget < static_cast<int64_t>(expected.size()); ++budget) {
            WriteFileBytes(path, Original);
            TBudgetEntryFile file(path, budget);
            ASSERT_EQ(file.GetCount(), 3);
            EXPECT_THROW(c.Edit(file), EEntryError) << c.Name << " at byte " << budget;
            ASSERT_EQ(ReadFileBytes(path), Original) << c.Name << " at byte " << budget;
            ASSERT_EQ(FolderFiles(folder.Path()), onlyTheFile) << c.Name << " at byte " << budget;
            ASSERT_EQ(file.GetCount(), 3) << c.Name << " at byte " << budget;
        }
        WriteFileBytes(path, Original);
        TBudgetEntryFile file(path, static_cast<int64_t>(expected.size()));
        c.Edit(file);
        EXPECT_EQ(ReadFileBytes(path), expected) << c.Name;
        EXPECT_EQ(FolderFiles(folder.Path()), onlyTheFile) << c.Name;
    }
}

TEST(EntrySaving, AStreamEditFailingAtAnyByteLeavesTheStream) {
    const int64_t originalSize = sizeof(Original) - 1;
    for (const TEditCase &c : EditCases()) {
        const std::string expected = EditedText(c);
        // A stream that cannot grow to the new size: every size from its own up.
        for (int64_t cap = originalSize; cap < static_cast<int64_t>(expected.size()); ++cap) {
            TCappedStream stream(Original);
            TEntryReader reader(stream, false);
            stream.Cap = cap;
            EXPECT_THROW(c.Edit(reader), EStreamError) << c.Name << " capped at " << cap;
            ASSERT_EQ(stream.Text(), Original) << c.Name << " capped at " << cap;
            ASSERT_EQ(reader.GetCount(), 3);
        }
        TCappedStream stream(Original);
        TEntryReader reader(stream, false);
        stream.Cap = static_cast<int64_t>(expected.size());
        c.Edit(reader);
        EXPECT_EQ(stream.Text(), expected) << c.Name;
    }
}

TEST(EntrySaving, FileErrorsNameTheFile) {
    TTempFolder folder;
    const std::string path = folder.File("names.ufm");
    WriteFileBytes(path, Original);
    TBudgetEntryFile file(path, 10);
    try {
        file.DeleteEntry(0);
        ADD_FAILURE() << "no error";
    } catch (const EEntryError &e) {
        EXPECT_NE(e.Message().find(path), std::string::npos) << e.Message();
    }
}

// On a real file system that is full. The folder is given by OV_FULL_DISK_FOLDER: a small file
// system (for instance a tmpfs of 64 KB) on which this test's file is the only one. The test
// fills the rest of it and then edits.
TEST(EntrySaving, AFullDiskLeavesTheFile) {
    const char *folderName = std::getenv("OV_FULL_DISK_FOLDER");
    if (!folderName || !*folderName)
        GTEST_SKIP() << "OV_FULL_DISK_FOLDER names no folder on a small file system";
    std::string folder = folderName;
    if (folder.back() != '\\')
        folder += '\\';
    const std::string path = folder + "entries.ufm";
    const std::string filler = folder + "filler.bin";
    for (const TEditCase &c : EditCases()) {
        DeleteFileA(filler.c_str());
        WriteFileBytes(path, Original);
        {
            // Fill the disk to its last byte.
            TFileStream fill(filler, fmCreate);
            std::string block(4096, 'f');
            for (int32_t size = 4096; size > 0; size /= 2)
                try {
                    for (;;)
                        fill.WriteBuffer(block.data(), size);
                } catch (const EWriteError &) {
                }
        }
        TEntryFile file(nullptr, path, false, false);
        EXPECT_THROW(c.Edit(file), EEntryError) << c.Name;
        EXPECT_EQ(ReadFileBytes(path), Original) << c.Name;
        DeleteFileA(filler.c_str());
        c.Edit(file);
        EXPECT_EQ(ReadFileBytes(path), EditedText(c)) << c.Name;
    }
    DeleteFileA(path.c_str());
}

} // namespace
