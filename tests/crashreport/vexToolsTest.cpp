#include <gtest/gtest.h>

#include <windows.h>

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
