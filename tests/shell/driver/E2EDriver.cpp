#include "E2EDriver.h"

#include <commctrl.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "E2EMenuBlock.h"

namespace e2e {

namespace {

// A kernel handle closed at the end of its scope.
class THandleHolder {
public:
    explicit THandleHolder(HANDLE Handle = nullptr) : FHandle(Handle) {}
    ~THandleHolder() {
        if (FHandle)
            CloseHandle(FHandle);
    }
    THandleHolder(const THandleHolder &) = delete;
    THandleHolder &operator=(const THandleHolder &) = delete;
    HANDLE Get() const { return FHandle; }

private:
    HANDLE FHandle;
};

// Memory allocated inside another process, freed at the end of its scope.
class TRemoteMemory {
public:
    TRemoteMemory(HANDLE Process, SIZE_T Size)
        : FProcess(Process),
          FAddress(VirtualAllocEx(Process, nullptr, Size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    ~TRemoteMemory() {
        if (FAddress)
            VirtualFreeEx(FProcess, FAddress, 0, MEM_RELEASE);
    }
    TRemoteMemory(const TRemoteMemory &) = delete;
    TRemoteMemory &operator=(const TRemoteMemory &) = delete;
    void *Address() const { return FAddress; }
    bool Write(const void *Data, SIZE_T Size) const {
        return FAddress && WriteProcessMemory(FProcess, FAddress, Data, Size, nullptr);
    }
    bool Read(void *Data, SIZE_T Size) const {
        return FAddress && ReadProcessMemory(FProcess, FAddress, Data, Size, nullptr);
    }

private:
    HANDLE FProcess;
    void *FAddress;
};

class TRegistryKey {
public:
    explicit TRegistryKey(const std::string &Key) {
        if (RegOpenKeyExA(HKEY_CURRENT_USER, Key.c_str(), 0, KEY_READ, &FKey) != ERROR_SUCCESS)
            FKey = nullptr;
    }
    ~TRegistryKey() {
        if (FKey)
            RegCloseKey(FKey);
    }
    TRegistryKey(const TRegistryKey &) = delete;
    TRegistryKey &operator=(const TRegistryKey &) = delete;
    HKEY Get() const { return FKey; }

private:
    HKEY FKey = nullptr;
};

// Answers of another process's windows come through SendMessageTimeout, so that a hung program
// fails the test instead of blocking it.
constexpr UINT SendTimeoutMs = 20000;

bool SendWithTimeout(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam, DWORD_PTR *Result = nullptr) {
    DWORD_PTR answer = 0;
    const bool sent =
        SendMessageTimeoutA(Window, Message, WParam, LParam, SMTO_ABORTIFHUNG, SendTimeoutMs, &answer) != 0;
    if (Result)
        *Result = answer;
    return sent;
}

std::string QuoteArgument(const std::string &Argument) {
    if (!Argument.empty() && Argument.find_first_of(" \t\"") == std::string::npos)
        return Argument;
    // The rules of CommandLineToArgvW: backslashes before a quote are doubled.
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : Argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

bool StartsWith(const std::string &Text, const std::string &Prefix) {
    return Text.compare(0, Prefix.size(), Prefix) == 0;
}

// --- The driver's desktop ------------------------------------------------------------------

std::string ObjectName(HANDLE Object) {
    char name[256] = {};
    DWORD needed = 0;
    if (!GetUserObjectInformationA(Object, UOI_NAME, name, sizeof(name) - 1, &needed))
        return {};
    return name;
}

// "WinSta0\Default", or under a virtual desktop its name: where the driver puts the programs it
// starts, so that they share the test's desktop (its input, its foreground, its screen).
std::string ThreadDesktopPath() {
    return ObjectName(GetProcessWindowStation()) + "\\" + ObjectName(GetThreadDesktop(GetCurrentThreadId()));
}

BOOL CALLBACK CollectWindow(HWND Window, LPARAM Data) {
    reinterpret_cast<std::vector<HWND> *>(Data)->push_back(Window);
    return TRUE;
}

std::vector<HWND> DesktopTopLevelWindows() {
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// --- Menus ---------------------------------------------------------------------------------

TMenuEntry MenuEntryOf(const TRemoteMenuItem &Item) {
    TMenuEntry entry;
    entry.Command = Item.Command;
    entry.Separator = (Item.Type & MFT_SEPARATOR) != 0;
    entry.RadioCheck = (Item.Type & MFT_RADIOCHECK) != 0;
    entry.Enabled = (Item.State & (MFS_GRAYED | MFS_DISABLED)) == 0;
    entry.Checked = (Item.State & MFS_CHECKED) != 0;
    entry.Default = (Item.State & MFS_DEFAULT) != 0;
    entry.HasSubMenu = Item.SubMenu != nullptr;
    std::string text(Item.Text, strnlen(Item.Text, sizeof(Item.Text)));
    const size_t tab = text.find('\t');
    entry.Caption = text.substr(0, tab);
    if (tab != std::string::npos)
        entry.ShortCut = text.substr(tab + 1);
    return entry;
}

// --- Input ---------------------------------------------------------------------------------

// Keys of the extended part of the keyboard (the cursor block, the right-hand Ctrl and Alt, the
// keypad's divide and Num Lock) come with the flag that tells them from their twins.
DWORD KeyFlags(WORD Key) {
    switch (Key) {
    case VK_INSERT:
    case VK_DELETE:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_RCONTROL:
    case VK_RMENU:
    case VK_DIVIDE:
    case VK_NUMLOCK:
    case VK_APPS:
        return KEYEVENTF_EXTENDEDKEY;
    default:
        return 0;
    }
}

// --- PNG -----------------------------------------------------------------------------------

void PutBigEndian(std::vector<std::uint8_t> &Out, std::uint32_t Value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        Out.push_back(static_cast<std::uint8_t>(Value >> shift));
}

void PutChunk(std::vector<std::uint8_t> &Out, const char *Type, const std::vector<std::uint8_t> &Data) {
    PutBigEndian(Out, static_cast<std::uint32_t>(Data.size()));
    const size_t start = Out.size();
    Out.insert(Out.end(), Type, Type + 4);
    Out.insert(Out.end(), Data.begin(), Data.end());
    const uLong crc = crc32(crc32(0, nullptr, 0), Out.data() + start, static_cast<uInt>(Out.size() - start));
    PutBigEndian(Out, static_cast<std::uint32_t>(crc));
}

} // namespace

// --- Paths ---------------------------------------------------------------------------------

std::string BuildFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    for (int level = 0; level < 2; ++level) {
        const size_t slash = folder.find_last_of("\\/");
        folder = slash == std::string::npos ? "." : folder.substr(0, slash);
    }
    return folder;
}

std::string ProgramPath() {
    return BuildFolder() + "\\OrbiskVantel.exe";
}

std::string TestProgramPath(const std::string &Name) {
    return BuildFolder() + "\\tests\\" + Name;
}

std::string ArtifactsFolder() {
    const std::string folder = BuildFolder() + "\\artifacts";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// --- Waiting -------------------------------------------------------------------------------

bool WaitUntil(const std::function<bool()> &Condition, DWORD TimeoutMs, DWORD PollMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (Condition())
            return true;
        if (GetTickCount() - start > TimeoutMs)
            return false;
        Sleep(PollMs);
    }
}

// --- Version information -------------------------------------------------------------------

std::optional<TFileVersion> ReadFileVersion(const std::string &Path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(Path.c_str(), &ignored);
    if (size == 0)
        return std::nullopt;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(Path.c_str(), 0, size, data.data()))
        return std::nullopt;
    TFileVersion version;
    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void **>(&fixed), &length) || !fixed)
        return std::nullopt;
    version.Major = HIWORD(fixed->dwProductVersionMS);
    version.Minor = LOWORD(fixed->dwProductVersionMS);
    struct TTranslation {
        WORD Language;
        WORD CodePage;
    } *translation = nullptr;
    if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation),
                        &length) ||
        length < sizeof(TTranslation))
        return std::nullopt;
    auto text = [&](const char *Name) {
        char query[96];
        std::snprintf(query, sizeof(query), "\\StringFileInfo\\%04x%04x\\%s", translation->Language,
                      translation->CodePage, Name);
        char *value = nullptr;
        UINT valueLength = 0;
        if (!VerQueryValueA(data.data(), query, reinterpret_cast<void **>(&value), &valueLength) || !value)
            return std::string();
        return std::string(value);
    };
    version.ProductName = text("ProductName");
    version.ProductVersion = text("ProductVersion");
    return version;
}

