#include "NetCache.h"

#include <atomic>
#include <memory>

#include "GenUtils.h"

std::uint32_t TextCrc32(const std::string &Text) {
    // Texts are capped far below 2 GiB before they get here.
    return UpdateCrc32(UpdateCrc32(0, nullptr, 0), Text.data(), int(Text.size()));
}

bool TNetworkServerCache::Add(std::uint32_t Crc, const std::string &Text) {
    if (TextCrc32(Text) != Crc)
        return false;
    TScopeLock<TNetworkServerCache> guard(*this);
    while (int(FEntries.size()) >= MaxEntries ||
           (!FEntries.empty() && FTotalSize + Text.size() > MaxTotalSize)) {
        FTotalSize -= FEntries.back().Text.size();
        FEntries.pop_back();
    }
    FEntries.push_front({Crc, Text});
    FTotalSize += Text.size();
    return true;
}

bool TNetworkServerCache::Find(std::uint32_t Crc, std::uint32_t Length, std::string &Text) {
    TScopeLock<TNetworkServerCache> guard(*this);
    for (auto it = FEntries.begin(); it != FEntries.end(); ++it)
        if (it->Crc == Crc && it->Text.size() == Length) {
            FEntries.splice(FEntries.begin(), FEntries, it);
            Text = FEntries.front().Text;
            return true;
        }
    return false;
}

int TNetworkServerCache::GetCount() {
    TScopeLock<TNetworkServerCache> guard(*this);
    return int(FEntries.size());
}

std::size_t TNetworkServerCache::GetTotalSize() {
    TScopeLock<TNetworkServerCache> guard(*this);
    return FTotalSize;
}

void TNetworkServerCache::Clear() {
    TScopeLock<TNetworkServerCache> guard(*this);
    FEntries.clear();
    FTotalSize = 0;
}

namespace {
std::atomic<TNetworkServerCache *> Cache{nullptr};
}

TNetworkServerCache &NetworkServerCache() {
    // Two connections may ask at the same moment: the loser of the exchange frees its copy.
    TNetworkServerCache *cache = Cache.load();
    if (!cache) {
        auto made = std::make_unique<TNetworkServerCache>();
        if (Cache.compare_exchange_strong(cache, made.get()))
            cache = made.release();
    }
    return *cache;
}

void FinalizeNetCache() {
    delete Cache.exchange(nullptr);
}
