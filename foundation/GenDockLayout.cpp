// Saving and restoring the dock-bar layout in the registry.
#include "GenDockLayout.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <utility>
#include <vector>

#include "GenRegistry.h"
#include "Registry.h"

namespace {

constexpr int RectBytes = 16;

void PackRect(const TLayoutRect &Rect, uint8_t (&Bytes)[RectBytes]) {
    const int32_t values[4] = {Rect.Left, Rect.Top, Rect.Right, Rect.Bottom};
    for (int i = 0; i < 4; ++i)
        for (int b = 0; b < 4; ++b)
            Bytes[i * 4 + b] = static_cast<uint8_t>(static_cast<uint32_t>(values[i]) >> (8 * b));
}

TLayoutRect UnpackRect(const uint8_t (&Bytes)[RectBytes]) {
    int32_t values[4];
    for (int i = 0; i < 4; ++i) {
        uint32_t value = 0;
        for (int b = 0; b < 4; ++b)
            value |= static_cast<uint32_t>(Bytes[i * 4 + b]) << (8 * b);
        values[i] = static_cast<int32_t>(value);
    }
    return {values[0], values[1], values[2], values[3]};
}

// Stored sizes are trusted no further than the screen: a width or height beyond the whole
// desktop, or below nothing, is brought within it.
int ClampToDesktop(int Value, int Metric) {
    return std::clamp(Value, 0, std::max(1, GetSystemMetrics(Metric)));
}

// A floating rectangle with its corners in order and no larger than the desktop; it is used
// only when it meets a monitor.
bool SaneFloatingRect(TLayoutRect &Rect) {
    if (Rect.Right < Rect.Left)
        std::swap(Rect.Left, Rect.Right);
    if (Rect.Bottom < Rect.Top)
        std::swap(Rect.Top, Rect.Bottom);
    const int width = ClampToDesktop(Rect.Right - Rect.Left, SM_CXVIRTUALSCREEN);
    const int height = ClampToDesktop(Rect.Bottom - Rect.Top, SM_CYVIRTUALSCREEN);
    Rect.Right = Rect.Left + width;
    Rect.Bottom = Rect.Top + height;
    RECT bounds = {Rect.Left, Rect.Top, Rect.Right, Rect.Bottom};
    return width > 0 && height > 0 && MonitorFromRect(&bounds, MONITOR_DEFAULTTONULL) != nullptr;
}

// Closes the registry's current key when a load or save ends, however it ends.
struct TCurrentKeyScope {
    TRegistry &Registry;
    ~TCurrentKeyScope() { Registry.CloseKey(); }
};

} // namespace

bool TRegistryManager::LoadDockBar(TDockBarLayout &DockBar) {
    if (!Connected())
        return false;
    TCurrentKeyScope scope{*FRegistry};
    const std::string toolsKey = SectionKey("Tools\\");
    int scrollPos = 0;
    std::vector<std::pair<std::string, int>> storedIndex; // class name, stored index
    try {
        if (!FRegistry->OpenKeyReadOnly(toolsKey))
            return false;
        DockBar.SetLayoutBarWidth(ClampToDesktop(FRegistry->ReadInteger("Width"), SM_CXVIRTUALSCREEN));
        scrollPos = std::max(0, FRegistry->ReadInteger("ScrollPos"));
    } catch (const std::exception &) {
        return false;
    }
    const int count = DockBar.LayoutToolCount();
    try {
        for (int i = 0; i < count; ++i) {
            const std::string name = DockBar.LayoutToolClass(i);
            FRegistry->CloseKey();
            if (!FRegistry->OpenKeyReadOnly(toolsKey + name))
                return false; // a tool without a stored layout: the bar keeps its default
            storedIndex.emplace_back(name, FRegistry->ReadInteger("Index"));
            DockBar.SetLayoutToolHeight(i,
                                        ClampToDesktop(FRegistry->ReadInteger("Height"), SM_CYVIRTUALSCREEN));
            DockBar.SetLayoutToolOpacity(i, FRegistry->ReadInteger("Opacity"));
            DockBar.SetLayoutToolVisible(i, FRegistry->ReadInteger("Visible") != 0);
            uint8_t bytes[RectBytes] = {};
            if (FRegistry->GetDataSize("FloatingRect") != RectBytes)
                break;
            FRegistry->ReadBinaryData("FloatingRect", bytes, RectBytes);
            TLayoutRect rect = UnpackRect(bytes);
            if (SaneFloatingRect(rect))
                DockBar.SetLayoutFloatingRect(i, rect);
            DockBar.SetLayoutToolDocked(i, FRegistry->ReadInteger("Docked") != 0);
        }
    } catch (const std::exception &) {
        // A missing or unreadable value ends the reading; what was applied stays.
    }
    for (int position = 0; position < count; ++position) {
        auto stored = std::find_if(storedIndex.begin(), storedIndex.end(),
                                   [position](const auto &entry) { return entry.second == position; });
        if (stored == storedIndex.end())
            continue;
        for (int i = 0; i < count; ++i)
            if (DockBar.LayoutToolClass(i) == stored->first) {
                DockBar.SetLayoutToolIndex(i, position);
                break;
            }
    }
    DockBar.SetLayoutScrollPos(scrollPos);
    return true;
}

void TRegistryManager::SaveDockBar(TDockBarLayout &DockBar) {
    if (!Connected())
        return;
    TCurrentKeyScope scope{*FRegistry};
    const std::string toolsKey = SectionKey("Tools\\");
    try {
        if (!FRegistry->OpenKey(toolsKey, true))
            return;
        FRegistry->WriteInteger("Width", DockBar.LayoutBarWidth());
        FRegistry->WriteInteger("ScrollPos", DockBar.LayoutScrollPos());
        for (int i = 0; i < DockBar.LayoutToolCount(); ++i) {
            FRegistry->CloseKey();
            if (!FRegistry->OpenKey(toolsKey + DockBar.LayoutToolClass(i), true))
                return;
            FRegistry->WriteInteger("Index", i);
            FRegistry->WriteInteger("Height", DockBar.LayoutToolHeight(i));
            FRegistry->WriteInteger("Visible", DockBar.LayoutToolVisible(i) ? 1 : 0);
            FRegistry->WriteInteger("Docked", DockBar.LayoutToolDocked(i) ? 1 : 0);
            uint8_t bytes[RectBytes];
            PackRect(DockBar.LayoutFloatingRect(i), bytes);
            FRegistry->WriteBinaryData("FloatingRect", bytes, RectBytes);
            FRegistry->WriteInteger("Opacity", DockBar.LayoutToolOpacity(i));
        }
    } catch (const std::exception &) {
        // Writes never fail to the caller.
    }
}