// --- Windows -------------------------------------------------------------------------------

std::string WindowText(HWND Window) {
    // WM_GETTEXT is copied between processes by the system, unlike most messages.
    DWORD_PTR length = 0;
    if (!SendWithTimeout(Window, WM_GETTEXTLENGTH, 0, 0, &length))
        return {};
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendWithTimeout(Window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), &copied))
        return {};
    text.resize(std::min<size_t>(copied, length));
    return text;
}

std::string WindowClassName(HWND Window) {
    char name[256] = {};
    GetClassNameA(Window, name, sizeof(name));
    return name;
}

RECT WindowRect(HWND Window) {
    RECT rect = {};
    GetWindowRect(Window, &rect);
    return rect;
}

RECT ClientScreenRect(HWND Window) {
    RECT rect = {};
    GetClientRect(Window, &rect);
    MapWindowPoints(Window, nullptr, reinterpret_cast<POINT *>(&rect), 2);
    return rect;
}

bool IsVisibleWindow(HWND Window) {
    return IsWindow(Window) && IsWindowVisible(Window);
}

DWORD WindowProcessId(HWND Window) {
    DWORD process = 0;
    GetWindowThreadProcessId(Window, &process);
    return process;
}

std::vector<HWND> ChildWindows(HWND Parent, const std::string &ClassName) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(Parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (ClassName.empty() || _stricmp(WindowClassName(child).c_str(), ClassName.c_str()) == 0)
            children.push_back(child);
    return children;
}

