// Previews of the browser's entries: the cache of parameter-set previews on disk ("Ob3.prc" in
// the System folder) and the thread that renders a preview in the background.
//
// Cache file (little-endian): the magic "OB_PREVCACHE", the number of valid table entries, the
// preview width W and height H (4 bytes each), a table of 1024 entries of 16 bytes (CRC-32 of the
// parameter text, file offset of the image, image width, image height; most recently used
// first), then the image slots, slot i at 16408 + i * W * H * 3. An image is its rows from the top,
// each width * 3 bytes blue, green, red, merged over the checkerboard.
//
// Threads: the manager serialises every access to its table and its file with its own lock; it is
// used from the preview thread (load, save) and from the interface thread (options, clear). The
// preview thread never touches a window: it tells its target, which posts to its own window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Classes.h"
#include "GenClasses.h"

class TFractal;
class TStream;

// A preview image: Width * Height pixels, rows from the top; Pixels holds 4-byte pixels (blue,
// green, red, alpha) in LoadPreview's results and the merged pixels of a fractal otherwise.
struct TPreviewBitmap {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::vector<std::uint32_t> Pixels;
};

class TPreviewManager : public TObject {
public:
    static constexpr int MaxEntries = 1024;
    static constexpr std::int64_t HeaderSize = 24;
    static constexpr std::int64_t EntrySize = 16;
    static constexpr std::int64_t TableSize = MaxEntries * EntrySize;
    static constexpr std::int64_t FirstSlot = HeaderSize + TableSize; // 16408
    static constexpr const char *CacheFileName = "Ob3.prc";

    struct TEntry {
        std::uint32_t Checksum = 0;
        std::uint32_t Offset = 0;
        std::uint32_t Width = 0;
        std::uint32_t Height = 0;
    };

    // Folder with or without its trailing backslash; the size is clamped to 0..1024 and the
    // preview sides to at least one pixel. Opens the cache.
    TPreviewManager(const std::string &AFolder, std::int32_t AWidth, std::int32_t AHeight, int ACacheSize);
    DECLARE_CLASS_NAME(TPreviewManager)

    // A copy of the cached image of the text (alpha 255), which moves to the front of the table;
    // nothing when it is not cached or cannot be read.
    std::unique_ptr<TPreviewBitmap> LoadPreview(const std::string &Text);
    // Stores the image under the text's checksum, in place of the least recently used one when
    // the cache is full; nothing with a cache size of 0. An image larger than the preview size
    // raises "TPreviewManager.SavePreview: Incompatible fractal size". Pixels are 4-byte, blue
    // green red first; the alpha byte is not stored.
    void SavePreview(const std::string &Text, const TPreviewBitmap &Image);
    // The fractal's layers merged over the checkerboard, stored as above.
    void SavePreview(const std::string &Text, TFractal &Fractal);
    // Count := 0 and the cache file is deleted.
    void Clear();
    // A new preview size clears the cache and takes the size; otherwise a cache size below the
    // count keeps the most recently used entries, moves their images into the first slots and cuts
    // the file after them.
    void OptionsChanged(std::int32_t AWidth, std::int32_t AHeight, int ACacheSize);
    // The same with the Browser configuration's values.
    void ConfigurationChanged(TObject *Sender);

    std::string GetFileName() const { return FFolder + CacheFileName; }
    std::int64_t ImageOffset(int I) const { return FirstSlot + std::int64_t(I) * SlotSize(); }
    static std::uint32_t EntryChecksum(const std::string &Text);

    int GetCount();
    int GetCacheSize();
    std::int32_t GetWidth();
    std::int32_t GetHeight();
    TEntry GetEntry(int I);

private:
    std::int64_t SlotSize() const { return std::int64_t(FWidth) * FHeight * 3; }
    // Reads the header and the table; a table that does not fit the file leaves the cache empty.
    void OpenCache();
    bool TableIsValid(std::int64_t FileSize) const;
    void WriteHeader(TStream &Stream);
    void WriteTable(TStream &Stream);
    // Keeps the first CacheSize entries, their images in slots 0 .. CacheSize - 1, and cuts the file.
    void Compact();

