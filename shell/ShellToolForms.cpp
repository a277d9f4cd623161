#include "ShellToolForms.h"

#include <array>

#include "ColorCycling.h"
#include "FormMessages.h"
#include "FormModeTool.h"
#include "FormNetworkTool.h"
#include "GenSetup.h"

namespace {

void SetUpToolForm(TToolForm &Form, const char *Name, const char *Caption) {
    Form.SetName(Name);
    Form.SetCaption(Caption);
    Form.SetClientSize(180, 120);
}

} // namespace

#define SHELL_TOOL_FORM_BODY(ClassName, Caption)                                                             \
    ClassName::ClassName(TToolPanel *APanel) : TToolForm(APanel) {                                           \
        SetUpToolForm(*this, #ClassName, Caption);                                                           \
    }
SHELL_TOOL_FORM_BODY(TFractalToolForm, "Fractal Properties")
SHELL_TOOL_FORM_BODY(TStatisticsToolForm, "Statistics")
SHELL_TOOL_FORM_BODY(TRenderToolForm, "Render to Disk")
#undef SHELL_TOOL_FORM_BODY

const TShellTool &ShellTool(int Index) {
    static const std::array<TShellTool, ShellToolCount> tools = {{
        {ToolFormClass<TLayerToolForm>(), "Layer Properties", "&Layer Properties", "Shift+F2",
         "Layer Properties"},
        {ToolFormClass<TFractalToolForm>(), "Fractal Properties", "&Fractal Properties", "Shift+F3",
         "Fractal Properties"},
        {ToolFormClass<TModeToolForm>(), "Fractal Mode", "Fractal &Mode", "Shift+F4", "Fractal Mode"},
        {ToolFormClass<TStatisticsToolForm>(), "Statistics", "&Statistics", "Shift+F5", "Statistics"},
        {ToolFormClass<TCyclingToolForm>(), "Color Cycling", "C&olor Cycling", "Shift+F6", "Color Cycling"},
        {ToolFormClass<TNetworkToolForm>(), "Network", "&Network", "Shift+F7", "Network"},
        {ToolFormClass<TRenderToolForm>(), "Render to Disk", "&Render to Disk", "Shift+F8", "Render to Disk"},
        {ToolFormClass<TMessagesToolForm>(), "Compiler Messages", "&Compiler Messages", "Shift+F9",
         "Messages"},
    }};
    return tools.at(Index);
}

void ApplyInterfaceFont(TFont &Font) {
    TConfigManager *config = ConfigManager();
    if (!config || !config->General)
        return;
    const TFontSetting &font = config->General->Font;
    if (!font.Name.empty())
        Font.SetName(font.Name);
    Font.SetSize(font.Size);
    Font.SetStyle(static_cast<TFontStyles>(font.Style));
}