HWND FindDescendant(HWND Parent, const std::string &ClassName, const std::string &Text) {
    std::vector<HWND> all;
    EnumChildWindows(Parent, CollectWindow, reinterpret_cast<LPARAM>(&all));
    for (HWND child : all)
        if ((ClassName.empty() || _stricmp(WindowClassName(child).c_str(), ClassName.c_str()) == 0) &&
            (Text.empty() || StripAccessMark(WindowText(child)) == Text))
            return child;
    return nullptr;
}

std::string StripAccessMark(const std::string &Caption) {
    std::string text;
    for (size_t i = 0; i < Caption.size(); ++i) {
        if (Caption[i] == '&' && i + 1 < Caption.size())
            ++i;
        else if (Caption[i] == '&')
            continue;
        text += Caption[i];
    }
    return text;
}

std::vector<std::string> StatusBarTexts(HWND StatusBar) {
    std::vector<std::string> texts;
    THandleHolder process(
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
                    FALSE, WindowProcessId(StatusBar)));
    if (!process.Get())
        return texts;
    DWORD_PTR simple = 0, parts = 0;
    if (!SendWithTimeout(StatusBar, SB_ISSIMPLE, 0, 0, &simple) ||
        !SendWithTimeout(StatusBar, SB_GETPARTS, 0, 0, &parts))
        return texts;
    std::vector<WPARAM> indexes;
    if (simple)
        indexes.push_back(SB_SIMPLEID);
    else
        for (WPARAM i = 0; i < parts; ++i)
            indexes.push_back(i);
    for (WPARAM index : indexes) {
        DWORD_PTR length = 0;
        SendWithTimeout(StatusBar, SB_GETTEXTLENGTHA, index, 0, &length);
        const size_t size = LOWORD(length) + 1;
        // SB_GETTEXT writes where its argument points in the status bar's own process.
        TRemoteMemory buffer(process.Get(), size);
        std::string text(size, '\0');
        if (!buffer.Write(text.data(), size) ||
            !SendWithTimeout(StatusBar, SB_GETTEXTA, index, reinterpret_cast<LPARAM>(buffer.Address())) ||
            !buffer.Read(text.data(), size)) {
            texts.emplace_back();
            continue;
        }
        text.resize(strnlen(text.c_str(), size));
        // Leading tabs only centre or right-align the text.
        text.erase(0, text.find_first_not_of('\t') == std::string::npos ? text.size()
                                                                        : text.find_first_not_of('\t'));
        texts.push_back(text);
    }
    return texts;
}

