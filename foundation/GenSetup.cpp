#include "GenSetup.h"

#include <windows.h>

#include <algorithm>
#include <cfloat>

#include "GenAutoSetup.h"
#include "GenProgram.h"
#include "GenUtils.h"
#include "ShellUtils.h"

namespace {

std::unique_ptr<TConfigManager> GConfigManager;

const char *const kMouseKindNames[kMouseKindCount] = {"Click",    "ShiftClick",     "CtrlClick",
                                                      "AltClick", "ShiftCtrlClick", "CtrlAltClick"};

int CALLBACK FindFontProc(const LOGFONTA *, const TEXTMETRICA *, DWORD, LPARAM Found) {
    *reinterpret_cast<bool *>(Found) = true;
    return 0;
}

std::uint8_t ClampByte(int Value, int Lo, int Hi) {
    return static_cast<std::uint8_t>(Clamp(Value, Lo, Hi));
}

// A stored float for a double field: text beyond the double range reads as the default instead
// of turning into an infinity.
double ReadDouble(TRegistryManager &Manager, const char *Section, const char *Name, double Default) {
    const long double Value = Manager.ReadFloat(Section, Name, Default);
    if (!(Value >= -DBL_MAX && Value <= DBL_MAX))
        return Default;
    return double(Value);
}

} // namespace

// --- shared routines ------------------------------------------------------------------------

void ReadFontSetting(TRegistryManager &Manager, TFontSetting &Font, const std::string &Section,
                     const std::string &Prefix, int DefaultStyle, int DefaultSize,
                     const std::string &DefaultName) {
    Manager.ReadString(Section, Prefix + "Name", Font.Name, DefaultName);
    Font.Size = Manager.ReadInteger(Section, Prefix + "Size", DefaultSize);
    Font.Style = 0;
    if (Manager.ReadBool(Section, Prefix + "Bold", (DefaultStyle & fsBold) != 0))
        Font.Style |= fsBold;
    if (Manager.ReadBool(Section, Prefix + "Italic", (DefaultStyle & fsItalic) != 0))
        Font.Style |= fsItalic;
    if (Manager.ReadBool(Section, Prefix + "Underline", (DefaultStyle & fsUnderline) != 0))
        Font.Style |= fsUnderline;
}

void WriteFontSetting(TRegistryManager &Manager, const TFontSetting &Font, const std::string &Section,
                      const std::string &Prefix) {
    Manager.WriteString(Section, Prefix + "Name", Font.Name);
    Manager.WriteInteger(Section, Prefix + "Size", Font.Size);
    Manager.WriteBool(Section, Prefix + "Bold", (Font.Style & fsBold) != 0);
    Manager.WriteBool(Section, Prefix + "Italic", (Font.Style & fsItalic) != 0);
    Manager.WriteBool(Section, Prefix + "Underline", (Font.Style & fsUnderline) != 0);
}

std::string GetDefaultFontName() {
    bool Found = false;
    if (HDC DC = GetDC(nullptr)) {
        LOGFONTA Font{};
        Font.lfCharSet = DEFAULT_CHARSET;
        lstrcpynA(Font.lfFaceName, "Tahoma", LF_FACESIZE);
        EnumFontFamiliesExA(DC, &Font, FindFontProc, reinterpret_cast<LPARAM>(&Found), 0);
        ReleaseDC(nullptr, DC);
    }
    return Found ? "Tahoma" : "MS Sans Serif";
}

int GetInputDelayTime(int Setting) {
    switch (Setting) {
    case 0:
        return 500;
    case 1:
        return 1000;
    case 2:
        return 2000;
    case 3:
        return 3000;
    case 4:
        return 4000;
    case 5:
        return 5000;
    case 6:
        return -1;
    default:
        return 500;
    }
}

std::string FormatCopyrightText(const std::string &Text, const std::string &Owner) {
    std::uint16_t Year, Month, Day;
    DecodeDate(Date(), Year, Month, Day);
    return Format("%s \xA9 %d by %s.", Text, int(Year), Owner);
}

// --- Fractal --------------------------------------------------------------------------------

namespace {
const char kFractal[] = "Fractal";
}

TFractalConfiguration::TFractalConfiguration(TConfigManager &Manager) : TConfigSection(Manager) {
    Processors = Clamp(GetProcessorCount(), 1, 16);
}

std::string TFractalConfiguration::GetCopyright() const {
    return FormatCopyrightText(DefaultCopyright, FManager.General->Owner);
}

std::string TFractalConfiguration::GetDefaultComments() const {
    return StringReplace(DefaultComments, "$COPYRIGHT", GetCopyright(), rfReplaceAll | rfIgnoreCase);
}

int TFractalConfiguration::GetMouseLeft(int Kind) const {
    return (Kind >= 0 && Kind < kMouseKindCount) ? MouseLeft[Kind] : 0;
}

int TFractalConfiguration::GetMouseRight(int Kind) const {
    return (Kind >= 0 && Kind < kMouseKindCount) ? MouseRight[Kind] : 0;
}

void TFractalConfiguration::SetMouseLeft(int Kind, int Action) {
    if (Kind >= 0 && Kind < kMouseKindCount)
        MouseLeft[Kind] = ClampByte(Action, 0, 7);
}

void TFractalConfiguration::SetMouseRight(int Kind, int Action) {
    if (Kind >= 0 && Kind < kMouseKindCount)
        MouseRight[Kind] = ClampByte(Action, 0, 7);
}

int TFractalConfiguration::GetMouseAction(int Button, bool Shift, bool Ctrl, bool Alt) const {
    int Kind;
    if (Ctrl && Shift)
        Kind = 4;
    else if (Ctrl && Alt)
        Kind = 5;
    else if (Ctrl)
        Kind = 2;
    else if (Shift)
        Kind = 1;
    else if (Alt)
        Kind = 3;
    else
        Kind = 0;
    switch (Button) {
    case 0:
        return GetMouseLeft(Kind);
    case 1:
        return GetMouseRight(Kind);
    default:
        return 0;
    }
}

