// Every user setting of the system, in nine sections held by one configuration manager. Each
// section reads itself from its own registry subkey (falling back to defaults, then clamping to
// its range) and writes itself back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "FontStyles.h"
#include "GenClasses.h"
#include "GenRegistry.h"
#include "NetCommon.h"

class TConfigManager;

// The style of a font setting holds the class library's font styles (fsBold, fsItalic,
// fsUnderline), so that a window hands it to its fonts as it is.

// A font as the configuration stores it; windows assign it to their own font objects.
struct TFontSetting {
    std::string Name;
    int Size = 8;
    int Style = 0; // fsBold | fsItalic | fsUnderline
};

// Reads the five values Prefix + "Name", "Size", "Bold", "Italic", "Underline".
void ReadFontSetting(TRegistryManager &Manager, TFontSetting &Font, const std::string &Section,
                     const std::string &Prefix, int DefaultStyle, int DefaultSize,
                     const std::string &DefaultName);
void WriteFontSetting(TRegistryManager &Manager, const TFontSetting &Font, const std::string &Section,
                      const std::string &Prefix);

// "Tahoma" when the screen has it, else "MS Sans Serif".
std::string GetDefaultFontName();
// Milliseconds of delayed input for the General ToolInputDelay value; -1: no delayed input.
int GetInputDelayTime(int Setting);
// "<Text> (c) <year> by <Owner>." with the copyright sign of the Windows Latin-1 code page.
std::string FormatCopyrightText(const std::string &Text, const std::string &Owner);

// Base of the sections: each reads and writes itself through the manager that owns it.
class TConfigSection : public TObject {
public:
    explicit TConfigSection(TConfigManager &Manager) : FManager(Manager) {}
    DECLARE_CLASS_NAME(TConfigSection)
    virtual void Load() = 0;
    virtual void Save() = 0;

protected:
    TConfigManager &FManager;
};

// --- Fractal ------------------------------------------------------------------------------

constexpr int kMouseKindCount = 6; // Click, ShiftClick, CtrlClick, AltClick, ShiftCtrlClick, CtrlAltClick

// Switch options.
constexpr int soNewWindow = 1;
constexpr int soOriginalSize = 2;
constexpr int soOriginalColoring = 4;
constexpr int soOriginalGradient = 8;

class TFractalConfiguration : public TConfigSection {
public:
    explicit TFractalConfiguration(TConfigManager &Manager);
    DECLARE_CLASS_NAME(TFractalConfiguration)

    int Animation = 1;
    int AnimationDuration = 1000;
    bool AnimationLimitSize = true;
    int AnimationMaxHeight = 480;
    int AnimationMaxWidth = 640;
    int ArbitraryPrecision = 1;
    int BackgroundColor = 0;
    int BackgroundPriority = 1;
    int ColorCyclingSpeed = 2;
    bool CompressParameters = true;
    bool CrosshairCursor = false;
    std::string DefaultComments;
    std::string DefaultCopyright = "Copyright";
    std::string DefaultEntry;
    std::string DefaultFile;
    double DefaultGamma = 2.5;
    int DefaultHeight = 480;
    double DefaultResolution = 300;
    int DefaultWidth = 640;
    std::uint8_t ForegroundPriority = 2;
    bool ImportFixedAspectRatio = true;
    bool ImportSmoothColoring = true;
    int MaxHeight = 1200;
    int MaxWidth = 1600;
    std::uint8_t MouseLeft[kMouseKindCount] = {1, 3, 2, 4, 5, 6};
    std::uint8_t MouseRight[kMouseKindCount] = {7, 0, 0, 0, 0, 0};
    int NewAction = 0;
    int Processors = 1;
    bool SaveWhenClosing = true;
    std::uint8_t SelectMode = 0;
    bool SoundEnabled = false;
    std::string SoundFile;
    int SwitchOptions = soNewWindow | soOriginalSize | soOriginalColoring | soOriginalGradient;
    bool UseParameterAspect = true;
    bool UseParameterGamma = true;
    bool UseParameterResolution = true;
    bool UseParameterSize = true;
    std::uint8_t ZoomDestination = 0;
    std::uint8_t ZoomFactor = 0;
    std::uint8_t ZoomShiftFactor = 2;

