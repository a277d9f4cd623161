#include "ShellImages.h"

#include <windows.h>

#include "SysUtils.h"

std::unique_ptr<TImageList> LoadImageStrip(const char *ResourceName) {
    auto images = std::make_unique<TImageList>(16, 16);
    try {
        TBitmap strip;
        strip.LoadFromResourceName(GetModuleHandleA(nullptr), ResourceName);
        images->AddMasked(strip, clFuchsia);
    } catch (const Exception &) {
        // no pictures
    }
    return images;
}