void TFractalConfiguration::Load() {
    TConfigManager &M = FManager;
    const char *S = kFractal;
    Animation = M.ReadInteger(S, "Animation", 1);
    AnimationDuration = Clamp(M.ReadInteger(S, "AnimationDuration", 1000), 100, 10000);
    AnimationLimitSize = M.ReadBool(S, "AnimationLimitSize", true);
    AnimationMaxHeight = Max(M.ReadInteger(S, "AnimationMaxHeight", 480), 120);
    AnimationMaxWidth = Max(M.ReadInteger(S, "AnimationMaxWidth", 640), 160);
    ArbitraryPrecision = Clamp(M.ReadInteger(S, "ArbitraryPrecision", 1), 0, 2);
    BackgroundColor = M.ReadInteger(S, "BackgroundColor", 0) & 0xFFFFFF;
    BackgroundPriority = Clamp(M.ReadInteger(S, "BackgroundPriority", 1), 1, 3);
    ColorCyclingSpeed = M.ReadInteger(S, "ColorCyclingSpeed", 2);
    CompressParameters = M.ReadBool(S, "CompressParameters", true);
    CrosshairCursor = M.ReadBool(S, "CrosshairCursor", false);
    M.ReadString(S, "DefaultComments", DefaultComments, "");
    M.ReadString(S, "DefaultCopyright", DefaultCopyright, "Copyright");
    M.ReadString(S, "DefaultEntry", DefaultEntry, "");
    M.ReadString(S, "DefaultFile", DefaultFile, "");
    DefaultGamma = double(ClampFloat(ReadDouble(M, S, "DefaultGamma", 2.5), 0.1L, 10.0L));
    DefaultHeight = Max(M.ReadInteger(S, "DefaultHeight", 480), 30);
    DefaultResolution = double(ClampFloat(ReadDouble(M, S, "DefaultResolution", 300.0), 1.0L, 10000.0L));
    DefaultWidth = Max(M.ReadInteger(S, "DefaultWidth", 640), 40);
    ForegroundPriority = ClampByte(M.ReadInteger(S, "ForegroundPriority", 2), 1, 3);
    ImportFixedAspectRatio = M.ReadBool(S, "ImportFixedAspectRatio", true);
    ImportSmoothColoring = M.ReadBool(S, "ImportSmoothColoring", true);
    MaxHeight = Max(M.ReadInteger(S, "MaxHeight", 1200), 120);
    MaxWidth = Max(M.ReadInteger(S, "MaxWidth", 1600), 160);
    static const std::uint8_t LeftDefaults[kMouseKindCount] = {1, 3, 2, 4, 5, 6};
    static const std::uint8_t RightDefaults[kMouseKindCount] = {7, 0, 0, 0, 0, 0};
    for (int Kind = 0; Kind < kMouseKindCount; ++Kind)
        MouseLeft[Kind] = ClampByte(
            M.ReadInteger(S, std::string("MouseLeft") + kMouseKindNames[Kind], LeftDefaults[Kind]), 0, 7);
    for (int Kind = 0; Kind < kMouseKindCount; ++Kind)
        MouseRight[Kind] = ClampByte(
            M.ReadInteger(S, std::string("MouseRight") + kMouseKindNames[Kind], RightDefaults[Kind]), 0, 7);
    NewAction = M.ReadInteger(S, "NewAction", 0);
    Processors = Clamp(M.ReadInteger(S, "Processors", GetProcessorCount()), 1, 16);
    SaveWhenClosing = M.ReadBool(S, "SaveWhenClosing", true);
    SelectMode = static_cast<std::uint8_t>(M.ReadInteger(S, "SelectMode", 0));
    SoundEnabled = M.ReadBool(S, "SoundEnabled", false);
    M.ReadString(S, "SoundFile", SoundFile, "");
    SwitchOptions = 0;
    if (M.ReadBool(S, "SwitchNewWindow", true))
        SwitchOptions |= soNewWindow;
    if (M.ReadBool(S, "SwitchOriginalSize", true))
        SwitchOptions |= soOriginalSize;
    if (M.ReadBool(S, "SwitchOriginalGradient", true))
        SwitchOptions |= soOriginalGradient;
    if (M.ReadBool(S, "SwitchOriginalColoring", true))
        SwitchOptions |= soOriginalColoring;
    UseParameterAspect = M.ReadBool(S, "UseParameterAspect", true);
    UseParameterGamma = M.ReadBool(S, "UseParameterGamma", true);
    UseParameterResolution = M.ReadBool(S, "UseParameterResolution", true);
    UseParameterSize = M.ReadBool(S, "UseParameterSize", true);
    ZoomDestination = ClampByte(M.ReadInteger(S, "ZoomDestination", 0), 0, 1);
    ZoomFactor = ClampByte(M.ReadInteger(S, "ZoomFactor", 0), 0, 4);
    ZoomShiftFactor = ClampByte(M.ReadInteger(S, "ZoomShiftFactor", 2), 0, 4);
}