    int FCount = 0;
    std::int32_t FHeight;
    int FCacheSize;
    TEntry FTable[MaxEntries];
    TCriticalSection FLock;
    std::string FFolder;
    std::int32_t FWidth;
};

// The global manager; nullptr outside InitializeFracPreview .. FinalizeFracPreview. Made from
// the Browser and Folder configuration, which must exist then.
TPreviewManager *PreviewManager();
void InitializeFracPreview();
void FinalizeFracPreview();
// The options dialog's command: clears the global cache when there is one.
void ClearPreviewCache();

// What the preview thread shows its results on. Called on the preview thread: implementations
// post to their window and never wait for it.
class TPreviewTarget {
public:
    virtual ~TPreviewTarget() = default;
    virtual void PreviewSized(std::int32_t Width, std::int32_t Height) = 0;
    virtual void PreviewCaption(const std::string &Caption) = 0;
    virtual void PreviewHint(const std::string &Hint) = 0;
    virtual void PreviewRepaint() = 0;
};

// Preview kinds (the browser's entry kinds).
constexpr std::uint8_t pkNone = 0;
constexpr std::uint8_t pkParameters = 2;
constexpr std::uint8_t pkGradient = 3;
constexpr std::uint8_t pkTransform = 4;
constexpr std::uint8_t pkFormula = 5;
constexpr std::uint8_t pkOutsideColoring = 7;
constexpr std::uint8_t pkInsideColoring = 8;

// Stores a finished preview in the cache. A preview that no longer fits the cache (the preview
// size changed while it was calculated) and any failure of the file are skipped: this runs on the
// preview thread, where nothing may be raised. True when it was stored; nothing without a manager.
bool StoreFinishedPreview(TPreviewManager *Manager, const std::string &Text,
                          const TPreviewBitmap &Image) noexcept;
bool StoreFinishedPreview(TPreviewManager *Manager, const std::string &Text, TFractal &Fractal) noexcept;

// Renders the last request in the background at a lower priority; a new request abandons the one
// being read. Parameter-set previews come from the cache when they are there.
class TPreviewThread : public TGeneralThread {
public:
    // Made suspended; Create makes the joined object and starts it at a lower priority.
    TPreviewThread(TPreviewTarget &ATarget, TPreviewManager *AManager, std::int32_t AWidth,
                   std::int32_t AHeight);
    ~TPreviewThread() override;
    DECLARE_CLASS_NAME(TPreviewThread)

    // Manager nil: no cache. The preview is Width x Height.
    static std::unique_ptr<TPreviewThread> Create(TPreviewTarget &ATarget, TPreviewManager *AManager,
                                                  std::int32_t AWidth, std::int32_t AHeight);
    // Also wakes the thread, so that it sees the request to end.
    void Terminate() override;

    // Kind 3, 4, 5, 7 or 8, else "TPreviewThread.Assign(1): Invalid entry type".
    void AssignEntry(const std::string &FileName, const std::string &EntryName, std::uint8_t Kind);
    // Kind 2 or 3, else "TPreviewThread.Assign(2): Invalid entry type".
    void AssignText(const std::string &Text, std::uint8_t Kind);
    void ClearPreview();
    // A copy of what is shown (the held fractal merged over the checkerboard, or the cached
    // image); false when nothing is shown.
    bool GetPreviewPixels(TPreviewBitmap &Bitmap);
    // The last request is rendered again, as after a change of the options.
    void OptionsChanged();
    std::uint8_t GetShownKind();

protected:
    void DoExecute() override;

private:
    // Kind 2: from the cache, or read into a new fractal; true when a fractal is now calculating
    // that should be stored once it is done.
    bool ShowParameterSet(const std::string &Text);
    bool RequestPending();

    std::unique_ptr<TPreviewBitmap> FBitmap;
    std::unique_ptr<TFractal> FFractal;
    TPreviewTarget &FTarget;
    TPreviewManager *FManager;
    std::int32_t FWidth;
    std::int32_t FHeight;
    std::string FEntryName;
    std::string FText;
    std::uint8_t FKind = pkNone;
    std::string FFileName;
    std::uint8_t FShownKind = pkNone;
    bool FChanged = false;
    bool FOptionsChanged = false;
    TCriticalSection FLock;
    std::unique_ptr<TEvent> FEvent;
};
