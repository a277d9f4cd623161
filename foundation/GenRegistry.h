// The system's access to its stored settings: typed reads that never fail (any problem gives
// the caller's default), writes that create what is missing and never fail, and the saving and
// restoring of window positions.
#pragma once

#include <memory>
#include <string>

#include "GenClasses.h"

// Declared here so that this header (and every header above it) needs no <windows.h>: HWND is
// declared as the system headers declare it.
class TRegistry;
class TDockBarLayout;
struct HWND__;
typedef HWND__ *HWND;

// "\Software\Orbisk Vantel\<major>.<minor>\" (empty outside InitializeGenRegistry ..
// FinalizeGenRegistry). Needs the program information.
std::string RegistryBaseKey();
void InitializeGenRegistry();
void FinalizeGenRegistry();

// Window states stored in "State".
constexpr int wsNormal = 0;
constexpr int wsMinimized = 1;
constexpr int wsMaximized = 2;

class TRegistryManager : public TNotificationManager {
public:
    // Opens (creating when missing) the base key; raises Exception "Could not connect to
    // registry" when it cannot.
    TRegistryManager();
    ~TRegistryManager() override;
    DECLARE_CLASS_NAME(TRegistryManager)

    bool Connected() const { return FConnected; }

    int ReadInteger(const std::string &Section, const std::string &Name, int Default);
    bool ReadBool(const std::string &Section, const std::string &Name, bool Default);
    void ReadString(const std::string &Section, const std::string &Name, std::string &Value,
                    const std::string &Default);
    long double ReadFloat(const std::string &Section, const std::string &Name, long double Default);
    // Whether the section holds a value of that name (of any type).
    bool ValueExists(const std::string &Section, const std::string &Name);
    void WriteInteger(const std::string &Section, const std::string &Name, int Value);
    void WriteBool(const std::string &Section, const std::string &Name, bool Value);
    void WriteString(const std::string &Section, const std::string &Name, const std::string &Value);
    void WriteFloat(const std::string &Section, const std::string &Name, long double Value);

    // The same under "Forms\" and a window's name; an empty name reads the default and writes
    // nothing.
    int ReadFormInteger(const std::string &FormName, const std::string &Name, int Default);
    bool ReadFormBool(const std::string &FormName, const std::string &Name, bool Default);
    long double ReadFormFloat(const std::string &FormName, const std::string &Name, long double Default);
    void ReadFormString(const std::string &FormName, const std::string &Name, std::string &Value,
                        const std::string &Default);
    void WriteFormInteger(const std::string &FormName, const std::string &Name, int Value);
    void WriteFormBool(const std::string &FormName, const std::string &Name, bool Value);
    void WriteFormFloat(const std::string &FormName, const std::string &Name, long double Value);
    void WriteFormString(const std::string &FormName, const std::string &Name, const std::string &Value);

    // Window placement of a top-level window stored under "Forms\" + FormName. A sizeable
    // window keeps its normal rectangle and state; other windows keep their position only.
    // Loading returns true when every stored value was read; the rectangle is applied only when
    // it meets a monitor. A stored minimized state loads as normal; for a maximized one the
    // stored rectangle becomes the normal rectangle the window returns to, and a visible window
    // is maximized (a hidden one stays hidden: State tells the caller how to show it).
    bool LoadWindowPlacement(HWND Window, const std::string &FormName, bool Sizeable, int *State = nullptr);
    void SaveWindowPlacement(HWND Window, const std::string &FormName, bool Sizeable);

    // The dock bar's layout under "Tools\" (the bar) and "Tools\" + each tool's class name.
    // Loading returns false, leaving the bar as it is, when there is no stored layout or a
    // tool has no key of its own (a tool new since the layout was saved); values read are
    // brought within the screen and sane sizes before they are applied.
    bool LoadDockBar(TDockBarLayout &DockBar);
    void SaveDockBar(TDockBarLayout &DockBar);

protected:
    std::string SectionKey(const std::string &Section) const { return FBaseKey + Section; }
    std::string FormKey(const std::string &FormName) const { return FBaseKey + "Forms\\" + FormName; }

    // The raw accessors behind the section and form operations.
    int ReadIntegerAt(const std::string &Key, const std::string &Name, int Default);
    void ReadStringAt(const std::string &Key, const std::string &Name, std::string &Value,
                      const std::string &Default);
    long double ReadFloatAt(const std::string &Key, const std::string &Name, long double Default);
    void WriteIntegerAt(const std::string &Key, const std::string &Name, int Value);
    void WriteStringAt(const std::string &Key, const std::string &Name, const std::string &Value);

    std::unique_ptr<TRegistry> FRegistry;

private:
    std::string FBaseKey;
    bool FConnected = false;
};
