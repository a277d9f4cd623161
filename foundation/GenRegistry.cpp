#include "GenRegistry.h"

#include <windows.h>

#include "Registry.h"

#include "GenProgram.h"
#include "GenUtils.h"

namespace {

std::unique_ptr<std::string> GBaseKey;

// Closes the accessor's current key on every way out of a read or write.
class TKeyCloser {
public:
    explicit TKeyCloser(TRegistry &Registry) : FRegistry(Registry) {}
    ~TKeyCloser() { FRegistry.CloseKey(); }
    TKeyCloser(const TKeyCloser &) = delete;
    TKeyCloser &operator=(const TKeyCloser &) = delete;

private:
    TRegistry &FRegistry;
};

} // namespace

std::string RegistryBaseKey() {
    return GBaseKey ? *GBaseKey : std::string();
}

void InitializeGenRegistry() {
    const TProgramInformation *Info = ProgramInformation();
    if (!Info)
        throw Exception("The program information must be set up before the registry");
    GBaseKey = std::make_unique<std::string>(
        Format("\\Software\\Orbisk Vantel\\%d.%d\\", Info->Version->Major, Info->Version->Minor));
}

void FinalizeGenRegistry() {
    GBaseKey.reset();
}

// --- TRegistryManager ----------------------------------------------------------------------

TRegistryManager::TRegistryManager() : FRegistry(std::make_unique<TRegistry>()), FBaseKey(RegistryBaseKey()) {
    FRegistry->SetRootKey(HKEY_CURRENT_USER);
    bool Opened = false;
    try {
        Opened = !FBaseKey.empty() && FRegistry->OpenKey(FBaseKey, true);
    } catch (const std::exception &) {
        Opened = false;
    }
    FRegistry->CloseKey();
    if (!Opened)
        throw Exception(std::string("Could not connect to registry"));
    FConnected = true;
}

TRegistryManager::~TRegistryManager() = default;

int TRegistryManager::ReadIntegerAt(const std::string &Key, const std::string &Name, int Default) {
    if (!FConnected)
        return Default;
    TKeyCloser Closer(*FRegistry);
    try {
        if (FRegistry->OpenKeyReadOnly(Key) && FRegistry->ValueExists(Name))
            return FRegistry->ReadInteger(Name);
    } catch (const std::exception &) {
        // A value of another type reads as the default.
    }
    return Default;
}

void TRegistryManager::ReadStringAt(const std::string &Key, const std::string &Name, std::string &Value,
                                    const std::string &Default) {
    Value = Default;
    if (!FConnected)
        return;
    TKeyCloser Closer(*FRegistry);
    try {
        if (FRegistry->OpenKeyReadOnly(Key) && FRegistry->ValueExists(Name))
            Value = FRegistry->ReadString(Name);
    } catch (const std::exception &) {
        Value = Default;
    }
}

long double TRegistryManager::ReadFloatAt(const std::string &Key, const std::string &Name,
                                          long double Default) {
    std::string Text;
    ReadStringAt(Key, Name, Text, std::string());
    long double Value;
    if (Text.empty() || !TryStrToFloat(Text, Value))
        return Default;
    return Value;
}

void TRegistryManager::WriteIntegerAt(const std::string &Key, const std::string &Name, int Value) {
    if (!FConnected)
        return;
    TKeyCloser Closer(*FRegistry);
    try {
        if (FRegistry->OpenKey(Key, true))
            FRegistry->WriteInteger(Name, Value);
    } catch (const std::exception &) {
        // Writes never fail to the caller.
    }
}

void TRegistryManager::WriteStringAt(const std::string &Key, const std::string &Name,
                                     const std::string &Value) {
    if (!FConnected)
        return;
    TKeyCloser Closer(*FRegistry);
    try {
        if (FRegistry->OpenKey(Key, true))
            FRegistry->WriteString(Name, Value);
    } catch (const std::exception &) {
        // Writes never fail to the caller.
    }
}

int TRegistryManager::ReadInteger(const std::string &Section, const std::string &Name, int Default) {
    return ReadIntegerAt(SectionKey(Section), Name, Default);
}

bool TRegistryManager::ReadBool(const std::string &Section, const std::string &Name, bool Default) {
    return ReadIntegerAt(SectionKey(Section), Name, Default ? 1 : 0) != 0;
}

void TRegistryManager::ReadString(const std::string &Section, const std::string &Name, std::string &Value,
                                  const std::string &Default) {
    ReadStringAt(SectionKey(Section), Name, Value, Default);
}

long double TRegistryManager::ReadFloat(const std::string &Section, const std::string &Name,
                                        long double Default) {
    return ReadFloatAt(SectionKey(Section), Name, Default);
}

bool TRegistryManager::ValueExists(const std::string &Section, const std::string &Name) {
    if (!FConnected)
        return false;
    TKeyCloser Closer(*FRegistry);
    try {
        return FRegistry->OpenKeyReadOnly(SectionKey(Section)) && FRegistry->ValueExists(Name);
    } catch (const std::exception &) {
        return false;
    }
}

void TRegistryManager::WriteInteger(const std::string &Section, const std::string &Name, int Value) {
    WriteIntegerAt(SectionKey(Section), Name, Value);
}

void TRegistryManager::WriteBool(const std::string &Section, const std::string &Name, bool Value) {
    WriteIntegerAt(SectionKey(Section), Name, Value ? 1 : 0);
}

void TRegistryManager::WriteString(const std::string &Section, const std::string &Name,
                                   const std::string &Value) {
    WriteStringAt(SectionKey(Section), Name, Value);
}