bool PostCommand(HWND Window, UINT Command) {
    return PostMessageA(Window, WM_COMMAND, MAKEWPARAM(Command, 0), 0) != 0;
}

std::vector<std::string> DialogTexts(HWND Dialog) {
    std::vector<std::string> texts;
    // The system's static controls, and the program's own message text (a superclass of them).
    std::vector<HWND> statics = ChildWindows(Dialog, "Static");
    for (HWND child : ChildWindows(Dialog, "TStaticText"))
        statics.push_back(child);
    for (HWND child : statics) {
        const std::string text = WindowText(child);
        if (!text.empty())
            texts.push_back(text);
    }
    return texts;
}

bool PressButton(HWND Dialog, const std::string &Caption) {
    std::vector<HWND> buttons = ChildWindows(Dialog, "Button");
    for (HWND button : ChildWindows(Dialog, "TButton"))
        buttons.push_back(button);
    for (HWND button : buttons)
        if (StripAccessMark(WindowText(button)) == Caption && IsWindowEnabled(button)) {
            const int id = GetDlgCtrlID(button);
            return PostMessageA(Dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                reinterpret_cast<LPARAM>(button)) != 0;
        }
    return false;
}

// --- Pictures ------------------------------------------------------------------------------

std::uint32_t TImage::Pixel(int X, int Y) const {
    const size_t at = (static_cast<size_t>(Y) * Width + X) * 3;
    return (std::uint32_t(Rgb[at]) << 16) | (std::uint32_t(Rgb[at + 1]) << 8) | Rgb[at + 2];
}

