#include "FracPreview.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "FracMain.h"
#include "FracMergeEngine.h"
#include "FracReaders.h"
#include "GenSetup.h"
#include "GenUtils.h"
#include "SysUtils.h"

namespace {

constexpr char Magic[] = "OB_PREVCACHE";
constexpr int MagicLength = 12;

std::unique_ptr<TPreviewManager> &GlobalManager() {
    static std::unique_ptr<TPreviewManager> manager;
    return manager;
}

// The preview read flags: the parameter set's aspect ratio fitted into the preview size.
constexpr std::uint32_t PreviewReadFlags = TCustomFractal::rfFitAspect;

} // namespace

// =============================================================================================
// TPreviewManager

TPreviewManager::TPreviewManager(const std::string &AFolder, std::int32_t AWidth, std::int32_t AHeight,
                                 int ACacheSize)
    : FHeight(std::max(AHeight, 1)), FCacheSize(Clamp(ACacheSize, 0, MaxEntries)),
      FFolder(AFolder.empty() ? AFolder : AddTrailingBackslash(AFolder)), FWidth(std::max(AWidth, 1)) {
    OpenCache();
}

std::uint32_t TPreviewManager::EntryChecksum(const std::string &Text) {
    // Parameter texts stay far below 2 GiB.
    return UpdateCrc32(0, Text.data(), static_cast<int>(Text.size()));
}

int TPreviewManager::GetCount() {
    TScopeLock<TCriticalSection> lock(FLock);
    return FCount;
}

int TPreviewManager::GetCacheSize() {
    TScopeLock<TCriticalSection> lock(FLock);
    return FCacheSize;
}

std::int32_t TPreviewManager::GetWidth() {
    TScopeLock<TCriticalSection> lock(FLock);
    return FWidth;
}

std::int32_t TPreviewManager::GetHeight() {
    TScopeLock<TCriticalSection> lock(FLock);
    return FHeight;
}

TPreviewManager::TEntry TPreviewManager::GetEntry(int I) {
    TScopeLock<TCriticalSection> lock(FLock);
    return I >= 0 && I < FCount ? FTable[I] : TEntry{};
}

bool TPreviewManager::TableIsValid(std::int64_t FileSize) const {
    // Every entry must describe an image inside a slot of its own that the file holds whole, so
    // that no later read or write of one entry touches another's pixels.
    std::vector<bool> used(MaxEntries, false);
    for (int i = 0; i < FCount; ++i) {
        const TEntry &entry = FTable[i];
        if (entry.Width < 1 || entry.Height < 1 || entry.Width > std::uint32_t(FWidth) ||
            entry.Height > std::uint32_t(FHeight))
            return false;
        const std::int64_t offset = entry.Offset;
        if (offset < FirstSlot || (offset - FirstSlot) % SlotSize() != 0)
            return false;
        const std::int64_t slot = (offset - FirstSlot) / SlotSize();
        if (slot >= MaxEntries || used[std::size_t(slot)])
            return false;
        used[std::size_t(slot)] = true;
        if (offset + std::int64_t(entry.Width) * entry.Height * 3 > FileSize)
            return false;
    }
    return true;
}

void TPreviewManager::OpenCache() {
    TScopeLock<TCriticalSection> lock(FLock);
    FCount = 0;
    try {
        TFileStream stream(GetFileName(), fmOpenRead | fmShareDenyWrite);
        char magic[MagicLength];
        stream.ReadBuffer(magic, MagicLength);
        const std::int32_t count = stream.ReadInt32();
        const std::int32_t width = stream.ReadInt32();
        const std::int32_t height = stream.ReadInt32();
        if (std::memcmp(magic, Magic, MagicLength) != 0 || width != FWidth || height != FHeight)
            return;
        for (TEntry &entry : FTable) {
            entry.Checksum = stream.ReadUInt32();
            entry.Offset = stream.ReadUInt32();
            entry.Width = stream.ReadUInt32();
            entry.Height = stream.ReadUInt32();
        }
        FCount = Clamp(count, 0, MaxEntries);
        if (!TableIsValid(stream.Size()))
            FCount = 0;
    } catch (const Exception &) {
        FCount = 0;
        return;
    }
    // A cache written with a larger size keeps only what the size allows now.
    if (FCount > FCacheSize) {
        try {
            Compact();
        } catch (const Exception &) {
            FCount = 0;
        }
    }
}

