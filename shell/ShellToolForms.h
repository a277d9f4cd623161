// The eight tool windows of the main window's dock bar, in dock order. Each is a tool form with
// its caption; their pages are built by their own windows' modules, which take these classes over.
#pragma once

#include <string>

#include "AdvBars.h"
#include "FormLayerTool.h"
#include "FormMessages.h"

#define SHELL_TOOL_FORM(ClassName)                                                                           \
    class ClassName : public TToolForm {                                                                     \
    public:                                                                                                  \
        DECLARE_CLASS_NAME(ClassName)                                                                        \
        explicit ClassName(TToolPanel *APanel);                                                              \
    };
SHELL_TOOL_FORM(TFractalToolForm)
SHELL_TOOL_FORM(TStatisticsToolForm)
SHELL_TOOL_FORM(TRenderToolForm)
#undef SHELL_TOOL_FORM

// One tool window of the dock bar: its class, caption (also the menu items' caption without the
// accelerator), menu caption, shortcut and the name its hint uses.
struct TShellTool {
    TToolFormClass FormClass;
    const char *Caption;
    const char *MenuCaption;
    const char *ShortCutText;
    const char *HintName;
};

// The interface font of the General configuration put into Font (nothing without a
// configuration); the tool windows apply it at their start and after every configuration change.
void ApplyInterfaceFont(TFont &Font);

constexpr int ShellToolCount = 8;
// The tools in dock order (index 0 first).
const TShellTool &ShellTool(int Index);