void TFractalConfiguration::Save() {
    TConfigManager &M = FManager;
    const char *S = kFractal;
    M.WriteInteger(S, "Animation", Animation);
    M.WriteInteger(S, "AnimationDuration", AnimationDuration);
    M.WriteBool(S, "AnimationLimitSize", AnimationLimitSize);
    M.WriteInteger(S, "AnimationMaxHeight", AnimationMaxHeight);
    M.WriteInteger(S, "AnimationMaxWidth", AnimationMaxWidth);
    M.WriteInteger(S, "ArbitraryPrecision", ArbitraryPrecision);
    M.WriteInteger(S, "BackgroundColor", BackgroundColor);
    M.WriteInteger(S, "BackgroundPriority", BackgroundPriority);
    M.WriteInteger(S, "ColorCyclingSpeed", ColorCyclingSpeed);
    M.WriteBool(S, "CompressParameters", CompressParameters);
    M.WriteBool(S, "CrosshairCursor", CrosshairCursor);
    M.WriteString(S, "DefaultComments", DefaultComments);
    M.WriteString(S, "DefaultCopyright", DefaultCopyright);
    M.WriteString(S, "DefaultEntry", DefaultEntry);
    M.WriteString(S, "DefaultFile", DefaultFile);
    M.WriteFloat(S, "DefaultGamma", DefaultGamma);
    M.WriteInteger(S, "DefaultHeight", DefaultHeight);
    M.WriteFloat(S, "DefaultResolution", DefaultResolution);
    M.WriteInteger(S, "DefaultWidth", DefaultWidth);
    M.WriteInteger(S, "ForegroundPriority", ForegroundPriority);
    M.WriteBool(S, "ImportFixedAspectRatio", ImportFixedAspectRatio);
    M.WriteBool(S, "ImportSmoothColoring", ImportSmoothColoring);
    M.WriteInteger(S, "MaxHeight", MaxHeight);
    M.WriteInteger(S, "MaxWidth", MaxWidth);
    for (int Kind = 0; Kind < kMouseKindCount; ++Kind)
        M.WriteInteger(S, std::string("MouseLeft") + kMouseKindNames[Kind], MouseLeft[Kind]);
    for (int Kind = 0; Kind < kMouseKindCount; ++Kind)
        M.WriteInteger(S, std::string("MouseRight") + kMouseKindNames[Kind], MouseRight[Kind]);
    M.WriteInteger(S, "NewAction", NewAction);
    M.WriteInteger(S, "Processors", Processors);
    M.WriteBool(S, "SaveWhenClosing", SaveWhenClosing);
    M.WriteInteger(S, "SelectMode", SelectMode);
    M.WriteBool(S, "SoundEnabled", SoundEnabled);
    M.WriteString(S, "SoundFile", SoundFile);
    M.WriteBool(S, "SwitchNewWindow", (SwitchOptions & soNewWindow) != 0);
    M.WriteBool(S, "SwitchOriginalSize", (SwitchOptions & soOriginalSize) != 0);
    M.WriteBool(S, "SwitchOriginalGradient", (SwitchOptions & soOriginalGradient) != 0);
    M.WriteBool(S, "SwitchOriginalColoring", (SwitchOptions & soOriginalColoring) != 0);
    M.WriteBool(S, "UseParameterAspect", UseParameterAspect);
    M.WriteBool(S, "UseParameterGamma", UseParameterGamma);
    M.WriteBool(S, "UseParameterResolution", UseParameterResolution);
    M.WriteBool(S, "UseParameterSize", UseParameterSize);
    M.WriteInteger(S, "ZoomDestination", ZoomDestination);
    M.WriteInteger(S, "ZoomFactor", ZoomFactor);
    M.WriteInteger(S, "ZoomShiftFactor", ZoomShiftFactor);
}

// --- Gradient -------------------------------------------------------------------------------

namespace {
const char kGradient[] = "Gradient";
}

TGradientConfiguration::TGradientConfiguration(TConfigManager &Manager)
    : TConfigSection(Manager), Height(ScaleForScreenFont(307)), Width(ScaleForScreenFont(446)) {}

void TGradientConfiguration::Load() {
    TConfigManager &M = FManager;
    const char *S = kGradient;
    CommentsBar = M.ReadBool(S, "CommentsBar", false);
    ControlBar = M.ReadBool(S, "ControlBar", true);
    M.ReadString(S, "DefaultEntry", DefaultEntry, "");
    M.ReadString(S, "DefaultFile", DefaultFile, "");
    Height = M.ReadInteger(S, "Height", ScaleForScreenFont(307));
    HSLColorBar = M.ReadBool(S, "HSLColorBar", false);
    OpacityBar = M.ReadBool(S, "OpacityBar", false);
    PreviewEnabled = M.ReadBool(S, "PreviewEnabled", true);
    RGBColorBar = M.ReadBool(S, "RGBColorBar", true);
    Width = M.ReadInteger(S, "Width", ScaleForScreenFont(446));
}

void TGradientConfiguration::Save() {
    TConfigManager &M = FManager;
    const char *S = kGradient;
    M.WriteBool(S, "CommentsBar", CommentsBar);
    M.WriteBool(S, "ControlBar", ControlBar);
    M.WriteString(S, "DefaultEntry", DefaultEntry);
    M.WriteString(S, "DefaultFile", DefaultFile);
    M.WriteInteger(S, "Height", Height);
    M.WriteBool(S, "HSLColorBar", HSLColorBar);
    M.WriteBool(S, "OpacityBar", OpacityBar);
    M.WriteBool(S, "PreviewEnabled", PreviewEnabled);
    M.WriteBool(S, "RGBColorBar", RGBColorBar);
    M.WriteInteger(S, "Width", Width);
}

// --- Render ---------------------------------------------------------------------------------

namespace {
const char kRender[] = "Render";
}

void TRenderConfiguration::SetJobCount(int Count) {
    FJobs.resize(std::size_t(Clamp(Count, 0, MaxJobCount)));
}

bool TRenderConfiguration::GetJobCalculating(int I) const {
    return (I >= 0 && I < GetJobCount()) ? FJobs[I].Calculating : false;
}

std::int32_t TRenderConfiguration::GetJobId(int I) const {
    return (I >= 0 && I < GetJobCount()) ? FJobs[I].Id : 0;
}

void TRenderConfiguration::SetJobCalculating(int I, bool Flag) {
    if (I >= 0 && I < GetJobCount())
        FJobs[I].Calculating = Flag;
}

void TRenderConfiguration::SetJobId(int I, std::int32_t Id) {
    if (I >= 0 && I < GetJobCount())
        FJobs[I].Id = Id;
}

void TRenderConfiguration::Load() {
    TConfigManager &M = FManager;
    const char *S = kRender;
    // The stored count sizes the job list: a negative or absurd value must not.
    const int Count = Clamp(M.ReadInteger(S, "JobCount", 0), 0, MaxJobCount);
    FJobs.assign(std::size_t(Count), TRenderJobSetting{});
    for (int I = 0; I < Count; ++I) {
        FJobs[I].Calculating = M.ReadBool(S, Format("JobCalculating%d", I), false);
        FJobs[I].Id = M.ReadInteger(S, Format("JobId%d", I), 0);
    }
    SoundEnabled = M.ReadBool(S, "SoundEnabled", false);
    M.ReadString(S, "SoundFile", SoundFile, "");
}