void TPreviewManager::WriteHeader(TStream &Stream) {
    Stream.SetPosition(0);
    Stream.WriteBuffer(Magic, MagicLength);
    Stream.WriteInt32(FCount);
    Stream.WriteInt32(FWidth);
    Stream.WriteInt32(FHeight);
}

void TPreviewManager::WriteTable(TStream &Stream) {
    Stream.SetPosition(HeaderSize);
    std::string table(std::size_t(TableSize), '\0');
    char *p = table.data();
    auto put = [&p](std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            *p++ = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    for (const TEntry &entry : FTable) {
        put(entry.Checksum);
        put(entry.Offset);
        put(entry.Width);
        put(entry.Height);
    }
    Stream.WriteBuffer(table.data(), static_cast<std::int32_t>(table.size()));
}

std::unique_ptr<TPreviewBitmap> TPreviewManager::LoadPreview(const std::string &Text) {
    const std::uint32_t checksum = EntryChecksum(Text);
    TScopeLock<TCriticalSection> lock(FLock);
    for (int i = 0; i < FCount; ++i) {
        if (FTable[i].Checksum != checksum)
            continue;
        try {
            TFileStream stream(GetFileName(), fmOpenReadWrite | fmShareDenyWrite);
            const TEntry entry = FTable[i];
            auto bitmap = std::make_unique<TPreviewBitmap>();
            bitmap->Width = std::int32_t(entry.Width);
            bitmap->Height = std::int32_t(entry.Height);
            std::string rows(std::size_t(entry.Width) * entry.Height * 3, '\0');
            stream.SetPosition(entry.Offset);
            stream.ReadBuffer(rows.data(), static_cast<std::int32_t>(rows.size()));
            bitmap->Pixels.resize(std::size_t(entry.Width) * entry.Height);
            const auto *bytes = reinterpret_cast<const std::uint8_t *>(rows.data());
            for (std::uint32_t &pixel : bitmap->Pixels) {
                pixel = std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
                        std::uint32_t(bytes[2]) << 16 | 0xFF000000u;
                bytes += 3;
            }
            std::move_backward(FTable, FTable + i, FTable + i + 1);
            FTable[0] = entry;
            WriteTable(stream);
            return bitmap;
        } catch (const Exception &) {
            return nullptr;
        }
    }
    return nullptr;
}

void TPreviewManager::SavePreview(const std::string &Text, const TPreviewBitmap &Image) {
    TScopeLock<TCriticalSection> lock(FLock);
    if (FCacheSize == 0)
        return;
    if (Image.Width > FWidth || Image.Height > FHeight || Image.Width < 1 || Image.Height < 1 ||
        Image.Pixels.size() < std::size_t(Image.Width) * Image.Height)
        throw Exception("TPreviewManager.SavePreview: Incompatible fractal size");
    std::uint32_t offset;
    if (FCount >= FCacheSize) {
        FCount = FCacheSize;
        offset = FTable[FCount - 1].Offset;
        std::move_backward(FTable, FTable + FCount - 1, FTable + FCount);
    } else {
        std::move_backward(FTable, FTable + FCount, FTable + FCount + 1);
        offset = static_cast<std::uint32_t>(ImageOffset(FCount));
        ++FCount;
    }
    FTable[0] = TEntry{EntryChecksum(Text), offset, std::uint32_t(Image.Width), std::uint32_t(Image.Height)};
    std::string rows(std::size_t(Image.Width) * Image.Height * 3, '\0');
    char *p = rows.data();
    for (std::size_t i = 0; i < std::size_t(Image.Width) * Image.Height; ++i) {
        const std::uint32_t pixel = Image.Pixels[i];
        *p++ = static_cast<char>(pixel & 0xFF);
        *p++ = static_cast<char>((pixel >> 8) & 0xFF);
        *p++ = static_cast<char>((pixel >> 16) & 0xFF);
    }
    const std::string name = GetFileName();
    std::unique_ptr<TFileStream> stream;
    try {
        stream = std::make_unique<TFileStream>(name, fmOpenReadWrite | fmShareDenyWrite);
    } catch (const EFOpenError &) {
        stream = std::make_unique<TFileStream>(name, fmCreate);
    }
    WriteHeader(*stream);
    WriteTable(*stream);
    stream->SetPosition(offset);
    stream->WriteBuffer(rows.data(), static_cast<std::int32_t>(rows.size()));
}

void TPreviewManager::SavePreview(const std::string &Text, TFractal &Fractal) {
    TPreviewBitmap image;
    image.Width = Fractal.GetWidth();
    image.Height = Fractal.GetHeight();
    if (image.Width > 0 && image.Height > 0) {
        image.Pixels.resize(std::size_t(image.Width) * image.Height);
        for (std::int32_t y = 0; y < image.Height; ++y)
            Fractal.GetUpdateManager().GetMergedRowOver(y, &image.Pixels[std::size_t(y) * image.Width],
                                                        mbCheckerboard);
    }
    SavePreview(Text, image);
}

void TPreviewManager::Clear() {
    TScopeLock<TCriticalSection> lock(FLock);
    FCount = 0;
    DeleteFileA(GetFileName());
}

void TPreviewManager::Compact() {
    FCount = FCacheSize;
    if (FCount == 0) {
        DeleteFileA(GetFileName());
        return;
    }
    TFileStream stream(GetFileName(), fmOpenReadWrite | fmShareDenyWrite);
    // Only an image's own bytes are moved: the file may end right after the last image, short of
    // its slot's end.
    auto imageSize = [](const TEntry &Entry) {
        return static_cast<std::int32_t>(std::int64_t(Entry.Width) * Entry.Height * 3);
    };
    std::string a;
    std::string b;
    for (int i = 0; i < FCount; ++i) {
        const std::uint32_t target = static_cast<std::uint32_t>(ImageOffset(i));
        if (FTable[i].Offset == target)
            continue;
        // The entry that occupies slot i, if a kept one does, takes entry i's old slot.
        int occupant = -1;
        for (int j = i + 1; j < FCount; ++j)
            if (FTable[j].Offset == target)
                occupant = j;
        a.resize(std::size_t(imageSize(FTable[i])));
        stream.SetPosition(FTable[i].Offset);
        stream.ReadBuffer(a.data(), imageSize(FTable[i]));
        if (occupant >= 0) {
            b.resize(std::size_t(imageSize(FTable[occupant])));
            stream.SetPosition(target);
            stream.ReadBuffer(b.data(), imageSize(FTable[occupant]));
            stream.SetPosition(FTable[i].Offset);
            stream.WriteBuffer(b.data(), imageSize(FTable[occupant]));
            FTable[occupant].Offset = FTable[i].Offset;
        }
        stream.SetPosition(target);
        stream.WriteBuffer(a.data(), imageSize(FTable[i]));
        FTable[i].Offset = target;
    }
    for (int i = FCount; i < MaxEntries; ++i)
        FTable[i] = TEntry{};
    WriteHeader(stream);
    WriteTable(stream);
    stream.SetSize(ImageOffset(FCount));
}

void TPreviewManager::OptionsChanged(std::int32_t AWidth, std::int32_t AHeight, int ACacheSize) {
    TScopeLock<TCriticalSection> lock(FLock);
    FCacheSize = Clamp(ACacheSize, 0, MaxEntries);
    AWidth = std::max(AWidth, 1);
    AHeight = std::max(AHeight, 1);
    if (AWidth != FWidth || AHeight != FHeight) {
        FCount = 0;
        DeleteFileA(GetFileName());
        FWidth = AWidth;
        FHeight = AHeight;
    } else if (FCount > FCacheSize) {
        try {
            Compact();
        } catch (const Exception &) {
            // A file that cannot be compacted is dropped rather than left unlike its table.
            FCount = 0;
            DeleteFileA(GetFileName());
        }
    }
}

void TPreviewManager::ConfigurationChanged(TObject *) {
    const TConfigManager *config = ConfigManager();
    if (config && config->Browser)
        OptionsChanged(config->Browser->PreviewWidth, config->Browser->PreviewHeight,
                       config->Browser->PreviewCacheSize);
}

TPreviewManager *PreviewManager() {
    return GlobalManager().get();
}

void InitializeFracPreview() {
    TConfigManager *config = ConfigManager();
    if (!config || !config->Browser || !config->Folder)
        return;
    GlobalManager() =
        std::make_unique<TPreviewManager>(config->Folder->System, config->Browser->PreviewWidth,
                                          config->Browser->PreviewHeight, config->Browser->PreviewCacheSize);
    config->AddHandler(MakeEvent<&TPreviewManager::ConfigurationChanged>(GlobalManager().get()));
}

void FinalizeFracPreview() {
    if (!GlobalManager())
        return;
    if (TConfigManager *config = ConfigManager())
        config->RemoveHandler(MakeEvent<&TPreviewManager::ConfigurationChanged>(GlobalManager().get()));
    GlobalManager().reset();
}

void ClearPreviewCache() {
    if (TPreviewManager *manager = PreviewManager())
        manager->Clear();
}

bool StoreFinishedPreview(TPreviewManager *Manager, const std::string &Text,
                          const TPreviewBitmap &Image) noexcept {
    if (!Manager)
        return false;
    try {
        Manager->SavePreview(Text, Image);
        return true;
    } catch (...) {
        // Skipped: the next time the parameter set is shown it is calculated again.
        return false;
    }
}

bool StoreFinishedPreview(TPreviewManager *Manager, const std::string &Text, TFractal &Fractal) noexcept {
    if (!Manager)
        return false;
    try {
        Manager->SavePreview(Text, Fractal);
        return true;
    } catch (...) {
        return false;
    }
}

// =============================================================================================
// TPreviewThread

TPreviewThread::TPreviewThread(TPreviewTarget &ATarget, TPreviewManager *AManager, std::int32_t AWidth,
                               std::int32_t AHeight)
    : TGeneralThread(true), FTarget(ATarget), FManager(AManager), FWidth(std::max(AWidth, 1)),
      FHeight(std::max(AHeight, 1)), FEvent(std::make_unique<TEvent>(false, false)) {}

std::unique_ptr<TPreviewThread> TPreviewThread::Create(TPreviewTarget &ATarget, TPreviewManager *AManager,
                                                       std::int32_t AWidth, std::int32_t AHeight) {
    auto thread = std::make_unique<TJoinedThread<TPreviewThread>>(ATarget, AManager, AWidth, AHeight);
    thread->SetPriority(tpLower);
    thread->Start();
    return thread;
}

void TPreviewThread::Terminate() {
    TGeneralThread::Terminate();
    {
        TScopeLock<TCriticalSection> lock(FLock);
        FChanged = true;
    }
    FEvent->SetEvent();
}

TPreviewThread::~TPreviewThread() {
    // The joined wrapper has stopped the thread before this runs.
    FFractal.reset();
}

void TPreviewThread::AssignEntry(const std::string &FileName, const std::string &EntryName,
                                 std::uint8_t Kind) {
    if (Kind != pkGradient && Kind != pkTransform && Kind != pkFormula && Kind != pkOutsideColoring &&
        Kind != pkInsideColoring)
        throw Exception("TPreviewThread.Assign(1): Invalid entry type");
    {
        TScopeLock<TCriticalSection> lock(FLock);
        FFileName = FileName;
        FEntryName = EntryName;
        FText.clear();
        FKind = Kind;
        FChanged = true;
    }
    FEvent->SetEvent();
}

void TPreviewThread::AssignText(const std::string &Text, std::uint8_t Kind) {
    if (Kind != pkParameters && Kind != pkGradient)
        throw Exception("TPreviewThread.Assign(2): Invalid entry type");
    {
        TScopeLock<TCriticalSection> lock(FLock);
        FText = Text;
        FKind = Kind;
        FChanged = true;
    }
    FEvent->SetEvent();
}

void TPreviewThread::ClearPreview() {
    {
        TScopeLock<TCriticalSection> lock(FLock);
        FKind = pkNone;
        FChanged = true;
    }
    FEvent->SetEvent();
}

void TPreviewThread::OptionsChanged() {
    {
        TScopeLock<TCriticalSection> lock(FLock);
        FOptionsChanged = true;
        FChanged = true;
    }
    FEvent->SetEvent();
}

std::uint8_t TPreviewThread::GetShownKind() {
    TScopeLock<TCriticalSection> lock(FLock);
    return FShownKind;
}

bool TPreviewThread::GetPreviewPixels(TPreviewBitmap &Bitmap) {
    TScopeLock<TCriticalSection> lock(FLock);
    if (FShownKind != pkNone && FFractal) {
        Bitmap.Width = FFractal->GetWidth();
        Bitmap.Height = FFractal->GetHeight();
        Bitmap.Pixels.assign(std::size_t(Bitmap.Width) * Bitmap.Height, 0);
        for (std::int32_t y = 0; y < Bitmap.Height; ++y)
            FFractal->GetUpdateManager().GetMergedRowOver(y, &Bitmap.Pixels[std::size_t(y) * Bitmap.Width],
                                                          mbCheckerboard);
        return true;
    }
    if (FBitmap) {
        Bitmap = *FBitmap;
        return true;
    }
    return false;
}

bool TPreviewThread::RequestPending() {
    TScopeLock<TCriticalSection> lock(FLock);
    return FChanged || Terminated();
}

namespace {

// Aborts reading as soon as a new request is pending; the abort carries no message, so that
// nobody reports it.
class TPreviewProgress : public TObject {
public:
    explicit TPreviewProgress(std::function<bool()> APending) : FPending(std::move(APending)) {}
    void Changed(TObject *, int) {
        if (FPending())
            throw EAbort("");
    }

private:
    std::function<bool()> FPending;
};

} // namespace

bool TPreviewThread::ShowParameterSet(const std::string &Text) {
    if (FManager) {
        if (auto cached = FManager->LoadPreview(Text)) {
            const std::int32_t width = cached->Width;
            const std::int32_t height = cached->Height;
            {
                TScopeLock<TCriticalSection> lock(FLock);
                FBitmap = std::move(cached);
            }
            FTarget.PreviewSized(width, height);
            FTarget.PreviewRepaint();
            return false;
        }
    }
    FTarget.PreviewSized(FWidth, FHeight);
    FTarget.PreviewRepaint();
    FTarget.PreviewCaption("Loading...");
    auto fractal = std::make_unique<TFractal>();
    try {
        fractal->SetImageSize(FWidth, FHeight);
        auto reader = TCollectionParReader::CreateFromString(Text);
        TPreviewProgress progress([this] { return RequestPending(); });
        fractal->ReadParameters(*reader, PreviewReadFlags, MakeEvent<&TPreviewProgress::Changed>(&progress));
    } catch (const EAbort &) {
        FTarget.PreviewCaption("");
        return false;
    } catch (const std::exception &error) {
        FTarget.PreviewCaption("Contains errors.");
        FTarget.PreviewHint(std::string(error.what()) + ".");
        return false;
    }
    FTarget.PreviewCaption("");
    if (RequestPending())
        return false;
    const std::int32_t width = fractal->GetWidth();
    const std::int32_t height = fractal->GetHeight();
    {
        TScopeLock<TCriticalSection> lock(FLock);
        FFractal = std::move(fractal);
        FShownKind = pkParameters;
    }
    FTarget.PreviewSized(width, height);
    FTarget.PreviewRepaint();
    return true;
}

void TPreviewThread::DoExecute() {
    bool saving = false;
    std::string savingText;
    while (!Terminated()) {
        const std::uint32_t wait = FEvent->WaitFor(saving ? 250 : 0xFFFFFFFFu);
        if (Terminated())
            break;
        {
            TScopeLock<TCriticalSection> lock(FLock);
            FChanged = false;
        }
        if (saving && FFractal && !FFractal->IsCalculating()) {
            saving = false;
            StoreFinishedPreview(FManager, savingText, *FFractal);
            if (wait == TEvent::wrTimeout)
                continue;
        } else if (wait == TEvent::wrTimeout) {
            continue;
        }
        saving = false;
        FTarget.PreviewCaption("");
        std::uint8_t kind;
        std::string text;
        std::unique_ptr<TFractal> dropped;
        {
            TScopeLock<TCriticalSection> lock(FLock);
            FBitmap.reset();
            kind = FKind;
            text = FText;
            FShownKind = pkNone;
            FOptionsChanged = false;
            if (kind == pkNone || kind == pkParameters)
                dropped = std::move(FFractal);
        }
        // Freed outside the lock: stopping its calculation may take a while.
        dropped.reset();
        try {
            if (kind == pkParameters) {
                saving = ShowParameterSet(text);
                savingText = text;
                continue;
            }
        } catch (...) {
            saving = false;
        }
        // The other kinds' previews are built from configured parameter sets, which this
        // version does not have: the control is shown empty.
        FTarget.PreviewRepaint();
    }
}