void TRegistryManager::WriteFloat(const std::string &Section, const std::string &Name, long double Value) {
    WriteStringAt(SectionKey(Section), Name, FloatToStrExact(Value));
}

int TRegistryManager::ReadFormInteger(const std::string &FormName, const std::string &Name, int Default) {
    return FormName.empty() ? Default : ReadIntegerAt(FormKey(FormName), Name, Default);
}

bool TRegistryManager::ReadFormBool(const std::string &FormName, const std::string &Name, bool Default) {
    return FormName.empty() ? Default : ReadIntegerAt(FormKey(FormName), Name, Default ? 1 : 0) != 0;
}

long double TRegistryManager::ReadFormFloat(const std::string &FormName, const std::string &Name,
                                            long double Default) {
    return FormName.empty() ? Default : ReadFloatAt(FormKey(FormName), Name, Default);
}

void TRegistryManager::ReadFormString(const std::string &FormName, const std::string &Name,
                                      std::string &Value, const std::string &Default) {
    if (FormName.empty())
        Value = Default;
    else
        ReadStringAt(FormKey(FormName), Name, Value, Default);
}

void TRegistryManager::WriteFormInteger(const std::string &FormName, const std::string &Name, int Value) {
    if (!FormName.empty())
        WriteIntegerAt(FormKey(FormName), Name, Value);
}

void TRegistryManager::WriteFormBool(const std::string &FormName, const std::string &Name, bool Value) {
    if (!FormName.empty())
        WriteIntegerAt(FormKey(FormName), Name, Value ? 1 : 0);
}

void TRegistryManager::WriteFormFloat(const std::string &FormName, const std::string &Name,
                                      long double Value) {
    if (!FormName.empty())
        WriteStringAt(FormKey(FormName), Name, FloatToStrExact(Value));
}

void TRegistryManager::WriteFormString(const std::string &FormName, const std::string &Name,
                                       const std::string &Value) {
    if (!FormName.empty())
        WriteStringAt(FormKey(FormName), Name, Value);
}

bool TRegistryManager::LoadWindowPlacement(HWND Window, const std::string &FormName, bool Sizeable,
                                           int *State) {
    if (State)
        *State = wsNormal;
    if (!FConnected || !Window || FormName.empty())
        return false;
    RECT Rect{};
    int StoredState = wsNormal;
    {
        TKeyCloser Closer(*FRegistry);
        try {
            if (!FRegistry->OpenKeyReadOnly(FormKey(FormName)))
                return false;
            // A missing value (or one of another type) raises and ends the read here.
            if (Sizeable) {
                const int Height = FRegistry->ReadInteger("Height");
                const int Width = FRegistry->ReadInteger("Width");
                const int Top = FRegistry->ReadInteger("Top");
                const int Left = FRegistry->ReadInteger("Left");
                Rect = RECT{Left, Top, Left + Width, Top + Height};
                StoredState = FRegistry->ReadInteger("State");
                if (StoredState != wsMaximized)
                    StoredState = wsNormal;
            } else {
                const int Top = FRegistry->ReadInteger("Top");
                const int Left = FRegistry->ReadInteger("Left");
                RECT Current{};
                GetWindowRect(Window, &Current);
                Rect = RECT{Left, Top, Left + (Current.right - Current.left),
                            Top + (Current.bottom - Current.top)};
            }
        } catch (const std::exception &) {
            return false;
        }
    }
    if (State)
        *State = StoredState;
    // A rectangle left on a monitor that is gone would put the window out of reach.
    if (!MonitorFromRect(&Rect, MONITOR_DEFAULTTONULL))
        return true;
    if (!Sizeable) {
        SetWindowPos(Window, nullptr, Rect.left, Rect.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return true;
    }
    WINDOWPLACEMENT Placement{};
    Placement.length = sizeof(Placement);
    GetWindowPlacement(Window, &Placement);
    Placement.flags = 0;
    Placement.rcNormalPosition = Rect;
    const bool Visible = IsWindowVisible(Window) != FALSE;
    if (StoredState == wsMaximized)
        Placement.showCmd = Visible ? SW_SHOWMAXIMIZED : SW_HIDE;
    else
        Placement.showCmd = Visible ? SW_SHOWNORMAL : SW_HIDE;
    SetWindowPlacement(Window, &Placement);
    return true;
}

void TRegistryManager::SaveWindowPlacement(HWND Window, const std::string &FormName, bool Sizeable) {
    if (!FConnected || !Window || FormName.empty())
        return;
    const std::string Key = FormKey(FormName);
    if (!Sizeable) {
        RECT Rect{};
        GetWindowRect(Window, &Rect);
        WriteIntegerAt(Key, "Left", Rect.left);
        WriteIntegerAt(Key, "Top", Rect.top);
        return;
    }
    WINDOWPLACEMENT Placement{};
    Placement.length = sizeof(Placement);
    if (GetWindowPlacement(Window, &Placement)) {
        const RECT &Rect = Placement.rcNormalPosition;
        WriteIntegerAt(Key, "Left", Rect.left);
        WriteIntegerAt(Key, "Top", Rect.top);
        WriteIntegerAt(Key, "Width", Rect.right - Rect.left);
        WriteIntegerAt(Key, "Height", Rect.bottom - Rect.top);
    }
    int State = wsNormal;
    if (IsZoomed(Window))
        State = wsMaximized;
    else if (IsIconic(Window))
        State = wsMinimized;
    WriteIntegerAt(Key, "State", State);
}