bool WritePng(const std::string &Path, const TImage &Image) {
    if (Image.Width <= 0 || Image.Height <= 0)
        return false;
    // Each row: filter type 0 (none), then the pixels.
    const size_t stride = static_cast<size_t>(Image.Width) * 3;
    std::vector<std::uint8_t> raw;
    raw.reserve((stride + 1) * Image.Height);
    for (int y = 0; y < Image.Height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), Image.Rgb.begin() + y * stride, Image.Rgb.begin() + (y + 1) * stride);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<std::uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) != Z_OK)
        return false;
    packed.resize(packedSize);

    std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    PutBigEndian(header, static_cast<std::uint32_t>(Image.Width));
    PutBigEndian(header, static_cast<std::uint32_t>(Image.Height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, no filter set, no interlace
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", packed);
    PutChunk(file, "IEND", {});

    FILE *out = std::fopen(Path.c_str(), "wb");
    if (!out)
        return false;
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}

// --- Registry ------------------------------------------------------------------------------

std::string ProgramRegistryKey() {
    const std::optional<TFileVersion> version = ReadFileVersion(ProgramPath());
    if (!version)
        return {};
    return "Software\\Orbisk Vantel\\" + std::to_string(version->Major) + "." +
           std::to_string(version->Minor);
}

std::optional<std::string> ReadRegistryString(const std::string &Key, const std::string &Name) {
    TRegistryKey key(Key);
    DWORD type = 0, size = 0;
    if (!key.Get() ||
        RegQueryValueExA(key.Get(), Name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::string value(size + 1, '\0');
    if (RegQueryValueExA(key.Get(), Name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(value.data()),
                         &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(strnlen(value.c_str(), size));
    return value;
}

std::optional<DWORD> ReadRegistryInteger(const std::string &Key, const std::string &Name) {
    TRegistryKey key(Key);
    DWORD type = 0, value = 0, size = sizeof(value);
    if (!key.Get() ||
        RegQueryValueExA(key.Get(), Name.c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return value;
}

std::vector<std::string> RegistryValueNames(const std::string &Key) {
    std::vector<std::string> names;
    TRegistryKey key(Key);
    if (!key.Get())
        return names;
    for (DWORD index = 0;; ++index) {
        char name[16384];
        DWORD length = sizeof(name);
        if (RegEnumValueA(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

bool RegistryKeyExists(const std::string &Key) {
    TRegistryKey key(Key);
    return key.Get() != nullptr;
}

bool DeleteRegistryTree(const std::string &Key) {
    const LSTATUS status = RegDeleteTreeA(HKEY_CURRENT_USER, Key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

std::optional<std::string> ReadProgramString(const std::string &Section, const std::string &Name) {
    return ReadRegistryString(ProgramRegistryKey() + "\\" + Section, Name);
}

std::optional<DWORD> ReadProgramInteger(const std::string &Section, const std::string &Name) {
    return ReadRegistryInteger(ProgramRegistryKey() + "\\" + Section, Name);
}

// --- The program under test ----------------------------------------------------------------

namespace {
bool StartupQuestionsAllowed = false;
} // namespace

void AllowStartupQuestions(bool Allowed) {
    StartupQuestionsAllowed = Allowed;
}

TProgramProcess::TProgramProcess(const std::vector<std::string> &Arguments, const std::string &Path) {
    // The file-type question and the welcome window wait for a person at a fresh start: only the
    // tests of those windows let them come.
    if (!StartupQuestionsAllowed && Path == ProgramPath()) {
        WriteProgramInteger("General", "CheckAssocAtStartup", 0);
        WriteProgramInteger("General", "StartupWelcome", 0);
    }
    std::string commandLine = QuoteArgument(Path);
    for (const std::string &argument : Arguments)
        commandLine += " " + QuoteArgument(argument);
    std::string folder = Path.substr(0, Path.find_last_of("\\/"));
    std::string desktop = ThreadDesktopPath();
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.lpDesktop = desktop.empty() ? nullptr : desktop.data();
    PROCESS_INFORMATION info = {};
    // No handles inherited: the program must not hold the test's output pipes open.
    if (CreateProcessA(Path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                       &startup, &info)) {
        FProcess = info.hProcess;
        FThread = info.hThread;
        FProcessId = info.dwProcessId;
    }
}

TProgramProcess::~TProgramProcess() {
    if (Running())
        Terminate();
    if (FThread)
        CloseHandle(FThread);
    if (FProcess)
        CloseHandle(FProcess);
}

bool TProgramProcess::Running() const {
    return FProcess && WaitForSingleObject(FProcess, 0) == WAIT_TIMEOUT;
}

std::vector<HWND> TProgramProcess::TopLevelWindows(bool AllWindows) const {
    std::vector<HWND> windows;
    for (HWND window : DesktopTopLevelWindows())
        if (WindowProcessId(window) == FProcessId && (AllWindows || IsVisibleWindow(window)))
            windows.push_back(window);
    return windows;
}

HWND TProgramProcess::FindWindow(const std::string &ClassName, const std::string &CaptionPrefix) const {
    for (HWND window : TopLevelWindows())
        if ((ClassName.empty() || WindowClassName(window) == ClassName) &&
            StartsWith(WindowText(window), CaptionPrefix))
            return window;
    return nullptr;
}

HWND TProgramProcess::WaitForWindow(const std::string &ClassName, const std::string &CaptionPrefix,
                                    DWORD TimeoutMs) const {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindWindow(ClassName, CaptionPrefix)) != nullptr || !Running(); },
              TimeoutMs);
    return found;
}

HWND TProgramProcess::WaitForMainWindow(DWORD TimeoutMs) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows())
                if (!GetWindow(window, GW_OWNER) &&
                    (GetWindowLongA(window, GWL_STYLE) & WS_CAPTION) == WS_CAPTION &&
                    WindowClassName(window) != "#32770" && !WindowText(window).empty()) {
                    found = window;
                    return true;
                }
            return !Running();
        },
        TimeoutMs);
    return found;
}

HWND TProgramProcess::WaitForDialog(const std::string &CaptionPrefix, DWORD TimeoutMs) const {
    return WaitForWindow("#32770", CaptionPrefix, TimeoutMs);
}

bool TProgramProcess::WaitForIdle(DWORD TimeoutMs) const {
    if (!FProcess || WaitForInputIdle(FProcess, TimeoutMs) == WAIT_FAILED)
        return false;
    for (HWND window : TopLevelWindows())
        if (!SendWithTimeout(window, WM_NULL, 0, 0))
            return false;
    return true;
}

bool TProgramProcess::WaitForNoDialog(DWORD TimeoutMs) const {
    return WaitUntil([&] { return FindWindow("#32770") == nullptr; }, TimeoutMs);
}

bool TProgramProcess::LoadMenuReader() {
    if (FRemoteReader)
        return true;
    const std::string path = TestProgramPath("E2EMenuReader.dll");
    // The reader's entry lies at the same offset from the library's base in both processes.
    HMODULE local = LoadLibraryA(path.c_str());
    if (!local)
        return false;
    const auto entry = reinterpret_cast<std::uintptr_t>(GetProcAddress(local, "ReadMenuItems"));
    if (!entry)
        return false;
    // kernel32 lies at the same address in every process of a session, so LoadLibraryA does too.
    auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    TRemoteMemory remotePath(FProcess, path.size() + 1);
    if (!remotePath.Write(path.c_str(), path.size() + 1))
        return false;
    THandleHolder thread(
        CreateRemoteThread(FProcess, nullptr, 0, loadLibrary, remotePath.Address(), 0, nullptr));
    if (!thread.Get() || WaitForSingleObject(thread.Get(), SendTimeoutMs) != WAIT_OBJECT_0)
        return false;
    DWORD remoteBase = 0; // a 32-bit program's module handle is its thread's whole exit code
    if (!GetExitCodeThread(thread.Get(), &remoteBase) || !remoteBase)
        return false;
    FRemoteReader = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        remoteBase + (entry - reinterpret_cast<std::uintptr_t>(local)));
    return true;
}

bool TProgramProcess::ReadRemoteMenu(HWND Window, const std::vector<int> &Path,
                                     std::vector<TMenuEntry> &Items, HMENU *Menu) {
    Items.clear();
    if (!LoadMenuReader() || Path.size() > static_cast<size_t>(MaxRemoteMenuDepth))
        return false;
    auto block = std::make_unique<TRemoteMenuBlock>();
    *block = {};
    block->Window = Window;
    block->Depth = static_cast<int>(Path.size());
    std::copy(Path.begin(), Path.end(), block->Path);
    TRemoteMemory remote(FProcess, sizeof(TRemoteMenuBlock));
    if (!remote.Write(block.get(), sizeof(TRemoteMenuBlock)))
        return false;
    THandleHolder thread(
        CreateRemoteThread(FProcess, nullptr, 0, FRemoteReader, remote.Address(), 0, nullptr));
    if (!thread.Get() || WaitForSingleObject(thread.Get(), SendTimeoutMs) != WAIT_OBJECT_0 ||
        !remote.Read(block.get(), sizeof(TRemoteMenuBlock)) || block->Count < 0)
        return false;
    for (int i = 0; i < block->Count; ++i)
        Items.push_back(MenuEntryOf(block->Items[i]));
    if (Menu)
        *Menu = block->Menu;
    return true;
}

void TProgramProcess::ReadMenuLevel(HWND Window, std::vector<int> &Path, bool InitPopups,
                                    std::vector<TMenuEntry> &Items) {
    for (size_t i = 0; i < Items.size(); ++i) {
        if (!Items[i].HasSubMenu)
            continue;
        Path.push_back(static_cast<int>(i));
        if (InitPopups) {
            // The handle of the submenu now: a program may have made its menus anew in answer to
            // the announcement of an earlier one.
            std::vector<TMenuEntry> ignored;
            HMENU subMenu = nullptr;
            if (ReadRemoteMenu(Window, Path, ignored, &subMenu) && subMenu)
                SendWithTimeout(Window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(subMenu),
                                MAKELPARAM(i, FALSE));
        }
        std::vector<TMenuEntry> subItems;
        if (ReadRemoteMenu(Window, Path, subItems, nullptr)) {
            ReadMenuLevel(Window, Path, InitPopups, subItems);
            Items[i].Items = std::move(subItems);
        }
        Path.pop_back();
    }
}

std::vector<TMenuEntry> TProgramProcess::ReadMenuBar(HWND Window, bool InitPopups) {
    std::vector<TMenuEntry> items;
    std::vector<int> path;
    HMENU bar = nullptr;
    if (!ReadRemoteMenu(Window, path, items, &bar))
        return {};
    if (InitPopups) {
        SendWithTimeout(Window, WM_INITMENU, reinterpret_cast<WPARAM>(bar), 0);
        ReadRemoteMenu(Window, path, items, &bar);
    }
    ReadMenuLevel(Window, path, InitPopups, items);
    return items;
}

std::optional<TMenuEntry> TProgramProcess::FindMenuItem(HWND Window, const std::vector<std::string> &Path,
                                                        bool InitPopups) {
    const std::vector<TMenuEntry> bar = ReadMenuBar(Window, InitPopups);
    const std::vector<TMenuEntry> *level = &bar;
    const TMenuEntry *found = nullptr;
    for (const std::string &caption : Path) {
        found = nullptr;
        for (const TMenuEntry &entry : *level)
            if (!entry.Separator && StripAccessMark(entry.Caption) == caption) {
                found = &entry;
                break;
            }
        if (!found)
            return std::nullopt;
        level = &found->Items;
    }
    if (!found)
        return std::nullopt;
    return *found;
}

std::optional<DWORD> TProgramProcess::WaitForExit(DWORD TimeoutMs) const {
    DWORD code = 0;
    if (!FProcess || WaitForSingleObject(FProcess, TimeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(FProcess, &code))
        return std::nullopt;
    return code;
}

testing::AssertionResult TProgramProcess::Close(DWORD *ExitCode, HWND MainWindow, DWORD TimeoutMs) {
    if (!FProcess)
        return testing::AssertionFailure() << "the program was not started";
    if (!MainWindow && Running())
        MainWindow = WaitForMainWindow(TimeoutMs);
    if (MainWindow)
        PostMessageA(MainWindow, WM_CLOSE, 0, 0);
    const std::optional<DWORD> code = WaitForExit(TimeoutMs);
    if (!code) {
        Terminate();
        return testing::AssertionFailure()
               << "the program did not end within " << TimeoutMs << " ms of WM_CLOSE and was terminated";
    }
    if (ExitCode)
        *ExitCode = *code;
    return testing::AssertionSuccess();
}

void TProgramProcess::Terminate() {
    if (FProcess && Running()) {
        TerminateProcess(FProcess, 255);
        WaitForSingleObject(FProcess, DefaultTimeoutMs);
    }
}

// --- Input ---------------------------------------------------------------------------------

bool BringToForeground(HWND Window, DWORD TimeoutMs) {
    return WaitUntil(
        [&] {
            if (GetForegroundWindow() == Window)
                return true;
            SetForegroundWindow(Window);
            return GetForegroundWindow() == Window;
        },
        TimeoutMs, 50);
}

bool PressKeys(HWND Window, const std::vector<WORD> &Keys) {
    if (!BringToForeground(Window))
        return false;
    std::vector<INPUT> inputs;
    for (WORD key : Keys) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = KeyFlags(key);
        inputs.push_back(input);
    }
    for (auto it = Keys.rbegin(); it != Keys.rend(); ++it) {
        INPUT input = {};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = *it;
        input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(*it, MAPVK_VK_TO_VSC));
        input.ki.dwFlags = KeyFlags(*it) | KEYEVENTF_KEYUP;
        inputs.push_back(input);
    }
    return SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) == inputs.size();
}

bool ClickAt(HWND Window, POINT ClientPoint, bool RightButton) {
    // A control's top-level window is what can come to the foreground.
    if (!BringToForeground(GetAncestor(Window, GA_ROOT)))
        return false;
    POINT point = ClientPoint;
    ClientToScreen(Window, &point);
    SetCursorPos(point.x, point.y);
    if (!WaitUntil(
            [&] {
                POINT now;
                return GetCursorPos(&now) && now.x == point.x && now.y == point.y;
            },
            5000))
        return false;
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_MOUSE;
    inputs[0].mi.dwFlags = RightButton ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    inputs[1].mi.dwFlags = RightButton ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

// --- Screen pictures -----------------------------------------------------------------------

TImage CaptureScreen() {
    TImage image;
    RECT screen = {};
    GetWindowRect(GetDesktopWindow(), &screen);
    const int width = screen.right - screen.left, height = screen.bottom - screen.top;
    if (width <= 0 || height <= 0)
        return image;
    HDC screenDc = GetDC(nullptr);
    HDC memoryDc = CreateCompatibleDC(screenDc);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memoryDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memoryDc, bitmap);
        if (BitBlt(memoryDc, 0, 0, width, height, screenDc, screen.left, screen.top, SRCCOPY | CAPTUREBLT)) {
            GdiFlush();
            const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t(3);
            image.Width = width;
            image.Height = height;
            image.Rgb.resize(static_cast<size_t>(width) * height * 3);
            for (int y = 0; y < height; ++y) {
                const auto *row = static_cast<const std::uint8_t *>(bits) + y * stride;
                std::uint8_t *out = image.Rgb.data() + static_cast<size_t>(y) * width * 3;
                for (int x = 0; x < width; ++x) { // the bitmap holds blue, green, red
                    out[x * 3] = row[x * 3 + 2];
                    out[x * 3 + 1] = row[x * 3 + 1];
                    out[x * 3 + 2] = row[x * 3];
                }
            }
        }
        SelectObject(memoryDc, old);
    }
    if (bitmap)
        DeleteObject(bitmap);
    DeleteDC(memoryDc);
    ReleaseDC(nullptr, screenDc);
    return image;
}

TImage CropImage(const TImage &Image, const RECT &Rect) {
    TImage part;
    const int left = std::max<int>(0, Rect.left), top = std::max<int>(0, Rect.top);
    const int right = std::min<int>(Image.Width, Rect.right),
              bottom = std::min<int>(Image.Height, Rect.bottom);
    if (right <= left || bottom <= top)
        return part;
    part.Width = right - left;
    part.Height = bottom - top;
    for (int y = top; y < bottom; ++y) {
        const auto row = Image.Rgb.begin() + (static_cast<size_t>(y) * Image.Width + left) * 3;
        part.Rgb.insert(part.Rgb.end(), row, row + part.Width * 3);
    }
    return part;
}

TImage CaptureSettledScreen(DWORD TimeoutMs) {
    TImage image = CaptureScreen();
    WaitUntil(
        [&] {
            TImage next = CaptureScreen();
            const bool settled = next.Rgb == image.Rgb;
            image = std::move(next);
            return settled;
        },
        TimeoutMs, 100);
    return image;
}

std::optional<std::string> SaveScreenshot(const std::string &Name) {
    const TImage image = CaptureSettledScreen();
    const std::string path = ArtifactsFolder() + "\\" + Name + ".png";
    if (!WritePng(path, image))
        return std::nullopt;
    return path;
}

namespace {

bool WriteProgramValue(const std::string &Section, const std::string &Name, DWORD Type, const void *Data,
                       DWORD Size) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, (ProgramRegistryKey() + "\\" + Section).c_str(), 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool written =
        RegSetValueExA(key, Name.c_str(), 0, Type, static_cast<const BYTE *>(Data), Size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

} // namespace

bool WriteProgramString(const std::string &Section, const std::string &Name, const std::string &Value) {
    return WriteProgramValue(Section, Name, REG_SZ, Value.c_str(), static_cast<DWORD>(Value.size() + 1));
}

bool WriteProgramInteger(const std::string &Section, const std::string &Name, DWORD Value) {
    return WriteProgramValue(Section, Name, REG_DWORD, &Value, sizeof(Value));
}

} // namespace e2e