void TRenderConfiguration::Save() {
    TConfigManager &M = FManager;
    const char *S = kRender;
    M.WriteInteger(S, "JobCount", GetJobCount());
    for (int I = 0; I < GetJobCount(); ++I) {
        M.WriteBool(S, Format("JobCalculating%d", I), FJobs[I].Calculating);
        M.WriteInteger(S, Format("JobId%d", I), FJobs[I].Id);
    }
    M.WriteBool(S, "SoundEnabled", SoundEnabled);
    M.WriteString(S, "SoundFile", SoundFile);
}

// --- Editor ---------------------------------------------------------------------------------

namespace {

const char kEditor[] = "Editor";

struct TBuiltInTemplate {
    const char *Pattern, *Description, *Template;
};

const TBuiltInTemplate kBuiltInTemplates[] = {
    {"if", "if statement", "if |\r  \rendif"},
    {"ife", "if/else statement", "if |\r  \relse\r  \rendif"},
    {"ie", "elseif clause", "elseif |\r  "},
    {"lw", "while loop", "while |\r  \rendwhile"},
    {"lr", "repeat/until loop", "repeat\r  \runtil |"},
    {"sg", "global section", "global:\r  |"},
    {"si", "init section", "init:\r  |"},
    {"sl", "loop section", "loop:\r  |"},
    {"sb", "bailout section", "bailout:\r  |"},
    {"sf", "final section", "final:\r  |"},
    {"st", "transform section", "transform:\r  |"},
    {"sd", "default section", "default:\r  |"},
    {"sdt", "default section with title", "default:\r  title = \"|\""},
    {"ss", "switch section", "switch:\r  |"},
    {"db", "bool declaration", "bool |"},
    {"dba", "bool array declaration", "bool |[]"},
    {"di", "int declaration", "int |"},
    {"dia", "int array declaration", "int |[]"},
    {"df", "float declaration", "float |"},
    {"dfa", "float array declaration", "float |[]"},
    {"dc", "complex declaration", "complex |"},
    {"dca", "complex array declaration", "complex |[]"},
    {"p", "param/endparam block", "param |\r  caption = \"\"\rendparam"},
    {"f", "func/endfunc block", "func |\r  caption = \"\"\rendfunc"},
};

} // namespace

int TEditorTemplateList::Add(const std::string &Pattern, const std::string &Description,
                             const std::string &Template) {
    auto Item = std::make_unique<TEditorTemplate>();
    Item->Pattern = Pattern;
    Item->Description = Description;
    Item->Template = Template;
    FItems.push_back(std::move(Item));
    return GetCount() - 1;
}

void TEditorTemplateList::Assign(const TEditorTemplateList &Other) {
    if (&Other == this)
        return;
    Clear();
    for (const auto &Item : Other.FItems)
        Add(Item->Pattern, Item->Description, Item->Template);
}

void TEditorTemplateList::Delete(int Index) {
    if (Index < 0 || Index >= GetCount())
        throw EListError("List index out of bounds (%d)", Index);
    FItems.erase(FItems.begin() + Index);
}

TEditorTemplate *TEditorTemplateList::GetTemplate(int Index) const {
    if (Index < 0 || Index >= GetCount())
        throw EListError("List index out of bounds (%d)", Index);
    return FItems[Index].get();
}

std::string TEditorTemplateList::FindTemplateText(const std::string &Text) const {
    for (const auto &Item : FItems)
        if (SameText(Item->Pattern, Text))
            return Item->Template;
    return std::string();
}

void TEditorTemplateList::Sort() {
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const auto &A, const auto &B) { return CompareText(A->Pattern, B->Pattern) < 0; });
}

void TEditorTemplateList::AddDefaults() {
    for (const auto &T : kBuiltInTemplates)
        Add(T.Pattern, T.Description, T.Template);
}

TEditorConfiguration::TEditorConfiguration(TConfigManager &Manager)
    : TConfigSection(Manager), Templates(std::make_unique<TEditorTemplateList>()) {
    Font.Name = "Courier New";
    Font.Size = 10;
    Templates->AddDefaults();
}

void TEditorConfiguration::Load() {
    TConfigManager &M = FManager;
    const char *S = kEditor;
    AutoIndent = M.ReadBool(S, "AutoIndent", true);
    FindLeft = M.ReadInteger(S, "FindLeft", -1);
    FindTop = M.ReadInteger(S, "FindTop", -1);
    ReadFontSetting(M, Font, S, "Font", 0, 10, "Courier New");
    Gutter = M.ReadBool(S, "Gutter", true);
    ReplaceLeft = M.ReadInteger(S, "ReplaceLeft", -1);
    ReplaceTop = M.ReadInteger(S, "ReplaceTop", -1);
    TabCharacters = M.ReadBool(S, "TabCharacters", false);
    TabSize = Clamp(M.ReadInteger(S, "TabSize", 2), 1, 16);
    const int Count = M.ReadInteger(S, "TemplateCount", -1);
    Templates->Clear();
    if (Count == -1) {
        Templates->AddDefaults();
        return;
    }
    const int Stored = Clamp(Count, 0, MaxTemplateCount);
    for (int I = 0; I < Stored; ++I) {
        std::string Pattern, Description, Template;
        M.ReadString(S, Format("Pattern_%d", I), Pattern, "");
        M.ReadString(S, Format("Description_%d", I), Description, "");
        M.ReadString(S, Format("Template_%d", I), Template, "");
        if (!Pattern.empty() && !Template.empty())
            Templates->Add(Pattern, Description, Template);
    }
}