    std::string GetCopyright() const;
    // DefaultComments with every "$COPYRIGHT" (any letter case) replaced by GetCopyright.
    std::string GetDefaultComments() const;
    // Kinds outside 0..5 read 0 and are not written.
    int GetMouseLeft(int Kind) const;
    int GetMouseRight(int Kind) const;
    void SetMouseLeft(int Kind, int Action);
    void SetMouseRight(int Kind, int Action);
    // Button 0 left, 1 right (any other gives 0); the kind comes from the modifier keys held.
    int GetMouseAction(int Button, bool Shift, bool Ctrl, bool Alt) const;

    void Load() override;
    void Save() override;
};

// --- Gradient -----------------------------------------------------------------------------

class TGradientConfiguration : public TConfigSection {
public:
    explicit TGradientConfiguration(TConfigManager &Manager);
    DECLARE_CLASS_NAME(TGradientConfiguration)

    bool CommentsBar = false;
    bool ControlBar = true;
    std::string DefaultEntry;
    std::string DefaultFile;
    int Height = 0;
    bool HSLColorBar = false;
    bool OpacityBar = false;
    bool PreviewEnabled = true;
    bool RGBColorBar = true;
    int Width = 0;

    void Load() override;
    void Save() override;
};

// --- Render -------------------------------------------------------------------------------

struct TRenderJobSetting {
    bool Calculating = false;
    std::int32_t Id = 0;
};

class TRenderConfiguration : public TConfigSection {
public:
    // Most jobs a stored queue may list; a larger stored count is cut to it.
    static constexpr int MaxJobCount = 4096;

    explicit TRenderConfiguration(TConfigManager &Manager) : TConfigSection(Manager) {}
    DECLARE_CLASS_NAME(TRenderConfiguration)

    bool SoundEnabled = false;
    std::string SoundFile;

    int GetJobCount() const { return static_cast<int>(FJobs.size()); }
    // Resizes the job list (0..MaxJobCount); kept entries keep their values, new ones are
    // not calculating with id 0.
    void SetJobCount(int Count);
    // Indices outside the list read false / 0 and are not written.
    bool GetJobCalculating(int I) const;
    std::int32_t GetJobId(int I) const;
    void SetJobCalculating(int I, bool Flag);
    void SetJobId(int I, std::int32_t Id);

    void Load() override;
    void Save() override;

private:
    std::vector<TRenderJobSetting> FJobs;
};

// --- Editor -------------------------------------------------------------------------------

class TEditorTemplate : public TObject {
public:
    DECLARE_CLASS_NAME(TEditorTemplate)
    std::string Description;
    std::string Pattern;  // the abbreviation that is typed
    std::string Template; // the replacement; '|' marks the caret, CR separates lines
};

class TEditorTemplateList : public TObject {
public:
    DECLARE_CLASS_NAME(TEditorTemplateList)
    int Add(const std::string &Pattern, const std::string &Description, const std::string &Template);
    void Assign(const TEditorTemplateList &Other);
    void Clear() { FItems.clear(); }
    // Index errors raise EListError.
    void Delete(int Index);
    int GetCount() const { return static_cast<int>(FItems.size()); }
    TEditorTemplate *GetTemplate(int Index) const;
    // The Template of the first entry whose Pattern equals Text (letter case ignored); empty
    // when there is none.
    std::string FindTemplateText(const std::string &Text) const;
    // By Pattern, letter case ignored.
    void Sort();
    // The built-in templates.
    void AddDefaults();

private:
    std::vector<std::unique_ptr<TEditorTemplate>> FItems;
};

class TEditorConfiguration : public TConfigSection {
public:
    // Most templates a stored list may hold.
    static constexpr int MaxTemplateCount = 4096;

    explicit TEditorConfiguration(TConfigManager &Manager);
    DECLARE_CLASS_NAME(TEditorConfiguration)

