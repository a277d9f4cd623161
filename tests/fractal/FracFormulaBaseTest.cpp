#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "FracContext.h"
#include "FracFormulaBase.h"

namespace {

// Records each block's tag at the moment its memory goes back.
class TRecordingAllocator : public TFormulaDataAllocator {
public:
    std::vector<std::uint32_t> TagsAtRelease;
    std::vector<bool> PagedAtRelease;

protected:
    void ReleaseMemory(void *Start, bool Paged) override {
        std::uint32_t tag;
        std::memcpy(&tag, Start, 4);
        TagsAtRelease.push_back(tag);
        PagedAtRelease.push_back(Paged);
        TFormulaDataAllocator::ReleaseMemory(Start, Paged);
    }
};

std::uint8_t *BlockStart(void *Data) {
    std::uint8_t *start;
    std::memcpy(&start, static_cast<std::uint8_t *>(Data) - 4, 4);
    return start;
}

// Whether Start is the base of an allocation of pages of its own.
bool IsOwnPages(const void *Start) {
    MEMORY_BASIC_INFORMATION info{};
    VirtualQuery(Start, &info, sizeof info);
    return info.AllocationBase == Start && info.State == MEM_COMMIT;
}

TEST(FormulaDataAllocator, BlocksCarryTheirHeaderAndAlignment) {
    TRecordingAllocator allocator;
    EXPECT_EQ(allocator.Alloc(0), nullptr);
    allocator.Free(nullptr);

    struct TCase {
        std::uint64_t Size;
        bool Paged;
    };
    const TCase cases[] = {{1, false},     {12, false},   {4095, false},
                           {65536, false}, {65537, true}, {300000, true}};
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Size);
        void *data = allocator.Alloc(c.Size);
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % 16, 0u);
        std::uint8_t *start = BlockStart(data);
        EXPECT_EQ(std::memcmp(start, "FSDA", 4), 0);
        EXPECT_EQ(TFormulaDataAllocator::BlockSize(data), c.Size);
        // The data starts at the first 16-byte boundary at or after the 12 header bytes.
        EXPECT_GE(static_cast<std::uint8_t *>(data) - start, 12);
        EXPECT_LT(static_cast<std::uint8_t *>(data) - start, 28);
        EXPECT_EQ(IsOwnPages(start), c.Paged);
        std::memset(data, 0xAB, static_cast<std::size_t>(c.Size)); // the whole size is usable
        allocator.Free(data);
        ASSERT_FALSE(allocator.TagsAtRelease.empty());
        EXPECT_EQ(allocator.TagsAtRelease.back(), 0u) << "the tag is cleared before the memory goes back";
        EXPECT_EQ(allocator.PagedAtRelease.back(), c.Paged);
    }
}

TEST(FormulaDataAllocator, RefusesSizesAndBlocksItCannotServe) {
    TFormulaDataAllocator allocator;
    // (maxiter + 1) * 16 for the largest maxiter: computed in 64 bits it cannot wrap to a small block.
    const std::uint64_t orbit = OrbitArraySize(INT32_MAX, 16);
    EXPECT_EQ(orbit, (std::uint64_t{INT32_MAX} + 1) * 16);
    EXPECT_THROW(allocator.Alloc(orbit), EOutOfMemory);
    EXPECT_THROW(allocator.Alloc(0xFFFFFFFFu), EOutOfMemory);
    EXPECT_THROW(allocator.Alloc(std::uint64_t{1} << 40), EOutOfMemory);

    // A block without the live tag is refused, not handed to the heap.
    alignas(16) std::uint8_t fake[64] = {};
    std::uint8_t *start = fake;
    std::memcpy(fake + 12, &start, 4);
    EXPECT_THROW(allocator.Free(fake + 16), EInvalidPointer);
}