void TEditorConfiguration::Save() {
    TConfigManager &M = FManager;
    const char *S = kEditor;
    M.WriteBool(S, "AutoIndent", AutoIndent);
    M.WriteInteger(S, "FindLeft", FindLeft);
    M.WriteInteger(S, "FindTop", FindTop);
    WriteFontSetting(M, Font, S, "Font");
    M.WriteBool(S, "Gutter", Gutter);
    M.WriteInteger(S, "ReplaceLeft", ReplaceLeft);
    M.WriteInteger(S, "ReplaceTop", ReplaceTop);
    M.WriteBool(S, "TabCharacters", TabCharacters);
    M.WriteInteger(S, "TabSize", TabSize);
    M.WriteInteger(S, "TemplateCount", Templates->GetCount());
    for (int I = 0; I < Templates->GetCount(); ++I) {
        const TEditorTemplate *T = Templates->GetTemplate(I);
        M.WriteString(S, Format("Pattern_%d", I), T->Pattern);
        M.WriteString(S, Format("Description_%d", I), T->Description);
        M.WriteString(S, Format("Template_%d", I), T->Template);
    }
}

// --- Browser --------------------------------------------------------------------------------

namespace {

const char kBrowser[] = "Browser";
const char *const kLastFileKinds[5] = {"Parameters", "Gradient", "Transform", "Formula", "Coloring"};
const char *const kPreviewKinds[3] = {"Transform", "Formula", "Coloring"};
const char *const kColumnModes[3] = {"", "Open", "Save"};
const char *const kColumnViews[6] = {"", "Computer", "Folder", "Parameters", "Gradient", "Formula"};

// Slot of a file kind: kinds 7 and 8 use the slot of kind 6; -1 outside First..8.
int KindSlot(int Kind, int First) {
    if (Kind < First || Kind > fkInsideColoring)
        return -1;
    return std::min(Kind, int(fkColoring)) - First;
}

} // namespace

TBrowserConfiguration::TBrowserConfiguration(TConfigManager &Manager)
    : TConfigSection(Manager), BottomPanelHeight(ScaleForScreenFont(137)), Height(ScaleForScreenFont(398)),
      PreviewPanelWidth(ScaleForScreenFont(196)), TreePanelWidth(ScaleForScreenFont(121)),
      Width(ScaleForScreenFont(515)) {
    EntryFont.Name = GetDefaultFontName();
    EntryFont.Size = 8;
}

std::string TBrowserConfiguration::GetLastFileName(int Kind) const {
    const int Slot = KindSlot(Kind, fkParameters);
    return Slot < 0 ? std::string() : FLastFileName[Slot];
}

void TBrowserConfiguration::SetLastFileName(int Kind, const std::string &FileName) {
    const int Slot = KindSlot(Kind, fkParameters);
    if (Slot >= 0)
        FLastFileName[Slot] = FileName;
}

std::string TBrowserConfiguration::GetPreviewEntry(int Kind) const {
    const int Slot = KindSlot(Kind, fkTransform);
    return Slot < 0 ? std::string() : FPreviewEntry[Slot];
}

void TBrowserConfiguration::SetPreviewEntry(int Kind, const std::string &Entry) {
    const int Slot = KindSlot(Kind, fkTransform);
    if (Slot >= 0)
        FPreviewEntry[Slot] = Entry;
}

std::string TBrowserConfiguration::GetPreviewFileName(int Kind) const {
    const int Slot = KindSlot(Kind, fkTransform);
    return Slot < 0 ? std::string() : FPreviewFileName[Slot];
}

void TBrowserConfiguration::SetPreviewFileName(int Kind, const std::string &FileName) {
    const int Slot = KindSlot(Kind, fkTransform);
    if (Slot >= 0)
        FPreviewFileName[Slot] = FileName;
}

void TBrowserConfiguration::LoadColumns(int Mode, int View, bool &SortDir, int &SortColumn,
                                        std::vector<int> &ColumnWidths) {
    if (Mode < 0 || Mode >= 3 || View < 0 || View >= 6)
        return;
    const std::string Prefix = Format("Column%s%s", kColumnModes[Mode], kColumnViews[View]);
    for (std::size_t I = 0; I < ColumnWidths.size(); ++I)
        ColumnWidths[I] = FManager.ReadInteger(kBrowser, Format("%s%d", Prefix, int(I)), ColumnWidths[I]);
    SortColumn = FManager.ReadInteger(kBrowser, Prefix + "Sort", SortColumn);
    SortDir = FManager.ReadBool(kBrowser, Prefix + "SortDir", SortDir);
}

void TBrowserConfiguration::SaveColumns(int Mode, int View, bool SortDir, int SortColumn,
                                        const std::vector<int> &ColumnWidths) {
    if (Mode < 0 || Mode >= 3 || View < 0 || View >= 6)
        return;
    const std::string Prefix = Format("Column%s%s", kColumnModes[Mode], kColumnViews[View]);
    for (std::size_t I = 0; I < ColumnWidths.size(); ++I)
        FManager.WriteInteger(kBrowser, Format("%s%d", Prefix, int(I)), ColumnWidths[I]);
    FManager.WriteInteger(kBrowser, Prefix + "Sort", SortColumn);
    FManager.WriteBool(kBrowser, Prefix + "SortDir", SortDir);
}

void TBrowserConfiguration::Load() {
    TConfigManager &M = FManager;
    const char *S = kBrowser;
    BottomPanelHeight = M.ReadInteger(S, "BottomPanelHeight", ScaleForScreenFont(137));
    ReadFontSetting(M, EntryFont, S, "EntryFont", 0, 8, GetDefaultFontName());
    Height = M.ReadInteger(S, "Height", ScaleForScreenFont(398));
    for (int I = 0; I < 5; ++I)
        M.ReadString(S, Format("Last%sFileName", kLastFileKinds[I]), FLastFileName[I], "");
    M.ReadString(S, "LastLocation", LastLocation, "");
    LibraryOnly = M.ReadBool(S, "LibraryOnly", true);
    PreviewCacheSize = M.ReadInteger(S, "PreviewCacheSize", 128);
    for (int I = 0; I < 3; ++I)
        M.ReadString(S, Format("%sPreviewEntry", kPreviewKinds[I]), FPreviewEntry[I], "");
    for (int I = 0; I < 3; ++I)
        M.ReadString(S, Format("%sPreviewFileName", kPreviewKinds[I]), FPreviewFileName[I], "");
    PreviewHeight = M.ReadInteger(S, "PreviewHeight", 90);
    PreviewPanelWidth = M.ReadInteger(S, "PreviewPanelWidth", ScaleForScreenFont(196));
    PreviewWidth = M.ReadInteger(S, "PreviewWidth", 120);
    TreePanelWidth = M.ReadInteger(S, "TreePanelWidth", ScaleForScreenFont(121));
    ViewStyle = ClampByte(M.ReadInteger(S, "ViewStyle", 3), 0, 3);
    VisibleFiles = ClampByte(M.ReadInteger(S, "VisibleFiles", 0), 0, 8);
    Width = M.ReadInteger(S, "Width", ScaleForScreenFont(515));
}