    bool AutoIndent = true;
    int FindLeft = -1;
    int FindTop = -1;
    TFontSetting Font;
    bool Gutter = true;
    int ReplaceLeft = -1;
    int ReplaceTop = -1;
    bool TabCharacters = false;
    int TabSize = 2;
    std::unique_ptr<TEditorTemplateList> Templates;

    void Load() override;
    void Save() override;
};

// --- Browser ------------------------------------------------------------------------------

// File kinds of the browser.
constexpr int fkParameters = 2;
constexpr int fkGradient = 3;
constexpr int fkTransform = 4;
constexpr int fkFormula = 5;
constexpr int fkColoring = 6;
constexpr int fkOutsideColoring = 7;
constexpr int fkInsideColoring = 8;

class TBrowserConfiguration : public TConfigSection {
public:
    explicit TBrowserConfiguration(TConfigManager &Manager);
    DECLARE_CLASS_NAME(TBrowserConfiguration)

    int BottomPanelHeight = 0;
    TFontSetting EntryFont;
    int Height = 0;
    std::string LastLocation;
    bool LibraryOnly = true;
    int PreviewCacheSize = 128;
    int PreviewHeight = 90;
    int PreviewPanelWidth = 0;
    int PreviewWidth = 120;
    int TreePanelWidth = 0;
    std::uint8_t ViewStyle = 3;
    std::uint8_t VisibleFiles = 0;
    int Width = 0;

    // Kinds 2..8 for the last file names, 4..8 for the preview entries and files; kinds 7 and
    // 8 share the values of kind 6. Other kinds read empty and are not written.
    std::string GetLastFileName(int Kind) const;
    void SetLastFileName(int Kind, const std::string &FileName);
    std::string GetPreviewEntry(int Kind) const;
    void SetPreviewEntry(int Kind, const std::string &Entry);
    std::string GetPreviewFileName(int Kind) const;
    void SetPreviewFileName(int Kind, const std::string &FileName);

    // Column widths and sort settings of a list view, by mode (0..2) and view (0..5); the
    // current values serve as defaults. Other modes and views are ignored.
    void LoadColumns(int Mode, int View, bool &SortDir, int &SortColumn, std::vector<int> &ColumnWidths);
    void SaveColumns(int Mode, int View, bool SortDir, int SortColumn, const std::vector<int> &ColumnWidths);

    void Load() override;
    void Save() override;

private:
    std::string FLastFileName[5];    // kinds 2..6
    std::string FPreviewEntry[3];    // kinds 4..6
    std::string FPreviewFileName[3]; // kinds 4..6
};

// --- General ------------------------------------------------------------------------------

class TGeneralConfiguration : public TConfigSection {
public:
    explicit TGeneralConfiguration(TConfigManager &Manager);
    DECLARE_CLASS_NAME(TGeneralConfiguration)

    bool CheckAssocAtStartup = true;
    bool ColorPreviewEnabled = true;
    std::uint8_t ExportFormat = 2;
    bool ExportLayers = false;
    int ExportQuality = 80;
    bool ExportTransparency = false;
    int FileHistorySize = 4;
    TFontSetting Font;
    bool GenerateWarnings = true;
    bool HideMsgUponSuccess = true;
    double LastFormulaUpdate = 0;
    int OpenFormat = 0;
    std::string Owner;
    int RunTimeMessageCount = 100;
    bool RunTimeMessagePosition = true;
    bool ShowHints = true;
    bool ShowToolbar = true;
    bool ShowStatusBar = true;
    std::uint8_t StartupAction = 4;
    bool StartupWelcome = true;
    std::uint8_t ToolInputDelay = 0;
    std::uint8_t WallpaperColors = 0;
    std::uint8_t WallpaperMode = 0;
    std::string WallpaperFile;
    bool WindowBar = true;

    void Load() override;
    void Save() override;
};

// --- Folder -------------------------------------------------------------------------------

class TFolderConfiguration : public TConfigSection {
public:
    explicit TFolderConfiguration(TConfigManager &Manager);
    DECLARE_CLASS_NAME(TFolderConfiguration)

