#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "vexTools.h"

namespace {

TEST(vexToolsTest, NtVersionKindsAndDescriptions) {
    struct Case {
        std::uint32_t major, minor;
        const char *servicePack;
        std::uint8_t kind;
        std::uint32_t number;
        const char *description;
    } cases[] = {
        {3, 51, "", 7, 0, "Windows NT 3"},
        {4, 0, "Service Pack 6", 8, 6, "Windows NT 4 Service Pack 6"},
        {5, 0, "", 9, 0, "Windows 2000"},
        {5, 1, "Service Pack 3", 10, 3, "Windows XP Service Pack 3"},
        {5, 2, "Service Pack 12", 11, 12, "Windows 2003 Service Pack 12"},
        {6, 1, "SP1", 12, 0, "Windows NT New SP1"},
        {10, 0, "", 12, 0, "Windows NT New"},
    };
    for (const Case &c : cases) {
        const OsVersionRecord record = MakeNtVersionRecord(c.major, c.minor, 100, c.servicePack);
        EXPECT_EQ(record.Kind, c.kind);
        EXPECT_EQ(record.KindNT, c.kind);
        EXPECT_TRUE(record.IsNT);
        EXPECT_FALSE(record.Is9x);
        EXPECT_EQ(record.ServicePackNumber, c.number);
        EXPECT_EQ(record.Description, c.description);
    }
    const OsVersionRecord running = GetOsVersion();
    EXPECT_GE(running.Kind, 7);
    EXPECT_EQ(running.MajorVersion, GetOsVersion().MajorVersion);
}

TEST(vexToolsTest, FileVersionOfTheTestProgram) {
    char name[MAX_PATH];
    GetModuleFileNameA(nullptr, name, MAX_PATH);
    const std::uint64_t version = FileVersion(name);
    EXPECT_NE(version, 0u);
    EXPECT_EQ(FileVersion("Z:\\no\\such\\file.exe"), 0u);
    EXPECT_EQ(VersionText(0x0003000000020001ULL), "3.0.2.1");
}

int __stdcall AddThree(int first, int second, int third) {
    return first * 100 + second * 10 + third;
}

TEST(vexToolsTest, CallThunkInsertsTheFirstArgument) {
    void *thunk = MakeCallThunk(7, reinterpret_cast<void *>(&AddThree));
    ASSERT_NE(thunk, nullptr);
    auto call = reinterpret_cast<int(__stdcall *)(int, int)>(thunk);
    EXPECT_EQ(call(2, 3), 723);
    EXPECT_EQ(call(4, 5), 745);
}

struct THandlerLog {
    int Calls = 0;
    UINT LastMessage = 0;
};
THandlerLog PlainLog;
void PlainHandler(HWND, UINT message, WPARAM, LPARAM, LRESULT &result) {
    ++PlainLog.Calls;
    PlainLog.LastMessage = message;
    result = 42;
}
void MethodHandler(void *object, HWND, UINT message, WPARAM, LPARAM, LRESULT &result) {
    auto *log = static_cast<THandlerLog *>(object);
    ++log->Calls;
    log->LastMessage = message;
    result = 43;
}

TEST(vexToolsTest, MessageHandlersOnTheThreadWindow) {
    PlainLog = {};
    const UINT first = AddMessageHandler(&PlainHandler, 0, 0);
    EXPECT_GE(first, 0x400u);
    HWND window = ThreadHandlerWindow(0);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(AddMessageHandler(&PlainHandler, first, 0), 0u) << "the same handler twice";
    THandlerLog methodLog;
    const UINT second = AddMessageHandler(nullptr, 0, 0, {&MethodHandler, &methodLog});
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(SendMessageA(window, first, 0, 0), 42);
    EXPECT_EQ(SendMessageA(window, second, 0, 0), 43);
    EXPECT_EQ(PlainLog.Calls, 1);
    EXPECT_EQ(methodLog.Calls, 1);
    // Messages below the forwarded ranges only get the default result.
    SendMessageA(window, WM_USER - 1, 0, 0);
    EXPECT_EQ(PlainLog.Calls, 1);
    EXPECT_EQ(ThreadHandlerWindow(GetCurrentThreadId() + 1), nullptr);

    RemoveMessageHandler(&PlainHandler, 0, 0);
    SendMessageA(window, first, 0, 0);
    EXPECT_EQ(PlainLog.Calls, 1);
    EXPECT_TRUE(IsWindow(window));
    RemoveMessageHandler(nullptr, second, 0, {&MethodHandler, &methodLog});
    EXPECT_FALSE(IsWindow(window)) << "the last handler takes the window with it";
    // After the module end the registry starts afresh.
    FinalizeVexTools();
    RemoveMessageHandler(&PlainHandler, 0, 0);
    const UINT again = AddMessageHandler(&PlainHandler, 0, 0);
    EXPECT_EQ(again, 0x400u);
    RemoveMessageHandler(&PlainHandler, again, 0);
    FinalizeVexTools();
}

extern "C" __declspec(dllexport) int vexToolsTestExport() {
    return 1;
}

TEST(vexToolsTest, ModulesHeadersAndExports) {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(ImageNtHeaders(kernel), nullptr);
    void *getTick = ExportAddressByName(kernel, "GetTickCount");
    EXPECT_EQ(getTick, reinterpret_cast<void *>(GetProcAddress(kernel, "GetTickCount")));
    EXPECT_EQ(ExportNameOfAddress(kernel, getTick, false), "GetTickCount");
    EXPECT_EQ(ExportAddressByName(kernel, "NoSuchExportAnywhere"), nullptr);

    HMODULE self = GetModuleHandleA(nullptr);
    HMODULE found = nullptr;
    std::string fileName;
    ASSERT_TRUE(FindModuleOfAddress(reinterpret_cast<void *>(&AddThree), found, fileName));
    EXPECT_EQ(found, self);
    EXPECT_NE(fileName.find("CrashreportTests.exe"), std::string::npos);
    EXPECT_FALSE(FindModuleOfAddress(reinterpret_cast<void *>(0x10), found, fileName));
    void *exported = ExportAddressByName(self, "vexToolsTestExport");
    EXPECT_EQ(exported, reinterpret_cast<void *>(&vexToolsTestExport));
    EXPECT_EQ(ExportNameOfAddress(self, exported, true), "vexToolsTestExport");
    EXPECT_EQ(ExportNameOfAddress(self, reinterpret_cast<void *>(&AddThree), true), "");
    EXPECT_EQ(ImageNtHeaders(reinterpret_cast<HMODULE>(0x10)), nullptr);
    // No export directory in a piece of plain memory made to look like a module.
    std::string fake(0x200, '\0');
    fake[0] = 'M';
    fake[1] = 'Z';
    EXPECT_EQ(ImageNtHeaders(reinterpret_cast<HMODULE>(fake.data())), nullptr);
    EXPECT_EQ(ExportNameOfAddress(reinterpret_cast<HMODULE>(fake.data()), fake.data() + 4, false), "");
}

// An export entry changed in memory to point outside the image is read from the module's file.
TEST(vexToolsTest, RedirectedExportIsReadFromTheFile) {
    HMODULE self = GetModuleHandleA(nullptr);
    const auto *exports = static_cast<const IMAGE_EXPORT_DIRECTORY *>(ImageDirectory(self, 0));
    ASSERT_NE(exports, nullptr);
    auto *functions = reinterpret_cast<std::uint32_t *>(reinterpret_cast<std::uint8_t *>(self) +
                                                        exports->AddressOfFunctions);
    const auto expected = reinterpret_cast<void *>(&vexToolsTestExport);
    const std::uint32_t index = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(expected) -
                                                           reinterpret_cast<std::uintptr_t>(self));
    std::uint32_t *entry = nullptr;
    for (std::uint32_t i = 0; i < exports->NumberOfFunctions; ++i)
        if (functions[i] == index)
            entry = &functions[i];
    ASSERT_NE(entry, nullptr);
    DWORD protection = 0;
    ASSERT_TRUE(VirtualProtect(entry, 4, PAGE_READWRITE, &protection));
    const std::uint32_t original = *entry;
    *entry = 0x7FFF0000;
    void *found = ExportAddressByName(self, "vexToolsTestExport");
    *entry = original;
    VirtualProtect(entry, 4, protection, &protection);
    EXPECT_EQ(found, expected);
}