void TBrowserConfiguration::Save() {
    TConfigManager &M = FManager;
    const char *S = kBrowser;
    M.WriteInteger(S, "BottomPanelHeight", BottomPanelHeight);
    WriteFontSetting(M, EntryFont, S, "EntryFont");
    M.WriteInteger(S, "Height", Height);
    for (int I = 0; I < 5; ++I)
        M.WriteString(S, Format("Last%sFileName", kLastFileKinds[I]), FLastFileName[I]);
    M.WriteString(S, "LastLocation", LastLocation);
    M.WriteBool(S, "LibraryOnly", LibraryOnly);
    M.WriteInteger(S, "PreviewCacheSize", PreviewCacheSize);
    for (int I = 0; I < 3; ++I)
        M.WriteString(S, Format("%sPreviewEntry", kPreviewKinds[I]), FPreviewEntry[I]);
    for (int I = 0; I < 3; ++I)
        M.WriteString(S, Format("%sPreviewFileName", kPreviewKinds[I]), FPreviewFileName[I]);
    M.WriteInteger(S, "PreviewHeight", PreviewHeight);
    M.WriteInteger(S, "PreviewPanelWidth", PreviewPanelWidth);
    M.WriteInteger(S, "PreviewWidth", PreviewWidth);
    M.WriteInteger(S, "TreePanelWidth", TreePanelWidth);
    M.WriteInteger(S, "ViewStyle", ViewStyle);
    M.WriteInteger(S, "VisibleFiles", VisibleFiles);
    M.WriteInteger(S, "Width", Width);
}

// --- General --------------------------------------------------------------------------------

namespace {
const char kGeneral[] = "General";
}

TGeneralConfiguration::TGeneralConfiguration(TConfigManager &Manager) : TConfigSection(Manager) {
    Font.Name = GetDefaultFontName();
    Font.Size = 8;
}

void TGeneralConfiguration::Load() {
    TConfigManager &M = FManager;
    const char *S = kGeneral;
    CheckAssocAtStartup = M.ReadBool(S, "CheckAssocAtStartup", true);
    ColorPreviewEnabled = M.ReadBool(S, "ColorPreviewEnabled", true);
    ExportFormat = ClampByte(M.ReadInteger(S, "ExportFormat", 2), 0, 5);
    ExportLayers = M.ReadBool(S, "ExportLayers", false);
    ExportQuality = Clamp(M.ReadInteger(S, "ExportQuality", 80), 1, 100);
    ExportTransparency = M.ReadBool(S, "ExportTransparency", false);
    FileHistorySize = Clamp(M.ReadInteger(S, "FileHistorySize", 4), 0, 9);
    ReadFontSetting(M, Font, S, "Font", 0, 8, GetDefaultFontName());
    GenerateWarnings = M.ReadBool(S, "GenerateWarnings", true);
    HideMsgUponSuccess = M.ReadBool(S, "HideMsgUponSuccess", true);
    LastFormulaUpdate = ReadDouble(M, S, "LastFormulaUpdate", 0.0);
    OpenFormat = M.ReadInteger(S, "OpenFormat", 0);
    M.ReadString(S, "Owner", Owner, "");
    RunTimeMessageCount = Clamp(M.ReadInteger(S, "RunTimeMessageCount", 100), 10, 10000);
    RunTimeMessagePosition = M.ReadBool(S, "RunTimeMessagePosition", true);
    ShowHints = M.ReadBool(S, "ShowHints", true);
    ShowToolbar = M.ReadBool(S, "ShowToolbar", true);
    ShowStatusBar = M.ReadBool(S, "ShowStatusBar", true);
    StartupAction = ClampByte(M.ReadInteger(S, "StartupAction", 4), 0, 4);
    StartupWelcome = M.ReadBool(S, "StartupWelcome", true);
    ToolInputDelay = ClampByte(M.ReadInteger(S, "ToolInputDelay", 0), 0, 6);
    WallpaperColors = ClampByte(M.ReadInteger(S, "WallpaperColors", 0), 0, 1);
    WallpaperMode = ClampByte(M.ReadInteger(S, "WallpaperMode", 0), 0, 2);
    M.ReadString(S, "WallpaperFile", WallpaperFile, "");
    WindowBar = M.ReadBool(S, "WindowBar", true);
}

void TGeneralConfiguration::Save() {
    TConfigManager &M = FManager;
    const char *S = kGeneral;
    M.WriteBool(S, "CheckAssocAtStartup", CheckAssocAtStartup);
    M.WriteBool(S, "ColorPreviewEnabled", ColorPreviewEnabled);
    M.WriteInteger(S, "ExportFormat", ExportFormat);
    M.WriteBool(S, "ExportLayers", ExportLayers);
    M.WriteInteger(S, "ExportQuality", ExportQuality);
    M.WriteBool(S, "ExportTransparency", ExportTransparency);
    M.WriteInteger(S, "FileHistorySize", FileHistorySize);
    WriteFontSetting(M, Font, S, "Font");
    M.WriteBool(S, "GenerateWarnings", GenerateWarnings);
    M.WriteBool(S, "HideMsgUponSuccess", HideMsgUponSuccess);
    M.WriteFloat(S, "LastFormulaUpdate", LastFormulaUpdate);
    M.WriteInteger(S, "OpenFormat", OpenFormat);
    M.WriteString(S, "Owner", Owner);
    M.WriteInteger(S, "RunTimeMessageCount", RunTimeMessageCount);
    M.WriteBool(S, "RunTimeMessagePosition", RunTimeMessagePosition);
    M.WriteBool(S, "ShowHints", ShowHints);
    M.WriteBool(S, "ShowToolbar", ShowToolbar);
    M.WriteBool(S, "ShowStatusBar", ShowStatusBar);
    M.WriteInteger(S, "StartupAction", StartupAction);
    M.WriteBool(S, "StartupWelcome", StartupWelcome);
    M.WriteInteger(S, "ToolInputDelay", ToolInputDelay);
    M.WriteInteger(S, "WallpaperColors", WallpaperColors);
    M.WriteInteger(S, "WallpaperMode", WallpaperMode);
    M.WriteString(S, "WallpaperFile", WallpaperFile);
    M.WriteBool(S, "WindowBar", WindowBar);
}