    std::string Export;
    std::string Gradient;
    std::string Fractal;
    std::string Formula;
    std::string FormulaHelp;
    std::string FormulaPublic;
    std::string Open;
    std::string Parameter;
    bool RememberExportFolder = true;
    bool RememberFractalFolder = true;
    bool RememberOpenFolder = true;
    std::unique_ptr<TStringList> SearchPaths;
    std::string System;

    // A new list: the Formula folder, then every search path.
    std::unique_ptr<TStringList> GetFormulaFolders() const;
    std::string GetSearchPathsText() const;
    void SetSearchPathsText(const std::string &Text);

    void Load() override;
    void Save() override;

private:
    void ReadFolderSetting(const std::string &Name, std::string &Folder, const std::string &Default);
};

// --- Network ------------------------------------------------------------------------------

class TNetworkPersistentConnection : public TObject {
public:
    DECLARE_CLASS_NAME(TNetworkPersistentConnection)
    std::string Caption;
    bool Enabled = true;
    std::string Host;
    std::string Password;
    std::int32_t Port = 0;
};

class TNetworkConfiguration : public TConfigSection {
public:
    static constexpr int MaxConnectionCount = 1024;

    explicit TNetworkConfiguration(TConfigManager &Manager) : TConfigSection(Manager) {}
    DECLARE_CLASS_NAME(TNetworkConfiguration)

    TNetworkPersistentConnection *Add(const std::string &Caption, const std::string &Host, bool Enabled,
                                      const std::string &Password, std::int32_t Port);
    void Clear() { FConnections.clear(); }
    int GetCount() const { return static_cast<int>(FConnections.size()); }
    // Index errors raise EListError.
    TNetworkPersistentConnection *GetConnection(int Index) const;

    void Load() override;
    void Save() override;

private:
    std::vector<std::unique_ptr<TNetworkPersistentConnection>> FConnections;
};

// --- Server -------------------------------------------------------------------------------

// Shared with the server's connection threads: they take Lock/Unlock around every access.
class TServerConfiguration : public TMultiThreadedObject {
public:
    static constexpr int MaxFilterCount = 1024;

    explicit TServerConfiguration(TConfigManager &Manager);
    DECLARE_CLASS_NAME(TServerConfiguration)

    bool FilterEnabled = false;
    std::unique_ptr<TNetworkAddressFilterList> Filters;
    bool LogEnabled = true;
    std::string LogFileName;
    std::string Password;
    bool PasswordRequired = false;
    int Port = 8691;
    std::uint8_t Priority = 2;

    // Loading skips a stored filter with an empty or invalid address. Neither operation takes
    // the lock.
    void Load();
    void Save();

private:
    TConfigManager &FManager;
};

// --- Manager ------------------------------------------------------------------------------

class TConfigManager : public TRegistryManager {
public:
    TConfigManager();
    ~TConfigManager() override;
    DECLARE_CLASS_NAME(TConfigManager)

    std::unique_ptr<TBrowserConfiguration> Browser;
    std::unique_ptr<TEditorConfiguration> Editor;
    std::unique_ptr<TFolderConfiguration> Folder;
    std::unique_ptr<TFractalConfiguration> Fractal;
    std::unique_ptr<TGeneralConfiguration> General;
    std::unique_ptr<TGradientConfiguration> Gradient;
    std::unique_ptr<TNetworkConfiguration> Network;
    std::unique_ptr<TRenderConfiguration> Render;
    std::unique_ptr<TServerConfiguration> Server;

    void LoadSettings();
    // In server mode only the Server section; otherwise every section but Server.
    void SaveSettings();
    // Tells every subscriber that settings changed.
    void Changed() { Notify(); }
};

// The global manager; nullptr outside InitializeGenSetup .. FinalizeGenSetup.
TConfigManager *ConfigManager();
// Creates the manager, loads every section and runs the first-start setup. Needs the program
// information and the registry base key.
void InitializeGenSetup();
void FinalizeGenSetup();