// A module image made by hand in memory, with an export directory at 0x200.
struct TFakeModule {
    std::uint8_t *Base;
    IMAGE_NT_HEADERS32 *Headers;
    IMAGE_EXPORT_DIRECTORY *Exports;
    TFakeModule() {
        Base = static_cast<std::uint8_t *>(
            VirtualAlloc(nullptr, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        Base[0] = 'M';
        Base[1] = 'Z';
        Base[0x3C] = 0x80;
        Headers = reinterpret_cast<IMAGE_NT_HEADERS32 *>(Base + 0x80);
        Headers->Signature = IMAGE_NT_SIGNATURE;
        Headers->FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
        Headers->FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER32);
        Headers->OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
        Headers->OptionalHeader.SizeOfImage = 0x1000;
        Headers->OptionalHeader.NumberOfRvaAndSizes = 16;
        Headers->OptionalHeader.DataDirectory[0] = {0x200, 0x100};
        Exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY *>(Base + 0x200);
        Exports->Base = 5;
        Exports->NumberOfFunctions = 2;
        Exports->NumberOfNames = 2;
        Exports->AddressOfFunctions = 0x240;
        Exports->AddressOfNames = 0x250;
        Exports->AddressOfNameOrdinals = 0x260;
        Word(0x240, 0x400); // Alpha
        Word(0x244, 0x280); // Tick: a forwarder inside the export directory
        Word(0x250, 0x2A0);
        Word(0x254, 0x2B0);
        Base[0x260] = 0;
        Base[0x262] = 1;
        std::memcpy(Base + 0x280, "KERNEL32.GetTickCount", 22);
        std::memcpy(Base + 0x2A0, "Alpha", 6);
        std::memcpy(Base + 0x2B0, "Tick", 5);
    }
    ~TFakeModule() { VirtualFree(Base, 0, MEM_RELEASE); }
    void Word(std::size_t at, std::uint32_t value) { std::memcpy(Base + at, &value, 4); }
    HMODULE Module() const { return reinterpret_cast<HMODULE>(Base); }
};

TEST(vexToolsTest, ExportTablesAreReadWithinTheImage) {
    TFakeModule fake;
    EXPECT_EQ(ExportAddressByName(fake.Module(), "Alpha"), fake.Base + 0x400);
    EXPECT_EQ(ExportAddressByOrdinal(fake.Module(), 5), fake.Base + 0x400);
    EXPECT_EQ(ExportNameOfAddress(fake.Module(), fake.Base + 0x400, false), "Alpha");
    EXPECT_EQ(ExportAddressByName(fake.Module(), "Tick"),
              reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")));
    EXPECT_EQ(ExportAddressByOrdinal(fake.Module(), 7), nullptr);

    struct Damage {
        const char *what;
        std::size_t at;
        std::uint32_t value;
        const char *name; // of the address behind Alpha's entry
    } damages[] = {
        {"image larger than its memory", 0x80 + 24 + 56, 0x100000, ""},
        {"function count beyond the image", 0x200 + 20, 0x40000000, ""},
        {"name table beyond the image", 0x200 + 32, 0xFFFFFF00, ""},
        {"name without its end", 0x250, 0xFFC, "#5"},
    };
    for (const Damage &d : damages) {
        TFakeModule damaged;
        if (d.at == 0x250)
            std::memcpy(damaged.Base + 0xFFC, "Alph", 4);
        damaged.Word(d.at, d.value);
        EXPECT_EQ(ExportAddressByName(damaged.Module(), "Alpha"), nullptr) << d.what;
        EXPECT_EQ(ExportNameOfAddress(damaged.Module(), damaged.Base + 0x400, false), d.name) << d.what;
    }
}

TEST(vexToolsTest, UnmangleAndTicks) {
    struct Case {
        const char *mangled;
        bool accepted;
        const char *name, *unit;
    } cases[] = {
        {"@Unit@TList@Add$qqrv", true, "TList.Add", "Unit"},
        {"@Unit@TList@$bctr$qqrv", true, "TList.Create", "Unit"},
        {"@Unit@TList@$bdtr$qqrv", true, "TList.Destroy", "Unit"},
        {"@Unit@Plain", true, "Plain", "Unit"},
        {"Outer::Inner", false, "Outer.Inner", ""},
        {"@NoSecond", false, "@NoSecond", ""},
        {"@@x", false, "@@x", ""},
    };
    for (const Case &c : cases) {
        std::string name = c.mangled, unit;
        EXPECT_EQ(UnmangleMethodName(name, unit), c.accepted) << c.mangled;
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(unit, c.unit);
    }
    EXPECT_EQ(TicksBetween(100, 250), 150u);
    EXPECT_EQ(TicksBetween(0xFFFFFFF0u, 5), 5u + 0xFu);
    EXPECT_LT(TicksSince(GetTickCount()), 1000u);
}

} // namespace