// --- Folder ---------------------------------------------------------------------------------

namespace {
const char kFolder[] = "Folder";
}

TFolderConfiguration::TFolderConfiguration(TConfigManager &Manager)
    : TConfigSection(Manager), SearchPaths(std::make_unique<TStringList>()) {
    Export = AddTrailingBackslash(GetDocumentsFolder());
    Open = Export;
}

void TFolderConfiguration::ReadFolderSetting(const std::string &Name, std::string &Folder,
                                             const std::string &Default) {
    FManager.ReadString(kFolder, Name, Folder, Default);
    Folder = AddTrailingBackslash(Folder);
}

std::unique_ptr<TStringList> TFolderConfiguration::GetFormulaFolders() const {
    auto List = std::make_unique<TStringList>();
    List->Add(Formula);
    List->AddStrings(*SearchPaths);
    return List;
}

std::string TFolderConfiguration::GetSearchPathsText() const {
    std::string Text;
    for (int I = 0; I < SearchPaths->Count(); ++I) {
        if (I > 0)
            Text += "; ";
        Text += SearchPaths->Strings(I);
    }
    return Text;
}

void TFolderConfiguration::SetSearchPathsText(const std::string &Text) {
    SearchPaths->Clear();
    // One pass over the text: a long registry value must not cost time per part and length.
    std::size_t Start = 0;
    while (Start < Text.size()) {
        std::size_t Semicolon = Text.find(';', Start);
        if (Semicolon == std::string::npos)
            Semicolon = Text.size();
        std::string Part = Trim(Text.substr(Start, Semicolon - Start));
        Start = Semicolon + 1;
        if (Part.empty())
            continue;
        Part = AddTrailingBackslash(Part);
        if (IsRelativePath(Part))
            Part = GetProgramFolder() + Part;
        SearchPaths->Add(Part);
    }
}

void TFolderConfiguration::Load() {
    TConfigManager &M = FManager;
    const std::string Documents = GetDocumentsFolder();
    ReadFolderSetting("Gradient", Gradient, "");
    ReadFolderSetting("Fractal", Fractal, "");
    ReadFolderSetting("Formula", Formula, "");
    ReadFolderSetting("FormulaPublic", FormulaPublic, "");
    ReadFolderSetting("FormulaHelp", FormulaHelp, "");
    ReadFolderSetting("Parameter", Parameter, "");
    ReadFolderSetting("System", System, "");
    ReadFolderSetting("Open", Open, Documents);
    ReadFolderSetting("Export", Export, Documents);
    std::string Paths;
    M.ReadString(kFolder, "SearchPaths", Paths, "");
    SetSearchPathsText(Paths);
    RememberExportFolder = M.ReadBool(kFolder, "RememberExportFolder", true);
    RememberFractalFolder = M.ReadBool(kFolder, "RememberFractalFolder", true);
    RememberOpenFolder = M.ReadBool(kFolder, "RememberOpenFolder", true);
}

void TFolderConfiguration::Save() {
    TConfigManager &M = FManager;
    const char *S = kFolder;
    M.WriteString(S, "Export", Export);
    M.WriteString(S, "Gradient", Gradient);
    M.WriteString(S, "Fractal", Fractal);
    M.WriteString(S, "Formula", Formula);
    M.WriteString(S, "FormulaHelp", FormulaHelp);
    M.WriteString(S, "FormulaPublic", FormulaPublic);
    M.WriteString(S, "Open", Open);
    M.WriteString(S, "Parameter", Parameter);
    M.WriteString(S, "SearchPaths", GetSearchPathsText());
    M.WriteString(S, "System", System);
    M.WriteBool(S, "RememberExportFolder", RememberExportFolder);
    M.WriteBool(S, "RememberFractalFolder", RememberFractalFolder);
    M.WriteBool(S, "RememberOpenFolder", RememberOpenFolder);
}

// --- Network --------------------------------------------------------------------------------

namespace {
const char kNetwork[] = "Network";
}

TNetworkPersistentConnection *TNetworkConfiguration::Add(const std::string &Caption, const std::string &Host,
                                                         bool Enabled, const std::string &Password,
                                                         std::int32_t Port) {
    auto Connection = std::make_unique<TNetworkPersistentConnection>();
    Connection->Caption = Caption;
    Connection->Enabled = Enabled;
    Connection->Host = Host;
    Connection->Password = Password;
    Connection->Port = Port;
    FConnections.push_back(std::move(Connection));
    return FConnections.back().get();
}

TNetworkPersistentConnection *TNetworkConfiguration::GetConnection(int Index) const {
    if (Index < 0 || Index >= GetCount())
        throw EListError("List index out of bounds (%d)", Index);
    return FConnections[Index].get();
}

namespace {

bool ConnectionStored(TConfigManager &M, const char *Section, int Index) {
    for (const char *Name : {"Caption", "Host", "Port", "Password", "Enabled"})
        if (M.ValueExists(Section, Name + IntToStr(Index)))
            return true;
    return false;
}

} // namespace