TEST(FormulaKinds, SectionWordsAndDataCells) {
    struct TCase {
        TFormulaKind Kind;
        const char *Word;
        std::int32_t Offset;
        const char *Accepted[3];
        const char *Refused[3];
    };
    const TCase cases[] = {
        {TFormulaKind::Transform,
         "transform",
         100,
         {"transform", "TRANSFORM", nullptr},
         {"formula", "inside", nullptr}},
        {TFormulaKind::Formula,
         "formula",
         108,
         {"formula", "Formula", nullptr},
         {"transform", "outside", nullptr}},
        {TFormulaKind::Inside,
         "inside",
         112,
         {"inside", "outside", "Outside"},
         {"formula", "transform", nullptr}},
        {TFormulaKind::Outside,
         "outside",
         116,
         {"outside", "inside", nullptr},
         {"formula", "mapping", nullptr}},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Word);
        EXPECT_STREQ(FormulaSectionWord(c.Kind), c.Word);
        EXPECT_EQ(FormulaDataOffset(c.Kind), c.Offset);
        for (const char *word : c.Accepted) {
            if (word) {
                EXPECT_TRUE(FormulaSectionAccepted(c.Kind, word)) << word;
            }
        }
        for (const char *word : c.Refused) {
            if (word) {
                EXPECT_FALSE(FormulaSectionAccepted(c.Kind, word)) << word;
            }
        }
    }
}

TEST(FormulaHelp, BrowserCommandQuotesItsParameterAndRefusesQuotes) {
    struct TCase {
        const char *Command, *File, *Topic, *Program, *Parameter;
    };
    const TCase cases[] = {
        {"\"C:\\Program Files\\Browser\\browser.exe\" -url \"%1\"", "C:\\help\\f.htm", "mandel",
         "\"C:\\Program Files\\Browser\\browser.exe\"", "\"C:\\help\\f.htm#mandel\""},
        {"  C:\\browser.exe %1  ", "http://example.org/help.html", "", "C:\\browser.exe",
         "\"http://example.org/help.html\""},
        {"browser.exe", "f.htm", "a b", "browser.exe", "\"f.htm#a b\""},
    };
    for (const TCase &c : cases) {
        const TBrowserHelpCommand command = MakeBrowserHelpCommand(c.Command, c.File, c.Topic);
        EXPECT_EQ(command.Program, c.Program);
        EXPECT_EQ(command.Parameter, c.Parameter);
    }
    // A quote in the file or the topic would end the quoted parameter and start another argument.
    EXPECT_THROW(MakeBrowserHelpCommand("browser.exe", "f.htm\" --evil \"", ""), EFormulaHelpError);
    EXPECT_THROW(MakeBrowserHelpCommand("browser.exe", "f.htm", "x\" -y"), EFormulaHelpError);
}

TEST(FormulaHelp, HelpFilesAreFoundAndShownByTheirKind) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "ovhelp" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "program").c_str(), nullptr);
    CreateDirectoryA((folder + "formulas").c_str(), nullptr);
    auto touch = [](const std::string &Path) {
        HANDLE file = CreateFileA(Path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        CloseHandle(file);
    };
    touch(folder + "program\\both.chm");
    touch(folder + "formulas\\both.chm");
    touch(folder + "formulas\\local.htm");
    struct TCase {
        std::string File, Expected;
        int Kind;
    };
    const std::string program = folder + "program", formulas = folder + "formulas\\", help = "C:\\Help";
    const TCase cases[] = {
        {"HTTP://example.org/f.hlp", "HTTP://example.org/f.hlp", 0},
        {"C:\\abs\\f.hlp", "C:\\abs\\f.hlp", 2},
        {"both.chm", folder + "program\\both.chm", 1},
        {"local.htm", folder + "formulas\\local.htm", 0},
        {"missing.HTML", "C:\\Help\\missing.HTML", 0},
        {"missing.hlp", "C:\\Help\\missing.hlp", 2},
    };
    for (const TCase &c : cases) {
        const std::string resolved = ResolveHelpFile(c.File, program, formulas, help);
        EXPECT_EQ(resolved, c.Expected) << c.File;
        EXPECT_EQ(HelpViewerKind(resolved), c.Kind) << c.File;
    }
    EXPECT_EQ(WinHelpJumpMacro("topic 1"), "JumpID(\"\", \"topic 1\")");
    EXPECT_THROW(WinHelpJumpMacro("a\")+Exec(\"x"), EFormulaHelpError);
    for (const char *name : {"program\\both.chm", "formulas\\both.chm", "formulas\\local.htm"})
        DeleteFileA((folder + name).c_str());
    RemoveDirectoryA((folder + "program").c_str());
    RemoveDirectoryA((folder + "formulas").c_str());
    RemoveDirectoryA(folder.c_str());
}

