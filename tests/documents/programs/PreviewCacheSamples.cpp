// Writes preview caches that check_preview_cache.py reads back on its own: "full" after 1025
// distinct previews with room for 1024 (one of them viewed again before the last one came), and
// "shrunk" after the same sequence followed by lowering the cache size to 100.
//
// The texts and pixel formulas are repeated, not shared, in check_preview_cache.py.
//
// Usage: PreviewCacheSamples <folder>. Exit code 0 when both caches were written.
#include <cstdio>
#include <string>

#include "FracPreview.h"
#include "GenUtils.h"
#include "SysUtils.h"

namespace {

constexpr int PreviewWidth = 5;
constexpr int PreviewHeight = 4;

std::string SampleText(int I) {
    return Format("Sample%d {\r\nlayer:\r\n  title=\"Sample %d\"\r\n}\r\n", I, I);
}

// Image I is (1 + I % 5) x (1 + I % 4); pixel (x, y) has blue I, green x + 16 y, red I / 256 + 100.
TPreviewBitmap SampleImage(int I) {
    TPreviewBitmap image;
    image.Width = 1 + I % PreviewWidth;
    image.Height = 1 + I % PreviewHeight;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
            image.Pixels.push_back(std::uint32_t(I & 255) | std::uint32_t(x + 16 * y) << 8 |
                                   std::uint32_t(I / 256 + 100) << 16 | 0x7F000000u);
    return image;
}

bool WriteCache(const std::string &Folder, int ShrinkTo) {
    ForceDirectories(Folder);
    DeleteFileA(AddTrailingBackslash(Folder) + TPreviewManager::CacheFileName);
    TPreviewManager manager(Folder, PreviewWidth, PreviewHeight, 1024);
    for (int i = 0; i < 1024; ++i)
        manager.SavePreview(SampleText(i), SampleImage(i));
    if (!manager.LoadPreview(SampleText(7)))
        return false;
    manager.SavePreview(SampleText(1024), SampleImage(1024));
    if (ShrinkTo > 0)
        manager.OptionsChanged(PreviewWidth, PreviewHeight, ShrinkTo);
    return true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: PreviewCacheSamples <folder>\n");
        return 2;
    }
    InitializeGenUtils();
    const std::string folder = AddTrailingBackslash(argv[1]);
    try {
        if (!WriteCache(folder + "full", 0) || !WriteCache(folder + "shrunk", 100)) {
            std::fprintf(stderr, "a cached preview could not be read back\n");
            return 1;
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
