#include "GenSetup.h"
#include "GenUtils.h"
#include "ShellUtils.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "RegistryTestSupport.h"

namespace {

using GenConfig = RegistryTest;

struct TStoredValue {
    std::string Section;
    std::string Name;
    TRegDataType Type;
    std::string Value; // decimal text for integers
};

int ProcessorsExpected() {
    SYSTEM_INFO Info;
    GetSystemInfo(&Info);
    return std::min<int>(std::max<int>(Info.dwNumberOfProcessors, 1), 16);
}

std::string Scaled(int Size) {
    return std::to_string(ScaleForScreenFont(Size));
}

// Every value a fresh configuration saves, with its registry type and default.
std::vector<TStoredValue> DefaultValues() {
    const TRegDataType I = rdInteger, S = rdString;
    const std::string Documents = AddTrailingBackslash(GetDocumentsFolder());
    const std::string Font = GetDefaultFontName();
    std::vector<TStoredValue> V = {
        {"Fractal", "Animation", I, "1"},
        {"Fractal", "AnimationDuration", I, "1000"},
        {"Fractal", "AnimationLimitSize", I, "1"},
        {"Fractal", "AnimationMaxHeight", I, "480"},
        {"Fractal", "AnimationMaxWidth", I, "640"},
        {"Fractal", "ArbitraryPrecision", I, "1"},
        {"Fractal", "BackgroundColor", I, "0"},
        {"Fractal", "BackgroundPriority", I, "1"},
        {"Fractal", "ColorCyclingSpeed", I, "2"},
        {"Fractal", "CompressParameters", I, "1"},
        {"Fractal", "CrosshairCursor", I, "0"},
        {"Fractal", "DefaultComments", S, ""},
        {"Fractal", "DefaultCopyright", S, "Copyright"},
        {"Fractal", "DefaultEntry", S, ""},
        {"Fractal", "DefaultFile", S, ""},
        {"Fractal", "DefaultGamma", S, "2.5"},
        {"Fractal", "DefaultHeight", I, "480"},
        {"Fractal", "DefaultResolution", S, "300"},
        {"Fractal", "DefaultWidth", I, "640"},
        {"Fractal", "ForegroundPriority", I, "2"},
        {"Fractal", "ImportFixedAspectRatio", I, "1"},
        {"Fractal", "ImportSmoothColoring", I, "1"},
        {"Fractal", "MaxHeight", I, "1200"},
        {"Fractal", "MaxWidth", I, "1600"},
        {"Fractal", "MouseLeftClick", I, "1"},
        {"Fractal", "MouseLeftShiftClick", I, "3"},
        {"Fractal", "MouseLeftCtrlClick", I, "2"},
        {"Fractal", "MouseLeftAltClick", I, "4"},
        {"Fractal", "MouseLeftShiftCtrlClick", I, "5"},
        {"Fractal", "MouseLeftCtrlAltClick", I, "6"},
        {"Fractal", "MouseRightClick", I, "7"},
        {"Fractal", "MouseRightShiftClick", I, "0"},
        {"Fractal", "MouseRightCtrlClick", I, "0"},
        {"Fractal", "MouseRightAltClick", I, "0"},
        {"Fractal", "MouseRightShiftCtrlClick", I, "0"},
        {"Fractal", "MouseRightCtrlAltClick", I, "0"},
        {"Fractal", "NewAction", I, "0"},
        {"Fractal", "Processors", I, std::to_string(ProcessorsExpected())},
        {"Fractal", "SaveWhenClosing", I, "1"},
        {"Fractal", "SelectMode", I, "0"},
        {"Fractal", "SoundEnabled", I, "0"},
        {"Fractal", "SoundFile", S, ""},
        {"Fractal", "SwitchNewWindow", I, "1"},
        {"Fractal", "SwitchOriginalSize", I, "1"},
        {"Fractal", "SwitchOriginalGradient", I, "1"},
        {"Fractal", "SwitchOriginalColoring", I, "1"},
        {"Fractal", "UseParameterAspect", I, "1"},
        {"Fractal", "UseParameterGamma", I, "1"},
        {"Fractal", "UseParameterResolution", I, "1"},
        {"Fractal", "UseParameterSize", I, "1"},
        {"Fractal", "ZoomDestination", I, "0"},
        {"Fractal", "ZoomFactor", I, "0"},
        {"Fractal", "ZoomShiftFactor", I, "2"},

        {"Gradient", "CommentsBar", I, "0"},
        {"Gradient", "ControlBar", I, "1"},
        {"Gradient", "DefaultEntry", S, ""},
        {"Gradient", "DefaultFile", S, ""},
        {"Gradient", "Height", I, Scaled(307)},
        {"Gradient", "HSLColorBar", I, "0"},
        {"Gradient", "OpacityBar", I, "0"},
        {"Gradient", "PreviewEnabled", I, "1"},
        {"Gradient", "RGBColorBar", I, "1"},
        {"Gradient", "Width", I, Scaled(446)},

        {"Render", "JobCount", I, "0"},
        {"Render", "SoundEnabled", I, "0"},
        {"Render", "SoundFile", S, ""},

        {"Editor", "AutoIndent", I, "1"},
        {"Editor", "FindLeft", I, "-1"},
        {"Editor", "FindTop", I, "-1"},
        {"Editor", "FontName", S, "Courier New"},
        {"Editor", "FontSize", I, "10"},
        {"Editor", "FontBold", I, "0"},
        {"Editor", "FontItalic", I, "0"},
        {"Editor", "FontUnderline", I, "0"},
        {"Editor", "Gutter", I, "1"},
        {"Editor", "ReplaceLeft", I, "-1"},
        {"Editor", "ReplaceTop", I, "-1"},
        {"Editor", "TabCharacters", I, "0"},
        {"Editor", "TabSize", I, "2"},
        {"Editor", "TemplateCount", I, "24"},

        {"Browser", "BottomPanelHeight", I, Scaled(137)},
        {"Browser", "EntryFontName", S, Font},
        {"Browser", "EntryFontSize", I, "8"},
        {"Browser", "EntryFontBold", I, "0"},
        {"Browser", "EntryFontItalic", I, "0"},
        {"Browser", "EntryFontUnderline", I, "0"},
        {"Browser", "Height", I, Scaled(398)},
        {"Browser", "LastParametersFileName", S, ""},
        {"Browser", "LastGradientFileName", S, ""},
        {"Browser", "LastTransformFileName", S, ""},
        {"Browser", "LastFormulaFileName", S, ""},
        {"Browser", "LastColoringFileName", S, ""},
        {"Browser", "LastLocation", S, ""},
        {"Browser", "LibraryOnly", I, "1"},
        {"Browser", "PreviewCacheSize", I, "128"},
        {"Browser", "TransformPreviewEntry", S, ""},
        {"Browser", "FormulaPreviewEntry", S, ""},
        {"Browser", "ColoringPreviewEntry", S, ""},
        {"Browser", "TransformPreviewFileName", S, ""},
        {"Browser", "FormulaPreviewFileName", S, ""},
        {"Browser", "ColoringPreviewFileName", S, ""},
        {"Browser", "PreviewHeight", I, "90"},
        {"Browser", "PreviewPanelWidth", I, Scaled(196)},
        {"Browser", "PreviewWidth", I, "120"},
        {"Browser", "TreePanelWidth", I, Scaled(121)},
        {"Browser", "ViewStyle", I, "3"},
        {"Browser", "VisibleFiles", I, "0"},
        {"Browser", "Width", I, Scaled(515)},

        {"General", "CheckAssocAtStartup", I, "1"},
        {"General", "ColorPreviewEnabled", I, "1"},
        {"General", "ExportFormat", I, "2"},
        {"General", "ExportLayers", I, "0"},
        {"General", "ExportQuality", I, "80"},
        {"General", "ExportTransparency", I, "0"},
        {"General", "FileHistorySize", I, "4"},
        {"General", "FontName", S, Font},
        {"General", "FontSize", I, "8"},
        {"General", "FontBold", I, "0"},
        {"General", "FontItalic", I, "0"},
        {"General", "FontUnderline", I, "0"},
        {"General", "GenerateWarnings", I, "1"},
        {"General", "HideMsgUponSuccess", I, "1"},
        {"General", "LastFormulaUpdate", S, "0"},
        {"General", "OpenFormat", I, "0"},
        {"General", "Owner", S, ""},
        {"General", "RunTimeMessageCount", I, "100"},
        {"General", "RunTimeMessagePosition", I, "1"},
        {"General", "ShowHints", I, "1"},
        {"General", "ShowToolbar", I, "1"},
        {"General", "ShowStatusBar", I, "1"},
        {"General", "StartupAction", I, "4"},
        {"General", "StartupWelcome", I, "1"},
        {"General", "ToolInputDelay", I, "0"},
        {"General", "WallpaperColors", I, "0"},
        {"General", "WallpaperMode", I, "0"},
        {"General", "WallpaperFile", S, ""},
        {"General", "WindowBar", I, "1"},

        {"Folder", "Export", S, Documents},
        {"Folder", "Gradient", S, ""},
        {"Folder", "Fractal", S, ""},
        {"Folder", "Formula", S, ""},
        {"Folder", "FormulaHelp", S, ""},
        {"Folder", "FormulaPublic", S, ""},
        {"Folder", "Open", S, Documents},
        {"Folder", "Parameter", S, ""},
        {"Folder", "SearchPaths", S, ""},
        {"Folder", "System", S, ""},
        {"Folder", "RememberExportFolder", I, "1"},
        {"Folder", "RememberFractalFolder", I, "1"},
        {"Folder", "RememberOpenFolder", I, "1"},

        {"Network", "Count", I, "0"},

        {"Server", "FilterEnabled", I, "0"},
        {"Server", "FilterCount", I, "0"},
        {"Server", "LogEnabled", I, "1"},
        {"Server", "LogFileName", S, GetProgramFolder() + "Server.log"},
        {"Server", "Password", S, ""},
        {"Server", "PasswordRequired", I, "0"},
        {"Server", "Port", I, "8691"},
        {"Server", "Priority", I, "2"},
    };
    // The built-in editor templates follow their count.
    const struct {
        const char *Pattern, *Description, *Template;
    } Templates[] = {
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
    int Index = 0;
    for (const auto &T : Templates) {
        V.push_back({"Editor", Format("Pattern_%d", Index), S, T.Pattern});
        V.push_back({"Editor", Format("Description_%d", Index), S, T.Description});
        V.push_back({"Editor", Format("Template_%d", Index), S, T.Template});
        ++Index;
    }
    return V;
}

std::string StoredText(TRegistry &Registry, const std::string &Name, TRegDataType Type) {
    return Type == rdInteger ? std::to_string(Registry.ReadInteger(Name)) : Registry.ReadString(Name);
}

TEST_F(GenConfig, FreshConfigurationSavesEveryDefaultWithItsType) {
    TConfigManager Manager;
    Manager.LoadSettings();
    Manager.SaveSettings();
    Manager.Server->Save(); // interactive mode leaves the server section out

    std::map<std::string, std::set<std::string>> Expected;
    TRegistry Registry;
    for (const TStoredValue &Value : DefaultValues()) {
        Expected[Value.Section].insert(Value.Name);
        ASSERT_TRUE(Registry.OpenKeyReadOnly(RegistryBaseKey() + Value.Section)) << Value.Section;
        ASSERT_TRUE(Registry.ValueExists(Value.Name)) << Value.Section << "\\" << Value.Name;
        EXPECT_EQ(Registry.GetDataType(Value.Name), Value.Type) << Value.Section << "\\" << Value.Name;
        if (Registry.GetDataType(Value.Name) == Value.Type) {
            EXPECT_EQ(StoredText(Registry, Value.Name, Value.Type), Value.Value)
                << Value.Section << "\\" << Value.Name;
        }
        Registry.CloseKey();
    }
    // Nothing else is written (a misspelt name would show up here).
    for (const auto &[Section, Names] : Expected) {
        ASSERT_TRUE(Registry.OpenKeyReadOnly(RegistryBaseKey() + Section));
        TStringList Stored;
        Registry.GetValueNames(Stored);
        for (int I = 0; I < Stored.Count(); ++I)
            EXPECT_TRUE(Names.count(Stored[I])) << "unexpected value " << Section << "\\" << Stored[I];
        Registry.CloseKey();
    }
}

TEST_F(GenConfig, EmptyRegistryGivesTheDefaultsInMemory) {
    TConfigManager Manager;
    Manager.LoadSettings();
    EXPECT_EQ(Manager.Fractal->Processors, ProcessorsExpected());
    EXPECT_EQ(Manager.Fractal->DefaultGamma, 2.5);
    EXPECT_EQ(Manager.Fractal->SwitchOptions,
              soNewWindow | soOriginalSize | soOriginalColoring | soOriginalGradient);
    EXPECT_EQ(Manager.Editor->Templates->GetCount(), 24);
    EXPECT_EQ(Manager.Editor->Templates->FindTemplateText("IFE"), "if |\r  \relse\r  \rendif");
    EXPECT_EQ(Manager.Server->Port, 8691);
    EXPECT_EQ(Manager.General->StartupAction, 4);
    EXPECT_TRUE(Manager.Folder->SearchPaths->Count() == 0);
}

// --- values seeded out of range, of the wrong type or unparsable ----------------------------

struct TSeedCase {
    const char *Section;
    const char *Name;
    bool AsText;
    int Number;
    const char *Text;
    std::function<long double(TConfigManager &)> Read;
    long double Expected;
};

long double Num(long double X) {
    return X;
}

TEST_F(GenConfig, SeededValuesReadBackClampedOrAsDefault) {
    using M = TConfigManager;
    const TSeedCase Cases[] = {
        {"Fractal", "AnimationDuration", false, 50, "",
         [](M &C) { return Num(C.Fractal->AnimationDuration); }, 100},
        {"Fractal", "AnimationDuration", false, 99999, "",
         [](M &C) { return Num(C.Fractal->AnimationDuration); }, 10000},
        {"Fractal", "AnimationDuration", true, 0, "5000",
         [](M &C) { return Num(C.Fractal->AnimationDuration); }, 1000},
        {"Fractal", "MaxWidth", false, 100, "", [](M &C) { return Num(C.Fractal->MaxWidth); }, 160},
        {"Fractal", "MaxHeight", false, -5, "", [](M &C) { return Num(C.Fractal->MaxHeight); }, 120},
        {"Fractal", "AnimationMaxWidth", false, 100, "",
         [](M &C) { return Num(C.Fractal->AnimationMaxWidth); }, 160},
        {"Fractal", "DefaultWidth", false, 1, "", [](M &C) { return Num(C.Fractal->DefaultWidth); }, 40},
        {"Fractal", "DefaultHeight", false, 1, "", [](M &C) { return Num(C.Fractal->DefaultHeight); }, 30},
        {"Fractal", "DefaultGamma", true, 0, "20", [](M &C) { return Num(C.Fractal->DefaultGamma); }, 10},
        {"Fractal", "DefaultGamma", true, 0, "0.01", [](M &C) { return Num(C.Fractal->DefaultGamma); }, 0.1},
        {"Fractal", "DefaultGamma", true, 0, "1.75", [](M &C) { return Num(C.Fractal->DefaultGamma); }, 1.75},
        {"Fractal", "DefaultGamma", true, 0, "gamma", [](M &C) { return Num(C.Fractal->DefaultGamma); }, 2.5},
        {"Fractal", "DefaultGamma", true, 0, "1,75", [](M &C) { return Num(C.Fractal->DefaultGamma); }, 2.5},
        {"Fractal", "DefaultGamma", false, 3, "", [](M &C) { return Num(C.Fractal->DefaultGamma); }, 2.5},
        {"Fractal", "DefaultResolution", true, 0, "1e9",
         [](M &C) { return Num(C.Fractal->DefaultResolution); }, 10000},
        {"Fractal", "DefaultResolution", true, 0, "-3",
         [](M &C) { return Num(C.Fractal->DefaultResolution); }, 1},
        {"Fractal", "BackgroundColor", false, 0x12345678, "",
         [](M &C) { return Num(C.Fractal->BackgroundColor); }, 0x345678},
        {"Fractal", "BackgroundColor", false, -1, "", [](M &C) { return Num(C.Fractal->BackgroundColor); },
         0xFFFFFF},
        {"Fractal", "ArbitraryPrecision", false, 3, "",
         [](M &C) { return Num(C.Fractal->ArbitraryPrecision); }, 2},
        {"Fractal", "BackgroundPriority", false, 0, "",
         [](M &C) { return Num(C.Fractal->BackgroundPriority); }, 1},
        {"Fractal", "ForegroundPriority", false, 300, "",
         [](M &C) { return Num(C.Fractal->ForegroundPriority); }, 3},
        {"Fractal", "Processors", false, 0, "", [](M &C) { return Num(C.Fractal->Processors); }, 1},
        {"Fractal", "Processors", false, 99, "", [](M &C) { return Num(C.Fractal->Processors); }, 16},
        {"Fractal", "ZoomFactor", false, 9, "", [](M &C) { return Num(C.Fractal->ZoomFactor); }, 4},
        {"Fractal", "ZoomShiftFactor", false, -3, "", [](M &C) { return Num(C.Fractal->ZoomShiftFactor); },
         0},
        {"Fractal", "ZoomDestination", false, 2, "", [](M &C) { return Num(C.Fractal->ZoomDestination); }, 1},
        {"Fractal", "MouseLeftClick", false, 9, "", [](M &C) { return Num(C.Fractal->GetMouseLeft(0)); }, 7},
        {"Fractal", "MouseRightCtrlAltClick", false, -1, "",
         [](M &C) { return Num(C.Fractal->GetMouseRight(5)); }, 0},
        {"Fractal", "Animation", true, 0, "2", [](M &C) { return Num(C.Fractal->Animation); }, 1},
        {"Fractal", "CrosshairCursor", true, 0, "1", [](M &C) { return Num(C.Fractal->CrosshairCursor); }, 0},
        {"Fractal", "CrosshairCursor", false, 5, "", [](M &C) { return Num(C.Fractal->CrosshairCursor); }, 1},
        {"Fractal", "SwitchOriginalGradient", false, 0, "",
         [](M &C) { return Num(C.Fractal->SwitchOptions); },
         soNewWindow | soOriginalSize | soOriginalColoring},
        {"Editor", "TabSize", false, 0, "", [](M &C) { return Num(C.Editor->TabSize); }, 1},
        {"Editor", "TabSize", false, 100, "", [](M &C) { return Num(C.Editor->TabSize); }, 16},
        {"Browser", "ViewStyle", false, 200, "", [](M &C) { return Num(C.Browser->ViewStyle); }, 3},
        {"Browser", "VisibleFiles", false, 9, "", [](M &C) { return Num(C.Browser->VisibleFiles); }, 8},
        {"General", "ExportQuality", false, 0, "", [](M &C) { return Num(C.General->ExportQuality); }, 1},
        {"General", "ExportFormat", false, 6, "", [](M &C) { return Num(C.General->ExportFormat); }, 5},
        {"General", "FileHistorySize", false, -1, "", [](M &C) { return Num(C.General->FileHistorySize); },
         0},
        {"General", "RunTimeMessageCount", false, 5, "",
         [](M &C) { return Num(C.General->RunTimeMessageCount); }, 10},
        {"General", "RunTimeMessageCount", false, 1 << 30, "",
         [](M &C) { return Num(C.General->RunTimeMessageCount); }, 10000},
        {"General", "StartupAction", false, 7, "", [](M &C) { return Num(C.General->StartupAction); }, 4},
        {"General", "ToolInputDelay", false, 7, "", [](M &C) { return Num(C.General->ToolInputDelay); }, 6},
        {"General", "WallpaperMode", false, 3, "", [](M &C) { return Num(C.General->WallpaperMode); }, 2},
        {"General", "LastFormulaUpdate", true, 0, "38218.5",
         [](M &C) { return Num(C.General->LastFormulaUpdate); }, 38218.5},
        {"General", "LastFormulaUpdate", true, 0, "1e400",
         [](M &C) { return Num(C.General->LastFormulaUpdate); }, 0},
        {"Fractal", "DefaultResolution", true, 0, "-1e4000",
         [](M &C) { return Num(C.Fractal->DefaultResolution); }, 300},
        {"Server", "Priority", false, 9, "", [](M &C) { return Num(C.Server->Priority); }, 3},
        {"Server", "Port", true, 0, "80", [](M &C) { return Num(C.Server->Port); }, 8691},
        // Stored counts never size a loop or an array unchecked.
        {"Render", "JobCount", false, -5, "", [](M &C) { return Num(C.Render->GetJobCount()); }, 0},
        {"Render", "JobCount", false, 0x7FFFFFFF, "", [](M &C) { return Num(C.Render->GetJobCount()); },
         TRenderConfiguration::MaxJobCount},
        {"Network", "Count", false, -1, "", [](M &C) { return Num(C.Network->GetCount()); }, 0},
        // A count beyond the stored connections: only those that exist.
        {"Network", "Count", false, 0x7FFFFFFF, "", [](M &C) { return Num(C.Network->GetCount()); }, 0},
        {"Server", "FilterCount", false, -3, "", [](M &C) { return Num(C.Server->Filters->GetCount()); }, 0},
        {"Editor", "TemplateCount", false, -7, "", [](M &C) { return Num(C.Editor->Templates->GetCount()); },
         0},
        {"Editor", "TemplateCount", false, 0, "", [](M &C) { return Num(C.Editor->Templates->GetCount()); },
         0},
        {"Editor", "TemplateCount", false, 0x7FFFFFFF, "",
         [](M &C) { return Num(C.Editor->Templates->GetCount()); }, 0},
    };
    for (const TSeedCase &Case : Cases) {
        ClearBaseKey();
        {
            TRegistry Registry;
            OpenSection(Registry, Case.Section);
            if (Case.AsText)
                Registry.WriteString(Case.Name, Case.Text);
            else
                Registry.WriteInteger(Case.Name, Case.Number);
        }
        TConfigManager Manager;
        Manager.LoadSettings();
        EXPECT_EQ(Case.Read(Manager), Case.Expected)
            << Case.Section << "\\" << Case.Name << " = "
            << (Case.AsText ? Case.Text : std::to_string(Case.Number));
    }
}

// --- sections --------------------------------------------------------------------------------

TEST_F(GenConfig, StoredTemplatesReplaceTheBuiltInOnes) {
    {
        TRegistry Registry;
        OpenSection(Registry, "Editor");
        Registry.WriteInteger("TemplateCount", 3);
        Registry.WriteString("Pattern_0", "zz");
        Registry.WriteString("Description_0", "last");
        Registry.WriteString("Template_0", "zz|");
        Registry.WriteString("Pattern_1", "skip"); // no template text: left out
        Registry.WriteString("Pattern_2", "AA");
        Registry.WriteString("Template_2", "aa|");
        Registry.WriteString("Pattern_3", "beyond"); // beyond the count
        Registry.WriteString("Template_3", "x");
    }
    TConfigManager Manager;
    Manager.LoadSettings();
    TEditorTemplateList &List = *Manager.Editor->Templates;
    ASSERT_EQ(List.GetCount(), 2);
    EXPECT_EQ(List.GetTemplate(0)->Description, "last");
    EXPECT_EQ(List.FindTemplateText("aa"), "aa|");
    EXPECT_EQ(List.FindTemplateText("beyond"), "");
    List.Sort();
    EXPECT_EQ(List.GetTemplate(0)->Pattern, "AA");
    EXPECT_EQ(List.GetTemplate(1)->Pattern, "zz");
}

TEST_F(GenConfig, DamagedServerFiltersAreSkippedNotFatal) {
    {
        TRegistry Registry;
        OpenSection(Registry, "Server");
        Registry.WriteInteger("FilterCount", 5);
        Registry.WriteString("FilterFrom0", "192.168.1.10");
        Registry.WriteString("FilterTo0", "192.168.1.20");
        Registry.WriteString("FilterFrom1", "10.0.0.1"); // no FilterTo1
        Registry.WriteString("FilterFrom2", "300.1.1.1");
        Registry.WriteString("FilterTo2", "300.1.1.2");
        Registry.WriteString("FilterFrom3", "10.0.0.1");
        Registry.WriteString("FilterTo3", "not an address");
        Registry.WriteString("FilterFrom4", "255.255.255.255");
        Registry.WriteString("FilterTo4", "255.255.255.255");
    }
    TConfigManager Manager;
    ASSERT_NO_THROW(Manager.LoadSettings());
    TNetworkAddressFilterList &Filters = *Manager.Server->Filters;
    ASSERT_EQ(Filters.GetCount(), 2);
    EXPECT_EQ(Filters.GetItem(0)->GetText(), "192.168.1.10 - 192.168.1.20");
    EXPECT_EQ(Filters.GetItem(1)->GetText(), "255.255.255.255");

    Manager.Server->Save();
    TRegistry Registry;
    OpenSection(Registry, "Server");
    EXPECT_EQ(Registry.ReadInteger("FilterCount"), 2);
    EXPECT_EQ(Registry.ReadString("FilterFrom1"), "255.255.255.255");
}

TEST_F(GenConfig, ChangedSettingsSurviveSaveAndLoad) {
    {
        TConfigManager Manager;
        Manager.LoadSettings();
        Manager.Fractal->DefaultGamma = 1.0 / 3.0;
        Manager.Fractal->SetMouseRight(2, 3);
        Manager.Fractal->SwitchOptions = soOriginalColoring;
        Manager.Editor->Templates->Clear();
        Manager.Editor->Templates->Add("x", "ex", "x|");
        Manager.Editor->Font.Style = fsBold | fsUnderline;
        Manager.Browser->SetLastFileName(fkInsideColoring, "c.ocl");
        Manager.Browser->SetPreviewEntry(fkFormula, "Mandel");
        Manager.Render->SetJobCount(2);
        Manager.Render->SetJobCalculating(1, true);
        Manager.Render->SetJobId(1, 77);
        Manager.Folder->SetSearchPathsText("C:\\a; D:\\b");
        Manager.Network->Add("Box", "box.local", false, "pw", 9000);
        Manager.General->Owner = "Ann";
        Manager.SaveSettings();
    }
    TConfigManager Manager;
    Manager.LoadSettings();
    EXPECT_EQ(Manager.Fractal->DefaultGamma, 1.0 / 3.0);
    EXPECT_EQ(Manager.Fractal->GetMouseRight(2), 3);
    EXPECT_EQ(Manager.Fractal->SwitchOptions, soOriginalColoring);
    ASSERT_EQ(Manager.Editor->Templates->GetCount(), 1);
    EXPECT_EQ(Manager.Editor->Templates->GetTemplate(0)->Description, "ex");
    EXPECT_EQ(Manager.Editor->Font.Style, fsBold | fsUnderline);
    EXPECT_EQ(Manager.Browser->GetLastFileName(fkColoring), "c.ocl");
    EXPECT_EQ(Manager.Browser->GetPreviewEntry(fkFormula), "Mandel");
    ASSERT_EQ(Manager.Render->GetJobCount(), 2);
    EXPECT_FALSE(Manager.Render->GetJobCalculating(0));
    EXPECT_TRUE(Manager.Render->GetJobCalculating(1));
    EXPECT_EQ(Manager.Render->GetJobId(1), 77);
    EXPECT_EQ(Manager.Folder->GetSearchPathsText(), "C:\\a\\; D:\\b\\");
    ASSERT_EQ(Manager.Network->GetCount(), 1);
    const TNetworkPersistentConnection *C = Manager.Network->GetConnection(0);
    EXPECT_EQ(C->Caption, "Box");
    EXPECT_EQ(C->Host, "box.local");
    EXPECT_FALSE(C->Enabled);
    EXPECT_EQ(C->Password, "pw");
    EXPECT_EQ(C->Port, 9000);
    EXPECT_EQ(Manager.General->Owner, "Ann");
}

TEST_F(GenConfig, ServerModeSavesOnlyTheServerSection) {
    TProgramInformation &Info = *ProgramInformation();
    const bool WasServer = Info.ServerMode;
    Info.ServerMode = true;
    {
        TConfigManager Manager;
        Manager.LoadSettings();
        Manager.Server->Port = 1234;
        Manager.SaveSettings();
    }
    Info.ServerMode = WasServer;
    TRegistry Registry;
    ASSERT_TRUE(Registry.OpenKeyReadOnly(RegistryBaseKey()));
    TStringList Keys;
    Registry.GetKeyNames(Keys);
    ASSERT_EQ(Keys.Count(), 1);
    EXPECT_EQ(Keys[0], "Server");
    Registry.CloseKey();
    OpenSection(Registry, "Server");
    EXPECT_EQ(Registry.ReadInteger("Port"), 1234);
}

TEST_F(GenConfig, FolderValuesGetATrailingBackslash) {
    {
        TRegistry Registry;
        OpenSection(Registry, "Folder");
        Registry.WriteString("Fractal", "C:\\Work");
        Registry.WriteString("Gradient", "C:\\Grad\\");
        Registry.WriteString("Formula", "");
        Registry.WriteString("Open", "D:");
    }
    TConfigManager Manager;
    Manager.LoadSettings();
    EXPECT_EQ(Manager.Folder->Fractal, "C:\\Work\\");
    EXPECT_EQ(Manager.Folder->Gradient, "C:\\Grad\\");
    EXPECT_EQ(Manager.Folder->Formula, "");
    EXPECT_EQ(Manager.Folder->Open, "D:\\");
    EXPECT_EQ(Manager.Folder->Export, AddTrailingBackslash(GetDocumentsFolder()));
}

TEST_F(GenConfig, SearchPathsText) {
    TConfigManager Manager;
    TFolderConfiguration &Folder = *Manager.Folder;
    Folder.Formula = "C:\\Formulas\\";
    Folder.SetSearchPathsText("  more formulas  ;; C:\\Lib ;\\\\server\\share");
    ASSERT_EQ(Folder.SearchPaths->Count(), 3);
    EXPECT_EQ(Folder.SearchPaths->Strings(0), GetProgramFolder() + "more formulas\\");
    EXPECT_EQ(Folder.SearchPaths->Strings(1), "C:\\Lib\\");
    EXPECT_EQ(Folder.SearchPaths->Strings(2), "\\\\server\\share\\");
    EXPECT_EQ(Folder.GetSearchPathsText(),
              GetProgramFolder() + "more formulas\\; C:\\Lib\\; \\\\server\\share\\");
    auto Folders = Folder.GetFormulaFolders();
    ASSERT_EQ(Folders->Count(), 4);
    EXPECT_EQ(Folders->Strings(0), "C:\\Formulas\\");

    Folder.SetSearchPathsText("");
    EXPECT_EQ(Folder.SearchPaths->Count(), 0);
    EXPECT_EQ(Folder.GetSearchPathsText(), "");
    Folders = Folder.GetFormulaFolders();
    ASSERT_EQ(Folders->Count(), 1);
    EXPECT_EQ(Folders->Strings(0), "C:\\Formulas\\");
}

TEST_F(GenConfig, MouseActionFollowsTheModifierKeys) {
    TConfigManager Manager;
    TFractalConfiguration &F = *Manager.Fractal;
    for (int Kind = 0; Kind < kMouseKindCount; ++Kind) {
        F.SetMouseLeft(Kind, Kind + 1);
        F.SetMouseRight(Kind, 7 - Kind);
    }
    const struct {
        bool Shift, Ctrl, Alt;
        int Kind;
    } Cases[] = {
        {false, false, false, 0}, {true, false, false, 1}, {false, true, false, 2}, {false, false, true, 3},
        {true, true, false, 4},   {false, true, true, 5},  {true, true, true, 4},   {true, false, true, 1},
    };
    for (const auto &Case : Cases) {
        EXPECT_EQ(F.GetMouseAction(0, Case.Shift, Case.Ctrl, Case.Alt), Case.Kind + 1) << Case.Kind;
        EXPECT_EQ(F.GetMouseAction(1, Case.Shift, Case.Ctrl, Case.Alt), 7 - Case.Kind) << Case.Kind;
        EXPECT_EQ(F.GetMouseAction(2, Case.Shift, Case.Ctrl, Case.Alt), 0);
    }
    // Kinds out of range read nothing and change nothing.
    F.SetMouseLeft(6, 5);
    F.SetMouseLeft(-1, 5);
    EXPECT_EQ(F.GetMouseLeft(6), 0);
    EXPECT_EQ(F.GetMouseLeft(-1), 0);
    EXPECT_EQ(F.GetMouseLeft(5), 6);
}

TEST_F(GenConfig, BrowserKindsShareSlotsAndRefuseOthers) {
    TConfigManager Manager;
    TBrowserConfiguration &B = *Manager.Browser;
    B.SetLastFileName(fkOutsideColoring, "o.ocl");
    EXPECT_EQ(B.GetLastFileName(fkColoring), "o.ocl");
    EXPECT_EQ(B.GetLastFileName(fkInsideColoring), "o.ocl");
    B.SetPreviewFileName(fkInsideColoring, "p.ocl");
    EXPECT_EQ(B.GetPreviewFileName(fkColoring), "p.ocl");
    B.SetPreviewEntry(fkTransform, "T");
    EXPECT_EQ(B.GetPreviewEntry(fkTransform), "T");

    const int Refused[] = {-1, 0, 1, 9, 100};
    for (int Kind : Refused) {
        B.SetLastFileName(Kind, "bad");
        B.SetPreviewEntry(Kind, "bad");
        B.SetPreviewFileName(Kind, "bad");
        EXPECT_EQ(B.GetLastFileName(Kind), "") << Kind;
        EXPECT_EQ(B.GetPreviewEntry(Kind), "") << Kind;
        EXPECT_EQ(B.GetPreviewFileName(Kind), "") << Kind;
    }
    // Preview slots start at kind 4.
    B.SetPreviewEntry(fkParameters, "bad");
    EXPECT_EQ(B.GetPreviewEntry(fkParameters), "");
    EXPECT_EQ(B.GetPreviewEntry(fkTransform), "T");
    for (int Kind = fkParameters; Kind <= fkInsideColoring; ++Kind)
        EXPECT_NE(B.GetLastFileName(Kind), "bad");
}

TEST_F(GenConfig, BrowserColumnsUseTheirOwnValueNames) {
    TConfigManager Manager;
    Manager.Browser->SaveColumns(1, 3, true, 2, {100, 50});
    Manager.Browser->SaveColumns(7, 0, true, 2, {1}); // no such mode: nothing written
    TRegistry Registry;
    OpenSection(Registry, "Browser");
    EXPECT_EQ(Registry.ReadInteger("ColumnOpenParameters0"), 100);
    EXPECT_EQ(Registry.ReadInteger("ColumnOpenParameters1"), 50);
    EXPECT_EQ(Registry.ReadInteger("ColumnOpenParametersSort"), 2);
    EXPECT_EQ(Registry.ReadInteger("ColumnOpenParametersSortDir"), 1);
    TStringList Names;
    Registry.GetValueNames(Names);
    EXPECT_EQ(Names.Count(), 4);

    bool SortDir = false;
    int SortColumn = 0;
    std::vector<int> Widths = {10, 20, 30};
    Manager.Browser->LoadColumns(1, 3, SortDir, SortColumn, Widths);
    EXPECT_TRUE(SortDir);
    EXPECT_EQ(SortColumn, 2);
    EXPECT_EQ(Widths, (std::vector<int>{100, 50, 30}));
}

TEST_F(GenConfig, RenderJobAccessorsIgnoreIndicesOutOfRange) {
    TConfigManager Manager;
    TRenderConfiguration &R = *Manager.Render;
    R.SetJobCount(1);
    R.SetJobId(0, 5);
    R.SetJobId(1, 6);
    R.SetJobId(-1, 6);
    R.SetJobCalculating(3, true);
    EXPECT_EQ(R.GetJobId(0), 5);
    EXPECT_EQ(R.GetJobId(1), 0);
    EXPECT_EQ(R.GetJobId(-1), 0);
    EXPECT_FALSE(R.GetJobCalculating(3));
    R.SetJobCount(-4);
    EXPECT_EQ(R.GetJobCount(), 0);
}

TEST_F(GenConfig, CopyrightAndComments) {
    TConfigManager Manager;
    Manager.General->Owner = "Ann Smith";
    std::uint16_t Year, Month, Day;
    DecodeDate(Date(), Year, Month, Day);
    const std::string Copyright = "Copyright \xA9 " + std::to_string(Year) + " by Ann Smith.";
    EXPECT_EQ(Manager.Fractal->GetCopyright(), Copyright);
    Manager.Fractal->DefaultComments = "$copyright / $COPYRIGHT / $CopyRight";
    EXPECT_EQ(Manager.Fractal->GetDefaultComments(), Copyright + " / " + Copyright + " / " + Copyright);
    EXPECT_EQ(FormatCopyrightText("(c)", ""), "(c) \xA9 " + std::to_string(Year) + " by .");
}

TEST_F(GenConfig, InputDelayTimes) {
    const int Expected[] = {500, 1000, 2000, 3000, 4000, 5000, -1, 500, 500};
    for (int Setting = 0; Setting < 9; ++Setting)
        EXPECT_EQ(GetInputDelayTime(Setting), Expected[Setting]) << Setting;
    EXPECT_EQ(GetInputDelayTime(-1), 500);
}

TEST_F(GenConfig, ChangedNotifiesSubscribers) {
    struct TCounter : TObject {
        int Calls = 0;
        TObject *LastSender = nullptr;
        void Handle(TObject *Sender) {
            ++Calls;
            LastSender = Sender;
        }
    } Counter;
    TConfigManager Manager;
    Manager.AddHandler(MakeNotifyEvent<&TCounter::Handle>(&Counter));
    Manager.Changed();
    EXPECT_EQ(Counter.Calls, 1);
    EXPECT_EQ(Counter.LastSender, &Manager);
}

} // namespace