// Records what a formula asks its help viewer to show.
class TRecordingHelpViewer : public TFormulaHelpViewer {
public:
    std::vector<std::string> Calls;
    void ShowBrowserHelpTopic(const std::string &File, const std::string &Topic) override {
        Calls.push_back("browser " + File + " " + Topic);
    }
    void ShowHtmlHelpTopic(const std::string &File, const std::string &Topic) override {
        Calls.push_back("html " + File + " " + Topic);
    }
    void ShowWinHelpTopic(const std::string &File, const std::string &Topic) override {
        Calls.push_back("winhelp " + File + " " + Topic);
    }
};

TEST(FormulaHelp, ShowHelpCallsTheInstalledViewerAndNothingElse) {
    struct TCase {
        const char *HelpFile, *Topic, *Expected;
    } cases[] = {
        {"HTTP://example.org/f.hlp", "t1", "browser HTTP://example.org/f.hlp t1"},
        {"C:\\help\\f.chm", "t2", "html C:\\help\\f.chm t2"},
        {"C:\\help\\f.hlp", "", "winhelp C:\\help\\f.hlp "},
        {"", "t3", nullptr},
    };
    TRecordingHelpViewer viewer;
    ASSERT_EQ(FormulaHelpViewer(), nullptr);
    for (const TCase &c : cases) {
        TFormulaBase formula(TFormulaKind::Formula);
        formula.SetStringSetting("DEFAULT", "HELPFILE", c.HelpFile);
        formula.SetStringSetting("DEFAULT", "HELPTOPIC", c.Topic);
        // Without a viewer the model shows nothing itself.
        formula.ShowHelp();
        SetFormulaHelpViewer(&viewer);
        formula.ShowHelp();
        SetFormulaHelpViewer(nullptr);
        const std::vector<std::string> expected =
            c.Expected ? std::vector<std::string>{c.Expected} : std::vector<std::string>{};
        EXPECT_EQ(viewer.Calls, expected) << c.HelpFile;
        viewer.Calls.clear();
    }
}

TEST(PixelContextBlock, SizesAlignmentAndWindow) {
    const std::int32_t sizes[3] = {320, 480, 240};
    for (std::uint8_t precision = 0; precision < 3; ++precision) {
        TPixelContextBlock block(precision);
        EXPECT_EQ(block.Size(), sizes[precision]);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.Bytes()) % 16, 0u);
        for (std::int32_t i = 0; i < block.Size(); ++i)
            ASSERT_EQ(block.Bytes()[i], 0) << i;
        block.Common().StopFlag = 1;
        EXPECT_EQ(block.Bytes()[0x98], 1);
        block.Common().MaxIter = 77;
        EXPECT_EQ(block.At<std::int32_t>(0x34), 77);
    }
    struct TCase {
        std::int32_t MaxIter, SavesPerStep;
        std::uint32_t InitialMask;
    };
    // n = max(round(log10 maxiter), 4)
    const TCase cases[] = {{1, 4, 9},      {100, 4, 9},      {31622, 4, 9},
                           {31623, 5, 11}, {1000000, 6, 13}, {INT32_MAX, 9, 19}};
    for (const TCase &c : cases) {
        const TPeriodicityWindow window = PeriodicityWindow(c.MaxIter);
        EXPECT_EQ(window.SavesPerStep, c.SavesPerStep) << c.MaxIter;
        EXPECT_EQ(window.InitialMask, c.InitialMask) << c.MaxIter;
    }
}

TEST(PixelContextBlock, ControlWordScopeRestoresTheThreadsWord) {
    auto word = [] {
        std::uint16_t value;
        __asm__ volatile("fnstcw %0" : "=m"(value));
        return value;
    };
    const std::uint16_t own = word();
    {
        TFormulaControlWordScope scope;
        EXPECT_EQ(word(), 0x137F);
    }
    EXPECT_EQ(word(), own);
}

} // namespace