void TNetworkConfiguration::Load() {
    TConfigManager &M = FManager;
    const char *S = kNetwork;
    Clear();
    const int Count = Clamp(M.ReadInteger(S, "Count", 0), 0, MaxConnectionCount);
    for (int I = 0; I < Count; ++I) {
        // A count beyond the stored connections ends at the first one of which nothing is stored,
        // so that a damaged count does not make (and save back) empty connections.
        if (!ConnectionStored(M, S, I))
            break;
        const int Port = M.ReadInteger(S, Format("Port%d", I), 0);
        std::string Password, Host, Caption;
        M.ReadString(S, Format("Password%d", I), Password, "");
        const bool Enabled = M.ReadBool(S, Format("Enabled%d", I), true);
        M.ReadString(S, Format("Host%d", I), Host, "");
        M.ReadString(S, Format("Caption%d", I), Caption, "");
        Add(Caption, Host, Enabled, Password, Port);
    }
}

void TNetworkConfiguration::Save() {
    TConfigManager &M = FManager;
    const char *S = kNetwork;
    M.WriteInteger(S, "Count", GetCount());
    for (int I = 0; I < GetCount(); ++I) {
        const TNetworkPersistentConnection *C = FConnections[I].get();
        M.WriteString(S, Format("Caption%d", I), C->Caption);
        M.WriteString(S, Format("Host%d", I), C->Host);
        M.WriteInteger(S, Format("Port%d", I), C->Port);
        M.WriteString(S, Format("Password%d", I), C->Password);
        M.WriteBool(S, Format("Enabled%d", I), C->Enabled);
    }
}

// --- Server ---------------------------------------------------------------------------------

namespace {
const char kServer[] = "Server";
}

TServerConfiguration::TServerConfiguration(TConfigManager &Manager)
    : Filters(std::make_unique<TNetworkAddressFilterList>()), LogFileName(GetProgramFolder() + "Server.log"),
      FManager(Manager) {}

void TServerConfiguration::Load() {
    TConfigManager &M = FManager;
    const char *S = kServer;
    FilterEnabled = M.ReadBool(S, "FilterEnabled", false);
    Filters->Clear();
    const int Count = Clamp(M.ReadInteger(S, "FilterCount", 0), 0, MaxFilterCount);
    for (int I = 0; I < Count; ++I) {
        std::string From, To;
        M.ReadString(S, Format("FilterFrom%d", I), From, "");
        M.ReadString(S, Format("FilterTo%d", I), To, "");
        if (From.empty() || To.empty())
            continue;
        // A stored address that does not parse is skipped like a pair with an empty side:
        // a damaged value must not stop the program from starting.
        TNetworkAddressFilter Filter;
        try {
            Filter.From().SetText(From);
            Filter.To().SetText(To);
        } catch (const ENetworkError &) {
            continue;
        }
        Filters->Add()->Assign(Filter);
    }
    LogEnabled = M.ReadBool(S, "LogEnabled", true);
    M.ReadString(S, "LogFileName", LogFileName, GetProgramFolder() + "Server.log");
    M.ReadString(S, "Password", Password, "");
    PasswordRequired = M.ReadBool(S, "PasswordRequired", false);
    Port = M.ReadInteger(S, "Port", 8691);
    Priority = ClampByte(M.ReadInteger(S, "Priority", 2), 0, 3);
}

void TServerConfiguration::Save() {
    TConfigManager &M = FManager;
    const char *S = kServer;
    M.WriteBool(S, "FilterEnabled", FilterEnabled);
    M.WriteInteger(S, "FilterCount", Filters->GetCount());
    for (int I = 0; I < Filters->GetCount(); ++I) {
        const TNetworkAddressFilter *Filter = Filters->GetItem(I);
        M.WriteString(S, Format("FilterFrom%d", I), Filter->From().GetText());
        M.WriteString(S, Format("FilterTo%d", I), Filter->To().GetText());
    }
    M.WriteBool(S, "LogEnabled", LogEnabled);
    M.WriteString(S, "LogFileName", LogFileName);
    M.WriteString(S, "Password", Password);
    M.WriteBool(S, "PasswordRequired", PasswordRequired);
    M.WriteInteger(S, "Port", Port);
    M.WriteInteger(S, "Priority", Priority);
}

// --- TConfigManager -------------------------------------------------------------------------

TConfigManager::TConfigManager()
    : Browser(std::make_unique<TBrowserConfiguration>(*this)),
      Editor(std::make_unique<TEditorConfiguration>(*this)),
      Folder(std::make_unique<TFolderConfiguration>(*this)),
      Fractal(std::make_unique<TFractalConfiguration>(*this)),
      General(std::make_unique<TGeneralConfiguration>(*this)),
      Gradient(std::make_unique<TGradientConfiguration>(*this)),
      Network(std::make_unique<TNetworkConfiguration>(*this)),
      Render(std::make_unique<TRenderConfiguration>(*this)),
      Server(std::make_unique<TServerConfiguration>(*this)) {}

TConfigManager::~TConfigManager() {
    // The sections first, then (in the base class) the registry store.
    Server.reset();
    Render.reset();
    Network.reset();
    Gradient.reset();
    General.reset();
    Fractal.reset();
    Folder.reset();
    Editor.reset();
    Browser.reset();
}

void TConfigManager::LoadSettings() {
    Fractal->Load();
    Gradient->Load();
    Editor->Load();
    Browser->Load();
    Render->Load();
    General->Load();
    Folder->Load();
    Network->Load();
    Server->Load();
}

void TConfigManager::SaveSettings() {
    const TProgramInformation *Info = ProgramInformation();
    if (Info && Info->ServerMode) {
        Server->Save();
        return;
    }
    Fractal->Save();
    Gradient->Save();
    Editor->Save();
    Browser->Save();
    Render->Save();
    General->Save();
    Folder->Save();
    Network->Save();
}

TConfigManager *ConfigManager() {
    return GConfigManager.get();
}

void InitializeGenSetup() {
    if (GConfigManager)
        return;
    auto Manager = std::make_unique<TConfigManager>();
    Manager->LoadSettings();
    GConfigManager = std::move(Manager);
    RunAutoSetup(*GConfigManager);
}

void FinalizeGenSetup() {
    GConfigManager.reset();
}
